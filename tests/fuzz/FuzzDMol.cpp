// The DMol archive reader on arbitrary text.
#include "FuzzMoleculeFiles.h"

std::vector<std::string> FuzzSeeds() { return fuzzmolecules::SeedsIn({"dmol"}); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzmolecules::Run(FindImportFormat("DMol")->read, data, size);
  return 0;
}
