#include "LatticePlanes.h"

#include "Alerts.h"
#include "Geometry.h"
#include "PlotRange.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

namespace {

float Dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

bool NonZero(const float v[3]) { return v[0] != 0.0f || v[1] != 0.0f || v[2] != 0.0f; }

// The inverse of the orientation matrix (view to fractional coordinates).
void InverseOrientation(const CrystalRec &c, float inverse[9]) { Inv3x3Mat(c.orientationMatrix, inverse); }

// The box the polygon is cut from: the fractional range of the visible atoms
// of visible sites; along an axis where that is thinner than 2 Angstrom, the
// plot range.
void GetLatticePlaneBox(CrystalRec *crystal, float lo[3], float hi[3]) {
  GetAtomsXYZRange(crystal, lo, hi);
  const float edge[3] = {crystal->a, crystal->b, crystal->c};
  for (int axis = 0; axis < 3; ++axis)
    if ((hi[axis] - lo[axis]) * edge[axis] < kPlaneMinBoxThickness) {
      lo[axis] = crystal->plotRange[2 * axis];
      hi[axis] = crystal->plotRange[2 * axis + 1];
    }
}

void AddPolygonPoint(LatticePlane &plane, const float cart[3]) {
  if (plane.vertexCount < kLatticePlaneMaxVertices)
    CopyVector(plane.vertices[plane.vertexCount++].cart, cart);
}

} // namespace

// ---- The plane ------------------------------------------------------------------------

void InitLatticePlane(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  LatticePlane &plane = c.plane;
  float uvw[3], normal[3], unit[3];
  Plane2Vector(crystal, plane.hkl, uvw);
  MatMul(c.orientationMatrix, uvw, normal);
  if (!GetUnitVector(normal, unit)) {
    MyCFCautionAlert(kZeroVectorAlert);
    return;
  }
  CopyVector(plane.viewNormal, unit);
  float inverse[9];
  InverseOrientation(c, inverse);
  MatMul(inverse, plane.viewNormal, plane.latticeNormal);
  CopyVector(plane.point, c.plotCentre);
  LatticePlaneIntercepts(crystal);
}

float Dist2Plane(const CrystalRec *crystal, const float p[3]) {
  if (!crystal || !p)
    return 0.0f;
  float d[3];
  VecDiff(crystal->plane.point, p, d);
  return Dot(d, crystal->plane.viewNormal);
}

void MovePlane2Point(CrystalRec *crystal, const float p[3]) {
  if (!crystal || !p)
    return;
  CrystalRec &c = *crystal;
  LatticePlane &plane = c.plane;
  const float d = Dist2Plane(crystal, p);
  if (d == 0.0f)
    return;
  CopyVector(plane.point, p);
  // The fractional image of -d x normal, the step from the old plane to the
  // new one.
  float inverse[9];
  InverseOrientation(c, inverse);
  float onOld[3], scaled[3], fracP[3], fracOld[3], shift[3];
  VecScalarMult(plane.viewNormal, d, scaled);
  VecAdd(p, scaled, onOld);
  MatMul(inverse, p, fracP);
  MatMul(inverse, onOld, fracOld);
  VecDiff(fracP, fracOld, shift);
  const int n = std::min<int>(plane.vertexCount, kLatticePlaneMaxVertices);
  for (int i = 0; i < n; ++i) {
    LatticePlaneVertex &v = plane.vertices[i];
    VecAdd(v.xyz, shift, v.xyz);
    MatMul(c.orientationMatrix, v.xyz, v.cart);
  }
}

float GetSumSqPlaneDistance(const CrystalRec *crystal) {
  if (!crystal)
    return 0.0f;
  const size_t n = std::min<size_t>(crystal->atoms.size(), static_cast<size_t>(std::max(crystal->atomCount, 0)));
  double sum = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const AtomRecord &atom = crystal->atoms[i];
    if (!atom.visible || !atom.selected)
      continue;
    const float d = Dist2Plane(crystal, atom.cart);
    sum += double(d) * double(d);
  }
  return static_cast<float>(sum);
}

