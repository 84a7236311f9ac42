#include "Geometry.h"

#include "ElementWeights.h"
#include "HostServices.h"
#include "VectorMath.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr char kZeroLengthVectorMessage[] = "Zero-length vector detected!";

double ClampCosine(double c) { return std::clamp(c, -1.0, 1.0); }

// acos of a clamped cosine, in degrees.
double AcosDegrees(double c) { return std::acos(ClampCosine(c)) * kRadToDeg; }

const AtomRecord *AtomAt(const CrystalRec *crystal, int32_t i) {
  if (!crystal || i < 0 || static_cast<size_t>(i) >= UsableAtomSize(*crystal))
    return nullptr;
  return &crystal->atoms[static_cast<size_t>(i)];
}

const AsymmetricUnitRecord *SiteAt(const CrystalRec *crystal, int32_t i) {
  if (!crystal || i < 0 || static_cast<size_t>(i) >= UsableSiteSize(*crystal))
    return nullptr;
  return &crystal->sites[static_cast<size_t>(i)];
}

// The cell in double precision with its cosines and sines.
struct CellTrig {
  double a, b, c;
  double cosAlpha, cosBeta, cosGamma;
  double sinAlpha, sinBeta, sinGamma;
};

// False for a cell that no calculation can use: a length not above 0, an
// angle outside (0, 180) degrees, anything not finite, or a metric tensor
// without a positive determinant (the angles cannot close).
bool GetCellTrig(const CrystalRec &cr, CellTrig *t) {
  const double lengths[3] = {cr.a, cr.b, cr.c};
  const double angles[3] = {cr.alpha, cr.beta, cr.gamma};
  for (double v : lengths)
    if (!(v > 0.0) || !std::isfinite(v))
      return false;
  for (double v : angles)
    if (!(v > 0.0 && v < 180.0))
      return false;
  t->a = lengths[0];
  t->b = lengths[1];
  t->c = lengths[2];
  t->cosAlpha = std::cos(angles[0] * kDegToRad);
  t->cosBeta = std::cos(angles[1] * kDegToRad);
  t->cosGamma = std::cos(angles[2] * kDegToRad);
  t->sinAlpha = std::sin(angles[0] * kDegToRad);
  t->sinBeta = std::sin(angles[1] * kDegToRad);
  t->sinGamma = std::sin(angles[2] * kDegToRad);
  const double factor = 1.0 - t->cosAlpha * t->cosAlpha - t->cosBeta * t->cosBeta - t->cosGamma * t->cosGamma +
                        2.0 * t->cosAlpha * t->cosBeta * t->cosGamma;
  return factor > kMinCellVolumeFactor;
}

// The reciprocal cell in double precision (angles in radians).
struct Reciprocal {
  double aStar, bStar, cStar;
  double alphaStar, betaStar, gammaStar;
};

bool DRecipCell(const CrystalRec &cr, Reciprocal *r, CellTrig *trig = nullptr) {
  CellTrig t;
  if (!GetCellTrig(cr, &t))
    return false;
  r->alphaStar = std::acos(ClampCosine((t.cosBeta * t.cosGamma - t.cosAlpha) / (t.sinBeta * t.sinGamma)));
  r->betaStar = std::acos(ClampCosine((t.cosAlpha * t.cosGamma - t.cosBeta) / (t.sinAlpha * t.sinGamma)));
  r->gammaStar = std::acos(ClampCosine((t.cosAlpha * t.cosBeta - t.cosGamma) / (t.sinAlpha * t.sinBeta)));
  r->aStar = 1.0 / (t.a * std::sin(r->betaStar) * t.sinGamma);
  r->bStar = 1.0 / (t.b * std::sin(r->gammaStar) * t.sinAlpha);
  r->cStar = 1.0 / (t.c * std::sin(r->alphaStar) * t.sinBeta);
  if (trig)
    *trig = t;
  return true;
}

double DCellVolume(const CrystalRec &cr) {
  CellTrig t;
  Reciprocal r;
  if (!DRecipCell(cr, &r, &t))
    return 0.0;
  return t.a * t.b * t.sinGamma / r.cStar;
}

