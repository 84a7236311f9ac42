// A file's own bonds (CONECT records, a bond table, ...): measured as read,
// before the build, then made into the structure's bond specifications.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"
#include "import/ImportTypes.h"

#include <map>
#include <utility>
#include <vector>

struct FileBondSet {
  std::vector<FileBond> bonds; // those between two distinct sites of the file
  // The shortest and longest bond (A) of each element pair, lower code first.
  std::map<std::pair<ElementCode, ElementCode>, std::pair<double, double>> pairs;
};

// The bonds of a structure as read, with their lengths in one frame of its
// cell (a bond may cross a wall).
FileBondSet MeasureFileBonds(const ImportedStructure &s);

// The built structure's bonds from the file's: a specification per element
// pair, and in a molecule the bonds themselves. A line in the Log.
void ApplyFileBonds(WindowRef window, CrystalRec &c, const FileBondSet &set);
