// Tests of the thermal ellipsoid maths: the critical-value table
// against its defining formula and the published telling rows, the nearest-row
// lookup, the probability reset and the axis repair, U and beta conversions
// and semi-axes checked against python3-gemmi (the "ellipsoid" oracle block,
// recomputed in CI by tests/oracle/geometry_oracle.py), the inverse from
// axes to tensor, and the red Log line for invalid tensors.
#include "EllipsoidMaths.h"

#include "Geometry.h"
#include "Preferences.h"
#include "VectorMath.h"

#include "FakeHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct CellParams {
  float a, b, c, alpha, beta, gamma;
};
constexpr CellParams kTriclinic{5.0f, 6.0f, 7.0f, 80.0f, 95.0f, 100.0f};
constexpr CellParams kMonoclinic{8.561f, 12.996f, 7.192f, 90.0f, 116.16f, 90.0f};
constexpr CellParams kHexagonal{4.9134f, 4.9134f, 5.4052f, 90.0f, 90.0f, 120.0f};
constexpr CellParams kOracleCells[3] = {kTriclinic, kMonoclinic, kHexagonal};
// U11, U22, U33, U12, U13, U23 of the oracle cases.
constexpr float kOracleU[3][6] = {
    {0.020f, 0.030f, 0.025f, 0.004f, -0.003f, 0.005f},
    {0.012f, 0.018f, 0.031f, 0.0f, 0.006f, 0.0f},
    {0.015f, 0.015f, 0.022f, 0.0075f, 0.0f, 0.0f},
};
// Per case: the eigenvalues of the Cartesian tensor, ascending (A²), then
// beta11, 22, 33, 12, 13, 23. python3-gemmi 0.5.7: SMat33d(U).transformed_by(
// orth.multiply(diag(a*, b*, c*))).calculate_eigenvalues() with the cell
// rounded to float32; beta_ij = 2 pi² a*_i a*_j U_ij from reciprocal().
// clang-format off
// oracle:begin ellipsoid
constexpr double kOracle[3][9] = {
    {0.0157067569, 0.0227406174, 0.0407790369, 0.0163387807, 0.0174154197, 0.0104201407, 0.0027546166, -0.00175058364, 0.0024594791}, // triclinic: eigenvalues, beta11 22 33 12 13 23
    {0.0119726407, 0.018, 0.0348350311, 0.00401170398, 0.00210369523, 0.0146844932, 0, 0.00238766669, 0}, // monoclinicB: eigenvalues, beta11 22 33 12 13 23
    {0.015, 0.015, 0.022, 0.0163529257, 0.0163529257, 0.0148637669, 0.00817646284, 0, 0}, // hexagonal: eigenvalues, beta11 22 33 12 13 23
};
// oracle:end ellipsoid
// clang-format on

const std::string kInvalidLine = "Invalid thermal ellipsoid tensor for site ";

void FullTensor(const float u[6], float U[9]) {
  const float t[9] = {u[0], u[3], u[4], u[3], u[1], u[5], u[4], u[5], u[2]};
  std::memcpy(U, t, sizeof t);
}

CrystalRec MakeCell(const CellParams &p) {
  CrystalRec c;
  c.a = p.a;
  c.b = p.b;
  c.c = p.c;
  c.alpha = p.alpha;
  c.beta = p.beta;
  c.gamma = p.gamma;
  GetMetricTensor(p.a, p.b, p.c, p.alpha, p.beta, p.gamma, c.metricTensor);
  c.ellipsoidData = 1;
  c.ellipsoidProbability = 0.5f;
  c.ellipsoidCriticalValue = 1.5382f;
  return c;
}

AsymmetricUnitRecord &AddSite(CrystalRec &c, const char *label, uint32_t type) {
  AsymmetricUnitRecord site;
  std::snprintf(site.label, sizeof site.label, "%s", label);
  site.displacementType = type;
  c.sites.push_back(site);
  c.siteCount = static_cast<int32_t>(c.sites.size());
  return c.sites.back();
}

// The Cartesian vector of a fractional axis.
void Cartesian(const CrystalRec &c, const float axis[3], double out[3]) {
  double D[9];
  DGetDirectToOrthoMatrix(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, D);
  const double v[3] = {axis[0], axis[1], axis[2]};
  DMatMul(D, v, out);
}

