// The structure transformation commands and their sheets as a user meets
// them: opened from their commands on real structure windows, driven through
// the sheets' commands, with the alerts' answers scripted.
#include "editing/TransformSheets.h"
#include "editing/TransformCommands.h"
#include "inspectors/ModelOptions.h"
#include "shell/Commands.h"
#include "shell/EngineHooks.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "shell/LogStore.h"
#include "shell/QtHostServices.h"
#include "shell/Startup.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "CellTransform.h"
#include "DerivedLayers.h"
#include "LatticePlanes.h"
#include "Polyhedra.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <utility>

#include "SheetClosing.h"
#include "SuiteHost.h"

namespace fs = std::filesystem;

namespace {

class TransformHost : public QtHostServices {
public:
  std::vector<AlertRequest> alerts;
  std::deque<int> answers; // buttons pressed, 1 when none is left
  int beeps = 0;
  int RunAlert(const AlertRequest &alert) override {
    alerts.push_back(alert);
    if (answers.empty())
      return 1;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void Beep() override { ++beeps; }
};

TransformHost *gTransformHost = nullptr;

class TransformSheets : public StructureSheetTest {
protected:
  HostServices *previous_ = nullptr;
  TransformCommandHooks hooks_; // the program's: the tests start without them
  static void SetUpTestSuite() { gTransformHost = JoinRunningProgram<TransformHost>(); }
  void SetUp() override {
    hooks_ = std::exchange(gTransformCommandHooks, {});
    previous_ = SetHostServices(gTransformHost);
    gTransformHost->alerts.clear();
    gTransformHost->answers.clear();
    gTransformHost->beeps = 0;
    gSaveShowOptions = false;
  }
  void TearDown() override {
    CloseAll();
    gTransformCommandHooks = hooks_;
    gPrefs.noticeDiscardSymmetry = gFactoryPrefs.noticeDiscardSymmetry;
    gPrefs.noticeCrystalToMolecule = gFactoryPrefs.noticeCrystalToMolecule;
    SetHostServices(previous_);
  }
  static void Type(QDialog *sheet, int id, const char *text) {
    auto *field = FindControlInSheet(sheet, id);
    ASSERT_NE(field, nullptr) << id;
    field->setText(text);
  }
  static QLineEdit *FindControlInSheet(QDialog *sheet, int id) {
    for (QLineEdit *e : sheet->findChildren<QLineEdit *>())
      if (e->property("controlID").toInt() == id)
        return e;
    return nullptr;
  }
  static std::string Text(QDialog *sheet, int id) { return FindControlInSheet(sheet, id)->text().toStdString(); }
  static bool Modified() { return IsWindowModified(FrontGraphWindow()); }
};

TEST_F(TransformSheets, MoveOriginBeepsAtNoShiftAndWrapsTheShift) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  QDialog *sheet = Sheet(kCmdMoveOrigin);
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(Text(sheet, 4), "0");
  EXPECT_EQ(MoveOriginSheetEventHandler(sheet, kSheetOK), 0);
  EXPECT_EQ(gTransformHost->beeps, 1);
  EXPECT_TRUE(sheet->isVisible());
  Type(sheet, 4, "1.25");
  EXPECT_TRUE(ClosesOnOK(MoveOriginSheetEventHandler, sheet));
  EXPECT_EQ(gMoveOriginDeltaX, 0.25f);
  EXPECT_EQ(c->originShift[0], 0.25f);
  EXPECT_TRUE(Modified());
  // The next sheet starts from the shift just applied.
  QDialog *again = Sheet(kCmdMoveOrigin);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(Text(again, 4), "0.25");
  EXPECT_EQ(MoveOriginSheetEventHandler(again, kSheetQuit), kEventNotHandledErr);
  EXPECT_FALSE(again->isVisible());
}

// A shift typed far beyond the cell keeps its fraction: whole cells go
// before the float would round it (0.296875 for 100000.3).
TEST_F(TransformSheets, MoveOriginKeepsTheFractionOfAFarShift) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  QDialog *sheet = Sheet(kCmdMoveOrigin);
  ASSERT_NE(sheet, nullptr);
  Type(sheet, 4, "100000.3");
  EXPECT_TRUE(ClosesOnOK(MoveOriginSheetEventHandler, sheet));
  EXPECT_EQ(c->originShift[0], 0.3f);
}

