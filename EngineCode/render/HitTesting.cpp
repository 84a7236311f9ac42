#include "render/HitTesting.h"

#include "AtomOperations.h"
#include "Polyhedra.h"
#include "VectorMath.h"
#include "RenderServices.h"
#include "render/AnnotationObjects.h"
#include "render/Projection.h"
#include "render/DrawingHelpers.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

bool InRect(int h, int v, const Rect &r) { return h >= r.left && h < r.right && v >= r.top && v < r.bottom; }

bool InCircle(int dx, int dy, int32_t radius) {
  return std::abs(dx) <= radius && std::abs(dy) <= radius &&
         static_cast<int64_t>(dx) * dx + static_cast<int64_t>(dy) * dy < static_cast<int64_t>(radius) * radius;
}

// Distance of (px, py) from the line through a and b (from a when they meet).
float DistanceToLine2D(float px, float py, float ax, float ay, float bx, float by) {
  const float dx = bx - ax, dy = by - ay;
  const float len = std::sqrt(dx * dx + dy * dy);
  if (len <= 0.0f)
    return std::hypot(px - ax, py - ay);
  return std::fabs((px - ax) * dy - (py - ay) * dx) / len;
}

// Distance of (px, py) from the segment a-b.
float DistanceToSegment2D(float px, float py, float ax, float ay, float bx, float by) {
  const float dx = bx - ax, dy = by - ay;
  const float len2 = dx * dx + dy * dy;
  float t = len2 > 0.0f ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0.0f;
  t = std::clamp(t, 0.0f, 1.0f);
  return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

bool StructureIsHittable(const CrystalRec &c) {
  return UsableSiteCount(c) > 0 && UsableAtomCount(c) > 0 && UsableSphereCount(c) > 0 &&
         UsableRecords(c.sortIndex.size(), c.sortIndexCount) > 0;
}

Point ToPane(WindowRef window, Point point) {
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  return Point{static_cast<int16_t>(point.v - pane.top), static_cast<int16_t>(point.h - pane.left)};
}

} // namespace

int16_t FindClickedAnnotation(const CrystalRec *crystal, Point p, int32_t *index) {
  if (!crystal)
    return kHitNothing;
  const CrystalRec &c = *crystal;
  const int32_t n = static_cast<int32_t>(UsableRecords(c.textBoxes.size(), c.textBoxCount));
  for (int32_t k = n - 1; k >= 0; k--) {
    const TextBoxRecord &box = c.textBoxes[static_cast<size_t>(k)];
    int16_t kind = kHitNothing;
    if (box.kind == kAnnotationScaleBar && InRect(p.h, p.v, box.boxRect)) {
      kind = kHitAnnotationInside;
    } else if (box.kind == kAnnotationTextBox &&
               InRect(p.h, p.v, InsetRect(box.boxRect, -kAnnotationBand, -kAnnotationBand))) {
      Rect handles[8];
      GetTextBoxControlRects(box, handles);
      kind = InRect(p.h, p.v, box.boxRect) ? kHitAnnotationInside : kHitAnnotationBand;
      for (int16_t h = 0; h < 8; h++)
        if (InRect(p.h, p.v, handles[h])) {
          kind = static_cast<int16_t>(kHitAnnotationResizeFirst + h);
          break;
        }
    }
    if (kind == kHitNothing && box.hasPointer) {
      Rect tip, anchor;
      GetTextBoxTipRect(box, &tip);
      GetTextBoxAnchorRect(box, &anchor);
      if (InRect(p.h, p.v, anchor)) {
        kind = kHitAnnotationAnchor;
      } else if (InRect(p.h, p.v, tip)) {
        kind = kHitAnnotationTip;
      } else {
        const Rect span = MakeRect(std::min(tip.left, anchor.left), std::min(tip.top, anchor.top),
                                   std::max(tip.right, anchor.right), std::max(tip.bottom, anchor.bottom));
        const float ax = 0.5f * static_cast<float>(anchor.left + anchor.right);
        const float ay = 0.5f * static_cast<float>(anchor.top + anchor.bottom);
        if (InRect(p.h, p.v, span) &&
            DistanceToLine2D(p.h, p.v, box.pixel1.h, box.pixel1.v, ax, ay) < kPointerLineTolerance)
          kind = kHitAnnotationLine;
      }
    }
    if (kind != kHitNothing) {
      if (index)
        *index = k;
      return kind;
    }
  }
  return kHitNothing;
}

