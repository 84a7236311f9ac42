// A build finds the faces of each polyhedron shape once and reuses them for
// its translates: every polyhedron it makes must be the one the face search
// makes for that atom's ligands alone, face for face, vertex for vertex.
#include "FakeHost.h"
#include "Polyhedra.h"
#include "PolyhedraStructures.h"

#include <gtest/gtest.h>

#include <algorithm>
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