TEST_F(TransformSheets, FacePresetFillsTheRowsAndTransforms) {
  CrystalRec *c = OpenExample("Rutile.ovtx");
  ASSERT_NE(c, nullptr);
  const int32_t atoms = c->atomsPerCell;
  QDialog *sheet = Sheet(kCmdTransformCell);
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(GetTransformationPresetsMenu(sheet), kPresetPrimitive);
  EXPECT_EQ(Text(sheet, 21), "1");
  TransformCellSheetEventHandler(sheet, kPresetFaceCentred);
  const char *rows[9] = {"1", "-1", "1", "1", "1", "-1", "-1", "1", "1"};
  for (int i = 0; i < 9; i++)
    EXPECT_EQ(Text(sheet, 21 + i), rows[i]) << i;
  EXPECT_EQ(GetTransformationType(sheet), kGeneralMatrix);
  EXPECT_TRUE(ClosesOnOK(TransformCellSheetEventHandler, sheet));
  EXPECT_TRUE(gTransformHost->alerts.empty());
  EXPECT_EQ(c->atomsPerCell, 4 * atoms);
  EXPECT_STREQ(c->spaceGroup, "F 1");
  EXPECT_TRUE(Modified());
}

TEST_F(TransformSheets, RefusedValuesKeepTheSheetWithTheirAlert) {
  CrystalRec *c = OpenExample("Rutile.ovtx");
  ASSERT_NE(c, nullptr);
  const float a = c->a;
  QDialog *sheet = Sheet(kCmdTransformCell);
  ASSERT_NE(sheet, nullptr);
  struct Case {
    int type;
    const char *values[3];
    const char *alert; // null: accepted
  };
  const Case cases[] = {
      {kSupercell, {"1", "1", "1"}, "Invalid supercell"},
      {kSupercell, {"0", "2", "2"}, "Invalid supercell"},
      {kSupercell, {"-1", "-1", "6"}, "Invalid supercell"},
      {kSupercell, {"2.5", "1", "1"}, "Invalid supercell"},
      {kProjectionPlane, {"0", "0", "0"}, "Invalid projection plane"},
      {kProjectionPlane, {"25", "0", "1"}, "Invalid projection plane"},
  };
  for (const Case &k : cases) {
    gTransformHost->alerts.clear();
    SetTransformationType(sheet, k.type);
    for (int i = 0; i < 3; i++)
      Type(sheet, (k.type == kSupercell ? kTCSupercellFirst : kTCPlaneFirst) + i, k.values[i]);
    TransformCellSheetEventHandler(sheet, kSheetOK);
    ASSERT_EQ(gTransformHost->alerts.size(), 1u) << k.values[0];
    EXPECT_EQ(gTransformHost->alerts[0].message, k.alert);
    EXPECT_TRUE(sheet->isVisible());
  }
  gTransformHost->alerts.clear();
  SetTransformationType(sheet, kGeneralMatrix);
  Type(sheet, 21, "-1");
  TransformCellSheetEventHandler(sheet, kSheetOK);
  ASSERT_EQ(gTransformHost->alerts.size(), 1u);
  EXPECT_EQ(gTransformHost->alerts[0].message, "Invalid transformation matrix");
  EXPECT_EQ(c->a, a);

  // 2 1 1 is a supercell; 0 0 1 a plane.
  SetTransformationType(sheet, kSupercell);
  Type(sheet, 41, "2");
  Type(sheet, 42, "1");
  Type(sheet, 43, "1");
  EXPECT_TRUE(ClosesOnOK(TransformCellSheetEventHandler, sheet));
  EXPECT_FLOAT_EQ(c->a, 2 * a);
  QDialog *plane = Sheet(kCmdTransformCell);
  ASSERT_NE(plane, nullptr);
  SetTransformationType(plane, kProjectionPlane);
  Type(plane, 31, "0");
  Type(plane, 32, "0");
  Type(plane, 33, "1");
  EXPECT_TRUE(ClosesOnOK(TransformCellSheetEventHandler, plane));
}

