// Plain value types of the graphics layer: 8 x 8 pen patterns and the
// packing of colours into the 32-bit pixel format. Rectangles and points are
// the program-wide ones of BasicTypes.h.
#pragma once

#include "BasicTypes.h"
#include "RGBColor.h"

#include <algorithm>
#include <cstdint>

namespace ovgfx {

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

} // namespace ovgfx
