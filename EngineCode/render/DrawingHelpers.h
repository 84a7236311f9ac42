// Drawing services shared by the renderer and other parts of the program:
// lines that pick the anti-aliased pixel form or the pen form by plot
// method, the dashed and dotted line helpers, a random stipple fill of a
// polygon, rounded rectangles and the port clip for painters, and the
// placing of pictures.
//
// The anti-aliased forms draw into the target of the raster primitives
// (GetCurrentPixGlobals); the pen forms and the fills into the current port.
#pragma once

#include "RGBColor.h"
#include "graphics/GraphicsTypes.h"
#include "graphics/Painter.h"
#include "graphics/PixelBuffer.h"
#include "graphics/Region.h"

#include <cstdint>

// Nominal dash and dot periods at 72 dots per inch, in pixels.
// A float pixel coordinate as an int within [low, high]: a value beyond the
// ints, infinite or not a number is never converted as it is.
inline int ClampToPixel(float v, int low, int high) {
  if (!(v > float(low)))
    return low;
  if (!(v < float(high)))
    return high;
  return int(v);
}

inline constexpr int kDashPeriodAt72 = 10;
inline constexpr int kDotPeriodAt72 = 2;
// Share of each dash period drawn.
inline constexpr float kDashFraction = 0.5f;
// Resolution per stipple cell pixel of the random fill.
inline constexpr int kStippleDotsPerCellPixel = 150;

// A line of the given width: anti-aliased in the pixel method outside a
// fast rotation frame, otherwise a pen line with a width x width pen (the
// pen is reset afterwards).
void MyDrawLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, RGBColor colour, int16_t width);
// A dashed line of width 1, period 10 pixels at 72 dots per inch (scaled by
// the plot resolution, at least 1), half of each period drawn.
void MyDrawDashedLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, RGBColor colour);
// The same with a period of 2 pixels at 72 dots per inch.
void MyDrawDottedLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, RGBColor colour);
// Draws a 2 x 2 pen dot at (0, 0) and sets the pen back to 1 x 1; the plot
// covers the dot with its background.
void InitQDPenSize();

// Erases the polygon's inside, then paints it in the colour cell by cell on
// a grid of d x d pixel cells (d = gPlotRes / 150, 1 below 150 dots per
// inch) with the chance `density` per cell, drawn by the standard library's
// random source. The port's fore colour is restored.
void RandomFillPolygon(const ovgfx::Polygon &polygon, RGBColor colour, float density);

// Adds a rectangle with corners rounded by ellipse quarters of the given
// width and height to the painter's path; a plain rectangle when either is 0.
void AddRoundedRectToPath(ovgfx::Painter &painter, const ovgfx::PainterRect &rect, float ovalWidth, float ovalHeight);
// Clips the painter to (left, 0, right - left, bottom - top) of the bounding
// box of the current port's clip region.
void MyCGClipToQDPort(ovgfx::Painter &painter);

// Draws picture `id` centred in the rectangle at its natural size, its frame
// cut to the rectangle (a picture larger than the rectangle is squeezed into
// the cut frame). False when the program has no such picture.
bool MyCentrePictID(int16_t id, const Rect &rect);
// Tiles picture `id` over the rectangle from its top-left corner, clipped to
// the rectangle within the current clip; the clip is restored.
void MyTilePictID(int16_t id, const Rect &rect);
// The same for a picture at hand; nothing for none.
void MyTilePict(const ovgfx::PixelBuffer *picture, const Rect &rect);
