// Bond search: the bonds lists of a structure's atoms and the coordination
// numbers of its sites, found from the bond specifications.
//
// A bond specification names an element pair with a minimum and a maximum
// length; two atoms are bonded when their elements match the pair (in either
// order) and min² <= d² <= max², both ends included, distances compared
// squared in single precision.
//
// The machinery is shared with the automatic bond search, the Distance
// Explorer and the bond diagnostics (AutoBonds.h, BondDiagnostics.h). Each
// search owns its candidates and their index (CandidateIndex), a local
// object that nobody else sees:
//
//   list = TurboIndexElements(crystal);              once per search
//   CandidateIndex index;
//   per specification (or per pass):
//     index.GetIndexedAtoms(...) or index.ExtendCellRange(...)
//     index.SortByX();
//     for each query point: n = index.BoxAtoms(p, d);  hits in index.Boxed()[0..n)
//
// `BoxAtoms(p, d)` answers exactly the candidates whose three Cartesian
// coordinates lie in the closed cube [p - d, p + d] (the bounds computed in
// single precision), in ascending x rank. The x rank orders candidates by
// ascending x and, among equal x, by ascending position among the candidates
// (so by ascending atom index for GetIndexedAtoms, and in generation order
// for ExtendCellRange). The query runs on a uniform grid, so its cost follows
// the number of candidates near the cube, whatever the structure's shape.
// Candidates or query points with a coordinate that is not finite are never
// returned. The cube is a superset of the sphere: callers apply the exact
// distance test to each hit.
//
// Extended cell ranges: a query point of a crystal-wide search is a
// fractional position wrapped into [0, 1) plus the centre shift
// (TurboCentreShift) of the same distance that made the block; a point on the
// central cell's upper face (a coordinate of exactly 1 before the shift) lies
// beyond the block's reach on that side.
//
// Bonds lists (StructureArrays.h) hold each bond in both atoms' lists, in the
// order found: specifications in table order; within one specification the
// atoms of the first element in ascending index, and for one atom its partners
// in ascending x rank (equal x: ascending atom index). Only atoms inside the
// plot range take part (every atom of a molecule).
//
// Two atoms at one place (closer than the overlap distance of the polyhedra,
// kOverlapDistanceSq) are never bonded to each other, whatever the
// specifications allow: a zero-length bond draws nothing, and a structure
// whose atom list was written many times over would get a bond between
// every pair of copies.
#pragma once

#include "CancelPoll.h"
#include "OrientationGroups.h"
#include "Polyhedra.h"
#include "StructureRecord.h"
#include "SymmetryCards.h"

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <vector>

// ---- Constants ----------------------------------------------------------------

// Whether the search bonds two atoms this far apart (squared, single
// precision) under a specification with these squared limits: within them,
// and not at one place. Whoever predicts the search's bonds asks this too.
inline bool SpecificationBondsPair(float d2, float minSq, float maxSq) {
  return minSq <= d2 && d2 <= maxSq && !(d2 < kOverlapDistanceSq);
}

// ---- Alternative positions ------------------------------------------------------
//
// A disordered structure holds alternatives that are never there together:
// whatever the specifications allow, no atom of one is bonded to an atom of
// another. The file's own description of its disorder decides (the sites'
// disorder assembly and group, StructureRecord.h):
//  - sites of different non-zero groups of one assembly are alternatives;
//    sites of one group, or of group 0, are bonded like any others, whatever
//    their occupancy;
//  - a negative group lies about a special position: its atoms bond within
//    one image of the group (atoms that a common symmetry operator made),
//    never to the group's other images.
// Where the file says nothing (group 0), geometry decides: the images of one
// site of occupancy at most 1/2 are alternatives (a site disordered about a
// special position), and so are the images of a group of such sites that
// makes impossible contacts with its own images (OrientationGroups.h: a
// ring or an oxyanion on a special position), as for a negative group.
// Two partly occupied sites of no group whose occupancies sum to at most 1
// and that lie closer than kPartialAlternativeFactor times their covalent
// radii's sum cannot both be there: at that distance they are alternatives,
// but for two elements that form multiple bonds, whose triple bond lies
// there (C#N 1.14 A, C#C 1.20, N#N 1.10, C#O 1.13: 0.78-0.80 of the sum):
// they are alternatives only closer than kTripleBondAlternativeShare times
// their triple-bond radii's sum (TripleBondRadius).
// Occupancy alone never separates two different sites that may be bonded.
// The bond search, the coordination count and the automatic bond search all
// ask the structure's one `SiteAlternatives`, which its derived layers hold
// (DerivedLayers::Alternatives).

