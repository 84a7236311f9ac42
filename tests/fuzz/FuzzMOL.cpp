// The MOL and SD reader on arbitrary text.
#include "FuzzMoleculeFiles.h"

std::vector<std::string> FuzzSeeds() { return fuzzmolecules::SeedsIn({"mol"}); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzmolecules::Run(FindImportFormat("MOL")->read, data, size);
  return 0;
}
