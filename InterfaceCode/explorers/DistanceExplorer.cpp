#include "explorers/DistanceExplorer.h"

#include "explorers/DistanceHistogram.h"
#include "inspectors/InspectorKit.h"
#include "shell/Commands.h"
#include "shell/Forms.h"
#include "ui_DistanceExplorer.h"

#include "Alerts.h"
#include "HostServices.h"
#include "documents/FileBuffer.h"
#include "export/ExportFrame.h"
#include "window/MainWindowData.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <cstdio>

QWidget *gDistanceWindow = nullptr;
QTreeView *gFromBrowser = nullptr;
QTreeView *gToBrowser = nullptr;
QTableView *gOutputBrowser = nullptr;
QWidget *gDistanceWindowGraphViewRef = nullptr;
int gDistanceWindowTabIndex = 1;

namespace {

constexpr int kSidebarID = 3, kFromBrowserID = 4, kGroupBoxID = 7, kMinFieldID = 8, kMinArrowsID = 9,
              kMaxFieldID = 10, kMaxArrowsID = 11, kSearchButtonID = 12, kTabControlID = 13, kLogButtonID = 16,
              kStatusID = 17, kToBrowserID = 18, kGraphPaneID = 100, kGraphViewID = 106, kBinSliderID = 112,
              kBinFieldID = 113, kGraphMenuButtonID = 114, kOutputPaneID = 200, kOutputBrowserID = 201;
constexpr const char *kFormatBondRangeText = "%.2f \u00c5";
constexpr const char *kFormatBinSizeText = "%.3f \u00c5";

QPushButton *gSearchButton = nullptr;

CrystalRec *FrontCrystal() {
  WindowRef front = FrontGraphWindow();
  return front ? GetWindowCrystal(front) : nullptr;
}

void Beep() {
  if (HostServices *host = GetHostServices())
    host->Beep();
}

QLineEdit *Field(int id) { return FindControl<QLineEdit>(gDistanceWindow, id); }

void WriteField(int id, const char *format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  if (QLineEdit *f = Field(id))
    f->setText(QString::fromUtf8(text));
}

void WriteDistanceWindowStatus(const std::string &text) {
  if (auto *label = FindControl<QLabel>(gDistanceWindow, kStatusID))
    label->setText(QString::fromStdString(text));
}

QString ElementString(ElementCode code) {
  char s[3] = {' ', ' ', 0};
  ShortToTwoChars(code, s);
  return QString::fromLatin1(s, 2);
}

// ---- From list -------------------------------------------------------------------------
// Top-level rows are element rows (grouped) or site rows (flat); children of
// an element row are its site rows in label order.

class FromModel : public QAbstractItemModel {
public:
  void Reload() {
    beginResetModel();
    top_.clear();
    children_.clear();
    DistanceSearch *s = GetCurrentDistanceSearch();
    CrystalRec *c = FrontCrystal();
    if (s && c) {
      auto byLabel = [c](std::vector<int> &rows) {
        std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) {
          const DistanceSearch *r = GetCurrentDistanceSearch();
          return MyIntegerCompareSiteLabels(DistanceSiteLabel(*c, r->fromEntries[size_t(a)].site),
                                            DistanceSiteLabel(*c, r->fromEntries[size_t(b)].site)) < 0;
        });
      };
      for (size_t k = 0; k < s->fromEntries.size(); k++) {
        const DistanceFromEntry &row = s->fromEntries[k];
        if (s->groupByElement && row.isElement) {
          top_.push_back(int(k));
          size_t first = 0, end = 0;
          FromChildRange(*s, k, &first, &end);
          std::vector<int> kids;
          for (size_t i = first; i < end; i++)
            kids.push_back(int(i));
          byLabel(kids);
          children_[int(k)] = std::move(kids);
        } else if (!s->groupByElement && !row.isElement) {
          top_.push_back(int(k));
        }
      }
      if (!s->groupByElement)
        byLabel(top_);
    }
    endResetModel();
  }
  int Entry(const QModelIndex &index) const {
    if (!index.isValid())
      return -1;
    if (index.internalId() == 0)
      return index.row() < int(top_.size()) ? top_[size_t(index.row())] : -1;
    const auto it = children_.find(int(index.internalId()) - 1);
    return it != children_.end() && index.row() < int(it->second.size()) ? it->second[size_t(index.row())] : -1;
  }
  QModelIndex IndexOfEntry(int entry) const {
    for (size_t i = 0; i < top_.size(); i++)
      if (top_[i] == entry)
        return index(int(i), 0);
    for (const auto &[parentEntry, kids] : children_)
      for (size_t i = 0; i < kids.size(); i++)
        if (kids[i] == entry)
          return createIndex(int(i), 0, quintptr(parentEntry + 1));
    return {};
  }
  QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override {
    if (!parent.isValid())
      return row >= 0 && row < int(top_.size()) ? createIndex(row, column, quintptr(0)) : QModelIndex();
    const int entry = Entry(parent);
    return createIndex(row, column, quintptr(entry + 1));
  }
  QModelIndex parent(const QModelIndex &child) const override {
    if (!child.isValid() || child.internalId() == 0)
      return {};
    const int entry = int(child.internalId()) - 1;
    for (size_t i = 0; i < top_.size(); i++)
      if (top_[i] == entry)
        return createIndex(int(i), 0, quintptr(0));
    return {};
  }
  int rowCount(const QModelIndex &parent = {}) const override {
    if (!parent.isValid())
      return int(top_.size());
    if (parent.internalId() != 0 || parent.column() != 0)
      return 0;
    const auto it = children_.find(Entry(parent));
    return it == children_.end() ? 0 : int(it->second.size());
  }
  int columnCount(const QModelIndex & = {}) const override { return 1; }
  QVariant data(const QModelIndex &index, int role) const override {
    const DistanceSearch *s = GetCurrentDistanceSearch();
    const CrystalRec *c = FrontCrystal();
    const int entry = Entry(index);
    if (!s || !c || entry < 0)
      return {};
    const DistanceFromEntry &row = s->fromEntries[size_t(entry)];
    if (role == Qt::DisplayRole)
      return row.isElement ? ElementString(row.element) : QString::fromStdString(DistanceSiteLabel(*c, row.site));
    if (role == Qt::CheckStateRole) {
      const int state = FromCheckState(*s, size_t(entry));
      return state == 2 ? Qt::PartiallyChecked : state ? Qt::Checked : Qt::Unchecked;
    }
    return {};
  }
  Qt::ItemFlags flags(const QModelIndex &index) const override {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable : Qt::NoItemFlags;
  }
  bool setData(const QModelIndex &index, const QVariant &value, int role) override {
    DistanceSearch *s = GetCurrentDistanceSearch();
    const int entry = Entry(index);
    if (role != Qt::CheckStateRole || !s || entry < 0)
      return false;
    SetFromChecked(*s, size_t(entry), value.toInt() != Qt::Unchecked);
    emit dataChanged(this->index(0, 0), this->index(rowCount() - 1, 0));
    for (int r = 0; r < rowCount(); r++) {
      const QModelIndex p = this->index(r, 0);
      if (rowCount(p))
        emit dataChanged(this->index(0, 0, p), this->index(rowCount(p) - 1, 0, p));
    }
    UpdateDistanceSearchButton();
    DoDistanceSearchPreview();
    return true;
  }
  void Refresh() {
    if (rowCount())
      emit dataChanged(index(0, 0), index(rowCount() - 1, 0));
    for (int r = 0; r < rowCount(); r++) {
      const QModelIndex p = index(r, 0);
      if (rowCount(p))
        emit dataChanged(index(0, 0, p), index(rowCount(p) - 1, 0, p));
    }
  }

