#include "UnitCell.h"
#include "EllipsoidMaths.h"
#include "FakeHost.h"
#include "FractionalPlaces.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "UnitCellReference.h"
#include "VectorMath.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

struct SiteSpec {
  const char *element;
  float x, y, z;
  float occupancy = 1.0f;
};

// A crystal with the given symbol (no cards of its own) and sites, each site
// with its own label "S<n>".
void MakeCrystal(CrystalRec &c, const char *symbol, const std::vector<SiteSpec> &sites, uint8_t origin = 0) {
  InitBlankCrystalRec(&c);
  std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "%s", symbol);
  c.originChoice = origin;
  if (sites.empty())
    return;
  const int32_t n = static_cast<int32_t>(sites.size());
  c.sites = *CreateAsymmetricUnit(n);
  c.siteCount = n;
  for (int32_t s = 0; s < n; s++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    const SiteSpec &spec = sites[static_cast<size_t>(s)];
    site.elements[0] = TwoCharsToShort(spec.element);
    site.occupancies[0] = spec.occupancy;
    site.atomType = static_cast<uint32_t>(s);
    site.xyz[0] = spec.x;
    site.xyz[1] = spec.y;
    site.xyz[2] = spec.z;
    std::snprintf(site.label, sizeof site.label, "S%d", static_cast<int>(s + 1) % 100000);
  }
}

// A crystal of n sites labelled "S<index>", at the origin, without elements,
// for a test to fill: the cell's angles alpha = beta and gamma, every
// component of the origin shift `shift`.
void MakeBlankSites(CrystalRec &c, const char *symbol, float alpha, float gamma, float shift, int32_t n) {
  MakeCrystal(c, symbol, {});
  c.alpha = c.beta = alpha;
  c.gamma = gamma;
  for (float &o : c.originShift)
    o = shift;
  c.sites = *CreateAsymmetricUnit(n);
  c.siteCount = n;
  for (int32_t s = 0; s < n; s++)
    std::snprintf(c.sites[static_cast<size_t>(s)].label, sizeof c.sites[static_cast<size_t>(s)].label, "S%d",
                  static_cast<int>(s) % 100000);
}

std::vector<std::string> Labels(const CrystalRec &c) {
  std::vector<std::string> out;
  for (int32_t s = 0; s < c.siteCount; s++)
    out.emplace_back(c.sites[static_cast<size_t>(s)].label);
  return out;
}

// ---- Wrapping and coincidence ------------------------------------------------

TEST(UnitCellWrap, MoveIntoCellWrapsAndSnapsCellEdgesToZero) {
  struct Case {
    float in, out;
  };
  const Case cases[] = {
      {1.0f, 0.0f},  {-1.0f, 0.0f},        {0.999995f, 0.0f},    {0.000004f, 0.0f}, {2.0f, 0.0f},
      {-3.0f, 0.0f}, {1.25f, 0.25f},       {-0.25f, 0.75f},      {-1.75f, 0.25f},   {0.5f, 0.5f},
      {0.0f, 0.0f},  {0.99998f, 0.99998f}, {0.00002f, 0.00002f}, {3.5f, 0.5f},
  };
  for (const Case &k : cases)
    EXPECT_FLOAT_EQ(MoveIntoCell(k.in), k.out) << k.in;
  // A hair below zero gains 1 and lands at the upper edge: snapped.
  EXPECT_EQ(MoveIntoCell(-1e-9f), 0.0f);
  // Nothing that is not a number leaves the cell.
  EXPECT_EQ(MoveIntoCell(std::numeric_limits<float>::quiet_NaN()), 0.0f);
  EXPECT_EQ(MoveIntoCell(std::numeric_limits<float>::infinity()), 0.0f);
  EXPECT_EQ(MoveIntoCell(-std::numeric_limits<float>::infinity()), 0.0f);

  float v[3] = {1.0f, -0.25f, 0.999995f};
  MoveVectorIntoCell(v, v);
  EXPECT_FLOAT_EQ(v[0], 0.0f);
  EXPECT_FLOAT_EQ(v[1], 0.75f);
  EXPECT_FLOAT_EQ(v[2], 0.0f);
}

TEST(UnitCellWrap, CoincidenceToleranceIs0_00011ModuloOne) {
  EXPECT_TRUE(SameFraction(0.3f, 0.3f));
  EXPECT_TRUE(SameFraction(0.3f, 0.300105f)); // beyond 0.0001, within 0.00011
  EXPECT_FALSE(SameFraction(0.3f, 0.30012f));
  EXPECT_TRUE(SameFraction(0.99995f, 0.00004f)); // across the cell edge
  EXPECT_FALSE(SameFraction(0.9999f, 0.00004f));
  EXPECT_FALSE(SameFraction(0.0f, 0.5f));
  const float a[3] = {0.1f, 0.2f, 0.3f};
  const float b[3] = {0.10005f, 0.19995f, 0.30005f};
  const float c[3] = {0.10005f, 0.19995f, 0.3003f};
  EXPECT_TRUE(SamePlace(a, b));
  EXPECT_FALSE(SamePlace(a, c));
}

// ---- Operators --------------------------------------------------------------

