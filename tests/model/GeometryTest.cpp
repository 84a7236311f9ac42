// Tests of the structure geometry calculations and the
// atomic-weight table.
//
// Reciprocal cells, volumes and d-spacings are checked against python3-gemmi's
// UnitCell for triclinic, monoclinic, hexagonal and rhombohedral cells, and the
// distance esd against a numerical propagation; those constants sit between
// "oracle:begin" and "oracle:end" markers and tests/oracle/geometry_oracle.py
// recomputes them in CI. The rest pins the rules and edge cases and the
// faults mended (antiparallel included angle, rounding past the cosine range,
// sites without atoms in the formula divisor, refused cells).
#include "Geometry.h"
#include "ElementWeights.h"
#include "VectorMath.h"

#include "FakeHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct CellParams {
  float a, b, c, alpha, beta, gamma;
};

// Cells in the order of the oracle block (tests/oracle/geometry_oracle.py).
constexpr CellParams kCells[] = {
    {5.0f, 6.0f, 7.0f, 80.0f, 95.0f, 100.0f},            // triclinic
    {7.342f, 9.187f, 11.002f, 103.45f, 94.21f, 111.82f}, // triclinic2
    {8.561f, 12.996f, 7.192f, 90.0f, 116.16f, 90.0f},    // monoclinicB
    {5.43f, 7.91f, 9.02f, 90.0f, 90.0f, 104.5f},         // monoclinicC
    {4.9134f, 4.9134f, 5.4052f, 90.0f, 90.0f, 120.0f},   // hexagonal
    {5.0f, 5.0f, 5.0f, 70.0f, 70.0f, 70.0f},             // rhombohedral
};
constexpr int kHkl[8][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}, {1, -2, 3}, {2, 1, -1}, {0, 1, 1}, {3, 0, -2}};

// Per cell: a*, b*, c* (1/A), alpha*, beta*, gamma* (degrees), volume (A^3),
// then d (A) for each of kHkl. Values from python3-gemmi 0.5.7:
// UnitCell(*params rounded to float32).reciprocal(), .volume,
// .calculate_d(hkl).
// clang-format off
// oracle:begin cells
constexpr double kGemmi[6][15] = {
    {0.203437005, 0.171491056, 0.145312146, 99.2982634, 86.6305379, 80.7017366, 203.315644, 4.91552656, 5.8312079, 6.88173718, 3.18452803, 1.61110699, 2.04242544, 4.85230863, 1.5142961}, // triclinic
    {0.149069098, 0.122160975, 0.094956052, 73.6982066, 79.801436, 66.3710388, 659.44727, 6.70829845, 8.18592023, 10.5311876, 3.71944722, 3.0173934, 2.82295691, 5.73048705, 2.20334069}, // triclinic2
    {0.130139444, 0.0769467511, 0.154911537, 90, 63.8399963, 90, 718.208333, 7.68406542, 12.9960003, 6.45529713, 3.93350344, 1.79626516, 4.0125131, 5.78137198, 2.65598178}, // monoclinicB
    {0.190221058, 0.130581584, 0.110864739, 90, 90, 75.5, 375.080462, 5.25704152, 7.65804769, 9.02000046, 3.58137446, 2.29336058, 2.24192781, 5.83782595, 1.63338431}, // monoclinicC
    {0.235010481, 0.235010481, 0.18500703, 90, 90, 60, 113.007346, 4.25512937, 4.25512937, 5.4052, 2.23652998, 1.45288353, 1.54149812, 3.34342476, 1.25592096}, // hexagonal
    {0.220103514, 0.220103514, 0.220103514, 104.764976, 104.764976, 104.764976, 106.733033, 4.54331684, 4.54331684, 4.54331684, 3.7461539, 1.11684548, 1.78070601, 3.72166728, 1.13376705}, // rhombohedral
};
// oracle:end cells
// clang-format on

// The distance esd case of the oracle: the triclinic cell with esds a, b, c
// 0.001, 0.002, 0.0015 A and angles 0.02, 0.03, 0.01 degrees; site esds
// (0.0002, 0.0003, 0.0001) and (0.0004, 0.0002, 0.0003); fractional
// difference (0.31, -0.22, 0.15). d and its esd by first-order propagation
// with numerical derivatives of d (numpy central differences).
// clang-format off
// oracle:begin esd
constexpr double kEsdCase[2] = {
    2.27879873, 0.00230374166, // d, esd
};
// oracle:end esd
// clang-format on

constexpr double kRelTol = 2e-6;   // float results against double oracles
constexpr double kAngleTol = 2e-4; // degrees, float results

CrystalRec MakeCell(const CellParams &p) {
  CrystalRec c;
  c.a = p.a;
  c.b = p.b;
  c.c = p.c;
  c.alpha = p.alpha;
  c.beta = p.beta;
  c.gamma = p.gamma;
  GetMetricTensor(p.a, p.b, p.c, p.alpha, p.beta, p.gamma, c.metricTensor);
  if (Det3x3Mat(c.metricTensor) > 0.0f) // an impossible cell has no orientation
    GetOrientationMatrix(c.viewDirection, c.metricTensor, c.orientationMatrix);
  return c;
}

void AddAtom(CrystalRec &c, float x, float y, float z, uint32_t site = 0) {
  AtomRecord atom;
  atom.xyz[0] = x;
  atom.xyz[1] = y;
  atom.xyz[2] = z;
  MatMul(c.orientationMatrix, atom.xyz, atom.cart);
  atom.site = site;
  c.atoms.push_back(atom);
  c.atomCount = static_cast<int32_t>(c.atoms.size());
}

void AddCartAtom(CrystalRec &c, float x, float y, float z) {
  AtomRecord atom;
  atom.cart[0] = x;
  atom.cart[1] = y;
  atom.cart[2] = z;
  c.atoms.push_back(atom);
  c.atomCount = static_cast<int32_t>(c.atoms.size());
}

