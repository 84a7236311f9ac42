#include "render/PlotPipeline.h"
#include "render/UnitCellFrame.h"

#include "../model/StructureWindowFixture.h"

#include "BuildPipeline.h"
#include "EllipsoidMaths.h"
#include "export/PictureExport.h"
#include "graphics/QtBridge.h"
#include "render/OffScreen.h"
#include "render/TextDrawing.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

#include <unistd.h>

using namespace ovgfx;

using namespace viewtest;

namespace {

// A one-site P 1 crystal of the given cell, shown 0 to 0.999.
bool BuildSimple(CrystalRec &c, float edge = 10.0f) {
  const float cell[6] = {edge, edge, edge, 90.0f, 90.0f, 90.0f};
  return BuildFirstCell(c, "P 1", cell, {{"C1", "C", 0.5f, 0.5f, 0.5f}});
}

} // namespace

// ---- The plot's bookkeeping ------------------------------------------------------

TEST(PlotCrystalTest, AScaleBelowTheMinimumIsRefusedAndNothingElseHappens) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildSimple(c));
  c.plotScale = 0.0005f;
  PlotCrystal(w.ref(), kPlotToWindow);
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].type, kAlertCautionAlert);
  EXPECT_EQ(host.alerts[0].message, "zero scale!");
  EXPECT_EQ(host.alerts[0].explanation, "");
  EXPECT_TRUE(host.arms.empty());
  EXPECT_FALSE(IsWindowUndoStatePending(w.ref()));

  c.plotScale = std::nanf("");
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(host.alerts.size(), 2u);
  EXPECT_TRUE(host.arms.empty());

  c.plotScale = 0.001f;
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(host.alerts.size(), 2u);
  EXPECT_TRUE(IsWindowUndoStatePending(w.ref()));
  EXPECT_TRUE(host.IsArmed(gUndoBufferTimer));
}

TEST(PlotCrystalTest, EveryPlotPostponesTheUndoSnapshot) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildSimple(c));
  int snapshots = 0;
  gUndoBufferTimer.proc = [&] { snapshots++; };
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_DOUBLE_EQ(host.SecondsUntil(gUndoBufferTimer), kUndoSnapshotDelay);
  host.Advance(0.2);
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_DOUBLE_EQ(host.SecondsUntil(gUndoBufferTimer), kUndoSnapshotDelay);
  host.Advance(0.2);
  EXPECT_EQ(host.FireDueTimers(), 0); // postponed by the second plot
  host.Advance(0.1);
  EXPECT_EQ(host.FireDueTimers(), 1);
  EXPECT_EQ(snapshots, 1);
  EXPECT_FALSE(host.IsArmed(gRenderingReplotTimer)); // no fast frame was drawn

  // An auto-rotating window takes no snapshots.
  SetWindowAutoRotating(w.ref(), true);
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_FALSE(host.IsArmed(gUndoBufferTimer));
  SetWindowAutoRotating(w.ref(), false);
  gUndoBufferTimer.proc = nullptr;
}

