// Vectors: arrows drawn from atoms (magnetic moments, displacements).
//
// A vector's components are fractional, so its arrow runs from the atom's
// centre to the atom's fractional position plus the components: a cylinder
// shaft in the structure's default bond style and a lit cone at the tip. A
// vector of style 2 also has a tail, the shaft continued through the atom on
// the other side.
//
// Atoms are drawn back to front, so every arrow is split around its atom:
// the model walk calls `DrawVectorBelowAtom` just before drawing an atom
// that carries a vector and `DrawVectorAboveAtom` just after. Each draws,
// for every vector of the atom, the arrow or the tail, whichever lies on its
// side: an arrow pointing away from the viewer goes before its atom and its
// tail after; one pointing towards the viewer (or level) after, its tail
// before.
//
// Everything draws into the current port with the plot's width and height
// (gHPixels, gVPixels), `gUseFastRotn` and `gPlotMethod`. Main thread only.
#pragma once

#include "RGBColor.h"
#include "StructureRecord.h"
#include "render/BondDrawing.h" // kMinConeRim, kMaxConeRim

#include <cstdint>

// Shaft radius of a vector on an atom without an atom image, as a fraction
// of the structure's bond radius.
inline constexpr float kBareVectorShaftFactor = 0.1f;
// Below this drawn radius (Angstrom) an atom counts as having no image.
inline constexpr float kBareAtomRadius = 0.1f;
// The head radius is this many shaft radii; the head is twice as long.
inline constexpr float kVectorHeadFactor = 3.0f;
inline constexpr float kVectorHeadLengthFactor = 2.0f;
// The tail stops this many shaft radii short of the mirrored tip.
inline constexpr float kVectorTailShortening = 3.0f;
// Vector style with a tail.
inline constexpr uint8_t kVectorStyleWithTail = 2;

// Draws, for every vector of the atom in array order, its arrow when the tip
// lies lower than the atom, else its tail. Clears the atom's has-vector flag
// when no vector names it.
void DrawVectorBelowAtom(CrystalRec *crystal, uint32_t atom);
// Draws, for every vector of the atom, its arrow when the tip lies level
// with or above the atom, else its tail. Clears the flag likewise.
void DrawVectorAboveAtom(CrystalRec *crystal, uint32_t atom);

// The arrow of one vector: stores its tip (fractional, view, pixels) and
// head radius, then draws the shaft and the lit cone in depth order.
// Perspective plots go to `DrawPerspectiveVector`. Nothing for a vector of
// zero length.
void DrawVector(CrystalRec *crystal, uint32_t vector);
// The same arrow with its points carried into perspective space.
void DrawPerspectiveVector(CrystalRec *crystal, uint32_t vector);
// The tail of one vector of style 2: a cylinder from the atom towards the
// mirrored tip, stopping three shaft radii short of it. Nothing otherwise.
void DrawVectorTail(CrystalRec *crystal, uint32_t vector);

// How a selected cone is marked: a vector's head in an even mix of the mark
// colour and its own; an axis arrow's cone wholly in the mark colour.
enum class ConeSelection { kNone, kStippled, kSolid };

// The cone of an arrow head: apex and base centre in view coordinates (or in
// perspective space with `warped`, projected without perspective), `n` rim
// points on the circle of `radius` about the base perpendicular to the axis,
// the first at +radius across the axis in the view plane. Side faces seen
// from outside are painted in the colour lit by the bond lighting and
// depth-shaded at t; the base disc too when it faces the viewer.
void DrawConeHead(const CrystalRec &crystal, const float apex[3], const float base[3], float radius, int32_t n,
                  RGBColor colour, float t, ConeSelection selection, bool warped);

// The selection-mark colour on a colour: red on yellowish colours, yellow
// otherwise.
RGBColor SelectionMarkColor(const RGBColor &colour);
