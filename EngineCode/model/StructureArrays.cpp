#include "StructureArrays.h"

#include "Alerts.h"
#include "FractionalPlaces.h"
#include "MemoryBudget.h"
#include "Preferences.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>

uint8_t gOVPrinting = 0;
uint8_t gTrackBallRotn = 0;

namespace {

template <class T> T *DataOrNull(std::vector<T> &v) { return v.empty() ? nullptr : v.data(); }

// An array of n copies of a record, or nothing when n is out of range or the
// memory cannot be had.
template <class T> std::optional<std::vector<T>> MakeArray(int64_t n, const T &fill) {
  if (n < 1 || n > kMaxArrayRecords)
    return std::nullopt;
  try {
    return std::vector<T>(static_cast<size_t>(n), fill);
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return std::nullopt;
  }
}

// Appends a copy of the template and answers the new record (the last one);
// nullptr, with the array unchanged, when the array is full or memory is
// exhausted.
template <class T> T *AppendRecord(std::vector<T> &v, int32_t &count, const T &blank) {
  if (static_cast<int64_t>(v.size()) + 1 > kMaxArrayRecords)
    return nullptr;
  try {
    v.push_back(blank);
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return nullptr;
  }
  count = static_cast<int32_t>(v.size());
  return &v.back();
}

// Deletes record i, keeping order; an index out of range is ignored.
template <class T> T *DeleteRecord(std::vector<T> &v, int32_t &count, int32_t i) {
  if (i < 0 || i >= count || static_cast<size_t>(i) >= v.size())
    return DataOrNull(v);
  v.erase(v.begin() + i);
  count = static_cast<int32_t>(v.size());
  if (v.empty())
    std::vector<T>().swap(v);
  return DataOrNull(v);
}

template <class T> void DestroyArray(std::vector<T> &v, int32_t &count) {
  std::vector<T>().swap(v);
  count = 0;
}

bool ValidAtom(const CrystalRec &c, int64_t i) {
  return i >= 0 && i < c.atomCount && static_cast<size_t>(i) < c.atoms.size();
}

bool ValidSite(const CrystalRec &c, int64_t s) {
  return s >= 0 && s < c.siteCount && static_cast<size_t>(s) < c.sites.size();
}

// Lowers every atom index above `above` by `by` in the bonds lists, the
// polyhedra and the vectors.
void LowerAtomIndices(CrystalRec &c, uint32_t above, uint32_t by) {
  auto lower = [&](uint32_t &index) {
    if (index > above)
      index -= by;
  };
  for (AtomRecord &atom : c.atoms) {
    for (uint32_t &b : atom.bonds)
      lower(b);
    atom.polyhedron.RenumberAtoms(lower);
  }
  for (VectorRecord &v : c.vectors)
    lower(v.atom);
  // A custom bond style names its two atoms; it must follow them, or it
  // would restyle some other bond.
  for (CustomBondSpec &spec : c.customBondSpecs) {
    lower(spec.atomA);
    lower(spec.atomB);
  }
}

// Destroys every vector drawn on an atom in [first, last], and every custom
// bond style that names such an atom.
void DestroyVectorsOnAtoms(CrystalRec &c, uint32_t first, uint32_t last) {
  for (int32_t k = static_cast<int32_t>(c.vectors.size()) - 1; k >= 0; k--) {
    uint32_t atom = c.vectors[static_cast<size_t>(k)].atom;
    if (atom >= first && atom <= last)
      DestroyVectorIndex(&c, k);
  }
  auto names = [&](uint32_t atom) { return atom >= first && atom <= last; };
  for (int32_t k = static_cast<int32_t>(c.customBondSpecs.size()) - 1; k >= 0; k--) {
    const CustomBondSpec &spec = c.customBondSpecs[static_cast<size_t>(k)];
    if (names(spec.atomA) || names(spec.atomB))
      DestroyCustomBondSpecIndex(&c, k);
  }
}

// For a molecule, a site's coordination number follows its atom's bonds.
void SyncMoleculeCoordination(CrystalRec &c, uint32_t atom) {
  if (!c.molecule || !ValidAtom(c, atom))
    return;
  uint32_t site = c.atoms[atom].site;
  if (ValidSite(c, site))
    c.sites[site].coordination = c.atoms[atom].bondCount;
}

bool SphereUsedBySite(const CrystalRec &c, uint32_t type) {
  for (int32_t s = 0; s < UsableSiteCount(c); s++)
    if (c.sites[static_cast<size_t>(s)].atomType == type)
      return true;
  return false;
}

// The first site using the atom type, or -1.
int32_t FirstSiteUsingSphere(const CrystalRec &c, uint32_t type) {
  for (int32_t s = 0; s < UsableSiteCount(c); s++)
    if (c.sites[static_cast<size_t>(s)].atomType == type)
      return s;
  return -1;
}

bool SameRadius(float r1, float r2) {
  return std::fabs(static_cast<double>(r1) - static_cast<double>(r2)) < kSphereRadiusTolerance - kSphereRadiusSlack;
}

bool WithinTolerance(const float a[3], const float b[3], float tolerance) {
  for (int k = 0; k < 3; k++)
    if (!(std::fabs(a[k] - b[k]) <= tolerance))
      return false;
  return true;
}

} // namespace

// ---- The structure record ----------------------------------------------------

CrystalRec *CreateCrystalData() {
  CrystalRec *crystal = new (std::nothrow) CrystalRec;
  if (crystal)
    InitBlankCrystalRec(crystal);
  return crystal;
}

void DestroyCrystalData(CrystalRec *crystal) { delete crystal; }

void InitBlankCrystalRec(CrystalRec *crystal) {
  if (!crystal)
    return;
  *crystal = CrystalRec{};
  CopyPrefsToCrystal(&gPrefs, crystal);
}

void ClearCrystalRec(CrystalRec *crystal) {
  if (!crystal)
    return;
  gOVPrinting = 0;
  gTrackBallRotn = 0;
  DestroyAsymmetricUnit(crystal);
  DestroyAtomsArray(crystal);
  DestroySpheresArray(crystal);
  DestroyCustomBondSpecsArray(crystal);
  DestroyCellPts(crystal);
  DestroySortIndex(crystal);
  DestroyVectorsArray(crystal);
  DestroyTextBoxesArray(crystal);
  DestroyCrystalVoxelsArray(crystal);
  crystal->backgroundPicture.clear();
  crystal->backgroundPictureImage.reset();
  InitBlankCrystalRec(crystal);
}

void PurgeUnusedBondSpecs(CrystalRec *crystal) {
  if (!crystal || UsableSphereCount(*crystal) == 0)
    return;
  CrystalRec &c = *crystal;
  auto present = [&](ElementCode e) {
    for (int32_t t = 0; t < UsableSphereCount(c); t++)
      if (c.spheres[static_cast<size_t>(t)].element == e)
        return true;
    return false;
  };
  int32_t n = std::clamp(c.bondSpecCount, 0, kMaxBondSpecs);
  int32_t kept = 0;
  for (int32_t k = 0; k < n; k++) {
    const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
    if (present(spec.elementA) && present(spec.elementB))
      c.bondSpecs[static_cast<size_t>(kept++)] = spec;
  }
  for (int32_t k = kept; k < n; k++)
    c.bondSpecs[static_cast<size_t>(k)] = BondSpec{};
  c.bondSpecCount = kept;
}

