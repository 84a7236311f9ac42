#include "QtBridge.h"

#include "GraphicsPort.h"

#include <QHash>
#include <QRawFont>
#include <QString>

#include <array>
#include <cmath>

namespace ovgfx {

namespace {

// Dots per metre of 72 dots per inch (72 / 0.0254, rounded).
constexpr int kDotsPerMetreAt72 = 2835;

struct FamilyReplacement {
  const char *asked;
  const char *used;
};

// Families that documents and settings name but a Linux desktop rarely has,
// and the families drawn in their place.
constexpr std::array<FamilyReplacement, 12> kFamilyReplacements{{
    {"Lucida Grande", "DejaVu Sans"},
    {"Geneva", "DejaVu Sans"},
    {"Helvetica", "DejaVu Sans"},
    {"Helvetica Neue", "DejaVu Sans"},
    {"Verdana", "DejaVu Sans"},
    {"Arial", "DejaVu Sans"},
    {"Monaco", "DejaVu Sans Mono"},
    {"Courier", "DejaVu Sans Mono"},
    {"Courier New", "DejaVu Sans Mono"},
    {"Menlo", "DejaVu Sans Mono"},
    {"Times", "DejaVu Serif"},
    {"Times New Roman", "DejaVu Serif"},
}};

} // namespace

QImage ImageView(PixelBuffer &pixels) {
  if (pixels.Depth() != 32)
    return QImage();
  QImage image(pixels.BaseAddr(), pixels.Width(), pixels.Height(), qsizetype(pixels.RowBytes()), QImage::Format_RGB32);
  image.setDotsPerMeterX(kDotsPerMetreAt72);
  image.setDotsPerMeterY(kDotsPerMetreAt72);
  return image;
}

QFont MakeFont(std::string_view family, double size, int face) {
  QString name = QString::fromUtf8(family.data(), qsizetype(family.size()));
  for (const FamilyReplacement &r : kFamilyReplacements) {
    if (name.compare(QLatin1String(r.asked), Qt::CaseInsensitive) == 0) {
      name = QLatin1String(r.used);
      break;
    }
  }
  if (name.isEmpty())
    name = QStringLiteral("DejaVu Sans");
  QFont font(name);
  font.setPointSizeF(size > 0 ? size : 1.0);
  font.setBold((face & kFaceBold) != 0);
  font.setItalic((face & kFaceItalic) != 0);
  font.setUnderline((face & kFaceUnderline) != 0);
  font.setKerning(true);
  // Qt shares one font engine between requests of the same pixel size, and a
  // screen font asked for later reports the point size of whichever request
  // made the engine. Ours are points at 72 dpi, so a 12-point label would make
  // a 9-point screen font (12 px at 96 dpi) claim 12 points, and styles that
  // paint menu items at the reported size then draw them larger than they
  // were measured. This strategy, which changes nothing for outline fonts,
  // keeps our engines apart from the screen's.
  font.setStyleStrategy(QFont::PreferMatch);
  return font;
}

QPaintDevice *MeasureDevice() {
  static QImage device = [] {
    QImage image(1, 1, QImage::Format_RGB32);
    image.setDotsPerMeterX(kDotsPerMetreAt72);
    image.setDotsPerMeterY(kDotsPerMetreAt72);
    return image;
  }();
  return &device;
}

namespace {

// The unhinted raw font of the last font asked for, and the outlines of its
// glyphs drawn so far: labels ask for the same few glyphs again and again.
struct OutlineFont {
  QFont font;
  QRawFont raw;
  QHash<quint32, QPainterPath> glyphs;
};

OutlineFont &OutlineFontFor(const QFont &font) {
  thread_local OutlineFont cached;
  if (cached.raw.isValid() && cached.font == font)
    return cached;
  // Unhinted: the hinted outlines the toolkit reads depend on what the font
  // was last used for. Our points are pixels (72 dots per inch).
  QFont unhinted = font;
  unhinted.setHintingPreference(QFont::PreferNoHinting);
  cached.font = font;
  cached.raw = QRawFont::fromFont(unhinted);
  if (cached.raw.isValid())
    cached.raw.setPixelSize(font.pointSizeF());
  cached.glyphs.clear();
  return cached;
}

} // namespace

bool AddTextOutline(const QFont &font, QPointF origin, const QString &text, QPainterPath *path) {
  OutlineFont &outlines = OutlineFontFor(font);
  if (!outlines.raw.isValid())
    return false;
  const QList<quint32> glyphs = outlines.raw.glyphIndexesForString(text);
  if (glyphs.contains(0u))
    return false;
  const QList<QPointF> advances = outlines.raw.advancesForGlyphIndexes(glyphs, QRawFont::UseDesignMetrics);
  QPointF pen = origin;
  for (qsizetype i = 0; i < glyphs.size(); ++i) {
    auto at = outlines.glyphs.find(glyphs[i]);
    if (at == outlines.glyphs.end())
      at = outlines.glyphs.insert(glyphs[i], outlines.raw.pathForGlyph(glyphs[i]));
    path->addPath(at->translated(pen));
    pen += advances.value(i);
  }
  return true;
}

} // namespace ovgfx
