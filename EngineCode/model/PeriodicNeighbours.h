// The neighbours of a crystal's atoms over all images of its cell: one
// cell list over the marks (an atom each, at its fractional position), which
// answers which marks' images lie within a reach of a point, and which pairs
// of marks lie within the limits of a policy, each pair once. Bond
// generation, coordination, the exports and the inspectors ask it rather
// than each keeping a grid of its own; a new question is a new policy.
//
// The bins divide the cell along its three axes, as many to an axis as the
// cell's height across that axis holds bin edges (the reach, or more where
// the marks are few), so that a sphere of the reach spans a known run of
// bins however skewed the cell, and a reach longer than the cell walks the
// bins round again, image by image.
//
// Distances are measured in double precision from the fractional positions
// as given, through the cell's frame: a caller that must repeat a search of
// its own in single precision asks a little farther and judges the marks it
// is given by its own rule.
#pragma once

#include "CellFrame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

// What a mark stands for: an atom of the structure (or of the caller's
// list), its site, its place (the caller's number for the atoms at one
// position modulo the lattice, FractionalPlaces; kNone when it has none),
// its row of alternatives (the caller's row, kNone for an atom that may pair
// with every atom) and the whole cells of its given position, which the list
// sets: the position is its wrapped fractional coordinates plus `shift`.
struct NeighbourMark {
  static constexpr uint32_t kNone = UINT32_MAX;
  uint32_t atom = 0;
  uint32_t site = 0;
  uint32_t place = kNone;
  uint32_t row = kNone;
  int32_t shift[3] = {0, 0, 0};
  uint32_t kind = 0;      // the class a policy's limits are given by (an element, or 0)
  float occupancy = 1.0f; // what a policy's minimum occupancy judges
};

// A mark as the caller gives it: the mark and its fractional position.
struct NeighbourMarkInput {
  NeighbourMark mark;
  double xyz[3] = {0.0, 0.0, 0.0};
};

// One image of a mark near a point: the image stands at the mark's given
// position plus `shift` (whole cells), d2 (A^2) from the point.
struct NeighbourHit {
  uint32_t mark = 0;
  int32_t shift[3] = {0, 0, 0};
  double d2 = 0.0;
};

// One pair: mark a at its given position and the image of mark b shifted
// by `shift`, d2 (A^2) apart. a <= b; a pair of a mark with its own image
// has a shift that reads positive (its first non-zero component).
struct NeighbourPair {
  uint32_t a = 0, b = 0;
  int32_t shift[3] = {0, 0, 0};
  double d2 = 0.0;
};

// Which pairs a pair search keeps.
struct NeighbourPolicy {
  // The limit (A) of a pair of kinds: limits[ka * kinds + kb], kinds x kinds
  // and symmetric. A pair is kept at a distance up to its limit; a limit
  // that is negative or no number keeps none. A mark of a kind beyond the
  // table pairs with nothing.
  uint32_t kinds = 1;
  std::vector<double> limits{0.0};
  // Marks of lower occupancy pair with nothing.
  float minimumOccupancy = 0.0f;
  // An image of a mark's own atom closer than this squared distance (A^2)
  // is the atom itself, not its neighbour. Unset: kSelfImageDistanceSq, the
  // site search's cut-off.
  std::optional<double> ownImageBelowSq;
  // Two marks that both have a row of alternatives and that this answers
  // false for (their rows and squared distance, A^2) are alternatives of
  // each other, never a pair. None: every pair of rows may pair.
  std::function<bool(uint32_t rowA, uint32_t rowB, double d2)> mayPair;
  // A mark with more images of marks within the longest limit than this is
  // crowded beyond any matter: it pairs with nothing, and is told in the
  // answer. Unset: the limit of the longest limit's sphere
  // (NeighbourCrowdLimit).
  std::optional<size_t> crowdLimit;
};

// How a search ended.
enum class NeighbourStatus {
  kDone,
  kCrowded, // the sphere held more marks than the crowd limit: nothing was visited
  kStopped, // the user pressed Escape (only once the search hears the key)
};

// The most marks a sphere of the reach (A) may hold before its centre lies
// in no structure: its volume over kCrowdedVolumePerPlace, at least
// kMinCrowdedPlaces, as the bond search judges crowded atoms.
size_t NeighbourCrowdLimit(double reach);
inline constexpr size_t kNoCrowdLimit = SIZE_MAX;
// The searches that hear the cancel key ask the host at least this often
// (bins and marks examined), as the other stages of a long command do.
inline constexpr int64_t kNeighbourClockEvery = 4096;

