#include "SiteBrowserView.h"

#include "InfoWindow.h"
#include "inspectors/InspectorKit.h"

#include "render/AtomStyles.h"
#include "window/MainWindowData.h"

#include "graphics/PixelBuffer.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QVBoxLayout>
#include <algorithm>
#include <map>

namespace {

constexpr int kRowHeight = 24;
constexpr int kAtomIconSize = 13;
const QColor kElementRowBackground(238, 238, 238); // 61166 in each channel
const QColor kElementRowLine(204, 204, 204);       // 52428

// Column order and titles; the info window shows all six.
struct ColumnInfo {
  uint32_t property;
  const char *title;
  int width;
};
const ColumnInfo kColumns[] = {{kSiteColumn, "Site", 110},    {kShowColumn, "Show", 44},
                               {kLabelColumn, "Label", 44},   {kColourColumn, "Colour", 54},
                               {kRadiusColumn, "Radius", 56}, {kCoordinationColumn, "CN", 120}};

std::map<WindowRef, QPointer<SiteBrowserView>> &SidebarBrowsers() {
  static std::map<WindowRef, QPointer<SiteBrowserView>> browsers;
  return browsers;
}

QColor ToQColor(const RGBColor &c) { return QColor::fromRgba64(c.red, c.green, c.blue); }

// The colour an atom type shows in its icon, and the picture of its sphere
// when that is large enough to scale down: the mean of the cached sphere
// image along its middle row and column, else the type's own colour.
struct IconLook {
  QColor colour;
  QImage sphere; // null: a plain ball
};

IconLook AtomIconLook(const SphereRecord &type) {
  IconLook look{ToQColor(type.colour), {}};
  const ovgfx::PixelBuffer *image = AtomImage(type);
  if (!image || image->Depth() != 32 || image->Width() < 1 || image->Height() < 1)
    return look;
  const Rect &b = image->Bounds();
  const int w = image->Width(), h = image->Height();
  const int midRow = b.top + h / 2, midColumn = b.left + w / 2;
  uint64_t red = 0, green = 0, blue = 0;
  const int n = std::min(w, h);
  for (int k = 0; k < n; k++)
    for (uint32_t p : {image->Pixel32(b.left + k, midRow), image->Pixel32(midColumn, b.top + k)}) {
      red += (p >> 16) & 0xFF;
      green += (p >> 8) & 0xFF;
      blue += p & 0xFF;
    }
  look.colour = QColor(int(red / (2 * n)), int(green / (2 * n)), int(blue / (2 * n)));
  if (w / kAtomIconSize > 1) { // more than 1.5 times the icon, in whole numbers
    look.sphere = QImage(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; y++)
      std::copy_n(image->Row32(b.top + y), w, reinterpret_cast<uint32_t *>(look.sphere.scanLine(y)));
  }
  return look;
}

// The atom icon: a ball in the atom type's colour with a soft shadow (the
// sphere's own picture inside it when it has one), or a ring for a hidden
// site.
QPixmap AtomIcon(const IconLook &look, bool visible) {
  QPixmap icon(kAtomIconSize + 3, kAtomIconSize + 3);
  icon.fill(Qt::transparent);
  QPainter p(&icon);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  const QRectF ball(0.5, 0.5, kAtomIconSize - 1, kAtomIconSize - 1);
  if (!visible) {
    p.setPen(QPen(look.colour, 2));
    p.drawEllipse(ball.adjusted(1, 1, -1, -1));
    return icon;
  }
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 60));
  p.drawEllipse(ball.translated(2, 2));
  if (!look.sphere.isNull()) {
    p.setBrush(look.colour);
    p.drawEllipse(ball);
    QPainterPath oval;
    oval.addEllipse(ball);
    p.setClipPath(oval);
    p.drawImage(ball, look.sphere);
    return icon;
  }
  QRadialGradient shade(ball.center() - QPointF(2.5, 2.5), kAtomIconSize * 0.75);
  shade.setColorAt(0.0, look.colour.lighter(160));
  shade.setColorAt(1.0, look.colour.darker(130));
  p.setBrush(shade);
  p.drawEllipse(ball);
  return icon;
}

Qt::CheckState CheckOf(int state) {
  return state == kCheckMixed ? Qt::PartiallyChecked : state == kCheckOn ? Qt::Checked : Qt::Unchecked;
}

} // namespace

// ---- Model ---------------------------------------------------------------------------

SiteBrowserModel::SiteBrowserModel(WindowRef window, bool showCoordination, QObject *parent)
    : QAbstractItemModel(parent), window_(window) {
  for (const ColumnInfo &c : kColumns)
    if (showCoordination || c.property != kCoordinationColumn)
      columns_.push_back(c.property);
}

