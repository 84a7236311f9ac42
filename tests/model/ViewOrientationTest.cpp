#include "ViewOrientation.h"
#include "StructureWindowFixture.h"

#include "EllipsoidMaths.h"
#include "LatticePlanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace viewtest;

namespace {

// Orientation matrices of cells in single precision: entries agree to this.
constexpr double kMatrixTolerance = 2e-4;
// Metric check (M^T M against G) for cells of edges up to 10 A.
constexpr double kMetricTolerance = 2e-3;
// Time between two drag steps, in seconds.
constexpr double kTick = 0.02; // more than one tick of 1/60 second

// A monoclinic P 1 crystal with two sites, one cell, shown 0 to 1.
bool BuildMonoclinic(CrystalRec &c) {
  const float cell[6] = {5.0f, 7.0f, 9.0f, 90.0f, 104.0f, 90.0f};
  return BuildFirstCell(c, "P 1", cell, {{"C1", "C", 0.1f, 0.2f, 0.3f}, {"O1", "O", 0.6f, 0.25f, 0.7f}});
}

// The view direction's image through the orientation points into the screen.
void ExpectLooksAlong(const CrystalRec &c, const float uvw[3]) {
  float v[3];
  MatMul(c.orientationMatrix, uvw, v);
  const float length = Magnitude(v);
  ASSERT_GT(length, 0.0f);
  EXPECT_NEAR(v[0] / length, 0.0f, 1e-5f);
  EXPECT_NEAR(v[1] / length, 0.0f, 1e-5f);
  EXPECT_NEAR(v[2] / length, -1.0f, 1e-5f);
  EXPECT_LT(MetricError(c.orientationMatrix, c.metricTensor), kMetricTolerance);
}

void Fractional(const CrystalRec &c, const float cart[3], float out[3]) {
  float inverse[9];
  Inv3x3Mat(c.orientationMatrix, inverse);
  MatMul(inverse, cart, out);
}

} // namespace

// ---- Orientation -------------------------------------------------------------------

TEST(ViewDirectionTest, OrientationsLookAlongLatticeDirectionsAndPlaneNormals) {
  CrystalRec c;
  const float cell[6] = {4.0f, 4.0f, 6.5f, 90.0f, 90.0f, 120.0f}; // hexagonal
  ASSERT_TRUE(BuildFirstCell(c, "P 1", cell, {{"C1", "C", 0.1f, 0.2f, 0.3f}}));
  const float directions[][3] = {{1, 0, 0}, {1, 1, 1}, {0, 0, 1}, {1, -1, 0}, {2, 1, 0}};
  for (const auto &d : directions) {
    CopyVector(c.viewDirection, d);
    ApplyViewDirection(&c, true);
    ExpectLooksAlong(c, d);
  }

  // Along the normal of (1 1 1) of a triclinic cell the plane lies flat on
  // the screen: two lattice vectors in it have no depth.
  CrystalRec t;
  const float triclinic[6] = {5.0f, 6.0f, 7.0f, 80.0f, 95.0f, 110.0f};
  ASSERT_TRUE(BuildFirstCell(t, "P 1", triclinic, {{"C1", "C", 0.1f, 0.2f, 0.3f}}));
  // The normal of (h k l) in direct-lattice components is G^-1 (h, k, l).
  const float hkl[3] = {1, 1, 1};
  float inverseG[9], normal[3];
  ASSERT_TRUE(Inv3x3Mat(t.metricTensor, inverseG));
  MatMul(inverseG, hkl, normal);
  CopyVector(t.viewDirection, normal);
  ApplyViewDirection(&t, true);
  ExpectLooksAlong(t, normal);
  const float inPlane[2][3] = {{1, -1, 0}, {0, 1, -1}};
  for (const auto &v : inPlane) {
    float view[3];
    MatMul(t.orientationMatrix, v, view);
    EXPECT_NEAR(view[2], 0.0f, 1e-4f);
  }
}

