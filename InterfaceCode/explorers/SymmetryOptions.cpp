#include "explorers/SymmetryOptions.h"

#include "editing/EditCrystalSheet.h"
#include "inspectors/InspectorKit.h"
#include "shell/Commands.h"
#include "shell/Forms.h"
#include "ui_SymmetryOptions.h"

#include "Alerts.h"
#include "HostServices.h"
#include "SpaceGroups.h"
#include "SymmetryCards.h"
#include "UnitCell.h"
#include "Utilities.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <cstdio>

std::function<void(SymmetryOptionsDialog *)> gSymmetryOptionsDriver;

namespace {

constexpr int kModeID = 1, kSymbolFieldID = 2, kWarningID = 3, kShowButtonID = 4, kCustomBoxID = 5, kLatticeID = 6,
              kAddID = 8, kRemoveID = 9, kListID = 10, kHintID = 11, kOffsetXID = 14, kConstrainID = 20,
              kStatusID = 28;
constexpr const char *kAllowedCellCharacters = "0.,123456789xXyYzZ+-/";

} // namespace

// ---- Logic --------------------------------------------------------------------------------

int16_t LatticeIndexOf(char letter) {
  const char *at = letter ? std::strchr(kLatticeLetterOrder, letter) : nullptr;
  return at ? int16_t(at - kLatticeLetterOrder + 1) : 1;
}

std::string FilterSymCellText(const std::string &typed) {
  std::string out;
  for (char c : typed) {
    if (c == '\0' || !std::strchr(kAllowedCellCharacters, c))
      continue;
    if (out.size() >= size_t(kMaxCellText))
      break;
    out += c == ',' ? '.' : c;
  }
  return out;
}

std::string SymCardColumn(const Symcard &card, int column) {
  const std::string_view text = CardText(card);
  const size_t start = size_t(kSymcardFieldStart[std::clamp(column, 0, 2)]);
  std::string field = start < text.size() ? std::string(text.substr(start, kSymcardFieldWidth)) : std::string();
  field.resize(kSymcardFieldWidth, ' ');
  return field;
}

bool EditSymCardColumn(Symcard &card, int column, const std::string &typed) {
  const std::string filtered = FilterSymCellText(typed);
  if (filtered.empty())
    return false;
  // Built in a string of its own: a typed field may be far longer than a card.
  std::string fields[3] = {SymCardColumn(card, 0), SymCardColumn(card, 1), SymCardColumn(card, 2)};
  fields[std::clamp(column, 0, 2)] = filtered;
  const std::string text = fields[0] + "  " + fields[1] + "  " + fields[2];
  Symcard rebuilt{};
  if (!UpdateSymmCard(text, rebuilt))
    return false;
  card = rebuilt;
  return true;
}

float SnapOriginOffset(float value) {
  const int16_t k = static_cast<int16_t>(std::clamp(value * 1000.0f, -32768.0f, 32767.0f));
  switch (k) {
  case 166:
  case 167:
    return 1.0f / 6.0f;
  case 333:
    return 1.0f / 3.0f;
  case 666:
  case 667:
    return 2.0f / 3.0f;
  case 833:
    return 5.0f / 6.0f;
  default:
    return value;
  }
}

void RemoveDuplicateSymCards(SymmetryOptionsRec &rec) {
  int kept = 0;
  for (int i = 0; i < rec.count; i++) {
    const std::string_view text = CardText(rec.cards[size_t(i)]);
    bool seen = false;
    for (int j = 0; j < kept && !seen; j++)
      seen = CardText(rec.cards[size_t(j)]) == text;
    if (!seen)
      rec.cards[size_t(kept++)] = rec.cards[size_t(i)];
  }
  rec.count = uint16_t(kept);
}

std::vector<std::string> SymmetryListingLines(const SymmetryOptionsRec &rec, bool withCentring) {
  std::vector<std::string> lines{""};
  const bool centred = withCentring && rec.latticeLetter != 'P' &&
                       !(rec.latticeLetter == 'R' &&
                         AxesAreRhombohedral(rec.cellAngles[0], rec.cellAngles[1], rec.cellAngles[2]));
  int16_t translations = 1;
  CentringVectors vectors{};
  if (centred)
    Bravais(rec.latticeLetter, translations, vectors);
  for (int i = 0; i < rec.count; i++) {
    lines.emplace_back(CardText(rec.cards[size_t(i)]));
    for (int t = 1; centred && t < translations; t++) {
      GEP gep;
      Symcard2GEP(rec.cards[size_t(i)], gep);
      for (int k = 0; k < 3; k++)
        gep.translation[k] += vectors[size_t(t)][size_t(k)];
      Symcard card{};
      GEP2Symcard(gep, card);
      lines.emplace_back(CardText(card));
    }
  }
  lines.emplace_back("");
  return lines;
}

