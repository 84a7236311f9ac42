// Ellipse outlines and fills inscribed in a rectangle, by the midpoint
// ellipse walk.
#pragma once

#include "graphics/GraphicsTypes.h"

#include <cstdint>

// Outlines of `penWidth` rings (r - 1 rings when the smaller half-extent r
// of the rectangle does not exceed the pen width), each ring one pixel
// inside the previous. The plain form sets the ring's pixels in the current
// port; the anti-aliased form blends them into the target of the raster
// primitives (the four mirrored pixels of a step only when all four lie
// inside the clip).
void MyFrameOval(const Rect &rect, RGBColor colour, int16_t penWidth);
void MySmoothFrameOval(const Rect &rect, RGBColor colour, int16_t penWidth);
// Fills the ellipse row by row with the current port's pen in the colour;
// the port's fore colour is restored afterwards.
void MyFillOval(const Rect &rect, RGBColor colour);
