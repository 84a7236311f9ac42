#include "Versions.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

TEST(VersionsCode, StageLettersAndBuild) {
  EXPECT_EQ(VersIntsToCode(9, 2, 1, 'b', 12), 921212);
  EXPECT_EQ(VersIntsToCode(9, 2, 1, 'B', 12), 921212);
  EXPECT_EQ(VersIntsToCode(9, 2, 1, 'a', 3), 921103);
  EXPECT_EQ(VersIntsToCode(9, 2, 1, 'A', 3), 921103);
  EXPECT_EQ(VersIntsToCode(9, 2, 1, 'd', 7), 921007);
  EXPECT_EQ(VersIntsToCode(9, 2, 1, 'P', 7), 921007);
  EXPECT_EQ(VersIntsToCode(9, 2, 1, ' ', 0), 921300);
  EXPECT_EQ(VersIntsToCode(9, 2, 1, 'f', 5), 921305);
  EXPECT_EQ(VersIntsToCode(9, 2, 1, 'x', 5), 921305);
  EXPECT_EQ(VersIntsToCode(9, 2, 1, '\0', 0), 921300);
  EXPECT_EQ(VersIntsToCode(12, 0, 0, 'b', 1), 1200201);
}

TEST(VersionsCode, CodeToInts) {
  int major = -1, minor = -1, revision = -1, build = -1;
  char stage = '?';
  VersCodeToInts(921212, &major, &minor, &revision, &stage, &build);
  EXPECT_EQ(major, 9);
  EXPECT_EQ(minor, 2);
  EXPECT_EQ(revision, 1);
  EXPECT_EQ(stage, 'b');
  EXPECT_EQ(build, 12);

  VersCodeToInts(1204107, &major, &minor, &revision, &stage, &build);
  EXPECT_EQ(major, 12);
  EXPECT_EQ(minor, 0);
  EXPECT_EQ(revision, 4);
  EXPECT_EQ(stage, 'a');
  EXPECT_EQ(build, 7);

  VersCodeToInts(920012, nullptr, nullptr, nullptr, &stage, nullptr);
  EXPECT_EQ(stage, 'd');
  VersCodeToInts(920300, nullptr, nullptr, nullptr, &stage, nullptr);
  EXPECT_EQ(stage, ' ');
  VersCodeToInts(920900, nullptr, nullptr, nullptr, &stage, &build);
  EXPECT_EQ(stage, ' ');
  EXPECT_EQ(build, 0);
}

TEST(VersionsCode, TextToCode) {
  struct Case {
    const char *text;
    VersCode code;
  };
  for (const Case &c : std::initializer_list<Case>{
           {"9.2.1b12", 921212},
           {"9.2", 920300},
           {"9.2b3", 920203},
           {"9.2.1", 921300},
           {"9.2.1f5", 921305},
           {"9.2.1a3", 921103},
           {"9.2.1d7", 921007},
           {"9.2.1B12", 921212},
           {"9.2.1 ", 921300},
           {"9.2.1x", 921300},
           {"10.0.4", 1004300},
           {" 9.2", 920300},
           {"9.2d0", 920000},
       }) {
    VersCode code = -1;
    EXPECT_TRUE(VersStrToCode(c.text, code)) << c.text;
    EXPECT_EQ(code, c.code) << c.text;
  }
}

TEST(VersionsCode, TextOfNoKnownFormIsRefused) {
  for (const char *text : {"", "9", "abc", "9.", ".2", "version 9.2", "9-2"}) {
    VersCode code = 123;
    EXPECT_FALSE(VersStrToCode(text, code)) << text;
    EXPECT_EQ(code, 0) << text;
  }
}

TEST(VersionsCode, CanonicalText) {
  EXPECT_EQ(CanonicalVersStr(921300), "9.2.1");
  EXPECT_EQ(CanonicalVersStr(921305), "9.2.1f5");
  EXPECT_EQ(CanonicalVersStr(921212), "9.2.1b12");
  EXPECT_EQ(CanonicalVersStr(920300), "9.2");
  EXPECT_EQ(CanonicalVersStr(920203), "9.2b3");
  EXPECT_EQ(CanonicalVersStr(920012), "9.2d12");
  EXPECT_EQ(CanonicalVersStr(1021103), "10.2.1a3");

  EXPECT_EQ(VersIntsToStr(9, 2, 1, 'B', 4), "9.2.1b4");
  EXPECT_EQ(VersIntsToStr(9, 2, 0, 'F', 2), "9.2f2");
  EXPECT_EQ(VersIntsToStr(9, 2, 1, '\0', 0), "9.2.1");
  EXPECT_EQ(VersIntsToStr(9, 2, 1, '\0', 5), "9.2.1f5");
  EXPECT_EQ(VersIntsToStr(9, 2, 1, 'X', 0), "9.2.1x0");
}

TEST(VersionsCode, TextAndCodeRoundTrip) {
  for (int major = 1; major <= 12; major++)
    for (int minor = 0; minor <= 9; minor++)
      for (int revision = 0; revision <= 9; revision++)
        for (int stage = 0; stage <= 3; stage++)
          for (int build : {0, 1, 9, 12, 99}) {
            VersCode code = major * 100000 + minor * 10000 + revision * 1000 + stage * 100 + build;
            std::string text = CanonicalVersStr(code);
            VersCode back = -1;
            ASSERT_TRUE(VersStrToCode(text, back)) << code << " " << text;
            ASSERT_EQ(back, code) << text;
          }
}

// The text the update check receives lives in a buffer of exactly its own
// length, so that reading past it is caught by the address sanitizer.
VersCode VersionOfExactText(const std::string &text) {
  const std::vector<char> buf(text.begin(), text.end());
  return GetVersionInteger(std::string_view(buf.data(), buf.size()));
}

TEST(VersionsInteger, FixedPositions) {
  struct Case {
    const char *text;
    VersCode code;
  };
  for (const Case &c : std::initializer_list<Case>{
           {"9.2.1b12", 921212},
           {"9.2.1b3", 921203},
           {"9.2.1b3 ", 921203},
           {"9.2.1a1", 921101},
           {"9.2.1A1", 921101},
           {"9.2.1d5", 921005},
           {"9.2.1P5", 921005},
           {"9.2.1B12", 921212},
           {"9.2.1 ", 921300},
           {"9.2.1f7", 921300}, // a release carries no build
           {"9.2.1x12", 921300},
           {"10.2.1b12", 1021212},
           {" 9.2.1b12", 921212},
           {"11.0.0", 1100300},
           {"9.2.3-", 900223}, // beta 23
           {"10.2.3-", 1000223},
           {"9.x.1b12", 901212}, // a non-digit counts as 0
       }) {
    EXPECT_EQ(VersionOfExactText(c.text), c.code) << '"' << c.text << '"';
  }
}

TEST(VersionsInteger, ShortTextsCountMissingPositionsAsAbsent) {
  EXPECT_EQ(VersionOfExactText("9.2.1"), 921300);
  EXPECT_EQ(VersionOfExactText("9.2"), 920300);
  EXPECT_EQ(VersionOfExactText("9.2.1b"), 921200);
  EXPECT_EQ(VersionOfExactText("9.2.1b1"), 921201);
  EXPECT_EQ(VersionOfExactText("9"), 900300);
  EXPECT_EQ(VersionOfExactText(""), 300);
  EXPECT_EQ(GetVersionInteger(std::string_view("9.2.1b1\0"
                                               "9",
                                               9)),
            921201); // a NUL ends the text
}

} // namespace
