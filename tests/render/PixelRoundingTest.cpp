#include "SceneSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace scene;

// Points just short of a half-pixel round toward the nearer pixel, even where
// adding the half in single precision would carry them over; not-a-number
// lands on 0.
TEST(PixelRoundingTest, NearlyHalfRoundsDownAndNotANumberGoesToZero) {
  CrystalRec c;
  c.plotScale = 1.0f;
  int16_t px[2];
  const float belowHalf = std::nextafter(0.5f, 0.0f);
  const float p[3] = {belowHalf, belowHalf, 0.0f};
  Xor2Xpix(&c, p, px, 0, 0); // pixel x = x, pixel y = -y
  EXPECT_EQ(px[0], 0);
  EXPECT_EQ(px[1], 0);
  const float q[3] = {-belowHalf, 4096.5f, 0.0f};
  Xor2Xpix(&c, q, px, 0, 0);
  EXPECT_EQ(px[0], 0);
  EXPECT_EQ(px[1], -4097);
  const float nan[3] = {std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f};
  Xor2Xpix(&c, nan, px, 0, 0);
  EXPECT_EQ(px[0], 0);
}
