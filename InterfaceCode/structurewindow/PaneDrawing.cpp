#include "PaneDrawing.h"

#include "MainWindow.h"

#include "Preferences.h"
#include "StructureArrays.h"
#include "StructureRecord.h"
#include "graphics/QtBridge.h"
#include "render/Background.h"
#include "render/Highlights.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionHeader>
#include <QTextOption>
#include <QWidget>
#include <cmath>
#include <cstdio>

using ovgfx::GraphicsPort;

float gTickLabelInterval = 1.0f;
int16_t gNumMinorTicks = 1;

namespace {

// The banner keeps this far from the pane's edges and its text this far
// from the banner's edges (pixels).
constexpr qreal kSubtitleMargin = 4;
constexpr qreal kSubtitlePadX = 10;
constexpr qreal kSubtitlePadY = 5;

QColor ToQColor(const RGBColor &c) { return QColor::fromRgb(c.red >> 8, c.green >> 8, c.blue >> 8); }

MainWindow *OwnerOf(QWidget *control) {
  for (QWidget *w = control; w; w = w->parentWidget())
    if (auto *window = qobject_cast<MainWindow *>(w))
      return window;
  return nullptr;
}

Rect ToRect(const QRect &r) {
  return Rect{int16_t(r.top()), int16_t(r.left()), int16_t(r.top() + r.height()), int16_t(r.left() + r.width())};
}

// Walks the divisions outwards from the centre, as the last
// `InitRulerDivisions` set them: for each step its number within the label
// interval (the label interval's own step is `gNumMinorTicks`), its value in
// ruler units and its pixel offset, while `more(offset)` holds.
template <typename More, typename Step> void ForEachDivision(float pixelsPerUnit, More more, Step step) {
  const int m = gNumMinorTicks;
  const float unitsPerStep = gTickLabelInterval / float(m);
  float v = 0.0f;
  for (int i = 1;; i = i == m ? 1 : i + 1) {
    v += unitsPerStep;
    const int o = static_cast<int>(v * pixelsPerUnit);
    if (o <= 0 || !more(o))
      return;
    step(i, v, o);
  }
}

} // namespace

bool InitRulerDivisions(float w, float s) {
  if (w < 1.0f || !(s >= 0.01f))
    return false;
  const float u = kRulerLabelSpacing / s;
  int row = 0;
  if (u > gTickPresets[0].interval) {
    row = 15;
    for (int r = 1; r <= 15; r++)
      if (gTickPresets[r].interval >= u) {
        row = r;
        break;
      }
  }
  const TickPreset &preset = gTickPresets[row];
  gTickLabelInterval = preset.interval;
  const int labelPixels = static_cast<int>(s * preset.interval);
  int m = 1;
  for (float spacing : preset.minor) {
    if (spacing == 0.0f)
      break;
    const float d = preset.interval / spacing;
    if (d > float(m) && d < float(labelPixels / 8))
      m = static_cast<int>(d);
  }
  gNumMinorTicks = static_cast<int16_t>(m);
  return true;
}

float RulerPixelsPerUnit(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return 0.0f;
  if (crystal->rulerUnits != 1 && crystal->rulerUnits != 2)
    crystal->rulerUnits = 1;
  return crystal->plotScale * (crystal->rulerUnits == 2 ? 10.0f : 1.0f);
}

// ---- Graph pane ---------------------------------------------------------------------

