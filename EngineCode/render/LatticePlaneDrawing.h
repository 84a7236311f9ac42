// Drawing the lattice plane: the translucent polygon where the plane cuts
// the box of the plotted atoms, drawn between the atoms behind it and those
// in front of it; its outline in a window; and the perpendicular from a
// point to the plane, labelled with its length.
//
// Main thread only.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

// The plane's polygon filled in the plane colour, blended by its opacity
// (1 - transparency), and its edges in the plane colour, one pixel wide,
// into the current port, for a plot of the rectangle's size. Each polygon
// point's view coordinates and pixel position are brought up to date. The
// plot draws it between the depth-sort entries behind the plane and those
// in front of it (GetSortAboveOrBelowPlane).
void PlotLatticePlane(CrystalRec *crystal, const Rect &plotRect);

// The outline alone, in the grey pen pattern, into the window's own port
// (window coordinates, the graph pane's corner added).
void PlotLatticePlaneOutline(WindowRef window);

// The perpendicular from the view point p to the plane as a highlight line
// in the window, labelled with its length (text size 11).
void Line2Plane(WindowRef window, const float p[3]);
