#include "render/PolyhedronDrawing.h"

#include "Polyhedra.h"
#include "VectorMath.h"
#include "graphics/GraphicsPort.h"
#include "render/AtomStyles.h"
#include "render/DashedLines.h"
#include "render/DrawingHelpers.h"
#include "render/PlotPipeline.h"
#include "render/PolygonClip.h"
#include "render/Projection.h"
#include "render/RasterPrimitives.h"
#include "render/RenderGlobals.h"

#include <algorithm>
#include "render/AtomLabels.h"
#include "render/BondDrawing.h"
#include "render/PlotPipeline.h"
#include "render/Vectors.h"

#include <array>
#include <cmath>
#include <vector>

using namespace ovgfx;

namespace {

// The pipeline's own routines; a test may put recorders in their place.
ModelDrawingHooks gHooks{PlotAndLabelAtom,      MakeBond,           PlotWireFrameLine, DrawSelectedWireFrameAtom,
                         DrawVectorBelowAtom, DrawVectorAboveAtom, LabelAtom};

// The working state of one MakePoly call, read by its helpers.
struct PolyEdge {
  uint32_t a = 0;
  uint32_t b = 0;
  uint8_t visible = 0;
};
struct PolyWork {
  const Polyhedron *poly = nullptr;
  std::vector<uint8_t> faceVisible;
  std::vector<std::array<float, 3>> normals;
  std::vector<PolyEdge> edges;
  float ambient[3] = {0, 0, 0};
  float diffuse[3] = {0, 0, 0};
  float specularCutOff = 0;
  float specularCoefficient = 0;
};
PolyWork gPolyWork;

// Clears the working state when MakePoly leaves, on every path.
struct PolyWorkScope {
  ~PolyWorkScope() { gPolyWork = PolyWork{}; }
};

bool ValidAtomIndex(const CrystalRec &c, uint32_t atom) { return atom < UsableAtomSize(c); }

bool SiteVisible(const CrystalRec &c, const AtomRecord &a) {
  return a.site < UsableSiteSize(c) && c.sites[a.site].visible;
}

uint32_t SiteMode(const CrystalRec &c, uint32_t atom) {
  const AtomRecord &a = c.atoms[atom];
  return a.site < UsableSiteSize(c) ? SitePolyMode(c, a.site) : 0;
}

float DrawnRadius(const CrystalRec &c, uint32_t atom) {
  const uint32_t type = c.atoms[atom].atomType;
  return type < UsableSphereSize(c) ? c.spheres[type].drawnRadius : 0.0f;
}

RGBColor TypeColour(const CrystalRec &c, uint32_t atom) {
  const uint32_t type = c.atoms[atom].atomType;
  return type < UsableSphereSize(c) ? c.spheres[type].colour : kRGBBlack;
}

uint32_t BondTotal(const AtomRecord &a) { return std::min<uint32_t>(a.bondCount, uint32_t(a.bonds.size())); }

// The depth a pipeline atom is drawn at: its normalised height with depth
// fading on, else 0.
float AtomDepth(const CrystalRec &c, uint32_t atom) {
  return c.depthFading ? DepthOfZ(c, c.atoms[atom].cart[2]) : 0.0f;
}

void PlotAtom(CrystalRec *c, uint32_t atom, float t) {
  if (gHooks.plotAndLabelAtom)
    gHooks.plotAndLabelAtom(c, atom, t, std::nullopt);
}
void VectorBelow(CrystalRec *c, uint32_t atom) {
  if (gHooks.drawVectorBelowAtom && c->atoms[atom].hasVector)
    gHooks.drawVectorBelowAtom(c, atom);
}
void VectorAbove(CrystalRec *c, uint32_t atom) {
  if (gHooks.drawVectorAboveAtom && c->atoms[atom].hasVector)
    gHooks.drawVectorAboveAtom(c, atom);
}
void SelectedMark(CrystalRec *c, uint32_t atom) {
  if (gHooks.drawSelectedWireFrameAtom && c->atoms[atom].selected)
    gHooks.drawSelectedWireFrameAtom(c, atom);
}
void Label(CrystalRec *c, uint32_t atom, float t) {
  if (gHooks.labelAtom && c->atoms[atom].labelled)
    gHooks.labelAtom(c, atom, t, c->hiliteColor);
}

// The frame and hatch width of modes 13 and 14: one pixel a point of
// resolution from 144 dots per inch on, else 1.
int16_t FaceFrameWidth() { return gPlotRes > kPolyFrameGrowsAbove ? ScaledToPlotRes(1) : int16_t(1); }

// A grey operation colour of the given share of full strength.
RGBColor GreyOp(float share) {
  const float v = std::clamp(share, 0.0f, 65535.0f);
  const uint16_t g = uint16_t(v);
  return RGBColor{g, g, g};
}

// Paints a polygon in the colour: solid, or blended with an operation
// colour when `blend` is set. The port's pen is reset afterwards.
void PaintFace(GraphicsPort &port, const Polygon &polygon, RGBColor colour, bool blend, RGBColor op) {
  port.PenNormal();
  port.SetForeColor(colour);
  if (blend) {
    port.SetPenMode(kPenBlend);
    port.SetOpColor(op);
  }
  port.PaintPolygon(polygon);
  port.PenNormal();
}

// A pen frame of the closed polygon with a w x w pen.
void PenFrameFace(GraphicsPort &port, const Polygon &polygon, RGBColor colour, int16_t w) {
  port.PenNormal();
  port.PenSize(w, w);
  port.SetForeColor(colour);
  port.FramePolygon(polygon);
  port.PenNormal();
}

// Lighting coefficients of the atom-type colour V (channels 0 to 65535):
// ambient V Ia kA / 65535 and diffuse V Il kD / 65535 per channel, the
// specular coefficient Il kS and the cut-off 10^(-37 / N).
void SetFaceLighting(const CrystalRec &c, RGBColor V) {
  const float kA = c.kA[kPolyReflectance], kD = c.kD[kPolyReflectance], kS = c.kS[kPolyReflectance];
  const float N = float(std::max<uint16_t>(c.phongN[kPolyReflectance], 1));
  const float channel[3] = {float(V.red), float(V.green), float(V.blue)};
  for (int i = 0; i < 3; ++i) {
    gPolyWork.ambient[i] = channel[i] * c.ambientIntensity * kA / 65535.0f;
    gPolyWork.diffuse[i] = channel[i] * c.pointIntensity * kD / 65535.0f;
  }
  gPolyWork.specularCoefficient = c.pointIntensity * kS;
  gPolyWork.specularCutOff = std::pow(10.0f, -kSpecularExponentLimit / N);
}

// A point in the space the normals are taken in: perspective space when
// perspective is on.
void NormalSpace(const CrystalRec &c, const float in[3], float out[3]) {
  if (c.perspective)
    Xor2Perspective(&c, in, out);
  else
    CopyVector(out, in);
}

// Unit outward face normals and the visible flags. False when the
// centroid cannot be found.
bool ComputeFaceNormals(const CrystalRec &c, const Polyhedron &poly) {
  const size_t faces = std::min<size_t>(poly.faceCount, poly.faces.size());
  gPolyWork.normals.assign(faces, {0.0f, 0.0f, 0.0f});
  gPolyWork.faceVisible.assign(faces, 0);
  float centroid[3] = {0, 0, 0};
  if (faces > 1) {
    float raw[3];
    if (!GetPolyCentroid(&poly, c.atoms, raw))
      return false;
    NormalSpace(c, raw, centroid);
  }
  for (size_t f = 0; f < faces; ++f) {
    const PolyFace &face = poly.faces[f];
    const uint32_t n = std::min<uint32_t>(face.vertexCount, uint32_t(face.vertices.size()));
    if (n < 2)
      continue;
    float mean[3] = {0, 0, 0};
    for (uint32_t k = 0; k < n; ++k)
      for (int i = 0; i < 3; ++i)
        mean[i] += c.atoms[face.vertices[k]].cart[i];
    for (int i = 0; i < 3; ++i)
      mean[i] /= float(n);
    float m[3], a1[3], a2[3];
    NormalSpace(c, mean, m);
    NormalSpace(c, c.atoms[face.vertices[0]].cart, a1);
    NormalSpace(c, c.atoms[face.vertices[1]].cart, a2);
    float u[3], v[3], cross[3], unit[3] = {0, 0, 0};
    VecDiff(a1, m, u);
    VecDiff(a2, m, v);
    CrossProduct(u, v, cross);
    GetUnitVector(cross, unit);
    if (faces == 1) {
      if (unit[2] < 0.0f)
        VecNegate(unit);
    } else {
      float out[3];
      VecDiff(a1, centroid, out);
      if (DotProduct(out, unit) < 0.0f)
        VecNegate(unit);
    }
    gPolyWork.normals[f] = {unit[0], unit[1], unit[2]};
    gPolyWork.faceVisible[f] = unit[2] >= 0.0f;
  }
  return true;
}

// The distinct edges of the faces, visible when any face holding them is.
void BuildEdgeList(const Polyhedron &poly) {
  const size_t faces = gPolyWork.normals.size();
  const size_t capacity = faces > 1 ? size_t(poly.vertexCount) + faces - 2 : size_t(poly.vertexCount);
  gPolyWork.edges.clear();
  gPolyWork.edges.reserve(capacity);
  for (size_t f = 0; f < faces; ++f) {
    const PolyFace &face = poly.faces[f];
    const uint32_t n = std::min<uint32_t>(face.vertexCount, uint32_t(face.vertices.size()));
    const uint8_t visible = gPolyWork.faceVisible[f];
    for (uint32_t k = 0; k < n; ++k) {
      const uint32_t a = face.vertices[k], b = face.vertices[(k + 1) % n];
      auto found = std::find_if(gPolyWork.edges.begin(), gPolyWork.edges.end(),
                                [a, b](const PolyEdge &e) { return (e.a == a && e.b == b) || (e.a == b && e.b == a); });
      if (found != gPolyWork.edges.end()) {
        if (visible)
          found->visible = 1;
      } else if (gPolyWork.edges.size() < capacity) {
        gPolyWork.edges.push_back(PolyEdge{a, b, visible});
      }
    }
  }
}

// True when every vertex of the face lies in the atoms array.
bool FaceInRange(const CrystalRec &c, const PolyFace &face) {
  const uint32_t n = std::min<uint32_t>(face.vertexCount, uint32_t(face.vertices.size()));
  for (uint32_t k = 0; k < n; ++k)
    if (!ValidAtomIndex(c, face.vertices[k]))
      return false;
  return n > 0;
}

// Rounds to the nearest whole pixel, halves downwards.
int RoundHalfDown(float v) { return int(std::ceil(v - 0.5f)); }

// Mode 14: eight hatch lines across the face, parallel to its highest edge.
void HatchFace(const CrystalRec &c, const PolyFace &face, RGBColor colour, int16_t w) {
  const uint32_t n = std::min<uint32_t>(face.vertexCount, uint32_t(face.vertices.size()));
  if (n < 3)
    return;
  auto z = [&](uint32_t k) { return c.atoms[face.vertices[k]].cart[2]; };
  auto px = [&](uint32_t k) { return float(c.atoms[face.vertices[k]].pixel[0]); };
  auto py = [&](uint32_t k) { return float(c.atoms[face.vertices[k]].pixel[1]); };
  // The reference edge: the highest vertex and its higher neighbour (the
  // following one on a tie). `s` and `e` are consecutive in face order.
  uint32_t top = 0;
  for (uint32_t k = 1; k < n; ++k)
    if (z(k) > z(top))
      top = k;
  const uint32_t prev = (top + n - 1) % n, next = (top + 1) % n;
  uint32_t s = top, e = next;
  if (z(prev) > z(next)) {
    s = prev;
    e = top;
  }
  const float x0 = px(s), y0 = py(s), x1 = px(e), y1 = py(e);
  const float dx = x1 - x0, dy = y1 - y0;
  const float len = std::sqrt(dx * dx + dy * dy);
  std::vector<float> dist(n, 0.0f);
  float D = 0.0f;
  for (uint32_t k = 0; k < n; ++k) {
    if (k == s || k == e)
      continue;
    float d;
    if (dx == 0.0f)
      d = std::fabs(px(k) - x0);
    else if (dy == 0.0f)
      d = std::fabs(py(k) - y0);
    else
      d = std::fabs((px(k) - x0) * dy - (py(k) - y0) * dx) / len;
    dist[k] = d;
    D = std::max(D, d);
  }
  if (D <= 0.0f)
    return;
  // Walks from `start` in `step` (+1 or -1) until a vertex reaches the
  // distance h, and interpolates between it and the vertex before.
  auto walk = [&](uint32_t start, int step, float h, int &hx, int &hy) {
    uint32_t last = start;
    for (uint32_t taken = 0; taken < n; ++taken) {
      const uint32_t cur = uint32_t((int64_t(last) + step + n) % n);
      if (dist[cur] >= h) {
        const float span = dist[cur] - dist[last];
        const float f = span > 0.0f ? (h - dist[last]) / span : 0.0f;
        hx = RoundHalfDown(px(last) + (px(cur) - px(last)) * f);
        hy = RoundHalfDown(py(last) + (py(cur) - py(last)) * f);
        return true;
      }
      last = cur;
    }
    return false;
  };
  GraphicsPort *port = CurrentPort();
  const bool smooth = w == 1 && UseSmoothDrawing();
  for (int i = 1; i <= kPolyHatchLines; ++i) {
    const float h = float(i) * D / float(kPolyHatchLines + 1);
    int ax, ay, bx, by;
    if (!walk(s, -1, h, ax, ay) || !walk(e, +1, h, bx, by))
      continue;
    if (smooth) {
      MyDrawSmoothLine(int16_t(ax), int16_t(ay), int16_t(bx), int16_t(by), colour);
    } else if (port) {
      port->PenNormal();
      port->PenSize(w, w);
      port->SetForeColor(colour);
      port->MoveTo(ax, ay);
      port->LineTo(bx, by);
      port->PenNormal();
    }
  }
}

// Selection: each visible face's outline framed in red or yellow, then in
// the dark and the light grey patterns just inside it.
void FrameSelectedFaces(const CrystalRec &c, const Polyhedron &poly, RGBColor typeColour) {
  GraphicsPort *port = CurrentPort();
  if (!port)
    return;
  const int16_t w = ScaledToPlotRes(1);
  const bool yellowish =
      typeColour.red >= kYellowishMin && typeColour.green >= kYellowishMin && typeColour.blue <= kYellowishMaxBlue;
  const RGBColor mark = yellowish ? kRGBRed : kRGBYellow;
  for (size_t f = 0; f < gPolyWork.faceVisible.size(); ++f) {
    if (!gPolyWork.faceVisible[f])
      continue;
    std::optional<Polygon> outline = MakePolyFaceHdl(&c, &poly.faces[f]);
    if (!outline)
      return;
    std::optional<Region> region = Region::FromPolygon(*outline, PolygonClipLimit());
    port->PenNormal();
    port->PenSize(w, w);
    port->SetForeColor(mark);
    port->FrameRegion(*region);
    region->Inset(w, w);
    port->SetPenPattern(kDarkStipplePattern);
    port->FrameRegion(*region);
    region->Inset(w, w);
    port->SetPenPattern(kLightStipplePattern);
    port->FrameRegion(*region);
    port->PenNormal();
  }
}

// True when the atom is a vertex of a visible face.
bool IsVertexOfVisibleFace(const Polyhedron &poly, uint32_t atom) {
  for (size_t f = 0; f < gPolyWork.faceVisible.size(); ++f) {
    if (!gPolyWork.faceVisible[f])
      continue;
    const PolyFace &face = poly.faces[f];
    const uint32_t n = std::min<uint32_t>(face.vertexCount, uint32_t(face.vertices.size()));
    if (std::find(face.vertices.begin(), face.vertices.begin() + n, atom) != face.vertices.begin() + n)
      return true;
  }
  return false;
}

// Ligands drawn as atoms (site modes 2 and 6) that lie on visible faces and
// not above the centre are drawn again, lowest first, over the faces.
void RedrawVertexAtoms(CrystalRec &c, uint32_t atom, const Polyhedron &poly) {
  const AtomRecord &centre = c.atoms[atom];
  std::vector<uint32_t> ligands;
  for (uint32_t k = 0; k < BondTotal(centre); ++k) {
    const uint32_t b = centre.bonds[k];
    if (!ValidAtomIndex(c, b) || !c.atoms[b].visible || !SiteVisible(c, c.atoms[b]))
      continue;
    const uint32_t mode = SiteMode(c, b);
    if (mode == kPolyModeAtom || mode == kPolyModeAtomWireBonds)
      ligands.push_back(b);
  }
  std::stable_sort(ligands.begin(), ligands.end(),
                   [&c](uint32_t x, uint32_t y) { return c.atoms[x].cart[2] < c.atoms[y].cart[2]; });
  for (uint32_t b : ligands)
    if (c.atoms[b].cart[2] <= centre.cart[2] && IsVertexOfVisibleFace(poly, b))
      PlotAtom(&c, b, AtomDepth(c, b));
}

// Modes 3 to 5 and 8 to 10: edges, translucent faces, the atom between.
void DrawOpenPolyhedron(CrystalRec &c, uint32_t atom, float depth, uint32_t mode, RGBColor typeColour) {
  const Polyhedron &poly = *gPolyWork.poly;
  const bool translucent = mode >= kPolyModeOpenFill;
  RGBColor edgeColour;
  float edgeFactor = 1.0f;
  bool edges = true;
  if (translucent)
    edges = GetPolyFrameColor(&c, depth, typeColour, edgeColour, edgeFactor);
  else
    DepthShading(&c, depth, typeColour, edgeColour, edgeFactor);
  const size_t faces = gPolyWork.normals.size();
  // Every face's outline first: one that cannot be made ends the faces and
  // the edges.
  std::vector<Polygon> outlines;
  outlines.reserve(faces);
  for (size_t f = 0; f < faces; ++f) {
    std::optional<Polygon> p = MakePolyFaceHdl(&c, &poly.faces[f]);
    if (!p)
      return;
    outlines.push_back(std::move(*p));
  }
  GraphicsPort *port = CurrentPort();
  if (translucent && port) {
    for (size_t f = 0; f < faces; ++f) {
      if (gPolyWork.faceVisible[f] && faces > 1)
        continue;
      RGBColor colour;
      float factor;
      ColorPolyFace(&c, uint32_t(f), -1, colour, factor, depth);
      PaintFace(*port, outlines[f], colour, true, GreyOp(factor * 32767.5f));
    }
  }
  if (faces > 1 && edges)
    DrawPolyEdges(&c, false, edgeColour, true, edgeFactor);
  if (mode == kPolyModeOpenAtom || mode == kPolyModeOpenFillAtom) {
    VectorBelow(&c, atom);
    PlotAtom(&c, atom, depth);
    VectorAbove(&c, atom);
  } else if (mode == kPolyModeOpenAtomBonds || mode == kPolyModeOpenFillAtomBonds) {
    MakePolyBallAndStick(&c, atom, depth);
  }
  if (translucent && port) {
    for (size_t f = 0; f < faces; ++f) {
      if (!gPolyWork.faceVisible[f])
        continue;
      RGBColor colour;
      float factor;
      ColorPolyFace(&c, uint32_t(f), +1, colour, factor, depth);
      PaintFace(*port, outlines[f], colour, true, GreyOp(factor * 32767.5f));
    }
  }
  if (edges)
    DrawPolyEdges(&c, true, edgeColour, false, edgeFactor);
}

// Modes 13 and 14: each visible face filled in one colour and framed in
// another, then hatched when asked.
void DrawFlatFaces(const CrystalRec &c, RGBColor fill, RGBColor frame, int16_t frameWidth, bool hatch,
                   RGBColor hatchColour, int16_t hatchWidth) {
  GraphicsPort *port = CurrentPort();
  if (!port)
    return;
  const Polyhedron &poly = *gPolyWork.poly;
  for (size_t f = 0; f < gPolyWork.normals.size(); ++f) {
    if (!gPolyWork.faceVisible[f])
      continue;
    std::optional<Polygon> outline = MakePolyFaceHdl(&c, &poly.faces[f]);
    if (!outline)
      continue;
    PaintFace(*port, *outline, fill, false, {});
    if (UseSmoothDrawing())
      FramePolyFace(&c, &poly.faces[f], frame, frameWidth);
    else
      PenFrameFace(*port, *outline, frame, frameWidth);
    if (hatch)
      HatchFace(c, poly.faces[f], hatchColour, hatchWidth);
  }
}

// Mode 13: opaque faces in the atom-type colour, framed white or black.
void DrawSolidFaces(const CrystalRec &c, RGBColor typeColour) {
  const uint32_t sum = uint32_t(typeColour.red) + typeColour.green + typeColour.blue;
  const RGBColor frame = sum < kPolyFrameWhiteBelowSum ? kRGBWhite : kRGBBlack;
  DrawFlatFaces(c, typeColour, frame, FaceFrameWidth(), false, {}, 0);
}

// Mode 14: white faces framed and hatched in the atom-type colour.
void DrawHatchedFaces(const CrystalRec &c, RGBColor typeColour) {
  const int16_t w = FaceFrameWidth();
  DrawFlatFaces(c, kRGBWhite, typeColour, int16_t(w + 1), true, typeColour, w);
}

// Mode 15: lit faces, then the visible edges in the edge colour.
void DrawShadedFaces(const CrystalRec &c, float depth, RGBColor typeColour) {
  for (size_t f = 0; f < gPolyWork.normals.size(); ++f)
    if (gPolyWork.faceVisible[f])
      PlotPolyFaceShaded(&c, uint32_t(f), depth);
  RGBColor edgeColour;
  float factor;
  if (GetPolyFrameColor(&c, depth, typeColour, edgeColour, factor))
    DrawPolyEdges(&c, true, edgeColour, false, factor);
}

// The bond-form radius: bond (or, for mode 12, stick) radius times the
// smallest atom radius, rounded to a whole pixel diameter (at least one).
float LigandBondRadius(const CrystalRec &c, uint32_t mode) {
  const float r = (mode == kPolyModeStickBonds ? c.stickRadius : c.bondRadius) * c.minAtomRadius;
  if (c.plotScale <= 0.0f)
    return r;
  const int diameter = RoundHalfAway(2.0f * r * c.plotScale);
  const float pixels = diameter < 1 ? 0.5f : float(diameter) / 2.0f;
  return pixels / c.plotScale;
}

// Visible bonded atoms on visible sites.
uint32_t VisibleLigandCount(const CrystalRec &c, uint32_t atom) {
  const AtomRecord &a = c.atoms[atom];
  uint32_t n = 0;
  for (uint32_t k = 0; k < BondTotal(a); ++k) {
    const uint32_t b = a.bonds[k];
    n += ValidAtomIndex(c, b) && c.atoms[b].visible && SiteVisible(c, c.atoms[b]);
  }
  return n;
}

} // namespace

