#include "AutoBonds.h"

#include "AutoBondsTestSupport.h"
#include "BondRule.h"
#include "BondSearch.h"
#include "FakeHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace autobondtest;

constexpr float kDistTol = 1e-4f; // A, single-precision distances

// A host whose clock moves on by a second every time it is read, so that
// every status report shows.
class SteppingHost : public FakeHost {
public:
  uint64_t NowMicroseconds() override {
    const uint64_t t = now;
    now += 1000000;
    return t;
  }
};

std::vector<std::string> StatusShown(const FakeHost &host) {
  std::vector<std::string> out;
  for (const auto &e : host.status)
    if (e.shown)
      out.push_back(e.message);
  return out;
}

std::vector<uint32_t> Bonds(const CrystalRec &c, size_t atom) {
  return static_cast<std::vector<uint32_t>>(c.atoms[atom].bonds);
}

// The atom at a fractional position of a tiled crystal.
int32_t AtomAt(const CrystalRec &c, float x, float y, float z) {
  for (int32_t i = 0; i < c.atomCount; i++) {
    const float *p = c.atoms[size_t(i)].xyz;
    if (std::fabs(p[0] - x) < 1e-4f && std::fabs(p[1] - y) < 1e-4f && std::fabs(p[2] - z) < 1e-4f)
      return i;
  }
  return -1;
}

// ---- Merging specifications ------------------------------------------------------------

TEST(AutoBondSpecs, MergesAPairInEitherOrderAndAppendsNewPairsWithTheStructuresStyle) {
  CrystalRec c;
  InitBlankCrystalRec(&c);
  c.defaultBondStyle = 3;
  c.bondColor1 = {1, 2, 3};
  c.bondColor2 = {4, 5, 6};
  BondSpec s;
  s.elementA = Element("O");
  s.elementB = Element("Si");
  s.minLength = 0.7f;
  s.maxLength = 1.7f;
  s.style = 9; // ignored
  EXPECT_EQ(AutoAddBondSpecs(&c, s), 0);
  ASSERT_EQ(c.bondSpecCount, 1);
  EXPECT_EQ(c.bondSpecs[0].elementA, Element("O"));
  EXPECT_EQ(c.bondSpecs[0].elementB, Element("Si"));
  EXPECT_EQ(c.bondSpecs[0].minLength, 0.7f);
  EXPECT_EQ(c.bondSpecs[0].maxLength, 1.7f);
  EXPECT_EQ(c.bondSpecs[0].style, 3);
  EXPECT_EQ(c.bondSpecs[0].colour1, (RGBColor{1, 2, 3}));
  EXPECT_EQ(c.bondSpecs[0].colour2, (RGBColor{4, 5, 6}));

  // The same pair the other way round: a shorter maximum changes nothing but
  // a longer minimum, a longer one raises it; the smaller minimum stays.
  c.bondSpecs[0].minLength = 0.5f;
  std::swap(s.elementA, s.elementB);
  s.maxLength = 1.6f;
  EXPECT_EQ(AutoAddBondSpecs(&c, s), 0);
  EXPECT_EQ(c.bondSpecs[0].maxLength, 1.7f);
  EXPECT_EQ(c.bondSpecs[0].minLength, 0.5f);
  s.minLength = -1.0f;
  EXPECT_EQ(AutoAddBondSpecs(&c, s), 0);
  EXPECT_EQ(c.bondSpecs[0].minLength, 0.0f);
  s.maxLength = 1.8f;
  EXPECT_EQ(AutoAddBondSpecs(&c, s), 0);
  EXPECT_EQ(c.bondSpecs[0].maxLength, 1.8f);
  EXPECT_EQ(c.bondSpecCount, 1);

  s.elementA = Element("C");
  s.elementB = Element("H");
  EXPECT_EQ(AutoAddBondSpecs(&c, s), 1);
  EXPECT_EQ(c.bondSpecCount, 2);
}

TEST(AutoBondSpecs, AFullTableTakesNothingMore) {
  CrystalRec c;
  InitBlankCrystalRec(&c);
  BondSpec s;
  s.maxLength = 1.0f;
  for (int k = 0; k < kMaxBondSpecs; k++) {
    s.elementA = static_cast<ElementCode>(0x4100 + k);
    s.elementB = Element("O");
    ASSERT_EQ(AutoAddBondSpecs(&c, s), k);
  }
  s.elementA = Element("C");
  EXPECT_EQ(AutoAddBondSpecs(&c, s), -1);
  // Even a pair already in the table is refused once it is full.
  s.elementA = 0x4100;
  s.maxLength = 2.0f;
  EXPECT_EQ(AutoAddBondSpecs(&c, s), -1);
  EXPECT_EQ(c.bondSpecCount, kMaxBondSpecs);
  EXPECT_EQ(c.bondSpecs[0].maxLength, 1.0f);
}

// ---- Automatic bond search: limits, rounding and the report -------------------------------

