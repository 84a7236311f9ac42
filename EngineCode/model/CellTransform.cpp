#include "CellTransform.h"

#include "Alerts.h"
#include "BuildPipeline.h"
#include "FractionalPlaces.h"
#include "KeptVectors.h"
#include "LocalizedStrings.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "SpaceGroups.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "ViewOrientation.h"
#include "window/MainWindowData.h"

#include "Geometry.h"
#include "SitePreparation.h"
#include "VectorMath.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr const char *kP1Symbol = "P 1";

// True when the crystal's operators reduce to the identity alone, so there
// is no symmetry to discard.
bool HasSingleOperator(CrystalRec &c) {
  if (std::strcmp(c.spaceGroup, kP1Symbol) == 0 && c.cardCount <= 1 && c.latticeLetter == 'P')
    return true;
  if (c.latticeLetter == 'P' && c.cardCount == 1)
    return true;
  // Cards read with a structure can disagree with its symbol: count what the
  // cell would actually be generated with.
  int32_t count = 0;
  auto ops = GetCrystalGEPs(&c, &count);
  return ops && count <= 1;
}

} // namespace

bool DiscardSymmetry(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;
  // The images' sites take their site's mode as the roles left it, and an
  // edit of single atoms edits the structure whose roles they are.
  NoteStructureChange(&c, kChangeSites | kChangeAtoms | kChangeBonds | kChangeGroups);
  if (HasSingleOperator(c))
    return true;

  int32_t savedCount = 0;
  std::vector<AtomVisibilityEntry> saved = SaveAtomsVisibilityAndSelection(&c, &savedCount);
  int32_t count = 0;
  auto sites = GenCellAU(&c, &count);
  if (!sites || count < 1)
    return false;
  sites->resize(static_cast<size_t>(count));

  KeptVectors vectors(c); // every atom stays where it was
  c.sites = std::move(*sites);
  c.siteCount = count;
  c.atomsPerCell = count;
  MyStrCopy(std::span<char>(c.spaceGroup), kP1Symbol);
  c.originChoice = 0;
  c.latticeLetter = 'P';
  c.cardCount = 0;
  DestroyAtomsArray(&c);

  if (!RunNewCrystal(window, false, true, false))
    return false;
  // The atoms built take back the visibility they had: a change of the atoms.
  NoteStructureChange(&c, kChangeAtoms);
  RestoreAtomsVisibilityAndSelection(&c, saved, savedCount);
  PlotCrystal(window, 1);
  return true;
}

bool UserWouldDiscardSymmetry(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || crystal->molecule || crystal->siteCount < 1 || crystal->sites.empty())
    return false;
  if (CrystalHasP1Symmetry(*crystal))
    return true;
  return MyCFChoiceAlert(kAlertCautionAlert, OVLocalizedString("Request_Discard_Symmetry"),
                         OVLocalizedString("Request_Discard_Symmetry_2"), OVLocalizedString("Continue"),
                         OVLocalizedString("Cancel"));
}

bool UserAgreesToDiscardSymmetry(WindowRef window) {
  return UserWouldDiscardSymmetry(window) && DiscardSymmetry(window);
}

void InstallDiscardSymmetryConsent() { gDiscardSymmetryConsent = &UserAgreesToDiscardSymmetry; }

// ---- Presets and lattices ----------------------------------------------------------

const CellTransformation kCellTransformationNone = {{1, 0, 0, 0, 1, 0, 0, 0, 1}};
const CellTransformation kCellTransformationP2A = {{1, 0, 0, 0, 1, 1, 0, -1, 1}};
const CellTransformation kCellTransformationP2B = {{1, 0, 1, 0, 1, 0, -1, 0, 1}};
const CellTransformation kCellTransformationP2C = {{1, 1, 0, -1, 1, 0, 0, 0, 1}};
const CellTransformation kCellTransformationP2I = {{1, 0, 1, 1, 1, 0, 0, 1, 1}};
const CellTransformation kCellTransformationP2F = {{1, -1, 1, 1, 1, -1, -1, 1, 1}};
const CellTransformation kCellTransformationP2R = {{1, -1, 0, -1, 0, 1, -1, -1, -1}};

