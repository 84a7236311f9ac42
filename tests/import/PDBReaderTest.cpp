// PDB files opened the way the user opens them: the window the file builds,
// its cell and sites from hand computations of the format's columns, its
// bonds and ellipsoids, the Log lines of what was left out, and the refusal
// of damaged files with the line named.
#include "../documents/DocumentTestSupport.h"

#include "StoredLimits.h"
#include "import/ImportPath.h"
#include "import/ImportText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using doctest::Window;

const fs::path kData = fs::path(OV_TEST_DATA) / "import" / "pdb";
constexpr double kDeg = 3.14159265358979323846 / 180.0;

std::string ReadText(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

fs::path WriteTemp(const std::string &name, const std::string &text) {
  const fs::path file = fs::temp_directory_path() / (std::to_string(::getpid()) + "-" + name);
  std::ofstream(file, std::ios::binary) << text;
  return file;
}

const AsymmetricUnitRecord *SiteLabelled(const CrystalRec &c, const char *label) {
  for (const AsymmetricUnitRecord &s : c.sites)
    if (std::string(s.label) == label)
      return &s;
  return nullptr;
}

std::string Elements(const CrystalRec &c) {
  std::string out;
  for (size_t k = 0; k < c.atoms.size(); k++)
    out += (k ? " " : "") + ElementSymbolText(c.sites[c.atoms[k].site].elements[0]);
  return out;
}

// The bonds of a molecule's atoms as pairs of atom indices (1-based, as the
// file's serials count here).
std::set<std::pair<int, int>> BondPairs(const CrystalRec &c) {
  std::set<std::pair<int, int>> out;
  for (size_t a = 0; a < c.atoms.size(); a++)
    for (size_t k = 0; k < std::min<size_t>(c.atoms[a].bondCount, c.atoms[a].bonds.size()); k++) {
      const int p = static_cast<int>(a) + 1, q = static_cast<int>(c.atoms[a].bonds[k]) + 1;
      out.insert({std::min(p, q), std::max(p, q)});
    }
  return out;
}

class PDBReader : public ::testing::Test {
protected:
  bool Open(Window &w, const fs::path &file) { return OpenTextFile(w.ref(), file, ImportChoice::TakeFirst); }
  bool LogHas(const std::string &text) const { return host.log.find(text) != std::string::npos; }
  FakeHost host;
};

// A monoclinic cell in P 1 21 1: the sites are the Cartesian atoms through
// the standard orthogonalisation (a along x, c* along z), and the ANISOU
// tensors, Cartesian in 1e-4 A^2, become the record's Uij.
TEST_F(PDBReader, Cryst1GivesACrystalWithItsSitesAndEllipsoids) {
  Window w(host);
  ASSERT_TRUE(Open(w, kData / "cryst1_anisou.pdb")) << host.log;
  const CrystalRec &c = w.crystal();
  ASSERT_FALSE(c.molecule);
  EXPECT_FLOAT_EQ(c.a, 7.5f);
  EXPECT_FLOAT_EQ(c.beta, 104.5f);
  EXPECT_EQ(c.siteCount, 3);
  EXPECT_EQ(c.atomsPerCell, 6); // every site in a general position of P 1 21 1
  const double a = 7.5, b = 6.2, cc = 9.1, be = 104.5 * kDeg;
  const AsymmetricUnitRecord *zn = SiteLabelled(c, "ZN");
  ASSERT_TRUE(zn);
  const double fz = 2.0 / (cc * std::sin(be)), fx = (1.1 - cc * std::cos(be) * fz) / a, fy = 1.5 / b;
  const double want[3] = {fx, fy, fz};
  for (int k = 0; k < 3; k++) {
    const double d = zn->xyz[k] - want[k];
    EXPECT_NEAR(d - std::round(d), 0.0, 1e-5) << k;
  }
  // Uiso 0.02 on the reciprocal axes: U13 = 0.02 cos(beta*) = -0.02 cos(beta).
  EXPECT_EQ(zn->displacementType, kDisplacementAnisoU);
  EXPECT_NEAR(zn->tensor[0], 0.02, 1e-6);
  EXPECT_NEAR(zn->tensor[4], 0.02, 1e-6);
  EXPECT_NEAR(zn->tensor[2], -0.02 * std::cos(be), 1e-6);
  EXPECT_NEAR(zn->tensor[1], 0.0, 1e-7);
  // O1's largest displacement (0.04 A^2) lies along x, which is a: every
  // copy's longest axis is along a, sqrt(0.04) times the critical value.
  const AsymmetricUnitRecord *o1 = SiteLabelled(c, "O1");
  ASSERT_TRUE(o1);
  for (int32_t n = o1->firstAtom; n < o1->firstAtom + o1->atomsPerCell; n++) {
    const AtomRecord &atom = c.atoms[static_cast<size_t>(n)];
    double longest = 0.0, along[3] = {};
    for (const auto &end : atom.ellipsoidAxes) {
      const double d[3] = {double(end[0]) - atom.xyz[0], double(end[1]) - atom.xyz[1], double(end[2]) - atom.xyz[2]};
      const double cart[3] = {a * d[0] + cc * std::cos(be) * d[2], b * d[1], cc * std::sin(be) * d[2]};
      const double len = std::hypot(cart[0], cart[1], cart[2]);
      if (len > longest) {
        longest = len;
        std::copy(cart, cart + 3, along);
      }
    }
    EXPECT_NEAR(longest, 0.2 * c.ellipsoidCriticalValue, 1e-4);
    EXPECT_NEAR(std::fabs(along[0]) / longest, 1.0, 1e-4);
  }
}

TEST_F(PDBReader, ThePlaceholderCellAndNoCellGiveMolecules) {
  for (const char *name : {"placeholder.pdb", "conect.pdb"}) {
    Window w(host);
    ASSERT_TRUE(Open(w, kData / name)) << name;
    EXPECT_TRUE(w.crystal().molecule) << name;
    EXPECT_FLOAT_EQ(w.crystal().atoms[2].cart[0], 0.716f) << name;
  }
}

// Ethanol: CONECT lists each bond from both ends; the window holds exactly
// the file's eight bonds, and no automatic search ran.
TEST_F(PDBReader, ConectGivesTheBonds) {
  Window w(host);
  ASSERT_TRUE(Open(w, kData / "conect.pdb"));
  const std::set<std::pair<int, int>> want = {{1, 2}, {1, 4}, {1, 5}, {1, 6}, {2, 3}, {2, 7}, {2, 8}, {3, 9}};
  EXPECT_EQ(BondPairs(w.crystal()), want);
  EXPECT_TRUE(LogHas("8 bond(s) given by the file"));
  EXPECT_FALSE(LogHas("Automatic bond search"));
}

TEST_F(PDBReader, TheFirstAlternateLocationIsKeptAndTheLogCountsTheRest) {
  Window w(host);
  ASSERT_TRUE(Open(w, kData / "altloc.pdb"));
  const CrystalRec &c = w.crystal();
  ASSERT_EQ(c.atomCount, 5);
  EXPECT_FLOAT_EQ(c.atoms[2].cart[0], 1.988f); // CB at location A
  EXPECT_FLOAT_EQ(c.atoms[3].cart[0], 3.4f);   // OG at location A
  EXPECT_TRUE(LogHas("2 alternate location(s) were left out"));
}

// Residue B 111 is CSD at location A and CYS at B: the position keeps A
// whole, and a water that exists only at B keeps B.
TEST_F(PDBReader, EachResidueKeepsItsFirstAlternateLocation) {
  Window w(host);
  ASSERT_TRUE(Open(w, kData / "resname_mix.pdb"));
  EXPECT_EQ(Elements(w.crystal()), "N C C O N C C O C S O O O");
  EXPECT_FLOAT_EQ(w.crystal().atoms[4].cart[0], 3.33f);
  EXPECT_TRUE(LogHas("6 alternate location(s) were left out"));
}

TEST_F(PDBReader, ModelsAreStructuresToChooseFrom) {
  ImportResult result;
  std::string why;
  ASSERT_TRUE(ReadStructureFile(kData / "models.pdb", result, &why)) << why;
  ASSERT_EQ(result.structures.size(), 2u);
  EXPECT_EQ(result.structures[1].name, "model 2");
  EXPECT_EQ(result.structures[1].bonds.size(), 2u); // CONECT after the models names both
  Window w(host);
  ASSERT_TRUE(Open(w, kData / "models.pdb"));
  EXPECT_FLOAT_EQ(w.crystal().atoms[0].cart[0], -0.748f);
  EXPECT_TRUE(LogHas("holds 2 structures"));
}

// Columns 77-78 blank: " CA " is an alpha carbon, "CA  " calcium, "HG11"
// of a residue a hydrogen, "1HB " a hydrogen; a Q atom is a placeholder and
// a Log line, not a refusal.
TEST_F(PDBReader, TheElementComesFromTheAtomNameWhenItsColumnsAreBlank) {
  Window w(host);
  ASSERT_TRUE(Open(w, kData / "names.pdb"));
  EXPECT_EQ(Elements(w.crystal()), "C H H Ca Fe Cl Xx");
  EXPECT_TRUE(LogHas("names.pdb, line 7: atom \"Q1\" names no element"));
  EXPECT_FALSE(host.subtitles.empty());
}

// Columns 77-78 blank and the name "HG" written from column 13: in a
// residue whose atoms are named by element first (amino acids of any case,
// nucleotides of one or two letters) it is a hydrogen, in any other residue
// (mercury's own, or a name that only begins like an amino acid's) mercury.
TEST_F(PDBReader, TheResidueDecidesWhetherANameIsItsElementsFirstLetter) {
  const struct {
    const char *residue;
    const char *element;
  } cases[] = {{"CYS", "H"}, {"cys", "H"}, {" DA", "H"}, {"  A", "H"}, {" CY", "Hg"}, {"CYX", "H"},
               {"CYZ", "Hg"}, {" HG", "Hg"}, {"AL ", "Hg"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.residue);
    const std::string line =
        std::string("HETATM    1 HG   ") + c.residue + " A   1       0.000   0.000   0.000  1.00  0.00\n";
    const fs::path file = WriteTemp("residue.pdb", line);
    Window w(host);
    ASSERT_TRUE(Open(w, file));
    fs::remove(file);
    EXPECT_EQ(Elements(w.crystal()), c.element);
  }
}

TEST_F(PDBReader, GzippedAndEntFilesOpen) {
  Window w(host);
  ASSERT_TRUE(Open(w, kData / "xcrysden-bucky.pdb.gz"));
  EXPECT_EQ(w.crystal().atomCount, 60);
  const fs::path file = WriteTemp("ethanol.ent", ReadText(kData / "conect.pdb"));
  Window v(host);
  EXPECT_TRUE(Open(v, file));
  fs::remove(file);
  EXPECT_EQ(v.crystal().atomCount, 9);
}

// A warning belongs to the model whose record it names: the ANISOU records
// of model 1 for an atom it lacks are said with model 1 only.
TEST_F(PDBReader, EachModelKeepsTheWarningsOfItsOwnRecords) {
  const std::string atom = "ATOM      1  O   HOH A   1       0.000   0.000   0.000  1.00 20.00           O\n";
  std::string text = "MODEL        1\n" + atom;
  for (int k = 0; k < 3000; k++)
    text += "ANISOU   99  O   HOH A   1      200    200    200      0      0      0       O\n";
  text += "ENDMDL\n";
  for (int m = 2; m <= 4; m++)
    text += "MODEL        " + std::to_string(m) + "\n" + atom + "ENDMDL\n";
  const fs::path file = WriteTemp("anisou.pdb", text);
  ImportResult result;
  std::string why;
  ASSERT_TRUE(ReadStructureFile(file, result, &why)) << why;
  fs::remove(file);
  ASSERT_EQ(result.structures.size(), 4u);
  auto anisou = [](const ImportedStructure &s) {
    return std::count_if(s.extras.warnings.begin(), s.extras.warnings.end(),
                         [](const std::string &w) { return w.find("ANISOU names atom 99") != std::string::npos; });
  };
  // Held once, and no more than a structure shows: the rest are counted.
  EXPECT_EQ(anisou(result.structures[0]), static_cast<long>(kMaxImportWarnings));
  EXPECT_EQ(result.structures[0].extras.warningsLeftOut, 3000 - kMaxImportWarnings);
  for (size_t k = 1; k < 4; k++)
    EXPECT_EQ(anisou(result.structures[k]), 0) << k;
}

// Serials beyond 99,999 in hybrid-36, as the format (and our writer)
// writes them: A0000 is 100,000.
TEST_F(PDBReader, Hybrid36SerialsNameTheAtomsInConect) {
  const char *text = "HETATM99999  C   MOL A   1       0.000   0.000   0.000  1.00  0.00           C\n"
                     "HETATMA0000  O   MOL A   1       1.200   0.000   0.000  1.00  0.00           O\n"
                     "HETATMA0001  N   MOL A   1       0.000   1.300   0.000  1.00  0.00           N\n"
                     "CONECT99999A0000A0001\n"
                     "END\n";
  const fs::path file = WriteTemp("hybrid.pdb", text);
  Window w(host);
  ASSERT_TRUE(Open(w, file));
  fs::remove(file);
  EXPECT_EQ(BondPairs(w.crystal()), (std::set<std::pair<int, int>>{{1, 2}, {1, 3}}));
}

// Damaged files: refused with the line named and the window left as it
// was, or read with a Log line for what was mended. Never an atom at NaN.
TEST_F(PDBReader, DamagedFilesAreRefusedOrMendedWithTheLineNamed) {
  const std::string c1 = "HETATM    1  C   MOL A   1       0.000   0.000   0.000  1.00  0.00           C\n";
  const std::string c2 = "HETATM    2  O   MOL A   1       1.200   0.000   0.000  1.00  0.00           O\n";
  // 20 atoms at general positions of P 21 21 21 are 80 in a cell of
  // 125 A^3: less room than matter leaves, though 20 alone would fit.
  std::string crowd = "CRYST1    5.000    5.000    5.000  90.00  90.00  90.00 P 21 21 21    4\n";
  for (int k = 0; k < 20; k++) {
    char line[96];
    std::snprintf(line, sizeof line, "HETATM%5d  C   MOL A   1    %8.3f%8.3f%8.3f  1.00  0.00           C\n", k + 1,
                  0.1 + 0.21 * k, 0.2 + 0.17 * k, 0.3 + 0.13 * k);
    crowd += line;
  }
  struct Case {
    const char *name;
    std::string text;
    const char *alertOrLog; // the refusal's explanation, or the Log line
    bool refused;
  };
  const std::vector<Case> cases = {
      {"no room after symmetry", crowd,
       "line 1: CRYST1: 80 atoms in a cell of 125.0 \u00C5\u00B3: less than the 2 \u00C5\u00B3 each atom of any "
       "matter needs; the atoms are read as a molecule.",
       false},
      {"nan coordinate", c1 + "HETATM    2  O   MOL A   1         nan   0.000   0.000  1.00  0.00           O\n",
       "could not be read at line 2: the x coordinate \"nan\" (columns 31-38) is not a number.", true},
      {"text coordinate", c1 + "HETATM    2  O   MOL A   1       1.200   zero    0.000  1.00  0.00           O\n",
       "at line 2: the y coordinate \"zero\" (columns 39-46) is not a number.", true},
      {"truncated record", c1 + "HETATM    2  O   MOL A   1       1.200   0.00",
       "at line 2: the z coordinate (columns 47-54) is not a number.", true},
      {"bad cell", "CRYST1    7.500    x.200    9.100  90.00 104.50  90.00 P 1 21 1      2\n" + c1,
       "at line 1: the CRYST1 record's cell is not six numbers.", true},
      {"impossible cell", "CRYST1    7.500    6.200    9.100  90.00 190.00  90.00 P 1           1\n" + c1 + c2,
       "line 1: CRYST1: the cell's lengths and angles make no cell; the atoms are read as a molecule.", false},
      {"tiny cell", "CRYST1    1.000    1.000    1.000  90.00  90.00   9.00 P 1           1\n" + c1 + c2,
       "line 1: CRYST1: the cell is thinner than 1.0 A between two of its faces, which no crystal's cell is; the atoms "
       "are read as a molecule.",
       false},
      {"no atoms", "HEADER    NOTHING\nREMARK   1 NO ATOMS\nEND\n", "holds no ATOM or HETATM record", true},
      {"bond to nothing", c1 + c2 + "CONECT    1    2\nCONECT    1    7\n",
       "line 4: CONECT names atom 7, which the file does not hold; 1 such bond(s) were left out.", false},
      {"unknown group", "CRYST1    7.500    6.200    9.100  90.00  90.00  90.00 Q 9 9        1\n" + c1 + c2,
       "line 1: the space group \"Q 9 9\" is not known; P 1 is used.", false},
  };
  for (const Case &k : cases) {
    host.alerts.clear();
    host.log.clear();
    const fs::path file = WriteTemp("bad.pdb", k.text);
    Window w(host);
    const bool opened = Open(w, file);
    fs::remove(file);
    EXPECT_EQ(opened, !k.refused) << k.name;
    if (k.refused) {
      ASSERT_EQ(host.alerts.size(), 1u) << k.name;
      EXPECT_NE(host.alerts[0].explanation.find(k.alertOrLog), std::string::npos)
          << k.name << ": " << host.alerts[0].explanation;
      EXPECT_EQ(w.crystal().atomCount, 0) << k.name; // the window as it was
    } else {
      EXPECT_TRUE(LogHas(k.alertOrLog)) << k.name << ": " << host.log;
      for (const AtomRecord &a : w.crystal().atoms)
        for (float v : a.cart)
          EXPECT_TRUE(std::isfinite(v)) << k.name;
    }
  }
}

// Content decides when the name does not: a PDB named otherwise opens,
// while text that merely holds an ATOM word is no PDB.
TEST_F(PDBReader, TheDetectorTakesPDBRecordsOnly) {
  ImportSource pdb{"x.txt", "x.txt", ReadText(kData / "conect.pdb")};
  EXPECT_TRUE(FindImportFormat("PDB")->detect(pdb));
  ImportSource other{"x.txt", "x.txt", "TITL something\nATOM  C 0.1 0.2 0.3\n"};
  EXPECT_FALSE(FindImportFormat("PDB")->detect(other));
  ImportSource xyz{"x.txt", "x.txt", "1\ncomment\nC 0 0 0\n"};
  EXPECT_FALSE(FindImportFormat("PDB")->detect(xyz));
}

} // namespace
