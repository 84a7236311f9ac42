// Polygons far larger than the picture, cut down to it before they are
// filled or framed.
//
// At the largest plot scales a polyhedron's face spans tens of thousands of
// pixels, and a region made from it holds a row for each of them, although
// only the window's rows are ever drawn. A face is therefore cut to the
// picture grown by a margin wider than any frame drawn inside it: the edges
// the cut adds lie in the margin, outside the picture, so what shows is the
// same face.
#pragma once

#include "graphics/Region.h"

// Pixels kept around the picture: wider than the widest face frame and the
// selection's three frames inside it at the highest export resolution.
inline constexpr int kPolygonClipMargin = 256;

// The closed polygon (filled by the even-odd rule) cut to the rectangle,
// Sutherland-Hodgman, the crossings rounded to whole pixels. A polygon within
// the rectangle comes back as it was; one wholly outside comes back empty.
ovgfx::Polygon ClipPolygonToRect(const ovgfx::Polygon &polygon, const Rect &limit);

// The rectangle a face drawn into the current port is cut to: the port's
// picture within its clip, grown by kPolygonClipMargin; the widest rectangle
// when there is no port.
Rect PolygonClipLimit();
