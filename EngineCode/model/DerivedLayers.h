// What the engine derives from a structure, held apart from what the user and
// the file gave it.
//
// The alternatives (the file's disorder groups and the orientation groups
// inferred from the sites, in the one shape every bond search, coordination
// count and polyhedron asks, SiteAlternatives in BondSearch.h) are derived
// once per revision of the atoms, sites and groups they are read from: every
// search of the structure, whichever window searched last, asks its
// DerivedLayers rather than deriving them again.
//
// A structure's site roles (the polyhedron display mode each site shows,
// Polyhedra.h) and its polyhedra are derived from its atoms, sites and bonds.
// Both may be left to be derived when first needed: a large structure never
// drawn as polyhedra never pays for them. The structure's DerivedLayers
// holds what is due and what was derived, and derives it on demand, once:
// whoever reads a site's mode (SitePolyMode) or a polyhedron
// (AtomPolyhedron) asks it, and the reading changes nothing the user or the
// file gave.
//
// The roles of a pass are composed with the modes the sites showed before it
// (a mode the user chose survives), so they depend on the structure they were
// derived from. A command that changes what the layers are derived from says
// so first (NoteStructureChange): roles still due are then derived from the
// structure as it stands, and the changed structure starts from them.
//
// The instrumented build (the sanitizer build the tests run) checks what
// the revisions say: a layer answered from what it held because no input
// it reads was told changed is checked against a digest of the content of
// those inputs taken when it was derived. A command that changed them
// without telling stops the program with a message naming the command
// running (RunningCommand.h), so every test checks that every command
// tells.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct CrystalRec;
struct OrientationGroups;
class SiteAlternatives;

// What a command changes of a structure.
enum StructureChange : uint32_t {
  kChangeAtoms = 1u << 0,  // atoms added, removed, moved or hidden
  kChangeSites = 1u << 1,  // sites added, removed, edited or reordered
  kChangeBonds = 1u << 2,  // bonds or bond specifications
  kChangeRange = 1u << 3,  // the plot range (and with it atoms and bonds)
  kChangeGroups = 1u << 4, // disorder groups or symmetry
};
inline constexpr int kStructureInputs = 5;

// The revision of each kind of input (StructureChange) of a structure: a
// layer records those it was derived from, and is derived again once one of
// them moved on. Revisions are drawn from one count for the whole program,
// so that two structures never share one by chance.
struct InputRevisions {
  uint64_t of[kStructureInputs] = {};
  // The revisions of the inputs named (StructureChange, or'ed), the others 0.
  InputRevisions Only(uint32_t what) const;
  bool operator==(const InputRevisions &) const = default;
};

class DerivedLayers {
public:
  // A structure made afresh starts at revisions no other has had: a record
  // replaced whole (an edit applied, an undo state read) is a change of
  // every input. A copy keeps the revisions and what was derived from them.
  DerivedLayers();

  // ---- Inputs -----------------------------------------------------------------------------
  // What changed (StructureChange, or'ed) moves its revisions on.
  void Note(uint32_t what);
  const InputRevisions &Revisions() const { return revisions_; }

  // ---- Alternatives ---------------------------------------------------------------------
  // The structure's inferred orientation groups (OrientationGroups.h),
  // inferred once per revision of its sites and groups (the cell and the
  // symmetry among them), or taken from the last structure that inferred
  // them from the same inputs (InferredOrientations.h); none in a molecule,
  // nor without a site that may take part. An inference the user stopped is
  // answered (marked stopped) but not kept: the next question infers again.
  // Throws bad_alloc.
  const OrientationGroups &Orientations(const CrystalRec &crystal);
  // The structure's alternatives, derived once per revision of its atoms,
  // sites and groups (not kept when their inference was stopped). What is
  // answered stays valid for whoever holds it. Throws bad_alloc.
  std::shared_ptr<const SiteAlternatives> Alternatives(const CrystalRec &crystal);
  // How many times any structure derived its alternatives.
  static uint64_t AlternativesDerived();
  // Whether this build checks each layer answered from its revisions
  // against its inputs' content.
  static bool ChecksInputs();
  // In that build, the same check of every layer held whose revisions
  // still stand, now (what a command's end asks, so that the message names
  // the command that left a change untold); nothing in others.
  void CheckTold(const CrystalRec &crystal) const;
  static constexpr uint32_t kOrientationInputs = kChangeSites | kChangeGroups;
  static constexpr uint32_t kAlternativesInputs = kChangeAtoms | kChangeSites | kChangeGroups;

  // ---- Site roles ----------------------------------------------------------------------
  // Roles left to be derived from the bonds when first asked for.
  bool RolesDue() const { return rolesDue_ != 0; }
  // Roles left due for the structure as it stands, and roles derived from
  // it now: the instrumented build checks what the roles are derived (or
  // were) from while no input of theirs is told changed.
  void LeaveRolesDue(const CrystalRec &crystal);
  void RolesTaken(const CrystalRec &crystal);
  // In that build, the check of the roles alone (what deriving roles due
  // asks first); nothing in others.
  void CheckRoles(const CrystalRec &crystal) const;
  // Roles due are not derived (a build about to make the bonds afresh).
  void DropDueRoles() { rolesDue_ = 0; }
  // The roles derived now, composed with the modes the sites show: the
  // modes they showed are kept when the roles were due (lazily), as what an
  // undo state holds, the roles to be derived again. Never for roles
  // derived at once.
  void RolesDerived(std::vector<uint32_t> shownBefore);
  // The modes the roles derived lazily were composed with; empty when the
  // roles were derived at once, a mode was given since, or none is due.
  const std::vector<uint32_t> &ModesBeforeRoles() const { return modesBefore_; }
  void ForgetModesBeforeRoles() { modesBefore_.clear(); }

