// Pixel pictures drawn and written a strip at a time: the same pixels as the
// picture drawn whole, read back by the toolkit's own decoders; and the
// formats held whole refused when the memory is not there.

#include "../model/StructureWindowFixture.h"

#include "Polyhedra.h"
#include "export/PictureExport.h"
#include "import/ImportPath.h"
#include "render/BondDrawing.h"
#include "render/HiddenPrimitives.h"
#include "render/OffScreen.h"

#include <QImage>
#include <QImageReader>

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iterator>

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
  // The pixels by which the picture written `rows` rows at a time differs
  // from the picture drawn whole; -1 when either was not written in full.
  // `before(false)`, when given, is called before the picture is drawn
  // whole, `before(true)` before it is drawn in strips.
  int DifferingPixels(WindowRef window, int width, int height, double resolution, uint32_t type, int rows,
                      void (*before)(bool) = nullptr) {
    const auto whole = dir / (type == kPNGFileType ? "whole.png" : "whole.bmp");
    const auto strip = dir / (type == kPNGFileType ? "strips.png" : "strips.bmp");
    if (before)
      before(false);
    if (QTWritePixelImage(window, width, height, resolution, whole, type, INT64_MAX) != 0)
      return -1;
    if (before)
      before(true);
    gMemoryQuestions = 0;
    if (QTWritePixelImage(window, width, height, resolution, strip, type, int64_t(width) * 4 * rows) != 0)
      return -1;
    EXPECT_GE(gMemoryQuestions, (height + rows - 1) / rows); // one image per strip
    const QImage a = Read(whole), b = Read(strip);
    if (a.size() != QSize(width, height) || b.size() != QSize(width, height))
      return -1;
    int differing = 0;
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++)
        differing += a.pixel(x, y) != b.pixel(x, y);
    return differing;
  }
};

} // namespace

// A strip height that divides nothing evenly, over every model with labels,
// the cell, the axes and a text box that straddle strip edges.
TEST_F(PictureStripsTest, AStripWrittenPictureHasThePixelsOfThePictureDrawnWhole) {
  TestWindow w(host, 230, 170);
  ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/Spinel.ovtx"));
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
  for (int16_t model : {kBallAndStickModel, kSpaceFillingModel, kPolyhedralModel, kWireFrameModel, kStickModel}) {
    for (uint32_t type : {kPNGFileType, kBMPFileType}) {
      SCOPED_TRACE(std::to_string(model) + (type == kPNGFileType ? " PNG" : " BMP"));
      c.modelType = uint8_t(model);
      EXPECT_EQ(DifferingPixels(w.ref(), 461, 343, 144, type, 7), 0);
    }
  }
  EXPECT_TRUE(host.alerts.empty());
}

// A crystal of many cells, whose nearer bonds and balls hide most of those
// behind: what each strip leaves out behind them leaves its pixels as the
// picture drawn whole with every bond and ball has them, at the screen's
// resolution and at twice it.
TEST_F(PictureStripsTest, BondsAndBallsHiddenBehindNearerOnesLeaveTheStripsAsThePictureDrawnWhole) {
  TestWindow w(host, 230, 170);
  ASSERT_TRUE(OpenPyropeColumn(w.ref(), 5.0f));
  SetEveryBondStyle(w.crystal(), kBondPhotoRendered, 0.6f);
  for (double resolution : {72.0, 144.0}) {
    EXPECT_EQ(DifferingPixels(w.ref(), 461, 343, resolution, kPNGFileType, 7, SetHiddenPrimitivesSkipped), 0)
        << resolution;
    EXPECT_GT(LastHiddenBondCount(), 0u) << resolution;
  }
}