TEST(UnitCellOperators, OperatorListIsCardsTimesCentringCardMajor) {
  FakeHost host;
  CrystalRec c;
  MakeCrystal(c, "C 2/c", {});
  int32_t count = 0;
  auto ops = GetCrystalGEPs(&c, &count);
  ASSERT_TRUE(ops);
  ASSERT_EQ(count, 8);
  EXPECT_EQ(c.cardCount, 0); // the cards come from the table each time
  EXPECT_EQ(c.latticeLetter, 'C');
  // card 0 (identity), then identity + (1/2, 1/2, 0), then card 1 ...
  EXPECT_EQ((*ops)[0].rotation[0][0], 1);
  EXPECT_DOUBLE_EQ((*ops)[1].translation[0], 0.5);
  EXPECT_DOUBLE_EQ((*ops)[1].translation[1], 0.5);
  EXPECT_EQ((*ops)[1].rotation[0][0], 1);
  EXPECT_EQ((*ops)[2].rotation[0][0], -1);
  EXPECT_EQ((*ops)[3].rotation[0][0], -1);
  // -x, y, -z+1/2 plus the centring: translations are not wrapped.
  EXPECT_DOUBLE_EQ((*ops)[3].translation[0], 0.5);
  EXPECT_DOUBLE_EQ((*ops)[3].translation[2], 0.5);

  struct Case {
    const char *symbol;
    float alpha, gamma;
    int32_t ops;
  };
  const Case cases[] = {{"P 1", 90, 90, 1},       {"P 21/c", 90, 90, 4}, {"F m -3 m", 90, 90, 192},
                        {"I a -3 d", 90, 90, 96}, {"R -3", 90, 120, 18}, {"R -3", 80, 80, 6}};
  for (const Case &k : cases) {
    MakeCrystal(c, k.symbol, {});
    c.alpha = c.beta = k.alpha;
    c.gamma = k.gamma;
    GetCrystalGEPs(&c, &count);
    EXPECT_EQ(count, k.ops) << k.symbol << " " << k.alpha;
  }
}

TEST(UnitCellOperators, OwnCardsWithTheirLatticeLetter) {
  FakeHost host;
  CrystalRec c;
  MakeCrystal(c, "P 1", {});
  c.symCards[0] = MakeSymcard(kIdentityCard);
  c.symCards[1] = MakeSymcard("   -x       -y       -z  ");
  c.cardCount = 2;
  c.latticeLetter = 'I';
  int32_t count = 0;
  auto ops = GetCrystalGEPs(&c, &count);
  ASSERT_TRUE(ops);
  EXPECT_EQ(count, 4);
  EXPECT_DOUBLE_EQ((*ops)[1].translation[2], 0.5);
  EXPECT_EQ((*ops)[2].rotation[2][2], -1);
  EXPECT_TRUE(host.alerts.empty());
}

// A structure only read gets the list the build makes, and is left as it
// was: no symbol written, no card made, no alert.
TEST(UnitCellOperators, AStructureOnlyReadGetsTheBuildsListAndKeepsItsBytes) {
  struct Case {
    const char *symbol;
    float alpha, gamma;
    int16_t originChoice;
  };
  const Case cases[] = {{"F d -3 m", 90, 90, 2}, {"F d -3 m", 90, 90, 1}, {"R -3 c", 90, 120, 1},
                        {"R -3", 80, 80, 1},     {"C 2/c", 90, 90, 1},    {"", 90, 90, 1},
                        {"Q 9 z", 90, 90, 1}};
  for (const Case &k : cases) {
    FakeHost host;
    CrystalRec c;
    MakeCrystal(c, k.symbol, {});
    c.alpha = c.beta = k.alpha;
    c.gamma = k.gamma;
    c.originChoice = k.originChoice;
    c.latticeLetter = 'P';
    const CrystalRec before = c;
    int32_t count = 0;
    const auto read = CrystalOperators(c, &count);
    EXPECT_TRUE(host.alerts.empty()) << k.symbol;
    EXPECT_STREQ(c.spaceGroup, before.spaceGroup) << k.symbol;
    EXPECT_EQ(c.latticeLetter, before.latticeLetter) << k.symbol;
    EXPECT_EQ(CardText(c.symCards[0]), CardText(before.symCards[0])) << k.symbol;
    CrystalRec built = before;
    int32_t builtCount = 0;
    const auto made = GetCrystalGEPs(&built, &builtCount);
    ASSERT_TRUE(read && made) << k.symbol;
    ASSERT_EQ(count, builtCount) << k.symbol;
    for (size_t i = 0; i < made->size(); i++)
      for (int r = 0; r < 3; r++) {
        EXPECT_DOUBLE_EQ((*read)[i].translation[r], (*made)[i].translation[r]) << k.symbol << " op " << i;
        for (int q = 0; q < 3; q++)
          EXPECT_EQ((*read)[i].rotation[r][q], (*made)[i].rotation[r][q]) << k.symbol << " op " << i;
      }
  }
}

TEST(UnitCellOperators, MissingSymbolAssumesP1WithOneAlert) {
  for (const char *symbol : {"", "   ", " ' "}) {
    FakeHost host;
    CrystalRec c;
    MakeCrystal(c, symbol, {});
    EXPECT_EQ(GetSymcardsFromSpacegroup(&c), 1) << '"' << symbol << '"';
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_EQ(host.alerts[0].type, kAlertCautionAlert);
    EXPECT_EQ(host.alerts[0].message, "No spacegroup symbol or symmetry cards defined.");
    EXPECT_EQ(host.alerts[0].explanation, "Spacegroup 'P 1' assumed.");
    EXPECT_STREQ(c.spaceGroup, "P 1");
    EXPECT_EQ(c.cardCount, 0);
    EXPECT_EQ(CardText(c.symCards[0]), kIdentityCard);
    // Announced once: the symbol is now there.
    int32_t count = 0;
    GetCrystalGEPs(&c, &count);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(host.alerts.size(), 1u);
  }
  FakeHost host;
  CrystalRec c;
  MakeCrystal(c, "P 21/c", {});
  EXPECT_EQ(GetSymcardsFromSpacegroup(&c), 4);
  EXPECT_EQ(c.latticeLetter, 'P');
  EXPECT_EQ(c.cardCount, 0);
  EXPECT_TRUE(host.alerts.empty());
}

