#include "PixelBuffer.h"

#include <cstring>
#include <new>

namespace ovgfx {

std::unique_ptr<PixelBuffer> PixelBuffer::Create(const Rect &bounds, int depth) {
  if ((depth != 1 && depth != 32) || bounds.IsEmpty())
    return nullptr;
  // Whole 32-bit words per row.
  uint64_t rowBytes = ((uint64_t(bounds.Width()) * uint64_t(depth) + 31) / 32) * 4;
  uint64_t bytes = rowBytes * uint64_t(bounds.Height());
  // Words, so that every row starts on a word boundary.
  auto *words = new (std::nothrow) uint32_t[bytes / 4];
  if (!words)
    return nullptr;
  std::unique_ptr<PixelBuffer> buffer(new (std::nothrow) PixelBuffer);
  if (!buffer) {
    delete[] words;
    return nullptr;
  }
  buffer->depth_ = int16_t(depth);
  buffer->bounds_ = bounds;
  buffer->rowBytes_ = uint32_t(rowBytes);
  buffer->base_ = reinterpret_cast<uint8_t *>(words);
  buffer->Fill(depth == 32 ? 0xFFFFFFFFu : 0u);
  return buffer;
}

namespace {
PixelBuffer::ReleaseObserver gReleaseObserver = nullptr;
}

void PixelBuffer::SetReleaseObserver(ReleaseObserver observer) { gReleaseObserver = observer; }

PixelBuffer::~PixelBuffer() {
  if (gReleaseObserver)
    gReleaseObserver(this);
  delete[] reinterpret_cast<uint32_t *>(base_);
}

void PixelBuffer::MoveBoundsTo(int left, int top) { bounds_ = MakeRect(left, top, left + Width(), top + Height()); }

void PixelBuffer::Fill(uint32_t value) {
  if (depth_ == 1) {
    std::memset(base_, value ? 0xFF : 0x00, ByteCount());
    return;
  }
  for (int y = bounds_.top; y < bounds_.bottom; ++y) {
    uint32_t *row = Row32(y);
    std::fill(row, row + Width(), value);
  }
}

} // namespace ovgfx
