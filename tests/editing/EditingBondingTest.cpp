// The Edit Bonding sheet and the Edit Elements window as a user meets them:
// opened from their commands on a real structure window, driven through their
// commands, with the dialogs' answers scripted.
#include "editing/BondingSheet.h"
#include "editing/ElementsWindow.h"
#include "editing/SelectionCommandHandler.h"
#include "editing/SelectionSheets.h"
#include "inspectors/StyleMenus.h"
#include "shell/Commands.h"
#include "shell/DontShowAgainSheet.h"
#include "shell/Forms.h"
#include "shell/FileCommands.h"
#include "shell/EngineHooks.h"
#include "shell/LogStore.h"
#include "shell/QtHostServices.h"
#include "shell/Startup.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "structurewindow/WindowInput.h"

#include "CellTransform.h"
#include "PlotRange.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "render/Highlights.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <deque>
#include <optional>

#include "SuiteHost.h"

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
    gEditorHost = JoinRunningProgram<EditorHost>();
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
  c->derived.Note(kChangeBonds);

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
    if (c->spheres[size_t(i)].element == na) {
      EXPECT_FLOAT_EQ(c->spheres[size_t(i)].radius, 1.66f);
    }

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

// ---- The sheets of the selection commands ---------------------------------------------------

namespace {
// The open sheet of a form (its object name), or none.
QDialog *OpenSheet(const char *form) {
  for (QDialog *d : GetMainWindow(FrontGraphWindow())->findChildren<QDialog *>(form))
    if (d->isVisible())
      return d;
  return nullptr;
}
void Click(QDialog *sheet, const char *button) { sheet->findChild<QPushButton *>(button)->click(); }
void Type(QDialog *sheet, int id, const char *text) {
  auto *field = FindControl<QLineEdit>(sheet, id);
  field->selectAll();
  QTest::keyClicks(field, text);
}
// NaCl without its symmetry: eight sites in P 1.
CrystalRec *OpenRockSaltInP1() {
  if (!OpenFSRefInWindow(ExamplesFolder() / "NaCl.ovtx", nullptr))
    return nullptr;
  QCoreApplication::processEvents();
  WindowRef w = FrontGraphWindow();
  return UserAgreesToDiscardSymmetry(w) ? GetWindowCrystal(w) : nullptr;
}
int32_t SelectedSiteOf(const CrystalRec *c) {
  for (int32_t k = 0; k < c->atomCount; ++k)
    if (c->atoms[size_t(k)].selected)
      return int32_t(c->atoms[size_t(k)].site);
  return -1;
}
} // namespace

