#include "Polyhedra.h"

#include "BondSearch.h"
#include "CancelPoll.h"
#include "CoordinationNeighbours.h"
#include "FaceCandidates.h"
#include "FaceShapes.h"
#include "Geometry.h"
#include "HostServices.h"
#include "LigandThinning.h"
#include "MemoryBudget.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "VectorMath.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <numeric>
#include <optional>
#include <span>
#include <utility>
#include <string>
#include <unordered_map>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr RGBColor kWarningColour = kRGBRed;
// DefinePolyhedra reads the clock for the cancel check every this many
// atoms: few, since one atom with hundreds of ligands can take a while.
constexpr int64_t kPolyhedraCancelClockEvery = 8;
// The face search passes over the triples that its points' hull proves
// internal from this many usable points on; below, asking every triple is
// quicker than making the hull.
constexpr int32_t kHullFromPoints = 10;
// Work between two questions to the cancel check within one centre, in
// ligands looked at (about 20 to 50 microseconds of face search).
constexpr uint64_t kPolyhedraWorkPerCheck = 16384;
// The thinning's work counted per triple, in the units above.
constexpr uint64_t kWorkPerThinnedTriple = 8;
constexpr char kDefiningPolyhedra[] = "Defining polyhedra...";
// Sites between two readings of the clock while their roles are set: a
// site's role may search the crystal around it and around its neighbours.
constexpr int64_t kRoleClockEvery = 64;

// The cancel check and the status window of a polyhedron build. Between
// centres the build asks once per centre; within a centre the thinning and
// the face search count their work and ask every kPolyhedraWorkPerCheck
// units, repeating the last progress report as they do, so that one centre
// with hundreds of ligands shows the status window and answers Escape as
// quickly as many small centres.
class BuildMeter {
public:
  explicit BuildMeter(int64_t clockEvery) : poll_(clockEvery) {}

  // One centre begun; true once the user has asked to stop.
  bool Step() {
    if (!cancelled_)
      cancelled_ = poll_.Step();
    return cancelled_;
  }

  // `units` of work done within a centre; true once the user has asked to
  // stop.
  bool Add(uint64_t units) {
    if (cancelled_)
      return true;
    work_ += units;
    if (work_ < kPolyhedraWorkPerCheck)
      return false;
    work_ = 0;
    if (gShowProgress) {
      if (percent_ < 0.0f)
        WriteStatus(kDefiningPolyhedra);
      else
        WriteProgress("", percent_);
    }
    return Step();
  }

  bool Cancelled() const { return cancelled_; }
  // The share of the centres done, for the repeated report.
  void SetPercent(float percent) { percent_ = percent; }

private:
  CancelPoll poll_;
  uint64_t work_ = 0;
  float percent_ = -1.0f;
  bool cancelled_ = false;
};

std::string SiteLabelOf(const CrystalRec &c, uint32_t site) {
  if (site >= static_cast<uint32_t>(UsableSiteCount(c)))
    return {};
  const char *label = c.sites[site].label;
  return std::string(label, strnlen(label, kSiteLabelSize));
}

float Dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Finds the first atom at an exact Cartesian position. A structure with many
// overlapping ligands asks this once per warning; the index over all atoms
// is built on the first question so that each answer is a lookup.
class OrthoLookup {
public:
  explicit OrthoLookup(const CrystalRec *crystal) : crystal_(crystal) {}

  bool Find(const float xyz[3], uint32_t *atom) {
    if (!crystal_)
      return false;
    if (!built_)
      Build();
    if (!built_)
      return GetAtomWithOrthoCoords(crystal_, xyz, atom);
    uint64_t key;
    if (!KeyOf(xyz, &key))
      return false;
    // Equal keys hold no promise of order: the first atom is the smallest
    // index among the exact matches.
    bool found = false;
    auto [first, last] = map_.equal_range(key);
    for (auto it = first; it != last; ++it) {
      const float *cart = crystal_->atoms[it->second].cart;
      if (cart[0] == xyz[0] && cart[1] == xyz[1] && cart[2] == xyz[2] && (!found || it->second < *atom)) {
        *atom = it->second;
        found = true;
      }
    }
    return found;
  }

private:
  // Bit patterns of the three floats (minus zero made plus zero, so that
  // equal values share a key) mixed into one hash key; NaN equals nothing.
  static bool KeyOf(const float xyz[3], uint64_t *key) {
    uint64_t h = 1469598103934665603ull;
    for (int i = 0; i < 3; ++i) {
      if (std::isnan(xyz[i]))
        return false;
      const float v = xyz[i] == 0.0f ? 0.0f : xyz[i];
      uint32_t bits;
      std::memcpy(&bits, &v, sizeof bits);
      h = (h ^ bits) * 1099511628211ull;
    }
    *key = h;
    return true;
  }

  void Build() {
    try {
      const int32_t n = UsableAtomCount(*crystal_);
      map_.reserve(static_cast<size_t>(n));
      for (int32_t i = 0; i < n; ++i) {
        uint64_t key;
        if (KeyOf(crystal_->atoms[static_cast<size_t>(i)].cart, &key))
          map_.emplace(key, static_cast<uint32_t>(i));
      }
      built_ = true;
    } catch (const std::bad_alloc &) {
      map_.clear();
    }
  }

  const CrystalRec *crystal_;
  bool built_ = false;
  std::unordered_multimap<uint64_t, uint32_t> map_;
};

// "Warning: polyhedron contains overlapping atoms: ..." naming two atoms.
void WarnOverlapAtoms(const CrystalRec &c, uint32_t atomP, uint32_t atomQ) {
  const std::string labelP = SiteLabelOf(c, c.atoms[atomP].site);
  const std::string labelQ = SiteLabelOf(c, c.atoms[atomQ].site);
  char text[256];
  std::snprintf(text, sizeof text, "Warning: polyhedron contains overlapping atoms: %s (No. %ld) and %s (No. %ld)",
                labelP.c_str(), static_cast<long>(atomP), labelQ.c_str(), static_cast<long>(atomQ));
  FWriteColor(text, kWarningColour);
}

void WarnOverlap(CrystalRec *crystal, const float p[3], const float q[3], OrthoLookup *lookup) {
  uint32_t atomP = 0, atomQ = 0;
  bool foundP = false, foundQ = false;
  if (!crystal) {
    // Points of no structure: told by position.
  } else if (lookup) {
    foundP = lookup->Find(p, &atomP);
    foundQ = foundP && lookup->Find(q, &atomQ);
  } else {
    foundP = GetAtomWithOrthoCoords(crystal, p, &atomP);
    foundQ = foundP && GetAtomWithOrthoCoords(crystal, q, &atomQ);
  }
  if (foundP && foundQ) {
    WarnOverlapAtoms(*crystal, atomP, atomQ);
    return;
  }
  char text[256];
  std::snprintf(text, sizeof text,
                "Warning: polyhedron contains overlapping atoms, at: {%.4f %.4f %.4f} and: {%.4f %.4f %.4f} A",
                double(p[0]), double(p[1]), double(p[2]), double(q[0]), double(q[1]), double(q[2]));
  FWriteColor(text, kWarningColour);
}

// The face search asks about every triple of points, so its arithmetic is
// kept here where it can be inlined (the tests of every triple are inlined
// by force: in a file this large the compiler may call them instead). Each
// helper does exactly what its namesake of the vector library does,
// operation for operation, so every answer is the same to the last bit.
inline void Diff(const float a[3], const float b[3], float out[3]) {
  out[0] = a[0] - b[0];
  out[1] = a[1] - b[1];
  out[2] = a[2] - b[2];
}

// ParallelVec of two vectors given as their unit vectors (ok: the vector
// was not zero).
inline bool ParallelUnits(bool okU, const float uu[3], bool okV, const float vv[3]) {
  if (!okU || !okV)
    return true;
  float s = std::fabs(uu[0] - vv[0]) + std::fabs(uu[1] - vv[1]) + std::fabs(uu[2] - vv[2]);
  if (s > kParallelTolerance)
    s = std::fabs(uu[0] + vv[0]) + std::fabs(uu[1] + vv[1]) + std::fabs(uu[2] + vv[2]);
  return s < kParallelTolerance;
}