TEST(ViewDirectionTest, TheCentreAndTheLatticePlaneStayFixedInTheCrystal) {
  CrystalRec c;
  ASSERT_TRUE(BuildMonoclinic(c));
  const float where[3] = {0.3f, 0.2f, 0.1f};
  MatMul(c.orientationMatrix, where, c.plotCentre);
  const float onPlane[3] = {0.5f, 0.5f, 0.5f};
  MatMul(c.orientationMatrix, onPlane, c.plane.point);
  c.plane.shown = 1;
  const float latticeNormal[3] = {0.0f, 0.0f, 1.0f};
  CopyVector(c.plane.latticeNormal, latticeNormal);
  c.atoms[1].visible = 0;
  const float hiddenCart[3] = {c.atoms[1].cart[0], c.atoms[1].cart[1], c.atoms[1].cart[2]};

  const float view[3] = {1.0f, 2.0f, 0.0f};
  CopyVector(c.viewDirection, view);
  ApplyViewDirection(&c, true);
  float back[3];
  Fractional(c, c.plotCentre, back);
  for (int k = 0; k < 3; k++)
    EXPECT_NEAR(back[k], where[k], 1e-5f);
  Fractional(c, c.plane.point, back);
  for (int k = 0; k < 3; k++)
    EXPECT_NEAR(back[k], onPlane[k], 1e-5f);
  float expected[3], unit[3];
  MatMul(c.orientationMatrix, latticeNormal, expected);
  GetUnitVector(expected, unit);
  for (int k = 0; k < 3; k++)
    EXPECT_NEAR(c.plane.viewNormal[k], unit[k], 1e-6f);
  // Visible atoms follow, a hidden one is left alone.
  float cart[3];
  MatMul(c.orientationMatrix, c.atoms[0].xyz, cart);
  for (int k = 0; k < 3; k++) {
    EXPECT_FLOAT_EQ(c.atoms[0].cart[k], cart[k]);
    EXPECT_EQ(c.atoms[1].cart[k], hiddenCart[k]);
  }
}

TEST(OrientationMatrixTest, InstallingAMatrixDerivesTheViewDirection) {
  CrystalRec c;
  ASSERT_TRUE(BuildMonoclinic(c));
  float R[9], M[9];
  GetRotationMatrixFromAngles(20.0f, -35.0f, 50.0f, R);
  MatMul33x33(R, c.orientationMatrix, M);
  ASSERT_TRUE(ApplyOrientationMatrix(&c, M));
  EXPECT_EQ(MatrixDifference(c.orientationMatrix, M), 0.0);
  // M takes the view direction to (0, 0, -L), L = sqrt(a (a + b + c)).
  float v[3];
  MatMul(M, c.viewDirection, v);
  const float L = std::sqrt(5.0f * (5.0f + 7.0f + 9.0f));
  EXPECT_NEAR(v[0], 0.0f, 1e-4f);
  EXPECT_NEAR(v[1], 0.0f, 1e-4f);
  EXPECT_NEAR(v[2], -L, 1e-4f);
  float cart[3];
  MatMul(M, c.atoms[1].xyz, cart);
  for (int k = 0; k < 3; k++)
    EXPECT_FLOAT_EQ(c.atoms[1].cart[k], cart[k]);
}

TEST(OrientationMatrixTest, MatricesThatAreNotNumbersOrSingularAreNeverInstalled) {
  CrystalRec c;
  ASSERT_TRUE(BuildMonoclinic(c));
  float before[9];
  Copy3x3Mat(before, c.orientationMatrix);
  const float beforeView[3] = {c.viewDirection[0], c.viewDirection[1], c.viewDirection[2]};
  float nan[9];
  Copy3x3Mat(nan, c.orientationMatrix);
  nan[4] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(ApplyOrientationMatrix(&c, nan));
  const float singular[9] = {1, 0, 0, 0, 1, 0, 0, 0, 0};
  EXPECT_FALSE(ApplyOrientationMatrix(&c, singular));
  const float badAngles[3] = {0.0f, std::numeric_limits<float>::infinity(), 0.0f};
  EXPECT_FALSE(RotateXYZ(&c, badAngles));
  EXPECT_EQ(MatrixDifference(c.orientationMatrix, before), 0.0);
  for (int k = 0; k < 3; k++) {
    EXPECT_EQ(c.viewDirection[k], beforeView[k]);
    EXPECT_TRUE(std::isfinite(c.atoms[0].cart[k]));
  }
  // A view direction that is not a number keeps the orientation too.
  c.viewDirection[0] = std::numeric_limits<float>::quiet_NaN();
  ApplyViewDirection(&c, true);
  EXPECT_EQ(MatrixDifference(c.orientationMatrix, before), 0.0);
}

