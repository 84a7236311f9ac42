// Small molecules for the relaxation tests, built as run records.
#pragma once

#include "relax/ForceFieldTerms.h"
#include "relax/MonteCarlo.h"
#include "relax/RelaxData.h"

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace relaxtest {

struct AtomSpec {
  const char *symbol;
  float x, y, z;
  bool fixed = false;
};

struct RecordDeleter {
  void operator()(RelaxMoleculeData *r) const { DisposeRelaxMoleculeData(r); }
};
using RecordPtr = std::unique_ptr<RelaxMoleculeData, RecordDeleter>;

// A record of the atoms with the bonds (pairs of atom indices, entered in
// both atoms' lists in the order given), collecting its output lines.
inline RecordPtr MakeRecord(const std::vector<AtomSpec> &atoms, const std::vector<std::pair<int, int>> &bonds,
                            std::vector<std::string> *lines = nullptr) {
  std::vector<RelaxInputAtom> in(atoms.size());
  for (size_t i = 0; i < atoms.size(); ++i) {
    in[i].element = TwoCharsToShort(atoms[i].symbol);
    in[i].position[0] = atoms[i].x;
    in[i].position[1] = atoms[i].y;
    in[i].position[2] = atoms[i].z;
    in[i].fixed = atoms[i].fixed;
  }
  for (auto [a, b] : bonds) {
    in[a].bonds.push_back(b);
    in[b].bonds.push_back(a);
  }
  RecordPtr record(NewRelaxMoleculeData(nullptr, in, nullptr, 0));
  if (lines)
    record->writeOutput = [lines](RelaxMoleculeData &, const char *text) { lines->push_back(text); };
  return record;
}

// Types the atoms and runs every finder; false when one fails.
inline bool TypeAndFind(RelaxMoleculeData &r) {
  double energy;
  return PrepareRelaxation(r, &energy) == 0;
}

// Staggered ethane: C-C along z, H at 1.09 Å, tetrahedral.
inline std::vector<AtomSpec> Ethane(float twistDegrees = 60.0f) {
  std::vector<AtomSpec> atoms = {{"C ", 0, 0, 0}, {"C ", 0, 0, 1.54f}};
  const float c = 1.09f * 0.3338f, s = 1.09f * 0.9426f;
  for (int k = 0; k < 3; ++k) {
    float a = static_cast<float>(k) * 2.0943951f;
    atoms.push_back({"H ", s * std::cos(a), s * std::sin(a), -c});
  }
  for (int k = 0; k < 3; ++k) {
    float a = static_cast<float>(k) * 2.0943951f + twistDegrees * 0.017453293f;
    atoms.push_back({"H ", s * std::cos(a), s * std::sin(a), 1.54f + c});
  }
  return atoms;
}
inline const std::vector<std::pair<int, int>> kEthaneBonds = {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 5}, {1, 6}, {1, 7}};

} // namespace relaxtest