void SetModelDrawingHooks(const ModelDrawingHooks &hooks) { gHooks = hooks; }
const ModelDrawingHooks &GetModelDrawingHooks() { return gHooks; }

// ---- MakePoly ----------------------------------------------------------------------------------

void MakePoly(CrystalRec *crystal, uint32_t atom, float depth) {
  if (!crystal || !ValidAtomIndex(*crystal, atom))
    return;
  CrystalRec &c = *crystal;
  const AtomRecord &a = c.atoms[atom];
  const Polyhedron *held = AtomPolyhedron(crystal, a);
  if (!held || a.site >= UsableSiteSize(c))
    return;
  const Polyhedron &poly = *held;
  for (uint32_t k = 0; k < BondTotal(a); ++k) {
    const uint32_t b = a.bonds[k];
    if (!ValidAtomIndex(c, b) || !c.atoms[b].visible || !SiteVisible(c, c.atoms[b]))
      return;
  }
  if (!c.molecule && a.bondCount < c.sites[a.site].coordination)
    return;
  for (size_t f = 0; f < std::min<size_t>(poly.faceCount, poly.faces.size()); ++f)
    if (!FaceInRange(c, poly.faces[f]))
      return;

  PolyWorkScope scope;
  gPolyWork.poly = &poly;
  const RGBColor typeColour = TypeColour(c, atom);
  SetFaceLighting(c, typeColour);
  if (!ComputeFaceNormals(c, poly))
    return;
  BuildEdgeList(poly);

  const uint32_t mode = SitePolyMode(c, a.site);
  switch (mode) {
  case kPolyModeOpen:
  case kPolyModeOpenAtom:
  case kPolyModeOpenAtomBonds:
  case kPolyModeOpenFill:
  case kPolyModeOpenFillAtom:
  case kPolyModeOpenFillAtomBonds:
    DrawOpenPolyhedron(c, atom, depth, mode, typeColour);
    break;
  case kPolyModeSolidFill:
    DrawSolidFaces(c, typeColour);
    break;
  case kPolyModePatternShaded:
    DrawHatchedFaces(c, typeColour);
    break;
  case kPolyModeColourShaded:
    DrawShadedFaces(c, depth, typeColour);
    break;
  default:
    break;
  }
  if (a.selected)
    FrameSelectedFaces(c, poly, typeColour);
  RedrawVertexAtoms(c, atom, poly);
  Label(&c, atom, depth);
}

