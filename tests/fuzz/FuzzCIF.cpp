// The CIF reader on arbitrary bytes, as the import path hands them over
// (inflated, padding dropped, line ends made LF). Every structure it accepts
// must be whole; the first is then built and plotted.
#include "import/ImportPath.h"
#include "FuzzPlot.h"
#include "FuzzTarget.h"


#include <cmath>
#include <fstream>
#include <sstream>

std::vector<std::string> FuzzSeeds() {
  std::vector<std::string> seeds;
  for (const auto &e :
       std::filesystem::directory_iterator(std::filesystem::path(OV_SOURCE_DIR) / "tests/data/import/cif")) {
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    seeds.push_back(s.str());
  }
  return seeds;
}

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
  }
  fuzzplot::BuildAndPlot(std::move(result.structures[0].crystal));
  return 0;
}
