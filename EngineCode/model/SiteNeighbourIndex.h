// The neighbours of a crystal's sites over all images of its cell, answered
// as the site search of the neighbour lists defines them (SearchBondsFromSite
// in AutoBonds.h): the images of the first-cell atoms within a range of a
// site's first atom, by the single-precision distance of the image's
// fractional coordinates through the orientation matrix, each site walked
// over the cell translations its extent and the reach call for, sorted by
// distance with equal distances in the order of that walk. The candidates
// come from the crystal's periodic neighbour list, so a search costs the
// images near the site, and an index asked for many sites is made once.
#pragma once

#include "AutoBonds.h"
#include "PeriodicNeighbours.h"
#include "StructureRecord.h"

#include <cstdint>
#include <optional>
#include <vector>

// Whether a neighbour search's element list lets the element pass: every
// element passes no list (null, or a count below 1).
bool ElementWanted(ElementCode element, const ElementCode *elements, int32_t elementCount);

class SiteNeighbourIndex {
public:
  // An index for searches up to `maximum` (A) among the sites whose first
  // element is one of `elements` (none, or a count below 1: every site).
  // Not valid for a cell without d-spacings or a volume, a first-cell
  // coordinate that is not finite or beyond a stored coordinate, or memory
  // that runs out: every search then finds nothing.
  SiteNeighbourIndex(const CrystalRec &c, float maximum, const ElementCode *elements = nullptr,
                     int32_t elementCount = 0);

  bool Valid() const { return valid_; }

  // The neighbours of site s from `minimum` to `maximum` (at most the
  // maximum the index was made for) into results, at most `capacity`: the
  // first found in the walk's order when there are more. Nothing when the
  // walk of some searched site would take more cell translations than a
  // search ever walks. Answers the count.
  uint32_t Search(CrystalRec &c, uint32_t s, float minimum, float maximum, BondSearchResult *results,
                  uint32_t capacity);

private:
  struct SiteSpan {
    double uMin[3], uMax[3]; // the extent of the site's first-cell atoms
    uint32_t atoms = 0;      // 0: the site is not searched
  };
  struct Found {
    BondSearchResult result;
    int32_t shift[3];
    uint32_t atom;
  };
  // Whether the walk of some searched site about `origin` would take more
  // cell translations than a search ever walks.
  bool WalkRefused(const float origin[3], const double reach[3]) const;

  bool valid_ = false;
  bool mayRefuse_ = false; // a site's walk may take too many translations
  float maximum_ = 0.0f;
  float d100_[3] = {0.0f, 0.0f, 0.0f};
  std::optional<PeriodicNeighbours> list_; // the searched first-cell atoms, marked by atom and site
  std::vector<SiteSpan> spans_;            // per site
  std::vector<NeighbourHit> hits_;
  std::vector<Found> found_;
};
