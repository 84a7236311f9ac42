#include "GraphicsPort.h"

#include "PictWriter.h"
#include "QtBridge.h"
#include "RegionImpl.h"
#include "ShapedText.h"
#include "VectorState.h"

#include <QPainter>

#include <climits>
#include <cmath>
#include <cstdlib>

namespace ovgfx {

namespace {

GraphicsPort *gCurrentPort = nullptr;

// Steps of the polygon that stands for an arc's wedge, in degrees.
constexpr int kArcStepDegrees = 2;
constexpr double kDegreesToRadians = 0.0174532925199;

// One channel of a blend: colour * w + pixel * (1 - w), truncated.
inline uint32_t BlendChannel(uint32_t colour, uint32_t pixel, float w) {
  return uint32_t(float(colour) * w + float(pixel) * (1.0f - w));
}

inline uint32_t BlendPixel(uint32_t colour, uint32_t pixel, const float w[3]) {
  return PackPixel32(0xFF, BlendChannel(PixelRed(colour), PixelRed(pixel), w[0]),
                     BlendChannel(PixelGreen(colour), PixelGreen(pixel), w[1]),
                     BlendChannel(PixelBlue(colour), PixelBlue(pixel), w[2]));
}

} // namespace

GraphicsPort *CurrentPort() { return gCurrentPort; }
void SetCurrentPort(GraphicsPort *port) { gCurrentPort = port; }

std::unique_ptr<GraphicsPort> GraphicsPort::NewOffscreen(const Rect &bounds, int depth) {
  std::unique_ptr<PixelBuffer> pixels = PixelBuffer::Create(bounds, depth);
  if (!pixels)
    return nullptr;
  auto port = std::make_unique<GraphicsPort>(pixels.get());
  port->owned_ = std::move(pixels);
  return port;
}

GraphicsPort::GraphicsPort(PixelBuffer *pixels) : pixels_(pixels), clip_(kWideOpenRect) {
  if (pixels_)
    portRect_ = pixels_->Bounds();
}

GraphicsPort::GraphicsPort(const Rect &portRect) : portRect_(portRect), clip_(portRect) {}

GraphicsPort::~GraphicsPort() {
  if (gCurrentPort == this)
    gCurrentPort = nullptr;
}

void GraphicsPort::SetOrigin(int h, int v) {
  int dh = h - portRect_.left;
  int dv = v - portRect_.top;
  portRect_ = OffsetRect(portRect_, dh, dv);
  if (pixels_)
    pixels_->MoveBoundsTo(pixels_->Bounds().left + dh, pixels_->Bounds().top + dv);
}

void GraphicsPort::PenNormal() {
  penWidth_ = 1;
  penHeight_ = 1;
  penMode_ = kPenCopy;
  penPattern_ = kSolidPattern;
}

// ---- Low-level span drawing -------------------------------------------------------

void GraphicsPort::DrawSpan(int y, int x0, int x1, const Ink &ink) {
  PixelBuffer &px = *pixels_;
  const bool solid = ink.pattern == kSolidPattern;
  if (px.Depth() == 1) {
    const bool foreBit = RGBColorIsDark(ink.fore);
    const bool backBit = RGBColorIsDark(ink.back);
    for (int x = x0; x < x1; ++x)
      px.SetBit(x, y, (solid || ink.pattern.Bit(x, y)) ? foreBit : backBit);
    return;
  }
  const uint32_t forePixel = RGBColorToPixel32(ink.fore);
  const uint32_t backPixel = RGBColorToPixel32(ink.back);
  uint32_t *row = px.Row32(y) - px.Bounds().left;
  if (ink.mode == kPenBlend) {
    const float w[3] = {float(ink.op.red) / 65535.0f, float(ink.op.green) / 65535.0f, float(ink.op.blue) / 65535.0f};
    for (int x = x0; x < x1; ++x) {
      uint32_t colour = (solid || ink.pattern.Bit(x, y)) ? forePixel : backPixel;
      row[x] = BlendPixel(colour, row[x], w);
    }
    return;
  }
  if (solid) {
    std::fill(row + x0, row + x1, forePixel);
    return;
  }
  for (int x = x0; x < x1; ++x)
    row[x] = ink.pattern.Bit(x, y) ? forePixel : backPixel;
}

Region GraphicsPort::VisibleRegion() const {
  if (!pixels_)
    return Region();
  return clip_.Intersected(Region(pixels_->Bounds()));
}

Rect GraphicsPort::VisibleBounds() const {
  return pixels_ ? SectRect(clip_.Bounds(), pixels_->Bounds()) : Rect{};
}

void GraphicsPort::DrawRegion(const Region &shape, const Ink &ink) {
  if (!pixels_)
    return;
  Region visible = clip_.IsRectangular() ? shape.Intersected(Region(SectRect(clip_.Bounds(), pixels_->Bounds())))
                                         : shape.Intersected(VisibleRegion());
  for (const Rect &r : visible.Rects())
    for (int y = r.top; y < r.bottom; ++y)
      DrawSpan(y, r.left, r.right, ink);
}

void GraphicsPort::DrawRowSpans(int top, const std::vector<std::pair<int, int>> &spans, const Ink &ink) {
  if (!pixels_)
    return;
  if (!clip_.IsRectangular()) {
    DrawRegion(Region::FromRowSpans(top, spans), ink);
    return;
  }
  // A rectangular clip: cut the spans directly, without building a region.
  const Rect limit = SectRect(clip_.Bounds(), pixels_->Bounds());
  if (limit.IsEmpty())
    return;
  for (size_t i = 0; i < spans.size(); ++i) {
    int y = top + int(i);
    if (y < limit.top || y >= limit.bottom)
      continue;
    int x0 = std::max(spans[i].first, int(limit.left));
    int x1 = std::min(spans[i].second, int(limit.right));
    if (x0 < x1)
      DrawSpan(y, x0, x1, ink);
  }
}

// ---- Pen lines --------------------------------------------------------------------

namespace {

// The rows covered by a pen of w x h dragged from (x0, y0) to (x1, y1) along
// the line's pixels: every row is one span because consecutive line pixels
// differ by at most one column.
struct PenSweep {
  int top = 0;
  std::vector<std::pair<int, int>> spans;
  // Only the rows from `first` up to, not including, `last` are kept: the
  // line is walked as it is, so the rows kept are those of the whole line.
  int first = INT_MIN, last = INT_MAX;

