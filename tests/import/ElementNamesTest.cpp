// The element a file means by an atom's name or mass, opened as a user
// opens the file: water labels, the atom names of standard residues however
// they are justified, and masses that decide against names. The counts are
// hand counts of each file's own records (helix_amber.pdb: the first letter
// of every atom name, all its residues being standard ones).
#include "ReaderTestSupport.h"

#include "import/ImportText.h"

#include <map>

namespace {

using namespace readertest;
using doctest::Window;

const std::string kCIFHead = "data_w\n_cell_length_a 10\n_cell_length_b 10\n_cell_length_c 10\n"
                             "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                             "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n";

std::string PDBAtom(const char *record, int serial, const char *name, const char *residue, double x) {
  char line[96];
  std::snprintf(line, sizeof line, "%-6s%5d %-4s %3s A%4d    %8.3f%8.3f%8.3f  1.00  0.00\n", record, serial, name,
                residue, serial, x, 0.0, 0.0);
  return line;
}

TEST(ElementNames, NamesAndMassesReadAsTheirWritersMeantThem) {
  const std::string mmcif = "data_m\nloop_\n_atom_site.group_PDB\n_atom_site.id\n_atom_site.label_atom_id\n"
                            "_atom_site.label_comp_id\n_atom_site.label_asym_id\n_atom_site.label_seq_id\n"
                            "_atom_site.Cartn_x\n_atom_site.Cartn_y\n_atom_site.Cartn_z\n"
                            "ATOM 1 CA ALA A 1 0 0 0\nATOM 2 HG SER A 2 3 0 0\nATOM 3 SG CYS A 3 6 0 0\n"
                            "HETATM 4 CA CA B . 9 0 0\nHETATM 5 O HOH C . 12 0 0\n";
  const std::string history = "names and masses\n         0         0         4\n"
                              "timestep         1         4         0         0    0.001000\n"
                              "CA               1   12.011000    0.000000\n   0.0 0.0 0.0\n"
                              "OW               2   15.999400    0.000000\n   2.0 0.0 0.0\n"
                              "CH3              3   15.035000    0.000000\n   4.0 0.0 0.0\n"
                              "WAT              4   15.999400    0.000000\n   6.0 0.0 0.0\n";
  const std::string lammps = "masses\n\n5 atoms\n5 atom types\n\n0 20 xlo xhi\n0 20 ylo yhi\n0 20 zlo zhi\n\n"
                             "Masses\n\n1 47.867\n2 183.84\n3 32.041\n4 55.8\n5 40.08\n\n"
                             "Atoms # atomic\n\n1 1 1 1 1\n2 2 5 5 5\n3 3 9 9 9\n4 4 13 13 13\n5 5 17 17 17\n";
  const struct {
    std::string name;
    fs::path file;      // a sample, or
    std::string text;   // a file written for the case
    std::string counts; // the sites' elements
    std::vector<std::string> log;
  } cases[] = {
      // Labels with no type symbol: water's names, and names that merely
      // start like them. Ice VI's Wat3 is an image of Wat2 (by
      // 1/2+x,1/2+y,1/2-z): two sites.
      {"H2O-Ice-VI.cif",
       Sample("names", "H2O-Ice-VI.cif"),
       "",
       "O2",
       {"line 49: \"Wat1\" names water: it is read as water's oxygen (O), not as W."}},
      {"labels.cif",
       {},
       kCIFHead + "Wat1 0 0 0\nWATER2 .1 0 0\nHOH3 .2 0 0\nOW4 .3 0 0\nHo5 .4 0 0\nW6 .5 0 0\n"
                  "Owl7 .6 0 0\n",
       "Ho1 O5 W1",
       {"\"HOH3\" names water: it is read as water's oxygen (O), not as Ho."}},
      {"CONFIG",
       {},
       "water by name\n0 0\nWAT 1\n0.0 0.0 0.0\nWAT 2\n3.0 0.0 0.0\nHW 3\n0.0 1.0 0.0\n",
       "H1 O2",
       {"line 3: \"WAT\" names water: it is read as water's oxygen (O), not as W."}},
      // Standard residues: the first letter, however the name is justified;
      // other residues keep to the columns.
      {"helix_amber.pdb", Sample("names", "helix_amber.pdb"), "", "C128 H189 N38 O34 S3", {}},
      {"justified.pdb",
       {},
       PDBAtom("ATOM", 1, "CA", "ALA", 0) + PDBAtom("ATOM", 2, "HG", "SER", 3) + PDBAtom("ATOM", 3, "ND2", "ASN", 6) +
           PDBAtom("ATOM", 4, " SG", "CYS", 9) + PDBAtom("ATOM", 5, "1HB", "ALA", 12) +
           PDBAtom("HETATM", 6, "CA", "CA", 15) + PDBAtom("HETATM", 7, "SE", "MSE", 18) +
           PDBAtom("HETATM", 8, " O", "HOH", 21),
       "C1 Ca1 H2 N1 O1 S1 Se1",
       {}},
      {"names.cif", {}, mmcif, "C1 Ca1 H1 O1 S1", {}},
      // Masses (a trajectory's, a LAMMPS file's) decide against names, and
      // a mass that is no element's makes a placeholder.
      {"HISTORY_classic",
       Sample("names", "HISTORY_classic"),
       "",
       "K3",
       {"their masses tell it: A K.",
        "the masses of these atoms are another element's than their names say, and decide: B (39.098300) K, "
        "C (39.098300) K."}},
      {"HISTORY",
       {},
       history,
       "C1 O2 Xx1",
       {"the masses of these atoms are another element's than their names say, and decide: CA (12.011000) C.",
        "these atoms' masses are no element's; they are drawn as placeholders: CH3 (15.035000)."}},
      {"dump.meoh",
       Sample("lammpsdump", "dump.meoh"),
       "",
       "Xx1000",
       {"masses that are no element's: the atoms of type(s) 1 are placeholders."}},
      {"data.masses",
       {},
       lammps,
       "Ca1 Fe1 Ti1 W1 Xx1",
       {"atom types by their masses: 1 (47.867) Ti, 2 (183.84) W, 4 (55.8) Fe, 5 (40.08) Ca.",
        "atom types whose mass is no element's are placeholders: 3 (32.041)."}},
  };
  for (const auto &c : cases) {
    FakeHost host;
    Window w(host);
    std::optional<TempFile> written;
    const fs::path file = RowFile(c.file, c.name, c.text, written);
    ASSERT_TRUE(OpenTextFile(w.ref(), file, ImportChoice::TakeFirst))
        << c.name << ": " << (host.alerts.empty() ? "" : host.alerts.back().explanation);
    EXPECT_EQ(ElementCounts(w.crystal()), c.counts) << c.name;
    for (const std::string &line : c.log)
      EXPECT_NE(host.log.find(line), std::string::npos) << c.name << ": " << line << "\n" << host.log;
  }
}

} // namespace
