#include "ViewOrientation.h"

#include "Alerts.h"
#include "DerivedLayers.h"
#include "EllipsoidMaths.h"
#include "LatticePlanes.h"
#include "PlotRange.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "SpaceGroups.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <vector>

int16_t gCurrentTool = kRotateTool;
DiscardSymmetryConsentProc gDiscardSymmetryConsent = nullptr;

namespace {

bool ValidSite(const CrystalRec &c, int64_t s) { return s >= 0 && s < UsableSiteCount(c); }

bool IsFinite(const float *v, int n) {
  for (int k = 0; k < n; k++)
    if (!std::isfinite(v[k]))
      return false;
  return true;
}

// A matrix that can be installed as an orientation: finite and invertible.
bool UsableOrientation(const float M[9]) {
  if (!IsFinite(M, 9))
    return false;
  const float det = Det3x3Mat(M);
  return std::isfinite(det) && det != 0.0f;
}

// The inverse of the current orientation, when it has one.
bool CurrentInverse(const CrystalRec &c, float inverse[9]) {
  if (Is3x3MatZero(c.orientationMatrix) || !UsableOrientation(c.orientationMatrix))
    return false;
  return Inv3x3Mat(c.orientationMatrix, inverse) && IsFinite(inverse, 9);
}

// The lattice plane's view normal and polygon after the orientation changed:
// the normal is the orientation times the lattice normal, made a unit
// vector; each polygon point's view position follows its fractional one.
void RefreshLatticePlaneView(CrystalRec &c) {
  LatticePlane &plane = c.plane;
  float normal[3];
  MatMul(c.orientationMatrix, plane.latticeNormal, normal);
  float unit[3];
  if (GetUnitVector(normal, unit))
    CopyVector(plane.viewNormal, unit);
  const int n = std::min<int>(plane.vertexCount, kLatticePlaneMaxVertices);
  for (int k = 0; k < n; k++)
    MatMul(c.orientationMatrix, plane.vertices[k].xyz, plane.vertices[k].cart);
}

// Points of the view that stay fixed in the crystal while it turns: the plot
// centre and the lattice plane's point, in fractional coordinates.
struct FixedPoints {
  bool held = false;
  float centre[3] = {0.0f, 0.0f, 0.0f};
  float planePoint[3] = {0.0f, 0.0f, 0.0f};
};

FixedPoints HoldFixedPoints(const CrystalRec &c) {
  FixedPoints fixed;
  float inverse[9];
  if (!CurrentInverse(c, inverse))
    return fixed;
  MatMul(inverse, c.plotCentre, fixed.centre);
  MatMul(inverse, c.plane.point, fixed.planePoint);
  fixed.held = true;
  return fixed;
}

void PutBackFixedPoints(CrystalRec &c, const FixedPoints &fixed) {
  if (!fixed.held)
    return;
  MatMul(c.orientationMatrix, fixed.centre, c.plotCentre);
  MatMul(c.orientationMatrix, fixed.planePoint, c.plane.point);
}

void RotateByArrow(WindowRef window, float xAngle, float yAngle) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return;
  const float angles[3] = {xAngle, yAngle, 0.0f};
  if (gRotateSelection)
    RotateSelectionXYZ(crystal, angles);
  else
    RotateXYZ(crystal, angles);
  PlotCrystal(window, kPlotToWindow);
}

// The drag in progress: the pane taken at its start, the last point inside
// the pane, the tick of the last applied step and whether any step applied.
struct TrackBallState {
  bool active = false;
  WindowRef window = nullptr;
  Rect pane;
  int32_t width = 0;
  int32_t height = 0;
  Point centre;
  Point last;
  bool stepApplied = false; // a step was applied at lastTick
  uint32_t lastTick = 0;
  bool changed = false;
};
TrackBallState gTrackBall;

bool InsidePane(const Rect &pane, Point p) {
  return p.h >= pane.left && p.h < pane.right && p.v >= pane.top && p.v < pane.bottom;
}

} // namespace

