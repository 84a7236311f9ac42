// The Model Options inspector driven as a user drives it: controls found by
// number, text typed, Return pressed, presets picked, with the structure
// and the plotted picture checked afterwards.
#include "inspectors/InspectorKit.h"
#include "inspectors/ModelOptions.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "shell/QtHostServices.h"
#include "shell/Startup.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "Preferences.h"
#include "StructureArrays.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>

#include "ProgramEnvironment.h"

namespace fs = std::filesystem;

namespace {

RecordingHost *gHost = nullptr;

ProgramEnvironment *const gProgram = new ProgramEnvironment("ovinsp", &gHost);
const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(gProgram);

class ModelOptionsTest : public ::testing::Test {
protected:
  void SetUp() override {
    gHost->alerts.clear();
    window = OpenExample("NaCl.ovtx");
    ASSERT_NE(window, nullptr);
    DoModelOptions();
    ASSERT_NE(gModelOptionsWindow, nullptr);
  }
  void TearDown() override {
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows())) {
      ClearWindowModified(w->Ref());
      DoCloseMainWindow(w->Ref());
    }
    QCoreApplication::processEvents();
  }
  static MainWindow *OpenExample(const char *name) {
    if (!OpenFSRefInWindow(ExamplesFolder() / name, nullptr))
      return nullptr;
    QCoreApplication::processEvents();
    return GetMainWindow(FrontGraphWindow());
  }
  CrystalRec &Crystal() { return *GetWindowCrystal(window->Ref()); }
  QWidget *Pane(int tab) {
    DoModelOptionsTabChoice(tab);
    return gModelOptions.panes[size_t(tab)];
  }
  // Types into a field and presses Return there.
  static void Type(QWidget *pane, int id, const char *text) {
    auto *field = FindControl<QLineEdit>(pane, id);
    ASSERT_NE(field, nullptr) << id;
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
  }
  QImage Picture() { return window->GraphPane()->grab().toImage(); }
  MainWindow *window = nullptr;
};

TEST_F(ModelOptionsTest, CellFieldsClampAndReturnAppliesToTheStructure) {
  QWidget *pane = Pane(kCellTab);
  EXPECT_EQ(gModelOptionsWindow->windowTitle(), "Unit Cell & Surface");
  // The surface fields take typing only while the overlay is on.
  FindControl<QCheckBox>(pane, 309)->click();
  EXPECT_EQ(Crystal().surfaceOverlay, 1);
  struct Case {
    int id;
    const char *typed;
    float CrystalRec::*field;
    float expected;
  } cases[] = {
      {403, "12", &CrystalRec::unitCellLineWidth, 9.9f},
      {403, "0.05", &CrystalRec::unitCellLineWidth, 0.1f},
      {306, "80", &CrystalRec::cloudSphereRadFrac, 1.0f},
      {306, "150", &CrystalRec::cloudSphereRadFrac, 1.5f},
      {305, "-5", &CrystalRec::cloudSphereTransparency, 1.0f},
      // Above 100 % the transparency would be negative.
      {305, "250", &CrystalRec::cloudSphereTransparency, 0.0f},
  };
  for (const Case &c : cases) {
    Type(pane, c.id, c.typed);
    EXPECT_NEAR(Crystal().*c.field, c.expected, 1e-5f) << c.typed;
  }
  EXPECT_TRUE(IsWindowModified(window->Ref()));
  // The little arrows step within the field's range and apply.
  Type(pane, 403, "9.9");
  emit FindControl<LittleArrows>(pane, 404)->Stepped(kControlUpButtonPart);
  EXPECT_EQ(FindControl<QLineEdit>(pane, 403)->text(), "9.9 px");
  emit FindControl<LittleArrows>(pane, 404)->Stepped(kControlDownButtonPart);
  EXPECT_NEAR(Crystal().unitCellLineWidth, 9.8f, 1e-5f);

  // Crystal axis labels show at once.
  auto *labels = FindControl<QComboBox>(pane, 410);
  labels->setCurrentIndex(1);
  emit labels->activated(1);
  EXPECT_EQ(FindControl<QLineEdit>(pane, 411)->text(), "a");
  EXPECT_EQ(Crystal().axesOption, 2);

  // With one colour per atom the surface colour controls stay off.
  auto *mode = FindControl<QComboBox>(pane, 301);
  mode->setCurrentIndex(0);
  emit mode->activated(0);
  EXPECT_FALSE(FindControl(pane, 302)->isEnabled());
  EXPECT_TRUE(FindControl(pane, 303)->isEnabled());
}

