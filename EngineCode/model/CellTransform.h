// Transformations of a crystal's unit cell that keep every atom where it is
// in space: giving up the space-group symmetry (and asking the user's
// consent before an edit of individual atoms has to), shifting the origin,
// supercells, general cell transformations (centring changes, sub-cells,
// supercells) and re-expressing the cell so that a lattice plane holds the
// new a and b axes.
//
// A transformation matrix T is 3x3, row-major: row i is the new basis vector
// i (a', b', c') in components of the old a, b, c. New fractional
// coordinates q are old ones p through q = (T^t)^-1 p; a direction u of the
// old basis has new components (T^t)^-1 u; the new metric tensor is
// G' = T G T^t.
//
// These work on the structure embedded in a structure window and end in the
// build pipeline (BuildPipeline.h), which regenerates and replots. Molecules
// are never handled here.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>
#include <vector>

// Reduces the window's crystal to space group "P 1", keeping every atom of
// the cell: each distinct symmetry copy of each site becomes a site of its
// own (same label), the symmetry cards are dropped, the lattice becomes P
// and the origin choice 0; the crystal is rebuilt without a new view or
// scale, its atoms' visibility and selection are carried over (matched by
// site label and Cartesian position) and the window is replotted.
// Nothing happens to a crystal that already has a single operator. True
// when the crystal has a single operator afterwards; false, with the crystal
// as it was, when the full-cell sites cannot be made, and false when the
// rebuild stopped (the window may then be closed: do not touch it again).
bool DiscardSymmetry(WindowRef window);

// Whether an edit of individual atoms of the window's structure may go on:
// false without a structure (no record or no sites) and for a molecule; true
// at once for a crystal that already has P 1 symmetry; otherwise the user is
// asked (caution alert: the localized texts "Request_Discard_Symmetry" and
// "Request_Discard_Symmetry_2", buttons "Continue" and "Cancel"). On
// Continue the symmetry is discarded (`DiscardSymmetry`) and the answer is
// whether that succeeded; Cancel answers false and changes nothing.
bool UserAgreesToDiscardSymmetry(WindowRef window);
// The question alone, for a command whose sheet comes first: true for a
// crystal with P 1 symmetry or when the user chose Continue; the symmetry
// stays until the command discards it.
bool UserWouldDiscardSymmetry(WindowRef window);

// Installs `UserAgreesToDiscardSymmetry` as the consent that turning only the
// selected atoms of a crystal asks for (ViewOrientation.h). Start-up calls it
// once; until then a crystal that is not P 1 is never turned in parts.
void InstallDiscardSymmetryConsent();

// ---- Presets and lattices ----------------------------------------------------------

// A cell transformation: rows are the new basis vectors in the old basis.
struct CellTransformation {
  float m[9];
};
// From the primitive basis to the centred cell of each letter.
extern const CellTransformation kCellTransformationNone;
extern const CellTransformation kCellTransformationP2A;
extern const CellTransformation kCellTransformationP2B;
extern const CellTransformation kCellTransformationP2C;
extern const CellTransformation kCellTransformationP2I;
extern const CellTransformation kCellTransformationP2F;
extern const CellTransformation kCellTransformationP2R;

// Lattice points per cell: P 1; A, B, C, I 2; R 3; F 4; 0 for any other letter.
int LatticePointsPerCell(char letter);

// One row of the table that detects the centring of a transformed cell.
struct CentringTest {
  char letter;
  float translations[3][3];
  int count;
};
// I, A, B, C, F, R in this order.
inline constexpr int kCentringTestCount = 6;
extern const CentringTest kCentringTests[kCentringTestCount];

// The primitive basis in terms of the centred cell of the letter (the
// inverse of its preset); the identity for P; false for another letter.
bool GetPrimitiveLatticeTransformationMatrix(char letter, float T[9]);
// The matrix from a cell of lattice `from` to one of lattice `to`: the
// identity when they are equal, else (the preset of `to`) x (primitive of
// `from`). False for a letter that is not P, A, B, C, I, F or R.
bool GetLatticeTransformationMatrix(char from, char to, float T[9]);
// Whether T may be applied to a cell of this lattice: det T above 1 must be
// whole; det T in (0, 1] must give a whole number of lattice points
// (det x points per cell); a determinant not above 0 and an unknown letter
// are refused. Whole means within 1e-5.
bool VerifyLatticeTransformationMatrix(char letter, const float T[9]);

