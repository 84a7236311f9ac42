// The automatic bond rule: which two atoms are in contact, judged by their
// elements alone (the covalent and ionic radii of CovalentRadii.h and the
// table of typical bond lengths `kDefSpecs`), and which contacts of a metal
// are second neighbours rather than bonds. The automatic bond search
// (AutoBonds.h) applies it to the contacts it finds; the inference of
// orientation groups (OrientationGroups.h) and the readers that judge a
// file's bonds ask it about pairs of elements.
//
// Two atoms are in contact up to the limit of their element pair:
// (rA + rB) x kAutoBondRadiusFactor with the single-bond covalent radii (for
// two metals in a structure that holds a non-metal, x
// kAutoBondUnbridgedMetalFactor where both are electronegative enough
// (kUnbridgedMetalLeastElectronegativity), and beyond kAutoBondMetalFactor
// only where no non-metal is in contact with both: the
// metal-metal bonds of a carbonyl cluster or of calomel, while the cations
// of an oxide or a salt, which their anions bridge, are not bonded to each
// other; nor where shorter contacts of the two elements that non-metals
// bridge outnumber them and every metal of them touches a non-metal, as in
// an interstitial carbide); two metals in a structure of metals alone (a pure metal, an
// intermetallic) with their metallic radii where their sum is larger (the
// atoms of aluminium, lead or zinc touch beyond their covalent radii); for
// a metal and a non-metal also the sum of the two ions' radii x
// kAutoBondRadiusFactor (the cation's radius in the largest
// coordination tabulated for it, so that a large cation reaches its whole
// shell of anions: ionic hydrides and halides, apatite's Ca1 and its nine
// O); in a compound of metals and metalloids alone (a boride, a silicide) a
// metal and a metalloid also the metal's metallic radius, and two metalloids
// a longer reach (kAutoBondMetalloidNetworkFactor); hydrogen takes the
// hydride ion's radius only where it is in contact with no non-metal more
// electronegative than itself (a proton of a water or a hydroxyl is no
// hydride ion); the row of `kDefSpecs` for the pair where
// longer. Two atoms closer than (rA + rB) x kAutoBondShortestFactor are never
// in contact (for a metal and a non-metal the smaller of the covalent and the
// six-fold ionic radii's sums; for two metals x kAutoBondMetalShortestFactor),
// and the pair's specification starts there. A metal and another atom that share
// a non-metal neighbour more electronegative than both, each within its
// limit of it and no farther from it than from each other, are second neighbours,
// not in contact: a pair of elements none of whose contacts is more gets no
// specification, and one whose second neighbours all lie beyond its
// contacts a maximum below them. Two metals beyond the first shell of either
// (kFirstShellGapFactor; unlike metals judged on distances scaled by their
// metallic radii) are not in contact, nor are a cation and an anion that
// only the cation's largest ionic radius reaches where a clear gap
// (kCationShellGapFactor) ends the cation's shell before them, and the
// anion's shell of cations too where the anion touches no non-metal and
// has more cations than kCationShellLeast. Bonds
// a file lists count as neighbours in every judgement. An element the radii table lacks (beyond
// Cm, a made-up symbol) makes no contact. Alternative positions are never in
// contact (BondSearch.h), nor is a placeholder atom.
#pragma once

#include "CovalentRadii.h"
#include "StructureRecord.h"

#include <cstdint>
#include <vector>

struct TurboAtom;

// ---- Constants of the rule ---------------------------------------------------------

// Typical bond lengths: only the element pair (either order) and the maximum
// are used; every row has minimum 0, bond style 0 and black colours. A row
// serves where it is longer than the pair's other limits; no row of two
// non-metals reaches beyond their covalent limit.
inline constexpr int kNumDefSpecs = 20;
extern const BondSpec kDefSpecs[kNumDefSpecs];

