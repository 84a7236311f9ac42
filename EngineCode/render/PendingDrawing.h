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

// ---- Annotation objects ------------------------------------------------------------------

// Missing: one annotation object (text box, line or arrow, scale bar) at
// its fractions of the rectangle, sizes times the ratio; the structure
// window draws these. Nothing is drawn.
void DrawAnnotationObject(CrystalRec *crystal, const Rect &rect, float ratio, int16_t destination, int32_t index);