// A site of at most this occupancy (plus kAlternativeOccupancySlack, for
// refined values such as 0.51) may be disordered about a special position.
inline constexpr float kHalfSiteOccupancy = 0.5f;
inline constexpr float kAlternativeOccupancySlack = 0.01f;
// Two partly occupied sites closer than this share of their covalent radii's
// sum are alternatives (no bond is that short: a triple bond is about 0.8).
inline constexpr float kPartialAlternativeFactor = 0.8f;
// Two partly occupied atoms that may be triple-bonded are alternatives below
// this share of their triple-bond radii's sum: a refined triple bond runs a
// few per cent short, while two half waters' O sites 0.94 A apart (0.89 of
// O=O's 1.06 A) cannot both be there.
inline constexpr float kTripleBondAlternativeShare = 0.9f;

// Whether the images of the site are alternatives of each other: a negative
// group, or (the file saying nothing) an occupancy of at most 1/2.
bool SiteImagesApart(const AsymmetricUnitRecord &site);
// A site's disorder, the file's groups and the inferred ones in one shape:
// an inferred group is a negative group of an assembly of its own, numbered
// after the file's. Every question about alternatives starts from these.
struct SiteDisorder {
  int16_t assembly = 0;
  int16_t group = 0;
  bool imagesApart = false; // its own images are alternatives of each other
};
std::vector<SiteDisorder> SiteDisorders(const CrystalRec &crystal, const OrientationGroups &inferred);
// When the images of the sites become sites of their own (Discard Symmetry),
// what kept the images of a site apart is said by groups instead: each
// site whose images were apart gets an assembly of its own (the sites of
// one negative or inferred group share theirs), and the image that operator
// k made becomes its group k + 1 (for an inferred group, 1 + the first
// operator that makes the same orientation, OrientationGroups.h).
struct ImageDisorder {
  std::vector<int16_t> assemblies; // per site; 0: the images keep the site's assembly and group
  OrientationGroups inferred;
  // The group of the image of site s that operator k makes.
  int16_t Group(size_t site, size_t k) const;
};
ImageDisorder ImageAssemblies(CrystalRec &crystal);
// The group of the image of the site at `xyz` (fractional, in any cell): the
// group of the first operator that makes it, 0 when none does.
int16_t ImageGroup(const ImageDisorder &disorder, const std::vector<GEP> &ops, size_t siteIndex,
                   const AsymmetricUnitRecord &site, const float xyz[3], const float originShift[3]);