const CentringTest kCentringTests[kCentringTestCount] = {
    {'I', {{0.5f, 0.5f, 0.5f}}, 1},
    {'A', {{0.0f, 0.5f, 0.5f}}, 1},
    {'B', {{0.5f, 0.0f, 0.5f}}, 1},
    {'C', {{0.5f, 0.5f, 0.0f}}, 1},
    {'F', {{0.0f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.0f}, {0.5f, 0.0f, 0.5f}}, 3},
    {'R', {{2.0f / 3.0f, 1.0f / 3.0f, 1.0f / 3.0f}, {1.0f / 3.0f, 2.0f / 3.0f, 2.0f / 3.0f}}, 2},
};

namespace {

const CellTransformation *PresetForLetter(char letter) {
  switch (letter) {
  case 'A':
    return &kCellTransformationP2A;
  case 'B':
    return &kCellTransformationP2B;
  case 'C':
    return &kCellTransformationP2C;
  case 'I':
    return &kCellTransformationP2I;
  case 'F':
    return &kCellTransformationP2F;
  case 'R':
    return &kCellTransformationP2R;
  default:
    return nullptr;
  }
}

double DDet3x3(const double M[9]) {
  return M[0] * (M[4] * M[8] - M[5] * M[7]) - M[1] * (M[3] * M[8] - M[5] * M[6]) + M[2] * (M[3] * M[7] - M[4] * M[6]);
}

void ToDouble(const float in[9], double out[9]) {
  for (int i = 0; i < 9; i++)
    out[i] = in[i];
}

void DTranspose(const double in[9], double out[9]) {
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++)
      out[3 * j + i] = in[3 * i + j];
}

// The reciprocal lengths a*, b*, c* of a metric tensor: the square roots of
// the diagonal of its inverse. False for a tensor that makes no cell.
bool ReciprocalLengthsOfMetric(const double G[9], double r[3]) {
  double inverse[9];
  if (!DInv3x3Mat(G, inverse))
    return false;
  for (int i = 0; i < 3; i++) {
    if (!(inverse[4 * i] > 0.0))
      return false;
    r[i] = std::sqrt(inverse[4 * i]);
  }
  return true;
}

// The displacement tensor in new axes. A tensor of type 3 (the coefficients
// of h_i h_j) becomes A U A^t with A = (T^t)^-1. One of type 2 refers to
// axes of unit reciprocal length: it is scaled to type 3 with the old
// reciprocal lengths, transformed, and scaled back with the new ones. An
// isotropic value does not depend on the axes.
void TransformTensor(AsymmetricUnitRecord &site, const double A[9], const double oldRecip[3],
                     const double newRecip[3]) {
  if (site.displacementType != kDisplacementAnisoB && site.displacementType != kDisplacementAnisoU)
    return;
  const bool scaled = site.displacementType == kDisplacementAnisoU;
  double U[9], AU[9], At[9], out[9];
  ToDouble(site.tensor, U);
  if (scaled)
    for (int i = 0; i < 3; i++)
      for (int j = 0; j < 3; j++)
        U[3 * i + j] *= oldRecip[i] * oldRecip[j];
  DMatMul33x33(A, U, AU);
  DTranspose(A, At);
  DMatMul33x33(AU, At, out);
  if (scaled)
    for (int i = 0; i < 3; i++)
      for (int j = 0; j < 3; j++)
        out[3 * i + j] /= newRecip[i] * newRecip[j];
  for (int i = 0; i < 9; i++)
    site.tensor[i] = static_cast<float>(out[i]);
}

void LogMatrixRows(const double M[9], const char *const formats[3]) {
  for (int i = 0; i < 3; i++) {
    char line[128];
    std::snprintf(line, sizeof line, formats[i], M[3 * i], M[3 * i + 1], M[3 * i + 2]);
    FWrite(line);
  }
}