double Length(const double v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// p inside a sphere of radius c of the standard trivariate normal.
double ProbabilityInside(double c) {
  return std::erf(c / std::sqrt(2.0)) - std::sqrt(2.0 / kPi) * c * std::exp(-c * c / 2.0);
}

class EllipsoidMaths : public ::testing::Test {
protected:
  void TearDown() override { gPrefs = gFactoryPrefs; }
  FakeHost host;
};

} // namespace

// ---- Critical values -----------------------------------------------------------------

TEST_F(EllipsoidMaths, TheTableFollowsItsFormulaAndTheTellingRows) {
  // Probabilities: 0.01 to 0.99, 0.991 to 0.999, 0.9991 to 0.9999, then three.
  for (int i = 0; i < 99; ++i)
    EXPECT_FLOAT_EQ(gEllipsoidCriticalValues[i].probability, static_cast<float>((i + 1) / 100.0)) << i;
  for (int i = 0; i < 9; ++i)
    EXPECT_FLOAT_EQ(gEllipsoidCriticalValues[99 + i].probability, static_cast<float>(0.99 + (i + 1) / 1000.0));
  for (int i = 0; i < 9; ++i)
    EXPECT_FLOAT_EQ(gEllipsoidCriticalValues[108 + i].probability, static_cast<float>(0.999 + (i + 1) / 10000.0));
  EXPECT_EQ(gEllipsoidCriticalValues[117].probability, 0.99999f);
  EXPECT_EQ(gEllipsoidCriticalValues[118].probability, 0.999999f);
  EXPECT_EQ(gEllipsoidCriticalValues[119].probability, 0.9999999f);
  for (int i = 1; i < kNumCriticalValues; ++i) {
    EXPECT_LT(gEllipsoidCriticalValues[i - 1].probability, gEllipsoidCriticalValues[i].probability) << i;
    EXPECT_LT(gEllipsoidCriticalValues[i - 1].value, gEllipsoidCriticalValues[i].value) << i;
  }
  // Every value is the formula's root to four decimals: the probability the
  // row stands for (the decimal, not its float) lies between those of
  // value - 0.00005 and value + 0.00005.
  for (int i = 0; i < kNumCriticalValues; ++i) {
    double p;
    if (i < 99)
      p = (i + 1) / 100.0;
    else if (i < 108)
      p = 0.99 + (i - 98) / 1000.0;
    else if (i < 117)
      p = 0.999 + (i - 107) / 10000.0;
    else
      p = 1.0 - std::pow(10.0, -(i - 112)); // 0.99999, 0.999999, 0.9999999
    EXPECT_FLOAT_EQ(static_cast<float>(p), gEllipsoidCriticalValues[i].probability) << i;
    const double c = gEllipsoidCriticalValues[i].value;
    EXPECT_LE(ProbabilityInside(c - 0.00005 - 1e-7), p) << i;
    EXPECT_GE(ProbabilityInside(c + 0.00005 + 1e-7), p) << i;
  }
  // The telling rows, the last three exactly as the table holds them.
  const struct {
    int index;
    float value;
  } telling[] = {{0, 0.3389f},   {9, 0.7644f},   {19, 1.0026f}, {49, 1.5382f},  {74, 2.0269f},
                 {89, 2.5003f},  {94, 2.7955f},  {98, 3.3682f}, {107, 4.0331f}, {116, 4.5943f},
                 {117, 5.0894f}, {118, 5.5376f}, {119, 5.9503f}};
  for (const auto &t : telling)
    EXPECT_EQ(gEllipsoidCriticalValues[t.index].value, t.value) << t.index;
}