// Bond-angle rules shared by `DCalcBondAngle` and `Bangl`, on the three sides.
double AngleFromSides(double d1, double d2, double d3) {
  const double perimeter = d1 + d2 + d3;
  // Three coincident points (perimeter 0) count as colinear, like two.
  if (!(perimeter > 0.0) || std::fabs((d1 + d2 - d3) / perimeter) < kColinearAngleTolerance)
    return 180.0;
  const double c = d1 * d1 + d2 * d2 - d3 * d3;
  if (c > 2.0 * d1 * d2)
    return 0.0;
  return AcosDegrees(c / (2.0 * d1 * d2));
}

void DVecDiff(const float a[3], const float b[3], double out[3]) {
  for (int i = 0; i < 3; ++i)
    out[i] = double(a[i]) - double(b[i]);
}

double DNorm(const double v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

double DDot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

} // namespace

// ---- Distances ----------------------------------------------------------------

double DBondDist(const CrystalRec *crystal, int32_t i, int32_t j) {
  const AtomRecord *ai = AtomAt(crystal, i);
  const AtomRecord *aj = AtomAt(crystal, j);
  if (!ai || !aj)
    return 0.0;
  const double X = double(crystal->a) * (double(ai->xyz[0]) - double(aj->xyz[0]));
  const double Y = double(crystal->b) * (double(ai->xyz[1]) - double(aj->xyz[1]));
  const double Z = double(crystal->c) * (double(ai->xyz[2]) - double(aj->xyz[2]));
  const double cosAlpha = std::cos(crystal->alpha * kDegToRad);
  const double cosBeta = std::cos(crystal->beta * kDegToRad);
  const double cosGamma = std::cos(crystal->gamma * kDegToRad);
  const double d2 = X * X + Y * Y + Z * Z + 2.0 * X * Y * cosGamma + 2.0 * X * Z * cosBeta + 2.0 * Y * Z * cosAlpha;
  return d2 > 0.0 ? std::sqrt(d2) : 0.0;
}

float FBondDist(const CrystalRec *crystal, int32_t i, int32_t j) {
  return static_cast<float>(DBondDist(crystal, i, j));
}

