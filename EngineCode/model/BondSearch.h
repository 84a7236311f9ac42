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
#include "CandidateIndex.h"
#include "PartnerRule.h"
#include "Polyhedra.h"
#include "SiteAlternatives.h"
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
