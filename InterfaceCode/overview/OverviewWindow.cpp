#include "overview/OverviewWindow.h"
#include "overview/OverviewPanes.h"
#include "overview/OverviewPrivate.h"
#include "ui_Overview.h"

#include "inspectors/InspectorKit.h"
#include "shell/LogStore.h"
#include "structurewindow/MainWindow.h"

#include "LocalizedStrings.h"
#include "Preferences.h"
#include "documents/CacheDocuments.h"
#include "documents/CrystalDocument.h"
#include "window/MainWindowData.h"

#include <deque>
#include <set>

#include <QApplication>
#include <QTimer>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>
#include <QTextBlock>
#include <QTextEdit>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>

#include <algorithm>
#include <cmath>

uint16_t gOverviewTabChoice = kViewsTab;
int gThumbnailWidth = 96;
int gTargetThumbnailWidth = 96;
CachedFileRecord *gSelectedCachePtr = nullptr;
uint8_t gOverviewPlayInProgress = 0;
const char *const gCacheDescription[6] = {"unknown view", "favourite file", "view", "undo state", "recent file", ""};
OverviewHooks gOverviewHooks;

namespace {

QPointer<OverviewWindow> gWindow;
ThumbnailLayout gLayout;
// The state last applied to the structure windows' Play items.
bool gSavePlayButtonKnown = false;
bool gSavePlayButtonEnabled = false;
WindowRef gSavePlayButtonWindow = nullptr;

// Grey levels of the drawing.
constexpr float kPaneGrey = 0.969f;
constexpr float kSlotGrey = 0.9333f;
constexpr float kSeparatorGrey = 0.7333f;
const QColor kAnthracite(102, 102, 102); // kRGBAnthracite
const QColor kCosmos(0x51, 0x51, 0x51);  // caption text
const QColor kMissingFileCaption(0xC8, 0x10, 0x10); // the caption of a favourite whose file is gone

struct EmptyHint {
  const char *title;
  const char *hint;
};
const EmptyHint kEmptyHints[5] = {
    {"", ""},
    {"Organize your favourite files",
     "Drag files & folders into this pane from the file manager.\nDrag thumbnails to rearrange them"},
    {"Work with multiple views in the same window", "Drag files & folders into this pane from the file manager - or "
                                                    "click\nthe + button below to add structure files.\nDrag "
                                                    "thumbnails to rearrange them"},
    {"Review the stages of your work", "Your undo states will be displayed here\nfor easy access as you work"},
    {"Review your recent files", "Recently-opened files are displayed here"},
};

// The two zoom pictures: a small and a large magnifier.
QPixmap ZoomPicture(bool larger) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kAnthracite, 1.5));
  const double r = larger ? 5.0 : 3.0;
  p.drawEllipse(QPointF(7, 7), r, r);
  p.drawLine(QPointF(7 + r * 0.7, 7 + r * 0.7), QPointF(14, 14));
  return pixmap;
}

QIcon AddIcon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setPen(QPen(kAnthracite, 2));
  p.drawLine(8, 3, 8, 13);
  p.drawLine(3, 8, 13, 8);
  return QIcon(pixmap);
}

QIcon ActionIcon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kAnthracite, 1.5));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(8, 8), 5, 5);
  p.setBrush(kAnthracite);
  p.drawEllipse(QPointF(8, 8), 1.6, 1.6);
  return QIcon(pixmap);
}

bool ThumbnailTab() { return gOverviewTabChoice >= kFavouritesTab && gOverviewTabChoice <= kRecentTab; }

GridBox PaneBox() {
  if (!gWindow)
    return {};
  const QSize s = gWindow->pane->size();
  return GridBox{0, 0, s.width(), s.height()};
}

} // namespace

// ---- The window -------------------------------------------------------------------------

OverviewWindow::OverviewWindow() : QWidget(nullptr, Qt::Tool) {
  ui = new Ui::Overview;
  ui->setupUi(this);
  tabs = ui->tabs;
  pane = ui->thumbnails;
  scroll = ui->thumbnailScroll;
  slider = ui->sizeSlider;
  caption = ui->captionField;
  log = ui->logText;
  logFrame = ui->logScroll;
  status = ui->statusPane;
  zoomSmaller = ui->zoomSmaller;
  zoomLarger = ui->zoomLarger;
  addButton = ui->addButton;
  actionButton = ui->actionButton;
  for (const char *name : {"Favourites", "Views", "History", "Recent", "Log"})
    tabs->addTab(QString::fromLatin1(name));
  tabs->setDocumentMode(true);
  caption->setParent(pane);
  caption->hide();
  caption->installEventFilter(this);
  pane->setMouseTracking(true);
  pane->setAcceptDrops(true);
  pane->setFocusPolicy(Qt::StrongFocus);
  setFocusProxy(pane);
}

OverviewWindow::~OverviewWindow() { delete ui; }

void OverviewWindow::closeEvent(QCloseEvent *event) {
  event->ignore();
  hide();
}