ElementCode CheckElementSymbol(ElementCode code) {
  if ((code & 0xFF) < 32)
    code = static_cast<ElementCode>((code & 0xFF00) | ' ');
  return code;
}

// ---- Sites ---------------------------------------------------------------------

AsymmetricUnitRecord *GetCrystalAsymmetricUnit(CrystalRec *crystal) {
  return crystal ? DataOrNull(crystal->sites) : nullptr;
}

std::optional<std::vector<AsymmetricUnitRecord>> CreateAsymmetricUnit(int32_t n) {
  if (n < 1)
    return std::nullopt;
  auto sites = MakeArray<AsymmetricUnitRecord>(n, gBlankAU);
  if (!sites)
    MyCFStopAlert("No Memory");
  return sites;
}

AsymmetricUnitRecord *DestroyAsymmetricUnitIndex(CrystalRec *crystal, int32_t s) {
  if (!crystal)
    return nullptr;
  CrystalRec &c = *crystal;
  if (!ValidSite(c, s))
    return DataOrNull(c.sites);
  const AsymmetricUnitRecord site = c.sites[static_cast<size_t>(s)];

  // The site's atoms, first to last, limited to the atoms that exist.
  int64_t first = std::max<int64_t>(site.firstAtom, 0);
  int64_t last = std::min<int64_t>(site.lastAtom, int64_t{UsableAtomCount(c)} - 1);
  uint32_t n = last >= first ? static_cast<uint32_t>(last - first + 1) : 0;

  if (n > 0) {
    uint32_t f = static_cast<uint32_t>(first);
    uint32_t l = static_cast<uint32_t>(last);
    // Polyhedra of the neighbours lose a vertex: they go.
    for (uint32_t k = f; k <= l; k++)
      for (uint32_t b : c.atoms[k].bonds)
        if (ValidAtom(c, b))
          c.atoms[b].polyhedron.Drop();
    for (uint32_t k = f; k <= l; k++) {
      const BondList bonded = c.atoms[k].bonds;
      for (uint32_t b : bonded)
        DeleteBondListEntry(&c, static_cast<int32_t>(k), static_cast<int32_t>(b));
      c.atoms[k].polyhedron.Drop();
    }
    DestroyVectorsOnAtoms(c, f, l);

    // The atoms after the site move down and belong to the site before.
    c.atoms.erase(c.atoms.begin() + first, c.atoms.begin() + last + 1);
    c.atomCount = static_cast<int32_t>(c.atoms.size());
    LowerAtomIndices(c, l, n);
  }
  for (AtomRecord &atom : c.atoms)
    if (atom.site > static_cast<uint32_t>(s))
      atom.site--;
  c.derived.Note(kChangeSites | kChangeAtoms);
  c.atomsPerCell = std::max(0, c.atomsPerCell - site.atomsPerCell);

  for (size_t k = static_cast<size_t>(s) + 1; k < c.sites.size(); k++) {
    c.sites[k].firstAtom -= static_cast<int32_t>(n);
    c.sites[k].lastAtom -= static_cast<int32_t>(n);
  }
  DeleteRecord(c.sites, c.siteCount, s);
  PurgeUnusedAtomSpheres(&c);
  PurgeUnusedBondSpecs(&c);
  return DataOrNull(c.sites);
}

