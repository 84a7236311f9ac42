// The anti-aliased lines against a plain, step-by-step copy of their
// original walk: many random lines, every pixel compared. The walk is tuned
// for speed; the pixels it writes must not move by a single bit.
#include "RenderTestSupport.h"
#include "render/DashedLines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---- The reference: the original walk, written out the slow way ----------------------------

void RefBlend(int x, int y, const RGBColor &c, float weight) {
  uint32_t *p =
      reinterpret_cast<uint32_t *>(dstPixBase + size_t(y - dstPixBounds.top) * dstRowbytes) + (x - dstPixBounds.left);
  const uint32_t old = *p;
  const float rest = 1.0f - weight;
  const uint32_t r = uint32_t(float(c.red) * weight + float((old >> 16) & 0xFF) * rest);
  const uint32_t g = uint32_t(float(c.green) * weight + float((old >> 8) & 0xFF) * rest);
  const uint32_t b = uint32_t(float(c.blue) * weight + float(old & 0xFF) * rest);
  *p = 0xFF000000u | (r << 16) | (g << 8) | b;
}

int RefRound(float v) {
  int t = int(v);
  if (std::fabs(v - float(t)) >= 0.5f)
    t += v > 0 ? 1 : -1;
  return t;
}

float RefCone(int i) {
  i = std::abs(i);
  return i < kConeFilterEntries ? ConeFilter[i] : 0.0f;
}

struct RefWalk {
  bool steep = false, vertical = false;
  int first = 0, last = -1, column = 0;
  float ox = 0, oy = 0, s = 0, k = 0;
  int coreHigh = 0, coreLow = 0;
};

// `colour()` answers the colour of the next step that passes the clip test,
// or null for an undrawn one.
template <class Colour> void RefWalkLine(const RefWalk &w, Colour colour) {
  const Rect &clip = dstPixClipBounds;
  for (int t = w.first; t <= w.last; ++t) {
    if (w.vertical) {
      const RGBColor *c = colour();
      if (!c)
        continue;
      for (int x = w.column - w.coreLow; x <= w.column + w.coreHigh; ++x)
        RefBlend(x, t, *c, kConeCentreWeight);
      RefBlend(w.column + w.coreHigh + 1, t, *c, kConeNeighbourWeight);
      RefBlend(w.column - w.coreLow - 1, t, *c, kConeNeighbourWeight);
      continue;
    }
    const float exact = w.steep ? (float(t) - w.oy) / w.s + w.ox : (float(t) - w.ox) * w.s + w.oy;
    const int u = RefRound(exact);
    if (u - w.coreLow - 1 < (w.steep ? clip.left : clip.top) ||
        u + w.coreHigh + 1 > (w.steep ? clip.right : clip.bottom))
      continue;
    const RGBColor *c = colour();
    if (!c)
      continue;
    const float d = float(u) - exact;
    const auto put = [&](int across, float weight) {
      if (w.steep)
        RefBlend(across, t, *c, weight);
      else
        RefBlend(t, across, *c, weight);
    };
    put(u - w.coreLow - 1, RefCone(int((d - 1.0f) * w.k)));
    for (int x = u - w.coreLow; x <= u + w.coreHigh; ++x)
      put(x, RefCone(int(d * w.k)));
    put(u + w.coreHigh + 1, RefCone(int((d + 1.0f) * w.k)));
  }
}

bool RefOutside(int x1, int y1, int x2, int y2) {
  const Rect &c = dstPixClipBounds;
  return (x1 < c.left && x2 < c.left) || (y1 < c.top && y2 < c.top) || (x1 > c.right && x2 > c.right) ||
         (y1 > c.bottom && y2 > c.bottom);
}

// The integer-point walk's set-up; `w.s` and `w.k` as the line computed them.
bool RefIntegerWalk(RefWalk &w, int x1, int y1, int x2, int y2, float s, float kFactor) {
  const Rect &clip = dstPixClipBounds;
  const int dx = x2 - x1, dy = y2 - y1;
  w.steep = !(std::abs(dx) > std::abs(dy));
  if ((!w.steep && dx < 0) || (w.steep && dy < 0)) {
    std::swap(x1, x2);
    std::swap(y1, y2);
  }
  w.ox = float(x1);
  w.oy = float(y1);
  w.s = s;
  if (w.steep && dx == 0) {
    if (x1 - 1 < clip.left || x1 + 1 > clip.right)
      return false;
    w.vertical = true;
    w.column = x1;
  }
  w.first = w.steep ? std::max(y1, int(clip.top)) : std::max(x1, int(clip.left));
  w.last = w.steep ? std::min(y2, int(clip.bottom)) : std::min(x2, int(clip.right));
  w.k = 20.0f * std::fabs(float(w.steep ? dy : dx)) * kFactor;
  return true;
}

