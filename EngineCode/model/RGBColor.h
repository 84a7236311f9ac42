// Colours as the program stores them: three 16-bit channels.
#pragma once

#include <cstdint>

// A colour as three 16-bit channels, 0 to 65535.
struct RGBColor {
  uint16_t red = 0;
  uint16_t green = 0;
  uint16_t blue = 0;
  friend bool operator==(const RGBColor &, const RGBColor &) = default;
};

inline constexpr RGBColor kRGBBlack{0, 0, 0};
inline constexpr RGBColor kRGBWhite{65535, 65535, 65535};
inline constexpr RGBColor kRGBRed{65535, 0, 0};
inline constexpr RGBColor kRGBDkGrey{34952, 34952, 34952};
inline constexpr RGBColor kRGBMdGrey{48059, 48059, 48059};
inline constexpr RGBColor kRGBLtGrey{52428, 52428, 52428};
inline constexpr RGBColor kRGBAnthracite{26214, 26214, 26214};

// True when the two colours are equal in all three channels.
bool SameRGBColor(const RGBColor &a, const RGBColor &b);
