#include "NotesPane.h"

#include "ContextMenus.h"
#include "MainWindow.h"
#include "StructureWindow.h"
#include "WindowInput.h"
#include "shell/Commands.h"
#include "shell/ShellDialogs.h"

#include "Alerts.h"
#include "Preferences.h"
#include "documents/CrystalDocument.h"
#include "render/OffScreen.h"
#include "window/MainWindowData.h"

#include "spelling/SpellChecker.h"

#include <QAction>
#include <QMouseEvent>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <algorithm>
#include <cmath>
#include <optional>

const RGBColor gMenuTextColor[9] = {{0, 0, 0},         {34952, 34952, 34952}, {65535, 0, 0},
                                    {65535, 39321, 0}, {65535, 65535, 0},     {0, 17476, 0},
                                    {0, 65535, 65535}, {0, 0, 65535},         {65535, 0, 65535}};

namespace {

constexpr float kNotesMargin = 4;
// Superscript raises by half the size, subscript lowers by a third; both
// shrink the text by three points, not below these sizes.
constexpr float kSuperscriptFactor = 0.5f;
constexpr float kSubscriptFactor = -0.33f;
constexpr float kBaselineSizeStep = 3;
constexpr float kMinShrinkSize = 9;
constexpr float kMinGrowSize = 6;
constexpr float kAssumedSize = 12;
// A selection of mixed sizes counts as this size for the check marks.
constexpr float kMixedSize = 9;
// The overbar sits this far up, in sizes of its text.
constexpr float kOverbarRaise = 0.6f;
// An em dash drawn over the character before it.
constexpr char16_t kOverbarCharacter = 0x2014;
// The tag of our saved form of the notes.
constexpr const char *kStyledNotesFormat = "orvalisphere-notes-1";

QColor ToQColor(const RGBColor &c) { return QColor::fromRgba64(c.red, c.green, c.blue); }
RGBColor ToRGB(const QColor &c) {
  const QRgba64 q = c.rgba64();
  return RGBColor{q.red(), q.green(), q.blue()};
}

QTextEdit *NotesOf(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  return w ? w->NotesView() : nullptr;
}

QString NotesFont(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? QString::fromUtf8(d->notesFontName.view().data(), int(d->notesFontName.len)) : QString();
}

float NotesSize(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->notesFontSize ? d->notesFontSize : kAssumedSize;
}

// Sets the style bits, the visible part of them included.
void SetFace(QTextCharFormat &f, int face) {
  f.setProperty(kFaceProperty, face);
  f.setFontWeight(face & kFaceBold ? QFont::Bold : QFont::Normal);
  f.setFontItalic(face & kFaceItalic);
  f.setFontUnderline(face & kFaceUnderline);
  f.setTextOutline(face & kFaceOutline ? QPen(Qt::black, 0.5) : QPen(Qt::NoPen));
  f.setFontStretch(face & kFaceCondense ? QFont::Condensed : face & kFaceExtend ? QFont::Expanded : QFont::Unstretched);
}

float SizeOf(const QTextCharFormat &f) { return f.fontPointSize() > 0 ? float(f.fontPointSize()) : kAssumedSize; }

// The notes' layout draws the shift (`NotesLayout`).
void SetCrossShift(QTextCharFormat &f, float shift) { f.setProperty(kCrossShiftProperty, double(shift)); }

void SetBeforeShift(QTextCharFormat &f, float shift) { f.setProperty(kBeforeShiftProperty, double(shift)); }

// The window's default attributes: its notes size and font, black, plain,
// no shifts.
QTextCharFormat DefaultFormat(WindowRef window) {
  QTextCharFormat f;
  f.setFontPointSize(NotesSize(window));
  const QString font = NotesFont(window);
  if (!font.isEmpty())
    f.setFontFamilies({font});
  f.setForeground(Qt::black);
  SetFace(f, 0);
  SetCrossShift(f, 0);
  SetBeforeShift(f, 0);
  return f;
}

// A value the whole selection shares; none when it is mixed.
template <typename Get> auto SelectionValue(QTextEdit *edit, Get get) -> std::optional<decltype(get(QTextCharFormat()))> {
  QTextCursor c = edit->textCursor();
  if (!c.hasSelection())
    return get(c.charFormat());
  std::optional<decltype(get(QTextCharFormat()))> value;
  QTextCursor probe(edit->document());
  for (int pos = c.selectionStart(); pos < c.selectionEnd(); ++pos) {
    probe.setPosition(pos + 1);
    auto v = get(probe.charFormat());
    if (value && *value != v)
      return std::nullopt;
    value = v;
  }
  return value;
}

int FaceOf(const QTextCharFormat &f) { return f.property(kFaceProperty).toInt(); }

// Width of the character at a position, in pixels of its own format.
qreal CharWidth(QTextDocument *doc, int pos) {
  if (pos < 0 || pos >= doc->characterCount() - 1)
    return -1;
  QTextCursor c(doc);
  c.setPosition(pos + 1);
  const QChar ch = doc->characterAt(pos);
  return QFontMetricsF(c.charFormat().font()).horizontalAdvance(ch);
}

void Changed(WindowRef window) { CheckNotebookModified(window); }

WindowRef FrontNotesWindow() {
  WindowRef w = FrontGraphWindow();
  return NotesOf(w) ? w : nullptr;
}

// Pixels per point on the screen the notes are laid out for.
qreal PixelsPerPoint() {
  const QScreen *screen = QGuiApplication::primaryScreen();
  return (screen ? screen->logicalDotsPerInchY() : 96.0) / 72.0;
}

// True for an overbar made by the Overbar command: the bar character raised
// and moved back over the character before it.
bool IsOverbar(QChar ch, double before, double cross) {
  return ch == QChar(kOverbarCharacter) && before < 0 && cross > 0;
}

// The words of a text the dictionary does not know, as [start, end) ranges;
// words with digits in them (formulas, labels) are left alone.
std::vector<std::pair<int, int>> MisspeltWords(const QString &text) {
  std::vector<std::pair<int, int>> out;
  QTextBoundaryFinder words(QTextBoundaryFinder::Word, text);
  for (int start = 0; start < text.size();) {
    const int end = int(words.toNextBoundary());
    if (end < 0)
      break;
    if (words.boundaryReasons() & QTextBoundaryFinder::EndOfItem) {
      const QString word = text.mid(start, end - start);
      const bool letters = std::any_of(word.begin(), word.end(), [](QChar ch) { return ch.isLetter(); });
      const bool digits = std::any_of(word.begin(), word.end(), [](QChar ch) { return ch.isDigit(); });
      if (letters && !digits && !IsWordSpeltRight(word.toStdString()))
        out.emplace_back(start, end);
    }
    start = end;
  }
  return out;
}

// What Qt's text layout has no attribute for, laid on the notes' layout
// (never on the stored text):
// - the horizontal shift before a character: the character before it gets
//   the shift as extra (usually negative) spacing, which moves the shifted
//   character and all that follows it on the line, as the kern wants; an
//   overbar takes no room of its own, so the text after it goes on where
//   its character ended;
// - the baseline shift, in points of the screen (Qt's own offset is a share
//   of the font's height);
// - misspelt words underlined, while spell checking as you type is on.
class NotesLayout : public QSyntaxHighlighter {
public:
  using QSyntaxHighlighter::QSyntaxHighlighter;
  bool SpellCheck() const { return spellCheck_; }
  void SetSpellCheck(bool on) {
    if (on == spellCheck_)
      return;
    spellCheck_ = on;
    rehighlight();
  }

protected:
  void highlightBlock(const QString &text) override {
    const QTextBlock block = currentBlock();
    const int n = int(text.size());
    std::vector<double> spacing(size_t(n), 0.0);
    std::vector<double> raise(size_t(n), 0.0);
    std::vector<bool> misspelt(size_t(n), false);
    bool any = false;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      const QTextCharFormat f = fragment.charFormat();
      const double before = f.property(kBeforeShiftProperty).toDouble();
      const double cross = f.property(kCrossShiftProperty).toDouble();
      if (before == 0 && cross == 0)
        continue;
      any = true;
      const QFontMetricsF metrics(f.font());
      // Qt raises by a share of the font's height.
      const double offset = cross * PixelsPerPoint() * 100.0 / (metrics.ascent() + metrics.descent());
      // Every character of the run carries the shifts.
      for (int i = 0; i < fragment.length(); ++i) {
        const int at = fragment.position() + i - block.position();
        if (at < 0 || at >= n)
          continue;
        raise[size_t(at)] = offset;
        if (before != 0 && at > 0) // the line's first character has none before it
          spacing[size_t(at - 1)] += before;
        if (IsOverbar(text[at], before, cross))
          spacing[size_t(at)] -= metrics.horizontalAdvance(text[at]) + before;
      }
    }
    if (spellCheck_)
      any |= MarkMisspelt(text, misspelt);
    if (!any)
      return;
    for (int at = 0; at < n;) {
      // Runs of characters that lay out alike.
      int end = at + 1;
      while (end < n && spacing[size_t(end)] == spacing[size_t(at)] && raise[size_t(end)] == raise[size_t(at)] &&
             misspelt[size_t(end)] == misspelt[size_t(at)])
        ++end;
      if (spacing[size_t(at)] != 0 || raise[size_t(at)] != 0 || misspelt[size_t(at)]) {
        QTextCharFormat layout = format(at);
        if (spacing[size_t(at)] != 0) {
          layout.setFontLetterSpacingType(QFont::AbsoluteSpacing);
          layout.setFontLetterSpacing(spacing[size_t(at)]);
        }
        if (raise[size_t(at)] != 0)
          layout.setBaselineOffset(raise[size_t(at)]);
        if (misspelt[size_t(at)]) {
          layout.setUnderlineStyle(QTextCharFormat::SpellCheckUnderline);
          layout.setUnderlineColor(Qt::red);
        }
        setFormat(at, end - at, layout);
      }
      at = end;
    }
  }

private:
  static bool MarkMisspelt(const QString &text, std::vector<bool> &misspelt) {
    const std::vector<std::pair<int, int>> words = MisspeltWords(text);
    for (auto [start, end] : words)
      std::fill(misspelt.begin() + start, misspelt.begin() + end, true);
    return !words.empty();
  }
  bool spellCheck_ = false;
};

