// The Edit Crystal and Edit Molecule sheet as a user meets it: opened by
// its menu commands, driven through its command handler and list model, and
// the structure changed only when it closes with OK.
#include "editing/EditCrystalSheet.h"
#include "editing/SiteTableModel.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/QtHostServices.h"
#include "shell/ShellDialogs.h"
#include "shell/Startup.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "StructureArrays.h"
#include "render/OffScreen.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include <deque>

#include "ProgramEnvironment.h"

namespace fs = std::filesystem;

namespace {

RecordingHost *gHost = nullptr;
NoShellDialogs gDialogs;
const auto *const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new ProgramEnvironment("ovedit", &gHost, &gDialogs));

class EditorSheet : public ::testing::Test {
protected:
  void SetUp() override {
    Reset();
    gHost->alerts.clear();
    gHost->beeps = 0;
  }
  void TearDown() override { Reset(); }
  static void Reset() {
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows()))
      if (EditCrystalSheet *sheet = GetEditCrystalSheet(w->Ref()))
        sheet->HandleCommand(FourCharsToLong("not!"));
    Settle();
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows())) {
      ClearWindowModified(w->Ref());
      DoCloseMainWindow(w->Ref());
    }
    Settle();
  }
  static void Settle() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  static EditCrystalSheet *FrontSheet() { return GetEditCrystalSheet(FrontGraphWindow()); }
  static void Type(EditCrystalSheet *sheet, int row, uint32_t column, const char *text) {
    SiteTableModel *m = sheet->Model();
    ASSERT_TRUE(m->setData(m->index(row, m->ColumnOf(column)), QString(text), Qt::EditRole)) << text;
  }
};

TEST_F(EditorSheet, NewCrystalTypedInBuildsTheStructureOnlyOnOK) {
  ASSERT_EQ(GetNumGraphWindows(), 1);
  WindowRef window = FrontGraphWindow();
  ASSERT_EQ(ProcessCommand(kCmdNewCrystal), 0);
  EditCrystalSheet *sheet = FrontSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->ParentWindow(), window); // the empty window is reused
  EXPECT_EQ(PlainWindowTitle(GetMainWindow(window)), "New Crystal");
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);

  // Wurtzite: P 63 m c with the hexagonal positions typed to four places.
  sheet->SymbolField()->setText("P 63 m c");
  sheet->CheckSpacegroup();
  EXPECT_EQ(sheet->Record()->crystalSystem, 7);
  EXPECT_FALSE(sheet->CellField(1)->isVisibleTo(sheet)); // b follows a
  sheet->CellField(0)->setText("3.25");
  sheet->CellField(2)->setText("5.207");
  sheet->HandleCommand(FourCharsToLong("addS"));
  sheet->HandleCommand(FourCharsToLong("addS"));
  ASSERT_EQ(sheet->Model()->rowCount(), 2);
  Type(sheet, 0, kSiteColumnOccupancy, "Zn");
  Type(sheet, 0, kSiteColumnX, "0.3333");
  Type(sheet, 0, kSiteColumnY, "0.6667");
  Type(sheet, 1, kSiteColumnOccupancy, "o");
  Type(sheet, 1, kSiteColumnX, "0.3333");
  Type(sheet, 1, kSiteColumnY, "0.6667");
  Type(sheet, 1, kSiteColumnZ, "0.382");
  sheet->HandleCommand(FourCharsToLong("Lbls"));
  EXPECT_EQ(sheet->Model()->CellText(0, kSiteColumnLabel), "Zn1");
  EXPECT_EQ(GetWindowCrystal(window)->siteCount, 0); // nothing applied yet

  sheet->HandleCommand(FourCharsToLong("ok  "));
  Settle();
  EXPECT_EQ(FrontSheet(), nullptr);
  const CrystalRec &c = *GetWindowCrystal(window);
  EXPECT_STREQ(c.spaceGroup, "P 63 m c");
  EXPECT_FLOAT_EQ(c.b, 3.25f);
  EXPECT_FLOAT_EQ(c.gamma, 120.0f);
  ASSERT_EQ(c.siteCount, 2);
  EXPECT_EQ(c.sites[1].xyz[0], 1.0f / 3.0f);
  EXPECT_EQ(c.sites[1].xyz[1], 2.0f / 3.0f);
  EXPECT_EQ(c.atomsPerCell, 4);
  EXPECT_TRUE(IsWindowFileOpen(window));
  EXPECT_TRUE(IsWindowModified(window));
  EXPECT_TRUE(gHost->alerts.empty());
}

