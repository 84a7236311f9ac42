// The element a simulation file means by an atom's mass: the element whose
// standard atomic weight lies nearest, within the weight table's window.
// The table also lists water and hydroxyl for the molecular-weight sums;
// they are no elements and never answer.
#pragma once

#include "Geometry.h"
#include "import/ImportText.h"

#include <limits>
#include <optional>

inline std::optional<ElementCode> ElementOfStandardMass(double mass) {
  if (!(mass > 0.0 && mass <= std::numeric_limits<float>::max()))
    return std::nullopt;
  const ElementCode code = GetElementWithMass(static_cast<float>(mass));
  if (code == kBlankElement)
    return std::nullopt;
  const std::string symbol = ElementSymbolText(code);
  const auto element = ElementFromSymbol(symbol);
  if (!element || ElementSymbolText(*element) != symbol)
    return std::nullopt;
  return element;
}
