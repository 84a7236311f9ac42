// The Model Options inspector driven as a user drives it: controls found by
// number, text typed, Return pressed, presets picked, with the structure
// and the plotted picture checked afterwards.
#include "inspectors/InspectorKit.h"
#include "inspectors/ModelOptions.h"
#include "inspectors/StyleMenus.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "shell/QtHostServices.h"
#include "shell/Startup.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "Preferences.h"
#include "documents/CrystalDocument.h"
#include "StructureArrays.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>

#include "DialogScript.h"
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
    // The pictures compared below are those of the window's old default
    // size: 640 x 480 with a 240-pixel sidebar.
    if (MainWindow *front = GetMainWindow(FrontGraphWindow())) {
      front->ResizeContent(640, 480);
      ChangeSidebarWidth(front->Ref(), GetWindowSidebarWidth(front->Ref()) - 240);
    }
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
  static MainWindow *OpenExample(const char *name, const fs::path &file = {}) {
    if (!OpenFSRefInWindow(file.empty() ? ExamplesFolder() / name : file, nullptr))
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
  static void Type(QWidget *pane, int id, const char *text) { TypeIntoField(pane, id, text); }
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
      {403, "70", &CrystalRec::unitCellLineWidth, 64.0f},
      {403, "0.05", &CrystalRec::unitCellLineWidth, 0.05f},
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
  Type(pane, 403, "64");
  emit FindControl<LittleArrows>(pane, 404)->Stepped(kControlUpButtonPart);
  EXPECT_EQ(FindControl<QLineEdit>(pane, 403)->text(), "64 px");
  emit FindControl<LittleArrows>(pane, 404)->Stepped(kControlDownButtonPart);
  EXPECT_NEAR(Crystal().unitCellLineWidth, 63.9f, 1e-5f);

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
  // A size beyond 1 to 128 is refused with the range, the size kept.
  const float size = Crystal().labelSize;
  Type(pane, 504, "200");
  EXPECT_EQ(Crystal().labelSize, size);
  Type(pane, 504, "0.5");
  EXPECT_EQ(Crystal().labelSize, size);
  EXPECT_EQ(gHost->alerts.size(), 2u);
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
  angle->setText("4000"); // pasted
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

  // The circles preset shows white at its centre and grey at its corners,
  // as the plot draws that gradient.
  const QImage circles = FindControl(pane, 635)->grab().toImage();
  const QRgb centre = circles.pixel(circles.width() / 2, circles.height() / 2), corner = circles.pixel(2, 2);
  EXPECT_GT(qGray(centre), 235);
  EXPECT_NEAR(qGray(corner), 102, 25);

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
  // The preview strip shows the blue bar only in the middle slab.
  const QImage strip = FindControl(pane, 809)->grab().toImage();
  const int y = strip.height() / 2;
  const QRgb middle = strip.pixel(strip.width() / 2, y), front = strip.pixel(6, y);
  EXPECT_GT(qBlue(middle), qRed(middle) + 60);
  EXPECT_LT(qBlue(front), qRed(front) + 20);

  struct Case {
    int id;
    const char *typed;
    float CrystalRec::*field;
    float expected;
  } cases[] = {{822, "0", &CrystalRec::viewDistance, 0.1f},
               {822, "20000", &CrystalRec::viewDistance, 10000.0f},
               {833, "120", &CrystalRec::stereoAngle, 90.0f},
               {837, "-1500", &CrystalRec::stereoSeparation, -1000.0f}};
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

  // Stereo off: switching the mode only flips it, a setting the document
  // keeps.
  ClearWindowModified(window->Ref());
  ProcessCommand(FourCharsToLong("Pair"));
  EXPECT_EQ(Crystal().stereoMode, 2);
  EXPECT_TRUE(IsWindowModified(window->Ref()));

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

namespace {
void Click(QWidget *widget, QPoint at) {
  QTest::mousePress(widget, Qt::LeftButton, {}, at);
  QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}
// The style pop-ups answer at once with the item carrying `style`, or the
// command item.
void ChooseStyle(int32_t style) {
  SetStyleMenuPicker([style](QMenu *menu, QPoint, QAction *) {
    return StyleMenuItem(menu, FindStyleMenuItem(StyleMenuTable(menu), style));
  });
}
void ChooseCommand(uint32_t command) {
  SetStyleMenuPicker([command](QMenu *menu, QPoint, QAction *) { return StyleMenuCommandItem(menu, command); });
}
bool Black(QRgb p) { return qRed(p) < 30 && qGreen(p) < 30 && qBlue(p) < 30; }
} // namespace

// The list is 300 x 242: rows of 24 pixels from y = 1; the sphere icon
// spans x 129 to 150 and the disclosure triangle x 7 to 19.
TEST_F(ModelOptionsTest, AtomsTabStylesAnElementAndBlackensItsAtomCentresOnly) {
  QWidget *pane = Pane(kAtomsTab);
  QWidget *list = FindControl(pane, 101);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(atomOptions.containers.size(), 3u); // Default, Na, Cl
  auto rowY = [](int r) { return 1 + 24 * r + 12; };
  // Opening Na adds its site; the list still fits, the scroll bar stays off.
  Click(list, QPoint(12, rowY(1)));
  EXPECT_EQ(atomOptions.containers[1].expanded, 1);
  EXPECT_FALSE(FindControl<QScrollBar>(pane, 102)->isEnabled());
  // A press that leaves the triangle before the release does nothing.
  QTest::mousePress(list, Qt::LeftButton, {}, QPoint(12, rowY(1)));
  QTest::mouseRelease(list, Qt::LeftButton, {}, QPoint(60, rowY(1)));
  EXPECT_EQ(atomOptions.containers[1].expanded, 1);

  const QImage before = Picture();
  ChooseStyle(2); // plain black
  Click(list, QPoint(139, rowY(3))); // the Cl element row
  SetStyleMenuPicker({});
  const CrystalRec &c = Crystal();
  EXPECT_EQ(c.sites[1].atomStyle, 2u);
  EXPECT_EQ(c.sites[0].atomStyle, 14u);
  EXPECT_EQ(c.spheres[c.sites[1].atomType].style, 2u);
  EXPECT_TRUE(IsWindowModified(window->Ref()));
  const QImage after = Picture();
  // An atom's centre shows that atom unless a nearer atom's disc covers it.
  auto covered = [&](int32_t i) {
    const AtomRecord &a = c.atoms[size_t(i)];
    for (int32_t j = 0; j < UsableAtomCount(c); j++) {
      const AtomRecord &b = c.atoms[size_t(j)];
      const float r = c.spheres[b.atomType].drawnRadius * c.plotScale;
      if (j != i && b.visible && b.cart[2] > a.cart[2] &&
          std::hypot(float(a.pixel[0] - b.pixel[0]), float(a.pixel[1] - b.pixel[1])) <= r + 1.0f)
        return true;
    }
    return false;
  };
  int shown[2] = {0, 0};
  for (int32_t i = 0; i < UsableAtomCount(c); i++) {
    const AtomRecord &atom = c.atoms[size_t(i)];
    const QPoint p(atom.pixel[0], atom.pixel[1]);
    if (!atom.visible || !after.rect().contains(p) || covered(i))
      continue;
    EXPECT_FALSE(Black(before.pixel(p))) << i;
    EXPECT_EQ(Black(after.pixel(p)), atom.site == 1) << "atom " << i << " of site " << atom.site;
    shown[atom.site]++;
  }
  EXPECT_GE(shown[0], 2);
  EXPECT_GE(shown[1], 2);

  // Use default on the element row brings back the Default row's style;
  // make default on the site row sets the Default row.
  ChooseCommand(kCmdAtomStyleDefault);
  Click(list, QPoint(139, rowY(3)));
  EXPECT_EQ(Crystal().sites[1].atomStyle, Crystal().defaultAtomStyle);
  ChooseStyle(3);
  Click(list, QPoint(139, rowY(2))); // the Na1 site row
  ChooseCommand(kCmdAtomStyleMakeDefault);
  Click(list, QPoint(139, rowY(2)));
  SetStyleMenuPicker({});
  EXPECT_EQ(Crystal().defaultAtomStyle, 3u);
  EXPECT_EQ(Crystal().sites[0].atomStyle, 3u);
}

TEST_F(ModelOptionsTest, AtomsTabFieldsApplyWithinTheirRangesAndTheArrowsStopAtTheBounds) {
  QWidget *pane = Pane(kAtomsTab);
  // Values the arrows offer take effect: 1.5 A and 100 %.
  Type(pane, 112, "1.5");
  EXPECT_FLOAT_EQ(Crystal().minBSSphereRadius, 1.5f);
  Type(pane, 110, "100");
  EXPECT_FLOAT_EQ(Crystal().bsSphereRadFrac, 1.0f);
  Type(pane, 122, "40");
  EXPECT_FLOAT_EQ(Crystal().ellipsoidSphereRadius, 10.0f);
  EXPECT_EQ(FindControl<QLineEdit>(pane, 122)->text(), "10 Å");
  Type(pane, 112, "100");
  emit FindControl<LittleArrows>(pane, 113)->Stepped(kControlUpButtonPart);
  EXPECT_EQ(FindControl<QLineEdit>(pane, 112)->text(), "100 Å");
  emit FindControl<LittleArrows>(pane, 113)->Stepped(kControlDownButtonPart);
  EXPECT_EQ(FindControl<QLineEdit>(pane, 112)->text(), "99.99 Å");
  EXPECT_FLOAT_EQ(Crystal().minBSSphereRadius, 99.99f);
  Type(pane, 120, "0");
  emit FindControl<LittleArrows>(pane, 121)->Stepped(kControlDownButtonPart);
  EXPECT_EQ(FindControl<QLineEdit>(pane, 120)->text(), "0%"); // at the bound: left as applied
}

// The bond list is 300 x 245: rows of 27 pixels from y = 1; the style icon
// spans x 66 to 130, colour 1 x 147 to 191.
TEST_F(ModelOptionsTest, BondsTabDefaultStyleForAllGivesBondMidpointsTheDefaultColour) {
  QWidget *pane = Pane(kBondsTab);
  QWidget *list = FindControl(pane, 201);
  ASSERT_EQ(bondOptions.count, 1); // Na - Cl
  auto rowY = [](int r) { return 1 + 27 * r + 13; };
  ChooseStyle(9); // plain
  Click(list, QPoint(98, rowY(0)));
  SetStyleMenuPicker({});
  SetColorPicker([](const std::string &prompt, RGBColor, RGBColor *out) {
    EXPECT_EQ(prompt, "Bond colour:");
    *out = RGBColor{0, 65535, 0};
    return true;
  });
  Click(list, QPoint(170, rowY(0)));
  SetColorPicker({});
  EXPECT_EQ(Crystal().defaultBondStyle, 9);
  EXPECT_EQ(Crystal().bondColor1, (RGBColor{0, 65535, 0}));
  EXPECT_NE(Crystal().bondSpecs[0].style, 9);
  for (QAbstractButton *b : pane->findChildren<QAbstractButton *>())
    if (CommandFromProperty(b) == FourCharsToLong("DefB"))
      b->click();
  EXPECT_EQ(Crystal().bondSpecs[0].style, 9);
  EXPECT_EQ(Crystal().bondSpecs[0].colour1, (RGBColor{0, 65535, 0}));
  const QImage picture = Picture();
  const CrystalRec &c = Crystal();
  int green = 0, probed = 0;
  for (int32_t i = 0; i < UsableAtomCount(c) && probed < 40; i++)
    for (uint32_t j : c.atoms[size_t(i)].bonds) {
      const AtomRecord &a = c.atoms[size_t(i)], &b = c.atoms[j];
      const QPoint mid((a.pixel[0] + b.pixel[0]) / 2, (a.pixel[1] + b.pixel[1]) / 2);
      if (!picture.rect().contains(mid) || std::abs(a.pixel[0] - b.pixel[0]) + std::abs(a.pixel[1] - b.pixel[1]) < 40)
        continue;
      const QRgb p = picture.pixel(mid);
      probed++;
      green += qGreen(p) > 120 && qRed(p) < 60 && qBlue(p) < 60;
    }
  ASSERT_GT(probed, 4);
  EXPECT_GT(green, probed / 2); // the rest lie behind atoms
}

TEST_F(ModelOptionsTest, BondsTabNeverWritesStaleRowsIntoTheBondSpecifications) {
  QWidget *pane = Pane(kBondsTab);
  // The bonding editor changes the table behind the inspector's back.
  Crystal().bondSpecs[0].maxLength = 3.3f;
  Crystal().bondSpecs[0].elementB = TwoCharsToShort("O ");
  Type(pane, 208, "95");
  EXPECT_FLOAT_EQ(Crystal().bondRadius, 0.95f);
  EXPECT_FLOAT_EQ(Crystal().bondSpecs[0].maxLength, 3.3f);
  EXPECT_EQ(Crystal().bondSpecs[0].elementB, TwoCharsToShort("O "));
  // The rows now show the table as it is.
  EXPECT_EQ(bondOptions.rows[1].elementB, TwoCharsToShort("O "));
  Type(pane, 210, "-5");
  EXPECT_FLOAT_EQ(Crystal().stickRadius, 0.0f);
  // The refresh after the stale rows showed the applied 95 %; the arrows go
  // on from there.
  emit FindControl<LittleArrows>(pane, 209)->Stepped(kControlUpButtonPart);
  EXPECT_EQ(FindControl<QLineEdit>(pane, 208)->text(), "96%");
  EXPECT_FLOAT_EQ(Crystal().bondRadius, 0.96f);
}


TEST_F(ModelOptionsTest, BackgroundPictureIsChosenPlacedReportedAndRemoved) {
  QWidget *pane = Pane(kBackgroundTab);
  QImage red(64, 48, QImage::Format_ARGB32);
  red.fill(Qt::red);
  const fs::path file = gProgram->Temp() / "red.png";
  ASSERT_TRUE(red.save(QString::fromStdString(file.string())));
  auto press = [&](const char *code) {
    for (QAbstractButton *b : pane->findChildren<QAbstractButton *>())
      if (CommandFromProperty(b) == FourCharsToLong(code))
        b->click();
  };
  // The dialog offers pictures; cancelled, it keeps the background as it was.
  QStringList offered;
  AnswerNextDialog<QFileDialog>([&offered](QFileDialog *dialog) {
    offered = dialog->nameFilters();
    dialog->reject();
  });
  press("addP");
  ASSERT_FALSE(offered.isEmpty());
  EXPECT_TRUE(offered.front().contains("*.png")) << offered.front().toStdString();
  EXPECT_TRUE(offered.front().contains("*.jpg"));
  EXPECT_FALSE(offered.front().contains("*.txt"));
  EXPECT_TRUE(Crystal().backgroundPicture.empty());
  EXPECT_FALSE(FindControl(pane, 607)->isHidden());
  AnswerNextDialog<QFileDialog>(
      [&file](QFileDialog *dialog) { TypeFileNameAndAccept(dialog, QString::fromStdString(file)); });
  press("addP");
  EXPECT_EQ(Crystal().backgroundPicture, file);
  EXPECT_TRUE(FindControl(pane, 607)->isHidden());
  EXPECT_FALSE(FindControl(pane, 614)->isHidden());
  EXPECT_EQ(FindControl<QLabel>(pane, 610)->text(), "red.png\n64 x 48, 12 K");
  auto *placement = FindControl<QComboBox>(pane, 608);
  placement->setCurrentIndex(3);
  emit placement->activated(3);
  EXPECT_EQ(Crystal().backgroundPictureMode, 4);
  // Filled, the picture covers the pane's corner.
  EXPECT_EQ(Picture().pixel(2, 2), qRgb(255, 0, 0));
  // Saved and opened again, the document shows its picture at once.
  const fs::path document = gProgram->Temp() / "pictured.ovtx";
  ASSERT_TRUE(DoWriteCrystalFile(window->Ref(), document));
  MainWindow *saved = window;
  window = OpenExample("pictured.ovtx", document);
  ASSERT_NE(window, saved);
  EXPECT_EQ(Picture().pixel(2, 2), qRgb(255, 0, 0));
  DoCloseMainWindow(window->Ref());
  QCoreApplication::processEvents();
  window = saved;
  UpdateFloatingWindows();
  press("remP");
  EXPECT_TRUE(Crystal().backgroundPicture.empty());
  EXPECT_NE(Picture().pixel(2, 2), qRgb(255, 0, 0));
  EXPECT_FALSE(FindControl(pane, 607)->isHidden());
}

TEST_F(ModelOptionsTest, TheInspectorRemembersWhetherItShowedAndWhere) {
  gModelOptionsWindow->show();
  RecordWindowSettings();
  EXPECT_EQ(gPrefs.modelOptionsVisible, 1);
  gModelOptionsWindow->hide();
  RecordWindowSettings();
  EXPECT_EQ(gPrefs.modelOptionsVisible, 0);
  EXPECT_FALSE(gPrefs.modelOptionsBounds.IsEmpty()) << "a hidden inspector keeps its place";
}

TEST_F(ModelOptionsTest, AtomsTabPolyhedronModesReachOnlyPolyhedralSites) {
  window = OpenExample("Benzene.ovtx");
  ASSERT_NE(window, nullptr);
  QWidget *list = FindControl(Pane(kAtomsTab), 101);
  ASSERT_EQ(atomOptions.containers.size(), 3u); // Default, C, H
  // The Default row's menu offers every mode; its arrow hands a mode that
  // draws a polyhedron only to the carbons (three neighbours each).
  ChooseStyle(8);
  Click(list, QPoint(268, 12));
  Click(list, QPoint(287, 12));
  SetStyleMenuPicker({});
  const CrystalRec &c = Crystal();
  EXPECT_EQ(ShownPolyMode(c.sites[0]), 8u); // C1
  EXPECT_NE(ShownPolyMode(c.sites[11]), 8u); // H6
  for (int32_t s = 0; s < c.siteCount; s++)
    EXPECT_EQ(ShownPolyMode(c.sites[size_t(s)]) == 8, c.sites[size_t(s)].coordination > 2) << s;
  // The hydrogens' row offers only the modes that draw none.
  QMenu *offered = nullptr;
  SetStyleMenuPicker([&](QMenu *menu, QPoint, QAction *) {
    offered = menu;
    return StyleMenuItem(menu, FindStyleMenuItem(StyleMenuTable(menu), 2));
  });
  Click(list, QPoint(268, 1 + 24 * 2 + 12));
  SetStyleMenuPicker({});
  EXPECT_EQ(offered, gPolyStylePartialMenu);
  EXPECT_EQ(ShownPolyMode(Crystal().sites[11]), 2u);
}

namespace {

// Pixels brighter than the black factory background, in columns [from, to).
int LitPixels(const QImage &p, int from, int to) {
  int lit = 0;
  for (int y = 0; y < p.height(); y++)
    for (int x = std::max(from, 0); x < std::min(to, p.width()); x++)
      lit += qGray(p.pixel(x, y)) > 40;
  return lit;
}

} // namespace

TEST_F(ModelOptionsTest, SideBySideStereoDrawsTwoHalfSizeImagesFromTheMenuAndTheDepthTab) {
  const QImage single = Picture();
  const int w = single.width();
  auto middle = [this, w] { return LitPixels(Picture(), w / 2 - 3, w / 2 + 3); };
  ASSERT_GT(middle(), 0) << "the structure covers the pane's middle";
  ProcessCommand(FourCharsToLong("Pair"));
  ProcessCommand(FourCharsToLong("Ster"));
  ASSERT_EQ(Crystal().stereoOn, 1);
  // Two half-size images side by side, neither cut at the middle.
  EXPECT_EQ(middle(), 0);
  const QImage pair = Picture();
  EXPECT_GT(LitPixels(pair, 0, w / 2), 0);
  EXPECT_GT(LitPixels(pair, w / 2, w), 0);
  ProcessCommand(FourCharsToLong("Ster"));
  EXPECT_NEAR(LitPixels(Picture(), 0, w), LitPixels(single, 0, w), LitPixels(single, 0, w) / 100);

  // The Depth tab's box goes the same way, in the mode the menu chose.
  QWidget *pane = Pane(kDepthTab);
  FindControl<QCheckBox>(pane, 831)->click();
  ASSERT_EQ(Crystal().stereoOn, 1);
  EXPECT_EQ(middle(), 0);
  FindControl<QCheckBox>(pane, 831)->click();
  EXPECT_GT(middle(), 0);
}

TEST_F(ModelOptionsTest, ANewTextBoxAndTheAxesShowOnTheFactoryBackground) {
  // Quartz's axes glyph points its "y" arrow down towards the bottom edge;
  // the label's tail keeps clear of it.
  window = OpenExample("Quartz.ovtx");
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(Crystal().showAxes, 1);
  const QImage before = Picture();
  for (int row = before.height() - 2; row < before.height(); row++)
    for (int x = 0; x < 110 && x < before.width(); x++)
      EXPECT_LE(qGray(before.pixel(x, row)), 40) << x << ", " << row;

  ProcessCommand(FourCharsToLong("+AnT"));
  ProcessCommand(FourCharsToLong("SlNo"));
  ASSERT_FALSE(Crystal().textBoxes.empty());
  const Rect r = Crystal().textBoxes.back().boxRect;
  const QImage after = Picture();
  // Its text makes pixels clearly lighter than they were.
  int lightened = 0;
  for (int y = r.top; y < r.bottom; y++)
    for (int x = r.left; x < r.right; x++)
      lightened += qGray(after.pixel(x, y)) > qGray(before.pixel(x, y)) + 80;
  EXPECT_GT(lightened, 10);
}
