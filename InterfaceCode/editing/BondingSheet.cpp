#include "BondingSheet.h"

#include "EditorLists.h"
#include "shell/Commands.h"
#include "structurewindow/MainWindow.h"
#include "ui_EditBonding.h"

#include "Alerts.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QTableView>
#include <QToolButton>

#include <algorithm>

namespace {

BondingSheet *gBondingSheet = nullptr;

QFont ListFont() {
  QFont font(kBondListFont);
  font.setPointSize(kBondListPointSize);
  return font;
}

} // namespace

// ---- The list's model -------------------------------------------------------------

BondSpecModel::BondSpecModel(EditBondingRec *record, QObject *parent) : QAbstractTableModel(parent), record_(record) {}

int BondSpecModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : static_cast<int>(record_->specs.size());
}

int BondSpecModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : kBondColumnCount; }

QVariant BondSpecModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= rowCount())
    return {};
  const EditBondSpecNode &node = record_->specs[static_cast<size_t>(index.row())];
  if (role == Qt::FontRole)
    return ListFont();
  if (role != Qt::DisplayRole && role != Qt::EditRole)
    return {};
  switch (index.column()) {
  case kColNumber:
    return QString::number(node.number + 1);
  case kColFromAtom:
    return role == Qt::EditRole ? QVariant(GetEditBondingMenuIndex(*record_, node.elementA))
                                : QVariant(ElementSymbolText(node.elementA));
  case kColToAtom:
    return role == Qt::EditRole ? QVariant(GetEditBondingMenuIndex(*record_, node.elementB))
                                : QVariant(ElementSymbolText(node.elementB));
  case kColMin:
    return QString::fromStdString(FormatBondLength(node.min));
  case kColMax:
    return QString::fromStdString(FormatBondLength(node.max));
  default:
    return {};
  }
}

QVariant BondSpecModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return {};
  static const char *const titles[kBondColumnCount] = {"#", "From", "To", "Min (Å)", "Max (Å)", "Neighbours"};
  return section >= 0 && section < kBondColumnCount ? QString::fromUtf8(titles[section]) : QVariant();
}

Qt::ItemFlags BondSpecModel::flags(const QModelIndex &index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.column() == kColFromAtom || index.column() == kColToAtom || index.column() == kColMin ||
      index.column() == kColMax)
    f |= Qt::ItemIsEditable;
  return f;
}

bool BondSpecModel::setData(const QModelIndex &index, const QVariant &value, int role) {
  if (role != Qt::EditRole || !index.isValid() || index.row() >= rowCount())
    return false;
  EditBondSpecNode &node = record_->specs[static_cast<size_t>(index.row())];
  bool changed = false;
  switch (index.column()) {
  case kColFromAtom:
  case kColToAtom:
    changed = SetBondSpecElement(*record_, node, index.column() == kColFromAtom ? 0 : 1, value.toInt());
    break;
  case kColMin:
  case kColMax: {
    EditBondSpecNode edited = node;
    if (SetBondSpecLengthFromText(edited, index.column() == kColMin ? 0 : 1, value.toString().toStdString()) &&
        RefuseBondMaximum(std::max(edited.min, edited.max)))
      return false;
    changed = SetBondSpecLengthFromText(node, index.column() == kColMin ? 0 : 1, value.toString().toStdString());
    break;
  }
  default:
    return false;
  }
  if (changed && nodeChanged)
    nodeChanged(index.row());
  RowChanged(index.row());
  return changed;
}

void BondSpecModel::RowChanged(int row) { emit dataChanged(index(row, 0), index(row, kBondColumnCount - 1)); }

void BondSpecModel::sort(int column, Qt::SortOrder order) {
  auto key = [column](const EditBondSpecNode &n) -> double {
    switch (column) {
    case kColFromAtom:
      return n.elementA;
    case kColToAtom:
      return n.elementB;
    case kColMin:
      return n.min;
    case kColMax:
      return n.max;
    case kColInfo:
      return std::max(n.maxCountA, n.maxCountB);
    default:
      return n.number;
    }
  };
  emit layoutAboutToBeChanged();
  std::stable_sort(record_->specs.begin(), record_->specs.end(),
                   [&](const EditBondSpecNode &a, const EditBondSpecNode &b) {
                     return order == Qt::AscendingOrder ? key(a) < key(b) : key(b) < key(a);
                   });
  emit layoutChanged();
}

// ---- Drawing and editing the cells --------------------------------------------------

