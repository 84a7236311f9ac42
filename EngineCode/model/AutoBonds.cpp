// The automatic bond search and the Distance Explorer search.
#include "AutoBonds.h"

#include "BondSearch.h"
#include "CancelPoll.h"
#include "Geometry.h"
#include "HostServices.h"
#include "MemoryBudget.h"
#include "Polyhedra.h"
#include "StructureArrays.h"
#include "VectorMath.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <new>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

namespace {

void ElementChars(ElementCode code, char out[2]) { ShortToTwoChars(code, out); }

// Places between two readings of the clock in the automatic search.
constexpr int64_t kAutoBondClockEvery = 64;
// The edge of the search's grid cells, as a share of the search distance.
constexpr float kAutoBondGridEdgeShare = 0.5f;
// The search keeps its pairs for the coordination count (BlockPairs) only
// where every pair of elements may be bonded this share of the search
// distance apart: the count then reads few pairs it has no use for, which a
// query of its own would not have met.
constexpr float kKeptPairsLimitShare = 0.8f;

} // namespace

// ---- Merging a specification ------------------------------------------------------

int32_t AutoAddBondSpecs(CrystalRec *crystal, BondSpec spec) {
  if (!crystal)
    return -1;
  CrystalRec &c = *crystal;
  const int32_t count = std::clamp<int32_t>(c.bondSpecCount, 0, kMaxBondSpecs);
  if (count >= kMaxBondSpecs)
    return -1;
  for (int32_t k = 0; k < count; k++) {
    BondSpec &old = c.bondSpecs[static_cast<size_t>(k)];
    if (SameElementPair(old.elementA, old.elementB, spec.elementA, spec.elementB)) {
      if (spec.maxLength > old.maxLength)
        old.maxLength = spec.maxLength;
      old.minLength = std::max(0.0f, std::min(old.minLength, spec.minLength));
      return k;
    }
  }
  BondSpec &added = c.bondSpecs[static_cast<size_t>(count)];
  added = BondSpec{};
  added.elementA = spec.elementA;
  added.elementB = spec.elementB;
  added.minLength = std::max(0.0f, spec.minLength);
  added.maxLength = spec.maxLength;
  added.style = c.defaultBondStyle;
  added.colour1 = c.bondColor1;
  added.colour2 = c.bondColor2;
  c.bondSpecCount = count + 1;
  return count;
}

// ---- Automatic bond search -------------------------------------------------------------
//
// Every candidate (every atom of a molecule; in a crystal every image over a
// block of cells large enough for the longest possible bond) is queried once
// with the longest limit D; each pair of candidates is judged once, by the
// query of the earlier one, against its own limit. The search runs in stages
// over one working state: prepare (the rule's limits and the alternatives),
// gather the candidates, mark the crowded atoms, find the contacts, settle the
// metals' contacts, report.

