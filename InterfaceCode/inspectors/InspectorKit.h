// The small kit the inspectors and floating windows are built from.
//
// A pane is a widget loaded from its form; its controls carry "controlID"
// (found with FindControl) and, when they send a command, the dynamic
// property "command" holding the four-character code. `ConnectPaneCommands`
// joins every such control to the pane's command handler, so that a pane's
// logic is one function over codes, as the menu commands are:
//
//   ConnectPaneCommands(pane, [](uint32_t cmd) { return MyPaneHandler(cmd); });
//   gPresets = InitPopupColorMenu(FindControl<QComboBox>(pane, 417), 17219, handler);
//   connect(FindControl<LittleArrows>(pane, 404), &LittleArrows::Stepped, ...);
//
// Floating windows register once (`RegisterFloatingWindow`) with their saved
// frame in the preferences and their refresh; the shell's floating-window
// refresh, the show/hide-all toggle and the quit-time record then cover
// them.
#pragma once

#include "shell/Commands.h"
#include "shell/WindowPlacement.h"
#include "RGBColor.h"
#include "StoredLimits.h"

#include <QPushButton>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QToolButton;
struct Rect;

// ---- Controls -------------------------------------------------------------------

// Part codes of a little-arrows control.
inline constexpr int kControlUpButtonPart = 20;
inline constexpr int kControlDownButtonPart = 21;

// Two small auto-repeating arrow buttons: each press, and each repeat while
// held, emits Stepped with the part pressed.
class LittleArrows : public QWidget {
  Q_OBJECT
public:
  explicit LittleArrows(QWidget *parent = nullptr);
  QToolButton *UpButton() const { return up_; }
  QToolButton *DownButton() const { return down_; }
signals:
  void Stepped(int part);

protected:
  void changeEvent(QEvent *event) override;

private:
  QToolButton *up_;
  QToolButton *down_;
};

// A push button showing a colour swatch; the colour comes from a getter so
// that the button always shows what the option record holds.
class ColorButton : public QPushButton {
  Q_OBJECT
public:
  explicit ColorButton(QWidget *parent = nullptr);
  void SetColorSource(std::function<RGBColor()> source) {
    source_ = std::move(source);
    update();
  }

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  std::function<RGBColor()> source_;
};

// Paints a swatch of the colour in the rectangle and frames it.
void MyDrawColorButtonContents(QPainter &painter, const QRect &rect, RGBColor colour);
// A bevel button drawn pressed or not, with the swatch inset by 4 pixels.
void MyDrawColorButton(QPainter &painter, QWidget *button, const QRect &rect, RGBColor colour, bool pressed);

// Joins every control of the pane that carries a "command" property to the
// handler: buttons and check boxes on click, pop-ups on a choice, radio
// groups (a widget with the property holding radio buttons) on a click of
// any of them.
using PaneCommandHandler = std::function<OSStatus(uint32_t command)>;
void ConnectPaneCommands(QWidget *pane, PaneCommandHandler handler);
// The four-character code of a "command" text; 0 for none.
uint32_t CommandFromProperty(const QWidget *control);

// Colour preset pop-ups. The pop-up's items are "r g b" texts (0-255); each
// becomes a swatch, and choosing item N (1-based) sends the command whose
// first two characters are `prefix` and last two the digits of N. Answers the
// colours, one per item.
std::vector<RGBColor> InitPopupColorMenu(QComboBox *popup, uint16_t prefix, PaneCommandHandler handler);
uint32_t ColorMenuCommand(uint16_t prefix, int item);
// Splits a colour-menu command; false when its last two characters are not
// digits.
bool GetIndexFromColorMenuCommand(uint32_t command, uint16_t *prefix, int *index);

// The colour dialog, behind a hook so that tests answer it: true on OK with
// the chosen colour in `out`.
bool GetColor(const std::string &prompt, RGBColor in, RGBColor *out);
using ColorPicker = std::function<bool(const std::string &prompt, RGBColor in, RGBColor *out)>;
// Installs a picker; an empty one puts the Qt colour dialog back.
void SetColorPicker(ColorPicker picker);

// ---- Edit texts and pop-ups -----------------------------------------------------

// The text written with a printf format and one number, trailing zeros after
// the decimal point removed.
void SetEditTextFormat(QLineEdit *field, const char *format, double value);
void SetEditTextCString(QLineEdit *field, const std::string &text);
std::string GetEditTextCString(const QLineEdit *field);
// The leading number of the text (units after it are allowed); 0 when the
// text does not start with one.
float GetEditTextFloat(const QLineEdit *field);
int32_t GetEditTextLong(const QLineEdit *field);
// Whether the text starts with a number at all.
bool EditTextHasNumber(const QLineEdit *field);