// ---- Bond forms ------------------------------------------------------------------------------------

void MakePolyBallAndStick(CrystalRec *crystal, uint32_t atom, float depth) {
  if (!crystal || !ValidAtomIndex(*crystal, atom))
    return;
  CrystalRec &c = *crystal;
  const uint32_t mode = SiteMode(c, atom);
  const float bondRadius = LigandBondRadius(c, mode);
  const bool stickCentre = mode == kPolyModeStickBonds;
  const bool centreDrawn = !stickCentre || c.atoms[atom].bondCount >= 2;
  const float centreRadius = centreDrawn ? DrawnRadius(c, atom) : 0.0f;
  std::vector<uint32_t> below, above;
  SortBonds(&c, atom, below, above);

  for (uint32_t b : below) {
    const uint32_t other = SiteMode(c, b);
    float otherRadius = 0.0f;
    if (other == kPolyModeAtom || other == kPolyModeOpenAtom || other == kPolyModeOpenAtomBonds ||
        other == kPolyModeOpenFillAtom || other == kPolyModeOpenFillAtomBonds) {
      otherRadius = DrawnRadius(c, b);
    } else if (other == kPolyModeAtomWireBonds || other == kPolyModeAtomStickBonds || other == kPolyModeStickBonds) {
      continue; // that atom draws the bond
    }
    if (gHooks.makeBond)
      gHooks.makeBond(&c, atom, b, centreRadius, otherRadius, bondRadius, depth, gHPixels, gVPixels);
    if (otherRadius == 0.0f)
      SelectedMark(&c, b);
  }
  VectorBelow(&c, atom);
  if (mode == kPolyModeOpenAtomBonds || mode == kPolyModeAtomStickBonds || mode == kPolyModeOpenFillAtomBonds ||
      (stickCentre && centreDrawn))
    PlotAtom(&c, atom, depth);
  else
    SelectedMark(&c, atom);
  for (uint32_t b : above) {
    const uint32_t other = SiteMode(c, b);
    float otherRadius = DrawnRadius(c, b);
    if (other == kPolyModeVertex)
      otherRadius = 0.0f;
    else if (other == kPolyModeStickBonds && VisibleLigandCount(c, b) < 2)
      otherRadius = 0.0f;
    if (gHooks.makeBond)
      gHooks.makeBond(&c, b, atom, otherRadius, centreRadius, bondRadius, depth, gHPixels, gVPixels);
    SelectedMark(&c, b);
  }
  VectorAbove(&c, atom);
}

