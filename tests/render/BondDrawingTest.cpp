#include "render/BondDrawing.h"

#include "RenderTestSupport.h"
#include "SceneSupport.h"

#include "render/PlotPipeline.h"
#include "render/RenderGlobals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace ovgfx;

namespace {

constexpr RGBColor kRed{65535, 0, 0}, kGreen{0, 65535, 0}, kBlue{0, 0, 65535};

// Atoms in view coordinates (20 pixels per Angstrom about the origin of a
// 200 x 200 plot), each on its own site with its own element.
void Molecule(CrystalRec &c, const std::vector<scene::Atom> &atoms, const std::vector<scene::Type> &types) {
  scene::Build(c, types, atoms);
  c.modelType = kBallAndStickModel;
  for (size_t i = 0; i < atoms.size(); i++)
    c.sites[i].elements[0] = ElementCode(0x4100 + i); // "A", "B", ... one per site
}

void Flat() {
  gPlotMethod = kPixelPlotMethod;
  gUseFastRotn = 0;
  gPlotRes = kScreenPlotRes;
}

int Px(float x) { return scene::ExpectedPixel(x * 20.0f, 100.0f); }
int Py(float y) { return scene::ExpectedPixel(-y * 20.0f, 100.0f); }

} // namespace

TEST(BondColours, ACustomPairThenTheFirstFittingRowThenTheDefaults) {
  CrystalRec c;
  Molecule(c, {{0, 0, 0, 0}, {2, 0, 0, 1}, {0, 1, 0, 0}, {0, 2.5f, 0, 1}},
           {{0.5f, kRed, 9}, {0.5f, kGreen, 9}});
  c.sites[1].elements[0] = c.sites[3].elements[0];
  c.sites[2].elements[0] = c.sites[0].elements[0];
  const ElementCode A = c.sites[0].elements[0], B = c.sites[1].elements[0];
  // Two rows for the pair whose ranges overlap at 2.0 to 2.2.
  c.bondSpecs[0] = BondSpec{B, A, 2.0f, 2.2f, kBondPlain, kBlue, kBlue};
  c.bondSpecs[1] = BondSpec{A, B, 1.0f, 2.5f, kBondDashedLine, kRed, kRed};
  c.bondSpecCount = 2;
  c.customBondSpecs = {CustomBondSpec{2, 1, kBondDottedLine, kGreen, kRed}};
  c.customBondSpecCount = 1;
  c.defaultBondStyle = kBondPlainLine;
  RGBColor c1, c2;
  EXPECT_EQ(GetBondColorSpecs(&c, 1, 2, c1, c2), kBondDottedLine); // given as (2, 1)
  EXPECT_EQ(c1, kGreen);
  EXPECT_EQ(GetBondColorSpecs(&c, 0, 1, c1, c2), kBondPlain); // 2.0: both rows fit, the first wins
  EXPECT_EQ(GetBondColorSpecs(&c, 2, 3, c1, c2), kBondDashedLine); // 1.5: only the second; its minimum is 1.0
  c.atoms[3].cart[1] = 3.5f;                                       // 2.5 from atom 2: the second row's maximum
  EXPECT_EQ(GetBondColorSpecs(&c, 2, 3, c1, c2), kBondDashedLine);
  c.atoms[3].cart[1] = 3.6f;
  EXPECT_EQ(GetBondColorSpecs(&c, 2, 3, c1, c2), kBondPlainLine);
  EXPECT_EQ(c1, c.bondColor1);
  // Two-colour styles take the atom types' colours, first atom first.
  c.bondSpecs[0].style = kBondTwinBand;
  EXPECT_EQ(GetBondColorSpecs(&c, 1, 0, c1, c2), kBondTwinBand);
  EXPECT_EQ(c1, kGreen);
  EXPECT_EQ(c2, kRed);
  CrystalRec empty;
  EXPECT_EQ(GetBondColorSpecs(&empty, 0, 1, c1, c2), kBondBlank);
}

