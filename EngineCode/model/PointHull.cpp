#include "PointHull.h"

#include <algorithm>
#include <cmath>

namespace {

void Sub(const float a[3], const float b[3], double out[3]) {
  for (int i = 0; i < 3; ++i)
    out[i] = static_cast<double>(a[i]) - static_cast<double>(b[i]);
}

void Cross(const double u[3], const double v[3], double out[3]) {
  out[0] = u[1] * v[2] - u[2] * v[1];
  out[1] = u[2] * v[0] - u[0] * v[2];
  out[2] = u[0] * v[1] - u[1] * v[0];
}

double Dot(const double u[3], const double v[3]) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; }

double DotF(const double u[3], const float v[3]) {
  return u[0] * static_cast<double>(v[0]) + u[1] * static_cast<double>(v[1]) + u[2] * static_cast<double>(v[2]);
}

} // namespace

double PointHull::Depth(const Facet &facet, const float point[3]) { return facet.offset - DotF(facet.normal, point); }

bool PointHull::AddFacet(const float (*points)[3], uint32_t v0, uint32_t v1, uint32_t v2) {
  Facet f{{v0, v1, v2}, {0, 0, 0}, 0.0, true};
  double u[3], v[3];
  Sub(points[v1], points[v0], u);
  Sub(points[v2], points[v0], v);
  Cross(u, v, f.normal);
  const double len = std::sqrt(Dot(f.normal, f.normal));
  if (!(len > 0.0))
    return false;
  for (double &x : f.normal)
    x /= len;
  f.offset = DotF(f.normal, points[v0]);
  facets_.push_back(f);
  return true;
}

bool PointHull::Make(size_t n, const float (*points)[3], const uint8_t *usable, double flat, double slack) {
  facets_.clear();
  // A first tetrahedron as large as cheaply found: the first point, the
  // farthest from it, the farthest from their line, the farthest from their
  // plane.
  size_t a = n;
  for (size_t p = 0; p < n && a == n; ++p)
    if (usable[p])
      a = p;
  if (a == n)
    return false;
  size_t b = a, c = a, d = a;
  double best = 0.0;
  for (size_t p = 0; p < n; ++p) {
    double u[3];
    Sub(points[p], points[a], u);
    if (usable[p] && Dot(u, u) > best) {
      best = Dot(u, u);
      b = p;
    }
  }
  double ab[3];
  Sub(points[b], points[a], ab);
  best = 0.0;
  for (size_t p = 0; p < n; ++p) {
    double u[3], x[3];
    Sub(points[p], points[a], u);
    Cross(ab, u, x);
    if (usable[p] && Dot(x, x) > best) {
      best = Dot(x, x);
      c = p;
    }
  }
  double ac[3], normal[3];
  Sub(points[c], points[a], ac);
  Cross(ab, ac, normal);
  const double area = std::sqrt(Dot(normal, normal));
  if (!(area > 0.0))
    return false;
  best = 0.0;
  for (size_t p = 0; p < n; ++p) {
    double u[3];
    Sub(points[p], points[a], u);
    const double h = std::fabs(Dot(u, normal)) / area;
    if (usable[p] && h > best) {
      best = h;
      d = p;
    }
  }
  if (!(best > flat))
    return false;

  const uint32_t t[4] = {static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c),
                         static_cast<uint32_t>(d)};
  // Each face of the tetrahedron turned so that its fourth point is inside.
  const int faces[4][4] = {{0, 1, 2, 3}, {0, 3, 1, 2}, {1, 3, 2, 0}, {0, 2, 3, 1}};
  for (const auto &f : faces) {
    uint32_t v0 = t[f[0]], v1 = t[f[1]], v2 = t[f[2]];
    double u[3], v[3], x[3], w[3];
    Sub(points[v1], points[v0], u);
    Sub(points[v2], points[v0], v);
    Cross(u, v, x);
    Sub(points[t[f[3]]], points[v0], w);
    if (Dot(x, w) > 0.0)
      std::swap(v1, v2);
    if (!AddFacet(points, v0, v1, v2))
      return false;
  }

  std::vector<size_t> visible;
  for (size_t p = 0; p < n; ++p) {
    if (!usable[p] || p == a || p == b || p == c || p == d)
      continue;
    visible.clear();
    for (size_t f = 0; f < facets_.size(); ++f)
      if (facets_[f].live && DotF(facets_[f].normal, points[p]) - facets_[f].offset > slack)
        visible.push_back(f);
    if (visible.empty())
      continue;
    // The horizon: edges of visible facets whose other facet is not visible.
    edges_.clear();
    for (size_t f : visible) {
      const uint32_t *v = facets_[f].v;
      for (int e = 0; e < 3; ++e)
        edges_.push_back(uint64_t{v[e]} << 32 | v[(e + 1) % 3]);
      facets_[f].live = false;
    }
    std::sort(edges_.begin(), edges_.end());
    const size_t visibleEdges = edges_.size();
    for (size_t e = 0; e < visibleEdges; ++e) {
      const uint64_t edge = edges_[e];
      const uint64_t reverse = (edge & 0xFFFFFFFFu) << 32 | edge >> 32;
      if (std::binary_search(edges_.begin(), edges_.begin() + static_cast<long>(visibleEdges), reverse))
        continue;
      if (!AddFacet(points, static_cast<uint32_t>(edge >> 32), static_cast<uint32_t>(edge & 0xFFFFFFFFu),
                    static_cast<uint32_t>(p)))
        return false;
    }
    std::erase_if(facets_, [](const Facet &f) { return !f.live; });
  }

  // A closed surface: every directed edge once, its reverse once.
  edges_.clear();
  for (const Facet &f : facets_)
    for (int e = 0; e < 3; ++e)
      edges_.push_back(uint64_t{f.v[e]} << 32 | f.v[(e + 1) % 3]);
  std::sort(edges_.begin(), edges_.end());
  if (std::adjacent_find(edges_.begin(), edges_.end()) != edges_.end())
    return false;
  for (uint64_t edge : edges_)
    if (!std::binary_search(edges_.begin(), edges_.end(), (edge & 0xFFFFFFFFu) << 32 | edge >> 32))
      return false;
  return true;
}
