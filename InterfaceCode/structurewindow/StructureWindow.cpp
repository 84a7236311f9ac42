#include "StructureWindow.h"
#include "DisplaySleep.h"
#include "HandController.h"
#include "InfoTip.h"

#include "MainWindow.h"
#include "NotesPane.h"
#include "PaneDrawing.h"
#include "WindowInput.h"
#include "shell/FileCommands.h"
#include "shell/WindowPlacement.h"

#include "CachedFiles.h"
#include "PlotRange.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "documents/CacheWrites.h"
#include "documents/UndoHistory.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QLayout>
#include <QMenuBar>
#include <QScreen>
#include <QTextEdit>
#include <QTimer>
#include <QScrollBar>
#include <QToolBar>
#include <QTreeView>
#include <QWidget>
#include <cmath>
#include <filesystem>

uint8_t gFillScreen = 0;
StructureWindowHooks gStructureWindowHooks;

namespace {

QRect AvailableBounds() {
  QScreen *screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

QRect ScreenBounds() {
  QScreen *screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

int ContentWidth(MainWindow *w) { return w->LaidOutSize().width(); }
int ContentHeight(MainWindow *w) { return w->LaidOutSize().height(); }

void Redraw(WindowRef window) { DrawGraphPane(window); }

// Qt shows the modified mark only where the title holds its placeholder:
// every title the window is given gets it.
class TitleMark : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::WindowTitleChange) {
      auto *w = static_cast<QWidget *>(watched);
      if (!w->windowTitle().contains(QLatin1String("[*]")))
        w->setWindowTitle(w->windowTitle() + QLatin1String("[*]"));
    }
    return false;
  }
};

// The first window on fresh preferences: room for the whole menu bar and
// toolbar and a good picture, within the screen.
constexpr int kFirstWindowWidth = 900;
constexpr int kFirstWindowHeight = 640;

void SizeFirstWindow(MainWindow *w) {
  int width = kFirstWindowWidth;
  if (QMenuBar *bar = qobject_cast<QMenuBar *>(w->menuWidget()))
    width = std::max(width, bar->sizeHint().width());
  for (QToolBar *toolbar : w->findChildren<QToolBar *>())
    width = std::max(width, toolbar->sizeHint().width());
  const QRect avail = AvailableBounds().adjusted(3, 3, -3, -3);
  const QSize size(std::min(width, avail.width()), std::min(kFirstWindowHeight, avail.height()));
  w->resize(size);
  w->move(avail.left() + (avail.width() - size.width()) / 2, avail.top());
}

// The width the site list of the atoms pane wants for its columns, their
// titles whole; 0 without a list.
int SiteListWidth(MainWindow *w) {
  auto *list = w->AtomsContainer()->findChild<QTreeView *>();
  if (!list)
    return 0;
  int width = 2 * list->frameWidth() + list->indentation() + list->verticalScrollBar()->sizeHint().width();
  for (int column = 0; column < list->header()->count(); ++column)
    if (!list->header()->isSectionHidden(column))
      width += std::max(list->columnWidth(column), list->header()->sectionSizeHint(column));
  return width;
}

// The first window's sidebar: wide enough for the site list, within what a
// drag of the divider allows.
void FitSidebarToSiteList(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  const int wanted = std::min(SiteListWidth(w), kMaxSidebarWidth);
  const int grow = wanted - w->Panes().notes.Width();
  if (grow > 0)
    ChangeSidebarWidth(window, -grow);
}

// Deletes the cache document of every node of a list, then the list.
void DeleteListDocuments(CachedFileRecord *head) {
  for (CachedFileRecord *node = head; node; node = node->next)
    if (!node->fileRef.empty() && IsCacheDocument(node->fileRef))
      RemoveCacheDocument(node->fileRef);
}

void DeleteWindowLists(WindowRef window) {
  DeleteListDocuments(GetWindowViews(window));
  DestroyWindowViews(window);
  DeleteListDocuments(GetWindowHistory(window));
  DestroyWindowHistory(window);
  DeleteListDocuments(GetWindowRedo(window));
  DestroyWindowRedo(window);
}

} // namespace

