#include "EditAnnotation.h"

#include "AnnotationEditing.h"
#include "WindowInput.h"
#include "shell/Commands.h"
#include "shell/Forms.h"
#include "inspectors/InspectorKit.h"

#include "Alerts.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "graphics/GraphicsPort.h"
#include "graphics/Painter.h"
#include "render/AnnotationObjects.h"
#include "RenderServices.h"
#include "render/HitTesting.h"
#include "window/MainWindowData.h"

#include "ui_EditAnnotation.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <cstdio>

EditAnnotationRecord gEditAnnotation;

namespace {

constexpr int kIconSize = 16;
// Space under the shown pane for the apply button.
constexpr int kButtonStrip = 46;
constexpr int kEmptySelectionHeight = 60;

class EditAnnotationForm;
EditAnnotationForm *gForm = nullptr;

// The state as the window took it from an object, and which object: an
// apply to that object writes only what differs from it.
struct LoadedObject {
  WindowRef window = nullptr;
  int32_t index = -1;
  EditAnnotationRecord state;
};
LoadedObject gLoaded;

template <typename T = QWidget> T *Control(int id) {
  return gForm ? FindControl<T>(reinterpret_cast<QWidget *>(gForm), id) : nullptr;
}

bool Checked(int id) {
  auto *b = Control<QAbstractButton>(id);
  return b && b->isChecked();
}
void SetChecked(int id, bool on) {
  if (auto *b = Control<QAbstractButton>(id))
    b->setChecked(on);
}
int PopupValue(int id) {
  auto *c = Control<QComboBox>(id);
  return c ? c->currentIndex() + 1 : 0;
}
void SetPopupValue(int id, int value) {
  if (auto *c = Control<QComboBox>(id))
    c->setCurrentIndex(value - 1);
}
void ShowControl(int id, bool shown) {
  if (QWidget *w = Control(id))
    w->setVisible(shown);
}

QIcon Swatch(RGBColor c) {
  QPixmap pixmap(28, 14);
  pixmap.fill(QColor(c.red >> 8, c.green >> 8, c.blue >> 8));
  QPainter p(&pixmap);
  p.setPen(Qt::darkGray);
  p.drawRect(0, 0, 27, 13);
  return QIcon(pixmap);
}
void DrawColorButton(int id, RGBColor colour) {
  if (auto *b = Control<QPushButton>(id)) {
    b->setIcon(Swatch(colour));
    b->setIconSize(QSize(28, 14));
  }
}

// Our pictures for the style and alignment buttons.
QIcon StyleIcon(char letter) {
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  QFont font("DejaVu Serif");
  font.setPixelSize(13);
  font.setBold(letter == 'B');
  font.setItalic(letter == 'I');
  font.setUnderline(letter == 'U');
  p.setFont(font);
  p.setPen(Qt::black);
  p.drawText(QRect(0, 0, kIconSize, kIconSize), Qt::AlignCenter, QString(QChar(letter)));
  return QIcon(pixmap);
}
QIcon AlignmentIcon(int justification) {
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setPen(QPen(Qt::black, 1.5));
  const int widths[4] = {12, 8, 12, 6};
  for (int k = 0; k < 4; ++k) {
    const int w = widths[k];
    const int x = justification == 1 ? 2 : justification == 2 ? (kIconSize - w) / 2 : kIconSize - 2 - w;
    p.drawLine(x, 3 + 3 * k, x + w, 3 + 3 * k);
  }
  return QIcon(pixmap);
}
// A box with a dot at the anchor, as an object's pointer leaves it.
QIcon AnchorIcon(int anchor) {
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setPen(Qt::darkGray);
  p.drawRect(3, 3, 10, 10);
  const Point a = AnchorPointOfRect(MakeRect(3, 3, 13, 13), anchor);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::red);
  p.drawEllipse(QPointF(a.h, a.v), 2.5, 2.5);
  return QIcon(pixmap);
}

const char *const kFontFamilies[] = {"DejaVu Sans", "DejaVu Serif", "DejaVu Sans Mono"};