TEST_F(EllipsoidMaths, NearestRowWithClampingAndLowerRowOnTies) {
  EXPECT_EQ(GetEllipsoidCriticalValue(0.5f), 1.5382f);
  EXPECT_EQ(GetEllipsoidCriticalValue(0.005f), 0.3389f);
  EXPECT_EQ(GetEllipsoidCriticalValue(0.0f), 0.3389f);
  EXPECT_EQ(GetEllipsoidCriticalValue(-3.0f), 0.3389f);
  EXPECT_EQ(GetEllipsoidCriticalValue(std::nanf("")), 0.3389f);
  EXPECT_EQ(GetEllipsoidCriticalValue(1.0f), 5.9503f);
  EXPECT_EQ(GetEllipsoidCriticalValue(7.0f), 5.9503f);
  EXPECT_EQ(GetEllipsoidCriticalValue(0.504f), 1.5382f);
  EXPECT_EQ(GetEllipsoidCriticalValue(0.506f), gEllipsoidCriticalValues[50].value);
  // Exact ties in single precision go to the lower row.
  int ties = 0;
  for (int i = 0; i + 1 < kNumCriticalValues; ++i) {
    const float lo = gEllipsoidCriticalValues[i].probability, hi = gEllipsoidCriticalValues[i + 1].probability;
    const float mid = lo + (hi - lo) * 0.5f;
    if (std::fabs(mid - lo) == std::fabs(mid - hi)) {
      ++ties;
      EXPECT_EQ(GetEllipsoidCriticalValue(mid), gEllipsoidCriticalValues[i].value) << i;
    }
  }
  EXPECT_GT(ties, 10);
  // The preferences derive the structure's critical value through it.
  PrefsRecord prefs = gFactoryPrefs;
  prefs.ellipsoidProbability = 0.9f;
  CrystalRec c;
  CopyPrefsToCrystal(&prefs, &c);
  EXPECT_EQ(c.ellipsoidCriticalValue, 2.5003f);
}

// ---- Probability reset and repair ------------------------------------------------------

namespace {

CrystalRec CrystalWithAxes() {
  CrystalRec c = MakeCell(kTriclinic);
  AddSite(c, "O1", kDisplacementIsotropic);
  AddSite(c, "Si1", kDisplacementNone);
  for (int i = 0; i < 3; ++i) {
    AtomRecord atom;
    atom.site = i < 2 ? 0 : 1;
    atom.xyz[0] = 0.1f * i, atom.xyz[1] = 0.2f, atom.xyz[2] = -0.3f;
    for (int k = 0; k < 3; ++k)
      for (int j = 0; j < 3; ++j)
        atom.ellipsoidAxes[k][j] = atom.xyz[j] + (j == k ? 0.04f : 0.01f * (k + 1));
    c.atoms.push_back(atom);
  }
  c.atomCount = 3;
  c.sites[0].firstAtom = 0, c.sites[0].lastAtom = 1;
  c.sites[1].firstAtom = 2, c.sites[1].lastAtom = 2;
  return c;
}

} // namespace

TEST_F(EllipsoidMaths, ResettingTheProbabilityRescalesAxesAboutTheirAtoms) {
  CrystalRec c = CrystalWithAxes();
  const CrystalRec before = c;
  ResetEllipsoidProbability(&c, 0.5f); // the same: nothing at all
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(
        std::memcmp(c.atoms[i].ellipsoidAxes, before.atoms[i].ellipsoidAxes, sizeof before.atoms[i].ellipsoidAxes), 0);
  // A stored critical value twice the new one halves every axis.
  c.ellipsoidCriticalValue = 2.0f * GetEllipsoidCriticalValue(0.2f);
  ResetEllipsoidProbability(&c, 0.2f);
  EXPECT_EQ(c.ellipsoidProbability, 0.2f);
  EXPECT_EQ(c.ellipsoidCriticalValue, 1.0026f);
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k)
      for (int j = 0; j < 3; ++j) {
        const float was = before.atoms[i].ellipsoidAxes[k][j] - before.atoms[i].xyz[j];
        EXPECT_NEAR(c.atoms[i].ellipsoidAxes[k][j] - c.atoms[i].xyz[j], 0.5f * was, 1e-6f);
      }
  // Without ellipsoid data only the probability and critical value change.
  CrystalRec d = CrystalWithAxes();
  d.ellipsoidData = 0;
  ResetEllipsoidProbability(&d, 0.9f);
  EXPECT_EQ(d.ellipsoidCriticalValue, 2.5003f);
  EXPECT_EQ(std::memcmp(d.atoms[0].ellipsoidAxes, before.atoms[0].ellipsoidAxes, sizeof before.atoms[0].ellipsoidAxes),
            0);
  // A stored critical value of 0 (from a document) is not divided by.
  CrystalRec z = CrystalWithAxes();
  z.ellipsoidCriticalValue = 0.0f;
  ResetEllipsoidProbability(&z, 0.9f);
  EXPECT_EQ(z.ellipsoidCriticalValue, 2.5003f);
  for (int k = 0; k < 3; ++k)
    for (int j = 0; j < 3; ++j)
      EXPECT_TRUE(std::isfinite(z.atoms[0].ellipsoidAxes[k][j]));
  // A probability out of range is held at [0, 1].
  ResetEllipsoidProbability(&z, 3.0f);
  EXPECT_EQ(z.ellipsoidProbability, 1.0f);
  EXPECT_EQ(z.ellipsoidCriticalValue, 5.9503f);
  ResetEllipsoidProbability(nullptr, 0.3f);
}

