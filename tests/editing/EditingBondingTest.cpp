// The Edit Bonding sheet and the Edit Elements window as a user meets them:
// opened from their commands on a real structure window, driven through their
// commands, with the dialogs' answers scripted.
#include "editing/BondingSheet.h"
#include "editing/ElementsWindow.h"
#include "editing/SelectionCommandHandler.h"
#include "shell/Commands.h"
#include "shell/DontShowAgainSheet.h"
#include "shell/Forms.h"
#include "shell/FileCommands.h"
#include "shell/EngineHooks.h"
#include "shell/QtHostServices.h"
#include "shell/Startup.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include <deque>
#include <optional>

namespace fs = std::filesystem;

namespace {

class EditorHost : public QtHostServices {
public:
  std::vector<AlertRequest> alerts;
  std::deque<fs::path> openAnswers, saveAnswers;
  std::optional<RGBColor> colourAnswer;
  std::vector<std::string> prompts;
  int RunAlert(const AlertRequest &alert) override {
    alerts.push_back(alert);
    return 1;
  }
  bool ChooseColour(std::string_view prompt, RGBColor *colour) override {
    prompts.emplace_back(prompt);
    if (!colourAnswer)
      return false;
    *colour = *colourAnswer;
    return true;
  }
  int OpenFileDialog(std::string_view prompt, fs::path *file) override {
    prompts.emplace_back(prompt);
    if (openAnswers.empty())
      return kUserCanceledErr;
    *file = openAnswers.front();
    openAnswers.pop_front();
    return 0;
  }
  int SaveFileDialog(std::string_view prompt, std::string_view proposedName, fs::path *file) override {
    prompts.emplace_back(std::string(prompt) + " / " + std::string(proposedName));
    if (saveAnswers.empty())
      return kUserCanceledErr;
    *file = saveAnswers.front();
    saveAnswers.pop_front();
    return 0;
  }
};

EditorHost *gEditorHost = nullptr;
fs::path gEditorTemp;

class EditorTest : public ::testing::Test {
protected:
  HostServices *previous_ = nullptr;
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/oveditXXXXXX";
    gEditorTemp = mkdtemp(pattern);
    if (!QApplication::instance()) {
      setenv("XDG_CONFIG_HOME", (gEditorTemp / "config").c_str(), 1);
      setenv("XDG_CACHE_HOME", (gEditorTemp / "cache").c_str(), 1);
      static int argc = 1;
      static char name[] = "test_editing";
      static char *argv[] = {name, nullptr};
      new QApplication(argc, argv); // lives as long as the process
      InstallProgramLocale();
    }
    gEditorHost = new EditorHost;
    if (!gStartupDone)
      ASSERT_TRUE(OVInitialize({}, gEditorHost));
    else // another test program's start-up made the windows: this host serves them too
      InstallHostWindowHooks(*gEditorHost, [] { return AllGraphWindows(); });
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(gEditorTemp, ec);
  }
  void SetUp() override {
    previous_ = SetHostServices(gEditorHost);
    gEditorHost->alerts.clear();
    gEditorHost->prompts.clear();
  }
  void TearDown() override {
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows())) {
      ClearWindowModified(w->Ref());
      DoCloseMainWindow(w->Ref());
    }
    QCoreApplication::processEvents();
    SetHostServices(previous_);
  }
  static CrystalRec *OpenExample(const char *name) {
    if (!OpenFSRefInWindow(ExamplesFolder() / name, nullptr))
      return nullptr;
    QCoreApplication::processEvents();
    return GetWindowCrystal(FrontGraphWindow());
  }
};

