// Floating windows (inspectors, the Overview, the tool windows) stay above
// every structure window of the program and never above another program's
// windows: each is transient for the structure window in front, which the
// window manager keeps it above, and follows the front as it changes. The
// questions the program asks (sheets, alerts) stay above them all.
#pragma once

#include <functional>

class QWidget;
class QWindow;

// Follows the front structure window from now on.
void InstallFloatingWindowStacking();

// What the stacking asks of the window system: to record that a window it
// shows already is transient for `owner` (a window it has not mapped yet
// takes its owner when mapped), and to raise a window to the top of the
// program's windows. Tests install calls of their own; the previous ones
// are returned.
struct WindowStackingCalls {
  std::function<void(QWindow *window, QWindow *owner)> linkShown;
  std::function<void(QWidget *window)> raise;
};
WindowStackingCalls SetWindowStackingCalls(WindowStackingCalls calls);
