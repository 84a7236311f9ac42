// What the Overview window's source files share among themselves.
#pragma once

#include "overview/OverviewWindow.h"
#include "shell/Commands.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QTimer>

class StatusPane;
class QFrame;
class QPainter;
namespace Ui {
class Overview;
}

class OverviewWindow : public QWidget {
  Q_OBJECT
public:
  OverviewWindow();
  ~OverviewWindow() override;
  Ui::Overview *ui = nullptr;
  QTabBar *tabs = nullptr;
  ThumbnailPane *pane = nullptr;
  QScrollBar *scroll = nullptr;
  QSlider *slider = nullptr;
  QLineEdit *caption = nullptr;
  QTextEdit *log = nullptr;
  QFrame *logFrame = nullptr;
  StatusPane *status = nullptr;
  QLabel *zoomSmaller = nullptr;
  QLabel *zoomLarger = nullptr;
  QToolButton *addButton = nullptr;
  QToolButton *actionButton = nullptr;
  bool syncingSlider = false;

protected:
  void closeEvent(QCloseEvent *event) override;
  bool event(QEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;
};

// The window's keys; true when handled.
bool HandleOverviewKey(int key, Qt::KeyboardModifiers modifiers);
// The window's own commands (tabs, add files) and then the program's.
OSStatus OverviewWindowCommand(uint32_t command);
// True while a press in the pane is being followed.
bool OverviewTracking();
// Paints the grid of the current tab into the pane box.
void PaintThumbnails(QPainter &painter, const GridBox &pane);
