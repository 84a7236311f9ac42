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

// Checks that every usable point lies on the inner side of every facet
// (within the slack), and notes for every facet the points whose depth below
// it is at most `near`: (facet << 32 | point) in near_, their depths in
// nearDepth_, facet by facet, points ascending.
bool FaceCandidatePairs::Supporting(const float (*points)[3], const uint8_t *usable, double slack, double near) {
  near_.clear();
  nearDepth_.clear();
  const std::vector<PointHull::Facet> &facets = hull_.Facets();
  for (size_t f = 0; f < facets.size(); ++f) {
    for (size_t p = 0; p < n_; ++p) {
      if (!usable[p])
        continue;
      const double depth = PointHull::Depth(facets[f], points[p]);
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
  if (count < 4 || !std::isfinite(extent) || !hull_.Make(n_, points, usable, reach, kHullSlackPerExtent * extent) ||
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
