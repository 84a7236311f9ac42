#include "export/FixedText.h"

#include <cfloat>
#include <charconv>

char *fixedtext::WriteFixedExact(char *out, double v, int precision) {
  return std::to_chars(out, out + kMaxFixedChars, v, std::chars_format::fixed, precision).ptr;
}

char *fixedtext::WriteFixedParts(char *out, bool negative, uint64_t whole, uint64_t fraction, int precision) {
  if (negative)
    *out++ = '-';
  out = WriteDecimal(out, whole);
  *out = '.';
  for (int k = precision; k > 0; k--) {
    out[k] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return out + 1 + precision;
}

char *WriteFixed(char *out, double v, int precision) {
  if (!std::isfinite(v))
    v = 0.0;
  // Almost every number written is a float (a coordinate or a normal).
  if (std::fabs(v) <= double(FLT_MAX) && static_cast<double>(static_cast<float>(v)) == v) {
    const float f = static_cast<float>(v);
    switch (precision) {
    case 1:
      return WriteFixedFloat<1>(out, f);
    case 2:
      return WriteFixedFloat<2>(out, f);
    case 3:
      return WriteFixedFloat<3>(out, f);
    case 4:
      return WriteFixedFloat<4>(out, f);
    case 5:
      return WriteFixedFloat<5>(out, f);
    case 6:
      return WriteFixedFloat<6>(out, f);
    default:
      break;
    }
  }
  return fixedtext::WriteFixedExact(out, v, precision);
}
