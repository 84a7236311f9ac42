#include "ColourHelpers.h"
#include "StructureRecord.h"

#include <gtest/gtest.h>

TEST(HiliteColour, WhiteOnDarkBackgroundsBlackOnLightOnes) {
  EXPECT_EQ(HiliteColorForBackground(RGBColor{32767, 32767, 32767}), kRGBWhite); // sum 98301
  EXPECT_EQ(HiliteColorForBackground(RGBColor{32768, 32767, 32767}), kRGBBlack); // sum 98302
  EXPECT_EQ(HiliteColorForBackground(kRGBBlack), kRGBWhite);
  EXPECT_EQ(HiliteColorForBackground(kRGBWhite), kRGBBlack);
  // The sum must not wrap in 16 bits.
  EXPECT_EQ(HiliteColorForBackground(RGBColor{65535, 65535, 0}), kRGBBlack);

  CrystalRec crystal;
  crystal.backgroundColor = RGBColor{32768, 32767, 32767};
  crystal.hiliteColor = kRGBWhite;
  GetMyHiliteColor(crystal);
  EXPECT_EQ(crystal.hiliteColor, kRGBBlack);
  crystal.backgroundColor = RGBColor{0, 0, 65535};
  GetMyHiliteColor(crystal);
  EXPECT_EQ(crystal.hiliteColor, kRGBWhite);
}

TEST(ColourConversions, LuminanceTruncatesAndFloatsDivideBy65535) {
  EXPECT_EQ(RGBLuminance(RGBColor{65535, 0, 0}), 19660); // 19660.5
  EXPECT_EQ(RGBLuminance(RGBColor{0, 65535, 0}), 38665); // 38665.65
  EXPECT_EQ(RGBLuminance(RGBColor{0, 0, 65535}), 7208);  // 7208.85
  EXPECT_EQ(RGBLuminance(RGBColor{100, 200, 300}), 181); // 30 + 118 + 33
  RGBColor c{65535, 0, 0};
  RGBColor2Greyscale(c);
  EXPECT_EQ(c, (RGBColor{19660, 19660, 19660}));

  float r, g, b;
  RGBColor2Float(RGBColor{65535, 0, 32768}, r, g, b);
  EXPECT_EQ(r, 1.0f);
  EXPECT_EQ(g, 0.0f);
  EXPECT_FLOAT_EQ(b, 32768.0f / 65535.0f);
}

TEST(ColourConversions, MixingTakesAnOutOfRangeFractionAsAHalf) {
  RGBColor out;
  MyMixRGBColors(out, RGBColor{65535, 1000, 0}, RGBColor{0, 3000, 10}, 1.5f);
  EXPECT_EQ(out, (RGBColor{32767, 2000, 5}));
  MyMixRGBColors(out, RGBColor{65535, 1000, 0}, RGBColor{0, 3000, 10}, -0.1f);
  EXPECT_EQ(out, (RGBColor{32767, 2000, 5}));
  MyMixRGBColors(out, RGBColor{65535, 1000, 0}, RGBColor{0, 3000, 10}, 0.25f);
  EXPECT_EQ(out, (RGBColor{16383, 2500, 7}));
  MyMixRGBColors(out, RGBColor{65535, 1000, 0}, RGBColor{0, 3000, 10}, 1.0f);
  EXPECT_EQ(out, (RGBColor{65535, 1000, 0}));
}

TEST(LegacyGradients, CodesOneToFourConvertAndOthersChangeNothing) {
  const RGBColor a{1, 2, 3}, b{4, 5, 6};
  struct Row {
    int code;
    uint32_t style;
    float angle;
    bool swapped;
  } rows[] = {{1, 5, 0, false}, {2, 5, 0, true}, {3, 8, 45, true}, {4, 8, 45, false}};
  for (const Row &row : rows) {
    RGBColor c1 = a, c2 = b;
    uint32_t style = 99;
    float angle = -1, scale = -1;
    EXPECT_TRUE(ConvertLegacyGradient(row.code, c1, c2, style, angle, scale)) << row.code;
    EXPECT_EQ(style, row.style);
    EXPECT_EQ(angle, row.angle);
    EXPECT_EQ(scale, 1.0f);
    EXPECT_EQ(c1, row.swapped ? b : a);
    EXPECT_EQ(c2, row.swapped ? a : b);
  }
  for (int code : {0, 5, -1}) {
    RGBColor c1 = a, c2 = b;
    uint32_t style = 99;
    float angle = -1, scale = -1;
    EXPECT_FALSE(ConvertLegacyGradient(code, c1, c2, style, angle, scale));
    EXPECT_EQ(style, 99u);
    EXPECT_EQ(angle, -1);
    EXPECT_EQ(scale, -1);
    EXPECT_EQ(c1, a);
    EXPECT_EQ(c2, b);
  }
}
