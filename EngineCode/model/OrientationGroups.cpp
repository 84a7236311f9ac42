// Groups disordered about a special position that the file does not name.
#include "OrientationGroups.h"

#include "AutoBonds.h"
#include "BondSearch.h"
#include "CovalentRadii.h"
#include "UnitCell.h"
#include "VectorMath.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace {

// The grid never holds more cells than this many per image (plus a few), so
// its memory stays linear in the images however small the limits are.
constexpr size_t kGridCellsPerImage = 4;
constexpr size_t kGridSpareCells = 64;

// One symmetry image of a candidate site, wrapped into the cell.
struct Image {
  double xyz[3] = {0.0, 0.0, 0.0}; // fractional, in [0, 1)
  uint32_t candidate = 0;          // index into the candidates
  bool own = false;                // the site's own position, give or take whole cells
};

double Wrap(double x) {
  x -= std::floor(x);
  return x >= 1.0 ? 0.0 : x;
}

size_t Find(std::vector<size_t> &parent, size_t i) {
  while (parent[i] != i)
    i = parent[i] = parent[parent[i]];
  return i;
}

// The operator a after b, in the convention of ApplySymmetryOperator (both
// act about the same origin shift, so the shift drops out).
GEP Compose(const GEP &a, const GEP &b) {
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

bool SameOperator(const GEP &a, const GEP &b) {
  bool same = std::equal(&a.rotation[0][0], &a.rotation[0][0] + 9, &b.rotation[0][0]);
  for (int i = 0; i < 3 && same; i++) {
    const double d = a.translation[i] - b.translation[i];
    same = std::fabs(d - std::round(d)) < double(kSymmetryTolerance);
  }
  return same;
}

bool IsIdentity(const GEP &op) { return SameOperator(op, GEP{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0.0, 0.0, 0.0}}); }

// The table of products: entry a * n + b is the index of operator a after
// operator b (translations modulo whole cells), n where the list lacks it.
// The operators are found through their rotations (a handful share one).
std::vector<uint32_t> OperatorProducts(const std::vector<GEP> &ops) {
  const size_t n = ops.size();
  const auto rotationKey = [](const GEP &op) {
    uint32_t key = 0;
    for (int i = 0; i < 3; i++)
      for (int j = 0; j < 3; j++)
        key = key * 3 + static_cast<uint32_t>(std::clamp<int>(op.rotation[i][j], -1, 1) + 1);
    return key;
  };
  std::vector<std::pair<uint32_t, uint32_t>> byRotation(n);
  for (uint32_t k = 0; k < n; k++)
    byRotation[k] = {rotationKey(ops[k]), k};
  std::sort(byRotation.begin(), byRotation.end());
  std::vector<uint32_t> out(n * n, static_cast<uint32_t>(n));
  for (uint32_t a = 0; a < n; a++)
    for (uint32_t b = 0; b < n; b++) {
      const GEP ab = Compose(ops[a], ops[b]);
      auto it = std::lower_bound(byRotation.begin(), byRotation.end(), std::make_pair(rotationKey(ab), uint32_t{0}));
      for (; it != byRotation.end() && it->first == rotationKey(ab); ++it)
        if (SameOperator(ab, ops[it->second])) {
          out[size_t{a} * n + b] = it->second;
          break;
        }
    }
  return out;
}

} // namespace

uint32_t OrientationGroups::Orientation(size_t site, uint32_t k) const {
  if (site >= siteGroup.size() || siteGroup[site] == 0)
    return k;
  const std::vector<uint32_t> &map = orientation[siteGroup[site] - 1];
  return k < map.size() ? map[k] : k;
}

