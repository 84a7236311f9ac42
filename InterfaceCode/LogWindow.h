// The Log window: the program's Log text, read-only, in a window of its
// own under the Window menu.
#pragma once

#include <QMainWindow>

class QTextEdit;
class LogStore;

class LogWindow : public QMainWindow {
  Q_OBJECT
public:
  explicit LogWindow(LogStore *store, QWidget *parent = nullptr);
  QTextEdit *View() const { return view_; }

private:
  QTextEdit *view_;
};

// Shows the Log window (made on first use) and brings it to the front.
void DoShowLogWindow();
// The Log window; null until first shown.
LogWindow *GetLogWindow();
// True while the Log window shows.
bool LogWindowShowing();