bool CrystalWithSites(WindowRef window, CrystalRec **out) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c || c->molecule || UsableSiteCount(*c) < 1)
    return false;
  *out = c;
  return true;
}

} // namespace

int LatticePointsPerCell(char letter) {
  switch (letter) {
  case 'P':
    return 1;
  case 'A':
  case 'B':
  case 'C':
  case 'I':
    return 2;
  case 'R':
    return 3;
  case 'F':
    return 4;
  default:
    return 0;
  }
}

bool GetPrimitiveLatticeTransformationMatrix(char letter, float T[9]) {
  if (letter == 'P') {
    Copy3x3Mat(T, kCellTransformationNone.m);
    return true;
  }
  const CellTransformation *preset = PresetForLetter(letter);
  if (!preset)
    return false;
  double M[9], inverse[9];
  ToDouble(preset->m, M);
  if (!DInv3x3Mat(M, inverse))
    return false;
  for (int i = 0; i < 9; i++)
    T[i] = static_cast<float>(inverse[i]);
  return true;
}

bool GetLatticeTransformationMatrix(char from, char to, float T[9]) {
  if (from == to) {
    Copy3x3Mat(T, kCellTransformationNone.m);
    return true;
  }
  float M[9];
  if (!GetPrimitiveLatticeTransformationMatrix(from, M))
    return false;
  if (to == 'P') {
    Copy3x3Mat(T, M);
    return true;
  }
  const CellTransformation *preset = PresetForLetter(to);
  if (!preset)
    return false;
  MatMul33x33(preset->m, M, T);
  return true;
}

bool VerifyLatticeTransformationMatrix(char letter, const float T[9]) {
  const int points = LatticePointsPerCell(letter);
  if (points == 0)
    return false;
  double M[9];
  ToDouble(T, M);
  const double d = DDet3x3(M);
  if (d > 1.0)
    return IsInteger(d);
  if (d > 0.0)
    return IsInteger(d * points);
  return false;
}

int CompareLatticePointsByDistance(const float p[3], const float q[3]) {
  const float a = p[0] * p[0] + p[1] * p[1] + p[2] * p[2];
  const float b = q[0] * q[0] + q[1] * q[1] + q[2] * q[2];
  if (a < b)
    return -1;
  if (a > b)
    return 1;
  return 0;
}

