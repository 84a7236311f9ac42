// Bonds and bond maxima a file gives that reach far beyond any bond: a listed
// bond longer than twice the automatic rule's limit is left out with its
// line, a maximum beyond the largest is held to it with a Log line, and a
// maximum that would bond every atom to dozens of others leaves the
// structure without bonds and says why.
#include "MOLTestFixture.h"

#include "BondEditing.h"
#include "LongCommand.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

using doctest::Window;
using FileBondLimits = MoleculeFileTest;

// n^3 carbon atoms of a cubic grid 1.54 A apart, as PDB ATOM records of a
// P 1 crystal; `conect` appended.
std::string GridPDB(int n, const std::string &conect) {
  std::string o;
  char line[96];
  const double edge = 1.54 * n;
  std::snprintf(line, sizeof line, "CRYST1%9.3f%9.3f%9.3f  90.00  90.00  90.00 P 1           1\n", edge, edge, edge);
  o += line;
  int serial = 0;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++)
      for (int k = 0; k < n; k++) {
        ++serial;
        std::snprintf(line, sizeof line, "ATOM  %5d  C   GLY A%4d    %8.3f%8.3f%8.3f  1.00 20.00           C\n",
                      serial, serial, 1.54 * i, 1.54 * j, 1.54 * k);
        o += line;
      }
  return o + conect + "END\n";
}

double LongestSpec(const CrystalRec &c, const char *a, const char *b) {
  double longest = 0.0;
  for (int k = 0; k < c.bondSpecCount; k++) {
    const BondSpec &s = c.bondSpecs[static_cast<size_t>(k)];
    const std::string x = ElementSymbolText(s.elementA), y = ElementSymbolText(s.elementB);
    if ((x == a && y == b) || (x == b && y == a))
      longest = std::max(longest, double(s.maxLength));
  }
  return longest;
}

// A listed bond beyond twice the automatic limit of its pair is left out,
// named by its line, and widens no specification; one within it is kept.
// The automatic C-C limit is 1.15 x (0.76 + 0.76) = 1.748 A (Cordero's
// covalent radius of carbon), so 3.08 A is kept and 18.48 A is not.
TEST_F(FileBondLimits, ListedBondsBeyondTwiceTheRuleAreLeftOutWithTheirLine) {
  constexpr double kCarbonLimit = 1.15 * (0.76 + 0.76);
  struct Case {
    const char *name;
    std::string text;
    int line;           // of the long bond; 0 for none
    double widenedTo;   // the C-C maximum the file's bonds call for (A), or 0
  } cases[] = {
      // A 12 x 12 x 12 grid in an 18.48 A cell, atom 1 at the origin: atom
      // 865 six steps along x (9.24 A either way), atom 289 two (3.08 A).
      // The CONECT record is line 1 + 1,728 + 1.
      {"far.pdb", GridPDB(12, "CONECT    1  865\n"), 1730, 0.0},
      {"near.pdb", GridPDB(12, "CONECT    1  289\n"), 0, 3.08},
      // A connection table, its one bond 9.24 A long on line 7.
      {"far.mol",
       "far\n  probe\n\n  2  1  0  0  0  0  0  0  0  0999 V2000\n"
       "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
       "    9.2400    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
       "  1  2  1  0  0  0  0\nM  END\n",
       7, 0.0},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    host.log.clear();
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), Write(k.name, k.text)));
    const bool told = host.log.find("the bond C-C of") != std::string::npos;
    EXPECT_EQ(told, k.line > 0) << host.log;
    if (k.line > 0) {
      EXPECT_NE(host.log.find("line " + std::to_string(k.line) + ": the bond C-C of 9.240 A is more than twice"),
                std::string::npos)
          << host.log;
      EXPECT_LE(LongestSpec(w.crystal(), "C", "C"), 2 * kCarbonLimit);
      EXPECT_LT(LongestSpec(w.crystal(), "C", "C"), 9.0);
    } else {
      EXPECT_NEAR(LongestSpec(w.crystal(), "C", "C"), k.widenedTo + 0.005, 1e-3);
    }
  }
}

// SBOND and BMAX maxima beyond the largest, 231 A, are held to it, each
// with its Log line in the words of the file.
TEST_F(FileBondLimits, MaximaBeyondTheLargestAreHeldWithALogLine) {
  std::ifstream in(Data("vesta/rutile.vesta"));
  std::stringstream whole;
  whole << in.rdbuf();
  std::string vesta = whole.str();
  const std::string row = "0.00000    2.10000";
  ASSERT_NE(vesta.find(row), std::string::npos);
  vesta.replace(vesta.find(row), row.size(), "0.00000    1e308");
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Write("far.vesta", vesta)));
  EXPECT_NE(host.log.find("line 52: SBOND 1e308 is beyond the largest bond maximum, 231"), std::string::npos)
      << host.log;
  EXPECT_FLOAT_EQ(static_cast<float>(LongestSpec(w.crystal(), "Ti", "O")), 231.0f);
}