// A symbol that names no group still builds P 1 (files may hold one), but the
// build says so: one caution alert naming it and one red Log line per cell
// generation, the site removal before it included.
TEST(UnitCellOperators, UnknownSymbolIsAnnouncedOncePerGeneration) {
  for (const char *symbol : {"Xyz", "P 99/q", "C m c f", "I c a d", "P 2 2 2 2", "R"}) {
    FakeHost host;
    CrystalRec c;
    MakeCrystal(c, symbol, {{"Na", 0.1f, 0.2f, 0.3f}, {"Na", 0.6f, 0.2f, 0.3f}});
    RemoveSymmetryRelatedSites(&c);
    ASSERT_TRUE(GenCell(&c)) << symbol;
    EXPECT_EQ(c.atomCount, 2) << symbol; // P 1
    EXPECT_STREQ(c.spaceGroup, symbol);  // kept as written
    ASSERT_EQ(host.alerts.size(), 1u) << symbol;
    EXPECT_EQ(host.alerts[0].type, kAlertCautionAlert);
    EXPECT_EQ(host.alerts[0].message, std::string("Unknown spacegroup symbol '") + symbol + "'.");
    EXPECT_EQ(host.alerts[0].explanation, "Spacegroup 'P 1' assumed.");
    ASSERT_EQ(host.LogLines().size(), 1u) << symbol;
    EXPECT_EQ(host.LogLines()[0], std::string("Unknown spacegroup symbol '") + symbol + "': spacegroup 'P 1' assumed.");
    ASSERT_EQ(host.colouredRuns.size(), 1u);
    EXPECT_EQ(host.colouredRuns[0].colour, kRGBRed);
  }
  // batch work: no alert, the Log line stays; a known symbol says nothing
  FakeHost host;
  CrystalRec c;
  MakeCrystal(c, "Xyz", {{"Na", 0.1f, 0.2f, 0.3f}});
  gProhibitErrorAlerts = 1;
  EXPECT_TRUE(GenCell(&c));
  gProhibitErrorAlerts = 0;
  EXPECT_TRUE(host.alerts.empty());
  EXPECT_EQ(host.LogLines().size(), 1u);
  MakeCrystal(c, "C m c e", {{"Na", 0.1f, 0.2f, 0.3f}});
  EXPECT_TRUE(GenCell(&c));
  EXPECT_EQ(c.atomCount, 16);
  EXPECT_TRUE(host.alerts.empty());
  EXPECT_EQ(host.LogLines().size(), 1u);
}

// ---- Cell generation ---------------------------------------------------------

TEST(UnitCellGenCell, FaceCentredCubicSpecialAndGeneralSites) {
  FakeHost host;
  CrystalRec c;
  MakeCrystal(c, "F m -3 m", {{"Na", 0, 0, 0}, {"Cl", 0.5f, 0.5f, 0.5f}, {"O", 0.11f, 0.23f, 0.37f}});
  ASSERT_TRUE(GenCell(&c));
  EXPECT_EQ(c.atomCount, 4 + 4 + 192);
  EXPECT_EQ(c.atomsPerCell, c.atomCount);
  EXPECT_EQ(static_cast<int32_t>(c.atoms.size()), c.atomCount);
  const int32_t perSite[3] = {4, 4, 192};
  int32_t first = 0;
  for (int s = 0; s < 3; s++) {
    const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    EXPECT_EQ(site.firstAtom, first);
    EXPECT_EQ(site.atomsPerCell, perSite[s]);
    EXPECT_EQ(site.lastAtom, first + perSite[s] - 1);
    for (int32_t a = site.firstAtom; a <= site.lastAtom; a++) {
      const AtomRecord &atom = c.atoms[static_cast<size_t>(a)];
      EXPECT_EQ(atom.site, static_cast<uint32_t>(s));
      EXPECT_EQ(atom.atomType, site.atomType);
      EXPECT_EQ(atom.visible, 1);
      for (float v : atom.xyz) {
        EXPECT_GE(v, 0.0f);
        EXPECT_LT(v, 1.0f);
      }
    }
    first += perSite[s];
  }
  // The origin site: the identity card under the four centring vectors, in
  // their order.
  const float fcc[4][3] = {{0, 0, 0}, {0, 0.5f, 0.5f}, {0.5f, 0.5f, 0}, {0.5f, 0, 0.5f}};
  for (int k = 0; k < 4; k++)
    for (int i = 0; i < 3; i++)
      EXPECT_FLOAT_EQ(c.atoms[static_cast<size_t>(k)].xyz[i], fcc[k][i]);
  // The 192 images of the general site are all different places.
  for (int32_t a = 8; a < 200; a++)
    for (int32_t b = a + 1; b < 200; b++)
      ASSERT_FALSE(SamePlace(c.atoms[static_cast<size_t>(a)].xyz, c.atoms[static_cast<size_t>(b)].xyz));
}