// ---- The operator list ---------------------------------------------------------------------

namespace {

class GEPModel : public QAbstractTableModel {
public:
  GEPModel(SymmetryOptionsDialog *dialog) : QAbstractTableModel(dialog), dialog_(dialog) {}
  void Reset() {
    beginResetModel();
    endResetModel();
  }
  int rowCount(const QModelIndex &parent = {}) const override {
    return parent.isValid() ? 0 : int(dialog_->Record()->count);
  }
  int columnCount(const QModelIndex & = {}) const override { return 3; }
  QVariant data(const QModelIndex &index, int role) const override {
    if ((role != Qt::DisplayRole && role != Qt::EditRole) || index.row() >= dialog_->Record()->count)
      return {};
    return QString::fromStdString(SymCardColumn(dialog_->Record()->cards[size_t(index.row())], index.column()));
  }
  bool setData(const QModelIndex &index, const QVariant &value, int role) override {
    if (role != Qt::EditRole || index.row() >= dialog_->Record()->count)
      return false;
    dialog_->List()->setSortingEnabled(false);
    if (!EditSymCardColumn(dialog_->Record()->cards[size_t(index.row())], index.column(),
                           value.toString().toStdString()))
      return false;
    emit dataChanged(this->index(index.row(), 0), this->index(index.row(), 2));
    return true;
  }
  Qt::ItemFlags flags(const QModelIndex &index) const override {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable : Qt::NoItemFlags;
  }
  QVariant headerData(int section, Qt::Orientation o, int role) const override {
    if (o == Qt::Horizontal && role == Qt::DisplayRole)
      return QString(QChar('x' + section));
    return {};
  }
  // Sorting reorders the view's copy of the cards by the column's field.
  void sort(int column, Qt::SortOrder order) override {
    SymmetryOptionsRec *rec = dialog_->Record();
    std::stable_sort(rec->cards.begin(), rec->cards.begin() + rec->count, [&](const Symcard &a, const Symcard &b) {
      const int c = std::strcmp(SymCardColumn(a, column).c_str(), SymCardColumn(b, column).c_str());
      return order == Qt::AscendingOrder ? c < 0 : c > 0;
    });
    Reset();
  }

private:
  SymmetryOptionsDialog *dialog_;
};

// Starting to edit turns the dialog to custom operators; Tab moves editing
// to the next column of the same row (Shift+Tab to the previous), wrapping.
class GEPDelegate : public QStyledItemDelegate {
public:
  GEPDelegate(SymmetryOptionsDialog *dialog) : QStyledItemDelegate(dialog), dialog_(dialog) {}
  QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
    dialog_->CustomizeSymmetryOptions();
    return QStyledItemDelegate::createEditor(parent, option, index);
  }

protected:
  bool eventFilter(QObject *object, QEvent *event) override {
    auto *editor = qobject_cast<QWidget *>(object);
    if (editor && event->type() == QEvent::KeyPress) {
      auto *key = static_cast<QKeyEvent *>(event);
      if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
        const QModelIndex current = dialog_->List()->currentIndex();
        const int step = key->key() == Qt::Key_Backtab ? 2 : 1;
        emit commitData(editor);
        emit closeEditor(editor, QAbstractItemDelegate::NoHint);
        const int row = current.row(), column = (current.column() + step) % 3;
        SymmetryOptionsDialog *dialog = dialog_;
        QTimer::singleShot(0, dialog, [dialog, row, column] { dialog->EditCell(row, column); });
        return true;
      }
    }
    return QStyledItemDelegate::eventFilter(object, event);
  }

private:
  SymmetryOptionsDialog *dialog_;
};

} // namespace

// ---- The dialog ----------------------------------------------------------------------------

