// Numbers as text for the mesh documents, without the user's locale: the
// bytes printf's "%.*f" gives in the C locale, and whole numbers in decimal,
// written straight into a caller's buffer. A document of millions of
// coordinates spends most of its time here, so the common case (a float of
// moderate size at a precision known when compiling) is inline.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The room WriteFixed and WriteFixedFloat may write into at `out`.
inline constexpr size_t kMaxFixedChars = 400;

// Writes v as printf's "%.*f" in the C locale would (a value that is not
// finite as 0) at `out`; answers the end of the text.
char *WriteFixed(char *out, double v, int precision);

namespace fixedtext {

// "00" to "99".
inline constexpr char kDigitPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                                      "8081828384858687888990919293949596979899";
inline constexpr uint64_t kTenTo[7] = {1, 10, 100, 1000, 10000, 100000, 1000000};
// Below this magnitude a float times 10^6 is a whole number of at most 50
// bits, exact in a double.
inline constexpr double kExactLimit = 1.0e9;
inline constexpr double kTwoTo52 = 4503599627370496.0;

inline void Pair(char *at, uint64_t v) { std::memcpy(at, kDigitPairs + 2 * v, 2); }
// The two digits of v < 100 as the low bytes of a word, the first lowest.
inline uint64_t PairBits(uint64_t v) {
  uint16_t bits;
  std::memcpy(&bits, kDigitPairs + 2 * v, 2);
  if constexpr (std::endian::native == std::endian::big)
    bits = __builtin_bswap16(bits);
  return bits;
}
// Stores the low n (at most 8) bytes of a word at `out`, the lowest first;
// 8 bytes are written.
inline char *StoreBytes(char *out, uint64_t bytes, int n) {
  if constexpr (std::endian::native == std::endian::big)
    bytes = __builtin_bswap64(bytes);
  std::memcpy(out, &bytes, 8);
  return out + n;
}

// The general path: std::to_chars (printf's digits, exactly rounded).
char *WriteFixedExact(char *out, double v, int precision);
// The sign, whole part, point and `precision` digits of the fraction.
char *WriteFixedParts(char *out, bool negative, uint64_t whole, uint64_t fraction, int precision);

} // namespace fixedtext

// Writes v in decimal so that it ends just before `end`; answers its start.
inline char *DecimalBefore(char *end, uint64_t v) {
  while (v >= 100) {
    end -= 2;
    fixedtext::Pair(end, v % 100);
    v /= 100;
  }
  if (v >= 10) {
    end -= 2;
    fixedtext::Pair(end, v);
  } else {
    *--end = static_cast<char>('0' + v);
  }
  return end;
}

// Writes v in decimal at `out` (room for 24 characters); answers the end.
// Below 1000 without branches: array indices of every length alternate.
inline char *WriteDecimal(char *out, uint64_t v) {
  if (v < 1000) {
    const uint64_t bytes = static_cast<uint64_t>('0' + v / 100) | fixedtext::PairBits(v % 100) << 8;
    const int skip = static_cast<int>(v < 100) + static_cast<int>(v < 10);
    return fixedtext::StoreBytes(out, bytes >> (8 * skip), 3 - skip);
  }
  size_t digits = 4;
  for (uint64_t rest = v / 10000; rest > 0; rest /= 10)
    digits++;
  DecimalBefore(out + digits, v);
  return out + digits;
}

// WriteFixed of a float at P (1 to 6) digits after the point. The caller
// gives 32 characters of room at least (kMaxFixedChars is plenty).
template <int P> char *WriteFixedFloat(char *out, float v) {
  static_assert(P >= 1 && P <= 6);
  if (!std::isfinite(v))
    v = 0.0f;
  const double magnitude = std::fabs(static_cast<double>(v));
  if (!(magnitude < fixedtext::kExactLimit))
    return fixedtext::WriteFixedExact(out, v, P);
  // A float times 10^P is exact in a double, so rounding that product to the
  // nearest whole number, ties to even (adding and taking away 2^52 does
  // that), is the correctly rounded decimal printf gives.
  constexpr uint64_t unit = fixedtext::kTenTo[P];
  const double product = magnitude * static_cast<double>(unit);
  const auto scaled =
      static_cast<uint64_t>(static_cast<int64_t>((product + fixedtext::kTwoTo52) - fixedtext::kTwoTo52));
  const uint64_t whole = scaled / unit;
  uint64_t fraction = scaled - whole * unit;
  const bool negative = std::signbit(v);
  if constexpr (P > 4)
    return fixedtext::WriteFixedParts(out, negative, whole, fraction, P);
  if (whole >= 100)
    return fixedtext::WriteFixedParts(out, negative, whole, fraction, P);
  // The text is built in a word, its bytes in order: the sign, two places
  // of the whole part, the point, the fraction. Signs and lengths vary at
  // random along an array of coordinates, so the unused places at the front
  // are shifted out without a branch. Below 10 the sign takes the tens.
  uint64_t fractionBits = 0;
  for (int k = 0; k < P / 2; k++) {
    fractionBits = fractionBits << 16 | fixedtext::PairBits(fraction % 100);
    fraction /= 100;
  }
  if constexpr (P % 2 == 1)
    fractionBits = fractionBits << 8 | static_cast<uint64_t>('0' + fraction);
  const uint64_t wholeBits = whole < 10 ? ('-' | static_cast<uint64_t>('0' + whole) << 8) : fixedtext::PairBits(whole);
  const int skip = static_cast<int>(whole < 10) + static_cast<int>(!negative);
  const uint64_t bytes = '-' | wholeBits << 8 | uint64_t{'.'} << 24 | fractionBits << 32;
  return fixedtext::StoreBytes(out, bytes >> (8 * skip), 4 + P - skip);
}