  // ---- Polyhedra -------------------------------------------------------------------------
  bool PolyhedraDue() const { return polyhedraDue_ != 0; }
  void SetPolyhedraDue(bool due) { polyhedraDue_ = due ? 1 : 0; }
  // The polyhedra made now from the structure as it stands (held false:
  // the making was stopped, none is held), for the instrumented check.
  void PolyhedraTaken(const CrystalRec &crystal, bool held);
  // Per site, the flag byte its polyhedra take when they are made: the
  // mode the site showed when they were left due, as a build that makes them
  // at once writes it. Empty: the modes as they show then.
  std::vector<uint8_t> &DueFlags() { return dueFlags_; }
  const std::vector<uint8_t> &DueFlags() const { return dueFlags_; }
  // Polyhedra made for saves while they are due (PolyhedraForSave,
  // Polyhedra.h): the revisions and a digest of what they were made from
  // and how many atoms held one then; a digest of 0 when none is held so.
  // The digest stays beside the revisions: a save reuses them only when
  // both say the inputs are those they were made from.
  void HoldForSaves(uint64_t inputs, uint64_t held) {
    saveInputs_ = inputs;
    saveHeld_ = held;
    saveRevisions_ = revisions_.Only(kPolyhedraInputs);
  }
  uint64_t SaveInputs() const { return saveInputs_; }
  uint64_t SaveHeld() const { return saveHeld_; }
  // Whether no input of the polyhedra held for saves changed since.
  bool SaveInputsUntold() const { return saveRevisions_ == revisions_.Only(kPolyhedraInputs); }

  // What the roles and polyhedra are derived from.
  static constexpr uint32_t kPolyhedraInputs = kChangeAtoms | kChangeSites | kChangeBonds | kChangeRange;

private:
  InputRevisions revisions_;
  // The alternatives and the orientations they take, each with the
  // revisions it was derived from (unset: none held). A copy of the
  // structure keeps them with its revisions.
  std::shared_ptr<const OrientationGroups> orientations_;
  InputRevisions orientationsFrom_;
  bool orientationsHeld_ = false;
  std::shared_ptr<const SiteAlternatives> alternatives_;
  InputRevisions alternativesFrom_;
  bool alternativesHeld_ = false;
  // Digests of the content each was derived from, in the instrumented
  // build (0 in others).
  uint64_t orientationsDigest_ = 0;
  uint64_t alternativesDigest_ = 0;
  // What the roles (derived or due) and the polyhedra held were taken
  // from, in the instrumented build: the revisions of their inputs and a
  // digest of those inputs' content.
  struct Taken {
    InputRevisions from;
    uint64_t digest = 0;
    bool held = false;
  };
  Taken roles_;
  Taken polyhedra_;
  uint8_t rolesDue_ = 0;
  std::vector<uint32_t> modesBefore_;
  uint8_t polyhedraDue_ = 0;
  std::vector<uint8_t> dueFlags_;
  uint64_t saveInputs_ = 0;
  uint64_t saveHeld_ = 0;
  InputRevisions saveRevisions_;
};

// ---- What the builds tell ------------------------------------------------------------------
// A build starts making the structure's atoms and bonds afresh: every input
// changes, and roles still due for the structure it replaces are not
// derived (they would be derived from a structure half made); the build
// derives them again from what it makes.
void StructureBuildStarts(CrystalRec *crystal);
// The bonds were made afresh (a build, a new bond search or rule, a new
// plot range): the roles and polyhedra they give are due, made at once in
// the polyhedral model and otherwise when first needed.
void BondsMade(CrystalRec *crystal);
// The bonds were made again after BondsMade (the same structure bonded by
// a wider rule): the polyhedra are due again from them, their flags the
// modes as the roles leave them, without deriving the roles twice.
void BondsMadeAgain(CrystalRec *crystal);
// A guest joined the host's atoms: polyhedra due on either side are due
// for all.
void GuestJoined(CrystalRec &host, const CrystalRec &guest);

// A command about to change the structure's atoms, sites, bonds, range or
// groups (StructureChange, or'ed) says so: roles still due, which are judged
// from the atoms, sites and bonds, are derived from the structure as it
// stands, before the change, and the revisions of what it names move on.
// Every command that changes them in place says so, the bond tool, the
// zapper and the hide and show commands included: a layer derived later
// from what a command left unsaid would be derived from the wrong
// structure. What replaces or reorders the sites or atoms wholesale (a
// sort, a new block of cells, Crystal to Molecule) moves their revisions
// on again once it is done (DerivedLayers::Note), so that a layer derived
// on the way, from what was replaced, is not taken for theirs.
void NoteStructureChange(CrystalRec *crystal, uint32_t what);
// For tests of the instrumented check: while set, NoteStructureChange does
// nothing, as though the command running had no call to it.
void IgnoreStructureChangesForTests(bool ignore);
// Roles still due derived now, from the structure as it stands: for what
// writes them out (a save, a cache document).
void DeriveDueSiteRoles(const CrystalRec &crystal);
