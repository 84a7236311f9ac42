// The mouse tools of the graph pane, one table keyed by tool number.
//
// A press in the graph pane goes to the current tool's `press`; while the
// button is held each move goes to `move`, and the release to `release`
// (a tool's drag is a state machine, never a nested loop). Moves with the
// button up reach `hover`, which sets the tool's cursor and its hover
// feedback. Each tool's code registers its row with `RegisterTool`; a tool
// number without a row does nothing in the pane.
#pragma once

#include "HostServices.h"

#include <cstdint>
#include <functional>

using ToolID = int16_t;

// The tool numbers (`gCurrentTool`).
enum : ToolID {
  kToolRotate = 101,
  kToolMove = 103,
  kToolMagnify = 104,
  kToolArrow = 105,
  kToolZapper = 106,
  kToolPolygon = 107,
  kToolLasso = 108,
  kToolBondDistance = 109,
  kToolDistance = 110,
  kToolBondAngle = 111,
  kToolAngle = 113,
  kToolPlane = 114,
  kToolAddDeleteBond = 116,
  kToolAddAtom = 123,
};

// Points are in the window's content coordinates; `modifiers` are
// `ModifierKey` bits.
struct ToolHandlers {
  std::function<void(WindowRef, Point, unsigned modifiers)> press;
  std::function<void(WindowRef, Point)> move;
  std::function<void(WindowRef, Point)> release;
  // Mouse over the graph pane with the button up (`buttonDown` false) or
  // held (true) and the modifier keys held: sets the cursor; answers false
  // to leave it unhandled.
  std::function<bool(WindowRef, Point, bool buttonDown, unsigned modifiers)> hover;
  // A key the tool wants before the window's own key table; answers
  // `kEventNotHandledErr` to pass it on.
  std::function<int32_t(WindowRef, int key, unsigned modifiers)> key;
  // The tool also takes presses in a window that holds no structure.
  bool worksWithoutStructure = false;
};

// Installs (or replaces) the tool's row.
void RegisterTool(ToolID tool, ToolHandlers handlers);
// The tool's row; null for a tool nobody registered.
const ToolHandlers *FindTool(ToolID tool);
// Registers the tools the structure window owns: rotate, plane and the
// measuring tools.
void RegisterWindowTools();
