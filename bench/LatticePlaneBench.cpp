// Drawing the lattice plane (`PlotLatticePlane`) into a 1000 x 800 picture:
//   a plane inside the picture;
//   the same plane with one corner at fractional (999, 999, 0) in a 5 A
//   cubic cell, far beyond the 16-bit pixel range at 20 pixels per A.
#include "render/LatticePlaneDrawing.h"

#include "StructureRecord.h"
#include "graphics/GraphicsPort.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

using namespace ovgfx;

namespace {

constexpr int kWidth = 1000, kHeight = 800;

// A cubic 5 A cell seen down c at 20 pixels per A, the plane z = 0 with
// corners (x, y) in fractional coordinates.
void ShowPlane(CrystalRec &c, float farX, float farY) {
  const float cell[9] = {5, 0, 0, 0, 5, 0, 0, 0, 5};
  std::copy(cell, cell + 9, c.orientationMatrix);
  c.plotScale = 20.0f;
  std::fill(c.plotCentre, c.plotCentre + 3, 0.0f);
  const float corners[4][2] = {{-1, -1}, {1, -1}, {farX, farY}, {-1, 1}};
  LatticePlane &p = c.plane;
  p.vertexCount = 4;
  for (int k = 0; k < 4; ++k) {
    p.vertices[k].xyz[0] = corners[k][0];
    p.vertices[k].xyz[1] = corners[k][1];
    p.vertices[k].xyz[2] = 0.0f;
  }
  p.colour = RGBColor{0, 0, 65535};
  p.transparency = 0.5f;
  p.shown = 1;
}

void Draw(benchmark::State &state, float farX, float farY) {
  auto c = std::make_unique<CrystalRec>();
  ShowPlane(*c, farX, farY);
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, kWidth, kHeight), 32);
  PortSaver current(port.get());
  for (auto _ : state)
    PlotLatticePlane(c.get(), MakeRect(0, 0, kWidth, kHeight));
}

void BM_LatticePlaneInside(benchmark::State &state) { Draw(state, 1.0f, 1.0f); }
void BM_LatticePlaneFarVertex(benchmark::State &state) { Draw(state, 999.0f, 999.0f); }

} // namespace

BENCHMARK(BM_LatticePlaneInside)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LatticePlaneFarVertex)->Unit(benchmark::kMillisecond);