TEST(UnitCellGenCell, ImagesFollowTheOperatorOrder) {
  FakeHost host;
  CrystalRec c;
  MakeCrystal(c, "P 21/c", {{"C", 0.1f, 0.2f, 0.3f}});
  ASSERT_TRUE(GenCell(&c));
  ASSERT_EQ(c.atomCount, 4);
  // x,y,z; -x,y+1/2,-z+1/2; -x,-y,-z; x,-y+1/2,z+1/2
  const float expected[4][3] = {{0.1f, 0.2f, 0.3f}, {0.9f, 0.7f, 0.2f}, {0.9f, 0.8f, 0.7f}, {0.1f, 0.3f, 0.8f}};
  for (int a = 0; a < 4; a++)
    for (int i = 0; i < 3; i++)
      EXPECT_NEAR(c.atoms[static_cast<size_t>(a)].xyz[i], expected[a][i], 1e-6) << a << "," << i;
}

TEST(UnitCellGenCell, PrimitiveAndCentrosymmetricEdgeCases) {
  FakeHost host;
  CrystalRec c;
  MakeCrystal(c, "P 1", {{"Fe", 0.5f, 0.5f, 0.5f}, {"Fe", 1.0f, 0, 0}, {"Fe", -1.0f, 0.999995f, 0.000004f}});
  ASSERT_TRUE(GenCell(&c));
  ASSERT_EQ(c.atomCount, 3);
  EXPECT_FLOAT_EQ(c.atoms[0].xyz[0], 0.5f);
  for (int a = 1; a < 3; a++)
    for (int i = 0; i < 3; i++)
      EXPECT_EQ(c.atoms[static_cast<size_t>(a)].xyz[i], 0.0f);

  // In the cell of 10 A, the two images of 0.0004 lie 0.008 A apart: one
  // atom. Of 0.0006, 0.012 A apart: two.
  MakeCrystal(c, "P -1", {{"O", 0.0004f, 0, 0}, {"O", 0.0006f, 0, 0}});
  ASSERT_TRUE(GenCell(&c));
  EXPECT_EQ(c.sites[0].atomsPerCell, 1);
  EXPECT_EQ(c.sites[1].atomsPerCell, 2);
  EXPECT_EQ(c.atomCount, 3);
}

TEST(UnitCellGenCell, OriginShiftMovesTheSymmetryElements) {
  FakeHost host;
  CrystalRec c;
  MakeCrystal(c, "P -1", {{"Si", 0, 0, 0}});
  for (float &o : c.originShift)
    o = 0.25f;
  ASSERT_TRUE(GenCell(&c));
  ASSERT_EQ(c.atomCount, 2);
  for (int i = 0; i < 3; i++) {
    EXPECT_FLOAT_EQ(c.atoms[0].xyz[i], 0.0f);
    EXPECT_FLOAT_EQ(c.atoms[1].xyz[i], 0.5f);
  }
  // The inversion centre now sits at (-1/4, -1/4, -1/4): a site there is
  // special.
  MakeCrystal(c, "P -1", {{"Si", 0.75f, 0.75f, 0.75f}});
  for (float &o : c.originShift)
    o = 0.25f;
  ASSERT_TRUE(GenCell(&c));
  EXPECT_EQ(c.atomCount, 1);
}

TEST(UnitCellGenCell, RegeneratesAndFailsCleanly) {
  FakeHost host;
  CrystalRec c;
  MakeCrystal(c, "P 21/c", {{"C", 0.1f, 0.2f, 0.3f}});
  ASSERT_TRUE(GenCell(&c));
  c.atoms[0].bonds = {1, 2};
  c.atoms[0].bondCount = 2;
  c.atoms[0].selected = 1;
  c.atoms[1].visible = 0;
  for (float &v : c.sites[0].xyz)
    v = 0.0f;
  ASSERT_TRUE(GenCell(&c));
  ASSERT_EQ(c.atomCount, 2); // on an inversion centre
  EXPECT_TRUE(c.atoms[0].bonds.empty());
  EXPECT_EQ(c.atoms[0].selected, 0);
  EXPECT_EQ(c.atoms[1].visible, 1);

  // No sites: no cell, and no stale atoms either.
  DestroyAsymmetricUnit(&c);
  EXPECT_FALSE(GenCell(&c));
  EXPECT_EQ(c.atomCount, 0);
  EXPECT_TRUE(c.atoms.empty());
  EXPECT_FALSE(GenCell(nullptr));
}