TEST_F(ModelOptionsTest, FramePresetAndColourDialogReachTheStructureAndThePicture) {
  // Quartz's cell edges run clear of its atoms.
  window = OpenExample("Quartz.ovtx");
  ASSERT_NE(window, nullptr);
  QWidget *pane = Pane(kCellTab);
  // Preset 2 of the frame presets is white; a cancelled dialog leaves it.
  auto *presets = FindControl<QComboBox>(pane, 417);
  emit presets->activated(1);
  EXPECT_EQ(Crystal().unitCellColor, kRGBWhite);
  SetColorPicker([](const std::string &, RGBColor, RGBColor *) { return false; });
  FindControl<QAbstractButton>(pane, 405)->click();
  EXPECT_EQ(Crystal().unitCellColor, kRGBWhite);
  SetColorPicker([](const std::string &, RGBColor, RGBColor *out) {
    *out = RGBColor{65535, 0, 65535};
    return true;
  });
  FindControl<QAbstractButton>(pane, 405)->click();
  SetColorPicker({});
  EXPECT_EQ(Crystal().unitCellColor, (RGBColor{65535, 0, 65535}));
  // Magenta now shows where the frame runs.
  const QImage picture = Picture();
  int magenta = 0;
  for (int y = 0; y < picture.height(); y++)
    for (int x = 0; x < picture.width(); x++)
      if (const QRgb p = picture.pixel(x, y); qRed(p) > 150 && qBlue(p) > 150 && qGreen(p) < 90)
        magenta++; // the dashed frame is smoothed, so its pixels are only near magenta
  EXPECT_GT(magenta, 50);
}

TEST_F(ModelOptionsTest, LabelsTabSizesPositionsAndLabelAllThenNone) {
  QWidget *pane = Pane(kLabelsTab);
  const QImage before = Picture();
  Type(pane, 504, "200");
  EXPECT_EQ(Crystal().labelSize, 128.0f);
  Type(pane, 504, "4");
  EXPECT_EQ(Crystal().labelSize, 5.0f);
  UpdateLabelOptionsSizeField(12.5f);
  EXPECT_EQ(FindControl<QLineEdit>(pane, 504)->text(), "13");
  UpdateLabelOptionsSizeField(12.4f);
  EXPECT_EQ(FindControl<QLineEdit>(pane, 504)->text(), "12");

  // Fixed position: code 5 is button 518.
  FindControl<QAbstractButton>(pane, 5092)->click();
  EXPECT_TRUE(FindControl(pane, 510)->isEnabled());
  FindControl<QAbstractButton>(pane, 518)->click();
  EXPECT_EQ(Crystal().atomLabelPos, 5);
  EXPECT_EQ(Crystal().labelFlag, 0);
  FindControl<QAbstractButton>(pane, 5091)->click();
  EXPECT_FALSE(FindControl(pane, 510)->isEnabled());
  EXPECT_EQ(GetLabelPositionValue(), 0);

  ProcessCommand(FourCharsToLong("Labl"));
  for (QAbstractButton *b : pane->findChildren<QAbstractButton *>())
    if (CommandFromProperty(b) == FourCharsToLong("*Lbl"))
      b->click();
  EXPECT_NE(Picture(), before);
  for (QAbstractButton *b : pane->findChildren<QAbstractButton *>())
    if (CommandFromProperty(b) == FourCharsToLong("%Lbl"))
      b->click();
  Type(pane, 504, "10");
  // Sizes went back too; the picture is the first one again.
  Crystal().labelSize = 10.0f;
  NewPlot(window->Ref(), false, false);
  EXPECT_EQ(Picture(), before);
}