inline constexpr double kAutoBondRadiusFactor = 1.15;
inline constexpr double kAutoBondMetalFactor = 0.9;
// Two metals beside non-metals that no non-metal bridges are in contact up
// to this share of their covalent radii's sum: the metal-metal bonds of
// molecules lie at 0.96-1.05 of it (Hg-Hg 2.53 A, Os-Os 2.88, Mn-Mn
// 2.90-2.92), while cations no O bridges lie beyond it: tenorite's Cu-Cu
// 2.88 A and PdO's Pd-Pd 3.03 A (1.09), cuprite's two frameworks' Cu-Cu
// 3.02 A (1.14).
inline constexpr double kAutoBondUnbridgedMetalFactor = 1.07;
// Only metals at least this electronegative (Pauling) are bonded so: the
// alkali, alkaline-earth and rare-earth metals and the actinides beside
// non-metals are cations, never bonded to each other (Ca 1.00, La 1.10,
// U 1.38), while Mn 1.55, Cu 1.90, Hg 2.00 and Os 2.2 are.
inline constexpr float kUnbridgedMetalLeastElectronegativity = 1.5f;
// A compound of metals whose only non-metals are metalloids (a boride, a
// silicide, a germanide: no anion such as N, O, a halogen or a chalcogen) is
// a metallic framework, not a salt: a metal and a metalloid are in contact up
// to kAutoBondRadiusFactor times the sum of the metal's metallic radius and
// the metalloid's covalent one, where longer (AlB2's Al-B at 2.383 A and
// CaB6's Ca-B at 3.053 A, 1.16-1.17 times the covalent sum; 1.05 and 1.08
// times that sum), and two metalloids up to kAutoBondMetalloidNetworkFactor
// times their covalent radii's sum, but no farther apart than a metalloid
// and the smallest metal present reach (a pair beyond lies outside the
// metalloids' shells of metals). The metalloids are the non-metals no more
// electronegative (Pauling) than kMetalloidMostElectronegativity: B, Si and
// Ge; As (2.18), Sb (2.05) and Te (2.1) are anions beside an electropositive
// metal (MgAgAs's Mg-As at 3.12 A is no bond).
inline constexpr float kMetalloidMostElectronegativity = 2.04f;
// The metalloid networks of metal-rich silicides are longer than a covalent
// bond: the Si-Si of CrSi2 at 2.48-2.56 A, MoSi2 2.61-2.62 A, ZrSi2's square
// net 2.62 A and TiSi2 (C54) 2.53-2.79 A (1.26 of the covalent sum), all
// counted in their ten- and eight-fold coordination, while the next Si lie at
// 3.06 A (CrSi2, 1.38) and beyond, and CaB6's B-B across an octahedron at
// 2.48 A (1.47) is no bond.
inline constexpr double kAutoBondMetalloidNetworkFactor = 1.3;
// No bond is shorter than this share of the covalent radii's sum (a triple
// bond is about 0.8 of it).
inline constexpr double kAutoBondShortestFactor = 0.7;
// Two metals' shortest bond, as a share of their covalent radii's sum: a
// metal-metal quadruple bond (Mo-Mo 2.09 A, 0.68) and the short bonds of
// the light actinides (alpha-Np 2.60 A, alpha-Pu 2.52 A, 0.67-0.68) lie
// below kAutoBondShortestFactor.
inline constexpr double kAutoBondMetalShortestFactor = 0.65;
// A metal's metal neighbours are bonded up to the end of its first shell:
// in the sorted distances of its metal contacts, the first gap wider than
// kFirstShellGapFactor times the shortest of them that follows at least
// kFirstShellLeast neighbours ends it (gamma-Pu: ten at 3.03-3.29 A, then
// four at 3.76 A; a body-centred cube's eight, not its six at 1.155 times
// the distance). The light actinides' few short bonds (two to five) are
// followed by wider gaps than that and stay within the shell.
inline constexpr double kFirstShellGapFactor = 0.125;
inline constexpr size_t kFirstShellLeast = 6;
// Two unlike metals are judged on their distances scaled by their metallic
// radii: each metal's contacts are measured as d x 2 r / (r + r'), r its own
// metallic radius and r' its partner's, so that a large partner (Mg, Ca, Y
// beside Cu or Fe in the Laves phases and CaCu5) lies within the shell its
// size puts it in. Two metals of one element are judged on their distances
// as they are: a metal's shell of its own element ends at the gap in its
// unscaled distances (A15 Nb3Sn's Nb-Nb at 3.24 A within its 14, CsCl-type
// CuZn's Cu-Cu at 1.155 times its Cu-Zn beyond its 8), but reaches as far as
// its longest bond to an unlike metal of its scaled shell (CaCu5's
// Cu(2c)-Cu(2c) at 2.94 A, as long as its Cu-Ca). Every shell's end reaches
// kSameLengthSlack (A) further, so that contacts of one length, measured
// from different images a few units in the last place apart, all fall on
// one side of it.
inline constexpr double kSameLengthSlack = 0.001;
// A cation's shell of anions ends at the first gap wider than this share of
// its shortest contact, after at least kCationShellLeast contacts, measured
// as shares of each pair's limit: orthorhombic LaMnO3's La has eight O at
// 2.43-2.70 A and the ninth at 3.16 A (a gap of 0.19 of the shortest), a
// borosilicate's Li four O at 1.87-2.04 A and a fifth at 2.65 A (0.32), while
// apatite's Ca1 keeps its nine (six O at 2.39-2.45 A, three at 2.82 A: 0.15).
// Only contacts that the cation's largest ionic radius alone reaches are cut.
inline constexpr double kCationShellGapFactor = 0.17;
inline constexpr size_t kCationShellLeast = 4;
// A specification kept below a pair's second neighbours ends at least this
// much (A) short of the nearest of them, to the thousandth below.
inline constexpr double kSecondNeighbourGap = 0.0005;
// A specification's maximum is the longest contact found times this, to the
// nearest thousandth, but never beyond the pair's limit: a few per cent of
// strain (a cell edited, a structure at another temperature) keeps the bonds.
inline constexpr double kAutoBondMaximumMargin = 1.05;
inline constexpr double kAutoBondThousandths = 1000.0;
// The placeholder element: what a reader gives an atom whose element it
// cannot tell (a water model's massless charge site, a query atom).
inline constexpr ElementCode kPlaceholderAtomElement = TwoCharsToShort("Xx");

