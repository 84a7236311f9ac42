// Groups disordered about a special position that the file does not name.
#include "OrientationGroups.h"

#include "AutoBonds.h"
#include "BondSearch.h"
#include "CancelPoll.h"
#include "CellFrame.h"
#include "CovalentRadii.h"
#include "FractionalPlaces.h"
#include "PeriodicNeighbours.h"
#include "UnitCell.h"
#include "VectorMath.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace {

// The neighbour list is asked this share farther (and, to tell a crowd, this
// share nearer) than the reach: the contacts are judged by distances
// measured again through the cell's matrix, which differ from the list's by
// rounding alone.
constexpr double kReachRounding = 1e-9;
// Steps (an orbit, a neighbourhood, a bond joined) between two readings of
// the clock: each step's work is bounded by the crowd limit, so a cancel key
// is heard within this many steps of the first check after it.
constexpr int64_t kInferenceClockEvery = 64;

double Wrap(double x) {
  x -= std::floor(x);
  return x >= 1.0 ? 0.0 : x;
}

bool IsIdentity(const GEP &op) { return SameOperator(op, GEP{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0.0, 0.0, 0.0}}); }

// The operators' arithmetic: the table of products (entry a * n + b is the
// index of operator a after operator b, translations modulo whole cells; n
// where the list lacks it), the identity and each operator's inverse. The
// table is the square of the operator count, at most 192.
struct OperatorTable {
  explicit OperatorTable(const std::vector<GEP> &ops);
  uint32_t After(uint32_t a, uint32_t b) const {
    return a < n && b < n ? product[size_t{a} * n + b] : static_cast<uint32_t>(n);
  }
  uint32_t Inverse(uint32_t a) const { return a < n ? inverse[a] : static_cast<uint32_t>(n); }
  size_t n = 0;
  uint32_t identity = 0;
  std::vector<uint32_t> product;
  std::vector<uint32_t> inverse;
};

OperatorTable::OperatorTable(const std::vector<GEP> &ops) : n(ops.size()) {
  // The operators are found through their rotations (a handful share one).
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
  product.assign(n * n, static_cast<uint32_t>(n));
  for (uint32_t a = 0; a < n; a++)
    for (uint32_t b = 0; b < n; b++) {
      const GEP ab = ComposeOperators(ops[a], ops[b]);
      auto it = std::lower_bound(byRotation.begin(), byRotation.end(), std::make_pair(rotationKey(ab), uint32_t{0}));
      for (; it != byRotation.end() && it->first == rotationKey(ab); ++it)
        if (SameOperator(ab, ops[it->second])) {
          product[size_t{a} * n + b] = it->second;
          break;
        }
    }
  identity = 0;
  for (uint32_t k = 0; k < n; k++)
    if (IsIdentity(ops[k])) {
      identity = k;
      break;
    }
  inverse.assign(n, static_cast<uint32_t>(n));
  for (uint32_t a = 0; a < n; a++)
    for (uint32_t b = 0; b < n && inverse[a] == n; b++)
      if (product[size_t{a} * n + b] == identity)
        inverse[a] = b;
}

// A contact of the own position of orbit p with the image of orbit q that
// operator k makes (the image stands within a bond of p, or at its place).
struct Contact {
  uint32_t p = 0, q = 0, k = 0;
  float d = 0.0f; // A
  bool atPlace = false;
  bool impossible = false;
  bool written = false; // the image is q's own position: both as the file wrote them
};

// The candidates' orbits: candidate rows at one place, or at places one
// operator maps onto each other, are one orbit, written once (its first
// row's position). Each row is its orbit's position under one operator.
struct Orbits {
  std::vector<uint32_t> first; // per orbit, its first candidate
  std::vector<uint32_t> of;    // per candidate, its orbit
  std::vector<uint32_t> rowOp; // per candidate, the operator that makes its row from the orbit's position
};

