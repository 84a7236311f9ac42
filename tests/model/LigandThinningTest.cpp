// The thinning of ligands against the plain search it stands for: every
// triple of usable ligands tried in order, every other ligand tested against
// its tetrahedron's four faces (written here from the rule, in float). The
// same ligands must survive on scattered sets, lattice shells whose ligands
// lie on the hull's faces (where only the rounding decides), and shells
// placed far from the origin.
#include "FakeHost.h"
#include "Geometry.h"
#include "LigandThinning.h"
#include "VectorMath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace {

using Point = std::array<float, 3>;

std::vector<uint8_t> PlainThinning(const Point &centre, const std::vector<Point> &p,
                                   std::vector<LigandEntry> ligands) {
  const size_t n = ligands.size();
  size_t drop = 0;
  for (size_t j = 1; j < n && drop == 0; ++j)
    if (ligands[j - 1].distSq - ligands[j].distSq >= kThinningDistanceStep)
      drop = j;
  std::vector<uint8_t> usable(n, 1);
  if (drop == 0)
    return usable;
  auto dot = [](const float *a, const float *b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
  for (size_t a = drop >= 2 ? drop - 2 : 0; a < n; ++a)
    for (size_t b = a + 1; b < n; ++b)
      for (size_t c = b + 1; c < n; ++c) {
        if (!usable[a] || !usable[b] || !usable[c] || PointsAreColinear(p[a].data(), p[b].data(), p[c].data()))
          continue;
        const float *face[4] = {centre.data(), centre.data(), centre.data(), p[a].data()};
        float centroid[3], normal[4][3];
        for (int i = 0; i < 3; ++i)
          centroid[i] = (centre[size_t(i)] + p[a][size_t(i)] + p[b][size_t(i)] + p[c][size_t(i)]) / 4.0f;
        CalcPlaneNormal(centre.data(), p[a].data(), p[b].data(), normal[0]);
        CalcPlaneNormal(centre.data(), p[a].data(), p[c].data(), normal[1]);
        CalcPlaneNormal(centre.data(), p[b].data(), p[c].data(), normal[2]);
        CalcPlaneNormal(p[a].data(), p[b].data(), p[c].data(), normal[3]);
        for (int f = 0; f < 4; ++f) {
          float out[3];
          VecDiff(face[f], centroid, out);
          if (dot(out, normal[f]) < 0.0f)
            VecNegate(normal[f]);
        }
        bool flat = false;
        for (int f = 0; f < 4; ++f)
          for (int g = f + 1; g < 4; ++g)
            flat = flat || std::fabs(normal[f][0] - normal[g][0]) + std::fabs(normal[f][1] - normal[g][1]) +
                                   std::fabs(normal[f][2] - normal[g][2]) <
                               kFlatTetrahedronTolerance;
        for (size_t k = 0; k < n && !flat; ++k) {
          bool inside = k != a && k != b && k != c && usable[k];
          for (int f = 0; f < 4 && inside; ++f) {
            float to[3];
            VecDiff(face[f], p[k].data(), to);
            inside = dot(to, normal[f]) > 0.0f;
          }
          if (inside)
            usable[k] = 0;
        }
      }
  return usable;
}

// Both thinnings of the ligands at `pts` (sorted farthest first from the
// centre, as the polyhedra sort them); the kept marks of each.
void ExpectSameThinning(const Point &centre, std::vector<Point> pts, const char *what, int trial) {
  std::vector<LigandEntry> ligands(pts.size());
  for (size_t k = 0; k < pts.size(); ++k) {
    ligands[k].atom = uint32_t(k);
    float d[3];
    VecDiff(pts[k].data(), centre.data(), d);
    ligands[k].distSq = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
  }
  std::stable_sort(ligands.begin(), ligands.end(), CompareLigandsByDistance);
  std::vector<Point> sorted;
  for (const LigandEntry &e : ligands)
    sorted.push_back(pts[e.atom]);
  const std::vector<uint8_t> expected = PlainThinning(centre, sorted, ligands);
  ASSERT_TRUE(ThinLigands(centre.data(), reinterpret_cast<const float(*)[3]>(sorted.data()), ligands,
                          [](uint64_t) { return false; }));
  std::vector<uint8_t> kept;
  for (const LigandEntry &e : ligands)
    kept.push_back(e.usable);
  ASSERT_EQ(kept, expected) << what << " " << trial << ", " << pts.size() << " ligands";
}

// The lattice points within `reach` of a lattice point near the origin of
// a lattice given by its basis, less the centre itself, all moved by `shift`.
std::vector<Point> Shell(const std::vector<Point> &basis, float cell, float reach, const Point &shift, Point *centre) {
  std::vector<Point> out;
  *centre = {shift[0] + basis[0][0] * cell, shift[1] + basis[0][1] * cell, shift[2] + basis[0][2] * cell};
  for (int i = -3; i <= 3; ++i)
    for (int j = -3; j <= 3; ++j)
      for (int k = -3; k <= 3; ++k)
        for (const Point &b : basis) {
          const float x = (float(i) + b[0]) * cell, y = (float(j) + b[1]) * cell, z = (float(k) + b[2]) * cell;
          const float dx = x - basis[0][0] * cell, dy = y - basis[0][1] * cell, dz = z - basis[0][2] * cell;
          const float d = std::sqrt(dx * dx + dy * dy + dz * dz);
          if (d > 0.1f && d <= reach)
            out.push_back({shift[0] + x, shift[1] + y, shift[2] + z});
        }
  return out;
}

TEST(LigandThinning, KeepsTheLigandsThePlainSearchKeeps) {
  FakeHost host;
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  const std::vector<Point> fcc = {{0, 0, 0}, {0, 0.5f, 0.5f}, {0.5f, 0, 0.5f}, {0.5f, 0.5f, 0}};
  std::vector<Point> diamond = fcc;
  for (const Point &p : fcc)
    diamond.push_back({p[0] + 0.25f, p[1] + 0.25f, p[2] + 0.25f});
  const std::vector<Point> cubic = {{0, 0, 0}};
  for (int trial = 0; trial < 60; ++trial) {
    // Scattered ligands in a shell, a few to many.
    const Point centre = {20 * unit(rng), 20 * unit(rng), 20 * unit(rng)};
    std::vector<Point> pts;
    const int n = 5 + trial;
    for (int i = 0; i < n; ++i) {
      Point d = {unit(rng), unit(rng), unit(rng)};
      const float r = (1.4f + 2.6f * std::fabs(unit(rng))) / std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      pts.push_back({centre[0] + r * d[0], centre[1] + r * d[1], centre[2] + r * d[2]});
    }
    ExpectSameThinning(centre, pts, "scattered", trial);
  }
  for (int trial = 0; trial < 90; ++trial) {
    // Lattice shells: ligands on the faces of their hull, exactly or
    // jittered, far from the origin or near it.
    const std::vector<Point> &basis = trial % 3 == 0 ? diamond : trial % 3 == 1 ? fcc : cubic;
    const float cell = trial % 3 == 0 ? 3.567f : trial % 3 == 1 ? 1.2021f : 1.3f;
    const float reach = trial % 3 == 0 ? 4.0f : trial % 3 == 1 ? 1.5f + 0.05f * float(trial % 12) : 2.7f;
    const float far = trial % 2 ? 150.0f : 3.0f;
    const Point shift = {far * unit(rng), far * unit(rng), far * unit(rng)};
    Point centre;
    std::vector<Point> pts = Shell(basis, cell, reach, shift, &centre);
    const float jitter = trial % 5 == 0 ? 0.02f : 0.0f;
    for (Point &p : pts)
      for (float &x : p)
        x += jitter * unit(rng);
    ExpectSameThinning(centre, pts, "lattice", trial);
  }
}

// A half shell (a centre on a surface) and sets with collinear, coplanar and
// coincident-direction ligands give the same ligands too.
TEST(LigandThinning, DegenerateSetsKeepTheSameLigands) {
  FakeHost host;
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  for (int trial = 0; trial < 60; ++trial) {
    const Point centre = {5 * unit(rng), 5 * unit(rng), 5 * unit(rng)};
    std::vector<Point> pts;
    const int n = 8 + trial % 30;
    for (int i = 0; i < n; ++i) {
      Point d = {unit(rng), unit(rng), trial % 3 == 0 ? std::fabs(unit(rng)) : unit(rng)};
      if (trial % 3 == 1)
        d[2] = 0.001f * unit(rng); // nearly flat
      const float len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      const float r = 1.5f + float(i % 4) * 0.7f;
      pts.push_back({centre[0] + r * d[0] / len, centre[1] + r * d[1] / len, centre[2] + r * d[2] / len});
      if (trial % 3 == 2 && i % 3 == 0) // a second ligand in the same direction
        pts.push_back({centre[0] + 0.5f * r * d[0] / len, centre[1] + 0.5f * r * d[1] / len,
                       centre[2] + 0.5f * r * d[2] / len});
    }
    ExpectSameThinning(centre, pts, "degenerate", trial);
  }
}

} // namespace
