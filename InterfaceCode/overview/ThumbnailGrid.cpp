#include "overview/ThumbnailGrid.h"

#include "Utilities.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace {
int CeilDiv(int a, int b) { return b > 0 ? (a + b - 1) / b : 0; }
} // namespace

ThumbnailLayout LayoutThumbnails(const GridBox &pane, int width, int count, int scroll) {
  ThumbnailLayout layout;
  const int W = pane.Width(), H = pane.Height();
  if (width > W - 16)
    width = W - 16;
  width = std::max(width, 1);
  layout.width = width;
  layout.height = ThumbnailHeightForWidth(width);
  layout.columns = std::max((W - kThumbnailMargin) / (width + kThumbnailMargin), 1);
  const int rowHeight = layout.height + kThumbnailCaptionBand;
  const int rows = std::max(CeilDiv(std::max(count, 0), layout.columns), CeilDiv(std::max(H, 0), rowHeight) + 1);
  layout.boxes.reserve(size_t(rows) * size_t(layout.columns));
  for (int r = 0; r < rows; r++)
    for (int j = 0; j < layout.columns; j++) {
      GridBox b;
      b.left = pane.left + kThumbnailMargin + j * (width + kThumbnailMargin);
      b.top = pane.top + kThumbnailMargin - scroll + r * rowHeight;
      b.right = b.left + width;
      b.bottom = b.top + layout.height;
      layout.boxes.push_back(b);
    }
  return layout;
}

bool GetThumbnailWidthForNumCols(int paneWidth, int columns, int *width) {
  if (columns <= 0)
    return false;
  const int per = (paneWidth - kThumbnailMargin) / columns;
  *width = per - kThumbnailMargin;
  return *width <= paneWidth - 16 && per >= kMinThumbnailWidth + kThumbnailMargin &&
         per <= kMaxThumbnailWidth + kThumbnailMargin;
}

SliderSetting ThumbnailSlider(int paneWidth, int width) {
  const int P = paneWidth - kThumbnailMargin;
  SliderSetting s;
  s.minimum = P < 52 ? 999 : kThumbnailSliderTop - P / 52;
  s.maximum = P < 520 ? 999 : kThumbnailSliderTop - P / 520;
  const int q = width + kThumbnailMargin > 0 ? P / (width + kThumbnailMargin) : 0;
  s.value = q < 1 ? 999 : kThumbnailSliderTop - q;
  return s;
}

int ThumbnailWidthForSlider(int paneWidth, int sliderValue, int current) {
  int width = 0;
  return GetThumbnailWidthForNumCols(paneWidth, kThumbnailSliderTop - sliderValue, &width) ? width : current;
}

int RefitThumbnailWidth(int paneWidth, int columns, int target) {
  int k = std::max(columns, 1);
  int best = 0;
  GetThumbnailWidthForNumCols(paneWidth, k, &best);
  if (best != target) {
    const int step = best > target ? 1 : -1;
    int bestDistance = std::abs(best - target);
    // Fewer columns than one would divide by zero: the walk ends there.
    for (k += step; k >= 1; k += step) {
      int w = 0;
      GetThumbnailWidthForNumCols(paneWidth, k, &w);
      const int d = std::abs(w - target);
      if (d >= bestDistance)
        break;
      best = w;
      bestDistance = d;
    }
  }
  return std::clamp(best, kMinThumbnailWidth, kMaxThumbnailWidth);
}

int ThumbnailScrollMaximum(int paneHeight, int thumbnailHeight, int count, int columns) {
  return std::max(0, kThumbnailMargin - paneHeight +
                         (thumbnailHeight + kThumbnailCaptionBand) * CeilDiv(count, std::max(columns, 1)));
}

int ThumbnailLineStep(int maximum, int viewSize, int barHeight) {
  const double track = barHeight - 30;
  if (track <= 0 || maximum <= 0)
    return 1;
  const double step = std::ceil(maximum / (track * (1.0 - double(viewSize) / (viewSize + maximum))));
  return step > 0 ? int(step) : 1;
}

int ScrollDeltaToShowSlot(const GridBox &pane, const GridBox &slot, int pointY) {
  if (pointY >= pane.top + pane.Height() / 2) {
    const int d = slot.bottom + kThumbnailCaptionBand - pane.bottom;
    return d > 0 ? d : 0;
  }
  if (slot.top < pane.top + kThumbnailMargin)
    return -(pane.top + kThumbnailMargin - slot.top);
  return 0;
}

GridBox CaptionBox(const GridBox &slot) {
  return GridBox{slot.left, slot.bottom + 1, slot.right, slot.bottom + kThumbnailCaptionBand};
}

namespace {
template <class BoxOf> int ScanSlots(const ThumbnailLayout &layout, const GridBox &pane, int x, int y, BoxOf box) {
  if (!pane.Contains(x, y))
    return -1;
  const size_t n = layout.boxes.size(), cols = size_t(std::max(layout.columns, 1));
  for (size_t i = 0; i < n;) {
    const GridBox b = box(layout.boxes[i]);
    if (b.bottom <= pane.top) {
      i += cols - i % cols; // the whole row is above the pane
      continue;
    }
    if (layout.boxes[i].top >= pane.bottom)
      break;
    if (b.Contains(x, y))
      return int(i);
    i++;
  }
  return -1;
}
} // namespace