// Everything the inference works on.
struct Inference {
  const CrystalRec &crystal;
  const std::vector<GEP> &ops;
  const OperatorTable &table;
  CancelPoll &cancel;
  std::vector<uint32_t> sites;                 // the candidates' sites
  std::vector<const CovalentRadiusRow *> rows; // their elements
  double reach = 0.0;                          // the longest bond limit among them (A)
  Orbits orbits;
  std::vector<Contact> contacts;
};

double PairLimit(const CovalentRadiusRow *a, const CovalentRadiusRow *b) {
  return double(AutoBondPairLimit(a->element, b->element, 0.0f, 0.0f, true));
}

// The orbits of the candidates; false when the user stopped.
bool FindOrbits(Inference &w) {
  const CrystalRec &c = w.crystal;
  const size_t nCandidates = w.sites.size();
  FractionalPlaces places(nCandidates);
  w.orbits.of.assign(nCandidates, 0);
  w.orbits.rowOp.assign(nCandidates, w.table.identity);
  for (uint32_t i = 0; i < nCandidates; i++) {
    if (w.cancel.Step())
      return false;
    const AsymmetricUnitRecord &site = c.sites[w.sites[i]];
    const uint32_t kind = w.rows[i]->element;
    size_t found = FractionalPlaces::kNone;
    uint32_t k = 0;
    for (; k < w.ops.size() && found == FractionalPlaces::kNone; k++) {
      double image[3];
      ApplySymmetryOperator(w.ops[k], site.xyz, c.originShift, image);
      found = places.Find(image, kind);
    }
    if (found != FractionalPlaces::kNone) {
      // Operator k - 1 maps the row onto the orbit's position: the row is
      // the orbit's position under its inverse.
      w.orbits.of[i] = static_cast<uint32_t>(found);
      w.orbits.rowOp[i] = w.table.Inverse(k - 1);
      continue;
    }
    const double own[3] = {Wrap(double(site.xyz[0])), Wrap(double(site.xyz[1])), Wrap(double(site.xyz[2]))};
    w.orbits.of[i] = static_cast<uint32_t>(places.Insert(own, kind).first);
    w.orbits.first.push_back(i);
  }
  return true;
}

// The squared distance (A^2) from the fractional point x of the image of the
// fractional point y `shift` whole cells on, through the cell's matrix M.
double ImageDistanceSq(const double M[9], const std::array<double, 3> &y, const int32_t shift[3],
                       const std::array<double, 3> &x) {
  double f[3], cart[3];
  for (int a = 0; a < 3; a++)
    f[a] = y[static_cast<size_t>(a)] + double(shift[a]) - x[static_cast<size_t>(a)];
  for (int a = 0; a < 3; a++)
    cart[a] = M[3 * a] * f[0] + M[3 * a + 1] * f[1] + M[3 * a + 2] * f[2];
  return cart[0] * cart[0] + cart[1] * cart[1] + cart[2] * cart[2];
}

// Each orbit's images, one per place: an image stands for the operators
// that make it (one coset of the orbit's stabiliser, the operators that leave
// its position in place).
struct OrbitImages {
  std::vector<std::array<double, 3>> at; // per image, fractional in [0, 1)
  std::vector<uint32_t> orbit, op;       // per image, its orbit and the first operator making it
  std::vector<uint8_t> written;          // per image, 1 at the orbit's own position
  std::vector<uint32_t> stabiliserStart; // per orbit, into stabiliser; one more entry
  std::vector<uint32_t> stabiliser;
};