NotesLayout *LayoutOf(QTextEdit *edit) { return edit ? edit->document()->findChild<NotesLayout *>() : nullptr; }

// The notes view's last click, in viewport pixels.
constexpr const char *kMenuPointProperty = "menuPoint";

// How far the shadow of the shadow style falls, right and down, in pixels.
constexpr qreal kShadowOffset = 2;
// The shadow is the text's colour at this share of its opacity.
constexpr float kShadowOpacity = 0.45f;

// Draws the shadows of the notes' shadowed text under the text, which the
// view then draws as usual.
class NotesViewFilter : public QObject {
public:
  // Lives on the view's viewport, which the view deletes last.
  explicit NotesViewFilter(QTextEdit *edit) : QObject(edit->viewport()), edit_(edit), viewport_(edit->viewport()) {}

protected:
  bool eventFilter(QObject *object, QEvent *event) override {
    if (object != viewport_)
      return false;
    if (event->type() == QEvent::Paint)
      PaintShadows(static_cast<QPaintEvent *>(event)->rect());
    else if (event->type() == QEvent::MouseButtonPress)
      // Where the contextual menu's spelling part looks for a word.
      edit_->setProperty(kMenuPointProperty, static_cast<QMouseEvent *>(event)->position().toPoint());
    return false;
  }

private:
  // `area`: the part of the viewport being painted.
  void PaintShadows(const QRect &area) {
    QTextDocument *doc = edit_->document();
    QPainter painter;
    const QPointF scroll(edit_->horizontalScrollBar()->value(), edit_->verticalScrollBar()->value());
    const QRectF shown = QRectF(area).translated(scroll).adjusted(-kShadowOffset, -kShadowOffset, 0, 0);
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
      if (!b.isVisible() || !b.layout()->boundingRect().translated(b.layout()->position()).intersects(shown))
        continue;
      const QPointF origin = b.layout()->position() - scroll;
      for (auto it = b.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const QTextCharFormat f = fragment.charFormat();
        if (!(FaceOf(f) & kFaceShadow))
          continue;
        if (!painter.isActive()) {
          painter.begin(edit_->viewport());
          painter.setRenderHint(QPainter::Antialiasing);
        }
        QColor shadow = f.foreground().color();
        shadow.setAlphaF(shadow.alphaF() * kShadowOpacity);
        painter.setPen(shadow);
        for (const QGlyphRun &run : fragment.glyphRuns())
          painter.drawGlyphRun(origin + QPointF(kShadowOffset, kShadowOffset), run);
      }
    }
  }
  QTextEdit *edit_;
  QWidget *viewport_;
};

} // namespace

