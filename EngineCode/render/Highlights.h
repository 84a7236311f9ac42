// Marks the mouse tools draw over the graph pane: highlighted atoms and
// polyhedra, double-stroked (optionally dashed) lines and paths, crosses,
// squares, arrowheads and outlined labels for distances and angles.
//
// Highlights never enter the plotted image. Each primitive appends items to
// the window's overlay list, which the graph pane paints over the image
// (anti-aliased, clipped to the pane) and which goes whenever the pane is
// refreshed from the image or a subtitle is shown. Points are in window
// coordinates (atom pixel positions plus the pane's top-left corner), y
// down. Main thread only.
#pragma once

#include "BasicTypes.h"
#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>
#include <string>
#include <vector>

struct HiliteRGBA {
  float r = 0, g = 0, b = 0, a = 1;
  friend bool operator==(const HiliteRGBA &, const HiliteRGBA &) = default;
};

// One drawn item of the overlay.
struct HiliteItem {
  enum Kind : uint8_t { kStroke, kFill, kText } kind = kStroke;
  // kStroke and kFill: a polyline (x, y pairs), closed or not.
  std::vector<float> points;
  bool closed = false;
  HiliteRGBA colour;
  float width = 1.0f;
  // Dash lengths in pixels, drawn and skipped in turn, and the phase;
  // empty for a solid line.
  std::vector<float> dashes;
  float dashPhase = 0.0f;
  bool roundCapsAndJoins = false;
  // kText: an outlined label. The text's origin sits at (x, y), turned by
  // `angle` (radians, clockwise on screen); the text box starts at x0 (0,
  // -w/2 or -w by the alignment) and its baseline at -baselineOffset.
  std::string text;
  std::string font;
  float size = 11.0f;
  float x = 0, y = 0, angle = 0;
  uint16_t alignment = 0; // 0 left, 1 centred, 65535 right
  float baselineOffset = 0;
  HiliteRGBA fill, stroke;
  float strokeWidth = 2.5f;
};

inline constexpr HiliteRGBA kHiliteYellow{1.0f, 1.0f, 0.0f, 0.5f};
inline constexpr const char *kHiliteFont = "Geneva";
inline constexpr float kHiliteLabelSize = 11.0f;
inline constexpr uint16_t kAlignLeft = 0, kAlignCentre = 1, kAlignRight = 65535;

// The window's overlay, painted after the image; empty for none.
const std::vector<HiliteItem> &GetHiliteOverlay(WindowRef window);
// Drops the window's overlay (the pane was refreshed from its image).
void ClearHiliteOverlay(WindowRef window);

// Main and contrast colours: white and black when the structure's highlight
// colour has red in it, else black and white. False without a structure.
bool GetHiliteColorsForWindow(WindowRef window, HiliteRGBA *main, HiliteRGBA *contrast);
// The direction from (x0, y0) to (x1, y1) in radians, 0 to 2 pi, with y up.
float GetBearing(float x0, float y0, float x1, float y1);

void HiliteLine(WindowRef window, Point p1, Point p2, bool dashed);
void HilitePath(WindowRef window, const Point *points, int32_t count, bool dashed);
void HiliteCross(WindowRef window, Point p);
void HiliteSquare(WindowRef window, Point p);
void HiliteOpenSquare(WindowRef window, Point p);
void HiliteArrowhead(WindowRef window, Point tip, Point other);
void HiliteBond(WindowRef window, int32_t atomA, int32_t atomB, bool dashed, bool arrows);
void HiliteSphere(WindowRef window, int32_t atom, float radius, bool withLabel);
void HilitePoly(WindowRef window, int32_t atom, bool withLabel);
void HiliteAtom(WindowRef window, int32_t atom);
void DrawHiliteString(WindowRef window, const std::string &text, float x, float y, float angle, HiliteRGBA fill,
                      HiliteRGBA stroke, const char *font, float size, uint16_t alignment, float baselineOffset);
void WriteLineDistance(WindowRef window, Point p1, Point p2, float distance, float size);
void WriteBondDistance(WindowRef window, int32_t atomA, int32_t atomB, float size);
void WriteLineAngle(WindowRef window, Point p1, Point vertex, Point p3, float angle, float size);
void WriteBondAngle(WindowRef window, int32_t atomA, int32_t atomB, int32_t atomC, float angle);
void WriteTorsionAngle(WindowRef window, int32_t atomA, int32_t atomB, int32_t atomC, int32_t atomD, float angle);
