#include "graphics/ImageCopy.h"

#include <gtest/gtest.h>

using namespace ovgfx;

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;

std::unique_ptr<PixelBuffer> Numbered(int w, int h) {
  auto px = PixelBuffer::Create(MakeRect(0, 0, w, h), 32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px->SetPixel32(x, y, PackPixel32(0xFF, uint32_t(x * 10), uint32_t(y * 10), 7));
  return px;
}

} // namespace

TEST(CopyPixels, PlainCopyGoesThroughTheMaskAndTheClip) {
  auto src = Numbered(6, 6);
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 10, 10), 32);
  Region mask = Region(MakeRect(2, 2, 8, 8)).Subtracted(Region(MakeRect(4, 4, 6, 6)));
  port->ClipRect(MakeRect(0, 0, 7, 10));
  ASSERT_EQ(CopyPixels(*src, *port, MakeRect(0, 0, 6, 6), MakeRect(2, 2, 8, 8), kCopySource, &mask), 0);
  const PixelBuffer &out = *port->Pixels();
  EXPECT_EQ(out.Pixel32(2, 2), src->Pixel32(0, 0));
  EXPECT_EQ(out.Pixel32(6, 3), src->Pixel32(4, 1));
  EXPECT_EQ(out.Pixel32(4, 4), kWhite); // hole in the mask
  EXPECT_EQ(out.Pixel32(7, 3), kWhite); // outside the clip
  EXPECT_EQ(out.Pixel32(1, 1), kWhite);

  // Without a mask, and from a source rectangle that reaches past the
  // source: positions outside the source are skipped.
  port->ClipRect(kWideOpenRect);
  port->Pixels()->Fill(kWhite);
  ASSERT_EQ(CopyPixels(*src, *port, MakeRect(3, 3, 9, 9), MakeRect(0, 0, 6, 6), kCopySource), 0);
  EXPECT_EQ(out.Pixel32(0, 0), src->Pixel32(3, 3));
  EXPECT_EQ(out.Pixel32(2, 2), src->Pixel32(5, 5));
  EXPECT_EQ(out.Pixel32(3, 3), kWhite);
}

TEST(CopyPixels, BlendUsesTheOperationColourAndTransparentSkipsTheBackColour) {
  auto src = PixelBuffer::Create(MakeRect(0, 0, 2, 1), 32);
  src->SetPixel32(0, 0, 0xFF000000u);
  src->SetPixel32(1, 0, 0xFFFFFFFFu);
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 2, 1), 32);
  port->Pixels()->SetPixel32(0, 0, 0xFFC86432u);
  port->Pixels()->SetPixel32(1, 0, 0xFF000000u);
  port->SetOpColor(RGBColor{16383, 32767, 65535});
  ASSERT_EQ(CopyPixels(*src, *port, MakeRect(0, 0, 2, 1), MakeRect(0, 0, 2, 1), kCopyBlend), 0);
  // Black over (200, 100, 50): 200 * (1 - 0.24999619) = 150.0008 -> 150,
  // 100 * 0.50000763 = 50.0008 -> 50, 50 * 0 = 0.
  EXPECT_EQ(port->Pixels()->Pixel32(0, 0), 0xFF963200u);
  // White over black: 255 * 0.24999619 = 63.749 -> 63, 127.498 -> 127, 255.
  EXPECT_EQ(port->Pixels()->Pixel32(1, 0), 0xFF3F7FFFu);

  port->Pixels()->Fill(0xFF123456u);
  ASSERT_EQ(CopyPixels(*src, *port, MakeRect(0, 0, 2, 1), MakeRect(0, 0, 2, 1), kCopyTransparent), 0);
  EXPECT_EQ(port->Pixels()->Pixel32(0, 0), 0xFF000000u);
  EXPECT_EQ(port->Pixels()->Pixel32(1, 0), 0xFF123456u); // white source: left alone
}

TEST(CopyPixels, OneBitSourcesAreColouredOrLaidOver) {
  auto bits = PixelBuffer::Create(MakeRect(0, 0, 3, 1), 1);
  bits->SetBit(1, 0, true);
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 3, 1), 32);
  port->SetForeColor(RGBColor{65535, 0, 0});
  port->SetBackColor(RGBColor{0, 0, 65535});
  port->Pixels()->Fill(0xFF00FF00u);
  ASSERT_EQ(CopyPixels(*bits, *port, bits->Bounds(), bits->Bounds(), kCopyOr), 0);
  EXPECT_EQ(port->Pixels()->Pixel32(0, 0), 0xFF00FF00u);
  EXPECT_EQ(port->Pixels()->Pixel32(1, 0), 0xFFFF0000u);
  ASSERT_EQ(CopyPixels(*bits, *port, bits->Bounds(), bits->Bounds(), kCopySource), 0);
  EXPECT_EQ(port->Pixels()->Pixel32(0, 0), 0xFF0000FFu);
  EXPECT_EQ(port->Pixels()->Pixel32(1, 0), 0xFFFF0000u);

  auto maskPort = GraphicsPort::NewOffscreen(MakeRect(0, 0, 3, 1), 1);
  maskPort->SetForeColor(kRGBBlack);
  maskPort->SetBackColor(kRGBWhite);
  maskPort->Pixels()->SetBit(0, 0, true);
  ASSERT_EQ(CopyPixels(*bits, *maskPort, bits->Bounds(), bits->Bounds(), kCopyOr), 0);
  EXPECT_EQ(maskPort->Pixels()->Row1(0)[0], 0xC0);
}

