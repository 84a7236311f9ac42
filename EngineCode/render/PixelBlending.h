// Whole-rectangle channel merges between two pixel buffers: the two halves
// of a red/blue anaglyph, a red-averaging merge, a greyscale copy and a
// plain copy, with their single-pixel helpers.
//
// Every operation takes (source, destination, source rectangle, destination
// rectangle), checks that the rectangles lie inside their buffers and have
// the same size and that both buffers are 32 bits deep, and answers 0, or -1
// after a stop alert with nothing written.
//
// Anaglyph: the eye drawn first is merged with MyAddBlueBits, the other with
// MyMultiplyRedBits; the result has the red channel of the first eye's image
// and the green and blue channels of the second's.
//
// Main thread only: the operations keep the two buffers in the program-wide
// globals below.
#pragma once

#include "graphics/GraphicsTypes.h"
#include "graphics/PixelBuffer.h"

#include <cstdint>

extern uint8_t *gSrcPixBase;
extern uint8_t *gDstPixBase;
extern uint32_t gSrcRowBytes;
extern uint32_t gDstRowBytes;
extern uint16_t gSrcBitDepth;
extern uint16_t gDstBitDepth;
extern Rect gSrcPixBounds;
extern Rect gDstPixBounds;

// Reads one buffer's pixel address, row bytes, depth and bounds.
void GetPixGlobals(const ovgfx::PixelBuffer *pixels, uint8_t *&base, uint32_t &rowBytes, uint16_t &depth, Rect &bounds);
// Fills the globals from both buffers and checks the rectangles; 0 or -1.
int16_t InitBothPixGlobals(const ovgfx::PixelBuffer *src, const ovgfx::PixelBuffer *dst, const Rect &srcRect,
                           const Rect &dstRect);

// First eye: alpha 0xFF, the source's red, green and blue at full.
int16_t MyAddBlueBits(const ovgfx::PixelBuffer *src, ovgfx::PixelBuffer *dst, const Rect &srcRect, const Rect &dstRect);
// Second eye: alpha 0xFF, the destination keeps its red and takes the
// source's green and blue.
int16_t MyMultiplyRedBits(const ovgfx::PixelBuffer *src, ovgfx::PixelBuffer *dst, const Rect &srcRect,
                          const Rect &dstRect);
// Alpha 0xFF; red halfway to full; green and blue the average of destination
// and source (halvings truncate).
int16_t MyAddRedBits(const ovgfx::PixelBuffer *src, ovgfx::PixelBuffer *dst, const Rect &srcRect, const Rect &dstRect);
// The source's alpha, then its grey level g in all three channels,
// g = truncate(0.11 B + (0.3 R + 0.59 G)) in double precision.
int16_t MyCopyGreyBits(const ovgfx::PixelBuffer *src, ovgfx::PixelBuffer *dst, const Rect &srcRect,
                       const Rect &dstRect);
// Copies the rectangle row by row.
int16_t MyCopyBits(const ovgfx::PixelBuffer *src, ovgfx::PixelBuffer *dst, const Rect &srcRect, const Rect &dstRect);

// The 32-bit pixel's alpha in the top byte and its grey level in the low
// byte (0xAA0000gg).
uint32_t MyColor32BitsGrey(const uint32_t *pixel);
// Averages the value into the pixel channel by channel (halvings truncate);
// alpha 0xFF.
void MyMerge32BitColors(uint32_t value, uint32_t *pixel);
// Bit n of the byte.
int MyBitTest(uint8_t byte, int n);
