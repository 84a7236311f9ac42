#include "EditCrystalSheet.h"

#include "editing/SiteTableModel.h"
#include "shell/Commands.h"
#include "shell/Forms.h"
#include "shell/UneditedFields.h"
#include "shell/WindowPlacement.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "ui_EditCrystal.h"
#include "ui_EditMolecule.h"

#include "Alerts.h"
#include "Preferences.h"
#include "SpaceGroups.h"
#include "StructureArrays.h"
#include "Utilities.h"
#include "render/OffScreen.h"
#include "window/MainWindowData.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <vector>

EditorHooks gEditorHooks;
int gSaveLastADPType = 0;

namespace {

constexpr uint32_t kCmdAddSite = FourCharsToLong("addS");
constexpr uint32_t kCmdRemoveSites = FourCharsToLong("rmvS");
constexpr uint32_t kCmdRelabel = FourCharsToLong("Lbls");
constexpr uint32_t kCmdToggleWidth = FourCharsToLong("MaxW");
constexpr uint32_t kCmdBrowseGroups = FourCharsToLong("brwS");
constexpr uint32_t kCmdEditorHelp = FourCharsToLong("hlEc");
constexpr uint32_t kCmdSymmetryOptions = FourCharsToLong("sOps");
constexpr uint32_t kCmdOK = FourCharsToLong("ok  ");
constexpr uint32_t kCmdCancelSheet = FourCharsToLong("not!");
constexpr uint32_t kCmdQuitProgram = FourCharsToLong("quit");

constexpr int kSymbolFieldID = 1;
constexpr int kOriginTextID = 2;
constexpr int kSymmetryCaptionID = 3;
constexpr int kWarningIconID = 4;
constexpr int kRemoveButtonID = 20;
constexpr int kSiteListID = 21;
constexpr int kNeedsSitesID = 25;
constexpr int kStatusCaptionID = 28;
constexpr int kBrowseButtonID = 43;
constexpr int kSymbolLength = 20;

std::vector<EditCrystalSheet *> &OpenSheets() {
  static std::vector<EditCrystalSheet *> sheets;
  return sheets;
}

std::string LeftJustified(const QString &text, size_t limit) {
  std::string s = text.toStdString();
  LeftJustifyCString(s);
  if (s.size() > limit)
    s.resize(limit);
  return s;
}

// The displacement-type popup of the list.
class DisplacementTypeDelegate : public QStyledItemDelegate {
public:
  DisplacementTypeDelegate(EditCrystalSheet *sheet) : QStyledItemDelegate(sheet), sheet_(sheet) {}

  QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
    if (SiteTableModel::ColumnCode(sheet_->Record()->isMolecule, index.column()) != kSiteColumnType)
      return QStyledItemDelegate::createEditor(parent, option, index);
    auto *box = new QComboBox(parent);
    for (int t = 0; t < 4; t++)
      box->addItem(QString::fromUtf8(DisplacementTypeTitle(t)));
    return box;
  }
  void setEditorData(QWidget *editor, const QModelIndex &index) const override {
    if (auto *box = qobject_cast<QComboBox *>(editor)) {
      box->setCurrentIndex(index.data(Qt::EditRole).toInt());
      return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
  }
  void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override {
    if (auto *box = qobject_cast<QComboBox *>(editor)) {
      // The popup's item runs its command, which remembers the type; the
      // cell then takes it.
      const int t = std::clamp(box->currentIndex(), 0, 3);
      sheet_->HandleCommand(kDisplacementTypeCommands[t]);
      model->setData(index, gSaveLastADPType, Qt::EditRole);
      return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
  }

private:
  EditCrystalSheet *sheet_;
};

} // namespace

EditCrystalSheet::EditCrystalSheet(WindowRef window, std::unique_ptr<EditCrystalRec> record, QWidget *parent)
    : QDialog(parent), window_(window), record_(std::move(record)) {
  if (record_->isMolecule) {
    Ui::EditMolecule ui;
    ui.setupUi(this);
  } else {
    Ui::EditCrystal ui;
    ui.setupUi(this);
  }
  setWindowModality(Qt::WindowModal);
  for (QPushButton *button : findChildren<QPushButton *>()) {
    const QString code = button->property("command").toString();
    if (code.size() == 4) {
      const uint32_t command = FourCharsToLong(code.toLatin1().constData());
      connect(button, &QPushButton::clicked, this, [this, command] { HandleCommand(command); });
    }
  }

  // The sites, numbered 1 to n in list order.
  uint32_t id = 1;
  for (EditSiteRec &site : record_->sites) {
    site.itemId = id++;
    site.selected = false;
  }
  list_ = FindControl<QTableView>(this, kSiteListID);
  model_ = new SiteTableModel(record_.get(), this);
  list_->setModel(model_);
  list_->setItemDelegate(new DisplacementTypeDelegate(this));
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  // The header starts out asking for a descending sort of the first column,
  // which switching sorting on would apply at once: the sites keep the
  // structure's order until the user clicks a column.
  list_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  list_->setSortingEnabled(true);
  list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list_->verticalHeader()->hide();
  list_->installEventFilter(this);
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { SyncSelection(); });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] {
    // Reselect the rows the record marks (after sorting or removal).
    QItemSelection selection;
    for (int r = 0; r < model_->rowCount(); r++)
      if (record_->sites[static_cast<size_t>(r)].selected)
        selection.select(model_->index(r, 0), model_->index(r, model_->columnCount() - 1));
    QSignalBlocker block(list_->selectionModel());
    list_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  });

  if (!record_->isMolecule) {
    record_->constrainCell = 1;
    symbolField_ = FindControl<QLineEdit>(this, kSymbolFieldID);
    warningIcon_ = FindControl<QLabel>(this, kWarningIconID);
    warningIcon_->hide();
    for (int i = 0; i < 6; i++)
      cellFields_[static_cast<size_t>(i)] = FindControl<QLineEdit>(this, 7 + 2 * i);
    DisplaySymmetry();
    DisplayOriginOffset();
    const float cell[6] = {record_->a, record_->b, record_->c, record_->alpha, record_->beta, record_->gamma};
    for (int i = 0; i < 6; i++)
      ShowStoredValue(cellFields_[static_cast<size_t>(i)], QString::fromStdString(MyTrimSprintf("%.5f", cell[i])),
                      cell[i]);
    InitConstrainCellPars();
    connect(symbolField_, &QLineEdit::textEdited, this, [this] { CheckSpacegroup(); });
  }
  if (QWidget *w = FindControl(this, kNeedsSitesID))
    w->setEnabled(record_->siteCount > 0);
  if (QWidget *w = FindControl(this, kRemoveButtonID))
    w->setEnabled(false);
  UpdateEditCrystalStatus();

  // Quit closes the sheet unapplied and goes on to the program.
  quitHandler_ = AddCommandHandler([this](uint32_t command, const QVariant &) -> OSStatus {
    if (command == kCmdQuitProgram && isVisible())
      HandleCommand(command);
    return kEventNotHandledErr;
  });
  connect(this, &QDialog::finished, this, [this](int result) { Finish(result); });
  OpenSheets().push_back(this);
}

EditCrystalSheet::~EditCrystalSheet() {
  if (quitHandler_)
    RemoveCommandHandler(quitHandler_);
  auto &sheets = OpenSheets();
  sheets.erase(std::remove(sheets.begin(), sheets.end(), this), sheets.end());
}

int EditCrystalSheet::HandleCommand(uint32_t command) {
  const CommandRun running("EditCrystal " + CommandName(command));
  switch (command) {
  case kCmdAddSite:
    AddSite();
    return 0;
  case kCmdRemoveSites:
    RemoveSites();
    return 0;
  case kCmdRelabel:
    Relabel();
    return 0;
  case kCmdToggleWidth:
    ToggleWidth();
    return 0;
  case kCmdBrowseGroups:
    Browse();
    return 0;
  case kCmdEditorHelp:
    MyOpenHelpPage(record_->isMolecule ? "pages/MoleculeEditor.html" : "pages/CrystalEditor.html");
    return 0;
  case kCmdSymmetryOptions:
    SymmetryOptions();
    return 0;
  case kCmdOK:
    if (TryOK())
      done(QDialog::Accepted);
    return 0;
  case kCmdCancelSheet:
    done(QDialog::Rejected);
    return 0;
  case kCmdQuitProgram:
    done(QDialog::Rejected);
    return kEventNotHandledErr;
  default:
    for (int t = 0; t < 4; t++)
      if (command == kDisplacementTypeCommands[t]) {
        gSaveLastADPType = t;
        return kEventNotHandledErr;
      }
    return kEventNotHandledErr;
  }
}