void DoRefinementSweep(CrystalRec *crystal, int a, int b, float *sumSq, int32_t *steps) {
  if (!crystal || !sumSq || a < 0 || a > 2 || b < 0 || b > 2 || a == b)
    return;
  float *n = crystal->plane.viewNormal;
  const float r2 = n[a] * n[a] + n[b] * n[b];
  if (r2 < kBestPlaneMinRadiusSq)
    return;
  const double r = std::sqrt(double(r2));
  double theta = std::acos(std::clamp(double(n[a]) / r, -1.0, 1.0)) * kRadToDeg;
  // The side of the turn: sin(theta) is never negative, so the sign of the
  // second component carries it (a component of exactly 0 counts as +).
  const double side = n[b] >= 0.0f ? 1.0 : -1.0;
  double direction = 1.0;
  double step = kBestPlaneFirstStep;
  float previous = *sumSq;
  for (int k = 0; k < kBestPlaneMaxSweepSteps; ++k) {
    theta += direction * step;
    n[a] = static_cast<float>(r * std::cos(theta * kDegToRad));
    n[b] = static_cast<float>(side * r * std::sin(theta * kDegToRad));
    if (steps)
      ++*steps;
    const float current = GetSumSqPlaneDistance(crystal);
    *sumSq = current;
    if (std::fabs(double(current) - double(previous)) <=
        kBestPlaneAbsTolerance + kBestPlaneRelTolerance * double(current))
      break;
    if (current > previous) {
      direction = -direction;
      step *= 0.5;
    }
    previous = current;
  }
}

// ---- Intercepts --------------------------------------------------------------------------

int GetLinePlaneIntercept(const float P[3], const float Q[3], const float normal[3], const float planePoint[3],
                          float X[3]) {
  const float D = Dot(planePoint, normal);
  float dir[3];
  VecDiff(Q, P, dir);
  const float along = Dot(dir, normal);
  if (std::fabs(along) >= kPlaneParallelTolerance) {
    const float t = (D - Dot(P, normal)) / along;
    for (int i = 0; i < 3; ++i)
      X[i] = P[i] + t * dir[i];
    return t >= 0.0f && t <= 1.0f ? 1 : 0;
  }
  return std::fabs(Dot(P, normal) - D) < kPlaneParallelTolerance ? 2 : 0;
}

void LatticePlaneIntercepts(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  LatticePlane &plane = c.plane;
  plane.vertexCount = 0;
  float lo[3], hi[3];
  GetLatticePlaneBox(crystal, lo, hi);

  // The twelve edges, each from its low end to its high end: four along a,
  // then four along b, then four along c; the other two coordinates run
  // (low, low), (high, low), (low, high), (high, high).
  const float *bound[2] = {lo, hi};
  for (int axis = 0; axis < 3 && plane.vertexCount < kLatticePlaneMaxVertices; ++axis) {
    const int first = axis == 0 ? 1 : 0;
    const int second = axis == 2 ? 1 : 2;
    for (int corner = 0; corner < 4 && plane.vertexCount < kLatticePlaneMaxVertices; ++corner) {
      float from[3], to[3];
      from[first] = to[first] = bound[corner & 1][first];
      from[second] = to[second] = bound[(corner >> 1) & 1][second];
      from[axis] = lo[axis];
      to[axis] = hi[axis];
      float P[3], Q[3], X[3];
      MatMul(c.orientationMatrix, from, P);
      MatMul(c.orientationMatrix, to, Q);
      switch (GetLinePlaneIntercept(P, Q, plane.viewNormal, plane.point, X)) {
      case 1:
        AddPolygonPoint(plane, X);
        break;
      case 2:
        AddPolygonPoint(plane, P);
        AddPolygonPoint(plane, Q);
        break;
      default:
        break;
      }
    }
  }
  if (plane.vertexCount == 0)
    return;
  float inverse[9];
  InverseOrientation(c, inverse);
  for (int i = 0; i < plane.vertexCount; ++i)
    MatMul(inverse, plane.vertices[i].cart, plane.vertices[i].xyz);
  TidyLatticePlanePts(crystal);
}