OrbitImages ImagesOfOrbits(const Inference &w) {
  const CrystalRec &c = w.crystal;
  const size_t n = w.ops.size();
  const size_t nOrbits = w.orbits.first.size();
  OrbitImages out;
  out.stabiliserStart.assign(nOrbits + 1, 0);
  std::vector<std::array<double, 3>> images(n);
  for (uint32_t o = 0; o < nOrbits; o++) {
    const AsymmetricUnitRecord &site = c.sites[w.sites[w.orbits.first[o]]];
    const double own[3] = {site.xyz[0], site.xyz[1], site.xyz[2]};
    for (uint32_t k = 0; k < n; k++) {
      double raw[3];
      ApplySymmetryOperator(w.ops[k], site.xyz, c.originShift, raw);
      images[k] = {Wrap(raw[0]), Wrap(raw[1]), Wrap(raw[2])};
      if (SamePlace(raw, own))
        out.stabiliser.push_back(k);
    }
    out.stabiliserStart[o + 1] = static_cast<uint32_t>(out.stabiliser.size());
    const uint32_t *stab = &out.stabiliser[out.stabiliserStart[o]];
    const size_t order = out.stabiliserStart[o + 1] - out.stabiliserStart[o];
    for (uint32_t k = 0; k < n; k++) {
      // The first operator of its coset stands for it.
      bool first = true, written = false;
      for (size_t s = 0; s < order; s++) {
        first = first && w.table.After(k, stab[s]) >= k;
        written = written || w.table.After(k, stab[s]) == w.table.identity || k == stab[s];
      }
      if (!first)
        continue;
      out.at.push_back(images[k]);
      out.orbit.push_back(o);
      out.op.push_back(k);
      out.written.push_back(written ? 1 : 0);
    }
  }
  return out;
}

// The contacts of every orbit's own position with the images of the orbits
// within a bond; false when the user stopped. An orbit with more images
// within the reach than any matter packs (kCrowdedVolumePerPlace) is crowded
// and takes no part, so each neighbourhood costs at most the crowd limit.
bool FindContacts(Inference &w) {
  const CrystalRec &c = w.crystal;
  const size_t nOrbits = w.orbits.first.size();
  const OrbitImages images = ImagesOfOrbits(w);
  double M[9];
  DGetDirectToOrthoMatrix(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, M);
  double rows[3][3]; // the cell vectors: M's columns
  for (int k = 0; k < 3; k++)
    for (int i = 0; i < 3; i++)
      rows[k][i] = M[3 * i + k];
  CellFrame frame;
  if (!CellFrameOfRows(rows, frame))
    return true;
  std::vector<NeighbourMarkInput> marks(images.at.size());
  for (size_t m = 0; m < marks.size(); m++) {
    marks[m].mark.atom = static_cast<uint32_t>(m);
    std::copy(images.at[m].begin(), images.at[m].end(), marks[m].xyz);
  }
  PeriodicNeighbours list(frame, marks, w.reach);
  if (!list.Valid())
    return true;
  const double sphere = 4.0 / 3.0 * M_PI * w.reach * w.reach * w.reach;
  const size_t crowdLimit = std::max(kMinCrowdedPlaces, static_cast<size_t>(sphere / kCrowdedVolumePerPlace));
  const double reachSq = w.reach * w.reach;
  const double farther = w.reach * (1.0 + kReachRounding), nearer = w.reach * (1.0 - kReachRounding);
  std::vector<std::array<double, 3>> own(nOrbits);
  for (uint32_t o = 0; o < nOrbits; o++) {
    const AsymmetricUnitRecord &site = c.sites[w.sites[w.orbits.first[o]]];
    own[o] = {Wrap(double(site.xyz[0])), Wrap(double(site.xyz[1])), Wrap(double(site.xyz[2]))};
  }
  // The images within the reach of an orbit's own position, each with its
  // distance squared through M, into within; false when they are more than
  // the crowd limit. The list's visit stops at `limit` hits: a crowd nearer
  // than the reach is a crowd within it, and a crowd only a rounding nearer
  // is counted.
  std::vector<NeighbourHit> hits;
  std::vector<std::pair<NeighbourHit, double>> within;
  const auto imagesWithin = [&](uint32_t o, size_t limit) {
    within.clear();
    if (list.Visit(own[o].data(), farther, hits, limit) == NeighbourStatus::kCrowded) {
      if (list.Visit(own[o].data(), nearer, hits, limit) == NeighbourStatus::kCrowded)
        return false;
      list.Visit(own[o].data(), farther, hits);
    }
    for (const NeighbourHit &hit : hits)
      if (const double d2 = ImageDistanceSq(M, images.at[hit.mark], hit.shift, own[o]); d2 <= reachSq)
        within.emplace_back(hit, d2);
    return within.size() <= crowdLimit;
  };
  std::vector<uint8_t> crowded(nOrbits, 0);
  for (uint32_t o = 0; o < nOrbits; o++) {
    if (w.cancel.Step())
      return false;
    crowded[o] = imagesWithin(o, crowdLimit) ? 0 : 1;
  }
  for (uint32_t o = 0; o < nOrbits; o++) {
    if (w.cancel.Step())
      return false;
    if (crowded[o])
      continue;
    const CovalentRadiusRow *rowO = w.rows[w.orbits.first[o]];
    imagesWithin(o, kNoCrowdLimit);
    for (const auto &[hit, d2] : within) {
      const uint32_t image = hit.mark;
      const uint32_t q = images.orbit[image];
      if (crowded[q])
        continue;
      const CovalentRadiusRow *rowQ = w.rows[w.orbits.first[q]];
      const float d = static_cast<float>(std::sqrt(d2));
      const bool atPlace = d2 < double(kOverlapDistanceSq); // the same place: one atom
      const double bond = PairLimit(rowO, rowQ);
      if (!atPlace && d2 > bond * bond)
        continue;
      const double shortest = AutoBondPairShortest(rowO->element, rowQ->element);
      // Images of one orbit within a bond: but two cations of a salt lie
      // within their metal limit without being bonded.
      const bool impossible = !atPlace && ((q == o && !rowO->metal) || d2 < shortest * shortest);
      for (uint32_t s = images.stabiliserStart[q]; s < images.stabiliserStart[q + 1]; s++)
        w.contacts.push_back({o, q, w.table.After(images.op[image], images.stabiliser[s]), d, atPlace, impossible,
                              images.written[image] != 0});
    }
  }
  return true;
}

