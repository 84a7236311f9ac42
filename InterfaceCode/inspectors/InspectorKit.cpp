#include "InspectorKit.h"

#include "BasicTypes.h"
#include "Utilities.h"
#include "shell/Forms.h"
#include "shell/UneditedFields.h"
#include "structurewindow/AtomPicker.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <cmath>
#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QWheelEvent>
#include <QWindow>
#include <QMouseEvent>
#include <QStyleOptionButton>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

// ---- Controls -------------------------------------------------------------------

namespace {
// Auto-repeat of a held arrow: first step at once, then every 50 ms after
// a 300 ms pause.
constexpr int kArrowRepeatDelayMs = 300;
constexpr int kArrowRepeatIntervalMs = 50;
constexpr int kSwatchInset = 4;

QColor ToQColor(RGBColor c) { return QColor::fromRgb(c.red >> 8, c.green >> 8, c.blue >> 8); }
RGBColor FromQColor(const QColor &c) {
  return RGBColor{uint16_t(c.red() * 257), uint16_t(c.green() * 257), uint16_t(c.blue() * 257)};
}
} // namespace

LittleArrows::LittleArrows(QWidget *parent) : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (auto [button, arrow, part] : {std::tuple{up_, Qt::UpArrow, kControlUpButtonPart},
                                     std::tuple{down_, Qt::DownArrow, kControlDownButtonPart}}) {
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setAutoRepeatDelay(kArrowRepeatDelayMs);
    button->setAutoRepeatInterval(kArrowRepeatIntervalMs);
    button->setFixedSize(14, 10);
    button->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(button);
    const int p = part;
    connect(button, &QToolButton::clicked, this, [this, p] { emit Stepped(p); });
  }
}

void LittleArrows::changeEvent(QEvent *event) {
  if (event->type() == QEvent::EnabledChange) {
    up_->setEnabled(isEnabled());
    down_->setEnabled(isEnabled());
  }
  QWidget::changeEvent(event);
}

ColorButton::ColorButton(QWidget *parent) : QPushButton(parent) {}

void ColorButton::paintEvent(QPaintEvent *event) {
  QPushButton::paintEvent(event);
  // Disabled buttons show no swatch.
  if (!isEnabled() || !source_)
    return;
  QPainter painter(this);
  MyDrawColorButtonContents(painter, rect().adjusted(kSwatchInset, kSwatchInset, -kSwatchInset, -kSwatchInset),
                            source_());
}

void MyDrawColorButtonContents(QPainter &painter, const QRect &rect, RGBColor colour) {
  painter.fillRect(rect, ToQColor(colour));
  painter.setPen(Qt::black);
  painter.drawRect(rect.adjusted(0, 0, -1, -1));
}

void MyDrawColorButton(QPainter &painter, QWidget *button, const QRect &rect, RGBColor colour, bool pressed) {
  QStyleOptionButton option;
  option.initFrom(button);
  option.rect = rect;
  option.state |= pressed ? QStyle::State_Sunken : QStyle::State_Raised;
  button->style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, button);
  MyDrawColorButtonContents(painter, rect.adjusted(kSwatchInset, kSwatchInset, -kSwatchInset, -kSwatchInset), colour);
}

uint32_t CommandFromProperty(const QWidget *control) {
  const QVariant v = control->property("command");
  if (!v.isValid())
    return 0;
  const QByteArray text = v.toString().toLatin1();
  if (text.size() != 4)
    return 0;
  return FourCharsToLong(text.constData());
}

void ConnectPaneCommands(QWidget *pane, PaneCommandHandler handler) {
  QList<QWidget *> controls = pane->findChildren<QWidget *>();
  controls.prepend(pane);
  for (QWidget *control : controls) {
    const uint32_t code = CommandFromProperty(control);
    if (!code)
      continue;
    if (auto *combo = qobject_cast<QComboBox *>(control)) {
      QObject::connect(combo, &QComboBox::activated, combo, [handler, code](int) { handler(code); });
    } else if (auto *button = qobject_cast<QAbstractButton *>(control)) {
      QObject::connect(button, &QAbstractButton::clicked, button, [handler, code] { handler(code); });
    } else {
      // A radio group: any of its radio buttons sends the group's command.
      for (QRadioButton *radio : control->findChildren<QRadioButton *>(Qt::FindDirectChildrenOnly))
        QObject::connect(radio, &QRadioButton::clicked, radio, [handler, code] { handler(code); });
    }
  }
}

