#include "Utilities.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
// Blank and the control characters: what the trimming helpers call "below !".
bool IsBelowBang(char c) { return static_cast<unsigned char>(c) < '!'; }
bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Writes text into a fixed buffer, cut to its capacity and NUL-terminated.
// True when all of it fitted. The text may lie inside the buffer itself.
bool WriteToBuffer(std::span<char> dst, std::string_view text) {
  if (dst.empty())
    return false; // not even room for the terminator
  size_t n = std::min(text.size(), dst.size() - 1);
  if (n > 0)
    std::memmove(dst.data(), text.data(), n);
  dst[n] = '\0';
  return n == text.size();
}

// Replaces the text of a buffer by a shorter or equal text taken from it.
void ShrinkBufferText(std::span<char> buf, size_t oldLength, size_t start, size_t length) {
  if (start > 0 && length > 0)
    std::memmove(buf.data(), buf.data() + start, length);
  if (length < oldLength)
    buf[length] = '\0';
}

std::string_view TrimTrailing(std::string_view s, bool (*drop)(char)) {
  while (!s.empty() && drop(s.back()))
    s.remove_suffix(1);
  return s;
}

std::string_view TrimLeading(std::string_view s, bool (*drop)(char)) {
  while (!s.empty() && drop(s.front()))
    s.remove_prefix(1);
  return s;
}

// The text of a buffer, viewed in place so it can be rewritten.
std::string_view BufferText(std::span<char> buf) { return CStrView(std::span<const char>(buf.data(), buf.size())); }

} // namespace

// ---- Length-prefixed strings ------------------------------------------------

Str255 MakeStr255(std::string_view text) {
  Str255 p;
  MyC2PString(text, p);
  return p;
}

// ---- NUL-terminated strings -------------------------------------------------

int16_t MyStrLen(std::string_view s) {
  return static_cast<int16_t>(std::min<size_t>(s.size(), std::numeric_limits<int16_t>::max()));
}

void MyStrCopy(std::string &dst, std::string_view src) { dst.assign(src); }

bool MyStrCopy(std::span<char> dst, std::string_view src) { return WriteToBuffer(dst, src); }

namespace {
std::string WithoutSpaces(std::string_view src) {
  std::string out;
  out.reserve(src.size());
  for (char c : src)
    if (static_cast<signed char>(c) > ' ')
      out.push_back(c);
  return out;
}
} // namespace

void MyStrCopyWithoutSpaces(std::string &dst, std::string_view src) { dst = WithoutSpaces(src); }

bool MyStrCopyWithoutSpaces(std::span<char> dst, std::string_view src) {
  return WriteToBuffer(dst, WithoutSpaces(src));
}

size_t Concats(std::string &dst, std::string_view src) {
  dst.append(src);
  return dst.size();
}

size_t Concats(std::span<char> dst, std::string_view src) {
  if (dst.empty())
    return 0;
  size_t length = BufferText(dst).size();
  if (length == dst.size()) {
    // A full buffer without a terminator: terminate it before anything else.
    length = dst.size() - 1;
    dst[length] = '\0';
  }
  WriteToBuffer(dst.subspan(length), src);
  return BufferText(dst).size();
}

bool MyMatchCStrings(std::string_view a, std::string_view b) { return a == b; }

void TrimString(std::string &s) {
  std::string_view t = TrimLeading(TrimTrailing(s, IsWhiteSpace), IsWhiteSpace);
  s = std::string(t);
}

void TrimString(std::span<char> s) {
  std::string_view old = BufferText(s);
  std::string_view t = TrimLeading(TrimTrailing(old, IsWhiteSpace), IsWhiteSpace);
  ShrinkBufferText(s, old.size(), static_cast<size_t>(t.data() - old.data()), t.size());
}

void LeftJustifyCString(std::string &s) {
  std::string_view t = TrimLeading(s, IsBelowBang);
  s.erase(0, s.size() - t.size());
}

void LeftJustifyCString(std::span<char> s) {
  std::string_view old = BufferText(s);
  std::string_view t = TrimLeading(old, IsBelowBang);
  ShrinkBufferText(s, old.size(), old.size() - t.size(), t.size());
}

