// Opening a file once a benchmark iteration into a headless structure
// window, as File > Open does it.
#pragma once

#include "import/ImportPath.h"

#include "RockSaltScene.h"

#include <benchmark/benchmark.h>

#include <filesystem>

namespace benchscene {

// The benchmark is stopped with an error when the file is not opened.
inline void OpenEachIteration(benchmark::State &state, Scene &scene, const std::filesystem::path &file) {
  for (auto _ : state)
    if (!OpenStructureFile(&scene.record, file, ImportChoice::TakeFirst)) {
      state.SkipWithError("the file was not opened");
      break;
    }
}

} // namespace benchscene
