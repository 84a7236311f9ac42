#include "BondDiagnostics.h"

#include "AutoBondsTestSupport.h"
#include "FakeHost.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace autobondtest;

using Counts = std::array<int32_t, 4>; // minAB, maxAB, minBA, maxBA

using Diagnostics = bool (*)(CrystalRec *, ElementCode, ElementCode, float, float, int32_t *, int32_t *, int32_t *,
                             int32_t *);

bool Diagnose(Diagnostics f, CrystalRec &c, const char *a, const char *b, float minimum, float maximum, Counts *out) {
  return f(&c, Element(a), Element(b), minimum, maximum, &(*out)[0], &(*out)[1], &(*out)[2], &(*out)[3]);
}

// A host whose clock moves on by a second every time it is read.
class SteppingHost : public FakeHost {
public:
  uint64_t NowMicroseconds() override {
    const uint64_t t = now;
    now += 1000000;
    return t;
  }
};

// Perovskite: Ti has six O at 1.95 A, each O two Ti; Sr twelve O at 2.76 A,
// each O four Sr.
bool MakePerovskite(CrystalRec &c) {
  return MakeCrystal(c, {3.905f, 3.905f, 3.905f, 90, 90, 90}, "P m -3 m",
                     {{"O", 0.5f, 0.5f, 0}, {"Sr", 0, 0, 0}, {"Ti", 0.5f, 0.5f, 0.5f}});
}

// Two carbon sites with two and one oxygen neighbours.
bool MakeTwoCarbons(CrystalRec &c) {
  return MakeCrystal(
      c, {10, 10, 10, 90, 90, 90}, "P 1",
      {{"C", 0, 0, 0}, {"C", 0.5f, 0.5f, 0.5f}, {"O", 0.12f, 0, 0}, {"O", 0, 0.12f, 0}, {"O", 0.62f, 0.5f, 0.5f}});
}

// ---- Crystals -----------------------------------------------------------------------------

TEST(BondDiagnostics, CrystalCountsInBothDirections) {
  FakeHost host;
  struct Case {
    const char *name;
    bool (*make)(CrystalRec &);
    const char *a, *b;
    float minimum, maximum;
    Counts expected;
  };
  const Case cases[] = {
      {"Ti O", MakePerovskite, "Ti", "O", 0, 2.0f, {6, 6, 2, 2}},
      {"O Sr", MakePerovskite, "O", "Sr", 2.5f, 3.0f, {4, 4, 12, 12}},
      {"O O", MakePerovskite, "O", "O", 0, 2.8f, {8, 8, 8, 8}},
      {"C O", MakeTwoCarbons, "C", "O", 0, 1.5f, {1, 2, 1, 1}},
      {"C O none", MakeTwoCarbons, "C", "O", 1.5f, 2.0f, {0, 0, 0, 0}},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    CrystalRec c;
    ASSERT_TRUE(k.make(c));
    Counts counts{};
    EXPECT_TRUE(Diagnose(TurboCrystalBondDiagnostics, c, k.a, k.b, k.minimum, k.maximum, &counts));
    EXPECT_EQ(counts, k.expected);
  }
  EXPECT_TRUE(host.subtitles.empty());
  EXPECT_TRUE(host.log.empty());
}

