// The symmetry of a read crystal, from the operators a file lists or from a
// space-group symbol, through the engine's own detection: a file's
// operators that are a table setting become that setting, and operators
// that match none stay the structure's symmetry cards.
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

// A Hermann-Mauguin symbol or a group number, with an origin suffix (":1",
// ":2"; ":H" and ":R" follow the cell's angles) or an origin choice 1 or 2
// (0: none given). Without one, a group of two origins takes the origin the
// sites fit: the one under whose operators each site has the multiplicity
// the file gives (`multiplicities`, one per site, 0 where none is given),
// else the one under which no two atoms that cannot share the cell overlap;
// the first when neither decides. Each choice is a warning. The cell and the
// sites must be set first. False when the symbol names no group.
bool SetSymmetryFromSymbol(ImportedStructure &s, std::string_view symbol, int originChoice, int line,
                           std::span<const int> multiplicities = {});