// CalcPlaneNormal.
inline void PlaneNormal(const float p0[3], const float p1[3], const float p2[3], float n[3]) {
  float u[3], v[3];
  Diff(p0, p1, u);
  Diff(p2, p1, v);
  const float x[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
  GetUnitVector(x, n);
}

// True when PointsAreColinear(a, b, c) is false for certain, found without
// the unit vectors: the directions b - a and c - b are parallel (either way)
// when their unit vectors differ by less than kParallelTolerance summed over
// the components, which needs the sine of their angle below that tolerance;
// a sine clear of it by more than the rounding answers at once.
[[gnu::always_inline]] inline bool ClearlyNotColinear(const float a[3], const float b[3], const float c[3]) {
  constexpr double kClearSine = 1.1 * static_cast<double>(kParallelTolerance);
  constexpr double kSmallest = 1e-20; // below this a float length may vanish
  const double u[3] = {double{b[0]} - a[0], double{b[1]} - a[1], double{b[2]} - a[2]};
  const double v[3] = {double{c[0]} - b[0], double{c[1]} - b[1], double{c[2]} - b[2]};
  const double uu = u[0] * u[0] + u[1] * u[1] + u[2] * u[2];
  const double vv = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  if (!(uu > kSmallest) || !(vv > kSmallest))
    return false;
  const double x[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
  return x[0] * x[0] + x[1] * x[1] + x[2] * x[2] > kClearSine * kClearSine * uu * vv;
}

// PointsAreColinear for points i < j < k of a set, from the unit vectors
// of the differences of the pairs a < b, each made when first asked for and
// kept for the rest of the set.
class PairDirections {
public:
  void Reset(int32_t n, const float (*points)[3]) {
    n_ = static_cast<size_t>(n);
    points_ = points;
    tabled_ = n_ <= kMaxTabled;
    if (!tabled_)
      return;
    if (units_.size() < n_ * n_)
      units_.resize(n_ * n_);
    if (++generation_ == 0) { // the stamps wrapped: every entry is stale
      for (Entry &e : units_)
        e.stamp = 0;
      generation_ = 1;
    }
  }

  bool Colinear(size_t i, size_t j, size_t k) {
    if (!tabled_)
      return PointsAreColinear(points_[i], points_[j], points_[k]);
    const Entry &u = Get(i, j);
    const Entry &v = Get(j, k);
    return ParallelUnits(u.ok, u.u, v.ok, v.u);
  }

private:
  // Larger sets are asked directly rather than given a table of n² entries.
  static constexpr size_t kMaxTabled = 512;
  struct Entry {
    float u[3] = {0.0f, 0.0f, 0.0f};
    bool ok = false;
    uint32_t stamp = 0; // the set it was made for
  };

  const Entry &Get(size_t a, size_t b) {
    Entry &e = units_[a * n_ + b];
    if (e.stamp != generation_) {
      float d[3];
      Diff(points_[b], points_[a], d);
      e.ok = GetUnitVector(d, e.u);
      e.stamp = generation_;
    }
    return e;
  }

  size_t n_ = 0;
  bool tabled_ = false;
  uint32_t generation_ = 0;
  const float (*points_)[3] = nullptr;
  std::vector<Entry> units_;
};

// What IsInternalTriple answers for a triple, found without the unit normal
// where every test it makes is clear of its tolerance: kUnsure when one is
// not (or the normal is degenerate), and the triple must be asked that way.
//
// A test IsInternalTriple makes is |a . n| against a tolerance, n the unit
// normal rounded from the cross product x, a a float difference of two
// points or of a point and the centre. Its float answer lies within
// kNormalTestError * sum |a_i| of (a . x) / |x|: the rounding of the length,
// the quotients and the dot product together (x is the same float vector
// here and there). sum |a_i| is at most the sum of the set's extents along
// the axes (the centre lies among the points), so one error serves the whole
// set. A value whose exact square, (a . x)^2, lies beyond
// (tolerance +- error)^2 |x|^2 answers the test the same way, and its sign
// is the sign of the float value.
enum class TripleVerdict { kInternal, kFace, kUnsure };

constexpr double kNormalTestError = 2e-6; // about five times the bound
constexpr float kSmallestNormalSq = 1e-30f;
constexpr float kLargestNormalSq = 1e30f;

// The squares of a tolerance narrowed and widened by the error, for
// comparing (a . x)^2 with them times |x|^2: `inside` is negative when the
// error leaves no room inside.
struct ToleranceSquares {
  double inside = -1.0, outside = 0.0;
  ToleranceSquares() = default;
  ToleranceSquares(double tolerance, double error) {
    const double below = tolerance - error, above = tolerance + error;
    inside = below > 0.0 ? below * below : -1.0;
    outside = above * above;
  }
  // -1: within the tolerance; 1: beyond it; 0: too close to tell (NaN too).
  int Test(double dot, double xx) const {
    const double dd = dot * dot;
    return dd < inside * xx ? -1 : dd > outside * xx ? 1 : 0;
  }
};

// The error of the plane tests on a set of points: kNormalTestError times a
// bound on sum |a_i|. Every point counts, the overlapping ones too, since the
// centre is their mean; the bound is widened for the rounding of the
// differences and of the centre (an ulp of the largest coordinate).
double PlaneTestError(int32_t count, const float (*points)[3]) {
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  double largest = 0.0;
  for (int32_t p = 0; p < count; ++p)
    for (int i = 0; i < 3; ++i) {
      const double v = points[p][i];
      lo[i] = std::min(lo[i], v);
      hi[i] = std::max(hi[i], v);
      largest = std::max(largest, std::fabs(v));
    }
  const double extent = (hi[0] - lo[0]) + (hi[1] - lo[1]) + (hi[2] - lo[2]);
  // A set with a NaN has a NaN centre: its tests are all unsure.
  return kNormalTestError * (1.001 * extent + 1e-6 * largest + 1e-6);
}

// The certain answers for the triples of one point set. The triples come
// first point by first point, and the differences from the first point to
// every other point and to the centre, which every plane test of its
// triples reads, are made once for them all.
class PlaneTests {
public:
  void Reset(int32_t count, const float (*points)[3], const float centre[3], const uint8_t *usable) {
    count_ = count;
    points_ = points;
    centre_ = centre;
    usable_ = usable;
    const double error = PlaneTestError(count, points);
    internal_ = ToleranceSquares(kInternalFaceTolerance, error);
    coplanar_ = ToleranceSquares(kCoplanarTolerance, error);
    from_.resize(static_cast<size_t>(count));
    origin_ = UINT32_MAX;
  }

  // The triple face[0..2], face[0] the smallest of the three.
  [[gnu::always_inline]] TripleVerdict Classify(int32_t *faceCount, uint32_t *face, int32_t *witness) {
    if (face[0] != origin_)
      SetOrigin(face[0]);
    const uint32_t f0 = face[0], f1 = face[1], f2 = face[2];
    const float *u = from_[f1].f;
    float v[3];
    Diff(points_[f2], points_[f1], v);
    // PlaneNormal's cross product, operation for operation.
    const float xf[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    const float sum = xf[0] * xf[0] + xf[1] * xf[1] + xf[2] * xf[2];
    if (!(sum >= kSmallestNormalSq && sum <= kLargestNormalSq))
      return TripleVerdict::kUnsure;
    const double x[3] = {xf[0], xf[1], xf[2]};
    const double xx = x[0] * x[0] + x[1] * x[1] + x[2] * x[2];
    auto along = [&](const double *a) { return a[0] * x[0] + a[1] * x[1] + a[2] * x[2]; };
    const double s = along(toCentre_);
    const int centreTest = internal_.Test(s, xx);
    if (centreTest == 0)
      return TripleVerdict::kUnsure;
    const bool internal = centreTest < 0;
    // A point clearly off the plane rejects an internal face, and a face
    // whose centre side it is not on.
    auto rejects = [&](int test, double t) { return test > 0 && (internal || t * s < 0.0); };
    const int32_t w = *witness;
    if (w >= 0 && w < count_ && usable_[w]) {
      const uint32_t uw = static_cast<uint32_t>(w);
      if (uw != f0 && uw != f1 && uw != f2) {
        const double t = along(from_[uw].d);
        if (rejects(coplanar_.Test(t, xx), t))
          return TripleVerdict::kInternal;
      }
    }
    int32_t n = 3;
    for (int32_t p = 0; p < count_; ++p) {
      const uint32_t up = static_cast<uint32_t>(p);
      if (!usable_[p] || up == f0 || up == f1 || up == f2)
        continue;
      const double t = along(from_[up].d);
      const int test = coplanar_.Test(t, xx);
      if (test == 0)
        return TripleVerdict::kUnsure;
      if (test < 0) {
        face[n++] = up;
      } else if (rejects(test, t)) {
        *witness = p;
        return TripleVerdict::kInternal;
      }
    }
    // Not internal, or internal with every usable point in its plane: the
    // single face of a flat set.
    *faceCount = n;
    return TripleVerdict::kFace;
  }

private:
  // p0 - q as IsInternalTriple rounds it, and widened to double.
  struct Difference {
    float f[3];
    double d[3];
  };

  void SetOrigin(uint32_t i) {
    origin_ = i;
    const float *p0 = points_[i];
    for (size_t q = 0; q < from_.size(); ++q) {
      Difference &e = from_[q];
      Diff(p0, points_[q], e.f);
      for (int c = 0; c < 3; ++c)
        e.d[c] = e.f[c];
    }
    float toCentre[3];
    Diff(p0, centre_, toCentre);
    for (int c = 0; c < 3; ++c)
      toCentre_[c] = toCentre[c];
  }

  int32_t count_ = 0;
  const float (*points_)[3] = nullptr;
  const float *centre_ = nullptr;
  const uint8_t *usable_ = nullptr;
  ToleranceSquares internal_, coplanar_;
  std::vector<Difference> from_;
  uint32_t origin_ = UINT32_MAX;
  double toCentre_[3] = {0.0, 0.0, 0.0};
};

// One face while the faces are searched: a run of FaceScratch::vertices.
struct FaceRun {
  uint32_t start = 0;
  uint32_t count = 0;
};

// The working arrays of the face search, kept from one polyhedron to the
// next (the build asks for one per atom; the engine's searches run on the
// main thread one at a time). The polyhedron itself is made once its faces
// are known, each list at its final size.
struct FaceScratch {
  std::vector<uint8_t> usable;
  std::vector<uint32_t> face;
  std::vector<uint8_t> inFace;
  std::vector<uint8_t> used;
  std::vector<FaceRun> faces;
  std::vector<uint32_t> starts, counts; // the faces' runs, apart
  std::vector<uint32_t> vertices; // the faces' vertices; a face grown to a larger set takes a new run
  std::vector<std::array<float, 3>> coords; // GenPolyImpl's point list
  std::vector<uint32_t> mark;
  PairDirections directions;
  PlaneTests planes;
  FaceCandidatePairs pairs;
};
FaceScratch sFaceScratch;

// IsInternalFace for a face of three points, the usable points counted by
// the caller. The answer does not depend on the order in which the points
// are looked at: a point off the plane on the far side from the centre, or
// any point off a plane through the centre, rejects the face. So the point
// that rejected the last triple (*witness, -1 for none) is asked first, as it
// usually rejects the next one too; the full walk in point order still makes
// the face of a triple that stands.
bool IsInternalTriple(int32_t count, const float (*points)[3], const float centre[3], const uint8_t *usable,
                      int32_t usableCount, int32_t *faceCount, uint32_t *face, int32_t *witness) {
  const float *p0 = points[face[0]];
  float nrm[3];
  PlaneNormal(p0, points[face[1]], points[face[2]], nrm);
  float toCentre[3];
  Diff(p0, centre, toCentre);
  const float s = Dot(toCentre, nrm);
  bool internal = std::fabs(s) < kInternalFaceTolerance;
  const uint32_t f0 = face[0], f1 = face[1], f2 = face[2];
  const int32_t w = *witness;
  if (w >= 0 && w < count && usable[w]) {
    const uint32_t uw = static_cast<uint32_t>(w);
    if (uw != f0 && uw != f1 && uw != f2) {
      float d[3];
      Diff(p0, points[w], d);
      const float t = Dot(d, nrm);
      if (!(std::fabs(t) < kCoplanarTolerance) && (internal || t * s < 0.0f))
        return true;
    }
  }
  int32_t n = 3;
  int32_t offPlane = -1;
  for (int32_t p = 0; p < count; ++p) {
    const uint32_t up = static_cast<uint32_t>(p);
    if (!usable[p] || up == f0 || up == f1 || up == f2)
      continue;
    float d[3];
    Diff(p0, points[p], d);
    const float t = Dot(d, nrm);
    if (std::fabs(t) < kCoplanarTolerance) {
      face[n++] = up;
    } else if (t * s < 0.0f) {
      *witness = p;
      *faceCount = n;
      return true;
    } else if (offPlane < 0) {
      offPlane = p;
    }
  }
  *faceCount = n;
  if (n == usableCount && internal)
    return false;
  if (internal)
    *witness = offPlane; // a plane through the centre: any point off it rejects it
  return internal;
}

// IsDuplicateFace for a triple against the faces found so far.
[[gnu::always_inline]] inline bool IsDuplicateTriple(const FaceScratch &scratch, const uint32_t *face) {
  for (const FaceRun &f : scratch.faces) {
    if (f.count <= 3)
      continue;
    const uint32_t *first = scratch.vertices.data() + f.start;
    const uint32_t *last = first + f.count;
    if (std::find(first, last, face[0]) != last && std::find(first, last, face[1]) != last &&
        std::find(first, last, face[2]) != last)
      return true;
  }
  return false;
}

// The faces come from the triples of points i < j < k in that order: a
// triple that is not collinear, not held by a larger face already found and
// not internal gives the face of its plane. Only the second test asks about
// the faces found, so the triples that are internal for certain (a pair of
// them deep inside the hull, FaceCandidates.h) are passed over unasked, and
// the others are asked cheapest rejection first: the internal test (with
// its witness) before the collinearity.
// The polyhedron of faces given as runs of `vertices` (positions in the
// point list).
Polyhedron FacesToPolyhedron(std::span<const uint32_t> starts, std::span<const uint32_t> counts,
                             const uint32_t *vertices, uint32_t distinct) {
  Polyhedron poly;
  poly.faceCount = static_cast<uint32_t>(starts.size());
  poly.faces.resize(starts.size());
  for (size_t f = 0; f < starts.size(); ++f) {
    PolyFace &out = poly.faces[f];
    out.vertexCount = counts[f];
    out.vertices.assign(vertices + starts[f], vertices + starts[f] + counts[f]);
  }
  poly.vertexCount = distinct;
  return poly;
}

// `shapes`, when given, files the faces of small sets by shape for the rest
// of a build (FaceShapes.h); `meter`, when given, counts the search's work
// and stops it (no faces) when the user cancels.
std::optional<Polyhedron> MakeFacesImpl(CrystalRec *crystal, int32_t n, const float (*points)[3], uint32_t *vertexCount,
                                        OrthoLookup *lookup, FaceShapes *shapes = nullptr,
                                        BuildMeter *meter = nullptr) {
  if (vertexCount)
    *vertexCount = 0;
  if (n < 3 || !points)
    return std::nullopt;
  try {
    const size_t un = static_cast<size_t>(n);
    double sum[3] = {0.0, 0.0, 0.0};
    for (size_t p = 0; p < un; ++p)
      for (int i = 0; i < 3; ++i)
        sum[i] += points[p][i];
    const float centroid[3] = {static_cast<float>(sum[0] / n), static_cast<float>(sum[1] / n),
                               static_cast<float>(sum[2] / n)};

    bool filed = false;
    if (shapes && n < kHullFromPoints) {
      try {
        filed = shapes->MakeKey(n, points, centroid);
      } catch (const std::bad_alloc &) {
        filed = false;
      }
    }
    if (filed) {
      FaceShapes::Faces known;
      if (shapes->Find(&known)) {
        if (known.starts.empty())
          return std::nullopt;
        if (vertexCount)
          *vertexCount = known.distinct;
        return FacesToPolyhedron(known.starts, known.counts, known.vertices.data(), known.distinct);
      }
    }

    // Overlapping points: the later one of a pair goes.
    FaceScratch &scratch = sFaceScratch;
    std::vector<uint8_t> &usable = scratch.usable;
    usable.assign(un, 1);
    int32_t m = n;
    for (size_t p = 0; p < un; ++p) {
      if (!usable[p])
        continue;
      if (meter && meter->Add(un))
        return std::nullopt;
      for (size_t q = p + 1; q < un; ++q) {
        if (!usable[q])
          continue;
        float d[3];
        Diff(points[p], points[q], d);
        if (Dot(d, d) < kOverlapDistanceSq) {
          WarnOverlap(crystal, points[p], points[q], lookup);
          usable[q] = 0;
          --m;
        }
      }
    }

    std::vector<FaceRun> &faces = scratch.faces;
    faces.clear();
    std::vector<uint32_t> &vertices = scratch.vertices;
    vertices.clear();
    std::vector<uint32_t> &face = scratch.face;
    face.assign(un, 0);
    std::vector<uint8_t> &inFace = scratch.inFace;
    inFace.assign(un, 0);
    PairDirections &directions = scratch.directions;
    directions.Reset(n, points);
    int32_t witness = -1;
    PlaneTests &planes = scratch.planes;
    planes.Reset(n, points, centroid, usable.data());
    // Each triple's plane tests look at every point.
    bool stopped = false;
    auto tryTriple = [&](size_t i, size_t j, size_t k) {
      if (meter && meter->Add(un)) {
        stopped = true;
        return;
      }
      face[0] = static_cast<uint32_t>(i);
      face[1] = static_cast<uint32_t>(j);
      face[2] = static_cast<uint32_t>(k);
      int32_t count = 3;
      if (m >= 4) {
        const TripleVerdict verdict = planes.Classify(&count, face.data(), &witness);
        if (verdict == TripleVerdict::kInternal ||
            (verdict == TripleVerdict::kUnsure &&
             IsInternalTriple(n, points, centroid, usable.data(), m, &count, face.data(), &witness)))
          return;
      }
      if ((!ClearlyNotColinear(points[i], points[j], points[k]) && directions.Colinear(i, j, k)) ||
          IsDuplicateTriple(scratch, face.data()))
        return;

      // A face that holds an existing one replaces it when larger; a face
      // held by an existing one is not added.
      for (int32_t v = 0; v < count; ++v)
        inFace[face[static_cast<size_t>(v)]] = 1;
      bool add = true;
      for (FaceRun &f : faces) {
        uint32_t shared = 0;
        for (uint32_t v = 0; v < f.count; ++v)
          shared += inFace[vertices[f.start + v]];
        if (shared == f.count) {
          if (static_cast<uint32_t>(count) > f.count) {
            f.start = static_cast<uint32_t>(vertices.size());
            f.count = static_cast<uint32_t>(count);
            vertices.insert(vertices.end(), face.begin(), face.begin() + count);
          }
          add = false;
          break;
        }
        if (shared == static_cast<uint32_t>(count)) {
          add = false;
          break;
        }
      }
      for (int32_t v = 0; v < count; ++v)
        inFace[face[static_cast<size_t>(v)]] = 0;
      if (add) {
        faces.push_back({static_cast<uint32_t>(vertices.size()), static_cast<uint32_t>(count)});
        vertices.insert(vertices.end(), face.begin(), face.begin() + count);
      }
    };

    if (m < kHullFromPoints) {
      for (size_t i = 0; i < un && !stopped; ++i) {
        if (!usable[i])
          continue;
        for (size_t j = i + 1; j < un && !stopped; ++j) {
          if (!usable[j])
            continue;
          for (size_t k = j + 1; k < un && !stopped; ++k)
            if (usable[k])
              tryTriple(i, j, k);
        }
      }
    } else {
      // The triples i < j < k whose three pairs are all candidates, in the
      // same order.
      FaceCandidatePairs &pairs = scratch.pairs;
      pairs.Make(n, points, usable.data(), kCoplanarTolerance);
      std::vector<uint32_t> &mark = scratch.mark;
      mark.assign(un, 0);
      uint32_t stamp = 0;
      for (size_t i = 0; i < un && !stopped; ++i) {
        const std::span<const uint32_t> afterI = pairs.Later(static_cast<uint32_t>(i));
        for (size_t b = 0; b < afterI.size() && !stopped; ++b) {
          const size_t j = afterI[b];
          ++stamp;
          for (uint32_t k : pairs.Later(static_cast<uint32_t>(j)))
            mark[k] = stamp;
          for (size_t c = b + 1; c < afterI.size() && !stopped; ++c)
            if (mark[afterI[c]] == stamp)
              tryTriple(i, j, afterI[c]);
        }
      }
    }
    if (stopped)
      return std::nullopt;
    std::vector<uint32_t> &starts = scratch.starts, &counts = scratch.counts;
    starts.clear();
    counts.clear();
    std::vector<uint8_t> &used = scratch.used;
    used.assign(un, 0);
    uint32_t distinct = 0;
    for (const FaceRun &f : faces) {
      starts.push_back(f.start);
      counts.push_back(f.count);
      for (uint32_t v = f.start; v < f.start + f.count; ++v)
        if (!used[vertices[v]]) {
          used[vertices[v]] = 1;
          ++distinct;
        }
    }
    // A set with overlapping points is not filed: its warnings are given
    // each time.
    if (filed && m == n) {
      try {
        shapes->Add(starts, counts, vertices, distinct);
      } catch (const std::bad_alloc &) {
        // Not filed; asked again next time.
      }
    }
    if (faces.empty())
      return std::nullopt;
    if (vertexCount)
      *vertexCount = distinct;
    return FacesToPolyhedron(starts, counts, vertices.data(), distinct);
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return std::nullopt;
  }
}

// `carts`, when given, holds every atom's Cartesian coordinates in atom
// order (a compact copy that a build over many atoms reads in cache).
// `meter`, when given, is the build's (MakeFacesImpl); a search the user
// stopped makes no polyhedron and no report.
std::optional<Polyhedron> GenPolyImpl(CrystalRec *crystal, uint32_t n, const uint32_t *atoms, OrthoLookup *lookup,
                                      const float (*carts)[3] = nullptr, FaceShapes *shapes = nullptr,
                                      BuildMeter *meter = nullptr) {
  if (!crystal || !atoms)
    return std::nullopt;
  const uint32_t atomCount = static_cast<uint32_t>(UsableAtomCount(*crystal));
  for (uint32_t i = 0; i < n; ++i)
    if (atoms[i] >= atomCount)
      return std::nullopt;
  try {
    if (n == 3) {
      Polyhedron poly;
      poly.faceCount = 1;
      poly.vertexCount = 3;
      poly.faces.resize(1);
      poly.faces[0].vertexCount = 3;
      poly.faces[0].vertices.assign(atoms, atoms + 3);
      return poly;
    }
    std::vector<std::array<float, 3>> &coords = sFaceScratch.coords;
    coords.resize(n);
    for (uint32_t i = 0; i < n; ++i)
      std::memcpy(coords[i].data(), carts ? carts[atoms[i]] : crystal->atoms[atoms[i]].cart, sizeof coords[i]);
    static_assert(sizeof(std::array<float, 3>) == 3 * sizeof(float));
    const auto points = reinterpret_cast<const float(*)[3]>(coords.data());
    uint32_t distinct = 0;
    std::optional<Polyhedron> poly =
        MakeFacesImpl(crystal, static_cast<int32_t>(n), points, &distinct, lookup, shapes, meter);
    if (!poly) {
      if (meter && meter->Cancelled())
        return std::nullopt;
      FWriteColor("Polyhedral creation failed", kWarningColour);
      return std::nullopt;
    }
    SortFaceVertices(points, &*poly);
    for (PolyFace &f : poly->faces)
      for (uint32_t &v : f.vertices)
        v = atoms[v];
    poly->vertexCount = distinct;
    return poly;
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return std::nullopt;
  }
}

// std::stable_sort by CompareLigandsByDistance, done in place for a usual
// coordination: the library's sort takes a buffer from the heap each time.
void SortLigands(std::vector<LigandEntry> &ligands) {
  constexpr size_t kInPlaceUpTo = 32;
  const bool ordered = std::none_of(ligands.begin(), ligands.end(), [](const LigandEntry &e) {
    return std::isnan(e.distSq); // no strict weak order: left to the library
  });
  if (ligands.size() > kInPlaceUpTo || !ordered) {
    std::stable_sort(ligands.begin(), ligands.end(), CompareLigandsByDistance);
    return;
  }
  for (size_t i = 1; i < ligands.size(); ++i) {
    const LigandEntry e = ligands[i];
    size_t j = i;
    for (; j > 0 && CompareLigandsByDistance(e, ligands[j - 1]); --j)
      ligands[j] = ligands[j - 1];
    ligands[j] = e;
  }
}

// The sites coordinating site s over the whole crystal, at most s's
// coordination number of them; *limitHit tells whether the list was cut.
// Uses the given index, or makes one for this question; marks as List does.
int32_t CoordinatingSites(const CrystalRec *crystal, uint32_t s, std::vector<int32_t> *sites, bool *limitHit,
                          CoordinationNeighbours *index, std::vector<uint32_t> *marks) {
  *limitHit = false;
  if (sites)
    sites->clear();
  if (!crystal)
    return 0;
  if (index)
    return index->List(*crystal, s, sites, limitHit, marks);
  CoordinationNeighbours own(*crystal);
  return own.List(*crystal, s, sites, limitHit, marks);
}

// What the roles of the sites are worked out from, made on the first
// question that needs each part and kept for the later ones.
struct RoleContext {
  std::optional<CoordinationNeighbours> index; // first-cell atoms, for the whole crystal
  // For questions about every site: the site of every atom, or kHiddenAtom
  // for one not visible or of no usable site. The bond walk reads it for
  // every bonded atom, and reading the atom records instead costs a cache
  // miss each in a large structure.
  bool tabulate = false;
  std::vector<uint32_t> siteOf;
  // The sites coordinating a site, and whether the list was cut, as asked
  // of the index once per site: every site a dense crystal's sites reach
  // is asked about by each of them.
  std::unordered_map<uint32_t, std::pair<std::vector<int32_t>, bool>> around;
  // The sites found with more atoms within bond reach than bonds, told
  // once when every question is answered.
  std::vector<uint32_t> *crowded = nullptr;
  std::vector<uint32_t> crowdedHere;
  // The modes a pass of the roles works on, which the lists of coordinating
  // sites mark; none for a single question.
  std::vector<uint32_t> *marks = nullptr;
  // For a neighbour with many bonds, asked about by each atom bonded to it
  // (a centre of thousands of atoms at one place): the first atom it bonds
  // of a still higher coordination, or kHiddenAtom, and whether another
  // such atom follows. Which atom asks then needs no walk of its bonds.
  std::unordered_map<uint32_t, std::pair<uint32_t, bool>> higherBeyond;
  // A site may be noted more than once (TellCrowdedSites names each once):
  // looking for it first would cost a walk of the list per note.
  void NoteCrowded(uint32_t site) { (crowded ? *crowded : crowdedHere).push_back(site); }
};
constexpr uint32_t kHiddenAtom = UINT32_MAX;

void CheckPolyVertexSiteImpl(const CrystalRec *crystal, uint32_t site, bool *isVertex, bool *bondsToOwnSite,
                             RoleContext *context);

} // namespace

bool CompareLigandsByDistance(const LigandEntry &a, const LigandEntry &b) { return a.distSq > b.distSq; }

// ---- Faces ---------------------------------------------------------------------------------

std::optional<Polyhedron> MakeFaces(CrystalRec *crystal, int32_t count, const float (*points)[3],
                                    uint32_t *vertexCount) {
  return MakeFacesImpl(crystal, count, points, vertexCount, nullptr);
}

bool IsInternalFace(int32_t count, const float (*points)[3], const float centre[3], const uint8_t *usable,
                    int32_t *faceCount, uint32_t *face) {
  if (!points || !centre || !usable || !faceCount || !face || *faceCount < 3 || *faceCount > count)
    return true;
  const int32_t given = *faceCount;
  const float *p0 = points[face[0]];
  float nrm[3];
  CalcPlaneNormal(p0, points[face[1]], points[face[2]], nrm);
  float toCentre[3];
  VecDiff(p0, centre, toCentre);
  const float s = Dot(toCentre, nrm);
  bool internal = std::fabs(s) < kInternalFaceTolerance;
  int32_t n = given;
  int32_t usableCount = 0;
  for (int32_t p = 0; p < count; ++p)
    if (usable[p])
      ++usableCount;
  for (int32_t p = 0; p < count; ++p) {
    if (!usable[p])
      continue;
    // Points are appended in increasing order and visited once, so only the
    // given vertices can already be in the face.
    bool present = false;
    for (int32_t v = 0; v < given; ++v)
      if (face[v] == static_cast<uint32_t>(p)) {
        present = true;
        break;
      }
    if (present)
      continue;
    float d[3];
    VecDiff(p0, points[p], d);
    const float t = Dot(d, nrm);
    if (std::fabs(t) < kCoplanarTolerance) {
      face[n++] = static_cast<uint32_t>(p);
    } else if (t * s < 0.0f) {
      internal = true;
      break;
    }
  }
  *faceCount = n;
  // A plane holding every point (overlapping ones left out) is the single
  // face of a flat polyhedron.
  if (n == usableCount && internal)
    return false;
  return internal;
}

bool IsDuplicateFace(const uint32_t *face, int32_t faceCount, const Polyhedron *poly) {
  if (!face || !poly || faceCount < 0)
    return false;
  for (const PolyFace &f : poly->faces) {
    if (f.vertexCount <= static_cast<uint32_t>(faceCount))
      continue;
    bool all = true;
    for (int32_t v = 0; v < faceCount && all; ++v)
      all = std::find(f.vertices.begin(), f.vertices.end(), face[v]) != f.vertices.end();
    if (all)
      return true;
  }
  return false;
}

void SortFaceVertices(const float (*points)[3], Polyhedron *poly) {
  if (!points || !poly)
    return;
  std::vector<std::pair<double, uint32_t>> order;
  for (PolyFace &f : poly->faces) {
    const size_t n = std::min<size_t>(f.vertexCount, f.vertices.size());
    if (n <= 3)
      continue;
    const FaceVertices &v = f.vertices;
    double centroid[3] = {0.0, 0.0, 0.0};
    for (size_t i = 0; i < n; ++i)
      for (int k = 0; k < 3; ++k)
        centroid[k] += points[v[i]][k];
    for (double &x : centroid)
      x /= double(n);

    // The normal from the first vertex, the next one at another place and the
    // first later one not on their line. Vertices at the same place (a
    // lattice plane through a corner of its box) are passed over first.
    const float *p0 = points[v[0]];
    auto samePlace = [](const float *a, const float *b) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; };
    size_t second = 1;
    while (second < n && samePlace(points[v[second]], p0))
      ++second;
    float normal[3] = {0.0f, 0.0f, 0.0f};
    bool found = false;
    if (second < n) {
      const float *p1 = points[v[second]];
      for (size_t k = second + 1; k < n; ++k) {
        const float *pk = points[v[k]];
        if (samePlace(pk, p0) || samePlace(pk, p1) || PointsAreColinear(p0, p1, pk))
          continue;
        CalcPlaneNormal(p0, p1, pk, normal);
        found = true;
        break;
      }
    }
    if (!found) {
      std::fprintf(stderr, "Error sorting face vertices: all vertices are colinear!\n");
      return;
    }
    const double nd[3] = {normal[0], normal[1], normal[2]};
    const double r0[3] = {p0[0] - centroid[0], p0[1] - centroid[1], p0[2] - centroid[2]};
    const double len0 = std::sqrt(r0[0] * r0[0] + r0[1] * r0[1] + r0[2] * r0[2]);
    order.clear();
    for (size_t i = 1; i < n; ++i) {
      const float *p = points[v[i]];
      const double r[3] = {p[0] - centroid[0], p[1] - centroid[1], p[2] - centroid[2]};
      const double len = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
      double cosine = len > 0.0 && len0 > 0.0 ? (r[0] * r0[0] + r[1] * r0[1] + r[2] * r0[2]) / (len * len0) : 1.0;
      double angle;
      if (std::fabs(cosine) > kSortCosineLimit)
        angle = cosine > 0.0 ? 0.0 : kPi;
      else
        angle = std::acos(cosine);
      double x[3];
      DCrossProduct(r, r0, x);
      // r x r0 points along the normal on one side of the reference line and
      // against it on the other. Its direction is read from its component
      // along the normal, which a vertex slightly off the face's plane does
      // not disturb; with no component of any size the vertex lies on the
      // reference line.
      const bool significant = std::fabs(x[0]) > kSortSideTolerance || std::fabs(x[1]) > kSortSideTolerance ||
                               std::fabs(x[2]) > kSortSideTolerance;
      const double along = x[0] * nd[0] + x[1] * nd[1] + x[2] * nd[2];
      if (!significant || along < 0.0)
        angle = 2.0 * kPi - angle;
      order.emplace_back(angle, v[i]);
    }
    std::stable_sort(order.begin(), order.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (size_t i = 1; i < n; ++i)
      f.vertices[i] = order[i - 1].second;
  }
}

// ---- Building polyhedra ----------------------------------------------------------------------

std::optional<Polyhedron> GenPoly(CrystalRec *crystal, uint32_t count, const uint32_t *atoms) {
  return GenPolyImpl(crystal, count, atoms, nullptr);
}

bool GetAtomWithOrthoCoords(const CrystalRec *crystal, const float xyz[3], uint32_t *atom) {
  if (!crystal || !xyz)
    return false;
  const int32_t n = UsableAtomCount(*crystal);
  for (int32_t i = 0; i < n; ++i) {
    const float *cart = crystal->atoms[static_cast<size_t>(i)].cart;
    if (cart[0] == xyz[0] && cart[1] == xyz[1] && cart[2] == xyz[2]) {
      if (atom)
        *atom = static_cast<uint32_t>(i);
      return true;
    }
  }
  return false;
}

namespace {

bool HasSitesAndAtoms(const CrystalRec *crystal) {
  return crystal && !crystal->sites.empty() && !crystal->atoms.empty() && UsableAtomCount(*crystal) >= 1 &&
         UsableSiteCount(*crystal) >= 1;
}

// Every atom's polyhedron made afresh from its bonds; false when the user
// stopped it (no atom then keeps a polyhedron). A polyhedron's flag byte is
// the display mode its site shows, or the mode the site showed when the
// polyhedra were left due (DerivedLayers::DueFlags).
bool MakeAtomPolyhedra(CrystalRec *crystal) {
  CrystalRec &c = *crystal;
  const int32_t atomCount = UsableAtomCount(c);
  const int32_t siteCount = UsableSiteCount(c);
  c.derived.SetPolyhedraDue(false);
  c.derived.HoldForSaves(0, 0);
  std::vector<uint8_t> flags = c.derived.DueFlags();
  if (flags.size() != static_cast<size_t>(siteCount)) {
    flags.resize(static_cast<size_t>(siteCount));
    for (int32_t s = 0; s < siteCount; ++s)
      flags[static_cast<size_t>(s)] = static_cast<uint8_t>(ShownPolyMode(c.sites[static_cast<size_t>(s)]) & 0xFFu);
  }
  if (gShowProgress)
    WriteStatus(kDefiningPolyhedra);

  // One walk over the atom records: the old polyhedra go, the atoms that
  // will have one are counted, and the coordinates are copied compactly
  // (the ligands' are read from the copy: reading them from the atom
  // records costs a cache miss each in a large structure). Without memory
  // for the copy no polyhedron is made.
  std::vector<std::array<float, 3>> cartsCopy;
  try {
    cartsCopy.resize(static_cast<size_t>(atomCount));
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    cartsCopy.clear();
  }
  for (size_t k = 0; k < c.atoms.size(); ++k) {
    AtomRecord &atom = c.atoms[k];
    DestroyPolyhedron(atom.polyhedron);
    if (k < cartsCopy.size())
      std::memcpy(cartsCopy[k].data(), atom.cart, sizeof cartsCopy[k]);
  }
  // A partner bonded at several alternative places is one ligand, at the
  // place the coordination count lets stand for it (CountPartners): an
  // atom's bonds are counted, and its ligands taken, one per partner.
  std::shared_ptr<const SiteAlternatives> alternatives;
  try {
    alternatives = c.derived.Alternatives(c);
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
  }
  if (alternatives && !alternatives->Any())
    alternatives.reset();
  std::vector<uint32_t> bonded, stands;
  std::vector<std::array<float, 3>> places;
  const auto partners = [&](const AtomRecord &atom) -> std::span<const uint32_t> {
    const size_t n = std::min<size_t>(atom.bondCount, atom.bonds.size());
    const std::span<const uint32_t> bonds(atom.bonds.data(), n);
    if (!alternatives || n < 2)
      return bonds;
    places.clear();
    for (const uint32_t b : bonds) {
      if (b >= cartsCopy.size())
        return bonds; // checked by the caller
      places.push_back(cartsCopy[b]);
    }
    if (CountPartners(*alternatives, bonds, places, &stands) == n)
      return bonds;
    bonded.clear();
    for (size_t k = 0; k < n; ++k)
      if (stands[k] == k)
        bonded.push_back(bonds[k]);
    return bonded;
  };
  int32_t total = 0;
  for (size_t k = 0; k < c.atoms.size() && k < cartsCopy.size(); ++k) {
    const AtomRecord &atom = c.atoms[k];
    if (atom.site < static_cast<uint32_t>(siteCount) && atom.bondCount > 2 &&
        partners(atom).size() == c.sites[atom.site].coordination)
      ++total;
  }

  bool cancelled = false;
  if (total > 0) {
    try {
      OrthoLookup lookup(crystal);
      FaceShapes shapes; // the shapes of this build's polyhedra
      std::vector<LigandEntry> ligands;
      std::vector<uint32_t> distinct, candidates;
      std::vector<std::array<float, 3>> ligandPoints;
      int32_t made = 0;
      int64_t announcedSite = -1;
      // Ligands left out for overlapping: the first pair is named, and each
      // other atom left out counted once, however many centres it would join.
      std::vector<uint8_t> leftOut(static_cast<size_t>(atomCount), 0);
      int64_t overlaps = 0;
      BuildMeter meter(kPolyhedraCancelClockEvery);
      const std::function<bool(uint64_t)> thinningStop = [&meter](uint64_t triples) {
        return meter.Add(triples * kWorkPerThinnedTriple);
      };
      static_assert(sizeof(std::array<float, 3>) == 3 * sizeof(float));
      const auto carts = reinterpret_cast<const float(*)[3]>(cartsCopy.data());
      auto overlapping = [](const float *p, const float *q) {
        float d[3];
        Diff(p, q, d);
        return Dot(d, d) < kOverlapDistanceSq;
      };
      for (int32_t i = 0; i < atomCount; ++i) {
        if (meter.Step()) {
          cancelled = true;
          break;
        }
        AtomRecord &atom = c.atoms[static_cast<size_t>(i)];
        if (atom.site >= static_cast<uint32_t>(siteCount))
          continue;
        const AsymmetricUnitRecord &site = c.sites[atom.site];
        const uint32_t all = static_cast<uint32_t>(std::min<size_t>(atom.bondCount, atom.bonds.size()));
        if (all < 3 || all < site.coordination)
          continue;
        bool bondsValid = true;
        for (uint32_t k = 0; k < all; ++k)
          if (atom.bonds[k] >= static_cast<uint32_t>(atomCount)) {
            bondsValid = false;
            break;
          }
        if (!bondsValid)
          continue;
        const std::span<const uint32_t> ligandAtoms = partners(atom);
        const uint32_t n = static_cast<uint32_t>(ligandAtoms.size());
        if (n < 3 || n < site.coordination)
          continue;

        // A ligand at the place of the centre or of an earlier ligand (a
        // pasted atom list, two sites at one place) goes before the search:
        // the hull of the others is the same, and overlapping points would
        // make every plane through them degenerate.
        distinct.clear();
        for (uint32_t k = 0; k < n; ++k) {
          const uint32_t ligand = ligandAtoms[k];
          if (meter.Add(distinct.size() + 1)) {
            cancelled = true;
            break;
          }
          uint32_t other = static_cast<uint32_t>(i);
          bool covered = overlapping(carts[ligand], atom.cart);
          for (size_t e = 0; e < distinct.size() && !covered; ++e)
            if (distinct[e] == ligand || overlapping(carts[distinct[e]], carts[ligand])) {
              other = distinct[e];
              covered = true;
            }
          if (!covered) {
            distinct.push_back(ligand);
          } else if (other != ligand && !leftOut[ligand]) {
            leftOut[ligand] = 1;
            if (overlaps++ == 0)
              WarnOverlapAtoms(c, other, ligand);
          }
        }
        if (cancelled)
          break;
        const uint32_t m = static_cast<uint32_t>(distinct.size());
        if (m < 3)
          continue;

        candidates.clear();
        if (m <= 4) {
          candidates.assign(distinct.begin(), distinct.end());
        } else {
          ligands.clear();
          for (uint32_t k = 0; k < m; ++k) {
            LigandEntry e;
            e.atom = distinct[k];
            float d[3];
            Diff(carts[e.atom], atom.cart, d);
            e.distSq = Dot(d, d);
            ligands.push_back(e);
          }
          SortLigands(ligands);
          ligandPoints.resize(ligands.size());
          for (size_t k = 0; k < ligands.size(); ++k)
            std::memcpy(ligandPoints[k].data(), carts[ligands[k].atom], sizeof ligandPoints[k]);
          ThinLigands(atom.cart, reinterpret_cast<const float(*)[3]>(ligandPoints.data()), ligands,
                      thinningStop);
          for (const LigandEntry &e : ligands)
            if (e.usable)
              candidates.push_back(e.atom);
        }

        std::optional<Polyhedron> poly = GenPolyImpl(crystal, static_cast<uint32_t>(candidates.size()),
                                                     candidates.data(), &lookup, carts, &shapes, &meter);
        if (meter.Cancelled()) {
          cancelled = true;
          break;
        }
        if (!poly)
          continue;

        // A flat set of ligands: the centre joins as a vertex when it stands
        // clear of their plane.
        if (poly->faceCount == 1) {
          const float *p0 = carts[distinct[0]];
          const float *p1 = carts[distinct[1]];
          const float *p2 = nullptr;
          for (uint32_t k = 2; k < m; ++k) {
            const float *pk = carts[distinct[k]];
            if (!PointsAreColinear(p0, p1, pk)) {
              p2 = pk;
              break;
            }
          }
          if (!p2) {
            std::fprintf(stderr, "Error checking for pyramidal coordination: all atoms are colinear!\n");
          } else {
            float centroid[3], normal[3], offset[3];
            for (int k = 0; k < 3; ++k)
              centroid[k] = (p0[k] + p1[k] + p2[k]) / 3.0f;
            CalcPlaneNormal(p0, p1, p2, normal);
            VecDiff(atom.cart, centroid, offset);
            if (std::fabs(Dot(offset, normal)) > kPyramidTolerance) {
              candidates.push_back(static_cast<uint32_t>(i));
              poly = GenPolyImpl(crystal, static_cast<uint32_t>(candidates.size()), candidates.data(), &lookup, carts,
                                 &shapes, &meter);
              if (meter.Cancelled()) {
                cancelled = true;
                break;
              }
              if (!poly)
                continue;
            }
          }
        }

        poly->centreAtom = static_cast<uint32_t>(i);
        poly->flag = flags[atom.site];
        atom.polyhedron.Hold(std::move(*poly));
        if (gShowProgress) {
          ++made;
          const float percent = static_cast<float>(made) * 100.0f / static_cast<float>(total);
          meter.SetPercent(percent);
          if (static_cast<int64_t>(atom.site) != announcedSite) {
            announcedSite = atom.site;
            char text[64];
            std::snprintf(text, sizeof text, "Defining polyhedra (site '%s') ...", SiteLabelOf(c, atom.site).c_str());
            WriteProgress(text, percent);
          } else {
            WriteProgress("", percent);
          }
        }
      }
      if (overlaps > 1) {
        char text[128];
        std::snprintf(text, sizeof text, "Warning: %lld more overlapping atoms left out of polyhedra",
                      static_cast<long long>(overlaps - 1));
        FWriteColor(text, kWarningColour);
      }
    } catch (const std::bad_alloc &) {
      // Out of memory: the atoms done so far keep their polyhedra, unless
      // the failure passes (MemoryBudget.h).
      if (MemoryFailuresPass())
        throw;
    }
  }
  // Cancelled by the user: no atom keeps a polyhedron, so the structure is
  // drawn as though it had none rather than with a part of them.
  if (cancelled) {
    for (AtomRecord &atom : c.atoms)
      DestroyPolyhedron(atom.polyhedron);
    if (gShowProgress)
      CloseStatus();
    FWrite("Polyhedra cancelled: the structure is shown without polyhedra.");
  }
  c.derived.PolyhedraTaken(c, !cancelled);
  return !cancelled;
}

// A site's mode from the one it had and the role a pass gives it: a mode
// the site has survives, but a low-coordinated site whose mode draws a
// polyhedron takes the role.
uint32_t ComposedPolyMode(uint32_t had, uint32_t role, uint32_t coordination) {
  const bool keepsLowMode = had == kPolyModeVertex || had == kPolyModeAtom || had == kPolyModeAtomWireBonds ||
                            had == kPolyModeAtomStickBonds || had == kPolyModeWireBonds || had == kPolyModeStickBonds;
  return had == kPolyModeUnset || (coordination < 3 && !keepsLowMode) ? role : had;
}

// Site display modes. A mode the user chose survives: only a site without a
// role, or a low-coordinated site whose mode draws a polyhedron, takes the
// new one. The modes derived go to the sites' derived modes; the given ones
// stay.
//
// A site's role may ask the whole crystal which sites coordinate it and
// them, so the roles hear the cancel key between sites. Once the user stops
// them (or stopped an earlier stage of the command), the sites not reached
// take the role their coordination alone gives, without that search.
void SetSiteRoles(const CrystalRec &c, bool tellCrowded) {
  c.derived.DropDueRoles();
  const size_t siteCount = UsableSiteSize(c);
  // The pass works on modes of its own, every site without one to begin
  // with: the lists of coordinating sites mark the sites of their own
  // element as they go (CoordinationNeighbours::List), and a site's role is
  // judged from those marks and its bonds alone. The modes the sites showed
  // before (the user's, the file's, an earlier pass's) are composed with the
  // roles at the end, so that a second pass over the same bonds changes
  // nothing, whichever sites it lists. Without memory for them, the sites
  // keep the modes they show.
  std::vector<uint32_t> pass;
  try {
    pass.assign(siteCount, kPolyModeUnset);
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return;
  }
  RoleContext roles;
  roles.tabulate = true;
  roles.marks = &pass;
  if (gShowProgress && siteCount > 0)
    WriteStatus("Setting the roles of the sites...");
  const bool stoppedBefore = LongCommandCancelled() && !ShowingAfterStop::Active();
  CancelPoll poll(kRoleClockEvery);
  bool stopped = false;
  for (size_t s = 0; s < siteCount; ++s) {
    stopped = stopped || poll.Step();
    const uint32_t cn = c.sites[s].coordination;
    uint32_t mode;
    if (cn < 1) {
      // A crystal's bonds whose coordination was not counted (a maximum
      // reaching too far) are drawn as those of a low-coordinated site. A
      // molecule's coordination is its bond count, set by its builds; where
      // a command leaves it uncounted its sites are drawn as atoms.
      mode = !c.molecule && SiteIsBonded(c, s) ? kPolyModeWireBonds : kPolyModeAtom;
    } else if (stopped) {
      mode = cn < 3 ? kPolyModeWireBonds : kPolyModeColourShaded;
    } else {
      bool isVertex = false, ownSite = false;
      try {
        CheckPolyVertexSiteImpl(&c, static_cast<uint32_t>(s), &isVertex, &ownSite, &roles);
      } catch (const std::bad_alloc &) {
        if (MemoryFailuresPass())
          throw;
        isVertex = ownSite = false;
      }
      if (ownSite)
        mode = kPolyModeWireBonds;
      else if (isVertex)
        mode = kPolyModeVertex;
      else if (cn < 3)
        mode = kPolyModeWireBonds;
      else
        mode = kPolyModeColourShaded;
    }
    pass[s] = ComposedPolyMode(pass[s], mode, cn);
  }
  for (size_t s = 0; s < siteCount; ++s) {
    const AsymmetricUnitRecord &site = c.sites[s];
    site.derivedPolyMode = ComposedPolyMode(ShownPolyMode(site), pass[s], site.coordination);
  }
  c.derived.RolesTaken(c);
  if (tellCrowded)
    TellCrowdedSites(c, std::move(roles.crowdedHere));
  if (stopped && !stoppedBefore)
    FWrite("Site roles cancelled: the sites left are shown by their coordination alone.");
}

// Whether the roles ask questions of the whole crystal, which may take
// long: only a crystal's site with bonds does. The others are settled by a
// walk over the bonds.
bool RolesSearchTheCrystal(const CrystalRec &c) {
  if (c.molecule)
    return false;
  const size_t sites = static_cast<size_t>(UsableSiteCount(c));
  return std::any_of(c.sites.begin(), c.sites.begin() + static_cast<ptrdiff_t>(sites),
                     [](const AsymmetricUnitRecord &s) { return s.coordination > 0; });
}

// The polyhedra made and the site roles derived at once. A pass still due
// is this one: the roles derived twice over the same bonds are those
// derived once.
void DefinePolyhedraNow(CrystalRec *crystal, bool tellCrowded) {
  crystal->derived.DueFlags().clear();
  crystal->derived.ForgetModesBeforeRoles();
  MakeAtomPolyhedra(crystal);
  SetSiteRoles(*crystal, tellCrowded);
}

} // namespace

void DeriveSiteRoles(const CrystalRec &crystal, bool tellCrowded) {
  if (HasSitesAndAtoms(&crystal))
    SetSiteRoles(crystal, tellCrowded);
}

void DefinePolyhedra(CrystalRec *crystal) {
  if (!HasSitesAndAtoms(crystal))
    return;
  // Roles still due are those of the structure the command found: derived
  // first, they are the modes its polyhedra take as flags, and a second
  // pass over the same bonds would change nothing.
  if (crystal->derived.RolesDue()) {
    DeriveDueSiteRoles(*crystal);
    crystal->derived.DueFlags().clear();
    MakeAtomPolyhedra(crystal);
    return;
  }
  DefinePolyhedraNow(crystal, true);
}

void DefinePolyhedraWhenNeeded(CrystalRec *crystal) {
  if (!HasSitesAndAtoms(crystal))
    return;
  // The open tells the crowded sites once (TellCrowdedSitesAfterBonding):
  // no pass derived from here tells them again.
  if (crystal->modelType == kPolyhedralModel) {
    DefinePolyhedraNow(crystal, false);
    return;
  }
  DerivedLayers &layers = crystal->derived;
  for (AtomRecord &atom : crystal->atoms)
    DestroyPolyhedron(atom.polyhedron);
  layers.SetPolyhedraDue(true);
  layers.HoldForSaves(0, 0);
  layers.ForgetModesBeforeRoles();
  const size_t sites = static_cast<size_t>(UsableSiteCount(*crystal));
  std::vector<uint8_t> &flags = layers.DueFlags();
  flags.resize(sites);
  for (size_t s = 0; s < sites; ++s)
    flags[s] = static_cast<uint8_t>(ShownPolyMode(crystal->sites[s]) & 0xFFu);
  if (RolesSearchTheCrystal(*crystal))
    layers.LeaveRolesDue(*crystal);
  else
    SetSiteRoles(*crystal, false);
}

void RemakePolyhedraWhenNeeded(CrystalRec *crystal) {
  if (!HasSitesAndAtoms(crystal))
    return;
  crystal->derived.HoldForSaves(0, 0);
  for (AtomRecord &atom : crystal->atoms)
    DestroyPolyhedron(atom.polyhedron);
  crystal->derived.SetPolyhedraDue(true);
  crystal->derived.DueFlags().clear();
}

bool DefinePendingPolyhedra(CrystalRec *crystal) {
  if (!crystal || !crystal->derived.PolyhedraDue())
    return true;
  DerivedLayers &layers = crystal->derived;
  layers.SetPolyhedraDue(false);
  if (!HasSitesAndAtoms(crystal)) {
    layers.DueFlags().clear();
    return true;
  }
  // Flags left to the modes as they show are the modes the roles leave.
  if (layers.DueFlags().empty())
    DeriveDueSiteRoles(*crystal);
  const bool made = MakeAtomPolyhedra(crystal);
  // The roles after the polyhedra, as a build that makes them at once
  // derives them: a stop there leaves the roles to the coordination, untold.
  DeriveDueSiteRoles(*crystal);
  // Stopped, none is held and none is asked for again (a plot or a command
  // that reads polyhedra does not start over at each atom); the flags stay
  // for a caller that leaves them due once more.
  if (!made)
    return false;
  layers.DueFlags().clear();
  return true;
}

namespace {

// A running digest of 64-bit words.
class WordDigest {
public:
  void Add(uint64_t w) {
    h_ ^= std::rotl(w * 0x87c37b91114253d5ull, 31) * 0x4cf5ad432745937full;
    h_ = std::rotl(h_, 27) * 5 + 0x52dce729;
  }
  // Never 0, which stands for no digest.
  uint64_t Value() const { return h_ ? h_ : 1; }

private:
  uint64_t h_ = 0x9e3779b97f4a7c15ull;
};

// What MakeAtomPolyhedra makes the polyhedra from (every atom's place, site
// and bonds, the sites' coordination and modes, the flags left pending) as
// a digest, and how many atoms hold a polyhedron: one pass over the atoms,
// two 32-bit values to a word.
struct SaveInputs {
  uint64_t digest = 0;
  uint64_t held = 0;
};

SaveInputs ReadSaveInputs(const CrystalRec &c) {
  WordDigest d;
  const size_t sites = UsableSiteSize(c);
  d.Add(sites);
  for (size_t s = 0; s < sites; ++s)
    d.Add(uint64_t{c.sites[s].coordination} << 32 | ShownPolyMode(c.sites[s]));
  d.Add(c.derived.DueFlags().size());
  for (uint8_t flag : c.derived.DueFlags())
    d.Add(flag);
  d.Add(c.atoms.size());
  d.Add(UsableAtomSize(c));
  const auto pair = [](uint32_t high, uint32_t low) { return uint64_t{high} << 32 | low; };
  uint64_t held = 0;
  for (const AtomRecord &atom : c.atoms) {
    d.Add(pair(std::bit_cast<uint32_t>(atom.cart[0]), std::bit_cast<uint32_t>(atom.cart[1])));
    d.Add(pair(std::bit_cast<uint32_t>(atom.cart[2]), atom.site));
    const size_t bonds = atom.bonds.size();
    d.Add(pair(atom.bondCount, static_cast<uint32_t>(bonds)));
    const uint32_t *bond = atom.bonds.data();
    for (size_t k = 0; k + 1 < bonds; k += 2)
      d.Add(pair(bond[k], bond[k + 1]));
    if (bonds % 2 != 0)
      d.Add(bond[bonds - 1]);
    held += atom.polyhedron.Held() ? 1 : 0;
  }
  return {d.Value(), held};
}

} // namespace

PolyhedraForSave::PolyhedraForSave(CrystalRec &crystal)
    : crystal_(crystal), pending_(crystal.derived.PolyhedraDue()) {
  if (!pending_)
    return;
  CrystalRec &c = crystal_;
  DerivedLayers &layers = c.derived;
  if (layers.SaveInputs() != 0 && !layers.RolesDue() && layers.SaveInputsUntold()) {
    const SaveInputs now = ReadSaveInputs(c);
    if (layers.SaveHeld() == now.held && layers.SaveInputs() == now.digest) {
      layers.SetPolyhedraDue(false); // those held are made from the structure as it stands
      reused_ = true;
      return;
    }
  }
  flags_ = layers.DueFlags();
  ready_ = DefinePendingPolyhedra(&c);
}

PolyhedraForSave::~PolyhedraForSave() {
  if (!pending_)
    return;
  DerivedLayers &layers = crystal_.derived;
  layers.SetPolyhedraDue(true);
  // Those reused were held, and are still held, for the structure as it
  // stands: the save changed nothing they were made from.
  if (reused_)
    return;
  layers.DueFlags() = std::move(flags_);
  const SaveInputs now = ReadSaveInputs(crystal_);
  layers.HoldForSaves(ready_ ? now.digest : 0, now.held);
}

const Polyhedron *AtomPolyhedron(CrystalRec *crystal, const AtomRecord &atom) {
  if (crystal && crystal->derived.PolyhedraDue())
    DefinePendingPolyhedra(crystal);
  return atom.polyhedron.value_ ? &*atom.polyhedron.value_ : nullptr;
}

// ---- Vertices ----------------------------------------------------------------------------------

std::vector<uint32_t> GetPolyhedronVertices(const Polyhedron *poly, uint32_t *count) {
  std::vector<uint32_t> out;
  if (count)
    *count = 0;
  if (!poly || poly->vertexCount == 0)
    return out;
  size_t entries = 0;
  for (const PolyFace &f : poly->faces)
    entries += f.vertices.size();
  try {
    out.reserve(std::min<size_t>(poly->vertexCount, entries));
    bool complete = false;
    for (const PolyFace &f : poly->faces) {
      const size_t n = std::min<size_t>(f.vertexCount, f.vertices.size());
      for (size_t i = 0; i < n; ++i) {
        const uint32_t v = f.vertices[i];
        if (std::find(out.begin(), out.end(), v) == out.end()) {
          out.push_back(v);
          if (out.size() == poly->vertexCount) {
            complete = true;
            break;
          }
        }
      }
      if (complete)
        break;
    }
    if (!complete)
      FWrite("Polyhedron contains fewer vertices than expected");
  } catch (const std::bad_alloc &) {
    out.clear();
  }
  if (count)
    *count = static_cast<uint32_t>(out.size());
  return out;
}

bool IsPolyhedronIntact(const CrystalRec *crystal, const Polyhedron *poly) {
  if (!crystal || !poly)
    return false;
  uint32_t count = 0;
  const std::vector<uint32_t> vertices = GetPolyhedronVertices(poly, &count);
  if (count == 0 || count != poly->vertexCount)
    return false;
  const uint32_t atomCount = static_cast<uint32_t>(UsableAtomCount(*crystal));
  for (uint32_t v : vertices)
    if (v >= atomCount || !crystal->atoms[v].visible)
      return false;
  return true;
}

// ---- Packed form -------------------------------------------------------------------------------

std::optional<Polyhedron> UnpackPoly(CrystalRec *crystal, uint32_t atom, const PackedPolyRec *packed) {
  if (!crystal || !packed || atom >= static_cast<uint32_t>(UsableAtomCount(*crystal)))
    return std::nullopt;
  const AtomRecord &centre = crystal->atoms[atom];
  const uint32_t bondCount = static_cast<uint32_t>(std::min<size_t>(centre.bondCount, centre.bonds.size()));
  if (bondCount == 0)
    return std::nullopt;
  auto reportInvalid = [&]() {
    char text[128];
    std::snprintf(text, sizeof text, "Invalid polyhedron saved for atom %ld (%s)", static_cast<long>(atom),
                  SiteLabelOf(*crystal, centre.site).c_str());
    FWriteColor(text, kWarningColour);
  };
  const std::vector<uint8_t> &bytes = packed->bytes;
  if (bytes.size() < static_cast<size_t>(kPackedPolyHeaderSize)) {
    reportInvalid();
    return std::nullopt;
  }
  uint32_t totalFaces = 0;
  for (int32_t size = kPackedPolyMinFaceSize; size <= kPackedPolyMaxFaceSize; ++size)
    totalFaces += PackedPolyFaceCount(*packed, size);
  const int32_t entries = PackedPolyVertexBytes(bytes.data());
  if (totalFaces == 0 || entries == 0)
    return std::nullopt;
  // The vertex bytes must lie within the record: a header that announces
  // more than the record holds (or more than 256) is corrupt.
  size_t length = 0;
  if (!ReadPackedPolyRec(std::span<const uint8_t>(bytes), nullptr, &length)) {
    reportInvalid();
    return std::nullopt;
  }
  for (int32_t e = 0; e < entries; ++e)
    if (bytes[static_cast<size_t>(kPackedPolyHeaderSize + e)] >= bondCount) {
      reportInvalid();
      return std::nullopt;
    }

  std::optional<Polyhedron> poly = CreatePolyhedron(totalFaces);
  if (!poly)
    return std::nullopt;
  try {
    size_t pos = kPackedPolyHeaderSize;
    uint32_t face = 0;
    std::vector<uint8_t> seen(bondCount, 0);
    uint32_t distinct = 0;
    for (int32_t size = kPackedPolyMinFaceSize; size <= kPackedPolyMaxFaceSize; ++size) {
      const int32_t count = PackedPolyFaceCount(*packed, size);
      for (int32_t k = 0; k < count; ++k, ++face) {
        PolyFace &f = poly->faces[face];
        f.vertexCount = static_cast<uint32_t>(size);
        f.vertices.resize(static_cast<size_t>(size));
        for (int32_t v = 0; v < size; ++v) {
          const uint8_t position = bytes[pos++];
          f.vertices[static_cast<size_t>(v)] = centre.bonds[position];
          if (!seen[position]) {
            seen[position] = 1;
            ++distinct;
          }
        }
      }
    }
    poly->centreAtom = atom;
    poly->flag = bytes[0];
    poly->vertexCount = bondCount;
    if (distinct != bondCount) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "The polyhedron around atom %ld (%s) was incorrectly saved. Please re-save this file.\n",
                    static_cast<long>(atom), SiteLabelOf(*crystal, centre.site).c_str());
      FWriteColor(text, kWarningColour);
      poly->vertexCount = distinct;
    }
  } catch (const std::bad_alloc &) {
    return std::nullopt;
  }
  return poly;
}

