#include "FractionalPlaces.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// Grid cells per axis: each ten tolerances wide, so that a position looks
// into a neighbour cell only when it lies within the tolerance of the face
// between them. The grid is offset by half a cell, which keeps its faces off
// the usual special positions (0, 1/4, 1/2, ...).
constexpr int64_t kCells = static_cast<int64_t>(0.1 / kSamePlaceTolerance);
static_assert(kCells * kCells * kCells < (int64_t{1} << 30));
// How far into a cell (in cell widths) the tolerance reaches, with a margin
// far above the rounding of a double below 1.
constexpr double kReach = kSamePlaceTolerance * static_cast<double>(kCells) + 1e-6;

bool SameCoordinate(double a, double b) {
  const double d = a - b;
  return std::fabs(d - std::round(d)) < kSamePlaceTolerance;
}

} // namespace

bool SamePlace(const double a[3], const double b[3]) {
  return SameCoordinate(a[0], b[0]) && SameCoordinate(a[1], b[1]) && SameCoordinate(a[2], b[2]);
}

bool SameOperator(const GEP &a, const GEP &b, double tolerance) {
  if (!SymmOpsHaveSameRotation(a, b))
    return false;
  for (int i = 0; i < 3; i++) {
    const double d = a.translation[i] - b.translation[i];
    if (!(std::fabs(d - std::round(d)) < tolerance))
      return false;
  }
  return true;
}

GEP ComposeOperators(const GEP &a, const GEP &b) {
  GEP out;
  for (int i = 0; i < 3; i++) {
    double t = a.translation[i];
    for (int j = 0; j < 3; j++) {
      int r = 0;
      for (int k = 0; k < 3; k++)
        r += a.rotation[i][k] * b.rotation[k][j];
      out.rotation[i][j] = static_cast<int16_t>(r);
      t += a.rotation[i][j] * b.translation[j];
    }
    out.translation[i] = t;
  }
  return out;
}

OneAtomRule::OneAtomRule(double a, double b, double c, double alpha, double beta, double gamma) {
  const double rad = M_PI / 180.0;
  const double ca = std::cos(alpha * rad), cb = std::cos(beta * rad), cg = std::cos(gamma * rad);
  const double G[3][3] = {{a * a, a * b * cg, a * c * cb}, {a * b * cg, b * b, b * c * ca}, {a * c * cb, b * c * ca, c * c}};
  // The reciprocal metric's diagonal (cofactors over the determinant): the
  // squared inverse spacing of each axis's lattice planes.
  const double cof[3] = {G[1][1] * G[2][2] - G[1][2] * G[2][1], G[0][0] * G[2][2] - G[0][2] * G[2][0],
                         G[0][0] * G[1][1] - G[0][1] * G[1][0]};
  const double det = G[0][0] * cof[0] + G[0][1] * (G[1][2] * G[2][0] - G[1][0] * G[2][2]) +
                     G[0][2] * (G[1][0] * G[2][1] - G[1][1] * G[2][0]);
  if (!(det > 0.0) || !std::isfinite(det))
    return;
  for (int i = 0; i < 3; i++) {
    const double spacing = std::sqrt(det / cof[i]);
    if (!(spacing > 0.0) || !std::isfinite(spacing))
      return;
  }
  cell_ = true;
  for (int i = 0; i < 3; i++) {
    for (int j = 0; j < 3; j++)
      G_[i][j] = G[i][j];
    const double spacing = std::sqrt(det / cof[i]);
    reach_[i] = std::max(kSamePlaceTolerance, kSameAtomDistance / spacing);
    // In single precision with a margin above the rounding of a float
    // difference below 1, so that the first test parts no pair the
    // distance would join.
    reachF_[i] = std::max(kSymmetryTolerance, static_cast<float>(reach_[i] * (1.0 + 1e-6) + 1e-6));
  }
}

double OneAtomRule::DistanceSquared(double d0, double d1, double d2) const {
  const double d[3] = {d0 - std::round(d0), d1 - std::round(d1), d2 - std::round(d2)};
  double sum = 0.0;
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++)
      sum += d[i] * G_[i][j] * d[j];
  return sum;
}

