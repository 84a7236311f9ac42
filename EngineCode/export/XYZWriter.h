// The XYZ export: a molecule's atoms, or one unit cell of a crystal with its
// lattice vectors in the extended comment, in Cartesian Angstrom.
#pragma once

#include "StructureRecord.h"

#include <string>
#include <string_view>

std::string FormatXYZFile(const CrystalRec &c, std::string_view title);
