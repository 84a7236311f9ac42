// The notes pane: the rich text of each structure window's sidebar, the
// Text menu's commands on it, and the form the notes are saved in.
//
// Beside the size, font, colour and justification Qt keeps, every run of
// text carries three attributes of our own in its character format: the
// style bits (`kFaceProperty`: bold 1, italic 2, underline 4, outline 8,
// shadow 16, condense 32, extend 64), the baseline shift in points, positive
// up (`kCrossShiftProperty`) and the horizontal shift before the character
// in points (`kBeforeShiftProperty`).
#pragma once

#include "HostServices.h"
#include "RGBColor.h"
#include "Utilities.h"

#include <QTextFormat>
#include <cstdint>
#include <string>

class QTextEdit;
class QMenu;

inline constexpr int kFaceProperty = QTextFormat::UserProperty + 1;
inline constexpr int kCrossShiftProperty = QTextFormat::UserProperty + 2;
inline constexpr int kBeforeShiftProperty = QTextFormat::UserProperty + 3;

enum TextFace : int { kFaceBold = 1, kFaceItalic = 2, kFaceUnderline = 4, kFaceOutline = 8, kFaceShadow = 16,
                      kFaceCondense = 32, kFaceExtend = 64 };
enum TextJustification : int { kJustDefault = 0, kJustLeft = 1, kJustRight = 2, kJustCentre = 4, kJustFull = 8 };

// The Text menu's colours, in item order.
extern const RGBColor gMenuTextColor[9];

int InitNotesPane(WindowRef window);
void ApplyDefaultNotebookStyle(WindowRef window);
void DoNotebookDefaultTextStyle();
void ClearWindowTextObject(WindowRef window);
// Appends text (UTF-8, whole) in the window's notes font; the caret and the
// view go back to the top.
void CopyCharsToNotebook(WindowRef window, const char *bytes, size_t length);
void CopyTextToNotebook(WindowRef window, const char *cString);
void CopyCFStringToNotebook(WindowRef window, const std::string &text);
void DoTextInsertCString(const char *cString);
// Appends the notes saved in our own form (see `NotesToStyledText`); a text
// that is not in that form leaves the notes unchanged. False then.
bool AppendTextObjectResource(QTextEdit *textObject, const std::string &styled);
void CheckNotebookModified(WindowRef window);

// The notes with every attribute, as a text of our own, and back.
std::string NotesToStyledText(QTextEdit *textObject);

// Commands on the selection of the front window's notes.
void DoTextStyle(int face);
void DoTextSize(float points);
void DoTextColor(const RGBColor &colour);
void DoChooseTextColor();
void DoTextJustification(int value);
void DoTextBaseline(int direction);
void DoTextBackspace();
void DoTextAddOverbar();

// Spelling in the notes, through the desktop's spell checker. The commands
// act on the front window's notes; the notes' context menu offers them.
inline constexpr uint32_t kCmdCheckSpelling = FourCharsToLong("cksp");
inline constexpr uint32_t kCmdCheckSpellingAsYouType = FourCharsToLong("aspc");
inline constexpr uint32_t kCmdChangeSpelling = FourCharsToLong("chsp"); // argument: the replacement
inline constexpr uint32_t kCmdIgnoreSpelling = FourCharsToLong("igsp");
inline constexpr uint32_t kCmdLearnSpelling = FourCharsToLong("lrwd");
// Whether the window's notes underline misspelt words as they are typed.
bool IsNotesSpellCheckingAsYouType(WindowRef window);
void SetNotesSpellCheckingAsYouType(WindowRef window, bool on);
// Selects the next misspelt word after the selection, from the top again
// when none follows; a beep when the notes have none.
void DoCheckSpelling();
// Replaces the selected word.
void DoChangeSpelling(const std::string &replacement);
// The selected word, or the one at the caret, is accepted from now on: for
// this run (ignore) or for good (learn).
void DoIgnoreSpelling();
void DoLearnSpelling();

// The notes of the front structure window; null for none.
QTextEdit *FrontNotes();
// Installs the Text menu's commands and the saved-notes hooks.
void InstallNotesCommands();
