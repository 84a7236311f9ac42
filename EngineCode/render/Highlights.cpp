#include "render/Highlights.h"

#include "AtomOperations.h"
#include "Geometry.h"
#include "RenderServices.h"
#include "render/DrawingHelpers.h"
#include "window/MainWindowData.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <numbers>

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
// The two passes of a highlighted line: a wide contrast stroke under a
// narrow main one; dashes in pixels.
constexpr float kWideWidth = 2.5f, kNarrowWidth = 1.5f;
constexpr float kWideDashes[2] = {5.0f, 2.0f};
constexpr float kNarrowDashes[2] = {4.0f, 3.0f};
constexpr float kNarrowDashPhase = -0.5f;
constexpr float kCrossArm = 6.0f;
constexpr float kSquareHalf = 5.0f;
constexpr float kFrameWidth = 0.5f;
// Arrowheads: base and notch along the body, half-width of the base.
constexpr float kArrowBase = 16.0f, kArrowNotch = 10.0f, kArrowHalfWidth = 6.0f;
// A sphere label needs a disc larger than this (pixels).
constexpr float kMinLabelledRadius = 6.0f;
constexpr float kSphereLabelDrop = 6.0f, kPolyLabelDrop = 4.0f;
// Angle arcs and their labels.
constexpr float kArcRadius = 20.0f, kAngleLabelDistance = 24.0f;
constexpr int kArcSegmentsPerRadian = 24;
// No highlight outline has more segments than this.
constexpr int kMaxHiliteSegments = 4096;
constexpr float kBondAngleSize = 14.0f, kTorsionSize = 14.0f;
constexpr float kDistanceBaseline = 5.0f;

std::map<WindowRef, std::vector<HiliteItem>> gOverlays;

struct Context {
  CrystalRec *crystal = nullptr;
  HiliteRGBA main, contrast;
  Point origin; // the graph pane's top-left corner
};

bool Begin(WindowRef window, Context &ctx) {
  ctx.crystal = GetWindowCrystal(window);
  if (!ctx.crystal || !GetHiliteColorsForWindow(window, &ctx.main, &ctx.contrast))
    return false;
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  ctx.origin = Point{pane.top, pane.left};
  return true;
}

void Add(WindowRef window, HiliteItem item) {
  gOverlays[window].push_back(std::move(item));
  RepaintGraphPane(window);
}

bool AtomPoint(const Context &ctx, int32_t atom, float &x, float &y) {
  if (atom < 0 || atom >= UsableAtomCount(*ctx.crystal))
    return false;
  const AtomRecord &a = ctx.crystal->atoms[static_cast<size_t>(atom)];
  x = static_cast<float>(a.pixel[0] + ctx.origin.h);
  y = static_cast<float>(a.pixel[1] + ctx.origin.v);
  return true;
}

Point ToPoint(float x, float y) {
  return Point{static_cast<int16_t>(ClampToPixel(y, INT16_MIN, INT16_MAX)),
               static_cast<int16_t>(ClampToPixel(x, INT16_MIN, INT16_MAX))};
}

void TwoPassStroke(WindowRef window, const Context &ctx, std::vector<float> points, bool closed, bool dashed) {
  HiliteItem wide;
  wide.kind = HiliteItem::kStroke;
  wide.points = points;
  wide.closed = closed;
  wide.colour = ctx.contrast;
  wide.width = kWideWidth;
  HiliteItem narrow = wide;
  narrow.points = std::move(points);
  narrow.colour = ctx.main;
  narrow.width = kNarrowWidth;
  if (dashed) {
    wide.dashes.assign(std::begin(kWideDashes), std::end(kWideDashes));
    narrow.dashes.assign(std::begin(kNarrowDashes), std::end(kNarrowDashes));
    narrow.dashPhase = kNarrowDashPhase;
  }
  Add(window, std::move(wide));
  Add(window, std::move(narrow));
}