// Limits by hand from Cordero et al.'s covalent radii (Si 1.11, O 0.66,
// Na 1.66, Cl 1.02, Al 1.21, Mo 1.54) and Shannon's ionic radii (Na+ XII
// 1.39, O2- 1.40, Cl- 1.81), whatever radii the atom types hold.
TEST(AutoBondSearch, LimitIsTheCovalentSumUnlessTheTableHasALongerRow) {
  FakeHost host;
  struct Case {
    const char *what;
    std::vector<MoleculeAtom> atoms;
    bool bonded;
    float maximum;
  };
  const std::map<std::string, float> radii = {{"O", 0.5f},  {"Si", 0.5f}, {"Na", 1.0f}, {"Cl", 1.0f}, {"B", 0.5f},
                                              {"As", 0.5f}, {"Mg", 1.0f}, {"Ti", 1.0f}, {"Al", 1.0f}, {"V", 1.0f}};
  const Case cases[] = {
      // Si-O: 1.77 x 1.15 = 2.0355, beyond the table's 1.73.
      {"Si-O", {{"O", 0, 0, 0}, {"Si", 1.80f, 0, 0}}, true, 1.89f},
      {"Si-O", {{"O", 0, 0, 0}, {"Si", 2.05f, 0, 0}}, false, 0},
      // Na-O, a metal and a non-metal: the ions' radii, the cation's in its
      // largest coordination, (1.39 + 1.40) x 1.15 = 3.2085, beyond the
      // covalent 2.32 x 1.15 = 2.668.
      {"Na-O", {{"Na", 0, 0, 0}, {"O", 3.15f, 0, 0}}, true, 3.2085f},
      {"Na-O", {{"Na", 0, 0, 0}, {"O", 3.25f, 0, 0}}, false, 0},
      // Na-Cl: (1.39 + 1.81) x 1.15 = 3.68, beyond the covalent 3.082.
      {"Na-Cl", {{"Cl", 0, 0, 0}, {"Na", 3.60f, 0, 0}}, true, 3.68f},
      {"Na-Cl", {{"Cl", 0, 0, 0}, {"Na", 3.75f, 0, 0}}, false, 0},
      // No bond is shorter than 0.7 x the covalent radii's sum: Si-O 1.239.
      {"Si-O", {{"O", 0, 0, 0}, {"Si", 1.23f, 0, 0}}, false, 0},
      // Two metals: beside a non-metal that bridges neither, 2.42 x 1.07 =
      // 2.5894; 2.42 x 1.15 = 2.783 in a metal.
      {"Al-Al with O", {{"Al", 0, 0, 0}, {"Al", 2.15f, 0, 0}, {"O", 20, 0, 0}}, true, 2.258f},
      {"Al-Al with O", {{"Al", 0, 0, 0}, {"Al", 2.55f, 0, 0}, {"O", 20, 0, 0}}, true, 2.5894f},
      {"Al-Al with O", {{"Al", 0, 0, 0}, {"Al", 2.65f, 0, 0}, {"O", 20, 0, 0}}, false, 0},
      {"Al-Al", {{"Al", 0, 0, 0}, {"Al", 2.65f, 0, 0}}, true, 2.783f},
      // Cu-Cu 2.64 x 1.07 = 2.8248 beside a placeholder atom, which has no
      // element to judge.
      {"Cu-Cu with O and Xx", {{"Cu", 0, 0, 0}, {"Cu", 2.70f, 0, 0}, {"O", 20, 0, 0}, {"Xx", 0, 20, 0}}, true, 2.8248f},
      // A metal and a metalloid with no anion: the metal's metallic radius,
      // (1.43 + 0.84) x 1.15 = 2.6105; beside O, the covalent 2.05 x 1.15 =
      // 2.3575. As is no metalloid: Mg-As keeps (1.41 + 1.19) x 1.15 = 2.99.
      {"Al-B", {{"Al", 0, 0, 0}, {"B", 2.55f, 0, 0}}, true, 2.6105f},
      {"Al-B", {{"Al", 0, 0, 0}, {"B", 2.65f, 0, 0}}, false, 0},
      {"Al-B with O", {{"Al", 0, 0, 0}, {"B", 2.40f, 0, 0}, {"O", 20, 0, 0}}, false, 0},
      {"Mg-As", {{"As", 0, 0, 0}, {"Mg", 3.10f, 0, 0}}, false, 0},
      // Two metalloids beside a metal: 2.22 x 1.3 = 2.886, but no farther
      // than Si and the metal reach, (1.347 + 1.11) x 1.15 = 2.82555 beside
      // V; alone, 2.22 x 1.15 = 2.553.
      {"Si-Si with Ti", {{"Si", 0, 0, 0}, {"Si", 2.80f, 0, 0}, {"Ti", 20, 0, 0}}, true, 2.886f},
      {"Si-Si with Ti", {{"Si", 0, 0, 0}, {"Si", 2.90f, 0, 0}, {"Ti", 20, 0, 0}}, false, 0},
      {"Si-Si with V", {{"Si", 0, 0, 0}, {"Si", 2.78f, 0, 0}, {"V", 20, 0, 0}}, true, 2.82555f},
      {"Si-Si with V", {{"Si", 0, 0, 0}, {"Si", 2.84f, 0, 0}, {"V", 20, 0, 0}}, false, 0},
      {"Si-Si", {{"Si", 0, 0, 0}, {"Si", 2.60f, 0, 0}}, false, 0},
      // Two metals' shortest bond is 0.65 x their radii's sum: the Mo-Mo
      // quadruple bond of 2.09 A is bonded (floor 3.08 x 0.65 = 2.002), 1.95
      // is not.
      {"Mo-Mo", {{"Mo", 0, 0, 0}, {"Mo", 2.09f, 0, 0}}, true, 2.194f},
      {"Mo-Mo", {{"Mo", 0, 0, 0}, {"Mo", 1.95f, 0, 0}}, false, 0},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(std::string(k.what) + " at " + std::to_string(k.atoms[1].x));
    CrystalRec c;
    MakeMolecule(c, k.atoms, radii);
    AutoBondSearch(&c);
    if (k.bonded) {
      ASSERT_EQ(c.bondSpecCount, 1);
      EXPECT_EQ(c.bondSpecs[0].elementA, Element(k.atoms[0].element));
      EXPECT_EQ(c.bondSpecs[0].elementB, Element(k.atoms[1].element));
      EXPECT_NEAR(c.bondSpecs[0].maxLength, k.maximum, 1e-5f);
      EXPECT_EQ(Bonds(c, 0), std::vector<uint32_t>{1});
      EXPECT_EQ(Bonds(c, 1), std::vector<uint32_t>{0});
    } else {
      EXPECT_EQ(c.bondSpecCount, 0);
      EXPECT_TRUE(c.atoms[0].bonds.empty());
    }
  }
}

TEST(AutoBondSearch, MaximumIsTheLongestContactPlusFivePerCentWithinTheLimit) {
  FakeHost host;
  // N-O: 1.37 x 1.15 = 1.5755, beyond the table's 1.50.
  CrystalRec two;
  MakeMolecule(two, {{"N", 0, 0, 0}, {"O", 1.2344f, 0, 0}, {"O", 0, 1.4f, 0}});
  AutoBondSearch(&two);
  ASSERT_EQ(two.bondSpecCount, 1);
  EXPECT_FLOAT_EQ(two.bondSpecs[0].maxLength, 1.47f);

  CrystalRec atLimit;
  MakeMolecule(atLimit, {{"N", 0, 0, 0}, {"O", 1.55f, 0, 0}});
  AutoBondSearch(&atLimit);
  ASSERT_EQ(atLimit.bondSpecCount, 1);
  EXPECT_FLOAT_EQ(atLimit.bondSpecs[0].maxLength, 1.5755f);
  EXPECT_EQ(Bonds(atLimit, 0), std::vector<uint32_t>{1});

  // An element the radii table lacks makes no contact, whatever its atom
  // type's radius, and the Log names it.
  CrystalRec far;
  host.log.clear();
  MakeMolecule(far, {{"Qq", 0, 0, 0}, {"Qq", 4.0f, 0, 0}}, {{"Qq", 20.0f}}, 200.0f);
  AutoBondSearch(&far);
  EXPECT_EQ(far.bondSpecCount, 0);
  EXPECT_NE(host.log.find("No covalent radius is known for Qq"), std::string::npos) << host.log;
}

TEST(AutoBondSearch, WritesOneReportLinePerSpecification) {
  FakeHost host;
  CrystalRec c;
  MakeMolecule(c, {{"N", 0, 0, 0}, {"O", 1.5f, 0, 0}});
  AutoBondSearch(&c);
  // The fake clock stands still: the rate is that of one microsecond.
  EXPECT_EQ(host.LogLines(), (std::vector<std::string>{
                                 "Automatic bond search complete",
                                 "    1 N  - O  bonds ... from  1.500 to  1.500 A (mean  1.500 A)",
                                 "Total of 1 bonds generated in 0.00 secs (1000000 bonds/sec)",
                             }));
  EXPECT_TRUE(host.colouredRuns.empty());
}

TEST(AutoBondSearch, ShowsItsProgressWhenAsked) {
  SteppingHost host;
  gShowProgress = 1;
  CrystalRec c;
  MakeMolecule(c, {{"C", 0, 0, 0}, {"C", 1.5f, 0, 0}, {"O", 0, 1.4f, 0}});
  AutoBondSearch(&c);
  gShowProgress = 0;
  const std::vector<std::string> shown = StatusShown(host);
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown.front(), "Generating bonds (from C )...");
  EXPECT_EQ(shown.back(), "Generating bonds (from O )...");
  EXPECT_FALSE(host.status.back().shown); // closed at the end
  EXPECT_EQ(c.bondSpecCount, 2);
}

