#include "export/MeshExport.h"

#include "Alerts.h"
#include "Geometry.h"
#include "PlotRange.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "VectorMath.h"
#include "render/AtomStyles.h"
#include "render/BondDrawing.h"
#include "render/EllipsoidDrawing.h"
#include "render/PolyhedronDrawing.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

namespace {

constexpr float kTwoPi = 6.28318530717958647692f;

// ---- Small vector maths on Vertex ---------------------------------------------------------

Vertex Sub(const Vertex &a, const Vertex &b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vertex Add(const Vertex &a, const Vertex &b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vertex Scale(const Vertex &a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float Dot(const Vertex &a, const Vertex &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vertex Cross(const Vertex &a, const Vertex &b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float Length(const Vertex &a) { return std::sqrt(Dot(a, a)); }
// The unit vector; zero for a vector without length.
Vertex Unit(const Vertex &a) {
  const float n = Length(a);
  return n > 0.0f && std::isfinite(n) ? Scale(a, 1.0f / n) : Vertex{};
}
Vertex FromArray(const float p[3]) { return {p[0], p[1], p[2]}; }
bool Finite(const Vertex &v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// n = (p0 - p1) x (p2 - p1), normalised: CalcPlaneNormal, operation for
// operation (each component divided by the length), kept here where the
// mesh loops can inline it.
Vertex PlaneNormal(const Vertex &p0, const Vertex &p1, const Vertex &p2) {
  const Vertex x = Cross(Sub(p0, p1), Sub(p2, p1));
  const float sum = x.x * x.x + x.y * x.y + x.z * x.z;
  if (!(sum > 0.0f))
    return {};
  const float length = std::sqrt(sum);
  return {x.x / length, x.y / length, x.z / length};
}

float Tolerance() { return kEpsilonMultiple * gMachineEpsilon; }

bool InSet(uint32_t v, std::initializer_list<uint32_t> set) {
  return std::find(set.begin(), set.end(), v) != set.end();
}

const AsymmetricUnitRecord *SiteOf(const CrystalRec &c, uint32_t atom) {
  if (atom >= UsableAtomSize(c))
    return nullptr;
  const uint32_t s = c.atoms[atom].site;
  return s < UsableSiteSize(c) ? &c.sites[s] : nullptr;
}

// The perpendicular of an axis: (0, d.z, -d.y), or (-d.z, 0, d.x) when d.y
// and d.z are both 0.
Vertex Perpendicular(const Vertex &d) {
  if (d.y == 0.0f && d.z == 0.0f)
    return {-d.z, 0.0f, d.x};
  return {0.0f, d.z, -d.y};
}

// The cosine and sine of j * 2 pi / p for j = 0 to p - 1: every atom of a
// size has rings of the same sizes. Kept for the ring sizes met, up to a
// bound on the entries kept.
const std::pair<double, double> *RingAngles(int64_t p) {
  constexpr size_t kMaxKept = size_t{1} << 20;
  static thread_local std::unordered_map<int64_t, std::vector<std::pair<double, double>>> kept;
  static thread_local size_t entries = 0;
  if (auto it = kept.find(p); it != kept.end())
    return it->second.data();
  if (entries + static_cast<size_t>(p) > kMaxKept) {
    kept.clear();
    entries = 0;
  }
  std::vector<std::pair<double, double>> &angles = kept[p];
  angles.resize(static_cast<size_t>(p));
  for (int64_t j = 0; j < p; j++) {
    const double psi = double(j) * 2.0 * std::numbers::pi / double(p);
    angles[static_cast<size_t>(j)] = {std::cos(psi), std::sin(psi)};
  }
  entries += static_cast<size_t>(p);
  return angles.data();
}

// Round half away from zero.
int64_t RoundHalfAway(double v) { return static_cast<int64_t>(v < 0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5)); }

} // namespace

// ---- Records ------------------------------------------------------------------------------

size_t VertexHash::operator()(const Vertex &v) const {
  // +0 and -0 are equal, so they must hash alike.
  auto bits = [](float f) -> uint64_t { return f == 0.0f ? 0u : std::bit_cast<uint32_t>(f); };
  uint64_t h = bits(v.x) * 0x9E3779B97F4A7C15ull;
  h ^= bits(v.y) + 0x7F4A7C159E3779B9ull + (h << 6) + (h >> 2);
  h ^= bits(v.z) * 0xC2B2AE3D27D4EB4Full + (h << 6) + (h >> 2);
  return static_cast<size_t>(h ^ (h >> 29));
}

namespace {
// The table is at most this full (as a fraction) before it doubles.
constexpr size_t kDictionaryLoadNumerator = 1, kDictionaryLoadDenominator = 2;
constexpr size_t kMinDictionarySlots = 16;
} // namespace

void VertexDictionary::reserve(size_t n) {
  size_t slots = kMinDictionarySlots;
  while (slots * kDictionaryLoadNumerator < n * kDictionaryLoadDenominator)
    slots *= 2;
  Reset(slots);
}

void VertexDictionary::Reset(size_t slots) {
  count_ = 0;
  if (slots_.size() == slots && stamp_ < UINT32_MAX) {
    stamp_++;
    return;
  }
  slots_.assign(slots, Slot{});
  stamp_ = 1;
}

const uint32_t *VertexDictionary::Find(const Vertex &v) const {
  if (slots_.empty())
    return nullptr;
  const size_t mask = slots_.size() - 1;
  const VertexEqual equal;
  for (size_t i = VertexHash{}(v) & mask;; i = (i + 1) & mask) {
    const Slot &slot = slots_[i];
    if (slot.stamp != stamp_)
      return nullptr;
    if (equal(slot.v, v))
      return &slot.index;
  }
}

std::pair<uint32_t, bool> VertexDictionary::Insert(const Vertex &v, uint32_t index) {
  if ((count_ + 1) * kDictionaryLoadDenominator > slots_.size() * kDictionaryLoadNumerator)
    Grow();
  const size_t mask = slots_.size() - 1;
  const VertexEqual equal;
  for (size_t i = VertexHash{}(v) & mask;; i = (i + 1) & mask) {
    Slot &slot = slots_[i];
    if (slot.stamp != stamp_) {
      slot = Slot{v, index, stamp_};
      count_++;
      return {index, true};
    }
    if (equal(slot.v, v))
      return {slot.index, false};
  }
}

void VertexDictionary::Grow() {
  std::vector<Slot> old;
  old.swap(slots_);
  const uint32_t oldStamp = stamp_;
  Reset(std::max(kMinDictionarySlots, old.size() * 2));
  for (const Slot &slot : old)
    if (slot.stamp == oldStamp)
      Insert(slot.v, slot.index);
}

void BondSet::Add(const BondRec &bond) {
  if (keys_.insert(Key(bond.a, bond.b)).second)
    records_.push_back(bond);
}

void BondSet::Clear() {
  records_.clear();
  keys_.clear();
}

void EdgeSet::Add(uint32_t i, uint32_t j) {
  const EdgeRec e{std::min(i, j), std::max(i, j)};
  if (keys_.insert((uint64_t{e.first} << 32) | e.second).second)
    edges_.push_back(e);
}

void EdgeSet::Clear() {
  edges_.clear();
  keys_.clear();
}

ExportStream::ExportStream(AtomicFileWriter &file) : file_(file) { buffer_.reserve(kFlushSize + 4096); }

ExportStream::~ExportStream() { Flush(); }

bool ExportStream::Flush() {
  if (!buffer_.empty()) {
    file_.Write(buffer_);
    buffer_.clear();
  }
  return file_.Good();
}

bool ExportStream::PatchAt(uint64_t offset, const void *bytes, size_t n) {
  return Flush() && file_.WriteAt(offset, bytes, n);
}

// ---- Failures ---------------------------------------------------------------------------

void CheckAllocation(const Export3DContext &ctx, const char *step) {
  if (ctx.failAllocationAt && std::strcmp(ctx.failAllocationAt, step) == 0)
    throw std::bad_alloc();
}

void AllocationFailureAlert(const char *step) {
  MyCFStopAlert(std::string("A memory allocation request failed (") + step + "); export has been cancelled.");
}

void ReleaseExportLists(Export3DContext &ctx) {
  ctx.gBonds.Clear();
  ctx.gConnections.clear();
  ctx.gPolyHosts.clear();
  ctx.gVectors.clear();
}

// ---- Visibility -------------------------------------------------------------------------

bool ShouldDrawSphere(const Export3DContext &ctx, uint32_t sphere) {
  const CrystalRec &c = *ctx.gXP;
  if (c.modelType == kThermalEllipsoidModel || sphere >= UsableSphereSize(c))
    return false;
  if (c.modelType < kBallAndStickModel || c.modelType > kStickModel || c.modelType == kWireFrameModel)
    return false;
  const SphereRecord &s = c.spheres[sphere];
  return s.drawnRadius > 0.0f && s.style != 0;
}

bool ShouldDrawEllipsoid(const Export3DContext &ctx, uint32_t atom) {
  const CrystalRec &c = *ctx.gXP;
  if (c.modelType != kThermalEllipsoidModel || !c.ellipsoidData)
    return false;
  const AsymmetricUnitRecord *site = SiteOf(c, atom);
  return site && c.atoms[atom].visible && site->visible && site->ellipsoidStyle != 0;
}

bool ShouldDrawAtom(const Export3DContext &ctx, uint32_t atom) {
  const CrystalRec &c = *ctx.gXP;
  if (c.modelType == kThermalEllipsoidModel)
    return ShouldDrawEllipsoid(ctx, atom);
  const AsymmetricUnitRecord *site = SiteOf(c, atom);
  if (!site)
    return false;
  const AtomRecord &a = c.atoms[atom];
  if (!a.visible || !ShouldDrawSphere(ctx, a.atomType))
    return false;
  switch (c.modelType) {
  case kWireFrameModel:
    return false;
  case kStickModel:
    return GetAtomConnectivity(ctx, atom) != 1;
  case kPolyhedralModel:
    if (AtomPolyhedron(ctx.gXP, a))
      return !InSet(SitePolyMode(c, a.site), {1, 3, 8, 11, 12, 13, 14, 15});
    return InSet(SitePolyMode(c, a.site), {2, 6, 7});
  default:
    return true;
  }
}

bool ShouldDrawPolyFaces(const Export3DContext &ctx, uint32_t atom, RGBColor *colour, float *opacity) {
  const CrystalRec &c = *ctx.gXP;
  const AsymmetricUnitRecord *site = SiteOf(c, atom);
  if (!site || !InSet(SitePolyMode(c, c.atoms[atom].site), {8, 9, 10, 13, 14, 15}))
    return false;
  const uint32_t type = c.atoms[atom].atomType;
  if (colour)
    *colour = type < UsableSphereSize(c) ? c.spheres[type].colour : kRGBBlack;
  if (opacity)
    *opacity = SitePolyMode(c, c.atoms[atom].site) <= 10 ? kTranslucentFaceOpacity : 1.0f;
  return true;
}

bool ShouldDrawPolyEdges(const Export3DContext &ctx, uint32_t atom, RGBColor *colour, float *opacity) {
  const CrystalRec &c = *ctx.gXP;
  const AsymmetricUnitRecord *site = SiteOf(c, atom);
  if (!site)
    return false;
  const uint32_t type = c.atoms[atom].atomType;
  const RGBColor face = type < UsableSphereSize(c) ? c.spheres[type].colour : kRGBBlack;
  RGBColor edge = face;
  float alpha = 1.0f;
  const uint32_t mode = SitePolyMode(c, c.atoms[atom].site);
  if (InSet(mode, {8, 9, 10, 15})) {
    if (c.polyEdgeMode == 1)
      return false;
    if (!GetPolyFrameColor(&c, 1.0f, face, edge, alpha) || alpha == 0.0f)
      return false;
  } else if (InSet(mode, {13, 14})) {
    const uint32_t sum = uint32_t{face.red} + face.green + face.blue;
    edge = sum < kDarkFaceChannelSum ? kRGBBlack : kRGBWhite;
  } else if (!InSet(mode, {3, 4, 5})) {
    return false;
  }
  if (colour)
    *colour = edge;
  if (opacity)
    *opacity = alpha;
  return true;
}

uint32_t GetAtomConnectivity(const Export3DContext &ctx, uint32_t atom) {
  return atom < ctx.gConnections.size() ? ctx.gConnections[atom] : 0;
}

// ---- Export lists -------------------------------------------------------------------------

bool MakePolyIndexList(Export3DContext &ctx) {
  ctx.gPolyHosts.clear();
  try {
    CheckAllocation(ctx, "MakePolyIndexList");
    const CrystalRec &c = *ctx.gXP;
    if (c.modelType != kPolyhedralModel)
      return true;
    const size_t nAtoms = UsableAtomSize(c);
    for (uint32_t a = 0; a < nAtoms; a++) {
      const AtomRecord &atom = c.atoms[a];
      const AsymmetricUnitRecord *site = SiteOf(c, a);
      if (!site || !atom.visible || !AtomPolyhedron(ctx.gXP, atom) || InSet(SitePolyMode(c, atom.site), {1, 2, 6, 7, 11, 12}))
        continue;
      bool shown = true;
      for (uint32_t p : atom.bonds) {
        const AsymmetricUnitRecord *other = SiteOf(c, p);
        if (!other || !c.atoms[p].visible || !other->visible) {
          shown = false;
          break;
        }
      }
      if (!shown || (!c.molecule && atom.bonds.size() < site->coordination))
        continue;
      ctx.gPolyHosts.push_back(a);
    }
    return true;
  } catch (const std::bad_alloc &) {
    ctx.gPolyHosts.clear();
    AllocationFailureAlert("MakePolyIndexList");
    return false;
  }
}

namespace {

// Tip and base of a vector's arrow (view Cartesian).
bool VectorEnds(const CrystalRec &c, const VectorRecord &v, Vertex *tip, Vertex *base) {
  if (v.atom >= UsableAtomSize(c))
    return false;
  const AtomRecord &a = c.atoms[v.atom];
  const float f[3] = {a.xyz[0] + v.uvw[0], a.xyz[1] + v.uvw[1], a.xyz[2] + v.uvw[2]};
  float t[3];
  MatMul(c.orientationMatrix, f, t);
  *tip = FromArray(t);
  *base = FromArray(a.cart);
  return Finite(*tip) && Finite(*base);
}

} // namespace

bool MakeVecIndexList(Export3DContext &ctx) {
  ctx.gVectors.clear();
  try {
    CheckAllocation(ctx, "MakeVecIndexList");
    const CrystalRec &c = *ctx.gXP;
    const size_t n = UsableRecords(c.vectors.size(), c.vectorCount);
    for (uint32_t v = 0; v < n; v++) {
      const uint32_t atom = c.vectors[v].atom;
      const AsymmetricUnitRecord *site = SiteOf(c, atom);
      if (!site || !c.atoms[atom].visible)
        continue;
      bool drawn;
      if (c.modelType == kPolyhedralModel)
        drawn = AtomPolyhedron(ctx.gXP, c.atoms[atom]) &&
                !InSet(SitePolyMode(c, c.atoms[atom].site), {1, 3, 8, 11, 12, 13, 14, 15});
      else if (c.modelType == kThermalEllipsoidModel)
        drawn = ShouldDrawEllipsoid(ctx, atom);
      else
        drawn = ShouldDrawSphere(ctx, c.atoms[atom].atomType);
      // An arrow without length has no direction to draw.
      Vertex tip, base;
      if (drawn && VectorEnds(c, c.vectors[v], &tip, &base) && Length(Sub(tip, base)) >= kMinAxisLength)
        ctx.gVectors.push_back(v);
    }
    return true;
  } catch (const std::bad_alloc &) {
    ctx.gVectors.clear();
    AllocationFailureAlert("MakeVecIndexList");
    return false;
  }
}

float BondCylinderRadius(const Export3DContext &ctx, bool stick, float bondRadius) {
  const CrystalRec &c = *ctx.gXP;
  if (stick && c.modelType == kStickModel)
    return c.stickRadius * c.minAtomRadius;
  return bondRadius;
}

bool MakeBondSet(Export3DContext &ctx) {
  ReleaseExportLists(ctx);
  try {
    CheckAllocation(ctx, "MakeBondSet");
    const CrystalRec &c = *ctx.gXP;
    const size_t nAtoms = UsableAtomSize(c), nSites = UsableSiteSize(c);
    ctx.gConnections.assign(nAtoms, 0);
    const int model = c.modelType;
    auto wireStyle = [](int16_t s) -> int16_t {
      if (s == 1 || s == 9 || s == 12)
        return kBondPlainLine;
      if (s == 3 || s == 10)
        return kBondTwoColourLine;
      if (s == 5 || s == 11)
        return kBondSegmentedLine;
      return s;
    };
    // A polyhedral-model bond is drawn by a polyhedron centre whose mode
    // shows its bonds.
    auto centreMode = [&](uint32_t atom, uint32_t *mode) {
      const AsymmetricUnitRecord *site = SiteOf(c, atom);
      const Polyhedron *poly = site ? AtomPolyhedron(ctx.gXP, c.atoms[atom]) : nullptr;
      if (!poly || poly->centreAtom != atom ||
          InSet(SitePolyMode(c, c.atoms[atom].site), {1, 2, 3, 4, 8, 9, 13, 14, 15}))
        return false;
      *mode = SitePolyMode(c, c.atoms[atom].site);
      return true;
    };
    for (size_t s = 0; s < nSites; s++) {
      const AsymmetricUnitRecord &site = c.sites[s];
      if (!site.visible || site.firstAtom < 0 || site.lastAtom < site.firstAtom)
        continue;
      const size_t last = std::min(static_cast<size_t>(site.lastAtom) + 1, nAtoms);
      for (size_t i = static_cast<size_t>(site.firstAtom); i < last; i++) {
        const AtomRecord &atom = c.atoms[i];
        if (!atom.visible)
          continue;
        for (uint32_t j : atom.bonds) {
          if (j >= nAtoms || !c.atoms[j].visible || j == i)
            continue;
          const uint32_t a = std::min(static_cast<uint32_t>(i), j), b = std::max(static_cast<uint32_t>(i), j);
          if (ctx.gBonds.Contains(a, b))
            continue;
          BondRec rec;
          rec.a = a;
          rec.b = b;
          int16_t style = GetBondColorSpecs(&c, a, b, rec.colour1, rec.colour2);
          if (model == kSpaceFillingModel)
            continue;
          if (model == kWireFrameModel) {
            style = wireStyle(style);
          } else if (model == kPolyhedralModel) {
            uint32_t mode = 0;
            if (!centreMode(a, &mode) && !centreMode(b, &mode))
              continue;
            if (mode == 6 || mode == 11)
              style = wireStyle(style);
          } else if (model != kBallAndStickModel && model != kStickModel && model != kThermalEllipsoidModel) {
            continue;
          }
          if (style <= 0)
            continue;
          rec.style = static_cast<uint16_t>(style);
          rec.opacity1 = 1.0f;
          rec.opacity2 = style == kBondDashedLine || style == kBondDottedLine ? 0.0f : 1.0f;
          rec.pieces = InSet(rec.style, {3, 7, 10}) ? 2 : InSet(rec.style, {5, 8, 11}) ? 8 : 1;
          rec.start = FromArray(c.atoms[a].cart);
          rec.end = FromArray(c.atoms[b].cart);
          const Vertex axis = Sub(rec.end, rec.start);
          if (model == kThermalEllipsoidModel) {
            const float d[3] = {axis.x, axis.y, axis.z};
            rec.radiusA = GetEllipsoidRadiusForAtom(&c, a, d);
            rec.radiusB = GetEllipsoidRadiusForAtom(&c, b, d);
          } else {
            const uint32_t ta = c.atoms[a].atomType, tb = c.atoms[b].atomType;
            rec.radiusA = ta < UsableSphereSize(c) ? c.spheres[ta].drawnRadius : 0.0f;
            rec.radiusB = tb < UsableSphereSize(c) ? c.spheres[tb].drawnRadius : 0.0f;
          }
          if (!std::isfinite(rec.radiusA) || rec.radiusA < 0.0f)
            rec.radiusA = 0.0f;
          if (!std::isfinite(rec.radiusB) || rec.radiusB < 0.0f)
            rec.radiusB = 0.0f;
          if (model == kWireFrameModel) {
            rec.bondRadius = kWireBondPixels / c.plotScale;
          } else {
            float r = c.bondRadius * c.minAtomRadius;
            if (rec.radiusA > 0.0f && rec.radiusA < r)
              r = rec.radiusA;
            if (rec.radiusB > 0.0f && rec.radiusB < r)
              r = rec.radiusB;
            if (InSet(rec.style, {2, 4, 6, 7, 8}))
              r /= kLineBondRadiusDivisor;
            rec.bondRadius = r;
          }
          if (rec.style == kBondDashedLine || rec.style == kBondDottedLine) {
            const float unit = rec.style == kBondDashedLine ? kDashPixels / c.plotScale : 2.0f * rec.bondRadius;
            const double n = double(Length(axis)) / double(unit);
            if (!std::isfinite(n))
              continue;
            int64_t pieces = RoundHalfAway(n);
            if (pieces % 2 != 0)
              pieces++;
            // Too short for one dash: nothing to draw.
            if (pieces <= 0 || pieces > int64_t{1} << 20)
              continue;
            rec.pieces = static_cast<uint32_t>(pieces);
          }
          // No geometry for a bond whose trimmed axis vanishes.
          Vertex Pt, Qt;
          const float r = BondCylinderRadius(ctx, true, rec.bondRadius);
          if (!(r > 0.0f) || !std::isfinite(r) ||
              !TrimmedBondEnds(ctx, rec.start, rec.end, rec.radiusA, rec.radiusB, r, &Pt, &Qt))
            continue;
          ctx.gBonds.Add(rec);
          ctx.gConnections[a]++;
          ctx.gConnections[b]++;
        }
      }
    }
    return true;
  } catch (const std::bad_alloc &) {
    ReleaseExportLists(ctx);
    AllocationFailureAlert("MakeBondSet");
    return false;
  }
}

// ---- Generators -------------------------------------------------------------------------

uint32_t RoundObjectSides(const Export3DContext &ctx, float r) {
  const float R = r * ctx.gXP->plotScale;
  if (!std::isfinite(R) || R <= 0.0f)
    return kMinSides;
  float edge = std::max(kSideEdgeShare * R, kMinSideEdge);
  if (edge > kMaxSideEdge)
    edge = kMaxSideEdge;
  const float sides = std::trunc(kTwoPi * R / edge);
  return sides > float(kMinSides) ? static_cast<uint32_t>(std::min(sides, 1.0e6f)) : kMinSides;
}

bool TrimmedBondEnds(const Export3DContext &, const Vertex &P, const Vertex &Q, float RP, float RQ, float r, Vertex *Pt,
                     Vertex *Qt) {
  const Vertex d = Sub(Q, P);
  const float len = Length(d);
  *Pt = P;
  *Qt = Q;
  if (!(len > 0.0f) || !std::isfinite(len))
    return false;
  // Into each atom as far as the cylinder's rim meets the sphere; not at
  // all once the cylinder is as wide as the atom.
  if (RP > 0.0f && r < RP)
    *Pt = Add(P, Scale(d, kBondTrimShare * RP * std::cos(std::asin(r / RP)) / len));
  if (RQ > 0.0f && r < RQ)
    *Qt = Sub(Q, Scale(d, kBondTrimShare * RQ * std::cos(std::asin(r / RQ)) / len));
  const Vertex axis = Sub(*Qt, *Pt);
  return Finite(axis) && Length(axis) >= kMinAxisLength;
}

void GenerateBondVertices(const Export3DContext &ctx, const Vertex &P, const Vertex &Q, uint32_t pieces,
                          uint32_t *sides, VertexArray &vertices, VertexArray &normals, IndexArray &indices, bool stick,
                          float startRadius, float endRadius, float bondRadius) {
  vertices.clear();
  normals.clear();
  indices.clear();
  const float r = BondCylinderRadius(ctx, stick, bondRadius);
  const uint32_t s = RoundObjectSides(ctx, r);
  *sides = s;
  Vertex Pt, Qt;
  if (pieces == 0 || !(r > 0.0f) || !TrimmedBondEnds(ctx, P, Q, startRadius, endRadius, r, &Pt, &Qt))
    return;
  const uint32_t n = pieces;
  const Vertex d = Sub(Qt, Pt);
  const Vertex u = Unit(Perpendicular(d));
  const Vertex w = Unit(Cross(d, u));
  const Vertex step = n >= 2 ? Scale(d, 1.0f / float(n)) : d;
  const uint32_t N = s * (n + 1);
  vertices.reserve(N);
  normals.reserve(s + 2);
  indices.reserve(size_t{n} * s * 6);
  float phi = 0.0f;
  const float dphi = kTwoPi / float(s);
  for (uint32_t i = 0; i < s; i++) {
    const Vertex radial = Add(Scale(u, std::cos(phi)), Scale(w, std::sin(phi)));
    Vertex p = Add(Pt, Scale(radial, r));
    vertices.push_back(p);
    for (uint32_t k = 0; k < n; k++) {
      p = Add(p, step);
      vertices.push_back(p);
    }
    normals.push_back(Unit(radial));
    phi += dphi;
  }
  for (uint32_t k = 0; k < n; k++)
    for (uint32_t i = 0; i < s; i++) {
      const uint32_t v = i * (n + 1) + k;
      indices.insert(indices.end(), {v, (v + n + 1) % N, (v + n + 2) % N, v + 1});
    }
  for (uint32_t k = 0; k < n; k++) {
    for (uint32_t i = s; i-- > 0;)
      indices.push_back(i * (n + 1) + k);
    for (uint32_t i = 0; i < s; i++)
      indices.push_back((i * (n + 1) + k + n + 2) % N);
  }
  const Vertex back = Unit(Sub(Pt, Qt));
  normals.push_back(back);
  normals.push_back(Scale(back, -1.0f));
}

bool GenerateVectorVertices(const Export3DContext &ctx, const VectorRecord &vector, VertexArray &vertices,
                            VertexArray &normals, IndexArray &indices, uint32_t *shaftSides, uint32_t *headSides) {
  vertices.clear();
  normals.clear();
  indices.clear();
  *shaftSides = *headSides = 0;
  try {
    CheckAllocation(ctx, "GenerateVectorVertices");
    const CrystalRec &c = *ctx.gXP;
    Vertex T, B;
    if (!VectorEnds(c, vector, &T, &B))
      return true;
    // Shaft radius from the atom's image, as the window draws it.
    float ra = 0.0f;
    const uint32_t type = c.atoms[vector.atom].atomType;
    if (type < UsableSphereSize(c) && c.plotScale > 0.0f)
      if (const ovgfx::PixelBuffer *image = AtomImage(c.spheres[type]))
        ra = float(image->Width() / 2) / c.plotScale;
    float shaft;
    if (ra < kBareVectorAtomRadius) {
      shaft = kBareShaftShare * c.bondRadius;
      if (shaft * c.plotScale < 1.0f)
        shaft = 1.0f / c.plotScale;
    } else {
      shaft = c.bondRadius * ra;
    }
    const float h = kHeadRadiusFactor * shaft;
    if (!(Length(Sub(T, B)) > 0.0f) || !(h > 0.0f) || !std::isfinite(h))
      return true;
    const Vertex H = Sub(T, Scale(Unit(Sub(T, B)), kHeadLengthFactor * h));
    if (vector.style == 2)
      B = Sub(Scale(B, 2.0f), H);
    GenerateBondVertices(ctx, B, H, 1, shaftSides, vertices, normals, indices, false, shaft, shaft, shaft);
    if (vertices.empty())
      return true;
    // The cone.
    const uint32_t base = static_cast<uint32_t>(vertices.size());
    const Vertex axis = Sub(T, H);
    const Vertex unitAxis = Unit(axis);
    const Vertex u = Unit(Perpendicular(axis));
    const Vertex w = Unit(Cross(axis, u));
    const uint32_t sides = RoundObjectSides(ctx, h);
    *headSides = sides;
    normals.push_back(unitAxis);
    float phi = 0.0f;
    const float dphi = kTwoPi / float(sides);
    for (uint32_t i = 0; i < sides; i++) {
      const Vertex radial = Add(Scale(u, std::cos(phi)), Scale(w, std::sin(phi)));
      vertices.push_back(Add(H, Scale(radial, h)));
      normals.push_back(Unit(radial));
      phi += dphi;
    }
    vertices.push_back(T);
    const uint32_t tip = base + sides;
    for (uint32_t i = 0; i < sides; i++)
      indices.insert(indices.end(), {base + i, base + (i + 1) % sides, tip});
    for (uint32_t i = sides; i-- > 0;)
      indices.push_back(base + i);
    normals.push_back(Scale(unitAxis, -1.0f));
    return true;
  } catch (const std::bad_alloc &) {
    AllocationFailureAlert("GenerateVectorVertices");
    return false;
  }
}

bool GenerateUnitCellVertices(Export3DContext &ctx, std::vector<VertexArray> &vertices,
                              std::vector<VertexArray> &normals, std::vector<IndexArray> &indices,
                              std::vector<uint32_t> &pieces, uint32_t *sides, float lineWidth) {
  vertices.clear();
  normals.clear();
  indices.clear();
  pieces.clear();
  *sides = 0;
  const CrystalRec &c = *ctx.gXP;
  if (!c.showUnitCell)
    return true;
  try {
    CheckAllocation(ctx, "GenerateUnitCellVertices");
    int32_t first[3] = {0, 0, 0}, count[3] = {1, 1, 1};
    if (c.unitCellOptions[0]) {
      for (int k = 0; k < 3; k++) {
        const float mid = std::trunc((c.plotRange[2 * k] + c.plotRange[2 * k + 1] + kSingleCellNudge) * 0.5f);
        first[k] = std::isfinite(mid) ? static_cast<int32_t>(std::clamp(mid, -1.0e6f, 1.0e6f)) : 0;
      }
    } else {
      CalculateNumCellsForCrystal(&c, &count[0], &count[1], &count[2]);
      for (int k = 0; k < 3; k++) {
        count[k] = std::clamp(count[k], 1, 1000);
        if (count[k] > 1) {
          if (c.plotRange[2 * k] > kCellRangeLowCut) {
            first[k] = 1;
            count[k]--;
          }
          const float hi = c.plotRange[2 * k + 1];
          if (hi - std::floor(hi) < kCellRangeHighCut && count[k] >= 2)
            count[k]--;
        }
      }
    }
    for (int k = 0; k < 3; k++) {
      ctx.gUnitCellMin[k] = float(first[k]);
      ctx.gUnitCellMax[k] = float(first[k] + count[k]);
    }
    auto toCart = [&](float fa, float fb, float fc) {
      const float f[3] = {fa, fb, fc};
      float out[3];
      MatMul(c.orientationMatrix, f, out);
      return FromArray(out);
    };
    const Vertex origin = toCart(0, 0, 0);
    const float longest = std::max({Length(Sub(toCart(1, 0, 0), origin)), Length(Sub(toCart(0, 1, 0), origin)),
                                    Length(Sub(toCart(0, 0, 1), origin))});
    uint32_t n = 1;
    if (!c.unitCellOptions[1]) {
      const float raw = std::trunc(longest / (kCellDashPixels / c.plotScale));
      int64_t p = std::isfinite(raw) ? static_cast<int64_t>(std::clamp(raw, 0.0f, 1.0e6f)) : kMaxCellPieces;
      if (p % 2 != 0)
        p++;
      n = static_cast<uint32_t>(std::clamp<int64_t>(p, kMinCellPieces, kMaxCellPieces));
    }
    const float radius = lineWidth * 0.5f / c.plotScale;
    auto edge = [&](const Vertex &P, const Vertex &Q) {
      VertexArray v, nm;
      IndexArray ix;
      uint32_t s = 0;
      GenerateBondVertices(ctx, P, Q, n, &s, v, nm, ix, false, radius, radius, radius);
      *sides = s;
      vertices.push_back(std::move(v));
      normals.push_back(std::move(nm));
      indices.push_back(std::move(ix));
      pieces.push_back(n);
    };
    // Along a for every (c, b) grid line, along b for every (c, a), along c
    // for every (b, a).
    for (int32_t k = first[2]; k <= first[2] + count[2]; k++)
      for (int32_t j = first[1]; j <= first[1] + count[1]; j++)
        for (int32_t i = first[0]; i < first[0] + count[0]; i++)
          edge(toCart(float(i), float(j), float(k)), toCart(float(i + 1), float(j), float(k)));
    for (int32_t k = first[2]; k <= first[2] + count[2]; k++)
      for (int32_t i = first[0]; i <= first[0] + count[0]; i++)
        for (int32_t j = first[1]; j < first[1] + count[1]; j++)
          edge(toCart(float(i), float(j), float(k)), toCart(float(i), float(j + 1), float(k)));
    for (int32_t j = first[1]; j <= first[1] + count[1]; j++)
      for (int32_t i = first[0]; i <= first[0] + count[0]; i++)
        for (int32_t k = first[2]; k < first[2] + count[2]; k++)
          edge(toCart(float(i), float(j), float(k)), toCart(float(i), float(j), float(k + 1)));
    return true;
  } catch (const std::bad_alloc &) {
    AllocationFailureAlert("GenerateUnitCellVertices");
    return false;
  }
}

void SphereAxisEnds(const Vertex &centre, float r, Vertex axes[3]) {
  axes[0] = {centre.x + r, centre.y, centre.z};
  axes[1] = {centre.x, centre.y + r, centre.z};
  axes[2] = {centre.x, centre.y, centre.z + r};
}

void AddTriangleInfo(bool twoColour, bool eightSector, bool smooth, const Vertex &centre, const Vertex &c0,
                     const Vertex &c1, const Vertex &c2, VertexDictionary &dictionary, VertexArray &vertices,
                     VertexArray &normals, SideFlagArray &sides, IndexArray &indices) {
  const float tol = Tolerance();
  Vertex corners[3] = {c0, c1, c2};
  // That normal points against the winding: outward means the triangle
  // turns clockwise seen from outside, so it is turned round. Flat faces
  // come oriented from the caller.
  if (smooth) {
    const float d = Dot(Sub(c0, centre), PlaneNormal(c0, c1, c2));
    if (d > 0.0f && std::fabs(d) >= tol)
      std::swap(corners[0], corners[2]);
  }
  if (twoColour) {
    const Vertex g = Scale(Add(Add(corners[0], corners[1]), corners[2]), 1.0f / 3.0f);
    bool s = g.x > centre.x ? g.z < centre.z : g.z >= centre.z;
    if (eightSector && g.y < centre.y)
      s = !s;
    sides.insert(sides.end(), 3, static_cast<uint8_t>(s));
  }
  // A flat face's outward normal for its (counter-clockwise) winding; a
  // smooth surface takes each corner's own.
  const Vertex n = smooth ? Vertex{} : Unit(Cross(Sub(corners[1], corners[0]), Sub(corners[2], corners[0])));
  bool added = false;
  for (const Vertex &corner : corners) {
    Vertex normal = n;
    if (smooth) {
      const auto [found, fresh] = dictionary.Insert(corner, static_cast<uint32_t>(vertices.size()));
      if (fresh) {
        added = true;
        normal = Unit(Sub(corner, centre));
      } else if (!added &&
                 (!twoColour || (std::fabs(corner.x - centre.x) >= tol && std::fabs(corner.y - centre.y) >= tol &&
                                 std::fabs(corner.z - centre.z) >= tol))) {
        indices.push_back(found);
        continue;
      } else if (found < vertices.size() && std::memcmp(&vertices[found], &corner, sizeof corner) == 0) {
        // The same bits as the corner met before: the same normal.
        normal = normals[found];
      } else {
        normal = Unit(Sub(corner, centre));
      }
    }
    indices.push_back(static_cast<uint32_t>(vertices.size()));
    vertices.push_back(corner);
    normals.push_back(normal);
  }
}

bool GenerateEllipsoidVertices(const Export3DContext &ctx, bool twoColour, bool eightSector, bool cutAway,
                               const Vertex axes[3], const Vertex &centre, VertexArray &vertices, VertexArray &normals,
                               SideFlagArray &sides, IndexArray &indices) {
  vertices.clear();
  normals.clear();
  sides.clear();
  indices.clear();
  try {
    CheckAllocation(ctx, "GenerateEllipsoidVertices");
    const float tol = Tolerance();
    Vertex e[3];
    for (int k = 0; k < 3; k++) {
      e[k] = Sub(axes[k], centre);
      if (e[k].z < 0.0f)
        e[k] = Scale(e[k], -1.0f);
      if (!Finite(e[k]) || !(Length(e[k]) > 0.0f))
        return true; // no body to triangulate
    }
    std::stable_sort(e, e + 3, [](const Vertex &a, const Vertex &b) { return Unit(a).z < Unit(b).z; });
    const Vertex cross = Cross(Unit(e[0]), Unit(e[1])), third = Unit(e[2]);
    if (std::fabs(cross.x - third.x) > tol || std::fabs(cross.y - third.y) > tol || std::fabs(cross.z - third.z) > tol)
      std::swap(e[0], e[1]);
    const float lx = Length(e[0]), ly = Length(e[1]), lz = Length(e[2]);
    const Vertex ux = Unit(e[0]), uy = Unit(e[1]), uz = Unit(e[2]);
    const float R = std::max({lx, ly, lz}) * ctx.gXP->plotScale;
    if (!std::isfinite(R) || !(R > 0.0f))
      return true;
    float edge = std::max(kSideEdgeShare * R + kRingEdgeExtra, kMinSideEdge);
    if (edge > kMaxSideEdge)
      edge = kMaxSideEdge;
    int64_t n = static_cast<int64_t>(std::min(std::trunc(kTwoPi * R / edge), 1.0e5f));
    n = std::max<int64_t>(4, (n + 3) / 4 * 4);
    const double dtheta = 2.0 * std::numbers::pi / double(n);

    auto map = [&](double x, double y, double z) {
      return Add(centre, Add(Add(Scale(ux, float(x)), Scale(uy, float(y))), Scale(uz, float(z))));
    };
    // Rings from the +z pole to the -z pole.
    const int64_t quarter = n / 4, half = n / 2;
    // Kept from one atom to the next, as the dictionary below.
    static thread_local std::vector<VertexArray> rings;
    if (rings.size() < static_cast<size_t>(half + 1))
      rings.resize(static_cast<size_t>(half + 1));
    for (int64_t k = 0; k <= half; k++) {
      const int64_t p = k <= quarter ? 8 * k : 8 * (half - k);
      VertexArray &ring = rings[static_cast<size_t>(k)];
      ring.clear();
      if (p == 0) {
        ring.push_back(map(0, 0, k == 0 ? lz : -lz));
        continue;
      }
      const double t = std::tan(double(k) * dtheta);
      const double s = std::sqrt(1.0 / (1.0 / (t * t * double(lz) * double(lz)) + 1.0 / (double(lx) * double(lx))));
      const double z = s / t, ys = s * double(ly) / double(lx);
      const std::pair<double, double> *turn = RingAngles(p);
      for (int64_t j = 0; j < p; j++)
        ring.push_back(map(s * turn[j].first, -ys * turn[j].second, z));
    }
    // Kept from one atom to the next: an export meshes thousands of them.
    static thread_local VertexDictionary dictionary;
    dictionary.reserve(static_cast<size_t>(2 * n * n));
    vertices.reserve(static_cast<size_t>(2 * n * n));
    normals.reserve(static_cast<size_t>(2 * n * n));
    indices.reserve(static_cast<size_t>(6 * n * n));
    // The removed octant lies towards +x, +y, +z of the frame; the cut's
    // flat faces look into it.
    const Vertex octant = Add(Add(ux, uy), uz);
    auto flat = [&](const Vertex &a, const Vertex &b, const Vertex &c) {
      const Vertex nn = Cross(Sub(b, a), Sub(c, a));
      if (Dot(nn, octant) < 0.0f)
        AddTriangleInfo(twoColour, eightSector, false, centre, c, b, a, dictionary, vertices, normals, sides, indices);
      else
        AddTriangleInfo(twoColour, eightSector, false, centre, a, b, c, dictionary, vertices, normals, sides, indices);
    };
    auto smooth = [&](const Vertex &a, const Vertex &b, const Vertex &c) {
      AddTriangleInfo(twoColour, eightSector, true, centre, a, b, c, dictionary, vertices, normals, sides, indices);
    };
    for (int64_t k = 0; k < half; k++) {
      const VertexArray &r0 = rings[static_cast<size_t>(k)], &r1 = rings[static_cast<size_t>(k + 1)];
      const VertexArray &L = r0.size() >= r1.size() ? r0 : r1;
      const VertexArray &S = r0.size() >= r1.size() ? r1 : r0;
      const size_t nL = L.size(), nS = S.size();
      // ring[i % size]; i is almost never past twice the size.
      auto at = [](const VertexArray &ring, size_t i) -> const Vertex & {
        const size_t size = ring.size();
        return ring[i < size ? i : i < 2 * size ? i - size : i % size];
      };
      const bool upper = k + 1 <= quarter;
      for (size_t sector = 0; sector < 8; sector++) {
        const size_t i = sector * nS / 8, j = sector * nL / 8;
        if (cutAway && upper && sector >= 6) {
          if (sector == 6)
            flat(at(L, j), at(S, i), centre);
          else
            flat(at(S, i + nS / 8), at(L, j + nL / 8), centre);
          if (k + 1 == quarter)
            for (size_t m = 0; m < nL / 8; m++)
              flat(at(L, j + m + 1), at(L, j + m), centre);
          continue;
        }
        const size_t firstRun = std::max<size_t>(nL / 8, 1);
        for (size_t m = 0; m < firstRun; m++)
          smooth(at(S, i + m), at(L, j + m), at(L, j + m + 1));
        for (size_t m = 0; m < nS / 8; m++)
          smooth(at(S, i + m), at(L, j + m + 1), at(S, i + m + 1));
      }
    }
    return true;
  } catch (const std::bad_alloc &) {
    AllocationFailureAlert("GenerateEllipsoidVertices");
    return false;
  }
}

void GenerateEllipsoidAttrVerts(const Export3DContext &ctx, uint32_t atom, const Vertex axes[3], const Vertex &centre,
                                VertexArray vertices[4], IndexArray indices[4], VertexArray &normals) {
  for (int k = 0; k < 4; k++) {
    vertices[k].clear();
    indices[k].clear();
  }
  normals.clear();
  const CrystalRec &c = *ctx.gXP;
  EllipsoidParts parts;
  RGBColor fill, line, surface;
  float fillFactor, second, opacity;
  if (!GetEllipsoidSpecs(&c, atom, 1.0f, parts, fill, line, surface, fillFactor, second, opacity))
    return;
  if (parts.principal) {
    float longest = 0.0f;
    for (int k = 0; k < 3; k++)
      longest = std::max(longest, Length(Sub(axes[k], centre)));
    const float halfWidth = longest / kBandWidthDivisor;
    const float ctr[3] = {centre.x, centre.y, centre.z};
    const int planes[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    for (int b = 0; b < 3; b++) {
      const Vertex A = axes[planes[b][0]], B = axes[planes[b][1]];
      const float ta[3] = {A.x, A.y, A.z}, tb[3] = {B.x, B.y, B.z};
      const std::vector<EllipsoidPoint> points = GetPrincipalEllipse(&c, ta, tb, ctr);
      const Vertex normal = Unit(Cross(Sub(A, centre), Sub(B, centre)));
      const uint32_t m = static_cast<uint32_t>(points.size());
      for (const EllipsoidPoint &q : points) {
        const Vertex p = Add(centre, Scale(Sub(Vertex{q[0], q[1], q[2]}, centre), kBandPushOut));
        vertices[b].push_back(Add(p, Scale(normal, halfWidth)));
        vertices[b].push_back(Sub(p, Scale(normal, halfWidth)));
        normals.push_back(Unit(Sub(p, centre)));
      }
      for (uint32_t i = 0; i < m; i++)
        indices[b].insert(indices[b].end(),
                          {2 * i, (2 * i + 1) % (2 * m), (2 * i + 3) % (2 * m), (2 * i + 2) % (2 * m)});
    }
  }
  if (parts.axes) {
    for (int k = 0; k < 3; k++) {
      vertices[3].push_back(axes[k]);
      vertices[3].push_back(Sub(Scale(centre, 2.0f), axes[k]));
      indices[3].push_back(2u * uint32_t(k));
      indices[3].push_back(2u * uint32_t(k) + 1u);
    }
  }
}

void GeneratePolyVertices(const Export3DContext &ctx, const AtomRecord &atom, VertexArray &vertices,
                          VertexArray &normals, IndexArray &indices) {
  vertices.clear();
  normals.clear();
  indices.clear();
  const CrystalRec &c = *ctx.gXP;
  const Polyhedron *held = AtomPolyhedron(ctx.gXP, atom);
  if (!held)
    return;
  const Polyhedron &poly = *held;
  const size_t nAtoms = UsableAtomSize(c);
  const size_t nFaces = std::min<size_t>(poly.faceCount, poly.faces.size());
  for (size_t f = 0; f < nFaces; f++)
    for (uint32_t v : poly.faces[f].vertices)
      if (v >= nAtoms)
        return;
  Vertex centroid;
  if (nFaces > 1) {
    float g[3];
    if (!GetPolyCentroid(&poly, c.atoms, g))
      return;
    centroid = FromArray(g);
  }
  VertexDictionary dictionary;
  auto indexOf = [&](uint32_t a) {
    const Vertex p = FromArray(c.atoms[a].cart);
    const auto [index, fresh] = dictionary.Insert(p, static_cast<uint32_t>(vertices.size()));
    if (fresh)
      vertices.push_back(p);
    return index;
  };
  for (size_t f = 0; f < nFaces; f++) {
    const PolyFace &face = poly.faces[f];
    const size_t count = std::min<size_t>(face.vertexCount, face.vertices.size());
    if (count < 3)
      continue;
    Vertex mean;
    for (size_t k = 0; k < count; k++)
      mean = Add(mean, FromArray(c.atoms[face.vertices[k]].cart));
    mean = Scale(mean, 1.0f / float(count));
    const Vertex v0 = FromArray(c.atoms[face.vertices[0]].cart), v1 = FromArray(c.atoms[face.vertices[1]].cart);
    Vertex normal = PlaneNormal(mean, v1, v0);
    const bool flip = nFaces > 1 ? Dot(Sub(v0, centroid), normal) < 0.0f : normal.z < 0.0f;
    std::vector<uint32_t> corners;
    for (size_t k = 0; k < count; k++)
      corners.push_back(indexOf(face.vertices[k]));
    if (flip) {
      normal = Scale(normal, -1.0f);
      std::reverse(corners.begin(), corners.end());
    }
    indices.insert(indices.end(), corners.begin(), corners.end());
    normals.push_back(normal);
    if (nFaces == 1) {
      indices.insert(indices.end(), corners.rbegin(), corners.rend());
      normals.push_back(Scale(normal, -1.0f));
    }
  }
}

void GeneratePolyEdges(const Polyhedron &polyhedron, const IndexArray &indices, EdgeSet &edges) {
  edges.Clear();
  size_t at = 0;
  const size_t nFaces = std::min<size_t>(polyhedron.faceCount, polyhedron.faces.size());
  for (size_t f = 0; f < nFaces; f++) {
    const size_t count = std::min<size_t>(polyhedron.faces[f].vertexCount, polyhedron.faces[f].vertices.size());
    if (count < 3)
      continue;
    if (at + count > indices.size())
      return;
    for (size_t k = 0; k < count; k++)
      edges.Add(indices[at + k], indices[at + (k + 1) % count]);
    at += count;
  }
}

void GetRenderingCoefficients(const Export3DContext &ctx, int kind, float *kD, float *kA, float *kS, uint16_t *N) {
  const CrystalRec &c = *ctx.gXP;
  const int row = kind == 1   ? kBondReflectance
                  : kind == 2 ? kPolyReflectance
                  : kind == 3 ? kCloudReflectance
                              : kAtomReflectance;
  *kD = c.kD[row];
  *kA = c.kA[row];
  *kS = c.kS[row];
  *N = c.phongN[row];
}

// ---- Helpers ------------------------------------------------------------------------------

void AverageSTLNormal4(const Vertex &a, const Vertex &b, const Vertex &c, const Vertex &d, Vertex *out) {
  *out = {(a.x + b.x + c.x + d.x) * 0.25f, (a.y + b.y + c.y + d.y) * 0.25f, (a.z + b.z + c.z + d.z) * 0.25f};
}

void AverageSTLNormal3(const Vertex &a, const Vertex &b, const Vertex &c, Vertex *out) {
  *out = {(a.x + b.x + c.x) / 3.0f, (a.y + b.y + c.y) / 3.0f, (a.z + b.z + c.z) / 3.0f};
}

void AddToSTLVector(Vertex *v, float x, float y, float z) {
  v->x += x;
  v->y += y;
  v->z += z;
}

void CopyToSTLVector(Vertex *v, float x, float y, float z) { *v = {x, y, z}; }

void CopyToCentralisedSTLVector(const Export3DContext &ctx, Vertex *v, const float p[3]) {
  const float *centre = ctx.gXP->plotCentre;
  *v = {p[0] - centre[0], p[1] - centre[1], p[2] - centre[2]};
}

void EllipsoidAxisEnds(const Export3DContext &ctx, const AtomRecord &atom, Vertex axes[3]) {
  for (int k = 0; k < 3; k++) {
    float out[3];
    MatMul(ctx.gXP->orientationMatrix, atom.ellipsoidAxes[k], out);
    axes[k] = FromArray(out);
  }
}

bool IsCutAwayEllipsoidStyle(uint32_t style) { return InSet(style, {4, 6, 8, 10, 12, 14, 16, 18}); }
bool IsTwoColourAtomStyle(uint32_t style) { return InSet(style, {10, 15, 19, 20}); }
bool IsEightSectorAtomStyle(uint32_t style) { return style == 19 || style == 20; }

float BallJointRadius(const Export3DContext &ctx) {
  const CrystalRec &c = *ctx.gXP;
  return c.stickJointFactor * c.stickRadius * c.minAtomRadius;
}