bool OverviewWindow::event(QEvent *e) {
  if (e->type() == QEvent::WindowDeactivate && !gOverviewPlayInProgress && !IsThumbnailEditing()) {
    // Losing the focus to another window clears the selection; not to a
    // structure window, which a thumbnail was just loaded into.
    QTimer::singleShot(0, this, [] {
      QWidget *active = QApplication::activeWindow();
      if (gWindow && active != gWindow && !qobject_cast<MainWindow *>(active) && !OverviewTracking()) {
        gSelectedCachePtr = nullptr;
        DrawThumbnails();
      }
    });
  }
  return QWidget::event(e);
}

void OverviewWindow::keyPressEvent(QKeyEvent *event) {
  if (HandleOverviewKey(event->key(), event->modifiers()))
    return;
  QWidget::keyPressEvent(event);
}

bool OverviewWindow::eventFilter(QObject *watched, QEvent *e) {
  if (watched == caption && e->type() == QEvent::KeyPress) {
    auto *key = static_cast<QKeyEvent *>(e);
    if (HandleOverviewKey(key->key(), key->modifiers()))
      return true;
  }
  return QWidget::eventFilter(watched, e);
}

bool HandleOverviewKey(int key, Qt::KeyboardModifiers) {
  if (IsThumbnailEditing()) {
    switch (key) {
    case Qt::Key_Tab: {
      const int n = GetNumThumbnails();
      const int index = GetRectIDWithCachePtr(gSelectedCachePtr);
      SaveThumbnailEditing();
      EndThumbnailEditing();
      if (n > 0)
        BeginThumbnailEditing(index + 1 < n ? index + 1 : 0);
      return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
      SaveThumbnailEditing();
      EndThumbnailEditing();
      return true;
    case Qt::Key_Escape:
      EndThumbnailEditing();
      return true;
    default:
      return false;
    }
  }
  if (!ThumbnailTab() || !ValidSelection())
    return false;
  if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
    DoDeleteSelectedThumbnail();
    return true;
  }
  int delta = 0;
  switch (key) {
  case Qt::Key_Left:
    delta = -1;
    break;
  case Qt::Key_Right:
    delta = 1;
    break;
  case Qt::Key_Up:
    delta = -gLayout.columns;
    break;
  case Qt::Key_Down:
    delta = gLayout.columns;
    break;
  default:
    return false;
  }
  const int index = GetRectIDWithCachePtr(gSelectedCachePtr) + delta;
  if (index < 0 || index >= GetNumThumbnails())
    return true;
  SelectThumbnail(index);
  DoScrollThumbnailsToSelection();
  DoLoadFromCache(gSelectedCachePtr, false);
  return true;
}

OverviewWindow *GetOverviewWindow() { return gWindow; }
bool IsOverviewWindowVisible() { return gWindow && gWindow->isVisible(); }

int InitOverviewWindow() {
  if (gWindow)
    return 0;
  auto *w = new OverviewWindow;
  gWindow = w;
  gOverviewTabChoice = gPrefs.overviewTabChoice;
  SetOverviewThumbnailHeight(gPrefs.thumbnailHeight);
  gTargetThumbnailWidth = gThumbnailWidth;
  QObject::connect(w->tabs, &QTabBar::tabBarClicked, w, [](int index) {
    static const uint32_t codes[] = {kCmdTabFavourites, kCmdTabViews, kCmdTabHistory, kCmdTabRecent, kCmdTabLog};
    if (index >= 0 && index < 5)
      OverviewWindowCommand(codes[index]);
  });
  w->addButton->setIcon(AddIcon());
  w->actionButton->setIcon(ActionIcon());
  w->actionButton->setMenu(OverviewContextMenu());
  ConnectPaneCommands(w, [](uint32_t code) { return OverviewWindowCommand(code); });
  if (LogStore *store = GetLogStore()) {
    w->log->setDocument(store->Document());
    w->log->document()->setDocumentMargin(8);
    QObject::connect(store, &LogStore::Appended, w, [] {
      if (!gWindow)
        return;
      QScrollBar *bar = gWindow->log->verticalScrollBar();
      if (bar->value() >= bar->maximum() - 2 * bar->singleStep())
        bar->setValue(bar->maximum());
      if (gOverviewTabChoice == kLogTab)
        gWindow->status->update();
    });
    QObject::connect(store, &LogStore::ScrollToTopRequested, w, [] {
      if (!gWindow)
        return;
      gWindow->log->moveCursor(QTextCursor::Start);
      gWindow->log->ensureCursorVisible();
    });
  }
  QObject::connect(w->scroll, &QScrollBar::valueChanged, w, [](int) {
    UpdateThumbnailRects();
    if (gWindow)
      gWindow->pane->update();
  });
  QObject::connect(w->slider, &QSlider::valueChanged, w, [](int value) {
    if (!gWindow || gWindow->syncingSlider)
      return;
    const int width = ThumbnailWidthForSlider(PaneBox().Width(), value, gThumbnailWidth);
    if (width == gThumbnailWidth)
      return;
    gThumbnailWidth = width;
    gTargetThumbnailWidth = width;
    gPrefs.thumbnailHeight = GetOverviewThumbnailHeight();
    UpdateThumbnailRects();
    DrawThumbnails();
  });
  w->zoomSmaller->setPixmap(ZoomPicture(false));
  w->zoomLarger->setPixmap(ZoomPicture(true));
  w->resize(440, 360);
  RegisterFloatingWindow(
      {w, &gPrefs.overviewBounds, &gPrefs.overviewVisible, [] { UpdateOverviewWindow(); }, true, {}});
  UpdateThumbnailsSlider();
  return 0;
}