QTextEdit *FrontNotes() { return NotesOf(FrontGraphWindow()); }

int InitNotesPane(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d)
    return -1;
  QTextEdit *edit = NotesOf(window);
  if (!edit)
    return -50;
  d->textObject = edit->document();
  if (!LayoutOf(edit)) {
    new NotesLayout(edit->document());
    edit->viewport()->installEventFilter(new NotesViewFilter(edit));
  }
  // Spell checking as you type starts as the preferences say.
  LayoutOf(edit)->SetSpellCheck(gPrefs.notesSpellCheck != 0);
  edit->document()->setDocumentMargin(kNotesMargin);
  edit->setAcceptRichText(false);
  QTextCursor all(edit->document());
  all.select(QTextCursor::Document);
  QTextCharFormat f;
  f.setFontPointSize(NotesSize(window));
  if (!NotesFont(window).isEmpty())
    f.setFontFamilies({NotesFont(window)});
  f.setForeground(Qt::black);
  all.mergeCharFormat(f);
  edit->setCurrentCharFormat(DefaultFormat(window));
  return 0;
}

void ApplyDefaultNotebookStyle(WindowRef window) {
  QTextEdit *edit = NotesOf(window);
  if (!edit)
    return;
  QTextCursor all(edit->document());
  all.select(QTextCursor::Document);
  all.setCharFormat(DefaultFormat(window));
  edit->setCurrentCharFormat(DefaultFormat(window));
}

void DoNotebookDefaultTextStyle() {
  WindowRef window = FrontNotesWindow();
  if (!window)
    return;
  std::string font(gPrefs.notesFontName.view());
  int size = gPrefs.notesFontSize;
  if (!GetShellDialogs().GetWindowOptions(font, size))
    return;
  gPrefs.notesFontName = MakeStr255(font);
  gPrefs.notesFontSize = static_cast<uint16_t>(std::clamp(size, 1, 255));
  if (MainWindowData *d = GetMainWindowData(window)) {
    d->notesFontName = gPrefs.notesFontName;
    d->notesFontSize = gPrefs.notesFontSize;
  }
  ApplyDefaultNotebookStyle(window);
}

