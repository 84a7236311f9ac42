// The site browser's refill after a plot, Show on an element row of a large
// crystal, and the coordinate listing of a large structure into the Log.
#include "browsers/SiteBrowserView.h"

#include "SiteBrowserData.h"
#include "StructureArrays.h"
#include "StructureReports.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

// A host that keeps the Log's text and answers everything else plainly.
class BenchHost : public HostServices {
public:
  std::string log;
  bool LogAvailable() override { return true; }
  void LogAppend(std::string_view text, const RGBColor &, size_t) override { log.append(text); }
  bool LogShowing() override { return true; }
  void StatusShow(std::string_view, float) override {}
  void StatusHide() override {}
  int RunAlert(const AlertRequest &) override { return 1; }
  [[noreturn]] void TerminateProgram(int code) override { std::exit(code); }
  WindowRef FrontGraphWindow() override { return nullptr; }
  std::vector<WindowRef> StructureWindows() override { return {}; }
  void DrawWindowSubtitle(WindowRef, std::string_view) override {}
  bool GraphBounds(WindowRef, Rect *) override { return false; }
  std::string WindowTitle(WindowRef) override { return "bench"; }
  void ShowWindow(WindowRef) override {}
  void CloseWindow(WindowRef) override {}
  bool CheckForUserCancel() override { return false; }
  bool MouseButtonDown() override { return false; }
  unsigned CurrentModifiers() override { return 0; }
  void SetCursor(CocoaCursor) override {}
  void UpdateFloatingWindows() override {}
  void ArmTimer(EventLoopTimer &, double) override {}
  void PostToMainThread(std::function<void()>) override {}
  uint64_t NowMicroseconds() override { return 0; }
};

QApplication &App() {
  static int argc = 1;
  static char name[] = "bench";
  static char *argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication *app = new QApplication(argc, argv);
  return *app;
}

// A structure window holding n sites of a few elements, `perSite` atoms each.
struct Window {
  OVWindowRecord record;
  explicit Window(int n, int perSite, bool molecule) {
    InitMainWindowData(&record);
    SetWindowFileOpen(&record, true);
    CrystalRec &c = *GetWindowCrystal(&record);
    c.molecule = molecule ? 1 : 0;
    const char *elements[] = {"C ", "H ", "O ", "N "};
    c.spheres = *CreateSpheresArray(4);
    c.sphereCount = 4;
    c.sites = *CreateAsymmetricUnit(n);
    c.siteCount = n;
    c.atoms.resize(size_t(n) * size_t(perSite));
    for (int s = 0; s < n; s++) {
      AsymmetricUnitRecord &site = c.sites[size_t(s)];
      site.elements[0] = TwoCharsToShort(elements[s % 4]);
      site.occupancies[0] = 1.0f;
      site.atomType = uint32_t(s % 4);
      std::snprintf(site.label, sizeof site.label, "%c%d", elements[s % 4][0], static_cast<uint16_t>(s / 4 + 1));
      site.firstAtom = s * perSite;
      site.lastAtom = s * perSite + perSite - 1;
      site.atomsPerCell = perSite;
      for (int k = 0; k < perSite; k++) {
        AtomRecord &a = c.atoms[size_t(s * perSite + k)];
        a.site = uint32_t(s);
        a.atomType = site.atomType;
        a.xyz[0] = a.cart[0] = 0.001f * float(k);
      }
    }
    for (int t = 0; t < 4; t++)
      c.spheres[size_t(t)].element = TwoCharsToShort(elements[t]);
    c.atomCount = c.atomsPerCell = int32_t(c.atoms.size());
  }
  ~Window() { DestroyMainWindowData(&record); }
};

// The refill after a plot: the same rows with their cells refreshed.
void BM_UpdateSiteBrowser10000SiteMolecule(benchmark::State &state) {
  App();
  Window w(10000, 1, true);
  SiteBrowserView view(&w.record, false);
  InitSiteBrowser(&view);
  view.resize(400, 600);
  view.show();
  view.Refill();
  for (auto _ : state) {
    VerifyInfoDataList(&w.record);
    view.Refill();
  }
}
BENCHMARK(BM_UpdateSiteBrowser10000SiteMolecule)->Unit(benchmark::kMillisecond);

// A refill whose rows change (grouped, then flat, in turn).
void BM_RegroupSiteBrowser10000SiteMolecule(benchmark::State &state) {
  App();
  Window w(10000, 1, true);
  SiteBrowserView view(&w.record, false);
  InitSiteBrowser(&view);
  view.resize(400, 600);
  view.show();
  for (auto _ : state) {
    gInfoWindowShowElements = !gInfoWindowShowElements;
    view.Refill();
  }
  gInfoWindowShowElements = 1;
}
BENCHMARK(BM_RegroupSiteBrowser10000SiteMolecule)->Unit(benchmark::kMillisecond);

// Show ticked on an element row of a 100,000-atom crystal (without the
// replot, which belongs to the renderer).
void BM_ShowElementRow100000Atoms(benchmark::State &state) {
  Window w(1000, 100, false);
  int value = 0;
  for (auto _ : state) {
    value = !value;
    SiteBrowserSetShow(&w.record, TwoCharsToShort("C "), value);
  }
}
BENCHMARK(BM_ShowElementRow100000Atoms)->Unit(benchmark::kMillisecond);

// The coordinate listing of 100,000 atoms into the Log.
void BM_ListCoordinates100000Atoms(benchmark::State &state) {
  BenchHost host;
  HostServices *previous = SetHostServices(&host);
  Window w(1000, 100, false);
  for (auto _ : state) {
    host.log.clear();
    DoListCoordinates(&w.record);
  }
  SetHostServices(previous);
}
BENCHMARK(BM_ListCoordinates100000Atoms)->Unit(benchmark::kMillisecond);

} // namespace
