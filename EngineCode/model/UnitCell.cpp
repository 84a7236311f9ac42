// Generation of the unit cell from the asymmetric unit.
#include "UnitCell.h"
#include "BondSearch.h"
#include "CovalentRadii.h"

#include "Alerts.h"
#include "EllipsoidMaths.h"
#include "FractionalPlaces.h"
#include "HostServices.h"
#include "MemoryBudget.h"
#include "Preferences.h"
#include "SpaceGroups.h"
#include "StructureArrays.h"
#include "Utilities.h"
#include "VectorMath.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <new>
#include <span>
#include <string>
#include <unordered_map>

namespace {

// Records reserved at once for a new cell; more are added as needed.
constexpr int64_t kInitialAtomReserve = int64_t{1} << 20;

// The fractional part of a value, keeping its sign: (-1, 1).
double SignedFraction(double v) { return v - std::trunc(v); }

} // namespace

// ---- Wrapping and coincidence ------------------------------------------------

float MoveIntoCell(float x) {
  if (!std::isfinite(x))
    return 0.0f;
  float r = x;
  if (r > 1.0f)
    r -= std::trunc(r);
  else if (r < 0.0f)
    r = (r - std::trunc(r)) + 1.0f;
  if (static_cast<double>(r) > kCellEdgeSnapHigh || static_cast<double>(r) < kCellEdgeSnapLow)
    r = 0.0f;
  return r;
}

void MoveVectorIntoCell(float out[3], const float in[3]) {
  for (int i = 0; i < 3; i++)
    out[i] = MoveIntoCell(in[i]);
}

bool PositionsCoincide(const float a[3], const float b[3]) { return SamePlace(a, b); }

// ---- Origin shift -------------------------------------------------------------

float ReduceOriginShift(double shift) {
  if (!std::isfinite(shift))
    return 0.0f;
  if (std::fabs(shift) < 1.0)
    return static_cast<float>(shift);
  return static_cast<float>(SignedFraction(shift));
}

void ApplySymmetryOperator(const GEP &op, const float xyz[3], const float originShift[3], double out[3]) {
  // The float sums below hold a site's position only beside a shift of less
  // than a cell: at 4000 cells a float keeps 0.0005 of a cell, at 100000 a
  // sixtieth.
  const float o[3] = {ReduceOriginShift(originShift[0]), ReduceOriginShift(originShift[1]),
                      ReduceOriginShift(originShift[2])};
  for (int i = 0; i < 3; i++) {
    float sum = 0.0f;
    for (int j = 0; j < 3; j++)
      sum += static_cast<float>(op.rotation[i][j]) * (xyz[j] + o[j]);
    out[i] = sum + op.translation[i] - o[i];
  }
}

namespace {

// The wrapped image of a point, as the site removal and the multiplicity make
// it.
void WrappedImage(const GEP &op, const float xyz[3], const float originShift[3], float out[3]) {
  double raw[3];
  ApplySymmetryOperator(op, xyz, originShift, raw);
  for (int i = 0; i < 3; i++)
    out[i] = MoveIntoCell(static_cast<float>(raw[i]));
}

} // namespace

// ---- Operators --------------------------------------------------------------