// ---- Pairs of elements ---------------------------------------------------------------

// Whether {a, b} and {x, y} are one pair of elements, in either order.
bool SameElementPair(ElementCode a, ElementCode b, ElementCode x, ElementCode y);
// The rule's limit (A) for elements a and b; an element the radii table
// lacks takes the given radius of its atom type. `nonMetalPresent`: the
// structure holds a non-metal (IsAutoBondNonMetal).
float AutoBondPairLimit(ElementCode a, ElementCode b, float typeRadiusA, float typeRadiusB, bool nonMetalPresent);
// The rule's shortest bond (A) for two elements the radii table holds: no
// two atoms closer than this are in contact; 0 for an element it lacks.
float AutoBondPairShortest(ElementCode a, ElementCode b);
bool IsAutoBondNonMetal(ElementCode e);

// The new maximum of a specification for a contact r: r plus the margin, to
// the nearest thousandth, but never beyond the pair's limit.
float SpecMaximum(float r, float limit);
// The longest specification maximum, in thousandths, that stays below a
// second-neighbour contact of this length.
float SpecMaximumBelow(float r);

// ---- The rule over one structure ---------------------------------------------------

// The rule's limits for every pair of the elements a structure's atoms carry
// (through their atom types), in a table over the distinct elements (kinds).
class PairLimits {
public:
  static constexpr uint32_t kNone = UINT32_MAX;

