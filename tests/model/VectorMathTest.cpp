// Tests of the vector and matrix maths: the storage conventions (row-major,
// column vectors), the approximate tests' tolerance, the crystallographic
// constructions checked through their invariants (MᵀM = G, OᵀO = G,
// right-handed view axes), the Jacobi eigenpairs and the n x n routines
// against exact rational results.
#include "VectorMath.h"

#include "FakeHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace {

constexpr float kTol = 3.0517578125e-05f; // 2^-15, the approximate-test tolerance
constexpr double kCellTol = 1e-4;         // relative, float cell round trips
constexpr double kEigenTol = 1e-5;        // |T v − λ v| for tensors of order 1
constexpr double kExactTol = 1e-12;       // n x n doubles on small integers
const std::string kSingularLine = "Sorry, an illegal operation occurred: singular matrix\r";

struct Cell {
  float a, b, c, alpha, beta, gamma;
};
constexpr Cell kTriclinic{5.0f, 6.0f, 7.0f, 80.0f, 95.0f, 100.0f};

void Metric(const Cell &cell, float G[9]) {
  GetMetricTensor(cell.a, cell.b, cell.c, cell.alpha, cell.beta, cell.gamma, G);
}

// Volume from the cell parameters, the usual closed form.
double CellVolume(const Cell &cell) {
  const double ca = std::cos(cell.alpha * kDegToRad), cb = std::cos(cell.beta * kDegToRad),
               cg = std::cos(cell.gamma * kDegToRad);
  return double(cell.a) * cell.b * cell.c * std::sqrt(1 - ca * ca - cb * cb - cg * cg + 2 * ca * cb * cg);
}

// (AᵀA)_ij for a float row-major matrix, in double.
double GramEntry(const float A[9], int i, int j) {
  return double(A[i]) * A[j] + double(A[3 + i]) * A[3 + j] + double(A[6 + i]) * A[6 + j];
}

void ExpectGramEqualsMetric(const float A[9], const float G[9], double relTol) {
  const double scale = std::max({std::fabs(G[0]), std::fabs(G[4]), std::fabs(G[8])});
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      EXPECT_NEAR(GramEntry(A, i, j), G[3 * i + j], relTol * scale) << i << "," << j;
}

// RRᵀ = I and det R = +1.
void ExpectRotation(const float R[9], double tol) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double dot =
          double(R[3 * i]) * R[3 * j] + double(R[3 * i + 1]) * R[3 * j + 1] + double(R[3 * i + 2]) * R[3 * j + 2];
      EXPECT_NEAR(dot, i == j ? 1.0 : 0.0, tol) << i << "," << j;
    }
  EXPECT_NEAR(Det3x3Mat(R), 1.0f, tol);
}

struct MatrixOwner {
  SquareMatrix m;
  int n;
  MatrixOwner(int size, std::initializer_list<double> values) : m(CreateSquareMatrix(size)), n(size) {
    auto it = values.begin();
    for (int i = 0; i < n && it != values.end(); ++i)
      for (int j = 0; j < n && it != values.end(); ++j)
        m[i][j] = *it++;
  }
  explicit MatrixOwner(int size) : m(CreateSquareMatrix(size)), n(size) {}
  ~MatrixOwner() { DestroySquareMatrix(m, n); }
  MatrixOwner(const MatrixOwner &) = delete;
  MatrixOwner &operator=(const MatrixOwner &) = delete;
};

class VectorMath : public ::testing::Test {
protected:
  FakeHost host;
};

// ---- Constants ----------------------------------------------------------------

TEST(VectorMathConstants, EpsilonAndAngleFactors) {
  InitMachineEpsilon();
  EXPECT_EQ(gMachineEpsilon, std::ldexp(1.0f, -24));
  EXPECT_EQ(kVecToleranceFactor * gMachineEpsilon, kTol);
  EXPECT_EQ(kDegToRad, 0.0174532925199);
  EXPECT_EQ(kRadToDeg, 57.2957795131);
}

// ---- Vectors ------------------------------------------------------------------

TEST(VectorMathVectors, ApproximateTestsUseStrictTwoToTheMinus15) {
  const float zero[3] = {0, 0, 0};
  const float justBelow[3] = {0, 0, std::nextafter(kTol, 0.0f)};
  const float atTol[3] = {0, kTol, 0};
  EXPECT_TRUE(VecEqual(zero, justBelow));
  EXPECT_FALSE(VecEqual(zero, atTol));
  EXPECT_TRUE(VecIsZero(justBelow));
  EXPECT_FALSE(VecIsZero(atTol));
  const float negAtTol[3] = {-kTol, 0, 0};
  EXPECT_FALSE(VecIsZero(negAtTol));

  // Away from zero: 2^-16 apart is equal, 2^-14 apart is not.
  const float ones[3] = {1, 1, 1};
  const float nearOnes[3] = {1, 1.0f + std::ldexp(1.0f, -16), 1.0f - std::ldexp(1.0f, -16)};
  const float farOnes[3] = {1.0f + std::ldexp(1.0f, -14), 1, 1};
  EXPECT_TRUE(VecEqual(ones, nearOnes));
  EXPECT_FALSE(VecEqual(ones, farOnes));
  EXPECT_FALSE(VecEqual(farOnes, ones));
}

TEST(VectorMathVectors, StrictZeroNeedsExactZerosAndRejectsNaN) {
  const float zero[3] = {0.0f, -0.0f, 0.0f};
  const float tiny[3] = {0, 0, 1e-30f};
  const float nan[3] = {0, std::numeric_limits<float>::quiet_NaN(), 0};
  EXPECT_TRUE(VecIsZeroStrict(zero));
  EXPECT_FALSE(VecIsZeroStrict(tiny));
  EXPECT_TRUE(VecIsZero(tiny));
  EXPECT_FALSE(VecIsZeroStrict(nan));
  EXPECT_FALSE(VecIsZero(nan));
}

