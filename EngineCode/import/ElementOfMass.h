// The element a simulation file means by an atom's mass, one rule for every
// reader that takes elements from masses.
#pragma once

#include "import/ImportTypes.h"

#include <map>
#include <optional>
#include <string>
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

// The elements of atom names that come with masses (the records of a DL_POLY
// trajectory): the mass
// decides where it and the name disagree ("CA" of 12.011 u is carbon), and
// a mass that is no element's makes a placeholder, whatever the name. Each
// name is read once, with the mass it first comes with.
class NamedMassElements {
public:
  ElementCode Element(ImportedStructure &s, int line, std::string_view name, std::string_view mass);
  // The Log lines that say which names were read how.
  void Log(ImportedStructure &s) const;

private:
  struct Reading {
    std::optional<ElementCode> element, named;
    std::string mass;
  };
  std::map<std::string, Reading, std::less<>> readings_;
};
