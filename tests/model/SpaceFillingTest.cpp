#include "SpaceFilling.h"

#include "AutoBonds.h"
#include "AutoBondsTestSupport.h"
#include "FakeHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

namespace {

using namespace autobondtest;

constexpr double kPi = 3.14159265358979323846;
// Filled volumes sum single-precision caps: relative agreement with the
// analytic volume.
constexpr double kVolumeRelTol = 2e-5;
// The grid estimate of a filled volume (0.2 A spacing) against the exact one.
constexpr double kGridVolumeRelTol = 0.01;
constexpr float kRadiusTol = 1e-5f;

double Sphere(double r) { return 4.0 / 3.0 * kPi * r * r * r; }

// The volume shared by two spheres of radii r1, r2 at distance d (they
// overlap without one holding the other).
double Lens(double r1, double r2, double d) {
  const double t = r1 + r2 - d;
  return kPi * t * t * (d * d + 2 * d * r2 - 3 * r2 * r2 + 2 * d * r1 + 6 * r1 * r2 - 3 * r1 * r1) / (12 * d);
}

double CellVolume(const CrystalRec &c) { return std::sqrt(double(Det3x3Mat(c.metricTensor))); }

float Filled(CrystalRec &c) {
  float v = -1.0f;
  EXPECT_EQ(GetCellVolumeFilled(&c, &v), 1);
  return v;
}

// ---- Filled volume ------------------------------------------------------------------

TEST(SpaceFillingCellVolume, SeparateSpheresFillExactlyTheirOwnVolume) {
  FakeHost host;
  CrystalRec nacl;
  ASSERT_TRUE(MakeCrystal(nacl, {5.64f, 5.64f, 5.64f, 90, 90, 90}, "F m -3 m",
                          {{"Cl", 0, 0, 0}, {"Na", 0.5f, 0.5f, 0.5f}}, {{"Cl", 1.6f}, {"Na", 1.0f}}));
  EXPECT_NEAR(Filled(nacl), 4 * (Sphere(1.6) + Sphere(1.0)), kVolumeRelTol * 100);

  // Spheres of a simple cubic lattice that just touch do not overlap.
  CrystalRec cubic;
  ASSERT_TRUE(MakeCrystal(cubic, {10, 10, 10, 90, 90, 90}, "P 1", {{"C", 0, 0, 0}}, {{"C", 5.0f}}));
  EXPECT_NEAR(Filled(cubic), Sphere(5.0), Sphere(5.0) * kVolumeRelTol);
  EXPECT_TRUE(host.alerts.empty());
}

TEST(SpaceFillingCellVolume, OverlappingSpheresCountTheirUnion) {
  FakeHost host;
  struct Case {
    float r1, r2, d;
  };
  for (const Case &k : {Case{1.0f, 1.0f, 1.0f}, Case{1.0f, 1.5f, 2.0f}, Case{1.2f, 0.7f, 1.5f}}) {
    SCOPED_TRACE(testing::Message() << k.r1 << " " << k.r2 << " " << k.d);
    CrystalRec c;
    ASSERT_TRUE(MakeCrystal(c, {20, 20, 20, 90, 90, 90}, "P 1", {{"C", 0, 0, 0}, {"O", k.d / 20.0f, 0, 0}},
                            {{"C", k.r1}, {"O", k.r2}}));
    const double expected = Sphere(k.r1) + Sphere(k.r2) - Lens(k.r1, k.r2, k.d);
    EXPECT_NEAR(Filled(c), expected, expected * kVolumeRelTol);
  }
}

TEST(SpaceFillingCellVolume, CoincidentAndNestedSpheresCountTheLargerOnce) {
  FakeHost host;
  struct Case {
    float r1, r2, d;
    double expected;
  };
  const Case cases[] = {
      {1.0f, 1.0f, 0.0f, Sphere(1.0)}, // two sites at one place
      {1.0f, 1.5f, 0.0f, Sphere(1.5)}, {1.5f, 1.0f, 0.0f, Sphere(1.5)},
      {0.5f, 2.0f, 0.6f, Sphere(2.0)}, // the small one wholly inside
      {2.0f, 0.5f, 0.6f, Sphere(2.0)},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(testing::Message() << k.r1 << " " << k.r2 << " " << k.d);
    CrystalRec c;
    ASSERT_TRUE(MakeCrystal(c, {20, 20, 20, 90, 90, 90}, "P 1",
                            {{"C", 0.25f, 0.25f, 0.25f}, {"O", 0.25f + k.d / 20.0f, 0.25f, 0.25f}},
                            {{"C", k.r1}, {"O", k.r2}}));
    const float v = Filled(c);
    EXPECT_TRUE(std::isfinite(v));
    EXPECT_NEAR(v, k.expected, k.expected * kVolumeRelTol);
  }
}

TEST(SpaceFillingCellVolume, HiddenSitesNeitherFillNorCut) {
  FakeHost host;
  CrystalRec c;
  ASSERT_TRUE(MakeCrystal(c, {20, 20, 20, 90, 90, 90}, "P 1", {{"C", 0, 0, 0}, {"O", 0.05f, 0, 0}},
                          {{"C", 1.0f}, {"O", 1.0f}}));
  c.sites[1].visible = 0;
  EXPECT_NEAR(Filled(c), Sphere(1.0), Sphere(1.0) * kVolumeRelTol);
}

TEST(SpaceFillingCellVolume, ObliqueCellsCutOverlapsAcrossTheCellEdge) {
  FakeHost host;
  // Monoclinic, beta 120: the site's nearest image along a lies 3 A away,
  // across the cell edge; the two spheres of radius 2 overlap.
  CrystalRec c;
  ASSERT_TRUE(MakeCrystal(c, {3, 30, 30, 90, 120, 90}, "P 1", {{"C", 0.9f, 0.5f, 0.5f}}, {{"C", 2.0f}}));
  // Two lens halves per sphere: the images at +a and -a.
  const double expected = Sphere(2.0) - Lens(2.0, 2.0, 3.0);
  EXPECT_NEAR(Filled(c), expected, expected * kVolumeRelTol);
}

// The filled volume as each site's neighbour list gives it: its sphere less
// the caps of every overlapping visible neighbour, nearest first.
double PlainFilledVolume(CrystalRec &c) {
  double total = 0.0;
  std::vector<BondSearchResult> buffer(100000);
  for (int32_t s = 0; s < c.siteCount; s++) {
    const AsymmetricUnitRecord &site = c.sites[size_t(s)];
    if (!site.visible)
      continue;
    const float r1 = c.spheres[site.atomType].radius;
    float v = 4.1887903f * r1 * r1 * r1;
    const uint32_t n = SearchBondsFromSite(&c, uint32_t(s), nullptr, 0, 0, std::max({c.a, c.b, c.c}), buffer.data(),
                                           uint32_t(buffer.size()));
    EXPECT_LT(n, buffer.size());
    for (uint32_t k = 0; k < n; k++) {
      const AsymmetricUnitRecord &other = c.sites[size_t(buffer[k].site)];
      const float r2 = c.spheres[other.atomType].radius;
      const float d = buffer[k].distance;
      if (!other.visible || !(d < r1 + r2))
        continue;
      const float h = std::clamp(r1 * (1.0f - (d * d + r1 * r1 - r2 * r2) / (2.0f * d * r1)), 0.0f, 2.0f * r1);
      v -= 1.0471976f * h * h * (3.0f * r1 - h);
    }
    total += double(site.atomsPerCell) * double(v);
  }
  return total;
}

TEST(SpaceFillingCellVolume, AgreesWithEachSitesNeighbourList) {
  FakeHost host;
  struct Case {
    const char *group;
    Cell cell;
    int sites;
  };
  const Case cases[] = {
      {"P 1 21/c 1", {7.1f, 9.3f, 8.2f, 90, 104.5f, 90}, 4},
      {"P -1", {5.0f, 6.0f, 5.5f, 75, 95, 115}, 3},
      {"I 41/a m d", {6.0f, 6.0f, 9.0f, 90, 90, 90}, 2},
  };
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (const Case &k : cases) {
    SCOPED_TRACE(k.group);
    std::vector<Site> sites;
    for (int s = 0; s < k.sites; s++)
      sites.push_back({s % 2 ? "O" : "C", unit(rng), unit(rng), unit(rng)});
    std::stable_sort(sites.begin(), sites.end(),
                     [](const Site &x, const Site &y) { return Element(x.element) < Element(y.element); });
    CrystalRec c;
    ASSERT_TRUE(MakeCrystal(c, k.cell, k.group, sites, {{"C", 1.3f}, {"O", 1.6f}}));
    c.sites.back().visible = 0;
    const double plain = PlainFilledVolume(c);
    EXPECT_GT(plain, 0.0);
    EXPECT_NEAR(Filled(c), plain, plain * kVolumeRelTol);
  }
}

TEST(SpaceFillingCellVolume, RefusesWhatItCannotMeasure) {
  FakeHost host;
  float v = 1.0f;
  EXPECT_EQ(GetCellVolumeFilled(nullptr, &v), 0);
  CrystalRec molecule;
  MakeMolecule(molecule, {{"C", 0, 0, 0}, {"O", 1.2f, 0, 0}});
  EXPECT_EQ(GetCellVolumeFilled(&molecule, &v), 0);
  EXPECT_EQ(v, 0.0f);
  CrystalRec noTypes;
  ASSERT_TRUE(MakeCrystal(noTypes, {5, 5, 5, 90, 90, 90}, "P 1", {{"C", 0, 0, 0}}));
  noTypes.spheres.clear();
  noTypes.sphereCount = 0;
  EXPECT_EQ(GetCellVolumeFilled(&noTypes, &v), 0);
}

// ---- Largest void ----------------------------------------------------------------------

// The void search as a plain scan of every image for every grid point, each
// point's value spread over its symmetry images.
struct VoidResult {
  float radius = 0.0f;
  float centre[3] = {0, 0, 0};
  int64_t filled = 0;
  int64_t total = 0;
};

VoidResult PlainVoidSearch(CrystalRec &c) {
  VoidResult out;
  const float m = std::min({c.a, c.b, c.c});
  const int64_t na = int64_t(50.0 * c.a / m), nb = int64_t(50.0 * c.b / m), nc = int64_t(50.0 * c.c / m);
  int32_t nOps = 0, nSites = 0;
  std::vector<GEP> ops = *GetCrystalGEPs(&c, &nOps);
  std::vector<AsymmetricUnitRecord> sites = *GenCellAU(&c, &nSites);
  struct Image {
    float r, cart[3];
  };
  std::vector<Image> images;
  for (int32_t s = 0; s < nSites; s++) {
    if (!sites[size_t(s)].visible)
      continue;
    for (int dx = -1; dx <= 1; dx++)
      for (int dy = -1; dy <= 1; dy++)
        for (int dz = -1; dz <= 1; dz++) {
          const float f[3] = {sites[size_t(s)].xyz[0] + dx, sites[size_t(s)].xyz[1] + dy, sites[size_t(s)].xyz[2] + dz};
          Image im;
          im.r = c.spheres[sites[size_t(s)].atomType].radius;
          MatMul(c.orientationMatrix, f, im.cart);
          images.push_back(im);
        }
  }
  struct Point {
    bool filled = false, visited = false;
    float clearance = 0.0f;
  };
  std::vector<Point> grid(size_t(na * nb * nc));
  for (int64_t ia = 0; ia < na; ia++)
    for (int64_t ib = 0; ib < nb; ib++)
      for (int64_t ic = 0; ic < nc; ic++) {
        Point &p = grid[size_t((ia * nb + ib) * nc + ic)];
        if (p.visited)
          continue;
        p.visited = true;
        const float xyz[3] = {float(ia) / float(na), float(ib) / float(nb), float(ic) / float(nc)};
        float cart[3];
        MatMul(c.orientationMatrix, xyz, cart);
        p.clearance = 9.999e32f;
        for (const Image &im : images) {
          const float dx = cart[0] - im.cart[0], dy = cart[1] - im.cart[1], dz = cart[2] - im.cart[2];
          const float v = std::sqrt(dx * dx + dy * dy + dz * dz) - im.r;
          if (v < p.clearance)
            p.clearance = v;
          if (v < 0.0f) {
            p.filled = true;
            break;
          }
        }
        for (int32_t g = 1; g < nOps; g++) {
          double image[3];
          ApplySymmetryOperator(ops[size_t(g)], xyz, c.originShift, image);
          const int64_t ja = int64_t(MoveIntoCell(float(image[0])) * float(na));
          const int64_t jb = int64_t(MoveIntoCell(float(image[1])) * float(nb));
          const int64_t jc = int64_t(MoveIntoCell(float(image[2])) * float(nc));
          Point &q = grid[size_t((ja * nb + jb) * nc + jc)];
          if (!q.visited)
            q = {p.filled, true, p.clearance};
        }
      }
  out.total = na * nb * nc;
  int64_t best = -1;
  for (int64_t k = 0; k < out.total; k++) {
    const Point &p = grid[size_t(k)];
    if (p.filled)
      out.filled++;
    else if (p.clearance > out.radius) {
      out.radius = p.clearance;
      best = k;
    }
  }
  if (best >= 0) {
    out.centre[0] = float(best / (nb * nc)) / float(na);
    out.centre[1] = float((best / nc) % nb) / float(nb);
    out.centre[2] = float(best % nc) / float(nc);
  }
  return out;
}

TEST(SpaceFillingVoid, GridHasFiftyPointsAlongTheShortestEdge) {
  FakeHost host;
  struct Case {
    Cell cell;
    const char *line;
  };
  const Case cases[] = {
      {{10, 10, 10, 90, 90, 90}, "search grid size: 0.200000 Angstroms (50 x 50 x 50 = 125000 points)\n"},
      {{5, 10, 20, 90, 90, 90}, "search grid size: 0.100000 Angstroms (50 x 100 x 200 = 1000000 points)\n"},
  };
  for (const Case &k : cases) {
    CrystalRec c;
    ASSERT_TRUE(MakeCrystal(c, k.cell, "P 1", {{"C", 0, 0, 0}}, {{"C", 1.0f}}));
    float filled = 0, radius = 0, centre[3];
    testing::internal::CaptureStderr();
    const int ok = GetMaxVoidSize(&c, &filled, &radius, centre);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(err.rfind(k.line, 0), 0u) << err;
  }
}

TEST(SpaceFillingVoid, SimpleCubicLatticeOfTouchingSpheres) {
  FakeHost host;
  CrystalRec c;
  ASSERT_TRUE(MakeCrystal(c, {10, 10, 10, 90, 90, 90}, "P 1", {{"C", 0, 0, 0}}, {{"C", 5.0f}}));
  float filled = 0, radius = 0, centre[3] = {-1, -1, -1};
  testing::internal::CaptureStderr();
  ASSERT_EQ(GetMaxVoidSize(&c, &filled, &radius, centre), 1);
  const std::string err = testing::internal::GetCapturedStderr();
  // The hole at the body centre reaches the eight corner spheres.
  EXPECT_NEAR(radius, 5.0 * std::sqrt(3.0) - 5.0, kRadiusTol);
  EXPECT_FLOAT_EQ(centre[0], 0.5f);
  EXPECT_FLOAT_EQ(centre[1], 0.5f);
  EXPECT_FLOAT_EQ(centre[2], 0.5f);
  EXPECT_NEAR(filled, Sphere(5.0), Sphere(5.0) * kGridVolumeRelTol);
  EXPECT_NE(err.find("Maximum void size corresponds to a sphere with radius of 3.66025"), std::string::npos) << err;
  EXPECT_NE(err.find(" of 125000 points filled (volume per voxel = 0.008000)\n"), std::string::npos) << err;
}

TEST(SpaceFillingVoid, MatchesAPlainScanOverEveryImage) {
  FakeHost host;
  struct Case {
    const char *group;
    Cell cell;
    int sites;
    float radius;
  };
  const Case cases[] = {
      {"P 1 21/c 1", {7.1f, 9.3f, 8.2f, 90, 104.5f, 90}, 3, 1.1f},
      {"P -1", {6.0f, 7.0f, 6.5f, 80, 95, 110}, 2, 1.3f},
      {"F m -3 m", {8.0f, 8.0f, 8.0f, 90, 90, 90}, 1, 1.4f},
  };
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (const Case &k : cases) {
    SCOPED_TRACE(k.group);
    std::vector<Site> sites;
    for (int s = 0; s < k.sites; s++)
      sites.push_back({"C", unit(rng), unit(rng), unit(rng)});
    CrystalRec c;
    ASSERT_TRUE(MakeCrystal(c, k.cell, k.group, sites, {{"C", k.radius}}));
    float filled = 0, radius = 0, centre[3];
    testing::internal::CaptureStderr();
    ASSERT_EQ(GetMaxVoidSize(&c, &filled, &radius, centre), 1);
    testing::internal::GetCapturedStderr();
    const VoidResult plain = PlainVoidSearch(c);
    EXPECT_GT(plain.radius, 0.0f);
    EXPECT_EQ(radius, plain.radius);
    EXPECT_EQ(centre[0], plain.centre[0]);
    EXPECT_EQ(centre[1], plain.centre[1]);
    EXPECT_EQ(centre[2], plain.centre[2]);
    EXPECT_NEAR(filled, double(plain.filled) * CellVolume(c) / double(plain.total), 1e-3);
  }
}

TEST(SpaceFillingVoid, AFilledCellHasNoVoid) {
  FakeHost host;
  CrystalRec c;
  ASSERT_TRUE(MakeCrystal(c, {4, 4, 4, 90, 90, 90}, "P 1", {{"C", 0, 0, 0}}, {{"C", 4.0f}}));
  float filled = 0, radius = 1, centre[3] = {1, 1, 1};
  testing::internal::CaptureStderr();
  ASSERT_EQ(GetMaxVoidSize(&c, &filled, &radius, centre), 1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(radius, 0.0f);
  EXPECT_EQ(centre[0], 0.0f);
  EXPECT_NEAR(filled, 64.0, 64.0 * 1e-5);
}

TEST(SpaceFillingVoid, FailsWithoutAVisibleSiteOrAtomTypes) {
  FakeHost host;
  float filled = 0, radius = 0, centre[3];
  CrystalRec hidden;
  ASSERT_TRUE(MakeCrystal(hidden, {5, 5, 5, 90, 90, 90}, "P 1", {{"C", 0, 0, 0}}));
  hidden.sites[0].visible = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetMaxVoidSize(&hidden, &filled, &radius, centre), 0);
  CrystalRec noTypes;
  ASSERT_TRUE(MakeCrystal(noTypes, {5, 5, 5, 90, 90, 90}, "P 1", {{"C", 0, 0, 0}}));
  noTypes.spheres.clear();
  noTypes.sphereCount = 0;
  EXPECT_EQ(GetMaxVoidSize(&noTypes, &filled, &radius, centre), 0);
  // A needle-shaped cell would need a grid of gigabytes.
  CrystalRec needle;
  ASSERT_TRUE(MakeCrystal(needle, {0.5f, 0.5f, 500, 90, 90, 90}, "P 1", {{"C", 0, 0, 0}}));
  EXPECT_EQ(GetMaxVoidSize(&needle, &filled, &radius, centre), 0);
  testing::internal::GetCapturedStderr();
}

} // namespace