AsymmetricUnitRecord *RedimensionAsymmetricUnit(CrystalRec *crystal, int32_t n) {
  if (!crystal || n < 1)
    return nullptr;
  if (n > kMaxArrayRecords)
    return nullptr;
  try {
    crystal->sites.resize(static_cast<size_t>(n), gBlankAU);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
  crystal->siteCount = n;
  return crystal->sites.data();
}

void DestroyAsymmetricUnit(CrystalRec *crystal) {
  if (crystal)
    DestroyArray(crystal->sites, crystal->siteCount);
}

void ClearAsymmetricUnitRecord(AsymmetricUnitRecord *site) {
  if (site)
    *site = gBlankAU;
}

// ---- Atoms ---------------------------------------------------------------------

AtomRecord *GetCrystalAtomsArray(CrystalRec *crystal) { return crystal ? DataOrNull(crystal->atoms) : nullptr; }

std::optional<std::vector<AtomRecord>> CreateAtomsArray(int32_t nPerCell, int32_t na, int32_t nb, int32_t nc) {
  if (nPerCell < 1)
    return std::nullopt;
  // 64-bit product, checked against the cap after each factor so that it
  // can neither overflow nor ask for more than a structure can hold.
  int64_t total = nPerCell;
  if (na > 0 && nb > 0 && nc > 0) {
    for (int32_t factor : {na, nb, nc}) {
      total *= factor;
      if (total > kMaxArrayRecords)
        break;
    }
  }
  auto atoms = MakeArray<AtomRecord>(total, gBlankAtom);
  if (!atoms)
    MyCFStopAlert("No Memory for atoms");
  return atoms;
}

AtomRecord *DestroyAtomIndex(CrystalRec *crystal, int32_t i) {
  if (!crystal)
    return nullptr;
  CrystalRec &c = *crystal;
  if (!ValidAtom(c, i))
    return DataOrNull(c.atoms);
  const uint32_t ui = static_cast<uint32_t>(i);

  // Its neighbours forget it and lose their polyhedra.
  for (uint32_t b : std::vector<uint32_t>(c.atoms[ui].bonds)) {
    if (!ValidAtom(c, b) || b == ui)
      continue;
    RemoveAtomFromBondsList(&c.atoms[b], ui);
    c.atoms[b].polyhedron.Drop();
    SyncMoleculeCoordination(c, b);
  }
  const uint32_t deletedType = c.atoms[ui].atomType;
  ClearAtomRecord(&c.atoms[ui]);
  DestroyVectorsOnAtoms(c, ui, ui);

  c.atoms.erase(c.atoms.begin() + i);
  c.atomCount = static_cast<int32_t>(c.atoms.size());
  c.derived.Note(kChangeSites | kChangeAtoms);
  for (size_t k = ui; k < c.atoms.size(); k++)
    c.atoms[k].site = static_cast<uint32_t>(k);
  LowerAtomIndices(c, ui, 1);

  if (ValidSite(c, i)) {
    c.sites.erase(c.sites.begin() + i);
    c.siteCount = static_cast<int32_t>(c.sites.size());
    for (size_t k = ui; k < c.sites.size(); k++)
      c.sites[k].firstAtom = c.sites[k].lastAtom = static_cast<int32_t>(k);
  }
  if (c.atomsPerCell > 0)
    c.atomsPerCell--;

  // The atom type goes when nothing uses it any longer.
  bool used = SphereUsedBySite(c, deletedType);
  for (int32_t k = 0; !used && k < UsableAtomCount(c); k++)
    used = c.atoms[static_cast<size_t>(k)].atomType == deletedType;
  if (!used && deletedType < static_cast<uint32_t>(UsableSphereCount(c)))
    DestroySphereIndex(&c, static_cast<int32_t>(deletedType));
  PurgeUnusedBondSpecs(&c);
  if (c.atoms.empty())
    std::vector<AtomRecord>().swap(c.atoms);
  return DataOrNull(c.atoms);
}

int RedimensionAtomsArray(CrystalRec *crystal, int32_t na, int32_t nb, int32_t nc) {
  if (!crystal || na < 1 || nb < 1 || nc < 1 || UsableSiteCount(*crystal) == 0)
    return -1;
  CrystalRec &c = *crystal;
  auto firstCell = ExtractFirstUnitCell(&c);
  if (!firstCell)
    return -1;
  DestroyAtomsArray(&c);
  DestroyVectorsArray(&c);
  auto atoms = CreateAtomsArray(c.atomsPerCell, na, nb, nc);
  if (!atoms)
    return -1;
  if (!TileUnitCellContents(*firstCell, *atoms, c.atomsPerCell, na, nb, nc, c.ellipsoidData != 0))
    return -1;
  c.atoms = std::move(*atoms);
  c.atomCount = static_cast<int32_t>(c.atoms.size());
  c.derived.Note(kChangeAtoms);
  const int64_t cells = int64_t{na} * nb * nc;
  int64_t running = 0;
  for (int32_t s = 0; s < UsableSiteCount(c); s++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    site.firstAtom = static_cast<int32_t>(running);
    site.lastAtom = static_cast<int32_t>(running + int64_t{site.atomsPerCell} * cells - 1);
    running = int64_t{site.lastAtom} + 1;
  }
  c.na = na;
  c.nb = nb;
  c.nc = nc;
  return 0;
}

void DestroyAtomsArray(CrystalRec *crystal) {
  if (!crystal)
    return;
  DestroyArray(crystal->atoms, crystal->atomCount);
  // The depth-sort index a plot leaves behind names atoms: without them it
  // would point at nothing.
  DestroySortIndex(crystal);
}

void ClearAtomRecord(AtomRecord *atom) {
  if (atom)
    *atom = gBlankAtom;
}

std::vector<AtomRecord> CopyAtomsArrayForCrystal(const CrystalRec *crystal) {
  std::vector<AtomRecord> copy;
  if (!crystal)
    return copy;
  try {
    copy.assign(crystal->atoms.begin(), crystal->atoms.begin() + UsableAtomCount(*crystal));
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return {};
  }
  // The copy owns nothing: its bonds lists and polyhedra stay with the
  // structure, so that destroying either never touches the other.
  for (AtomRecord &atom : copy) {
    atom.polyhedron.Drop();
    atom.bonds = BondList();
    atom.bondCount = 0;
  }
  return copy;
}

void MoveAtomByCell(AtomRecord &atom, const float cell[3], bool ellipsoids) {
  for (int d = 0; d < 3; d++)
    atom.xyz[d] += cell[d];
  if (ellipsoids)
    for (auto &axis : atom.ellipsoidAxes)
      for (int d = 0; d < 3; d++)
        axis[d] += cell[d];
}

bool TileUnitCellContents(std::span<const AtomRecord> firstCell, std::span<AtomRecord> dest, int32_t nPerCell,
                          int32_t na, int32_t nb, int32_t nc, bool ellipsoids) {
  if (nPerCell < 0 || na < 1 || nb < 1 || nc < 1 || firstCell.size() != static_cast<size_t>(nPerCell))
    return false;
  const uint64_t total = uint64_t(nPerCell) * uint64_t(na) * uint64_t(nb) * uint64_t(nc);
  if (dest.size() != total)
    return false;
  size_t out = 0;
  size_t runStart = 0;
  while (runStart < firstCell.size()) {
    size_t runEnd = runStart + 1;
    while (runEnd < firstCell.size() && firstCell[runEnd].site == firstCell[runStart].site)
      runEnd++;
    for (int32_t k = 0; k < nc; k++)
      for (int32_t j = 0; j < nb; j++)
        for (int32_t i = 0; i < na; i++) {
          const float shift[3] = {static_cast<float>(i), static_cast<float>(j), static_cast<float>(k)};
          for (size_t r = runStart; r < runEnd; r++) {
            AtomRecord &atom = dest[out++];
            atom = firstCell[r];
            MoveAtomByCell(atom, shift, ellipsoids);
          }
        }
    runStart = runEnd;
  }
  return true;
}

namespace {

// Whether the site runs lie inside the atoms and add up to the atoms per
// cell; otherwise the record is inconsistent and has no first cell.
bool SiteRunsFitAtoms(const CrystalRec &c) {
  if (c.atomsPerCell < 1)
    return false;
  int64_t sum = 0;
  for (int32_t s = 0; s < UsableSiteCount(c); s++) {
    const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    if (site.atomsPerCell < 0)
      return false;
    if (site.atomsPerCell > 0 &&
        (site.firstAtom < 0 || int64_t{site.firstAtom} + site.atomsPerCell > UsableAtomCount(c)))
      return false;
    sum += site.atomsPerCell;
  }
  return sum == c.atomsPerCell;
}

} // namespace

AtomRecord FirstCellAtom(const AtomRecord &src, const AsymmetricUnitRecord &site) {
  AtomRecord atom;
  atom.site = src.site;
  atom.atomType = site.atomType;
  std::memcpy(atom.ellipsoidAxes, src.ellipsoidAxes, sizeof atom.ellipsoidAxes);
  std::memcpy(atom.xyz, src.xyz, sizeof atom.xyz);
  std::memcpy(atom.cart, src.cart, sizeof atom.cart);
  atom.pixel[0] = src.pixel[0];
  atom.pixel[1] = src.pixel[1];
  atom.flags[0] = src.flags[0];
  atom.flags[1] = src.flags[1];
  return atom;
}

std::optional<std::vector<AtomRecord>> ExtractFirstUnitCell(const CrystalRec *crystal) {
  if (!crystal || !SiteRunsFitAtoms(*crystal))
    return std::nullopt;
  const CrystalRec &c = *crystal;
  std::vector<AtomRecord> cell;
  try {
    cell.reserve(static_cast<size_t>(c.atomsPerCell));
    for (int32_t s = 0; s < UsableSiteCount(c); s++) {
      const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
      for (int32_t k = 0; k < site.atomsPerCell; k++)
        cell.push_back(FirstCellAtom(c.atoms[static_cast<size_t>(site.firstAtom + k)], site));
    }
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    MyCFStopAlert("Memory error when attempting to copy the unit cell");
    return std::nullopt;
  }
  return cell;
}

std::optional<std::vector<HeldFirstCellRun>> HeldFirstCellRuns(const CrystalRec &c) {
  if (!SiteRunsFitAtoms(c))
    return std::nullopt;
  std::vector<HeldFirstCellRun> runs;
  try {
    runs.reserve(static_cast<size_t>(UsableSiteCount(c)));
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return std::nullopt;
  }
  for (int32_t s = 0; s < UsableSiteCount(c); s++) {
    const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    if (site.atomsPerCell == 0)
      continue;
    const std::span<const AtomRecord> atoms(c.atoms.data() + site.firstAtom, static_cast<size_t>(site.atomsPerCell));
    for (const AtomRecord &atom : atoms)
      if (atom.site != static_cast<uint32_t>(s))
        return std::nullopt;
    runs.push_back({atoms, &site});
  }
  return runs;
}

bool AtomsAreFirstUnitCell(const CrystalRec &c) {
  if (UsableAtomCount(c) != c.atomsPerCell || !SiteRunsFitAtoms(c))
    return false;
  int64_t next = 0;
  for (int32_t s = 0; s < UsableSiteCount(c); s++) {
    const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    if (site.atomsPerCell > 0 && site.firstAtom != next)
      return false;
    next += site.atomsPerCell;
  }
  return true;
}

bool AnyAtomAttributesToCopy(const AtomRecord *atoms, int32_t count) {
  for (int32_t k = 0; atoms && k < count; k++)
    if (AtomHasAttributesToCopy(atoms, k))
      return true;
  return false;
}

void CopyAtomAttributesToCrystal(const AtomRecord *oldAtoms, int32_t oldCount, CrystalRec *crystal) {
  if (!crystal || !oldAtoms || oldCount < 1)
    return;
  CrystalRec &c = *crystal;
  const auto ofInterest = [&](int32_t k) { return AtomHasAttributesToCopy(oldAtoms, k); };
  if (!AnyAtomAttributesToCopy(oldAtoms, oldCount))
    return;

  // Where each old atom of interest went. Vectors move by this map in one
  // pass, so a vector is never moved twice.
  std::vector<int64_t> movedTo(static_cast<size_t>(oldCount), -1);
  for (int32_t k = 0; k < oldCount; k++) {
    if (!ofInterest(k))
      continue;
    const AtomRecord &old = oldAtoms[k];
    if (!ValidSite(c, old.site))
      continue;
    const AsymmetricUnitRecord &site = c.sites[old.site];
    int64_t last = std::min<int64_t>(site.lastAtom, int64_t{UsableAtomCount(c)} - 1);
    for (int64_t n = std::max<int64_t>(site.firstAtom, 0); n <= last; n++) {
      AtomRecord &atom = c.atoms[static_cast<size_t>(n)];
      if (!SameAtomPosition(atom.xyz, old.xyz))
        continue;
      atom.selected = old.selected;
      atom.atomType = old.atomType;
      atom.labelled = old.labelled;
      atom.hasVector = old.hasVector;
      movedTo[static_cast<size_t>(k)] = n;
      break;
    }
  }
  for (VectorRecord &v : c.vectors)
    if (v.atom < static_cast<uint32_t>(oldCount) && movedTo[v.atom] >= 0)
      v.atom = static_cast<uint32_t>(movedTo[v.atom]);
}

std::vector<AtomVisibilityEntry> SaveAtomsVisibilityAndSelection(const CrystalRec *crystal, int32_t *count) {
  std::vector<AtomVisibilityEntry> saved;
  if (count)
    *count = 0;
  if (!crystal)
    return saved;
  const CrystalRec &c = *crystal;
  for (int32_t k = 0; k < UsableAtomCount(c); k++) {
    const AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    if (!atom.visible)
      continue;
    AtomVisibilityEntry entry;
    if (ValidSite(c, atom.site))
      std::memcpy(entry.label, c.sites[atom.site].label, sizeof entry.label);
    entry.label[kSiteLabelSize - 1] = '\0';
    std::memcpy(entry.cart, atom.cart, sizeof entry.cart);
    entry.selected = atom.selected;
    saved.push_back(entry);
  }
  if (count)
    *count = static_cast<int32_t>(saved.size());
  return saved;
}

namespace {

// Saved entries indexed by site label and position, so that each restored
// atom looks only at the entries that can match it instead of all of them.
// Positions are bucketed on a grid whose step is 64 times the tolerance
// (atoms are never that close, so buckets hold one position unless atoms
// coincide): every entry within the tolerance of an atom lies in a bucket
// the atom's reach touches, mostly one, at most two along each axis; each
// bucket lists its entries in saving order. The exact test decides as
// before, so every atom takes the same entry as in a scan of all entries:
// the first one not yet taken that matches it.
class VisibilityIndex {
public:
  VisibilityIndex(std::vector<AtomVisibilityEntry> &entries, size_t count) : entries_(entries) {
    size_t capacity = 16;
    while (capacity < 2 * count)
      capacity *= 2;
    slots_.assign(capacity, kEmpty);
    // Group the entries by bucket, then list each group's entries in saving
    // order in one flat array.
    std::vector<uint32_t> groupOf(count, kEmpty);
    for (size_t e = 0; e < count; e++) {
      const AtomVisibilityEntry &entry = entries[e];
      if (!Finite(entry.cart))
        continue; // a position that is not a number matches nothing
      const Key key{LabelBits(entry.label), Cell(entry.cart[0]), Cell(entry.cart[1]), Cell(entry.cart[2])};
      uint32_t &slot = Slot(key);
      if (slot == kEmpty) {
        slot = static_cast<uint32_t>(groups_.size());
        groups_.push_back(Group{key, 0, 0, 0});
      }
      groups_[slot].size++;
      groupOf[e] = slot;
    }
    uint32_t start = 0;
    for (Group &g : groups_) {
      g.start = g.head = start;
      start += g.size;
      g.size = 0;
    }
    flat_.resize(start);
    for (size_t e = 0; e < count; e++)
      if (groupOf[e] != kEmpty) {
        Group &g = groups_[groupOf[e]];
        flat_[g.start + g.size++] = static_cast<uint32_t>(e);
      }
  }

  // The entry the atom takes, marked used; -1 when none matches.
  int64_t Take(const char label[kSiteLabelSize], const float cart[3]) {
    if (!Finite(cart) || groups_.empty())
      return -1;
    const uint64_t bits = LabelBits(label);
    int64_t lo[3], hi[3];
    for (int k = 0; k < 3; k++) {
      lo[k] = Cell(static_cast<double>(cart[k]) - kReach);
      hi[k] = Cell(static_cast<double>(cart[k]) + kReach);
    }
    int64_t best = -1;
    for (int64_t x = lo[0]; x <= hi[0]; x++)
      for (int64_t y = lo[1]; y <= hi[1]; y++)
        for (int64_t z = lo[2]; z <= hi[2]; z++) {
          const uint32_t slot = Slot(Key{bits, x, y, z});
          if (slot == kEmpty)
            continue;
          Group &g = groups_[slot];
          const uint32_t end = g.start + g.size;
          // Entries taken at the front of a group are dropped for good.
          while (g.head < end && entries_[flat_[g.head]].used)
            g.head++;
          for (uint32_t k = g.head; k < end; k++) {
            const uint32_t e = flat_[k];
            if (best >= 0 && int64_t{e} >= best)
              break; // lists are in saving order: nothing earlier follows
            const AtomVisibilityEntry &entry = entries_[e];
            if (!entry.used && WithinTolerance(entry.cart, cart, kVisibilityTolerance)) {
              best = e;
              break;
            }
          }
        }
    if (best >= 0)
      entries_[static_cast<size_t>(best)].used = 1;
    return best;
  }

private:
  // Generous reach for the bucket search: twice the tolerance, so that no
  // rounding of the coordinates can hide a candidate.
  static constexpr double kReach = 2.0 * kVisibilityTolerance;
  static constexpr double kStep = 64.0 * kVisibilityTolerance;
  // Bucket indices stay far inside 64 bits; coordinates beyond share the
  // end buckets, which costs time there but never a match.
  static constexpr double kMaxCell = 4.0e18;
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;

  struct Key {
    uint64_t label;
    int64_t x, y, z;
    bool operator==(const Key &) const = default;
  };
  struct Group {
    Key key;
    uint32_t start, size, head;
  };

  static size_t Hash(const Key &k) {
    uint64_t h = k.label * 0x9E3779B97F4A7C15ull;
    for (int64_t v : {k.x, k.y, k.z}) {
      h ^= static_cast<uint64_t>(v) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
      h *= 0xBF58476D1CE4E5B9ull;
    }
    return static_cast<size_t>(h ^ (h >> 31));
  }
  // The slot of the key in the open-addressed table: its group's, or the
  // empty slot where it would go.
  uint32_t &Slot(const Key &key) {
    const size_t mask = slots_.size() - 1;
    for (size_t i = Hash(key) & mask;; i = (i + 1) & mask)
      if (slots_[i] == kEmpty || groups_[slots_[i]].key == key)
        return slots_[i];
  }

  static bool Finite(const float v[3]) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }
  static int64_t Cell(double v) { return static_cast<int64_t>(std::clamp(std::floor(v / kStep), -kMaxCell, kMaxCell)); }
  static uint64_t LabelBits(const char label[kSiteLabelSize]) {
    uint64_t bits = 0;
    for (int k = 0; k < kSiteLabelSize && label[k]; k++)
      bits |= uint64_t(static_cast<unsigned char>(label[k])) << (8 * k);
    return bits;
  }

  std::vector<AtomVisibilityEntry> &entries_;
  std::vector<uint32_t> slots_;
  std::vector<Group> groups_;
  std::vector<uint32_t> flat_;
};

} // namespace

