#include "export/PngWriter.h"

#include "graphics/PixelBuffer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

// ---- Deflate's alphabets --------------------------------------------------------------

constexpr size_t kWindow = 32768;       // farthest distance a match may reach
constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 258;
constexpr size_t kChunk = size_t(1) << 20; // new bytes taken in per pass
constexpr size_t kBlockSymbols = size_t(1) << 15;
constexpr size_t kOutPiece = size_t(1) << 18; // bytes handed to the sink at once
constexpr int kHashBits = 15;
constexpr int kEndOfBlock = 256;
constexpr int kLiteralCodes = 286;
constexpr int kDistanceCodes = 30;
constexpr int kLengthCodes = 19;
constexpr int kMaxCodeBits = 15;
constexpr int kMaxLengthCodeBits = 7;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order the code length code's lengths are stored in.
constexpr uint8_t kLengthOrder[kLengthCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct Tables {
  uint8_t lengthCode[kMaxMatch + 1] = {};   // match length -> length code 0..28
  uint8_t distanceCode[kWindow + 1] = {};   // distance -> distance code 0..29
  Tables() {
    for (int code = 0; code < 29; ++code) {
      const int last = code == 28 ? 258 : std::min(int(kLengthBase[code]) + (1 << kLengthExtra[code]) - 1, 257);
      for (int len = kLengthBase[code]; len <= last; ++len)
        lengthCode[len] = uint8_t(code);
    }
    for (int code = 0; code < 30; ++code)
      for (int d = kDistanceBase[code]; d < kDistanceBase[code] + (1 << kDistanceExtra[code]); ++d)
        distanceCode[d] = uint8_t(code);
  }
};
const Tables &DeflateTables() {
  static const Tables tables;
  return tables;
}

// ---- Huffman codes ----------------------------------------------------------------------

} // namespace

// A Huffman tree, its deepest levels folded up while the code stays
// complete, the longest codes given to the rarest symbols.
void HuffmanCodeLengths(const uint32_t *freq, int n, int limit, uint8_t *lengths) {
  std::fill(lengths, lengths + n, uint8_t(0));
  std::array<std::pair<uint32_t, int>, kLiteralCodes> leaves;
  int used = 0;
  for (int i = 0; i < n; ++i)
    if (freq[i])
      leaves[size_t(used++)] = {freq[i], i};
  if (used < 2) {
    const int other = used == 1 && leaves[0].second == 0 ? 1 : 0;
    lengths[other] = 1;
    if (used == 1)
      lengths[leaves[0].second] = 1;
    else
      lengths[1] = 1;
    return;
  }
  std::sort(leaves.begin(), leaves.begin() + used);
  // Two queues: the sorted leaves and the inner nodes, made in order of
  // weight.
  std::array<uint32_t, 2 * kLiteralCodes> weight;
  std::array<int, 2 * kLiteralCodes> parent;
  for (int i = 0; i < used; ++i)
    weight[size_t(i)] = leaves[size_t(i)].first;
  int leaf = 0, inner = used;
  const auto lightest = [&](int next) {
    if (leaf < used && (inner >= next || weight[size_t(leaf)] <= weight[size_t(inner)]))
      return leaf++;
    return inner++;
  };
  for (int next = used; next < 2 * used - 1; ++next) {
    const int a = lightest(next), b = lightest(next);
    weight[size_t(next)] = weight[size_t(a)] + weight[size_t(b)];
    parent[size_t(a)] = parent[size_t(b)] = next;
  }
  std::array<int, 2 * kLiteralCodes> depth;
  depth[size_t(2 * used - 2)] = 0;
  int counts[kMaxCodeBits + 1] = {};
  for (int i = 2 * used - 3; i >= 0; --i) {
    depth[size_t(i)] = depth[size_t(parent[size_t(i)])] + 1;
    if (i < used)
      ++counts[std::min(depth[size_t(i)], limit)];
  }
  // Fold: while the code is over-full, a code at the limit goes and one
  // shorter code splits in two.
  uint32_t total = 0;
  for (int bits = 1; bits <= limit; ++bits)
    total += uint32_t(counts[bits]) << (limit - bits);
  while (total > (uint32_t(1) << limit)) {
    --counts[limit];
    for (int bits = limit - 1; bits > 0; --bits)
      if (counts[bits]) {
        --counts[bits];
        counts[bits + 1] += 2;
        break;
      }
    --total;
  }
  int next = 0;
  for (int bits = limit; bits > 0; --bits)
    for (int k = 0; k < counts[bits]; ++k)
      lengths[leaves[size_t(next++)].second] = uint8_t(bits);
}

