// The CIF reader on arbitrary bytes, as the import path hands them over
// (inflated, padding dropped, line ends made LF): small-molecule blocks,
// macromolecular models and Cartesian sites. Every structure it accepts must
// be whole; the first is then built and plotted.
#include "import/ImportPath.h"
#include "FuzzPlot.h"
#include "FuzzSeedFiles.h"
#include "FuzzTarget.h"

#include <cmath>

std::vector<std::string> FuzzSeeds() { return fuzzseeds::FilesOf({"cif", "cif/mmcif", "cif/cartesian"}); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ImportSource source;
  source.file = source.name = "fuzz.cif";
  if (!NormaliseImportText(std::string_view(reinterpret_cast<const char *>(data), size), source.text, nullptr) ||
      !FindImportFormat("CIF")->detect(source))
    return 0;
  ImportResult result;
  if (!FindImportFormat("CIF")->read(source, result)) {
    if (result.error.what.empty())
      __builtin_trap();
    return 0;
  }
  if (result.structures.empty())
    __builtin_trap();
  for (const ImportedStructure &s : result.structures) {
    const CrystalRec &c = s.crystal;
    if (c.sites.empty() || c.siteCount != static_cast<int32_t>(c.sites.size()) || c.cardCount > kMaxSymCards)
      __builtin_trap();
    for (const AsymmetricUnitRecord &site : c.sites)
      if (site.atomType >= c.spheres.size() || !std::isfinite(site.xyz[0]) || !std::isfinite(site.xyz[1]) ||
          !std::isfinite(site.xyz[2]))
        __builtin_trap();
    for (const FileBond &b : s.bonds)
      if (b.first >= c.sites.size() || b.second >= c.sites.size() || b.first == b.second)
        __builtin_trap();
  }
  fuzzplot::BuildAndPlot(std::move(result.structures[0].crystal));
  return 0;
}