void MakePolyWireFrame(CrystalRec *crystal, uint32_t atom, float depth, int16_t withAtom) {
  if (!crystal || !ValidAtomIndex(*crystal, atom))
    return;
  CrystalRec &c = *crystal;
  const float centreRadius = withAtom ? DrawnRadius(c, atom) : 0.0f;
  auto otherRadius = [&c](uint32_t b) {
    const uint32_t other = SiteMode(c, b);
    return other == kPolyModeAtom || other == kPolyModeAtomWireBonds ? DrawnRadius(c, b) : 0.0f;
  };
  std::vector<uint32_t> below, above;
  SortBonds(&c, atom, below, above);
  for (uint32_t b : below)
    if (gHooks.plotWireFrameLine)
      gHooks.plotWireFrameLine(&c, atom, b, centreRadius, otherRadius(b), depth);
  VectorBelow(&c, atom);
  if (withAtom) {
    PlotAtom(&c, atom, depth); // with its label
  } else {
    SelectedMark(&c, atom);
    Label(&c, atom, depth);
  }
  for (uint32_t b : above)
    if (gHooks.plotWireFrameLine)
      gHooks.plotWireFrameLine(&c, b, atom, otherRadius(b), centreRadius, depth);
  VectorAbove(&c, atom);
}

// ---- Faces -------------------------------------------------------------------------------------------