double DCoordsDist(double x1, double y1, double z1, double x2, double y2, double z2) {
  const double dx = x1 - x2, dy = y1 - y2, dz = z1 - z2;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

float VecBondDist(const float p[3], const float q[3]) {
  double d[3];
  DVecDiff(p, q, d);
  return static_cast<float>(DNorm(d));
}

float DistanceToLine(const float a[3], const float b[3], const float p[3]) {
  double ab[3], ap[3], x[3];
  DVecDiff(b, a, ab);
  DVecDiff(p, a, ap);
  const double length = DNorm(ab);
  if (!(length > 0.0))
    return static_cast<float>(DNorm(ap)); // no line: the distance from its one point
  DCrossProduct(ab, ap, x);
  return static_cast<float>(DNorm(x) / length);
}

float DistanceToPlane(const float q[3], const float p[3], const float n[3]) {
  double qp[3];
  DVecDiff(p, q, qp);
  const double nn[3] = {n[0], n[1], n[2]};
  return static_cast<float>(std::fabs(DDot(qp, nn)));
}

// ---- Angles --------------------------------------------------------------------

void DCalcBondAngle(const CrystalRec *crystal, int32_t i, int32_t j, int32_t k, double *angle, double *dij, double *djk,
                    double *dki) {
  double result = 0.0, d1 = 0.0, d2 = 0.0, d3 = 0.0;
  if (AtomAt(crystal, i) && AtomAt(crystal, j) && AtomAt(crystal, k)) {
    d1 = DBondDist(crystal, i, j);
    d2 = DBondDist(crystal, j, k);
    d3 = DBondDist(crystal, k, i);
    result = AngleFromSides(d1, d2, d3);
  }
  if (angle)
    *angle = result;
  if (dij)
    *dij = d1;
  if (djk)
    *djk = d2;
  if (dki)
    *dki = d3;
}

void Bangl(float x1, float y1, float z1, float x2, float y2, float z2, float x3, float y3, float z3, float *angle,
           float *d12, float *d23, float *d31) {
  const double d1 = DCoordsDist(x1, y1, z1, x2, y2, z2);
  const double d2 = DCoordsDist(x2, y2, z2, x3, y3, z3);
  const double d3 = DCoordsDist(x3, y3, z3, x1, y1, z1);
  if (angle)
    *angle = static_cast<float>(AngleFromSides(d1, d2, d3));
  if (d12)
    *d12 = static_cast<float>(d1);
  if (d23)
    *d23 = static_cast<float>(d2);
  if (d31)
    *d31 = static_cast<float>(d3);
}

float IncludedAngle(const CrystalRec *crystal, const float u[3], const float v[3]) {
  if (!crystal)
    return kIncludedAngleFailed;
  const float *O = crystal->orientationMatrix;
  double cu[3], cv[3];
  for (int r = 0; r < 3; ++r) {
    cu[r] = double(O[3 * r]) * u[0] + double(O[3 * r + 1]) * u[1] + double(O[3 * r + 2]) * u[2];
    cv[r] = double(O[3 * r]) * v[0] + double(O[3 * r + 1]) * v[1] + double(O[3 * r + 2]) * v[2];
  }
  const double lu = DNorm(cu), lv = DNorm(cv);
  if (!(lu > 0.0) || !(lv > 0.0))
    return kIncludedAngleFailed;
  const double cosine = DDot(cu, cv) / (lu * lv);
  if (cosine >= 1.0)
    return 0.0f;
  if (cosine <= -1.0)
    return 180.0f; // antiparallel: clamped, not NaN
  return static_cast<float>(AcosDegrees(cosine));
}

float GetVectorBearing(const float p1[2], const float p2[2]) {
  const double dx = double(p2[0]) - double(p1[0]);
  const double dy = double(p2[1]) - double(p1[1]);
  double bearing;
  if (dx == 0.0) {
    bearing = dy > 0.0 ? 0.5 * kPi : 1.5 * kPi;
  } else if (dy == 0.0) {
    bearing = dx > 0.0 ? 0.0 : kPi;
  } else {
    const double t = std::atan(std::fabs(dy) / std::fabs(dx));
    if (dx > 0.0 && dy > 0.0)
      bearing = t;
    else if (dx < 0.0 && dy > 0.0)
      bearing = kPi - t;
    else if (dx < 0.0)
      bearing = kPi + t;
    else
      bearing = 2.0 * kPi - t;
  }
  const float result = static_cast<float>(bearing);
  // 2 pi - t for a tiny t rounds up to 2 pi in single precision: that is 0.
  return result >= static_cast<float>(2.0 * kPi) ? 0.0f : result;
}

// ---- Plane normals and colinearity ------------------------------------------------

void CalcPlaneNormal(const float p0[3], const float p1[3], const float p2[3], float n[3]) {
  float u[3], v[3], x[3];
  VecDiff(p0, p1, u);
  VecDiff(p2, p1, v);
  CrossProduct(u, v, x);
  GetUnitVector(x, n); // zero when the squared length is not positive
}

void CalcPlaneNormalUp(const float p0[3], const float p1[3], const float p2[3], float n[3]) {
  CalcPlaneNormal(p0, p1, p2, n);
  // The angle with +z exceeds 90 degrees exactly when z < 0.
  if (n[2] < 0.0f)
    VecNegate(n);
}

void RCalcPlaneNormalUp(const float p0[3], const float p1[3], const float p2[3], float n[3]) {
  float u[3], v[3];
  VecDiff(p0, p1, u);
  VecDiff(p2, p1, v);
  ZeroVector(n);
  const double uu = double(u[0]) * u[0] + double(u[1]) * u[1] + double(u[2]) * u[2];
  const double vv = double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2];
  if (!(uu > 0.0) || !(vv > 0.0))
    return;
  const double du[3] = {u[0], u[1], u[2]}, dv[3] = {v[0], v[1], v[2]};
  double x[3];
  DCrossProduct(du, dv, x);
  const double xx = DDot(x, x);
  if (!(xx > 0.0))
    return;
  const double cosine = DDot(du, dv) / std::sqrt(uu * vv);
  if (!(std::fabs(cosine) < kPlaneNormalMaxCosine))
    return;
  const double length = std::sqrt(xx);
  for (int i = 0; i < 3; ++i)
    n[i] = static_cast<float>(x[i] / length);
}