TEST(CopyPixels, DifferentSizesScaleByTakingTheMappedPixel) {
  auto src = Numbered(2, 2);
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 4, 4), 32);
  ASSERT_EQ(CopyPixels(*src, *port, MakeRect(0, 0, 2, 2), MakeRect(0, 0, 4, 4), kCopySource), 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(port->Pixels()->Pixel32(x, y), src->Pixel32(x / 2, y / 2));

  auto big = Numbered(6, 3);
  ASSERT_EQ(CopyPixels(*big, *port, MakeRect(0, 0, 6, 3), MakeRect(0, 0, 3, 3), kCopySource), 0);
  EXPECT_EQ(port->Pixels()->Pixel32(1, 1), big->Pixel32(2, 1));
  EXPECT_EQ(port->Pixels()->Pixel32(2, 2), big->Pixel32(4, 2));
}

TEST(CopyPixels, RefusesWhatItDoesNotServeWithoutWriting) {
  auto deep = Numbered(2, 2);
  auto bits = PixelBuffer::Create(MakeRect(0, 0, 2, 2), 1);
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 2, 2), 32);
  auto maskPort = GraphicsPort::NewOffscreen(MakeRect(0, 0, 2, 2), 1);
  const Rect r = MakeRect(0, 0, 2, 2);
  EXPECT_EQ(CopyPixels(*deep, *port, r, r, kCopyOr), -1);
  EXPECT_EQ(CopyPixels(*deep, *maskPort, r, r, kCopySource), -1);
  EXPECT_EQ(CopyPixels(*bits, *port, r, r, kCopyBlend), -1);
  EXPECT_EQ(CopyPixels(*deep, *port, Rect{}, r, kCopySource), -1);
  EXPECT_EQ(port->Pixels()->Pixel32(0, 0), kWhite);
}

TEST(CopyPixels, AMovedMaskDrawsWhatTheMovedRegionDraws) {
  // An oval mask made at the origin, placed at several spots: wholly inside
  // the port, across its clip, across its edge, and through a clip that is
  // not a rectangle. Each copy must match the copy through the region moved
  // by hand, in every mode the atoms use.
  auto src = Numbered(9, 9);
  const Region oval = Region::Oval(MakeRect(0, 0, 9, 9));
  const Region ring = Region(MakeRect(0, 0, 20, 20)).Subtracted(Region(MakeRect(8, 8, 12, 12)));
  for (CopyMode mode : {kCopySource, kCopyBlend})
    for (int place : {0, 1, 2, 3})
      for (const Point at : {Point{5, 5}, Point{-4, 3}, Point{13, 11}, Point{6, 7}}) {
        auto viaMove = GraphicsPort::NewOffscreen(MakeRect(0, 0, 20, 20), 32);
        auto viaRegion = GraphicsPort::NewOffscreen(MakeRect(0, 0, 20, 20), 32);
        for (GraphicsPort *port : {viaMove.get(), viaRegion.get()}) {
          port->SetOpColor(RGBColor{30000, 40000, 50000});
          if (place == 1)
            port->ClipRect(MakeRect(0, 0, 14, 20));
          else if (place == 2)
            port->Pixels()->MoveBoundsTo(2, 1);
          else if (place == 3)
            port->SetClip(ring);
        }
        const Rect dst = MakeRect(at.h, at.v, at.h + 9, at.v + 9);
        Region moved = oval;
        moved.Offset(at.h, at.v);
        ASSERT_EQ(CopyPixelsMaskedAt(*src, *viaMove, MakeRect(0, 0, 9, 9), dst, mode, oval, at.h, at.v), 0);
        ASSERT_EQ(CopyPixels(*src, *viaRegion, MakeRect(0, 0, 9, 9), dst, mode, &moved), 0);
        const PixelBuffer &a = *viaMove->Pixels(), &b = *viaRegion->Pixels();
        int copied = 0;
        for (int y = a.Bounds().top; y < a.Bounds().bottom; ++y)
          for (int x = a.Bounds().left; x < a.Bounds().right; ++x) {
            ASSERT_EQ(a.Pixel32(x, y), b.Pixel32(x, y)) << "mode " << mode << " place " << place << " at " << x << "," << y;
            copied += a.Pixel32(x, y) != kWhite ? 1 : 0;
          }
        EXPECT_GT(copied, 0);
      }
}
