#include "KeptVectors.h"

#include "HostServices.h"
#include "StructureArrays.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// A regenerated atom stands where a vector's atom went when each fractional
// coordinate is within this of the place worked out for it.
constexpr double kAnchorTolerance = 1.0e-3;

ElementCode ElementOf(const CrystalRec &c, const AtomRecord &atom) {
  return atom.site < UsableSiteSize(c) ? c.sites[atom.site].elements[0] : kBlankElement;
}

// The largest coordinate difference of the atom from the place, directly or
// (with `modulo`) after whole cells are taken off.
double Offset(const AtomRecord &atom, const double place[3], bool modulo) {
  double worst = 0.0;
  for (int k = 0; k < 3; k++) {
    double d = static_cast<double>(atom.xyz[k]) - place[k];
    if (modulo)
      d -= std::round(d);
    worst = std::max(worst, std::fabs(d));
  }
  return worst;
}

// The atom of the element nearest the place within the tolerance; -1 when
// none is.
int64_t AtomAt(const CrystalRec &c, const double place[3], ElementCode element, bool modulo) {
  int64_t best = -1;
  double bestOffset = kAnchorTolerance;
  for (size_t k = 0; k < UsableAtomSize(c); k++) {
    const AtomRecord &atom = c.atoms[k];
    if (ElementOf(c, atom) != element)
      continue;
    const double offset = Offset(atom, place, modulo);
    if (offset <= bestOffset) {
      best = static_cast<int64_t>(k);
      bestOffset = offset;
    }
  }
  return best;
}

} // namespace

std::vector<KeptVector> TakeVectors(CrystalRec &c) {
  std::vector<KeptVector> kept;
  for (size_t k = 0; k < UsableRecords(c.vectors.size(), c.vectorCount); k++) {
    const VectorRecord &v = c.vectors[k];
    if (v.atom >= UsableAtomSize(c))
      continue;
    KeptVector entry;
    entry.vector = v;
    const AtomRecord &atom = c.atoms[v.atom];
    for (int i = 0; i < 3; i++)
      entry.anchor[i] = atom.xyz[i];
    entry.element = ElementOf(c, atom);
    kept.push_back(entry);
  }
  DestroyVectorsArray(&c);
  return kept;
}

void MoveTakenVectors(std::vector<KeptVector> &kept, const double M[9], const double t[3]) {
  for (KeptVector &entry : kept) {
    double x[3], u[3];
    for (int i = 0; i < 3; i++) {
      x[i] = t[i];
      u[i] = 0.0;
      for (int j = 0; j < 3; j++) {
        x[i] += M[3 * i + j] * entry.anchor[j];
        u[i] += M[3 * i + j] * static_cast<double>(entry.vector.uvw[j]);
      }
    }
    for (int i = 0; i < 3; i++) {
      entry.anchor[i] = x[i];
      entry.vector.uvw[i] = static_cast<float>(u[i]);
    }
  }
}

bool PutBackVectors(CrystalRec &c, std::vector<KeptVector> &kept) {
  int32_t placed = 0, lost = 0;
  for (KeptVector &entry : kept) {
    int64_t atom = AtomAt(c, entry.anchor, entry.element, false);
    if (atom < 0)
      atom = AtomAt(c, entry.anchor, entry.element, true);
    if (atom < 0) {
      lost++;
      continue;
    }
    entry.vector.atom = static_cast<uint32_t>(atom);
    c.vectors.resize(UsableRecords(c.vectors.size(), c.vectorCount));
    c.vectors.push_back(entry.vector);
    c.vectorCount = static_cast<int32_t>(c.vectors.size());
    c.atoms[static_cast<size_t>(atom)].hasVector = 1;
    placed++;
  }
  kept.clear();
  if (lost > 0) {
    char line[128];
    std::snprintf(line, sizeof line, "%d vector%s left out: no atom of the new structure stands where %s drawn.",
                  lost, lost == 1 ? "" : "s", lost == 1 ? "it was" : "they were");
    FWrite(line);
  }
  return placed > 0;
}
