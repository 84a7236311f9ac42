// One add-atom click in empty space (the press of the add-atom tool): on a
// molecule of about 10,000 atoms, and on a P 1 crystal of about 20,000
// atoms, which is rebuilt for its new site.
#include "AtomOperations.h"
#include "BuildPipeline.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "render/PlotPipeline.h"
#include "render/RenderGlobals.h"
#include "structurewindow/AtomPicker.h"
#include "structurewindow/BuildingTools.h"
#include "window/MainWindowData.h"

#include "tools/RockSaltScene.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

void Widgets() {
  static int argc = 1;
  static char name[] = "bench";
  static char *argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static auto *app = new QApplication(argc, argv); // lives as long as the process
  (void)app;
  DoShowAtomPickerWindow();
  DoPresetButtons(gPresetOrganic);
  DoChangeActiveElementButton(1); // carbon
}

// A cube of carbon atoms 1.5 A apart, about `n` of them, in a 1000 x 800 pane.
std::unique_ptr<benchscene::Scene> MakeMolecule(int n) {
  std::unique_ptr<benchscene::Scene> scene = benchscene::MakeHeadlessScene(1000, 800);
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  ClearCrystalRec(&c);
  c.molecule = 1;
  int side = 1;
  while (side * side * side < n)
    ++side;
  const int count = side * side * side;
  c.sites = *CreateAsymmetricUnit(count);
  c.atoms = *CreateAtomsArray(count, 0, 0, 0);
  c.atoms.resize(size_t(count));
  c.siteCount = c.atomCount = c.atomsPerCell = count;
  for (int k = 0; k < count; ++k) {
    AsymmetricUnitRecord &site = c.sites[size_t(k)];
    MakeNewSiteLabel(TwoCharsToShort("C"), k, site.label);
    site.elements[0] = TwoCharsToShort("C");
    site.occupancies[0] = 1.0f;
    site.firstAtom = site.lastAtom = k;
    AtomRecord &atom = c.atoms[size_t(k)];
    atom.site = uint32_t(k);
    atom.cart[0] = 1.5f * float(k % side);
    atom.cart[1] = 1.5f * float((k / side) % side);
    atom.cart[2] = 1.5f * float(k / (side * side));
  }
  SetWindowFileOpen(&scene->record, true);
  if (!RunNewMolecule(&scene->record, false, true, true, false))
    return nullptr;
  return scene;
}

void BM_AddAtomToMolecule10k(benchmark::State &state) {
  Widgets();
  std::unique_ptr<benchscene::Scene> scene = MakeMolecule(10000);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  int16_t h = 3;
  for (auto _ : state) {
    DoAddAtom(&scene->record, Point{3, h}, 0);
    h = int16_t(h + 9); // fresh empty space each time, along the top edge
  }
  state.counters["atoms"] = double(GetWindowCrystal(&scene->record)->atomCount);
}

void BM_AddAtomToCrystal20k(benchmark::State &state) {
  Widgets();
  std::unique_ptr<benchscene::Scene> scene = benchscene::MakeRockSalt(13.0f, 1000, 800);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  // The first click gives up the symmetry (the host agrees); the timed ones
  // add sites to the P 1 crystal.
  DoAddAtom(&scene->record, Point{3, 3}, 0);
  for (auto _ : state)
    DoAddAtom(&scene->record, Point{3, 3}, 0);
  state.counters["atoms"] = double(GetWindowCrystal(&scene->record)->atomCount);
}

BENCHMARK(BM_AddAtomToMolecule10k)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_AddAtomToCrystal20k)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