std::optional<Polygon> MakePolyFaceHdl(const CrystalRec *crystal, const PolyFace *face) {
  if (!crystal || !face || crystal->atoms.empty() || !FaceInRange(*crystal, *face))
    return std::nullopt;
  const uint32_t n = std::min<uint32_t>(face->vertexCount, uint32_t(face->vertices.size()));
  Polygon polygon;
  for (uint32_t k = 0; k <= n; ++k) {
    const AtomRecord &v = crystal->atoms[face->vertices[k % n]];
    polygon.Add(v.pixel[0], v.pixel[1]);
  }
  return polygon;
}

std::optional<Region> MakeRegionFaceHdl(const CrystalRec *crystal, const PolyFace *face) {
  std::optional<Polygon> polygon = MakePolyFaceHdl(crystal, face);
  if (!polygon)
    return std::nullopt;
  return Region::FromPolygon(*polygon);
}

void FramePolyFace(const CrystalRec *crystal, const PolyFace *face, RGBColor colour, int16_t width) {
  if (!crystal || !face || !FaceInRange(*crystal, *face))
    return;
  const uint32_t n = std::min<uint32_t>(face->vertexCount, uint32_t(face->vertices.size()));
  for (uint32_t k = 0; k < n; ++k) {
    const AtomRecord &p = crystal->atoms[face->vertices[k]];
    const AtomRecord &q = crystal->atoms[face->vertices[(k + 1) % n]];
    MyDrawRealSmoothThickLine(float(p.pixel[0]), float(p.pixel[1]), float(q.pixel[0]), float(q.pixel[1]), width,
                              colour);
  }
}

