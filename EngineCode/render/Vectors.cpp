#include "render/Vectors.h"

#include "Geometry.h"
#include "VectorMath.h"
#include "graphics/GraphicsPort.h"
#include "render/AtomStyles.h"
#include "render/BondDrawing.h"
#include "render/PlotPipeline.h"
#include "render/Projection.h"
#include "render/RenderGlobals.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

using namespace ovgfx;

namespace {

constexpr float kPi = 3.14159265358979f;

bool VectorUsable(const CrystalRec &c, uint32_t v) {
  return v < UsableRecords(c.vectors.size(), c.vectorCount) && c.vectors[v].atom < UsableAtomSize(c);
}

// The atom's drawn radius as its image shows it: half the image's pixel
// width over the plot scale; 0 without an image.
float ImageRadius(const CrystalRec &c, uint32_t atom) {
  const uint32_t type = c.atoms[atom].atomType;
  if (type >= UsableSphereSize(c) || !(c.plotScale > 0.0f))
    return 0.0f;
  const PixelBuffer *image = AtomImage(c.spheres[type]);
  if (!image)
    return 0.0f;
  return static_cast<float>(image->Width() / 2) / c.plotScale;
}

// The shaft radius: the bond radius times the drawn radius, or a tenth of
// the bond radius (at least one pixel) on an atom drawn without an image.
float ShaftRadius(const CrystalRec &c, float R) {
  if (R < kBareAtomRadius) {
    float rb = kBareVectorShaftFactor * c.bondRadius;
    if (static_cast<int32_t>(rb * c.plotScale) < 1)
      rb = 1.0f / c.plotScale;
    return rb;
  }
  return c.bondRadius * R;
}

float DepthValue(const CrystalRec &c, float z) { return c.depthFading ? DepthOfZ(c, z) : 1.0f; }

// Rim points of a vector head: about pi times the head radius in pixels,
// halved in a fast frame, even, within 4 to 200.
int32_t VectorRimCount(const CrystalRec &c, float h) {
  const float raw = kPi * h * c.plotScale;
  int32_t n = std::isfinite(raw) ? static_cast<int32_t>(std::clamp(raw, 0.0f, 1.0e6f)) : kMaxConeRim;
  if (gUseFastRotn)
    n /= 2;
  if (n % 2 != 0)
    n++;
  return std::clamp(n, kMinConeRim, kMaxConeRim);
}

void Project(const CrystalRec &c, const float xyz[3], bool warped, int16_t pixel[2]) {
  if (warped)
    Xor2XpixFlat(&c, xyz, pixel, gHPixels, gVPixels);
  else
    Xor2Xpix(&c, xyz, pixel, gHPixels, gVPixels);
}

// Paints one cone face: stippled with mark and colour, solid in the mark
// colour, or lit with its normal and depth-shaded (blended when
// translucent).
void PaintFace(GraphicsPort &port, const CrystalRec &c, const Polygon &face, const float normal[3], int32_t n,
               RGBColor colour, float t, ConeSelection selection) {
  const RGBColor savedFore = port.ForeColor(), savedBack = port.BackColor();
  if (selection == ConeSelection::kStippled) {
    port.SetForeColor(SelectionMarkColor(colour));
    port.SetBackColor(colour);
    port.FillPolygon(face, kHalfStipplePattern);
  } else if (selection == ConeSelection::kSolid) {
    port.SetForeColor(SelectionMarkColor(colour));
    port.PaintPolygon(face);
  } else {
    RGBColor lit, shaded;
    float opacity = 1.0f;
    GetBondStripeColor(lit, &c, normal, n, colour);
    DepthShading(&c, t, lit, shaded, opacity);
    port.SetForeColor(shaded);
    if (opacity < 1.0f) {
      const uint16_t g = static_cast<uint16_t>(std::clamp(opacity, 0.0f, 1.0f) * 65535.0f);
      port.SetPenMode(kPenBlend);
      port.SetOpColor(RGBColor{g, g, g});
    }
    port.PaintPolygon(face);
    port.PenNormal();
  }
  port.SetForeColor(savedFore);
  port.SetBackColor(savedBack);
}

void ShaftAndHead(CrystalRec &c, VectorRecord &v, bool perspective) {
  const AtomRecord &atom = c.atoms[v.atom];
  VecAdd(atom.xyz, v.uvw, v.tipXYZ);
  MatMul(c.orientationMatrix, v.tipXYZ, v.tipCart);
  Xor2Xpix(&c, v.tipCart, v.tipPixel, gHPixels, gVPixels);
  float T[3], P[3], d[3];
  CopyVector(T, v.tipCart);
  CopyVector(P, atom.cart);
  const float t = DepthValue(c, T[2]);
  VecDiff(T, P, d);
  const float length = Magnitude(d);
  if (!(length > 0.0f))
    return;

  const float R = ImageRadius(c, v.atom);
  const float rb = ShaftRadius(c, R);
  const float h = kVectorHeadFactor * rb;
  v.headRadius = h;
  float K[3];
  for (int k = 0; k < 3; k++)
    K[k] = T[k] - kVectorHeadLengthFactor * h * d[k] / length;
  const int32_t n = VectorRimCount(c, h);

  const bool towardsViewer = T[2] >= P[2];
  if (towardsViewer)
    MakeBondCylinder(&c, K, P, 0.0f, R, rb, t, gHPixels, gVPixels, v.colour, v.colour, c.defaultBondStyle, false);

  const ConeSelection selection = v.selected ? ConeSelection::kStippled : ConeSelection::kNone;
  if (perspective) {
    // The head is built in perspective space and projected flat there; its
    // radius shrinks with the depth of its base like everything else.
    float Tw[3], Kw[3];
    Xor2Perspective(&c, T, Tw);
    Xor2Perspective(&c, K, Kw);
    DrawConeHead(c, Tw, Kw, h * PerspectiveFactor(c, K[2]), n, v.colour, t, selection, true);
  } else {
    DrawConeHead(c, T, K, h, n, v.colour, t, selection, false);
  }
  if (v.selected) {
    if (GraphicsPort *port = CurrentPort())
      port->SetPixel(v.tipPixel[0], v.tipPixel[1], SelectionMarkColor(v.colour));
  }

  if (P[2] > T[2])
    MakeBondCylinder(&c, P, K, R, 0.0f, rb, t, gHPixels, gVPixels, v.colour, v.colour, c.defaultBondStyle, false);
}

// Draws, for each vector of the atom, the arrow when `arrowHere` says its
// tip's z puts it on this side of the atom, else the tail.
template <class ArrowHere> void DrawVectorsOfAtom(CrystalRec *crystal, uint32_t atom, ArrowHere arrowHere) {
  if (!crystal || atom >= UsableAtomSize(*crystal))
    return;
  CrystalRec &c = *crystal;
  bool named = false;
  const size_t count = UsableRecords(c.vectors.size(), c.vectorCount);
  for (size_t i = 0; i < count; i++) {
    const VectorRecord &v = c.vectors[i];
    if (v.atom != atom)
      continue;
    named = true;
    float tip[3];
    MatMul(c.orientationMatrix, v.tipXYZ, tip);
    if (arrowHere(c.atoms[atom].cart[2], tip[2]))
      DrawVector(&c, static_cast<uint32_t>(i));
    else
      DrawVectorTail(&c, static_cast<uint32_t>(i));
  }
  if (!named)
    c.atoms[atom].hasVector = 0;
}

} // namespace