bool GetProjectionTransformationMatrix(char letter, int h, int k, int l, float T[9]) {
  int16_t count = 0;
  CentringVectors centring{};
  Bravais(letter, count, centring);
  const int m = std::max({std::abs(h), std::abs(k), std::abs(l)});
  if (m == 0 || m > kMaxProjectionIndex || count < 1)
    return false;
  const size_t side = static_cast<size_t>(2 * m + 1);
  struct LatticePoint {
    float p[3];
  };
  std::vector<LatticePoint> points;
  try {
    points.reserve(side * side * side * static_cast<size_t>(count));
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "malloc() failed at GetProjectionTransformationMatrix()\n");
    return false;
  }
  for (int u = -m; u <= m; u++)
    for (int v = -m; v <= m; v++)
      for (int w = -m; w <= m; w++)
        for (int t = 0; t < count; t++) {
          const auto &c = centring[static_cast<size_t>(t)];
          points.push_back(
              {{static_cast<float>(c[0] + u), static_cast<float>(c[1] + v), static_cast<float>(c[2] + w)}});
        }
  // Equal lengths keep the order of the grid, so the choice among them is
  // always the same.
  std::stable_sort(points.begin(), points.end(), [](const LatticePoint &a, const LatticePoint &b) {
    return CompareLatticePointsByDistance(a.p, b.p) < 0;
  });

  auto inPlane = [&](const float p[3]) {
    return std::fabs(static_cast<double>(h) * p[0] + static_cast<double>(k) * p[1] + static_cast<double>(l) * p[2]) <
           kInPlaneTolerance;
  };
  const float *a = nullptr;
  const float *b = nullptr;
  float unitA[3], unitB[3];
  for (size_t i = 1; i < points.size() && !b; i++) {
    const float *p = points[i].p;
    if (!inPlane(p))
      continue;
    if (!a) {
      a = p;
      GetUnitVector(a, unitA);
      continue;
    }
    float unitP[3];
    GetUnitVector(p, unitP);
    if (!ParallelVec(unitA, unitP)) {
      b = p;
      CopyVector(unitB, unitP);
    }
  }
  if (!a || !b) {
    std::fprintf(stderr, "Cannot find two non-parallel vectors in plane\n");
    return false;
  }
  float normal[3], cross[3];
  CrossProduct(unitA, unitB, cross);
  GetUnitVector(cross, normal);

  float bestVolume = kProjectionStartVolume;
  float bestDot = 0.0f;
  const float *best = nullptr;
  for (size_t i = 1; i < points.size(); i++) {
    const float *p = points[i].p;
    if (inPlane(p))
      continue;
    float unitP[3];
    GetUnitVector(p, unitP);
    const float dot = DotProduct(unitP, normal);
    if (!(dot > 0.0f))
      continue;
    const float M[9] = {a[0], a[1], a[2], b[0], b[1], b[2], p[0], p[1], p[2]};
    const float d = Det3x3Mat(M);
    if (!(d > kProjectionVolumeTolerance))
      continue;
    if (std::fabs(std::fabs(d) - bestVolume) < kProjectionVolumeTolerance) {
      if (dot > bestDot) {
        best = p;
        bestDot = dot;
        bestVolume = d;
      }
    } else if (d < bestVolume) {
      best = p;
      bestDot = dot;
      bestVolume = d;
    }
  }
  if (!best) {
    std::fprintf(stderr, "Cannot perpedicular vector\n");
    return false;
  }
  const float result[9] = {a[0], a[1], a[2], b[0], b[1], b[2], best[0], best[1], best[2]};
  Copy3x3Mat(T, result);
  return VerifyLatticeTransformationMatrix(letter, T);
}

void GetCrystalVerticalDirection(const CrystalRec &crystal, float v[3]) {
  double O[9], inverse[9];
  ToDouble(crystal.orientationMatrix, O);
  ZeroVector(v);
  if (std::fabs(DDet3x3(O)) <= 0.0 || !DInv3x3Mat(O, inverse))
    return;
  for (int i = 0; i < 3; i++)
    v[i] = static_cast<float>(inverse[3 * i + 1]);
}

// ---- Origin shift ----------------------------------------------------------------------

void MoveOrigin(WindowRef window, float dx, float dy, float dz) {
  CrystalRec *crystal = nullptr;
  if (!CrystalWithSites(window, &crystal))
    return;
  CrystalRec &c = *crystal;
  KeptVectors vectors(c);
  // Whole cells move nothing: the sites, the shift and the range move by
  // the fraction alone, and the new shift is summed in double, so that a
  // large shift keeps its fraction and the sites and the shift move alike.
  const float d[3] = {ReduceOriginShift(dx), ReduceOriginShift(dy), ReduceOriginShift(dz)};
  for (int i = 0; i < 3; i++)
    c.originShift[i] = ReduceOriginShift(static_cast<double>(c.originShift[i]) + static_cast<double>(d[i]));
  for (size_t s = 0; s < UsableSiteSize(c); s++)
    for (int i = 0; i < 3; i++)
      c.sites[s].xyz[i] = MoveIntoCell(c.sites[s].xyz[i] - d[i]);
  for (int i = 0; i < 3; i++) {
    c.plotRange[2 * i] -= d[i];
    c.plotRange[2 * i + 1] -= d[i];
  }
  const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const double shift[3] = {-static_cast<double>(d[0]), -static_cast<double>(d[1]), -static_cast<double>(d[2])};
  vectors.Move(identity, shift);
  RunNewCrystal(window, false, true, false);
}

// ---- Supercells --------------------------------------------------------------------------

