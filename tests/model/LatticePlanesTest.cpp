#include "LatticePlanes.h"

#include "FakeHost.h"
#include "Geometry.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr float kTight = 1e-4f;

using Frac = std::array<float, 3>;

// A cubic cell of edge 10 A whose orientation matrix is 10 x the identity,
// so view coordinates are ten times the fractional ones. The plot centre is
// the middle of the cell.
void MakeCube(CrystalRec &c, float edge = 10.0f) {
  InitBlankCrystalRec(&c);
  c.a = c.b = c.c = edge;
  GetMetricTensor(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.metricTensor);
  const float O[9] = {edge, 0, 0, 0, edge, 0, 0, 0, edge};
  std::copy(O, O + 9, c.orientationMatrix);
  for (int i = 0; i < 3; ++i)
    c.plotCentre[i] = edge / 2.0f;
}

// Adds an atom (its own site) at a Cartesian position.
uint32_t AddAtom(CrystalRec &c, float x, float y, float z, bool selected = true) {
  const uint32_t i = static_cast<uint32_t>(c.atoms.size());
  AsymmetricUnitRecord site;
  std::snprintf(site.label, sizeof site.label, "C%u", i + 1);
  site.firstAtom = site.lastAtom = static_cast<int32_t>(i);
  site.atomsPerCell = 1;
  AtomRecord atom;
  atom.site = i;
  atom.cart[0] = x, atom.cart[1] = y, atom.cart[2] = z;
  float inverse[9];
  Inv3x3Mat(c.orientationMatrix, inverse);
  MatMul(inverse, atom.cart, atom.xyz);
  atom.selected = selected ? 1 : 0;
  c.sites.push_back(site);
  c.atoms.push_back(atom);
  c.siteCount = c.atomCount = static_cast<int32_t>(c.atoms.size());
  return i;
}

std::vector<Frac> Polygon(const CrystalRec &c) {
  std::vector<Frac> points;
  for (int i = 0; i < c.plane.vertexCount; ++i)
    points.push_back({c.plane.vertices[i].xyz[0], c.plane.vertices[i].xyz[1], c.plane.vertices[i].xyz[2]});
  return points;
}

// The points rounded to 1e-3, duplicates merged.
std::set<std::array<int, 3>> Distinct(const std::vector<Frac> &points) {
  std::set<std::array<int, 3>> out;
  for (const Frac &p : points)
    out.insert({static_cast<int>(std::lround(p[0] * 1000)), static_cast<int>(std::lround(p[1] * 1000)),
                static_cast<int>(std::lround(p[2] * 1000))});
  return out;
}

// Walking the polygon in its order, every step between two distinct points
// is an edge of the expected length: the points stand in cyclic order.
void ExpectCyclic(const std::vector<Frac> &points, float edgeLength, float scale = 10.0f) {
  std::vector<Frac> distinct;
  for (const Frac &p : points)
    if (distinct.empty() || std::fabs(p[0] - distinct.back()[0]) + std::fabs(p[1] - distinct.back()[1]) +
                                    std::fabs(p[2] - distinct.back()[2]) >
                                1e-4f)
      distinct.push_back(p);
  while (distinct.size() > 1 && std::fabs(distinct.front()[0] - distinct.back()[0]) +
                                        std::fabs(distinct.front()[1] - distinct.back()[1]) +
                                        std::fabs(distinct.front()[2] - distinct.back()[2]) <=
                                    1e-4f)
    distinct.pop_back();
  for (size_t i = 0; i < distinct.size(); ++i) {
    const Frac &p = distinct[i], &q = distinct[(i + 1) % distinct.size()];
    const float d = scale * std::sqrt((p[0] - q[0]) * (p[0] - q[0]) + (p[1] - q[1]) * (p[1] - q[1]) +
                                      (p[2] - q[2]) * (p[2] - q[2]));
    EXPECT_NEAR(d, edgeLength, 1e-3f) << "step " << i;
  }
}