RGBColor SelectionMarkColor(const RGBColor &colour) {
  const bool yellowish =
      colour.red >= kYellowishMin && colour.green >= kYellowishMin && colour.blue <= kYellowishMaxBlue;
  return yellowish ? RGBColor{65535, 0, 0} : kRGBYellow;
}

void DrawConeHead(const CrystalRec &c, const float apex[3], const float base[3], float radius, int32_t n,
                  RGBColor colour, float t, ConeSelection selection, bool warped) {
  GraphicsPort *port = CurrentPort();
  if (!port || n < 3)
    return;
  float axis[3];
  VecDiff(apex, base, axis);
  float unitAxis[3];
  if (!GetUnitVector(axis, unitAxis))
    return;
  // Across the axis in the view plane, and the third direction.
  float e[2] = {1.0f, 0.0f};
  const float planar = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1]);
  if (planar > 0.0f) {
    e[0] = axis[0] / planar;
    e[1] = axis[1] / planar;
  }
  const float across[3] = {-e[1], e[0], 0.0f};
  float up[3];
  CrossProduct(unitAxis, across, up);

  const float step = 2.0f * kPi / static_cast<float>(n);
  std::vector<std::array<float, 3>> rim(static_cast<size_t>(n));
  std::vector<Point> pixels(static_cast<size_t>(n));
  for (int32_t k = 0; k < n; k++) {
    const float a = step * static_cast<float>(k);
    const float ca = std::cos(a), sa = std::sin(a);
    for (int j = 0; j < 3; j++)
      rim[k][j] = base[j] + radius * (ca * across[j] + sa * up[j]);
    int16_t px[2];
    Project(c, rim[k].data(), warped, px);
    pixels[k] = Point{px[1], px[0]};
  }
  int16_t apexPixel[2];
  Project(c, apex, warped, apexPixel);

  for (int32_t k = 0; k < n; k++) {
    const float *p0 = rim[k].data();
    const float *p1 = rim[(k + 1) % n].data();
    float normal[3];
    CalcPlaneNormalUp(p0, apex, p1, normal);
    // Seen from outside: the normal leads away from the base centre.
    float inward[3];
    VecDiff(base, p0, inward);
    if (DotProduct(inward, normal) > 0.0f)
      continue;
    Polygon face;
    face.Add(pixels[k].h, pixels[k].v);
    face.Add(apexPixel[0], apexPixel[1]);
    face.Add(pixels[(k + 1) % n].h, pixels[(k + 1) % n].v);
    PaintFace(*port, c, face, normal, n, colour, t, selection);
  }
  if (base[2] > apex[2]) {
    float normal[3];
    CalcPlaneNormalUp(rim[0].data(), rim[static_cast<size_t>(n / 3)].data(), rim[static_cast<size_t>(2 * n / 3)].data(),
                      normal);
    PaintFace(*port, c, Polygon(pixels), normal, n, colour, t, selection);
  }
}