// ---- Creation ----------------------------------------------------------------------

WindowRef OpenMainWindow(const char *title, bool show, WindowRef frameOf) {
  const bool inPlace = GetMainWindow(frameOf) != nullptr;
  WindowRef front = inPlace ? frameOf : FrontGraphWindow();
  MainWindow *frontWindow = GetMainWindow(front);
  auto *w = new MainWindow();
  WindowRef window = w->Ref();
  MainWindowData *data = GetMainWindowData(window);
  if (!data) {
    delete w;
    return nullptr;
  }
  w->installEventFilter(new TitleMark(w));
  w->setWindowTitle(title ? QString::fromUtf8(title) : w->windowTitle());
  // The title given at construction changed before the filter was there.
  if (!w->windowTitle().contains(QLatin1String("[*]")))
    w->setWindowTitle(w->windowTitle() + QLatin1String("[*]"));
  InstallMenuBar(w);
  InitAtomsPane(window);
  if (frontWindow) {
    CopyMainWindowSettings(window, front);
  } else {
    if (gPrefs.windowBounds.right > 0) {
      const QRect avail = AvailableBounds();
      const Rect &b = gPrefs.windowBounds;
      QRect r(avail.left() + 70, avail.top() + 3, b.right - b.left, b.bottom - b.top);
      r.setWidth(std::min(r.width(), avail.width() - 6));
      r.setHeight(std::min(r.height(), avail.height() - 6));
      w->move(r.topLeft());
      w->resize(r.size());
      // The saved sidebar width, widened where the site list wants more
      // (preferences saved before the first window was fitted to it).
      const int d = w->Panes().notes.Width() - gPrefs.sidebarWidth;
      if (d != 0 && gPrefs.sidebarWidth > 0) {
        data->sidebarWidth = static_cast<uint16_t>(w->Panes().notes.Width());
        ChangeSidebarWidth(window, d);
      }
      FitSidebarToSiteList(window);
    } else {
      SizeFirstWindow(w);
      FitSidebarToSiteList(window);
    }
    if (!gPrefs.showAtoms) {
      data->showAtoms = 1;
      ToggleAtomsPane(window);
    } else if (gPrefs.showNotes) {
      SplitSidebar(window, gPrefs.sidebarSplit);
    } else {
      data->showNotes = 1;
      ToggleNotesPane(window);
    }
    if (!gPrefs.showSidebar)
      HideSidebar(window);
    if (!gPrefs.showRulers) {
      data->showRulers = 1;
      ToggleRulers(window);
    }
    CrystalRec *crystal = GetWindowCrystal(window);
    if (crystal->rulerUnits != gPrefs.rulerUnits)
      ToggleRulerUnits(window);
    if (crystal->showGrid != gPrefs.showGrid)
      ToggleGrid(window);
  }
  // Each new window's frame a step below and right of the front one's,
  // within the screen; a structure read into it keeps its scale. One in
  // another's place has its frame, sized by its panes' copy: neither moved
  // nor shrunk, then or once framed.
  if (inPlace)
    w->move(frontWindow->pos());
  else
    PlaceNewWindow(w, frontWindow, kNewWindowOffset);
  w->LayOutContent();
  MyRemoveWindowProxy(window);
  ToggleWindowGrowBox(window);
  if (DisplaysAsleep())
    DoMainWindowDisplaySleep(window);
  FocusGraphPane(window);
  if (show) {
    w->show();
    w->raise();
    w->activateWindow();
    BringGraphWindowToFront(w);
  }
  if (!data->showSidebar)
    HideSidebar(window);
  if (!data->showRulers && !w->Ruler()->isHidden()) {
    data->showRulers = 1;
    ToggleRulers(window);
  }
  FitSidebarToWidth(window);
  w->ApplyPanes();
  ClearWindowModified(window);
  AdjustGraphWindowResizeLimits(window);
  return window;
}