void ExpectUnit(const float v[3]) { EXPECT_NEAR(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]), 1.0f, 1e-5f); }

// ---- Intercepts ------------------------------------------------------------------------

TEST(LatticePlaneIntercepts, SegmentAgainstPlane) {
  const float n[3] = {0, 0, 1}, q[3] = {0, 0, 2};
  float X[3] = {-1, -1, -1};
  const float P[3] = {1, 1, 0}, Q[3] = {1, 1, 4};
  EXPECT_EQ(GetLinePlaneIntercept(P, Q, n, q, X), 1);
  EXPECT_FLOAT_EQ(X[2], 2.0f);
  EXPECT_FLOAT_EQ(X[0], 1.0f);
  // The ends count.
  const float R[3] = {1, 1, 2};
  EXPECT_EQ(GetLinePlaneIntercept(P, R, n, q, X), 1);
  // Beyond the segment: 0, with the crossing still written.
  const float S[3] = {1, 1, 1};
  EXPECT_EQ(GetLinePlaneIntercept(P, S, n, q, X), 0);
  EXPECT_FLOAT_EQ(X[2], 2.0f);
  // Parallel: in the plane 2, beside it 0.
  const float A[3] = {0, 0, 2}, B[3] = {5, 3, 2}, C[3] = {5, 3, 2.1f};
  EXPECT_EQ(GetLinePlaneIntercept(A, B, n, q, X), 2);
  EXPECT_EQ(GetLinePlaneIntercept(P, C, n, q, X), 1);
  const float D[3] = {0, 0, 3}, E[3] = {5, 3, 3};
  EXPECT_EQ(GetLinePlaneIntercept(D, E, n, q, X), 0);
}

TEST(LatticePlaneIntercepts, FacePlaneGivesARectangleAndOneOneOneAHexagon) {
  FakeHost host;
  CrystalRec c;
  MakeCube(c);
  c.plane.hkl[0] = 1, c.plane.hkl[1] = 0, c.plane.hkl[2] = 0;
  InitLatticePlane(&c);
  ExpectUnit(c.plane.viewNormal);
  EXPECT_NEAR(c.plane.viewNormal[0], 1.0f, kTight);
  EXPECT_NEAR(c.plane.latticeNormal[0], 0.1f, kTight); // inverse orientation x view normal
  auto rectangle = Polygon(c);
  ASSERT_EQ(rectangle.size(), 4u);
  for (const Frac &p : rectangle)
    EXPECT_NEAR(p[0], 0.5f, kTight);
  EXPECT_EQ(Distinct(rectangle),
            (std::set<std::array<int, 3>>{{500, 0, 0}, {500, 1000, 0}, {500, 0, 1000}, {500, 1000, 1000}}));
  ExpectCyclic(rectangle, 10.0f);

  c.plane.hkl[0] = c.plane.hkl[1] = c.plane.hkl[2] = 1;
  InitLatticePlane(&c);
  auto hexagon = Polygon(c);
  ASSERT_EQ(hexagon.size(), 6u);
  // The six points are the permutations of (0, 1/2, 1).
  std::set<std::array<int, 3>> expected;
  std::array<int, 3> perm = {0, 500, 1000};
  do
    expected.insert(perm);
  while (std::next_permutation(perm.begin(), perm.end()));
  EXPECT_EQ(Distinct(hexagon), expected);
  ExpectCyclic(hexagon, 10.0f * std::sqrt(0.5f));
  for (int i = 0; i < 6; ++i)
    EXPECT_NEAR(Dist2Plane(&c, c.plane.vertices[i].cart), 0.0f, kTight);
  EXPECT_TRUE(host.alerts.empty());
}

