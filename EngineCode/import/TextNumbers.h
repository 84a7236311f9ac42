// Locale-independent number text for the keyword text format: the writer's
// "%f"-style fields and the reader's numbers never depend on the process
// locale (a decimal comma would otherwise break both).
#pragma once

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

// `value` with `precision` decimals, right-aligned in `width` characters.
inline std::string FormatFixed(double value, int precision, int width = 0) {
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
  std::string s = ec == std::errc() ? std::string(buf, end) : std::string("0");
  if (static_cast<int>(s.size()) < width)
    s.insert(0, static_cast<size_t>(width) - s.size(), ' ');
  return s;
}

// A finite number read from a token; none for anything else (including
// "nan", "inf" and values beyond the float range).
inline std::optional<float> ParseFloatToken(std::string_view token) {
  if (!token.empty() && token[0] == '+')
    token.remove_prefix(1);
  float v = 0.0f;
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), v);
  if (ec != std::errc() || end != token.data() + token.size() || !std::isfinite(v))
    return std::nullopt;
  return v;
}

inline std::optional<long> ParseIntegerToken(std::string_view token) {
  if (!token.empty() && token[0] == '+')
    token.remove_prefix(1);
  long v = 0;
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), v);
  if (ec != std::errc() || end != token.data() + token.size())
    return std::nullopt;
  return v;
}

// A number read from a file as the float a record keeps it in: a value
// beyond the float range becomes the largest float of its sign (the stored
// values' checks then hold it to its range, each change a Log line).
inline float ImportFloat(double v) {
  constexpr double kLargest = std::numeric_limits<float>::max();
  return static_cast<float>(v > kLargest ? kLargest : v < -kLargest ? -kLargest : v);
}

// A number read from a file as a whole number within [low, high]; none for
// a fraction, or a value outside, before any conversion.
inline std::optional<long> ImportWholeIn(std::optional<double> v, long low, long high) {
  if (!v || !(*v >= static_cast<double>(low) && *v <= static_cast<double>(high)) || *v != std::floor(*v))
    return std::nullopt;
  return static_cast<long>(*v);
}