int32_t AtomHitRadius(const CrystalRec *crystal, uint32_t atom) {
  if (!crystal || atom >= UsableAtomSize(*crystal))
    return kSmallHitRadius;
  const CrystalRec &c = *crystal;
  if (c.modelType == kWireFrameModel)
    return kWireFrameHitRadius;
  const AtomRecord &a = c.atoms[atom];
  const float f = PerspectiveFactor(c, a.cart[2]);
  int32_t radius = 0;
  if (a.atomType < UsableSphereSize(c)) {
    const SphereRecord &type = c.spheres[a.atomType];
    const float s = type.bounds1.right;
    if (s >= 1.0f) {
      radius = ClampToPixel(s * f * 0.5f, 0, INT16_MAX);
    } else {
      const float b = c.modelType == kSpaceFillingModel ? 1.0f : c.bsSphereRadFrac;
      radius = ClampToPixel(type.radius * b * c.plotScale * f, 0, INT16_MAX);
    }
  }
  return radius < kMinHitRadius ? kSmallHitRadius : radius;
}

bool My2DPtInPoly(const CrystalRec *crystal, Point point, const Polyhedron *polyhedron) {
  if (!crystal || !polyhedron)
    return false;
  const CrystalRec &c = *crystal;
  const size_t atoms = UsableAtomSize(c);
  const float px = point.h, py = point.v;
  for (const PolyFace &face : polyhedron->faces) {
    const size_t n = std::min<size_t>(face.vertexCount, face.vertices.size());
    if (n < 3)
      continue;
    // The face's bounding box first; then the even-odd rule over its edges.
    int minH = INT32_MAX, maxH = INT32_MIN, minV = INT32_MAX, maxV = INT32_MIN;
    bool valid = true;
    for (size_t k = 0; k < n && valid; k++) {
      const uint32_t v = face.vertices[k];
      valid = v < atoms;
      if (!valid)
        break;
      const int16_t *pix = c.atoms[v].pixel;
      minH = std::min<int>(minH, pix[0]), maxH = std::max<int>(maxH, pix[0]);
      minV = std::min<int>(minV, pix[1]), maxV = std::max<int>(maxV, pix[1]);
    }
    if (!valid || point.h < minH || point.h > maxH || point.v < minV || point.v > maxV)
      continue;
    bool inside = false;
    for (size_t k = 0, j = n - 1; k < n; j = k++) {
      const float xi = c.atoms[face.vertices[k]].pixel[0], yi = c.atoms[face.vertices[k]].pixel[1];
      const float xj = c.atoms[face.vertices[j]].pixel[0], yj = c.atoms[face.vertices[j]].pixel[1];
      if ((yi > py) != (yj > py) && px < (xj - xi) * (py - yi) / (yj - yi) + xi)
        inside = !inside;
    }
    if (inside)
      return true;
  }
  return false;
}

