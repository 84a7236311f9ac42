// Export > Pixel Graphics as a user runs it: the command, the sheet's
// fields and OK, the save dialog, then the file written (or not).

#include "../model/StructureWindowFixture.h"

#include "export/ExportGraphicsPanel.h"
#include "import/ImportPath.h"
#include "render/OffScreen.h"

#include <QApplication>
#include <QImageReader>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace viewtest;

namespace {

struct PictureExportCommandTest : ::testing::Test {
  FakeHost host;
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
