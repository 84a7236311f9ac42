#include "render/TextStamps.h"

#include "BasicTypes.h"
#include "graphics/GraphicsPort.h"
#include "graphics/Painter.h"
#include "render/EllipsoidStrokes.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

using namespace ovgfx;

namespace {

// Sub-pixel phases a pixel, along each axis.
constexpr int kPhases = 16;
// Stamps kept before the store starts again.
constexpr size_t kMaxStamps = 4096;

struct StampKey {
  std::string text, family;
  float size, lineWidth;
  bool smooth;
  int phaseX, phaseY;
  bool operator<(const StampKey &o) const {
    return std::tie(text, family, size, lineWidth, smooth, phaseX, phaseY) <
           std::tie(o.text, o.family, o.size, o.lineWidth, o.smooth, o.phaseX, o.phaseY);
  }
};

// The cover (0 to 1) of the covered box of a stroked text, whose baseline
// starts `originX`, `originY` pixels right of and below the box's corner.
struct Stamp {
  int originX = 0, originY = 0, width = 0, height = 0;
  std::vector<float> cover;
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
  stamp.width = right - left + 1;
  stamp.height = bottom - top + 1;
  stamp.originX = baseX - left;
  stamp.originY = baseY - top;
  stamp.cover.resize(size_t(stamp.width) * size_t(stamp.height));
  for (int y = 0; y < stamp.height; ++y)
    for (int x = 0; x < stamp.width; ++x)
      stamp.cover[size_t(y) * size_t(stamp.width) + size_t(x)] = float(px.Pixel32(left + x, top + y) & 0xFFu) / 255.0f;
  return stamp;
}

const Stamp &FindStamp(const StampKey &key) {
  static std::map<StampKey, Stamp> stamps;
  auto found = stamps.find(key);
  if (found != stamps.end())
    return found->second;
  if (stamps.size() >= kMaxStamps)
    stamps.clear();
  return stamps.emplace(key, MakeStamp(key)).first->second;
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
  const Stamp &stamp = FindStamp({std::string(text), std::string(family), size, lineWidth, smooth, phaseX, phaseY});
  if (stamp.cover.empty())
    return;
  const float weight = std::min(opacity, 1.0f);
  const Rect &b = pixels->Bounds();
  const int left = cellX - stamp.originX, top = cellY - stamp.originY;
  const int fromX = std::max(left, int(b.left)), toX = std::min(left + stamp.width, int(b.right));
  const int fromY = std::max(top, int(b.top)), toY = std::min(top + stamp.height, int(b.bottom));
  for (int py = fromY; py < toY; ++py) {
    uint32_t *row = pixels->Row32(py);
    const float *cover = &stamp.cover[size_t(py - top) * size_t(stamp.width)];
    for (int px = fromX; px < toX; ++px) {
      const float c = cover[px - left];
      if (c > 0.0f)
        row[px - b.left] = BlendEllipsoidPixel(row[px - b.left], colour, c * weight);
    }
  }
}