// A closed outline filled in the main colour and framed thinly in the
// contrast colour.
void FillAndFrame(WindowRef window, const Context &ctx, std::vector<float> outline) {
  HiliteItem fill;
  fill.kind = HiliteItem::kFill;
  fill.points = std::move(outline);
  fill.closed = true;
  fill.colour = ctx.main;
  HiliteItem frame = fill;
  frame.kind = HiliteItem::kStroke;
  frame.colour = ctx.contrast;
  frame.width = kFrameWidth;
  Add(window, std::move(fill));
  Add(window, std::move(frame));
}

std::vector<float> SquareAt(Point p) {
  const float l = p.h - kSquareHalf, r = p.h + kSquareHalf, t = p.v - kSquareHalf, b = p.v + kSquareHalf;
  return {l, t, r, t, r, b, l, b};
}

std::string ElementSymbol(const CrystalRec &c, const AtomRecord &a) {
  if (a.site >= UsableSiteSize(c))
    return {};
  char symbol[3] = {0, 0, 0};
  ShortToTwoChars(c.sites[a.site].elements[0], symbol);
  if (symbol[1] == ' ')
    symbol[1] = 0;
  return symbol;
}

} // namespace

const std::vector<HiliteItem> &GetHiliteOverlay(WindowRef window) {
  static const std::vector<HiliteItem> kNone;
  const auto it = gOverlays.find(window);
  return it == gOverlays.end() ? kNone : it->second;
}

void ClearHiliteOverlay(WindowRef window) { gOverlays.erase(window); }

bool GetHiliteColorsForWindow(WindowRef window, HiliteRGBA *main, HiliteRGBA *contrast) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return false;
  const HiliteRGBA white{1, 1, 1, 1}, black{0, 0, 0, 1};
  const bool light = c->hiliteColor.red != 0;
  if (main)
    *main = light ? white : black;
  if (contrast)
    *contrast = light ? black : white;
  return true;
}

float GetBearing(float x0, float y0, float x1, float y1) {
  const float dx = x1 - x0, dy = y1 - y0;
  if (dx == 0.0f)
    return dy > 0.0f ? kPi / 2.0f : 3.0f * kPi / 2.0f;
  if (dy == 0.0f)
    return dx > 0.0f ? 0.0f : kPi;
  const float a = std::atan(std::fabs(dy) / std::fabs(dx));
  if (dx > 0.0f)
    return dy > 0.0f ? a : 2.0f * kPi - a;
  return dy > 0.0f ? kPi - a : kPi + a;
}

void HiliteLine(WindowRef window, Point p1, Point p2, bool dashed) {
  Context ctx;
  if (Begin(window, ctx))
    TwoPassStroke(window, ctx, {float(p1.h), float(p1.v), float(p2.h), float(p2.v)}, false, dashed);
}

void HilitePath(WindowRef window, const Point *points, int32_t count, bool dashed) {
  Context ctx;
  if (!points || count < 2 || !Begin(window, ctx))
    return;
  std::vector<float> xy;
  xy.reserve(2 * static_cast<size_t>(count));
  for (int32_t k = 0; k < count; k++) {
    xy.push_back(points[k].h);
    xy.push_back(points[k].v);
  }
  TwoPassStroke(window, ctx, std::move(xy), false, dashed);
}

void HiliteCross(WindowRef window, Point p) {
  Context ctx;
  if (!Begin(window, ctx))
    return;
  for (const bool main : {false, true}) {
    for (const bool horizontal : {true, false}) {
      HiliteItem arm;
      arm.points = horizontal ? std::vector<float>{p.h - kCrossArm, float(p.v), p.h + kCrossArm, float(p.v)}
                              : std::vector<float>{float(p.h), p.v - kCrossArm, float(p.h), p.v + kCrossArm};
      arm.colour = main ? ctx.main : ctx.contrast;
      arm.width = main ? kNarrowWidth : kWideWidth;
      Add(window, std::move(arm));
    }
  }
}

