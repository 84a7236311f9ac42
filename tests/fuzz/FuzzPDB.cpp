// The PDB reader on arbitrary bytes, opened as a ".pdb" file.
#include "FuzzImportFile.h"
#include "FuzzTarget.h"

std::vector<std::string> FuzzSeeds() { return fuzzimport::Seeds("pdb"); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzimport::OpenAndBuild(data, size, ".pdb");
  return 0;
}