std::optional<PackedPolyRec> PackPolyhedron(CrystalRec *crystal, uint32_t atom) {
  if (!crystal || atom >= static_cast<uint32_t>(UsableAtomCount(*crystal)))
    return std::nullopt;
  const AtomRecord &centre = crystal->atoms[atom];
  const Polyhedron *held = AtomPolyhedron(crystal, centre);
  if (!held)
    return std::nullopt;
  const Polyhedron &poly = *held;
  constexpr int kSizes = kPackedPolyMaxFaceSize - kPackedPolyMinFaceSize + 1;
  uint32_t counts[kSizes] = {};
  int32_t entries = 0;
  for (const PolyFace &f : poly.faces) {
    if (f.vertexCount < static_cast<uint32_t>(kPackedPolyMinFaceSize) ||
        f.vertexCount > static_cast<uint32_t>(kPackedPolyMaxFaceSize) || f.vertices.size() < f.vertexCount)
      return std::nullopt;
    uint32_t &count = counts[f.vertexCount - kPackedPolyMinFaceSize];
    if (++count > 255u)
      return std::nullopt;
    entries += static_cast<int32_t>(f.vertexCount);
    if (entries > kMaxPackedPolyVertices)
      return std::nullopt;
  }
  std::optional<PackedPolyRec> rec = CreatePackedPoly(entries);
  if (!rec)
    return std::nullopt;
  for (int i = 0; i < kSizes; ++i)
    rec->bytes[static_cast<size_t>(kPackedPolyCountsOffset + i)] = static_cast<uint8_t>(counts[i]);
  const size_t bondCount = std::min<size_t>(centre.bondCount, centre.bonds.size());
  size_t pos = kPackedPolyHeaderSize;
  for (int32_t size = kPackedPolyMinFaceSize; size <= kPackedPolyMaxFaceSize; ++size)
    for (const PolyFace &f : poly.faces) {
      if (f.vertexCount != static_cast<uint32_t>(size))
        continue;
      for (uint32_t v = 0; v < f.vertexCount; ++v) {
        const auto it = std::find(centre.bonds.begin(), centre.bonds.begin() + static_cast<std::ptrdiff_t>(bondCount),
                                  f.vertices[v]);
        const size_t position = static_cast<size_t>(it - centre.bonds.begin());
        if (position >= bondCount || position > 255u)
          return std::nullopt;
        rec->bytes[pos++] = static_cast<uint8_t>(position);
      }
    }
  return rec;
}

