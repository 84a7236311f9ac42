#include "CoordinationNeighbours.h"

#include "CandidateIndex.h"
#include "CellFrame.h"
#include "Geometry.h"
#include "MemoryBudget.h"
#include "Polyhedra.h"
#include "VectorMath.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// The lists are asked this much farther (A), and this share of the
// positions' size farther still, than a bond's maximum: an image within the
// maximum by the single-precision test is never one they left out.
constexpr double kReachMargin = 0.01;
constexpr double kReachMarginShare = 1e-5;
// The order grid: about this many first-cell atoms to a cell, and at most
// this many cells along an axis. Which of a partner's places stands for it
// follows the order the grid's walk meets them in, and a reach whose box
// covers more of its cells than a search takes candidates has no answer.
constexpr double kAtomsPerOrderCell = 2.0;
constexpr int64_t kMaxOrderGrid = 64;
// A list (its extra cell each side of the reach's box) is refused where the
// box with it is too large.
constexpr double kListPadCells = 1.0;
// A kind's list numbers its atoms by bin from this many atoms, and the
// sites asked about are ordered by place from this many: fewer stay at hand
// in any order.
constexpr size_t kNumberedByBinFrom = 4096;
constexpr size_t kOrderedByPlaceFrom = 4096;
constexpr double kMaxBoxCells = static_cast<double>(kMaxTurboCandidates);
// A first-cell atom farther out than this (fractional) is in no list.
constexpr float kFarthestAtom = 1e6f;

uint32_t PairKey(ElementCode a, ElementCode b) {
  const uint32_t lo = std::min(a, b), hi = std::max(a, b);
  return (lo << 16) | hi;
}

} // namespace

CoordinationNeighbours::CoordinationNeighbours(const CrystalRec &c) {
  try {
    Build(c);
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    valid_ = false;
  }
}

