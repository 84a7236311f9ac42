// Dashed and dotted lines: an anti-aliased pixel form and a pen form (which
// also serves 1-bit targets).
//
// Dash parameters: the style is 1 for dashes of colour 1 with empty gaps and
// 2 or more for gaps drawn in colour 2; the dash length L is the nominal
// period in pixels (the drawn period is fitted to the line's length); the
// fraction f (0 to 1) is the share of each period drawn in colour 1. A dash
// length below 1 draws nothing.
#pragma once

#include "RGBColor.h"

#include <cstdint>

// Dash length and period, in pixels, of the anti-aliased dashed line drawn
// last.
extern uint16_t gDashWidth;
extern uint16_t gDashRepeat;

// A dashed line with the current port's pen (size, mode and pattern); the
// fore colour is left at colour 1. Style below 2: the first dash starts at
// the first point and the last one ends on the second. Style 2 or more:
// whole periods cover the line.
void QDrawDashedLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, RGBColor colour1, RGBColor colour2, int16_t style,
                     int16_t dashLength, float fraction);

// An anti-aliased dashed line into the target of the raster primitives
// (GetCurrentPixGlobals); at depths below 16 the pen form draws it instead.
// The pattern starts with a dash at the first row or column inside the clip.
void MyDrawSmoothDashedLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, RGBColor colour1, RGBColor colour2,
                            int16_t style, int16_t dashLength, float fraction);
