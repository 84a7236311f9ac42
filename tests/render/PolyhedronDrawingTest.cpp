#include "SceneSupport.h"

#include "../model/PolyhedraStructures.h"

#include "Polyhedra.h"
#include "VectorMath.h"
#include "render/PolyhedronDrawing.h"
#include "render/RasterPrimitives.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace ovgfx;

namespace {

constexpr int kSize = 320;
constexpr RGBColor kTiColour{30000, 40000, 60000};

// A crystal in the polyhedral model, seen along a general direction, with
// one fully bonded centre chosen: its atoms projected into a kSize square
// at 40 pixels per Angstrom around that centre.
struct PolyScene {
  CrystalRec c;
  uint32_t centre = 0;

  explicit PolyScene(const polytest::CrystalInput &input) {
    EXPECT_EQ(polytest::BuildCrystal(c, input, 3, 3, 3, 2.0f), "");
    DefinePolyhedra(&c);
    c.modelType = kPolyhedralModel;
    const float view[3] = {1.0f, 2.0f, 3.0f};
    std::copy(view, view + 3, c.viewDirection);
    GetOrientationMatrix(c.viewDirection, c.metricTensor, c.orientationMatrix);
    for (AtomRecord &a : c.atoms)
      MatMul(c.orientationMatrix, a.xyz, a.cart);
    for (size_t k = 0; k < c.atoms.size(); ++k) {
      const AtomRecord &a = c.atoms[k];
      if (a.visible && AtomPolyhedron(&c, a) && a.bondCount == 6 && c.sites[a.site].elements[0] == polytest::Element("Ti")) {
        centre = uint32_t(k);
        break;
      }
    }
    // One atom type per site (the build gives each site its own index).
    c.spheres.assign(c.sites.size(), SphereRecord{});
    c.sphereCount = int32_t(c.spheres.size());
    for (SphereRecord &type : c.spheres)
      type.radius = 0.5f;
    c.spheres[c.atoms[centre].atomType].colour = kTiColour;
    c.backgroundColor = kRGBBlack;
    c.plotScale = 40.0f;
    std::copy(c.atoms[centre].cart, c.atoms[centre].cart + 3, c.plotCentre);
    RenderSpheres(&c);
    SortAtomsByHeight(&c, c.minAtomRadius);
    gHPixels = gVPixels = kSize;
    GetPixelCoords(&c, kSize, kSize);
  }

  void SetMode(uint32_t mode) { SetGivenPolyMode(c.sites[c.atoms[centre].site], mode); }

  // Draws the centre's polyhedron alone over a black background.
  std::unique_ptr<GraphicsPort> Draw() {
    auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, kSize, kSize), 32);
    port->Pixels()->Fill(0xFF000000u);
    PortSaver current(port.get());
    GetCurrentPixGlobals();
    MakePoly(&c, centre, 0.0f);
    DisposeCurrentPixGlobals();
    return port;
  }

  const AtomRecord &Centre() const { return c.atoms[centre]; }
};

// A face's unit normal pointing away from the centre atom, and its pixel
// centroid.
struct FaceView {
  float normal[3];
  int x, y;
};
FaceView ViewFace(const CrystalRec &c, const PolyFace &face, const AtomRecord &centre) {
  FaceView v{};
  const float *p0 = c.atoms[face.vertices[0]].cart, *p1 = c.atoms[face.vertices[1]].cart,
              *p2 = c.atoms[face.vertices[2]].cart;
  float e1[3], e2[3], n[3];
  VecDiff(p1, p0, e1);
  VecDiff(p2, p0, e2);
  CrossProduct(e1, e2, n);
  GetUnitVector(n, v.normal);
  float out[3];
  VecDiff(p0, centre.cart, out);
  if (DotProduct(out, v.normal) < 0)
    VecNegate(v.normal);
  double sx = 0, sy = 0;
  for (uint32_t k = 0; k < face.vertexCount; ++k) {
    sx += c.atoms[face.vertices[k]].pixel[0];
    sy += c.atoms[face.vertices[k]].pixel[1];
  }
  v.x = int(std::lround(sx / face.vertexCount));
  v.y = int(std::lround(sy / face.vertexCount));
  return v;
}

// The face colour by the lighting formula of the polyhedron reflectance,
// one 8-bit channel of a 16-bit colour channel V.
uint32_t LitChannel(const CrystalRec &c, const float n[3], uint16_t V) {
  const float *L = c.lightDirection;
  float d = n[0] * L[0] + n[1] * L[1] + n[2] * L[2];
  if (d < 0.00001f)
    d = 0;
  const float r = 2 * n[2] * d - L[2];
  const float N = c.phongN[2];
  const float spec =
      (r >= 0.00001f && r >= std::pow(10.0f, -37.0f / N)) ? c.pointIntensity * c.kS[2] * std::pow(r, N) : 0;
  const float v = V * c.pointIntensity * c.kD[2] / 65535.0f * d + V * c.ambientIntensity * c.kA[2] / 65535.0f + spec;
  return (v > 1 ? 65535u : uint32_t(v * 65535.0f)) >> 8;
}

