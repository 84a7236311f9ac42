// What the readers tell the user, through File > Open: a refusal quotes
// the text it refused and names its line, a file cut short is refused at
// its last line rather than opened as less, and the Log says each thing once
// per file, naming at most six atoms in a line of at most 1,024 characters.
#include "ReaderTestSupport.h"

#include "import/ImportText.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

using namespace readertest;
using doctest::Window;

std::string Text(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The first lines of a text, each with its line end.
std::string FirstLines(const std::string &text, size_t n) {
  size_t at = 0;
  for (size_t k = 0; k < n && at != std::string::npos; k++)
    at = text.find('\n', at) + 1;
  return text.substr(0, at);
}

// The text with `from` replaced once.
std::string Replaced(std::string text, const std::string &from, const std::string &to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos)
    text.replace(at, from.size(), to);
  return text;
}

// An experiment file's atom record, in its columns.
std::string ExperimentAtom(int number, const char *type, const char *x, const char *y, const char *z,
                           const char *occupancy, const char *label) {
  char record[128];
  std::snprintf(record, sizeof record, "CRS1  AT%3dA  %-8s%10s%10s%10s%10s%-10s\n", number, type, x, y, z, occupancy,
                label);
  return record;
}

class ReaderMessages : public ::testing::Test {
protected:
  FakeHost host;
};

TEST_F(ReaderMessages, DamagedFilesAreRefusedQuotingWhatAndWhere) {
  const std::string pdb = Text(Sample("names", "1yjp.pdb"));
  const std::string pdbLine = "HETATM   67  O   HOH    14      -1.500";
  const std::string perovskite = Text(Sample("ccsl", "perovskite.ccl"));
  const std::string quartz = Text(Sample("atoms", "quartz.inp"));
  const std::string rutile = Text(Sample("vesta", "rutile.vesta"));
  const std::string garnet = Text(Sample("gsas", "GARNET.EXP"));
  const std::string box = "  10.0 0.0 0.0\n  0.0 10.0 0.0\n  0.0 0.0 10.0\n";
  const struct {
    const char *name;
    std::string text;
    std::string alert;
  } files[] = {
      {"1yjp.pdb", Replaced(pdb, pdbLine, pdbLine.substr(0, 30) + "  -1.5q0"),
       "line 76: the x coordinate \"-1.5q0\" (columns 31-38) is not a number."},
      {"CONFIG", "two ions\n  0  1  2\n" + box + "Na 1\n  0.10q000 0.0 0.0\nCl 2\n  5.0 5.0 5.0\n",
       "line 7: the coordinate \"0.10q000\" of atom Na is not a number."},
      {"HISTORY",
       "two ions\n  0  1  2\ntimestep 1 2 0 1 0.001\n" + box +
           "Na 1 22.99 1.0\n  0.10q000 0.0 0.0\nCl 2 35.45 -1.0\n  5.0 5.0 5.0\n",
       "line 8: the coordinate \"0.10q000\" of atom Na is not a number."},
      {"POSCAR", "NaCl\n1.0\n5.64 0 0\n0 5.64 0\n0 0 5.64\nNa Cl\n1 1\nDirect\n0 0 0\n0.q 0.5 0.5\n",
       "line 10: the value \"0.q\" of a position is not a number."},
      {"carbonate.car",
       "!BIOSYM archive 3\nPBC=OFF\nCarbonate ion\n!DATE\n"
       "C       0.000000    0.000000    0.000000 CORE 1      xx      C   0.000\n"
       "O       0.000000   -1.275000    0.000000 CORE 1      xx      O   0.000\n"
       "O      -1.103000    0.640000    0.000000 CORE 1      xx      O   0.000\n"
       "O       1.1057q3395    0.635000    0.000000 CORE 1      xx      O   0.000\nend\nend\n",
       "line 8: the coordinate \"1.1057q3395\" of atom O is not a number."},
      {"atoms.inp", "title copper\nspace F m -3 m\na = 5.4q4\natoms\nCu 0 0 0 Cu\n",
       "line 3: the value \"5.4q4\" of a is not a number."},
      {"perovskite.ccl", Replaced(perovskite, "C 3.905", "C 3.9q5"),
       "line 3: the cell constant \"3.9q5\" is not a number."},
      // Cut short after a whole number: the end mark, the count or the rest
      // of the record is missing.
      {"quartz.inp", quartz.substr(0, quartz.find("O1 0.4135 0.2") + 13),
       "line 5: the atom \"O1 0.4135 0.2\" needs three coordinates."},
      {"perovskite.ccl", perovskite.substr(0, perovskite.find("A TI 1/2 1/2 1") + 14),
       "line 9: the file ends inside the A card \"A TI 1/2 1/2 1\": it is cut short."},
      {"rutile.vesta", FirstLines(rutile, 35),
       "line 35: the STRUC list ends without its row of zeros: the file is cut short."},
      {"GARNET.EXP", FirstLines(garnet, 26),
       "line 26: the file ends before its last record (\"ZZZZZZZZZZZZ\"): it is cut short."},
  };
  for (const auto &f : files) {
    TempFile file(f.name, f.text);
    EXPECT_EQ(Refusal(host, file.path), "\"" + std::string(f.name) + "\" could not be read at " + f.alert) << f.name;
  }
}