WindowRef SiteBrowserModel::Window() const { return window_ ? window_ : FrontGraphWindow(); }

const CrystalRec *SiteBrowserModel::Crystal() const { return GetWindowCrystal(Window()); }

uint32_t SiteBrowserModel::ColumnProperty(int column) const {
  return column >= 0 && static_cast<size_t>(column) < columns_.size() ? columns_[static_cast<size_t>(column)] : 0;
}

int SiteBrowserModel::ColumnOf(uint32_t property) const {
  auto it = std::find(columns_.begin(), columns_.end(), property);
  return it == columns_.end() ? -1 : static_cast<int>(it - columns_.begin());
}

void SiteBrowserModel::HideCoordinationColumn() {
  const int column = ColumnOf(kCoordinationColumn);
  if (column < 0)
    return;
  beginRemoveColumns({}, column, column);
  columns_.erase(columns_.begin() + column);
  endRemoveColumns();
}

void SiteBrowserModel::SortRows() {
  const CrystalRec *c = Crystal();
  if (!c)
    return;
  const uint32_t property = sortProperty_;
  auto less = [c, property, this](uint32_t a, uint32_t b) {
    return sortOrder_ == Qt::AscendingOrder ? SiteBrowserCompare(c, a, b, property)
                                            : SiteBrowserCompare(c, b, a, property);
  };
  std::stable_sort(rows_.begin(), rows_.end(),
                   [&less](const SiteBrowserRow &a, const SiteBrowserRow &b) { return less(a.item, b.item); });
  for (SiteBrowserRow &row : rows_)
    std::stable_sort(row.children.begin(), row.children.end(), less);
}

void SiteBrowserModel::Refill(std::vector<SiteBrowserRow> rows) {
  icons_.clear();
  std::vector<SiteBrowserRow> old = std::move(rows_);
  rows_ = std::move(rows);
  SortRows();
  const bool same = old.size() == rows_.size() && std::equal(old.begin(), old.end(), rows_.begin(),
                                                             [](const SiteBrowserRow &a, const SiteBrowserRow &b) {
                                                               return a.item == b.item && a.children == b.children;
                                                             });
  if (same) {
    if (rows_.empty())
      return;
    const int last = columnCount() - 1;
    emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, last));
    for (size_t r = 0; r < rows_.size(); r++)
      if (!rows_[r].children.empty()) {
        const QModelIndex parent = index(static_cast<int>(r), 0);
        emit dataChanged(index(0, 0, parent), index(static_cast<int>(rows_[r].children.size()) - 1, last, parent));
      }
    return;
  }
  // The new rows are in place already; the reset tells the views.
  std::swap(old, rows_);
  beginResetModel();
  rows_ = std::move(old);
  endResetModel();
}

uint32_t SiteBrowserModel::ItemOf(const QModelIndex &index) const {
  if (!index.isValid())
    return 0;
  const quintptr parent = index.internalId();
  if (parent == 0)
    return static_cast<size_t>(index.row()) < rows_.size() ? rows_[static_cast<size_t>(index.row())].item : 0;
  const SiteBrowserRow &row = rows_[parent - 1];
  return static_cast<size_t>(index.row()) < row.children.size() ? row.children[static_cast<size_t>(index.row())] : 0;
}

QModelIndex SiteBrowserModel::IndexOf(uint32_t item, int column) const {
  for (size_t r = 0; r < rows_.size(); r++) {
    if (rows_[r].item == item)
      return index(static_cast<int>(r), column);
    const auto &children = rows_[r].children;
    auto it = std::find(children.begin(), children.end(), item);
    if (it != children.end())
      return createIndex(static_cast<int>(it - children.begin()), column, static_cast<quintptr>(r + 1));
  }
  return {};
}

QModelIndex SiteBrowserModel::index(int row, int column, const QModelIndex &parent) const {
  if (row < 0 || column < 0 || column >= columnCount())
    return {};
  if (!parent.isValid())
    return static_cast<size_t>(row) < rows_.size() ? createIndex(row, column, quintptr(0)) : QModelIndex();
  if (parent.internalId() != 0 || static_cast<size_t>(parent.row()) >= rows_.size())
    return {};
  const SiteBrowserRow &p = rows_[static_cast<size_t>(parent.row())];
  return static_cast<size_t>(row) < p.children.size()
             ? createIndex(row, column, static_cast<quintptr>(parent.row()) + 1)
             : QModelIndex();
}

