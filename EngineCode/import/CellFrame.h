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
