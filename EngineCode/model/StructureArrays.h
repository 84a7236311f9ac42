// Operations on the structure record and the arrays it owns.
//
// Every array of a CrystalRec follows one discipline: a dense, ordered array
// whose count is kept in the record; records are added one at a time at the
// end as copies of a blank template (Preferences.h); a record is deleted by
// closing the gap, keeping order, and renumbering every index that pointed
// past it. Each kind has the same family of operations: an accessor that
// answers the array or none, a creator, an append of one blank record, an
// ordered delete, a resize and a destroy.
//
// Accessors answer a pointer to the first record, or nullptr for an absent
// record or an empty array; counts are read from the record. Creators answer
// a new array (std::nullopt when it cannot be made) that the caller installs
// with its count. Every operation ignores an absent record.
#pragma once

#include "StructureRecord.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// ---- Program-wide flags cleared with a structure ----------------------------
extern uint8_t gOVPrinting;    // set by the printing code while a page is drawn
extern uint8_t gTrackBallRotn; // set around interactive plots (fast path)

// ---- Limits and tolerances ----------------------------------------------------

// No array is made larger than this many records: beyond it a structure
// would need gigabytes, and the request is refused as exhausted memory.
inline constexpr int64_t kMaxArrayRecords = 20'000'000;

// A saved visible atom matches a regenerated one when every Cartesian
// coordinate differs by at most this (Angstrom).
inline constexpr float kVisibilityTolerance = 0.0001f;
// Two atom types have the same radius when the radii differ by less than
// this (Angstrom). Radii are shown and typed to two decimals, so a
// difference that is 0.01 in decimal must not merge, even when the single
// precision values come out a hair below it: the slack absorbs that rounding.
inline constexpr double kSphereRadiusTolerance = 0.01;
inline constexpr double kSphereRadiusSlack = 1e-5;
// A wanted radius finds an atom type whose radius is within this of it,
// the bound included (Angstrom).
inline constexpr float kSphereMatchTolerance = 0.01f;
// Occupancies of two sites agree when they differ by at most this.
inline constexpr float kOccupancyTolerance = 0.0001f;
// The polyhedron display mode that forms a class of its own when atom types
// are merged.
inline constexpr uint32_t kPolyModeOwnClass = 12;

// ---- The structure record ----------------------------------------------------

// A new heap record set up by InitBlankCrystalRec; nullptr without memory.
CrystalRec *CreateCrystalData();
// Frees a record made by CreateCrystalData.
void DestroyCrystalData(CrystalRec *crystal);
// Makes the record an empty structure: every field takes its blank value (no
// arrays, all counts 0, "P 1", lattice P, cell 10 10 10 90 90 90, ...), then
// the display settings are copied from gPrefs.
void InitBlankCrystalRec(CrystalRec *crystal);
// Empties a structure: clears gOVPrinting and gTrackBallRotn, destroys every
// array, drops the background picture, then InitBlankCrystalRec.
void ClearCrystalRec(CrystalRec *crystal);
// Deletes every bond specification that names an element no atom type has,
// keeping the order of the rest. Nothing when there are no atom types.
void PurgeUnusedBondSpecs(CrystalRec *crystal);
// What is wrong with the record's arrays, or empty when nothing is: every
// count equals its array's length (the inline tables' counts lie within
// them), and every stored index (an atom's site, atom type and bonds, a
// polyhedron's vertices, a custom bond's atoms, a vector's atom, a cell
// point's links, a sort entry) points at a record that exists.
std::string CheckCrystalInvariants(const CrystalRec &crystal);
// The element code with a second character below 32 made a blank.
ElementCode CheckElementSymbol(ElementCode code);

// ---- Sites ---------------------------------------------------------------------
AsymmetricUnitRecord *GetCrystalAsymmetricUnit(CrystalRec *crystal);
// n copies of gBlankAU; alert "No Memory" when it cannot be made.
std::optional<std::vector<AsymmetricUnitRecord>> CreateAsymmetricUnit(int32_t n);
// Deletes a crystal's site with its atoms, renumbering atoms, bonds,
// polyhedra, vectors and sites; then purges unused atom types and bond
// specifications. Answers the new site array.
AsymmetricUnitRecord *DestroyAsymmetricUnitIndex(CrystalRec *crystal, int32_t site);
// Resizes the site array to n (n below 1: nothing), keeping the first sites
// and appending blank ones. Answers the new array, nullptr on failure (the
// old array is kept).
AsymmetricUnitRecord *RedimensionAsymmetricUnit(CrystalRec *crystal, int32_t n);
void DestroyAsymmetricUnit(CrystalRec *crystal);
void ClearAsymmetricUnitRecord(AsymmetricUnitRecord *site);