void UpdateTextSizePopup() {
  for (int id : {109, 306})
    if (auto *c = Control<QComboBox>(id)) {
      int chosen = -1;
      for (int i = 0; i < c->count(); ++i)
        if (c->itemText(i).toInt() == gEditAnnotation.editSize)
          chosen = i;
      c->setCurrentIndex(chosen);
    }
}

// A size typed into a size field is taken when Return is pressed there, the
// field is left or the window applied; never from the keys on their way to
// it ("300" passes through "30"). A size outside 1 to 255 is refused with
// the range and the size shown before comes back. False when refused.
bool TakeTypedSize(QLineEdit *field) {
  const QString shown = QString::asprintf("%.0f", double(gEditAnnotation.editSize));
  if (!field || field->text().trimmed() == shown)
    return true;
  bool ok = false;
  const double v = field->text().trimmed().toDouble(&ok);
  if (ok && v >= kMinAnnotationSize && v <= kMaxAnnotationSize) {
    gEditAnnotation.editSize = static_cast<int16_t>(v);
    UpdateTextSizePopup();
    return true;
  }
  field->setText(shown);
  char explanation[128];
  std::snprintf(explanation, sizeof explanation, "Size must lie in the range %d - %d points!", kMinAnnotationSize,
                kMaxAnnotationSize);
  MyCFCautionAlert("Please enter a valid size", explanation);
  return false;
}

// A size taken in the scale bar's field applies to the bar at once, as the
// label size does; a text box's waits for Apply, which takes its text too.
void TakeTypedSizeAndApply(QLineEdit *field) {
  const int16_t before = gEditAnnotation.editSize;
  if (TakeTypedSize(field) && field == Control<QLineEdit>(305) && gEditAnnotation.editKind == 3 &&
      gEditAnnotation.editSize != before)
    ApplyEditAnnotation();
}

class EditAnnotationForm : public QWidget {
public:
  EditAnnotationForm() : QWidget(nullptr, Qt::Tool) {
    ui.setupUi(this);
    setMouseTracking(true);
  }
  Ui::EditAnnotation ui;

protected:
  void mouseMoveEvent(QMouseEvent *) override { SetCocoaCursor(kArrowCursor); }
  void keyPressEvent(QKeyEvent *e) override {
    if (e->key() == Qt::Key_Enter) {
      DoEditAnnotationApplyButton();
      return;
    }
    QWidget::keyPressEvent(e);
  }
  bool eventFilter(QObject *watched, QEvent *event) override {
    auto *field = qobject_cast<QLineEdit *>(watched);
    if (event->type() == QEvent::FocusOut && field) {
      TakeTypedSizeAndApply(field);
      return false;
    }
    if (event->type() != QEvent::KeyPress)
      return false;
    auto *e = static_cast<QKeyEvent *>(event);
    if (e->key() == Qt::Key_Enter) {
      DoEditAnnotationApplyButton();
      return true;
    }
    if (field && e->key() == Qt::Key_Return) {
      TakeTypedSizeAndApply(field);
      return true;
    }
    return false;
  }
};

void FillFontPopup(int id) {
  auto *c = Control<QComboBox>(id);
  if (!c)
    return;
  c->clear();
  for (const char *family : kFontFamilies)
    c->addItem(family, int(AnnotationFontNumber(family)));
}

void ShowFont(int id) {
  auto *c = Control<QComboBox>(id);
  if (!c)
    return;
  const int i = c->findText(AnnotationFontFamily(gEditAnnotation.editFont));
  c->setCurrentIndex(i >= 0 ? i : 0);
}

