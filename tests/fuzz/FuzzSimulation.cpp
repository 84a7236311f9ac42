// The readers of simulation boxes (coordinate, data and configuration
// files) on arbitrary text. The first byte picks the reader; a structure a
// reader accepts must hold only finite positions, those of a box inside its
// cell, and is then built and plotted as an import builds it.
#include "import/ImportPath.h"
#include "FuzzPlot.h"
#include "FuzzTarget.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace {

using ReadFn = bool (*)(const ImportSource &, ImportResult &);
const ReadFn kReaders[] = {FindImportFormat("GROMACS")->read, FindImportFormat("LAMMPS")->read,
                           FindImportFormat("DL_POLY")->read};
const char *const kFolders[] = {"gromacs", "lammps", "dlpoly"};

} // namespace

std::vector<std::string> FuzzSeeds() {
  std::vector<std::string> seeds;
  for (size_t k = 0; k < std::size(kFolders); k++)
    for (const auto &e :
         std::filesystem::directory_iterator(std::filesystem::path(OV_SOURCE_DIR) / "tests/data/import" / kFolders[k])) {
      std::ifstream in(e.path(), std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      seeds.push_back(std::string(1, static_cast<char>(k)) + text.str());
    }
  return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1)
    return 0;
  ImportSource source;
  source.name = "fuzz";
  std::string reason;
  if (!NormaliseImportText(std::string_view(reinterpret_cast<const char *>(data) + 1, size - 1), source.text, &reason))
    return 0;
  ImportResult result;
  if (!kReaders[data[0] % std::size(kReaders)](source, result))
    return 0;
  for (ImportedStructure &s : result.structures) {
    const CrystalRec &c = s.crystal;
    for (size_t k = 0; k < c.sites.size(); k++) {
      if (c.sites[k].atomType >= c.spheres.size())
        __builtin_trap();
      for (int j = 0; j < 3; j++) {
        const float x = c.molecule ? c.atoms[k].cart[j] : c.sites[k].xyz[j];
        if (!std::isfinite(x) || (!c.molecule && !(x >= 0.0f && x < 1.0f)))
          __builtin_trap();
      }
    }
  }
  fuzzplot::Scene &scene = fuzzplot::Scene::Get();
  scene.Reset();
  BuildImportedStructure(&scene.record, "fuzz", std::move(result.structures.front()));
  return 0;
}
