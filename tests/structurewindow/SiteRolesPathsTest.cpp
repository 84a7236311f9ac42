// Every site's polyhedron mode is the one the open gives, however the
// structure got where it is: built again, a change undone, saved and opened
// again, or a polyhedron made from a selection before the polyhedral model
// ever drew it. The modes are read from the documents the window saves.
// thpp has sites with more atoms within bond reach than bonds, whose roles
// are asked of the whole crystal; sucrose and the three-frame trajectory
// are files whose rebuilt roles once differed from the open's.
#include "ExampleWindowsTest.h"

#include "AtomContainers.h"
#include "BuildPipeline.h"
#include "DerivedLayers.h"
#include "Polyhedra.h"
#include "StructureArrays.h"
#include "documents/CrystalDocument.h"
#include "documents/UndoHistory.h"
#include "editing/FragmentCommandHandler.h"
#include "editing/PolyhedronSheet.h"
#include "editing/SelectionCommandHandler.h"
#include "editing/TransformSheets.h"
#include "render/HitTesting.h"
#include "RenderServices.h"
#include "render/PlotPipeline.h"
#include "structurewindow/AnnotationEditing.h"
#include "structurewindow/BuildingTools.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/MeasureTools.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

namespace {

const std::filesystem::path kData = OV_TEST_DATA;
const std::filesystem::path kThpp = kData / "bonds" / "thpp.ins";
// libavogadro-data installs it; In3 and In4 name one place.
const std::filesystem::path kIndium = "/usr/share/avogadro2/crystals/elements/In-Indium.cif";

// Site label to saved polyhedron mode, as the document's bytes hold them.
std::map<std::string, uint32_t> SavedModes(const std::string &bytes) {
  CrystalRec read;
  std::string why;
  EXPECT_TRUE(DecodeCrystalDocument(std::vector<uint8_t>(bytes.begin(), bytes.end()), read, nullptr, &why)) << why;
  std::map<std::string, uint32_t> modes;
  for (size_t s = 0; s < UsableSiteSize(read); s++)
    modes[read.sites[s].label] = ShownPolyMode(read.sites[s]);
  return modes;
}

// The sites of `opened` that `other` gives another mode, "label open/other".
std::string Differences(const std::map<std::string, uint32_t> &opened, const std::map<std::string, uint32_t> &other) {
  std::string out;
  for (const auto &[label, mode] : opened) {
    auto it = other.find(label);
    if (it == other.end())
      out += " " + label + " missing";
    else if (it->second != mode)
      out += " " + label + " " + std::to_string(mode) + "/" + std::to_string(it->second);
  }
  return out;
}

class SiteRolesPathsTest : public ExampleWindowsTest {
protected:
  void Walk(int path) {
    switch (path) {
    case 0: // what every command that builds the structure again runs
      ASSERT_TRUE(RunNewCrystal(FrontGraphWindow(), false, false, false));
      break;
    case 1:
      ASSERT_EQ(ProcessCommand(kCmdAddAnnotationTextbox), kNoErr);
      UndoBufferTimerProc();
      ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
      break;
    case 2:
      SaveAs("again.ovdf");
      CloseAllStructureWindows();
      ASSERT_NE(Open(dialogs.saveFile), nullptr);
      break;
    default: {
      // The atoms bonded to the first atom of C10: a new site among them,
      // bonded to them by new specifications.
      CrystalRec &c = *GetWindowCrystal(FrontGraphWindow());
      int selected = 0;
      for (size_t s = 0; s < c.sites.size() && !selected; s++)
        if (std::string(c.sites[s].label) == "C10")
          for (uint32_t b : c.atoms[static_cast<size_t>(c.sites[s].firstAtom)].bonds) {
            c.atoms[b].selected = 1;
            ++selected;
          }
      ASSERT_GE(selected, 2);
      ASSERT_EQ(ProcessCommand(kCmdPolyhedronFromSelection), kNoErr);
      QDialog *sheet = OpenSheet(GetMainWindow(FrontGraphWindow()));
      ASSERT_NE(sheet, nullptr);
      MakePolyhedronSheetCommand(sheet, kSheetOK);
      QCoreApplication::processEvents();
      ASSERT_EQ(GetWindowCrystal(FrontGraphWindow())->siteCount, 18);
    }
    }
  }
};

TEST_F(SiteRolesPathsTest, EveryPathGivesTheSitesTheModesOfTheOpen) {
  const struct {
    std::filesystem::path file;
    size_t sites;
    int paths; // the polyhedron from a selection is thpp's alone
  } cases[] = {
      {kThpp, 17, 4},
      {kData / "import" / "shelx" / "cctbx_sucrose_p1.res", 90, 3},
      {kData / "bonds" / "HISTORY_classic", 3, 3},
      // Bonded by a specification that reaches contacts the rule leaves out.
      {kIndium, 3, 3},
  };
  const char *const paths[] = {"built again", "a change undone", "saved and opened again",
                                "a polyhedron from a selection"};
  for (const auto &c : cases) {
    CloseAllStructureWindows();
    ASSERT_NE(Open(c.file), nullptr) << c.file;
    const std::map<std::string, uint32_t> opened = SavedModes(SaveAs("opened.ovdf"));
    ASSERT_EQ(opened.size(), c.sites) << c.file;
    for (int path = 0; path < c.paths; path++) {
      // Opened afresh: the polyhedral model has not drawn it, nothing has
      // asked for its roles.
      CloseAllStructureWindows();
      ASSERT_NE(Open(c.file), nullptr);
      Walk(path);
      EXPECT_EQ(Differences(opened, SavedModes(SaveAs("after.ovdf"))), "") << c.file.filename() << ", " << paths[path];
    }
  }
}

// The In3 place of this cell has four In at 3.60 A (two In1, two In2) and
// the next four at 3.88 A (gemmi, over the file's cell and group): the open
// counts the four its bonds reach, as a build does.
TEST_F(SiteRolesPathsTest, AnOpenCountsTheContactsItsSpecificationsBond) {
  ASSERT_NE(Open(kIndium), nullptr);
  const CrystalRec &c = *GetWindowCrystal(FrontGraphWindow());
  std::map<std::string, uint32_t> coordination;
  for (size_t s = 0; s < UsableSiteSize(c); s++)
    coordination[c.sites[s].label] = c.sites[s].coordination;
  EXPECT_EQ(coordination["In3"], 4u);
}

// Benzene's four ring carbons made a polyhedron from, then the polyhedral
// model: a molecule's coordination is not counted by the command, and its
// carbons and the new centre are drawn as atoms, each a ball filling the
// pixels about its centre.
TEST_F(SiteRolesPathsTest, AMoleculesPolyhedronFromSelectionDrawsItsAtoms) {
  ASSERT_NE(Open("Benzene.ovtx"), nullptr);
  const WindowRef window = FrontGraphWindow();
  CrystalRec *c = GetWindowCrystal(window);
  const size_t sites = UsableSiteSize(*c);
  int selected = 0;
  for (AtomRecord &atom : c->atoms)
    if (c->sites[atom.site].elements[0] == TwoCharsToShort("C ") && selected < 4) {
      atom.selected = 1;
      ++selected;
    }
  ASSERT_EQ(ProcessCommand(kCmdPolyhedronFromSelection), kNoErr);
  QDialog *sheet = OpenSheet(GetMainWindow(window));
  ASSERT_NE(sheet, nullptr);
  MakePolyhedronSheetCommand(sheet, kSheetOK);
  QCoreApplication::processEvents();
  c = GetWindowCrystal(window);
  ASSERT_EQ(UsableSiteSize(*c), sites + 1);
  c->backgroundColor = kRGBBlack;
  c->backgroundGradient = 0;
  ASSERT_EQ(ProcessCommand(FourCharsToLong("Poly")), kNoErr);
  QCoreApplication::processEvents();
  ASSERT_EQ(c->modelType, kPolyhedralModel);
  const ovgfx::PixelBuffer &image = *OffScreenPixels(GetWindowOffScreen(window));
  const uint32_t black = image.Pixel32(0, 0);
  int balls = 0;
  for (const AtomRecord &atom : c->atoms) {
    const ElementCode e = c->sites[atom.site].elements[0];
    if (!atom.visible || e == TwoCharsToShort("H "))
      continue;
    bool filled = true;
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx)
        filled = filled && image.Pixel32(int(atom.pixel[0]) + dx, int(atom.pixel[1]) + dy) != black;
    EXPECT_TRUE(filled) << c->sites[atom.site].label;
    balls += filled;
  }
  EXPECT_EQ(balls, 7);
}