void DoShowOverviewWindow() {
  if (InitOverviewWindow() != 0 || !gWindow)
    return;
  OverviewWindow *w = gWindow;
  const int control = w->tabs->currentIndex() + 1;
  if (control != gOverviewTabChoice) {
    if (gOverviewTabChoice >= 1 && gOverviewTabChoice <= 5)
      w->tabs->setCurrentIndex(gOverviewTabChoice - 1);
    else
      gOverviewTabChoice = uint16_t(control);
    gSelectedCachePtr = nullptr;
  }
  gPrefs.overviewTabChoice = gOverviewTabChoice;
  const bool thumbnails = ThumbnailTab();
  w->logFrame->setVisible(!thumbnails);
  for (QWidget *c :
       {static_cast<QWidget *>(w->pane), static_cast<QWidget *>(w->scroll), static_cast<QWidget *>(w->slider),
        static_cast<QWidget *>(w->zoomSmaller), static_cast<QWidget *>(w->zoomLarger)})
    c->setVisible(thumbnails);
  if (thumbnails) {
    w->scroll->setValue(0);
    UpdateThumbnailRects();
  }
  w->show();
  w->raise();
  w->activateWindow();
  DrawThumbnails();
  DrawStatusbar();
}

void ToggleShowOverviewWindow() {
  if (gWindow && gWindow->isVisible())
    gWindow->hide();
  else
    DoShowOverviewWindow();
}

void DoOverviewTabChoice(uint16_t tab) {
  if (IsThumbnailEditing())
    EndThumbnailEditing();
  gOverviewTabChoice = tab;
  gPrefs.overviewTabChoice = tab;
  gSelectedCachePtr = nullptr;
  DoShowOverviewWindow();
}

void SetOverviewTabChoice(uint16_t tab) { gOverviewTabChoice = tab; }
uint16_t GetOverviewTabChoice() { return gOverviewTabChoice; }
void SetOverviewThumbnailHeight(uint16_t height) { gThumbnailWidth = height * 4 / 3; }
uint16_t GetOverviewThumbnailHeight() { return uint16_t(gThumbnailWidth * 3 / 4); }
bool IsOverviewFavouritesPaneVisible() { return gOverviewTabChoice == kFavouritesTab; }
bool IsOverviewViewsPaneVisible() { return gOverviewTabChoice == kViewsTab; }
bool IsOverviewHistoryPaneVisible() { return gOverviewTabChoice == kHistoryTab; }
bool IsOverviewRecentPaneVisible() { return gOverviewTabChoice == kRecentTab; }
bool IsOverviewLogVisible() { return gOverviewTabChoice == kLogTab; }
bool OverviewLogShowing() { return gWindow && gWindow->isVisible() && IsOverviewLogVisible(); }

void UpdateOverviewWindow() {
  if (!ThumbnailTab())
    return;
  UpdateThumbnailRects();
  DrawThumbnails();
}

namespace {
void RedrawTab(uint16_t tab) {
  if (gOverviewTabChoice != tab)
    return;
  UpdateThumbnailRects();
  DrawThumbnails();
}
} // namespace

void DrawOverviewFavouriteThumbnails() { RedrawTab(kFavouritesTab); }
void DrawOverviewRecentThumbnails() { RedrawTab(kRecentTab); }
void DrawOverviewHistoryThumbnails() { RedrawTab(kHistoryTab); }
void DrawOverviewViewThumbnails() { RedrawTab(kViewsTab); }

void RecordOverviewWindowPrefs() {
  gPrefs.overviewTabChoice = gOverviewTabChoice;
  gPrefs.thumbnailHeight = GetOverviewThumbnailHeight();
}

// ---- The status bar ---------------------------------------------------------------------

std::string OverviewStatusText() {
  char text[96];
  if (ThumbnailTab()) {
    const int n = GetNumThumbnails();
    const char *d = gCacheDescription[gOverviewTabChoice];
    if (n == 0)
      std::snprintf(text, sizeof text, "No %ss", d);
    else if (n == 1)
      std::snprintf(text, sizeof text, "1 %s", d);
    else
      std::snprintf(text, sizeof text, "%d %ss", n, d);
    return text;
  }
  if (gOverviewTabChoice == kLogTab && GetLogStore()) {
    QTextDocument *doc = GetLogStore()->Document();
    int lines = doc->blockCount();
    if (lines > 0 && doc->lastBlock().text().isEmpty())
      lines--;
    std::snprintf(text, sizeof text, "%d lines", lines);
    return text;
  }
  return {};
}

