#include "StoredLimits.h"

#include <cstdio>
#include <cstdlib>

bool StoredFontNameValid(std::string_view name) {
  bool seenText = false;
  for (char ch : name) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte == 0x7F)
      return false;
    seenText = seenText || byte != ' ';
  }
  return seenText;
}

namespace {

// A float reads back exactly from at most nine significant digits.
constexpr int kMostDecimals = 9;

bool ReadsBack(float value, int decimals, char (&text)[64]) {
  std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(value));
  return std::strtof(text, nullptr) == value;
}

} // namespace

int StoredValueDecimals(float value, int decimals) {
  char text[64];
  int d = decimals < 0 ? 0 : decimals;
  while (d < kMostDecimals && !ReadsBack(value, d, text))
    d++;
  return d;
}

std::string StoredValueText(float value, int decimals) {
  char text[64];
  if (!ReadsBack(value, StoredValueDecimals(value, decimals), text))
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}