TEST_F(TransformSheets, OptionsShowOneGroupAndAreRemembered) {
  ASSERT_NE(OpenExample("Rutile.ovtx"), nullptr);
  QDialog *sheet = Sheet(kCmdTransformCell);
  ASSERT_NE(sheet, nullptr);
  QWidget *options = FindControl(sheet, kTCOptionsGroup);
  QWidget *matrix = FindControl(sheet, kTCMatrixGroup);
  QWidget *plane = FindControl(sheet, kTCPlaneGroup);
  const int small = sheet->height();
  EXPECT_FALSE(options->isVisibleTo(sheet));
  TransformCellSheetEventHandler(sheet, kTransformToggleOptions);
  EXPECT_TRUE(gSaveShowOptions);
  EXPECT_TRUE(FindControl<QCheckBox>(sheet, kTCShowOptions)->isChecked());
  EXPECT_TRUE(matrix->isVisibleTo(sheet));
  EXPECT_FALSE(plane->isVisibleTo(sheet));
  EXPECT_EQ(sheet->height(), small + options->height() + matrix->height());
  TransformCellSheetEventHandler(sheet, kPresetPlane111);
  EXPECT_EQ(Text(sheet, 33), "1");
  EXPECT_TRUE(plane->isVisibleTo(sheet));
  EXPECT_FALSE(matrix->isVisibleTo(sheet));
  EXPECT_EQ(plane->y(), options->y() + options->height());
  EXPECT_EQ(sheet->height(), small + options->height() + plane->height());
  // Typing makes the choice custom; the identity button resets the matrix.
  QTest::keyClick(FindControlInSheet(sheet, 31), Qt::Key_2);
  EXPECT_EQ(GetTransformationPresetsMenu(sheet), kPresetCustom);
  Type(sheet, 22, "7");
  TransformCellSheetEventHandler(sheet, kTransformResetMatrix);
  EXPECT_EQ(Text(sheet, 22), "0");
  TransformCellSheetEventHandler(sheet, kSheetCancel);
  QDialog *next = Sheet(kCmdTransformCell);
  ASSERT_NE(next, nullptr);
  EXPECT_TRUE(FindControl(next, kTCOptionsGroup)->isVisibleTo(next));
}