TEST(LatticePlaneIntercepts, PlaneMovedTowardsACornerCutsATriangle) {
  FakeHost host;
  CrystalRec c;
  MakeCube(c);
  InitLatticePlane(&c);                           // (1 1 1)
  const float nearCorner[3] = {1.0f, 1.0f, 1.0f}; // x + y + z = 0.3 in fractions
  MovePlane2Point(&c, nearCorner);
  LatticePlaneIntercepts(&c);
  auto triangle = Polygon(c);
  ASSERT_EQ(triangle.size(), 3u);
  EXPECT_EQ(Distinct(triangle), (std::set<std::array<int, 3>>{{300, 0, 0}, {0, 300, 0}, {0, 0, 300}}));
}

TEST(LatticePlaneIntercepts, APlaneHoldingABoxEdgeTakesBothEnds) {
  FakeHost host;
  CrystalRec c;
  MakeCube(c);
  // 2y - z = 0 holds the edge along a at y = z = 0 and cuts the top face at
  // y = 1/2: a rectangle.
  c.plane.hkl[0] = 0, c.plane.hkl[1] = 2, c.plane.hkl[2] = -1;
  InitLatticePlane(&c);
  const float origin[3] = {0, 0, 0};
  MovePlane2Point(&c, origin);
  LatticePlaneIntercepts(&c);
  auto points = Polygon(c);
  ASSERT_EQ(points.size(), 6u);
  EXPECT_EQ(Distinct(points),
            (std::set<std::array<int, 3>>{{0, 0, 0}, {1000, 0, 0}, {0, 500, 1000}, {1000, 500, 1000}}));
  // The first edge tried lies in the plane; its two ends come in whole.
  int ends = 0;
  for (const Frac &p : points)
    if (p[1] == 0.0f && p[2] == 0.0f && (p[0] == 0.0f || p[0] == 1.0f))
      ++ends;
  EXPECT_GE(ends, 2);
  // Walking the distinct points in order never crosses the rectangle.
  std::vector<Frac> walk;
  for (const Frac &p : points)
    if (walk.empty() ||
        std::fabs(p[0] - walk.back()[0]) + std::fabs(p[1] - walk.back()[1]) + std::fabs(p[2] - walk.back()[2]) > 1e-4f)
      walk.push_back(p);
  if (walk.size() > 1 && std::fabs(walk.front()[0] - walk.back()[0]) + std::fabs(walk.front()[1] - walk.back()[1]) +
                                 std::fabs(walk.front()[2] - walk.back()[2]) <=
                             1e-4f)
    walk.pop_back();
  ASSERT_EQ(walk.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    const Frac &p = walk[i], &q = walk[(i + 1) % 4];
    // Neighbours share x (the short side) or share y and z (the long side).
    const bool sameX = std::fabs(p[0] - q[0]) < 1e-4f;
    const bool sameYZ = std::fabs(p[1] - q[1]) < 1e-4f && std::fabs(p[2] - q[2]) < 1e-4f;
    EXPECT_TRUE(sameX != sameYZ) << "step " << i;
  }
}

TEST(LatticePlaneIntercepts, AThinStructureTakesThePlotRangeAlongItsThinAxis) {
  FakeHost host;
  CrystalRec c;
  MakeCube(c);
  // Atoms spread over x and y but all at z = 5 A: 0 A thick along c.
  AddAtom(c, 2, 2, 5);
  AddAtom(c, 8, 2, 5);
  AddAtom(c, 2, 8, 5);
  AddAtom(c, 8, 8, 5);
  c.plotRange[4] = -0.5f, c.plotRange[5] = 1.5f;
  c.plane.hkl[0] = 1, c.plane.hkl[1] = 0, c.plane.hkl[2] = 0;
  InitLatticePlane(&c);
  EXPECT_EQ(Distinct(Polygon(c)),
            (std::set<std::array<int, 3>>{{500, 200, -500}, {500, 800, -500}, {500, 200, 1500}, {500, 800, 1500}}));
}

TEST(LatticePlaneIntercepts, IndicesWithoutDirectionAreRefused) {
  FakeHost host;
  CrystalRec c;
  MakeCube(c);
  InitLatticePlane(&c);
  const LatticePlane before = c.plane;
  c.plane.hkl[0] = c.plane.hkl[1] = c.plane.hkl[2] = 0;
  InitLatticePlane(&c);
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Zero vector!");
  EXPECT_EQ(host.alerts[0].type, kAlertCautionAlert);
  EXPECT_EQ(c.plane.vertexCount, before.vertexCount);
  EXPECT_EQ(c.plane.viewNormal[0], before.viewNormal[0]);
}

