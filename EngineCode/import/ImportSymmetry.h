// The symmetry of a read crystal, from the operators a file lists or from a
// space-group symbol, through the engine's own detection: a file's
// operators that are a table setting become that setting (about a shifted
// origin, kept as the structure's origin shift, where they are the
// setting's with the origin moved), and operators that match none stay the
// structure's symmetry cards.
#pragma once

#include "import/ImportTypes.h"

#include <span>
#include <string>
#include <string_view>

struct GEP;

// Operators as the engine's general positions, centring copies included or
// not. The lattice letter comes from the whole list; the group is then
// sought among the table's settings with one operator per centring class. A
// stated symbol that names another group is a warning, and the operators
// win. The cell must be set first. False, error set, for more operators than
// a structure holds or an operator that is no operator.
bool SetSymmetryFromOperators(ImportedStructure &s, std::span<const GEP> operators, int line, ImportError &error,
                              std::string_view statedSymbol = {});
// The same for operators as text ("-x+1/2, y, z"); a refusal quotes the text.
bool SetSymmetryFromOperators(ImportedStructure &s, std::span<const std::string> operators, int line,
                              ImportError &error, std::string_view statedSymbol = {});

// How a format places the coordinates of a group of two origins when its
// files name neither: `origin` 1 or 2, and `why` for the Log ("at the
// centre of symmetry, ..."); origin 0 when the format has no rule and the
// sites decide.
struct OriginConvention {
  uint8_t origin = 0;
  std::string_view why;
};

// A Hermann-Mauguin symbol or a group number, in any spelling the table of
// symbols knows, with an origin suffix (":1", ":2"; ":H" and ":R" follow the
// cell's angles) or an origin choice 1 or 2 (0: none given). A group of two
// origins named without either takes the format's convention when it has
// one, else the origin its sites fit, chosen when the structure is finished
// (ChooseUnnamedOrigin); each choice is a warning. The cell must be set
// first. False when the symbol names no group.
bool SetSymmetryFromSymbol(ImportedStructure &s, std::string_view symbol, int originChoice, int line,
                           OriginConvention convention = {});

// The origin of a group of two named without either (s.unnamedOrigin), once
// the sites are read: the one under whose operators each site has the
// multiplicity the file gives (s.multiplicities), else the one under which
// no two atoms that cannot share the cell overlap, else the first; the
// choice is a warning on the symbol's line. Nothing when no origin waits.
void ChooseUnnamedOrigin(ImportedStructure &s);
