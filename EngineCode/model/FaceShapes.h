// The faces found for small point sets during one polyhedra build, filed by
// the shape of the set.
//
// The face search reads a set of points only through the float differences
// of its pairs and of each point and the set's centre (every plane, unit
// vector and distance it forms starts from one of them). So two sets whose
// differences agree bit for bit get the same faces, vertex for vertex, and a
// crystal whose polyhedra repeat along its lattice asks the search once per
// distinct shape. The key is those differences themselves, so no other set
// can match.
//
// A large crystal files tens of thousands of shapes in one build: they are
// kept in blocks that never move (a growing array would copy every shape
// filed and touch twice the memory each time it grows), and found through
// an open table of their hashes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class FaceShapes {
public:
  // Sets of at most this many points are filed.
  static constexpr int32_t kMaxPoints = 9;

  struct Faces {
    std::span<const uint32_t> starts;   // each face's first entry in vertices
    std::span<const uint32_t> counts;   // its vertex count
    std::span<const uint32_t> vertices; // positions in the point list
    uint32_t distinct = 0;              // distinct vertices
  };

  // Makes the key of a set of n points with centre `centre` (n at most
  // kMaxPoints); false for a larger set.
  bool MakeKey(int32_t n, const float (*points)[3], const float centre[3]);

  // The faces filed under the last key made, if any.
  bool Find(Faces *out) const;

  // Files faces under the last key made. Past kMaxEntries shapes the
  // collection starts again.
  void Add(std::span<const uint32_t> starts, std::span<const uint32_t> counts, std::span<const uint32_t> vertices,
           uint32_t distinct);

private:
  static constexpr size_t kMaxEntries = 1 << 16;
  // Words of a block of filed shapes (one shape's words never straddle two).
  static constexpr size_t kBlockWords = 1 << 16;
  static constexpr size_t kMinSlots = 1024;
  // One shape: its key, then its face starts, face counts and vertices, in
  // one run of words.
  struct Entry {
    uint64_t hash;
    const uint32_t *words;
    uint32_t keyLength, faceCount, vertexCount, distinct;
  };

  const Entry *Lookup() const;
  uint32_t *Room(size_t words);
  void Index(uint32_t entry);

  // The last key made: the point count, then each point's differences from
  // the later points and from the centre.
  static constexpr size_t kMaxKey = 1 + 3 * (kMaxPoints * (kMaxPoints - 1) / 2 + kMaxPoints);
  std::array<uint32_t, kMaxKey + 1> key_{}; // and a word for hashing by pairs
  uint64_t PairAt(size_t k) const { return uint64_t{key_[k]} | uint64_t{key_[k + 1]} << 32; }
  size_t keyLength_ = 0;
  uint64_t hash_ = 0;
  std::vector<Entry> entries_;
  // Open addressing over the hashes: an entry's number plus one, 0 for an
  // empty slot; a power of two, at most half full. One entry per hash: a
  // second shape of a hash is not filed.
  std::vector<uint32_t> slots_;
  std::vector<std::unique_ptr<uint32_t[]>> blocks_;
  size_t blockSize_ = 0; // the last block's words
  size_t blockFree_ = 0; // and those left at its end
};
