#include "render/HiddenPrimitives.h"
#include "render/OpenRowScan.h"

#include "RenderServices.h"
#include "StructureArrays.h"
#include "render/AtomStyles.h"
#include "render/BondDrawing.h"
#include "render/Projection.h"
#include "render/RasterPrimitives.h"
#include "render/RenderGlobals.h"
#include "render/SmoothPolygons.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

using namespace ovgfx;

namespace {

bool gSkipped = true;
size_t gLastHidden = 0;

// A pixel counts as wholly covered by a strip's sub-row span only when the
// span reaches this far past both of its sides: the fill's arithmetic is
// repeated here, and the margin keeps any difference of rounding harmless.
constexpr float kSealMargin = 1.0f / 16.0f;
// A slab whose normal has less x than this bounds no x; the other one of
// its rectangle, at right angles, does.
constexpr float kFlatSlab = 1.0f / 1024.0f;
// A lit strip shorter than this (pixels) is not relied on to seal.
constexpr float kShortestSealedStrip = 0.5f;

// Pixels beyond what a bond's strokes reach that its footprint takes in,
// for the rounding of the points it is measured from.
constexpr float kFootprintMargin = 0.25f;

// Pictures whose balls and bonds paint each pixel of their box fewer times
// than this on average are drawn without the pass: too little lies behind
// to pay for it.
constexpr double kPaintedOverForPass = 10.0;
constexpr size_t kPaintedOverSamples = 512;

// How many entries ahead the gathering of the bond lists asks for one, and
// the pass for the places of an entry's partners.
constexpr size_t kListsAhead = 16;
constexpr size_t kPlacesAhead = 8;

// One bit per pixel of the clip: set when a primitive drawn later sets the
// pixel whatever lies beneath. Pixels outside the clip are never painted,
// so they count as sealed.
class SealedPixels {
public:
  explicit SealedPixels(const Rect &clip)
      : left_(clip.left), top_(clip.top), right_(clip.right), bottom_(clip.bottom),
        words_(size_t(clip.right - clip.left + 1 + 63) / 64), bits_(words_ * size_t(clip.bottom - clip.top + 1), 0) {}

  int Top() const { return top_; }
  int Bottom() const { return bottom_; }

  // Whether pixels x0 to x1 of row y are all sealed.
  bool Sealed(int y, int x0, int x1) const {
    const Words w = Of(y, x0, x1);
    if (!w.inside)
      return true;
    const uint64_t *row = &bits_[w.row];
    if (w.first == w.last)
      return (~row[w.first] & w.head & w.tail) == 0;
    if ((~row[w.first] & w.head) != 0 || (~row[w.last] & w.tail) != 0)
      return false;
    for (int k = w.first + 1; k < w.last; k++)
      if (~row[k] != 0)
        return false;
    return true;
  }

  void Seal(int y, int x0, int x1) {
    const Words w = Of(y, x0, x1);
    if (!w.inside)
      return;
    uint64_t *row = &bits_[w.row];
    if (w.first == w.last) {
      row[w.first] |= w.head & w.tail;
      return;
    }
    row[w.first] |= w.head;
    for (int k = w.first + 1; k < w.last; k++)
      row[k] = ~uint64_t(0);
    row[w.last] |= w.tail;
  }

private:
  // The words of row y that hold the pixels x0 to x1 within the clip:
  // `first` to `last` from the row's first word `row`, with those pixels'
  // bits in the first (`head`) and the last (`tail`). None inside when the
  // pixels lie outside the clip.
  struct Words {
    bool inside;
    size_t row;
    int first, last;
    uint64_t head, tail;
  };
  Words Of(int y, int x0, int x1) const {
    x0 = std::max(x0, left_) - left_;
    x1 = std::min(x1, right_) - left_;
    if (y < top_ || y > bottom_ || x0 > x1)
      return {false, 0, 0, 0, 0, 0};
    return {true,    size_t(y - top_) * words_, x0 >> 6,
            x1 >> 6, ~uint64_t(0) << (x0 & 63), ~uint64_t(0) >> (63 - (x1 & 63))};
  }

