// The visible outline of a sphere where it interpenetrates its neighbours
// (space filling and the surface-overlay clouds).
//
// A sphere's mask starts as its disc; each neighbour that cuts it trims the
// mask along the projected circle where the two spheres meet, so that the
// nearer sphere's bulge is shown on the right side of the seam. The trims
// are intersections and subtractions of regions, in pixel coordinates.
#pragma once

#include "StructureRecord.h"
#include "graphics/Region.h"

#include <cstdint>
#include <optional>

// Centres closer than this (Angstrom) are not corrected against each other.
inline constexpr float kMinOverlapDistance = 0.01f;
// Masks smaller than this radius (pixels) are not made.
inline constexpr int32_t kMinMaskRadius = 2;
// Seam outlines: at most this many points, none with fewer than the minimum.
inline constexpr int32_t kMaxSeamPoints = 196;
inline constexpr int32_t kMinSeamPoints = 10;
// An angle counts as straight along the view axis above this (degrees).
inline constexpr float kStraightAngle = 179.999f;
// A seam whose sine or cosine of the viewing angle is closer to 0 than this
// has no outline that can be computed (the angle comes from single-precision
// positions, good to about 1e-4); it is left out.
inline constexpr double kDegenerateSeam = 1e-3;

// The disc of atom a at `factor` times its type's radius, centred on its
// pixel position (one pixel smaller on every side for the photo styles);
// none below 2 pixels.
std::optional<ovgfx::Region> MakeSphereMaskRgn(const CrystalRec *crystal, uint32_t atom, float factor);
// Space filling: a's disc trimmed by its bonded neighbours and theirs.
void DoOverlapSphereCorrection(const CrystalRec *crystal, uint32_t atom, std::optional<ovgfx::Region> &region, float factor,
                               int32_t width, int32_t height);
// Clouds: a's disc trimmed by every atom drawn before it that comes close.
void DoFullOverlapSphereCorrection(const CrystalRec *crystal, uint32_t atom, std::optional<ovgfx::Region> &region,
                                   float factor, int32_t width, int32_t height);
// Trims a's region where b's sphere covers a; nothing for no region.
void OverlapSphereCorrection(const CrystalRec *crystal, uint32_t a, uint32_t b, int32_t width, int32_t height,
                             std::optional<ovgfx::Region> &region, float factor);
// True when the angle at b between the direction to a and the view axis has
// a cosine above r1 / r2.
bool BondOverlapsAtom(const CrystalRec *crystal, uint32_t a, uint32_t b, float r1, float r2);
