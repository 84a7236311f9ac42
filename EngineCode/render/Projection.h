// From view coordinates to pixels, the depth-sort index and the depth cue.
//
// View coordinates have x to the right, y up and z towards the viewer (a
// larger z is nearer). Pixel coordinates have y downwards. The depth-sort
// index lists the farthest item first, so painting it in order paints back
// to front.
//
// Main thread only: the sort reads program-wide state while it runs.
#pragma once

#include "StructureRecord.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

// Perspective never looks from closer than this (Angstrom): a view distance
// of 0 or less read from a document would divide by zero or turn the
// picture inside out.
inline constexpr float kMinViewDistance = 1.0f;
// Pixel coordinates are kept within +-kPixelCoordLimit, so that far
// off-screen points never wrap round into the picture in 16 bits.
inline constexpr int32_t kPixelCoordLimit = 32000;
// A float about to become a pixel coordinate, a size in pixels or a pixel
// count: held within +-kPixelCoordLimit, NaN taken as 0, so that turning it
// into an integer is always defined and never asks for more than a picture.
inline float ClampedPixels(float v) {
  return v == v ? std::clamp(v, -float(kPixelCoordLimit), float(kPixelCoordLimit)) : 0.0f;
}
inline int32_t PixelInt(float v) { return static_cast<int32_t>(ClampedPixels(v)); }
// The front z a sort starts its search from.
inline constexpr float kFrontZStart = -9.99e28f;
// Depth fading leaves out atoms whose minimum opacity is below this.
inline constexpr float kInvisibleOpacity = 0.01f;

// ---- Projection --------------------------------------------------------------------

// The perspective factor of a view z: D / (D + front z - z) with perspective
// on, 1 otherwise (and 1 for a point so far in front that the factor would
// not be positive).
float PerspectiveFactor(const CrystalRec &crystal, float z);

// The projection of one plot of width w and height h, its constants worked
// out once: the functions below, for many points.
class PixelProjector {
public:
  PixelProjector(const CrystalRec &crystal, int32_t width, int32_t height)
      : c_(crystal), halfWidth_(float(width) / 2.0f), halfHeight_(float(height) / 2.0f),
        centreX_(crystal.plotCentre[0]), centreY_(crystal.plotCentre[1]), perspective_(crystal.perspective != 0) {}
  // Unrounded pixel of a view point (Xor2RealXpix).
  void Real(const float xyz[3], float pixel[2]) const {
    const float s = c_.plotScale * (perspective_ ? PerspectiveFactor(c_, xyz[2]) : 1.0f);
    pixel[0] = (xyz[0] - centreX_) * s + halfWidth_;
    pixel[1] = halfHeight_ - (xyz[1] - centreY_) * s;
  }
  // Rounded pixel of a view point (Xor2Xpix).
  void Pixel(const float xyz[3], int16_t pixel[2]) const {
    float real[2];
    Real(xyz, real);
    pixel[0] = RoundedPixel(real[0]);
    pixel[1] = RoundedPixel(real[1]);
  }
  // A pixel coordinate rounded half away from zero, held within
  // +-kPixelCoordLimit; not-a-number goes to 0.
  static int16_t RoundedPixel(float v) {
    // Clamped, so that values far beyond 16 bits stay ordered. A float within
    // the limit plus or minus a half is exact in double, and its truncation
    // is the rounding.
    const float limit = float(kPixelCoordLimit);
    const float held = v == v ? std::clamp(v, -limit, limit) : 0.0f;
    return int16_t(int32_t(double(held) + (held < 0.0f ? -0.5 : 0.5)));
  }

private:
  const CrystalRec &c_;
  float halfWidth_, halfHeight_, centreX_, centreY_;
  bool perspective_;
};

// The pixel position of a view point in a plot of width w and height h:
// ((x - centre x) * s + w / 2, h / 2 - (y - centre y) * s) with s the plot
// scale times the perspective factor, rounded half away from zero and held
// within +-kPixelCoordLimit.
inline void Xor2Xpix(const CrystalRec *crystal, const float xyz[3], int16_t pixel[2], int32_t width,
                     int32_t height) {
  if (!crystal || !xyz || !pixel)
    return;
  PixelProjector(*crystal, width, height).Pixel(xyz, pixel);
}
// The same with perspective left out (for points warped already).
void Xor2XpixFlat(const CrystalRec *crystal, const float xyz[3], int16_t pixel[2], int32_t width, int32_t height);
// The same as Xor2Xpix, unrounded.
inline void Xor2RealXpix(const CrystalRec *crystal, const float xyz[3], float pixel[2], int32_t width,
                         int32_t height) {
  if (!crystal || !xyz || !pixel)
    return;
  PixelProjector(*crystal, width, height).Real(xyz, pixel);
}
// The perspective warp in view space: x and y drawn towards the plot centre
// by the factor, z moved towards the front z.
void Xor2Perspective(const CrystalRec *crystal, const float xyz[3], float out[3]);
// Its inverse for a known factor.
void UndoXor2Perspective(const CrystalRec *crystal, const float xyz[3], float out[3], float factor);
// Projects every visible atom, every vector tip and every cell point.
void GetPixelCoords(CrystalRec *crystal, int32_t width, int32_t height);

