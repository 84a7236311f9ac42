// A coordination polyhedron round the centroid of the selected atoms: a new
// site (of a dummy or real element) at the centroid, with its symmetry
// images in a crystal, bonded to the selected atoms so that the polyhedron
// engine draws them as its vertices. The new site goes in element order and
// every stored atom index behind it moves on. Main thread only.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>
#include <string>

// The remembered choices, for the rest of the run.
extern std::string gCentroidLabel;  // "Cen01"
extern std::string gCentroidSymbol; // "Zz"
extern bool gShowSymmetryRelatedAtoms;
extern int32_t gBondGenerationChoice; // 1 new bond specifications, 2 bonds and their images, 3 bonds only

// Site labels of the new site are cut to this many characters.
inline constexpr size_t kCentroidLabelLength = 6;
// An atom this close to the centroid on every axis is already there (Angstrom).
inline constexpr float kCentroidOccupiedTolerance = 0.1f;
// The generated image within this of the centroid on every axis is its atom.
inline constexpr float kCentroidAtomTolerance = 0.00011f;
// Equivalent bonds match the first bond's length within this (Angstrom).
inline constexpr float kEquivalentBondTolerance = 0.001f;
// New bond specifications are widened by this on both sides.
inline constexpr float kBondSpecMargin = 0.001f;

// True when some atom lies within kCentroidOccupiedTolerance of the point on each axis.
bool AtomExistsAtPoint(const CrystalRec &crystal, const float cartesian[3]);

// Bonds every other pair (p of i's site, q of j's site) whose distance is
// that of i and j within kEquivalentBondTolerance. Answers how many pairs
// were bonded.
int64_t GenerateEquivalentBonds(CrystalRec &crystal, int32_t i, int32_t j);

// Makes the site and its bonds. False, after the stop alert, when nothing
// changed; the label is cut and the four choices remembered in any case.
bool DoMakePolyhedronFromSelection(WindowRef window, const std::string &label, const std::string &symbol,
                                   bool showSymmetryRelated, int32_t bondChoice);
