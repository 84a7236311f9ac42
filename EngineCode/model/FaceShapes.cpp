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
  // Two words at a time over four independent multiply-xor lanes, then
  // mixed: the hash only picks a slot; the key itself decides a match.
  uint64_t lane[4] = {0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull, 0x27D4EB2F165667C5ull};
  key_[length] = 0; // the odd word's partner
  const size_t pairs = (length + 1) / 2;
  size_t k = 0;
  for (; k + 4 <= pairs; k += 4)
    for (size_t l = 0; l < 4; ++l)
      lane[l] = (lane[l] ^ PairAt(2 * (k + l))) * 0x100000001B3ull;
  for (; k < pairs; ++k)
    lane[k % 4] = (lane[k % 4] ^ PairAt(2 * k)) * 0x100000001B3ull;
  uint64_t h = lane[0] ^ (lane[1] << 1 | lane[1] >> 63) ^ (lane[2] << 2 | lane[2] >> 62) ^ (lane[3] << 3 | lane[3] >> 61);
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  hash_ = h;
  return true;
}

const FaceShapes::Entry *FaceShapes::Lookup() const {
  if (slots_.empty())
    return nullptr;
  const size_t mask = slots_.size() - 1;
  for (size_t slot = static_cast<size_t>(hash_) & mask;; slot = (slot + 1) & mask) {
    const uint32_t at = slots_[slot];
    if (at == 0)
      return nullptr;
    if (entries_[at - 1].hash == hash_)
      return &entries_[at - 1];
  }
}

bool FaceShapes::Find(Faces *out) const {
  const Entry *e = Lookup();
  if (!e || e->keyLength != keyLength_ ||
      !std::equal(key_.begin(), key_.begin() + static_cast<std::ptrdiff_t>(keyLength_), e->words))
    return false;
  const uint32_t *starts = e->words + e->keyLength;
  out->starts = {starts, e->faceCount};
  out->counts = {starts + e->faceCount, e->faceCount};
  out->vertices = {starts + 2 * size_t{e->faceCount}, e->vertexCount};
  out->distinct = e->distinct;
  return true;
}

uint32_t *FaceShapes::Room(size_t words) {
  if (blocks_.empty() || blockFree_ < words) {
    const size_t size = std::max(kBlockWords, words);
    blocks_.push_back(std::make_unique_for_overwrite<uint32_t[]>(size));
    blockFree_ = size;
    blockSize_ = size;
  }
  blockFree_ -= words;
  return blocks_.back().get() + blockSize_ - blockFree_ - words;
}

void FaceShapes::Index(uint32_t entry) {
  const size_t mask = slots_.size() - 1;
  size_t slot = static_cast<size_t>(entries_[entry].hash) & mask;
  while (slots_[slot] != 0)
    slot = (slot + 1) & mask;
  slots_[slot] = entry + 1;
}

void FaceShapes::Add(std::span<const uint32_t> starts, std::span<const uint32_t> counts,
                     std::span<const uint32_t> vertices, uint32_t distinct) {
  if (Lookup())
    return;
  if (entries_.size() >= kMaxEntries) {
    entries_.clear();
    std::fill(slots_.begin(), slots_.end(), 0u);
    blocks_.clear();
    blockFree_ = 0;
  }
  // Room for one more entry with the table at most half full: in a larger
  // table every entry finds its slot again.
  if ((entries_.size() + 1) * 2 > slots_.size()) {
    slots_.assign(std::max(kMinSlots, slots_.size() * 2), 0u);
    for (uint32_t k = 0; k < entries_.size(); ++k)
      Index(k);
  }
  uint32_t *words = Room(keyLength_ + starts.size() + counts.size() + vertices.size());
  Entry e;
  e.hash = hash_;
  e.words = words;
  e.keyLength = static_cast<uint32_t>(keyLength_);
  e.faceCount = static_cast<uint32_t>(starts.size());
  e.vertexCount = static_cast<uint32_t>(vertices.size());
  e.distinct = distinct;
  words = std::copy(key_.begin(), key_.begin() + static_cast<std::ptrdiff_t>(keyLength_), words);
  words = std::copy(starts.begin(), starts.end(), words);
  words = std::copy(counts.begin(), counts.end(), words);
  std::copy(vertices.begin(), vertices.end(), words);
  entries_.push_back(e);
  Index(static_cast<uint32_t>(entries_.size() - 1));
}