OrientationGroups InferOrientationGroups(CrystalRec &crystal) {
  if (crystal.molecule)
    return {};
  const size_t nSites = UsableSiteSize(crystal);
  // The candidates: sites of no group given by the file whose images may be
  // alternatives, with an element the covalent table knows.
  std::vector<uint32_t> sites;
  std::vector<const CovalentRadiusRow *> rows;
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = crystal.sites[s];
    if (site.disorderGroup != 0 || !SiteImagesApart(site))
      continue;
    const CovalentRadiusRow *row = FindCovalentRadius(site.elements[0]);
    if (!row || row->element == kPlaceholderAtomElement)
      continue;
    sites.push_back(static_cast<uint32_t>(s));
    rows.push_back(row);
  }
  if (sites.empty())
    return {};
  int32_t nOps = 0;
  const auto ops = GetCrystalGEPs(&crystal, &nOps);
  if (!ops || ops->empty())
    return {};

  // The longest bond limit between two candidates' elements.
  std::vector<const CovalentRadiusRow *> kinds;
  for (const CovalentRadiusRow *row : rows)
    if (std::find(kinds.begin(), kinds.end(), row) == kinds.end())
      kinds.push_back(row);
  const auto limit = [](const CovalentRadiusRow *a, const CovalentRadiusRow *b) {
    return double(AutoBondPairLimit(a->element, b->element, 0.0f, 0.0f, true));
  };
  double reachA = 0.0;
  for (const CovalentRadiusRow *a : kinds)
    for (const CovalentRadiusRow *b : kinds)
      reachA = std::max(reachA, limit(a, b));
  if (!(reachA > 0.0))
    return {};

  // Every image of every candidate.
  std::vector<Image> images;
  images.reserve(sites.size() * ops->size());
  std::vector<std::array<double, 3>> own(sites.size());
  for (uint32_t i = 0; i < sites.size(); i++) {
    const AsymmetricUnitRecord &site = crystal.sites[sites[i]];
    float home[3];
    MoveVectorIntoCell(home, site.xyz);
    for (int k = 0; k < 3; k++)
      own[i][static_cast<size_t>(k)] = Wrap(double(site.xyz[k]));
    for (const GEP &op : *ops) {
      double raw[3];
      ApplySymmetryOperator(op, site.xyz, crystal.originShift, raw);
      Image image;
      image.candidate = i;
      float wrapped[3];
      for (int k = 0; k < 3; k++) {
        image.xyz[k] = Wrap(raw[k]);
        wrapped[k] = MoveIntoCell(static_cast<float>(raw[k]));
      }
      image.own = PositionsCoincide(wrapped, home);
      images.push_back(image);
    }
  }

  // A periodic grid over the cell: cells no narrower than the reach where
  // the cell allows, fewer where the images are few.
  double M[9];
  DGetDirectToOrthoMatrix(crystal.a, crystal.b, crystal.c, crystal.alpha, crystal.beta, crystal.gamma, M);
  const auto column = [&M](int j) { return std::array<double, 3>{M[j], M[3 + j], M[6 + j]}; };
  const auto cross = [](const std::array<double, 3> &u, const std::array<double, 3> &v) {
    return std::array<double, 3>{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
  };
  const auto length = [](const std::array<double, 3> &u) { return std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]); };
  const std::array<double, 3> axes[3] = {column(0), column(1), column(2)};
  const std::array<double, 3> normal0 = cross(axes[1], axes[2]);
  const double volume = std::fabs(normal0[0] * axes[0][0] + normal0[1] * axes[0][1] + normal0[2] * axes[0][2]);
  if (!(volume > 0.0))
    return {};
  double width[3]; // the distance between the cell's opposite faces
  int64_t bins[3];
  for (int i = 0; i < 3; i++) {
    width[i] = volume / length(cross(axes[(i + 1) % 3], axes[(i + 2) % 3]));
    bins[i] = std::clamp<int64_t>(static_cast<int64_t>(width[i] / reachA), 1, 1024);
  }
  const size_t maxCells = images.size() * kGridCellsPerImage + kGridSpareCells;
  while (static_cast<size_t>(bins[0] * bins[1] * bins[2]) > maxCells) {
    int64_t *largest = std::max_element(bins, bins + 3);
    *largest = std::max<int64_t>(1, *largest / 2);
  }
  int64_t reach[3];
  for (int i = 0; i < 3; i++)
    reach[i] = static_cast<int64_t>(std::ceil(reachA * double(bins[i]) / width[i]));
  const auto binOf = [&bins](double x, int axis) {
    return std::clamp<int64_t>(static_cast<int64_t>(x * double(bins[axis])), 0, bins[axis] - 1);
  };
  const auto cellIndex = [&bins](int64_t i, int64_t j, int64_t k) {
    return static_cast<size_t>((i * bins[1] + j) * bins[2] + k);
  };
  const size_t nCells = static_cast<size_t>(bins[0] * bins[1] * bins[2]);
  std::vector<uint32_t> start(nCells + 1, 0), order(images.size());
  std::vector<size_t> cellOf(images.size());
  for (size_t p = 0; p < images.size(); p++) {
    cellOf[p] = cellIndex(binOf(images[p].xyz[0], 0), binOf(images[p].xyz[1], 1), binOf(images[p].xyz[2], 2));
    start[cellOf[p] + 1]++;
  }
  std::partial_sum(start.begin(), start.end(), start.begin());
  {
    std::vector<uint32_t> next(start.begin(), start.end() - 1);
    for (size_t p = 0; p < images.size(); p++)
      order[next[cellOf[p]]++] = static_cast<uint32_t>(p);
  }

  // From each candidate's own position: the candidates it is bonded to under
  // the file's operator (joined), and the impossible contacts with images
  // made by other operators (seeds).
  std::vector<size_t> parent(sites.size());
  std::iota(parent.begin(), parent.end(), size_t{0});
  // The contacts within a bond (or at one place) of candidate i's own
  // position with the image of candidate j that operator k makes, and
  // whether each is impossible.
  struct Contact {
    uint32_t i, j, k;
    bool atPlace;
    bool impossible;
  };
  std::vector<Contact> contacts;
  for (uint32_t i = 0; i < sites.size(); i++) {
    const std::array<double, 3> &x = own[i];
    const int64_t home[3] = {binOf(x[0], 0), binOf(x[1], 1), binOf(x[2], 2)};
    for (int64_t di = -reach[0]; di <= reach[0]; di++)
      for (int64_t dj = -reach[1]; dj <= reach[1]; dj++)
        for (int64_t dk = -reach[2]; dk <= reach[2]; dk++) {
          const int64_t at[3] = {home[0] + di, home[1] + dj, home[2] + dk};
          int64_t bin[3];
          double shift[3]; // whole cells
          for (int a = 0; a < 3; a++) {
            const int64_t whole = (at[a] >= 0 ? at[a] : at[a] - bins[a] + 1) / bins[a];
            bin[a] = at[a] - whole * bins[a];
            shift[a] = double(whole);
          }
          const size_t cell = cellIndex(bin[0], bin[1], bin[2]);
          for (uint32_t q = start[cell]; q < start[cell + 1]; q++) {
            const Image &image = images[order[q]];
            double f[3], cart[3];
            for (int a = 0; a < 3; a++)
              f[a] = image.xyz[a] + shift[a] - x[static_cast<size_t>(a)];
            for (int a = 0; a < 3; a++)
              cart[a] = M[3 * a] * f[0] + M[3 * a + 1] * f[1] + M[3 * a + 2] * f[2];
            const double d2 = cart[0] * cart[0] + cart[1] * cart[1] + cart[2] * cart[2];
            const uint32_t j = image.candidate;
            const uint32_t k = order[q] % static_cast<uint32_t>(ops->size());
            if (d2 < double(kOverlapDistanceSq)) {
              contacts.push_back({i, j, k, true, false}); // the same place: one atom
              continue;
            }
            const double bond = limit(rows[i], rows[j]);
            if (d2 > bond * bond)
              continue;
            const double shortest = AutoBondPairShortest(rows[i]->element, rows[j]->element);
            // Images of one site within a bond: but two cations of a salt
            // lie within their metal limit without being bonded.
            const bool impossible = !image.own && ((j == i && !rows[i]->metal) || d2 < shortest * shortest);
            contacts.push_back({i, j, k, false, impossible});
            if (image.own && j != i && d2 >= shortest * shortest)
              parent[Find(parent, i)] = Find(parent, j);
          }
        }
  }

  // The parts that hold a seed, numbered by their first sites.
  std::vector<uint8_t> seeded(sites.size(), 0);
  for (const Contact &contact : contacts)
    if (contact.impossible) {
      seeded[Find(parent, contact.i)] = 1;
      seeded[Find(parent, contact.j)] = 1;
    }
  std::vector<uint32_t> number(sites.size(), 0);
  std::vector<std::vector<uint32_t>> members;
  OrientationGroups out;
  for (uint32_t i = 0; i < sites.size(); i++) {
    const size_t root = Find(parent, i);
    if (!seeded[root])
      continue;
    if (number[root] == 0) {
      members.emplace_back();
      number[root] = static_cast<uint32_t>(members.size());
    }
    members[number[root] - 1].push_back(i);
    if (out.siteGroup.empty())
      out.siteGroup.assign(nSites, 0);
    out.siteGroup[sites[i]] = number[root];
  }

  // Each group's orientations. The operators that keep the orientation the
  // file gives form a subgroup that holds no operator whose image of the
  // group makes an impossible contact with it. It is built from the
  // operators whose image meets the group without one: first those that
  // put an atom of it at the place of one (the group's site symmetry), then
  // those that put one within a bond, each in the operators' order and taken
  // only while the subgroup it makes stays clear of the impossible ones. Two
  // operators make one orientation when they differ by one of the subgroup.
  const size_t n = ops->size();
  constexpr uint8_t kAtPlace = 1, kWithinBond = 2, kImpossible = 4;
  std::vector<uint8_t> met(members.size() * n, 0);
  for (const Contact &contact : contacts)
    if (const size_t root = Find(parent, contact.i); seeded[root] && root == Find(parent, contact.j))
      met[(number[root] - 1) * n + contact.k] |= contact.impossible ? kImpossible
                                                 : contact.atPlace  ? kAtPlace
                                                                    : kWithinBond;
  const std::vector<uint32_t> product = OperatorProducts(*ops);
  for (size_t g = 0; g < members.size(); g++) {
    const uint8_t *kind = &met[g * n];
    std::vector<uint8_t> in(n, 0);
    std::vector<uint32_t> keep;
    // The identity: the operator that makes every site's own position.
    for (uint32_t k = 0; k < n && keep.empty(); k++)
      if (IsIdentity((*ops)[k]))
        keep.push_back(k), in[k] = 1;
    if (keep.empty())
      keep.push_back(0), in[0] = 1;
    for (const uint8_t wanted : {kAtPlace, kWithinBond})
      for (uint32_t k = 0; k < n; k++) {
        if (in[k] || (kind[k] & kImpossible) || !(kind[k] & wanted))
          continue;
        // The subgroup with k: closed under products of its members.
        std::vector<uint8_t> with(in);
        std::vector<uint32_t> trial(keep);
        with[k] = 1;
        trial.push_back(k);
        bool clear = true;
        for (size_t a = 0; a < trial.size() && clear; a++)
          for (size_t b = 0; b <= a && clear; b++)
            for (const uint32_t c : {product[trial[a] * n + trial[b]], product[trial[b] * n + trial[a]]})
              if (c < n && !with[c]) {
                clear = !(kind[c] & kImpossible);
                with[c] = 1;
                trial.push_back(c);
              }
        if (clear)
          in.swap(with), keep.swap(trial);
      }
    std::vector<uint32_t> orientation(n);
    for (uint32_t k = 0; k < n; k++) {
      uint32_t first = k;
      for (const uint32_t h : keep)
        first = std::min(first, product[k * n + h]);
      orientation[k] = first;
    }
    out.orientation.push_back(std::move(orientation));
  }
  return out;
}
