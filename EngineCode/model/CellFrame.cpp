#include "CellFrame.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kRadiansPerDegree = M_PI / 180.0;

double Dot(const double *u, const double *v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; }

double AngleBetween(const double *u, const double *v) {
  const double c = Dot(u, v) / std::sqrt(Dot(u, u) * Dot(v, v));
  return std::acos(std::clamp(c, -1.0, 1.0)) / kRadiansPerDegree;
}

} // namespace

void StandardCellVectors(double a, double b, double c, double alpha, double beta, double gamma, double rows[3][3]) {
  const double ca = std::cos(alpha * kRadiansPerDegree), cb = std::cos(beta * kRadiansPerDegree),
               cg = std::cos(gamma * kRadiansPerDegree), sg = std::sin(gamma * kRadiansPerDegree);
  const double v = CellVolumeFactor(alpha, beta, gamma);
  const double r[3][3] = {{a, 0.0, 0.0}, {b * cg, b * sg, 0.0}, {c * cb, c * (ca - cb * cg) / sg, c * v / sg}};
  std::copy(&r[0][0], &r[0][0] + 9, &rows[0][0]);
}

CellFrame StandardCellFrame(const double cell[6]) {
  CellFrame frame;
  StandardCellVectors(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5], frame.axes);
  CellFrameOfRows(frame.axes, frame);
  return frame;
}

bool CellFrameOfMatrix(const float m[9], CellFrame &frame) {
  double rows[3][3];
  for (int k = 0; k < 3; k++)
    for (int i = 0; i < 3; i++)
      rows[k][i] = m[3 * i + k];
  return CellFrameOfRows(rows, frame);
}

double SignedBoxVolume(const double m[3][3]) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

bool TurnBoxRightHanded(double rows[3][3]) {
  if (!(SignedBoxVolume(rows) < 0.0))
    return false;
  for (double &x : rows[2])
    x = -x;
  return true;
}

bool CellFrameOfRows(const double rows[3][3], CellFrame &frame) {
  const double det = SignedBoxVolume(rows);
  if (!std::isfinite(det) || det == 0.0)
    return false;
  double axes[3][3];
  std::copy(&rows[0][0], &rows[0][0] + 9, &axes[0][0]);
  // x = f M for the row vector f, so f = x M^-1: reciprocal vector k is
  // column k of M^-1, the cofactors of row k's complement over det.
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) {
      const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
      frame.reciprocal[i][j] = (axes[i1][j1] * axes[i2][j2] - axes[i1][j2] * axes[i2][j1]) / det;
    }
  std::copy(&axes[0][0], &axes[0][0] + 9, &frame.axes[0][0]);
  return true;
}

void CellOfRows(const double rows[3][3], double cell[6]) {
  for (int k = 0; k < 3; k++)
    cell[k] = std::sqrt(Dot(rows[k], rows[k]));
  cell[3] = AngleBetween(rows[1], rows[2]);
  cell[4] = AngleBetween(rows[0], rows[2]);
  cell[5] = AngleBetween(rows[0], rows[1]);
}

void CartesianFromFractional(const double rows[3][3], const double f[3], double x[3]) {
  double out[3];
  for (int j = 0; j < 3; j++)
    out[j] = f[0] * rows[0][j] + f[1] * rows[1][j] + f[2] * rows[2][j];
  std::copy(out, out + 3, x);
}

void FractionalFromCartesian(const CellFrame &frame, const double x[3], double f[3]) {
  double out[3];
  for (int k = 0; k < 3; k++)
    out[k] = Dot(frame.reciprocal[k], x);
  std::copy(out, out + 3, f);
}

double CellVolumeFactor(double alpha, double beta, double gamma) {
  const double ca = std::cos(alpha * kRadiansPerDegree), cb = std::cos(beta * kRadiansPerDegree),
               cg = std::cos(gamma * kRadiansPerDegree);
  return std::sqrt(std::max(0.0, 1.0 - ca * ca - cb * cb - cg * cg + 2.0 * ca * cb * cg));
}

double CellVolume(const double cell[6]) {
  return cell[0] * cell[1] * cell[2] * CellVolumeFactor(cell[3], cell[4], cell[5]);
}

void CellHeights(const double cell[6], double heights[3]) {
  // Volume over the area of each face.
  const double volume = CellVolume(cell);
  heights[0] = volume / (cell[1] * cell[2] * std::sin(cell[3] * kRadiansPerDegree));
  heights[1] = volume / (cell[0] * cell[2] * std::sin(cell[4] * kRadiansPerDegree));
  heights[2] = volume / (cell[0] * cell[1] * std::sin(cell[5] * kRadiansPerDegree));
}

double ThinnestCellHeight(const double cell[6]) {
  double heights[3];
  CellHeights(cell, heights);
  return std::min({heights[0], heights[1], heights[2]});
}

double WrapFraction(double f) {
  const double w = f - std::floor(f);
  const float stored = static_cast<float>(w);
  return stored >= 1.0f || stored < 0.0f ? 0.0 : w;
}

bool FractionalisingRows(const double rows[3][3], double S[3][3]) {
  CellFrame frame;
  if (!CellFrameOfRows(rows, frame))
    return false;
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++)
      S[i][j] = frame.reciprocal[i][j];
  return true;
}

void CrystallographicUFromCartesian(const double S[3][3], const double u[6], float tensor[9]) {
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