// Each row opens; its Log lines are there once, and what must not be said
// is not.
TEST_F(ReaderMessages, EachCauseIsOneLogLineNamingAtMostSixAtoms) {
  std::string theri = Text(Sample("vesta", "rutile.vesta"));
  theri = Replaced(theri, "Ti1  0.400000", "Ti1  0.000000");
  theri = Replaced(theri, "O1  0.500000", "O1  0.000000");
  theri = Replaced(theri, "0.00500    0.00500    0.00300    0.00010", "0.00000    0.00000    0.00000    0.00000");
  std::string shelx = "TITL t\nCELL 0.71 5 5 5 90 90 90\nSFAC C\n";
  for (int k = 1; k <= 10; k++)
    shelx += "C" + std::to_string(k) + " 1 0.1 0.2 0.3 10.2 0.02\n";
  shelx += "END\n";
  const std::string box = "  10.0 0.0 0.0\n  0.0 10.0 0.0\n  0.0 0.0 10.0\n";
  std::string names = "placeholders\n  0  1  7\n" + box;
  for (int k = 0; k < 7; k++)
    names += std::string(300, k % 2 ? 'Q' : 'J') + std::to_string(k) + " " + std::to_string(k + 1) + "\n  " +
             std::to_string(k) + ".0 1.0 1.0\n";
  const std::string far = "     VERSION    6\n EXPR NPHAS     1\nCRS1    PNAM  far\n"
                          "CRS1  ABC     5.640000  5.640000  5.640000\nCRS1  ANGLES   90.0000   90.0000   90.0000\n" +
                          ExperimentAtom(1, "NA", "0.000000", "0.000000", "0.000000", "1.000000", "Na1") +
                          ExperimentAtom(2, "O", "1.0000E+15", "0.250000", "0.250000", "0.500000", "O1") +
                          ExperimentAtom(3, "O", "0.000000", "0.250000", "0.250000", "0.500000", "O2") +
                          "CRS1  SG SYM  F m 3 m\nZZZZZZZZZZZZ  Last EXP file record\n";
  const struct {
    const char *name;
    std::string text;
    int cellAtoms;
    std::vector<std::string> logged;
    std::string notLogged;
  } files[] = {
      {"zero.vesta",
       theri,
       6,
       {"zero.vesta, line 39: 2 site(s) give no displacement (Ti1, O1); they are drawn with the default."},
       "Invalid thermal ellipsoid"},
      {"ten.ins",
       shelx,
       2, // with its image under the inversion (LATT 1)
       {"line 4: the atoms C1, C2, C3, C4, C5, C6 and 4 more share one site, but their occupancies sum to 2.00."},
       "C7"},
      {"CONFIG",
       "coarse water\n  0  1  2\n" + box + "CG 1\n  0.0 0.0 0.0\nCG 2\n  3.0 3.0 3.0\n",
       2,
       {"CONFIG, the file gives no elements; they were told from the atom names: CG C."},
       ""},
      // The far atom goes first; O2 then stands alone at its half occupancy.
      {"far.exp",
       far,
       4 + 24,
       {"far.exp, line 7: the atom lies at no place a structure holds (a coordinate beyond 1000000); it is left "
        "out."},
       "mixed site"},
      {"bmax.ovtx",
       "TITL  t\nCELL  5 5 5  90 90 90\nBMAX  C  C  1e308\nATOM\nC   C1  0.1 0.2 0.3\n",
       1,
       {"bmax.ovtx, line 3: BMAX 1e308 is beyond the largest bond maximum, 231 \u00C5; 231 \u00C5 used."},
       "needs two elements"},
  };
  for (const auto &f : files) {
    TempFile file(f.name, f.text);
    Window w(host);
    host.log.clear();
    ASSERT_TRUE(OpenTextFile(w.ref(), file.path))
        << f.name << ": " << (host.alerts.empty() ? "" : host.alerts.back().explanation);
    EXPECT_EQ(w.crystal().atomsPerCell, f.cellAtoms) << f.name;
    for (const std::string &line : f.logged) {
      const size_t at = host.log.find(line);
      EXPECT_NE(at, std::string::npos) << f.name << ": " << host.log;
      EXPECT_EQ(host.log.find(line, at + 1), std::string::npos) << f.name << " says it twice";
    }
    if (!f.notLogged.empty()) {
      EXPECT_EQ(host.log.find(f.notLogged), std::string::npos) << f.name << ": " << host.log;
    }
  }
  // Seven long names of no element: one line, cut to its limit.
  TempFile file("CONFIG", names);
  Window w(host);
  host.log.clear();
  ASSERT_TRUE(OpenTextFile(w.ref(), file.path));
  std::istringstream lines(host.log);
  std::string line, placeholders;
  while (std::getline(lines, line, '\r')) // the Log's lines end in CR
    if (line.find("drawn as placeholders") != std::string::npos) {
      EXPECT_TRUE(placeholders.empty()) << "said twice";
      placeholders = line.substr(std::string("CONFIG, ").size());
    }
  EXPECT_EQ(placeholders.size(), size_t{1024});
  EXPECT_TRUE(placeholders.ends_with("...")) << placeholders;
}

// A V3000 file written with one blank in "M V30" reads as one written with
// two: Open Babel reads this file as 6 atoms and 5 bonds.
TEST_F(ReaderMessages, AV3000FileWithOneBlankAfterItsMarkIsRead) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("mol", "v3000_one_blank.mol")))
      << (host.alerts.empty() ? "" : host.alerts.back().explanation);
  const CrystalRec &c = w.crystal();
  EXPECT_EQ(c.atoms.size(), 6u);
  int bonds = 0;
  for (const AtomRecord &a : c.atoms)
    bonds += a.bondCount;
  EXPECT_EQ(bonds, 2 * 5);
}

} // namespace
