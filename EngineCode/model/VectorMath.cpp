// Vector and matrix maths: see VectorMath.h for the conventions.
#include "VectorMath.h"

#include "HostServices.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <new>
#include <vector>

float gMachineEpsilon = 5.9604644775390625e-08f; // 2^-24
bool gPrintMatrixTimings = false;

void InitMachineEpsilon() { gMachineEpsilon = std::ldexp(1.0f, -24); }

namespace {

float VecTolerance() { return kVecToleranceFactor * gMachineEpsilon; }

// acos needs its argument in [-1, 1]; rounding can push a cosine just past.
double ClampCosine(double c) { return std::clamp(c, -1.0, 1.0); }

const char kSingularMatrixMessage[] = "Sorry, an illegal operation occurred: singular matrix";

// Plain-component parallel test: the unit vectors agree, or are opposite,
// to within the parallel tolerance. A vector of no length counts as parallel.
bool ParallelVec(const float u[3], const float v[3]) {
  float uu[3];
  float vv[3];
  if (!GetUnitVector(u, uu) || !GetUnitVector(v, vv))
    return true;
  float s = std::fabs(uu[0] - vv[0]) + std::fabs(uu[1] - vv[1]) + std::fabs(uu[2] - vv[2]);
  if (s > kParallelTolerance)
    s = std::fabs(uu[0] + vv[0]) + std::fabs(uu[1] + vv[1]) + std::fabs(uu[2] + vv[2]);
  return s < kParallelTolerance;
}

// M = the matrix whose columns are x, y and z.
void MatrixFromColumns(const float x[3], const float y[3], const float z[3], float M[9]) {
  for (int i = 0; i < 3; ++i) {
    M[3 * i + 0] = x[i];
    M[3 * i + 1] = y[i];
    M[3 * i + 2] = z[i];
  }
}

double Seconds(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::microseconds>(to - from).count() * 1e-6;
}

} // namespace

// ---- Vectors ----------------------------------------------------------------

void CopyVector(float dst[3], const float src[3]) {
  dst[0] = src[0];
  dst[1] = src[1];
  dst[2] = src[2];
}

void ZeroVector(float v[3]) { v[0] = v[1] = v[2] = 0.0f; }

void VecAdd(const float a[3], const float b[3], float out[3]) {
  out[0] = a[0] + b[0];
  out[1] = a[1] + b[1];
  out[2] = a[2] + b[2];
}

void VecScalarMult(const float v[3], float s, float out[3]) {
  out[0] = s * v[0];
  out[1] = s * v[1];
  out[2] = s * v[2];
}

void VecNegate(float v[3]) {
  v[0] = -v[0];
  v[1] = -v[1];
  v[2] = -v[2];
}

