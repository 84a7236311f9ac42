// Which sites coordinate a site over the whole crystal: the images of the
// first-cell atoms of every site within the bond maximum of the pair of
// elements, counted one per partner where alternatives are among them (the
// partner rule), listed in site order up to the site's coordination number.
// The polyhedra's roles and the count of crowded sites ask it.
//
// The candidates come from the crystal's periodic neighbour list, one list
// per element of the atoms, its bins sized for the shortest bond into that
// element: a site asks only the elements it bonds with, each at the pair's
// own maximum, so that a short bond walks few bins of few atoms. The lists
// measure in double precision; an image is taken by the single-precision
// test the roles have always used (the image's fractional coordinates
// through the orientation matrix, less the site's position so placed: no
// component and no length beyond the maximum), so the lists are asked a
// little farther. A maximum that is negative or no number makes no bond.
#pragma once

#include "PartnerRule.h"
#include "PeriodicNeighbours.h"
#include "SiteAlternatives.h"
#include "StructureRecord.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class CoordinationNeighbours {
public:
  // For questions about any site. Not valid (every answer none) for a cell
  // without d-spacings, or without memory unless the memory tests pass the
  // failure on.
  explicit CoordinationNeighbours(const CrystalRec &c);

  bool Valid() const { return valid_; }

  // The sites coordinating site s, one entry per image, in site order, at
  // most the site's coordination number of them (*limitHit: the list was
  // cut). Marks the site with kPolyModeAtomWireBonds in *marks (the modes a
  // pass of the roles works on) when a site of its own element is listed.
  // A site whose reach would take more cells than a coordination search
  // ever takes candidates from has no answer. Throws bad_alloc.
  int32_t List(const CrystalRec &c, uint32_t s, std::vector<int32_t> *sites, bool *limitHit,
               std::vector<uint32_t> *marks);
  // The same list, changing no mode. Its reach is refused by the cells the
  // reach covers alone; List's box takes a spare cell of the order grid on
  // every side, and is refused sooner.
  // Without `sites` only the count and *limitHit are told, and the search
  // ends once the count passes the coordination number.
  int32_t ListWithoutModes(const CrystalRec &c, uint32_t s, std::vector<int32_t> *sites, bool *limitHit);
  // Sorts the sites so that sites near each other in the cell come
  // together: questions asked in that order read the atoms they share
  // while they are at hand. Few sites are left as they are. Throws
  // bad_alloc.
  void OrderByPlace(std::vector<uint32_t> &sites) const;

private:
  // What a site of one element reaches: its longest bond and each kind's
  // maximum (negative: no bond).
  struct Reaches {
    float reach = 0.0f;
    double fractional[3] = {0.0, 0.0, 0.0}; // the longest bond across each axis, fractional, and the margin
    bool anyBoxTaken[2] = {false, false};   // whether every finite position's box is taken, without and with a pad
    std::vector<float> maxOf;
  };
  // What the questions read of a site, copied from its record once.
  struct Site {
    float xyz[3];
    ElementCode element; // its first element
    uint32_t coordination;
  };
  // A first-cell atom as the questions read it.
  struct Atom {
    float xyz[3];        // its fractional coordinates as the structure holds them
    int32_t fileCell[3]; // the cell of the order grid its position lies in, unwrapped
    uint32_t order;      // its place among the atoms in site order
    uint32_t site;
    uint32_t partnerSite; // the site its partner is counted under
    uint32_t row;         // its row of alternatives (rows_), or NeighbourMark::kNone
  };
  // An alternative within reach: its order among the others (where a walk of
  // the order grid meets its image, then its place in site order), its row
  // and its Cartesian position.
  struct Alternative {
    std::array<int64_t, 4> order;
    uint32_t row;
    std::array<float, 3> place;
  };

  void Build(const CrystalRec &c);
  const Reaches *ReachesOf(ElementCode element);
  // Whether the box of order-grid cells the reach about the position covers
  // (and `pad` more each side) is one a search takes: finite and of at most
  // kMaxTurboCandidates cells.
  bool BoxTaken(const float xyz[3], const Reaches &reaches, double pad) const;
  int32_t Listed(const CrystalRec &c, uint32_t s, double pad, std::vector<int32_t> *sites, bool *limitHit,
                 bool *ownElement, bool stopBeyondLimit);
  // The images within bond reach of site s counted per site into counts_
  // (the sites met into touched_); false when there is no answer. Stops once
  // the count is sure to pass `stopAbove`.
  bool Count(const CrystalRec &c, uint32_t s, double pad, uint32_t stopAbove);
  void Touch(uint32_t site) {
    if (counts_[site]++ == 0)
      touched_.push_back(site);
  }

  bool valid_ = false;
  float orientation_[9] = {};
  double dSpacing_[3] = {0.0, 0.0, 0.0};
  int64_t orderGrid_ = 1;          // the cells along each axis of the grid the alternatives are ordered by
  std::vector<Site> sites_;        // per usable site
  std::vector<ElementCode> kinds_; // the elements of the atoms, in order of appearance
  // Per kind, the list of its atoms (none where nothing bonds with it),
  // and the atoms some kind bonds with, kind by kind from kindStart_, each
  // kind's in its list's order: list mark m is atom kindStart_[kind] + m.
  std::vector<Atom> atoms_;
  std::vector<uint32_t> kindStart_;
  std::vector<std::optional<PeriodicNeighbours>> lists_;
  std::unordered_map<uint32_t, float> pairMax_;
  std::unordered_map<ElementCode, float> reach_;
  std::unordered_map<ElementCode, std::optional<Reaches>> reaches_;
  ElementCode lastElement_ = 0; // the element last asked about, and its reaches (null: none yet)
  const Reaches *lastReaches_ = nullptr;
  std::shared_ptr<const SiteAlternatives> alternatives_; // none where no atoms are alternatives
  std::vector<SiteAlternatives::Place> rows_;
  std::vector<uint32_t> counts_, touched_;
  std::vector<NeighbourHit> hits_;
  std::vector<Alternative> met_;
  std::vector<PartnerPlace> metRows_;
  std::vector<uint32_t> stands_;
};
