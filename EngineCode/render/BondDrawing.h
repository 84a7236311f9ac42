// Bonds: their style and colours, where they meet the atom spheres, and
// how they are drawn.
//
// A bond runs between two atoms in view coordinates. Its style comes from a
// custom specification for the pair, else from the first element-pair row
// whose length range holds the bond, else from the structure's defaults.
// Cylinder styles are cut where the cylinder meets each sphere (a pixel
// inside it) and drawn as lengthwise strips: lit per strip (shaded), flat,
// in bands of two colours, or hollow with stripes; line styles are plain,
// dashed, dotted or two-coloured lines. Each cylinder has an anti-aliased
// form (the pixel method outside fast rotation frames), painted into the
// target of the raster primitives, and a pen form drawn with the current
// port's pen; a cylinder narrower than two strips is drawn as a line.
//
// The plot pipeline draws each bond once, just before its upper atom, so
// the upper sphere covers the bond's first end; a cap closes that end where
// no sphere is drawn.
//
// Main thread only: the outline arrays are shared scratch space.
#pragma once

#include "RGBColor.h"
#include "StructureRecord.h"

#include "render/Projection.h"

#include <cstdint>
#include <optional>

// ---- Bond styles ------------------------------------------------------------------------
enum BondStyle : int16_t {
  kBondBlank = 0,
  kBondPhotoRendered = 1,
  kBondPlainLine = 2,
  kBondPhotoTwinBand = 3,
  kBondDashedLine = 4,
  kBondPhotoMultiBand = 5,
  kBondDottedLine = 6,
  kBondTwoColourLine = 7,
  kBondSegmentedLine = 8,
  kBondPlain = 9,
  kBondTwinBand = 10,
  kBondMultiBand = 11,
  kBondStriated = 12,
};

// ---- Limits --------------------------------------------------------------------------------
inline constexpr int kMaxBondStrips = 100;
// Strip counts above these are halved in the anti-aliased pixel plot
// (orthographic, perspective).
inline constexpr int kHalvedStripsAbove = 9;
inline constexpr int kHalvedPerspectiveStripsFrom = 30;
// Trimming of the outer strips under perspective starts above this count.
inline constexpr int kTrimStripsAbove = 20;
// A cylinder cap closes the first end when that atom's drawn radius is
// below this (Angstrom).
inline constexpr float kNoSphereRadius = 0.001f;
// Line bonds start at the sphere surface only for radii above this.
inline constexpr float kLineCutRadius = 0.01f;
// In perspective ball-and-stick the bond may be no wider than this share of
// the second sphere.
inline constexpr float kPerspectiveBondShare = 0.999f;
// Strip lighting: no highlight below this reflection.
inline constexpr float kMinBondSpecular = 0.0001f;
// Line dashes: a period of gPlotRes / kDashDivisor pixels and the drawn
// share, for dashed and dotted lines and for unknown styles.
inline constexpr int kDashDivisor = 9;
inline constexpr float kDashShare = 0.625f;
inline constexpr int kDotDivisor = 24;
inline constexpr float kDotShare = 0.333f;
inline constexpr int16_t kUnknownStylePeriod = 8;
// The background halo that sets an anti-aliased line bond apart.
inline constexpr int16_t kLineHaloWidth = 3;
// Pixels a bond's strokes may reach beyond its outline, besides the halo:
// the rounding of its ends, a cut end a pixel inside its sphere, blended
// pixels and pen lines drawn right of and below their points.
inline constexpr int kBondStrokeReach = 4;
// Bands of the banded cylinders.
inline constexpr int kTwinBands = 2;
inline constexpr int kMultiBands = 8;
// Stripes of the striated cylinder.
inline constexpr int kStriatedStripes = 5;
// Arrow cones: rim samples.
inline constexpr int kMinConeRim = 4;
inline constexpr int kMaxConeRim = 200;

// One point of a bond's outline across one of its ends.
struct BondOutlinePoint {
  float x = 0, y = 0, z = 0; // view coordinates (in perspective space under perspective)
  int16_t h = 0, v = 0;      // pixel, rounded
  float rh = 0, rv = 0;      // pixel, unrounded
};

// The outline arrays the end computation fills: across the first end, the
// second end (index for index opposite), and the first end's centre.
extern BondOutlinePoint ub[kMaxBondStrips];
extern BondOutlinePoint lb[kMaxBondStrips];
extern float ucXo[3];

// ---- Style and colours --------------------------------------------------------------------

// The style of the bond between atoms i and j, and its two colours. 0 (and
// the colours untouched) without sites, atoms or atom types.
int16_t GetBondColorSpecs(const CrystalRec *crystal, uint32_t i, uint32_t j, RGBColor &colour1, RGBColor &colour2);

// ---- Drawing -----------------------------------------------------------------------------------

