// Atom images, projection and the depth sort: rendering the atom-type images
// of a structure, projecting and sorting a large structure (also a layered
// one seen edge-on, every atom at one height), and drawing its atoms.
#include "StructureArrays.h"
#include "graphics/GraphicsPort.h"
#include "render/AtomStyles.h"
#include "render/PlotPipeline.h"
#include "render/Projection.h"
#include "render/SphereOverlap.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

using namespace ovgfx;

namespace {

constexpr int kTypes = 20;
constexpr int kAtoms = 100000;
constexpr int kWidth = 1000, kHeight = 800;

// Atoms with view coordinates already set, one site each, spread over the
// types; a layered structure puts them all at z = 0, each bonded to the next.
void Fill(CrystalRec &c, int atoms, bool layered) {
  c = CrystalRec{};
  c.molecule = 1;
  c.modelType = 2;
  c.plotExtent = 40.0f;
  c.spheres.resize(kTypes);
  for (int t = 0; t < kTypes; ++t) {
    c.spheres[size_t(t)].radius = 1.0f;
    c.spheres[size_t(t)].style = t % 2 ? AtomStylePhotoRendered : AtomStyleFilled;
    c.spheres[size_t(t)].colour = RGBColor{uint16_t(3000 * t), 40000, uint16_t(60000 - 2000 * t)};
  }
  std::mt19937 random(7);
  std::uniform_real_distribution<float> u(-20.0f, 20.0f);
  c.sites.resize(size_t(atoms));
  c.atoms.resize(size_t(atoms));
  for (int i = 0; i < atoms; ++i) {
    c.sites[size_t(i)].firstAtom = c.sites[size_t(i)].lastAtom = i;
    AtomRecord &a = c.atoms[size_t(i)];
    a.site = uint32_t(i);
    a.atomType = uint32_t(i % kTypes);
    a.cart[0] = u(random);
    a.cart[1] = u(random);
    a.cart[2] = layered ? 0.0f : u(random);
    if (layered && i + 1 < atoms) {
      a.bonds.push_back(uint32_t(i + 1));
      a.bondCount = 1;
    }
  }
  c.sphereCount = kTypes;
  c.siteCount = c.atomCount = atoms;
}

// The images of 20 atom types at a radius of 40 pixels.
void BM_RenderSpheres(benchmark::State &state) {
  CrystalRec c;
  Fill(c, kTypes, false);
  c.plotScale = 40.0f;
  for (auto _ : state) {
    RenderSpheres(&c);
    benchmark::DoNotOptimize(c.spheres[0].image1.get());
  }
}
BENCHMARK(BM_RenderSpheres)->Unit(benchmark::kMillisecond);

void BM_ProjectAndSort(benchmark::State &state) {
  CrystalRec c;
  Fill(c, kAtoms, state.range(0) != 0);
  c.plotScale = 20.0f;
  for (auto _ : state) {
    SortAtomsByHeight(&c, 0.3f);
    GetPixelCoords(&c, kWidth, kHeight);
    benchmark::DoNotOptimize(c.sortIndex.data());
  }
}
BENCHMARK(BM_ProjectAndSort)->Arg(0)->Arg(1)->ArgName("layered")->Unit(benchmark::kMillisecond);

// The bonds below every atom of a layered structure seen edge-on: every
// height is level, so each needs the index positions of both atoms.
void BM_LevelBondsBelow(benchmark::State &state) {
  CrystalRec c;
  Fill(c, kAtoms, true);
  SortAtomsByHeight(&c, 0.3f);
  for (auto _ : state) {
    size_t bonds = 0;
    for (const SortIndexEntry &e : c.sortIndex)
      bonds += SortBondsBelow(&c, e.index).size();
    benchmark::DoNotOptimize(bonds);
  }
}
BENCHMARK(BM_LevelBondsBelow)->Unit(benchmark::kMillisecond);

// 100,000 atoms of radius 5 to 6 pixels copied from their images.
void BM_DrawAtoms(benchmark::State &state) {
  CrystalRec c;
  Fill(c, kAtoms, false);
  c.plotScale = 5.5f;
  RenderSpheres(&c);
  SortAtomsByHeight(&c, c.minAtomRadius);
  GetPixelCoords(&c, kWidth, kHeight);
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, kWidth, kHeight), 32);
  PortSaver current(port.get());
  for (auto _ : state) {
    for (const SortIndexEntry &e : c.sortIndex)
      DoPlotAtom(&c, e.index, 1.0f, std::nullopt);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DrawAtoms)->Unit(benchmark::kMillisecond);

// The cloud masks of the surface overlay for 10,000 atoms: each corrected
// against the atoms before it in the index that come close.
void BM_CloudMasks(benchmark::State &state) {
  CrystalRec c;
  Fill(c, 10000, false);
  c.plotScale = 20.0f;
  SortAtomsByHeight(&c, 0.3f);
  GetPixelCoords(&c, kWidth, kHeight);
  for (auto _ : state) {
    size_t made = 0;
    for (const SortIndexEntry &e : c.sortIndex) {
      std::optional<Region> mask;
      DoFullOverlapSphereCorrection(&c, e.index, mask, 1.0f, kWidth, kHeight);
      made += mask.has_value();
    }
    benchmark::DoNotOptimize(made);
  }
}
BENCHMARK(BM_CloudMasks)->Unit(benchmark::kMillisecond);

} // namespace
