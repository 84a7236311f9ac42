// The depth graph of the Depth tab: the fading curve with six handles that
// a press, drag and release move.
#pragma once

#include "DepthCurve.h"

#include <QWidget>
#include <functional>

class DepthGraph : public QWidget {
  Q_OBJECT
public:
  explicit DepthGraph(QWidget *parent = nullptr);
  // The curve shown and edited, and what runs after each change.
  void SetCurve(DepthCurve *curve, std::function<void()> changed) {
    curve_ = curve;
    changed_ = std::move(changed);
    update();
  }
  // The handles lie on this rectangle (the widget inset by 3 pixels).
  QRect GraphRect() const { return rect().adjusted(3, 3, -3, -3); }
  int DraggedHandle() const { return handle_; }

protected:
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;

private:
  DepthCurve *curve_ = nullptr;
  std::function<void()> changed_;
  int handle_ = -1;
};
