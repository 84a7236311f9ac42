// What the modified mark costs at 97,336 atoms (rock salt over 0 to 22 cells
// on every axis, a 21.6 MB document; ball and stick in a 1000 x 800 pane),
// each with the mark (argument 1) and without it (argument 0):
//   ZoomAndSettle: a zoom step and its plot, the Save and Revert menu items'
//     state, then the undo timer's settling. Without the mark the settling
//     writes the structure as a history document and nothing is compared;
//     with it the one reading of the structure is hashed and written.
//   Save: the document written to a file again (the first save, which makes
//     the polyhedra, left out); with the mark the window then holds its
//     saved document (what Save does after writing).
// Without the mark stands for what the same work cost before there was one.
// Measured on a loaded machine (Release, medians of 5, CPU time): a zoom and
// its settling 254 ms without, 263 ms with; Save 75 ms without, 69 ms with.
#include "CachedFiles.h"
#include "DerivedLayers.h"
#include "PlotRange.h"
#include "Polyhedra.h"
#include "documents/CrystalDocument.h"
#include "documents/FileBuffer.h"
#include "documents/PrefsFile.h"
#include "documents/UndoHistory.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include "tools/DocumentScene.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr const char *kScratch = "ovmarkbench";

fs::path Scratch() { return benchscene::ScratchCache(kScratch); }
void CleanUp(WindowRef window) { benchscene::CleanUpCache(window, kScratch); }

// The structure plotted in its window, opened as a document; none (and the
// benchmark skipped) when it cannot be built.
std::unique_ptr<benchscene::Scene> Scene(benchmark::State &state, float cells = 22.0f) {
  std::unique_ptr<benchscene::Scene> scene = benchscene::OpenRockSaltDocument(cells, kScratch);
  if (!scene)
    state.SkipWithError("build failed");
  return scene;
}

void BM_ZoomAndSettle(benchmark::State &state) {
  const bool mark = state.range(0) != 0;
  std::unique_ptr<benchscene::Scene> scene = Scene(state);
  if (!scene)
    return;
  WindowRef window = &scene->record;
  CrystalRec &c = *GetWindowCrystal(window);
  const float scales[2] = {c.plotScale * 1.25f, c.plotScale};
  int step = 0;
  for (auto _ : state) {
    DoChangePlotScale(&c, scales[step++ % 2]);
    PlotCrystal(window, kPlotToWindow);
    if (mark) {
      benchmark::DoNotOptimize(WindowMayHoldUnsavedChanges(window));
      UndoBufferTimerProc();
    } else {
      DoCacheHistoryFile(window);
      ForgetWindowChanges(window);
    }
  }
  state.counters["atoms"] = double(c.atomCount);
  state.counters["modified"] = double(GetMainWindowData(window)->windowModified);
  CleanUp(window);
}

// Measured on one core of a loaded machine (load 5-12, Release, best of
// 19, wall / CPU): 53 / 29 ms while each range of atoms and polyhedra was
// encoded apart and copied into the document; 36 / 16 ms now that they are
// measured first and written in place. The writing was then about half of
// a save. Measured on one core (load 3-6, Release, 5 rounds alternated
// with 5c3a01b's build, median wall / CPU): 23 / 11 ms now that the file's
// room is set aside first, its bytes go to the disk as they are written and
// the file it replaces is let go on a thread of its own after the folder's
// flush; 5c3a01b's 10 MB document 23 / 11-12 ms, 72a4b84
// 31 / 14-15 ms.
void BM_Save(benchmark::State &state) {
  const bool mark = state.range(0) != 0;
  std::unique_ptr<benchscene::Scene> scene = Scene(state);
  if (!scene)
    return;
  WindowRef window = &scene->record;
  const fs::path file = Scratch() / "saved.ovdf";
  const auto save = [&] {
    if (mark)
      DoWriteCrystalFile(window, file);
    else
      WriteCrystalFile(*GetWindowCrystal(window), DocumentExtras{}, file);
  };
  // The first save makes the polyhedra and site roles (BM_FirstSave times
  // it); a scene is built for every run of the loop, so it stays out of it.
  save();
  for (auto _ : state)
    save();
  state.counters["bytes"] = double(fs::file_size(file));
  CleanUp(window);
}

// The first save of a structure whose polyhedra and site roles were left to
// be made when needed: they are made for it (and kept for the saves after
// it, which BM_Save times). Measured on a loaded machine (Release, wall /
// CPU): a save that made them every time 237-263 / 175-216 ms; now the
// first save 234 / 169-192 ms, the saves after it 85-112 / 43-60 ms.
// Measured on one core (load about 20, Release, 5 rounds alternated with
// 5c3a01b's build, medians of CPU time): 207 ms while the shapes a build
// files (FaceShapes.h) grew by copying and were found through a node map,
// 97 ms now; 5c3a01b's BM_Save/0 (10 MB, no polyhedra) 17 ms, the saves
// after the first here 14 ms. Of what is left about half is the face
// search of the two centres in five whose shape no earlier centre had.
void BM_FirstSave(benchmark::State &state) {
  std::unique_ptr<benchscene::Scene> scene = Scene(state);
  if (!scene)
    return;
  WindowRef window = &scene->record;
  CrystalRec &c = *GetWindowCrystal(window);
  const fs::path file = Scratch() / "first.ovdf";
  for (auto _ : state) {
    state.PauseTiming();
    BondsMade(&c);
    state.ResumeTiming();
    WriteCrystalFile(c, DocumentExtras{}, file);
  }
  state.counters["bytes"] = double(fs::file_size(file));
  CleanUp(window);
}