int32_t IndexSubString(std::string_view s, std::string_view sub) {
  if (sub.empty())
    return -1;
  size_t pos = s.find(sub);
  if (pos == std::string_view::npos || pos > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    return -1;
  return static_cast<int32_t>(pos);
}

namespace {
// The part of src that CopySubString takes, and whether all n characters were
// there.
std::string_view SubStringPart(std::string_view src, int32_t start, int32_t n, bool &complete) {
  complete = false;
  if (start < 0 || n < 0 || static_cast<size_t>(start) > src.size())
    return {};
  std::string_view rest = src.substr(static_cast<size_t>(start));
  complete = rest.size() >= static_cast<size_t>(n);
  return rest.substr(0, static_cast<size_t>(n));
}
} // namespace

bool CopySubString(std::string &dst, std::string_view src, int32_t start, int32_t n) {
  bool complete;
  std::string_view part = SubStringPart(src, start, n, complete);
  dst.assign(part);
  return complete;
}

bool CopySubString(std::span<char> dst, std::string_view src, int32_t start, int32_t n) {
  bool complete;
  std::string_view part = SubStringPart(src, start, n, complete);
  if (dst.empty())
    return false;
  bool fitted = WriteToBuffer(dst, part);
  return complete && fitted;
}

void ConvertCharToLowerCase(char &c) { c = AsciiLower(c); }
void ConvertCharToUpperCase(char &c) { c = AsciiUpper(c); }

void ConvertCStringToLowerCase(std::string &s) {
  for (char &c : s)
    c = AsciiLower(c);
}

void ConvertCStringToLowerCase(std::span<char> s) {
  size_t n = BufferText(s).size();
  for (size_t i = 0; i < n; i++)
    s[i] = AsciiLower(s[i]);
}

void ConvertCStringToUpperCase(std::string &s) {
  for (char &c : s)
    c = AsciiUpper(c);
}

void ConvertCStringToUpperCase(std::span<char> s) {
  size_t n = BufferText(s).size();
  for (size_t i = 0; i < n; i++)
    s[i] = AsciiUpper(s[i]);
}

int16_t MyCompareStringLetters(std::string_view a, std::string_view b) {
  char ca = a.empty() ? '\0' : a.front();
  char cb = b.empty() ? '\0' : b.front();
  if (ca == cb)
    return 0;
  signed char fa = static_cast<signed char>(AsciiUpper(ca));
  signed char fb = static_cast<signed char>(AsciiUpper(cb));
  if (fa == fb) {
    // The same letter in two cases: order by the bytes themselves, so that
    // swapping the texts swaps the answer.
    fa = static_cast<signed char>(ca);
    fb = static_cast<signed char>(cb);
  }
  return fa > fb ? 1 : -1;
}

int16_t MyCompareIntegers(int16_t a, int16_t b) {
  if (a < b)
    return -1;
  return a > b ? 1 : 0;
}

namespace {
// A label widened to `width` characters: its leading text, number signs, then
// its trailing digits, read one character at a time without building it.
struct WidenedLabel {
  std::string_view lead;
  std::string_view digits;
  size_t width;

  WidenedLabel(std::string_view label, size_t w) : width(w) {
    size_t split = label.size();
    while (split > 0 && IsAsciiDigit(label[split - 1]))
      split--;
    lead = label.substr(0, split);
    digits = label.substr(split);
  }

  unsigned char at(size_t i) const {
    if (i < lead.size())
      return static_cast<unsigned char>(lead[i]);
    size_t digitsStart = width - digits.size();
    if (i < digitsStart)
      return '#';
    return static_cast<unsigned char>(digits[i - digitsStart]);
  }
};
} // namespace

int32_t MyIntegerCompareSiteLabels(std::string_view a, std::string_view b) {
  if (a.size() == b.size()) {
    int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  // Labels longer than 255 characters cannot be widened to 255; widen both
  // to the longer one instead.
  size_t width = std::max({kStr255MaxLength, a.size(), b.size()});
  WidenedLabel wa(a, width), wb(b, width);
  // Past both leading texts and before either's digits both are number
  // signs: the comparison passes over that run in one step.
  const size_t padFrom = std::max(wa.lead.size(), wb.lead.size());
  const size_t padTo = std::min(width - wa.digits.size(), width - wb.digits.size());
  for (size_t i = 0; i < width; i++) {
    if (i == padFrom && padFrom < padTo)
      i = padTo;
    if (i >= width)
      break;
    unsigned char ca = wa.at(i), cb = wb.at(i);
    if (ca != cb)
      return ca < cb ? -1 : 1;
  }
  return 0;
}

// ---- Length-prefixed string helpers -----------------------------------------

bool MyMatchPStrings(const Str255 &a, const Str255 &b) { return a.view() == b.view(); }

void MyPStrCopy(Str255 &dst, const Str255 &src) {
  if (&dst == &src)
    return;
  dst.len = src.len;
  std::memcpy(dst.text, src.text, src.len);
}

void MyMergePStrings(Str255 &dst, const Str255 &src) {
  size_t n = std::min<size_t>(src.len, kStr255MaxLength - dst.len);
  std::memmove(dst.text + dst.len, src.text, n);
  dst.len = static_cast<uint8_t>(dst.len + n);
}

void MyC2PString(std::string_view s, Str255 &p) {
  size_t n = std::min(s.size(), kStr255MaxLength);
  std::memmove(p.text, s.data(), n);
  p.len = static_cast<uint8_t>(n);
}

void MyP2CString(const Str255 &p, std::string &s) { s.assign(p.view()); }

bool MyP2CString(const Str255 &p, std::span<char> s) { return WriteToBuffer(s, p.view()); }

size_t TrimC2PString(std::string_view buf, Str255 &p, size_t n) {
  size_t taken = std::min({n, kStr255MaxLength, buf.size()});
  std::string_view field = TrimTrailing(buf.substr(0, taken), IsBelowBang);
  MyC2PString(field, p);
  return taken;
}

void LeftJustifyPString(Str255 &p) {
  std::string_view t = TrimLeading(p.view(), IsBelowBang);
  MyC2PString(t, p);
}

// ---- Numbers ------------------------------------------------------------------

bool IsInteger(double x) { return std::fabs(x - std::round(x)) < kIntegerTolerance; }

int16_t imin3(int16_t a, int16_t b, int16_t c) { return std::min({a, b, c}); }
int16_t imax3(int16_t a, int16_t b, int16_t c) { return std::max({a, b, c}); }
float fmin3(float a, float b, float c) { return std::min({a, b, c}); }
float fmax3(float a, float b, float c) { return std::max({a, b, c}); }

namespace {
// Reads a decimal integer the way "%d" does: leading white space, an optional
// sign, at least one digit; anything after the digits is ignored.
bool ReadInteger(std::string_view s, long long &value) {
  s = TrimLeading(s, IsWhiteSpace);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || !IsAsciiDigit(s.front()))
    return false;
  unsigned long long magnitude = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude);
  (void)end;
  if (ec != std::errc() || magnitude > static_cast<unsigned long long>(std::numeric_limits<int32_t>::max()) + 1)
    return false;
  value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  return value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max();
}

// Reads a decimal number the way "%f" does, but independently of the locale.
bool ReadReal(std::string_view s, double &value) {
  s = TrimLeading(s, IsWhiteSpace);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  // from_chars takes no sign of its own here: a second sign is unreadable.
  if (s.empty() || s.front() == '+' || s.front() == '-')
    return false;
  double v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  (void)end;
  if (ec != std::errc())
    return false;
  value = negative ? -v : v;
  return true;
}
} // namespace

