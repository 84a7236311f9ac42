#include "MainWindow.h"

#include "PaneDrawing.h"
#include "StructureWindow.h"
#include "render/Highlights.h"
#include "AutoRotate.h"
#include "HandController.h"
#include "InfoTip.h"
#include "NotesPane.h"
#include "WindowInput.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "shell/Toolbars.h"
#include "Preferences.h"
#include "ui_MainWindow.h"

#include "StructureRecord.h"
#include "memory/HeapReuse.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenuBar>
#include <QToolBar>
#include <QMimeData>
#include <QPaintEvent>
#include <QResizeEvent>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>

namespace {

std::vector<MainWindow *> &WindowList() {
  static std::vector<MainWindow *> list;
  return list;
}

PaneEdges EdgesOf(const QWidget *w) {
  const QRect g = w->geometry();
  return PaneEdges{g.x(), g.y(), g.x() + g.width(), g.y() + g.height()};
}

void Place(QWidget *w, const PaneEdges &e) {
  w->setGeometry(e.left, e.top, std::max(0, e.Width()), std::max(0, e.Height()));
}

// What the user does anywhere in the program lets the windows' held banners
// go with the next refresh.
class UserInputWatch final : public QObject {
public:
  std::function<void()> onInput;
  using QObject::QObject;
  bool eventFilter(QObject *, QEvent *event) override {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
      onInput();
      break;
    default:
      break;
    }
    return false;
  }
};

} // namespace

const std::vector<MainWindow *> &AllGraphWindows() { return WindowList(); }

MainWindow *GetMainWindow(WindowRef window) {
  // Found in the list before it is read: a reference may outlive its window.
  for (MainWindow *w : WindowList())
    if (w->Ref() == window)
      return window->mainData && window->native ? w : nullptr;
  return nullptr;
}

void RemoveGraphWindow(MainWindow *window) { std::erase(WindowList(), window); }

