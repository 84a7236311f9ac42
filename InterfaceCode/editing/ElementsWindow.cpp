#include "ElementsWindow.h"

#include "EditorLists.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/WindowPlacement.h"
#include "structurewindow/MainWindow.h"
#include "ui_EditElements.h"

#include "Alerts.h"
#include "RenderServices.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QCloseEvent>
#include <QColor>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>

#include <algorithm>

EditElementsRec *gEditElementsData = nullptr;

namespace {

ElementsWindow *gEditElementsWindow = nullptr;
std::vector<std::filesystem::path> gElementFiles; // the presets of the popup, from its third item
constexpr int kFirstPresetItem = 2;

QColor ToQColor(const RGBColor &c) { return QColor::fromRgba64(c.red, c.green, c.blue); }

// Orders colours by hue, then saturation, then lightness.
bool ColourBefore(const RGBColor &a, const RGBColor &b) {
  const QColor qa = ToQColor(a), qb = ToQColor(b);
  const auto ka = std::make_tuple(qa.hslHueF(), qa.hslSaturationF(), qa.lightnessF());
  const auto kb = std::make_tuple(qb.hslHueF(), qb.hslSaturationF(), qb.lightnessF());
  return ka < kb;
}

// Draws the colour column as a swatch button inset by 3 pixels.
class ElementDelegate : public QStyledItemDelegate {
public:
  ElementDelegate(QTableView *view) : QStyledItemDelegate(view), view_(view) {}
  void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    if (index.column() != kColElementColour)
      return;
    const QRect swatch = option.rect.adjusted(3, 3, -3, -3);
    painter->save();
    painter->setPen(QColor(96, 96, 96));
    painter->setBrush(index.data(Qt::UserRole).value<QColor>());
    painter->drawRoundedRect(swatch, 3, 3);
    painter->restore();
  }
  QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
    view_->setSortingEnabled(false); // an edit keeps the rows where they stand
    QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
    MarkEditorCell(editor, index);
    return editor;
  }

protected:
  bool eventFilter(QObject *object, QEvent *event) override {
    // Tab moves between the symbol and radius cells of the same row.
    return TabBetweenCells(this, view_, object, event, kColElementSymbol, kColElementRadius) ||
           QStyledItemDelegate::eventFilter(object, event);
  }

private:
  QTableView *view_;
};

} // namespace

// ---- The list's model -------------------------------------------------------------

ElementTableModel::ElementTableModel(EditElementsRec *table, QObject *parent)
    : QAbstractTableModel(parent), table_(table) {}

int ElementTableModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : static_cast<int>(table_->entries.size());
}

int ElementTableModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : kElementColumnCount;
}

QVariant ElementTableModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= rowCount())
    return {};
  const EditElementEntry &e = table_->entries[static_cast<size_t>(index.row())];
  if (role == Qt::UserRole && index.column() == kColElementColour)
    return ToQColor(e.colour);
  if (role != Qt::DisplayRole && role != Qt::EditRole)
    return {};
  switch (index.column()) {
  case kColElementNumber:
    return QString::number(e.number);
  case kColElementSymbol:
    return role == Qt::EditRole ? ElementSymbolText(e.element).trimmed() : ElementSymbolText(e.element);
  case kColElementRadius:
    return QString::asprintf("%.2f", static_cast<double>(e.radius));
  default:
    return {};
  }
}

QVariant ElementTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return {};
  static const char *const titles[kElementColumnCount] = {"#", "Element", "Radius (Å)", "Colour"};
  return section >= 0 && section < kElementColumnCount ? QString::fromUtf8(titles[section]) : QVariant();
}

Qt::ItemFlags ElementTableModel::flags(const QModelIndex &index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.column() == kColElementSymbol || index.column() == kColElementRadius)
    f |= Qt::ItemIsEditable;
  return f;
}

bool ElementTableModel::setData(const QModelIndex &index, const QVariant &value, int role) {
  if (role != Qt::EditRole || !index.isValid() || index.row() >= rowCount())
    return false;
  EditElementEntry &e = table_->entries[static_cast<size_t>(index.row())];
  const std::string text = value.toString().toStdString();
  bool changed = false;
  if (index.column() == kColElementSymbol) {
    changed = SetElementSymbolFromText(e, text);
    if (changed)
      SetElementTableChanged();
  } else if (index.column() == kColElementRadius) {
    changed = SetElementRadiusFromText(e, text);
    SetElementTableChanged(); // also when nothing was read
  }
  RowChanged(index.row());
  return changed;
}

