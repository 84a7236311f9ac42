// The menu commands that transform the front window's whole structure:
// discard symmetry, move origin, transform cell, molecule to crystal and
// back, automatic bonds, bend, insert space, slice, distances from the
// lattice plane, the lattice plane's display and sheet, and the view
// direction sheet. Each checks its preconditions, then asks (a notice or a
// sheet) or acts through the engine (CellTransform.h, StructureTransforms.h).
#pragma once

#include "HostServices.h"
#include "StructureTransforms.h"
#include "Utilities.h"

#include <cstdint>

inline constexpr uint32_t kCmdDiscardSymmetry = FourCharsToLong("DsSy");
inline constexpr uint32_t kCmdMoveOrigin = FourCharsToLong("MvOr");
inline constexpr uint32_t kCmdTransformCell = FourCharsToLong("TrCl");
inline constexpr uint32_t kCmdMoleculeToCrystal = FourCharsToLong("MtoC");
inline constexpr uint32_t kCmdCrystalToMolecule = FourCharsToLong("CtoM");
inline constexpr uint32_t kCmdAutoGenerateBonds = FourCharsToLong("AuBd");
inline constexpr uint32_t kCmdBendLattice = FourCharsToLong("BndL");
inline constexpr uint32_t kCmdInsertSpace = FourCharsToLong("InSp");
inline constexpr uint32_t kCmdSliceCrystal = FourCharsToLong("SlcM");
inline constexpr uint32_t kCmdDistanceFromPlane = FourCharsToLong("DsPl");
inline constexpr uint32_t kCmdToggleLatticePlane = FourCharsToLong("LPln");
inline constexpr uint32_t kCmdLatticePlaneSheet = FourCharsToLong("LPSh");
inline constexpr uint32_t kCmdViewDirectionSheet = FourCharsToLong("VwDr");

// Sheets the structure window and the inspectors provide: the program
// installs the first two at start-up (EngineHooks.cpp), the inspectors the
// other two (LatticePlaneSheets.cpp). A command whose sheet is absent stays
// disabled.
struct TransformCommandHooks {
  // The Insert Space sheet: the width to show first and the smallest it
  // takes; its OK calls InsertSpace.
  void (*showInsertSpaceSheet)(WindowRef window, float width, float lowest) = nullptr;
  // The View Direction sheet with the view direction, the current vertical
  // direction and the lattice plane's indices.
  void (*showViewDirectionSheet)(WindowRef window, const float view[3], const float vertical[3],
                                 const float hkl[3]) = nullptr;
  // The Slice Model sheet, once one side of the plane is selected.
  void (*showSliceModelSheet)(WindowRef window) = nullptr;
  // The Lattice Plane sheet; its OK calls DoShowLatticePlane.
  void (*showLatticePlaneSheet)(WindowRef window, const LatticePlaneSheetRecord &record) = nullptr;
};
extern TransformCommandHooks gTransformCommandHooks;

void DoDiscardSymmetry(WindowRef window);
void DoMoveOrigin(WindowRef window);
void DoTransformCell(WindowRef window);
void DoMoleculeToCrystal(WindowRef window);
void DoCrystalToMolecule(WindowRef window);
void DoAutoGenerateBonds(WindowRef window);
void BendLattice(WindowRef window);
void DoInsertSpace(WindowRef window);
void DoSliceCrystal(WindowRef window);
void DoDistanceFromPlane(WindowRef window);
void DoShowLatticePlaneSheet(WindowRef window);
void DoShowViewDirectionSheet(WindowRef window);

// Joins the command chain.
void InstallTransformCommands();
