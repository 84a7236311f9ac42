// Polyhedra and thermal ellipsoids.
//
// Perovskite: a 10 x 10 x 10 supercell of cubic SrTiO3, its Ti octahedra lit
// (polyhedron mode 15) with the Sr atoms between them, at 1000 x 800: the
// depth sort, the projection, the background and the polyhedral model walk,
// as one plot draws them.
//
// Ellipsoids: 1,000 lit ellipsoids of about 8 to 18 pixels radius on a
// 10 x 10 x 10 grid, drawn back to front, at full quality and as a fast rotation frame.
//
// OV_BENCH_PNG naming a folder writes one picture of each into it.
#include "Polyhedra.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "graphics/GraphicsPort.h"
#include "render/AtomStyles.h"
#include "render/Background.h"
#include "render/EllipsoidDrawing.h"
#include "render/PlotPipeline.h"
#include "render/PolyhedronDrawing.h"
#include "render/Projection.h"
#include "render/RasterPrimitives.h"
#include "render/RenderGlobals.h"

#include "../tests/model/PolyhedraStructures.h"

#include <QImage>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

using namespace ovgfx;

namespace {

constexpr int kWidth = 1000, kHeight = 800;

void Require(const std::string &error, const char *what) {
  if (!error.empty()) {
    std::fprintf(stderr, "%s: %s\n", what, error.c_str());
    std::exit(1);
  }
}

void Save(GraphicsPort &port, const char *name) {
  const char *folder = std::getenv("OV_BENCH_PNG");
  if (!folder)
    return;
  PixelBuffer &px = *port.Pixels();
  QImage image(px.BaseAddr(), px.Width(), px.Height(), qsizetype(px.RowBytes()), QImage::Format_ARGB32);
  image.save(QString::fromStdString(std::string(folder) + "/" + name + ".png"));
}

void PlotAtomHook(CrystalRec *c, uint32_t atom, float t, std::optional<Region> mask) {
  DoPlotAtom(c, atom, t, std::move(mask));
}

CrystalRec &Perovskite(uint32_t mode) {
  static CrystalRec c = [] {
    CrystalRec built;
    Require(polytest::BuildCrystal(built, polytest::Perovskite(), 11, 11, 11, 10.0f), "perovskite");
    DefinePolyhedra(&built);
    built.spheres.assign(built.sites.size(), SphereRecord{});
    built.sphereCount = int32_t(built.spheres.size());
    const RGBColor colours[3] = {{20000, 40000, 65535}, {65535, 20000, 20000}, {50000, 60000, 20000}};
    for (size_t k = 0; k < built.spheres.size(); ++k) {
      built.spheres[k].radius = 0.8f;
      built.spheres[k].colour = colours[k % 3];
    }
    built.modelType = kPolyhedralModel;
    const float view[3] = {1.0f, 2.0f, 3.0f};
    std::copy(view, view + 3, built.viewDirection);
    GetOrientationMatrix(built.viewDirection, built.metricTensor, built.orientationMatrix);
    float centre[3] = {0, 0, 0};
    for (AtomRecord &a : built.atoms) {
      MatMul(built.orientationMatrix, a.xyz, a.cart);
      for (int k = 0; k < 3; ++k)
        centre[k] += a.cart[k] / float(built.atoms.size());
    }
    std::copy(centre, centre + 3, built.plotCentre);
    built.plotScale = 11.0f;
    built.backgroundColor = kRGBBlack;
    built.showUnitCell = 0; // no frame points in the sort
    return built;
  }();
  for (AsymmetricUnitRecord &site : c.sites) {
    const ElementCode e = site.elements[0];
    SetGivenPolyMode(site, e == polytest::Element("Ti")   ? mode
                    : e == polytest::Element("Sr") ? kPolyModeAtom
                                                   : kPolyModeVertex);
  }
  RenderSpheres(&c);
  return c;
}

void DrawPolyhedral(CrystalRec &c) {
  SortAtomsByHeight(&c, c.minAtomRadius);
  GetPixelCoords(&c, kWidth, kHeight);
  DrawBackground(&c, MakeRect(0, 0, kWidth, kHeight));
  GetCurrentPixGlobals();
  // The polyhedral model walk for the modes used here: the polyhedra of
  // bonded centres, the atoms of mode 2, nothing for vertices.
  for (const SortIndexEntry &e : c.sortIndex) {
    if (e.kind != kSortItemAtom)
      continue;
    const uint32_t mode = ShownPolyMode(c.sites[c.atoms[e.index].site]);
    if (mode == kPolyModeAtom)
      DoPlotAtom(&c, e.index, 0.0f, std::nullopt);
    else if (mode != kPolyModeVertex && c.atoms[e.index].bondCount > 0)
      MakePoly(&c, e.index, 0.0f);
  }
  DisposeCurrentPixGlobals();
}

void BM_PerovskitePolyhedra(benchmark::State &state) {
  const uint32_t mode = uint32_t(state.range(0));
  CrystalRec &c = Perovskite(mode);
  ModelDrawingHooks hooks;
  hooks.plotAndLabelAtom = PlotAtomHook;
  SetModelDrawingHooks(hooks);
  gHPixels = kWidth;
  gVPixels = kHeight;
  gUseFastRotn = 0;
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, kWidth, kHeight), 32);
  PortSaver current(port.get());
  for (auto _ : state) {
    DrawPolyhedral(c);
    benchmark::ClobberMemory();
  }
  Save(*port, ("perovskite_mode" + std::to_string(mode)).c_str());
  SetModelDrawingHooks({});
}
BENCHMARK(BM_PerovskitePolyhedra)->Arg(15)->Arg(13)->Arg(14)->Arg(8)->ArgName("mode")->Unit(benchmark::kMillisecond);

