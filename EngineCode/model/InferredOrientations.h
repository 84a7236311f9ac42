// The orientation groups of a structure (OrientationGroups.h) as its derived
// layers (DerivedLayers.h) take them, once per revision of its sites and
// groups. A structure whose revisions are new but whose sites are those of
// the last structure that inferred groups (a file opened again, an undo
// state read) takes that structure's groups rather than inferring them
// again: the last groups are kept with what they were inferred from
// (OrientationInputs), found by its digest and compared whole.
#pragma once

#include "OrientationGroups.h"
#include "StructureRecord.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The groups of the structure as it stands; none in a molecule or without a
// site that may take part. An inference the user stopped is answered
// (marked stopped) but not kept. Throws bad_alloc.
std::shared_ptr<const OrientationGroups> InferOrShareOrientationGroups(const CrystalRec &crystal);

// Forgets the groups kept for the next structure, so that its question
// infers them afresh (what a benchmark of the inference does each turn).
void ForgetSharedOrientationGroups();

// What the inference reads of a structure, byte by byte: the cell, the
// symmetry operators and origin shift, and the sites' positions, elements,
// occupancies and disorder groups.
std::string OrientationInputs(const CrystalRec &crystal);

// A 64-bit digest of bytes, eight at a time. Two inputs may share one: it
// finds, it never proves.
class InputDigest {
public:
  void AddBytes(const void *data, size_t size);
  template <class T> void Add(const T &value) { AddBytes(&value, sizeof(T)); }
  uint64_t Value() const { return hash_; }

private:
  static constexpr uint64_t kPrime = 0x100000001b3ull * 0x9E3779B97F4A7C15ull | 1u;
  uint64_t hash_ = 14695981039346656037ull;
};
uint64_t DigestOf(const std::string &bytes);

// For tests: every structure's inputs get this digest (0: their own), as
// two inputs that share one would.
void ForceOrientationKeyForTests(uint64_t key);