TEST(AutoBondSearch, CoincidentAtomsAreReportedInRedAndLeftUnbonded) {
  FakeHost host;
  CrystalRec c;
  MakeMolecule(c, {{"C", 0, 0, 0}, {"C", 0, 0, 0.01f}, {"O", 1.2f, 0, 0}});
  AutoBondSearch(&c);
  const std::vector<std::string> lines = host.LogLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Warning: two atoms found with the same coordinates:");
  EXPECT_EQ(lines[1], "  no. 0 \"C1\" (C ) ...and... no. 1 \"C2\" (C )");
  ASSERT_EQ(host.colouredRuns.size(), 2u);
  EXPECT_EQ(host.colouredRuns[0].colour, kRGBRed);
  EXPECT_EQ(host.colouredRuns[1].colour, kRGBRed);
  // Both carbons bond to the oxygen, not to each other.
  EXPECT_EQ(Bonds(c, 0), std::vector<uint32_t>{2});
  EXPECT_EQ(Bonds(c, 1), std::vector<uint32_t>{2});
  EXPECT_EQ(Bonds(c, 2), (std::vector<uint32_t>{0, 1}));
  ASSERT_EQ(c.bondSpecCount, 1);
}

TEST(AutoBondSearch, ManyAtomsAtOnePlaceNameOnePairAndCountTheRestInOneLine) {
  FakeHost host;
  CrystalRec c;
  // Three carbons within 0.05 A of each other, and an oxygen.
  MakeMolecule(c, {{"C", 0, 0, 0}, {"C", 0, 0, 0}, {"C", 0.05f, 0, 0}, {"O", 1.2f, 0, 0}});
  AutoBondSearch(&c);
  const std::vector<std::string> lines = host.LogLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Warning: two atoms found with the same coordinates:");
  EXPECT_EQ(lines[1], "  no. 0 \"C1\" (C ) ...and... no. 1 \"C2\" (C )");
  EXPECT_EQ(lines[2],
            "3 pairs of atoms closer than 0.1 A left unbonded: atoms at one place are never bonded to each other.");
  EXPECT_EQ(host.colouredRuns.size(), 2u);
  for (uint32_t a = 0; a < 3; a++)
    EXPECT_EQ(Bonds(c, a), std::vector<uint32_t>{3}) << a;
  ASSERT_EQ(c.bondSpecCount, 1); // no C-C specification from the copies
}

TEST(AutoBondSearch, MoleculeBondsListsCoordinationAndStatistics) {
  FakeHost host;
  CrystalRec c;
  // Water and a lone hydrogen far away.
  MakeMolecule(c, {{"H", 0.96f, 0, 0}, {"H", -0.24f, 0.93f, 0}, {"H", 8, 8, 8}, {"O", 0, 0, 0}}, {{"H", 0.3f}});
  SetGivenPolyMode(c.sites[3], 9);
  c.sites[2].coordination = 5;
  AutoBondSearch(&c);
  EXPECT_EQ(Bonds(c, 0), std::vector<uint32_t>{3});
  EXPECT_EQ(Bonds(c, 1), std::vector<uint32_t>{3});
  EXPECT_TRUE(Bonds(c, 2).empty());
  EXPECT_EQ(Bonds(c, 3), (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(c.atoms[3].bondCount, 2u);
  EXPECT_EQ(c.sites[0].coordination, 1u);
  EXPECT_EQ(c.sites[2].coordination, 0u);
  EXPECT_EQ(c.sites[3].coordination, 2u);
  EXPECT_EQ(ShownPolyMode(c.sites[3]), 0u);
  ASSERT_EQ(c.bondSpecCount, 1);
  EXPECT_EQ(c.bondSpecs[0].elementA, Element("H"));
  EXPECT_EQ(c.bondSpecs[0].elementB, Element("O"));
  EXPECT_FLOAT_EQ(c.bondSpecs[0].maxLength, 1.008f);
  const std::vector<std::string> lines = host.LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].rfind("    2 H  - O  bonds ... from  0.960 to  0.96", 0), 0u) << lines[1];
}

TEST(AutoBondSearch, ReplacesEveryEarlierSpecification) {
  FakeHost host;
  CrystalRec c;
  MakeMolecule(c, {{"C", 0, 0, 0}, {"O", 1.2f, 0, 0}});
  c.bondSpecCount = 3;
  c.bondSpecs[0] = {Element("Fe"), Element("O"), 0.5f, 3.0f, 1, {}, {}};
  AutoBondSearch(&c);
  ASSERT_EQ(c.bondSpecCount, 1);
  EXPECT_EQ(c.bondSpecs[0].elementA, Element("C"));
  EXPECT_FLOAT_EQ(c.bondSpecs[0].maxLength, 1.26f);

  // Fewer than two atoms: nothing happens at all.
  CrystalRec one;
  MakeMolecule(one, {{"C", 0, 0, 0}});
  one.bondSpecCount = 2;
  AutoBondSearch(&one);
  EXPECT_EQ(one.bondSpecCount, 2);
}

TEST(AutoBondSearch, TwoHundredSpecificationsAtMost) {
  FakeHost host;
  // Twenty metals (covalent radii 1.70-2.07 A) at random on a simple cubic
  // lattice 3.2 A apart, within every pair's reach and beyond its shortest
  // bond: 210 element pairs, each of them neighbours somewhere.
  const char *metals[] = {"Sc", "Y",  "Zr", "La", "Ce", "Pr", "Nd", "Pm", "Sm", "Eu",
                          "Gd", "Tb", "Dy", "Ho", "Er", "Tm", "Yb", "Lu", "Hf", "Ca"};
  std::vector<MoleculeAtom> atoms;
  std::map<std::string, float> radii;
  for (const char *m : metals)
    radii[m] = 1.0f;
  std::mt19937 rng(3);
  for (int i = 0; i < 10; i++)
    for (int j = 0; j < 10; j++)
      for (int k = 0; k < 10; k++)
        atoms.push_back({metals[rng() % 20], 3.2f * float(i), 3.2f * float(j), 3.2f * float(k)});
  CrystalRec c;
  MakeMolecule(c, atoms, radii);
  AutoBondSearch(&c);
  EXPECT_EQ(c.bondSpecCount, kMaxBondSpecs);
  std::set<std::pair<ElementCode, ElementCode>> pairs;
  for (int32_t k = 0; k < c.bondSpecCount; k++)
    pairs.insert(std::minmax(c.bondSpecs[size_t(k)].elementA, c.bondSpecs[size_t(k)].elementB));
  EXPECT_EQ(pairs.size(), size_t(kMaxBondSpecs));
  const std::vector<std::string> lines = host.LogLines();
  const auto exceeded = std::count(lines.begin(), lines.end(), "Maximum number of bond specifications exceeded!");
  EXPECT_GE(exceeded, 1);
  EXPECT_EQ(host.colouredRuns.size(), size_t(exceeded));
  // Every specification made is reported, beside the contacts left out
  // beyond the metals' first shells.
  const auto gaps = std::count_if(lines.begin(), lines.end(), [](const std::string &line) {
    return line.find("lie beyond the gap that ends their metal's shell") != std::string::npos;
  });
  EXPECT_EQ(lines.size(), size_t(exceeded) + size_t(gaps) + 2 + kMaxBondSpecs);
}

