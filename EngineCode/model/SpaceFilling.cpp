#include "SpaceFilling.h"

#include "Geometry.h"

#include "AutoBonds.h"
#include "BondSearch.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "VectorMath.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

namespace {

// ---- Filled volume -----------------------------------------------------------------

// The volume of the cap of sphere 1 (radius r1) that lies beyond the plane
// where it meets sphere 2 (radius r2) at distance d. The cap height is kept
// within [0, 2 r1]: a sphere wholly inside its neighbour loses all of itself,
// one that wholly holds its neighbour loses nothing (the neighbour loses all
// of its own), so the pair always counts as the volume of its union.
float SphereCapVolume(float r1, float r2, float d) {
  float h;
  if (d < kCoincidentSphereDistance) {
    h = r1 < r2 ? 2.0f * r1 : (r1 > r2 ? 0.0f : r1);
  } else {
    h = r1 * (1.0f - (d * d + r1 * r1 - r2 * r2) / (2.0f * d * r1));
    h = std::clamp(h, 0.0f, 2.0f * r1);
  }
  return kSphereCapFactor * h * h * (3.0f * r1 - h);
}

// A fractional coordinate wrapped once, as the extended cell range wraps its
// candidates: below 0 it gains 1, then above 1 it loses 1.
float WrapOnce(float x) {
  if (x < 0.0f)
    x += 1.0f;
  if (x > 1.0f)
    x -= 1.0f;
  return x;
}

// ---- Void search ----------------------------------------------------------------------

struct GridCell {
  uint8_t filled = 0;
  uint8_t visited = 0;
  float clearance = 0.0f; // A; negative inside an atom
};

struct AtomImage {
  float radius;
  float xyz[3];  // fractional
  float cart[3]; // view Cartesian
};

// The clearance of a point is the smallest distance to an atom image less its
// radius. Images are binned in cubes of side h; bins are searched in rings of
// growing Chebyshev distance around the point's bin, and the search ends as
// soon as no image in a ring still to come could give less (every such image
// is at least ring x h away). The result is the exact minimum over all
// images; a negative value ends the search at once (the point is filled).
class ImageBins {
public:
  bool Build(const std::vector<AtomImage> &images) {
    if (images.empty())
      return false;
    float lo[3], hi[3];
    CopyVector(lo, images[0].cart);
    CopyVector(hi, images[0].cart);
    rMax_ = 0.0f;
    for (const AtomImage &im : images) {
      for (int i = 0; i < 3; i++) {
        lo[i] = std::min(lo[i], im.cart[i]);
        hi[i] = std::max(hi[i], im.cart[i]);
      }
      rMax_ = std::max(rMax_, im.radius);
    }
    // About two images per bin, but never so many bins that memory runs away.
    double volume = 1.0;
    for (int i = 0; i < 3; i++)
      volume *= std::max(double(hi[i] - lo[i]), kMinExtent);
    h_ = std::max(std::cbrt(2.0 * volume / double(images.size())), kMinBinSide);
    for (;;) {
      size_t total = 1;
      for (int i = 0; i < 3; i++) {
        n_[i] = static_cast<int>(std::floor(double(hi[i] - lo[i]) / h_)) + 1;
        total *= static_cast<size_t>(n_[i]);
      }
      if (total <= 4 * images.size() + 64)
        break;
      h_ *= 1.25;
    }
    for (int i = 0; i < 3; i++)
      origin_[i] = lo[i];
    const size_t nBins = static_cast<size_t>(n_[0]) * size_t(n_[1]) * size_t(n_[2]);
    start_.assign(nBins + 1, 0);
    std::vector<uint32_t> binOf(images.size());
    for (size_t k = 0; k < images.size(); k++) {
      int b[3];
      BinOf(images[k].cart, b);
      binOf[k] = static_cast<uint32_t>(Index(b));
      start_[binOf[k] + 1]++;
    }
    for (size_t k = 0; k < nBins; k++)
      start_[k + 1] += start_[k];
    std::vector<uint32_t> fill(start_.begin(), start_.end() - 1);
    points_.resize(images.size());
    for (size_t k = 0; k < images.size(); k++) {
      Packed &p = points_[fill[binOf[k]]++];
      CopyVector(p.cart, images[k].cart);
      p.radius = images[k].radius;
    }
    return true;
  }

