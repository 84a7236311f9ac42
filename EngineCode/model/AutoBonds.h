// Automatic bonds, the Distance Explorer search and neighbour lists.
//
// Built on the sorted-candidate search of BondSearch.h:
// - `AutoBondSearch` throws away a structure's bond specifications and makes
//   new ones from the contacts it finds, judged by the two elements'
//   covalent radii (CovalentRadii.h) and the table of typical bond lengths
//   `kDefSpecs` (the automatic rule, BondRule.h);
// - `DoDistanceExplorerSearch` lists every distance within a range from
//   chosen sites (atoms in a molecule) to the atoms of chosen elements,
//   sorted; the mirrors are removed by the caller (`RemoveMirrorDistances`);
//   Esc ends it early;
// - the neighbour lists around a point, an atom, the selection's centroid or
//   a site, sorted by distance (the distances report and the filled-volume
//   calculation use the site search).
//
// The automatic search and the Distance Explorer use the program-wide working
// state of the bond search; the point and site searches use only the sort
// context below. None of them may run while another search runs.
#pragma once

#include "BondRule.h"
#include "StructureRecord.h"

#include <cstdint>
#include <optional>
#include <vector>

// ---- Tolerances of the search ------------------------------------------------------

// The automatic rule (which pairs of elements are in contact, and how far
// apart) is BondRule.h's.

// Matter packs no more than one atom into this volume (A^3), five times
// less than diamond gives each. An atom with more distinct places within
// the longest limit of the search than that sphere's volume over this, and
// more than kMinCrowdedPlaces, lies in no structure: it makes no contact,
// and the Log counts such atoms in one line. The search then examines at
// most that many places around each place, however the atoms crowd.
inline constexpr double kCrowdedVolumePerPlace = 1.0;
inline constexpr size_t kMinCrowdedPlaces = 64;
// Two atoms closer than this squared distance (A^2) stand at the same place.
inline constexpr float kCoincidentDistanceSq = 0.001f;
// The site search leaves out images of the site itself closer than this
// squared distance (A^2).
inline constexpr float kSelfImageDistanceSq = 0.0001f;
// Distance Explorer: two results at distances closer than this (A) may be
// mirror images of each other.
inline constexpr float kMirrorDistanceTolerance = 0.00011f;
// An automatic bond to an image of the atom's own site shows the site's
// polyhedron in this display mode.
inline constexpr uint32_t kSelfBondedPolyMode = 6;
// The statistics of the automatic search start with this shortest length.
inline constexpr float kAutoBondNoShortest = 9999.9f;
// A pair of a listed bond's two sites is that bond up to this much (A)
// beyond the length the file gives it.
inline constexpr float kListedBondSlack = 0.01f;

// ---- Result records ---------------------------------------------------------------

// One neighbour of a point, atom or site.
struct BondSearchResult {
  int32_t site = 0;                  // site index of the neighbour
  float xyz[3] = {0.0f, 0.0f, 0.0f}; // fractional; for a site search the image found
  float distance = 0.0f;             // Angstrom
  float esd = 0.0f;                  // 0 unless the structure carries esds
};

// One distance of the Distance Explorer.
struct DistanceExplorerResult {
  uint32_t from = 0; // site index in a crystal, atom index in a molecule
  uint32_t site = 0; // site of the neighbour atom
  float distance = 0.0f;
  float esd = 0.0f;
};

// The arrays the comparators below read while a sort runs.
extern BondSearchResult *gBondSearchResults;
extern DistanceExplorerResult *gDistanceExplorerResults;
// qsort-style comparators of two uint32_t positions in those arrays:
// 1, -1 or 0 by ascending distance.
int CompareBondSearchResultsByDistance(const void *a, const void *b);
int CompareDistanceExplorerResultsByDistance(const void *a, const void *b);

// ---- Automatic bond search -----------------------------------------------------------

