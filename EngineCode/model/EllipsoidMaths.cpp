#include "EllipsoidMaths.h"

#include "Geometry.h"
#include "HostServices.h"
#include "Preferences.h"
#include "VectorMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

const CriticalValueRow gEllipsoidCriticalValues[kNumCriticalValues] = {
#include "EllipsoidCriticalValues.inc"
};

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPiSquared = 2.0 * kPi * kPi;
constexpr char kInvalidTensorMessage[] = "Invalid thermal ellipsoid tensor for site ";

// a*, b*, c* of the cell; false for a cell `RecipCell` refuses.
bool ReciprocalLengths(const CrystalRec *crystal, double r[3]) {
  float aStar, bStar, cStar;
  if (!crystal || !RecipCell(crystal, &aStar, &bStar, &cStar, nullptr, nullptr, nullptr))
    return false;
  r[0] = aStar;
  r[1] = bStar;
  r[2] = cStar;
  return true;
}

bool CellUsable(const CrystalRec *crystal) {
  return crystal && RecipCell(crystal, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

// The reciprocal-to-orthogonal matrix of a cell of edges 1, 1, 1 with the
// structure's angles, in double.
void UnitRecipToOrtho(const CrystalRec &c, double M[9]) {
  float m[9];
  GetRecipToOrthoMatrix(1.0f, 1.0f, 1.0f, c.alpha, c.beta, c.gamma, m);
  for (int i = 0; i < 9; ++i)
    M[i] = m[i];
}

void DTranspose(const double A[9], double T[9]) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      T[3 * c + r] = A[3 * r + c];
}

// Scales the axis end points of one atom about the atom.
void ScaleAtomAxes(AtomRecord &atom, double factor) {
  for (auto &end : atom.ellipsoidAxes)
    for (int i = 0; i < 3; ++i)
      end[i] = static_cast<float>(atom.xyz[i] + (double(end[i]) - double(atom.xyz[i])) * factor);
}

float ClampProbability(float p) {
  if (!(p > 0.0f)) // negative or NaN
    return 0.0f;
  return std::min(p, 1.0f);
}

} // namespace

float GetEllipsoidCriticalValue(float p) {
  p = ClampProbability(p);
  float best = kCriticalValueNoRow;
  float value = gEllipsoidCriticalValues[0].value;
  for (const CriticalValueRow &row : gEllipsoidCriticalValues) {
    const float d = std::fabs(p - row.probability);
    if (d < best) {
      best = d;
      value = row.value;
    }
  }
  return value;
}

void ResetEllipsoidProbability(CrystalRec *crystal, float p) {
  if (!crystal)
    return;
  p = ClampProbability(p);
  if (p == crystal->ellipsoidProbability)
    return;
  const float cOld = crystal->ellipsoidCriticalValue;
  const float cNew = GetEllipsoidCriticalValue(p);
  crystal->ellipsoidProbability = p;
  crystal->ellipsoidCriticalValue = cNew;
  if (!crystal->ellipsoidData || !(cOld > 0.0f) || !std::isfinite(cOld))
    return;
  const double factor = double(cNew) / double(cOld);
  const size_t n = std::min(crystal->atoms.size(), static_cast<size_t>(std::max<int32_t>(crystal->atomCount, 0)));
  for (size_t i = 0; i < n; ++i)
    ScaleAtomAxes(crystal->atoms[i], factor);
}

int32_t RepairEllipsoidAxes(CrystalRec *crystal) {
  if (!crystal || !crystal->ellipsoidData || crystal->sites.empty() || crystal->atoms.empty())
    return 0;
  const float critical = crystal->ellipsoidCriticalValue;
  if (!(critical > 0.0f) || !std::isfinite(critical))
    return 0;
  const double factor = std::sqrt(double(critical));
  const int64_t atomCount =
      std::min<int64_t>(static_cast<int64_t>(crystal->atoms.size()), std::max<int32_t>(crystal->atomCount, 0));
  const size_t siteCount =
      std::min(crystal->sites.size(), static_cast<size_t>(std::max<int32_t>(crystal->siteCount, 0)));
  int32_t changed = 0;
  for (size_t s = 0; s < siteCount; ++s) {
    const AsymmetricUnitRecord &site = crystal->sites[s];
    if (site.displacementType == kDisplacementNone)
      continue;
    const int64_t last = std::min<int64_t>(site.lastAtom, atomCount - 1);
    for (int64_t a = std::max<int64_t>(site.firstAtom, 0); a <= last; ++a) {
      ScaleAtomAxes(crystal->atoms[static_cast<size_t>(a)], factor);
      ++changed;
    }
  }
  return changed;
}