TEST(VectorMathVectors, LessThanOrdersByZThenYThenX) {
  const float lowZ[3] = {9, 9, 1};
  const float highZ[3] = {0, 0, 2};
  EXPECT_TRUE(VecLessThan(lowZ, highZ));
  EXPECT_FALSE(VecLessThan(highZ, lowZ));

  const float lowY[3] = {9, 1, 5};
  const float highY[3] = {0, 2, 5};
  EXPECT_TRUE(VecLessThan(lowY, highY));
  EXPECT_FALSE(VecLessThan(highY, lowY));

  const float lowX[3] = {1, 5, 5};
  const float highX[3] = {2, 5, 5};
  EXPECT_TRUE(VecLessThan(lowX, highX));
  EXPECT_FALSE(VecLessThan(highX, lowX));
  EXPECT_FALSE(VecLessThan(lowX, lowX));

  const float nanZ[3] = {0, 0, std::numeric_limits<float>::quiet_NaN()};
  const float nanY[3] = {0, std::numeric_limits<float>::quiet_NaN(), 5};
  EXPECT_FALSE(VecLessThan(nanZ, highZ));
  EXPECT_FALSE(VecLessThan(highZ, nanZ));
  EXPECT_FALSE(VecLessThan(nanY, highY)); // same z, NaN y: no order, even though x is smaller
  EXPECT_FALSE(VecLessThan(highY, nanY));
}

TEST(VectorMathVectors, ArithmeticAndCrossProducts) {
  const float a[3] = {1, 2, 3};
  const float b[3] = {-4, 5, 0.5f};
  float out[3];
  VecDiff(a, b, out);
  EXPECT_EQ(out[0], 5.0f);
  EXPECT_EQ(out[1], -3.0f);
  EXPECT_EQ(out[2], 2.5f);
  VecScalarMult(a, -2.0f, out);
  EXPECT_EQ(out[2], -6.0f);
  VecNegate(out);
  EXPECT_EQ(out[0], 2.0f);
  EXPECT_EQ(DotProduct(a, b), -4.0f + 10.0f + 1.5f);

  const float x[3] = {1, 0, 0};
  const float y[3] = {0, 1, 0};
  CrossProduct(x, y, out);
  EXPECT_EQ(out[2], 1.0f); // right-handed: x × y = z
  float c[3];
  CrossProduct(a, b, c);
  EXPECT_FLOAT_EQ(DotProduct(c, a), 0.0f);
  EXPECT_FLOAT_EQ(DotProduct(c, b), 0.0f);
  float alias[3] = {1, 2, 3};
  CrossProduct(alias, b, alias); // output over an input
  EXPECT_EQ(alias[0], c[0]);
  EXPECT_EQ(alias[1], c[1]);
  EXPECT_EQ(alias[2], c[2]);

  const double da[3] = {1, 2, 3};
  const double db[3] = {-4, 5, 0.5};
  double dc[3];
  DCrossProduct(da, db, dc);
  EXPECT_DOUBLE_EQ(dc[0], 2 * 0.5 - 3 * 5);
  EXPECT_DOUBLE_EQ(dc[1], 3 * -4 - 1 * 0.5);
  EXPECT_DOUBLE_EQ(dc[2], 1 * 5 - 2 * -4);
}

TEST(VectorMathVectors, MagnitudeAndUnitVectorOfZero) {
  const float v[3] = {3, 4, 12};
  EXPECT_EQ(Magnitude(v), 13.0f);
  float u[3];
  EXPECT_TRUE(GetUnitVector(v, u));
  EXPECT_FLOAT_EQ(u[2], 12.0f / 13.0f);

  const float zero[3] = {0, 0, 0};
  EXPECT_EQ(Magnitude(zero), 0.0f);
  float out[3] = {7, 7, 7};
  EXPECT_FALSE(GetUnitVector(zero, out));
  EXPECT_TRUE(VecIsZeroStrict(out));
}

// ---- 3x3 matrices -----------------------------------------------------------------

TEST(VectorMathMatrices, RowMajorActingOnColumnVectors) {
  const float M[9] = {1, 2, 3, 4, 5, 6, 7, 8, 10};
  const float v[3] = {1, -1, 2};
  float out[3];
  MatMul(M, v, out); // rows dotted with v
  EXPECT_EQ(out[0], 1 - 2 + 6.0f);
  EXPECT_EQ(out[1], 4 - 5 + 12.0f);
  EXPECT_EQ(out[2], 7 - 8 + 20.0f);
  MatMul13x33(v, M, out); // columns dotted with v
  EXPECT_EQ(out[0], 1 - 4 + 14.0f);
  EXPECT_EQ(out[1], 2 - 5 + 16.0f);
  EXPECT_EQ(out[2], 3 - 6 + 20.0f);
  float dot = 0;
  MatMul13x31(v, v, &dot);
  EXPECT_EQ(dot, 6.0f);

  float T[9];
  Transpose3x3Mat(M, T);
  EXPECT_EQ(T[1], 4.0f);
  EXPECT_EQ(T[3], 2.0f);
  EXPECT_EQ(T[8], 10.0f);

  const double dM[9] = {1, 2, 3, 4, 5, 6, 7, 8, 10};
  const double dv[3] = {1, -1, 2};
  double dout[3];
  DMatMul(dM, dv, dout);
  EXPECT_EQ(dout[1], 11.0);
}