void RestoreAtomsVisibilityAndSelection(CrystalRec *crystal, std::vector<AtomVisibilityEntry> &saved, int32_t count) {
  if (!crystal) {
    saved.clear();
    return;
  }
  CrystalRec &c = *crystal;
  const size_t n = std::min(saved.size(), static_cast<size_t>(std::max(count, 0)));
  VisibilityIndex index(saved, n);
  for (int32_t k = 0; k < UsableAtomCount(c); k++) {
    AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    if (!atom.visible)
      continue;
    char label[kSiteLabelSize] = {};
    if (ValidSite(c, atom.site))
      std::memcpy(label, c.sites[atom.site].label, sizeof label);
    label[kSiteLabelSize - 1] = '\0';
    const int64_t e = index.Take(label, atom.cart);
    if (e >= 0)
      atom.selected = saved[static_cast<size_t>(e)].selected;
    else
      atom.visible = 0;
  }
  std::vector<AtomVisibilityEntry>().swap(saved);
}

// ---- Atom types ------------------------------------------------------------------

SphereRecord *GetCrystalSpheresArray(CrystalRec *crystal) { return crystal ? DataOrNull(crystal->spheres) : nullptr; }

std::optional<std::vector<SphereRecord>> CreateSpheresArray(int32_t n) {
  return MakeArray<SphereRecord>(n, gBlankSphere);
}