AsymmetricUnitRecord &AddSite(CrystalRec &c, const char *element, int32_t perCell, float occupancy = 1.0f) {
  AsymmetricUnitRecord site;
  site.elements[0] = TwoCharsToShort(element);
  site.occupancies[0] = occupancy;
  site.atomsPerCell = perCell;
  c.sites.push_back(site);
  c.siteCount = static_cast<int32_t>(c.sites.size());
  return c.sites.back();
}

std::string Formula(const CrystalRec &c) {
  std::string text = "untouched";
  EXPECT_TRUE(GetCalcFormula(&c, &text));
  return text;
}

std::string Symbol(ElementCode code) {
  char s[3] = {};
  ShortToTwoChars(code, s);
  return s;
}

// G⁻¹ h in double: the direct-lattice components of the plane normal.
void PlaneNormalByInverseMetric(const CellParams &p, const float hkl[3], double out[3]) {
  float G[9];
  GetMetricTensor(p.a, p.b, p.c, p.alpha, p.beta, p.gamma, G);
  double g[9], inv[9];
  for (int i = 0; i < 9; ++i)
    g[i] = G[i];
  ASSERT_TRUE(DInv3x3Mat(g, inv));
  for (int r = 0; r < 3; ++r)
    out[r] = inv[3 * r] * hkl[0] + inv[3 * r + 1] * hkl[1] + inv[3 * r + 2] * hkl[2];
}

} // namespace

// ---- The atomic-weight table ------------------------------------------------

TEST(GeometryElementWeights, HoldsTheRowsOfThePartInItsOrder) {
  ASSERT_EQ(kNumElementWeights, 107);
  EXPECT_EQ(Symbol(gElementWeightData[0].element), "HO");
  EXPECT_FLOAT_EQ(gElementWeightData[0].weight, 18.016f);
  EXPECT_EQ(Symbol(gElementWeightData[1].element), "OH");
  EXPECT_FLOAT_EQ(gElementWeightData[1].weight, 17.008f);
  EXPECT_EQ(Symbol(gElementWeightData[2].element), "H ");
  EXPECT_FLOAT_EQ(gElementWeightData[2].weight, 1.0078f);
  EXPECT_EQ(Symbol(gElementWeightData[3].element), "D ");
  EXPECT_EQ(Symbol(gElementWeightData[105].element), "Lw");
  EXPECT_FLOAT_EQ(gElementWeightData[105].weight, 257.0f);
  EXPECT_EQ(gElementWeightData[106].element, kElementWeightEnd);
  EXPECT_EQ(gElementWeightData[106].weight, 0.0f);
  // The lanthanides follow Ac; Hf follows La.
  auto index = [](const char *s) {
    for (int i = 0; i < kNumElementWeights; ++i)
      if (gElementWeightData[i].element == TwoCharsToShort(s))
        return i;
    return -1;
  };
  EXPECT_EQ(index("Ce"), index("Ac") + 1);
  EXPECT_EQ(index("Lu") + 1, index("Th"));
  EXPECT_EQ(index("Hf"), index("La") + 1);
  // Every code is there once.
  for (int i = 0; i < kNumElementWeights; ++i)
    for (int j = i + 1; j < kNumElementWeights; ++j)
      EXPECT_NE(gElementWeightData[i].element, gElementWeightData[j].element) << i << " " << j;
  // Spot weights, and the sum of the column as typed into the table.
  float w = 0.0f;
  ASSERT_TRUE(LookupElementWeight(TwoCharsToShort("Fe"), &w));
  EXPECT_FLOAT_EQ(w, 55.85f);
  ASSERT_TRUE(LookupElementWeight(TwoCharsToShort("I"), &w));
  EXPECT_FLOAT_EQ(w, 126.9f);
  ASSERT_TRUE(LookupElementWeight(TwoCharsToShort("Te"), &w));
  EXPECT_FLOAT_EQ(w, 127.6f);
  double sum = 0.0;
  for (const ElementWeight &row : gElementWeightData)
    sum += row.weight;
  EXPECT_NEAR(sum, 13093.6119, 1e-3); // the 107 weights added up
}

TEST(GeometryElementWeights, LookupStopsAtTheEndRow) {
  float w = -1.0f;
  EXPECT_FALSE(LookupElementWeight(kElementWeightEnd, &w));
  EXPECT_FALSE(LookupElementWeight(TwoCharsToShort("Rf"), &w));
  EXPECT_FALSE(LookupElementWeight(TwoCharsToShort("Lr"), &w)); // lawrencium is "Lw"
  EXPECT_EQ(w, -1.0f);
}

TEST(GeometryElementWithMass, NearestWithinHalfAUnitFirstOnTies) {
  EXPECT_EQ(Symbol(GetElementWithMass(12.0f)), "C ");
  EXPECT_EQ(GetElementWithMass(0.2f), kBlankElement); // the "##" row of weight 0 is no element
  EXPECT_EQ(GetElementWithMass(300.0f), kBlankElement);
  EXPECT_EQ(Symbol(GetElementWithMass(1.5f)), "H "); // D is 0.514 away
  EXPECT_EQ(Symbol(GetElementWithMass(2.0f)), "D ");
  EXPECT_EQ(Symbol(GetElementWithMass(210.0f)), "Po"); // Po and At both weigh 210.0
  EXPECT_EQ(Symbol(GetElementWithMass(254.0f)), "Es"); // Es before No
  EXPECT_EQ(Symbol(GetElementWithMass(16.0f)), "O ");
  EXPECT_EQ(Symbol(GetElementWithMass(17.0f)), "OH"); // hydroxyl 17.008 is nearest
  EXPECT_EQ(Symbol(GetElementWithMass(18.0f)), "HO"); // water 18.016
  EXPECT_EQ(Symbol(GetElementWithMass(55.5f)), "Fe"); // Mn 54.94 is 0.56 away
}

// ---- Distances ----------------------------------------------------------------