uint32_t ColorMenuCommand(uint16_t prefix, int item) {
  return (uint32_t(prefix) << 16) | (uint32_t('0' + item / 10 % 10) << 8) | uint32_t('0' + item % 10);
}

bool GetIndexFromColorMenuCommand(uint32_t command, uint16_t *prefix, int *index) {
  const char tens = char((command >> 8) & 0xFF), ones = char(command & 0xFF);
  if (tens < '0' || tens > '9' || ones < '0' || ones > '9')
    return false;
  *prefix = uint16_t(command >> 16);
  *index = (tens - '0') * 10 + (ones - '0');
  return true;
}

std::vector<RGBColor> InitPopupColorMenu(QComboBox *popup, uint16_t prefix, PaneCommandHandler handler) {
  std::vector<RGBColor> colours;
  if (!popup)
    return colours;
  for (int i = 0; i < popup->count(); i++) {
    int r = 0, g = 0, b = 0;
    std::sscanf(popup->itemText(i).toLatin1().constData(), "%d %d %d", &r, &g, &b);
    const RGBColor c{uint16_t(std::clamp(r, 0, 255) * 257), uint16_t(std::clamp(g, 0, 255) * 257),
                     uint16_t(std::clamp(b, 0, 255) * 257)};
    colours.push_back(c);
    QPixmap swatch(24, 12);
    swatch.fill(ToQColor(c));
    popup->setItemIcon(i, QIcon(swatch));
    popup->setItemText(i, QString());
    popup->setItemData(i, ColorMenuCommand(prefix, i + 1), Qt::UserRole);
  }
  QObject::connect(popup, &QComboBox::activated, popup,
                   [handler, prefix](int index) { handler(ColorMenuCommand(prefix, index + 1)); });
  return colours;
}

namespace {
ColorPicker &Picker() {
  static ColorPicker picker;
  return picker;
}
} // namespace

void SetColorPicker(ColorPicker picker) { Picker() = std::move(picker); }

bool GetColor(const std::string &prompt, RGBColor in, RGBColor *out) {
  if (Picker())
    return Picker()(prompt, in, out);
  const QColor chosen = QColorDialog::getColor(ToQColor(in), QApplication::activeWindow(), QString::fromStdString(prompt));
  if (!chosen.isValid())
    return false;
  *out = FromQColor(chosen);
  return true;
}

// ---- Edit texts and pop-ups -----------------------------------------------------

void SetEditTextFormat(QLineEdit *field, const char *format, double value) {
  if (field)
    field->setText(QString::fromStdString(MyTrimSprintf(format, value)));
}

void SetEditTextCString(QLineEdit *field, const std::string &text) {
  if (field)
    field->setText(QString::fromStdString(text));
}

std::string GetEditTextCString(const QLineEdit *field) { return field ? field->text().toStdString() : std::string(); }

float GetEditTextFloat(const QLineEdit *field) {
  const std::string text = GetEditTextCString(field);
  // "nan", "inf" and numbers beyond a float read as no number.
  const float value = std::strtof(text.c_str(), nullptr);
  return std::isfinite(value) ? value : 0.0f;
}

int32_t GetEditTextLong(const QLineEdit *field) {
  const std::string text = GetEditTextCString(field);
  return int32_t(std::strtol(text.c_str(), nullptr, 10));
}

bool EditTextHasNumber(const QLineEdit *field) {
  const std::string text = GetEditTextCString(field);
  char *end = nullptr;
  std::strtof(text.c_str(), &end);
  return end != text.c_str();
}

float StoredField::ShownLow() const {
  return std::min(Shown(float(row.low)), Shown(float(row.high)));
}
float StoredField::ShownHigh() const {
  return std::max(Shown(float(row.low)), Shown(float(row.high)));
}

// The field remembers what it showed through the same memory every sheet's
// fields use (UneditedFields.h).
void ShowStoredValue(QLineEdit *field, float stored, const std::string &text) {
  ShowStoredValue(field, QString::fromStdString(text), double(stored));
}

