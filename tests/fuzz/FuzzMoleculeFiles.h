// The molecule-file readers on arbitrary bytes: the text normalised as the
// import path normalises it, each structure read checked and the first
// built and plotted. Seeds are the small files of tests/data/import.
#pragma once

#include "FuzzPlot.h"
#include "FuzzSeedFiles.h"
#include "FuzzTarget.h"

#include "import/ImportPath.h"

#include <cmath>

namespace fuzzmolecules {

inline std::vector<std::string> SeedsIn(std::initializer_list<const char *> folders) {
  return fuzzseeds::FilesOf(folders);
}

inline void Run(bool (*read)(const ImportSource &, ImportResult &), const uint8_t *data, size_t size) {
  ImportSource source;
  source.file = source.name = "fuzz";
  if (!NormaliseImportText(std::string_view(reinterpret_cast<const char *>(data), size), source.text, nullptr))
    return;
  ImportResult result;
  if (!read(source, result) || result.structures.empty())
    return;
  for (const ImportedStructure &s : result.structures) {
    const CrystalRec &c = s.crystal;
    if (c.sites.empty() || (c.molecule && c.atoms.size() != c.sites.size()))
      __builtin_trap();
    for (const AtomRecord &a : c.atoms)
      for (float v : a.cart)
        if (!std::isfinite(v))
          __builtin_trap();
    for (const FileBond &b : s.bonds)
      if (b.first >= c.sites.size() || b.second >= c.sites.size())
        __builtin_trap();
  }
  fuzzplot::BuildAndPlot(std::move(result.structures[0].crystal));
}

} // namespace fuzzmolecules