// A maximum that would give the atoms more than 40 bonds each on average
// is refused before any bond is made: the alert says why, and the
// structure shows without bonds. A 6 x 6 x 6 grid of 1.54 A with BMAX C C
// 231 would bond every atom in range to every other (each to hundreds); the
// same grid with 2.9 A bonds each to its 6 + 12 + 8 = 26 neighbours at 1.54,
// 2.18 and 2.67 A, fewer than 40, and keeps them. So does a grid of 12 x 12
// x 12 in a cell twice as long, whose 13 x 13 x 13 atoms in range are
// bonded 24,228 times (3 x 12 x 13^2 along the edges, 6 x 12^2 x 13 across
// the faces, 4 x 12^3 through the cubes), over half the room of 20 bonds
// an atom: each bond is counted once.
TEST_F(FileBondLimits, MaximaThatBondEveryAtomToDozensLeaveNoBonds) {
  auto grid = [](const char *bmax, int n) {
    char line[96];
    std::snprintf(line, sizeof line, "CELL %.2f %.2f %.2f 90 90 90\n", 1.54 * n, 1.54 * n, 1.54 * n);
    std::string o = "TITL grid\n" + std::string(line) + "SYMM x,y,z\n" + std::string(bmax) + "\nATOM\n";
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++)
        for (int k = 0; k < n; k++) {
          std::snprintf(line, sizeof line, "C C%d %.6f %.6f %.6f\n", n * n * i + n * j + k + 1, double(i) / n,
                        double(j) / n, double(k) / n);
          o += line;
        }
    return o;
  };
  struct Case {
    const char *name, *bmax;
    int n;
    bool refused;
    uint64_t bonds;
  } cases[] = {{"far.ovtx", "BMAX C C 231", 6, true, 0},
               {"near.ovtx", "BMAX C C 2.9", 6, false, 3258},
               {"wide.ovtx", "BMAX C C 2.9", 12, false, 24228}};
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    host.alerts.clear();
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), Write(k.name, grid(k.bmax, k.n))));
    const CrystalRec &c = w.crystal();
    if (k.refused) {
      ASSERT_EQ(host.alerts.size(), 1u);
      EXPECT_EQ(host.alerts[0].message, "Too many bonds");
      EXPECT_NE(host.alerts[0].explanation.find("more than 40 to an atom on average"), std::string::npos)
          << host.alerts[0].explanation;
      EXPECT_LT(host.alerts[0].explanation.size(), 220u);
      EXPECT_TRUE(Bonds(c).empty());
      EXPECT_GT(c.atomCount, 0);
    } else {
      EXPECT_TRUE(host.alerts.empty());
      // An atom inside the range has its 26 neighbours.
      uint32_t most = 0;
      uint64_t ends = 0;
      for (int32_t a = 0; a < c.atomCount; a++) {
        most = std::max(most, c.atoms[static_cast<size_t>(a)].bondCount);
        ends += c.atoms[static_cast<size_t>(a)].bondCount;
      }
      EXPECT_EQ(most, 26u);
      EXPECT_EQ(ends / 2, k.bonds);
    }
  }
}

} // namespace

namespace {

// 2,000 carbon atoms at fixed pseudo-random places of a P 1 cell of 10 A,
// as the program's own text with the bond maximum given.
std::string CarbonCrowd(const char *bmax) {
  std::string o = "TITL crowd\nCELL 10 10 10 90 90 90\nSYMM  x,y,z\n" + std::string(bmax) + "\nATOM\n";
  uint64_t state = 0x9E3779B97F4A7C15ull;
  const auto next = [&] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return double(state >> 11) / 9007199254740992.0;
  };
  char line[96];
  for (int k = 1; k <= 2000; k++) {
    const double x = next(), y = next(), z = next();
    std::snprintf(line, sizeof line, "C C%d %.4f %.4f %.4f\n", k, x, y, z);
    o += line;
  }
  return o;
}

} // namespace

