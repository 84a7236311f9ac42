#include "WindowPlacement.h"

#include <QApplication>
#include <QMargins>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

constexpr int kScreenInset = 3;

QMargins FrameMargins(const QWidget *window) {
  const QRect g = window->geometry(), f = window->frameGeometry();
  return QMargins(g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom());
}

bool Frameless(const QWidget *window) { return window->windowFlags() & Qt::FramelessWindowHint; }

// The frame the window has, or will have once shown: the position of a
// window not yet shown is its frame's (Qt places a moved window's frame
// there).
QRect FrameOnScreen(const QWidget *window) {
  if (window->isVisible() || Frameless(window) || !FrameMargins(window).isNull())
    return window->frameGeometry();
  QMargins margins;
  for (const QWidget *other : QApplication::topLevelWidgets())
    if (other != window && other->isVisible() && other->windowType() == window->windowType() && !Frameless(other))
      if (margins = FrameMargins(other); !margins.isNull())
        break;
  const QSize size = window->size().grownBy(margins);
  return QRect(window->pos(), size);
}

} // namespace

void MoveWindowOnscreen(QWidget *window) {
  if (!window)
    return;
  QScreen *screen = window->screen() ? window->screen() : QApplication::primaryScreen();
  if (!screen)
    return;
  const QRect usable = screen->availableGeometry().adjusted(kScreenInset, kScreenInset, -kScreenInset, -kScreenInset);
  const QRect frame = FrameOnScreen(window);
  if (usable.contains(frame))
    return;
  const QPoint at(std::clamp(frame.left(), usable.left(), std::max(usable.left(), usable.right() + 1 - frame.width())),
                  std::clamp(frame.top(), usable.top(), std::max(usable.top(), usable.bottom() + 1 - frame.height())));
  // The frame goes there, title bar included: a window shown but not yet
  // mapped would otherwise put its client area there and the title above.
  if (QWindow *handle = window->windowHandle(); handle && window->isVisible())
    handle->setFramePosition(at);
  else
    window->move(at);
}