namespace {

// Fills the card slots from the space group and answers the number of cards;
// `recognised` says whether the symbol named a group (an unknown one gives
// P 1 and is left as it was).
int32_t SymcardsFromSpacegroup(CrystalRec &c, bool &recognised) {
  // A symbol holds some character from "(" up (letters, digits, "-", "/");
  // blanks and punctuation alone are no symbol.
  bool haveSymbol = false;
  for (int i = 0; i < kSpaceGroupSymbolSize - 1 && c.spaceGroup[i] != '\0'; i++)
    if (static_cast<unsigned char>(c.spaceGroup[i]) >= '(')
      haveSymbol = true;
  if (!haveSymbol) {
    MyCFCautionAlert("No spacegroup symbol or symmetry cards defined.", "Spacegroup 'P 1' assumed.");
    MyStrCopy(std::span<char>(c.spaceGroup), "P 1");
  }
  uint16_t count = 0;
  char lattice = c.latticeLetter;
  recognised = Spaceg(std::span<char>(c.spaceGroup), c.originChoice, c.alpha, c.beta, c.gamma, lattice, count,
                      std::span<Symcard>(c.symCards));
  c.latticeLetter = lattice;
  if (count == 0) {
    count = 1;
    c.latticeLetter = 'P';
    MyStrCopy(std::span<char>(c.spaceGroup), "P 1");
    c.symCards[0] = MakeSymcard(kIdentityCard);
  }
  return count;
}

// A symbol that names no group builds a P 1 crystal (files written with such
// a symbol are read that way); the user is told which symbol it was, once per
// cell generation. The symbol itself is kept as it stands.
void AnnounceUnknownSpacegroup(const CrystalRec &c) {
  const std::string symbol(CStrView(std::span<const char>(c.spaceGroup)));
  const std::string message = "Unknown spacegroup symbol '" + symbol + "'.";
  MyCFCautionAlert(message, "Spacegroup 'P 1' assumed.");
  FWriteColor("Unknown spacegroup symbol '" + symbol + "': spacegroup 'P 1' assumed.", kRGBRed);
}

// Every card once per centring vector of the lattice letter, card-major.
std::optional<std::vector<GEP>> CardsTimesCentring(std::span<const Symcard> cards, char latticeLetter,
                                                   const CrystalRec &c, int32_t *count) {
  int16_t nVectors = 0;
  CentringVectors centring;
  Bravais(EffectiveLatticeLetter(latticeLetter, c.alpha, c.beta, c.gamma), nVectors, centring);
  std::vector<GEP> ops;
  try {
    ops.reserve(cards.size() * static_cast<size_t>(nVectors));
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return std::nullopt;
  }
  for (const Symcard &symcard : cards) {
    GEP card;
    Symcard2GEP(symcard, card);
    for (int16_t v = 0; v < nVectors; v++) {
      GEP op = card;
      for (int i = 0; i < 3; i++)
        op.translation[i] = card.translation[i] + centring[static_cast<size_t>(v)][static_cast<size_t>(i)];
      ops.push_back(op);
    }
  }
  if (count)
    *count = static_cast<int32_t>(ops.size());
  return ops;
}

std::optional<std::vector<GEP>> CrystalGEPs(CrystalRec *crystal, int32_t *count, bool announceUnknownSymbol) {
  if (count)
    *count = 0;
  if (!crystal)
    return std::nullopt;
  CrystalRec &c = *crystal;
  int32_t cards = std::min<int32_t>(c.cardCount, kMaxSymCards);
  if (cards == 0) {
    bool recognised = true;
    cards = SymcardsFromSpacegroup(c, recognised);
    if (!recognised && announceUnknownSymbol)
      AnnounceUnknownSpacegroup(c);
  }
  return CardsTimesCentring(std::span<const Symcard>(c.symCards.data(), static_cast<size_t>(cards)), c.latticeLetter,
                            c, count);
}

} // namespace

int32_t GetSymcardsFromSpacegroup(CrystalRec *crystal) {
  if (!crystal)
    return 0;
  bool recognised = true;
  return SymcardsFromSpacegroup(*crystal, recognised);
}

std::optional<std::vector<GEP>> GetCrystalGEPs(CrystalRec *crystal, int32_t *count) {
  return CrystalGEPs(crystal, count, false);
}

std::optional<std::vector<GEP>> CrystalOperators(const CrystalRec &c, int32_t *count) {
  if (count)
    *count = 0;
  const int32_t held = std::min<int32_t>(c.cardCount, kMaxSymCards);
  if (held > 0)
    return CardsTimesCentring(std::span<const Symcard>(c.symCards.data(), static_cast<size_t>(held)), c.latticeLetter,
                              c, count);
  // The group's cards, made aside as SymcardsFromSpacegroup makes them.
  std::array<char, kSpaceGroupSymbolSize> symbol{};
  std::copy(std::begin(c.spaceGroup), std::end(c.spaceGroup), symbol.begin());
  bool haveSymbol = false;
  for (int i = 0; i < kSpaceGroupSymbolSize - 1 && symbol[static_cast<size_t>(i)] != '\0'; i++)
    if (static_cast<unsigned char>(symbol[static_cast<size_t>(i)]) >= '(')
      haveSymbol = true;
  std::vector<Symcard> cards(c.symCards.size());
  uint16_t n = 0;
  char lattice = c.latticeLetter;
  if (!haveSymbol)
    MyStrCopy(std::span<char>(symbol), "P 1");
  Spaceg(std::span<char>(symbol), c.originChoice, c.alpha, c.beta, c.gamma, lattice, n, std::span<Symcard>(cards));
  if (n == 0) {
    n = 1;
    lattice = 'P';
    cards[0] = MakeSymcard(kIdentityCard);
  }
  return CardsTimesCentring(std::span<const Symcard>(cards.data(), n), lattice, c, count);
}