void DrawCoordinationArrow(QPainter *painter, bool selected, int x, int y) {
  const QColor colour = selected ? Qt::white : Qt::black;
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing, false);
  painter->setPen(QPen(colour, 1));
  painter->drawLine(x, y, x + 12, y);
  QPainterPath head;
  head.moveTo(x + 8, y - 3);
  head.lineTo(x + 14, y);
  head.lineTo(x + 8, y + 3);
  head.closeSubpath();
  painter->fillPath(head, colour);
  painter->restore();
}

QString BondCountText(int32_t minCount, int32_t maxCount, ElementCode neighbour) {
  const QString symbol = ElementSymbolText(neighbour).trimmed();
  if (minCount == maxCount)
    return QString::asprintf("[%d] ", minCount) + symbol;
  return QString::asprintf("[%d-%d] ", minCount, maxCount) + symbol;
}

BondSpecDelegate::BondSpecDelegate(QTableView *view, BondSpecModel *model)
    : QStyledItemDelegate(view), view_(view), model_(model) {}

void BondSpecDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const {
  QStyledItemDelegate::paint(painter, option, index);
  if (index.column() != kColInfo || index.row() >= model_->rowCount())
    return;
  const EditBondSpecNode &node = model_->Record()->specs[static_cast<size_t>(index.row())];
  if (!node.DiagnosticsKnown())
    return;
  const bool selected = option.state & QStyle::State_Selected;
  painter->save();
  painter->setFont(ListFont());
  painter->setPen(selected ? option.palette.color(QPalette::HighlightedText) : option.palette.color(QPalette::Text));
  const QFontMetrics metrics(painter->font());
  const QRect r = option.rect;
  const bool twoLines = node.elementA != node.elementB;
  const int lineHeight = r.height() / 2;
  auto drawLine = [&](int centreY, ElementCode from, int32_t minCount, int32_t maxCount, ElementCode to) {
    const int baseline = centreY + (metrics.ascent() - metrics.descent()) / 2;
    int x = r.left() + 4;
    painter->drawText(x, baseline, ElementSymbolText(from));
    x += metrics.horizontalAdvance(ElementSymbolText(from)) + 3;
    DrawCoordinationArrow(painter, selected, x, centreY);
    x += 14 + 5;
    painter->drawText(x, baseline, BondCountText(minCount, maxCount, to));
  };
  if (twoLines) {
    drawLine(r.top() + lineHeight / 2, node.elementA, node.minCountA, node.maxCountA, node.elementB);
    drawLine(r.top() + lineHeight + lineHeight / 2, node.elementB, node.minCountB, node.maxCountB, node.elementA);
  } else {
    drawLine(r.center().y(), node.elementA, node.minCountA, node.maxCountA, node.elementB);
  }
  painter->restore();
}

QWidget *BondSpecDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const {
  view_->setSortingEnabled(false); // an edit keeps the rows where they stand
  QWidget *editor = nullptr;
  if (index.column() == kColFromAtom || index.column() == kColToAtom) {
    auto *popup = new QComboBox(parent);
    const EditBondingRec &record = *model_->Record();
    for (int i = 0; i < record.elementCount; ++i)
      popup->addItem(ElementSymbolText(record.elements[i].element));
    popup->setFont(ListFont());
    // A choice takes effect at once, as a popup menu's does.
    connect(popup, &QComboBox::activated, popup, [this, popup] {
      emit const_cast<BondSpecDelegate *>(this)->commitData(popup);
      emit const_cast<BondSpecDelegate *>(this)->closeEditor(popup);
    });
    editor = popup;
  } else if (index.column() == kColMin || index.column() == kColMax) {
    auto *field = new QLineEdit(parent);
    field->setFont(ListFont());
    editor = field;
  }
  MarkEditorCell(editor, index);
  return editor;
}

void BondSpecDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const {
  if (auto *popup = qobject_cast<QComboBox *>(editor))
    popup->setCurrentIndex(index.data(Qt::EditRole).toInt() - 1);
  else if (auto *field = qobject_cast<QLineEdit *>(editor))
    field->setText(index.data(Qt::EditRole).toString().trimmed());
}

void BondSpecDelegate::setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const {
  if (auto *popup = qobject_cast<QComboBox *>(editor))
    model->setData(index, popup->currentIndex() + 1, Qt::EditRole);
  else if (auto *field = qobject_cast<QLineEdit *>(editor))
    model->setData(index, field->text(), Qt::EditRole);
}

