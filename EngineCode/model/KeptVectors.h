// Vectors carried through a command that builds a crystal's atoms afresh
// (symmetry discarded, origin moved, cell transformed, molecule made a
// crystal). A vector names its atom by index, and a rebuild renumbers every
// atom: the vectors are taken out with their atoms' fractional positions,
// moved into the new cell with the command's transformation, and put back
// on the atoms found there.
//
//   std::vector<KeptVector> kept = TakeVectors(c);
//   ... new sites, new cell, RunNewCrystal ...
//   MoveTakenVectors(kept, M, t);       // x' = M x + t, uvw' = M uvw
//   if (PutBackVectors(c, kept)) PlotCrystal(window, kPlotToWindow);
#pragma once

#include "StructureRecord.h"

#include <cstdint>
#include <vector>

struct KeptVector {
  VectorRecord vector;
  double anchor[3] = {0.0, 0.0, 0.0}; // its atom's fractional position
  ElementCode element = kBlankElement; // its atom's element
};

// Takes the crystal's vectors out (none is left, no atom is marked as
// carrying one) with their atoms' positions; a vector on no atom is dropped.
std::vector<KeptVector> TakeVectors(CrystalRec &c);
// Moves the positions and directions into another cell: x' = M x + t for a
// position, M u for a direction (M row-major).
void MoveTakenVectors(std::vector<KeptVector> &kept, const double M[9], const double t[3]);
// Puts each vector back on the atom of its element at its position, or else
// on one at a lattice translation of it (the new plot range may not hold
// the old place). A vector that finds no atom is left out, with a Log line.
// Answers whether any vector was put back.
bool PutBackVectors(CrystalRec &c, std::vector<KeptVector> &kept);
