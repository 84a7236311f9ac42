// The SHELX, VASP, WIEN2k and CSSR readers on arbitrary text: each reader
// parses every input (whatever its detector says); a structure one accepts
// must hold finite positions and valid atom types, and is then built and
// plotted.
#include "import/ImportPath.h"
#include "FuzzPlot.h"
#include "FuzzSeedFiles.h"
#include "FuzzTarget.h"

#include <cmath>

std::vector<std::string> FuzzSeeds() { return fuzzseeds::FilesOf({"shelx", "vasp", "wien2k", "cssr"}); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ImportSource source;
  source.name = "fuzz";
  if (!NormaliseImportText(std::string_view(reinterpret_cast<const char *>(data), size), source.text, nullptr))
    return 0;
  bool built = false;
  for (const char *format : {"SHELX", "VASP", "WIEN2k", "CSSR"}) {
    const auto read = FindImportFormat(format)->read;
    ImportResult result;
    if (!read(source, result))
      continue;
    for (ImportedStructure &s : result.structures) {
      const CrystalRec &c = s.crystal;
      if (c.sites.empty() || c.siteCount != static_cast<int32_t>(c.sites.size()))
        __builtin_trap();
      for (const AsymmetricUnitRecord &site : c.sites) {
        if (site.atomType >= c.spheres.size())
          __builtin_trap();
        for (float x : site.xyz)
          if (!std::isfinite(x))
            __builtin_trap();
      }
      if (!built) {
        built = true;
        fuzzplot::BuildAndPlot(std::move(s.crystal));
      }
    }
  }
  return 0;
}