TEST(GeometryDistances, FromFractionalCoordinatesAgreeWithCartesian) {
  CrystalRec c = MakeCell(kCells[0]);
  AddAtom(c, 0.0f, 0.0f, 0.0f);
  AddAtom(c, 0.31f, -0.22f, 0.15f);
  AddAtom(c, 0.9f, 1.4f, -0.3f);
  EXPECT_NEAR(DBondDist(&c, 1, 0), kEsdCase[0], 1e-6);
  EXPECT_NEAR(DBondDist(&c, 0, 1), kEsdCase[0], 1e-6);
  EXPECT_FLOAT_EQ(FBondDist(&c, 1, 0), static_cast<float>(DBondDist(&c, 1, 0)));
  // The same distance from the Cartesian positions (orientation matrix).
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      EXPECT_NEAR(DBondDist(&c, i, j), VecBondDist(c.atoms[i].cart, c.atoms[j].cart), 2e-5) << i << j;
  EXPECT_EQ(DBondDist(&c, 2, 2), 0.0);
  EXPECT_EQ(DBondDist(&c, 0, 3), 0.0); // out of range
  EXPECT_EQ(DBondDist(&c, -1, 0), 0.0);
  CrystalRec empty;
  EXPECT_EQ(DBondDist(&empty, 0, 1), 0.0);
  EXPECT_EQ(DBondDist(nullptr, 0, 1), 0.0);
}

TEST(GeometryDistances, PointsLinesAndPlanes) {
  EXPECT_DOUBLE_EQ(DCoordsDist(1, 2, 3, 4, 6, 15), 13.0);
  const float p[3] = {1, 2, 3}, q[3] = {4, 6, 15};
  EXPECT_FLOAT_EQ(VecBondDist(p, q), 13.0f);
  const float a[3] = {0, 0, 0}, b[3] = {2, 0, 0}, x[3] = {5, 3, 4};
  EXPECT_FLOAT_EQ(DistanceToLine(a, b, x), 5.0f);
  EXPECT_FLOAT_EQ(DistanceToLine(b, a, x), 5.0f);
  // A line of no length: the distance from its point, not a division by 0.
  EXPECT_FLOAT_EQ(DistanceToLine(a, a, x), std::sqrt(50.0f));
  const float origin[3] = {1, 1, 1}, n[3] = {0, 0, 1}, r[3] = {4, 5, -2};
  EXPECT_FLOAT_EQ(DistanceToPlane(origin, r, n), 3.0f);
}

// ---- Angles --------------------------------------------------------------------

TEST(GeometryAngles, BanglRightAngleAndSides) {
  float angle, d12, d23, d31;
  Bangl(1, 0, 0, 0, 0, 0, 0, 1, 0, &angle, &d12, &d23, &d31);
  EXPECT_FLOAT_EQ(angle, 90.0f);
  EXPECT_FLOAT_EQ(d12, 1.0f);
  EXPECT_FLOAT_EQ(d23, 1.0f);
  EXPECT_FLOAT_EQ(d31, std::sqrt(2.0f));
  Bangl(1, 0, 0, 0, 0, 0, -0.5f, std::sqrt(3.0f) / 2, 0, &angle, nullptr, nullptr, nullptr);
  EXPECT_NEAR(angle, 120.0f, 1e-4f);
}

TEST(GeometryAngles, ColinearPointsGiveExactly180) {
  float angle = 0;
  Bangl(0, 0, 0, 1.1f, 2.2f, 3.3f, 2.2f, 4.4f, 6.6f, &angle, nullptr, nullptr, nullptr);
  EXPECT_EQ(angle, 180.0f);
  // Nearly colinear, within the 1e-5 rule.
  Bangl(-1, 0, 0, 0, 0, 0, 1, 1e-4f, 0, &angle, nullptr, nullptr, nullptr);
  EXPECT_EQ(angle, 180.0f);
  // Just outside the rule the angle is computed (and is finite).
  Bangl(-1, 0, 0, 0, 0, 0, 1, 0.02f, 0, &angle, nullptr, nullptr, nullptr);
  EXPECT_LT(angle, 180.0f);
  EXPECT_GT(angle, 178.0f);
  // Two or three coincident points count as colinear: no 0/0.
  Bangl(1, 1, 1, 1, 1, 1, 2, 2, 2, &angle, nullptr, nullptr, nullptr);
  EXPECT_EQ(angle, 180.0f);
  Bangl(1, 1, 1, 1, 1, 1, 1, 1, 1, &angle, nullptr, nullptr, nullptr);
  EXPECT_EQ(angle, 180.0f);
}

TEST(GeometryAngles, ACosineRoundingPastOneGivesZeroNotNaN) {
  // Three points on one line on the same side of the middle one, chosen (by a
  // search in double arithmetic on float inputs) so that d1² + d2² - d3²
  // exceeds 2 d1 d2 by 3.6e-15.
  const float y = 0.0014858953654766083f;
  float angle = -1, d12, d23, d31;
  Bangl(2.9223098754882812f, y, y, y, y, y, 3.745462656021118f, y, y, &angle, &d12, &d23, &d31);
  EXPECT_EQ(angle, 0.0f);
  // Same-side colinear points at many scales: always 0 or a tiny angle.
  for (int k = 1; k < 200; ++k) {
    const float s = 0.037f * k;
    Bangl(s, 0.5f, -0.25f, 0, 0.5f, -0.25f, 2.7f * s, 0.5f, -0.25f, &angle, nullptr, nullptr, nullptr);
    ASSERT_FALSE(std::isnan(angle)) << k;
    EXPECT_LT(angle, 1e-3f) << k;
  }
}

