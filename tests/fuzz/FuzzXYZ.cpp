// The XYZ reader on arbitrary bytes, opened as an ".xyz" file.
#include "FuzzImportFile.h"
#include "FuzzTarget.h"

std::vector<std::string> FuzzSeeds() { return fuzzimport::Seeds("xyz"); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzimport::OpenAndBuild(data, size, ".xyz");
  return 0;
}
