// The shape of a coordination environment, from the positions of the
// ligands about the central atom: flat, or a closed polyhedron with a
// number of faces.
//
// Ligands within a tolerance of a plane count as lying in it (the
// tolerance is a fraction of their mean distance from the centre), so
// that coordinates with a little noise in them (a relaxed molecule, a
// refined structure) give the shape of the ideal environment, whatever the
// order of the ligands.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// How far a ligand may stand off a plane and still lie in it, as a fraction
// of the ligands' mean distance from the centre (about 6 degrees of tilt).
inline constexpr float kCoordinationPlaneTolerance = 0.1f;
// More ligands than this are not sorted into faces.
inline constexpr size_t kMaxShapeLigands = 48;

// The result of CoordinationShapeFaces for ligands that all lie in one plane.
inline constexpr int kFlatCoordination = 1;

// The ligands' positions relative to the central atom (Angstrom, any
// Cartesian frame). Answers kFlatCoordination when they all lie in one
// plane, else the number of faces of their convex hull (coplanar ligands
// make one face); 0 for fewer than three ligands, more than
// kMaxShapeLigands, or ligands that span no plane.
int CoordinationShapeFaces(const std::vector<std::array<float, 3>> &ligands);
