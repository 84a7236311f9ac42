// The structure editor on a large molecule: fill the editor's record from a
// 50,000-site molecule, remove 10,000 selected rows (every fifth), resolve
// the atom types and apply (`DoEditMolecule`, which rebuilds the molecule
// without bonds: the window has no graph pane and no bond specifications).
// No host is installed: alerts and the Log stay silent.
#include "BuildPipeline.h"
#include "EditCrystalRecord.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

constexpr int32_t kSites = 50000;

void FillMolecule(CrystalRec &c) {
  ClearCrystalRec(&c);
  c.molecule = 1;
  c.sites = *CreateAsymmetricUnit(kSites);
  c.atoms = *CreateAtomsArray(kSites, 0, 0, 0);
  c.atoms.resize(kSites);
  c.siteCount = c.atomCount = c.atomsPerCell = kSites;
  c.spheres = *CreateSpheresArray(2);
  c.sphereCount = 2;
  c.spheres[0].element = TwoCharsToShort("C ");
  c.spheres[1].element = TwoCharsToShort("H ");
  for (int32_t i = 0; i < kSites; i++) {
    AsymmetricUnitRecord &s = c.sites[static_cast<size_t>(i)];
    AtomRecord &a = c.atoms[static_cast<size_t>(i)];
    const uint32_t type = i % 3 == 0 ? 0 : 1;
    s.elements[0] = c.spheres[type].element;
    s.occupancies[0] = 1.0f;
    s.atomType = a.atomType = type;
    std::snprintf(s.label, sizeof s.label, "%c%d", type ? 'H' : 'C', i % 100000);
    a.site = static_cast<uint32_t>(i);
    a.cart[0] = 1.5f * static_cast<float>(i % 37);
    a.cart[1] = 1.5f * static_cast<float>((i / 37) % 37);
    a.cart[2] = 1.5f * static_cast<float>(i / (37 * 37));
  }
}

void BM_EditLargeMolecule(benchmark::State &state) {
  gPrefs = gFactoryPrefs;
  OVWindowRecord window;
  InitMainWindowData(&window);
  for (auto _ : state) {
    state.PauseTiming();
    FillMolecule(*GetWindowCrystal(&window));
    state.ResumeTiming();
    EditCrystalRec record;
    if (FillEditCrystalRecFromCrystal(GetWindowCrystal(&window), &record) != 0)
      state.SkipWithError("the editor refused the molecule");
    for (size_t i = 0; i < record.sites.size(); i += 5)
      record.sites[i].selected = true;
    RemoveSelectedEditSites(&record);
    ResolveEditSiteAtomTypes(&record, gPrefs);
    DoEditMolecule(&window, &record);
    benchmark::DoNotOptimize(GetWindowCrystal(&window)->atomCount);
  }
  DestroyMainWindowData(&window);
}
BENCHMARK(BM_EditLargeMolecule)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