namespace {

// The Play items of the structure windows' toolbars follow the tab.
void UpdatePlayToolbarItems() {
  WindowRef front = FrontGraphWindow();
  if (!front)
    return;
  const char *label = nullptr;
  bool enabled = false;
  if (gOverviewTabChoice == kFavouritesTab) {
    label = "Play_Favourites";
    enabled = GetNumFavouriteFiles() > 0;
  } else if (gOverviewTabChoice == kViewsTab) {
    label = "Play_Views";
    enabled = GetWindowViews(front) != nullptr;
  }
  if (gSavePlayButtonKnown && enabled == gSavePlayButtonEnabled && front == gSavePlayButtonWindow && !label)
    return;
  if (gOverviewHooks.setToolbarItem) {
    const std::string text = label ? OVLocalizedString(label) : std::string();
    HostServices *host = GetHostServices();
    for (WindowRef w : host ? host->StructureWindows() : std::vector<WindowRef>{}) {
      const bool on = gOverviewTabChoice == kViewsTab ? GetWindowViews(w) != nullptr : enabled;
      gOverviewHooks.setToolbarItem(w, kCmdPlay, on, label ? text.c_str() : nullptr);
    }
  }
  gSavePlayButtonKnown = true;
  gSavePlayButtonEnabled = enabled;
  gSavePlayButtonWindow = front;
}

} // namespace

void DrawStatusbar() {
  if (!gWindow)
    return;
  gWindow->status->update();
  gWindow->addButton->setEnabled(gOverviewTabChoice == kFavouritesTab || gOverviewTabChoice == kViewsTab);
  gWindow->pane->update();
  UpdatePlayToolbarItems();
}

StatusPane::StatusPane(QWidget *parent) : QWidget(parent) {}

void StatusPane::paintEvent(QPaintEvent *) {
  QPainter p(this);
  QFont font = p.font();
  font.setPointSizeF(9);
  p.setFont(font);
  const QString text = QString::fromStdString(OverviewStatusText());
  const int width = p.fontMetrics().horizontalAdvance(text);
  if (width > this->width() - 2)
    return;
  p.fillRect(rect().adjusted(1, 2, -1, 0), palette().window());
  p.setPen(kAnthracite);
  p.drawText(rect().adjusted(0, 4, 0, 0), Qt::AlignHCenter | Qt::AlignTop, text);
}

// ---- Lists ------------------------------------------------------------------------------

namespace {
// While playback or a batch runs in a window of its own, the Views and
// History tabs stay with the window they were started from.
QPointer<MainWindow> gListWindow;
} // namespace

WindowRef OverviewListWindow() { return gListWindow ? gListWindow->Ref() : FrontGraphWindow(); }
void SetOverviewListWindow(WindowRef window) { gListWindow = GetMainWindow(window); }

CachedFileRecord *GetCurrentWindowCache() {
  switch (gOverviewTabChoice) {
  case kFavouritesTab:
    return gPrefs.favouriteFiles;
  case kViewsTab:
    return GetWindowViews(OverviewListWindow());
  case kHistoryTab:
    return GetWindowHistory(OverviewListWindow());
  case kRecentTab:
    return gPrefs.recentFiles;
  default:
    return nullptr;
  }
}

void SetCurrentWindowCache(CachedFileRecord *head) {
  switch (gOverviewTabChoice) {
  case kFavouritesTab:
    gPrefs.favouriteFiles = head;
    break;
  case kViewsTab:
    SetWindowViews(OverviewListWindow(), head);
    break;
  case kHistoryTab:
    SetWindowHistory(OverviewListWindow(), head);
    break;
  case kRecentTab:
    gPrefs.recentFiles = head;
    break;
  default:
    break;
  }
}

int GetNumThumbnails() {
  if (!ThumbnailTab())
    return 0;
  const int n = NumFilesInCache(GetCurrentWindowCache());
  if (gOverviewTabChoice == kHistoryTab)
    return n > 0 ? n - 1 : 0;
  return n;
}

CachedFileRecord *GetCachePtrWithRectID(int index) {
  if (index < 0 || !ThumbnailTab())
    return nullptr;
  CachedFileRecord *n = GetCurrentWindowCache();
  if (gOverviewTabChoice == kHistoryTab && n)
    n = n->next;
  for (; n && index > 0; index--)
    n = n->next;
  return n;
}

int GetRectIDWithCachePtr(const CachedFileRecord *record) {
  if (!record || !ThumbnailTab())
    return -1;
  const CachedFileRecord *n = GetCurrentWindowCache();
  if (gOverviewTabChoice == kHistoryTab && n)
    n = n->next;
  for (int i = 0; n; n = n->next, i++)
    if (n == record)
      return i;
  return -1;
}

CachedFileRecord *ValidSelection() {
  if (gSelectedCachePtr && GetRectIDWithCachePtr(gSelectedCachePtr) < 0)
    gSelectedCachePtr = nullptr;
  return gSelectedCachePtr;
}

