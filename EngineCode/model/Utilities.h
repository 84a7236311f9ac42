// Small helpers used everywhere in the program: NUL-terminated and
// length-prefixed strings, number formatting and parsing, four- and
// two-character codes and element symbols.
//
// Text lives in std::string. The helpers keep the classic C names and rules,
// but never read or write past the text they are given:
//   - sources are std::string_view (a char array converts through strlen; use
//     CStrView for a fixed array that may be full and unterminated);
//   - a destination is either a std::string or a fixed char buffer passed as
//     std::span<char> (any char array converts), which is filled at most to
//     its capacity and always left NUL-terminated;
//   - in-place helpers take a std::string or such a buffer; a buffer's text
//     ends at its first NUL or at the end of the buffer.
// Nothing here keeps state, so every helper may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

// ---- Length-prefixed strings ------------------------------------------------

// A length byte followed by at most 255 characters, laid out byte for byte as
// documents and preferences store it (256 bytes, no padding).
struct Str255 {
  uint8_t len = 0;
  char text[255] = {};

  std::string_view view() const { return std::string_view(text, len); }
};
static_assert(sizeof(Str255) == 256, "Str255 must be one length byte and 255 characters");

inline constexpr size_t kStr255MaxLength = 255;

// Makes a length-prefixed string from text, keeping at most 255 characters.
Str255 MakeStr255(std::string_view text);

// ---- NUL-terminated strings -------------------------------------------------

// The text of a fixed char buffer: up to its first NUL, or the whole buffer
// when it holds none.
inline std::string_view CStrView(std::span<const char> buf) {
  const void *nul = std::memchr(buf.data(), 0, buf.size());
  return std::string_view(buf.data(), nul ? static_cast<size_t>(static_cast<const char *>(nul) - buf.data())
                                          : buf.size());
}

// Length of the text, as a 16-bit count (texts longer than 32767 characters
// count as 32767).
int16_t MyStrLen(std::string_view s);

// Copies the text. The buffer form copies what fits (capacity - 1 characters),
// terminates, and answers false when the text had to be cut.
void MyStrCopy(std::string &dst, std::string_view src);
bool MyStrCopy(std::span<char> dst, std::string_view src);

// Copies only the characters above blank: blanks, tabs, control characters
// and bytes 128-255 are dropped (DEL, 127, is kept).
void MyStrCopyWithoutSpaces(std::string &dst, std::string_view src);
bool MyStrCopyWithoutSpaces(std::span<char> dst, std::string_view src);

// Appends src to dst and answers the new length. The buffer form appends what
// fits and answers the length of what the buffer then holds.
size_t Concats(std::string &dst, std::string_view src);
size_t Concats(std::span<char> dst, std::string_view src);

// Exact, case-sensitive equality.
bool MyMatchCStrings(std::string_view a, std::string_view b);

// Removes trailing, then leading white space (blank, tab, line feed, carriage
// return, vertical tab, form feed) in place.
void TrimString(std::string &s);
void TrimString(std::span<char> s);

// Removes the leading characters below "!" (control characters and blank) in
// place.
void LeftJustifyCString(std::string &s);
void LeftJustifyCString(std::span<char> s);

// 0-based position of the first occurrence of sub in s; -1 when it is absent
// or when sub is empty.
int32_t IndexSubString(std::string_view s, std::string_view sub);

// Copies n characters of src from position start. When src ends first (or
// start or n is negative), dst gets what there was and the answer is false.
// The buffer form also answers false when the n characters do not fit.
bool CopySubString(std::string &dst, std::string_view src, int32_t start, int32_t n);
bool CopySubString(std::span<char> dst, std::string_view src, int32_t start, int32_t n);

// Case conversion of the ASCII letters only; other bytes are left alone.
void ConvertCharToLowerCase(char &c);
void ConvertCharToUpperCase(char &c);
void ConvertCStringToLowerCase(std::string &s);
void ConvertCStringToLowerCase(std::span<char> s);
void ConvertCStringToUpperCase(std::string &s);
void ConvertCStringToUpperCase(std::span<char> s);

// Order of the first characters of two texts (an empty text has NUL there):
// 0 when they are the same byte; otherwise 1 when the first, with lower-case
// letters folded to upper case, is greater as a signed byte, -1 when it is
// smaller. Two letters that differ only in case keep the order of their bytes,
// so "A" comes before "a" and the order is the same whichever text comes first.
int16_t MyCompareStringLetters(std::string_view a, std::string_view b);

// -1, 0 or 1.
int16_t MyCompareIntegers(int16_t a, int16_t b);

// Order of two site labels (negative, 0, positive). Texts of equal length
// compare as plain text. Otherwise each is first widened to 255 characters by
// inserting number signs between its leading text and its trailing digits, so
// that trailing numbers compare right-aligned: "O2" sorts before "O10".
int32_t MyIntegerCompareSiteLabels(std::string_view a, std::string_view b);

