// The rules every reader of another program's file shares, seen through
// File > Open with files of several formats: an atom at no finite place is
// left out with its line (its bonds with it), a file cut inside its last
// number is refused at that line, a crystal's cell must leave room for its
// atoms after symmetry, labels too long are shortened the same way however
// many collide, and an occupancy of 0 is kept as given.
#include "ReaderTestSupport.h"

#include "import/TextNumbers.h"

#include <cmath>

namespace {

using namespace readertest;

// A CIF whose atom lines begin at line 13.
const std::string kCifHead = "data_x\n_cell_length_a 5\n_cell_length_b 5\n_cell_length_c 5\n_cell_angle_alpha 90\n"
                             "_cell_angle_beta 90\n_cell_angle_gamma 90\nloop_\n_atom_site_label\n"
                             "_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n";
using doctest::Window;

class SharedFill : public ::testing::Test {
protected:
  FakeHost host;
};

TEST_F(SharedFill, AnAtomAtNoFinitePlaceIsLeftOutWithItsLineAndItsBonds) {
  const std::string mol = "m\n  prog\n\n  3  2  0  0  0  0  0  0  0  0999 V2000\n"
                          "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
                          "      1e39    0.0000    0.0000 O   0  0  0  0  0  0  0  0  0  0  0  0\n"
                          "    1.4000    0.0000    0.0000 N   0  0  0  0  0  0  0  0  0  0  0  0\n"
                          "  1  2  1  0\n  1  3  1  0\nM  END\n";
  const struct {
    const char *name;
    std::string text;
    int line;
    size_t kept;
  } files[] = {
      {"t.xyz", "2\n\nO 0 0 0\nH 1e39 0 0\n", 4, 1},
      {"t.mol", mol, 6, 2},
      {"t.pdb",
       "HETATM    1  C   MOL A   1       0.000   0.000   0.000  1.00  0.00           C\n"
       "HETATM    2  O   MOL A   1      -1e39    0.000   0.000  1.00  0.00           O\n",
       2, 1},
      {"t.cssr",
       std::string(38, ' ') + "  5.000   5.000   5.000\n" + std::string(21, ' ') +
           "  90.000  90.000  90.000    SPGR =  1 P 1\n   2   1 t\n t\n   1 Na1   0.0 0.0 0.0\n"
           "   2 Cl1   1e39 0.5 0.5\n",
       6, 1},
  };
  for (const auto &f : files) {
    TempFile file(f.name, f.text);
    Window w(host);
    host.log.clear();
    ASSERT_TRUE(OpenTextFile(w.ref(), file.path))
        << f.name << ": " << (host.alerts.empty() ? "" : host.alerts.back().explanation);
    EXPECT_EQ(w.crystal().sites.size(), f.kept) << f.name;
    EXPECT_NE(
        host.log.find("line " + std::to_string(f.line) +
                      ": the atom lies at no place a structure holds (a coordinate beyond 1000000); it is left out."),
        std::string::npos)
        << f.name << ": " << host.log;
    for (const AtomRecord &a : w.crystal().atoms)
      for (float v : a.cart)
        EXPECT_LT(std::fabs(v), 100.0f) << f.name;
  }
  // The MOL file's bond to the left-out atom goes; C1-N3 stays.
  TempFile file("t.mol", mol);
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), file.path));
  ASSERT_EQ(w.crystal().atoms.size(), 2u);
  EXPECT_EQ(w.crystal().atoms[0].bondCount, 1);
  EXPECT_EQ(w.crystal().sites[1].elements[0], TwoCharsToShort("N "));
  TempFile none("t.xyz", "1\n\nH 1e39 0 0\n");
  EXPECT_EQ(Refusal(host, none.path), "\"t.xyz\" could not be read at line 3: the file's atoms lie at no place a "
                                      "structure holds (a coordinate beyond 1000000).");
}

// Atoms of occupancy 0 keep it in every format, with one Log line for the
// file, however many there are.
TEST_F(SharedFill, AnOccupancyOf0IsKeptAsGivenWithOneLogLine) {
  const std::string mmcif = "data_m\n_cell.length_a 20\n_cell.length_b 20\n_cell.length_c 20\n_cell.angle_alpha 90\n"
                            "_cell.angle_beta 90\n_cell.angle_gamma 90\n_symmetry.space_group_name_H-M 'P 1'\nloop_\n"
                            "_atom_site.group_PDB\n_atom_site.id\n_atom_site.type_symbol\n_atom_site.label_atom_id\n"
                            "_atom_site.label_comp_id\n_atom_site.label_asym_id\n_atom_site.label_seq_id\n"
                            "_atom_site.Cartn_x\n_atom_site.Cartn_y\n_atom_site.Cartn_z\n_atom_site.occupancy\n"
                            "ATOM 1 N N GLY A 1 1 1 1 1.00\nATOM 2 C CA GLY A 1 2.4 1 1 0\n"
                            "ATOM 3 O O GLY A 1 3.8 1 1 0.00\n";
  const struct {
    const char *name;
    std::string text;
    size_t zeros;
  } files[] = {
      {"t.cif", kCifHead + "_atom_site_occupancy\nNa1 0 0 0 1\nH1 .5 .5 .5 0\nH2 .2 .5 .5 0.0\n", 2},
      {"m.cif", mmcif, 2},
  };
  for (const auto &f : files) {
    TempFile file(f.name, f.text);
    Window w(host);
    host.log.clear();
    ASSERT_TRUE(OpenTextFile(w.ref(), file.path)) << f.name;
    size_t zeros = 0;
    for (const AsymmetricUnitRecord &site : w.crystal().sites)
      zeros += site.occupancies[0] == 0.0f;
    EXPECT_EQ(zeros, f.zeros) << f.name;
    const std::string line = std::to_string(f.zeros) + " atoms have the occupancy 0, kept as given";
    EXPECT_NE(host.log.find(line), std::string::npos) << f.name << ": " << host.log;
    EXPECT_EQ(host.log.find("occupanc", host.log.find(line) + line.size()), std::string::npos) << host.log;
    EXPECT_EQ(host.log.find("occupanc"), host.log.find(line) + line.find("occupanc")) << host.log;
  }
}