void ColorPolyFace(const CrystalRec *crystal, uint32_t face, int side, RGBColor &colour, float &factor, float depth) {
  colour = kRGBBlack;
  factor = 1.0f;
  if (!crystal || face >= gPolyWork.normals.size())
    return;
  const CrystalRec &c = *crystal;
  const float s = side < 0 ? -1.0f : 1.0f;
  const float N[3] = {s * gPolyWork.normals[face][0], s * gPolyWork.normals[face][1], s * gPolyWork.normals[face][2]};
  const float *L = c.lightDirection;
  float d = DotProduct(N, L);
  if (d < kPolyMinLitCosine)
    d = 0.0f;
  const float r = 2.0f * N[2] * d - L[2];
  float specular = 0.0f;
  if (r >= kPolyMinLitCosine && r >= gPolyWork.specularCutOff)
    specular = gPolyWork.specularCoefficient * std::pow(r, float(std::max<uint16_t>(c.phongN[kPolyReflectance], 1)));
  uint16_t out[3];
  for (int i = 0; i < 3; ++i) {
    const float v = gPolyWork.diffuse[i] * d + gPolyWork.ambient[i] + specular;
    out[i] = uint16_t(ClampToPixel(v * 65535.0f, 0, 65535));
  }
  DepthShading(&c, depth, RGBColor{out[0], out[1], out[2]}, colour, factor);
}