class PeriodicNeighbours {
public:
  // The cell list of the marks in the cell `frame` (any handedness), its
  // bins sized for searches of about `reach` (A; a longer one walks more
  // bins). The marks are numbered as given. A mark whose position is not
  // finite, or lies farther out than a stored coordinate may
  // (stored::kFinite), is left out (Skipped). Throws bad_alloc.
  PeriodicNeighbours(const CellFrame &frame, std::span<const NeighbourMarkInput> marks, double reach);

  // Whether the cell spans a volume and the reach is a length (finite, not
  // negative): otherwise every search finds nothing.
  bool Valid() const { return valid_; }
  size_t Skipped() const { return skipped_; }
  const NeighbourMark &Mark(uint32_t m) const { return marks_[m]; }

  // From now on the searches hear the cancel key and end kStopped once the
  // user pressed it: `step` is called for each bin and mark they examine,
  // and answers true to stop (it may throw instead, as a reader's step does);
  // none: a poll of the key's own (CancelPoll) that asks the host at least
  // every kNeighbourClockEvery of them.
  void HearCancelKey(std::function<bool()> step = {});

  // Every image of every mark within `reach` (A) of the fractional point,
  // into hits, ordered by mark and then by shift (a, then b, then c, each
  // from below): an order that does not depend on the bins, so that a
  // caller's answer never changes with them. A mark at the point is a hit at
  // distance 0. With more hits than `crowdLimit`, kCrowded and no hits. A
  // point that is not finite has no neighbours. Throws bad_alloc.
  NeighbourStatus Visit(const double xyz[3], double reach, std::vector<NeighbourHit> &hits,
                        size_t crowdLimit = kNoCrowdLimit);

  // Every pair of marks the policy keeps, each once, into pairs, ordered by
  // a, then b, then shift; the crowded marks (if any) into crowded, in
  // order. Throws bad_alloc.
  NeighbourStatus Pairs(const NeighbourPolicy &policy, std::vector<NeighbourPair> &pairs,
                        std::vector<uint32_t> *crowded = nullptr);

private:
  // The bins a sphere of the reach about a point spans, per axis (whole
  // bins, unwrapped: bin g is bin g mod n of the cell g div n cells on).
  bool BinRange(const double xyz[3], double reach, int64_t from[3], int64_t to[3]) const;
  double DistanceSquared(const double d[3]) const;
  // Sorts the marks into bins for the reach, once the cell is valid.
  void Bin(std::span<const NeighbourMarkInput> marks);
  bool Step() { return step_ && step_(); }

  bool valid_ = false;
  double reach_ = 0.0;
  double axes_[3][3] = {};
  double height_[3] = {}; // the distance between opposite faces (A)
  int64_t bins_[3] = {1, 1, 1};
  std::vector<NeighbourMark> marks_;
  std::vector<std::array<double, 3>> xyz_; // each mark's given position
  std::vector<uint32_t> binStart_;         // per bin (a outermost), bins + 1
  std::vector<uint32_t> binned_;           // the marks by bin, in mark order in each
  std::vector<NeighbourHit> scratch_;
  size_t skipped_ = 0;
  std::function<bool()> step_;

public:
  // Numbers the marks afresh in the order the bins hold them (bin by bin, a
  // outermost, in their given order within a bin; the marks left out
  // last), so that the marks near a point are near each other in number:
  // a caller that keeps its own records of the marks in the same order
  // reads those of a visit's hits from one stretch of memory. Mark(m) tells
  // what the caller gave for the mark now numbered m.
  void NumberMarksByBin();
  // Visit's hits in the order the bins are walked, which no caller should
  // read anything into: for a caller that orders what it keeps by a rule of
  // its own, or needs no order, and asks many points. The marks are read
  // from a copy in bin order of their wrapped Cartesian positions, made on
  // the first such visit, and a run of bins along c within one cell is
  // walked as one: the squared distances are those positions' distances,
  // equal to Visit's but for rounding. Hears the cancel key as Visit does.
  // Throws bad_alloc.
  NeighbourStatus VisitUnordered(const double xyz[3], double reach, std::vector<NeighbourHit> &hits);

private:
  std::vector<std::array<double, 3>> binnedCart_; // per binned mark, in bin order
};