class SiteAlternatives {
public:
  // What the structure's sites and atoms say of their disorder; throws
  // bad_alloc. The structure is read (its operators made); the answers hold
  // while its sites and atoms stay as they were.
  explicit SiteAlternatives(const CrystalRec &crystal);
  // Whether some pair of atoms is alternatives: otherwise nobody need ask.
  bool Any() const { return any_; }
  // Whether two distinct atoms may be bonded.
  bool AtomsMayBond(uint32_t a, uint32_t b) const;
  // Whether the site, at its own position, may be bonded to the atom (the
  // coordination count's query).
  bool SiteMayBondAtom(uint32_t site, uint32_t b) const;
  // The same for atoms at squared distance d2 (A^2): two partly occupied
  // sites too close to be both there are alternatives.
  bool AtomsMayBondAt(uint32_t a, uint32_t b, float d2) const {
    return AtomsMayBond(a, b) && !(anyPartial_ && a < atomSite_.size() && b < atomSite_.size() &&
                                   PartialApart(atomSite_[a], atomSite_[b], d2));
  }
  bool SiteMayBondAtomAt(uint32_t site, uint32_t b, float d2) const {
    return SiteMayBondAtom(site, b) && !(anyPartial_ && b < atomSite_.size() && PartialApart(site, atomSite_[b], d2));
  }
  // Where some pair is alternatives, the atom's site (kNoSite otherwise, or
  // for an atom of no usable site) and, per site, the covalent radius of its
  // element (0 for an element without one) and its occupancy summed over its
  // elements.
  static constexpr uint32_t kNoSite = UINT32_MAX;
  uint32_t AtomSite(uint32_t atom) const {
    return atom < atomSite_.size() && atomSite_[atom] < measures_.size() && atomSite_[atom] < sites_.size()
               ? atomSite_[atom]
               : kNoSite;
  }
  float SiteRadius(uint32_t site) const { return site < measures_.size() ? measures_[site].radius : 0.0f; }
  // Whether some atom may be an alternative of an atom of the site (of a
  // site AtomSite gave): otherwise its atoms may bond to every atom.
  bool SiteMayBeApart(uint32_t site) const {
    if (site >= sites_.size() || site >= measures_.size())
      return false;
    const SiteDisorder &d = sites_[site];
    return d.group != 0 || d.imagesApart || measures_[site].partial > 0.0f;
  }
  float SiteOccupancyOf(uint32_t site) const { return site < measures_.size() ? measures_[site].occupancy : 0.0f; }
  // An atom that may be an alternative of another, with all that the
  // questions about it read of its site, copied into one row: a count that
  // compares many such atoms pair by pair reads the rows alone.
  struct Place {
    uint32_t atom = 0, site = 0;
    float radius = 0.0f, occupancy = 0.0f, partial = 0.0f, triple = 0.0f; // as SiteMeasures
    SiteDisorder disorder;
    const uint64_t *ops = nullptr; // the operators that make the atom, for a negative group
  };
  // The atom's row; false (the row unset) when it is of no usable site or
  // may bond to every atom (SiteMayBeApart).
  bool PlaceOf(uint32_t atom, Place *place) const;
  // AtomsMayBondAt for the atoms of two rows.
  bool PlacesMayBondAt(const Place &a, const Place &b, float d2) const;
  // How many pairs of the distinct atoms are alternatives: linear in the
  // atoms but for those of one negative group, whose images are compared
  // pair by pair. Throws bad_alloc.
  uint64_t PairsApart(const std::vector<uint32_t> &atoms) const;
  // How many more pairs of the atoms, all at one place, are alternatives as
  // partly occupied sites that cannot both be there: linear in the atoms
  // but for partly occupied atoms of inferred groups. Throws bad_alloc.
  uint64_t PartialPairsApartAtOnePlace(const std::vector<uint32_t> &atoms) const;

  // Per site: its element's covalent radius (A, 0 for an element without
  // one), its occupancy summed over its elements, that occupancy where
  // below 1 and of no group the file gives (else 0), and its element's
  // triple-bond radius (A, 0 for an element that forms no multiple bond).
  struct SiteMeasures {
    float radius = 0.0f, occupancy = 0.0f, partial = 0.0f, triple = 0.0f;
  };

private:
  bool MayBond(uint32_t sa, const uint64_t *opsA, uint32_t sb, const uint64_t *opsB) const;
  // Two partly occupied sites too close to be both there.
  bool PartialApart(uint32_t sa, uint32_t sb, float d2) const;
  static bool PartialApartOf(uint32_t sa, float pa, float ra, float ta, uint32_t sb, float pb, float rb, float tb,
                             float d2);
  const uint64_t *AtomOps(uint32_t atom) const;
  std::vector<SiteDisorder> sites_;
  std::vector<uint32_t> atomSite_; // each atom's site, when some pair is alternatives
  std::vector<SiteMeasures> measures_;
  bool any_ = false;
  bool anyPartial_ = false; // two sites are partly occupied
  // For the atoms and sites of negative groups, the symmetry operators that
  // make each from its site (bit k: operator k), `words_` words apiece.
  size_t words_ = 0;
  std::vector<uint64_t> atomOps_;
  std::vector<uint64_t> siteOps_;
};

// A centre's neighbours counted one per partner, the rule the coordination
// count, the polyhedra and the coordination listing share: two neighbours
// that are alternatives of each other (images of one site among them) and
// lie closer than kPartialAlternativeFactor times their covalent radii's sum
// are places of one partner, and a chain of such places is one partner, so
// the count does not hang on the order the neighbours come in. A neighbour
// given twice (one atom, two specifications) is two neighbours. `atoms` are
// the neighbours' atoms (or, for atoms of a block of cells, the structure's
// atoms they are images of), `places` their Cartesian positions. Answers the
// number of partners; `stands[k]` is the neighbour that stands for k's
// partner: of its places the one of the largest occupancy, the first of
// equals.
uint32_t CountPartners(const SiteAlternatives &alternatives, std::span<const uint32_t> atoms,
                       std::span<const std::array<float, 3>> places, std::vector<uint32_t> *stands);