// ---- Orientation -------------------------------------------------------------------

void ApplyViewDirection(CrystalRec *crystal, bool recompute) {
  if (!crystal || UsableAtomCount(*crystal) == 0)
    return;
  CrystalRec &c = *crystal;
  const FixedPoints fixed = HoldFixedPoints(c);
  if (recompute) {
    float O[9];
    if (GetOrientationMatrix(c.viewDirection, c.metricTensor, O) && UsableOrientation(O))
      Copy3x3Mat(c.orientationMatrix, O);
  }
  PutBackFixedPoints(c, fixed);
  if (c.plane.shown)
    RefreshLatticePlaneView(c);
  for (int32_t k = 0; k < UsableAtomCount(c); k++) {
    AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    if (atom.visible)
      MatMul(c.orientationMatrix, atom.xyz, atom.cart);
  }
}

bool ApplyOrientationMatrix(CrystalRec *crystal, const float matrix[9]) {
  if (!crystal || !matrix || !UsableOrientation(matrix))
    return false;
  float inverse[9];
  if (!Inv3x3Mat(matrix, inverse) || !IsFinite(inverse, 9))
    return false;
  CrystalRec &c = *crystal;
  const FixedPoints fixed = HoldFixedPoints(c);
  Copy3x3Mat(c.orientationMatrix, matrix);

  // The view direction: the lattice direction that the matrix takes to the
  // view's -z, at a length of the order of the cell.
  const float L = std::sqrt(c.a * (c.a + c.b + c.c));
  const float into[3] = {0.0f, 0.0f, -L};
  float direction[3];
  MatMul(inverse, into, direction);
  if (IsFinite(direction, 3))
    CopyVector(c.viewDirection, direction);

  PutBackFixedPoints(c, fixed);
  if (c.plane.shown)
    RefreshLatticePlaneView(c);
  for (int32_t k = 0; k < UsableAtomCount(c); k++) {
    AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    if (atom.visible && ValidSite(c, atom.site) && c.sites[atom.site].visible)
      MatMul(c.orientationMatrix, atom.xyz, atom.cart);
  }
  return true;
}

void SetViewWithOrientationMatrix(WindowRef window, const float matrix[9]) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return;
  const uint8_t send = gPrefs.sendOrientationToLink;
  gPrefs.sendOrientationToLink = 0;
  ApplyOrientationMatrix(crystal, matrix);
  PlotCrystal(window, kPlotToWindow);
  gPrefs.sendOrientationToLink = send;
}

bool RotateXYZ(CrystalRec *crystal, const float angles[3]) {
  if (!crystal || !angles || !IsFinite(angles, 3))
    return false;
  float R[9], M[9];
  GetRotationMatrixFromAngles(angles[0], angles[1], angles[2], R);
  MatMul33x33(R, crystal->orientationMatrix, M);
  return ApplyOrientationMatrix(crystal, M);
}

