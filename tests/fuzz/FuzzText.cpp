// The keyword text reader on arbitrary text.
#include "FuzzSeedsFromExamples.h"
#include "FuzzTarget.h"
#include "FuzzPlot.h"
#include "documents/StoredValueRanges.h"

#include "export/OwnTextWriter.h"

std::vector<std::string> FuzzSeeds() { return ExampleTexts(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  CrystalRec crystal;
  TextFileExtras extras;
  std::string message;
  if (ParseTextFile(std::string_view(reinterpret_cast<const char *>(data), size), crystal, extras, &message)) {
    if (crystal.sites.empty() || crystal.siteCount != static_cast<int32_t>(crystal.sites.size()))
      __builtin_trap();
    for (const AsymmetricUnitRecord &s : crystal.sites)
      if (s.atomType >= crystal.spheres.size())
        __builtin_trap();
    // The reader's last step: the stored values' ranges.
    if (CheckStoredValues(crystal))
      fuzzplot::BuildAndPlot(std::move(crystal));
  }
  return 0;
}