std::vector<AsymmetricUnitRecord> MakeSupercellSites(const std::vector<AsymmetricUnitRecord> &sites, int32_t na,
                                                     int32_t nb, int32_t nc, bool esds) {
  std::vector<AsymmetricUnitRecord> out;
  if (na < 1 || nb < 1 || nc < 1)
    return out;
  const int32_t n[3] = {na, nb, nc};
  out.reserve(sites.size() * static_cast<size_t>(na) * static_cast<size_t>(nb) * static_cast<size_t>(nc));
  for (const AsymmetricUnitRecord &site : sites)
    for (int32_t i = 0; i < na; i++)
      for (int32_t j = 0; j < nb; j++)
        for (int32_t k = 0; k < nc; k++) {
          AsymmetricUnitRecord copy = site;
          copy.visible = 1;
          copy.firstAtom = 0;
          copy.lastAtom = 0;
          const int32_t cell[3] = {i, j, k};
          for (int m = 0; m < 3; m++) {
            copy.xyz[m] =
                site.xyz[m] / static_cast<float>(n[m]) + static_cast<float>(cell[m]) / static_cast<float>(n[m]);
            if (esds)
              copy.esd[m] = site.esd[m] / static_cast<float>(n[m]);
          }
          if (copy.displacementType == kDisplacementAnisoB)
            for (int r = 0; r < 3; r++)
              for (int s = 0; s < 3; s++)
                copy.tensor[3 * r + s] = site.tensor[3 * r + s] / static_cast<float>(n[r] * n[s]);
          out.push_back(copy);
        }
  return out;
}

bool DefineSupercell(WindowRef window, int32_t na, int32_t nb, int32_t nc) {
  CrystalRec *crystal = nullptr;
  if (!CrystalWithSites(window, &crystal) || na < 1 || nb < 1 || nc < 1)
    return false;
  if (!DiscardSymmetry(window))
    return false;
  CrystalRec &c = *crystal;
  const int64_t total = static_cast<int64_t>(UsableSiteCount(c)) * na * nb * nc;
  if (total > std::numeric_limits<int32_t>::max()) {
    MyCFStopAlert("No Memory");
    return false;
  }
  std::vector<AsymmetricUnitRecord> sites;
  try {
    std::vector<AsymmetricUnitRecord> current(c.sites.begin(), c.sites.begin() + UsableSiteCount(c));
    sites = MakeSupercellSites(current, na, nb, nc, c.esdFlag != 0);
  } catch (const std::bad_alloc &) {
    MyCFStopAlert("No Memory");
    return false;
  }
  const int32_t n[3] = {na, nb, nc};
  KeptVectors vectors(c);
  const double shrink[9] = {1.0 / na, 0, 0, 0, 1.0 / nb, 0, 0, 0, 1.0 / nc};
  const double none[3] = {0, 0, 0};
  vectors.Move(shrink, none);
  c.sites = std::move(sites);
  c.siteCount = static_cast<int32_t>(total);
  c.atomsPerCell = c.siteCount;
  DestroyAtomsArray(&c);
  c.a *= static_cast<float>(na);
  c.b *= static_cast<float>(nb);
  c.c *= static_cast<float>(nc);
  if (c.esdFlag)
    for (int m = 0; m < 3; m++)
      c.cellEsds[m] *= static_cast<float>(n[m]);
  for (int r = 0; r < 3; r++)
    for (int m = 0; m < 3; m++)
      c.orientationMatrix[3 * r + m] *= static_cast<float>(n[m]);
  for (int m = 0; m < 3; m++) {
    c.plotRange[2 * m] = 0.0f;
    c.plotRange[2 * m + 1] = 1.0f;
  }
  c.plotExtent = 0.0f;
  return RunNewCrystal(window, false, true, true);
}

// ---- General transformations -------------------------------------------------------------