TEST(VectorMathMatrices, ProductOrderAndDeterminant) {
  // A shears x by y, B swaps x and y: AB and BA differ.
  const float A[9] = {1, 2, 0, 0, 1, 0, 0, 0, 1};
  const float B[9] = {0, 1, 0, 1, 0, 0, 0, 0, 1};
  float C[9];
  MatMul33x33(A, B, C);
  const float AB[9] = {2, 1, 0, 1, 0, 0, 0, 0, 1};
  EXPECT_TRUE(Compare3x3Mat(C, AB));
  float v[3] = {0, 1, 0}, viaProduct[3], viaSteps[3];
  MatMul(C, v, viaProduct);
  MatMul(B, v, viaSteps);
  MatMul(A, viaSteps, viaSteps);
  EXPECT_TRUE(VecEqual(viaProduct, viaSteps));

  float inPlace[9];
  Copy3x3Mat(inPlace, A);
  MatMul33x33(inPlace, B, inPlace);
  EXPECT_TRUE(Compare3x3Mat(inPlace, AB));

  const double dA[9] = {1, 2, 0, 0, 1, 0, 0, 0, 1};
  const double dB[9] = {0, 1, 0, 1, 0, 0, 0, 0, 1};
  double dC[9];
  DMatMul33x33(dA, dB, dC);
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(dC[i], double(AB[i]));

  const float M[9] = {2, -1, 0, 1, 3, 4, 0, 5, -2};
  EXPECT_EQ(Det3x3Mat(M), 2 * (-6 - 20) + 1 * (-2 - 0) + 0.0f);
  EXPECT_EQ(Det3x3Mat(B), -1.0f);
}

TEST(VectorMathMatrices, ZeroAndCompare) {
  float M[9];
  Zero3x3Mat(M);
  EXPECT_TRUE(Is3x3MatZero(M));
  M[4] = -0.00009f; // the sum of absolute values counts, not the signed sum
  EXPECT_TRUE(Is3x3MatZero(M));
  M[0] = 0.00006f;
  M[8] = -0.00006f;
  EXPECT_FALSE(Is3x3MatZero(M));

  float N[9];
  Copy3x3Mat(N, M);
  EXPECT_TRUE(Compare3x3Mat(M, N));
  N[7] = std::nextafter(0.0f, 1.0f);
  EXPECT_FALSE(Compare3x3Mat(M, N));
}

TEST_F(VectorMath, InverseOfRegularMatrix) {
  const float M[9] = {4, -2, 1, 3, 6, -4, 2, 1, 8};
  float inv[9], product[9];
  ASSERT_TRUE(Inv3x3Mat(M, inv));
  MatMul33x33(M, inv, product);
  for (int i = 0; i < 9; ++i)
    EXPECT_NEAR(product[i], i % 4 == 0 ? 1.0f : 0.0f, 1e-6f);

  float alias[9];
  Copy3x3Mat(alias, M);
  ASSERT_TRUE(Inv3x3Mat(alias, alias));
  EXPECT_TRUE(Compare3x3Mat(alias, inv));

  const double dM[9] = {4, -2, 1, 3, 6, -4, 2, 1, 8};
  double dInv[9], dProduct[9];
  ASSERT_TRUE(DInv3x3Mat(dM, dInv));
  DMatMul33x33(dM, dInv, dProduct);
  for (int i = 0; i < 9; ++i)
    EXPECT_NEAR(dProduct[i], i % 4 == 0 ? 1.0 : 0.0, kExactTol);
  EXPECT_TRUE(host.log.empty());
}

