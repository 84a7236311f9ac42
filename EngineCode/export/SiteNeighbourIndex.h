// The neighbours of many sites of one crystal, each answer the same as
// SearchBondsFromSite's (same images, distances, esds and order), found
// through the crystal's periodic neighbour list of the first-cell atoms
// instead of a walk over every site, so that a report over all sites grows
// with the site count rather than with its square.
#pragma once

#include "AutoBonds.h"
#include "PeriodicNeighbours.h"
#include "StructureRecord.h"

#include <cstdint>
#include <optional>
#include <vector>

class SiteNeighbourIndex {
public:
  // An index for searches up to `maximum` (A). Not valid for a molecule, a
  // cell without d-spacings, a first-cell coordinate that is not finite or
  // large, or a reach so long that SearchBondsFromSite would refuse it.
  SiteNeighbourIndex(const CrystalRec &c, float maximum);

  bool Valid() const { return valid_; }

  // The neighbours of site s from 0 to `maximum` (at most the maximum the
  // index was made for) into results, as SearchBondsFromSite with no element
  // filter and a minimum of 0. None when that search must answer itself:
  // an index that is not valid or a list that would fill `capacity`.
  std::optional<uint32_t> Search(CrystalRec &c, uint32_t s, float maximum, BondSearchResult *results,
                                 uint32_t capacity);

private:
  struct SiteSpan {
    double uMin[3], uMax[3]; // the extent of the site's first-cell atoms
  };
  struct Found {
    BondSearchResult result;
    int32_t shift[3];
    uint32_t atom;
  };

  bool valid_ = false;
  float maximum_ = 0.0f;
  float d100_[3] = {0.0f, 0.0f, 0.0f};
  std::optional<PeriodicNeighbours> list_; // the first-cell atoms, marked by atom and site
  std::vector<SiteSpan> spans_;            // per site
  std::vector<NeighbourHit> hits_;
  std::vector<Found> found_;
};