  float Clearance(const float p[3]) const {
    float best = kVoidNoClearance;
    int c[3];
    BinOf(p, c);
    const int maxRing = std::max({c[0], n_[0] - 1 - c[0], c[1], n_[1] - 1 - c[1], c[2], n_[2] - 1 - c[2]});
    for (int q = 0; q <= maxRing; q++) {
      for (int dz = -q; dz <= q; dz++) {
        const int z = c[2] + dz;
        if (z < 0 || z >= n_[2])
          continue;
        for (int dy = -q; dy <= q; dy++) {
          const int y = c[1] + dy;
          if (y < 0 || y >= n_[1])
            continue;
          const bool wholeRow = (dz == -q || dz == q || dy == -q || dy == q);
          const int step = wholeRow || q == 0 ? 1 : 2 * q;
          for (int dx = -q; dx <= q; dx += step) {
            const int x = c[0] + dx;
            if (x < 0 || x >= n_[0])
              continue;
            const int b[3] = {x, y, z};
            const size_t bin = Index(b);
            for (uint32_t k = start_[bin]; k < start_[bin + 1]; k++) {
              const Packed &im = points_[k];
              const float dxp = p[0] - im.cart[0];
              const float dyp = p[1] - im.cart[1];
              const float dzp = p[2] - im.cart[2];
              const float value = std::sqrt(dxp * dxp + dyp * dyp + dzp * dzp) - im.radius;
              if (value < best) {
                best = value;
                if (best < 0.0f)
                  return best;
              }
            }
          }
        }
      }
      // Every image not yet seen lies at least q h away.
      if (double(best) < double(q) * h_ - double(rMax_) - kBoundSlack)
        break;
    }
    return best;
  }

private:
  struct Packed {
    float cart[3];
    float radius;
  };
  static constexpr double kMinExtent = 1.0;   // A, for the bin-size estimate of a flat set
  static constexpr double kMinBinSide = 0.25; // A
  static constexpr double kBoundSlack = 1e-3; // A, covers the rounding of one clearance

  void BinOf(const float p[3], int b[3]) const {
    for (int i = 0; i < 3; i++) {
      const double v = std::floor((double(p[i]) - double(origin_[i])) / h_);
      b[i] = static_cast<int>(std::clamp(v, 0.0, double(n_[i] - 1)));
    }
  }
  size_t Index(const int b[3]) const {
    return (static_cast<size_t>(b[2]) * size_t(n_[1]) + size_t(b[1])) * size_t(n_[0]) + size_t(b[0]);
  }

  double h_ = 1.0;
  float rMax_ = 0.0f;
  float origin_[3] = {0.0f, 0.0f, 0.0f};
  int n_[3] = {1, 1, 1};
  std::vector<uint32_t> start_;
  std::vector<Packed> points_;
};

} // namespace