TEST_F(SharedFill, AFileCutInsideItsLastNumberIsRefusedAtThatLine) {
  const struct {
    const char *name;
    std::string text;
    int line;
  } files[] = {
      {"t.xyz", "2\n\nNa 0 0 0\nCl 0.5 0.5 0.", 4},
      {"t.ins", "TITL t\nCELL 0.71 5 5 5 90 90 90\nSFAC C\nC1 1 0.1 0.2 0.3 11 0.", 4},
      {"t.cif", kCifHead + "Cl1 0.5 0.5 0.", 13},
  };
  for (const auto &f : files) {
    TempFile file(f.name, f.text);
    EXPECT_EQ(Refusal(host, file.path), "\"" + std::string(f.name) + "\" could not be read at line " +
                                            std::to_string(f.line) + ": the file ends inside the record.");
  }
  // A CIF's last value may be its "inapplicable" point, or a charged type.
  for (const char *last : {"Cl1 0.5 0.5 0.5 .", "Cl1 0.5 0.5 0.5 Cl1-"}) {
    TempFile file("whole.cif", kCifHead.substr(0, kCifHead.size() - 1) + "\n_atom_site_type_symbol\n" + last);
    Window w(host);
    EXPECT_TRUE(OpenTextFile(w.ref(), file.path)) << last;
  }
}

// 40 atoms in a 5 A cube leave 3.1 A^3 each; F centring makes them 160, at
// 0.8 A^3 each, denser than any matter.
TEST_F(SharedFill, ACellMustLeaveRoomForItsAtomsAfterSymmetry) {
  auto shelx = [](int latt) {
    std::string o = "TITL t\nCELL 0.71 5 5 5 90 90 90\nLATT " + std::to_string(latt) + "\nSFAC C\n";
    for (int k = 0; k < 40; k++)
      o += "C" + std::to_string(k + 1) + " 1 " + FormatFixed(0.01 + 0.023 * k, 4) + " " +
           FormatFixed(0.02 + 0.017 * k, 4) + " " + FormatFixed(0.03 + 0.011 * k, 4) + " 11 0.02\n";
    return o + "END\n";
  };
  TempFile primitive("p.ins", shelx(-1));
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), primitive.path));
  EXPECT_EQ(w.crystal().atomsPerCell, 40);
  TempFile centred("f.ins", shelx(-4));
  EXPECT_EQ(Refusal(host, centred.path),
            "\"f.ins\" could not be read: 160 atoms in a cell of 125.0 \u00C5\u00B3: less than the 2 \u00C5\u00B3 "
            "each atom of any matter needs."); // 40 general positions, 4 centring copies
  // Particles in reduced units (every mass 1: placeholders) are no matter:
  // 64 of them in a box of 27 sigma^3 open.
  std::string lj = "reduced units\n\n64 atoms\n1 atom types\n\n0 3 xlo xhi\n0 3 ylo yhi\n0 3 zlo zhi\n\nMasses\n\n1 1\n\n"
                   "Atoms # atomic\n\n";
  for (int k = 0; k < 64; k++)
    lj += std::to_string(k + 1) + " 1 " + std::to_string(0.75 * (k % 4)) + " " + std::to_string(0.75 * (k / 4 % 4)) +
          " " + std::to_string(0.75 * (k / 16)) + "\n";
  TempFile reduced("data.lj", lj);
  Window w2(host);
  ASSERT_TRUE(OpenTextFile(w2.ref(), reduced.path));
  EXPECT_EQ(w2.crystal().sites.size(), 64u);
}

// The rule: the label's first characters and the first number 1, 2, ...
// that makes a label not yet taken, the number taking the last characters.
TEST_F(SharedFill, LongLabelsAreShortenedToTheFirstFreeNumber) {
  std::string text = "TITL t\nCELL 0.71 30 30 30 90 90 90\nSFAC C CU\n";
  std::vector<std::string> labels(12, "Caaaaaaaaa");
  // Labels of the record's length are taken wherever they stand, in any order.
  for (const char *l : {"Cu10000", "Cu10001", "Cu100000", "Cu100001", "Cu10005", "Cu10004", "Cu100002"})
    labels.emplace_back(l);
  for (size_t k = 0; k < labels.size(); k++)
    text += labels[k] + (labels[k][1] == 'u' ? " 2 " : " 1 ") + FormatFixed(0.05 * static_cast<double>(k), 2) +
            " 0.1 0.1 11 0.02\n";
  TempFile file("t.ins", text + "END\n");
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), file.path));
  const char *expected[] = {"Caaaaaa", "Caaaaa1", "Caaaaa2", "Caaaaa3", "Caaaaa4", "Caaaaa5", "Caaaaa6", "Caaaaa7",
                            "Caaaaa8", "Caaaaa9", "Caaaa10", "Caaaa11", "Cu10000", "Cu10001", "Cu10002", "Cu10003",
                            "Cu10005", "Cu10004", "Cu10006"};
  ASSERT_EQ(w.crystal().sites.size(), std::size(expected));
  for (size_t k = 0; k < std::size(expected); k++)
    EXPECT_STREQ(w.crystal().sites[k].label, expected[k]) << k;
}

} // namespace