  int left_, top_, right_, bottom_;
  size_t words_;
  std::vector<uint64_t> bits_;
};

// floor and ceil of a pixel coordinate held within the pixel limit (not a
// number taken as 0), without a call.
int PixelFloor(float v) {
  v = ClampedPixels(v);
  const int t = int(v);
  return float(t) > v ? t - 1 : t;
}
int PixelCeil(float v) { return -PixelFloor(-v); }

#ifdef __SSE2__
// PixelFloor of four values.
__m128i PixelFloor4(__m128 v) {
  const __m128 limit = _mm_set1_ps(float(kPixelCoordLimit));
  // std::clamp, then not-a-number to +0.
  const __m128 held = _mm_min_ps(_mm_max_ps(v, _mm_sub_ps(_mm_setzero_ps(), limit)), limit);
  const __m128 v0 = _mm_and_ps(_mm_cmpord_ps(v, v), held);
  const __m128i t = _mm_cvttps_epi32(v0);
  // One less where the truncation went up (a negative value with a fraction).
  return _mm_add_epi32(t, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(t), v0)));
}
#endif

// The rectangle round the segment from p to q, `across` to either side
// and `beyond` past either end, as its two slabs (one across the segment,
// one along it), row by row.
class Rectangle {
public:
  Rectangle(RealPoint p, RealPoint q, float across, float beyond) {
    const float dx = q.x - p.x, dy = q.y - p.y;
    length_ = std::sqrt(dx * dx + dy * dy);
    const float ex = length_ > 0.0f ? dx / length_ : 1.0f, ey = length_ > 0.0f ? dy / length_ : 0.0f;
    cy_ = (p.y + q.y) / 2.0f;
    const float cx = (p.x + q.x) / 2.0f, along = length_ / 2.0f + beyond;
    const float reach = std::fabs(ey) * along + std::fabs(ex) * across;
    top_ = cy_ - reach;
    bottom_ = cy_ + reach;
    slabs_[0] = Slab(ex, ey, cx, along, along + across);
    slabs_[1] = Slab(-ey, ex, cx, across, along + across);
  }

  float Length() const { return length_; }
  bool Finite() const { return std::isfinite(top_) && std::isfinite(bottom_) && std::isfinite(length_); }
  // The pixel rows it touches, within `mask`'s.
  int From(const SealedPixels &mask) const { return std::max(PixelFloor(top_), mask.Top()); }
  int To(const SealedPixels &mask) const { return std::min(PixelFloor(bottom_), mask.Bottom()); }

  // The x-range of its points in the rows from y to y + 1, or more.
  void Touched(int y, float &lo, float &hi) const {
    lo = -float(kPixelCoordLimit);
    hi = float(kPixelCoordLimit);
    for (const Slab &slab : slabs_)
      if (!slab.flat) {
        const float at = slab.At(float(y) - cy_);
        lo = std::max(lo, at + std::min(slab.step, 0.0f));
        hi = std::min(hi, at + slab.width + std::max(slab.step, 0.0f));
      }
  }

  // Touched for the four rows from y, each range's ends as the pixel
  // columns PixelFloor makes of them: bit k of the answer is set when row
  // y + k's range is not empty. Side by side where the processor allows,
  // each lane working out what Touched does for its row, with the same
  // operations in the same order.
  int TouchedColumns4(int y, int first[4], int last[4]) const {
#ifdef __SSE2__
    const __m128 rows = _mm_sub_ps(_mm_cvtepi32_ps(_mm_setr_epi32(y, y + 1, y + 2, y + 3)), _mm_set1_ps(cy_));
    __m128 lo = _mm_set1_ps(-float(kPixelCoordLimit)), hi = _mm_set1_ps(float(kPixelCoordLimit));
    for (const Slab &slab : slabs_)
      if (!slab.flat) {
        const __m128 at = _mm_add_ps(_mm_set1_ps(slab.lo), _mm_mul_ps(rows, _mm_set1_ps(slab.step)));
        // std::max(a, b) is _mm_max_ps(b, a) and std::min(a, b) is
        // _mm_min_ps(b, a), not-a-number and signed zeros alike.
        lo = _mm_max_ps(_mm_add_ps(at, _mm_set1_ps(std::min(slab.step, 0.0f))), lo);
        hi = _mm_min_ps(_mm_add_ps(_mm_add_ps(at, _mm_set1_ps(slab.width)), _mm_set1_ps(std::max(slab.step, 0.0f))),
                        hi);
      }
    const int spans = _mm_movemask_ps(_mm_cmple_ps(lo, hi));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(first), PixelFloor4(lo));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(last), PixelFloor4(hi));
    return spans;