namespace {

// Canonical codes for the lengths, bit-reversed for a least-significant-
// bit-first writer.
void MakeCodes(const uint8_t *lengths, int n, uint16_t *codes) {
  int counts[kMaxCodeBits + 1] = {};
  for (int i = 0; i < n; ++i)
    ++counts[lengths[i]];
  counts[0] = 0;
  uint32_t nextCode[kMaxCodeBits + 2] = {};
  uint32_t code = 0;
  for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
    code = (code + uint32_t(counts[bits - 1])) << 1;
    nextCode[bits] = code;
  }
  for (int i = 0; i < n; ++i) {
    const int len = lengths[i];
    if (!len)
      continue;
    uint32_t c = nextCode[len]++, reversed = 0;
    for (int b = 0; b < len; ++b, c >>= 1)
      reversed = (reversed << 1) | (c & 1);
    codes[i] = uint16_t(reversed);
  }
}

size_t MatchLength(const uint8_t *a, const uint8_t *b, size_t limit) {
  size_t n = 0;
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y)
      return n + size_t(__builtin_ctzll(x ^ y) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n])
    ++n;
  return n;
}

inline uint32_t Hash4(const uint8_t *p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return (v * 2654435761u) >> (32 - kHashBits);
}

} // namespace

// ---- The stream --------------------------------------------------------------------------

DeflateStream::DeflateStream(Sink sink, size_t rowLength)
    : sink_(std::move(sink)), rowLength_(rowLength <= kWindow ? rowLength : 0),
      buffer_(kWindow + std::max(kChunk, rowLength)), heads_(size_t(1) << kHashBits, 0),
      symbols_(kBlockSymbols), out_(kOutPiece + kBlockSymbols * 6 + 1024) {
  // Deflate with a 32 KiB window, no dictionary, "fastest" level: 0x78 0x01.
  out_[0] = 0x78;
  out_[1] = 0x01;
  outSize_ = 2;
}

bool DeflateStream::Write(const uint8_t *data, size_t size) {
  // Adler-32 by pieces: over k bytes, a grows by their sum and b by k times
  // a plus the bytes weighted k, k - 1, ... 1 (two sums that vectorise).
  // 5552 bytes keep the weighted sum within 32 bits.
  {
    const uint8_t *p = data;
    for (size_t left = size; left;) {
      const size_t k = std::min<size_t>(left, 5552);
      uint32_t s1 = 0, s2 = 0;
      for (size_t i = 0; i < k; ++i) {
        s1 += p[i];
        s2 += uint32_t(k - i) * p[i];
      }
      adlerB_ = uint32_t((adlerB_ + uint64_t(k) * adlerA_ + s2) % 65521);
      adlerA_ = (adlerA_ + s1) % 65521;
      p += k;
      left -= k;
    }
  }
  while (size && ok_) {
    const size_t take = std::min(size, buffer_.size() - filled_);
    std::memcpy(buffer_.data() + filled_, data, take);
    filled_ += take;
    data += take;
    size -= take;
    if (filled_ == buffer_.size()) {
      Compress();
      // Keep the last window's bytes for the matches to come.
      std::memmove(buffer_.data(), buffer_.data() + filled_ - kWindow, kWindow);
      base_ += int64_t(filled_ - kWindow);
      filled_ = done_ = kWindow;
    }
  }
  return ok_;
}

