// Fills a structure record with a cell, a space group and sites, as a file
// reader leaves it before the build: one element per site, full occupancy.
#pragma once

#include "StructureArrays.h"
#include "Utilities.h"

#include <cstdint>
#include <span>
#include <vector>

struct SiteIn {
  const char *label;
  const char *element;
  float x, y, z;
};

// Clears `c` first; with no sites the site array stays empty.
inline void FillCrystalFromSites(CrystalRec &c, const float cell[6], const char *group,
                                 const std::vector<SiteIn> &sites) {
  ClearCrystalRec(&c);
  c.a = cell[0];
  c.b = cell[1];
  c.c = cell[2];
  c.alpha = cell[3];
  c.beta = cell[4];
  c.gamma = cell[5];
  MyStrCopy(std::span<char>(c.spaceGroup), group);
  const int32_t n = static_cast<int32_t>(sites.size());
  if (n > 0) {
    c.sites = *CreateAsymmetricUnit(n);
    c.siteCount = n;
  }
  for (int32_t s = 0; s < n; s++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    MyStrCopy(std::span<char>(site.label), sites[static_cast<size_t>(s)].label);
    site.elements[0] = TwoCharsToShort(sites[static_cast<size_t>(s)].element);
    site.occupancies[0] = 1.0f;
    site.xyz[0] = sites[static_cast<size_t>(s)].x;
    site.xyz[1] = sites[static_cast<size_t>(s)].y;
    site.xyz[2] = sites[static_cast<size_t>(s)].z;
  }
}