// The two halves of BM_Save, the polyhedra made once beforehand: the
// encoding (with the check that the polyhedra held are still the
// structure's), and the writing of the encoded bytes over the file the
// last save wrote (a temporary file flushed, renamed over it, the folder
// flushed).
void BM_SaveEncode(benchmark::State &state) {
  std::unique_ptr<benchscene::Scene> scene = Scene(state);
  if (!scene)
    return;
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  WriteCrystalFile(c, DocumentExtras{}, Scratch() / "saved.ovdf");
  for (auto _ : state) {
    const PolyhedraForSave polyhedra(c);
    benchmark::DoNotOptimize(EncodeCrystalDocument(c, DocumentExtras{}).size());
  }
  CleanUp(&scene->record);
}

void BM_SaveWrite(benchmark::State &state) {
  std::unique_ptr<benchscene::Scene> scene = Scene(state);
  if (!scene)
    return;
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  const fs::path file = Scratch() / "saved.ovdf";
  WriteCrystalFile(c, DocumentExtras{}, file);
  const PolyhedraForSave polyhedra(c);
  const std::vector<uint8_t> bytes = EncodeCrystalDocument(c, DocumentExtras{});
  for (auto _ : state)
    benchmark::DoNotOptimize(WriteFileAtomically(file, bytes));
  state.counters["bytes"] = double(bytes.size());
  CleanUp(&scene->record);
}

// The parts of one settling at rock salt over 0 to `cells` cells (22: 97,336
// atoms; 50: 1,061,208 atoms): the structure encoded as a history document,
// and the cache document written (on the cache writer's worker, so the
// window does not wait for it). Measured (Release, wall time, 8 cores
// shared with other builds) for 21.6 / 252 MB: encoding 61 / 766 ms when
// the buffer grew by copying and each field went through a call; 19 /
// 284 ms now that it is sized up front, fields go in place and the atoms
// are encoded a range at a time on several threads. Writing 13 / 424 ms.
// SettleAfterZoom is what the window waits for: 148 / 1,623 ms when the
// settling wrote the document itself, 29 / 329 ms now.
std::unique_ptr<benchscene::Scene> LargeScene(benchmark::State &state) {
  Scratch();
  std::unique_ptr<benchscene::Scene> scene = benchscene::MakeRockSalt(float(state.range(0)), 1000, 800);
  if (!scene)
    state.SkipWithError("build failed");
  return scene;
}

void BM_SettleEncode(benchmark::State &state) {
  std::unique_ptr<benchscene::Scene> scene = LargeScene(state);
  if (!scene)
    return;
  size_t bytes = 0;
  for (auto _ : state) {
    const std::vector<uint8_t> document = EncodeHistoryDocument(&scene->record);
    bytes = document.size();
  }
  state.counters["MB"] = double(bytes) / 1e6;
  state.counters["atoms"] = double(GetWindowCrystal(&scene->record)->atomCount);
  CleanUp(&scene->record);
}

void BM_SettleWrite(benchmark::State &state) {
  std::unique_ptr<benchscene::Scene> scene = LargeScene(state);
  if (!scene)
    return;
  const std::vector<uint8_t> document = EncodeHistoryDocument(&scene->record);
  const fs::path file = NewCacheFilePath();
  for (auto _ : state)
    benchmark::DoNotOptimize(WriteCacheFile(file, document));
  state.counters["MB"] = double(document.size()) / 1e6;
  CleanUp(&scene->record);
}

// What the window waits for after a zoom's plot at rock salt over 0 to
// `cells` cells: the undo timer's whole settling (the structure read once,
// hashed, and its new state handed to the cache).
void BM_SettleAfterZoom(benchmark::State &state) {
  std::unique_ptr<benchscene::Scene> scene = Scene(state, float(state.range(0)));
  if (!scene)
    return;
  WindowRef window = &scene->record;
  CrystalRec &c = *GetWindowCrystal(window);
  const float scales[2] = {c.plotScale * 1.25f, c.plotScale};
  int step = 0;
  for (auto _ : state) {
    state.PauseTiming();
    DoChangePlotScale(&c, scales[step++ % 2]);
    PlotCrystal(window, kPlotToWindow);
    state.ResumeTiming();
    UndoBufferTimerProc();
  }
  state.counters["atoms"] = double(c.atomCount);
  CleanUp(window);
}

BENCHMARK(BM_ZoomAndSettle)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstSave)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SaveEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SettleEncode)->Arg(22)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SettleWrite)->Arg(22)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SettleAfterZoom)->Arg(22)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(4);

} // namespace