// ---- Cell generation ---------------------------------------------------------

namespace {

// With more operators than this a new image looks for an earlier image of
// its site at its place through OrbitSums; with fewer it is compared with
// every earlier image, which costs less than the sums while they are few.
constexpr int32_t kScannedOrbitOps = 48;

// The images a site has made so far, found by a weighted sum of their wrapped
// coordinates, s = x + 2y + 4z modulo 1: two images of one atom (each
// coordinate within the rule's reach of the axis modulo 1) have sums within
// r0 + 2 r1 + 4 r2 modulo 1, whichever whole cells lie between them, so an
// image looks only at the earlier images of its slot of the sum and, when it
// lies within that reach (and a margin for the float sum) of a side of its
// slot, at those of the neighbouring slot (the last slot and the first are
// neighbours). The slots are as many as keep the reach within one. The
// weights tell apart the images a cubic operator makes by swapping
// coordinates, which share the plain sum. The slots' heads carry a
// generation, so that a new site empties them all at once.
class OrbitSums {
public:
  static constexpr int32_t kMostSlots = 256;

  explicit OrbitSums(const OneAtomRule &rule) {
    const double sum = rule.Reach(0) + 2.0 * rule.Reach(1) + 4.0 * rule.Reach(2) + 1e-5;
    slots_ = static_cast<int32_t>(std::clamp(std::floor(0.99 / sum), 1.0, double{kMostSlots}));
    reach_ = static_cast<float>(sum * slots_);
    heads_.resize(static_cast<size_t>(slots_));
  }

  // Room for this many images of a site.
  void Reserve(size_t images) { entries_.reserve(images); }
  // Forgets every image. A build clears once per site, fewer times than the
  // generation counts to.
  void Clear() {
    entries_.clear();
    generation_++;
  }

  void Add(const float xyz[3], int32_t index) {
    Head &head = heads_[static_cast<size_t>(Slot(Scaled(xyz)))];
    const uint32_t next = head.generation == generation_ ? head.first : kEnd;
    entries_.push_back({index, next});
    head = {static_cast<uint32_t>(entries_.size() - 1), generation_};
  }

  // Calls visit(index) for each image added whose sum may lie within reach
  // of xyz's; stops when visit answers true and answers true then.
  template <typename Visit> bool AnyNear(const float xyz[3], Visit &&visit) const {
    const float scaled = Scaled(xyz);
    const int32_t k = Slot(scaled);
    const float offset = scaled - static_cast<float>(k);
    if (Walk(k, visit))
      return true;
    if (offset < reach_ && Walk(k == 0 ? slots_ - 1 : k - 1, visit))
      return true;
    return offset > 1.0f - reach_ && Walk(k == slots_ - 1 ? 0 : k + 1, visit);
  }

private:
  static constexpr uint32_t kEnd = ~uint32_t{0};
  struct Head {
    uint32_t first = kEnd;   // the latest image of the slot
    uint32_t generation = 0; // the slot holds images when it is the table's
  };
  struct Entry {
    int32_t index;
    uint32_t next; // the image added before it to the same slot, or kEnd
  };

  // The sum modulo 1, in slot widths: [0, slots].
  float Scaled(const float xyz[3]) const {
    const float sum = xyz[0] + 2.0f * xyz[1] + 4.0f * xyz[2];
    return (sum - std::floor(sum)) * static_cast<float>(slots_);
  }
  int32_t Slot(float scaled) const { return std::clamp(static_cast<int32_t>(scaled), 0, slots_ - 1); }
  template <typename Visit> bool Walk(int32_t k, Visit &visit) const {
    const Head &head = heads_[static_cast<size_t>(k)];
    if (head.generation != generation_)
      return false;
    for (uint32_t e = head.first; e != kEnd; e = entries_[e].next)
      if (visit(entries_[e].index))
        return true;
    return false;
  }