void ClearWindowTextObject(WindowRef window) {
  ApplyDefaultNotebookStyle(window);
  if (QTextEdit *edit = NotesOf(window))
    edit->clear();
}

void CopyCharsToNotebook(WindowRef window, const char *bytes, size_t length) {
  QTextEdit *edit = NotesOf(window);
  if (!edit || !bytes)
    return;
  QTextCursor c(edit->document());
  c.movePosition(QTextCursor::End);
  c.insertText(QString::fromUtf8(bytes, qsizetype(length)), DefaultFormat(window));
  QTextCursor top(edit->document());
  edit->setTextCursor(top);
  edit->ensureCursorVisible();
}

void CopyTextToNotebook(WindowRef window, const char *cString) {
  if (cString)
    CopyCharsToNotebook(window, cString, std::strlen(cString));
}

// The whole text goes in, whatever its length or script.
void CopyCFStringToNotebook(WindowRef window, const std::string &text) {
  CopyCharsToNotebook(window, text.data(), text.size());
}

void DoTextInsertCString(const char *cString) {
  QTextEdit *edit = FrontNotes();
  if (!edit || !cString || !*cString)
    return;
  edit->textCursor().insertText(QString::fromUtf8(cString));
}

void CheckNotebookModified(WindowRef window) {
  if (GetMainWindow(window) && IsWindowFileOpen(window))
    NoteWindowNotesChange(window);
}

// ---- Saved form ---------------------------------------------------------------------

std::string NotesToStyledText(QTextEdit *edit) {
  QJsonArray runs, blocks;
  QTextDocument *doc = edit->document();
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
    QJsonObject block;
    block["align"] = int(b.blockFormat().alignment());
    blocks.append(block);
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextFragment frag = it.fragment();
      const QTextCharFormat f = frag.charFormat();
      const RGBColor colour = ToRGB(f.foreground().color());
      QJsonObject run;
      run["at"] = frag.position();
      run["length"] = frag.length();
      run["size"] = f.fontPointSize();
      run["font"] = f.fontFamilies().toStringList().value(0);
      run["colour"] = QJsonArray{colour.red, colour.green, colour.blue};
      run["face"] = FaceOf(f);
      run["cross"] = f.property(kCrossShiftProperty).toDouble();
      run["before"] = f.property(kBeforeShiftProperty).toDouble();
      runs.append(run);
    }
  }
  QJsonObject root;
  root["format"] = kStyledNotesFormat;
  root["text"] = doc->toPlainText();
  root["runs"] = runs;
  root["blocks"] = blocks;
  return QJsonDocument(root).toJson(QJsonDocument::Compact).toStdString();
}

bool AppendTextObjectResource(QTextEdit *edit, const std::string &styled) {
  if (!edit)
    return false;
  const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(styled));
  const QJsonObject root = json.object();
  if (root["format"].toString() != kStyledNotesFormat)
    return false;
  const QString text = root["text"].toString();
  QTextCursor c(edit->document());
  c.movePosition(QTextCursor::End);
  const int base = c.position();
  c.insertText(text);
  const int end = base + int(text.size());
  for (const QJsonValue &v : root["runs"].toArray()) {
    const QJsonObject run = v.toObject();
    const int at = base + run["at"].toInt(), length = run["length"].toInt();
    if (length <= 0 || at < base || at + length > end)
      continue; // a run outside the text is ignored
    QTextCharFormat f;
    if (run["size"].toDouble() > 0)
      f.setFontPointSize(run["size"].toDouble());
    if (!run["font"].toString().isEmpty())
      f.setFontFamilies({run["font"].toString()});
    const QJsonArray rgb = run["colour"].toArray();
    if (rgb.size() == 3)
      f.setForeground(ToQColor(RGBColor{uint16_t(rgb[0].toInt()), uint16_t(rgb[1].toInt()), uint16_t(rgb[2].toInt())}));
    SetFace(f, run["face"].toInt());
    f.setFontPointSize(run["size"].toDouble() > 0 ? run["size"].toDouble() : kAssumedSize);
    SetCrossShift(f, float(run["cross"].toDouble()));
    SetBeforeShift(f, float(run["before"].toDouble()));
    QTextCursor r(edit->document());
    r.setPosition(at);
    r.setPosition(at + length, QTextCursor::KeepAnchor);
    r.setCharFormat(f);
  }
  const QJsonArray blocks = root["blocks"].toArray();
  QTextBlock b = edit->document()->findBlock(base);
  for (int i = 0; b.isValid() && i < blocks.size(); ++i, b = b.next()) {
    QTextCursor bc(b);
    QTextBlockFormat bf = b.blockFormat();
    bf.setAlignment(Qt::Alignment(blocks[i].toObject()["align"].toInt()));
    bc.setBlockFormat(bf);
  }
  edit->setTextCursor(QTextCursor(edit->document()));
  return true;
}

// ---- Commands -----------------------------------------------------------------------

