// Large pixel picture exports of rock salt over 0 to 22 on every axis
// (97,336 atoms), ball and stick, from a 1000 x 800 pane: PNG at 12,000 and
// 24,000 pixels wide (drawn and written a strip at a time, and the same
// pictures drawn whole), and a BMP at 12,000 wide (put together whole, then
// encoded). Each reports the peak resident memory of the process so far, in
// MB.
//
// Release build, one core (taskset -c 6), run back to back on the
// development machine:
//                          strips re-projected,     projected once, bonds and
//                          everything drawn again   lines outside a strip left out
//   BM_LargePng12000       15.3-15.5 s, 359 MB      11.8-12.2 s, 359 MB
//   BM_LargePng12000Whole  12.3-12.9 s, 673 MB      12.5-12.9 s, 673 MB
//   BM_LargePng24000       71.4 s, 443 MB           38.9-39.9 s, 443 MB
//   BM_LargePng24000Whole                           39.0 s, 2,122 MB
// From OK to the first cancel check (the status window), and from the
// Escape it answers to the export's end (the same build, loaded machine):
//   BM_FirstPollPng12000   2,154 ms (after the first strip) -> 500 ms; stop 240 ms
//   BM_FirstPollTiff12000  2,381 ms (after the first strip) -> 500 ms; stop 330 ms
// BM_LargePngSmall draws rock salt over 0 to 3 (512 atoms) into a PNG of
// 1,200 x 960 in strips of 64 rows: the tests run it once.
#include "LongCommand.h"
#include "export/PictureExport.h"

#include "tools/RockSaltScene.h"
#include "tools/TempFiles.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <filesystem>
#include <memory>

namespace {

double PeakResidentMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

constexpr float kRange = 22.0f;
constexpr float kSmallRange = 3.0f;
constexpr int kSmallWidth = 1200;
constexpr int64_t kSmallStripBytes = int64_t(kSmallWidth) * 4 * 64;

void Export(benchmark::State &state, int width, uint32_t type, const char *extension,
            int64_t stripBytes = kPictureStripBytes, float range = kRange) {
  std::unique_ptr<benchscene::Scene> scene = benchscene::MakeRockSalt(range, 1000, 800);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  PlotCrystal(&scene->record, kPlotToWindow);
  const int height = width * 800 / 1000;
  const auto file = benchtemp::Name(std::string("large.") + extension);
  for (auto _ : state)
    if (QTWritePixelImage(&scene->record, width, height, 72, file, type, stripBytes) != 0)
      state.SkipWithError("export failed");
  state.counters["atoms"] = double(GetWindowCrystal(&scene->record)->atomCount);
  state.counters["fileMB"] = double(std::filesystem::file_size(file)) / 1e6;
  state.counters["peakMB"] = PeakResidentMegabytes();
  std::filesystem::remove(file);
}

void BM_LargePng12000(benchmark::State &state) { Export(state, 12000, kPNGFileType, "png"); }
// The same picture drawn whole and then written, as before strips.
void BM_LargePng12000Whole(benchmark::State &state) {
  Export(state, 12000, kPNGFileType, "png", int64_t(1) << 40);
}
void BM_LargePng24000(benchmark::State &state) { Export(state, 24000, kPNGFileType, "png"); }
void BM_LargePng24000Whole(benchmark::State &state) {
  Export(state, 24000, kPNGFileType, "png", int64_t(1) << 40);
}
void BM_LargeBmp12000(benchmark::State &state) { Export(state, 12000, kBMPFileType, "bmp"); }
void BM_LargePngSmall(benchmark::State &state) {
  Export(state, kSmallWidth, kPNGFileType, "png", kSmallStripBytes, kSmallRange);
}

// From OK to the first cancel check of a 12,000 pixel export, which shows
// the status window (firstPollMs: half a second and the wait for the next
// check), and from the Escape that check answers to the end of the export,
// the window drawn again (stopMs).
void FirstPoll(benchmark::State &state, uint32_t type, const char *extension) {
  std::unique_ptr<benchscene::Scene> scene = benchscene::MakeRockSalt(kRange, 1000, 800);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  PlotCrystal(&scene->record, kPlotToWindow);
  const auto file = benchtemp::Name(std::string("poll.") + extension);
  uint64_t firstPoll = 0;
  scene->host.cancelCheck = [&firstPoll] {
    if (firstPoll == 0)
      firstPoll = Microseconds();
    return true;
  };
  double firstMs = 0, stopMs = 0;
  for (auto _ : state) {
    firstPoll = 0;
    const uint64_t ok = Microseconds();
    const LongCommand command; // the command the export's dialog answered
    if (QTWritePixelImage(&scene->record, 12000, 9600, 72, file, type) != kUserCanceledErr || firstPoll == 0)
      state.SkipWithError("the export was not stopped");
    firstMs += double(firstPoll - ok) / 1000.0;
    stopMs += double(Microseconds() - firstPoll) / 1000.0;
  }
  state.counters["firstPollMs"] = benchmark::Counter(firstMs, benchmark::Counter::kAvgIterations);
  state.counters["stopMs"] = benchmark::Counter(stopMs, benchmark::Counter::kAvgIterations);
}
void BM_FirstPollPng12000(benchmark::State &state) { FirstPoll(state, kPNGFileType, "png"); }
void BM_FirstPollTiff12000(benchmark::State &state) { FirstPoll(state, kTIFFFileType, "tif"); }

} // namespace

BENCHMARK(BM_LargePng12000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LargePng12000Whole)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LargePng24000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LargePng24000Whole)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LargeBmp12000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_FirstPollPng12000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FirstPollTiff12000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LargePngSmall)->Unit(benchmark::kMillisecond)->Iterations(1);
