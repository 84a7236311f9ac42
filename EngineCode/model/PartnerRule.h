// The partner rule: a centre's neighbours counted one per partner, where
// places that are alternatives of one another stand for one partner.
#pragma once

#include "SiteAlternatives.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// A centre's neighbours counted one per partner, the rule the coordination
// count, the polyhedra and the coordination listing share: two neighbours
// that are alternatives of each other (images of one site among them) and
// lie closer than kPartialAlternativeFactor times their covalent radii's sum
// are places of one partner, and a chain of such places is one partner, so
// the count does not hang on the order the neighbours come in. A neighbour
// given twice (one atom, two specifications) is two neighbours. `atoms` are
// the neighbours' atoms (or, for atoms of a block of cells, the structure's
// atoms they are images of), `places` their Cartesian positions. Answers the
// number of partners; `stands[k]` is the neighbour that stands for k's
// partner: of its places the one of the largest occupancy, the first of
// equals.
uint32_t CountPartners(const SiteAlternatives &alternatives, std::span<const uint32_t> atoms,
                       std::span<const std::array<float, 3>> places, std::vector<uint32_t> *stands);
// The same count where the rows of the neighbours that may be alternatives
// of others are at hand (SiteAlternatives::PlaceOf): `rows` are those of
// the n neighbours, in the neighbours' order, each with its place and its
// index k among the neighbours; the others are partners of their own.
struct PartnerPlace {
  SiteAlternatives::Place row;
  std::array<float, 3> xyz; // Cartesian, A
  uint32_t k;
};
uint32_t CountPartnerPlaces(const SiteAlternatives &alternatives, std::span<const PartnerPlace> rows, size_t n,
                            std::vector<uint32_t> *stands);
