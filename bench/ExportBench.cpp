// The text exports at size, formatted in memory (the file write is one
// fwrite of the result):
//   crystal coordination listing of a P 1 cell of 1,000 atoms (Si and O on a
//     jittered 2.4 A grid, bonded Si-O up to 2.6 A);
//   distances report of the same kind of cell with 1,000 and 10,648 sites
//     (search radius 3 A);
//   PDB of a 100,000-atom molecule, every atom shown, bonded in a chain;
//   the program's own text file of the grid of 8 sites grown to 91,125 atoms,
//     and the comparison of the bonds that file gives with the
//     structure's (its Log lines), each with the most heap it took.
// Each reports the size of the text in bytes.
#include "BuildPipeline.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "export/Listings.h"
#include "export/OwnTextWriter.h"
#include "export/PDBWriter.h"
#include "window/MainWindowData.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <atomic>
#include <cstdlib>
#include <new>

namespace {

constexpr float kGridSpacing = 2.4f; // A
constexpr float kJitter = 0.25f;     // A, at most
constexpr int kMoleculeAtoms = 100000;

// A P 1 crystal of n^3 sites on a jittered grid, built with its bonds over
// a plot range of 0 to `cells` cells per axis.
CrystalRec Grid(int n, float cells = 1.0f) {
  gPrefs = gFactoryPrefs;
  OVWindowRecord window;
  InitMainWindowData(&window);
  SetWindowFileOpen(&window, true);
  CrystalRec &c = *GetWindowCrystal(&window);
  CopyPrefsToCrystal(&gPrefs, &c);
  c.a = c.b = c.c = kGridSpacing * static_cast<float>(n);
  std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "P 1");
  const int32_t sites = n * n * n;
  c.sites = *CreateAsymmetricUnit(sites);
  c.siteCount = sites;
  uint32_t seed = 12345;
  auto jitter = [&] {
    seed = seed * 1664525u + 1013904223u;
    return (static_cast<float>(seed >> 8) / 16777216.0f * 2.0f - 1.0f) * kJitter / c.a;
  };
  for (int32_t k = 0; k < sites; k++) {
    AsymmetricUnitRecord &s = c.sites[static_cast<size_t>(k)];
    const bool si = (k % n + (k / n) % n + k / (n * n)) % 2 == 0;
    s.elements[0] = TwoCharsToShort(si ? "Si" : "O ");
    s.occupancies[0] = 1.0f;
    std::snprintf(s.label, sizeof s.label, "%s%d", si ? "Si" : "O", k % 100000);
    s.xyz[0] = (static_cast<float>(k % n) + 0.5f) / static_cast<float>(n) + jitter();
    s.xyz[1] = (static_cast<float>((k / n) % n) + 0.5f) / static_cast<float>(n) + jitter();
    s.xyz[2] = (static_cast<float>(k / (n * n)) + 0.5f) / static_cast<float>(n) + jitter();
  }
  c.bondSpecs[0] = {TwoCharsToShort("Si"), TwoCharsToShort("O "), 0.0f, 2.6f, 1, {}, {}};
  c.bondSpecCount = 1;
  for (int k = 0; k < 3; k++) {
    c.plotRange[2 * k] = 0.0f;
    c.plotRange[2 * k + 1] = cells;
  }
  RunNewCrystal(&window, true, true, false);
  CrystalRec copy = c;
  DestroyMainWindowData(&window);
  return copy;
}

const CrystalRec &GridOf(int n) {
  static std::map<int, CrystalRec> built;
  auto it = built.find(n);
  if (it == built.end())
    it = built.emplace(n, Grid(n)).first;
  return it->second;
}

// The grid of 2 x 2 x 2 sites over 22.25 cells per axis: 97,336 atoms.
CrystalRec &GrownGrid() {
  static CrystalRec crystal = Grid(2, 22.25f);
  return crystal;
}

// The heap in use and its highest mark since the last reset, counted by the
// allocation operators below.
std::atomic<size_t> gHeapInUse{0}, gHeapPeak{0};

void ResetHeapPeak() { gHeapPeak = gHeapInUse.load(); }

// The highest heap in use above that of its start while `run` ran, MiB.
template <class Run> double HeapGrowthMiB(Run run) {
  const size_t start = gHeapInUse;
  ResetHeapPeak();
  run();
  return static_cast<double>(gHeapPeak - start) / (1024.0 * 1024.0);
}

