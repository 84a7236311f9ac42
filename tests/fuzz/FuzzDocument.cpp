// The binary document reader on arbitrary bytes; what it accepts must write
// again, open in a window, build and plot.
#include "FuzzPlot.h"
#include "FuzzSeedsFromExamples.h"
#include "FuzzTarget.h"

std::vector<std::string> FuzzSeeds() {
  std::vector<std::string> seeds = ExampleDocuments();
  for (std::string &doc : DocumentFiles())
    seeds.push_back(std::move(doc));
  return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  CrystalRec crystal;
  DocumentExtras extras;
  std::string message;
  if (DecodeCrystalDocument(std::span(data, size), crystal, &extras, &message)) {
    // What was read must write again.
    const std::vector<uint8_t> again = EncodeCrystalDocument(crystal, extras);
    CrystalRec back;
    if (!DecodeCrystalDocument(again, back, nullptr, &message))
      __builtin_trap();
    fuzzplot::OpenAndPlot(std::span(data, size));
  }
  return 0;
}