TEST(OrientationMatrixTest, RotationsComposeOnTheLeft) {
  CrystalRec c;
  ASSERT_TRUE(BuildMonoclinic(c));
  float M0[9], R[9], expected[9];
  Copy3x3Mat(M0, c.orientationMatrix);
  const float angles[3] = {10.0f, 20.0f, 30.0f};
  GetRotationMatrixFromAngles(angles[0], angles[1], angles[2], R);
  MatMul33x33(R, M0, expected);
  ASSERT_TRUE(RotateXYZ(&c, angles));
  EXPECT_LT(MatrixDifference(c.orientationMatrix, expected), 1e-6);
  EXPECT_LT(MetricError(c.orientationMatrix, c.metricTensor), kMetricTolerance);
}

// ---- Arrow commands ---------------------------------------------------------------

TEST(ArrowCommandTest, FourQuarterTurnsGiveBackTheStartAndEachStepIsPlotted) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildMonoclinic(c));
  gPrefs.sendOrientationToLink = 1;
  c.diffractionLinkID = 7;
  float start[9];
  Copy3x3Mat(start, c.orientationMatrix);

  RotateRight(w.ref());
  float R[9], quarter[9];
  GetRotationMatrixFromAngles(0.0f, 90.0f, 0.0f, R);
  MatMul33x33(R, start, quarter);
  EXPECT_LT(MatrixDifference(c.orientationMatrix, quarter), kMatrixTolerance);
  EXPECT_TRUE(w.modified());
  EXPECT_TRUE(host.IsArmed(gUndoBufferTimer));
  EXPECT_EQ(host.orientationSends.size(), 1u); // the linked program hears of the new view
  for (int k = 0; k < 3; k++)
    RotateRight(w.ref());
  EXPECT_LT(MatrixDifference(c.orientationMatrix, start), kMatrixTolerance);

  RotateDown(w.ref());
  RotateUp(w.ref());
  RotateLeft(w.ref());
  RotateRight(w.ref());
  EXPECT_LT(MatrixDifference(c.orientationMatrix, start), kMatrixTolerance);
  EXPECT_EQ(host.orientationSends.size(), 8u);

  // An orientation that came from the linked program is not sent back.
  SetViewWithOrientationMatrix(w.ref(), quarter);
  EXPECT_EQ(host.orientationSends.size(), 8u);
  EXPECT_EQ(gPrefs.sendOrientationToLink, 1);
  EXPECT_EQ(MatrixDifference(c.orientationMatrix, quarter), 0.0);
}

// ---- Trackball ----------------------------------------------------------------------

namespace {

Point At(int h, int v) { return Point{static_cast<int16_t>(v), static_cast<int16_t>(h)}; }

} // namespace

