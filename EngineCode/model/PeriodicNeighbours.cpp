#include "PeriodicNeighbours.h"

#include "AutoBonds.h"
#include "CancelPoll.h"
#include "StoredLimits.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// About this many marks to a bin where the reach would make the bins
// smaller: a short reach in a large, sparse cell makes no more bins than
// marks.
constexpr double kMarksPerBin = 2.0;
// At most this many bins along an axis.
constexpr int64_t kMaxBinsPerAxis = 1024;
// The run of bins a sphere spans is widened by this share of a bin each
// side, so that rounding in a position never leaves out a bin an image
// within the reach stands in: the bins only choose candidates, which the
// distance then judges.
constexpr double kBinMargin = 1e-6;

// x mod n and x div n, rounding down.
int64_t FloorDiv(int64_t x, int64_t n) { return x >= 0 ? x / n : -((-x + n - 1) / n); }

bool ShiftPositive(const int32_t s[3]) {
  for (int i = 0; i < 3; i++)
    if (s[i] != 0)
      return s[i] > 0;
  return false;
}

} // namespace

size_t NeighbourCrowdLimit(double reach) {
  const double sphere = 4.0 / 3.0 * std::numbers::pi * reach * reach * reach;
  const double limit = sphere / kCrowdedVolumePerPlace;
  if (!(limit < 1e18))
    return kNoCrowdLimit;
  return std::max(kMinCrowdedPlaces, static_cast<size_t>(limit));
}

PeriodicNeighbours::PeriodicNeighbours(const CellFrame &frame, std::span<const NeighbourMarkInput> marks, double reach)
    : reach_(reach) {
  marks_.reserve(marks.size());
  xyz_.reserve(marks.size());
  for (const NeighbourMarkInput &m : marks) {
    marks_.push_back(m.mark);
    xyz_.push_back({m.xyz[0], m.xyz[1], m.xyz[2]});
  }
  std::copy(&frame.axes[0][0], &frame.axes[0][0] + 9, &axes_[0][0]);
  // The distance between the faces across axis k is one over the length of
  // the reciprocal vector k, whichever hand the cell is.
  valid_ = std::isfinite(reach) && reach >= 0.0;
  for (int k = 0; k < 3; k++) {
    const double *r = frame.reciprocal[k];
    height_[k] = 1.0 / std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    valid_ = valid_ && std::isfinite(height_[k]) && height_[k] > 0.0;
  }
  if (valid_)
    Bin(marks);
}

void PeriodicNeighbours::Bin(std::span<const NeighbourMarkInput> marks) {
  // The bin edge: the reach, or longer where the marks are few.
  const double volume = height_[0] * height_[1] * height_[2]; // at most the cell's volume
  const double sparse = std::cbrt(volume * kMarksPerBin / double(std::max<size_t>(marks.size(), 1)));
  const double edge = std::max(reach_, sparse);
  for (int k = 0; k < 3; k++) {
    const double n = std::floor(height_[k] / edge);
    bins_[k] = n >= double(kMaxBinsPerAxis) ? kMaxBinsPerAxis : std::max<int64_t>(1, static_cast<int64_t>(n));
  }
  const size_t nBins = static_cast<size_t>(bins_[0] * bins_[1] * bins_[2]);
  std::vector<uint32_t> binOf(marks_.size(), UINT32_MAX);
  binStart_.assign(nBins + 1, 0);
  const double limit = stored::kFinite.high;
  for (size_t m = 0; m < marks_.size(); m++) {
    int64_t cell[3];
    bool kept = true;
    for (int k = 0; k < 3 && kept; k++) {
      const double x = xyz_[m][k];
      kept = std::isfinite(x) && std::fabs(x) <= limit;
      if (!kept)
        break;
      double whole = std::floor(x);
      double w = x - whole;
      if (w >= 1.0) { // a tiny negative coordinate rounds up to the next wall
        w = 0.0;
        whole += 1.0;
      }
      marks_[m].shift[k] = static_cast<int32_t>(whole);
      cell[k] = std::min(bins_[k] - 1, static_cast<int64_t>(w * double(bins_[k])));
    }
    if (!kept) {
      skipped_++;
      continue;
    }
    binOf[m] = static_cast<uint32_t>((cell[0] * bins_[1] + cell[1]) * bins_[2] + cell[2]);
    binStart_[binOf[m] + 1]++;
  }
  for (size_t b = 0; b < nBins; b++)
    binStart_[b + 1] += binStart_[b];
  binned_.resize(binStart_[nBins]);
  std::vector<uint32_t> fill(binStart_.begin(), binStart_.end() - 1);
  for (size_t m = 0; m < marks_.size(); m++)
    if (binOf[m] != UINT32_MAX)
      binned_[fill[binOf[m]]++] = static_cast<uint32_t>(m);
}

