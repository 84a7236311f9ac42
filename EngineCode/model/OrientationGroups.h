// Groups disordered about a special position that the file does not name.
//
// A ring or an ion that sits on a special position in two (or more)
// orientations is often written as sites of its own at occupancy 1/2, with no
// disorder group: each other orientation is the image of the written one
// under another operator of the group (beta-sulfur's S8 ring on a centre of
// symmetry, a sulfate across a mirror). The orientations show themselves by
// impossible contacts: an atom lies closer to an image of an atom of the
// group, made by another operator, than any bond (AutoBondPairShortest), or
// (a non-metal) closer than a bond to an image of its own site.
//
// The inferred group is every such site together with the partly occupied
// sites joined to it by bonds in the positions the file gives (one operator,
// whole cells apart at most), so that a whole ring or oxyanion is one part.
// Its images under different operators are alternatives of each other,
// exactly as a negative disorder group's are (BondSearch.h); atoms that one
// operator made bond like any others.
//
// Only sites the file puts in no disorder group (group 0) of occupancy at
// most 1/2 (kHalfSiteOccupancy with its slack) take part: the images of one
// group carry its occupancy each, so two of them can only be alternatives at
// 1/2 or less; a site of a group the file gives, or of an alternate location
// a PDB or mmCIF file keeps, is decided by the file. The bond limits are the
// automatic rule's (AutoBondPairLimit) whatever the bond specifications say,
// so every search and count sees the same groups. Elements without a
// covalent radius and placeholders take no part.
//
// The search walks the images of the candidate sites through a periodic grid
// of cells no narrower than the longest limit: linear in the candidates'
// images, independent of the order of the sites and atoms.
#pragma once

#include "StructureRecord.h"

#include <cstdint>
#include <vector>

// The groups found. An orientation of a group is its image under an
// operator; the operators that map the group onto itself (each atom onto an
// atom of the group, give or take whole cells) make the orientation the
// file gives, and two operators make one orientation when they differ by
// one of those. Two atoms of a group are of one orientation when some
// operators making them make one orientation.
struct OrientationGroups {
  // Per site: 0, or the number (1, 2, ...) of its group, numbered by their
  // first sites. Empty when no group was found.
  std::vector<uint32_t> siteGroup;
  // Per group (number - 1), per operator: the orientation it makes, as the
  // index of the first operator that makes the same.
  std::vector<std::vector<uint32_t>> orientation;
  bool Empty() const { return siteGroup.empty(); }
  // The orientation operator k makes of the site's group (k for a site of
  // no group).
  uint32_t Orientation(size_t site, uint32_t k) const;
};

// The groups of the structure (none in a molecule, or without a candidate or
// an impossible contact). Throws bad_alloc.
OrientationGroups InferOrientationGroups(CrystalRec &crystal);