// ---- Roles of sites ----------------------------------------------------------------------------

namespace {

// Whether atom b (of a site coordinated cnB) bonds a visible atom other
// than `except` whose site is coordinated higher than cnB.
template <typename SiteOf>
bool BondsHigherCentre(const CrystalRec &c, uint32_t b, uint32_t cnB, uint32_t except, const SiteOf &siteOf,
                       RoleContext *context) {
  // Neighbours with up to this many bonds are walked at each question.
  constexpr size_t kWalkedBonds = 32;
  const uint32_t atomCount = static_cast<uint32_t>(UsableAtomCount(c));
  const BondList &bonds = c.atoms[b].bonds;
  auto higher = [&](uint32_t k) {
    if (k >= atomCount)
      return false;
    const uint32_t siteK = siteOf(k);
    return siteK != kHiddenAtom && c.sites[siteK].coordination > cnB;
  };
  if (bonds.size() <= kWalkedBonds)
    return std::any_of(bonds.begin(), bonds.end(), [&](uint32_t k) { return k != except && higher(k); });
  auto known = context->higherBeyond.find(b);
  if (known == context->higherBeyond.end()) {
    std::pair<uint32_t, bool> found{kHiddenAtom, false};
    for (uint32_t k : bonds)
      if (higher(k)) {
        if (found.first == kHiddenAtom) {
          found.first = k;
        } else if (k != found.first) {
          found.second = true;
          break;
        }
      }
    known = context->higherBeyond.emplace(b, found).first;
  }
  const auto [first, another] = known->second;
  return first != kHiddenAtom && (first != except || another);
}

// The role of a site, from what *context holds or is given.
void CheckPolyVertexSiteImpl(const CrystalRec *crystal, uint32_t site, bool *isVertex, bool *bondsToOwnSite,
                             RoleContext *context) {
  bool vertex = false, ownSite = false;
  if (crystal && site < static_cast<uint32_t>(UsableSiteCount(*crystal))) {
    const CrystalRec &c = *crystal;
    const int32_t atomCount = UsableAtomCount(c);
    const int32_t siteCount = UsableSiteCount(c);
    auto lookUp = [&](uint32_t b) {
      const AtomRecord &atom = c.atoms[b];
      return atom.visible && atom.site < static_cast<uint32_t>(siteCount) ? atom.site : kHiddenAtom;
    };
    std::vector<uint32_t> &table = context->siteOf;
    if (context->tabulate && table.empty()) {
      table.resize(static_cast<size_t>(atomCount));
      for (uint32_t k = 0; k < static_cast<uint32_t>(atomCount); ++k)
        table[k] = lookUp(k);
    }
    const bool tabled = !table.empty();
    auto siteOf = [&](uint32_t b) { return tabled ? table[b] : lookUp(b); };
    const AsymmetricUnitRecord &s = c.sites[site];
    const uint32_t cnS = s.coordination;
    auto cnOf = [&](uint32_t t) { return c.sites[t].coordination; };
    bool neighbourFound = false;
    const int64_t first = std::max<int64_t>(s.firstAtom, 0);
    const int64_t last = std::min<int64_t>(s.lastAtom, int64_t{atomCount} - 1);
    for (int64_t a = first; a <= last; ++a) {
      const AtomRecord &atomA = c.atoms[static_cast<size_t>(a)];
      for (uint32_t b : atomA.bonds) {
        if (b >= static_cast<uint32_t>(atomCount))
          continue;
        const uint32_t siteB = siteOf(b);
        if (siteB == kHiddenAtom)
          continue;
        if (siteB == site) {
          ownSite = true;
          break;
        }
        const uint32_t cnB = cnOf(siteB);
        // Only a visible neighbour of no higher coordination settles the
        // answer; a site that met only its own site or higher centres is
        // checked again over the whole crystal below.
        if (cnB <= cnS) {
          neighbourFound = true;
          continue;
        }
        // A neighbour of higher coordination makes the site its vertex,
        // unless that neighbour is itself a vertex of a still higher centre.
        vertex = !BondsHigherCentre(c, b, cnB, static_cast<uint32_t>(a), siteOf, context);
        break;
      }
    }

    // No visible neighbour of no higher coordination among the plotted
    // atoms: ask the whole crystal.
    if (!neighbourFound && !c.molecule) {
      std::optional<CoordinationNeighbours> &index = context->index;
      if (!index)
        index.emplace(c);
      std::vector<int32_t> around;
      bool cut = false;
      CoordinatingSites(crystal, site, &around, &cut, &*index, context->marks);
      if (cut)
        context->NoteCrowded(site);
      // A site listed once per image asks the same question each time: the
      // answer of each is kept.
      std::unordered_map<int32_t, bool> stillVertex;
      std::vector<int32_t> aroundT;
      for (int32_t t : around) {
        if (static_cast<uint32_t>(t) == site) {
          ownSite = true;
          break;
        }
        const uint32_t cnT = cnOf(static_cast<uint32_t>(t));
        if (cnT <= cnS)
          continue;
        auto known = stillVertex.find(t);
        if (known == stillVertex.end()) {
          bool higher = false;
          auto listed = context->around.find(static_cast<uint32_t>(t));
          if (listed == context->around.end()) {
            CoordinatingSites(crystal, static_cast<uint32_t>(t), &aroundT, &cut, &*index, context->marks);
            listed = context->around.emplace(static_cast<uint32_t>(t), std::make_pair(aroundT, cut)).first;
          }
          if (listed->second.second)
            context->NoteCrowded(static_cast<uint32_t>(t));
          for (int32_t u : listed->second.first)
            if (static_cast<uint32_t>(u) != site && cnOf(static_cast<uint32_t>(u)) > cnT) {
              higher = true;
              break;
            }
          known = stillVertex.emplace(t, !higher).first;
        }
        vertex = known->second;
      }
    }
  }
  if (isVertex)
    *isVertex = vertex;
  if (bondsToOwnSite)
    *bondsToOwnSite = ownSite;
}

} // namespace