SphereRecord *AppendBlankSphere(CrystalRec *crystal) {
  return crystal ? AppendRecord(crystal->spheres, crystal->sphereCount, gBlankSphere) : nullptr;
}

SphereRecord *DestroySphereIndex(CrystalRec *crystal, int32_t index) {
  if (!crystal)
    return nullptr;
  CrystalRec &c = *crystal;
  if (index < 0 || index >= UsableSphereCount(c))
    return DataOrNull(c.spheres);
  DisposeSpherePixels(&c.spheres[static_cast<size_t>(index)]);
  DeleteRecord(c.spheres, c.sphereCount, index);
  const uint32_t i = static_cast<uint32_t>(index);
  for (AsymmetricUnitRecord &site : c.sites)
    if (site.atomType > i)
      site.atomType--;
  for (AtomRecord &atom : c.atoms)
    if (atom.atomType > i)
      atom.atomType--;
  return DataOrNull(c.spheres);
}

void DestroySpheresArray(CrystalRec *crystal) {
  if (crystal)
    DestroyArray(crystal->spheres, crystal->sphereCount);
}

void ClearSphereRecord(SphereRecord *sphere) {
  if (!sphere)
    return;
  DisposeSpherePixels(sphere);
  *sphere = gBlankSphere;
}

void DisposeSpherePixels(SphereRecord *sphere) {
  if (!sphere)
    return;
  sphere->image1.reset();
  sphere->mask1.reset();
  sphere->bounds1 = Rect{};
  sphere->image2.reset();
  sphere->mask2.reset();
  sphere->bounds2 = Rect{};
}

bool SameSphereProperties(const CrystalRec *crystal, int32_t i, int32_t j) {
  if (!crystal)
    return false;
  const CrystalRec &c = *crystal;
  if (i < 0 || j < 0 || i >= UsableSphereCount(c) || j >= UsableSphereCount(c))
    return false;
  const SphereRecord &a = c.spheres[static_cast<size_t>(i)];
  const SphereRecord &b = c.spheres[static_cast<size_t>(j)];
  if (a.element != b.element || a.style != b.style || !SameRadius(a.radius, b.radius) ||
      !SameRGBColor(a.colour, b.colour))
    return false;
  int32_t siteA = FirstSiteUsingSphere(c, static_cast<uint32_t>(i));
  int32_t siteB = FirstSiteUsingSphere(c, static_cast<uint32_t>(j));
  if (siteA < 0 || siteB < 0)
    return false;
  bool ownA = SitePolyMode(c, static_cast<size_t>(siteA)) == kPolyModeOwnClass;
  bool ownB = SitePolyMode(c, static_cast<size_t>(siteB)) == kPolyModeOwnClass;
  return ownA == ownB;
}

void RemoveDuplicateSpheres(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  int32_t j = 1;
  while (j < UsableSphereCount(c)) {
    int32_t keep = -1;
    for (int32_t i = 0; i < j && keep < 0; i++)
      if (SameSphereProperties(&c, i, j))
        keep = i;
    if (keep < 0) {
      j++;
      continue;
    }
    const uint32_t from = static_cast<uint32_t>(j);
    const uint32_t to = static_cast<uint32_t>(keep);
    for (AsymmetricUnitRecord &site : c.sites)
      if (site.atomType == from)
        site.atomType = to;
    for (AtomRecord &atom : c.atoms)
      if (atom.atomType == from)
        atom.atomType = to;
    DestroySphereIndex(&c, j); // the scan goes on from the same position
  }
}

bool FindMatchingSphere(const CrystalRec *crystal, ElementCode element, uint32_t style, uint32_t polyMode,
                        const RGBColor &colour, float radius, int32_t *index) {
  if (!crystal) {
    if (index)
      *index = 0;
    return false;
  }
  const CrystalRec &c = *crystal;
  for (int32_t t = 0; t < UsableSphereCount(c); t++) {
    const SphereRecord &sphere = c.spheres[static_cast<size_t>(t)];
    if (sphere.element != element || sphere.style != style ||
        !(std::fabs(sphere.radius - radius) <= kSphereMatchTolerance) || !SameRGBColor(sphere.colour, colour))
      continue;
    int32_t site = FirstSiteUsingSphere(c, static_cast<uint32_t>(t));
    if (site < 0)
      continue;
    bool ownClass = SitePolyMode(c, static_cast<size_t>(site)) == kPolyModeOwnClass;
    if (ownClass != (polyMode == kPolyModeOwnClass))
      continue;
    if (index)
      *index = t;
    return true;
  }
  if (index)
    *index = UsableSphereCount(c);
  return false;
}

void PurgeCustomSpheres(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  bool removed = false;
  for (int32_t t = UsableSphereCount(c) - 1; t >= 0; t--) {
    if (!SphereUsedBySite(c, static_cast<uint32_t>(t))) {
      DestroySphereIndex(&c, t);
      removed = true;
    }
  }
  if (!removed)
    return;
  for (AtomRecord &atom : c.atoms)
    if (ValidSite(c, atom.site))
      atom.atomType = c.sites[atom.site].atomType;
}

