// Whole plots of small scenes: the drawing order, stereo pictures and the
// view they leave behind, pictures for the current port, and models that
// draw no atoms.

#include "../model/StructureWindowFixture.h"
#include "SceneSupport.h"

#include "StructureArrays.h"
#include "render/AtomStyles.h"
#include "render/BondDrawing.h"
#include "render/HiddenPrimitives.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using namespace ovgfx;
using namespace viewtest;

namespace {

constexpr RGBColor kRed{65535, 0, 0}, kBlue{0, 0, 65535};

PixelBuffer &Image(WindowRef w) { return *OffScreenPixels(GetWindowOffScreen(w)); }

// Two bonded atoms in the window: a red one in front at the centre, a blue
// one behind it to the right; the bond flat and green.
void TwoAtoms(TestWindow &w) {
  CrystalRec &c = w.crystal();
  scene::Build(c, {{1.0f, kRed, 14}, {1.0f, kBlue, 14}}, {{0, 0, 1, 0}, {3, 0, -1, 1}});
  c.modelType = kBallAndStickModel;
  c.showUnitCell = 0;
  c.showAxes = 0;
  c.defaultBondStyle = kBondPlain;
  c.bondColor1 = c.bondColor2 = RGBColor{0, 65535, 0};
  c.atoms[0].bonds = {1};
  c.atoms[0].bondCount = 1;
  c.atoms[1].bonds = {0};
  c.atoms[1].bondCount = 1;
  ResetOffScreen(w.ref());
  RenderSpheres(&c);
}

// Whether the window's picture drawn with hidden bonds and balls left out
// is the one drawn with all of them.
bool SamePictureWithoutHidden(WindowRef w) {
  SetHiddenPrimitivesSkipped(false);
  PlotCrystal(w, kPlotToWindow);
  const PixelBuffer &px = Image(w);
  const std::vector<uint8_t> whole(px.BaseAddr(), px.BaseAddr() + px.ByteCount());
  SetHiddenPrimitivesSkipped(true);
  PlotCrystal(w, kPlotToWindow);
  return std::equal(whole.begin(), whole.end(), Image(w).BaseAddr());
}

} // namespace

TEST(PlotPictures, ABondIsDrawnJustBeforeItsUpperAtom) {
  FakeHost host;
  TestWindow w(host, 200, 160);
  TwoAtoms(w);
  PlotCrystal(w.ref(), kPlotToWindow);
  PixelBuffer &px = Image(w.ref());
  // The red atom covers the bond's end at its centre; the bond shows
  // between the atoms; the blue atom behind shows at its centre.
  EXPECT_GT(PixelRed(px.Pixel32(100, 80)), 150u);
  EXPECT_LT(PixelGreen(px.Pixel32(100, 80)), 60u);
  EXPECT_EQ(scene::Rgb(px.Pixel32(130, 80)), 0x00FF00u);
  EXPECT_GT(PixelBlue(px.Pixel32(160, 80)), 150u);
  // The bond leaves the red sphere 0.34 A along its tilted axis, 5.6
  // pixels right of the centre in the picture, inside the disc of 8
  // pixels: drawn first, that part is covered by the atom.
  EXPECT_GT(PixelRed(px.Pixel32(107, 80)), 40u);
  EXPECT_LT(PixelGreen(px.Pixel32(107, 80)), 60u);
}

