// The Chem3D Cartesian and MacMolecule readers on arbitrary text: the first
// byte picks the reader.
#include "FuzzMoleculeFiles.h"

#include "export/PDBWriter.h"

std::vector<std::string> FuzzSeeds() {
  return {"c3\nC 1 0.0 0.0 0.0 1 2 3\nO 2 1.2 0.0 0.0 2 1\nH 3 -0.5 0.9 0.0 5 1\n",
          "m; t\n; Atom description for: C  (site: C1)\nA =  1.000,  0.300 (0.5,0.5,0.5)\n;\nA0 :  0.0  0.0  "
          "0.0\nA1 :  1.5  0.0  0.0\n; bonds\nA0, A1\n"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  fuzzmolecules::Run(FindImportFormat(data[0] == 'm' ? "MacMolecule" : "Chem3D")->read, data + 1, size - 1);
  return 0;
}
