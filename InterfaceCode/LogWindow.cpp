#include "LogWindow.h"

#include "shell/FileCommands.h"
#include "shell/LogStore.h"

#include <QPointer>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>

namespace {
QPointer<LogWindow> gLogWindow;
}

LogWindow::LogWindow(LogStore *store, QWidget *parent) : QMainWindow(parent), view_(new QTextEdit(this)) {
  setWindowTitle("Log");
  view_->setReadOnly(true);
  view_->setDocument(store->Document());
  view_->setLineWrapMode(QTextEdit::NoWrap);
  setCentralWidget(view_);
  resize(560, 360);
  // New lines scroll into view when the end was showing.
  connect(store, &LogStore::Appended, this, [this] {
    QScrollBar *bar = view_->verticalScrollBar();
    if (bar->value() >= bar->maximum() - 2 * bar->singleStep())
      bar->setValue(bar->maximum());
  });
  connect(store, &LogStore::ScrollToTopRequested, this, [this] {
    view_->moveCursor(QTextCursor::Start);
    view_->ensureCursorVisible();
  });
  InstallMenuBar(this);
}

void DoShowLogWindow() {
  if (!gLogWindow) {
    if (!GetLogStore())
      return;
    gLogWindow = new LogWindow(GetLogStore());
  }
  gLogWindow->show();
  gLogWindow->raise();
  gLogWindow->activateWindow();
}

LogWindow *GetLogWindow() { return gLogWindow; }

bool LogWindowShowing() { return gLogWindow && gLogWindow->isVisible(); }
