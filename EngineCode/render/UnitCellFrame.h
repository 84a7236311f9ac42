// The unit-cell frame as data: the cell edges around the plotted cells, cut
// into short linked pieces.
//
// So that atoms and edges hide each other correctly, an edge is not one
// line: `MakeUnitCell` cuts every framed edge into pieces about 3 pixels long
// whose joints are `CellPoint` records. Each cell point takes part in the
// depth sort beside the atoms, and at its turn the plot draws the pieces
// joining it to its linked points that lie no higher, so an edge passing
// behind an atom is covered piece by piece. Four of the points carry the
// corner labels of the cell.
//
// The frame is rebuilt at every plot when the cell is shown and whenever the
// plot is measured; it depends on the orientation, scale and plot range of
// that moment.
#pragma once

#include "RGBColor.h"
#include "StructureRecord.h"
#include "graphics/GraphicsTypes.h"

#include <cstdint>
#include <span>

// Flags of the structure's unit-cell options.
inline constexpr int kCellOptionOneCellOnly = 0;
inline constexpr int kCellOptionSolidLines = 1;
inline constexpr int kCellOptionDepthSorted = 2;
inline constexpr int kCellOptionLabelCorners = 3;

// Piece length in pixels: (line width - 1) x 0.5 + 3.
inline constexpr float kCellPieceBase = 3.0f;
inline constexpr float kCellPieceWidthFactor = 0.5f;
// At most this many pieces per cell edge.
inline constexpr int32_t kMaxCellEdgeSubdivisions = 128;
// A framed neighbour cell is dropped when the range reaches less into it:
// the first cell when the range minimum is above 0.25, the last when the
// fractional part of the maximum is below 0.75.
inline constexpr float kCellFrameLowCut = 0.25f;
inline constexpr float kCellFrameHighCut = 0.75f;

// Replaces the structure's cell points with the frame of the plotted cells:
//  - cells framed per axis: with the one-cell-only option, the cell holding
//    the middle of the range; otherwise the range's cells, less a first cell
//    the range enters only above 0.25 and a last one it enters only below
//    0.75 of the way;
//  - each framed line along an axis gets s x count points, s being the cell
//    edge's pixel length over the piece length, plus one, at most 128 and
//    made even;
//  - lines along a (c outermost, then b), along b (c, then a), along c (a,
//    then b), each point projected to pixels with the plot's width and
//    height;
//  - neighbours along a line are linked, all of them for solid lines, every
//    other pair (first and last drawn) for dashed ones;
//  - with the corner-label option the origin and the far ends of the first
//    a-, b- and c-lines are labelled.
// When the points cannot be made the structure is left without cell points.
// A plot, which projects every point itself right after, passes `withPixels`
// false and the points keep no pixels meanwhile. The frame hears the user's
// cancel key every few thousand points (a plot's through the plot's own
// check, PlotWalkCancelled): a stopped frame leaves no cell points.
namespace ovrender {
void MakeUnitCell(CrystalRec *crystal, bool withPixels = true);
} // namespace ovrender

// Links points i and j both ways. Nothing when i equals j, an index lies
// outside the points, or either point already has its two links.
void AddCellPointLine(std::span<CellPoint> points, uint32_t i, uint32_t j);

// ---- Drawing the frame ---------------------------------------------------------

// Width in pixels of the frame's lines for the plot being drawn: the cell
// line width times the plot's size ratio, rounded, at least 1. The plot sets
// it before the model is drawn.
extern int16_t gIUnitCellLineWidth;

// Draws the pieces joining cell point i to each of its linked points that
// lies no higher, in the unit-cell colour depth-shaded at the point's depth,
// then the point's corner label when it has one. The depth is the point's
// when depth fading is on and either the frame is depth-sorted or the cell
// is not shown; otherwise the front. Opaque pieces of pixel plots are
// anti-aliased lines (plain one-pixel lines in a fast frame), a line w
// pixels wide being w such lines side by side; translucent pieces and
// picture plots are pen lines, blended when translucent.
void PlotCellFrameSegment(CrystalRec *crystal, uint32_t i);

// ---- The axes glyph --------------------------------------------------------------

// Side of the glyph square and length of each arrow, in pixels at size ratio 1.
inline constexpr float kAxesSquareSide = 100.0f;
inline constexpr float kAxisArrowLength = 36.0f;
// Cone radius in pixels at size ratio 1, and the cone's length in radii.
inline constexpr float kAxisConeRadius = 4.0f;
inline constexpr float kAxisConeLengthFactor = 3.5f;
// Labels go this far along each arrow (in arrow lengths) and this many
// pixels (at size ratio 1) lower.
inline constexpr float kAxisLabelReach = 1.3f;
inline constexpr float kAxisLabelDrop = 4.0f;
// Pixels the glyph keeps from the plot's edges when it has to move in.
inline constexpr int32_t kAxesGlyphInset = 2;
// Label text size in points at size ratio 1, and the smallest.
inline constexpr float kAxisLabelSize = 12.0f;
inline constexpr int16_t kMinAxisLabelSize = 6;
// Axes option that labels the arrows x, y, z (any other value: a, b, c).
inline constexpr int8_t kAxesLabelledXYZ = 1;

// Draws the three-arrow glyph of the a, b and c directions in the square of
// side 100 r whose bottom-left corner is the plot rectangle's, r being the
// plot's size ratio: shafts from a common origin, a lit cone and a label on
// each, items drawn from the farthest to the nearest. A glyph whose labels
// or cones would cross the plot's edge moves inside. Perspective is off
// while it draws; the port's fore colour and text size are kept.
void DrawAxes(CrystalRec *crystal, const Rect &plotRect, float r);

// The glyph square of a plot rectangle: its bottom-left corner is the
// rectangle's and its side 100 r (truncated).
void GetAxesRect(const Rect &rect, float r, Rect &square);