TEST(TrackBallTest, ADragAcrossThePaneWidthTurnsAFullCircle) {
  FakeHost host;
  TestWindow w(host, 400, 300); // pane from (10, 20) to (410, 320)
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildMonoclinic(c));
  float start[9];
  Copy3x3Mat(start, c.orientationMatrix);

  ASSERT_TRUE(TrackBall(w.ref(), At(10, 170)));
  EXPECT_EQ(gTrackBallRotn, 1);
  ASSERT_FALSE(host.cursors.empty());
  EXPECT_EQ(host.cursors.back(), kClosedHandCursor);

  // A quarter of the width turns 90 degrees about the vertical axis.
  host.Advance(kTick);
  ASSERT_TRUE(TrackBallMove(w.ref(), At(110, 170)));
  float R[9], quarter[9];
  GetRotationMatrixFromAngles(0.0f, 90.0f, 0.0f, R);
  MatMul33x33(R, start, quarter);
  EXPECT_LT(MatrixDifference(c.orientationMatrix, quarter), kMatrixTolerance);
  for (int step = 2; step <= 4; step++) {
    host.Advance(kTick);
    ASSERT_TRUE(TrackBallMove(w.ref(), At(10 + 100 * step, 170)));
  }
  EXPECT_LT(MatrixDifference(c.orientationMatrix, start), kMatrixTolerance);

  // The whole width in one step, and the height vertically.
  host.Advance(kTick);
  ASSERT_TRUE(TrackRotn(w.ref(), At(410, 170), At(10, 170)));
  EXPECT_LT(MatrixDifference(c.orientationMatrix, start), kMatrixTolerance);
  host.Advance(kTick);
  ASSERT_TRUE(TrackRotn(w.ref(), At(100, 320), At(100, 20)));
  EXPECT_LT(MatrixDifference(c.orientationMatrix, start), kMatrixTolerance);

  EndTrackBall(w.ref());
  EXPECT_EQ(gTrackBallRotn, 0);
  EXPECT_EQ(host.cursors.back(), kOpenHandCursor);
  EXPECT_TRUE(w.modified());
  ASSERT_TRUE(host.IsArmed(gUndoBufferTimer));
  EXPECT_DOUBLE_EQ(host.SecondsUntil(gUndoBufferTimer), 0.1);
}

TEST(TrackBallTest, AtMostOneStepIsAppliedPerTick) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildMonoclinic(c));
  ASSERT_TRUE(TrackBall(w.ref(), At(200, 170)));
  host.Advance(kTick);
  EXPECT_TRUE(TrackBallMove(w.ref(), At(210, 170)));
  float after[9];
  Copy3x3Mat(after, c.orientationMatrix);
  EXPECT_FALSE(TrackBallMove(w.ref(), At(220, 175))); // the same tick
  EXPECT_EQ(MatrixDifference(c.orientationMatrix, after), 0.0);
  // The point moved on all the same, so the next step starts from it.
  host.Advance(kTick);
  EXPECT_TRUE(TrackBallMove(w.ref(), At(230, 175)));
  float R[9], expected[9];
  GetRotationMatrixFromAngles(0.0f, 10.0f * 360.0f / 400.0f, 0.0f, R);
  MatMul33x33(R, after, expected);
  EXPECT_LT(MatrixDifference(c.orientationMatrix, expected), kMatrixTolerance);
  // No movement is no step.
  host.Advance(kTick);
  EXPECT_FALSE(TrackBallMove(w.ref(), At(230, 175)));
  // The drag turned the structure, though its last move did nothing.
  EndTrackBall(w.ref());
  EXPECT_TRUE(w.modified());
  EXPECT_DOUBLE_EQ(host.SecondsUntil(gUndoBufferTimer), kTrackBallUndoDelay);
}

TEST(TrackBallTest, MovesOutsideThePaneAccumulateFromTheLastPointInside) {
  FakeHost host;
  TestWindow w(host, 400, 300);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildMonoclinic(c));
  float start[9];
  Copy3x3Mat(start, c.orientationMatrix);
  ASSERT_TRUE(TrackBall(w.ref(), At(400, 170)));
  host.Advance(kTick);
  ASSERT_TRUE(TrackBallMove(w.ref(), At(420, 170))); // outside: +20
  host.Advance(kTick);
  ASSERT_TRUE(TrackBallMove(w.ref(), At(430, 170))); // measured from 400: +30
  float R[9], expected[9];
  GetRotationMatrixFromAngles(0.0f, 50.0f * 360.0f / 400.0f, 0.0f, R);
  MatMul33x33(R, start, expected);
  EXPECT_LT(MatrixDifference(c.orientationMatrix, expected), kMatrixTolerance);
  EndTrackBall(w.ref());
}

