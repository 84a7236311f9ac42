// The orientation groups of a structure (OrientationGroups.h) as its derived
// layers (DerivedLayers.h) take them, once per revision of its sites and
// groups. A structure whose revisions are new but whose sites are those of
// the last structure that inferred groups (a file opened again, an undo
// state read) takes that structure's groups rather than inferring them
// again: the last groups are kept by a digest of what they were inferred
// from, the cell, the symmetry operators and origin shift, and the sites'
// positions, elements, occupancies and disorder groups.
#pragma once

#include "OrientationGroups.h"
#include "StructureRecord.h"

#include <memory>

// The groups of the structure as it stands; none in a molecule or without a
// site that may take part. An inference the user stopped is answered
// (marked stopped) but not kept. Throws bad_alloc.
std::shared_ptr<const OrientationGroups> InferOrShareOrientationGroups(const CrystalRec &crystal);

// Forgets the groups kept for the next structure, so that its question
// infers them afresh (what a benchmark of the inference does each turn).
void ForgetSharedOrientationGroups();
