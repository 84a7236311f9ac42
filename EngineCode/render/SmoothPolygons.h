// Anti-aliased filled polygons with fractional vertices, painted straight
// into the target of the raster primitives (GetCurrentPixGlobals) with an
// opacity: the lit strips, bands, outlines and caps of bond cylinders.
//
// Coverage is measured on kPolygonSubRows sub-rows per pixel row, each
// sub-row's span covering its pixels by the exact share of their width
// (non-zero winding). A pixel becomes colour x w + old x (1 - w) with w its
// coverage times the opacity. Only 32-bit targets are painted; the clip is
// that of the target.
//
// Main thread only: the target is program-wide.
#pragma once

#include "RGBColor.h"

#include <cstddef>

inline constexpr int kPolygonSubRows = 4;
// A stroke of width 1 around a fill of the same colour grows the polygon
// by this much on every side.
inline constexpr float kHalfStroke = 0.5f;

struct RealPoint {
  float x = 0.0f;
  float y = 0.0f;
};

// Fills the polygon (closed from the last point to the first).
void MyFillSmoothPolygon(const RealPoint *points, size_t count, RGBColor colour, float opacity);
// Fills a convex polygon grown by `grow` on every side (mitred corners):
// a fill and a stroke of width 2 x grow in one colour. A polygon without
// area is drawn as the segment between its farthest points, as wide as the
// stroke.
void MyFillGrownConvexPolygon(const RealPoint *points, size_t count, float grow, RGBColor colour, float opacity);
// Strokes the closed outline with lines `width` pixels wide.
void MyFrameSmoothPolygon(const RealPoint *points, size_t count, float width, RGBColor colour, float opacity);