  int32_t slots_ = 1;
  float reach_ = 0.0f; // in slot widths, below one
  std::vector<Head> heads_;
  std::vector<Entry> entries_;
  uint32_t generation_ = 1;
};

// Of two images of one atom on either side of a cell face (one just below
// 1, the other just above 0 on an axis, neither snapped to 0), the atom
// stands at the one above 0, so that a range of whole cells shows it on
// both faces as it shows an atom at 0.
bool NearerTheOrigin(const float image[3], const float kept[3]) {
  bool below = false;
  for (int i = 0; i < 3; i++) {
    if (kept[i] < 0.5f && image[i] > 0.5f)
      return false;
    below = below || (kept[i] > 0.5f && image[i] < 0.5f);
  }
  return below;
}

} // namespace

bool GenCell(CrystalRec *crystal) {
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;
  // The old atoms go whatever happens: on failure none are left that could
  // name sites which are no longer there.
  DestroyAtomsArray(crystal);
  c.atomsPerCell = 0;
  const int32_t nSites = UsableSiteCount(c);
  if (nSites < 1)
    return false;
  int32_t nOps = 0;
  auto ops = CrystalGEPs(crystal, &nOps, true);
  if (!ops || nOps < 1)
    return false;

  const bool ellipsoids = c.ellipsoidData != 0;
  std::vector<AtomRecord> atoms;
  auto outOfMemory = [&]() {
    MyCFStopAlert("No Memory for atoms");
    return false;
  };
  // Room for every site's full orbit (a site on a special position leaves
  // part of it unused); a very large cell grows beyond the first reserve.
  const int64_t bound = int64_t{nSites} * nOps;
  // Each image is checked against the site's earlier images, in a large
  // orbit through their sums.
  const bool summed = nOps > kScannedOrbitOps;
  const OneAtomRule rule(c);
  OrbitSums images(rule);
  try {
    atoms.reserve(static_cast<size_t>(std::min<int64_t>(bound, kInitialAtomReserve)));
    if (summed)
      images.Reserve(static_cast<size_t>(nOps));
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return outOfMemory();
  }

  for (int32_t s = 0; s < nSites; s++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    const size_t first = atoms.size();
    images.Clear();
    float axes[3][3] = {};
    float axisPoints[3][3] = {};
    if (ellipsoids) {
      GetEllipsoidAxes(crystal, s, axes);
      for (int k = 0; k < 3; k++)
        for (int i = 0; i < 3; i++)
          axisPoints[k][i] = site.xyz[i] + axes[k][i];
    }
    for (const GEP &op : *ops) {
      double raw[3];
      ApplySymmetryOperator(op, site.xyz, c.originShift, raw);
      float xyz[3];
      float shift[3];
      for (int i = 0; i < 3; i++) {
        const float unwrapped = static_cast<float>(raw[i]);
        xyz[i] = MoveIntoCell(unwrapped);
        shift[i] = xyz[i] - unwrapped;
      }
      // The earliest image of one atom with this one, else atoms.size().
      size_t kept = atoms.size();
      const auto samePlace = [&](size_t a) {
        if (!rule.Same(xyz, atoms[a].xyz))
          return false;
        kept = std::min(kept, a);
        return true;
      };
      if (summed)
        images.AnyNear(xyz, [&](int32_t a) {
          samePlace(static_cast<size_t>(a));
          return false;
        });
      else
        for (size_t a = first; a < atoms.size() && kept == atoms.size(); a++)
          samePlace(a);
      if (kept != atoms.size() && !NearerTheOrigin(xyz, atoms[kept].xyz))
        continue;
      if (kept == atoms.size()) {
        if (static_cast<int64_t>(atoms.size()) >= kMaxArrayRecords)
          return outOfMemory();
        try {
          atoms.push_back(gBlankAtom);
        } catch (const std::bad_alloc &) {
          if (MemoryFailuresPass())
            throw;
          return outOfMemory();
        }
      }
      AtomRecord &atom = atoms[kept];
      atom.site = static_cast<uint32_t>(s);
      atom.atomType = site.atomType;
      atom.visible = 1;
      for (int i = 0; i < 3; i++)
        atom.xyz[i] = xyz[i];
      if (summed)
        images.Add(atom.xyz, static_cast<int32_t>(kept));
      if (ellipsoids) {
        for (int k = 0; k < 3; k++) {
          double end[3];
          ApplySymmetryOperator(op, axisPoints[k], c.originShift, end);
          for (int i = 0; i < 3; i++)
            atom.ellipsoidAxes[k][i] = static_cast<float>(end[i]) + shift[i];
        }
      }
    }
    site.firstAtom = static_cast<int32_t>(first);
    site.atomsPerCell = static_cast<int32_t>(atoms.size() - first);
    site.lastAtom = static_cast<int32_t>(atoms.size()) - 1;
  }

  c.atoms = std::move(atoms);
  c.atomCount = static_cast<int32_t>(c.atoms.size());
  c.atomsPerCell = c.atomCount;
  c.derived.Note(kChangeAtoms);
  return true;
}