// ---- Moving and measuring --------------------------------------------------------------

TEST(LatticePlaneMoves, DistanceAndMovingToAPoint) {
  FakeHost host;
  CrystalRec c;
  MakeCube(c);
  c.plane.hkl[0] = 1, c.plane.hkl[1] = 0, c.plane.hkl[2] = 0;
  InitLatticePlane(&c);
  const float p[3] = {7, 1, 1};
  EXPECT_NEAR(Dist2Plane(&c, p), -2.0f, kTight); // (plane point - p) . normal
  MovePlane2Point(&c, p);
  EXPECT_EQ(c.plane.point[0], 7.0f);
  for (int i = 0; i < c.plane.vertexCount; ++i) {
    EXPECT_NEAR(c.plane.vertices[i].xyz[0], 0.7f, kTight);
    EXPECT_NEAR(c.plane.vertices[i].cart[0], 7.0f, kTight);
    EXPECT_NEAR(Dist2Plane(&c, c.plane.vertices[i].cart), 0.0f, kTight);
  }
  // A point at no distance from the plane leaves everything as it is.
  const LatticePlane before = c.plane;
  MovePlane2Point(&c, p);
  for (int i = 0; i < c.plane.vertexCount; ++i)
    EXPECT_EQ(c.plane.vertices[i].xyz[0], before.vertices[i].xyz[0]);
}

TEST(LatticePlaneMoves, RegenerationGivesTheIndicesTimesTheDSpacing) {
  FakeHost host;
  CrystalRec c;
  InitBlankCrystalRec(&c);
  c.a = 5, c.b = 7, c.c = 9, c.beta = 105;
  GetMetricTensor(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.metricTensor);
  ASSERT_TRUE(GetOrientationMatrix(c.viewDirection, c.metricTensor, c.orientationMatrix));
  const float centre[3] = {0.5f, 0.5f, 0.5f};
  MatMul(c.orientationMatrix, centre, c.plotCentre);
  c.plane.hkl[0] = 1, c.plane.hkl[1] = 2, c.plane.hkl[2] = 3;
  InitLatticePlane(&c);
  const float offset[3] = {c.plotCentre[0] + 0.3f, c.plotCentre[1], c.plotCentre[2]};
  MovePlane2Point(&c, offset);
  float kept[3];
  std::copy(c.plane.point, c.plane.point + 3, kept);
  RegenerateLatticePlane(&c);
  const float d = DSpace(&c, 1, 2, 3);
  EXPECT_NEAR(c.plane.hkl[0], 1.0f * d, 1e-4f);
  EXPECT_NEAR(c.plane.hkl[1], 2.0f * d, 1e-4f);
  EXPECT_NEAR(c.plane.hkl[2], 3.0f * d, 1e-4f);
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(c.plane.point[i], kept[i], kTight);
}

// ---- Rotation ----------------------------------------------------------------------------