TEST(TrackBallTest, StepsKeepTheOrientationOrthonormal) {
  FakeHost host;
  TestWindow w(host, 500, 350);
  CrystalRec &c = w.crystal();
  const float cell[6] = {5.0f, 6.0f, 7.0f, 80.0f, 95.0f, 110.0f};
  ASSERT_TRUE(BuildFirstCell(c, "P 1", cell, {{"C1", "C", 0.1f, 0.2f, 0.3f}}));
  ASSERT_TRUE(TrackBall(w.ref(), At(260, 200)));
  std::mt19937 rng(5u);
  std::uniform_int_distribution<int> move(-40, 40), coin(0, 2);
  Point p = At(260, 200);
  for (int step = 0; step < 300; step++) {
    host.modifiers = coin(rng) == 0 ? kShiftKey : 0u;
    Point next = At(std::clamp(p.h + move(rng), 10, 509), std::clamp(p.v + move(rng), 20, 369));
    host.Advance(kTick);
    TrackBallMove(w.ref(), next);
    p = next;
    ASSERT_LT(MetricError(c.orientationMatrix, c.metricTensor), kMetricTolerance) << "step " << step;
  }
  EndTrackBall(w.ref());
}

TEST(TrackBallTest, ShiftSpinsAboutTheScreenAxisAndNeverMakesANumberOutOfNothing) {
  FakeHost host;
  TestWindow w(host, 400, 300); // centre (210, 170)
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildMonoclinic(c));
  float start[9];
  Copy3x3Mat(start, c.orientationMatrix);
  host.modifiers = kShiftKey;
  ASSERT_TRUE(TrackBall(w.ref(), At(310, 170)));

  // From right of the centre to above it: a quarter turn anticlockwise as
  // seen, positive about z.
  host.Advance(kTick);
  ASSERT_TRUE(TrackRotn(w.ref(), At(210, 70), At(310, 170)));
  float R[9], expected[9];
  GetRotationMatrixFromAngles(0.0f, 0.0f, 90.0f, R);
  MatMul33x33(R, start, expected);
  EXPECT_LT(MatrixDifference(c.orientationMatrix, expected), kMatrixTolerance);
  // And back, clockwise.
  host.Advance(kTick);
  ASSERT_TRUE(TrackRotn(w.ref(), At(310, 170), At(210, 70)));
  EXPECT_LT(MatrixDifference(c.orientationMatrix, start), kMatrixTolerance);

  // Points in line with the centre: the cosine rounds to about 1, which
  // must not become a NaN orientation.
  const Point lines[][2] = {{At(211, 171), At(212, 172)}, {At(211, 180), At(212, 190)}, {At(217, 181), At(224, 192)},
                            {At(213, 173), At(240, 200)}, {At(211, 171), At(311, 271)}, {At(250, 140), At(290, 110)}};
  for (const auto &pair : lines) {
    host.Advance(kTick);
    TrackRotn(w.ref(), pair[1], pair[0]);
    for (float v : c.orientationMatrix)
      ASSERT_TRUE(std::isfinite(v));
    EXPECT_LT(MatrixDifference(c.orientationMatrix, start), kMatrixTolerance);
  }
  // A point at the centre has no angle.
  host.Advance(kTick);
  EXPECT_FALSE(TrackRotn(w.ref(), At(210, 170), At(250, 170)));
  EndTrackBall(w.ref());
}

TEST(TrackBallTest, CommandZoomsOnlyBetweenTheScaleLimits) {
  FakeHost host;
  TestWindow w(host, 400, 300);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildMonoclinic(c));
  float start[9];
  Copy3x3Mat(start, c.orientationMatrix);
  host.modifiers = kCommandKey;
  ASSERT_TRUE(TrackBall(w.ref(), At(100, 100)));
  struct Case {
    float scale;
    int dh, dv;
    float expected; // 0: refused
  };
  const Case cases[] = {
      {100.0f, 200, 10, 150.0f}, // width dominates: + 200 / 400
      {100.0f, 10, -150, 50.0f}, // height dominates: - 150 / 300
      {4.0f, -200, 0, 0.0f},     // would be exactly 2.0
      {250.0f, 400, 0, 0.0f},    // would be exactly 500.0
      {250.0f, 399, 0, 499.375f}, {3.0f, -100, 0, 2.25f},
  };
  size_t rulersBefore = host.rulersDrawn.size();
  for (const Case &k : cases) {
    c.plotScale = k.scale;
    host.Advance(kTick);
    const bool applied = TrackRotn(w.ref(), At(100 + k.dh, 100 + k.dv), At(100, 100));
    EXPECT_EQ(applied, k.expected != 0.0f) << k.scale << " " << k.dh << " " << k.dv;
    EXPECT_FLOAT_EQ(c.plotScale, k.expected != 0.0f ? k.expected : k.scale);
  }
  EXPECT_GT(host.rulersDrawn.size(), rulersBefore);
  EXPECT_EQ(MatrixDifference(c.orientationMatrix, start), 0.0); // zooming turns nothing
  EndTrackBall(w.ref());
}