TEST_F(ModelOptionsTest, BackgroundPresetsGradientFieldsAndSizes) {
  ProcessCommand(FourCharsToLong("*MOK"));
  QWidget *pane = gModelOptions.panes[kBackgroundTab];
  ASSERT_EQ(gModelOptions.tab, kBackgroundTab);
  auto press = [pane](int id) {
    QWidget *preview = FindControl(pane, id);
    QTest::mouseClick(preview, Qt::LeftButton, {}, QPoint(5, 5));
  };
  press(632); // white
  EXPECT_EQ(Picture().pixel(2, 2), qRgb(255, 255, 255));
  press(630); // black
  EXPECT_EQ(Crystal().backgroundColor, kRGBBlack);
  EXPECT_EQ(Picture().pixel(2, 2), qRgb(0, 0, 0));
  // Plain mode leaves the gradient controls off.
  EXPECT_FALSE(FindControl(pane, 617)->isEnabled());
  press(639);
  EXPECT_EQ(Crystal().backgroundGradient, 1);
  EXPECT_EQ(Crystal().gradientAngle, -45.0f);
  EXPECT_EQ(FindControl<QLineEdit>(pane, 622)->text(), "-45°");
  EXPECT_TRUE(FindControl(pane, 617)->isEnabled());

  // Out of the slider's range typing changes nothing; within it, it applies.
  auto *angle = FindControl<QLineEdit>(pane, 622);
  angle->setText("400"); // pasted
  emit angle->textEdited(angle->text());
  EXPECT_EQ(Crystal().gradientAngle, -45.0f);
  angle->setFocus();
  angle->selectAll();
  QTest::keyClicks(angle, "30");
  EXPECT_EQ(Crystal().gradientAngle, 30.0f);

  const RGBColor c1 = Crystal().gradientColors[0], c2 = Crystal().gradientColors[1];
  for (QAbstractButton *b : pane->findChildren<QAbstractButton *>())
    if (CommandFromProperty(b) == FourCharsToLong("FlGr")) {
      b->click();
      EXPECT_EQ(Crystal().gradientColors[0], c2);
      b->click();
    }
  EXPECT_EQ(Crystal().gradientColors[0], c1);
  EXPECT_EQ(Crystal().gradientColors[1], c2);

  EXPECT_EQ(PictureSizeText(2048, 1536, 12582912), "2048 x 1536, 12 MB");
  EXPECT_EQ(PictureSizeText(511, 512, 1048575), "511 x 512, 1023 K");
}

TEST(DepthCurveTest, PresetsDragClampsAndZoom) {
  const DepthCurve block = DepthPresetCurve(3);
  EXPECT_STREQ(DepthPresetName(3), "Block");
  EXPECT_EQ(block.upperBaseZ, 0.6f);
  EXPECT_EQ(block.lowerPlateauZ, 0.4f);
  EXPECT_EQ(block.upperMinOpacity, 0.0f);
  EXPECT_EQ(MatchDepthPreset(block), 3);
  DepthCurve c = DepthPresetCurve(6); // Pyramid: plateau 0.5 .. 0.5
  // Handle 2 stays between handles 3 and 1; handle 1 never passes handle 2.
  EXPECT_FALSE(DragDepthHandle(c, 2, 0.1f, 0.5f));
  EXPECT_TRUE(DragDepthHandle(c, 2, 0.9f, 0.5f));
  EXPECT_EQ(c.upperPlateauZ, 0.75f);
  DragDepthHandle(c, 1, 0.2f, 2.0f);
  EXPECT_EQ(c.upperBaseZ, 0.75f);
  EXPECT_EQ(c.upperMinOpacity, 1.0f);
  EXPECT_EQ(MatchDepthPreset(c), kDepthCustomItem);

  // A plateau 0.2 wide slides from the back to the front.
  DepthCurve w{0, 0.6f, 0.5f, 0, 0.2f, 0.3f};
  DepthZoomSaved saved = SaveDepthZoom(w);
  SetDepthZoomAmount(w, saved, 1.0f);
  EXPECT_NEAR(w.upperPlateauZ, 1.0f, 1e-6f);
  EXPECT_NEAR(w.lowerPlateauZ, 0.8f, 1e-6f);
  SetDepthZoomAmount(w, saved, 0.0f);
  EXPECT_NEAR(w.upperPlateauZ, 0.2f, 1e-6f);
  EXPECT_NEAR(w.lowerPlateauZ, 0.0f, 1e-6f);
  // The whole depth as plateau leaves nothing to slide; Slope does.
  EXPECT_EQ(DepthZoomSliderValue(DepthCurve{1, 1, 1, 0, 0, 0}, 250), -1);
  EXPECT_GE(DepthZoomSliderValue(DepthPresetCurve(1), 250), 0);
}