TEST(LatticePlaneRotation, TurnsAboutThePlanePointAndRecomputesThePolygon) {
  FakeHost host;
  CrystalRec c;
  MakeCube(c);
  c.plane.hkl[0] = 1, c.plane.hkl[1] = 0, c.plane.hkl[2] = 0;
  InitLatticePlane(&c);
  const float quarter[3] = {0, 0, 90};
  // Not shown: nothing turns.
  RotateLatticePlane(&c, quarter);
  EXPECT_NEAR(c.plane.viewNormal[0], 1.0f, kTight);

  c.plane.shown = 1;
  RotateLatticePlane(&c, quarter);
  ExpectUnit(c.plane.viewNormal);
  EXPECT_NEAR(std::fabs(c.plane.viewNormal[1]), 1.0f, kTight);
  EXPECT_NEAR(c.plane.hkl[0], 0.0f, kTight);
  EXPECT_NEAR(c.plane.hkl[2], 0.0f, kTight);
  EXPECT_GT(std::fabs(c.plane.hkl[1]), 0.1f);
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(c.plane.point[i], 5.0f, kTight);
  auto points = Polygon(c);
  ASSERT_EQ(points.size(), 4u);
  for (const Frac &p : points)
    EXPECT_NEAR(p[1], 0.5f, kTight);

  // Tilting by 45 degrees about z gives the (1 1 0) plane.
  const float eighth[3] = {0, 0, 45};
  RotateLatticePlane(&c, eighth);
  EXPECT_NEAR(std::fabs(c.plane.hkl[0]), std::fabs(c.plane.hkl[1]), 1e-4f);
  EXPECT_NEAR(c.plane.hkl[2], 0.0f, kTight);
  ExpectUnit(c.plane.viewNormal);
}

TEST(LatticePlaneRotation, APlaneThroughABoxCornerStillTurns) {
  FakeHost host;
  CrystalRec c;
  MakeCube(c);
  c.plane.shown = 1;
  // (1 1 0) through the centre runs through the corners (1, 0, z) and
  // (0, 1, z): its polygon holds the same corner more than once.
  c.plane.hkl[0] = 1, c.plane.hkl[1] = 1, c.plane.hkl[2] = 0;
  InitLatticePlane(&c);
  ASSERT_GE(c.plane.vertexCount, 4);
  const float tilt[3] = {10, 0, 0};
  RotateLatticePlane(&c, tilt);
  ExpectUnit(c.plane.viewNormal);
  EXPECT_GT(c.plane.vertexCount, 2);
  EXPECT_GT(std::fabs(c.plane.hkl[0]) + std::fabs(c.plane.hkl[1]) + std::fabs(c.plane.hkl[2]), 0.01f);
}

// ---- Best plane ------------------------------------------------------------------------------

struct WindowFixture : ::testing::Test {
  FakeHost host;
  OVWindowRecord window;
  CrystalRec *c = nullptr;

  void SetUp() override {
    ASSERT_TRUE(InitMainWindowData(&window));
    host.windows = {&window};
    c = GetWindowCrystal(&window);
    MakeCube(*c);
    c->plotScale = 10.0f;
  }
  void TearDown() override {
    ClearCrystalRec(c);
    DestroyMainWindowData(&window);
  }
};

using LatticePlaneBestFit = WindowFixture;