// Replaces all bond specifications with those the contacts of the structure
// call for (the automatic rule above), sets every site's coordination number (the largest contact count
// of any of its images) and, for a site bonded to itself, its polyhedron
// display mode 6; makes the bonds (directly in a molecule, through
// `TurboGenerateBonds` over the plot range in a crystal); reports each new
// specification to the Log. Two atoms at one place (kOverlapDistanceSq) make
// no contact: the first such pair is named in red, and in a molecule one
// line counts them all.
// givenSites (per site, may be null): the sites whose bonds to each other a
// file gives; a pair of two such sites makes no contact. `listed` (may be
// null): the bonds the file lists among them, which count as neighbours in
// every judgement of the rule (a cation's listed bonds to a ligand's O make
// its C and H the cation's second neighbours; a hydrogen listed with an O is
// a proton).
struct ListedBond {
  uint32_t siteA = 0; // sites of a crystal, atoms of a molecule
  uint32_t siteB = 0;
  float length = 0.0f; // A, as the file places the two
};
void AutoBondSearch(CrystalRec *crystal, const std::vector<uint8_t> *givenSites = nullptr,
                    const std::vector<ListedBond> *listed = nullptr);

// Merges one specification (its element pair, minimum and maximum) into the
// table: a specification of the same pair in either order gets the smaller
// minimum and the larger maximum; otherwise the pair is appended with the
// structure's bond style and colours. A negative minimum counts as 0. Answers the index, or -1 when the table
// already holds 200 specifications.
int32_t AutoAddBondSpecs(CrystalRec *crystal, BondSpec spec);

// ---- Distance Explorer --------------------------------------------------------------

// Every distance from minimum to maximum (A, both included) from the From
// entries (sites of a crystal, atoms of a molecule) to the atoms of the To
// elements, sorted by distance; a pair searched from both ends is listed from
// both, and the mirrors are removed by the caller (`RemoveMirrorDistances`).
// Esc ends the search with the distances found so far;
// *percentSearched then stays below 100. Nothing when the structure has
// fewer than 2 atoms, a list is missing or empty, a To element has no sites,
// or memory runs out.
std::optional<std::vector<DistanceExplorerResult>>
DoDistanceExplorerSearch(CrystalRec *crystal, const uint32_t *from, uint32_t fromCount, const ElementCode *toElements,
                         uint32_t toCount, float minimum, float maximum, uint32_t *resultCount, float *percentSearched);

// ---- Neighbour lists -------------------------------------------------------------------
// An element list filters the neighbours by their site's first element; no
// list (null or a count below 1) means every element. Results stand sorted by
// ascending distance; equal distances keep the order of discovery.

// The visible atoms of visible sites whose distance d from the point (view
// Cartesian) is not 0 and lies from minimum to maximum, at most `capacity` of
// them (the first found in site order when there are more). Answers the count.
uint32_t SearchBondsFromPoint(CrystalRec *crystal, const float point[3], const ElementCode *elements,
                              int32_t elementCount, float minimum, float maximum, BondSearchResult *results,
                              uint32_t capacity);
// `SearchBondsFromPoint` around one atom (the atom itself is left out).
uint32_t SearchBondsFromAtom(CrystalRec *crystal, uint32_t atom, const ElementCode *elements, int32_t elementCount,
                             float minimum, float maximum, BondSearchResult *results, uint32_t capacity);
// The neighbours of the centroid of the visible selected atoms; nothing when
// none is selected.
std::optional<std::vector<BondSearchResult>> DoBondSearchFromSelection(CrystalRec *crystal, const ElementCode *elements,
                                                                       int32_t elementCount, float minimum,
                                                                       float maximum, uint32_t *count);

// Every image, over the whole crystal, of the first-cell atoms of the
// (filtered) sites within minimum to maximum of the site's first atom, the
// site's own images closer than 0.01 A left out. Each result holds the
// image's fractional coordinates. At most `capacity` results: a search that
// fills the array stops there, so a full array may mean more neighbours.
uint32_t SearchBondsFromSite(CrystalRec *crystal, uint32_t site, const ElementCode *elements, int32_t elementCount,
                             float minimum, float maximum, BondSearchResult *results, uint32_t capacity);
// A site search in a crystal, an atom search in a molecule, into a new array
// large enough for every neighbour in range.
std::optional<std::vector<BondSearchResult>> DoBondSearchFromSite(CrystalRec *crystal, uint32_t index,
                                                                  const ElementCode *elements, int32_t elementCount,
                                                                  float minimum, float maximum, uint32_t *count);

// Orders the results by ascending distance in place (equal distances keep
// their order); left as it is when memory runs out.
void SortBondSearchResultsByDistance(BondSearchResult *results, uint32_t count);