// A maximum that would give every atom hundreds of bonds (4 A among
// 2 atoms per cubic angstrom: about 530) is refused before the search
// begins, whether the file gives it or the Bond Specifications sheet does.
TEST_F(FileBondLimits, CrowdingMaximaAreRefusedBeforeAnyPairIsSearched) {
  host.tick = 1000000; // every clock reading a second on: reports show at once
  const auto searched = [&] {
    return std::any_of(host.status.begin(), host.status.end(),
                       [](const FakeHost::StatusEvent &e) { return e.message.starts_with("Searching for bonds"); });
  };
  for (const bool sheet : {false, true}) {
    SCOPED_TRACE(sheet ? "sheet" : "file");
    Window w(host);
    const std::filesystem::path file = Write("crowd.ovtx", CarbonCrowd(sheet ? "BMAX C C 1.0" : "BMAX C C 4.0"));
    host.alerts.clear();
    host.status.clear();
    {
      const LongCommand command;
      gShowProgress = 1;
      ASSERT_TRUE(OpenTextFile(w.ref(), file));
      if (sheet) {
        ASSERT_TRUE(host.alerts.empty());
        ASSERT_TRUE(searched());
        host.status.clear();
        EditBondingRec record;
        ASSERT_TRUE(FillEditBondingRec(w.crystal(), record));
        ASSERT_EQ(record.specs.size(), 1u);
        ASSERT_TRUE(SetBondSpecLengthFromText(record.specs[0], 1, "4.0"));
        DoEditBonding(w.ref(), &w.crystal(), record);
      }
      gShowProgress = 0;
      CloseStatus();
    }
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_EQ(host.alerts[0].message, "Too many bonds");
    EXPECT_FALSE(searched());
    EXPECT_TRUE(Bonds(w.crystal()).empty());
  }
}

// A crowd refused for its bonds beside a pair of sites whose coordination
// is counted: the open's Log says what the refusal is, and the sites, left
// without bonds, are not searched for the atoms around them (the status
// window never shows that count). With a maximum the search can take, the
// same file is bonded and the count runs.
TEST_F(FileBondLimits, ARefusedStructureIsNotSearchedForTheAtomsAroundItsSites) {
  host.tick = 1000000; // every clock reading a second on: reports show at once
  struct Case {
    const char *maximum;
    bool refused;
  } cases[] = {{"BMAX C C 4.0", true}, {"BMAX C C 1.0", false}};
  for (const Case &k : cases) {
    SCOPED_TRACE(k.maximum);
    Window w(host);
    // Si1 and O1 1.6 A apart along c, bonded by the second maximum.
    const std::string text = CarbonCrowd((std::string(k.maximum) + "\nBMAX Si O 1.7").c_str()) +
                             "Si Si1 0.5000 0.5000 0.5000\nO O1 0.5000 0.5000 0.6600\n";
    const std::filesystem::path file = Write("sites.ovtx", text);
    host.alerts.clear();
    host.status.clear();
    host.log.clear();
    {
      const LongCommand command;
      gShowProgress = 1;
      ASSERT_TRUE(OpenTextFile(w.ref(), file));
      gShowProgress = 0;
      CloseStatus();
    }
    const bool counted = std::any_of(host.status.begin(), host.status.end(), [](const FakeHost::StatusEvent &e) {
      return e.message == "Counting the neighbours of the sites...";
    });
    EXPECT_EQ(counted, !k.refused);
    EXPECT_EQ(Bonds(w.crystal()).empty(), k.refused);
    if (!k.refused) {
      EXPECT_TRUE(host.alerts.empty());
      continue;
    }
    // The atoms in the range 0 to 1: a site at 0 on an axis has a second
    // atom at 1 on it. The room is 40 bonds an atom, each counted at both.
    uint64_t atoms = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      double x, y, z;
      char element[4], label[12];
      if (std::sscanf(line.c_str(), "%3s %11s %lf %lf %lf", element, label, &x, &y, &z) == 5)
        atoms += (x == 0.0 ? 2 : 1) * (y == 0.0 ? 2 : 1) * (z == 0.0 ? 2 : 1);
    }
    ASSERT_EQ(atoms, 2003u); // one carbon at 0 on an axis
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_EQ(host.alerts[0].message, "Too many bonds");
    EXPECT_EQ(host.alerts[0].explanation,
              "2,003 atoms would have more than 40,060 bonds within the bond maximum, more than 40 to an atom on "
              "average: the structure is shown without bonds; Edit > Bonding can lower the maximum.");
    const std::vector<std::string> lines = host.LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].starts_with("> Plotting the structure of: ")) << lines[0];
    EXPECT_EQ(lines[1],
              "Coordination numbers were not counted for C-C: the bond maximum reaches dozens of atoms of each site.");
  }
}
