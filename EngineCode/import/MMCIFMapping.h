// The macromolecular mapping of a parsed CIF block (PDBx/mmCIF): a block
// whose atom sites name their atoms and residues is a model file, read here
// rather than as a small-molecule structure.
#pragma once

#include "import/CIFTags.h"

// The block's atom sites are a macromolecular model's: Cartesian positions
// with atom or residue names.
bool IsMMCIFBlock(const CIFBlockTags &tags);

// Appends a structure for each model of the block. False, error set, when
// the file must be refused; true with nothing appended when no atom site has
// a position.
bool ReadMMCIFBlock(const CIFBlockTags &tags, ImportResult &result);