TEST_F(EllipsoidMaths, RepairScalesTheAtomsOfSitesWithDisplacements) {
  CrystalRec c = CrystalWithAxes();
  const CrystalRec before = c;
  c.ellipsoidCriticalValue = 2.25f;      // square root 1.5
  EXPECT_EQ(RepairEllipsoidAxes(&c), 2); // the two atoms of the isotropic site
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k)
      for (int j = 0; j < 3; ++j) {
        const float was = before.atoms[i].ellipsoidAxes[k][j] - before.atoms[i].xyz[j];
        const float now = c.atoms[i].ellipsoidAxes[k][j] - c.atoms[i].xyz[j];
        EXPECT_NEAR(now, i < 2 ? 1.5f * was : was, 1e-6f) << i;
      }
  c.ellipsoidData = 0;
  EXPECT_EQ(RepairEllipsoidAxes(&c), 0);
  c.ellipsoidData = 1;
  c.ellipsoidCriticalValue = 0.0f;
  EXPECT_EQ(RepairEllipsoidAxes(&c), 0);
  CrystalRec empty = MakeCell(kTriclinic);
  EXPECT_EQ(RepairEllipsoidAxes(&empty), 0);
  EXPECT_EQ(RepairEllipsoidAxes(nullptr), 0);
}

// ---- U and beta ----------------------------------------------------------------------------