private:
  std::vector<int> top_;
  std::map<int, std::vector<int>> children_;
};

// ---- To list ---------------------------------------------------------------------------

// Rows in the order of their element symbols; `Entry` is the record's row.
class ToModel : public QAbstractTableModel {
public:
  void Reload() {
    beginResetModel();
    order_.clear();
    if (const DistanceSearch *s = GetCurrentDistanceSearch()) {
      for (size_t k = 0; k < s->toEntries.size(); k++)
        order_.push_back(int(k));
      std::stable_sort(order_.begin(), order_.end(), [s](int a, int b) {
        return ElementString(ElementCode(s->toEntries[size_t(a)].element)) <
               ElementString(ElementCode(s->toEntries[size_t(b)].element));
      });
    }
    endResetModel();
  }
  void Refresh() {
    if (rowCount())
      emit dataChanged(index(0, 0), index(rowCount() - 1, 1));
  }
  int Entry(int row) const {
    const DistanceSearch *s = GetCurrentDistanceSearch();
    return s && row >= 0 && row < int(order_.size()) && order_[size_t(row)] < int(s->toEntries.size())
               ? order_[size_t(row)]
               : -1;
  }
  int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(order_.size()); }
  int columnCount(const QModelIndex & = {}) const override { return 2; }
  QVariant data(const QModelIndex &index, int role) const override {
    const int entry = Entry(index.row());
    if (entry < 0)
      return {};
    const DistanceToEntry &row = GetCurrentDistanceSearch()->toEntries[size_t(entry)];
    if (index.column() == 0 && role == Qt::DisplayRole)
      return ElementString(ElementCode(row.element));
    if (index.column() == 0 && role == Qt::CheckStateRole)
      return row.checked ? Qt::Checked : Qt::Unchecked;
    return {};
  }
  Qt::ItemFlags flags(const QModelIndex &index) const override {
    return index.column() == 0 ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable : Qt::ItemIsEnabled;
  }
  bool setData(const QModelIndex &index, const QVariant &value, int role) override {
    const int entry = Entry(index.row());
    if (role != Qt::CheckStateRole || entry < 0)
      return false;
    GetCurrentDistanceSearch()->toEntries[size_t(entry)].checked = value.toInt() != Qt::Unchecked;
    emit dataChanged(this->index(index.row(), 0), this->index(index.row(), 1));
    UpdateDistanceSearchButton();
    DoDistanceSearchPreview();
    return true;
  }
  QVariant headerData(int section, Qt::Orientation o, int role) const override {
    if (o == Qt::Horizontal && role == Qt::DisplayRole)
      return section == 0 ? QString("Element") : QString("Colour");
    return {};
  }

