#include "ToolCursors.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <map>

namespace {

constexpr int kCursorSize = 32;

// A white-edged black drawing: every stroke is laid down wide in white, then
// narrow in black, so that the cursor reads on any background.
class CursorPainter {
public:
  explicit CursorPainter(QPixmap &pixmap) : painter_(&pixmap) { painter_.setRenderHint(QPainter::Antialiasing); }
  void Stroke(const QPainterPath &path) {
    painter_.strokePath(path, QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter_.strokePath(path, QPen(Qt::black, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  }
  void Line(qreal x0, qreal y0, qreal x1, qreal y1) {
    QPainterPath p;
    p.moveTo(x0, y0);
    p.lineTo(x1, y1);
    Stroke(p);
  }
  void Circle(qreal x, qreal y, qreal r) {
    QPainterPath p;
    p.addEllipse(QPointF(x, y), r, r);
    Stroke(p);
  }
  void Dot(qreal x, qreal y, qreal r) {
    painter_.setPen(QPen(Qt::white, 1.5));
    painter_.setBrush(Qt::black);
    painter_.drawEllipse(QPointF(x, y), r, r);
  }
  // Small cross hairs with the hot spot at (x, y).
  void Hairs(qreal x, qreal y) {
    Line(x - 5, y, x + 5, y);
    Line(x, y - 5, x, y + 5);
  }

private:
  QPainter painter_;
};

QCursor Draw(CocoaCursor cursor) {
  QPixmap pixmap(kCursorSize, kCursorSize);
  pixmap.fill(Qt::transparent);
  QPoint hot(8, 8);
  {
    CursorPainter c(pixmap);
    switch (cursor) {
    case kMoveToolCursor: // four arrows
      hot = QPoint(16, 16);
      c.Line(16, 4, 16, 28);
      c.Line(4, 16, 28, 16);
      for (int s : {-1, 1}) {
        c.Line(16, 16 + s * 12, 12, 16 + s * 8);
        c.Line(16, 16 + s * 12, 20, 16 + s * 8);
        c.Line(16 + s * 12, 16, 16 + s * 8, 12);
        c.Line(16 + s * 12, 16, 16 + s * 8, 20);
      }
      break;
    case kMagnifyZoomInCursor:
    case kMagnifyZoomOutCursor: // a glass with + or -
      hot = QPoint(12, 12);
      c.Circle(12, 12, 8);
      c.Line(18, 18, 27, 27);
      c.Line(8, 12, 16, 12);
      if (cursor == kMagnifyZoomInCursor)
        c.Line(12, 8, 12, 16);
      break;
    case kZapperCursor: { // a lightning bolt
      hot = QPoint(6, 27);
      QPainterPath p;
      p.moveTo(22, 3);
      p.lineTo(12, 15);
      p.lineTo(19, 15);
      p.lineTo(6, 27);
      c.Stroke(p);
      break;
    }
    case kPolygonCursor: { // cross hairs and a polygon
      hot = QPoint(6, 6);
      c.Hairs(6, 6);
      QPainterPath p;
      p.moveTo(14, 14);
      p.lineTo(28, 16);
      p.lineTo(22, 28);
      p.lineTo(12, 24);
      p.closeSubpath();
      c.Stroke(p);
      break;
    }
    case kLassoCursor: { // a loop with a tail
      hot = QPoint(6, 27);
      QPainterPath p;
      p.addEllipse(QPointF(18, 11), 10, 7);
      p.moveTo(10, 16);
      p.cubicTo(6, 20, 10, 24, 6, 27);
      c.Stroke(p);
      break;
    }
    case kBondDistanceCursor:
    case kDistanceCursor: // cross hairs and a measured span
      hot = QPoint(6, 6);
      c.Hairs(6, 6);
      c.Line(12, 24, 28, 24);
      c.Line(12, 20, 12, 28);
      c.Line(28, 20, 28, 28);
      if (cursor == kBondDistanceCursor) {
        c.Dot(12, 24, 2.5);
        c.Dot(28, 24, 2.5);
      }
      break;
    case kBondAngleCursor:
    case kAngleCursor: { // cross hairs and an angle with its arc
      hot = QPoint(6, 6);
      c.Hairs(6, 6);
      c.Line(12, 28, 28, 28);
      c.Line(12, 28, 24, 14);
      QPainterPath arc;
      arc.arcMoveTo(QRectF(4, 20, 16, 16), 0);
      arc.arcTo(QRectF(4, 20, 16, 16), 0, 50);
      c.Stroke(arc);
      if (cursor == kBondAngleCursor)
        c.Dot(12, 28, 2.5);
      break;
    }
    case kPlaneCursor: { // cross hairs and a tilted plane
      hot = QPoint(6, 6);
      c.Hairs(6, 6);
      QPainterPath p;
      p.moveTo(12, 22);
      p.lineTo(22, 14);
      p.lineTo(30, 20);
      p.lineTo(20, 28);
      p.closeSubpath();
      c.Stroke(p);
      break;
    }
    case kAddDeleteBondCursor: // two atoms joined, with a +/-
      hot = QPoint(6, 6);
      c.Hairs(6, 6);
      c.Line(14, 26, 26, 14);
      c.Dot(14, 26, 3);
      c.Dot(26, 14, 3);
      c.Line(20, 28, 28, 28);
      c.Line(24, 24, 24, 28);
      break;
    case kAddAtomCursor: // an atom with a plus
      hot = QPoint(6, 6);
      c.Hairs(6, 6);
      c.Dot(21, 21, 6);
      c.Line(26, 8, 26, 14);
      c.Line(23, 11, 29, 11);
      break;
    case kVerticalGrowCursor: // left-right resize
      hot = QPoint(16, 16);
      c.Line(12, 8, 12, 24);
      c.Line(20, 8, 20, 24);
      c.Line(4, 16, 10, 16);
      c.Line(22, 16, 28, 16);
      c.Line(4, 16, 7, 13);
      c.Line(4, 16, 7, 19);
      c.Line(28, 16, 25, 13);
      c.Line(28, 16, 25, 19);
      break;
    case kHorizontalGrowCursor: // up-down resize
      hot = QPoint(16, 16);
      c.Line(8, 12, 24, 12);
      c.Line(8, 20, 24, 20);
      c.Line(16, 4, 16, 10);
      c.Line(16, 22, 16, 28);
      c.Line(16, 4, 13, 7);
      c.Line(16, 4, 19, 7);
      c.Line(16, 28, 13, 25);
      c.Line(16, 28, 19, 25);
      break;
    default:
      break;
    }
  }
  return QCursor(pixmap, hot.x(), hot.y());
}

} // namespace

QCursor ToolCursor(CocoaCursor cursor) {
  switch (cursor) {
  case kArrowCursor:
    return QCursor(Qt::ArrowCursor);
  case kCmdDotCursor:
  case kWatchCursor:
    return QCursor(Qt::BusyCursor);
  case kCrossCursor:
    return QCursor(Qt::CrossCursor);
  case kOpenHandCursor:
    return QCursor(Qt::OpenHandCursor);
  case kClosedHandCursor:
    return QCursor(Qt::ClosedHandCursor);
  default:
    break;
  }
  static auto *made = new std::map<int, QCursor>; // kept for the whole run
  auto it = made->find(cursor);
  if (it == made->end())
    it = made->emplace(cursor, Draw(cursor)).first;
  return it->second;
}