void HiliteSquare(WindowRef window, Point p) {
  Context ctx;
  if (!Begin(window, ctx))
    return;
  FillAndFrame(window, ctx, SquareAt(p));
}

void HiliteOpenSquare(WindowRef window, Point p) {
  Context ctx;
  if (Begin(window, ctx))
    TwoPassStroke(window, ctx, SquareAt(p), true, false);
}

void HiliteArrowhead(WindowRef window, Point tip, Point other) {
  Context ctx;
  if ((tip == other) || !Begin(window, ctx))
    return;
  const float dx = float(other.h - tip.h), dy = float(other.v - tip.v);
  const float len = std::sqrt(dx * dx + dy * dy);
  const float ux = dx / len, uy = dy / len, nx = -uy, ny = ux;
  const float bx = tip.h + kArrowBase * ux, by = tip.v + kArrowBase * uy;
  auto t = [](float v) { return std::trunc(v); };
  std::vector<float> outline = {t(bx + kArrowHalfWidth * nx),    t(by + kArrowHalfWidth * ny),
                                float(tip.h),                    float(tip.v),
                                t(bx - kArrowHalfWidth * nx),    t(by - kArrowHalfWidth * ny),
                                t(tip.h + kArrowNotch * ux),     t(tip.v + kArrowNotch * uy)};
  FillAndFrame(window, ctx, std::move(outline));
}

void HiliteBond(WindowRef window, int32_t atomA, int32_t atomB, bool dashed, bool arrows) {
  Context ctx;
  float ax, ay, bx, by;
  if (!Begin(window, ctx) || !AtomPoint(ctx, atomA, ax, ay) || !AtomPoint(ctx, atomB, bx, by))
    return;
  const Point a = ToPoint(ax, ay), b = ToPoint(bx, by);
  HiliteLine(window, a, b, dashed);
  if (arrows) {
    HiliteArrowhead(window, a, b);
    HiliteArrowhead(window, b, a);
  }
}

void HiliteSphere(WindowRef window, int32_t atom, float radius, bool withLabel) {
  Context ctx;
  float x, y;
  if (!Begin(window, ctx) || !AtomPoint(ctx, atom, x, y))
    return;
  HiliteItem disc;
  disc.kind = HiliteItem::kFill;
  disc.closed = true;
  disc.colour = kHiliteYellow;
  const int segments = ClampToPixel(radius, 24, kMaxHiliteSegments);
  for (int k = 0; k < segments; k++) {
    const float a = 2.0f * kPi * static_cast<float>(k) / static_cast<float>(segments);
    disc.points.push_back(x + radius * std::cos(a));
    disc.points.push_back(y + radius * std::sin(a));
  }
  Add(window, std::move(disc));
  if (withLabel && radius > kMinLabelledRadius) {
    const AtomRecord &a = ctx.crystal->atoms[static_cast<size_t>(atom)];
    // The baseline below the centre: a negative offset upwards.
    DrawHiliteString(window, ElementSymbol(*ctx.crystal, a), x, y, 0.0f, ctx.main, ctx.contrast, kHiliteFont,
                     kHiliteLabelSize, kAlignCentre, -kSphereLabelDrop);
  }
}

void HilitePoly(WindowRef window, int32_t atom, bool withLabel) {
  Context ctx;
  float x, y;
  if (!Begin(window, ctx) || !AtomPoint(ctx, atom, x, y))
    return;
  const CrystalRec &c = *ctx.crystal;
  const AtomRecord &a = c.atoms[static_cast<size_t>(atom)];
  const Polyhedron *poly = AtomPolyhedron(ctx.crystal, a);
  if (!poly)
    return;
  for (const PolyFace &face : poly->faces) {
    HiliteItem fill;
    fill.kind = HiliteItem::kFill;
    fill.closed = true;
    fill.colour = kHiliteYellow;
    const size_t n = std::min<size_t>(face.vertexCount, face.vertices.size());
    for (size_t k = 0; k < n; k++) {
      float vx, vy;
      if (AtomPoint(ctx, static_cast<int32_t>(face.vertices[k]), vx, vy)) {
        fill.points.push_back(vx);
        fill.points.push_back(vy);
      }
    }
    if (fill.points.size() >= 6)
      Add(window, std::move(fill));
  }
  if (withLabel)
    DrawHiliteString(window, ElementSymbol(c, a), x, y, 0.0f, ctx.main, ctx.contrast, kHiliteFont, kHiliteLabelSize,
                     kAlignCentre, -kPolyLabelDrop);
}

