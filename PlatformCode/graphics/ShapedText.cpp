#include "ShapedText.h"

#include "QtBridge.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QRawFont>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

namespace ovgfx {

namespace {

// Shaped texts kept per thread before the store starts again: a model's
// labels and the annotation objects of a plot use far fewer.
constexpr qsizetype kMaxShapedTexts = 4096;

struct ShapeKey {
  QString font, text;
  double width; // below 0 for one line
  int alignment;
  bool operator==(const ShapeKey &other) const {
    return width == other.width && alignment == other.alignment && text == other.text && font == other.font;
  }
};

size_t qHash(const ShapeKey &key, size_t seed = 0) {
  return qHashMulti(seed, key.font, key.text, key.width, key.alignment);
}

// The unhinted outline of one glyph of a raw font, kept: the same glyphs
// come back in every label.
const QPainterPath &GlyphOutline(const QRawFont &raw, quint32 glyph) {
  struct Key {
    QString family, style;
    double pixels;
    int weight;
    quint32 glyph;
    bool operator==(const Key &o) const {
      return glyph == o.glyph && pixels == o.pixels && weight == o.weight && family == o.family && style == o.style;
    }
  };
  struct KeyHash {
    size_t operator()(const Key &k) const { return qHashMulti(0, k.family, k.style, k.pixels, k.weight, k.glyph); }
  };
  thread_local std::unordered_map<Key, QPainterPath, KeyHash> outlines;
  Key key{raw.familyName(), raw.styleName(), raw.pixelSize(), raw.weight(), glyph};
  auto found = outlines.find(key);
  if (found != outlines.end())
    return found->second;
  if (outlines.size() >= size_t(kMaxShapedTexts) * 4)
    outlines.clear();
  return outlines.emplace(std::move(key), raw.pathForGlyph(glyph)).first->second;
}

ShapedText Shape(const QFont &font, const QString &text, double width, Qt::Alignment alignment) {
  ShapedText shaped;
  // Design metrics and no hinting: glyph places and outlines that depend on
  // nothing but the font and the text.
  QFont unhinted = font;
  unhinted.setHintingPreference(QFont::PreferNoHinting);
  QTextLayout layout(text, unhinted, MeasureDevice());
  QTextOption option(alignment);
  option.setUseDesignMetrics(true);
  option.setWrapMode(width < 0 ? QTextOption::NoWrap : QTextOption::WordWrap);
  layout.setTextOption(option);
  layout.setCacheEnabled(false);
  QString lines = text;
  lines.replace(QLatin1Char('\n'), QChar::LineSeparator);
  layout.setText(lines);
  layout.beginLayout();
  double y = 0, firstAscent = 0;
  bool first = true;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width < 0 ? std::numeric_limits<float>::max() / 4 : width);
    if (first) {
      firstAscent = line.ascent();
      first = false;
    }
    line.setPosition(QPointF(0, y));
    y += line.height();
    shaped.advance = std::max(shaped.advance, line.horizontalAdvance());
  }
  layout.endLayout();
  shaped.height = y;
  shaped.ascent = firstAscent;
  // Lines were placed with their tops at y; the outline's origin is the
  // first line's baseline.
  for (const QGlyphRun &run : layout.glyphRuns()) {
    const QRawFont raw = run.rawFont();
    const QList<quint32> glyphs = run.glyphIndexes();
    const QList<QPointF> places = run.positions();
    for (qsizetype i = 0; i < glyphs.size() && i < places.size(); ++i)
      shaped.outline.addPath(GlyphOutline(raw, glyphs[i]).translated(places[i].x(), places[i].y() - firstAscent));
    if (run.underline() || run.strikeOut() || run.overline()) {
      const QRectF box = run.boundingRect();
      const double thickness = std::max(raw.lineThickness(), 1.0);
      const double baseline = places.isEmpty() ? box.bottom() : places.first().y();
      auto rule = [&](double at) {
        shaped.outline.addRect(QRectF(box.left(), at - firstAscent, box.width(), thickness));
      };
      if (run.underline())
        rule(baseline + raw.underlinePosition());
      if (run.strikeOut())
        rule(baseline - raw.xHeight() / 2);
      if (run.overline())
        rule(baseline - raw.ascent());
    }
  }
  return shaped;
}

const ShapedText &Find(const QFont &font, const QString &text, double width, Qt::Alignment alignment) {
  thread_local QHash<ShapeKey, ShapedText> shaped;
  ShapeKey key{font.key(), text, width, int(alignment)};
  auto found = shaped.constFind(key);
  if (found != shaped.constEnd())
    return *found;
  if (shaped.size() >= kMaxShapedTexts)
    shaped.clear();
  return *shaped.insert(key, Shape(font, text, width, alignment));
}

} // namespace

const ShapedText &ShapeText(const QFont &font, const QString &text) { return Find(font, text, -1, Qt::AlignLeft); }

const ShapedText &ShapeTextBox(const QFont &font, const QString &text, double width, Qt::Alignment alignment) {
  return Find(font, text, std::max(width, 0.0), alignment);
}

} // namespace ovgfx