void DrawGraphPane(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  if (!w || gQuittingTime)
    return;
  GraphicsPort *port = w->ScreenPort();
  OVImageHandle image = GetWindowOffScreen(window);
  ovgfx::PixelBuffer *pixels = OffScreenPixels(image);
  if (!pixels) {
    ClearScreen(window);
    w->Ruler()->update();
    return;
  }
  CrystalRec *crystal = GetWindowCrystal(window);
  if (crystal->stereoOn && crystal->stereoMode == kRedBlueStereo)
    if (ovgfx::PixelBuffer *composite = OffScreenPixels(GetWindowTransferBuffer(window)))
      pixels = composite;
  const QRect pane = w->GraphPane()->geometry();
  if (pane.width() == pixels->Width() && pane.height() == pixels->Height()) {
    RefreshScreen(window, nullptr);
    return;
  }
  if (!port)
    return;
  // A resize in progress: the old picture, scaled by the ratio of the
  // diagonals and centred, over the background until the replot.
  const Rect paneRect = ToRect(pane);
  {
    ovgfx::PortSaver current(port);
    DrawBackgroundIntoCurrentPort(crystal, paneRect);
  }
  const double ratio = std::hypot(pane.width(), pane.height()) / std::hypot(pixels->Width(), pixels->Height());
  const int dw = static_cast<int>(std::lround(pixels->Width() * ratio));
  const int dh = static_cast<int>(std::lround(pixels->Height() * ratio));
  const QRect to(pane.left() + static_cast<int>(std::lround((pane.width() - dw) / 2.0)),
                 pane.top() + static_cast<int>(std::lround((pane.height() - dh) / 2.0)), dw, dh);
  QImage screen = ovgfx::ImageView(*port->Pixels());
  QPainter painter(&screen);
  painter.setClipRect(pane);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(to, ovgfx::ImageView(*pixels));
  painter.end();
  w->ScreenChanged(paneRect);
}

void PaintHiliteOverlay(QPainter &painter, const std::vector<HiliteItem> &items, QPoint paneOrigin) {
  if (items.empty())
    return;
  auto colour = [](const HiliteRGBA &c) { return QColor::fromRgbF(c.r, c.g, c.b, c.a); };
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(-paneOrigin);
  for (const HiliteItem &item : items) {
    if (item.kind == HiliteItem::kText) {
      const QFont font = ovgfx::MakeFont(item.font, item.size, 0);
      const QString text = QString::fromStdString(item.text);
      const qreal width = QFontMetricsF(font, ovgfx::MeasureDevice()).horizontalAdvance(text);
      const qreal x0 = item.alignment == kAlignRight ? -width : item.alignment == kAlignCentre ? -width / 2 : 0;
      QPainterPath path;
      path.addText(QPointF(x0, -item.baselineOffset), font, text);
      painter.save();
      painter.translate(item.x, item.y);
      painter.rotate(item.angle * 180.0 / M_PI);
      painter.strokePath(path, QPen(colour(item.stroke), item.strokeWidth));
      painter.fillPath(path, colour(item.fill));
      painter.restore();
      continue;
    }
    QPolygonF polygon;
    for (size_t k = 0; k + 1 < item.points.size(); k += 2)
      polygon << QPointF(item.points[k], item.points[k + 1]);
    if (item.kind == HiliteItem::kFill) {
      QPainterPath path;
      path.addPolygon(polygon);
      path.closeSubpath();
      painter.fillPath(path, colour(item.colour));
      continue;
    }
    QPen pen(colour(item.colour), item.width);
    pen.setCapStyle(item.roundCapsAndJoins ? Qt::RoundCap : Qt::FlatCap);
    pen.setJoinStyle(item.roundCapsAndJoins ? Qt::RoundJoin : Qt::MiterJoin);
    if (!item.dashes.empty() && item.width > 0) {
      // Qt measures dashes in pen widths.
      QList<qreal> dashes;
      for (float d : item.dashes)
        dashes << d / item.width;
      pen.setDashPattern(dashes);
      pen.setDashOffset(item.dashPhase / item.width);
    }
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    if (item.closed)
      painter.drawPolygon(polygon);
    else
      painter.drawPolyline(polygon);
  }
  painter.restore();
}