void SelectThumbnail(int index) {
  gSelectedCachePtr = GetCachePtrWithRectID(index);
  if (gWindow)
    gWindow->pane->update();
}

// ---- Layout -----------------------------------------------------------------------------

const ThumbnailLayout &CurrentThumbnailLayout() { return gLayout; }
int ThumbnailScrollValue() { return gWindow ? gWindow->scroll->value() : 0; }

void UpdateThumbnailRects() {
  if (!gWindow || !ThumbnailTab())
    return;
  const GridBox pane = PaneBox();
  if (gThumbnailWidth > pane.Width() - 16 && pane.Width() > 16)
    gThumbnailWidth = pane.Width() - 16;
  gLayout = LayoutThumbnails(pane, gThumbnailWidth, GetNumThumbnails(), gWindow->scroll->value());
}

void UpdateThumbnailsSlider() {
  if (!gWindow)
    return;
  const SliderSetting s = ThumbnailSlider(PaneBox().Width(), gThumbnailWidth);
  gWindow->syncingSlider = true;
  gWindow->slider->setRange(s.minimum, s.maximum);
  gWindow->slider->setValue(s.value);
  gWindow->syncingSlider = false;
}

namespace {
void UpdateScrollBar() {
  QScrollBar *bar = gWindow->scroll;
  const int maximum = ThumbnailScrollMaximum(PaneBox().Height(), gLayout.height, GetNumThumbnails(), gLayout.columns);
  const QSignalBlocker block(bar);
  bar->setRange(0, maximum);
  bar->setPageStep(PaneBox().Height());
  bar->setSingleStep(ThumbnailLineStep(maximum, PaneBox().Height(), bar->height()));
}
} // namespace

void DrawThumbnails() {
  if (gQuittingTime || !gWindow || !ThumbnailTab() || IsThumbnailEditing())
    return;
  // A favourite whose file is gone stays, marked, until the user removes it.
  if (gOverviewTabChoice == kRecentTab)
    VerifyRecentFiles();
  ValidSelection();
  const int before = gWindow->scroll->value();
  UpdateScrollBar();
  if (gWindow->scroll->value() != before || gLayout.boxes.empty())
    UpdateThumbnailRects();
  DrawStatusbar();
}

void ScrollThumbnailsToRectID(int pointY, int index) {
  if (!gWindow || index < 0 || size_t(index) >= gLayout.boxes.size())
    return;
  const int delta = ScrollDeltaToShowSlot(PaneBox(), gLayout.boxes[size_t(index)], pointY);
  if (delta != 0) {
    QScrollBar *bar = gWindow->scroll;
    if (bar->maximum() < bar->value() + delta)
      UpdateScrollBar();
    bar->setValue(std::clamp(bar->value() + delta, bar->minimum(), bar->maximum()));
  }
  UpdateThumbnailRects();
  gWindow->pane->update();
}

bool DoScrollThumbnailsToSelection() {
  const int index = GetRectIDWithCachePtr(gSelectedCachePtr);
  if (index < 0)
    return false;
  if (gWindow && size_t(index) < gLayout.boxes.size()) {
    const GridBox &s = gLayout.boxes[size_t(index)];
    ScrollThumbnailsToRectID((s.top + s.bottom) / 2, index);
  }
  return true;
}

// ---- Drawing ----------------------------------------------------------------------------

namespace {

// Files without a stored picture are drawn off screen after the paint that
// found them, one per turn of the event loop; a file that cannot be drawn
// is not tried again.
std::deque<std::pair<std::filesystem::path, uint32_t>> gPictureQueue;
std::set<std::filesystem::path> gNoPicture;
bool gPictureTurnArmed = false;

void DrawQueuedPicture() {
  gPictureTurnArmed = false;
  if (gPictureQueue.empty())
    return;
  const std::filesystem::path file = gPictureQueue.front().first;
  gPictureQueue.pop_front();
  QImage image = DrawFileOffScreen(file);
  if (image.isNull()) {
    gNoPicture.insert(file);
  } else {
    if (image.width() < gThumbnailWidth)
      image = image.scaledToWidth(gThumbnailWidth, Qt::SmoothTransformation);
    for (CachedFileRecord *r = GetCurrentWindowCache(); r; r = r->next)
      if (r->fileRef == file && !r->thumbnail)
        SetCachedFileThumbnail(r, image);
  }
  if (!gPictureQueue.empty()) {
    gPictureTurnArmed = true;
    QTimer::singleShot(0, qApp, &DrawQueuedPicture);
  }
  if (gWindow)
    gWindow->pane->update();
}

void QueuePicture(const CachedFileRecord *record) {
  const uint32_t type = record->fileType;
  const bool drawable = type == kCrystalDocumentType || type == kMoleculeDocumentType ||
                        type == kOldCrystalDocumentType || type == kOldMoleculeDocumentType || type == kTextFileType;
  if (!drawable || gNoPicture.contains(record->fileRef))
    return;
  for (const auto &queued : gPictureQueue)
    if (queued.first == record->fileRef)
      return;
  gPictureQueue.emplace_back(record->fileRef, type);
  if (!gPictureTurnArmed) {
    gPictureTurnArmed = true;
    QTimer::singleShot(0, qApp, &DrawQueuedPicture);
  }
}

} // namespace

