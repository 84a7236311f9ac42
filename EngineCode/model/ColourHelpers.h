// Colour conversions shared by the renderer and the rest of the program:
// grey value, floats, mixing, the highlight colour that contrasts with a
// background, and the conversion of old gradient codes.
#pragma once

#include "RGBColor.h"

#include <cstdint>

struct CrystalRec;

// Backgrounds whose channel sum is below this take a white highlight, the
// others a black one.
inline constexpr uint32_t kHiliteWhiteBelowSum = 98302;

// The highlight colour (labels, cell-point labels, bond style 12) for a
// background: white on a dark background, black on a light one.
RGBColor HiliteColorForBackground(const RGBColor &background);
// Sets the structure's highlight colour from its background colour; called
// whenever the background colour is set.
void GetMyHiliteColor(CrystalRec &crystal);

// Each channel / 65535.
void RGBColor2Float(const RGBColor &colour, float &r, float &g, float &b);
// truncate(0.3 R + 0.59 G + 0.11 B), in double precision.
uint16_t RGBLuminance(const RGBColor &colour);
// All three channels become the luminance.
void RGBColor2Greyscale(RGBColor &colour);
// out = a * f + b * (1 - f) per channel, truncated; an f outside 0..1 is
// taken as 0.5.
void MyMixRGBColors(RGBColor &out, const RGBColor &a, const RGBColor &b, float f);

// Old documents stored a background gradient as one code. Codes 1 to 4 set
// the style, angle (degrees) and scale, swap the two colours for codes 2 and
// 3, and answer true; any other code changes nothing and answers false.
bool ConvertLegacyGradient(int32_t legacyCode, RGBColor &colour1, RGBColor &colour2, uint32_t &style, float &angle,
                           float &scale);
