// Qt views of our graphics types, for the graphics layer's own sources only:
// engine headers never include this file.
#pragma once

#include "PixelBuffer.h"

#include <QFont>
#include <QImage>

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

} // namespace ovgfx