TEST(PlotCrystalTest, FastFramesDuringADragArmTheFullQualityReplot) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildSimple(c));
  ResetOffScreen(w.ref()); // a window without images draws no frames at all
  InstallRenderingReplotTimer();
  gTrackBallRotn = 1;
  gPrefs.fastRotation = 1;

  // Nothing bonded and no vectors: frames are drawn in full quality.
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(gUseFastRotn, 0);
  EXPECT_FALSE(host.IsArmed(gRenderingReplotTimer));

  // With bonds the frame is a fast one and the replot follows 2 s later.
  c.bondSpecCount = 1;
  c.sites[0].coordination = 4;
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(gUseFastRotn, 1);
  EXPECT_DOUBLE_EQ(host.SecondsUntil(gRenderingReplotTimer), kFullQualityReplotDelay);
  host.Advance(1.0);
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_DOUBLE_EQ(host.SecondsUntil(gRenderingReplotTimer), kFullQualityReplotDelay);

  // The drag ends; the replot clears the fast mode and leaves the change flag.
  gTrackBallRotn = 0;
  ForgetWindowChanges(w.ref());
  host.Advance(2.0);
  host.FireDueTimers();
  EXPECT_EQ(gUseFastRotn, 0);
  EXPECT_FALSE(IsWindowUndoStatePending(w.ref()));
  EXPECT_TRUE(host.IsArmed(gUndoBufferTimer)); // it did plot

  // Without the fast-rotation preference there are no fast frames; thermal
  // ellipsoids are fast whether bonded or not.
  gTrackBallRotn = 1;
  gPrefs.fastRotation = 0;
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(gUseFastRotn, 0);
  gPrefs.fastRotation = 1;
  c.bondSpecCount = 0;
  c.modelType = kThermalEllipsoidModel;
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(gUseFastRotn, 1);
  gRenderingReplotTimer.proc = nullptr;
}

TEST(PlotCrystalTest, AnUnknownStereoModeIsReportedAndTurnedOff) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildSimple(c));
  c.stereoOn = 1;
  c.stereoMode = 3;
  PlotCrystal(w.ref(), kPlotToWindow);
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Unknown stereo mode (3)");
  EXPECT_EQ(host.alerts[0].explanation,
            "An unknown stereo mode was detected, possibly caused by corrupted preferences. You may need to reset "
            "your preferences to the factory settings to correct this problem.");
  EXPECT_EQ(c.stereoMode, kRedBlueStereo);
  EXPECT_EQ(c.stereoOn, 0);
  EXPECT_EQ(c.stereoImageInProgress, kStereoSingleImage);
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(host.alerts.size(), 1u);
}

TEST(PlotCrystalTest, StereoTurnsTheViewForEachEyeAndPutsEverythingBack) {
  FakeHost host;
  TestWindow w(host, 501, 300);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildSimple(c));
  ResetOffScreen(w.ref());
  float start[9];
  Copy3x3Mat(start, c.orientationMatrix);
  c.stereoOn = 1;
  c.stereoMode = kSideBySideStereo;
  c.stereoAngle = 6.0f;
  PlotCrystal(w.ref(), kPlotToWindow);
  Rect bounds;
  GetWindowOffBounds(w.ref(), &bounds);
  EXPECT_EQ(bounds.left, 0);
  EXPECT_EQ(bounds.right, 501);
  EXPECT_EQ(gHPixels, 251); // the last eye was drawn into the left half
  EXPECT_LT(MatrixDifference(c.orientationMatrix, start), 1e-5);
  EXPECT_EQ(c.stereoImageInProgress, kStereoSecondImage);

  c.stereoMode = kRedBlueStereo;
  c.stereoSeparation = 6.0f;
  const float centreX = c.plotCentre[0];
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(c.plotCentre[0], centreX);
  EXPECT_EQ(gHPixels, 501);
  EXPECT_LT(MatrixDifference(c.orientationMatrix, start), 1e-5);
}

TEST(PlotCrystalTest, RedBlueStereoLeavesThePlotCentreWhereItWas) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildSimple(c));
  // A centre off the view's axes moves with each eye's turn; each eye's
  // shift must be taken from, and put back to, the turned centre.
  c.plotCentre[0] = 7.0f;
  c.plotCentre[1] = -2.0f;
  c.plotCentre[2] = 4.0f;
  const float start[3] = {c.plotCentre[0], c.plotCentre[1], c.plotCentre[2]};
  c.stereoOn = 1;
  c.stereoMode = kRedBlueStereo;
  c.stereoAngle = 20.0f;
  c.stereoSeparation = 6.0f;
  PlotCrystal(w.ref(), kPlotToWindow);
  for (int k = 0; k < 3; k++)
    EXPECT_NEAR(c.plotCentre[k], start[k], 1e-4f) << k;
}