private:
  std::vector<int> order_;
};

ToModel *gToModel = nullptr;

// The colour swatch of a To row.
class SwatchDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
    const int entry = gToModel ? gToModel->Entry(index.row()) : -1;
    if (index.column() != 1 || entry < 0) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    const DistanceToEntry &row = GetCurrentDistanceSearch()->toEntries[size_t(entry)];
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    const QRect r = option.rect.adjusted(1, 2, -1, -2);
    if (row.checked) {
      painter->fillRect(r, QColor::fromRgbF(row.colour[0], row.colour[1], row.colour[2], row.colour[3]));
      painter->setPen(QColor::fromRgbF(0.5f, 0.5f, 0.5f));
      painter->drawRect(r.adjusted(0, 0, -1, -1));
    } else {
      painter->fillRect(r, QColor::fromRgbF(0.95f, 0.95f, 0.95f));
    }
    painter->restore();
  }
};

// ---- Output list -----------------------------------------------------------------------

constexpr uint32_t kOutputColumns[7] = {FourCharsToLong("bNum"), FourCharsToLong("Bond"), FourCharsToLong("FLbl"),
                                        FourCharsToLong("TLbl"), FourCharsToLong("bLen"), FourCharsToLong("bSig"),
                                        FourCharsToLong("bRel")};
constexpr const char *kOutputTitles[7] = {"#", "Bond", "From", "To", "d [\u00c5]", "Error", "d/(r1+r2)"};

// Reads the record's results in place through an order of indices.
class OutputModel : public QAbstractTableModel {
public:
  void Reload() {
    beginResetModel();
    order_.clear();
    const DistanceSearch *s = GetCurrentDistanceSearch();
    if (s && s->haveResults) {
      if (const CrystalRec *c = FrontCrystal())
        order_ = SortDistanceOutput(*s, *c, kOutputColumns[size_t(column_)]);
      if (descending_)
        std::reverse(order_.begin(), order_.end());
    }
    endResetModel();
  }
  int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(order_.size()); }
  int columnCount(const QModelIndex & = {}) const override { return 7; }
  QVariant data(const QModelIndex &index, int role) const override {
    const DistanceSearch *s = GetCurrentDistanceSearch();
    const CrystalRec *c = FrontCrystal();
    if (role != Qt::DisplayRole || !s || !c || index.row() >= int(order_.size()))
      return {};
    const uint32_t item = order_[size_t(index.row())];
    // The number column counts the results, not the rows.
    return QString::fromUtf8(DistanceOutputCell(*s, *c, item, kOutputColumns[size_t(index.column())]).c_str());
  }
  QVariant headerData(int section, Qt::Orientation o, int role) const override {
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 7)
      return QString::fromUtf8(kOutputTitles[section]);
    return {};
  }
  void sort(int column, Qt::SortOrder order) override {
    column_ = std::clamp(column, 0, 6);
    descending_ = order == Qt::DescendingOrder;
    Reload();
  }
  const std::vector<uint32_t> &Order() const { return order_; }

private:
  std::vector<uint32_t> order_;
  int column_ = 1; // sorted by 'Bond' at first
  bool descending_ = false;
};

FromModel *gFromModel = nullptr;
OutputModel *gOutputModel = nullptr;