int InitAtomsPane(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return 999;
  // The site browser lives in the atoms pane once the site browser exists.
  if (gStructureWindowHooks.initSiteBrowser)
    gStructureWindowHooks.initSiteBrowser(window, w->AtomsContainer());
  return 0;
}

void CopyMainWindowSettings(WindowRef newWindow, WindowRef fromWindow) {
  MainWindow *to = GetMainWindow(newWindow), *from = GetMainWindow(fromWindow);
  MainWindowData *d = GetMainWindowData(newWindow), *s = GetMainWindowData(fromWindow);
  if (!to || !from || !d || !s)
    return;
  d->notesFontName = gPrefs.notesFontName;
  d->notesFontSize = gPrefs.notesFontSize;
  d->printPreview = s->printPreview;
  d->printPreview.flags[2] = 0;
  d->showRulers = s->showRulers;
  d->showSidebar = s->showSidebar;
  d->showNotes = s->showNotes;
  d->showAtoms = s->showAtoms;
  d->sidebarWidth = s->sidebarWidth;
  d->sidebarSplit = s->sidebarSplit;
  to->NotesContainer()->setHidden(from->NotesContainer()->isHidden());
  to->Divider()->setHidden(from->Divider()->isHidden());
  to->Ruler()->setHidden(from->Ruler()->isHidden());
  to->NoteHeader()->setHidden(from->NoteHeader()->isHidden());
  to->AtomsContainer()->setHidden(from->AtomsContainer()->isHidden());
  to->SetPanes(from->Panes(), from->LaidOutSize());
  to->ResizeContent(from->LaidOutSize().width(), from->LaidOutSize().height());
}

void RecordMainWindowPrefs(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  MainWindowData *d = GetMainWindowData(window);
  if (!w || !d)
    return;
  const QRect g = w->geometry();
  gPrefs.windowBounds =
      Rect{int16_t(g.top()), int16_t(g.left()), int16_t(g.top() + g.height()), int16_t(g.left() + g.width())};
  gPrefs.windowSettingsRecorded = 1;
  gPrefs.showSidebar = d->showSidebar;
  gPrefs.sidebarWidth = d->sidebarWidth;
  gPrefs.sidebarSplit = d->sidebarSplit;
  gPrefs.showNotes = d->showNotes;
  // The atoms pane's flag is recorded too, since creation reads it.
  gPrefs.showAtoms = d->showAtoms;
  gPrefs.showRulers = d->showRulers;
  gPrefs.rulerUnits = GetWindowRulerUnits(window);
  gPrefs.showGrid = IsWindowShowingGrid(window) ? 1 : 0;
  gPrefs.fillScreen = gFillScreen;
  gPrefs.notesSpellCheck = IsNotesSpellCheckingAsYouType(window) ? 1 : 0;
}

// ---- Layout ----------------------------------------------------------------------

void UpdateMainWindowControlBounds(WindowRef window, int dw, int dh) {
  MainWindow *w = GetMainWindow(window);
  MainWindowData *d = GetMainWindowData(window);
  if (!w || !d)
    return;
  PaneLayout &p = w->Panes();
  p.graph.right += dw;
  p.graph.bottom += dh;
  p.ruler.right += dw;
  p.divider.Offset(dw, 0);
  p.divider.bottom += dh;
  p.atoms.Offset(dw, 0);
  p.noteHeader.Offset(dw, 0);
  p.notes.Offset(dw, 0);
  p.notes.bottom += dh;
  // With both panes the atoms pane keeps its share of the height, so that a
  // small window keeps rows of the site list rather than the notes' height;
  // alone it fills the sidebar.
  const bool both = d->showAtoms && d->showNotes;
  const int atomsBottom = both ? p.atoms.top + static_cast<int>(p.notes.bottom * d->sidebarSplit) : p.atoms.bottom + dh;
  p.atoms.bottom = std::max(atomsBottom, p.atoms.top + kMinAtomsPaneHeight);
  if (d->showAtoms) {
    p.noteHeader.MoveTopTo(p.atoms.bottom + 1);
    p.notes.top = p.atoms.bottom;
  }
  FitSidebarToWidth(window);
  w->ApplyPanes();
}

