#include "Utilities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// ---- NUL-terminated strings -------------------------------------------------

TEST(UtilitiesCStrings, BufferCopiesAreCutToCapacityAndTerminated) {
  char buf[6];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_TRUE(MyStrCopy(buf, "abcde"));
  EXPECT_STREQ(buf, "abcde");
  EXPECT_FALSE(MyStrCopy(buf, "abcdefgh"));
  EXPECT_STREQ(buf, "abcde");

  std::memset(buf, 'x', sizeof buf);
  EXPECT_FALSE(MyStrCopyWithoutSpaces(buf, " a b\tc d e f g"));
  EXPECT_STREQ(buf, "abcde");

  char tiny[1] = {'x'};
  EXPECT_FALSE(MyStrCopy(tiny, "a"));
  EXPECT_EQ(tiny[0], '\0');
  EXPECT_FALSE(MyStrCopy(std::span<char>(), "a"));

  std::string s = "old";
  MyStrCopy(s, "new text");
  EXPECT_EQ(s, "new text");
}

TEST(UtilitiesCStrings, CopyWithoutSpacesKeepsOnlyCharactersAboveBlank) {
  std::string out;
  MyStrCopyWithoutSpaces(out, std::string_view(" P 21/c\t1\r\n\x01\x7f\xc3\xa9", 15));
  EXPECT_EQ(out, "P21/c1\x7f"); // DEL stays, bytes 128-255 go
}

TEST(UtilitiesCStrings, ConcatsAppendsWithinTheBuffer) {
  std::string s = "Fe";
  EXPECT_EQ(Concats(s, "12"), 4u);
  EXPECT_EQ(s, "Fe12");

  char buf[8] = "abc";
  EXPECT_EQ(Concats(buf, "de"), 5u);
  EXPECT_STREQ(buf, "abcde");
  EXPECT_EQ(Concats(buf, "fghij"), 7u);
  EXPECT_STREQ(buf, "abcdefg");
  EXPECT_EQ(Concats(buf, "z"), 7u);
  EXPECT_STREQ(buf, "abcdefg");

  // A full buffer with no terminator is terminated rather than overrun.
  char full[4] = {'w', 'x', 'y', 'z'};
  EXPECT_EQ(Concats(full, "a"), 3u);
  EXPECT_EQ(std::string(full, 3), "wxy");
  EXPECT_EQ(full[3], '\0');
}

TEST(UtilitiesCStrings, CStrViewStopsAtTheEndOfAnUnterminatedArray) {
  char label[8] = {'L', 'o', 'n', 'g', 'L', 'a', 'b', 'l'};
  EXPECT_EQ(CStrView(label), "LongLabl");
  char shortLabel[8] = "O2";
  EXPECT_EQ(CStrView(shortLabel), "O2");
  EXPECT_EQ(MyStrLen(CStrView(label)), 8);
  EXPECT_EQ(MyStrLen(std::string(40000, 'a')), std::numeric_limits<int16_t>::max());
}

TEST(UtilitiesCStrings, TrimStringRemovesWhiteSpaceAtBothEnds) {
  std::string s = " \t\r\n\v\f Si O4 \f\v\n\r\t ";
  TrimString(s);
  EXPECT_EQ(s, "Si O4");
  s = " \t ";
  TrimString(s);
  EXPECT_EQ(s, "");

  char buf[16] = "  C 1   ";
  TrimString(buf);
  EXPECT_STREQ(buf, "C 1");

  // A full buffer without a terminator: the trimmed text is terminated, and
  // nothing is written outside the buffer.
  char full[5] = {' ', 'a', 'b', 'c', ' '};
  TrimString(full);
  EXPECT_STREQ(full, "abc");
  char untouched[3] = {'a', 'b', 'c'};
  TrimString(untouched);
  EXPECT_EQ(std::string(untouched, 3), "abc");
}

TEST(UtilitiesCStrings, LeftJustifyDropsLeadingControlsAndBlanksOnly) {
  std::string s = "\x01\t  P 1 ";
  LeftJustifyCString(s);
  EXPECT_EQ(s, "P 1 ");

  char buf[12] = "   \xc3\xa9t\xc3\xa9";
  LeftJustifyCString(buf); // UTF-8 bytes are not blanks
  EXPECT_STREQ(buf, "\xc3\xa9t\xc3\xa9");

  Str255 p = MakeStr255("\r\n  Verdana ");
  LeftJustifyPString(p);
  EXPECT_EQ(p.view(), "Verdana ");
}

