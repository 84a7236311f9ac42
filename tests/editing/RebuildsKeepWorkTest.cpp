// Commands that build the atoms afresh keep what the user put on them, and a
// sheet whose command needs the symmetry gone changes nothing until its OK:
// vectors through Discard Symmetry, Move Origin, Transform Cell and
// Molecule to Crystal; Duplicate Atoms cancelled; Return in Transform Cell.
#include "editing/SelectionSheets.h"
#include "editing/TransformCommands.h"
#include "editing/TransformSheets.h"
#include "shell/Forms.h"
#include "shell/QtHostServices.h"

#include "AtomEditing.h"
#include "Preferences.h"
#include "VectorMath.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <deque>
#include <string>

#include "SheetClosing.h"
#include "SuiteHost.h"

namespace {

class RecordingHost : public QtHostServices {
public:
  std::vector<std::string> alerts, helpPages;
  std::deque<int> answers; // buttons pressed, 1 when none is left
  int RunAlert(const AlertRequest &alert) override {
    alerts.push_back(alert.message);
    if (answers.empty())
      return 1;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void OpenHelpPage(std::string_view page) override { helpPages.emplace_back(page); }
};
RecordingHost *gHost = nullptr;

class RebuildsKeepWork : public StructureSheetTest {
protected:
  HostServices *previous_ = nullptr;
  static void SetUpTestSuite() { gHost = JoinRunningProgram<RecordingHost>(); }
  void SetUp() override {
    previous_ = SetHostServices(gHost);
    gHost->alerts.clear();
    gHost->helpPages.clear();
    gHost->answers.clear();
    gPrefs.noticeDiscardSymmetry = 0;
  }
  void TearDown() override {
    CloseAll();
    gPrefs.noticeDiscardSymmetry = gFactoryPrefs.noticeDiscardSymmetry;
    SetHostServices(previous_);
  }
  static QPushButton *Button(QDialog *sheet, const char *name) { return sheet->findChild<QPushButton *>(name); }
  // The first visible atom selected, alone.
  static int32_t SelectOneAtom(CrystalRec *c) {
    for (AtomRecord &a : c->atoms)
      a.selected = 0;
    for (size_t i = 0; i < c->atoms.size(); i++)
      if (c->atoms[i].visible) {
        c->atoms[i].selected = 1;
        return static_cast<int32_t>(i);
      }
    return -1;
  }
  // The vector's length in Angstrom: the same in any cell that describes
  // the same structure.
  static float VectorLength(const CrystalRec &c, const VectorRecord &v) {
    float cart[3];
    MatMul(c.orientationMatrix, v.uvw, cart);
    return std::sqrt(cart[0] * cart[0] + cart[1] * cart[1] + cart[2] * cart[2]);
  }
  static ElementCode ElementOf(const CrystalRec &c, uint32_t atom) {
    return c.sites[c.atoms[atom].site].elements[0];
  }
};

TEST_F(RebuildsKeepWork, AVectorStaysOnItsAtomThroughEveryCommandThatRebuildsTheSites) {
  struct Case {
    const char *example;
    std::function<void()> command;
  } cases[] = {
      {"Calcite.ovtx", [] { ProcessCommand(kCmdDiscardSymmetry); }},
      {"NaCl.ovtx",
       [] {
         QDialog *sheet = Sheet(kCmdMoveOrigin);
         ASSERT_NE(sheet, nullptr);
         FindControl<QLineEdit>(sheet, 4)->setText("0.25");
         ASSERT_TRUE(ClosesOnOK(MoveOriginSheetEventHandler, sheet));
         gMoveOriginDeltaX = 0.0f; // the sheet offers the last shift next time
       }},
      {"Rutile.ovtx",
       [] {
         QDialog *sheet = Sheet(kCmdTransformCell);
         ASSERT_NE(sheet, nullptr);
         TransformCellSheetEventHandler(sheet, kPresetFaceCentred);
         ASSERT_TRUE(ClosesOnOK(TransformCellSheetEventHandler, sheet));
       }},
      {"Benzene.ovtx",
       [] {
         QDialog *sheet = Sheet(kCmdMoleculeToCrystal);
         ASSERT_NE(sheet, nullptr);
         ASSERT_TRUE(ClosesOnOK(MTCSheetEventHandler, sheet));
       }},
  };
  for (const Case &test : cases) {
    SCOPED_TRACE(test.example);
    CrystalRec *c = OpenExample(test.example);
    ASSERT_NE(c, nullptr);
    const int32_t atom = SelectOneAtom(c);
    ASSERT_GE(atom, 0);
    DefineVectorRec record;
    record.uvw[0] = 0.0f, record.uvw[1] = 0.0f, record.uvw[2] = 1.0f;
    DoDefineVector(FrontGraphWindow(), record);
    ASSERT_EQ(c->vectorCount, 1);
    const float length = VectorLength(*c, c->vectors[0]);
    const ElementCode element = ElementOf(*c, c->vectors[0].atom);
    test.command();
    c = GetWindowCrystal(FrontGraphWindow());
    ASSERT_EQ(c->vectorCount, 1);
    const VectorRecord &v = c->vectors[0];
    ASSERT_LT(v.atom, c->atoms.size());
    // The drawing walks the atoms marked as carrying a vector.
    EXPECT_EQ(c->atoms[v.atom].hasVector, 1);
    EXPECT_EQ(ElementOf(*c, v.atom), element);
    EXPECT_NEAR(VectorLength(*c, v), length, 1e-3f);
    CloseAll();
  }
}

TEST_F(RebuildsKeepWork, CancellingDuplicateAtomsKeepsTheSymmetry) {
  CrystalRec *c = OpenExample("Calcite.ovtx");
  ASSERT_NE(c, nullptr);
  const std::string group = c->spaceGroup;
  const int32_t sites = c->siteCount;
  ASSERT_NE(group, "P 1");
  SelectOneAtom(c);
  gHost->answers = {1}; // Continue: the symmetry may go
  QDialog *sheet = Sheet(kCmdDuplicateAtoms);
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(gHost->alerts.size(), 1u);
  EXPECT_EQ(c->spaceGroup, group);
  QTest::mouseClick(Button(sheet, "cancelButton"), Qt::LeftButton);
  QCoreApplication::processEvents();
  EXPECT_EQ(c->spaceGroup, group);
  EXPECT_EQ(c->siteCount, sites);
  EXPECT_FALSE(IsWindowModified(FrontGraphWindow()));

  // OK: the symmetry goes, and the atom is duplicated in P 1.
  gHost->answers = {1};
  sheet = Sheet(kCmdDuplicateAtoms);
  ASSERT_NE(sheet, nullptr);
  QTest::mouseClick(Button(sheet, "okButton"), Qt::LeftButton);
  QCoreApplication::processEvents();
  c = GetWindowCrystal(FrontGraphWindow());
  EXPECT_STREQ(c->spaceGroup, "P 1");
  EXPECT_EQ(c->siteCount, c->atomsPerCell);
  EXPECT_GT(c->siteCount, sites);
  EXPECT_TRUE(IsWindowModified(FrontGraphWindow()));
}

TEST_F(RebuildsKeepWork, ReturnInTransformCellPressesOK) {
  CrystalRec *c = OpenExample("Rutile.ovtx");
  ASSERT_NE(c, nullptr);
  const int32_t atoms = c->atomsPerCell;
  QDialog *sheet = Sheet(kCmdTransformCell);
  ASSERT_NE(sheet, nullptr);
  TransformCellSheetEventHandler(sheet, kPresetFaceCentred);
  // Return where the shown sheet has the keyboard focus: the window system
  // moves it from a hidden field to the next control that takes it.
  QWidget *focus = sheet->focusWidget();
  while (!focus || !focus->isVisible() || !(focus->focusPolicy() & Qt::TabFocus))
    focus = (focus ? focus : sheet)->nextInFocusChain();
  QTest::keyClick(focus, Qt::Key_Return);
  QCoreApplication::processEvents();
  EXPECT_TRUE(gHost->helpPages.empty());
  EXPECT_EQ(GetWindowCrystal(FrontGraphWindow())->atomsPerCell, 4 * atoms);
}

} // namespace