TEST_F(EditorSheet, RefusedCellKeepsTheSheetOpenAndBeeps) {
  ASSERT_EQ(ProcessCommand(kCmdNewCrystal), 0);
  EditCrystalSheet *sheet = FrontSheet();
  ASSERT_NE(sheet, nullptr);
  sheet->SymbolField()->setText("P 1");
  sheet->CheckSpacegroup();
  sheet->HandleCommand(FourCharsToLong("addS"));
  // 120° three times is non-zero but closes no cell: the alert says so.
  for (const char *angles : {"120", "0"}) {
    gHost->alerts.clear();
    for (int i = 3; i < 6; i++)
      sheet->CellField(i)->setText(angles);
    sheet->HandleCommand(FourCharsToLong("ok  "));
    EXPECT_TRUE(sheet->isVisible()) << angles;
    ASSERT_EQ(gHost->alerts.size(), 1u);
    EXPECT_EQ(gHost->alerts[0].message, "Error in cell parameter");
    const bool zero = std::string(angles) == "0";
    EXPECT_EQ(gHost->alerts[0].explanation.find("non-zero") != std::string::npos, zero) << angles;
    EXPECT_EQ(gHost->alerts[0].explanation.find("make no cell") != std::string::npos, !zero) << angles;
    EXPECT_EQ(sheet->CellField(3)->selectedText(), angles);
  }
  EXPECT_EQ(gHost->beeps, 2);
  EXPECT_EQ(GetWindowCrystal(sheet->ParentWindow())->siteCount, 0);
}

TEST_F(EditorSheet, OKWithNoSitesSaysSoAndKeepsTheSheet) {
  for (uint32_t command : {kCmdNewCrystal, kCmdNewMolecule}) {
    gHost->alerts.clear();
    ASSERT_EQ(ProcessCommand(command), 0);
    EditCrystalSheet *sheet = FrontSheet();
    ASSERT_NE(sheet, nullptr);
    sheet->HandleCommand(FourCharsToLong("ok  "));
    Settle();
    EXPECT_EQ(FrontSheet(), sheet);
    EXPECT_TRUE(sheet->isVisible());
    ASSERT_EQ(gHost->alerts.size(), 1u);
    EXPECT_EQ(gHost->alerts[0].message, "This structure has no sites.");
    sheet->HandleCommand(FourCharsToLong("not!"));
    Settle();
  }
}

TEST_F(EditorSheet, AStructureTheKeptRangeCannotHoldIsRefusedWithTheSheetOpen) {
  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "NaCl.ovtx", nullptr));
  Settle();
  WindowRef window = FrontGraphWindow();
  CrystalRec *c = GetWindowCrystal(window);
  const int32_t atoms = c->atomCount;
  // The range the structure keeps through the edit: 151 cells a side, which
  // at 8 atoms a cell is more than a structure can hold. (Only the range is
  // stored; growing the atoms first would cost the test gigabytes.)
  for (int k = 0; k < 3; k++) {
    c->plotRange[2 * k] = 0.0f;
    c->plotRange[2 * k + 1] = 150.0f;
  }
  ASSERT_EQ(ProcessCommand(kCmdEditStructure), 0);
  EditCrystalSheet *sheet = FrontSheet();
  ASSERT_NE(sheet, nullptr);
  // An edit, so that OK has something to build.
  sheet->CellField(0)->setFocus();
  sheet->CellField(0)->selectAll();
  QTest::keyClicks(sheet->CellField(0), "5.7");
  sheet->HandleCommand(FourCharsToLong("ok  "));
  Settle();
  ASSERT_EQ(gHost->alerts.size(), 1u);
  EXPECT_EQ(gHost->alerts[0].message, "No Memory for atoms");
  EXPECT_EQ(FrontSheet(), sheet);
  EXPECT_EQ(c->atomCount, atoms);
  EXPECT_EQ(c->plotRange[1], 150.0f);
  // Applying the record anyway keeps the old structure too.
  EXPECT_FALSE(DoEditCrystal(window, sheet->Record()));
  EXPECT_EQ(GetWindowCrystal(window)->atomCount, atoms);
  EXPECT_EQ(GetWindowCrystal(window)->siteCount, 2);
}

