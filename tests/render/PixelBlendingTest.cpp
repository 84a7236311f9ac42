#include "render/PixelBlending.h"
#include "Alerts.h"
#include "FakeHost.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

using namespace ovgfx;

namespace {

std::unique_ptr<PixelBuffer> Image(int w, int h, uint32_t fill) {
  auto px = PixelBuffer::Create(MakeRect(0, 0, w, h), 32);
  px->Fill(fill);
  return px;
}

std::unique_ptr<PixelBuffer> Noise(int w, int h, unsigned seed) {
  auto px = Image(w, h, 0);
  std::mt19937 random(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px->SetPixel32(x, y, 0xFF000000u | (random() & 0x00FFFFFFu));
  return px;
}

} // namespace

TEST(Anaglyph, RedComesFromTheFirstEyeAndGreenAndBlueFromTheSecond) {
  FakeHost host;
  auto transfer = Image(4, 3, 0x12345678u);
  auto white = Image(4, 3, 0xFFFFFFFFu);
  auto black = Image(4, 3, 0xFF000000u);
  const Rect all = MakeRect(0, 0, 4, 3);
  ASSERT_EQ(MyAddBlueBits(white.get(), transfer.get(), all, all), 0);
  EXPECT_EQ(transfer->Pixel32(2, 1), 0xFFFFFFFFu);
  ASSERT_EQ(MyMultiplyRedBits(black.get(), transfer.get(), all, all), 0);
  EXPECT_EQ(transfer->Pixel32(2, 1), 0xFFFF0000u); // white then black shows red

  auto first = Noise(16, 9, 1), second = Noise(16, 9, 2);
  auto composite = Image(16, 9, 0);
  const Rect frame = MakeRect(0, 0, 16, 9);
  ASSERT_EQ(MyAddBlueBits(first.get(), composite.get(), frame, frame), 0);
  ASSERT_EQ(MyMultiplyRedBits(second.get(), composite.get(), frame, frame), 0);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 16; ++x) {
      const uint32_t c = composite->Pixel32(x, y);
      ASSERT_EQ(PixelAlpha(c), 0xFFu);
      ASSERT_EQ(PixelRed(c), PixelRed(first->Pixel32(x, y)));
      ASSERT_EQ(PixelGreen(c), PixelGreen(second->Pixel32(x, y)));
      ASSERT_EQ(PixelBlue(c), PixelBlue(second->Pixel32(x, y)));
    }
  EXPECT_TRUE(host.alerts.empty());
}

TEST(Anaglyph, RectanglesMapCornerToCorner) {
  FakeHost host;
  auto src = Noise(10, 10, 3);
  auto dst = Image(6, 6, 0xFF000000u);
  ASSERT_EQ(MyAddBlueBits(src.get(), dst.get(), MakeRect(5, 4, 8, 6), MakeRect(1, 2, 4, 4)), 0);
  EXPECT_EQ(dst->Pixel32(1, 2), 0xFF00FFFFu | (src->Pixel32(5, 4) & 0x00FF0000u));
  EXPECT_EQ(dst->Pixel32(3, 3), 0xFF00FFFFu | (src->Pixel32(7, 5) & 0x00FF0000u));
  EXPECT_EQ(dst->Pixel32(0, 2), 0xFF000000u);
  EXPECT_EQ(dst->Pixel32(4, 3), 0xFF000000u);
  EXPECT_EQ(dst->Pixel32(1, 4), 0xFF000000u);
}

