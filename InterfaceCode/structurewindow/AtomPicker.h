// The element picker: a floating palette of ten element buttons from which
// the add-atom tool takes the element of every atom it adds. One button is
// the active one; presets fill the buttons with the elements of a family of
// structures; a contextual menu (or a press held for a second) on a button
// replaces its element from a short menu, a typed symbol or none. Each
// button shows a disc in its element's colour. The buttons, the active
// element and the palette's place persist in the preferences.
#pragma once

#include "HostServices.h"
#include "Utilities.h"

#include <QDialog>
#include <QToolButton>
#include <QTimer>
#include <functional>

class QMenu;
class QAction;

inline constexpr int kAtomPickerButtons = 10;
// A press held this long opens the element menu.
inline constexpr int kAtomPickerHoldMs = 1000;
// The element menu opens this far right of the mouse.
inline constexpr int kAtomPickerMenuOffset = 8;

// Codes of the element menu's two commands.
inline constexpr uint32_t kCmdOtherElement = FourCharsToLong("Othr");
inline constexpr uint32_t kCmdNoElement = FourCharsToLong("Null");

// One element button: the standard button with the element's colour disc.
class ElementButton : public QToolButton {
public:
  explicit ElementButton(QWidget *parent = nullptr);
  // The disc's rectangle in the button: diameter height - 12, 6 pixels below
  // the top, its right edge 7 pixels inside the button's.
  QRect DiscRect() const;
  // The press-and-hold timer, armed by a press on the button.
  QTimer &HoldTimer() { return hold_; }
  // The held press after a second: the element menu when the button is
  // still down and the mouse still over it.
  void MouseStillDownTimerProc();

protected:
  void paintEvent(QPaintEvent *) override;
  void mousePressEvent(QMouseEvent *) override;
  void mouseReleaseEvent(QMouseEvent *) override;
  void mouseMoveEvent(QMouseEvent *) override;
  void contextMenuEvent(QContextMenuEvent *) override;

private:
  QTimer hold_;
  bool down_ = false;
  QPoint last_;
};

// The palette; null until first shown.
extern QWidget *gAtomPickerWindow;
// The element menu "ElementMenuShort".
extern QMenu *gAtomPickerElementMenu;
// The active button, 1 to 10; below 1 for none.
extern int gAtomPickerActiveButtonID;

// The presets, ten entries each; two blanks stand for an empty button.
extern const ElementCode gPresetOrganic[kAtomPickerButtons];
extern const ElementCode gPresetSilicates[kAtomPickerButtons];
extern const ElementCode gPresetCarbonates[kAtomPickerButtons];
extern const ElementCode gPresetHalides[kAtomPickerButtons];

// Shows the palette, making it on first use, and brings it to the front.
void DoShowAtomPickerWindow();
// The active button's element; false when there is no palette, no active
// button or the active button is empty.
bool GetAtomPickerElementChoice(ElementCode *element);
// Redraws the buttons (their discs follow the front structure); the host's
// `UpdateAtomPicker` comes here.
void RedrawAtomPicker();
// Stores the ten buttons (two blanks for an empty one) and the active
// element in the preferences.
void SaveAtomPickerWindowPrefs();
void DoPresetButtons(const ElementCode list[kAtomPickerButtons]);
void DoChangeActiveElementButton(int id);
// The element menu for a button (1 to 10) and what its choice does.
void DoContextualClickOnElementButton(int id);
// Runs the "OtherPicker" dialog; true with the typed symbol on OK.
bool GetOtherElementSymbol(QString *text);
// One or two characters, the first "A" to "Z" and the second "a" to "z";
// "OH" too.
bool VerifyElementText(const QString &text);
// A button of the palette by number; null without a palette.
ElementButton *AtomPickerButton(int id);
// The palette's commands: the presets and "Use1" to "UseA". They act and
// are still passed on.
int32_t AtomPickerCommand(uint32_t command);
// Joins the palette's commands, its menu command and its start-up opener to
// the program (choosing the add-atom tool shows the palette too:
// ToolbarCommands.h). Once at start-up.
void InstallAtomPicker();

// What the palette asks of a later window, and how it runs its menus and
// dialogs: the defaults open the menu or run the dialog modally; tests
// answer them.
struct AtomPickerHooks {
  // The floating tool window, beside which the palette first opens (the
  // toolbars install it); null or a null answer while there is none.
  QWidget *(*toolWindow)() = nullptr;
  // Opens the menu at a global point; the chosen action or null.
  std::function<QAction *(QMenu *, const QPoint &)> popUpMenu;
  // Runs a dialog modally; its result code.
  std::function<int(QDialog *)> runModal;
};
extern AtomPickerHooks gAtomPickerHooks;

// The "OtherPicker" dialog: a symbol field (control 3) and OK and Cancel.
class OtherPickerDialog : public QDialog {
public:
  explicit OtherPickerDialog(QWidget *parent = nullptr);
  QString GetElementText() const;
  void SetElementText(const QString &text);
  // The OK command: alerts on an invalid symbol and stays; else accepts.
  void Ok();
};