#else
    int spans = 0;
    for (int k = 0; k < 4; k++) {
      float lo, hi;
      Touched(y + k, lo, hi);
      spans |= lo <= hi ? 1 << k : 0;
      first[k] = PixelFloor(lo);
      last[k] = PixelFloor(hi);
    }
    return spans;
#endif
  }

  // The x-range its sub-rows ys0 and ys1 of the row both hold; empty when
  // either holds none.
  void Held(float ys0, float ys1, float &lo, float &hi) const {
    lo = -float(kPixelCoordLimit);
    hi = float(kPixelCoordLimit);
    for (const Slab &slab : slabs_) {
      if (slab.flat) {
        if (std::max(std::fabs(ys0 - cy_), std::fabs(ys1 - cy_)) > slab.yHalf) {
          hi = -INFINITY;
          return;
        }
        continue;
      }
      const float at = slab.At(ys0 - cy_), rise = (ys1 - ys0) * slab.step;
      lo = std::max(lo, at + std::max(rise, 0.0f));
      hi = std::min(hi, at + slab.width + std::min(rise, 0.0f));
    }
  }

  // Held for the four rows from y, row y + k's sub-rows lying `off0` and
  // `off1` below its top, into lo[k] and hi[k]. Side by side where the
  // processor allows, as TouchedColumns4.
  void Held4(int y, float off0, float off1, float lo[4], float hi[4]) const {
#ifdef __SSE2__
    const __m128 rows = _mm_cvtepi32_ps(_mm_setr_epi32(y, y + 1, y + 2, y + 3));
    const __m128 ys0 = _mm_add_ps(rows, _mm_set1_ps(off0)), ys1 = _mm_add_ps(rows, _mm_set1_ps(off1));
    const __m128 cy = _mm_set1_ps(cy_), zero = _mm_setzero_ps();
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 l = _mm_set1_ps(-float(kPixelCoordLimit)), h = _mm_set1_ps(float(kPixelCoordLimit));
    __m128 none = zero; // the lanes a flat slab leaves without a range
    for (const Slab &slab : slabs_) {
      if (slab.flat) {
        const __m128 d0 = _mm_and_ps(_mm_sub_ps(ys0, cy), magnitude), d1 = _mm_and_ps(_mm_sub_ps(ys1, cy), magnitude);
        none = _mm_or_ps(none, _mm_cmpgt_ps(_mm_max_ps(d1, d0), _mm_set1_ps(slab.yHalf)));
        continue;
      }
      const __m128 step = _mm_set1_ps(slab.step);
      const __m128 at = _mm_add_ps(_mm_set1_ps(slab.lo), _mm_mul_ps(_mm_sub_ps(ys0, cy), step));
      const __m128 rise = _mm_mul_ps(_mm_sub_ps(ys1, ys0), step);
      // The operands of std::max and std::min swapped, as in TouchedColumns4.
      l = _mm_max_ps(_mm_add_ps(at, _mm_max_ps(zero, rise)), l);
      h = _mm_min_ps(_mm_add_ps(_mm_add_ps(at, _mm_set1_ps(slab.width)), _mm_min_ps(zero, rise)), h);
    }
    h = _mm_or_ps(_mm_and_ps(none, _mm_set1_ps(-INFINITY)), _mm_andnot_ps(none, h));
    _mm_storeu_ps(lo, l);
    _mm_storeu_ps(hi, h);
#else
    for (int k = 0; k < 4; k++)
      Held(float(y + k) + off0, float(y + k) + off1, lo[k], hi[k]);
#endif
  }

