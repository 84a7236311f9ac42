// Hit-testing over plotted scenes: the pane positions come from the plot
// (checked against the projection computed here), clicks are in window
// coordinates (the test window's pane sits at (10, 20)).

#include "../model/StructureWindowFixture.h"
#include "SceneSupport.h"

#include "render/AnnotationObjects.h"
#include "render/HitTesting.h"

#include <gtest/gtest.h>

using namespace viewtest;

namespace {

constexpr int kW = 400, kH = 300;
constexpr int kPaneLeft = 10, kPaneTop = 20;

// The window point over view coordinates (x, y) of the scene (20 px/A,
// centre at the origin).
Point Click(float x, float y, int dx = 0, int dy = 0) {
  return Point{static_cast<int16_t>(scene::ExpectedPixel(-y * 20.0f, kH / 2.0f) + kPaneTop + dy),
               static_cast<int16_t>(scene::ExpectedPixel(x * 20.0f, kW / 2.0f) + kPaneLeft + dx)};
}

// Atom 0 at the centre behind, atom 1 half an Angstrom right and in front,
// atom 2 far right and behind, bonded to atom 1. Radii 1 A.
void Scene(TestWindow &w) {
  CrystalRec &c = w.crystal();
  scene::Build(c, {{1.0f, RGBColor{65535, 0, 0}, 14}},
               {{0.0f, 0.0f, 0.0f, 0}, {0.5f, 0.0f, 1.0f, 0}, {4.0f, 0.0f, -1.0f, 0}});
  c.showUnitCell = c.showAxes = 0;
  c.atoms[1].bonds = {2};
  c.atoms[1].bondCount = 1;
  c.atoms[2].bonds = {1};
  c.atoms[2].bondCount = 1;
  ResetOffScreen(w.ref());
  PlotCrystal(w.ref(), kPlotToWindow);
  const Point centre = Click(0.0f, 0.0f);
  ASSERT_EQ(c.atoms[0].pixel[0], centre.h - kPaneLeft);
  ASSERT_EQ(c.atoms[0].pixel[1], centre.v - kPaneTop);
}

struct Hit {
  int16_t kind = -1;
  int32_t index = -1, radius = -1;
};
Hit Find(TestWindow &w, Point p) {
  Hit h;
  FindClickedObject(w.ref(), p, &h.kind, &h.index, &h.radius);
  return h;
}

} // namespace

TEST(HitTesting, FrontAtomWinsAndRadiiFollowTheModel) {
  FakeHost host;
  TestWindow w(host, kW, kH);
  Scene(w);
  CrystalRec &c = w.crystal();
  // Both balls cover a point between them; the front one wins. Its radius
  // is its radius of 1 A at 20 pixels per Angstrom.
  Hit h = Find(w, Click(0.2f, 0.0f));
  EXPECT_EQ(h.kind, kHitAtom);
  EXPECT_EQ(h.index, 1);
  EXPECT_EQ(h.radius, 20);
  EXPECT_EQ(Find(w, Click(-0.9f, 0.0f)).index, 0); // only the back ball
  EXPECT_EQ(Find(w, Click(0.0f, 5.0f)).kind, kHitNothing);

  c.modelType = kWireFrameModel;
  EXPECT_EQ(Find(w, Click(-0.5f, 0.0f)).kind, kHitNothing); // 10 px off, radius 5
  EXPECT_EQ(Find(w, Click(4.0f, 0.0f, 4)).radius, kWireFrameHitRadius);
  c.modelType = kSpaceFillingModel;
  c.spheres[0].bounds1.right = 4; // an image 4 wide: a radius of 2 becomes 10
  EXPECT_EQ(Find(w, Click(4.0f, 0.0f, 0, 9)).radius, kSmallHitRadius);
}

TEST(HitTesting, VectorsInFrontOfTheHitAtomWin) {
  FakeHost host;
  TestWindow w(host, kW, kH);
  Scene(w);
  CrystalRec &c = w.crystal();
  VectorRecord v;
  v.atom = 0;
  v.headRadius = 0.5f;
  v.tipCart[2] = 5.0f; // towards the viewer from the back atom
  c.vectors = {v};
  c.vectorCount = 1;
  Hit h = Find(w, Click(0.0f, 0.0f));
  EXPECT_EQ(h.kind, kHitVector);
  EXPECT_EQ(h.index, 0);
  EXPECT_EQ(h.radius, 10);
  c.vectors[0].tipCart[2] = 0.5f; // behind the front atom
  h = Find(w, Click(0.0f, 0.0f));
  EXPECT_EQ(h.kind, kHitAtom);
  EXPECT_EQ(h.index, 1);
}