void TidyLatticePlanePts(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  LatticePlane &plane = c.plane;
  const int n = std::min<int>(plane.vertexCount, kLatticePlaneMaxVertices);
  if (n < 1)
    return;
  float points[kLatticePlaneMaxVertices][3];
  for (int i = 0; i < n; ++i) {
    MatMul(c.orientationMatrix, plane.vertices[i].xyz, plane.vertices[i].cart);
    CopyVector(points[i], plane.vertices[i].cart);
  }
  try {
    Polyhedron face;
    face.faceCount = 1;
    face.vertexCount = static_cast<uint32_t>(n);
    face.faces.resize(1);
    face.faces[0].vertexCount = static_cast<uint32_t>(n);
    for (int i = 0; i < n; ++i)
      face.faces[0].vertices.push_back(static_cast<uint32_t>(i));
    SortFaceVertices(points, &face);
    LatticePlaneVertex ordered[kLatticePlaneMaxVertices];
    for (int i = 0; i < n; ++i)
      ordered[i] = plane.vertices[face.faces[0].vertices[static_cast<size_t>(i)]];
    std::copy(ordered, ordered + n, plane.vertices);
  } catch (const std::bad_alloc &) {
    // Left unordered.
  }
}

void RegenerateLatticePlane(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  LatticePlane &plane = c.plane;
  float remembered[3];
  CopyVector(remembered, plane.point);
  float inverse[9];
  InverseOrientation(c, inverse);
  MatMul(inverse, plane.viewNormal, plane.latticeNormal);
  // The indices times the d-spacing: each cell edge times the cosine of its
  // angle with the normal.
  const float axes[3][3] = {{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}};
  const float edge[3] = {c.a, c.b, c.c};
  float hkl[3];
  bool valid = true;
  for (int i = 0; i < 3 && valid; ++i) {
    const float phi = IncludedAngle(crystal, plane.latticeNormal, axes[i]);
    valid = phi != kIncludedAngleFailed;
    hkl[i] = static_cast<float>(double(edge[i]) * std::cos(double(phi) * kDegToRad));
  }
  // A normal without length has no indices: the old ones stay.
  if (valid)
    CopyVector(plane.hkl, hkl);
  CopyVector(plane.point, c.plotCentre);
  LatticePlaneIntercepts(crystal);
  MovePlane2Point(crystal, remembered);
}

// ---- Commands and tools -------------------------------------------------------------------