TEST_F(VectorMath, SingularInverseGivesIdentityFalseAndLogLine) {
  const float M[9] = {1, 2, 3, 2, 4, 6, 1, 0, 1}; // second row = 2 × first
  float out[9] = {9, 9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_FALSE(Inv3x3Mat(M, out));
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_TRUE(Compare3x3Mat(out, identity));
  EXPECT_EQ(host.log, kSingularLine);

  const double dM[9] = {0, 0, 0, 1, 2, 3, 4, 5, 6};
  double dOut[9];
  EXPECT_FALSE(DInv3x3Mat(dM, dOut));
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(dOut[i], i % 4 == 0 ? 1.0 : 0.0);
  EXPECT_EQ(host.log, kSingularLine + kSingularLine);

  // A NaN determinant is no better than a zero one.
  float nanM[9] = {1, 0, 0, 0, 1, 0, 0, 0, std::numeric_limits<float>::quiet_NaN()};
  EXPECT_FALSE(Inv3x3Mat(nanM, nanM));
  EXPECT_TRUE(Compare3x3Mat(nanM, identity));
}

// ---- Cells and metric tensors -------------------------------------------------------

TEST(VectorMathCell, MetricTensorEntriesAndRoundTrip) {
  float G[9];
  Metric(kTriclinic, G);
  EXPECT_FLOAT_EQ(G[0], 25.0f);
  EXPECT_FLOAT_EQ(G[4], 36.0f);
  EXPECT_FLOAT_EQ(G[8], 49.0f);
  EXPECT_FLOAT_EQ(G[1], float(30 * std::cos(100 * kDegToRad))); // ab cos gamma
  EXPECT_FLOAT_EQ(G[2], float(35 * std::cos(95 * kDegToRad)));  // ac cos beta
  EXPECT_FLOAT_EQ(G[5], float(42 * std::cos(80 * kDegToRad)));  // bc cos alpha
  EXPECT_EQ(G[1], G[3]);
  EXPECT_EQ(G[2], G[6]);
  EXPECT_EQ(G[5], G[7]);

  float a, b, c, alpha, beta, gamma;
  ASSERT_TRUE(GetCellParametersFromMetricTensor(G, &a, &b, &c, &alpha, &beta, &gamma));
  EXPECT_NEAR(a, 5.0, 5 * kCellTol);
  EXPECT_NEAR(b, 6.0, 6 * kCellTol);
  EXPECT_NEAR(c, 7.0, 7 * kCellTol);
  EXPECT_NEAR(alpha, 80.0, 80 * kCellTol);
  EXPECT_NEAR(beta, 95.0, 95 * kCellTol);
  EXPECT_NEAR(gamma, 100.0, 100 * kCellTol);
}

TEST(VectorMathCell, InvalidMetricTensorsAreRefused) {
  float G[9];
  Metric(kTriclinic, G);
  float a = -1, b = -1, c = -1, alpha = -1, beta = -1, gamma = -1;
  float bad[9];
  Copy3x3Mat(bad, G);
  bad[0] = 0.0f;
  EXPECT_FALSE(GetCellParametersFromMetricTensor(bad, &a, &b, &c, &alpha, &beta, &gamma));
  Copy3x3Mat(bad, G);
  bad[8] = -4.0f;
  EXPECT_FALSE(GetCellParametersFromMetricTensor(bad, &a, &b, &c, &alpha, &beta, &gamma));
  Copy3x3Mat(bad, G);
  bad[1] = bad[3] = 31.0f; // |cos gamma| = 31/30
  EXPECT_FALSE(GetCellParametersFromMetricTensor(bad, &a, &b, &c, &alpha, &beta, &gamma));
  Copy3x3Mat(bad, G);
  bad[5] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(GetCellParametersFromMetricTensor(bad, &a, &b, &c, &alpha, &beta, &gamma));
  EXPECT_EQ(a, -1.0f);
  EXPECT_EQ(gamma, -1.0f);
}

TEST(VectorMathCell, DirectToOrthoMatrixReproducesTheMetric) {
  float G[9];
  Metric(kTriclinic, G);
  float M[9];
  GetDirectToOrthoMatrix(kTriclinic.a, kTriclinic.b, kTriclinic.c, kTriclinic.alpha, kTriclinic.beta, kTriclinic.gamma,
                         M);
  ExpectGramEqualsMetric(M, G, 1e-6);
  // c along Cartesian z, b in the y-z plane.
  EXPECT_EQ(M[1], 0.0f);
  EXPECT_EQ(M[2], 0.0f);
  EXPECT_EQ(M[5], 0.0f);
  EXPECT_FLOAT_EQ(M[8], 7.0f);
  EXPECT_NEAR(Det3x3Mat(M), CellVolume(kTriclinic), 1e-5 * CellVolume(kTriclinic));

  double D[9];
  DGetDirectToOrthoMatrix(5, 6, 7, 80, 95, 100, D);
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(M[i], float(D[i]));
  EXPECT_NEAR(D[4], 6 * std::sin(80 * kDegToRad), 1e-12);
  EXPECT_NEAR(D[6], 5 * std::cos(95 * kDegToRad), 1e-12);
}

TEST(VectorMathCell, DirectToOrthoMatrixOfDegenerateCellHasNoNaN) {
  // gamma = alpha + beta puts the three axes in one plane, where cos gamma*
  // is 1; for these angles rounding takes it just past 1.
  for (const Cell cell :
       {Cell{3, 4, 5, 60, 50, 110}, Cell{1, 1, 1, 20, 30, 50}, Cell{2, 2, 2, 1, 1, 2}, Cell{2, 2, 2, 90, 90, 180}}) {
    float M[9];
    GetDirectToOrthoMatrix(cell.a, cell.b, cell.c, cell.alpha, cell.beta, cell.gamma, M);
    for (int i = 0; i < 9; ++i)
      EXPECT_TRUE(std::isfinite(M[i])) << cell.gamma << " entry " << i;
  }
}

TEST(VectorMathCell, RecipToOrthoMatrixIsTheReciprocalMetric) {
  float G[9], Ginv[9];
  Metric(kTriclinic, G);
  ASSERT_TRUE(Inv3x3Mat(G, Ginv));
  const float aStar = std::sqrt(Ginv[0]), bStar = std::sqrt(Ginv[4]), cStar = std::sqrt(Ginv[8]);
  float B[9];
  GetRecipToOrthoMatrix(aStar, bStar, cStar, kTriclinic.alpha, kTriclinic.beta, kTriclinic.gamma, B);
  ExpectGramEqualsMetric(B, Ginv, 1e-5);
  // Upper triangular, a* along x, and its last entry is 1/c.
  EXPECT_EQ(B[3], 0.0f);
  EXPECT_EQ(B[6], 0.0f);
  EXPECT_EQ(B[7], 0.0f);
  EXPECT_FLOAT_EQ(B[0], aStar);
  EXPECT_NEAR(B[8], 1.0 / 7.0, 1e-6);
  EXPECT_NEAR(Det3x3Mat(B), 1.0 / CellVolume(kTriclinic), 1e-5 / CellVolume(kTriclinic));
}

TEST(VectorMathCell, RotationFromAnglesIsRzRyRx) {
  float Rx[9], Ry[9], Rz[9], R[9], expected[9];
  GetRotationMatrixFromAngles(30, 0, 0, Rx);
  GetRotationMatrixFromAngles(0, -50, 0, Ry);
  GetRotationMatrixFromAngles(0, 0, 110, Rz);
  GetRotationMatrixFromAngles(30, -50, 110, R);
  MatMul33x33(Ry, Rx, expected);
  MatMul33x33(Rz, expected, expected);
  for (int i = 0; i < 9; ++i)
    EXPECT_NEAR(R[i], expected[i], 1e-6f) << i;
  ExpectRotation(R, 1e-6);

  // A positive angle about z turns x towards y.
  float z90[9];
  GetRotationMatrixFromAngles(0, 0, 90, z90);
  const float x[3] = {1, 0, 0};
  float turned[3];
  MatMul(z90, x, turned);
  EXPECT_NEAR(turned[0], 0.0f, 1e-7f);
  EXPECT_NEAR(turned[1], 1.0f, 1e-7f);
  float x90[9];
  GetRotationMatrixFromAngles(90, 0, 0, x90);
  const float y[3] = {0, 1, 0};
  MatMul(x90, y, turned); // y towards z
  EXPECT_NEAR(turned[2], 1.0f, 1e-7f);
}

TEST(VectorMathCell, NormalizeLatticeVector) {
  float G[9];
  Metric(kTriclinic, G);
  float v[3] = {1, -2, 0.5f};
  NormalizeLatticeVector(v, G);
  float Gv[3];
  MatMul(G, v, Gv);
  EXPECT_NEAR(DotProduct(v, Gv), 1.0f, 1e-6f);

  float zero[3] = {0, 0, 0};
  NormalizeLatticeVector(zero, G); // no length: left as it was, not NaN
  EXPECT_TRUE(VecIsZeroStrict(zero));
}

TEST(VectorMathCell, LatticeCrossProductIsVCrossU) {
  // Cubic: a × b = c, so the routine's (a, b) gives −c, in fractions of c.
  float cubic[9];
  GetMetricTensor(4, 4, 4, 90, 90, 90, cubic);
  const float a[3] = {1, 0, 0};
  const float b[3] = {0, 1, 0};
  float out[3];
  CrossProdLatticeVectors(a, b, out, cubic);
  EXPECT_NEAR(out[0], 0.0f, 1e-6f);
  EXPECT_NEAR(out[1], 0.0f, 1e-6f);
  EXPECT_NEAR(out[2], -4.0f, 1e-5f); // |a × b| = 16 Å², c = 4 Å, so −4 c

  // Triclinic, checked in Cartesian terms: M out = (M v) × (M u).
  float G[9], M[9];
  Metric(kTriclinic, G);
  GetDirectToOrthoMatrix(5, 6, 7, 80, 95, 100, M);
  const float u[3] = {0.3f, -1.0f, 0.7f};
  const float v[3] = {1.2f, 0.4f, -0.5f};
  CrossProdLatticeVectors(u, v, out, G);
  float Mu[3], Mv[3], expected[3], got[3];
  MatMul(M, u, Mu);
  MatMul(M, v, Mv);
  CrossProduct(Mv, Mu, expected);
  MatMul(M, out, got);
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(got[i], expected[i], 1e-4f) << i;
}

// ---- Orientation matrices --------------------------------------------------------------

// O maps fractional to view Cartesian: OᵀO = G, det O = V > 0, O times the
// Cartesian-to-fractional matrix is a proper rotation, and the view
// direction points along −z.
void ExpectOrientation(const float O[9], const float view[3], const Cell &cell) {
  float G[9], M[9], Minv[9], R[9];
  Metric(cell, G);
  ExpectGramEqualsMetric(O, G, 1e-5);
  EXPECT_GT(Det3x3Mat(O), 0.0f);
  EXPECT_NEAR(Det3x3Mat(O), CellVolume(cell), 1e-4 * CellVolume(cell));
  GetDirectToOrthoMatrix(cell.a, cell.b, cell.c, cell.alpha, cell.beta, cell.gamma, M);
  ASSERT_TRUE(Inv3x3Mat(M, Minv));
  MatMul33x33(O, Minv, R);
  ExpectRotation(R, 1e-5);

  float seen[3];
  MatMul(O, view, seen);
  const float length = Magnitude(seen);
  EXPECT_NEAR(seen[0] / length, 0.0f, 1e-5f);
  EXPECT_NEAR(seen[1] / length, 0.0f, 1e-5f);
  EXPECT_NEAR(seen[2] / length, -1.0f, 1e-5f);
}

TEST_F(VectorMath, CubicViewDownCIsDiagonal) {
  const float a = 3.5f;
  float G[9], O[9];
  GetMetricTensor(a, a, a, 90, 90, 90, G);
  const float view[3] = {0, 0, 1};
  ASSERT_TRUE(GetOrientationMatrix(view, G, O));
  const float expected[9] = {a, 0, 0, 0, -a, 0, 0, 0, -a};
  for (int i = 0; i < 9; ++i)
    EXPECT_NEAR(O[i], expected[i], 1e-6f) << i;
}

TEST_F(VectorMath, OrientationMatricesAreRightHandedAndOrthonormal) {
  const float views[][3] = {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}, {1, 1, 1}, {1, -2, 3}, {-0.2f, 0.5f, -1}, {0, 1e-7f, 1}};
  for (const Cell &cell : {kTriclinic, Cell{4, 4, 4, 90, 90, 90}, Cell{5.2f, 5.2f, 13.1f, 90, 90, 120}}) {
    for (const auto &view : views) {
      SCOPED_TRACE(testing::Message() << "view " << view[0] << " " << view[1] << " " << view[2] << ", a " << cell.a);
      float G[9], O[9];
      Metric(cell, G);
      ASSERT_TRUE(GetOrientationMatrix(view, G, O));
      ExpectOrientation(O, view, cell);
    }
  }
  EXPECT_TRUE(host.log.empty());
}

