// Polyhedra of structures opened from the own text format: atoms repeated at
// one place, and a centre with so many ligands that its polyhedron takes
// long.
#include "../documents/DocumentTestSupport.h"

#include "PlotRange.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "documents/CrystalDocument.h"
#include "import/OwnTextReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using doctest::Window;

std::string AtomLine(const char *element, const std::string &label, double x, double y, double z) {
  char line[128];
  std::snprintf(line, sizeof line, "%-3s %-8s %.6f %.6f %.6f\n", element, label.c_str(), x, y, z);
  return line;
}

// Opens the text as the shell opens a file: with the status window allowed.
class PolyhedraOnOpening : public ::testing::Test {
protected:
  void TearDown() override { gShowProgress = 0; }
  bool Open(Window &w, const std::string &text) {
    const fs::path file = fs::temp_directory_path() / (std::to_string(::getpid()) + "-polyhedra.ovtx");
    std::ofstream(file) << text;
    gShowProgress = 1;
    const bool read = OpenStructureFile(w.ref(), file);
    gShowProgress = 0;
    CloseStatus();
    fs::remove(file);
    return read;
  }
  // Its polyhedra made as choosing the polyhedral model makes them.
  void ChoosePolyhedra(Window &w) {
    gShowProgress = 1;
    DefinePendingPolyhedra(&w.crystal());
    gShowProgress = 0;
    CloseStatus();
  }
  FakeHost host;
};

// An octahedral SF6 whose nearest F line is pasted 300 times, and rock salt
// with a K site at the Na site: each centre keeps one ligand per
// place, and the overlap is told once, not once per triple of ligands.
TEST_F(PolyhedraOnOpening, AtomsRepeatedAtOnePlaceAreToldOnceAndLeftOut) {
  std::string molecule = "MOLE  SF6\nBMAX  S   F   2.000\nATOM\n" + AtomLine("S", "S1", 0, 0, 0) +
                         AtomLine("F", "F1", 1.56, 0, 0) + AtomLine("F", "F2", -1.57, 0, 0) +
                         AtomLine("F", "F3", 0, 1.58, 0) + AtomLine("F", "F4", 0, -1.55, 0) +
                         AtomLine("F", "F5", 0, 0, 1.54);
  for (int k = 0; k < 300; k++)
    molecule += AtomLine("F", "F6", 0, 0, -1.50);
  std::string crystal = doctest::ExampleText("NaCl.ovtx");
  const std::string bond = "BMAX  Na  Cl  3.000\n";
  ASSERT_NE(crystal.find(bond), std::string::npos);
  crystal.insert(crystal.find(bond) + bond.size(), "BMAX  K   Cl  3.000\n");
  crystal += AtomLine("K", "K1", 0, 0, 0);
  struct Case {
    const std::string &text;
    const char *centre, *warning;
  } cases[] = {
      {molecule, "S1", "Warning: polyhedron contains overlapping atoms: F6 (No. 6) and F6 (No. 7)"},
      {crystal, "Cl1", "Warning: polyhedron contains overlapping atoms: Na1 ("},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.centre);
    host.log.clear();
    host.colouredRuns.clear();
    Window w(host);
    ASSERT_TRUE(Open(w, k.text));
    ChoosePolyhedra(w);
    const std::vector<std::string> lines = host.LogLines();
    ASSERT_LE(lines.size(), 4u) << host.log.substr(0, 2000);
    EXPECT_EQ(host.log.find("Zero-length"), std::string::npos);
    EXPECT_EQ(host.log.find("Polyhedral creation failed"), std::string::npos);
    EXPECT_NE(host.log.find(k.warning), std::string::npos) << host.log;
    EXPECT_NE(host.log.find(" more overlapping atoms left out of polyhedra"), std::string::npos) << host.log;
    // Every centre of the site is an octahedron of six distinct vertices.
    CrystalRec &c = w.crystal();
    int centres = 0;
    for (const AtomRecord &atom : c.atoms) {
      if (std::string(c.sites[atom.site].label) != k.centre || atom.bondCount < 12)
        continue;
      ++centres;
      const Polyhedron *poly = AtomPolyhedron(&c, atom);
      ASSERT_TRUE(poly);
      EXPECT_EQ(poly->vertexCount, 6u);
      EXPECT_EQ(poly->faceCount, 8u);
    }
    EXPECT_GT(centres, 0);
  }
}

