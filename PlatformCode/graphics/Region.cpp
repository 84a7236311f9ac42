#include "Region.h"

#include "RegionImpl.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace ovgfx {

// ---- Polygon --------------------------------------------------------------------

Rect Polygon::Bounds() const {
  if (points_.empty())
    return Rect{};
  int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
  for (const Point &p : points_) {
    left = std::min(left, int(p.h));
    right = std::max(right, int(p.h) + 1);
    top = std::min(top, int(p.v));
    bottom = std::max(bottom, int(p.v) + 1);
  }
  return MakeRect(left, top, right, bottom);
}

void Polygon::Offset(int dh, int dv) {
  for (Point &p : points_) {
    p.h = int16_t(p.h + dh);
    p.v = int16_t(p.v + dv);
  }
}

// ---- Region ---------------------------------------------------------------------

namespace {

// Builds a region from one span per row, merging runs of equal rows into one
// rectangle so that the region stays compact.
QRegion RegionFromSpans(int top, const std::vector<std::pair<int, int>> &spans) {
  std::vector<QRect> rects;
  size_t i = 0;
  while (i < spans.size()) {
    auto [x0, x1] = spans[i];
    if (x1 <= x0) {
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < spans.size() && spans[j] == spans[i])
      ++j;
    rects.emplace_back(x0, top + int(i), x1 - x0, int(j - i));
    i = j;
  }
  QRegion region;
  if (!rects.empty())
    region.setRects(rects.data(), int(rects.size()));
  return region;
}

// Erodes (or, for `grow`, dilates) the region along one axis by a segment of
// `length` pixels starting at the pixel itself, by doubling: after each pass
// `covered` consecutive pixels are known to be inside.
QRegion SweepAlongAxis(const QRegion &source, int length, bool horizontal, bool grow) {
  if (length <= 1)
    return source;
  auto shifted = [horizontal](const QRegion &r, int by) {
    return horizontal ? r.translated(-by, 0) : r.translated(0, -by);
  };
  auto combine = [grow](const QRegion &a, const QRegion &b) { return grow ? a.united(b) : a.intersected(b); };
  QRegion current = source;
  int covered = 1;
  while (covered * 2 <= length) {
    current = combine(current, shifted(current, covered));
    covered *= 2;
  }
  if (covered < length)
    current = combine(current, shifted(current, length - covered));
  return current;
}

// Erodes by d (or dilates by -d) on each side along one axis.
QRegion InsetAlongAxis(const QRegion &source, int d, bool horizontal) {
  if (d == 0 || source.isEmpty())
    return source;
  bool grow = d < 0;
  int k = grow ? -d : d;
  QRegion swept = SweepAlongAxis(source, 2 * k + 1, horizontal, grow);
  // The sweep covered [x, x + 2k]; centre it on [x - k, x + k].
  return horizontal ? swept.translated(k, 0) : swept.translated(0, k);
}

} // namespace

Region::Region() : impl_(std::make_unique<Impl>()) {}
Region::Region(const Rect &r) : impl_(std::make_unique<Impl>()) {
  if (!r.IsEmpty())
    impl_->region = QRegion(r.left, r.top, r.Width(), r.Height());
}
Region::Region(const Region &other) : impl_(std::make_unique<Impl>(*other.impl_)) {}
Region::Region(Region &&other) noexcept : impl_(std::make_unique<Impl>()) { std::swap(impl_, other.impl_); }
Region &Region::operator=(const Region &other) {
  if (this != &other)
    *impl_ = *other.impl_;
  return *this;
}
Region &Region::operator=(Region &&other) noexcept {
  std::swap(impl_, other.impl_);
  return *this;
}
Region::~Region() = default;

