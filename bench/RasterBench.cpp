// The renderer's hot raster paths: anti-aliased lines and the full-frame
// anaglyph merge.
#include "graphics/GraphicsPort.h"
#include "render/PixelBlending.h"
#include "render/RasterPrimitives.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

using namespace ovgfx;

namespace {

constexpr int kLineCount = 1000000;
constexpr int kPlotWidth = 1000;
constexpr int kPlotHeight = 800;
constexpr int kFrameWidth = 4000;
constexpr int kFrameHeight = 3000;

struct Segment {
  float x1, y1, x2, y2;
};

// Lines of mixed lengths (1 to about 400 pixels, most of them short, as bonds
// and cell edges are) in every direction, some reaching past the edges.
std::vector<Segment> MixedSegments() {
  std::mt19937 random(20240611);
  std::uniform_real_distribution<float> x(-20.0f, kPlotWidth + 20.0f), y(-20.0f, kPlotHeight + 20.0f);
  std::uniform_real_distribution<float> angle(0.0f, 6.2831853f);
  std::exponential_distribution<float> length(1.0f / 40.0f);
  std::vector<Segment> segments(kLineCount);
  for (Segment &s : segments) {
    const float l = std::min(1.0f + length(random), 400.0f), a = angle(random);
    s.x1 = x(random);
    s.y1 = y(random);
    s.x2 = s.x1 + l * std::cos(a);
    s.y2 = s.y1 + l * std::sin(a);
  }
  return segments;
}

void BM_SmoothLinesIntegerEnds(benchmark::State &state) {
  const std::vector<Segment> segments = MixedSegments();
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, kPlotWidth, kPlotHeight), 32);
  SetCurrentPort(port.get());
  GetCurrentPixGlobals();
  const RGBColor colour{52000, 30000, 9000};
  for (auto _ : state) {
    for (const Segment &s : segments)
      MyDrawSmoothLine(int16_t(s.x1), int16_t(s.y1), int16_t(s.x2), int16_t(s.y2), colour);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kLineCount);
  DisposeCurrentPixGlobals();
  SetCurrentPort(nullptr);
}
BENCHMARK(BM_SmoothLinesIntegerEnds)->Unit(benchmark::kMillisecond);

void BM_SmoothLinesFractionalEnds(benchmark::State &state) {
  const std::vector<Segment> segments = MixedSegments();
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, kPlotWidth, kPlotHeight), 32);
  SetCurrentPort(port.get());
  GetCurrentPixGlobals();
  const RGBColor colour{52000, 30000, 9000};
  for (auto _ : state) {
    for (const Segment &s : segments)
      MyDrawRealSmoothLine(s.x1, s.y1, s.x2, s.y2, colour);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kLineCount);
  DisposeCurrentPixGlobals();
  SetCurrentPort(nullptr);
}
BENCHMARK(BM_SmoothLinesFractionalEnds)->Unit(benchmark::kMillisecond);

// Both eyes of a red/blue frame merged into the transfer image.
void BM_AnaglyphFullFrame(benchmark::State &state) {
  const Rect frame = MakeRect(0, 0, kFrameWidth, kFrameHeight);
  auto firstEye = PixelBuffer::Create(frame, 32);
  auto secondEye = PixelBuffer::Create(frame, 32);
  auto transfer = PixelBuffer::Create(frame, 32);
  firstEye->Fill(0xFF804020u);
  secondEye->Fill(0xFF102040u);
  for (auto _ : state) {
    MyAddBlueBits(firstEye.get(), transfer.get(), frame, frame);
    MyMultiplyRedBits(secondEye.get(), transfer.get(), frame, frame);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kFrameWidth) * kFrameHeight);
}
BENCHMARK(BM_AnaglyphFullFrame)->Unit(benchmark::kMillisecond);

} // namespace