void CoordinationNeighbours::Build(const CrystalRec &c) {
  const float d[3] = {DSpace(&c, 1.0f, 0.0f, 0.0f), DSpace(&c, 0.0f, 1.0f, 0.0f), DSpace(&c, 0.0f, 0.0f, 1.0f)};
  if (!(d[0] > 0.0f) || !(d[1] > 0.0f) || !(d[2] > 0.0f))
    return;
  CellFrame frame;
  if (!CellFrameOfMatrix(c.orientationMatrix, frame))
    return;
  for (int i = 0; i < 3; ++i)
    dSpacing_[i] = double(d[i]);
  std::copy(c.orientationMatrix, c.orientationMatrix + 9, orientation_);
  // The first specification naming a pair gives its maximum length; an
  // element reaches as far as the longest of them.
  const int32_t specCount = std::clamp(c.bondSpecCount, 0, kMaxBondSpecs);
  for (int32_t k = 0; k < specCount; ++k) {
    const BondSpec &b = c.bondSpecs[static_cast<size_t>(k)];
    if (!pairMax_.emplace(PairKey(b.elementA, b.elementB), b.maxLength).second)
      continue;
    for (ElementCode e : {b.elementA, b.elementB}) {
      auto [it, added] = reach_.emplace(e, b.maxLength);
      if (!added)
        it->second = std::max(it->second, b.maxLength);
    }
  }

  // The first-cell atoms of every site of a finite position, in site order.
  const int32_t siteCount = UsableSiteCount(c);
  const int32_t atomCount = UsableAtomCount(c);
  std::vector<Atom> inOrder;
  std::vector<uint32_t> atomOf, kindOf;
  sites_.resize(static_cast<size_t>(siteCount));
  for (int32_t t = 0; t < siteCount; ++t) {
    const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(t)];
    Site &kept = sites_[static_cast<size_t>(t)];
    std::copy(site.xyz, site.xyz + 3, kept.xyz);
    kept.element = site.elements[0];
    kept.coordination = site.coordination;
    const int64_t first = std::max<int64_t>(site.firstAtom, 0);
    const int64_t end = std::min<int64_t>(first + std::max(site.atomsPerCell, 0), atomCount);
    for (int64_t a = first; a < end; ++a) {
      const float *xyz = c.atoms[static_cast<size_t>(a)].xyz;
      bool finite = true;
      for (int i = 0; i < 3; ++i)
        finite = finite && std::isfinite(xyz[i]) && std::fabs(xyz[i]) < kFarthestAtom;
      if (!finite)
        continue;
      Atom &e = inOrder.emplace_back();
      std::copy(xyz, xyz + 3, e.xyz);
      e.order = static_cast<uint32_t>(inOrder.size() - 1);
      e.site = e.partnerSite = static_cast<uint32_t>(t);
      e.row = NeighbourMark::kNone;
      atomOf.push_back(static_cast<uint32_t>(a));
      const ElementCode element = site.elements[0];
      auto kind = std::find(kinds_.begin(), kinds_.end(), element);
      if (kind == kinds_.end())
        kind = kinds_.insert(kinds_.end(), element);
      kindOf.push_back(static_cast<uint32_t>(kind - kinds_.begin()));
    }
  }
  orderGrid_ = std::clamp<int64_t>(static_cast<int64_t>(std::cbrt(double(inOrder.size()) / kAtomsPerOrderCell)), 1,
                                   kMaxOrderGrid);
  // Each atom's cell of the order grid, unwrapped.
  for (Atom &e : inOrder)
    for (int i = 0; i < 3; ++i) {
      const float whole = std::floor(e.xyz[i]);
      const double wrapped = double(e.xyz[i]) - double(whole);
      const int64_t cell = std::clamp<int64_t>(static_cast<int64_t>(wrapped * double(orderGrid_)), 0, orderGrid_ - 1);
      e.fileCell[i] = static_cast<int32_t>(cell + static_cast<int64_t>(whole) * orderGrid_);
    }

  // Alternatives are judged as the coordination count judges them.
  alternatives_ = c.derived.Alternatives(c);
  if (!alternatives_->Any())
    alternatives_.reset();
  // Each atom's partner site, and whether it may be an alternative of
  // another (its row is made once the atoms are in their lists' order).
  std::vector<uint8_t> mayBeApart(inOrder.size(), 0);
  if (alternatives_)
    for (size_t k = 0; k < inOrder.size(); ++k) {
      const uint32_t known = alternatives_->AtomSite(atomOf[k]);
      inOrder[k].partnerSite = known != SiteAlternatives::kNoSite ? known : c.atoms[atomOf[k]].site;
      mayBeApart[k] = known != SiteAlternatives::kNoSite && alternatives_->SiteMayBeApart(known);
    }

  // One list per kind that some kind bonds with, its bins sized for the
  // shortest such bond.
  const size_t kinds = kinds_.size();
  std::vector<double> binReach(kinds, -1.0);
  for (size_t from = 0; from < kinds; ++from)
    for (size_t to = 0; to < kinds; ++to) {
      const auto it = pairMax_.find(PairKey(kinds_[from], kinds_[to]));
      if (it == pairMax_.end() || !(it->second >= 0.0f))
        continue;
      double &r = binReach[to];
      r = r < 0.0 ? double(it->second) : std::min(r, double(it->second));
    }
  std::vector<std::vector<uint32_t>> ofKind(kinds);
  for (size_t k = 0; k < inOrder.size(); ++k)
    if (binReach[kindOf[k]] >= 0.0)
      ofKind[kindOf[k]].push_back(static_cast<uint32_t>(k));
  lists_.resize(kinds);
  kindStart_.assign(kinds, 0);
  std::vector<NeighbourMarkInput> marks;
  for (size_t kind = 0; kind < kinds; ++kind) {
    if (ofKind[kind].empty())
      continue;
    marks.clear();
    for (uint32_t k : ofKind[kind]) {
      NeighbourMarkInput &m = marks.emplace_back();
      m.mark.atom = k;
      m.mark.site = inOrder[k].site;
      m.mark.kind = static_cast<uint32_t>(kind);
      for (int i = 0; i < 3; ++i)
        m.xyz[i] = double(inOrder[k].xyz[i]);
    }
    PeriodicNeighbours &list = lists_[kind].emplace(frame, marks, binReach[kind]);
    // The kind's atoms kept in the list's order: a visit's hits are read
    // from near each other (where there are too many to stay at hand).
    if (marks.size() >= kNumberedByBinFrom)
      list.NumberMarksByBin();
    kindStart_[kind] = static_cast<uint32_t>(atoms_.size());
    for (uint32_t m = 0; m < marks.size(); ++m) {
      const uint32_t k = list.Mark(m).atom;
      Atom &e = atoms_.emplace_back(inOrder[k]);
      if (mayBeApart[k]) {
        e.row = static_cast<uint32_t>(rows_.size());
        alternatives_->PlaceOf(atomOf[k], &rows_.emplace_back());
      }
    }
  }
  valid_ = true;
}

const CoordinationNeighbours::Reaches *CoordinationNeighbours::ReachesOf(ElementCode element) {
  if (lastReaches_ && lastElement_ == element)
    return lastReaches_;
  auto [it, added] = reaches_.try_emplace(element);
  if (added) {
    const auto reach = reach_.find(element);
    if (reach == reach_.end())
      return nullptr;
    Reaches &r = it->second.emplace();
    r.reach = reach->second;
    for (int i = 0; i < 3; ++i)
      r.fractional[i] = double(r.reach) / dSpacing_[i] + kCoordinatingReachMargin;
    for (int padded = 0; padded < 2; ++padded) {
      double most = 1.0;
      for (int i = 0; i < 3; ++i)
        most *= 2.0 * r.fractional[i] * double(orderGrid_) + 2.0 + 2.0 * (padded ? kListPadCells : 0.0);
      r.anyBoxTaken[padded] = most <= kMaxBoxCells;
    }
    r.maxOf.resize(kinds_.size());
    for (size_t k = 0; k < kinds_.size(); ++k) {
      const auto dmax = pairMax_.find(PairKey(element, kinds_[k]));
      r.maxOf[k] = dmax == pairMax_.end() ? -1.0f : dmax->second;
    }
  }
  lastElement_ = element;
  lastReaches_ = it->second ? &*it->second : nullptr;
  return lastReaches_;
}