bool StoredFieldEdited(const QLineEdit *field) { return field && EditTextHasNumber(field) && ControlEdited(field); }

float ShownStoredValue(const QLineEdit *field) { return float(StoredValueShown(field)); }

float StoredFieldValue(const QLineEdit *field, const StoredField &kind) {
  if (!StoredFieldEdited(field))
    return ShownStoredValue(field);
  float typed = GetEditTextFloat(field);
  if (kind.whole)
    typed = std::trunc(typed);
  return float(std::clamp(double(kind.Stored(typed)), kind.row.low, kind.row.high));
}

void SetSliderLimits(QWidget *slider, const StoredField &kind) {
  if (auto *s = qobject_cast<QSlider *>(slider)) {
    const QSignalBlocker block(s);
    s->setRange(int(std::ceil(kind.ShownLow())), int(std::floor(kind.ShownHigh())));
  }
}

int GetPopupValue(const QComboBox *popup) { return popup ? popup->currentIndex() + 1 : 0; }

void SetPopupValue(QComboBox *popup, int value) {
  if (popup && value >= 1 && value <= popup->count())
    popup->setCurrentIndex(value - 1);
}

bool FindFontOnMenu(const QComboBox *popup, const std::string &name, int *item) {
  if (!popup)
    return false;
  const int i = popup->findText(QString::fromStdString(name), Qt::MatchExactly);
  if (i < 0)
    return false;
  *item = i + 1;
  return true;
}

void MyEnableSubControls(QWidget *control, bool enable) {
  if (!control)
    return;
  for (QWidget *child : control->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
    child->setEnabled(enable);
}

void EnableControls(QWidget *pane, std::initializer_list<int> ids, bool enable) {
  for (int id : ids)
    if (QWidget *control = FindControl(pane, id))
      control->setEnabled(enable);
}

void MyDrawToolTipNow(QWidget *widget, const QRect &rect, const std::string &text) {
  QToolTip::showText(widget->mapToGlobal(rect.bottomLeft()), QString::fromStdString(text), widget, rect);
}

void MyDrawToolTipNowAtMousePosition(const std::string &text) {
  QToolTip::showText(QCursor::pos(), QString::fromStdString(text));
}

QToolButton *MakeSmallIconButton(const QIcon &icon, QWidget *parent) {
  auto *button = new QToolButton(parent);
  button->setIcon(icon);
  button->setAutoRaise(true);
  button->setIconSize(QSize(16, 16));
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

// ---- Floating windows -----------------------------------------------------------

namespace {
struct Floating {
  QPointer<QWidget> window;
  FloatingWindowInfo info;
};
std::vector<Floating> &Floatings() {
  static std::vector<Floating> list;
  return list;
}
std::vector<QPointer<QWidget>> &HiddenByToggle() {
  static std::vector<QPointer<QWidget>> list;
  return list;
}
std::vector<std::function<void()>> &Openers() {
  static std::vector<std::function<void()>> list;
  return list;
}
// The close box of a floating window only hides it.
class HideOnClose : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Close) {
      static_cast<QWidget *>(watched)->hide();
      event->ignore();
      return true;
    }
    return false;
  }
};
} // namespace

void RegisterFloatingWindow(const FloatingWindowInfo &info) {
  QWidget *w = info.window;
  w->setWindowFlag(Qt::Tool, true);
  w->installEventFilter(new HideOnClose(w));
  if (info.savedFrame && !(info.savedFrame->right <= info.savedFrame->left ||
                           info.savedFrame->bottom <= info.savedFrame->top)) {
    w->move(info.savedFrame->left, info.savedFrame->top);
    MoveWindowOnscreen(w);
  }
  Floatings().push_back({w, info});
}

void UnregisterFloatingWindow(QWidget *window) {
  std::erase_if(Floatings(), [window](const Floating &f) { return !f.window || f.window == window; });
}

void UpdateFloatingWindowsNow() {
  for (const Floating &f : std::vector<Floating>(Floatings()))
    if (f.window && f.info.update && (!f.info.updateOnlyWhenVisible || f.window->isVisible()))
      f.info.update();
}

