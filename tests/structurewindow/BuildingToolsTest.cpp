// The building tools, the element picker, the view direction and the two
// small sheets, driven by mouse events on the graph pane of plotted examples
// and by their commands, with alerts, beeps and sounds recorded.
#include "structurewindow/AtomPicker.h"
#include "structurewindow/BuildingTools.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/MeasureTools.h"
#include "structurewindow/StructureSheets.h"
#include "structurewindow/StructureWindow.h"
#include "structurewindow/Tools.h"
#include "structurewindow/ViewDirection.h"
#include "structurewindow/ZapperPuff.h"
#include "shell/FileCommands.h"
#include "shell/LogStore.h"
#include "shell/QtHostServices.h"
#include "shell/EngineHooks.h"
#include "shell/Forms.h"
#include "shell/ToolCursors.h"
#include "editing/TransformCommands.h"
#include "export/ExportFrame.h"

#include "PlotRange.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "AtomOperations.h"
#include "Polyhedra.h"
#include "StructureArrays.h"
#include "ViewOrientation.h"
#include "shell/Commands.h"
#include "VectorMath.h"
#include "render/HitTesting.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProcess>
#include <QSpinBox>
#include <QTest>
#include <cmath>
#include <deque>
#include <set>
#include <gtest/gtest.h>

#include "SuiteHost.h"

namespace {

class ToolHost : public QtHostServices {
public:
  std::vector<AlertRequest> alerts;
  std::deque<int> answers;
  int beeps = 0;
  std::vector<std::string> sounds;
  std::deque<std::filesystem::path> savePaths;
  int SaveFileDialog(std::string_view, std::string_view, std::filesystem::path *file) override {
    if (savePaths.empty())
      return kUserCanceledErr;
    *file = savePaths.front();
    savePaths.pop_front();
    return 0;
  }
  int RunAlert(const AlertRequest &alert) override {
    alerts.push_back(alert);
    if (answers.empty())
      return 1;
    const int a = answers.front();
    answers.pop_front();
    return a;
  }
  void Beep() override { ++beeps; }
  void PlaySound(std::string_view name) override { sounds.emplace_back(name); }
};

ToolHost *gToolHost = nullptr;

class BuildingToolsTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!gToolHost)
      gToolHost = JoinRunningProgram<ToolHost>();
    previous_ = SetHostServices(gToolHost);
    gToolHost->alerts.clear();
    gToolHost->answers.clear();
    gToolHost->beeps = 0;
    gToolHost->sounds.clear();
    gNumSelAtoms = 0;
  }
  void TearDown() override {
    ProcessCommand(FourCharsToLong("RotT"));
    for (MainWindow *m : std::vector<MainWindow *>(AllGraphWindows())) {
      ClearWindowModified(m->Ref());
      DoCloseMainWindow(m->Ref());
    }
    QCoreApplication::processEvents();
    SetHostServices(previous_);
  }
  void Open(const char *name) {
    ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / name, nullptr));
    QCoreApplication::processEvents();
    w = GetMainWindow(FrontGraphWindow());
    ASSERT_NE(w, nullptr);
    window = w->Ref();
    w->ResizeContent(640, 480);
    w->show();
    QCoreApplication::processEvents();
    crystal = GetWindowCrystal(window);
  }
  // Atoms whose own pixel picks them.
  std::vector<int32_t> Pickable() const {
    std::vector<int32_t> out;
    for (size_t i = 0; i < crystal->atoms.size(); ++i) {
      const QPoint p = At(int32_t(i));
      int16_t kind = 0;
      int32_t index = -1, radius = 0;
      if (crystal->atoms[i].visible &&
          FindClickedObject(window, Point{int16_t(p.y()), int16_t(p.x())}, &kind, &index, &radius) &&
          kind == kHitAtom && index == int32_t(i))
        out.push_back(int32_t(i));
    }
    return out;
  }
  QPoint At(int32_t atom) const {
    return w->GraphPane()->geometry().topLeft() + QPoint(crystal->atoms[atom].pixel[0], crystal->atoms[atom].pixel[1]);
  }
  QPoint PaneCorner(int dx, int dy) const { return w->GraphPane()->geometry().topLeft() + QPoint(dx, dy); }
  void Send(QEvent::Type type, QPoint contentPoint, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget *pane = w->GraphPane();
    const QPointF local = pane->mapFrom(w->Content(), contentPoint);
    const bool held = type != QEvent::MouseButtonRelease;
    QMouseEvent e(type, local, pane->mapToGlobal(local), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  held ? Qt::LeftButton : Qt::NoButton, mods);
    QApplication::sendEvent(pane, &e);
  }
  void Click(QPoint p, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Send(QEvent::MouseButtonPress, p, mods);
    Send(QEvent::MouseButtonRelease, p, mods);
    crystal = GetWindowCrystal(window);
  }
  static int LivePuffs() {
    int n = 0;
    for (QWidget *top : QApplication::topLevelWidgets())
      n += dynamic_cast<ZapperPuffWidget *>(top) != nullptr;
    return n;
  }
  int32_t AtomLabelled(const char *label) const {
    for (size_t i = 0; i < crystal->atoms.size(); ++i)
      if (std::string(crystal->sites[crystal->atoms[i].site].label) == label)
        return int32_t(i);
    return -1;
  }
  bool BondedTo(int32_t a, int32_t b) const {
    const AtomRecord &r = crystal->atoms[a];
    return std::find(r.bonds.begin(), r.bonds.begin() + r.bondCount, uint32_t(b)) != r.bonds.begin() + r.bondCount;
  }
  void ChooseElement(const ElementCode list[10], int button) {
    DoShowAtomPickerWindow();
    DoPresetButtons(list);
    DoChangeActiveElementButton(button);
  }

  HostServices *previous_ = nullptr;
  MainWindow *w = nullptr;
  WindowRef window = nullptr;
  CrystalRec *crystal = nullptr;
};

