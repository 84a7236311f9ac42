// Numbers as crystallographic input files write coordinates: "0.25" or a
// fraction, "5/12", "-1/3".
#pragma once

#include "import/ImportText.h"

#include <optional>
#include <string_view>

inline std::optional<double> ImportFraction(std::string_view t) {
  const size_t slash = t.find('/');
  if (slash == std::string_view::npos)
    return ImportNumber(t);
  const auto n = ImportNumber(t.substr(0, slash)), d = ImportNumber(t.substr(slash + 1));
  if (!n || !d || *d == 0.0)
    return std::nullopt;
  return *n / *d;
}