  // Throws bad_alloc.
  explicit PairLimits(const CrystalRec &c);
  // The kind of an atom: an index into the table, or kNone for an atom that
  // is never in contact (a placeholder, an element the radii table lacks, a
  // missing atom type).
  uint32_t KindOfAtom(const CrystalRec &c, uint32_t atom) const {
    const uint32_t type = c.atoms[atom].atomType;
    return type < typeKind_.size() ? typeKind_[type] : kNone;
  }
  ElementCode Element(uint32_t kind) const { return rows_[kind].element; }
  bool Metal(uint32_t kind) const { return rows_[kind].metal; }
  float Electronegativity(uint32_t kind) const { return rows_[kind].electronegativity; }
  float Limit(uint32_t a, uint32_t b) const { return limits_[size_t(a) * rows_.size() + b]; }
  // For two metals in a structure that holds a non-metal: the limit
  // (kAutoBondMetalFactor) beyond which they are in contact only where no
  // non-metal is in contact with both; 0 for every other pair.
  float BridgedLimit(uint32_t a, uint32_t b) const { return bridgedLimits_[size_t(a) * rows_.size() + b]; }
  // For a metal and a non-metal whose limit only the metal's ion in its
  // largest coordination sets: the limit without it (beyond which a contact
  // may lie beyond a gap in the metal's shell); 0 for every other pair.
  float ShortLimit(uint32_t a, uint32_t b) const { return shortLimits_[size_t(a) * rows_.size() + b]; }
  // Whether the metals' contacts with non-metals must be kept: for the
  // shared neighbours of second neighbours, the bridges of two metals or
  // the gaps in cations' shells.
  bool KeepsAnionContacts() const { return anySecond_ != 0 || anyBridged_ || anyShort_; }
  float Metallic(uint32_t kind) const { return rows_[kind].metallic; }
  float ShortestSq(uint32_t a, uint32_t b) const { return shortestSq_[size_t(a) * rows_.size() + b]; }
  float Shortest(uint32_t a, uint32_t b) const;
  // The longest limit of any pair: the distance a search must reach.
  float Longest() const { return longest_; }
  size_t Kinds() const { return rows_.size(); }
  // Whether atoms of these kinds may be second neighbours: one is a metal,
  // and some element present is a non-metal more electronegative than both.
  bool MaySecondNeighbours(uint32_t a, uint32_t b) const { return maySecond_[size_t(a) * rows_.size() + b] != 0; }
  bool AnySecondNeighbours() const { return anySecond_ != 0; }
  // For a metal and hydrogen whose limit is the hydride ion's: the limit of
  // a proton (a hydrogen in contact with a non-metal more electronegative
  // than itself); 0 for every other pair.
  float ProtonLimit(uint32_t a, uint32_t b) const { return protonLimits_[size_t(a) * rows_.size() + b]; }
  // Whether an atom of kind `partner` in contact with one of kind
  // `hydrogen` makes it a proton: a hydrogen and a non-metal more
  // electronegative than hydrogen.
  bool Protonates(uint32_t hydrogen, uint32_t partner) const {
    return protonates_[size_t(hydrogen) * rows_.size() + partner] != 0;
  }
  // The elements (not placeholders) the radii table lacks: never in contact.
  const std::vector<ElementCode> &Unknown() const { return unknown_; }

private:
  std::vector<CovalentRadiusRow> rows_;
  std::vector<uint32_t> typeKind_;
  std::vector<float> limits_;
  std::vector<float> shortestSq_;
  std::vector<uint8_t> maySecond_;
  std::vector<float> protonLimits_;
  std::vector<float> bridgedLimits_;
  std::vector<float> shortLimits_;
  bool anyBridged_ = false;
  bool anyShort_ = false;
  std::vector<uint8_t> protonates_;
  uint8_t anySecond_ = 0;
  std::vector<ElementCode> unknown_;
  float longest_ = 0.0f;
};

// ---- Second neighbours -----------------------------------------------------------------

// A contact of two candidates (positions in the candidate list), squared
// length.
struct RuleContact {
  uint32_t i = 0;
  uint32_t j = 0;
  float d2 = 0.0f;
};

// What became of a metal's contact.
inline constexpr uint8_t kMetalContactBond = 0;
inline constexpr uint8_t kMetalContactSecondNeighbours = 1;
// Neither end has every neighbour among the candidates: an image of the
// contact with one is judged instead.
inline constexpr uint8_t kMetalContactUnjudged = 2;
// A proton reached only by the hydride ion's radius, or two metals beyond
// kAutoBondMetalFactor that a non-metal bridges: no contact.
inline constexpr uint8_t kMetalContactLeftOut = 3;
// Beyond the gap that ends the shell of a metal (of metals) or of a cation
// (of anions): no contact, which the Log reports.
inline constexpr uint8_t kMetalContactBeyondGap = 4;

