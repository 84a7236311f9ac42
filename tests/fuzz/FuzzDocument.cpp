// The binary document reader on arbitrary bytes.
#include "FuzzSeedsFromExamples.h"
#include "FuzzTarget.h"

std::vector<std::string> FuzzSeeds() { return ExampleDocuments(); }

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
  }
  return 0;
}
