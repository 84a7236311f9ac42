// The alternatives of a disordered structure: which atoms are never there
// together, so that no search bonds or counts one with another.
#pragma once

#include "OrientationGroups.h"
#include "StructureRecord.h"
#include "SymmetryCards.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// ---- Alternative positions ------------------------------------------------------
//
// A disordered structure holds alternatives that are never there together:
// whatever the specifications allow, no atom of one is bonded to an atom of
// another. The file's own description of its disorder decides (the sites'
// disorder assembly and group, StructureRecord.h):
//  - sites of different non-zero groups of one assembly are alternatives;
//    sites of one group, or of group 0, are bonded like any others, whatever
//    their occupancy;
//  - a negative group lies about a special position: its atoms bond within
//    one image of the group (atoms that a common symmetry operator made),
//    never to the group's other images.
// Where the file says nothing (group 0), geometry decides: the images of one
// site of occupancy at most 1/2 are alternatives (a site disordered about a
// special position), and so are the images of a group of such sites that
// makes impossible contacts with its own images (OrientationGroups.h: a
// ring or an oxyanion on a special position), as for a negative group.
// Two partly occupied sites of no group whose occupancies sum to at most 1
// and that lie closer than kPartialAlternativeFactor times their covalent
// radii's sum cannot both be there: at that distance they are alternatives,
// but for two elements that form multiple bonds, whose triple bond lies
// there (C#N 1.14 A, C#C 1.20, N#N 1.10, C#O 1.13: 0.78-0.80 of the sum):
// they are alternatives only closer than kTripleBondAlternativeShare times
// their triple-bond radii's sum (TripleBondRadius).
// Occupancy alone never separates two different sites that may be bonded.
// The bond search, the coordination count and the automatic bond search all
// ask the structure's one `SiteAlternatives`, which its derived layers hold
// (DerivedLayers::Alternatives).

// A site of at most this occupancy (plus kAlternativeOccupancySlack, for
// refined values such as 0.51) may be disordered about a special position.
inline constexpr float kHalfSiteOccupancy = 0.5f;
inline constexpr float kAlternativeOccupancySlack = 0.01f;
// Two partly occupied sites closer than this share of their covalent radii's
// sum are alternatives (no bond is that short: a triple bond is about 0.8).
inline constexpr float kPartialAlternativeFactor = 0.8f;
// Two partly occupied atoms that may be triple-bonded are alternatives below
// this share of their triple-bond radii's sum: a refined triple bond runs a
// few per cent short, while two half waters' O sites 0.94 A apart (0.89 of
// O=O's 1.06 A) cannot both be there.
inline constexpr float kTripleBondAlternativeShare = 0.9f;

// Whether the images of the site are alternatives of each other: a negative
// group, or (the file saying nothing) an occupancy of at most 1/2.
bool SiteImagesApart(const AsymmetricUnitRecord &site);
// A site's disorder, the file's groups and the inferred ones in one shape:
// an inferred group is a negative group of an assembly of its own, numbered
// after the file's. Every question about alternatives starts from these.
struct SiteDisorder {
  int16_t assembly = 0;
  int16_t group = 0;
  bool imagesApart = false; // its own images are alternatives of each other
};
std::vector<SiteDisorder> SiteDisorders(const CrystalRec &crystal, const OrientationGroups &inferred);
// When the images of the sites become sites of their own (Discard Symmetry),
// what kept the images of a site apart is said by groups instead: each
// site whose images were apart gets an assembly of its own (the sites of
// one negative or inferred group share theirs), and the image that operator
// k made becomes its group k + 1 (for an inferred group, 1 + the first
// operator that makes the same orientation, OrientationGroups.h).
struct ImageDisorder {
  std::vector<int16_t> assemblies; // per site; 0: the images keep the site's assembly and group
  OrientationGroups inferred;
  // The group of the image of site s that operator k makes.
  int16_t Group(size_t site, size_t k) const;
};
ImageDisorder ImageAssemblies(CrystalRec &crystal);
// The group of the image of the site at `xyz` (fractional, in any cell): the
// group of the first operator that makes it, 0 when none does.
int16_t ImageGroup(const ImageDisorder &disorder, const std::vector<GEP> &ops, size_t siteIndex,
                   const AsymmetricUnitRecord &site, const float xyz[3], const float originShift[3]);