void LoadFromBrowser() {
  if (!gFromModel)
    return;
  gFromModel->Reload();
  if (const DistanceSearch *s = GetCurrentDistanceSearch())
    for (size_t k = 0; k < s->fromEntries.size(); k++)
      if (s->fromEntries[k].isElement && s->fromEntries[k].expanded)
        gFromBrowser->expand(gFromModel->IndexOfEntry(int(k)));
}

void LoadOutputBrowser() {
  if (gOutputModel)
    gOutputModel->Reload();
}

void SetLogButton(bool enable) {
  if (QWidget *b = FindControl(gDistanceWindow, kLogButtonID))
    b->setEnabled(enable);
}

void WriteDistanceRange(const DistanceSearch &s) {
  WriteField(kMinFieldID, kFormatBondRangeText, s.minDistance);
  WriteField(kMaxFieldID, kFormatBondRangeText, s.maxDistance);
}

QSize GraphViewSize() { return gDistanceWindowGraphViewRef ? gDistanceWindowGraphViewRef->size() : QSize(480, 320); }

void ExportGraph(bool toClipboard) {
  const DistanceSearch *s = GetCurrentDistanceSearch();
  WindowRef front = FrontGraphWindow();
  if (!s || !front)
    return;
  const QSize box = GraphViewSize();
  if (toClipboard) {
    const QByteArray pdf = DistanceHistogramPdf(s, box, nullptr);
    if (pdf.isEmpty())
      return;
    auto *mime = new QMimeData;
    mime->setData("application/pdf", pdf);
    QApplication::clipboard()->setMimeData(mime);
    return;
  }
  HostServices *host = GetHostServices();
  std::filesystem::path file;
  if (!host || host->SaveFileDialog("Export graphics", host->WindowTitle(front) + " - Bond Histogram.pdf", &file) != 0)
    return;
  const std::string title = file.filename().string();
  const QByteArray pdf = DistanceHistogramPdf(s, box, &title);
  if (pdf.isEmpty())
    return;
  std::string reason;
  if (!WriteFileAtomically(file, std::span(reinterpret_cast<const uint8_t *>(pdf.constData()), size_t(pdf.size())),
                           &reason))
    AlertExportFailed(kExportWriteFailed, file, reason);
}

// Paints the sidebar and the graph, shows the bin tip, and takes Return in
// the range and bin-width fields.
class DistanceWindowFilter : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (watched == gDistanceWindowGraphViewRef && event->type() == QEvent::Paint) {
      QPainter painter(gDistanceWindowGraphViewRef);
      DrawDistanceSearchGraph(painter, GetCurrentDistanceSearch(), QRectF(gDistanceWindowGraphViewRef->rect()));
      return true;
    }
    if (watched == gDistanceWindowGraphViewRef && event->type() == QEvent::MouseMove) {
      if (gDistanceWindowTabIndex == 1) {
        const QPoint p = static_cast<QMouseEvent *>(event)->position().toPoint();
        const std::string tip = DistanceGraphTipAt(p);
        if (!tip.empty())
          MyDrawToolTipNowAtMousePosition(tip);
      }
      return false;
    }
    QWidget *sidebar = FindControl(gDistanceWindow, kSidebarID);
    if (watched == sidebar && event->type() == QEvent::Paint) {
      QPainter painter(sidebar);
      painter.setRenderHint(QPainter::Antialiasing, false);
      const QRect r = sidebar->rect();
      painter.fillRect(r.adjusted(0, 0, -1, 0), QColor::fromRgbF(0.8392f, 0.8667f, 0.8980f));
      painter.setPen(QColor::fromRgbF(0.5451f, 0.5451f, 0.5451f));
      painter.drawLine(r.left() + r.width() - 2, r.top(), r.left() + r.width() - 2, r.bottom());
      return false;
    }
    if (event->type() == QEvent::KeyPress) {
      auto *key = static_cast<QKeyEvent *>(event);
      if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && GetCurrentDistanceSearch()) {
        if (watched == Field(kMinFieldID) || watched == Field(kMaxFieldID)) {
          DoDistanceSearchPreview();
          return true;
        }
        if (watched == Field(kBinFieldID)) {
          DoDistanceSearchDrawGraph();
          UpdateBinSizeSlider();
          return true;
        }
      }
    }
    return false;
  }
};

