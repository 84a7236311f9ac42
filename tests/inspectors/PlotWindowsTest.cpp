// The Plot Range and Calculate Angle windows, the plot scale and size
// sheets and the angle dialogs, driven through their controls and commands
// on examples opened in structure windows.
#include "editing/TransformCommands.h"
#include "inspectors/AngleDialogs.h"
#include "inspectors/CalculateAngleWindow.h"
#include "inspectors/InspectorKit.h"
#include "inspectors/LatticePlaneSheets.h"
#include "inspectors/PlotRangeWindow.h"
#include "inspectors/PlotSizeSheets.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "shell/LogStore.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "BuildPipeline.h"
#include "LatticePlanes.h"
#include "StructureArrays.h"
#include "export/VideoRecorder.h"
#include "window/MainWindowData.h"

#include "CrystalFromSites.h"
#include "ProgramEnvironment.h"

#include <QCheckBox>
#include <algorithm>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

namespace {

RecordingHost *Host() { return dynamic_cast<RecordingHost *>(GetHostServices()); }

class PlotWindowsTest : public ::testing::Test {
protected:
  void SetUp() override { Host()->alerts.clear(); }
  void TearDown() override {
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows())) {
      ClearWindowModified(w->Ref());
      DoCloseMainWindow(w->Ref());
    }
    QCoreApplication::processEvents();
  }
  static MainWindow *Open(const char *example) {
    if (!OpenFSRefInWindow(ExamplesFolder() / example, nullptr))
      return nullptr;
    QCoreApplication::processEvents();
    return GetMainWindow(FrontGraphWindow());
  }
  static QString Text(QWidget *root, int id) {
    if (auto *field = FindControl<QLineEdit>(root, id))
      return field->text();
    return FindControl<QLabel>(root, id)->text();
  }
  // A pop-up choice as the user makes it.
  static void Choose(QWidget *root, int id, int value) {
    auto *popup = FindControl<QComboBox>(root, id);
    popup->setCurrentIndex(value - 1);
    emit popup->activated(value - 1);
  }
  static void Type(QWidget *root, int id, const char *text, bool ret = false) {
    auto *field = FindControl<QLineEdit>(root, id);
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
    if (ret)
      QTest::keyClick(field, Qt::Key_Return);
  }
};

TEST(PlotRangeRules, ArrowsKeepTheOrderAndExpandingMovesEachAxisByItsEdge) {
  RangeData d;
  d.xmin = 0.0f, d.xmax = 0.05f;
  StepRangeField(d, 0, kControlUpButtonPart);
  EXPECT_FLOAT_EQ(d.xmin, 0.05f - 0.1f) << "a minimum reaching its maximum stays 0.1 below it";
  d = RangeData{};
  ExpandContractRange(d, 0.1f, 5.0f, 10.0f, 20.0f);
  EXPECT_FLOAT_EQ(d.xmin, -0.1f);
  EXPECT_FLOAT_EQ(d.ymax, 1.05f);
  EXPECT_FLOAT_EQ(d.zmin, -0.025f);
  d = RangeData{};
  d.ymax = 3.0f;
  ExpandContractRange(d, -1.0f, 5.0f, 5.0f, 5.0f);
  EXPECT_EQ(d.xmin, 0.0f) << "a width of 1 cannot lose a cell";
  EXPECT_EQ(d.xmax, 1.0f);
  EXPECT_FLOAT_EQ(d.ymin, 0.5f);
  EXPECT_FLOAT_EQ(d.ymax, 2.5f);
  d.xmin = 0.2f, d.xmax = 0.6f;
  CentreAxisRange(d, 'x');
  EXPECT_FLOAT_EQ(d.xmin, 0.3f);
  EXPECT_EQ(RangeSpanText(120.0f), "120");
  EXPECT_EQ(RangeSpanText(2.5f), "2.5");
}

