// The Distance Explorer's histogram: one drawing for the graph view, a
// picture, a PDF file and the clipboard.
#pragma once

#include "explorers/DistanceSearch.h"

#include <QByteArray>
#include <QRectF>
#include <QSize>

#include <filesystem>
#include <string>

class QPainter;

// Fixed margins of the plot area inside the drawing (pixels).
inline constexpr double kGraphLeftMargin = 50.0;
inline constexpr double kGraphOuterMargin = 58.0;
inline constexpr const char *kHistogramProducer = "Orvalisphere for Linux";

// Draws the record's histogram into the rectangle of a painter whose y axis
// points down; nothing without a record.
void DrawDistanceSearchGraph(QPainter &painter, const DistanceSearch *search, const QRectF &rect);
// The plot area of a drawing of that size, in y-down coordinates.
QRectF DistanceGraphPlotRect(const QSizeF &size);

// The histogram as a one-page PDF of the size (points). With a title the
// document information carries it and the program as producer.
QByteArray DistanceHistogramPdf(const DistanceSearch *search, const QSize &box, const std::string *title);
// Appends an incremental update to a PDF whose trailer names a new document
// information dictionary; the bytes unchanged when the trailer cannot be read.
QByteArray AppendPdfInfo(const QByteArray &pdf, const std::string &title, const std::string &producer);