TEST_F(TransformSheets, MoleculeToCrystalChecksTheCellAndGoesBack) {
  CrystalRec *c = OpenExample("Benzene.ovtx");
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->molecule, 1);
  float extents[3];
  ASSERT_TRUE(GetMoleculeExtents(*c, extents));
  QDialog *sheet = Sheet(kCmdMoleculeToCrystal);
  ASSERT_NE(sheet, nullptr);
  // By hand from the file: H1 to H4 spans 2 x 2.4716 = 4.9432 A along x,
  // H2 to H6 2 x 2.140468 = 4.280936 A along y, and the ring is flat in z
  // (an extent of 0, shown as the least, 0.4 A). Each edge is 1.5 times the
  // extent but at least 3 A more than it: 7.943, 7.281 and 3.400 A.
  EXPECT_EQ(Text(sheet, 4), "7.943");
  EXPECT_EQ(Text(sheet, 5), "7.281");
  EXPECT_EQ(Text(sheet, 6), "3.400");
  EXPECT_EQ(Text(sheet, 9), "90.00");
  char expected[32];

  Type(sheet, 8, "180");
  MTCSheetEventHandler(sheet, kSheetOK);
  ASSERT_EQ(gTransformHost->alerts.size(), 1u);
  EXPECT_EQ(gTransformHost->alerts[0].message, "Invalid Angle");
  EXPECT_EQ(Text(sheet, 8), "90.00");
  // a smaller than the molecule: "Reset Cell" puts the extent in.
  gTransformHost->alerts.clear();
  Type(sheet, 4, "1");
  gTransformHost->answers = {1};
  MTCSheetEventHandler(sheet, kSheetOK);
  ASSERT_EQ(gTransformHost->alerts.size(), 1u);
  EXPECT_EQ(gTransformHost->alerts[0].message, "Cell parameter smaller than molecule!");
  EXPECT_EQ(gTransformHost->alerts[0].buttons, (std::vector<std::string>{"Reset Cell", "Continue"}));
  EXPECT_NE(gTransformHost->alerts[0].explanation.find("Your 'a' cell parameter"), std::string::npos);
  std::snprintf(expected, sizeof expected, "%f", extents[0]);
  EXPECT_EQ(Text(sheet, 4), expected);
  EXPECT_TRUE(sheet->isVisible());
  // b too small for the molecule's y extent at gamma 30: asked about 'b'.
  gTransformHost->alerts.clear();
  Type(sheet, 5, "5");
  Type(sheet, 6, "3.5");
  Type(sheet, 9, "30");
  gTransformHost->answers = {2};
  EXPECT_TRUE(ClosesOnOK(MTCSheetEventHandler, sheet));
  ASSERT_GE(gTransformHost->alerts.size(), 1u);
  EXPECT_NE(gTransformHost->alerts[0].explanation.find("Your 'b' cell parameter"), std::string::npos);
  EXPECT_EQ(c->molecule, 0);
  EXPECT_STREQ(c->spaceGroup, "P 1");
  EXPECT_FLOAT_EQ(c->gamma, 30);
  EXPECT_EQ(c->siteCount, 12);
  EXPECT_TRUE(Modified());

  // And back, behind its notice.
  ClearWindowModified(FrontGraphWindow());
  ASSERT_EQ(ProcessCommand(kCmdCrystalToMolecule), kNoErr);
  auto notices = OpenSheets();
  ASSERT_EQ(notices.size(), 1u);
  notices[0]->findChild<QCheckBox *>("dontShowAgain")->setChecked(true);
  notices[0]->findChild<QPushButton *>("okButton")->click();
  EXPECT_EQ(gPrefs.noticeCrystalToMolecule, 0);
  EXPECT_EQ(c->molecule, 1);
  EXPECT_STREQ(c->spaceGroup, ""); // a molecule has no space group
  EXPECT_EQ(c->cardCount, 0);
  EXPECT_GE(c->atomCount, 12);
  EXPECT_TRUE(Modified());
}

TEST_F(TransformSheets, BendWantsAPositiveRadiusAndKeepsAnUndoCopy) {
  CrystalRec *c = OpenExample("Benzene.ovtx");
  ASSERT_NE(c, nullptr);
  for (AtomRecord &a : c->atoms)
    a.selected = 1;
  QDialog *sheet = Sheet(kCmdBendLattice);
  ASSERT_NE(sheet, nullptr);
  char expected[32];
  std::snprintf(expected, sizeof expected, "%.2f", static_cast<double>(ProposeBendRadius(*c)));
  EXPECT_EQ(Text(sheet, 1), expected);
  Type(sheet, 1, "0");
  BendRadiusWindowEventHandler(sheet, kSheetOK);
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_TRUE(gTransformHost->alerts.empty());
  const float x0 = c->atoms[0].cart[0];
  Type(sheet, 1, "2");
  EXPECT_TRUE(ClosesOnOK(BendRadiusWindowEventHandler, sheet));
  EXPECT_NE(c->atoms[0].cart[0], x0);
  EXPECT_TRUE(Modified());
  EXPECT_NE(GetWindowHistory(FrontGraphWindow()), nullptr);
}

