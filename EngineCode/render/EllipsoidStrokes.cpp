#include "render/EllipsoidStrokes.h"

#include <algorithm>
#include <cmath>

using namespace ovgfx;

bool EllipsoidStroke::Begin(PixelBuffer *pixels, double left, double top, double right, double bottom, float width,
                            bool smooth) {
  // A stroke left without its blend gives its cover back.
  Clean();
  pixels_ = nullptr;
  hasPen_ = false;
  paint_ = false;
  dashOn_ = dashOff_ = 0.0f;
  if (!pixels || pixels->Depth() != 32 || !(width > 0.0f) || !std::isfinite(width))
    return false;
  const Rect &b = pixels->Bounds();
  const double l = std::max(double(b.left), std::floor(left)), r = std::min(double(b.right) - 1.0, std::floor(right));
  const double t = std::max(double(b.top), std::floor(top)), u = std::min(double(b.bottom) - 1.0, std::floor(bottom));
  if (!(l <= r) || !(t <= u))
    return false;
  left_ = int(l);
  top_ = int(t);
  width_ = int(r) - left_ + 1;
  height_ = int(u) - top_ + 1;
  rowShift_ = 0;
  while ((1 << rowShift_) < width_)
    ++rowShift_;
  const size_t size = size_t(height_) << rowShift_;
  if (cover_.size() < size) {
    cover_.assign(size, 0.0f);
    touched_.resize(size);
  }
  pixels_ = pixels;
  lineWidth_ = width;
  thickness_ = std::max(1, int(std::lround(width)));
  smooth_ = smooth;
  const float reach = lineWidth_ / 2.0f + 1.0f;
  boxLeft_ = float(left_) - reach;
  boxRight_ = float(left_ + width_) + reach;
  boxTop_ = float(top_) - reach;
  boxBottom_ = float(top_ + height_) + reach;
  const size_t row = size_t(1) << rowShift_;
  walks_[0] = Walk{left_, left_ + width_ - 1, top_, unsigned(height_), 1, row, boxLeft_, boxRight_};
  walks_[1] = Walk{top_, top_ + height_ - 1, left_, unsigned(width_), row, 1, boxTop_, boxBottom_};
  const size_t stride = pixels->RowBytes() / sizeof(uint32_t);
  pixelWalks_[0] = walks_[0];
  pixelWalks_[0].stepB = stride;
  pixelWalks_[1] = walks_[1];
  pixelWalks_[1].stepA = stride;
  mode_ = smooth_ ? kSmooth : thickness_ == 1 ? kWholeOne : kWholeWide;
  return true;
}

bool EllipsoidStroke::LayAsMade(const float colour[3]) {
  if (!pixels_ || smooth_)
    return false;
  paint_ = true;
  paintColour_ = EllipsoidLay(colour, 1.0f).Over(0u);
  return true;
}

void EllipsoidStroke::SetDash(float on, float off) {
  const bool dashed = on > 0.0f && off > 0.0f && std::isfinite(on + off);
  dashOn_ = dashed ? on : 0.0f;
  dashOff_ = dashed ? off : 0.0f;
}

void EllipsoidStroke::MoveToPoint(float x, float y) {
  startX_ = penX_ = x;
  startY_ = penY_ = y;
  hasPen_ = true;
  dashAt_ = 0.0f;
}

void EllipsoidStroke::AddLineToPoint(float x, float y) {
  if (!hasPen_)
    startX_ = x, startY_ = y, dashAt_ = 0.0f;
  else if (dashOn_ > 0.0f)
    AddDashes(penX_, penY_, x, y);
  else
    AddLine(penX_, penY_, x, y);
  penX_ = x;
  penY_ = y;
  hasPen_ = true;
}

void EllipsoidStroke::ClosePath() {
  if (hasPen_ && (penX_ != startX_ || penY_ != startY_))
    AddLineToPoint(startX_, startY_);
}

namespace {

// std::fmod(a, period) for a period > 0, without the division for the
// distances a dash walk meets: below twice the period the difference is exact.
float Wrap(float a, float period) {
  if (a >= 0.0f && a < period)
    return a;
  if (a >= period && a < 2.0f * period)
    return a - period;
  return std::fmod(a, period);
}

} // namespace