void DoTextStyle(int face) {
  WindowRef window = FrontNotesWindow();
  if (!window)
    return;
  QTextEdit *edit = NotesOf(window);
  QTextCursor c = edit->textCursor();
  const int current = SelectionValue(edit, FaceOf).value_or(0);
  QTextCharFormat f = c.charFormat();
  // A style item adds its bit, or takes it away when the whole selection
  // has it; plain clears them all.
  SetFace(f, face == 0 ? 0 : (current & face) ? current & ~face : current | face);
  QTextCharFormat only;
  SetFace(only, f.property(kFaceProperty).toInt());
  c.mergeCharFormat(only);
  edit->mergeCurrentCharFormat(only);
  Changed(window);
}

void DoTextSize(float points) {
  WindowRef window = FrontNotesWindow();
  if (!window || !(points > 0))
    return;
  QTextEdit *edit = NotesOf(window);
  QTextCharFormat f;
  f.setFontPointSize(points);
  edit->textCursor().mergeCharFormat(f);
  edit->mergeCurrentCharFormat(f);
  Changed(window);
}

void DoTextColor(const RGBColor &colour) {
  WindowRef window = FrontNotesWindow();
  if (!window)
    return;
  QTextEdit *edit = NotesOf(window);
  QTextCharFormat f;
  f.setForeground(ToQColor(colour));
  edit->textCursor().mergeCharFormat(f);
  edit->mergeCurrentCharFormat(f);
  Changed(window);
}

void DoChooseTextColor() {
  QTextEdit *edit = FrontNotes();
  if (!edit)
    return;
  RGBColor colour = ToRGB(edit->textCursor().charFormat().foreground().color());
  if (GetHostServices() && GetHostServices()->ChooseColour("Text colour:", &colour))
    DoTextColor(colour);
}

namespace {
Qt::Alignment AlignmentOf(int value) {
  switch (value) {
  case kJustLeft:
    return Qt::AlignLeft;
  case kJustRight:
    return Qt::AlignRight;
  case kJustCentre:
    return Qt::AlignHCenter;
  case kJustFull:
    return Qt::AlignJustify;
  default:
    return Qt::AlignLeading;
  }
}
int JustificationOf(Qt::Alignment a) {
  if (a & Qt::AlignJustify)
    return kJustFull;
  if (a & Qt::AlignHCenter)
    return kJustCentre;
  if (a & Qt::AlignRight)
    return kJustRight;
  // An explicit left keeps the absolute flag; the default has none.
  if (a & Qt::AlignAbsolute)
    return kJustLeft;
  return kJustDefault;
}
} // namespace

void DoTextJustification(int value) {
  WindowRef window = FrontNotesWindow();
  if (!window)
    return;
  QTextEdit *edit = NotesOf(window);
  Qt::Alignment a = AlignmentOf(value);
  if (value == kJustLeft)
    a = Qt::AlignLeft | Qt::AlignAbsolute;
  if (JustificationOf(edit->alignment()) == value)
    return;
  edit->setAlignment(a);
  Changed(window);
}

void DoTextBaseline(int direction) {
  WindowRef window = FrontNotesWindow();
  if (!window)
    return;
  QTextEdit *edit = NotesOf(window);
  QTextCursor c = edit->textCursor();
  const QTextCharFormat cur = c.hasSelection() ? [&] {
    QTextCursor p(edit->document());
    p.setPosition(c.selectionStart() + 1);
    return p.charFormat();
  }()
                                               : c.charFormat();
  const float shift = float(cur.property(kCrossShiftProperty).toDouble());
  float size = SizeOf(cur);
  QTextCharFormat f;
  if (shift != 0) {
    f.setFontPointSize(size > kMinGrowSize ? size + kBaselineSizeStep : size);
    SetCrossShift(f, 0);
  } else {
    const float factor = direction >= 1 ? kSuperscriptFactor : kSubscriptFactor;
    f.setFontPointSize(size > kMinShrinkSize ? size - kBaselineSizeStep : size);
    SetCrossShift(f, factor * size);
  }
  c.mergeCharFormat(f);
  edit->mergeCurrentCharFormat(f);
  Changed(window);
}

// The kern and the overbar act on the character before the selection, so a
// selection at the very start (no character before it) is left alone.
void DoTextBackspace() {
  WindowRef window = FrontNotesWindow();
  if (!window)
    return;
  QTextEdit *edit = NotesOf(window);
  QTextCursor c = edit->textCursor();
  if (!c.hasSelection() || c.selectionStart() == 0)
    return;
  QTextDocument *doc = edit->document();
  const int start = c.selectionStart();
  const qreal w0 = CharWidth(doc, start);
  qreal w1 = CharWidth(doc, start - 1);
  if (w1 < 0)
    w1 = w0;
  QTextCursor one(doc);
  one.setPosition(start);
  one.setPosition(start + 1, QTextCursor::KeepAnchor);
  QTextCursor probe(doc);
  probe.setPosition(start + 1);
  const bool shifted = probe.charFormat().property(kBeforeShiftProperty).toDouble() != 0;
  QTextCharFormat f;
  SetBeforeShift(f, shifted ? 0.0f : float(-(w0 + w1) / 2));
  one.mergeCharFormat(f);
  Changed(window);
}

