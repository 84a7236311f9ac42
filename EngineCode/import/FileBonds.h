// A file's own bonds (CONECT records, a bond table, ...): measured as read,
// before the build, then made into the structure's bond specifications.
//
// A file may give bonds for some atoms only: a PDB file's CONECT records
// name the hetero groups and the disulfides, and the bonds of the standard
// residues are implied. In such a format (ImportedStructure's
// bondsBesideImplied) every pair with an atom the file's bonds do not reach
// is judged by the automatic rule (AutoBonds.h), and the file's bonds are
// kept as they are. Elsewhere the file's bonds are the whole rule: a
// connection table (MOL, Chem3D, CSSR, a LAMMPS data file) leaves an atom
// it gives no bond, an ion say, unbonded.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"
#include "import/ImportTypes.h"

#include <map>
#include <utility>
#include <vector>

struct FileBondSet {
  std::vector<FileBond> bonds; // those between two distinct sites of the file
  std::vector<float> lengths;  // A, of each of those, as the file places its two sites
  // The shortest and longest bond (A) of each element pair, lower code first.
  std::map<std::pair<ElementCode, ElementCode>, std::pair<double, double>> pairs;
  // Per site of the file: 1 where some bond names it; empty where the
  // file's bonds are the whole rule.
  std::vector<uint8_t> reached;
};

// The bonds of a structure as read, with their lengths in one frame of its
// cell (a bond may cross a wall). A bond longer than twice the automatic
// rule's limit for its element pair (AutoBondPairLimit) is left out, with a
// warning naming its line.
FileBondSet MeasureFileBonds(ImportedStructure &s);

// The bonds of a built structure whose file gives no bond specifications:
// - no file bonds: the automatic search;
// - file bonds that are the whole rule, or reach every site: a specification
//   per element pair, and in a molecule the bonds themselves;
// - file bonds beside implied ones that leave some sites unreached: the
//   automatic search over every pair but
//   those of two reached sites, the file's specifications merged into its
//   own (their maxima widen the automatic ones), and in a molecule the file's
//   bonds added to those found.
// A line in the Log says which.
void SettleImportedBonds(WindowRef window, CrystalRec &c, const FileBondSet &set);