CrystalRec Ellipsoids() {
  CrystalRec c;
  c.molecule = 1;
  c.modelType = kThermalEllipsoidModel;
  c.ellipsoidData = 1;
  c.plotScale = 28.0f;
  c.backgroundColor = kRGBBlack;
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::copy(identity, identity + 9, c.orientationMatrix);
  c.spheres.resize(1);
  c.spheres[0].colour = RGBColor{50000, 45000, 30000};
  c.sphereCount = 1;
  std::mt19937 random(11);
  std::uniform_real_distribution<float> angle(0.0f, 180.0f), length(0.3f, 0.65f);
  const int n = 10;
  c.sites.resize(size_t(n * n * n));
  c.atoms.resize(size_t(n * n * n));
  for (int i = 0; i < n * n * n; ++i) {
    AsymmetricUnitRecord &site = c.sites[size_t(i)];
    site.firstAtom = site.lastAtom = i;
    site.ellipsoidStyle = 15;
    site.displacementType = kDisplacementAnisoU;
    AtomRecord &a = c.atoms[size_t(i)];
    a.site = uint32_t(i);
    // Each layer is shifted a little, so the layers behind peek out.
    const float layer = float(i / (n * n));
    const float p[3] = {float(i % n - 4.5f) * 3.0f + 0.3f * layer, float((i / n) % n - 4.5f) * 2.6f + 0.25f * layer,
                        (layer - 4.5f) * 3.0f};
    std::copy(p, p + 3, a.xyz);
    std::copy(p, p + 3, a.cart);
    float R[9];
    GetRotationMatrixFromAngles(angle(random), angle(random), angle(random), R);
    const float l[3] = {length(random), length(random), length(random)};
    for (int ax = 0; ax < 3; ++ax)
      for (int k = 0; k < 3; ++k)
        a.ellipsoidAxes[ax][k] = p[k] + R[3 * k + ax] * l[ax];
  }
  c.siteCount = c.atomCount = n * n * n;
  return c;
}

void BM_ShadedEllipsoids(benchmark::State &state) {
  static CrystalRec c = Ellipsoids();
  gUseFastRotn = uint8_t(state.range(0));
  gHPixels = kWidth;
  gVPixels = kHeight;
  RenderSpheres(&c);
  SortAtomsByHeight(&c, 0.1f);
  GetPixelCoords(&c, kWidth, kHeight);
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, kWidth, kHeight), 32);
  PortSaver current(port.get());
  for (auto _ : state) {
    port->Pixels()->Fill(0xFF000000u);
    for (const SortIndexEntry &e : c.sortIndex)
      PlotEllipsoid(&c, e.index, 0.0f);
    benchmark::ClobberMemory();
  }
  Save(*port, state.range(0) ? "ellipsoids_fast" : "ellipsoids_full");
  gUseFastRotn = 0;
}
BENCHMARK(BM_ShadedEllipsoids)->Arg(0)->Arg(1)->ArgName("fast")->Unit(benchmark::kMillisecond);

} // namespace