double CharsToReal(std::string_view s) {
  double result = 0;
  size_t slash = s.size() > 1 ? s.find('/', 1) : std::string_view::npos;
  if (slash != std::string_view::npos) {
    long long numerator = 0, denominator = 0;
    if (!ReadInteger(s.substr(0, slash), numerator) || !ReadInteger(s.substr(slash + 1), denominator) ||
        denominator == 0)
      return 0;
    result = static_cast<double>(numerator) / static_cast<double>(denominator);
  } else if (!ReadReal(s, result)) {
    return 0;
  }
  return std::isfinite(result) ? result : 0;
}

// Tolerance on the numerator of Real2Frac, and its largest denominator.
inline constexpr double kFractionTolerance = 0.0001;
inline constexpr int kFractionMaxDenominator = 1000;

std::string Real2Frac(double x) {
  if (x == 0)
    return "  0 ";
  char sign = ' ';
  if (x < 0) {
    sign = '-';
    x = -x;
  }
  if (x > 1)
    x -= std::trunc(x); // a value that is not finite becomes NaN and finds no denominator
  int numerator = 0;
  int denominator = kFractionMaxDenominator + 1;
  for (int d = 2; d <= kFractionMaxDenominator; d++) {
    double p = d * x;
    double whole = std::floor(p);
    double fraction = p - whole;
    if (fraction < kFractionTolerance) {
      numerator = static_cast<int>(whole);
      denominator = d;
      break;
    }
    if (fraction > 1 - kFractionTolerance) {
      numerator = static_cast<int>(whole) + 1;
      denominator = d;
      break;
    }
  }
  char text[32];
  std::snprintf(text, sizeof text, "%c%d/%d", sign, numerator, denominator);
  return text;
}