QModelIndex SiteBrowserModel::parent(const QModelIndex &child) const {
  if (!child.isValid() || child.internalId() == 0)
    return {};
  return createIndex(static_cast<int>(child.internalId() - 1), 0, quintptr(0));
}

int SiteBrowserModel::rowCount(const QModelIndex &parent) const {
  if (!parent.isValid())
    return static_cast<int>(rows_.size());
  if (parent.internalId() != 0 || parent.column() != 0 || static_cast<size_t>(parent.row()) >= rows_.size())
    return 0;
  return static_cast<int>(rows_[static_cast<size_t>(parent.row())].children.size());
}

int SiteBrowserModel::columnCount(const QModelIndex &) const { return static_cast<int>(columns_.size()); }

QVariant SiteBrowserModel::data(const QModelIndex &index, int role) const {
  const CrystalRec *c = Crystal();
  if (!index.isValid() || !c)
    return {};
  const uint32_t item = ItemOf(index);
  const uint32_t property = ColumnProperty(index.column());
  const bool element = IsElementItem(item);
  switch (role) {
  case Qt::DisplayRole:
    if (property == kSiteColumn)
      return QString::fromStdString(SiteBrowserSiteText(c, item));
    if (property == kRadiusColumn)
      return QString::fromStdString(SiteBrowserRadiusText(c, item));
    if (property == kCoordinationColumn)
      return QString::fromStdString(SiteBrowserCoordinationText(c, item));
    return {};
  case Qt::EditRole:
    if (property == kRadiusColumn)
      return QString::fromStdString(SiteBrowserRadiusText(c, item)).trimmed();
    return {};
  case Qt::CheckStateRole:
    if (property == kShowColumn)
      return CheckOf(SiteBrowserShowState(c, item));
    if (property == kLabelColumn)
      return CheckOf(SiteBrowserLabelState(c, item));
    return {};
  case Qt::DecorationRole:
    if (property == kSiteColumn && !element) {
      const int32_t type = SiteBrowserRowAtomType(c, item);
      if (type < 0)
        return {};
      // Icons are made once per look between refills: a sphere picture can
      // be large.
      const SphereRecord &sphere = c->spheres[static_cast<size_t>(type)];
      const bool visible = c->sites[static_cast<size_t>(ItemSite(item))].visible != 0;
      const IconKey key{sphere.image1.get(), sphere.colour.red, sphere.colour.green, sphere.colour.blue, visible};
      auto cached = icons_.find(key);
      if (cached == icons_.end())
        cached = icons_.emplace(key, AtomIcon(AtomIconLook(sphere), visible)).first;
      return cached->second;
    }
    return {};
  case Qt::UserRole:
    if (property == kColourColumn) {
      RGBColor colour;
      if (SiteBrowserRowColour(c, item, &colour))
        return ToQColor(colour);
    }
    return {};
  case Qt::BackgroundRole:
    return element ? QVariant(kElementRowBackground) : QVariant();
  case Qt::FontRole:
    if (element) {
      QFont font("DejaVu Sans", 10);
      font.setBold(true);
      return font;
    }
    return {};
  case Qt::TextAlignmentRole:
    return property == kRadiusColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
  default:
    return {};
  }
}

bool SiteBrowserModel::setData(const QModelIndex &index, const QVariant &value, int role) {
  if (!index.isValid())
    return false;
  const uint32_t item = ItemOf(index);
  const uint32_t property = ColumnProperty(index.column());
  WindowRef window = Window();
  int32_t status = kDataBrowserPropertyNotSupported;
  if (role == Qt::CheckStateRole && property == kShowColumn)
    status = SiteBrowserSetShow(window, item, value.toInt() == Qt::Unchecked ? 0 : 1);
  else if (role == Qt::CheckStateRole && property == kLabelColumn)
    status = SiteBrowserSetLabel(window, item, value.toInt() == Qt::Unchecked ? 0 : 1);
  else if (role == Qt::EditRole && property == kRadiusColumn)
    status = SiteBrowserSetRadius(window, item, value.toString().toStdString());
  // The cell shows the stored value again, changed or not.
  const QModelIndex cell = IndexOf(item, index.column());
  if (cell.isValid())
    emit dataChanged(cell, cell);
  return status == 0;
}

Qt::ItemFlags SiteBrowserModel::flags(const QModelIndex &index) const {
  if (!index.isValid())
    return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  const uint32_t property = ColumnProperty(index.column());
  if (!SiteBrowserCellEditable(ItemOf(index), property) || !SiteBrowserCanServe(Window()))
    return f;
  if (property == kShowColumn || property == kLabelColumn)
    f |= Qt::ItemIsUserCheckable;
  if (property == kRadiusColumn)
    f |= Qt::ItemIsEditable;
  return f;
}

