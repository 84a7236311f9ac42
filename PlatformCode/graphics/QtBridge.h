// Qt views of our graphics types, for the graphics layer's own sources only:
// engine headers never include this file.
#pragma once

#include "PixelBuffer.h"

#include <QFont>
#include <QImage>
#include <QPainterPath>

#include <string_view>

namespace ovgfx {

// A QImage over the buffer's own memory (no copy); null for a 1-bit buffer.
// The image draws at 72 dots per inch, so one point is one pixel.
QImage ImageView(PixelBuffer &pixels);

// The font for a family name the program asks for. Common desktop families
// that documents name (see the table in the source) are replaced by the
// DejaVu families; any other name is passed on and the font system picks the
// closest it has. `size` is in points, one
// point a pixel; `face` holds the TextFaceBits.
QFont MakeFont(std::string_view family, double size, int face);

// A paint device at 72 dots per inch for measuring text without drawing.
QPaintDevice *MeasureDevice();

// The outlines of `text` in `font` (a size in points at 72 dots per inch)
// with its baseline starting at `origin`, added to `path`: each glyph's
// unhinted outline placed at the sum of the design advances before it. The
// toolkit's own text drawing reads hinted outlines, which came out a
// fraction of a pixel apart depending on what the font was used for before,
// so the same text in the same picture could differ from one export to the
// next; these outlines depend on nothing but the font and the text. False
// (and nothing added) when the font lacks a character, which the toolkit's
// layout then draws with a fallback font.
bool AddTextOutline(const QFont &font, QPointF origin, const QString &text, QPainterPath *path);

} // namespace ovgfx