bool InitEditAnnotationWindow() {
  gForm = new EditAnnotationForm;
  // A floating window: its saved place, its close box hiding it, the
  // floating windows' refresh and toggle.
  FloatingWindowInfo floating;
  floating.window = gForm;
  floating.savedFrame = &gPrefs.annotationWindowBounds;
  floating.update = UpdateEditAnnotationWindow;
  RegisterFloatingWindow(floating);
  FillFontPopup(101);
  FillFontPopup(301);
  for (int id : {102, 302})
    Control<QToolButton>(id)->setIcon(StyleIcon('B'));
  for (int id : {103, 303})
    Control<QToolButton>(id)->setIcon(StyleIcon('I'));
  for (int id : {104, 304})
    Control<QToolButton>(id)->setIcon(StyleIcon('U'));
  for (int k = 0; k < 3; ++k)
    Control<QToolButton>(105 + k)->setIcon(AlignmentIcon(k + 1));
  if (auto *anchors = Control<QComboBox>(117))
    for (int i = 0; i < anchors->count() && i < 9; ++i)
      anchors->setItemIcon(i, AnchorIcon(i + 1));
  for (int id : {108, 305, 114})
    if (QWidget *w = Control(id))
      w->installEventFilter(gForm);
  // Every control that carries a command sends it to the window's handler.
  for (QWidget *w : gForm->findChildren<QWidget *>()) {
    const QVariant command = w->property("command");
    if (!command.isValid())
      continue;
    const QByteArray code = command.toString().toLatin1().leftJustified(4, ' ');
    const uint32_t id = FourCharsToLong(code.constData());
    if (auto *b = qobject_cast<QAbstractButton *>(w))
      QObject::connect(b, &QAbstractButton::clicked, gForm, [id] { EditAnnotationCommand(id); });
    else if (auto *c = qobject_cast<QComboBox *>(w))
      QObject::connect(c, &QComboBox::activated, gForm, [id] { EditAnnotationCommand(id); });
  }
  UpdateAnnotationObject(gEditAnnotation.editKind);
  return true;
}

RGBColor ChooseFrom(RGBColor start, bool *chosen) {
  RGBColor c = start;
  HostServices *host = GetHostServices();
  *chosen = host && host->ChooseColour("", &c);
  return c;
}

// The state's text laid out in the box inset by a third of the size: its
// height in pixels.
int LaidOutHeight(const TextBoxRecord &box, const std::u16string &text, int t) {
  ovgfx::GraphicsPort port(MakeRect(0, 0, 1, 1));
  ovgfx::PortSaver current(&port);
  port.SetTextFont(AnnotationFontFamily(box.fontNumber));
  port.SetTextSize(static_cast<int16_t>(box.fontSize));
  port.SetTextFace(static_cast<int16_t>(box.fontStyle & 7));
  const std::vector<JustifiedLine> lines =
      LayoutJustifiedText(text, box.justification, InsetRect(box.boxRect, t, t));
  const ovgfx::TextSize line =
      ovgfx::MeasureText(port.TextFont(), static_cast<float>(box.fontSize), port.TextFace(), "Åg");
  const int n = static_cast<int>(std::max<size_t>(lines.size(), 1));
  return static_cast<int>(line.height) + (n - 1) * static_cast<int>(kTextLineSpacing * box.fontSize);
}

// An object's size as the window shows it: as stored (a size typed takes
// 1 to 255, but side-by-side stereo doubles a size beyond), so that an apply
// keeps it.
int16_t ShownSize(uint16_t size) { return static_cast<int16_t>(std::min<int>(size, INT16_MAX)); }

Point PointerTip(const Rect &r, int anchor, bool twoEnds) {
  const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
  int h = r.left - kPointerNear, v = r.top - kPointerNear;
  if (twoEnds) {
    h = r.left - kPointerNear;
    v = cy;
  } else {
    switch (anchor) {
    case 2: h = r.left - kPointerFar; v = cy; break;
    case 3: h = r.left - kPointerNear; v = r.bottom + kPointerNear; break;
    case 4: h = cx; v = r.top - kPointerFar; break;
    case 5: h = cx; v = cy - kPointerFar; break;
    case 6: h = cx; v = r.bottom + kPointerFar; break;
    case 7: h = r.right + kPointerNear; v = r.top - kPointerNear; break;
    case 8: h = r.right + kPointerFar; v = cy; break;
    case 9: h = r.right + kPointerNear; v = r.bottom + kPointerNear; break;
    default: break;
    }
  }
  return Point{static_cast<int16_t>(v), static_cast<int16_t>(h)};
}

} // namespace