TEST(UtilitiesCStrings, IndexSubString) {
  EXPECT_EQ(IndexSubString("P 21/c", "21"), 2);
  EXPECT_EQ(IndexSubString("P 21/c", "P"), 0);
  EXPECT_EQ(IndexSubString("abab", "ab"), 0);
  EXPECT_EQ(IndexSubString("P 21/c", "22"), -1);
  EXPECT_EQ(IndexSubString("P 21/c", ""), -1);
  EXPECT_EQ(IndexSubString("", "a"), -1);
  EXPECT_EQ(IndexSubString("ab", "abc"), -1);
}

TEST(UtilitiesCStrings, CopySubStringTerminatesWhatWasCopied) {
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_TRUE(CopySubString(buf, "abcdef", 1, 3));
  EXPECT_STREQ(buf, "bcd");

  std::memset(buf, 'x', sizeof buf);
  EXPECT_FALSE(CopySubString(buf, "abcdef", 4, 5)); // the source ends first
  EXPECT_STREQ(buf, "ef");

  std::memset(buf, 'x', sizeof buf);
  EXPECT_FALSE(CopySubString(buf, "abc", 7, 1)); // start beyond the end
  EXPECT_STREQ(buf, "");
  EXPECT_FALSE(CopySubString(buf, "abc", -1, 1));
  EXPECT_FALSE(CopySubString(buf, "abc", 0, -1));

  std::memset(buf, 'x', sizeof buf);
  EXPECT_FALSE(CopySubString(buf, "0123456789", 0, 10)); // does not fit
  EXPECT_STREQ(buf, "0123456");

  std::string s = "old";
  EXPECT_TRUE(CopySubString(s, "abcdef", 0, 0));
  EXPECT_EQ(s, "");
  EXPECT_TRUE(CopySubString(s, "abcdef", 6, 0));
  EXPECT_FALSE(CopySubString(s, "abcdef", 3, 4));
  EXPECT_EQ(s, "def");
}

TEST(UtilitiesCStrings, CaseConversionTouchesAsciiLettersOnly) {
  std::string s = "Fe2+ \xc3\xa9\xc3\x89 [Zz@`{]";
  ConvertCStringToUpperCase(s);
  EXPECT_EQ(s, "FE2+ \xc3\xa9\xc3\x89 [ZZ@`{]");
  ConvertCStringToLowerCase(s);
  EXPECT_EQ(s, "fe2+ \xc3\xa9\xc3\x89 [zz@`{]");

  char buf[8] = "aB1";
  buf[5] = 'q'; // beyond the terminator: must stay
  ConvertCStringToUpperCase(buf);
  EXPECT_STREQ(buf, "AB1");
  EXPECT_EQ(buf[5], 'q');
  ConvertCStringToLowerCase(buf);
  EXPECT_STREQ(buf, "ab1");

  char c = 'q';
  ConvertCharToUpperCase(c);
  EXPECT_EQ(c, 'Q');
  ConvertCharToLowerCase(c);
  EXPECT_EQ(c, 'q');
  c = '\xc9';
  ConvertCharToLowerCase(c);
  EXPECT_EQ(c, '\xc9');
}

TEST(UtilitiesCStrings, CompareStringLettersLooksAtTheFirstCharactersOnly) {
  EXPECT_EQ(MyCompareStringLetters("Abc", "Axyz"), 0);
  EXPECT_EQ(MyCompareStringLetters("a", "B"), -1); // folded: A < B
  EXPECT_EQ(MyCompareStringLetters("b", "A"), 1);
  EXPECT_EQ(MyCompareStringLetters("Z", "a"), 1);
  EXPECT_EQ(MyCompareStringLetters("", "a"), -1);
  EXPECT_EQ(MyCompareStringLetters("a", ""), 1);
  EXPECT_EQ(MyCompareStringLetters("", ""), 0);
  // Bytes 128-255 are negative as signed bytes and come first.
  EXPECT_EQ(MyCompareStringLetters("\xc3", "A"), -1);
  // The same letter in two cases gives opposite answers for opposite orders.
  EXPECT_EQ(MyCompareStringLetters("A", "a"), -MyCompareStringLetters("a", "A"));
  EXPECT_NE(MyCompareStringLetters("A", "a"), 0);
}

