// Making and changing the annotation objects of a structure window on the
// graph: the Add Annotation commands, turning atom labels into text boxes,
// selecting, moving, duplicating and deleting the selected objects, and the
// two drags (all selected objects, or one object or one of its handles).
//
// Positions are fractions of the drawing area; the moves change only the
// fractions and leave the pixel caches to the next drawing at unit scale.
// The drags are state machines fed by the arrow tool's press, move and
// release: the dragged objects leave the image, which is rebuilt without
// them, and are drawn straight into the window's screen image at each step
// until the release puts them back into the rebuilt image. Main thread only.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>

// The four commands' codes.
inline constexpr uint32_t kCmdAddAnnotationTextbox = 0x2B416E54;   // '+AnT'
inline constexpr uint32_t kCmdAddAnnotationLine = 0x2B416E4C;      // '+AnL'
inline constexpr uint32_t kCmdAddAnnotationScalebar = 0x2B416E53;  // '+AnS'
inline constexpr uint32_t kCmdConvertLabelsToTextboxes = 0x4C547842; // 'LTxB'

// Half the distance between the two points of a new line or scale bar.
inline constexpr int kNewLineHalfLength = 100;
// A new text box: extra width and height over its text inset.
inline constexpr int kNewTextBoxExtraWidth = 100;
inline constexpr int kNewTextBoxExtraHeight = 20;
// A converted label is at least this wide.
inline constexpr int kMinLabelBoxWidth = 20;

void AddAnnotationTextbox(WindowRef window);
void AddAnnotationLine(WindowRef window);
void AddAnnotationScalebar(WindowRef window);
void ConvertAtomLabelsToTextboxes(WindowRef window);

// Selects (moving the object to the end of the array, `*index` following
// it) or deselects the object at `*index`.
void SelectTextBox(CrystalRec *crystal, int32_t *index, bool flag);
// The last selected object of the window's structure; null for none.
TextBoxRecord *GetFrontSelectedTextBox(WindowRef window);
// Moves the selected objects by pixels of the drawing area; no replot.
void MoveSelectedTextBoxes(WindowRef window, int dh, int dv);
void DuplicateSelectedTextBoxes(WindowRef window, int dh, int dv);
// Deletes the selected objects; true (after a replot) when any went.
bool DeleteSelectedTextBoxes(WindowRef window);
// True when the window point lies on a selected visible object's handle
// (`*onHandle` set) or in the band around a selected text box.
bool MouseOverTextBox(Point point, WindowRef window, bool *onHandle);

// The drags. `DoMoveSelectedTextBoxes` and `DoManipulateTextBox` start one
// at the press point (window coordinates); the arrow tool then feeds the
// moves and the release.
void DoMoveSelectedTextBoxes(WindowRef window, Point start);
void DoManipulateTextBox(WindowRef window, int32_t index, int16_t part, Point start);
bool IsTextBoxDragActive();
void TextBoxDragMove(WindowRef window, Point point);
void TextBoxDragEnd(WindowRef window);

// Joins the four commands to the command chain; once at start-up.
void InstallAnnotationCommands();