TEST_F(EditorSheet, TabGoesFromTheSymbolToTheCellLengths) {
  ASSERT_EQ(ProcessCommand(kCmdNewCrystal), 0);
  EditCrystalSheet *sheet = FrontSheet();
  ASSERT_NE(sheet, nullptr);
  sheet->SymbolField()->setText("P 1");
  sheet->CheckSpacegroup();
  sheet->SymbolField()->setFocus();
  QTest::keyClick(sheet->SymbolField(), Qt::Key_Tab);
  EXPECT_EQ(sheet->focusWidget(), sheet->CellField(0));
  QTest::keyClick(sheet->CellField(0), Qt::Key_Tab);
  EXPECT_EQ(sheet->focusWidget(), sheet->CellField(1));
}

TEST_F(EditorSheet, LabelsSortInNaturalOrder) {
  ASSERT_EQ(ProcessCommand(kCmdNewMolecule), 0);
  EditCrystalSheet *sheet = FrontSheet();
  ASSERT_NE(sheet, nullptr);
  for (const char *label : {"O10", "O2", "C1"}) {
    sheet->HandleCommand(FourCharsToLong("addS"));
    Type(sheet, sheet->Model()->rowCount() - 1, kSiteColumnLabel, label);
  }
  sheet->Model()->sort(0, Qt::AscendingOrder);
  EXPECT_EQ(sheet->Model()->CellText(0, kSiteColumnLabel), "C1");
  EXPECT_EQ(sheet->Model()->CellText(1, kSiteColumnLabel), "O2");
  EXPECT_EQ(sheet->Model()->CellText(2, kSiteColumnLabel), "O10");
}

// A typed label keeps its first 6 bytes, never half a character: 6 Latin
// letters, 3 Greek or Hebrew ones, and a character that would not fit whole
// is left out.
TEST_F(EditorSheet, TypedLabelsKeepSixBytesOfWholeCharacters) {
  ASSERT_EQ(ProcessCommand(kCmdNewMolecule), 0);
  EditCrystalSheet *sheet = FrontSheet();
  ASSERT_NE(sheet, nullptr);
  sheet->HandleCommand(FourCharsToLong("addS"));
  const struct {
    const char *typed, *kept;
  } cases[] = {
      {"Si12345", "Si1234"},
      {"\u03b1\u03b2\u03b3\u03b4", "\u03b1\u03b2\u03b3"},       // Greek
      {"\u05e9\u05dc\u05d5\u05dd", "\u05e9\u05dc\u05d5"},       // Hebrew
      {"O\u05d0\u05d1\u05d2", "O\u05d0\u05d1"},                   // the third letter would be cut
      {"C\u65e5\u672c", "C\u65e5"},                                 // three bytes a letter
  };
  for (const auto &k : cases) {
    Type(sheet, 0, kSiteColumnLabel, k.typed);
    EXPECT_EQ(sheet->Model()->CellText(0, kSiteColumnLabel), k.kept) << k.typed;
  }
}

