// The per-element and per-site drawing styles of a structure as the Atoms
// tab lists them: a Default container for the structure-wide defaults, then
// one container per run of sites with the same element, holding the
// element's row and one item per site. Applying the containers gives the
// sites their styles and finds (or makes) the atom types that match them.
#pragma once

#include "StructureRecord.h"

#include <cstdint>
#include <vector>

struct AtomContainerItem {
  uint32_t site = 0; // the site shown; an element row shows its first site
  uint32_t atomStyle = 0;
  uint32_t ellipsoidStyle = 0;
  uint8_t ellipsoidShown = 1; // not the site's no-ellipsoid flag
  uint32_t polyStyle = 1;
};

struct AtomContainer {
  ElementCode element = kBlankElement; // blanks for the Default container
  uint8_t expanded = 0;
  int32_t count = 0; // items: 1 for Default, 1 + sites for an element
  std::vector<AtomContainerItem> items;
};

// Default first, then one container per run of sites sharing their first
// element; empty (count 0) without a structure or sites.
std::vector<AtomContainer> CreateAtomContainers(const CrystalRec *crystal, int32_t *count);

// A site is polyhedral when its coordination number is above 2; an element
// when any of its sites is.
bool IsSitePolyhedral(const CrystalRec *crystal, uint32_t site);
bool IsElementPolyhedral(const CrystalRec *crystal, const AtomContainer &container);

// Whether the containers still describe the structure's sites (same sites,
// in the same runs and elements): edits made against another state of the
// structure are not written into it.
bool AtomContainersMatch(const CrystalRec *crystal, const std::vector<AtomContainer> &containers);

// Writes the containers into the structure: the defaults from the Default
// container, each site's styles, and for each site the lowest atom type of
// its element, colour, radius and new styles (a new one when none matches);
// then unused atom types go. The structure's atoms follow their sites.
void ApplyAtomContainers(CrystalRec *crystal, const std::vector<AtomContainer> &containers);
