// A build finds the faces of each polyhedron shape once and reuses them for
// its translates: every polyhedron it makes must be the one the face search
// makes for that atom's ligands alone, face for face, vertex for vertex.
#include "FaceShapes.h"
#include "FakeHost.h"
#include "Polyhedra.h"
#include "PolyhedraStructures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

TEST(PolyhedraShapes, EveryPolyhedronOfABuildIsTheOneItsLigandsMake) {
  FakeHost host;
  // Two centres in a P 1 cell, each with seven ligands at 2 A in random
  // directions (the same count, so only the shapes tell them apart), over
  // 3 x 3 x 3 cells: each shape recurs at 27 places, its coordinates
  // rounded differently at each.
  std::mt19937 rng(11);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  polytest::CrystalInput in{"P 1", 0, {10.0f, 10.0f, 10.0f, 90.0f, 90.0f, 90.0f}, {}, {{"Ti", "O", 0.0f, 2.2f}}};
  std::vector<std::string> labels;
  labels.reserve(16);
  const float centres[2][3] = {{0.25f, 0.25f, 0.25f}, {0.75f, 0.7f, 0.72f}};
  for (int t = 0; t < 2; ++t) {
    labels.push_back("Ti" + std::to_string(t + 1));
    in.sites.push_back({labels.back().c_str(), "Ti", centres[t][0], centres[t][1], centres[t][2]});
    for (int k = 0; k < 7; ++k) {
      float d[3] = {normal(rng), normal(rng), normal(rng)};
      const float len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      labels.push_back("O" + std::to_string(t * 7 + k + 1));
      in.sites.push_back({labels.back().c_str(), "O", centres[t][0] + 0.2f * d[0] / len,
                          centres[t][1] + 0.2f * d[1] / len, centres[t][2] + 0.2f * d[2] / len});
    }
  }
  CrystalRec c;
  ASSERT_EQ(polytest::BuildCrystal(c, in, 3, 3, 3), "");
  DefinePolyhedra(&c);
  int compared = 0;
  for (const AtomRecord &atom : c.atoms) {
    if (!AtomPolyhedron(&c, atom))
      continue;
    // The ligands as the build takes them: farthest first, ties in bond
    // order (the distances differ by far less than a thinning step).
    std::vector<LigandEntry> ligands;
    for (uint32_t b : atom.bonds) {
      LigandEntry e;
      e.atom = b;
      float d[3];
      VecDiff(c.atoms[b].cart, atom.cart, d);
      e.distSq = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
      ligands.push_back(e);
    }
    std::stable_sort(ligands.begin(), ligands.end(), CompareLigandsByDistance);
    std::vector<uint32_t> candidates;
    for (const LigandEntry &e : ligands)
      candidates.push_back(e.atom);
    const auto alone = GenPoly(&c, static_cast<uint32_t>(candidates.size()), candidates.data());
    ASSERT_TRUE(alone);
    ASSERT_EQ(alone->faceCount, AtomPolyhedron(&c, atom)->faceCount);
    for (size_t f = 0; f < alone->faces.size(); ++f)
      ASSERT_EQ(alone->faces[f].vertices, AtomPolyhedron(&c, atom)->faces[f].vertices) << "face " << f;
    ++compared;
  }
  EXPECT_GE(compared, 2 * 8); // the centres whose ligands all lie in range
  ClearCrystalRec(&c);
}

} // namespace

namespace {

// The faces filed for the kth set: as many as the set has points, each of
// three positions that tell k apart.
std::vector<uint32_t> FiledFaces(size_t k, int32_t points) {
  std::vector<uint32_t> vertices;
  for (int32_t f = 0; f < points; ++f)
    for (uint32_t v = 0; v < 3; ++v)
      vertices.push_back(static_cast<uint32_t>((k * 7 + static_cast<size_t>(f) * 3 + v) % 1000003));
  return vertices;
}

// Shapes filed by the thousand, of every size filed: each is found again
// with its own faces, and a set one rounding away from it is not. Enough of
// them fill several blocks of filed shapes, grow the table many times, and
// (the last row) pass the most a build keeps, so the collection starts again.
TEST(FaceShapesFiling, EachShapeFiledIsFoundWithItsOwnFaces) {
  struct Row {
    size_t sets;
    size_t firstFound; // the sets before it were let go with the rest
  };
  for (const Row row : {Row{3000, 0}, Row{70000, 65536}}) {
    FaceShapes shapes;
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> coordinate(-3.0f, 3.0f);
    std::vector<std::vector<std::array<float, 3>>> sets(row.sets);
    for (size_t k = 0; k < row.sets; ++k) {
      const int32_t n = 3 + static_cast<int32_t>(k % 7); // 3 to 9 points
      for (int32_t p = 0; p < n; ++p)
        sets[k].push_back({coordinate(rng), coordinate(rng), coordinate(rng)});
      const float centre[3] = {0.0f, 0.0f, 0.0f};
      ASSERT_TRUE(shapes.MakeKey(n, reinterpret_cast<const float(*)[3]>(sets[k].data()), centre));
      FaceShapes::Faces none;
      ASSERT_FALSE(shapes.Find(&none)) << k;
      const std::vector<uint32_t> vertices = FiledFaces(k, n);
      std::vector<uint32_t> starts, counts;
      for (int32_t f = 0; f < n; ++f) {
        starts.push_back(static_cast<uint32_t>(3 * f));
        counts.push_back(3);
      }
      shapes.Add(starts, counts, vertices, static_cast<uint32_t>(k));
    }
    size_t found = 0;
    for (size_t k = 0; k < row.sets; ++k) {
      const int32_t n = static_cast<int32_t>(sets[k].size());
      const float centre[3] = {0.0f, 0.0f, 0.0f};
      ASSERT_TRUE(shapes.MakeKey(n, reinterpret_cast<const float(*)[3]>(sets[k].data()), centre));
      FaceShapes::Faces faces;
      if (!shapes.Find(&faces)) {
        EXPECT_LT(k, row.firstFound) << "set " << k << " was filed and not found";
        continue;
      }
      ++found;
      ASSERT_GE(k, row.firstFound) << "set " << k << " was let go and is still found";
      const std::vector<uint32_t> vertices = FiledFaces(k, n);
      ASSERT_EQ(faces.distinct, k);
      ASSERT_EQ(std::vector<uint32_t>(faces.vertices.begin(), faces.vertices.end()), vertices) << k;
      ASSERT_EQ(faces.counts.size(), static_cast<size_t>(n)) << k;
      for (int32_t f = 0; f < n; ++f)
        ASSERT_EQ(faces.starts[static_cast<size_t>(f)], static_cast<uint32_t>(3 * f)) << k;
      // One point a rounding away: another shape, not filed.
      std::vector<std::array<float, 3>> moved = sets[k];
      moved[static_cast<size_t>(k) % moved.size()][k % 3] =
          std::nextafter(moved[static_cast<size_t>(k) % moved.size()][k % 3], 10.0f);
      ASSERT_TRUE(shapes.MakeKey(n, reinterpret_cast<const float(*)[3]>(moved.data()), centre));
      ASSERT_FALSE(shapes.Find(&faces)) << k;
    }
    EXPECT_EQ(found, row.sets - row.firstFound);
  }
}

} // namespace
