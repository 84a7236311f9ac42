// Vector and matrix maths for the structure engine.
//
// Plain functions on 3-vectors and 3x3 matrices in single precision, with
// double-precision twins for a few; n x n double matrices for the general
// solver, determinant and inverse; and the crystallographic constructions
// (metric tensor, fractional-to-Cartesian matrices, orientation matrices,
// Jacobi diagonalisation of a symmetric tensor).
//
// Conventions:
// - A vector is three consecutive values (x, y, z). Results go to the last
//   argument; every 3-vector and 3x3 routine may be given an output that
//   aliases one of its inputs.
// - A 3x3 matrix is nine values stored row by row: element (row i, column j)
//   is entry 3i+j. Matrices act on column vectors (`MatMul`: out = M v), so a
//   matrix built from the vectors x, y, z as its columns holds x in entries
//   0, 3 and 6.
// - A metric tensor G of a cell (a, b, c, alpha, beta, gamma) is
//   [a², ab cos gamma, ac cos beta; ab cos gamma, b², bc cos alpha;
//    ac cos beta, bc cos alpha, c²]. A lattice vector has fractional
//   (direct-basis) components; its Cartesian length is sqrt(v·Gv).
// - Angles are passed in degrees.
//
// Nothing keeps state except the machine epsilon; the 3-vector and 3x3
// routines allocate nothing (they run per atom in the generation and
// plotting loops, and `DCrossProduct` also on the relaxation worker thread).
#pragma once

#include <cmath>
#include <cstdint>

// ---- Constants --------------------------------------------------------------
inline constexpr double kDegToRad = 0.0174532925199; // radians per degree
inline constexpr double kRadToDeg = 57.2957795131;   // degrees per radian

// The single-precision machine epsilon, 2^-24. Set at static initialisation;
// `InitMachineEpsilon` sets it again at start-up.
extern float gMachineEpsilon;
void InitMachineEpsilon();

// The approximate vector tests (`VecIsZero`, `VecEqual`) accept differences
// below this many machine epsilons: 512 x 2^-24 = 2^-15.
inline constexpr float kVecToleranceFactor = 512.0f;
// `Is3x3MatZero`: the sum of the nine |entries| must stay below this.
inline constexpr double kZeroMatrixSumTolerance = 0.0001;
// The n x n solver gives up on a pivot or diagonal entry below this.
inline constexpr double kSolverPivotTolerance = 0.0001;
// `GetOrientationMatrix` builds the up vector from the first covariant
// component of the view axis while that is above this in magnitude.
inline constexpr float kUpVectorComponentTolerance = 1e-5f;
// Two unit vectors are parallel (or antiparallel) when the sum of their
// component differences (or sums) is below this.
inline constexpr float kParallelTolerance = 0.01f;
// Jacobi diagonalisation: sweep limit, threshold factor of the first sweeps,
// and the factor by which an off-diagonal entry must be negligible to be
// dropped without a rotation.
inline constexpr int kJacobiMaxSweeps = 50;
inline constexpr int kJacobiThresholdSweeps = 3; // sweeps 1 to 3 use a threshold
inline constexpr int kJacobiNegligibleSweep = 5; // from this sweep on, tiny entries are dropped
inline constexpr float kJacobiThresholdFactor = 0.2f;
inline constexpr float kJacobiNegligibleFactor = 100.0f;

// When set, `InvertMatrix` writes its timing diagnostics to standard error.
extern bool gPrintMatrixTimings;

