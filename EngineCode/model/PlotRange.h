// Plot range and scale.
//
// A crystal is shown over a region of fractional coordinates, its plot
// range: x, y and z each from a minimum to a maximum. This file turns a
// requested range into whole cells of generated atoms, decides which atoms
// are inside, measures the plotted structure (its centre and extent in
// Angstrom, and its box in pixels) and sets the plot scale in pixels per
// Angstrom so that the structure fits the graph pane.
//
// The stored range is normalised: each minimum lies in [0, 1) and the cells
// it needs start at cell 0. Along an axis the cell count is
// n = trunc(max + s) + 1, with s = 1 - trunc(min) for a negative minimum and
// 0 otherwise: 0 to 0.999 needs one cell, 0 to 1 needs two, so that the atoms
// at 1.0 (the images at 0 of the next cell) are shown.
//
// Sound behaviour where a literal reading would lose or corrupt data:
// - a range that is not a number, or whose atoms would pass the array limit
//   (kMaxArrayRecords), is refused before anything changes: the structure
//   keeps its atoms, range and cells ("No Memory for atoms" for the size);
// - a scale that is not a positive finite number is refused; fitting the
//   scale to a pane without size or to a structure without extent changes
//   nothing;
// - the cluster refuses a cell without d-spacings (an invalid cell).
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>

// ---- Limits and constants ------------------------------------------------------

// A range whose minimum exceeds its maximum becomes minimum to minimum + this.
inline constexpr float kMinRangeWidth = 0.1f;
// Cells along one axis are counted up to this; a larger range cannot be
// generated anyway (see kMaxArrayRecords).
inline constexpr int32_t kMaxCellsPerAxis = 1'000'000;
// The plot extent is at least this (Angstrom).
inline constexpr float kMinPlotExtent = 1.0f;
// Starting values of the fractional range of the visible atoms.
inline constexpr float kXYZRangeStart = 9999.9f;
// What one atom of a plot range costs, for the check that refuses a range
// the machine cannot hold: its record (over half a kilobyte with its
// ellipsoid axes), its bonds list, its place in the searches' and the plot's
// working arrays (bytes).
inline constexpr uint64_t kBytesPerBuiltAtom = 640;
// The cells of a plot range are made with the user's cancel asked every
// this many rows of cells.
inline constexpr int64_t kTileCancelClockEvery = 16;
// Written to the Log when the user stops the making of a plot range.
inline constexpr const char *kRangeCancelledText = "Plot range cancelled: the previous range stays.";
// The label size that follows the plot scale stays within these (points).
inline constexpr float kMinLabelSize = 1.0f;
inline constexpr float kMaxLabelSize = 128.0f;
// The pixel box: its starting edges, the least half-size of an atom, the
// extra room for a selection highlight, the cell-line margin beyond twice
// the line width, the lattice-plane margin and the label margins.
inline constexpr int32_t kPixBoxStartMin = 32767;
inline constexpr int32_t kPixBoxStartMax = -32768;
inline constexpr int32_t kMinAtomHalfSize = 5;
inline constexpr int32_t kSelectionMargin = 2;
inline constexpr float kCellLineMargin = 3.0f;
inline constexpr int32_t kPlaneVertexMargin = 2;
inline constexpr float kLabelWidthFactor = 1.1f;
inline constexpr float kLabelHeightFactor = 1.4f;
// The cluster: an atom nearer the centre than this is the centre atom.
inline constexpr float kClusterCentreDistance = 0.01f;

// ---- The range ------------------------------------------------------------------

// Normalises the stored range, per axis: a minimum above the maximum makes
// the maximum minimum + 0.1; a negative minimum moves both bounds up by
// 1 - trunc(minimum) cells (so -1 becomes 1.0), a minimum of 1 or more moves
// them down by trunc(minimum).
void AdjustCellRangeOffsets(CrystalRec *crystal);

// The cell counts the stored range needs.
void CalculateNumCellsForCrystal(const CrystalRec *crystal, int32_t *na, int32_t *nb, int32_t *nc);

// True when the atom's fractional x, y and z each lie within the range
// (`CoordinateInRange`).
bool IsAtomInRange(const CrystalRec *crystal, const AtomRecord &atom);

// Every atom gets its Cartesian coordinates from the orientation matrix;
// an atom in range takes its site's visible flag and every other atom is
// hidden. Answers how many atoms are shown.
int32_t ApplyRangeLimits(CrystalRec *crystal);