  PenSweep() = default;
  PenSweep(int firstRow, int lastRow) : first(firstRow), last(lastRow) {}

  void Add(int x0, int y0, int x1, int y1, int w, int h) {
    const int lineTop = std::max(std::min(y0, y1), first);
    const int lineBottom = std::min(std::max(y0, y1) + h, last); // exclusive
    if (lineTop >= lineBottom)
      return;
    if (spans.empty()) {
      top = lineTop;
      spans.assign(size_t(lineBottom - lineTop), {INT_MAX, INT_MIN});
    } else {
      Grow(lineTop, lineBottom);
    }
    auto stamp = [&](int x, int y) {
      for (int r = std::max(y, lineTop); r < std::min(y + h, lineBottom); ++r) {
        auto &s = spans[size_t(r - top)];
        s.first = std::min(s.first, x);
        s.second = std::max(s.second, x + w);
      }
    };
    int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    int x = x0, y = y0;
    for (;;) {
      stamp(x, y);
      // Past the rows kept: the rest of the line adds nothing.
      if ((x == x1 && y == y1) || (sy > 0 ? y >= lineBottom : y + h <= lineTop))
        break;
      int e2 = 2 * err;
      if (e2 >= dy) {
        err += dy;
        x += sx;
      }
      if (e2 <= dx) {
        err += dx;
        y += sy;
      }
    }
  }