void ElementTableModel::sort(int column, Qt::SortOrder order) {
  auto before = [column](const EditElementEntry &a, const EditElementEntry &b) {
    switch (column) {
    case kColElementSymbol:
      return static_cast<int16_t>(a.element) < static_cast<int16_t>(b.element);
    case kColElementRadius:
      return a.radius < b.radius;
    case kColElementColour:
      return ColourBefore(a.colour, b.colour);
    default:
      return a.number < b.number;
    }
  };
  emit layoutAboutToBeChanged();
  std::stable_sort(table_->entries.begin(), table_->entries.end(),
                   [&](const EditElementEntry &a, const EditElementEntry &b) {
                     return order == Qt::AscendingOrder ? before(a, b) : before(b, a);
                   });
  emit layoutChanged();
}

// ---- The window ------------------------------------------------------------------------

ElementsWindow::ElementsWindow() : QWidget(nullptr, Qt::Tool), ui_(std::make_unique<Ui::EditElements>()) {
  ui_->setupUi(this);
  list_ = ui_->elementList;
  model_ = new ElementTableModel(gEditElementsData, this);
  list_->setModel(model_);
  list_->setItemDelegate(new ElementDelegate(list_));
  list_->verticalHeader()->hide();
  list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list_->verticalHeader()->setDefaultSectionSize(kElementRowHeight);
  list_->horizontalHeader()->setStretchLastSection(true);
  list_->setColumnWidth(kColElementNumber, 44);
  list_->setColumnWidth(kColElementSymbol, 76);
  list_->setColumnWidth(kColElementRadius, 96);
  list_->horizontalHeader()->setSortIndicator(kColElementNumber, Qt::AscendingOrder);
  list_->setSortingEnabled(true);
  list_->setMinimumHeight(kMinElementListHeight);
  list_->installEventFilter(this);
  ui_->divider->setCollapsible(0, false);
  ui_->divider->setCollapsible(1, false);
  ui_->divider->setStretchFactor(0, 3); // the list takes the most of the height
  ui_->divider->setStretchFactor(1, 1);
  QFont notesFont = ui_->notesField->font();
  notesFont.setPointSize(9);
  ui_->notesField->setFont(notesFont);
  ui_->notesField->document()->setDocumentMargin(4);
  ui_->notesField->setPlainText(QString::fromStdString(gEditElementsData->notes));
  connect(ui_->notesField, &QPlainTextEdit::textChanged, this,
          [this] { gEditElementsData->notes = ui_->notesField->toPlainText().toStdString(); });
  connect(list_, &QTableView::clicked, this, [this](const QModelIndex &index) {
    if (index.column() == kColElementColour)
      ChooseEntryColour(index.row());
  });
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { UpdateEditElementsStatus(); });
  auto send = [this](uint32_t command) { return [this, command] { HandleCommand(command); }; };
  connect(ui_->addButton, &QToolButton::clicked, this, send(kCmdAddElement));
  connect(ui_->removeButton, &QToolButton::clicked, this, send(kCmdRemoveElement));
  connect(ui_->applyButton, &QPushButton::clicked, this, send(kCmdApplyElements));
  connect(ui_->exportButton, &QPushButton::clicked, this, send(kCmdExportElements));
  connect(ui_->importButton, &QPushButton::clicked, this, send(kCmdImportElements));
  connect(ui_->saveButton, &QPushButton::clicked, this, send(kCmdSaveElementsDefault));
  connect(ui_->helpButton, &QPushButton::clicked, this, send(kCmdElementsHelp));
  connect(ui_->presetPopup, &QComboBox::activated, this, send(kCmdElementPreset));

  // The saved place: the form's width with the saved left, top and bottom.
  const Rect &saved = gPrefs.elementsWindowBounds;
  if (saved.bottom > saved.top && saved.right > saved.left) {
    setGeometry(saved.left, saved.top, width(), saved.bottom - saved.top);
    MoveWindowOnscreen(this);
  }
  if (model_->rowCount() > 0)
    list_->scrollToTop();
  UpdateEditElementsStatus();
}

ElementsWindow::~ElementsWindow() {
  if (gEditElementsWindow == this)
    gEditElementsWindow = nullptr;
}

QComboBox *ElementsWindow::PresetPopup() const { return ui_->presetPopup; }

void ElementsWindow::RefillList() {
  model_->Refill();
  UpdateEditElementsStatus();
}

