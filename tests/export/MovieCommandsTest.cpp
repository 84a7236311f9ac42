// The rotation movie, the QTVR object movie and the video recorder's state
// machine, on a recording host with a real structure window.

#include "../model/StructureWindowFixture.h"
#include "AtomWalker.h"

#include "Preferences.h"
#include "export/MovieRecording.h"
#include "export/QTVRMovie.h"
#include "export/RotationMovie.h"
#include "export/VideoRecorder.h"
#include "import/ImportPath.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <unistd.h>

using namespace viewtest;

namespace {

constexpr float kOrientationTolerance = 1e-3f;

struct MovieCommandsTest : ::testing::Test {
  FakeHost host;
  std::filesystem::path dir;
  PrefsRecord savedPrefs = gPrefs;
  void SetUp() override {
    host.windowTitle = "Rutile";
    dir = std::filesystem::temp_directory_path() / ("ovmoviecmd" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    InitializeVideoRecording();
    gIsVRMovie = 0;
    gVideoRecorderButtons = VideoRecorderButtons{};
  }
  void TearDown() override {
    ResetMovie();
    SetMovieHooks(MovieHooks{});
    gRecordingVideo = 0;
    gIsVRMovie = 0;
    gPrefs = savedPrefs;
    std::filesystem::remove_all(dir);
    SetScreenHooks(ScreenHooks{});
  }
  void Open(TestWindow &w) {
    ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/Rutile.ovtx"));
    ResetOffScreen(w.ref());
    PlotCrystal(w.ref(), kPlotToWindow);
  }
  static uint32_t Samples(const AtomFile &f, int track) {
    const auto traks = f.root.Find("moov")->All("trak");
    return f.U32(traks[size_t(track)]->Find("mdia/minf/stbl/stsz")->payloadOffset + 8);
  }
  static float FloatAt(const AtomFile &f, uint64_t at) {
    const uint32_t u = f.U32(at);
    float v;
    std::memcpy(&v, &u, 4);
    return v;
  }
  // The obji data of the object track's one sample.
  static uint64_t ObjectData(const AtomFile &f) {
    const auto traks = f.root.Find("moov")->All("trak");
    const uint64_t sample = f.U32(traks[2]->Find("mdia/minf/stbl/stco")->payloadOffset + 8);
    return sample + 12 + 20 + 20; // container header, sean, obji headers
  }
};

} // namespace

TEST_F(MovieCommandsTest, RotationOptionsTexts) {
  EXPECT_EQ(RotationIntervalText(36), "10.00\u00B0 interval");
  EXPECT_EQ(RotationFrameRateText(36, 3.6), "10.00 fps");
  EXPECT_EQ(RotationIntervalText(3600), "0.10\u00B0 interval");
  EXPECT_EQ(RotationIntervalText(3601), "Invalid number of frames");
  EXPECT_EQ(RotationIntervalText(0), "Invalid number of frames");
  EXPECT_EQ(RotationFrameRateText(36, 0), "");
  EXPECT_FALSE(RotationSettingsValid(3601, 1));
  EXPECT_FALSE(RotationSettingsValid(36, 0));
  EXPECT_FALSE(StepRotationFrames(3600, false));
  EXPECT_FALSE(StepRotationFrames(1, true));
  EXPECT_FALSE(StepRotationDuration(0.1, true)); // never 0 or below
  EXPECT_NEAR(*StepRotationDuration(0.2, true), 0.1, 1e-9);
  EXPECT_FALSE(SaveRotationMovieValues(5000, 0, true, true));
  EXPECT_NE(gPrefs.movieFrames, 5000);
  EXPECT_EQ(gPrefs.movieLoop, 1);
}

TEST_F(MovieCommandsTest, RotationMovieTurnsOnceAndStaysPlainInQTVRMode) {
  TestWindow w(host, 64, 48);
  Open(w);
  float before[9];
  std::memcpy(before, w.crystal().orientationMatrix, sizeof before);
  ASSERT_TRUE(SaveRotationMovieValues(36, 3.6, true, false));
  gIsVRMovie = 1;
  host.savePaths.push_back(dir / "turn.mov");
  DoExportRotationMovie(w.ref());
  EXPECT_EQ(gIsVRMovie, 1); // back in QTVR mode
  for (int i = 0; i < 9; ++i)
    EXPECT_NEAR(w.crystal().orientationMatrix[i], before[i], kOrientationTolerance) << i;
  AtomFile f(dir / "turn.mov");
  ASSERT_TRUE(f.ok);
  ASSERT_EQ(f.root.Find("moov")->All("trak").size(), 1u); // a plain movie
  EXPECT_EQ(Samples(f, 0), 36u);
  EXPECT_EQ(f.U32(f.root.Find("moov/mvhd")->payloadOffset + 16), 36u * 60u);
  EXPECT_TRUE(f.root.Find("moov/udta/LOOP"));
}

TEST_F(MovieCommandsTest, QTVRGridsAndAbort) {
  TestWindow w(host, 48, 36);
  Open(w);
  EXPECT_FLOAT_EQ(QTVRPanStep(0, 360, 36), 10);
  EXPECT_FLOAT_EQ(QTVRPanStep(0, 180, 19), 10);
  EXPECT_FLOAT_EQ(QTVRPanStep(20, 20, 1), 0);
  struct Case {
    const char *name;
    QTVROptions options;
    uint32_t control;
  };
  const Case cases[] = {{"full", {0, 360, 30, -30, 3, 4}, 5}, {"half", {0, 180, 0, 0, 1, 3}, 4}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    MovieHooks hooks;
    hooks.getQTVROptions = [&](QTVROptions &o) {
      o = c.options;
      return true;
    };
    SetMovieHooks(hooks);
    float before[9];
    std::memcpy(before, w.crystal().orientationMatrix, sizeof before);
    const auto file = dir / (std::string(c.name) + ".mov");
    host.savePaths.push_back(file);
    DoExportQTVRMovie(w.ref());
    EXPECT_EQ(gIsVRMovie, 0);
    for (int i = 0; i < 9; ++i)
      EXPECT_NEAR(w.crystal().orientationMatrix[i], before[i], kOrientationTolerance) << i;
    AtomFile f(file);
    ASSERT_TRUE(f.ok);
    ASSERT_EQ(f.root.Find("moov")->All("trak").size(), 3u);
    EXPECT_EQ(Samples(f, 0), c.options.rows * c.options.columns);
    const uint64_t obji = ObjectData(f);
    EXPECT_EQ(f.Type(obji - 16), "obji");
    EXPECT_EQ(f.U32(obji + 16), c.options.columns);
    EXPECT_EQ(f.U32(obji + 20), c.options.rows);
    EXPECT_FLOAT_EQ(FloatAt(f, obji + 36), c.options.startHPan + 0.5f * c.options.endHPan); // default pan
    EXPECT_FLOAT_EQ(FloatAt(f, obji + 40), c.options.startVPan);
    EXPECT_EQ(f.U32(obji + 84), c.control);
    EXPECT_EQ(f.Type(f.root.Find("moov/udta/ctyp")->payloadOffset), "qtvr");
  }
  // Stop pressed after the third frame, confirmed: a valid movie of three.
  int frames = 0;
  MovieHooks hooks;
  hooks.getQTVROptions = [](QTVROptions &o) {
    o = {0, 360, 0, 0, 2, 5};
    return true;
  };
  hooks.processEvents = [&] {
    if (++frames == 2)
      VideoRecorderCommand(kCmdVideoStop);
  };
  SetMovieHooks(hooks);
  host.alertAnswers = {1};
  VideoRecorderCommand(kCmdVideoQTVR);
  host.savePaths.push_back(dir / "abort.mov");
  VideoRecorderCommand(kCmdVideoRecord);
  EXPECT_FALSE(MovieIsRolling());
  EXPECT_EQ(gRecordingVideo, 0);
  ASSERT_FALSE(host.alerts.empty());
  EXPECT_EQ(host.alerts.back().message, "Abort the QTVR recording?");
  AtomFile f(dir / "abort.mov");
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(Samples(f, 0), 3u);
  EXPECT_EQ(f.root.Find("moov")->All("trak").size(), 3u);
}

TEST_F(MovieCommandsTest, RecorderPauseResumeKeepsOneFileAndNoModeSwitchWhileRecording) {
  TestWindow w(host, 48, 36);
  Open(w);
  MovieHooks hooks;
  hooks.videoWindowVisible = [] { return true; };
  SetMovieHooks(hooks);
  host.savePaths.push_back(dir / "live.mov");
  VideoRecorderCommand(kCmdVideoRecord);
  EXPECT_TRUE(gVideoRecorderButtons.recordDown);
  EXPECT_TRUE(gVideoRecorderButtons.stopEnabled);
  EXPECT_FALSE(gVideoRecorderButtons.modeEnabled);
  EXPECT_EQ(gFrameNum, 1u); // the current image is the first frame
  VideoRecorderCommand(kCmdVideoQTVR);
  EXPECT_EQ(gIsVRMovie, 0);
  PlotCrystal(w.ref(), kPlotToWindow);
  VideoRecorderCommand(kCmdVideoPause);
  EXPECT_EQ(gRecordingVideo, 0);
  PlotCrystal(w.ref(), kPlotToWindow); // not a frame
  VideoRecorderCommand(kCmdVideoLinear);
  VideoRecorderCommand(kCmdVideoQTVR);
  EXPECT_EQ(gIsVRMovie, 0); // paused: the movie is still open
  VideoRecorderCommand(kCmdVideoRecord);
  EXPECT_EQ(host.saveDialogs.size(), 1u);
  EXPECT_EQ(gFrameNum, 3u);
  VideoRecorderCommand(kCmdVideoStop);
  EXPECT_EQ(gFrameNum, 0u);
  EXPECT_FALSE(gVideoRecorderButtons.recordDown);
  EXPECT_TRUE(gVideoRecorderButtons.modeEnabled);
  AtomFile f(dir / "live.mov");
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(Samples(f, 0), 3u);
  VideoRecorderCommand(kCmdVideoQTVR);
  EXPECT_EQ(gIsVRMovie, 1);
  EXPECT_EQ(VideoRecorderCommand(FourCharsToLong("xxxx")), -9874);
  // The display texts.
  EXPECT_EQ(VideoFrameCountText(0), "----");
  EXPECT_EQ(VideoFrameCountText(42), "0042");
  EXPECT_EQ(VideoFrameCountText(10007), "+  7");
  EXPECT_EQ(VideoElapsedTimeText(0, 40), "00:00.00");
  EXPECT_EQ(VideoElapsedTimeText(1523, 40), "01:41.53");
  EXPECT_EQ(VideoDataSizeText(2048), "    2 kB");
  EXPECT_EQ(VideoDataSizeText(3 * 1048576), "  3.0 MB");
}

TEST_F(MovieCommandsTest, OracleDump) {
  const char *out = std::getenv("OV_MOVIE_DUMP_DIR");
  if (!out)
    GTEST_SKIP() << "run by tests/oracle/movies_oracle.py";
  TestWindow w(host, 48, 36);
  Open(w);
  MovieHooks hooks;
  hooks.getQTVROptions = [](QTVROptions &o) {
    o = {0, 360, 30, -30, 2, 6};
    return true;
  };
  SetMovieHooks(hooks);
  gPrefs.movieFrameRate = 10;
  const std::filesystem::path file = std::filesystem::path(out) / "qtvr.mov";
  host.savePaths.push_back(file);
  DoExportQTVRMovie(w.ref());
  ASSERT_TRUE(std::filesystem::exists(file));
  std::ofstream(std::filesystem::path(out) / "manifest.txt", std::ios::app) << "qtvr.mov qtvr 48 36 12 60\n";
}