TEST_F(ModelOptionsTest, DepthTabPresetFieldsAndPicture) {
  window = OpenExample("Quartz.ovtx");
  ASSERT_NE(window, nullptr);
  ProcessCommand(FourCharsToLong("Dept"));
  QWidget *pane = gModelOptions.panes[kDepthTab];
  ASSERT_EQ(gModelOptions.tab, kDepthTab);
  auto countLit = [this] {
    const QImage p = Picture();
    int lit = 0;
    for (int y = 0; y < p.height(); y++)
      for (int x = 0; x < p.width(); x++)
        lit += qGray(p.pixel(x, y)) > 40;
    return lit;
  };
  const int before = countLit();
  FindControl<QCheckBox>(pane, 801)->click();
  EXPECT_EQ(Crystal().depthFading, 1);
  auto *presets = FindControl<QComboBox>(pane, 803);
  presets->setCurrentIndex(2); // Block
  emit presets->activated(2);
  EXPECT_EQ(Crystal().upperBaseZ, 0.6f);
  EXPECT_EQ(Crystal().lowerBaseZ, 0.4f);
  // Only the middle slab of the structure still shows.
  EXPECT_LT(countLit(), before * 3 / 4);
  DoUpdateModelOptions();
  EXPECT_EQ(presets->currentText(), "Block");

  struct Case {
    int id;
    const char *typed;
    float CrystalRec::*field;
    float expected;
  } cases[] = {{822, "0", &CrystalRec::viewDistance, 1.0f},
               {822, "20000", &CrystalRec::viewDistance, 10000.0f},
               {833, "45", &CrystalRec::stereoAngle, 20.0f},
               {837, "-150", &CrystalRec::stereoSeparation, -100.0f}};
  FindControl<QCheckBox>(pane, 821)->click();
  FindControl<QCheckBox>(pane, 831)->click();
  EXPECT_EQ(Crystal().stereoOn, 1);
  for (const Case &c : cases) {
    Type(pane, c.id, c.typed);
    EXPECT_EQ(Crystal().*c.field, c.expected) << c.typed;
  }
  EXPECT_EQ(FindControl<QLineEdit>(pane, 822)->text(), "10000 Å");
  // Side by side leaves the standout slider off.
  auto *mode = FindControl<QComboBox>(pane, 832);
  mode->setCurrentIndex(1);
  emit mode->activated(1);
  EXPECT_EQ(Crystal().stereoMode, 2);
  EXPECT_FALSE(FindControl(pane, 835)->isEnabled());
}

TEST(LightingTest, BearingsElevationsTrackballAndPhong) {
  EXPECT_EQ(WrapBearing(-30.0f), 330.0f);
  EXPECT_EQ(WrapBearing(370.0f), 10.0f);
  EXPECT_EQ(WrapBearing(360.0f), 360.0f);
  EXPECT_EQ(LightDirectionFromAngles(90.0f, 0.0f), (LightVector{0.0f, 1.0f, 0.0f}));
  EXPECT_EQ(LightDirectionFromAngles(180.0f, 0.0f), (LightVector{-1.0f, 0.0f, 0.0f}));
  EXPECT_NEAR(LightDirectionFromAngles(0.0f, 120.0f)[2], 1.0f, 1e-6f);
  // The trackball's centre points the light at the viewer.
  const LightVector centre = TrackballDirection(0, 0, 50.0f);
  EXPECT_EQ(centre, (LightVector{0.0f, 0.0f, 1.0f}));
  float b = -1, e = -1;
  AnglesFromLightDirection(centre, &b, &e);
  EXPECT_EQ(e, 90.0f);
  // No NaN from a zero or overlong light vector, nor from exponent 0.
  AnglesFromLightDirection(LightVector{0, 0, 0}, &b, &e);
  EXPECT_FALSE(std::isnan(b) || std::isnan(e));
  AnglesFromLightDirection(LightVector{0, 0, 2}, &b, &e);
  EXPECT_EQ(e, 90.0f);
  EXPECT_EQ(PhongToSlider(0), 0);
  EXPECT_EQ(PhongFromSlider(PhongToSlider(1000)), 1000);
  // Outside the outline the light lies in the screen plane.
  EXPECT_EQ(TrackballDirection(80, 0, 50.0f), (LightVector{1.0f, 0.0f, 0.0f}));
}