namespace {

// Statistics of one specification made by the automatic search.
struct SpecStats {
  // In double: a float sum of hundreds of thousands of lengths drifts
  // below the shortest of them.
  double sum = 0.0;
  float shortest = kAutoBondNoShortest;
  float longest = 0.0f;
  int32_t count = 0;
};

// The working state of one automatic search, from stage to stage.
struct AutoBondWork {
  explicit AutoBondWork(CrystalRec &crystal) : c(crystal) {}
  CrystalRec &c;
  const bool progress = gShowProgress != 0;
  const uint64_t start = Microseconds();
  std::optional<PairLimits> limits;
  std::shared_ptr<const SiteAlternatives> alternatives;
  bool anyAlternative = false;
  // Some contacts the rule left out lie within their pair's bonds and are
  // bonded with them: the coordination counts them too.
  bool leftOutBonded = false;
  // A molecule's atoms with long bonds lists (BondOnce), each with the set
  // of the atoms its list holds.
  std::unordered_map<uint32_t, std::unordered_set<uint32_t>> partners;
  // The sites whose bonds to each other the file gives, or null.
  const std::vector<uint8_t> *given = nullptr;
  float searchDistance = 0.0f;
  // The candidates, grouped into places (BondSearch.h): a list of atoms
  // written many times over costs its places, not its copies squared. The
  // index holds the first candidate of each place.
  CandidateIndex index;
  TurboPlaces places;
  size_t nPlaces = 0;
  // In a crystal with alternatives, the pairs of places the search finds,
  // for the coordination count that follows over the same block.
  BlockPairs pairs;
  // Per candidate (position in places.all): its contacts, its site and kind,
  // and whether its element has a kind at all (crowded or not).
  std::vector<int32_t> contacts;
  std::vector<RuleCandidate> of;
  std::vector<uint8_t> hasKind;
  // Per candidate: in contact with a non-metal more electronegative than
  // hydrogen (only a hydrogen's is ever set).
  std::vector<uint8_t> protonated;
  // Per candidate: a non-metal in contact with a non-metal, whose shell of
  // metals is not its whole shell.
  std::vector<uint8_t> covalent;
  // The bonds the file lists, by their two sites: the longest length each
  // pair may have. A pair of two given sites within it is a neighbour of
  // each end for the metals' verdicts, though the file makes the bond.
  std::unordered_map<uint64_t, float> listed;
  std::array<SpecStats, kMaxBondSpecs> stats{};
  // Atoms crowded beyond any matter, and the places all of whose members are.
  size_t crowdLimit = 0;
  uint64_t crowdedAtoms = 0;
  std::vector<uint8_t> crowdedAtom, skipPlace;
  // The contacts of a metal that may be second neighbours wait until all are
  // known; a metal's contacts with non-metals are kept to look the shared
  // neighbours up in.
  std::vector<RuleContact> deferred, anionContacts;
  // Pairs at one place: the first is named, all are counted.
  uint64_t coincident = 0;
  // The members of the place being searched that make contacts.
  std::vector<uint32_t> capable;
  // Per pair of kinds, the nearest two partly occupied atoms within their
  // limit that were taken as alternatives (0 for none), and their atoms.
  std::vector<float> partialApart;
  std::vector<std::pair<uint32_t, uint32_t>> partialAtoms;
  // The cancel key, heard between places in the crowd count and the search.
  bool stoppedBefore = false;
  std::optional<CancelPoll> cancel;
  bool cancelled = false;
  // The progress report's last element.
  bool announced = false;
  ElementCode lastAnnounced = kBlankElement;
};

void WriteCoincidentAtomsWarning(const CrystalRec &c, uint32_t a, uint32_t b) {
  const AsymmetricUnitRecord &sa = c.sites[c.atoms[a].site];
  const AsymmetricUnitRecord &sb = c.sites[c.atoms[b].site];
  char ea[2], eb[2];
  ElementChars(sa.elements[0], ea);
  ElementChars(sb.elements[0], eb);
  char line[160];
  std::snprintf(line, sizeof line, "  no. %ld \"%s\" (%c%c) ...and... no. %ld \"%s\" (%c%c)", long(a), sa.label, ea[0],
                ea[1], long(b), sb.label, eb[0], eb[1]);
  FWriteColor("Warning: two atoms found with the same coordinates:", kRGBRed);
  FWriteColor(line, kRGBRed);
}

// The Log's line on a kind of contact the rule left out: "<E> - <E> <what>
// from <r> A (<label> - <label>) <why>".
void WriteApartLine(const CrystalRec &c, uint32_t a, uint32_t b, float r, const char *what, const char *why) {
  const AsymmetricUnitRecord &sa = c.sites[c.atoms[a].site], &sb = c.sites[c.atoms[b].site];
  char ea[2], eb[2];
  ElementChars(sa.elements[0], ea);
  ElementChars(sb.elements[0], eb);
  char line[300];
  std::snprintf(line, sizeof line, "%c%c - %c%c %s from %.3f A (%s - %s) %s", ea[0], ea[1], eb[0], eb[1], what,
                double(r), sa.label, sb.label, why);
  FWrite(line);
}

// Resets the structure's bonds, specifications and coordination, and makes
// the rule's limits for its elements and its alternatives. False when there
// is nothing to search.
// The key of a pair of sites, in either order.
uint64_t SitePairKey(uint32_t x, uint32_t y) { return (uint64_t{std::min(x, y)} << 32) | std::max(x, y); }

bool PrepareSearch(AutoBondWork &w, const std::vector<uint8_t> *givenSites, const std::vector<ListedBond> *listed) {
  CrystalRec &c = w.c;
  if (w.progress)
    WriteStatus("Preparing auto bond generation...");
  const size_t nSites = UsableSiteSize(c);
  const size_t nSpheres = UsableSphereSize(c);
  if (nSites == 0 || nSpheres == 0)
    return false;

  c.derived.ForgetModesBeforeRoles();
  for (size_t s = 0; s < nSites; s++) {
    c.sites[s].coordination = 0;
    SetGivenPolyMode(c.sites[s], 0);
  }
  TurboRemoveBonds(&c);
  c.bondSpecCount = 0;
  // A stopped search leaves no bonds, no specifications and no coordination,
  // and says so unless an earlier stage of the command was stopped (and said
  // so); the alternatives' inference is a stage of the search.
  w.stoppedBefore = LongCommandCancelled() && !ShowingAfterStop::Active();
  w.limits.emplace(c);
  w.alternatives = c.derived.Alternatives(c);
  w.anyAlternative = w.alternatives->Any();
  for (const ElementCode e : w.limits->Unknown()) {
    char chars[2];
    ElementChars(e, chars);
    char line[120];
    std::snprintf(line, sizeof line, "No covalent radius is known for %c%c: its atoms get no automatic bond.", chars[0],
                  chars[1]);
    FWrite(line);
  }
  w.given = givenSites && !givenSites->empty() ? givenSites : nullptr;
  if (w.given && listed)
    for (const ListedBond &b : *listed) {
      float &longest = w.listed[SitePairKey(b.siteA, b.siteB)];
      longest = std::max(longest, b.length + kListedBondSlack);
    }
  w.searchDistance = w.limits->Longest();
  w.partialApart.assign(w.limits->Kinds() * w.limits->Kinds(), 0.0f);
  w.partialAtoms.assign(w.partialApart.size(), {0, 0});
  return true;
}

// The candidates, grouped into places and sorted. False when there are none,
// memory for them runs out or the user stops the search (cancelled).
bool GatherCandidates(AutoBondWork &w) {
  CrystalRec &c = w.c;
  CandidateIndex &index = w.index;
  // Gathering, grouping and gridding a block of a million images take
  // seconds: each hears the cancel key as it goes.
  index.HearCancelKey();
  // In a crystal with alternatives, the coordination count that follows may
  // read the pairs the search finds (BlockPairs), by the sites that gathered
  // them.
  const PairLimits &limits = *w.limits;
  bool keepPairs = !c.molecule && w.anyAlternative;
  for (uint32_t a = 0; a < limits.Kinds() && keepPairs; a++)
    for (uint32_t b = a; b < limits.Kinds() && keepPairs; b++)
      keepPairs = limits.Limit(a, b) >= kKeptPairsLimitShare * w.searchDistance;
  std::vector<uint32_t> gatheredSites;
  const bool gathered =
      c.molecule ? index.GetIndexedAtoms(&c, 0, static_cast<int32_t>(UsableAtomSize(c)) - 1)
                 : index.ExtendCellRange(&c, 0, static_cast<int32_t>(UsableSiteSize(c)) - 1, w.searchDistance,
                                         keepPairs ? &gatheredSites : nullptr);
  if (!gathered || index.Empty() || !index.GroupPlaces(&w.places)) {
    w.cancelled = index.Stopped();
    return false;
  }
  // Every query of the search reaches the search distance: on grid cells of
  // a share of it, the cube around a place spans fewer candidates it need
  // not test (about (2 + share)^3 rather than 3^3 times the distance cubed).
  // Without memory for that grid, the queries make their own.
  const bool gridReady = index.PrepareGrid(w.searchDistance * kAutoBondGridEdgeShare);
  if ((w.cancelled = index.Stopped()))
    return false;
  w.contacts.assign(w.places.all.size(), 0);
  w.protonated.assign(w.places.all.size(), 0);
  w.covalent.assign(w.places.all.size(), 0);
  w.nPlaces = index.Size();
  // Only a grid ready now answers every query of the search.
  if (keepPairs && gridReady)
    w.pairs.Begin(&c, w.searchDistance, w.places, w.nPlaces, std::move(gatheredSites));
  return true;
}

// Atoms crowded beyond any matter (kCrowdedVolumePerPlace) make no contact;
// found before the search so that both ends of a pair agree. In a crystal an
// atom is crowded where any of its images is: one at the block's edge sees
// only part of its neighbours. A place whose members are all crowded is not
// queried. Then each candidate's site and kind (kNone for a crowded atom)
// and whether its element has a kind, noted in one pass over the atom
// records: the search reads them for every place and every pair it looks
// at, near in space but far apart among the records.
void MarkCrowded(AutoBondWork &w) {
  const CrystalRec &c = w.c;
  const TurboPlaces &places = w.places;
  const double d = double(w.searchDistance);
  const double sphere = 4.0 / 3.0 * M_PI * d * w.searchDistance * w.searchDistance;
  w.crowdLimit = std::max(kMinCrowdedPlaces, static_cast<size_t>(sphere / kCrowdedVolumePerPlace));
  w.crowdedAtom.assign(UsableAtomSize(c), 0);
  w.skipPlace.assign(w.nPlaces, 0);
  w.cancel.emplace(kAutoBondClockEvery);
  // No place is crowded where no cube of the search distance can hold the
  // limit.
  if (w.nPlaces > w.crowdLimit && w.index.MostAnyCubeHolds(w.searchDistance) > w.crowdLimit) {
    // A place whose members are all crowded already (found so at another of
    // their images) is not counted again: the count could change nothing.
    const auto allCrowded = [&](size_t p) {
      for (uint32_t m = places.start[p]; m < places.start[p + 1]; m++)
        if (!w.crowdedAtom[places.all[places.members[m]].atom])
          return false;
      return true;
    };
    for (size_t p = 0; p < w.nPlaces && !(w.cancelled = w.cancelled || w.cancel->Step()); p++)
      if (!allCrowded(p) && w.index.HoldsMoreThan(w.index[p].xyz, w.searchDistance, w.crowdLimit))
        for (uint32_t m = places.start[p]; m < places.start[p + 1]; m++) {
          uint8_t &flag = w.crowdedAtom[places.all[places.members[m]].atom];
          w.crowdedAtoms += flag == 0;
          flag = 1;
        }
    for (size_t p = 0; p < w.nPlaces && w.crowdedAtoms > 0; p++) {
      w.skipPlace[p] = 1;
      for (uint32_t m = places.start[p]; m < places.start[p + 1] && w.skipPlace[p]; m++)
        w.skipPlace[p] = w.crowdedAtom[places.all[places.members[m]].atom];
    }
  }
  const size_t n = places.all.size();
  w.of.resize(n);
  w.hasKind.resize(n);
  for (size_t i = 0; i < n; i++) {
    const uint32_t atom = places.all[i].atom;
    const uint32_t kind = w.limits->KindOfAtom(c, atom);
    w.of[i].site = c.atoms[atom].site;
    w.of[i].kind = w.crowdedAtom[atom] ? PairLimits::kNone : kind;
    w.hasKind[i] = kind != PairLimits::kNone;
  }
}

// A molecule's bonds list walked whole for each bond added to it, up to
// this length; a longer one (an atom beside thousands written at one place)
// is asked of a set of its partners instead.
constexpr size_t kWalkedBondsList = 32;

// Atom b added to atom a's bonds list unless it holds it already, as
// AddAtomToBondsList adds it.
void BondOnce(AutoBondWork &w, uint32_t a, uint32_t b) {
  AtomRecord &atom = w.c.atoms[a];
  if (atom.bonds.size() < kWalkedBondsList) {
    AddAtomToBondsList(&atom, b);
    return;
  }
  auto [held, fresh] = w.partners.try_emplace(a);
  if (fresh)
    held->second.insert(atom.bonds.begin(), atom.bonds.end());
  if (!held->second.insert(b).second)
    return;
  try {
    atom.bonds.push_back(b);
  } catch (const std::bad_alloc &) {
    held->second.erase(b);
    if (MemoryFailuresPass())
      throw;
    return;
  }
  atom.bondCount = static_cast<uint32_t>(atom.bonds.size());
}

// Marks two non-metals in contact as covalent (AutoBondWork::covalent).
void NoteNonMetalPair(AutoBondWork &w, uint32_t i, uint32_t j) {
  const PairLimits &limits = *w.limits;
  if (!limits.Metal(w.of[i].kind) && !limits.Metal(w.of[j].kind))
    w.covalent[i] = w.covalent[j] = 1;
}

// One contact of candidates i and j (positions in places.all): counted,
// bonded in a molecule, merged into its pair's specification. False when the
// specification table is full. The sites' coordination, the most contacts of
// any of their candidates, is taken from the counts once the contacts are
// made.
bool CommitContact(AutoBondWork &w, uint32_t i, uint32_t j, float d2) {
  CrystalRec &c = w.c;
  const PairLimits &limits = *w.limits;
  const uint32_t a = w.places.all[i].atom, b = w.places.all[j].atom;
  const uint32_t sa = w.of[i].site, sb = w.of[j].site;
  const uint32_t ka = w.of[i].kind, kb = w.of[j].kind;
  w.contacts[i]++;
  w.contacts[j]++;
  w.protonated[i] |= uint8_t(limits.Protonates(ka, kb));
  w.protonated[j] |= uint8_t(limits.Protonates(kb, ka));
  NoteNonMetalPair(w, i, j);
  if (c.molecule) {
    BondOnce(w, a, b);
    BondOnce(w, b, a);
  }
  const float r = std::sqrt(d2);
  BondSpec spec;
  spec.elementA = limits.Element(ka);
  spec.elementB = limits.Element(kb);
  spec.minLength = limits.Shortest(ka, kb);
  spec.maxLength = SpecMaximum(r, limits.Limit(ka, kb));
  const int32_t index = AutoAddBondSpecs(&c, spec);
  if (index < 0) {
    FWriteColor("Maximum number of bond specifications exceeded!", kRGBRed);
    return false;
  }
  if (sa == sb)
    SetGivenPolyMode(c.sites[sa], kSelfBondedPolyMode);
  SpecStats &st = w.stats[static_cast<size_t>(index)];
  st.count++;
  st.sum += r;
  st.shortest = std::min(st.shortest, r);
  st.longest = std::max(st.longest, r);
  return true;
}

// A pair of two sites the file gives bonds for, d2 apart: where it is a bond
// the file lists, a neighbour of each end for the metals' verdicts.
void NoteListedBond(AutoBondWork &w, uint32_t i, uint32_t j, float d2) {
  const auto at = w.listed.find(SitePairKey(w.of[i].site, w.of[j].site));
  if (at == w.listed.end() || !(d2 <= at->second * at->second))
    return;
  const PairLimits &limits = *w.limits;
  const uint32_t ka = w.of[i].kind, kb = w.of[j].kind;
  w.protonated[i] |= uint8_t(limits.Protonates(ka, kb));
  w.protonated[j] |= uint8_t(limits.Protonates(kb, ka));
  NoteNonMetalPair(w, i, j);
  if (limits.KeepsAnionContacts() && limits.Metal(ka) != limits.Metal(kb))
    w.anionContacts.push_back({i, j, d2});
}

// Two atoms within their limit that are alternatives only as partly occupied
// sites too close to be both there: the nearest of each pair of kinds, for
// the Log.
void NotePartlyOccupiedApart(AutoBondWork &w, uint32_t i, uint32_t j, float d2) {
  const uint32_t ka = w.of[i].kind, kb = w.of[j].kind;
  const uint32_t a = w.places.all[i].atom, b = w.places.all[j].atom;
  if (d2 < kOverlapDistanceSq || !w.alternatives->AtomsMayBond(a, b))
    return;
  const size_t cell = size_t(std::min(ka, kb)) * w.limits->Kinds() + std::max(ka, kb);
  const float r = std::sqrt(d2);
  if (w.partialApart[cell] == 0.0f || r < w.partialApart[cell]) {
    w.partialApart[cell] = r;
    w.partialAtoms[cell] = {a, b};
  }
}

// Judges candidates i and j, d2 apart (both members of places within the
// search distance): no contact, a contact deferred or kept for the metals'
// verdicts, or a contact made. False when the specification table is full.
bool JudgePair(AutoBondWork &w, uint32_t i, uint32_t j, float d2) {
  const PairLimits &limits = *w.limits;
  const uint32_t sa = w.of[i].site, sb = w.of[j].site;
  const uint32_t ka = w.of[i].kind, kb = w.of[j].kind;
  if (kb == PairLimits::kNone)
    return true;
  const std::vector<uint8_t> *given = w.given;
  const bool bothGiven = given && sa < given->size() && sb < given->size() && (*given)[sa] && (*given)[sb];
  // Beyond its limit, and not at one place, a pair the file does not give
  // makes no contact whether or not its atoms are alternatives: most pairs
  // within the search distance are settled so, without asking.
  const float limit = limits.Limit(ka, kb);
  if (!(d2 <= limit * limit) && !(d2 < kOverlapDistanceSq) && !bothGiven)
    return true;
  // The candidates' atoms are read of the pairs that pass alone.
  const uint32_t a = w.places.all[i].atom, b = w.places.all[j].atom;
  if (w.anyAlternative && !w.alternatives->AtomsMayBondAt(a, b, d2)) {
    if (d2 <= limit * limit)
      NotePartlyOccupiedApart(w, i, j, d2);
    return true;
  }
  if (d2 < kOverlapDistanceSq) { // atoms at one place make no contact
    if (d2 < kCoincidentDistanceSq && w.coincident == 0)
      WriteCoincidentAtomsWarning(w.c, a, b);
    w.coincident++;
    return true;
  }
  if (bothGiven) {
    if (!w.listed.empty())
      NoteListedBond(w, i, j, d2);
    return true;
  }
  if (d2 < limits.ShortestSq(ka, kb)) // closer than any bond
    return true;
  // Judged once every contact is known: a metal's contacts that may be
  // second neighbours, two metals (their first shells and bridges), a metal
  // and a hydrogen only the hydride ion's radius reaches, and a metal and a
  // non-metal only its largest ionic radius reaches (its shell's gap).
  const float proton = limits.ProtonLimit(ka, kb);
  const float shorter = limits.ShortLimit(ka, kb);
  if (limits.MaySecondNeighbours(ka, kb) || (limits.Metal(ka) && limits.Metal(kb)) ||
      (proton > 0.0f && d2 > proton * proton) || (shorter > 0.0f && d2 > shorter * shorter)) {
    w.deferred.push_back({i, j, d2});
    return true;
  }
  if (limits.KeepsAnionContacts() && limits.Metal(ka) != limits.Metal(kb))
    w.anionContacts.push_back({i, j, d2});
  return CommitContact(w, i, j, d2);
}

// The pairs within place pi: all at one place, none of them in contact;
// counted without walking them, the alternatives left out.
// Answers whether some member of the place makes contacts.
bool CountPairsAtPlace(AutoBondWork &w, size_t pi) {
  const TurboPlaces &places = w.places;
  std::vector<uint32_t> &capable = w.capable;
  capable.clear();
  for (uint32_t m = places.start[pi]; m < places.start[pi + 1]; m++) {
    const uint32_t i = places.members[m];
    if (w.hasKind[i])
      capable.push_back(places.all[i].atom);
  }
  if (capable.size() >= 2) {
    uint64_t pairs = uint64_t{capable.size()} * (capable.size() - 1) / 2;
    if (w.anyAlternative)
      pairs -= w.alternatives->PairsApart(capable) + w.alternatives->PartialPairsApartAtOnePlace(capable);
    if (pairs > 0 && w.coincident == 0)
      WriteCoincidentAtomsWarning(w.c, capable[0], capable[1]);
    w.coincident += pairs;
  }
  return !capable.empty();
}

// The hits of a place's query, for the coordination count; apart from the
// search's own loop, which most structures run without it.
template <class DistanceSq>
[[gnu::noinline]] void NotePairs(AutoBondWork &w, bool queried, int32_t hits, const DistanceSq &distanceSq) {
  if (!queried)
    w.pairs.Skip();
  for (int32_t h = 0; h < hits; h++)
    w.pairs.Note(w.index.Boxed()[static_cast<size_t>(h)], distanceSq(h));
  w.pairs.EndPlace();
}

// The contacts of place pi with the later places within the search distance.
// False when the specification table is full.
bool SearchPlace(AutoBondWork &w, size_t pi) {
  const TurboPlaces &places = w.places;
  CandidateIndex &index = w.index;
  const TurboAtom ci = index[pi];
  const bool capable = CountPairsAtPlace(w, pi);
  // The later places within the search distance (beyond it, every limit).
  const bool queried = capable && !w.skipPlace[pi];
  const int32_t hits = queried ? index.BallAtomsAfter(ci.xyz, w.searchDistance, static_cast<uint32_t>(pi)) : 0;
  // The squared distance of hit h, from the place's coordinates as the query
  // just read them from the grid.
  const auto distanceSq = [&](int32_t h) {
    const GridItem &cj = index.Item(index.BoxedItem(static_cast<size_t>(h)));
    const float dx = cj.xyz[0] - ci.xyz[0];
    const float dy = cj.xyz[1] - ci.xyz[1];
    const float dz = cj.xyz[2] - ci.xyz[2];
    return dx * dx + dy * dy + dz * dz;
  };
  if (w.pairs.Recording())
    NotePairs(w, queried, hits, distanceSq);
  for (int32_t h = 0; h < hits; h++) {
    const size_t pj = index.Boxed()[static_cast<size_t>(h)];
    if (w.skipPlace[pj])
      continue;
    const float d2 = distanceSq(h);
    for (uint32_t mi = places.start[pi]; mi < places.start[pi + 1]; mi++) {
      const uint32_t i = places.members[mi];
      if (w.of[i].kind == PairLimits::kNone)
        continue;
      for (uint32_t mj = places.start[pj]; mj < places.start[pj + 1]; mj++)
        if (!JudgePair(w, i, places.members[mj], d2))
          return false;
    }
  }
  return true;
}

// The status window's progress through the places, naming the element
// searched from.
void ReportProgress(AutoBondWork &w, size_t pi) {
  const CrystalRec &c = w.c;
  const float percent = static_cast<float>(pi) * (100.0f / static_cast<float>(w.nPlaces));
  const uint32_t a = w.index[pi].atom;
  const uint32_t ka = w.limits->KindOfAtom(c, a);
  const ElementCode ea = ka == PairLimits::kNone ? c.sites[c.atoms[a].site].elements[0] : w.limits->Element(ka);
  if (!w.announced || ea != w.lastAnnounced) {
    char chars[2];
    ElementChars(ea, chars);
    char text[64];
    std::snprintf(text, sizeof text, "Generating bonds (from %c%c)...", chars[0], chars[1]);
    WriteProgress(text, percent);
    w.announced = true;
    w.lastAnnounced = ea;
  } else {
    WriteProgress("", percent);
  }
}

// Each site's coordination: the most contacts of its candidates so far.
void NoteCoordination(AutoBondWork &w) {
  for (size_t i = 0; i < w.contacts.size(); i++)
    if (w.contacts[i] > 0) {
      uint32_t &coordination = w.c.sites[w.of[i].site].coordination;
      coordination = std::max(coordination, static_cast<uint32_t>(w.contacts[i]));
    }
}

// A search the user stopped leaves no bonds, no specifications and no
// coordination.
void EndStoppedSearch(AutoBondWork &w) {
  CrystalRec &c = w.c;
  w.index.FreeCandidates();
  TurboEndCancelledSearch(&c, !w.stoppedBefore);
  c.bondSpecCount = 0;
  for (size_t s = 0; s < UsableSiteSize(c); s++) {
    c.sites[s].coordination = 0;
    SetGivenPolyMode(c.sites[s], 0);
  }
}

// Every place queried once, each pair of places judged by the earlier one.
// False when the user stopped the search: it then leaves no bonds, no
// specifications and no coordination.
bool FindContacts(AutoBondWork &w) {
  for (size_t pi = 0; pi < w.nPlaces && !(w.cancelled = w.cancelled || w.cancel->Step()); pi++) {
    // A full specification table ends only the place's own search.
    SearchPlace(w, pi);
    if (w.progress)
      ReportProgress(w, pi);
  }
  NoteCoordination(w);
  if (!w.cancelled)
    w.pairs.Finish();
  if (w.cancelled) {
    EndStoppedSearch(w);
    return false;
  }
  w.index.FreeCandidates();
  return true;
}

// A specification of a pair that also has second neighbours ends below them
// where all of them are longer than its bonds; otherwise the bond search of a
// crystal bonds those within its range, and the Log says so.
// `shortestLeftOut`: per pair of kinds, the shortest contact left out
// (second neighbours where `leftOutSecond`, else beyond a first shell or a
// proton's).
void EndSpecsBelowSecondNeighbours(AutoBondWork &w, const std::vector<float> &shortestLeftOut,
                                   const std::vector<uint8_t> &leftOutSecond) {
  CrystalRec &c = w.c;
  const PairLimits &limits = *w.limits;
  const size_t kinds = limits.Kinds();
  for (size_t ka = 0; ka < kinds; ka++)
    for (size_t kb = ka; kb < kinds; kb++) {
      const float leftOut = shortestLeftOut[ka * kinds + kb];
      if (leftOut == 0.0f)
        continue;
      const ElementCode ea = limits.Element(uint32_t(ka)), eb = limits.Element(uint32_t(kb));
      for (int32_t k = 0; k < c.bondSpecCount && k < kMaxBondSpecs; k++) {
        BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
        if (!SameElementPair(spec.elementA, spec.elementB, ea, eb))
          continue;
        const float below = SpecMaximumBelow(leftOut);
        const SpecStats &st = w.stats[static_cast<size_t>(k)];
        if (st.longest <= below) {
          spec.maxLength = std::min(spec.maxLength, below);
        } else if (!c.molecule) {
          char ca[2], cb[2];
          ElementChars(ea, ca);
          ElementChars(eb, cb);
          char line[200];
          std::snprintf(line, sizeof line,
                        "%c%c - %c%c %s from %.3f A lie among the pair's bonds (to %.3f A) and are bonded with them",
                        ca[0], ca[1], cb[0], cb[1],
                        leftOutSecond[ka * kinds + kb] ? "second neighbours" : "contacts the rule leaves out",
                        double(leftOut), double(st.longest));
          FWrite(line);
          w.leftOutBonded = true;
        }
      }
    }
}

// In a crystal, the candidates of the block's central cell, whose every
// neighbour within the search distance is among the candidates: the block
// reaches that far beyond the central cell (CandidateIndex::ExtendCellRange).
void MarkCentralImages(CrystalRec *crystal, float searchDistance, const std::vector<TurboAtom> &all,
                       std::vector<uint8_t> *central) {
  int32_t shift[3];
  float inverse[9];
  if (!TurboCentreShift(crystal, searchDistance, shift) || !Inv3x3Mat(crystal->orientationMatrix, inverse)) {
    std::fill(central->begin(), central->end(), 0);
    return;
  }
  for (size_t i = 0; i < all.size(); i++) {
    float f[3];
    MatMul(inverse, all[i].xyz, f);
    bool inside = true;
    for (int k = 0; k < 3; k++)
      inside = inside && std::fabs(double(f[k]) - shift[k] - 0.5) <= 0.5 + kCellWindowSlack;
    (*central)[i] = inside ? 1 : 0;
  }
}

// The contacts of metals: second neighbours are left out, the rest made.
void SettleMetalContacts(AutoBondWork &w) {
  if (w.deferred.empty())
    return;
  CrystalRec &c = w.c;
  const PairLimits &limits = *w.limits;
  const std::vector<TurboAtom> &all = w.places.all;
  std::vector<uint8_t> complete(all.size(), 1);
  if (!c.molecule)
    MarkCentralImages(&c, w.searchDistance, all, &complete);
  std::vector<uint8_t> verdict = JudgeMetalContacts(limits, w.of, all, complete, w.deferred, w.anionContacts);
  JudgeHydrideContacts(c, limits, w.of, w.protonated, w.deferred, &verdict);
  JudgeCationShells(c, limits, w.of, complete, w.covalent, w.deferred, w.anionContacts, &verdict);
  JudgeBridgedMetals(limits, w.of, complete, w.deferred, w.anionContacts, &verdict);
  JudgeFirstShells(c, limits, w.of, complete, w.deferred, &verdict);
  // Per pair of kinds, the shortest contact left out, and whether it is of
  // second neighbours; the shortest beyond a shell's gap and its candidates.
  const size_t kinds = limits.Kinds();
  std::vector<float> shortestLeftOut(kinds * kinds, 0.0f);
  std::vector<uint8_t> leftOutSecond(kinds * kinds, 0);
  std::vector<float> beyondGap(kinds * kinds, 0.0f);
  std::vector<RuleContact> beyondGapContact(kinds * kinds);
  for (size_t k = 0; k < w.deferred.size(); k++) {
    const RuleContact &t = w.deferred[k];
    if (verdict[k] == kMetalContactBond) {
      if (!CommitContact(w, t.i, t.j, t.d2))
        break;
    } else if (verdict[k] == kMetalContactSecondNeighbours || verdict[k] == kMetalContactLeftOut ||
               verdict[k] == kMetalContactBeyondGap) {
      const uint32_t ka = w.of[t.i].kind;
      const uint32_t kb = w.of[t.j].kind;
      const float r = std::sqrt(t.d2);
      if (verdict[k] == kMetalContactBeyondGap) {
        const size_t cell = size_t(std::min(ka, kb)) * kinds + std::max(ka, kb);
        if (beyondGap[cell] == 0.0f || r < beyondGap[cell]) {
          beyondGap[cell] = r;
          beyondGapContact[cell] = t;
        }
      }
      for (const size_t cell : {size_t(ka) * kinds + kb, size_t(kb) * kinds + ka})
        if (shortestLeftOut[cell] == 0.0f || r < shortestLeftOut[cell]) {
          shortestLeftOut[cell] = r;
          leftOutSecond[cell] = verdict[k] == kMetalContactSecondNeighbours;
        }
    }
  }
  NoteCoordination(w);
  for (size_t cell = 0; cell < beyondGap.size(); cell++)
    if (beyondGap[cell] > 0.0f) {
      const RuleContact &t = beyondGapContact[cell];
      const bool metalFirst = limits.Metal(w.of[t.i].kind) || !limits.Metal(w.of[t.j].kind);
      const uint32_t a = w.places.all[metalFirst ? t.i : t.j].atom, b = w.places.all[metalFirst ? t.j : t.i].atom;
      WriteApartLine(c, a, b, beyondGap[cell], "contacts", "lie beyond the gap that ends their metal's shell: the rule leaves them out");
    }
  EndSpecsBelowSecondNeighbours(w, shortestLeftOut, leftOutSecond);
}

// The Log's account of the search: the crowded atoms, each specification's
// bonds and the rate. A crystal's bonds come from the bond search, which
// reports the pairs it left out of the plot range itself.
void ReportSearch(AutoBondWork &w) {
  CrystalRec &c = w.c;
  if (w.crowdedAtoms > 0) {
    char within[32];
    std::snprintf(within, sizeof within, "%.2f", double(w.searchDistance));
    FWriteColor(GroupedCount(w.crowdedAtoms) + " atom(s) lie among more than " + GroupedCount(w.crowdLimit) +
                    " places within " + within + " A, closer than any matter packs its atoms: they were left unbonded.",
                kRGBRed);
  }
  if (!c.molecule) {
    TurboGenerateBonds(&c);
    // Where some atoms are alternatives of others, a site's partners are
    // counted as the coordination count counts them: one per set of
    // alternatives. Where contacts the rule left out are bonded, the count
    // is of the bonds, as a build of the structure counts them.
    if (w.anyAlternative || w.leftOutBonded)
      TurboGetCoordinationNumbers(&c, nullptr, &w.pairs);
    w.pairs.Free();
  } else {
    ReportCoincidentPairs(w.coincident);
  }
  if (w.progress)
    CloseStatus();
  const uint64_t elapsed = Microseconds() - w.start;
  for (size_t cell = 0; cell < w.partialApart.size(); cell++)
    if (w.partialApart[cell] > 0.0f)
      WriteApartLine(c, w.partialAtoms[cell].first, w.partialAtoms[cell].second, w.partialApart[cell],
                     "partly occupied sites",
                     "lie too close to be both there: the rule takes them as alternatives, not bonded");

  FWrite("Automatic bond search complete");
  long total = 0;
  for (int32_t k = 0; k < c.bondSpecCount && k < kMaxBondSpecs; k++) {
    const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
    const SpecStats &st = w.stats[static_cast<size_t>(k)];
    char ea[2], eb[2];
    ElementChars(spec.elementA, ea);
    ElementChars(spec.elementB, eb);
    const double mean = st.count > 0 ? st.sum / static_cast<double>(st.count) : 0.0;
    char line[160];
    std::snprintf(line, sizeof line, "%5ld %c%c - %c%c bonds ... from %6.3f to %6.3f A (mean %6.3f A)", long(st.count),
                  ea[0], ea[1], eb[0], eb[1], double(st.shortest), double(st.longest), mean);
    FWrite(line);
    total += st.count;
  }
  // A search faster than the clock's resolution is reported as taking one
  // microsecond rather than as an infinite rate.
  const double micros = double(std::max<uint64_t>(elapsed, 1));
  char line[160];
  std::snprintf(line, sizeof line, "Total of %ld bonds generated in %.2f secs (%.0f bonds/sec)", total,
                double(elapsed) * 1e-6, double(total) * 1e6 / micros);
  FWrite(line);
}

// The stages in order; false when the search ended early (nothing to search,
// no memory for its candidates, stopped by the user).
bool RunAutoBondSearch(AutoBondWork &w, const std::vector<uint8_t> *givenSites, const std::vector<ListedBond> *listed) {
  if (!PrepareSearch(w, givenSites, listed))
    return false;
  if (!GatherCandidates(w)) {
    if (w.cancelled)
      EndStoppedSearch(w);
    return false;
  }
  MarkCrowded(w);
  if (!FindContacts(w))
    return false;
  SettleMetalContacts(w);
  ReportSearch(w);
  return true;
}

} // namespace

