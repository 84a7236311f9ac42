// Looking along a lattice direction [uvw] or the normal of a lattice plane
// (hkl) with a chosen direction upright on the screen: from the View menu's
// presets, from the View Direction sheet, or along the line through two
// selected atoms.
#pragma once

#include "HostServices.h"

#include <cstdint>

class QDialog;

// One preset of the menus: a direction (or plane normal) and its vertical.
struct PresetViewRecord {
  uint32_t command;
  float vector[3];
  uint8_t isDirection; // 1 a direction [uvw], 0 a plane normal (hkl)
  float vertical[3];
};
inline constexpr int kNumViewDirectionContraints = 7;
inline constexpr int kNumPresetViews = 11;
// The vertical direction kept for each menu direction.
extern const float gViewDirectionContraints[kNumViewDirectionContraints][6];
extern const PresetViewRecord gPresetViews[kNumPresetViews];
// Whether the sheet shows its vertical-direction group.
extern bool gShowVertDirection;

// Looks along the line from the first to the second selected atom in depth
// order; a beep when they coincide.
void DoViewAlongSelection(WindowRef window);
// Looks along the direction (a plane normal is first turned into the
// direction perpendicular to the plane, written back into `vector`) with
// `vertical` upright.
void DoSetViewDirection(WindowRef window, float vector[3], bool isDirection, const float vertical[3]);
// The same with the vertical of the menu table, [001] for other directions.
void DoSetViewDirectionFromMenu(WindowRef window, float u, float v, float w, bool isDirection);
bool FindPresetWithCommandID(uint32_t command, float vector[3], float vertical[3], bool *isDirection);

// The View Direction sheet on the window, filled with the view direction,
// the vertical direction and the lattice plane's indices. Null without a
// structure window.
QDialog *ShowViewDirectionSheet(WindowRef window, const float viewDirection[3], const float vertical[3],
                                const float planeIndices[3]);
// The sheet with the direction fields only; nothing opens it.
QDialog *ShowViewDirectionBasicSheet(WindowRef window, const float viewDirection[3]);
// Runs a command of the sheet ('ok  ', 'Vue1', 'tTyp', a preset, ...); 0 when
// handled, `kEventNotHandledErr` otherwise.
int32_t ViewDirectionSheetCommand(QDialog *sheet, uint32_t command);
// Shows or hides the vertical-direction group, growing or shrinking the sheet.
void ToggleVertDirection(QDialog *sheet, bool show);

// Joins the menu presets and View Along Selection to the command chain.
void InstallViewDirectionCommands();