// ---- Length-prefixed string helpers -----------------------------------------

bool MyMatchPStrings(const Str255 &a, const Str255 &b);
void MyPStrCopy(Str255 &dst, const Str255 &src);
// Appends src to dst, cut so the total stays at most 255 characters.
void MyMergePStrings(Str255 &dst, const Str255 &src);
// Text to a length-prefixed string of at most 255 characters, and back.
void MyC2PString(std::string_view s, Str255 &p);
void MyP2CString(const Str255 &p, std::string &s);
bool MyP2CString(const Str255 &p, std::span<char> s);
// The first n characters of buf (at most 255, and no more than buf holds) as
// a length-prefixed string without its trailing characters below "!". Answers
// the position in buf after the characters copied (before trimming), so that
// fixed-width fields can be read one after another.
size_t TrimC2PString(std::string_view buf, Str255 &p, size_t n);
// Removes the leading characters below "!" in place.
void LeftJustifyPString(Str255 &p);

// ---- Numbers ------------------------------------------------------------------

inline constexpr bool IsEven(int16_t n) { return n % 2 == 0; }
inline constexpr bool IsOdd(int16_t n) { return n % 2 != 0; }

// Tolerance of IsInteger.
inline constexpr double kIntegerTolerance = 1e-5;
// True when x lies within 1e-5 of the nearest whole number.
bool IsInteger(double x);

int16_t imin3(int16_t a, int16_t b, int16_t c);
int16_t imax3(int16_t a, int16_t b, int16_t c);
float fmin3(float a, float b, float c);
float fmax3(float a, float b, float c);

// A number from text. A text with a "/" after its first character is a
// fraction: the integers before and after the first "/" are divided (0 when
// the denominator is missing or 0). Any other text is read as a decimal
// number. Nothing readable, or a value that is not finite, gives 0.
double CharsToReal(std::string_view s);

// x as a fraction "%c%d/%d": the sign ("-" or a blank), then the smallest
// denominator from 2 to 1000 that gives a whole numerator within 0.0001; a
// value above 1 loses its whole part first. 0.5 gives " 1/2", -0.75 "-3/4",
// 1 " 2/2"; exactly 0 gives "  0 "; with no such denominator the numerator is
// 0 and the denominator 1001.
std::string Real2Frac(double x);
bool Real2Frac(double x, std::span<char> out);

// Prints x with a printf format holding one floating-point conversion (flags,
// width and precision allowed, "%%" escapes around it), then removes trailing
// zeros after the decimal point and the point itself when nothing is left
// after it: "%.4f" of 1.5 gives "1.5", of 2.0 gives "2". A format that is not
// of this kind prints nothing.
std::string MyTrimSprintf(const char *format, double x);
bool MyTrimSprintf(std::span<char> out, const char *format, double x);

// Prints x with the given number of decimals, trims as MyTrimSprintf does,
// then drops a leading "0" (after the minus sign of a negative value): 0.25
// with 3 decimals gives ".25", -0.5 gives "-.5". A value that rounds to zero
// gives "0".
std::string MyConciseSprintf(double x, int decimals);
bool MyConciseSprintf(std::span<char> out, double x, int decimals);

// ---- Four- and two-character codes ------------------------------------------

// Four characters to a code, the first character in the high byte. A NUL
// fourth character counts as a blank. Characters after a NUL are not read and
// count as NUL.
constexpr uint32_t FourCharsToLong(const char *s) {
  uint32_t code = 0;
  bool ended = false;
  for (int i = 0; i < 4; i++) {
    unsigned char c = 0;
    if (!ended) {
      c = static_cast<unsigned char>(s[i]);
      ended = (c == 0);
    }
    if (i == 3 && c == 0)
      c = ' ';
    code = (code << 8) | c;
  }
  return code;
}

// The four characters of a code followed by a NUL; out holds at least 5 bytes.
void LongToFourChars(uint32_t code, char *out);

// An element symbol in 16 bits, the first character in the high byte and a
// blank second character for one-letter symbols.
using ElementCode = uint16_t;

// Two characters to an element code. A NUL second character counts as a
// blank (and so does the second character of an empty text).
constexpr ElementCode TwoCharsToShort(const char *s) {
  unsigned char c0 = static_cast<unsigned char>(s[0]);
  unsigned char c1 = c0 ? static_cast<unsigned char>(s[1]) : 0;
  if (c1 == 0)
    c1 = ' ';
  return static_cast<ElementCode>((c0 << 8) | c1);
}

// The two characters of an element code; writes s[0] and s[1], no NUL.
void ShortToTwoChars(ElementCode code, char *s);

// Normalises the two characters of an element symbol in place: "fe" becomes
// "Fe", " c" and "C1" become "C ", "Oh" becomes "OH" (hydroxyl) and "HO"
// (water) is left as it is. True when the result starts with a letter.
bool ConvertElementSymbol(char *sym);
