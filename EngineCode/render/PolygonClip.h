// The rows and columns a face far larger than the picture is made for.
//
// At the largest plot scales a polyhedron's face spans tens of thousands of
// pixels, and a region made from it would hold a row for each of them,
// although only the picture's rows are ever drawn. Faces are painted and
// framed through the port, which makes only its visible rows; a region of a
// face that is grown or shrunk before it is drawn (the selection's frames)
// is made for the picture grown by a margin wider than any frame drawn
// inside it, so that the region's cut edges lie in the margin, outside the
// picture. Either way the face's edges cross the picture's rows exactly
// where they cross them in the whole face, in a strip as in the picture.
#pragma once

#include "graphics/Region.h"

// Pixels kept around the picture: wider than the widest face frame and the
// selection's three frames inside it at the highest export resolution.
inline constexpr int kPolygonClipMargin = 256;

// The rectangle a face's region is made for in the current port: the port's
// picture within its clip, grown by kPolygonClipMargin; the widest rectangle
// when there is no port.
Rect PolygonClipLimit();
