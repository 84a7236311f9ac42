// The renderer's own pixel routines: they write straight into the pixels of
// the current port instead of going through the port's drawing calls.
//
// Calling order: make the target port current, call GetCurrentPixGlobals,
// draw any number of primitives, call DisposeCurrentPixGlobals. The
// primitives read the target only from the globals below, so a port made
// current in between is not drawn into until the target is taken again.
//
// Pixels are 32-bit (the plot images) or 1-bit (masks and cloud images); a
// 1-bit pixel is set by every colour. The anti-aliased forms blend only at 32
// bits and fall back to one-pixel lines on 1-bit targets.
//
// Anti-aliasing is a cone filter of the distance between a pixel centre and
// the ideal line (`ConeFilter`), applied to the line's pixel and its two
// neighbours across the line. Arithmetic is single precision; rounding is
// half away from zero, everything else truncates toward zero.
//
// Main thread only: the target and line state are program-wide.
#pragma once

#include "graphics/GraphicsPort.h"
#include "graphics/GraphicsTypes.h"
#include "graphics/PixelBuffer.h"

#include <algorithm>
#include <cstdint>

// ---- The drawing target ------------------------------------------------------------
extern ovgfx::PixelBuffer *dstPixMap; // pixels of the port that was current when the target was taken
extern uint8_t *dstPixBase;           // first byte of the pixel rows; null: every line primitive draws nothing
extern uint32_t dstRowbytes;          // bytes per pixel row
extern int16_t dstBitDepth;           // bits per pixel
extern Rect dstPixBounds;             // pixel (x, y) lies in row y - top, column x - left
// Inclusive clip: the pixel bounds within the bounding box of the port's clip
// region, then right and bottom each reduced by 1. A pixel is inside when
// left <= x <= right and top <= y <= bottom.
extern Rect dstPixClipBounds;
// The clip the anti-aliased lines' rules are measured against (which steps
// are drawn, where a dash pattern starts): the pixel clip, except while a
// strip of a taller picture is drawn (gStripOfPicture), when its top and
// bottom are the picture's: a line then takes the steps it takes in the
// picture drawn whole and writes those of its pixels that lie in the strip.
extern Rect dstLineClipBounds;
// Set while a picture is drawn a strip at a time: the image of the strip
// being drawn (an image of some of the picture's rows) and the bounds of
// the whole picture. No pixels otherwise.
struct StripOfPicture {
  const ovgfx::PixelBuffer *pixels = nullptr;
  Rect picture;
  // For the strips after the first: the plot layouts made so far
  // (gPlotLayouts) when the first strip had been drawn. The plot scale, the
  // view and the picture's size are those of every strip, so while no other
  // plot has made a layout since, a strip is drawn from the projection, depth
  // order and cell points the first strip left. 0: the strip makes its own.
  uint64_t layout = 0;
};
extern StripOfPicture gStripOfPicture;
// Whether the target is a strip of a taller picture.
inline bool DrawingStripOfPicture() { return dstPixBase && gStripOfPicture.pixels == dstPixMap; }
// While a strip of a taller picture is the target: true when pixel rows
// `top` to `bottom` (fractional, both included) lie wholly outside the
// strip's rows. A primitive whose pixels all lie within those rows draws
// nothing into the strip and is left out before any of its set-up. False
// for every other target, and when a bound is not a number.
inline bool OutsideStripRows(float top, float bottom) {
  return DrawingStripOfPicture() && (bottom < float(dstPixClipBounds.top) || top > float(dstPixClipBounds.bottom));
}

// Narrows the pixel clip to the rows `top` to `bottom` while it lives,
// leaving the lines' clip (dstLineClipBounds) as it was: the primitives
// then write, in the rows left, what they write without it, as in a strip
// of a picture.
class PixClipRows {
public:
  PixClipRows(int16_t top, int16_t bottom) : top_(dstPixClipBounds.top), bottom_(dstPixClipBounds.bottom) {
    dstPixClipBounds.top = std::max(top_, top);
    dstPixClipBounds.bottom = std::min(bottom_, bottom);
  }
  ~PixClipRows() {
    dstPixClipBounds.top = top_;
    dstPixClipBounds.bottom = bottom_;
  }
  PixClipRows(const PixClipRows &) = delete;
  PixClipRows &operator=(const PixClipRows &) = delete;

private:
  int16_t top_, bottom_;
};

// Takes the current port's pixels as the target and fills the globals; with
// no current port there is no target.
void GetCurrentPixGlobals();
// Ends a drawing session. The globals keep their values until the target is
// taken again.
void DisposeCurrentPixGlobals();