TEST_F(EditorTest, ZeroOffsetDuplicateInACrystalLandsAThousandthAlongX) {
  CrystalRec *c = OpenRockSaltInP1();
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->siteCount, 8);
  c->atoms[0].selected = 1;
  const AsymmetricUnitRecord source = c->sites[c->atoms[0].site];
  ASSERT_EQ(ProcessCommand(kCmdDuplicateAtoms), kNoErr);
  QDialog *sheet = OpenSheet("DuplicateAtoms");
  ASSERT_NE(sheet, nullptr);
  EXPECT_FALSE(FindControl(sheet, 5)->isVisible()); // no offset: the fields hide
  Click(sheet, "okButton");
  c = GetWindowCrystal(FrontGraphWindow());
  ASSERT_EQ(c->siteCount, 9);
  // The copy is the selection; it stands 0.001 A along Cartesian x from its source.
  const int32_t copy = SelectedSiteOf(c);
  ASSERT_GE(copy, 0);
  float df[3], dc[3];
  for (int k = 0; k < 3; ++k)
    df[k] = c->sites[size_t(copy)].xyz[k] - source.xyz[k];
  MatMul(c->orientationMatrix, df, dc);
  EXPECT_NEAR(dc[0], 0.001f, 2e-5f);
  EXPECT_NEAR(dc[1], 0.0f, 2e-5f);
  EXPECT_NEAR(dc[2], 0.0f, 2e-5f);
  const AsymmetricUnitRecord &copied = c->sites[size_t(copy)];
  ASSERT_LE(copied.firstAtom, copied.lastAtom);
  int shown = 0; // the copy's atoms within the grown range
  for (int32_t k = copied.firstAtom; k <= copied.lastAtom; ++k) {
    const AtomRecord &a = c->atoms[size_t(k)];
    EXPECT_EQ(a.visible && a.selected, IsAtomInRange(c, a));
    shown += a.visible;
  }
  EXPECT_GT(shown, 0);
  for (int32_t k = 0; k < c->atomCount; ++k)
    if (int32_t(c->atoms[size_t(k)].site) != copy) {
      EXPECT_FALSE(c->atoms[size_t(k)].selected);
    }
  EXPECT_TRUE(IsWindowModified(FrontGraphWindow()));

  // The sheet shows the offset last accepted.
  ASSERT_EQ(ProcessCommand(kCmdDuplicateAtoms), kNoErr);
  sheet = OpenSheet("DuplicateAtoms");
  ASSERT_NE(sheet, nullptr);
  FindControl<QCheckBox>(sheet, 1)->setChecked(true);
  Type(sheet, 2, "0");
  Type(sheet, 4, "0.5");
  Click(sheet, "cancelButton");
  EXPECT_EQ(GetWindowCrystal(FrontGraphWindow())->siteCount, 9);
  ASSERT_EQ(ProcessCommand(kCmdDuplicateAtoms), kNoErr);
  sheet = OpenSheet("DuplicateAtoms");
  EXPECT_FALSE(FindControl<QCheckBox>(sheet, 1)->isChecked()); // cancelled: nothing kept
  FindControl<QCheckBox>(sheet, 1)->setChecked(true);
  Type(sheet, 2, "0");
  Type(sheet, 4, "0.5");
  Click(sheet, "okButton");
  EXPECT_EQ(GetWindowCrystal(FrontGraphWindow())->siteCount, 10);
  ASSERT_EQ(ProcessCommand(kCmdDuplicateAtoms), kNoErr);
  sheet = OpenSheet("DuplicateAtoms");
  EXPECT_TRUE(FindControl(sheet, 5)->isVisible());
  EXPECT_EQ(FindControl<QLineEdit>(sheet, 4)->text(), "0.50");
  Click(sheet, "cancelButton");
  gSaveDuplicateAtoms = DuplicateAtomsRec{};
}

TEST_F(EditorTest, NewCoordinatesForOneAtomMoveItsWholeSite) {
  CrystalRec *c = OpenRockSaltInP1();
  ASSERT_NE(c, nullptr);
  // The site with the most atoms in the plot.
  std::vector<int> perSite(size_t(c->siteCount), 0);
  for (int32_t k = 0; k < c->atomCount; ++k)
    ++perSite[c->atoms[size_t(k)].site];
  const uint32_t site = uint32_t(std::max_element(perSite.begin(), perSite.end()) - perSite.begin());
  ASSERT_GE(perSite[site], 2);
  int32_t first = -1;
  std::vector<std::array<float, 3>> before;
  for (int32_t k = 0; k < c->atomCount; ++k)
    if (c->atoms[size_t(k)].site == site) {
      if (first < 0)
        first = k;
      const float *x = c->atoms[size_t(k)].xyz;
      before.push_back({x[0], x[1], x[2]});
    }
  c->atoms[size_t(first)].selected = 1;
  const float old[3] = {c->sites[site].xyz[0], c->sites[site].xyz[1], c->sites[site].xyz[2]};
  ASSERT_EQ(ProcessCommand(kCmdEditSelectionCoords), kNoErr);
  QDialog *sheet = OpenSheet("EditSelectionCoords");
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(FindControl(sheet, 1)->isEnabled());
  EXPECT_EQ(FindControl<QLabel>(sheet, 8)->text(), "x");
  const float moved[3] = {std::fmod(old[0] + 0.1f, 1.0f), old[1], old[2]};
  Type(sheet, 3, QString::number(double(moved[0]), 'f', 4).toUtf8().constData());
  Click(sheet, "okButton");
  EXPECT_NEAR(c->sites[site].xyz[0], moved[0], 1e-4f);
  size_t n = 0;
  for (int32_t k = 0; k < c->atomCount; ++k)
    if (c->atoms[size_t(k)].site == site) {
      EXPECT_NEAR(c->atoms[size_t(k)].xyz[0] - before[n][0], moved[0] - old[0], 1e-4f);
      EXPECT_FLOAT_EQ(c->atoms[size_t(k)].xyz[1], before[n][1]);
      ++n;
    }
  EXPECT_EQ(n, before.size());

  // Two atoms: relative shifts only.
  c->atoms[size_t(first == 0 ? 1 : 0)].selected = 1;
  ASSERT_EQ(ProcessCommand(kCmdEditSelectionCoords), kNoErr);
  sheet = OpenSheet("EditSelectionCoords");
  ASSERT_NE(sheet, nullptr);
  EXPECT_FALSE(FindControl(sheet, 1)->isEnabled());
  EXPECT_EQ(FindControl<QLabel>(sheet, 10)->text(), QString::fromUtf8("\u2206z"));
  EXPECT_EQ(FindControl<QLineEdit>(sheet, 3)->text(), "0.0000");
  Click(sheet, "cancelButton");
}

