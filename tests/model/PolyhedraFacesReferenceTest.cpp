// The face search against the plain search over every triple of points
// (kept here as the reference, built from the public face tests): the same
// faces, vertices in the same order, on random point sets, lattice shells
// with many coplanar points, and points jittered within the tolerances.
#include "Geometry.h"
#include "FakeHost.h"
#include "Polyhedra.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

std::vector<std::vector<uint32_t>> ReferenceFaces(const std::vector<std::array<float, 3>> &pts) {
  const int32_t n = static_cast<int32_t>(pts.size());
  const auto points = reinterpret_cast<const float(*)[3]>(pts.data());
  double sum[3] = {0.0, 0.0, 0.0};
  for (const auto &p : pts)
    for (int i = 0; i < 3; ++i)
      sum[i] += p[static_cast<size_t>(i)];
  const float centroid[3] = {static_cast<float>(sum[0] / n), static_cast<float>(sum[1] / n),
                             static_cast<float>(sum[2] / n)};
  std::vector<uint8_t> usable(pts.size(), 1);
  int32_t m = n;
  for (size_t p = 0; p < pts.size(); ++p)
    for (size_t q = p + 1; q < pts.size(); ++q) {
      if (!usable[p] || !usable[q])
        continue;
      const float d[3] = {pts[p][0] - pts[q][0], pts[p][1] - pts[q][1], pts[p][2] - pts[q][2]};
      if (d[0] * d[0] + d[1] * d[1] + d[2] * d[2] < kOverlapDistanceSq) {
        usable[q] = 0;
        --m;
      }
    }
  Polyhedron poly;
  std::vector<uint32_t> face(pts.size());
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = i + 1; j < n; ++j)
      for (int32_t k = j + 1; k < n; ++k) {
        if (!usable[size_t(i)] || !usable[size_t(j)] || !usable[size_t(k)] ||
            PointsAreColinear(points[i], points[j], points[k]))
          continue;
        face[0] = uint32_t(i), face[1] = uint32_t(j), face[2] = uint32_t(k);
        int32_t count = 3;
        if (IsDuplicateFace(face.data(), count, &poly))
          continue;
        if (m >= 4 && IsInternalFace(n, points, centroid, usable.data(), &count, face.data()))
          continue;
        bool add = true;
        for (PolyFace &f : poly.faces) {
          uint32_t shared = 0;
          for (uint32_t v : f.vertices)
            shared += std::find(face.begin(), face.begin() + count, v) != face.begin() + count ? 1 : 0;
          if (shared == f.vertexCount) {
            if (uint32_t(count) > f.vertexCount) {
              f.vertices.assign(face.begin(), face.begin() + count);
              f.vertexCount = uint32_t(count);
            }
            add = false;
            break;
          }
          if (shared == uint32_t(count)) {
            add = false;
            break;
          }
        }
        if (add)
          poly.faces.push_back({uint32_t(count), {face.begin(), face.begin() + count}});
      }
  std::vector<std::vector<uint32_t>> out;
  for (const PolyFace &f : poly.faces)
    out.push_back(f.vertices);
  return out;
}

std::vector<std::vector<uint32_t>> Faces(const std::vector<std::array<float, 3>> &pts) {
  uint32_t distinct = 0;
  const auto poly =
      MakeFaces(nullptr, static_cast<int32_t>(pts.size()), reinterpret_cast<const float(*)[3]>(pts.data()), &distinct);
  std::vector<std::vector<uint32_t>> out;
  if (poly)
    for (const PolyFace &f : poly->faces)
      out.push_back(f.vertices);
  return out;
}

TEST(PolyhedraFaces, SameFacesInTheSameOrderAsEveryTripleTried) {
  FakeHost host;
  std::mt19937 rng(2024);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  int sets = 0;
  for (int trial = 0; trial < 400; ++trial) {
    std::vector<std::array<float, 3>> pts;
    const int kind = trial % 4;
    if (kind == 0) { // scattered
      const int n = 4 + trial % 17;
      for (int i = 0; i < n; ++i)
        pts.push_back({3 * unit(rng), 3 * unit(rng), 3 * unit(rng)});
    } else { // lattice shells: many coplanar points, some just off their planes
      const float jitter = kind == 1 ? 0.0f : (kind == 2 ? 0.02f : 0.06f);
      const float shift[3] = {10 * unit(rng), 10 * unit(rng), 10 * unit(rng)};
      for (int x = -1; x <= 1; ++x)
        for (int y = -1; y <= 1; ++y)
          for (int z = -1; z <= 1; ++z) {
            if ((x == 0 && y == 0 && z == 0) || rng() % 3 == 0)
              continue;
            pts.push_back({shift[0] + 2.0f * x + jitter * unit(rng), shift[1] + 2.0f * y + jitter * unit(rng),
                           shift[2] + 2.0f * z + jitter * unit(rng)});
          }
    }
    if (pts.size() < 3)
      continue;
    ASSERT_EQ(Faces(pts), ReferenceFaces(pts)) << "trial " << trial;
    ++sets;
  }
  EXPECT_GT(sets, 350);
}

} // namespace
