// Locale-independent number text for the keyword text format: the writer's
// "%f"-style fields and the reader's numbers never depend on the process
// locale (a decimal comma would otherwise break both).
#pragma once

#include <charconv>
#include <cmath>
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