void HiliteAtom(WindowRef window, int32_t atom) {
  Context ctx;
  if (!Begin(window, ctx) || atom < 0 || atom >= UsableAtomCount(*ctx.crystal))
    return;
  const CrystalRec &c = *ctx.crystal;
  const AtomRecord &a = c.atoms[static_cast<size_t>(atom)];
  if (!a.visible)
    return;
  if (c.modelType == kPolyhedralModel) {
    const AtomDisplayClass kind = GetAtomDisplayClass(c, a);
    if (kind == kVertexOnlyClass)
      return;
    if (kind == kPolyhedronClass) {
      HilitePoly(window, atom, false);
      return;
    }
  }
  if (a.atomType >= UsableSphereSize(c))
    return;
  HiliteSphere(window, atom, std::trunc(c.spheres[a.atomType].drawnRadius * c.plotScale), false);
}

void DrawHiliteString(WindowRef window, const std::string &text, float x, float y, float angle, HiliteRGBA fill,
                      HiliteRGBA stroke, const char *font, float size, uint16_t alignment, float baselineOffset) {
  Context ctx;
  if (text.empty() || !Begin(window, ctx))
    return;
  HiliteItem item;
  item.kind = HiliteItem::kText;
  item.text = text;
  item.font = font ? font : kHiliteFont;
  item.size = size;
  item.x = x;
  item.y = y;
  item.angle = angle;
  item.alignment = alignment;
  item.baselineOffset = baselineOffset;
  fill.a = stroke.a = 1.0f;
  item.fill = fill;
  item.stroke = stroke;
  Add(window, std::move(item));
}

void WriteLineDistance(WindowRef window, Point p1, Point p2, float distance, float size) {
  Context ctx;
  if ((p1 == p2) || !Begin(window, ctx))
    return;
  char text[64];
  if (ctx.crystal->rulerUnits == 1)
    std::snprintf(text, sizeof text, "%.3f Å", static_cast<double>(distance));
  else
    std::snprintf(text, sizeof text, "%.3f nm", static_cast<double>(distance) * 0.1);
  // The label reads along the segment; on screen y points down, so the
  // turn is the segment's own angle there.
  const float dx = float(p2.h - p1.h), dy = float(p2.v - p1.v);
  const float angle = dx == 0.0f ? -kPi / 2.0f : std::atan(dy / dx);
  DrawHiliteString(window, text, 0.5f * (p1.h + p2.h), 0.5f * (p1.v + p2.v), angle, ctx.main, ctx.contrast,
                   kHiliteFont, size, kAlignCentre, kDistanceBaseline);
}

void WriteBondDistance(WindowRef window, int32_t atomA, int32_t atomB, float size) {
  Context ctx;
  float ax, ay, bx, by;
  if (!Begin(window, ctx) || !AtomPoint(ctx, atomA, ax, ay) || !AtomPoint(ctx, atomB, bx, by))
    return;
  WriteLineDistance(window, ToPoint(ax, ay), ToPoint(bx, by), FBondDist(ctx.crystal, atomA, atomB), size);
}