// ---- Automatic bond search in crystals -------------------------------------------------------

TEST(AutoBondSearch, ASiteBondedToItsOwnImagesShowsPolyhedronModeSix) {
  FakeHost host;
  CrystalRec c;
  // Simple cubic, a = 1.5: C-C allows 1.52 x 1.15 = 1.748.
  ASSERT_TRUE(MakeCrystal(c, {1.5f, 1.5f, 1.5f, 90, 90, 90}, "P 1", {{"C", 0, 0, 0}}, {{"C", 0.5f}}, 3, 3, 3));
  AutoBondSearch(&c);
  ASSERT_EQ(c.bondSpecCount, 1);
  EXPECT_FLOAT_EQ(c.bondSpecs[0].maxLength, 1.575f);
  EXPECT_EQ(ShownPolyMode(c.sites[0]), kSelfBondedPolyMode);
  EXPECT_EQ(c.sites[0].coordination, 6u);
  // The bonds of the plot range follow from the new specification.
  const int32_t centre = AtomAt(c, 1, 1, 1);
  ASSERT_GE(centre, 0);
  EXPECT_EQ(c.atoms[size_t(centre)].bondCount, 6u);
  EXPECT_EQ(c.atoms[size_t(AtomAt(c, 0, 0, 0))].bondCount, 3u);
}

TEST(AutoBondSearch, RockSaltFindsOnlyTheCationAnionPair) {
  FakeHost host;
  CrystalRec c;
  ASSERT_TRUE(MakeCrystal(c, {5.64f, 5.64f, 5.64f, 90, 90, 90}, "F m -3 m", {{"Cl", 0, 0, 0}, {"Na", 0.5f, 0.5f, 0.5f}},
                          {{"Cl", 1.5f}, {"Na", 1.0f}}, 2, 2, 2));
  AutoBondSearch(&c);
  ASSERT_EQ(c.bondSpecCount, 1);
  EXPECT_EQ(c.bondSpecs[0].elementA, Element("Cl"));
  EXPECT_EQ(c.bondSpecs[0].elementB, Element("Na"));
  EXPECT_FLOAT_EQ(c.bondSpecs[0].maxLength, 2.961f);
  EXPECT_EQ(c.sites[0].coordination, 6u);
  EXPECT_EQ(c.sites[1].coordination, 6u);
  EXPECT_EQ(ShownPolyMode(c.sites[0]), 0u);
  const int32_t na = AtomAt(c, 0.5f, 0.5f, 0.5f);
  ASSERT_GE(na, 0);
  ASSERT_EQ(c.atoms[size_t(na)].bondCount, 6u);
  for (uint32_t b : c.atoms[size_t(na)].bonds)
    EXPECT_EQ(c.atoms[b].site, 0u);
}

TEST(AutoBondSearch, ObliqueRhombohedralCellFindsAllTwelveNeighbours) {
  FakeHost host;
  // Face-centred cubic copper on its 60 degree rhombohedral primitive cell.
  const float ap = 3.615f / std::sqrt(2.0f);
  CrystalRec c;
  ASSERT_TRUE(MakeCrystal(c, {ap, ap, ap, 60, 60, 60}, "P 1", {{"Cu", 0, 0, 0}}, {{"Cu", 1.28f}}, 3, 3, 3));
  AutoBondSearch(&c);
  ASSERT_EQ(c.bondSpecCount, 1);
  EXPECT_NEAR(c.bondSpecs[0].maxLength, 2.684f, 1e-5f);
  EXPECT_EQ(c.sites[0].coordination, 12u);
  EXPECT_EQ(ShownPolyMode(c.sites[0]), kSelfBondedPolyMode);
  const int32_t centre = AtomAt(c, 1, 1, 1);
  ASSERT_GE(centre, 0);
  EXPECT_EQ(c.atoms[size_t(centre)].bondCount, 12u);
}

// ---- Distance Explorer ----------------------------------------------------------------------

struct Distance {
  uint32_t site;
  float d;
};

// Every distance from a site's position to the images of the first-cell
// atoms of the sites of an element, over a generous block of cells.
std::vector<Distance> PlainDistances(const CrystalRec &c, uint32_t from, ElementCode element, float minimum,
                                     float maximum) {
  std::vector<Distance> out;
  float origin[3];
  MatMul(c.orientationMatrix, c.sites[from].xyz, origin);
  for (uint32_t t = 0; t < uint32_t(c.siteCount); t++) {
    if (c.sites[t].elements[0] != element)
      continue;
    for (int32_t a = c.sites[t].firstAtom; a < c.sites[t].firstAtom + c.sites[t].atomsPerCell; a++)
      for (int i = -6; i <= 6; i++)
        for (int j = -6; j <= 6; j++)
          for (int k = -6; k <= 6; k++) {
            const float f[3] = {c.atoms[size_t(a)].xyz[0] + i, c.atoms[size_t(a)].xyz[1] + j,
                                c.atoms[size_t(a)].xyz[2] + k};
            float p[3];
            MatMul(c.orientationMatrix, f, p);
            const double d = std::sqrt(double(p[0] - origin[0]) * (p[0] - origin[0]) +
                                       double(p[1] - origin[1]) * (p[1] - origin[1]) +
                                       double(p[2] - origin[2]) * (p[2] - origin[2]));
            if (t == from && d < 0.03)
              continue;
            if (d >= minimum - 1e-4 && d <= maximum + 1e-4)
              out.push_back({t, float(d)});
          }
  }
  std::sort(out.begin(), out.end(), [](const Distance &x, const Distance &y) { return x.d < y.d; });
  return out;
}

void ExpectSameDistances(const std::vector<DistanceExplorerResult> &got, const std::vector<Distance> &want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); i++) {
    EXPECT_NEAR(got[i].distance, want[i].d, kDistTol) << i;
    if (i > 0) {
      EXPECT_LE(got[i - 1].distance, got[i].distance);
    }
  }
  std::multiset<uint32_t> gotSites, wantSites;
  for (const auto &r : got)
    gotSites.insert(r.site);
  for (const auto &r : want)
    wantSites.insert(r.site);
  EXPECT_EQ(gotSites, wantSites);
}