TEST(GeometryAngles, BondAngleInACrystal) {
  CrystalRec c = MakeCell({10, 10, 10, 90, 90, 90});
  AddAtom(c, 0.1f, 0.0f, 0.0f);
  AddAtom(c, 0.0f, 0.0f, 0.0f);
  AddAtom(c, 0.0f, 0.1f, 0.0f);
  double angle, dij, djk, dki;
  DCalcBondAngle(&c, 0, 1, 2, &angle, &dij, &djk, &dki);
  EXPECT_NEAR(angle, 90.0, 1e-9);
  EXPECT_NEAR(dij, 1.0, 1e-6);
  EXPECT_NEAR(djk, 1.0, 1e-6);
  EXPECT_NEAR(dki, std::sqrt(2.0), 1e-6);
  // In the triclinic cell the angle between a and b at the origin is gamma.
  CrystalRec t = MakeCell(kCells[0]);
  AddAtom(t, 0.2f, 0.0f, 0.0f);
  AddAtom(t, 0.0f, 0.0f, 0.0f);
  AddAtom(t, 0.0f, 0.3f, 0.0f);
  AddAtom(t, 0.0f, 0.0f, 0.4f);
  DCalcBondAngle(&t, 0, 1, 2, &angle, nullptr, nullptr, nullptr);
  EXPECT_NEAR(angle, 100.0, 1e-4);
  DCalcBondAngle(&t, 2, 1, 3, &angle, nullptr, nullptr, nullptr);
  EXPECT_NEAR(angle, 80.0, 1e-4);
  DCalcBondAngle(&t, 0, 1, 3, &angle, nullptr, nullptr, nullptr);
  EXPECT_NEAR(angle, 95.0, 1e-4);
  // An atom out of range: everything 0.
  DCalcBondAngle(&t, 0, 1, 9, &angle, &dij, &djk, &dki);
  EXPECT_EQ(angle, 0.0);
  EXPECT_EQ(dij, 0.0);
  EXPECT_EQ(dki, 0.0);
}

TEST(GeometryAngles, IncludedAngleThroughTheOrientationMatrix) {
  CrystalRec c = MakeCell(kCells[0]);
  const float a[3] = {1, 0, 0}, b[3] = {0, 2, 0}, cc[3] = {0, 0, 3}, zero[3] = {0, 0, 0};
  EXPECT_NEAR(IncludedAngle(&c, a, b), 100.0f, kAngleTol);
  EXPECT_NEAR(IncludedAngle(&c, b, cc), 80.0f, kAngleTol);
  EXPECT_NEAR(IncludedAngle(&c, a, cc), 95.0f, kAngleTol);
  EXPECT_EQ(IncludedAngle(&c, a, zero), -999.9f);
  EXPECT_EQ(IncludedAngle(&c, zero, a), kIncludedAngleFailed);
  EXPECT_EQ(IncludedAngle(&c, a, a), 0.0f);
  const float u[3] = {0.3f, -0.7f, 0.11f}, twice[3] = {0.6f, -1.4f, 0.22f}, minus[3] = {-0.3f, 0.7f, -0.11f};
  EXPECT_NEAR(IncludedAngle(&c, u, twice), 0.0f, 0.05f);
  // Antiparallel directions: 180, never NaN (the cosine is clamped at -1).
  const float v = IncludedAngle(&c, u, minus);
  ASSERT_FALSE(std::isnan(v));
  EXPECT_NEAR(v, 180.0f, 0.05f);
  const float na[3] = {-1, 0, 0};
  EXPECT_NEAR(IncludedAngle(&c, a, na), 180.0f, 0.05f);
  // A record whose orientation matrix was never set: every direction has no
  // length.
  CrystalRec blank;
  EXPECT_EQ(IncludedAngle(&blank, a, b), kIncludedAngleFailed);
}

TEST(GeometryAngles, VectorBearings) {
  const float o[2] = {0, 0};
  auto bearing = [&](float x, float y) {
    const float p[2] = {x, y};
    return GetVectorBearing(o, p);
  };
  EXPECT_FLOAT_EQ(bearing(0, 0), static_cast<float>(1.5 * kPi));
  EXPECT_FLOAT_EQ(bearing(1, 0), 0.0f);
  EXPECT_FLOAT_EQ(bearing(-1, 0), static_cast<float>(kPi));
  EXPECT_FLOAT_EQ(bearing(0, 1), static_cast<float>(0.5 * kPi));
  EXPECT_FLOAT_EQ(bearing(0, -1), static_cast<float>(1.5 * kPi));
  EXPECT_FLOAT_EQ(bearing(1, 1), static_cast<float>(0.25 * kPi));
  EXPECT_FLOAT_EQ(bearing(-1, 1), static_cast<float>(0.75 * kPi));
  EXPECT_FLOAT_EQ(bearing(-1, -1), static_cast<float>(1.25 * kPi));
  EXPECT_FLOAT_EQ(bearing(1, -1), static_cast<float>(1.75 * kPi));
  EXPECT_FLOAT_EQ(bearing(-2, -1e-30f), static_cast<float>(kPi)); // pi + t, t tiny
  // A tiny step below +x stays inside [0, 2 pi).
  const float tiny = bearing(1, -1e-30f);
  EXPECT_GE(tiny, 0.0f);
  EXPECT_LT(tiny, static_cast<float>(2 * kPi));
  // Only the difference matters, and 3-vectors can be passed.
  const float p1[3] = {3, 4, 100}, p2[3] = {2, 5, -7};
  EXPECT_FLOAT_EQ(GetVectorBearing(p1, p2), static_cast<float>(0.75 * kPi));
}

// ---- Plane normals and colinearity ------------------------------------------------