// The commands that ask the roles of the sites questions over the whole
// crystal answer them without changing a mode: a mode the user chose for
// every site is the one saved after each.
TEST_F(SiteRolesPathsTest, RoleQuestionsLeaveTheModesTheUserChose) {
  const uint32_t commands[] = {kCmdHideStrandedAtoms};
  for (uint32_t command : commands) {
    CloseAllStructureWindows();
    ASSERT_NE(Open(kThpp), nullptr);
    CrystalRec &c = *GetWindowCrystal(FrontGraphWindow());
    int32_t count = 0;
    std::vector<AtomContainer> containers = CreateAtomContainers(&c, &count);
    ASSERT_GT(count, 1);
    for (size_t k = 1; k < containers.size(); k++)
      for (AtomContainerItem &item : containers[k].items)
        item.polyStyle = kPolyModeAtomStickBonds;
    ApplyAtomContainers(&c, containers);
    const std::map<std::string, uint32_t> chosen = SavedModes(SaveAs("chosen.ovdf"));
    ASSERT_EQ(chosen.size(), 17u);
    for (const auto &[label, mode] : chosen)
      ASSERT_EQ(mode, kPolyModeAtomStickBonds) << label;
    ASSERT_EQ(ProcessCommand(command), kNoErr);
    EXPECT_EQ(Differences(chosen, SavedModes(SaveAs("after.ovdf"))), "");
  }
}