void DoTextAddOverbar() {
  WindowRef window = FrontNotesWindow();
  if (!window)
    return;
  QTextEdit *edit = NotesOf(window);
  QTextCursor c = edit->textCursor();
  if (!c.hasSelection() || c.selectionStart() == 0)
    return;
  QTextDocument *doc = edit->document();
  const int at = c.selectionEnd();
  QTextCursor ins(doc);
  ins.setPosition(at);
  QTextCharFormat f = ins.charFormat();
  ins.insertText(QString(QChar(kOverbarCharacter)), f);
  qreal own = CharWidth(doc, at);
  const qreal before = CharWidth(doc, at - 1);
  if (own < 0)
    own = before;
  QTextCharFormat shift;
  // The size first: the raise is drawn as a share of it.
  shift.setFontPointSize(SizeOf(f));
  SetCrossShift(shift, kOverbarRaise * SizeOf(f));
  SetBeforeShift(shift, float(-(own + before) / 2));
  QTextCursor bar(doc);
  bar.setPosition(at);
  bar.setPosition(at + 1, QTextCursor::KeepAnchor);
  bar.mergeCharFormat(shift);
  QTextCursor after(doc);
  after.setPosition(at + 1);
  edit->setTextCursor(after);
  QTextCharFormat typing = after.charFormat();
  SetCrossShift(typing, 0);
  SetBeforeShift(typing, 0);
  typing.setFontPointSize(SizeOf(f));
  edit->setCurrentCharFormat(typing);
  Changed(window);
}

// ---- Spelling -----------------------------------------------------------------------

namespace {

// Re-marks the notes of every window, after the dictionary learnt a word.
void RemarkAllNotes() {
  for (MainWindow *w : AllGraphWindows())
    if (NotesLayout *layout = LayoutOf(w->NotesView()); layout && layout->SpellCheck())
      layout->rehighlight();
}

// The selected word, else the word at the caret (which gets selected).
QString SelectedWord(QTextEdit *edit) {
  QTextCursor c = edit->textCursor();
  if (!c.hasSelection()) {
    c.select(QTextCursor::WordUnderCursor);
    edit->setTextCursor(c);
  }
  return c.selectedText();
}

void Beep() {
  if (HostServices *host = GetHostServices())
    host->Beep();
}

} // namespace

bool IsNotesSpellCheckingAsYouType(WindowRef window) {
  const NotesLayout *layout = LayoutOf(NotesOf(window));
  return layout && layout->SpellCheck();
}

void SetNotesSpellCheckingAsYouType(WindowRef window, bool on) {
  if (NotesLayout *layout = LayoutOf(NotesOf(window)))
    layout->SetSpellCheck(on);
}

void DoCheckSpelling() {
  QTextEdit *edit = FrontNotes();
  if (!edit)
    return;
  // The first misspelt word after the selection, else the first of all.
  const int from = edit->textCursor().selectionEnd();
  const std::vector<std::pair<int, int>> words = MisspeltWords(edit->document()->toPlainText());
  auto found = std::find_if(words.begin(), words.end(), [from](const auto &w) { return w.first >= from; });
  if (found == words.end())
    found = words.begin();
  if (found == words.end()) {
    Beep();
    return;
  }
  QTextCursor c(edit->document());
  c.setPosition(found->first);
  c.setPosition(found->second, QTextCursor::KeepAnchor);
  edit->setTextCursor(c);
  edit->ensureCursorVisible();
}

void DoChangeSpelling(const std::string &replacement) {
  WindowRef window = FrontNotesWindow();
  if (!window || replacement.empty())
    return;
  QTextEdit *edit = NotesOf(window);
  if (SelectedWord(edit).isEmpty())
    return;
  edit->textCursor().insertText(QString::fromStdString(replacement));
  Changed(window);
}

void DoIgnoreSpelling() {
  if (QTextEdit *edit = FrontNotes(); edit && !SelectedWord(edit).isEmpty()) {
    IgnoreSpelling(SelectedWord(edit).toStdString());
    RemarkAllNotes();
  }
}

void DoLearnSpelling() {
  if (QTextEdit *edit = FrontNotes(); edit && !SelectedWord(edit).isEmpty()) {
    LearnSpelling(SelectedWord(edit).toStdString());
    RemarkAllNotes();
  }
}

