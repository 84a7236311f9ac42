// The element a simulation file means by an atom's mass, one rule for every
// reader that takes elements from masses.
#pragma once

#include "import/ImportTypes.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A mass matches an element's standard atomic weight within the precision
// it is written to (half a unit of its last decimal), at least within the
// spread of the standard weights between editions of the table (titanium
// 47.88 or 47.867) and at most within the widest window: "39.1" matches
// within 0.05 u, "32.041000" within 0.015 u, so a methanol bead of
// 32.041 u is no sulphur (32.06).
inline constexpr double kMassMatchFloor = 0.015; // u
inline constexpr double kMassMatchWindow = 0.05; // u

// A mass written to a whole unit or to one decimal ("28", "32.0") that no
// element matches so closely is the element whose standard atomic weight
// lies within this of it, when exactly one does: "28" is silicon, "56"
// iron, while "40" lies as near argon as calcium and names neither.
inline constexpr double kCoarseMassWindow = 0.5; // u

// The elements a mass written as `written` (a number as the file gives it)
// may be: the one whose standard atomic weight lies nearest, within the
// mass's match window; else, for a mass written to a whole unit or one
// decimal, each within kCoarseMassWindow (`coarse` then set).
struct MassCandidates {
  std::vector<ElementCode> elements;
  bool coarse = false;
};
MassCandidates StandardMassCandidates(std::string_view written);

// The one element a written mass names; none for a mass that is no
// element's (a coarse-grained bead, a united atom, a virtual site of no
// mass), for one that lies near two (coarse), or for text that is no mass.
// `note` gets the Log line when the coarse window decided or found two.
std::optional<ElementCode> ElementOfStandardMass(std::string_view written, std::string *note = nullptr);
// The same, the Log line written as a warning of `s` on `line`.
std::optional<ElementCode> ElementOfStandardMass(ImportedStructure &s, int line, std::string_view written);

// The elements of atom names that come with masses (the records of a DL_POLY
// trajectory): the mass decides where it and the name disagree ("CA" of
// 12.011 u is carbon); where the mass names no one element, a name that is
// an element's symbol decides if the mass is no other element's ("S" of
// 32.041 u is sulphur, "AR" of 40 u argon); else the atom is a placeholder.
// Each name is read once, with the mass it first comes with.
class NamedMassElements {
public:
  ElementCode Element(ImportedStructure &s, int line, std::string_view name, std::string_view mass);
  // The Log lines that say which names were read how.
  void Log(ImportedStructure &s) const;

private:
  struct Reading {
    std::optional<ElementCode> element, named;
    std::string mass;
    bool byName = false; // the name decided where the mass named no one element
  };
  std::map<std::string, Reading, std::less<>> readings_;
};