TEST(PlotPictures, RedBlueStereoTakesRedFromTheFirstEyeAndGreenAndBlueFromTheSecond) {
  FakeHost host;
  TestWindow w(host, 240, 200);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRutile(c));
  c.backgroundColor = RGBColor{30000, 20000, 10000};
  c.stereoOn = 1;
  c.stereoMode = kRedBlueStereo;
  c.stereoAngle = 8.0f;
  c.stereoSeparation = 4.0f;
  ResetOffScreen(w.ref());
  RenderSpheres(&c);
  float matrix[9], centre[3];
  Copy3x3Mat(matrix, c.orientationMatrix);
  CopyVector(centre, c.plotCentre);
  PlotCrystal(w.ref(), kPlotToWindow);
  const PixelBuffer &composite = *OffScreenPixels(GetWindowTransferBuffer(w.ref()));
  const PixelBuffer &main = Image(w.ref());
  const std::vector<uint32_t> secondEye(reinterpret_cast<const uint32_t *>(main.BaseAddr()),
                                        reinterpret_cast<const uint32_t *>(main.BaseAddr() + main.ByteCount()));

  // The first eye alone: the view turned by half the angle about y, the
  // centre moved by the separation at the plot scale.
  const double d = double(c.stereoSeparation) / 2.54 * (-72.0 / double(c.plotScale)) *
                   std::tan(double(c.stereoAngle) / 2.0 * 0.0174532925199);
  c.stereoOn = 0;
  const float turn[3] = {0.0f, c.stereoAngle / 2.0f, 0.0f};
  RotateXYZ(&c, turn);
  c.plotCentre[0] = c.plotCentre[0] + float(d);
  PlotCrystal(w.ref(), kPlotToWindow);
  const uint32_t *firstEye = reinterpret_cast<const uint32_t *>(main.BaseAddr());
  int differ = 0, reds = 0;
  for (size_t k = 0; k < secondEye.size(); k++) {
    const uint32_t p = reinterpret_cast<const uint32_t *>(composite.BaseAddr())[k];
    differ += PixelRed(p) != PixelRed(firstEye[k]);
    differ += PixelGreen(p) != PixelGreen(secondEye[k]) || PixelBlue(p) != PixelBlue(secondEye[k]);
    reds += PixelRed(firstEye[k]) != PixelRed(secondEye[k]);
  }
  EXPECT_EQ(differ, 0);
  EXPECT_GT(reds, 100); // the eyes do see different pictures
}

TEST(PlotPictures, StereoPairsLeaveTheViewExactlyAsItWas) {
  FakeHost host;
  TestWindow w(host, 201, 160);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRutile(c));
  const float turn[3] = {17.0f, 33.0f, 5.0f};
  RotateXYZ(&c, turn);
  c.plotCentre[0] = 1.3f;
  c.plotCentre[1] = -0.7f;
  c.stereoOn = 1;
  c.stereoAngle = 7.0f;
  c.stereoSeparation = 5.0f;
  ResetOffScreen(w.ref());
  const CrystalRec before = c;
  for (int8_t mode : {kSideBySideStereo, kRedBlueStereo}) {
    c.stereoMode = mode;
    ResetOffScreen(w.ref());
    for (int k = 0; k < 5; k++)
      PlotCrystal(w.ref(), kPlotToWindow);
    EXPECT_EQ(std::memcmp(c.orientationMatrix, before.orientationMatrix, sizeof c.orientationMatrix), 0) << int(mode);
    EXPECT_EQ(std::memcmp(c.plotCentre, before.plotCentre, sizeof c.plotCentre), 0) << int(mode);
    EXPECT_EQ(std::memcmp(c.viewDirection, before.viewDirection, sizeof c.viewDirection), 0) << int(mode);
    for (size_t a = 0; a < c.atoms.size(); a++)
      ASSERT_EQ(std::memcmp(c.atoms[a].cart, before.atoms[a].cart, sizeof c.atoms[a].cart), 0) << a;
  }
}

TEST(PlotPictures, APictureForThePortFitsWhatThePaneShows) {
  FakeHost host;
  TestWindow w(host, 400, 400);
  TwoAtoms(w);
  CrystalRec &c = w.crystal();
  c.atoms[1].visible = 0;
  c.atoms[0].cart[0] = 2.0f;
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 600, 300), 32);
  port->Pixels()->Fill(0xFF000000u);
  {
    PortSaver current(port.get());
    PlotCrystal(w.ref(), kPlotToPort);
  }
  // 600 x 300 is wider than the square pane: the scale becomes 300 / 400 of
  // 20, so the atom 2 A right of the centre lands at 300 + 30.
  EXPECT_EQ(c.plotScale, 20.0f); // put back afterwards
  // Small atoms drawn as shapes are flat.
  EXPECT_GT(PixelRed(port->Pixels()->Pixel32(330, 150)), 40u);
  EXPECT_GT(PixelRed(port->Pixels()->Pixel32(335, 150)), 40u);
  EXPECT_EQ(PixelRed(port->Pixels()->Pixel32(338, 150)), 0u); // 0.4 A x 15 = 6 pixels of radius
  EXPECT_EQ(PixelRed(port->Pixels()->Pixel32(322, 150)), 0u);
}