uint16_t EditAnnotationFontStyle() {
  const EditAnnotationRecord &e = gEditAnnotation;
  return static_cast<uint16_t>((e.editBold ? 1 : 0) + (e.editItalic ? 2 : 0) + (e.editUnderline ? 4 : 0));
}

void CopyPrefsToEditAnnotation(const PrefsRecord &p) {
  EditAnnotationRecord &e = gEditAnnotation;
  e.editFont = AnnotationFontNumber(p.annotationFont.view());
  e.editSize = static_cast<int16_t>(std::clamp<int>(p.annotationSize, kMinAnnotationSize, kMaxAnnotationSize));
  e.editFrame = p.annotationFlags[0];
  e.editFill = p.annotationFlags[1];
  e.editPointer = p.annotationFlags[2];
  e.editArrowHeads = p.annotationFlags[3];
  e.editTextColor = p.annotationColors[0];
  e.editBackColor = p.annotationColors[1];
  e.editAnchor = std::clamp<uint16_t>(p.annotationOptions[0], 1, 9);
  e.editJustification = std::clamp<uint16_t>(p.annotationOptions[1], 1, 3);
  e.editBold = (p.annotationStyle & 1) != 0;
  e.editItalic = (p.annotationStyle & 2) != 0;
  e.editUnderline = (p.annotationStyle & 4) != 0;
  e.editText.reset();
}

void CopyEditAnnotationToPrefs(PrefsRecord *p) {
  if (!p)
    return;
  const EditAnnotationRecord &e = gEditAnnotation;
  p->annotationFont = MakeStr255(AnnotationFontFamily(e.editFont));
  p->annotationSize = static_cast<uint16_t>(std::max<int>(e.editSize, kMinAnnotationSize));
  p->annotationFlags[0] = e.editFrame;
  p->annotationFlags[1] = e.editFill;
  p->annotationFlags[2] = e.editPointer;
  p->annotationFlags[3] = e.editArrowHeads;
  p->annotationColors[0] = e.editTextColor;
  p->annotationColors[1] = e.editBackColor;
  p->annotationOptions[0] = e.editAnchor;
  p->annotationOptions[1] = e.editJustification;
  p->annotationStyle = EditAnnotationFontStyle();
}

QWidget *EditAnnotationWindow() { return gForm; }

void DoShowEditAnnotationWindow() {
  if (!gForm && !InitEditAnnotationWindow()) {
    MyCFStopAlert("Unable to open the Edit Annotation Window");
    return;
  }
  UpdateEditAnnotationWindow();
  gForm->show();
  gForm->raise();
  gForm->activateWindow();
  WindowRef front = FrontGraphWindow();
  if (front && IsWindowFileOpen(front) && gEditAnnotation.editKind == 1)
    if (QWidget *text = Control(114))
      text->setFocus(Qt::OtherFocusReason);
}