// With ellipsoid data every atom carries its three axis end points; they are
// the site's end points put through the atom's operator and its wrap, so an
// end point stays at the same offset from its atom as the turned axis.
TEST(UnitCellGenCell, EllipsoidAxisEndPointsMoveWithEachImage) {
  FakeHost host;
  for (float shift : {0.0f, 0.1f}) {
    CrystalRec c;
    // A site near the cell edges, so most images wrap.
    MakeCrystal(c, "P 21/c", {{"C", 0.97f, 0.02f, 0.95f}});
    c.a = 6.0f;
    c.b = 7.0f;
    c.c = 8.0f;
    c.beta = 105.0f;
    c.ellipsoidData = 1;
    for (float &o : c.originShift)
      o = shift;
    AsymmetricUnitRecord &site = c.sites[0];
    site.displacementType = kDisplacementAnisoU;
    const float U[9] = {0.020f, 0.003f, 0.004f, 0.003f, 0.030f, -0.002f, 0.004f, -0.002f, 0.025f};
    std::memcpy(site.tensor, U, sizeof U);
    float axes[3][3] = {};
    ASSERT_TRUE(GetEllipsoidAxes(&c, 0, axes));

    ASSERT_TRUE(GenCell(&c));
    int32_t count = 0;
    auto ops = GetCrystalGEPs(&c, &count);
    ASSERT_EQ(c.atomCount, 4);
    ASSERT_EQ(count, 4);
    for (int32_t a = 0; a < 4; a++) {
      const AtomRecord &atom = c.atoms[static_cast<size_t>(a)];
      const GEP &op = (*ops)[static_cast<size_t>(a)];
      for (int k = 0; k < 3; k++)
        for (int i = 0; i < 3; i++) {
          float turned = 0.0f;
          for (int j = 0; j < 3; j++)
            turned += static_cast<float>(op.rotation[i][j]) * axes[k][j];
          EXPECT_NEAR(atom.ellipsoidAxes[k][i] - atom.xyz[i], turned, 2e-6)
              << "atom " << a << " axis " << k << " component " << i << " shift " << shift;
        }
    }
  }
  // Without ellipsoid data the end points stay blank.
  CrystalRec c;
  MakeCrystal(c, "P 21/c", {{"C", 0.1f, 0.2f, 0.3f}});
  ASSERT_TRUE(GenCell(&c));
  for (const AtomRecord &atom : c.atoms)
    for (const auto &axis : atom.ellipsoidAxes)
      for (float v : axis)
        EXPECT_EQ(v, 0.0f);
}

// Random structures of large orbits (each image looked up among the earlier
// ones by its sum) and of smaller ones, full of near misses: sites on and
// beside special positions and on lines of them (nudged by about the
// tolerance, either side of it), beside the origin (where one place's
// images wrap to both ends of the cell and of the sum), on cell edges and
// anywhere. Every site must make exactly the images the plain comparison
// with all earlier images keeps, in the same order.
TEST(UnitCellGenCell, ImagesMatchThePlainComparisonOnRandomInput) {
  FakeHost host;
  std::mt19937 rng(20261210u);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::uniform_real_distribution<float> beside(-0.0003f, 0.0003f);
  const float nudges[] = {0.0f,      0.00003f, -0.00003f, 0.00005f,   -0.00005f, 0.000054f,
                          -0.000056f, 0.00011f, -0.00011f, 0.000115f, 0.0002f};
  const float special[] = {0.0f, 0.125f, 0.25f, 0.375f, 0.5f, 0.75f, 1.0f / 3, 0.99999f, 0.000011f, 1.0f};
  struct Group {
    const char *symbol;
    float gamma;
    float shift;
  };
  const Group groups[] = {{"F m -3 m", 90, 0.0f}, {"I m -3 m", 90, 0.0f},   {"F d -3 m", 90, 0.125f},
                          {"P m -3 m", 90, 0.0f}, {"P 63/m m c", 120, 0.0f}, {"I a -3 d", 90, 0.0f}};
  const auto pick = [&](const auto &list) { return list[rng() % std::size(list)]; };
  int64_t dropped = 0;
  for (int trial = 0; trial < 30; trial++) {
    const Group &g = groups[trial % std::size(groups)];
    CrystalRec c;
    const int32_t n = 60;
    MakeBlankSites(c, g.symbol, 90, g.gamma, g.shift, n);
    for (int32_t s = 0; s < n; s++) {
      AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
      site.elements[0] = TwoCharsToShort("C");
      site.occupancies[0] = 1.0f;
      float *x = site.xyz;
      switch (rng() % 4) {
      case 0: // anywhere
        for (int i = 0; i < 3; i++)
          x[i] = unit(rng);
        break;
      case 1: // on or beside special positions
        for (int i = 0; i < 3; i++)
          x[i] = rng() % 4 ? pick(special) + pick(nudges) : unit(rng);
        break;
      case 2: // beside the origin
        for (int i = 0; i < 3; i++)
          x[i] = pick(nudges) + (rng() % 2 ? beside(rng) : 0.0f);
        break;
      default: // on or beside a line x = y or x = y = z
        x[0] = unit(rng);
        x[1] = x[0] + pick(nudges);
        x[2] = rng() % 2 ? x[0] + pick(nudges) : pick(special);
        break;
      }
    }
    std::vector<int32_t> perSite;
    const std::vector<std::array<float, 3>> expected = ReferenceCellImages(&c, perSite);
    ASSERT_TRUE(GenCell(&c));
    ASSERT_EQ(c.atoms.size(), expected.size()) << g.symbol << " trial " << trial;
    for (int32_t s = 0; s < n; s++)
      ASSERT_EQ(c.sites[static_cast<size_t>(s)].atomsPerCell, perSite[static_cast<size_t>(s)])
          << g.symbol << " trial " << trial << " site " << s;
    for (size_t a = 0; a < expected.size(); a++)
      ASSERT_EQ(std::memcmp(c.atoms[a].xyz, expected[a].data(), sizeof(float[3])), 0) << g.symbol << " atom " << a;
    int32_t nOps = 0;
    ASSERT_TRUE(GetCrystalGEPs(&c, &nOps));
    dropped += int64_t{nOps} * n - c.atomCount;
  }
  // Most sites are special: many images are dropped.
  EXPECT_GT(dropped, 30 * 60 * 24);
}

// ---- Symmetry-related sites --------------------------------------------------