void PeriodicNeighbours::HearCancelKey(std::function<bool()> step) {
  if (step)
    step_ = std::move(step);
  else
    step_ = [poll = CancelPoll(kNeighbourClockEvery)]() mutable { return poll.Step(); };
}

bool PeriodicNeighbours::BinRange(const double xyz[3], double reach, int64_t from[3], int64_t to[3]) const {
  for (int k = 0; k < 3; k++) {
    // A sphere of the reach spans reach / height of the cell along axis k.
    const double span = reach / height_[k];
    const double n = double(bins_[k]);
    const double lo = std::floor((xyz[k] - span) * n - kBinMargin);
    const double hi = std::floor((xyz[k] + span) * n + kBinMargin);
    if (!std::isfinite(lo) || !std::isfinite(hi) || std::fabs(lo) > 9e15 || std::fabs(hi) > 9e15)
      return false;
    from[k] = static_cast<int64_t>(lo);
    to[k] = static_cast<int64_t>(hi);
  }
  return true;
}

double PeriodicNeighbours::DistanceSquared(const double d[3]) const {
  double x[3];
  for (int j = 0; j < 3; j++)
    x[j] = d[0] * axes_[0][j] + d[1] * axes_[1][j] + d[2] * axes_[2][j];
  return x[0] * x[0] + x[1] * x[1] + x[2] * x[2];
}

NeighbourStatus PeriodicNeighbours::Visit(const double xyz[3], double reach, std::vector<NeighbourHit> &hits,
                                          size_t crowdLimit) {
  hits.clear();
  int64_t from[3], to[3];
  if (!valid_ || !(reach >= 0.0) || !BinRange(xyz, reach, from, to))
    return NeighbourStatus::kDone;
  const double reach2 = reach * reach;
  for (int64_t ga = from[0]; ga <= to[0]; ga++) {
    const int64_t sa = FloorDiv(ga, bins_[0]), ba = ga - sa * bins_[0];
    for (int64_t gb = from[1]; gb <= to[1]; gb++) {
      const int64_t sb = FloorDiv(gb, bins_[1]), bb = gb - sb * bins_[1];
      for (int64_t gc = from[2]; gc <= to[2]; gc++) {
        const int64_t sc = FloorDiv(gc, bins_[2]), bc = gc - sc * bins_[2];
        const size_t bin = static_cast<size_t>((ba * bins_[1] + bb) * bins_[2] + bc);
        if (Step())
          return NeighbourStatus::kStopped;
        const int64_t cells[3] = {sa, sb, sc};
        for (uint32_t k = binStart_[bin]; k < binStart_[bin + 1]; k++) {
          const uint32_t m = binned_[k];
          if (Step())
            return NeighbourStatus::kStopped;
          NeighbourHit hit;
          hit.mark = m;
          double d[3];
          for (int i = 0; i < 3; i++) {
            hit.shift[i] = static_cast<int32_t>(cells[i] - marks_[m].shift[i]);
            d[i] = (xyz_[m][i] - xyz[i]) + double(hit.shift[i]);
          }
          hit.d2 = DistanceSquared(d);
          if (!(hit.d2 <= reach2))
            continue;
          if (hits.size() >= crowdLimit) {
            hits.clear();
            return NeighbourStatus::kCrowded;
          }
          hits.push_back(hit);
        }
      }
    }
  }
  std::sort(hits.begin(), hits.end(), [](const NeighbourHit &x, const NeighbourHit &y) {
    if (x.mark != y.mark)
      return x.mark < y.mark;
    return std::lexicographical_compare(x.shift, x.shift + 3, y.shift, y.shift + 3);
  });
  return NeighbourStatus::kDone;
}