TEST(BondEnds, StripCountsFollowTheBondWidthAndTheCutsTheSpheres) {
  CrystalRec c;
  Molecule(c, {{-2, 0, 0, 0}, {2, 0, 0, 0}}, {{1.0f, kRed, 14}});
  Flat();
  const float *a = c.atoms[0].cart, *b = c.atoms[1].cart;
  int16_t n = 0;
  // 2 rb s = 249.5 strips: at most 100.
  ASSERT_TRUE(MakeBondEnds(&c, a, b, 0.0f, 0.0f, 249.5f / 40.0f, n, 200, 200));
  EXPECT_EQ(n, 100);
  // 14.5 pixels wide: 15 strips, 12 in the anti-aliased pixel plot.
  ASSERT_TRUE(MakeBondEnds(&c, a, b, 0.0f, 0.0f, 14.5f / 40.0f, n, 200, 200));
  EXPECT_EQ(n, 12);
  gUseFastRotn = 1;
  ASSERT_TRUE(MakeBondEnds(&c, a, b, 0.0f, 0.0f, 14.5f / 40.0f, n, 200, 200));
  EXPECT_EQ(n, 15);
  gUseFastRotn = 0;
  // Perspective halves only from 30 strips (the bond level with the front).
  c.perspective = 1;
  c.frontZ = 0.0f;
  ASSERT_TRUE(MakePerspectiveBondEnds(&c, a, b, 0.0f, 0.0f, 29.5f / 40.0f, n, 200, 200));
  EXPECT_EQ(n, 30);
  ASSERT_TRUE(MakePerspectiveBondEnds(&c, a, b, 0.0f, 0.0f, 31.5f / 40.0f, n, 200, 200));
  EXPECT_EQ(n, 31); // (32 - 30) / 2 + 30
  c.perspective = 0;

  // A sphere no wider than the bond leaves the end at the centre; a wider
  // one cuts it where the cylinder meets it, a pixel inside.
  ASSERT_TRUE(MakeBondEnds(&c, a, b, 0.2f, 0.0f, 0.25f, n, 200, 200));
  EXPECT_EQ(ucXo[0], -2.0f);
  ASSERT_TRUE(MakeBondEnds(&c, a, b, 1.0f, 0.0f, 0.25f, n, 200, 200));
  EXPECT_NEAR(ucXo[0], -2.0f + std::sqrt(1.0f - 0.0625f) - 1.0f / 20.0f, 1e-5f);
  // Across the first end: from +rb to -rb perpendicular to the bond.
  EXPECT_NEAR(ub[0].y - ucXo[1], 0.25f, 1e-5f);
  EXPECT_NEAR(ub[n - 1].y - ucXo[1], -0.25f, 1e-5f);

  // Along the view direction: e = (1, 0), nothing undefined.
  const float front[3] = {0, 0, 1}, back[3] = {0, 0, -1};
  ASSERT_TRUE(MakeBondEnds(&c, front, back, 0.0f, 0.0f, 0.25f, n, 200, 200));
  for (int k = 0; k < n; k++)
    ASSERT_TRUE(std::isfinite(ub[k].x) && std::isfinite(ub[k].y) && std::isfinite(ub[k].z)) << k;
  EXPECT_NEAR(ub[0].y, 0.25f, 1e-5f);
  // The same point twice is no bond.
  EXPECT_FALSE(MakeBondEnds(&c, a, a, 0.0f, 0.0f, 0.25f, n, 200, 200));
}

TEST(BondEnds, OutlinePixelsRoundHalfAwayFromZeroAndStayWithinTheLimit) {
  // A plot 201 pixels square: the centre falls on half a pixel, and so do
  // the ends of this bond and the edges of its outline.
  CrystalRec c;
  Molecule(c, {{-5.5f, 0, 0, 0}, {2.5f, 0, 0, 0}}, {{1.0f, kRed, 14}});
  Flat();
  int16_t n = 0;
  ASSERT_TRUE(MakeBondEnds(&c, c.atoms[0].cart, c.atoms[1].cart, 0.0f, 0.0f, 0.25f, n, 201, 201));
  ASSERT_GE(n, 2);
  EXPECT_EQ(ub[0].rh, -9.5f);
  EXPECT_EQ(ub[0].h, -10);
  EXPECT_EQ(lb[0].rh, 150.5f);
  EXPECT_EQ(lb[0].h, 151);
  EXPECT_EQ(ub[0].rv, 95.5f);
  EXPECT_EQ(ub[0].v, 96);
  EXPECT_EQ(ub[n - 1].rv, 105.5f);
  EXPECT_EQ(ub[n - 1].v, 106);
  // An end far beyond the picture is held at the pixel limit.
  const float far[3] = {5000.0f, -5000.0f, 0.0f};
  ASSERT_TRUE(MakeBondEnds(&c, c.atoms[0].cart, far, 0.0f, 0.0f, 0.25f, n, 201, 201));
  EXPECT_EQ(lb[0].h, 32000);
  EXPECT_EQ(lb[0].v, 32000);
}

