// A sheet whose command needs the symmetry gone changes nothing until its
// OK: Duplicate Atoms cancelled; Return in Transform Cell. (Vectors through
// the commands that build the atoms afresh: VectorsFollowAtomsTest.)
#include "editing/SelectionSheets.h"
#include "editing/TransformCommands.h"
#include "editing/TransformSheets.h"
#include "shell/QtHostServices.h"

#include "Preferences.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
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
};

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
