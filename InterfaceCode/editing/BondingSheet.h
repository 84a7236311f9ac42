// The Edit Bonding sheet: the bond specifications of the front structure
// window in a list, with each one's neighbour counts, edited on a working
// record and written back to the structure only when the sheet closes with OK.
#pragma once

#include "BondEditing.h"
#include "HostServices.h"
#include "shell/Commands.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QStyledItemDelegate>
#include <QTimer>

#include <memory>

class QTableView;
class QLabel;
class QToolButton;
namespace Ui {
class EditBonding;
}

// Commands of the sheet.
inline constexpr uint32_t kCmdBondExplorer = FourCharsToLong("Expl");
inline constexpr uint32_t kCmdBondHelp = FourCharsToLong("Help");
inline constexpr uint32_t kCmdAddBond = FourCharsToLong("addB");
inline constexpr uint32_t kCmdRemoveBond = FourCharsToLong("rmvB");
inline constexpr uint32_t kCmdBondSheetOK = FourCharsToLong("ok  ");
inline constexpr uint32_t kCmdBondSheetCancel = FourCharsToLong("not!");
inline constexpr uint32_t kCmdBondSheetQuit = FourCharsToLong("quit");

// Columns of the specification list.
enum BondColumn { kColNumber, kColFromAtom, kColToAtom, kColMin, kColMax, kColInfo, kBondColumnCount };
inline constexpr int kBondRowHeight = 36;
inline constexpr int kBondListPointSize = 12;
inline constexpr const char kBondListFont[] = "DejaVu Sans Mono";

class BondSpecModel : public QAbstractTableModel {
public:
  explicit BondSpecModel(EditBondingRec *record, QObject *parent = nullptr);
  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex &index) const override;
  bool setData(const QModelIndex &index, const QVariant &value, int role) override;
  void sort(int column, Qt::SortOrder order) override;

  EditBondingRec *Record() const { return record_; }
  using QAbstractTableModel::beginInsertRows;
  using QAbstractTableModel::beginResetModel;
  using QAbstractTableModel::endInsertRows;
  using QAbstractTableModel::endResetModel;
  void RowChanged(int row);
  // Called after a node's elements or lengths changed.
  std::function<void(int row)> nodeChanged;

private:
  EditBondingRec *record_;
};

// Draws the two element popups' and the counts' cells and edits the cells.
class BondSpecDelegate : public QStyledItemDelegate {
public:
  BondSpecDelegate(QTableView *view, BondSpecModel *model);
  void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
  QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
  void setEditorData(QWidget *editor, const QModelIndex &index) const override;
  void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;

protected:
  bool eventFilter(QObject *object, QEvent *event) override;

private:
  QTableView *view_;
  BondSpecModel *model_;
};

// The small arrow between an element and its neighbour counts.
void DrawCoordinationArrow(QPainter *painter, bool selected, int x, int y);
// The text after the arrow: "[%d] %s" or "[%d-%d] %s".
QString BondCountText(int32_t minCount, int32_t maxCount, ElementCode neighbour);

class BondingSheet : public QDialog {
public:
  BondingSheet(WindowRef window, std::unique_ptr<EditBondingRec> record, QWidget *parent);
  ~BondingSheet() override;
  OSStatus HandleCommand(uint32_t command);
  void UpdateEditBondingStatus();
  EditBondingRec *Record() const { return record_.get(); }
  QTableView *List() const { return list_; }
  BondSpecModel *Model() const { return model_; }
  // Counts the next waiting specification; true while more wait.
  bool CountNextDiagnostics();

protected:
  bool eventFilter(QObject *object, QEvent *event) override;
  void reject() override;

private:
  void Close(bool apply);
  void QueueDiagnostics(int row);
  std::unique_ptr<Ui::EditBonding> ui_;
  WindowRef window_;
  std::unique_ptr<EditBondingRec> record_;
  // The specifications as the sheet opened: OK with the same list writes
  // nothing and rebuilds no bond.
  std::vector<EditBondSpecNode> opened_;
  QTableView *list_ = nullptr;
  BondSpecModel *model_ = nullptr;
  QTimer diagnosticsTimer_;
  int handlerId_ = 0;
  bool closing_ = false;
};

// Builds the working record from the front structure window and opens the
// sheet on it; nothing happens without a structure or atom types.
void DoShowEditBondingSheet();
bool ShowEditBondingSheet(WindowRef window, std::unique_ptr<EditBondingRec> record);
// The open sheet, null when none.
BondingSheet *CurrentBondingSheet();