TEST(DistanceExplorer, FindsEveryNeighbourImageOfASite) {
  FakeHost host;
  struct Case {
    const char *name;
    Cell cell;
    const char *group;
    std::vector<Site> sites;
    const char *to;
    float minimum, maximum;
  };
  const float ap = 4.0f;
  const Case cases[] = {
      {"rock salt",
       {5.64f, 5.64f, 5.64f, 90, 90, 90},
       "F m -3 m",
       {{"Cl", 0, 0, 0}, {"Na", 0.5f, 0.5f, 0.5f}},
       "Cl",
       0,
       5},
      // A search distance that is a whole number of cells (and of d-spacings),
      // with positions that single precision holds exactly.
      {"exact multiple", {4, 4, 4, 90, 90, 90}, "P 1", {{"C", 0.25f, 0.5f, 0.75f}, {"O", 0.8f, 0.7f, 0.6f}}, "C", 0, 4},
      {"exact multiple 2", {4, 4, 4, 90, 90, 90}, "P 1", {{"C", 0, 0, 0}, {"O", 0.5f, 0, 0}}, "O", 1, 8},
      // The centre shift must follow d(100), not a sin(beta) sin(gamma).
      {"rhombohedral 60",
       {ap, ap, ap, 60, 60, 60},
       "P 1",
       {{"C", 0.9f, 0.1f, 0.8f}, {"O", 0.2f, 0.7f, 0.4f}},
       "O",
       0,
       0.79f * ap},
      // A site on the cell's upper face must find the images beyond it.
      {"site at x = 1", {4, 4, 4, 90, 90, 90}, "P 1", {{"C", 1.0f, 0.5f, 0.5f}, {"O", 0.25f, 0.5f, 0.5f}}, "O", 0, 4},
      {"monoclinic 120",
       {5, 6, 5, 90, 120, 90},
       "P 1 21/c 1",
       {{"C", 0.9f, 0.3f, 0.95f}, {"O", 0.05f, 0.6f, 0.1f}},
       "O",
       0.5f,
       6},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    CrystalRec c;
    ASSERT_TRUE(MakeCrystal(c, k.cell, k.group, k.sites));
    const uint32_t from[] = {0};
    const ElementCode to[] = {Element(k.to)};
    uint32_t count = 99;
    float percent = -1;
    auto results = DoDistanceExplorerSearch(&c, from, 1, to, 1, k.minimum, k.maximum, &count, &percent);
    ASSERT_TRUE(results.has_value());
    EXPECT_EQ(count, results->size());
    EXPECT_EQ(percent, 100.0f);
    for (const auto &r : *results)
      EXPECT_EQ(r.from, 0u);
    ExpectSameDistances(*results, PlainDistances(c, 0, Element(k.to), k.minimum, k.maximum));
  }
}

TEST(DistanceExplorer, BothDirectionsOfAPairAndImagesOfASiteAreListed) {
  FakeHost host;
  CrystalRec c;
  ASSERT_TRUE(MakeCrystal(c, {10, 10, 10, 90, 90, 90}, "P 1", {{"O", 0, 0, 0}, {"Si", 0.16f, 0, 0}}));
  const uint32_t from[] = {0, 1};
  const ElementCode to[] = {Element("O"), Element("Si")};
  uint32_t count = 0;
  float percent = 0;
  auto near = DoDistanceExplorerSearch(&c, from, 2, to, 2, 0, 3, &count, &percent);
  ASSERT_TRUE(near.has_value());
  // O to Si and Si to O: the caller decides which of a mirror pair stays.
  ASSERT_EQ(near->size(), 2u);
  for (const auto &r : *near) {
    EXPECT_NEAR(r.distance, 1.6f, kDistTol);
    EXPECT_NE(r.from, r.site);
    EXPECT_EQ(r.esd, 0.0f);
  }
  EXPECT_NE((*near)[0].from, (*near)[1].from);

  // Out to one cell length: each site's six images and both directions of
  // the O Si contact.
  auto far = DoDistanceExplorerSearch(&c, from, 2, to, 2, 0, 10.001f, &count, &percent);
  ASSERT_TRUE(far.has_value());
  int self = 0, at16 = 0;
  for (const auto &r : *far) {
    if (r.from == r.site && std::fabs(r.distance - 10.0f) < kDistTol)
      self++;
    if (std::fabs(r.distance - 1.6f) < kDistTol)
      at16++;
  }
  EXPECT_EQ(self, 12);
  EXPECT_EQ(at16, 2);
}

TEST(DistanceExplorer, EscEndsTheSearchWithWhatWasFound) {
  FakeHost host;
  CrystalRec c;
  ASSERT_TRUE(
      MakeCrystal(c, {5.64f, 5.64f, 5.64f, 90, 90, 90}, "F m -3 m", {{"Cl", 0, 0, 0}, {"Na", 0.5f, 0.5f, 0.5f}}));
  host.cancelAnswers = {true};
  const uint32_t from[] = {1, 0};
  const ElementCode to[] = {Element("Cl"), Element("Na")};
  uint32_t count = 0;
  float percent = 0;
  auto results = DoDistanceExplorerSearch(&c, from, 2, to, 2, 0, 3, &count, &percent);
  ASSERT_TRUE(results.has_value());
  EXPECT_EQ(count, 6u); // Na to its six Cl neighbours only
  for (const auto &r : *results) {
    EXPECT_EQ(r.from, 1u);
    EXPECT_EQ(r.site, 0u);
  }
  EXPECT_FLOAT_EQ(percent, 25.0f); // one of four (From, To) combinations
  EXPECT_EQ(host.cancelChecks, 1);
  ASSERT_FALSE(host.cursors.empty());
  EXPECT_EQ(host.cursors.front(), kCmdDotCursor);
  EXPECT_EQ(host.cursors.back(), kArrowCursor);
}

TEST(DistanceExplorer, AlwaysShowsItsProgress) {
  SteppingHost host;
  CrystalRec c;
  ASSERT_TRUE(
      MakeCrystal(c, {5.64f, 5.64f, 5.64f, 90, 90, 90}, "F m -3 m", {{"Cl", 0, 0, 0}, {"Na", 0.5f, 0.5f, 0.5f}}));
  const uint32_t from[] = {0, 1};
  const ElementCode to[] = {Element("Cl"), Element("Na")};
  uint32_t count = 0;
  float percent = 0;
  ASSERT_TRUE(DoDistanceExplorerSearch(&c, from, 2, to, 2, 0, 3, &count, &percent));
  const std::vector<std::string> shown = StatusShown(host);
  for (const char *text : {"Searching distances to Cl (press Esc to end)",
                           "Searching distances to Na (press Esc to end)", "Sorting bonds...\n"})
    EXPECT_NE(std::find(shown.begin(), shown.end(), text), shown.end()) << text;
  EXPECT_FALSE(host.status.back().shown);
  // Na to its six Cl and Cl to its six Na, all listed.
  EXPECT_EQ(percent, 100.0f);
  EXPECT_EQ(count, 12u);
}

TEST(DistanceExplorer, MoleculeFromAtomsLeavesTheAtomItselfOut) {
  FakeHost host;
  CrystalRec c;
  const float d = 1.09f / std::sqrt(3.0f);
  MakeMolecule(c, {{"C", 0, 0, 0}, {"H", d, d, d}, {"H", -d, -d, d}, {"H", -d, d, -d}, {"H", d, -d, -d}});
  const uint32_t from[] = {0};
  const ElementCode to[] = {Element("C"), Element("H")};
  uint32_t count = 0;
  float percent = 0;
  auto results = DoDistanceExplorerSearch(&c, from, 1, to, 2, 0, 1.5f, &count, &percent);
  ASSERT_TRUE(results.has_value());
  ASSERT_EQ(count, 4u);
  for (const auto &r : *results) {
    EXPECT_EQ(r.from, 0u);
    EXPECT_NE(r.site, 0u);
    EXPECT_NEAR(r.distance, 1.09f, kDistTol);
  }
}

