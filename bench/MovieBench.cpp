// Movie frames of a turning model: rock salt over 0 to 3.5 on every axis in
// an 800 x 600 pane, 360 frames one degree apart, each encoded and appended
// to a movie file, for the Animation and Photo-JPEG codecs. The plot of each
// view is outside the timing: the time is encoding and writing only.
// Counters: milliseconds per frame and the file's size. The Small cases
// make 12 frames of 200 x 150: the tests run them once.
#include "export/MovieRecording.h"
#include "graphics/QtBridge.h"
#include "movie/MovieFile.h"

#include "tools/RockSaltScene.h"
#include "tools/TempFiles.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>

namespace {

// A movie's frames and size.
struct MovieSize {
  int frames;
  int16_t width, height;
};
constexpr MovieSize kMovie{360, 800, 600};
constexpr MovieSize kSmallMovie{12, 200, 150};

void RotationMovie(benchmark::State &state, uint32_t codec, MovieSize size = kMovie) {
  std::unique_ptr<benchscene::Scene> scene = benchscene::MakeRockSalt(3.5f, size.width, size.height);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  WindowRef window = &scene->record;
  PlotCrystal(window, kPlotToWindow);
  const auto file = benchtemp::Name("movie.mov");
  const float step[3] = {0, 1, 0};
  double seconds = 0;
  for (auto _ : state) {
    ovmovie::MovieFileWriter movie;
    ovmovie::TrackSpec track;
    track.width = size.width;
    track.height = size.height;
    track.sampleDescription = ovmovie::VideoSampleDescription(codec, size.width, size.height,
                                                              codec == ovmovie::kCodecAnimation ? 32 : 24, 512);
    movie.AddTrack(track);
    if (movie.Open(file) != 0) {
      state.SkipWithError("cannot write the movie");
      break;
    }
    std::vector<uint8_t> data;
    for (int i = 0; i < size.frames; ++i) {
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
  state.counters["ms_per_frame"] = seconds * 1000.0 / double(size.frames * state.iterations());
  state.counters["bytes"] = double(std::filesystem::file_size(file));
  std::filesystem::remove(file);
}

void BM_RotationMovieAnimation800x600(benchmark::State &state) { RotationMovie(state, ovmovie::kCodecAnimation); }
void BM_RotationMovieJPEG800x600(benchmark::State &state) { RotationMovie(state, ovmovie::kCodecPhotoJPEG); }
void BM_RotationMovieAnimationSmall(benchmark::State &state) {
  RotationMovie(state, ovmovie::kCodecAnimation, kSmallMovie);
}
void BM_RotationMovieJPEGSmall(benchmark::State &state) { RotationMovie(state, ovmovie::kCodecPhotoJPEG, kSmallMovie); }

} // namespace

BENCHMARK(BM_RotationMovieAnimation800x600)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RotationMovieJPEG800x600)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RotationMovieAnimationSmall)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RotationMovieJPEGSmall)->Unit(benchmark::kMillisecond)->Iterations(1);