// Turning the selection:
//  1. nothing without a selected atom; a crystal that is not P 1 must first
//     be reduced to P 1 with the user's consent;
//  2. nothing without a depth-sort index, atoms and sites;
//  3. the centroid is the mean Cartesian position of the selected atoms of
//     the sort index;
//  4. in a crystal, two visible selected atoms of one site (images in
//     different cells) are refused with "Illegal rotation!";
//  5. each selected atom, in sort-index order, goes to R (p - centroid) +
//     centroid; in a crystal every atom of its site moves by the same
//     fractional delta, in a molecule the atom alone; the site takes the
//     fractional part (sign kept) of the new position;
//  6. with ellipsoid data the site's ellipsoid axes turn with R; an
//     anisotropic site's tensor is rebuilt from the turned axes.
bool RotateSelectionXYZ(CrystalRec *crystal, const float angles[3]) {
  if (!crystal || !angles || !IsFinite(angles, 3))
    return false;
  if (!CrystalHasSelectedAtoms(crystal))
    return false;
  if (!crystal->molecule && !CrystalHasP1Symmetry(*crystal)) {
    WindowRef window = nullptr;
    GetWindowWithCrystal(crystal, &window);
    if (!gDiscardSymmetryConsent || !gDiscardSymmetryConsent(window))
      return false;
  }
  CrystalRec &c = *crystal;
  int32_t sortCount = 0;
  const SortIndexEntry *sort = GetCrystalSortIndex(&c, &sortCount);
  if (!sort || sortCount < 1 || UsableAtomCount(c) == 0 || UsableSiteCount(c) == 0)
    return false;
  sortCount = std::min<int32_t>(sortCount, static_cast<int32_t>(c.sortIndex.size()));

  float R[9];
  GetRotationMatrixFromAngles(angles[0], angles[1], angles[2], R);
  std::vector<uint32_t> selected;
  double sum[3] = {0.0, 0.0, 0.0};
  for (int32_t k = 0; k < sortCount; k++) {
    const SortIndexEntry &entry = sort[k];
    if (entry.kind != kSortItemAtom || entry.index >= static_cast<uint32_t>(UsableAtomCount(c)))
      continue;
    const AtomRecord &atom = c.atoms[entry.index];
    if (!atom.selected)
      continue;
    selected.push_back(entry.index);
    for (int d = 0; d < 3; d++)
      sum[d] += atom.cart[d];
  }
  if (selected.empty())
    return false;
  // The mean over the atoms summed: a selected atom missing from the sort
  // index (hidden) must not pull the centroid towards the origin.
  float centroid[3];
  for (int d = 0; d < 3; d++)
    centroid[d] = static_cast<float>(sum[d] / static_cast<double>(selected.size()));

  if (!c.molecule) {
    std::vector<int32_t> perSite(static_cast<size_t>(UsableSiteCount(c)), 0);
    for (int32_t k = 0; k < UsableAtomCount(c); k++) {
      const AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
      if (atom.visible && atom.selected && ValidSite(c, atom.site) && ++perSite[atom.site] >= 2) {
        MyCFStopAlert(kIllegalRotationAlert, kIllegalRotationExplanation);
        return false;
      }
    }
  }

  float inverse[9];
  if (!CurrentInverse(c, inverse))
    return false;
  NoteStructureChange(&c, kChangeAtoms | kChangeSites);
  for (uint32_t index : selected) {
    AtomRecord &atom = c.atoms[index];
    if (!ValidSite(c, atom.site))
      continue;
    AsymmetricUnitRecord &site = c.sites[atom.site];
    float oldFrac[3], rel[3], turned[3], newCart[3], newFrac[3], delta[3];
    CopyVector(oldFrac, atom.xyz);
    VecDiff(atom.cart, centroid, rel);
    MatMul(R, rel, turned);
    VecAdd(turned, centroid, newCart);
    MatMul(inverse, newCart, newFrac);
    VecDiff(newFrac, oldFrac, delta);
    if (!IsFinite(newFrac, 3))
      continue;

    // The ellipsoid's axes as fractional vectors from the atom, turned.
    float axes[3][3];
    const bool ellipsoids = c.ellipsoidData != 0;
    if (ellipsoids)
      for (int k = 0; k < 3; k++) {
        float axis[3], axisCart[3], axisTurned[3];
        VecDiff(atom.ellipsoidAxes[k], oldFrac, axis);
        MatMul(c.orientationMatrix, axis, axisCart);
        MatMul(R, axisCart, axisTurned);
        MatMul(inverse, axisTurned, axes[k]);
      }

    // The atoms that move: the atom alone in a molecule, every image of
    // its site in a crystal.
    int64_t first = index, last = index;
    if (c.molecule) {
      CopyVector(atom.xyz, newFrac);
      MatMul(c.orientationMatrix, atom.xyz, atom.cart);
    } else {
      first = std::max<int64_t>(site.firstAtom, 0);
      last = std::min<int64_t>(site.lastAtom, UsableAtomCount(c) - 1);
      for (int64_t n = first; n <= last; n++) {
        AtomRecord &member = c.atoms[static_cast<size_t>(n)];
        VecAdd(member.xyz, delta, member.xyz);
        MatMul(c.orientationMatrix, member.xyz, member.cart);
      }
    }
    for (int d = 0; d < 3; d++)
      site.xyz[d] = newFrac[d] - std::trunc(newFrac[d]);

    if (ellipsoids) {
      if (site.displacementType == kDisplacementAnisoU || site.displacementType == kDisplacementAnisoB) {
        // The tensor follows the turned axes, so that the document keeps the
        // turned ellipsoid; the axes are then taken from the tensor again.
        // Transforming U directly as R^t U R would be wrong twice: R turns
        // view Cartesian vectors while U is held on the cell's axes, and R^t
        // U R turns the ellipsoid by the inverse of the atoms' rotation.
        float tensor[9];
        if (GetEllipsoidFromAxes(&c, axes, tensor, site.displacementType)) {
          std::copy(std::begin(tensor), std::end(tensor), site.tensor);
          float fromTensor[3][3];
          if (GetEllipsoidAxes(&c, static_cast<int32_t>(atom.site), fromTensor))
            std::copy(&fromTensor[0][0], &fromTensor[0][0] + 9, &axes[0][0]);
        }
      }
      for (int64_t n = first; n <= last; n++) {
        AtomRecord &member = c.atoms[static_cast<size_t>(n)];
        for (int k = 0; k < 3; k++)
          VecAdd(member.xyz, axes[k], member.ellipsoidAxes[k]);
      }
    }
  }
  return true;
}