// Rutile without bond specifications and with a Ti2 at the O1 position: the
// search leaves the two unbonded (atoms at one place), so O1 has Ti2 within
// bond reach beside its three bonded Ti. Its role is judged from three of
// them, which the Log says once, in words, and nothing goes to stderr.
TEST_F(PolyhedraOnOpening, SitesWithMoreNeighboursThanBondsAreToldInOneLogLine) {
  std::string text = doctest::ExampleText("Rutile.ovtx");
  const std::string bond = "BMAX  Ti  O   2.100\n";
  ASSERT_NE(text.find(bond), std::string::npos);
  text.erase(text.find(bond), bond.size());
  text += AtomLine("Ti", "Ti2", 0.305, 0.305, 0);
  Window w(host);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(Open(w, text));
  const std::string console = testing::internal::GetCapturedStderr();
  EXPECT_EQ(console, "");
  // Told by the open, and not again when the polyhedra and the roles are
  // made later.
  ChoosePolyhedra(w);
  int told = 0;
  for (const std::string &line : host.LogLines())
    if (line.starts_with("Polyhedra: ")) {
      ++told;
      EXPECT_NE(line.find("O1"), std::string::npos) << line;
      EXPECT_NE(line.find("more atoms within bond reach than bonds"), std::string::npos) << line;
    }
  EXPECT_EQ(told, 1) << host.log;
}

// Rutile written in P 1 (two Ti, four O), its origin moved by `shift` so
// that its atoms lie inside the cell, on a face, on an edge or at a corner,
// with one more atom at the place of the site `at` (a row of the six).
struct RutileShift {
  const char *where;
  double shift[3];
};
constexpr double kRutileU = 0.30478;
constexpr RutileShift kRutileShifts[] = {{"inside", {0, 0, 0.25}},
                                         {"on a face", {0, 0, 0}},
                                         {"on an edge", {-kRutileU, 0, 0}},
                                         {"at a corner", {-kRutileU, -kRutileU, 0}}};

std::string RutileInP1(const RutileShift &c, const char *element, const char *label, int at) {
  const double u = kRutileU;
  const double rutile[6][3] = {{0, 0, 0}, {0.5, 0.5, 0.5}, {u, u, 0}, {-u, -u, 0}, {0.5 + u, 0.5 - u, 0.5},
                               {0.5 - u, 0.5 + u, 0.5}};
  const char *labels[6] = {"Ti1", "Ti2", "O1", "O2", "O3", "O4"};
  std::string text = "TITL  Rutile in P 1\nCELL  4.593700 4.593700 2.958700  90.000000 90.000000 90.000000\n"
                     "LATC  P\nSYMM  x,y,z\nXYZR  0.000000 1.000000 0.000000 1.000000 0.000000 1.000000\nATOM\n";
  auto wrapped = [&](const double *p, int i) {
    const double v = p[i] + c.shift[i];
    return v - std::floor(v);
  };
  for (int a = 0; a < 6; a++)
    text += AtomLine(a < 2 ? "Ti" : "O", labels[a], wrapped(rutile[a], 0), wrapped(rutile[a], 1),
                     wrapped(rutile[a], 2));
  if (element)
    text += AtomLine(element, label, wrapped(rutile[at], 0), wrapped(rutile[at], 1), wrapped(rutile[at], 2));
  return text;
}

// The one "Polyhedra: " line of the Log of an open, or "" without one.
std::string CrowdedSitesLine(const std::vector<std::string> &lines) {
  const auto told = std::find_if(lines.begin(), lines.end(),
                                 [](const std::string &line) { return line.starts_with("Polyhedra: "); });
  return told == lines.end() ? "" : *told;
}