void AutoDrawGraphPane(QWidget *control) {
  MainWindow *w = OwnerOf(control);
  if (!w || gOVPrinting)
    return;
  QPainter painter(control);
  GraphicsPort *port = w->ScreenPort();
  if (port) {
    const QRect pane = control->geometry();
    painter.drawImage(QPoint(0, 0), ovgfx::ImageView(*port->Pixels()), pane);
    PaintHiliteOverlay(painter, GetHiliteOverlay(w->Ref()), pane.topLeft());
  }
  if (!w->Subtitle().empty()) {
    // The banner: dark text in a white rounded box with a soft shadow.
    // A text wider than the pane wraps at words (inside a word where one
    // word is too long); lines beyond the pane's height end elided.
    const QString text = QString::fromStdString(w->Subtitle());
    QFont font = control->font();
    font.setPointSizeF(12);
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    const qreal maxWidth = std::max<qreal>(1, control->width() - 2 * (kSubtitleMargin + kSubtitlePadX));
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QRectF textRect = painter.boundingRect(QRectF(0, 0, maxWidth, 1e6), text, option);
    QString shown = text;
    const qreal maxHeight = std::max<qreal>(metrics.lineSpacing(), control->height() - 2 * (kSubtitleMargin + kSubtitlePadY));
    if (textRect.height() > maxHeight) {
      option.setWrapMode(QTextOption::NoWrap);
      shown = metrics.elidedText(text, Qt::ElideRight, maxWidth);
      textRect = painter.boundingRect(QRectF(0, 0, maxWidth, 1e6), shown, option);
    }
    textRect.setWidth(std::min(textRect.width(), maxWidth));
    QRectF boxF = textRect.adjusted(-kSubtitlePadX, -kSubtitlePadY, kSubtitlePadX, kSubtitlePadY);
    // Half its height above the pane's bottom, but never above the top.
    const qreal centreY = std::max(boxF.height() / 2 + kSubtitleMargin, control->height() - boxF.height());
    boxF.moveCenter(QPointF(control->width() / 2.0, centreY));
    const QRect box = boxF.toAlignedRect();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 60));
    painter.drawRoundedRect(box.translated(2, 2), 8, 8);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(box, 8, 8);
    painter.setPen(QColor(64, 64, 64));
    painter.drawText(QRectF(box).adjusted(kSubtitlePadX, kSubtitlePadY, -kSubtitlePadX, -kSubtitlePadY), shown, option);
  }
}

// ---- Ruler ---------------------------------------------------------------------

void WriteTickPosition(QPainter &painter, int x, int y, const char *text) {
  painter.setPen(ToQColor(kRulerTextColor));
  painter.drawText(QRect(x + 2, y, 78, 10), Qt::AlignLeft | Qt::AlignTop, QString::fromUtf8(text));
}

void DrawHorizontalRuler(WindowRef window, QPainter &painter) {
  MainWindow *w = GetMainWindow(window);
  if (!w || gQuittingTime)
    return;
  const int width = w->Ruler()->width(), height = w->Ruler()->height();
  if (width == 0 || height == 0)
    return;
  painter.fillRect(0, 0, width, height, ToQColor(kRulerBackColor));
  painter.setPen(ToQColor(kRulerTickColor));
  painter.drawLine(0, height - 1, width, height - 1);
  QFont mini = painter.font();
  mini.setPixelSize(9);
  painter.setFont(mini);
  const float p = RulerPixelsPerUnit(window);
  if (InitRulerDivisions(float(width), p)) {
    painter.setClipRect(0, 0, width, height);
    const int x0 = static_cast<int>(std::lround(width / 2.0));
    painter.setPen(ToQColor(kRulerTickColor));
    painter.drawLine(x0, 0, x0, height - 1);
    WriteTickPosition(painter, x0, -1, "0");
    const int m = gNumMinorTicks;
    ForEachDivision(
        p, [&](int o) { return x0 + o < width; },
        [&](int i, float v, int o) {
          auto tick = [&](int x) {
            painter.setPen(ToQColor(kRulerTickColor));
            if (i < m) {
              const double tall = (i == m / 2) ? 0.4 : 0.25;
              painter.drawLine(x, height - 1, x, height - 1 - static_cast<int>(tall * height));
            } else {
              painter.drawLine(x, 0, x, height - 1);
            }
          };
          tick(x0 + o);
          if (x0 > 0)
            tick(x0 - o);
          if (i == m) {
            char label[32];
            std::snprintf(label, sizeof label, gTickLabelInterval < 1.0f ? "%.1f" : "%.0f", double(v));
            WriteTickPosition(painter, x0 + o, -1, label);
            if (x0 > 0 && x0 - o >= kMinLeftLabelX)
              WriteTickPosition(painter, x0 - o, -1, label);
          }
        });
    painter.setClipping(false);
  }
  painter.fillRect(0, 0, 20, 8, ToQColor(kRulerBackColor));
  painter.setPen(ToQColor(kRulerTextColor));
  const CrystalRec *crystal = GetWindowCrystal(window);
  // One pixel lower than the tick labels, so that the ring of the Å shows.
  painter.drawText(QRect(4, 1, 196, 16), Qt::AlignLeft | Qt::AlignTop,
                   crystal && crystal->rulerUnits == 2 ? "nm" : "Å");
}

