// Pixel memory the renderer writes directly: 32-bit pixels in native word
// order (see GraphicsTypes.h) or 1-bit masks (the leftmost pixel of a byte in
// its most significant bit, 1 for black). Rows are padded to whole 32-bit
// words so that a painter can work on the same memory without a copy.
//
// The bounds give the coordinates of the pixels: pixel (x, y) lies in row
// y - bounds.top, column x - bounds.left. A port that moves its origin moves
// these bounds with it.
#pragma once

#include "GraphicsTypes.h"

#include <cstdint>
#include <memory>

namespace ovgfx {

class PixelBuffer {
public:
  // A cleared buffer (32-bit: opaque white; 1-bit: all clear) of the bounds'
  // size. Null when the depth is not 1 or 32, the bounds are empty, or the
  // memory cannot be had.
  static std::unique_ptr<PixelBuffer> Create(const Rect &bounds, int depth);

  PixelBuffer(const PixelBuffer &) = delete;
  PixelBuffer &operator=(const PixelBuffer &) = delete;
  ~PixelBuffer();

  int16_t Depth() const { return depth_; }
  const Rect &Bounds() const { return bounds_; }
  int Width() const { return bounds_.Width(); }
  int Height() const { return bounds_.Height(); }
  uint32_t RowBytes() const { return rowBytes_; }
  uint8_t *BaseAddr() { return base_; }
  const uint8_t *BaseAddr() const { return base_; }
  size_t ByteCount() const { return size_t(rowBytes_) * size_t(Height()); }

  // Moves the coordinates of the pixels so that the top-left pixel becomes
  // (left, top); the pixels themselves stay where they are.
  void MoveBoundsTo(int left, int top);

  uint32_t *Row32(int y) { return reinterpret_cast<uint32_t *>(base_ + size_t(y - bounds_.top) * rowBytes_); }
  const uint32_t *Row32(int y) const {
    return reinterpret_cast<const uint32_t *>(base_ + size_t(y - bounds_.top) * rowBytes_);
  }
  uint8_t *Row1(int y) { return base_ + size_t(y - bounds_.top) * rowBytes_; }
  const uint8_t *Row1(int y) const { return base_ + size_t(y - bounds_.top) * rowBytes_; }

  // Single pixels; the coordinates must lie inside the bounds.
  uint32_t Pixel32(int x, int y) const { return Row32(y)[x - bounds_.left]; }
  void SetPixel32(int x, int y, uint32_t p) { Row32(y)[x - bounds_.left] = p; }
  bool Bit(int x, int y) const {
    int c = x - bounds_.left;
    return (Row1(y)[c >> 3] >> (7 - (c & 7))) & 1;
  }
  void SetBit(int x, int y, bool on) {
    int c = x - bounds_.left;
    uint8_t mask = uint8_t(0x80u >> (c & 7));
    uint8_t &byte = Row1(y)[c >> 3];
    byte = on ? uint8_t(byte | mask) : uint8_t(byte & ~mask);
  }

  // Every pixel: a 32-bit value, or for a 1-bit buffer set when the value is
  // non-zero.
  void Fill(uint32_t value);

  // Called with every buffer just before its memory is freed, so that code
  // holding raw pointers into pixels can let go of them. One observer for
  // the program; null for none.
  using ReleaseObserver = void (*)(const PixelBuffer *);
  static void SetReleaseObserver(ReleaseObserver observer);

private:
  PixelBuffer() = default;
  int16_t depth_ = 32;
  Rect bounds_;
  uint32_t rowBytes_ = 0;
  uint8_t *base_ = nullptr;
};

} // namespace ovgfx
