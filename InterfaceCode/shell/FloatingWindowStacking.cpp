#include "FloatingWindowStacking.h"

#include "structurewindow/MainWindow.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QLibrary>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

// X11 reads a window's WM_TRANSIENT_FOR when the window is mapped, and Qt
// writes it only then: a window on screen is given its new owner here. The
// two calls come from the X connection library the platform plugin runs
// on, looked up when first needed.
struct XcbVoidCookie {
  unsigned int sequence;
};
using XcbChangeProperty = XcbVoidCookie (*)(xcb_connection_t *, uint8_t, uint32_t, uint32_t, uint32_t, uint8_t,
                                            uint32_t, const void *);
using XcbFlush = int (*)(xcb_connection_t *);
constexpr uint8_t kXcbPropModeReplace = 0;
constexpr uint32_t kXcbAtomWindow = 33;         // predefined atom WINDOW
constexpr uint32_t kXcbAtomWmTransientFor = 68; // predefined atom WM_TRANSIENT_FOR

void LinkShownOnX11(QWindow *window, QWindow *owner) {
  auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->connection() || !window || !owner)
    return;
  static const auto change = reinterpret_cast<XcbChangeProperty>(QLibrary::resolve("xcb", 1, "xcb_change_property"));
  static const auto flush = reinterpret_cast<XcbFlush>(QLibrary::resolve("xcb", 1, "xcb_flush"));
  if (!change || !flush)
    return;
  const auto ownerId = static_cast<uint32_t>(owner->winId());
  change(x11->connection(), kXcbPropModeReplace, static_cast<uint32_t>(window->winId()), kXcbAtomWmTransientFor,
         kXcbAtomWindow, 32, 1, &ownerId);
  flush(x11->connection());
}

WindowStackingCalls gCalls{LinkShownOnX11, [](QWidget *w) { w->raise(); }};
QPointer<QWindow> gOwner;

// A floating window of the program: a top-level tool window of its own.
// The status window keeps above everything while it shows.
bool IsFloatingWindow(const QWidget *w) {
  return w && w->isWindow() && w->windowType() == Qt::Tool && !w->parentWidget() &&
         !w->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

// A question the program asks: a sheet on a structure window or an alert,
// which no other window of the program may cover.
bool IsQuestion(const QWidget *w) { return w->isWindow() && w->isModal() && w->isVisible() && !IsFloatingWindow(w); }

void RaiseQuestions() {
  for (QWidget *w : QApplication::topLevelWidgets())
    if (IsQuestion(w))
      gCalls.raise(w);
}

// A window not yet mapped takes its owner when mapped; one on screen is
// told of its new owner, and raised over it (the owner has just come up),
// without being activated. The questions then come back on top.
void StackAboveOwner(QWidget *w) {
  QWindow *handle = w->windowHandle();
  if (!gOwner || !handle || handle->transientParent() == gOwner)
    return;
  handle->setTransientParent(gOwner);
  if (w->isVisible()) {
    gCalls.linkShown(handle, gOwner);
    gCalls.raise(w);
  }
}

bool IsStructureWindow(const QWindow *window) {
  const auto &list = AllGraphWindows();
  return window &&
         std::any_of(list.begin(), list.end(), [window](const MainWindow *m) { return m->windowHandle() == window; });
}

// A floating window about to show takes the front structure window as its
// owner; a question that shows comes above everything once the event that
// showed it is done (a menu closing gives its window the focus back).
class ShowWatcher : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
      auto *w = static_cast<QWidget *>(watched);
      if (IsFloatingWindow(w)) {
        StackAboveOwner(w);
        RaiseQuestions();
      } else if (w->isWindow() && w->isModal()) {
        QTimer::singleShot(0, w, [w] {
          if (IsQuestion(w))
            gCalls.raise(w);
        });
      }
    }
    return false;
  }
};

} // namespace

WindowStackingCalls SetWindowStackingCalls(WindowStackingCalls calls) { return std::exchange(gCalls, calls); }

void InstallFloatingWindowStacking() {
  auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
  static bool installed = false;
  if (!app || installed)
    return;
  installed = true;
  app->installEventFilter(new ShowWatcher(app));
  QObject::connect(app, &QGuiApplication::focusWindowChanged, app, [](QWindow *focus) {
    if (!IsStructureWindow(focus))
      return;
    gOwner = focus;
    for (QWidget *w : QApplication::topLevelWidgets())
      if (IsFloatingWindow(w))
        StackAboveOwner(w);
    RaiseQuestions();
  });
}
