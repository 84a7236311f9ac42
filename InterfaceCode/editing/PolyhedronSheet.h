// Polyhedron from Selection: the question when an atom already sits at the
// centroid, and the sheet of the centre's element, label, bonding and
// images. The structure changes after the sheet closes with OK.
#pragma once

#include "HostServices.h"
#include "Utilities.h"

#include <cstdint>
#include <string>

class QDialog;

inline constexpr uint32_t kCmdPolyhedronFromSelection = FourCharsToLong("PlyS");

// Opens the sheet for the window's selection (at least two atoms).
void MakePolyhedronFromSelection(WindowRef window);
QDialog *ShowMakePolyhedronSheet(WindowRef window, const std::string &label, const std::string &symbol,
                                 bool showSymmetryRelated, int32_t bondChoice, bool isMolecule);
// 'ok  ' reads the controls, closes and makes the polyhedron; 'not!' and
// 'quit' close ('quit' answers kEventNotHandledErr).
int32_t MakePolyhedronSheetCommand(QDialog *sheet, uint32_t command);