TEST(PlotPictures, ModelsThatDrawNoAtomsLeaveTheBackground) {
  FakeHost host;
  TestWindow w(host, 200, 160);
  TwoAtoms(w);
  CrystalRec &c = w.crystal();
  c.modelType = 7;
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(scene::Rgb(Image(w.ref()).Pixel32(100, 80)), 0u);
  // Polyhedral with every site in mode 1: no atoms either.
  c.modelType = kPolyhedralModel;
  for (AsymmetricUnitRecord &s : c.sites)
    SetGivenPolyMode(s, 1);
  RenderSpheres(&c);
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(scene::Rgb(Image(w.ref()).Pixel32(100, 80)), 0u);
  // Mode 2 shows the atom.
  SetGivenPolyMode(c.sites[0], 2);
  RenderSpheres(&c);
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_GT(PixelRed(Image(w.ref()).Pixel32(100, 80)), 150u);
}

TEST(PlotPictures, TheSurfaceOverlayVeilsTheModelWithClouds) {
  FakeHost host;
  TestWindow w(host, 200, 160);
  TwoAtoms(w);
  CrystalRec &c = w.crystal();
  PlotCrystal(w.ref(), kPlotToWindow);
  const PixelBuffer &px = Image(w.ref());
  const std::vector<uint8_t> plain(px.BaseAddr(), px.BaseAddr() + px.ByteCount());
  for (int8_t type : {1, 2, 3}) {
    c.surfaceOverlay = 1;
    c.cloudSphereType = type;
    ResetOffScreen(w.ref());
    RenderSpheres(&c);
    PlotCrystal(w.ref(), kPlotToWindow);
    const PixelBuffer &veiled = Image(w.ref());
    EXPECT_FALSE(std::equal(plain.begin(), plain.end(), veiled.BaseAddr())) << int(type);
  }
  // The cloud (the atom's radius, 20 pixels) reaches beyond the ball of the
  // ball-and-stick atom (8 pixels).
  EXPECT_GT(PixelRed(Image(w.ref()).Pixel32(100 - 14, 80)), 40u);
  c.surfaceOverlay = 0;
  ResetOffScreen(w.ref());
  RenderSpheres(&c);
  PlotCrystal(w.ref(), kPlotToWindow);
  EXPECT_EQ(scene::Rgb(Image(w.ref()).Pixel32(100 - 14, 80)), 0u);
}

// Inside a crystal of many cells most bonds and balls lie behind nearer
// ones; those painted over wholly are left out, and the picture is the one
// drawn with every one of them, pixel for pixel, as are the rows of the
// others that nearer ones paint over. Bonds of one lit strip and opaque
// balls hide what is behind them; wider or banded bonds are left out behind
// balls alone; translucent balls hide nothing, and their atoms' bonds are
// capped. The pass runs beside
// selection marks, labels, vectors and stereo pairs, and stays out of what
// it does not judge (a bond of a line style, depth fading).
TEST(PlotPictures, WhatNearerBondsAndBallsPaintOverIsLeftOutOfTheSamePicture) {
  struct Case {
    const char *name;
    int16_t bondStyle;
    float bondRadius; // share of the smallest atom radius
    uint32_t ballStyle;
    void (*set)(CrystalRec &c);
    bool leavesOut;
  };
  const auto nothing = [](CrystalRec &) {};
  const Case cases[] = {
      {"one lit strip a bond", kBondPhotoRendered, 0.6f, AtomStylePhotoRendered, nothing, true},
      {"many lit strips, hidden behind balls", kBondPhotoRendered, 1.5f, AtomStylePhotoRendered, nothing, true},
      {"lit bands of two colours, hidden behind balls", kBondPhotoTwinBand, 1.5f, AtomStylePhotoRendered, nothing,
       true},
      {"flat cylinders", kBondPlain, 0.6f, AtomStylePhotoRendered, nothing, true},
      {"translucent balls, nothing seals", kBondPlain, 0.6f, AtomStylePhotoTranslucent, nothing, false},
      {"one type's balls translucent, its bonds capped", kBondPhotoRendered, 0.6f, AtomStylePhotoRendered,
       [](CrystalRec &c) { c.spheres[0].style = AtomStylePhotoTranslucent; }, true},
      {"every third atom selected", kBondPhotoRendered, 0.6f, AtomStylePhotoRendered,
       [](CrystalRec &c) {
         for (size_t k = 0; k < c.atoms.size(); k += 3)
           c.atoms[k].selected = 1;
       },
       true},
      {"every atom labelled", kBondPhotoRendered, 0.6f, AtomStylePhotoRendered,
       [](CrystalRec &c) {
         for (AtomRecord &atom : c.atoms)
           atom.labelled = 1;
       },
       true},
      {"a vector on every fifth atom", kBondPhotoRendered, 0.6f, AtomStylePhotoRendered,
       [](CrystalRec &c) {
         for (uint32_t k = 0; k < c.atoms.size(); k += 5) {
           AppendBlankVector(&c)->atom = k;
           c.atoms[k].hasVector = 1;
         }
       },
       true},
      {"side-by-side stereo", kBondPhotoRendered, 0.6f, AtomStylePhotoRendered,
       [](CrystalRec &c) {
         c.stereoOn = 1;
         c.stereoMode = kSideBySideStereo;
       },
       true},
      {"red-blue stereo", kBondPhotoRendered, 0.6f, AtomStylePhotoRendered,
       [](CrystalRec &c) {
         c.stereoOn = 1;
         c.stereoMode = kRedBlueStereo;
       },
       true},
      {"one bond dashed", kBondPhotoRendered, 0.6f, AtomStylePhotoRendered,
       [](CrystalRec &c) { c.customBondSpecs.push_back({0, c.atoms[0].bonds[0], kBondDashedLine}); }, false},
      {"depth fading", kBondPhotoRendered, 0.6f, AtomStylePhotoRendered,
       [](CrystalRec &c) { c.depthFading = 1; }, false},
  };
  FakeHost host;
  TestWindow w(host, 300, 240);
  ASSERT_TRUE(OpenPyropeColumn(w.ref(), 8.0f));
  CrystalRec &c = w.crystal();
  ASSERT_GE(size_t(c.sortIndexCount), kHiddenPrimitivesFromAtoms);
  const CrystalRec plain = c;
  for (const Case &k : cases) {
    c = plain;
    SetEveryBondStyle(c, k.bondStyle, k.bondRadius);
    for (SphereRecord &type : c.spheres)
      type.style = k.ballStyle;
    k.set(c);
    c.customBondSpecCount = int32_t(c.customBondSpecs.size());
    ResetOffScreen(w.ref());
    RenderSpheres(&c);
    EXPECT_TRUE(SamePictureWithoutHidden(w.ref())) << k.name;
    EXPECT_EQ(LastHiddenBondCount() > 0, k.leavesOut) << k.name;
  }
}

