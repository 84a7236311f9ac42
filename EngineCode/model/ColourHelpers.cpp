#include "ColourHelpers.h"

#include "StructureRecord.h"

#include <utility>

namespace {

// Grey weights of red, green and blue.
constexpr double kLumRed = 0.3;
constexpr double kLumGreen = 0.59;
constexpr double kLumBlue = 0.11;

// The mix fraction used when the one given is outside 0..1.
constexpr float kDefaultMixFraction = 0.5f;

// Gradient styles of the legacy codes.
constexpr uint32_t kLinearGradientStyle = 5;
constexpr uint32_t kSquareGradientStyle = 8;

} // namespace

RGBColor HiliteColorForBackground(const RGBColor &background) {
  const uint32_t sum = uint32_t(background.red) + background.green + background.blue;
  return sum < kHiliteWhiteBelowSum ? kRGBWhite : kRGBBlack;
}

void GetMyHiliteColor(CrystalRec &crystal) { crystal.hiliteColor = HiliteColorForBackground(crystal.backgroundColor); }

void RGBColor2Float(const RGBColor &colour, float &r, float &g, float &b) {
  r = float(colour.red / 65535.0);
  g = float(colour.green / 65535.0);
  b = float(colour.blue / 65535.0);
}

uint16_t RGBLuminance(const RGBColor &colour) {
  return uint16_t(kLumRed * colour.red + kLumGreen * colour.green + kLumBlue * colour.blue);
}

void RGBColor2Greyscale(RGBColor &colour) {
  const uint16_t grey = RGBLuminance(colour);
  colour = RGBColor{grey, grey, grey};
}

void MyMixRGBColors(RGBColor &out, const RGBColor &a, const RGBColor &b, float f) {
  if (!(f >= 0.0f && f <= 1.0f))
    f = kDefaultMixFraction;
  const float rest = 1.0f - f;
  out.red = uint16_t(float(a.red) * f + float(b.red) * rest);
  out.green = uint16_t(float(a.green) * f + float(b.green) * rest);
  out.blue = uint16_t(float(a.blue) * f + float(b.blue) * rest);
}

bool ConvertLegacyGradient(int32_t legacyCode, RGBColor &colour1, RGBColor &colour2, uint32_t &style, float &angle,
                           float &scale) {
  switch (legacyCode) {
  case 1:
  case 2:
    style = kLinearGradientStyle;
    angle = 0.0f;
    break;
  case 3:
  case 4:
    style = kSquareGradientStyle;
    angle = 45.0f;
    break;
  default:
    return false;
  }
  scale = 1.0f;
  if (legacyCode == 2 || legacyCode == 3)
    std::swap(colour1, colour2);
  return true;
}