int RefSmoothLine(int x1, int y1, int x2, int y2, RGBColor colour) {
  if (RefOutside(x1, y1, x2, y2))
    return 0;
  if (x1 == x2 && y1 == y2) {
    MySetCPixel(int16_t(x1), int16_t(y1), colour);
    return 1;
  }
  const int dx = x2 - x1, dy = y2 - y1;
  float s = 0, q = 0;
  if (dx != 0) {
    s = float(double(dy) / double(dx));
    q = 1.0f / std::sqrt(float(double(dx) * dx + double(dy) * dy));
  }
  RefWalk w;
  if (!RefIntegerWalk(w, x1, y1, x2, y2, s, q))
    return 0;
  const RGBColor reduced = ReduceColor(colour);
  RefWalkLine(w, [&] { return &reduced; });
  return 1;
}

bool RefRealWalk(RefWalk &w, float fx1, float fy1, float fx2, float fy2, int ix1, int iy1, int ix2, int iy2,
                 int coreLow, int coreHigh) {
  const Rect &clip = dstPixClipBounds;
  const float fdx = fx2 - fx1, fdy = fy2 - fy1;
  const bool vertical = std::fabs(fdx) <= 1e-5f;
  float s = 0, q = 0;
  if (!vertical) {
    s = float(double(fdy) / double(fdx));
    q = 1.0f / std::sqrt(fdx * fdx + fdy * fdy);
  }
  const int dx = ix2 - ix1, dy = iy2 - iy1;
  w.steep = !(std::abs(dx) > std::abs(dy));
  if ((!w.steep && dx < 0) || (w.steep && dy < 0)) {
    std::swap(ix1, ix2);
    std::swap(iy1, iy2);
    std::swap(fx1, fx2);
    std::swap(fy1, fy2);
  }
  const bool nearDiagonal = std::abs(std::abs(dx) - std::abs(dy)) <= 1;
  const auto lastStep = [&](int end, int clipMax) { return end > clipMax ? clipMax : nearDiagonal ? end : end - 1; };
  w.coreLow = coreLow;
  w.coreHigh = coreHigh;
  w.ox = fx1;
  w.oy = fy1;
  w.s = s;
  w.first = w.steep ? std::max(iy1, int(clip.top)) : std::max(ix1, int(clip.left));
  w.last = w.steep ? lastStep(iy2, clip.bottom) : lastStep(ix2, clip.right);
  w.k = 20.0f * std::fabs(w.steep ? fdy : fdx) * q;
  if (w.steep && (vertical || s == 0.0f)) {
    w.vertical = true;
    w.column = ix1;
    return ix1 - coreLow - 1 >= clip.left && ix1 + coreHigh + 1 <= clip.right;
  }
  return true;
}

// Width below 0 draws one pixel's core; `rounded` picks the end points'
// integer form (rounded for the thin line, truncated for the thick one).
void RefRealLine(float x1, float y1, float x2, float y2, int width, bool rounded, RGBColor colour) {
  const auto whole = [rounded](float v) { return rounded ? RefRound(v) : int(v); };
  const int ix1 = whole(x1), iy1 = whole(y1), ix2 = whole(x2), iy2 = whole(y2);
  if (RefOutside(ix1, iy1, ix2, iy2))
    return;
  if (ix1 == ix2 && iy1 == iy2) {
    MySetCPixel(int16_t(ix1), int16_t(iy1), colour);
    return;
  }
  const int wd = std::max(width, 0);
  RefWalk w;
  if (!RefRealWalk(w, x1, y1, x2, y2, ix1, iy1, ix2, iy2, wd > 0 ? (wd - 1) / 2 : 0, wd / 2))
    return;
  const RGBColor reduced = ReduceColor(colour);
  RefWalkLine(w, [&] { return &reduced; });
}