void AutoBondSearch(CrystalRec *crystal, const std::vector<uint8_t> *givenSites,
                    const std::vector<ListedBond> *listed) {
  if (!crystal || UsableAtomSize(*crystal) < 2)
    return;
  AutoBondWork work(*crystal);
  // One boundary for running out of memory in any stage: the search ends
  // with what it made so far, or passes the failure on to an open.
  try {
    if (RunAutoBondSearch(work, givenSites, listed))
      return;
  } catch (const std::bad_alloc &) {
    work.index.FreeCandidates();
    if (work.progress)
      CloseStatus();
    if (MemoryFailuresPass())
      throw;
    return;
  }
  work.index.FreeCandidates();
  if (work.progress)
    CloseStatus();
}

// ---- Distance Explorer ------------------------------------------------------------------

namespace {

// A site coordinate brought into [0, 1). A query point must lie inside the
// block's central cell: a coordinate of exactly 1 would put it on the cell's
// upper face, beyond which the block holds no images.
float BringIntoCell(float x) {
  if (!std::isfinite(x))
    return 0.0f;
  x -= std::floor(x);
  return x >= 1.0f ? 0.0f : x; // a tiny negative value can round up to 1
}

// The result array grows in steps of the expected number of distances, but
// never reserves more than this many entries at a time.
constexpr size_t kMaxDistanceExplorerStep = size_t{1} << 22;

void EndDistanceSearch() {
  CloseStatus();
  SetCocoaCursor(kArrowCursor);
}

} // namespace

