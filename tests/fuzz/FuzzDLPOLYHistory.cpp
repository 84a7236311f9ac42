// The trajectory reader on arbitrary text, as a file named HISTORY is read
// whatever its content: every frame it accepts holds only finite positions,
// those of a box inside its cell, and its last frame is built and plotted.
#include "FuzzImportFile.h"
#include "FuzzTarget.h"

std::vector<std::string> FuzzSeeds() { return fuzzimport::Seeds("dlpolyhistory"); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ImportSource source{"HISTORY", "HISTORY", {}};
  if (!NormaliseImportText(std::string_view(reinterpret_cast<const char *>(data), size), source.text, nullptr))
    return 0;
  ImportResult result;
  if (!FindImportFormat("DL_POLY HISTORY")->read(source, result))
    return 0;
  for (const ImportedStructure &s : result.structures) {
    const CrystalRec &c = s.crystal;
    for (size_t k = 0; k < c.sites.size(); k++)
      for (int j = 0; j < 3; j++) {
        const float x = c.molecule ? c.atoms[k].cart[j] : c.sites[k].xyz[j];
        if (!std::isfinite(x) || (!c.molecule && !(x >= 0.0f && x < 1.0f)))
          __builtin_trap();
      }
  }
  fuzzplot::Scene &scene = fuzzplot::Scene::Get();
  scene.Reset();
  BuildImportedStructure(&scene.record, "fuzz", std::move(result.structures.back()));
  return 0;
}
