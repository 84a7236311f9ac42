// The Edit Elements window: a floating editor of a working copy of the
// preferences' element table. It applies the table to the front structure,
// saves it as the default, and exchanges it with element-table files,
// including the preset tables that ship in the folder "Element Tables".
#pragma once

#include "HostServices.h"
#include "documents/ElementTableFile.h"
#include "shell/Commands.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QWidget>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QMenu;
class QTableView;
namespace Ui {
class EditElements;
}

// Commands of the window.
inline constexpr uint32_t kCmdElementsHelp = FourCharsToLong("Help");
inline constexpr uint32_t kCmdAddElement = FourCharsToLong("addE");
inline constexpr uint32_t kCmdRemoveElement = FourCharsToLong("rmvE");
inline constexpr uint32_t kCmdApplyElements = FourCharsToLong("apyE");
inline constexpr uint32_t kCmdExportElements = FourCharsToLong("expE");
inline constexpr uint32_t kCmdImportElements = FourCharsToLong("impE");
inline constexpr uint32_t kCmdElementPreset = FourCharsToLong("mElt");
inline constexpr uint32_t kCmdSaveElementsDefault = FourCharsToLong("savE");

enum ElementColumn { kColElementNumber, kColElementSymbol, kColElementRadius, kColElementColour, kElementColumnCount };
inline constexpr int kElementRowHeight = 20;
inline constexpr int kMinElementListHeight = 80;
inline constexpr int kMaxElementPresets = 32;

class ElementTableModel : public QAbstractTableModel {
public:
  explicit ElementTableModel(EditElementsRec *table, QObject *parent = nullptr);
  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex &index) const override;
  bool setData(const QModelIndex &index, const QVariant &value, int role) override;
  void sort(int column, Qt::SortOrder order) override;
  void Refill() { beginResetModel(), endResetModel(); }
  void RowChanged(int row) { emit dataChanged(index(row, 0), index(row, kElementColumnCount - 1)); }

private:
  EditElementsRec *table_;
};

class ElementsWindow : public QWidget {
public:
  ElementsWindow();
  ~ElementsWindow() override;
  OSStatus HandleCommand(uint32_t command);
  void UpdateEditElementsStatus();
  // The list shows the table again (after an import or a change).
  void RefillList();
  // The colour cell of the row was clicked: asks for a new colour.
  void ChooseEntryColour(int row);
  QTableView *List() const { return list_; }
  QComboBox *PresetPopup() const;
  ElementTableModel *Model() const { return model_; }

protected:
  void closeEvent(QCloseEvent *event) override;
  void moveEvent(QMoveEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  bool eventFilter(QObject *object, QEvent *event) override;

private:
  void SaveBounds();
  void ImportPreset(int item);
  std::unique_ptr<Ui::EditElements> ui_;
  QTableView *list_ = nullptr;
  ElementTableModel *model_ = nullptr;
};

extern EditElementsRec *gEditElementsData;
// Null until first shown; hidden, not destroyed, when closed.
ElementsWindow *GetEditElementsWindow();

void DoShowEditElementsWindow();
bool InitEditElementsWindow();
void DoApplyPresetElementTable(const std::string &name);
void DoApplyElementSettings();
void SetElementTableChanged();
bool BuildElementFilesMenu();
// The index (in the preset list) of the preset with the name.
bool GetElementFileIndex(const std::string &name, int *index);
void DoExportElementFile();

// The folder of the preset tables and its files (at most 32, by name).
std::filesystem::path ElementTablesFolder();
std::vector<std::filesystem::path> ElementTableFiles();
// Fills a menu with one item per preset table.
void RefillElementTablesMenu(QMenu *menu);
