// The commands that choose which atoms of a crystal show by bonding and by
// position rather than by hand: completing bonded neighbours and whole
// molecules across the edge of the plot range, the molecular unit cell,
// hiding incomplete molecules and stranded atoms, one atom per site,
// clusters round a centre and the automatic scale.
//
// The commands that may remove much of the plot save an undo copy first;
// that belongs to the documents layer, so the interface wraps the parts
// here that report failure (RepairMolecularFragments, ShowMolecularCell,
// HideMolecularFragments, RepairMoleculeAtSelection) and undoes on false.
//
// Matching regenerated atoms to those shown before goes through a hash of
// (site, position), and the repeated hiding passes run as one queue-driven
// peel: no step is quadratic in the atoms. Main thread only.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>

// An atom of a site stays in the asymmetric unit within this of the site.
inline constexpr float kAsymmetricUnitTolerance = 0.001f;
// How many cells a range may grow along an axis while a molecule is completed.
inline constexpr float kMaxMoleculeRangeGrowth = 2.0f;

// The last cluster definition, for the rest of the run.
struct SaveDefineClusterRec {
  uint16_t centreMode = 2; // 1 centroid of the selection, otherwise a site
  uint8_t groupByElement = 1;
  float rmin = 0.0f;
  float rmax = 3.0f;
  uint8_t siteRemembered = 0;
  uint32_t site = 0;
  char label[8] = {};
};
extern SaveDefineClusterRec gSaveDefineCluster;

// What the cluster sheet edits.
struct DefineClusterRec {
  CrystalRec *structure = nullptr;
  uint8_t hasSelection = 0;
  uint16_t centreMode = 2; // 1 selection, 2 site
  float inner = 0.0f;
  float outer = 3.0f;
  int32_t site = 0;
  uint8_t groupByElement = 1;
  uint8_t presetSite = 0; // `site` is revealed and selected when the sheet opens
};

// Makes every site of the asymmetric unit visible again.
void ShowEverySite(CrystalRec &c);
// The stop alert of a bonding command on a structure without bond specifications.
void ShowOptimizeRangeNoBondingAlert();
// True when the structure has a bond specification; otherwise the alert above.
bool HasBondSpecsOrAlert(const CrystalRec &crystal);

// Shows the hidden bonded neighbours of the visible selected atoms and grows
// the range where a selected atom near its edge lacks bonds; the atoms shown
// before keep their flags, and of the new ones only the neighbours of the
// selection show. Crystals only. True when something changed.
bool RepairBondingAtSelection(WindowRef window);
// Completes every molecule that has a visible atom: the range grows by one
// cell on every side, the atoms shown before are found again, their
// molecules are kept and every other atom hidden. True when any atom shows.
bool RepairMolecularFragments(WindowRef window);
// Hides, until nothing more changes, every visible atom with fewer visible
// bonded neighbours than its site's coordination number. A structure that is
// one connected piece gets "Not a molecular crystal!" and false.
bool HideMolecularFragments(WindowRef window);
// The same on a structure: answers how many atoms were hidden, -1 (after the
// alert) for a structure in one piece.
int64_t HideMolecularFragments(CrystalRec &crystal);
// The molecular cell after the undo copy: the whole molecules whose centre
// lies within half a cell of the visible atoms' mean, on a range that just
// holds them. False when an engine step failed (the caller undoes).
bool ShowMolecularCell(WindowRef window);
// Completes the selected molecules: repeated bonding repair, one bond shell
// more of selection each time. *framework is set when a range grew by more
// than two cells (the caller undoes and alerts); false with *framework unset
// when the first repair changed nothing (the "Cant_Repair_Bonds" alert has
// been shown). *iterations (may be null) counts the repairs.
bool RepairMoleculeAtSelection(WindowRef window, bool *framework, int32_t *iterations);

// The commands without an undo copy.
void DoRepairBondingAtSelection(WindowRef window);
void DoHideStrandedAtoms(WindowRef window);
void DoShowAsymmetricUnit(WindowRef window);
// Shows every hidden atom, then hides those whose distance d from the
// Cartesian centre is at least 0.01 and outside [rmin, rmax].
void DoClusterFromAtom(WindowRef window, const float centre[3], float rmin, float rmax);
void DoDefineCluster(WindowRef window, const DefineClusterRec &record);
// The sheet's record from the remembered definition; a remembered site stays
// only while the site at its index still bears its label.
DefineClusterRec MakeDefineClusterRec(WindowRef window);
void DoAutoScale(WindowRef window);
