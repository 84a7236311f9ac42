// The sheets of the commands on the selected atoms: custom bond style,
// define vector, duplicate atoms, edit coordinates and edit atoms. Each is a
// window-modal dialog over the structure window that edits a copy of its
// record; OK closes it and only then hands the record to the command's apply
// operation (AtomEditing.h). Cancel closes it and changes nothing.
#pragma once

#include "AtomEditing.h"
#include "HostServices.h"
#include "Utilities.h"

#include <QPoint>
#include <cstdint>

class QDialog;
class QWidget;

// ---- Command codes ------------------------------------------------------------------
inline constexpr uint32_t kCmdShowCentreOfSelection = FourCharsToLong("CeSl");
inline constexpr uint32_t kCmdAddVector = FourCharsToLong("VcAd");
inline constexpr uint32_t kCmdEditVector = FourCharsToLong("VcEd");
inline constexpr uint32_t kCmdDeleteSelectedVectors = FourCharsToLong("VcDS");
inline constexpr uint32_t kCmdDuplicateAtoms = FourCharsToLong("DpSl");
inline constexpr uint32_t kCmdEditSelectionCoords = FourCharsToLong("EdXY");
inline constexpr uint32_t kCmdEditSelectionSpecs = FourCharsToLong("EdSp");
inline constexpr uint32_t kCmdDeleteSelectedAtoms = FourCharsToLong("DlSl");
inline constexpr uint32_t kCmdResetCustomAtoms = FourCharsToLong("CARs");
inline constexpr uint32_t kCmdCustomBondStyle = FourCharsToLong("CBSt");
inline constexpr uint32_t kCmdAtomStyleMenu = FourCharsToLong("AtSy"); // pops up the atom style menu

// ---- Openers (the commands) -----------------------------------------------------------
void DoShowCentreOfSelection(WindowRef window);
void DoAddVector(WindowRef window);
void DoEditVector(WindowRef window);
// The vector sheet on one vector (a double-click on it), which joins the
// selection.
void DoEditVectorAt(WindowRef window, int32_t vector);
void DoShowDuplicateAtomsSheet(WindowRef window);
void DoShowEditSelectionCoordsSheet(WindowRef window);
void DoShowEditSelectionSpecsSheet(WindowRef window);
void DoShowCustomBondStyleSheet(WindowRef window);
// Item `item` (from 1) of the atom style table for every visible selected
// atom of a visible site; nothing for a separator or an item out of range.
void DoChangeAtomStyle(WindowRef window, int item);
// The atom style menu at the pointer, its choice given to the selection.
void DoAtomStyleMenu(WindowRef window);

// ---- The sheets -------------------------------------------------------------------------
// Each answers the open sheet, or null when the window is no structure window.
QDialog *ShowCustomBondStyleSheet(WindowRef window, const CustomBondStyleRec &record);
QDialog *ShowDefineVectorSheet(WindowRef window, const DefineVectorRec &record);
QDialog *ShowDuplicateAtomsSheet(WindowRef window);
QDialog *ShowEditSelectionCoordinatesSheet(WindowRef window, const EditSelCoordsRec &record);
QDialog *ShowEditSelSpecsSheet(WindowRef window, const EditSelSpecsRec &record);

// ---- The custom bond style view ---------------------------------------------------------
// Parts of the view of height h: the style swatch (left 10 to 74, 64 high,
// centred) and two colour buttons (94 to 138 and 148 to 192, 20 high).
enum class BondStyleViewPart { kNone, kSwatch, kColour1, kColour2 };
BondStyleViewPart BondStyleViewPartAt(int height, QPoint point);
// How many colour buttons a bond style shows (0, 1 or 2); with none, the
// text the view shows instead (empty for style 0).
int BondStyleColourButtons(uint16_t style);
const char *BondStyleViewText(uint16_t style);

// Installs the style and colour handling of control 1 of a custom bond style
// sheet; the view edits `record` (which must outlive it).
void InstallCustomBondStyleView(QWidget *view, WindowRef window, CustomBondStyleRec *record);

void InstallSelectionSheetCommands();