void DeflateStream::Compress() {
  const uint8_t *b = buffer_.data();
  const size_t end = filled_;
  const size_t row = rowLength_;
  size_t p = done_;
  while (p < end) {
    const size_t limit = std::min(kMaxMatch, end - p);
    size_t best = 0, bestDistance = 0;
    const auto consider = [&](size_t d) {
      if (d == 0 || d > p || d > kWindow)
        return;
      const size_t n = MatchLength(b + p, b + p - d, limit);
      if (n > best) {
        best = n;
        bestDistance = d;
      }
    };
    if (limit >= kMinMatch) {
      consider(3); // the pixel before
      if (best < limit && row)
        consider(row); // the pixel above
      if (limit >= 4) {
        uint32_t &head = heads_[Hash4(b + p)];
        const int64_t here = base_ + int64_t(p), last = int64_t(head) - 1;
        head = uint32_t(here + 1);
        if (best < limit && last >= 0)
          consider(size_t(here - last));
      }
    }
    if (best >= kMinMatch) {
      symbols_[symbolCount_++] = {uint16_t(best), uint16_t(bestDistance)};
      p += best;
    } else {
      symbols_[symbolCount_++] = {b[p], 0};
      ++p;
    }
    if (symbolCount_ == kBlockSymbols)
      FlushBlock(false);
  }
  done_ = end;
}

void DeflateStream::PutBits(uint32_t value, int count) {
  bits_ |= uint64_t(value) << bitCount_;
  bitCount_ += count;
  if (bitCount_ >= 32) {
    const uint32_t word = uint32_t(bits_);
    uint8_t *o = out_.data() + outSize_;
    o[0] = uint8_t(word);
    o[1] = uint8_t(word >> 8);
    o[2] = uint8_t(word >> 16);
    o[3] = uint8_t(word >> 24);
    outSize_ += 4;
    bits_ >>= 32;
    bitCount_ -= 32;
  }
}

void DeflateStream::FlushBlock(bool last) {
  const Tables &t = DeflateTables();
  uint32_t literalFreq[kLiteralCodes] = {}, distanceFreq[kDistanceCodes] = {};
  for (size_t i = 0; i < symbolCount_; ++i) {
    const Symbol s = symbols_[i];
    if (s.distance == 0) {
      ++literalFreq[s.value];
    } else {
      ++literalFreq[257 + t.lengthCode[s.value]];
      ++distanceFreq[t.distanceCode[s.distance]];
    }
  }
  literalFreq[kEndOfBlock] = 1;
  uint8_t literalLen[kLiteralCodes], distanceLen[kDistanceCodes];
  HuffmanCodeLengths(literalFreq, kLiteralCodes, kMaxCodeBits, literalLen);
  HuffmanCodeLengths(distanceFreq, kDistanceCodes, kMaxCodeBits, distanceLen);
  int literals = kLiteralCodes, distances = kDistanceCodes;
  while (literals > 257 && literalLen[literals - 1] == 0)
    --literals;
  while (distances > 1 && distanceLen[distances - 1] == 0)
    --distances;

  // The two length lists as one, run-length coded: 16 repeats the last
  // length 3 to 6 times, 17 and 18 give 3 to 10 and 11 to 138 zeros.
  uint8_t all[kLiteralCodes + kDistanceCodes];
  std::copy(literalLen, literalLen + literals, all);
  std::copy(distanceLen, distanceLen + distances, all + literals);
  const int total = literals + distances;
  struct Run {
    uint8_t symbol, extra;
  };
  Run runs[kLiteralCodes + kDistanceCodes];
  int runCount = 0;
  uint32_t lengthFreq[kLengthCodes] = {};
  const auto add = [&](int symbol, int extra) {
    runs[runCount++] = {uint8_t(symbol), uint8_t(extra)};
    ++lengthFreq[symbol];
  };
  for (int i = 0; i < total;) {
    const int len = all[i];
    int run = 1;
    while (i + run < total && all[i + run] == len)
      ++run;
    i += run;
    if (len == 0) {
      for (; run >= 11; run -= std::min(run, 138))
        add(18, std::min(run, 138) - 11);
      if (run >= 3) {
        add(17, run - 3);
        run = 0;
      }
    } else {
      add(len, 0);
      --run;
      for (; run >= 3; run -= std::min(run, 6))
        add(16, std::min(run, 6) - 3);
    }
    for (; run > 0; --run)
      add(len, 0);
  }
  uint8_t lengthLen[kLengthCodes];
  HuffmanCodeLengths(lengthFreq, kLengthCodes, kMaxLengthCodeBits, lengthLen);
  int stored = kLengthCodes;
  while (stored > 4 && lengthLen[kLengthOrder[stored - 1]] == 0)
    --stored;
  uint16_t literalCode[kLiteralCodes], distanceCode[kDistanceCodes], lengthCode[kLengthCodes];
  MakeCodes(literalLen, kLiteralCodes, literalCode);
  MakeCodes(distanceLen, kDistanceCodes, distanceCode);
  MakeCodes(lengthLen, kLengthCodes, lengthCode);

  PutBits(last ? 1 : 0, 1);
  PutBits(2, 2); // dynamic Huffman codes
  PutBits(uint32_t(literals - 257), 5);
  PutBits(uint32_t(distances - 1), 5);
  PutBits(uint32_t(stored - 4), 4);
  for (int i = 0; i < stored; ++i)
    PutBits(lengthLen[kLengthOrder[i]], 3);
  static constexpr int kRunExtraBits[3] = {2, 3, 7};
  for (int i = 0; i < runCount; ++i) {
    PutBits(lengthCode[runs[i].symbol], lengthLen[runs[i].symbol]);
    if (runs[i].symbol >= 16)
      PutBits(runs[i].extra, kRunExtraBits[runs[i].symbol - 16]);
  }

  for (size_t i = 0; i < symbolCount_; ++i) {
    const Symbol s = symbols_[i];
    if (s.distance == 0) {
      PutBits(literalCode[s.value], literalLen[s.value]);
      continue;
    }
    const int lc = t.lengthCode[s.value];
    PutBits(literalCode[257 + lc], literalLen[257 + lc]);
    if (kLengthExtra[lc])
      PutBits(uint32_t(s.value - kLengthBase[lc]), kLengthExtra[lc]);
    const int dc = t.distanceCode[s.distance];
    PutBits(distanceCode[dc], distanceLen[dc]);
    if (kDistanceExtra[dc])
      PutBits(uint32_t(s.distance - kDistanceBase[dc]), kDistanceExtra[dc]);
  }
  PutBits(literalCode[kEndOfBlock], literalLen[kEndOfBlock]);
  symbolCount_ = 0;
  if (outSize_ >= kOutPiece)
    Emit();
}