// P 1 rutile with a third Ti at O1's place and no bond specifications:
// O1's neighbours then lie across the cell's faces, in the next cells'
// images. Wherever it lies, O1 has its three Ti bonded and the fourth at its
// place within bond reach, and the open names it in the Log.
TEST_F(PolyhedraOnOpening, ACrowdedSiteIsToldWhereverTheCellPutsIt) {
  for (const RutileShift &c : kRutileShifts) {
    SCOPED_TRACE(c.where);
    FakeHost each;
    Window w(each);
    ASSERT_TRUE(Open(w, RutileInP1(c, "Ti", "Ti3", 2)));
    const std::string told = CrowdedSitesLine(each.LogLines());
    ASSERT_NE(told, "") << each.log;
    EXPECT_NE(told.find("O1"), std::string::npos) << told;
  }
}

// The same with an O at Ti1's place instead: Ti1 keeps its six O bonded and
// has the seventh within reach, one atom more than its bonds; O1, whose role
// asks about Ti1, then finds it crowded. Plain rutile has no crowded site.
TEST_F(PolyhedraOnOpening, ACentreWithOneAtomBeyondItsBondsIsTold) {
  for (const RutileShift &c : kRutileShifts)
    for (const bool extra : {false, true}) {
      SCOPED_TRACE(std::string(c.where) + (extra ? ", an O at Ti1" : ", plain"));
      FakeHost each;
      Window w(each);
      ASSERT_TRUE(Open(w, RutileInP1(c, extra ? "O" : nullptr, "O9", 0)));
      const std::string told = CrowdedSitesLine(each.LogLines());
      if (!extra) {
        EXPECT_EQ(told, "");
        continue;
      }
      EXPECT_TRUE(told.starts_with("Polyhedra: 1 site (Ti1) has more atoms")) << each.log;
    }
}

// The polyhedron display modes, and the polyhedra's flag bytes, that a saved
// document holds, per site and per atom.
struct SavedModes {
  std::vector<uint32_t> sites;
  std::vector<int> flags; // -1 for an atom without a polyhedron
};

SavedModes SaveAndRead(Window &w, const fs::path &file) {
  SavedModes saved;
  if (!WriteCrystalFile(w.crystal(), {}, file))
    return saved;
  CrystalRec read;
  if (!ReadCrystalFile(&read, file))
    return saved;
  for (size_t s = 0; s < UsableSiteSize(read); s++)
    saved.sites.push_back(ShownPolyMode(read.sites[s]));
  for (const AtomRecord &atom : read.atoms) {
    const Polyhedron *p = AtomPolyhedron(&read, atom);
    saved.flags.push_back(p ? p->flag : -1);
  }
  fs::remove(file);
  return saved;
}