void RefDashedLine(int x1, int y1, int x2, int y2, RGBColor colour1, RGBColor colour2, int style, int dashLength,
                   float fraction) {
  if (x1 == x2 && y1 == y2) {
    MySetCPixel(int16_t(x1), int16_t(y1), colour1);
    return;
  }
  if (dashLength < 1)
    return;
  const float f = std::clamp(fraction, 0.0f, 1.0f);
  const float dx = float(x2 - x1), dy = float(y2 - y1);
  const float len = std::sqrt(dx * dx + dy * dy);
  const bool steep = !(std::abs(int(dx)) > std::abs(int(dy)));
  if (style >= 2 && ((!steep && dx < 0) || (steep && dy < 0)))
    std::swap(colour1, colour2);
  const float L = float(dashLength);
  double step;
  if (style == 1)
    step = double(len) / (double(f) + std::max(RefRound(((1.0f - f) * L + len) / L), 3) - 1);
  else
    step = double(len) / std::max(RefRound(len / L), 2);
  const int repeat = int(std::clamp(std::floor(step), 0.0, 65535.0));
  const int dash = std::max(1, int(float(repeat) * f));
  RefWalk w;
  if (!RefIntegerWalk(w, x1, y1, x2, y2, dx != 0.0f ? dy / dx : 0.0f, dx != 0.0f ? 1.0f / len : 0.0f))
    return;
  const RGBColor reduced1 = ReduceColor(colour1), reduced2 = ReduceColor(colour2);
  int counter = 0;
  bool on = true;
  RefWalkLine(w, [&]() -> const RGBColor * {
    if (counter == dash)
      on = false;
    else if (counter == repeat) {
      counter = 0;
      on = true;
    }
    ++counter;
    return on ? &reduced1 : style >= 2 ? &reduced2 : nullptr;
  });
}

// ---- The comparison -------------------------------------------------------------------------

// Two targets with the same noisy pixels and clip: the reference draws into
// one, the program into the other.
struct TwinTargets {
  TestTarget ref, ours;
  explicit TwinTargets(const Rect &bounds) : ref(bounds), ours(bounds) {}
  std::vector<uint32_t> Noise(std::mt19937 &random) {
    const Rect &b = ref.px().Bounds();
    std::vector<uint32_t> noise;
    for (int y = b.top; y < b.bottom; ++y)
      for (int x = b.left; x < b.right; ++x) {
        noise.push_back(0xFF000000u | (random() & 0xFFFFFFu));
        ref.px().SetPixel32(x, y, noise.back());
        ours.px().SetPixel32(x, y, noise.back());
      }
    return noise;
  }
  void Clip(const Rect &r) {
    ref.port->ClipRect(r);
    ours.port->ClipRect(r);
  }
  template <class Ref, class Ours> void Draw(Ref drawRef, Ours drawOurs) {
    SetCurrentPort(ref.port.get());
    GetCurrentPixGlobals();
    drawRef();
    SetCurrentPort(ours.port.get());
    GetCurrentPixGlobals();
    drawOurs();
  }
  // How many pixels the lines have drawn on (both targets hold the same
  // pixels when this is asked).
  int Changed(const std::vector<uint32_t> &noise) {
    const Rect &b = ref.px().Bounds();
    int n = 0;
    for (int y = b.top; y < b.bottom; ++y)
      for (int x = b.left; x < b.right; ++x)
        n += ref.At(x, y) != noise[size_t((y - b.top) * (b.right - b.left) + (x - b.left))];
    return n;
  }
  // The first pixel that differs, or an empty string.
  std::string FirstDifference() {
    const Rect &b = ref.px().Bounds();
    for (int y = b.top; y < b.bottom; ++y)
      for (int x = b.left; x < b.right; ++x)
        if (ref.At(x, y) != ours.At(x, y))
          return "pixel " + std::to_string(x) + "," + std::to_string(y) + ": " + std::to_string(ours.At(x, y)) +
                 " instead of " + std::to_string(ref.At(x, y));
    return {};
  }
};

