// The Plot Range window: one floating window for the program that edits the
// front crystal's plot range (fractional limits along a, b and c), shows how
// many atoms and cells the range would hold while the user types, and
// rebuilds the plotted atoms when applied. Greyed out for a molecule.
#pragma once

#include "shell/Commands.h"

#include <cstdint>
#include <string>

class QWidget;

// The window's working record, one for the program.
struct RangeData {
  float xmin = 0.0f, xmax = 1.0f;
  float ymin = 0.0f, ymax = 1.0f;
  float zmin = 0.0f, zmax = 1.0f;
  int32_t atomCount = 0; // from the last count
  uint8_t live = 0;      // apply every change at once
  uint8_t autoScale = 0; // fit the plot to the pane after applying
  uint8_t valid = 0;     // the last range check passed
};
extern RangeData gRangeData;
extern QWidget *gRangeWindow;

// ---- The rules, without the window ---------------------------------------------------

// The limits of an axis ('x', 'y' or 'z'); null for another code.
float *RangeMinimum(RangeData &d, int axis);
float *RangeMaximum(RangeData &d, int axis);
// One arrow step of a field (0 x min, 1 x max, 2 y min, ... 5 z max): +0.1
// for the upper part, -0.1 for the lower (part 21); the pair stays ordered.
void StepRangeField(RangeData &d, int field, int part);
// Grows (amount > 0) or shrinks every axis: |amount| < 1 as a fraction of
// the shortest cell edge added on every side in angstroms, else in cells
// (half on each side). An axis whose new pair would not be ordered keeps
// its limits.
void ExpandContractRange(RangeData &d, float amount, float a, float b, float c);
// Keeps the axis's width and centres it on the middle of the cell.
void CentreAxisRange(RangeData &d, int axis);
// The span of an axis in cells: "%.0f" from 100 on, else "%.1f".
std::string RangeSpanText(float span);

// ---- The window ---------------------------------------------------------------------

// Builds the window on first use; 0, or -1 when it cannot be made.
int InitSetRange();
// Opens the window (the menu command and start-up).
void DoSetRange();
// Copies the front structure's range and refreshes the window's fields.
void UpdateSetRangeNow();
// The window's commands ('okRg', 'tLiv', '+Cel', ...); kEventNotHandledErr
// for others.
OSStatus SetRangeCommand(uint32_t command);
// Joins the Plot Range command to the menus.
void InstallPlotRangeWindow();