// Faces that face the viewer clearly (not nearly edge-on).
bool ClearlyFront(const FaceView &v) { return v.normal[2] > 0.2f; }

} // namespace

TEST(PolyhedronDrawingTest, FaceCentresShowTheTypeColourInSolidFillAndTheLitColourInColourShading) {
  for (const polytest::CrystalInput &input : {polytest::Rutile(), polytest::Perovskite()}) {
    PolyScene s(input);
    ASSERT_TRUE(AtomPolyhedron(&s.c, s.Centre()));
    s.c.kS[2] = 0.4f; // a highlight, so the specular term counts
    s.c.phongN[2] = 10;
    s.SetMode(kPolyModeSolidFill);
    auto solid = s.Draw();
    s.SetMode(kPolyModeColourShaded);
    auto shaded = s.Draw();
    scene::Dump(*solid, "poly_mode13");
    scene::Dump(*shaded, "poly_mode15");
    s.SetMode(kPolyModePatternShaded);
    scene::Dump(*s.Draw(), "poly_mode14");
    s.SetMode(kPolyModeOpenFill);
    scene::Dump(*s.Draw(), "poly_mode8");
    int checked = 0;
    for (const PolyFace &face : AtomPolyhedron(&s.c, s.Centre())->faces) {
      const FaceView v = ViewFace(s.c, face, s.Centre());
      if (!ClearlyFront(v))
        continue;
      ++checked;
      EXPECT_EQ(scene::Rgb(solid->Pixels()->Pixel32(v.x, v.y)), scene::Rgb(kTiColour));
      const uint32_t got = shaded->Pixels()->Pixel32(v.x, v.y);
      EXPECT_NEAR(double(PixelRed(got)), double(LitChannel(s.c, v.normal, kTiColour.red)), 1.0);
      EXPECT_NEAR(double(PixelGreen(got)), double(LitChannel(s.c, v.normal, kTiColour.green)), 1.0);
      EXPECT_NEAR(double(PixelBlue(got)), double(LitChannel(s.c, v.normal, kTiColour.blue)), 1.0);
    }
    EXPECT_GE(checked, 3);
  }
}

TEST(PolyhedronDrawingTest, BackFacesAreCulledWhereTheyAloneProjectButTranslucentModesPaintThem) {
  PolyScene s(polytest::Rutile());
  // Keep only the faces turned away from the viewer: nothing in front hides
  // their centres.
  Polyhedron poly = *AtomPolyhedron(&s.c, s.c.atoms[s.centre]);
  std::vector<PolyFace> back;
  for (const PolyFace &face : poly.faces)
    if (ViewFace(s.c, face, s.Centre()).normal[2] < -0.2f)
      back.push_back(face);
  ASSERT_GE(back.size(), 2u);
  poly.faces = back;
  poly.faceCount = uint32_t(back.size());
  s.c.atoms[s.centre].polyhedron.Hold(poly);
  s.c.polyEdgeMode = 0; // no edges of their own in the translucent mode
  std::vector<FaceView> views;
  for (const PolyFace &face : back)
    views.push_back(ViewFace(s.c, face, s.Centre()));
  // The centroid of the remaining faces lies inside the octahedron, so
  // normals still point outwards.
  for (uint32_t mode : {kPolyModeSolidFill, kPolyModeColourShaded, kPolyModeOpenFill}) {
    s.SetMode(mode);
    auto port = s.Draw();
    for (const FaceView &v : views) {
      const uint32_t rgb = scene::Rgb(port->Pixels()->Pixel32(v.x, v.y));
      if (mode == kPolyModeOpenFill)
        EXPECT_NE(rgb, 0u) << "translucent back face painted";
      else
        EXPECT_EQ(rgb, 0u) << "mode " << mode;
    }
  }
}

TEST(PolyhedronDrawingTest, AnIncompletePolyhedronDrawsNothingAndOpenModesDashOnlyHiddenEdges) {
  PolyScene s(polytest::Rutile());
  s.SetMode(kPolyModeOpen);
  auto open = s.Draw();
  scene::Dump(*open, "poly_mode3");
  // Every edge: a visible edge (one of its faces turned to the viewer) is
  // lit all along; a hidden one only in dashes.
  const Polyhedron &poly = *AtomPolyhedron(&s.c, s.Centre());
  auto faceOf = [&](uint32_t a, uint32_t b, std::vector<const PolyFace *> &out) {
    for (const PolyFace &f : poly.faces)
      for (uint32_t k = 0; k < f.vertexCount; ++k) {
        const uint32_t p = f.vertices[k], q = f.vertices[(k + 1) % f.vertexCount];
        if ((p == a && q == b) || (p == b && q == a))
          out.push_back(&f);
      }
  };
  int visibleEdges = 0, hiddenEdges = 0;
  for (const PolyFace &f : poly.faces)
    for (uint32_t k = 0; k < f.vertexCount; ++k) {
      const uint32_t a = f.vertices[k], b = f.vertices[(k + 1) % f.vertexCount];
      if (a > b)
        continue;
      std::vector<const PolyFace *> faces;
      faceOf(a, b, faces);
      bool visible = false;
      for (const PolyFace *g : faces)
        visible = visible || ViewFace(s.c, *g, s.Centre()).normal[2] >= 0;
      const int16_t *p = s.c.atoms[a].pixel, *q = s.c.atoms[b].pixel;
      int lit = 0, samples = 0;
      for (int t = 10; t <= 90; t += 2, ++samples) {
        const int x = int(std::lround(p[0] + (q[0] - p[0]) * t / 100.0));
        const int y = int(std::lround(p[1] + (q[1] - p[1]) * t / 100.0));
        lit += scene::Rgb(open->Pixels()->Pixel32(x, y)) != 0;
      }
      if (visible) {
        ++visibleEdges;
        EXPECT_EQ(lit, samples);
      } else {
        ++hiddenEdges;
        EXPECT_GT(lit, samples / 5);
        EXPECT_LT(lit, samples * 4 / 5);
      }
    }
  EXPECT_GT(visibleEdges, 0);
  EXPECT_GT(hiddenEdges, 0);

  // One bond short of the site's coordination: no polyhedron at all.
  s.c.sites[s.Centre().site].coordination = 7;
  auto none = s.Draw();
  for (int y = 0; y < kSize; y += 3)
    for (int x = 0; x < kSize; x += 3)
      ASSERT_EQ(scene::Rgb(none->Pixels()->Pixel32(x, y)), 0u);
}