void UpdateEditAnnotationWindow() {
  if (!gForm)
    return;
  EditAnnotationRecord &e = gEditAnnotation;
  e.editText.reset();
  WindowRef front = FrontGraphWindow();
  const TextBoxRecord *box = front ? GetFrontSelectedTextBox(front) : nullptr;
  gLoaded = LoadedObject{};
  if (!box) {
    e.editKind = 0;
    UpdateAnnotationObject(0);
    return;
  }
  e.editKind = box->kind;
  e.editTextColor = box->textColor;
  e.editShadow = box->shadow;
  auto style = [&] {
    e.editBold = (box->fontStyle & 1) != 0;
    e.editItalic = (box->fontStyle & 2) != 0;
    e.editUnderline = (box->fontStyle & 4) != 0;
  };
  if (box->kind == kAnnotationTextBox) {
    e.editText = std::u16string(box->text.data(), std::min<size_t>(box->text.size(), box->textLength));
    e.editFont = box->fontNumber;
    e.editSize = ShownSize(box->fontSize);
    e.editFrame = box->frame;
    e.editFill = box->fill;
    e.editBackColor = box->backColor;
    e.editPointer = box->hasPointer;
    e.editArrowHeads = box->arrowHeads > 0;
    e.editDoubleArrow = box->arrowHeads == 2;
    e.editAnchor = box->anchor;
    e.editTwoEnds = box->pointerTwoEnds;
    e.editJustification = box->justification;
    style();
  } else if (box->kind == kAnnotationLine) {
    e.editArrowHeads = box->arrowHeads > 0;
    e.editDoubleArrow = box->arrowHeads == 2;
  } else {
    e.editFont = box->fontNumber;
    e.editSize = ShownSize(box->fontSize);
    e.editFrame = box->frame;
    e.editFill = box->fill;
    e.editBackColor = box->backColor;
    e.editArrowHeads = box->arrowHeads > 0;
    e.editJustification = 2;
    style();
  }
  UpdateAnnotationObject(e.editKind);
  gLoaded = LoadedObject{front, static_cast<int32_t>(box - GetWindowCrystal(front)->textBoxes.data()), e};
}

void UpdateAnnotationObject(int16_t kind) {
  if (!gForm)
    return;
  EditAnnotationRecord &e = gEditAnnotation;
  e.editKind = kind;
  Ui::EditAnnotation &ui = gForm->ui;
  for (QWidget *page : {static_cast<QWidget *>(ui.EditTextbox), static_cast<QWidget *>(ui.EditLine),
                        static_cast<QWidget *>(ui.EditScalebar), static_cast<QWidget *>(ui.emptySelection)})
    page->hide();
  QWidget *page = kind == 1   ? static_cast<QWidget *>(ui.EditTextbox)
                  : kind == 3 ? static_cast<QWidget *>(ui.EditScalebar)
                  : kind == 2 ? static_cast<QWidget *>(ui.EditLine)
                              : static_cast<QWidget *>(ui.emptySelection);
  const int height = kind == 0 ? kEmptySelectionHeight : page->height();
  ui.container2->resize(ui.container2->width(), height);
  ui.apply3->move(ui.apply3->x(), ui.container2->y() + height + 8);
  ui.apply3->setVisible(kind >= 1 && kind <= 3);
  gForm->setFixedHeight(ui.container2->y() + height + kButtonStrip);
  page->show();
  const QString size = QString::asprintf("%.0f", double(e.editSize));
  if (kind == 1) {
    ShowFont(101);
    Control<QLineEdit>(108)->setText(size);
    UpdateTextSizePopup();
    SetChecked(102, e.editBold);
    SetChecked(103, e.editItalic);
    SetChecked(104, e.editUnderline);
    for (int k = 0; k < 3; ++k)
      SetChecked(105 + k, e.editJustification == k + 1);
    SetChecked(119, e.editShadow);
    SetChecked(112, e.editFill);
    ShowControl(113, e.editFill);
    DrawColorButton(110, e.editTextColor);
    DrawColorButton(113, e.editBackColor);
    auto *text = Control<QPlainTextEdit>(114);
    text->setPlainText(e.editText ? QString::fromUtf16(e.editText->data(), qsizetype(e.editText->size())) : QString());
    e.editText.reset();
    text->selectAll();
    text->setFocus(Qt::OtherFocusReason);
    SetChecked(115, e.editPointer);
    SetPopupValue(117, e.editAnchor);
    SetPopupValue(116, e.editTwoEnds ? 2 : 1);
    SetChecked(118, e.editArrowHeads);
    for (int id : {116, 117, 118})
      ShowControl(id, e.editPointer);
    SetChecked(111, e.editFrame);
  } else if (kind == 2) {
    SetChecked(205, e.editShadow);
    SetChecked(203, e.editArrowHeads);
    SetPopupValue(204, e.editDoubleArrow ? 2 : 1);
    Control(204)->setEnabled(e.editArrowHeads);
    DrawColorButton(202, e.editTextColor);
    e.editPointer = 1;
    e.editTwoEnds = 1;
  } else if (kind == 3) {
    ShowFont(301);
    Control<QLineEdit>(305)->setText(size);
    UpdateTextSizePopup();
    SetChecked(302, e.editBold);
    SetChecked(303, e.editItalic);
    SetChecked(304, e.editUnderline);
    SetChecked(312, e.editShadow);
    SetChecked(309, e.editFill);
    ShowControl(310, e.editFill);
    DrawColorButton(307, e.editTextColor);
    DrawColorButton(310, e.editBackColor);
    SetChecked(311, e.editArrowHeads);
    SetChecked(308, e.editFrame);
    e.editPointer = 1;
    e.editTwoEnds = 1;
    e.editJustification = 2;
    e.editDoubleArrow = 1;
  }
}

