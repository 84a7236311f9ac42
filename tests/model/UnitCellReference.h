// The removal of symmetry-related sites written the plain way: every image
// of every later site against every earlier site, closing the gap after each
// removal. Quadratic in the sites. The engine's bucketed version must give
// exactly the same sites in the same places; the tests compare the two and
// the benchmark measures both. Likewise the images of the cell, each
// compared with every earlier image of its site.
#pragma once

#include "StructureArrays.h"
#include "UnitCell.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

// Two wrapped coordinates coincide: |a - b|, or 1 - |a - b|, below the
// tolerance (written here as the rule reads, apart from the engine's).
inline bool ReferenceCoincides(float a, float b) {
  const float d = std::fabs(a - b);
  return d < kSymmetryTolerance || (d > kSymmetryTolerance && 1.0f - d < kSymmetryTolerance);
}

// A site's image under an operator about the origin shift o (within a cell),
// wrapped into the cell.
inline void ReferenceWrappedImage(const GEP &op, const float xyz[3], const float o[3], float image[3]) {
  for (int r = 0; r < 3; r++) {
    float sum = 0.0f;
    for (int k = 0; k < 3; k++)
      sum += static_cast<float>(op.rotation[r][k]) * (xyz[k] + o[k]);
    image[r] = MoveIntoCell(static_cast<float>(sum + op.translation[r] - o[r]));
  }
}

inline bool ReferenceSamePlace(const float a[3], const float b[3]) {
  return ReferenceCoincides(a[0], b[0]) && ReferenceCoincides(a[1], b[1]) && ReferenceCoincides(a[2], b[2]);
}

// The distance (A) between two fractional positions, the nearest whole
// cells apart, through the cell's edge vectors (a along x, b in the x-y
// plane).
inline double ReferenceDistance(const CrystalRec &c, const float p[3], const float q[3]) {
  const double rad = M_PI / 180.0;
  const double ca = std::cos(c.alpha * rad), cb = std::cos(c.beta * rad), cg = std::cos(c.gamma * rad),
               sg = std::sin(c.gamma * rad);
  const double cy = (ca - cb * cg) / sg;
  const double v[3][3] = {{c.a, 0, 0}, {c.b * cg, c.b * sg, 0}, {c.c * cb, c.c * cy, c.c * std::sqrt(1 - cb * cb - cy * cy)}};
  double r[3] = {0, 0, 0};
  for (int i = 0; i < 3; i++) {
    double d = double(p[i]) - double(q[i]);
    d -= std::round(d);
    for (int k = 0; k < 3; k++)
      r[k] += d * v[i][k];
  }
  return std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
}

// Two images of a site are one atom at one place or within a hundredth of an
// angstrom.
inline bool ReferenceOneAtom(const CrystalRec &c, const float p[3], const float q[3]) {
  return ReferenceSamePlace(p, q) || ReferenceDistance(c, p, q) < 0.01;
}

// The cell's atom positions, site by site, each site's images in the
// operators' order with those of one atom with an earlier image of the site
// left out, except that an image just above 0 on an axis takes the place of
// the earlier one just below 1; `perSite` gets each site's count.
inline std::vector<std::array<float, 3>> ReferenceCellImages(CrystalRec *crystal, std::vector<int32_t> &perSite) {
  std::vector<std::array<float, 3>> out;
  perSite.clear();
  int32_t nOps = 0;
  auto ops = GetCrystalGEPs(crystal, &nOps);
  if (!ops)
    return out;
  for (int32_t s = 0; s < crystal->siteCount; s++) {
    const size_t first = out.size();
    for (const GEP &op : *ops) {
      std::array<float, 3> image;
      ReferenceWrappedImage(op, crystal->sites[static_cast<size_t>(s)].xyz, crystal->originShift, image.data());
      size_t seen = out.size();
      for (size_t k = first; k < out.size() && seen == out.size(); k++)
        if (ReferenceOneAtom(*crystal, image.data(), out[k].data()))
          seen = k;
      if (seen == out.size()) {
        out.push_back(image);
        continue;
      }
      bool above = false, below = false;
      for (int i = 0; i < 3; i++) {
        above = above || (out[seen][i] > 0.5f && image[i] < 0.5f);
        below = below || (out[seen][i] < 0.5f && image[i] > 0.5f);
      }
      if (above && !below)
        out[seen] = image;
    }
    perSite.push_back(static_cast<int32_t>(out.size() - first));
  }
  return out;
}

inline void ReferenceRemoveSymmetryRelatedSites(CrystalRec *crystal) {
  int32_t nOps = 0;
  auto ops = GetCrystalGEPs(crystal, &nOps);
  if (!ops || nOps <= 1)
    return;
  int32_t n = crystal->siteCount;
  if (n < 2)
    return;
  const float *o = crystal->originShift;
  bool removedAny = false;
  int32_t j = 1;
  while (j < n) {
    const AsymmetricUnitRecord site = crystal->sites[static_cast<size_t>(j)];
    bool removed = false;
    for (const GEP &op : *ops) {
      float image[3];
      ReferenceWrappedImage(op, site.xyz, o, image);
      for (int32_t i = 0; i < j && !removed; i++) {
        const AsymmetricUnitRecord &earlier = crystal->sites[static_cast<size_t>(i)];
        if (!SitesHaveSameOccupancy(earlier, site))
          continue;
        float wrapped[3];
        MoveVectorIntoCell(wrapped, earlier.xyz);
        removed = ReferenceSamePlace(image, wrapped);
      }
      if (removed)
        break;
    }
    if (removed) {
      for (int32_t k = j; k < n - 1; k++)
        crystal->sites[static_cast<size_t>(k)] = crystal->sites[static_cast<size_t>(k) + 1];
      n--;
      removedAny = true;
    } else {
      j++;
    }
  }
  if (removedAny)
    RedimensionAsymmetricUnit(crystal, n);
}