// The sites' roles follow the bonds, which the bend leaves as they were:
// the polyhedral model chosen after the bend gives the sites the modes it
// gives them when chosen before it.
TEST_F(TransformSheets, TheRolesAfterABendAreThoseOfTheBondsBeforeIt) {
  const auto modes = [](CrystalRec *c, bool polyhedralFirst) {
    std::vector<uint32_t> out;
    for (AtomRecord &a : c->atoms)
      a.selected = 1;
    if (polyhedralFirst) {
      EXPECT_EQ(ProcessCommand(FourCharsToLong("Poly")), kNoErr);
    }
    QDialog *sheet = Sheet(kCmdBendLattice);
    EXPECT_NE(sheet, nullptr);
    if (!sheet)
      return out;
    EXPECT_TRUE(ClosesOnOK(BendRadiusWindowEventHandler, sheet));
    if (!polyhedralFirst) {
      EXPECT_EQ(ProcessCommand(FourCharsToLong("Poly")), kNoErr);
    }
    EXPECT_EQ(c->modelType, kPolyhedralModel);
    for (size_t s = 0; s < c->sites.size(); s++)
      out.push_back(SitePolyMode(*c, s));
    return out;
  };
  // Model Options closed: showing, it lists the sites by their modes, which
  // sets the roles at the open.
  if (gModelOptionsWindow)
    gModelOptionsWindow->close();
  CrystalRec *before = OpenExample("Pyrope.ovtx");
  ASSERT_NE(before, nullptr);
  ASSERT_NE(before->modelType, kPolyhedralModel);
  const std::vector<uint32_t> chosenBefore = modes(before, true);
  CloseAll(); // the file opens afresh, not as the window already open
  CrystalRec *after = OpenExample("Pyrope.ovtx");
  ASSERT_NE(after, nullptr);
  ASSERT_TRUE(after->derived.RolesDue());
  EXPECT_EQ(modes(after, false), chosenBefore);
}

// The instrumented build stops a command that changed what a held layer
// was derived from without telling, naming it: the Bend Lattice sheet's OK
// with its call removed. Told, the same bend runs.
TEST_F(TransformSheets, ACommandThatDoesNotTellStopsTheInstrumentedBuild) {
  if (!DerivedLayers::ChecksInputs())
    GTEST_SKIP() << "only the instrumented build checks the layers";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto bend = [] {
    QDialog *sheet = Sheet(kCmdBendLattice);
    if (sheet)
      BendRadiusWindowEventHandler(sheet, kSheetOK);
    return sheet != nullptr;
  };
  CrystalRec *c = OpenExample("Pyrope.ovtx");
  ASSERT_NE(c, nullptr);
  for (AtomRecord &a : c->atoms)
    a.selected = 1;
  EXPECT_DEATH(
      {
        IgnoreStructureChangesForTests(true);
        bend();
      },
      "alternatives were answered for inputs changed without telling \\(command: BendRadius 'ok  '\\)");
  const float x0 = c->atoms[0].cart[0];
  ASSERT_TRUE(bend());
  EXPECT_NE(c->atoms[0].cart[0], x0);
}

TEST_F(TransformSheets, InsertSpaceKeepsTheSymmetryUntilItsSheetsOK) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  const std::string group = c->spaceGroup;
  ASSERT_NE(group, "P 1");
  static float width = 0;
  gTransformCommandHooks.showInsertSpaceSheet = [](WindowRef, float w, float) { width = w; };
  ProcessCommand(kCmdToggleLatticePlane);
  ASSERT_TRUE(c->plane.shown);
  const int32_t sites = c->siteCount;
  const LatticePlane plane = c->plane;
  gTransformHost->answers = {1}; // Continue
  ProcessCommand(kCmdInsertSpace);
  ASSERT_EQ(width, kDefaultInsertSpaceWidth);
  ASSERT_EQ(gTransformHost->alerts.size(), 1u); // the question, before the sheet
  // The sheet is open: Cancel from here must find the crystal as it was.
  EXPECT_EQ(c->spaceGroup, group);
  EXPECT_EQ(c->siteCount, sites);
  EXPECT_EQ(std::memcmp(c->plane.point, plane.point, sizeof plane.point), 0);
  // OK discards the symmetry and opens the slab.
  const float a = c->a;
  ASSERT_TRUE(InsertSpace(FrontGraphWindow(), 1.0f));
  EXPECT_STREQ(c->spaceGroup, "P 1");
  EXPECT_EQ(c->siteCount, 8);
  EXPECT_GT(c->a + c->b + c->c, 3 * a);
}

