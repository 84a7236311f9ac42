// The derived layers of a structure: what is due, what was derived, and the
// changes told.
#include "DerivedLayers.h"

#include "BondSearch.h"
#include "InferredOrientations.h"
#include "MemoryBudget.h"
#include "Polyhedra.h"
#include "RunningCommand.h"
#include "StructureRecord.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

InputRevisions InputRevisions::Only(uint32_t what) const {
  InputRevisions out;
  for (int k = 0; k < kStructureInputs; ++k)
    if (what & (1u << k))
      out.of[k] = of[k];
  return out;
}

namespace {

uint64_t NextRevision() {
  static std::atomic<uint64_t> count{0};
  return ++count;
}

std::atomic<uint64_t> gAlternativesDerived{0};
bool gIgnoreChanges = false;

#ifdef OV_CHECK_LAYERS
constexpr bool kCheckLayers = true;
#else
constexpr bool kCheckLayers = false;
#endif

// What the orientation groups read: the cell, the symmetry the operators
// are made from and the sites (OrientationInputs), read field by field so
// that the digest needs no memory.
void AddOrientationInputs(const CrystalRec &c, InputDigest &digest) {
  digest.Add(c.molecule);
  for (const float v : {c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.originShift[0], c.originShift[1], c.originShift[2]})
    digest.Add(v);
  // Texts up to their NUL: what follows it is nobody's.
  const auto addText = [&digest](const char *text, size_t size) {
    const size_t length = strnlen(text, size);
    digest.Add(length);
    digest.AddBytes(text, length);
  };
  addText(c.spaceGroup, sizeof c.spaceGroup);
  digest.Add(c.originChoice);
  digest.Add(c.latticeLetter);
  const int32_t cards = std::clamp<int32_t>(c.cardCount, 0, kMaxSymCards);
  digest.Add(cards);
  for (int32_t k = 0; k < cards; k++)
    addText(c.symCards[static_cast<size_t>(k)].data(), c.symCards[static_cast<size_t>(k)].size());
  const size_t nSites = UsableSiteSize(c);
  digest.Add(nSites);
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = c.sites[s];
    digest.Add(site.xyz);
    digest.Add(site.elements);
    digest.Add(site.occupancies);
    digest.Add(site.disorderGroup);
  }
}

// The digests of what each layer reads, in the instrumented build (0 in
// others).
uint64_t OrientationsDigest(const CrystalRec &crystal) {
  if (!kCheckLayers)
    return 0;
  InputDigest digest;
  AddOrientationInputs(crystal, digest);
  return digest.Value();
}

// The alternatives read besides the sites' assemblies and the atoms' sites
// and positions.
uint64_t AlternativesDigest(const CrystalRec &crystal) {
  if (!kCheckLayers)
    return 0;
  InputDigest digest;
  AddOrientationInputs(crystal, digest);
  const size_t nSites = UsableSiteSize(crystal);
  for (size_t s = 0; s < nSites; s++)
    digest.Add(crystal.sites[s].disorderAssembly);
  const size_t nAtoms = UsableAtomSize(crystal);
  digest.Add(nAtoms);
  for (size_t a = 0; a < nAtoms; a++) {
    digest.Add(crystal.atoms[a].site);
    digest.Add(crystal.atoms[a].xyz);
  }
  return digest.Value();
}