TEST(UtilitiesSiteLabels, TrailingNumbersCompareRightAligned) {
  EXPECT_LT(MyIntegerCompareSiteLabels("O2", "O10"), 0);
  EXPECT_GT(MyIntegerCompareSiteLabels("O10", "O2"), 0);
  EXPECT_EQ(MyIntegerCompareSiteLabels("O10", "O10"), 0);
  EXPECT_LT(MyIntegerCompareSiteLabels("O1", "O2"), 0); // equal lengths: plain text
  EXPECT_LT(MyIntegerCompareSiteLabels("Fe10", "O2"), 0);
  EXPECT_LT(MyIntegerCompareSiteLabels("C", "Ca"), 0);
  EXPECT_LT(MyIntegerCompareSiteLabels("", "A"), 0);
  EXPECT_LT(MyIntegerCompareSiteLabels("O 2", "O 10"), 0);
  // The padding is number signs: "!" sorts before them, "$" after.
  EXPECT_LT(MyIntegerCompareSiteLabels("A!", "A10"), 0);
  EXPECT_GT(MyIntegerCompareSiteLabels("A$", "A10"), 0);

  std::vector<std::string> labels = {"O10", "C1", "O2", "O1", "C12", "Ca", "C2", "O100"};
  std::sort(labels.begin(), labels.end(),
            [](const std::string &a, const std::string &b) { return MyIntegerCompareSiteLabels(a, b) < 0; });
  EXPECT_EQ(labels, (std::vector<std::string>{"C1", "C2", "C12", "Ca", "O1", "O2", "O10", "O100"}));
}

TEST(UtilitiesSiteLabels, TextsLongerThan255CharactersStillCompare) {
  std::string a = std::string(300, 'x') + "2";
  std::string b = std::string(300, 'x') + "10";
  EXPECT_LT(MyIntegerCompareSiteLabels(a, b), 0);
  EXPECT_GT(MyIntegerCompareSiteLabels(b, a), 0);
  EXPECT_GT(MyIntegerCompareSiteLabels(a, "x"), 0);
}

// Labels of every length against their widened forms spelt out: leading
// text, number signs to 255 characters (or the longer label), then the
// trailing digits.
TEST(UtilitiesSiteLabels, OrderIsThatOfTheWidenedLabelsSpeltOut) {
  const auto widened = [](const std::string &label, size_t width) {
    size_t split = label.size();
    while (split > 0 && label[split - 1] >= '0' && label[split - 1] <= '9')
      split--;
    return label.substr(0, split) + std::string(width - label.size(), '#') + label.substr(split);
  };
  const char pieces[] = {'O', 'C', '1', '0', '9', '#', '!', '$', ' ', 'a'};
  std::mt19937 random(7);
  std::vector<std::string> labels = {"", "#", "O", "O#", "O1", "O#1", std::string(254, 'x') + "12",
                                     std::string(300, 'x') + "2", std::string(260, '#'), "1" + std::string(256, '0')};
  for (int n = 0; n < 400; n++) {
    std::string label(random() % 9, ' ');
    for (char &ch : label)
      ch = pieces[random() % sizeof pieces];
    labels.push_back(label);
  }
  for (const std::string &a : labels)
    for (const std::string &b : labels) {
      const size_t width = std::max({size_t{255}, a.size(), b.size()});
      const int expected = a.size() == b.size() ? a.compare(b) : widened(a, width).compare(widened(b, width));
      const int got = MyIntegerCompareSiteLabels(a, b);
      ASSERT_EQ(got < 0, expected < 0) << '"' << a << "\" \"" << b << '"';
      ASSERT_EQ(got > 0, expected > 0) << '"' << a << "\" \"" << b << '"';
    }
}

// ---- Length-prefixed strings ------------------------------------------------