bool ParallelVec(const float u[3], const float v[3]) {
  float uu[3], vv[3];
  const bool uOk = GetUnitVector(u, uu);
  const bool vOk = GetUnitVector(v, vv);
  if (!uOk || !vOk) {
    FWriteColor(kZeroLengthVectorMessage, kRGBRed);
    return true;
  }
  float s = std::fabs(uu[0] - vv[0]) + std::fabs(uu[1] - vv[1]) + std::fabs(uu[2] - vv[2]);
  if (s > kParallelTolerance)
    s = std::fabs(uu[0] + vv[0]) + std::fabs(uu[1] + vv[1]) + std::fabs(uu[2] + vv[2]);
  return s < kParallelTolerance;
}

bool PointsAreColinear(const float p0[3], const float p1[3], const float p2[3]) {
  float u[3], v[3];
  VecDiff(p1, p0, u);
  VecDiff(p2, p1, v);
  return ParallelVec(u, v);
}

void Plane2Vector(const CrystalRec *crystal, const float hkl[3], float uvw[3]) {
  float out[3] = {0.0f, 0.0f, 0.0f};
  CellTrig t;
  if (crystal && GetCellTrig(*crystal, &t)) {
    const float h = hkl[0], k = hkl[1], l = hkl[2];
    float first[3], second[3];
    if (std::fabs(h) < kMillerIndexZero) {
      first[0] = 1.0f, first[1] = 0.0f, first[2] = 0.0f;
      second[0] = 0.0f, second[1] = -l, second[2] = k;
    } else if (std::fabs(k) < kMillerIndexZero) {
      first[0] = 0.0f, first[1] = 1.0f, first[2] = 0.0f;
      second[0] = -l, second[1] = 0.0f, second[2] = h;
    } else if (std::fabs(l) < kMillerIndexZero) {
      first[0] = 0.0f, first[1] = 0.0f, first[2] = 1.0f;
      second[0] = -k, second[1] = h, second[2] = 0.0f;
    } else {
      first[0] = -k, first[1] = h, first[2] = 0.0f;
      second[0] = -l, second[1] = 0.0f, second[2] = h;
    }
    // The metric tensor of the cell the other calculations here read; it is
    // the structure's metric tensor once the structure is built.
    float G[9];
    GetMetricTensor(crystal->a, crystal->b, crystal->c, crystal->alpha, crystal->beta, crystal->gamma, G);
    if (Det3x3Mat(G) > 0.0f) {
      CrossProdLatticeVectors(first, second, out, G);
      if (double(out[0]) * h + double(out[1]) * k + double(out[2]) * l < 0.0)
        VecNegate(out);
    }
  }
  CopyVector(uvw, out);
}

// ---- Areas and volumes ----------------------------------------------------------

float GetTriangleArea(const float p0[3], const float p1[3], const float p2[3]) {
  // The sides stay in double: rounding them to float would swamp s - a of a
  // thin triangle.
  double d[3];
  DVecDiff(p0, p1, d);
  const double a = DNorm(d);
  DVecDiff(p1, p2, d);
  const double b = DNorm(d);
  DVecDiff(p2, p0, d);
  const double c = DNorm(d);
  const double s = 0.5 * (a + b + c);
  const float product = static_cast<float>(s * (s - a) * (s - b) * (s - c));
  return product > 0.0f ? std::sqrt(product) : 0.0f;
}