TEST(DistanceExplorer, EsdsOnlyWithTheEsdFlag) {
  FakeHost host;
  CrystalRec c;
  ASSERT_TRUE(MakeCrystal(c, {10, 10, 10, 90, 90, 90}, "P 1", {{"O", 0, 0, 0}, {"Si", 0.16f, 0, 0}}));
  for (float &e : c.cellEsds)
    e = 0.01f;
  for (auto &s : c.sites)
    s.esd[0] = s.esd[1] = s.esd[2] = 0.001f;
  const uint32_t from[] = {0};
  const ElementCode to[] = {Element("Si")};
  uint32_t count = 0;
  float percent = 0;
  auto plain = DoDistanceExplorerSearch(&c, from, 1, to, 1, 0, 3, &count, &percent);
  ASSERT_TRUE(plain.has_value());
  ASSERT_EQ(plain->size(), 1u);
  EXPECT_EQ((*plain)[0].esd, 0.0f);
  c.esdFlag = 1;
  auto withEsd = DoDistanceExplorerSearch(&c, from, 1, to, 1, 0, 3, &count, &percent);
  ASSERT_TRUE(withEsd.has_value());
  ASSERT_EQ(withEsd->size(), 1u);
  // d = 10 dx with esd(a) = 0.01 and coordinate esds 0.001 on both sites.
  const double expected = std::sqrt(std::pow(0.16 * 0.01, 2) + 2 * std::pow(10 * 0.001, 2));
  EXPECT_NEAR((*withEsd)[0].esd, expected, 1e-5);
}

TEST(DistanceExplorer, RefusesMissingListsAndAbsentElements) {
  FakeHost host;
  CrystalRec c;
  ASSERT_TRUE(MakeCrystal(c, {10, 10, 10, 90, 90, 90}, "P 1", {{"O", 0, 0, 0}, {"Si", 0.16f, 0, 0}}));
  const uint32_t from[] = {0};
  const ElementCode to[] = {Element("Si")};
  const ElementCode absent[] = {Element("Fe")};
  uint32_t count = 7;
  float percent = 7;
  EXPECT_FALSE(DoDistanceExplorerSearch(&c, nullptr, 0, to, 1, 0, 3, &count, &percent));
  EXPECT_FALSE(DoDistanceExplorerSearch(&c, from, 1, to, 0, 0, 3, &count, &percent));
  EXPECT_FALSE(DoDistanceExplorerSearch(&c, from, 1, absent, 1, 0, 3, &count, &percent));
  CrystalRec one;
  MakeMolecule(one, {{"C", 0, 0, 0}});
  const uint32_t zero[] = {0};
  const ElementCode carbon[] = {Element("C")};
  EXPECT_FALSE(DoDistanceExplorerSearch(&one, zero, 1, carbon, 1, 0, 3, &count, &percent));
}

// ---- Neighbour lists ----------------------------------------------------------------------

TEST(AutoBondNeighbourLists, PointSearchKeepsTheFirstFoundInSiteOrderWhenFull) {
  FakeHost host;
  CrystalRec c;
  MakeMolecule(c, {{"C", 2, 0, 0}, {"N", 1, 0, 0}, {"O", 0, 1.5f, 0}});
  const float origin[3] = {0, 0, 0};
  BondSearchResult one[1];
  ASSERT_EQ(SearchBondsFromPoint(&c, origin, nullptr, 0, 0, 3, one, 1), 1u);
  EXPECT_EQ(one[0].site, 0);
  EXPECT_NEAR(one[0].distance, 2.0f, kDistTol);

  BondSearchResult all[3];
  ASSERT_EQ(SearchBondsFromPoint(&c, origin, nullptr, 0, 0, 3, all, 3), 3u);
  EXPECT_EQ(all[0].site, 1);
  EXPECT_EQ(all[1].site, 2);
  EXPECT_EQ(all[2].site, 0);
  EXPECT_NEAR(all[1].distance, 1.5f, kDistTol);
  for (int i = 0; i < 3; i++)
    EXPECT_FLOAT_EQ(all[0].xyz[i], c.atoms[1].xyz[i]);
}

TEST(AutoBondNeighbourLists, PointSearchFiltersElementsHiddenAtomsAndTheCentre) {
  FakeHost host;
  CrystalRec c;
  MakeMolecule(c, {{"C", 0, 0, 0}, {"C", 1.4f, 0, 0}, {"H", 0, 1, 0}, {"O", 0, 0, 1.2f}, {"O", 0, 0, -1.2f}});
  BondSearchResult r[8];
  // Around atom 0: itself (at distance 0) is never listed.
  ASSERT_EQ(SearchBondsFromAtom(&c, 0, nullptr, 0, 0, 2, r, 8), 4u);
  const ElementCode filter[] = {Element("O"), Element("H")};
  EXPECT_EQ(SearchBondsFromAtom(&c, 0, filter, 2, 0, 2, r, 8), 3u);
  EXPECT_EQ(SearchBondsFromAtom(&c, 0, filter, 2, 1.1f, 2, r, 8), 2u);
  c.atoms[3].visible = 0;
  c.sites[2].visible = 0;
  ASSERT_EQ(SearchBondsFromAtom(&c, 0, filter, 2, 0, 2, r, 8), 1u);
  EXPECT_EQ(r[0].site, 4);
}

TEST(AutoBondNeighbourLists, SelectionCentroid) {
  FakeHost host;
  CrystalRec c;
  MakeMolecule(c, {{"C", -1, 0, 0}, {"C", 1, 0, 0}, {"O", 0, 2, 0}, {"O", 0, 0, 5}});
  uint32_t count = 9;
  EXPECT_FALSE(DoBondSearchFromSelection(&c, nullptr, 0, 0, 10, &count));
  c.atoms[0].selected = c.atoms[1].selected = 1;
  auto results = DoBondSearchFromSelection(&c, nullptr, 0, 0, 3, &count);
  ASSERT_TRUE(results);
  ASSERT_EQ(count, 3u);
  EXPECT_NEAR((*results)[0].distance, 1.0f, kDistTol);
  EXPECT_NEAR((*results)[1].distance, 1.0f, kDistTol);
  EXPECT_EQ((*results)[2].site, 2);
  EXPECT_NEAR((*results)[2].distance, 2.0f, kDistTol);
  // A hidden selected atom does not count.
  c.atoms[1].visible = 0;
  results = DoBondSearchFromSelection(&c, nullptr, 0, 0, 3, &count);
  ASSERT_TRUE(results);
  EXPECT_EQ(count, 1u); // only atom 2, at sqrt(5), from the centroid (-1, 0, 0)
}