namespace {

// Moves the sidebar's left edge, and the divider with it, by dx pixels; the
// ruler and the graph pane follow when they end at the sidebar.
void MoveSidebarEdge(PaneLayout &p, int dx, bool graphFollows) {
  if (graphFollows) {
    p.ruler.right += dx;
    p.graph.right += dx;
  }
  p.divider.Offset(dx, 0);
  p.notes.left += dx;
  p.noteHeader.left += dx;
  p.atoms.left += dx;
}

// The sidebar's width in a content of the width: its own width, narrower
// where that would leave the graph pane less than its share.
int LaidOutSidebarWidth(const MainWindowData &d, int contentWidth, int dividerWidth) {
  const int room = contentWidth * kMaxSidebarShare / 100 - dividerWidth;
  return std::max(std::min<int>(d.sidebarWidth, room), kMinSidebarWidth);
}

} // namespace

void FitSidebarToWidth(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  MainWindowData *d = GetMainWindowData(window);
  if (!w || !d)
    return;
  PaneLayout &p = w->Panes();
  const int dx = p.notes.Width() - LaidOutSidebarWidth(*d, p.notes.right, p.divider.Width());
  if (dx == 0)
    return;
  MoveSidebarEdge(p, dx, IsWindowShowingSidebar(window));
}

void SetGraphPaneSize(WindowRef window, int width, int height) {
  MainWindow *w = GetMainWindow(window);
  MainWindowData *d = GetMainWindowData(window);
  if (!w || !d)
    return;
  const PaneLayout &p = w->Panes();
  const QSize laidOut = w->LaidOutSize();
  int content = laidOut.width() + width - p.graph.Width();
  if (IsWindowShowingSidebar(window)) {
    // The graph pane takes the content less the divider and the sidebar,
    // and grows by at most a pixel a pixel: the narrowest content that
    // gives the width.
    const int divider = p.divider.Width();
    auto graphWidth = [&](int c) { return c - divider - LaidOutSidebarWidth(*d, c, divider); };
    content = width;
    while (graphWidth(content) < width)
      ++content;
  }
  w->ResizeContent(content, laidOut.height() + height - p.graph.Height());
}

void GetGraphWindowMinSize(WindowRef window, int *minHeight, int *minWidth) {
  MainWindow *w = GetMainWindow(window);
  int width = kMinGraphPaneSize, height = kMinGraphPaneSize;
  if (w) {
    // A small window narrows the sidebar down to its narrowest width.
    if (IsWindowShowingSidebar(window))
      width += kMinSidebarWidth + w->Panes().divider.Width();
    if (IsWindowShowingRulers(window))
      height += w->Panes().ruler.Height();
  }
  if (minHeight)
    *minHeight = height;
  if (minWidth)
    *minWidth = width;
}

void AdjustGraphWindowResizeLimits(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return;
  int h = 0, wd = 0;
  GetGraphWindowMinSize(window, &h, &wd);
  w->Content()->setMinimumSize(wd, h);
}

void RescaleToFitWindowBounds(WindowRef window, const Rect &before, const Rect &after) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !IsWindowFileOpen(window))
    return;
  const double d0 = std::hypot(before.right - before.left, before.bottom - before.top);
  const double d1 = std::hypot(after.right - after.left, after.bottom - after.top);
  if (d0 <= 0.0 || d1 <= 0.0)
    return;
  if (DoChangePlotScale(crystal, static_cast<float>(crystal->plotScale * d1 / d0)))
    NoteWindowRefit(window); // the picture keeps its size in the window: no change of the document
}

