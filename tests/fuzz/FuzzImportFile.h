// What the fuzz targets of the foreign-format readers share: bytes saved
// under a name of the format and opened as File > Open opens them (the
// import path: inflation, detection, the reader, the build), then rebuilt.
// An atom at a position that is no number is a finding.
#pragma once

#include "FuzzPlot.h"
#include "FuzzSeedFiles.h"
#include "StructureArrays.h"
#include "import/ImportPath.h"

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace fuzzimport {

inline void OpenAndBuild(const uint8_t *data, size_t size, const char *extension) {
  fuzzplot::Scene &s = fuzzplot::Scene::Get();
  s.Reset();
  const std::filesystem::path file = s.file.parent_path() / (s.file.stem().string() + extension);
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
  }
  ClearCrystalRec(GetWindowCrystal(&s.record));
  if (OpenTextFile(&s.record, file, ImportChoice::TakeFirst)) {
    for (const AtomRecord &a : GetWindowCrystal(&s.record)->atoms)
      for (int k = 0; k < 3; k++)
        if (!std::isfinite(a.cart[k]) || !std::isfinite(a.xyz[k]))
          __builtin_trap();
    fuzzplot::Rebuild(s);
  }
  std::error_code ec;
  std::filesystem::remove(file, ec);
}

// The files of one folder of tests/data/import (and of tests/fuzz/seeds), as
// seeds.
inline std::vector<std::string> Seeds(const char *folder) { return fuzzseeds::FilesOf({folder}); }

} // namespace fuzzimport