int32_t EditAnnotationCommand(uint32_t command) {
  EditAnnotationRecord &e = gEditAnnotation;
  const bool textBox = e.editKind == 1;
  const bool scaleBar = e.editKind == 3;
  switch (command) {
  case FourCharsToLong("Bold"):
    e.editBold = Checked(textBox ? 102 : 302);
    break;
  case FourCharsToLong("Ital"):
    e.editItalic = Checked(textBox ? 103 : 303);
    break;
  case FourCharsToLong("Ulin"):
    e.editUnderline = Checked(textBox ? 104 : 304);
    break;
  case FourCharsToLong("Left"):
  case FourCharsToLong("Cntr"):
  case FourCharsToLong("Rght"):
    e.editJustification = command == FourCharsToLong("Left") ? 1 : command == FourCharsToLong("Cntr") ? 2 : 3;
    for (int k = 0; k < 3; ++k)
      SetChecked(105 + k, e.editJustification == k + 1);
    break;
  case FourCharsToLong("tCol"): {
    bool chosen = false;
    const RGBColor c = ChooseFrom(e.editTextColor, &chosen);
    if (chosen)
      e.editTextColor = c;
    DrawColorButton(textBox ? 110 : scaleBar ? 307 : 202, e.editTextColor);
    break;
  }
  case FourCharsToLong("bCol"): {
    bool chosen = false;
    const RGBColor c = ChooseFrom(e.editBackColor, &chosen);
    if (chosen)
      e.editBackColor = c;
    DrawColorButton(textBox ? 113 : 310, e.editBackColor);
    break;
  }
  case FourCharsToLong("dblA"):
    e.editDoubleArrow = PopupValue(204) == 2;
    break;
  case FourCharsToLong("frmT"):
    e.editFrame = Checked(textBox ? 111 : 308);
    break;
  case FourCharsToLong("linT"):
    e.editTwoEnds = PopupValue(116) == 2;
    break;
  case FourCharsToLong("mAnc"):
    e.editAnchor = static_cast<uint16_t>(PopupValue(117));
    break;
  case FourCharsToLong("mFnt"):
    if (auto *c = Control<QComboBox>(textBox ? 101 : 301))
      e.editFont = static_cast<int16_t>(c->currentData().toInt());
    break;
  case FourCharsToLong("mSiz"): {
    auto *popup = Control<QComboBox>(textBox ? 109 : 306);
    auto *field = Control<QLineEdit>(textBox ? 108 : 305);
    if (popup && field && popup->currentIndex() >= 0) {
      field->setText(popup->currentText());
      e.editSize = static_cast<int16_t>(field->text().toDouble());
    }
    break;
  }
  case FourCharsToLong("shoL"):
    e.editPointer = Checked(115);
    for (int id : {116, 117, 118})
      ShowControl(id, e.editPointer);
    break;
  case FourCharsToLong("tArh"):
    e.editArrowHeads = Checked(e.editKind == 2 ? 203 : textBox ? 118 : 311);
    if (QWidget *ends = Control(204))
      ends->setEnabled(e.editArrowHeads);
    break;
  case FourCharsToLong("tBak"):
    e.editFill = Checked(textBox ? 112 : 309);
    ShowControl(textBox ? 113 : 310, e.editFill);
    break;
  case FourCharsToLong("tShd"):
    e.editShadow = Checked(e.editKind == 2 ? 205 : textBox ? 119 : 312);
    break;
  case FourCharsToLong("ok  "):
    DoEditAnnotationApplyButton();
    break;
  default:
    return kEventNotHandledErr;
  }
  return kNoErr;
}

