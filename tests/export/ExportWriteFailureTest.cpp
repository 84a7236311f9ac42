// Exports on a disk that fills part way through (the writers' injected
// write failure): the earlier file of the chosen name stays whole, the
// failure is told with the file's name and the system's reason, and nothing
// of the unfinished file is left in the folder.

#include "../model/StructureWindowFixture.h"

#include "export/Export3D.h"
#include "export/ExportFrame.h"
#include "export/MovieRecording.h"
#include "export/PictureExport.h"
#include "files/AtomicFileWriter.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include <unistd.h>

using namespace viewtest;

namespace {

constexpr const char *kEarlier = "an earlier export of this name";
constexpr long kDiskFullAfter = 100; // bytes a writer gets before the disk is full

std::string Read(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct ExportFailureTest : ::testing::Test {
  FakeHost host;
  std::filesystem::path dir;
  void SetUp() override {
    host.windowTitle = "Rutile";
    dir = std::filesystem::temp_directory_path() / ("ovfull" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    gFailWritesAfterBytes = -1;
    ResetMovie();
    gRecordingVideo = 0;
    std::filesystem::remove_all(dir);
    SetScreenHooks(ScreenHooks{});
  }
  void Plot(TestWindow &w) {
    ASSERT_TRUE(BuildRutile(w.crystal()));
    ResetOffScreen(w.ref());
    PlotCrystal(w.ref(), kPlotToWindow);
  }
  // The earlier file, the export run on a full disk through the save
  // dialog's answer; then the folder holds the earlier file alone.
  void RunOnFullDisk(const std::string &name, const std::function<void()> &run) {
    const auto file = dir / name;
    std::ofstream(file) << kEarlier;
    host.alerts.clear();
    host.savePaths = {file};
    gFailWritesAfterBytes = kDiskFullAfter;
    run();
    gFailWritesAfterBytes = -1;
    EXPECT_TRUE(Read(file) == kEarlier) << "the earlier file was replaced";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1) << "an unfinished file is left";
    std::filesystem::remove(file);
  }
};

} // namespace

TEST_F(ExportFailureTest, PicturesListingsAndModelsKeepTheEarlierFileAndSaySo) {
  TestWindow w(host, 120, 90);
  Plot(w);
  struct Case {
    std::string name;
    std::function<void()> run;
    const char *message;
  };
  const std::vector<Case> cases = {
      {"x.png", [&] { DoExportPixelGraphics(w.ref(), kPNGFileType, 120, 90, 72); }, "Sorry, graphics export failed"},
      {"x.tif", [&] { DoExportPixelGraphics(w.ref(), kTIFFFileType, 120, 90, 72); }, "Sorry, graphics export failed"},
      {"x.bmp", [&] { DoExportPixelGraphics(w.ref(), kBMPFileType, 120, 90, 72); }, "Sorry, graphics export failed"},
      {"x.txt", [&] { DoExportCommand(w.ref(), kCmdExportCoordinates); }, kExportWriteFailed},
      {"x.stl", [&] { DoExport3DCommand(w.ref(), kCmdExportSTL); }, kExportWriteFailed},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    RunOnFullDisk(k.name, k.run);
    EXPECT_EQ(host.alerts.size(), 1u);
    if (host.alerts.empty())
      continue;
    EXPECT_EQ(host.alerts[0].message, k.message);
    EXPECT_EQ(host.alerts[0].explanation, "\"" + k.name + "\" could not be written (No space left on device).");
  }
}

TEST_F(ExportFailureTest, AMovieThatCannotBeWrittenKeepsTheEarlierFileAndSaysSo) {
  TestWindow w(host, 120, 90);
  Plot(w);
  const ovgfx::PixelBuffer *image = OffScreenPixels(GetWindowOffScreen(w.ref()));
  ASSERT_NE(image, nullptr);
  RunOnFullDisk("x.mov", [&] {
    uint32_t duration = 0;
    ASSERT_TRUE(StartMovieRolling(image, image->Bounds(), &duration));
    gRecordingVideo = 1;
    EXPECT_FALSE(CompressMovieFrame(image));
    EXPECT_FALSE(MovieIsRolling());
    ConcludeMovie(false, false, false, false);
  });
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Movie recording stopped");
  EXPECT_EQ(host.alerts[0].explanation.rfind("\"x.mov\" could not be written (No space left on device; ", 0), 0u)
      << host.alerts[0].explanation;
}