void ElementsWindow::UpdateEditElementsStatus() {
  const int selected = static_cast<int>(list_->selectionModel()->selectedRows().size());
  ui_->status->setText(QString::asprintf("%d of %d selected", selected, model_->rowCount()));
  ui_->removeButton->setEnabled(selected > 0);
}

void ElementsWindow::ChooseEntryColour(int row) {
  if (row < 0 || row >= model_->rowCount())
    return;
  EditElementEntry &entry = gEditElementsData->entries[static_cast<size_t>(row)];
  RGBColor colour = entry.colour;
  HostServices *host = GetHostServices();
  if (!host || !host->ChooseColour("Element colour:", &colour))
    return;
  entry.colour = colour;
  model_->RowChanged(row);
  SetElementTableChanged();
}

OSStatus ElementsWindow::HandleCommand(uint32_t command) {
  const CommandRun running("Elements " + CommandName(command));
  EditElementsRec &table = *gEditElementsData;
  switch (command) {
  case kCmdElementsHelp:
    MyOpenHelpPage("pages/ElementEditor.html");
    return kNoErr;
  case kCmdAddElement: {
    const int row = model_->rowCount();
    if (AddElementEntry(table)) {
      RefillList();
      list_->scrollTo(model_->index(row, 0));
      list_->selectRow(row);
      SetElementTableChanged();
    }
    return kNoErr;
  }
  case kCmdRemoveElement: {
    std::vector<int> rows;
    for (const QModelIndex &index : list_->selectionModel()->selectedRows())
      rows.push_back(index.row());
    RemoveElementEntries(table, rows);
    RefillList();
    SetElementTableChanged();
    return kNoErr;
  }
  case kCmdApplyElements:
    DoApplyElementSettings();
    return kNoErr;
  case kCmdExportElements:
    DoExportElementFile();
    return kNoErr;
  case kCmdImportElements: {
    HostServices *host = GetHostServices();
    std::filesystem::path file;
    if (!host || host->OpenFileDialog("Select an elements text file", &file) != 0)
      return kNoErr;
    if (DoImportElementFile(file, table)) {
      ui_->notesField->setPlainText(QString::fromStdString(table.notes));
      RefillList();
    }
    SetElementTableChanged();
    return kNoErr;
  }
  case kCmdElementPreset:
    ImportPreset(ui_->presetPopup->currentIndex());
    return kNoErr;
  case kCmdSaveElementsDefault:
    table.notes = ui_->notesField->toPlainText().toStdString();
    SaveElementTableAsDefault(table, gPrefs);
    return kNoErr;
  default:
    return kEventNotHandledErr;
  }
}

void ElementsWindow::ImportPreset(int item) {
  int index = 0;
  if (item < kFirstPresetItem || !GetElementFileIndex(ui_->presetPopup->itemText(item).toStdString(), &index))
    return;
  if (DoImportElementFile(gElementFiles[static_cast<size_t>(index)], *gEditElementsData)) {
    const QSignalBlocker block(ui_->notesField);
    ui_->notesField->setPlainText(QString::fromStdString(gEditElementsData->notes));
    RefillList();
  }
}

void ElementsWindow::closeEvent(QCloseEvent *event) {
  SaveBounds();
  hide(); // the window lives on, only hidden
  event->ignore();
}

void ElementsWindow::moveEvent(QMoveEvent *event) {
  QWidget::moveEvent(event);
  if (isVisible())
    SaveBounds();
}

void ElementsWindow::resizeEvent(QResizeEvent *event) {
  QWidget::resizeEvent(event);
  if (isVisible())
    SaveBounds();
}

void ElementsWindow::SaveBounds() {
  const QRect g = geometry();
  Rect &r = gPrefs.elementsWindowBounds;
  r.left = static_cast<int16_t>(g.left());
  r.top = static_cast<int16_t>(g.top());
  r.right = static_cast<int16_t>(g.left() + g.width());
  r.bottom = static_cast<int16_t>(g.top() + g.height());
}

bool ElementsWindow::eventFilter(QObject *object, QEvent *event) {
  if (object == list_ && event->type() == QEvent::KeyPress) { // an open editor takes the keys itself
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
      HandleCommand(kCmdRemoveElement);
      return true;
    }
  }
  return QWidget::eventFilter(object, event);
}

// ---- Program-wide operations -------------------------------------------------------

ElementsWindow *GetEditElementsWindow() { return gEditElementsWindow; }