TEST_F(EditorTest, DeletingSitesKeepsSomeAndPrunesBondSpecifications) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->siteCount, 2);
  ASSERT_EQ(ProcessCommand(kCmdSelectAll), kNoErr);
  ASSERT_EQ(ProcessCommand(kCmdDeleteSelectedAtoms), kNoErr);
  ASSERT_EQ(gEditorHost->alerts.size(), 1u);
  EXPECT_EQ(gEditorHost->alerts[0].message, "Cannot delete entire structure!");
  EXPECT_EQ(gEditorHost->alerts[0].explanation, "Please select fewer atoms.");
  EXPECT_EQ(c->siteCount, 2);

  ASSERT_EQ(ProcessCommand(kCmdDeselectAll), kNoErr);
  const ElementCode cl = TwoCharsToShort("Cl");
  for (int32_t k = 0; k < c->atomCount; ++k)
    if (c->sites[c->atoms[size_t(k)].site].elements[0] == cl)
      c->atoms[size_t(k)].selected = 1;
  ASSERT_EQ(c->bondSpecCount, 1);
  gEditorHost->alerts.clear();
  ASSERT_EQ(ProcessCommand(kCmdDeleteSelectedAtoms), kNoErr); // the host answers Delete
  ASSERT_EQ(gEditorHost->alerts.size(), 1u);
  EXPECT_EQ(gEditorHost->alerts[0].message,
            "Are you sure you wish to delete the selected sites and all symmetry-related atoms?");
  c = GetWindowCrystal(FrontGraphWindow());
  ASSERT_EQ(c->siteCount, 1);
  EXPECT_EQ(c->sites[0].elements[0], TwoCharsToShort("Na"));
  EXPECT_EQ(c->bondSpecCount, 0); // Na-Cl went with the chlorine
  EXPECT_GT(c->atomCount, 0);
}

TEST_F(EditorTest, VectorSheetKeepsItsLengthRules) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  c->atoms[0].selected = 1;
  ASSERT_EQ(ProcessCommand(kCmdAddVector), kNoErr);
  QDialog *sheet = OpenSheet("DefineVector");
  ASSERT_NE(sheet, nullptr);
  EXPECT_FALSE(FindControl(sheet, 6)->isEnabled()); // no fixed length yet
  FindControl<QCheckBox>(sheet, 5)->setChecked(true);
  EXPECT_TRUE(FindControl(sheet, 7)->isEnabled());
  Type(sheet, 6, "0.05");
  EXPECT_FALSE(FindControl(sheet, 9)->isEnabled());
  FindControl<QSpinBox>(sheet, 7)->stepDown();
  EXPECT_EQ(FindControl<QLineEdit>(sheet, 6)->text(), "0.10");
  EXPECT_TRUE(FindControl(sheet, 9)->isEnabled());
  // Typing a length passes through "0" and "2": the direction survives it.
  Type(sheet, 6, "0");
  Type(sheet, 6, "2");
  EXPECT_TRUE(gEditorHost->alerts.empty());
  EXPECT_EQ(FindControl<QLineEdit>(sheet, 1)->text(), FindControl<QLineEdit>(sheet, 2)->text());
  EXPECT_NE(FindControl<QLineEdit>(sheet, 1)->text(), "0.00");
  for (int id : {1, 2, 3})
    Type(sheet, id, "0");
  Click(sheet, "okButton");
  ASSERT_EQ(gEditorHost->alerts.size(), 1u);
  EXPECT_EQ(gEditorHost->alerts[0].message, "Vector has zero length!");
  ASSERT_EQ(c->vectorCount, 1);
  float cart[3];
  MatMul(c->orientationMatrix, c->vectors[0].uvw, cart);
  EXPECT_FLOAT_EQ(c->vectors[0].uvw[0], 0.0f);
  EXPECT_NEAR(std::sqrt(cart[0] * cart[0] + cart[1] * cart[1] + cart[2] * cart[2]), 2.0f, 1e-4f);

  // The colour preset and the picker reach the vector being edited.
  c->vectors[0].selected = 1;
  ASSERT_EQ(ProcessCommand(kCmdEditVector), kNoErr);
  sheet = OpenSheet("DefineVector");
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(FindControl<QLineEdit>(sheet, 3)->text(), QString::asprintf("%.2f", double(c->vectors[0].uvw[2])));
  gEditorHost->colourAnswer = RGBColor{0, 100, 200};
  FindControl<QPushButton>(sheet, 4)->click();
  Click(sheet, "okButton");
  EXPECT_EQ(c->vectors[0].colour, (RGBColor{0, 100, 200}));
  gEditorHost->colourAnswer.reset();
  gDefaultVectorRecord = DefineVectorRec{};
}

