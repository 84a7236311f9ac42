#include "render/SphereOverlap.h"

#include "Geometry.h"
#include "VectorMath.h"
#include "render/AtomStyles.h"
#include "render/Projection.h"

#include <algorithm>
#include <cmath>

using namespace ovgfx;

namespace {

constexpr double kPi = 3.14159265358979323846;
// Seam outlines close this far (times a's radius) beyond the arc.
constexpr double kSeamClosing = 1.1;

const SphereRecord *TypeOf(const CrystalRec &c, uint32_t atom) {
  if (atom >= UsableAtomSize(c))
    return nullptr;
  const uint32_t t = c.atoms[atom].atomType;
  return t < UsableSphereSize(c) ? &c.spheres[t] : nullptr;
}

bool Shown(const CrystalRec &c, uint32_t atom) {
  if (atom >= UsableAtomSize(c))
    return false;
  const AtomRecord &a = c.atoms[atom];
  return a.visible && a.site < UsableSiteSize(c) && c.sites[a.site].visible;
}

} // namespace

std::optional<Region> MakeSphereMaskRgn(const CrystalRec *crystal, uint32_t atom, float factor) {
  if (!crystal)
    return std::nullopt;
  const CrystalRec &c = *crystal;
  const SphereRecord *t = TypeOf(c, atom);
  if (!t)
    return std::nullopt;
  const AtomRecord &a = c.atoms[atom];
  const float f = PerspectiveFactor(c, a.cart[2]);
  const float rf = factor * t->radius * c.plotScale * f;
  if (!(rf >= float(kMinMaskRadius)))
    return std::nullopt;
  const int32_t r = int32_t(std::min(rf, 16383.0f));
  Rect square = MakeRect(a.pixel[0] - r, a.pixel[1] - r, a.pixel[0] + r + 1, a.pixel[1] + r + 1);
  if (t->style == AtomStylePhotoTranslucent || t->style == AtomStylePhotoRendered || t->style == AtomStylePhotoTwoTone)
    square = InsetRect(square, 1, 1);
  return Region::Oval(square);
}

void OverlapSphereCorrection(const CrystalRec *crystal, uint32_t ia, uint32_t ib, int32_t width, int32_t height,
                             std::optional<Region> &region, float factor) {
  if (!crystal || !region || region->IsEmpty())
    return;
  const CrystalRec &c = *crystal;
  const SphereRecord *ta = TypeOf(c, ia), *tb = TypeOf(c, ib);
  if (!ta || !tb)
    return;
  float A[3], B[3];
  std::copy_n(c.atoms[ia].cart, 3, A);
  std::copy_n(c.atoms[ib].cart, 3, B);
  double Ra = factor * ta->radius, Rb = factor * tb->radius;
  if (c.perspective) {
    Ra *= PerspectiveFactor(c, A[2]);
    Rb *= PerspectiveFactor(c, B[2]);
    float wa[3], wb[3];
    Xor2Perspective(&c, A, wa);
    Xor2Perspective(&c, B, wb);
    std::copy_n(wa, 3, A);
    std::copy_n(wb, 3, B);
  }
  const double d = std::sqrt(double(A[0] - B[0]) * (A[0] - B[0]) + double(A[1] - B[1]) * (A[1] - B[1]) +
                             double(A[2] - B[2]) * (A[2] - B[2]));
  if (d < kMinOverlapDistance || d > Ra + Rb || Ra > Rb + d)
    return;
  if (Rb > Ra + d) {
    region = Region(); // a lies inside b: hidden
    return;
  }
  const double k = (d * d + Ra * Ra - Rb * Rb) / (2.0 * d * d);
  double C[3];
  for (int i = 0; i < 3; ++i)
    C[i] = A[i] + k * (B[i] - A[i]);
  const double rho = std::sqrt(std::max(0.0, Ra * Ra - (k * d) * (k * d)));

  float thetaDeg = 0.0f, phiDeg = 0.0f;
  Bangl(A[0], A[1], A[2], B[0], B[1], B[2], B[0], B[1], B[2] + 1.0f, &thetaDeg, nullptr, nullptr, nullptr);
  if (thetaDeg > kStraightAngle)
    thetaDeg = 0.0f;
  Bangl(A[0] + 5.0f, A[1], 0.0f, A[0], A[1], 0.0f, B[0], B[1], 0.0f, &phiDeg, nullptr, nullptr, nullptr);
  if (A[1] > B[1])
    phiDeg = 360.0f - phiDeg;
  const double theta = thetaDeg * kDegToRad, phi = phiDeg * kDegToRad;
  const double sinT = std::sin(theta), cosT = std::cos(theta);

  double e = 0.0, h = 0.0, alpha = 0.0;
  bool subtract = true;
  auto arcFrom = [&](double eValue) {
    // The seam's outline cannot be computed edge-on or face-on.
    if (std::fabs(sinT) < kDegenerateSeam || std::fabs(cosT) < kDegenerateSeam || !(rho > 0.0))
      return false;
    e = eValue;
    const double q = e / (rho * cosT);
    h = rho * std::sqrt(std::max(0.0, 1.0 - q * q));
    alpha = std::acos(std::clamp(h / rho, -1.0, 1.0));
    if (e < 0.0)
      alpha = -alpha;
    return true;
  };
  if (C[2] > A[2] && C[2] - std::fabs(rho * sinT) > A[2]) {
    e = -std::fabs(rho * cosT);
    h = 0.0;
    alpha = -kPi / 2.0;
    subtract = false;
  } else if (C[2] > A[2]) {
    if (!arcFrom(k * (1.0 / sinT - 1.0) * d))
      return;
  } else {
    if (cosT > rho / Ra)
      return;
    if (!arcFrom(std::fabs(k * (1.0 / sinT - 1.0) * d)))
      return;
  }

  const double arc = kPi - 2.0 * alpha;
  const int n = std::min(kMaxSeamPoints, 2 * int(Ra * arc * c.plotScale / 4.0));
  if (n < kMinSeamPoints)
    return;
  const double bx = std::cos(phi), by = std::sin(phi), nx = -std::sin(phi), ny = std::cos(phi);
  Polygon outline;
  auto add = [&](double u, double w) {
    const float p[3] = {float(C[0] + u * bx + w * nx), float(C[1] + u * by + w * ny), 0.0f};
    int16_t px[2];
    Xor2XpixFlat(&c, p, px, width, height); // the points are warped already
    outline.Add(px[0], px[1]);
  };
  // The seam ellipse, its first point (e, h) and its last (e, -h).
  for (int i = 0; i < n; ++i) {
    const double beta = alpha + i * arc / (n - 1);
    add(rho * std::fabs(cosT) * std::sin(beta), rho * std::cos(beta));
  }
  if (subtract) {
    const double reach = h + kSeamClosing * Ra;
    const double L = e + 2.0 * Ra + 2.0 * Rb;
    add(e, -reach);
    add(L, -reach);
    add(L, reach);
    add(e, reach);
    region = region->Subtracted(Region::FromPolygon(outline));
  } else {
    region = region->Intersected(Region::FromPolygon(outline));
  }
}

