// How much of a crystal's unit cell its atom spheres fill, and the largest
// empty sphere that fits between them (the porosity report).
//
// Both take each site's sphere radius from its atom type. Working memory is
// held for one call only.
#pragma once

#include "StructureRecord.h"

#include <cstdint>

// Volume of one sphere: 4/3 pi r^3 and of a sphere cap of height h: pi/3 h^2 (3r - h).
inline constexpr float kSphereVolumeFactor = 4.1887903f;
inline constexpr float kSphereCapFactor = 1.0471976f;
// Two sphere centres closer than this (A) are treated as one place: the
// smaller sphere lies wholly inside the larger, equal spheres share it half
// and half.
inline constexpr float kCoincidentSphereDistance = 0.0001f;

// The void search places this many grid points along the shortest cell edge.
inline constexpr int32_t kVoidGridPointsPerEdge = 50;
// A grid point starts with this clearance before any atom is seen.
inline constexpr float kVoidNoClearance = 9.999e32f;
// The void search refuses a grid of more points than this (a needle-shaped
// cell would otherwise ask for gigabytes).
inline constexpr int64_t kMaxVoidGridPoints = 50'000'000;

// The volume (A^3) of one unit cell occupied by the spheres of the visible
// sites: per site, its atoms per cell times its sphere less the cap cut off
// by every overlapping visible neighbour (the plane where the two spheres
// meet), nearest neighbours first; overlaps of three or more spheres are not
// corrected further. The neighbours are every image, over the whole crystal,
// of the first-cell atoms within reach of each site's first atom (as
// `SearchBondsFromSite` lists them), found through the bond search's sorted
// candidates so that large cells stay fast. 1 on success; 0 for a missing
// structure, a molecule, a structure without sites, atoms or atom types, a
// site whose atom type does not exist, a refused cell, or no memory.
int GetCellVolumeFilled(CrystalRec *crystal, float *volume);

// The largest empty sphere centred on a point of a search grid with 50 points
// along the shortest edge: its radius (A), its centre (fractional) and the
// filled volume of the cell (A^3) from the same grid, grid points inside a
// sphere counting as filled. The grid is filled in index order, each point
// computed once and its value spread over its symmetry images. 1 on success;
// 0 without operators, cell sites, atom types or a visible site, for a
// refused cell, a grid larger than kMaxVoidGridPoints, or without memory.
// When no grid point is empty the radius is 0 and the centre (0, 0, 0).
// Writes its progress lines to standard error.
int GetMaxVoidSize(CrystalRec *crystal, float *filledVolume, float *radius, float centre[3]);
