#include "SiteNeighbourIndex.h"

#include "Geometry.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "VectorMath.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// A site search never walks more cell translations (times the site's
// first-cell atoms) than this: beyond it the distance asked for is out of
// all proportion to the cell.
constexpr double kMaxSiteSearchTranslations = 1e8;
// The neighbour list is asked this much farther (A), and this share of the
// positions' size farther still, than the sphere's reach, so that the
// single-precision distance the site search judges by never lies within the
// reach for an image the list, measuring in double, left out.
constexpr double kReachMargin = 1e-3;
constexpr double kReachMarginShare = 1e-5;

// The translations T a site's walk about `origin` takes along axis i: from
// ceil(origin - reach - uMax) to floor(origin + reach - uMin), so that every
// image u + T within the reach is among them.
double FirstTranslation(double origin, double reach, double uMax) { return std::ceil(origin - reach - uMax); }
double LastTranslation(double origin, double reach, double uMin) { return std::floor(origin + reach - uMin); }

} // namespace

bool ElementWanted(ElementCode element, const ElementCode *elements, int32_t elementCount) {
  if (!elements || elementCount < 1)
    return true;
  return std::find(elements, elements + elementCount, element) != elements + elementCount;
}

SiteNeighbourIndex::SiteNeighbourIndex(const CrystalRec &c, float maximum, const ElementCode *elements,
                                       int32_t elementCount)
    : maximum_(maximum) {
  if (!std::isfinite(maximum))
    return;
  CrystalRec &writable = const_cast<CrystalRec &>(c); // DSpace reads only
  d100_[0] = DSpace(&writable, 1, 0, 0);
  d100_[1] = DSpace(&writable, 0, 1, 0);
  d100_[2] = DSpace(&writable, 0, 0, 1);
  if (!(d100_[0] > 0.0f && d100_[1] > 0.0f && d100_[2] > 0.0f))
    return;
  CellFrame frame;
  if (!CellFrameOfMatrix(c.orientationMatrix, frame))
    return;
  double reach[3];
  for (int i = 0; i < 3; i++)
    reach[i] = std::fabs(double(maximum)) / double(d100_[i]);
  try {
    const size_t nSites = UsableSiteSize(c), nAtoms = UsableAtomSize(c);
    spans_.resize(nSites);
    std::vector<NeighbourMarkInput> marks;
    for (size_t t = 0; t < nSites; t++) {
      const AsymmetricUnitRecord &site = c.sites[t];
      if (!ElementWanted(site.elements[0], elements, elementCount) || site.firstAtom < 0 || site.atomsPerCell < 1 ||
          static_cast<size_t>(site.firstAtom) >= nAtoms)
        continue;
      const size_t first = static_cast<size_t>(site.firstAtom);
      const size_t end = std::min(nAtoms, first + static_cast<size_t>(site.atomsPerCell));
      SiteSpan &span = spans_[t];
      span.atoms = static_cast<uint32_t>(end - first);
      for (int i = 0; i < 3; i++)
        span.uMin[i] = span.uMax[i] = c.atoms[first].xyz[i];
      for (size_t a = first; a < end; a++) {
        NeighbourMarkInput m;
        for (int i = 0; i < 3; i++) {
          const double u = c.atoms[a].xyz[i];
          if (!std::isfinite(u) || std::fabs(u) > stored::kFinite.high)
            return;
          span.uMin[i] = std::min(span.uMin[i], u);
          span.uMax[i] = std::max(span.uMax[i], u);
          m.xyz[i] = u;
        }
        m.mark.atom = static_cast<uint32_t>(a);
        m.mark.site = static_cast<uint32_t>(t);
        marks.push_back(m);
      }
      // Per axis the walk takes at most 2 reach + spread + 1 translations,
      // wherever the centre: only beyond that bound must a search count them.
      double most = double(span.atoms);
      for (int i = 0; i < 3; i++)
        most *= 2.0 * reach[i] + (span.uMax[i] - span.uMin[i]) + 1.0;
      mayRefuse_ = mayRefuse_ || !(most <= kMaxSiteSearchTranslations);
    }
    list_.emplace(frame, marks, std::fabs(double(maximum)));
    if (!list_->Valid())
      return;
  } catch (const std::bad_alloc &) {
    return;
  }
  valid_ = true;
}

bool SiteNeighbourIndex::WalkRefused(const float origin[3], const double reach[3]) const {
  for (const SiteSpan &span : spans_) {
    if (span.atoms == 0)
      continue;
    double translations = double(span.atoms);
    for (int i = 0; i < 3; i++) {
      const double lo = FirstTranslation(double(origin[i]), reach[i], span.uMax[i]);
      const double hi = LastTranslation(double(origin[i]), reach[i], span.uMin[i]);
      translations *= std::max(0.0, hi - lo + 1.0);
    }
    if (!(translations <= kMaxSiteSearchTranslations))
      return true;
  }
  return false;
}

