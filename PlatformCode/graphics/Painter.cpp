#include "Painter.h"

#include "QtBridge.h"
#include "ShapedText.h"
#include "VectorState.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QTextOption>

#include <cmath>
#include <optional>

namespace ovgfx {

namespace {

// Below this a length counts as zero in the tangent-arc construction.
constexpr double kArcTolerance = 1e-9;
QColor ColourFromFloats(float r, float g, float b, float a) {
  auto clamp = [](float v) { return std::min(1.0f, std::max(0.0f, v)); };
  return QColor::fromRgbF(clamp(r), clamp(g), clamp(b), clamp(a));
}

struct PainterState {
  QTransform ctm; // user space to the base space of the port
  QColor fill = Qt::black;
  QColor stroke = Qt::black;
  float lineWidth = 1.0f;
  Qt::PenCapStyle cap = Qt::FlatCap;
  Qt::PenJoinStyle join = Qt::MiterJoin;
  std::vector<qreal> dashes;
  float dashPhase = 0;
  bool antialias = true;
  std::optional<QPainterPath> clip; // in device (image) coordinates
  std::string fontFamily = "Helvetica";
  float fontSize = 12.0f;
  int fontFace = 0;
  PainterTextMode textMode = PainterTextMode::kFill;
};

} // namespace

struct Painter::Impl {
  QImage image;
  QPainter painter;
  QTransform base; // port coordinates (y up or down) to image pixels
  PainterState st;
  std::vector<PainterState> saved;
  QPainterPath path; // in device coordinates
  bool hasCurrentPoint = false;
  QPointF textPosition; // user space

  QTransform Full() const { return st.ctm * base; }
  QPointF Map(float x, float y) const { return Full().map(QPointF(x, y)); }

  void PrepareDevice() {
    painter.resetTransform();
    if (st.clip) {
      painter.setClipPath(*st.clip);
    } else {
      painter.setClipping(false);
    }
    painter.setRenderHint(QPainter::Antialiasing, st.antialias);
    painter.setRenderHint(QPainter::TextAntialiasing, st.antialias);
  }

  QPen StrokePen() const {
    QPen pen(st.stroke);
    pen.setCapStyle(st.cap);
    pen.setJoinStyle(st.join);
    if (st.lineWidth <= 0) {
      pen.setWidthF(0); // the thinnest line the device can show
      pen.setCosmetic(true);
      return pen;
    }
    pen.setWidthF(st.lineWidth);
    if (!st.dashes.empty()) {
      // Qt measures dashes in line widths; ours are in user units.
      QList<qreal> pattern;
      for (qreal d : st.dashes)
        pattern << d / st.lineWidth;
      if (pattern.size() % 2)
        pattern << pattern; // an odd list repeats to make on/off pairs
      pen.setDashPattern(pattern);
      pen.setDashOffset(st.dashPhase / st.lineWidth);
    }
    return pen;
  }

  void Fill(const QPainterPath &devicePath, Qt::FillRule rule) {
    if (devicePath.isEmpty())
      return;
    PrepareDevice();
    QPainterPath p = devicePath;
    p.setFillRule(rule);
    painter.fillPath(p, st.fill);
  }

  void Stroke(const QPainterPath &devicePath) {
    if (devicePath.isEmpty())
      return;
    bool invertible = false;
    QTransform inverse = Full().inverted(&invertible);
    if (!invertible)
      return;
    PrepareDevice();
    painter.setTransform(Full());
    painter.strokePath(inverse.map(devicePath), StrokePen());
  }

  // Appends a circular arc about (cx, cy) in user space from angle a0 to a1
  // (radians, the sweep taken as given) as cubic curves in device space.
  void AppendArc(double cx, double cy, double r, double a0, double a1) {
    const QTransform full = Full();
    double sweep = a1 - a0;
    int pieces = std::max(1, int(std::ceil(std::fabs(sweep) / (M_PI / 2))));
    double step = sweep / pieces;
    double k = 4.0 / 3.0 * std::tan(step / 4.0) * r;
    for (int i = 0; i < pieces; ++i) {
      double s = a0 + i * step, e = s + step;
      QPointF p0(cx + r * std::cos(s), cy + r * std::sin(s));
      QPointF p3(cx + r * std::cos(e), cy + r * std::sin(e));
      QPointF c1 = p0 + QPointF(-std::sin(s) * k, std::cos(s) * k);
      QPointF c2 = p3 - QPointF(-std::sin(e) * k, std::cos(e) * k);
      path.cubicTo(full.map(c1), full.map(c2), full.map(p3));
    }
  }

