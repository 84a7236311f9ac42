// The convex hull of a small set of points, in double precision, for the
// searches that pass over what it proves: the face search (FaceCandidates.h)
// and the thinning of ligands (LigandThinning.h).
//
// The hull grows point by point from a first tetrahedron as large as cheaply
// found; a point within `slack` outside a facet counts as on it. Made only
// for points that span a volume thicker than `flat`, and checked to be a
// closed surface of outward triangles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class PointHull {
public:
  struct Facet {
    uint32_t v[3];
    double normal[3]; // outward, unit
    double offset;    // normal . x for x on the plane
    bool live;
  };

  // The hull of the usable points (usable[p] nonzero) of the list; false
  // when it cannot be made: fewer than four points, or all within `flat` of
  // one plane.
  bool Make(size_t n, const float (*points)[3], const uint8_t *usable, double flat, double slack);

  const std::vector<Facet> &Facets() const { return facets_; }
  // How far the point lies below the facet's plane (negative outside).
  static double Depth(const Facet &facet, const float point[3]);

private:
  bool AddFacet(const float (*points)[3], uint32_t v0, uint32_t v1, uint32_t v2);

  std::vector<Facet> facets_;
  std::vector<uint64_t> edges_; // directed edges (a << 32 | b)
};
