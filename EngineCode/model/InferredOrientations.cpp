// The orientation groups of a structure, shared with the last structure that
// inferred them from the same inputs.
#include "InferredOrientations.h"

#include "BondSearch.h"
#include "StructureArrays.h"
#include "UnitCell.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace {

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

// The key a test gives every structure (0: none).
std::atomic<uint64_t> gForcedKey{0};

// The last groups any structure inferred, by the digest of what they were
// inferred from, with the inputs themselves: two inputs may share a digest,
// so a digest alone never says the inputs are the same.
struct LastInferred {
  std::mutex lock;
  uint64_t key = 0;
  std::string inputs;
  std::shared_ptr<const OrientationGroups> groups;
};

LastInferred &Last() {
  static LastInferred last;
  return last;
}

} // namespace

void InputDigest::AddBytes(const void *data, size_t size) {
  const auto *bytes = static_cast<const unsigned char *>(data);
  for (size_t at = 0; at < size; at += sizeof(uint64_t)) {
    uint64_t word = 0;
    std::memcpy(&word, bytes + at, std::min(sizeof(uint64_t), size - at));
    hash_ = (hash_ ^ word) * kPrime;
    hash_ ^= hash_ >> 29;
  }
}

std::string OrientationInputs(const CrystalRec &c) {
  std::string out;
  const auto add = [&out](const auto &value) { out.append(reinterpret_cast<const char *>(&value), sizeof(value)); };
  add(c.molecule);
  for (const float v : {c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.originShift[0], c.originShift[1], c.originShift[2]})
    add(v);
  int32_t nOps = 0;
  const auto ops = CrystalOperators(c, &nOps);
  add(ops ? ops->size() : size_t{0});
  if (ops)
    for (const GEP &op : *ops) {
      add(op.rotation);
      add(op.translation);
    }
  const size_t nSites = UsableSiteSize(c);
  add(nSites);
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = c.sites[s];
    add(site.xyz);
    add(site.elements);
    add(site.occupancies);
    add(site.disorderGroup);
  }
  return out;
}

uint64_t DigestOf(const std::string &bytes) {
  InputDigest digest;
  digest.AddBytes(bytes.data(), bytes.size());
  return digest.Value();
}

std::shared_ptr<const OrientationGroups> InferOrShareOrientationGroups(const CrystalRec &crystal) {
  if (!AnyCandidate(crystal))
    return std::make_shared<const OrientationGroups>();
  std::string inputs = OrientationInputs(crystal);
  const uint64_t forced = gForcedKey.load();
  const uint64_t key = forced != 0 ? forced : DigestOf(inputs);
  LastInferred &last = Last();
  {
    const std::lock_guard<std::mutex> hold(last.lock);
    if (last.groups && last.key == key && last.inputs == inputs)
      return last.groups;
  }
  auto groups = std::make_shared<const OrientationGroups>(InferOrientationGroups(crystal));
  if (!groups->stopped) {
    const std::lock_guard<std::mutex> hold(last.lock);
    last.key = key;
    last.inputs = std::move(inputs);
    last.groups = groups;
  }
  return groups;
}

void ForgetSharedOrientationGroups() {
  LastInferred &last = Last();
  const std::lock_guard<std::mutex> hold(last.lock);
  last.key = 0;
  last.inputs.clear();
  last.groups.reset();
}

void ForceOrientationKeyForTests(uint64_t key) { gForcedKey.store(key); }