TEST(BondStripes, LitLikeTheAtomsWithTheHighlightAtTheMirrorDirection) {
  CrystalRec c;
  RGBColor out;
  const float up[3] = {0, 0, 1};
  GetBondStripeColor(out, &c, up, 2, kRed); // two strips: unlit
  EXPECT_EQ(out, kRed);
  // Black with the bond exponent at 1000: only the normal halfway between
  // the light and the viewer catches the highlight.
  c.phongN[1] = 1000;
  const float *L = c.lightDirection;
  float half[3] = {L[0], L[1], L[2] + 1.0f};
  const float m = std::sqrt(half[0] * half[0] + half[1] * half[1] + half[2] * half[2]);
  for (float &v : half)
    v /= m;
  GetBondStripeColor(out, &c, half, 5, kRGBBlack);
  EXPECT_GT(out.red, 60000);
  GetBondStripeColor(out, &c, up, 5, kRGBBlack);
  EXPECT_EQ(out.red, 0);
  // Diffuse and ambient: (Ia kA + Il kD d) V with d = N.L.
  const RGBColor grey{20000, 20000, 20000};
  GetBondStripeColor(out, &c, up, 5, grey);
  EXPECT_EQ(out.red, uint16_t((1.0f * 0.5f + 1.0f * 0.9f * L[2]) * 20000.0f / 65535.0f * 65535.0f));
}

namespace {

// One bond between atoms i and j drawn into a black 200 x 200 target.
struct BondPicture {
  TestTarget target{MakeRect(0, 0, 200, 200)};
  uint32_t At(float x, float y) { return scene::Rgb(target.At(Px(x), Py(y))); }
};

} // namespace

TEST(BondCylinders, FlatBandedAndShadedBondsShowTheirColoursAlongTheirLength) {
  CrystalRec c;
  std::vector<scene::Atom> atoms(8, scene::Atom{0, 0, 0, 0});
  atoms[3] = {-3, 0, 0, 0};
  atoms[7] = {3, 0, 0, 1};
  Molecule(c, atoms, {{0.5f, kRed, 14}, {0.5f, kGreen, 14}});
  c.customBondSpecs = {CustomBondSpec{3, 7, kBondPlain, kBlue, kBlue}};
  c.customBondSpecCount = 1;
  Flat();
  for (uint8_t fast : {0, 1}) {
    gUseFastRotn = fast;
    BondPicture p;
    MakeBond(&c, 3, 7, 0.0f, 0.0f, 0.3f, 0.0f, 200, 200);
    EXPECT_EQ(p.At(0, 0), scene::Rgb(kBlue)) << int(fast); // the inside is the colour itself
    EXPECT_EQ(p.At(0, 0.8f), 0u);                          // outside the bond
  }
  gUseFastRotn = 0;

  // Two bands in the atoms' colours.
  c.customBondSpecs[0].style = kBondTwinBand;
  {
    BondPicture p;
    MakeBond(&c, 3, 7, 0.0f, 0.0f, 0.3f, 0.0f, 200, 200);
    EXPECT_EQ(p.At(-1.5f, 0), scene::Rgb(kRed));
    EXPECT_EQ(p.At(1.5f, 0), scene::Rgb(kGreen));
  }
  // Eight bands of two fixed colours: the first colour lies at the atom of
  // the higher index, whichever atom comes first.
  c.customBondSpecs[0] = CustomBondSpec{3, 7, kBondMultiBand, kBlue, kRed};
  for (auto [i, j] : {std::pair{3u, 7u}, std::pair{7u, 3u}}) {
    BondPicture p;
    MakeBond(&c, i, j, 0.0f, 0.0f, 0.3f, 0.0f, 200, 200);
    EXPECT_EQ(p.At(2.6f, 0), scene::Rgb(kBlue)) << i;
    EXPECT_EQ(p.At(-2.6f, 0), scene::Rgb(kRed)) << i;
  }

  // A shaded bond leaves no gap between its strips, and its two-band form
  // between atoms of one colour is the same picture.
  c.spheres[1].colour = kRed;
  c.customBondSpecs[0] = CustomBondSpec{3, 7, kBondPhotoRendered, kRed, kRed};
  BondPicture one;
  MakeBond(&c, 3, 7, 0.0f, 0.0f, 0.3f, 0.0f, 200, 200);
  for (int y = Py(0.25f); y <= Py(-0.25f); y++)
    EXPECT_GT(PixelRed(one.target.At(100, y)), 60u) << y;
  c.customBondSpecs[0].style = kBondPhotoTwinBand;
  BondPicture two;
  MakeBond(&c, 3, 7, 0.0f, 0.0f, 0.3f, 0.0f, 200, 200);
  EXPECT_TRUE(std::equal(one.target.px().BaseAddr(), one.target.px().BaseAddr() + one.target.px().ByteCount(),
                         two.target.px().BaseAddr()));
}

