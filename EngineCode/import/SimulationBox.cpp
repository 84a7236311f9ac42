#include "import/SimulationBox.h"

#include "import/ImportSymmetry.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include <algorithm>
#include <cmath>

namespace {

double Dot(const double *u, const double *v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; }

double AngleBetween(const double *u, const double *v) {
  const double c = Dot(u, v) / std::sqrt(Dot(u, u) * Dot(v, v));
  return std::acos(std::clamp(c, -1.0, 1.0)) * 180.0 / M_PI;
}

// x - floor(x), kept below 1 once it is stored in single precision.
double Wrap(double x) {
  const double w = x - std::floor(x);
  const float f = static_cast<float>(w);
  return f >= 1.0f || f < 0.0f ? 0.0 : w;
}

} // namespace

bool SetImportBox(ImportedStructure &s, SimulationBox &box, ImportError &error, int line) {
  const double(&m)[3][3] = box.vectors;
  const double len[3] = {std::sqrt(Dot(m[0], m[0])), std::sqrt(Dot(m[1], m[1])), std::sqrt(Dot(m[2], m[2]))};
  // Rows a, b, c: the determinant is the box's (signed) volume.
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  if (!std::isfinite(det) || !(len[0] > 0.0 && len[1] > 0.0 && len[2] > 0.0) ||
      !(std::fabs(det) > kMinBoxVolumeFactor * len[0] * len[1] * len[2])) {
    error = {line, "the box has no volume"};
    return false;
  }
  for (int k = 0; k < 3; k++) {
    const double *u = m[(k + 1) % 3], *w = m[(k + 2) % 3];
    const double face = std::hypot(u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]);
    if (std::fabs(det) / face < kMinBoxThickness) {
      error = {line, "the box is thinner than " + std::to_string(static_cast<int>(kMinBoxThickness)) +
                         " A between two of its faces"};
      return false;
    }
  }
  // Fractional = r M^-1 for r a row vector and M the rows a, b, c; the
  // inverse is kept transposed so that fractional k = inverse[k] . r.
  double inv[3][3];
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) {
      const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
      inv[j][i] = (m[i1][j1] * m[i2][j2] - m[i1][j2] * m[i2][j1]) / det; // cofactor transpose
    }
  for (int k = 0; k < 3; k++)
    for (int j = 0; j < 3; j++)
      box.inverse[k][j] = inv[j][k];
  const double cell[6] = {len[0], len[1], len[2], AngleBetween(m[1], m[2]), AngleBetween(m[0], m[2]),
                          AngleBetween(m[0], m[1])};
  if (!SetImportCell(s, error, line, cell))
    return false;
  s.crystal.cardCount = 0;
  if (!SetSymmetryFromSymbol(s, "P 1", 0, line)) {
    error = {line, "the box could not be given the symmetry P 1"};
    return false;
  }
  return true;
}

AsymmetricUnitRecord *AppendBoxAtom(ImportResult &result, ImportedStructure &s, const SimulationBox &box,
                                    std::string_view label, ElementCode element, const double cart[3], int line) {
  const double r[3] = {cart[0] - box.origin[0], cart[1] - box.origin[1], cart[2] - box.origin[2]};
  double xyz[3];
  for (int k = 0; k < 3; k++) {
    xyz[k] = Dot(box.inverse[k], r);
    if (!std::isfinite(xyz[k])) {
      result.error = {line, "the atom lies too far from the box"};
      return nullptr;
    }
    xyz[k] = Wrap(xyz[k]);
  }
  return AppendImportSite(result, s, label, element, xyz, line);
}

std::optional<long> ImportWholeNumber(std::string_view token) { return ParseIntegerToken(token); }