bool FindClickedObject(WindowRef window, Point point, int16_t *kind, int32_t *index, int32_t *radius) {
  int16_t hitKind = kHitNothing;
  int32_t hitIndex = 0, hitRadius = 0;
  if (kind)
    *kind = kHitNothing;
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !StructureIsHittable(*crystal))
    return false;
  const CrystalRec &c = *crystal;
  const Point p = ToPane(window, point);

  hitKind = FindClickedAnnotation(&c, p, &hitIndex);
  if (hitKind != kHitNothing) {
    if (kind)
      *kind = hitKind;
    if (index)
      *index = hitIndex;
    return true;
  }

  // Atoms, front to back.
  float depthToBeat = kNoHitDepth;
  const size_t sorted = UsableRecords(c.sortIndex.size(), c.sortIndexCount);
  const size_t atoms = UsableAtomSize(c);
  for (size_t k = sorted; k-- > 0;) {
    const SortIndexEntry &entry = c.sortIndex[k];
    if (entry.kind != kSortItemAtom || entry.index >= atoms)
      continue;
    const AtomRecord &a = c.atoms[entry.index];
    bool hit = false;
    int32_t r = 0;
    if (c.modelType == kPolyhedralModel && GetAtomDisplayClass(c, a) != kSphereClass) {
      const Polyhedron *poly =
          GetAtomDisplayClass(c, a) == kVertexOnlyClass ? nullptr : AtomPolyhedron(crystal, a);
      if (!poly)
        continue;
      // The cheap test first: the faces under the point, then whether the
      // crystal's polyhedron is whole.
      if (!My2DPtInPoly(&c, p, poly) || (!c.molecule && !IsPolyhedronIntact(&c, poly)))
        continue;
      r = AtomHitRadius(&c, entry.index);
      hit = true;
    } else {
      r = AtomHitRadius(&c, entry.index);
      hit = InCircle(p.h - a.pixel[0], p.v - a.pixel[1], r);
    }
    if (hit) {
      hitKind = kHitAtom;
      hitIndex = static_cast<int32_t>(entry.index);
      hitRadius = r;
      depthToBeat = a.cart[2];
      break;
    }
  }

  // Vectors in front of the atom hit.
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  const size_t vectors = UsableRecords(c.vectors.size(), c.vectorCount);
  for (size_t k = 0; k < vectors; k++) {
    const VectorRecord &v = c.vectors[k];
    if (v.atom >= atoms)
      continue;
    const float *base = c.atoms[v.atom].cart;
    float d[3];
    VecDiff(v.tipCart, base, d);
    const float len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (len <= 0.0f || !(v.tipCart[2] > depthToBeat))
      continue;
    float spot[3];
    for (int i = 0; i < 3; i++)
      spot[i] = v.tipCart[i] - d[i] * v.headRadius / len;
    int16_t pixel[2];
    Xor2Xpix(&c, spot, pixel, pane.Width(), pane.Height());
    const int32_t r = ClampToPixel(v.headRadius * c.plotScale, 0, INT16_MAX);
    if (InCircle(p.h - pixel[0], p.v - pixel[1], r)) {
      hitKind = kHitVector;
      hitIndex = static_cast<int32_t>(k);
      hitRadius = r;
      depthToBeat = v.tipCart[2];
    }
  }

  if (kind)
    *kind = hitKind;
  if (hitKind != kHitNothing) {
    if (index)
      *index = hitIndex;
    if (radius)
      *radius = hitRadius;
  }
  return hitKind != kHitNothing;
}

bool FindClickedBond(WindowRef window, Point point, int32_t *atomA, int32_t *atomB) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return false;
  const CrystalRec &c = *crystal;
  const Point p = ToPane(window, point);
  const size_t atoms = UsableAtomSize(c);
  const size_t sorted = UsableRecords(c.sortIndex.size(), c.sortIndexCount);
  for (size_t k = sorted; k-- > 0;) {
    const SortIndexEntry &entry = c.sortIndex[k];
    if (entry.kind != kSortItemAtom || entry.index >= atoms)
      continue;
    const AtomRecord &ai = c.atoms[entry.index];
    const size_t bonds = std::min<size_t>(ai.bondCount, ai.bonds.size());
    if (!ai.visible || bonds == 0)
      continue;
    for (size_t b = 0; b < bonds; b++) {
      const uint32_t j = ai.bonds[b];
      if (j >= atoms) {
        std::fprintf(stderr, "Corrupted bonds list for atom %ld\n", static_cast<long>(entry.index));
        break;
      }
      const AtomRecord &aj = c.atoms[j];
      if (!aj.visible || aj.cart[2] > ai.cart[2])
        continue;
      const Rect box =
          MakeRect(std::min(ai.pixel[0], aj.pixel[0]) - kBondBoxMargin, std::min(ai.pixel[1], aj.pixel[1]) - kBondBoxMargin,
                   std::max(ai.pixel[0], aj.pixel[0]) + kBondBoxMargin, std::max(ai.pixel[1], aj.pixel[1]) + kBondBoxMargin);
      if (!InRect(p.h, p.v, box))
        continue;
      const float pi = std::hypot(float(p.h - ai.pixel[0]), float(p.v - ai.pixel[1]));
      const float qj = std::hypot(float(p.h - aj.pixel[0]), float(p.v - aj.pixel[1]));
      const float len = std::hypot(float(ai.pixel[0] - aj.pixel[0]), float(ai.pixel[1] - aj.pixel[1]));
      if (pi > len || qj > len)
        continue;
      if (DistanceToSegment2D(p.h, p.v, ai.pixel[0], ai.pixel[1], aj.pixel[0], aj.pixel[1]) < kBondHitDistance) {
        if (atomA)
          *atomA = static_cast<int32_t>(entry.index);
        if (atomB)
          *atomB = static_cast<int32_t>(j);
        return true;
      }
    }
  }
  return false;
}