// ---- Atoms ---------------------------------------------------------------------
AtomRecord *GetCrystalAtomsArray(CrystalRec *crystal);
// nPerCell x na x nb x nc copies of gBlankAtom (nPerCell alone when any of
// na, nb, nc is not positive). The size is computed in 64 bits; a negative
// or oversized request is refused with the alert "No Memory for atoms".
std::optional<std::vector<AtomRecord>> CreateAtomsArray(int32_t nPerCell, int32_t na, int32_t nb, int32_t nc);
// Deletes a molecule's atom and its site (same index), renumbering every
// reference. Answers the new atoms array.
AtomRecord *DestroyAtomIndex(CrystalRec *crystal, int32_t atom);
// Regrows the atoms to na x nb x nc cells from the first cell. 0, or -1 when
// a count is below 1, there are no sites, or the first cell cannot be had.
int RedimensionAtomsArray(CrystalRec *crystal, int32_t na, int32_t nb, int32_t nc);
void DestroyAtomsArray(CrystalRec *crystal);
// Frees the atom's polyhedron and bonds list and copies gBlankAtom over it.
void ClearAtomRecord(AtomRecord *atom);
// A copy of the atoms that owns nothing: no bonds lists, no polyhedra.
std::vector<AtomRecord> CopyAtomsArrayForCrystal(const CrystalRec *crystal);

// Moves the atom into another cell: the cell's offsets added to its
// fractional coordinates, and to its ellipsoid axis points when asked.
void MoveAtomByCell(AtomRecord &atom, const float cell[3], bool ellipsoids);
// Tiles the first-cell atoms over na x nb x nc cells into dest, which must
// hold nPerCell x na x nb x nc records: each run of atoms of one site is
// copied once per cell, c outermost and a innermost, the cell offsets added
// to the fractional coordinates (and to the ellipsoid axis points when asked).
// False, and nothing written, when the sizes do not agree.
bool TileUnitCellContents(std::span<const AtomRecord> firstCell, std::span<AtomRecord> dest, int32_t nPerCell,
                          int32_t na, int32_t nb, int32_t nc, bool ellipsoids);
// The first cell: per site, its atoms-per-cell atoms from its first atom,
// reset to the site's atom type, visible, without flags, polyhedron or bonds.
std::optional<std::vector<AtomRecord>> ExtractFirstUnitCell(const CrystalRec *crystal);
// The first-cell record of an atom of the site, as ExtractFirstUnitCell makes
// it.
AtomRecord FirstCellAtom(const AtomRecord &src, const AsymmetricUnitRecord &site);
// One site's atoms of the first cell where the atoms hold them, to be read
// through FirstCellAtom.
struct HeldFirstCellRun {
  std::span<const AtomRecord> atoms;
  const AsymmetricUnitRecord *site = nullptr;
};
// The first cell read where the atoms hold it, instead of copied: a run for
// each site with atoms in the cell, sites in order, which is the sequence
// ExtractFirstUnitCell copies. None when the atoms have no first cell, or an
// atom of a site's run names another site (the copy then tells the runs of
// one site apart by the atoms' sites alone).
std::optional<std::vector<HeldFirstCellRun>> HeldFirstCellRuns(const CrystalRec &c);
// Whether the atoms are the first cell itself: each site's atoms-per-cell
// atoms, sites in order, and no more.
bool AtomsAreFirstUnitCell(const CrystalRec &c);
// Whether atom k carries something CopyAtomAttributesToCrystal would carry
// over: a flag, a vector, or a type of its own among its site's atoms (the
// atom before it is read). Inline: a regrowth asks it of every atom.
inline bool AtomHasAttributesToCopy(const AtomRecord *atoms, int32_t k) {
  const AtomRecord &a = atoms[k];
  if (a.selected || a.labelled || a.hasVector)
    return true;
  return k > 0 && atoms[k - 1].site == a.site && atoms[k - 1].atomType != a.atomType;
}
// Whether any of the atoms has something CopyAtomAttributesToCrystal would
// carry over.
bool AnyAtomAttributesToCopy(const AtomRecord *atoms, int32_t count);
// After a regrowth: carries the selected and labelled flags, atom types and
// vectors of old atoms over to the new atoms at the same places.
void CopyAtomAttributesToCrystal(const AtomRecord *oldAtoms, int32_t oldCount, CrystalRec *crystal);
// One entry per visible atom (site label, Cartesian position, selected).
std::vector<AtomVisibilityEntry> SaveAtomsVisibilityAndSelection(const CrystalRec *crystal, int32_t *count);
// Each visible atom takes the selected flag of the first unused entry with
// its label at its place; a visible atom without one is hidden. The saved
// entries are consumed.
void RestoreAtomsVisibilityAndSelection(CrystalRec *crystal, std::vector<AtomVisibilityEntry> &saved, int32_t count);

