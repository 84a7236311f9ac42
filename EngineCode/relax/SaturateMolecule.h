// Saturating a molecule with hydrogen: boron, carbon, nitrogen and oxygen
// atoms get hydrogens up to their valence, each bonded to its parent, and
// the molecule is then relaxed with every atom that was there before held
// fixed, so that only the new hydrogens move into place.
#pragma once

#include "HostServices.h"
#include "Utilities.h"

#include <cstdint>

// Hydrogens placed around a parent sit at these offsets (Å) in the plane of
// the screen, in this order; the relaxation moves them.
inline constexpr float kSaturateHydrogenOffset = 0.707f;
// An atom is found again at a point within this distance (Å).
inline constexpr float kAtomAtPointTolerance = 0.0001f;
// A new hydrogen is recognised within this distance of its position (Å).
inline constexpr float kNewHydrogenTolerance = 0.001f;

// The number of hydrogens an atom of the element with `bondCount` bonds
// needs: valence (B 3, C 4, N 3, O 2) minus bonds, none above the valence
// and none for any other element.
int32_t HydrogensNeeded(ElementCode element, uint32_t bondCount);

// The Saturate command on the window's molecule: with a selection only the
// selected atoms are saturated. A crystal gets the molecule-only alert and
// nothing is added; nothing to add gives "Cannot add hydrogens!".
void DoSaturateMolecule(WindowRef window);

// The first atom, in atom order, of the element whose Cartesian position
// lies within kAtomAtPointTolerance of the point.
bool GetNearestAtomWithSymbolAtPoint(WindowRef window, ElementCode element, const float point[3], int32_t *index);
// Bonds the atom of element A at point A to the atom of element B at point
// B; true when a bond was recorded.
bool AddBondBetweenSymbolsAtPoints(WindowRef window, ElementCode elementA, const float pointA[3], ElementCode elementB,
                                   const float pointB[3]);