TEST_F(VectorMath, ZeroViewDirectionLooksDownC) {
  float G[9], zeroView[9], downC[9];
  Metric(kTriclinic, G);
  const float zero[3] = {0, 0, 0};
  const float c[3] = {0, 0, 1};
  EXPECT_TRUE(GetOrientationMatrix(zero, G, zeroView));
  ASSERT_TRUE(GetOrientationMatrix(c, G, downC));
  EXPECT_TRUE(Compare3x3Mat(zeroView, downC));
  for (float entry : zeroView)
    EXPECT_TRUE(std::isfinite(entry));
  EXPECT_TRUE(host.log.empty());
}

TEST_F(VectorMath, OrientationWithVerticalKeepsTheVerticalUp) {
  struct Case {
    float view[3];
    float vertical[3];
  };
  const Case cases[] = {
      {{1, 0, 0}, {0, 0, 1}},  {{0, 0, 1}, {0, 1, 0}},  {{1, 1, 1}, {0, 0, 1}},
      {{1, -2, 3}, {1, 1, 0}}, {{0, 1, 0}, {-1, 0, 0}},
  };
  for (const Cell &cell : {kTriclinic, Cell{5.2f, 5.2f, 13.1f, 90, 90, 120}}) {
    float G[9];
    Metric(cell, G);
    for (const Case &k : cases) {
      SCOPED_TRACE(testing::Message() << "view " << k.view[0] << " " << k.view[1] << " " << k.view[2] << ", vertical "
                                      << k.vertical[0] << " " << k.vertical[1] << " " << k.vertical[2]);
      float O[9];
      ASSERT_TRUE(GetOrientationMatrixWithVertical(k.view, k.vertical, G, O));
      ExpectOrientation(O, k.view, cell);
      // The vertical appears straight up on screen (its depth part is free).
      float up[3];
      MatMul(O, k.vertical, up);
      EXPECT_NEAR(up[0] / Magnitude(up), 0.0f, 1e-5f);
      EXPECT_GT(up[1], 0.0f);
    }
  }
  EXPECT_TRUE(host.log.empty());
}