float GetPolyVolume(const CrystalRec *crystal, const Polyhedron *polyhedron) {
  if (!crystal || !polyhedron)
    return 0.0f;
  const size_t atomCount = UsableAtomSize(*crystal);
  if (atomCount == 0)
    return 0.0f;
  const uint32_t faceCount = polyhedron->faceCount;
  if (faceCount < 4 || polyhedron->faces.size() < faceCount)
    return 0.0f;
  double centre[3] = {0.0, 0.0, 0.0};
  size_t entries = 0;
  for (uint32_t f = 0; f < faceCount; ++f) {
    const PolyFace &face = polyhedron->faces[f];
    if (face.vertexCount < 3 || face.vertices.size() < face.vertexCount)
      return 0.0f;
    for (uint32_t m = 0; m < face.vertexCount; ++m) {
      const uint32_t atom = face.vertices[m];
      if (atom >= atomCount)
        return 0.0f;
      for (int i = 0; i < 3; ++i)
        centre[i] += crystal->atoms[atom].cart[i];
      ++entries;
    }
  }
  for (double &x : centre)
    x /= double(entries);
  const float fCentre[3] = {static_cast<float>(centre[0]), static_cast<float>(centre[1]),
                            static_cast<float>(centre[2])};
  double volume = 0.0;
  for (uint32_t f = 0; f < faceCount; ++f) {
    const PolyFace &face = polyhedron->faces[f];
    auto vertex = [&](uint32_t m) { return crystal->atoms[face.vertices[m]].cart; };
    double area = 0.0;
    for (uint32_t m = 1; m + 1 < face.vertexCount; ++m)
      area += GetTriangleArea(vertex(0), vertex(m), vertex(m + 1));
    float normal[3];
    CalcPlaneNormal(vertex(0), vertex(1), vertex(2), normal);
    double toCentre[3];
    DVecDiff(vertex(0), fCentre, toCentre);
    const double dn[3] = {normal[0], normal[1], normal[2]};
    const double height = std::fabs(DDot(toCentre, dn));
    volume += area * height / 3.0;
  }
  return static_cast<float>(volume);
}

bool RecipCell(const CrystalRec *crystal, float *aStar, float *bStar, float *cStar, float *alphaStar, float *betaStar,
               float *gammaStar) {
  Reciprocal r{0, 0, 0, 0, 0, 0};
  const bool ok = crystal && DRecipCell(*crystal, &r);
  if (aStar)
    *aStar = static_cast<float>(r.aStar);
  if (bStar)
    *bStar = static_cast<float>(r.bStar);
  if (cStar)
    *cStar = static_cast<float>(r.cStar);
  if (alphaStar)
    *alphaStar = static_cast<float>(r.alphaStar * kRadToDeg);
  if (betaStar)
    *betaStar = static_cast<float>(r.betaStar * kRadToDeg);
  if (gammaStar)
    *gammaStar = static_cast<float>(r.gammaStar * kRadToDeg);
  return ok;
}

float GetCellVolume(const CrystalRec *crystal) { return crystal ? static_cast<float>(DCellVolume(*crystal)) : 0.0f; }

float DSpace(const CrystalRec *crystal, float h, float k, float l) {
  Reciprocal r;
  if (!crystal || !DRecipCell(*crystal, &r))
    return 0.0f;
  const double dh = h, dk = k, dl = l;
  const double s = dh * dh * r.aStar * r.aStar + dk * dk * r.bStar * r.bStar + dl * dl * r.cStar * r.cStar +
                   2.0 * dh * dk * r.aStar * r.bStar * std::cos(r.gammaStar) +
                   2.0 * dh * dl * r.aStar * r.cStar * std::cos(r.betaStar) +
                   2.0 * dk * dl * r.bStar * r.cStar * std::cos(r.alphaStar);
  if (!(s > 0.0))
    return 0.0f;
  return static_cast<float>(1.0 / std::sqrt(s));
}

// ---- Composition ---------------------------------------------------------------------