  QFont Font() const { return MakeFont(st.fontFamily, st.fontSize, st.fontFace); }
};

TextSize MeasureText(std::string_view family, float size, int face, std::string_view utf8) {
  if (family.empty() || !(size > 0))
    return {};
  const QFont font = MakeFont(family, size, face);
  QFontMetricsF metrics(font, MeasureDevice());
  return TextSize{float(ShapeText(font, QString::fromUtf8(utf8.data(), qsizetype(utf8.size()))).advance),
                  float(metrics.height())};
}

Painter::Painter(GraphicsPort &port, bool yUp) : impl_(std::make_unique<Impl>()) {
  PixelBuffer *pixels = port.Pixels();
  if (!pixels || pixels->Depth() != 32)
    return;
  impl_->image = ImageView(*pixels);
  impl_->painter.begin(&impl_->image);
  const Rect &b = pixels->Bounds();
  const Rect &pr = port.PortRect();
  if (yUp)
    impl_->base = QTransform(1, 0, 0, -1, pr.left - b.left, pr.bottom - b.top);
  else
    impl_->base = QTransform::fromTranslate(-b.left, -b.top);
}

Painter::~Painter() {
  if (impl_->painter.isActive())
    impl_->painter.end();
  LeaveVectorStateClean();
}

bool Painter::IsValid() const { return impl_->painter.isActive(); }

// ---- State --------------------------------------------------------------------------

void Painter::SaveState() { impl_->saved.push_back(impl_->st); }
void Painter::RestoreState() {
  if (impl_->saved.empty())
    return;
  impl_->st = impl_->saved.back();
  impl_->saved.pop_back();
}
void Painter::SetShouldAntialias(bool on) { impl_->st.antialias = on; }
void Painter::SetFillColor(float r, float g, float b, float alpha) {
  impl_->st.fill = ColourFromFloats(r, g, b, alpha);
}
void Painter::SetStrokeColor(float r, float g, float b, float alpha) {
  impl_->st.stroke = ColourFromFloats(r, g, b, alpha);
}
void Painter::SetLineWidth(float width) { impl_->st.lineWidth = width; }
void Painter::SetLineCap(PainterLineCap cap) {
  impl_->st.cap = cap == PainterLineCap::kRound    ? Qt::RoundCap
                  : cap == PainterLineCap::kSquare ? Qt::SquareCap
                                                   : Qt::FlatCap;
}
void Painter::SetLineJoin(PainterLineJoin join) {
  impl_->st.join = join == PainterLineJoin::kRound   ? Qt::RoundJoin
                   : join == PainterLineJoin::kBevel ? Qt::BevelJoin
                                                     : Qt::MiterJoin;
}
void Painter::SetLineDash(float phase, const float *lengths, int count) {
  impl_->st.dashes.clear();
  impl_->st.dashPhase = phase;
  bool anyPositive = false;
  for (int i = 0; lengths && i < count; ++i) {
    impl_->st.dashes.push_back(std::max(0.0f, lengths[i]));
    anyPositive = anyPositive || lengths[i] > 0;
  }
  if (!anyPositive)
    impl_->st.dashes.clear();
}
void Painter::TranslateCTM(float tx, float ty) { impl_->st.ctm = QTransform::fromTranslate(tx, ty) * impl_->st.ctm; }
void Painter::ScaleCTM(float sx, float sy) { impl_->st.ctm = QTransform::fromScale(sx, sy) * impl_->st.ctm; }
void Painter::RotateCTM(float radians) { impl_->st.ctm = QTransform().rotateRadians(radians) * impl_->st.ctm; }

void Painter::ClipToRect(const PainterRect &r) {
  QPainterPath rect;
  rect.addRect(QRectF(r.x, r.y, r.width, r.height));
  QPainterPath device = impl_->Full().map(rect);
  impl_->st.clip = impl_->st.clip ? impl_->st.clip->intersected(device) : device;
}

// ---- Paths -----------------------------------------------------------------------------

void Painter::BeginPath() {
  impl_->path = QPainterPath();
  impl_->hasCurrentPoint = false;
}
bool Painter::IsPathEmpty() const { return impl_->path.elementCount() == 0; }

void Painter::MoveToPoint(float x, float y) {
  impl_->path.moveTo(impl_->Map(x, y));
  impl_->hasCurrentPoint = true;
}

void Painter::AddLineToPoint(float x, float y) {
  if (!impl_->hasCurrentPoint) {
    MoveToPoint(x, y);
    return;
  }
  impl_->path.lineTo(impl_->Map(x, y));
}

void Painter::AddArcToPoint(float x1, float y1, float x2, float y2, float radius) {
  float x0, y0;
  if (!GetPathCurrentPoint(x0, y0)) {
    MoveToPoint(x1, y1);
    return;
  }
  // Unit vectors from the corner (x1, y1) back to the current point and on
  // to (x2, y2).
  double ux = x0 - x1, uy = y0 - y1, vx = x2 - x1, vy = y2 - y1;
  double lu = std::hypot(ux, uy), lv = std::hypot(vx, vy);
  double cross = (lu > kArcTolerance && lv > kArcTolerance) ? (ux * vy - uy * vx) / (lu * lv) : 0.0;
  if (radius <= 0 || std::fabs(cross) < kArcTolerance) {
    AddLineToPoint(x1, y1);
    return;
  }
  ux /= lu;
  uy /= lu;
  vx /= lv;
  vy /= lv;
  double cosTheta = std::max(-1.0, std::min(1.0, ux * vx + uy * vy));
  double theta = std::acos(cosTheta); // angle at the corner
  double tangent = radius / std::tan(theta / 2.0);
  double t1x = x1 + ux * tangent, t1y = y1 + uy * tangent;
  double bx = ux + vx, by = uy + vy, lb = std::hypot(bx, by);
  double centreDist = radius / std::sin(theta / 2.0);
  double cx = x1 + bx / lb * centreDist, cy = y1 + by / lb * centreDist;
  double a0 = std::atan2(t1y - cy, t1x - cx);
  double a1 = std::atan2(y1 + vy * tangent - cy, x1 + vx * tangent - cx);
  // The short way round, which is always the arc between the tangents.
  double sweep = a1 - a0;
  while (sweep > M_PI)
    sweep -= 2 * M_PI;
  while (sweep < -M_PI)
    sweep += 2 * M_PI;
  impl_->path.lineTo(impl_->Full().map(QPointF(t1x, t1y)));
  impl_->AppendArc(cx, cy, radius, a0, a0 + sweep);
}

void Painter::AddRect(const PainterRect &r) {
  MoveToPoint(r.x, r.y);
  AddLineToPoint(r.x + r.width, r.y);
  AddLineToPoint(r.x + r.width, r.y + r.height);
  AddLineToPoint(r.x, r.y + r.height);
  ClosePath();
}

void Painter::AddEllipseInRect(const PainterRect &r) {
  double cx = r.x + r.width / 2.0, cy = r.y + r.height / 2.0;
  // An ellipse is the unit circle scaled; draw it through a temporary
  // transform so that the curves stay exact.
  QTransform saved = impl_->st.ctm;
  impl_->st.ctm = QTransform::fromScale(r.width / 2.0, r.height / 2.0) * QTransform::fromTranslate(cx, cy) * saved;
  impl_->path.moveTo(impl_->Full().map(QPointF(1, 0)));
  impl_->AppendArc(0, 0, 1, 0, 2 * M_PI);
  impl_->path.closeSubpath();
  impl_->st.ctm = saved;
  impl_->hasCurrentPoint = true;
}

void Painter::ClosePath() { impl_->path.closeSubpath(); }

bool Painter::GetPathCurrentPoint(float &x, float &y) const {
  if (!impl_->hasCurrentPoint || impl_->path.elementCount() == 0)
    return false;
  bool invertible = false;
  QTransform inverse = impl_->Full().inverted(&invertible);
  if (!invertible)
    return false;
  QPointF p = inverse.map(impl_->path.currentPosition());
  x = float(p.x());
  y = float(p.y());
  return true;
}

void Painter::FillPath() {
  impl_->Fill(impl_->path, Qt::WindingFill);
  BeginPath();
}
void Painter::EOFillPath() {
  impl_->Fill(impl_->path, Qt::OddEvenFill);
  BeginPath();
}
void Painter::StrokePath() {
  impl_->Stroke(impl_->path);
  BeginPath();
}
void Painter::FillStrokePath() {
  impl_->Fill(impl_->path, Qt::WindingFill);
  impl_->Stroke(impl_->path);
  BeginPath();
}
void Painter::FillConvexPolygon(const float *xy, int n, bool stroke) {
  if (!xy || n < 3)
    return;
  QPointF points[8];
  std::vector<QPointF> many;
  QPointF *device = points;
  if (n > 8) {
    many.resize(size_t(n));
    device = many.data();
  }
  const QTransform full = impl_->Full();
  for (int k = 0; k < n; ++k)
    device[k] = full.map(QPointF(xy[2 * k], xy[2 * k + 1]));
  impl_->PrepareDevice();
  QPainter &p = impl_->painter;
  p.setBrush(impl_->st.fill);
  if (stroke) {
    // The pen is measured in current coordinates, so scale its width to
    // the device as the transform does.
    QPen pen = impl_->StrokePen();
    const double scale = std::sqrt(std::fabs(full.determinant()));
    if (pen.widthF() > 0)
      pen.setWidthF(pen.widthF() * scale);
    p.setPen(pen);
  } else {
    p.setPen(Qt::NoPen);
  }
  p.drawConvexPolygon(device, n);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::NoBrush);
}

