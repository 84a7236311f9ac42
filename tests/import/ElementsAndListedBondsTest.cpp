// What files mean by the records that carry no element or whose bonds an
// element cannot tell apart, opened as a user opens them: atom names in
// residues named UNK, masses written as whole numbers, the alternate
// locations kept of a macromolecule, and a bond list between atoms of no
// element. The element counts are those gemmi and Open Babel read from the
// PDB files (both read the UNK residue's "PT" as platinum, column-13 "CL"
// as chlorine and column-14 " CL" as carbon), or, for masses, the one
// element whose standard atomic weight (IUPAC) lies within 0.5 u; the
// atoms kept apart are those the files put at different alternate
// locations; the bonds drawn are those the file's own Bonds list gives.
#include "ReaderTestSupport.h"

#include <array>
#include <cmath>
#include <map>
#include <set>

namespace {

using namespace readertest;
using doctest::Window;

using Place = std::array<double, 3>; // Cartesian (A) in a molecule, fractional in a crystal

// Two atoms drawn beside each other at places the file gives: Cartesian
// in a molecule; fractional in a crystal, the first in any cell and the
// second beside it. -1s when there are none.
std::pair<long, long> AtomsAt(const CrystalRec &c, const Place &p, const Place &q) {
  const auto near = [&](const AtomRecord &atom, const Place &at, const double shift[3]) {
    const float *x = c.molecule ? atom.cart : atom.xyz;
    return std::hypot(x[0] - at[0] - shift[0], x[1] - at[1] - shift[1], x[2] - at[2] - shift[2]) < 1e-3;
  };
  for (size_t a = 0; a < c.atoms.size(); a++) {
    double shift[3] = {0, 0, 0};
    for (int k = 0; k < 3 && !c.molecule; k++)
      shift[k] = std::round(c.atoms[a].xyz[k] - p[static_cast<size_t>(k)]);
    if (!near(c.atoms[a], p, shift))
      continue;
    for (size_t b = 0; b < c.atoms.size(); b++)
      if (near(c.atoms[b], q, shift))
        return {static_cast<long>(a), static_cast<long>(b)};
  }
  return {-1, -1};
}

bool Bonded(const CrystalRec &c, long a, long b) {
  const auto &bonds = c.atoms[static_cast<size_t>(a)].bonds;
  return std::find(bonds.begin(), bonds.end(), static_cast<uint32_t>(b)) != bonds.end();
}

std::set<std::pair<uint32_t, uint32_t>> DrawnBonds(const CrystalRec &c) {
  std::set<std::pair<uint32_t, uint32_t>> out;
  for (uint32_t a = 0; a < c.atoms.size(); a++)
    for (uint32_t b : c.atoms[a].bonds)
      out.insert({std::min(a, b), std::max(a, b)});
  return out;
}

// An ATOM or HETATM record in its columns.
std::string PDBRecord(const char *record, int serial, const char *name, char altloc, const char *residue, int number,
                      const Place &p, double occupancy, const char *element) {
  char line[96];
  std::snprintf(line, sizeof line, "%-6s%5d %-4s%c%3s A%4d    %8.3f%8.3f%8.3f%6.2f  0.00          %2s\n", record,
                serial, name, altloc, residue, number, p[0], p[1], p[2], occupancy, element);
  return line;
}

// An aspartate whose OD2 stands at locations A (0.51) and B (0.49) beside a
// water that is there only with B, 1.38 A from OD2 at A.
const Place kCG{0, 0, 0}, kOD1{-0.625, 1.083, 0}, kOD2A{1.25, 0, 0}, kOD2B{-0.625, -1.083, 0}, kWaterB{2.63, 0, 0};

std::string AltlocPDB() {
  return PDBRecord("ATOM", 1, " CG", ' ', "ASP", 24, kCG, 1.0, "C") +
         PDBRecord("ATOM", 2, " OD1", ' ', "ASP", 24, kOD1, 1.0, "O") +
         PDBRecord("ATOM", 3, " OD2", 'A', "ASP", 24, kOD2A, 0.51, "O") +
         PDBRecord("ATOM", 4, " OD2", 'B', "ASP", 24, kOD2B, 0.49, "O") +
         PDBRecord("HETATM", 5, " O", 'B', "HOH", 131, kWaterB, 0.49, "O") + "END\n";
}

std::string AltlocMMCIF() {
  return "data_altloc\nloop_\n_atom_site.group_PDB\n_atom_site.id\n_atom_site.type_symbol\n"
         "_atom_site.label_atom_id\n_atom_site.label_alt_id\n_atom_site.label_comp_id\n_atom_site.label_asym_id\n"
         "_atom_site.label_seq_id\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n_atom_site.Cartn_z\n"
         "_atom_site.occupancy\n"
         "ATOM 1 C CG . ASP A 24 0 0 0 1\nATOM 2 O OD1 . ASP A 24 -0.625 1.083 0 1\n"
         "ATOM 3 O OD2 A ASP A 24 1.25 0 0 0.51\nATOM 4 O OD2 B ASP A 24 -0.625 -1.083 0 0.49\n"
         "HETATM 5 O O B HOH B . 2.63 0 0 0.49\n";
}

TEST(ElementsAndListedBonds, RecordsAreReadAsTheirWritersMeantThem) {
  // Babel-written residues named UNK, and a mixed-case name in a standard
  // residue: the names' columns say the element.
  const std::string unkPDB = "ATOM      1 CL   UNK     1       0.000   0.000   0.000  1.00  0.00\n"
                             "ATOM      2  CL  UNK     1       3.000   0.000   0.000  1.00  0.00\n"
                             "ATOM      3 Pt   ALA     2       6.000   0.000   0.000  1.00  0.00\n"
                             "ATOM      4 Cl1  UNK     3       9.000   0.000   0.000  1.00  0.00\nEND\n";
  // cluster.pdb's atoms as an mmCIF model without type symbols.
  const std::string unkMMCIF = "data_cluster\nloop_\n_atom_site.group_PDB\n_atom_site.id\n_atom_site.label_atom_id\n"
                               "_atom_site.label_comp_id\n_atom_site.label_asym_id\n_atom_site.label_seq_id\n"
                               "_atom_site.Cartn_x\n_atom_site.Cartn_y\n_atom_site.Cartn_z\n"
                               "ATOM 1 O UNK A 1 1.4 0 0\nATOM 2 PT UNK A 1 0 1.6 0\n"
                               "ATOM 3 PT UNK A 1 0 -0.8 -1.386\nATOM 4 CL UNK A 1 0 -0.8 1.386\n";
  const std::string masses = "masses\n\n8 atoms\n8 atom types\n\n0 20 xlo xhi\n0 20 ylo yhi\n0 20 zlo zhi\n\n"
                             "Masses\n\n1 28\n2 56\n3 64\n4 24\n5 39\n6 40\n7 32.041\n8 58.7\n\nAtoms # atomic\n\n"
                             "1 1 1 1 1\n2 2 4 4 4\n3 3 7 7 7\n4 4 10 10 10\n5 5 13 13 13\n6 6 16 16 16\n"
                             "7 7 1 10 1\n8 8 10 1 1\n";
  const std::string history = "masses and names\n         0         0         4\n"
                              "timestep         1         4         0         0    0.001000\n"
                              "S                1   32.0        0.000000\n   0.0 0.0 0.0\n"
                              "AR               2   40          0.000000\n   4.0 0.0 0.0\n"
                              "K                3   40.0        0.000000\n   8.0 0.0 0.0\n"
                              "ME               4   32.041      0.000000\n   12.0 0.0 0.0\n";
  // Two fragments of atoms without masses: a chain 1-2-3-4 bent into a
  // square whose ends, 1.4 A apart, are not bonded, and a pair 5-6.
  const std::string listed = "fragments\n\n6 atoms\n4 bonds\n1 atom types\n1 bond types\n\n"
                             "0 20 xlo xhi\n0 20 ylo yhi\n0 20 zlo zhi\n\nAtoms # atomic\n\n"
                             "1 1 5 5 5\n2 1 6.4 5 5\n3 1 6.4 6.4 5\n4 1 5 6.4 5\n5 1 10 5 5\n6 1 11.1 5 5\n\n"
                             "Bonds\n\n1 1 1 2\n2 1 2 3\n3 1 3 4\n4 1 5 6\n";
  const struct {
    std::string name;
    fs::path file = {};      // a sample, or
    std::string text = {};   // a file written for the case
    std::string counts = {}; // the atoms' elements, when given
    std::vector<std::string> log = {};
    std::vector<std::array<Place, 2>> apart = {}, together = {}; // atoms never / always bonded
    std::set<std::pair<uint32_t, uint32_t>> bonds = {};          // when given, exactly the bonds drawn
  } cases[] = {
      {.name = "cluster.pdb", .file = Sample("pdb", "xcrysden-cluster.pdb"), .counts = "O1 Pt4"},
      {.name = "unk.pdb", .text = unkPDB, .counts = "C1 Cl2 Pt1"},
      {.name = "cluster.cif", .text = unkMMCIF, .counts = "Cl1 O1 Pt2"},
      {.name = "data.masses",
       .text = masses,
       .counts = "Cu1 Fe1 K1 Mg1 Ni1 Si1 Xx2",
       .log = {"line 12: the mass 28 is read as Si (28.085), the one element within 0.5 u of a mass written to so "
               "few decimals.",
               "line 17: the mass 40 lies within 0.5 u of Ar (39.948) and Ca (40.078): it names no one element."}},
      {.name = "HISTORY",
       .text = history,
       .counts = "Ar1 S1 Xx2",
       .log = {"line 4: the mass 32.0 is read as S (32.060)",
               "the masses of these atoms name no one element; their names, which do, decide: AR (40) Ar."}},
      // The kept OD2 is at A, the water at B: never bonded, while OD2 keeps
      // its carbon.
      {.name = "altloc.pdb", .text = AltlocPDB(), .apart = {{kOD2A, kWaterB}}, .together = {{kOD2A, kCG}}},
      {.name = "altloc.cif", .text = AltlocMMCIF(), .apart = {{kOD2A, kWaterB}}, .together = {{kOD2A, kCG}}},
      // GLU 108's OE2 at A and water 323 at B, 1.21 A apart; OE2 at A
      // keeps its CD at A. Fractions of the file's positions by gemmi.
      {.name = "3al1.pdb",
       .file = Sample("pdb", "pymol-3al1.pdb.gz"),
       .apart = {{Place{-0.57659, -0.16625, -0.07125}, Place{-0.58691, -0.22479, -0.06269}}},
       .together = {{Place{-0.57659, -0.16625, -0.07125}, Place{-0.60672, -0.13655, -0.08489}}}},
      {.name = "fragments.data",
       .text = listed,
       .counts = "Xx6",
       .log = {"only the 4 bonds the file lists are drawn"},
       .bonds = {{0, 1}, {1, 2}, {2, 3}, {4, 5}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    FakeHost host;
    Window w(host);
    std::optional<TempFile> written;
    const fs::path file = RowFile(c.file, c.name, c.text, written);
    ASSERT_TRUE(OpenTextFile(w.ref(), file, ImportChoice::TakeFirst))
        << (host.alerts.empty() ? "" : host.alerts.back().explanation);
    const CrystalRec &crystal = w.crystal();
    if (!c.counts.empty()) {
      EXPECT_EQ(ElementCounts(crystal), c.counts);
    }
    for (const std::string &line : c.log)
      EXPECT_NE(host.log.find(line), std::string::npos) << line << "\n" << host.log;
    for (const auto &[pairs, bonded] : {std::pair(&c.apart, false), std::pair(&c.together, true)})
      for (const auto &[p, q] : *pairs) {
        const auto [a, b] = AtomsAt(crystal, p, q);
        ASSERT_GE(a, 0) << p[0] << " " << q[0];
        EXPECT_EQ(Bonded(crystal, a, b), bonded) << p[0] << " " << q[0];
      }
    if (!c.bonds.empty()) {
      EXPECT_EQ(DrawnBonds(crystal), c.bonds);
    }
  }
}

} // namespace
