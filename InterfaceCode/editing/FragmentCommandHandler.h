// The bonding repair, fragment, asymmetric unit, cluster and scale commands
// of the front structure window. Those that may remove much of the plot save
// the structure as an undo copy first and return to it when they fail.
#pragma once

#include "HostServices.h"
#include "Utilities.h"

#include <cstdint>

inline constexpr uint32_t kCmdRepairMolecularFragments = FourCharsToLong("RpMF");
inline constexpr uint32_t kCmdRepairMoleculeAtSelection = FourCharsToLong("RpMS");
inline constexpr uint32_t kCmdRepairBondingAtSelection = FourCharsToLong("RpBS");
inline constexpr uint32_t kCmdShowMolecularCell = FourCharsToLong("MolC");
inline constexpr uint32_t kCmdHideMolecularFragments = FourCharsToLong("HdFr");
inline constexpr uint32_t kCmdHideStrandedAtoms = FourCharsToLong("HdSt");
inline constexpr uint32_t kCmdShowAsymmetricUnit = FourCharsToLong("ShAU");
inline constexpr uint32_t kCmdDefineCluster = FourCharsToLong("DfCl");
inline constexpr uint32_t kCmdAutoScale = FourCharsToLong("AScl");

void InstallFragmentCommands();

void DoRepairMolecularFragments(WindowRef window);
void DoRepairMoleculeAtSelection(WindowRef window);
void DoShowMolecularCell(WindowRef window);
void DoHideMolecularFragments(WindowRef window);