// Lines of 0 to 200 pixels, half of them under 8, in every direction, from
// anywhere in and around the pixels, a third of them between half pixels.
struct RandomLines {
  std::mt19937 random{47};
  float Coordinate(int lo, int hi) { return std::uniform_real_distribution<float>(float(lo), float(hi))(random); }
  void Next(const Rect &b, float &x1, float &y1, float &x2, float &y2) {
    x1 = Coordinate(b.left - 30, b.right + 30);
    y1 = Coordinate(b.top - 30, b.bottom + 30);
    const float length = Coordinate(0, random() % 2 ? 8 : 200);
    const float a = Coordinate(0, 7);
    x2 = x1 + length * std::cos(a);
    y2 = y1 + length * std::sin(a);
    // Axis-parallel and diagonal lines have their own cases in the walk.
    switch (random() % 8) {
    case 0:
      x2 = x1;
      break;
    case 1:
      y2 = y1;
      break;
    case 2:
      y2 = y1 + (x2 - x1) * (random() % 2 ? 1.0f : -1.0f);
      break;
    default:
      break;
    }
    // End points on half pixels put steps exactly halfway, where the
    // rounding of the last bit decides.
    if (random() % 3 == 0)
      for (float *v : {&x1, &y1, &x2, &y2})
        *v = std::round(*v * 2.0f) / 2.0f;
  }
  Rect NextClip(const Rect &b) {
    switch (random() % 4) {
    case 0:
      return b;
    case 1:
      return MakeRect(b.left + 3, b.top + 2, b.right - 5, b.bottom - 4);
    case 2:
      return MakeRect(b.left + 40, b.top + 30, b.left + 43, b.top + 33);
    default:
      return MakeRect(b.left - 10, b.top + 17, b.left + 61, b.bottom + 10);
    }
  }
  RGBColor Colour() { return RGBColor{uint16_t(random()), uint16_t(random()), uint16_t(random())}; }
};

template <class DrawOne> void CompareManyLines(DrawOne drawOne) {
  const Rect bounds = MakeRect(-13, -9, 187, 141);
  TwinTargets twins(bounds);
  RandomLines lines;
  const std::vector<uint32_t> noise = twins.Noise(lines.random);
  for (int batch = 0; batch < 100; ++batch) {
    twins.Clip(lines.NextClip(bounds));
    for (int i = 0; i < 100; ++i) {
      float x1, y1, x2, y2;
      lines.Next(bounds, x1, y1, x2, y2);
      drawOne(twins, lines, x1, y1, x2, y2);
    }
    const std::string difference = twins.FirstDifference();
    ASSERT_EQ(difference, "") << "batch " << batch;
  }
  // The comparison means something only if the lines drew: most pixels.
  EXPECT_GT(twins.Changed(noise), 200 * 150 / 2);
}

} // namespace

TEST(SmoothLineWalk, IntegerLinesMatchTheReferencePixelForPixel) {
  CompareManyLines([](TwinTargets &twins, RandomLines &lines, float x1, float y1, float x2, float y2) {
    const RGBColor colour = lines.Colour();
    const int16_t a = int16_t(std::lround(x1)), b = int16_t(std::lround(y1));
    const int16_t c = int16_t(std::lround(x2)), d = int16_t(std::lround(y2));
    int expected = -1, got = -2;
    twins.Draw([&] { expected = RefSmoothLine(a, b, c, d, colour); },
               [&] { got = MyDrawSmoothLine(a, b, c, d, colour); });
    ASSERT_EQ(got, expected) << a << "," << b << " to " << c << "," << d;
  });
}

TEST(SmoothLineWalk, FractionalAndThickLinesMatchTheReferencePixelForPixel) {
  CompareManyLines([](TwinTargets &twins, RandomLines &lines, float x1, float y1, float x2, float y2) {
    const RGBColor colour = lines.Colour();
    const int width = int(lines.random() % 7) - 1; // -1 to 5
    if (width < 0)
      twins.Draw([&] { RefRealLine(x1, y1, x2, y2, 1, true, colour); },
                 [&] { MyDrawRealSmoothLine(x1, y1, x2, y2, colour); });
    else
      twins.Draw([&] { RefRealLine(x1, y1, x2, y2, width, false, colour); },
                 [&] { MyDrawRealSmoothThickLine(x1, y1, x2, y2, int16_t(width), colour); });
  });
}

TEST(SmoothLineWalk, DashedLinesMatchTheReferencePixelForPixel) {
  CompareManyLines([](TwinTargets &twins, RandomLines &lines, float x1, float y1, float x2, float y2) {
    const RGBColor colour1 = lines.Colour(), colour2 = lines.Colour();
    const int style = 1 + int(lines.random() % 2), length = int(lines.random() % 12);
    const float fraction = lines.Coordinate(0, 12) / 10.0f - 0.1f;
    const int16_t a = int16_t(std::lround(x1)), b = int16_t(std::lround(y1));
    const int16_t c = int16_t(std::lround(x2)), d = int16_t(std::lround(y2));
    twins.Draw(
        [&] { RefDashedLine(a, b, c, d, colour1, colour2, style, length, fraction); },
        [&] { MyDrawSmoothDashedLine(a, b, c, d, colour1, colour2, int16_t(style), int16_t(length), fraction); });
  });
}