TEST(PlotCrystalTest, TheLinkedProgramHearsOfACrystalsNewView) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildSimple(c));
  gPrefs.sendOrientationToLink = 1;
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(host.orientationSends.size(), 0u); // not linked
  c.diffractionLinkID = 3;
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(host.orientationSends.size(), 1u);
  c.molecule = 1;
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(host.orientationSends.size(), 1u);
  c.molecule = 0;
  gPrefs.sendOrientationToLink = 0;
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(host.orientationSends.size(), 1u);
  // No way to reach the linked program: nothing is claimed to have been sent.
  host.linkSender = false;
  EXPECT_NE(AESendOrientationMatrix(&c), 0);
}

TEST(NewPlotTest, ReplotsRefreshTheWindowAndCloseTheStatus) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildSimple(c));
  c.minAtomRadius = 0.0f;
  const float along[3] = {1.0f, 1.0f, 0.0f};
  CopyVector(c.viewDirection, along);
  gShowProgress = 1;
  WriteStatus("Drawing the structure...");
  host.Advance(1.0);
  WriteStatus("Drawing the structure...");
  NewPlot(w.ref(), true, true);
  float v[3];
  MatMul(c.orientationMatrix, along, v);
  EXPECT_NEAR(v[0], 0.0f, 1e-5f);
  EXPECT_NEAR(v[1], 0.0f, 1e-5f);
  EXPECT_FLOAT_EQ(c.minAtomRadius, 0.4f); // max(0.2, 0.4 x 1.0)
  EXPECT_EQ(host.rulersDrawn.size(), 1u);
  EXPECT_EQ(host.siteBrowserUpdates.size(), 1u);
  EXPECT_EQ(host.atomPickerUpdates, 1);
  ASSERT_FALSE(host.status.empty());
  EXPECT_FALSE(host.status.back().shown);

  // During a drag, or with the button still down, the browsers wait.
  gShowProgress = 0;
  gTrackBallRotn = 1;
  NewPlot(w.ref(), false, false);
  gTrackBallRotn = 0;
  host.mouseDown = true;
  NewPlot(w.ref(), false, false);
  EXPECT_EQ(host.rulersDrawn.size(), 3u);
  EXPECT_EQ(host.siteBrowserUpdates.size(), 1u);
  EXPECT_EQ(host.atomPickerUpdates, 1);
  NewPlot(nullptr, true, true); // no window: nothing
}

// ---- Off-screen images -----------------------------------------------------------

TEST(ResetOffScreenTest, ImagesFollowThePaneAndTheStereoAndSurfaceSettings) {
  FakeHost host;
  TestWindow w(host, 400, 300);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildSimple(c));
  ResetOffScreen(w.ref());
  Rect bounds;
  GetWindowOffBounds(w.ref(), &bounds);
  EXPECT_EQ(bounds, (Rect{0, 0, 300, 400}));
  PixelBuffer *main = OffScreenPixels(GetWindowOffScreen(w.ref()));
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->Width(), 400);
  EXPECT_EQ(main->Height(), 300);
  EXPECT_EQ(main->Depth(), 32);
  EXPECT_EQ(GetWindowOffScreenOverlay(w.ref()), nullptr);
  EXPECT_EQ(GetWindowTransferBuffer(w.ref()), nullptr);

  c.surfaceOverlay = 1;
  c.stereoOn = 1;
  c.stereoMode = kRedBlueStereo;
  host.graphPanes[w.ref()] = Rect{0, 0, 120, 160};
  ResetOffScreen(w.ref());
  ASSERT_NE(OffScreenPixels(GetWindowOffScreenOverlay(w.ref())), nullptr);
  EXPECT_EQ(OffScreenPixels(GetWindowOffScreenOverlay(w.ref()))->Width(), 160);
  ASSERT_NE(OffScreenPixels(GetWindowTransferBuffer(w.ref())), nullptr);
  EXPECT_EQ(OffScreenPixels(GetWindowTransferBuffer(w.ref()))->Height(), 120);

  // Side-by-side stereo needs no transfer image; an empty pane gets no images
  // and no alert.
  c.stereoMode = kSideBySideStereo;
  ResetOffScreen(w.ref());
  EXPECT_EQ(GetWindowTransferBuffer(w.ref()), nullptr);
  host.graphPanes[w.ref()] = Rect{};
  ResetOffScreen(w.ref());
  EXPECT_EQ(GetWindowOffScreen(w.ref()), nullptr);
  EXPECT_TRUE(host.alerts.empty());

  OVImageHandle image;
  EXPECT_EQ(MakeGWorld(image, Rect{0, 0, 0, 10}, 32), -50);
  EXPECT_EQ(image, nullptr);
  EXPECT_EQ(MakeGWorld(image, Rect{0, 0, 4, 10}, 1), 0);
  EXPECT_EQ(OffScreenPixels(image)->Depth(), 1);
  ResetOffScreen(nullptr);
}

