#include "import/SiteDisplacement.h"

#include "import/TextNumbers.h"

void SetSiteUiso(CrystalRec &crystal, AsymmetricUnitRecord &site, double u) {
  site.displacementType = kDisplacementIsotropic;
  site.isoValue = ImportFloat(u);
  crystal.ellipsoidData = 1;
}

void SetSiteUij(CrystalRec &crystal, AsymmetricUnitRecord &site, const double u[6]) {
  site.displacementType = kDisplacementAnisoU;
  const double m[9] = {u[0], u[3], u[4], u[3], u[1], u[5], u[4], u[5], u[2]};
  for (int k = 0; k < 9; k++)
    site.tensor[k] = ImportFloat(m[k]);
  crystal.ellipsoidData = 1;
}