bool BondSpecDelegate::eventFilter(QObject *object, QEvent *event) {
  // Tab moves between the min and max cells of the same row.
  return TabBetweenCells(this, view_, object, event, kColMin, kColMax) ||
         QStyledItemDelegate::eventFilter(object, event);
}

// ---- The sheet ------------------------------------------------------------------------

BondingSheet::BondingSheet(WindowRef window, std::unique_ptr<EditBondingRec> record, QWidget *parent)
    : QDialog(parent), ui_(std::make_unique<Ui::EditBonding>()), window_(window), record_(std::move(record)) {
  ui_->setupUi(this);
  opened_ = record_->specs;
  list_ = ui_->specList;
  model_ = new BondSpecModel(record_.get(), this);
  list_->setModel(model_);
  list_->setItemDelegate(new BondSpecDelegate(list_, model_));
  list_->setFont(ListFont());
  list_->verticalHeader()->hide();
  list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list_->verticalHeader()->setDefaultSectionSize(kBondRowHeight);
  list_->horizontalHeader()->setStretchLastSection(true);
  list_->setColumnWidth(kColNumber, 40);
  list_->setColumnWidth(kColFromAtom, 60);
  list_->setColumnWidth(kColToAtom, 60);
  list_->setColumnWidth(kColMin, 80);
  list_->setColumnWidth(kColMax, 80);
  list_->horizontalHeader()->setSortIndicator(kColNumber, Qt::AscendingOrder);
  list_->setSortingEnabled(true);
  list_->installEventFilter(this);
  model_->nodeChanged = [this](int row) { QueueDiagnostics(row); };

  diagnosticsTimer_.setSingleShot(true);
  connect(&diagnosticsTimer_, &QTimer::timeout, this, [this] {
    if (CountNextDiagnostics())
      diagnosticsTimer_.start(0);
  });
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdateEditBondingStatus(); });
  auto send = [](uint32_t command) { return [command] { ProcessCommand(command); }; };
  connect(ui_->addButton, &QToolButton::clicked, this, send(kCmdAddBond));
  connect(ui_->removeButton, &QToolButton::clicked, this, send(kCmdRemoveBond));
  connect(ui_->okButton, &QPushButton::clicked, this, send(kCmdBondSheetOK));
  connect(ui_->cancelButton, &QPushButton::clicked, this, send(kCmdBondSheetCancel));
  connect(ui_->helpButton, &QPushButton::clicked, this, send(kCmdBondHelp));
  connect(ui_->explorerButton, &QPushButton::clicked, this, send(kCmdBondExplorer));
  handlerId_ = AddCommandHandler([this](uint32_t command, const QVariant &) { return HandleCommand(command); });
  installEventFilter(this);
  UpdateEditBondingStatus();
  // Every specification's counts are made one per turn of the event loop,
  // so that the sheet shows at once even when they are slow to make.
  for (int row = 0; row < model_->rowCount(); ++row)
    record_->specs[static_cast<size_t>(row)].diagnosticsPending = true;
  if (model_->rowCount() > 0)
    diagnosticsTimer_.start(0);
}

BondingSheet::~BondingSheet() {
  if (handlerId_)
    RemoveCommandHandler(handlerId_);
  if (gBondingSheet == this)
    gBondingSheet = nullptr;
}

void BondingSheet::QueueDiagnostics(int row) {
  if (row < 0 || row >= model_->rowCount())
    return;
  EditBondSpecNode &node = record_->specs[static_cast<size_t>(row)];
  node.ForgetDiagnostics();
  node.diagnosticsPending = true;
  model_->RowChanged(row);
  if (!diagnosticsTimer_.isActive() && !closing_)
    diagnosticsTimer_.start(0);
}

bool BondingSheet::CountNextDiagnostics() {
  if (closing_)
    return false;
  auto &specs = record_->specs;
  auto next = std::find_if(specs.begin(), specs.end(), [](const EditBondSpecNode &n) { return n.diagnosticsPending; });
  if (next == specs.end())
    return false;
  next->diagnosticsPending = false;
  BondDiagnostics(GetWindowCrystal(window_), *next);
  model_->RowChanged(static_cast<int>(next - specs.begin()));
  return std::any_of(next, specs.end(), [](const EditBondSpecNode &n) { return n.diagnosticsPending; });
}

void BondingSheet::UpdateEditBondingStatus() {
  const int selected = list_->selectionModel() ? static_cast<int>(list_->selectionModel()->selectedRows().size()) : 0;
  ui_->status->setText(QString::asprintf("%d of %d selected", selected, record_->specCount));
  ui_->removeButton->setEnabled(selected > 0);
}

