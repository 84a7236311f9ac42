#include "SceneSupport.h"

#include "render/SphereOverlap.h"
#include "render/UnitCellFrame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace ovgfx;

using namespace scene;

TEST(ProjectionTest, OrthographicAndPerspectivePixelsAndTheirLimits) {
  CrystalRec c;
  c.plotScale = 10.0f;
  const float p[3] = {1.25f, -2.5f, 0.0f};
  int16_t px[2];
  Xor2Xpix(&c, p, px, 200, 100);
  EXPECT_EQ(px[0], 113); // 112.5 rounds away from zero
  EXPECT_EQ(px[1], 75);
  const float m[3] = {-11.25f, 0.0f, 0.0f};
  Xor2Xpix(&c, m, px, 200, 100);
  EXPECT_EQ(px[0], -13); // -12.5

  // Perspective: the front keeps the plot scale, one view distance behind
  // it is drawn at half scale.
  c.perspective = 1;
  c.viewDistance = 40.0f;
  c.frontZ = 3.0f;
  float real[2];
  const float front[3] = {2.0f, 1.0f, 3.0f}, back[3] = {2.0f, 1.0f, 3.0f - 40.0f};
  Xor2RealXpix(&c, front, real, 200, 100);
  EXPECT_FLOAT_EQ(real[0], 100.0f + 20.0f);
  Xor2RealXpix(&c, back, real, 200, 100);
  EXPECT_FLOAT_EQ(real[0], 100.0f + 10.0f);
  EXPECT_FLOAT_EQ(real[1], 50.0f - 5.0f);

  // A view distance of 0 from a document: a finite picture, no division by 0.
  c.viewDistance = 0.0f;
  Xor2RealXpix(&c, back, real, 200, 100);
  EXPECT_TRUE(std::isfinite(real[0]) && std::isfinite(real[1]));
  Xor2RealXpix(&c, front, real, 200, 100);
  EXPECT_FLOAT_EQ(real[0], 120.0f);

  // Far off-screen points stay far off-screen in 16 bits.
  c.perspective = 0;
  c.plotScale = 5000.0f;
  const float far[3] = {100.0f, -100.0f, 0.0f};
  Xor2Xpix(&c, far, px, 200, 100);
  EXPECT_EQ(px[0], kPixelCoordLimit);
  EXPECT_EQ(px[1], kPixelCoordLimit);
}

TEST(ProjectionTest, TheIndexListsTheFarthestFirstWithCellPointsBeforeLevelAtoms) {
  CrystalRec c;
  Build(c, {{0.5f, kRGBWhite, AtomStyleFilled}},
        {{0, 0, 2.0f, 0}, {0, 0, -1.0f, 0}, {0, 0, 0.5f, 0}, {0, 0, -1.0f, 0}, {0, 0, 5.0f, 0}});
  c.molecule = 0;
  c.showUnitCell = 1;
  c.unitCellOptions[kCellOptionDepthSorted] = 1;
  c.cellPoints.resize(2);
  c.cellPointCount = 2;
  c.cellPoints[0].cart[2] = 0.5f; // level with atom 2
  c.cellPoints[1].cart[2] = 9.0f;
  c.sites[4].visible = 0; // its atom takes no part
  SortAtomsByHeight(&c, 0.3f);
  std::vector<std::pair<int, uint32_t>> order;
  for (const SortIndexEntry &e : c.sortIndex)
    order.push_back({e.kind, e.index});
  const std::vector<std::pair<int, uint32_t>> expected = {{kSortItemAtom, 1},      {kSortItemAtom, 3},
                                                          {kSortItemCellPoint, 0}, {kSortItemAtom, 2},
                                                          {kSortItemAtom, 0},      {kSortItemCellPoint, 1}};
  EXPECT_EQ(order, expected);
  EXPECT_EQ(c.sortIndexCount, 6);
  EXPECT_FLOAT_EQ(c.frontZ, 9.0f);
  EXPECT_FLOAT_EQ(c.backZ, 9.0f - c.plotExtent);

  // Depth fading leaves out what it would make invisible.
  c.showUnitCell = 0;
  c.depthFading = 1;
  c.lowerBaseZ = 0.2f;
  c.lowerMinOpacity = 0.0f;
  c.plotExtent = 10.0f;
  // Front z 2: atom 1 at z -1 has t = 0.7, atom 3 likewise; move atom 3 to t = 0.1.
  c.atoms[3].cart[2] = -7.0f;
  SortAtomsByHeight(&c, 0.3f);
  for (const SortIndexEntry &e : c.sortIndex)
    EXPECT_NE(e.index, 3u);
  EXPECT_EQ(c.sortIndexCount, 3);
}

