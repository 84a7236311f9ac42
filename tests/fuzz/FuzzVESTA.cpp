// The VESTA reader on arbitrary bytes, opened as a ".vesta" file.
#include "FuzzImportFile.h"
#include "FuzzTarget.h"

std::vector<std::string> FuzzSeeds() { return fuzzimport::Seeds("vesta"); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzimport::OpenAndBuild(data, size, ".vesta");
  return 0;
}
