#include "LigandThinning.h"

#include "Geometry.h"
#include "PointHull.h"
#include "VectorMath.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <vector>

namespace {

// A ligand this far (per Angstrom of the set's extent, and at least the
// floor) outside the hull of the centre and the other ligands is inside no
// tetrahedron of them in float either: the tests of a triple that is neither
// collinear nor flat round by about 1e-5 per Angstrom.
constexpr double kClearPerExtent = 1e-3;
constexpr double kClearFloor = 1e-4;
constexpr double kHullSlackPerExtent = 1e-9;
// From this many ligands in the triples the hull spares more than it costs.
constexpr size_t kHullFromLigands = 12;
// Triples between two questions to `stop`.
constexpr uint64_t kTriplesPerQuestion = 256;
// The slab of a ligand near the hull's surface is widened by this much
// beyond what its proof needs.
constexpr double kSlabSafety = 1.5;

inline float Dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// CalcPlaneNormal, operation for operation, where it can be inlined.
inline void PlaneNormal(const float p0[3], const float p1[3], const float p2[3], float n[3]) {
  float u[3], v[3];
  VecDiff(p0, p1, u);
  VecDiff(p2, p1, v);
  const float x[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
  GetUnitVector(x, n);
}

using Point = std::array<float, 3>;

// The working arrays, kept from one centre to the next (the polyhedra are
// made on the main thread, one centre at a time).
struct Scratch {
  std::vector<uint8_t> asked;     // per ligand: may be dropped, so asked about
  std::vector<int32_t> bitOf;     // per ligand: its bit among those asked, or -1
  std::vector<uint32_t> ligandOf; // per bit: the ligand
  std::vector<uint64_t> open;     // the asked ligands still usable
  std::vector<Point> fromCentre;  // centre - ligand, per asked ligand
  // Per pair a < b of the triples' ligands (row a, column b): the normal of
  // centre-a-b, the unit vector b - a (and whether it has one), and the
  // asked ligands on the plus and minus side of the plane.
  std::vector<Point> normal, unit;
  std::vector<uint8_t> unitOk, pairMade;
  std::vector<uint64_t> plus, minus;
  std::vector<uint64_t> candidates;
  std::vector<Point> hullPoints;
  std::vector<uint8_t> inHull;
  std::vector<std::array<double, 3>> vertexNormal;
  PointHull hull;
  // Per ligand near the hull's surface: the facet nearest it (-1 for none)
  // and the depth below that facet within which a tetrahedron holding it
  // has two of its corners (see NearSurface). Per triple corner (the
  // ligands from `start` on, then the centre): the asked ligands whose slab
  // holds it, or that have none.
  std::vector<int32_t> slabFacet;
  std::vector<double> slabDepth;
  std::vector<uint64_t> near;
};

Scratch &TheScratch() {
  static Scratch scratch;
  return scratch;
}

// Ligands standing clear outside the hull of the centre and the ligands the
// triples are made of (from `start` on) are not asked about. A ligand is
// clear when some direction has it ahead of every other of those points by
// more than the clearance; the hull's facets propose the direction (the
// outward normal of a facet the ligand lies beyond, or the mean of those
// meeting at it), and every point is measured against it.
void ClearOutsideLigands(Scratch &s, const float centre[3], const float (*points)[3], std::span<LigandEntry> ligands,
                         size_t start) {
  const size_t n = ligands.size();
  s.hullPoints.resize(n + 1);
  for (size_t k = 0; k < n; ++k)
    s.hullPoints[k] = {points[k][0], points[k][1], points[k][2]};
  s.hullPoints[n] = {centre[0], centre[1], centre[2]};
  s.inHull.assign(n + 1, 0);
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (size_t k = 0; k <= n; ++k) {
    if (k < n && (k < start || !ligands[k].usable))
      continue;
    s.inHull[k] = 1;
    for (int i = 0; i < 3; ++i) {
      lo[i] = std::min(lo[i], double(s.hullPoints[k][size_t(i)]));
      hi[i] = std::max(hi[i], double(s.hullPoints[k][size_t(i)]));
    }
  }
  const double extent = std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                                  (hi[2] - lo[2]) * (hi[2] - lo[2]));
  if (!std::isfinite(extent))
    return;
  const double clearance = kClearPerExtent * extent + kClearFloor;
  const auto hullPoints = reinterpret_cast<const float(*)[3]>(s.hullPoints.data());
  if (!s.hull.Make(n + 1, hullPoints, s.inHull.data(), clearance, kHullSlackPerExtent * extent))
    return;

  // Whether `direction` (unit) has ligand k ahead of every other hull point
  // by more than the clearance.
  auto clearAlong = [&](size_t k, const double direction[3]) {
    const float *p = points[k];
    for (size_t q = 0; q <= n; ++q) {
      if (!s.inHull[q] || q == k)
        continue;
      double gap = 0.0;
      for (int i = 0; i < 3; ++i)
        gap += direction[i] * (double(p[i]) - double(hullPoints[q][i]));
      if (!(gap > clearance))
        return false;
    }
    return true;
  };

  const std::vector<PointHull::Facet> &facets = s.hull.Facets();
  s.vertexNormal.assign(n + 1, {0.0, 0.0, 0.0});
  for (const PointHull::Facet &f : facets)
    for (uint32_t v : f.v)
      for (int i = 0; i < 3; ++i)
        s.vertexNormal[v][size_t(i)] += f.normal[i];
  // A vertex the mean of its facets' normals does not clear may be cleared
  // along one of them (a vertex barely out of a large flat facet).
  auto clearAlongAFacet = [&](size_t k) {
    for (const PointHull::Facet &f : facets)
      if ((f.v[0] == k || f.v[1] == k || f.v[2] == k) && clearAlong(k, f.normal))
        return true;
    return false;
  };
  for (size_t k = 0; k < n; ++k) {
    if (!ligands[k].usable)
      continue;
    if (k < start) {
      const PointHull::Facet *beyond = nullptr;
      double deepest = -clearance;
      for (const PointHull::Facet &f : facets) {
        const double depth = PointHull::Depth(f, points[k]);
        if (depth < deepest) {
          deepest = depth;
          beyond = &f;
        }
      }
      if (beyond && clearAlong(k, beyond->normal))
        s.asked[k] = 0;
      continue;
    }
    const std::array<double, 3> &sum = s.vertexNormal[k];
    const double length = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
    if (!(length > 0.0))
      continue;
    const double direction[3] = {sum[0] / length, sum[1] / length, sum[2] / length};
    if (clearAlong(k, direction) || clearAlongAFacet(k))
      s.asked[k] = 0;
  }

  // A ligand u at depth d (at most the clearance) below its nearest facet F
  // lies within the clearance of a tetrahedron of hull points only when two
  // of its corners lie within a slab below F: a point y of the tetrahedron
  // whose corners but one (v) lie deeper than D is at depth at least
  // (1 - w) D, w being v's weight, and within (1 - w) times the extent of
  // v; so y within the clearance of u puts u within
  // clearance + (d + clearance) extent / D of v, which the nearest other
  // point is not when D is wide enough. (A tetrahedron of no corner in the
  // slab is deeper still.) So a ligand on a facet of a lattice shell is
  // asked about only by the triples of its facet's plane.
  const double slack = kHullSlackPerExtent * extent;
  for (size_t k = 0; k < n; ++k) {
    if (!ligands[k].usable || !s.asked[k])
      continue;
    double nearest = HUGE_VAL;
    int32_t facet = -1;
    for (size_t f = 0; f < facets.size(); ++f) {
      const double depth = PointHull::Depth(facets[f], points[k]);
      if (depth < nearest) {
        nearest = depth;
        facet = static_cast<int32_t>(f);
      }
    }
    if (facet < 0 || !(nearest <= clearance))
      continue;
    double closest = HUGE_VAL;
    for (size_t q = 0; q <= n; ++q) {
      if (!s.inHull[q] || q == k)
        continue;
      double d2 = 0.0;
      for (int i = 0; i < 3; ++i)
        d2 += (double(points[k][i]) - double(hullPoints[q][i])) * (double(points[k][i]) - double(hullPoints[q][i]));
      closest = std::min(closest, d2);
    }
    closest = std::sqrt(closest);
    if (!(closest > 2.0 * clearance))
      continue;
    s.slabFacet[k] = facet;
    s.slabDepth[k] = kSlabSafety * (std::max(nearest, 0.0) + clearance + slack) * extent / (closest - clearance);
  }
}

// ParallelVec of two vectors given as their unit vectors, for
// PointsAreColinear.
bool ParallelUnits(const float uu[3], const float vv[3]) {
  float s = std::fabs(uu[0] - vv[0]) + std::fabs(uu[1] - vv[1]) + std::fabs(uu[2] - vv[2]);
  if (s > kParallelTolerance)
    s = std::fabs(uu[0] + vv[0]) + std::fabs(uu[1] + vv[1]) + std::fabs(uu[2] + vv[2]);
  return s < kParallelTolerance;
}

} // namespace