bool CoordinationNeighbours::BoxTaken(const float xyz[3], const Reaches &reaches, double pad) const {
  // A box spans at most 2 f g + 2 cells along an axis and the pad each
  // side: where that many are taken, any finite position's box is.
  const double *fractional = reaches.fractional;
  if (reaches.anyBoxTaken[pad > 0.0 ? 1 : 0])
    return std::isfinite(xyz[0]) && std::isfinite(xyz[1]) && std::isfinite(xyz[2]);
  double cells = 1.0;
  for (int i = 0; i < 3; ++i) {
    const double from = std::floor((double(xyz[i]) - fractional[i]) * double(orderGrid_)) - pad;
    const double to = std::floor((double(xyz[i]) + fractional[i]) * double(orderGrid_)) + pad;
    if (!std::isfinite(from) || !std::isfinite(to) || !(to - from < kMaxBoxCells))
      return false;
    cells *= to - from + 1.0;
    if (!(cells <= kMaxBoxCells))
      return false;
  }
  return true;
}

int32_t CoordinationNeighbours::List(const CrystalRec &c, uint32_t s, std::vector<int32_t> *sites, bool *limitHit,
                                     std::vector<uint32_t> *marks) {
  bool ownElement = false;
  const int32_t listed = Listed(c, s, kListPadCells, sites, limitHit, &ownElement, false);
  if (ownElement && marks && s < marks->size())
    (*marks)[s] = kPolyModeAtomWireBonds;
  return listed;
}

int32_t CoordinationNeighbours::ListWithoutModes(const CrystalRec &c, uint32_t s, std::vector<int32_t> *sites,
                                                 bool *limitHit) {
  return Listed(c, s, 0.0, sites, limitHit, nullptr, !sites);
}

int32_t CoordinationNeighbours::Listed(const CrystalRec &c, uint32_t s, double pad, std::vector<int32_t> *sites,
                                       bool *limitHit, bool *ownElement, bool stopBeyondLimit) {
  *limitHit = false;
  if (ownElement)
    *ownElement = false;
  if (sites)
    sites->clear();
  if (s >= sites_.size() || !Count(c, s, pad, stopBeyondLimit ? sites_[s].coordination : UINT32_MAX))
    return 0;
  const ElementCode elementS = sites_[s].element;
  // In site order, each site once per image, up to the coordination number
  // (without a list, the count and the cut come out the same in any order).
  if (sites || ownElement)
    std::sort(touched_.begin(), touched_.end());
  const uint32_t limit = sites_[s].coordination;
  int32_t listed = 0;
  for (uint32_t t : touched_) {
    uint32_t n = counts_[t];
    counts_[t] = 0;
    if (*limitHit)
      continue;
    if (static_cast<uint32_t>(listed) + n > limit) {
      n = limit - static_cast<uint32_t>(listed);
      *limitHit = true;
    }
    if (n == 0)
      continue;
    if (sites)
      sites->insert(sites->end(), n, static_cast<int32_t>(t));
    listed += static_cast<int32_t>(n);
    if (ownElement)
      *ownElement = *ownElement || sites_[t].element == elementS;
  }
  return listed;
}