void DoOverlapSphereCorrection(const CrystalRec *crystal, uint32_t atom, std::optional<Region> &region, float factor,
                               int32_t width, int32_t height) {
  region.reset();
  if (!crystal || atom >= UsableAtomSize(*crystal))
    return;
  const std::vector<uint32_t> below = GetBondsBelow(crystal, atom);
  if (!below.empty()) {
    region = MakeSphereMaskRgn(crystal, atom, factor);
    if (!region)
      return;
    for (uint32_t b : below) {
      OverlapSphereCorrection(crystal, atom, b, width, height, region, factor);
      for (uint32_t cIdx : GetBondsBelowBelow(crystal, atom, b))
        OverlapSphereCorrection(crystal, atom, cIdx, width, height, region, factor);
    }
  }
  if (region && !region->IsEmpty())
    for (uint32_t b : GetBondsAbove(crystal, atom))
      for (uint32_t cIdx : GetBondsBelowBelow(crystal, atom, b))
        OverlapSphereCorrection(crystal, atom, cIdx, width, height, region, factor);
}

namespace {

// The atoms of the depth-sort index in cubic cells at least as wide as the
// largest reach between two spheres, so that the atoms a cloud is corrected
// against lie in the 27 cells around it. Made for one index (one plot) and
// one radius factor.
struct CloudGrid {
  const CrystalRec *crystal = nullptr;
  const AtomRecord *atoms = nullptr;
  const SortIndexEntry *data = nullptr;
  size_t count = 0;
  uint64_t generation = 0;
  float factor = 0.0f;
  float cell = 0.0f;
  // (cell key, index position), sorted.
  std::vector<std::pair<uint64_t, uint32_t>> entries;
};
CloudGrid gCloudGrid;

constexpr int kCellBits = 21;
constexpr int64_t kCellBias = int64_t(1) << (kCellBits - 1);

int64_t CellOf(float v, float cell) {
  const double k = std::floor(double(v) / cell);
  return int64_t(std::clamp(k, double(-kCellBias + 1), double(kCellBias - 2)));
}

uint64_t CellKey(int64_t x, int64_t y, int64_t z) {
  return (uint64_t(x + kCellBias) << (2 * kCellBits)) | (uint64_t(y + kCellBias) << kCellBits) |
         uint64_t(z + kCellBias);
}

const CloudGrid *GridFor(const CrystalRec &c, float factor) {
  const size_t n = UsableRecords(c.sortIndex.size(), c.sortIndexCount);
  CloudGrid &g = gCloudGrid;
  if (g.crystal == &c && g.atoms == c.atoms.data() && g.data == c.sortIndex.data() && g.count == n &&
      g.generation == SortIndexGeneration() && g.factor == factor)
    return g.cell > 0.0f ? &g : nullptr;
  g = CloudGrid{&c, c.atoms.data(), c.sortIndex.data(), n, SortIndexGeneration(), factor, 0.0f, {}};
  float largest = 0.0f;
  for (size_t t = 0; t < UsableSphereSize(c); ++t)
    largest = std::max(largest, c.spheres[t].radius);
  g.cell = 2.0f * largest * factor;
  if (!(g.cell > 0.0f) || !std::isfinite(g.cell)) {
    g.cell = 0.0f;
    return nullptr;
  }
  g.entries.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const SortIndexEntry &e = c.sortIndex[i];
    if (e.kind != kSortItemAtom || !Shown(c, e.index) || !TypeOf(c, e.index))
      continue;
    const float *p = c.atoms[e.index].cart;
    g.entries.push_back({CellKey(CellOf(p[0], g.cell), CellOf(p[1], g.cell), CellOf(p[2], g.cell)), uint32_t(i)});
  }
  std::sort(g.entries.begin(), g.entries.end());
  return &g;
}

