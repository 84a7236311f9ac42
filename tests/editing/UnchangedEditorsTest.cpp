// The structure, selection and bonding editors accepted without an edit
// leave the document as it was: the saved bytes stay the same, the window is
// not marked and the sheet closes. An edit still applies, and the values the
// user left alone keep what the document held.
#include "editing/BondingSheet.h"
#include "editing/EditCrystalSheet.h"
#include "editing/SelectionCommandHandler.h"
#include "editing/SelectionSheets.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "window/MainWindowData.h"

#include "../structurewindow/ExampleWindowsTest.h"
#include "ProgramEnvironment.h"

#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>

namespace fs = std::filesystem;

namespace {

struct Editor {
  const char *name;
  uint32_t command;
  bool selectAll; // the editor works on the selection
};

const Editor kEditors[] = {
    {"Edit Structure", kCmdEditStructure, false},
    {"Edit Selection Specs", kCmdEditSelectionSpecs, true},
    {"Edit Selection Coords", kCmdEditSelectionCoords, true},
    {"Edit Bonding", kCmdEditBonding, false},
};

class UnchangedEditorsTest : public ExampleWindowsTest {
protected:
  void SetUp() override {
    ExampleWindowsTest::SetUp();
    CloseAll();
  }
  void TearDown() override {
    CloseAll();
    ExampleWindowsTest::TearDown();
  }
  // Every open sheet cancelled, then every window closed.
  static void CloseAll() {
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows()))
      if (QDialog *sheet = OpenSheet(w))
        sheet->reject();
    QCoreApplication::processEvents();
    CloseAllStructureWindows();
  }
  // Opens the editor through its command (after Select All where it needs
  // a selection) and answers its sheet, open over the window.
  QDialog *OpenEditor(MainWindow *w, const Editor &editor) {
    if (editor.selectAll)
      ProcessCommand(kCmdSelectAll);
    ProcessCommand(editor.command);
    QCoreApplication::processEvents();
    return OpenSheet(w);
  }

};

TEST_F(UnchangedEditorsTest, AcceptingAnEditorUnchangedChangesNoSavedByte) {
  for (const char *example : {"Quartz.ovtx", "Benzene.ovtx", "Calcite.ovtx"})
    for (const Editor &editor : kEditors) {
      SCOPED_TRACE(std::string(example) + ", " + editor.name);
      MainWindow *w = Open(example);
      ASSERT_NE(w, nullptr);
      if (editor.selectAll)
        ProcessCommand(kCmdSelectAll);
      ExpectNoSavedChange(w, [&] {
        QPointer<QDialog> sheet = OpenEditor(w, editor);
        ASSERT_NE(sheet, nullptr);
        ClickOK(sheet);
        QCoreApplication::processEvents();
        EXPECT_TRUE(!sheet || !sheet->isVisible()) << "OK closed the sheet";
      });
      CloseAll();
    }
}

// One edit per editor applies; what the user left alone keeps its value.
TEST_F(UnchangedEditorsTest, AnEditStillApplies) {
  MainWindow *w = Open("Calcite.ovtx");
  ASSERT_NE(w, nullptr);
  const CrystalRec *c = GetWindowCrystal(w->Ref());

  // Structure: a length typed with more digits than the sheet shows, then
  // a new c length; a and the angles keep exactly what they held.
  auto typeCell = [&](int i, const char *text) {
    auto *sheet = static_cast<EditCrystalSheet *>(OpenEditor(w, kEditors[0]));
    ASSERT_NE(sheet, nullptr);
    sheet->CellField(i)->setFocus();
    sheet->CellField(i)->selectAll();
    QTest::keyClicks(sheet->CellField(i), text);
    ClickOK(sheet);
    c = GetWindowCrystal(w->Ref());
  };
  typeCell(0, "4.98961234");
  ASSERT_EQ(c->a, 4.98961234f);
  const float gamma = c->gamma;
  typeCell(2, "17.5");
  EXPECT_EQ(c->c, 17.5f);
  EXPECT_EQ(c->a, 4.98961234f);
  EXPECT_EQ(c->gamma, gamma);
  EXPECT_TRUE(IsWindowModified(w->Ref()));
  ClearWindowModified(w->Ref());

  // Bonding: a new maximum for the first rule.
  QDialog *sheet = OpenEditor(w, kEditors[3]);
  ASSERT_NE(sheet, nullptr);
  auto *bonding = static_cast<BondingSheet *>(sheet);
  const float min = c->bondSpecs[0].minLength;
  BondSpecModel *model = bonding->Model();
  ASSERT_TRUE(model->setData(model->index(0, kColMax), QString("2.75"), Qt::EditRole));
  ClickOK(sheet);
  c = GetWindowCrystal(w->Ref());
  EXPECT_EQ(c->bondSpecs[0].maxLength, 2.75f);
  EXPECT_EQ(c->bondSpecs[0].minLength, min);
  EXPECT_TRUE(IsWindowModified(w->Ref()));
  ClearWindowModified(w->Ref());

  // Selection coordinates: a typed shift moves the selection; the atom the
  // sheet started from is found a quarter cell higher.
  sheet = OpenEditor(w, kEditors[2]);
  ASSERT_NE(sheet, nullptr);
  c = GetWindowCrystal(w->Ref());
  const AtomRecord *first = nullptr;
  for (const AtomRecord &atom : c->atoms)
    if (!first && atom.visible && atom.selected)
      first = &atom;
  ASSERT_NE(first, nullptr);
  const float moved[3] = {first->xyz[0], first->xyz[1], first->xyz[2] + 0.25f};
  Type(sheet, 5, "0.25");
  ClickOK(sheet);
  c = GetWindowCrystal(w->Ref());
  bool found = false;
  for (const AtomRecord &atom : c->atoms)
    found = found || (std::fabs(atom.xyz[0] - moved[0]) < 1e-5f && std::fabs(atom.xyz[1] - moved[1]) < 1e-5f &&
                      std::fabs(atom.xyz[2] - moved[2]) < 1e-5f);
  EXPECT_TRUE(found);
  EXPECT_TRUE(IsWindowModified(w->Ref()));
  ClearWindowModified(w->Ref());

  // Selection specs: a new radius for the whole selection; every site keeps
  // its own element and label.
  std::vector<std::pair<ElementCode, std::string>> sites;
  for (size_t k = 0; k < c->sites.size(); k++)
    sites.emplace_back(c->sites[k].elements[0], c->sites[k].label);
  sheet = OpenEditor(w, kEditors[1]);
  ASSERT_NE(sheet, nullptr);
  Type(sheet, 4, "0.8");
  ClickOK(sheet);
  c = GetWindowCrystal(w->Ref());
  ASSERT_EQ(c->sites.size(), sites.size());
  for (size_t k = 0; k < c->sites.size(); k++) {
    EXPECT_EQ(c->spheres[c->sites[k].atomType].radius, 0.8f) << k;
    EXPECT_EQ(c->sites[k].elements[0], sites[k].first) << k;
    EXPECT_EQ(c->sites[k].label, sites[k].second) << k;
  }
  EXPECT_TRUE(IsWindowModified(w->Ref()));
}

} // namespace