void Painter::FillRect(const PainterRect &r) {
  BeginPath();
  AddRect(r);
  FillPath();
}
void Painter::StrokeRect(const PainterRect &r) {
  BeginPath();
  AddRect(r);
  StrokePath();
}
void Painter::FillEllipseInRect(const PainterRect &r) {
  BeginPath();
  AddEllipseInRect(r);
  FillPath();
}
void Painter::StrokeEllipseInRect(const PainterRect &r) {
  BeginPath();
  AddEllipseInRect(r);
  StrokePath();
}

// ---- Text ------------------------------------------------------------------------------

void Painter::SelectFont(std::string_view family, float size, int face) {
  impl_->st.fontFamily = std::string(family);
  impl_->st.fontSize = size;
  impl_->st.fontFace = face;
}
void Painter::SetTextDrawingMode(PainterTextMode mode) { impl_->st.textMode = mode; }
void Painter::SetTextPosition(float x, float y) { impl_->textPosition = QPointF(x, y); }
void Painter::GetTextPosition(float &x, float &y) const {
  x = float(impl_->textPosition.x());
  y = float(impl_->textPosition.y());
}

float Painter::StringWidth(std::string_view utf8) const {
  return float(ShapeText(impl_->Font(), QString::fromUtf8(utf8.data(), qsizetype(utf8.size()))).advance);
}