// The same count where the rows of the neighbours that may be alternatives
// of others are at hand (SiteAlternatives::PlaceOf): `rows` are those of
// the n neighbours, in the neighbours' order, each with its place and its
// index k among the neighbours; the others are partners of their own.
struct PartnerPlace {
  SiteAlternatives::Place row;
  std::array<float, 3> xyz; // Cartesian, A
  uint32_t k;
};
uint32_t CountPartnerPlaces(const SiteAlternatives &alternatives, std::span<const PartnerPlace> rows, size_t n,
                            std::vector<uint32_t> *stands);

// The element code that ends an element run list: "??".
inline constexpr ElementCode kElementIndexEnd = 0x3F3F;
// The coordination count skips an image of the query site itself that lies
// closer than this (squared distance, A²).
inline constexpr float kSelfImageDistSq = 0.001f;
// The extended cell range accepts images this far (fractional) beyond its
// window, so that rounding in a d-spacing never drops a neighbour at exactly
// the search distance; the extra candidates fail the distance test.
inline constexpr double kCellWindowSlack = 1e-5;
// No candidate set is made larger than this: beyond it the search fails as
// for exhausted memory.
inline constexpr int64_t kMaxTurboCandidates = 20'000'000;

// ---- Records ------------------------------------------------------------------

// One candidate of a search.
struct TurboAtom {
  uint32_t atom = 0;                 // index into the structure's atoms
  float xyz[3] = {0.0f, 0.0f, 0.0f}; // Cartesian, Angstrom
};

// One run of consecutive sites with the same first element code.
struct ElementIndexEntry {
  ElementCode element = kElementIndexEnd;
  uint32_t firstSite = 0;
  uint32_t lastSite = 0;
};

// ---- Entry points ---------------------------------------------------------------

// Rebuilds every bonds list from the bond specifications, but for the pairs
// alternative positions (SiteAlternatives). All polyhedra are
// destroyed first (TurboRemoveBonds). A specification naming an element with
// no sites (or no atoms) finds nothing and the search goes on with the next.
// A search that left pairs of atoms at one place unbonded says how many in
// one Log line (ReportCoincidentPairs).
// The bonds are entered into the lists once the search is over. The user may
// cancel a search that runs long enough to show the status window (the
// host's cancel check, CancelPoll.h): every list is then left empty and the
// Log says so.
// A search whose bonds would take more memory than the machine has left,
// or give the atoms in range more than 40 bonds each on average, is refused
// before any bond is stored: the alert "Too many bonds" says how many atoms
// would have more than how many bonds, and why, and every list is left
// empty; so is every list of a search that runs out of memory on its way,
// with the same alert saying so (unless the failure is passed on to an
// open, MemoryBudget.h).
void TurboGenerateBonds(CrystalRec *crystal);
// How the last TurboGenerateBonds ended.
enum class BondSearchEnd {
  Complete,  // every bond found (or the search had nothing to do)
  Cancelled, // stopped by the user: no bonds
  TooMany,   // refused for memory: no bonds
};
BondSearchEnd TurboLastBondSearchEnd();
// Ends a search the user stopped (this one or another that makes bonds):
// every list left empty, the end noted as Cancelled
// and, when `tell`, the Log told.
void TurboEndCancelledSearch(CrystalRec *crystal, bool tell);
// Writes the search's one Log line about the pairs of atoms at one place it
// left unbonded (nothing for none).
void ReportCoincidentPairs(uint64_t pairs);
// Destroys every atom's polyhedron and bonds list.
void TurboRemoveBonds(CrystalRec *crystal);
// Recomputes every site's coordination number: the neighbours within the
// limits of every specification naming its element, around the site's own
// position over the whole crystal, but for alternative positions
// (SiteAlternatives). True when some specification found a
// contact; *specFoundNothing (may be null) is set when some specification
// found none, including one naming an element with no sites.
bool TurboGetCoordinationNumbers(CrystalRec *crystal, bool *specFoundNothing);