// ---- Element picker: the first start ---------------------------------------------------

// Runs first: the palette is made once per program.
TEST_F(BuildingToolsTest, FirstPaletteStandsBesideTheToolWindowWithTheSavedButtons) {
  if (gAtomPickerWindow)
    GTEST_SKIP() << "the palette was made by an earlier test";
  static QWidget *tools = nullptr;
  tools = new QWidget(nullptr, Qt::Tool);
  tools->setGeometry(100, 100, 60, 200);
  tools->show();
  gAtomPickerHooks.toolWindow = [] { return tools; };
  gPrefs.atomPickerBounds = Rect{};
  // A list saved with an emptied first button and oxygen chosen.
  std::copy_n(gPresetOrganic, 10, gPrefs.atomPickerElements);
  gPrefs.atomPickerElements[0] = kBlankElement;
  gPrefs.atomPickerCount = 10;
  gPrefs.atomPickerChoice = TwoCharsToShort("O");
  ProcessCommand(FourCharsToLong("*AtP"));
  ASSERT_NE(gAtomPickerWindow, nullptr);
  const QRect g = tools->frameGeometry();
  EXPECT_EQ(gAtomPickerWindow->pos(), QPoint(g.right() + 1, g.top() + g.height() / 2));
  EXPECT_TRUE(AtomPickerButton(1)->text().isEmpty()) << "an emptied button stays empty";
  EXPECT_EQ(gAtomPickerActiveButtonID, 3);
  EXPECT_TRUE(AtomPickerButton(3)->isChecked());
  gAtomPickerHooks.toolWindow = nullptr;
  delete tools;
}

// ---- Add/delete bond ------------------------------------------------------------------

TEST_F(BuildingToolsTest, AddBondMakesASpecificationThenTheSecondPairDeletesItWithAPuff) {
  Open("Benzene.ovtx");
  const int32_t c1 = AtomLabelled("C1"), h2 = AtomLabelled("H2");
  ASSERT_GE(c1, 0);
  ASSERT_FALSE(BondedTo(c1, h2));
  crystal->bondSpecCount = 1; // C-C only: no C-H specification
  crystal->derived.Note(kChangeBonds); // as the bonding sheet tells its edit
  PlotCrystal(window, 1);
  ProcessCommand(FourCharsToLong("B+-T"));
  gNumSelAtoms = 2; // left over by the bond-angle tool: a fresh start
  Click(At(c1));
  EXPECT_EQ(gNumSelAtoms, 1);
  EXPECT_EQ(w->Subtitle(), "Click on a second atom to add or delete a bond");
  Click(At(c1));
  EXPECT_EQ(gToolHost->beeps, 1) << "the same atom twice beeps";
  EXPECT_EQ(gNumSelAtoms, 1);
  Click(At(h2));
  EXPECT_EQ(gNumSelAtoms, 0);
  EXPECT_TRUE(BondedTo(c1, h2) && BondedTo(h2, c1));
  // The oracle: the file's coordinates of C1 (1.3914, 0, 0) and H2 (1.2358, 2.140468, 0).
  const double d = std::hypot(1.3914 - 1.2358, 2.140468);
  ASSERT_EQ(crystal->bondSpecCount, 2);
  const BondSpec &spec = crystal->bondSpecs[1];
  EXPECT_EQ(spec.elementA, TwoCharsToShort("C"));
  EXPECT_EQ(spec.elementB, TwoCharsToShort("H"));
  EXPECT_EQ(spec.minLength, 0.0f);
  EXPECT_NEAR(spec.maxLength, 1.15 * d, 1e-4);
  EXPECT_TRUE(IsWindowModified(window));

  Click(At(c1));
  Click(At(h2));
  EXPECT_FALSE(BondedTo(c1, h2));
  EXPECT_EQ(gToolHost->sounds, std::vector<std::string>{kZapSound});
  EXPECT_EQ(LivePuffs(), 1);
}

// The bonds of the front window by the labels of their atoms.
std::set<std::pair<std::string, std::string>> LabelledBonds() {
  const CrystalRec *c = GetWindowCrystal(FrontGraphWindow());
  std::set<std::pair<std::string, std::string>> bonds;
  for (const AtomRecord &atom : c->atoms)
    for (uint32_t other : atom.bonds) {
      const std::string a = c->sites[atom.site].label, b = c->sites[c->atoms[other].site].label;
      bonds.insert(std::minmax(a, b));
    }
  return bonds;
}

