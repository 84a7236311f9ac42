// The atomic-weight table of the structure engine.
//
// `gElementWeightData` holds 107 rows of an element code and a weight in
// atomic mass units, in the table's fixed order: water "HO"
// and hydroxyl "OH" first, then H, D and the elements, the lanthanides Ce to
// Lu after Ac, lawrencium as "Lw", and last the row "##" of weight 0 that ends
// the table. Lookups search from the first row and stop at "##".
//
// The calculated density and the element-from-mass lookup (Geometry.h) use
// it.
#pragma once

#include "Utilities.h"

#include <cstdint>

inline constexpr int kNumElementWeights = 107;
// The code of the row that ends the table, "##".
inline constexpr ElementCode kElementWeightEnd = 0x2323;

struct ElementWeight {
  ElementCode element; // first character in the high byte, blank second for one letter
  float weight;        // atomic mass units
};

extern const ElementWeight gElementWeightData[kNumElementWeights];

// The weight of an element: searched from the first row up to the "##" row,
// which ends the search. False, and *weight untouched, when the element is not
// in the table (the "##" code itself is never found).
bool LookupElementWeight(ElementCode element, float *weight);
