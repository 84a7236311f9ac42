// The tools that build and change the structure or the view with a press in
// the graph pane: add atom, add/delete bond, zapper, move and magnify. Each
// is a state machine over press, move and release (Tools.h); points are in
// window coordinates.
#pragma once

#include "HostServices.h"
#include "Utilities.h"

#include <cstdint>

// The add-atom tool's anchor: the element and Cartesian position of the
// last atom added or clicked. Shift-adding bonds the new atom to it; it is
// found again by element and position, so it survives re-sorting.
struct LastAddedAtom {
  ElementCode element = 0;
  float cart[3] = {0.0f, 0.0f, 0.0f};
  bool set = false;
};
extern LastAddedAtom gSaveLastAddedAtom;

// A new bond's specification admits bonds up to this factor times its length.
inline constexpr float kNewBondMaxFactor = 1.15f;
// A specification's minimum that would exclude a new bond drops to this
// factor times the bond's length.
inline constexpr float kNewBondMinFactor = 0.85f;
// A new atom's site is found again within this of its fractional position.
inline constexpr float kNewSiteTolerance = 1e-5f;
// The magnify tool's factors.
inline constexpr float kMagnifyIn = 2.0f;
inline constexpr float kMagnifyOut = 0.5f;
// The name of the zap sound.
inline constexpr const char *kZapSound = "Pow";

void DoAddAtom(WindowRef window, Point point, unsigned modifiers);
void DoAddBond(WindowRef window, Point point, unsigned modifiers);
// Adds a bond between two different atoms, rebuilds the polyhedra, replots
// and refreshes the site browser and Model Options; nothing when the atoms
// are equal or the bond cannot be added.
void AddBondBetweenClickedAtoms(WindowRef window, int32_t atomA, int32_t atomB);
// The zapper: the press marks the target, the release over it hides it.
void DoZapper(WindowRef window, Point point);
void EndZapper(WindowRef window, Point point);
// The move tool: the model follows the mouse while the button is held.
void DoMoveAllAtoms(WindowRef window, Point point);
void MoveAllAtomsStep(WindowRef window, Point point);
void EndMoveAllAtoms(WindowRef window);
// Zooms by two (by half with Shift or Option) about the pressed point.
void MagnifyPlot(WindowRef window, Point point, unsigned modifiers);
// Puts an empty molecule into a window that holds no structure.
bool DoNewEmptyMolecule(WindowRef window);

// Registers the rows of the five tools.
void RegisterBuildingTools();