// The text file keeps only the bond specifications: the Log says how many
// bonds the file gives that the window does not have, and how many it
// leaves out, as the reopened file shows them.
TEST_F(BuildingToolsTest, ATextExportSaysWhatItsSpecificationsAddAndLeaveOut) {
  Open("Benzene.ovtx");
  ProcessCommand(FourCharsToLong("B+-T"));
  gNumSelAtoms = 0;
  Click(At(AtomLabelled("C1"))); // para: the C-C maximum widens to 3.2 A
  Click(At(AtomLabelled("C4")));
  Click(At(AtomLabelled("C1"))); // deleted by hand
  Click(At(AtomLabelled("H1")));
  const auto shown = LabelledBonds();
  ASSERT_EQ(shown.size(), 12u);
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "ovtools-widened.ovtx";
  gToolHost->savePaths = {file};
  const qsizetype logBefore = GetLogStore()->PlainText().size();
  ASSERT_EQ(ProcessCommand(kCmdExportOwnText), kNoErr);
  const QString log = GetLogStore()->PlainText().mid(logBefore);

  ASSERT_TRUE(OpenFSRefInWindow(file, nullptr));
  std::filesystem::remove(file);
  const auto reopened = LabelledBonds();
  std::vector<std::pair<std::string, std::string>> added, dropped;
  std::set_difference(reopened.begin(), reopened.end(), shown.begin(), shown.end(), std::back_inserter(added));
  std::set_difference(shown.begin(), shown.end(), reopened.begin(), reopened.end(), std::back_inserter(dropped));
  ASSERT_EQ(added.size(), 9u) << "six meta, two more para and the deleted C-H";
  EXPECT_TRUE(log.contains(QString("%1 bonds that this structure does not have come with the text file").arg(added.size())))
      << log.toStdString();
  EXPECT_EQ(dropped.size(), 0u);
  EXPECT_FALSE(log.contains("not written")) << log.toStdString();
}

TEST_F(BuildingToolsTest, AFullSpecificationTableAlertsButTheBondIsMade) {
  Open("Benzene.ovtx");
  const int32_t c1 = AtomLabelled("C1"), h2 = AtomLabelled("H2");
  BondSpec xenon;
  xenon.elementA = xenon.elementB = TwoCharsToShort("Xe");
  xenon.maxLength = 1.0f;
  for (int k = 0; k < kMaxBondSpecs; ++k)
    crystal->bondSpecs[size_t(k)] = xenon;
  crystal->bondSpecCount = kMaxBondSpecs;
  crystal->derived.Note(kChangeBonds); // as the bonding sheet tells its edit
  ProcessCommand(FourCharsToLong("B+-T"));
  Click(At(c1));
  Click(At(h2));
  ASSERT_EQ(gToolHost->alerts.size(), 1u);
  EXPECT_EQ(gToolHost->alerts[0].message, "Cannot create new bond specification");
  EXPECT_EQ(gToolHost->alerts[0].explanation, "Maximum number of specifications reached");
  EXPECT_TRUE(BondedTo(c1, h2));
  EXPECT_EQ(gNumSelAtoms, 0);
}

TEST_F(BuildingToolsTest, ShiftBondInACrystalRegeneratesBondsAndAMinimumAboveTheBondDrops) {
  Open("NaCl.ovtx");
  const std::vector<int32_t> atoms = Pickable();
  ASSERT_GE(atoms.size(), 2u);
  // A Na and a Cl that are not bonded, the farther the better.
  int32_t a = -1, b = -1;
  float far = 0;
  for (int32_t i : atoms)
    for (int32_t j : atoms)
      if (crystal->sites[crystal->atoms[i].site].elements[0] == TwoCharsToShort("Na") &&
          crystal->sites[crystal->atoms[j].site].elements[0] == TwoCharsToShort("Cl") && !BondedTo(i, j)) {
        const float dx = crystal->atoms[i].cart[0] - crystal->atoms[j].cart[0],
                    dy = crystal->atoms[i].cart[1] - crystal->atoms[j].cart[1],
                    dz = crystal->atoms[i].cart[2] - crystal->atoms[j].cart[2];
        if (std::sqrt(dx * dx + dy * dy + dz * dz) > far)
          far = std::sqrt(dx * dx + dy * dy + dz * dz), a = i, b = j;
      }
  ASSERT_GE(a, 0);
  const BondSpec before = crystal->bondSpecs[0];
  ProcessCommand(FourCharsToLong("B+-T"));
  Click(At(a));
  Click(At(b));
  EXPECT_TRUE(BondedTo(a, b)) << "without Shift only that bond";
  EXPECT_EQ(crystal->bondSpecs[0].maxLength, before.maxLength) << "and the specifications stay";

  // With Shift, a minimum above the new bond's length drops below it, so
  // the bond survives the regeneration.
  Click(At(a));
  Click(At(b)); // deleted again
  crystal->bondSpecs[0].minLength = far * 1.5f;
  Click(At(a), Qt::ShiftModifier);
  Click(At(b), Qt::ShiftModifier);
  EXPECT_LT(crystal->bondSpecs[0].minLength, far);
  EXPECT_NEAR(crystal->bondSpecs[0].maxLength, 1.15f * far, 1e-3);
  EXPECT_TRUE(BondedTo(a, b));
}

// ---- Add atom -------------------------------------------------------------------------

