// The Export Graphics panel driven through its controls, found by their
// control numbers, on a structure window of the recording host.

#include "../model/StructureWindowFixture.h"

#include "export/ExportGraphicsPanel.h"
#include "import/ImportPath.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace viewtest;

namespace {

QApplication *App() {
  static int argc = 1;
  static char name[] = "test_ui";
  static char *argv[] = {name, nullptr};
  static QApplication *app = nullptr;
  if (!app)
    app = new QApplication(argc, argv);
  return app;
}

struct PanelTest : ::testing::Test {
  FakeHost host;
  void SetUp() override {
    App();
    gExportGraphicsPixelWidthMenuChoice = 2;
    gExportGraphicsPixelHeightMenuChoice = 2;
    gExportGraphicsOutputWidthMenuChoice = 3;
    gExportGraphicsOutputHeightMenuChoice = 3;
    gExportGraphicsResolutionMenuChoice = 1;
  }
};

std::string Text(ExportGraphicsPanel &p, int id) {
  return qobject_cast<QLineEdit *>(p.Control(id))->text().toStdString();
}

void Type(ExportGraphicsPanel &p, int id, const char *text) {
  auto *field = qobject_cast<QLineEdit *>(p.Control(id));
  field->selectAll();
  QTest::keyClicks(field, text);
}

void Choose(ExportGraphicsPanel &p, int id, int item) {
  auto *popup = qobject_cast<QComboBox *>(p.Control(id));
  popup->setCurrentIndex(item - 1);
  emit popup->activated(item - 1);
}

} // namespace

// Each step acts on the panel left by the steps before it.
TEST_F(PanelTest, LinkedFieldsTable) {
  TestWindow w(host, 400, 300);
  ASSERT_EQ(gPrefs.exportResolution, 144);
  ExportGraphicsPanel panel(NewExportGraphicsRecord(w.ref(), false, false), nullptr);
  struct Step {
    const char *what;
    int control;      // field typed into, or unit pop-up chosen
    const char *text; // typed; null: choose `item`
    int item;
    const char *pixelW, *pixelH, *outW, *outH, *res;
    bool okEnabled;
  };
  const Step steps[] = {
      {"opened at 144 dpi", 0, nullptr, 0, "800", "600", "14.11", "10.58", "144", true},
      {"output in inches", 7, nullptr, 2, "800", "600", "5.56", "10.58", "144", true},
      {"both in inches", 9, nullptr, 2, "800", "600", "5.56", "4.17", "144", true},
      {"pixel width in per cent", 3, nullptr, 1, "100.00", "600", "5.56", "4.17", "144", true},
      {"50 per cent", 2, "50", 0, "50", "300", "2.78", "2.08", "144", true},
      {"back to pixels", 3, nullptr, 2, "400", "300", "2.78", "2.08", "144", true},
      {"resolution 288", 10, "288", 0, "800", "600", "2.78", "2.08", "288", true},
      {"width in centimetres", 7, nullptr, 3, "800", "600", "7.06", "2.08", "288", true},
      {"10 cm wide", 6, "10", 0, "1134", "850", "10", "2.95", "288", true},
      {"per centimetre", 11, nullptr, 2, "1134", "850", "10", "2.95", "113.39", true},
      {"a width of 0 changes nothing", 2, "0", 0, "0", "850", "10", "2.95", "113.39", true},
      {"32765 wide", 2, "32765", 0, "32765", "24574", "288.97", "85.33", "113.39", true},
      {"32766 wide", 2, "32766", 0, "32766", "24574", "288.98", "85.33", "113.39", false},
  };
  for (const Step &s : steps) {
    SCOPED_TRACE(s.what);
    if (s.text)
      Type(panel, s.control, s.text);
    else if (s.control)
      Choose(panel, s.control, s.item);
    EXPECT_EQ(Text(panel, 2), s.pixelW);
    EXPECT_EQ(Text(panel, 4), s.pixelH);
    EXPECT_EQ(Text(panel, 6), s.outW);
    EXPECT_EQ(Text(panel, 8), s.outH);
    EXPECT_EQ(Text(panel, 10), s.res);
    EXPECT_EQ(panel.Control(17)->isEnabled(), s.okEnabled);
    EXPECT_EQ(panel.Control(12)->isHidden(), s.okEnabled);
    EXPECT_EQ(panel.Control(13)->isHidden(), s.okEnabled);
  }
}

