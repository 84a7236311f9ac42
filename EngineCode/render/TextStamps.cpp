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

// The covered pixels of a stroked text, row by row, as offsets from the
// pixel where its baseline starts, with their cover (0 to 1].
struct StampPixel {
  int dx, dy;
  float cover;
};
struct Stamp {
  int left = 0, top = 0, right = -1, bottom = -1; // offsets of the covered box
  std::vector<StampPixel> pixels;
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
    for (int x = left; x <= right; ++x)
      if (const uint32_t c = px.Pixel32(x, y) & 0xFFu)
        stamp.pixels.push_back({x - baseX, y - baseY, float(c) / 255.0f});
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
  if (stamp.pixels.empty())
    return;
  const float weight = std::min(opacity, 1.0f);
  const EllipsoidLay whole(colour, weight); // for the pixels covered whole
  const Rect &b = pixels->Bounds();
  const bool inside = cellX + stamp.left >= b.left && cellX + stamp.right < b.right && cellY + stamp.top >= b.top &&
                      cellY + stamp.bottom < b.bottom;
  if (!inside && (cellX + stamp.right < b.left || cellX + stamp.left >= b.right || cellY + stamp.bottom < b.top ||
                  cellY + stamp.top >= b.bottom))
    return;
  for (const StampPixel &p : stamp.pixels) {
    const int atX = cellX + p.dx, atY = cellY + p.dy;
    if (!inside && (atX < b.left || atX >= b.right || atY < b.top || atY >= b.bottom))
      continue;
    uint32_t &pixel = pixels->Row32(atY)[atX - b.left];
    pixel = p.cover >= 1.0f ? whole.Over(pixel) : BlendEllipsoidPixel(pixel, colour, p.cover * weight);
  }
}