TEST_F(EditorTest, SpecsSheetTakesTableValuesOnlyForKnownElements) {
  CrystalRec *c = OpenRockSaltInP1();
  ASSERT_NE(c, nullptr);
  c->atoms[0].selected = 1;
  const SphereRecord found = c->spheres[c->atoms[0].atomType];
  ASSERT_EQ(ProcessCommand(kCmdEditSelectionSpecs), kNoErr);
  QDialog *sheet = OpenSheet("EditSelectionSpecs");
  ASSERT_NE(sheet, nullptr);
  Type(sheet, 1, "Q"); // no row for "Q ": element only
  EXPECT_EQ(FindControl<QLineEdit>(sheet, 4)->text(), QString::asprintf("%.2f", double(found.radius)));
  Type(sheet, 1, "K");
  RGBColor colour;
  float radius = 0;
  ASSERT_TRUE(LookUpElementData(TwoCharsToShort("K "), &colour, &radius));
  EXPECT_EQ(FindControl<QLineEdit>(sheet, 4)->text(), QString::asprintf("%.2f", double(radius)));
  Click(sheet, "okButton");
  c = GetWindowCrystal(FrontGraphWindow());
  int potassium = 0;
  for (int32_t s = 0; s < c->siteCount; ++s)
    potassium += c->sites[size_t(s)].elements[0] == TwoCharsToShort("K ");
  EXPECT_EQ(potassium, 1);
  EXPECT_EQ(c->siteCount, 8);
}

TEST_F(EditorTest, CustomBondStyleSheetFollowsItsStyle) {
  EXPECT_EQ(BondStyleColourButtons(3), 0);
  EXPECT_STREQ(BondStyleViewText(3), "(atom colours)");
  EXPECT_STREQ(BondStyleViewText(12), "(highlight colour)");
  EXPECT_STREQ(BondStyleViewText(7), "unknown style");
  EXPECT_EQ(BondStyleColourButtons(5), 2);
  EXPECT_EQ(BondStyleViewPartAt(84, QPoint(10, 10)), BondStyleViewPart::kSwatch);
  EXPECT_EQ(BondStyleViewPartAt(84, QPoint(100, 42)), BondStyleViewPart::kColour1);
  EXPECT_EQ(BondStyleViewPartAt(84, QPoint(191, 42)), BondStyleViewPart::kColour2);
  EXPECT_EQ(BondStyleViewPartAt(84, QPoint(140, 42)), BondStyleViewPart::kNone);

  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  c->atoms[0].selected = 1;
  ASSERT_EQ(ProcessCommand(kCmdCustomBondStyle), kNoErr);
  ASSERT_EQ(gEditorHost->alerts.size(), 1u);
  EXPECT_EQ(gEditorHost->alerts[0].message, "At least two atoms must be selected!");
  const uint32_t j = c->atoms[0].bonds.at(0);
  c->atoms[j].selected = 1;
  ASSERT_EQ(ProcessCommand(kCmdCustomBondStyle), kNoErr);
  QDialog *sheet = OpenSheet("CustomBondStyle");
  ASSERT_NE(sheet, nullptr);
  QWidget *view = FindControl(sheet, 1);
  gEditorHost->colourAnswer = RGBColor{1000, 2000, 3000};
  QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(100, view->height() / 2));
  Click(sheet, "okButton");
  ASSERT_EQ(c->customBondSpecCount, 1);
  const CustomBondSpec &spec = c->customBondSpecs[0];
  EXPECT_EQ(std::min(spec.atomA, spec.atomB), std::min(0u, j));
  if (BondStyleColourButtons(spec.style) > 0) {
    EXPECT_EQ(spec.colour1, (RGBColor{1000, 2000, 3000}));
    EXPECT_EQ(gEditorHost->prompts.back(), "Bond colour:");
  } else {
    EXPECT_TRUE(gEditorHost->prompts.empty()); // a style without colour buttons takes no click
  }
  gEditorHost->colourAnswer.reset();
}