// Saves the current port and the drawing target, and restores both when it
// goes out of scope. A plot into another port (a thumbnail, an export, a
// print, a preview made while saving) that may run while another plot is
// drawing keeps one of these around its work, so the outer plot goes on
// drawing into its own pixels. A saved target whose pixels are freed
// meanwhile is restored as no target.
class PixTargetSaver {
public:
  PixTargetSaver();
  // Also makes `port` current.
  explicit PixTargetSaver(ovgfx::GraphicsPort *port);
  ~PixTargetSaver();
  PixTargetSaver(const PixTargetSaver &) = delete;
  PixTargetSaver &operator=(const PixTargetSaver &) = delete;

private:
  friend void ForgetSavedTargets(const ovgfx::PixelBuffer *freed);
  ovgfx::GraphicsPort *port_;
  ovgfx::PixelBuffer *pixMap_;
  uint8_t *pixBase_;
  uint32_t rowBytes_;
  int16_t bitDepth_;
  Rect pixBounds_;
  Rect pixClipBounds_;
  Rect lineClipBounds_;
  PixTargetSaver *outer_; // the saver made before this one, still alive
};

// ---- Cone filter ---------------------------------------------------------------------
// Entry i is the share of the line's colour in a pixel whose centre lies
// i/20 pixel from the ideal line; entries from 30 on are 0.
inline constexpr int kConeFilterEntries = 31;
inline constexpr float ConeFilter[kConeFilterEntries] = {
    0.779862f, 0.776721f, 0.767335f, 0.751816f, 0.730354f, 0.703222f, 0.670787f, 0.633527f,
    0.592055f, 0.547169f, 0.5f,      0.452433f, 0.405726f, 0.360437f, 0.316992f, 0.275731f,
    0.236929f, 0.200807f, 0.16754f,  0.137263f, 0.110069f, 0.086016f, 0.065125f, 0.047377f,
    0.032718f, 0.021047f, 0.012221f, 0.006036f, 0.00222f,  0.000398f, 0.0f,
};
// The weights of a vertical line: its own column and each neighbour.
inline constexpr float kConeCentreWeight = 0.779862f;
inline constexpr float kConeNeighbourWeight = 0.110069f;
// ConeFilter[|index|], 0 beyond the table.
float ConeWeight(int index);

// Rounds half away from zero.
int RoundHalfAway(float value);

// The colour cut to the target's channel width: each channel >> 8 (0 to
// 255) at 32 bits, >> 11 (0 to 31) at lower depths.
inline RGBColor ReduceColor(const RGBColor &colour) {
  const int shift = dstBitDepth < 17 ? 11 : 8;
  return RGBColor{uint16_t(colour.red >> shift), uint16_t(colour.green >> shift), uint16_t(colour.blue >> shift)};
}

// ---- Pixels ----------------------------------------------------------------------------
// Sets one pixel inside the clip to the colour (at 1 bit every colour sets
// the bit); nothing without a target.
void MySetCPixel(int16_t x, int16_t y, RGBColor colour);
// Blends a reduced colour into one 32-bit pixel: each channel becomes
// truncate(p * w + old * (1 - w)); alpha 0xFF. No clip test: callers test.
void MyPickNMix32BitColors(int16_t x, int16_t y, RGBColor reduced, float weight);
// result = a * w + b * (1 - w) per channel, single precision, truncated.
void MyBlendColors(RGBColor &result, RGBColor a, RGBColor b, float w);

// ---- Lines -------------------------------------------------------------------------------
// One-pixel line. Both end points are in its range; the cross coordinate is
// accumulated in single precision and truncated, so the last pixel can fall
// one short of the second end point.
void MyDrawStandardLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, RGBColor colour);
// `width` one-pixel lines, moved down (shallow lines) or right (steep lines)
// by 0 to width - 1 pixels; a width below 1 draws nothing.
void MyDrawThickLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, int16_t width, RGBColor colour);
// Anti-aliased line between integer points. Returns 0 when there is no
// target, the line lies wholly outside the clip, or a vertical line's
// neighbours leave the clip; 1 otherwise.
int16_t MyDrawSmoothLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, RGBColor colour);
// Anti-aliased line between fractional points. The second end point's row
// or column is drawn only for lines within a pixel of the diagonal.
void MyDrawRealSmoothLine(float x1, float y1, float x2, float y2, RGBColor colour);
// Anti-aliased line `width` pixels wide (a width below 1 is drawn as 1),
// the core spanning u - (width - 1) / 2 to u + width / 2 around the rounded
// position u, with one blended pixel beyond each side.
void MyDrawRealSmoothThickLine(float x1, float y1, float x2, float y2, int16_t width, RGBColor colour);