SymmetryOptionsDialog::SymmetryOptionsDialog(SymmetryOptionsRec *rec, QWidget *parent) : QDialog(parent), rec_(rec) {
  Ui::SymmetryOptions form;
  form.setupUi(this);
  setWindowModality(Qt::ApplicationModal);
  rec_->window = this;
  list_ = FindControl<QTableView>(this, kListID);
  symbolField_ = FindControl<QLineEdit>(this, kSymbolFieldID);
  model_ = new GEPModel(this);
  list_->setModel(model_);
  list_->setItemDelegate(new GEPDelegate(this));
  QFont courier("DejaVu Sans Mono");
  courier.setPixelSize(12);
  list_->setFont(courier);
  list_->setAlternatingRowColors(true);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  list_->verticalHeader()->hide();
  list_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  list_->setSortingEnabled(false);
  connect(list_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
    model_->sort(column, Qt::AscendingOrder);
  });
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    const bool any = list_->selectionModel()->hasSelection();
    if (any)
      CustomizeSymmetryOptions();
    FindControl(this, kRemoveID)->setEnabled(any);
    UpdateSymOpsStatus();
  });
  connect(list_, &QTableView::doubleClicked, this, [this](const QModelIndex &) { CustomizeSymmetryOptions(); });
  list_->installEventFilter(this);
  symbolField_->installEventFilter(this);
  for (int id = kOffsetXID; id < kOffsetXID + 3; id++)
    FindControl(this, id)->installEventFilter(this);

  for (uint16_t i = 0; i < rec_->count; i++)
    UpdateSymmCard(std::string(CardText(rec_->cards[i])), rec_->cards[i]);
  FindControl<QCheckBox>(this, kConstrainID)->setChecked(rec_->constrainCell);
  if (rec_->count != 0) {
    rec_->mode = 2;
    symbolField_->clear();
    FillGEPDataBrowser();
  } else {
    rec_->mode = 1;
    symbolField_->setText(QString::fromStdString(rec_->symbol));
  }
  SetPopupValue(FindControl<QComboBox>(this, kModeID), rec_->mode);
  DoToggleUseSpacegroup();
  rec_->latticeIndex = LatticeIndexOf(rec_->latticeLetter);
  SetPopupValue(FindControl<QComboBox>(this, kLatticeID), rec_->latticeIndex);
  for (int i = 0; i < 3; i++)
    SetEditTextFormat(FindControl<QLineEdit>(this, kOffsetXID + i), "%.4f", rec_->originOffset[i]);
  ConnectPaneCommands(this, [this](uint32_t command) { return HandleCommand(command); });
  if (rec_->count == 0)
    DoShowGEPsButton();
  UpdateSymOpsStatus();
}

SymmetryOptionsDialog::~SymmetryOptionsDialog() { rec_->window = nullptr; }

void SymmetryOptionsDialog::FillGEPDataBrowser() { static_cast<GEPModel *>(model_)->Reset(); }
void SymmetryOptionsDialog::ClearGEPDataBrowser() {
  rec_->count = 0;
  static_cast<GEPModel *>(model_)->Reset();
}

void SymmetryOptionsDialog::DoToggleUseSpacegroup() {
  rec_->mode = int16_t(GetPopupValue(FindControl<QComboBox>(this, kModeID)));
  const bool group = rec_->mode == 1;
  for (int id : {kSymbolFieldID, kShowButtonID, kConstrainID})
    FindControl(this, id)->setVisible(group);
  EnableControls(this, {kCustomBoxID, kLatticeID, kAddID}, !group);
  if (group) {
    FindControl(this, kRemoveID)->setEnabled(false);
    if (QWidget *hint = FindControl(this, kHintID); hint->isVisible())
      hint->hide();
    list_->clearSelection();
  } else {
    if (QWidget *focus = QApplication::focusWidget(); focus && isAncestorOf(focus))
      focus->clearFocus();
    FindControl(this, kWarningID)->hide();
  }
}

void SymmetryOptionsDialog::CustomizeSymmetryOptions() {
  if (rec_->mode == 2)
    return;
  SetPopupValue(FindControl<QComboBox>(this, kModeID), 2);
  DoToggleUseSpacegroup();
}

bool SymmetryOptionsDialog::VerifySpacegroup() {
  std::string text = symbolField_->text().left(255).toStdString();
  LeftJustifyCString(text);
  int16_t system = 0;
  const bool valid = ConvertSpaceGroupSymbol(text, rec_->originChoice) &&
                     CheckSymmetry(text, rec_->originChoice, rec_->cellAngles[0], rec_->cellAngles[1],
                                   rec_->cellAngles[2], system);
  if (valid)
    rec_->symbol = text;
  FindControl(this, kWarningID)->setVisible(!valid && rec_->mode == 1);
  return valid;
}