void ToggleRulers(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  MainWindowData *d = GetMainWindowData(window);
  if (!w || !d)
    return;
  PaneLayout &p = w->Panes();
  const int rh = p.ruler.Height();
  d->showRulers = d->showRulers ? 0 : 1;
  if (d->showRulers) {
    if (p.graph.Height() - rh < kMinGraphPaneSize) {
      const int dh = rh + kMinGraphPaneSize - ContentHeight(w);
      w->ResizeContent(ContentWidth(w), rh + kMinGraphPaneSize);
      if (w->LaidOutSize().height() != rh + kMinGraphPaneSize) {
        // The window manager has not resized yet: lay out for the new size
        // now, the resize event then finds nothing left to do.
        UpdateMainWindowControlBounds(window, 0, dh);
      }
    }
    w->Ruler()->show();
    if (IsWindowShowingSidebar(window) && d->showNotes)
      w->NoteHeader()->show();
  } else {
    w->Ruler()->hide();
    if (IsWindowShowingSidebar(window) && !d->showAtoms)
      w->NoteHeader()->hide();
  }
  const int shift = d->showRulers ? rh : -rh;
  p.graph.top += shift;
  if (!IsWindowShowingAtomsPane(window))
    p.notes.top += shift;
  w->ApplyPanes();
  Redraw(window);
  AdjustGraphWindowResizeLimits(window);
}

void ShowSidebar(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  MainWindowData *d = GetMainWindowData(window);
  if (!w || !d)
    return;
  d->showSidebar = 1;
  if (!w->Divider()->isHidden())
    return;
  PaneLayout &p = w->Panes();
  if (p.divider.left - p.graph.left < kMinGraphPaneSize) {
    const int grow = kMinGraphPaneSize - (p.divider.left - p.graph.left);
    const int oldWidth = ContentWidth(w);
    w->ResizeContent(oldWidth + grow, ContentHeight(w));
    if (ContentWidth(w) == oldWidth)
      UpdateMainWindowControlBounds(window, grow, 0);
  }
  w->Divider()->show();
  if (d->showNotes) {
    w->NotesContainer()->show();
    if (d->showAtoms || d->showRulers)
      w->NoteHeader()->show();
  }
  if (d->showAtoms)
    w->AtomsContainer()->show();
  p.graph.right = p.divider.left;
  p.ruler.right = p.divider.left;
  w->ApplyPanes();
  ToggleWindowGrowBox(window);
  Redraw(window);
  AdjustGraphWindowResizeLimits(window);
}

void HideSidebar(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  MainWindowData *d = GetMainWindowData(window);
  if (!w || !d)
    return;
  d->showSidebar = 0;
  if (w->Divider()->isHidden())
    return;
  for (QWidget *pane : {w->Divider(), w->NotesContainer(), w->NoteHeader(), w->AtomsContainer()})
    pane->hide();
  PaneLayout &p = w->Panes();
  p.graph.right = ContentWidth(w);
  p.ruler.right = ContentWidth(w);
  w->ApplyPanes();
  ToggleWindowGrowBox(window);
  Redraw(window);
  AdjustGraphWindowResizeLimits(window);
}

void ToggleSidebar(WindowRef window) {
  if (IsWindowShowingSidebar(window))
    HideSidebar(window);
  else
    ShowSidebar(window);
}

namespace {

// Lays out the notes pane alone (true) or the atoms pane alone (false).
void LayOutSinglePane(MainWindow *w, bool notes) {
  PaneLayout &p = w->Panes();
  const int height = ContentHeight(w);
  if (notes) {
    p.noteHeader.MoveTopTo(0);
    p.notes.top = p.noteHeader.bottom;
    p.notes.bottom = height;
  } else {
    p.atoms.top = 0;
    p.atoms.bottom = height;
  }
}

// One of the two sidebar panes: the notes pane (true) or the atoms pane.
void TogglePane(WindowRef window, bool notes) {
  MainWindow *w = GetMainWindow(window);
  MainWindowData *d = GetMainWindowData(window);
  if (!w || !d)
    return;
  uint8_t &mine = notes ? d->showNotes : d->showAtoms;
  uint8_t &other = notes ? d->showAtoms : d->showNotes;
  mine = mine ? 0 : 1;
  if (!d->showSidebar) {
    // Showing the sidebar for this pane alone.
    mine = 1;
    other = 0;
    w->NotesContainer()->setHidden(!notes);
    w->NoteHeader()->setHidden(!notes);
    w->AtomsContainer()->setHidden(notes);
    LayOutSinglePane(w, notes);
    w->ApplyPanes();
    ShowSidebar(window);
    return;
  }
  if (!mine && !other) {
    // It was the only pane: the sidebar goes, the pane's flag stays.
    mine = 1;
    HideSidebar(window);
    return;
  }
  if (mine) {
    if (notes) {
      w->NoteHeader()->show();
      w->NotesContainer()->show();
    } else {
      w->AtomsContainer()->show();
    }
    if (other)
      SplitSidebar(window, d->sidebarSplit);
    else
      LayOutSinglePane(w, notes);
  } else {
    if (notes) {
      w->NoteHeader()->hide();
      w->NotesContainer()->hide();
    } else {
      w->AtomsContainer()->hide();
    }
    LayOutSinglePane(w, !notes);
  }
  w->ApplyPanes();
}

} // namespace