TEST_F(PlotWindowsTest, PlotRangeCountsChecksAndAppliesOnReturn) {
  MainWindow *w = Open("NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  DoSetRange();
  ASSERT_NE(gRangeWindow, nullptr);
  gRangeData.live = 0;
  SetRangeCommand(FourCharsToLong("1Cel"));
  EXPECT_EQ(Text(gRangeWindow, 3), "0.99999");
  EXPECT_TRUE(Text(gRangeWindow, 21).endsWith(" atoms in range"));
  EXPECT_EQ(Text(gRangeWindow, 23), "1.0");
  const QString count = Text(gRangeWindow, 21);
  Type(gRangeWindow, 3, "0");
  EXPECT_FALSE(FindControl(gRangeWindow, 22)->isEnabled()) << "x maximum equal to x minimum";
  EXPECT_EQ(Text(gRangeWindow, 21), count) << "the count keeps what it showed";
  Type(gRangeWindow, 3, "2");
  EXPECT_TRUE(FindControl(gRangeWindow, 22)->isEnabled());
  EXPECT_EQ(GetWindowCrystal(w->Ref())->plotRange[1], 1.0f) << "neither the command (live off) nor typing applies";
  Type(gRangeWindow, 3, "", true);
  EXPECT_EQ(GetWindowCrystal(w->Ref())->plotRange[1], 2.0f) << "Return applies with live off";

  MainWindow *molecule = Open("Benzene.ovtx");
  ASSERT_NE(molecule, nullptr);
  UpdateFloatingWindowsNow();
  EXPECT_EQ(Text(gRangeWindow, 1), "---");
  EXPECT_EQ(Text(gRangeWindow, 21), "No atoms to plot");
  EXPECT_FALSE(FindControl(gRangeWindow, 22)->isEnabled());
  const float before = GetWindowCrystal(molecule->Ref())->plotRange[1];
  SetRangeCommand(FourCharsToLong("1Cel"));
  EXPECT_EQ(GetWindowCrystal(molecule->Ref())->plotRange[1], before);
}

// With Live ticked, a value typed into a field is drawn as it is counted:
// rock salt over 0..2 cells along a and one cell along b and c holds the
// 5 x 3 x 3 points of its half-cell grid, and the window plots those.
TEST_F(PlotWindowsTest, PlotRangeLiveDrawsTheTypedValueItCounts) {
  MainWindow *w = Open("NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  DoSetRange();
  ASSERT_NE(gRangeWindow, nullptr);
  auto *live = gRangeWindow->findChild<QCheckBox *>("w32");
  ASSERT_NE(live, nullptr);
  gRangeData.live = 0;
  live->setChecked(false);
  const CrystalRec &c = *GetWindowCrystal(w->Ref());
  auto plotted = [&] {
    return std::count_if(c.atoms.begin(), c.atoms.end(), [](const AtomRecord &a) { return a.visible != 0; });
  };
  auto picture = [&] { return w->GraphPane()->grab().toImage(); };
  ASSERT_EQ(c.plotRange[1], 1.0f);
  const QImage oneCell = picture();
  const auto oneCellAtoms = plotted();
  EXPECT_EQ(oneCellAtoms, 27);

  live->click();
  ASSERT_TRUE(gRangeData.live);
  EXPECT_EQ(picture(), oneCell) << "ticking Live with the range as plotted changes nothing";
  Type(gRangeWindow, 3, "2");
  EXPECT_EQ(Text(gRangeWindow, 21), "45 atoms in range");
  EXPECT_EQ(Text(gRangeWindow, 3), "2") << "the field keeps what was typed";
  EXPECT_EQ(c.plotRange[1], 2.0f);
  EXPECT_EQ(plotted(), 45);
  EXPECT_NE(picture(), oneCell);

  // Typing on goes on drawing: a minimum past the maximum draws nothing new.
  Type(gRangeWindow, 1, "3");
  EXPECT_FALSE(FindControl(gRangeWindow, 22)->isEnabled());
  EXPECT_EQ(plotted(), 45);
  Type(gRangeWindow, 1, "0");
  Type(gRangeWindow, 3, "1");
  EXPECT_EQ(plotted(), oneCellAtoms);
  EXPECT_EQ(picture(), oneCell);
  live->click();
  EXPECT_FALSE(gRangeData.live);
}

// oracle:begin calculate_angle
// name, a, b, c, alpha, beta, gamma, first kind, first indices, second kind, second indices, angle text
const struct AngleCase {
  const char *name;
  float cell[6];
  uint16_t kind1;
  float first[3];
  uint16_t kind2;
  float second[3];
  const char *text;
} kAngleCases[] = {
    {"cubic", {5.64f, 5.64f, 5.64f, 90, 90, 90}, 1, {1, 0, 0}, 1, {0, 0, 1}, "90°"},
    {"cubic", {5.64f, 5.64f, 5.64f, 90, 90, 90}, 1, {1, 0, 0}, 2, {1, 0, 0}, "0°"},
    {"monoclinic", {5.0f, 6.0f, 7.0f, 90, 101.5f, 90}, 1, {1, 0, 0}, 1, {0, 0, 1}, "101.5°"},
    {"monoclinic", {5.0f, 6.0f, 7.0f, 90, 101.5f, 90}, 2, {1, 0, 1}, 1, {1, 1, 0}, "62.0802°"},
    {"triclinic", {5.0f, 6.0f, 7.0f, 80, 95, 100}, 2, {1, 1, 1}, 2, {1, -1, 0}, "76.6102°"},
    {"triclinic", {5.0f, 6.0f, 7.0f, 80, 95, 100}, 1, {1, 2, 3}, 2, {0, 0, 1}, "36.4281°"},
};
// oracle:end calculate_angle

TEST_F(PlotWindowsTest, CalculateAngleFollowsTheFieldsAndLogsItsLine) {
  MainWindow *w = Open("NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(DoCalAngle(), 0);
  for (const AngleCase &k : kAngleCases) {
    SCOPED_TRACE(k.name);
    CrystalRec &c = *GetWindowCrystal(w->Ref());
    FillCrystalFromSites(c, k.cell, "P 1", {{"X1", "C", 0.1f, 0.2f, 0.3f}});
    ASSERT_TRUE(RunNewCrystal(w->Ref(), true, true, true));
    SetCalAngleIndices(k.first[0], k.first[1], k.first[2], 1, k.kind1);
    SetCalAngleIndices(k.second[0], k.second[1], k.second[2], 2, k.kind2);
    EXPECT_EQ(Text(gCalAngleWindow, 20), QString::fromUtf8(k.text));
  }
  EXPECT_EQ(Text(gCalAngleWindow, 14), "h") << "plane indices are labelled h k l";
  const int before = GetLogStore()->PlainText().size();
  CalAngleCommand(FourCharsToLong("calA"));
  EXPECT_TRUE(GetLogStore()->PlainText().mid(before).contains("Angle [1 2 3] ^ N(0 0 1) = 36.4281°"));
  Type(gCalAngleWindow, 11, "0");
  Type(gCalAngleWindow, 12, "0");
  Type(gCalAngleWindow, 13, "0");
  EXPECT_EQ(Text(gCalAngleWindow, 20), "---");
  CalAngleCommand(FourCharsToLong("calA"));
  EXPECT_TRUE(GetLogStore()->PlainText().endsWith("N(0 0 0) = ---\r")) << "no angle, no zero";
}

TEST_F(PlotWindowsTest, PlotScaleAndSizeSheetsRefuseAndConvert) {
  MainWindow *w = Open("NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  const float start = GetWindowCrystal(w->Ref())->plotScale;
  QDialog *scale = DoShowPlotScaleSheet(w->Ref());
  ASSERT_NE(scale, nullptr);
  Type(scale, 1, QByteArray::number(double(start) * 2, 'g', 9).constData());
  EXPECT_EQ(Text(scale, 3), "200%");
  Type(scale, 1, "0.01");
  auto press = [](QWidget *sheet, const char *command) {
    for (auto *b : sheet->findChildren<QPushButton *>())
      if (b->property("command").toString() == command)
        b->click();
  };
  press(scale, "ok  ");
  ASSERT_EQ(Host()->alerts.size(), 1u);
  EXPECT_EQ(Host()->alerts[0].explanation, "Scale must lie in the range 0.01 - 10000 pixels/Angstrom!");
  EXPECT_TRUE(scale->isVisible());
  EXPECT_TRUE(PlotScaleAcceptable(9999.99f));
  Type(scale, 1, QByteArray::number(double(start) * 2, 'g', 9).constData());
  press(scale, "ok  ");
  EXPECT_FLOAT_EQ(GetWindowCrystal(w->Ref())->plotScale, start * 2);

  w->ResizeContent(640, 480);
  QCoreApplication::processEvents();
  QDialog *size = DoShowPlotSizeSheet(w->Ref());
  ASSERT_NE(size, nullptr);
  Type(size, 1, "144");
  Choose(size, 2, kUnitInches);
  EXPECT_EQ(Text(size, 1), "2.00");
  EXPECT_EQ(Text(size, 3), QString::number(w->GraphPane()->height())) << "the height keeps its unit";
  Type(size, 3, "79.6");
  press(size, "ok  ");
  ASSERT_EQ(Host()->alerts.size(), 2u);
  EXPECT_EQ(Host()->alerts[1].message, "Sorry, your window dimensions were too small.");
  Choose(size, 2, kUnitCentimetres);
  Type(size, 1, "10");
  Type(size, 3, "300");
  press(size, "ok  ");
  QCoreApplication::processEvents();
  EXPECT_EQ(w->GraphPane()->width(), 283) << "10 cm at 72 pixels per inch";
  EXPECT_EQ(w->GraphPane()->height(), 300);
  EXPECT_EQ(gPlotSizeHUnitsChoice, kUnitCentimetres);
}

TEST_F(PlotWindowsTest, AngleDialogsClampValidateAndEstimate) {
  float angle = 15.0f;
  SetAppModalDialogRunner([](QDialog &dialog) {
    auto &d = static_cast<RotationAngleDialog &>(dialog);
    SetEditTextCString(FindControl<QLineEdit>(&d, 1), "400");
    d.Command(FourCharsToLong("ok  "));
  });
  EXPECT_TRUE(GetRotationAngle(&angle));
  EXPECT_FLOAT_EQ(angle, 359.99f);
  for (const auto &[typed, want] : {std::pair{"-20", 20.0f}, std::pair{"0", 0.01f}}) {
    RotationAngleDialog d(15.0f);
    SetEditTextCString(FindControl<QLineEdit>(&d, 1), typed);
    EXPECT_FLOAT_EQ(d.Angle(), want);
  }
  SetAppModalDialogRunner([](QDialog &dialog) { static_cast<RotationAngleDialog &>(dialog).Command(FourCharsToLong("not!")); });
  angle = 15.0f;
  EXPECT_FALSE(GetRotationAngle(&angle)) << "Cancel";

  EXPECT_EQ(QTVRMovieSizeText(40000ull * 36), "1.4 MB");
  EXPECT_EQ(QTVRMovieSizeText(40000ull * 20), "781 kB");
  EXPECT_EQ(QTVRMovieSizeText(0), "---- kB");
  const QTVROptions saved = gQTVROptions;
  gQTVROptions.rows = 3;
  gQTVROptions.startVPan = gQTVROptions.endVPan = 0;
  {
    QTVROptionsDialog d;
    ASSERT_TRUE(d.Loaded());
    EXPECT_FALSE(d.ValidQTVROptions());
    ASSERT_FALSE(Host()->alerts.empty());
    EXPECT_EQ(Host()->alerts.back().message, "Multiple rows require different Start and End VPan values!");
    SetEditTextCString(FindControl<QLineEdit>(&d, 5), "0");
    emit FindControl<QLineEdit>(&d, 5)->textEdited("0");
    EXPECT_EQ(gQTVROptions.rows, 1u) << "no rows becomes one at once";
    EXPECT_EQ(Text(&d, 1), QString::number(gQTVROptions.columns));
  }
  SetAppModalDialogRunner({});
  gQTVROptions = saved;
  // The preview: one row of four columns in a 200 x 100 view.
  const QTVRGrid grid = QTVRPreviewGrid(QRectF(0, 0, 200, 100), 1, 4);
  EXPECT_DOUBLE_EQ(grid.outline.width(), 4 * 46 + 1);
  EXPECT_DOUBLE_EQ(grid.outline.height(), 47);
  EXPECT_EQ(grid.lines.size(), 3u);
}

// oracle:begin d_spacing
// name, a, b, c, alpha, beta, gamma, h, k, l, text
const struct DCase {
  const char *name;
  float cell[6];
  float hkl[3];
  const char *text;
} kDCases[] = {
    {"monoclinic", {5.0f, 6.0f, 7.0f, 90, 101.5f, 90}, {1, 0, 1}, "3.6570 Å"},
    {"triclinic", {5.0f, 6.0f, 7.0f, 80, 95, 100}, {1, -1, 2}, "2.4468 Å"},
};
// oracle:end d_spacing

TEST_F(PlotWindowsTest, LatticePlaneSheetShowsTheSpacingAndSetsThePlane) {
  MainWindow *w = Open("NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  CrystalRec &c = *GetWindowCrystal(w->Ref());
  for (const DCase &k : kDCases) {
    CrystalRec cell;
    FillCrystalFromSites(cell, k.cell, "P 1", {});
    EXPECT_EQ(DSpacingText(&cell, k.hkl[0], k.hkl[1], k.hkl[2]), k.text) << k.name;
  }
  int h = 0, kk = 0, l = 0;
  ASSERT_TRUE(ParsePresetPlane("(1/2 0 1)", &h, &kk, &l));
  EXPECT_EQ(h * 100 + kk * 10 + l, 120) << "the slash reads as a blank";
  EXPECT_FALSE(ParsePresetPlane("(1 0)", &h, &kk, &l));

  QDialog *sheet = ShowLatticePlaneSheet(w->Ref(), MakeLatticePlaneSheetRecord(c));
  ASSERT_NE(sheet, nullptr);
  for (int id : {1, 2, 3})
    Type(sheet, id, "0");
  EXPECT_EQ(Text(sheet, 4), "---");
  EXPECT_FALSE(FindControl(sheet, 10)->isEnabled());
  Choose(sheet, 14, 9); // "(1 -1 0)"
  EXPECT_EQ(Text(sheet, 2), "-1");
  EXPECT_TRUE(FindControl(sheet, 10)->isEnabled());
  FindControl<QSlider>(sheet, 7)->setValue(37);
  static_cast<QPushButton *>(FindControl(sheet, 10))->click();
  EXPECT_FLOAT_EQ(c.plane.transparency, 0.63f);
  EXPECT_EQ(c.plane.hkl[1], -1.0f);
  EXPECT_TRUE(c.plane.shown);

  // Slice: Cancel leaves the selection and the plane; Hide Selected hides them.
  c.atoms[0].selected = 1;
  QDialog *slice = ShowSliceModelSheet(w->Ref());
  ASSERT_NE(slice, nullptr);
  auto press = [](QWidget *s, const char *command) {
    for (auto *b : s->findChildren<QPushButton *>())
      if (b->property("command").toString() == command)
        b->click();
  };
  press(slice, "not!");
  EXPECT_TRUE(c.atoms[0].selected);
  EXPECT_TRUE(c.plane.shown);
  press(ShowSliceModelSheet(w->Ref()), "HdAb");
  EXPECT_FALSE(c.plane.shown);
}

TEST_F(PlotWindowsTest, ANewLatticePlaneCutsTheCellAndSliceSaysWhyItCannotSlice) {
  MainWindow *w = Open("NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  CrystalRec &c = *GetWindowCrystal(w->Ref());
  auto openSheet = [&](const QString &title) -> QDialog * {
    for (QDialog *d : w->findChildren<QDialog *>())
      if (d->isVisible() && d->windowTitle() == title)
        return d;
    return nullptr;
  };
  auto selected = [&] {
    int n = 0;
    for (int32_t i = 0; i < c.atomCount; i++)
      n += c.atoms[size_t(i)].selected ? 1 : 0;
    return n;
  };
  // Slice without a plane on show: nothing is selected, and the user is told.
  ProcessCommand(kCmdSliceCrystal);
  ASSERT_EQ(Host()->alerts.size(), 1u);
  EXPECT_EQ(Host()->alerts[0].message, "Please display the lattice plane");
  EXPECT_EQ(selected(), 0);

  // Lattice Plane..., OK on (1 1 1). Rock salt's plot holds the 27 points
  // of {0, 1/2, 1}^3 (the range of one cell makes only the images its faces
  // show) and its centre is the cell's, (1/2, 1/2, 1/2). By hand, the plane
  // x + y + z = 3/2 has 10 of the points on either side and 7 on it (which
  // rounding may put on either side): Slice selects the smaller side, 10 to
  // 17 atoms.
  ASSERT_EQ(c.atomCount, 27);
  ProcessCommand(kCmdLatticePlaneSheet);
  QDialog *sheet = openSheet("Lattice Plane");
  ASSERT_NE(sheet, nullptr);
  for (int id : {1, 2, 3})
    Type(sheet, id, "1");
  static_cast<QPushButton *>(FindControl(sheet, 10))->click();
  ASSERT_TRUE(c.plane.shown);
  Host()->alerts.clear();
  ProcessCommand(kCmdSliceCrystal);
  EXPECT_TRUE(Host()->alerts.empty());
  EXPECT_GE(selected(), 10);
  EXPECT_LE(selected(), 17);
  QDialog *slice = openSheet("Slice Model");
  ASSERT_NE(slice, nullptr);
  slice->reject();

  // A plane moved off the model leaves nothing to slice, and says so.
  float beyond[3];
  for (int k = 0; k < 3; k++)
    beyond[k] = c.plotCentre[k] + 20.0f * c.plane.viewNormal[k];
  MovePlane2Point(&c, beyond);
  ProcessCommand(kCmdSliceCrystal);
  ASSERT_EQ(Host()->alerts.size(), 1u);
  EXPECT_EQ(Host()->alerts[0].message, "The lattice plane does not cut the model");
  EXPECT_EQ(selected(), 0);
}

} // namespace