TEST(TrackBallTest, RotateSelectionModeNeedsTwoSelectedAtoms) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildMonoclinic(c));
  gRotateSelection = 1;
  c.atoms[0].selected = 1;
  EXPECT_FALSE(TrackBall(w.ref(), At(100, 100)));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].type, kAlertCautionAlert);
  EXPECT_EQ(host.alerts[0].message, "Rotate Selection Mode");
  EXPECT_EQ(host.alerts[0].explanation,
            "A minimum of two atoms must be selected for rotation. Alternatively, to rotate all atoms in the "
            "structure, switch to Rotate All mode (press O in the structure window)");
  EXPECT_FALSE(IsTrackBallActive());
  EXPECT_EQ(gTrackBallRotn, 0);

  // A window without a structure does not start a drag.
  SetWindowFileOpen(w.ref(), false);
  c.atoms[1].selected = 1;
  EXPECT_FALSE(TrackBall(w.ref(), At(100, 100)));
  EXPECT_EQ(host.alerts.size(), 1u);
}

TEST(TrackBallTest, ADragThatChangedNothingLeavesTheWindowUnmarked) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildMonoclinic(c));
  ASSERT_TRUE(TrackBall(w.ref(), At(100, 100)));
  EndTrackBall(w.ref());
  EXPECT_FALSE(w.modified());
  EXPECT_FALSE(host.IsArmed(gUndoBufferTimer));
}

TEST(TrackBallTest, ThePlaneToolTurnsTheLatticePlaneAndNotTheView) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildMonoclinic(c));
  c.plane.shown = 1;
  const float middle[3] = {0.5f, 0.5f, 0.5f};
  MatMul(c.orientationMatrix, middle, c.plotCentre);
  InitLatticePlane(&c);
  ASSERT_GE(c.plane.vertexCount, 3);
  const float normal[3] = {c.plane.viewNormal[0], c.plane.viewNormal[1], c.plane.viewNormal[2]};
  float start[9];
  Copy3x3Mat(start, c.orientationMatrix);
  gCurrentTool = kLatticePlaneTool;
  ASSERT_TRUE(TrackBall(w.ref(), At(100, 100)));
  host.Advance(kTick);
  ASSERT_TRUE(TrackBallMove(w.ref(), At(150, 100)));
  EndTrackBall(w.ref());
  EXPECT_EQ(MatrixDifference(c.orientationMatrix, start), 0.0);
  float turned = 0.0f;
  for (int k = 0; k < 3; k++)
    turned += std::fabs(c.plane.viewNormal[k] - normal[k]);
  EXPECT_GT(turned, 0.1f);
}

// ---- Turning the selection --------------------------------------------------------