namespace {

OSStatus DoSpellingCommand(uint32_t command, const QVariant &argument) {
  if (command == kCmdCheckSpelling)
    DoCheckSpelling();
  else if (command == kCmdCheckSpellingAsYouType) {
    if (WindowRef window = FrontNotesWindow())
      SetNotesSpellCheckingAsYouType(window, !IsNotesSpellCheckingAsYouType(window));
  } else if (command == kCmdChangeSpelling)
    DoChangeSpelling(argument.toString().toStdString());
  else if (command == kCmdIgnoreSpelling)
    DoIgnoreSpelling();
  else if (command == kCmdLearnSpelling)
    DoLearnSpelling();
  else
    return kEventNotHandledErr;
  return kNoErr;
}

OSStatus UpdateSpellingMenuItem(uint32_t command, QAction *action) {
  if (command != kCmdCheckSpelling && command != kCmdCheckSpellingAsYouType && command != kCmdChangeSpelling &&
      command != kCmdIgnoreSpelling && command != kCmdLearnSpelling)
    return kEventNotHandledErr;
  WindowRef window = FrontNotesWindow();
  action->setEnabled(window != nullptr && SpellCheckerAvailable());
  if (command == kCmdCheckSpellingAsYouType) {
    action->setCheckable(true);
    action->setChecked(IsNotesSpellCheckingAsYouType(window));
  }
  return kNoErr;
}

// The spelling part of the notes' contextual menu, put at its top while it
// shows: for a misspelt word (the selected one, else the one clicked, else
// the one at the caret), the dictionary's guesses, Ignore and Learn; then
// Check Spelling and Check Spelling as You Type.
constexpr size_t kMaxGuesses = 6;

void AddSpellingItems(QMenu *menu) {
  QTextEdit *edit = FrontNotes();
  if (!edit)
    return;
  std::vector<QAction *> items;
  auto item = [&](uint32_t code, const QString &title, const QVariant &argument = {}) {
    QAction *action = MakeCommandItem(code, title, argument, menu);
    action->setProperty("spellingItem", true);
    items.push_back(action);
    return action;
  };
  // The word clicked, when the menu comes from a click in the notes.
  const QVariant clicked = edit->property(kMenuPointProperty);
  edit->setProperty(kMenuPointProperty, QVariant());
  QTextCursor word = edit->textCursor();
  if (clicked.isValid() && !word.hasSelection())
    word = edit->cursorForPosition(clicked.toPoint());
  if (!word.hasSelection())
    word.select(QTextCursor::WordUnderCursor);
  const std::string text = word.selectedText().toStdString();
  if (!text.empty() && !IsWordSpeltRight(text)) {
    edit->setTextCursor(word);
    const std::vector<std::string> guesses = SpellingSuggestions(text);
    for (size_t i = 0; i < guesses.size() && i < kMaxGuesses; ++i)
      item(kCmdChangeSpelling, QString::fromStdString(guesses[i]), QString::fromStdString(guesses[i]));
    if (guesses.empty())
      item(0, "No Guesses Found")->setEnabled(false);
    item(kCmdIgnoreSpelling, "Ignore Spelling");
    item(kCmdLearnSpelling, "Learn Spelling");
    item(0, {})->setSeparator(true);
  }
  item(kCmdCheckSpelling, "Check Spelling");
  QAction *asYouType = item(kCmdCheckSpellingAsYouType, "Check Spelling as You Type");
  item(0, {})->setSeparator(true);
  QAction *first = menu->actions().value(0);
  for (QAction *action : items) {
    menu->insertAction(first, action);
    if (GetActionCommand(action))
      UpdateActionStatus(action);
  }
  asYouType->setCheckable(true);
}

// Removed once the chosen item has run.
void RemoveSpellingItems(QMenu *menu) {
  for (QAction *action : menu->actions())
    if (action->property("spellingItem").toBool()) {
      menu->removeAction(action);
      action->deleteLater();
    }
}

} // namespace

// ---- The Text menu ------------------------------------------------------------------

namespace {

struct TextCommand {
  const char *code;
  enum Kind { kStyle, kSize, kColour, kJustify, kBaseline, kOther } kind;
  int value;
};
constexpr TextCommand kTextCommands[] = {
    {"TStP", TextCommand::kStyle, 0},         {"TStB", TextCommand::kStyle, kFaceBold},
    {"TStI", TextCommand::kStyle, kFaceItalic}, {"TStU", TextCommand::kStyle, kFaceUnderline},
    {"TStO", TextCommand::kStyle, kFaceOutline}, {"TStS", TextCommand::kStyle, kFaceShadow},
    {"TStC", TextCommand::kStyle, kFaceCondense}, {"TStE", TextCommand::kStyle, kFaceExtend},
    {"TS06", TextCommand::kSize, 6},          {"TS09", TextCommand::kSize, 9},
    {"TS10", TextCommand::kSize, 10},         {"TS12", TextCommand::kSize, 12},
    {"TS14", TextCommand::kSize, 14},         {"TS18", TextCommand::kSize, 18},
    {"TS24", TextCommand::kSize, 24},         {"TS36", TextCommand::kSize, 36},
    {"TS48", TextCommand::kSize, 48},         {"TS72", TextCommand::kSize, 72},
    {"TCo1", TextCommand::kColour, 0},        {"TCo2", TextCommand::kColour, 1},
    {"TCo3", TextCommand::kColour, 2},        {"TCo4", TextCommand::kColour, 3},
    {"TCo5", TextCommand::kColour, 4},        {"TCo6", TextCommand::kColour, 5},
    {"TCo7", TextCommand::kColour, 6},        {"TCo8", TextCommand::kColour, 7},
    {"TCo9", TextCommand::kColour, 8},        {"TCoC", TextCommand::kOther, 0},
    {"TJfD", TextCommand::kJustify, kJustDefault}, {"TJfL", TextCommand::kJustify, kJustLeft},
    {"TJfR", TextCommand::kJustify, kJustRight}, {"TJfC", TextCommand::kJustify, kJustCentre},
    {"TJfF", TextCommand::kJustify, kJustFull}, {"TSt+", TextCommand::kBaseline, 1},
    {"TSt-", TextCommand::kBaseline, 0},      {"TBsp", TextCommand::kOther, 1},
    {"TOvb", TextCommand::kOther, 2},         {"TDfS", TextCommand::kOther, 3},
};

const TextCommand *FindTextCommand(uint32_t code) {
  for (const TextCommand &t : kTextCommands)
    if (FourCharsToLong(t.code) == code)
      return &t;
  return nullptr;
}

bool SameColour(const QColor &a, const RGBColor &b) {
  const RGBColor c = ToRGB(a);
  return c.red == b.red && c.green == b.green && c.blue == b.blue;
}

} // namespace

