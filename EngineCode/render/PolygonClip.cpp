#include "render/PolygonClip.h"

#include "graphics/GraphicsPort.h"

#include <algorithm>
#include <cmath>
#include <vector>

using namespace ovgfx;

namespace {

struct Vertex {
  double x, y;
};

// One pass of the cut: keeps the side of the line where `inside` holds.
template <class Inside, class Cross>
std::vector<Vertex> CutBy(const std::vector<Vertex> &in, Inside inside, Cross cross) {
  std::vector<Vertex> out;
  if (in.empty())
    return out;
  out.reserve(in.size() + 4);
  Vertex prev = in.back();
  bool prevIn = inside(prev);
  for (const Vertex &cur : in) {
    const bool curIn = inside(cur);
    if (curIn != prevIn)
      out.push_back(cross(prev, cur));
    if (curIn)
      out.push_back(cur);
    prev = cur;
    prevIn = curIn;
  }
  return out;
}

Vertex AtX(const Vertex &a, const Vertex &b, double x) { return {x, a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x)}; }
Vertex AtY(const Vertex &a, const Vertex &b, double y) { return {a.x + (b.x - a.x) * (y - a.y) / (b.y - a.y), y}; }

} // namespace

Polygon ClipPolygonToRect(const Polygon &polygon, const Rect &limit) {
  const Rect bounds = polygon.Bounds();
  // Bounds() is one past the last vertex on the right and bottom.
  if (bounds.left >= limit.left && bounds.top >= limit.top && bounds.right - 1 <= limit.right &&
      bounds.bottom - 1 <= limit.bottom)
    return polygon;
  std::vector<Vertex> v;
  v.reserve(polygon.Size());
  for (const Point &p : polygon.Points())
    v.push_back({double(p.h), double(p.v)});
  // A closed outline repeats its first vertex: the cut closes it by itself.
  if (v.size() > 1 && v.front().x == v.back().x && v.front().y == v.back().y)
    v.pop_back();
  const double left = limit.left, top = limit.top, right = limit.right, bottom = limit.bottom;
  v = CutBy(v, [&](const Vertex &p) { return p.x >= left; }, [&](const Vertex &a, const Vertex &b) { return AtX(a, b, left); });
  v = CutBy(v, [&](const Vertex &p) { return p.x <= right; }, [&](const Vertex &a, const Vertex &b) { return AtX(a, b, right); });
  v = CutBy(v, [&](const Vertex &p) { return p.y >= top; }, [&](const Vertex &a, const Vertex &b) { return AtY(a, b, top); });
  v = CutBy(v, [&](const Vertex &p) { return p.y <= bottom; }, [&](const Vertex &a, const Vertex &b) { return AtY(a, b, bottom); });
  Polygon out;
  if (v.size() < 3)
    return out;
  for (const Vertex &p : v)
    out.Add(int(std::lround(p.x)), int(std::lround(p.y)));
  out.Add(int(std::lround(v.front().x)), int(std::lround(v.front().y)));
  return out;
}

Rect PolygonClipLimit() {
  const GraphicsPort *port = CurrentPort();
  if (!port)
    return kWideOpenRect;
  Rect picture = port->PortRect();
  if (!port->Clip().IsEmpty())
    picture = SectRect(picture, port->Clip().Bounds());
  const auto grown = [](int v, int by) { return std::clamp(v + by, -32767, 32767); };
  return MakeRect(grown(picture.left, -kPolygonClipMargin), grown(picture.top, -kPolygonClipMargin),
                  grown(picture.right, kPolygonClipMargin), grown(picture.bottom, kPolygonClipMargin));
}