TEST(UnitCellSiteRemoval, LaterSymmetryCopiesGoFirstOfEachClassStays) {
  FakeHost host;
  CrystalRec c;
  MakeCrystal(c, "P -1", {{"O", 0.1f, 0.2f, 0.3f}, {"O", -0.1f, -0.2f, -0.3f}});
  RemoveSymmetryRelatedSites(&c);
  EXPECT_EQ(Labels(c), std::vector<std::string>({"S1"}));
  EXPECT_EQ(c.sites.size(), 1u);

  // Different occupancies, or elements: both stay. Within 0.0001: one.
  MakeCrystal(c, "P -1", {{"O", 0.1f, 0.2f, 0.3f, 1.0f}, {"O", -0.1f, -0.2f, -0.3f, 0.5f}});
  RemoveSymmetryRelatedSites(&c);
  EXPECT_EQ(c.siteCount, 2);
  MakeCrystal(c, "P -1", {{"O", 0.1f, 0.2f, 0.3f, 0.5f}, {"O", -0.1f, -0.2f, -0.3f, 0.50005f}});
  RemoveSymmetryRelatedSites(&c);
  EXPECT_EQ(c.siteCount, 1);
  MakeCrystal(c, "P -1", {{"O", 0.1f, 0.2f, 0.3f}, {"N", -0.1f, -0.2f, -0.3f}});
  RemoveSymmetryRelatedSites(&c);
  EXPECT_EQ(c.siteCount, 2);

  // Copies by a centring vector, by a symmetry operator and across the cell
  // edge go; the others close up in order. (0, 0, 0) and (1/2, 1/2, 1/2) are
  // different orbits, as are (0, 0, 0) and (1/4, 1/4, 1/4).
  MakeCrystal(c, "F m -3 m",
              {{"Na", 0, 0, 0},
               {"Cl", 0.5f, 0.5f, 0.5f},
               {"Na", 0.5f, 0, 0.5f}, // S1 + centring
               {"Na", 0.25f, 0.25f, 0.25f},
               {"Cl", 1.0f, 0.99995f, -0.50005f}, // (0, 0, 1/2): S2 + centring
               {"Na", 0.75f, 0.75f, 0.75f},       // S4 under the inversion
               {"Cl", 0.5f, 0, 0},                // S2 + centring
               {"Cl", 0.0f, 0.0f, 0.0f}});
  RemoveSymmetryRelatedSites(&c);
  EXPECT_EQ(Labels(c), std::vector<std::string>({"S1", "S2", "S4", "S8"}));
  EXPECT_EQ(c.sites.size(), 4u);
}

TEST(UnitCellSiteRemoval, SingleOperatorOrSingleSiteLeavesTheSites) {
  FakeHost host;
  CrystalRec c;
  MakeCrystal(c, "P 1", {{"O", 0.1f, 0.2f, 0.3f}, {"O", 0.1f, 0.2f, 0.3f}});
  RemoveSymmetryRelatedSites(&c);
  EXPECT_EQ(c.siteCount, 2);
  MakeCrystal(c, "P -1", {{"O", 0.1f, 0.2f, 0.3f}});
  RemoveSymmetryRelatedSites(&c);
  EXPECT_EQ(c.siteCount, 1);
  RemoveSymmetryRelatedSites(nullptr);
}