TEST_F(ModelOptionsTest, ReflectancePresetsFieldsAndAFlatDisc) {
  ProcessCommand(FourCharsToLong("Refl"));
  QWidget *pane = gModelOptions.panes[kReflectanceTab];
  ASSERT_EQ(gModelOptions.tab, kReflectanceTab);
  auto choose = [](QComboBox *popup, int item) {
    popup->setCurrentIndex(item - 1);
    emit popup->activated(item - 1);
  };
  EXPECT_FALSE(FindControl(pane, 715)->isEnabled());
  choose(FindControl<QComboBox>(pane, 703), 2); // bonds
  const float atomAmbient = Crystal().kA[0];
  choose(FindControl<QComboBox>(pane, 702), 4);
  EXPECT_EQ(Crystal().kA[1], 0.2f);
  EXPECT_EQ(Crystal().kD[1], 1.0f);
  EXPECT_EQ(Crystal().kS[1], 0.5f);
  EXPECT_EQ(Crystal().phongN[1], 10);
  EXPECT_EQ(Crystal().kA[0], atomAmbient);
  Type(pane, 712, "0");
  EXPECT_EQ(Crystal().phongN[1], 1);
  Type(pane, 712, "5000");
  EXPECT_EQ(Crystal().phongN[1], 1000);
  Type(pane, 706, "1.7");
  EXPECT_EQ(Crystal().kA[1], 1.0f);
  Type(pane, 706, "-0.2");
  EXPECT_EQ(Crystal().kA[1], 0.0f);
  Type(pane, 756, "-30");
  EXPECT_EQ(FindControl<QLineEdit>(pane, 756)->text(), "330°");
  choose(FindControl<QComboBox>(pane, 703), 3);
  EXPECT_TRUE(FindControl(pane, 715)->isEnabled());

  // Pure ambient light paints every atom as one flat disc.
  choose(FindControl<QComboBox>(pane, 703), 1);
  choose(FindControl<QComboBox>(pane, 702), 1);
  EXPECT_EQ(Crystal().kD[0], 0.0f);
  const QImage picture = Picture();
  const CrystalRec &c = Crystal();
  int probed = 0;
  for (int32_t i = 0; i < UsableAtomCount(c) && probed < 3; i++) {
    const AtomRecord &atom = c.atoms[size_t(i)];
    const QPoint p(atom.pixel[0], atom.pixel[1]);
    if (!atom.visible || !picture.rect().adjusted(8, 8, -8, -8).contains(p))
      continue;
    EXPECT_EQ(picture.pixel(p), picture.pixel(p + QPoint(3, -3))) << i;
    EXPECT_EQ(picture.pixel(p), picture.pixel(p + QPoint(-3, 3))) << i;
    probed++;
  }
  EXPECT_EQ(probed, 3);
}

