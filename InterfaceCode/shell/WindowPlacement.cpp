#include "WindowPlacement.h"

#include <QApplication>
#include <QEvent>
#include <QMargins>
#include <QScreen>
#include <QTimer>
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

// The margins of the frame the window has or, not yet shown, will have:
// those of the program's other windows of its kind on screen; none when
// there is none to go by.
QMargins KnownFrameMargins(const QWidget *window) {
  const QMargins own = FrameMargins(window);
  if (window->isVisible() || Frameless(window) || !own.isNull())
    return own;
  for (const QWidget *other : QApplication::topLevelWidgets())
    if (other != window && other->isVisible() && other->windowType() == window->windowType() && !Frameless(other))
      if (const QMargins margins = FrameMargins(other); !margins.isNull())
        return margins;
  return own;
}

// The frame the window has, or will have once shown: the position of a
// window not yet shown is its frame's (Qt places a moved window's frame
// there).
QRect FrameOnScreen(const QWidget *window) {
  if (window->isVisible())
    return window->frameGeometry();
  return QRect(window->pos(), window->size().grownBy(KnownFrameMargins(window)));
}

// The usable area of the window's screen, inset; empty without a screen.
QRect UsableArea(const QWidget *window) {
  QScreen *screen = window->screen() ? window->screen() : QApplication::primaryScreen();
  if (!screen)
    return {};
  return screen->availableGeometry().adjusted(kScreenInset, kScreenInset, -kScreenInset, -kScreenInset);
}

// Puts the frame's top-left corner there, title bar included: a window
// shown but not yet mapped would otherwise put its client area there and
// the title above.
void PutFrameAt(QWidget *window, QPoint at) {
  if (QWindow *handle = window->windowHandle(); handle && window->isVisible())
    handle->setFramePosition(at);
  else
    window->move(at);
}

// One side of a new window's frame, [pos, pos + length), within [low, high).
void PlaceAlong(int &pos, int &length, int least, int low, int high, bool cascaded) {
  if (!cascaded)
    pos = std::clamp(pos, low, std::max(low, high - length));
  pos = std::max(pos, low);
  if (high - pos < std::min(length, least))
    pos = low;
  length = std::min(length, high - pos);
}

// Fits the window, frame and all, to the usable area; cascaded from
// `previous` when there is one.
void FitNewWindow(QWidget *window, const QRect &previous, int step) {
  const QRect usable = UsableArea(window);
  if (usable.isEmpty())
    return;
  const QMargins margins = KnownFrameMargins(window);
  const QSize least = window->minimumSizeHint().expandedTo(window->minimumSize());
  const QRect frame =
      NewWindowFrame(FrameOnScreen(window).topLeft(), window->size(), least, margins, usable, previous, step);
  if (const QSize size = frame.size().shrunkBy(margins); size != window->size())
    window->resize(size);
  PutFrameAt(window, frame.topLeft());
}

// Fits a window placed before its frame was known once the window manager
// has framed it, then goes. The window stays where it was put (a step from
// the one before it) and shrinks.
class FitWhenFramed : public QObject {
public:
  explicit FitWhenFramed(QWidget *window) : QObject(window) { window->installEventFilter(this); }
  bool eventFilter(QObject *watched, QEvent *event) override {
    auto *window = static_cast<QWidget *>(watched);
    if ((event->type() == QEvent::Move || event->type() == QEvent::Resize) && window->isVisible() &&
        !FrameMargins(window).isNull()) {
      window->removeEventFilter(this);
      deleteLater();
      QTimer::singleShot(0, window, [window] { FitNewWindow(window, window->frameGeometry(), 0); });
    }
    return false;
  }
};

} // namespace

QRect NewWindowFrame(QPoint at, QSize size, QSize least, const QMargins &margins, const QRect &usable,
                     const QRect &previous, int step) {
  const bool cascaded = previous.isValid();
  if (cascaded)
    at = previous.topLeft() + QPoint(step, step);
  size = size.grownBy(margins);
  least = least.grownBy(margins);
  int x = at.x(), y = at.y(), width = size.width(), height = size.height();
  PlaceAlong(x, width, least.width(), usable.left(), usable.right() + 1, cascaded);
  PlaceAlong(y, height, least.height(), usable.top(), usable.bottom() + 1, cascaded);
  return QRect(x, y, width, height);
}

void PlaceNewWindow(QWidget *window, const QWidget *previous, int step) {
  if (!window)
    return;
  FitNewWindow(window, previous ? previous->frameGeometry() : QRect(), step);
  if (KnownFrameMargins(window).isNull() && !Frameless(window))
    new FitWhenFramed(window);
}

void MoveWindowOnscreen(QWidget *window) {
  if (!window)
    return;
  const QRect usable = UsableArea(window);
  if (usable.isEmpty())
    return;
  const QRect frame = FrameOnScreen(window);
  if (usable.contains(frame))
    return;
  const QPoint at(std::clamp(frame.left(), usable.left(), std::max(usable.left(), usable.right() + 1 - frame.width())),
                  std::clamp(frame.top(), usable.top(), std::max(usable.top(), usable.bottom() + 1 - frame.height())));
  PutFrameAt(window, at);
}
