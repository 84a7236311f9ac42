// The Log's text: one styled document for the whole run.
//
// The store is made at start-up, before anything can report, and the host's
// Log writers (`FWrite` & co.) append to it from then on, so nothing written
// before a window shows the Log is lost. Windows that show the Log (the
// plain Log window now, the Overview window's Log tab later) display this
// same document.
//
// Lines arrive as 8-bit text with a carriage return after each; each
// carriage return starts a new paragraph. Text is read as UTF-8 and falls
// back to Mac Roman for bytes that are not valid UTF-8.
#pragma once

#include "RGBColor.h"

#include <QObject>
#include <QString>
#include <functional>
#include <string_view>

class QTextDocument;
class QTextCharFormat;

class LogStore : public QObject {
  Q_OBJECT
public:
  explicit LogStore(QObject *parent = nullptr);
  ~LogStore() override;

  QTextDocument *Document() const { return document_; }
  // The writer the host's Log sink calls: the text in the default style,
  // its first `colouredBytes` bytes in `colour`.
  void Append(std::string_view text, const RGBColor &colour, size_t colouredBytes);
  // The whole text, with a carriage return ending each line.
  QString PlainText() const;
  // Length in characters, carriage returns included.
  int Length() const;
  // Restyles the whole text in a font and size; colours stay.
  void SetDefaultFont(const QString &family, double pointSize);
  // Puts the insertion point at the start for the windows that show it.
  void ScrollToTop();

signals:
  void Appended();
  void ScrollToTopRequested();

private:
  QTextCharFormat DefaultFormat() const;
  QTextDocument *document_;
};

// The program's store; null before start-up made it.
LogStore *GetLogStore();
void SetLogStore(LogStore *store);

// The Log operations by the names callers use.
//
// Shows the first line of the Log.
void ScrollToTopOfLog();
// Asks for a font and a size and restyles the whole Log; the preferences
// keep the choice. Cancelling changes nothing.
void DoOverviewLogTextStyle();