void DrawVectorBelowAtom(CrystalRec *crystal, uint32_t atom) {
  DrawVectorsOfAtom(crystal, atom, [](float atomZ, float tipZ) { return atomZ > tipZ; });
}

void DrawVectorAboveAtom(CrystalRec *crystal, uint32_t atom) {
  DrawVectorsOfAtom(crystal, atom, [](float atomZ, float tipZ) { return tipZ >= atomZ; });
}

void DrawVector(CrystalRec *crystal, uint32_t vector) {
  if (!crystal || !VectorUsable(*crystal, vector))
    return;
  if (crystal->perspective) {
    DrawPerspectiveVector(crystal, vector);
    return;
  }
  ShaftAndHead(*crystal, crystal->vectors[vector], false);
}

void DrawPerspectiveVector(CrystalRec *crystal, uint32_t vector) {
  if (!crystal || !VectorUsable(*crystal, vector))
    return;
  crystal->perspective = 1;
  ShaftAndHead(*crystal, crystal->vectors[vector], true);
}

void DrawVectorTail(CrystalRec *crystal, uint32_t vector) {
  if (!crystal || !VectorUsable(*crystal, vector))
    return;
  CrystalRec &c = *crystal;
  const VectorRecord &v = c.vectors[vector];
  if (v.style != kVectorStyleWithTail)
    return;
  const AtomRecord &atom = c.atoms[v.atom];
  float mirrored[3], Q[3], P[3], d[3];
  VecDiff(atom.xyz, v.uvw, mirrored);
  MatMul(c.orientationMatrix, mirrored, Q);
  CopyVector(P, atom.cart);
  const float R = ImageRadius(c, v.atom);
  const float rb = ShaftRadius(c, R);
  const float t = DepthValue(c, Q[2]);
  VecDiff(P, Q, d);
  const float length = Magnitude(d);
  if (!(length > 0.0f))
    return;
  float E[3];
  for (int k = 0; k < 3; k++)
    E[k] = Q[k] + kVectorTailShortening * rb * d[k] / length;
  // The end nearer the viewer goes first, so the cap closes it.
  if (E[2] > P[2])
    MakeBondCylinder(&c, E, P, 0.0f, R, rb, t, gHPixels, gVPixels, v.colour, v.colour, c.defaultBondStyle, true);
  else
    MakeBondCylinder(&c, P, E, R, 0.0f, rb, t, gHPixels, gVPixels, v.colour, v.colour, c.defaultBondStyle, true);
}
