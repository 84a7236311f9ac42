// The Cartesian frame files of other programs put a cell in: a along x, b in
// the x-y plane, c completing a right-handed set. Readers and writers of
// Cartesian formats and the length of a file's bonds share it.
#pragma once

#include <algorithm>
#include <cmath>

// Row k is cell vector k in Cartesian Angstrom; the angles in degrees.
inline void StandardCellVectors(double a, double b, double c, double alpha, double beta, double gamma,
                                double rows[3][3]) {
  const double d = M_PI / 180.0;
  const double ca = std::cos(alpha * d), cb = std::cos(beta * d), cg = std::cos(gamma * d), sg = std::sin(gamma * d);
  const double v = std::sqrt(std::max(0.0, 1.0 - ca * ca - cb * cb - cg * cg + 2.0 * ca * cb * cg));
  const double r[3][3] = {{a, 0.0, 0.0}, {b * cg, b * sg, 0.0}, {c * cb, c * (ca - cb * cg) / sg, c * v / sg}};
  std::copy(&r[0][0], &r[0][0] + 9, &rows[0][0]);
}

// The Cartesian position of fractional coordinates through those rows.
inline void CartesianFromFractional(const double rows[3][3], const double f[3], double x[3]) {
  for (int j = 0; j < 3; j++)
    x[j] = f[0] * rows[0][j] + f[1] * rows[1][j] + f[2] * rows[2][j];
}

// A fractional coordinate taken into [0, 1): an atom on a wall stands once.
inline double WrapFraction(double f) {
  const double w = f - std::floor(f);
  return w >= 1.0 ? 0.0 : w;
}

// The fractionalising matrix S of those rows (f = S x, each row of S a
// reciprocal vector). False when the rows span no volume.
inline bool FractionalisingRows(const double rows[3][3], double S[3][3]) {
  const double (*const r)[3] = rows;
  // x = R^t f, so S = (R^t)^-1: the cofactors of R over its determinant.
  const double det = r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) -
                     r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
                     r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
  if (!std::isfinite(det) || std::fabs(det) < 1e-12)
    return false;
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) {
      const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
      S[i][j] = (r[i1][j1] * r[i2][j2] - r[i1][j2] * r[i2][j1]) / det;
    }
  return true;
}

// The crystallographic Uij (on the reciprocal axes, as a site's tensor holds
// it) of a Cartesian U (11 22 33 12 13 23, A^2): S U S^t over a*_i a*_j.
inline void CrystallographicUFromCartesian(const double S[3][3], const double u[6], float tensor[9]) {
  const double U[3][3] = {{u[0], u[3], u[4]}, {u[3], u[1], u[5]}, {u[4], u[5], u[2]}};
  double len[3];
  for (int i = 0; i < 3; i++)
    len[i] = std::hypot(S[i][0], S[i][1], S[i][2]);
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) {
      double sum = 0.0;
      for (int k = 0; k < 3; k++)
        for (int l = 0; l < 3; l++)
          sum += S[i][k] * U[k][l] * S[j][l];
      tensor[3 * i + j] = static_cast<float>(sum / (len[i] * len[j]));
    }
}