bool CalcFormulaAmounts(const CrystalRec *crystal, std::vector<FormulaAmount> &list, bool &overflow,
                        std::span<const int32_t> atomsPerCell) {
  list.clear(); // ascending element code, at most 31
  overflow = false;
  if (!crystal || UsableSiteSize(*crystal) == 0)
    return false;
  const size_t n = UsableSiteSize(*crystal);
  // A crystal's site stands for its atoms per cell. A molecule's sites keep
  // none: each stands for the molecule's atoms of that site (one each while
  // the atoms are not made yet), and the formula is the molecule's own count.
  std::vector<int32_t> moleculeAtoms;
  if (crystal->molecule) {
    const size_t atoms = UsableAtomSize(*crystal);
    moleculeAtoms.assign(n, atoms == 0 ? 1 : 0);
    for (size_t a = 0; a < atoms; ++a)
      if (crystal->atoms[a].site < n)
        ++moleculeAtoms[crystal->atoms[a].site];
  }
  // The smallest atoms per cell of the sites visited, hidden sites included;
  // sites that generate no atoms add nothing and are skipped, so the divisor
  // is never 0 while an amount is.
  uint32_t divisor = 0;
  for (size_t s = 0; s < n && !overflow; ++s) {
    const AsymmetricUnitRecord &site = crystal->sites[s];
    const int32_t count = crystal->molecule         ? moleculeAtoms[s]
                          : s < atomsPerCell.size() ? atomsPerCell[s]
                                                    : site.atomsPerCell;
    const uint32_t perCell = static_cast<uint32_t>(count);
    if (!crystal->molecule && count > 0 && (divisor == 0 || perCell < divisor))
      divisor = perCell;
    for (int slot = 0; slot < kMaxSiteElements; ++slot) {
      if (!(site.occupancies[slot] > 0.0f))
        continue;
      const ElementCode element = site.elements[slot];
      auto it = std::lower_bound(list.begin(), list.end(), element,
                                 [](const FormulaAmount &e, ElementCode code) { return e.element < code; });
      if (it == list.end() || it->element != element) {
        if (static_cast<int>(list.size()) == kMaxFormulaElements) {
          overflow = true; // the 32nd element: collecting stops at once
          break;
        }
        it = list.insert(it, FormulaAmount{element, 0.0});
      }
      it->amount += double(site.occupancies[slot]) * double(count);
    }
  }
  const double by = divisor > 0 ? double(divisor) : 1.0;
  for (FormulaAmount &e : list)
    e.amount /= by;
  return true;
}

bool GetCalcFormula(const CrystalRec *crystal, std::string *text) {
  if (text)
    text->clear();
  std::vector<FormulaAmount> list;
  bool overflow = false;
  if (!CalcFormulaAmounts(crystal, list, overflow))
    return false;
  if (text) {
    char buf[32];
    for (size_t e = 0; e < list.size(); ++e) {
      const char c0 = static_cast<char>(list[e].element >> 8);
      const char c1 = static_cast<char>(list[e].element & 0xFF);
      const double amount = list[e].amount;
      if (static_cast<unsigned char>(c1) >= 33)
        std::snprintf(buf, sizeof buf, "%c%c %.2f", c0, c1, amount);
      else
        std::snprintf(buf, sizeof buf, "%c %.2f", c0, amount);
      if (e > 0)
        text->push_back(' ');
      text->append(buf);
    }
    if (overflow)
      text->append("...");
  }
  return true;
}

bool GetDensity(const CrystalRec *crystal, float *density) {
  if (density)
    *density = 0.0f;
  if (!crystal || crystal->molecule || UsableSiteSize(*crystal) == 0)
    return false;
  double total = 0.0;
  const size_t n = UsableSiteSize(*crystal);
  for (size_t s = 0; s < n; ++s) {
    const AsymmetricUnitRecord &site = crystal->sites[s];
    double mass = 0.0;
    for (int slot = 0; slot < kMaxSiteElements; ++slot) {
      if (static_cast<int16_t>(site.elements[slot]) <= static_cast<int16_t>(kBlankElement) ||
          !(site.occupancies[slot] > 0.0f))
        continue;
      float weight = 0.0f;
      if (!LookupElementWeight(site.elements[slot], &weight))
        return false;
      mass += double(site.occupancies[slot]) * double(weight);
    }
    total += double(site.atomsPerCell) * mass;
  }
  const double volume = DCellVolume(*crystal);
  if (!(volume > 0.0))
    return false;
  if (density)
    *density = static_cast<float>(total * kAmuPerA3ToKgPerM3 / volume);
  return true;
}

// ---- Esds -----------------------------------------------------------------------------------

