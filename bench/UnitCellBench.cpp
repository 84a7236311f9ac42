// Cell generation on large inputs: a 10,000-site protein-like crystal in
// P 21 21 21 and 200 general sites in F m -3 m (192 operators each), all on
// general positions.
// The site removal is measured twice: the engine's bucketed search and the
// plain all-pairs form it replaced (the tests' reference), which must give
// the same sites.
#include "Preferences.h"
#include "StructureArrays.h"
#include "UnitCell.h"

#include "../tests/model/UnitCellReference.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>

namespace {

// n random general sites (each with the full orbit) of a few elements.
CrystalRec MakeCrystal(const char *symbol, float cell, int32_t n, uint32_t seed) {
  CrystalRec c;
  InitBlankCrystalRec(&c);
  std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "%s", symbol);
  c.a = c.b = c.c = cell;
  int32_t nOps = 0;
  GetCrystalGEPs(&c, &nOps);
  c.sites = *CreateAsymmetricUnit(n);
  c.siteCount = n;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const char *elements[] = {"C", "N", "O", "S"};
  for (int32_t s = 0; s < n; s++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    std::snprintf(site.label, sizeof site.label, "X%d", static_cast<int>(s % 100000));
    site.elements[0] = TwoCharsToShort(elements[rng() % 4]);
    site.occupancies[0] = 1.0f;
    int32_t multiplicity = 0;
    do {
      for (float &v : site.xyz)
        v = unit(rng);
      float xyz[3] = {site.xyz[0], site.xyz[1], site.xyz[2]};
      GetSiteMultiplicity(&c, xyz, &multiplicity);
    } while (multiplicity != nOps);
  }
  return c;
}

const CrystalRec &Protein() {
  static const CrystalRec c = MakeCrystal("P 21 21 21", 80.0f, 10000, 1u);
  return c;
}

const CrystalRec &Zeolite() {
  static const CrystalRec c = MakeCrystal("F m -3 m", 24.0f, 200, 2u);
  return c;
}

template <void (*Remove)(CrystalRec *)> void RunRemoval(benchmark::State &state, const CrystalRec &source) {
  int32_t kept = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CrystalRec c = source;
    state.ResumeTiming();
    Remove(&c);
    kept = c.siteCount;
    benchmark::DoNotOptimize(c.sites.data());
  }
  state.counters["sites"] = source.siteCount;
  state.counters["kept"] = kept;
}

void BM_RemoveSymmetryRelatedSites_P212121_10k(benchmark::State &state) {
  RunRemoval<RemoveSymmetryRelatedSites>(state, Protein());
}
void BM_RemoveSymmetryRelatedSitesPlain_P212121_10k(benchmark::State &state) {
  RunRemoval<ReferenceRemoveSymmetryRelatedSites>(state, Protein());
}
void BM_RemoveSymmetryRelatedSites_Fm3m_200(benchmark::State &state) {
  RunRemoval<RemoveSymmetryRelatedSites>(state, Zeolite());
}
void BM_RemoveSymmetryRelatedSitesPlain_Fm3m_200(benchmark::State &state) {
  RunRemoval<ReferenceRemoveSymmetryRelatedSites>(state, Zeolite());
}

// The build's two steps together: the site removal, then the cell.
void RunBuild(benchmark::State &state, const CrystalRec &source) {
  int32_t atoms = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CrystalRec c = source;
    state.ResumeTiming();
    RemoveSymmetryRelatedSites(&c);
    if (!GenCell(&c))
      state.SkipWithError("GenCell failed");
    atoms = c.atomCount;
    benchmark::DoNotOptimize(c.atoms.data());
  }
  state.counters["atoms"] = atoms;
}

void BM_RemoveAndGenCell_P212121_10k(benchmark::State &state) { RunBuild(state, Protein()); }
void BM_RemoveAndGenCell_Fm3m_200(benchmark::State &state) { RunBuild(state, Zeolite()); }

void RunGenCell(benchmark::State &state, const CrystalRec &source) {
  CrystalRec c = source;
  RemoveSymmetryRelatedSites(&c);
  for (auto _ : state) {
    if (!GenCell(&c))
      state.SkipWithError("GenCell failed");
    benchmark::DoNotOptimize(c.atoms.data());
  }
  state.counters["atoms"] = c.atomCount;
}

void BM_GenCell_P212121_10k(benchmark::State &state) { RunGenCell(state, Protein()); }
void BM_GenCell_Fm3m_200(benchmark::State &state) { RunGenCell(state, Zeolite()); }

} // namespace

BENCHMARK(BM_RemoveSymmetryRelatedSites_P212121_10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveSymmetryRelatedSitesPlain_P212121_10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveSymmetryRelatedSites_Fm3m_200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveSymmetryRelatedSitesPlain_Fm3m_200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenCell_P212121_10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenCell_Fm3m_200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveAndGenCell_P212121_10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveAndGenCell_Fm3m_200)->Unit(benchmark::kMillisecond);