bool CoordinationNeighbours::Count(const CrystalRec &c, uint32_t s, double pad, uint32_t stopAbove) {
  touched_.clear();
  met_.clear();
  const int32_t siteCount = UsableSiteCount(c);
  if (!valid_ || s >= static_cast<uint32_t>(siteCount))
    return false;
  const Site &origin = sites_[s];
  const Reaches *reaches = ReachesOf(origin.element);
  if (!reaches || !BoxTaken(origin.xyz, *reaches, pad))
    return false;
  counts_.resize(static_cast<size_t>(siteCount), 0);
  const float *O = orientation_;
  float originCart[3];
  MatMul(O, origin.xyz, originCart);
  const double point[3] = {origin.xyz[0], origin.xyz[1], origin.xyz[2]};
  const double size = std::fabs(double(originCart[0])) + std::fabs(double(originCart[1])) +
                      std::fabs(double(originCart[2])) + double(reaches->reach);
  const double margin = kReachMargin + kReachMarginShare * size;
  const double selfSq = double(kCoordinatingSelfDistance) * double(kCoordinatingSelfDistance);
  uint32_t counted = 0;
  for (size_t kind = 0; kind < kinds_.size(); ++kind) {
    const float dmax = reaches->maxOf[kind];
    if (!(dmax >= 0.0f) || !lists_[kind])
      continue;
    lists_[kind]->VisitUnordered(point, double(dmax) + margin, hits_);
    const double dmaxSq = double(dmax) * double(dmax);
    for (const NeighbourHit &h : hits_) {
      const Atom &e = atoms_[kindStart_[kind] + h.mark];
      // The image's Cartesian position as the single-precision search
      // places it: its fractional coordinates moved by whole cells.
      const float image[3] = {e.xyz[0] + static_cast<float>(h.shift[0]), e.xyz[1] + static_cast<float>(h.shift[1]),
                              e.xyz[2] + static_cast<float>(h.shift[2])};
      float place[3], d[3];
      MatMul(O, image, place);
      VecDiff(place, originCart, d);
      const double distSq = double(d[0]) * d[0] + double(d[1]) * d[1] + double(d[2]) * d[2];
      if (std::fabs(d[0]) > dmax || std::fabs(d[1]) > dmax || std::fabs(d[2]) > dmax || distSq > dmaxSq)
        continue;
      if (e.site == s && distSq < selfSq)
        continue;
      // An atom that is no alternative of any is a partner of its own; the
      // others are counted once all are met.
      if (e.row != NeighbourMark::kNone) {
        met_.push_back(
            {{e.fileCell[0] + int64_t{h.shift[0]} * orderGrid_, e.fileCell[1] + int64_t{h.shift[1]} * orderGrid_,
              e.fileCell[2] + int64_t{h.shift[2]} * orderGrid_, e.order},
             e.row,
             {place[0], place[1], place[2]}});
      } else {
        Touch(alternatives_ ? e.partnerSite : e.site);
        ++counted;
      }
      // Past the limit the sum alone is read: the alternatives met make
      // one partner at least.
      if (counted + (met_.empty() ? 0 : 1) > stopAbove) {
        if (!met_.empty())
          Touch(e.partnerSite);
        met_.clear();
        return true;
      }
    }
  }
  if (met_.empty())
    return true;
  // However the alternatives met join, they make no more partners than
  // atoms: the count does not pass the limit.
  if (stopAbove != UINT32_MAX && counted + met_.size() <= stopAbove) {
    met_.clear();
    return true;
  }
  // Which of a partner's places stands for it hangs on their order: that of
  // a walk of the order grid's cells (a slowest), then site order.
  std::sort(met_.begin(), met_.end(), [](const Alternative &a, const Alternative &b) { return a.order < b.order; });
  metRows_.resize(met_.size());
  for (size_t k = 0; k < met_.size(); ++k)
    metRows_[k] = {rows_[met_[k].row], met_[k].place, static_cast<uint32_t>(k)};
  CountPartnerPlaces(*alternatives_, metRows_, metRows_.size(), &stands_);
  for (size_t k = 0; k < metRows_.size(); ++k)
    if (stands_[k] == k)
      Touch(metRows_[k].row.site);
  met_.clear();
  return true;
}

void CoordinationNeighbours::OrderByPlace(std::vector<uint32_t> &sites) const {
  if (sites.size() < kOrderedByPlaceFrom)
    return;
  // Buckets of the order grid's cells two a side, a slowest, filled in the
  // sites' order: a counting sort.
  const int64_t grid = std::max<int64_t>(1, orderGrid_ / 2);
  auto bucketOf = [&](uint32_t s) {
    size_t bucket = 0;
    for (int i = 0; i < 3; ++i) {
      const double x = s < sites_.size() ? double(sites_[s].xyz[i]) : 0.0;
      const double wrapped = std::isfinite(x) ? x - std::floor(x) : 0.0;
      bucket = bucket * static_cast<size_t>(grid) +
               static_cast<size_t>(std::clamp<int64_t>(static_cast<int64_t>(wrapped * double(grid)), 0, grid - 1));
    }
    return static_cast<uint32_t>(bucket);
  };
  std::vector<uint32_t> start(static_cast<size_t>(grid * grid * grid) + 1, 0);
  std::vector<uint32_t> bucket(sites.size());
  for (size_t k = 0; k < sites.size(); ++k)
    ++start[(bucket[k] = bucketOf(sites[k])) + 1];
  for (size_t b = 1; b < start.size(); ++b)
    start[b] += start[b - 1];
  std::vector<uint32_t> ordered(sites.size());
  for (size_t k = 0; k < sites.size(); ++k)
    ordered[start[bucket[k]]++] = sites[k];
  sites = std::move(ordered);
}
