// Text shaped once and kept: the one path by which the program measures and
// draws text. The toolkit's layout shapes it (bidirectional order, joining,
// ligatures, kerning, fallback fonts for missing characters) with the fonts'
// design metrics, and each glyph is the font's unhinted outline, so a text
// comes out the same whatever the font was used for before, and it is drawn
// exactly as wide as it is measured.
#pragma once

#include <QFont>
#include <QPainterPath>
#include <QString>

namespace ovgfx {

struct ShapedText {
  // The glyphs' outlines with the first line's baseline starting at (0, 0),
  // y growing downwards; underlines and strike-outs included.
  QPainterPath outline;
  double advance = 0; // pen advance of the widest line, in points (pixels at 72 dpi)
  double ascent = 0;  // the first line's ascent: from the top of the text to its baseline
  double height = 0;  // height of all lines, first line's top to last line's bottom
};

// `text` in `font` on one line. Kept per font and text (labels ask for the
// same few strings in every frame), so the reference stays valid until the
// next call on the same thread.
const ShapedText &ShapeText(const QFont &font, const QString &text);

// `text` broken into lines no wider than `width` at word boundaries (and at
// its own line breaks), each line placed within [0, width] by `alignment`
// (Qt::AlignLeft, AlignHCenter, AlignRight, or AlignJustify).
const ShapedText &ShapeTextBox(const QFont &font, const QString &text, double width, Qt::Alignment alignment);

} // namespace ovgfx