TEST_F(BuildingToolsTest, ShiftAddingAtomsBuildsAChainAndAnEmptyButtonAddsNothing) {
  Open("Benzene.ovtx");
  ProcessCommand(FourCharsToLong("At+T"));
  ChooseElement(gPresetOrganic, 8); // empty: the organic preset leaves 7 to 10 empty
  ChooseElement(gPresetOrganic, 1);
  DoPresetButtons(gPresetOrganic);
  ASSERT_EQ(gAtomPickerActiveButtonID, 1);
  AtomPickerButton(1)->setText("");
  const int32_t n = crystal->atomCount;
  Click(PaneCorner(40, 40));
  EXPECT_EQ(crystal->atomCount, n) << "an emptied active button chooses nothing";
  ASSERT_EQ(gToolHost->alerts.size(), 1u);
  EXPECT_EQ(gToolHost->alerts[0].message, "Please choose an atom from the palette");

  ChooseElement(gPresetOrganic, 1); // carbon
  const QRgb background = w->GraphPane()->grab().toImage().pixel(40, 40);
  Click(PaneCorner(40, 40));
  ASSERT_EQ(crystal->atomCount, n + 1);
  const int32_t first = AtomLabelled("C13");
  ASSERT_GE(first, 0) << "the new site is numbered after the others";
  EXPECT_EQ(ShownPolyMode(crystal->sites[crystal->atoms[first].site]), 2u);
  // The pane shows the new atom, highlighted, where it now stands.
  const QImage shown = w->GraphPane()->grab().toImage();
  const QPoint at(crystal->atoms[first].pixel[0], crystal->atoms[first].pixel[1]);
  EXPECT_NE(shown.pixel(at), background);
  Click(PaneCorner(80, 40), Qt::ShiftModifier);
  ASSERT_EQ(crystal->atomCount, n + 2);
  Click(PaneCorner(120, 60), Qt::ShiftModifier);
  ASSERT_EQ(crystal->atomCount, n + 3);
  const int32_t second = AtomLabelled("C14"), third = AtomLabelled("C15");
  EXPECT_TRUE(BondedTo(AtomLabelled("C13"), second));
  EXPECT_TRUE(BondedTo(second, third));
  EXPECT_FALSE(BondedTo(AtomLabelled("C13"), third));
  EXPECT_TRUE(IsWindowModified(window));
}

TEST_F(BuildingToolsTest, ChoosingTheAddAtomToolShowsThePickerAndTheFirstClickAdds) {
  Open("Benzene.ovtx");
  if (gAtomPickerWindow)
    gAtomPickerWindow->hide();
  ProcessCommand(FourCharsToLong("At+T"));
  ASSERT_TRUE(gAtomPickerWindow && gAtomPickerWindow->isVisible());
  DoPresetButtons(gPresetOrganic);
  DoChangeActiveElementButton(1);
  const int32_t n = crystal->atomCount;
  Click(PaneCorner(40, 40));
  EXPECT_EQ(crystal->atomCount, n + 1);
  EXPECT_TRUE(gToolHost->alerts.empty());
}

TEST_F(BuildingToolsTest, TheAddAtomToolAddsNothingOnACrystalsAtom) {
  Open("NaCl.ovtx");
  ProcessCommand(FourCharsToLong("At+T"));
  ChooseElement(gPresetHalides, 6); // F
  const std::vector<int32_t> atoms = Pickable();
  ASSERT_FALSE(atoms.empty());
  const int32_t sites = crystal->siteCount;
  Click(At(atoms[0]));
  EXPECT_EQ(crystal->siteCount, sites);
  EXPECT_TRUE(gToolHost->alerts.empty()) << "not even the question about the symmetry";
}

TEST_F(BuildingToolsTest, EachToolShowsItsOwnCursor) {
  Open("NaCl.ovtx");
  const struct {
    const char *tool;
    CocoaCursor cursor;
    Qt::KeyboardModifiers modifiers;
  } cases[] = {{"MovT", kMoveToolCursor, {}},          {"MagT", kMagnifyZoomInCursor, {}},
               {"MagT", kMagnifyZoomOutCursor, Qt::ShiftModifier}, {"MagT", kMagnifyZoomOutCursor, Qt::AltModifier},
               {"ZapT", kZapperCursor, {}},            {"At+T", kAddAtomCursor, {}},
               {"B+-T", kAddDeleteBondCursor, {}}};
  QWidget *pane = w->GraphPane();
  for (const auto &c : cases) {
    ProcessCommand(FourCharsToLong(c.tool));
    const QPointF local = pane->mapFrom(w->Content(), PaneCorner(30, 30));
    QMouseEvent move(QEvent::MouseMove, local, pane->mapToGlobal(local), Qt::NoButton, Qt::NoButton, c.modifiers);
    QApplication::sendEvent(pane, &move);
    ASSERT_NE(QApplication::overrideCursor(), nullptr) << c.tool;
    EXPECT_EQ(QApplication::overrideCursor()->pixmap().toImage(), ToolCursor(c.cursor).pixmap().toImage())
        << c.tool << " with modifiers " << int(c.modifiers);
  }
  SetCocoaCursor(kArrowCursor);
}

TEST_F(BuildingToolsTest, AddingToASymmetricCrystalAsksFirstAndDecliningAddsNothing) {
  Open("NaCl.ovtx");
  ProcessCommand(FourCharsToLong("At+T"));
  ChooseElement(gPresetHalides, 6); // F
  const int32_t sites = crystal->siteCount;
  gToolHost->answers = {2}; // Cancel
  Click(PaneCorner(30, 30));
  ASSERT_EQ(gToolHost->alerts.size(), 1u);
  EXPECT_EQ(crystal->siteCount, sites);
  gToolHost->answers = {1}; // Continue
  Click(PaneCorner(30, 30));
  crystal = GetWindowCrystal(window);
  const int32_t after = crystal->siteCount;
  EXPECT_GT(after, sites);
  bool found = false;
  for (const AsymmetricUnitRecord &s : crystal->sites)
    if (s.elements[0] == TwoCharsToShort("F")) {
      found = true;
      for (float x : s.xyz)
        EXPECT_TRUE(x >= 0.0f && x < 1.0f);
      EXPECT_EQ(std::string(s.label), "F" + std::to_string(after));
    }
  EXPECT_TRUE(found);
  // Now P 1: the next atom goes in without asking.
  Click(PaneCorner(60, 30));
  EXPECT_EQ(gToolHost->alerts.size(), 2u);
  EXPECT_EQ(GetWindowCrystal(window)->siteCount, after + 1);
}