// ---- Atom types ------------------------------------------------------------------
SphereRecord *GetCrystalSpheresArray(CrystalRec *crystal);
// n copies of gBlankSphere; none for n below 1.
std::optional<std::vector<SphereRecord>> CreateSpheresArray(int32_t n);
// Each AppendBlank… adds one copy of its blank record at the end of the array
// and answers that new record (its index is the old count); nullptr, with the
// array and count unchanged, when the array cannot grow. The pointer lasts
// until the array next changes size.
SphereRecord *AppendBlankSphere(CrystalRec *crystal);
// Deletes atom type i (its images go) and lowers every site's and atom's
// atom type above i by one.
SphereRecord *DestroySphereIndex(CrystalRec *crystal, int32_t index);
void DestroySpheresArray(CrystalRec *crystal);
void ClearSphereRecord(SphereRecord *sphere);
// Releases the atom type's two images and masks.
void DisposeSpherePixels(SphereRecord *sphere);

bool SameSphereProperties(const CrystalRec *crystal, int32_t i, int32_t j);
void RemoveDuplicateSpheres(CrystalRec *crystal);
bool FindMatchingSphere(const CrystalRec *crystal, ElementCode element, uint32_t style, uint32_t polyMode,
                        const RGBColor &colour, float radius, int32_t *index);
void PurgeCustomSpheres(CrystalRec *crystal);
void PurgeUnusedAtomSpheres(CrystalRec *crystal);

// ---- Custom bond specifications --------------------------------------------------
CustomBondSpec *GetCrystalCustomBondSpecsArray(CrystalRec *crystal);
std::optional<std::vector<CustomBondSpec>> CreateCustomBondSpecsArray(int32_t n);
CustomBondSpec *AppendBlankCustomBondSpec(CrystalRec *crystal);
CustomBondSpec *DestroyCustomBondSpecIndex(CrystalRec *crystal, int32_t index);
void DestroyCustomBondSpecsArray(CrystalRec *crystal);

// ---- Cell points -------------------------------------------------------------------
CellPoint *GetCrystalCellPoints(CrystalRec *crystal);
std::optional<std::vector<CellPoint>> CreateCellPoints(int32_t n);
void DestroyCellPts(CrystalRec *crystal);

// ---- Depth-sort index -----------------------------------------------------------
SortIndexEntry *GetCrystalSortIndex(CrystalRec *crystal, int32_t *count);
std::optional<std::vector<SortIndexEntry>> CreateSortIndex(int32_t n);
void DestroySortIndex(CrystalRec *crystal);
// The position of the first entry whose item index is item; false when none.
bool GetAtomSortIndexEntry(const CrystalRec *crystal, uint32_t item, int32_t *position);
// The Cartesian coordinates of an entry's atom or cell point; nullptr for a
// position, kind or item out of range.
const float *GetCrystalSortIndexCoords(const CrystalRec *crystal, int32_t position);

