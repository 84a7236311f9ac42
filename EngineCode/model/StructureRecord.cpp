#include "StructureRecord.h"

#include <cstdio>
#include <new>

std::optional<PackedPolyRec> CreatePackedPoly(int32_t n) {
  if (n < 0 || n > kMaxPackedPolyVertices) {
    std::fprintf(stderr, "CreatePackedPoly: Cannot create a PackedPolyRec with that number of vertices (%d)\n", int(n));
    return std::nullopt;
  }
  try {
    PackedPolyRec rec;
    rec.bytes.assign(static_cast<size_t>(kPackedPolyHeaderSize + n), 0);
    return rec;
  } catch (const std::bad_alloc &) {
    return std::nullopt;
  }
}

void DestroyPackedPoly(PackedPolyRec *rec) {
  if (rec)
    std::vector<uint8_t>().swap(rec->bytes);
}

int32_t PackedPolyFaceCount(const PackedPolyRec &rec, int32_t size) {
  if (size < kPackedPolyMinFaceSize || size > kPackedPolyMaxFaceSize ||
      rec.bytes.size() < static_cast<size_t>(kPackedPolyHeaderSize))
    return 0;
  return rec.bytes[static_cast<size_t>(kPackedPolyCountsOffset + size - kPackedPolyMinFaceSize)];
}

int32_t PackedPolyVertexBytes(const uint8_t *header) {
  int32_t n = 0;
  for (int32_t size = kPackedPolyMinFaceSize; size <= kPackedPolyMaxFaceSize; size++)
    n += size * header[kPackedPolyCountsOffset + size - kPackedPolyMinFaceSize];
  return n;
}

bool ReadPackedPolyRec(std::span<const uint8_t> data, PackedPolyRec *out, size_t *consumed) {
  if (data.size() < static_cast<size_t>(kPackedPolyHeaderSize))
    return false;
  const int32_t vertexBytes = PackedPolyVertexBytes(data.data());
  if (vertexBytes > kMaxPackedPolyVertices)
    return false;
  const size_t length = static_cast<size_t>(kPackedPolyHeaderSize + vertexBytes);
  if (length > data.size())
    return false;
  if (out) {
    try {
      out->bytes.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
    } catch (const std::bad_alloc &) {
      return false;
    }
  }
  if (consumed)
    *consumed = length;
  return true;
}

bool WritePackedPolyRec(const PackedPolyRec &rec, std::vector<uint8_t> &out) {
  if (rec.bytes.size() < static_cast<size_t>(kPackedPolyHeaderSize))
    return false;
  const int32_t vertexBytes = PackedPolyVertexBytes(rec.bytes.data());
  if (vertexBytes > kMaxPackedPolyVertices ||
      rec.bytes.size() != static_cast<size_t>(kPackedPolyHeaderSize + vertexBytes))
    return false;
  try {
    out.insert(out.end(), rec.bytes.begin(), rec.bytes.end());
  } catch (const std::bad_alloc &) {
    return false;
  }
  return true;
}