void PurgeUnusedAtomSpheres(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  // One pass over the sites and atoms: a type is kept while a site or a
  // visible atom uses it.
  const size_t n = UsableSphereSize(c);
  std::vector<uint8_t> used(n, 0);
  for (size_t s = 0; s < UsableSiteSize(c); s++)
    if (c.sites[s].atomType < n)
      used[c.sites[s].atomType] = 1;
  for (size_t k = 0; k < UsableAtomSize(c); k++)
    if (c.atoms[k].visible && c.atoms[k].atomType < n)
      used[c.atoms[k].atomType] = 1;
  if (std::all_of(used.begin(), used.end(), [](uint8_t u) { return u != 0; }))
    return;
  // Hidden atoms that still name a deleted type go back to their site's
  // type, so that no atom keeps an index to a deleted type.
  for (AtomRecord &atom : c.atoms)
    if (atom.atomType < n && !used[atom.atomType] && ValidSite(c, atom.site))
      atom.atomType = c.sites[atom.site].atomType;
  // Every index drops by the number of deleted types below it.
  std::vector<uint32_t> deletedBelow(n + 1, 0);
  for (size_t t = 0; t < n; t++)
    deletedBelow[t + 1] = deletedBelow[t] + (used[t] ? 0 : 1);
  auto renumber = [&](uint32_t &type) { type -= deletedBelow[std::min<size_t>(type, n)]; };
  for (AsymmetricUnitRecord &site : c.sites)
    renumber(site.atomType);
  for (AtomRecord &atom : c.atoms)
    renumber(atom.atomType);
  size_t kept = 0;
  for (size_t t = 0; t < n; t++) {
    if (!used[t]) {
      DisposeSpherePixels(&c.spheres[t]);
      continue;
    }
    if (kept != t)
      c.spheres[kept] = std::move(c.spheres[t]);
    kept++;
  }
  c.spheres.erase(c.spheres.begin() + static_cast<std::ptrdiff_t>(kept), c.spheres.begin() + static_cast<std::ptrdiff_t>(n));
  c.sphereCount = static_cast<int32_t>(c.spheres.size());
  if (c.spheres.empty())
    std::vector<SphereRecord>().swap(c.spheres);
}

// ---- Custom bond specifications --------------------------------------------------

CustomBondSpec *GetCrystalCustomBondSpecsArray(CrystalRec *crystal) {
  return crystal ? DataOrNull(crystal->customBondSpecs) : nullptr;
}

std::optional<std::vector<CustomBondSpec>> CreateCustomBondSpecsArray(int32_t n) {
  return MakeArray<CustomBondSpec>(n, CustomBondSpec{});
}

CustomBondSpec *AppendBlankCustomBondSpec(CrystalRec *crystal) {
  return crystal ? AppendRecord(crystal->customBondSpecs, crystal->customBondSpecCount, gBlankCustomBondSpec) : nullptr;
}

CustomBondSpec *DestroyCustomBondSpecIndex(CrystalRec *crystal, int32_t index) {
  return crystal ? DeleteRecord(crystal->customBondSpecs, crystal->customBondSpecCount, index) : nullptr;
}

void DestroyCustomBondSpecsArray(CrystalRec *crystal) {
  if (crystal)
    DestroyArray(crystal->customBondSpecs, crystal->customBondSpecCount);
}

// ---- Cell points -------------------------------------------------------------------

CellPoint *GetCrystalCellPoints(CrystalRec *crystal) { return crystal ? DataOrNull(crystal->cellPoints) : nullptr; }

std::optional<std::vector<CellPoint>> CreateCellPoints(int32_t n) { return MakeArray<CellPoint>(n, gBlankCellPoint); }

void DestroyCellPts(CrystalRec *crystal) {
  if (crystal)
    DestroyArray(crystal->cellPoints, crystal->cellPointCount);
}

// ---- Depth-sort index -----------------------------------------------------------

SortIndexEntry *GetCrystalSortIndex(CrystalRec *crystal, int32_t *count) {
  if (count)
    *count = crystal ? crystal->sortIndexCount : 0;
  return crystal ? DataOrNull(crystal->sortIndex) : nullptr;
}

std::optional<std::vector<SortIndexEntry>> CreateSortIndex(int32_t n) {
  return MakeArray<SortIndexEntry>(n, SortIndexEntry{});
}

void DestroySortIndex(CrystalRec *crystal) {
  if (crystal)
    DestroyArray(crystal->sortIndex, crystal->sortIndexCount);
}

bool GetAtomSortIndexEntry(const CrystalRec *crystal, uint32_t item, int32_t *position) {
  if (!crystal)
    return false;
  const size_t n = std::min(crystal->sortIndex.size(), static_cast<size_t>(std::max(crystal->sortIndexCount, 0)));
  for (size_t k = 0; k < n; k++) {
    if (crystal->sortIndex[k].index == item) {
      if (position)
        *position = static_cast<int32_t>(k);
      return true;
    }
  }
  return false;
}

const float *GetCrystalSortIndexCoords(const CrystalRec *crystal, int32_t position) {
  if (!crystal || position < 0 || position >= crystal->sortIndexCount ||
      static_cast<size_t>(position) >= crystal->sortIndex.size())
    return nullptr;
  const SortIndexEntry &entry = crystal->sortIndex[static_cast<size_t>(position)];
  if (entry.kind == kSortItemAtom && ValidAtom(*crystal, entry.index))
    return crystal->atoms[entry.index].cart;
  if (entry.kind == kSortItemCellPoint && entry.index < static_cast<uint32_t>(std::max(crystal->cellPointCount, 0)) &&
      entry.index < crystal->cellPoints.size())
    return crystal->cellPoints[entry.index].cart;
  return nullptr;
}

// ---- Vectors -------------------------------------------------------------------------

VectorRecord *GetCrystalVectorsArray(CrystalRec *crystal) { return crystal ? DataOrNull(crystal->vectors) : nullptr; }

std::optional<std::vector<VectorRecord>> CreateVectorsArray(int32_t n) {
  return MakeArray<VectorRecord>(n, VectorRecord{});
}

VectorRecord *AppendBlankVector(CrystalRec *crystal) {
  return crystal ? AppendRecord(crystal->vectors, crystal->vectorCount, gBlankVector) : nullptr;
}

VectorRecord *DestroyVectorIndex(CrystalRec *crystal, int32_t index) {
  return crystal ? DeleteRecord(crystal->vectors, crystal->vectorCount, index) : nullptr;
}

void DestroyVectorsArray(CrystalRec *crystal) {
  if (!crystal)
    return;
  DestroyArray(crystal->vectors, crystal->vectorCount);
  for (AtomRecord &atom : crystal->atoms)
    atom.hasVector = 0;
}

void ClearVectorRecord(VectorRecord *vector) {
  if (vector)
    *vector = gBlankVector;
}

// ---- Annotation objects ---------------------------------------------------------------

TextBoxRecord *GetCrystalTextBoxesArray(CrystalRec *crystal) {
  return crystal ? DataOrNull(crystal->textBoxes) : nullptr;
}

std::optional<std::vector<TextBoxRecord>> CreateTextBoxesArray(int32_t n) {
  return MakeArray<TextBoxRecord>(n, gBlankTextBox);
}

TextBoxRecord *AppendBlankTextBox(CrystalRec *crystal) {
  return crystal ? AppendRecord(crystal->textBoxes, crystal->textBoxCount, gBlankTextBox) : nullptr;
}

