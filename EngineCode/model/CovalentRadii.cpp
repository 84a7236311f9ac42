#include "CovalentRadii.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr CovalentRadiusRow kCovalentRadii[] = {
#include "CovalentRadii.inc"
};

} // namespace

const CovalentRadiusRow *FindCovalentRadius(ElementCode element) {
  const auto *end = std::end(kCovalentRadii);
  const auto *row = std::lower_bound(std::begin(kCovalentRadii), end, element,
                                     [](const CovalentRadiusRow &r, ElementCode e) { return r.element < e; });
  return row != end && row->element == element ? row : nullptr;
}

float TripleBondRadius(ElementCode element) {
  struct Triple {
    const char *symbol;
    float radius;
  };
  static constexpr Triple kTriple[] = {{"B", 0.73f},  {"C", 0.60f},  {"N", 0.54f}, {"O", 0.53f},
                                       {"Si", 1.02f}, {"P", 0.94f}, {"S", 0.95f}};
  for (const Triple &t : kTriple)
    if (TwoCharsToShort(t.symbol) == element)
      return t.radius;
  return 0.0f;
}
