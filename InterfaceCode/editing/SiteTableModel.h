// The editor's site list: one row per site of an `EditCrystalRec`, one
// column per property, in the record's display order.
#pragma once

#include "EditCrystalRecord.h"
#include "Utilities.h"

#include <QAbstractTableModel>

// Column property codes.
inline constexpr uint32_t kSiteColumnLabel = FourCharsToLong("labl");
inline constexpr uint32_t kSiteColumnOccupancy = FourCharsToLong("occu");
inline constexpr uint32_t kSiteColumnX = FourCharsToLong("xval");
inline constexpr uint32_t kSiteColumnY = FourCharsToLong("yval");
inline constexpr uint32_t kSiteColumnZ = FourCharsToLong("zval");
inline constexpr uint32_t kSiteColumnCartX = FourCharsToLong("xor ");
inline constexpr uint32_t kSiteColumnCartY = FourCharsToLong("yor ");
inline constexpr uint32_t kSiteColumnCartZ = FourCharsToLong("zor ");
inline constexpr uint32_t kSiteColumnType = FourCharsToLong("Utyp");
inline constexpr uint32_t kSiteColumnUiso = FourCharsToLong("Uiso");
// U1 .. U6: U11, U22, U33, U23, U13, U12.
inline constexpr uint32_t kSiteColumnU[6] = {FourCharsToLong("U1  "), FourCharsToLong("U2  "), FourCharsToLong("U3  "),
                                             FourCharsToLong("U4  "), FourCharsToLong("U5  "), FourCharsToLong("U6  ")};

// The displacement-type popup's commands for types 0 to 3.
inline constexpr uint32_t kDisplacementTypeCommands[4] = {FourCharsToLong("Unon"), FourCharsToLong("Uiso"),
                                                          FourCharsToLong("Uij "), FourCharsToLong("Bij ")};
const char *DisplacementTypeTitle(int type);

// True when label a sorts before label b: trailing numbers compare as
// numbers ("O2" before "O10").
bool MyBooleanCompareSiteLabels(std::string_view a, std::string_view b);

class SiteTableModel : public QAbstractTableModel {
public:
  SiteTableModel(EditCrystalRec *record, QObject *parent);

  static int ColumnCountFor(bool molecule);
  static uint32_t ColumnCode(bool molecule, int column);
  int ColumnOf(uint32_t code) const;

  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex &index) const override;
  bool setData(const QModelIndex &index, const QVariant &value, int role) override;
  void sort(int column, Qt::SortOrder order) override;

  // The text a cell shows, and storing typed text in a cell (the rules of
  // each column; a refused text leaves the cell as it was).
  std::string CellText(int row, uint32_t code) const;
  bool StoreCellText(int row, uint32_t code, const std::string &text);

  void AppendSite(const EditSiteRec &site);
  // Removes the rows whose sites are selected (and the types they alone used).
  void RemoveSelected();
  void RowChanged(int row);
  void ColumnChanged(int column);

private:
  EditCrystalRec *record_;
};
