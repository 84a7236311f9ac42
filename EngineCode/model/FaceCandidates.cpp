#include "FaceCandidates.h"

#include <algorithm>
#include <cmath>

namespace {

// The face search's plane tests round in float: a normal from three points
// that are not collinear within its tolerance may turn by about 1e-4 radian,
// so its distances may be off by that much per Angstrom of extent. Allowed
// for generously.
constexpr double kRoundingPerExtent = 1e-3;
constexpr double kRoundingFloor = 1e-4;
// Hull planes in double: a point this far (per Angstrom of extent) outside a
// facet counts as on it while the hull grows, and up to the second value
// when the hull is checked.
constexpr double kHullSlackPerExtent = 1e-9;
constexpr double kHullCheckPerExtent = 1e-7;

void Sub(const float a[3], const float b[3], double out[3]) {
  for (int i = 0; i < 3; ++i)
    out[i] = static_cast<double>(a[i]) - static_cast<double>(b[i]);
}

void Cross(const double u[3], const double v[3], double out[3]) {
  out[0] = u[1] * v[2] - u[2] * v[1];
  out[1] = u[2] * v[0] - u[0] * v[2];
  out[2] = u[0] * v[1] - u[1] * v[0];
}

double Dot(const double u[3], const double v[3]) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; }

double DotF(const double u[3], const float v[3]) {
  return u[0] * static_cast<double>(v[0]) + u[1] * static_cast<double>(v[1]) + u[2] * static_cast<double>(v[2]);
}

} // namespace

void FaceCandidatePairs::KeepEveryPair(int32_t n, const uint8_t *usable) {
  n_ = static_cast<size_t>(std::max(n, 0));
  start_.assign(n_ + 1, 0);
  later_.clear();
  for (size_t i = 0; i < n_; ++i) {
    if (usable[i])
      for (size_t j = i + 1; j < n_; ++j)
        if (usable[j])
          later_.push_back(static_cast<uint32_t>(j));
    start_[i + 1] = static_cast<uint32_t>(later_.size());
  }
}

bool FaceCandidatePairs::MakeHull(const float (*points)[3], const uint8_t *usable, double flat, double slack) {
  facets_.clear();
  // A first tetrahedron as large as cheaply found: the first point, the
  // farthest from it, the farthest from their line, the farthest from their
  // plane.
  size_t a = n_;
  for (size_t p = 0; p < n_ && a == n_; ++p)
    if (usable[p])
      a = p;
  if (a == n_)
    return false;
  size_t b = a, c = a, d = a;
  double best = 0.0;
  for (size_t p = 0; p < n_; ++p) {
    double u[3];
    Sub(points[p], points[a], u);
    if (usable[p] && Dot(u, u) > best) {
      best = Dot(u, u);
      b = p;
    }
  }
  double ab[3];
  Sub(points[b], points[a], ab);
  best = 0.0;
  for (size_t p = 0; p < n_; ++p) {
    double u[3], x[3];
    Sub(points[p], points[a], u);
    Cross(ab, u, x);
    if (usable[p] && Dot(x, x) > best) {
      best = Dot(x, x);
      c = p;
    }
  }
  double ac[3], normal[3];
  Sub(points[c], points[a], ac);
  Cross(ab, ac, normal);
  const double area = std::sqrt(Dot(normal, normal));
  if (!(area > 0.0))
    return false;
  best = 0.0;
  for (size_t p = 0; p < n_; ++p) {
    double u[3];
    Sub(points[p], points[a], u);
    const double h = std::fabs(Dot(u, normal)) / area;
    if (usable[p] && h > best) {
      best = h;
      d = p;
    }
  }
  // Points all within the tolerance of one plane: every pair may share a
  // face.
  if (!(best > flat))
    return false;

  auto addFacet = [&](uint32_t v0, uint32_t v1, uint32_t v2) {
    Facet f{{v0, v1, v2}, {0, 0, 0}, 0.0, true};
    double u[3], v[3];
    Sub(points[v1], points[v0], u);
    Sub(points[v2], points[v0], v);
    Cross(u, v, f.normal);
    const double len = std::sqrt(Dot(f.normal, f.normal));
    if (!(len > 0.0))
      return false;
    for (double &x : f.normal)
      x /= len;
    f.offset = DotF(f.normal, points[v0]);
    facets_.push_back(f);
    return true;
  };
  const uint32_t t[4] = {static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c),
                         static_cast<uint32_t>(d)};
  // Each face of the tetrahedron turned so that its fourth point is inside.
  const int faces[4][4] = {{0, 1, 2, 3}, {0, 3, 1, 2}, {1, 3, 2, 0}, {0, 2, 3, 1}};
  for (const auto &f : faces) {
    uint32_t v0 = t[f[0]], v1 = t[f[1]], v2 = t[f[2]];
    double u[3], v[3], x[3], w[3];
    Sub(points[v1], points[v0], u);
    Sub(points[v2], points[v0], v);
    Cross(u, v, x);
    Sub(points[t[f[3]]], points[v0], w);
    if (Dot(x, w) > 0.0)
      std::swap(v1, v2);
    if (!addFacet(v0, v1, v2))
      return false;
  }

  std::vector<size_t> visible;
  for (size_t p = 0; p < n_; ++p) {
    if (!usable[p] || p == a || p == b || p == c || p == d)
      continue;
    visible.clear();
    for (size_t f = 0; f < facets_.size(); ++f)
      if (facets_[f].live && DotF(facets_[f].normal, points[p]) - facets_[f].offset > slack)
        visible.push_back(f);
    if (visible.empty())
      continue;
    // The horizon: edges of visible facets whose other facet is not visible.
    edges_.clear();
    for (size_t f : visible) {
      const uint32_t *v = facets_[f].v;
      for (int e = 0; e < 3; ++e)
        edges_.push_back(uint64_t{v[e]} << 32 | v[(e + 1) % 3]);
      facets_[f].live = false;
    }
    std::sort(edges_.begin(), edges_.end());
    const size_t visibleEdges = edges_.size();
    for (size_t e = 0; e < visibleEdges; ++e) {
      const uint64_t edge = edges_[e];
      const uint64_t reverse = (edge & 0xFFFFFFFFu) << 32 | edge >> 32;
      if (std::binary_search(edges_.begin(), edges_.begin() + static_cast<long>(visibleEdges), reverse))
        continue;
      if (!addFacet(static_cast<uint32_t>(edge >> 32), static_cast<uint32_t>(edge & 0xFFFFFFFFu),
                    static_cast<uint32_t>(p)))
        return false;
    }
    std::erase_if(facets_, [](const Facet &f) { return !f.live; });
  }

  // A closed surface: every directed edge once, its reverse once.
  edges_.clear();
  for (const Facet &f : facets_)
    for (int e = 0; e < 3; ++e)
      edges_.push_back(uint64_t{f.v[e]} << 32 | f.v[(e + 1) % 3]);
  std::sort(edges_.begin(), edges_.end());
  if (std::adjacent_find(edges_.begin(), edges_.end()) != edges_.end())
    return false;
  for (uint64_t edge : edges_)
    if (!std::binary_search(edges_.begin(), edges_.end(), (edge & 0xFFFFFFFFu) << 32 | edge >> 32))
      return false;
  return true;
}