OSStatus BondingSheet::HandleCommand(uint32_t command) {
  const CommandRun running("Bonding " + CommandName(command));
  if (closing_)
    return kEventNotHandledErr;
  if (command == kCmdBondExplorer) {
    if (HostServices *host = GetHostServices())
      host->ShowDistanceWindow(window_);
    return kEventNotHandledErr; // the command goes on
  }
  if (command == kCmdBondHelp) {
    MyOpenHelpPage("pages/BondEditor.html");
    return kNoErr;
  }
  if (command == kCmdAddBond) {
    const int row = model_->rowCount();
    model_->beginInsertRows({}, row, row);
    const bool added = AddBondSpecNode(*record_);
    model_->endInsertRows();
    if (added) {
      list_->scrollTo(model_->index(row, 0));
      list_->selectRow(row);
      QueueDiagnostics(row);
    }
    UpdateEditBondingStatus();
    return kNoErr;
  }
  if (command == kCmdRemoveBond) {
    std::vector<int> rows;
    for (const QModelIndex &index : list_->selectionModel()->selectedRows())
      rows.push_back(index.row());
    model_->beginResetModel();
    RemoveBondSpecNodes(*record_, rows);
    model_->endResetModel();
    UpdateEditBondingStatus();
    return kNoErr;
  }
  if (command == kCmdBondSheetOK) {
    for (const EditBondSpecNode &node : record_->specs)
      if (RefuseBondMaximum(node.max))
        return kNoErr; // the sheet stays open
    Close(true);
    return kNoErr;
  }
  if (command == kCmdBondSheetCancel) {
    Close(false);
    return kNoErr;
  }
  if (command == kCmdBondSheetQuit) {
    Close(false);
    return kEventNotHandledErr; // so that the program can quit
  }
  return kEventNotHandledErr;
}

bool BondingSheet::eventFilter(QObject *object, QEvent *event) {
  if (object == list_ && event->type() == QEvent::KeyPress) { // an open editor takes the keys itself
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
      HandleCommand(kCmdRemoveBond);
      return true;
    }
  }
  if (event->type() == QEvent::MouseMove)
    setCursor(Qt::ArrowCursor);
  return QDialog::eventFilter(object, event);
}

void BondingSheet::reject() {
  if (!closing_)
    Close(false);
}

namespace {
bool SameSpecifications(const std::vector<EditBondSpecNode> &a, const std::vector<EditBondSpecNode> &b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const EditBondSpecNode &x, const EditBondSpecNode &y) {
    return x.elementA == y.elementA && x.elementB == y.elementB && x.min == y.min && x.max == y.max &&
           x.style == y.style && x.colour1 == y.colour1 && x.colour2 == y.colour2;
  });
}
} // namespace

void BondingSheet::Close(bool apply) {
  closing_ = true;
  diagnosticsTimer_.stop();
  if (handlerId_) {
    RemoveCommandHandler(handlerId_);
    handlerId_ = 0;
  }
  // An edit still open counts.
  if (QWidget *editor = QApplication::focusWidget(); editor && list_->viewport()->isAncestorOf(editor))
    emit list_->itemDelegate()->commitData(editor);
  QDialog::done(apply ? Accepted : Rejected);
  if (gBondingSheet == this)
    gBondingSheet = nullptr;
  // The structure changes only now that the sheet is gone, and only when
  // the list differs from the one it opened with.
  if (apply && !SameSpecifications(record_->specs, opened_))
    if (CrystalRec *crystal = GetWindowCrystal(window_))
      DoEditBonding(window_, crystal, *record_);
  deleteLater();
}

// ---- Opening -------------------------------------------------------------------------

bool ShowEditBondingSheet(WindowRef window, std::unique_ptr<EditBondingRec> record) {
  if (!window || !record || gBondingSheet)
    return false;
  auto *sheet = new BondingSheet(window, std::move(record), GetMainWindow(window));
  sheet->setWindowModality(Qt::WindowModal);
  gBondingSheet = sheet;
  sheet->open();
  return true;
}

void DoShowEditBondingSheet() {
  WindowRef front = FrontGraphWindow();
  CrystalRec *crystal = front ? GetWindowCrystal(front) : nullptr;
  if (!crystal || gBondingSheet)
    return;
  auto record = std::make_unique<EditBondingRec>();
  if (!FillEditBondingRec(*crystal, *record))
    return;
  ShowEditBondingSheet(front, std::move(record));
}

BondingSheet *CurrentBondingSheet() { return gBondingSheet; }
