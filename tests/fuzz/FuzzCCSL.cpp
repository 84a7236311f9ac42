// The CCSL crystal-data reader on arbitrary bytes, opened as a ".ccl" file.
#include "FuzzImportFile.h"
#include "FuzzTarget.h"

std::vector<std::string> FuzzSeeds() { return fuzzimport::Seeds("ccsl"); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzimport::OpenAndBuild(data, size, ".ccl");
  return 0;
}