void PlotPolyFaceShaded(const CrystalRec *crystal, uint32_t face, float depth) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port || !gPolyWork.poly || face >= gPolyWork.normals.size())
    return;
  std::optional<Polygon> outline = MakePolyFaceHdl(crystal, &gPolyWork.poly->faces[face]);
  if (!outline)
    return;
  RGBColor colour;
  float factor;
  ColorPolyFace(crystal, face, +1, colour, factor, depth);
  PaintFace(*port, *outline, colour, factor < 1.0f, GreyOp(factor * 65535.0f));
}

bool GetPolyFrameColor(const CrystalRec *crystal, float depth, RGBColor faceColour, RGBColor &colour, float &factor) {
  factor = 1.0f;
  if (!crystal)
    return false;
  RGBColor edge;
  switch (crystal->polyEdgeMode) {
  case kPolyEdgeBlack:
    edge = kRGBBlack;
    break;
  case kPolyEdgePale:
    edge = RGBColor{uint16_t(faceColour.red / 2 + 32768), uint16_t(faceColour.green / 2 + 32768),
                    uint16_t(faceColour.blue / 2 + 32768)};
    break;
  case kPolyEdgeShaded: {
    const uint32_t sum = uint32_t(faceColour.red) + faceColour.green + faceColour.blue;
    auto shade = [sum](uint16_t v) {
      if (sum < kPolyEdgeDarkSum)
        return uint16_t(float(v) + kPolyEdgeLighten * float(65535 - v));
      return uint16_t(float(v) * kPolyEdgeDarken);
    };
    edge = RGBColor{shade(faceColour.red), shade(faceColour.green), shade(faceColour.blue)};
    break;
  }
  default:
    return false;
  }
  DepthShading(crystal, depth, edge, colour, factor);
  return true;
}

