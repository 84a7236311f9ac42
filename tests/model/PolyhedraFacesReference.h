// The face search as the plain search over every triple of points, made
// from the public face tests: the reference that the face search must match
// face for face, vertex for vertex.
#pragma once

#include "Geometry.h"
#include "Polyhedra.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace facesref {

inline std::vector<std::vector<uint32_t>> ReferenceFaces(const std::vector<std::array<float, 3>> &pts) {
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
    out.emplace_back(f.vertices);
  return out;
}

// The faces that MakeFaces finds, as lists of positions.
inline std::vector<std::vector<uint32_t>> Faces(const std::vector<std::array<float, 3>> &pts) {
  uint32_t distinct = 0;
  const auto poly =
      MakeFaces(nullptr, static_cast<int32_t>(pts.size()), reinterpret_cast<const float(*)[3]>(pts.data()), &distinct);
  std::vector<std::vector<uint32_t>> out;
  if (poly)
    for (const PolyFace &f : poly->faces)
      out.emplace_back(f.vertices);
  return out;
}

} // namespace facesref
