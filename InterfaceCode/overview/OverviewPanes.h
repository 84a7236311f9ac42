// The Overview window's two drawn panes: the thumbnails and the status bar.
#pragma once

#include <QWidget>

// The thumbnail grid: draws the current list and turns the mouse, the wheel
// and resizing into the window's operations.
class ThumbnailPane : public QWidget {
  Q_OBJECT
public:
  explicit ThumbnailPane(QWidget *parent = nullptr);

protected:
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void wheelEvent(QWheelEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  bool event(QEvent *event) override;
  // Files and folders dropped on the Favourites or Views join that list.
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dropEvent(QDropEvent *event) override;
};

// The status bar under the panes.
class StatusPane : public QWidget {
  Q_OBJECT
public:
  explicit StatusPane(QWidget *parent = nullptr);

protected:
  void paintEvent(QPaintEvent *event) override;
};