void DoEditAnnotationApplyButton() {
  EditAnnotationRecord &e = gEditAnnotation;
  if (gForm) {
    if (e.editKind == 3) {
      if (!TakeTypedSize(Control<QLineEdit>(305)))
        return;
      e.editText.reset();
    } else if (e.editKind == 2) {
      e.editText.reset();
    } else if (e.editKind == 1) {
      const QString text = Control<QPlainTextEdit>(114)->toPlainText();
      e.editText = std::u16string(reinterpret_cast<const char16_t *>(text.utf16()), static_cast<size_t>(text.size()));
      if (!TakeTypedSize(Control<QLineEdit>(108)))
        return;
    }
  }
  ApplyEditAnnotation();
}

void ApplyEditAnnotation() {
  EditAnnotationRecord &e = gEditAnnotation;
  WindowRef window = FrontGraphWindow();
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  TextBoxRecord *box = window ? GetFrontSelectedTextBox(window) : nullptr;
  if (!c || !box) {
    MyCFCautionAlert("Please select a textbox to edit");
    return;
  }
  // The window shows another kind than the selected object (or none): the
  // object keeps its kind and the window takes the object's state instead.
  if (e.editKind < 1 || e.editKind > 3 || e.editKind != box->kind) {
    UpdateEditAnnotationWindow();
    return;
  }
  // Only what the user changed since the window took the object's state is
  // written; another object takes the whole state.
  const int32_t index = static_cast<int32_t>(box - c->textBoxes.data());
  const bool sameObject = gLoaded.window == window && gLoaded.index == index;
  auto edited = [&](auto EditAnnotationRecord::*member) { return !sameObject || e.*member != gLoaded.state.*member; };
  bool any = false;
  auto put = [&any](auto &field, auto value, bool when) {
    if (when && field != static_cast<std::remove_reference_t<decltype(field)>>(value)) {
      field = static_cast<std::remove_reference_t<decltype(field)>>(value);
      any = true;
    }
  };
  const bool textBox = box->kind == kAnnotationTextBox;
  if (textBox && !e.editText && !e.editPointer) {
    DestroyTextBoxIndex(c, index);
    NewPlot(window, false, false);
    return;
  }
  const std::u16string text = textBox && e.editText ? *e.editText : std::u16string();
  const bool textEdited = text != box->text;
  if (textEdited) {
    box->text = text;
    box->textLength = static_cast<uint32_t>(text.size());
    any = true;
  }
  const bool hadPointer = box->hasPointer, hadTwoEnds = box->pointerTwoEnds;
  put(box->shadow, e.editShadow, edited(&EditAnnotationRecord::editShadow));
  put(box->textColor, e.editTextColor, edited(&EditAnnotationRecord::editTextColor));
  const bool headsEdited = edited(&EditAnnotationRecord::editArrowHeads) ||
                           edited(&EditAnnotationRecord::editDoubleArrow) || edited(&EditAnnotationRecord::editTwoEnds);
  const bool twoHeads =
      box->kind == kAnnotationScaleBar || (box->kind == kAnnotationLine ? e.editDoubleArrow : e.editTwoEnds);
  put(box->arrowHeads, e.editArrowHeads ? (twoHeads ? 2 : 1) : 0, headsEdited);
  if (textBox) {
    put(box->hasPointer, e.editPointer, edited(&EditAnnotationRecord::editPointer));
    put(box->pointerTwoEnds, e.editTwoEnds, edited(&EditAnnotationRecord::editTwoEnds));
    put(box->anchor, e.editAnchor, edited(&EditAnnotationRecord::editAnchor));
  }
  if (box->kind != kAnnotationLine) {
    const bool styleEdited = edited(&EditAnnotationRecord::editBold) || edited(&EditAnnotationRecord::editItalic) ||
                             edited(&EditAnnotationRecord::editUnderline);
    put(box->backColor, e.editBackColor, edited(&EditAnnotationRecord::editBackColor));
    put(box->fontNumber, e.editFont, edited(&EditAnnotationRecord::editFont));
    put(box->fontStyle, EditAnnotationFontStyle(), styleEdited);
    put(box->fontSize, std::clamp<int>(e.editSize, kMinAnnotationSize, kMaxAnnotationSize),
        edited(&EditAnnotationRecord::editSize));
    put(box->justification, e.editJustification, edited(&EditAnnotationRecord::editJustification));
    put(box->frame, e.editFrame, edited(&EditAnnotationRecord::editFrame));
    put(box->fill, e.editFill, edited(&EditAnnotationRecord::editFill));
  }
  if (!any)
    return;
  box->visible = 1;
  box->spareOne = 1;
  box->spareScale = 1.0f;
  if (box->kind != kAnnotationLine)
    box->spare100 = 100;
  if (!textBox) {
    box->hasPointer = 1;
    box->pointerTwoEnds = 1;
  }
  // The height follows the text; the width stays.
  if (!box->text.empty()) {
    const int t = box->fontSize / 3;
    box->boxRect.bottom =
        static_cast<int16_t>(box->boxRect.top + LaidOutHeight(*box, box->text, t) + 2 * t);
  }
  const bool pointerTurnedOn = box->hasPointer && !hadPointer;
  const bool twoEndsTurnedOn = box->pointerTwoEnds && !hadTwoEnds;
  Rect area;
  GetWindowOffBounds(window, &area);
  const int width = area.Width(), height = area.Height();
  const int cx = (box->boxRect.left + box->boxRect.right) / 2, cy = (box->boxRect.top + box->boxRect.bottom) / 2;
  auto setPoint = [&](Point &pixel, float frac[2], int h, int v) {
    h = std::clamp(h, 0, std::max(0, width));
    v = std::clamp(v, 0, std::max(0, height));
    pixel = Point{static_cast<int16_t>(v), static_cast<int16_t>(h)};
    frac[0] = width > 0 ? float(h) / float(width) : 0.0f;
    frac[1] = height > 0 ? float(v) / float(height) : 0.0f;
  };
  if (pointerTurnedOn) {
    const Point tip = PointerTip(box->boxRect, box->anchor, box->pointerTwoEnds);
    setPoint(box->pixel1, box->frac1, tip.h, tip.v);
  }
  if (pointerTurnedOn || twoEndsTurnedOn)
    setPoint(box->pixel2, box->frac2, 2 * cx - box->pixel1.h, 2 * cy - box->pixel1.v);
  NewPlot(window, false, false);
}

void StepWindowOptionsSize(QWidget *sizeField, int delta) {
  auto *field = qobject_cast<QLineEdit *>(sizeField);
  if (!field)
    return;
  const int v = std::clamp(static_cast<int>(std::lround(field->text().toDouble())) + delta, kMinOptionsFontSize,
                           kMaxOptionsFontSize);
  field->setText(QString::asprintf("%.0f", double(v)));
}

void InstallEditAnnotation() {
  CopyPrefsToEditAnnotation(gPrefs);
  InstallAnnotationCommands();
  gWindowInputHooks.deleteSelectedObjects = DeleteSelectedTextBoxes;
  gWindowInputHooks.moveSelectedTextBoxes = MoveSelectedTextBoxes;
  AddCommandHandler(
      [](uint32_t command, const QVariant &) -> OSStatus {
        if (command != FourCharsToLong("*EdA"))
          return kEventNotHandledErr;
        DoShowEditAnnotationWindow();
        return kNoErr;
      },
      [](uint32_t command, QAction *action) -> OSStatus {
        if (command != FourCharsToLong("*EdA"))
          return kEventNotHandledErr;
        action->setEnabled(true);
        return kNoErr;
      });
}
