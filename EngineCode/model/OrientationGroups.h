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
// sites joined to it by bonds, so that a whole ring or oxyanion is one part.
// Its images under different operators are alternatives of each other,
// exactly as a negative disorder group's are (BondSearch.h); atoms that one
// operator made bond like any others.
//
// A group is found from places, not from the rows as written: rows at one
// place, or at places one operator maps onto each other, are one orbit, and
// a part places each orbit by the operator that bonds it to the rest, the
// bonds nearest a typical length first and none that would put two of the
// part's atoms closer than any bond. So a file may write each row of a ring
// under any operator of its group and gets the same groups.
//
// Only sites the file puts in no disorder group (group 0) of occupancy at
// most 1/2 (kHalfSiteOccupancy with its slack) take part: the images of one
// group carry its occupancy each, so two of them can only be alternatives at
// 1/2 or less; a site of a group the file gives, or of an alternate location
// a PDB or mmCIF file keeps, is decided by the file. A structure in P 1 has
// no other images: its groups are the file's. The bond limits are the
// automatic rule's (AutoBondPairLimit) whatever the bond specifications say,
// so every search and count sees the same groups. Elements without a
// covalent radius and placeholders take no part, nor does an orbit crowded
// beyond any matter (kCrowdedVolumePerPlace, AutoBonds.h), as in the bond
// search.
//
// The search walks the places of the orbits' images through a periodic grid
// of cells no narrower than the longest limit: linear in the places. The
// user's cancel key is heard (CancelPoll.h): a stopped inference answers no
// groups, marked stopped.
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
  // Per group (number - 1), per operator: the orientation it makes of the
  // group as its parts place it, as the index of the first operator that
  // makes the same.
  std::vector<std::vector<uint32_t>> orientation;
  // Per site of a group: the operator that makes the site's row from the
  // group's own orientation, and the operators' products (entry a * operators
  // + b: a after b) that turn an image of the row into one of the group.
  std::vector<uint32_t> siteFrame;
  std::vector<uint32_t> product;
  uint32_t operators = 0;
  // The user stopped the inference: no groups were found.
  bool stopped = false;
  bool Empty() const { return siteGroup.empty(); }
  // The orientation operator k makes of the site's group (k for a site of
  // no group).
  uint32_t Orientation(size_t site, uint32_t k) const;
};

// The groups of the structure (none in a molecule, in P 1, or without a
// candidate or an impossible contact). Throws bad_alloc.
OrientationGroups InferOrientationGroups(const CrystalRec &crystal);