bool Real2Frac(double x, std::span<char> out) { return WriteToBuffer(out, Real2Frac(x)); }

namespace {
// True when the format holds exactly one floating-point conversion that takes
// a single double (flags, width, precision and an "l" allowed, no "*"), and
// otherwise only plain text and "%%".
bool IsSingleRealFormat(const char *format) {
  if (format == nullptr)
    return false;
  int conversions = 0;
  for (const char *p = format; *p; p++) {
    if (*p != '%')
      continue;
    p++;
    if (*p == '%')
      continue;
    while (*p && std::strchr("-+ #0", *p))
      p++;
    while (IsAsciiDigit(*p))
      p++;
    if (*p == '.') {
      p++;
      while (IsAsciiDigit(*p))
        p++;
    }
    if (*p == 'l')
      p++;
    if (*p == '\0' || !std::strchr("fFeEgGaA", *p))
      return false;
    conversions++;
  }
  return conversions == 1;
}

// Removes the trailing zeros of the digits after the last decimal point, and
// the point when no digit is left after it. Nothing is removed unless the text
// ends in those digits (an exponent or a suffix stops it).
void TrimTrailingZeros(std::string &s) {
  size_t point = s.rfind('.');
  if (point == std::string::npos)
    return;
  for (size_t i = point + 1; i < s.size(); i++)
    if (!IsAsciiDigit(s[i]))
      return;
  size_t end = s.size();
  while (end > point + 1 && s[end - 1] == '0')
    end--;
  if (end == point + 1)
    end = point;
  s.erase(end);
}

// snprintf into a std::string; the format has been checked.
std::string FormatReal(const char *format, double x) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  char small[64];
  int n = std::snprintf(small, sizeof small, format, x);
  if (n < 0)
    return {};
  if (static_cast<size_t>(n) < sizeof small)
    return std::string(small, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), format, x);
  big.resize(static_cast<size_t>(n));
#pragma GCC diagnostic pop
  return big;
}
} // namespace

std::string MyTrimSprintf(const char *format, double x) {
  if (!IsSingleRealFormat(format))
    return {};
  std::string s = FormatReal(format, x);
  TrimTrailingZeros(s);
  return s;
}

bool MyTrimSprintf(std::span<char> out, const char *format, double x) {
  return WriteToBuffer(out, MyTrimSprintf(format, x));
}

// Decimals of MyConciseSprintf are clamped to this.
inline constexpr int kMaxConciseDecimals = 30;

std::string MyConciseSprintf(double x, int decimals) {
  char format[16];
  std::snprintf(format, sizeof format, "%%.%df", std::clamp(decimals, 0, kMaxConciseDecimals));
  std::string s = MyTrimSprintf(format, x);
  size_t digits = (!s.empty() && s.front() == '-') ? 1 : 0;
  if (s.size() > digits && s[digits] == '0')
    s.erase(digits, 1);
  // A value that rounds to zero leaves nothing but perhaps its sign.
  if (s.empty() || s == "-")
    return "0";
  return s;
}

bool MyConciseSprintf(std::span<char> out, double x, int decimals) {
  return WriteToBuffer(out, MyConciseSprintf(x, decimals));
}

// ---- Four- and two-character codes ------------------------------------------

void LongToFourChars(uint32_t code, char *out) {
  out[0] = static_cast<char>((code >> 24) & 0xFF);
  out[1] = static_cast<char>((code >> 16) & 0xFF);
  out[2] = static_cast<char>((code >> 8) & 0xFF);
  out[3] = static_cast<char>(code & 0xFF);
  out[4] = '\0';
}

void ShortToTwoChars(ElementCode code, char *s) {
  s[0] = static_cast<char>((code >> 8) & 0xFF);
  s[1] = static_cast<char>(code & 0xFF);
}

bool ConvertElementSymbol(char *sym) {
  if (sym[0] == 'H' && sym[1] == 'O')
    return true; // water
  if (IsAsciiLetter(sym[0])) {
    sym[0] = AsciiUpper(sym[0]);
    sym[1] = IsAsciiLetter(sym[1]) ? AsciiLower(sym[1]) : ' ';
  } else {
    sym[0] = AsciiUpper(sym[1]);
    sym[1] = ' ';
  }
  if (sym[0] == 'O' && sym[1] == 'h')
    sym[1] = 'H'; // hydroxyl
  return IsAsciiLetter(sym[0]);
}