void DrawPolyEdges(const CrystalRec *crystal, bool front, RGBColor colour, bool back, float factor) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port)
    return;
  const CrystalRec &c = *crystal;
  const int16_t w = ScaledToPlotRes(1);
  const bool blend = factor < 1.0f;
  auto preparePen = [&]() {
    port->PenNormal();
    port->PenSize(w, w);
    port->SetForeColor(colour);
    if (blend) {
      port->SetPenMode(kPenBlend);
      port->SetOpColor(GreyOp(factor * 65535.0f));
    }
  };
  for (const PolyEdge &e : gPolyWork.edges) {
    if (!ValidAtomIndex(c, e.a) || !ValidAtomIndex(c, e.b))
      continue;
    const int16_t x1 = c.atoms[e.a].pixel[0], y1 = c.atoms[e.a].pixel[1];
    const int16_t x2 = c.atoms[e.b].pixel[0], y2 = c.atoms[e.b].pixel[1];
    if (!e.visible && back) {
      if (w >= 2 || blend) {
        preparePen();
        QDrawDashedLine(x1, y1, x2, y2, colour, colour, 1, int16_t(4 * w), kDashFraction);
        port->PenNormal();
      } else {
        MyDrawDashedLine(x1, y1, x2, y2, colour);
      }
    } else if (e.visible && front) {
      if (blend) {
        preparePen();
        port->MoveTo(x1, y1);
        port->LineTo(x2, y2);
        port->PenNormal();
      } else {
        MyDrawLine(x1, y1, x2, y2, colour, w);
      }
    }
  }
}

bool GetPolyCentroid(const Polyhedron *polyhedron, const std::vector<AtomRecord> &atoms, float centroid[3]) {
  if (!polyhedron || !centroid)
    return false;
  std::vector<uint32_t> seen;
  double sum[3] = {0, 0, 0};
  for (size_t f = 0; f < std::min<size_t>(polyhedron->faceCount, polyhedron->faces.size()); ++f) {
    const PolyFace &face = polyhedron->faces[f];
    const uint32_t n = std::min<uint32_t>(face.vertexCount, uint32_t(face.vertices.size()));
    for (uint32_t k = 0; k < n; ++k) {
      const uint32_t v = face.vertices[k];
      if (v >= atoms.size() || std::find(seen.begin(), seen.end(), v) != seen.end())
        continue;
      seen.push_back(v);
      for (int i = 0; i < 3; ++i)
        sum[i] += atoms[v].cart[i];
    }
  }
  if (seen.empty())
    return false;
  for (int i = 0; i < 3; ++i)
    centroid[i] = float(sum[i] / double(seen.size()));
  return true;
}