namespace {

// Positions of kept sites, bucketed so that a symmetry image finds the sites
// it may coincide with without looking at every one.
//
// Each wrapped coordinate falls in one of kBuckets equal buckets per axis. The
// tolerance is well under a bucket, so a coinciding pair lies in the same or
// in neighbouring buckets (bucket kBuckets - 1 and bucket 0 are neighbours: a
// coordinate near 1 coincides with one near 0). A neighbour on one side is
// only looked at when the coordinate lies within the tolerance (and a margin
// for rounding) of that side of its bucket. Sites are kept apart by their
// elements, which must match exactly; the occupancies, which match within a
// tolerance, are compared with the candidates. A bucket and element class
// make a key, hashed to one of a power of two of chains, at least twice the
// sites; a site keeps its key, so that a chain's other keys are passed over
// without a look at their sites.
class SiteBuckets {
public:
  static constexpr int32_t kBuckets = 1024;
  // Reach of the tolerance in bucket widths, with a margin far above the
  // rounding of single-precision coordinates below 1.
  static constexpr float kReach = kSymmetryTolerance * kBuckets + 0.01f;

  // The class of a site's elements (all three codes).
  uint32_t ElementClass(const AsymmetricUnitRecord &site) {
    const uint64_t code = (uint64_t{site.elements[0]} << 32) | (uint64_t{site.elements[1]} << 16) | site.elements[2];
    auto [it, added] = classes_.try_emplace(code, static_cast<uint32_t>(classes_.size()));
    (void)added;
    return it->second;
  }

  void Add(uint32_t elementClass, const float xyz[3], int32_t index) {
    if (2 * (entries_.size() + 1) > heads_.size())
      Grow();
    const uint64_t key = Key(elementClass, Bucket(xyz[0]), Bucket(xyz[1]), Bucket(xyz[2]));
    uint32_t &head = heads_[Chain(key)];
    entries_.push_back({index, head, key});
    head = static_cast<uint32_t>(entries_.size() - 1);
  }

  // Calls visit(index) for each kept site in the buckets that may hold a
  // position coinciding with xyz; stops when visit answers true and answers
  // true then.
  template <typename Visit> bool AnyNear(uint32_t elementClass, const float xyz[3], Visit &&visit) const {
    if (entries_.empty())
      return false;
    int32_t candidates[3][3];
    int counts[3];
    for (int i = 0; i < 3; i++) {
      const float scaled = xyz[i] * static_cast<float>(kBuckets); // exact: a power of two
      const int32_t k = Bucket(xyz[i]);
      const float offset = scaled - static_cast<float>(k);
      int n = 0;
      candidates[i][n++] = k;
      if (offset < kReach)
        candidates[i][n++] = (k + kBuckets - 1) % kBuckets;
      if (offset > 1.0f - kReach)
        candidates[i][n++] = (k + 1) % kBuckets;
      counts[i] = n;
    }
    for (int a = 0; a < counts[0]; a++)
      for (int b = 0; b < counts[1]; b++)
        for (int d = 0; d < counts[2]; d++) {
          const uint64_t key = Key(elementClass, candidates[0][a], candidates[1][b], candidates[2][d]);
          for (uint32_t e = heads_[Chain(key)]; e != kEnd; e = entries_[e].next)
            if (entries_[e].key == key && visit(entries_[e].index))
              return true;
        }
    return false;
  }

private:
  static constexpr uint32_t kEnd = ~uint32_t{0};
  struct Entry {
    int32_t index;
    uint32_t next; // the site added before it to the same chain, or kEnd
    uint64_t key;
  };