void SymmetryOptionsDialog::UpdateSymOpsStatus() {
  char text[64];
  const int selected = list_->selectionModel() ? int(list_->selectionModel()->selectedRows().size()) : 0;
  std::snprintf(text, sizeof text, "%d of %d GEPs selected", selected, int(rec_->count));
  FindControl<QLabel>(this, kStatusID)->setText(text);
}

void SymmetryOptionsDialog::DoShowGEPsButton() {
  if (symbolField_->text().trimmed().isEmpty()) {
    MyCFStopAlert("No spacegroup defined", "Please type a spacegroup symbol in the edit text field");
    return;
  }
  if (!VerifySpacegroup()) {
    UpdateSymOpsStatus();
    return;
  }
  rec_->latticeIndex = LatticeIndexOf(rec_->symbol.empty() ? 'P' : rec_->symbol[0]);
  SetPopupValue(FindControl<QComboBox>(this, kLatticeID), rec_->latticeIndex);
  ClearGEPDataBrowser();
  Spaceg(rec_->symbol, rec_->originChoice, rec_->cellAngles[0], rec_->cellAngles[1], rec_->cellAngles[2],
         rec_->latticeLetter, rec_->count, std::span<Symcard>(rec_->cards));
  FillGEPDataBrowser();
  FindControl(this, kShowButtonID)->setEnabled(false);
  UpdateSymOpsStatus();
}

void SymmetryOptionsDialog::AddGEP() {
  if (rec_->count >= kMaxSymCards) {
    MyCFStopAlert("Cannot add any more GEPs - the list is full.", "Try deleting an existing operator.");
    return;
  }
  rec_->cards[rec_->count] = MakeSymcard(kIdentityCard);
  rec_->count++;
  FillGEPDataBrowser();
  EditCell(rec_->count - 1, 0);
  UpdateSymOpsStatus();
}

void SymmetryOptionsDialog::DoRemoveGEPButton() {
  std::vector<int> rows;
  for (const QModelIndex &i : list_->selectionModel()->selectedRows())
    rows.push_back(i.row());
  if (rows.empty())
    return;
  std::vector<uint8_t> remove(rec_->count, 0);
  for (int r : rows)
    if (r >= 0 && r < rec_->count)
      remove[size_t(r)] = 1;
  int kept = 0;
  for (int i = 0; i < rec_->count; i++)
    if (!remove[size_t(i)])
      rec_->cards[size_t(kept++)] = rec_->cards[size_t(i)];
  rec_->count = uint16_t(kept);
  list_->clearSelection();
  FillGEPDataBrowser();
  FindControl(this, kRemoveID)->setEnabled(false);
  UpdateSymOpsStatus();
}

void SymmetryOptionsDialog::EditCell(int row, int column) {
  CustomizeSymmetryOptions();
  const QModelIndex index = model_->index(row, column);
  list_->scrollTo(index);
  list_->setCurrentIndex(index);
  list_->edit(index);
}