// ---- Symmetry and cell ----------------------------------------------------------------

void EditCrystalSheet::DisplaySymmetry() {
  if (record_->isMolecule)
    return;
  auto *caption = FindControl<QLabel>(this, kSymmetryCaptionID);
  QWidget *browse = FindControl(this, kBrowseButtonID);
  const bool bySymbol = record_->cardCount == 0;
  caption->setText(bySymbol ? "Spacegroup:" : "Symmetry:");
  symbolField_->setEnabled(bySymbol);
  browse->setEnabled(bySymbol);
  if (bySymbol) {
    symbolField_->setText(QString::fromStdString(record_->spaceGroup));
    record_->crystalSystem = EditCrystalSystem(*record_);
  } else {
    char text[64];
    std::snprintf(text, sizeof(text), "(Using %c lattice with %d GEPs)", record_->latticeLetter, record_->cardCount);
    symbolField_->setText(text);
    record_->crystalSystem = 1;
  }
}

void EditCrystalSheet::DisplayOriginOffset() {
  if (auto *origin = FindControl<QLabel>(this, kOriginTextID))
    origin->setText(QString::fromStdString(OriginOffsetText(*record_)));
}

void EditCrystalSheet::ReadCellFields(float cell[6]) const {
  // A field the user left alone gives the stored value, not its rounded text.
  for (int i = 0; i < 6; i++) {
    const QLineEdit *field = cellFields_[static_cast<size_t>(i)];
    cell[i] = StoredUnlessEdited(field, static_cast<float>(CharsToReal(field->text().toStdString())));
  }
}

void EditCrystalSheet::InitConstrainCellPars() {
  if (record_->isMolecule)
    return;
  for (int i = 0; i < 6; i++) {
    cellFields_[static_cast<size_t>(i)]->show();
    if (QWidget *companion = FindControl(this, 6 + 2 * i))
      companion->show();
  }
  if (!record_->constrainCell)
    return;
  float cell[6];
  ReadCellFields(cell);
  std::array<uint8_t, 6> isFree{1, 1, 1, 1, 1, 1};
  if (record_->cardCount == 0) {
    std::string symbol = record_->spaceGroup;
    GetCellConstraints(symbol, cell[0], cell[1], cell[2], cell[3], cell[4], cell[5], isFree);
  }
  record_->a = cell[0];
  record_->b = cell[1];
  record_->c = cell[2];
  record_->alpha = cell[3];
  record_->beta = cell[4];
  record_->gamma = cell[5];
  for (int i = 0; i < 6; i++) {
    QLineEdit *field = cellFields_[static_cast<size_t>(i)];
    field->setVisible(isFree[static_cast<size_t>(i)] != 0);
    if (QWidget *companion = FindControl(this, 6 + 2 * i))
      companion->setVisible(isFree[static_cast<size_t>(i)] != 0);
    ShowStoredValue(field, QString::fromStdString(MyTrimSprintf(i < 3 ? "%.5f" : "%.3f", cell[i])), cell[i]);
  }
}

void EditCrystalSheet::CheckSpacegroup() {
  if (record_->isMolecule)
    return;
  std::string symbol = LeftJustified(symbolField_->text(), kSymbolLength);
  uint8_t origin = record_->originChoice;
  bool valid = false;
  int16_t system = 1;
  if (ConvertSpaceGroupSymbol(symbol, origin)) {
    float cell[6];
    ReadCellFields(cell);
    std::string checked = symbol;
    valid = CheckSymmetry(checked, origin, cell[3], cell[4], cell[5], system);
    record_->originChoice = origin;
    DisplayOriginOffset();
  }
  record_->spaceGroup = symbol;
  warningIcon_->setVisible(!valid);
  record_->crystalSystem = valid ? static_cast<uint16_t>(system) : 1;
  if (record_->constrainCell)
    InitConstrainCellPars();
}

void EditCrystalSheet::UpdateEditCrystalStatus() {
  if (auto *status = FindControl<QLabel>(this, kStatusCaptionID))
    status->setText(QString::fromStdString(EditCrystalStatusText(*record_)));
}

