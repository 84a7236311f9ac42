// Lines and octant faces of an ellipsoid drawn straight into the port's pixels.
//
// A stroke gathers the lines of one part of an ellipsoid (its outline, the
// halves of its principal ellipses, octant stripes or faces, axes) as a
// coverage mask over the part of the picture the ellipsoid covers, then
// lays one colour over the covered pixels at once: where lines cross or
// meet a pixel is laid over once, as a painter strokes one path. A line of
// a pixel or less is anti-aliased over the two pixels nearest it in each
// column or row it crosses, a wider one by the part of each pixel it
// covers; in a fast rotation frame pixels are covered whole.
//
// Coordinates are the painter's: a pixel (x, y) covers [x, x + 1) x [y, y + 1).
// The mask's storage is kept between ellipsoids, so a frame allocates only
// for its largest ellipsoid; the covered cells are listed as they are first
// covered, so laying and clearing a part costs its own pixels rather than
// its box. Main thread only.
#pragma once

#include "graphics/PixelBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// One colour laid at one weight, worked out once for many pixels: each
// channel becomes lay + below * keep, rounded and held to 0..255. The three
// channels go through the same float steps in one vector where the machine
// has one, so the results are the same either way.
struct EllipsoidLay {
  float lay[3];
  float keep;
#if defined(__SSE2__)
  __m128 lay4, keep4; // lanes in the pixel's byte order: blue, green, red
#endif
  EllipsoidLay(const float colour[3], float w)
      : lay{colour[0] * 255.0f * w, colour[1] * 255.0f * w, colour[2] * 255.0f * w}, keep(1.0f - w) {
#if defined(__SSE2__)
    lay4 = _mm_setr_ps(lay[2], lay[1], lay[0], 0.0f);
    keep4 = _mm_set1_ps(keep);
#endif
  }
  uint32_t Over(uint32_t under) const {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(under)), zero), zero);
    __m128 v = _mm_add_ps(_mm_add_ps(lay4, _mm_mul_ps(_mm_cvtepi32_ps(bytes), keep4)), _mm_set1_ps(0.5f));
    v = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(255.0f));
    const __m128i out = _mm_cvttps_epi32(v);
    const uint32_t packed = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(out, out), zero)));
    return (under & 0xFF000000u) | (packed & 0x00FFFFFFu);
#else
    uint32_t out = under & 0xFF000000u;
    for (int k = 0; k < 3; ++k) {
      const int shift = 16 - 8 * k;
      const float below = float((under >> shift) & 0xFFu);
      out |= uint32_t(std::clamp(lay[k] + below * keep + 0.5f, 0.0f, 255.0f)) << shift;
    }
    return out;
#endif
  }
  // Over for each of n pixels in a row; at full weight nothing of the
  // pixels below shows, so they all take one colour.
  void LayRun(uint32_t *run, size_t n) const {
    if (keep == 0.0f) {
      const uint32_t laid = Over(0u);
      for (size_t i = 0; i < n; ++i)
        run[i] = (run[i] & 0xFF000000u) | laid;
      return;
    }
    OverRun(run, n);
  }
  // Over for each of n pixels in a row, four at a time where it can.
  void OverRun(uint32_t *run, size_t n) const {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), alpha = _mm_set1_epi32(int(0xFF000000u));
    auto channels = [&](__m128i words) {
      const __m128 v = _mm_add_ps(_mm_add_ps(lay4, _mm_mul_ps(_mm_cvtepi32_ps(words), keep4)), _mm_set1_ps(0.5f));
      return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(255.0f)));
    };
    for (; i + 4 <= n; i += 4) {
      __m128i *at = reinterpret_cast<__m128i *>(run + i);
      const __m128i under = _mm_loadu_si128(at);
      const __m128i lo = _mm_unpacklo_epi8(under, zero), hi = _mm_unpackhi_epi8(under, zero);
      const __m128i laid =
          _mm_packus_epi16(_mm_packs_epi32(channels(_mm_unpacklo_epi16(lo, zero)), channels(_mm_unpackhi_epi16(lo, zero))),
                           _mm_packs_epi32(channels(_mm_unpacklo_epi16(hi, zero)), channels(_mm_unpackhi_epi16(hi, zero))));
      _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(under, alpha), _mm_andnot_si128(alpha, laid)));
    }