void BuildGraphMenu(QToolButton *button) {
  auto *menu = new QMenu(button);
  const std::pair<const char *, const char *> items[] = {
      {"tBUV", "Per Unit Volume"}, {"tLbl", "Bar Counts"}, {"tElC", "Element Colours"}, {"tShd", "Drop Shadow"},
      {"tGrd", "Grid"},           {nullptr, nullptr},     {"cGrf", "Copy Graph"},      {"xGrf", "Export Graph…"}};
  for (const auto &[code, title] : items) {
    if (!code) {
      menu->addSeparator();
      continue;
    }
    QAction *a = menu->addAction(QString::fromUtf8(title));
    const uint32_t command = FourCharsToLong(code);
    a->setData(QVariant::fromValue<uint>(command));
    a->setCheckable(code[0] == 't');
    QObject::connect(a, &QAction::triggered, [command] { DistanceWindowCommand(command); });
  }
  QObject::connect(menu, &QMenu::aboutToShow, [menu] {
    const DistanceSearch *s = GetCurrentDistanceSearch();
    for (QAction *a : menu->actions()) {
      if (!a->isCheckable())
        continue;
      const uint32_t c = a->data().toUInt();
      a->setEnabled(s != nullptr);
      if (!s)
        continue;
      a->setChecked(c == FourCharsToLong("tBUV")   ? s->perUnitVolume
                    : c == FourCharsToLong("tLbl") ? s->showBinLabels
                    : c == FourCharsToLong("tElC") ? s->elementColours
                    : c == FourCharsToLong("tShd") ? s->dropShadow
                                                   : s->showGrid);
    }
  });
  button->setMenu(menu);
  button->setPopupMode(QToolButton::InstantPopup);
}

void BuildDistanceWindow() {
  auto *window = new QWidget(nullptr);
  Ui::DistanceExplorer form;
  form.setupUi(window);
  gDistanceWindow = window;
  gFromBrowser = FindControl<QTreeView>(window, kFromBrowserID);
  gToBrowser = FindControl<QTreeView>(window, kToBrowserID);
  gOutputBrowser = FindControl<QTableView>(window, kOutputBrowserID);
  gSearchButton = FindControl<QPushButton>(window, kSearchButtonID);
  gDistanceWindowGraphViewRef = FindControl(window, kGraphViewID);
  gSearchButton->setEnabled(false);

  gToModel = new ToModel;
  gToModel->setParent(window);
  gToBrowser->setModel(gToModel);
  gToBrowser->setRootIsDecorated(false);
  gToBrowser->setItemDelegate(new SwatchDelegate(gToBrowser));

  gFromModel = new FromModel;
  gFromModel->setParent(window);
  gFromBrowser->setModel(gFromModel);
  gFromBrowser->setHeaderHidden(true);
  QObject::connect(gFromBrowser, &QTreeView::expanded, [](const QModelIndex &index) {
    if (DistanceSearch *s = GetCurrentDistanceSearch(); s && gFromModel->Entry(index) >= 0)
      s->fromEntries[size_t(gFromModel->Entry(index))].expanded = 1;
  });
  QObject::connect(gFromBrowser, &QTreeView::collapsed, [](const QModelIndex &index) {
    if (DistanceSearch *s = GetCurrentDistanceSearch(); s && gFromModel->Entry(index) >= 0)
      s->fromEntries[size_t(gFromModel->Entry(index))].expanded = 0;
  });

  gOutputModel = new OutputModel;
  gOutputModel->setParent(window);
  gOutputBrowser->setModel(gOutputModel);
  gOutputBrowser->setAlternatingRowColors(true);
  gOutputBrowser->setSortingEnabled(true);
  gOutputBrowser->sortByColumn(1, Qt::AscendingOrder);
  gOutputBrowser->verticalHeader()->hide();
  gOutputBrowser->verticalHeader()->setDefaultSectionSize(18);

  SetLogButton(false);
  auto *filter = new DistanceWindowFilter(window);
  for (QWidget *w : {gDistanceWindowGraphViewRef, FindControl(window, kSidebarID), static_cast<QWidget *>(Field(kMinFieldID)),
                     static_cast<QWidget *>(Field(kMaxFieldID)), static_cast<QWidget *>(Field(kBinFieldID))})
    w->installEventFilter(filter);
  gDistanceWindowGraphViewRef->setMouseTracking(true);
  gDistanceWindowGraphViewRef->setAttribute(Qt::WA_OpaquePaintEvent, false);

  QObject::connect(FindControl<LittleArrows>(window, kMinArrowsID), &LittleArrows::Stepped, [](int part) {
    const float v = StepDistanceMinimum(GetEditTextFloat(Field(kMinFieldID)), GetEditTextFloat(Field(kMaxFieldID)), part);
    WriteField(kMinFieldID, kFormatBondRangeText, v);
  });
  QObject::connect(FindControl<LittleArrows>(window, kMaxArrowsID), &LittleArrows::Stepped, [](int part) {
    const float v = StepDistanceMaximum(GetEditTextFloat(Field(kMinFieldID)), GetEditTextFloat(Field(kMaxFieldID)), part);
    WriteField(kMaxFieldID, kFormatBondRangeText, v);
  });
  auto *slider = FindControl<QSlider>(window, kBinSliderID);
  QObject::connect(slider, &QSlider::sliderMoved, [](int value) {
    WriteField(kBinFieldID, kFormatBinSizeText, BinWidthFromSlider(value));
    DoDistanceSearchDrawGraph();
  });
  BuildGraphMenu(FindControl<QToolButton>(window, kGraphMenuButtonID));
  ConnectPaneCommands(window, [](uint32_t command) { return DistanceWindowCommand(command); });
  QObject::connect(FindControl<QTabWidget>(window, kTabControlID), &QTabWidget::currentChanged, [](int index) {
    if (index + 1 != gDistanceWindowTabIndex)
      MySwitchItemOfTabControl(index + 1);
  });
  UpdateBinSizeSlider();
  MySwitchItemOfTabControl(gPrefs.distanceGraphTab ? 1 : 2);
  RegisterFloatingWindow({window, &gPrefs.distanceWindowBounds, &gPrefs.distanceWindowVisible,
                          [] { UpdateDistanceExplorer(); }, false, [] { SaveDistanceWindowPrefs(); }});
}

} // namespace