void DoPlaneThroughPoints(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  const int32_t selectedCount = CountNumSelectedAtoms(crystal);
  if (selectedCount < 3) {
    MyCFStopAlert(kTooFewAtomsAlert);
    return;
  }
  std::vector<uint32_t> chosen;
  try {
    const size_t atomCount = std::min<size_t>(c.atoms.size(), static_cast<size_t>(std::max(c.atomCount, 0)));
    for (size_t i = 0; i < atomCount; ++i)
      if (c.atoms[i].selected && c.atoms[i].visible)
        chosen.push_back(static_cast<uint32_t>(i));
  } catch (const std::bad_alloc &) {
    return;
  }
  const size_t n = chosen.size();
  auto pos = [&](size_t i) { return c.atoms[chosen[i]].cart; };

  // Three of the atoms must span a plane.
  float normal[3] = {0.0f, 0.0f, 0.0f};
  bool found = false;
  for (size_t i = 0; i < n && !found; ++i)
    for (size_t j = i + 1; j < n && !found; ++j)
      for (size_t k = j + 1; k < n; ++k) {
        RCalcPlaneNormalUp(pos(i), pos(j), pos(k), normal);
        if (NonZero(normal)) {
          if (normal[0] < 0.0f)
            VecNegate(normal);
          found = true;
          break;
        }
      }
  if (!found) {
    MyCFStopAlert(kNoMeanPlaneAlert);
    return;
  }

  double centroid[3] = {0.0, 0.0, 0.0};
  for (size_t i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k)
      centroid[k] += pos(i)[k];
  for (double &x : centroid)
    x /= double(n);
  LatticePlane &plane = c.plane;
  for (int k = 0; k < 3; ++k)
    plane.point[k] = static_cast<float>(centroid[k]);

  float sumSq = 0.0f;
  int32_t steps = 0;
  double seconds = 0.0;
  // Three selected atoms are their own plane; with more selected (even when
  // only three of them are visible) the plane is fitted and refined.
  if (selectedCount == 3) {
    GetUnitVector(normal, plane.viewNormal);
    float inverse[9];
    InverseOrientation(c, inverse);
    MatMul(inverse, plane.viewNormal, plane.latticeNormal);
    RegenerateLatticePlane(crystal);
  } else {
    const uint64_t start = Microseconds();
    // The scatter of the atoms about their centroid; its eigenvector of the
    // smallest eigenvalue is the normal of the least-squares plane.
    double scatter[9] = {};
    for (size_t i = 0; i < n; ++i) {
      const float *p = pos(i);
      const double d[3] = {p[0] - double(plane.point[0]), p[1] - double(plane.point[1]), p[2] - double(plane.point[2])};
      for (int r = 0; r < 3; ++r)
        for (int q = 0; q < 3; ++q)
          scatter[3 * r + q] += d[r] * d[q];
    }
    float tensor[9];
    for (int k = 0; k < 9; ++k)
      tensor[k] = static_cast<float>(scatter[k] / double(n));
    float values[3], vectors[9];
    DiagonalizeTensor(tensor, values, vectors);
    int smallest = 0;
    for (int k = 1; k < 3; ++k)
      if (values[k] < values[smallest])
        smallest = k;
    const float eigenvector[3] = {vectors[smallest], vectors[3 + smallest], vectors[6 + smallest]};
    if (!GetUnitVector(eigenvector, plane.viewNormal))
      GetUnitVector(normal, plane.viewNormal);
    RegenerateLatticePlane(crystal);
    sumSq = GetSumSqPlaneDistance(crystal);

    bool converged = false;
    for (int cycle = 0; cycle < kBestPlaneMaxCycles; ++cycle) {
      const float before = sumSq;
      DoRefinementSweep(crystal, 0, 1, &sumSq, &steps);
      DoRefinementSweep(crystal, 0, 2, &sumSq, &steps);
      DoRefinementSweep(crystal, 1, 2, &sumSq, &steps);
      if (std::fabs(double(sumSq) - double(before)) <=
          kBestPlaneAbsTolerance + kBestPlaneRelTolerance * double(sumSq)) {
        converged = true;
        break;
      }
    }
    if (!converged)
      FWrite(kRefinementFailedLog);
    seconds = double(Microseconds() - start) / 1e6;
  }

  RegenerateLatticePlane(crystal);
  plane.shown = 1;
  NewPlot(window, false, false);

  int negative = 0, positive = 0;
  for (float index : plane.hkl) {
    negative += index < 0.0f;
    positive += index > 0.0f;
  }
  if (negative > positive)
    for (float &index : plane.hkl)
      index = -index;

  char text[256];
  std::snprintf(text, sizeof text,
                "Best-fit plane through %ld atoms: (%f %f %f). Sum-of-squares: %.5f Å² (%d cycles, %.5f s)",
                static_cast<long>(n), double(plane.hkl[0]), double(plane.hkl[1]), double(plane.hkl[2]), double(sumSq),
                static_cast<int>(steps), seconds);
  FWrite(text);
  SubtitleWindowOutput(window);
}