uint32_t SiteNeighbourIndex::Search(CrystalRec &c, uint32_t s, float minimum, float maximum, BondSearchResult *results,
                                    uint32_t capacity) {
  if (!valid_ || !results || capacity == 0 || !(std::fabs(maximum) <= std::fabs(maximum_)))
    return 0;
  const size_t nSites = UsableSiteSize(c), nAtoms = UsableAtomSize(c);
  if (s >= nSites || s >= spans_.size())
    return 0;
  const int32_t originAtom = c.sites[s].firstAtom;
  if (originAtom < 0 || static_cast<size_t>(originAtom) >= nAtoms)
    return 0;
  float origin[3], originCart[3];
  CopyVector(origin, c.atoms[static_cast<size_t>(originAtom)].xyz);
  MatMul(c.orientationMatrix, origin, originCart);
  double reach[3];
  for (int i = 0; i < 3; i++)
    reach[i] = std::fabs(double(maximum)) / double(d100_[i]);
  // A site that would take too many translations ends the search with
  // nothing, before the list is asked to walk them.
  if (mayRefuse_ && WalkRefused(origin, reach))
    return 0;
  const double point[3] = {origin[0], origin[1], origin[2]};
  const double size = std::fabs(double(originCart[0])) + std::fabs(double(originCart[1])) +
                      std::fabs(double(originCart[2])) + std::fabs(double(maximum));
  try {
    if (list_->Visit(point, std::fabs(double(maximum)) + kReachMargin + kReachMarginShare * size, hits_) !=
        NeighbourStatus::kDone)
      return 0;
  } catch (const std::bad_alloc &) {
    return 0;
  }
  const float max2 = maximum * maximum;
  const float min2 = minimum * minimum;
  found_.clear();
  for (const NeighbourHit &h : hits_) {
    const NeighbourMark &e = list_->Mark(h.mark);
    const SiteSpan &span = spans_[e.site];
    bool walked = true;
    for (int i = 0; i < 3 && walked; i++) {
      const double t = double(h.shift[i]);
      walked = t >= FirstTranslation(double(origin[i]), reach[i], span.uMax[i]) &&
               t <= LastTranslation(double(origin[i]), reach[i], span.uMin[i]);
    }
    if (!walked)
      continue;
    const float shiftF[3] = {static_cast<float>(h.shift[0]), static_cast<float>(h.shift[1]),
                             static_cast<float>(h.shift[2])};
    float image[3], cart[3];
    VecAdd(c.atoms[e.atom].xyz, shiftF, image);
    MatMul(c.orientationMatrix, image, cart);
    const float dx = cart[0] - originCart[0];
    const float dy = cart[1] - originCart[1];
    const float dz = cart[2] - originCart[2];
    const float d2 = dx * dx + dy * dy + dz * dz;
    if (d2 > max2 || d2 < min2)
      continue;
    if (e.site == s && d2 < kSelfImageDistanceSq)
      continue;
    Found f;
    f.result.site = static_cast<int32_t>(e.site);
    CopyVector(f.result.xyz, image);
    f.result.distance = std::sqrt(d2);
    std::copy(h.shift, h.shift + 3, f.shift);
    f.atom = e.atom;
    found_.push_back(f);
  }
  // The walk goes by site, then translation (a outermost), then atom; a
  // full list keeps the first it found.
  const auto walkOrder = [](const Found &x, const Found &y) {
    if (x.result.site != y.result.site)
      return x.result.site < y.result.site;
    for (int i = 0; i < 3; i++)
      if (x.shift[i] != y.shift[i])
        return x.shift[i] < y.shift[i];
    return x.atom < y.atom;
  };
  if (found_.size() > capacity) {
    std::nth_element(found_.begin(), found_.begin() + capacity, found_.end(), walkOrder);
    found_.resize(capacity);
  }
  std::sort(found_.begin(), found_.end(), [&](const Found &x, const Found &y) {
    if (x.result.distance != y.result.distance)
      return x.result.distance < y.result.distance;
    return walkOrder(x, y);
  });
  for (size_t k = 0; k < found_.size(); k++) {
    Found &f = found_[k];
    const float *image = f.result.xyz;
    f.result.esd = c.esdFlag
                       ? GetBondDistErr(&c, static_cast<int32_t>(s), f.result.site,
                                        double(origin[0]) - double(image[0]), double(origin[1]) - double(image[1]),
                                        double(origin[2]) - double(image[2]), double(f.result.distance))
                       : 0.0f;
    results[k] = f.result;
  }
  return static_cast<uint32_t>(found_.size());
}
