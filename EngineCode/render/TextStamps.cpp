#include "render/TextStamps.h"

#include "BasicTypes.h"
#include "graphics/GraphicsPort.h"
#include "graphics/Painter.h"
#include "render/EllipsoidStrokes.h"

#include <algorithm>
#include <cmath>
#include <array>
#include <memory>
#include <string>
#include <vector>

using namespace ovgfx;

namespace {

// Sub-pixel phases a pixel, along each axis.
constexpr int kPhases = 16;
// Stamps, and texts (each in its font, size, width and smoothing), kept
// before the store starts again.
constexpr size_t kMaxStamps = 4096;
constexpr size_t kMaxGroups = 64;

struct StampKey {
  std::string_view text, family;
  float size, lineWidth;
  bool smooth;
  int phaseX, phaseY;
};

// The covered pixels of a stroked text as runs along its rows, each an
// offset from the pixel where its baseline starts and its pixels' covers
// (0 to 1], kept one after another; a run's pixels are all covered whole
// or none is.
struct StampRun {
  int dx, dy;
  uint32_t first, count;
  bool whole;
};
struct Stamp {
  int left = 0, top = 0, right = -1, bottom = -1; // offsets of the covered box
  std::vector<StampRun> runs;
  std::vector<float> covers;
};

Stamp MakeStamp(const StampKey &key) {
  Stamp stamp;
  const TextSize measured = MeasureText(key.family, key.size, 0, key.text);
  const int pad = int(std::ceil(key.lineWidth)) + 2;
  const int line = int(std::ceil(std::max(measured.height, key.size))) + 1;
  const int width = int(std::ceil(measured.width)) + 2 * pad + 1, height = 2 * line + 2 * pad + 1;
  if (width <= 0 || height <= 0 || width > 4096 || height > 4096)
    return stamp;
  const int baseX = pad, baseY = pad + line;
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, width, height), 32);
  if (!port || !port->Pixels())
    return stamp;
  PixelBuffer &px = *port->Pixels();
  px.Fill(0xFF000000u);
  {
    Painter painter(*port, false);
    if (!painter.IsValid())
      return stamp;
    painter.SetShouldAntialias(key.smooth);
    painter.SelectFont(key.family, key.size);
    painter.SetTextDrawingMode(PainterTextMode::kStroke);
    painter.SetLineDash(0.0f, nullptr, 0);
    painter.SetLineWidth(key.lineWidth);
    painter.SetStrokeColor(1.0f, 1.0f, 1.0f, 1.0f);
    painter.ShowTextAtPoint(float(baseX) + float(key.phaseX) / kPhases, float(baseY) + float(key.phaseY) / kPhases,
                            key.text);
  }
  // White over black: any channel is the cover. Only the covered box is kept.
  int left = width, right = -1, top = height, bottom = -1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (px.Pixel32(x, y) & 0xFFu) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  if (right < left)
    return stamp;
  stamp.left = left - baseX;
  stamp.right = right - baseX;
  stamp.top = top - baseY;
  stamp.bottom = bottom - baseY;
  for (int y = top; y <= bottom; ++y)
    for (int x = left; x <= right; ++x) {
      const uint32_t c = px.Pixel32(x, y) & 0xFFu;
      if (!c)
        continue;
      const float cover = float(c) / 255.0f;
      StampRun *run = stamp.runs.empty() ? nullptr : &stamp.runs.back();
      if (!run || run->dy != y - baseY || run->dx + int(run->count) != x - baseX || run->whole != (cover >= 1.0f))
        run = &stamp.runs.emplace_back(
            StampRun{x - baseX, y - baseY, uint32_t(stamp.covers.size()), 0u, cover >= 1.0f});
      stamp.covers.push_back(cover);
      ++run->count;
    }
  return stamp;
}

// The stamps of one text in one font, size, width and smoothing, by phase.
struct StampGroup {
  std::string text, family;
  float size, lineWidth;
  bool smooth;
  std::array<std::unique_ptr<Stamp>, kPhases * kPhases> byPhase;
};