TEST_F(EditorTest, BondingSheetCountsLaterAndAppliesOnlyOnOK) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->bondSpecCount, 1);
  // A second specification names an element that no site has.
  c->bondSpecs[1] = c->bondSpecs[0];
  c->bondSpecs[1].elementB = TwoCharsToShort("Xe");
  c->bondSpecCount = 2;

  ASSERT_EQ(ProcessCommand(kCmdEditBonding), kNoErr);
  BondingSheet *sheet = CurrentBondingSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(sheet->isVisible());
  ASSERT_EQ(sheet->Record()->specCount, 1);
  // The sheet shows before any count is made; the counts come from the loop.
  EXPECT_FALSE(sheet->Record()->specs[0].DiagnosticsKnown());
  EXPECT_EQ(sheet->List()->verticalHeader()->defaultSectionSize(), kBondRowHeight);
  for (int turn = 0; turn < 50 && !sheet->Record()->specs[0].DiagnosticsKnown(); ++turn)
    QCoreApplication::processEvents();
  const EditBondSpecNode &naCl = sheet->Record()->specs[0];
  ASSERT_TRUE(naCl.DiagnosticsKnown());
  EXPECT_EQ(naCl.minCountA, 6);
  EXPECT_EQ(naCl.maxCountA, 6);
  EXPECT_EQ(naCl.maxCountB, 6);

  ASSERT_EQ(ProcessCommand(kCmdAddBond), kNoErr);
  ASSERT_EQ(sheet->Record()->specCount, 2);
  EXPECT_EQ(sheet->List()->selectionModel()->selectedRows().size(), 1);
  // A typed max; the structure is not touched yet.
  QAbstractItemModel *model = sheet->List()->model();
  ASSERT_TRUE(model->setData(model->index(1, kColMax), "2.25", Qt::EditRole));
  EXPECT_EQ(model->index(1, kColMax).data().toString(), "2.25   ");
  EXPECT_EQ(c->bondSpecCount, 2);
  // Tab takes a typed max back to the min cell of the same row.
  QTableView *list = sheet->List();
  list->edit(model->index(1, kColMax));
  auto *maxField = qobject_cast<QLineEdit *>(list->indexWidget(model->index(1, kColMax)));
  ASSERT_NE(maxField, nullptr);
  maxField->setText("2.5");
  QTest::keyClick(maxField, Qt::Key_Tab);
  QCoreApplication::processEvents();
  EXPECT_NE(list->indexWidget(model->index(1, kColMin)), nullptr);
  EXPECT_FLOAT_EQ(sheet->Record()->specs[1].max, 2.5f);

  ASSERT_EQ(ProcessCommand(kCmdBondSheetOK), kNoErr);
  EXPECT_EQ(CurrentBondingSheet(), nullptr);
  ASSERT_EQ(c->bondSpecCount, 2);
  EXPECT_NE(c->bondSpecs[0].elementB, TwoCharsToShort("Xe"));
  EXPECT_FLOAT_EQ(c->bondSpecs[1].maxLength, 2.5f);
  EXPECT_TRUE(IsWindowModified(FrontGraphWindow()));

  // Cancel leaves the structure as it was.
  ASSERT_EQ(ProcessCommand(kCmdEditBonding), kNoErr);
  ASSERT_NE(CurrentBondingSheet(), nullptr);
  CurrentBondingSheet()->List()->selectRow(0);
  ASSERT_EQ(ProcessCommand(kCmdRemoveBond), kNoErr);
  ASSERT_EQ(ProcessCommand(kCmdBondSheetCancel), kNoErr);
  EXPECT_EQ(CurrentBondingSheet(), nullptr);
  EXPECT_EQ(c->bondSpecCount, 2);
}

TEST_F(EditorTest, ElementsWindowAppliesExportsImportsAndLoadsPresets) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(ProcessCommand(kCmdEditElements), kNoErr);
  ElementsWindow *w = GetEditElementsWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->isVisible());
  ASSERT_GE(w->PresetPopup()->count(), 4); // "Custom", a separator, two presets

  // The preset names the Na row's radius and colour; applying it reaches the
  // atom types of the structure.
  DoApplyPresetElementTable("Covalent Radii");
  EXPECT_EQ(w->PresetPopup()->currentText(), "Covalent Radii");
  EXPECT_EQ(gEditElementsData->entries.size(), 92u);
  EXPECT_NE(gEditElementsData->notes.find("Covalent radii revisited"), std::string::npos);
  const ElementCode na = TwoCharsToShort("Na");
  for (int32_t i = 0; i < c->sphereCount; ++i)
    if (c->spheres[size_t(i)].element == na)
      EXPECT_FLOAT_EQ(c->spheres[size_t(i)].radius, 1.66f);

  // The colour picker answers for the first row; the popup shows "Custom".
  gEditorHost->colourAnswer = RGBColor{1000, 2000, 3000};
  w->ChooseEntryColour(0);
  EXPECT_EQ(gEditElementsData->entries[0].colour, (RGBColor{1000, 2000, 3000}));
  EXPECT_EQ(w->PresetPopup()->currentIndex(), 0);
  EXPECT_EQ(gEditorHost->prompts.back(), "Element colour:");

  // Export, change, import: the exported table comes back.
  const fs::path file = gEditorTemp / "table.dat";
  gEditorHost->saveAnswers.push_back(file);
  ASSERT_EQ(w->HandleCommand(kCmdExportElements), kNoErr);
  EXPECT_EQ(gEditorHost->prompts.back(), "Save Element Table data file / Element Table.dat");
  ASSERT_EQ(w->HandleCommand(kCmdAddElement), kNoErr);
  EXPECT_EQ(gEditElementsData->entries.size(), 93u);
  gEditorHost->openAnswers.push_back(file);
  ASSERT_EQ(w->HandleCommand(kCmdImportElements), kNoErr);
  EXPECT_EQ(gEditorHost->prompts.back(), "Select an elements text file");
  ASSERT_EQ(gEditElementsData->entries.size(), 92u);
  EXPECT_NEAR(gEditElementsData->entries[0].colour.green, 2000, 1);
  EXPECT_EQ(w->Model()->rowCount(), 92);

  // A file that cannot be written is reported, not taken for saved.
  gEditorHost->saveAnswers.push_back(gEditorTemp / "no such folder" / "table.dat");
  ASSERT_EQ(w->HandleCommand(kCmdExportElements), kNoErr);
  ASSERT_EQ(gEditorHost->alerts.size(), 1u);
  EXPECT_EQ(gEditorHost->alerts[0].message, "An error when attempting to save element data.");
  EXPECT_TRUE(gEditorHost->alerts[0].explanation.find("table.dat") != std::string::npos);

  w->close();
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(GetEditElementsWindow(), w) << "closing only hides the window";
}

} // namespace