// Opened in another model, a structure whose sites take their roles only
// when polyhedra are first needed saves the modes, and the polyhedra, that
// it saves when the polyhedral model made them at the open: whether the
// bonds came from the file's maxima, from the automatic search or from the
// file's own bonds, and after a wider plot range (the modes the sites had
// are kept, not those of the new atoms).
TEST_F(PolyhedraOnOpening, ModesSetLateAreSavedAsModesSetAtOnce) {
  std::string rutileAuto = doctest::ExampleText("Rutile.ovtx");
  const std::string bond = "BMAX  Ti  O   2.100\n";
  ASSERT_NE(rutileAuto.find(bond), std::string::npos);
  rutileAuto.erase(rutileAuto.find(bond), bond.size());
  auto dataFile = [](const char *name) {
    std::ifstream in(fs::path(OV_TEST_DATA) / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  struct Case {
    std::string name, text;
    bool widen = false; // the plot range widened before the save
  } cases[] = {
      {"Rutile.ovtx", doctest::ExampleText("Rutile.ovtx")},
      {"Pyrope.ovtx", doctest::ExampleText("Pyrope.ovtx")},
      {"Spinel.ovtx", doctest::ExampleText("Spinel.ovtx")},
      {"rutile-automatic.ovtx", rutileAuto},
      {"forsterite.cif", dataFile("bonds/forsterite.cif")},
      {"full.data", dataFile("import/lammps/full.data")},
      {"1yjp.pdb", dataFile("import/names/1yjp.pdb"), true},
  };
  auto widen = [](Window &w) {
    ASSERT_TRUE(ReplotWithPlotRange(w.ref(), -0.5f, 1.5f, -0.5f, 1.5f, -0.5f, 1.5f, false));
  };
  const fs::path folder = fs::temp_directory_path() / ("late-roles-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_FALSE(k.text.empty());
    const bool own = k.name.ends_with(".ovtx");
    const fs::path file = folder / k.name;
    std::ofstream(file) << k.text;
    Window late(host);
    ASSERT_TRUE(OpenStructureFile(late.ref(), file));
    ASSERT_NE(late.crystal().modelType, kPolyhedralModel);
    if (k.widen)
      widen(late);
    const SavedModes saved = SaveAndRead(late, folder / "late.ovdf");
    // The own format chooses the polyhedral model in the file; the others
    // have their polyhedra made by the command that makes them at once.
    if (own)
      std::ofstream(file) << k.text << "MODL  3\n";
    Window atOnce(host);
    ASSERT_TRUE(OpenStructureFile(atOnce.ref(), file));
    if (!own)
      DefinePolyhedra(&atOnce.crystal());
    if (k.widen)
      widen(atOnce);
    const SavedModes reference = SaveAndRead(atOnce, folder / "at-once.ovdf");
    ASSERT_FALSE(reference.sites.empty());
    EXPECT_EQ(saved.sites, reference.sites);
    EXPECT_NE(std::count(reference.sites.begin(), reference.sites.end(), kPolyModeUnset),
              static_cast<ptrdiff_t>(reference.sites.size()));
    if (own) {
      EXPECT_EQ(saved.flags, reference.flags);
      EXPECT_GT(std::count_if(saved.flags.begin(), saved.flags.end(), [](int f) { return f >= 0; }), 0);
    }
  }
  fs::remove_all(folder);
}

// A centre with 120 ligands on a sphere, read last: its thinning and face
// search alone run long enough to show the status window, and Escape pressed
// meanwhile stops them.
TEST_F(PolyhedraOnOpening, EscapeStopsTheLongPolyhedronOfOneCentre) {
  std::string text = "MOLE  cluster\nBMAX  U   O   2.500\nATOM\n";
  const int n = 120;
  const double golden = 3.14159265358979323846 * (3.0 - std::sqrt(5.0));
  for (int k = 0; k < n; k++) {
    const double z = 1.0 - 2.0 * (k + 0.5) / n, r = std::sqrt(1.0 - z * z), phi = golden * k;
    const double radius = 2.0 + 0.002 * (k % 7);
    text +=
        AtomLine("O", "O" + std::to_string(k + 1), radius * r * std::cos(phi), radius * r * std::sin(phi), radius * z);
  }
  text += AtomLine("U", "U1", 0, 0, 0);
  Window w(host);
  ASSERT_TRUE(Open(w, text));
  host.tick = 100000; // every clock reading moves on 0.1 s
  host.cancelAnswers = {false, true};
  ChoosePolyhedra(w);
  CrystalRec &c = w.crystal();
  ASSERT_EQ(c.atoms.back().bondCount, static_cast<uint32_t>(n));
  EXPECT_FALSE(AtomPolyhedron(&c, c.atoms.back()));
  EXPECT_NE(host.log.find("Polyhedra cancelled: the structure is shown without polyhedra.\r"), std::string::npos)
      << host.log;
  EXPECT_EQ(host.log.find("Polyhedral creation failed"), std::string::npos);
  EXPECT_TRUE(std::any_of(host.status.begin(), host.status.end(), [](const FakeHost::StatusEvent &e) {
    return e.shown && e.message == "Defining polyhedra...";
  }));
}

} // namespace