TEST(UtilitiesPStrings, CopyMatchAndConvert) {
  Str255 a = MakeStr255("Verdana");
  Str255 b;
  std::memset(b.text, 'z', sizeof b.text);
  MyPStrCopy(b, a);
  EXPECT_TRUE(MyMatchPStrings(a, b)); // bytes beyond the length do not count
  b.len = 3;
  EXPECT_FALSE(MyMatchPStrings(a, b));

  std::string s;
  MyP2CString(a, s);
  EXPECT_EQ(s, "Verdana");
  char small[5];
  EXPECT_FALSE(MyP2CString(a, small));
  EXPECT_STREQ(small, "Verd");

  Str255 longText = MakeStr255(std::string(300, 'q'));
  EXPECT_EQ(longText.len, 255);
  EXPECT_EQ(longText.view(), std::string(255, 'q'));
}

TEST(UtilitiesPStrings, MergeStopsAt255Characters) {
  Str255 a = MakeStr255(std::string(200, 'a'));
  Str255 b = MakeStr255(std::string(100, 'b'));
  MyMergePStrings(a, b);
  EXPECT_EQ(a.len, 255);
  EXPECT_EQ(a.view(), std::string(200, 'a') + std::string(55, 'b'));
  MyMergePStrings(a, b);
  EXPECT_EQ(a.len, 255);

  Str255 c = MakeStr255("ab");
  MyMergePStrings(c, c);
  EXPECT_EQ(c.view(), "abab");
}

TEST(UtilitiesPStrings, TrimC2PStringReadsFixedWidthFields) {
  std::string_view record = "Fe1  \t0.25  ";
  Str255 p;
  size_t next = TrimC2PString(record, p, 6);
  EXPECT_EQ(p.view(), "Fe1");
  EXPECT_EQ(next, 6u);
  next += TrimC2PString(record.substr(next), p, 20); // only 6 characters left
  EXPECT_EQ(p.view(), "0.25");
  EXPECT_EQ(next, record.size());

  EXPECT_EQ(TrimC2PString(std::string(400, 'a'), p, 300), 255u);
  EXPECT_EQ(p.len, 255);
}

// ---- Numbers ------------------------------------------------------------------

TEST(UtilitiesNumbers, IsIntegerWithinTolerance) {
  EXPECT_TRUE(IsInteger(2.0));
  EXPECT_TRUE(IsInteger(2.000009));
  EXPECT_TRUE(IsInteger(-2.999992));
  EXPECT_TRUE(IsInteger(0.5f * 4.0f));
  EXPECT_FALSE(IsInteger(2.00002));
  EXPECT_FALSE(IsInteger(0.5));
  EXPECT_FALSE(IsInteger(-1.5));
  EXPECT_FALSE(IsInteger(std::nan("")));
  EXPECT_FALSE(IsInteger(std::numeric_limits<double>::infinity()));
}