TEST_F(BuildingToolsTest, AddAtomInAnEmptyWindowMakesAMoleculeFirst) {
  WindowRef fresh = OpenMainWindow(nullptr, true);
  ASSERT_NE(fresh, nullptr);
  w = GetMainWindow(fresh);
  window = fresh;
  w->ResizeContent(640, 480);
  QCoreApplication::processEvents();
  ChooseElement(gPresetOrganic, 3); // O
  ProcessCommand(FourCharsToLong("At+T"));
  Click(PaneCorner(100, 100));
  crystal = GetWindowCrystal(window);
  ASSERT_TRUE(crystal->molecule);
  ASSERT_EQ(crystal->atomCount, 1);
  EXPECT_EQ(std::string(crystal->sites[0].label), "O1");
}

// ---- Zapper, move, magnify ---------------------------------------------------------------

TEST_F(BuildingToolsTest, ZapperHidesOnlyWhenReleasedOverItsTarget) {
  Open("Benzene.ovtx");
  const std::vector<int32_t> atoms = Pickable();
  ASSERT_FALSE(atoms.empty());
  const int32_t a = atoms[0];
  ProcessCommand(FourCharsToLong("ZapT"));
  Send(QEvent::MouseButtonPress, At(a));
  EXPECT_EQ(w->Subtitle(), "Release mouse inside selected region to hide the atom");
  Send(QEvent::MouseButtonRelease, At(a) + QPoint(60, 60));
  EXPECT_TRUE(crystal->atoms[a].visible) << "released away: no zap";
  EXPECT_TRUE(gToolHost->sounds.empty());
  Click(At(a));
  EXPECT_FALSE(crystal->atoms[a].visible);
  EXPECT_EQ(gToolHost->sounds.size(), 1u);
  EXPECT_GE(LivePuffs(), 1);
}

TEST_F(BuildingToolsTest, ZapperLeavesAVertexOnlyAtomOfThePolyhedralModel) {
  Open("Rutile.ovtx");
  for (AsymmetricUnitRecord &site : crystal->sites)
    SetGivenPolyMode(site, site.elements[0] == TwoCharsToShort("Ti") ? 1 : 2); // titanium only a vertex
  crystal->modelType = kPolyhedralModel;
  DefinePolyhedra(crystal);
  NewPlot(window, false, true);
  int32_t vertex = -1;
  for (size_t i = 0; i < crystal->atoms.size() && vertex < 0; ++i)
    if (crystal->atoms[i].visible && AtomPolyhedron(crystal, crystal->atoms[i]) &&
        GetAtomDisplayClass(*crystal, crystal->atoms[i]) == kVertexOnlyClass)
      vertex = int32_t(i);
  ASSERT_GE(vertex, 0);
  ProcessCommand(FourCharsToLong("ZapT"));
  Send(QEvent::MouseButtonPress, At(vertex));
  EXPECT_NE(w->Subtitle(), "Release mouse inside selected region to hide the atom");
  Send(QEvent::MouseButtonRelease, At(vertex));
  EXPECT_TRUE(crystal->atoms[vertex].visible);
  EXPECT_TRUE(gToolHost->sounds.empty());
}

TEST_F(BuildingToolsTest, MoveFollowsTheMouseAndMagnifyZoomsAboutTheClickWithinBounds) {
  Open("Benzene.ovtx");
  ProcessCommand(FourCharsToLong("MovT"));
  const float cx = crystal->plotCentre[0], cy = crystal->plotCentre[1], scale = crystal->plotScale;
  Send(QEvent::MouseButtonPress, PaneCorner(100, 100));
  Send(QEvent::MouseMove, PaneCorner(110, 105));
  Send(QEvent::MouseButtonRelease, PaneCorner(110, 105));
  EXPECT_NEAR(crystal->plotCentre[0], cx - 10 / scale, 1e-4);
  EXPECT_NEAR(crystal->plotCentre[1], cy + 5 / scale, 1e-4);

  ProcessCommand(FourCharsToLong("MagT"));
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  const float x0 = crystal->plotCentre[0], y0 = crystal->plotCentre[1];
  const QPoint p = PaneCorner(200, 150);
  // The Cartesian point under the press, from the projection's own terms.
  const float wantX = x0 + (200 - 0.5f * pane.Width()) / scale;
  const float wantY = y0 + (0.5f * pane.Height() - 150) / scale;
  Click(p, Qt::AltModifier);
  EXPECT_FLOAT_EQ(crystal->plotScale, scale * 0.5f);
  EXPECT_NEAR(crystal->plotCentre[0], wantX, 1.0f / scale);
  EXPECT_NEAR(crystal->plotCentre[1], wantY, 1.0f / scale);

  ASSERT_TRUE(DoChangePlotScale(crystal, 400.0f));
  const float before[2] = {crystal->plotCentre[0], crystal->plotCentre[1]};
  Click(p);
  EXPECT_EQ(crystal->plotScale, 400.0f) << "800 pixels per angstrom is past the interactive bound";
  EXPECT_EQ(crystal->plotCentre[0], before[0]);
  EXPECT_EQ(crystal->plotCentre[1], before[1]);
}

// ---- Element picker -------------------------------------------------------------------------