private:
  // The points within h of the centre along the unit normal (nx, ny). Its
  // bounds in x run linearly with y: at the centre's row they are lo and lo
  // + width, and they move by `step` a row. A slab whose normal has almost
  // no x bounds no x (the other one, at right angles, does): it holds the
  // rows within yHalf of the centre, with what x can add to the distance
  // for any point of the rectangle (within `extent` of the centre) taken off.
  struct Slab {
    Slab() = default;
    Slab(float nx, float ny, float cx, float h, float extent) : flat(std::fabs(nx) < kFlatSlab) {
      if (flat) {
        yHalf = (h - std::fabs(nx) * extent) / std::fabs(ny);
        return;
      }
      lo = cx - h / std::fabs(nx);
      width = 2.0f * h / std::fabs(nx);
      step = -ny / nx;
    }
    float At(float rows) const { return lo + rows * step; }
    float lo = 0.0f, width = 0.0f, step = 0.0f, yHalf = 0.0f;
    bool flat = true;
  };

  Slab slabs_[2];
  float length_ = 0.0f, cy_ = 0.0f, top_ = 0.0f, bottom_ = 0.0f;
};

// The rows from the first to the last in which some pixel whose square the
// rectangle touches is not sealed: none when every one is, every row when
// the rectangle is not finite.
PixelRows OpenRows(const SealedPixels &mask, const Rectangle &r) {
  if (!r.Finite())
    return kEveryPixelRow;
  int first[4], last[4], spans = 0;
  return FirstAndLastOpenRows(
      r.From(mask), r.To(mask), [&](int y) { spans = r.TouchedColumns4(y, first, last); },
      [&](int y, int k) { return ((spans >> k) & 1) != 0 && !mask.Sealed(y + k, first[k], last[k]); });
}

// Seals what the fill of a cylinder's one lit strip sets whole: the
// rectangle round the segment between the pixels of its cut ends, `half`
// to either side, grown by the half-pixel stroke the fill adds, less
// kSealMargin all round. A strip shorter than kShortestSealedStrip seals
// nothing (the fill draws one without area as a segment). Only `rows` are
// sealed: the strip's pixels in the others are sealed already.
void SealStrip(SealedPixels &mask, RealPoint p, RealPoint q, float half, PixelRows rows) {
  const Rectangle r(p, q, half + kHalfStroke - kSealMargin, kHalfStroke - kSealMargin);
  if (!r.Finite() || !(r.Length() >= kShortestSealedStrip) || !(half > 0.0f))
    return;
  const float share = 1.0f / float(kPolygonSubRows);
  const float off0 = 0.5f * share, off1 = (float(kPolygonSubRows) - 0.5f) * share;
  float lo[4], hi[4];
  for (int y = std::max<int>(r.From(mask), rows.top), to = std::min<int>(r.To(mask), rows.bottom); y <= to; y += 4) {
    r.Held4(y, off0, off1, lo, hi);
    for (int k = 0; k < std::min(4, to - y + 1); k++)
      if (lo[k] < hi[k])
        mask.Seal(y + k, PixelCeil(lo[k] + kSealMargin), PixelFloor(hi[k] - kSealMargin) - 1);
  }
}

bool CylinderStyle(int32_t style) {
  switch (style) {
  case kBondBlank:
  case kBondPhotoRendered:
  case kBondPhotoTwinBand:
  case kBondPhotoMultiBand:
  case kBondPlain:
  case kBondTwinBand:
  case kBondMultiBand:
  case kBondStriated:
    return true;
  default:
    return false;
  }
}

// Whether every bond of the structure is a cylinder (or blank), whatever
// row or custom style it takes.
bool OnlyCylinders(const CrystalRec &c) {
  if (!CylinderStyle(c.defaultBondStyle))
    return false;
  for (int32_t k = 0; k < std::clamp(c.bondSpecCount, 0, kMaxBondSpecs); k++)
    if (!CylinderStyle(c.bondSpecs[size_t(k)].style))
      return false;
  for (size_t k = 0; k < UsableRecords(c.customBondSpecs.size(), c.customBondSpecCount); k++)
    if (!CylinderStyle(c.customBondSpecs[k].style))
      return false;
  return true;
}