// ---- Value fields ----------------------------------------------------------------
//
// A value field shows a stored number in its own units (a fraction as a
// percentage, a transparency as an opacity) and remembers the text it
// showed and the stored value behind it (the memory of UneditedFields.h,
// shared with the sheets). Read back while its text is still
// that text, or holds no number, it gives the stored value untouched, so
// that applying a pane nobody edited writes every value as it was. An
// edited text is read as a number in the field's units and held to the
// field's row of the table of stored limits (a value beyond stops at the
// nearest limit), so that whatever a field takes is saved and read back.
//
//   constexpr StoredField kOpacityField{stored::kOpacity, -0.01f, 1.0f, true};
//   ShowStoredValue(field, c.cloudSphereTransparency, text);
//   c.cloudSphereTransparency = StoredFieldValue(field, kOpacityField);
struct StoredField {
  StoredRange row;      // the stored value's limits
  float scale = 1.0f;   // stored = offset + shown x scale
  float offset = 0.0f;
  bool whole = false;   // a typed number is truncated to a whole one
  float Stored(float shown) const { return offset + shown * scale; }
  float Shown(float stored) const { return (stored - offset) / scale; }
  // The limits in the field's own units.
  float ShownLow() const;
  float ShownHigh() const;
};
// Sets the text and remembers it with the stored value it shows.
void ShowStoredValue(QLineEdit *field, float stored, const std::string &text);
// Whether the text differs from the one last shown (and holds a number).
bool StoredFieldEdited(const QLineEdit *field);
// The stored value last shown (0 when none was).
float ShownStoredValue(const QLineEdit *field);
// The stored value: the one shown while the text is unedited, otherwise the
// typed number converted and held to the row.
float StoredFieldValue(const QLineEdit *field, const StoredField &kind);
// A control's range from a field's limits, whole steps inside them.
void SetSliderLimits(QWidget *slider, const StoredField &kind);

// Pop-up values are 1-based item numbers, as the option records keep them.
int GetPopupValue(const QComboBox *popup);
void SetPopupValue(QComboBox *popup, int value);
// True with the 1-based item whose text equals the font name.
bool FindFontOnMenu(const QComboBox *popup, const std::string &name, int *item);

// Enables or disables the direct sub-controls of a control.
void MyEnableSubControls(QWidget *control, bool enable);
// Enables or disables the controls of the pane with these numbers.
void EnableControls(QWidget *pane, std::initializer_list<int> ids, bool enable);

// A help tag shown at once over the widget's rectangle, or at the mouse.
void MyDrawToolTipNow(QWidget *widget, const QRect &rect, const std::string &text);
void MyDrawToolTipNowAtMousePosition(const std::string &text);
// A small flat button showing an icon.
QToolButton *MakeSmallIconButton(const QIcon &icon, QWidget *parent);

// ---- Hand-drawn lists -----------------------------------------------------------

class QPainter;
class QScrollBar;

// A user pane drawn and driven by the owner: paint, press and release (left
// button, in the pane's coordinates) and wheel steps (the little-arrows part
// codes) go to the callbacks. A press and its release make one click; a
// Ctrl-click is the secondary click and goes on to the window's menu.
struct HandDrawnListCallbacks {
  std::function<void(QPainter &)> paint;
  std::function<void(QPoint)> press;
  std::function<void(QPoint)> release;
  std::function<void(int part)> scroll;
};
void InstallHandDrawnList(QWidget *pane, HandDrawnListCallbacks callbacks);
// Sets a list's scroll bar (minimum, maximum, first row shown, rows per
// page), active only when there is something to scroll.
void SetListScrollBar(QScrollBar *bar, int minimum, int maximum, int value, int page);
// One row up (part 20) or down (21) and answers the row now shown first.
int ScrollListByPart(QScrollBar *bar, int part);

// ---- Floating windows -----------------------------------------------------------

struct FloatingWindowInfo {
  QWidget *window = nullptr;
  Rect *savedFrame = nullptr;         // in the preferences: where it stood at the last quit
  uint8_t *savedVisible = nullptr;    // in the preferences, or none
  std::function<void()> update;       // the refresh when the front window changes
  bool updateOnlyWhenVisible = false; // most refresh only while showing
  std::function<void()> record;       // more settings to record at quit, or none
};
// Makes a window a floating utility window: it floats over the structure
// windows, its close box hides it, it stands at its saved frame when that
// frame is not empty, and it joins the refresh, the toggle and the record.
void RegisterFloatingWindow(const FloatingWindowInfo &info);
void UnregisterFloatingWindow(QWidget *window);
// Runs the refresh of every registered floating window.
void UpdateFloatingWindowsNow();
bool AreFloatingWindowsVisible();
// Hides the visible floating windows and remembers them, or shows the
// remembered ones again.
void DoToggleFloatingWindows();
// At quit: each floating window's frame and visibility into the preferences.
void RecordWindowSettings();
// At start-up: shows the floating windows that were showing at the last quit.
// Each window adds its opener here.
void AddWindowOpener(std::function<void()> opener);
void OpenWindows();
