// Atoms a file lists apart at one position: one site of several elements
// when their occupancies allow it, as every reader of refined structures
// makes them (a mixed site written one row per element).
#pragma once

#include "FractionalPlaces.h"
#include "SitePreparation.h"
#include "StructureRecord.h"

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The occupancies of the atoms of one site may sum to 1 plus
// kOccupancySumSlack (SitePreparation.h).

// The atoms of one position are found by GroupAtOnePlace (FractionalPlaces.h).

// What the atoms of one position make: their elements with their
// occupancies (the same element's added), the largest share first (ties in
// file order), and whether they are one site. Atoms of as many elements as
// there are atoms are one site even when their occupancies sum above 1 (a
// refinement leaves a mixed site's a little over); atoms of one element that
// overfill a position are atoms written twice, and more elements than a site
// holds stay apart: then each atom is a site of its own. A joined site is
// drawn, named and bonded as its largest share: it takes its label, position
// and displacement from `lead`, the atom (an index into the atoms given) of
// the largest occupancy among those of its first element, the first of equals.
struct MixedSite {
  std::vector<std::pair<ElementCode, double>> parts;
  double sum = 0.0;
  bool joined = false;
  size_t lead = 0;
};
MixedSite JoinAtOnePlace(std::span<const std::pair<ElementCode, double>> atoms);

// The Log sentence for a position of several atoms (`labels` names them),
// empty when none is due: a joined site whose occupancies sum above 1, or
// atoms left apart and why.
std::string MixedSiteWarning(const MixedSite &site, size_t atoms, std::string_view labels);