TEST_F(BuildingToolsTest, PickerButtonsMenusAndSavedList) {
  for (const char *good : {"OH", "Cl", "C"})
    EXPECT_TRUE(VerifyElementText(good)) << good;
  for (const char *bad : {"cl", "CL", "C1", "Cla", ""})
    EXPECT_FALSE(VerifyElementText(bad)) << bad;

  ChooseElement(gPresetOrganic, 2);
  for (int id = 7; id <= 10; ++id)
    EXPECT_TRUE(AtomPickerButton(id)->text().isEmpty());
  ProcessCommand(FourCharsToLong("Use5")); // S
  EXPECT_EQ(gAtomPickerActiveButtonID, 5);
  ProcessCommand(FourCharsToLong("Use8")); // empty
  EXPECT_EQ(gAtomPickerActiveButtonID, 5);
  ProcessCommand(FourCharsToLong("MSil"));
  EXPECT_EQ(AtomPickerButton(2)->text(), "Si");

  // The element menu: an element another button shows beeps; "None" empties.
  QString pick;
  gAtomPickerHooks.popUpMenu = [&pick](QMenu *menu, const QPoint &) -> QAction * {
    for (QAction *a : menu->actions())
      if (a->text() == pick)
        return a;
    return nullptr;
  };
  pick = "O";
  DoContextualClickOnElementButton(9);
  EXPECT_EQ(gToolHost->beeps, 1);
  EXPECT_TRUE(AtomPickerButton(9)->text().isEmpty());
  pick = "Cu";
  DoContextualClickOnElementButton(9);
  EXPECT_EQ(AtomPickerButton(9)->text(), "Cu");
  pick = "None";
  DoContextualClickOnElementButton(1);
  EXPECT_TRUE(AtomPickerButton(1)->text().isEmpty());

  // "Other": an invalid symbol alerts and the dialog stays; a valid one is taken.
  pick = "Other…";
  gAtomPickerHooks.runModal = [](QDialog *d) {
    auto *other = static_cast<OtherPickerDialog *>(d);
    other->SetElementText("C1");
    other->Ok();
    EXPECT_EQ(other->result(), 0) << "still open";
    other->SetElementText("Hg");
    other->Ok();
    return other->result();
  };
  DoContextualClickOnElementButton(10);
  EXPECT_EQ(AtomPickerButton(10)->text(), "Hg");
  ASSERT_EQ(gToolHost->alerts.size(), 1u);
  EXPECT_EQ(gToolHost->alerts[0].message, "Invalid element symbol");

  // Press and hold: the timer opens the same menu; an early release only activates.
  pick = "Zn";
  ElementButton *six = AtomPickerButton(6);
  QTest::mousePress(six, Qt::LeftButton);
  EXPECT_TRUE(six->HoldTimer().isActive());
  EXPECT_EQ(six->HoldTimer().interval(), kAtomPickerHoldMs);
  six->MouseStillDownTimerProc();
  EXPECT_EQ(six->text(), "Zn");
  QTest::mouseRelease(six, Qt::LeftButton);
  pick = "Pb";
  QTest::mouseClick(AtomPickerButton(7), Qt::LeftButton);
  EXPECT_FALSE(AtomPickerButton(7)->HoldTimer().isActive());
  EXPECT_EQ(AtomPickerButton(7)->text(), "Fe");
  EXPECT_EQ(gAtomPickerActiveButtonID, 7);

  // Saved: all ten in order, an emptied button as two blanks.
  SaveAtomPickerWindowPrefs();
  EXPECT_EQ(gPrefs.atomPickerCount, 10);
  EXPECT_EQ(gPrefs.atomPickerElements[0], kBlankElement);
  EXPECT_EQ(gPrefs.atomPickerElements[9], TwoCharsToShort("Hg"));
  EXPECT_EQ(gPrefs.atomPickerChoice, TwoCharsToShort("Fe"));
  gAtomPickerHooks.popUpMenu = nullptr;
  gAtomPickerHooks.runModal = nullptr;

  // The disc: diameter height - 12, 6 below the top, 7 inside the right edge.
  const QRect disc = six->DiscRect();
  EXPECT_EQ(disc.width(), six->height() - 12);
  EXPECT_EQ(disc.top(), 6);
  EXPECT_EQ(disc.right() + 1, six->width() - 7);
}

// ---- View direction ---------------------------------------------------------------------------

// Cartesian of a fractional vector through the structure's orientation.
std::array<float, 3> Cart(const CrystalRec *c, const float v[3]) {
  std::array<float, 3> out{};
  MatMul(c->orientationMatrix, v, out.data());
  return out;
}

double Angle(const std::array<float, 3> &a, const std::array<float, 3> &b) {
  const double dot = double(a[0]) * b[0] + double(a[1]) * b[1] + double(a[2]) * b[2];
  const double na = std::sqrt(double(a[0]) * a[0] + double(a[1]) * a[1] + double(a[2]) * a[2]);
  const double nb = std::sqrt(double(b[0]) * b[0] + double(b[1]) * b[1] + double(b[2]) * b[2]);
  return std::acos(std::clamp(dot / (na * nb), -1.0, 1.0)) * 180.0 / M_PI;
}

// gemmi's angles, in the cell of the structure, between [011] and [100] and
// between the normal of (100) and [001].
std::vector<double> GemmiAngles(const CrystalRec *c) {
  QProcess python;
  const QString script = QString(R"(
import gemmi, math
cell = gemmi.UnitCell(%1, %2, %3, %4, %5, %6)
def angle(p, q):
    return math.degrees(math.acos(p.dot(q) / (p.length() * q.length())))
d = cell.orthogonalize(gemmi.Fractional(0, 1, 1))
a = cell.orthogonalize(gemmi.Fractional(1, 0, 0))
c = cell.orthogonalize(gemmi.Fractional(0, 0, 1))
n = gemmi.Position(*cell.fractionalization_matrix.transpose().multiply(gemmi.Vec3(1, 0, 0)).tolist())
print(angle(d, a), angle(n, c))
)").arg(c->a).arg(c->b).arg(c->c).arg(c->alpha).arg(c->beta).arg(c->gamma);
  python.start("/usr/bin/python3", {"-c", script});
  python.waitForFinished(30000);
  std::vector<double> out;
  for (const QString &v : QString::fromUtf8(python.readAllStandardOutput()).split(' ', Qt::SkipEmptyParts))
    out.push_back(v.toDouble());
  return out;
}

