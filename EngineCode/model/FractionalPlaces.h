// Places in a crystal modulo its lattice: whether two fractional positions
// are one place, the places of a list of positions found through a hash
// grid (so that a search over n positions stays linear), and how many
// images an operator list makes of a site. Readers judge by it which atoms
// a file lists at one position (a mixed site), which of its atoms are
// images of others and which sites stand on special positions; so these
// are judged alike whatever the format, and as the build judges them.
#pragma once

#include "SymmetryCards.h"
#include "UnitCell.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

// Two fractional positions are one place when each coordinate differs by
// less than this modulo 1. It is the build's own coincidence of symmetry
// images, so that what a reader takes for one place the build makes one
// atom. In fractions rather than Angstrom because files write fractions to
// a fixed number of decimals whatever the cell's size: 0.3333 and 1/3 are
// one place in a cell of 4 A as in one of 40 A.
inline constexpr double kSamePlaceTolerance = static_cast<double>(kSymmetryTolerance);

// Two images of one site closer than this (A) are one atom, as well as
// those one place by the fractional tolerance: a file that cuts its
// coordinates to four decimals ("0.6666" for 2/3) leaves the images of a site
// on a special position more than the tolerance apart in one fraction,
// though a thousandth of an angstrom apart in the cell.
inline constexpr double kSameAtomDistance = 0.01; // A

// Whether a and b are one place: every coordinate within the tolerance
// modulo 1, so that 0 and 0.99999 are one place. False for a coordinate that
// is no number.
bool SamePlace(const double a[3], const double b[3]);
// The same rule in single precision, as the build compares the images it
// keeps: the float difference of two coordinates, whole cells taken off,
// within kSymmetryTolerance of 0 or of 1. Coordinates anywhere, wrapped or
// not. Inline: the build compares every image of a site with those it kept.
inline bool SameFraction(float a, float b) {
  // Whole cells come off exactly; the distance to the nearer whole number is
  // then d or 1 - d (exact too). A coordinate that is no number is at no
  // place.
  float d = std::fabs(a - b);
  if (d >= 1.0f)
    d -= std::trunc(d);
  return d < kSymmetryTolerance || 1.0f - d < kSymmetryTolerance;
}
inline bool SamePlace(const float a[3], const float b[3]) {
  return SameFraction(a[0], b[0]) && SameFraction(a[1], b[1]) && SameFraction(a[2], b[2]);
}

// True when a fractional coordinate lies within [lo, hi], the plot range's
// bounds on one axis. A bound that is a cell face (a whole number) reaches
// the tolerance beyond it: a coordinate that is one place with the face is
// on the face, so an atom a file's decimals leave just past it (1.0000333
// for z = 0.6667 + 1/3) is shown there.
inline bool CoordinateInRange(float x, float lo, float hi) {
  if (x >= lo && x <= hi)
    return true;
  if (x > hi)
    return x - hi < kSymmetryTolerance && std::floor(hi) == hi;
  return x < lo && lo - x < kSymmetryTolerance && std::floor(lo) == lo;
}
// The same test with the bounds' faces found once, for a loop over many
// coordinates: the lowest and highest coordinates `CoordinateInRange` holds,
// found float by float, so that the loop compares twice and holds exactly
// the same coordinates.
struct RangeBounds {
  float lo, hi;
  RangeBounds(float low, float high) : lo(LowestHeld(low, high)), hi(HighestHeld(low, high)) {}
  bool Holds(float x) const { return x >= lo && x <= hi; }

private:
  static float LowestHeld(float low, float high) {
    if (!std::isfinite(low) || !(low <= high) || std::floor(low) != low)
      return low;
    float x = low - kSymmetryTolerance;
    while (!CoordinateInRange(x, low, high))
      x = std::nextafter(x, high);
    for (float below = std::nextafter(x, -INFINITY); CoordinateInRange(below, low, high);
         below = std::nextafter(x, -INFINITY))
      x = below;
    return x;
  }
  static float HighestHeld(float low, float high) {
    if (!std::isfinite(high) || !(low <= high) || std::floor(high) != high)
      return high;
    float x = high + kSymmetryTolerance;
    while (!CoordinateInRange(x, low, high))
      x = std::nextafter(x, low);
    for (float above = std::nextafter(x, INFINITY); CoordinateInRange(above, low, high);
         above = std::nextafter(x, INFINITY))
      x = above;
    return x;
  }
};

