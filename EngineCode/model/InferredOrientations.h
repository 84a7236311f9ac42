// The orientation groups of a structure (OrientationGroups.h), inferred once
// for as long as what they are inferred from stays as it is: the cell, the
// symmetry operators and origin shift, and the sites' positions, elements,
// occupancies and disorder groups. Every bond search, coordination count and
// Discard Symmetry of the structure asks its holder (the structure's derived
// layers, DerivedLayers.h) rather than inferring them again.
#pragma once

#include "OrientationGroups.h"
#include "StructureRecord.h"

#include <cstdint>

class InferredOrientations {
public:
  // The groups of the structure as it stands: inferred again only when
  // something they are inferred from changed since the last answer. An
  // inference the user stopped is answered (marked stopped) but not kept.
  // Throws bad_alloc.
  const OrientationGroups &Of(const CrystalRec &crystal);

private:
  uint64_t key_ = 0;
  bool held_ = false;
  OrientationGroups groups_;
};