int GetCellVolumeFilled(CrystalRec *crystal, float *volume) {
  if (volume)
    *volume = 0.0f;
  if (!crystal || crystal->molecule)
    return 0;
  CrystalRec &c = *crystal;
  const size_t nSites = UsableSiteSize(c);
  const size_t nSpheres = UsableSphereSize(c);
  if (nSites == 0 || nSpheres == 0 || UsableAtomSize(c) == 0)
    return 0;
  for (size_t s = 0; s < nSites; s++)
    if (c.sites[s].visible && c.sites[s].atomType >= nSpheres)
      return 0;

  // Only neighbours that overlap matter, and no overlap reaches past r1 plus
  // the largest radius; nor does the search reach past the longest edge.
  const float longestEdge = std::max({c.a, c.b, c.c});
  float largestRadius = 0.0f;
  for (size_t s = 0; s < nSites; s++)
    if (c.sites[s].visible)
      largestRadius = std::max(largestRadius, c.spheres[c.sites[s].atomType].radius);
  const float reachLimit = std::min(longestEdge, 2.0f * largestRadius);

  // The images of every first-cell atom around the central cell of a block
  // wide enough for the longest reach; each site is searched from its first
  // atom placed in that cell.
  int32_t shift[3];
  CandidateIndex index;
  if (!TurboCentreShift(crystal, reachLimit, shift) ||
      !index.ExtendCellRange(crystal, 0, static_cast<int32_t>(nSites) - 1, reachLimit) || !index.SortByX())
    return 0;
  struct Neighbour {
    float distance;
    uint32_t site;
  };
  std::vector<Neighbour> neighbours;

  float total = 0.0f;
  bool ok = true;
  for (size_t s = 0; s < nSites && ok; s++) {
    const AsymmetricUnitRecord &site = c.sites[s];
    if (!site.visible || site.firstAtom < 0 || static_cast<size_t>(site.firstAtom) >= UsableAtomSize(c))
      continue;
    const float r1 = c.spheres[site.atomType].radius;
    float v = kSphereVolumeFactor * r1 * r1 * r1;
    const float reach = std::min(longestEdge, r1 + largestRadius);
    float q[3];
    float qCart[3];
    for (int i = 0; i < 3; i++)
      q[i] = WrapOnce(c.atoms[static_cast<size_t>(site.firstAtom)].xyz[i]) + static_cast<float>(shift[i]);
    MatMul(c.orientationMatrix, q, qCart);
    const float reach2 = reach * reach;
    const int32_t hits = index.BoxAtoms(qCart, reach);
    try {
      neighbours.clear();
      for (int32_t h = 0; h < hits; h++) {
        const TurboAtom &cand = index[index.Boxed()[static_cast<size_t>(h)]];
        const float dx = cand.xyz[0] - qCart[0];
        const float dy = cand.xyz[1] - qCart[1];
        const float dz = cand.xyz[2] - qCart[2];
        const float d2 = dx * dx + dy * dy + dz * dz;
        const uint32_t t = c.atoms[cand.atom].site;
        if (d2 > reach2 || (t == s && d2 < kSelfImageDistanceSq))
          continue;
        neighbours.push_back({std::sqrt(d2), t});
      }
    } catch (const std::bad_alloc &) {
      ok = false;
      break;
    }
    // Nearest first, as the site's neighbour list stands.
    std::stable_sort(neighbours.begin(), neighbours.end(),
                     [](const Neighbour &x, const Neighbour &y) { return x.distance < y.distance; });
    for (const Neighbour &nb : neighbours) {
      const AsymmetricUnitRecord &other = c.sites[nb.site];
      if (!other.visible)
        continue;
      const float r2 = c.spheres[other.atomType].radius;
      if (nb.distance < r1 + r2)
        v -= SphereCapVolume(r1, r2, nb.distance);
    }
    total += static_cast<float>(site.atomsPerCell) * v;
  }
  if (!ok)
    return 0;
  if (volume)
    *volume = total;
  return 1;
}