TEST_F(ModelOptionsTest, ALightFromTheRightBrightensTheRightHalfOfEachAtom) {
  ProcessCommand(FourCharsToLong("Refl"));
  QWidget *pane = gModelOptions.panes[kReflectanceTab];
  Type(pane, 758, "10");
  Type(pane, 756, "0");
  EXPECT_GT(Crystal().lightDirection[0], 0.9f);
  EXPECT_EQ(Crystal().lightDirection[1], 0.0f);
  const QImage picture = Picture();
  const CrystalRec &c = Crystal();
  int probed = 0;
  for (int32_t i = 0; i < UsableAtomCount(c) && probed < 3; i++) {
    const AtomRecord &atom = c.atoms[size_t(i)];
    const QPoint p(atom.pixel[0], atom.pixel[1]);
    if (!atom.visible || !picture.rect().adjusted(8, 8, -8, -8).contains(p))
      continue;
    EXPECT_GT(qGray(picture.pixel(p + QPoint(5, 0))), qGray(picture.pixel(p - QPoint(5, 0)))) << i;
    probed++;
  }
  EXPECT_EQ(probed, 3);
}

TEST_F(ModelOptionsTest, TogglesAndTheirMenuChecks) {
  OVSetWindowModified(window->Ref());
  ClearWindowModified(window->Ref());
  // The current model type neither replots nor marks the window.
  ProcessCommand(FourCharsToLong("Ball"));
  EXPECT_FALSE(IsWindowModified(window->Ref()));
  ProcessCommand(FourCharsToLong("Spac"));
  EXPECT_EQ(Crystal().modelType, 2);
  EXPECT_TRUE(IsWindowModified(window->Ref()));
  QAction *spac = GetCommandAction(FourCharsToLong("Spac"));
  UpdateActionStatus(spac);
  EXPECT_TRUE(spac->isChecked());

  // Stereo off: switching the mode only flips it.
  ClearWindowModified(window->Ref());
  ProcessCommand(FourCharsToLong("Pair"));
  EXPECT_EQ(Crystal().stereoMode, 2);
  EXPECT_FALSE(IsWindowModified(window->Ref()));

  const uint8_t cell = Crystal().showUnitCell;
  ProcessCommand(FourCharsToLong("*Cel"));
  EXPECT_NE(Crystal().showUnitCell, cell);
  ProcessCommand(FourCharsToLong("Full"));
  EXPECT_EQ(gPrefs.fastRotation, 0);
  ProcessCommand(FourCharsToLong("Fast"));
  EXPECT_EQ(gPrefs.fastRotation, 1);
}

TEST_F(ModelOptionsTest, SavingDefaultsTruncatesTheFrameWidthAndAlertsOnAFailedWrite) {
  QWidget *pane = Pane(kCellTab);
  Type(pane, 403, "2.7");
  ASSERT_TRUE(SaveModelOptions());
  EXPECT_EQ(gPrefs.unitCellLineWidth, 2);
  EXPECT_TRUE(gHost->alerts.empty());
  // A preferences folder that cannot be made: the user hears of it.
  const fs::path blocker = gProgram->Temp() / "blocker";
  { std::ofstream(blocker) << "x"; }
  const std::string old = getenv("XDG_CONFIG_HOME");
  setenv("XDG_CONFIG_HOME", (blocker / "sub").c_str(), 1);
  EXPECT_FALSE(SaveModelOptions());
  setenv("XDG_CONFIG_HOME", old.c_str(), 1);
  EXPECT_EQ(gHost->alerts.size(), 1u);
  gPrefs.unitCellLineWidth = 1;
}

TEST_F(ModelOptionsTest, NothingIsWrittenIntoAStructureWhoseWindowWent) {
  ASSERT_EQ(gModelOptions.crystal, &Crystal());
  MainWindow *second = OpenExample("Rutile.ovtx");
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(gModelOptions.crystal, GetWindowCrystal(second->Ref()));
  ClearWindowModified(second->Ref());
  DoCloseMainWindow(second->Ref());
  QCoreApplication::processEvents();
  // The inspector follows the front window and never holds the closed one.
  EXPECT_NE(gModelOptions.crystal, static_cast<CrystalRec *>(nullptr));
  EXPECT_EQ(gModelOptions.crystal, GetWindowCrystal(FrontGraphWindow()));
  Type(Pane(kCellTab), 403, "3");
  EXPECT_NEAR(GetWindowCrystal(FrontGraphWindow())->unitCellLineWidth, 3.0f, 1e-5f);
}

} // namespace