TEST(ProjectionTest, TheFrontIsTheFirstHighestShownAtomInTheArrayWhateverTheSitesRanges) {
  // Three atoms; each case lays the sites' atom ranges out its own way. The
  // front is taken over the shown atoms in the order of the array, the first
  // of level heights kept (so -0 before +0 gives -0); the index lists the
  // atoms of the shown sites' ranges, level ones in the order of the sites.
  struct Case {
    const char *name;
    float z[3];
    int32_t ranges[3][2]; // first and last atom of each site
    uint32_t siteOf[3];   // each atom's own site
    uint8_t siteShown[3];
    float front;
    bool frontNegative;
    std::vector<uint32_t> index;
  };
  const std::vector<Case> cases = {
      {"ranges in order", {-1.0f, 0.0f, -0.0f}, {{0, 0}, {1, 1}, {2, 2}}, {0, 1, 2}, {1, 1, 1}, 0.0f, false, {0, 1, 2}},
      {"ranges reversed", {-0.0f, 0.0f, -3.0f}, {{1, 1}, {0, 0}, {2, 2}}, {1, 0, 2}, {1, 1, 1}, 0.0f, true, {2, 1, 0}},
      {"an atom in no site's range", {-0.0f, 3.0f, 0.0f}, {{0, 0}, {2, 2}, {1, 0}}, {0, 1, 1}, {1, 1, 1}, 3.0f, false, {0, 2}},
      {"a shown atom in a hidden site's range", {1.0f, 5.0f, 2.0f}, {{0, 0}, {1, 1}, {2, 2}}, {0, 0, 2}, {1, 0, 1},
       5.0f, false, {0, 2}},
      {"overlapping ranges", {-0.0f, 0.0f, -1.0f}, {{0, 1}, {1, 2}, {2, 1}}, {0, 1, 1}, {1, 1, 1}, 0.0f, true, {2, 0, 1, 1}},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    CrystalRec c;
    Build(c, {{0.5f, kRGBWhite, AtomStyleFilled}}, {{0, 0, k.z[0], 0}, {0, 0, k.z[1], 0}, {0, 0, k.z[2], 0}});
    for (size_t i = 0; i < 3; ++i) {
      c.sites[i].firstAtom = k.ranges[i][0];
      c.sites[i].lastAtom = k.ranges[i][1];
      c.sites[i].visible = k.siteShown[i];
      c.atoms[i].site = k.siteOf[i];
    }
    SortAtomsByHeight(&c, 0.3f);
    EXPECT_EQ(c.frontZ, k.front);
    EXPECT_EQ(std::signbit(c.frontZ), k.frontNegative);
    std::vector<uint32_t> index;
    for (const SortIndexEntry &e : c.sortIndex)
      index.push_back(e.index);
    EXPECT_EQ(index, k.index);
  }
}

TEST(ProjectionTest, LevelBondsAreDrawnOnceByTheLaterAtomEvenInLargeFlatLayers) {
  // A square grid seen edge-on: every atom at the same height, each bonded
  // to its right and lower neighbours.
  const int n = 60;
  std::vector<Atom> atoms;
  for (int i = 0; i < n * n; ++i)
    atoms.push_back({float(i % n), float(i / n), 0.0f, 0});
  CrystalRec c;
  Build(c, {{0.3f, kRGBWhite, AtomStyleFilled}}, atoms);
  auto bond = [&](uint32_t a, uint32_t b) {
    c.atoms[a].bonds.push_back(b);
    c.atoms[b].bonds.push_back(a);
  };
  for (int i = 0; i < n * n; ++i) {
    if (i % n + 1 < n)
      bond(uint32_t(i), uint32_t(i + 1));
    if (i + n < n * n)
      bond(uint32_t(i), uint32_t(i + n));
  }
  for (AtomRecord &a : c.atoms)
    a.bondCount = uint32_t(a.bonds.size());
  SortAtomsByHeight(&c, 0.3f);
  size_t drawn = 0;
  for (const SortIndexEntry &e : c.sortIndex)
    for (uint32_t b : SortBondsBelow(&c, e.index)) {
      EXPECT_LT(SortIndexPosition(&c, b), SortIndexPosition(&c, e.index));
      drawn++;
    }
  EXPECT_EQ(drawn, size_t(2 * n * (n - 1)));

  // Lower neighbours come first, ascending; an atom missing from the index
  // draws no level bond.
  c.atoms[1].cart[2] = -2.0f;
  c.atoms[n].cart[2] = -1.0f;
  SortAtomsByHeight(&c, 0.3f);
  EXPECT_EQ(SortBondsBelow(&c, 0), (std::vector<uint32_t>{1, uint32_t(n)}));
  // A neighbour on a hidden site draws no bond.
  c.sites[2].visible = 0;
  SortAtomsByHeight(&c, 0.3f);
  for (uint32_t b : SortBondsBelow(&c, 3))
    EXPECT_NE(b, 2u);
}