TEST(RotateSelectionTest, AMoleculesSelectedAtomsTurnAboutTheirCentroid) {
  CrystalRec c;
  const float cell[6] = {10.0f, 10.0f, 10.0f, 90.0f, 90.0f, 90.0f};
  ASSERT_TRUE(BuildFirstCell(
      c, "P 1", cell, {{"C1", "C", 0.4f, 0.5f, 0.5f}, {"C2", "C", 0.6f, 0.5f, 0.5f}, {"O1", "O", 0.5f, 0.8f, 0.5f}}));
  c.molecule = 1;
  SortIndexOfVisibleAtoms(c);
  const float fixed[3] = {c.atoms[2].cart[0], c.atoms[2].cart[1], c.atoms[2].cart[2]};
  const float a0[3] = {c.atoms[0].cart[0], c.atoms[0].cart[1], c.atoms[0].cart[2]};
  const float a1[3] = {c.atoms[1].cart[0], c.atoms[1].cart[1], c.atoms[1].cart[2]};
  c.atoms[0].selected = c.atoms[1].selected = 1;
  const float half[3] = {0.0f, 0.0f, 180.0f};
  ASSERT_TRUE(RotateSelectionXYZ(&c, half));
  for (int k = 0; k < 3; k++) {
    EXPECT_NEAR(c.atoms[0].cart[k], a1[k], 1e-4f);
    EXPECT_NEAR(c.atoms[1].cart[k], a0[k], 1e-4f);
    EXPECT_EQ(c.atoms[2].cart[k], fixed[k]);
    EXPECT_NEAR(c.sites[0].xyz[k], c.atoms[0].xyz[k], 1e-6f);
  }
  // Without a sort index nothing turns.
  DestroySortIndex(&c);
  EXPECT_FALSE(RotateSelectionXYZ(&c, half));
  // Nor without a selection.
  SortIndexOfVisibleAtoms(c);
  SetCrystalAtomSelectionNone(&c);
  EXPECT_FALSE(RotateSelectionXYZ(&c, half));
}

TEST(RotateSelectionTest, ACrystalMovesEveryImageOfItsSitesAndRefusesTwoImagesOfOne) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildMonoclinic(c));
  ASSERT_TRUE(SetPlotRange(w.ref(), 0.0f, 1.999f, 0.0f, 0.999f, 0.0f, 0.999f)); // two cells along a
  ASSERT_EQ(c.atomCount, 4);
  SortIndexOfVisibleAtoms(c);
  // Atoms 0 and 1 are the two images of site C1, 2 and 3 of O1.
  c.atoms[0].selected = 1;
  c.atoms[2].selected = 1;
  const float image1[3] = {c.atoms[1].xyz[0], c.atoms[1].xyz[1], c.atoms[1].xyz[2]};
  const float before[3] = {c.atoms[0].xyz[0], c.atoms[0].xyz[1], c.atoms[0].xyz[2]};
  const float angles[3] = {0.0f, 0.0f, 90.0f};
  ASSERT_TRUE(RotateSelectionXYZ(&c, angles));
  for (int k = 0; k < 3; k++) {
    const float delta = c.atoms[0].xyz[k] - before[k];
    EXPECT_NEAR(c.atoms[1].xyz[k] - image1[k], delta, 1e-5f); // the image in the next cell follows
    EXPECT_NEAR(c.sites[0].xyz[k], c.atoms[0].xyz[k] - std::trunc(c.atoms[0].xyz[k]), 1e-6f);
  }
  float cart[3];
  MatMul(c.orientationMatrix, c.atoms[1].xyz, cart);
  for (int k = 0; k < 3; k++)
    EXPECT_FLOAT_EQ(c.atoms[1].cart[k], cart[k]);
  EXPECT_TRUE(host.alerts.empty());

  // Two visible selected images of one site cannot be turned.
  c.atoms[1].selected = 1;
  const float kept = c.atoms[0].xyz[0];
  EXPECT_FALSE(RotateSelectionXYZ(&c, angles));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].type, kAlertStopAlert);
  EXPECT_EQ(host.alerts[0].message, "Illegal rotation!");
  EXPECT_EQ(host.alerts[0].explanation,
            "Atoms of the same site type in different unit cells cannot be rotated. Please revise your selection.");
  EXPECT_EQ(c.atoms[0].xyz[0], kept);
}

namespace {
WindowRef gAskedFor = nullptr;
int gAsked = 0;
bool Refuse(WindowRef window) {
  gAskedFor = window;
  gAsked++;
  return false;
}
} // namespace

