// Real files of other programs opened as File > Open opens them, each
// structure's atoms of the cell against gemmi's expansion of the file's own
// cell, group and sites with the origin passed explicitly
// (tests/oracle/cell_atoms_oracle.py repeats every count): the origin of a
// group of two (the experiment files' convention, the sites' overlaps),
// symbols other programs spell their own way, mixed sites written one atom
// per element, a phase without atoms and a cell without angles.
#include "ReaderTestSupport.h"

#include "import/ImportText.h"

#include <cmath>
#include <fstream>
#include <optional>

namespace {

using namespace readertest;
using doctest::Window;

// An atom the group's images put in the cell in the right origin and not in
// the other (gemmi's expansions of both).
struct AtomAt {
  const char *element;
  float xyz[3];
};

struct RealFile {
  const char *format, *name;
  size_t structure; // which of the file's structures is picked
  int cellAtoms;
  const char *logLine; // a Log line the open writes ("" none asked)
  std::optional<AtomAt> atom = std::nullopt;
  const char *notLogged = nullptr; // a Log line the open must not write
};

const RealFile kFiles[] = {
    // Corundum, R -3 c on hexagonal axes: Al 12c, O 18e.
    {"gsas", "cpd4.exp", 0, 30, ""},
    // Magnetite, F d -3 m:2 (MULT 8, 16, 32); in origin 1 FE1 would make 16.
    {"gsas", "cpd4.exp", 1, 56,
     "the space group \"F d 3 m\" has two origins and the file names neither; origin 2 is taken, at the centre of "
     "symmetry",
     AtomAt{"Fe", {0.375f, 0.375f, 0.875f}}},
    // Zircon, I 41/a m d:2: 4 + 4 + 16 (40 in origin 1).
    {"gsas", "cpd4.exp", 2, 24, "\"I 41/a m d\" has two origins", AtomAt{"Zr", {0.0f, 0.25f, 0.875f}}},
    // Garnet, I a -3 d: Y 24, (Fe, Al) 16, (Al, Fe) 24, O 96; FE2 and AL3,
    // AL4 and FE5 stand at one position each.
    {"gsas", "GARNET.EXP", 0, 160,
     "line 16: the atoms AL4, FE5 at one position are one mixed site, but their occupancies sum to 1.517."},
    // "I b 3" is I a -3: Sb 8, O 8, F 48 (the file's MULT column).
    {"gsas", "IB3.EXP", 0, 64, ""},
    // The first phase's one Cu atom; the second phase holds none.
    {"vesta", "two_phase.vesta", 0, 1, "phase 2 (Phase Two) has no atoms; it is left out."},
    // a b c and no angles; C c c a in its second origin (128 in the first).
    {"topas", "Trilithium_thorium_fluoride_1000073.str", 0, 96, ""},
    // Spinel listed from the centre of symmetry, no origin named: in origin 1
    // its oxygens would stand 0.27 A apart. F d -3 m:2, 8 + 16 + 32.
    {"atoms", "spinel.inp", 0, 56, "origin 2 is taken, the one under which no atoms overlap.",
     AtomAt{"Mg", {0.375f, 0.375f, 0.875f}}},
    // H 3 is R 3 on hexagonal axes: 4 atoms in 9 images.
    {"pdb", "hexagonal_h3.pdb", 0, 36, ""},
    // H 3 2 is R 3 2 on hexagonal axes: 4 atoms in 18 images.
    {"cif/mmcif", "hexagonal_h32.cif", 0, 72, ""},
    // A database's setting letters: Z is origin 2, S origin 1 (Mg 8, Al 16,
    // O 32; the other origin gives Al 8 and misses these Al).
    {"cif", "spinel_Z.cif", 0, 56, "", AtomAt{"Al", {0.0f, 0.25f, 0.75f}}, "two origins"},
    {"cif", "spinel_S.cif", 0, 56, "", AtomAt{"Al", {0.125f, 0.375f, 0.875f}}, "two origins"},
    {"cif", "spinel_Z_ops.cif", 0, 56, "", AtomAt{"Al", {0.0f, 0.25f, 0.75f}}, "disagrees"},
    // The letter of a group of one origin, with the table's operators and
    // with the same moved by (0, 1/2, 1/4): I -4 2 d, P 4 + N 4 + O 16.
    {"cif", "setting_letter_S.cif", 0, 24, "", AtomAt{"P", {0.5f, 0.0f, 0.75f}}, "disagrees"},
    {"cif", "setting_letter_S_shifted.cif", 0, 24, "", AtomAt{"P", {0.5f, 0.0f, 0.25f}}, "no setting"},
    // R 3 c named on rhombohedral axes with a hexagonal cell: 6 + 6 + 18.
    {"cif", "avogadro_linbo3.cif", 0, 30,
     "line 36: the space group \"R 3 c {rhombohedral axes}\" names rhombohedral axes, but the cell has hexagonal "
     "ones (a = b, gamma = 120); it is read on hexagonal axes."},
    // Corundum on rhombohedral axes named "R -3 c H": Al 4, O 6.
    {"cif", "corundum_rhombohedral.cif", 0, 10,
     "line 9: the space group \"R -3 c H\" names hexagonal axes, but the cell has rhombohedral ones (a = b = c, "
     "alpha = beta = gamma); it is read on rhombohedral axes."},
};

bool HoldsAtomAt(const CrystalRec &c, const AtomAt &want) {
  constexpr float kClose = 1e-3f;
  const auto element = ElementFromSymbol(want.element);
  for (const AtomRecord &atom : c.atoms) {
    if (c.sites[atom.site].elements[0] != element)
      continue;
    bool same = true;
    for (int k = 0; k < 3 && same; k++) {
      const float d = atom.xyz[k] - want.xyz[k];
      same = std::fabs(d - std::round(d)) < kClose;
    }
    if (same)
      return true;
  }
  return false;
}

TEST(CellAtomsOfRealFiles, EachStructureHoldsTheAtomsOfItsCell) {
  FakeHost host;
  for (const RealFile &f : kFiles) {
    SCOPED_TRACE(std::string(f.format) + "/" + f.name + " structure " + std::to_string(f.structure));
    gImportHooks.choose = [&](const fs::path &, const std::vector<StructureSummary> &) {
      return std::vector<size_t>{f.structure};
    };
    host.log.clear();
    Window w(host);
    if (!OpenTextFile(w.ref(), Sample(f.format, f.name))) {
      ADD_FAILURE() << "refused: " << (host.alerts.empty() ? "" : host.alerts.back().explanation);
      continue;
    }
    EXPECT_EQ(w.crystal().atomsPerCell, f.cellAtoms);
    EXPECT_NE(host.log.find(f.logLine), std::string::npos) << host.log;
    if (f.notLogged) {
      EXPECT_EQ(host.log.find(f.notLogged), std::string::npos) << host.log;
    }
    if (f.atom) {
      EXPECT_TRUE(HoldsAtomAt(w.crystal(), *f.atom)) << f.atom->element << " at " << f.atom->xyz[0] << " "
                                                     << f.atom->xyz[1] << " " << f.atom->xyz[2];
    }
  }
  gImportHooks.choose = nullptr;
}

TEST(CellAtomsOfRealFiles, TheElementsOfAMixedSiteKeepTheirOccupancies) {
  FakeHost host;
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("gsas", "GARNET.EXP")));
  const CrystalRec &c = w.crystal();
  EXPECT_EQ(c.sites.size(), 4u);
  const AsymmetricUnitRecord *fe = Site(c, "FE2");
  ASSERT_NE(fe, nullptr);
  EXPECT_EQ(fe->elements[0], ElementFromSymbol("Fe"));
  EXPECT_EQ(fe->elements[1], ElementFromSymbol("Al"));
  EXPECT_FLOAT_EQ(fe->occupancies[0], 0.728206f);
  EXPECT_FLOAT_EQ(fe->occupancies[1], 0.0f);
  EXPECT_EQ(Site(c, "AL3"), nullptr);
}

TEST(CellAtomsOfRealFiles, AnOccupancyAboveOneAloneIsHeldToOneWithALogLine) {
  // The garnet without FE5: AL4's 1.516663 stands alone.
  std::ifstream in(Sample("gsas", "GARNET.EXP"));
  std::string text, line;
  while (std::getline(in, line))
    if (line.find("AT  5") == std::string::npos)
      text += line + "\n";
  TempFile f("alone.exp", text);
  FakeHost host;
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), f.path));
  const AsymmetricUnitRecord *al = Site(w.crystal(), "AL4");
  ASSERT_NE(al, nullptr);
  EXPECT_FLOAT_EQ(al->occupancies[0], 1.0f);
  EXPECT_NE(host.log.find("line 16: the occupancy of atom AL4 (1.517) is above 1; it is taken as 1."), std::string::npos)
      << host.log;
}

} // namespace