// ---- Atom-type radii -------------------------------------------------------------

namespace {

// Two sites: a small atom (radius 0.3) and a large one (radius 1.0).
bool BuildTwoTypes(CrystalRec &c) {
  const float cell[6] = {10.0f, 10.0f, 10.0f, 90.0f, 90.0f, 90.0f};
  return BuildFirstCell(c, "P 1", cell, {{"H1", "H", 0.1f, 0.1f, 0.1f, 0.3f}, {"O1", "O", 0.5f, 0.5f, 0.5f, 1.0f}});
}

} // namespace

TEST(RenderSpheresTest, DrawnRadiiAndTheSmallestRadiusFollowTheModel) {
  CrystalRec c;
  ASSERT_TRUE(BuildTwoTypes(c));
  // Ball and stick: max(0.2, 0.4 r).
  ASSERT_TRUE(RenderSpheres(&c));
  EXPECT_FLOAT_EQ(c.spheres[0].drawnRadius, 0.2f);
  EXPECT_FLOAT_EQ(c.spheres[1].drawnRadius, 0.4f);
  EXPECT_FLOAT_EQ(c.minAtomRadius, 0.2f);
  // Space filling: the radius itself.
  c.modelType = kSpaceFillingModel;
  ASSERT_TRUE(RenderSpheres(&c));
  EXPECT_FLOAT_EQ(c.spheres[0].drawnRadius, 0.3f);
  EXPECT_FLOAT_EQ(c.spheres[1].drawnRadius, 1.0f);
  // Stick: a site with neighbours is a ball joint of 1.1 x 0.5 x the smallest.
  c.modelType = kStickModel;
  c.sites[1].coordination = 2;
  ASSERT_TRUE(RenderSpheres(&c));
  EXPECT_FLOAT_EQ(c.spheres[0].drawnRadius, 0.2f);
  EXPECT_FLOAT_EQ(c.spheres[1].drawnRadius, 1.1f * 0.5f * 0.2f);
  // Wire frame draws no atom images: the smallest radius is 0.
  c.modelType = kWireFrameModel;
  ASSERT_TRUE(RenderSpheres(&c));
  EXPECT_EQ(c.minAtomRadius, 0.0f);
  // Without visible atoms ball and stick renders nothing either.
  c.modelType = kBallAndStickModel;
  for (AtomRecord &a : c.atoms)
    a.visible = 0;
  ASSERT_TRUE(RenderSpheres(&c));
  EXPECT_EQ(c.minAtomRadius, 0.0f);
  // No atom types: not ready.
  DestroySpheresArray(&c);
  EXPECT_FALSE(RenderSpheres(&c));
}

