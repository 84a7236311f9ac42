// The orientation groups of a structure, inferred once per state of its inputs.
#include "InferredOrientations.h"

#include "StructureArrays.h"
#include "UnitCell.h"

#include <cstring>

namespace {

// FNV-1a over the bytes of what the inference reads.
class InputKey {
public:
  template <class T> void Add(const T &value) {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    for (const unsigned char b : bytes)
      hash_ = (hash_ ^ b) * kPrime;
  }
  uint64_t Value() const { return hash_; }

private:
  static constexpr uint64_t kPrime = 1099511628211ull;
  uint64_t hash_ = 14695981039346656037ull;
};

uint64_t KeyOf(CrystalRec &c) {
  InputKey key;
  key.Add(c.molecule);
  for (const float v : {c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.originShift[0], c.originShift[1], c.originShift[2]})
    key.Add(v);
  int32_t nOps = 0;
  const auto ops = GetCrystalGEPs(&c, &nOps);
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

const OrientationGroups &InferredOrientations::Of(CrystalRec &crystal) {
  const uint64_t key = KeyOf(crystal);
  if (held_ && key == key_)
    return groups_;
  held_ = false;
  groups_ = InferOrientationGroups(crystal);
  held_ = !groups_.stopped;
  key_ = key;
  return groups_;
}

InferredOrientations &SharedInferredOrientations() {
  static InferredOrientations holder;
  return holder;
}
