// Measuring and drawing text for the renderer and the windows.
#pragma once

#include "RGBColor.h"
#include "RenderServices.h"
#include "graphics/GraphicsTypes.h"
#include "graphics/Painter.h"

#include <cstdint>

// Width and height of the text in the font family at `size` points; 0 x 0
// when the font cannot be made (no family, or a size that is not positive).
namespace ovrender {
void CFStringGetSize(const char *text, const char *fontName, float size, float &width, float &height);
} // namespace ovrender

// The advance of the text in the painter's current font; the painter's
// state and text position are left as they were.
float CGContextGetStringWidth(ovgfx::Painter &painter, const char *text);

// Draws the text into the rectangle of the current port, broken at word
// boundaries and centred horizontally, in the family, size and colour given;
// style bits 1, 2 and 4 ask for bold, italic and underline.
void MyDrawATSUTextBox(const char *text, const char *fontFamily, float size, int16_t styleBits, RGBColor colour,
                       const Rect &rect);

// Draws the text in bold centred in the current port, turned counter-
// clockwise by `angle` degrees, at the largest whole point size whose turned
// box fits the port (found from a measure at 48 points). A non-zero shadow
// offset s first draws it in white s pixels higher and in black s pixels
// lower; the text in its colour comes last.
void MyDrawCentredRotatedText(const char *text, RGBColor colour, float angle, int16_t shadowOffset);