// What a strip leaves out before drawing it, bonds and lines that miss its
// rows, is drawn whole where it reaches into a strip: every bond style
// (anti-aliased lines at 72 dpi, pen lines at 144), under perspective, thick
// cell edges, vectors and ellipsoids, in strips of 9 rows.
TEST_F(PictureStripsTest, BondsLinesVectorsAndEllipsoidsCutByStripEdgesKeepTheirPixels) {
  std::ifstream in(std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/Spinel.ovtx");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  text += "AVEC\n"
          "Mg1   0.12500 0.12500 0.12500   1.00000 1.00000 0.00000   2.0000   1.000 0.000 0.000   2\n"
          "O1    0.26240 0.26240 0.26240   0.00000 0.00000 1.00000   1.5000   0.000 0.000 1.000   1\n"
          "UISO\nMg1   0.02\nAl1   0.01\nO1    0.03\n";
  const auto file = dir / "spinel.ovtx";
  std::ofstream(file) << text;
  TestWindow w(host, 230, 170);
  ASSERT_TRUE(OpenStructureFile(w.ref(), file));
  CrystalRec &c = w.crystal();
  ASSERT_GT(c.vectorCount, 0);
  c.showUnitCell = 1;
  c.unitCellLineWidth = 2.0f;
  ResetOffScreen(w.ref());
  PlotCrystal(w.ref(), kPlotToWindow);
  c.modelType = kBallAndStickModel;
  for (uint8_t perspective : {0, 1}) {
    c.perspective = perspective;
    for (int16_t style : {kBondPhotoRendered, kBondPlainLine, kBondDashedLine, kBondTwoColourLine, kBondPlain,
                          kBondTwinBand, kBondPhotoMultiBand, kBondStriated}) {
      for (int32_t k = 0; k < c.bondSpecCount; k++)
        c.bondSpecs[size_t(k)].style = uint16_t(style);
      const bool line = style == kBondPlainLine || style == kBondDashedLine || style == kBondTwoColourLine;
      for (double dpi : {72.0, 144.0}) {
        if (dpi > 72.0 && !line)
          continue; // cylinders are drawn alike at every resolution
        SCOPED_TRACE("perspective " + std::to_string(perspective) + ", bond style " + std::to_string(style) + ", " +
                     std::to_string(int(dpi)) + " dpi");
        EXPECT_EQ(DifferingPixels(w.ref(), 397, 301, dpi, kPNGFileType, 9), 0);
      }
    }
  }
  c.perspective = 0;
  c.modelType = kThermalEllipsoidModel;
  EXPECT_EQ(DifferingPixels(w.ref(), 397, 301, 72, kPNGFileType, 9), 0);
  EXPECT_TRUE(host.alerts.empty());
}

// Polyhedra at a scale where their faces reach hundreds of pixels past a
// strip of 9 rows: each face style, and the selection's frames, cross the
// strip's rows where the picture drawn whole has them.
TEST_F(PictureStripsTest, FacesReachingFarPastAStripKeepTheirEdges) {
  TestWindow w(host, 230, 170);
  ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/Spinel.ovtx"));
  CrystalRec &c = w.crystal();
  c.modelType = kPolyhedralModel;
  c.plotScale *= 12.0f;
  ResetOffScreen(w.ref());
  PlotCrystal(w.ref(), kPlotToWindow);
  for (uint32_t mode : {kPolyModeSolidFill, kPolyModeColourShaded, kPolyModeOpenFill, kPolyModePatternShaded}) {
    SCOPED_TRACE("polyhedron mode " + std::to_string(mode));
    for (AtomRecord &atom : c.atoms)
      if (AtomPolyhedron(&c, atom)) {
        SetGivenPolyMode(c.sites[atom.site], mode);
        atom.selected = mode == kPolyModeSolidFill;
      }
    EXPECT_EQ(DifferingPixels(w.ref(), 461, 343, 144, kPNGFileType, 9), 0);
  }
  EXPECT_TRUE(host.alerts.empty());
}

TEST_F(PictureStripsTest, APictureHeldWholeIsRefusedUpFrontWhenTheMemoryIsNotThere) {
  TestWindow w(host, 120, 90);
  ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/NaCl.ovtx"));
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