void ToggleNotesPane(WindowRef window) { TogglePane(window, true); }
void ToggleAtomsPane(WindowRef window) { TogglePane(window, false); }

void SplitSidebar(WindowRef window, float fraction) {
  MainWindow *w = GetMainWindow(window);
  MainWindowData *d = GetMainWindowData(window);
  if (!w || !d)
    return;
  d->sidebarSplit = fraction;
  PaneLayout &p = w->Panes();
  p.atoms.bottom = p.atoms.top + static_cast<int>(ContentHeight(w) * fraction);
  p.noteHeader.MoveTopTo(p.atoms.bottom + 1);
  p.notes.top = p.atoms.bottom;
  w->ApplyPanes();
}

void ChangeSidebarWidth(WindowRef window, int dx) {
  MainWindow *w = GetMainWindow(window);
  MainWindowData *d = GetMainWindowData(window);
  if (!w || !d)
    return;
  PaneLayout &p = w->Panes();
  // The width the sidebar gets is the width it keeps: a sidebar narrowed by
  // a small window keeps what the drag left of it.
  d->sidebarWidth = static_cast<uint16_t>(p.notes.Width() - dx);
  MoveSidebarEdge(p, dx, true);
  w->ApplyPanes();
  AdjustGraphWindowResizeLimits(window);
}

void ToggleWindowGrowBox(WindowRef) {
  // The window manager draws the window's resize handle; there is no grow
  // box of our own to make transparent or opaque.
}

// ---- Full screen -----------------------------------------------------------------

void DoFillScreen(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  MainWindowData *d = GetMainWindowData(window);
  if (!w || !d || gRecordingVideo)
    return;
  gFillScreen = 1;
  const QRect g = w->geometry();
  d->standardBounds =
      Rect{int16_t(g.top()), int16_t(g.left()), int16_t(g.top() + g.height()), int16_t(g.left() + g.width())};
  const QRect screen = ScreenBounds();
  const int rulerHeight = IsWindowShowingRulers(window) ? w->Panes().ruler.Height() : 0;
  const int sidebar = IsWindowShowingSidebar(window) ? w->Panes().divider.Width() + d->sidebarWidth : 0;
  // The content's top-left goes to (0, -ruler height): the graph pane alone
  // covers the screen, the ruler and the sidebar lie beyond its edges.
  const int menuHeight = w->MenuBarHeight();
  w->setWindowFlag(Qt::FramelessWindowHint, true);
  w->setGeometry(screen.left(), screen.top() - rulerHeight - menuHeight, screen.width() + sidebar,
                 screen.height() + rulerHeight + menuHeight);
  w->show();
}

void DoStandardSize(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  MainWindowData *d = GetMainWindowData(window);
  if (!w || !d || gRecordingVideo)
    return;
  gFillScreen = 0;
  VerifyGraphWindowUserState(window);
  const Rect &b = d->standardBounds;
  w->setWindowFlag(Qt::FramelessWindowHint, false);
  w->setGeometry(b.left, b.top, b.right - b.left, b.bottom - b.top);
  w->show();
  MoveWindowOnscreen(w);
}