void Painter::ShowText(std::string_view utf8) {
  const ShapedText &shaped = ShapeText(impl_->Font(), QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
  const QPointF at = impl_->textPosition;
  impl_->textPosition += QPointF(float(shaped.advance), 0);
  const PainterTextMode mode = impl_->st.textMode;
  if (!IsValid() || mode == PainterTextMode::kInvisible || shaped.outline.isEmpty())
    return;
  // Glyph space: baseline at the text position, glyphs upright whichever
  // way the port's y runs.
  const bool flipped = impl_->base.m22() < 0;
  const QTransform glyphs =
      QTransform::fromScale(1, flipped ? -1 : 1) * QTransform::fromTranslate(at.x(), at.y()) * impl_->Full();
  impl_->PrepareDevice();
  impl_->painter.setTransform(glyphs);
  if (mode == PainterTextMode::kFill || mode == PainterTextMode::kFillStroke)
    impl_->painter.fillPath(shaped.outline, impl_->st.fill);
  if (mode != PainterTextMode::kFill)
    impl_->painter.strokePath(shaped.outline, impl_->StrokePen());
}

void Painter::ShowTextAtPoint(float x, float y, std::string_view utf8) {
  SetTextPosition(x, y);
  ShowText(utf8);
}

void Painter::DrawTextBox(const PainterRect &box, std::string_view utf8) {
  if (!IsValid())
    return;
  const ShapedText &shaped = ShapeTextBox(impl_->Font(), QString::fromUtf8(utf8.data(), qsizetype(utf8.size())),
                                          box.width, Qt::AlignHCenter);
  if (shaped.outline.isEmpty())
    return;
  impl_->PrepareDevice();
  impl_->painter.setTransform(QTransform::fromTranslate(box.x, box.y + shaped.ascent) * impl_->Full());
  impl_->painter.fillPath(shaped.outline, impl_->st.fill);
}

} // namespace ovgfx
