// The preferences file reader on arbitrary bytes.
#include "FuzzSeedsFromExamples.h"
#include "FuzzTarget.h"

std::vector<std::string> FuzzSeeds() {
  PrefsRecord prefs = gFactoryPrefs;
  prefs.elementNotes[0] = 'x';
  const std::vector<uint8_t> bytes = EncodePrefsFile(prefs);
  return {std::string(bytes.begin(), bytes.end())};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static PrefsRecord prefs = gFactoryPrefs;
  int skipped = 0;
  DecodePrefsFile(std::span(data, size), prefs, &skipped);
  if (prefs.elementNotes[kElementNotesSize - 1] != '\0')
    __builtin_trap();
  return 0;
}