// Hands out the whole bytes written; bits short of a word wait in bits_.
bool DeflateStream::Emit() {
  if (ok_ && outSize_)
    ok_ = sink_(out_.data(), outSize_);
  outSize_ = 0;
  return ok_;
}

bool DeflateStream::Finish() {
  if (!ok_)
    return false;
  Compress();
  FlushBlock(true);
  // The block ends on a byte boundary before the checksum.
  while (bitCount_ > 0) {
    out_[outSize_++] = uint8_t(bits_);
    bits_ >>= 8;
    bitCount_ -= 8;
  }
  bits_ = 0;
  bitCount_ = 0;
  const uint32_t adler = (adlerB_ << 16) | adlerA_;
  for (int shift = 24; shift >= 0; shift -= 8)
    out_[outSize_++] = uint8_t(adler >> shift);
  return Emit();
}

// ---- PNG files ---------------------------------------------------------------------------

namespace {

// CRC-32 eight bytes at a time: table k gives the CRC of a byte followed by
// k zero bytes.
struct CrcTables {
  uint32_t entry[8][256];
  CrcTables() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k)
        c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entry[0][n] = c;
    }
    for (int t = 1; t < 8; ++t)
      for (uint32_t n = 0; n < 256; ++n)
        entry[t][n] = entry[0][entry[t - 1][n] & 0xFF] ^ (entry[t - 1][n] >> 8);
  }
};