QImage ThumbnailImageForRecord(CachedFileRecord *record) {
  if (!record)
    return {};
  QImage image = GetCachedFileThumbnail(record);
  if (!image.isNull() && image.width() < gThumbnailWidth) {
    SetCachedFileThumbnail(record, QImage());
    image = QImage();
  }
  if (image.isNull() && (record->fileType == kCrystalDocumentType || record->fileType == kMoleculeDocumentType)) {
    if (GetFilePreviewAsCGImage(record->fileRef, gThumbnailWidth * 3 / 2, &image))
      SetCachedFileThumbnail(record, image);
  }
  // Undo states and text files store no picture: they are drawn as a
  // window would show them.
  if (image.isNull())
    QueuePicture(record);
  return image;
}

namespace {

QIcon CachedFileIcon(const CachedFileRecord *record) {
  static QFileIconProvider provider;
  QIcon icon = provider.icon(QFileInfo(QString::fromStdString(record->fileRef.string())));
  if (icon.isNull())
    icon = provider.icon(QFileIconProvider::File);
  return icon;
}

void DrawBadge(QPainter &p, const QRect &slot, const std::string &text) {
  const double b = std::min(40.0, slot.width() * 0.2);
  QFont font("DejaVu Sans");
  font.setPixelSize(std::max(1, int(std::lround(0.75 * b)))); // points of 1/72 inch: pixels here
  p.setFont(font);
  const QString t = QString::fromStdString(text);
  const double textWidth = QFontMetricsF(font).horizontalAdvance(t);
  const double w = textWidth + 0.5 * b;
  const QRectF badge(slot.right() + 1 - w, slot.bottom() + 1 - b, w, b);
  for (int y = 0; y < int(std::ceil(b)); y++) {
    // Lines from grey 0.15 at the bottom to grey 0.75 at the top.
    const double g = 0.15 + 0.6 * (double(y) / std::max(1.0, b - 1));
    p.setPen(QColor::fromRgbF(float(g), float(g), float(g)));
    const double line = badge.bottom() - 1 - y;
    p.drawLine(QPointF(badge.left(), line), QPointF(badge.right(), line));
  }
  p.setPen(QColor::fromRgbF(0.25f, 0.25f, 0.25f, 0.25f));
  p.drawLine(badge.topLeft(), badge.bottomLeft());
  p.drawLine(badge.topLeft(), badge.topRight());
  p.setPen(Qt::white);
  p.drawText(QRectF(badge.left(), badge.top(), badge.width(), b - 0.25 * b), Qt::AlignHCenter | Qt::AlignBottom, t);
}

void DrawMarker(QPainter &p, const DropTarget &t) {
  if (t.index < 0 || size_t(t.index) >= gLayout.boxes.size())
    return;
  const GridBox &s = gLayout.boxes[size_t(t.index)];
  const double x = t.before ? s.left - 4 : s.right + 4;
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kThumbnailSelectionColor, 3, Qt::SolidLine, Qt::FlatCap));
  p.drawLine(QPointF(x, s.top - 2), QPointF(x, s.bottom + 2));
  p.setPen(QPen(kThumbnailSelectionColor, 0.75));
  p.drawLine(QPointF(x - 3.5, s.top - 2), QPointF(x + 3.5, s.top - 2));
  p.drawLine(QPointF(x - 3.5, s.bottom + 2), QPointF(x + 3.5, s.bottom + 2));
}

} // namespace