std::vector<AsymmetricUnitRecord> TransformCellSites(const std::vector<AsymmetricUnitRecord> &sites, const float T[9],
                                                     int64_t expected, const float *G) {
  std::vector<AsymmetricUnitRecord> out;
  double M[9], Mt[9], MtInv[9], MInv[9];
  ToDouble(T, M);
  DTranspose(M, Mt);
  if (expected < 1 || !(DDet3x3(M) > 0.0) || !DInv3x3Mat(Mt, MtInv) || !DInv3x3Mat(M, MInv))
    return out;
  double oldRecip[3] = {1, 1, 1}, newRecip[3] = {1, 1, 1};
  if (G) {
    double oldG[9], MG[9], newG[9];
    ToDouble(G, oldG);
    DMatMul33x33(M, oldG, MG);
    DMatMul33x33(MG, Mt, newG);
    if (!ReciprocalLengthsOfMetric(oldG, oldRecip) || !ReciprocalLengthsOfMetric(newG, newRecip))
      return out;
  } else if (std::any_of(sites.begin(), sites.end(), [](const AsymmetricUnitRecord &s) {
               return s.displacementType == kDisplacementAnisoU;
             })) {
    return out;
  }

  // The box of old cells the new cell overlaps: its corners in old
  // coordinates.
  double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  for (int corner = 0; corner < 8; corner++) {
    const double q[3] = {static_cast<double>(corner & 1), static_cast<double>((corner >> 1) & 1),
                         static_cast<double>((corner >> 2) & 1)};
    double p[3];
    DMatMul(Mt, q, p);
    for (int i = 0; i < 3; i++) {
      lo[i] = std::min(lo[i], p[i]);
      hi[i] = std::max(hi[i], p[i]);
    }
  }
  int64_t from[3], to[3];
  for (int i = 0; i < 3; i++) {
    from[i] = static_cast<int64_t>(std::floor(lo[i]));
    to[i] = static_cast<int64_t>(std::ceil(hi[i]));
  }

  out.reserve(static_cast<size_t>(std::min<int64_t>(expected, int64_t{1} << 24)));
  // A new position of an element already made there (modulo 1) is the same
  // site again.
  FractionalPlaces made;
  for (const AsymmetricUnitRecord &site : sites) {
    if (static_cast<int64_t>(out.size()) >= expected)
      break;
    for (int64_t a = from[0]; a <= to[0]; a++)
      for (int64_t b = from[1]; b <= to[1]; b++)
        for (int64_t cc = from[2]; cc <= to[2]; cc++) {
          if (static_cast<int64_t>(out.size()) >= expected)
            break;
          const double p[3] = {static_cast<double>(site.xyz[0]) + static_cast<double>(a),
                               static_cast<double>(site.xyz[1]) + static_cast<double>(b),
                               static_cast<double>(site.xyz[2]) + static_cast<double>(cc)};
          double q[3];
          DMatMul(MtInv, p, q);
          bool inside = true;
          for (double x : q)
            inside = inside && x >= -kTransformInsideTolerance && x <= 1.0 + kTransformInsideTolerance;
          if (!inside)
            continue;
          if (!made.Insert(q, site.elements[0]).second)
            continue;
          AsymmetricUnitRecord copy = site;
          for (int i = 0; i < 3; i++)
            copy.xyz[i] = static_cast<float>(q[i]);
          copy.visible = 1;
          copy.firstAtom = 0;
          copy.lastAtom = 0;
          TransformTensor(copy, MtInv, oldRecip, newRecip);
          out.push_back(copy);
        }
  }
  return out;
}

