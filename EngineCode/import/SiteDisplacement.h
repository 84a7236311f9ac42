// Displacement parameters as foreign files give them, put on a site: an
// isotropic U or B, or the six anisotropic U components in the order the
// file writes them. Each marks the structure as holding ellipsoid data.
#pragma once

#include "import/ImportTypes.h"

// 8 pi^2: B = 8 pi^2 U.
inline constexpr double kBOverU = 78.95683520871486;

void SetSiteUiso(CrystalRec &crystal, AsymmetricUnitRecord &site, double u);
inline void SetSiteBiso(CrystalRec &crystal, AsymmetricUnitRecord &site, double b) {
  SetSiteUiso(crystal, site, b / kBOverU);
}
// U11 U22 U33 U12 U13 U23 (A^2).
void SetSiteUij(CrystalRec &crystal, AsymmetricUnitRecord &site, const double u[6]);
