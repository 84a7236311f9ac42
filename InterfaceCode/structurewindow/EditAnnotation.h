// The Edit Annotation window: a floating window that shows and edits the
// style of the front structure window's selected annotation object. Its
// state, `gEditAnnotation`, is also the style new objects take.
#pragma once

#include "HostServices.h"
#include "RGBColor.h"
#include "StoredLimits.h"

#include <cstdint>
#include <optional>
#include <string>

struct PrefsRecord;
class QWidget;

struct EditAnnotationRecord {
  std::optional<std::u16string> editText; // text of a text box; none when none
  int16_t editKind = 0; // 0 none ("Empty Selection"), 1 text box, 2 line, 3 scale bar
  int16_t editFont = 1;
  int16_t editSize = 12;
  uint16_t editJustification = 1; // 1 left, 2 centred, 3 right
  RGBColor editTextColor = kRGBBlack;
  RGBColor editBackColor = kRGBWhite;
  uint8_t editShadow = 0;
  uint8_t editBold = 0, editItalic = 0, editUnderline = 0;
  uint8_t editFill = 0;
  uint8_t editFrame = 0;
  uint8_t editPointer = 0;
  uint8_t editTwoEnds = 0;
  uint16_t editAnchor = 9;
  uint8_t editArrowHeads = 0;
  uint8_t editDoubleArrow = 0;
};
extern EditAnnotationRecord gEditAnnotation;

// Sizes a text box accepts, and the window-options dialog's size arrows.
inline constexpr int kMinAnnotationSize = 1;
inline constexpr int kMaxAnnotationSize = 255;
inline constexpr int kMinOptionsFontSize = kMinTextStyleSize;
inline constexpr int kMaxOptionsFontSize = kMaxTextStyleSize;
// Pointer placement by anchor: the near and the far offsets in pixels.
inline constexpr int kPointerNear = 20;
inline constexpr int kPointerFar = 30;

// The style bits of the state: 1 bold, 2 italic, 4 underline.
uint16_t EditAnnotationFontStyle();
// Copies the preferences' annotation defaults into the state (clearing its
// text), and the state's back into the preferences.
void CopyPrefsToEditAnnotation(const PrefsRecord &prefs);
void CopyEditAnnotationToPrefs(PrefsRecord *prefs);

void DoShowEditAnnotationWindow();
// Reloads the state from the front window's last selected object; nothing
// while the window has not been made.
void UpdateEditAnnotationWindow();
void UpdateAnnotationObject(int16_t kind);
// The window's commands ('Bold', 'tCol', 'ok  ', ...); -9874 for others.
int32_t EditAnnotationCommand(uint32_t command);
void DoEditAnnotationApplyButton();
void ApplyEditAnnotation();
// The window, once made; null before.
QWidget *EditAnnotationWindow();
// One step of a font-size arrow (+1 or -1) on the size field of a
// window-options dialog, clamped to 5..256.
void StepWindowOptionsSize(QWidget *sizeField, int delta);

// Joins "*EdA" and the window's commands; once at start-up.
void InstallEditAnnotation();