// Every image of the first-cell atoms within the range of a site's first
// atom, over a generous block of cells.
std::vector<Distance> PlainSiteNeighbours(const CrystalRec &c, uint32_t site, float minimum, float maximum) {
  std::vector<Distance> out;
  float origin[3];
  MatMul(c.orientationMatrix, c.atoms[size_t(c.sites[site].firstAtom)].xyz, origin);
  for (uint32_t t = 0; t < uint32_t(c.siteCount); t++)
    for (int32_t a = c.sites[t].firstAtom; a < c.sites[t].firstAtom + c.sites[t].atomsPerCell; a++)
      for (int i = -6; i <= 6; i++)
        for (int j = -6; j <= 6; j++)
          for (int k = -6; k <= 6; k++) {
            const float f[3] = {c.atoms[size_t(a)].xyz[0] + i, c.atoms[size_t(a)].xyz[1] + j,
                                c.atoms[size_t(a)].xyz[2] + k};
            float p[3];
            MatMul(c.orientationMatrix, f, p);
            const float dx = p[0] - origin[0], dy = p[1] - origin[1], dz = p[2] - origin[2];
            const float d2 = dx * dx + dy * dy + dz * dz;
            if (d2 > maximum * maximum || d2 < minimum * minimum || (t == site && d2 < 0.0001f))
              continue;
            out.push_back({t, std::sqrt(d2)});
          }
  std::sort(out.begin(), out.end(), [](const Distance &x, const Distance &y) { return x.d < y.d; });
  return out;
}

TEST(AutoBondNeighbourLists, SiteSearchReachesEveryImageInObliqueCells) {
  FakeHost host;
  struct Case {
    const char *name;
    Cell cell;
    std::vector<Site> sites;
    float maximum;
  };
  const Case cases[] = {
      // The O image at -0.91 a (3.94 A away) lies a whole cell below
      // trunc(x - r/a - 1).
      {"monoclinic 120", {5, 10, 5, 90, 120, 90}, {{"C", 0.9f, 0.5f, 0.5f}, {"O", 0.99f, 0.5f, 0.05f}}, 4.0f},
      {"triclinic", {4, 5, 6, 70, 110, 65}, {{"C", 0.1f, 0.9f, 0.5f}, {"N", 0.8f, 0.2f, 0.95f}}, 7.0f},
      // Neighbours at exactly whole cell lengths.
      {"cubic", {3, 3, 3, 90, 90, 90}, {{"C", 0, 0, 0}}, 3.0f},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    CrystalRec c;
    ASSERT_TRUE(MakeCrystal(c, k.cell, "P 1", k.sites));
    const std::vector<Distance> want = PlainSiteNeighbours(c, 0, 0, k.maximum);
    uint32_t count = 0;
    auto got = DoBondSearchFromSite(&c, 0, nullptr, 0, 0, k.maximum, &count);
    ASSERT_TRUE(got);
    ASSERT_EQ(count, want.size());
    for (size_t i = 0; i < want.size(); i++) {
      EXPECT_NEAR((*got)[i].distance, want[i].d, kDistTol);
      // The image's own fractional coordinates give the distance again.
      float p[3], o[3];
      MatMul(c.orientationMatrix, (*got)[i].xyz, p);
      MatMul(c.orientationMatrix, c.atoms[0].xyz, o);
      EXPECT_NEAR(std::hypot(p[0] - o[0], p[1] - o[1], p[2] - o[2]), (*got)[i].distance, kDistTol);
    }
  }
}

TEST(AutoBondNeighbourLists, SiteSearchFiltersElementsAndStopsWhenFull) {
  FakeHost host;
  CrystalRec c;
  ASSERT_TRUE(MakeCrystal(c, {4, 4, 4, 90, 90, 90}, "P 1", {{"C", 0, 0, 0}, {"O", 0.5f, 0, 0}}));
  const ElementCode oxygen[] = {Element("O")};
  BondSearchResult r[16];
  ASSERT_EQ(SearchBondsFromSite(&c, 0, oxygen, 1, 0, 2.0f, r, 16), 2u);
  EXPECT_EQ(r[0].site, 1);
  EXPECT_EQ(r[1].site, 1);
  EXPECT_NEAR(r[0].xyz[0] + r[1].xyz[0], 0.0f, 1e-6f); // at +0.5 and -0.5
  // Within 4 A: two O at 2 A and six C images at 4 A; a capacity of 3 stops
  // the search at three results, sorted.
  EXPECT_EQ(SearchBondsFromSite(&c, 0, nullptr, 0, 0, 4.0f, r, 16), 8u);
  EXPECT_EQ(SearchBondsFromSite(&c, 0, nullptr, 0, 0, 4.0f, r, 3), 3u);
  EXPECT_LE(r[0].distance, r[1].distance);
  EXPECT_LE(r[1].distance, r[2].distance);
  EXPECT_EQ(SearchBondsFromSite(&c, 5, nullptr, 0, 0, 4.0f, r, 16), 0u);
}

TEST(AutoBondNeighbourLists, SortingByDistanceKeepsTiesInOrder) {
  BondSearchResult r[5];
  const float d[5] = {2.0f, 1.0f, 2.0f, 0.5f, 1.0f};
  for (int i = 0; i < 5; i++) {
    r[i].distance = d[i];
    r[i].site = i;
  }
  SortBondSearchResultsByDistance(r, 5);
  const int order[5] = {3, 1, 4, 0, 2};
  for (int i = 0; i < 5; i++)
    EXPECT_EQ(r[i].site, order[i]);
}

// One element pair with both kinds in a crystal: a sulphide Na'-S' bond of
// `bond` A, and a Na-S pair `second` A apart that share an oxygen (Na-O 2.4,
// S-O 1.5 A) and so are second neighbours. Where the bond is the shorter,
// the Na-S specification ends below the second neighbours; where it is not,
// the bond search bonds both and the Log says so. Answers whether the second
// neighbours were bonded.
struct MixedPair {
  bool secondBonded = false;
  bool bondBonded = false;
  float maximum = 0.0f;
};
MixedPair BondMixedNaS(FakeHost &host, float bond, float second) {
  // S at the origin, O along x, Na where it is 2.4 A from O and `second`
  // from S: cos(angle at O) from the triangle.
  const float c = (second * second - 1.5f * 1.5f - 2.4f * 2.4f) / (2.0f * 1.5f * 2.4f);
  const float na[3] = {1.5f + 2.4f * c, 2.4f * std::sqrt(1.0f - c * c), 0};
  const float a = 20.0f;
  const std::vector<Site> sites = {{"Na", (5 + na[0]) / a, (5 + na[1]) / a, 5 / a},
                                   {"Na", (12 + bond) / a, 12 / a, 12 / a},
                                   {"O", 6.5f / a, 5 / a, 5 / a},
                                   {"S", 5 / a, 5 / a, 5 / a},
                                   {"S", 12 / a, 12 / a, 12 / a}};
  CrystalRec cr;
  MixedPair out;
  if (!MakeCrystal(cr, {a, a, a, 90, 90, 90}, "P 1", sites, {{"Na", 1.0f}, {"O", 1.4f}, {"S", 1.8f}}))
    return out;
  host.log.clear();
  AutoBondSearch(&cr);
  const auto bonded = [&cr](const Site &x, const Site &y) {
    const int32_t i = AtomAt(cr, x.x, x.y, x.z), j = AtomAt(cr, y.x, y.y, y.z);
    return i >= 0 && j >= 0 &&
           std::count(cr.atoms[size_t(i)].bonds.begin(), cr.atoms[size_t(i)].bonds.end(), uint32_t(j)) == 1;
  };
  out.secondBonded = bonded(sites[0], sites[3]);
  out.bondBonded = bonded(sites[1], sites[4]);
  for (int32_t k = 0; k < cr.bondSpecCount; k++)
    if (cr.bondSpecs[size_t(k)].elementA == Element("Na") && cr.bondSpecs[size_t(k)].elementB == Element("S"))
      out.maximum = cr.bondSpecs[size_t(k)].maxLength;
  return out;
}

