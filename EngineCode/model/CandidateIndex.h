// The candidate index of a bond search: a search's candidates (atoms, or
// their images over a block of cells), grouped into places, and the grid
// that answers which lie in a cube about a point. Each search owns its
// own (BondSearch.h says how the searches use it).
#pragma once

#include "CancelPoll.h"
#include "StructureRecord.h"

#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <vector>

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
            inCube = (item.xyz[0] >= lo[0]) & (item.xyz[0] <= hi[0]) & (item.xyz[1] >= lo[1]) & (item.xyz[1] <= hi[1]) &
                     (item.xyz[2] >= lo[2]) & (item.xyz[2] <= hi[2]);
          else
            inCube = item.xyz[0] >= lo[0] && item.xyz[0] <= hi[0] && item.xyz[1] >= lo[1] && item.xyz[1] <= hi[1] &&
                     item.xyz[2] >= lo[2] && item.xyz[2] <= hi[2];
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