void EditCrystalSheet::SyncSelection() {
  std::vector<bool> now(record_->sites.size(), false);
  for (const QModelIndex &index : list_->selectionModel()->selectedRows())
    now[static_cast<size_t>(index.row())] = true;
  bool any = false;
  for (size_t r = 0; r < now.size(); r++) {
    EditSiteRec &site = record_->sites[r];
    if (site.selected != now[r]) {
      site.selected = now[r];
      model_->RowChanged(static_cast<int>(r)); // the occupancy cell swaps its form
    }
    any = any || now[r];
  }
  if (QWidget *w = FindControl(this, kRemoveButtonID))
    w->setEnabled(any);
  UpdateEditCrystalStatus();
}

// ---- Commands ---------------------------------------------------------------------------

void EditCrystalSheet::AddSite() {
  EditSiteRec site;
  uint32_t id = 0;
  for (const EditSiteRec &s : record_->sites)
    id = std::max(id, s.itemId);
  site.itemId = id + 1;
  SetTypedSiteLabel(&site, "T" + std::to_string(site.itemId));
  site.elements[0] = TwoCharsToShort("Si");
  site.occupancies[0] = 1.0f;
  site.atomType = record_->sphereCount;
  site.atomStyle = static_cast<int32_t>(gPrefs.defaultAtomStyle);
  site.ellipsoidStyle = static_cast<int32_t>(gPrefs.defaultEllipsoidStyle);
  site.displacementType = kDisplacementNone;
  site.Uiso = 0.1f;
  for (int i = 0; i < 3; i++)
    site.U[i][i] = 0.1f;
  const int row = model_->rowCount();
  model_->AppendSite(site);
  if (QWidget *w = FindControl(this, kNeedsSitesID))
    w->setEnabled(true);
  const QModelIndex index = model_->index(row, 0);
  list_->scrollTo(index);
  list_->setCurrentIndex(index);
  list_->edit(index);
  UpdateEditCrystalStatus();
}

void EditCrystalSheet::RemoveSites() {
  if (!list_->selectionModel()->hasSelection())
    return;
  SyncSelection();
  if (!MyCFChoiceAlert(kAlertCautionAlert, "Delete the selected row(s)?", "", "Delete", "Cancel"))
    return;
  model_->RemoveSelected();
  if (QWidget *w = FindControl(this, kNeedsSitesID))
    w->setEnabled(record_->siteCount > 0);
  if (QWidget *w = FindControl(this, kRemoveButtonID))
    w->setEnabled(false);
  UpdateEditCrystalStatus();
}

void EditCrystalSheet::Relabel() {
  RelabelEditSites(record_.get());
  model_->ColumnChanged(0);
}

void EditCrystalSheet::ToggleWidth() {
  const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  const int widest = std::min(screen ? screen->availableGeometry().width() : maximumWidth(), maximumWidth());
  const int middle = geometry().center().x();
  const int width = this->width() >= widest ? minimumWidth() : widest;
  QRect r = geometry();
  r.setWidth(width);
  r.moveLeft(middle - width / 2);
  setGeometry(r);
  MoveWindowOnscreen(this);
}

void EditCrystalSheet::Browse() {
  if (record_->isMolecule)
    return;
  std::string symbol = LeftJustified(symbolField_->text(), kEditSpaceGroupSize - 1);
  int setting = 0;
  if (symbol.empty()) {
    symbol = "P 1";
  } else if (symbol[0] == 'R') {
    setting = AxesAreRhombohedral(record_->alpha, record_->beta, record_->gamma) ? 111 : 112;
  }
  record_->spaceGroup = symbol;
  if (gEditorHooks.findSpacegroupInSpacegroupWindow)
    gEditorHooks.findSpacegroupInSpacegroupWindow(symbol, record_->originChoice, setting);
}

void EditCrystalSheet::SymmetryOptions() {
  if (record_->isMolecule)
    return;
  SymmetryOptionsState state;
  if (record_->cardCount > 0) {
    state.cardCount = record_->cardCount;
    state.cards = record_->cards;
    state.latticeLetter = record_->latticeLetter;
  } else {
    state.symbol = LeftJustified(symbolField_->text(), kSymbolLength);
    state.latticeLetter = state.symbol.empty() ? 'P' : state.symbol[0];
  }
  state.originChoice = record_->originChoice;
  state.alpha = record_->alpha;
  state.beta = record_->beta;
  state.gamma = record_->gamma;
  std::copy(record_->originShift, record_->originShift + 3, state.originShift);
  state.constrainCell = record_->constrainCell;
  if (!gEditorHooks.getSymmetryOptions || !gEditorHooks.getSymmetryOptions(&state))
    return;
  record_->cardCount = state.cardCount;
  record_->cards = state.cards;
  record_->spaceGroup = state.symbol;
  record_->originChoice = state.originChoice;
  record_->latticeLetter = state.latticeLetter;
  std::copy(state.originShift, state.originShift + 3, record_->originShift);
  record_->constrainCell = state.constrainCell;
  DisplaySymmetry();
  DisplayOriginOffset();
  InitConstrainCellPars();
}