void BringGraphWindowToFront(MainWindow *window) {
  auto &list = WindowList();
  auto it = std::find(list.begin(), list.end(), window);
  if (it == list.end() || it == list.begin())
    return;
  list.erase(it);
  list.insert(list.begin(), window);
  // The commands act on the front window: the toolbars follow it.
  RequestCommandStatusUpdate();
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui_(std::make_unique<Ui::MainWindow>()) {
  record_.native = this;
  InitMainWindowData(&record_);
  setWindowTitle("Graphics");
  setAttribute(Qt::WA_DeleteOnClose, false);
  setAcceptDrops(true);

  content_ = new QWidget(this);
  ui_->setupUi(content_);
  laidOut_ = content_->size();
  setCentralWidget(content_);

  static UserInputWatch *const inputWatch = [] {
    auto *watch = new UserInputWatch(qApp);
    watch->onInput = [] {
      for (MainWindow *w : WindowList())
        w->subtitleHeld_ = false;
    };
    qApp->installEventFilter(watch);
    return watch;
  }();
  (void)inputWatch;

  ruler_ = FindControl(content_, 6);
  graphPane_ = FindControl(content_, 1);
  divider_ = FindControl(content_, 7);
  atomsContainer_ = FindControl(content_, 8);
  notesView_ = FindControl<QTextEdit>(content_, 3);
  notesContainer_ = FindControl(content_, 4);
  noteHeader_ = FindControl(content_, 2);
  noteHeader_->raise();
  panes_ = PaneLayout{EdgesOf(graphPane_),      EdgesOf(ruler_),      EdgesOf(divider_),
                      EdgesOf(atomsContainer_), EdgesOf(noteHeader_), EdgesOf(notesContainer_)};

  MainWindowData *windowData = GetMainWindowData(&record_);
  windowData->rulerPane = ruler_;
  windowData->graphPane = graphPane_;
  // Trackpad gestures reach the graph pane itself.
  windowData->cocoaWrapper = graphPane_;
  windowData->divider = divider_;
  windowData->atomsContainer = atomsContainer_;
  windowData->notesView = notesView_;
  windowData->notesContainer = notesContainer_;
  windowData->noteHeader = noteHeader_;
  windowData->textObject = notesView_->document();
  windowData->sidebarWidth = static_cast<uint16_t>(panes_.notes.Width());

  // The atoms pane sees the secondary clicks its site list leaves alone.
  for (QWidget *pane : {graphPane_, ruler_, divider_, noteHeader_, atomsContainer_})
    pane->installEventFilter(this);
  content_->installEventFilter(this);
  graphPane_->setAttribute(Qt::WA_OpaquePaintEvent);
  // Typing (and styling) in the notes is a change of the document's, not of
  // the structure's: it takes no undo state.
  connect(notesView_->document(), &QTextDocument::contentsChange, this, [this](int, int removed, int added) {
    if ((removed || added) && IsWindowFileOpen(&record_) && !notesView_->property("loading").toBool())
      NoteWindowNotesChange(&record_);
  });

  resizeDone_ = new QTimer(this);
  resizeDone_->setSingleShot(true);
  resizeDone_->setInterval(kResizeCompletedMs);
  connect(resizeDone_, &QTimer::timeout, this, &MainWindow::ResizeCompleted);

  WindowList().insert(WindowList().begin(), this);
  windowData->eventHandlerProc = this;
  windowData->graphDrawProc = reinterpret_cast<void *>(&AutoDrawGraphPane);
  windowData->dividerDrawProc = reinterpret_cast<void *>(&AutoDrawVerticalDivider);
  windowData->rulerDrawProc = reinterpret_cast<void *>(&AutoDrawHorizontalRuler);
  windowData->noteHeaderDrawProc = reinterpret_cast<void *>(&AutoDrawNoteHeaderPane);
  AdjustGraphWindowResizeLimits(&record_);
  resize(laidOut_);
  InstallWindowInput(this);
  InitNotesPane(&record_);
  InstallToolbar(this, gPrefs.showToolbar);
}

MainWindow::~MainWindow() {
  ForgetAutoRotation(&record_);
  if (CurrentFrameListener() && CurrentFrameListener()->Window() == &record_)
    DissociateFrameListenerFromWindow();
  std::erase(WindowList(), this);
  DestroyMainWindowData(&record_);
  ClearHiliteOverlay(&record_);
  ovmem::ReturnFreedMemory();
}

void MainWindow::ApplyPanes() {
  Place(graphPane_, panes_.graph);
  Place(ruler_, panes_.ruler);
  Place(divider_, panes_.divider);
  Place(atomsContainer_, panes_.atoms);
  Place(noteHeader_, panes_.noteHeader);
  Place(notesContainer_, panes_.notes);
  // The notes text starts below the header where the header covers the
  // container's top.
  int covered = 0;
  if (!noteHeader_->isHidden())
    covered = std::clamp(panes_.noteHeader.bottom - panes_.notes.top, 0, std::max(0, panes_.notes.Height()));
  notesView_->setGeometry(0, covered, std::max(0, panes_.notes.Width()), std::max(0, panes_.notes.Height() - covered));
}

ovgfx::GraphicsPort *MainWindow::ScreenPort() {
  const QSize size = content_->size();
  if (size.isEmpty())
    return nullptr;
  if (!screen_ || screen_->Pixels()->Width() != size.width() || screen_->Pixels()->Height() != size.height())
    screen_ = ovgfx::GraphicsPort::NewOffscreen(Rect{0, 0, int16_t(size.height()), int16_t(size.width())}, 32);
  return screen_.get();
}

void MainWindow::ScreenChanged(const Rect &rect) {
  // Anything drawn over the pane (the banner) goes when the picture is
  // refreshed from the image.
  if (!subtitleHeld_)
    subtitle_.clear();
  ClearHiliteOverlay(&record_);
  const QRect pane = graphPane_->geometry();
  graphPane_->update(
      QRect(rect.left - pane.left(), rect.top - pane.top(), rect.right - rect.left, rect.bottom - rect.top));
}

void MainWindow::SetSubtitle(const std::string &text, bool held) {
  subtitle_ = text;
  subtitleHeld_ = held && !text.empty();
  ClearHiliteOverlay(&record_);
  graphPane_->update();
}

void MainWindow::SetFile(const std::filesystem::path &file) {
  file_ = file;
  if (!file.empty())
    setWindowTitle(QString::fromStdString(file.stem().string()));
}

int MainWindow::MenuBarHeight() const {
  int height = 0;
  if (QMenuBar *bar = qobject_cast<QMenuBar *>(menuWidget()); bar && !bar->isNativeMenuBar() && !bar->isHidden())
    height += bar->sizeHint().height();
  if (QToolBar *toolbar = WindowToolbar(this); toolbar && !toolbar->isHidden())
    height += toolbar->sizeHint().height();
  return height;
}

void MainWindow::ResizeContent(int width, int height) {
  // The content is all of the window but an in-window menu bar; the
  // content's own size may be stale while the window is hidden.
  resize(width, height + MenuBarHeight());
}

void MainWindow::SyncModifiedMark() { setWindowModified(IsWindowModified(&record_)); }

bool MainWindow::eventFilter(QObject *watched, QEvent *event) {
  if (MainWindowEventHandler(this, watched, event))
    return true;
  if (event->type() == QEvent::Paint) {
    if (watched == graphPane_)
      AutoDrawGraphPane(graphPane_);
    else if (watched == ruler_)
      AutoDrawHorizontalRuler(ruler_);
    else if (watched == divider_)
      AutoDrawVerticalDivider(divider_);
    else if (watched == noteHeader_)
      AutoDrawNoteHeaderPane(noteHeader_);
    else
      return QMainWindow::eventFilter(watched, event);
    return true;
  }
  if (watched == content_ && event->type() == QEvent::Resize)
    ContentResized(static_cast<QResizeEvent *>(event)->size());
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::ContentResized(const QSize &size) {
  const QSize old = laidOut_;
  if (size == old)
    return;
  laidOut_ = size;
  const Rect before = ToRect(panes_.graph);
  UpdateMainWindowControlBounds(&record_, size.width() - old.width(), size.height() - old.height());
  RescaleToFitWindowBounds(&record_, before, ToRect(panes_.graph));
  const CrystalRec *crystal = GetWindowCrystal(&record_);
  if (IsWindowFileOpen(&record_) && crystal && crystal->lastPlotDuration >= kSlowPlotSeconds) {
    // A slow plot waits for the end of the resize; meanwhile the old
    // picture is scaled.
    DrawGraphPane(&record_);
    resizeDone_->start();
  } else {
    RedrawGraphPane(&record_);
  }
}

void MainWindow::ResizeCompleted() { RedrawGraphPane(&record_); }

void MainWindow::closeEvent(QCloseEvent *event) {
  // The window decides: it may ask to save. One window closes, as File >
  // Close closes it; the last one stays, cleared and hidden, and the
  // program quits with it.
  event->ignore();
  if (DoMainWindowCloseBox(&record_) && !gQuittingTime)
    QuitWhenNoGraphWindowShows();
}

void MainWindow::changeEvent(QEvent *event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && WindowList().front() != this) {
    BringGraphWindowToFront(this);
    UpdateFloatingWindows();
    AssociateFrameListenerWithWindow(&record_);
    UpdateAllCommandStatus();
  }
  if (event->type() == QEvent::ActivationChange && isActiveWindow())
    RequestShowInfoTipForWindow(&record_);
  QMainWindow::changeEvent(event);
}

void MainWindow::showEvent(QShowEvent *event) {
  // Alt and a menu's letter open it.
  SetMenuBarMnemonics(qobject_cast<QMenuBar *>(menuWidget()));
  QMainWindow::showEvent(event);
  DrawGraphPane(&record_);
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event) {
  if (event->mimeData()->hasUrls())
    for (const QUrl &url : event->mimeData()->urls())
      if (url.isLocalFile()) {
        event->acceptProposedAction();
        return;
      }
}

void MainWindow::dropEvent(QDropEvent *event) {
  std::vector<std::filesystem::path> files;
  for (const QUrl &url : event->mimeData()->urls())
    if (url.isLocalFile())
      files.emplace_back(url.toLocalFile().toStdString());
  if (files.empty())
    return;
  event->acceptProposedAction();
  // Open after the drop has returned: opening may ask questions.
  QTimer::singleShot(0, qApp, [files] {
    for (const auto &file : files)
      OpenFSRefInWindow(file, nullptr);
    UpdateFloatingWindows();
  });
}