void CheckPolyVertexSite(const CrystalRec *crystal, uint32_t site, bool *isVertex, bool *bondsToOwnSite,
                         std::vector<uint32_t> *crowded) {
  RoleContext context;
  context.crowded = crowded;
  try {
    CheckPolyVertexSiteImpl(crystal, site, isVertex, bondsToOwnSite, &context);
  } catch (const std::bad_alloc &) {
    // Without memory the answer is what was found so far: none.
    if (isVertex)
      *isVertex = false;
    if (bondsToOwnSite)
      *bondsToOwnSite = false;
  }
  if (!crowded && crystal)
    TellCrowdedSites(*crystal, std::move(context.crowdedHere));
}

int32_t GetCoordinatingAtoms(const CrystalRec *crystal, uint32_t site, std::vector<int32_t> *sites) {
  bool cut = false;
  int32_t n = 0;
  try {
    n = CoordinatingSites(crystal, site, sites, &cut, nullptr, nullptr);
  } catch (const std::bad_alloc &) {
    return sites ? static_cast<int32_t>(sites->size()) : 0;
  }
  return n;
}

void TellCrowdedSitesAfterBonding(CrystalRec *crystal) {
  if (!HasSitesAndAtoms(crystal) || crystal->molecule || LongCommandCancelled())
    return;
  const CrystalRec &c = *crystal;
  const uint32_t siteCount = static_cast<uint32_t>(UsableSiteCount(c));
  const uint32_t atomCount = static_cast<uint32_t>(UsableAtomCount(c));
  // A structure without a bond (its bond search refused) draws no
  // polyhedron: which of its sites would be centres and which corners is not
  // worth a search over the whole crystal at its opening, and nothing is told.
  if (std::none_of(c.atoms.begin(), c.atoms.begin() + atomCount, [](const AtomRecord &a) { return a.bondCount > 0; }))
    return;
  if (gShowProgress)
    WriteStatus("Counting the neighbours of the sites...");
  CancelPoll poll(kRoleClockEvery);
  // The sites whose roles are judged over the whole crystal: a bonded site
  // whose atoms' bonds (walked as the roles walk them) meet no visible
  // neighbour of another site of no higher coordination.
  std::vector<uint8_t> asked(siteCount, 0);
  // Each atom's site where it is visible, read in one pass over the atoms
  // rather than record by record along the bonds.
  std::vector<uint32_t> shownSite(atomCount);
  for (uint32_t b = 0; b < atomCount; ++b)
    shownSite[b] = c.atoms[b].visible && c.atoms[b].site < siteCount ? c.atoms[b].site : kHiddenAtom;
  auto visibleSite = [&](uint32_t b) { return b < atomCount ? shownSite[b] : kHiddenAtom; };
  // And each site's coordination number, read for every neighbour.
  std::vector<uint32_t> cn(siteCount);
  for (uint32_t s = 0; s < siteCount; ++s)
    cn[s] = c.sites[s].coordination;
  for (uint32_t s = 0; s < siteCount; ++s) {
    if (poll.Step())
      return;
    const uint32_t cnS = cn[s];
    if (cnS == 0)
      continue;
    bool neighbourFound = false;
    const int64_t first = std::max<int64_t>(c.sites[s].firstAtom, 0);
    const int64_t last = std::min<int64_t>(c.sites[s].lastAtom, int64_t{atomCount} - 1);
    for (int64_t a = first; a <= last && !neighbourFound; ++a)
      for (uint32_t b : c.atoms[static_cast<size_t>(a)].bonds) {
        const uint32_t t = visibleSite(b);
        if (t == kHiddenAtom)
          continue;
        if (t == s)
          break;
        neighbourFound = cn[t] <= cnS;
        break;
      }
    asked[s] = !neighbourFound;
  }
  // As the roles ask: each such site's list, and the list of every site
  // of higher coordination in it before the site itself, listed at once
  // (a site asked about is listed for its own question, with the same cut:
  // as another's neighbour it needs no list of its own).
  std::vector<uint8_t> listed(siteCount, 0), cut(siteCount, 0);
  try {
    if (std::find(asked.begin(), asked.end(), 1) == asked.end())
      return;
    CoordinationNeighbours index(c);
    // Which sites are listed, and which are cut, does not hang on the order
    // they are asked in: asked by place, each site's list reads the atoms
    // its neighbour's list just read.
    std::vector<uint32_t> askedSites;
    for (uint32_t s = 0; s < siteCount; ++s)
      if (asked[s])
        askedSites.push_back(s);
    index.OrderByPlace(askedSites);
    std::vector<int32_t> around;
    for (uint32_t s : askedSites) {
      if (poll.Step())
        return;
      bool limitHit = false;
      index.ListWithoutModes(c, s, &around, &limitHit);
      listed[s] = 1;
      cut[s] = cut[s] || limitHit;
      const uint32_t cnS = cn[s];
      for (int32_t t : around) {
        if (static_cast<uint32_t>(t) == s)
          break;
        if (cn[static_cast<size_t>(t)] > cnS && !listed[static_cast<size_t>(t)] && !asked[static_cast<size_t>(t)]) {
          listed[static_cast<size_t>(t)] = 1;
          bool hit = false;
          index.ListWithoutModes(c, static_cast<uint32_t>(t), nullptr, &hit);
          cut[static_cast<size_t>(t)] = cut[static_cast<size_t>(t)] || hit;
        }
      }
    }
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
  }
  std::vector<uint32_t> crowded;
  for (uint32_t s = 0; s < siteCount; ++s)
    if (cut[s])
      crowded.push_back(s);
  TellCrowdedSites(c, std::move(crowded));
}