int ThumbnailIndexAtPoint(const ThumbnailLayout &layout, const GridBox &pane, int x, int y) {
  return ScanSlots(layout, pane, x, y, [](const GridBox &b) { return b; });
}

int CaptionIndexAtPoint(const ThumbnailLayout &layout, const GridBox &pane, int x, int y) {
  return ScanSlots(layout, pane, x, y, [](const GridBox &b) { return CaptionBox(b); });
}

DropTarget ThumbnailDropTarget(const ThumbnailLayout &layout, const GridBox &pane, int count, int x, int y) {
  DropTarget t;
  y = std::clamp(y, pane.top + kThumbnailMargin, pane.bottom - kThumbnailMargin);
  const size_t cols = size_t(std::max(layout.columns, 1));
  for (size_t i = 0; i < layout.boxes.size();) {
    const GridBox &s = layout.boxes[i];
    const GridBox box{s.left - kThumbnailMargin, s.top, s.right + kThumbnailMargin, s.bottom + kThumbnailCaptionBand};
    if (box.bottom <= y) {
      i += cols - i % cols; // a row above the pointer
      continue;
    }
    if (box.Contains(x, y)) {
      if (int(i) >= count) {
        t.index = count - 1;
        t.before = false;
      } else {
        t.index = int(i);
        t.before = x < (box.left + box.right) / 2;
      }
      return t;
    }
    i++;
  }
  return t;
}

bool DropChangesNothing(int from, const DropTarget &t) {
  return t.index < 0 || t.index == from || (t.index == from - 1 && !t.before) || (t.index == from + 1 && t.before);
}

std::vector<int> MovedOrder(int count, int from, int to, bool before) {
  std::vector<int> order;
  if (from < 0 || from >= count || to < 0 || to >= count)
    return order;
  for (int i = 0; i < count; i++)
    order.push_back(i);
  // The target record, found before the source is unlinked: none (the head)
  // before the first, else the record in front of the place.
  const int target = before ? to - 1 : to;
  if (target == from)
    return order; // behind itself: nothing moves
  order.erase(order.begin() + from);
  if (target < 0) {
    order.insert(order.begin(), from);
  } else {
    auto at = std::find(order.begin(), order.end(), target);
    order.insert(at + 1, from);
  }
  return order;
}

int NextPlayIndex(int index, int count, bool loop, int mode, int *direction) {
  if (count <= 0 || index < 0)
    return -1;
  if (!loop)
    return index + 1 < count ? index + 1 : -1;
  if (mode == 1)
    return index + 1 < count ? index + 1 : 0;
  if ((index == count - 1 && *direction > 0) || (index == 0 && *direction < 0))
    *direction = -*direction;
  const int next = index + *direction;
  return next >= 0 && next < count ? next : -1;
}

namespace {
struct PlayPreset {
  uint32_t name;
  PlaySettings settings;
};
const PlayPreset kPlayPresets[] = {
    {FourCharsToLong("Anim"), {0.01f, 0, 1, 2, 0}},
    {FourCharsToLong("Slid"), {3.0f, 0, 1, 1, 0}},
    {FourCharsToLong("Spin"), {10.0f, 1, 1, 1, 0}},
};
} // namespace

uint32_t MatchPlayPreset(const PlaySettings &s) {
  for (const PlayPreset &p : kPlayPresets)
    if (p.settings.seconds == s.seconds && p.settings.rotate == s.rotate && p.settings.loop == s.loop &&
        p.settings.mode == s.mode && p.settings.fullScreen == s.fullScreen)
      return p.name;
  return FourCharsToLong("Cust");
}

bool PlayPresetSettings(uint32_t name, PlaySettings *settings) {
  for (const PlayPreset &p : kPlayPresets)
    if (p.name == name) {
      *settings = p.settings;
      return true;
    }
  return false;
}

float ClampPlaySeconds(float seconds) {
  seconds = std::fabs(seconds);
  return seconds < 0.01f ? 0.01f : seconds > 60.0f ? 60.0f : seconds;
}

float PlayRotationStep(float plotSeconds, float seconds) {
  const float step = seconds > 0 ? plotSeconds * 360.0f / seconds : 1.0f;
  return std::max(1.0f, step);
}

std::string ThumbnailBadgeText(const std::string &extension) {
  std::string e = extension;
  if (!e.empty() && e[0] == '.')
    e.erase(0, 1);
  for (char &c : e)
    c = char(std::toupper(static_cast<unsigned char>(c)));
  if (e.empty())
    return "TEXT";
  if (e.find("EXP") != std::string::npos)
    return "GSAS";
  if (e.find("RES") != std::string::npos)
    return "SHELX";
  return e;
}