NeighbourStatus PeriodicNeighbours::Pairs(const NeighbourPolicy &policy, std::vector<NeighbourPair> &pairs,
                                          std::vector<uint32_t> *crowded) {
  pairs.clear();
  if (crowded)
    crowded->clear();
  const uint32_t kinds = policy.limits.size() >= size_t{policy.kinds} * policy.kinds ? policy.kinds : 0;
  double longest = -1.0;
  for (size_t k = 0; k < size_t{kinds} * kinds; k++)
    if (policy.limits[k] >= 0.0 && std::isfinite(policy.limits[k]))
      longest = std::max(longest, policy.limits[k]);
  if (!valid_ || longest < 0.0)
    return NeighbourStatus::kDone;
  const size_t crowdLimit = policy.crowdLimit.value_or(NeighbourCrowdLimit(longest));
  const double ownBelow = policy.ownImageBelowSq.value_or(double{kSelfImageDistanceSq});
  const auto pairsWith = [&](const NeighbourMark &m) {
    return m.kind < kinds && !(m.occupancy < policy.minimumOccupancy);
  };
  std::vector<uint8_t> isCrowded(marks_.size(), 0);
  bool anyCrowded = false;
  for (uint32_t a = 0; a < marks_.size(); a++) {
    const NeighbourMark &ma = marks_[a];
    if (!pairsWith(ma))
      continue;
    const NeighbourStatus status = Visit(xyz_[a].data(), longest, scratch_, crowdLimit);
    if (status == NeighbourStatus::kStopped)
      return status;
    if (status == NeighbourStatus::kCrowded) {
      isCrowded[a] = 1;
      anyCrowded = true;
      continue;
    }
    for (const NeighbourHit &h : scratch_) {
      const NeighbourMark &mb = marks_[h.mark];
      if (h.mark < a || (h.mark == a && !ShiftPositive(h.shift)) || !pairsWith(mb))
        continue;
      const double limit = policy.limits[size_t{ma.kind} * kinds + mb.kind];
      if (!(h.d2 <= limit * limit) || !(limit >= 0.0))
        continue;
      if (ma.atom == mb.atom && h.d2 < ownBelow)
        continue;
      if (policy.mayPair && ma.row != NeighbourMark::kNone && mb.row != NeighbourMark::kNone &&
          !policy.mayPair(ma.row, mb.row, h.d2))
        continue;
      NeighbourPair p;
      p.a = a;
      p.b = h.mark;
      std::copy(h.shift, h.shift + 3, p.shift);
      p.d2 = h.d2;
      pairs.push_back(p);
    }
  }
  // A crowded mark makes no pair, at either end.
  if (anyCrowded) {
    std::erase_if(pairs, [&](const NeighbourPair &p) { return isCrowded[p.a] || isCrowded[p.b]; });
    if (crowded)
      for (uint32_t m = 0; m < marks_.size(); m++)
        if (isCrowded[m])
          crowded->push_back(m);
  }
  return NeighbourStatus::kDone;
}

void PeriodicNeighbours::NumberMarksByBin() {
  std::vector<uint32_t> order(binned_.begin(), binned_.end());
  std::vector<uint8_t> binned(marks_.size(), 0);
  for (uint32_t m : binned_)
    binned[m] = 1;
  for (uint32_t m = 0; m < marks_.size(); m++)
    if (!binned[m])
      order.push_back(m);
  std::vector<NeighbourMark> marks(marks_.size());
  std::vector<std::array<double, 3>> xyz(xyz_.size());
  for (size_t k = 0; k < order.size(); k++) {
    marks[k] = marks_[order[k]];
    xyz[k] = xyz_[order[k]];
  }
  marks_ = std::move(marks);
  xyz_ = std::move(xyz);
  for (size_t k = 0; k < binned_.size(); k++)
    binned_[k] = static_cast<uint32_t>(k);
}