TEST(RenderSpheresTest, PolyhedralSitesShowTheirAtomsByMode) {
  CrystalRec c;
  ASSERT_TRUE(BuildTwoTypes(c));
  c.modelType = kPolyhedralModel;
  SetGivenPolyMode(c.sites[0], 13);
  SetGivenPolyMode(c.sites[1], 13);
  ASSERT_TRUE(RenderSpheres(&c));
  EXPECT_EQ(c.spheres[0].drawnRadius, 0.0f);
  EXPECT_EQ(c.spheres[1].drawnRadius, 0.0f);
  EXPECT_FLOAT_EQ(c.minAtomRadius, 0.2f); // the minimum ball-and-stick radius
  // Mode 12 with neighbours is a ball joint; mode 2 a ball; a hidden atom on
  // a site that shows atoms still gets its radius.
  SetGivenPolyMode(c.sites[0], 2);
  SetGivenPolyMode(c.sites[1], 12);
  c.sites[1].coordination = 4;
  c.atoms[0].visible = 0;
  ASSERT_TRUE(RenderSpheres(&c));
  EXPECT_FLOAT_EQ(c.spheres[0].drawnRadius, 0.2f);
  EXPECT_FLOAT_EQ(c.spheres[1].drawnRadius, 1.1f * 0.5f * 0.2f);
  EXPECT_EQ(RenderSpheresPoly(&c), 1); // only the visible one gets an image
}

TEST(RenderSpheresTest, ThermalEllipsoidsMeasureTheirAxes) {
  CrystalRec c;
  ASSERT_TRUE(BuildTwoTypes(c));
  c.modelType = kThermalEllipsoidModel;
  // Without displacement data every drawn radius stays 0 and the smallest
  // radius is the ball-and-stick one.
  ASSERT_TRUE(RenderSpheres(&c));
  EXPECT_EQ(c.spheres[0].drawnRadius, 0.0f);
  EXPECT_FLOAT_EQ(c.minAtomRadius, 0.2f);

  c.ellipsoidData = 1;
  c.sites[0].displacementType = kDisplacementIsotropic;
  c.sites[0].isoValue = 0.01f;
  c.sites[1].displacementType = kDisplacementAnisoU;
  const float U[9] = {0.01f, 0, 0, 0, 0.04f, 0, 0, 0, 0.09f};
  std::copy(U, U + 9, c.sites[1].tensor);
  ASSERT_TRUE(RenderSpheres(&c));
  float axes[3][3];
  ASSERT_TRUE(GetEllipsoidAxes(&c, 1, axes));
  float longest = 0.0f, shortest = 1e9f;
  for (const float *axis : axes) {
    float cart[3];
    MatMul(c.orientationMatrix, axis, cart);
    longest = std::max(longest, Magnitude(cart));
    shortest = std::min(shortest, Magnitude(cart));
  }
  EXPECT_NEAR(c.spheres[1].drawnRadius, longest, 1e-5f);
  EXPECT_NEAR(longest / shortest, 3.0f, 1e-4f);  // sqrt(0.09 / 0.01)
  EXPECT_NEAR(c.minAtomRadius, shortest, 1e-5f); // the isotropic site's radius is as short

  // A site drawn as a plain sphere takes the sphere radius.
  c.sites[0].ignoreEllipsoid = 1;
  ASSERT_TRUE(RenderSpheres(&c));
  EXPECT_FLOAT_EQ(c.spheres[0].drawnRadius, 0.2f);
  EXPECT_NEAR(c.minAtomRadius, shortest, 1e-5f);
  c.sites[1].ignoreEllipsoid = 1;
  c.ellipsoidSphereRadius = 0.1f;
  ASSERT_TRUE(RenderSpheres(&c));
  EXPECT_FLOAT_EQ(c.minAtomRadius, 0.1f);

  // An atom type no site draws takes the radius of an earlier, larger one
  // of its element.
  c.sites[1].ignoreEllipsoid = 0;
  ASSERT_NE(AppendBlankSphere(&c), nullptr);
  c.spheres[2].element = c.spheres[1].element;
  ASSERT_TRUE(RenderSpheres(&c));
  EXPECT_GT(c.spheres[1].drawnRadius, 0.1f);
  EXPECT_EQ(c.spheres[2].drawnRadius, c.spheres[1].drawnRadius);
}