// Whether two atoms of a built structure stand at one position: every
// fractional coordinate within kSymmetryTolerance, whole cells not taken off
// (an atom and its image a cell away are two atoms).
inline bool SameAtomPosition(const float a[3], const float b[3]) {
  return std::fabs(a[0] - b[0]) < kSymmetryTolerance && std::fabs(a[1] - b[1]) < kSymmetryTolerance &&
         std::fabs(a[2] - b[2]) < kSymmetryTolerance;
}

// Whether two images of a site are one atom, in a cell: one place
// (SamePlace), or less than kSameAtomDistance apart, the nearest lattice
// translation apart. The build's images, the count of a site's images and
// the operators that fix it all ask it, so that what a reader counts the
// build makes. Without a cell (default) it is SamePlace alone.
class OneAtomRule {
public:
  OneAtomRule() = default;
  // The cell's lengths (A) and angles (degrees); a cell with no volume
  // leaves the rule SamePlace alone.
  OneAtomRule(double a, double b, double c, double alpha, double beta, double gamma);
  explicit OneAtomRule(const CrystalRec &c) : OneAtomRule(c.a, c.b, c.c, c.alpha, c.beta, c.gamma) {}

  bool Same(const float a[3], const float b[3]) const {
    // Each fraction first, within the farther of the two reaches: most
    // pairs of images part here.
    for (int i = 0; i < 3; i++)
      if (!FractionWithin(a[i], b[i], reachF_[i]))
        return false;
    return SamePlace(a, b) || (cell_ && DistanceSquared(a[0] - double{b[0]}, a[1] - double{b[1]}, a[2] - double{b[2]}) <
                                            kSameAtomDistance * kSameAtomDistance);
  }
  bool Same(const double a[3], const double b[3]) const;
  // How far apart (in fractions, modulo 1) two images of one atom may lie
  // on each axis, at most: the tolerance, or kSameAtomDistance over the
  // distance between the lattice planes of the axis.
  double Reach(int axis) const { return reach_[axis]; }

private:
  static bool FractionWithin(float a, float b, float reach) {
    float d = std::fabs(a - b);
    if (d >= 1.0f)
      d -= std::trunc(d);
    return d < reach || 1.0f - d < reach;
  }
  // The squared length (A^2) of a fractional difference, whole cells off.
  double DistanceSquared(double d0, double d1, double d2) const;

  bool cell_ = false;
  double G_[3][3] = {};
  double reach_[3] = {kSamePlaceTolerance, kSamePlaceTolerance, kSamePlaceTolerance};
  float reachF_[3] = {kSymmetryTolerance, kSymmetryTolerance, kSymmetryTolerance};
};

// Whether two operators are one modulo the lattice: the same rotation, and
// translations within the tolerance of each other modulo 1. Cards a format
// writes to fewer decimals are compared with a wider tolerance of its own.
bool SameOperator(const GEP &a, const GEP &b, double tolerance = kSamePlaceTolerance);
// The operator a after b (x -> a(b x)), its translation not wrapped. Two
// operators about one origin shift compose so, the shift dropping out.
GEP ComposeOperators(const GEP &a, const GEP &b);

// The image R x + t of a fractional position, not wrapped.
void ApplyOperator(const GEP &op, const double xyz[3], double out[3]);

// How many of the operators leave the position in place (one atom with it
// by the cell's rule): the order of the site's stabiliser within the list.
int OperatorsFixing(std::span<const GEP> ops, const double xyz[3], const OneAtomRule &rule);
// The same for a stored site about the structure's origin shift, its images
// made as the build makes them (`ApplySymmetryOperator`).
int OperatorsFixing(std::span<const GEP> ops, const float xyz[3], const float originShift[3],
                    const OneAtomRule &rule);
// The count of distinct images of a site: the operators over those that
// leave it in place (at least one).
int SiteImageCount(std::span<const GEP> ops, const double xyz[3], const OneAtomRule &rule);

// A set of places, each a position of a kind (an element, a class of the
// caller's, or 0), numbered in the order they were added.
class FractionalPlaces {
public:
  static constexpr size_t kNone = ~size_t{0};

  // `expected`: about how many places there will be (the table grows past it).
  explicit FractionalPlaces(size_t expected = 0);

