// The thinning of a centre's ligands before its polyhedron's faces are
// searched: a ligand that lies strictly inside the tetrahedron of the centre
// and three other ligands is dropped, so that every vertex lies on the hull.
//
// The rule is that of the plain search: the ligands sorted farthest first,
// the triples a < b < c of ligands still usable, from just before the first
// drop in distance (none when all are equidistant), taken in lexicographic
// order; a triple whose points are collinear, or whose tetrahedron is flat
// (two outward face normals nearly equal), drops nothing; any other drops
// every usable ligand inside all four of its faces. Which ligands survive
// can hang on the order and on the rounding of each test, so the thinning
// makes the same tests in float, in the same order, with the same results;
// it only passes over what cannot drop anything:
// - a ligand standing clear outside the hull of the centre and the other
//   ligands (by more than the rounding of any test, made in double) is
//   inside no tetrahedron, and is never asked about;
// - the three faces through the centre are faces of ligand pairs: their
//   normals, and which side of each every other ligand lies on, are made
//   once per pair rather than once per triple;
// - a triple is looked at further only when some ligand still to be asked
//   about passes its three faces through the centre, and the search ends
//   when no such ligand is left.
// So a centre costs about a pass over its triples' centroids, where the
// plain search tried every ligand against four new planes per triple.
#pragma once

#include "Polyhedra.h"

#include <cstdint>
#include <functional>
#include <span>

// The ligands in `ligands` (sorted by CompareLigandsByDistance), at
// `points[i]` for ligands[i], lose their usable mark when dropped. `stop` is
// told of the work done (about a triple a unit) now and then and answers
// true when the user has asked to stop: the thinning then ends at once with
// the marks as they stand. False when it was stopped.
bool ThinLigands(const float centre[3], const float (*points)[3], std::span<LigandEntry> ligands,
                 const std::function<bool(uint64_t)> &stop);