bool EditCrystalSheet::TryOK() {
  // An edit in progress is committed first.
  for (QWidget *editor : list_->viewport()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
    if (editor->isVisible())
      emit list_->itemDelegate()->commitData(editor);
  // A structure needs a site: the sheet stays open for one to be added.
  if (record_->siteCount == 0) {
    SysBeep();
    MyCFCautionAlert("This structure has no sites.", "Add a site with the + button, or Cancel.");
    return false;
  }
  // A record that describes the structure as it is applies nothing.
  float cell[6] = {};
  if (!record_->isMolecule)
    ReadCellFields(cell);
  const CrystalRec *crystal = GetWindowCrystal(window_);
  unchanged_ = !record_->isNew && crystal && EditRecordMatchesCrystal(*record_, cell, *crystal);
  if (unchanged_)
    return true;
  ResolveEditSiteAtomTypes(record_.get(), gPrefs);
  if (record_->isMolecule)
    return true;
  const EditCheckOutcome outcome = CheckEditCrystalForApply(record_.get(), symbolField_->text().toStdString(), cell);
  switch (outcome.result) {
  case EditCheckResult::kAccepted:
    return EditedCrystalFitsPlotRange(window_, *record_);
  case EditCheckResult::kBadSymbol:
    symbolField_->clear();
    return false;
  case EditCheckResult::kNoOperators:
    symbolField_->setText("????");
    return false;
  case EditCheckResult::kBadCell:
  case EditCheckResult::kAnglesMakeNoCell: {
    QLineEdit *field = cellFields_[static_cast<size_t>(outcome.badCellParameter)];
    field->setFocus();
    field->selectAll();
    SysBeep();
    if (outcome.result == EditCheckResult::kBadCell)
      MyCFCautionAlert("Error in cell parameter", "Please enter a valid, non-zero value");
    else
      MyCFCautionAlert("Error in cell parameter", "These angles make no cell: each must be less than the sum "
                                                  "of the other two, and the three together less than 360°.");
    return false;
  }
  case EditCheckResult::kBadDisplacement:
    return false;
  }
  return false;
}

void EditCrystalSheet::Finish(int result) {
  if (quitHandler_) {
    RemoveCommandHandler(quitHandler_);
    quitHandler_ = 0;
  }
  auto &sheets = OpenSheets();
  sheets.erase(std::remove(sheets.begin(), sheets.end(), this), sheets.end());
  WindowRef window = window_;
  MyRemoveWindowProxy(window);
  if (result == QDialog::Accepted) {
    // Unchanged, the structure already is what the sheet shows.
    if (!unchanged_ && record_->isMolecule)
      DoEditMolecule(window, record_.get());
    else if (!unchanged_)
      DoEditCrystal(window, record_.get());
  } else if (record_->isNew) {
    ClearWindowModified(window);
    SetWindowFileOpen(window, false);
    if (GetNumGraphWindows() >= 2)
      CloseMainWindow(window);
  }
  deleteLater();
}

bool EditCrystalSheet::eventFilter(QObject *watched, QEvent *event) {
  // While a cell is being edited its editor has the keys, not the list.
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key == Qt::Key_Backspace || key == Qt::Key_Delete) {
      HandleCommand(kCmdRemoveSites);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

// ---- Openers --------------------------------------------------------------------------

EditCrystalSheet *ShowEditCrystalSheet(WindowRef window, std::unique_ptr<EditCrystalRec> record) {
  MainWindow *w = GetMainWindow(window);
  if (!w || !record) {
    FWrite("Oops, an error occurred creating the structure editor\n");
    return nullptr;
  }
  auto *sheet = new EditCrystalSheet(window, std::move(record), w);
  sheet->open();
  if (sheet->SymbolField())
    sheet->SymbolField()->setFocus();
  return sheet;
}

EditCrystalSheet *GetEditCrystalSheet(WindowRef window) {
  for (EditCrystalSheet *sheet : OpenSheets())
    if (sheet->ParentWindow() == window)
      return sheet;
  return nullptr;
}

void DoShowEditCrystalSheet() {
  WindowRef front = FrontGraphWindow();
  CrystalRec *crystal = GetWindowCrystal(front);
  if (!crystal || FrontGraphWindowHasSheet() || GetEditCrystalSheet(front))
    return;
  auto record = std::make_unique<EditCrystalRec>();
  if (FillEditCrystalRecFromCrystal(crystal, record.get()) != 0)
    return;
  ShowEditCrystalSheet(front, std::move(record));
}

void DoShowNewCrystalSheet(bool isMolecule) {
  const char *title = isMolecule ? "New Molecule" : "New Crystal";
  WindowRef window = FrontGraphWindow();
  if (!window || IsWindowFileOpen(window) || FrontGraphWindowHasSheet() || GetEditCrystalSheet(window))
    window = OpenMainWindow(title, true);
  MainWindow *w = GetMainWindow(window);
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!w || !crystal) {
    MyCFStopAlert("Cannot edit new structure", "Invalid data reference");
    return;
  }
  w->setWindowTitle(QString::fromUtf8(title));
  w->show();
  MyRemoveWindowProxy(window);
  crystal->modelType = 1;
  crystal->molecule = isMolecule ? 1 : 0;
  auto record = std::make_unique<EditCrystalRec>();
  InitBlankEditCrystalRec(record.get(), isMolecule, true);
  ShowEditCrystalSheet(window, std::move(record));
}

void ResetEditCrystalSymmetry(const std::string &symbol, int crystalSystem, uint8_t originChoice) {
  // The front crystal editor, if it is the active sheet on a structure window.
  EditCrystalSheet *sheet = nullptr;
  for (EditCrystalSheet *s : OpenSheets())
    if (s->isVisible() && !s->Record()->isMolecule && s->windowTitle() == "Edit Crystal")
      sheet = s;
  if (!sheet)
    return;
  EditCrystalRec *record = sheet->Record();
  record->spaceGroup = symbol;
  std::fill(record->originShift, record->originShift + 3, 0.0f);
  const char *angles[3] = {nullptr, nullptr, nullptr};
  if (crystalSystem == 5) {
    angles[0] = "90", angles[1] = "90", angles[2] = "120";
    record->alpha = record->beta = 90.0f, record->gamma = 120.0f;
  } else if (crystalSystem == 6) {
    angles[0] = angles[1] = angles[2] = "90";
    record->alpha = record->beta = record->gamma = 90.0f;
  }
  for (int i = 0; i < 3; i++)
    if (angles[i])
      sheet->CellField(3 + i)->setText(angles[i]);
  record->crystalSystem = static_cast<uint16_t>(crystalSystem);
  record->originChoice = originChoice;
  sheet->DisplaySymmetry();
  sheet->DisplayOriginOffset();
  sheet->CheckSpacegroup();
}

// ---- Menu commands ----------------------------------------------------------------------

void InstallEditorCommands() {
  AddCommandHandler(
      [](uint32_t command, const QVariant &) -> OSStatus {
        switch (command) {
        case kCmdNewCrystal:
          DoShowNewCrystalSheet(false);
          return 0;
        case kCmdNewMolecule:
          DoShowNewCrystalSheet(true);
          return 0;
        case kCmdEditStructure:
          DoShowEditCrystalSheet();
          return 0;
        default:
          return kEventNotHandledErr;
        }
      },
      [](uint32_t command, QAction *action) -> OSStatus {
        if (command == kCmdNewCrystal || command == kCmdNewMolecule) {
          action->setEnabled(true);
          return 0;
        }
        if (command != kCmdEditStructure)
          return kEventNotHandledErr;
        WindowRef front = FrontGraphWindow();
        const CrystalRec *crystal = GetWindowCrystal(front);
        const bool editable = crystal && IsWindowFileOpen(front) && !crystal->sites.empty() &&
                              !crystal->atoms.empty() && !FrontGraphWindowHasSheet();
        action->setEnabled(editable);
        action->setText(crystal && crystal->molecule ? "Edit Molecule…" : "Edit Crystal…");
        return 0;
      });
}
