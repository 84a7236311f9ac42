// Lattice planes.
//
// A structure can show one lattice plane: a translucent polygon where a
// crystallographic plane (h k l) cuts the box of the plotted atoms. Its
// fields live in `CrystalRec::plane` (StructureRecord.h): the normal in
// lattice (fractional) and view components, the intercept polygon of at most
// six points in cyclic order, a point of the plane in view coordinates, the
// Miller indices, the shown flag, colour and transparency.
//
// Here: the plane from Miller indices, the polygon of its intercepts with the
// box, distances from the plane, moving it to a point or along its normal by
// a mouse drag, turning it with the trackball, and the least-squares plane
// through the selected atoms.
//
// The view normal has unit length after every operation that sets it; each
// polygon point's view coordinates are the orientation matrix times its
// fractional coordinates.
//
// The box: the fractional range of the visible atoms of visible sites, or,
// along an axis where that range is thinner than kPlaneMinBoxThickness, the
// plot range of that axis.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>

// ---- Constants ------------------------------------------------------------------
// A segment is parallel to the plane when |direction · normal| is below this,
// and then lies in it when its start is closer than this to the plane.
inline constexpr float kPlaneParallelTolerance = 1e-5f;
// Along an axis where the atoms span less than this (Angstrom), the box
// takes the plot range instead.
inline constexpr float kPlaneMinBoxThickness = 2.0f;
// A drag keeps the polygon's centre this far (fractional) inside the box.
inline constexpr float kPlaneDragMargin = 0.01f;
// Best plane: refinement cycles, line-search steps per sweep, the first step
// (degrees), and the smallest squared length of the two turned components.
inline constexpr int kBestPlaneMaxCycles = 250;
inline constexpr int kBestPlaneMaxSweepSteps = 10000;
inline constexpr double kBestPlaneFirstStep = 0.05;
inline constexpr float kBestPlaneMinRadiusSq = 1e-5f;
// Best plane: the sum of squares has converged when it changes by no more
// than the absolute plus the relative part (which also holds for a sum of
// exactly 0, as for atoms lying in one plane).
inline constexpr double kBestPlaneAbsTolerance = 1e-12;
inline constexpr double kBestPlaneRelTolerance = 1e-6;

// ---- Texts ------------------------------------------------------------------------
inline constexpr const char *kZeroVectorAlert = "Zero vector!";
inline constexpr const char *kTooFewAtomsAlert = "At least three atoms must be selected!";
inline constexpr const char *kNoMeanPlaneAlert = "Sorry, insufficient points to determine mean plane";
inline constexpr const char *kRefinementFailedLog = "* * * Refinement failed to converge! * * *";

// ---- The plane ------------------------------------------------------------------------

// Sets the plane from the Miller indices through the plot centre and
// computes its polygon. Indices that give no direction show the caution
// alert "Zero vector!" and change nothing.
void InitLatticePlane(CrystalRec *crystal);
// The signed distance (plane point - p) · view normal of a view point.
float Dist2Plane(const CrystalRec *crystal, const float p[3]);
// Moves the plane along its normal so that it passes through p; the polygon
// is carried along, not recomputed.
void MovePlane2Point(CrystalRec *crystal, const float p[3]);
// The sum over visible selected atoms of Dist2Plane squared; 0 without atoms.
float GetSumSqPlaneDistance(const CrystalRec *crystal);
// One line search turning the view normal in the plane of its components a
// and b (0 x, 1 y, 2 z), keeping its length: steps of 0.05 degrees, reversed
// and halved whenever the sum of squares grows, until it settles (at most
// 10,000 steps). *sumSq holds the current sum on entry and on return; each
// step adds one to *steps.
void DoRefinementSweep(CrystalRec *crystal, int a, int b, float *sumSq, int32_t *steps);

// ---- Intercepts --------------------------------------------------------------------------

// The segment P-Q against the plane through planePoint with unit normal:
// 1 when it meets the plane at X (ends included), 2 when it lies in the
// plane, 0 otherwise. X is written whenever the segment is not parallel.
int GetLinePlaneIntercept(const float P[3], const float Q[3], const float normal[3], const float planePoint[3],
                          float X[3]);
// Recomputes the polygon for the current normal and plane point from the
// twelve edges of the box; at most six points.
void LatticePlaneIntercepts(CrystalRec *crystal);
// Puts the polygon points in cyclic order.
void TidyLatticePlanePts(CrystalRec *crystal);
// Recomputes the lattice normal, the Miller indices and the polygon from the
// view normal, keeping the plane point.
void RegenerateLatticePlane(CrystalRec *crystal);

// ---- Commands and tools -------------------------------------------------------------------

// The best-plane command: the least-squares plane through the visible
// selected atoms of the window's structure, refined, shown and reported in
// the Log.
void DoPlaneThroughPoints(WindowRef window);
// Turns the shown plane about its plane point by rotations about the view x,
// y and z axes (degrees), as the trackball does with the plane tool.
void RotateLatticePlane(CrystalRec *crystal, const float angles[3]);

// Dragging the plane along its normal with the plane tool: the window calls
// StartMoveLatticePlane on the press, MoveLatticePlane with the previous and
// the current pane point on each move (then takes the current point as the
// previous one), and EndMoveLatticePlane on the release. A step that would
// carry the polygon's centre out of the box (less a margin) leaves the plane
// where it is; a step that moves it replots. MoveLatticePlane answers whether
// the plane moved.
void StartMoveLatticePlane(WindowRef window);
bool MoveLatticePlane(WindowRef window, Point previous, Point current);
void EndMoveLatticePlane(WindowRef window);