// ---- Unit-cell frame ------------------------------------------------------------

namespace {

// The frame of a 10 A cube at the given scale, seen along c.
void FrameCube(CrystalRec &c, float scale, float lineWidth = 1.0f) {
  ASSERT_TRUE(BuildSimple(c));
  c.plotScale = scale;
  c.unitCellLineWidth = lineWidth;
  for (int k = 0; k < 3; k++) {
    c.plotRange[2 * k] = 0.0f;
    c.plotRange[2 * k + 1] = 1.0f;
  }
  gHPixels = 400;
  gVPixels = 300;
  MakeUnitCell(&c);
}

} // namespace

TEST(UnitCellFrameTest, ARangeOfOneCellFramesOneCellInEvenlySplitEdges) {
  CrystalRec c;
  FrameCube(c, 10.0f); // a and b edges 100 pixels, c seen end-on
  // a and b: floor(100 / 3 + 1) = 34 points; c: s = 1, made even: 2.
  const int64_t na = 34, nb = 34, ncPts = 2;
  ASSERT_EQ(c.cellPointCount, 4 * na + 4 * nb + 4 * ncPts);
  // The first a-line runs from the origin to (1, 0, 0), evenly spaced.
  float origin[3], end[3];
  const float zero[3] = {0, 0, 0}, ex[3] = {1, 0, 0};
  MatMul(c.orientationMatrix, zero, origin);
  MatMul(c.orientationMatrix, ex, end);
  for (int k = 0; k < 3; k++) {
    EXPECT_NEAR(c.cellPoints[0].cart[k], origin[k], 1e-5f);
    EXPECT_NEAR(c.cellPoints[na - 1].cart[k], end[k], 1e-5f);
  }
  // Dashed: pairs (0, 1), (2, 3), ... are linked; the last piece is drawn.
  EXPECT_EQ(c.cellPoints[0].linkCount, 1);
  EXPECT_EQ(c.cellPoints[0].links[0], 1u);
  EXPECT_EQ(c.cellPoints[1].linkCount, 1);
  EXPECT_EQ(c.cellPoints[2].links[0], 3u);
  EXPECT_EQ(c.cellPoints[na - 1].linkCount, 1);
  EXPECT_EQ(c.cellPoints[na - 1].links[0], static_cast<uint32_t>(na - 2));
  // The corner labels: origin, ends of the first a-, b- and c-lines.
  const size_t labelled[] = {0, na - 1, 4 * na + nb - 1, 4 * na + 4 * nb + ncPts - 1};
  int count = 0;
  for (const CellPoint &p : c.cellPoints)
    count += p.labelled;
  EXPECT_EQ(count, 4);
  for (size_t i : labelled)
    EXPECT_EQ(c.cellPoints[i].labelled, 1) << i;
  // Pixels: the origin corner of a cube centred at the plot centre.
  float centre[3];
  const float half[3] = {0.5f, 0.5f, 0.5f};
  MatMul(c.orientationMatrix, half, centre);
  CopyVector(c.plotCentre, centre);
  MakeUnitCell(&c);
  const float *o = c.cellPoints[0].cart;
  EXPECT_EQ(c.cellPoints[0].pixel[0], std::lround((o[0] - centre[0]) * 10.0f + 200.0f));
  EXPECT_EQ(c.cellPoints[0].pixel[1], std::lround(150.0f - (o[1] - centre[1]) * 10.0f));
  EXPECT_EQ(std::abs(c.cellPoints[0].pixel[0] - 200), 50);
  EXPECT_EQ(std::abs(c.cellPoints[0].pixel[1] - 150), 50);

  // Solid lines link every neighbour; without the label option none is
  // labelled.
  c.unitCellOptions[kCellOptionSolidLines] = 1;
  c.unitCellOptions[kCellOptionLabelCorners] = 0;
  MakeUnitCell(&c);
  EXPECT_EQ(c.cellPoints[1].linkCount, 2);
  for (const CellPoint &p : c.cellPoints)
    EXPECT_EQ(p.labelled, 0);
}

