// The cluster, polyhedron and fragment commands as a user meets them: from
// their commands on real structure windows, with the alerts' answers
// scripted and the undo copy taken back when a command fails.
#include "editing/DefineClusterSheet.h"
#include "editing/FragmentCommandHandler.h"
#include "editing/PolyhedronSheet.h"
#include "editing/TransformSheets.h"
#include "shell/Commands.h"
#include "shell/EngineHooks.h"
#include "shell/FileCommands.h"
#include "shell/LogStore.h"
#include "shell/QtHostServices.h"
#include "shell/Startup.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "FragmentCommands.h"
#include "PolyhedronFromSelection.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QRadioButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "SheetClosing.h"
#include "SuiteHost.h"

namespace fs = std::filesystem;

namespace {

class FragmentHost : public QtHostServices {
public:
  std::vector<AlertRequest> alerts;
  int RunAlert(const AlertRequest &alert) override {
    alerts.push_back(alert);
    return 1;
  }
};

FragmentHost *gFragmentHost = nullptr;

class FragmentSheets : public StructureSheetTest {
protected:
  HostServices *previous_ = nullptr;
  static void SetUpTestSuite() { gFragmentHost = JoinRunningProgram<FragmentHost>(); }
  void SetUp() override {
    previous_ = SetHostServices(gFragmentHost);
    gFragmentHost->alerts.clear();
    gSaveDefineCluster = SaveDefineClusterRec{};
  }
  void TearDown() override {
    CloseAll();
    SetHostServices(previous_);
  }
  template <class T> static T *Control(QDialog *sheet, int id) {
    for (T *e : sheet->findChildren<T *>())
      if (e->property("controlID").toInt() == id)
        return e;
    return nullptr;
  }
  static int32_t VisibleAtoms(const CrystalRec &c) {
    int32_t n = 0;
    for (int32_t k = 0; k < c.atomCount; k++)
      n += c.atoms[static_cast<size_t>(k)].visible;
    return n;
  }
};

TEST_F(FragmentSheets, DefineClusterChecksItsCentreAndRadii) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  SetCrystalAtomSelectionNone(c);
  QDialog *sheet = Sheet(kCmdDefineCluster);
  ASSERT_NE(sheet, nullptr);
  // No selection: site mode, the selection radio disabled.
  EXPECT_FALSE(Control<QRadioButton>(sheet, 1)->isEnabled());
  EXPECT_TRUE(Control<QRadioButton>(sheet, 2)->isChecked());
  QTreeWidget *list = Control<QTreeWidget>(sheet, 3);
  ASSERT_EQ(list->topLevelItemCount(), 2); // grouped: Cl and Na
  list->setCurrentItem(list->topLevelItem(0));
  EXPECT_EQ(DefineClusterSheetCommand(sheet, kSheetOK), 0);
  ASSERT_EQ(gFragmentHost->alerts.size(), 1u);
  EXPECT_EQ(gFragmentHost->alerts[0].message, "No central site selected!");
  EXPECT_TRUE(sheet->isVisible());
  // Flat: one row per site.
  Control<QCheckBox>(sheet, 9)->setChecked(false);
  DefineClusterSheetCommand(sheet, kClusterGroupByElement);
  ASSERT_EQ(list->topLevelItemCount(), c->siteCount);
  list->setCurrentItem(list->topLevelItem(0));
  Control<QLineEdit>(sheet, 5)->setText("5");
  Control<QLineEdit>(sheet, 7)->setText("5");
  DefineClusterSheetCommand(sheet, kSheetOK);
  ASSERT_EQ(gFragmentHost->alerts.size(), 2u);
  EXPECT_EQ(gFragmentHost->alerts[1].message, "Invalid radii!");
  DefineClusterArrowStep(sheet, 6, 20);
  EXPECT_EQ(Control<QLineEdit>(sheet, 5)->text(), "4.99");
  Control<QLineEdit>(sheet, 5)->setText("0");
  Control<QLineEdit>(sheet, 7)->setText("1000");
  EXPECT_TRUE(ExtractDefineCluster(sheet));
  Control<QLineEdit>(sheet, 7)->setText("4");
  EXPECT_TRUE(ClosesOnOK(DefineClusterSheetCommand, sheet));
  EXPECT_EQ(gFragmentHost->alerts.size(), 2u);
  EXPECT_TRUE(IsWindowModified(FrontGraphWindow()));
  EXPECT_TRUE(gSaveDefineCluster.siteRemembered);
  EXPECT_FLOAT_EQ(gSaveDefineCluster.rmax, 4.0f);
}

TEST_F(FragmentSheets, QuartzIsAFrameworkAndKeepsItsAtoms) {
  CrystalRec *c = OpenExample("Quartz.ovtx");
  ASSERT_NE(c, nullptr);
  ASSERT_GT(c->bondSpecCount, 0);
  const int32_t atoms = c->atomCount, visible = VisibleAtoms(*c);
  ProcessCommand(kCmdHideMolecularFragments);
  ASSERT_EQ(gFragmentHost->alerts.size(), 1u);
  EXPECT_EQ(gFragmentHost->alerts[0].message, "Not a molecular crystal!");
  c = GetWindowCrystal(FrontGraphWindow());
  EXPECT_EQ(VisibleAtoms(*c), visible);
  // Completing the selected molecule runs out of room and undoes.
  c->atoms[0].selected = 1;
  ProcessCommand(kCmdRepairMoleculeAtSelection);
  ASSERT_EQ(gFragmentHost->alerts.size(), 2u);
  EXPECT_EQ(gFragmentHost->alerts[1].message, "Unable to show entire molecule");
  c = GetWindowCrystal(FrontGraphWindow());
  EXPECT_EQ(c->atomCount, atoms);
  EXPECT_EQ(VisibleAtoms(*c), visible);
}

TEST_F(FragmentSheets, PolyhedronSheetRemembersItsChoices) {
  CrystalRec *c = OpenExample("Benzene.ovtx");
  ASSERT_NE(c, nullptr);
  const int32_t sites = c->siteCount;
  for (int32_t k = 0; k < c->atomCount; k++)
    c->atoms[static_cast<size_t>(k)].selected = c->sites[c->atoms[static_cast<size_t>(k)].site].elements[0] ==
                                                TwoCharsToShort("C ");
  QDialog *sheet = Sheet(kCmdPolyhedronFromSelection);
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(Control<QLineEdit>(sheet, 2)->text(), QString::fromStdString(gCentroidLabel));
  EXPECT_FALSE(Control<QCheckBox>(sheet, 4)->isEnabled()); // a molecule
  Control<QLineEdit>(sheet, 2)->setText("Ring");
  EXPECT_TRUE(ClosesOnOK(MakePolyhedronSheetCommand, sheet));
  c = GetWindowCrystal(FrontGraphWindow());
  EXPECT_EQ(c->siteCount, sites + 1);
  EXPECT_EQ(gCentroidLabel, "Ring");
  // A second time an atom sits at the centre: the question comes first.
  QDialog *again = Sheet(kCmdPolyhedronFromSelection);
  ASSERT_EQ(gFragmentHost->alerts.size(), 1u);
  EXPECT_EQ(gFragmentHost->alerts[0].message, "An atom already exists at the centre of selection");
  ASSERT_NE(again, nullptr);
  MakePolyhedronSheetCommand(again, kSheetCancel);
}

} // namespace
