// Two small sheets on a structure window that ask for numbers before a
// command runs: the size of the picture Copy Graphics puts on the clipboard,
// and the width of the slab of empty space to insert at the lattice plane.
#pragma once

#include "HostServices.h"

#include <cstdint>

class QDialog;
class QWidget;

// The last output scale in per cent, kept between uses of the sheet.
extern float gScaleOutputPercent;
// The Copy Graphics sheet refuses a picture with a longer side than this
// (pixels): the re-plot at that size would take the memory of the machine.
inline constexpr int kMaxCopyGraphicsSide = 16384;
// The Insert Space sheet's arrows step by this and hold the width inside
// these bounds (angstrom).
inline constexpr float kInsertSpaceStep = 0.1f;
inline constexpr float kInsertSpaceMinWidth = 0.01f;
inline constexpr float kInsertSpaceMaxWidth = 10000.0f;

// The Copy Graphics sheet for the window's picture; null without a structure.
QDialog *ShowCopyGraphicsSheet(WindowRef window);
// After the field (control 4, 6 or 8) changed, the other two follow so that
// the picture keeps the image's aspect ratio.
void UpdateTextWithControl(QDialog *sheet, QWidget *control);
// The Insert Space sheet; the space goes in once it closes with a width
// greater than the minimum. Null without a structure window.
QDialog *ShowInsertSpaceSheet(WindowRef window, float initialWidth, float minimumWidth);
// Runs a command of either sheet ('ok  ', 'not!', 'quit', 'Help'); 0 when
// handled, `kEventNotHandledErr` otherwise.
int32_t StructureSheetCommand(QDialog *sheet, uint32_t command);

// Joins the Copy Graphics command to the command chain.
void InstallStructureSheetCommands();

// What the sheets hand over to the structure transformations, installed at
// start-up (tests put their own in).
struct StructureSheetHooks {
  // Inserts the slab of space at the lattice plane (InsertSpace).
  void (*insertSpace)(WindowRef window, float width) = nullptr;
};
extern StructureSheetHooks gStructureSheetHooks;