TEST_F(EditorTest, CentreOfSelectionIsLoggedWithItsDistances) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  c->atoms[0].selected = c->atoms[1].selected = 1;
  const int before = GetLogStore()->PlainText().size();
  ASSERT_EQ(ProcessCommand(kCmdShowCentreOfSelection), kNoErr);
  const QString log = GetLogStore()->PlainText().mid(before);
  EXPECT_TRUE(log.contains("Mean of 2 selected atoms:-"));
  EXPECT_TRUE(log.contains(QRegularExpression("x: -?\\d+\\.\\d{6} -?\\d+\\.\\d{6} -?\\d+\\.\\d{6}  xor: ")));
  EXPECT_EQ(log.count("distance = "), 2);
  const float d = std::sqrt(std::pow(c->atoms[0].cart[0] - c->atoms[1].cart[0], 2.0f) +
                            std::pow(c->atoms[0].cart[1] - c->atoms[1].cart[1], 2.0f) +
                            std::pow(c->atoms[0].cart[2] - c->atoms[1].cart[2], 2.0f));
  EXPECT_TRUE(log.contains(QString::asprintf("Mean distance to centre of selection = %.4f A", double(d / 2))));
  EXPECT_FALSE(GetHiliteOverlay(FrontGraphWindow()).empty());
}

TEST_F(EditorTest, StyleMenusRestyleTheSelection) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  c->atoms[0].selected = 1;
  int item = 0, separator = 0;
  for (int k = 1; k <= int(std::size(gAtomStyleIconData)); ++k) {
    const int32_t style = gAtomStyleIconData[k - 1].style;
    if (style < 0)
      separator = separator ? separator : k;
    else if (!item && uint32_t(style) != c->spheres[c->atoms[0].atomType].style)
      item = k;
  }
  ASSERT_GT(item, 0);
  SetStyleMenuPicker([&](QMenu *menu, QPoint, QAction *) { return StyleMenuItem(menu, item); });
  ASSERT_EQ(ProcessCommand(kCmdAtomStyleMenu), kNoErr);
  EXPECT_EQ(c->spheres[c->atoms[0].atomType].style, uint32_t(gAtomStyleIconData[item - 1].style));
  EXPECT_NE(c->spheres[c->atoms[1].atomType].style, uint32_t(gAtomStyleIconData[item - 1].style));
  if (separator) {
    const uint32_t type = c->atoms[0].atomType;
    DoChangeAtomStyle(FrontGraphWindow(), separator); // a separator changes nothing
    EXPECT_EQ(c->atoms[0].atomType, type);
  }

  // The bond style swatch: make the current style the default, then take one from the menu.
  c->atoms[c->atoms[0].bonds.at(0)].selected = 1;
  ASSERT_EQ(ProcessCommand(kCmdCustomBondStyle), kNoErr);
  QDialog *sheet = OpenSheet("CustomBondStyle");
  ASSERT_NE(sheet, nullptr);
  QWidget *view = FindControl(sheet, 1);
  const QPoint swatch(40, view->height() / 2);
  SetStyleMenuPicker([](QMenu *menu, QPoint, QAction *) { return StyleMenuCommandItem(menu, kCmdBondStyleMakeDefault); });
  c->defaultBondStyle = 0;
  QTest::mouseClick(view, Qt::LeftButton, {}, swatch);
  EXPECT_NE(c->defaultBondStyle, 0);
  int bondItem = 0;
  for (int k = 1; k <= int(std::size(gBondStyleIconData)) && !bondItem; ++k)
    if (gBondStyleIconData[k - 1].style == 3)
      bondItem = k;
  ASSERT_GT(bondItem, 0);
  SetStyleMenuPicker([&](QMenu *menu, QPoint, QAction *) { return StyleMenuItem(menu, bondItem); });
  QTest::mouseClick(view, Qt::LeftButton, {}, swatch);
  // Style 3 draws in the atoms' colours: its colour button takes no click.
  QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(100, view->height() / 2));
  EXPECT_TRUE(gEditorHost->prompts.empty());
  Click(sheet, "okButton");
  ASSERT_EQ(c->customBondSpecCount, 1);
  EXPECT_EQ(c->customBondSpecs[0].style, 3);
  SetStyleMenuPicker({});
}