void AutoDrawHorizontalRuler(QWidget *control) {
  MainWindow *w = OwnerOf(control);
  if (!w)
    return;
  QPainter painter(control);
  DrawHorizontalRuler(w->Ref(), painter);
}

// ---- Grid -------------------------------------------------------------------------

void DrawGridIntoPort(WindowRef window, const Rect &rect) {
  GraphicsPort *port = ovgfx::CurrentPort();
  if (!port || !IsWindowFileOpen(window))
    return;
  const float p = RulerPixelsPerUnit(window);
  if (!InitRulerDivisions(float(rect.right - rect.left), p))
    return;
  const RGBColor savedFore = port->ForeColor();
  port->SetForeColor(gPrefs.gridColor);
  port->SetPenMode(ovgfx::kPenBlend);
  auto weight = [port](uint16_t w) { port->SetOpColor(RGBColor{w, w, w}); };
  const int cx = static_cast<int>(std::lround((rect.left + rect.right) / 2.0));
  const int cy = static_cast<int>(std::lround((rect.top + rect.bottom) / 2.0));
  weight(kGridMajorWeight);
  port->MoveTo(cx, rect.top);
  port->LineTo(cx, rect.bottom);
  port->MoveTo(rect.left, cy);
  port->LineTo(rect.right, cy);
  const int m = gNumMinorTicks;
  ForEachDivision(
      p, [&](int o) { return cx + o <= rect.right || cy + o <= rect.bottom; },
      [&](int i, float, int o) {
        weight(i == m ? kGridMajorWeight : kGridMinorWeight);
        if (cx + o < rect.right) {
          port->MoveTo(cx + o, rect.top);
          port->LineTo(cx + o, rect.bottom);
          port->MoveTo(cx - o, rect.top);
          port->LineTo(cx - o, rect.bottom);
        }
        if (cy + o < rect.bottom) {
          port->MoveTo(rect.left, cy + o);
          port->LineTo(rect.right, cy + o);
          port->MoveTo(rect.left, cy - o);
          port->LineTo(rect.right, cy - o);
        }
      });
  port->PenNormal();
  port->SetForeColor(savedFore);
}

// ---- Divider and notes header ---------------------------------------------------------

void AutoDrawVerticalDivider(QWidget *control) {
  QPainter painter(control);
  painter.fillRect(control->rect(), control->palette().window());
  painter.setPen(ToQColor(kRGBMdGrey));
  painter.drawLine(0, 0, 0, control->height());
}

void AutoDrawNoteHeaderPane(QWidget *control) {
  if (!control->isVisible())
    return;
  QPainter painter(control);
  QStyleOptionHeader option;
  option.initFrom(control);
  option.rect = control->rect().adjusted(0, -1, 0, 0);
  control->style()->drawControl(QStyle::CE_HeaderSection, &option, &painter, control);
  QFont small = painter.font();
  small.setPointSizeF(9);
  painter.setFont(small);
  painter.setPen(Qt::black);
  painter.drawText(control->rect().adjusted(0, 0, -15, 0), Qt::AlignCenter, "Notes");
}

// ---- Toggles -------------------------------------------------------------------------

void ToggleGrid(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return;
  crystal->showGrid = crystal->showGrid ? 0 : 1;
  if (IsWindowFileOpen(window)) {
    NewPlot(window, false, true);
    DrawGraphPane(window);
  } else {
    DrawGraphPane(window);
  }
}

void ToggleRulerUnits(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  MainWindow *w = GetMainWindow(window);
  if (!crystal || !w)
    return;
  SetWindowRulerUnits(window, crystal->rulerUnits == 1 ? 2 : 1);
  w->Ruler()->update();
  if (IsWindowFileOpen(window)) {
    NewPlot(window, false, false);
    DrawGraphPane(window);
  }
}