// The orbits joined into parts by their bonds, each orbit placed in its
// part's frame by an operator: the bonds between the positions the file
// wrote first, then the others, each in turn the bonds nearest a typical
// length (the covalent radii's sum) first, each joining two parts unless it
// would put two of their atoms closer than any bond. So a part is one whole molecule
// or ion in one orientation, whichever operator the file wrote each of its
// rows under.
class Parts {
public:
  Parts(const OperatorTable &table, size_t nOrbits)
      : table_(table), parent_(nOrbits), frame_(nOrbits, table.identity), members_(nOrbits) {
    std::iota(parent_.begin(), parent_.end(), uint32_t{0});
    for (uint32_t o = 0; o < nOrbits; o++)
      members_[o] = {o};
  }
  // The part's root and the operator that places the orbit in its frame.
  std::pair<uint32_t, uint32_t> Find(uint32_t o) {
    if (parent_[o] == o)
      return {o, table_.identity};
    const auto [root, above] = Find(parent_[o]);
    parent_[o] = root;
    frame_[o] = table_.After(above, frame_[o]);
    return {root, frame_[o]};
  }
  // Joins the parts of a bond (orbit q's image by k bonded to orbit p) unless
  // an impossible contact (`impossible`, per orbit) would lie within the part.
  void Join(const Contact &bond, const std::vector<uint32_t> &start, const std::vector<Contact> &impossible);

private:
  const OperatorTable &table_;
  std::vector<uint32_t> parent_;
  std::vector<uint32_t> frame_;
  std::vector<std::vector<uint32_t>> members_;
};

void Parts::Join(const Contact &bond, const std::vector<uint32_t> &start, const std::vector<Contact> &impossible) {
  auto [rootP, hp] = Find(bond.p);
  auto [rootQ, hq] = Find(bond.q);
  if (rootP == rootQ)
    return;
  // Part Q's frame in part P's: q's image by k stands by p.
  uint32_t toP = table_.After(table_.After(hp, bond.k), table_.Inverse(hq));
  if (toP >= table_.n)
    return;
  uint32_t big = rootP, small = rootQ, into = toP;
  if (members_[rootQ].size() > members_[rootP].size())
    big = rootQ, small = rootP, into = table_.Inverse(toP);
  for (const uint32_t m : members_[small]) {
    const uint32_t hm = table_.After(into, Find(m).second);
    for (uint32_t x = start[m]; x < start[m + 1]; x++) {
      const auto [root, hr] = Find(impossible[x].q);
      if (root == big && table_.After(table_.Inverse(hm), hr) == impossible[x].k)
        return;
    }
  }
  parent_[small] = big;
  frame_[small] = into;
  members_[big].insert(members_[big].end(), members_[small].begin(), members_[small].end());
  std::vector<uint32_t>().swap(members_[small]);
}

