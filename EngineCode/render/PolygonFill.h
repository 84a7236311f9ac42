// A scanline polygon fill into the target of the raster primitives, with an
// optional anti-aliased outline.
//
// The vertex list holds at most kMaxPolygonPoints vertices and the fill at
// most kMaxPolygonRows rows (from the top of the polygon's clipped extent).
// A row's span starts at the first column whose edge crossing is reached
// (the crossing rounded up) and is extended by the later crossings of that
// row, in edge order; an edge meeting a row exactly at a whole column
// contributes that column.
#pragma once

#include "RGBColor.h"

#include <cstdint>

inline constexpr uint32_t kMaxPolygonPoints = 120;
inline constexpr int kMaxPolygonRows = 8000;

// Empties the vertex list.
void MyOpenPolygon();
// Appends a vertex; one beyond the list's room is ignored.
void MyAddPolygonVertex(int16_t x, int16_t y);
// Fills the polygon of the vertex list (the last vertex joined to the first)
// in the colour, after drawing every edge anti-aliased when `smooth` is set.
// Returns 1 when it filled; 0 when there is no target, the target is not 32
// bits deep, or the polygon lies wholly outside the clip (a polygon without
// vertices does).
int16_t MyDrawPolygon(RGBColor colour, bool smooth);
