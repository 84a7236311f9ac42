#include "explorers/DistanceHistogram.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>

#include <cmath>
#include <cstdio>

namespace {

// Painting in y-up coordinates of the histogram's layout over a y-down painter,
// with an optional drop shadow under everything filled or written.
class GraphPainter {
public:
  GraphPainter(QPainter &p, const QRectF &rect) : p_(p), rect_(rect) {
    QFont font("DejaVu Sans");
    font.setPixelSize(10);
    p_.setFont(font);
    metrics_ = std::make_unique<QFontMetricsF>(font, p_.device());
  }
  double Y(double y) const { return rect_.bottom() - y; }
  QRectF Box(double x, double y, double w, double h) const { return QRectF(x, Y(y + h), w, h); }
  void SetShadow(bool on) { shadow_ = on; }
  void Fill(const QRectF &r, const QColor &colour) {
    if (shadow_)
      p_.fillRect(r.translated(kShadowOffset, kShadowOffset), QColor(0, 0, 0, kShadowAlpha));
    p_.fillRect(r, colour);
  }
  double TextWidth(const QString &text) const { return metrics_->horizontalAdvance(text); }
  void Text(double x, double baseline, const QString &text, const QColor &colour) {
    p_.setRenderHint(QPainter::Antialiasing, true);
    p_.setRenderHint(QPainter::TextAntialiasing, true);
    if (shadow_) {
      p_.setPen(QColor(0, 0, 0, kShadowAlpha));
      p_.drawText(QPointF(x + kShadowOffset, Y(baseline) + kShadowOffset), text);
    }
    p_.setPen(colour);
    p_.drawText(QPointF(x, Y(baseline)), text);
  }
  void Line(double x1, double y1, double x2, double y2, const QColor &colour, double width = 1.0) {
    p_.setRenderHint(QPainter::Antialiasing, false);
    p_.setPen(QPen(colour, width));
    p_.drawLine(QPointF(x1, Y(y1)), QPointF(x2, Y(y2)));
  }
  QPainter &Raw() { return p_; }

private:
  static constexpr double kShadowOffset = 2.0;
  static constexpr int kShadowAlpha = 60;
  QPainter &p_;
  QRectF rect_;
  std::unique_ptr<QFontMetricsF> metrics_;
  bool shadow_ = false;
};

QColor Grey(double level, double alpha = 1.0) { return QColor::fromRgbF(float(level), float(level), float(level), float(alpha)); }

void LabelHistogramBin(GraphPainter &g, uint64_t count, double plotTop, double centreX, double barTop) {
  const QString text = QString::number(qulonglong(count));
  double baseline = barTop + 10.0;
  if (baseline > plotTop)
    baseline = plotTop - 10.0;
  g.Text(centreX - g.TextWidth(text) / 2.0, baseline, text, Grey(0.25));
}

} // namespace

QRectF DistanceGraphPlotRect(const QSizeF &size) {
  return QRectF(kGraphLeftMargin, kGraphOuterMargin - kGraphLeftMargin, size.width() - kGraphOuterMargin,
                size.height() - kGraphOuterMargin);
}