NeighbourStatus PeriodicNeighbours::VisitUnordered(const double xyz[3], double reach, std::vector<NeighbourHit> &hits) {
  hits.clear();
  int64_t from[3], to[3];
  if (!valid_ || !(reach >= 0.0) || !BinRange(xyz, reach, from, to))
    return NeighbourStatus::kDone;
  if (binnedCart_.size() != binned_.size()) {
    binnedCart_.resize(binned_.size());
    for (size_t k = 0; k < binned_.size(); k++) {
      const uint32_t m = binned_[k];
      double wrapped[3];
      for (int i = 0; i < 3; i++)
        wrapped[i] = xyz_[m][i] - double(marks_[m].shift[i]);
      for (int j = 0; j < 3; j++)
        binnedCart_[k][j] = wrapped[0] * axes_[0][j] + wrapped[1] * axes_[1][j] + wrapped[2] * axes_[2][j];
    }
  }
  const double reach2 = reach * reach;
  // Each axis's first bin as a bin of the cell and the whole cells it lies
  // at, then stepped: a division for each bin walked would cost more than
  // the few marks in it.
  int64_t shift0[3], bin0[3];
  for (int k = 0; k < 3; k++) {
    shift0[k] = FloorDiv(from[k], bins_[k]);
    bin0[k] = from[k] - shift0[k] * bins_[k];
  }
  int64_t whole[3];
  whole[0] = shift0[0];
  for (int64_t ga = from[0], ba = bin0[0]; ga <= to[0]; ga++) {
    whole[1] = shift0[1];
    for (int64_t gb = from[1], bb = bin0[1]; gb <= to[1]; gb++) {
      // Along c, the bins of one cell lie together: each run of them is
      // one run of marks, at one shift.
      whole[2] = shift0[2];
      for (int64_t gc = from[2], bc = bin0[2]; gc <= to[2];) {
        const int64_t runBins = std::min(to[2] - gc + 1, bins_[2] - bc);
        const size_t bin = static_cast<size_t>((ba * bins_[1] + bb) * bins_[2] + bc);
        const uint32_t first = binStart_[bin], end = binStart_[bin + static_cast<size_t>(runBins)];
        if (step_)
          for (int64_t k = 0; k < runBins + int64_t{end - first}; k++)
            if (step_())
              return NeighbourStatus::kStopped;
        // The run's whole cells less the point, Cartesian: a mark's image
        // lies at its wrapped position plus this from the point.
        const double cells[3] = {double(whole[0]) - xyz[0], double(whole[1]) - xyz[1], double(whole[2]) - xyz[2]};
        double offset[3];
        for (int j = 0; j < 3; j++)
          offset[j] = cells[0] * axes_[0][j] + cells[1] * axes_[1][j] + cells[2] * axes_[2][j];
        for (uint32_t k = first; k < end; k++) {
          const std::array<double, 3> &p = binnedCart_[k];
          const double dx = p[0] + offset[0], dy = p[1] + offset[1], dz = p[2] + offset[2];
          const double d2 = dx * dx + dy * dy + dz * dz;
          if (!(d2 <= reach2))
            continue;
          NeighbourHit &hit = hits.emplace_back();
          hit.mark = binned_[k];
          for (int i = 0; i < 3; i++)
            hit.shift[i] = static_cast<int32_t>(whole[i] - marks_[hit.mark].shift[i]);
          hit.d2 = d2;
        }
        gc += runBins;
        bc = 0;
        whole[2]++;
      }
      if (++bb == bins_[1]) {
        bb = 0;
        whole[1]++;
      }
    }
    if (++ba == bins_[0]) {
      ba = 0;
      whole[0]++;
    }
  }
  return NeighbourStatus::kDone;
}
