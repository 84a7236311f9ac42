#include "ImageCopy.h"

#include "PictWriter.h"

#include <algorithm>
#include <vector>

namespace ovgfx {

namespace {

bool Serves(int srcDepth, int dstDepth, CopyMode mode) {
  if (srcDepth == 32 && dstDepth == 32)
    return mode == kCopySource || mode == kCopyBlend || mode == kCopyTransparent;
  if (srcDepth == 1 && (dstDepth == 32 || dstDepth == 1))
    return mode == kCopySource || mode == kCopyOr;
  return false;
}

inline uint32_t BlendChannel(uint32_t src, uint32_t dst, float w) {
  return uint32_t(float(src) * w + float(dst) * (1.0f - w));
}

} // namespace

namespace {

// Copies into the rectangles of `target`, each moved by (moveH, moveV);
// they lie inside the port's pixels and `dstRect`.
int CopyInto(const PixelBuffer &src, GraphicsPort &dst, const Rect &srcRect, const Rect &dstRect, CopyMode mode,
             const std::vector<Rect> &target, int moveH, int moveV) {
  PixelBuffer *out = dst.Pixels();
  const Rect &sb = src.Bounds();
  const int sw = srcRect.Width(), sh = srcRect.Height();
  const int dw = dstRect.Width(), dh = dstRect.Height();

  if (mode == kCopySource && src.Depth() == 32 && sw == dw && sh == dh) {
    // Unscaled 32-bit copy: whole row pieces at a time.
    const int offX = srcRect.left - dstRect.left, offY = srcRect.top - dstRect.top;
    const Rect reachable = OffsetRect(sb, -offX, -offY);
    for (const Rect &moved : target) {
      const Rect piece = SectRect(OffsetRect(moved, moveH, moveV), reachable);
      for (int y = piece.top; y < piece.bottom; ++y)
        std::copy_n(src.Row32(y + offY) + (piece.left + offX - sb.left), piece.Width(),
                    out->Row32(y) + (piece.left - out->Bounds().left));
    }
    return 0;
  }

  // Source column and row for every destination column and row.
  std::vector<int> column(static_cast<size_t>(dw)), row(static_cast<size_t>(dh));
  for (int i = 0; i < dw; ++i)
    column[size_t(i)] = srcRect.left + int(int64_t(i) * sw / dw);
  for (int i = 0; i < dh; ++i)
    row[size_t(i)] = srcRect.top + int(int64_t(i) * sh / dh);

  const RGBColor fore = dst.ForeColor(), back = dst.BackColor();
  const uint32_t forePixel = RGBColorToPixel32(fore), backPixel = RGBColorToPixel32(back);
  const bool foreBit = RGBColorIsDark(fore), backBit = RGBColorIsDark(back);
  const RGBColor op = dst.OpColor();
  const float w[3] = {float(op.red) / 65535.0f, float(op.green) / 65535.0f, float(op.blue) / 65535.0f};

  for (const Rect &moved : target) {
    const Rect r = OffsetRect(moved, moveH, moveV);
    for (int y = r.top; y < r.bottom; ++y) {
      const int sy = row[size_t(y - dstRect.top)];
      if (sy < sb.top || sy >= sb.bottom)
        continue;
      for (int x = r.left; x < r.right; ++x) {
        const int sx = column[size_t(x - dstRect.left)];
        if (sx < sb.left || sx >= sb.right)
          continue;
        if (src.Depth() == 1) {
          const bool set = src.Bit(sx, sy);
          if (mode == kCopyOr && !set)
            continue;
          if (out->Depth() == 1)
            out->SetBit(x, y, set ? foreBit : backBit);
          else
            out->SetPixel32(x, y, set ? forePixel : backPixel);
          continue;
        }
        const uint32_t s = src.Pixel32(sx, sy);
        switch (mode) {
        case kCopySource:
          out->SetPixel32(x, y, s);
          break;
        case kCopyTransparent:
          if ((s & ~kAlphaMask) != (backPixel & ~kAlphaMask))
            out->SetPixel32(x, y, s);
          break;
        case kCopyBlend: {
          const uint32_t d = out->Pixel32(x, y);
          out->SetPixel32(x, y,
                          PackPixel32(0xFF, BlendChannel(PixelRed(s), PixelRed(d), w[0]),
                                      BlendChannel(PixelGreen(s), PixelGreen(d), w[1]),
                                      BlendChannel(PixelBlue(s), PixelBlue(d), w[2])));
          break;
        }
        case kCopyOr:
          break;
        }
      }
    }
  }
  return 0;
}

bool Copyable(const PixelBuffer &src, GraphicsPort &dst, const Rect &srcRect, const Rect &dstRect, CopyMode mode) {
  const PixelBuffer *out = dst.Pixels();
  return out && !srcRect.IsEmpty() && !dstRect.IsEmpty() && Serves(src.Depth(), out->Depth(), mode);
}

} // namespace

int CopyPixels(const PixelBuffer &src, GraphicsPort &dst, const Rect &srcRect, const Rect &dstRect, CopyMode mode,
               const Region *mask) {
  if (dst.Recorder())
    dst.Recorder()->Copy(dst, src, srcRect, dstRect, mode, mask);
  if (!Copyable(src, dst, srcRect, dstRect, mode))
    return -1;
  Region target = dst.VisibleRegion().Intersected(Region(dstRect));
  if (mask)
    target = target.Intersected(*mask);
  if (target.IsEmpty())
    return 0;
  return CopyInto(src, dst, srcRect, dstRect, mode, target.Rects(), 0, 0);
}

int CopyPixelsMaskedAt(const PixelBuffer &src, GraphicsPort &dst, const Rect &srcRect, const Rect &dstRect,
                       CopyMode mode, const Region &mask, int dh, int dv) {
  // A mask wholly inside a rectangular clip, the pixels and the destination
  // is the target itself: it is walked where it lies, moved as it goes.
  const Rect box = mask.Bounds();
  const Rect moved = OffsetRect(box, dh, dv);
  if (!dst.Recorder() && dst.Clip().IsRectangular() && dst.Pixels() && !box.IsEmpty()) {
    const Rect inside = SectRect(SectRect(dst.Clip().Bounds(), dst.Pixels()->Bounds()), dstRect);
    if (SectRect(moved, inside) == moved) {
      if (!Copyable(src, dst, srcRect, dstRect, mode))
        return -1;
      // A plot copies one masked atom image after another: the list of
      // the mask's rectangles keeps its storage between them.
      thread_local std::vector<Rect> pieces;
      mask.RectsInto(pieces);
      return CopyInto(src, dst, srcRect, dstRect, mode, pieces, dh, dv);
    }
  }
  Region placed = mask;
  placed.Offset(dh, dv);
  return CopyPixels(src, dst, srcRect, dstRect, mode, &placed);
}

} // namespace ovgfx