float GetBondDistErr(const CrystalRec *crystal, int32_t site1, int32_t site2, double dx, double dy, double dz,
                     double d) {
  if (!crystal || !crystal->esdFlag || !(d > 0.0))
    return 0.0f;
  const AsymmetricUnitRecord *s1 = SiteAt(crystal, site1);
  const AsymmetricUnitRecord *s2 = SiteAt(crystal, site2);
  if (!s1 || !s2)
    return 0.0f;
  const double a = crystal->a, b = crystal->b, c = crystal->c;
  const double alpha = crystal->alpha * kDegToRad, beta = crystal->beta * kDegToRad, gamma = crystal->gamma * kDegToRad;
  const double ca = std::cos(alpha), cb = std::cos(beta), cg = std::cos(gamma);
  const double sa = std::sin(alpha), sb = std::sin(beta), sg = std::sin(gamma);
  // Partial derivatives of d² and the esds they multiply.
  const double derivative[9] = {
      2 * a * dx * dx + 2 * b * dx * dy * cg + 2 * c * dx * dz * cb, // a
      2 * b * dy * dy + 2 * a * dx * dy * cg + 2 * c * dy * dz * ca, // b
      2 * c * dz * dz + 2 * a * dx * dz * cb + 2 * b * dy * dz * ca, // c
      -2 * b * c * dy * dz * sa,                                     // alpha
      -2 * a * c * dx * dz * sb,                                     // beta
      -2 * a * b * dx * dy * sg,                                     // gamma
      2 * a * a * dx + 2 * a * b * dy * cg + 2 * a * c * dz * cb,    // dx
      2 * b * b * dy + 2 * a * b * dx * cg + 2 * b * c * dz * ca,    // dy
      2 * c * c * dz + 2 * a * c * dx * cb + 2 * b * c * dy * ca,    // dz
  };
  double esd2[9];
  for (int i = 0; i < 3; ++i) {
    const double e = crystal->cellEsds[i];
    esd2[i] = e * e;
  }
  for (int i = 3; i < 6; ++i) {
    const double e = crystal->cellEsds[i] * kDegToRad;
    esd2[i] = e * e;
  }
  for (int i = 0; i < 3; ++i)
    esd2[6 + i] = double(s1->esd[i]) * s1->esd[i] + double(s2->esd[i]) * s2->esd[i];
  double variance = 0.0;
  for (int i = 0; i < 9; ++i)
    variance += derivative[i] * derivative[i] * esd2[i];
  if (!(variance > 0.0))
    return 0.0f;
  return static_cast<float>(std::sqrt(variance) / (2.0 * d));
}

void BondDistError(const CrystalRec *crystal, int32_t atom1, int32_t atom2, double *d, float *esd) {
  const double distance = DBondDist(crystal, atom1, atom2);
  float error = 0.0f;
  if (crystal && crystal->esdFlag) {
    const AtomRecord *p = AtomAt(crystal, atom1);
    const AtomRecord *q = AtomAt(crystal, atom2);
    if (p && q)
      error = GetBondDistErr(crystal, static_cast<int32_t>(p->site), static_cast<int32_t>(q->site),
                             double(p->xyz[0]) - double(q->xyz[0]), double(p->xyz[1]) - double(q->xyz[1]),
                             double(p->xyz[2]) - double(q->xyz[2]), distance);
  }
  if (d)
    *d = distance;
  if (esd)
    *esd = error;
}

ElementCode GetElementWithMass(float mass) {
  ElementCode found = kBlankElement;
  double best = std::numeric_limits<double>::infinity();
  for (const ElementWeight &row : gElementWeightData) {
    if (row.element == kElementWeightEnd)
      break; // the "##" row ends the table and is no element
    const double distance = std::fabs(double(row.weight) - double(mass));
    if (distance <= kElementMassWindow && distance < best) {
      best = distance;
      found = row.element;
    }
  }
  return found;
}

// ---- Cell validity -----------------------------------------------------------

bool CellIsValid(float a, float b, float c, float alpha, float beta, float gamma) {
  for (float length : {a, b, c})
    if (!std::isfinite(length) || !(length > 0.0f))
      return false;
  for (float angle : {alpha, beta, gamma})
    if (!std::isfinite(angle) || !(angle > 0.0f) || !(angle < 180.0f))
      return false;
  const double ca = std::cos(alpha * kDegToRad);
  const double cb = std::cos(beta * kDegToRad);
  const double cg = std::cos(gamma * kDegToRad);
  const double factor = 1.0 - ca * ca - cb * cb - cg * cg + 2.0 * ca * cb * cg;
  return factor > kMinCellVolumeFactor;
}

bool CellIsValid(const CrystalRec *crystal) {
  return crystal && CellIsValid(crystal->a, crystal->b, crystal->c, crystal->alpha, crystal->beta, crystal->gamma);
}