// The largest |h|, |k|, |l| the projection accepts: the search grid holds
// (2m + 1)^3 points per centring translation.
inline constexpr int kMaxProjectionIndex = 24;
// A lattice vector lies in the plane (h k l) when |h u + k v + l w| is below this.
inline constexpr double kInPlaneTolerance = 1e-7;
// Candidate third axes need a determinant above this; volumes within it are equal.
inline constexpr float kProjectionVolumeTolerance = 0.001f;
// The starting volume of the search for the third axis.
inline constexpr float kProjectionStartVolume = 999.0f;
// A matrix whose new a and b are the two shortest non-parallel lattice
// vectors of the plane (h k l) and whose c is the lattice vector giving the
// smallest positive cell volume (of those, the one closest to the plane's
// normal). The lattice points searched are t + (u, v, w) for every centring
// translation t of the letter and u, v, w in [-m, m], m the largest of |h|,
// |k|, |l|. False (diagnostics on standard error) for indices all zero or
// beyond kMaxProjectionIndex, when no such vectors exist, or when
// `VerifyLatticeTransformationMatrix` refuses the result.
bool GetProjectionTransformationMatrix(char letter, int h, int k, int l, float T[9]);
// Order of lattice vectors by the plain sum of squares of their components:
// -1, 1 or 0.
int CompareLatticePointsByDistance(const float p[3], const float q[3]);

// The screen's vertical (0, 1, 0) in fractional components: the inverse of
// the orientation matrix times it. Zero when the matrix is singular.
void GetCrystalVerticalDirection(const CrystalRec &crystal, float v[3]);

// ---- The transformations of a window's crystal --------------------------------------

// Shifts the origin by a fractional vector, its whole cells left out
// (`ReduceOriginShift`): the origin shift gains it (the sum reduced the
// same way), every site loses it (wrapped into the cell with
// `MoveIntoCell`), so does the plot range; the crystal is rebuilt and the
// window marked modified.
void MoveOrigin(WindowRef window, float dx, float dy, float dz);

// Site coordinates of the supercell: per old site, in order, na x nb x nc
// copies (k innermost) at (x + i)/na, (y + j)/nb, (z + k)/nc, visible;
// coordinate esds divided by the multiples when `esds`; a tensor of
// displacement type 3 divided element-wise by n_m n_n. Empty for a factor
// below 1.
std::vector<AsymmetricUnitRecord> MakeSupercellSites(const std::vector<AsymmetricUnitRecord> &sites, int32_t na,
                                                     int32_t nb, int32_t nc, bool esds);
// Makes the crystal a supercell of na x nb x nc cells. Each factor must be
// at least 1 (otherwise nothing happens); the symmetry is discarded first;
// a, b, c (and their esds) and the orientation's columns are multiplied, so
// the picture does not turn; plot range one cell; rebuilt, recentred and
// rescaled. False when nothing was made.
bool DefineSupercell(WindowRef window, int32_t na, int32_t nb, int32_t nc);

// An image belongs to the new cell when every coordinate lies within
// [-tolerance, 1 + tolerance]. Single-precision input needs more room than
// the machine epsilon: images at a cell edge come out a few 1e-7 outside it.
inline constexpr double kTransformInsideTolerance = 1e-5;
// Sites of the detected centring match within this on every axis, modulo 1.
inline constexpr double kCentringMatchTolerance = 1e-5;

// The sites of the cell T makes from a P 1 cell with these sites, at most
// `expected` of them, in order: for each old site, each image p + (a, b, c)
// of the search box [lo, hi] (per axis, c innermost) inside the new cell
// that is no duplicate of an earlier site with the same first element.
// Tensors of displacement type 3 become (T^t)^-1 U T^-1; those of type 2,
// which refer to axes scaled by the reciprocal lengths of the old cell (of
// metric tensor G) and of the new one, are transformed in the same way
// between those scalings. Sites with type 2 tensors need G; without it they
// are refused (nothing is made). Nothing for a G that makes no cell. Linear
// in the number of sites made (duplicates are found through a coordinate
// grid).
std::vector<AsymmetricUnitRecord> TransformCellSites(const std::vector<AsymmetricUnitRecord> &sites, const float T[9],
                                                     int64_t expected, const float *G = nullptr);
// The lattice letter whose centring translations (table `kCentringTests`)
// pair every site with another of the same label and occupancies; the row
// with the most translations wins, the first in the table on a tie; 'P'
// when none does or there are fewer than two sites.
char DetectLatticeType(const std::vector<AsymmetricUnitRecord> &sites);

// Applies T to the window's crystal (see the .cpp for the steps). T must
// have a positive determinant. The transformation and its inverse go to the
// Log; the symmetry is discarded, the new sites made and lattice detected,
// and only then the cell, sites and orientation are replaced together; the
// crystal is rebuilt and the window marked modified. False when nothing
// changed beyond discarding the symmetry.
bool TransformCell(WindowRef window, const float T[9]);
// Re-expresses the cell so that (h k l) holds the new a and b. An R lattice
// on rhombohedral axes counts as P. "Error getting projection matrix" in
// the Log when no matrix results.
bool ProjectCell(WindowRef window, int h, int k, int l);