void EllipsoidStroke::AddDashes(float x0, float y0, float x1, float y1) {
  const float length = std::sqrt((x1 - x0) * (x1 - x0) + (y1 - y0) * (y1 - y0));
  if (!(length > 0.0f) || !std::isfinite(length))
    return;
  const float period = dashOn_ + dashOff_;
  // Only the part of the segment over the box is walked (Liang-Barsky).
  const float dx = x1 - x0, dy = y1 - y0;
  float from = 0.0f, to = 1.0f;
  auto clip = [&](float p, float q) { // keeps p t <= q
    if (p == 0.0f)
      return q >= 0.0f;
    const float t = q / p;
    if (p < 0.0f)
      from = std::max(from, t);
    else
      to = std::min(to, t);
    return from <= to;
  };
  // A segment within the box keeps all of itself without the divisions.
  const bool within = std::min(x0, x1) >= boxLeft_ && std::max(x0, x1) <= boxRight_ && std::min(y0, y1) >= boxTop_ &&
                      std::max(y0, y1) <= boxBottom_;
  if (!within &&
      (!clip(-dx, x0 - boxLeft_) || !clip(dx, boxRight_ - x0) || !clip(-dy, y0 - boxTop_) || !clip(dy, boxBottom_ - y0))) {
    dashAt_ = Wrap(dashAt_ + length, period);
    return;
  }
  // Walk it piece by piece, each piece within one dash or gap.
  float done = from * length;
  const float end = to * length;
  dashAt_ = Wrap(dashAt_ + done, period);
  while (done < end) {
    const float phase = Wrap(dashAt_, period);
    const bool on = phase < dashOn_;
    const float piece = std::max(std::min(end - done, (on ? dashOn_ : period) - phase), period * 1e-3f);
    if (on) {
      const float f0 = done / length, f1 = std::min(done + piece, end) / length;
      const float px0 = x0 + dx * f0, py0 = y0 + dy * f0, px1 = x0 + dx * f1, py1 = y0 + dy * f1;
      // A piece of a line over the box has finite ends and reaches the box.
      if (within && pixels_ && !(smooth_ && lineWidth_ > 1.0f))
        AddThinLine(px0, py0, px1, py1);
      else
        AddLine(px0, py0, px1, py1);
    }
    done += piece;
    dashAt_ += piece;
  }
  dashAt_ = Wrap(dashAt_ + std::max(0.0f, length - done), period);
}

void EllipsoidStroke::AddLine(float x0, float y0, float x1, float y1) {
  if (!pixels_ || !std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1))
    return;
  const float half = lineWidth_ / 2.0f;
  // Lines reaching beyond the box are cut to it (with the line's own reach).
  const float boxLeft = boxLeft_, boxRight = boxRight_, boxTop = boxTop_, boxBottom = boxBottom_;
  if (std::max(x0, x1) < boxLeft || std::min(x0, x1) > boxRight || std::max(y0, y1) < boxTop ||
      std::min(y0, y1) > boxBottom)
    return;
  const float dx = x1 - x0, dy = y1 - y0;
  if (smooth_ && lineWidth_ > 1.0f) {
    // A wide line covers the part of each pixel's square inside the band of
    // its width: the square seen across the line spreads as a trapezoid (a
    // box for a line along a row or column), so the cover is the
    // trapezoid's share within half the width of the pixel's distance from
    // the line.
    const float length = std::sqrt(dx * dx + dy * dy);
    const float nx = length > 0.0f ? std::fabs(dy) / length : 1.0f, ny = length > 0.0f ? std::fabs(dx) / length : 0.0f;
    const float wide = std::max(nx, ny), narrow = std::min(nx, ny);
    const float outer = (wide + narrow) / 2.0f, inner = (wide - narrow) / 2.0f, height = 1.0f / wide;
    auto share = [&](float s) { // the trapezoid's share below s, for s >= -outer
      if (s >= outer)
        return 1.0f;
      if (s <= -outer)
        return 0.0f;
      if (s < -inner)
        return height * (s + outer) * (s + outer) / (2.0f * narrow);
      if (s <= inner)
        return height * (narrow / 2.0f + s + inner);
      return 1.0f - height * (outer - s) * (outer - s) / (2.0f * narrow);
    };
    const float margin = half + outer;
    const int fromX = int(std::floor(std::max(std::min(x0, x1) - margin, boxLeft)));
    const int toX = int(std::floor(std::min(std::max(x0, x1) + margin, boxRight)));
    const int fromY = int(std::floor(std::max(std::min(y0, y1) - margin, boxTop)));
    const int toY = int(std::floor(std::min(std::max(y0, y1) + margin, boxBottom)));
    const float length2 = dx * dx + dy * dy;
    const float inverse = length2 > 0.0f ? 1.0f / length2 : 0.0f;
    const float margin2 = margin * margin;
    for (int y = fromY; y <= toY; ++y) {
      const float py = float(y) + 0.5f - y0;
      for (int x = fromX; x <= toX; ++x) {
        const float px = float(x) + 0.5f - x0;
        const float t = std::clamp((px * dx + py * dy) * inverse, 0.0f, 1.0f);
        const float ex = px - t * dx, ey = py - t * dy;
        const float d2 = ex * ex + ey * ey;
        if (d2 >= margin2)
          continue;
        const float d = std::sqrt(d2);
        Cover(x, y, std::min(1.0f, share(d + half) - share(d - half)));
      }
    }
    return;
  }
  AddThinLine(x0, y0, x1, y1);
}