  // The earliest place of the kind within the tolerance of xyz, or kNone.
  size_t Find(const double xyz[3], uint32_t kind = 0) const;
  // Find, or else xyz becomes a new place of the kind: the place and
  // whether it is new. Places added so stand at least the tolerance apart,
  // so a grid cell holds a bounded few however often a position is given.
  std::pair<size_t, bool> Insert(const double xyz[3], uint32_t kind = 0);
  // xyz becomes a new place of the kind whether or not one stands there: for
  // a caller that tells the places at one position apart by more than the
  // position (an occupancy, a label, a cell) and asks through FindIf.
  size_t Add(const double xyz[3], uint32_t kind = 0);
  // The earliest place of the kind near xyz for which accept(place) holds, or
  // kNone. Near: every place within the tolerance of xyz modulo 1, and a few
  // farther ones the grid keeps beside them, so accept judges the position by
  // the caller's own rule, which must be no wider than the tolerance.
  template <typename Accept> size_t FindIf(const double xyz[3], uint32_t kind, Accept &&accept) const {
    size_t best = kNone;
    ForEachNear(xyz, kind, [&](size_t place) {
      if (place < best && accept(place))
        best = place;
    });
    return best;
  }
  // Calls visit(place) once for each place of the kind near xyz (as FindIf),
  // in no set order.
  template <typename Visit> void ForEachNear(const double xyz[3], uint32_t kind, Visit &&visit) const {
    uint32_t heads[8];
    const int chains = HeadsNear(xyz, kind, heads);
    for (int h = 0; h < chains; h++)
      for (uint32_t p = heads[h]; p != kEnd; p = places_[p].next)
        if (places_[p].kind == kind)
          visit(size_t{p});
  }
  // Starts reading the table where a Find or Insert of xyz looks first: a
  // caller that knows its positions ahead spares the wait for a table
  // larger than the caches, which a position reads at random.
  void Prefetch(const double xyz[3], uint32_t kind = 0) const;
  // The bytes of the table a position reads at random.
  size_t TableBytes() const { return slots_.size() * sizeof(Slot); }
  size_t size() const { return places_.size(); }
  const std::array<double, 3> &Position(size_t place) const { return places_[place].xyz; }

private:
  static constexpr uint32_t kEnd = ~uint32_t{0}; // no place
  struct Place {
    std::array<double, 3> xyz;
    uint32_t kind;
    uint32_t next; // the previous place of the same chain, or kEnd
  };
  // The grid cell of a position (each axis wrapped) and, per axis, which
  // neighbour cells the tolerance reaches into (-1, 0 or +1 each side).
  struct Cell {
    int64_t index[3];
    int lo[3], hi[3];
  };
  static Cell CellOf(const double xyz[3]);
  size_t FindFrom(const Cell &cell, const double xyz[3], uint32_t kind) const;
  // Calls `chain(head, best)` with the last place of each chain the cell and
  // its neighbours within the tolerance hold for the kind; `best` (kNone at
  // first) is the earliest place found so far, which the chain lowers.
  template <typename Chain> size_t Earliest(const Cell &cell, uint32_t kind, Chain &&chain) const;
  // The last places of the chains near xyz for the kind, each chain once (at
  // most two cells per axis): how many.
  int HeadsNear(const double xyz[3], uint32_t kind, uint32_t heads[8]) const;
  // xyz, in the cell, as a new place of the kind.
  size_t Append(const Cell &cell, const double xyz[3], uint32_t kind);
  // A new place of the cell's chain: the head to be set to it, the key
  // table grown first when it would be more than half full.
  uint32_t &NewHead(const Cell &cell, uint32_t kind);
  // A grid cell's and kind's key; the kinds are mixed in, so that two
  // (cell, kind) pairs may share a chain: its places are told apart by kind
  // and position.
  static uint32_t Key(const int64_t index[3], uint32_t kind);
  // The last place of a key's chain (kEnd for none), and the same to be
  // set, the key taking a slot if it has none.
  uint32_t Head(uint32_t key) const;
  uint32_t &HeadOf(uint32_t key);
  void Grow();
  // A key table empty, with room for about `expected` keys.
  void ReserveKeys(size_t expected);
  // The places are the positions given that open one, named by their
  // index, and chained through a list beside them rather than copied.
  friend std::vector<size_t> GroupAtOnePlace(std::span<const std::array<double, 3>> positions);

  std::vector<Place> places_;
  // Open addressing: a slot holds a key and the last place of its chain
  // (kEnd: the slot is free); eight bytes, so a probe reads one of them.
  struct Slot {
    uint32_t key;
    uint32_t head;
  };
  std::vector<Slot> slots_;
  size_t used_ = 0; // slots taken
};
// Each position's group: the index of the first position at its place. Linear
// in the positions.
std::vector<size_t> GroupAtOnePlace(std::span<const std::array<double, 3>> positions);
