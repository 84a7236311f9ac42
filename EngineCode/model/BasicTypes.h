// The program's one rectangle and one point, in pixel coordinates, used from
// the structure record up to the windows.
//
// Pixel coordinates have x growing to the right and y growing downward. A
// rectangle (top, left, bottom, right) covers the pixels left <= x < right,
// top <= y < bottom; its edges lie between pixels.
#pragma once

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