bool ConvertUijToBij(const CrystalRec *crystal, const float U[9], float B[9]) {
  double r[3];
  if (!ReciprocalLengths(crystal, r))
    return false;
  float out[9];
  for (int i = 0; i < 3; ++i)
    for (int j = i; j < 3; ++j)
      out[3 * i + j] = out[3 * j + i] = static_cast<float>(kTwoPiSquared * r[i] * r[j] * U[3 * i + j]);
  std::memcpy(B, out, sizeof out);
  return true;
}

bool ConvertBijToUij(const CrystalRec *crystal, const float B[9], float U[9]) {
  double r[3];
  if (!ReciprocalLengths(crystal, r))
    return false;
  float out[9];
  for (int i = 0; i < 3; ++i)
    for (int j = i; j < 3; ++j)
      out[3 * i + j] = out[3 * j + i] = static_cast<float>(B[3 * i + j] / (kTwoPiSquared * r[i] * r[j]));
  std::memcpy(U, out, sizeof out);
  return true;
}

bool IsUijValid(const float U[9]) { return Det3x3Mat(U) > 0.0f && U[0] > 0.0f && U[4] > 0.0f && U[8] > 0.0f; }

bool GetEllipsoidAxes(CrystalRec *crystal, int32_t siteIndex, float axes[3][3]) {
  if (!crystal || !crystal->ellipsoidData || siteIndex < 0)
    return false;
  const size_t siteCount =
      std::min(crystal->sites.size(), static_cast<size_t>(std::max<int32_t>(crystal->siteCount, 0)));
  if (static_cast<size_t>(siteIndex) >= siteCount)
    return false;
  const AsymmetricUnitRecord &site = crystal->sites[static_cast<size_t>(siteIndex)];
  if (site.displacementType > kDisplacementAnisoB || !CellUsable(crystal))
    return false;

  float eigenvalues[3];
  float eigenvectors[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}; // eigenvector k in column k
  bool valid = true;
  switch (site.displacementType) {
  case kDisplacementIsotropic:
    eigenvalues[0] = eigenvalues[1] = eigenvalues[2] = site.isoValue;
    valid = site.isoValue > 0.0f;
    break;
  case kDisplacementNone:
    eigenvalues[0] = eigenvalues[1] = eigenvalues[2] = gPrefs.defaultIsoValue;
    break;
  default: {
    float U[9];
    std::memcpy(U, site.tensor, sizeof U);
    if (site.displacementType == kDisplacementAnisoB)
      ConvertBijToUij(crystal, U, U);
    valid = IsUijValid(U);
    if (valid) {
      // Cartesian tensor (Mᵀ)⁻¹ · U · M⁻¹, M the reciprocal-to-orthogonal
      // matrix of the unit-edged cell with the structure's angles.
      double M[9], Minv[9], MinvT[9], DU[9], tmp[9], cart[9];
      UnitRecipToOrtho(*crystal, M);
      DInv3x3Mat(M, Minv);
      DTranspose(Minv, MinvT);
      for (int i = 0; i < 9; ++i)
        DU[i] = U[i];
      DMatMul33x33(MinvT, DU, tmp);
      DMatMul33x33(tmp, Minv, cart);
      float T[9];
      for (int i = 0; i < 9; ++i)
        T[i] = static_cast<float>(cart[i]);
      DiagonalizeTensor(T, eigenvalues, eigenvectors); // after 50 sweeps the values reached stand
      for (float lambda : eigenvalues)
        if (!(lambda > 0.0f))
          valid = false;
    }
    break;
  }
  }
  if (!valid) {
    const std::string label(site.label, strnlen(site.label, sizeof site.label));
    FWriteColor(std::string(kInvalidTensorMessage) + label + "\n", kRGBRed);
    eigenvalues[0] = eigenvalues[1] = eigenvalues[2] = gPrefs.defaultIsoValue;
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::memcpy(eigenvectors, identity, sizeof identity);
  }

  // axis i = D⁻¹ · (eigenvector i × sqrt(eigenvalue i) × critical value).
  double D[9], Dinv[9];
  DGetDirectToOrthoMatrix(crystal->a, crystal->b, crystal->c, crystal->alpha, crystal->beta, crystal->gamma, D);
  DInv3x3Mat(D, Dinv);
  const double critical = crystal->ellipsoidCriticalValue;
  for (int i = 0; i < 3; ++i) {
    const double length = std::sqrt(std::max(0.0, double(eigenvalues[i]))) * critical;
    const double v[3] = {eigenvectors[i] * length, eigenvectors[3 + i] * length, eigenvectors[6 + i] * length};
    double f[3];
    DMatMul(Dinv, v, f);
    for (int k = 0; k < 3; ++k)
      axes[i][k] = static_cast<float>(f[k]);
  }
  return true;
}

