// The movie recording engine on a recording host with real structure
// windows: frames from the renderer's hook, the player options, the empty
// movie, the skipped frames and the failures that stop a movie.

#include "../model/StructureWindowFixture.h"
#include "AtomWalker.h"

#include "export/MovieRecording.h"
#include "export/VideoRecorder.h"
#include "import/ImportPath.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace viewtest;

namespace {

struct MovieTest : ::testing::Test {
  FakeHost host;
  std::filesystem::path dir;
  float savedRate = gPrefs.movieFrameRate;
  void SetUp() override {
    host.windowTitle = "Rutile";
    dir = std::filesystem::temp_directory_path() / ("ovmovie" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    InitializeVideoRecording();
    createMovie.settingsChosen = 0;
  }
  void TearDown() override {
    ResetMovie();
    gRecordingVideo = 0;
    gPrefs.movieFrameRate = savedRate;
    std::filesystem::remove_all(dir);
    SetScreenHooks(ScreenHooks{});
  }
  void Open(TestWindow &w) {
    ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/Rutile.ovtx"));
    ResetOffScreen(w.ref());
    PlotCrystal(w.ref(), kPlotToWindow);
  }
  const ovgfx::PixelBuffer *Image(WindowRef w) { return OffScreenPixels(GetWindowOffScreen(w)); }
  bool Start(WindowRef w, const std::filesystem::path &file, uint32_t *duration) {
    host.savePaths.push_back(file);
    return StartMovieRolling(Image(w), Image(w)->Bounds(), duration);
  }
};

} // namespace

TEST_F(MovieTest, FramesFromTheRecordedWindowOnlyWithPlayerOptions) {
  TestWindow w(host, 120, 90);
  Open(w);
  gPrefs.movieFrameRate = 15;
  const auto file = dir / "frames.mov";
  uint32_t duration = 0;
  ASSERT_TRUE(Start(w.ref(), file, &duration));
  EXPECT_EQ(host.saveDialogs.back().second, "Rutile.mov");
  EXPECT_EQ(duration, 40u);
  GetMovieHooks().videoWindowVisible = [] { return true; };
  gFrameNum = 0;
  gRecordingVideo = 1;
  PlotCrystal(w.ref(), kPlotToWindow);
  PlotCrystal(w.ref(), kPlotToWindow);
  {
    // Another window in front: its images are not frames of this movie.
    TestWindow other(host, 60, 40);
    Open(other);
  }
  gRecordingVideo = 0;
  GetMovieHooks().videoWindowVisible = nullptr;
  EXPECT_EQ(gFrameNum, 2u); // the recorder's display advanced
  EXPECT_EQ(createMovie.framesSubmitted, 2u);
  EXPECT_GT(gMovieSize, 0u);
  ASSERT_EQ(ConcludeMovie(false, true, true, true), 0);
  AtomFile f(file);
  ASSERT_TRUE(f.ok);
  const Atom *stsz = f.root.Find("moov/trak/mdia/minf/stbl/stsz");
  ASSERT_TRUE(stsz);
  EXPECT_EQ(f.U32(stsz->payloadOffset + 8), 2u);
  EXPECT_EQ(f.U32(f.root.Find("moov/mvhd")->payloadOffset + 16), 80u);
  EXPECT_EQ(f.U32(f.root.Find("moov/udta/LOOP")->payloadOffset), 1u); // palindrome
  EXPECT_EQ(f.bytes[f.root.Find("moov/udta/AllF")->payloadOffset], 1);
  EXPECT_EQ(f.bytes[f.root.Find("moov/udta/play")->payloadOffset], 1);
  EXPECT_TRUE(host.alerts.empty());
}

TEST_F(MovieTest, EmptyMovieFastRatesCancelAndFailures) {
  TestWindow w(host, 80, 60);
  Open(w);
  // Above 600 frames a second every frame still lasts one unit.
  gPrefs.movieFrameRate = 36000;
  const auto empty = dir / "empty.mov";
  uint32_t duration = 0;
  ASSERT_TRUE(Start(w.ref(), empty, &duration));
  EXPECT_EQ(duration, 1u);
  // A frame of another size ends the movie with the frames it has (none),
  // and says so.
  auto small = ovgfx::PixelBuffer::Create(Rect{0, 0, 10, 10}, 32);
  EXPECT_FALSE(CompressMovieFrame(small.get()));
  EXPECT_FALSE(MovieIsRolling());
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Movie recording stopped");
  host.alerts.clear();
  ASSERT_EQ(ConcludeMovie(false, false, false, false), 0);
  AtomFile f(empty);
  ASSERT_TRUE(f.ok);
  ASSERT_TRUE(f.root.Find("moov/mvhd"));
  EXPECT_EQ(f.root.Find("moov/trak"), nullptr);
  EXPECT_EQ(f.root.Find("moov/udta"), nullptr);

  // Cancelled save dialog, then a folder that does not exist.
  EXPECT_FALSE(StartMovieRolling(Image(w.ref()), Image(w.ref())->Bounds(), &duration));
  EXPECT_FALSE(Start(w.ref(), dir / "missing" / "x.mov", &duration));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Movie creation failed");
  EXPECT_FALSE(MovieIsRolling());

  // A failing step stops the movie, deletes its file, and the program goes on.
  gPrefs.movieFrameRate = 10;
  const auto partial = dir / "partial.mov";
  ASSERT_TRUE(Start(w.ref(), partial, &duration));
  gRecordingVideo = 1;
  ASSERT_TRUE(CompressMovieFrame(Image(w.ref())));
  AbortMovie("WriteFrameToMovie", -34);
  EXPECT_EQ(gRecordingVideo, 0);
  EXPECT_FALSE(std::filesystem::exists(partial));
  ASSERT_EQ(host.alerts.size(), 2u);
  EXPECT_EQ(host.alerts[1].message, "Movie recording stopped");
  EXPECT_NE(host.alerts[1].explanation.find("WriteFrameToMovie"), std::string::npos);
  EXPECT_EQ(ConcludeMovie(false, false, false, false), 0);
}

TEST_F(MovieTest, CompressionDialogSettingsStick) {
  TestWindow w(host, 80, 60);
  Open(w);
  // Without a dialog the answer is a cancel.
  EXPECT_EQ(GetVideoSettingsForGraphicsWindow(w.ref()), 0u);
  EXPECT_EQ(createMovie.settingsChosen, 0);
  uint32_t shownSize = 0;
  GetMovieHooks().compressionDialog = [&](SpatialSettings &s, const auto &frameSize) {
    s.codecType = ovmovie::kCodecPNG;
    s.depth = 24;
    shownSize = frameSize(s);
    return true;
  };
  const uint32_t size = GetVideoSettingsForGraphicsWindow(w.ref());
  GetMovieHooks().compressionDialog = nullptr;
  EXPECT_GT(size, 0u);
  EXPECT_EQ(size, shownSize);
  EXPECT_EQ(gCompressedImageSize, size);
  // The chosen settings survive the preferences' rate and the image's depth.
  gPrefs.movieFrameRate = 30;
  SpatialSettings s;
  TemporalSettings t;
  ASSERT_TRUE(GetCompressionParams(Image(w.ref()), &s, &t));
  EXPECT_EQ(s.codecType, ovmovie::kCodecPNG);
  EXPECT_EQ(s.depth, 24);
  // Refused while recording.
  gRecordingVideo = 1;
  EXPECT_EQ(GetVideoSettingsForGraphicsWindow(w.ref()), 0u);
  gRecordingVideo = 0;
  InitCompressorComponent();
  EXPECT_EQ(createMovie.spatial.codecType, ovmovie::kCodecAnimation);
  EXPECT_EQ(createMovie.spatial.spatialQuality, 512u);
}
