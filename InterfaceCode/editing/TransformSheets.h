// The sheets of the structure transformations: Move Origin, Transform Cell,
// Molecule to Crystal and Bend Radius. Each is a window-modal dialog over
// the structure window; its handler takes the sheet's commands by their
// four-character codes ('ok  ' applies, 'not!' and 'quit' cancel, 'Help'
// opens its page), and the structure changes only after the sheet has
// closed. The checks on what the user typed are plain functions below.
#pragma once

#include "HostServices.h"
#include "Utilities.h"

#include <cstdint>

class QDialog;

// ---- Sheet commands ----------------------------------------------------------------
inline constexpr uint32_t kSheetOK = FourCharsToLong("ok  ");
inline constexpr uint32_t kSheetCancel = FourCharsToLong("not!");
inline constexpr uint32_t kSheetQuit = FourCharsToLong("quit");
inline constexpr uint32_t kSheetHelp = FourCharsToLong("Help");
// Transform Cell: identity matrix, type pop-up changed, options box clicked.
inline constexpr uint32_t kTransformResetMatrix = FourCharsToLong("RsTM");
inline constexpr uint32_t kTransformTypeChanged = FourCharsToLong("Type");
inline constexpr uint32_t kTransformToggleOptions = FourCharsToLong("tOps");
// The presets pop-up's items.
inline constexpr uint32_t kPresetPrimitive = FourCharsToLong("Pcel");
inline constexpr uint32_t kPresetACentred = FourCharsToLong("Acel");
inline constexpr uint32_t kPresetBCentred = FourCharsToLong("Bcel");
inline constexpr uint32_t kPresetCCentred = FourCharsToLong("Ccel");
inline constexpr uint32_t kPresetBodyCentred = FourCharsToLong("Icel");
inline constexpr uint32_t kPresetFaceCentred = FourCharsToLong("Fcel");
inline constexpr uint32_t kPresetRhombohedral = FourCharsToLong("Rcel");
inline constexpr uint32_t kPresetPlane110 = FourCharsToLong("H110");
inline constexpr uint32_t kPresetPlane111 = FourCharsToLong("H111");
inline constexpr uint32_t kPresetSupercell222 = FourCharsToLong("S222");
inline constexpr uint32_t kPresetSupercell333 = FourCharsToLong("S333");
inline constexpr uint32_t kPresetCustom = FourCharsToLong("Cust");

// `TransformationType` of the Transform Cell sheet.
enum TransformationType : int { kGeneralMatrix = 1, kProjectionPlane = 2, kSupercell = 3 };

// Transform Cell control numbers.
enum TransformCellControl : int {
  kTCPresets = 4,
  kTCShowOptions = 5,
  kTCOptionsGroup = 10,
  kTCTypePopup = 12,
  kTCMatrixGroup = 20,
  kTCMatrixFirst = 21, // 21 to 29, row by row
  kTCPlaneGroup = 30,
  kTCPlaneFirst = 31, // h, k, l
  kTCSupercellGroup = 40,
  kTCSupercellFirst = 41, // along a, b, c
};

// ---- Remembered between uses ----------------------------------------------------------
extern bool gSaveShowOptions;   // Transform Cell options shown
extern bool moleculeAtOrigin;   // Molecule to Crystal placement
extern float gMoveOriginDeltaX; // the last origin shift applied
extern float gMoveOriginDeltaY;
extern float gMoveOriginDeltaZ;
void SaveMoveOrigin(float x, float y, float z);

// ---- Checks on the sheets' values ----------------------------------------------------------
struct SheetAlert {
  const char *message;
  const char *explanation;
};
inline constexpr SheetAlert kInvalidSupercellAlert = {
    "Invalid supercell",
    "Supercell must comprise an integral number of unit cells, and be larger than the existing cell."};
inline constexpr SheetAlert kInvalidProjectionAlert = {"Invalid projection plane",
                                                       "You must specify integers for h, k and l."};
inline constexpr SheetAlert kInvalidMatrixAlert = {
    "Invalid transformation matrix",
    "Please check that you have defined right-handed axes. Note also that the new unit cell must either be an "
    "integral multiple of existing cells (supercell), or be a sub-cell with an integral number of lattice points."};
inline constexpr SheetAlert kInvalidAngleAlert = {"Invalid Angle", "Please check your interaxial angles carefully!"};

// Each multiple a whole number of at least 1, and one of them above 1.
bool SupercellMultiplesValid(const double n[3]);
// Whole numbers, not all zero, none beyond the projection's largest index.
bool ProjectionPlaneValid(const double hkl[3]);
// An interaxial angle of the Molecule to Crystal sheet: 1 to 179 degrees.
bool CellAngleValid(double angle);
// A Move Origin shift other than (0, 0, 0).
bool OriginShiftValid(const float xyz[3]);
// The cell height along the screen's z (perpendicular to a and b) of a cell
// with c = 1, and b sin gamma of one with b = 1: what the Molecule to
// Crystal sheet compares the molecule's y and z extents with.
double CellHeightPerC(double alpha, double beta, double gamma);
double CellWidthPerB(double gamma);

// ---- The sheets --------------------------------------------------------------------------
// Each Show answers the open sheet (null when it could not be made); each
// handler answers 0 for a command it took, kEventNotHandledErr otherwise
// ('quit' closes the sheet and is not handled, so quitting goes on).
QDialog *ShowMoveOriginSheet(WindowRef window, float x, float y, float z);
int32_t MoveOriginSheetEventHandler(QDialog *sheet, uint32_t command);

QDialog *ShowTransformCellSheet(WindowRef window, char letter);
int32_t TransformCellSheetEventHandler(QDialog *sheet, uint32_t command);
int GetTransformationType(QDialog *sheet);
void SetTransformationType(QDialog *sheet, int type);
void SetTransformationPresetsMenu(QDialog *sheet, uint32_t command);
uint32_t GetTransformationPresetsMenu(QDialog *sheet);
void SetGeneralTransformationMatrix(QDialog *sheet, const float T[9]);
void SetProjectionPlane(QDialog *sheet, float l);
void SetSupercellDimensions(QDialog *sheet, float na, float nb, float nc);
void DoTransformationPreset(QDialog *sheet, uint32_t command);
void ToggleAdvancedOptions(QDialog *sheet, bool show);

// Fields 4 to 6 propose 1.5 times the x extent and the y and z extents as
// a, b, c; the picture of the axes shows beside them.
QDialog *ShowMoleculeToCrystalSheet(WindowRef window, float ex, float ey, float ez, float alpha, float beta,
                                    float gamma);
int32_t MTCSheetEventHandler(QDialog *sheet, uint32_t command);
// "Cell parameter smaller than molecule!": true for "Reset Cell".
bool PromptUserToResetCell(char axis, float size);

QDialog *ShowBendRadiusSheet(WindowRef window, float radius);
int32_t BendRadiusWindowEventHandler(QDialog *sheet, uint32_t command);
