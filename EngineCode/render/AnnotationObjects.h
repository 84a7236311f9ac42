// Annotation objects drawn over the plotted structure: text boxes (with an
// optional pointer line), lines (with optional arrowheads) and scale bars.
//
// An object's positions are fractions of the drawing area (x of its width,
// y of its height, origin top-left); they are the truth. The pixel fields
// (`pixel1`, `pixel2`, `boxRect`) are caches that every drawing at unit
// scale rewrites; handles, hit tests and refresh rectangles read them. A
// scale bar's `boxRect` (its label) follows every drawing.
//
// Every drawing routine takes the structure, the drawing area, the scale
// (output pixels per window pixel) and the target: 1 the window's own
// image (selection handles only there), 3 a pen-only target (arrowheads
// drawn with the pen), any other value like 1 without handles. Drawing goes
// to the current port.
#pragma once

#include "BasicTypes.h"
#include "HostServices.h"
#include "RGBColor.h"
#include "StructureRecord.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int16_t kAnnotationTargetWindow = 1;
inline constexpr int16_t kAnnotationTargetPenOnly = 3;
// Handle squares and their colour.
inline constexpr int kControlHandleHalf = 3;
inline constexpr RGBColor kKnobColor{0x9999, 0x9999, 0xBBBB};
// Unit scale: drawing strictly inside these bounds refreshes the caches.
inline constexpr float kUnitScaleLow = 0.99f;
inline constexpr float kUnitScaleHigh = 1.01f;
// Text lines: at most this many characters, spaced 1.25 x the size.
inline constexpr int kMaxTextLineLength = 255;
inline constexpr float kTextLineSpacing = 1.25f;

// The drawn family of an annotation font number; any number not in the
// registry (and the old "Geneva" numbers) give DejaVu Sans.
const char *AnnotationFontFamily(int16_t fontNumber);
// The font number of a family name; 1 (DejaVu Sans) for a family not in the
// registry.
int16_t AnnotationFontNumber(std::string_view family);

// r(x): rounded to the nearest integer, halves away from zero.
int32_t RoundAnnotation(float x);

void DrawAnnotationObject(CrystalRec *crystal, const Rect &area, float scale, int16_t target, int32_t index);
void DrawAnnotationObject2(CrystalRec *crystal, const Rect &area, float scale, int16_t target, int32_t index);
void DrawAnnotationObjectShadow(CrystalRec *crystal, const Rect &area, float scale, int16_t target, int32_t index);

// One line from `from` to `to` with 0, 1 (at `to`) or 2 (at `to`, then at
// `from`) arrowheads, anti-aliased and clipped to the area; target 3 draws
// with the pen (`DrawLineArrow`).
void DrawSmoothLineArrow(Point from, Point to, RGBColor colour, int heads, const Rect &area, float width,
                         int16_t target);
void DrawLineArrow(Point from, Point to, RGBColor colour, int heads, float width);

// Where the segment a-b enters the rectangle from each end, walked one
// pixel at a time along its major axis; true when the last point tested
// lies in the rectangle.
bool GetLineRectIntercepts(const Rect &rect, Point a, Point b, Point *outA, Point *outB);

// One laid-out line of a word-wrapped text.
struct JustifiedLine {
  std::string utf8;
  int32_t x = 0;        // left end of the line
  int32_t baseline = 0; // y of the baseline
};
// Breaks the text into lines for the rectangle in the current port's font
// (last space of a line, character 13, at most 255 characters) and places
// them by the justification (1 left, 2 centred, 3 or 4 right).
std::vector<JustifiedLine> LayoutJustifiedText(std::u16string_view text, int justification, const Rect &rect);
// Draws the laid-out text in the port's fore colour.
void MyDrawJustifiedText(std::u16string_view text, int justification, const Rect &rect);

// Handles of a selected object (target 1 only).
void HiliteTextBox(const TextBoxRecord &box);
void DrawControlHandle(const Rect &rect);
// The eight resize handles of a text box: top-left, top-centre, top-right,
// middle-left, middle-right, bottom-left, bottom-centre, bottom-right.
void GetTextBoxControlRects(const TextBoxRecord &box, Rect rects[8]);
void GetTextBoxTipRect(const TextBoxRecord &box, Rect *rect);
void GetTextBoxAnchorRect(const TextBoxRecord &box, Rect *rect);
// The anchor point of a rectangle for an anchor code (outside 1 to 8 gives
// right-bottom).
Point AnchorPointOfRect(const Rect &rect, int anchor);

// The pixel rectangle the object covers.
void GetAnnotationObjectBounds(const TextBoxRecord &box, Rect *rect);

// Rescales the window's objects as side-by-side stereo is entered or left.
void AdjustAnnotationToStereoMode(WindowRef window);

// The label of a scale bar of `length` Angstrom in the ruler units.
std::string ScaleBarLabel(float length, uint8_t rulerUnits);