bool InitEditElementsWindow() {
  if (gEditElementsWindow)
    return true;
  if (!gEditElementsData)
    gEditElementsData = new EditElementsRec; // lives as long as the program
  FillElementTableFromPrefs(gPrefs, *gEditElementsData);
  gEditElementsWindow = new ElementsWindow;
  if (!BuildElementFilesMenu()) {
    MyCFStopAlert("Error creating Edit Elements window", "Unable to build element files menu");
    delete gEditElementsWindow;
    gEditElementsWindow = nullptr;
    return false;
  }
  return true;
}

void DoShowEditElementsWindow() {
  if (!InitEditElementsWindow())
    return;
  gEditElementsWindow->show();
  gEditElementsWindow->raise();
  gEditElementsWindow->activateWindow();
}

std::filesystem::path ElementTablesFolder() { return BundledResourceFolder("Element Tables"); }

std::vector<std::filesystem::path> ElementTableFiles() {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator(ElementTablesFolder(), ec))
    if (entry.is_regular_file(ec) && entry.path().extension() == ".txt")
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  if (files.size() > static_cast<size_t>(kMaxElementPresets))
    files.resize(kMaxElementPresets);
  return files;
}

bool BuildElementFilesMenu() {
  if (!gEditElementsWindow)
    return false;
  QComboBox *popup = gEditElementsWindow->PresetPopup();
  std::error_code ec;
  if (!popup || !std::filesystem::is_directory(ElementTablesFolder(), ec))
    return false;
  gElementFiles = ElementTableFiles();
  popup->clear();
  popup->addItem("Custom"); // a table that equals no preset
  popup->insertSeparator(1);
  for (const std::filesystem::path &file : gElementFiles)
    popup->addItem(QString::fromStdString(file.stem().string()));
  return true;
}

bool GetElementFileIndex(const std::string &name, int *index) {
  for (size_t i = 0; i < gElementFiles.size(); ++i)
    if (gElementFiles[i].stem().string() == name) {
      if (index)
        *index = static_cast<int>(i);
      return true;
    }
  return false;
}

void SetElementTableChanged() {
  if (gEditElementsWindow)
    gEditElementsWindow->PresetPopup()->setCurrentIndex(0);
}

void DoApplyPresetElementTable(const std::string &name) {
  if (!InitEditElementsWindow())
    return;
  int index = 0;
  if (!GetElementFileIndex(name, &index))
    return;
  if (!DoImportElementFile(gElementFiles[static_cast<size_t>(index)], *gEditElementsData))
    return;
  gEditElementsWindow->RefillList();
  QComboBox *popup = gEditElementsWindow->PresetPopup();
  {
    QPlainTextEdit *notes = gEditElementsWindow->findChild<QPlainTextEdit *>("notesField");
    if (notes)
      notes->setPlainText(QString::fromStdString(gEditElementsData->notes));
  }
  popup->setCurrentIndex(popup->findText(QString::fromStdString(name)));
  DoApplyElementSettings();
}

void DoApplyElementSettings() {
  WindowRef front = FrontGraphWindow();
  if (!front || !IsWindowFileOpen(front) || !gEditElementsData)
    return;
  CrystalRec *crystal = GetWindowCrystal(front);
  if (!crystal)
    return;
  bool changed = false;
  const size_t count = UsableSphereSize(*crystal);
  for (size_t i = 0; i < count; ++i) {
    SphereRecord &sphere = crystal->spheres[i];
    for (const EditElementEntry &entry : gEditElementsData->entries)
      if (entry.element == sphere.element) {
        sphere.radius = entry.radius;
        sphere.colour = entry.colour;
        changed = true;
        break;
      }
  }
  if (changed)
    NewPlot(front, false, true);
}

void DoExportElementFile() {
  if (!gEditElementsData)
    return;
  HostServices *host = GetHostServices();
  std::filesystem::path file;
  if (!host || host->SaveFileDialog("Save Element Table data file", kElementTableFileName, &file) != 0)
    return;
  std::string reason;
  if (!WriteElementTableFile(file, *gEditElementsData, host->ProgramVersion(), &reason))
    MyCFStopAlert(kSaveElementDataError, "Unable to write \"" + file.filename().string() + "\": " + reason);
}

void RefillElementTablesMenu(QMenu *menu) {
  menu->clear();
  for (const std::filesystem::path &file : ElementTableFiles()) {
    const QString name = QString::fromStdString(file.stem().string());
    menu->addAction(MakeCommandItem(kCmdApplyPresetElementTable, name, name, menu));
  }
}