TEST(UnitCellFrameTest, PiecesFollowTheLineWidthAndAreCappedPerEdge) {
  CrystalRec c;
  FrameCube(c, 10.0f, 5.0f); // pieces of 5 pixels: floor(100 / 5 + 1) = 21, made even
  EXPECT_EQ(c.cellPointCount, 4 * 22 + 4 * 22 + 4 * 2);
  CrystalRec big;
  FrameCube(big, 100.0f); // 1000 pixels: capped at 128
  EXPECT_EQ(big.cellPointCount, 4 * 128 + 4 * 128 + 4 * 2);
  CrystalRec none;
  FrameCube(none, 0.0f); // nothing to measure by: two points per edge
  EXPECT_EQ(none.cellPointCount, 12 * 2);
}

TEST(UnitCellFrameTest, CellsTheRangeBarelyReachesAreNotFramed) {
  CrystalRec c;
  FrameCube(c, 10.0f);
  // 0.9 to 2.1 along a: only the cell from 1 to 2.
  c.plotRange[0] = 0.9f;
  c.plotRange[1] = 2.1f;
  MakeUnitCell(&c);
  const int64_t na = 34, nb = 34, ncPts = 2;
  ASSERT_EQ(c.cellPointCount, 4 * na + 4 * nb + 4 * ncPts);
  float first[3];
  const float one[3] = {1, 0, 0};
  MatMul(c.orientationMatrix, one, first);
  EXPECT_NEAR(c.cellPoints[0].cart[0], first[0], 1e-5f);
  // 0 to 2.8: the cells 0, 1 and 2 (2.8 reaches 0.8 into the third).
  c.plotRange[0] = 0.0f;
  c.plotRange[1] = 2.8f;
  MakeUnitCell(&c);
  EXPECT_EQ(c.cellPointCount, 4 * 3 * na + 2 * 4 * nb + 2 * 4 * ncPts);
  // One cell only: the cell holding the middle of the range.
  c.unitCellOptions[kCellOptionOneCellOnly] = 1;
  c.plotRange[1] = 3.0f; // middle 1.5: cell 1
  MakeUnitCell(&c);
  ASSERT_EQ(c.cellPointCount, 4 * na + 4 * nb + 4 * ncPts);
  EXPECT_NEAR(c.cellPoints[0].cart[0], first[0], 1e-5f);
}

TEST(UnitCellFrameTest, APointTakesAtMostTwoLinks) {
  std::vector<CellPoint> points(4);
  AddCellPointLine(points, 0, 1);
  AddCellPointLine(points, 0, 2);
  AddCellPointLine(points, 0, 3); // a third link is ignored
  AddCellPointLine(points, 1, 1); // and a link to itself
  AddCellPointLine(points, 1, 9); // and a point that is not there
  EXPECT_EQ(points[0].linkCount, 2);
  EXPECT_EQ(points[0].links[0], 1u);
  EXPECT_EQ(points[0].links[1], 2u);
  EXPECT_EQ(points[1].linkCount, 1);
  EXPECT_EQ(points[3].linkCount, 0);
}

// ---- The pixel box with labels ---------------------------------------------------

