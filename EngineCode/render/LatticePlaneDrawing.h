// Drawing the lattice plane: the translucent polygon where the plane cuts
// the box of the plotted atoms, drawn between the atoms behind it and those
// in front of it; its outline in a window; and the perpendicular from a
// point to the plane, labelled with its length.
//
// Main thread only.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <functional>

// The plane's polygon filled in the plane colour, blended by its opacity
// (1 - transparency), and its edges in the plane colour, one pixel wide,
// into the current port; topLeft and bottomRight are the corners of the
// plot rectangle. Each polygon point's view coordinates and pixel position
// are brought up to date.
void PlotLatticePlane(CrystalRec *crystal, Point topLeft, Point bottomRight);

// The model drawn around the plane: with the plane shown, `drawModel` runs
// once over the depth-sort entries behind the plane, the plane is drawn,
// and `drawModel` runs again over the entries in front of it; the full
// index is restored afterwards. Without the plane `drawModel` runs once
// over the whole index.
void PlotModelAroundLatticePlane(CrystalRec *crystal, const Rect &plotRect, const std::function<void()> &drawModel);

// The outline alone, in the grey pen pattern, into the window's own port
// (window coordinates, the graph pane's corner added).
void PlotLatticePlaneOutline(WindowRef window);

// The perpendicular from the view point p to the plane as a highlight line
// in the window, labelled with its length (text size 11).
void Line2Plane(WindowRef window, const float p[3]);