TEST_F(EllipsoidMaths, UToBetaAgreesWithGemmiAndRoundTrips) {
  for (int k = 0; k < 3; ++k) {
    CrystalRec c = MakeCell(kOracleCells[k]);
    float U[9], B[9], back[9];
    FullTensor(kOracleU[k], U);
    ASSERT_TRUE(ConvertUijToBij(&c, U, B));
    const double want[6] = {kOracle[k][3], kOracle[k][4], kOracle[k][5], kOracle[k][6], kOracle[k][7], kOracle[k][8]};
    const float have[6] = {B[0], B[4], B[8], B[1], B[2], B[5]};
    for (int i = 0; i < 6; ++i)
      EXPECT_NEAR(have[i], want[i], 2e-6 * std::fabs(want[i]) + 1e-12) << k << " " << i;
    EXPECT_EQ(B[3], B[1]);
    EXPECT_EQ(B[6], B[2]);
    EXPECT_EQ(B[7], B[5]);
    ASSERT_TRUE(ConvertBijToUij(&c, B, back));
    for (int i = 0; i < 9; ++i)
      EXPECT_NEAR(back[i], U[i], 1e-8) << k << " " << i;
    // In place.
    float inPlace[9];
    std::memcpy(inPlace, U, sizeof U);
    ConvertUijToBij(&c, inPlace, inPlace);
    for (int i = 0; i < 9; ++i)
      EXPECT_EQ(inPlace[i], B[i]);
  }
  // The upper triangle is read and the result written symmetric.
  CrystalRec c = MakeCell(kTriclinic);
  float U[9] = {0.02f, 0.004f, -0.003f, 99.0f, 0.03f, 0.005f, 99.0f, 99.0f, 0.025f};
  float B[9];
  ConvertUijToBij(&c, U, B);
  EXPECT_NEAR(B[3], kOracle[0][6], 1e-9);
  // A refused cell leaves the output alone.
  CrystalRec bad = MakeCell({5, 5, 5, 10, 10, 150});
  float out[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
  EXPECT_FALSE(ConvertUijToBij(&bad, U, out));
  EXPECT_FALSE(ConvertBijToUij(&bad, U, out));
  EXPECT_EQ(out[0], 7.0f);
}

TEST_F(EllipsoidMaths, TensorValidity) {
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_TRUE(IsUijValid(identity));
  const float negative[9] = {-0.01f, 0, 0, 0, 0.01f, 0, 0, 0, 0.01f};
  EXPECT_FALSE(IsUijValid(negative));
  const float singular[9] = {1, 1, 0, 1, 1, 0, 0, 0, 1};
  EXPECT_FALSE(IsUijValid(singular));
  const float negativeDet[9] = {1, 2, 0, 2, 1, 0, 0, 0, 1};
  EXPECT_FALSE(IsUijValid(negativeDet));
  const float zeroDiagonal[9] = {0, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_FALSE(IsUijValid(zeroDiagonal));
  const float nan[9] = {std::nanf(""), 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_FALSE(IsUijValid(nan));
  // Positive diagonal and determinant but two negative eigenvalues: valid by
  // this test; the diagonalisation catches it (below).
  const float indefinite[9] = {1, 2, 2, 2, 1, 2, 2, 2, 1};
  EXPECT_TRUE(IsUijValid(indefinite));
}

// ---- Axes ---------------------------------------------------------------------------------------

TEST_F(EllipsoidMaths, IsotropicSiteAtFiftyPercent) {
  CrystalRec c = MakeCell(kTriclinic);
  AsymmetricUnitRecord &s = AddSite(c, "O1", kDisplacementIsotropic);
  s.isoValue = 0.01f;
  float axes[3][3];
  ASSERT_TRUE(GetEllipsoidAxes(&c, 0, axes));
  for (int i = 0; i < 3; ++i) {
    double v[3];
    Cartesian(c, axes[i], v);
    EXPECT_NEAR(Length(v), 0.15382, 1e-6) << i;
    // Along Cartesian axis i.
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(v[k], k == i ? 0.15382 : 0.0, 1e-6) << i << k;
  }
  EXPECT_TRUE(host.log.empty());
}

TEST_F(EllipsoidMaths, AnisotropicSemiAxesAgreeWithGemmiEigenvalues) {
  for (int k = 0; k < 3; ++k) {
    for (uint32_t type : {uint32_t{kDisplacementAnisoU}, uint32_t{kDisplacementAnisoB}}) {
      CrystalRec c = MakeCell(kOracleCells[k]);
      AsymmetricUnitRecord &s = AddSite(c, "Fe2", type);
      FullTensor(kOracleU[k], s.tensor);
      if (type == kDisplacementAnisoB)
        ConvertUijToBij(&c, s.tensor, s.tensor);
      float axes[3][3];
      ASSERT_TRUE(GetEllipsoidAxes(&c, 0, axes));
      double v[3][3], lengths[3];
      for (int i = 0; i < 3; ++i) {
        Cartesian(c, axes[i], v[i]);
        lengths[i] = Length(v[i]);
      }
      std::sort(lengths, lengths + 3);
      for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(lengths[i], 1.5382 * std::sqrt(kOracle[k][i]), 2e-6) << "case " << k << " type " << type;
      // Mutually perpendicular in Cartesian space.
      for (int i = 0; i < 3; ++i)
        for (int j = i + 1; j < 3; ++j) {
          const double dot = v[i][0] * v[j][0] + v[i][1] * v[j][1] + v[i][2] * v[j][2];
          EXPECT_NEAR(dot / (Length(v[i]) * Length(v[j])), 0.0, 1e-5);
        }
    }
  }
  EXPECT_TRUE(host.log.empty());
}

TEST_F(EllipsoidMaths, FromAxesInvertsGetEllipsoidAxes) {
  for (int k = 0; k < 3; ++k) {
    for (float probability : {0.5f, 0.95f}) {
      CrystalRec c = MakeCell(kOracleCells[k]);
      c.ellipsoidProbability = probability;
      c.ellipsoidCriticalValue = GetEllipsoidCriticalValue(probability);
      AsymmetricUnitRecord &s = AddSite(c, "Fe2", kDisplacementAnisoU);
      FullTensor(kOracleU[k], s.tensor);
      float axes[3][3], U[9];
      ASSERT_TRUE(GetEllipsoidAxes(&c, 0, axes));
      ASSERT_TRUE(GetEllipsoidFromAxes(&c, axes, U, kDisplacementAnisoU));
      for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(U[i], c.sites[0].tensor[i], 2e-7) << k << " " << i;
      // And to beta.
      float B[9], wantB[9];
      ASSERT_TRUE(GetEllipsoidFromAxes(&c, axes, B, kDisplacementAnisoB));
      ConvertUijToBij(&c, c.sites[0].tensor, wantB);
      for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(B[i], wantB[i], 1e-6 * std::fabs(wantB[i]) + 2e-8) << k << " " << i;
    }
  }
  // An isotropic site comes back as Uiso in the U form of its cell.
  CrystalRec c = MakeCell(kMonoclinic);
  AddSite(c, "O1", kDisplacementIsotropic).isoValue = 0.02f;
  float axes[3][3], U[9];
  ASSERT_TRUE(GetEllipsoidAxes(&c, 0, axes));
  ASSERT_TRUE(GetEllipsoidFromAxes(&c, axes, U, kDisplacementAnisoU));
  EXPECT_NEAR(U[0], 0.02f, 1e-7f);
  EXPECT_NEAR(U[4], 0.02f, 1e-7f);
  EXPECT_NEAR(U[8], 0.02f, 1e-7f);
  // Uiso in a monoclinic cell: U13 = Uiso cos beta*.
  EXPECT_NEAR(U[2], 0.02 * std::cos((180.0 - 116.16) * kDegToRad), 1e-7);
  // Refusals: no structure, a refused cell, no critical value.
  EXPECT_FALSE(GetEllipsoidFromAxes(nullptr, axes, U, 2));
  c.ellipsoidCriticalValue = 0.0f;
  EXPECT_FALSE(GetEllipsoidFromAxes(&c, axes, U, 2));
}

TEST_F(EllipsoidMaths, InvalidTensorsAreLoggedInRedAndDrawnAtTheDefaultSize) {
  gPrefs.defaultIsoValue = 0.04f;
  const double defaultLength = 1.5382 * 0.2;
  CrystalRec c = MakeCell(kTriclinic);
  AsymmetricUnitRecord &neg = AddSite(c, "O1", kDisplacementAnisoU);
  const float negative[9] = {-0.01f, 0, 0, 0, 0.01f, 0, 0, 0, 0.01f};
  std::memcpy(neg.tensor, negative, sizeof negative);
  AsymmetricUnitRecord &sing = AddSite(c, "Si12", kDisplacementAnisoU);
  const float singular[9] = {0.01f, 0.01f, 0, 0.01f, 0.01f, 0, 0, 0, 0.01f};
  std::memcpy(sing.tensor, singular, sizeof singular);
  AsymmetricUnitRecord &indef = AddSite(c, "Fe3", kDisplacementAnisoU);
  const float indefinite[9] = {0.01f, 0.02f, 0.02f, 0.02f, 0.01f, 0.02f, 0.02f, 0.02f, 0.01f};
  std::memcpy(indef.tensor, indefinite, sizeof indefinite);
  AddSite(c, "H7", kDisplacementIsotropic).isoValue = 0.0f; // no size: invalid, not NaN
  AddSite(c, "Ca1", kDisplacementAnisoB).tensor[4] = -1.0f;
  AsymmetricUnitRecord &full = AddSite(c, "Label7c", kDisplacementAnisoU);
  std::memcpy(full.tensor, negative, sizeof negative);

  const char *labels[] = {"O1", "Si12", "Fe3", "H7", "Ca1", "Label7c"};
  for (int s = 0; s < 6; ++s) {
    float axes[3][3];
    ASSERT_TRUE(GetEllipsoidAxes(&c, s, axes)) << s;
    for (int i = 0; i < 3; ++i) {
      double v[3];
      Cartesian(c, axes[i], v);
      EXPECT_NEAR(Length(v), defaultLength, 1e-6) << s;
      EXPECT_NEAR(v[i], defaultLength, 1e-6) << s; // along the Cartesian axes
    }
    const auto lines = host.LogLines();
    ASSERT_EQ(lines.size(), size_t(s + 1));
    EXPECT_EQ(lines.back(), kInvalidLine + labels[s] + "\n");
    ASSERT_EQ(host.colouredRuns.size(), size_t(s + 1));
    EXPECT_EQ(host.colouredRuns.back().colour, kRGBRed);
    EXPECT_EQ(host.colouredRuns.back().length, kInvalidLine.size() + std::strlen(labels[s]) + 1);
  }
  // Type 0 takes the default size without a complaint.
  CrystalRec d = MakeCell(kTriclinic);
  AddSite(d, "N1", kDisplacementNone);
  float axes[3][3];
  const size_t logged = host.LogLines().size();
  ASSERT_TRUE(GetEllipsoidAxes(&d, 0, axes));
  double v[3];
  Cartesian(d, axes[2], v);
  EXPECT_NEAR(v[2], defaultLength, 1e-6);
  EXPECT_EQ(host.LogLines().size(), logged);
}

TEST_F(EllipsoidMaths, NothingIsWrittenWithoutDataOrForUnknownTypes) {
  CrystalRec c = MakeCell(kTriclinic);
  AddSite(c, "O1", kDisplacementIsotropic).isoValue = 0.01f;
  AddSite(c, "O2", 4);
  float axes[3][3] = {{7, 7, 7}, {7, 7, 7}, {7, 7, 7}};
  EXPECT_FALSE(GetEllipsoidAxes(&c, 1, axes)); // type 4
  EXPECT_FALSE(GetEllipsoidAxes(&c, 2, axes)); // no such site
  EXPECT_FALSE(GetEllipsoidAxes(&c, -1, axes));
  EXPECT_FALSE(GetEllipsoidAxes(nullptr, 0, axes));
  c.ellipsoidData = 0;
  EXPECT_FALSE(GetEllipsoidAxes(&c, 0, axes));
  c.ellipsoidData = 1;
  c.alpha = 10.0f; // gamma 170 > alpha + beta: no such cell
  c.beta = 10.0f;
  c.gamma = 170.0f;
  EXPECT_FALSE(GetEllipsoidAxes(&c, 0, axes));
  for (auto &row : axes)
    for (float x : row)
      EXPECT_EQ(x, 7.0f);
  EXPECT_TRUE(host.log.empty());
}

TEST_F(EllipsoidMaths, RecipToRealMatrix) {
  CrystalRec cubic = MakeCell({4, 4, 4, 90, 90, 90});
  float M[9];
  ASSERT_TRUE(GetRecipToRealMatrix(&cubic, M));
  for (int i = 0; i < 9; ++i)
    EXPECT_NEAR(M[i], (i % 4 == 0) ? 1.0f : 0.0f, 1e-6f) << i;
  // Triclinic: the entries of the formulas with gemmi's alpha*, beta*
  // (99.2982634 and 86.6305379 degrees for the triclinic oracle cell).
  CrystalRec t = MakeCell(kTriclinic);
  ASSERT_TRUE(GetRecipToRealMatrix(&t, M));
  const double as = 99.2982634 * kDegToRad, bs = 86.6305379 * kDegToRad;
  const double al = 80 * kDegToRad, be = 95 * kDegToRad, ga = 100 * kDegToRad, r = 90 * kDegToRad;
  EXPECT_NEAR(M[0], 1 / (std::sin(ga) * std::sin(bs)), 1e-5);
  EXPECT_NEAR(M[1], std::tan(be - r) / std::tan(as) + std::tan(ga - r) / std::sin(as), 1e-5);
  EXPECT_NEAR(M[5], std::tan(ga - r) / std::tan(bs) + std::tan(al - r) / std::sin(bs), 1e-5);
  EXPECT_NEAR(M[7], 1 / (std::tan(as) * std::sin(be)), 1e-5);
  EXPECT_NEAR(M[8], 1 / (std::sin(bs) * std::sin(al)), 1e-5);
  CrystalRec bad = MakeCell({5, 5, 5, 10, 10, 150});
  EXPECT_FALSE(GetRecipToRealMatrix(&bad, M));
}