// ---- Element runs -----------------------------------------------------------------

// One entry per run of consecutive sites with the same first element, ended
// by an entry {"??", 0, 0}. None without sites or memory. Sites need not
// stand sorted by element: an element whose sites are apart has one run per
// stretch, and every search takes all of them (TurboFindElementRuns).
std::optional<std::vector<ElementIndexEntry>> TurboIndexElements(CrystalRec *crystal);
// The first run of the element, walking the list up to its terminator;
// nullptr when the element has none. Enough to ask whether it has sites.
const ElementIndexEntry *TurboFindElement(const std::vector<ElementIndexEntry> &list, ElementCode element);
// Every run of the element, in site order; empty when it has none.
std::vector<ElementIndexEntry> TurboFindElementRuns(const std::vector<ElementIndexEntry> &list, ElementCode element);
// The number of sites in the runs.
int64_t TurboRunSiteCount(const std::vector<ElementIndexEntry> &runs);
// The atoms of a run: from the first atom of its first site to the last atom
// of its last site, sites without atoms passed over, clamped to the atom
// array. False when the run has no atoms.
bool TurboGetElementAtomRange(const CrystalRec *crystal, const ElementIndexEntry &run, int32_t *firstAtom,
                              int32_t *lastAtom);

// ---- Cell blocks ------------------------------------------------------------------

// The centre shift of an extended cell range of the given search distance:
// per axis ceil(|distance| / d(hkl)) for (100), (010), (001). A query point
// goes in the block's central cell by adding it to a fractional position in
// [0, 1]. False for a refused cell or a distance that is not finite.
bool TurboCentreShift(CrystalRec *crystal, float distance, int32_t shift[3]);

// ---- Places -----------------------------------------------------------------------------
//
// A list of atoms written many times over puts many candidates at one place,
// and every query near that place would visit each of them. The candidates
// at one place (equal finite coordinates) are searched as one: the index
// keeps the first of each place, in the order gathered, and the place lists
// its members. Without two candidates at one place the candidates are left
// as they were, each place its own single member.
struct TurboPlaces {
  std::vector<TurboAtom> all;    // the candidates as gathered
  std::vector<uint32_t> start;   // per place (position among the candidates), into members; one more entry
  std::vector<uint32_t> members; // positions in `all`, each place's ascending
};

// ---- The candidate index ------------------------------------------------------------

// A candidate in the query grid: the grid lists each cell's candidates by
// ascending x rank, their coordinates alongside so that the cube test reads
// memory in order.
struct GridItem {
  float xyz[3];
  uint32_t rank; // x rank
  uint32_t atom; // the candidate's atom
};

// The closed cube of half-width d around a point, its faces in single
// precision as the candidates are, and the grid cells that hold its
// candidates.
struct QueryCube {
  float lo[3], hi[3];
  int64_t from[3], to[3];
};

// The most units of work an index does between two cancel checks once it
// hears the key.
inline constexpr uint64_t kCandidateCancelEvery = 4096;

// The candidates of one search, their x order and the grid that answers its
// box queries. Every gathering replaces the candidates and drops the order;
// the memory goes with the object.
class CandidateIndex {
public:
  // ---- Gathering

  // The atoms first..last (clamped to the atom array) that lie in the plot
  // range, as {index, Cartesian coordinates} (possibly none). False, with no
  // candidates, when the index range is empty or memory runs out.
  bool GetIndexedAtoms(CrystalRec *crystal, int32_t firstAtom, int32_t lastAtom);
  // The same over the atoms of every run, in run order (so in ascending atom
  // index). False when no run has atoms or memory runs out.
  bool GetIndexedAtoms(CrystalRec *crystal, const std::vector<ElementIndexEntry> &runs);
  // The images, over a block of 2k + 1 cells per axis (k the centre shift),
  // of the first-cell atoms of sites firstSite..lastSite that can lie within
  // |distance| of a point of the central cell: per site, per first-cell atom,
  // c outermost, then b, a innermost, as {the atom's index, orientation
  // matrix x image}. False, with no candidates, for a bad site range, a
  // refused cell, a block beyond kMaxTurboCandidates or without memory.
  // `sites` (may be null): the site that gathered each candidate.
  bool ExtendCellRange(CrystalRec *crystal, int32_t firstSite, int32_t lastSite, float distance,
                       std::vector<uint32_t> *sites = nullptr);
  // The same over the sites of every run, in run order.
  bool ExtendCellRange(CrystalRec *crystal, const std::vector<ElementIndexEntry> &runs, float distance);
  // The candidates as given.
  void SetCandidates(std::vector<TurboAtom> candidates);
  // Groups the candidates into places (TurboPlaces) and sorts what is kept
  // (SortByX). False without memory (the candidates are then left as they
  // were, unsorted).
  bool GroupPlaces(TurboPlaces *places);

