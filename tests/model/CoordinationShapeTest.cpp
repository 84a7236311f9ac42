// The shape of a coordination environment, from ideal polyhedra whose face
// counts are known by hand, given in shuffled order and with noise of a
// size a relaxation or a refinement leaves.
#include "CoordinationShape.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using Ligands = std::vector<std::array<float, 3>>;

Ligands Regular(int n, float z, float radius, float turn = 0.0f) {
  Ligands out;
  for (int k = 0; k < n; ++k) {
    const float a = turn + 6.2831853f * float(k) / float(n);
    out.push_back({radius * std::cos(a), radius * std::sin(a), z});
  }
  return out;
}

Ligands Join(Ligands a, const Ligands &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

} // namespace

TEST(CoordinationShape, IdealShapesInAnyOrderAndWithNoise) {
  const float r = 2.0f, h = 2.0f / std::sqrt(3.0f);
  const struct {
    const char *name;
    Ligands ligands;
    int faces;
  } cases[] = {
      {"trigonal planar", Regular(3, 0, r), kFlatCoordination},
      // Three ligands always lie in a plane, the centre above it or not.
      {"trigonal pyramid", Regular(3, -0.7f, r), kFlatCoordination},
      {"square planar", Regular(4, 0, r), kFlatCoordination},
      {"tetrahedron", {{h, h, h}, {h, -h, -h}, {-h, h, -h}, {-h, -h, h}}, 4},
      {"square pyramid", Join(Regular(4, 0, r), {{0, 0, r}}), 5},
      {"trigonal bipyramid", Join(Regular(3, 0, r), {{0, 0, r}, {0, 0, -r}}), 6},
      {"octahedron", Join(Regular(4, 0, r), {{0, 0, r}, {0, 0, -r}}), 8},
      {"cube",
       Join(Regular(4, h, 2 * h / std::sqrt(0.5f) / 2, 0.7853982f),
            Regular(4, -h, 2 * h / std::sqrt(0.5f) / 2, 0.7853982f)),
       6},
      {"hexagonal prism", Join(Regular(6, 1, r), Regular(6, -1, r)), 8},
      {"planar hexagon", Regular(6, 0, r), kFlatCoordination},
  };
  std::mt19937 random(7);
  std::uniform_real_distribution<float> noise(-0.02f, 0.02f);
  for (const auto &k : cases) {
    EXPECT_EQ(CoordinationShapeFaces(k.ligands), k.faces) << k.name;
    for (int trial = 0; trial < 5; ++trial) {
      Ligands moved = k.ligands;
      std::shuffle(moved.begin(), moved.end(), random);
      for (auto &p : moved)
        for (float &v : p)
          v += noise(random);
      EXPECT_EQ(CoordinationShapeFaces(moved), k.faces) << k.name << " trial " << trial;
    }
  }
  EXPECT_EQ(CoordinationShapeFaces(Regular(2, 0, r)), 0);
  EXPECT_EQ(CoordinationShapeFaces({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}), 0) << "a line spans no plane";
}