bool AreFloatingWindowsVisible() {
  for (const Floating &f : Floatings())
    if (f.window && f.window->isVisible())
      return true;
  return false;
}

void DoToggleFloatingWindows() {
  if (AreFloatingWindowsVisible()) {
    HiddenByToggle().clear();
    for (const Floating &f : Floatings())
      if (f.window && f.window->isVisible()) {
        HiddenByToggle().push_back(f.window);
        f.window->hide();
      }
    return;
  }
  for (const QPointer<QWidget> &w : HiddenByToggle())
    if (w)
      w->show();
  HiddenByToggle().clear();
  // What a hidden window left out is filled in now it shows.
  UpdateFloatingWindowsNow();
}

void RecordWindowSettings() {
  SaveAtomPickerWindowPrefs();
  for (const Floating &f : Floatings()) {
    if (!f.window)
      continue;
    if (f.info.savedVisible)
      *f.info.savedVisible = f.window->isVisible() ? 1 : 0;
    if (f.info.savedFrame) {
      // A window with its own visibility flag keeps its frame when hidden;
      // otherwise only a window that shows keeps it, and the next start
      // reopens the windows with a frame.
      const QRect g = f.window->frameGeometry();
      const bool keep = f.window->isVisible() || f.info.savedVisible;
      *f.info.savedFrame = keep ? MakeRect(g.left(), g.top(), g.right() + 1, g.bottom() + 1) : Rect{};
    }
    if (f.info.record)
      f.info.record();
  }
}

void AddWindowOpener(std::function<void()> opener) { Openers().push_back(std::move(opener)); }

void OpenWindows() {
  for (const auto &opener : Openers())
    opener();
}

// ---- Hand-drawn lists -----------------------------------------------------------

namespace {
class HandDrawnListFilter : public QObject {
public:
  HandDrawnListFilter(QWidget *pane, HandDrawnListCallbacks callbacks)
      : QObject(pane), pane_(pane), callbacks_(std::move(callbacks)) {}
  bool eventFilter(QObject *, QEvent *event) override {
    switch (event->type()) {
    case QEvent::Paint: {
      if (!callbacks_.paint)
        return false;
      QPainter p(pane_);
      callbacks_.paint(p);
      return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease: {
      auto *mouse = static_cast<QMouseEvent *>(event);
      auto &callback = event->type() == QEvent::MouseButtonPress ? callbacks_.press : callbacks_.release;
      if (!callback)
        return false;
      // A Ctrl-click is the secondary click: it goes on to the window's menu.
      if (event->type() == QEvent::MouseButtonPress && (mouse->modifiers() & Qt::ControlModifier))
        return false;
      if (mouse->button() == Qt::LeftButton)
        callback(mouse->position().toPoint());
      return true;
    }
    case QEvent::Wheel: {
      if (!callbacks_.scroll)
        return false;
      const int delta = static_cast<QWheelEvent *>(event)->angleDelta().y();
      if (delta != 0)
        callbacks_.scroll(delta > 0 ? kControlUpButtonPart : kControlDownButtonPart);
      return true;
    }
    default: return false;
    }
  }

private:
  QWidget *pane_;
  HandDrawnListCallbacks callbacks_;
};
} // namespace

void InstallHandDrawnList(QWidget *pane, HandDrawnListCallbacks callbacks) {
  if (!pane)
    return;
  pane->setAttribute(Qt::WA_OpaquePaintEvent);
  pane->installEventFilter(new HandDrawnListFilter(pane, std::move(callbacks)));
}

void SetListScrollBar(QScrollBar *bar, int minimum, int maximum, int value, int page) {
  if (!bar)
    return;
  const QSignalBlocker block(bar);
  bar->setRange(minimum, maximum);
  bar->setPageStep(page);
  bar->setValue(value);
  bar->setEnabled(minimum < maximum);
}

int ScrollListByPart(QScrollBar *bar, int part) {
  if (!bar)
    return 1;
  if (part == kControlUpButtonPart)
    bar->setValue(std::max(bar->value() - 1, 0));
  else if (part == kControlDownButtonPart)
    bar->setValue(bar->value() + 1);
  return bar->value();
}