TEST_F(LatticePlaneBestFit, NoisyPointsGiveTheLeastSquaresPlane) {
  // Points scattered about the plane with normal (1 2 3) through (5, 5, 5),
  // each up to 0.08 A off it. The expected normal and sum of squares are
  // numpy's: the right singular vector of the smallest singular value of the
  // centred points, and that singular value squared.
  const float points[12][3] = {{2.7152f, 6.0014f, 5.1490f}, {6.1714f, 3.4823f, 5.6959f}, {3.1554f, 2.8413f, 7.1133f},
                               {6.1293f, 4.6458f, 4.8155f}, {5.3177f, 3.7278f, 5.7431f}, {2.1477f, 5.7329f, 5.5206f},
                               {2.1608f, 6.0205f, 5.2092f}, {4.3298f, 3.3648f, 6.2225f}, {4.9125f, 2.6923f, 6.5609f},
                               {4.2535f, 7.1988f, 3.7858f}, {6.4389f, 4.7181f, 4.6109f}, {3.8769f, 3.6096f, 6.2416f}};
  const double expectedNormal[3] = {0.2763196, 0.53531137, 0.79817868};
  const double expectedSumSq = 0.02407981141926798;
  for (const auto &p : points)
    AddAtom(*c, p[0], p[1], p[2]);
  AddAtom(*c, 9, 9, 1, false); // not selected: not part of the fit
  DoPlaneThroughPoints(&window);
  ASSERT_TRUE(host.alerts.empty()) << host.alerts[0].message;
  EXPECT_EQ(c->plane.shown, 1);
  const float *n = c->plane.viewNormal;
  const double sign = n[0] < 0 ? -1.0 : 1.0;
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(sign * n[i], expectedNormal[i], 1e-4) << i;
  EXPECT_NEAR(GetSumSqPlaneDistance(c), expectedSumSq, 1e-5);
  // The plane passes through the centroid of the points.
  const float centroid[3] = {4.30075834f, 4.50296672f, 5.55569164f};
  EXPECT_NEAR(Dist2Plane(c, centroid), 0.0f, 1e-4f);
  // Indices: each cell edge times the cosine with the normal.
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(c->plane.hkl[i], 10.0 * expectedNormal[i], 1e-3) << i;

  const auto lines = host.LogLines();
  ASSERT_EQ(lines.size(), 1u) << host.log;
  char expected[200];
  std::snprintf(expected, sizeof expected, "Best-fit plane through 12 atoms: (%f %f %f). Sum-of-squares: %.5f Å² (",
                double(c->plane.hkl[0]), double(c->plane.hkl[1]), double(c->plane.hkl[2]), expectedSumSq);
  EXPECT_EQ(lines[0].rfind(expected, 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(" cycles, 0.00000 s)"), std::string::npos) << lines[0];
  // The window is told that a report went to the Log.
  ASSERT_EQ(host.subtitles.size(), 1u);
  EXPECT_EQ(host.subtitles[0].second, "New output printed in the Log");
}

TEST_F(LatticePlaneBestFit, PointsInOnePlaneConvergeAtAZeroSum) {
  // All in the plane x = 3 A: the normal is exactly (1, 0, 0), so the sweeps
  // turning x with y and x with z start from a second component of 0 and the
  // sum of squares is 0.
  const float points[5][3] = {{3, 1, 1}, {3, 8, 2}, {3, 2, 7}, {3, 9, 9}, {3, 5, 4}};
  for (const auto &p : points)
    AddAtom(*c, p[0], p[1], p[2]);
  DoPlaneThroughPoints(&window);
  ASSERT_TRUE(host.alerts.empty());
  const float *n = c->plane.viewNormal;
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(std::isfinite(n[i]));
  EXPECT_NEAR(std::fabs(n[0]), 1.0f, 1e-6f);
  EXPECT_LT(GetSumSqPlaneDistance(c), 1e-8f);
  EXPECT_EQ(host.log.find("Refinement failed"), std::string::npos) << host.log;
  EXPECT_NEAR(c->plane.hkl[0], 10.0f, 1e-4f); // (1 0 0), its sign made positive
  EXPECT_NEAR(c->plane.hkl[1], 0.0f, 1e-3f);
}

TEST_F(LatticePlaneBestFit, TwoEqualSmallestEigenvaluesStillGiveTheSmallest) {
  // A needle along z with equal small spreads in x and y: the scatter's
  // eigenvalues are two equal small ones (x, y) and a large one (z). The
  // plane must contain the needle.
  const float r = 0.125f; // exact in binary: the two small eigenvalues are equal to the last bit
  for (int k = 0; k < 5; ++k) {
    const float z = 1.0f + 2.0f * float(k);
    AddAtom(*c, 5 + r, 5, z);
    AddAtom(*c, 5 - r, 5, z);
    AddAtom(*c, 5, 5 + r, z);
    AddAtom(*c, 5, 5 - r, z);
  }
  DoPlaneThroughPoints(&window);
  ASSERT_TRUE(host.alerts.empty());
  EXPECT_LT(std::fabs(c->plane.viewNormal[2]), 1e-3f);
  // The best planes all hold the needle: half the points lie in them.
  EXPECT_NEAR(GetSumSqPlaneDistance(c), 10.0f * r * r, 1e-4f);
  // Starting from the smallest eigenvalue's vector the refinement has little
  // to do; from the largest one's it would first turn the normal through 90
  // degrees in 0.05-degree steps.
  const auto lines = host.LogLines();
  ASSERT_EQ(lines.size(), 1u);
  const size_t open = lines[0].rfind('(');
  ASSERT_NE(open, std::string::npos);
  EXPECT_LT(std::stoi(lines[0].substr(open + 1)), 200) << lines[0];
}

TEST_F(LatticePlaneBestFit, ThreeAtomsGiveTheirPlaneAtOnce) {
  AddAtom(*c, 1, 1, 1);
  AddAtom(*c, 1, 9, 1);
  AddAtom(*c, 9, 1, 1);
  DoPlaneThroughPoints(&window);
  ASSERT_TRUE(host.alerts.empty());
  EXPECT_NEAR(std::fabs(c->plane.viewNormal[2]), 1.0f, kTight);
  EXPECT_NEAR(c->plane.hkl[2], 10.0f, 1e-3f);
  const auto lines = host.LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "Best-fit plane through 3 atoms: (0.000000 0.000000 10.000000). Sum-of-squares: 0.00000 Å² "
                      "(0 cycles, 0.00000 s)");
}