void WriteLineAngle(WindowRef window, Point p1, Point vertex, Point p3, float angle, float size) {
  Context ctx;
  if (!Begin(window, ctx))
    return;
  // Bearings with y up, as the arc's direction rule reads them.
  const float b1 = GetBearing(vertex.h, -vertex.v, p1.h, -p1.v);
  const float b3 = GetBearing(vertex.h, -vertex.v, p3.h, -p3.v);
  float sweep = b3 - b1; // the shorter way round
  if (sweep > kPi)
    sweep -= 2.0f * kPi;
  else if (sweep < -kPi)
    sweep += 2.0f * kPi;
  const int segments = ClampToPixel(std::fabs(sweep) * kArcSegmentsPerRadian, 2, kMaxHiliteSegments);
  std::vector<float> arc;
  for (int k = 0; k <= segments; k++) {
    const float a = b1 + sweep * static_cast<float>(k) / static_cast<float>(segments);
    arc.push_back(vertex.h + kArcRadius * std::cos(a));
    arc.push_back(vertex.v - kArcRadius * std::sin(a));
  }
  HiliteItem under;
  under.points = arc;
  under.colour = ctx.contrast;
  under.colour.a = 0.5f;
  under.width = 3.0f;
  under.roundCapsAndJoins = true;
  HiliteItem over = under;
  over.points = std::move(arc);
  over.colour = ctx.main;
  over.width = 1.0f;
  Add(window, std::move(under));
  Add(window, std::move(over));

  auto unit = [](float x, float y, float &ux, float &uy) {
    const float len = std::sqrt(x * x + y * y);
    ux = len > 0.0f ? x / len : 0.0f;
    uy = len > 0.0f ? y / len : 0.0f;
  };
  float u1x, u1y, u3x, u3y, bx, by; // screen coordinates, y down
  unit(float(p1.h - vertex.h), float(p1.v - vertex.v), u1x, u1y);
  unit(float(p3.h - vertex.h), float(p3.v - vertex.v), u3x, u3y);
  unit(u1x + u3x, u1y + u3y, bx, by);
  const float dx = kAngleLabelDistance * bx, dy = kAngleLabelDistance * by;
  const float turn = dx == 0.0f ? -kPi / 2.0f : std::atan(dy / dx);
  const uint16_t align = (dx < 0.0f && dy != 0.0f) ? kAlignRight : kAlignLeft;
  char text[64];
  std::snprintf(text, sizeof text, "%.2f°", static_cast<double>(angle));
  DrawHiliteString(window, text, vertex.h + dx, vertex.v + dy, turn, ctx.main, ctx.contrast, kHiliteFont, size, align,
                   -0.5f * size);
}

void WriteBondAngle(WindowRef window, int32_t atomA, int32_t atomB, int32_t atomC, float angle) {
  Context ctx;
  float ax, ay, bx, by, cx, cy;
  if (!Begin(window, ctx) || !AtomPoint(ctx, atomA, ax, ay) || !AtomPoint(ctx, atomB, bx, by) ||
      !AtomPoint(ctx, atomC, cx, cy))
    return;
  WriteLineAngle(window, ToPoint(ax, ay), ToPoint(bx, by), ToPoint(cx, cy), angle, kBondAngleSize);
}

void WriteTorsionAngle(WindowRef window, int32_t atomA, int32_t atomB, int32_t atomC, int32_t atomD, float angle) {
  Context ctx;
  float x[4], y[4];
  const int32_t atoms[4] = {atomA, atomB, atomC, atomD};
  if (!Begin(window, ctx))
    return;
  for (int k = 0; k < 4; k++)
    if (!AtomPoint(ctx, atoms[k], x[k], y[k]))
      return;
  char text[64];
  std::snprintf(text, sizeof text, "γ = %.2f°", static_cast<double>(angle));
  DrawHiliteString(window, text, 0.25f * (x[0] + x[1] + x[2] + x[3]), 0.25f * (y[0] + y[1] + y[2] + y[3]), 0.0f,
                   ctx.main, ctx.contrast, kHiliteFont, kTorsionSize, kAlignCentre, 0.0f);
}
