// Drawing the plot calls that is not written yet.
//
// The plot pipeline and the bond drawing call these routines at the places
// where the picture needs them, so that the call order is already right.
// Until the real routine lands, each one here draws nothing (and a measure
// answers as for a plot that shows nothing of that kind). Each entry says
// what is missing; delete it when the real routine arrives.
#pragma once

#include "RGBColor.h"
#include "StructureRecord.h"

#include <cstdint>

// ---- Polyhedra -------------------------------------------------------------------------

// Missing: an atom's coordination polyhedron by its site's mode, its wire
// frame (with or without the central atom) and its ball-and-stick form.
// Nothing is drawn.
void MakePoly(CrystalRec *crystal, uint32_t atom, float depth);
void MakePolyWireFrame(CrystalRec *crystal, uint32_t atom, float depth, int16_t withAtom);
void MakePolyBallAndStick(CrystalRec *crystal, uint32_t atom, float depth);

// ---- Thermal ellipsoids ----------------------------------------------------------------

// Missing: an atom's thermal ellipsoid. Nothing is drawn.
void PlotEllipsoid(CrystalRec *crystal, uint32_t atom, float depth);
// Missing: the radius of an atom's ellipsoid along a view direction; until
// it lands every ellipsoid counts as having radius 0, so bonds run to the
// atom centres.
float GetEllipsoidRadiusForAtom(CrystalRec *crystal, uint32_t atom, const float direction[3]);

// ---- Lattice plane ---------------------------------------------------------------------

// Missing: the shown lattice plane, filled, with its edges, between the
// atoms behind it and those in front. Nothing is drawn.
void PlotLatticePlane(CrystalRec *crystal, const Rect &plotRect);

// ---- Annotation objects ------------------------------------------------------------------

// Missing: one annotation object (text box, line or arrow, scale bar) at
// its fractions of the rectangle, sizes times the ratio; the structure
// window draws these. Nothing is drawn.
void DrawAnnotationObject(CrystalRec *crystal, const Rect &rect, float ratio, int16_t destination, int32_t index);
