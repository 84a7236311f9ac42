// What reaches a structure window from the keyboard, the mouse, the wheel
// and trackpad gestures.
//
// The window's event filter hands every event of its panes to
// `MainWindowEventHandler`; the handlers answer 0 when they acted on the
// event and `kEventNotHandledErr` to let Qt (the text view, the menus) have
// it. Presses in the graph pane go to the current tool (Tools.h).
#pragma once

#include "HostServices.h"

#include <cstdint>
#include <string>

class MainWindow;
class QEvent;
class QObject;

using OSStatus = int32_t;

// The space bar turns the rotate tool on while it is held.
extern uint8_t gTemporaryRotationMode;
extern int16_t gSaveCurrentTool;
// Degrees turned by one rotation key; below 0.001 the keys turn 2 degrees.
extern float gRotatorAngle;
// Tick counts of the last click on the divider and on the notes header.
extern uint32_t gVDividerLastTickCount;
extern uint32_t gHDividerLastTickCount;

// The sidebar's width limits while the divider is dragged.
inline constexpr int kMaxSidebarWidth = 339;
inline constexpr int kMinSidebarWidth = 80;
inline constexpr int kMinDividerMouseX = 81;
// Neither sidebar pane is dragged lower than this.
inline constexpr int kMinSidebarPaneHeight = 60;
// Wheel zoom keeps the scale strictly inside these (pixels per angstrom).
inline constexpr float kMinInteractiveScale = 2.0f;
inline constexpr float kMaxInteractiveScale = 500.0f;
// One wheel step turns this many degrees.
inline constexpr float kWheelRotationStep = 2.0f;
// Gestures gather until this much before they plot.
inline constexpr float kGestureMinRotation = 0.5f;
inline constexpr float kGestureMagnifyDeadBand = 0.001f;
// A gesture redraw waits for this many times the last plot's duration.
inline constexpr double kGesturePlotWait = 1.5;

// Takes an event of one of the window's panes; true when it was consumed.
bool MainWindowEventHandler(MainWindow *window, QObject *watched, QEvent *event);
// Sets up the panes for input (focus, cursors, gestures); the window calls
// it once it is built.
void InstallWindowInput(MainWindow *window);
// Registers the window's tools and joins the tool, auto-rotation and Text
// commands to the command chain; once at start-up.
void InstallWindowInputCommands();

void DoRotationKeystroke(WindowRef window, int x, int y, int z);
void DoTranslationKeystroke(WindowRef window, int dx, int dy);
void EndTemporaryRotationMode(WindowRef window);
// Rotates the selection or the structure by degrees about the screen axes
// and plots on the fast path.
void RotateAndPlot(WindowRef window, float x, float y, float z);
// Asks for a new scale within the interactive bounds; true when accepted.
bool ChangeInteractiveScale(WindowRef window, float scale);
// A trackpad rotation (degrees, counter-clockwise) and magnification
// (factor) for the window.
void DoMainWindowRotationAmount(WindowRef window, float degrees);
void DoMainWindowMagnifyAmount(WindowRef window, float factor);
// Runs a toolbar command (tool choices, zoom, centre and scale, full
// screen) through the command chain.
OSStatus DoToolbarCommand(uint32_t command);
// Turns rotate-selection mode off, or on when the front window has at least
// two atoms selected (otherwise the mode's alert).
void ToggleRotateSelection();
// The system's version as "%d.%d.%d" (missing parts 0), computed once.
extern std::string gSystemVersionString;
const std::string &SystemVersionString();

// What other parts of the program add to the window's input: the annotation
// editing, the selection commands, the floating windows and the contextual
// menus install these at start-up.
struct WindowInputHooks {
  // Selected annotation objects deleted / moved by pixels (annotation editing).
  bool (*deleteSelectedObjects)(WindowRef) = nullptr;
  void (*moveSelectedTextBoxes)(WindowRef, int dx, int dy) = nullptr;
  // Selected atoms and vectors deleted (the selection commands).
  void (*deleteSelectedAtoms)(WindowRef) = nullptr;
  void (*deleteSelectedVectors)(WindowRef) = nullptr;
  // Selected atoms moved in view coordinates, angstrom (atom operations).
  void (*moveSelectedAtoms)(WindowRef, float dx, float dy, float dz) = nullptr;
  // Deselects every object; true when anything was selected (hit-testing).
  bool (*deselectAllObjects)(WindowRef) = nullptr;
  // Hides or shows the floating windows (the tool windows).
  void (*toggleFloatingWindows)() = nullptr;
  // The contextual menus of the graph pane, the notes and the atoms pane
  // (the structure, text and site-browser menus).
  bool (*contextualMenu)(WindowRef, int which, int globalX, int globalY) = nullptr;
  // The arrow tool: the selected atoms duplicated by a Cartesian offset
  // (angstrom), and the editor of one vector (the selection commands).
  void (*duplicateSelectedAtoms)(WindowRef, float dx, float dy, float dz) = nullptr;
  void (*editVector)(WindowRef, int32_t vector) = nullptr;
};
extern WindowInputHooks gWindowInputHooks;