bool OneAtomRule::Same(const double a[3], const double b[3]) const {
  if (SamePlace(a, b))
    return true;
  if (!cell_)
    return false;
  const double d[3] = {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
  for (int i = 0; i < 3; i++)
    if (!(std::fabs(d[i] - std::round(d[i])) < reach_[i]))
      return false;
  return DistanceSquared(d[0], d[1], d[2]) < kSameAtomDistance * kSameAtomDistance;
}

int OperatorsFixing(std::span<const GEP> ops, const double xyz[3], const OneAtomRule &rule) {
  int fixing = 0;
  for (const GEP &op : ops) {
    double image[3];
    ApplyOperator(op, xyz, image);
    fixing += rule.Same(image, xyz) ? 1 : 0;
  }
  return fixing;
}

int OperatorsFixing(std::span<const GEP> ops, const float xyz[3], const float originShift[3],
                    const OneAtomRule &rule) {
  const double at[3] = {xyz[0], xyz[1], xyz[2]};
  int fixing = 0;
  for (const GEP &op : ops) {
    double image[3];
    ApplySymmetryOperator(op, xyz, originShift, image);
    fixing += rule.Same(image, at) ? 1 : 0;
  }
  return fixing;
}

void ApplyOperator(const GEP &op, const double xyz[3], double out[3]) {
  for (int i = 0; i < 3; i++)
    out[i] = op.rotation[i][0] * xyz[0] + op.rotation[i][1] * xyz[1] + op.rotation[i][2] * xyz[2] + op.translation[i];
}

int SiteImageCount(std::span<const GEP> ops, const double xyz[3], const OneAtomRule &rule) {
  return static_cast<int>(ops.size()) / std::max(OperatorsFixing(ops, xyz, rule), 1);
}

FractionalPlaces::FractionalPlaces(size_t expected) {
  places_.reserve(expected);
  ReserveKeys(expected);
}

void FractionalPlaces::ReserveKeys(size_t expected) {
  size_t slots = 16;
  while (slots < 2 * expected)
    slots *= 2;
  slots_.assign(slots, Slot{0, kEnd});
}

FractionalPlaces::Cell FractionalPlaces::CellOf(const double xyz[3]) {
  Cell cell{};
  for (int k = 0; k < 3; k++) {
    // A coordinate that is no number finds no place (SamePlace is false) and
    // may stand in any cell.
    const double x = std::isfinite(xyz[k]) ? xyz[k] : 0.0;
    const double w = (x - std::floor(x)) * static_cast<double>(kCells) + 0.5;
    const int64_t i = static_cast<int64_t>(w);
    const double inside = w - static_cast<double>(i);
    // A wrapped value rounded up to 1 is the cell's first.
    cell.index[k] = i >= kCells ? i - kCells : i;
    cell.lo[k] = inside < kReach ? -1 : 0;
    cell.hi[k] = inside > 1.0 - kReach ? 1 : 0;
  }
  return cell;
}

uint32_t FractionalPlaces::Key(const int64_t index[3], uint32_t kind) {
  return static_cast<uint32_t>((index[0] * kCells + index[1]) * kCells + index[2]) ^ (kind * 0x9E3779B9u);
}

namespace {
// GroupAtOnePlace readies the table this many positions ahead, where the
// table is larger than this (a core's own cache holds a smaller one).
constexpr size_t kPlacesReadAhead = 16;
constexpr size_t kPlacesReadAheadFromBytes = size_t{1} << 20;
size_t SlotOfKey(uint32_t key, size_t mask) { return static_cast<size_t>(key * 0x9E3779B97F4A7C15ull >> 20) & mask; }
} // namespace

uint32_t FractionalPlaces::Head(uint32_t key) const {
  const size_t mask = slots_.size() - 1;
  for (size_t h = SlotOfKey(key, mask);; h = (h + 1) & mask)
    if (const Slot slot = slots_[h]; slot.head == kEnd || slot.key == key)
      return slot.head;
}

uint32_t &FractionalPlaces::HeadOf(uint32_t key) {
  const size_t mask = slots_.size() - 1;
  for (size_t h = SlotOfKey(key, mask);; h = (h + 1) & mask)
    if (Slot &slot = slots_[h]; slot.head == kEnd || slot.key == key) {
      slot.key = key;
      return slot.head;
    }
}

void FractionalPlaces::Grow() {
  std::vector<Slot> old(slots_.size() * 2, Slot{0, kEnd});
  slots_.swap(old);
  for (const Slot &slot : old)
    if (slot.head != kEnd)
      HeadOf(slot.key) = slot.head;
}

size_t FractionalPlaces::Find(const double xyz[3], uint32_t kind) const { return FindFrom(CellOf(xyz), xyz, kind); }

template <typename Chain>
[[gnu::always_inline]] inline size_t FractionalPlaces::Earliest(const Cell &cell, uint32_t kind, Chain &&chain) const {
  auto wrap = [](int64_t v) { return v < 0 ? v + kCells : v >= kCells ? v - kCells : v; };
  size_t best = kNone;
  for (int dx = cell.lo[0]; dx <= cell.hi[0]; dx++)
    for (int dy = cell.lo[1]; dy <= cell.hi[1]; dy++)
      for (int dz = cell.lo[2]; dz <= cell.hi[2]; dz++) {
        const int64_t index[3] = {wrap(cell.index[0] + dx), wrap(cell.index[1] + dy), wrap(cell.index[2] + dz)};
        chain(Head(Key(index, kind)), best);
      }
  return best;
}

size_t FractionalPlaces::FindFrom(const Cell &cell, const double xyz[3], uint32_t kind) const {
  return Earliest(cell, kind, [&](uint32_t head, size_t &best) {
    for (uint32_t p = head; p != kEnd; p = places_[p].next)
      if (p < best && places_[p].kind == kind && SamePlace(places_[p].xyz.data(), xyz))
        best = p;
  });
}

inline uint32_t &FractionalPlaces::NewHead(const Cell &cell, uint32_t kind) {
  if (2 * (used_ + 1) > slots_.size())
    Grow();
  uint32_t &head = HeadOf(Key(cell.index, kind));
  used_ += head == kEnd ? 1 : 0;
  return head;
}

std::pair<size_t, bool> FractionalPlaces::Insert(const double xyz[3], uint32_t kind) {
  const Cell cell = CellOf(xyz);
  if (const size_t found = FindFrom(cell, xyz, kind); found != kNone)
    return {found, false};
  return {Append(cell, xyz, kind), true};
}

size_t FractionalPlaces::Add(const double xyz[3], uint32_t kind) { return Append(CellOf(xyz), xyz, kind); }

size_t FractionalPlaces::Append(const Cell &cell, const double xyz[3], uint32_t kind) {
  // A place's number must stay below kEnd.
  if (places_.size() >= kEnd)
    throw std::bad_alloc();
  uint32_t &head = NewHead(cell, kind);
  const auto place = static_cast<uint32_t>(places_.size());
  places_.push_back({{xyz[0], xyz[1], xyz[2]}, kind, head});
  head = place;
  return place;
}

int FractionalPlaces::HeadsNear(const double xyz[3], uint32_t kind, uint32_t heads[8]) const {
  int chains = 0;
  Earliest(CellOf(xyz), kind, [&](uint32_t head, size_t &) {
    // Two cells' keys may share a chain, which is walked once.
    if (head != kEnd && std::find(heads, heads + chains, head) == heads + chains)
      heads[chains++] = head;
  });
  return chains;
}

void FractionalPlaces::Prefetch(const double xyz[3], uint32_t kind) const {
  __builtin_prefetch(&slots_[SlotOfKey(Key(CellOf(xyz).index, kind), slots_.size() - 1)]);
}

std::vector<size_t> GroupAtOnePlace(std::span<const std::array<double, 3>> positions) {
  // A position's number must stay below kEnd.
  if (positions.size() >= FractionalPlaces::kEnd)
    throw std::bad_alloc();
  FractionalPlaces places; // its key table alone: the places are positions
  places.ReserveKeys(positions.size());
  // The place opened before each opening position in its chain.
  std::vector<uint32_t> next(positions.size());
  std::vector<size_t> group(positions.size());
  const bool ahead = places.TableBytes() > kPlacesReadAheadFromBytes;
  for (size_t r = 0; r < positions.size(); r++) {
    if (ahead && r + kPlacesReadAhead < positions.size())
      places.Prefetch(positions[r + kPlacesReadAhead].data());
    const double *xyz = positions[r].data();
    const FractionalPlaces::Cell cell = FractionalPlaces::CellOf(xyz);
    const size_t found = places.Earliest(cell, 0, [&](uint32_t head, size_t &best) {
      for (uint32_t p = head; p != FractionalPlaces::kEnd; p = next[p])
        if (p < best && SamePlace(positions[p].data(), xyz))
          best = p;
    });
    if (found != FractionalPlaces::kNone) {
      group[r] = found;
      continue;
    }
    uint32_t &head = places.NewHead(cell, 0);
    next[r] = head;
    head = static_cast<uint32_t>(r);
    group[r] = r;
  }
  return group;
}