template <class Run> void EllipsoidStroke::WithSink(Run run) {
  if (paint_) {
    Paint paint{pixels_->Row32(top_) + (left_ - pixels_->Bounds().left), paintColour_};
    run(paint, pixelWalks_);
    return;
  }
  Marks marks = OpenMarks();
  run(marks, walks_);
  CloseMarks(marks);
}

void EllipsoidStroke::AddThinLine(float x0, float y0, float x1, float y1) {
  WithSink([&](auto &sink, const Walk *walks) {
    switch (mode_) {
    case kSmooth:
      ThinLine<kSmooth>(sink, walks, x0, y0, x1, y1);
      break;
    case kWholeOne:
      ThinLine<kWholeOne>(sink, walks, x0, y0, x1, y1);
      break;
    case kWholeWide:
      ThinLine<kWholeWide>(sink, walks, x0, y0, x1, y1);
      break;
    }
  });
}

template <EllipsoidStroke::Mode mode, class Sink>
void EllipsoidStroke::ThinLine(Sink &sink, const Walk *walks, float x0, float y0, float x1, float y1) const {
  // Along each column (a line nearer the horizontal) or row whose centre
  // the line passes: a line of a pixel or less spreads one pixel's worth
  // over the two pixels nearest it, by their distances from it; in a fast
  // rotation frame the line's width of pixels about it are covered whole.
  const float dx = x1 - x0, dy = y1 - y0;
  const bool alongX = std::fabs(dx) >= std::fabs(dy);
  const float a0 = alongX ? x0 : y0, a1 = alongX ? x1 : y1, b0 = alongX ? y0 : x0, db = alongX ? dy : dx;
  const float da = a1 - a0;
  const Walk &walk = walks[alongX ? 0 : 1];
  const float lo = std::max(std::min(a0, a1), walk.lo);
  const float hi = std::min(std::max(a0, a1), walk.hi);
  // Centres from lo on and before hi: joined lines share no column or row.
  const int first = CeilInt(lo - 0.5f), last = CeilInt(hi - 0.5f) - 1;
  if (first > last) {
    // Too short to pass a centre: at its middle, by its length.
    const int a = FloorInt((a0 + a1) / 2.0f);
    if (a < walk.fromA || a > walk.toA)
      return;
    Plot<mode>(sink, walk, size_t(a - walk.fromA) * walk.stepA, b0 + db / 2.0f,
               mode == kSmooth ? std::min(1.0f, std::fabs(da)) : 1.0f);
    return;
  }
  WalkLine<mode>(sink, walk, first, last, a0, b0, da != 0.0f ? db / da : 0.0f);
}

template <EllipsoidStroke::Mode mode, class Sink>
void EllipsoidStroke::ThinRun(Sink &sink, const Walk *walks, const float *xy, size_t count) const {
  for (size_t k = 1; k < count; ++k)
    ThinLine<mode>(sink, walks, xy[2 * k - 2], xy[2 * k - 1], xy[2 * k], xy[2 * k + 1]);
}

void EllipsoidStroke::AddPolyline(const float *xy, size_t count) {
  if (count == 0)
    return;
  MoveToPoint(xy[0], xy[1]);
  // A solid thin run whose points all lie over the box goes straight to
  // the walk: AddLine would keep each of its lines whole.
  bool straight = pixels_ && count > 1 && !(dashOn_ > 0.0f) && !(smooth_ && lineWidth_ > 1.0f);
  for (size_t k = 0; straight && k < count; ++k) {
    const float x = xy[2 * k], y = xy[2 * k + 1];
    straight = x >= boxLeft_ && x <= boxRight_ && y >= boxTop_ && y <= boxBottom_;
  }
  if (!straight) {
    for (size_t k = 1; k < count; ++k)
      AddLineToPoint(xy[2 * k], xy[2 * k + 1]);
    return;
  }
  WithSink([&](auto &sink, const Walk *walks) {
    switch (mode_) {
    case kSmooth:
      ThinRun<kSmooth>(sink, walks, xy, count);
      break;
    case kWholeOne:
      ThinRun<kWholeOne>(sink, walks, xy, count);
      break;
    case kWholeWide:
      ThinRun<kWholeWide>(sink, walks, xy, count);
      break;
    }
  });
  penX_ = xy[2 * count - 2];
  penY_ = xy[2 * count - 1];
}

