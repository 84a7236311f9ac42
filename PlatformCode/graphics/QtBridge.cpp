#include "QtBridge.h"

#include "GraphicsPort.h"

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

} // namespace ovgfx
