#include "FloatingWindowStacking.h"

#include "structurewindow/MainWindow.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

QPointer<QWindow> gOwner;

// A floating window of the program: a top-level tool window of its own.
// The status window keeps above everything while it shows.
bool IsFloatingWindow(const QWidget *w) {
  return w && w->isWindow() && w->windowType() == Qt::Tool && !w->parentWidget() &&
         !w->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

// The window manager reads the owner when the window is mapped; one already
// on screen is raised over the owner, which has just come up, without
// being activated.
void StackAboveOwner(QWidget *w) {
  QWindow *handle = w->windowHandle();
  if (!gOwner || !handle)
    return;
  if (handle->transientParent() != gOwner)
    handle->setTransientParent(gOwner);
  if (w->isVisible())
    w->raise();
}

bool IsStructureWindow(const QWindow *window) {
  const auto &list = AllGraphWindows();
  return window && std::any_of(list.begin(), list.end(), [window](const MainWindow *m) {
           return m->windowHandle() == window;
         });
}

// A floating window about to show takes the front structure window as its
// owner.
class ShowWatcher : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
      auto *w = static_cast<QWidget *>(watched);
      if (IsFloatingWindow(w))
        StackAboveOwner(w);
    }
    return false;
  }
};

} // namespace

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
  });
}
