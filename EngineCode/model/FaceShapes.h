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
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <unordered_map>
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
  struct Entry {
    uint32_t keyStart, keyLength;
    uint32_t faceStart, faceCount; // into starts_ and counts_
    uint32_t vertexStart, vertexCount;
    uint32_t distinct;
  };

  const Entry *Lookup() const;

  // The last key made: the point count, then each point's differences from
  // the later points and from the centre.
  static constexpr size_t kMaxKey = 1 + 3 * (kMaxPoints * (kMaxPoints - 1) / 2 + kMaxPoints);
  std::array<uint32_t, kMaxKey> key_{};
  size_t keyLength_ = 0;
  uint64_t hash_ = 0;
  std::unordered_map<uint64_t, uint32_t> byHash_; // one entry per hash; a second shape of a hash is not filed
  std::vector<Entry> entries_;
  std::vector<uint32_t> keys_, starts_, counts_, vertices_;
};