TEST(PolyhedronDrawingTest, EdgeColoursFollowTheEdgeMode) {
  CrystalRec c;
  RGBColor out;
  float factor;
  const RGBColor grey{10000, 10000, 10000}, light{60000, 50000, 40000};
  c.polyEdgeMode = 2;
  ASSERT_TRUE(GetPolyFrameColor(&c, 0, grey, out, factor));
  EXPECT_EQ(out, (RGBColor{18330, 18330, 18330})); // 15 % towards white
  ASSERT_TRUE(GetPolyFrameColor(&c, 0, light, out, factor));
  EXPECT_EQ(out, (RGBColor{51000, 42500, 34000})); // times 0.85
  c.polyEdgeMode = 3;
  ASSERT_TRUE(GetPolyFrameColor(&c, 0, light, out, factor));
  EXPECT_EQ(out, (RGBColor{62768, 57768, 52768}));
  c.polyEdgeMode = 4;
  ASSERT_TRUE(GetPolyFrameColor(&c, 0, light, out, factor));
  EXPECT_EQ(out, kRGBBlack);
  c.polyEdgeMode = 1;
  EXPECT_FALSE(GetPolyFrameColor(&c, 0, light, out, factor));
}

namespace {
struct BondCall {
  uint32_t a, b;
  float ra, rb;
};
std::vector<BondCall> gBonds;
std::vector<uint32_t> gAtoms;
} // namespace

TEST(PolyhedronDrawingTest, StickBondsDrawTheBondsButACentreOfOneBondIsNoAtom) {
  PolyScene s(polytest::Rutile());
  const ModelDrawingHooks pipeline = GetModelDrawingHooks();
  ModelDrawingHooks hooks;
  hooks.makeBond = [](const CrystalRec *, uint32_t a, uint32_t b, float ra, float rb, float, float, int32_t, int32_t) {
    gBonds.push_back({a, b, ra, rb});
  };
  hooks.plotAndLabelAtom = [](CrystalRec *, uint32_t atom, float, std::optional<Region>) { gAtoms.push_back(atom); };
  SetModelDrawingHooks(hooks);
  // The O atoms (mode 12) each bond to three Ti (mode 1 vertices of
  // nothing here): bonds to every Ti, the O drawn, the Ti ends uncut.
  for (AsymmetricUnitRecord &site : s.c.sites)
    SetGivenPolyMode(site, site.elements[0] == polytest::Element("O") ? kPolyModeStickBonds : kPolyModeVertex);
  RenderSpheres(&s.c); // drawn radii for the new modes
  const uint32_t o = s.Centre().bonds[0];
  gBonds.clear();
  gAtoms.clear();
  MakePolyBallAndStick(&s.c, o, 0.0f);
  EXPECT_EQ(gBonds.size(), size_t(s.c.atoms[o].bondCount));
  EXPECT_EQ(gAtoms, std::vector<uint32_t>{o});
  for (const BondCall &b : gBonds) {
    const bool centreFirst = b.a == o;
    EXPECT_EQ(centreFirst ? b.rb : b.ra, 0.0f); // a vertex-only Ti is no sphere
    EXPECT_GT(centreFirst ? b.ra : b.rb, 0.0f);
  }
  // Left with a single bond, the O is no atom any more and its bond end is
  // not cut.
  s.c.atoms[o].bondCount = 1;
  s.c.atoms[o].bonds.resize(1);
  gBonds.clear();
  gAtoms.clear();
  MakePolyBallAndStick(&s.c, o, 0.0f);
  ASSERT_EQ(gBonds.size(), 1u);
  EXPECT_EQ(gBonds[0].ra + gBonds[0].rb, 0.0f);
  EXPECT_TRUE(gAtoms.empty());
  SetModelDrawingHooks(pipeline);
}
