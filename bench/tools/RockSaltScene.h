// Rock salt built for the benchmarks: the range 0 to `range` on every axis,
// Na-Cl bonds, ball and stick, turned 20 degrees about x and 30 about y; in
// a headless structure window with a pane of the chosen size, or in a
// structure window of the program.
#pragma once

#include "BuildPipeline.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "ViewOrientation.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include "HeadlessHost.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace benchscene {

inline QGuiApplication *App() {
  if (qGuiApp) // a benchmark that needs widgets made its own
    return qGuiApp;
  static int argc = 1;
  static char name[] = "bench";
  static char *argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QGuiApplication app(argc, argv);
  return &app;
}

struct Scene {
  HeadlessHost host;
  OVWindowRecord record;
  ~Scene() {
    DestroyMainWindowData(&record);
    SetHostServices(nullptr);
  }
};

// An empty headless structure window with a graph pane of the size, its
// host installed.
inline std::unique_ptr<Scene> MakeHeadlessScene(int16_t width, int16_t height) {
  App();
  auto scene = std::make_unique<Scene>();
  SetHostServices(&scene->host);
  InstallRenderServices();
  InitOVGlobals();
  InitMainWindowData(&scene->record);
  scene->host.window = &scene->record;
  scene->host.pane = Rect{0, 0, height, width};
  return scene;
}

// Fills the window's structure with rock salt over 0 to `range` on every
// axis, with Na-Cl bonds, before its build.
inline void FillRockSalt(CrystalRec &c, float range) {
  ClearCrystalRec(&c);
  c.a = c.b = c.c = 5.64f;
  c.alpha = c.beta = c.gamma = 90.0f;
  std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "F m -3 m");
  const float r[6] = {0.0f, range, 0.0f, range, 0.0f, range};
  std::copy(r, r + 6, c.plotRange);
  c.sites = *CreateAsymmetricUnit(2);
  c.siteCount = 2;
  const char *labels[2] = {"Cl1", "Na1"}, *elements[2] = {"Cl", "Na"};
  const float xyz[2][3] = {{0.5f, 0.5f, 0.5f}, {0.0f, 0.0f, 0.0f}};
  for (int s = 0; s < 2; s++) {
    AsymmetricUnitRecord &site = c.sites[size_t(s)];
    std::snprintf(site.label, sizeof site.label, "%s", labels[s]);
    site.elements[0] = TwoCharsToShort(elements[s]);
    site.occupancies[0] = 1.0f;
    std::copy(xyz[s], xyz[s] + 3, site.xyz);
  }
  BondSpec spec;
  spec.elementA = TwoCharsToShort("Na");
  spec.elementB = TwoCharsToShort("Cl");
  spec.minLength = 2.5f;
  spec.maxLength = 3.0f;
  spec.style = 1;
  spec.colour1 = spec.colour2 = RGBColor{45000, 45000, 45000};
  c.bondSpecs[0] = spec;
  c.bondSpecCount = 1;
}

// Builds the window's structure, turns it 20 degrees about x and 30 about
// y and renders its atom images in ball and stick.
inline bool BuildTurned(WindowRef window) {
  if (!RunNewCrystal(window, true, true, true))
    return false;
  SetWindowFileOpen(window, true);
  CrystalRec &c = *GetWindowCrystal(window);
  const float turn[3] = {20.0f, 30.0f, 0.0f};
  RotateXYZ(&c, turn);
  c.modelType = kBallAndStickModel;
  ResetOffScreen(window);
  RenderSpheres(&c);
  return true;
}

// Rock salt over 0 to `range` on every axis in a headless window, built for
// a pane of the size and turned. `beforeBuild` may change the record (site
// modes, say) before the structure is built.
inline std::unique_ptr<Scene> MakeRockSalt(float range, int16_t width, int16_t height,
                                           const std::function<void(CrystalRec &)> &beforeBuild = {}) {
  std::unique_ptr<Scene> scene = MakeHeadlessScene(width, height);
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  FillRockSalt(c, range);
  if (beforeBuild)
    beforeBuild(c);
  if (!BuildTurned(&scene->record))
    return nullptr;
  return scene;
}

} // namespace benchscene
