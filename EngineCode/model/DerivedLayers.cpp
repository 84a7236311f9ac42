// The derived layers of a structure: what is due, what was derived, and the
// changes told.
#include "DerivedLayers.h"

#include "BondSearch.h"
#include "InferredOrientations.h"
#include "MemoryBudget.h"
#include "Polyhedra.h"
#include "StructureRecord.h"

#include <atomic>
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

} // namespace

DerivedLayers::DerivedLayers() { Note(~0u); }

void DerivedLayers::Note(uint32_t what) {
  for (int k = 0; k < kStructureInputs; ++k)
    if (what & (1u << k))
      revisions_.of[k] = NextRevision();
}

const OrientationGroups &DerivedLayers::Orientations(const CrystalRec &crystal) {
  const InputRevisions from = revisions_.Only(kOrientationInputs);
  if (orientations_ && orientationsHeld_ && orientationsFrom_ == from)
    return *orientations_;
  orientationsHeld_ = false;
  orientations_ = InferOrShareOrientationGroups(crystal);
  orientationsHeld_ = !orientations_->stopped;
  orientationsFrom_ = from;
  return *orientations_;
}

std::shared_ptr<const SiteAlternatives> DerivedLayers::Alternatives(const CrystalRec &crystal) {
  const InputRevisions from = revisions_.Only(kAlternativesInputs);
  if (alternatives_ && alternativesHeld_ && alternativesFrom_ == from)
    return alternatives_;
  alternativesHeld_ = false;
  alternatives_.reset();
  auto made = std::make_shared<const SiteAlternatives>(crystal);
  gAlternativesDerived.fetch_add(1, std::memory_order_relaxed);
  // Alternatives taken from an inference that was stopped are answered
  // but not kept.
  alternativesHeld_ = orientationsHeld_ || orientationsFrom_ != revisions_.Only(kOrientationInputs);
  alternativesFrom_ = from;
  alternatives_ = made;
  return made;
}

uint64_t DerivedLayers::AlternativesDerived() { return gAlternativesDerived.load(std::memory_order_relaxed); }

void DerivedLayers::RolesDerived(std::vector<uint32_t> shownBefore) {
  rolesDue_ = 0;
  modesBefore_ = std::move(shownBefore);
}

void NoteStructureChange(CrystalRec *crystal, uint32_t what) {
  if (!crystal)
    return;
  if (what & DerivedLayers::kPolyhedraInputs)
    DeriveDueSiteRoles(*crystal);
  crystal->derived.Note(what);
}

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