// Random structures full of near misses: copies of earlier sites put through
// a random operator and nudged by about the tolerance (either side of it),
// moved by whole cells, put on bucket boundaries and cell edges, with equal,
// nearly equal and different occupancies and elements. The bucketed removal
// must keep exactly the sites the plain one keeps, in the same places.
TEST(UnitCellSiteRemoval, BucketedRemovalMatchesThePlainOneOnRandomInput) {
  FakeHost host;
  std::mt19937 rng(20240611u);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const float nudges[] = {0.0f,      0.00005f,  -0.00005f,  0.000105f, -0.000105f, 0.00011f,
                          -0.00011f, 0.000115f, -0.000115f, 0.0002f,   -0.0003f,   0.00099f};
  const char *elements[] = {"O", "O", "O", "Si", "Fe"};
  const float occupancies[] = {1.0f, 1.0f, 1.0f, 0.99995f, 0.9998f, 0.5f};
  struct Group {
    const char *symbol;
    float alpha, gamma;
    float shift;
  };
  const Group groups[] = {{"P -1", 90, 90, 0.0f},       {"P 21 21 21", 90, 90, 0.0f}, {"F m -3 m", 90, 90, 0.0f},
                          {"R -3 c", 90, 120, 0.0f},    {"R -3 m", 70, 70, 0.0f},     {"P 63/m m c", 90, 120, 0.0f},
                          {"I 41/a m d", 90, 90, 0.0f}, {"P 21/c", 90, 90, 0.25f},    {"F d -3 m", 90, 90, 0.125f},
                          {"C 2/c", 90, 90, 0.0f}};
  int removedTotal = 0;
  for (int trial = 0; trial < 60; trial++) {
    const Group &g = groups[trial % std::size(groups)];
    CrystalRec fast;
    const int32_t n = 150;
    MakeBlankSites(fast, g.symbol, g.alpha, g.gamma, g.shift, n);
    int32_t nOps = 0;
    auto ops = GetCrystalGEPs(&fast, &nOps);
    ASSERT_TRUE(ops);
    for (int32_t s = 0; s < n; s++) {
      AsymmetricUnitRecord &site = fast.sites[static_cast<size_t>(s)];
      site.elements[0] = TwoCharsToShort(elements[rng() % std::size(elements)]);
      site.occupancies[0] = occupancies[rng() % std::size(occupancies)];
      const unsigned kind = s == 0 ? 0 : rng() % 4;
      if (kind == 0) { // anywhere
        for (float &v : site.xyz)
          v = unit(rng);
      } else if (kind == 1) { // on bucket boundaries and cell edges
        const float edges[] = {0.0f, 1.0f, 0.99999f, 0.000011f, 0.5f, 0.99994f, 0.00006f};
        for (float &v : site.xyz)
          v = rng() % 2 ? edges[rng() % std::size(edges)]
                        : static_cast<float>(rng() % 1024) / 1024.0f + nudges[rng() % std::size(nudges)];
      } else { // a nudged symmetry copy of an earlier site
        const AsymmetricUnitRecord &earlier = fast.sites[rng() % static_cast<size_t>(s)];
        const GEP &op = (*ops)[rng() % static_cast<size_t>(nOps)];
        double image[3];
        ApplySymmetryOperator(op, earlier.xyz, fast.originShift, image);
        for (int i = 0; i < 3; i++)
          site.xyz[i] = static_cast<float>(image[i]) + nudges[rng() % std::size(nudges)] +
                        static_cast<float>(static_cast<int>(rng() % 3) - 1);
        if (kind == 3) {
          site.elements[0] = earlier.elements[0];
          site.occupancies[0] = earlier.occupancies[0];
        }
      }
    }
    CrystalRec plain = fast;
    RemoveSymmetryRelatedSites(&fast);
    ReferenceRemoveSymmetryRelatedSites(&plain);
    ASSERT_EQ(Labels(fast), Labels(plain)) << g.symbol << " trial " << trial;
    ASSERT_EQ(fast.sites.size(), static_cast<size_t>(fast.siteCount));
    for (int32_t s = 0; s < fast.siteCount; s++)
      ASSERT_EQ(std::memcmp(fast.sites[static_cast<size_t>(s)].xyz, plain.sites[static_cast<size_t>(s)].xyz,
                            sizeof(float[3])),
                0);
    removedTotal += n - fast.siteCount;
  }
  // The input must exercise both outcomes.
  EXPECT_GT(removedTotal, 500);
  EXPECT_LT(removedTotal, 60 * 150 / 2);
}

// ---- Multiplicity and the full-cell site list ---------------------------------

TEST(UnitCellMultiplicity, PointIsBroughtIntoTheCellAndItsImagesCounted) {
  FakeHost host;
  CrystalRec c;
  MakeCrystal(c, "P -1", {});
  float p[3] = {1.25f, -1.25f, 0.0f};
  int32_t m = 0;
  ASSERT_TRUE(GetSiteMultiplicity(&c, p, &m));
  EXPECT_FLOAT_EQ(p[0], 0.25f);
  EXPECT_FLOAT_EQ(p[1], 0.75f);
  EXPECT_FLOAT_EQ(p[2], 0.0f);
  EXPECT_EQ(m, 2);

  // A negative whole number is the cell edge, 0, not 1.
  float q[3] = {-1.0f, 2.0f, -1e-9f};
  ASSERT_TRUE(GetSiteMultiplicity(&c, q, &m));
  EXPECT_EQ(q[0], 0.0f);
  EXPECT_EQ(q[1], 0.0f);
  EXPECT_EQ(q[2], 0.0f);
  EXPECT_EQ(m, 1);

  struct Case {
    const char *symbol;
    float gamma;
    float x, y, z;
    int32_t multiplicity;
  };
  const Case cases[] = {{"F m -3 m", 90, 0, 0, 0, 4},
                        {"F m -3 m", 90, 0.25f, 0.25f, 0.25f, 8},
                        {"F m -3 m", 90, 0.11f, 0.23f, 0.37f, 192},
                        {"F m -3 m", 90, 0.1f, 0.2f, 0.3f, 96}, // on the mirror x, -z+1/2, -y+1/2
                        {"F m -3 m", 90, 0.2f, 0.2f, 0.2f, 32},
                        {"P 21/c", 90, 0.5f, 0.0f, 0.5f, 2},
                        {"I a -3 d", 90, 0.125f, 0, 0.25f, 24},
                        {"P 63/m m c", 120, 1.0f / 3, 2.0f / 3, 0.25f, 2}};
  for (const Case &k : cases) {
    MakeCrystal(c, k.symbol, {});
    c.gamma = k.gamma;
    float r[3] = {k.x, k.y, k.z};
    ASSERT_TRUE(GetSiteMultiplicity(&c, r, &m));
    EXPECT_EQ(m, k.multiplicity) << k.symbol << " " << k.x << " " << k.y << " " << k.z;
  }
}