// An edit gives the sites the modes it gives whether or not anything asked
// for their roles before it: the roles of the structure the edit found are
// those it starts from. The bond tool, its Shift-click beside the new atom
// tool, the zapper and the commands that cut or hide atoms (Hide Stranded
// Atoms among them) change the bonds or atoms without building the
// structure again.
class EditsAfterRolesTest : public SiteRolesPathsTest {
protected:
  // Where the graph pane picks the atom, if it does.
  static std::optional<Point> PickPoint(WindowRef window, int32_t atom) {
    const CrystalRec &c = *GetWindowCrystal(window);
    const QPoint p = GetMainWindow(window)->GraphPane()->geometry().topLeft() +
                     QPoint(int(c.atoms[size_t(atom)].pixel[0]), int(c.atoms[size_t(atom)].pixel[1]));
    const Point point{int16_t(p.y()), int16_t(p.x())};
    int16_t kind = 0;
    int32_t index = -1, radius = 0;
    if (FindClickedObject(window, point, &kind, &index, &radius) && kind == kHitAtom && index == atom)
      return point;
    return std::nullopt;
  }
  // An atom of the first site and an atom of the second bonded to it (or,
  // with `bonded` false, one that is not), both picked where they are drawn.
  static std::pair<int32_t, int32_t> PickedPair(WindowRef window, const char *first, const char *second, bool bonded) {
    const CrystalRec &c = *GetWindowCrystal(window);
    auto labelled = [&](size_t atom, const char *label) {
      return std::string(c.sites[c.atoms[atom].site].label) == label;
    };
    for (size_t a = 0; a < c.atoms.size(); a++) {
      const AtomRecord &atom = c.atoms[a];
      if (!labelled(a, first) || !PickPoint(window, int32_t(a)))
        continue;
      for (size_t b = 0; b < c.atoms.size(); b++) {
        const bool isBonded = std::find(atom.bonds.begin(), atom.bonds.end(), uint32_t(b)) != atom.bonds.end();
        if (b != a && labelled(b, second) && isBonded == bonded && PickPoint(window, int32_t(b)))
          return {int32_t(a), int32_t(b)};
      }
    }
    return {-1, -1};
  }
  void Edit(int edit) {
    const WindowRef window = FrontGraphWindow();
    MainWindow *w = GetMainWindow(window);
    w->ResizeContent(640, 480);
    w->show();
    QCoreApplication::processEvents();
    CrystalRec &c = *GetWindowCrystal(window);
    switch (edit) {
    case 0:
    case 1: { // the bond tool's two clicks: a bond deleted, a bond made
      const auto [a, b] = edit == 0 ? PickedPair(window, "N8", "C7a", true) : PickedPair(window, "F2", "F2", false);
      ASSERT_GE(a, 0);
      gNumSelAtoms = 0;
      DoAddBond(window, *PickPoint(window, a), 0);
      DoAddBond(window, *PickPoint(window, b), 0);
      break;
    }
    case 2: { // Shift-click with the new atom tool bonds to the anchor
      const auto [a, b] = PickedPair(window, "F2", "F2", false);
      ASSERT_GE(a, 0);
      AddBondBetweenClickedAtoms(window, a, b);
      break;
    }
    case 3: { // the zapper pressed and released over an atom
      const auto [a, b] = PickedPair(window, "N8", "C7a", true);
      ASSERT_GE(a, 0);
      DoZapper(window, *PickPoint(window, a));
      EndZapper(window, *PickPoint(window, a));
      ASSERT_FALSE(GetWindowCrystal(window)->atoms[size_t(a)].visible);
      break;
    }
    case 4: // the atoms bonded to C10 cut from the rest
      for (size_t s = 0; s < c.sites.size(); s++)
        if (std::string(c.sites[s].label) == "C10")
          for (uint32_t b : c.atoms[size_t(c.sites[s].firstAtom)].bonds)
            c.atoms[b].selected = 1;
      ASSERT_EQ(ProcessCommand(kCmdDetachSelection), kNoErr);
      break;
    default: { // the atoms no polyhedron anchors hidden
      const auto shown = [&c] {
        return std::count_if(c.atoms.begin(), c.atoms.end(), [](auto &a) { return a.visible; });
      };
      const auto before = shown();
      ASSERT_EQ(ProcessCommand(kCmdHideStrandedAtoms), kNoErr);
      ASSERT_LT(shown(), before);
    }
    }
  }
};