  // ---- Order and queries

  // Builds the x order and the x ranks of the candidates. False without
  // memory (the order is then freed).
  bool SortByX();
  // Fills Boxed() with the candidates in the closed cube of half-width d
  // around p, in x-rank order, and answers their number. 0 without sorted
  // candidates, for a negative d, or when p or d is not finite.
  int32_t BoxAtoms(const float p[3], float d);
  // The candidates after `position` (in gathering order) within distance d
  // of p, squared distances compared in single precision: BoxAtoms with
  // those hits alone kept, in the same order, into Boxed().
  int32_t BallAtomsAfter(const float p[3], float d, uint32_t position);
  // Whether more than `limit` candidates lie within distance d of p (squared
  // distances compared in single precision). The count stops there and reads
  // p's own grid cell first, so where candidates crowd it costs a few times
  // `limit`. False without sorted candidates or for a bad query.
  bool HoldsMoreThan(const float p[3], float d, size_t limit);
  // An upper bound of what the cube of half-width d around any candidate
  // holds: the fullest grid cell times the cells such a cube spans. 0
  // without sorted candidates or for a bad d.
  uint64_t MostAnyCubeHolds(float d);
  // Frees the order and the query grid.
  void FreeSortMemory();

  // ---- Hearing the cancel key

  // From now on the gathering, grouping, sorting and gridding above ask
  // about the user's cancel key (CancelPoll.h) as each starts and after every
  // kCandidateCancelEvery candidates, atoms, sites or grid cells of their
  // work. Once it is heard each of them, then and later, ends with false and
  // no candidates (no grid), and Stopped() tells that from a failure.
  void HearCancelKey();
  bool Stopped() const { return stopped_; }
  // FreeSortMemory, and frees the candidates and the hits.
  void FreeCandidates();

  // ---- Reading

  size_t Size() const { return atoms_.size(); }
  bool Empty() const { return atoms_.empty(); }
  const TurboAtom &operator[](size_t position) const { return atoms_[position]; }
  const std::vector<TurboAtom> &Candidates() const { return atoms_; }
  // Positions by ascending x (ties: ascending position).
  const std::vector<uint32_t> &OrderX() const { return sortX_; }
  // The hits of the last box query: positions, in x-rank order.
  const std::vector<uint32_t> &Boxed() const { return boxed_; }
  // The grid item (Item) of the hit of the last box query that Boxed()
  // lists at h: the same candidate, its coordinates near those the query
  // read.
  uint32_t BoxedItem(size_t h) const { return static_cast<uint32_t>(hits_[h]); }

  // ---- The grid, read straight by the searches that need no order of hits