bool SymmetryOptionsDialog::TryOK() {
  // An edit in progress is committed first.
  if (QWidget *editor = list_->indexWidget(list_->currentIndex()); editor)
    emit list_->itemDelegate()->commitData(editor);
  for (QWidget *editor : list_->viewport()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
    if (editor->isVisible())
      emit list_->itemDelegate()->commitData(editor);
  if (rec_->mode == 1) {
    if (!VerifySpacegroup()) {
      MyCFStopAlert("Please enter a valid spacegroup symbol");
      return false;
    }
    rec_->latticeLetter = rec_->symbol[0];
    rec_->count = 0;
  } else {
    if (rec_->count == 0) {
      rec_->cards[0] = MakeSymcard(kIdentityCard);
      rec_->count = 1;
    }
    RemoveDuplicateSymCards(*rec_);
    rec_->symbol.clear();
    const int item = GetPopupValue(FindControl<QComboBox>(this, kLatticeID));
    rec_->latticeLetter = kLatticeLetterOrder[std::clamp(item, 1, 7) - 1];
  }
  for (int i = 0; i < 3; i++)
    rec_->originOffset[i] = SnapOriginOffset(
        ReduceOriginShift(CharsToReal(FindControl<QLineEdit>(this, kOffsetXID + i)->text().toStdString())));
  rec_->constrainCell = FindControl<QCheckBox>(this, kConstrainID)->isChecked();
  return true;
}

void SymmetryOptionsDialog::Finish(bool accepted) {
  rec_->accepted = accepted ? 1 : 0;
  hide();
  done(accepted ? QDialog::Accepted : QDialog::Rejected);
}

int SymmetryOptionsDialog::HandleCommand(uint32_t command) {
  const CommandRun running("SymmetryOptions " + CommandName(command));
  switch (command) {
  case FourCharsToLong("tSPG"):
    DoToggleUseSpacegroup();
    return 0;
  case FourCharsToLong("shGp"):
    DoShowGEPsButton();
    return 0;
  case FourCharsToLong("Ltyp"):
    rec_->latticeIndex = int16_t(GetPopupValue(FindControl<QComboBox>(this, kLatticeID)));
    rec_->latticeLetter = kLatticeLetterOrder[std::clamp<int>(rec_->latticeIndex, 1, 7) - 1];
    return 0;
  case FourCharsToLong("addG"):
    AddGEP();
    return 0;
  case FourCharsToLong("rmvG"):
    DoRemoveGEPButton();
    return 0;
  case FourCharsToLong("cnLp"):
    rec_->constrainCell = FindControl<QCheckBox>(this, kConstrainID)->isChecked();
    return 0;
  case FourCharsToLong("Help"):
    MyOpenHelpPage("pages/SymmetryOptions.html");
    return 0;
  case FourCharsToLong("prGp"): {
    HostServices *host = GetHostServices();
    const bool option = host && (host->CurrentModifiers() & kOptionKey);
    for (const std::string &line : SymmetryListingLines(*rec_, option))
      FWrite(line);
    return 0;
  }
  case FourCharsToLong("ok  "):
    if (TryOK())
      Finish(true);
    return 0;
  case FourCharsToLong("not!"):
    Finish(false);
    return 0;
  case FourCharsToLong("quit"):
    Finish(false);
    return kEventNotHandledErr;
  default:
    return kEventNotHandledErr;
  }
}

bool SymmetryOptionsDialog::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() != QEvent::KeyPress)
    return QDialog::eventFilter(watched, event);
  auto *key = static_cast<QKeyEvent *>(event);
  const bool ret = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
  if (watched == list_ && (key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Delete)) {
    DoRemoveGEPButton();
    return true;
  }
  if (watched == symbolField_) {
    if (ret) {
      DoShowGEPsButton();
      return true;
    }
    // The key reaches the field first, then the symbol is checked.
    symbolField_->removeEventFilter(this);
    QApplication::sendEvent(symbolField_, event);
    symbolField_->installEventFilter(this);
    VerifySpacegroup();
    if (rec_->count != 0) {
      ClearGEPDataBrowser();
      UpdateSymOpsStatus();
      FindControl(this, kShowButtonID)->setEnabled(true);
    }
    return true;
  }
  for (int id = kOffsetXID; id < kOffsetXID + 3; id++)
    if (watched == FindControl(this, id) && ret)
      return true;
  return QDialog::eventFilter(watched, event);
}

// ---- Running it -----------------------------------------------------------------------------

uint8_t GetSymmetryOptions(SymmetryOptionsRec *rec) {
  if (!rec)
    return 0;
  rec->accepted = 0; // nothing accepted unless OK is pressed in this run
  auto *dialog = new SymmetryOptionsDialog(rec, QApplication::activeWindow());
  dialog->show();
  if (gSymmetryOptionsDriver)
    gSymmetryOptionsDriver(dialog);
  else
    dialog->exec();
  dialog->hide();
  delete dialog;
  return rec->accepted;
}

void InstallSymmetryOptions() {
  gEditorHooks.getSymmetryOptions = [](SymmetryOptionsState *state) -> bool {
    SymmetryOptionsRec rec;
    rec.count = state->cardCount;
    rec.cards = state->cards;
    rec.symbol = state->symbol;
    rec.originChoice = state->originChoice;
    rec.latticeLetter = state->latticeLetter;
    rec.cellAngles[0] = state->alpha, rec.cellAngles[1] = state->beta, rec.cellAngles[2] = state->gamma;
    std::copy(state->originShift, state->originShift + 3, rec.originOffset);
    rec.constrainCell = state->constrainCell;
    if (!GetSymmetryOptions(&rec))
      return false;
    state->cardCount = rec.count;
    state->cards = rec.cards;
    state->symbol = rec.symbol;
    state->originChoice = rec.originChoice;
    state->latticeLetter = rec.latticeLetter;
    std::copy(rec.originOffset, rec.originOffset + 3, state->originShift);
    state->constrainCell = rec.constrainCell;
    return true;
  };
}
