// The Lattice Plane sheet (Miller indices with the plane's d-spacing, its
// colour and opacity with a preview) and the Slice Model sheet that follows
// slicing the structure at the plane (hide the atoms on one side or the
// other, then the plane).
#pragma once

#include "HostServices.h"
#include "StructureTransforms.h"

#include <string>

class QDialog;

// The d-spacing text of a structure for h k l: "%.4f Å" for a crystal, "---"
// for a molecule or all-zero indices.
std::string DSpacingText(const CrystalRec *crystal, float h, float k, float l);
// Three integers from a preset's text, every character but '-' and the
// digits read as a blank ("(1/2 0 1)" gives 1 2 0); false for fewer.
bool ParsePresetPlane(const std::string &text, int *h, int *k, int *l);

// The sheets over the window; null when the form cannot be loaded. The
// structure changes only on OK (or a Slice button).
QDialog *ShowLatticePlaneSheet(WindowRef window, const LatticePlaneSheetRecord &record);
QDialog *ShowSliceModelSheet(WindowRef window);
// Installs the sheets into the transformation commands that open them.
void InstallLatticePlaneSheets();