// ---- Record access ---------------------------------------------------------------------

DistanceSearch *GetCurrentDistanceSearch() {
  WindowRef front = FrontGraphWindow();
  MainWindowData *d = front ? GetMainWindowData(front) : nullptr;
  return d ? static_cast<DistanceSearch *>(d->distanceSearch.get()) : nullptr;
}

int SetCurrentDistanceSearch(std::unique_ptr<DistanceSearch> search) {
  WindowRef front = FrontGraphWindow();
  MainWindowData *d = front ? GetMainWindowData(front) : nullptr;
  if (!d)
    return 0;
  d->distanceSearch = std::shared_ptr<void>(search.release(), [](void *p) { delete static_cast<DistanceSearch *>(p); });
  return 0;
}

int DisposeWindowDistanceSearch(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d || !d->distanceSearch)
    return kWindowPropertyNotFound;
  const bool shown = d->distanceSearch.get() == GetCurrentDistanceSearch();
  if (shown) {
    // The lists read the record: empty them first.
    d->distanceSearch.reset();
    if (gFromModel) {
      gFromModel->Reload();
      gToModel->Reload();
      gOutputModel->Reload();
    }
  }
  d->distanceSearch.reset();
  return 0;
}

void SaveDistanceWindowPrefs() {
  if (const DistanceSearch *s = GetCurrentDistanceSearch())
    CopyDistanceSearchToPrefs(*s, gPrefs);
  gPrefs.distanceGraphTab = gDistanceWindowTabIndex == 1;
}

// ---- Loading ---------------------------------------------------------------------------

void LoadDistanceWindow() {
  WindowRef front = FrontGraphWindow();
  if (!front || !gDistanceWindow)
    return;
  HostServices *host = GetHostServices();
  gDistanceWindow->setWindowTitle(QString::fromStdString("Distance Explorer for " + host->WindowTitle(front)));
  CrystalRec *crystal = GetWindowCrystal(front);
  DistanceSearch *s = GetCurrentDistanceSearch();
  if (s && !(crystal && DistanceSearchMatchesCrystal(*s, *crystal))) {
    DisposeWindowDistanceSearch(front);
    s = nullptr;
  }
  if (!s) {
    SetCurrentDistanceSearch(NewDistanceSearch(crystal, IsWindowFileOpen(front), gPrefs));
    s = GetCurrentDistanceSearch();
    if (!s)
      return;
  }
  LoadFromBrowser();
  FindControl<QCheckBox>(gDistanceWindow, kGroupBoxID)->setChecked(s->groupByElement);
  gToModel->Reload();
  WriteDistanceRange(*s);
  WriteField(kBinFieldID, kFormatBinSizeText, s->binWidth);
  UpdateBinSizeSlider();
  DoDistanceSearchDrawGraph();
  LoadOutputBrowser();
  UpdateDistanceSearchButton();
  // The status belongs to this window's result, not to the last search.
  WriteDistanceWindowStatus(s->status);
  SetLogButton(s->haveResults);
}

void DoShowDistanceWindow() {
  if (!gDistanceWindow)
    BuildDistanceWindow();
  gDistanceWindow->show();
  LoadDistanceWindow();
  gDistanceWindow->raise();
  gDistanceWindow->activateWindow();
}