TEST_F(VectorMath, OrientationWithParallelVerticalFallsBack) {
  float G[9];
  Metric(kTriclinic, G);
  const float view[3] = {1, -2, 3};
  float plain[9];
  ASSERT_TRUE(GetOrientationMatrix(view, G, plain));
  const float verticals[][3] = {{2, -4, 6}, {-1, 2, -3}, {1.002f, -2, 3}, {0, 0, 0}};
  for (const auto &vertical : verticals) {
    float O[9];
    EXPECT_TRUE(GetOrientationMatrixWithVertical(view, vertical, G, O));
    EXPECT_TRUE(Compare3x3Mat(O, plain)) << vertical[0];
  }
  // Just outside the parallel tolerance the vertical is honoured.
  const float tilted[3] = {1.1f, -2, 3};
  float O[9];
  ASSERT_TRUE(GetOrientationMatrixWithVertical(view, tilted, G, O));
  EXPECT_FALSE(Compare3x3Mat(O, plain));
}

// ---- Jacobi diagonalisation ----------------------------------------------------------------

TEST(VectorMathJacobi, DiagonalTensorNeedsNoRotation) {
  float a[9] = {3, 0, 0, 0, -1, 0, 0, 0, 2};
  float d[3], v[9];
  int rotations = -1;
  EXPECT_TRUE(Float_Jacobian(a, d, v, &rotations));
  EXPECT_EQ(rotations, 0);
  EXPECT_EQ(d[0], 3.0f);
  EXPECT_EQ(d[1], -1.0f);
  EXPECT_EQ(d[2], 2.0f);
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_TRUE(Compare3x3Mat(v, identity));

  const float T[9] = {3, 0, 0, 0, -1, 0, 0, 0, 2};
  float values[3], vectors[9];
  EXPECT_TRUE(DiagonalizeTensor(T, values, vectors));
  EXPECT_EQ(values[1], -1.0f);
  EXPECT_TRUE(Compare3x3Mat(vectors, identity));
}

TEST(VectorMathJacobi, OneRotationBlock) {
  // [[2,1],[1,2]] ⊕ [5]: eigenvalues 1 and 3 from the block, eigenvectors in
  // columns, unsorted in the order of the rotation.
  const float T[9] = {2, 1, 0, 1, 2, 0, 0, 0, 5};
  float values[3], vectors[9];
  ASSERT_TRUE(DiagonalizeTensor(T, values, vectors));
  EXPECT_NEAR(values[0], 1.0f, 1e-6f);
  EXPECT_NEAR(values[1], 3.0f, 1e-6f);
  EXPECT_EQ(values[2], 5.0f);
  const float h = float(std::sqrt(0.5));
  EXPECT_NEAR(std::fabs(vectors[0]), h, 1e-6f); // column 0 = (1, −1, 0)/√2 up to sign
  EXPECT_NEAR(vectors[0] + vectors[3], 0.0f, 1e-6f);
  EXPECT_NEAR(vectors[1] - vectors[4], 0.0f, 1e-6f); // column 1 = (1, 1, 0)/√2
  EXPECT_EQ(vectors[8], 1.0f);
}

void ExpectEigenpairs(const float T[9]) {
  float values[3], vectors[9];
  ASSERT_TRUE(DiagonalizeTensor(T, values, vectors));
  for (int k = 0; k < 3; ++k) {
    const float vk[3] = {vectors[k], vectors[3 + k], vectors[6 + k]};
    EXPECT_NEAR(Magnitude(vk), 1.0f, kEigenTol);
    float Tv[3];
    MatMul(T, vk, Tv);
    for (int i = 0; i < 3; ++i)
      EXPECT_NEAR(Tv[i], values[k] * vk[i], kEigenTol) << "pair " << k;
    for (int l = k + 1; l < 3; ++l) {
      const float vl[3] = {vectors[l], vectors[3 + l], vectors[6 + l]};
      EXPECT_NEAR(DotProduct(vk, vl), 0.0f, kEigenTol);
    }
  }
  // Invariants of the characteristic polynomial, in double.
  const double trace = double(T[0]) + T[4] + T[8];
  const double minors = double(T[0]) * T[4] - double(T[1]) * T[1] + double(T[0]) * T[8] - double(T[2]) * T[2] +
                        double(T[4]) * T[8] - double(T[5]) * T[5];
  EXPECT_NEAR(double(values[0]) + values[1] + values[2], trace, kEigenTol);
  EXPECT_NEAR(double(values[0]) * values[1] + double(values[0]) * values[2] + double(values[1]) * values[2], minors,
              kEigenTol);
  EXPECT_NEAR(double(values[0]) * values[1] * values[2], Det3x3Mat(T), kEigenTol);
}

