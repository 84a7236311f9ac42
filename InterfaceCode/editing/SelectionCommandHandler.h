// The menu commands on the front window's selection.
#pragma once

#include "HostServices.h"
#include "Utilities.h"

#include <cstdint>

inline constexpr uint32_t kCmdSelectSymmetryRelated = FourCharsToLong("SlSy");
inline constexpr uint32_t kCmdSelectNeighbours = FourCharsToLong("SlNb");
inline constexpr uint32_t kCmdSelectMolecule = FourCharsToLong("SlMl");
inline constexpr uint32_t kCmdDeselectAll = FourCharsToLong("SlNo");
inline constexpr uint32_t kCmdInvertSelection = FourCharsToLong("SlIv");
inline constexpr uint32_t kCmdSelectAll = FourCharsToLong("SlAl");
inline constexpr uint32_t kCmdCentreOnSelection = FourCharsToLong("CnSl");
inline constexpr uint32_t kCmdLabelSelection = FourCharsToLong("LbSl");
inline constexpr uint32_t kCmdHideOtherAtoms = FourCharsToLong("HdOt");
inline constexpr uint32_t kCmdHideSelection = FourCharsToLong("HdSl");
inline constexpr uint32_t kCmdShowAllAtoms = FourCharsToLong("ShAl");
inline constexpr uint32_t kCmdHideOtherMolecules = FourCharsToLong("HdMl");
inline constexpr uint32_t kCmdAtomColour = FourCharsToLong("AtCl");
inline constexpr uint32_t kCmdDeleteAllVectors = FourCharsToLong("VcDA");
inline constexpr uint32_t kCmdResetCustomBonds = FourCharsToLong("CBRs");
inline constexpr uint32_t kCmdDetachSelection = FourCharsToLong("DtSl");

void InstallSelectionCommands();
// A command that acts on the selected atoms, given a structure with atoms
// and none selected: the "No atoms selected!" caution, as every selection
// command gives, and true. False for every other case.
bool RefusesEmptySelection(uint32_t command, WindowRef window);
// Behind the "HideOtherMolecules" notice, keeps only the molecules of the
// selection on view; without a selection, the caution.
void DoHideOtherMolecules(WindowRef window);