uint32_t Crc(uint32_t crc, const uint8_t *data, size_t size) {
  static_assert(std::endian::native == std::endian::little);
  static const CrcTables tables;
  const auto &t = tables.entry;
  crc = ~crc;
  for (; size >= 8; size -= 8, data += 8) {
    uint32_t lo, hi;
    std::memcpy(&lo, data, 4);
    std::memcpy(&hi, data + 4, 4);
    lo ^= crc; // little-endian words: the first byte is the lowest
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
  }
  for (; size; --size)
    crc = t[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutBig32(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

bool WriteChunk(AtomicFileWriter &f, const char type[4], const uint8_t *data, size_t size) {
  uint8_t head[8], tail[4];
  PutBig32(head, uint32_t(size));
  std::memcpy(head + 4, type, 4);
  PutBig32(tail, Crc(Crc(0, head + 4, 4), data, size));
  return f.Write(head, 8) && f.Write(data, size) && f.Write(tail, 4);
}

// Dots per metre of the resolution, as the pHYs chunk holds them.
uint32_t DotsPerMetre(double dotsPerInch) {
  constexpr uint32_t kAt72 = 2835;
  constexpr double kInchesPerMetre = 1.0 / 0.0254;
  const double dpm = std::round(dotsPerInch * kInchesPerMetre);
  if (!(dpm >= 1.0))
    return kAt72;
  return dpm < 2147483647.0 ? uint32_t(dpm) : 2147483647u;
}

} // namespace

PngStripWriter::PngStripWriter(AtomicFileWriter &file, int width, int height, double dotsPerInch)
    : file_(file), width_(width), height_(height), ok_(width > 0 && height > 0) {
  if (!ok_)
    return;
  static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  uint8_t header[13];
  PutBig32(header, uint32_t(width));
  PutBig32(header + 4, uint32_t(height));
  header[8] = 8;  // bits per channel
  header[9] = 2;  // red, green, blue
  header[10] = 0; // deflate
  header[11] = 0; // adaptive filtering (every row says "none")
  header[12] = 0; // not interlaced
  uint8_t physical[9];
  const uint32_t dpm = DotsPerMetre(dotsPerInch);
  PutBig32(physical, dpm);
  PutBig32(physical + 4, dpm);
  physical[8] = 1; // metres
  ok_ = file_.Write(kSignature, sizeof kSignature) && WriteChunk(file_, "IHDR", header, sizeof header) &&
        WriteChunk(file_, "pHYs", physical, sizeof physical);
  const size_t rowLength = size_t(width) * 3 + 1;
  row_.assign(rowLength, 0); // the first byte of a row is its filter: none
  stream_ = std::make_unique<DeflateStream>(
      [this](const uint8_t *data, size_t size) { return WriteChunk(file_, "IDAT", data, size); }, rowLength);
}

bool PngStripWriter::WriteRows(const ovgfx::PixelBuffer &strip) {
  return WriteRows(strip, strip.Bounds().top, strip.Bounds().bottom);
}

bool PngStripWriter::WriteRows(const ovgfx::PixelBuffer &strip, int top, int bottom) {
  const Rect &b = strip.Bounds();
  if (!ok_ || strip.Depth() != 32 || strip.Width() != width_ || !strip.BaseAddr() || top < b.top ||
      bottom > b.bottom || bottom - top > height_ - rowsWritten_)
    return ok_ = false;
  for (int y = top; ok_ && y < bottom; ++y) {
    const uint32_t *pixels = strip.Row32(y);
    uint8_t *o = row_.data() + 1;
    for (int x = 0; x < width_; ++x, o += 3) {
      const uint32_t p = pixels[x];
      o[0] = uint8_t(p >> 16);
      o[1] = uint8_t(p >> 8);
      o[2] = uint8_t(p);
    }
    ok_ = stream_->Write(row_.data(), row_.size());
    ++rowsWritten_;
  }
  return ok_;
}

bool PngStripWriter::Finish() {
  ok_ = ok_ && rowsWritten_ == height_ && stream_->Finish() && WriteChunk(file_, "IEND", nullptr, 0);
  return ok_;
}

bool WritePNGFile(const ovgfx::PixelBuffer &image, AtomicFileWriter &f, double dotsPerInch) {
  if (image.Depth() != 32 || image.Width() <= 0 || image.Height() <= 0 || !image.BaseAddr())
    return false;
  PngStripWriter png(f, image.Width(), image.Height(), dotsPerInch);
  return png.WriteRows(image) && png.Finish();
}