  static int32_t Bucket(float v) {
    const int32_t k = static_cast<int32_t>(v * static_cast<float>(kBuckets));
    return std::clamp(k, 0, kBuckets - 1);
  }
  static uint64_t Key(uint32_t elementClass, int32_t x, int32_t y, int32_t z) {
    return (uint64_t{elementClass} << 30) | (static_cast<uint64_t>(x) << 20) | (static_cast<uint64_t>(y) << 10) |
           static_cast<uint64_t>(z);
  }
  size_t Chain(uint64_t key) const { return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask_; }
  // Twice the chains, the sites linked into them again.
  void Grow() {
    heads_.assign(std::max<size_t>(64, heads_.size() * 2), kEnd);
    mask_ = heads_.size() - 1;
    for (size_t e = 0; e < entries_.size(); e++) {
      uint32_t &head = heads_[Chain(entries_[e].key)];
      entries_[e].next = head;
      head = static_cast<uint32_t>(e);
    }
  }

  std::unordered_map<uint64_t, uint32_t> classes_;
  std::vector<uint32_t> heads_; // the latest site of each chain, or kEnd
  std::vector<Entry> entries_;
  size_t mask_ = 0;
};

} // namespace

namespace {

// Sites of two different groups of one disorder assembly are alternatives,
// never copies of each other, even at one place.
bool PartsOfOneDisorder(const AsymmetricUnitRecord &a, const AsymmetricUnitRecord &b) {
  return a.disorderGroup != 0 && b.disorderGroup != 0 && a.disorderAssembly == b.disorderAssembly &&
         a.disorderGroup != b.disorderGroup;
}

} // namespace

void RemoveSymmetryRelatedSites(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  int32_t nOps = 0;
  auto ops = GetCrystalGEPs(crystal, &nOps);
  if (!ops || nOps <= 1)
    return;
  const int32_t nSites = UsableSiteCount(c);
  if (nSites < 2)
    return;

  // A site goes when one of its images falls on an earlier site that stays
  // (with the same elements and occupancies); the first site of each class
  // stays in its place and the others close up behind it.
  SiteBuckets kept;
  std::vector<float> keptXYZ(static_cast<size_t>(nSites) * 3);
  int32_t nKept = 0;
  for (int32_t j = 0; j < nSites; j++) {
    const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(j)];
    const uint32_t elementClass = kept.ElementClass(site);
    bool related = false;
    if (nKept > 0) {
      for (const GEP &op : *ops) {
        float image[3];
        WrappedImage(op, site.xyz, c.originShift, image);
        related = kept.AnyNear(elementClass, image, [&](int32_t i) {
          const AsymmetricUnitRecord &other = c.sites[static_cast<size_t>(i)];
          return SitesHaveSameOccupancy(other, site) && !PartsOfOneDisorder(other, site) &&
                 SamePlace(image, &keptXYZ[static_cast<size_t>(i) * 3]);
        });
        if (related)
          break;
      }
    }
    if (related)
      continue;
    if (nKept != j)
      c.sites[static_cast<size_t>(nKept)] = c.sites[static_cast<size_t>(j)];
    float *wrapped = &keptXYZ[static_cast<size_t>(nKept) * 3];
    MoveVectorIntoCell(wrapped, c.sites[static_cast<size_t>(nKept)].xyz);
    kept.Add(elementClass, wrapped, nKept);
    nKept++;
  }
  if (nKept < nSites)
    RedimensionAsymmetricUnit(crystal, nKept);
}