TEST(BondDiagnostics, NeighboursExactlyAtTheMaximumAndInObliqueCells) {
  FakeHost host;
  // Simple cubic, a = 3: six neighbours at exactly 3.0.
  CrystalRec cubic;
  ASSERT_TRUE(MakeCrystal(cubic, {3, 3, 3, 90, 90, 90}, "P 1", {{"C", 0, 0, 0}}));
  // Face-centred cubic on its 60 degree primitive cell: twelve at a / sqrt 2.
  const float ap = 3.615f / std::sqrt(2.0f);
  CrystalRec fcc;
  ASSERT_TRUE(MakeCrystal(fcc, {ap, ap, ap, 60, 60, 60}, "P 1", {{"Cu", 0.3f, 0.6f, 0.1f}}));
  // A maximum long against the cell: three shells (6 + 12 + 8) of a cube.
  const float shells = 3.0f * std::sqrt(3.0f) + 0.01f;
  struct Case {
    const char *name;
    CrystalRec *c;
    const char *element;
    float maximum;
    int32_t expected;
  };
  const Case cases[] = {
      {"cubic", &cubic, "C", 3.0f, 6},
      {"fcc 60", &fcc, "Cu", 3.0f, 12},
      {"cubic shells", &cubic, "C", shells, 26},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    Counts counts{};
    EXPECT_TRUE(Diagnose(TurboCrystalBondDiagnostics, *k.c, k.element, k.element, 0, k.maximum, &counts));
    EXPECT_EQ(counts, (Counts{k.expected, k.expected, k.expected, k.expected}));
  }
}

TEST(BondDiagnostics, CrystalWithAnElementWithoutSitesFails) {
  FakeHost host;
  CrystalRec c;
  ASSERT_TRUE(MakePerovskite(c));
  const Counts none{kNoNeighbourCount, 0, kNoNeighbourCount, 0};
  Counts out{1, 2, 3, 4};
  EXPECT_FALSE(Diagnose(TurboCrystalBondDiagnostics, c, "Ti", "Fe", 0, 2, &out)); // B absent
  EXPECT_EQ(out, none);
  out = {1, 2, 3, 4};
  EXPECT_FALSE(Diagnose(TurboCrystalBondDiagnostics, c, "Fe", "O", 0, 2, &out)); // A absent
  EXPECT_EQ(out, none);
  CrystalRec empty;
  InitBlankCrystalRec(&empty);
  EXPECT_FALSE(Diagnose(TurboCrystalBondDiagnostics, empty, "Ti", "O", 0, 2, &out));
}

// ---- Molecules -------------------------------------------------------------------------------

TEST(BondDiagnostics, MoleculeCountsAroundEveryAtom) {
  FakeHost host;
  const float d = 1.09f / std::sqrt(3.0f);
  CrystalRec methane;
  MakeMolecule(methane, {{"C", 0, 0, 0}, {"H", d, d, d}, {"H", -d, -d, d}, {"H", -d, d, -d}, {"H", d, -d, -d}});
  Counts out{};
  EXPECT_TRUE(Diagnose(TurboMoleculeBondDiagnostics, methane, "C", "H", 0, 1.2f, &out));
  EXPECT_EQ(out, (Counts{4, 4, 1, 1}));
  EXPECT_TRUE(Diagnose(TurboMoleculeBondDiagnostics, methane, "H", "H", 0, 2.0f, &out));
  EXPECT_EQ(out, (Counts{3, 3, 3, 3})); // never the atom itself

  // Water and a lone hydrogen: one H has no O within reach.
  CrystalRec water;
  MakeMolecule(water, {{"H", 0.96f, 0, 0}, {"H", -0.24f, 0.93f, 0}, {"H", 6, 0, 0}, {"O", 0, 0, 0}});
  EXPECT_TRUE(Diagnose(TurboMoleculeBondDiagnostics, water, "O", "H", 0, 1.0f, &out));
  EXPECT_EQ(out, (Counts{2, 2, 0, 1}));
  EXPECT_TRUE(Diagnose(TurboMoleculeBondDiagnostics, water, "H", "O", 0, 1.0f, &out));
  EXPECT_EQ(out, (Counts{0, 1, 2, 2}));
}

TEST(BondDiagnostics, MoleculeWithAnElementWithoutAtomsLeavesTheCountsAlone) {
  FakeHost host;
  CrystalRec c;
  MakeMolecule(c, {{"C", 0, 0, 0}, {"O", 1.2f, 0, 0}});
  Counts out{1, 2, 3, 4};
  EXPECT_FALSE(Diagnose(TurboMoleculeBondDiagnostics, c, "C", "N", 0, 2, &out));
  EXPECT_EQ(out, (Counts{1, 2, 3, 4}));
  EXPECT_FALSE(Diagnose(TurboMoleculeBondDiagnostics, c, "N", "O", 0, 2, &out));
  EXPECT_EQ(out, (Counts{1, 2, 3, 4}));
}

