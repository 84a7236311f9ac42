// The three bond-drawing services the vectors and the axes glyph draw with,
// until the bond drawing lands: the lighting of one cylinder strip, the arrow
// cone of an axis, and the cylinder of a vector's shaft.
//
// `GetBondStripeColor` and `DrawArrowCone` are complete. `MakeBondCylinder`
// is a plain stand-in: it cuts the cylinder at the two spheres and paints it
// as one flat quadrilateral in the first colour, depth-shaded; the banded,
// shaded and striated cylinders, their caps and the perspective ends come
// with the bond drawing, whose versions replace this whole file.
#pragma once

#include "RGBColor.h"
#include "StructureRecord.h"

#include <cstdint>

// One strip of a cylinder lit with its unit normal: ambient plus diffuse
// plus a specular term (bond reflectance group); unchanged when n <= 2.
void GetBondStripeColor(RGBColor &out, const CrystalRec *crystal, const float normal[3], int32_t n, RGBColor colour);

// A shaded cone from `foot` to `foot + offset` (fractional coordinates), the
// apex at the far end, in the colour lit face by face; every face in the
// selection-mark colour when `selected`. `unusedWidth` is not read.
void DrawArrowCone(const CrystalRec *crystal, const float foot[3], const float offset[3], float unusedWidth,
                   float coneRadius, float coneLength, RGBColor colour, uint8_t selected);

// A cylinder of radius `bondRadius` between two view points, cut where it
// leaves spheres of radius `radiusA` and `radiusB` about them.
void MakeBondCylinder(const CrystalRec *crystal, const float xyzA[3], const float xyzB[3], float radiusA, float radiusB,
                      float bondRadius, float depth, int32_t width, int32_t height, RGBColor colour1, RGBColor colour2,
                      uint16_t style, bool withCap);
