// Which pairs of points of a polyhedron's point list can lie together in a
// face, for the face search.
//
// A triple of points spans a face only when no point lies clearly beyond its
// plane on either side. The convex hull of the points (made in double
// precision) settles that for most pairs at once: when the midpoint of two
// points lies deeper inside the hull than the tolerance (widened by the
// rounding of the plane tests), every plane through the two points has
// points beyond the tolerance on both sides, so no triple holding that pair
// can be a face. Only points near a common facet plane can be closer, so
// the pairs are found facet by facet. The other pairs are the
// candidates; a set whose hull cannot be made (fewer than four points, or
// points all on or near one plane or line) keeps every pair.
#pragma once

#include "PointHull.h"

#include <cstdint>
#include <span>
#include <vector>

class FaceCandidatePairs {
public:
  // Takes the usable points of the list (usable[p] nonzero); `tolerance` is
  // the distance (Angstrom) within which the face search counts a point as
  // in a plane.
  void Make(int32_t n, const float (*points)[3], const uint8_t *usable, double tolerance);

  // Every pair of usable points, without a hull.
  void KeepEveryPair(int32_t n, const uint8_t *usable);

  // The usable points j > i that may share a face with point i, ascending.
  std::span<const uint32_t> Later(uint32_t i) const {
    return {later_.data() + start_[i], later_.data() + start_[i + 1]};
  }

private:
  bool Supporting(const float (*points)[3], const uint8_t *usable, double slack, double near);

  size_t n_ = 0;
  PointHull hull_;
  std::vector<uint64_t> edges_;     // the candidate pairs (a << 32 | b)
  std::vector<uint64_t> near_;      // (facet << 32 | point) for points near a facet's plane
  std::vector<double> nearDepth_;   // their depths below it
  std::vector<uint32_t> start_;    // n + 1 entries into later_
  std::vector<uint32_t> later_;
};