// ---- Vectors (f32) ------------------------------------------------------------
void CopyVector(float dst[3], const float src[3]);
void ZeroVector(float v[3]);
void VecAdd(const float a[3], const float b[3], float out[3]);
// out = a - b
inline void VecDiff(const float a[3], const float b[3], float out[3]) {
  out[0] = a[0] - b[0];
  out[1] = a[1] - b[1];
  out[2] = a[2] - b[2];
}
void VecScalarMult(const float v[3], float s, float out[3]);
// v = -v in place.
void VecNegate(float v[3]);
inline float DotProduct(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
void CrossProduct(const float a[3], const float b[3], float out[3]);
// The double-precision cross product; safe on any thread.
void DCrossProduct(const double a[3], const double b[3], double out[3]);
// sqrt(x²+y²+z²); the sum of squares itself when that is not above 0.
inline float Magnitude(const float v[3]) {
  const float sum = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  if (sum > 0.0f)
    return std::sqrt(sum);
  return sum;
}
// out = v/|v| and true; when the sum of squares is not above 0, out = 0 and
// false.
inline bool GetUnitVector(const float v[3], float out[3]) {
  const float sum = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  if (!(sum > 0.0f)) {
    ZeroVector(out);
    return false;
  }
  const float length = std::sqrt(sum);
  out[0] = v[0] / length;
  out[1] = v[1] / length;
  out[2] = v[2] / length;
  return true;
}
// Every |component| below 512·eps.
bool VecIsZero(const float v[3]);
// Every |a_i − b_i| below 512·eps.
bool VecEqual(const float a[3], const float b[3]);
// All three components exactly 0 (a NaN is not zero).
bool VecIsZeroStrict(const float v[3]);
// Lexicographic order on z, then y, then x; false whenever a NaN is compared.
bool VecLessThan(const float a[3], const float b[3]);

// ---- 3x3 matrices ---------------------------------------------------------------
// out = M v
inline void MatMul(const float M[9], const float v[3], float out[3]) {
  const float x = M[0] * v[0] + M[1] * v[1] + M[2] * v[2];
  const float y = M[3] * v[0] + M[4] * v[1] + M[5] * v[2];
  const float z = M[6] * v[0] + M[7] * v[1] + M[8] * v[2];
  out[0] = x;
  out[1] = y;
  out[2] = z;
}
void DMatMul(const double M[9], const double v[3], double out[3]);
// C = A·B
void MatMul33x33(const float A[9], const float B[9], float C[9]);
void DMatMul33x33(const double A[9], const double B[9], double C[9]);
// Row vector times matrix: out_j = Σ_i v_i M_ij.
void MatMul13x33(const float v[3], const float M[9], float out[3]);
// *out = u·v
void MatMul13x31(const float u[3], const float v[3], float *out);
void Copy3x3Mat(float dst[9], const float src[9]);
// dst = srcᵀ
void Transpose3x3Mat(const float src[9], float dst[9]);
void Zero3x3Mat(float M[9]);
float Det3x3Mat(const float M[9]);
// True when the sum of the nine |entries| (summed in double) is below 0.0001.
bool Is3x3MatZero(const float M[9]);
// True when all nine entries are exactly equal.
bool Compare3x3Mat(const float A[9], const float B[9]);
// out = M⁻¹ (adjugate over determinant) and true. When |det| is not above 0
// the Log gets "Sorry, an illegal operation occurred: singular matrix", out
// becomes the identity and the result is false.
bool Inv3x3Mat(const float M[9], float out[9]);
bool DInv3x3Mat(const double M[9], double out[9]);

// ---- n x n double matrices --------------------------------------------------------
// An n x n matrix is an array of n row pointers, each row n doubles. The
// caller owns it and frees it with `DestroySquareMatrix`.
using SquareMatrix = double **;

// A new matrix of n zeroed rows; nullptr when n < 1 or memory runs out.
SquareMatrix CreateSquareMatrix(int n);
// Frees the n rows and the row array; nullptr is ignored.
void DestroySquareMatrix(SquareMatrix m, int n);
// C = A·B (C may be A or B); false when C or one of its rows is missing.
bool GetProductOfSquareMatrices(const double *const *A, const double *const *B, SquareMatrix C, int n);
// y = A x; false when y is missing; true for n below 1.
bool GetProductOfMatrixAndVector(const double *const *A, const double *x, double *y, int n);
// Transposes in place (nothing for n below 2).
void TransposeMatrix(SquareMatrix m, int n);
// Closed forms for n = 1 to 4; otherwise expansion along the first row, each
// minor computed recursively. 0 for n below 1.
double MatrixDeterminant(const double *const *m, int n);
// C[r][c] = (−1)^(r+c) · det of A without row r and column c (for n = 1 the
// empty minor has determinant 1). False when C is missing or n < 1.
bool GetCofactorMatrix(const double *const *A, int n, SquareMatrix C);
// out = A⁻¹ as the transposed cofactor matrix over the determinant; false
// when the determinant is exactly 0. `out` must not be A. Its cost grows factorially with n: it
// serves small matrices.
bool InvertMatrix(const double *const *A, int n, SquareMatrix out);
// Solves A x = b by Gaussian elimination with partial pivoting on a working
// copy; false (with a line on standard error) when a pivot or a diagonal
// entry falls below 0.0001 in magnitude.
bool SimultaneousLinearEquationSolver(const double *const *A, const double *b, double *x, int n);

// ---- Crystallographic constructions --------------------------------------------------
// G of the cell; angles in degrees.
void GetMetricTensor(float a, float b, float c, float alpha, float beta, float gamma, float G[9]);
// The inverse of `GetMetricTensor`. False (outputs untouched) when a diagonal
// entry is not above 0 or a cosine falls outside [−1, 1].
bool GetCellParametersFromMetricTensor(const float G[9], float *a, float *b, float *c, float *alpha, float *beta,
                                       float *gamma);
// The fractional-to-Cartesian matrix M (Cartesian = M · fractional):
// Cartesian z along c, the b axis in the y-z plane.
void DGetDirectToOrthoMatrix(double a, double b, double c, double alpha, double beta, double gamma, double M[9]);
void GetDirectToOrthoMatrix(float a, float b, float c, float alpha, float beta, float gamma, float M[9]);
// The reciprocal-basis matrix for lengths p, q, r and the direct angles; with
// the reciprocal lengths it is a diffractometer's B matrix (a* along x).
void GetRecipToOrthoMatrix(float p, float q, float r, float alpha, float beta, float gamma, float M[9]);
// Rz(zAngle)·Ry(yAngle)·Rx(xAngle), angles in degrees.
void GetRotationMatrixFromAngles(float xAngle, float yAngle, float zAngle, float M[9]);
// v = v / sqrt(v·Gv) in place; a vector of no length is left unchanged.
void NormalizeLatticeVector(float v[3], const float G[9]);
// out = −(Gu × Gv)/sqrt(det G): the direct-basis components of v × u.
void CrossProdLatticeVectors(const float u[3], const float v[3], float out[3], const float G[9]);
// O such that view Cartesian coordinates = O · fractional coordinates, with
// the view direction pointing away from the viewer (view z towards the
// viewer). A zero view direction is taken as (0, 0, 1). True unless the axes
// matrix is singular.
bool GetOrientationMatrix(const float viewDirection[3], const float G[9], float O[9]);
// The same with the given vertical direction upright on screen; falls back to
// `GetOrientationMatrix` when the vertical is parallel or antiparallel to the
// view direction (or has no length).
bool GetOrientationMatrixWithVertical(const float viewDirection[3], const float vertical[3], const float G[9],
                                      float O[9]);
// Jacobi diagonalisation of the symmetric tensor T (its upper triangle is
// read). Eigenvalues unsorted; eigenvector k in column k of `eigenvectors`.
// False when 50 sweeps did not clear the off-diagonal entries (the values
// reached stand).
bool DiagonalizeTensor(const float T[9], float eigenvalues[3], float eigenvectors[9]);
// The cyclic Jacobi rotation loop on the working matrix `a` (its upper
// off-diagonal entries are destroyed). Fills the eigenvalues d and the
// eigenvector matrix v, counts the rotations in *rotations (when given).
// True when the off-diagonal sum reached exactly 0 within 50 sweeps.
bool Float_Jacobian(float a[9], float d[3], float v[9], int *rotations);