TEST(UnitCellFullCellSites, OneRecordPerDistinctImageSignKept) {
  FakeHost host;
  CrystalRec c;
  MakeCrystal(c, "P -1", {{"O", 0.1f, 0.2f, 0.3f}, {"Fe", 0.5f, 0.0f, 0.0f}, {"N", 1.3f, 0.4f, 0.4f}});
  int32_t count = 0;
  auto sites = GenCellAU(&c, &count);
  ASSERT_TRUE(sites);
  ASSERT_EQ(count, 2 + 1 + 2);
  ASSERT_EQ(sites->size(), 5u);
  const float expected[5][3] = {
      {0.1f, 0.2f, 0.3f}, {-0.1f, -0.2f, -0.3f}, {0.5f, 0.0f, 0.0f}, {0.3f, 0.4f, 0.4f}, {-0.3f, -0.4f, -0.4f}};
  const char *labels[5] = {"S1", "S1", "S2", "S3", "S3"};
  for (int32_t k = 0; k < 5; k++) {
    const AsymmetricUnitRecord &s = (*sites)[static_cast<size_t>(k)];
    for (int i = 0; i < 3; i++)
      EXPECT_NEAR(s.xyz[i], expected[k][i], 1e-6) << k;
    EXPECT_STREQ(s.label, labels[k]);
    EXPECT_EQ(s.firstAtom, k);
    EXPECT_EQ(s.lastAtom, k);
    EXPECT_EQ(s.atomsPerCell, 1);
  }
  // The structure itself is untouched.
  EXPECT_EQ(c.siteCount, 3);
}

TEST(UnitCellFullCellSites, TensorsTurnWithTheOperator) {
  FakeHost host;
  CrystalRec c;
  MakeCrystal(c, "P 4", {{"Cu", 0.1f, 0.2f, 0.3f}});
  c.ellipsoidData = 1;
  const float U[9] = {0.01f, 0.002f, 0.003f, 0.002f, 0.02f, 0.004f, 0.003f, 0.004f, 0.03f};
  std::memcpy(c.sites[0].tensor, U, sizeof U);
  int32_t count = 0;
  auto sites = GenCellAU(&c, &count);
  ASSERT_TRUE(sites);
  ASSERT_EQ(count, 4);
  // The third operator of P 4 is -y, x, z: U'11 = U22, U'22 = U11,
  // U'12 = -U12, U'13 = -U23, U'23 = U13.
  const float *t = (*sites)[2].tensor;
  EXPECT_FLOAT_EQ(t[0], 0.02f);
  EXPECT_FLOAT_EQ(t[4], 0.01f);
  EXPECT_FLOAT_EQ(t[8], 0.03f);
  EXPECT_FLOAT_EQ(t[1], -0.002f);
  EXPECT_FLOAT_EQ(t[3], -0.002f);
  EXPECT_FLOAT_EQ(t[2], -0.004f);
  EXPECT_FLOAT_EQ(t[5], 0.003f);
  EXPECT_NEAR((*sites)[2].xyz[0], -0.2f, 1e-6);
  EXPECT_NEAR((*sites)[2].xyz[1], 0.1f, 1e-6);
  // Without ellipsoid data the tensor is copied as it is.
  c.ellipsoidData = 0;
  sites = GenCellAU(&c, &count);
  ASSERT_TRUE(sites);
  EXPECT_EQ(std::memcmp((*sites)[2].tensor, U, sizeof U), 0);
}

// ---- Cell validity -----------------------------------------------------------

TEST(UnitCellValidity, CellsWithoutVolumeAreRefusedWithAnAlert) {
  struct Case {
    float a, b, c, alpha, beta, gamma;
    bool valid;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {5.64f, 5.64f, 5.64f, 90, 90, 90, true},  {4.91f, 4.91f, 5.40f, 90, 90, 120, true},
      {6.0f, 7.0f, 8.0f, 60, 60, 60, true},     {6.0f, 7.0f, 8.0f, 119, 119, 119, true},
      {6.0f, 7.0f, 8.0f, 95, 105, 80, true},    {0.0f, 5.0f, 5.0f, 90, 90, 90, false},
      {5.0f, -5.0f, 5.0f, 90, 90, 90, false},   {5.0f, 5.0f, nan, 90, 90, 90, false},
      {5.0f, 5.0f, inf, 90, 90, 90, false},     {5.0f, 5.0f, 5.0f, 0, 90, 90, false},
      {5.0f, 5.0f, 5.0f, 90, 180, 90, false},   {5.0f, 5.0f, 5.0f, 90, 90, nan, false},
      {5.0f, 5.0f, 5.0f, 120, 120, 120, false}, // flat: the three axes in one plane
      {5.0f, 5.0f, 5.0f, 30, 30, 90, false},    // no such cell: det G < 0
      {5.0f, 5.0f, 5.0f, 90, 90, 200, false},
  };
  for (const Case &k : cases) {
    EXPECT_EQ(CellIsValid(k.a, k.b, k.c, k.alpha, k.beta, k.gamma), k.valid)
        << k.a << " " << k.b << " " << k.c << " " << k.alpha << " " << k.beta << " " << k.gamma;
    // Whatever passes has a metric tensor with a positive determinant.
    if (k.valid) {
      float G[9];
      GetMetricTensor(k.a, k.b, k.c, k.alpha, k.beta, k.gamma, G);
      EXPECT_GT(Det3x3Mat(G), 0.0f);
    }
  }

  FakeHost host;
  CrystalRec c;
  InitBlankCrystalRec(&c);
  EXPECT_TRUE(CheckCellIsValid(&c));
  EXPECT_TRUE(host.alerts.empty());
  c.alpha = c.beta = c.gamma = 120.0f;
  EXPECT_FALSE(CellIsValid(&c));
  EXPECT_FALSE(CheckCellIsValid(&c));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].type, kAlertCautionAlert);
  EXPECT_EQ(host.alerts[0].message, "The unit cell is not valid.");
  EXPECT_NE(host.alerts[0].explanation.find("alpha = 120, beta = 120, gamma = 120"), std::string::npos);
  EXPECT_FALSE(CellIsValid(nullptr));
}

} // namespace