Region Region::Oval(const Rect &r) {
  Region out;
  if (r.IsEmpty())
    return out;
  const double cx = (double(r.left) + double(r.right)) / 2.0;
  const double cy = (double(r.top) + double(r.bottom)) / 2.0;
  const double rx = r.Width() / 2.0;
  const double ry = r.Height() / 2.0;
  std::vector<std::pair<int, int>> spans(size_t(r.Height()));
  for (int y = r.top; y < r.bottom; ++y) {
    double t = (y + 0.5 - cy) / ry;
    double half = rx * std::sqrt(std::max(0.0, 1.0 - t * t));
    // Columns whose centres lie strictly inside: x + 0.5 in (cx - half, cx + half).
    int x0 = int(std::floor(cx - half - 0.5)) + 1;
    int x1 = int(std::ceil(cx + half - 0.5));
    spans[size_t(y - r.top)] = {std::max(x0, int(r.left)), std::min(x1, int(r.right))};
  }
  out.impl_->region = RegionFromSpans(r.top, spans);
  return out;
}

Region Region::FromPolygon(const Polygon &polygon) { return FromPolygon(polygon, polygon.Bounds()); }

namespace {

// One edge of a polygon that spans rows: from its upper end (x1, y1) to its
// lower end, dx columns across and dy > 0 rows down.
struct ScanEdge {
  int x1, y1, y2;
  int64_t dx, dy;
  // The column where the edge crosses row y (y1 <= y < y2): the exact
  // crossing rounded up, which is where the incremental walk of the
  // toolkit's polygon regions puts it.
  int At(int y) const {
    const int64_t n = int64_t(y - y1) * dx;
    return x1 + int(n >= 0 ? (n + dy - 1) / dy : -(-n / dy));
  }
};

// Rectangles of one band of rows, in the order a region keeps them.
void AddBand(std::vector<QRect> &rects, const std::vector<std::pair<int, int>> &spans, int top, int height) {
  for (const auto &[x0, x1] : spans)
    rects.emplace_back(x0, top, x1 - x0, height);
}

} // namespace

Region Region::FromPolygon(const Polygon &polygon, const Rect &within) {
  Region out;
  const std::vector<Point> &pts = polygon.Points();
  if (pts.size() < 3 || within.IsEmpty())
    return out;
  // The toolkit's scan conversion, row by row: each row is filled between
  // pairs of crossings (even-odd), an edge counting on the rows from its
  // upper end to the row above its lower end; level edges count on none.
  std::vector<ScanEdge> edges;
  edges.reserve(pts.size());
  for (size_t i = 0; i < pts.size(); ++i) {
    const Point &a = pts[i == 0 ? pts.size() - 1 : i - 1], &b = pts[i];
    if (a.v == b.v)
      continue;
    const Point &upper = a.v < b.v ? a : b, &lower = a.v < b.v ? b : a;
    if (lower.v <= within.top || upper.v >= within.bottom)
      continue;
    edges.push_back({upper.h, upper.v, lower.v, int64_t(lower.h) - upper.h, int64_t(lower.v) - upper.v});
  }
  if (edges.empty())
    return out;
  std::sort(edges.begin(), edges.end(), [](const ScanEdge &a, const ScanEdge &b) { return a.y1 < b.y1; });
  const int top = std::max(int(within.top), edges.front().y1);
  int bottom = top;
  for (const ScanEdge &e : edges)
    bottom = std::max(bottom, e.y2);
  bottom = std::min(bottom, int(within.bottom));
  std::vector<const ScanEdge *> active;
  std::vector<int> crossings;
  std::vector<std::pair<int, int>> spans, band;
  std::vector<QRect> rects;
  int bandTop = top;
  size_t next = 0;
  for (int y = top; y < bottom; ++y) {
    while (next < edges.size() && edges[next].y1 <= y)
      active.push_back(&edges[next++]);
    active.erase(std::remove_if(active.begin(), active.end(), [y](const ScanEdge *e) { return e->y2 <= y; }),
                 active.end());
    crossings.clear();
    for (const ScanEdge *e : active)
      crossings.push_back(e->At(y));
    std::sort(crossings.begin(), crossings.end());
    // Pairs of crossings, cut to the columns within, spans that touch
    // joined.
    spans.clear();
    for (size_t k = 0; k + 1 < crossings.size(); k += 2) {
      const int x0 = std::max(crossings[k], int(within.left)), x1 = std::min(crossings[k + 1], int(within.right));
      if (x0 >= x1)
        continue;
      if (!spans.empty() && spans.back().second >= x0)
        spans.back().second = std::max(spans.back().second, x1);
      else
        spans.emplace_back(x0, x1);
    }
    // Rows alike make one band.
    if (spans != band) {
      AddBand(rects, band, bandTop, y - bandTop);
      band.swap(spans);
      bandTop = y;
    }
  }
  AddBand(rects, band, bandTop, bottom - bandTop);
  if (!rects.empty())
    out.impl_->region.setRects(rects.data(), int(rects.size()));
  return out;
}

