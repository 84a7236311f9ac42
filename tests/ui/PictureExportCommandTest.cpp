// Export > Pixel Graphics as a user runs it: the command, the sheet's
// fields and OK, the save dialog, then the file written (or not).

#include "../model/StructureWindowFixture.h"

#include "CachedFiles.h"
#include "documents/UndoHistory.h"
#include "export/ExportGraphicsPanel.h"
#include "import/ImportPath.h"
#include "render/OffScreen.h"
#include "structurewindow/StructureWindow.h"

#include <QApplication>
#include <QImageReader>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>

using namespace viewtest;

namespace {

// The host as the program's event loop is during a long task: each cancel
// check fires the timers that are due, and answers the scripted Escape, or
// one the user presses when `escape` says so (it sees the status window).
struct LoopHost : FakeHost {
  std::function<bool(const LoopHost &)> escape;
  std::vector<uint64_t> checkTimes;
  bool CheckForUserCancel() override {
    checkTimes.push_back(now);
    const bool scripted = FakeHost::CheckForUserCancel();
    FireDueTimers();
    return scripted || (escape && escape(*this));
  }
};

std::vector<char> Bytes(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct PictureExportCommandTest : ::testing::Test {
  LoopHost host;
  std::filesystem::path dir;
  void SetUp() override {
    static int argc = 1;
    static char name[] = "test_ui";
    static char *argv[] = {name, nullptr};
    if (!qApp)
      new QApplication(argc, argv);
    host.windowTitle = "NaCl";
    dir = std::filesystem::temp_directory_path() / ("ovpixcmd" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    gExportGraphicsPixelWidthMenuChoice = 2; // pixels
    gExportGraphicsPixelHeightMenuChoice = 2;
    gExportGraphicsResolutionMenuChoice = 1; // per inch
    InstallExportGraphicsPanel();
  }
  void TearDown() override {
    gExportGraphicsPanelHooks = {};
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    std::filesystem::remove_all(dir);
  }
  void Open(TestWindow &w) {
    ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/NaCl.ovtx"));
    ResetOffScreen(w.ref());
    PlotCrystal(w.ref(), kPlotToWindow);
    gPrefs.exportFileType = kPNGFileType;
  }
  // The sheet the command opened.
  ExportGraphicsPanel *Sheet(WindowRef window) {
    EXPECT_EQ(DoPictureExportCommand(window, kCmdExportPixelGraphics), 0);
    for (QWidget *top : QApplication::topLevelWidgets())
      if (auto *p = qobject_cast<ExportGraphicsPanel *>(top); p && p->isVisible())
        return p;
    return nullptr;
  }
  static QLineEdit *Field(ExportGraphicsPanel *sheet, int id) { return qobject_cast<QLineEdit *>(sheet->Control(id)); }
  static void Ok(ExportGraphicsPanel *sheet) { qobject_cast<QPushButton *>(sheet->Control(17))->click(); }
  // File > Export > Pixel Graphics, OK, and the file chosen in the save
  // dialog; answers the clock when OK was clicked.
  uint64_t Export(WindowRef window, const std::filesystem::path &file) {
    host.savePaths.push_back(file);
    ExportGraphicsPanel *sheet = Sheet(window);
    EXPECT_NE(sheet, nullptr);
    const uint64_t ok = host.now;
    if (sheet)
      Ok(sheet);
    return ok;
  }
  bool Cancelled() const { return host.log.find("Picture export cancelled: no file was written.\r") != std::string::npos; }
};

} // namespace

// The height the sheet shows for a typed width is a fraction rounded for
// the field; the picture has the size the fields show.
TEST_F(PictureExportCommandTest, ThePictureHasTheSizeTheSheetShows) {
  TestWindow w(host, 555, 500); // 1110 x 1000 at 144 dpi
  Open(w);
  const auto file = dir / "shown.png";
  host.savePaths.push_back(file);
  ExportGraphicsPanel *sheet = Sheet(w.ref());
  ASSERT_NE(sheet, nullptr);
  Field(sheet, 2)->selectAll();
  QTest::keyClicks(Field(sheet, 2), "800");
  ASSERT_EQ(Field(sheet, 4)->text(), "721"); // 800 x 1000 / 1110 = 720.7
  Ok(sheet);
  EXPECT_EQ(QImageReader(QString::fromStdString(file.string())).size(), QSize(800, 721));
  gPrefs = gFactoryPrefs;
}

// Escape during the export: the status window was up, no file and no
// temporary file are left, the Log says so, and the window is as it was.
TEST_F(PictureExportCommandTest, EscapeStopsTheExportAndLeavesNoFile) {
  TestWindow w(host, 300, 200);
  Open(w);
  const float scale = w.crystal().plotScale;
  const auto file = dir / "stopped.png";
  host.savePaths.push_back(file);
  host.status.clear();
  host.tick = 200000;                 // every clock reading 0.2 s on
  host.cancelAnswers = {false, true}; // Escape once the export is under way
  ExportGraphicsPanel *sheet = Sheet(w.ref());
  ASSERT_NE(sheet, nullptr);
  Ok(sheet);
  host.tick = 0;
  EXPECT_TRUE(host.cancelAnswers.empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir)); // neither the file nor a temporary one
  ASSERT_FALSE(host.status.empty());
  EXPECT_TRUE(host.status.front().shown);
  EXPECT_EQ(host.status.front().message, "Generating output to a graphics file...");
  EXPECT_FALSE(host.status.back().shown);
  EXPECT_NE(host.log.find("Picture export cancelled: no file was written.\r"), std::string::npos);
  EXPECT_TRUE(host.alerts.empty());
  EXPECT_EQ(w.crystal().plotScale, scale);
  Rect bounds;
  GetWindowOffBounds(w.ref(), &bounds);
  EXPECT_EQ(bounds.Width(), 300);
  // Without the key the same export is written.
  host.savePaths.push_back(file);
  sheet = Sheet(w.ref());
  ASSERT_NE(sheet, nullptr);
  Ok(sheet);
  EXPECT_TRUE(std::filesystem::exists(file));
  gPrefs = gFactoryPrefs;
}

// An Escape pressed after OK, before the status window has come, is seen
// when it comes, half a second on, while the picture is still drawn: the
// export stops and leaves no file.
TEST_F(PictureExportCommandTest, AnEscapeBeforeTheStatusWindowStopsTheExport) {
  TestWindow w(host, 300, 200);
  Open(w);
  host.tick = 20000;             // every clock reading 20 ms on
  host.cancelAnswers = {true};   // the key waits for the first check
  const uint64_t ok = Export(w.ref(), dir / "early.png");
  host.tick = 0;
  EXPECT_EQ(host.cancelChecks, 1);
  EXPECT_TRUE(std::filesystem::is_empty(dir));
  EXPECT_TRUE(Cancelled());
  ASSERT_FALSE(host.status.empty());
  EXPECT_TRUE(host.status.front().shown);
  EXPECT_LE(host.status.front().atMicroseconds - ok, 600000u); // half a second and a few clock readings
  EXPECT_EQ(host.status.front().percent, 0.0f); // no row of the picture finished
  gPrefs = gFactoryPrefs;
}

// Once the status window is up the cancel key is asked every tenth of a
// second while the picture is drawn, and an Escape stops the drawing.
TEST_F(PictureExportCommandTest, AnEscapeWhileThePictureIsDrawnStopsItAtOnce) {
  TestWindow w(host, 300, 200);
  Open(w);
  host.tick = 20000;
  host.cancelAnswers = {false, false, true};
  Export(w.ref(), dir / "drawn.png");
  host.tick = 0;
  ASSERT_EQ(host.checkTimes.size(), 3u);
  EXPECT_LE(host.checkTimes[2] - host.checkTimes[1], 120000u);
  EXPECT_TRUE(std::filesystem::is_empty(dir));
  EXPECT_TRUE(Cancelled());
  for (const FakeHost::StatusEvent &e : host.status)
    EXPECT_LT(e.percent, 100.0f) << "the picture was drawn to the end";
  gPrefs = gFactoryPrefs;
}

// A picture held whole is encoded at the end, which the toolkit's writers
// do in one go: the status window stays up, and an Escape then leaves no
// file.
TEST_F(PictureExportCommandTest, AnEscapeWhileTheWholePictureIsEncodedLeavesNoFile) {
  TestWindow w(host, 300, 200);
  Open(w);
  for (uint32_t type : {kBMPFileType, kTIFFFileType, kJPEGFileType}) {
    SCOPED_TRACE(FindGraphicsExporter(type)->name);
    host.graphicsTypeAnswer = type;
    host.status.clear();
    host.log.clear();
    host.tick = 20000;
    // The user presses Escape when the bar, which showed the drawing's
    // progress, turns busy for the encoding (no share of it can be told).
    bool drawn = false;
    host.escape = [&drawn](const LoopHost &h) {
      if (h.status.empty())
        return false;
      const FakeHost::StatusEvent &e = h.status.back();
      drawn = drawn || (e.shown && e.percent >= 0.0f);
      return drawn && e.shown && e.percent < 0.0f;
    };
    Export(w.ref(), dir / ("whole." + FindGraphicsExporter(type)->extension));
    host.tick = 0;
    host.escape = nullptr;
    EXPECT_TRUE(drawn);
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    EXPECT_TRUE(Cancelled());
  }
  host.graphicsTypeAnswer.reset();
  gPrefs = gFactoryPrefs;
}

// An export is no change of the document: with the window idle between
// them, exports in every format leave it unmarked with its one undo state,
// and two exports of the same view (its axes and a randomly filled atom
// style among them) are the same bytes.
TEST_F(PictureExportCommandTest, AnExportChangesNothingAndTwoExportsOfOneViewAreAlike) {
  const std::filesystem::path cache = dir.string() + "-cache";
  ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  TestWindow w(host, 300, 200);
  Open(w);
  CrystalRec &c = w.crystal();
  c.showAxes = 1;
  c.spheres[0].style = 12; // random fill
  NoteWindowDocumentOpened(w.ref());
  InstallUndoBufferTimer();
  const float scale = c.plotScale;
  for (uint32_t type : {kBMPFileType, kTIFFFileType, kJPEGFileType, kPNGFileType}) {
    const std::string extension = FindGraphicsExporter(type)->extension;
    SCOPED_TRACE(extension);
    host.graphicsTypeAnswer = type;
    host.tick = 200000; // the undo timer's quarter second passes during each export
    Export(w.ref(), dir / ("first." + extension));
    Export(w.ref(), dir / ("second." + extension));
    host.tick = 0;
    host.Advance(1.0);
    host.FireDueTimers();
    EXPECT_FALSE(IsWindowModified(w.ref()));
    EXPECT_EQ(GetNumWindowHistory(w.ref()), 1);
    EXPECT_EQ(c.plotScale, scale);
    const std::vector<char> first = Bytes(dir / ("first." + extension));
    EXPECT_GT(first.size(), 1000u);
    EXPECT_TRUE(first == Bytes(dir / ("second." + extension)));
  }
  EXPECT_TRUE(host.alerts.empty());
  host.graphicsTypeAnswer.reset();
  gUndoBufferTimer.proc = nullptr;
  DestroyWindowHistory(w.ref());
  ::unsetenv("XDG_CACHE_HOME");
  std::filesystem::remove_all(cache);
  gPrefs = gFactoryPrefs;
}

// A picture asked for while the structure is held by the rotate tool (whose
// frames are fast ones) is drawn in full quality, as it is after the
// release.
TEST_F(PictureExportCommandTest, APictureAskedForDuringARotationIsDrawnInFullQuality) {
  TestWindow w(host, 300, 200);
  Open(w);
  ASSERT_TRUE(gPrefs.fastRotation);
  Export(w.ref(), dir / "released.png");
  ASSERT_TRUE(TrackBall(w.ref(), Point{120, 160}));
  Export(w.ref(), dir / "held.png");
  EndTrackBall(w.ref());
  const std::vector<char> released = Bytes(dir / "released.png");
  EXPECT_GT(released.size(), 1000u);
  EXPECT_TRUE(released == Bytes(dir / "held.png"));
  gPrefs = gFactoryPrefs;
}