void DrawDistanceSearchGraph(QPainter &painter, const DistanceSearch *search, const QRectF &rect) {
  if (!search)
    return;
  painter.save();
  GraphPainter g(painter, rect);
  const DistanceSearch &d = *search;
  // The plot area in y-up coordinates: its "bottom()" below is its top.
  const double x0 = rect.left(), y0 = 0.0;
  const double plotX = x0 + kGraphLeftMargin, plotY = y0 + kGraphLeftMargin;
  const double plotW = rect.width() - kGraphOuterMargin, plotH = rect.height() - kGraphOuterMargin;
  g.SetShadow(d.dropShadow);
  g.Fill(g.Box(plotX, plotY, plotW, plotH), Qt::white);

  // Axis titles.
  const QString xTitle = QString::fromUtf8("Distance [\u00c5]");
  g.Text(plotX + (plotW - g.TextWidth(xTitle)) / 2.0, (y0 + plotY) / 2.0 - 12.0, xTitle, Qt::black);
  QString yTitle = d.perUnitVolume ? "Number Per Unit Volume" : "Number of Distances";
  if (g.TextWidth(yTitle) > plotH)
    yTitle = "Number";
  if (g.TextWidth(yTitle) > plotH)
    yTitle = "N";
  {
    const double tx = (x0 + plotX) / 2.0 - 12.0, ty = plotY + (plotH - g.TextWidth(yTitle)) / 2.0;
    painter.save();
    painter.translate(tx, g.Y(ty));
    painter.rotate(-90.0);
    painter.setPen(Qt::black);
    painter.drawText(QPointF(0, 0), yTitle);
    painter.restore();
  }

  // X axis.
  for (const XAxisTick &tick : ComputeXTicks(d.minDistance, d.maxDistance, plotW)) {
    const double x = plotX + tick.x;
    if (d.showGrid)
      g.Line(x, plotY, x, plotY + plotH, QColor::fromRgbF(0, 0, 1, tick.major && tick.labelled ? 0.25f : 0.1f));
    if (tick.labelled) {
      g.Line(x, plotY, x, plotY - 3, Grey(0.5));
      const QString text = QString::fromStdString(tick.text);
      g.Text(x - g.TextWidth(text) / 2.0, plotY - 14.0, text, Qt::black);
    }
  }

  // Totals and heights per bin.
  std::vector<uint64_t> totals(d.binCount);
  double ymax = 0.0;
  bool any = false;
  for (uint32_t b = 0; b < d.binCount; b++) {
    totals[b] = DistanceBinTotal(d, b);
    if (totals[b]) {
      any = true;
      ymax = std::max(ymax, DistanceBinValue(d, b, double(totals[b])));
    }
  }
  if (d.binCount == 0 || !any) {
    painter.restore();
    return;
  }

  // Y axis.
  const YAxisScale y = ComputeYAxis(ymax, plotH);
  char format[16];
  std::snprintf(format, sizeof format, "%%.%df", y.decimals);
  double sinceMajor = 0.0;
  for (int i = 1; i <= y.count; i++) {
    const double value = i * y.step;
    const double yy = plotY + value * plotH / y.top;
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    const QString label(text);
    g.Text(plotX - 6.0 - g.TextWidth(label), yy - 3.3, label, Qt::black);
    g.Line(plotX, yy, plotX - 3, yy, Grey(0.5));
    if (d.showGrid && y.count > 1) {
      sinceMajor += y.step;
      const bool major = std::fabs(sinceMajor - y.major) < 1e-9 * std::max(1.0, y.major);
      if (major)
        sinceMajor = 0.0;
      g.Line(plotX, yy, plotX + plotW, yy, QColor::fromRgbF(0, 0, 1, major ? 0.25f : 0.1f));
    }
  }

  // Frame, without the shadow.
  g.SetShadow(false);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(QPen(Grey(0.5), 1.0));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(g.Box(plotX, plotY, plotW, plotH));
  g.SetShadow(d.dropShadow);

  // Bars.
  const double range = double(d.maxDistance) - double(d.minDistance);
  if (d.haveResults && range != 0.0 && y.top != 0.0) {
    const double s = plotW / range;
    const double yscale = (plotH - 1.0) / y.top;
    auto barRect = [&](uint32_t b, double bottom, double height) {
      const double start = double(d.minDistance) + b * double(d.binWidth);
      double w = double(d.binWidth) * s;
      if (start + double(d.binWidth) > double(d.maxDistance))
        w = (double(d.maxDistance) - start) * s;
      return g.Box(plotX + (start - double(d.minDistance)) * s, plotY + 1.0 + bottom, w, height);
    };
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (d.dropShadow || !d.elementColours) {
      for (uint32_t b = 0; b < d.binCount; b++) {
        if (!totals[b])
          continue;
        const QRectF bar = barRect(b, 0.0, DistanceBinValue(d, b, double(totals[b])) * yscale);
        g.Fill(bar, d.elementColours ? QColor(Qt::white) : Grey(0.15));
        if (d.showBinLabels && !d.elementColours)
          LabelHistogramBin(g, totals[b], plotY + plotH, bar.center().x(), g.Y(bar.top()));
      }
    }
    if (d.elementColours) {
      g.SetShadow(false);
      for (uint32_t b = 0; b < d.binCount; b++) {
        double stacked = 0.0;
        for (const DistanceToEntry &row : d.toEntries) {
          const uint32_t c = b < row.bins.size() ? row.bins[b] : 0;
          if (!c)
            continue;
          const double h = DistanceBinValue(d, b, double(c)) * yscale;
          g.Fill(barRect(b, stacked, h),
                 QColor::fromRgbF(row.colour[0], row.colour[1], row.colour[2], row.colour[3]));
          stacked += h;
        }
        if (!totals[b])
          continue;
        const QRectF bar = barRect(b, 0.0, stacked);
        if (bar.width() > 1.0) {
          painter.setPen(QPen(Grey(0.5), 0.5));
          painter.setBrush(Qt::NoBrush);
          painter.drawRect(bar);
        }
        if (d.showBinLabels) {
          g.SetShadow(d.dropShadow);
          LabelHistogramBin(g, totals[b], plotY + plotH, bar.center().x(), g.Y(bar.top()));
          g.SetShadow(false);
        }
      }
    }
  }
  painter.restore();
}