void VerifyGraphWindowUserState(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d)
    return;
  const QRect avail = AvailableBounds();
  Rect &b = d->standardBounds;
  int minHeight = 0, minWidth = 0;
  GetGraphWindowMinSize(window, &minHeight, &minWidth);
  int top = std::max<int>(b.top, avail.top()), left = std::max<int>(b.left, avail.left());
  int right = std::min<int>(b.right, avail.left() + avail.width());
  int bottom = std::min<int>(b.bottom, avail.top() + avail.height());
  right = std::max(right, left + minWidth);
  bottom = std::max(bottom, top + minHeight);
  b = Rect{int16_t(top), int16_t(left), int16_t(bottom), int16_t(right)};
}

void DoEnterFullScreen() {
  MainWindow *front = GetMainWindow(FrontGraphWindow());
  if (!front || !front->isVisible())
    return;
  for (MainWindow *w : AllGraphWindows())
    DoFillScreen(w->Ref());
}

void DoExitFullScreen() {
  for (MainWindow *w : AllGraphWindows())
    DoStandardSize(w->Ref());
}

void DoToggleFullScreen() {
  if (gFillScreen)
    DoExitFullScreen();
  else
    DoEnterFullScreen();
}

// ---- Proxy and redrawing -------------------------------------------------------------

void MyRemoveWindowProxy(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  const CrystalRec *crystal = GetWindowCrystal(window);
  if (!w || !crystal)
    return;
  // The window's document kind, as the window manager's file path shows it.
  const char *type = !IsWindowFileOpen(window) ? "OVTX" : crystal->molecule ? "OVMF" : "OVDF";
  w->setProperty("proxyType", QString::fromLatin1(type));
  w->setWindowFilePath(IsWindowFileOpen(window) ? QString::fromStdString(w->File().string()) : QString());
}

void RedrawGraphPane(WindowRef window) {
  if (IsWindowFileOpen(window)) {
    // A redraw (at a new size, after a drag that drew its own frames) is no
    // change of its own.
    const RedrawOnly redraw(window);
    ResetOffScreen(window);
    NewPlot(window, false, true);
  }
  DrawGraphPane(window);
}

// ---- Closing -------------------------------------------------------------------------

bool FrontGraphWindowHasSheet() {
  MainWindow *w = GetMainWindow(FrontGraphWindow());
  if (!w)
    return false;
  for (QWidget *child : w->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
    if (child->isWindow() && child->isVisible() && child->windowModality() == Qt::WindowModal)
      return true;
  return false;
}

bool IsWindowModified(WindowRef window) {
  // A change not yet compared with the saved document is compared now.
  SettleWindowMark(window);
  MainWindowData *d = GetMainWindowData(window);
  return d && d->windowModified;
}

void ClearWindowModified(WindowRef window) { NoteWindowDocumentSaved(window); }

bool CloseMainWindow(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return false;
  if (FrontGraphWindowHasSheet()) {
    SysBeep();
    return false;
  }
  if (!IsWindowModified(window) || !IsWindowFileOpen(window)) {
    DoCloseMainWindow(window);
    return true;
  }
  if (!MyConfirmSaveFile(window))
    return false;
  DoCloseMainWindow(window);
  return true;
}

bool DoMainWindowCloseBox(WindowRef window) {
  if (!GetMainWindow(window))
    return false;
  DestroyInfoTipOverlay(window);
  // Ctrl stands for the Mac's Control key here, as in the contextual click.
  if (!MyCommandKeyDown())
    return CloseMainWindow(window);
  if (FrontGraphWindowHasSheet()) {
    SysBeep();
    return false;
  }
  DoCloseMainWindow(window);
  return true;
}

void QuitWhenNoGraphWindowShows() {
  QTimer::singleShot(0, qApp, [] {
    if (gQuittingTime)
      return;
    for (MainWindow *w : AllGraphWindows())
      if (w->isVisible())
        return;
    DoQuit();
  });
}

void HoldGraphWindowSize(WindowRef window, bool hold) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return;
  if (hold) {
    w->setFixedSize(w->size());
    return;
  }
  // Sizes of 0 and the largest hand the limits back to the window's layout.
  w->setMinimumSize(0, 0);
  w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  AdjustGraphWindowResizeLimits(window);
  if (QLayout *layout = w->layout()) {
    layout->invalidate();
    layout->activate();
  }
}

