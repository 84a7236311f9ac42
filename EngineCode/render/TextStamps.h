// Outlined text laid into a port's pixels from kept stamps.
//
// A painter strokes a glyph's outline from the font each time it shows it,
// which costs far more than the few pixels it covers: a model that labels
// thousands of atoms with the same letters would spend its frame there.
// A stamp is the cover of one text stroked once in the painter's own way
// (font, size, line width, anti-aliasing) at one of a few sub-pixel
// phases; it is then laid in any colour and opacity wherever that text
// goes, within a 32nd of a pixel of where the painter would put it.
//
// Coordinates are the painter's in the port's own y-down frame: the text's
// baseline starts at (x, y). Main thread only.
#pragma once

#include "graphics/PixelBuffer.h"

#include <string_view>

// Lays `text` stroked (as PainterTextMode::kStroke) in `family` at `size`
// with lines `lineWidth` wide into 32-bit pixels, in `colour` (0 to 1) at
// `opacity`; nothing on other depths or for an empty text.
void StampStrokedText(ovgfx::PixelBuffer *pixels, float x, float y, std::string_view text, std::string_view family,
                      float size, float lineWidth, bool smooth, const float colour[3], float opacity);
