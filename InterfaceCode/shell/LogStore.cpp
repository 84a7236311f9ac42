#include "LogStore.h"

#include "Preferences.h"
#include "shell/ShellDialogs.h"

#include <QFont>
#include <QStringDecoder>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace {

LogStore *gLogStore = nullptr;

QString DecodeText(std::string_view bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
  if (!utf8.hasError())
    return text;
  // Not UTF-8: the older 8-bit encoding of the program's files.
  QStringDecoder roman("macintosh");
  if (roman.isValid())
    return roman.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
  return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

QColor ToQColor(const RGBColor &c) { return QColor::fromRgb(c.red >> 8, c.green >> 8, c.blue >> 8); }

} // namespace

LogStore::LogStore(QObject *parent) : QObject(parent), document_(new QTextDocument(this)) {
  document_->setUndoRedoEnabled(false);
  document_->setDocumentMargin(8);
  document_->setDefaultFont(DefaultFormat().font());
}

LogStore::~LogStore() {
  if (gLogStore == this)
    gLogStore = nullptr;
}

QTextCharFormat LogStore::DefaultFormat() const {
  QTextCharFormat format;
  QFont font(QString::fromUtf8(gPrefs.logFontName.view().data(), qsizetype(gPrefs.logFontName.len)));
  font.setStyleHint(QFont::TypeWriter);
  font.setPointSizeF(gPrefs.logFontSize > 0 ? gPrefs.logFontSize : 10);
  format.setFont(font);
  format.setForeground(ToQColor(kRGBBlack));
  format.setVerticalAlignment(QTextCharFormat::AlignNormal);
  return format;
}

void LogStore::Append(std::string_view text, const RGBColor &colour, size_t colouredBytes) {
  colouredBytes = std::min(colouredBytes, text.size());
  QTextCursor cursor(document_);
  cursor.movePosition(QTextCursor::End);
  const QTextCharFormat plain = DefaultFormat();
  auto insert = [&](std::string_view part, const QTextCharFormat &format) {
    // Each carriage return ends a paragraph; the document's own paragraph
    // separators stand for them.
    size_t start = 0;
    while (start <= part.size()) {
      size_t cr = part.find('\r', start);
      std::string_view piece = part.substr(start, cr == std::string_view::npos ? std::string_view::npos : cr - start);
      if (!piece.empty())
        cursor.insertText(DecodeText(piece), format);
      if (cr == std::string_view::npos)
        break;
      cursor.insertBlock(QTextBlockFormat(), plain);
      start = cr + 1;
    }
  };
  if (colouredBytes > 0) {
    QTextCharFormat coloured = plain;
    coloured.setForeground(ToQColor(colour));
    insert(text.substr(0, colouredBytes), coloured);
  }
  insert(text.substr(colouredBytes), plain);
  emit Appended();
}

QString LogStore::PlainText() const {
  QString text = document_->toPlainText();
  text.replace(QChar('\n'), QChar('\r'));
  return text;
}

int LogStore::Length() const { return document_->characterCount() - 1; }

void LogStore::SetDefaultFont(const QString &family, double pointSize) {
  QTextCursor cursor(document_);
  cursor.select(QTextCursor::Document);
  QTextCharFormat format;
  format.setFontFamilies({family});
  format.setFontPointSize(pointSize);
  format.setFontWeight(QFont::Normal);
  format.setFontItalic(false);
  format.setFontUnderline(false);
  format.setVerticalAlignment(QTextCharFormat::AlignNormal);
  cursor.mergeCharFormat(format); // colours are kept
  QFont font = document_->defaultFont();
  font.setFamily(family);
  font.setPointSizeF(pointSize);
  document_->setDefaultFont(font);
}

void LogStore::ScrollToTop() { emit ScrollToTopRequested(); }

LogStore *GetLogStore() { return gLogStore; }
void SetLogStore(LogStore *store) { gLogStore = store; }

void ScrollToTopOfLog() {
  if (gLogStore)
    gLogStore->ScrollToTop();
}

void DoOverviewLogTextStyle() {
  std::string family(gPrefs.logFontName.view());
  int size = gPrefs.logFontSize;
  if (!GetShellDialogs().GetWindowOptions(family, size) || !gLogStore)
    return;
  gPrefs.logFontName = MakeStr255(family);
  gPrefs.logFontSize = static_cast<uint16_t>(size);
  gLogStore->SetDefaultFont(QString::fromStdString(family), size);
}