TEST(GeometryPlaneNormals, OrientationAndUpwardRule) {
  const float x[3] = {1, 0, 0}, o[3] = {0, 0, 0}, y[3] = {0, 1, 0}, z[3] = {0, 0, 1};
  float n[3];
  CalcPlaneNormal(x, o, y, n);
  EXPECT_EQ(n[0], 0.0f);
  EXPECT_EQ(n[1], 0.0f);
  EXPECT_EQ(n[2], 1.0f);
  CalcPlaneNormal(y, o, x, n);
  EXPECT_EQ(n[2], -1.0f);
  CalcPlaneNormalUp(y, o, x, n);
  EXPECT_EQ(n[2], 1.0f);
  // z exactly 0 is not negated: x × z = -y.
  CalcPlaneNormalUp(x, o, z, n);
  EXPECT_EQ(n[1], -1.0f);
  // Degenerate: left zero.
  const float x2[3] = {2, 0, 0};
  CalcPlaneNormal(x, o, x2, n);
  EXPECT_TRUE(VecIsZeroStrict(n));
  CalcPlaneNormalUp(x, o, x2, n);
  EXPECT_TRUE(VecIsZeroStrict(n));
  // Unit length for an arbitrary triangle.
  const float a[3] = {0.3f, 1.7f, -2.0f}, b[3] = {4.0f, -0.5f, 1.0f}, c[3] = {-1.0f, 2.0f, 3.0f};
  CalcPlaneNormal(a, b, c, n);
  EXPECT_NEAR(Magnitude(n), 1.0f, 1e-6f);
}

TEST(GeometryPlaneNormals, GuardedNormalRefusesNearlyColinearLegs) {
  const float x[3] = {1, 0, 0}, o[3] = {0, 0, 0}, y[3] = {0, 1, 0};
  float n[3] = {9, 9, 9};
  RCalcPlaneNormalUp(y, o, x, n);
  EXPECT_EQ(n[2], -1.0f); // direction not adjusted
  RCalcPlaneNormalUp(x, o, o, n);
  EXPECT_TRUE(VecIsZeroStrict(n));       // a leg of no length
  const float nearly[3] = {1, 0.01f, 0}; // |cos| = 0.99995
  RCalcPlaneNormalUp(x, o, nearly, n);
  EXPECT_TRUE(VecIsZeroStrict(n));
  const float enough[3] = {1, 0.02f, 0}; // |cos| = 0.9998
  RCalcPlaneNormalUp(x, o, enough, n);
  EXPECT_EQ(n[2], 1.0f);
}

TEST(GeometryColinearity, ParallelAntiparallelAndZeroVectors) {
  FakeHost host;
  const float u[3] = {1, 2, 3}, twice[3] = {2, 4, 6}, minus[3] = {-1, -2, -3}, x[3] = {1, 0, 0}, y[3] = {0, 1, 0};
  EXPECT_TRUE(ParallelVec(u, twice));
  EXPECT_TRUE(ParallelVec(u, minus));
  EXPECT_FALSE(ParallelVec(x, y));
  const float slightly[3] = {1, 0.005f, 0}, more[3] = {1, 0.02f, 0};
  EXPECT_TRUE(ParallelVec(x, slightly));
  EXPECT_FALSE(ParallelVec(x, more));
  EXPECT_TRUE(host.log.empty());
  const float zero[3] = {0, 0, 0};
  EXPECT_TRUE(ParallelVec(x, zero));
  ASSERT_EQ(host.LogLines().size(), 1u);
  EXPECT_EQ(host.LogLines()[0], "Zero-length vector detected!");
  ASSERT_EQ(host.colouredRuns.size(), 1u);
  EXPECT_EQ(host.colouredRuns[0].colour, kRGBRed);
  EXPECT_EQ(host.colouredRuns[0].length, std::strlen("Zero-length vector detected!"));

  const float p0[3] = {0, 0, 0}, p1[3] = {1, 1, 1}, p2[3] = {3, 3, 3}, p3[3] = {3, 3, 2};
  EXPECT_TRUE(PointsAreColinear(p0, p1, p2));
  EXPECT_TRUE(PointsAreColinear(p1, p2, p0)); // turning back is antiparallel
  EXPECT_FALSE(PointsAreColinear(p0, p1, p3));
}

TEST(GeometryPlaneNormals, Plane2VectorIsAlongTheReciprocalNormal) {
  FakeHost host;
  const float planes[][3] = {{0, 0, 1}, {1, 1, 1}, {1, -2, 3}, {2, 0, 1},
                             {1, 1, 0}, {0, 1, 1}, {0, 0, -1}, {-1, 0.5f, 0}};
  for (const CellParams &p : kCells) {
    CrystalRec c = MakeCell(p);
    for (const auto &hkl : planes) {
      float uvw[3];
      Plane2Vector(&c, hkl, uvw);
      double expect[3] = {0.0, 0.0, 0.0};
      PlaneNormalByInverseMetric(p, hkl, expect);
      const double le = std::sqrt(expect[0] * expect[0] + expect[1] * expect[1] + expect[2] * expect[2]);
      const double lu = Magnitude(uvw);
      ASSERT_GT(lu, 0.0);
      for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(uvw[i] / lu, expect[i] / le, 1e-5) << hkl[0] << hkl[1] << hkl[2] << " component " << i;
      EXPECT_GT(double(uvw[0]) * hkl[0] + double(uvw[1]) * hkl[1] + double(uvw[2]) * hkl[2], 0.0);
    }
  }
  // (0 0 1) takes the first branch: (1 0 0) and (0 -1 0), whose lattice cross
  // product a × b has no a or b component in the cubic cell (to the rounding
  // of cos 90 degrees), and length 1/c in direct components.
  CrystalRec cubic = MakeCell({4, 4, 4, 90, 90, 90});
  const float c001[3] = {0, 0, 1};
  float uvw[3];
  Plane2Vector(&cubic, c001, uvw);
  EXPECT_NEAR(uvw[0], 0.0f, 1e-9f);
  EXPECT_NEAR(uvw[1], 0.0f, 1e-9f);
  EXPECT_FLOAT_EQ(uvw[2], 4.0f); // a × b is 16 A² along c: 4 c in direct components

  const float none[3] = {0, 0, 0};
  Plane2Vector(&cubic, none, uvw);
  EXPECT_TRUE(VecIsZeroStrict(uvw));
  CrystalRec bad = MakeCell({4, 4, 4, 10, 10, 150});
  Plane2Vector(&bad, c001, uvw);
  EXPECT_TRUE(VecIsZeroStrict(uvw));
  EXPECT_TRUE(host.log.empty());
}

// ---- Areas and volumes ----------------------------------------------------------