bool GetSiteMultiplicity(CrystalRec *crystal, float xyz[3], int32_t *multiplicity) {
  if (multiplicity)
    *multiplicity = 0;
  if (!crystal || !xyz)
    return false;
  CrystalRec &c = *crystal;
  for (int i = 0; i < 3; i++) {
    float v = xyz[i];
    if (v >= 1.0f)
      v -= std::trunc(v);
    else if (v < 0.0f)
      v = (v - std::trunc(v)) + 1.0f;
    // A negative whole number, or a value a hair below 0, comes out as 1.0:
    // that is the cell edge, 0.
    if (v >= 1.0f)
      v = 0.0f;
    xyz[i] = v;
  }
  int32_t nOps = 0;
  auto ops = GetCrystalGEPs(crystal, &nOps);
  if (!ops)
    return false;
  const OneAtomRule rule(c);
  std::vector<float> images;
  try {
    images.reserve(static_cast<size_t>(nOps) * 3);
  } catch (const std::bad_alloc &) {
    return false;
  }
  int32_t n = 0;
  for (const GEP &op : *ops) {
    float image[3];
    WrappedImage(op, xyz, c.originShift, image);
    bool seen = false;
    for (int32_t k = 0; k < n && !seen; k++)
      seen = rule.Same(image, &images[static_cast<size_t>(k) * 3]);
    if (seen)
      continue;
    images.insert(images.end(), image, image + 3);
    n++;
  }
  if (multiplicity)
    *multiplicity = n;
  return true;
}

std::optional<std::vector<AsymmetricUnitRecord>> GenCellAU(CrystalRec *crystal, int32_t *count) {
  if (count)
    *count = 0;
  if (!crystal)
    return std::nullopt;
  CrystalRec &c = *crystal;
  int32_t nOps = 0;
  auto ops = GetCrystalGEPs(crystal, &nOps);
  if (!ops)
    return std::nullopt;
  const int32_t nSites = UsableSiteCount(c);
  const int64_t bound = int64_t{nSites} * nOps;
  if (bound > kMaxArrayRecords)
    return std::nullopt;
  std::vector<AsymmetricUnitRecord> out;
  try {
    out.reserve(static_cast<size_t>(bound));
  } catch (const std::bad_alloc &) {
    return std::nullopt;
  }
  const bool ellipsoids = c.ellipsoidData != 0;
  const ImageDisorder disorder = ImageAssemblies(c);
  const std::vector<int16_t> &assemblies = disorder.assemblies;
  const OneAtomRule rule(c);
  for (int32_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    const size_t first = out.size();
    for (size_t opIndex = 0; opIndex < ops->size(); opIndex++) {
      const GEP &op = (*ops)[opIndex];
      double raw[3];
      ApplySymmetryOperator(op, site.xyz, c.originShift, raw);
      float xyz[3];
      for (int i = 0; i < 3; i++)
        xyz[i] = static_cast<float>(SignedFraction(raw[i]));
      bool duplicate = false;
      for (size_t k = first; k < out.size() && !duplicate; k++)
        duplicate = rule.Same(xyz, out[k].xyz);
      if (duplicate)
        continue;
      AsymmetricUnitRecord copy = site;
      const int32_t index = static_cast<int32_t>(out.size());
      copy.firstAtom = index;
      copy.lastAtom = index;
      copy.atomsPerCell = 1;
      for (int i = 0; i < 3; i++)
        copy.xyz[i] = xyz[i];
      if (const int16_t assembly = assemblies[static_cast<size_t>(s)]; assembly != 0) {
        copy.disorderAssembly = assembly;
        copy.disorderGroup = disorder.Group(static_cast<size_t>(s), opIndex);
      }
      if (ellipsoids) {
        float R[9], Rt[9], RU[9];
        for (int i = 0; i < 3; i++)
          for (int j = 0; j < 3; j++)
            R[3 * i + j] = static_cast<float>(op.rotation[i][j]);
        Transpose3x3Mat(R, Rt);
        MatMul33x33(R, site.tensor, RU);
        MatMul33x33(RU, Rt, copy.tensor);
      }
      out.push_back(copy);
    }
  }
  if (out.empty())
    return std::nullopt;
  if (count)
    *count = static_cast<int32_t>(out.size());
  return out;
}

// ---- Images of one atom ------------------------------------------------------