QVariant SiteBrowserModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return {};
  const uint32_t property = ColumnProperty(section);
  for (const ColumnInfo &c : kColumns)
    if (c.property == property)
      return QString(c.title);
  return {};
}

void SiteBrowserModel::sort(int column, Qt::SortOrder order) {
  const uint32_t property = ColumnProperty(column);
  if (!property)
    return;
  emit layoutAboutToBeChanged();
  const QModelIndexList before = persistentIndexList();
  std::vector<uint32_t> items;
  for (const QModelIndex &i : before)
    items.push_back(ItemOf(i));
  sortProperty_ = property;
  sortOrder_ = order;
  SortRows();
  QModelIndexList after;
  for (size_t k = 0; k < items.size(); k++)
    after.push_back(IndexOf(items[k], before[static_cast<qsizetype>(k)].column()));
  changePersistentIndexList(before, after);
  emit layoutChanged();
}

// ---- Delegate ------------------------------------------------------------------------

QRect SiteBrowserDelegate::SwatchRect(const QRect &cell) { return cell.adjusted(6, 3, -6, -3); }

void SiteBrowserDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const {
  const auto *model = qobject_cast<const SiteBrowserModel *>(index.model());
  QStyledItemDelegate::paint(painter, option, index);
  if (!model)
    return;
  const uint32_t item = model->ItemOf(index);
  if (IsElementItem(item)) {
    painter->save();
    painter->setPen(kElementRowLine);
    painter->drawLine(option.rect.topLeft(), option.rect.topRight());
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    painter->restore();
  }
  if (model->ColumnProperty(index.column()) == kColourColumn) {
    const QVariant colour = index.data(Qt::UserRole);
    if (!colour.isValid())
      return;
    const QColor q = colour.value<QColor>();
    const QRgba64 c = q.rgba64();
    auto *widget = const_cast<QWidget *>(option.widget);
    const RGBColor rgb{c.red(), c.green(), c.blue()};
    if (widget)
      MyDrawColorButton(*painter, widget, SwatchRect(option.rect), rgb, pressed_ == index);
    else
      MyDrawColorButtonContents(*painter, SwatchRect(option.rect), rgb);
  }
}

QSize SiteBrowserDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  size.setHeight(kRowHeight);
  return size;
}

bool SiteBrowserDelegate::editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                                      const QModelIndex &index) {
  auto *browserModel = qobject_cast<SiteBrowserModel *>(model);
  if (!browserModel || browserModel->ColumnProperty(index.column()) != kColourColumn)
    return QStyledItemDelegate::editorEvent(event, model, option, index);
  if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease)
    return false;
  const auto *mouse = static_cast<QMouseEvent *>(event);
  const bool inside = SwatchRect(option.rect).contains(mouse->position().toPoint());
  if (event->type() == QEvent::MouseButtonPress) {
    pressed_ = inside && index.data(Qt::UserRole).isValid() ? QPersistentModelIndex(index) : QPersistentModelIndex();
    return inside;
  }
  const bool hit = pressed_ == index && inside;
  pressed_ = QPersistentModelIndex();
  if (hit) {
    const uint32_t item = browserModel->ItemOf(index);
    SiteBrowserChooseColour(browserModel->Window(), item);
  }
  return hit;
}

// ---- View ----------------------------------------------------------------------------

void SiteBrowserView::mousePressEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton || !(event->modifiers() & Qt::ControlModifier)) {
    QTreeView::mousePressEvent(event);
    return;
  }
  // The list has no menu of its own: the event goes up to the pane that
  // holds it, as a secondary click's does.
  QContextMenuEvent menu(QContextMenuEvent::Mouse, event->position().toPoint(), event->globalPosition().toPoint(),
                         event->modifiers());
  QCoreApplication::sendEvent(viewport(), &menu);
  event->accept();
}

SiteBrowserView::SiteBrowserView(WindowRef window, bool showCoordination, QWidget *parent)
    : QTreeView(parent), model_(new SiteBrowserModel(window, showCoordination, this)) {
  setModel(model_);
  setItemDelegate(new SiteBrowserDelegate(this));
  connect(this, &QTreeView::expanded, this, [this](const QModelIndex &index) {
    const uint32_t item = model_->ItemOf(index);
    if (!refilling_ && IsElementItem(item))
      SetInfoBrowserContainerOpen(model_->Window(), static_cast<ElementCode>(item), true);
  });
  connect(this, &QTreeView::collapsed, this, [this](const QModelIndex &index) {
    const uint32_t item = model_->ItemOf(index);
    if (!refilling_ && IsElementItem(item))
      SetInfoBrowserContainerOpen(model_->Window(), static_cast<ElementCode>(item), false);
  });
}