int GetMaxVoidSize(CrystalRec *crystal, float *filledVolume, float *radius, float centre[3]) {
  if (filledVolume)
    *filledVolume = 0.0f;
  if (radius)
    *radius = 0.0f;
  if (centre)
    ZeroVector(centre);
  if (!crystal || !CellIsValid(crystal))
    return 0;
  CrystalRec &c = *crystal;

  const float m = std::min({c.a, c.b, c.c});
  const int64_t na = static_cast<int64_t>(double(kVoidGridPointsPerEdge) * double(c.a) / double(m));
  const int64_t nb = static_cast<int64_t>(double(kVoidGridPointsPerEdge) * double(c.b) / double(m));
  const int64_t nc = static_cast<int64_t>(double(kVoidGridPointsPerEdge) * double(c.c) / double(m));
  if (na < 1 || nb < 1 || nc < 1)
    return 0;
  const double points = double(na) * double(nb) * double(nc);
  std::fprintf(stderr, "search grid size: %f Angstroms (%d x %d x %d = %d points)\n", double(c.a) / double(na),
               int(std::min<int64_t>(na, INT32_MAX)), int(std::min<int64_t>(nb, INT32_MAX)),
               int(std::min<int64_t>(nc, INT32_MAX)), int(std::min(points, double(INT32_MAX))));
  if (points > double(kMaxVoidGridPoints))
    return 0;
  const int64_t total = na * nb * nc;

  int32_t nOps = 0;
  std::optional<std::vector<GEP>> ops = GetCrystalGEPs(crystal, &nOps);
  if (!ops || nOps < 1)
    return 0;
  int32_t nCellSites = 0;
  std::optional<std::vector<AsymmetricUnitRecord>> cellSites = GenCellAU(crystal, &nCellSites);
  if (!cellSites || nCellSites < 1)
    return 0;
  const size_t nSpheres = UsableSphereSize(c);
  if (nSpheres == 0)
    return 0;

  std::vector<AtomImage> images;
  try {
    for (int32_t s = 0; s < nCellSites; s++) {
      const AsymmetricUnitRecord &site = (*cellSites)[static_cast<size_t>(s)];
      if (!site.visible)
        continue;
      if (site.atomType >= nSpheres)
        return 0;
      const float r = c.spheres[site.atomType].radius;
      for (int dx = -1; dx <= 1; dx++)
        for (int dy = -1; dy <= 1; dy++)
          for (int dz = -1; dz <= 1; dz++) {
            AtomImage im;
            im.radius = r;
            im.xyz[0] = site.xyz[0] + float(dx);
            im.xyz[1] = site.xyz[1] + float(dy);
            im.xyz[2] = site.xyz[2] + float(dz);
            MatMul(c.orientationMatrix, im.xyz, im.cart);
            images.push_back(im);
          }
    }
  } catch (const std::bad_alloc &) {
    return 0;
  }
  if (images.empty())
    return 0;

  std::vector<GridCell> grid;
  ImageBins bins;
  try {
    grid.resize(static_cast<size_t>(total));
    if (!bins.Build(images))
      return 0;
  } catch (const std::bad_alloc &) {
    return 0;
  }

  const float originShift[3] = {c.originShift[0], c.originShift[1], c.originShift[2]};
  for (int64_t ia = 0; ia < na; ia++) {
    for (int64_t ib = 0; ib < nb; ib++) {
      for (int64_t ic = 0; ic < nc; ic++) {
        const int64_t index = (ia * nb + ib) * nc + ic;
        GridCell &cell = grid[static_cast<size_t>(index)];
        if (cell.visited)
          continue;
        cell.visited = 1;
        const float xyz[3] = {float(ia) / float(na), float(ib) / float(nb), float(ic) / float(nc)};
        float cart[3];
        MatMul(c.orientationMatrix, xyz, cart);
        cell.clearance = bins.Clearance(cart);
        cell.filled = cell.clearance < 0.0f ? 1 : 0;

        for (int32_t g = 1; g < nOps; g++) {
          double image[3];
          ApplySymmetryOperator((*ops)[static_cast<size_t>(g)], xyz, originShift, image);
          float w[3];
          for (int i = 0; i < 3; i++)
            w[i] = MoveIntoCell(static_cast<float>(image[i]));
          const int64_t ja = static_cast<int64_t>(w[0] * float(na));
          const int64_t jb = static_cast<int64_t>(w[1] * float(nb));
          const int64_t jc = static_cast<int64_t>(w[2] * float(nc));
          const int64_t target = (ja * nb + jb) * nc + jc;
          if (ja < 0 || ja >= na || jb < 0 || jb >= nb || jc < 0 || jc >= nc) {
            std::fprintf(stderr,
                         "sphere override: for input ptX: {%f %f %f} no. %ld, ix = [%ld %ld %ld]; output x = {%f %f "
                         "%f} no. %ld, jx = [%ld %ld %ld]\n",
                         double(xyz[0]), double(xyz[1]), double(xyz[2]), long(index), long(ia), long(ib), long(ic),
                         double(w[0]), double(w[1]), double(w[2]), long(target), long(ja), long(jb), long(jc));
            continue;
          }
          GridCell &other = grid[static_cast<size_t>(target)];
          if (!other.visited) {
            other.visited = 1;
            other.filled = cell.filled;
            other.clearance = cell.clearance;
          }
        }
      }
    }
  }

  int64_t filled = 0;
  int64_t bestIndex = -1;
  float best = 0.0f;
  for (int64_t k = 0; k < total; k++) {
    const GridCell &cell = grid[static_cast<size_t>(k)];
    if (cell.filled) {
      filled++;
    } else if (cell.clearance > best) {
      best = cell.clearance;
      bestIndex = k;
    }
  }
  const float cellVolume = GetCellVolume(crystal);
  const float voxel = cellVolume / float(total);
  std::fprintf(stderr, "%ld of %ld points filled (volume per voxel = %f)\n", long(filled), long(total), double(voxel));
  std::fprintf(stderr, "Maximum void size corresponds to a sphere with radius of %f A\n", double(best));
  if (filledVolume)
    *filledVolume = float(filled) * cellVolume / float(total);
  if (radius)
    *radius = best;
  if (centre && bestIndex >= 0) {
    const int64_t ic = bestIndex % nc;
    const int64_t ib = (bestIndex / nc) % nb;
    const int64_t ia = bestIndex / (nc * nb);
    centre[0] = float(ia) / float(na);
    centre[1] = float(ib) / float(nb);
    centre[2] = float(ic) / float(nc);
  }
  return 1;
}