TEST(ProjectionTest, BondsSortByHeightAsAdjacentSwapsWouldKeepingTiesAndUnknownHeightsInPlace) {
  // The reference: adjacent neighbours swapped while the first is strictly
  // higher, pass after pass.
  const auto swapSorted = [](const CrystalRec &c, std::vector<uint32_t> list) {
    for (size_t i = 1; i < list.size(); ++i)
      for (size_t j = list.size() - 1; j >= i; --j)
        if (c.atoms[list[j - 1]].cart[2] > c.atoms[list[j]].cart[2])
          std::swap(list[j - 1], list[j]);
    return list;
  };
  std::mt19937 random(11);
  for (int trial = 0; trial < 60; ++trial) {
    // Short lists and long ones, heights from a few values (many ties), some
    // level with the centre or above it, some not a number.
    const int k = trial % 2 ? 1 + int(random() % 16) : 17 + int(random() % 700);
    std::vector<Atom> atoms{{0.0f, 0.0f, 100.0f, 0}};
    for (int i = 0; i < k; ++i) {
      const int pick = int(random() % 12);
      const float z = pick < 7 ? float(pick) : pick < 11 ? 100.0f + float(pick % 2) : std::nanf("");
      atoms.push_back({1.0f, 1.0f, z, 0});
    }
    CrystalRec c;
    Build(c, {{0.3f, kRGBWhite, AtomStyleFilled}}, atoms);
    std::vector<uint32_t> lower, rest;
    for (uint32_t b = 1; b <= uint32_t(k); ++b) {
      c.atoms[0].bonds.push_back(b);
      (c.atoms[b].cart[2] < 100.0f ? lower : rest).push_back(b);
    }
    c.atoms[0].bondCount = uint32_t(k);
    std::vector<uint32_t> below, above;
    SortBonds(&c, 0, below, above);
    EXPECT_EQ(below, swapSorted(c, lower)) << "trial " << trial;
    EXPECT_EQ(above, swapSorted(c, rest)) << "trial " << trial;
  }
}

TEST(ProjectionTest, DepthShadingFadesFarObjectsAndMakesNearOnesTranslucent) {
  CrystalRec c;
  RGBColor out;
  float opacity = 0.0f;
  DepthShading(&c, 0.0f, kRGBWhite, out, opacity); // fading off
  EXPECT_EQ(out, kRGBWhite);
  EXPECT_EQ(opacity, 1.0f);

  c.depthFading = 1;
  c.backgroundColor = kRGBBlack;
  c.lowerBaseZ = 0.2f;
  c.lowerPlateauZ = 0.4f;
  c.lowerMinOpacity = 0.5f;
  DepthShading(&c, 0.3f, kRGBWhite, out, opacity);
  const uint16_t fog = uint16_t(65535.0f * 0.5f);
  const float u = (0.3f - 0.2f) / (0.4f - 0.2f);
  EXPECT_EQ(out.red, uint16_t(float(fog) * (1.0f - u) + 65535.0f * u));
  EXPECT_EQ(out.red, 49151);
  EXPECT_EQ(opacity, 1.0f);
  DepthShading(&c, -3.0f, kRGBWhite, out, opacity); // clamped to 0: the fog itself
  EXPECT_EQ(out.green, fog);

  c.upperPlateauZ = 0.8f;
  c.upperBaseZ = 0.9f;
  c.upperMinOpacity = 0.25f;
  DepthShading(&c, 0.85f, kRGBWhite, out, opacity);
  EXPECT_EQ(out, kRGBWhite);
  const float v = (0.85f - 0.8f) / (0.9f - 0.8f);
  EXPECT_FLOAT_EQ(opacity, 0.25f * v + 1.0f - v);
  DepthShading(&c, 1.0f, kRGBWhite, out, opacity);
  EXPECT_FLOAT_EQ(opacity, 0.25f);
}