void CrossProduct(const float a[3], const float b[3], float out[3]) {
  const float x = a[1] * b[2] - a[2] * b[1];
  const float y = a[2] * b[0] - a[0] * b[2];
  const float z = a[0] * b[1] - a[1] * b[0];
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

void DCrossProduct(const double a[3], const double b[3], double out[3]) {
  const double x = a[1] * b[2] - a[2] * b[1];
  const double y = a[2] * b[0] - a[0] * b[2];
  const double z = a[0] * b[1] - a[1] * b[0];
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

bool VecIsZero(const float v[3]) {
  const float tol = VecTolerance();
  return std::fabs(v[0]) < tol && std::fabs(v[1]) < tol && std::fabs(v[2]) < tol;
}

bool VecEqual(const float a[3], const float b[3]) {
  const float tol = VecTolerance();
  return std::fabs(a[0] - b[0]) < tol && std::fabs(a[1] - b[1]) < tol && std::fabs(a[2] - b[2]) < tol;
}

bool VecIsZeroStrict(const float v[3]) { return v[0] == 0.0f && v[1] == 0.0f && v[2] == 0.0f; }

bool VecLessThan(const float a[3], const float b[3]) {
  if (a[2] < b[2])
    return true;
  if (a[2] != b[2])
    return false; // also when either is NaN
  if (a[1] < b[1])
    return true;
  if (a[1] != b[1])
    return false;
  return a[0] < b[0];
}

// ---- 3x3 matrices -------------------------------------------------------------

void DMatMul(const double M[9], const double v[3], double out[3]) {
  const double x = M[0] * v[0] + M[1] * v[1] + M[2] * v[2];
  const double y = M[3] * v[0] + M[4] * v[1] + M[5] * v[2];
  const double z = M[6] * v[0] + M[7] * v[1] + M[8] * v[2];
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

void MatMul33x33(const float A[9], const float B[9], float C[9]) {
  float r[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      r[3 * i + j] = A[3 * i] * B[j] + A[3 * i + 1] * B[3 + j] + A[3 * i + 2] * B[6 + j];
  Copy3x3Mat(C, r);
}

void DMatMul33x33(const double A[9], const double B[9], double C[9]) {
  double r[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      r[3 * i + j] = A[3 * i] * B[j] + A[3 * i + 1] * B[3 + j] + A[3 * i + 2] * B[6 + j];
  std::copy(r, r + 9, C);
}

void MatMul13x33(const float v[3], const float M[9], float out[3]) {
  const float x = v[0] * M[0] + v[1] * M[3] + v[2] * M[6];
  const float y = v[0] * M[1] + v[1] * M[4] + v[2] * M[7];
  const float z = v[0] * M[2] + v[1] * M[5] + v[2] * M[8];
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

void MatMul13x31(const float u[3], const float v[3], float *out) { *out = DotProduct(u, v); }

void Copy3x3Mat(float dst[9], const float src[9]) { std::copy(src, src + 9, dst); }

void Transpose3x3Mat(const float src[9], float dst[9]) {
  float t[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      t[3 * j + i] = src[3 * i + j];
  Copy3x3Mat(dst, t);
}

void Zero3x3Mat(float M[9]) { std::fill(M, M + 9, 0.0f); }

float Det3x3Mat(const float M[9]) {
  return M[0] * (M[4] * M[8] - M[5] * M[7]) - M[1] * (M[3] * M[8] - M[5] * M[6]) + M[2] * (M[3] * M[7] - M[4] * M[6]);
}

bool Is3x3MatZero(const float M[9]) {
  double sum = 0.0;
  for (int i = 0; i < 9; ++i)
    sum += std::fabs(static_cast<double>(M[i]));
  return sum < kZeroMatrixSumTolerance;
}

bool Compare3x3Mat(const float A[9], const float B[9]) {
  for (int i = 0; i < 9; ++i)
    if (A[i] != B[i])
      return false;
  return true;
}

namespace {

// Adjugate over determinant, shared by both precisions.
template <typename T> bool Invert3x3(const T M[9], T out[9], T det) {
  if (!(std::fabs(det) > T(0))) {
    FWrite(kSingularMatrixMessage);
    for (int i = 0; i < 9; ++i)
      out[i] = (i % 4 == 0) ? T(1) : T(0);
    return false;
  }
  T r[9];
  r[0] = (M[4] * M[8] - M[5] * M[7]) / det;
  r[1] = (M[2] * M[7] - M[1] * M[8]) / det;
  r[2] = (M[1] * M[5] - M[2] * M[4]) / det;
  r[3] = (M[5] * M[6] - M[3] * M[8]) / det;
  r[4] = (M[0] * M[8] - M[2] * M[6]) / det;
  r[5] = (M[2] * M[3] - M[0] * M[5]) / det;
  r[6] = (M[3] * M[7] - M[4] * M[6]) / det;
  r[7] = (M[1] * M[6] - M[0] * M[7]) / det;
  r[8] = (M[0] * M[4] - M[1] * M[3]) / det;
  std::copy(r, r + 9, out);
  return true;
}

} // namespace

bool Inv3x3Mat(const float M[9], float out[9]) { return Invert3x3(M, out, Det3x3Mat(M)); }

bool DInv3x3Mat(const double M[9], double out[9]) {
  const double det =
      M[0] * (M[4] * M[8] - M[5] * M[7]) - M[1] * (M[3] * M[8] - M[5] * M[6]) + M[2] * (M[3] * M[7] - M[4] * M[6]);
  return Invert3x3(M, out, det);
}

// ---- n x n double matrices -------------------------------------------------------

SquareMatrix CreateSquareMatrix(int n) {
  if (n < 1)
    return nullptr;
  double **m = new (std::nothrow) double *[n];
  if (!m)
    return nullptr;
  for (int i = 0; i < n; ++i) {
    m[i] = new (std::nothrow) double[n]();
    if (!m[i]) {
      DestroySquareMatrix(m, i);
      return nullptr;
    }
  }
  return m;
}

void DestroySquareMatrix(SquareMatrix m, int n) {
  if (!m)
    return;
  for (int i = 0; i < n; ++i)
    delete[] m[i];
  delete[] m;
}

bool GetProductOfSquareMatrices(const double *const *A, const double *const *B, SquareMatrix C, int n) {
  if (!C)
    return false;
  for (int i = 0; i < n; ++i)
    if (!C[i])
      return false;
  // The product goes to a scratch matrix first so that C may be A or B.
  std::vector<double> r(static_cast<size_t>(n > 0 ? n : 0) * (n > 0 ? n : 0));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double sum = 0.0;
      for (int k = 0; k < n; ++k)
        sum += A[i][k] * B[k][j];
      r[static_cast<size_t>(i) * n + j] = sum;
    }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      C[i][j] = r[static_cast<size_t>(i) * n + j];
  return true;
}

bool GetProductOfMatrixAndVector(const double *const *A, const double *x, double *y, int n) {
  if (!y)
    return false;
  if (n < 1)
    return true;
  std::vector<double> r(n);
  for (int i = 0; i < n; ++i) {
    double sum = 0.0;
    for (int k = 0; k < n; ++k)
      sum += A[i][k] * x[k];
    r[i] = sum;
  }
  std::copy(r.begin(), r.end(), y);
  return true;
}

void TransposeMatrix(SquareMatrix m, int n) {
  if (n < 2)
    return;
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j)
      std::swap(m[i][j], m[j][i]);
}

namespace {

// Determinant of the k x k submatrix of m made of the listed rows and
// columns: closed forms up to 4 x 4, otherwise expansion along its first row.
// `scratch` holds room for the column lists of the deeper levels.
double SubDeterminant(const double *const *m, const int *rows, const int *cols, int k, int *scratch) {
  auto e = [&](int i, int j) { return m[rows[i]][cols[j]]; };
  // 3 x 3 determinant of rows r..r+2 and the three given columns.
  auto det3 = [&](int r, int c0, int c1, int c2) {
    return e(r, c0) * (e(r + 1, c1) * e(r + 2, c2) - e(r + 1, c2) * e(r + 2, c1)) -
           e(r, c1) * (e(r + 1, c0) * e(r + 2, c2) - e(r + 1, c2) * e(r + 2, c0)) +
           e(r, c2) * (e(r + 1, c0) * e(r + 2, c1) - e(r + 1, c1) * e(r + 2, c0));
  };
  switch (k) {
  case 0:
    return 1.0; // the empty minor
  case 1:
    return e(0, 0);
  case 2:
    return e(0, 0) * e(1, 1) - e(0, 1) * e(1, 0);
  case 3:
    return det3(0, 0, 1, 2);
  case 4:
    return e(0, 0) * det3(1, 1, 2, 3) - e(0, 1) * det3(1, 0, 2, 3) + e(0, 2) * det3(1, 0, 1, 3) -
           e(0, 3) * det3(1, 0, 1, 2);
  default:
    break;
  }
  int *subCols = scratch;
  double det = 0.0;
  double sign = 1.0;
  for (int j = 0; j < k; ++j) {
    for (int c = 0, s = 0; c < k; ++c)
      if (c != j)
        subCols[s++] = cols[c];
    det += sign * e(0, j) * SubDeterminant(m, rows + 1, subCols, k - 1, scratch + (k - 1));
    sign = -sign;
  }
  return det;
}

// Determinant of A without row r and column c; `index` has room for 2n ints
// and `scratch` for n² ints.
double MinorDeterminant(const double *const *A, int n, int r, int c, int *index, int *scratch) {
  int *rows = index;
  int *cols = index + n;
  for (int i = 0, s = 0; i < n; ++i)
    if (i != r)
      rows[s++] = i;
  for (int j = 0, s = 0; j < n; ++j)
    if (j != c)
      cols[s++] = j;
  return SubDeterminant(A, rows, cols, n - 1, scratch);
}

} // namespace

double MatrixDeterminant(const double *const *m, int n) {
  if (n < 1)
    return 0.0;
  std::vector<int> index(2 * static_cast<size_t>(n) + static_cast<size_t>(n) * n);
  int *rows = index.data();
  int *cols = rows + n;
  for (int i = 0; i < n; ++i)
    rows[i] = cols[i] = i;
  return SubDeterminant(m, rows, cols, n, cols + n);
}

bool GetCofactorMatrix(const double *const *A, int n, SquareMatrix C) {
  if (!C || n < 1)
    return false;
  std::vector<int> work(2 * static_cast<size_t>(n) + static_cast<size_t>(n) * n);
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      const double minor = MinorDeterminant(A, n, r, c, work.data(), work.data() + 2 * n);
      C[r][c] = ((r + c) % 2 == 0) ? minor : -minor;
    }
  return true;
}

bool InvertMatrix(const double *const *A, int n, SquareMatrix out) {
  if (n < 1 || !A || !out)
    return false;
  if (n == 1) {
    // A zero entry has no inverse; 1/0 would hand back infinity as success.
    if (A[0][0] == 0.0)
      return false;
    out[0][0] = 1.0 / A[0][0];
    return true;
  }
  using Clock = std::chrono::steady_clock;
  const bool timings = gPrintMatrixTimings;
  if (timings)
    std::fprintf(stderr, "InvertMatrix\n");
  const Clock::time_point start = Clock::now();

  const double det = MatrixDeterminant(A, n);
  Clock::time_point mark = Clock::now();
  if (timings)
    std::fprintf(stderr, "...Time taken for matrix determinant = %.3f s\n", Seconds(start, mark));
  if (det == 0.0)
    return false;

  Clock::time_point step = Clock::now();
  if (!GetCofactorMatrix(A, n, out))
    return false;
  mark = Clock::now();
  if (timings)
    std::fprintf(stderr, "...Time taken for cofator matrix = %.3f s\n", Seconds(step, mark));

  step = Clock::now();
  TransposeMatrix(out, n);
  mark = Clock::now();
  if (timings)
    std::fprintf(stderr, "...Time taken for transpose matrix = %.3f s\n", Seconds(step, mark));

  step = Clock::now();
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      out[i][j] /= det;
  mark = Clock::now();
  if (timings) {
    std::fprintf(stderr, "...Time taken for det division = %.3f s\n", Seconds(step, mark));
    std::fprintf(stderr, "...Total time for %d x %d matrix inversion = %.3f s\n", n, n, Seconds(start, mark));
  }
  return true;
}

bool SimultaneousLinearEquationSolver(const double *const *A, const double *b, double *x, int n) {
  if (n < 1 || !A || !b || !x)
    return false;
  // Augmented working copy, n rows of n + 1 values.
  const size_t width = static_cast<size_t>(n) + 1;
  std::vector<double> work(static_cast<size_t>(n) * width);
  std::vector<double *> row(n);
  for (int i = 0; i < n; ++i) {
    row[i] = work.data() + i * width;
    std::copy(A[i], A[i] + n, row[i]);
    row[i][n] = b[i];
  }

  for (int k = 0; k < n - 1; ++k) {
    int pivot = k;
    for (int r = k + 1; r < n; ++r)
      if (std::fabs(row[r][k]) > std::fabs(row[pivot][k]))
        pivot = r;
    if (!(std::fabs(row[pivot][k]) >= kSolverPivotTolerance)) {
      std::fprintf(stderr, "Error! Matrix column is all zeroes. Exiting now.\n");
      return false;
    }
    std::swap(row[k], row[pivot]);
    for (int i = k + 1; i < n; ++i) {
      const double factor = row[i][k] / row[k][k];
      for (size_t j = k + 1; j < width; ++j)
        row[i][j] -= factor * row[k][j];
      row[i][k] = 0.0;
    }
  }

  for (int i = n - 1; i >= 0; --i) {
    if (!(std::fabs(row[i][i]) >= kSolverPivotTolerance)) {
      std::fprintf(stderr, "Error! Zero found along matrix diagonal - something has gone wrong. Exiting now.\n");
      return false;
    }
    double sum = row[i][n];
    for (int j = i + 1; j < n; ++j)
      sum -= row[i][j] * x[j];
    x[i] = sum / row[i][i];
  }
  return true;
}

// ---- Crystallographic constructions -------------------------------------------------

void GetMetricTensor(float a, float b, float c, float alpha, float beta, float gamma, float G[9]) {
  const double cosAlpha = std::cos(alpha * kDegToRad);
  const double cosBeta = std::cos(beta * kDegToRad);
  const double cosGamma = std::cos(gamma * kDegToRad);
  const double da = a, db = b, dc = c;
  G[0] = static_cast<float>(da * da);
  G[4] = static_cast<float>(db * db);
  G[8] = static_cast<float>(dc * dc);
  G[1] = G[3] = static_cast<float>(da * db * cosGamma);
  G[2] = G[6] = static_cast<float>(da * dc * cosBeta);
  G[5] = G[7] = static_cast<float>(db * dc * cosAlpha);
}

bool GetCellParametersFromMetricTensor(const float G[9], float *a, float *b, float *c, float *alpha, float *beta,
                                       float *gamma) {
  if (!(G[0] > 0.0f) || !(G[4] > 0.0f) || !(G[8] > 0.0f))
    return false;
  const double la = std::sqrt(static_cast<double>(G[0]));
  const double lb = std::sqrt(static_cast<double>(G[4]));
  const double lc = std::sqrt(static_cast<double>(G[8]));
  const double cosAlpha = G[5] / (lb * lc);
  const double cosBeta = G[2] / (la * lc);
  const double cosGamma = G[1] / (la * lb);
  for (double cosine : {cosAlpha, cosBeta, cosGamma})
    if (!(cosine >= -1.0 && cosine <= 1.0))
      return false;
  *a = static_cast<float>(la);
  *b = static_cast<float>(lb);
  *c = static_cast<float>(lc);
  *alpha = static_cast<float>(std::acos(cosAlpha) * kRadToDeg);
  *beta = static_cast<float>(std::acos(cosBeta) * kRadToDeg);
  *gamma = static_cast<float>(std::acos(cosGamma) * kRadToDeg);
  return true;
}

void DGetDirectToOrthoMatrix(double a, double b, double c, double alpha, double beta, double gamma, double M[9]) {
  const double cosAlpha = std::cos(alpha * kDegToRad);
  const double sinAlpha = std::sin(alpha * kDegToRad);
  const double cosBeta = std::cos(beta * kDegToRad);
  const double sinBeta = std::sin(beta * kDegToRad);
  const double cosGamma = std::cos(gamma * kDegToRad);
  // gamma*, the angle between a* and b*; clamped because rounding can take
  // the cosine just past ±1 for a (nearly) degenerate cell.
  const double cosGammaStar = ClampCosine((cosAlpha * cosBeta - cosGamma) / (sinAlpha * sinBeta));
  const double sinGammaStar = std::sin(std::acos(cosGammaStar));
  M[0] = a * sinBeta * sinGammaStar;
  M[1] = 0.0;
  M[2] = 0.0;
  M[3] = -a * sinBeta * cosGammaStar;
  M[4] = b * sinAlpha;
  M[5] = 0.0;
  M[6] = a * cosBeta;
  M[7] = b * cosAlpha;
  M[8] = c;
}

void GetDirectToOrthoMatrix(float a, float b, float c, float alpha, float beta, float gamma, float M[9]) {
  double d[9];
  DGetDirectToOrthoMatrix(a, b, c, alpha, beta, gamma, d);
  for (int i = 0; i < 9; ++i)
    M[i] = static_cast<float>(d[i]);
}

void GetRecipToOrthoMatrix(float p, float q, float r, float alpha, float beta, float gamma, float M[9]) {
  const double cosAlpha = std::cos(alpha * kDegToRad);
  const double sinAlpha = std::sin(alpha * kDegToRad);
  const double cosBeta = std::cos(beta * kDegToRad);
  const double sinBeta = std::sin(beta * kDegToRad);
  const double cosGamma = std::cos(gamma * kDegToRad);
  const double sinGamma = std::sin(gamma * kDegToRad);
  const double cosGammaStar = ClampCosine((cosAlpha * cosBeta - cosGamma) / (sinBeta * sinAlpha));
  const double cosBetaStar = ClampCosine((cosGamma * cosAlpha - cosBeta) / (sinGamma * sinAlpha));
  const double sinGammaStar = std::sin(std::acos(cosGammaStar));
  const double sinBetaStar = std::sin(std::acos(cosBetaStar));
  const double dp = p, dq = q, dr = r;
  M[0] = static_cast<float>(dp);
  M[1] = static_cast<float>(dq * cosGammaStar);
  M[2] = static_cast<float>(dr * cosBetaStar);
  M[3] = 0.0f;
  M[4] = static_cast<float>(dq * sinGammaStar);
  M[5] = static_cast<float>(-dr * sinBetaStar * cosAlpha);
  M[6] = 0.0f;
  M[7] = 0.0f;
  M[8] = static_cast<float>(dr * sinBetaStar * sinAlpha);
}

void GetRotationMatrixFromAngles(float xAngle, float yAngle, float zAngle, float M[9]) {
  const double cx = std::cos(xAngle * kDegToRad), sx = std::sin(xAngle * kDegToRad);
  const double cy = std::cos(yAngle * kDegToRad), sy = std::sin(yAngle * kDegToRad);
  const double cz = std::cos(zAngle * kDegToRad), sz = std::sin(zAngle * kDegToRad);
  M[0] = static_cast<float>(cy * cz);
  M[1] = static_cast<float>(sx * sy * cz - cx * sz);
  M[2] = static_cast<float>(cx * sy * cz + sx * sz);
  M[3] = static_cast<float>(cy * sz);
  M[4] = static_cast<float>(cx * cz + sx * sy * sz);
  M[5] = static_cast<float>(cx * sy * sz - cz * sx);
  M[6] = static_cast<float>(-sy);
  M[7] = static_cast<float>(sx * cy);
  M[8] = static_cast<float>(cx * cy);
}

void NormalizeLatticeVector(float v[3], const float G[9]) {
  float w[3];
  MatMul13x33(v, G, w);
  const float squared = DotProduct(w, v);
  // A vector of no length (or a metric that gives it none) has no direction
  // to keep; dividing would fill it with NaN or infinity.
  if (!(squared > 0.0f))
    return;
  const float length = std::sqrt(squared);
  v[0] /= length;
  v[1] /= length;
  v[2] /= length;
}

void CrossProdLatticeVectors(const float u[3], const float v[3], float out[3], const float G[9]) {
  float gu[3];
  float gv[3];
  MatMul(G, u, gu);
  MatMul(G, v, gv);
  const float volume = std::sqrt(Det3x3Mat(G));
  CrossProduct(gu, gv, out);
  out[0] = -out[0] / volume;
  out[1] = -out[1] / volume;
  out[2] = -out[2] / volume;
}

bool GetOrientationMatrix(const float viewDirection[3], const float G[9], float O[9]) {
  static const float kDefaultView[3] = {0.0f, 0.0f, 1.0f};
  // z points towards the viewer, against the view direction.
  float z[3];
  CopyVector(z, viewDirection);
  float w[3];
  MatMul13x33(z, G, w);
  if (!(DotProduct(w, z) > 0.0f))
    CopyVector(z, kDefaultView); // no direction: look down c
  VecNegate(z);
  NormalizeLatticeVector(z, G);

  MatMul13x33(z, G, w); // covariant components of z
  // Any vector whose covariant dot product with z vanishes is perpendicular.
  float y[3];
  if (std::fabs(w[0]) > kUpVectorComponentTolerance) {
    y[0] = -w[1];
    y[1] = w[0];
    y[2] = 0.0f;
  } else {
    y[0] = 0.0f;
    y[1] = w[2];
    y[2] = -w[1];
  }
  NormalizeLatticeVector(y, G);

  float x[3];
  CrossProdLatticeVectors(z, y, x, G); // y × z
  float axes[9];
  MatrixFromColumns(x, y, z, axes);
  return Inv3x3Mat(axes, O);
}

bool GetOrientationMatrixWithVertical(const float viewDirection[3], const float vertical[3], const float G[9],
                                      float O[9]) {
  if (ParallelVec(viewDirection, vertical))
    return GetOrientationMatrix(viewDirection, G, O);
  float z[3];
  CopyVector(z, viewDirection);
  VecNegate(z);
  NormalizeLatticeVector(z, G);
  float v[3];
  CopyVector(v, vertical);
  NormalizeLatticeVector(v, G);
  float x[3];
  CrossProdLatticeVectors(z, v, x, G); // v × z
  NormalizeLatticeVector(x, G);
  float y[3];
  CrossProdLatticeVectors(z, x, y, G); // x × z
  VecNegate(y);                        // z × x: the vertical's part across the view
  float axes[9];
  MatrixFromColumns(x, y, z, axes);
  return Inv3x3Mat(axes, O);
}

bool Float_Jacobian(float a[9], float d[3], float v[9], int *rotations) {
  constexpr int n = 3;
  // b accumulates the eigenvalue updates of a sweep, z holds the corrections
  // made during the sweep.
  float b[n];
  float z[n];
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j)
      v[n * i + j] = (i == j) ? 1.0f : 0.0f;
    b[i] = d[i] = a[n * i + i];
    z[i] = 0.0f;
  }
  int count = 0;
  bool converged = false;

  auto rotate = [](float &g, float &h, float s, float tau) {
    const float gg = g;
    const float hh = h;
    g = gg - s * (hh + gg * tau);
    h = hh + s * (gg - hh * tau);
  };

  for (int sweep = 1; sweep <= kJacobiMaxSweeps; ++sweep) {
    float sum = 0.0f;
    for (int p = 0; p < n - 1; ++p)
      for (int q = p + 1; q < n; ++q)
        sum += std::fabs(a[n * p + q]);
    if (sum == 0.0f) {
      converged = true;
      break;
    }
    const float threshold = (sweep <= kJacobiThresholdSweeps) ? kJacobiThresholdFactor * sum / (n * n) : 0.0f;

    for (int p = 0; p < n - 1; ++p) {
      for (int q = p + 1; q < n; ++q) {
        float &apq = a[n * p + q];
        const float g = kJacobiNegligibleFactor * std::fabs(apq);
        // The sums are stored to floats so the equality tests happen in
        // single precision, whatever the compiler keeps in registers.
        const volatile float dpSum = std::fabs(d[p]) + g;
        const volatile float dqSum = std::fabs(d[q]) + g;
        if (sweep >= kJacobiNegligibleSweep && dpSum == std::fabs(d[p]) && dqSum == std::fabs(d[q])) {
          apq = 0.0f;
          continue;
        }
        if (!(std::fabs(apq) > threshold))
          continue;

        float h = d[q] - d[p];
        float t;
        const volatile float hSum = std::fabs(h) + g;
        if (hSum == std::fabs(h)) {
          t = apq / h;
        } else {
          const double theta = 0.5 * h / apq;
          double dt = 1.0 / (std::fabs(theta) + std::sqrt(1.0 + theta * theta));
          if (theta < 0.0)
            dt = -dt;
          t = static_cast<float>(dt);
        }
        const float c = 1.0f / std::sqrt(1.0f + t * t);
        const float s = t * c;
        const float tau = s / (1.0f + c);
        h = t * apq;
        z[p] -= h;
        z[q] += h;
        d[p] -= h;
        d[q] += h;
        apq = 0.0f;
        for (int j = 0; j < p; ++j)
          rotate(a[n * j + p], a[n * j + q], s, tau);
        for (int j = p + 1; j < q; ++j)
          rotate(a[n * p + j], a[n * j + q], s, tau);
        for (int j = q + 1; j < n; ++j)
          rotate(a[n * p + j], a[n * q + j], s, tau);
        for (int j = 0; j < n; ++j)
          rotate(v[n * j + p], v[n * j + q], s, tau);
        ++count;
      }
    }
    for (int p = 0; p < n; ++p) {
      b[p] += z[p];
      d[p] = b[p];
      z[p] = 0.0f;
    }
  }
  if (rotations)
    *rotations = count;
  return converged;
}

bool DiagonalizeTensor(const float T[9], float eigenvalues[3], float eigenvectors[9]) {
  float work[9];
  Copy3x3Mat(work, T);
  return Float_Jacobian(work, eigenvalues, eigenvectors, nullptr);
}