// ---- Arrow commands ---------------------------------------------------------------

void RotateUp(WindowRef window) { RotateByArrow(window, -kArrowRotationAngle, 0.0f); }
void RotateDown(WindowRef window) { RotateByArrow(window, kArrowRotationAngle, 0.0f); }
void RotateLeft(WindowRef window) { RotateByArrow(window, 0.0f, -kArrowRotationAngle); }
void RotateRight(WindowRef window) { RotateByArrow(window, 0.0f, kArrowRotationAngle); }

// ---- Trackball ----------------------------------------------------------------------

bool TrackBall(WindowRef window, Point start) {
  if (!GetWindowCrystal(window) || !IsWindowFileOpen(window))
    return false;
  CrystalRec &c = *GetWindowCrystal(window);
  if (gRotateSelection && CountNumSelectedAtoms(&c) < 2) {
    MyCFCautionAlert(kRotateSelectionAlert, kRotateSelectionExplanation);
    return false;
  }
  SetCocoaCursor(kClosedHandCursor);
  TrackBallState &t = gTrackBall;
  t = TrackBallState{};
  GetWindowGraphBounds(window, &t.pane);
  t.width = t.pane.right - t.pane.left;
  t.height = t.pane.bottom - t.pane.top;
  t.centre.h = static_cast<int16_t>(t.pane.left + t.width / 2);
  t.centre.v = static_cast<int16_t>(t.pane.top + t.height / 2);
  t.window = window;
  t.last = start;
  t.active = true;
  gTrackBallRotn = 1;
  return true;
}

bool TrackBallMove(WindowRef window, Point point) {
  TrackBallState &t = gTrackBall;
  if (!t.active || window != t.window)
    return false;
  const bool applied = TrackRotn(window, point, t.last);
  if (InsidePane(t.pane, point))
    t.last = point;
  if (applied)
    t.changed = true;
  return applied;
}