TEST_F(LatticePlaneBestFit, FourSelectedWithOneHiddenAreFittedAndRefined) {
  AddAtom(*c, 1, 1, 1);
  AddAtom(*c, 1, 9, 1);
  AddAtom(*c, 9, 1, 1);
  c->atoms[AddAtom(*c, 5, 5, 7)].visible = 0; // selected, but not part of the fit
  DoPlaneThroughPoints(&window);
  ASSERT_TRUE(host.alerts.empty());
  EXPECT_NEAR(std::fabs(c->plane.viewNormal[2]), 1.0f, kTight);
  const auto lines = host.LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Best-fit plane through 3 atoms: ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[0].find("(0 cycles"), std::string::npos) << lines[0];
}

TEST_F(LatticePlaneBestFit, TooFewOrCollinearAtomsAreRefused) {
  AddAtom(*c, 1, 1, 1);
  AddAtom(*c, 2, 2, 2);
  DoPlaneThroughPoints(&window);
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "At least three atoms must be selected!");
  EXPECT_EQ(host.alerts[0].type, kAlertStopAlert);

  AddAtom(*c, 3, 3, 3);
  DoPlaneThroughPoints(&window);
  ASSERT_EQ(host.alerts.size(), 2u);
  EXPECT_EQ(host.alerts[1].message, "Sorry, insufficient points to determine mean plane");
  EXPECT_EQ(c->plane.shown, 0);
  EXPECT_TRUE(host.log.empty());

  // A fourth atom off the line makes a plane.
  AddAtom(*c, 1, 5, 1);
  DoPlaneThroughPoints(&window);
  EXPECT_EQ(host.alerts.size(), 2u);
  EXPECT_EQ(c->plane.shown, 1);
}

TEST_F(LatticePlaneBestFit, MoreNegativeIndicesAreTurnedOver) {
  // The plane -x - y + 2z = 0 through (5, 5, 5): indices proportional to
  // (-1 -1 2) are reported as (1 1 -2).
  const float points[4][3] = {{5, 5, 5}, {7, 3, 5}, {6, 6, 6}, {3, 5, 4}};
  for (const auto &p : points)
    AddAtom(*c, p[0], p[1], p[2]);
  DoPlaneThroughPoints(&window);
  ASSERT_TRUE(host.alerts.empty());
  const float *hkl = c->plane.hkl;
  EXPECT_GT(hkl[0], 0.0f);
  EXPECT_NEAR(hkl[1] / hkl[0], 1.0f, 1e-3f);
  EXPECT_NEAR(hkl[2] / hkl[0], -2.0f, 1e-3f);
}