TEST(AutoBondSearch, SecondNeighboursBeyondAPairsBondsStayUnbondedInACrystal) {
  FakeHost host;
  // Bond 2.95 (maximum 3.098 by itself), second neighbours at 3.05: the
  // maximum ends at 3.049.
  const MixedPair below = BondMixedNaS(host, 2.95f, 3.05f);
  EXPECT_TRUE(below.bondBonded);
  EXPECT_FALSE(below.secondBonded);
  EXPECT_FLOAT_EQ(below.maximum, 3.049f);
  EXPECT_EQ(host.log.find("second neighbours"), std::string::npos) << host.log;
  // Second neighbours at 2.90, shorter than the bond: both are bonded, and
  // the Log names the pair.
  const MixedPair among = BondMixedNaS(host, 2.95f, 2.90f);
  EXPECT_TRUE(among.bondBonded);
  EXPECT_TRUE(among.secondBonded);
  EXPECT_NEAR(among.maximum, 2.95f * 1.05f, 0.001f); // the bond's own maximum
  EXPECT_NE(host.log.find("Na - S  second neighbours from 2.900 A lie among the pair's bonds"), std::string::npos)
      << host.log;
}

// The verdict on a Na-S contact (3.05 A) whose atoms share an oxygen (Na-O
// 2.4, S-O 1.5 A) holds however the metal's other contacts are listed: a
// farther oxygen before the shared one, a distance that is not a number.
TEST(JudgeMetalContacts, ASharedOxygenIsFoundWhereverTheMetalsContactsListIt) {
  const float second = 3.05f;
  const float c = (second * second - 1.5f * 1.5f - 2.4f * 2.4f) / (2.0f * 1.5f * 2.4f);
  const float na[3] = {1.5f + 2.4f * c, 2.4f * std::sqrt(1.0f - c * c), 0};
  const float a = 20.0f;
  CrystalRec cr;
  ASSERT_TRUE(MakeCrystal(cr, {a, a, a, 90, 90, 90}, "P 1",
                          {{"Na", (5 + na[0]) / a, (5 + na[1]) / a, 5 / a}, {"O", 6.5f / a, 5 / a, 5 / a},
                           {"S", 5 / a, 5 / a, 5 / a}},
                          {{"Na", 1.0f}, {"O", 1.4f}, {"S", 1.8f}}));
  const PairLimits limits(cr);
  const uint32_t kNa = limits.KindOfAtom(cr, 0), kO = limits.KindOfAtom(cr, 1), kS = limits.KindOfAtom(cr, 2);
  // Candidates: the Na, the S, the shared O, an O 3.5 A above the Na, one
  // more O and an O 1 A from the Na on the far side from the S (4.05 A from
  // it, beyond the S-O limit).
  const float out = 1.0f / second;
  const std::vector<TurboAtom> all = {{0, {na[0], na[1], na[2]}},
                                      {2, {0, 0, 0}},
                                      {1, {1.5f, 0, 0}},
                                      {1, {na[0], na[1], na[2] + 3.5f}},
                                      {1, {-4.0f, 0, 0}},
                                      {1, {na[0] * (1 + out), na[1] * (1 + out), 0}}};
  const std::vector<RuleCandidate> of = {{0, kNa}, {2, kS}, {1, kO}, {1, kO}, {1, kO}, {1, kO}};
  const std::vector<uint8_t> complete(all.size(), 1);
  const std::vector<RuleContact> contacts = {{0, 1, second * second}};
  const RuleContact shared{0, 2, 2.4f * 2.4f}, farther{0, 3, 3.5f * 3.5f}, unknown{0, 4, std::nanf("")},
      nearer{0, 5, 1.0f};
  struct Case {
    const char *what;
    std::vector<RuleContact> others;
    uint8_t verdict;
  };
  const Case cases[] = {
      {"the shared oxygen alone", {shared}, kMetalContactSecondNeighbours},
      {"a farther oxygen first", {farther, shared}, kMetalContactSecondNeighbours},
      {"a distance that is not a number first", {unknown, farther, shared}, kMetalContactSecondNeighbours},
      {"a distance that is not a number after a nearer oxygen", {nearer, unknown, shared},
       kMetalContactSecondNeighbours},
      {"the farther oxygen alone", {farther}, kMetalContactBond},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(JudgeMetalContacts(limits, of, all, complete, contacts, k.others), std::vector<uint8_t>{k.verdict});
  }
}

// A chelating carboxylate: U-O 2.46, C-O 1.27 A, so U-C 2.83 A lies within
// the U-C limit (3.128 A) but the two share both oxygens: second
// neighbours. A metal carbonyl keeps its M-C bonds (the oxygen lies beyond
// the metal's reach) and an epoxide, with no metal, its C-C bond.
TEST(AutoBondSearch, MetalsShareAnOxygenOnlyWithTheirSecondNeighbours) {
  FakeHost host;
  struct Case {
    const char *what;
    std::vector<MoleculeAtom> atoms;
    std::vector<std::vector<uint32_t>> bonds; // per atom, ascending
  };
  const Case cases[] = {
      {"uranyl carboxylate",
       {{"C", 2.83f, 0, 0}, {"O", 2.2f, 1.1f, 0}, {"O", 2.2f, -1.1f, 0}, {"U", 0, 0, 0}},
       {{1, 2}, {0, 3}, {0, 3}, {1, 2}}},
      {"chromium carbonyl",
       {{"C", 1.91f, 0, 0},
        {"C", -1.91f, 0, 0},
        {"C", 0, 1.91f, 0},
        {"C", 0, -1.91f, 0},
        {"C", 0, 0, 1.91f},
        {"C", 0, 0, -1.91f},
        {"Cr", 0, 0, 0},
        {"O", 3.05f, 0, 0},
        {"O", -3.05f, 0, 0},
        {"O", 0, 3.05f, 0},
        {"O", 0, -3.05f, 0},
        {"O", 0, 0, 3.05f},
        {"O", 0, 0, -3.05f}},
       {{6, 7}, {6, 8}, {6, 9}, {6, 10}, {6, 11}, {6, 12}, {0, 1, 2, 3, 4, 5}, {0}, {1}, {2}, {3}, {4}, {5}}},
      {"epoxide", {{"C", 0, 0, 0}, {"C", 1.47f, 0, 0}, {"O", 0.735f, 1.22f, 0}}, {{1, 2}, {0, 2}, {0, 1}}},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    CrystalRec c;
    MakeMolecule(c, k.atoms);
    AutoBondSearch(&c);
    for (uint32_t a = 0; a < k.atoms.size(); a++) {
      std::vector<uint32_t> found = Bonds(c, a);
      std::sort(found.begin(), found.end());
      EXPECT_EQ(found, k.bonds[a]) << "atom " << a;
    }
  }
}

} // namespace