TEST_F(EditsAfterRolesTest, AnEditGivesTheModesItGivesAfterTheRolesWereAskedFor) {
  const char *const edits[] = {"a bond deleted with the bond tool", "a bond made with the bond tool",
                               "a bond made by Shift-click", "an atom zapped", "atoms detached",
                               "stranded atoms hidden"};
  for (int edit = 0; edit < 6; edit++) {
    CloseAllStructureWindows();
    ASSERT_NE(Open(kThpp), nullptr);
    SaveAs("asked.ovdf"); // a save asks for every role
    Edit(edit);
    const std::map<std::string, uint32_t> asked = SavedModes(SaveAs("asked-after.ovdf"));
    ASSERT_EQ(asked.size(), 17u);
    CloseAllStructureWindows();
    ASSERT_NE(Open(kThpp), nullptr);
    Edit(edit);
    EXPECT_EQ(Differences(asked, SavedModes(SaveAs("after.ovdf"))), "") << edits[edit];
  }
}

// The instrumented build stops a command that hid atoms without telling,
// naming it: Hide Stranded Atoms with its call removed, once while the
// roles are due (the ball-and-stick model of the open) and once while the
// polyhedral model holds polyhedra made after a told hide.
TEST_F(EditsAfterRolesTest, AnUntoldHideStopsTheInstrumentedBuild) {
  if (!DerivedLayers::ChecksInputs())
    GTEST_SKIP() << "only the instrumented build checks the layers";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    bool polyhedral;
    const char *stop;
  } cases[] = {
      {false, "site roles were answered for inputs changed without telling \\(command: 'HdSt'\\)"},
      {true, "polyhedra were answered for inputs changed without telling \\(command: 'HdSt'\\)"},
  };
  for (const auto &k : cases) {
    CloseAllStructureWindows();
    ASSERT_NE(Open(kThpp), nullptr);
    CrystalRec &c = *GetWindowCrystal(FrontGraphWindow());
    if (k.polyhedral) {
      c.atoms[0].selected = 1;
      ASSERT_EQ(ProcessCommand(kCmdHideSelection), kNoErr);
      ASSERT_EQ(ProcessCommand(FourCharsToLong("Poly")), kNoErr);
    }
    EXPECT_DEATH(
        {
          IgnoreStructureChangesForTests(true);
          ProcessCommand(kCmdHideStrandedAtoms);
        },
        k.stop);
  }
}

} // namespace