TEST(HitTesting, AnnotationPartsTopmostFirst) {
  FakeHost host;
  TestWindow w(host, kW, kH);
  Scene(w);
  CrystalRec &c = w.crystal();
  TextBoxRecord box;
  box.boxRect = MakeRect(100, 50, 160, 80);
  TextBoxRecord line;
  line.kind = kAnnotationLine;
  line.hasPointer = line.pointerTwoEnds = 1;
  line.pixel1 = Point{200, 20};
  line.pixel2 = Point{200, 120};
  TextBoxRecord over = box; // a later box over the first one's right half
  over.boxRect = MakeRect(140, 50, 200, 80);
  c.textBoxes = {box, line, over};
  c.textBoxCount = 3;
  auto kindAt = [&](int h, int v) {
    Hit hit = Find(w, Point{static_cast<int16_t>(v + kPaneTop), static_cast<int16_t>(h + kPaneLeft)});
    return std::pair<int16_t, int32_t>{hit.kind, hit.index};
  };
  EXPECT_EQ(kindAt(120, 65), std::make_pair(int16_t(kHitAnnotationInside), 0));
  EXPECT_EQ(kindAt(150, 65), std::make_pair(int16_t(kHitAnnotationInside), 2));
  EXPECT_EQ(kindAt(100, 50), std::make_pair(int16_t(kHitAnnotationResizeFirst), 0));
  EXPECT_EQ(kindAt(100, 80), std::make_pair(int16_t(kHitAnnotationResizeFirst + 5), 0));
  EXPECT_EQ(kindAt(115, 48), std::make_pair(int16_t(kHitAnnotationBand), 0));
  EXPECT_EQ(kindAt(20, 200), std::make_pair(int16_t(kHitAnnotationTip), 1));
  EXPECT_EQ(kindAt(120, 200), std::make_pair(int16_t(kHitAnnotationAnchor), 1));
  EXPECT_EQ(kindAt(70, 197), std::make_pair(int16_t(kHitAnnotationLine), 1));
  EXPECT_EQ(kindAt(70, 196).first, kHitNothing); // 4 pixels off the line
}

TEST(HitTesting, BondsFromTheirNearerEndIncludingTheFarAtomItself) {
  FakeHost host;
  TestWindow w(host, kW, kH);
  Scene(w);
  int32_t a = -1, b = -1;
  EXPECT_TRUE(FindClickedBond(w.ref(), Click(2.25f, 0.0f, 0, 4), &a, &b));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  // On the far atom's centre (no distance left to divide by).
  a = b = -1;
  EXPECT_TRUE(FindClickedBond(w.ref(), Click(4.0f, 0.0f), &a, &b));
  EXPECT_EQ(a, 1);
  // Outside the box of the bond grown by 5 pixels.
  EXPECT_FALSE(FindClickedBond(w.ref(), Click(2.25f, 0.0f, 0, 6), &a, &b));
  EXPECT_FALSE(FindClickedBond(w.ref(), Click(4.0f, 0.0f, 3), &a, &b)); // past the end
}

TEST(HitTesting, PointInPolyhedronFaces) {
  CrystalRec c;
  c.atoms.resize(4);
  c.atomCount = 4;
  const int16_t px[4][2] = {{10, 10}, {50, 10}, {10, 50}, {20, 20}};
  for (int k = 0; k < 4; k++)
    std::copy(px[k], px[k] + 2, c.atoms[static_cast<size_t>(k)].pixel);
  Polyhedron poly;
  poly.centreAtom = 3;
  poly.faceCount = 1;
  poly.faces = {PolyFace{3, {0, 1, 2}}};
  EXPECT_TRUE(My2DPtInPoly(&c, Point{20, 20}, &poly));
  EXPECT_FALSE(My2DPtInPoly(&c, Point{45, 45}, &poly)); // inside the box, outside the triangle
  EXPECT_FALSE(My2DPtInPoly(&c, Point{60, 20}, &poly));
  EXPECT_FALSE(My2DPtInPoly(&c, Point{20, 20}, nullptr));
}