// Corrects a's cloud against atom b when b comes close enough.
void CorrectAgainst(const CrystalRec &c, uint32_t atom, uint32_t b, float factor, int32_t width, int32_t height,
                    bool &made, std::optional<Region> &region) {
  const SphereRecord *ta = TypeOf(c, atom), *tb = TypeOf(c, b);
  if (!tb || !Shown(c, b))
    return;
  const float reach = (ta->radius + tb->radius) * factor;
  const float *A = c.atoms[atom].cart, *B = c.atoms[b].cart;
  if (!(std::fabs(A[0] - B[0]) < reach && std::fabs(A[1] - B[1]) < reach && std::fabs(A[2] - B[2]) < reach))
    return;
  if (!made) {
    region = MakeSphereMaskRgn(&c, atom, factor);
    made = true;
  }
  OverlapSphereCorrection(&c, atom, b, width, height, region, factor);
}

} // namespace

void DoFullOverlapSphereCorrection(const CrystalRec *crystal, uint32_t atom, std::optional<Region> &region,
                                   float factor, int32_t width, int32_t height) {
  region.reset();
  if (!crystal || atom >= UsableAtomSize(*crystal) || !TypeOf(*crystal, atom))
    return;
  const CrystalRec &c = *crystal;
  bool made = false;
  const size_t n = UsableRecords(c.sortIndex.size(), c.sortIndexCount);
  // Every atom from the start of the index up to a itself (the whole index
  // when a is not in it). The corrections are intersections and
  // subtractions, so their order does not change the region: only the
  // neighbours the grid finds need visiting.
  const int64_t own = SortIndexPosition(&c, atom);
  const size_t last = own >= 0 ? size_t(own) : n;
  const CloudGrid *grid = GridFor(c, factor);
  if (!grid) {
    for (size_t i = 0; i < n && i <= last; ++i)
      if (c.sortIndex[i].kind == kSortItemAtom)
        CorrectAgainst(c, atom, c.sortIndex[i].index, factor, width, height, made, region);
    return;
  }
  const float *A = c.atoms[atom].cart;
  const int64_t cx = CellOf(A[0], grid->cell), cy = CellOf(A[1], grid->cell), cz = CellOf(A[2], grid->cell);
  std::vector<uint32_t> near;
  for (int64_t dx = -1; dx <= 1; ++dx)
    for (int64_t dy = -1; dy <= 1; ++dy)
      for (int64_t dz = -1; dz <= 1; ++dz) {
        const uint64_t key = CellKey(cx + dx, cy + dy, cz + dz);
        auto it = std::lower_bound(grid->entries.begin(), grid->entries.end(), std::make_pair(key, uint32_t(0)));
        for (; it != grid->entries.end() && it->first == key; ++it)
          if (it->second <= last)
            near.push_back(it->second);
      }
  std::sort(near.begin(), near.end());
  for (uint32_t i : near)
    CorrectAgainst(c, atom, c.sortIndex[i].index, factor, width, height, made, region);
}

bool BondOverlapsAtom(const CrystalRec *crystal, uint32_t a, uint32_t b, float r1, float r2) {
  if (!crystal || a >= UsableAtomSize(*crystal) || b >= UsableAtomSize(*crystal) || r2 == 0.0f)
    return false;
  const CrystalRec &c = *crystal;
  float A[3], B[3];
  std::copy_n(c.atoms[a].cart, 3, A);
  std::copy_n(c.atoms[b].cart, 3, B);
  if (c.perspective) {
    Xor2Perspective(&c, c.atoms[a].cart, A);
    Xor2Perspective(&c, c.atoms[b].cart, B);
  }
  float angle = 0.0f;
  Bangl(A[0], A[1], A[2], B[0], B[1], B[2], B[0], B[1], B[2] + 1.0f, &angle, nullptr, nullptr, nullptr);
  return std::cos(angle * kDegToRad) > r1 / r2;
}