// Each group's orientations. The operators that keep the orientation the
// part's frame gives form a subgroup that holds no operator whose image of
// the group makes an impossible contact with it. It is built from the
// operators whose image meets the group without one: first those that put
// an atom of it at the place of one (the group's site symmetry), then those
// that put one within a bond, each in the operators' order and taken only
// while the subgroup it makes stays clear of the impossible ones. Two
// operators make one orientation when they differ by one of the subgroup.
std::vector<uint32_t> GroupOrientations(const OperatorTable &table, const uint8_t *kind) {
  constexpr uint8_t kAtPlace = 1, kWithinBond = 2, kImpossible = 4;
  const size_t n = table.n;
  std::vector<uint8_t> in(n, 0);
  std::vector<uint32_t> keep = {table.identity};
  in[table.identity] = 1;
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
          for (const uint32_t c : {table.After(trial[a], trial[b]), table.After(trial[b], trial[a])})
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
      first = std::min(first, table.After(k, h));
    orientation[k] = first;
  }
  return orientation;
}

// The groups from the contacts: parts joined by bonds, those with an
// impossible contact seeded, numbered by their first sites.
OrientationGroups GroupsOf(Inference &w) {
  const OperatorTable &table = w.table;
  const size_t n = table.n;
  const size_t nOrbits = w.orbits.first.size();
  // Each orbit's impossible contacts, for the joins to look up.
  std::vector<Contact> impossible;
  std::vector<uint32_t> start(nOrbits + 1, 0);
  std::vector<Contact> bonds;
  for (const Contact &t : w.contacts) {
    if (t.impossible)
      start[t.p + 1]++;
    else if (!t.atPlace && t.q != t.p)
      bonds.push_back(t);
  }
  std::partial_sum(start.begin(), start.end(), start.begin());
  impossible.resize(start.back());
  {
    std::vector<uint32_t> next(start.begin(), start.end() - 1);
    for (const Contact &t : w.contacts)
      if (t.impossible)
        impossible[next[t.p]++] = t;
  }
  const auto typical = [&w](const Contact &t) {
    const CovalentRadiusRow *a = w.rows[w.orbits.first[t.p]], *b = w.rows[w.orbits.first[t.q]];
    return std::fabs(double(t.d) - (double(a->radius) + double(b->radius)));
  };
  std::sort(bonds.begin(), bonds.end(), [&](const Contact &x, const Contact &y) {
    if (x.written != y.written)
      return x.written;
    const double dx = typical(x), dy = typical(y);
    if (dx != dy)
      return dx < dy;
    return std::tie(x.p, x.q, x.k) < std::tie(y.p, y.q, y.k);
  });
  Parts parts(table, nOrbits);
  for (const Contact &bond : bonds) {
    if (w.cancel.Step())
      return {};
    parts.Join(bond, start, impossible);
  }
  std::vector<uint8_t> seeded(nOrbits, 0);
  for (const Contact &t : impossible)
    seeded[parts.Find(t.p).first] = seeded[parts.Find(t.q).first] = 1;

  OrientationGroups out;
  std::vector<uint32_t> number(nOrbits, 0);
  uint32_t groups = 0;
  const size_t nSites = UsableSiteSize(w.crystal);
  for (uint32_t i = 0; i < w.sites.size(); i++) {
    const uint32_t root = parts.Find(w.orbits.of[i]).first;
    if (!seeded[root])
      continue;
    if (number[root] == 0)
      number[root] = ++groups;
    if (out.siteGroup.empty()) {
      out.siteGroup.assign(nSites, 0);
      out.siteFrame.assign(nSites, table.identity);
    }
    out.siteGroup[w.sites[i]] = number[root];
    // The row is its orbit's position under rowOp; the orbit stands in the
    // group's frame under its part's operator.
    const uint32_t placed = parts.Find(w.orbits.of[i]).second;
    out.siteFrame[w.sites[i]] = table.After(w.orbits.rowOp[i], table.Inverse(placed));
  }
  if (groups == 0)
    return out;
  constexpr uint8_t kAtPlace = 1, kWithinBond = 2, kImpossible = 4;
  std::vector<uint8_t> met(size_t{groups} * n, 0);
  for (const Contact &t : w.contacts) {
    const auto [rootP, hp] = parts.Find(t.p);
    const auto [rootQ, hq] = parts.Find(t.q);
    if (rootP != rootQ || !seeded[rootP])
      continue;
    const uint32_t k = table.After(table.After(hp, t.k), table.Inverse(hq));
    if (k < n)
      met[size_t{number[rootP] - 1} * n + k] |= t.impossible ? kImpossible : t.atPlace ? kAtPlace : kWithinBond;
  }
  for (uint32_t g = 0; g < groups; g++) {
    if (w.cancel.Step())
      return {};
    out.orientation.push_back(GroupOrientations(table, &met[size_t{g} * n]));
  }
  out.product = table.product;
  out.operators = static_cast<uint32_t>(n);
  return out;
}

} // namespace

