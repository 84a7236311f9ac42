// Extending, recolouring, restyling and deleting the selection of a long
// chain molecule.
#include "AtomEditing.h"
#include "SelectionCommands.h"
#include "StructureArrays.h"

#include <benchmark/benchmark.h>

namespace {

void Chain(CrystalRec &c, int n) {
  InitBlankCrystalRec(&c);
  c.molecule = 1;
  c.sites.resize(static_cast<size_t>(n));
  c.atoms.resize(static_cast<size_t>(n));
  for (int k = 0; k < n; k++) {
    c.sites[static_cast<size_t>(k)].firstAtom = c.sites[static_cast<size_t>(k)].lastAtom = k;
    AtomRecord &a = c.atoms[static_cast<size_t>(k)];
    a.site = static_cast<uint32_t>(k);
    if (k > 0)
      a.bonds.push_back(static_cast<uint32_t>(k - 1));
    if (k + 1 < n)
      a.bonds.push_back(static_cast<uint32_t>(k + 1));
    a.bondCount = static_cast<uint32_t>(a.bonds.size());
  }
  c.siteCount = c.atomCount = n;
}

// The whole of a 20,000-atom chain from one selected atom in its middle.
void BM_SelectEntireMolecule20000(benchmark::State &state) {
  CrystalRec c;
  Chain(c, 20000);
  for (auto _ : state) {
    for (AtomRecord &a : c.atoms)
      a.selected = 0;
    c.atoms[10000].selected = 1;
    benchmark::DoNotOptimize(DoSelectRelations(c));
  }
}
BENCHMARK(BM_SelectEntireMolecule20000)->Unit(benchmark::kMillisecond);

} // namespace

namespace {

// A new colour for 20,000 selected atoms of a 20,000-atom chain.
void BM_RecolourSelection20000(benchmark::State &state) {
  CrystalRec c;
  Chain(c, 20000);
  uint16_t shade = 0;
  for (auto _ : state) {
    c.spheres.resize(1);
    c.sphereCount = 1;
    for (AtomRecord &a : c.atoms) {
      a.atomType = 0;
      a.selected = 1;
    }
    benchmark::DoNotOptimize(RecolourSelectedAtoms(c, RGBColor{++shade, 0, 0}));
  }
}
BENCHMARK(BM_RecolourSelection20000)->Unit(benchmark::kMillisecond);

} // namespace

namespace {

// Every other atom of a 20,000-atom chain molecule deleted at once.
void BM_DeleteHalfOfMolecule20000(benchmark::State &state) {
  CrystalRec chain;
  Chain(chain, 20000);
  chain.spheres.resize(1);
  chain.sphereCount = 1;
  std::vector<uint8_t> doomed(20000, 0);
  for (size_t k = 0; k < doomed.size(); k += 2)
    doomed[k] = 1;
  for (auto _ : state) {
    state.PauseTiming();
    CrystalRec c = chain;
    state.ResumeTiming();
    DestroyMoleculeAtoms(c, doomed);
    benchmark::DoNotOptimize(c.atomCount);
  }
}
BENCHMARK(BM_DeleteHalfOfMolecule20000)->Unit(benchmark::kMillisecond);

// A custom style for the 19,999 bonds of a selected 20,000-atom chain.
void BM_CustomBondStyle20000(benchmark::State &state) {
  CrystalRec c;
  Chain(c, 20000);
  for (AtomRecord &a : c.atoms)
    a.selected = 1;
  uint16_t style = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(ApplyCustomBondStyle(c, CustomBondStyleRec{static_cast<uint16_t>(++style % 12), {}, {}}));
}
BENCHMARK(BM_CustomBondStyle20000)->Unit(benchmark::kMillisecond);

} // namespace
