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
