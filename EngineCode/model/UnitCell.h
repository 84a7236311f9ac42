// Generation of the unit cell from the asymmetric unit.
//
// A crystal's atoms come from its sites put through every operator of its
// space group: the operator list is the structure's symmetry cards (or, with
// no cards, the group's own operators from the table) times the centring
// translations of its lattice. Each image is wrapped into the cell, and an
// image that falls on an earlier image of the same site is dropped, so a site
// on a special position makes fewer atoms.
//
// The operators act about the structure's origin shift o: an operator
// (R, t) takes x to R(x + o) + t - o.
//
// Coincidence: two fractional positions are the same place when, for every
// component, they differ by less than kSymmetryTolerance modulo 1 (the
// difference d, or 1 - d). Wrapping (`MoveIntoCell`) snaps values within
// 0.00001 of a cell edge to exactly 0.
//
// The build runs `RemoveSymmetryRelatedSites` (a site that is a symmetry copy
// of an earlier one goes), then `GenCell`, then tiles the cell over the plot
// range (StructureArrays.h).
#pragma once

#include "Geometry.h"
#include "StructureRecord.h"
#include "SymmetryCards.h"

#include <cstdint>
#include <optional>
#include <vector>

// Two symmetry images coincide when every component differs by less than
// this, modulo 1.
inline constexpr float kSymmetryTolerance = 0.00011f;
// `MoveIntoCell` turns a wrapped value above the upper or below the lower
// limit into exactly 0 (compared in double).
inline constexpr double kCellEdgeSnapHigh = 0.99999;
inline constexpr double kCellEdgeSnapLow = 0.00001;

// ---- Wrapping and coincidence ------------------------------------------------

// A fractional coordinate wrapped into [0, 1): a value above 1 loses its
// whole part, a negative value loses its whole part and gains 1, and a result
// above 0.99999 or below 0.00001 becomes 0. So 1.0, -1.0, 0.999995 and
// 0.000004 all give 0. A value that is not finite gives 0.
float MoveIntoCell(float x);
// `MoveIntoCell` of each component; out may be in.
void MoveVectorIntoCell(float out[3], const float in[3]);

// True when two wrapped positions are the same place: `SamePlace` in single
// precision (FractionalPlaces.h), which the build's own comparisons call.
bool PositionsCoincide(const float a[3], const float b[3]);

// ---- Origin shift -------------------------------------------------------------
// A shift moved by whole cells gives the same structure: the rotations are
// integral, so the images move by whole cells too. Every path by which a
// shift enters or is added (the operators, Move Origin, the editors, the
// text format) brings it here.

// A component of the origin shift as it is kept: within a cell
// (|shift| < 1) it stays as given, bit for bit (-0.25 stays -0.25); a larger
// one loses its whole cells, in double precision before the rounding to
// float, so that its fraction is not lost to its magnitude (100000.3 gives
// 0.3, 4000 gives 0). A value that is not finite gives 0.
float ReduceOriginShift(double shift);

// The image of x under the operator about the origin shift o, per component
// sum_j R_ij (x_j + o_j) + t_i - o_i, not wrapped; o is taken reduced
// (`ReduceOriginShift`), which changes the image by whole cells at most.
void ApplySymmetryOperator(const GEP &op, const float xyz[3], const float originShift[3], double out[3]);

// ---- Operators --------------------------------------------------------------

// Fills the structure's card slots from its space group and answers how many
// cards the group has; the card count stays as it was (0), so the operators
// come from the table each time. Sets the lattice letter. With no symbol at
// all the caution alert "No spacegroup symbol or symmetry cards defined."
// says "Spacegroup 'P 1' assumed." and the symbol becomes "P 1".
int32_t GetSymcardsFromSpacegroup(CrystalRec *crystal);

// The structure's operator list: every card (its own, or the group's when the
// card count is 0) once per centring vector of its lattice letter (P for an R
// lattice on rhombohedral axes), card-major, the zero vector first; each
// entry's translation is the card's plus the centring vector, not wrapped.
// Nothing (and *count 0) when the list cannot be made.
std::optional<std::vector<GEP>> GetCrystalGEPs(CrystalRec *crystal, int32_t *count);

// The same list, asked of a structure that is only read: nothing is written
// to it and no alert is shown (no symbol, or one the table does not know,
// gives P 1's operator).
std::optional<std::vector<GEP>> CrystalOperators(const CrystalRec &crystal, int32_t *count);

// ---- Cell generation ---------------------------------------------------------

// Replaces the atoms with those of one unit cell: for each site in order, its
// images under the operator list in list order, wrapped into the cell, those
// that coincide with an earlier image of the same site dropped. Each site's
// first atom, last atom and atoms per cell, and the structure's atom count and
// atoms per cell, are set; every atom is visible. With ellipsoid data each
// atom's three axis end points are the site's end points put through the same
// operator and the same wrap, so they move with the atom.
// False, with no atoms left, when there are no sites, no operators or no
// memory.
bool GenCell(CrystalRec *crystal);

// Removes every site that is a symmetry copy of an earlier site with the same
// elements and occupancies (sites of two different groups of one disorder
// assembly are alternatives, never copies): the first site of each class
// stays, in its place, and the later sites close up. Nothing happens with a single operator or
// fewer than two sites.
void RemoveSymmetryRelatedSites(CrystalRec *crystal);

// The number of distinct images of a point under the structure's operators.
// The point is first brought into [0, 1) by whole cells and written back.
// False only when the scratch list cannot be made.
bool GetSiteMultiplicity(CrystalRec *crystal, float xyz[3], int32_t *multiplicity);

// The sites of the whole cell: per site, one copy per distinct image, with
// coordinates reduced to their fractional part (sign kept), first and last
// atom its new index and one atom per cell; with ellipsoid data the tensor
// is turned with the operator (R U R^T). Nothing (and *count 0) without
// sites or memory.
std::optional<std::vector<AsymmetricUnitRecord>> GenCellAU(CrystalRec *crystal, int32_t *count);

// ---- Images of one atom ---------------------------------------------------------

// Images of one site closer than this share of twice its element's covalent
// radius are places of one atom (no bond is that short: H 0.43 A), as where
// a file puts a hydrogen beside a three-fold axis and gives no occupancy.
inline constexpr double kOneAtomImagesFactor = 0.7;
// The places of one atom may hold this much more than one atom between them
// (occupancies rounded up) before the occupancy is divided.
inline constexpr double kOneAtomOccupancySlack = 0.01;

// Where a file gives a site no occupancy, images of the site closer than
// kOneAtomImagesFactor times twice its covalent radius are places of one
// atom (a hydrogen written beside a three-fold axis): when they would hold
// more than one atom between them, the site's occupancy is divided among
// them, so that each is drawn as a share of the atom, the formula counts
// one, and the images are alternatives of each other (BondSearch.h), counted
// once in coordination. Answers how many places it divided the occupancy
// among, 1 when it left it as it was. `ops` is the structure's operator list
// (CrystalOperators), made once for all its sites.
int32_t ShareOccupancyAmongCloseImages(CrystalRec *crystal, size_t site, std::span<const GEP> ops);

// ---- Cell validity -----------------------------------------------------------

// `CellIsValid`, telling the user with a caution alert when the cell is
// refused: "The unit cell is not valid." with the cell in the explanation.
bool CheckCellIsValid(const CrystalRec *crystal);