TEST(Anaglyph, BadRequestsAlertAndWriteNothing) {
  FakeHost host;
  auto src = Image(4, 4, 0xFFFFFFFFu);
  auto dst = Image(4, 4, 0xFF000000u);
  auto mask = PixelBuffer::Create(MakeRect(0, 0, 4, 4), 1);
  struct Case {
    const PixelBuffer *src;
    PixelBuffer *dst;
    Rect srcRect, dstRect;
    const char *message;
  } cases[] = {
      {nullptr, dst.get(), MakeRect(0, 0, 4, 4), MakeRect(0, 0, 4, 4), "Nil pointer passed to InitBothPixGlobals"},
      {src.get(), nullptr, MakeRect(0, 0, 4, 4), MakeRect(0, 0, 4, 4), "Nil pointer passed to InitBothPixGlobals"},
      {src.get(), dst.get(), MakeRect(-1, 0, 3, 4), MakeRect(0, 0, 4, 4),
       "Source rectangle does not fit within source pixel map"},
      {src.get(), dst.get(), MakeRect(0, 0, 4, 4), MakeRect(0, 0, 4, 5),
       "Destination rectangle does not fit within destination pixel map"},
      {src.get(), dst.get(), MakeRect(0, 0, 4, 4), MakeRect(0, 0, 3, 4),
       "Source and destination rectangles must be the same size!"},
      // An inside-out rectangle fits nowhere.
      {src.get(), dst.get(), MakeRect(3, 0, 1, 4), MakeRect(3, 0, 1, 4),
       "Source rectangle does not fit within source pixel map"},
      // A 1-bit source would need a 16-bit destination; a 32-bit source a
      // 32-bit one.
      {mask.get(), dst.get(), MakeRect(0, 0, 4, 4), MakeRect(0, 0, 4, 4), "Illegal pixel depth"},
      {src.get(), mask.get(), MakeRect(0, 0, 4, 4), MakeRect(0, 0, 4, 4), "Illegal pixel depth"},
  };
  for (const Case &c : cases) {
    for (auto op : {MyAddBlueBits, MyMultiplyRedBits, MyAddRedBits, MyCopyGreyBits, MyCopyBits}) {
      host.alerts.clear();
      EXPECT_EQ(op(c.src, c.dst, c.srcRect, c.dstRect), -1) << c.message;
      ASSERT_EQ(host.alerts.size(), 1u) << c.message;
      EXPECT_EQ(host.alerts[0].type, kAlertStopAlert);
      EXPECT_EQ(host.alerts[0].message, c.message);
    }
  }
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(dst->Pixel32(x, y), 0xFF000000u);
  EXPECT_EQ(mask->Row1(0)[0], 0);
}

TEST(GreyCopy, TruncatesTheWeightedSumAndKeepsTheSourceAlpha) {
  FakeHost host;
  auto src = Image(3, 1, 0);
  src->SetPixel32(0, 0, 0x80FF0000u); // g = truncate(76.5)
  src->SetPixel32(1, 0, 0xFFFFFFFFu);
  src->SetPixel32(2, 0, 0x0000FF00u); // 0.59 * 255 = 150.45
  auto dst = Image(3, 1, 0);
  ASSERT_EQ(MyCopyGreyBits(src.get(), dst.get(), MakeRect(0, 0, 3, 1), MakeRect(0, 0, 3, 1)), 0);
  EXPECT_EQ(dst->Pixel32(0, 0), 0x804C4C4Cu);
  EXPECT_EQ(dst->Pixel32(1, 0), 0xFFFFFFFFu);
  EXPECT_EQ(dst->Pixel32(2, 0), 0x00969696u);
  EXPECT_EQ(MyColor32BitsGrey(&src->Row32(0)[0]), 0x8000004Cu);
}

TEST(PixelMerges, RedAveragingCopyAndSinglePixelHelpers) {
  FakeHost host;
  auto src = Image(2, 2, 0x00204060u);
  auto dst = Image(2, 2, 0x10030507u);
  const Rect r = MakeRect(0, 0, 2, 2);
  ASSERT_EQ(MyAddRedBits(src.get(), dst.get(), r, r), 0);
  // red (3 + 255) >> 1 = 129, green (5 + 64) >> 1 = 34, blue (7 + 96) >> 1 = 51.
  EXPECT_EQ(dst->Pixel32(1, 1), 0xFF812233u);

  auto numbered = Image(5, 4, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x)
      numbered->SetPixel32(x, y, uint32_t(y * 16 + x));
  auto copy = Image(5, 4, 0xFFFFFFFFu);
  ASSERT_EQ(MyCopyBits(numbered.get(), copy.get(), MakeRect(1, 1, 4, 3), MakeRect(2, 0, 5, 2)), 0);
  EXPECT_EQ(copy->Pixel32(2, 0), 17u);
  EXPECT_EQ(copy->Pixel32(4, 1), 35u);
  EXPECT_EQ(copy->Pixel32(1, 0), 0xFFFFFFFFu);
  EXPECT_EQ(copy->Pixel32(2, 2), 0xFFFFFFFFu);

  uint32_t pixel = 0x00FF0001u;
  MyMerge32BitColors(0x12010203u, &pixel);
  EXPECT_EQ(pixel, 0xFF800102u);
  EXPECT_EQ(MyBitTest(0x40, 6), 1);
  EXPECT_EQ(MyBitTest(0x40, 5), 0);
}
