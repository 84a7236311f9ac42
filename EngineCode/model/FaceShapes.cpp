#include "FaceShapes.h"

#include <algorithm>
#include <cstring>

bool FaceShapes::MakeKey(int32_t n, const float (*points)[3], const float centre[3]) {
  if (n < 1 || n > kMaxPoints)
    return false;
  size_t length = 0;
  key_[length++] = static_cast<uint32_t>(n);
  auto put = [&](float v) { std::memcpy(&key_[length++], &v, sizeof v); };
  // The face search's own roundings: a - b in float (b - a is its negation).
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t j = i + 1; j < n; ++j)
      for (int c = 0; c < 3; ++c)
        put(points[i][c] - points[j][c]);
    for (int c = 0; c < 3; ++c)
      put(points[i][c] - centre[c]);
  }
  keyLength_ = length;
  // Four independent multiply-xor lanes over the words, then mixed.
  uint64_t lane[4] = {0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull, 0x27D4EB2F165667C5ull};
  for (size_t k = 0; k < length; ++k) {
    uint64_t &h = lane[k % 4];
    h = (h ^ key_[k]) * 0x100000001B3ull;
  }
  uint64_t h = lane[0] ^ (lane[1] << 1 | lane[1] >> 63) ^ (lane[2] << 2 | lane[2] >> 62) ^ (lane[3] << 3 | lane[3] >> 61);
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  hash_ = h;
  return true;
}

const FaceShapes::Entry *FaceShapes::Lookup() const {
  const auto it = byHash_.find(hash_);
  if (it == byHash_.end())
    return nullptr;
  return &entries_[it->second];
}

bool FaceShapes::Find(Faces *out) const {
  const Entry *e = Lookup();
  if (!e || e->keyLength != keyLength_ ||
      !std::equal(key_.begin(), key_.begin() + static_cast<std::ptrdiff_t>(keyLength_),
                  keys_.begin() + static_cast<std::ptrdiff_t>(e->keyStart)))
    return false;
  out->starts = {starts_.data() + e->faceStart, e->faceCount};
  out->counts = {counts_.data() + e->faceStart, e->faceCount};
  out->vertices = {vertices_.data() + e->vertexStart, e->vertexCount};
  out->distinct = e->distinct;
  return true;
}

void FaceShapes::Add(std::span<const uint32_t> starts, std::span<const uint32_t> counts,
                     std::span<const uint32_t> vertices, uint32_t distinct) {
  if (Lookup())
    return;
  if (entries_.size() >= kMaxEntries) {
    byHash_.clear();
    entries_.clear();
    keys_.clear();
    starts_.clear();
    counts_.clear();
    vertices_.clear();
  }
  Entry e;
  e.keyStart = static_cast<uint32_t>(keys_.size());
  e.keyLength = static_cast<uint32_t>(keyLength_);
  e.faceStart = static_cast<uint32_t>(starts_.size());
  e.faceCount = static_cast<uint32_t>(starts.size());
  e.vertexStart = static_cast<uint32_t>(vertices_.size());
  e.vertexCount = static_cast<uint32_t>(vertices.size());
  e.distinct = distinct;
  keys_.insert(keys_.end(), key_.begin(), key_.begin() + static_cast<std::ptrdiff_t>(keyLength_));
  starts_.insert(starts_.end(), starts.begin(), starts.end());
  counts_.insert(counts_.end(), counts.begin(), counts.end());
  vertices_.insert(vertices_.end(), vertices.begin(), vertices.end());
  byHash_.emplace(hash_, static_cast<uint32_t>(entries_.size()));
  entries_.push_back(e);
}