// ---- Time-out ----------------------------------------------------------------------------------

TEST(BondDiagnostics, TimeToContinueForThreeSeconds) {
  FakeHost host;
  const uint32_t now = TickCount();
  EXPECT_TRUE(TimeToContinue(now - 180, 2, 8)); // exactly 3 s: not yet
  EXPECT_TRUE(host.log.empty());
  EXPECT_FALSE(TimeToContinue(now - 181, 2, 8));
  EXPECT_EQ(host.LogLines(),
            std::vector<std::string>{"Bond search terminated with 3 of 8 sites searched (37.5% complete)"});
  ASSERT_EQ(host.colouredRuns.size(), 1u);
  EXPECT_EQ(host.colouredRuns[0].colour, kRGBRed);
  // The tick count wraps around.
  host.now = 1000;
  EXPECT_TRUE(TimeToContinue(UINT32_MAX - 10, 0, 1));
}

// Ten carbon sites in a row along a; each has its two row neighbours at 1.0.
bool MakeCarbonRow(CrystalRec &c) {
  std::vector<Site> sites;
  for (int i = 0; i < 10; i++)
    sites.push_back({"C", i / 10.0f, 0.5f, 0.5f});
  return MakeCrystal(c, {10, 10, 10, 90, 90, 90}, "P 1", sites);
}

TEST(BondDiagnostics, TimeOutStopsTheSearchAndSaysSo) {
  OVWindowRecord window;
  const std::regex terminated(R"(Bond search terminated with (\d+) of 10 sites searched \((\d+\.\d)% complete\))");
  SteppingHost host;
  host.windows = {&window};
  CrystalRec c;
  ASSERT_TRUE(MakeCarbonRow(c));
  c.sites[9].xyz[0] = 0.95f; // the last site, never reached, has other counts
  Counts out{};
  EXPECT_TRUE(Diagnose(TurboCrystalBondDiagnostics, c, "C", "C", 0, 1.01f, &out));
  EXPECT_EQ(out, (Counts{2, 2, 2, 2})); // the sites examined
  ASSERT_EQ(host.subtitles.size(), 1u);
  EXPECT_EQ(host.subtitles[0].first, &window);
  EXPECT_EQ(host.subtitles[0].second, "Search timed out. See Log for details.");
  const std::vector<std::string> lines = host.LogLines();
  ASSERT_EQ(lines.size(), 1u);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, terminated)) << lines[0];
  const int searched = std::stoi(m[1]);
  EXPECT_GE(searched, 1);
  EXPECT_LT(searched, 10);
  EXPECT_EQ(m[2], std::to_string(searched * 10) + ".0");
}

TEST(BondDiagnostics, MoleculeTimeOut) {
  OVWindowRecord window;
  SteppingHost host;
  host.windows = {&window};
  std::vector<MoleculeAtom> atoms;
  for (int i = 0; i < 20; i++)
    atoms.push_back({"C", float(i), 0, 0});
  CrystalRec c;
  MakeMolecule(c, atoms);
  Counts out{};
  EXPECT_TRUE(Diagnose(TurboMoleculeBondDiagnostics, c, "C", "C", 0, 1.01f, &out));
  EXPECT_EQ(out[0], 1); // the first atom, at the end of the row
  ASSERT_EQ(host.subtitles.size(), 1u);
  EXPECT_EQ(host.subtitles[0].second, kSearchTimedOutSubtitle);
  ASSERT_EQ(host.LogLines().size(), 1u);
  EXPECT_EQ(host.LogLines()[0].rfind("Bond search terminated with ", 0), 0u);
}

} // namespace
