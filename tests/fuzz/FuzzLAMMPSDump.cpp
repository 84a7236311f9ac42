// The dump reader on arbitrary bytes, opened as a ".lammpstrj" file.
#include "FuzzImportFile.h"
#include "FuzzTarget.h"

std::vector<std::string> FuzzSeeds() { return fuzzimport::Seeds("lammpsdump"); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzimport::OpenAndBuild(data, size, ".lammpstrj");
  return 0;
}