void EllipsoidStroke::FillConvexPolygon(const float *xy, size_t count) {
  if (!pixels_ || !xy || count < 3)
    return;
  float top = xy[1], bottom = xy[1];
  for (size_t k = 0; k < count; ++k) {
    if (!std::isfinite(xy[2 * k]) || !std::isfinite(xy[2 * k + 1]))
      return;
    top = std::min(top, xy[2 * k + 1]);
    bottom = std::max(bottom, xy[2 * k + 1]);
  }
  const int fromY = std::max(top_, int(std::floor(top))), toY = std::min(top_ + height_ - 1, int(std::floor(bottom)));
  const int subRows = smooth_ ? 4 : 1;
  const float share = 1.0f / float(subRows);
  for (int y = fromY; y <= toY; ++y)
    for (int r = 0; r < subRows; ++r) {
      const float ys = float(y) + (float(r) + 0.5f) * share;
      // The span of the polygon on this sub-row: the crossings of its edges.
      float lo = 0.0f, hi = 0.0f;
      bool any = false;
      for (size_t k = 0; k < count; ++k) {
        const float *p = xy + 2 * k, *q = xy + 2 * ((k + 1) % count);
        if ((p[1] <= ys) == (q[1] <= ys))
          continue;
        const float x = p[0] + (ys - p[1]) * (q[0] - p[0]) / (q[1] - p[1]);
        lo = any ? std::min(lo, x) : x;
        hi = any ? std::max(hi, x) : x;
        any = true;
      }
      if (!any)
        continue;
      lo = std::max(lo, float(left_));
      hi = std::min(hi, float(left_ + width_));
      if (!(hi > lo))
        continue;
      if (!smooth_) {
        if (paint_) {
          uint32_t *const row = pixels_->Row32(y) - pixels_->Bounds().left;
          for (int x = std::max(int(std::ceil(lo - 0.5f)), left_); float(x) + 0.5f < hi && x < left_ + width_; ++x)
            row[x] = (row[x] & 0xFF000000u) | paintColour_;
          continue;
        }
        for (int x = int(std::ceil(lo - 0.5f)); float(x) + 0.5f < hi; ++x)
          AddCover(x, y, 1.0f);
        continue;
      }
      const int first = int(std::floor(lo)), last = int(std::floor(hi));
      if (first == last) {
        AddCover(first, y, (hi - lo) * share);
        continue;
      }
      AddCover(first, y, (float(first + 1) - lo) * share);
      for (int x = first + 1; x < last; ++x)
        AddCover(x, y, share);
      AddCover(last, y, (hi - float(last)) * share);
    }
}

void EllipsoidStroke::Blend(const float colour[3], float opacity) {
  if (!pixels_ || IsEmpty())
    return;
  const float weight = std::clamp(opacity, 0.0f, 1.0f);
  const EllipsoidLay whole(colour, weight); // for the pixels covered whole
  const Rect &b = pixels_->Bounds();
  const uint32_t column = (1u << rowShift_) - 1u;
  // The mask's cell (row, column) is the pixel at origin + row * stride + column.
  uint32_t *const origin = pixels_->Row32(top_) + (left_ - b.left);
  const ptrdiff_t stride = ptrdiff_t(pixels_->RowBytes() / sizeof(uint32_t));
  float *const cover = cover_.data();
  const uint32_t *const touched = touched_.data();
  const size_t count = touchedCount_;
  auto pixelAt = [&](uint32_t at) -> uint32_t & { return origin[ptrdiff_t(at >> rowShift_) * stride + ptrdiff_t(at & column)]; };
  if (whole.keep == 0.0f) {
    // Laid at full weight a pixel covered whole shows nothing of what was
    // under it: one colour for them all.
    const uint32_t laid = whole.Over(0u);
    for (size_t k = 0; k < count; ++k) {
      const uint32_t at = touched[k];
      const float c = cover[at];
      uint32_t &pixel = pixelAt(at);
      pixel = c >= 1.0f ? (pixel & 0xFF000000u) | laid : BlendEllipsoidPixel(pixel, colour, c * weight);
      cover[at] = 0.0f;
    }
  } else {
    for (size_t k = 0; k < count; ++k) {
      const uint32_t at = touched[k];
      const float c = cover[at];
      uint32_t &pixel = pixelAt(at);
      pixel = c >= 1.0f ? whole.Over(pixel) : BlendEllipsoidPixel(pixel, colour, c * weight);
      cover[at] = 0.0f;
    }
  }
  touchedCount_ = 0;
  hasPen_ = false;
}
