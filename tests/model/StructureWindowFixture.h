// A structure window on the recording host for the range, view and plot
// tests: a real per-window record, a graph pane of a chosen size on the
// host (which records what the window is asked to do), and crystals built the way the build leaves
// them before it applies the requested range (one generated cell, Cartesian
// coordinates, one atom type per site, the range 0 to 0.999 over one cell).
#pragma once

#include "FakeHost.h"
#include "PlotRange.h"
#include "Preferences.h"
#include "StructureArrays.h"

#include "UnitCell.h"
#include "Utilities.h"
#include "VectorMath.h"
#include "ViewOrientation.h"
#include "import/ImportPath.h"
#include "render/PlotPipeline.h"
#include "render/RenderGlobals.h"
#include "window/MainWindowData.h"
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace viewtest {

struct Site {
  const char *label;
  const char *element; // one or two characters
  float x, y, z;
  float radius = 1.0f;
};

struct Bond {
  const char *a;
  const char *b;
  float minLength, maxLength;
};

inline ElementCode Element(const char *symbol) {
  const char code[3] = {symbol[0], symbol[1] ? symbol[1] : ' ', '\0'};
  return TwoCharsToShort(code);
}

// Resets every program-wide flag these tests touch.
inline void ResetViewGlobals() {
  gRotateSelection = 0;
  gShowProgress = 0;
  gTrackBallRotn = 0;
  gUseFastRotn = 0;
  gOVPrinting = 0;
  gPlotMethod = kPixelPlotMethod;
  gCurrentTool = kRotateTool;
  gDiscardSymmetryConsent = nullptr;
  gHPixels = 0;
  gVPixels = 0;
  gPrefs = gFactoryPrefs;
  gUndoBufferTimer.proc = nullptr;
  gRenderingReplotTimer.proc = nullptr;
}

// A structure window that holds a structure, in front on the host, with a
// graph pane at (10, 20) of the given size (`host.graphPanes[ref()]`); what
// the window is asked to do is recorded by the host.
class TestWindow {
public:
  explicit TestWindow(FakeHost &host, int16_t width = 400, int16_t height = 300) : host_(host) {
    ResetViewGlobals();
    InitMainWindowData(&record_);
    SetWindowFileOpen(&record_, true);
    host.windows.insert(host.windows.begin(), &record_);
    host.graphPanes[&record_] = Rect{20, 10, static_cast<int16_t>(20 + height), static_cast<int16_t>(10 + width)};
  }
  ~TestWindow() {
    EXPECT_EQ(CheckCrystalInvariants(crystal()), "");
    if (IsTrackBallActive())
      EndTrackBall(&record_);
    for (auto it = host_.windows.begin(); it != host_.windows.end(); ++it)
      if (*it == &record_) {
        host_.windows.erase(it);
        break;
      }
    host_.graphPanes.erase(&record_);
    DestroyMainWindowData(&record_);
    ResetViewGlobals();
  }
  TestWindow(const TestWindow &) = delete;
  TestWindow &operator=(const TestWindow &) = delete;

  WindowRef ref() { return &record_; }
  CrystalRec &crystal() { return *GetWindowCrystal(&record_); }
  // Marked, or with a change noted that the undo timer marks (the model's
  // tests run without it).
  bool modified() {
    const MainWindowData *d = GetMainWindowData(&record_);
    return d->windowModified || d->undoStatePending;
  }

private:
  FakeHost &host_;
  OVWindowRecord record_;
};

// A crystal of the given group, cell and sites with one generated cell:
// sites sorted as given (callers give them sorted by element), one atom type
// per site with the site's radius, Cartesian coordinates from the view
// direction, and the range 0 to 0.999 over one cell, as the build leaves it
// before it applies the requested range.
inline bool BuildFirstCell(CrystalRec &c, const char *group, const float cell[6], const std::vector<Site> &sites,
                           const std::vector<Bond> &bonds = {}) {
  InitBlankCrystalRec(&c);
  std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "%s", group);
  c.a = cell[0];
  c.b = cell[1];
  c.c = cell[2];
  c.alpha = cell[3];
  c.beta = cell[4];
  c.gamma = cell[5];
  const int32_t n = static_cast<int32_t>(sites.size());
  c.sites = *CreateAsymmetricUnit(n);
  c.siteCount = n;
  c.spheres = *CreateSpheresArray(n);
  c.sphereCount = n;
  for (int32_t k = 0; k < n; k++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(k)];
    const Site &in = sites[static_cast<size_t>(k)];
    std::snprintf(site.label, sizeof site.label, "%s", in.label);
    site.elements[0] = Element(in.element);
    site.occupancies[0] = 1.0f;
    site.atomType = static_cast<uint32_t>(k);
    site.xyz[0] = in.x;
    site.xyz[1] = in.y;
    site.xyz[2] = in.z;
    SphereRecord &type = c.spheres[static_cast<size_t>(k)];
    type.element = site.elements[0];
    type.radius = in.radius;
  }
  c.bondSpecCount = static_cast<int32_t>(bonds.size());
  for (size_t k = 0; k < bonds.size(); k++) {
    c.bondSpecs[k].elementA = Element(bonds[k].a);
    c.bondSpecs[k].elementB = Element(bonds[k].b);
    c.bondSpecs[k].minLength = bonds[k].minLength;
    c.bondSpecs[k].maxLength = bonds[k].maxLength;
  }
  GetMetricTensor(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.metricTensor);
  if (!GenCell(&c))
    return false;
  ApplyViewDirection(&c, true);
  const float firstCell[6] = {0.0f, 0.999f, 0.0f, 0.999f, 0.0f, 0.999f};
  std::copy(firstCell, firstCell + 6, c.plotRange);
  c.na = c.nb = c.nc = 1;
  return true;
}