TEST(PixelBoxLabelTest, LabelledAtomsLeaveRoomForTheirLabels) {
  CrystalRec c;
  ASSERT_TRUE(BuildSimple(c));
  c.showUnitCell = 0;
  c.plotScale = 10.0f;
  c.spheres[0].drawnRadius = 1.0f; // half-size 11
  c.atoms[0].pixel[0] = 100;
  c.atoms[0].pixel[1] = 100;
  c.atoms[0].labelled = 1;
  c.atomLabelType = 3;
  c.labelSize = 12.4f;
  c.labelFont = MakeStr255("DejaVu Sans");
  float width = 0.0f, height = 0.0f;
  CFStringGetSize("9999", "DejaVu Sans", 12.0f, width, height);
  ASSERT_GT(width, 0.0f);
  int16_t l, r, t, b;
  GetAtomsXpixRange(&c, &l, &r, &t, &b);
  const int dx = static_cast<int>(1.1f * width);
  EXPECT_EQ(l, 100 - 11 - dx);
  EXPECT_EQ(r, 100 + 11 + dx);
  EXPECT_EQ(t, 100 - 11 - 17); // round(1.4 x 12.4)
  EXPECT_EQ(b, 100 + 11 + 17);
}

// ---- Pictures larger than the window ------------------------------------------------

TEST(ExportAtSizeTest, AnAtomWiderThanHalfTheWindowKeepsItsSizeInALargerPicture) {
  FakeHost host;
  TestWindow w(host, 100, 80);
  CrystalRec &c = w.crystal();
  const float cell[6] = {10.0f, 10.0f, 10.0f, 90.0f, 90.0f, 90.0f};
  ASSERT_TRUE(BuildFirstCell(c, "P 1", cell, {{"C1", "C", 0.5f, 0.5f, 0.5f, 1.0f}}));
  ASSERT_TRUE(RunNewCrystal(w.ref(), false, true, false));
  c.modelType = kSpaceFillingModel;
  c.showUnitCell = 0;
  c.showAxes = 0;
  c.depthFading = 0;
  c.plotScale = 30.0f; // a 60-pixel ball in the 100 x 80 pane
  ResetOffScreen(w.ref());
  NewPlot(w.ref(), false, true);
  const float radius = c.spheres[c.atoms[0].atomType].drawnRadius;
  ASSERT_FLOAT_EQ(radius, 1.0f);

  // Four times the pane: 30 x 4 pixels per Angstrom, a ball 240 pixels
  // across, wider than the pane itself.
  const auto file = std::filesystem::temp_directory_path() / ("ovbigatom" + std::to_string(::getpid()) + ".png");
  host.savePaths.push_back(file);
  ASSERT_EQ(DoExportPixelGraphics(w.ref(), kPNGFileType, 400, 320, 72), 0);
  const QImage picture = QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_RGB32);
  std::filesystem::remove(file);
  ASSERT_EQ(picture.width(), 400);
  // The widest row of the ball: pixels unlike the background.
  const QRgb background = picture.pixel(0, 0);
  int widest = 0;
  for (int y = 0; y < picture.height(); y++) {
    int drawn = 0;
    for (int x = 0; x < picture.width(); x++)
      drawn += picture.pixel(x, y) != background ? 1 : 0;
    widest = std::max(widest, drawn);
  }
  EXPECT_NEAR(widest, 2.0f * radius * 120.0f, 3.0f);
}

TEST(ExportAtSizeTest, APngAtTheWindowsSizeHoldsTheWindowsPixels) {
  FakeHost host;
  TestWindow w(host, 120, 90);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRockSalt(c));
  ASSERT_TRUE(RunNewCrystal(w.ref(), false, true, true));
  ResetOffScreen(w.ref());
  NewPlot(w.ref(), false, true);
  const QImage shown = ovgfx::ImageView(*OffScreenPixels(GetWindowOffScreen(w.ref()))).copy();
  const auto file = std::filesystem::temp_directory_path() / ("ovsame" + std::to_string(::getpid()) + ".png");
  host.savePaths.push_back(file);
  ASSERT_EQ(DoExportPixelGraphics(w.ref(), kPNGFileType, 120, 90, 72), 0);
  const QImage written = QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_RGB32);
  std::filesystem::remove(file);
  EXPECT_EQ(written, shown.convertToFormat(QImage::Format_RGB32));
}