// The lit bands of a shaded cylinder's strips between two atoms, 0 for
// any other drawing.
int32_t LitBands(const CrystalRec &c, uint32_t i, uint32_t j) {
  RGBColor colour1, colour2;
  const int16_t style = GetBondColorSpecs(&c, i, j, colour1, colour2);
  if (style == kBondPhotoRendered || SameRGBColor(colour1, colour2))
    return style == kBondPhotoRendered || style == kBondPhotoTwinBand || style == kBondPhotoMultiBand ? 1 : 0;
  return style == kBondPhotoTwinBand ? kTwinBands : style == kBondPhotoMultiBand ? kMultiBands : 0;
}

// 1 when every bond is a plain shaded cylinder, whatever row or custom
// style it takes; -1 when each bond's style is to be asked.
int32_t UniformLitBands(const CrystalRec &c) {
  if (c.defaultBondStyle != kBondPhotoRendered || UsableRecords(c.customBondSpecs.size(), c.customBondSpecCount) != 0)
    return -1;
  for (int32_t k = 0; k < std::clamp(c.bondSpecCount, 0, kMaxBondSpecs); k++)
    if (c.bondSpecs[size_t(k)].style != kBondPhotoRendered)
      return -1;
  return 1;
}

// The plots the pass judges.
bool Judged(const CrystalRec &c) {
  const GraphicsPort *port = CurrentPort();
  const Rect &clip = dstPixClipBounds;
  return gSkipped && c.modelType == kBallAndStickModel && !c.perspective && !c.depthFading && UseSmoothDrawing() &&
         dstPixBase && dstBitDepth == 32 && port && port->Pixels() == dstPixMap && !port->Recorder() &&
         port->Clip().IsRectangular() && clip.left <= clip.right && clip.top <= clip.bottom &&
         UsableRecords(c.sortIndex.size(), c.sortIndexCount) >= kHiddenPrimitivesFromAtoms;
}

// The pixels of an atom's ball: its type's mask rectangles, and where the
// image lands.
struct Ball {
  const std::vector<Rect> *rects = nullptr;
  int dh = 0, dv = 0;
};

// How many times over, on average, the balls and bonds of the atoms in
// the index that lie in the picture paint the pixels of their box, judged
// from up to kPaintedOverSamples of them spread through the index.
double PaintedOver(const CrystalRec &c, float bondRadius, int32_t width, int32_t height) {
  const size_t entries = UsableRecords(c.sortIndex.size(), c.sortIndexCount), atoms = UsableAtomSize(c);
  const size_t step = std::max<size_t>(1, entries / kPaintedOverSamples);
  const double s = c.plotScale, across = 2.0 * double(bondRadius) * s + 1.0;
  double painted = 0.0;
  size_t sampled = 0;
  int lo[2] = {INT32_MAX, INT32_MAX}, hi[2] = {INT32_MIN, INT32_MIN};
  for (size_t i = 0; i < entries; i += step) {
    const SortIndexEntry &e = c.sortIndex[i];
    if (e.kind != kSortItemAtom || e.index >= atoms)
      continue;
    const AtomRecord &atom = c.atoms[e.index];
    if (atom.pixel[0] < 0 || atom.pixel[0] >= width || atom.pixel[1] < 0 || atom.pixel[1] >= height)
      continue;
    sampled++;
    for (int d = 0; d < 2; d++) {
      lo[d] = std::min<int>(lo[d], atom.pixel[d]);
      hi[d] = std::max<int>(hi[d], atom.pixel[d]);
    }
    const double r = atom.atomType < UsableSphereSize(c) ? double(c.spheres[atom.atomType].drawnRadius) * s : 0.0;
    painted += M_PI * r * r;
    // Half of each bond, the other half being the partner's.
    for (size_t k = 0, n = std::min<size_t>(atom.bondCount, atom.bonds.size()); k < n; k++)
      if (atom.bonds[k] < atoms) {
        const float *other = c.atoms[atom.bonds[k]].cart;
        const double dx = double(atom.cart[0] - other[0]), dy = double(atom.cart[1] - other[1]);
        painted += across * s * std::sqrt(dx * dx + dy * dy) / 2.0;
      }
  }
  if (sampled == 0)
    return 0.0;
  const double area = double(hi[0] - lo[0] + 1) * double(hi[1] - lo[1] + 1);
  return painted * double(step) / area;
}

} // namespace

void SetHiddenPrimitivesSkipped(bool skipped) { gSkipped = skipped; }
size_t LastHiddenBondCount() { return gLastHidden; }