TEST_F(EditorTest, SelectionCommandsReachTheFrontWindow) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  ClearWindowModified(FrontGraphWindow());
  ASSERT_EQ(ProcessCommand(kCmdSelectNeighbours), kNoErr);
  ASSERT_EQ(gEditorHost->alerts.size(), 1u);
  EXPECT_EQ(gEditorHost->alerts[0].message, "No atoms selected!");
  ASSERT_EQ(ProcessCommand(kCmdSelectAll), kNoErr);
  EXPECT_TRUE(CrystalHasSelectedAtoms(c));
  EXPECT_TRUE(IsWindowModified(FrontGraphWindow()));
  ASSERT_EQ(ProcessCommand(kCmdInvertSelection), kNoErr);
  EXPECT_FALSE(CrystalHasSelectedAtoms(c));
  ASSERT_EQ(ProcessCommand(kCmdSelectAll), kNoErr);
  ASSERT_EQ(ProcessCommand(kCmdDeselectAll), kNoErr);
  EXPECT_FALSE(CrystalHasSelectedAtoms(c));
  // Every selected atom detached: no bond leads out of the selection.
  c->atoms[0].selected = 1;
  ASSERT_GT(c->atoms[0].bondCount, 0u);
  ASSERT_EQ(ProcessCommand(kCmdDetachSelection), kNoErr);
  EXPECT_EQ(c->atoms[0].bondCount, 0u);
}

namespace {
QDialog *OpenNotice() {
  for (QDialog *d : GetMainWindow(FrontGraphWindow())->findChildren<QDialog *>("DontShowAgainSheet"))
    if (d->isVisible())
      return d;
  return nullptr;
}
} // namespace

TEST_F(EditorTest, HideOtherMoleculesAsksUntilToldNotTo) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  const uint8_t factory = gPrefs.noticeHideOtherMolecules;
  gPrefs.noticeHideOtherMolecules = 1;
  ASSERT_EQ(ProcessCommand(kCmdHideOtherMolecules), kNoErr);
  ASSERT_EQ(gEditorHost->alerts.size(), 1u);
  EXPECT_EQ(gEditorHost->alerts[0].message, "No atoms selected!");
  EXPECT_EQ(OpenNotice(), nullptr);
  // Atom 0 cut loose is a molecule of its own.
  c->atoms[0].selected = 1;
  ASSERT_EQ(ProcessCommand(kCmdDetachSelection), kNoErr);
  ClearWindowModified(FrontGraphWindow());

  ASSERT_EQ(ProcessCommand(kCmdHideOtherMolecules), kNoErr);
  QDialog *sheet = OpenNotice();
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(FindControl<QLabel>(sheet, kDontShowAgainMessage)->text().size() > 0);
  sheet->findChild<QPushButton *>("cancelButton")->click();
  EXPECT_EQ(OpenNotice(), nullptr);
  EXPECT_TRUE(c->atoms[1].visible);
  EXPECT_FALSE(IsWindowModified(FrontGraphWindow()));
  EXPECT_EQ(gPrefs.noticeHideOtherMolecules, 1);

  ASSERT_EQ(ProcessCommand(kCmdHideOtherMolecules), kNoErr);
  sheet = OpenNotice();
  ASSERT_NE(sheet, nullptr);
  FindControl<QCheckBox>(sheet, kDontShowAgainBox)->setChecked(true);
  sheet->findChild<QPushButton *>("okButton")->click();
  EXPECT_EQ(gPrefs.noticeHideOtherMolecules, 0);
  EXPECT_TRUE(c->atoms[0].visible);
  int64_t shown = 0;
  for (int32_t i = 0; i < c->atomCount; ++i)
    shown += c->atoms[size_t(i)].visible;
  EXPECT_EQ(shown, 1);
  EXPECT_FALSE(CrystalHasSelectedAtoms(c));
  EXPECT_TRUE(IsWindowModified(FrontGraphWindow()));

  // Told not to ask, the command runs at once.
  ASSERT_EQ(ProcessCommand(kCmdShowAllAtoms), kNoErr);
  c->atoms[1].selected = 1;
  ASSERT_EQ(ProcessCommand(kCmdHideOtherMolecules), kNoErr);
  EXPECT_EQ(OpenNotice(), nullptr);
  EXPECT_FALSE(c->atoms[0].visible);
  EXPECT_TRUE(c->atoms[1].visible);
  gPrefs.noticeHideOtherMolecules = factory;
}