TEST(VectorMathJacobi, RandomSymmetricTensorsGiveEigenpairs) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<float> entry(-1.0f, 1.0f);
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE(trial);
    float T[9];
    for (int i = 0; i < 3; ++i)
      for (int j = i; j < 3; ++j)
        T[3 * i + j] = T[3 * j + i] = entry(rng);
    ExpectEigenpairs(T);
  }
}

TEST(VectorMathJacobi, DegenerateAndThermalLikeTensors) {
  // Uniaxial: R diag(0.02, 0.02, 0.05) Rᵀ, like an anisotropic displacement
  // tensor with two equal axes.
  float R[9], Rt[9], D[9] = {0.02f, 0, 0, 0, 0.02f, 0, 0, 0, 0.05f}, T[9];
  GetRotationMatrixFromAngles(25, -40, 70, R);
  Transpose3x3Mat(R, Rt);
  MatMul33x33(R, D, T);
  MatMul33x33(T, Rt, T);
  T[3] = T[1];
  T[6] = T[2];
  T[7] = T[5];
  ExpectEigenpairs(T);
  const float isotropic[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  ExpectEigenpairs(isotropic);
  const float rankOne[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  ExpectEigenpairs(rankOne);
}

// ---- n x n double matrices ---------------------------------------------------------------

TEST(VectorMathSquare, CreateProductTransposeAndVector) {
  MatrixOwner zero(3);
  ASSERT_NE(zero.m, nullptr);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      EXPECT_EQ(zero.m[i][j], 0.0);
  EXPECT_EQ(CreateSquareMatrix(0), nullptr);

  MatrixOwner A(2, {1, 2, 3, 4});
  MatrixOwner B(2, {0, 1, 1, 0});
  MatrixOwner C(2);
  ASSERT_TRUE(GetProductOfSquareMatrices(A.m, B.m, C.m, 2));
  EXPECT_EQ(C.m[0][0], 2.0); // A·B swaps A's columns
  EXPECT_EQ(C.m[0][1], 1.0);
  EXPECT_EQ(C.m[1][0], 4.0);
  EXPECT_FALSE(GetProductOfSquareMatrices(A.m, B.m, nullptr, 2));
  double *saved = C.m[1];
  C.m[1] = nullptr;
  EXPECT_FALSE(GetProductOfSquareMatrices(A.m, B.m, C.m, 2));
  C.m[1] = saved;
  ASSERT_TRUE(GetProductOfSquareMatrices(A.m, B.m, A.m, 2)); // into an input
  EXPECT_EQ(A.m[1][1], 3.0);

  MatrixOwner M(3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  TransposeMatrix(M.m, 3);
  EXPECT_EQ(M.m[0][1], 4.0);
  EXPECT_EQ(M.m[2][0], 3.0);
  EXPECT_EQ(M.m[1][1], 5.0);
  const double x[3] = {1, 0, -1};
  double y[3];
  ASSERT_TRUE(GetProductOfMatrixAndVector(M.m, x, y, 3));
  EXPECT_EQ(y[0], 1.0 - 7.0);
  EXPECT_EQ(y[2], 3.0 - 9.0);
  EXPECT_FALSE(GetProductOfMatrixAndVector(M.m, x, nullptr, 3));
  EXPECT_TRUE(GetProductOfMatrixAndVector(M.m, x, y, 0));
}

TEST(VectorMathSquare, DeterminantsSmallAndLarge) {
  MatrixOwner one(1, {-2.5});
  EXPECT_EQ(MatrixDeterminant(one.m, 1), -2.5);
  EXPECT_EQ(MatrixDeterminant(one.m, 0), 0.0);
  MatrixOwner two(2, {3, 1, 4, 2});
  EXPECT_EQ(MatrixDeterminant(two.m, 2), 2.0);
  MatrixOwner three(3, {2, -1, 0, 1, 3, 4, 0, 5, -2});
  EXPECT_EQ(MatrixDeterminant(three.m, 3), -54.0);
  MatrixOwner four(4, {0, 2, 1, -1, 1, 1, 0, 2, 2, -1, 3, 1, 1, 0, -2, 1});
  EXPECT_NEAR(MatrixDeterminant(four.m, 4), 27.0, kExactTol);

  // Block diagonal 2 x 2 (det 5) and 3 x 3 (det 16).
  MatrixOwner block(5, {2, 1, 0, 0, 0, 1, 3, 0, 0, 0, 0, 0, 4, 1, 0, 0, 0, 2, 3, 1, 0, 0, 0, 1, 2});
  EXPECT_NEAR(MatrixDeterminant(block.m, 5), 80.0, kExactTol);
  // Swapping two rows flips the sign.
  std::swap(block.m[0], block.m[3]);
  EXPECT_NEAR(MatrixDeterminant(block.m, 5), -80.0, kExactTol);

  // Dense matrices with exact rational determinants.
  MatrixOwner five(5, {2, -1, 0, 3, 1, 1, 4, 2, 0, -2, 0, 3, -1, 2, 5, -3, 1, 2, 1, 0, 2, 0, 1, -1, 3});
  EXPECT_NEAR(MatrixDeterminant(five.m, 5), -1182.0, kExactTol * 1182);
  MatrixOwner six(6, {1, 2, 0,  -1, 3, 2, 0, 1, 4, 2, -1, 1,  3,  -2, 1, 0, 2, 0,
                      1, 1, -3, 2,  0, 4, 2, 0, 1, 1, 1,  -1, -1, 3,  2, 0, 1, 2});
  EXPECT_NEAR(MatrixDeterminant(six.m, 6), 105.0, kExactTol * 105);
}

TEST(VectorMathSquare, CofactorsAndInverse) {
  MatrixOwner A(4, {0, 2, 1, -1, 1, 1, 0, 2, 2, -1, 3, 1, 1, 0, -2, 1});
  // The exact inverse, with det 27.
  const double expected[4][4] = {{1.0 / 3, -1.0 / 3, 1.0 / 3, 2.0 / 3},
                                 {1.0 / 3, 2.0 / 9, -1.0 / 9, 0},
                                 {0, 1.0 / 9, 1.0 / 9, -1.0 / 3},
                                 {-1.0 / 3, 5.0 / 9, -1.0 / 9, -1.0 / 3}};
  MatrixOwner C(4);
  ASSERT_TRUE(GetCofactorMatrix(A.m, 4, C.m));
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      EXPECT_NEAR(C.m[r][c], 27.0 * expected[c][r], kExactTol) << r << "," << c;

  MatrixOwner inv(4);
  ASSERT_TRUE(InvertMatrix(A.m, 4, inv.m));
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      EXPECT_NEAR(inv.m[r][c], expected[r][c], kExactTol) << r << "," << c;

  // Larger than the closed forms: A·A⁻¹ = I.
  MatrixOwner five(5, {2, -1, 0, 3, 1, 1, 4, 2, 0, -2, 0, 3, -1, 2, 5, -3, 1, 2, 1, 0, 2, 0, 1, -1, 3});
  MatrixOwner fiveInv(5), product(5);
  ASSERT_TRUE(InvertMatrix(five.m, 5, fiveInv.m));
  ASSERT_TRUE(GetProductOfSquareMatrices(five.m, fiveInv.m, product.m, 5));
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 5; ++c)
      EXPECT_NEAR(product.m[r][c], r == c ? 1.0 : 0.0, kExactTol);

  MatrixOwner one(1, {4});
  MatrixOwner oneInv(1);
  ASSERT_TRUE(InvertMatrix(one.m, 1, oneInv.m));
  EXPECT_EQ(oneInv.m[0][0], 0.25);
  one.m[0][0] = 0.0;
  EXPECT_FALSE(InvertMatrix(one.m, 1, oneInv.m)); // not infinity
}

TEST(VectorMathSquare, SingularInverseIsRefusedQuietly) {
  MatrixOwner S(3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  MatrixOwner out(3);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(InvertMatrix(S.m, 3, out.m));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(VectorMathSquare, InverseTimingsOnlyWhenAsked) {
  MatrixOwner A(2, {1, 2, 3, 4});
  MatrixOwner out(2);
  gPrintMatrixTimings = true;
  testing::internal::CaptureStderr();
  const bool ok = InvertMatrix(A.m, 2, out.m);
  const std::string printed = testing::internal::GetCapturedStderr();
  gPrintMatrixTimings = false;
  ASSERT_TRUE(ok);
  EXPECT_EQ(printed.rfind("InvertMatrix\n...Time taken for matrix determinant = ", 0), 0u) << printed;
  EXPECT_NE(printed.find("...Time taken for cofator matrix = "), std::string::npos);
  EXPECT_NE(printed.find("...Time taken for transpose matrix = "), std::string::npos);
  EXPECT_NE(printed.find("...Time taken for det division = "), std::string::npos);
  EXPECT_NE(printed.find("...Total time for 2 x 2 matrix inversion = "), std::string::npos);
  EXPECT_EQ(out.m[0][0], -2.0);
  EXPECT_EQ(out.m[0][1], 1.0);
  EXPECT_EQ(out.m[1][0], 1.5);
  EXPECT_EQ(out.m[1][1], -0.5);
}

TEST(VectorMathSquare, SolverNeedsPivotingAndFindsKnownSolution) {
  // a00 = 0: only a row swap makes the first pivot usable.
  MatrixOwner A(4, {0, 2, 1, -1, 1, 1, 0, 2, 2, -1, 3, 1, 1, 0, -2, 1});
  const double b[4] = {0, 9, 0, 6};
  double x[4] = {};
  testing::internal::CaptureStderr();
  ASSERT_TRUE(SimultaneousLinearEquationSolver(A.m, b, x, 4));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  const double expected[4] = {1, 2, -1, 3};
  for (int i = 0; i < 4; ++i)
    EXPECT_NEAR(x[i], expected[i], kExactTol) << i;
  EXPECT_EQ(A.m[0][0], 0.0); // the caller's matrix is untouched
  EXPECT_EQ(A.m[1][0], 1.0);
}

TEST(VectorMathSquare, SolverReportsSingularSystems) {
  // A zero column stops the elimination.
  MatrixOwner zeroColumn(3, {0, 1, 2, 0, 3, 4, 0, 5, 7});
  const double b[3] = {1, 2, 3};
  double x[3];
  testing::internal::CaptureStderr();
  EXPECT_FALSE(SimultaneousLinearEquationSolver(zeroColumn.m, b, x, 3));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error! Matrix column is all zeroes. Exiting now.\n");

  // Dependent rows leave a zero in the last diagonal place.
  MatrixOwner dependent(3, {1, 2, 3, 2, 1, 0, 3, 3, 3});
  testing::internal::CaptureStderr();
  EXPECT_FALSE(SimultaneousLinearEquationSolver(dependent.m, b, x, 3));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error! Zero found along matrix diagonal - something has gone wrong. Exiting now.\n");
}

} // namespace