TEST(BondLines, ShortSegmentedLinesAndAtomsAtOnePlace) {
  CrystalRec c;
  Molecule(c, {{0, 0, 0, 0}, {0.1f, 0, 0, 0}, {0.1f, 0, 0, 0}}, {{0.5f, kRed, 14}});
  Flat();
  // Three pixels long: segments of one pixel, not of none.
  {
    TestTarget t(MakeRect(0, 0, 200, 200));
    MakeBondLine(&c, c.atoms[0].cart, c.atoms[1].cart, 0.0f, 0.0f, 0.0f, 200, 200, kRed, kGreen, kBondSegmentedLine);
    EXPECT_GT(t.CountLit(), 0);
  }
  // Two atoms at one place with radii to cut at: no line, and nothing drawn
  // at a made-up place.
  {
    TestTarget t(MakeRect(0, 0, 200, 200));
    MakeBondLine(&c, c.atoms[1].cart, c.atoms[2].cart, 0.2f, 0.2f, 0.0f, 200, 200, kRed, kGreen, kBondPlainLine);
    EXPECT_EQ(t.CountLit(), 0);
  }
}

TEST(ArrowCones, AConeLitFromItsSideOrPaintedInTheSelectionColour) {
  CrystalRec c;
  Molecule(c, {{0, 0, 0, 0}}, {{0.5f, kRed, 14}});
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::copy(identity, identity + 9, c.orientationMatrix);
  Flat();
  gHPixels = gVPixels = 200;
  const float foot[3] = {0, 0, 0}, offset[3] = {2, 0, 0};
  // Apex 2 A right of the origin, base 1 A behind it, radius 0.4 A.
  {
    TestTarget t(MakeRect(0, 0, 200, 200));
    DrawArrowCone(&c, foot, offset, 0.1f, 0.4f, 1.0f, kBlue, 0);
    EXPECT_GT(PixelBlue(t.At(Px(1.5f), Py(0.0f))), 60u);
    EXPECT_EQ(scene::Rgb(t.At(Px(0.5f), Py(0.0f))), 0u); // before the base
    EXPECT_EQ(scene::Rgb(t.At(Px(1.5f), Py(0.6f))), 0u); // beside the cone
  }
  {
    TestTarget t(MakeRect(0, 0, 200, 200));
    DrawArrowCone(&c, foot, offset, 0.1f, 0.4f, 1.0f, kBlue, 1);
    EXPECT_EQ(scene::Rgb(t.At(Px(1.5f), Py(0.0f))), scene::Rgb(kRGBYellow));
  }
}

TEST(BondLines, AOneStripCylinderIsItsLineButAtomsAtOnePlaceHaveNone) {
  CrystalRec c;
  Molecule(c, {{-2, 0, 0, 0}, {2, 0, 0, 0}, {2, 0, 0, 0}}, {{0.5f, kRed, 14}});
  Flat();
  c.bondSpecCount = 0;
  c.defaultBondStyle = kBondPhotoRendered;
  c.bondColor1 = c.bondColor2 = kGreen;
  // 0.4 pixels wide at 20 pixels per Angstrom: one strip. The line runs from
  // sphere to sphere: 0.5 A (10 pixels) in from each centre.
  {
    TestTarget t(MakeRect(0, 0, 200, 200));
    MakeBond(&c, 0, 1, 0.5f, 0.5f, 0.01f, 0.0f, 200, 200);
    EXPECT_GT(PixelGreen(t.At(Px(0.0f), Py(0.0f))), 150u);
    EXPECT_GT(PixelGreen(t.At(Px(-1.5f) + 2, Py(0.0f))), 150u);
    EXPECT_GT(PixelGreen(t.At(Px(1.5f) - 2, Py(0.0f))), 150u);
    EXPECT_EQ(PixelGreen(t.At(Px(-1.5f) - 3, Py(0.0f))), 0u);
    EXPECT_EQ(PixelGreen(t.At(Px(1.5f) + 3, Py(0.0f))), 0u);
  }
  // The same cylinder between two atoms at one place, sphere radii 0: not
  // even a dot.
  {
    TestTarget t(MakeRect(0, 0, 200, 200));
    MakeBond(&c, 1, 2, 0.0f, 0.0f, 0.01f, 0.0f, 200, 200);
    EXPECT_EQ(t.CountLit(), 0);
  }
}