Region Region::FromRowSpans(int top, const std::vector<std::pair<int, int>> &spans) {
  Region out;
  out.impl_->region = RegionFromSpans(top, spans);
  return out;
}

Region Region::FromRects(const std::vector<Rect> &rects) {
  // Rectangles of equal top and height form a band that can be set directly
  // once its pieces are merged; the bands are then united pairwise, which
  // keeps the work close to linear for grids of many small rectangles.
  std::vector<QRect> sorted;
  sorted.reserve(rects.size());
  for (const Rect &r : rects)
    if (!r.IsEmpty())
      sorted.emplace_back(r.left, r.top, r.Width(), r.Height());
  std::sort(sorted.begin(), sorted.end(), [](const QRect &a, const QRect &b) {
    if (a.top() != b.top())
      return a.top() < b.top();
    if (a.height() != b.height())
      return a.height() < b.height();
    return a.left() < b.left();
  });
  std::vector<QRegion> bands;
  size_t i = 0;
  while (i < sorted.size()) {
    std::vector<QRect> band{sorted[i]};
    size_t j = i + 1;
    for (; j < sorted.size() && sorted[j].top() == sorted[i].top() && sorted[j].height() == sorted[i].height(); ++j) {
      QRect &last = band.back();
      if (sorted[j].left() <= last.right() + 1)
        last.setRight(std::max(last.right(), sorted[j].right()));
      else
        band.push_back(sorted[j]);
    }
    QRegion region;
    region.setRects(band.data(), int(band.size()));
    bands.push_back(region);
    i = j;
  }
  while (bands.size() > 1) {
    std::vector<QRegion> merged;
    for (size_t k = 0; k + 1 < bands.size(); k += 2)
      merged.push_back(bands[k].united(bands[k + 1]));
    if (bands.size() % 2)
      merged.push_back(bands.back());
    bands.swap(merged);
  }
  Region out;
  if (!bands.empty())
    out.impl_->region = bands.front();
  return out;
}

bool Region::IsEmpty() const { return impl_->region.isEmpty(); }

Rect Region::Bounds() const {
  if (impl_->region.isEmpty())
    return Rect{};
  QRect b = impl_->region.boundingRect();
  return MakeRect(b.left(), b.top(), b.left() + b.width(), b.top() + b.height());
}

bool Region::Contains(int x, int y) const { return impl_->region.contains(QPoint(x, y)); }

bool Region::IsRectangular() const { return impl_->region.rectCount() <= 1; }

std::vector<Rect> Region::Rects() const {
  std::vector<Rect> out;
  RectsInto(out);
  return out;
}

void Region::RectsInto(std::vector<Rect> &out) const {
  out.clear();
  out.reserve(size_t(impl_->region.rectCount()));
  for (const QRect &q : impl_->region)
    out.push_back(MakeRect(q.left(), q.top(), q.left() + q.width(), q.top() + q.height()));
}

void Region::Offset(int dh, int dv) { impl_->region.translate(dh, dv); }

void Region::Inset(int dh, int dv) {
  impl_->region = InsetAlongAxis(impl_->region, dh, true);
  impl_->region = InsetAlongAxis(impl_->region, dv, false);
}

Region Region::Intersected(const Region &other) const {
  Region out;
  out.impl_->region = impl_->region.intersected(other.impl_->region);
  return out;
}
Region Region::United(const Region &other) const {
  Region out;
  out.impl_->region = impl_->region.united(other.impl_->region);
  return out;
}
Region Region::Subtracted(const Region &other) const {
  Region out;
  out.impl_->region = impl_->region.subtracted(other.impl_->region);
  return out;
}
Region Region::Xored(const Region &other) const {
  Region out;
  out.impl_->region = impl_->region.xored(other.impl_->region);
  return out;
}

bool operator==(const Region &a, const Region &b) { return a.impl_->region == b.impl_->region; }

} // namespace ovgfx
