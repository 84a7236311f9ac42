#include "import/MixedSites.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

bool SamePosition(const std::array<double, 3> &a, const std::array<double, 3> &b) {
  for (size_t k = 0; k < 3; k++) {
    const double d = a[k] - b[k];
    if (std::fabs(d - std::round(d)) > kSamePositionTolerance)
      return false;
  }
  return true;
}

} // namespace

// A hash grid over the cell whose cells are ten times the tolerance, their
// faces half a cell off the usual special positions (0, 1/4, 1/2, ...), so
// that an atom looks into a neighbour cell only when it lies that close to
// the face between them; a grid cell lists only the first atoms of groups,
// which stand at least the tolerance apart, so that it holds a bounded few
// however many atoms share a position.
std::vector<size_t> GroupAtOnePlace(std::span<const std::array<double, 3>> positions) {
  constexpr int64_t kCells = static_cast<int64_t>(0.1 / kSamePositionTolerance);
  constexpr size_t kNone = ~size_t{0};
  // A grid cell's last atom, in a table open-addressed by the cell's number
  // (no node per atom); a slot holds the cell's number above its atom.
  static_assert(kCells * kCells * kCells < (int64_t{1} << 31));
  constexpr uint64_t kEmpty = ~uint64_t{0};
  size_t slots = 16;
  while (slots < 2 * positions.size())
    slots *= 2;
  std::vector<uint64_t> head(slots, kEmpty);
  // The slot of a cell, and the cell's last atom (kNone before any).
  auto slot = [&](int64_t cellKey) -> uint64_t & {
    size_t h = static_cast<size_t>(cellKey) * 0x9E3779B97F4A7C15ull;
    for (h = (h >> 20) & (slots - 1);; h = (h + 1) & (slots - 1))
      if (head[h] == kEmpty || static_cast<int64_t>(head[h] >> 32) == cellKey)
        return head[h];
  };
  auto lastAtom = [&](uint64_t entry) { return entry == kEmpty ? kNone : static_cast<size_t>(entry & 0xFFFFFFFFu); };
  std::vector<size_t> next(positions.size(), kNone), group(positions.size());
  for (size_t r = 0; r < positions.size(); r++) {
    int64_t cell[3];
    int lo[3], hi[3];
    for (size_t k = 0; k < 3; k++) {
      const double w = (positions[r][k] - std::floor(positions[r][k])) * static_cast<double>(kCells) + 0.5;
      cell[k] = static_cast<int64_t>(w);
      const double inside = w - static_cast<double>(cell[k]);
      if (cell[k] >= kCells)
        cell[k] -= kCells;
      lo[k] = inside < 0.1 ? -1 : 0;
      hi[k] = inside > 0.9 ? 1 : 0;
    }
    // The grid wraps with the cell (no division: a step is one cell).
    auto wrap = [](int64_t v) { return v < 0 ? v + kCells : v >= kCells ? v - kCells : v; };
    auto key = [&](int dx, int dy, int dz) {
      return (wrap(cell[0] + dx) * kCells + wrap(cell[1] + dy)) * kCells + wrap(cell[2] + dz);
    };
    size_t best = r;
    for (int dx = lo[0]; dx <= hi[0]; dx++)
      for (int dy = lo[1]; dy <= hi[1]; dy++)
        for (int dz = lo[2]; dz <= hi[2]; dz++)
          for (size_t other = lastAtom(slot(key(dx, dy, dz))); other != kNone; other = next[other])
            if (other < best && SamePosition(positions[other], positions[r]))
              best = other;
    group[r] = best;
    if (best != r)
      continue;
    const int64_t own = key(0, 0, 0);
    uint64_t &entry = slot(own);
    next[r] = lastAtom(entry);
    entry = static_cast<uint64_t>(own) << 32 | r;
  }
  return group;
}

MixedSite JoinAtOnePlace(std::span<const std::pair<ElementCode, double>> atoms) {
  MixedSite site;
  for (const auto &[element, occupancy] : atoms) {
    site.sum += occupancy;
    auto it = std::find_if(site.parts.begin(), site.parts.end(), [&](const auto &p) { return p.first == element; });
    if (it == site.parts.end())
      site.parts.emplace_back(element, occupancy);
    else
      it->second += occupancy;
  }
  const bool overfilled = site.sum > 1.0 + kOccupancySumSlack;
  site.joined = atoms.size() > 1 && site.parts.size() <= static_cast<size_t>(kMaxSiteElements) &&
                (!overfilled || site.parts.size() == atoms.size());
  return site;
}

std::string MixedSiteWarning(const MixedSite &site, size_t atoms, std::string_view labels) {
  if (atoms < 2)
    return {};
  if (site.joined) {
    if (site.sum <= 1.0 + kOccupancySumSlack)
      return {};
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", site.sum);
    return "the atoms " + std::string(labels) + " at one position are one mixed site, but their occupancies sum to " +
           text + ".";
  }
  return "the atoms " + std::string(labels) + " stand at one position but " +
         (site.parts.size() > static_cast<size_t>(kMaxSiteElements) ? "hold more than three elements"
                                                                    : "their occupancies sum to more than 1") +
         "; they stay separate sites.";
}