TEST(LatticePlaneSweep, ASecondComponentOfZeroStaysFinite) {
  FakeHost host;
  CrystalRec c;
  MakeCube(c);
  AddAtom(c, 3, 1, 1);
  AddAtom(c, 3, 8, 2);
  AddAtom(c, 3, 2, 7);
  c.plane.point[0] = 3, c.plane.point[1] = 5, c.plane.point[2] = 5;
  c.plane.viewNormal[0] = 1, c.plane.viewNormal[1] = 0, c.plane.viewNormal[2] = 0;
  float sum = GetSumSqPlaneDistance(&c);
  ASSERT_EQ(sum, 0.0f);
  int32_t steps = 0;
  DoRefinementSweep(&c, 0, 1, &sum, &steps);
  EXPECT_GT(steps, 0);
  EXPECT_LT(steps, kBestPlaneMaxSweepSteps);
  for (float v : c.plane.viewNormal)
    EXPECT_TRUE(std::isfinite(v));
  ExpectUnit(c.plane.viewNormal);
  EXPECT_LT(sum, 1e-6f);

  // Components too small to turn: nothing happens.
  c.plane.viewNormal[0] = 0, c.plane.viewNormal[1] = 0, c.plane.viewNormal[2] = 1;
  steps = 0;
  DoRefinementSweep(&c, 0, 1, &sum, &steps);
  EXPECT_EQ(steps, 0);
}

// ---- Dragging ------------------------------------------------------------------------------------

using LatticePlaneDrag = WindowFixture;

TEST_F(LatticePlaneDrag, StepsAlongTheNormalAndStopsAtTheBox) {
  SetWindowFileOpen(&window, true); // a window that holds a file notes its changes
  c->plane.hkl[0] = 1, c->plane.hkl[1] = 0, c->plane.hkl[2] = 0;
  InitLatticePlane(c);
  // Not shown: a drag does nothing.
  StartMoveLatticePlane(&window);
  EXPECT_EQ(gTrackBallRotn, 0);
  EXPECT_FALSE(MoveLatticePlane(&window, Point{100, 100}, Point{100, 110}));

  c->plane.shown = 1;
  StartMoveLatticePlane(&window);
  EXPECT_EQ(gTrackBallRotn, 1);
  ForgetWindowChanges(&window);
  // 10 pixels to the right at 10 pixels per A: 1 A along the normal (+x).
  EXPECT_TRUE(MoveLatticePlane(&window, Point{100, 100}, Point{100, 110}));
  EXPECT_NEAR(c->plane.point[0], 6.0f, kTight);
  for (const Frac &p : Polygon(*c))
    EXPECT_NEAR(p[0], 0.6f, kTight);
  EXPECT_TRUE(IsWindowUndoStatePending(&window)); // replotted
  // Upwards moves along y, which the normal has no part of.
  EXPECT_TRUE(MoveLatticePlane(&window, Point{100, 110}, Point{50, 110}));
  EXPECT_NEAR(c->plane.point[0], 6.0f, kTight);
  // A step that would carry the centre past 0.99 leaves the plane alone.
  ForgetWindowChanges(&window);
  EXPECT_FALSE(MoveLatticePlane(&window, Point{100, 110}, Point{100, 150}));
  EXPECT_NEAR(c->plane.point[0], 6.0f, kTight);
  EXPECT_FALSE(IsWindowUndoStatePending(&window));
  EXPECT_TRUE(MoveLatticePlane(&window, Point{100, 110}, Point{100, 148}));
  EXPECT_NEAR(c->plane.point[0], 9.8f, kTight);
  EXPECT_FALSE(MoveLatticePlane(&window, Point{100, 110}, Point{100, 112}));
  // And back to the left side.
  EXPECT_TRUE(MoveLatticePlane(&window, Point{100, 148}, Point{100, 60}));
  EXPECT_NEAR(c->plane.point[0], 1.0f, kTight);
  EXPECT_FALSE(MoveLatticePlane(&window, Point{100, 60}, Point{100, 50}));

  EndMoveLatticePlane(&window);
  EXPECT_EQ(gTrackBallRotn, 0);
  EXPECT_TRUE(IsWindowUndoStatePending(&window)); // settled by the undo timer
}

} // namespace
