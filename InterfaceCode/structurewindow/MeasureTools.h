// The measuring tools of the graph pane: bond distance and bond/torsion
// angle between picked atoms, and the free distance and angle between points
// of the pane. Their rows live in the tool table (Tools.h).
#pragma once

#include "HostServices.h"

#include <cstdint>

// Click state shared by the atom-picking tools: atoms fixed so far and the
// picked atoms with their hit radii in pixels.
extern int16_t gNumSelAtoms;
extern int32_t gSelAtom1, gSelAtom2, gSelAtom3, gSelAtom4;
extern int32_t gAtomRad1, gAtomRad2, gAtomRad3, gAtomRad4;

// One press (isClick) or one hover step of the bond-distance tool at the
// window point.
void DoBondDistance(WindowRef window, Point point, bool isClick);
// The same for the bond-angle (and torsion) tool.
void DoBondAngle(WindowRef window, Point point, bool isClick);
// Draws the angle of the first three picked atoms; logs it when the window's
// measurement lock is on.
void LabelBondAngle(WindowRef window);
// The bond report of two atoms to the Log.
void PrintBondInfo(WindowRef window, int32_t atomA, int32_t atomB);

// True while a free distance or free angle measurement runs in the window.
bool IsFreeMeasurementActive(WindowRef window);
// Ends the window's free measurement without a result.
void CancelFreeMeasurement(WindowRef window);

// Registers the rows of the bond-distance, bond-angle, distance and angle tools.
void RegisterMeasureTools();