  void Grow(int newTop, int newBottom) {
    int bottom = top + int(spans.size());
    if (newTop < top) {
      spans.insert(spans.begin(), size_t(top - newTop), {INT_MAX, INT_MIN});
      top = newTop;
    }
    if (newBottom > bottom)
      spans.resize(spans.size() + size_t(newBottom - bottom), {INT_MAX, INT_MIN});
  }
};

} // namespace

void GraphicsPort::LineTo(int h, int v) {
  int x0 = penLoc_.h, y0 = penLoc_.v;
  MoveTo(h, v);
  if (recorder_)
    recorder_->Line(*this, Point{int16_t(y0), int16_t(x0)}, penLoc_);
  if (penWidth_ <= 0 || penHeight_ <= 0)
    return;
  PenSweep sweep;
  sweep.Add(x0, y0, h, v, penWidth_, penHeight_);
  DrawRowSpans(sweep.top, sweep.spans, PenInk());
}

// ---- Rectangles, ovals, arcs ---------------------------------------------------------

void GraphicsPort::PaintRect(const Rect &r) {
  if (recorder_)
    recorder_->RectShape(*this, kPictPaint, r);
  DrawRegion(Region(r), PenInk());
}
void GraphicsPort::EraseRect(const Rect &r) {
  if (recorder_)
    recorder_->RectShape(*this, kPictErase, r);
  DrawRegion(Region(r), EraseInk());
}
void GraphicsPort::FillRect(const Rect &r, const Pattern &pattern) {
  if (recorder_)
    recorder_->RectShape(*this, kPictFill, r, &pattern);
  DrawRegion(Region(r), FillInk(pattern));
}
void GraphicsPort::FrameRect(const Rect &r) {
  if (recorder_)
    recorder_->RectShape(*this, kPictFrame, r);
  if (penWidth_ <= 0 || penHeight_ <= 0)
    return;
  DrawRegion(Region(r).Subtracted(Region(InsetRect(r, penWidth_, penHeight_))), PenInk());
}

void GraphicsPort::PaintOval(const Rect &r) {
  if (recorder_)
    recorder_->OvalShape(*this, kPictPaint, r);
  DrawRegion(Region::Oval(r), PenInk());
}
void GraphicsPort::EraseOval(const Rect &r) {
  if (recorder_)
    recorder_->OvalShape(*this, kPictErase, r);
  DrawRegion(Region::Oval(r), EraseInk());
}
void GraphicsPort::FillOval(const Rect &r, const Pattern &pattern) {
  if (recorder_)
    recorder_->OvalShape(*this, kPictFill, r, &pattern);
  DrawRegion(Region::Oval(r), FillInk(pattern));
}
void GraphicsPort::FrameOval(const Rect &r) {
  if (recorder_)
    recorder_->OvalShape(*this, kPictFrame, r);
  if (penWidth_ <= 0 || penHeight_ <= 0)
    return;
  DrawRegion(Region::Oval(r).Subtracted(Region::Oval(InsetRect(r, penWidth_, penHeight_))), PenInk());
}

void GraphicsPort::FrameArc(const Rect &r, int startAngle, int arcAngle) {
  if (recorder_)
    recorder_->ArcShape(*this, r, startAngle, arcAngle);
  if (penWidth_ <= 0 || penHeight_ <= 0 || r.IsEmpty() || arcAngle == 0)
    return;
  Region ring = Region::Oval(r).Subtracted(Region::Oval(InsetRect(r, penWidth_, penHeight_)));
  if (std::abs(arcAngle) < 360) {
    // The wedge from the centre through the arc's two angles, reaching well
    // beyond the oval: the points lie on the oval's ellipse scaled by 2.
    const double cx = (r.left + r.right) / 2.0, cy = (r.top + r.bottom) / 2.0;
    const double ax = r.Width(), ay = r.Height(); // twice the semi-axes
    Polygon wedge;
    wedge.Add(int(std::lround(cx)), int(std::lround(cy)));
    int steps = std::max(1, std::abs(arcAngle) / kArcStepDegrees);
    for (int i = 0; i <= steps; ++i) {
      double a = (startAngle + double(arcAngle) * i / steps) * kDegreesToRadians;
      wedge.Add(int(std::lround(cx + std::sin(a) * ax)), int(std::lround(cy - std::cos(a) * ay)));
    }
    ring = ring.Intersected(Region::FromPolygon(wedge));
  }
  DrawRegion(ring, PenInk());
}

// ---- Polygons and regions --------------------------------------------------------------

// A polygon's pixels are made for the visible rows only (the rest would be
// cut away), so that a polygon far larger than the port costs what its
// visible part costs.
void GraphicsPort::PaintPolygon(const Polygon &p) {
  if (recorder_)
    recorder_->PolyShape(*this, kPictPaint, p);
  DrawRegion(Region::FromPolygon(p, VisibleBounds()), PenInk());
}
void GraphicsPort::ErasePolygon(const Polygon &p) {
  if (recorder_)
    recorder_->PolyShape(*this, kPictErase, p);
  DrawRegion(Region::FromPolygon(p, VisibleBounds()), EraseInk());
}
void GraphicsPort::FillPolygon(const Polygon &p, const Pattern &pattern) {
  if (recorder_)
    recorder_->PolyShape(*this, kPictFill, p, &pattern);
  DrawRegion(Region::FromPolygon(p, VisibleBounds()), FillInk(pattern));
}
void GraphicsPort::FramePolygon(const Polygon &p) {
  if (p.Empty())
    return;
  if (recorder_)
    recorder_->PolyShape(*this, kPictFrame, p);
  const auto &pts = p.Points();
  MoveTo(pts.back().h, pts.back().v);
  const Rect visible = VisibleBounds();
  if (penWidth_ <= 0 || penHeight_ <= 0 || pts.size() < 2 || visible.IsEmpty())
    return;
  // Each edge is swept on its own (a row of one sweep keeps a single span,
  // which would fill between edges); their union is drawn once, so that no
  // pixel is drawn twice (which would blend it twice in blend mode).
  Region outline;
  for (size_t i = 1; i < pts.size(); ++i) {
    PenSweep sweep(visible.top, visible.bottom);
    sweep.Add(pts[i - 1].h, pts[i - 1].v, pts[i].h, pts[i].v, penWidth_, penHeight_);
    outline = outline.United(Region::FromRowSpans(sweep.top, sweep.spans));
  }
  DrawRegion(outline, PenInk());
}

void GraphicsPort::PaintRegion(const Region &r) {
  if (recorder_)
    recorder_->RegionShape(*this, kPictPaint, r);
  DrawRegion(r, PenInk());
}
void GraphicsPort::EraseRegion(const Region &r) {
  if (recorder_)
    recorder_->RegionShape(*this, kPictErase, r);
  DrawRegion(r, EraseInk());
}
void GraphicsPort::FillRegion(const Region &r, const Pattern &pattern) {
  if (recorder_)
    recorder_->RegionShape(*this, kPictFill, r, &pattern);
  DrawRegion(r, FillInk(pattern));
}
void GraphicsPort::FrameRegion(const Region &r) {
  if (penWidth_ <= 0 || penHeight_ <= 0)
    return;
  Region inner = r;
  inner.Inset(penWidth_, penHeight_);
  if (recorder_)
    recorder_->RegionShape(*this, kPictFrame, r.Subtracted(inner));
  DrawRegion(r.Subtracted(inner), PenInk());
}

void GraphicsPort::SetPixel(int h, int v, const RGBColor &colour) {
  if (recorder_ && clip_.Contains(h, v))
    recorder_->Pixel(*this, h, v, colour);
  if (!pixels_ || !pixels_->Bounds().Contains(h, v) || !clip_.Contains(h, v))
    return;
  if (pixels_->Depth() == 1)
    pixels_->SetBit(h, v, RGBColorIsDark(colour));
  else
    pixels_->SetPixel32(h, v, RGBColorToPixel32(colour));
}

// ---- Text -------------------------------------------------------------------------

int GraphicsPort::TextWidth(std::string_view utf8) const {
  const QFont font = MakeFont(fontName_, textSize_, textFace_);
  return int(std::lround(ShapeText(font, QString::fromUtf8(utf8.data(), qsizetype(utf8.size()))).advance));
}

void GraphicsPort::DrawString(std::string_view utf8) {
  const QFont font = MakeFont(fontName_, textSize_, textFace_);
  const QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
  const ShapedText &shaped = ShapeText(font, text);
  Point at = penLoc_;
  Move(int(std::lround(shaped.advance)), 0);
  if (recorder_)
    recorder_->Text(*this, at, utf8);
  if (!pixels_ || pixels_->Depth() != 32 || shaped.outline.isEmpty())
    return;
  // The outlines are filled in an image of their own, placed in whole
  // pixels of the picture, so that a picture drawn in strips has the text's
  // pixels of the picture drawn whole.
  const QRect area =
      shaped.outline.boundingRect().translated(at.h, at.v).toAlignedRect().adjusted(-1, -1, 1, 1);
  if (area.isEmpty())
    return;
  QImage glyphs(area.size(), QImage::Format_ARGB32_Premultiplied);
  glyphs.fill(Qt::transparent);
  QPainter fill(&glyphs);
  fill.setRenderHint(QPainter::Antialiasing, true);
  fill.translate(at.h - area.left(), at.v - area.top());
  fill.fillPath(shaped.outline, QColor(fore_.red >> 8, fore_.green >> 8, fore_.blue >> 8));
  fill.end();
  QImage image = ImageView(*pixels_);
  QPainter painter(&image);
  const Rect &b = pixels_->Bounds();
  painter.translate(-b.left, -b.top);
  painter.setClipRegion(VisibleRegion().impl().region);
  painter.drawImage(area.topLeft(), glyphs);
  painter.end();
  LeaveVectorStateClean();
}

} // namespace ovgfx