bool ThinLigands(const float centre[3], const float (*points)[3], std::span<LigandEntry> ligands,
                 const std::function<bool(uint64_t)> &stop) {
  const size_t n = ligands.size();
  size_t drop = 0;
  for (size_t j = 1; j < n; ++j)
    if (ligands[j - 1].distSq - ligands[j].distSq >= kThinningDistanceStep) {
      drop = j;
      break;
    }
  if (drop == 0)
    return true;
  const size_t start = drop >= 2 ? drop - 2 : 0;
  const size_t m = n - start; // the ligands the triples are made of

  Scratch &s = TheScratch();
  s.asked.assign(n, 1);
  s.slabFacet.assign(n, -1);
  s.slabDepth.assign(n, 0.0);
  if (m >= kHullFromLigands)
    ClearOutsideLigands(s, centre, points, ligands, start);

  // The asked ligands as bits.
  s.bitOf.assign(n, -1);
  s.ligandOf.clear();
  for (size_t k = 0; k < n; ++k)
    if (s.asked[k] && ligands[k].usable) {
      s.bitOf[k] = static_cast<int32_t>(s.ligandOf.size());
      s.ligandOf.push_back(static_cast<uint32_t>(k));
    }
  size_t openCount = s.ligandOf.size();
  if (openCount == 0)
    return true;
  const size_t words = (openCount + 63) / 64;
  s.open.assign(words, 0);
  s.fromCentre.resize(openCount);
  for (size_t bit = 0; bit < openCount; ++bit) {
    s.open[bit / 64] |= uint64_t{1} << (bit % 64);
    VecDiff(centre, points[s.ligandOf[bit]], s.fromCentre[bit].data());
  }

  // The slab masks of the corners; the centre's row is the last.
  s.near.assign((m + 1) * words, 0);
  for (size_t bit = 0; bit < openCount; ++bit) {
    const uint64_t mask = uint64_t{1} << (bit % 64);
    const int32_t facet = s.slabFacet[s.ligandOf[bit]];
    for (size_t x = start; x <= n; ++x) {
      const float *corner = x < n ? points[x] : centre;
      if (facet < 0 ||
          PointHull::Depth(s.hull.Facets()[size_t(facet)], corner) <= s.slabDepth[s.ligandOf[bit]])
        s.near[(x - start) * words + bit / 64] |= mask;
    }
  }
  const uint64_t *nearCentre = &s.near[m * words];

  // The pair tables, each pair's made when a triple first asks for it:
  // most pairs of a dense set hold a ligand dropped before they are met.
  s.normal.resize(m * m);
  s.unit.resize(m * m);
  s.unitOk.resize(m * m);
  s.pairMade.assign(m * m, 0);
  s.plus.resize(m * m * words);
  s.minus.resize(m * m * words);
  auto pairOf = [&](size_t a, size_t b) {
    const size_t pair = (a - start) * m + (b - start);
    if (s.pairMade[pair])
      return pair;
    s.pairMade[pair] = 1;
    float *normal = s.normal[pair].data();
    PlaneNormal(centre, points[a], points[b], normal);
    float d[3];
    VecDiff(points[b], points[a], d);
    s.unitOk[pair] = GetUnitVector(d, s.unit[pair].data()) ? 1 : 0;
    uint64_t *plus = &s.plus[pair * words], *minus = &s.minus[pair * words];
    for (size_t w = 0; w < words; ++w) {
      plus[w] = minus[w] = 0;
      for (uint64_t x = s.open[w]; x != 0; x &= x - 1) {
        const size_t bit = w * 64 + static_cast<size_t>(std::countr_zero(x));
        const float side = Dot(s.fromCentre[bit].data(), normal);
        if (side > 0.0f)
          plus[w] |= uint64_t{1} << (bit % 64);
        else if (side < 0.0f)
          minus[w] |= uint64_t{1} << (bit % 64);
      }
    }
    return pair;
  };

  s.candidates.resize(words);
  uint64_t *candidates = s.candidates.data();
  uint64_t pending = 0;
  for (size_t a = start; a < n; ++a) {
    if (!ligands[a].usable)
      continue;
    const float *pa = points[a];
    for (size_t b = a + 1; b < n; ++b) {
      if (!ligands[b].usable)
        continue;
      const float *pb = points[b];
      const size_t ab = pairOf(a, b);
      for (size_t c = b + 1; c < n; ++c) {
        if (!ligands[c].usable)
          continue;
        if (++pending >= kTriplesPerQuestion) {
          if (stop(pending))
            return false;
          pending = 0;
        }
        // The asked ligands two of whose slab's corners the triple holds.
        const uint64_t *nearA = &s.near[(a - start) * words], *nearB = &s.near[(b - start) * words],
                       *nearC = &s.near[(c - start) * words];
        bool near = false;
        for (size_t w = 0; w < words; ++w) {
          const uint64_t x = (nearA[w] & (nearB[w] | nearC[w] | nearCentre[w])) |
                             (nearB[w] & (nearC[w] | nearCentre[w])) | (nearC[w] & nearCentre[w]);
          candidates[w] = x & s.open[w];
          near = near || candidates[w] != 0;
        }
        if (!near)
          continue;
        const float *pc = points[c];
        const size_t ac = pairOf(a, c), bc = pairOf(b, c);
        float centroid[3];
        for (int i = 0; i < 3; ++i)
          centroid[i] = (centre[i] + pa[i] + pb[i] + pc[i]) / 4.0f;
        float out[3];
        VecDiff(centre, centroid, out);
        // Each face through the centre turned away from the centroid; a
        // ligand is inside it when on the side the turned normal faces away
        // from (negating a normal negates the test exactly).
        const size_t pairs[3] = {ab, ac, bc};
        bool flipped[3];
        for (int f = 0; f < 3; ++f)
          flipped[f] = Dot(out, s.normal[pairs[f]].data()) < 0.0f;
        bool any = false;
        for (size_t w = 0; w < words; ++w) {
          uint64_t x = candidates[w];
          for (int f = 0; f < 3; ++f)
            x &= flipped[f] ? s.minus[pairs[f] * words + w] : s.plus[pairs[f] * words + w];
          candidates[w] = x;
          any = any || x != 0;
        }
        if (!any)
          continue;
        for (size_t vertex : {a, b, c})
          if (s.bitOf[vertex] >= 0)
            candidates[size_t(s.bitOf[vertex]) / 64] &= ~(uint64_t{1} << (size_t(s.bitOf[vertex]) % 64));

        // The face of the three ligands, turned away from the centroid, is
        // asked first: the collinear and flat tests matter only when some
        // ligand is inside it too.
        float normal[4][3];
        PlaneNormal(pa, pb, pc, normal[3]);
        float toPa[3];
        VecDiff(pa, centroid, toPa);
        if (Dot(toPa, normal[3]) < 0.0f)
          VecNegate(normal[3]);
        any = false;
        for (size_t w = 0; w < words; ++w)
          for (uint64_t x = candidates[w]; x != 0; x &= x - 1) {
            const size_t bit = w * 64 + static_cast<size_t>(std::countr_zero(x));
            float toFace[3];
            VecDiff(pa, points[s.ligandOf[bit]], toFace);
            if (!(Dot(toFace, normal[3]) > 0.0f))
              candidates[w] &= ~(uint64_t{1} << (bit % 64));
            else
              any = true;
          }
        if (!any)
          continue;
        if (!s.unitOk[ab] || !s.unitOk[bc] ? PointsAreColinear(pa, pb, pc)
                                           : ParallelUnits(s.unit[ab].data(), s.unit[bc].data()))
          continue;
        for (int f = 0; f < 3; ++f)
          for (int i = 0; i < 3; ++i)
            normal[f][i] = flipped[f] ? -s.normal[pairs[f]][size_t(i)] : s.normal[pairs[f]][size_t(i)];
        bool flat = false;
        for (int f = 0; f < 4 && !flat; ++f)
          for (int g = f + 1; g < 4; ++g) {
            const float diff = std::fabs(normal[f][0] - normal[g][0]) + std::fabs(normal[f][1] - normal[g][1]) +
                               std::fabs(normal[f][2] - normal[g][2]);
            if (diff < kFlatTetrahedronTolerance) {
              flat = true;
              break;
            }
          }
        if (flat)
          continue;
        for (size_t w = 0; w < words; ++w)
          for (uint64_t x = candidates[w]; x != 0; x &= x - 1) {
            const size_t bit = w * 64 + static_cast<size_t>(std::countr_zero(x));
            ligands[s.ligandOf[bit]].usable = 0;
            s.open[w] &= ~(uint64_t{1} << (bit % 64));
            --openCount;
          }
        if (openCount == 0)
          return !stop(pending);
      }
    }
  }
  return !stop(pending);
}
