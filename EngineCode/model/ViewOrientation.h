// View orientation and rotation.
//
// The view of a structure is its orientation matrix (fractional coordinates
// to view Cartesian coordinates in Angstrom: x right, y up, z towards the
// viewer) together with its view direction (the direct-lattice direction
// seen into the screen). This file keeps the two consistent, keeps the plot
// centre and the lattice plane fixed in the crystal when the view turns,
// refreshes Cartesian coordinates, and turns user gestures into rotations:
// the trackball of the rotate tool (with zoom and in-plane spin by modifier
// keys), the four 90-degree arrow commands, and the turning of only the
// selected atoms in Rotate Selection mode (`gRotateSelection`).
//
// The trackball is a step function, not a tracking loop: the structure
// window calls `TrackBall` on mouse-down in the graph pane, `TrackBallMove`
// on each mouse move while the button is down, and `EndTrackBall` on
// release. At most one rotation step is applied per system tick.
//
// Sound behaviour where a literal reading would corrupt a document:
// - no orientation matrix with an entry that is not a finite number is ever
//   installed (a NaN rotation would be saved with the structure): such a
//   matrix, angle or view direction is refused and the view stays as it was;
// - the spin angle's cosine is clamped into [-1, 1] before acos;
// - a drag in a pane without width or height turns nothing.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>

// ---- Tools and the consent to discard symmetry ----------------------------------

// The structure window's current mouse tool; the window sets it.
extern int16_t gCurrentTool;
inline constexpr int16_t kRotateTool = 101;
inline constexpr int16_t kLatticePlaneTool = 114;

// Asks the user whether the window's crystal may be reduced to P 1 and, on
// agreement, reduces it (every symmetry copy becomes a site of its own);
// true when the structure may now be turned in parts. The structure editing
// code installs `UserAgreesToDiscardSymmetry` here at start-up. While none
// is installed, a crystal that is not P 1 is never turned in parts.
using DiscardSymmetryConsentProc = bool (*)(WindowRef window);
extern DiscardSymmetryConsentProc gDiscardSymmetryConsent;

// ---- Texts ------------------------------------------------------------------------

inline constexpr const char *kRotateSelectionAlert = "Rotate Selection Mode";
inline constexpr const char *kRotateSelectionExplanation =
    "A minimum of two atoms must be selected for rotation. Alternatively, to rotate all atoms in the structure, "
    "switch to Rotate All mode (press O in the structure window)";
inline constexpr const char *kIllegalRotationAlert = "Illegal rotation!";
inline constexpr const char *kIllegalRotationExplanation =
    "Atoms of the same site type in different unit cells cannot be rotated. Please revise your selection.";

// ---- Constants ------------------------------------------------------------------

// The arrow commands turn by this many degrees.
inline constexpr float kArrowRotationAngle = 90.0f;
// A drag across the whole pane turns a full circle.
inline constexpr float kTrackBallFullTurn = 360.0f;
// Command-drag zoom: the new scale must lie strictly between these.
inline constexpr float kTrackBallMinScale = 2.0f;
inline constexpr float kTrackBallMaxScale = 500.0f;
// The undo snapshot follows the end of a drag after this many seconds.
inline constexpr double kTrackBallUndoDelay = 0.1;

// ---- Orientation -------------------------------------------------------------------

// Keeps the plot centre and the lattice plane fixed in the crystal while
// the orientation is (when `recompute` is set) rebuilt from the view
// direction and the metric tensor, and refreshes the Cartesian coordinates
// of the visible atoms. Nothing without atoms.
void ApplyViewDirection(CrystalRec *crystal, bool recompute);

// Installs a new orientation matrix: the plot centre and the lattice plane
// stay where they are in the crystal, the view direction becomes
// M^-1 (0, 0, -L) with L = sqrt(a (a + b + c)), and the visible atoms of
// visible sites get Cartesian coordinates. False, nothing changed, for a
// matrix that is singular or not finite.
bool ApplyOrientationMatrix(CrystalRec *crystal, const float matrix[9]);

// `ApplyOrientationMatrix` and a redraw, without sending the new orientation
// to the linked diffraction program (the orientation came from it).
void SetViewWithOrientationMatrix(WindowRef window, const float matrix[9]);

// Turns the whole view by angles in degrees about the view's x, y and z
// axes: the new matrix is R M, R from `GetRotationMatrixFromAngles`.
bool RotateXYZ(CrystalRec *crystal, const float angles[3]);

// Turns the selected atoms about their centroid by angles in degrees about
// the view's axes (see the .cpp for the rules). True when atoms were turned.
bool RotateSelectionXYZ(CrystalRec *crystal, const float angles[3]);

// ---- Arrow commands ---------------------------------------------------------------

// RotateDown +90 about x, RotateUp -90 about x, RotateRight +90 about y,
// RotateLeft -90 about y: the selection in Rotate Selection mode, else the
// view; then a redraw and the window marked modified.
void RotateUp(WindowRef window);
void RotateDown(WindowRef window);
void RotateLeft(WindowRef window);
void RotateRight(WindowRef window);

// ---- Trackball ----------------------------------------------------------------------

// Mouse-down of the rotate (or plane) tool at `start`, in window
// coordinates. Nothing unless the window holds a structure; in Rotate
// Selection mode with fewer than two atoms selected the "Rotate Selection
// Mode" alert is shown instead. Otherwise the closed-hand cursor shows, the
// pane's size and centre are taken and `gTrackBallRotn` is set; true.
bool TrackBall(WindowRef window, Point start);
// One mouse move of the drag: a step from the last point inside the pane to
// `point`; the last point moves only while the mouse stays inside the pane.
// The step's result.
bool TrackBallMove(WindowRef window, Point point);
// Release: when the drag turned or zoomed anything the window's change is
// settled (undo state and mark) after 0.1 seconds; the open-hand cursor
// shows and `gTrackBallRotn` is cleared.
void EndTrackBall(WindowRef window);
// True between `TrackBall` and `EndTrackBall`.
bool IsTrackBallActive();

// One drag step from `oldPoint` to `newPoint` (window coordinates). Nothing
// when the points are equal or a step was already applied in this tick.
// Command zooms, Shift spins about the screen's z axis, otherwise the
// movement turns about the screen's y and x axes (a full turn per pane
// width or height); the plane tool turns the lattice plane, the rotate tool
// the selection (Rotate Selection mode) or the view. True when applied.
bool TrackRotn(WindowRef window, Point newPoint, Point oldPoint);

// ---- Vector tips --------------------------------------------------------------------

// For every vector: tip = its atom's fractional position + its components,
// and the tip's view coordinates through the orientation matrix.
void GetVectorTipCoordinates(CrystalRec *crystal);