// ---- Vectors -------------------------------------------------------------------------
VectorRecord *GetCrystalVectorsArray(CrystalRec *crystal);
std::optional<std::vector<VectorRecord>> CreateVectorsArray(int32_t n);
VectorRecord *AppendBlankVector(CrystalRec *crystal);
VectorRecord *DestroyVectorIndex(CrystalRec *crystal, int32_t index);
// Destroys the vectors and clears every atom's has-vector flag.
void DestroyVectorsArray(CrystalRec *crystal);
void ClearVectorRecord(VectorRecord *vector);

// ---- Annotation objects ---------------------------------------------------------------
TextBoxRecord *GetCrystalTextBoxesArray(CrystalRec *crystal);
std::optional<std::vector<TextBoxRecord>> CreateTextBoxesArray(int32_t n);
TextBoxRecord *AppendBlankTextBox(CrystalRec *crystal);
TextBoxRecord *DestroyTextBoxIndex(CrystalRec *crystal, int32_t index);
void DestroyTextBoxesArray(CrystalRec *crystal);
void ClearTextBoxRecord(TextBoxRecord *box);

// ---- Voxels (a slot that nothing fills) ------------------------------------------------
VoxelRecord *GetCrystalVoxelsArray(CrystalRec *crystal);
std::optional<std::vector<VoxelRecord>> CreateVoxelsArray(int32_t n);
void DestroyCrystalVoxelsArray(CrystalRec *crystal);

// ---- Bonds lists -------------------------------------------------------------------------
// n entries; none for n = 0.
std::optional<std::vector<uint32_t>> CreateBondsList(uint32_t n);
// Appends j unless it is there already. False only without memory.
bool AddAtomToBondsList(AtomRecord *atom, uint32_t j);
// Removes the first occurrence of j; nothing when it is absent.
void RemoveAtomFromBondsList(AtomRecord *atom, uint32_t j);
// Records a bond between atoms |i| and |j| in both lists; for a molecule the
// two sites' coordination numbers become their atoms' bond counts. False for
// an index out of range, an atom bonded to itself, or without memory.
bool AddBondListEntry(CrystalRec *crystal, int32_t i, int32_t j);
// Removes the bond in both directions; true when either list held it.
bool DeleteBondListEntry(CrystalRec *crystal, int32_t i, int32_t j);
void DestroyBondsListForAtom(AtomRecord *atom);
// Whether the site is drawn as bonded: it has a coordination number, or,
// where none was counted (a bond maximum reaching too far to count, bonds
// made by hand), one of its atoms has a bond.
bool SiteIsBonded(const CrystalRec &crystal, size_t site);

// ---- Polyhedra ------------------------------------------------------------------------------
// A cleared polyhedron with the face count and one empty slot per face.
std::optional<Polyhedron> CreatePolyhedron(uint32_t faces);
void DestroyPolyhedron(HeldPolyhedron &polyhedron);

// ---- Selection and counts ---------------------------------------------------------------
bool CrystalHasSelectedAtoms(const CrystalRec *crystal);
int32_t CountNumSelectedAtoms(const CrystalRec *crystal);
void SetCrystalAtomSelected(CrystalRec *crystal, int32_t atom, uint8_t flag);
void SetCrystalAtomSelectionNone(CrystalRec *crystal);
bool CrystalHasSelectedVectors(const CrystalRec *crystal);
int32_t CountNumSelectedVectors(const CrystalRec *crystal);
bool CrystalHasSelectedTextBoxes(const CrystalRec *crystal);
int32_t CountNumSelectedTextBoxes(const CrystalRec *crystal);
bool CrystalHasSelectedObjects(const CrystalRec *crystal);
// Distinct first elements of an element-sorted site array, counted as
// changes between neighbours.
int32_t CountNumElementsSorted(const CrystalRec *crystal);
int32_t CountNumElementsUnsorted(const CrystalRec *crystal);
// True when the first element codes, as signed 16-bit values, never decrease.
bool IsAsymmetricUnitSortedByElement(const CrystalRec *crystal);
// The distinct first element codes of a sorted site array in site order,
// blank codes skipped.
std::vector<ElementCode> GetCrystalElementsArray(const CrystalRec *crystal, int32_t *count);
bool SitesHaveSameOccupancy(const AsymmetricUnitRecord &a, const AsymmetricUnitRecord &b);

// ---- Failure that ends the program --------------------------------------------------------
// "Sorry, unable to copy a resource", then the program ends.
[[noreturn]] void ShowResourceErr();