void UpdateDistanceExplorer() {
  if (gQuittingTime) {
    SaveDistanceWindowPrefs();
    return;
  }
  if (FrontGraphWindow())
    LoadDistanceWindow();
}

bool UpdateDistanceSearchButton() {
  const DistanceSearch *s = GetCurrentDistanceSearch();
  const bool enable = s && DistanceSearchCanRun(*s);
  if (gSearchButton)
    gSearchButton->setEnabled(enable);
  return enable;
}

void MySwitchItemOfTabControl(int tab) {
  if (!gDistanceWindow)
    return;
  if (QWidget *focus = QApplication::focusWidget(); focus && gDistanceWindow->isAncestorOf(focus))
    focus->clearFocus();
  gDistanceWindowTabIndex = tab;
  gPrefs.distanceGraphTab = tab == 1;
  FindControl(gDistanceWindow, kGraphPaneID)->setVisible(tab == 1);
  FindControl(gDistanceWindow, kOutputPaneID)->setVisible(tab == 2);
  FindControl<QTabWidget>(gDistanceWindow, kTabControlID)->setCurrentIndex(tab - 1);
}

void DoDistanceWindowToggleFromCheckboxes(bool value) {
  DistanceSearch *s = GetCurrentDistanceSearch();
  if (!s)
    return;
  for (DistanceFromEntry &row : s->fromEntries)
    row.checked = value;
  gFromModel->Refresh();
  UpdateDistanceSearchButton();
  DoDistanceSearchPreview();
}

void DoDistanceWindowToggleToCheckboxes(bool value) {
  DistanceSearch *s = GetCurrentDistanceSearch();
  if (!s)
    return;
  for (DistanceToEntry &row : s->toEntries)
    row.checked = value;
  gToModel->Refresh();
  UpdateDistanceSearchButton();
  DoDistanceSearchPreview();
}

// ---- Searching and binning ---------------------------------------------------------------

void DoDistanceSearchPreview() {
  WindowRef front = FrontGraphWindow();
  DistanceSearch *s = GetCurrentDistanceSearch();
  CrystalRec *crystal = front ? GetWindowCrystal(front) : nullptr;
  if (!gDistanceWindow || !gDistanceWindow->isVisible() || !crystal || !s)
    return;
  if (s->haveResults) {
    std::vector<DistanceResult>().swap(s->results);
    s->haveResults = false;
    LoadOutputBrowser();
  }
  DoDistanceSearchDrawGraph();

  auto refuse = [s] {
    s->status = kNoDistancesSearched;
    WriteDistanceWindowStatus(s->status);
    SetLogButton(false);
  };
  // The range is checked on copies: a refused range never reaches the record.
  const RangeCheck range = CheckDistanceRange(GetEditTextFloat(Field(kMinFieldID)), GetEditTextFloat(Field(kMaxFieldID)));
  if (range.swapped)
    Beep();
  if (range.error == RangeError::kEqual) {
    MyCFStopAlert("Invalid bond range", "Please specify a range of distances to search");
    refuse();
    return;
  }
  if (range.error == RangeError::kOutOfRange) {
    char text[128];
    std::snprintf(text, sizeof text, "Maximum distance should be between %.2f and %.0f A.", double(kMinSearchMaximum),
                  double(kMaxSearchDistance));
    MyCFStopAlert("Invalid bond distance", text);
    refuse();
    return;
  }
  s->minDistance = range.minimum;
  s->maxDistance = range.maximum;
  WriteDistanceRange(*s);
  s->binWidth = ClampBinWidth(GetEditTextFloat(Field(kBinFieldID)), nullptr);
  SaveDistanceWindowPrefs();
  if (!UpdateDistanceSearchButton()) {
    refuse();
    return;
  }
  std::vector<ElementCode> to;
  for (const DistanceToEntry &row : s->toEntries)
    if (row.checked)
      to.push_back(ElementCode(row.element));
  std::vector<uint32_t> from;
  for (const DistanceFromEntry &row : s->fromEntries)
    if (row.checked && !row.isElement)
      from.push_back(row.site);
  if (to.empty()) {
    refuse();
    return;
  }
  uint32_t count = 0;
  float percent = 0.0f;
  std::optional<std::vector<DistanceResult>> found =
      DoDistanceExplorerSearch(crystal, from.data(), uint32_t(from.size()), to.data(), uint32_t(to.size()),
                               s->minDistance, s->maxDistance, &count, &percent);
  s->haveResults = found.has_value();
  if (found) {
    RemoveMirrorDistances(*found);
    s->results = std::move(*found);
  }
  LoadOutputBrowser();
  DoDistanceSearchDrawGraph();
  s->status = DistanceSearchStatus(percent, s->ResultCount());
  WriteDistanceWindowStatus(s->status);
  SetLogButton(s->haveResults);
}