  // Readies the grid for queries of half-width d (built or rebuilt as their
  // size asks). False when such a query finds nothing: no sorted
  // candidates, a bad half-width, no memory for the grid, or no finite
  // candidate.
  bool PrepareGrid(float d);
  // The cube of a query of half-width d around p on a ready grid. False for
  // a bad point or a cube clear of the grid.
  bool CubeOf(const float p[3], float d, QueryCube *cube) const;
  // The candidates the cells of the cube hold: at least those within the
  // cube, at a cost of a subtraction per row of cells.
  uint64_t CubeHolds(const QueryCube &cube) const;
  const GridItem &Item(uint32_t k) const { return grid_.items[k]; }
  // Calls visit(k) for every grid item k inside the cube, cell row by cell
  // row in memory order; with kEveryItem visit(k, inCube) for every grid
  // item the cube's cells hold, inCube when it lies inside the cube, its
  // faces tested without a branch when kNoBranch (where about as many items
  // fail as pass, at random).
  template <bool kEveryItem = false, bool kNoBranch = false, class Visit>
  void VisitCube(const QueryCube &cube, Visit visit) const {
    const float *lo = cube.lo, *hi = cube.hi;
    for (int64_t cz = cube.from[2]; cz <= cube.to[2]; cz++) {
      for (int64_t cy = cube.from[1]; cy <= cube.to[1]; cy++) {
        const int64_t row = (cz * grid_.dims[1] + cy) * grid_.dims[0];
        const uint32_t begin = grid_.cellStart[static_cast<size_t>(row + cube.from[0])];
        const uint32_t end = grid_.cellStart[static_cast<size_t>(row + cube.to[0] + 1)];
        for (uint32_t k = begin; k < end; k++) {
          const GridItem &item = grid_.items[k];
          bool inCube;
          if constexpr (kNoBranch)
            inCube = (item.xyz[0] >= lo[0]) & (item.xyz[0] <= hi[0]) & (item.xyz[1] >= lo[1]) &
                     (item.xyz[1] <= hi[1]) & (item.xyz[2] >= lo[2]) & (item.xyz[2] <= hi[2]);
          else
            inCube = item.xyz[0] >= lo[0] && item.xyz[0] <= hi[0] && item.xyz[1] >= lo[1] &&
                     item.xyz[1] <= hi[1] && item.xyz[2] >= lo[2] && item.xyz[2] <= hi[2];
          if constexpr (kEveryItem)
            visit(k, inCube);
          else if (inCube)
            visit(k);
        }
      }
    }
  }

private:
  struct Grid {
    bool built = false;
    bool empty = true; // no finite candidate
    double edge = 0.0; // cell edge, Angstrom
    double inverseEdge = 0.0;
    double requested = 0.0;             // the half-width it was built for
    bool raised = false;                // edge raised above the request by the size limit
    double origin[3] = {0.0, 0.0, 0.0}; // the candidates' smallest coordinates
    double top[3] = {0.0, 0.0, 0.0};    // and their largest
    int64_t dims[3] = {1, 1, 1};
    uint32_t fullest = 0;            // the most candidates a cell holds
    std::vector<uint32_t> cellStart; // cells + 1 entries
    std::vector<GridItem> items;
  };
  bool AppendIndexedAtoms(CrystalRec *crystal, int32_t firstAtom, int32_t lastAtom);
  bool ExtendOverSites(CrystalRec *crystal, const std::vector<std::pair<int64_t, int64_t>> &spans, float distance,
                       std::vector<uint32_t> *sites);
  // False when the cancel key was heard meanwhile.
  bool OrderX(std::vector<uint32_t> &order);
  int64_t CellOf(double v, int axis) const;
  bool BuildGrid(double halfWidth);
  bool PrepareQuery(const float p[3], float d, QueryCube *cube);
  // As a piece of work starts: true when the key was heard, here or in an
  // earlier stage of the command (no clock is read). After `units` more
  // units of it: the cancel check proper. Never true without HearCancelKey.
  bool Heard();
  bool Tick(uint64_t units = 1) {
    if (!cancel_)
      return false;
    ticks_ += units;
    if (ticks_ < kCandidateCancelEvery)
      return stopped_;
    ticks_ = 0;
    return stopped_ = stopped_ || cancel_->Step();
  }
  // The first n hits of the last query, (x rank << 32 | item), sorted into
  // Boxed(); answers n.
  int32_t SortHits(size_t n);

  std::vector<TurboAtom> atoms_;
  std::vector<uint32_t> sortX_;
  std::vector<uint32_t> rankX_; // the x rank of each position
  Grid grid_;
  std::vector<uint64_t> hits_; // the last query's hits, (x rank << 32 | item), in a prefix
  std::vector<uint32_t> boxed_;
  std::optional<CancelPoll> cancel_;
  uint64_t ticks_ = 0;
  bool stopped_ = false;
};

