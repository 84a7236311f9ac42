#include "KeptVectors.h"

#include "FractionalPlaces.h"
#include "HostServices.h"
#include "StructureArrays.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>
#include <utility>

namespace {

// The scopes open now, outermost first. Everything runs on the main thread.
std::vector<KeptVectors *> gScopes;

ElementCode ElementOf(const CrystalRec &c, const AtomRecord &atom) {
  // The atom type first: a command may have reordered the sites the atom
  // still names.
  if (atom.atomType < UsableRecords(c.spheres.size(), c.sphereCount))
    return c.spheres[atom.atomType].element;
  return atom.site < UsableSiteSize(c) ? c.sites[atom.site].elements[0] : kBlankElement;
}

// The largest coordinate difference of the atom from the place, directly or
// (with `lattice`) after whole cells are taken off. A rebuilt atom stands
// where a vector's atom went when it is within the same-place tolerance.
double Offset(const AtomRecord &atom, const double place[3], bool lattice) {
  double worst = 0.0;
  for (int k = 0; k < 3; k++) {
    double d = static_cast<double>(atom.xyz[k]) - place[k];
    if (lattice)
      d -= std::round(d);
    worst = std::max(worst, std::fabs(d));
  }
  return worst;
}

} // namespace

KeptVectors::KeptVectors(CrystalRec &c) : crystal_(&c) {
  gScopes.push_back(this);
  for (size_t k = 0; k < UsableRecords(c.vectors.size(), c.vectorCount); k++) {
    const VectorRecord &v = c.vectors[k];
    if (v.atom >= UsableAtomSize(c)) {
      lost_++;
      continue;
    }
    Entry entry;
    entry.vector = v;
    const AtomRecord &atom = c.atoms[v.atom];
    for (int i = 0; i < 3; i++)
      entry.place[i] = atom.xyz[i];
    entry.element = ElementOf(c, atom);
    entry.source = v.atom;
    entry.scope = this;
    kept_.push_back(entry);
  }
  DestroyVectorsArray(&c);
}

KeptVectors::~KeptVectors() {
  if (crystal_ && (!kept_.empty() || lost_ > 0))
    PutBack();
  gScopes.erase(std::find(gScopes.begin(), gScopes.end(), this));
}

void KeptVectors::MoveEach(const std::function<void(double place[3], float uvw[3])> &move) {
  for (Entry &entry : kept_)
    move(entry.place, entry.vector.uvw);
}

void KeptVectors::Move(const double M[9], const double t[3]) {
  MoveEach([M, t](double place[3], float uvw[3]) {
    double x[3], u[3];
    for (int i = 0; i < 3; i++) {
      x[i] = t[i];
      u[i] = 0.0;
      for (int j = 0; j < 3; j++) {
        x[i] += M[3 * i + j] * place[j];
        u[i] += M[3 * i + j] * static_cast<double>(uvw[j]);
      }
    }
    for (int i = 0; i < 3; i++) {
      place[i] = x[i];
      uvw[i] = static_cast<float>(u[i]);
    }
  });
}

bool KeptVectors::PutBack() {
  if (!crystal_)
    return false;
  CrystalRec &c = *crystal_;
  std::vector<Entry> entries;
  int32_t lost = 0;
  for (KeptVectors *scope : gScopes)
    if (scope->crystal_ == crystal_) {
      entries.insert(entries.end(), scope->kept_.begin(), scope->kept_.end());
      scope->kept_.clear();
      lost += scope->lost_;
      scope->lost_ = 0;
    }
  if (entries.empty() && lost == 0)
    return false;

  // Each vector goes to the shown atom at its place; failing that (crystals
  // only) to a shown image of it that no other atom's vectors went to. An
  // atom the build leaves hidden draws no vector: a vector with nowhere else
  // to go is left out. Of several, one of its element, then the nearest.
  const bool lattice = !c.molecule;
  // The atoms as places, numbered as the atoms are.
  FractionalPlaces atomPlaces(UsableAtomSize(c));
  for (size_t k = 0; k < UsableAtomSize(c); k++) {
    const double xyz[3] = {c.atoms[k].xyz[0], c.atoms[k].xyz[1], c.atoms[k].xyz[2]};
    atomPlaces.Add(xyz);
  }
  std::unordered_map<uint32_t, const Entry *> claimedBy;
  std::vector<int64_t> placedOn(entries.size(), -1);
  for (bool translated : {false, true}) {
    if (translated && !lattice)
      break;
    for (size_t e = 0; e < entries.size(); e++) {
      if (placedOn[e] >= 0)
        continue;
      const Entry &entry = entries[e];
      int64_t best = -1;
      double bestRank = 0.0;
      atomPlaces.ForEachNear(entry.place, 0, [&](size_t k) {
        const AtomRecord &atom = c.atoms[k];
        const double offset = Offset(atom, entry.place, translated);
        if (!atom.visible || !(offset < kSamePlaceTolerance))
          return;
        auto claim = claimedBy.find(static_cast<uint32_t>(k));
        if (claim != claimedBy.end() && (claim->second->scope != entry.scope || claim->second->source != entry.source))
          return;
        const double rank = (ElementOf(c, atom) != entry.element ? 1.0 : 0.0) + offset;
        // Of two ranked alike, the first atom.
        if (best < 0 || rank < bestRank || (rank == bestRank && static_cast<int64_t>(k) < best)) {
          best = static_cast<int64_t>(k);
          bestRank = rank;
        }
      });
      if (best >= 0) {
        placedOn[e] = best;
        claimedBy.emplace(static_cast<uint32_t>(best), &entry);
      }
    }
  }

  int32_t placed = 0;
  c.vectors.resize(UsableRecords(c.vectors.size(), c.vectorCount));
  for (size_t e = 0; e < entries.size(); e++) {
    if (placedOn[e] < 0) {
      lost++;
      continue;
    }
    VectorRecord v = entries[e].vector;
    v.atom = static_cast<uint32_t>(placedOn[e]);
    c.vectors.push_back(v);
    c.atoms[v.atom].hasVector = 1;
    placed++;
  }
  c.vectorCount = static_cast<int32_t>(c.vectors.size());
  if (lost > 0) {
    char line[128];
    std::snprintf(line, sizeof line, "%d vector%s left out: no atom of the new structure stands where %s drawn.", lost,
                  lost == 1 ? "" : "s", lost == 1 ? "it was" : "they were");
    FWrite(line);
  }
  return placed > 0;
}

void ForgetKeptVectors(const CrystalRec &c) {
  for (KeptVectors *scope : gScopes)
    if (scope->crystal_ == &c) {
      scope->crystal_ = nullptr;
      scope->kept_.clear();
      scope->lost_ = 0;
    }
}
