// Pixel pictures drawn and written a strip at a time: the same pixels as the
// picture drawn whole, read back by the toolkit's own decoders; and the
// formats held whole refused when the memory is not there.

#include "../model/StructureWindowFixture.h"

#include "export/PictureExport.h"
#include "import/OwnTextReader.h"
#include "render/OffScreen.h"

#include <QImage>
#include <QImageReader>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace viewtest;

namespace {

int gMemoryQuestions = 0;
int64_t gMemoryAnswer = int64_t(1) << 40;
int64_t CountedFreeMemory() {
  ++gMemoryQuestions;
  return gMemoryAnswer;
}

struct PictureStripsTest : ::testing::Test {
  FakeHost host;
  std::filesystem::path dir;
  void SetUp() override {
    host.windowTitle = "Strips";
    dir = std::filesystem::temp_directory_path() / ("ovstrips" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    ScreenHooks hooks;
    hooks.freeMemory = CountedFreeMemory;
    SetScreenHooks(hooks);
    gMemoryAnswer = int64_t(1) << 40;
  }
  void TearDown() override {
    SetScreenHooks(ScreenHooks{});
    std::filesystem::remove_all(dir);
  }
  QImage Read(const std::filesystem::path &file) {
    QImageReader reader(QString::fromStdString(file.string()));
    return reader.read().convertToFormat(QImage::Format_RGB32);
  }
};

} // namespace

// A strip height that divides nothing evenly, over every model with labels,
// the cell, the axes and a text box that straddle strip edges.
TEST_F(PictureStripsTest, AStripWrittenPictureHasThePixelsOfThePictureDrawnWhole) {
  TestWindow w(host, 230, 170);
  ASSERT_TRUE(ReadTextFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/Spinel.ovtx"));
  CrystalRec &c = w.crystal();
  for (AtomRecord &atom : c.atoms)
    atom.labelled = 1;
  c.showAxes = 1;
  c.showUnitCell = 1;
  TextBoxRecord box;
  box.boxCentre[0] = 0.5f;
  box.boxCentre[1] = 0.5f;
  box.boxRect = MakeRect(0, 0, 120, 40);
  box.text = u"Strips \u00C5";
  box.textLength = uint32_t(box.text.size());
  box.textColor = RGBColor{65535, 0, 0};
  c.textBoxes.push_back(box);
  c.textBoxCount = 1;
  ResetOffScreen(w.ref());
  PlotCrystal(w.ref(), kPlotToWindow);
  const int width = 461, height = 343, rows = 7;
  const int strips = (height + rows - 1) / rows;
  for (int16_t model : {kBallAndStickModel, kSpaceFillingModel, kPolyhedralModel, kWireFrameModel, kStickModel}) {
    for (uint32_t type : {kPNGFileType, kBMPFileType}) {
      SCOPED_TRACE(std::to_string(model) + (type == kPNGFileType ? " PNG" : " BMP"));
      c.modelType = uint8_t(model);
      const auto whole = dir / (type == kPNGFileType ? "whole.png" : "whole.bmp");
      const auto strip = dir / (type == kPNGFileType ? "strips.png" : "strips.bmp");
      ASSERT_EQ(QTWritePixelImage(w.ref(), width, height, 144, whole, type, INT64_MAX), 0);
      gMemoryQuestions = 0;
      ASSERT_EQ(QTWritePixelImage(w.ref(), width, height, 144, strip, type, int64_t(width) * 4 * rows), 0);
      EXPECT_GE(gMemoryQuestions, strips); // one image per strip
      const QImage a = Read(whole), b = Read(strip);
      ASSERT_EQ(a.size(), QSize(width, height));
      ASSERT_EQ(b.size(), QSize(width, height));
      int differing = 0;
      for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
          differing += a.pixel(x, y) != b.pixel(x, y);
      EXPECT_EQ(differing, 0);
    }
  }
  EXPECT_TRUE(host.alerts.empty());
}

TEST_F(PictureStripsTest, APictureHeldWholeIsRefusedUpFrontWhenTheMemoryIsNotThere) {
  TestWindow w(host, 120, 90);
  ASSERT_TRUE(ReadTextFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/NaCl.ovtx"));
  ResetOffScreen(w.ref());
  PlotCrystal(w.ref(), kPlotToWindow);
  gMemoryAnswer = int64_t(8) * 1000 * 1000 * 1000;
  const auto file = dir / "large.tif";
  EXPECT_EQ(QTWritePixelImage(w.ref(), 32767, 32767, 72, file, kTIFFFileType), -1);
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Not enough memory for this picture.");
  // 32,767 x 32,767 pixels at 12 bytes each.
  EXPECT_EQ(host.alerts[0].explanation,
            "A 32,767 \u00D7 32,767 pixel TIFF picture needs about 12.9 GB of memory, and 8.0 GB is free. Choose a "
            "smaller size, or PNG, which is written a strip at a time.");
  EXPECT_TRUE(std::filesystem::is_empty(dir));
  // What fits is written.
  EXPECT_EQ(QTWritePixelImage(w.ref(), 300, 200, 72, file, kTIFFFileType), 0);
  EXPECT_EQ(Read(file).size(), QSize(300, 200));
}