TEST(GeometryVolumes, TriangleAreaByHeron) {
  const float a[3] = {0, 0, 0}, b[3] = {3, 0, 0}, c[3] = {0, 4, 0};
  EXPECT_FLOAT_EQ(GetTriangleArea(a, b, c), 6.0f);
  const float d[3] = {6, 0, 0};
  EXPECT_EQ(GetTriangleArea(a, b, d), 0.0f);
  // Nearly degenerate: never NaN.
  const float e[3] = {1.0f, 1e-7f, 0}, f[3] = {2.0f, 0, 0};
  const float area = GetTriangleArea(a, e, f);
  EXPECT_FALSE(std::isnan(area));
  EXPECT_GE(area, 0.0f);
}

TEST(GeometryVolumes, ThinTriangleKeepsItsSidesInDouble) {
  // Base 3, height 0.001: sides rounded to float would give 0.001554.
  const float a[3] = {0, 0, 0}, b[3] = {3, 0, 0}, c[3] = {1.5f, 0.001f, 0};
  EXPECT_NEAR(GetTriangleArea(a, b, c), 0.0015f, 1e-8f);
}

namespace {

Polyhedron MakePoly(const std::vector<std::vector<uint32_t>> &faces) {
  Polyhedron p;
  p.faceCount = static_cast<uint32_t>(faces.size());
  for (const auto &f : faces) {
    PolyFace face;
    face.vertexCount = static_cast<uint32_t>(f.size());
    face.vertices.assign(f.begin(), f.end());
    p.faces.push_back(face);
  }
  return p;
}

} // namespace

TEST(GeometryVolumes, PolyhedronVolume) {
  CrystalRec c;
  // Octahedron of radius 1.5 about (1, 2, 3): volume 4/3 r³ = 4.5.
  const float r = 1.5f;
  AddCartAtom(c, 1 + r, 2, 3); // 0 +x
  AddCartAtom(c, 1 - r, 2, 3); // 1 -x
  AddCartAtom(c, 1, 2 + r, 3); // 2 +y
  AddCartAtom(c, 1, 2 - r, 3); // 3 -y
  AddCartAtom(c, 1, 2, 3 + r); // 4 +z
  AddCartAtom(c, 1, 2, 3 - r); // 5 -z
  Polyhedron octa = MakePoly({{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}});
  EXPECT_NEAR(GetPolyVolume(&c, &octa), 4.5f, 1e-5f);
  // Tetrahedron (0, +x, +y, +z corners of a cube of edge 2): 8/6.
  CrystalRec t;
  AddCartAtom(t, 0, 0, 0);
  AddCartAtom(t, 2, 0, 0);
  AddCartAtom(t, 0, 2, 0);
  AddCartAtom(t, 0, 0, 2);
  // The centre is the mean of the vertex entries, not of the atoms; for a
  // tetrahedron every vertex sits in three faces, so they agree.
  Polyhedron tetra = MakePoly({{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}});
  EXPECT_NEAR(GetPolyVolume(&t, &tetra), 8.0f / 6.0f, 1e-5f);
  // Cube of edge 2 with quadrilateral faces (fan triangles): 8.
  CrystalRec q;
  for (int i = 0; i < 8; ++i)
    AddCartAtom(q, (i & 1) ? 2.0f : 0.0f, (i & 2) ? 2.0f : 0.0f, (i & 4) ? 2.0f : 0.0f);
  Polyhedron cube = MakePoly({{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}});
  EXPECT_NEAR(GetPolyVolume(&q, &cube), 8.0f, 1e-5f);

  // A face of two vertices makes the whole volume 0, not a partial sum.
  Polyhedron bad = MakePoly({{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3}});
  EXPECT_EQ(GetPolyVolume(&q, &bad), 0.0f);
  Polyhedron three = MakePoly({{0, 1, 2}, {0, 1, 3}, {0, 2, 3}});
  EXPECT_EQ(GetPolyVolume(&t, &three), 0.0f);
  Polyhedron outside = MakePoly({{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 9}});
  EXPECT_EQ(GetPolyVolume(&t, &outside), 0.0f);
  EXPECT_EQ(GetPolyVolume(&t, nullptr), 0.0f);
  CrystalRec none;
  EXPECT_EQ(GetPolyVolume(&none, &tetra), 0.0f);
}

TEST(GeometryCells, ReciprocalCellVolumeAndDSpacingsAgreeWithGemmi) {
  for (int k = 0; k < 6; ++k) {
    CrystalRec c = MakeCell(kCells[k]);
    float r[6];
    ASSERT_TRUE(RecipCell(&c, &r[0], &r[1], &r[2], &r[3], &r[4], &r[5])) << k;
    for (int i = 0; i < 3; ++i)
      EXPECT_NEAR(r[i], kGemmi[k][i], kRelTol * kGemmi[k][i]) << "cell " << k << " length " << i;
    for (int i = 3; i < 6; ++i)
      EXPECT_NEAR(r[i], kGemmi[k][i], kAngleTol) << "cell " << k << " angle " << i;
    EXPECT_NEAR(GetCellVolume(&c), kGemmi[k][6], kRelTol * kGemmi[k][6]) << k;
    for (int h = 0; h < 8; ++h) {
      const double want = kGemmi[k][7 + h];
      EXPECT_NEAR(DSpace(&c, kHkl[h][0], kHkl[h][1], kHkl[h][2]), want, kRelTol * want) << "cell " << k << " hkl " << h;
      EXPECT_NEAR(DSpace(&c, -kHkl[h][0], -kHkl[h][1], -kHkl[h][2]), want, kRelTol * want);
    }
    // V = a b c sin alpha* sin beta sin gamma, the second form.
    const double v2 = double(c.a) * c.b * c.c * std::sin(r[3] * kDegToRad) * std::sin(c.beta * kDegToRad) *
                      std::sin(c.gamma * kDegToRad);
    EXPECT_NEAR(GetCellVolume(&c), v2, 1e-5 * v2);
  }
  CrystalRec cubic = MakeCell({5.64f, 5.64f, 5.64f, 90, 90, 90});
  EXPECT_FLOAT_EQ(DSpace(&cubic, 1, 0, 0), 5.64f);
  EXPECT_NEAR(DSpace(&cubic, 2, 0, 0), 2.82f, 1e-6f);
  EXPECT_NEAR(DSpace(&cubic, 0.5f, 0, 0), 11.28f, 1e-5f); // fractional indices are allowed
}

