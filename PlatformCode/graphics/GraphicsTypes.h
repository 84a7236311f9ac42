// Plain value types shared by the graphics layer and the renderer: pixel
// rectangles and points in the program's pixel coordinates, 8 x 8 pen
// patterns, and the packing of colours into the 32-bit pixel format.
//
// Pixel coordinates have x growing to the right and y growing downward. A
// rectangle (top, left, bottom, right) covers the pixels left <= x < right,
// top <= y < bottom; its edges lie between pixels.
#pragma once

#include "HostServices.h" // RGBColor

#include <algorithm>
#include <cstdint>

struct Rect {
  int16_t top = 0;
  int16_t left = 0;
  int16_t bottom = 0;
  int16_t right = 0;

  int Width() const { return int(right) - int(left); }
  int Height() const { return int(bottom) - int(top); }
  bool IsEmpty() const { return bottom <= top || right <= left; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  friend bool operator==(const Rect &, const Rect &) = default;
};

inline Rect MakeRect(int left, int top, int right, int bottom) {
  return Rect{int16_t(top), int16_t(left), int16_t(bottom), int16_t(right)};
}

// Moves the rectangle by (dh, dv).
inline Rect OffsetRect(const Rect &r, int dh, int dv) {
  return MakeRect(r.left + dh, r.top + dv, r.right + dh, r.bottom + dv);
}

// Shrinks the rectangle by dh on the left and right and dv on the top and
// bottom (negative values grow it). A rectangle that would turn inside out
// becomes empty at its centre.
inline Rect InsetRect(const Rect &r, int dh, int dv) {
  Rect out = MakeRect(r.left + dh, r.top + dv, r.right - dh, r.bottom - dv);
  if (out.IsEmpty())
    return Rect{};
  return out;
}

// The common part of two rectangles; an empty rectangle when they do not
// overlap.
inline Rect SectRect(const Rect &a, const Rect &b) {
  Rect out = MakeRect(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                      std::min(a.bottom, b.bottom));
  if (out.IsEmpty())
    return Rect{};
  return out;
}

// The widest rectangle 16-bit coordinates allow: the clip of a fresh port.
inline constexpr Rect kWideOpenRect{-32767, -32767, 32767, 32767};

// A pixel position, vertical coordinate first.
struct Point {
  int16_t v = 0;
  int16_t h = 0;
  friend bool operator==(const Point &, const Point &) = default;
};

// An 8 x 8 pen pattern. Row y & 7 of the port's coordinates uses byte y & 7;
// bit 7 of a byte is column 0. A set bit draws the foreground colour, a clear
// bit the background colour.
struct Pattern {
  uint8_t rows[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  bool Bit(int x, int y) const { return (rows[y & 7] >> (7 - (x & 7))) & 1; }
  friend bool operator==(const Pattern &, const Pattern &) = default;
};

inline constexpr Pattern kSolidPattern{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
inline constexpr Pattern kDarkStipplePattern{{0x77, 0xDD, 0x77, 0xDD, 0x77, 0xDD, 0x77, 0xDD}};  // 3 of 4 set
inline constexpr Pattern kHalfStipplePattern{{0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55}};  // checkerboard
inline constexpr Pattern kLightStipplePattern{{0x88, 0x22, 0x88, 0x22, 0x88, 0x22, 0x88, 0x22}}; // 1 of 4 set
inline constexpr Pattern kEmptyPattern{{0, 0, 0, 0, 0, 0, 0, 0}};

// ---- 32-bit pixels -------------------------------------------------------------
// A 32-bit pixel is one native-order word: alpha in bits 24 to 31, red 16 to
// 23, green 8 to 15, blue 0 to 7.
inline constexpr uint32_t kAlphaMask = 0xFF000000u;

inline constexpr uint32_t RGBColorToPixel32(const RGBColor &c) {
  return kAlphaMask | (uint32_t(c.red >> 8) << 16) | (uint32_t(c.green >> 8) << 8) | uint32_t(c.blue >> 8);
}
inline constexpr uint32_t PackPixel32(uint32_t alpha, uint32_t red, uint32_t green, uint32_t blue) {
  return (alpha << 24) | (red << 16) | (green << 8) | blue;
}
inline constexpr uint32_t PixelAlpha(uint32_t p) { return p >> 24; }
inline constexpr uint32_t PixelRed(uint32_t p) { return (p >> 16) & 0xFF; }
inline constexpr uint32_t PixelGreen(uint32_t p) { return (p >> 8) & 0xFF; }
inline constexpr uint32_t PixelBlue(uint32_t p) { return p & 0xFF; }

// The 8-bit channels of a pixel widened back to 16 bits (0xAB becomes 0xABAB).
inline constexpr RGBColor Pixel32ToRGBColor(uint32_t p) {
  return RGBColor{uint16_t(PixelRed(p) * 257), uint16_t(PixelGreen(p) * 257), uint16_t(PixelBlue(p) * 257)};
}

// A 1-bit pixel is set (black) for every colour darker than mid grey.
inline bool RGBColorIsDark(const RGBColor &c) {
  return (uint32_t(c.red) * 30 + uint32_t(c.green) * 59 + uint32_t(c.blue) * 11) < 32768u * 100;
}