void TellCrowdedSites(const CrystalRec &crystal, std::vector<uint32_t> sites) {
  if (sites.empty())
    return;
  std::sort(sites.begin(), sites.end());
  sites.erase(std::unique(sites.begin(), sites.end()), sites.end());
  constexpr size_t kNamed = 3;
  std::string names;
  for (size_t k = 0; k < std::min(sites.size(), kNamed); ++k)
    names += (k ? ", " : "") + SiteLabelOf(crystal, sites[k]);
  if (sites.size() > kNamed)
    names += " and " + std::to_string(sites.size() - kNamed) + " more";
  const bool one = sites.size() == 1;
  FWrite("Polyhedra: " + std::to_string(sites.size()) + (one ? " site (" : " sites (") + names + ") " +
         (one ? "has" : "have") +
         " more atoms within bond reach than bonds; whether each is a polyhedron centre or a corner was judged "
         "from as many of those atoms as it has bonds.");
}

void TellWhyNoPolyhedronIsDrawn(const CrystalRec &crystal) {
  if (crystal.modelType != kPolyhedralModel || crystal.derived.PolyhedraDue() || !HasSitesAndAtoms(&crystal))
    return;
  for (const AtomRecord &atom : crystal.atoms)
    if (AtomPolyhedronAsHeld(crystal, atom))
      return;
  // A polyhedron needs an atom bonded to every atom of its site's
  // coordination, three at least: in a crystal cut to a small range the
  // centres miss some of theirs.
  const size_t sites = UsableSiteSize(crystal);
  bool coordinated = false;
  for (size_t s = 0; s < sites && !coordinated; ++s)
    coordinated = crystal.sites[s].coordination >= 3;
  if (!crystal.molecule && coordinated)
    FWrite("No polyhedron is drawn: no atom in the plot range has all the atoms that coordinate it within the "
           "range. Widen the range (Plot > Plot Range…) to draw whole polyhedra.");
  else
    FWrite("No polyhedron is drawn: no atom is bonded to three or more atoms, the least a polyhedron is made of.");
}

