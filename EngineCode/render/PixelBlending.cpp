#include "render/PixelBlending.h"

#include "Alerts.h"

#include <cstring>

using namespace ovgfx;

uint8_t *gSrcPixBase = nullptr;
uint8_t *gDstPixBase = nullptr;
uint32_t gSrcRowBytes = 0;
uint32_t gDstRowBytes = 0;
uint16_t gSrcBitDepth = 0;
uint16_t gDstBitDepth = 0;
Rect gSrcPixBounds;
Rect gDstPixBounds;

namespace {

constexpr const char *kIllegalDepth = "Illegal pixel depth";

// Grey weights of red, green and blue.
constexpr double kGreyRed = 0.3;
constexpr double kGreyGreen = 0.59;
constexpr double kGreyBlue = 0.11;

// An inside-out rectangle does not fit anywhere (its negative width would
// turn into a huge row length).
bool Inside(const Rect &r, const Rect &bounds) {
  return r.left <= r.right && r.top <= r.bottom && r.left >= bounds.left && r.top >= bounds.top &&
         r.right <= bounds.right && r.bottom <= bounds.bottom;
}

inline uint32_t Grey(uint32_t red, uint32_t green, uint32_t blue) {
  return uint32_t(kGreyBlue * blue + (kGreyRed * red + kGreyGreen * green));
}

// Runs `rule(s, d)` over the two rectangles, writing its result to the
// destination pixel. Both buffers are 32 bits deep.
template <class Rule> void Walk32(const Rect &srcRect, const Rect &dstRect, Rule rule) {
  const int width = srcRect.Width();
  for (int row = 0; row < srcRect.Height(); ++row) {
    const uint32_t *s =
        reinterpret_cast<const uint32_t *>(gSrcPixBase + size_t(srcRect.top - gSrcPixBounds.top + row) * gSrcRowBytes) +
        (srcRect.left - gSrcPixBounds.left);
    uint32_t *d =
        reinterpret_cast<uint32_t *>(gDstPixBase + size_t(dstRect.top - gDstPixBounds.top + row) * gDstRowBytes) +
        (dstRect.left - gDstPixBounds.left);
    for (int i = 0; i < width; ++i)
      d[i] = rule(s[i], d[i]);
  }
}

// Checks both buffers and the depths the operations serve: a 32-bit source
// into a 32-bit destination. (The other source depths of the classic merges
// write 16-bit pixels, which our buffers never have.)
int16_t Prepare(const PixelBuffer *src, const PixelBuffer *dst, const Rect &srcRect, const Rect &dstRect) {
  if (InitBothPixGlobals(src, dst, srcRect, dstRect) != 0)
    return -1;
  if (gSrcBitDepth != 32 || gDstBitDepth != gSrcBitDepth) {
    MyCFStopAlert(kIllegalDepth);
    return -1;
  }
  return 0;
}

} // namespace

void GetPixGlobals(const PixelBuffer *pixels, uint8_t *&base, uint32_t &rowBytes, uint16_t &depth, Rect &bounds) {
  base = const_cast<uint8_t *>(pixels->BaseAddr());
  rowBytes = pixels->RowBytes();
  depth = uint16_t(pixels->Depth());
  bounds = pixels->Bounds();
}

int16_t InitBothPixGlobals(const PixelBuffer *src, const PixelBuffer *dst, const Rect &srcRect, const Rect &dstRect) {
  if (!src || !dst) {
    MyCFStopAlert("Nil pointer passed to InitBothPixGlobals");
    return -1;
  }
  GetPixGlobals(src, gSrcPixBase, gSrcRowBytes, gSrcBitDepth, gSrcPixBounds);
  GetPixGlobals(dst, gDstPixBase, gDstRowBytes, gDstBitDepth, gDstPixBounds);
  if (!Inside(srcRect, gSrcPixBounds)) {
    MyCFStopAlert("Source rectangle does not fit within source pixel map");
    return -1;
  }
  if (!Inside(dstRect, gDstPixBounds)) {
    MyCFStopAlert("Destination rectangle does not fit within destination pixel map");
    return -1;
  }
  if (srcRect.Width() != dstRect.Width() || srcRect.Height() != dstRect.Height()) {
    MyCFStopAlert("Source and destination rectangles must be the same size!");
    return -1;
  }
  return 0;
}

