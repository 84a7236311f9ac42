#include "Versions.h"

#include <cstdio>
#include <string>

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Stage weights in units of kVersStageUnit.
inline constexpr VersCode kStageDevelopment = 0;
inline constexpr VersCode kStageAlpha = 1;
inline constexpr VersCode kStageBeta = 2;
inline constexpr VersCode kStageRelease = 3;

VersCode StageWeight(char stage) {
  switch (AsciiLower(stage)) {
  case 'a':
    return kStageAlpha;
  case 'b':
    return kStageBeta;
  case 'd':
  case 'p':
    return kStageDevelopment;
  default:
    return kStageRelease;
  }
}

} // namespace

VersCode VersIntsToCode(int major, int minor, int revision, char stage, int build) {
  return major * kVersMajorUnit + minor * kVersMinorUnit + revision * kVersRevisionUnit +
         StageWeight(stage) * kVersStageUnit + build;
}

void VersCodeToInts(VersCode code, int *major, int *minor, int *revision, char *stage, int *build) {
  if (major)
    *major = code / kVersMajorUnit;
  if (minor)
    *minor = (code / kVersMinorUnit) % 10;
  if (revision)
    *revision = (code / kVersRevisionUnit) % 10;
  if (stage) {
    switch ((code / kVersStageUnit) % 10) {
    case kStageDevelopment:
      *stage = 'd';
      break;
    case kStageAlpha:
      *stage = 'a';
      break;
    case kStageBeta:
      *stage = 'b';
      break;
    default:
      *stage = ' ';
      break;
    }
  }
  if (build)
    *build = code % kVersStageUnit;
}

bool VersStrToCode(std::string_view text, VersCode &code) {
  code = 0;
  // sscanf needs a terminated text; the fields are width-limited, so none of
  // them can overflow.
  const std::string s(text);
  const char *p = s.c_str();
  int major = 0, minor = 0, revision = 0, build = 0, consumed = 0;
  char stage = 0;
  if (std::sscanf(p, "%3d.%3d.%3d%1c%3d", &major, &minor, &revision, &stage, &build) == 5) {
    code = VersIntsToCode(major, minor, revision, stage, build);
    return true;
  }
  major = minor = revision = build = 0;
  stage = 0;
  if (std::sscanf(p, "%3d.%3d.%3d", &major, &minor, &revision) == 3) {
    code = VersIntsToCode(major, minor, revision, stage, build);
    return true;
  }
  major = minor = revision = build = 0;
  stage = 0;
  if (std::sscanf(p, "%3d.%3d%n%1c%3d", &major, &minor, &consumed, &stage, &build) == 4) {
    code = VersIntsToCode(major, minor, 0, stage, build);
    return true;
  }
  major = minor = revision = build = 0;
  stage = 0;
  if (std::sscanf(p, "%3d.%3d", &major, &minor) == 2) {
    code = VersIntsToCode(major, minor, 0, stage, build);
    return true;
  }
  return false;
}

std::string VersIntsToStr(int major, int minor, int revision, char stage, int build) {
  stage = AsciiLower(stage);
  // No stage at all reads as a release.
  const bool release = stage == ' ' || stage == 'f' || stage == '\0';
  char text[64];
  if (!release || build != 0) {
    const char letter = release ? 'f' : stage;
    if (revision != 0)
      std::snprintf(text, sizeof text, "%1d.%1d.%1d%1c%1d", major, minor, revision, letter, build);
    else
      std::snprintf(text, sizeof text, "%1d.%1d%1c%1d", major, minor, letter, build);
  } else if (revision != 0) {
    std::snprintf(text, sizeof text, "%1d.%1d.%1d", major, minor, revision);
  } else {
    std::snprintf(text, sizeof text, "%1d.%1d", major, minor);
  }
  std::string out(text);
  for (char &c : out)
    c = AsciiLower(c);
  return out;
}

std::string CanonicalVersStr(VersCode code) {
  int major, minor, revision, build;
  char stage;
  VersCodeToInts(code, &major, &minor, &revision, &stage, &build);
  return VersIntsToStr(major, minor, revision, stage, build);
}

namespace {
// The character at a position of the text, NUL when the position is beyond
// it.
char CharAt(std::string_view text, size_t i) { return i < text.size() ? text[i] : '\0'; }
int DigitAt(std::string_view text, size_t i) {
  char c = CharAt(text, i);
  return (c >= '0' && c <= '9') ? c - '0' : 0;
}
} // namespace

VersCode GetVersionInteger(std::string_view text) {
  // A NUL ends the text, as it would in a C string.
  text = text.substr(0, text.find('\0'));

  int major;
  size_t minorAt, revisionAt, stageAt, buildAt;
  if (CharAt(text, 1) == '.') {
    major = DigitAt(text, 0);
    minorAt = 2, revisionAt = 4, stageAt = 5, buildAt = 6;
  } else {
    // Two digits; a blank first character, or a text that ends after the
    // first, leaves one.
    if (CharAt(text, 0) == ' ')
      major = DigitAt(text, 1);
    else if (CharAt(text, 1) == '\0')
      major = DigitAt(text, 0);
    else
      major = DigitAt(text, 0) * 10 + DigitAt(text, 1);
    minorAt = 3, revisionAt = 5, stageAt = 6, buildAt = 7;
  }
  int minor = DigitAt(text, minorAt);
  int revision = DigitAt(text, revisionAt);
  char stage = CharAt(text, stageAt);
  char buildSecond = CharAt(text, buildAt + 1);
  int build = (buildSecond == ' ' || buildSecond == '\0') ? DigitAt(text, buildAt)
                                                          : DigitAt(text, buildAt) * 10 + DigitAt(text, buildAt + 1);
  if (stage == '-') {
    // A beta whose build number stands where minor and revision would.
    build = minor * 10 + revision;
    minor = revision = 0;
    stage = 'b';
  }
  VersCode code = major * kVersMajorUnit + minor * kVersMinorUnit + revision * kVersRevisionUnit;
  switch (stage) {
  case 'a':
  case 'A':
    return code + kStageAlpha * kVersStageUnit + build;
  case 'b':
  case 'B':
    return code + kStageBeta * kVersStageUnit + build;
  case 'd':
  case 'D':
  case 'p':
  case 'P':
    return code + kStageDevelopment * kVersStageUnit + build;
  default:
    return code + kStageRelease * kVersStageUnit;
  }
}
