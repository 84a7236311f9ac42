// The renderer's hot raster paths: anti-aliased lines, the thin grown
// quadrilaterals that shade bond cylinders in a large picture, and the
// full-frame anaglyph merge.
#include "graphics/GraphicsPort.h"
#include "render/PixelBlending.h"
#include "render/RasterPrimitives.h"
#include "render/SmoothPolygons.h"

#include <benchmark/benchmark.h>

#include <cmath>
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

// Lines of a few pixels, as the bonds of a large structure are, or of 100
// to 400 pixels, in every direction, some reaching past the edges.
std::vector<Segment> UniformSegments(float shortest, float longest, int count) {
  std::mt19937 random(20261207);
  std::uniform_real_distribution<float> x(-20.0f, kPlotWidth + 20.0f), y(-20.0f, kPlotHeight + 20.0f);
  std::uniform_real_distribution<float> angle(0.0f, 6.2831853f), length(shortest, longest);
  std::vector<Segment> segments(size_t(count), Segment{});
  for (Segment &s : segments) {
    const float l = length(random), a = angle(random);
    s.x1 = x(random);
    s.y1 = y(random);
    s.x2 = s.x1 + l * std::cos(a);
    s.y2 = s.y1 + l * std::sin(a);
  }
  return segments;
}

// Draws the segments with `draw` into a plot-sized picture, once per
// iteration; the picture is reached through the primitives' target.
template <class Draw> void DrawSegments(benchmark::State &state, const std::vector<Segment> &segments, Draw draw) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, kPlotWidth, kPlotHeight), 32);
  SetCurrentPort(port.get());
  GetCurrentPixGlobals();
  for (auto _ : state) {
    for (const Segment &s : segments)
      draw(s);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(segments.size()));
  DisposeCurrentPixGlobals();
  SetCurrentPort(nullptr);
}

constexpr RGBColor kLineColour{52000, 30000, 9000};

void BM_SmoothLinesShort(benchmark::State &state) {
  DrawSegments(state, UniformSegments(1.0f, 8.0f, kLineCount), [](const Segment &s) {
    MyDrawSmoothLine(int16_t(s.x1), int16_t(s.y1), int16_t(s.x2), int16_t(s.y2), kLineColour);
  });
}
BENCHMARK(BM_SmoothLinesShort)->Unit(benchmark::kMillisecond);

void BM_SmoothLinesLong(benchmark::State &state) {
  DrawSegments(state, UniformSegments(100.0f, 400.0f, kLineCount / 20), [](const Segment &s) {
    MyDrawSmoothLine(int16_t(s.x1), int16_t(s.y1), int16_t(s.x2), int16_t(s.y2), kLineColour);
  });
}
BENCHMARK(BM_SmoothLinesLong)->Unit(benchmark::kMillisecond);

// The halo under a line bond: two pixels wide, fractional end points.
void BM_SmoothHalosShort(benchmark::State &state) {
  DrawSegments(state, UniformSegments(1.0f, 8.0f, kLineCount),
               [](const Segment &s) { MyDrawRealSmoothThickLine(s.x1, s.y1, s.x2, s.y2, 2, kLineColour); });
}
BENCHMARK(BM_SmoothHalosShort)->Unit(benchmark::kMillisecond);

void BM_SmoothHalosLong(benchmark::State &state) {
  DrawSegments(state, UniformSegments(100.0f, 400.0f, kLineCount / 20),
               [](const Segment &s) { MyDrawRealSmoothThickLine(s.x1, s.y1, s.x2, s.y2, 2, kLineColour); });
}
BENCHMARK(BM_SmoothHalosLong)->Unit(benchmark::kMillisecond);

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

// `count` strips of cylinders in a frame of the given size: quadrilaterals
// of the given widths and lengths in every direction, each filled and
// stroked (grown by half a pixel), about a third of them partly
// see-through.
void GrownStrips(benchmark::State &state, int count, int frameWidth, int frameHeight, float minWidth, float maxWidth,
                 float minLength, float maxLength) {
  std::mt19937 random(20261207);
  std::uniform_real_distribution<float> x(-20.0f, float(frameWidth) + 20.0f), y(-20.0f, float(frameHeight) + 20.0f);
  std::uniform_real_distribution<float> angle(0.0f, 6.2831853f), length(minLength, maxLength),
      width(minWidth, maxWidth);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  struct Strip {
    RealPoint quad[4];
    float opacity;
  };
  std::vector<Strip> strips(static_cast<size_t>(count));
  for (Strip &s : strips) {
    const float a = angle(random), l = length(random), w = width(random);
    const float ux = std::cos(a), uy = std::sin(a), x0 = x(random), y0 = y(random);
    s.quad[0] = {x0, y0};
    s.quad[1] = {x0 + ux * l, y0 + uy * l};
    s.quad[2] = {x0 + ux * l - uy * w, y0 + uy * l + ux * w};
    s.quad[3] = {x0 - uy * w, y0 + ux * w};
    s.opacity = unit(random) < 0.33f ? 0.5f + 0.5f * unit(random) : 1.0f;
  }
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, frameWidth, frameHeight), 32);
  SetCurrentPort(port.get());
  GetCurrentPixGlobals();
  const RGBColor colour{52000, 30000, 9000};
  for (auto _ : state) {
    for (const Strip &s : strips)
      MyFillGrownConvexPolygon(s.quad, 4, kHalfStroke, colour, s.opacity);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * count);
  DisposeCurrentPixGlobals();
  SetCurrentPort(nullptr);
}

// As a 4000 x 3000 picture has them: 2 to 6 pixels wide, 10 to 80 long.
void BM_GrownStrips(benchmark::State &state) { GrownStrips(state, 200000, kFrameWidth, kFrameHeight, 2, 6, 10, 80); }
BENCHMARK(BM_GrownStrips)->Unit(benchmark::kMillisecond);

// As a window's picture of a crystal of a hundred thousand atoms has them:
// 1 to 4 pixels wide and 2 to 10 long, crowded into a 1000 x 800 frame.
void BM_GrownStripsCrowded(benchmark::State &state) { GrownStrips(state, 700000, 1000, 800, 1, 4, 2, 10); }
BENCHMARK(BM_GrownStripsCrowded)->Unit(benchmark::kMillisecond);

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