int16_t MyAddBlueBits(const PixelBuffer *src, PixelBuffer *dst, const Rect &srcRect, const Rect &dstRect) {
  if (Prepare(src, dst, srcRect, dstRect) != 0)
    return -1;
  Walk32(srcRect, dstRect, [](uint32_t s, uint32_t) { return 0xFF00FFFFu | (s & 0x00FF0000u); });
  return 0;
}

int16_t MyMultiplyRedBits(const PixelBuffer *src, PixelBuffer *dst, const Rect &srcRect, const Rect &dstRect) {
  if (Prepare(src, dst, srcRect, dstRect) != 0)
    return -1;
  Walk32(srcRect, dstRect, [](uint32_t s, uint32_t d) { return 0xFF000000u | (d & 0x00FF0000u) | (s & 0x0000FFFFu); });
  return 0;
}

int16_t MyAddRedBits(const PixelBuffer *src, PixelBuffer *dst, const Rect &srcRect, const Rect &dstRect) {
  if (Prepare(src, dst, srcRect, dstRect) != 0)
    return -1;
  Walk32(srcRect, dstRect, [](uint32_t s, uint32_t d) {
    return PackPixel32(0xFF, (PixelRed(d) + 255) >> 1, (PixelGreen(d) + PixelGreen(s)) >> 1,
                       (PixelBlue(d) + PixelBlue(s)) >> 1);
  });
  return 0;
}

int16_t MyCopyGreyBits(const PixelBuffer *src, PixelBuffer *dst, const Rect &srcRect, const Rect &dstRect) {
  if (Prepare(src, dst, srcRect, dstRect) != 0)
    return -1;
  Walk32(srcRect, dstRect, [](uint32_t s, uint32_t) {
    const uint32_t g = Grey(PixelRed(s), PixelGreen(s), PixelBlue(s));
    return PackPixel32(PixelAlpha(s), g, g, g);
  });
  return 0;
}

int16_t MyCopyBits(const PixelBuffer *src, PixelBuffer *dst, const Rect &srcRect, const Rect &dstRect) {
  if (Prepare(src, dst, srcRect, dstRect) != 0)
    return -1;
  const size_t rowLength = size_t(srcRect.Width()) * 4;
  for (int row = 0; row < srcRect.Height(); ++row) {
    const uint8_t *s = gSrcPixBase + size_t(srcRect.top - gSrcPixBounds.top + row) * gSrcRowBytes +
                       size_t(srcRect.left - gSrcPixBounds.left) * 4;
    uint8_t *d = gDstPixBase + size_t(dstRect.top - gDstPixBounds.top + row) * gDstRowBytes +
                 size_t(dstRect.left - gDstPixBounds.left) * 4;
    std::memmove(d, s, rowLength);
  }
  return 0;
}

uint32_t MyColor32BitsGrey(const uint32_t *pixel) {
  const uint32_t p = *pixel;
  return (PixelAlpha(p) << 24) | Grey(PixelRed(p), PixelGreen(p), PixelBlue(p));
}

void MyMerge32BitColors(uint32_t value, uint32_t *pixel) {
  const uint32_t p = *pixel;
  *pixel = PackPixel32(0xFF, (PixelRed(p) + PixelRed(value)) >> 1, (PixelGreen(p) + PixelGreen(value)) >> 1,
                       (PixelBlue(p) + PixelBlue(value)) >> 1);
}

int MyBitTest(uint8_t byte, int n) { return (byte >> n) & 1; }