// Checks that every usable point lies on the inner side of every facet
// (within the slack), and notes for every facet the points whose depth below
// it is at most `near`: (facet << 32 | point) in near_, their depths in
// nearDepth_, facet by facet, points ascending.
bool FaceCandidatePairs::Supporting(const float (*points)[3], const uint8_t *usable, double slack, double near) {
  near_.clear();
  nearDepth_.clear();
  for (size_t f = 0; f < facets_.size(); ++f) {
    const Facet &facet = facets_[f];
    for (size_t p = 0; p < n_; ++p) {
      if (!usable[p])
        continue;
      const double depth = facet.offset - DotF(facet.normal, points[p]);
      if (depth < -slack)
        return false;
      if (depth <= near) {
        near_.push_back(uint64_t{f} << 32 | p);
        nearDepth_.push_back(depth);
      }
    }
  }
  return true;
}

void FaceCandidatePairs::Make(int32_t n, const float (*points)[3], const uint8_t *usable, double tolerance) {
  n_ = static_cast<size_t>(std::max(n, 0));
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  size_t count = 0;
  for (size_t p = 0; p < n_; ++p) {
    if (!usable[p])
      continue;
    ++count;
    for (int i = 0; i < 3; ++i) {
      lo[i] = std::min(lo[i], static_cast<double>(points[p][i]));
      hi[i] = std::max(hi[i], static_cast<double>(points[p][i]));
    }
  }
  double extent = 0.0;
  for (int i = 0; i < 3; ++i)
    extent += count ? (hi[i] - lo[i]) * (hi[i] - lo[i]) : 0.0;
  extent = std::sqrt(extent);
  const double reach = tolerance + kRoundingPerExtent * extent + kRoundingFloor;
  const double check = kHullCheckPerExtent * extent;
  // The midpoint of two points lies as deep inside the hull as the least of
  // the halved sums of their depths below each facet; a pair stays a
  // candidate when some facet has that sum at most 2 reach (both points then
  // within 2 reach of it, allowing for the check's slack).
  const double limit = 2.0 * reach + 2.0 * check;
  if (count < 4 || !std::isfinite(extent) || !MakeHull(points, usable, reach, kHullSlackPerExtent * extent) ||
      !Supporting(points, usable, check, limit + check)) {
    KeepEveryPair(n, usable);
    return;
  }
  edges_.clear();
  for (size_t a = 0; a < near_.size();) {
    size_t b = a;
    while (b < near_.size() && near_[b] >> 32 == near_[a] >> 32)
      ++b;
    for (size_t p = a; p < b; ++p)
      for (size_t q = p + 1; q < b; ++q)
        if (nearDepth_[p] + nearDepth_[q] <= limit)
          edges_.push_back((near_[p] & 0xFFFFFFFFu) << 32 | (near_[q] & 0xFFFFFFFFu));
    a = b;
  }
  std::sort(edges_.begin(), edges_.end());
  edges_.erase(std::unique(edges_.begin(), edges_.end()), edges_.end());
  start_.assign(n_ + 1, 0);
  later_.resize(edges_.size());
  for (size_t e = 0; e < edges_.size(); ++e) {
    start_[(edges_[e] >> 32) + 1]++;
    later_[e] = static_cast<uint32_t>(edges_[e] & 0xFFFFFFFFu);
  }
  for (size_t i = 0; i < n_; ++i)
    start_[i + 1] += start_[i];
}