void SiteBrowserView::Refill() {
  std::vector<SiteBrowserRow> rows;
  WindowRef window = model_->Window();
  BuildSiteBrowserRows(window, &rows);
  refilling_ = true;
  model_->Refill(std::move(rows));
  for (int r = 0; r < model_->rowCount(); r++) {
    const QModelIndex index = model_->index(r, 0);
    const uint32_t item = model_->ItemOf(index);
    if (IsElementItem(item))
      setExpanded(index, InfoBrowserContainerOpen(window, static_cast<ElementCode>(item)));
  }
  refilling_ = false;
}

void InitSiteBrowser(SiteBrowserView *browser) {
  if (!browser)
    return;
  browser->setFont(QFont("DejaVu Sans", 10));
  browser->setUniformRowHeights(true);
  browser->setSortingEnabled(true);
  browser->sortByColumn(0, Qt::AscendingOrder);
  browser->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  browser->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  browser->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  browser->setSelectionMode(QAbstractItemView::SingleSelection);
  browser->setAutoScroll(true);
  browser->setIconSize(QSize(kAtomIconSize + 3, kAtomIconSize + 3));
  SiteBrowserModel *model = browser->Model();
  for (int column = 0; column < model->columnCount(); column++)
    for (const ColumnInfo &c : kColumns)
      if (c.property == model->ColumnProperty(column))
        browser->setColumnWidth(column, c.width);
  browser->header()->setStretchLastSection(true);
}

// Room beside a column title in the header (the section's padding).
constexpr int kHeaderTitleMargin = 12;

void SiteBrowserHideCNColumn(SiteBrowserView *browser) {
  if (!browser)
    return;
  browser->Model()->HideCoordinationColumn();
  // The sidebar is narrow: tight columns, but never narrower than their
  // titles; the radius takes what is left.
  const int widths[] = {86, 34, 36, 34};
  browser->setIndentation(12);
  for (int column = 0; column < 4 && column < browser->Model()->columnCount(); column++)
  {
    const QString title = browser->Model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    const int titleWidth = browser->header()->fontMetrics().horizontalAdvance(title) + kHeaderTitleMargin;
    browser->setColumnWidth(column, std::max(widths[column], titleWidth));
  }
}

SiteBrowserView *GetGraphicsWindowSiteBrowserView(WindowRef window) {
  auto &browsers = SidebarBrowsers();
  auto it = browsers.find(window);
  if (it == browsers.end())
    return nullptr;
  if (!it->second) {
    browsers.erase(it);
    return nullptr;
  }
  return it->second;
}

WindowRef GetGraphicsWindowFromBrowser(const SiteBrowserView *browser) {
  return browser ? browser->Model()->Window() : nullptr;
}

void InitAtomsPaneBrowser(WindowRef window, QWidget *atomsContainer) {
  if (!atomsContainer || !GetMainWindowData(window))
    return;
  auto *browser = new SiteBrowserView(window, true, atomsContainer);
  browser->setObjectName("siteBrowser");
  browser->setProperty("controlID", 2);
  auto *layout = qobject_cast<QVBoxLayout *>(atomsContainer->layout());
  if (!atomsContainer->layout()) {
    layout = new QVBoxLayout(atomsContainer);
    layout->setContentsMargins(0, 0, 0, 0);
  }
  if (layout)
    layout->addWidget(browser);
  else
    atomsContainer->layout()->addWidget(browser);
  InitSiteBrowser(browser);
  SiteBrowserHideCNColumn(browser);
  SidebarBrowsers()[window] = browser;
  GetMainWindowData(window)->siteBrowser = browser;
}

void DoUpdateSiteBrowser(WindowRef window) {
  SiteBrowserView *sidebar = GetGraphicsWindowSiteBrowserView(window);
  SiteBrowserView *info = window && window == FrontGraphWindow() ? GetInfoWindowSiteBrowser() : nullptr;
  if (GetMainWindowData(window))
    VerifyInfoDataList(window);
  if (sidebar)
    sidebar->Refill();
  if (info)
    info->Refill();
  if (GetWindowCrystal(window) && IsWindowFileOpen(window) && !GetWindowCrystal(window)->spheres.empty())
    DrawInfoStatusbar();
}
