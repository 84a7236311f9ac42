// Copying pixels from a buffer into a port, in the modes the renderer uses.
#pragma once

#include "GraphicsPort.h"
#include "PixelBuffer.h"
#include "Region.h"

namespace ovgfx {

enum CopyMode : int16_t {
  // Plain copy. A 1-bit source is coloured with the port's colours: set
  // pixels in the fore colour, clear pixels in the back colour.
  kCopySource = 0,
  // 1-bit source only: set pixels are painted in the fore colour, clear
  // pixels leave the destination as it was.
  kCopyOr = 1,
  // 32-bit only: each channel becomes source * w + destination * (1 - w),
  // truncated, with w the port's operation colour channel / 65535.
  kCopyBlend = 2,
  // 32-bit only: source pixels of the port's back colour leave the
  // destination as it was; the others are copied.
  kCopyTransparent = 3,
};

// Copies `srcRect` of the source into `dstRect` of the port. When the two
// rectangles differ in size the copy is scaled, each destination pixel
// taking the source pixel its position maps to (no filtering). Only the
// pixels inside the port's clip, its pixel bounds and, when one is given,
// the mask region (in the port's coordinates) are written; source positions
// outside the source's bounds are skipped. Returns 0, or -1 (nothing
// written) for an empty rectangle or a depth and mode the copy does not
// serve: 32 to 32 bits in every mode but OR, 1 to 32 and 1 to 1 bits in copy
// and OR modes.
int CopyPixels(const PixelBuffer &src, GraphicsPort &dst, const Rect &srcRect, const Rect &dstRect, CopyMode mode,
               const Region *mask = nullptr);
// The same through `mask` moved by (dh, dv), without making the moved
// region when it lies wholly inside the port's rectangular clip, its pixels
// and `dstRect` (an atom's image placed on the plot).
int CopyPixelsMaskedAt(const PixelBuffer &src, GraphicsPort &dst, const Rect &srcRect, const Rect &dstRect,
                       CopyMode mode, const Region &mask, int dh, int dv);

} // namespace ovgfx