TextBoxRecord *DestroyTextBoxIndex(CrystalRec *crystal, int32_t index) {
  return crystal ? DeleteRecord(crystal->textBoxes, crystal->textBoxCount, index) : nullptr;
}

void DestroyTextBoxesArray(CrystalRec *crystal) {
  if (crystal)
    DestroyArray(crystal->textBoxes, crystal->textBoxCount);
}

void ClearTextBoxRecord(TextBoxRecord *box) {
  if (box)
    *box = gBlankTextBox;
}

// ---- Voxels ---------------------------------------------------------------------------

VoxelRecord *GetCrystalVoxelsArray(CrystalRec *crystal) { return crystal ? DataOrNull(crystal->voxels) : nullptr; }

std::optional<std::vector<VoxelRecord>> CreateVoxelsArray(int32_t n) {
  return MakeArray<VoxelRecord>(n, VoxelRecord{});
}

void DestroyCrystalVoxelsArray(CrystalRec *crystal) {
  if (crystal)
    DestroyArray(crystal->voxels, crystal->voxelCount);
}

// ---- Bonds lists -------------------------------------------------------------------------

std::optional<std::vector<uint32_t>> CreateBondsList(uint32_t n) { return MakeArray<uint32_t>(n, 0u); }

bool SiteIsBonded(const CrystalRec &c, size_t site) {
  if (site >= UsableSiteSize(c))
    return false;
  const AsymmetricUnitRecord &s = c.sites[site];
  if (s.coordination > 0)
    return true;
  const int64_t last = std::min<int64_t>(s.lastAtom, static_cast<int64_t>(UsableAtomSize(c)) - 1);
  for (int64_t a = std::max<int64_t>(s.firstAtom, 0); a <= last; ++a)
    if (c.atoms[static_cast<size_t>(a)].bondCount > 0)
      return true;
  return false;
}

bool AddAtomToBondsList(AtomRecord *atom, uint32_t j) {
  if (!atom)
    return false;
  if (std::find(atom->bonds.begin(), atom->bonds.end(), j) != atom->bonds.end())
    return true;
  try {
    atom->bonds.push_back(j);
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return false;
  }
  atom->bondCount = static_cast<uint32_t>(atom->bonds.size());
  return true;
}

void RemoveAtomFromBondsList(AtomRecord *atom, uint32_t j) {
  if (!atom)
    return;
  auto it = std::find(atom->bonds.begin(), atom->bonds.end(), j);
  if (it == atom->bonds.end())
    return;
  atom->bonds.erase(it);
  atom->bondCount = static_cast<uint32_t>(atom->bonds.size());
  if (atom->bonds.empty())
    atom->bonds = BondList();
}

bool AddBondListEntry(CrystalRec *crystal, int32_t i, int32_t j) {
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;
  const int64_t ai = std::abs(int64_t{i});
  const int64_t aj = std::abs(int64_t{j});
  if (!ValidAtom(c, ai) || !ValidAtom(c, aj) || ai == aj)
    return false;
  const uint32_t ui = static_cast<uint32_t>(ai);
  const uint32_t uj = static_cast<uint32_t>(aj);
  if (!AddAtomToBondsList(&c.atoms[ui], uj))
    return false;
  if (!AddAtomToBondsList(&c.atoms[uj], ui)) {
    RemoveAtomFromBondsList(&c.atoms[ui], uj);
    return false;
  }
  SyncMoleculeCoordination(c, ui);
  SyncMoleculeCoordination(c, uj);
  return true;
}

bool DeleteBondListEntry(CrystalRec *crystal, int32_t i, int32_t j) {
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;
  const int64_t ai = std::abs(int64_t{i});
  const int64_t aj = std::abs(int64_t{j});
  if (!ValidAtom(c, ai) || !ValidAtom(c, aj))
    return false;
  const uint32_t ui = static_cast<uint32_t>(ai);
  const uint32_t uj = static_cast<uint32_t>(aj);
  const uint32_t beforeI = c.atoms[ui].bondCount;
  const uint32_t beforeJ = c.atoms[uj].bondCount;
  RemoveAtomFromBondsList(&c.atoms[ui], uj);
  RemoveAtomFromBondsList(&c.atoms[uj], ui);
  SyncMoleculeCoordination(c, ui);
  SyncMoleculeCoordination(c, uj);
  return c.atoms[ui].bondCount != beforeI || c.atoms[uj].bondCount != beforeJ;
}

void DestroyBondsListForAtom(AtomRecord *atom) {
  if (!atom)
    return;
  atom->bonds = BondList();
  atom->bondCount = 0;
}

// ---- Polyhedra ------------------------------------------------------------------------------

std::optional<Polyhedron> CreatePolyhedron(uint32_t faces) {
  if (faces > static_cast<uint32_t>(kMaxArrayRecords))
    return std::nullopt;
  try {
    Polyhedron p;
    p.faceCount = faces;
    p.faces.resize(faces);
    return p;
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return std::nullopt;
  }
}

void DestroyPolyhedron(HeldPolyhedron &polyhedron) { polyhedron.Drop(); }

// ---- Selection and counts ---------------------------------------------------------------

bool CrystalHasSelectedAtoms(const CrystalRec *crystal) { return CountNumSelectedAtoms(crystal) > 0; }

int32_t CountNumSelectedAtoms(const CrystalRec *crystal) {
  if (!crystal)
    return 0;
  int32_t n = 0;
  for (int32_t k = 0; k < UsableAtomCount(*crystal); k++)
    n += crystal->atoms[static_cast<size_t>(k)].selected ? 1 : 0;
  return n;
}

void SetCrystalAtomSelected(CrystalRec *crystal, int32_t atom, uint8_t flag) {
  if (crystal && ValidAtom(*crystal, atom))
    crystal->atoms[static_cast<size_t>(atom)].selected = flag;
}

void SetCrystalAtomSelectionNone(CrystalRec *crystal) {
  if (!crystal)
    return;
  for (AtomRecord &atom : crystal->atoms)
    atom.selected = 0;
}

int32_t CountNumSelectedVectors(const CrystalRec *crystal) {
  if (!crystal)
    return 0;
  int32_t n = 0;
  const size_t count = std::min(crystal->vectors.size(), static_cast<size_t>(std::max(crystal->vectorCount, 0)));
  for (size_t k = 0; k < count; k++)
    n += crystal->vectors[k].selected ? 1 : 0;
  return n;
}

bool CrystalHasSelectedVectors(const CrystalRec *crystal) { return CountNumSelectedVectors(crystal) > 0; }

int32_t CountNumSelectedTextBoxes(const CrystalRec *crystal) {
  if (!crystal)
    return 0;
  int32_t n = 0;
  const size_t count = std::min(crystal->textBoxes.size(), static_cast<size_t>(std::max(crystal->textBoxCount, 0)));
  for (size_t k = 0; k < count; k++)
    n += crystal->textBoxes[k].selected ? 1 : 0;
  return n;
}

bool CrystalHasSelectedTextBoxes(const CrystalRec *crystal) { return CountNumSelectedTextBoxes(crystal) > 0; }

bool CrystalHasSelectedObjects(const CrystalRec *crystal) {
  return CrystalHasSelectedTextBoxes(crystal) || CrystalHasSelectedVectors(crystal) || CrystalHasSelectedAtoms(crystal);
}