TEST_F(PanelTest, ControlsHelpAndTheDialogForm) {
  TestWindow w(host, 200, 100);
  ExportGraphicsPanel sheet(NewExportGraphicsRecord(w.ref(), true, false), nullptr);
  for (int id : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 17})
    EXPECT_NE(sheet.Control(id), nullptr) << id;
  EXPECT_TRUE(sheet.Control(14)->isHidden());
  EXPECT_EQ(qobject_cast<QComboBox *>(sheet.Control(1))->currentIndex(), 1); // vector
  EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
  sheet.findChild<QPushButton *>("helpButton")->click();
  EXPECT_EQ(host.helpPages, std::vector<std::string>{"pages/GraphicsExporter.html"});

  gPrefs.exportFileType = kJPEGFileType;
  ExportGraphicsPanel dialog(NewExportGraphicsRecord(w.ref(), false, true), nullptr);
  EXPECT_FALSE(dialog.Control(14)->isHidden());
  EXPECT_EQ(dialog.ExporterType(), kJPEGFileType);
  // Cancel keeps the saved units and the preferences.
  Choose(dialog, 3, 1);
  Type(dialog, 10, "300");
  ExportGraphicsRecord rec = dialog.Record();
  CloseExportGraphics(rec, false, dialog.ExporterType());
  EXPECT_EQ(gExportGraphicsPixelWidthMenuChoice, 2);
  EXPECT_EQ(gPrefs.exportResolution, 144);
  EXPECT_EQ(gExportGraphicsUserOK, 0);
  // OK saves them and answers the size.
  CloseExportGraphics(rec, true, dialog.ExporterType());
  EXPECT_EQ(gExportGraphicsPixelWidthMenuChoice, 1);
  EXPECT_EQ(gPrefs.exportResolution, 300);
  EXPECT_EQ(gExportGraphicsHPixels, 833); // 400 x 300 / 144, truncated
  EXPECT_EQ(gExportGraphicsUserOK, 1);
  gPrefs = gFactoryPrefs;
}

TEST_F(PanelTest, TheSheetExportsAfterItCloses) {
  TestWindow w(host, 120, 90);
  ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/NaCl.ovtx"));
  ResetOffScreen(w.ref());
  host.windowTitle = "NaCl";
  gPrefs.exportFileType = kPNGFileType;
  const auto file = std::filesystem::temp_directory_path() / ("ovsheet" + std::to_string(::getpid()) + ".png");
  host.savePaths.push_back(file);
  InstallExportGraphicsPanel();
  ASSERT_EQ(DoPictureExportCommand(w.ref(), kCmdExportPixelGraphics), 0);
  ExportGraphicsPanel *sheet = nullptr;
  for (QWidget *top : QApplication::topLevelWidgets())
    if (auto *p = qobject_cast<ExportGraphicsPanel *>(top); p && p->isVisible())
      sheet = p;
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(host.saveDialogs.empty()); // nothing happens while it is open
  qobject_cast<QPushButton *>(sheet->Control(17))->click();
  ASSERT_EQ(host.saveDialogs.size(), 1u);
  EXPECT_EQ(host.saveDialogs[0].second, "NaCl.png");
  EXPECT_EQ(QImage(QString::fromStdString(file.string())).size(), QSize(240, 180));
  std::filesystem::remove(file);
  gExportGraphicsPanelHooks = {};
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  gPrefs = gFactoryPrefs;
}