// Applies a range to the window's structure: stores and normalises it;
// regrows the atoms when a cell count grows (selection, labels, atom types
// and vectors carried over to the same places, moved by the whole-cell shift
// of the normalisation); shows the atoms in range and hides the others;
// makes the bonds when any atom shows; measures the plot; sets up a shown
// lattice plane again; refreshes the range window. A range that only shrinks
// or moves within the existing cells changes visibility alone. False when
// there is no structure or the atoms cannot be regrown (see above).
// A caller that measures the plot itself once the bonds are made (the build)
// asks it to leave the measure out: it is then made only where what follows
// reads it first (a lattice plane placed at the centre) or where measuring
// makes what is plotted (the polyhedral model's polyhedra and roles).
enum class PlotMeasure : uint8_t { Here, ByCaller };
bool SetPlotRange(WindowRef window, float xmin, float xmax, float ymin, float ymax, float zmin, float zmax,
                  PlotMeasure measure = PlotMeasure::Here);

// `SetPlotRange`, then polyhedra (the sites' display modes kept), the plot
// measured again, the scale fitted when asked, a replot and the window marked
// modified. True when done; a molecule is left as it is and counts as done.
// False without a structure or sites, or when the range cannot be set.
bool ReplotWithPlotRange(WindowRef window, float xmin, float xmax, float ymin, float ymax, float zmin, float zmax,
                         bool rescale);

// The number of atoms a proposed range would show, without building atoms:
// one extracted first cell, every interior cell counted whole and the atoms
// of the boundary cells tested one by one. 0 for a range that is not a number
// or a structure without a first cell.
int64_t CalculateNumAtomsInRange(const CrystalRec *crystal, const float min[3], const float max[3]);

// ---- Measuring ------------------------------------------------------------------

// Whether an atom shows in the plot: not for a hidden atom or an atom of a
// hidden site; always outside the polyhedral model; in it by the site's
// polyhedron display mode: 2, 6, 7, 11 and 12 show the atom; 1 (vertex only)
// shows it when a visible bonded neighbour is of one of those modes, or of
// another mode than 1, fully and visibly bonded and carrying a polyhedron;
// any other mode when the atom carries a polyhedron.
bool IsAtomPlotted(CrystalRec *crystal, int32_t atom);
// True when the atom is visible, its bond count equals its site's
// coordination number and every bonded atom is visible.
bool IsAtomFullyVisiblyBonded(const CrystalRec *crystal, int32_t atom);

// Measures the plotted structure into `centre` (view Cartesian) and
// `extent`: the centre is the mean position of the plotted atoms (of the
// cell frame's points when no atom is plotted and the cell shows); the extent
// is twice the largest distance from it of a cell point, an atom's surface or
// a vector tip, at least 1.0. When nothing is plotted both keep their values.
// Builds the cell frame when the cell shows.
void DimensionPlot(CrystalRec *crystal, float centre[3], float *extent);

// Smallest and largest fractional coordinates of the visible atoms of
// visible sites (9999.9 and -9999.9 when there are none).
void GetAtomsXYZRange(const CrystalRec *crystal, float min[3], float max[3]);

// The pixel box of the drawn structure: atoms with their images, the cell
// frame, the lattice plane, vector tips and room for labels. All 0 without
// atoms.
void GetAtomsXpixRange(const CrystalRec *crystal, int16_t *left, int16_t *right, int16_t *top, int16_t *bottom);

// ---- Scale ------------------------------------------------------------------------

// Fits the scale so that the plot extent fills the smaller of the graph
// pane's width (halved for side-by-side stereo) and height.
void AutoSetScale(WindowRef window);

// Sets the plot scale; false (nothing changed) unless it is a positive
// number. When labels follow the scale their size changes in proportion,
// kept within 1 to 128 points, and the Model Options field follows.
bool DoChangePlotScale(CrystalRec *crystal, float scale);

// After a window resize: the scale is multiplied by the ratio of the new
// pane's diagonal to the old one. Nothing when the scale is 0, an old
// dimension is 0 or the new pane has no size.
void AdjustScaleToWindowBounds(CrystalRec *crystal, int16_t oldWidth, int16_t oldHeight, WindowRef window);

// ---- The cluster --------------------------------------------------------------------

// The cluster command's core: the range becomes a box of radius around the
// centre (fractional; moved by the same whole cells as the range), polyhedra
// are rebuilt, and every visible atom farther than radius from the centre,
// or nearer than innerRadius (other than the centre atom itself), is hidden;
// the centre atom is selected when asked. The scale is fitted when atoms
// remain around the centre, else put back; the window is replotted.
void DrawCluster(WindowRef window, float centre[3], float innerRadius, float radius, bool showProgress,
                 bool selectCentre);