void DoCloseMainWindow(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return;
  gTrackBallRotn = 0;
  if (gRecordingVideo && FrontGraphWindow() == window && gStructureWindowHooks.stopRecordingVideo)
    gStructureWindowHooks.stopRecordingVideo(window);
  SetWindowAutoRotating(window, false);
  DissociateFrameListenerFromWindow();
  if (gStructureWindowHooks.cancelRelaxMolecule)
    gStructureWindowHooks.cancelRelaxMolecule(window);
  MyRemoveWindowProxy(window);
  // Views, history and redo documents all go: a redo kept past the close
  // would bring the old structure back into the reused window.
  DeleteWindowLists(window);
  if (GetNumGraphWindows() <= 1) {
    ClearMainWindow(window);
    w->hide();
    w->setWindowTitle("Graphics");
  } else {
    DisposeMainWindow(window);
  }
  UpdateFloatingWindows();
}

void ClearMainWindow(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  MainWindowData *d = GetMainWindowData(window);
  if (!w || !d)
    return;
  ClearCrystalRec(&d->crystal);
  SetWindowTransferBuffer(window, nullptr);
  SetWindowOffScreen(window, nullptr);
  SetWindowOffScreenOverlay(window, nullptr);
  w->NotesView()->setProperty("loading", true);
  w->NotesView()->clear();
  w->NotesView()->setProperty("loading", false);
  SetWindowFileOpen(window, false);
  d->printPreview.active = 0;
  ClearWindowInfoData(window);
  if (gStructureWindowHooks.updateInfoWindow)
    gStructureWindowHooks.updateInfoWindow();
  if (gStructureWindowHooks.disposeDistanceSearch)
    gStructureWindowHooks.disposeDistanceSearch(window);
  // A cleared window starts afresh: no lists of the structure it held.
  DeleteWindowLists(window);
  w->SetFile({});
  ForgetWindowChanges(window);
  ClearWindowModified(window);
  MyRemoveWindowProxy(window);
  DrawGraphPane(window);
}

void DisposeMainWindow(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return;
  w->hide();
  ClearMainWindow(window);
  // Out of the list now; the object goes once its events are done.
  w->deleteLater();
  w->setParent(nullptr);
  RemoveGraphWindow(w);
}

QString PlainWindowTitle(const QWidget *window) {
  if (!window)
    return {};
  // Qt's rule: "[*][*]" stands for "[*]", a single "[*]" for the mark.
  const QString title = window->windowTitle();
  QString plain;
  for (qsizetype i = 0; i < title.size();) {
    if (title.mid(i, 6) == QLatin1String("[*][*]")) {
      plain += QLatin1String("[*]");
      i += 6;
    } else if (title.mid(i, 3) == QLatin1String("[*]")) {
      i += 3;
    } else {
      plain += title[i++];
    }
  }
  return plain;
}

std::string GraphWindowTitle(WindowRef window) { return PlainWindowTitle(GetMainWindow(window)).toStdString(); }

void FocusGraphPane(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  MainWindowData *d = GetMainWindowData(window);
  if (!w || !d)
    return;
  d->graphHasFocus = 1;
  w->GraphPane()->setFocus(Qt::OtherFocusReason);
}

WindowRef GetNextGraphWindow(WindowRef window) {
  const auto &list = AllGraphWindows();
  for (size_t i = 0; i + 1 < list.size(); i++)
    if (list[i]->Ref() == window)
      return list[i + 1]->Ref();
  return nullptr;
}

int GetNumGraphWindows() { return static_cast<int>(AllGraphWindows().size()); }