// A model labels many atoms with a few texts: the groups are few and looked
// through in turn.
const Stamp &FindStamp(const StampKey &key) {
  static std::vector<std::unique_ptr<StampGroup>> groups;
  static size_t made = 0;
  StampGroup *group = nullptr;
  for (const auto &g : groups)
    if (g->size == key.size && g->lineWidth == key.lineWidth && g->smooth == key.smooth && g->text == key.text &&
        g->family == key.family) {
      group = g.get();
      break;
    }
  std::unique_ptr<Stamp> *slot = group ? &group->byPhase[size_t(key.phaseY * kPhases + key.phaseX)] : nullptr;
  if (slot && *slot)
    return **slot;
  if (made >= kMaxStamps || (!group && groups.size() >= kMaxGroups)) {
    groups.clear();
    made = 0;
    group = nullptr;
  }
  if (!group) {
    groups.push_back(std::make_unique<StampGroup>(
        StampGroup{std::string(key.text), std::string(key.family), key.size, key.lineWidth, key.smooth, {}}));
    group = groups.back().get();
  }
  slot = &group->byPhase[size_t(key.phaseY * kPhases + key.phaseX)];
  *slot = std::make_unique<Stamp>(MakeStamp(key));
  ++made;
  return **slot;
}

} // namespace

void StampStrokedText(PixelBuffer *pixels, float x, float y, std::string_view text, std::string_view family,
                      float size, float lineWidth, bool smooth, const float colour[3], float opacity) {
  if (!pixels || pixels->Depth() != 32 || text.empty() || !std::isfinite(x) || !std::isfinite(y) ||
      !(std::fabs(x) < 1e6f) || !(std::fabs(y) < 1e6f) || !(opacity > 0.0f))
    return;
  // The nearest phase: the whole pixel and the quarters past it.
  const float fx = std::floor(x * kPhases + 0.5f), fy = std::floor(y * kPhases + 0.5f);
  const int cellX = int(std::floor(fx / kPhases)), cellY = int(std::floor(fy / kPhases));
  const int phaseX = int(fx) - cellX * kPhases, phaseY = int(fy) - cellY * kPhases;
  const Stamp &stamp = FindStamp({text, family, size, lineWidth, smooth, phaseX, phaseY});
  if (stamp.runs.empty())
    return;
  const float weight = std::min(opacity, 1.0f);
  const EllipsoidLay whole(colour, weight); // for the pixels covered whole
  const Rect &b = pixels->Bounds();
  if (cellX + stamp.right < b.left || cellX + stamp.left >= b.right || cellY + stamp.bottom < b.top ||
      cellY + stamp.top >= b.bottom)
    return;
  auto lay = [&](const StampRun &run, uint32_t *row, int from, int to) {
    if (run.whole) {
      whole.LayRun(row, size_t(to - from));
      return;
    }
    const float *cover = stamp.covers.data() + run.first + from;
    for (int k = 0; k < to - from; ++k)
      row[k] = BlendEllipsoidPixel(row[k], colour, cover[k] * weight);
  };
  if (cellX + stamp.left >= b.left && cellX + stamp.right < b.right && cellY + stamp.top >= b.top &&
      cellY + stamp.bottom < b.bottom) {
    // All of it on the pixels: each run found from the stamp's own place.
    uint32_t *const first = pixels->Row32(b.top);
    const ptrdiff_t stride = ptrdiff_t(pixels->RowBytes() / 4);
    const ptrdiff_t origin = ptrdiff_t(cellY - b.top) * stride + ptrdiff_t(cellX - b.left);
    for (const StampRun &run : stamp.runs)
      lay(run, first + (origin + ptrdiff_t(run.dy) * stride + run.dx), 0, int(run.count));
    return;
  }
  for (const StampRun &run : stamp.runs) {
    const int atY = cellY + run.dy;
    if (atY < b.top || atY >= b.bottom)
      continue;
    // The part of the run on the pixels.
    const int from = std::max(0, b.left - (cellX + run.dx));
    const int to = std::min(int(run.count), b.right - (cellX + run.dx));
    if (from < to)
      lay(run, pixels->Row32(atY) + (cellX + run.dx + from - b.left), from, to);
  }
}