void PaintThumbnails(QPainter &p, const GridBox &pane) {
  const QRect paneRect(pane.left, pane.top, pane.Width(), pane.Height());
  p.setClipRect(paneRect);
  p.fillRect(paneRect, QColor::fromRgbF(kPaneGrey, kPaneGrey, kPaneGrey));
  const int n = GetNumThumbnails();
  if (n == 0) {
    const EmptyHint &hint = kEmptyHints[std::clamp<int>(gOverviewTabChoice, 0, 4)];
    const int boxWidth = std::min(pane.Width() - 16, 320);
    QFont title("DejaVu Sans");
    title.setPointSizeF(10);
    title.setBold(true);
    QFont small("DejaVu Sans");
    small.setPointSizeF(9);
    const QRect titleBox(pane.left + (pane.Width() - boxWidth) / 2, 0, boxWidth, QFontMetrics(title).height());
    const QRect hintBox = QFontMetrics(small).boundingRect(
        QRect(0, 0, boxWidth, 1000), Qt::AlignHCenter | Qt::TextWordWrap, QString::fromUtf8(hint.hint));
    const int total = titleBox.height() + 2 + hintBox.height();
    const int top = pane.top + (pane.Height() - total) / 2;
    p.setPen(kAnthracite);
    p.setFont(title);
    p.drawText(titleBox.translated(0, top), Qt::AlignHCenter | Qt::TextWordWrap, QString::fromUtf8(hint.title));
    p.setFont(small);
    p.drawText(QRect(titleBox.left(), top + titleBox.height() + 2, boxWidth, hintBox.height()),
               Qt::AlignHCenter | Qt::TextWordWrap, QString::fromUtf8(hint.hint));
    return;
  }
  QFont captionFont("DejaVu Sans");
  captionFont.setPointSizeF(8);
  const CachedFileRecord *selected = gSelectedCachePtr;
  CachedFileRecord *record = GetCachePtrWithRectID(0);
  for (int i = 0; i < n && size_t(i) < gLayout.boxes.size(); i++, record = record ? record->next : nullptr) {
    const GridBox &s = gLayout.boxes[size_t(i)];
    if (s.top >= pane.bottom)
      break;
    if (!record)
      break;
    if (s.bottom + kThumbnailCaptionBand < pane.top)
      continue;
    const QRect slot(s.left, s.top, s.Width(), s.Height());
    const QImage image = ThumbnailImageForRecord(record);
    if (!image.isNull()) {
      // The shadow: offset 2.5 pixels down, softened over a few pixels.
      p.setRenderHint(QPainter::Antialiasing);
      for (int k = 4; k >= 1; k--) {
        QPainterPath path;
        path.addRoundedRect(QRectF(slot).translated(0, 2.5).adjusted(-k * 0.5, -k * 0.5, k * 0.5, k * 0.5), 2, 2);
        p.fillPath(path, QColor(0, 0, 0, 14));
      }
      p.fillRect(slot, QColor::fromRgbF(kSlotGrey, kSlotGrey, kSlotGrey));
      p.setRenderHint(QPainter::SmoothPixmapTransform);
      p.drawImage(slot, image);
      if (record->fileType == kTextFileType)
        DrawBadge(p, slot, ThumbnailBadgeText(record->fileRef.extension().string()));
    } else {
      const int side = std::min(slot.width(), slot.height()) - 6;
      const QRect square(slot.left() + (slot.width() - side) / 2, slot.top() + (slot.height() - side) / 2, side, side);
      CachedFileIcon(record).paint(&p, square);
    }
    if (record == selected) {
      p.setRenderHint(QPainter::Antialiasing, false);
      p.setPen(QPen(kThumbnailSelectionColor, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
      p.setBrush(Qt::NoBrush);
      p.drawRect(slot.adjusted(-2, -2, 1, 1));
    }
    std::error_code ec;
    const bool missing = gOverviewTabChoice == kFavouritesTab && !std::filesystem::exists(record->fileRef, ec);
    if (!record->caption.empty() || missing) {
      p.setFont(captionFont);
      p.setPen(missing ? kMissingFileCaption : kCosmos);
      QString caption = QString::fromStdString(record->caption);
      if (missing)
        caption += QStringLiteral(" (missing)");
      p.drawText(QRect(slot.left(), s.bottom + 4, slot.width(), 12), Qt::AlignHCenter | Qt::TextWordWrap, caption);
    }
  }
  DropTarget target;
  if (ThumbnailDropMarker(&target))
    DrawMarker(p, target);
}

ThumbnailPane::ThumbnailPane(QWidget *parent) : QWidget(parent) {}

void ThumbnailPane::paintEvent(QPaintEvent *) {
  if (!gWindow || !ThumbnailTab())
    return;
  QPainter p(this);
  PaintThumbnails(p, PaneBox());
  // The separators along the pane's top and bottom edges.
  p.setClipping(false);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QColor::fromRgbF(kSeparatorGrey, kSeparatorGrey, kSeparatorGrey));
  p.drawLine(0, 0, width(), 0);
  p.drawLine(0, height() - 1, width(), height() - 1);
}

void ThumbnailPane::mousePressEvent(QMouseEvent *e) {
  // The secondary button or a Control-click (the Control key itself here).
  const bool contextual =
      e->button() == Qt::RightButton || (e->button() == Qt::LeftButton && (e->modifiers() & Qt::ControlModifier));
  if (IsThumbnailEditing()) {
    if (!gWindow->caption->geometry().contains(e->position().toPoint())) {
      SaveThumbnailEditing();
      EndThumbnailEditing();
    }
    return;
  }
  if (!contextual && e->button() != Qt::LeftButton)
    return;
  TrackThumbnails(e->position().toPoint(), contextual);
}

void ThumbnailPane::mouseMoveEvent(QMouseEvent *e) {
  const QPoint point = e->position().toPoint();
  if (OverviewTracking()) {
    TrackThumbnailsMove(point, e->globalPosition().toPoint());
    return;
  }
  const GridBox pane = PaneBox();
  const int index = ThumbnailIndexAtPoint(gLayout, pane, point.x(), point.y());
  CachedFileRecord *record = index >= 0 && index < GetNumThumbnails() ? GetCachePtrWithRectID(index) : nullptr;
  if (record) {
    setCursor(Qt::PointingHandCursor);
    const GridBox &s = gLayout.boxes[size_t(index)];
    QString tag = QString::fromStdString(record->caption);
    if (record->fileType == kTextFileType)
      tag += " [Text File]";
    const QRect area(s.left, s.top, s.Width(), std::min(s.bottom, pane.bottom) - s.top);
    QToolTip::showText(mapToGlobal(area.center()), tag, this, area);
    return;
  }
  const int captionIndex = CaptionIndexAtPoint(gLayout, pane, point.x(), point.y());
  if (gOverviewTabChoice == kViewsTab && captionIndex >= 0 && captionIndex < GetNumThumbnails()) {
    QToolTip::hideText();
    setCursor(Qt::IBeamCursor);
    return;
  }
  setCursor(Qt::ArrowCursor);
}

void ThumbnailPane::mouseReleaseEvent(QMouseEvent *e) {
  if (OverviewTracking())
    TrackThumbnailsRelease(e->position().toPoint(), e->globalPosition().toPoint());
}

void ThumbnailPane::wheelEvent(QWheelEvent *e) {
  const int dy = e->angleDelta().y();
  if (!gWindow || !ThumbnailTab() || dy == 0) {
    e->ignore();
    return;
  }
  if (e->modifiers() & Qt::ControlModifier) {
    QSlider *slider = gWindow->slider;
    if (dy > 0 && slider->value() > slider->minimum())
      slider->setValue(slider->value() - 1);
    else if (dy < 0 && slider->value() < slider->maximum())
      slider->setValue(slider->value() + 1);
  } else {
    gWindow->scroll->triggerAction(dy > 0 ? QAbstractSlider::SliderSingleStepSub
                                          : QAbstractSlider::SliderSingleStepAdd);
  }
  e->accept();
}

void ThumbnailPane::resizeEvent(QResizeEvent *) {
  if (!gWindow || gWindow->pane != this)
    return;
  gThumbnailWidth = RefitThumbnailWidth(width(), gLayout.columns, gTargetThumbnailWidth);
  if (ThumbnailTab()) {
    UpdateThumbnailRects();
    UpdateThumbnailsSlider();
    DrawThumbnails();
  }
}

void ThumbnailPane::dragEnterEvent(QDragEnterEvent *e) {
  if (e->mimeData()->hasUrls() && (gOverviewTabChoice == kFavouritesTab || gOverviewTabChoice == kViewsTab))
    e->acceptProposedAction();
}

void ThumbnailPane::dropEvent(QDropEvent *e) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const QUrl &url : e->mimeData()->urls()) {
    if (!url.isLocalFile())
      continue;
    const std::filesystem::path path = url.toLocalFile().toStdString();
    if (std::filesystem::is_directory(path, ec)) {
      std::vector<std::filesystem::path> inside;
      for (const auto &entry : std::filesystem::directory_iterator(path, ec))
        if (entry.is_regular_file(ec))
          inside.push_back(entry.path());
      std::sort(inside.begin(), inside.end());
      files.insert(files.end(), inside.begin(), inside.end());
    } else {
      files.push_back(path);
    }
  }
  AddFilesToOverview(files);
  e->acceptProposedAction();
}

