// Vectors carried through a rebuild of a structure's atoms. A vector names
// its atom by index, and a rebuild makes every atom afresh: the vectors are
// taken out with their atoms' places and put back on the atoms found at
// those places. The build pipeline keeps them through every build; a
// command that changes the sites, the cell or the atoms before it builds
// keeps them itself from before its first change, and moves their places
// the way it moves the atoms once nothing can stop it any more:
//
//   KeptVectors kept(c);              // before the sites or atoms change
//   ... new sites, new cell ...
//   kept.Move(M, t);                  // x' = M x + t, uvw' = M uvw
//   RunNewCrystal(window, ...);       // puts them back before it draws
//
// A vector whose atom is gone (hidden and left out of a molecule, outside
// the new range with no shown image there) is left out with a Log line.
#pragma once

#include "StructureRecord.h"

#include <cstdint>
#include <functional>
#include <vector>

class KeptVectors {
public:
  // Takes the crystal's vectors out (no atom is left marked as carrying
  // one) with their atoms' fractional positions and elements.
  explicit KeptVectors(CrystalRec &c);
  // Puts back what is still kept: a command that stopped before its build
  // leaves the atoms where they were.
  ~KeptVectors();
  KeptVectors(const KeptVectors &) = delete;
  KeptVectors &operator=(const KeptVectors &) = delete;

  // Moves the kept places into another cell: x' = M x + t for a position,
  // M u for a direction (M row-major).
  void Move(const double M[9], const double t[3]);
  // Moves each kept place and direction in place.
  void MoveEach(const std::function<void(double place[3], float uvw[3])> &move);
  // Puts every vector kept for the crystal (here and in the scopes of the
  // commands around this one) back on the shown atom at its place, or else
  // on a shown atom at a lattice translation of it that no other vector's
  // atom went to (the new plot range may not hold the old place). The rest
  // are left out with a Log line. Answers whether any vector was put back.
  bool PutBack();

private:
  struct Entry {
    VectorRecord vector;
    double place[3] = {0.0, 0.0, 0.0}; // its atom's fractional position
    ElementCode element = kBlankElement;
    uint32_t source = 0; // its atom before the rebuild
    const KeptVectors *scope = nullptr;
  };
  CrystalRec *crystal_;
  std::vector<Entry> kept_;
  int32_t lost_ = 0; // vectors that named no atom when they were taken

  friend void ForgetKeptVectors(const CrystalRec &c);
};

// The structure is going with its window (a build failed): what is kept for
// it is dropped, and nothing is put back into it.
void ForgetKeptVectors(const CrystalRec &c);