int32_t CountNumElementsSorted(const CrystalRec *crystal) {
  if (!crystal || UsableSiteCount(*crystal) == 0)
    return 0;
  int32_t n = 1;
  for (int32_t s = 1; s < UsableSiteCount(*crystal); s++)
    if (crystal->sites[static_cast<size_t>(s)].elements[0] != crystal->sites[static_cast<size_t>(s - 1)].elements[0])
      n++;
  return n;
}

int32_t CountNumElementsUnsorted(const CrystalRec *crystal) {
  if (!crystal)
    return 0;
  std::set<ElementCode> distinct;
  for (int32_t s = 0; s < UsableSiteCount(*crystal); s++)
    distinct.insert(crystal->sites[static_cast<size_t>(s)].elements[0]);
  return static_cast<int32_t>(distinct.size());
}

bool IsAsymmetricUnitSortedByElement(const CrystalRec *crystal) {
  if (!crystal)
    return true;
  for (int32_t s = 1; s < UsableSiteCount(*crystal); s++) {
    int16_t prev = static_cast<int16_t>(crystal->sites[static_cast<size_t>(s - 1)].elements[0]);
    int16_t cur = static_cast<int16_t>(crystal->sites[static_cast<size_t>(s)].elements[0]);
    if (cur < prev)
      return false;
  }
  return true;
}

std::vector<ElementCode> GetCrystalElementsArray(const CrystalRec *crystal, int32_t *count) {
  std::vector<ElementCode> elements;
  if (crystal) {
    for (int32_t s = 0; s < UsableSiteCount(*crystal); s++) {
      ElementCode e = crystal->sites[static_cast<size_t>(s)].elements[0];
      if (e == kBlankElement || (!elements.empty() && elements.back() == e))
        continue;
      elements.push_back(e);
    }
  }
  if (count)
    *count = static_cast<int32_t>(elements.size());
  return elements;
}

bool SitesHaveSameOccupancy(const AsymmetricUnitRecord &a, const AsymmetricUnitRecord &b) {
  for (int k = 0; k < kMaxSiteElements; k++) {
    if (a.elements[k] != b.elements[k])
      return false;
    if (!(std::fabs(a.occupancies[k] - b.occupancies[k]) <= kOccupancyTolerance))
      return false;
  }
  return true;
}

// ---- Failure that ends the program --------------------------------------------------------

void ShowResourceErr() {
  MyCFCautionAlert("Sorry, unable to copy a resource",
                   "This application may be damaged - please reinstall the software");
  constexpr int kResourceErrorCode = -192; // resource not found
  if (HostServices *host = GetHostServices())
    host->TerminateProgram(kResourceErrorCode);
  std::fprintf(stderr, "Sorry, unable to copy a resource\n");
  std::exit(1);
}

// ---- Invariants -------------------------------------------------------------------

namespace {

template <class... Args> std::string Describe(const char *format, Args... args) {
  char text[160];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

} // namespace

std::string HeldPolyhedron::Misfit(size_t atoms) const {
  if (!value_)
    return {};
  const Polyhedron &p = *value_;
  if (p.faceCount != p.faces.size())
    return Describe("face count %u, %zu faces", p.faceCount, p.faces.size());
  if (p.centreAtom >= atoms)
    return Describe("centre atom %u of %zu", p.centreAtom, atoms);
  for (const PolyFace &f : p.faces) {
    if (f.vertexCount != f.vertices.size())
      return Describe("face of %u vertices holds %zu", f.vertexCount, f.vertices.size());
    for (uint32_t v : f.vertices)
      if (v >= atoms)
        return Describe("vertex atom %u of %zu", v, atoms);
  }
  return {};
}

std::string CheckCrystalInvariants(const CrystalRec &c) {
  const struct {
    const char *name;
    int32_t count;
    size_t size;
  } arrays[] = {
      {"sites", c.siteCount, c.sites.size()},
      {"atoms", c.atomCount, c.atoms.size()},
      {"atom types", c.sphereCount, c.spheres.size()},
      {"custom bond specifications", c.customBondSpecCount, c.customBondSpecs.size()},
      {"cell points", c.cellPointCount, c.cellPoints.size()},
      {"voxels", c.voxelCount, c.voxels.size()},
      {"sort entries", c.sortIndexCount, c.sortIndex.size()},
      {"vectors", c.vectorCount, c.vectors.size()},
      {"text boxes", c.textBoxCount, c.textBoxes.size()},
  };
  for (const auto &a : arrays)
    if (a.count < 0 || static_cast<size_t>(a.count) != a.size)
      return Describe("%s: count %d, array of %zu", a.name, a.count, a.size);
  if (c.bondSpecCount < 0 || c.bondSpecCount > kMaxBondSpecs)
    return Describe("bond specifications: count %d", c.bondSpecCount);
  if (c.cardCount > kMaxSymCards)
    return Describe("symmetry cards: count %d", int(c.cardCount));

  const size_t sites = c.sites.size(), atoms = c.atoms.size(), types = c.spheres.size();
  // Before the atom types are made every site and atom names type 0.
  for (size_t s = 0; s < sites; ++s)
    if (types > 0 && c.sites[s].atomType >= types)
      return Describe("site %zu: atom type %u of %zu", s, c.sites[s].atomType, types);
  for (size_t i = 0; i < atoms; ++i) {
    const AtomRecord &a = c.atoms[i];
    if (a.site >= sites)
      return Describe("atom %zu: site %u of %zu", i, a.site, sites);
    if (types > 0 && a.atomType >= types)
      return Describe("atom %zu: atom type %u of %zu", i, a.atomType, types);
    if (a.bondCount != a.bonds.size())
      return Describe("atom %zu: bond count %u, %zu bonds", i, a.bondCount, a.bonds.size());
    for (uint32_t b : a.bonds)
      if (b >= atoms)
        return Describe("atom %zu: bond to atom %u of %zu", i, b, atoms);
    if (const std::string misfit = a.polyhedron.Misfit(atoms); !misfit.empty())
      return Describe("atom %zu: polyhedron %s", i, misfit.c_str());
  }
  for (size_t k = 0; k < c.customBondSpecs.size(); ++k) {
    const CustomBondSpec &b = c.customBondSpecs[k];
    if (b.atomA >= atoms || b.atomB >= atoms)
      return Describe("custom bond %zu: atoms %u and %u of %zu", k, b.atomA, b.atomB, atoms);
  }
  for (size_t k = 0; k < c.vectors.size(); ++k)
    if (c.vectors[k].atom >= atoms)
      return Describe("vector %zu: atom %u of %zu", k, c.vectors[k].atom, atoms);
  const size_t points = c.cellPoints.size();
  for (size_t k = 0; k < points; ++k) {
    const CellPoint &p = c.cellPoints[k];
    if (p.linkCount < 0 || p.linkCount > 2)
      return Describe("cell point %zu: %d links", k, int(p.linkCount));
    for (int l = 0; l < p.linkCount; ++l)
      if (p.links[l] >= points)
        return Describe("cell point %zu: link to point %u of %zu", k, p.links[l], points);
  }
  for (size_t k = 0; k < c.sortIndex.size(); ++k) {
    const SortIndexEntry &e = c.sortIndex[k];
    const size_t held = e.kind == kSortItemCellPoint ? points : atoms;
    if ((e.kind != kSortItemAtom && e.kind != kSortItemCellPoint) || e.index >= held)
      return Describe("sort entry %zu: kind %d, index %u of %zu", k, int(e.kind), e.index, held);
  }
  return {};
}