bool ThumbnailPane::event(QEvent *e) {
  if (e->type() == QEvent::KeyPress) {
    auto *key = static_cast<QKeyEvent *>(e);
    if (HandleOverviewKey(key->key(), key->modifiers()))
      return true;
  }
  return QWidget::event(e);
}

// ---- The loading animation ---------------------------------------------------------------

void AnimateThumbnailLoading(CachedFileRecord *record) {
  const int index = GetRectIDWithCachePtr(record);
  if (!gWindow || index < 0 || size_t(index) >= gLayout.boxes.size())
    return;
  // Offscreen there is nothing to see: the animation is instant.
  if (QGuiApplication::platformName() == "offscreen")
    return;
  const GridBox &s = gLayout.boxes[size_t(index)];
  const QRect from(gWindow->pane->mapToGlobal(QPoint(s.left, s.top)), QSize(s.Width(), s.Height()));
  QRect to;
  if (MainWindow *w = GetMainWindow(FrontGraphWindow()); w && w->GraphPane())
    to = QRect(w->GraphPane()->mapToGlobal(QPoint(0, 0)), w->GraphPane()->size());
  else if (QScreen *screen = QGuiApplication::primaryScreen())
    to = screen->availableGeometry();
  auto *overlay = new QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint);
  overlay->setAttribute(Qt::WA_DeleteOnClose);
  overlay->setStyleSheet("background: transparent; border: 2px solid rgb(65, 140, 229);");
  overlay->setGeometry(from);
  overlay->show();
  auto *animation = new QPropertyAnimation(overlay, "geometry", overlay);
  animation->setDuration(250);
  animation->setStartValue(from);
  animation->setEndValue(to);
  QObject::connect(animation, &QPropertyAnimation::finished, overlay, &QWidget::close);
  animation->start();
}