// What the roles and the polyhedra read: each atom's site, visibility,
// fractional place and bonds, the sites' elements, coordination and atoms,
// the cell and the bond specifications the whole crystal's coordination is
// listed by. Not the atoms' Cartesian places, which every turn of the view
// moves: the fractional ones and the cell stand for them.
uint64_t RolesDigest(const CrystalRec &c) {
  if (!kCheckLayers)
    return 0;
  InputDigest digest;
  digest.Add(c.molecule);
  for (const float v : {c.a, c.b, c.c, c.alpha, c.beta, c.gamma})
    digest.Add(v);
  const int32_t specs = std::clamp<int32_t>(c.bondSpecCount, 0, kMaxBondSpecs);
  digest.Add(specs);
  for (int32_t k = 0; k < specs; k++) {
    const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
    digest.Add(spec.elementA);
    digest.Add(spec.elementB);
    digest.Add(spec.minLength);
    digest.Add(spec.maxLength);
  }
  const size_t nSites = UsableSiteSize(c);
  digest.Add(nSites);
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = c.sites[s];
    digest.Add(site.elements);
    digest.Add(site.coordination);
    digest.Add(site.firstAtom);
    digest.Add(site.lastAtom);
    digest.Add(site.atomsPerCell);
  }
  const size_t nAtoms = UsableAtomSize(c);
  digest.Add(nAtoms);
  for (size_t a = 0; a < nAtoms; a++) {
    const AtomRecord &atom = c.atoms[a];
    digest.Add(atom.site);
    digest.Add(atom.visible);
    digest.Add(atom.xyz);
    digest.Add(atom.bondCount);
    digest.Add(atom.bonds.size());
    digest.AddBytes(atom.bonds.data(), atom.bonds.size() * sizeof(uint32_t));
  }
  return digest.Value();
}

// A layer answered from its revisions whose inputs changed all the same:
// the command running changed them without telling.
void StopWhenUntold(const char *layer, uint64_t derivedFrom, uint64_t now) {
  if (derivedFrom == now)
    return;
  std::fprintf(stderr, "Derived layers: the %s were answered for inputs changed without telling (command: %s)\n", layer,
               RunningCommand::Name());
  std::abort();
}

} // namespace

DerivedLayers::DerivedLayers() { Note(~0u); }

void DerivedLayers::Note(uint32_t what) {
  for (int k = 0; k < kStructureInputs; ++k)
    if (what & (1u << k))
      revisions_.of[k] = NextRevision();
}

const OrientationGroups &DerivedLayers::Orientations(const CrystalRec &crystal) {
  const InputRevisions from = revisions_.Only(kOrientationInputs);
  if (orientations_ && orientationsHeld_ && orientationsFrom_ == from) {
    StopWhenUntold("orientation groups", orientationsDigest_, OrientationsDigest(crystal));
    return *orientations_;
  }
  orientationsHeld_ = false;
  orientations_ = InferOrShareOrientationGroups(crystal);
  orientationsHeld_ = !orientations_->stopped;
  orientationsFrom_ = from;
  orientationsDigest_ = OrientationsDigest(crystal);
  return *orientations_;
}

std::shared_ptr<const SiteAlternatives> DerivedLayers::Alternatives(const CrystalRec &crystal) {
  const InputRevisions from = revisions_.Only(kAlternativesInputs);
  if (alternatives_ && alternativesHeld_ && alternativesFrom_ == from) {
    StopWhenUntold("alternatives", alternativesDigest_, AlternativesDigest(crystal));
    return alternatives_;
  }
  alternativesHeld_ = false;
  alternatives_.reset();
  auto made = std::make_shared<const SiteAlternatives>(crystal);
  gAlternativesDerived.fetch_add(1, std::memory_order_relaxed);
  // Alternatives taken from an inference that was stopped are answered
  // but not kept.
  alternativesHeld_ = orientationsHeld_ || orientationsFrom_ != revisions_.Only(kOrientationInputs);
  alternativesFrom_ = from;
  alternatives_ = made;
  alternativesDigest_ = AlternativesDigest(crystal);
  return made;
}

uint64_t DerivedLayers::AlternativesDerived() { return gAlternativesDerived.load(std::memory_order_relaxed); }

bool DerivedLayers::ChecksInputs() { return kCheckLayers; }

void DerivedLayers::CheckTold(const CrystalRec &crystal) const {
  if (!kCheckLayers)
    return;
  if (orientations_ && orientationsHeld_ && orientationsFrom_ == revisions_.Only(kOrientationInputs))
    StopWhenUntold("orientation groups", orientationsDigest_, OrientationsDigest(crystal));
  if (alternatives_ && alternativesHeld_ && alternativesFrom_ == revisions_.Only(kAlternativesInputs))
    StopWhenUntold("alternatives", alternativesDigest_, AlternativesDigest(crystal));
  // Only polyhedra answered as they are: those due are made when asked.
  if (polyhedra_.held && !PolyhedraDue() && polyhedra_.from == revisions_.Only(kPolyhedraInputs))
    StopWhenUntold("polyhedra", polyhedra_.digest, RolesDigest(crystal));
  CheckRoles(crystal);
}