class SiteAlternatives {
public:
  // What the structure's sites and atoms say of their disorder; throws
  // bad_alloc. The structure is read (its operators made); the answers hold
  // while its sites and atoms stay as they were.
  explicit SiteAlternatives(const CrystalRec &crystal);
  // Whether some pair of atoms is alternatives: otherwise nobody need ask.
  bool Any() const { return any_; }
  // Whether two distinct atoms may be bonded.
  bool AtomsMayBond(uint32_t a, uint32_t b) const;
  // Whether the site, at its own position, may be bonded to the atom (the
  // coordination count's query).
  bool SiteMayBondAtom(uint32_t site, uint32_t b) const;
  // The same for atoms at squared distance d2 (A^2): two partly occupied
  // sites too close to be both there are alternatives.
  bool AtomsMayBondAt(uint32_t a, uint32_t b, float d2) const {
    return AtomsMayBond(a, b) && !(anyPartial_ && a < atomSite_.size() && b < atomSite_.size() &&
                                   PartialApart(atomSite_[a], atomSite_[b], d2));
  }
  bool SiteMayBondAtomAt(uint32_t site, uint32_t b, float d2) const {
    return SiteMayBondAtom(site, b) && !(anyPartial_ && b < atomSite_.size() && PartialApart(site, atomSite_[b], d2));
  }
  // Where some pair is alternatives, the atom's site (kNoSite otherwise, or
  // for an atom of no usable site) and, per site, the covalent radius of its
  // element (0 for an element without one) and its occupancy summed over its
  // elements.
  static constexpr uint32_t kNoSite = UINT32_MAX;
  uint32_t AtomSite(uint32_t atom) const {
    return atom < atomSite_.size() && atomSite_[atom] < measures_.size() && atomSite_[atom] < sites_.size()
               ? atomSite_[atom]
               : kNoSite;
  }
  float SiteRadius(uint32_t site) const { return site < measures_.size() ? measures_[site].radius : 0.0f; }
  // Whether some atom may be an alternative of an atom of the site (of a
  // site AtomSite gave): otherwise its atoms may bond to every atom.
  bool SiteMayBeApart(uint32_t site) const {
    if (site >= sites_.size() || site >= measures_.size())
      return false;
    const SiteDisorder &d = sites_[site];
    return d.group != 0 || d.imagesApart || measures_[site].partial > 0.0f;
  }
  float SiteOccupancyOf(uint32_t site) const { return site < measures_.size() ? measures_[site].occupancy : 0.0f; }
  // An atom that may be an alternative of another, with all that the
  // questions about it read of its site, copied into one row: a count that
  // compares many such atoms pair by pair reads the rows alone.
  struct Place {
    uint32_t atom = 0, site = 0;
    float radius = 0.0f, occupancy = 0.0f, partial = 0.0f, triple = 0.0f; // as SiteMeasures
    SiteDisorder disorder;
    const uint64_t *ops = nullptr; // the operators that make the atom, for a negative group
  };
  // The atom's row; false (the row unset) when it is of no usable site or
  // may bond to every atom (SiteMayBeApart).
  bool PlaceOf(uint32_t atom, Place *place) const;
  // AtomsMayBondAt for the atoms of two rows.
  bool PlacesMayBondAt(const Place &a, const Place &b, float d2) const;
  // How many pairs of the distinct atoms are alternatives: linear in the
  // atoms but for those of one negative group, whose images are compared
  // pair by pair. Throws bad_alloc.
  uint64_t PairsApart(const std::vector<uint32_t> &atoms) const;
  // How many more pairs of the atoms, all at one place, are alternatives as
  // partly occupied sites that cannot both be there: linear in the atoms
  // but for partly occupied atoms of inferred groups. Throws bad_alloc.
  uint64_t PartialPairsApartAtOnePlace(const std::vector<uint32_t> &atoms) const;

  // Per site: its element's covalent radius (A, 0 for an element without
  // one), its occupancy summed over its elements, that occupancy where
  // below 1 and of no group the file gives (else 0), and its element's
  // triple-bond radius (A, 0 for an element that forms no multiple bond).
  struct SiteMeasures {
    float radius = 0.0f, occupancy = 0.0f, partial = 0.0f, triple = 0.0f;
  };

private:
  bool MayBond(uint32_t sa, const uint64_t *opsA, uint32_t sb, const uint64_t *opsB) const;
  // Two partly occupied sites too close to be both there.
  bool PartialApart(uint32_t sa, uint32_t sb, float d2) const;
  static bool PartialApartOf(uint32_t sa, float pa, float ra, float ta, uint32_t sb, float pb, float rb, float tb,
                             float d2);
  const uint64_t *AtomOps(uint32_t atom) const;
  std::vector<SiteDisorder> sites_;
  std::vector<uint32_t> atomSite_; // each atom's site, when some pair is alternatives
  std::vector<SiteMeasures> measures_;
  bool any_ = false;
  bool anyPartial_ = false; // two sites are partly occupied
  // For the atoms and sites of negative groups, the symmetry operators that
  // make each from its site (bit k: operator k), `words_` words apiece.
  size_t words_ = 0;
  std::vector<uint64_t> atomOps_;
  std::vector<uint64_t> siteOps_;
};