bool GetEllipsoidFromAxes(const CrystalRec *crystal, const float axes[3][3], float tensor[9], uint32_t type) {
  if (!CellUsable(crystal))
    return false;
  const double critical = crystal->ellipsoidCriticalValue;
  if (!(critical > 0.0) || !std::isfinite(critical))
    return false;
  double D[9];
  DGetDirectToOrthoMatrix(crystal->a, crystal->b, crystal->c, crystal->alpha, crystal->beta, crystal->gamma, D);
  // Cartesian tensor E · diag(λ) · Eᵀ with λ_i = |v_i|² / c² and e_i = v_i /
  // |v_i|, which is Σ v_i v_iᵀ / c²: the same sum, and an axis of no length
  // adds nothing instead of dividing by zero.
  double cart[9] = {};
  for (int i = 0; i < 3; ++i) {
    const double axis[3] = {axes[i][0], axes[i][1], axes[i][2]};
    double v[3];
    DMatMul(D, axis, v);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c)
        cart[3 * r + c] += v[r] * v[c] / (critical * critical);
  }
  // U = Mᵀ · Cartesian tensor · M.
  double M[9], MT[9], tmp[9], U[9];
  UnitRecipToOrtho(*crystal, M);
  DTranspose(M, MT);
  DMatMul33x33(MT, cart, tmp);
  DMatMul33x33(tmp, M, U);
  float out[9];
  for (int r = 0; r < 3; ++r)
    for (int c = r; c < 3; ++c)
      out[3 * r + c] = out[3 * c + r] = static_cast<float>(0.5 * (U[3 * r + c] + U[3 * c + r]));
  if (type == kDisplacementAnisoB)
    ConvertUijToBij(crystal, out, out);
  std::memcpy(tensor, out, sizeof out);
  return true;
}

bool GetRecipToRealMatrix(const CrystalRec *crystal, float M[9]) {
  float alphaStar, betaStar;
  if (!crystal || !RecipCell(crystal, nullptr, nullptr, nullptr, &alphaStar, &betaStar, nullptr))
    return false;
  const double alpha = crystal->alpha * kDegToRad, beta = crystal->beta * kDegToRad, gamma = crystal->gamma * kDegToRad;
  const double as = alphaStar * kDegToRad, bs = betaStar * kDegToRad;
  const double right = 90.0 * kDegToRad;
  const double out[9] = {
      1.0 / (std::sin(gamma) * std::sin(bs)),
      std::tan(beta - right) / std::tan(as) + std::tan(gamma - right) / std::sin(as),
      1.0 / (std::tan(bs) * std::sin(gamma)),
      std::tan(alpha - right) / std::tan(bs) + std::tan(gamma - right) / std::sin(bs),
      1.0 / (std::sin(as) * std::sin(gamma)),
      std::tan(gamma - right) / std::tan(bs) + std::tan(alpha - right) / std::sin(bs),
      1.0 / (std::tan(bs) * std::sin(alpha)),
      1.0 / (std::tan(as) * std::sin(beta)),
      1.0 / (std::sin(bs) * std::sin(alpha)),
  };
  for (int i = 0; i < 9; ++i)
    M[i] = static_cast<float>(out[i]);
  return true;
}
