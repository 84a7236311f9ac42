// The element a simulation file means by an atom's mass, one rule for every
// reader that takes elements from masses.
#pragma once

#include "StructureRecord.h"

#include <optional>
#include <string_view>

// A mass matches an element's standard atomic weight within the precision
// it is written to (half a unit of its last decimal), at least within the
// spread of the standard weights between editions of the table (titanium
// 47.88 or 47.867) and at most within the widest window: "39.1" matches
// within 0.05 u, "32.041000" within 0.015 u, so a methanol bead of
// 32.041 u is no sulphur (32.06).
inline constexpr double kMassMatchFloor = 0.015; // u
inline constexpr double kMassMatchWindow = 0.05; // u

// The element whose standard atomic weight lies nearest the mass written
// as `written` (a number as the file gives it), within the mass's match
// window; none for a mass that is no element's (a coarse-grained bead, a
// united atom, a virtual site of no mass) or for text that is no mass.
std::optional<ElementCode> ElementOfStandardMass(std::string_view written);