void DoDistanceSearchDrawGraph() {
  DistanceSearch *s = GetCurrentDistanceSearch();
  if (!gDistanceWindow || !gDistanceWindow->isVisible() || !s)
    return;
  bool clamped = false;
  s->binWidth = ClampBinWidth(GetEditTextFloat(Field(kBinFieldID)), &clamped);
  if (clamped) {
    WriteField(kBinFieldID, kFormatBinSizeText, s->binWidth);
    Beep();
  }
  BinDistanceResults(*s, FrontCrystal());
  if (gDistanceWindowGraphViewRef && gDistanceWindowGraphViewRef->isVisible())
    gDistanceWindowGraphViewRef->update();
}

void UpdateBinSizeSlider() {
  const DistanceSearch *s = GetCurrentDistanceSearch();
  if (auto *slider = gDistanceWindow ? FindControl<QSlider>(gDistanceWindow, kBinSliderID) : nullptr) {
    const QSignalBlocker block(slider);
    slider->setValue(SliderFromBinWidth(s ? s->binWidth : gPrefs.distanceBinWidth));
  }
}

std::string DistanceGraphTipAt(const QPoint &point) {
  const DistanceSearch *s = GetCurrentDistanceSearch();
  if (!s || !gDistanceWindowGraphViewRef)
    return {};
  const QRectF plot = DistanceGraphPlotRect(QSizeF(gDistanceWindowGraphViewRef->size()));
  if (!plot.contains(QPointF(point)))
    return {};
  return DistanceBinTip(*s, point.x() - plot.left(), plot.width());
}

OSStatus DistanceWindowCommand(uint32_t command) {
  DistanceSearch *s = GetCurrentDistanceSearch();
  if (!s)
    return kEventNotHandledErr;
  auto toggle = [&](uint8_t &flag) {
    flag = !flag;
    DoDistanceSearchDrawGraph();
    return kNoErr;
  };
  switch (command) {
  case FourCharsToLong("+SFr"):
  case FourCharsToLong("-SFr"):
    DoDistanceWindowToggleFromCheckboxes(command == FourCharsToLong("+SFr"));
    return kNoErr;
  case FourCharsToLong("+STo"):
  case FourCharsToLong("-STo"):
    DoDistanceWindowToggleToCheckboxes(command == FourCharsToLong("+STo"));
    return kNoErr;
  case FourCharsToLong("Srch"):
    DoDistanceSearchPreview();
    return kNoErr;
  case FourCharsToLong("LOut"): {
    WindowRef front = FrontGraphWindow();
    const CrystalRec *c = FrontCrystal();
    if (s->haveResults && c && UsableSiteSize(*c) && UsableSphereSize(*c)) {
      WriteDistanceResultsToLog(*s, *c);
      DoShowOverviewLog();
      SubtitleWindowOutput(front);
    }
    return kNoErr;
  }
  case FourCharsToLong("Help"):
    MyOpenHelpPage("pages/DistanceExplorer.html");
    return kNoErr;
  case FourCharsToLong("tGpE"):
    s->groupByElement = FindControl<QCheckBox>(gDistanceWindow, kGroupBoxID)->isChecked();
    LoadFromBrowser();
    return kNoErr;
  case FourCharsToLong("tBUV"):
    return toggle(s->perUnitVolume);
  case FourCharsToLong("tLbl"):
    return toggle(s->showBinLabels);
  case FourCharsToLong("tElC"):
    return toggle(s->elementColours);
  case FourCharsToLong("tShd"):
    return toggle(s->dropShadow);
  case FourCharsToLong("tGrd"):
    return toggle(s->showGrid);
  case FourCharsToLong("cGrf"):
  case FourCharsToLong("xGrf"):
    ExportGraph(command == FourCharsToLong("cGrf"));
    return kNoErr;
  default:
    return kEventNotHandledErr;
  }
}

void InstallDistanceExplorer() {
  AddCommandHandler([](uint32_t command, const QVariant &) -> OSStatus {
    if (command != kCmdShowDistanceExplorer)
      return kEventNotHandledErr;
    DoShowDistanceWindow();
    return kNoErr;
  });
  AddWindowOpener([] {
    if (gPrefs.distanceWindowVisible)
      DoShowDistanceWindow();
  });
}
