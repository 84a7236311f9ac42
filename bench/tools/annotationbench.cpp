// annotationbench: a developer's tool that times the region selection and
// the label conversion on rock salt in a headless 1000 x 800 window:
//   - a 5,000-point lasso over about 20,000 atoms (the selection itself,
//     and the whole region command with its replot),
//   - converting 10,000 atom labels into text boxes,
//   - one plot with those 10,000 text boxes.
//
// Run it offscreen: QT_QPA_PLATFORM=offscreen annotationbench

#include "structurewindow/AnnotationEditing.h"
#include "structurewindow/ArrowTool.h"
#include "memory/HeapReuse.h"

#include "tools/RockSaltScene.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

double Milliseconds(const std::function<void()> &work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main() {
  ovmem::KeepFreedMemoryForReuse();
  std::unique_ptr<benchscene::Scene> scene = benchscene::MakeRockSalt(13.5f, 1000, 800);
  if (!scene)
    return 1;
  WindowRef window = &scene->record;
  CrystalRec &c = *GetWindowCrystal(window);
  PlotCrystal(window, 1);
  std::printf("%d atoms, pane 1000x800\n", UsableAtomCount(c));

  // A 5,000-point lasso: a wavy ring round the middle of the pane.
  PaneRegion lasso;
  for (int k = 0; k < 5000; ++k) {
    const double t = 2 * M_PI * k / 5000.0;
    const double r = 300 + 20 * std::sin(37 * t);
    lasso.points.push_back(float(500 + r * std::cos(t)));
    lasso.points.push_back(float(400 + r * std::sin(t)));
  }
  int64_t selected = 0;
  const double mask = Milliseconds([&] {
    const std::vector<uint8_t> m = RasteriseRegion(lasso, 1000, 800);
    for (const AtomRecord &a : c.atoms)
      selected += a.pixel[0] >= 0 && a.pixel[0] < 1000 && a.pixel[1] >= 0 && a.pixel[1] < 800 &&
                  m[size_t(a.pixel[1]) * 1000 + size_t(a.pixel[0])];
  });
  std::printf("lasso of 5000 points: mask and lookup %.2f ms (%lld atoms inside)\n", mask, (long long)selected);
  const double plot = Milliseconds([&] { NewPlot(window, false, false); });
  const double region = Milliseconds([&] { PlotCrystalRegion(window, lasso, false); });
  const double selectedPlot = Milliseconds([&] { NewPlot(window, false, false); });
  std::printf("region command with its replot %.2f ms (a replot %.2f ms unselected, %.2f ms selected)\n", region,
              plot, selectedPlot);

  // 10,000 selected atoms' labels into text boxes.
  int64_t n = 0;
  for (AtomRecord &a : c.atoms) {
    a.selected = n < 10000 ? 1 : 0;
    n += a.visible ? 1 : 0;
  }
  const double convert = Milliseconds([&] { ConvertAtomLabelsToTextboxes(window); });
  std::printf("converting %d labels %.2f ms (including one replot)\n", c.textBoxCount, convert);
  const double boxes = Milliseconds([&] { PlotCrystal(window, 1); });
  // The conversion's own share is the difference of the two lines.
  std::printf("one plot with %d text boxes %.2f ms\n", c.textBoxCount, boxes);
  return 0;
}
