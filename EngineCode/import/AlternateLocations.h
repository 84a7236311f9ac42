// Which alternate locations of a macromolecular model stay: each residue
// position (chain, residue number, insertion code) keeps the first location
// it names, whatever residue name that location gives, and every atom with
// no location. A residue or water that exists only at location B or C keeps
// that one. One object per model.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

class AlternateLocationChoice {
public:
  // True when the atom at this residue position and location stays. A
  // blank location (empty, " ", "." or "?") always stays.
  bool Keeps(std::string_view chain, std::string_view residueNumber, std::string_view insertion,
             std::string_view location);

private:
  std::unordered_map<std::string, std::string> first_;
};
