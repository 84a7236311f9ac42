// Bond diagnostics of the bonding editor: for one element pair A, B and a
// length range, the smallest and largest number of B neighbours around an A
// atom (minAB, maxAB) and of A neighbours around a B atom (minBA, maxBA).
//
// A crystal is counted around the atoms of one unit cell against every image
// over the whole crystal; a molecule around each of its atoms. So that the
// editor stays responsive the search gives up after 3 seconds of the host
// clock: the Log then gets a red line saying how far it came, the front
// structure window the subtitle "Search timed out. See Log for details.", and
// the counts cover the part examined.
//
// A neighbour counts as the bond search bonds it (SpecificationBondsPair):
// atoms at one place, the atom itself among them, are never neighbours.
#pragma once

#include "StructureRecord.h"

#include <cstdint>

// A count no atom was examined for.
inline constexpr int32_t kNoNeighbourCount = 9999;
// The diagnostics stop after this long (seconds of ticks at 60 a second).
inline constexpr double kDiagnosticsTimeLimit = 3.0;
inline constexpr double kTicksPerSecond = 60.0;

inline constexpr const char kSearchTimedOutSubtitle[] = "Search timed out. See Log for details.";

// Crystal: the counts around the first-cell atoms of A's sites against the
// images of B's first-cell atoms, and (A and B differing) the number of A
// atoms that each first-cell atom of B has within the range. True when the
// counts were made (possibly cut short by the time-out); false, with the
// counts at 9999, 0, 9999, 0, when A or B has no sites, the structure has no
// sites or atoms, the cell is refused, the range reaches more images than a
// search holds (kMaxTurboCandidates) or memory runs out.
bool TurboCrystalBondDiagnostics(CrystalRec *crystal, ElementCode elementA, ElementCode elementB, float minimum,
                                 float maximum, int32_t *minAB, int32_t *maxAB, int32_t *minBA, int32_t *maxBA);
// Molecule: the same over the atoms of A and of B. False, with the counts
// untouched, when A or B has no atoms or memory runs out.
bool TurboMoleculeBondDiagnostics(CrystalRec *crystal, ElementCode elementA, ElementCode elementB, float minimum,
                                  float maximum, int32_t *minAB, int32_t *maxAB, int32_t *minBA, int32_t *maxBA);

// True while no more than 3 seconds have passed since startTicks (TickCount);
// otherwise writes "Bond search terminated with <index + 1> of <total> sites
// searched (<percent>% complete)" in red to the Log and answers false.
bool TimeToContinue(uint32_t startTicks, int32_t index, int32_t total);
