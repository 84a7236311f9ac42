// Movie frames of a turning model: rock salt over 0 to 3.5 on every axis in
// an 800 x 600 pane, 360 frames one degree apart, each encoded and appended
// to a movie file, for the Animation and Photo-JPEG codecs. The plot of each
// view is outside the timing: the time is encoding and writing only.
// Counters: milliseconds per frame and the file's size.
#include "export/MovieRecording.h"
#include "graphics/QtBridge.h"
#include "movie/MovieFile.h"

#include "tools/RockSaltScene.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>

namespace {

constexpr int kFrames = 360;

void RotationMovie(benchmark::State &state, uint32_t codec) {
  std::unique_ptr<benchscene::Scene> scene = benchscene::MakeRockSalt(3.5f, 800, 600);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  WindowRef window = &scene->record;
  PlotCrystal(window, kPlotToWindow);
  const auto file = std::filesystem::temp_directory_path() / "ov_bench_movie.mov";
  const float step[3] = {0, 1, 0};
  double seconds = 0;
  for (auto _ : state) {
    ovmovie::MovieFileWriter movie;
    ovmovie::TrackSpec track;
    track.width = 800;
    track.height = 600;
    track.sampleDescription = ovmovie::VideoSampleDescription(codec, 800, 600, codec == ovmovie::kCodecAnimation ? 32 : 24, 512);
    movie.AddTrack(track);
    if (movie.Open(file) != 0) {
      state.SkipWithError("cannot write the movie");
      break;
    }
    std::vector<uint8_t> data;
    for (int i = 0; i < kFrames; ++i) {
      state.PauseTiming();
      RotateXYZ(GetWindowCrystal(window), step);
      PlotCrystal(window, kPlotToWindow);
      QImage image = ovgfx::ImageView(*OffScreenPixels(GetWindowOffScreen(window)));
      state.ResumeTiming();
      const auto t0 = std::chrono::steady_clock::now();
      ovmovie::EncodeFrame(image, codec, codec == ovmovie::kCodecAnimation ? 32 : 24, 512, data);
      movie.AppendSample(0, data, 40);
      seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    movie.Close();
  }
  state.counters["ms_per_frame"] = seconds * 1000.0 / double(kFrames * state.iterations());
  state.counters["bytes"] = double(std::filesystem::file_size(file));
  std::filesystem::remove(file);
}

void BM_RotationMovieAnimation800x600(benchmark::State &state) { RotationMovie(state, ovmovie::kCodecAnimation); }
void BM_RotationMovieJPEG800x600(benchmark::State &state) { RotationMovie(state, ovmovie::kCodecPhotoJPEG); }

} // namespace

BENCHMARK(BM_RotationMovieAnimation800x600)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RotationMovieJPEG800x600)->Unit(benchmark::kMillisecond)->Iterations(1);