TEST_F(EditorTest, DeleteKeyRemovesSelectedMoleculeAtomsAndDuplicatesKeepBonds) {
  CrystalRec *c = OpenExample("Benzene.ovtx");
  ASSERT_NE(c, nullptr);
  ASSERT_TRUE(c->molecule);
  const int32_t atoms = c->atomCount;
  // Two bonded atoms copied 3 A up: the copies are bonded to each other.
  c->atoms[0].selected = 1;
  const uint32_t j = c->atoms[0].bonds.at(0);
  c->atoms[j].selected = 1;
  ASSERT_EQ(ProcessCommand(kCmdDuplicateAtoms), kNoErr);
  QDialog *sheet = OpenSheet("DuplicateAtoms");
  ASSERT_NE(sheet, nullptr);
  FindControl<QCheckBox>(sheet, 1)->setChecked(true);
  Type(sheet, 2, "0");
  Type(sheet, 3, "0");
  Type(sheet, 4, "3");
  Click(sheet, "okButton");
  c = GetWindowCrystal(FrontGraphWindow());
  ASSERT_EQ(c->atomCount, atoms + 2);
  std::vector<int32_t> copies;
  for (int32_t k = 0; k < c->atomCount; ++k)
    if (c->atoms[size_t(k)].selected)
      copies.push_back(k);
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_EQ(c->atoms[size_t(copies[0])].bonds, std::vector<uint32_t>{uint32_t(copies[1])});

  // The Delete key takes the selected copies away again, after asking.
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  QApplication::sendEvent(GetMainWindow(FrontGraphWindow())->GraphPane(), &del);
  ASSERT_FALSE(gEditorHost->alerts.empty());
  EXPECT_EQ(gEditorHost->alerts.back().message, "Are you sure you wish to delete the selected atoms?");
  EXPECT_EQ(GetWindowCrystal(FrontGraphWindow())->atomCount, atoms);
}

TEST_F(EditorTest, ResetCustomAtomsGivesCrystalAtomsTheirSitesTypesAgain) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  c->atoms[0].selected = 1;
  gEditorHost->colourAnswer = RGBColor{0, 0, 65535};
  ASSERT_EQ(ProcessCommand(kCmdAtomColour), kNoErr);
  gEditorHost->colourAnswer.reset();
  c = GetWindowCrystal(FrontGraphWindow());
  ASSERT_NE(c->atoms[0].atomType, c->sites[c->atoms[0].site].atomType);
  ClearWindowModified(FrontGraphWindow());
  ASSERT_EQ(ProcessCommand(kCmdResetCustomAtoms), kNoErr);
  c = GetWindowCrystal(FrontGraphWindow());
  EXPECT_EQ(c->atoms[0].atomType, c->sites[c->atoms[0].site].atomType);
  EXPECT_NE(c->spheres[c->atoms[0].atomType].colour, (RGBColor{0, 0, 65535}));
  EXPECT_TRUE(IsWindowModified(FrontGraphWindow()));
}

TEST_F(EditorTest, DoubleClickedVectorOpensTheSheetOnIt) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  c->atoms[0].selected = c->atoms[1].selected = 1;
  DefineVectorRec r;
  DoDefineVector(FrontGraphWindow(), r);
  ASSERT_EQ(c->vectorCount, 2);
  c->vectors[1].uvw[0] = 0.25f;
  ASSERT_NE(gWindowInputHooks.editVector, nullptr);
  gWindowInputHooks.editVector(FrontGraphWindow(), 1);
  QDialog *sheet = OpenSheet("DefineVector");
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(FindControl<QLineEdit>(sheet, 1)->text(), "0.25");
  EXPECT_EQ(c->vectors[1].selected, 1);
  EXPECT_EQ(c->vectors[0].selected, 0);
  Click(sheet, "cancelButton");
  gDefaultVectorRecord = DefineVectorRec{};
}