const CrystalRec &Molecule() {
  static CrystalRec crystal = [] {
    CrystalRec c;
    c.molecule = 1;
    c.sites.resize(kMoleculeAtoms);
    c.atoms.resize(kMoleculeAtoms);
    for (int k = 0; k < kMoleculeAtoms; k++) {
      AsymmetricUnitRecord &s = c.sites[static_cast<size_t>(k)];
      s.elements[0] = TwoCharsToShort(k % 3 ? "C " : "Fe");
      s.occupancies[0] = 1.0f;
      s.firstAtom = s.lastAtom = k;
      std::snprintf(s.label, sizeof s.label, "C%d", k % 1000000);
      AtomRecord &a = c.atoms[static_cast<size_t>(k)];
      a.site = static_cast<uint32_t>(k);
      a.cart[0] = 1.5f * static_cast<float>(k % 47);
      a.cart[1] = 1.5f * static_cast<float>((k / 47) % 47);
      a.cart[2] = 1.5f * static_cast<float>(k / (47 * 47));
      if (k > 0)
        a.bonds.push_back(static_cast<uint32_t>(k - 1));
      if (k + 1 < kMoleculeAtoms)
        a.bonds.push_back(static_cast<uint32_t>(k + 1));
      a.bondCount = static_cast<uint32_t>(a.bonds.size());
    }
    c.siteCount = c.atomCount = kMoleculeAtoms;
    return c;
  }();
  return crystal;
}

void BM_CrystalCoordinationListing1000(benchmark::State &state) {
  const CrystalRec &c = GridOf(10);
  size_t bytes = 0;
  for (auto _ : state) {
    const auto text = FormatCrystalCoordinationListing(c, "grid", "1.0.0");
    bytes = text ? text->size() : 0;
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["atoms"] = c.atomsPerCell;
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_CrystalCoordinationListing1000)->Unit(benchmark::kMillisecond);

void BM_DistancesReport(benchmark::State &state) {
  CrystalRec c = GridOf(static_cast<int>(state.range(0)));
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = FormatBondsReport(c, "grid", "1.0.0", 3.0f);
    bytes = text.size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["sites"] = c.siteCount;
  state.counters["bytes"] = static_cast<double>(bytes);
}
// 1,000 and 10,648 (22^3) sites.
BENCHMARK(BM_DistancesReport)->Arg(10)->Arg(22)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_PDB100000(benchmark::State &state) {
  const CrystalRec &c = Molecule();
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = FormatPDBFile(c, "chain", "1.0.0");
    bytes = text.size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_PDB100000)->Unit(benchmark::kMillisecond);

void BM_OwnTextFileOfGrownGrid(benchmark::State &state) {
  const CrystalRec &c = GrownGrid();
  size_t bytes = 0;
  double heap = 0;
  for (auto _ : state) {
    heap = HeapGrowthMiB([&] { bytes = FormatTextFile(c, "grid", "").size(); });
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["atoms"] = static_cast<double>(c.atoms.size());
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["heapMiB"] = heap;
}
BENCHMARK(BM_OwnTextFileOfGrownGrid)->Unit(benchmark::kMillisecond);

void BM_OwnTextFileBondsOfGrownGrid(benchmark::State &state) {
  CrystalRec &c = GrownGrid();
  int64_t leftOut = 0, added = 0;
  double heap = 0;
  for (auto _ : state) {
    heap = HeapGrowthMiB([&] {
      const auto changes = CompareBondsWithTextFile(c);
      leftOut = changes ? changes->leftOut : -1;
      added = changes ? changes->added : -1;
    });
    benchmark::DoNotOptimize(leftOut);
  }
  state.counters["atoms"] = static_cast<double>(c.atoms.size());
  state.counters["leftOut"] = static_cast<double>(leftOut);
  state.counters["added"] = static_cast<double>(added);
  state.counters["heapMiB"] = heap;
}
BENCHMARK(BM_OwnTextFileBondsOfGrownGrid)->Unit(benchmark::kMillisecond);

} // namespace

// Every allocation keeps its size in front of it, for the heap counts.
void *operator new(size_t size) {
  auto *block = static_cast<size_t *>(std::malloc(size + sizeof(std::max_align_t)));
  if (!block)
    throw std::bad_alloc();
  *block = size;
  const size_t now = gHeapInUse += size;
  for (size_t peak = gHeapPeak; now > peak && !gHeapPeak.compare_exchange_weak(peak, now);) {
  }
  return reinterpret_cast<char *>(block) + sizeof(std::max_align_t);
}
void operator delete(void *p) noexcept {
  if (!p)
    return;
  auto *block = reinterpret_cast<size_t *>(static_cast<char *>(p) - sizeof(std::max_align_t));
  gHeapInUse -= *block;
  std::free(block);
}
void operator delete(void *p, size_t) noexcept { operator delete(p); }
// The window data is made with new (nothrow): its block too keeps its size,
// for the delete above reads it.
void *operator new(size_t size, const std::nothrow_t &) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}