TEST_F(BuildingToolsTest, MenuDirectionsLookAlongTheVectorWithTheVerticalUp) {
  Open("Quartz.ovtx"); // hexagonal: an oblique cell
  DoSetViewDirectionFromMenu(window, 0, 1, 1, true);
  const float uvw[3] = {0, 1, 1}, up[3] = {1, 0, 0};
  auto view = Cart(crystal, uvw), vertical = Cart(crystal, up);
  const float n = std::sqrt(view[0] * view[0] + view[1] * view[1] + view[2] * view[2]);
  EXPECT_NEAR(view[0] / n, 0, 1e-4);
  EXPECT_NEAR(view[1] / n, 0, 1e-4);
  EXPECT_NEAR(std::fabs(view[2] / n), 1, 1e-4);
  EXPECT_NEAR(vertical[0], 0, 1e-3) << "[100] stays vertical for [011]";
  EXPECT_GT(vertical[1], 0);
  const std::vector<double> gemmi = GemmiAngles(crystal);
  ASSERT_EQ(gemmi.size(), 2u);
  EXPECT_NEAR(Angle(view, vertical), gemmi[0], 1e-3);

  // [210] is not in the table: [001] stays vertical. A plane normal: the
  // reciprocal vector G^-1 (hkl) lies along the screen's z axis.
  DoSetViewDirectionFromMenu(window, 2, 1, 0, true);
  const float c001[3] = {0, 0, 1};
  vertical = Cart(crystal, c001);
  EXPECT_NEAR(vertical[0], 0, 1e-3);
  EXPECT_GT(vertical[1], 0);
  ASSERT_EQ(ProcessCommand(FourCharsToLong("P100")), 0);
  float inverse[9];
  ASSERT_TRUE(Inv3x3Mat(crystal->metricTensor, inverse));
  const float hkl[3] = {1, 0, 0};
  float recip[3];
  MatMul(inverse, hkl, recip);
  view = Cart(crystal, recip);
  EXPECT_NEAR(view[0], 0, 1e-4);
  EXPECT_NEAR(view[1], 0, 1e-4);
  EXPECT_NEAR(Angle(view, Cart(crystal, c001)), gemmi[1], 1e-3);
}

TEST_F(BuildingToolsTest, ViewAlongSelectionTakesTheFirstTwoInDepthOrder) {
  Open("Benzene.ovtx");
  std::vector<int32_t> order;
  for (int32_t k = 0; k < crystal->sortIndexCount; ++k)
    if (crystal->sortIndex[k].kind == kSortItemAtom)
      order.push_back(int32_t(crystal->sortIndex[k].index));
  ASSERT_GE(order.size(), 3u);
  for (int k = 0; k < 3; ++k)
    crystal->atoms[order[k]].selected = 1;
  const AtomRecord a = crystal->atoms[order[0]], b = crystal->atoms[order[1]];
  const int before = GetLogStore()->PlainText().size();
  ProcessCommand(FourCharsToLong("VASl"));
  char want[200];
  std::snprintf(want, sizeof want, "Setting view direction parallel to %s -> %s vector [%.4f %.4f %.4f]",
                crystal->sites[a.site].label, crystal->sites[b.site].label, b.xyz[0] - a.xyz[0], b.xyz[1] - a.xyz[1],
                b.xyz[2] - a.xyz[2]);
  EXPECT_TRUE(GetLogStore()->PlainText().mid(before).contains(want));
  // Two selected atoms at the same place: a beep, no change.
  for (AtomRecord &atom : crystal->atoms)
    atom.selected = 0;
  crystal->atoms[0].selected = crystal->atoms[1].selected = 1;
  std::copy_n(crystal->atoms[0].xyz, 3, crystal->atoms[1].xyz);
  crystal->derived.Note(kChangeAtoms);
  const float view[3] = {crystal->viewDirection[0], crystal->viewDirection[1], crystal->viewDirection[2]};
  DoViewAlongSelection(window);
  EXPECT_EQ(gToolHost->beeps, 1);
  EXPECT_EQ(crystal->viewDirection[2], view[2]);
}