void RotateLatticePlane(CrystalRec *crystal, const float angles[3]) {
  if (!crystal || !angles || !crystal->plane.shown)
    return;
  CrystalRec &c = *crystal;
  LatticePlane &plane = c.plane;
  const int n = std::min<int>(plane.vertexCount, kLatticePlaneMaxVertices);

  // Three polygon points that span the plane: points 0, 1 and 2 unless the
  // plane passes through a corner of the box, where points coincide. A
  // polygon without three such points gives the plane no direction to turn.
  int second = -1, third = -1;
  for (int j = 1; j < n && third < 0; ++j)
    for (int k = j + 1; k < n; ++k) {
      float test[3];
      CalcPlaneNormal(plane.vertices[0].cart, plane.vertices[j].cart, plane.vertices[k].cart, test);
      if (NonZero(test)) {
        second = j;
        third = k;
        break;
      }
    }
  if (third < 0)
    return;

  const double al = double(angles[0]) * kDegToRad, be = double(angles[1]) * kDegToRad,
               ga = double(angles[2]) * kDegToRad;
  const double ca = std::cos(al), sa = std::sin(al), cb = std::cos(be), sb = std::sin(be), cg = std::cos(ga),
               sg = std::sin(ga);
  const float R[9] = {static_cast<float>(cb * cg),
                      static_cast<float>(sa * sb * cg - ca * sg),
                      static_cast<float>(ca * sb * cg + sa * sg),
                      static_cast<float>(cb * sg),
                      static_cast<float>(sa * sb * sg + ca * cg),
                      static_cast<float>(ca * sb * sg - sa * cg),
                      static_cast<float>(-sb),
                      static_cast<float>(sa * cb),
                      static_cast<float>(ca * cb)};
  float inverse[9];
  InverseOrientation(c, inverse);
  for (int i = 0; i < n; ++i) {
    LatticePlaneVertex &v = plane.vertices[i];
    float rel[3], turned[3];
    VecDiff(v.cart, plane.point, rel);
    MatMul(R, rel, turned);
    VecAdd(turned, plane.point, v.cart);
    MatMul(inverse, v.cart, v.xyz);
  }
  const LatticePlaneVertex &v0 = plane.vertices[0], &v1 = plane.vertices[second], &v2 = plane.vertices[third];
  CalcPlaneNormalUp(v0.cart, v1.cart, v2.cart, plane.viewNormal);
  MatMul(inverse, plane.viewNormal, plane.latticeNormal);
  float inPlane1[3], inPlane2[3];
  VecDiff(v1.xyz, v0.xyz, inPlane1);
  VecDiff(v2.xyz, v1.xyz, inPlane2);
  CrossProduct(inPlane1, inPlane2, plane.hkl);
  LatticePlaneIntercepts(crystal);
}

void StartMoveLatticePlane(WindowRef window) {
  const CrystalRec *crystal = GetWindowCrystal(window);
  if (crystal && crystal->plane.shown)
    gTrackBallRotn = 1;
}

bool MoveLatticePlane(WindowRef window, Point previous, Point current) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !crystal->plane.shown || !(crystal->plotScale > 0.0f))
    return false;
  CrystalRec &c = *crystal;
  LatticePlane &plane = c.plane;
  const int n = std::min<int>(plane.vertexCount, kLatticePlaneMaxVertices);
  if (n < 1)
    return false;
  float lo[3], hi[3];
  GetLatticePlaneBox(crystal, lo, hi);
  for (int axis = 0; axis < 3; ++axis) {
    lo[axis] += kPlaneDragMargin;
    hi[axis] -= kPlaneDragMargin;
  }
  const float dh = static_cast<float>(current.h - previous.h);
  const float dv = static_cast<float>(previous.v - current.v);
  const float s = (dh * plane.viewNormal[0] + dv * plane.viewNormal[1]) / c.plotScale;
  float step[3], candidatePoint[3], centre[3] = {0.0f, 0.0f, 0.0f};
  VecScalarMult(plane.viewNormal, s, step);
  VecAdd(plane.point, step, candidatePoint);
  for (int i = 0; i < n; ++i)
    VecAdd(centre, plane.vertices[i].cart, centre);
  VecScalarMult(centre, 1.0f / static_cast<float>(n), centre);
  VecAdd(centre, step, centre);
  float inverse[9], frac[3];
  InverseOrientation(c, inverse);
  MatMul(inverse, centre, frac);
  for (int axis = 0; axis < 3; ++axis)
    if (!(frac[axis] > lo[axis] && frac[axis] < hi[axis]))
      return false;
  MovePlane2Point(crystal, candidatePoint);
  LatticePlaneIntercepts(crystal);
  PlotCrystal(window, 1);
  return true;
}

void EndMoveLatticePlane(WindowRef window) {
  gTrackBallRotn = 0;
  // The drag's plots noted its change; it is settled now that it is over.
  const CrystalRec *crystal = GetWindowCrystal(window);
  if (crystal && crystal->plane.shown)
    NoteWindowChange(window);
}