uint32_t OrientationGroups::Orientation(size_t site, uint32_t k) const {
  if (site >= siteGroup.size() || siteGroup[site] == 0 || siteGroup[site] > orientation.size())
    return k;
  const std::vector<uint32_t> &map = orientation[siteGroup[site] - 1];
  // The image of the site by k is the group's own orientation by k after
  // the site's frame.
  if (site < siteFrame.size() && k < operators && siteFrame[site] < operators &&
      size_t{k} * operators + siteFrame[site] < product.size())
    k = product[size_t{k} * operators + siteFrame[site]];
  return k < map.size() ? map[k] : k;
}

OrientationGroups InferOrientationGroups(const CrystalRec &crystal) {
  if (crystal.molecule)
    return {};
  // A structure in P 1 has no images under other operators: the file's own
  // groups are all there is.
  int32_t nOps = 0;
  const auto ops = CrystalOperators(crystal, &nOps);
  if (!ops || ops->size() < 2)
    return {};
  const OperatorTable table(*ops);
  CancelPoll cancel(kInferenceClockEvery);
  Inference w{crystal, *ops, table, cancel, {}, {}, 0.0, {}, {}};
  // The candidates: sites of no group given by the file whose images may be
  // alternatives, with an element the covalent table knows.
  const size_t nSites = UsableSiteSize(crystal);
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = crystal.sites[s];
    if (site.disorderGroup != 0 || !SiteImagesApart(site))
      continue;
    const CovalentRadiusRow *row = FindCovalentRadius(site.elements[0]);
    if (!row || row->element == kPlaceholderAtomElement)
      continue;
    w.sites.push_back(static_cast<uint32_t>(s));
    w.rows.push_back(row);
  }
  if (w.sites.empty())
    return {};
  // The longest bond limit between two candidates' elements.
  std::vector<const CovalentRadiusRow *> kinds;
  for (const CovalentRadiusRow *row : w.rows)
    if (std::find(kinds.begin(), kinds.end(), row) == kinds.end())
      kinds.push_back(row);
  for (const CovalentRadiusRow *a : kinds)
    for (const CovalentRadiusRow *b : kinds)
      w.reach = std::max(w.reach, PairLimit(a, b));
  if (!(w.reach > 0.0))
    return {};
  OrientationGroups stopped;
  stopped.stopped = true;
  if (!FindOrbits(w) || !FindContacts(w))
    return stopped;
  OrientationGroups out = GroupsOf(w);
  return cancel.Step() ? stopped : out;
}
