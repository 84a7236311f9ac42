// Opening a file once a benchmark iteration into a headless structure
// window, as File > Open does it.
#pragma once

#include "import/ImportPath.h"

#include "RockSaltScene.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <memory>

namespace benchscene {

// The benchmark is stopped with an error when the file is not opened.
inline void OpenEachIteration(benchmark::State &state, Scene &scene, const std::filesystem::path &file) {
  for (auto _ : state)
    if (!OpenStructureFile(&scene.record, file, ImportChoice::TakeFirst)) {
      state.SkipWithError("the file was not opened");
      break;
    }
}

// A text file opened once an iteration into a new headless window of
// 800 x 600, as File > Open does it: the window, the read, the build, the
// bonds and the first plot timed, the window's closing not. The counters say
// how many atoms and bonds the last open made (none for a refused file).
// `beforeEach`, when given, runs untimed before every open.
inline void OpenTextEachIteration(benchmark::State &state, const std::filesystem::path &file,
                                  void (*beforeEach)() = nullptr) {
  double atoms = 0, ends = 0;
  for (auto _ : state) {
    if (beforeEach) {
      state.PauseTiming();
      beforeEach();
      state.ResumeTiming();
    }
    std::unique_ptr<Scene> scene = MakeHeadlessScene(800, 600);
    const bool opened = OpenTextFile(&scene->record, file);
    state.PauseTiming();
    atoms = ends = 0;
    if (opened)
      for (const AtomRecord &a : GetWindowCrystal(&scene->record)->atoms) {
        atoms++;
        ends += a.bondCount;
      }
    scene.reset();
    state.ResumeTiming();
  }
  state.counters["atoms"] = atoms;
  state.counters["bonds"] = ends / 2;
}

// A fixed sequence of fractions in [0, 1), the same on every run.
struct Fractions {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  double Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  }
};

} // namespace benchscene