// ---- Pairs found over a block of cells ------------------------------------------------
//
// The automatic search gathers every site's images over a block of cells
// (ExtendCellRange over every site, grouped into places) and queries every
// place once with its search distance, for the places after it. BlockPairs
// keeps what those queries found, so that the coordination count that
// follows over the same block reads a site's neighbours from them instead of
// gathering and querying again. A pair limit is served from them when its
// block is the same (the same centre shift, so the same images at the same
// coordinates) and its maximum lies inside the search distance by more than
// the rounding of a coordinate: then each of its neighbours was found, from
// one end of the pair or the other, with the very squared distance the count
// would compute. Anything short of that (a place not queried, a site whose
// own image is not among the candidates) leaves the count to its own search.
class BlockPairs {
public:
  // Before the queries: the search distance, the places (held by the
  // caller, unchanged until the count is over) and the site that gathered
  // each of places.all.
  void Begin(CrystalRec *crystal, float reach, const TurboPlaces &places, size_t placeCount,
             std::vector<uint32_t> gatheredSites);
  // Whether the queries' pairs are wanted.
  bool Recording() const { return usable_; }
  // One hit of the query of the current place (places are queried in
  // ascending order, each ended by EndPlace): a later place and its squared
  // distance. Without memory the pairs are dropped and serve nothing.
  void Note(uint32_t place, float d2) {
    if (!usable_)
      return;
    try {
      forward_.push_back({place, d2});
    } catch (const std::bad_alloc &) {
      Free();
    }
  }
  void EndPlace();
  // A place left unqueried: nothing is served.
  void Skip() { Free(); }
  // After the queries: the pairs serve nothing unless every place was
  // queried.
  void Finish();
  // Whether the count of a pair limit of this maximum and centre shift may
  // read the pairs. The first that may finds each site's own image among
  // the places and the pairs from their later end.
  bool Serves(const CrystalRec &c, float maxLength, const int32_t shift[3]);
  // The place of the site's image in the block's central cell, where the
  // count queries from; kNoPlace when it has none.
  static constexpr uint32_t kNoPlace = UINT32_MAX;
  uint32_t SitePlace(uint32_t site) const { return site < sitePlace_.size() ? sitePlace_[site] : kNoPlace; }
  const float *PlaceAt(uint32_t place) const {
    return places_->all[oneEach_ ? place : places_->members[places_->start[place]]].xyz;
  }
  // Calls visit(other place, d2) for every place the queries paired with
  // `place`, and visit(place, 0) for the place itself.
  template <class Visit> void VisitPairs(uint32_t place, Visit visit) const {
    visit(place, 0.0f);
    for (uint32_t k = forwardStart_[place]; k < forwardStart_[place + 1]; k++)
      visit(forward_[k].place, forward_[k].d2);
    for (uint32_t k = backStart_[place]; k < backStart_[place + 1]; k++)
      visit(back_[k].place, back_[k].d2);
  }
  // The candidates (positions among places->all) of a place, their atoms and
  // the sites that gathered them.
  std::span<const uint32_t> Members(uint32_t place) const {
    return {places_->members.data() + places_->start[place], places_->start[place + 1] - places_->start[place]};
  }
  uint32_t CandidateAtom(uint32_t candidate) const { return places_->all[candidate].atom; }
  uint32_t CandidateSite(uint32_t candidate) const { return gatheredSites_[candidate]; }
  // A site's first element.
  ElementCode SiteElement(uint32_t site) const { return siteElement_[site]; }
  void Free() { *this = BlockPairs{}; }

private:
  struct Pair {
    uint32_t place;
    float d2;
  };
  void FindSitesAndLaterEnds(const CrystalRec &c);
  bool usable_ = false;
  bool sitesFound_ = false;
  float reach_ = 0.0f;
  int32_t shift_[3] = {0, 0, 0};
  double largest_ = 0.0; // the largest coordinate's magnitude, A
  const TurboPlaces *places_ = nullptr;
  size_t placeCount_ = 0;
  bool oneEach_ = false; // every place one candidate: place k is places_->all[k]
  std::vector<uint32_t> forwardStart_, backStart_;
  std::vector<Pair> forward_;
  std::unique_ptr<Pair[]> back_;
  std::vector<uint32_t> gatheredSites_, sitePlace_;
  std::vector<ElementCode> siteElement_;
};
// The same count, reading the pairs where they serve (null: never).
bool TurboGetCoordinationNumbers(CrystalRec *crystal, bool *specFoundNothing, BlockPairs *known);

// ---- Helpers ------------------------------------------------------------------------

// Always true for a molecule; for a crystal true when each fractional
// coordinate lies within the plot range of its axis, both ends included
// (`CoordinateInRange`: a coordinate on a face the range ends at counts).
bool FracCoordsInRange(const CrystalRec *crystal, const float xyz[3]);
