// Which alternate locations of a macromolecular model stay: each residue
// position (chain, residue number, insertion code) keeps the first location
// it names, whatever residue name that location gives, and every atom with
// no location. A residue or water that exists only at location B or C keeps
// that one. One object per model.
//
// What stays can thus mix locations (a side chain at A beside a water at
// B, which is there only when the side chain is at B): each location kept
// is a disorder group of its own, so that no two atoms kept at different
// locations are bonded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class AlternateLocationChoice {
public:
  // True when the atom at this residue position and location stays. A
  // blank location (empty, " ", "." or "?") always stays.
  bool Keeps(std::string_view chain, std::string_view residueNumber, std::string_view insertion,
             std::string_view location);
  // The disorder group of an atom kept at this location: 0 for a blank
  // location, else one group per location, numbered from
  // kKeptConformerGroup in the order the locations are first kept.
  int16_t Group(std::string_view location);

private:
  std::unordered_map<std::string, std::string> first_;
  std::vector<std::string> kept_; // the locations kept, in the order of their groups
};