char DetectLatticeType(const std::vector<AsymmetricUnitRecord> &sites) {
  const size_t n = sites.size();
  if (n < 2)
    return 'P';
  // The sites as places, numbered as the sites are; the centring's match is
  // narrower than the places' tolerance, and judged with each site found.
  static_assert(kCentringMatchTolerance <= kSamePlaceTolerance);
  FractionalPlaces grid(n);
  for (size_t i = 0; i < n; i++) {
    const double q[3] = {sites[i].xyz[0], sites[i].xyz[1], sites[i].xyz[2]};
    grid.Add(q);
  }
  // Equal modulo 1: a site just below 1 pairs with one at 0 as well as one
  // just above 1 does.
  auto matches = [](double a, double b) {
    double d = std::fabs(a - b);
    d -= std::floor(d);
    return d < kCentringMatchTolerance || 1.0 - d < kCentringMatchTolerance;
  };
  char letter = 'P';
  int bestCount = 0;
  std::vector<uint8_t> marked(n);
  for (const CentringTest &row : kCentringTests) {
    bool holds = true;
    for (int t = 0; t < row.count && holds; t++) {
      std::fill(marked.begin(), marked.end(), 0);
      for (size_t i = 0; i < n; i++) {
        const AsymmetricUnitRecord &si = sites[i];
        double target[3];
        for (int m = 0; m < 3; m++) {
          target[m] = static_cast<double>(si.xyz[m]) + static_cast<double>(row.translations[t][m]);
          if (target[m] >= 1.0)
            target[m] -= 1.0;
        }
        const size_t j = grid.FindIf(target, 0, [&](size_t k) {
          if (k == i)
            return false;
          const AsymmetricUnitRecord &sj = sites[k];
          return std::strcmp(si.label, sj.label) == 0 && SitesHaveSameOccupancy(si, sj) &&
                 matches(target[0], sj.xyz[0]) && matches(target[1], sj.xyz[1]) && matches(target[2], sj.xyz[2]);
        });
        if (j != FractionalPlaces::kNone) {
          marked[i] = 1;
          marked[j] = 1;
        }
      }
      holds = std::all_of(marked.begin(), marked.end(), [](uint8_t m) { return m != 0; });
    }
    if (holds && row.count > bestCount) {
      letter = row.letter;
      bestCount = row.count;
    }
  }
  return letter;
}