TEST_F(TransformSheets, NoticesAndTheSheetsOfOtherWindows) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  // Without the notice, discarding runs at once.
  gPrefs.noticeDiscardSymmetry = 0;
  ASSERT_EQ(ProcessCommand(kCmdDiscardSymmetry), kNoErr);
  EXPECT_TRUE(OpenSheets().empty());
  EXPECT_STREQ(c->spaceGroup, "P 1");
  EXPECT_EQ(c->siteCount, 8);
  EXPECT_TRUE(Modified());

  // Commands whose sheets are missing stay disabled.
  QAction *view = GetCommandAction(kCmdViewDirectionSheet);
  UpdateActionStatus(view);
  EXPECT_FALSE(view->isEnabled());

  static WindowRef insertWindow = nullptr;
  static float insertWidth = 0, insertLowest = 0;
  static float viewSeen[3] = {0, 0, 0};
  gTransformCommandHooks.showInsertSpaceSheet = [](WindowRef w, float width, float lowest) {
    insertWindow = w;
    insertWidth = width;
    insertLowest = lowest;
  };
  gTransformCommandHooks.showViewDirectionSheet = [](WindowRef, const float direction[3], const float *,
                                                     const float *) { std::copy(direction, direction + 3, viewSeen); };
  ProcessCommand(kCmdInsertSpace); // no plane shown: refused
  EXPECT_EQ(insertWindow, nullptr);
  ProcessCommand(kCmdToggleLatticePlane);
  ASSERT_TRUE(c->plane.shown);
  ProcessCommand(kCmdInsertSpace);
  EXPECT_EQ(insertWindow, FrontGraphWindow());
  EXPECT_EQ(insertWidth, kDefaultInsertSpaceWidth);
  EXPECT_LE(insertLowest, 0.0f);
  UpdateActionStatus(view);
  EXPECT_TRUE(view->isEnabled());
  ProcessCommand(kCmdViewDirectionSheet);
  EXPECT_EQ(viewSeen[2], c->viewDirection[2]);

  // Distances from the plane: refused without a selection, then one line
  // per selected atom.
  gTransformHost->alerts.clear();
  ProcessCommand(kCmdDistanceFromPlane);
  ASSERT_EQ(gTransformHost->alerts.size(), 1u);
  EXPECT_EQ(gTransformHost->alerts[0].message, "No atoms selected!");
  int32_t picked = -1;
  for (int32_t i = 0; i < c->atomCount && picked < 0; i++)
    if (c->atoms[static_cast<size_t>(i)].visible && c->sites[c->atoms[static_cast<size_t>(i)].site].label[0] == 'C')
      picked = i;
  ASSERT_GE(picked, 0);
  c->atoms[static_cast<size_t>(picked)].selected = 1;
  ProcessCommand(kCmdDistanceFromPlane);
  char line[128];
  std::snprintf(line, sizeof line, "Atom: %-6s  no.%5ld (Cl)  lies %8.3f A from plane",
                c->sites[c->atoms[static_cast<size_t>(picked)].site].label, static_cast<long>(picked),
                static_cast<double>(Dist2Plane(c, c->atoms[static_cast<size_t>(picked)].cart)));
  EXPECT_TRUE(GetLogStore()->PlainText().contains(QString::fromLatin1(line))) << line;
}

} // namespace
