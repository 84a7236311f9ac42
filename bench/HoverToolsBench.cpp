// What one mouse movement costs with the hover tools over rock salt of
// about 20,000 atoms in a 1000 x 800 structure window of the program: each
// step moves between two atoms, so every step moves the highlights (the
// bond-distance tool) or writes the atom's report to the Log and arms the
// info-tip timer (the info tool). Target: under 5 ms a step.
#include "shell/FileCommands.h"
#include "shell/Startup.h"
#include "structurewindow/InfoTool.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/MeasureTools.h"
#include "structurewindow/StructureWindow.h"
#include "structurewindow/Tools.h"

#include "render/HitTesting.h"
#include "tools/RockSaltScene.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <array>

namespace {

MainWindow *RockSaltWindow() {
  static MainWindow *window = []() -> MainWindow * {
    static int argc = 1;
    static char name[] = "bench";
    static char *argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    new QApplication(argc, argv); // lives as long as the process
    InstallProgramLocale();
    QApplication::setQuitOnLastWindowClosed(false);
    if (!OVInitialize({}))
      return nullptr;
    MainWindow *w = GetMainWindow(FrontGraphWindow());
    if (!w)
      return nullptr;
    HideSidebar(w->Ref());
    w->ResizeContent(1000, 800);
    w->show();
    QCoreApplication::processEvents();
    benchscene::FillRockSalt(*GetWindowCrystal(w->Ref()), 13.0f);
    if (!benchscene::BuildTurned(w->Ref()))
      return nullptr;
    PlotCrystal(w->Ref(), kPlotToWindow);
    QCoreApplication::processEvents();
    return w;
  }();
  return window;
}

// Two points of the pane, in window coordinates, each on an atom that a
// click there finds.
bool TwoAtomPoints(MainWindow *w, std::array<Point, 2> &points, std::array<int32_t, 2> &atoms) {
  const CrystalRec &c = *GetWindowCrystal(w->Ref());
  const QPoint origin = w->GraphPane()->geometry().topLeft();
  size_t found = 0;
  for (size_t i = c.atoms.size() / 2; i < c.atoms.size() && found < 2; ++i) {
    const Point p{int16_t(origin.y() + c.atoms[i].pixel[1]), int16_t(origin.x() + c.atoms[i].pixel[0])};
    int16_t kind = 0;
    int32_t index = -1, radius = 0;
    if (FindClickedObject(w->Ref(), p, &kind, &index, &radius) && kind == kHitAtom && index == int32_t(i) &&
        (found == 0 || p.h != points[0].h || p.v != points[0].v))
      atoms[found] = int32_t(i), points[found++] = p;
  }
  return found == 2;
}

void HoverSteps(benchmark::State &state, int16_t tool) {
  MainWindow *w = RockSaltWindow();
  std::array<Point, 2> points;
  std::array<int32_t, 2> atoms;
  if (!w || !TwoAtomPoints(w, points, atoms)) {
    state.SkipWithError("no rock salt window");
    return;
  }
  gCurrentTool = tool;
  gNumSelAtoms = 0;
  size_t step = 0;
  for (auto _ : state) {
    const Point at = points[step++ % 2];
    if (tool == kToolBondDistance)
      DoBondDistance(w->Ref(), at, false);
    else
      DoInfoTool(w->Ref(), at, false);
  }
  // The last step's atom is the one the tool took up.
  const int32_t last = atoms[(step - 1) % 2];
  if (step > 0 && (tool == kToolBondDistance ? gSelAtom1 : gInfoAtomNum) != last)
    state.SkipWithError("the tool did not take up the atom under the mouse");
  state.counters["atoms"] = double(GetWindowCrystal(w->Ref())->atomCount);
}

void BM_BondDistanceHover20k(benchmark::State &state) { HoverSteps(state, kToolBondDistance); }
void BM_InfoToolHover20k(benchmark::State &state) { HoverSteps(state, kToolArrow); }

} // namespace

BENCHMARK(BM_BondDistanceHover20k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InfoToolHover20k)->Unit(benchmark::kMillisecond);