// The candidates' sites and kinds, as the metals' verdicts below read them.
struct RuleCandidate {
  uint32_t site = 0;
  uint32_t kind = 0;
};

// The squared length kSameLengthSlack beyond a squared length d2: where a
// contact as long counts as no longer.
float SameLengthReachSq(float d2);

// The verdict on each contact of a metal that may be second neighbours
// (`contacts`; `others` are the metals' other contacts with non-metals),
// among the candidates `all`. Judged on the contacts the limits give, so the
// order of the atoms does not matter. A contact is judged where one end has
// every neighbour among the candidates (`complete`): the shared neighbour is
// then among the candidates too, and the metal end's contact with it among
// the contacts. `of` gives each candidate's kind. Throws bad_alloc.
std::vector<uint8_t> JudgeMetalContacts(const PairLimits &limits, const std::vector<RuleCandidate> &of,
                                        const std::vector<TurboAtom> &all, const std::vector<uint8_t> &complete,
                                        const std::vector<RuleContact> &contacts,
                                        const std::vector<RuleContact> &others);

// A metal's contact with a hydrogen that only the hydride ion's radius
// reaches is left out (kMetalContactLeftOut) where the hydrogen is a proton:
// in contact with a non-metal more electronegative than itself
// (`protonated`, per candidate). A crystal asks the hydrogen's site, any of
// whose images may lie at the block's edge without its partner.
void JudgeHydrideContacts(const CrystalRec &c, const PairLimits &limits, const std::vector<RuleCandidate> &of,
                          const std::vector<uint8_t> &protonated, const std::vector<RuleContact> &contacts,
                          std::vector<uint8_t> *verdict);
// The squared length at which a shell ends, from the squared lengths of its
// contacts (sorted here; not empty): the last before the first gap wider
// than `factor` times the shortest that follows at least `least` of them.
float ShellEndSq(std::vector<float> &d2, double factor, size_t least);
// The squared distance at which a metal's first shell of metal neighbours
// ends (ShellEndSq with kFirstShellGapFactor and kFirstShellLeast).
float FirstShellEndSq(std::vector<float> &d2);
// Two metals beyond their bridged limit (PairLimits::BridgedLimit) that a
// non-metal bridges, in contact with both (a bonded contact among
// `contacts`, or one of `others`, the metals' other contacts with
// non-metals), are left out. Throws bad_alloc.
void JudgeBridgedMetals(const PairLimits &limits, const std::vector<RuleCandidate> &of,
                        const std::vector<uint8_t> &complete, const std::vector<RuleContact> &contacts,
                        const std::vector<RuleContact> &others, std::vector<uint8_t> *verdict);
// Two metals are bonded within the first shell of each (FirstShellEndSq over
// its metal contacts that are bonds, unlike metals scaled as
// kSameLengthSlack says); the rest are beyond the gap. A molecule's atoms
// each have their own shell; a crystal's sites theirs, read from an image
// whose every neighbour is among the candidates (`complete`). Throws
// bad_alloc.
void JudgeFirstShells(const CrystalRec &c, const PairLimits &limits, const std::vector<RuleCandidate> &of,
                      const std::vector<uint8_t> &complete, const std::vector<RuleContact> &contacts,
                      std::vector<uint8_t> *verdict);
// A metal and a non-metal beyond their short limit (PairLimits::ShortLimit)
// are beyond the gap where a gap (kCationShellGapFactor) in the metal's
// bonded contacts with non-metals (among `contacts` and `others`, as shares
// of their pairs' limits) ends its shell before them, and, for a non-metal
// in contact with no non-metal (`covalent`, per candidate; a crystal asks
// the site) and with more than kCationShellLeast metals, a gap in its bonded
// contacts with metals ends its shell before them too. Throws bad_alloc.
void JudgeCationShells(const CrystalRec &c, const PairLimits &limits, const std::vector<RuleCandidate> &of,
                       const std::vector<uint8_t> &complete, const std::vector<uint8_t> &covalent,
                       const std::vector<RuleContact> &contacts, const std::vector<RuleContact> &others,
                       std::vector<uint8_t> *verdict);