void DerivedLayers::CheckRoles(const CrystalRec &crystal) const {
  if (kCheckLayers && roles_.held && roles_.from == revisions_.Only(kPolyhedraInputs))
    StopWhenUntold("site roles", roles_.digest, RolesDigest(crystal));
}

void DerivedLayers::LeaveRolesDue(const CrystalRec &crystal) {
  rolesDue_ = 1;
  RolesTaken(crystal);
}

void DerivedLayers::RolesTaken(const CrystalRec &crystal) {
  if (kCheckLayers)
    roles_ = {revisions_.Only(kPolyhedraInputs), RolesDigest(crystal), true};
}

void DerivedLayers::PolyhedraTaken(const CrystalRec &crystal, bool held) {
  if (kCheckLayers)
    polyhedra_ = {revisions_.Only(kPolyhedraInputs), held ? RolesDigest(crystal) : 0, held};
}

void DerivedLayers::RolesDerived(std::vector<uint32_t> shownBefore) {
  rolesDue_ = 0;
  modesBefore_ = std::move(shownBefore);
}

void NoteStructureChange(CrystalRec *crystal, uint32_t what) {
  if (!crystal || gIgnoreChanges)
    return;
  if (what & DerivedLayers::kPolyhedraInputs)
    DeriveDueSiteRoles(*crystal);
  crystal->derived.Note(what);
}

void IgnoreStructureChangesForTests(bool ignore) { gIgnoreChanges = ignore; }

void StructureBuildStarts(CrystalRec *crystal) {
  if (!crystal)
    return;
  crystal->derived.DropDueRoles();
  crystal->derived.Note(~0u);
}

void BondsMade(CrystalRec *crystal) {
  if (!crystal)
    return;
  crystal->derived.Note(kChangeBonds);
  DefinePolyhedraWhenNeeded(crystal);
}

void BondsMadeAgain(CrystalRec *crystal) {
  if (!crystal)
    return;
  crystal->derived.Note(kChangeBonds);
  RemakePolyhedraWhenNeeded(crystal);
}

void GuestJoined(CrystalRec &host, const CrystalRec &guest) {
  DerivedLayers &layers = host.derived;
  layers.SetPolyhedraDue(layers.PolyhedraDue() || guest.derived.PolyhedraDue());
  layers.Note(kChangeSites | kChangeAtoms | kChangeBonds);
}

void DeriveDueSiteRoles(const CrystalRec &crystal) {
  DerivedLayers &layers = crystal.derived;
  if (!layers.RolesDue())
    return;
  // Roles due are derived from the structure they were left due for.
  layers.CheckRoles(crystal);
  layers.DropDueRoles();
  const size_t sites = UsableSiteSize(crystal);
  if (sites == 0 || UsableAtomSize(crystal) == 0)
    return;
  // The modes the roles are composed with are kept for the undo states,
  // which derive them again when they are read. Without memory for them the
  // modes derived are the sites' own.
  std::vector<uint32_t> before;
  try {
    before.reserve(sites);
    for (size_t s = 0; s < sites; ++s)
      before.push_back(ShownPolyMode(crystal.sites[s]));
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    before.clear();
  }
  DeriveSiteRoles(crystal, false);
  layers.RolesDerived(std::move(before));
}

uint32_t SitePolyMode(const CrystalRec &crystal, size_t site) {
  DeriveDueSiteRoles(crystal);
  return ShownPolyMode(crystal.sites[site]);
}

uint32_t SitePolyMode(CrystalRec *crystal, size_t site) { return SitePolyMode(*crystal, site); }

void SetSitePolyMode(CrystalRec *crystal, size_t site, uint32_t mode) {
  if (SitePolyMode(*crystal, site) == mode)
    return;
  SetGivenPolyMode(crystal->sites[site], mode);
  crystal->derived.ForgetModesBeforeRoles();
}