QByteArray DistanceHistogramPdf(const DistanceSearch *search, const QSize &box, const std::string *title) {
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(72);
    writer.setPageSize(QPageSize(QSizeF(box), QPageSize::Point, QString(), QPageSize::ExactMatch));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter;
    if (!painter.begin(&writer))
      return {};
    const QRectF page(0, 0, box.width(), box.height());
    painter.setClipRect(page);
    DrawDistanceSearchGraph(painter, search, page);
    painter.end();
  }
  return title ? AppendPdfInfo(bytes, *title, kHistogramProducer) : bytes;
}

namespace {

// A PDF text string: UTF-16BE with its byte-order mark, in hex.
QByteArray PdfTextString(const std::string &text) {
  const QString s = QString::fromStdString(text);
  QByteArray out = "<FEFF";
  for (QChar c : s)
    out += QByteArray::number(c.unicode(), 16).rightJustified(4, '0').toUpper();
  return out + ">";
}

} // namespace

QByteArray AppendPdfInfo(const QByteArray &pdf, const std::string &title, const std::string &producer) {
  const qsizetype startxref = pdf.lastIndexOf("startxref");
  const qsizetype trailer = pdf.lastIndexOf("trailer");
  if (startxref < 0 || trailer < 0 || trailer > startxref)
    return pdf;
  const QString tail = QString::fromLatin1(pdf.mid(trailer, startxref - trailer));
  const QRegularExpressionMatch size = QRegularExpression(R"(/Size\s+(\d+))").match(tail);
  const QRegularExpressionMatch root = QRegularExpression(R"(/Root\s+(\d+\s+\d+\s+R))").match(tail);
  const QRegularExpressionMatch prev =
      QRegularExpression(R"(startxref\s+(\d+))").match(QString::fromLatin1(pdf.mid(startxref)));
  if (!size.hasMatch() || !root.hasMatch() || !prev.hasMatch())
    return pdf;
  const int object = size.captured(1).toInt();
  QByteArray out = pdf;
  if (!out.endsWith('\n'))
    out += '\n';
  const qsizetype offset = out.size();
  out += QByteArray::number(object) + " 0 obj\n<< /Title " + PdfTextString(title) + " /Producer " +
         PdfTextString(producer) + " >>\nendobj\n";
  const qsizetype xref = out.size();
  char entry[32];
  std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", static_cast<long long>(offset));
  out += "xref\n" + QByteArray::number(object) + " 1\n" + entry;
  out += "trailer\n<< /Size " + QByteArray::number(object + 1) + " /Root " + root.captured(1).toLatin1() +
         " /Info " + QByteArray::number(object) + " 0 R /Prev " + prev.captured(1).toLatin1() + " >>\n";
  out += "startxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
  return out;
}