// Draws the bonds of one plot of width x height pixels whose bonds have the
// radius `bondRadius` (Angstrom). What all of them share, the structure's
// sizes, the projection, the strip count and the pen of line bonds, is
// worked out once, so that a bond narrower than two strips (nearly every
// bond of a large structure) costs no more than its line. Made for one walk:
// the structure's arrays and the plot state must stay as they are while it
// is used.
class BondPainter {
public:
  BondPainter(const CrystalRec *crystal, float bondRadius, int32_t width, int32_t height);
  // The bond between atoms i and j, as MakeBond draws it.
  void Draw(uint32_t i, uint32_t j, float radiusI, float radiusJ, float depth) const;
  // A line style between two view points, as MakeBondLine draws it.
  void Line(const float a[3], const float b[3], float radiusA, float radiusB, float depth, RGBColor colour1,
            RGBColor colour2, int16_t style) const {
    Line(a, b, radiusA, radiusB, -1.0f, depth, colour1, colour2, style);
  }

private:
  // `length`, the distance of the two points as VecBondDist gives it, or
  // negative when it is still to be measured.
  void Line(const float a[3], const float b[3], float radiusA, float radiusB, float length, float depth,
            RGBColor colour1, RGBColor colour2, int16_t style) const;

  // True when the bond draws nothing into the strip of a picture being
  // drawn (OutsideStripRows), known before any of its set-up.
  bool OutsideStrip(uint32_t i, uint32_t j, float radiusI, float radiusJ) const;

  const CrystalRec *c_;
  float bondRadius_;
  int32_t width_, height_;
  bool drawable_;       // atoms and atom types to draw bonds between
  bool narrow_;         // every cylinder is a line (one strip, no perspective)
  bool penLines_;       // lines go through the port's pen, not the anti-aliased primitives
  std::optional<PixelProjector> project_;
};

// The bond between atoms i and j: radii of the drawn spheres (0 for none),
// the bond's radius (all Angstrom), the depth for depth fading and the
// plot's size in pixels.
void MakeBond(const CrystalRec *crystal, uint32_t i, uint32_t j, float radiusI, float radiusJ, float bondRadius,
              float depth, int32_t width, int32_t height);
// A cylinder style between two view points; `withCap` closes the first end.
void MakeBondCylinder(const CrystalRec *crystal, const float a[3], const float b[3], float radiusA, float radiusB,
                      float bondRadius, float depth, int32_t width, int32_t height, RGBColor colour1,
                      RGBColor colour2, int16_t style, bool withCap);
// A line style between two view points.
void MakeBondLine(const CrystalRec *crystal, const float a[3], const float b[3], float radiusA, float radiusB,
                  float depth, int32_t width, int32_t height, RGBColor colour1, RGBColor colour2, int16_t style);

// The strip count of every bond of radius `bondRadius` (Angstrom) in a plot
// without perspective, as MakeBondEnds gives it: 1 draws the bond as a line.
int16_t BondStripCount(const CrystalRec &crystal, float bondRadius);
// Fill the outline arrays and the strip count; false when the points
// coincide.
bool MakeBondEnds(const CrystalRec *crystal, const float a[3], const float b[3], float radiusA, float radiusB,
                  float bondRadius, int16_t &n, int32_t width, int32_t height);
bool MakePerspectiveBondEnds(const CrystalRec *crystal, const float a[3], const float b[3], float radiusA,
                             float radiusB, float bondRadius, int16_t &n, int32_t width, int32_t height);

// The colour of one strip of a cylinder with unit normal `normal`, lit with
// the structure's bond reflectance; unchanged for two strips or fewer.
void GetBondStripeColor(RGBColor &out, const CrystalRec *crystal, const float normal[3], int32_t n, RGBColor colour);

// The cylinder members over the outline arrays (strip count n): pen forms
// and anti-aliased forms.
void QDrawPhotoRenderedCylinder(const CrystalRec *crystal, float bondRadius, int32_t n, RGBColor colour, float depth);
void DrawPhotoRenderedCylinder(const CrystalRec *crystal, float bondRadius, int32_t n, RGBColor colour, float depth,
                               int32_t height);
void QDrawPhotoMultiBandCylinder(const CrystalRec *crystal, float bondRadius, int32_t n, RGBColor colour1,
                                 RGBColor colour2, int32_t bands, float depth);
void DrawPhotoMultiBandCylinder(const CrystalRec *crystal, float bondRadius, int32_t n, RGBColor colour1,
                                RGBColor colour2, int32_t bands, float depth, int32_t height);
void QDrawPlainCylinder(const CrystalRec *crystal, int32_t n, RGBColor colour, float depth);
void DrawPlainCylinder(const CrystalRec *crystal, int32_t n, RGBColor colour, float depth, int32_t height);
void QDrawMultiBandCylinder(const CrystalRec *crystal, int32_t n, RGBColor colour1, RGBColor colour2, int32_t bands,
                            float depth);
void DrawMultiBandCylinder(const CrystalRec *crystal, int32_t n, RGBColor colour1, RGBColor colour2, int32_t bands,
                           float depth, int32_t height);
void QDrawStriatedCylinder(const CrystalRec *crystal, int32_t n, RGBColor colour, float depth);
void DrawStriatedCylinder(const CrystalRec *crystal, int32_t n, RGBColor colour, float depth, int32_t height);
void QDrawBondCap(const CrystalRec *crystal, int32_t n, RGBColor fill, RGBColor frame, float depth, int32_t width,
                  int32_t height);
void DrawBondCap(const CrystalRec *crystal, int32_t n, RGBColor fill, RGBColor frame, float depth, int32_t width,
                 int32_t height);

// A shaded cone, the head of an axis arrow, from the fractional foot to the
// apex at foot + offset. `unusedWidth` is not read; `selected` paints every
// face in the selection colour.
void DrawArrowCone(const CrystalRec *crystal, const float foot[3], const float offset[3], float unusedWidth,
                   float coneRadius, float coneLength, RGBColor colour, uint8_t selected);