#endif
    for (; i < n; ++i)
      run[i] = Over(run[i]);
  }
};
// Lays `colour` (0 to 1) over a 32-bit pixel at weight w (0 to 1).
inline uint32_t BlendEllipsoidPixel(uint32_t under, const float colour[3], float w) {
  return EllipsoidLay(colour, w).Over(under);
}

class EllipsoidStroke {
public:
  // Starts an empty stroke of `width` pixels over the box, clipped to the
  // buffer; false (and lines are then dropped) without 32-bit pixels or when
  // nothing of the box is on them.
  bool Begin(ovgfx::PixelBuffer *pixels, double left, double top, double right, double bottom, float width,
             bool smooth);
  // Dashes of `on` pixels drawn and `off` left out, from the start of each
  // subpath; solid for on <= 0 (as after Begin).
  void SetDash(float on, float off);
  // Path building in the painter's manner.
  void MoveToPoint(float x, float y);
  void AddLineToPoint(float x, float y);
  void ClosePath();
  void AddLine(float x0, float y0, float x1, float y1);
  // MoveToPoint to the first of `count` points (x, y pairs), then
  // AddLineToPoint to each of the others.
  void AddPolyline(const float *xy, size_t count);
  // Covers the inside of a convex polygon (x, y pairs): anti-aliased over
  // four sub-rows a pixel row, each by the exact share of each pixel's width,
  // or in a fast rotation frame the pixels whose centres lie inside. Lay it
  // with Blend on its own, apart from lines.
  void FillConvexPolygon(const float *xy, size_t count);
  // From now until the next Begin or LayGathered, lays `colour` at full
  // weight straight into the pixels each line or fill covers as it is made,
  // instead of gathering them for Blend. Where pixels are covered whole (a
  // fast rotation frame) that gives the pixels Blend at opacity 1 would, in
  // whatever order the parts come; false, and nothing changes, for a smooth
  // stroke.
  bool LayAsMade(const float colour[3]);
  // Lines and fills are gathered for Blend again, as after Begin.
  void LayGathered() { paint_ = false; }
  bool IsEmpty() const { return touchedCount_ == 0; }
  // Lays the colour over the covered pixels at `opacity` and empties the
  // stroke for the next lines over the same box.
  void Blend(const float colour[3], float opacity);

private:
  // The mask's rows are a power of two of cells apart, so a listed cell
  // gives back its row and column by a shift and a mask.
  size_t Cell(int x, int y) const { return (size_t(y - top_) << rowShift_) + size_t(x - left_); }
  // The mask's cover and its list of covered cells, held locally by a walk
  // so that its stores cannot be taken for changes to the stroke.
  struct Marks {
    float *cover;
    uint32_t *touched;
    size_t count;
    // Raises the cell's cover to c.
    [[gnu::always_inline]] void Raise(size_t at, float c) {
      float &cell = cover[at];
      if (c <= cell)
        return;
      if (cell == 0.0f)
        touched[count++] = uint32_t(at);
      cell = c;
    }
  };
  // One colour laid straight into the pixels, `origin` the pixel of the
  // mask's first cell.
  struct Paint {
    uint32_t *origin;
    uint32_t laid;
    [[gnu::always_inline]] void Raise(size_t at, float) { origin[at] = (origin[at] & 0xFF000000u) | laid; }
  };
  Marks OpenMarks() { return Marks{cover_.data(), touched_.data(), touchedCount_}; }
  void CloseMarks(const Marks &marks) { touchedCount_ = marks.count; }
  // Raises the pixel's cover to c.
  void Cover(int x, int y, float c) {
    if (x < left_ || y < top_ || x >= left_ + width_ || y >= top_ + height_)
      return;
    Marks marks = OpenMarks();
    marks.Raise(Cell(x, y), c);
    CloseMarks(marks);
  }
  // Adds c to the pixel's cover.
  void AddCover(int x, int y, float c) {
    if (x < left_ || y < top_ || x >= left_ + width_ || y >= top_ + height_ || !(c > 0.0f))
      return;
    float &cell = cover_[Cell(x, y)];
    if (cell == 0.0f)
      touched_[touchedCount_++] = uint32_t(Cell(x, y));
    cell += c;
  }
  // Gives the covered cells back for the next lines.
  void Clean() {
    for (size_t k = 0; k < touchedCount_; ++k)
      cover_[touched_[k]] = 0.0f;
    touchedCount_ = 0;
  }
  // std::floor and std::ceil as ints, for values within the int range (a
  // line's coordinates over the box).
  static int FloorInt(float v) {
    const int t = int(v);
    return float(t) > v ? t - 1 : t;
  }
  static int CeilInt(float v) {
    const int t = int(v);
    return float(t) < v ? t + 1 : t;
  }
  // A thin line's walk over the box: a along the line, b across it, with
  // the box grown by a line's reach along it from lo to hi.
  struct Walk {
    int fromA, toA, fromB;
    unsigned acrossB;
    size_t stepA, stepB;
    float lo, hi;
  };
  // How a thin line covers the pixels across it: anti-aliased, one pixel
  // whole, or the line's width of pixels whole.
  enum Mode { kSmooth, kWholeOne, kWholeWide };
  // Covers across the walk at the cell `along` of a (within the box along
  // it) about b: anti-aliased over the two pixels nearest b, or the line's
  // width of pixels whole in a fast rotation frame.
  template <Mode mode, class Sink>
  [[gnu::always_inline]] void Plot(Sink &marks, const Walk &w, size_t along, float b, float weight) const {
    if constexpr (mode == kSmooth) {
      const int below = FloorInt(b - 0.5f);
      const float part = b - 0.5f - float(below);
      const unsigned j = unsigned(below - w.fromB);
      if (j < w.acrossB)
        marks.Raise(along + size_t(j) * w.stepB, weight * (1.0f - part));
      if (j + 1u < w.acrossB)
        marks.Raise(along + size_t(j + 1u) * w.stepB, weight * part);
      return;
    }
    if constexpr (mode == kWholeOne) {
      const unsigned j = unsigned(FloorInt(b) - w.fromB);
      if (j < w.acrossB)
        marks.Raise(along + size_t(j) * w.stepB, 1.0f);
      return;
    }
    const int start = FloorInt(b - float(thickness_ - 1) / 2.0f) - w.fromB;
    for (int k = 0; k < thickness_; ++k)
      if (unsigned(start + k) < w.acrossB)
        marks.Raise(along + size_t(start + k) * w.stepB, 1.0f);
  }
  // Plots a thin line through (a0, b0) at `slope` over the centres from
  // first to last along it, within the box.
  template <Mode mode, class Sink>
  [[gnu::always_inline]] void WalkLine(Sink &sink, const Walk &walk, int first, int last, float a0, float b0,
                                       float slope) const {
    const Walk w = walk;
    const int end = std::min(last, w.toA);
    int a = std::max(first, w.fromA);
    for (size_t along = size_t(a - w.fromA) * w.stepA; a <= end; ++a, along += w.stepA)
      Plot<mode>(sink, w, along, b0 + (float(a) + 0.5f - a0) * slope, 1.0f);
  }
  void AddDashes(float x0, float y0, float x1, float y1);
  // The line of a pixel or less from AddLine, once its ends are known to be
  // finite and the line to reach the box; a run of them through `count`
  // points.
  void AddThinLine(float x0, float y0, float x1, float y1);
  template <Mode mode, class Sink>
  void ThinLine(Sink &sink, const Walk *walks, float x0, float y0, float x1, float y1) const;
  template <Mode mode, class Sink> void ThinRun(Sink &sink, const Walk *walks, const float *xy, size_t count) const;
  // Runs `run(sink, walks)` with the sink and walks lines go to now.
  template <class Run> void WithSink(Run run);

  ovgfx::PixelBuffer *pixels_ = nullptr;
  std::vector<float> cover_;
  std::vector<uint32_t> touched_; // the cells covered, each once, in no order: the first touchedCount_
  size_t touchedCount_ = 0;
  Walk walks_[2];      // along a row, along a column of the mask
  Walk pixelWalks_[2]; // the same over the pixels, for LayAsMade
  bool paint_ = false; // lines go straight into the pixels in paintColour_
  uint32_t paintColour_ = 0;
  Mode mode_ = kSmooth;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  int rowShift_ = 0; // log2 of the cells from one row of the mask to the next
  float boxLeft_ = 0.0f, boxRight_ = 0.0f, boxTop_ = 0.0f, boxBottom_ = 0.0f; // the box grown by a line's reach
  float lineWidth_ = 1.0f;
  int thickness_ = 1; // pixels across a line in a fast rotation frame
  bool smooth_ = true;
  float startX_ = 0.0f, startY_ = 0.0f, penX_ = 0.0f, penY_ = 0.0f;
  bool hasPen_ = false;
  float dashOn_ = 0.0f, dashOff_ = 0.0f, dashAt_ = 0.0f; // dashAt_: distance into the pattern
};
