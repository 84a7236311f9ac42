// Regions (arbitrary sets of pixels) and polygons in pixel coordinates.
//
// A region is a set of whole pixels, kept as sorted rectangles. Ovals are
// made by our own rule (a pixel belongs to the oval inscribed in a rectangle
// when its centre lies inside the ellipse) so that they are symmetric and the
// same on every machine; polygons cover the pixels they enclose by the
// even-odd rule (the square with corners (0, 0) and (10, 10) covers 10 x 10).
#pragma once

#include "GraphicsTypes.h"

#include <memory>
#include <utility>
#include <vector>

namespace ovgfx {

// A list of vertices. Filling closes it from the last vertex back to the
// first; framing draws only the edges between consecutive vertices, so a
// closed outline repeats its first vertex at the end.
class Polygon {
public:
  Polygon() = default;
  explicit Polygon(std::vector<Point> points) : points_(std::move(points)) {}
  void Add(int x, int y) { points_.push_back(Point{int16_t(y), int16_t(x)}); }
  void Clear() { points_.clear(); }
  const std::vector<Point> &Points() const { return points_; }
  size_t Size() const { return points_.size(); }
  bool Empty() const { return points_.empty(); }
  // The smallest rectangle holding every vertex (right and bottom one past
  // the last vertex); empty for no vertices.
  Rect Bounds() const;
  void Offset(int dh, int dv);

private:
  std::vector<Point> points_;
};

class Region {
public:
  Region();                       // empty
  explicit Region(const Rect &r); // the rectangle's pixels
  Region(const Region &other);
  Region(Region &&other) noexcept;
  Region &operator=(const Region &other);
  Region &operator=(Region &&other) noexcept;
  ~Region();

  // The oval inscribed in the rectangle.
  static Region Oval(const Rect &r);
  // The pixels inside the closed polygon.
  static Region FromPolygon(const Polygon &polygon);
  // The pixels of FromPolygon(polygon) that lie within `within`, made
  // without visiting a row outside it: a polygon far larger than the
  // picture costs what its part inside costs, and its edges cross the rows
  // inside exactly where they cross them in the whole polygon.
  static Region FromPolygon(const Polygon &polygon, const Rect &within);
  // One span per row: row top + i covers the columns spans[i].first up to,
  // not including, spans[i].second (nothing when second <= first).
  static Region FromRowSpans(int top, const std::vector<std::pair<int, int>> &spans);
  // The union of the rectangles.
  static Region FromRects(const std::vector<Rect> &rects);

  bool IsEmpty() const;
  // The bounding box; empty for an empty region.
  Rect Bounds() const;
  bool Contains(int x, int y) const;
  // True when the region is exactly one rectangle (or empty).
  bool IsRectangular() const;
  // The region as disjoint rectangles, top to bottom, left to right.
  std::vector<Rect> Rects() const;
  // The same rectangles into `out`, replacing what it held: a caller that
  // asks again and again keeps one list's storage.
  void RectsInto(std::vector<Rect> &out) const;

  void Offset(int dh, int dv);
  // Shrinks the region by dh pixels from every left and right edge and by dv
  // from every top and bottom edge; negative values grow it.
  void Inset(int dh, int dv);

  Region Intersected(const Region &other) const;
  Region United(const Region &other) const;
  Region Subtracted(const Region &other) const;
  Region Xored(const Region &other) const;

  friend bool operator==(const Region &a, const Region &b);

  struct Impl;
  const Impl &impl() const { return *impl_; }

private:
  std::unique_ptr<Impl> impl_;
};

} // namespace ovgfx