void EndTrackBall(WindowRef window) {
  TrackBallState &t = gTrackBall;
  if (!t.active || window != t.window)
    return;
  // Any applied step is a change, not only the last one: a final movement
  // that fell within one tick must not leave a turned structure looking
  // unchanged. It is settled sooner than a plot's.
  if (t.changed)
    NoteWindowChange(window, kTrackBallUndoDelay);
  SetCocoaCursor(kOpenHandCursor);
  gTrackBallRotn = 0;
  t.active = false;
  t.window = nullptr;
}

bool IsTrackBallActive() { return gTrackBall.active; }

bool TrackRotn(WindowRef window, Point newPoint, Point oldPoint) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return false;
  TrackBallState &t = gTrackBall;
  const int32_t dh = newPoint.h - oldPoint.h;
  const int32_t dv = newPoint.v - oldPoint.v;
  if (dh == 0 && dv == 0)
    return false;
  const uint32_t tick = TickCount();
  if (t.stepApplied && tick == t.lastTick)
    return false;
  if (t.width <= 0 || t.height <= 0)
    return false;

  if (MyCommandKeyDown()) {
    const bool horizontal = std::abs(dh) > std::abs(dv);
    const float d = static_cast<float>(horizontal ? dh : dv);
    const float r = static_cast<float>(horizontal ? t.width : t.height);
    const float scale = crystal->plotScale + d * crystal->plotScale / r;
    if (!(scale > kTrackBallMinScale && scale < kTrackBallMaxScale))
      return false;
    DoChangePlotScale(crystal, scale);
    NewPlot(window, false, true);
    DrawRulers(window);
    t.stepApplied = true;
    t.lastTick = tick;
    return true;
  }

  float angles[3] = {0.0f, 0.0f, 0.0f};
  if (MyShiftKeyDown()) {
    // Spin about the screen's z axis by the angle at the pane's centre
    // between the old and the new point.
    const float ah = static_cast<float>(newPoint.h - t.centre.h), av = static_cast<float>(newPoint.v - t.centre.v);
    const float bh = static_cast<float>(oldPoint.h - t.centre.h), bv = static_cast<float>(oldPoint.v - t.centre.v);
    const float ch = static_cast<float>(dh), cv = static_cast<float>(dv);
    const float a2 = ah * ah + av * av, b2 = bh * bh + bv * bv, c2 = ch * ch + cv * cv;
    const float a = std::sqrt(a2), b = std::sqrt(b2), c = std::sqrt(c2);
    if (a == 0.0f || b == 0.0f || c == 0.0f)
      return false;
    const float cosine = std::clamp((a2 + b2 - c2) / (2.0f * a * b), -1.0f, 1.0f);
    float angle = std::acos(cosine) * static_cast<float>(kRadToDeg);
    const int32_t turn =
        (oldPoint.h - t.centre.h) * (newPoint.v - t.centre.v) - (newPoint.h - t.centre.h) * (oldPoint.v - t.centre.v);
    if (turn > 0)
      angle = -angle;
    angles[2] = angle;
  } else {
    angles[1] = static_cast<float>(dh) * kTrackBallFullTurn / static_cast<float>(t.width);
    angles[0] = static_cast<float>(dv) * kTrackBallFullTurn / static_cast<float>(t.height);
  }

  if (gCurrentTool == kLatticePlaneTool)
    RotateLatticePlane(crystal, angles);
  else if (gCurrentTool == kRotateTool) {
    if (gRotateSelection)
      RotateSelectionXYZ(crystal, angles);
    else
      RotateXYZ(crystal, angles);
  }
  gShowProgress = 0;
  PlotCrystal(window, kPlotToWindow);
  t.stepApplied = true;
  t.lastTick = tick;
  return true;
}

void GetVectorTipCoordinates(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  for (VectorRecord &v : c.vectors) {
    if (v.atom >= static_cast<uint32_t>(UsableAtomCount(c)))
      continue;
    VecAdd(c.atoms[v.atom].xyz, v.uvw, v.tipXYZ);
    MatMul(c.orientationMatrix, v.tipXYZ, v.tipCart);
  }
}