TEST(UtilitiesNumbers, CharsToRealReadsDecimalsAndFractions) {
  EXPECT_DOUBLE_EQ(CharsToReal("0.25"), 0.25);
  EXPECT_DOUBLE_EQ(CharsToReal("  -1.5e1xyz"), -15.0);
  EXPECT_DOUBLE_EQ(CharsToReal("+.5"), 0.5);
  EXPECT_DOUBLE_EQ(CharsToReal("1/2"), 0.5); // not integer division
  EXPECT_DOUBLE_EQ(CharsToReal("-3/4"), -0.75);
  EXPECT_DOUBLE_EQ(CharsToReal(" 1/3"), 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(CharsToReal("2/-8"), -0.25);
  EXPECT_DOUBLE_EQ(CharsToReal("2/3/4"), 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(CharsToReal("7"), 7.0);
}

TEST(UtilitiesNumbers, CharsToRealGivesZeroForWhatItCannotRead) {
  for (const char *text : {"", "abc", "-", "/2", "1/0", "1/", "1/x", "x/2", "nan", "inf", "-infinity", "1e999",
                           "99999999999/1", "1/99999999999"}) {
    EXPECT_EQ(CharsToReal(text), 0.0) << '"' << text << '"';
  }
  EXPECT_EQ(CharsToReal("1/0"), 0.0);
  EXPECT_EQ(CharsToReal("--1"), 0.0);
}

TEST(UtilitiesNumbers, Real2FracWritesTheSmallestDenominator) {
  EXPECT_EQ(Real2Frac(0.5), " 1/2");
  EXPECT_EQ(Real2Frac(-0.75), "-3/4");
  EXPECT_EQ(Real2Frac(1.0), " 2/2");
  EXPECT_EQ(Real2Frac(0.0), "  0 ");
  EXPECT_EQ(Real2Frac(-0.0), "  0 ");
  EXPECT_EQ(Real2Frac(1.0 / 3.0), " 1/3");
  EXPECT_EQ(Real2Frac(static_cast<float>(2.0 / 3.0)), " 2/3"); // single-precision thirds
  EXPECT_EQ(Real2Frac(static_cast<float>(5.0 / 6.0)), " 5/6");
  EXPECT_EQ(Real2Frac(0.875), " 7/8");
  EXPECT_EQ(Real2Frac(1.25), " 1/4"); // the whole part is dropped
  EXPECT_EQ(Real2Frac(-5.5), "-1/2");
  EXPECT_EQ(Real2Frac(2.0), " 0/2");
  EXPECT_EQ(Real2Frac(3.14159265358979), " 16/113");
  EXPECT_EQ(Real2Frac(0.0001), " 0/1001"); // no denominator up to 1000 fits
  EXPECT_EQ(Real2Frac(std::nan("")), " 0/1001");
  EXPECT_EQ(Real2Frac(-std::numeric_limits<double>::infinity()), "-0/1001");
  EXPECT_EQ(Real2Frac(1e300), " 0/2");

  char buf[5];
  EXPECT_TRUE(Real2Frac(0.25, buf));
  EXPECT_STREQ(buf, " 1/4");
  EXPECT_FALSE(Real2Frac(0.999, buf));
  EXPECT_STREQ(buf, " 999");
}

TEST(UtilitiesNumbers, MyTrimSprintfRemovesTrailingZerosAfterThePoint) {
  EXPECT_EQ(MyTrimSprintf("%.4f", 1.5), "1.5");
  EXPECT_EQ(MyTrimSprintf("%.4f", 2.0), "2");
  EXPECT_EQ(MyTrimSprintf("%.3f", 2.5), "2.5");
  EXPECT_EQ(MyTrimSprintf("%f", 0.1), "0.1");
  EXPECT_EQ(MyTrimSprintf("%.5f", -0.0625), "-0.0625");
  EXPECT_EQ(MyTrimSprintf("%.2f", 1005.0), "1005");
  // Zeros before the point are digits of the number.
  EXPECT_EQ(MyTrimSprintf("%.0f", 100.0), "100");
  EXPECT_EQ(MyTrimSprintf("%8.2f", 10.0), "   10");
  EXPECT_EQ(MyTrimSprintf("%#.0f", 30.0), "30");
  // An exponent or trailing text is left alone.
  EXPECT_EQ(MyTrimSprintf("%.3e", 1.0), "1.000e+00");
  EXPECT_EQ(MyTrimSprintf("%.2f%%", 50.0), "50.00%");
  EXPECT_EQ(MyTrimSprintf("%lf", 0.5), "0.5");
  EXPECT_EQ(MyTrimSprintf("%.30f", 1.0), "1");

  char buf[4];
  EXPECT_FALSE(MyTrimSprintf(buf, "%.4f", 12.25));
  EXPECT_STREQ(buf, "12.");
  EXPECT_TRUE(MyTrimSprintf(buf, "%.4f", 7.0));
  EXPECT_STREQ(buf, "7");
}

TEST(UtilitiesNumbers, MyTrimSprintfRefusesFormatsThatDoNotTakeOneDouble) {
  for (const char *format : {"%d", "%s", "%*f", "%.*f", "%Lf", "%f %f", "no conversion", "%", "%.2", "%n"}) {
    EXPECT_EQ(MyTrimSprintf(format, 1.0), "") << format;
  }
  EXPECT_EQ(MyTrimSprintf(nullptr, 1.0), "");
}

TEST(UtilitiesNumbers, MyConciseSprintfDropsTheLeadingZero) {
  EXPECT_EQ(MyConciseSprintf(0.25, 3), ".25");
  EXPECT_EQ(MyConciseSprintf(-0.5, 3), "-.5");
  EXPECT_EQ(MyConciseSprintf(12.5, 2), "12.5");
  EXPECT_EQ(MyConciseSprintf(3.0, 2), "3");
  EXPECT_EQ(MyConciseSprintf(-3.0, 2), "-3");
  EXPECT_EQ(MyConciseSprintf(10.0, 2), "10");
  EXPECT_EQ(MyConciseSprintf(0.333333, 2), ".33");
  EXPECT_EQ(MyConciseSprintf(0.996, 2), "1");
  // Values that round to zero.
  EXPECT_EQ(MyConciseSprintf(0.0, 2), "0");
  EXPECT_EQ(MyConciseSprintf(0.004, 2), "0");
  EXPECT_EQ(MyConciseSprintf(-0.004, 2), "0");
  EXPECT_EQ(MyConciseSprintf(-0.0, 2), "0");
  // Decimals out of range are clamped.
  EXPECT_EQ(MyConciseSprintf(2.75, -1), "3");
  EXPECT_EQ(MyConciseSprintf(0.5, 1000), ".5");

  char buf[8];
  EXPECT_TRUE(MyConciseSprintf(buf, -0.125, 3));
  EXPECT_STREQ(buf, "-.125");
}

// ---- Codes --------------------------------------------------------------------

TEST(UtilitiesCodes, FourCharacterCodes) {
  static_assert(FourCharsToLong("Pcel") == 0x5063656Cu);
  EXPECT_EQ(FourCharsToLong("abc"), FourCharsToLong("abc "));
  EXPECT_EQ(FourCharsToLong("abc"), 0x61626320u);
  EXPECT_EQ(FourCharsToLong("\xff\x80\x01\x7f"), 0xFF80017Fu);

  // Nothing after a NUL is read: the rest counts as NUL, the fourth as blank.
  char two[3] = {'a', 'b', '\0'};
  EXPECT_EQ(FourCharsToLong(two), 0x61620020u);
  EXPECT_EQ(FourCharsToLong(""), 0x00000020u);

  char out[5];
  std::memset(out, 'x', sizeof out);
  LongToFourChars(0x5063656Cu, out);
  EXPECT_STREQ(out, "Pcel");
  LongToFourChars(0xFF80017Fu, out);
  EXPECT_EQ(FourCharsToLong(out), 0xFF80017Fu);
}

TEST(UtilitiesCodes, ElementCodes) {
  static_assert(TwoCharsToShort("Fe") == 0x4665);
  EXPECT_EQ(TwoCharsToShort("C"), TwoCharsToShort("C "));
  EXPECT_EQ(TwoCharsToShort("C"), 0x4320);
  EXPECT_EQ(TwoCharsToShort(""), 0x0020);

  char out[3] = {'x', 'x', 'x'};
  ShortToTwoChars(0x436C, out);
  EXPECT_EQ(out[0], 'C');
  EXPECT_EQ(out[1], 'l');
  EXPECT_EQ(out[2], 'x'); // no NUL written
  ShortToTwoChars(TwoCharsToShort("\xc0\xff"), out);
  EXPECT_EQ(out[0], '\xc0');
  EXPECT_EQ(out[1], '\xff');
}

TEST(UtilitiesCodes, ConvertElementSymbol) {
  struct Case {
    const char *in;
    const char *out;
    bool ok;
  };
  for (const Case &c : std::initializer_list<Case>{
           {"fe", "Fe", true},
           {" c", "C ", true},
           {"C1", "C ", true},
           {"CL", "Cl", true},
           {"HO", "HO", true}, // water stays
           {"Oh", "OH", true}, // hydroxyl
           {"oh", "OH", true},
           {"OH", "OH", true},
           {"ho", "Ho", true},
           {"1h", "H ", true},
           {"12", "2 ", false},
           {"  ", "  ", false},
           {"c\0", "C ", true},
       }) {
    char sym[3] = {c.in[0], c.in[1], '\0'};
    EXPECT_EQ(ConvertElementSymbol(sym), c.ok) << c.in;
    EXPECT_EQ(std::string(sym, 2), std::string(c.out, 2)) << c.in;
  }
}

} // namespace
