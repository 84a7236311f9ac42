// The removal of symmetry-related sites written the plain way: every image
// of every later site against every earlier site, closing the gap after each
// removal. Quadratic in the sites. The engine's bucketed version must give
// exactly the same sites in the same places; the tests compare the two and
// the benchmark measures both.
#pragma once

#include "StructureArrays.h"
#include "UnitCell.h"

#include <cmath>
#include <cstdint>

// Two wrapped coordinates coincide: |a - b|, or 1 - |a - b|, below the
// tolerance (written here as the rule reads, apart from the engine's).
inline bool ReferenceCoincides(float a, float b) {
  const float d = std::fabs(a - b);
  return d < kSymmetryTolerance || (d > kSymmetryTolerance && 1.0f - d < kSymmetryTolerance);
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
      for (int r = 0; r < 3; r++) {
        float sum = 0.0f;
        for (int k = 0; k < 3; k++)
          sum += static_cast<float>(op.rotation[r][k]) * (site.xyz[k] + o[k]);
        image[r] = MoveIntoCell(static_cast<float>(sum + op.translation[r] - o[r]));
      }
      for (int32_t i = 0; i < j && !removed; i++) {
        const AsymmetricUnitRecord &earlier = crystal->sites[static_cast<size_t>(i)];
        if (!SitesHaveSameOccupancy(earlier, site))
          continue;
        float wrapped[3];
        MoveVectorIntoCell(wrapped, earlier.xyz);
        removed = ReferenceCoincides(image[0], wrapped[0]) && ReferenceCoincides(image[1], wrapped[1]) &&
                  ReferenceCoincides(image[2], wrapped[2]);
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