// A grid seen along one of its rows: the bonds across the picture lie level
// or upright in it, and those along the view have no length in it. The
// one-strip bonds and the balls of the front layers hide most of the rest,
// but not the specks just behind the front bonds, a pixel row off their
// middle: the rows a level bond's fill does not cover wholly stay open.
TEST(PlotPictures, AGridSeenAlongItsRowsIsTheSamePictureWithoutWhatIsHidden) {
  FakeHost host;
  TestWindow w(host, 200, 160);
  CrystalRec &c = w.crystal();
  constexpr int kSide = 8, kLayers = 40;
  std::vector<scene::Atom> atoms;
  for (int z = 0; z < kLayers; z++)
    for (int y = 0; y < kSide; y++)
      for (int x = 0; x < kSide; x++)
        atoms.push_back({float(x) - 3.5f, float(y) - 3.5f, -float(z), 0});
  const size_t grid = atoms.size();
  for (int y = 0; y < kSide; y++)
    for (int x = 0; x + 1 < kSide; x++) {
      atoms.push_back({float(x) - 3.0f, float(y) - 3.5f - 0.05f, -0.5f, 1});
      atoms.push_back({float(x) - 3.0f, float(y) - 3.5f + 0.1f, -0.5f, 1});
    }
  scene::Build(c, {{0.3f, kRed, AtomStylePhotoRendered}, {0.04f, kBlue, AtomStylePhotoRendered}}, atoms);
  c.modelType = kBallAndStickModel;
  c.showUnitCell = 0;
  c.showAxes = 0;
  const auto bond = [&c](uint32_t a, uint32_t b) {
    c.atoms[a].bonds.push_back(b);
    c.atoms[b].bonds.push_back(a);
  };
  for (uint32_t k = 0; k < grid; k++) {
    if (k % kSide + 1 < kSide)
      bond(k, k + 1);
    if (k / kSide % kSide + 1 < kSide)
      bond(k, k + kSide);
    if (k + kSide * kSide < grid)
      bond(k, k + kSide * kSide);
  }
  for (AtomRecord &a : c.atoms)
    a.bondCount = uint32_t(a.bonds.size());
  c.minBSSphereRadius = 0.0f;
  ResetOffScreen(w.ref());
  RenderSpheres(&c);
  // Bonds 1.44 pixels wide: one strip.
  SetEveryBondStyle(c, kBondPhotoRendered, 0.036f / c.minAtomRadius);
  ASSERT_EQ(BondStripCount(c, c.bondRadius * c.minAtomRadius), 2);
  EXPECT_TRUE(SamePictureWithoutHidden(w.ref()));
  EXPECT_GT(LastHiddenBondCount(), size_t(0));
}

