// A program version as one integer, and its text forms.
//
// VersCode = major * 100000 + minor * 10000 + revision * 1000 + stage * 100
// + build, where the stage is 0 for a development ("d") or pre-release ("p")
// version, 1 alpha ("a"), 2 beta ("b") and 3 release; a release carries no
// build number. So 9.2.1b12 is 921212 and release 9.2.1 is 921300. The minor
// and revision are single digits and the build is below 100; larger values
// spill into the next field.
//
// Documents store these codes and the update check compares them, so the
// arithmetic is exact and must not change.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using VersCode = int32_t;

// Weights of the fields of a VersCode.
inline constexpr VersCode kVersMajorUnit = 100000;
inline constexpr VersCode kVersMinorUnit = 10000;
inline constexpr VersCode kVersRevisionUnit = 1000;
inline constexpr VersCode kVersStageUnit = 100;

// The code of a version. The stage letter is read without regard to case:
// "a" adds 100, "b" 200, "d" or "p" nothing, any other character (a blank or
// "f" for a release) 300. The build is added in every case.
VersCode VersIntsToCode(int major, int minor, int revision, char stage, int build);

// The fields of a code: the stage comes back as "d" (development), "a", "b"
// or a blank (release). Any output may be left out (nullptr).
void VersCodeToInts(VersCode code, int *major, int *minor, int *revision, char *stage, int *build);

// Reads a version text such as "9.2.1b12", "9.2.1", "9.2b3" or "9.2". A text
// of none of these forms gives false and code 0.
bool VersStrToCode(std::string_view text, VersCode &code);

// The text of a version: "9.2.1b12", "9.2b3" without a revision; a release
// reads "9.2.1" or "9.2", or "9.2.1f5" when it carries a build. The text is
// lower case.
std::string VersIntsToStr(int major, int minor, int revision, char stage, int build);

// The text of a code, as VersIntsToStr writes it: 921300 reads "9.2.1".
std::string CanonicalVersStr(VersCode code);

// Reads a version from fixed character positions, as the update check's
// version text carries it: "9.2.1b12" (one-digit major) or "10.2.1b12" and
// " 9.2.1b12" (two-character major). A stage "-" marks a beta whose build is
// written where minor and revision stand. Positions beyond the text (or
// after a NUL) count as absent, and an absent or non-digit digit counts as 0.
VersCode GetVersionInteger(std::string_view text);
