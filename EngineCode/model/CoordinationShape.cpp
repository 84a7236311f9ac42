#include "CoordinationShape.h"

#include <cmath>
#include <cstdint>

namespace {

using Vec = std::array<double, 3>;

Vec Diff(const Vec &a, const Vec &b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec Cross(const Vec &a, const Vec &b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Dot(const Vec &a, const Vec &b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

} // namespace

int CoordinationShapeFaces(const std::vector<std::array<float, 3>> &ligands) {
  const size_t n = ligands.size();
  if (n < 3 || n > kMaxShapeLigands)
    return 0;
  std::vector<Vec> p(n);
  double mean = 0.0;
  for (size_t i = 0; i < n; ++i) {
    p[i] = {double(ligands[i][0]), double(ligands[i][1]), double(ligands[i][2])};
    mean += std::sqrt(Dot(p[i], p[i]));
  }
  mean /= double(n);
  if (!(mean > 0.0))
    return 0;
  const double tolerance = double(kCoordinationPlaneTolerance) * mean;
  // Three ligands closer to a line than this span no plane.
  const double minArea = tolerance * mean;

  // Every plane through three ligands with all the others on one side of it
  // (within the tolerance) bounds the hull; the ligands within the
  // tolerance of it make its face. Faces are told apart by those ligands,
  // so the triangles of one flat face count once.
  const uint64_t all = (uint64_t{1} << n) - 1;
  std::vector<uint64_t> faces;
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < n; ++j)
      for (size_t k = j + 1; k < n; ++k) {
        Vec normal = Cross(Diff(p[j], p[i]), Diff(p[k], p[i]));
        const double length = std::sqrt(Dot(normal, normal));
        if (!(length > minArea))
          continue;
        for (double &v : normal)
          v /= length;
        uint64_t on = 0;
        bool above = false, below = false;
        for (size_t m = 0; m < n; ++m) {
          const double d = Dot(Diff(p[m], p[i]), normal);
          if (std::fabs(d) <= tolerance)
            on |= uint64_t{1} << m;
          else if (d > 0.0)
            above = true;
          else
            below = true;
        }
        if (on == all)
          return kFlatCoordination;
        if (above && below)
          continue;
        bool known = false;
        for (uint64_t f : faces)
          known = known || f == on;
        if (!known)
          faces.push_back(on);
      }
  return int(faces.size());
}