TEST(RotateSelectionTest, ACrystalWithSymmetryIsTurnedOnlyWithConsentToDiscardIt) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRockSalt(c));
  ASSERT_TRUE(SetPlotRange(w.ref(), 0.0f, 0.999f, 0.0f, 0.999f, 0.0f, 0.999f));
  SortIndexOfVisibleAtoms(c);
  c.atoms[0].selected = 1;
  c.atoms[4].selected = 1;
  const float before = c.atoms[0].cart[0];
  const float angles[3] = {0.0f, 0.0f, 30.0f};
  // No consent to ask: the symmetry stays and nothing turns.
  EXPECT_FALSE(RotateSelectionXYZ(&c, angles));
  gDiscardSymmetryConsent = Refuse;
  gAsked = 0;
  EXPECT_FALSE(RotateSelectionXYZ(&c, angles));
  EXPECT_EQ(gAsked, 1);
  EXPECT_EQ(gAskedFor, w.ref());
  EXPECT_EQ(c.atoms[0].cart[0], before);
}

TEST(RotateSelectionTest, EllipsoidsTurnWithTheirAtoms) {
  CrystalRec c;
  const float cell[6] = {6.0f, 7.0f, 8.0f, 90.0f, 90.0f, 90.0f};
  ASSERT_TRUE(BuildFirstCell(c, "P 1", cell, {{"C1", "C", 0.3f, 0.4f, 0.5f}, {"O1", "O", 0.5f, 0.5f, 0.5f}}));
  c.ellipsoidData = 1;
  c.sites[0].displacementType = kDisplacementAnisoU;
  const float U[9] = {0.01f, 0.0f, 0.0f, 0.0f, 0.02f, 0.0f, 0.0f, 0.0f, 0.05f};
  std::copy(U, U + 9, c.sites[0].tensor);
  c.sites[1].displacementType = kDisplacementIsotropic;
  c.sites[1].isoValue = 0.02f;
  float before[2][3][3]; // Cartesian axis vectors
  for (int s = 0; s < 2; s++) {
    float axes[3][3];
    ASSERT_TRUE(GetEllipsoidAxes(&c, s, axes));
    for (int k = 0; k < 3; k++) {
      VecAdd(c.atoms[static_cast<size_t>(s)].xyz, axes[k], c.atoms[static_cast<size_t>(s)].ellipsoidAxes[k]);
      MatMul(c.orientationMatrix, axes[k], before[s][k]);
    }
  }
  SortIndexOfVisibleAtoms(c);
  c.atoms[0].selected = c.atoms[1].selected = 1;
  const float angles[3] = {0.0f, 0.0f, 90.0f};
  ASSERT_TRUE(RotateSelectionXYZ(&c, angles));
  float R[9];
  GetRotationMatrixFromAngles(0.0f, 0.0f, 90.0f, R);

  // Each new axis, from the atom's stored end points, is one of the turned
  // old axes (up to its sign); the anisotropic site's tensor gives them too.
  for (int s = 0; s < 2; s++) {
    float fromTensor[3][3];
    ASSERT_TRUE(GetEllipsoidAxes(&c, s, fromTensor));
    for (int k = 0; k < 3; k++) {
      float stored[3], storedCart[3], tensorCart[3];
      VecDiff(c.atoms[static_cast<size_t>(s)].ellipsoidAxes[k], c.atoms[static_cast<size_t>(s)].xyz, stored);
      MatMul(c.orientationMatrix, stored, storedCart);
      MatMul(c.orientationMatrix, fromTensor[k], tensorCart);
      for (const float *v : {storedCart, tensorCart}) {
        bool matched = false;
        for (int j = 0; j < 3 && !matched; j++) {
          float turned[3];
          MatMul(R, before[s][j], turned);
          float plus = 0.0f, minus = 0.0f;
          for (int d = 0; d < 3; d++) {
            plus += std::fabs(v[d] - turned[d]);
            minus += std::fabs(v[d] + turned[d]);
          }
          matched = std::min(plus, minus) < 1e-4f;
        }
        EXPECT_TRUE(matched) << "site " << s << " axis " << k;
      }
    }
  }
  // The tensor of the anisotropic site changed: it turned.
  EXPECT_GT(std::fabs(c.sites[0].tensor[0] - U[0]) + std::fabs(c.sites[0].tensor[4] - U[4]), 1e-4f);
}