// ---- Depth sort ---------------------------------------------------------------------

// Rebuilds the structure's depth-sort index: the cell points of a
// depth-sorted cell frame, then the visible atoms of visible sites (less
// those depth fading makes invisible), sorted farthest first. Sets the
// front z and back z. A cell point sorts as if it lay `minSphereRadius`
// further back, so that a frame point level with an atom's centre is drawn
// before the atom. Equal heights keep the order they were entered in.
void SortAtomsByHeight(CrystalRec *crystal, float minSphereRadius);
// The comparison the sort uses, with the smallest atom radius of the last
// sort: 1 when a is higher, -1 when b is higher, 0 when level.
int CompareSortOrder(const SortIndexEntry &a, const SortIndexEntry &b);
// The entries behind the lattice plane as the viewer sees it (side -1) or in
// front of it (side +1), in index order. A point on the plane counts as on
// the positive side of it.
std::vector<SortIndexEntry> GetSortAboveOrBelowPlane(const CrystalRec *crystal, int side);

// ---- Bond neighbours by height ---------------------------------------------------------
// Only visible neighbours on visible sites count. Lists keep the order of
// the atom's bonds list unless said otherwise.

// Neighbours higher than the atom.
std::vector<uint32_t> GetBondsAbove(const CrystalRec *crystal, uint32_t atom);
// Neighbours not higher than the atom.
std::vector<uint32_t> GetBondsBelow(const CrystalRec *crystal, uint32_t atom);
// Neighbours of `atom` not higher than `reference`.
std::vector<uint32_t> GetBondsBelowBelow(const CrystalRec *crystal, uint32_t reference, uint32_t atom);
// Lists up to this long are sorted in place by insertion; most atoms have
// a handful of bonds, and a merge sort's buffer would cost more than the sort.
inline constexpr size_t kInsertionSortLength = 16;

// Sorts a list of bonds' partners ascending by `height(item)`; equal heights
// keep their order in the list. An item whose height is not a number stays
// where it is and no item moves past it: the stretches between such items
// are sorted each on its own. The order the bonds below an atom are drawn in.
template <class Item, class Height> void SortByHeight(std::vector<Item> &list, Height height) {
  if (list.size() <= kInsertionSortLength) {
    for (size_t i = 1; i < list.size(); ++i) {
      const Item a = list[i];
      size_t j = i;
      for (; j > 0 && height(list[j - 1]) > height(a); --j)
        list[j] = list[j - 1];
      list[j] = a;
    }
    return;
  }
  const auto lower = [&height](const Item &a, const Item &b) { return height(a) < height(b); };
  for (auto from = list.begin(); from != list.end();) {
    const auto to = std::find_if(from, list.end(), [&height](const Item &a) { return std::isnan(height(a)); });
    std::stable_sort(from, to, lower);
    from = to == list.end() ? to : to + 1;
  }
}

// Neighbours lower than the atom and those not lower, each ascending by
// height.
void SortBonds(const CrystalRec *crystal, uint32_t atom, std::vector<uint32_t> &below, std::vector<uint32_t> &above);
// The bonds drawn just before the atom: neighbours lower than it, and level
// ones that come earlier in the depth-sort index (neither missing from it),
// ascending by height. Each bond is drawn once.
std::vector<uint32_t> SortBondsBelow(const CrystalRec *crystal, uint32_t atom);
// The same into `out`, whose storage a walk over many atoms keeps.
void SortBondsBelow(const CrystalRec *crystal, uint32_t atom, std::vector<uint32_t> &out);
// A number that changes whenever a new depth-sort index is made.
uint64_t SortIndexGeneration();
// Position of an atom in the depth-sort index; -1 when it is not there.
int64_t SortIndexPosition(const CrystalRec *crystal, uint32_t atom);

// ---- Depth cue ---------------------------------------------------------------------------

// The colour and opacity of an object at normalised depth t (0 at the back,
// 1 at the front): far objects fade into the background colour, near ones
// become translucent. With depth fading off the colour is unchanged and the
// opacity 1.
void DepthShading(const CrystalRec *crystal, float t, RGBColor colour, RGBColor &out, float &opacity);
// The normalised depth of a view z: (z - back z) / plot extent.
float DepthOfZ(const CrystalRec &crystal, float z);