TEST(GeometryCells, ImpossibleCellsAreRefusedNotNaN) {
  const CellParams bad[] = {
      {5, 5, 5, 10, 10, 150},   // gamma > alpha + beta: no such cell
      {5, 5, 5, 120, 120, 120}, // sum 360: flat
      {0, 5, 5, 90, 90, 90},    // no length
      {5, -5, 5, 90, 90, 90},   {5, 5, 5, 0, 90, 90}, {5, 5, 5, 90, 180, 90},
  };
  for (const CellParams &p : bad) {
    CrystalRec c = MakeCell(p);
    float r[6] = {1, 1, 1, 1, 1, 1};
    EXPECT_FALSE(RecipCell(&c, &r[0], &r[1], &r[2], &r[3], &r[4], &r[5]));
    for (float v : r)
      EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(GetCellVolume(&c), 0.0f);
    EXPECT_EQ(DSpace(&c, 1, 1, 1), 0.0f);
  }
  CrystalRec c = MakeCell(kCells[0]);
  EXPECT_EQ(DSpace(&c, 0, 0, 0), 0.0f);
  EXPECT_FALSE(RecipCell(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_TRUE(RecipCell(&c, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
}

// ---- Composition ---------------------------------------------------------------------

TEST(GeometryFormula, SodiumChlorideAndOneLetterSymbols) {
  CrystalRec nacl;
  AddSite(nacl, "Na", 4);
  AddSite(nacl, "Cl", 4);
  EXPECT_EQ(Formula(nacl), "Cl 1.00 Na 1.00");
  CrystalRec quartz;
  AddSite(quartz, "Si", 3);
  AddSite(quartz, "O", 6);
  EXPECT_EQ(Formula(quartz), "O 2.00 Si 1.00");
  // The divisor is the smallest atoms per cell, here the second site's.
  CrystalRec spinel;
  AddSite(spinel, "Mg", 8);
  AddSite(spinel, "Al", 16);
  AddSite(spinel, "O", 32);
  EXPECT_EQ(Formula(spinel), "Al 2.00 Mg 1.00 O 4.00");
}

TEST(GeometryFormula, OccupanciesHiddenSitesAndZeroOccupancy) {
  CrystalRec c;
  AsymmetricUnitRecord &m = AddSite(c, "Fe", 4, 0.25f);
  m.elements[1] = TwoCharsToShort("Mg");
  m.occupancies[1] = 0.75f;
  m.elements[2] = TwoCharsToShort("Rf"); // occupancy 0: contributes nothing
  m.occupancies[2] = 0.0f;
  AsymmetricUnitRecord &o = AddSite(c, "O", 4);
  o.visible = 0; // hidden sites count
  AddSite(c, "Si", 2, 1.0f);
  EXPECT_EQ(Formula(c), "Fe 0.50 Mg 1.50 O 2.00 Si 1.00");
}

TEST(GeometryFormula, SitesWithoutAtomsDoNotDivideByZero) {
  CrystalRec c;
  AddSite(c, "K", 0); // first site, no atoms: the literal divisor would be 0
  AddSite(c, "Na", 4);
  AddSite(c, "Cl", 4);
  EXPECT_EQ(Formula(c), "Cl 1.00 K 0.00 Na 1.00");
  CrystalRec none;
  AddSite(none, "K", 0);
  EXPECT_EQ(Formula(none), "K 0.00");
}

TEST(GeometryFormula, ThirtyOneElementsThenAnEllipsis) {
  // 34 sites: 32 distinct elements in an order that is not code order, then a
  // repeat of the first element and a site with a smaller atoms-per-cell
  // value. Collecting stops at the 32nd element, so neither of the last two
  // sites is visited.
  std::vector<ElementCode> elements;
  for (int i = 0; i < kNumElementWeights - 1 && elements.size() < 32; ++i) {
    const int row = (i * 37) % (kNumElementWeights - 1); // a scrambled walk
    const ElementCode e = gElementWeightData[row].element;
    if (std::find(elements.begin(), elements.end(), e) == elements.end())
      elements.push_back(e);
  }
  ASSERT_EQ(elements.size(), 32u);
  CrystalRec c;
  for (ElementCode e : elements) {
    AsymmetricUnitRecord site;
    site.elements[0] = e;
    site.occupancies[0] = 1.0f;
    site.atomsPerCell = 2;
    c.sites.push_back(site);
  }
  AsymmetricUnitRecord repeat;
  repeat.elements[0] = elements[0];
  repeat.occupancies[0] = 1.0f;
  repeat.atomsPerCell = 2;
  c.sites.push_back(repeat);
  repeat.atomsPerCell = 1;
  c.sites.push_back(repeat);
  c.siteCount = static_cast<int32_t>(c.sites.size());

  std::vector<ElementCode> first(elements.begin(), elements.begin() + 31);
  std::sort(first.begin(), first.end());
  std::string expect;
  for (ElementCode e : first) {
    if (!expect.empty())
      expect += ' ';
    const char c1 = static_cast<char>(e & 0xFF);
    expect += static_cast<char>(e >> 8);
    if (c1 != ' ')
      expect += c1;
    expect += " 1.00";
  }
  expect += "...";
  EXPECT_EQ(Formula(c), expect);
}

TEST(GeometryFormula, NoSitesIsFalseAndEmpty) {
  CrystalRec c;
  std::string text = "old";
  EXPECT_FALSE(GetCalcFormula(&c, &text));
  EXPECT_TRUE(text.empty());
  EXPECT_FALSE(GetCalcFormula(nullptr, &text));
}

TEST(GeometryDensity, SodiumChloride) {
  CrystalRec c = MakeCell({5.64f, 5.64f, 5.64f, 90, 90, 90});
  AddSite(c, "Na", 4);
  AddSite(c, "Cl", 4);
  float density = 0;
  ASSERT_TRUE(GetDensity(&c, &density));
  // 4 (22.99 + 35.45) x 1660.56 / 5.64³ = 2163.652; the measured density of
  // halite is 2165 kg/m³ (CRC Handbook).
  EXPECT_NEAR(density, 2163.652, 0.01);
  EXPECT_NEAR(density, 2165.0, 5.0);
}

TEST(GeometryDensity, FailuresAndZeroOccupancy) {
  CrystalRec c = MakeCell({5.64f, 5.64f, 5.64f, 90, 90, 90});
  AsymmetricUnitRecord &na = AddSite(c, "Na", 4);
  na.elements[1] = TwoCharsToShort("Rf"); // not in the table, but occupancy 0
  na.occupancies[1] = 0.0f;
  AddSite(c, "Cl", 4);
  float density = -1;
  ASSERT_TRUE(GetDensity(&c, &density));
  EXPECT_NEAR(density, 2163.652, 0.01);

  c.sites[0].occupancies[1] = 0.1f; // now it counts and is missing
  EXPECT_FALSE(GetDensity(&c, &density));
  EXPECT_EQ(density, 0.0f);
  c.sites[0].occupancies[1] = 0.0f;

  c.molecule = 1;
  EXPECT_FALSE(GetDensity(&c, &density));
  c.molecule = 0;

  CrystalRec empty = MakeCell({5, 5, 5, 90, 90, 90});
  EXPECT_FALSE(GetDensity(&empty, &density));

  CrystalRec flat = MakeCell({5, 5, 5, 120, 120, 120});
  AddSite(flat, "Na", 4);
  EXPECT_FALSE(GetDensity(&flat, &density)); // no volume: refused, not infinite
  EXPECT_EQ(density, 0.0f);

  // Water and hydroxyl codes weigh as themselves.
  CrystalRec ice = MakeCell({4.5f, 4.5f, 7.3f, 90, 90, 120});
  AddSite(ice, "HO", 4);
  ASSERT_TRUE(GetDensity(&ice, &density));
  const double v = 4.5 * 4.5 * 7.3 * std::sin(120 * kDegToRad);
  EXPECT_NEAR(density, 4 * 18.016 * 1660.56 / v, 0.05);
}

// ---- Esds -----------------------------------------------------------------------------------

namespace {

CrystalRec EsdCrystal() {
  CrystalRec c = MakeCell(kCells[0]);
  const float cellEsds[6] = {0.001f, 0.002f, 0.0015f, 0.02f, 0.03f, 0.01f};
  std::memcpy(c.cellEsds, cellEsds, sizeof cellEsds);
  AsymmetricUnitRecord &s1 = AddSite(c, "Si", 1);
  s1.esd[0] = 0.0002f, s1.esd[1] = 0.0003f, s1.esd[2] = 0.0001f;
  AsymmetricUnitRecord &s2 = AddSite(c, "O", 1);
  s2.esd[0] = 0.0004f, s2.esd[1] = 0.0002f, s2.esd[2] = 0.0003f;
  AddAtom(c, 0.41f, 0.12f, 0.35f, 0);
  AddAtom(c, 0.10f, 0.34f, 0.20f, 1);
  return c;
}

} // namespace

TEST(GeometryEsds, ZeroUnlessTheEsdFlagIsSet) {
  CrystalRec c = EsdCrystal();
  double d = 0;
  float esd = -1;
  BondDistError(&c, 0, 1, &d, &esd);
  EXPECT_NEAR(d, kEsdCase[0], 1e-5);
  EXPECT_EQ(esd, 0.0f);
  EXPECT_EQ(GetBondDistErr(&c, 0, 1, 0.31, -0.22, 0.15, kEsdCase[0]), 0.0f);
}

TEST(GeometryEsds, PropagationAgreesWithNumericalDerivatives) {
  CrystalRec c = EsdCrystal();
  c.esdFlag = 1;
  double d = 0;
  float esd = 0;
  BondDistError(&c, 0, 1, &d, &esd);
  EXPECT_NEAR(d, kEsdCase[0], 1e-5);
  EXPECT_NEAR(esd, kEsdCase[1], 1e-4 * kEsdCase[1]);
  // The sign of the difference does not matter.
  BondDistError(&c, 1, 0, &d, &esd);
  EXPECT_NEAR(esd, kEsdCase[1], 1e-4 * kEsdCase[1]);
  EXPECT_NEAR(GetBondDistErr(&c, 0, 1, 0.31, -0.22, 0.15, kEsdCase[0]), kEsdCase[1], 1e-6 * kEsdCase[1] + 1e-9);
  // No distance, no esd; sites out of range or none.
  EXPECT_EQ(GetBondDistErr(&c, 0, 1, 0, 0, 0, 0.0), 0.0f);
  EXPECT_EQ(GetBondDistErr(&c, 0, 5, 0.31, -0.22, 0.15, kEsdCase[0]), 0.0f);
  // Only cell esds: a cubic cell of edge a with esd s gives d s / a.
  CrystalRec cubic = MakeCell({10, 10, 10, 90, 90, 90});
  cubic.esdFlag = 1;
  cubic.cellEsds[0] = cubic.cellEsds[1] = cubic.cellEsds[2] = 0.01f;
  AddSite(cubic, "Na", 4);
  EXPECT_NEAR(GetBondDistErr(&cubic, 0, 0, 0.3, 0, 0, 3.0), 0.003, 1e-9);
  cubic.sites.clear();
  cubic.siteCount = 0;
  EXPECT_EQ(GetBondDistErr(&cubic, 0, 0, 0.3, 0, 0, 3.0), 0.0f);
}
