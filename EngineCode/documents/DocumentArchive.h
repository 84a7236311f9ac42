// One description of each record's stored fields serves both directions:
// `SectionWriter` appends the fields to a buffer (`PlacedWriter` writes
// them into room made for them) and `SectionReader` reads them back in the
// same order, so the writers and the reader cannot drift.
#pragma once

#include "FileBuffer.h"

#include <array>
#include <bit>
#include <concepts>
#include <cstring>
#include <type_traits>

// The unsigned number a field is stored as, its bits unchanged.
inline uint8_t StoredBits(uint8_t v) { return v; }
inline uint8_t StoredBits(int8_t v) { return static_cast<uint8_t>(v); }
inline uint8_t StoredBits(char v) { return static_cast<uint8_t>(v); }
inline uint16_t StoredBits(uint16_t v) { return v; }
inline uint16_t StoredBits(int16_t v) { return static_cast<uint16_t>(v); }
inline uint32_t StoredBits(uint32_t v) { return v; }
inline uint32_t StoredBits(int32_t v) { return static_cast<uint32_t>(v); }
inline uint32_t StoredBits(float v) { return std::bit_cast<uint32_t>(v); }
inline uint64_t StoredBits(double v) { return std::bit_cast<uint64_t>(v); }

struct SectionWriter {
  FileBuffer &b;
  static constexpr bool kReading = false;

  // The writer only reads what it is given: const records write as well.
  template <class T> void operator()(T v) { Put(StoredBits(v)); }
  bool ok() const { return b.status == 0; }
  // A run of words, as each would be written alone.
  void Words(const uint32_t *words, size_t count) {
    if constexpr (std::endian::native == std::endian::little) {
      BufferWriteBytes(b, words, count * sizeof(uint32_t));
    } else {
      for (size_t k = 0; k < count; k++)
        Put(words[k]);
    }
  }
  void Bytes(const void *bytes, size_t count) { BufferWriteBytes(b, bytes, count); }

private:
  // The value's bytes, least significant first. Large documents write
  // millions of fields, so a buffer with room takes them in place; anything
  // else (a failed or fixed-size buffer, a full one) goes through the
  // checked writer.
  template <class T> [[gnu::always_inline]] void Put(T v) {
    uint8_t raw[sizeof(T)];
    for (size_t k = 0; k < sizeof(T); k++)
      raw[k] = static_cast<uint8_t>(v >> (8 * k));
    std::vector<uint8_t> &out = b.out;
    if (b.status == 0 && b.fixedCapacity == 0 && out.capacity() - out.size() >= sizeof(T)) {
      for (uint8_t byte : raw)
        out.push_back(byte);
    } else {
      BufferWriteBytes(b, raw, sizeof(T));
    }
  }
};

// The same fields, in the same layout, written into room made for them
// beforehand (a run of records whose size is known before it is written,
// filled on several threads at once): no check and no growth per field, so
// the caller makes room for exactly what it writes. `at` ends past the last
// byte written.
struct PlacedWriter {
  uint8_t *at;
  static constexpr bool kReading = false;

  template <class T> void operator()(T v) { Put(StoredBits(v)); }
  bool ok() const { return true; }
  // Runs are short (a face's vertices, an atom's bonds): they are copied
  // two words at a time here rather than through a call each.
  void Words(const uint32_t *words, size_t count) {
    if constexpr (std::endian::native == std::endian::little) {
      for (; count >= 2; count -= 2, words += 2, at += 8)
        std::memcpy(at, words, 8);
    }
    for (; count > 0; count--, words++)
      Put(*words);
  }
  void Bytes(const void *bytes, size_t count) {
    if (count > 0)
      std::memcpy(at, bytes, count);
    at += count;
  }

private:
  template <class T> [[gnu::always_inline]] void Put(T v) {
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(at, &v, sizeof(T));
    } else {
      for (size_t k = 0; k < sizeof(T); k++)
        at[k] = static_cast<uint8_t>(v >> (8 * k));
    }
    at += sizeof(T);
  }
};

struct SectionReader {
  FileBuffer &b;
  static constexpr bool kReading = true;

  void operator()(uint8_t &v) { BufferReadU8(b, v); }
  void operator()(int8_t &v) {
    uint8_t u = 0;
    if (!BufferReadU8(b, u))
      v = static_cast<int8_t>(u);
  }
  void operator()(char &v) {
    uint8_t u = 0;
    if (!BufferReadU8(b, u))
      v = static_cast<char>(u);
  }
  void operator()(uint16_t &v) { BufferReadU16(b, v); }
  void operator()(int16_t &v) {
    uint16_t u = 0;
    if (!BufferReadU16(b, u))
      v = static_cast<int16_t>(u);
  }
  void operator()(uint32_t &v) { BufferReadU32(b, v); }
  void operator()(int32_t &v) {
    uint32_t u = 0;
    if (!BufferReadU32(b, u))
      v = static_cast<int32_t>(u);
  }
  void operator()(float &v) { BufferReadF32(b, v); }
  void operator()(double &v) { BufferReadF64(b, v); }
  bool ok() const { return b.status == 0; }
};

template <class A, class T, size_t N> void Xfer(A &a, T (&v)[N]) {
  for (auto &x : v)
    Xfer(a, x);
}
template <class A, class T, size_t N> void Xfer(A &a, std::array<T, N> &v) {
  for (auto &x : v)
    Xfer(a, x);
}
template <class A, class T, size_t N> void Xfer(A &a, const std::array<T, N> &v) {
  for (auto &x : v)
    Xfer(a, x);
}
template <class A, class T>
  requires std::is_arithmetic_v<T>
void Xfer(A &a, T &v) {
  a(v);
}
// A record of the given type, or a const one for the writer.
template <class T, class Record>
concept RecordOf = std::same_as<std::remove_const_t<T>, Record>;
template <class A, RecordOf<RGBColor> C> void Xfer(A &a, C &c) {
  a(c.red);
  a(c.green);
  a(c.blue);
}
template <class A, RecordOf<Rect> R> void Xfer(A &a, R &r) {
  a(r.top);
  a(r.left);
  a(r.bottom);
  a(r.right);
}
template <class A, RecordOf<Point> P> void Xfer(A &a, P &p) {
  a(p.v);
  a(p.h);
}
// A length-prefixed string: its length byte and only the characters used.
template <class A, RecordOf<Str255> S> void Xfer(A &a, S &s) {
  a(s.len);
  if constexpr (A::kReading) {
    std::fill(std::begin(s.text), std::end(s.text), '\0');
    if (BufferReadBytes(a.b, s.text, s.len) != 0)
      s.len = 0;
  } else {
    a.Bytes(s.text, s.len);
  }
}

template <class A, class... T> void XferAll(A &a, T &...v) { (Xfer(a, v), ...); }
