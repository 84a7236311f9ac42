// The orientation groups of a structure, shared with the last structure that
// inferred them from the same inputs.
#include "InferredOrientations.h"

#include "BondSearch.h"
#include "StructureArrays.h"
#include "UnitCell.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

// A hash of what the inference reads, eight bytes at a time.
class InputKey {
public:
  template <class T> void Add(const T &value) {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    for (size_t at = 0; at < sizeof(T); at += sizeof(uint64_t)) {
      uint64_t word = 0;
      std::memcpy(&word, bytes + at, std::min(sizeof(uint64_t), sizeof(T) - at));
      hash_ = (hash_ ^ word) * kPrime;
      hash_ ^= hash_ >> 29;
    }
  }
  uint64_t Value() const { return hash_; }

private:
  static constexpr uint64_t kPrime = 0x100000001b3ull * 0x9E3779B97F4A7C15ull | 1u;
  uint64_t hash_ = 14695981039346656037ull;
};

// Whether some site may take part in an inferred group (OrientationGroups.h):
// without one there is nothing to infer, nor to remember.
bool AnyCandidate(const CrystalRec &c) {
  if (c.molecule)
    return false;
  const size_t nSites = UsableSiteSize(c);
  for (size_t s = 0; s < nSites; s++)
    if (c.sites[s].disorderGroup == 0 && SiteImagesApart(c.sites[s]))
      return true;
  return false;
}

uint64_t KeyOf(const CrystalRec &c) {
  InputKey key;
  key.Add(c.molecule);
  for (const float v : {c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.originShift[0], c.originShift[1], c.originShift[2]})
    key.Add(v);
  int32_t nOps = 0;
  const auto ops = CrystalOperators(c, &nOps);
  key.Add(ops ? ops->size() : size_t{0});
  if (ops)
    for (const GEP &op : *ops) {
      key.Add(op.rotation);
      key.Add(op.translation);
    }
  const size_t nSites = UsableSiteSize(c);
  key.Add(nSites);
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = c.sites[s];
    key.Add(site.xyz);
    key.Add(site.elements);
    key.Add(site.occupancies);
    key.Add(site.disorderGroup);
  }
  return key.Value();
}

} // namespace

namespace {

// The last groups any structure inferred, by the digest of what they were
// inferred from.
struct LastInferred {
  std::mutex lock;
  uint64_t key = 0;
  std::shared_ptr<const OrientationGroups> groups;
};

LastInferred &Last() {
  static LastInferred last;
  return last;
}

} // namespace

std::shared_ptr<const OrientationGroups> InferOrShareOrientationGroups(const CrystalRec &crystal) {
  if (!AnyCandidate(crystal))
    return std::make_shared<const OrientationGroups>();
  const uint64_t key = KeyOf(crystal);
  LastInferred &last = Last();
  {
    const std::lock_guard<std::mutex> hold(last.lock);
    if (last.groups && last.key == key)
      return last.groups;
  }
  auto groups = std::make_shared<const OrientationGroups>(InferOrientationGroups(crystal));
  if (!groups->stopped) {
    const std::lock_guard<std::mutex> hold(last.lock);
    last.key = key;
    last.groups = groups;
  }
  return groups;
}

void ForgetSharedOrientationGroups() {
  LastInferred &last = Last();
  const std::lock_guard<std::mutex> hold(last.lock);
  last.key = 0;
  last.groups.reset();
}