namespace {

// How many of a site's images (wrapped positions) are places of one atom: the
// images joined to the first by chains of images closer than `reach` (A).
// By symmetry every image has as many. `G` is the metric tensor.
// The squared distance (A^2) between two fractional places, the nearest
// lattice translation apart.
double LatticeDistanceSq(const float a[3], const float b[3], const float G[9]) {
  double d[3];
  for (int i = 0; i < 3; i++) {
    d[i] = double(a[i]) - double(b[i]);
    d[i] -= std::round(d[i]);
  }
  double d2 = 0.0;
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++)
      d2 += d[i] * double(G[3 * i + j]) * d[j];
  return d2;
}

int32_t ImagesOfOneAtom(const std::vector<std::array<float, 3>> &images, const float G[9], double reach) {
  std::vector<uint8_t> joined(images.size(), 0);
  std::vector<size_t> open{0};
  joined[0] = 1;
  int32_t count = 1;
  while (!open.empty()) {
    const std::array<float, 3> &p = images[open.back()];
    open.pop_back();
    for (size_t k = 0; k < images.size(); k++) {
      if (joined[k])
        continue;
      if (LatticeDistanceSq(images[k].data(), p.data(), G) < reach * reach) {
        joined[k] = 1;
        open.push_back(k);
        count++;
      }
    }
  }
  return count;
}

} // namespace

int32_t ShareOccupancyAmongCloseImages(CrystalRec *crystal, size_t siteIndex, std::span<const GEP> ops) {
  if (!crystal || siteIndex >= crystal->sites.size() || ops.size() < 2)
    return 1;
  CrystalRec &c = *crystal;
  AsymmetricUnitRecord &site = c.sites[siteIndex];
  const CovalentRadiusRow *row = FindCovalentRadius(site.elements[0]);
  if (!row || !(row->radius > 0.0f))
    return 1;
  float G[9];
  GetMetricTensor(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, G);
  const double reach = kOneAtomImagesFactor * 2.0 * row->radius;
  const OneAtomRule rule(c);
  // The places joined to the first image are those within reach of it, so
  // with no other place that close (the common case) there is nothing to
  // divide, and the images need not be sorted into places.
  float first[3];
  WrappedImage(ops[0], site.xyz, c.originShift, first);
  const bool anyClose = std::any_of(ops.begin() + 1, ops.end(), [&](const GEP &op) {
    float xyz[3];
    WrappedImage(op, site.xyz, c.originShift, xyz);
    return !rule.Same(xyz, first) && LatticeDistanceSq(xyz, first, G) < reach * reach;
  });
  if (!anyClose)
    return 1;
  // The site's distinct images, as the cell's generation makes them.
  std::vector<std::array<float, 3>> images;
  for (const GEP &op : ops) {
    float xyz[3];
    WrappedImage(op, site.xyz, c.originShift, xyz);
    if (std::none_of(images.begin(), images.end(),
                     [&](const std::array<float, 3> &q) { return rule.Same(xyz, q.data()); }))
      images.push_back({xyz[0], xyz[1], xyz[2]});
  }
  const int32_t n = images.size() < 2 ? 1 : ImagesOfOneAtom(images, G, reach);
  double occupancy = 0.0;
  for (int k = 0; k < kMaxSiteElements; k++)
    if (site.elements[k] != kBlankElement && site.occupancies[k] > 0.0f)
      occupancy += site.occupancies[k];
  if (n < 2 || !(occupancy * n > 1.0 + kOneAtomOccupancySlack))
    return 1;
  for (float &share : site.occupancies)
    share = static_cast<float>(double(share) / n);
  return n;
}

// ---- Cell validity -----------------------------------------------------------

bool CheckCellIsValid(const CrystalRec *crystal) {
  if (!crystal)
    return false;
  if (CellIsValid(crystal))
    return true;
  char explanation[320];
  std::snprintf(explanation, sizeof explanation,
                "The cell a = %g, b = %g, c = %g, alpha = %g, beta = %g, gamma = %g has no volume: the lengths "
                "must be positive and the angles must enclose a cell of positive volume.",
                static_cast<double>(crystal->a), static_cast<double>(crystal->b), static_cast<double>(crystal->c),
                static_cast<double>(crystal->alpha), static_cast<double>(crystal->beta),
                static_cast<double>(crystal->gamma));
  MyCFCautionAlert("The unit cell is not valid.", explanation);
  return false;
}