TEST(ProjectionTest, ThePlaneSplitPutsPointsOnThePlaneWithThePositiveSide) {
  CrystalRec c;
  Build(c, {{0.5f, kRGBWhite, AtomStyleFilled}}, {{0, 0, -1.0f, 0}, {0, 0, 0.0f, 0}, {0, 0, 1.0f, 0}});
  SortAtomsByHeight(&c, 0.3f);
  auto indices = [](const std::vector<SortIndexEntry> &v) {
    std::vector<uint32_t> out;
    for (const SortIndexEntry &e : v)
      out.push_back(e.index);
    return out;
  };
  c.plane.viewNormal[2] = 1.0f; // towards the viewer: behind is d >= 0
  EXPECT_EQ(indices(GetSortAboveOrBelowPlane(&c, -1)), (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(indices(GetSortAboveOrBelowPlane(&c, +1)), (std::vector<uint32_t>{2}));
  c.plane.viewNormal[2] = -1.0f; // away from the viewer: the point on the plane goes in front
  EXPECT_EQ(indices(GetSortAboveOrBelowPlane(&c, -1)), (std::vector<uint32_t>{0}));
  EXPECT_EQ(indices(GetSortAboveOrBelowPlane(&c, +1)), (std::vector<uint32_t>{1, 2}));
}

TEST(ProjectionTest, SeamCorrectionsTrimOnlyWhereTheNeighbourCovers) {
  CrystalRec c;
  // Atom 0 in front of atom 1 to its right; atom 2 almost on atom 0; atom 3
  // a big sphere swallowing atom 4; atom 5 straight in front of atom 0.
  Build(c, {{1.0f, kRGBWhite, AtomStyleFilled}, {3.0f, kRGBWhite, AtomStyleFilled}},
        {{0, 0, 0, 0},
         {1.2f, 0.3f, -0.8f, 0},
         {0.003f, 0.004f, 0, 0},
         {6, 0, 0, 1},
         {6.5f, 0, 0.2f, 0},
         {0, 0, 1.5f, 0}});
  SortAtomsByHeight(&c, 0.3f);
  GetPixelCoords(&c, 400, 200);
  const std::optional<Region> disc = MakeSphereMaskRgn(&c, 0, 1.0f);
  ASSERT_TRUE(disc);

  std::optional<Region> r = disc;
  OverlapSphereCorrection(&c, 0, 2, 400, 200, r, 1.0f);
  EXPECT_EQ(*r, *disc); // centres 0.005 apart

  r = MakeSphereMaskRgn(&c, 4, 1.0f);
  OverlapSphereCorrection(&c, 4, 3, 400, 200, r, 1.0f);
  EXPECT_TRUE(r->IsEmpty()); // inside the big sphere

  // Seen along the line of centres the seam is a whole circle in front of
  // a: a keeps only the disc inside it.
  r = disc;
  OverlapSphereCorrection(&c, 0, 5, 400, 200, r, 1.0f);
  const Rect seam = r->Bounds();
  const int rho = int(std::sqrt(1.0 - 0.75 * 0.75) * 20.0); // radius of the seam in pixels
  EXPECT_NEAR(seam.Width(), 2 * rho, 2);
  EXPECT_TRUE(r->Subtracted(*disc).IsEmpty());

  // b lies in front (its z is larger), right of a: pixels go on b's side only.
  c.atoms[1].cart[2] = 0.8f;
  SortAtomsByHeight(&c, 0.3f);
  GetPixelCoords(&c, 400, 200);
  r = MakeSphereMaskRgn(&c, 0, 1.0f);
  const Region before = *r;
  OverlapSphereCorrection(&c, 0, 1, 400, 200, r, 1.0f);
  const Region removed = before.Subtracted(*r);
  ASSERT_FALSE(removed.IsEmpty());
  EXPECT_GE(removed.Bounds().left, c.atoms[0].pixel[0]);
}

TEST(ProjectionTest, SpaceFillingTrimsByBondedNeighboursAndCloudsByEarlierNeighbours) {
  CrystalRec c;
  // 0 behind 1 and bonded to it; 2 close to 1 but not bonded; 3 far away.
  Build(c, {{1.0f, kRGBWhite, AtomStyleFilled}},
        {{0.0f, 0, -0.6f, 0}, {1.0f, 0, 0.0f, 0}, {1.9f, 0, -0.5f, 0}, {8.0f, 0, 0, 0}});
  c.atoms[0].bonds = {1};
  c.atoms[1].bonds = {0};
  c.atoms[0].bondCount = c.atoms[1].bondCount = 1;
  SortAtomsByHeight(&c, 0.3f);
  GetPixelCoords(&c, 400, 200);

  std::optional<Region> r;
  DoOverlapSphereCorrection(&c, 3, r, 1.0f, 400, 200);
  EXPECT_FALSE(r); // no bonds below: no mask, drawn whole
  DoOverlapSphereCorrection(&c, 1, r, 1.0f, 400, 200);
  ASSERT_TRUE(r);
  const Region disc = *MakeSphereMaskRgn(&c, 1, 1.0f);
  EXPECT_TRUE(r->Subtracted(disc).IsEmpty());
  EXPECT_FALSE(disc.Subtracted(*r).IsEmpty()); // atom 0 bulges through on its side only
  EXPECT_LT(disc.Subtracted(*r).Bounds().right, c.atoms[1].pixel[0]);

  // Clouds: every earlier atom in the index that comes close counts,
  // bonded or not; later ones do not.
  std::optional<Region> cloud;
  DoFullOverlapSphereCorrection(&c, 1, cloud, 1.0f, 400, 200);
  ASSERT_TRUE(cloud);
  EXPECT_FALSE(disc.Subtracted(*cloud).IsEmpty());
  EXPECT_GT(disc.Subtracted(*cloud).Bounds().right, c.atoms[1].pixel[0]); // atom 2's side too
  DoFullOverlapSphereCorrection(&c, 0, cloud, 1.0f, 400, 200);
  ASSERT_TRUE(cloud);
  EXPECT_EQ(*cloud, *MakeSphereMaskRgn(&c, 0, 1.0f)); // 0 is the farthest: nothing before it
}

TEST(ProjectionTest, CloudMasksMatchAWalkOverEveryEarlierAtom) {
  std::mt19937 random(5);
  std::uniform_real_distribution<float> u(-4.0f, 4.0f);
  std::vector<Atom> atoms;
  for (int i = 0; i < 300; ++i)
    atoms.push_back({u(random), u(random), u(random), uint32_t(i % 3)});
  CrystalRec c;
  Build(c, {{0.6f, kRGBWhite, AtomStyleFilled}, {1.1f, kRGBWhite, AtomStylePhotoRendered}, {0.8f, kRGBWhite, 3}},
        atoms);
  c.atoms[7].visible = 0; // neither corrected against nor in the index
  SortAtomsByHeight(&c, 0.3f);
  GetPixelCoords(&c, 300, 300);
  const float factor = 0.9f;
  for (uint32_t a = 0; a < 300; ++a) {
    // The walk as written: the index from its start up to a.
    std::optional<Region> expected;
    bool made = false;
    for (const SortIndexEntry &e : c.sortIndex) {
      const AtomRecord &A = c.atoms[a], &B = c.atoms[e.index];
      const float reach = (c.spheres[A.atomType].radius + c.spheres[B.atomType].radius) * factor;
      if (std::fabs(A.cart[0] - B.cart[0]) < reach && std::fabs(A.cart[1] - B.cart[1]) < reach &&
          std::fabs(A.cart[2] - B.cart[2]) < reach) {
        if (!made)
          expected = MakeSphereMaskRgn(&c, a, factor);
        made = true;
        OverlapSphereCorrection(&c, a, e.index, 300, 300, expected, factor);
      }
      if (e.index == a)
        break;
    }
    std::optional<Region> got;
    DoFullOverlapSphereCorrection(&c, a, got, factor, 300, 300);
    ASSERT_EQ(bool(got), bool(expected)) << a;
    if (got) {
      ASSERT_EQ(*got, *expected) << a;
    }
  }
}