TEST_F(EditorSheet, AGroupPickedInTheBrowserResetsSymbolAnglesAndFreeParameters) {
  ASSERT_EQ(ProcessCommand(kCmdNewCrystal), 0);
  EditCrystalSheet *sheet = FrontSheet();
  ASSERT_NE(sheet, nullptr);
  sheet->CellField(5)->setText("100");
  ResetEditCrystalSymmetry("R -3 m", 6, 0);
  EXPECT_EQ(sheet->SymbolField()->text(), "R -3 m");
  EXPECT_EQ(sheet->Record()->crystalSystem, 6);
  EXPECT_EQ(sheet->CellField(5)->text(), "90");
  // Rhombohedral axes: only a and alpha stay free.
  const bool shown[6] = {true, false, false, true, false, false};
  for (int i = 0; i < 6; i++)
    EXPECT_EQ(sheet->CellField(i)->isVisibleTo(sheet), shown[i]) << i;
  ResetEditCrystalSymmetry("P 3", 5, 0);
  EXPECT_EQ(sheet->CellField(5)->text(), "120");
  EXPECT_EQ(sheet->Record()->crystalSystem, 5);
}

TEST_F(EditorSheet, CancellingANewStructureLeavesTheOnlyWindowEmptyAndClosesASecond) {
  WindowRef first = FrontGraphWindow();
  ASSERT_EQ(ProcessCommand(kCmdNewMolecule), 0);
  ASSERT_NE(FrontSheet(), nullptr);
  EXPECT_EQ(FrontSheet()->ParentWindow(), first);
  EXPECT_TRUE(FrontSheet()->Record()->isMolecule);
  FrontSheet()->HandleCommand(FourCharsToLong("not!"));
  Settle();
  EXPECT_EQ(GetNumGraphWindows(), 1);
  EXPECT_FALSE(IsWindowFileOpen(first));
  EXPECT_FALSE(IsWindowModified(first));

  // A window that holds a structure is not reused: the new one closes on cancel.
  ASSERT_EQ(ProcessCommand(kCmdNewMolecule), 0);
  EditCrystalSheet *sheet = FrontSheet();
  sheet->HandleCommand(FourCharsToLong("addS"));
  sheet->HandleCommand(FourCharsToLong("ok  "));
  Settle();
  ASSERT_TRUE(IsWindowFileOpen(first));
  EXPECT_EQ(GetWindowCrystal(first)->molecule, 1);
  ASSERT_EQ(ProcessCommand(kCmdNewCrystal), 0);
  ASSERT_EQ(GetNumGraphWindows(), 2);
  ASSERT_NE(FrontSheet(), nullptr);
  EXPECT_NE(FrontSheet()->ParentWindow(), first);
  FrontSheet()->HandleCommand(FourCharsToLong("not!"));
  Settle();
  EXPECT_EQ(GetNumGraphWindows(), 1);
}

TEST_F(EditorSheet, EditingAnOpenStructureRemovesRowsAfterConfirmation) {
  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "Quartz.ovtx", nullptr));
  Settle();
  WindowRef window = FrontGraphWindow();
  const int32_t sites = GetWindowCrystal(window)->siteCount;
  ASSERT_GE(sites, 2);
  QAction *edit = GetCommandAction(kCmdEditStructure);
  UpdateActionStatus(edit);
  EXPECT_TRUE(edit->isEnabled());
  EXPECT_EQ(edit->text(), "Edit Crystal…");
  ASSERT_EQ(ProcessCommand(kCmdEditStructure), 0);
  EditCrystalSheet *sheet = FrontSheet();
  ASSERT_NE(sheet, nullptr);
  UpdateActionStatus(edit);
  EXPECT_FALSE(edit->isEnabled()); // one editor per window

  sheet->SiteList()->selectRow(0);
  EXPECT_EQ(sheet->Model()->CellText(0, kSiteColumnOccupancy), "Si"); // the editable form
  // Backspace in the list removes the selected rows, once confirmed.
  QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
  QCoreApplication::sendEvent(sheet->SiteList(), &backspace);
  ASSERT_EQ(gHost->alerts.size(), 1u);
  EXPECT_EQ(gHost->alerts[0].message, "Delete the selected row(s)?");
  EXPECT_EQ(sheet->Model()->rowCount(), sites - 1);
  EXPECT_EQ(GetWindowCrystal(window)->siteCount, sites); // not yet applied
  sheet->HandleCommand(FourCharsToLong("ok  "));
  Settle();
  EXPECT_EQ(GetWindowCrystal(window)->siteCount, sites - 1);
}

} // namespace