// Rock salt, a = 5.64 A: Na on 4a, Cl on 4b.
inline bool BuildRockSalt(CrystalRec &c) {
  const float cell[6] = {5.64f, 5.64f, 5.64f, 90.0f, 90.0f, 90.0f};
  return BuildFirstCell(c, "F m -3 m", cell,
                        {{"Cl1", "Cl", 0.5f, 0.5f, 0.5f, 1.81f}, {"Na1", "Na", 0.0f, 0.0f, 0.0f, 1.02f}},
                        {{"Na", "Cl", 2.5f, 3.0f}});
}

// Rutile TiO2: a = 4.5937, c = 2.9587 A; O on 4f with x = 0.30478.
inline bool BuildRutile(CrystalRec &c) {
  const float cell[6] = {4.5937f, 4.5937f, 2.9587f, 90.0f, 90.0f, 90.0f};
  return BuildFirstCell(c, "P 42/m n m", cell,
                        {{"O1", "O", 0.30478f, 0.30478f, 0.0f, 1.4f}, {"Ti1", "Ti", 0.0f, 0.0f, 0.0f, 0.6f}},
                        {{"Ti", "O", 0.0f, 2.2f}});
}

// The bundled pyrope example grown to a column of 14 cells along c and seen
// nearly along it, the column's end at `scale` pixels per Angstrom: a
// picture in which nearer bonds and balls hide most of those behind. False
// when the file cannot be read or the range set.
inline bool OpenPyropeColumn(WindowRef w, float scale) {
  if (!OpenStructureFile(w, std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/Pyrope.ovtx") ||
      !ReplotWithPlotRange(w, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 14.0f, true))
    return false;
  CrystalRec &c = *GetWindowCrystal(w);
  const float alongC[3] = {0.0f, 0.0f, 1.0f}, turn[3] = {2.0f, 1.5f, 1.0f};
  CopyVector(c.viewDirection, alongC);
  ApplyViewDirection(&c, true);
  RotateXYZ(&c, turn);
  c.plotScale = scale;
  c.depthFading = 0;
  c.perspective = 0;
  return true;
}

// Every bond of the structure in one style (a `BondStyle`) and of
// `radius` times the smallest atom radius.
inline void SetEveryBondStyle(CrystalRec &c, int16_t style, float radius) {
  c.defaultBondStyle = style;
  for (int k = 0; k < c.bondSpecCount; k++)
    c.bondSpecs[size_t(k)].style = style;
  c.bondRadius = radius;
}

inline int32_t CountVisible(const CrystalRec &c) {
  int32_t n = 0;
  for (int32_t k = 0; k < c.atomCount; k++)
    n += c.atoms[static_cast<size_t>(k)].visible ? 1 : 0;
  return n;
}

// The index of the first atom at the fractional position, or -1.
inline int32_t AtomAt(const CrystalRec &c, float x, float y, float z, float tolerance = 1e-4f) {
  for (int32_t k = 0; k < c.atomCount; k++) {
    const AtomRecord &a = c.atoms[static_cast<size_t>(k)];
    if (std::fabs(a.xyz[0] - x) < tolerance && std::fabs(a.xyz[1] - y) < tolerance &&
        std::fabs(a.xyz[2] - z) < tolerance)
      return k;
  }
  return -1;
}

// Largest |(M^T M - G)_ij|: zero when M takes fractional coordinates to an
// orthonormal frame of the cell with metric tensor G.
inline double MetricError(const float M[9], const float G[9]) {
  double worst = 0.0;
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) {
      double s = 0.0;
      for (int k = 0; k < 3; k++)
        s += double(M[3 * k + i]) * double(M[3 * k + j]);
      worst = std::max(worst, std::fabs(s - double(G[3 * i + j])));
    }
  return worst;
}

// Largest entry difference of two 3x3 matrices.
inline double MatrixDifference(const float A[9], const float B[9]) {
  double worst = 0.0;
  for (int k = 0; k < 9; k++)
    worst = std::max(worst, std::fabs(double(A[k]) - double(B[k])));
  return worst;
}

// A depth-sort index of every visible atom, in atom order.
inline void SortIndexOfVisibleAtoms(CrystalRec &c) {
  c.sortIndex.clear();
  for (int32_t k = 0; k < c.atomCount; k++)
    if (c.atoms[static_cast<size_t>(k)].visible)
      c.sortIndex.push_back(SortIndexEntry{static_cast<uint32_t>(k), kSortItemAtom});
  c.sortIndexCount = static_cast<int32_t>(c.sortIndex.size());
}

} // namespace viewtest