bool TransformCell(WindowRef window, const float T[9]) {
  CrystalRec *crystal = nullptr;
  if (!CrystalWithSites(window, &crystal))
    return false;
  CrystalRec &c = *crystal;
  double M[9], Mt[9], MInv[9], MtInv[9];
  ToDouble(T, M);
  DTranspose(M, Mt);
  const double det = DDet3x3(M);
  if (!(det > 0.0) || !DInv3x3Mat(M, MInv) || !DInv3x3Mat(Mt, MtInv))
    return false;
  float vertical[3];
  GetCrystalVerticalDirection(c, vertical);

  static const char *const kForward[3] = {"     [ x']     [%8.4f %8.4f %8.4f ] [ x ]",
                                          "     [ y']  =  [%8.4f %8.4f %8.4f ] [ y ]",
                                          "     [ z']     [%8.4f %8.4f %8.4f ] [ z ]"};
  static const char *const kInverse[3] = {"     [ x ]     [%8.4f %8.4f %8.4f ] [ x']",
                                          "     [ y ]  =  [%8.4f %8.4f %8.4f ] [ y']",
                                          "     [ z ]     [%8.4f %8.4f %8.4f ] [ z']"};
  FWrite("Applying matrix transformation to unit cell (basis) vectors:");
  LogMatrixRows(M, kForward);
  char line[160];
  std::snprintf(line, sizeof line, "New unit cell volume is %.2f times the old cell (%.0f atoms in new cell)", det,
                static_cast<double>(c.atomsPerCell) * det);
  FWrite(line);
  FWrite("");
  FWrite("The inverse transformation matrix (to restore original cell) is:");
  LogMatrixRows(MInv, kInverse);

  // The new cell first: a matrix that gives no cell changes nothing.
  float G[9], TG[9], Tt[9], newG[9];
  GetMetricTensor(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, G);
  MatMul33x33(T, G, TG);
  Transpose3x3Mat(T, Tt);
  MatMul33x33(TG, Tt, newG);
  float cell[6];
  if (!GetCellParametersFromMetricTensor(newG, &cell[0], &cell[1], &cell[2], &cell[3], &cell[4], &cell[5])) {
    std::fprintf(stderr, "Invalid metric tensor at TransformCell()\n");
    return false;
  }

  if (!DiscardSymmetry(window))
    return false;

  // Everything new is made before anything of the crystal changes.
  float view[3], newView[3], newVertical[3], O[9];
  CopyVector(view, c.viewDirection);
  for (int i = 0; i < 3; i++) {
    newView[i] = static_cast<float>(MtInv[3 * i] * view[0] + MtInv[3 * i + 1] * view[1] + MtInv[3 * i + 2] * view[2]);
    newVertical[i] = static_cast<float>(MtInv[3 * i] * vertical[0] + MtInv[3 * i + 1] * vertical[1] +
                                        MtInv[3 * i + 2] * vertical[2]);
  }
  if (!GetOrientationMatrixWithVertical(newView, newVertical, newG, O))
    return false;
  const double wanted = static_cast<double>(UsableSiteCount(c)) * det;
  if (wanted > std::numeric_limits<int32_t>::max()) {
    MyCFStopAlert("No Memory");
    return false;
  }
  const int64_t expected = std::llround(wanted);
  std::vector<AsymmetricUnitRecord> sites;
  try {
    std::vector<AsymmetricUnitRecord> current(c.sites.begin(), c.sites.begin() + UsableSiteCount(c));
    sites = TransformCellSites(current, T, expected, G);
  } catch (const std::bad_alloc &) {
    MyCFStopAlert("No Memory");
    return false;
  }
  if (sites.empty()) {
    std::fprintf(stderr, "No sites in the new cell at TransformCell()\n");
    return false;
  }
  if (static_cast<int64_t>(sites.size()) < expected) {
    std::snprintf(line, sizeof line, "Only %zu of the %lld sites expected were found in the new cell", sites.size(),
                  static_cast<long long>(expected));
    FWriteColor(line, kRGBRed);
  }
  char letter = 'P';
  if (expected >= 2) {
    letter = DetectLatticeType(sites);
    std::snprintf(line, sizeof line, "Detected lattice type: %c", letter);
    FWrite(line);
  }

  // Positions and directions alike: x' = (T^t)^-1 x.
  KeptVectors vectors(c);
  const double none[3] = {0, 0, 0};
  vectors.Move(MtInv, none);
  c.a = cell[0];
  c.b = cell[1];
  c.c = cell[2];
  c.alpha = cell[3];
  c.beta = cell[4];
  c.gamma = cell[5];
  Copy3x3Mat(c.metricTensor, newG);
  c.esdFlag = 0;
  CopyVector(c.viewDirection, newView);
  c.siteCount = static_cast<int32_t>(sites.size());
  c.atomsPerCell = c.siteCount;
  c.sites = std::move(sites);
  std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "%c 1", letter);
  c.latticeLetter = letter;
  c.cardCount = 0;
  c.originChoice = 0;
  DestroyAtomsArray(&c);
  SortAUByElement(&c);
  ApplyOrientationMatrix(&c, O);
  for (int m = 0; m < 3; m++) {
    c.plotRange[2 * m] = 0.0f;
    c.plotRange[2 * m + 1] = 1.0f;
  }
  c.plotScale = 0.0f;
  c.plotExtent = 0.0f;
  return RunNewCrystal(window, false, true, false);
}

bool ProjectCell(WindowRef window, int h, int k, int l) {
  CrystalRec *crystal = nullptr;
  if (!CrystalWithSites(window, &crystal))
    return false;
  const char letter = EffectiveLatticeLetter(crystal->latticeLetter, crystal->alpha, crystal->beta, crystal->gamma);
  float T[9];
  if (!GetProjectionTransformationMatrix(letter, h, k, l, T)) {
    FWrite("Error getting projection matrix");
    return false;
  }
  char line[128];
  std::snprintf(line, sizeof line,
                "Projecting lattice plane onto (%d %d %d). The new x and y axes will lie in this plane.", h, k, l);
  FWrite(line);
  return TransformCell(window, T);
}