void UpdateTextMenuItem(uint32_t command, QAction *action) {
  const TextCommand *t = FindTextCommand(command);
  QTextEdit *edit = FrontNotes();
  if (!t)
    return;
  action->setEnabled(edit != nullptr);
  if (!edit) {
    action->setChecked(false);
    return;
  }
  bool check = false;
  switch (t->kind) {
  case TextCommand::kStyle: {
    const auto face = SelectionValue(edit, FaceOf);
    check = face && (t->value == 0 ? *face == 0 : (*face & t->value) != 0);
    break;
  }
  case TextCommand::kSize: {
    const auto size = SelectionValue(edit, SizeOf);
    check = size.value_or(kMixedSize) == float(t->value);
    break;
  }
  case TextCommand::kColour: {
    const auto colour = SelectionValue(edit, [](const QTextCharFormat &f) { return f.foreground().color().rgba64(); });
    check = colour && SameColour(QColor(*colour), gMenuTextColor[t->value]);
    break;
  }
  case TextCommand::kJustify:
    check = JustificationOf(edit->alignment()) == t->value;
    break;
  case TextCommand::kBaseline: {
    QTextCursor c = edit->textCursor();
    QTextCursor p(edit->document());
    p.setPosition(c.hasSelection() ? c.selectionStart() + 1 : c.position());
    const double shift = p.charFormat().property(kCrossShiftProperty).toDouble();
    check = t->value >= 1 ? shift > 0 : shift < 0;
    break;
  }
  case TextCommand::kOther:
    break;
  }
  action->setCheckable(t->kind != TextCommand::kOther);
  action->setChecked(check);
}

void InstallNotesCommands() {
  AddCommandHandler(DoSpellingCommand, UpdateSpellingMenuItem);
  if (gTextContextualMenu) {
    QObject::connect(gTextContextualMenu, &QMenu::aboutToShow, gTextContextualMenu,
                     [] { AddSpellingItems(gTextContextualMenu); });
    QObject::connect(gTextContextualMenu, &QMenu::aboutToHide, gTextContextualMenu,
                     [] { RemoveSpellingItems(gTextContextualMenu); });
  }
  AddCommandHandler(
      [](uint32_t command, const QVariant &) -> OSStatus {
        const TextCommand *t = FindTextCommand(command);
        if (!t)
          return kEventNotHandledErr;
        switch (t->kind) {
        case TextCommand::kStyle:
          DoTextStyle(t->value);
          break;
        case TextCommand::kSize:
          DoTextSize(float(t->value));
          break;
        case TextCommand::kColour:
          DoTextColor(gMenuTextColor[t->value]);
          break;
        case TextCommand::kJustify:
          DoTextJustification(t->value);
          break;
        case TextCommand::kBaseline:
          DoTextBaseline(t->value);
          break;
        case TextCommand::kOther:
          t->value == 0 ? DoChooseTextColor()
          : t->value == 1 ? DoTextBackspace()
          : t->value == 2 ? DoTextAddOverbar()
                          : DoNotebookDefaultTextStyle();
          break;
        }
        return kNoErr;
      },
      [](uint32_t command, QAction *action) -> OSStatus {
        if (!FindTextCommand(command))
          return kEventNotHandledErr;
        UpdateTextMenuItem(command, action);
        return kNoErr;
      });
  gDocumentWindowHooks.getStyledNotes = [](WindowRef window) {
    QTextEdit *edit = NotesOf(window);
    return edit ? NotesToStyledText(edit) : std::string();
  };
  gDocumentWindowHooks.setStyledNotes = [](WindowRef window, const std::string &styled) {
    QTextEdit *edit = NotesOf(window);
    if (!edit)
      return false;
    edit->setProperty("loading", true);
    edit->clear();
    const bool read = AppendTextObjectResource(edit, styled);
    edit->document()->clearUndoRedoStacks();
    edit->setProperty("loading", false);
    return read;
  };
}