// The bonds that show, as the pass lists them for the walk, are drawn in
// the order the walk would sort an atom's bonds itself: a grid seen along a
// row whose atoms bond to every atom of their block, more bonds than a list
// sorted by insertion holds, and the same grid with its atom list written
// twice (partners at one place, whose bonds the walk paints once), the
// copies of a partner next to one another in each bond list or apart.
// Bonds of three colours meet at each atom, so that bonds painted in
// another order, or painted twice, leave other pixels.
TEST(PlotPictures, CopiedAndCrowdedGridsAreTheSamePictureWithoutWhatIsHidden) {
  struct Case {
    const char *name;
    int copies;
    bool copiesApart; // in the bond lists
  };
  // Each atom bonds to those up to two layers off and across the diagonals.
  const Case cases[] = {{"bonded across its blocks", 1, false},
                        {"bonded across its blocks, written twice", 2, false},
                        {"bonded across its blocks, written twice, copies apart", 2, true}};
  constexpr int kSide = 8, kLayers = 40;
  for (const Case &k : cases) {
    FakeHost host;
    TestWindow w(host, 200, 160);
    CrystalRec &c = w.crystal();
    std::vector<scene::Atom> atoms;
    for (int copy = 0; copy < k.copies; copy++)
      for (int z = 0; z < kLayers; z++)
        for (int y = 0; y < kSide; y++)
          for (int x = 0; x < kSide; x++)
            atoms.push_back({float(x) - 3.5f, float(y) - 3.5f, -float(z), 0});
    scene::Build(c, {{0.3f, kRed, AtomStylePhotoRendered}}, atoms);
    c.modelType = kBallAndStickModel;
    c.showUnitCell = 0;
    c.showAxes = 0;
    const int grid = kSide * kSide * kLayers;
    const auto at = [&](int copy, int x, int y, int z) { return uint32_t(copy * grid + (z * kSide + y) * kSide + x); };
    constexpr int side = 1, depth = 2;
    for (int copy = 0; copy < k.copies; copy++)
      for (int z = 0; z < kLayers; z++)
        for (int y = 0; y < kSide; y++)
          for (int x = 0; x < kSide; x++)
            for (int outer = 0; outer < (k.copiesApart ? k.copies : 1); outer++)
              for (int dz = -depth; dz <= depth; dz++)
                for (int dy = -side; dy <= side; dy++)
                  for (int dx = -side; dx <= side; dx++) {
                    const int n = std::abs(dx) + std::abs(dy) + std::abs(dz);
                    if (n == 0 || x + dx < 0 || x + dx >= kSide || y + dy < 0 || y + dy >= kSide || z + dz < 0 ||
                        z + dz >= kLayers)
                      continue;
                    for (int inner = 0; inner < (k.copiesApart ? 1 : k.copies); inner++)
                      c.atoms[at(copy, x, y, z)].bonds.push_back(at(outer + inner, x + dx, y + dy, z + dz));
                  }
    for (AtomRecord &a : c.atoms)
      a.bondCount = uint32_t(a.bonds.size());
    // Two elements, alternating along x: a bond's colour tells which pair
    // it joins.
    for (size_t a = 0; a < c.atoms.size(); a++)
      c.sites[c.atoms[a].site].elements[0] = ElementCode(1 + a % kSide % 2);
    const RGBColor pairColours[3] = {kRed, {0, 65535, 0}, kBlue};
    for (int row = 0; row < 3; row++)
      c.bondSpecs[size_t(row)] = {ElementCode(1 + row / 2), ElementCode(1 + (row + 1) / 2), 0.0f, 10.0f,
                                  kBondPhotoRendered, pairColours[row], pairColours[row]};
    c.bondSpecCount = 3;
    c.minBSSphereRadius = 0.0f;
    ResetOffScreen(w.ref());
    RenderSpheres(&c);
    SetEveryBondStyle(c, kBondPhotoRendered, 0.036f / c.minAtomRadius);
    EXPECT_TRUE(SamePictureWithoutHidden(w.ref())) << k.name;
    EXPECT_GT(LastHiddenBondCount(), size_t(0)) << k.name;
  }
}