PixelRows HiddenPrimitives::BondRows(size_t entry, uint32_t partner) const {
  if (entry + size_t(1) >= firstSlot_.size())
    return kEveryPixelRow;
  for (size_t k = firstSlot_[entry], end = firstSlot_[entry + 1]; k < end; k++)
    if (partners_[k] == partner)
      return rows_[k];
  return kEveryPixelRow;
}

void HiddenPrimitives::Find(const CrystalRec &c, float bondRadius, int32_t width, int32_t height) {
  entries_.clear();
  firstSlot_.clear();
  partners_.clear();
  rows_.clear();
  drawn_.clear();
  shown_.clear();
  shownRanges_.clear();
  hiddenBonds_ = 0;
  gLastHidden = 0;
  // Bonds drawn as lines seal nothing, and their halo reaches well past
  // them: a picture of them would pay for the pass and leave little out.
  if (!Judged(c) || !OnlyCylinders(c) || BondStripCount(c, bondRadius) < 2 ||
      PaintedOver(c, std::max(bondRadius, 0.0f), width, height) < kPaintedOverForPass)
    return;
  const size_t atoms = UsableAtomSize(c);
  const PixelProjector project(c, width, height);
  const float scale = c.plotScale;
  const float rb = std::max(bondRadius, 0.0f);
  // How far a bond's pixels reach from the segment between its cut ends: a
  // cylinder's outline lies within its radius of the ends; its strips, caps
  // and frames grow it by at most a pen width (the strips' mitred
  // half-pixel stroke by at most a pixel).
  const float reach = rb * scale + std::max(1.0f, float(ScaledToPlotRes(1))) + kFootprintMargin;

  // Each atom type's ball: the rectangles of its mask when its image is
  // copied whole over what lies beneath.
  const size_t types = UsableSphereSize(c);
  std::vector<std::vector<Rect>> ballRects(types);
  std::vector<uint8_t> opaque(types, 0);
  // Types whose atoms' bonds close their upper end with a cap.
  std::vector<uint8_t> capped(types, 1);
  for (size_t t = 0; t < types; t++) {
    const SphereRecord &type = c.spheres[t];
    capped[t] = type.style == AtomStylePhotoTranslucent || type.style == AtomStyleBlank;
    const PixelBuffer *image = AtomImage(type);
    const Region *region = AtomMask(type);
    if (type.style == AtomStyleBlank || type.style == AtomStylePhotoTranslucent || !image || image->Depth() != 32 ||
        !region || region->IsEmpty() || type.bounds1.right <= type.bounds1.left ||
        type.bounds1.bottom <= type.bounds1.top)
      continue;
    region->RectsInto(ballRects[t]);
    opaque[t] = 1;
  }
  // What the pass reads of every atom, gathered in one run through the
  // records: the pass meets atoms in depth order, which is no order in
  // memory. Each atom's place stays where a bonded atom finds it; the rest
  // is put at its entry of the index, and then its bond list beside the
  // lists of the entries before it, so that the pass and the walk read them
  // in order. A hidden atom (or one on a hidden site) has a radius below 0;
  // one not in the index, a position below 0. An atom the index holds twice
  // is judged at its last entry alone: at the others it neither seals nor
  // is left out.
  const size_t entries = UsableRecords(c.sortIndex.size(), c.sortIndexCount);
  std::vector<Place> &places = places_;
  places.assign(atoms, Place{{0.0f, 0.0f, 0.0f}, 0.0f, -1});
  entries_.resize(entries);
  for (size_t i = 0; i < entries; i++) {
    entries_[i].index = kNoAtom;
    if (c.sortIndex[i].kind == kSortItemAtom && c.sortIndex[i].index < atoms)
      places[c.sortIndex[i].index].position = int32_t(i);
  }
  std::vector<uint32_t> &lists = atomPartners_;
  lists.clear();
  bool vectors = false;
  for (size_t k = 0; k < atoms; k++) {
    const AtomRecord &atom = c.atoms[k];
    const uint32_t first = uint32_t(lists.size());
    const size_t bonds = std::min<size_t>(atom.bondCount, atom.bonds.size());
    lists.insert(lists.end(), atom.bonds.data(), atom.bonds.data() + bonds);
    vectors = vectors || atom.hasVector;
    Place &place = places[k];
    std::copy(std::begin(atom.cart), std::end(atom.cart), place.cart);
    const bool shown = atom.visible && atom.site < UsableSiteSize(c) && c.sites[atom.site].visible;
    place.radius = !shown ? -1.0f : atom.atomType < types ? std::max(c.spheres[atom.atomType].drawnRadius, 0.0f) : 0.0f;
    if (place.position >= 0)
      entries_[size_t(place.position)] = Entry{{place.cart[0], place.cart[1], place.cart[2]},
                                               place.radius,
                                               uint32_t(k),
                                               atom.atomType,
                                               first,
                                               uint32_t(bonds),
                                               {atom.pixel[0], atom.pixel[1]},
                                               atom.selected,
                                               atom.labelled};
  }
  partners_.reserve(lists.size());
  firstSlot_.resize(entries + 1);
  for (size_t i = 0; i < entries; i++) {
    if (i + kListsAhead < entries && entries_[i + kListsAhead].index != kNoAtom)
      __builtin_prefetch(lists.data() + entries_[i + kListsAhead].firstSlot);
    firstSlot_[i] = uint32_t(partners_.size());
    const Entry &entry = entries_[i];
    if (entry.index != kNoAtom)
      partners_.insert(partners_.end(), lists.begin() + entry.firstSlot, lists.begin() + entry.firstSlot + entry.bonds);
  }
  firstSlot_[entries] = uint32_t(partners_.size());
  rows_.assign(partners_.size(), kEveryPixelRow);
  drawn_.assign(entries, 0);
  shownRanges_.assign(entries, ShownRange{kNotListed, 0});
  SealedPixels mask(dstPixClipBounds);
  const auto ballSealed = [&](const Ball &ball) {
    for (const Rect &r : *ball.rects)
      for (int y = r.top; y < r.bottom; y++)
        if (!mask.Sealed(y + ball.dv, r.left + ball.dh, r.right - 1 + ball.dh))
          return false;
    return true;
  };
  const int32_t uniformBands = UniformLitBands(c);
  // A cylinder of one strip is a rectangle of the bond's width.
  const bool oneStrip = BondStripCount(c, bondRadius) == 2;
  const float stripHalfWidth = rb * scale;
  // Such a strip without a cap paints nothing but its fill: the rectangle
  // grown by the half-pixel stroke (its mitres square at right angles).
  const float stripReach = stripHalfWidth + kHalfStroke + kFootprintMargin;
  const float stripBeyond = kHalfStroke + kFootprintMargin;

  // A bond to be drawn, with the pixels of its cylinder's cut ends.
  struct Drawn {
    uint32_t partner;
    RealPoint from, to;
    PixelRows rows; // those in which it shows
  };
  std::vector<Drawn> candidates;
  // The bonds an atom draws, shown or not, with their partners' heights.
  struct Below {
    uint32_t partner;
    float height;
    PixelRows rows;
  };
  std::vector<Below> below;
  // Lists the bonds that show of the atom at entry i in the order
  // SortBondsBelow gives its bonds (SortByHeight, the rule it sorts by:
  // ascending by height, level ones in the order of its bond list). An
  // atom two of whose partners stand at one place is left to the walk,
  // which paints the bond to such a partner once.
  const auto listShown = [&](size_t i) {
    SortByHeight(below, [](const Below &bond) { return bond.height; });
    // Partners at one place stand level.
    for (size_t from = 0, to; from < below.size(); from = to)
      for (to = from + 1; to < below.size() && below[to].height == below[from].height; to++)
        for (size_t m = from; m < to; m++)
          if (std::memcmp(places[below[m].partner].cart, places[below[to].partner].cart, sizeof places[0].cart) == 0)
            return;
    const uint32_t first = uint32_t(shown_.size());
    for (const Below &bond : below)
      if (!bond.rows.Empty())
        shown_.push_back({bond.partner, bond.rows});
    shownRanges_[i] = {first, uint32_t(shown_.size()) - first};
  };
  // The places of the partners of the entries ahead are asked for: they
  // lie anywhere in memory.
  const auto placesAhead = [&](size_t ahead) {
    for (size_t k = firstSlot_[ahead], end = firstSlot_[ahead + 1]; k < end; k++)
      if (partners_[k] < atoms)
        __builtin_prefetch(&places[partners_[k]]);
  };
  for (size_t i = entries; i-- > 0;) {
    if (i >= kPlacesAhead)
      placesAhead(i - kPlacesAhead);
    const Entry &atom = entries_[i];
    if (atom.index == kNoAtom)
      continue;
    const uint32_t a = atom.index;
    bool silent = !atom.labelled && !vectors;
    // The ball is drawn after the atom's bonds.
    if (atom.type < types && opaque[atom.type]) {
      const SphereRecord &type = c.spheres[atom.type];
      const int w = type.bounds1.right - type.bounds1.left, h = type.bounds1.bottom - type.bounds1.top;
      const Ball ball{&ballRects[atom.type], atom.pixel[0] - w / 2, atom.pixel[1] - h / 2};
      if (!atom.selected && ballSealed(ball)) {
        drawn_[i] |= kBallHidden;
      } else {
        silent = false;
        for (const Rect &r : *ball.rects)
          for (int y = r.top; y < r.bottom; y++)
            mask.Seal(y + ball.dv, r.left + ball.dh, r.right - 1 + ball.dh);
      }
    } else {
      silent = false;
    }
    // Its bonds, those drawn just before it (as SortBondsBelow lists them),
    // are judged against what is drawn after all of them; then those drawn
    // seal.
    const uint32_t *partners = partners_.data() + firstSlot_[i];
    PixelRows *rows = rows_.data() + firstSlot_[i];
    const size_t bonds = firstSlot_[i + 1] - firstSlot_[i];
    candidates.clear();
    below.clear();
    const float radiusA = atom.radius;
    float pa[2];
    project.Real(atom.cart, pa);
    for (size_t k = 0; k < bonds; k++) {
      const uint32_t b = partners[k];
      if (b >= atoms)
        continue;
      const Place &to = places[b];
      if (to.radius < 0.0f || !(to.cart[2] <= atom.cart[2]))
        continue;
      // Of two level atoms, the later in the index draws their bond.
      if (to.cart[2] == atom.cart[2] && !(to.position >= 0 && size_t(to.position) < i))
        continue;
      const float d[3] = {to.cart[0] - atom.cart[0], to.cart[1] - atom.cart[1], to.cart[2] - atom.cart[2]};
      const float L = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      PixelRows open = kEveryPixelRow;
      RealPoint cutA{NAN, NAN}, cutB{NAN, NAN};
      if (L > 0.0f && std::isfinite(L)) {
        // The drawn part lies between the ends cut a pixel inside the
        // spheres.
        const auto cut = [&](float r) { return (r > rb ? std::sqrt(r * r - rb * rb) - 1.0f / scale : 0.0f) / L; };
        const float alongA = cut(radiusA), alongB = 1.0f - cut(to.radius);
        float pb[2];
        project.Real(to.cart, pb);
        const float dx = pb[0] - pa[0], dy = pb[1] - pa[1];
        cutA = {pa[0] + dx * alongA, pa[1] + dy * alongA};
        cutB = {pa[0] + dx * alongB, pa[1] + dy * alongB};
        if (oneStrip && uniformBands == 1 && atom.type < types && !capped[atom.type])
          open = OpenRows(mask, Rectangle(cutA, cutB, stripReach, stripBeyond));
        else
          open = OpenRows(mask, Rectangle(cutA, cutB, reach, reach));
      }
      rows[k] = open;
      below.push_back({b, to.cart[2], open});
      if (open.Empty()) {
        hiddenBonds_++;
      } else {
        silent = false;
        candidates.push_back({b, cutA, cutB, open});
      }
    }
    if (silent)
      drawn_[i] |= kNothing;
    if (!vectors)
      listShown(i);
    if (oneStrip)
      for (const Drawn &drawn : candidates)
        if ((uniformBands >= 0 ? uniformBands : LitBands(c, a, drawn.partner)) == 1)
          SealStrip(mask, drawn.from, drawn.to, stripHalfWidth, drawn.rows);
  }
  gLastHidden = hiddenBonds_;
}