TEST_F(BuildingToolsTest, ViewDirectionSheetFieldsCommandsAndAlert) {
  Open("Rutile.ovtx");
  const float view[3] = {1, 0.5f, 0}, vertical[3] = {0, 0, 1}, hkl[3] = {1, 1, 0};
  gShowVertDirection = true;
  QDialog *sheet = ShowViewDirectionSheet(window, view, vertical, hkl);
  ASSERT_NE(sheet, nullptr);
  auto text = [sheet](int id) { return FindControl<QLineEdit>(sheet, id)->text(); };
  EXPECT_EQ(text(12), "0.5");
  EXPECT_EQ(text(23), "1");
  ViewDirectionSheetCommand(sheet, FourCharsToLong("Pdsp"));
  EXPECT_EQ(text(11) + text(12) + text(13), "110");
  EXPECT_EQ(FindControl<QLabel>(sheet, 16)->text(), "h");
  const int tall = sheet->height(), group = FindControl(sheet, 20)->height();
  FindControl<QCheckBox>(sheet, 19)->setChecked(false);
  EXPECT_EQ(sheet->height(), tall - group);
  EXPECT_FALSE(gShowVertDirection);
  ToggleVertDirection(sheet, true);
  EXPECT_EQ(sheet->height(), tall);

  for (int id : {11, 12, 13})
    FindControl<QLineEdit>(sheet, id)->setText("0");
  ViewDirectionSheetCommand(sheet, FourCharsToLong("ok  "));
  ASSERT_EQ(gToolHost->alerts.size(), 1u);
  EXPECT_EQ(gToolHost->alerts[0].message, "Illegal direction indices!");
  EXPECT_TRUE(sheet->isVisible());
  ViewDirectionSheetCommand(sheet, FourCharsToLong("V001"));
  ViewDirectionSheetCommand(sheet, FourCharsToLong("ok  "));
  QCoreApplication::processEvents();
  const float c001[3] = {0, 0, 1};
  auto along = Cart(crystal, c001);
  EXPECT_NEAR(along[0], 0, 1e-4);
  EXPECT_NEAR(along[1], 0, 1e-4);
}

// ---- Copy Graphics and Insert Space -------------------------------------------------------------

TEST_F(BuildingToolsTest, CopyGraphicsFieldsFollowEachOtherAndCopyAtTheSize) {
  Open("Benzene.ovtx");
  gScaleOutputPercent = 100;
  Rect image;
  GetWindowOffBounds(window, &image);
  QDialog *sheet = ShowCopyGraphicsSheet(window);
  ASSERT_NE(sheet, nullptr);
  auto field = [sheet](int id) { return FindControl<QLineEdit>(sheet, id); };
  field(6)->setText(QString("%1 px").arg(2 * image.Width()));
  UpdateTextWithControl(sheet, field(6));
  EXPECT_EQ(field(8)->text(), QString("%1 px").arg(2 * image.Height()));
  EXPECT_EQ(field(4)->text(), "200%");
  field(4)->setText("1%");
  FindControl<QSpinBox>(sheet, 5)->stepDown();
  EXPECT_EQ(field(4)->text(), "1%") << "0 is not positive";

  field(6)->setText("20000 px");
  StructureSheetCommand(sheet, FourCharsToLong("ok  "));
  ASSERT_EQ(gToolHost->alerts.size(), 1u) << "a picture beyond the cap is refused";
  field(4)->setText("50%");
  UpdateTextWithControl(sheet, field(4));
  StructureSheetCommand(sheet, FourCharsToLong("ok  "));
  EXPECT_EQ(gScaleOutputPercent, 50.0f);
  const QImage copied = QApplication::clipboard()->image();
  EXPECT_EQ(copied.width(), int(std::lround(image.Width() * 0.5)));
  EXPECT_EQ(copied.height(), int(std::lround(image.Height() * 0.5)));
}

TEST_F(BuildingToolsTest, InsertSpaceClampsItsArrowsAndWantsMoreThanTheMinimum) {
  Open("Rutile.ovtx");
  static float inserted = -1;
  const auto installed = gStructureSheetHooks.insertSpace;
  gStructureSheetHooks.insertSpace = [](WindowRef, float width) { inserted = width; };
  QDialog *sheet = ShowInsertSpaceSheet(window, 0.05f, 0.0f);
  auto *field = FindControl<QLineEdit>(sheet, 1);
  EXPECT_EQ(field->text(), "0.05");
  FindControl<QSpinBox>(sheet, 2)->stepDown();
  EXPECT_EQ(field->text(), "0.01");
  field->setText("9999.95");
  FindControl<QSpinBox>(sheet, 2)->stepUp();
  EXPECT_EQ(field->text(), "10000.00");
  field->setText("0");
  StructureSheetCommand(sheet, FourCharsToLong("ok  "));
  ASSERT_EQ(gToolHost->alerts.size(), 1u);
  EXPECT_EQ(gToolHost->alerts[0].message, "Please enter a valid width");
  EXPECT_EQ(gToolHost->alerts[0].explanation, "Width must be greater than 0.00 Å");
  EXPECT_EQ(inserted, -1.0f);
  field->setText("2.5");
  StructureSheetCommand(sheet, FourCharsToLong("ok  "));
  EXPECT_EQ(inserted, 2.5f);
  gStructureSheetHooks.insertSpace = installed;
}

TEST_F(BuildingToolsTest, TheTransformMenuOpensTheInsertSpaceAndViewDirectionSheets) {
  Open("Rutile.ovtx");
  CrystalRec &c = *GetWindowCrystal(window);
  ProcessCommand(kCmdToggleLatticePlane);
  ASSERT_TRUE(c.plane.shown);
  const float cell[3] = {c.a, c.b, c.c};
  ProcessCommand(kCmdInsertSpace);
  auto sheets = w->findChildren<QDialog *>();
  ASSERT_EQ(sheets.size(), 1u) << "the Insert Space sheet";
  FindControl<QLineEdit>(sheets[0], 1)->setText("2.5");
  StructureSheetCommand(sheets[0], FourCharsToLong("ok  "));
  QCoreApplication::processEvents();
  EXPECT_GT(c.a + c.b + c.c, cell[0] + cell[1] + cell[2] + 1.0f) << "space inserted";
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ProcessCommand(kCmdViewDirectionSheet);
  const auto open = w->findChildren<QDialog *>();
  EXPECT_EQ(open.size(), 1u) << "the View Direction sheet";
  for (QDialog *sheet : open)
    sheet->reject();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ClearWindowModified(window);
}

} // namespace