std::optional<std::vector<DistanceExplorerResult>>
DoDistanceExplorerSearch(CrystalRec *crystal, const uint32_t *from, uint32_t fromCount, const ElementCode *toElements,
                         uint32_t toCount, float minimum, float maximum, uint32_t *resultCount,
                         float *percentSearched) {
  if (!crystal || UsableAtomSize(*crystal) < 2 || !from || fromCount == 0 || !toElements || toCount == 0)
    return std::nullopt;
  CrystalRec &c = *crystal;
  const size_t nSites = UsableSiteSize(c);
  const size_t nAtoms = UsableAtomSize(c);
  if (nSites == 0)
    return std::nullopt;

  SetCocoaCursor(kCmdDotCursor);
  WriteStatus("Searching distances (press Esc to end)");
  if (resultCount)
    *resultCount = 0;
  if (percentSearched)
    *percentSearched = 0.0f;
  float inverse[9];
  Inv3x3Mat(c.orientationMatrix, inverse);

  // The expected number of distances per To element, the growth step.
  double estimate = double(nAtoms);
  int32_t shift[3] = {0, 0, 0};
  if (!c.molecule) {
    estimate = double(std::max<int32_t>(c.atomsPerCell, 0));
    const float edges[3] = {c.a, c.b, c.c};
    for (float e : edges)
      estimate *= std::ceil(2.0 * double(maximum) / double(e)) + 1.0;
    // The query points go in the central cell of the block searched: the
    // shift comes from the same d-spacings as the block, since a shift from
    // a sin(beta) sin(gamma) and the like misses neighbours in oblique cells.
    if (!TurboCentreShift(crystal, maximum, shift)) {
      EndDistanceSearch();
      return std::nullopt;
    }
  }
  if (!(estimate >= 1.0))
    estimate = 1.0;
  estimate = std::min(estimate, double(kMaxDistanceExplorerStep));
  const size_t growth = static_cast<size_t>(estimate);
  std::vector<DistanceExplorerResult> results;
  try {
    results.reserve(2 * growth);
  } catch (const std::bad_alloc &) {
    EndDistanceSearch();
    return std::nullopt;
  }

  std::optional<std::vector<ElementIndexEntry>> runs = TurboIndexElements(crystal);
  if (!runs) {
    EndDistanceSearch();
    return std::nullopt;
  }
  const float step = 100.0f / (static_cast<float>(fromCount) * static_cast<float>(toCount));
  const float min2 = minimum * minimum;
  const float max2 = maximum * maximum;
  uint64_t combinationsDone = 0;
  bool stopped = false;
  CandidateIndex index;

  for (uint32_t e = 0; e < toCount && !stopped; e++) {
    char sym[2];
    ElementChars(toElements[e], sym);
    char text[80];
    std::snprintf(text, sizeof text, "Searching distances to %c%c (press Esc to end)", sym[0], sym[1]);
    WriteStatus(text);
    const std::vector<ElementIndexEntry> elementRuns = TurboFindElementRuns(*runs, toElements[e]);
    if (elementRuns.empty()) {
      EndDistanceSearch();
      return std::nullopt;
    }
    const bool gathered = c.molecule ? index.GetIndexedAtoms(crystal, elementRuns)
                                     : index.ExtendCellRange(crystal, elementRuns, maximum);
    if (!gathered || index.Empty() || !index.SortByX()) {
      EndDistanceSearch();
      return std::nullopt;
    }

    uint32_t finished = 0;
    for (uint32_t f = 0; f < fromCount && !stopped; f++) {
      const uint32_t entry = from[f];
      float q[3];
      float qCart[3];
      int32_t fromSite = -1;
      if (c.molecule) {
        if (entry < nAtoms) {
          CopyVector(q, c.atoms[entry].xyz);
          CopyVector(qCart, c.atoms[entry].cart);
          fromSite = static_cast<int32_t>(c.atoms[entry].site);
        }
      } else if (entry < nSites) {
        for (int i = 0; i < 3; i++)
          q[i] = BringIntoCell(c.sites[entry].xyz[i]) + static_cast<float>(shift[i]);
        MatMul(c.orientationMatrix, q, qCart);
        fromSite = static_cast<int32_t>(entry);
      }
      if (fromSite >= 0) {
        const int32_t hits = index.BoxAtoms(qCart, maximum);
        for (int32_t h = 0; h < hits; h++) {
          const TurboAtom &cand = index[index.Boxed()[static_cast<size_t>(h)]];
          const float dx = cand.xyz[0] - qCart[0];
          const float dy = cand.xyz[1] - qCart[1];
          const float dz = cand.xyz[2] - qCart[2];
          const float d2 = dx * dx + dy * dy + dz * dz;
          if (d2 < min2 || d2 > max2)
            continue;
          const uint32_t neighbourSite = c.atoms[cand.atom].site;
          if (d2 < kCoincidentDistanceSq && neighbourSite == static_cast<uint32_t>(fromSite))
            continue;
          DistanceExplorerResult r;
          r.from = entry;
          r.site = neighbourSite;
          r.distance = std::sqrt(d2);
          if (c.esdFlag) {
            float candFrac[3];
            MatMul(inverse, cand.xyz, candFrac);
            r.esd = GetBondDistErr(crystal, fromSite, static_cast<int32_t>(neighbourSite),
                                   double(q[0]) - double(candFrac[0]), double(q[1]) - double(candFrac[1]),
                                   double(q[2]) - double(candFrac[2]), double(r.distance));
          }
          if (results.size() == results.capacity()) {
            try {
              results.reserve(results.capacity() + growth);
            } catch (const std::bad_alloc &) {
              stopped = true;
              break;
            }
          }
          results.push_back(r);
        }
      }
      if (stopped)
        break;
      finished++;
      WriteProgress("", static_cast<float>(combinationsDone + finished) * step);
      if (MyCheckForUserCancelEvent())
        stopped = true;
    }
    combinationsDone += finished;
    index.FreeCandidates();
  }

  // Sorting: with too little memory for the copy the results stay in the
  // order found.
  if (results.size() >= 2) {
    WriteStatus("Sorting bonds...\n");
    try {
      std::vector<uint32_t> order(results.size());
      std::iota(order.begin(), order.end(), 0u);
      gDistanceExplorerResults = results.data();
      std::stable_sort(order.begin(), order.end(),
                       [](uint32_t x, uint32_t y) { return CompareDistanceExplorerResultsByDistance(&x, &y) < 0; });
      gDistanceExplorerResults = nullptr;
      std::vector<DistanceExplorerResult> sorted(results.size());
      for (size_t i = 0; i < order.size(); i++)
        sorted[i] = results[order[i]];
      results.swap(sorted);
    } catch (const std::bad_alloc &) {
      gDistanceExplorerResults = nullptr;
    }
  }

  EndDistanceSearch();
  if (resultCount)
    *resultCount = static_cast<uint32_t>(results.size());
  if (percentSearched)
    *percentSearched = stopped ? static_cast<float>(combinationsDone) * step : 100.0f;
  return results;
}
