// Anti-aliased vector drawing on a port's own pixels (no copy): paths of
// lines, tangent arcs, rectangles and ellipses, filled and stroked in colours
// with alpha, dashed strokes, a rectangular clip, a transform stack, and text.
//
// By default the painter works in the usual vector-drawing coordinates: the
// origin at the bottom-left corner of the port rectangle, x to the right and
// y up, one unit a pixel. Points are transformed when they are added to the
// path, so changing the transform afterwards does not move them; line widths
// and dashes are measured in the coordinates in force when the path is
// stroked. Filling or stroking consumes the path.
//
// A painter draws nothing on a 1-bit port. It does not follow the port's
// clip region: ClipToRect sets its own clip.
#pragma once

#include "GraphicsPort.h"

#include <memory>
#include <string_view>
#include <vector>

namespace ovgfx {

struct PainterRect {
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;
};

enum class PainterTextMode { kFill, kStroke, kFillStroke, kInvisible };
enum class PainterLineCap { kButt, kRound, kSquare };
enum class PainterLineJoin { kMiter, kRound, kBevel };

// Text measured in a font: advance width and line height, in pixels.
struct TextSize {
  float width = 0;
  float height = 0;
};

// The advance and line height of the text in the font family (see
// MakeFont in the graphics sources for the family stand-ins) at `size`
// points (one point a pixel), with the TextFaceBits in `face`. 0 x 0 for an
// empty family or a size that is not positive.
TextSize MeasureText(std::string_view family, float size, int face, std::string_view utf8);

class Painter {
public:
  // `yUp` false gives the port's own coordinates instead: y down, origin at
  // the port's (0, 0).
  explicit Painter(GraphicsPort &port, bool yUp = true);
  ~Painter();
  Painter(const Painter &) = delete;
  Painter &operator=(const Painter &) = delete;

  bool IsValid() const;

  // ---- State ----------------------------------------------------------------------
  // Saves and restores the transform, colours, line settings, clip, font and
  // text mode (not the path or the text position).
  void SaveState();
  void RestoreState();
  void SetShouldAntialias(bool on);
  void SetFillColor(float r, float g, float b, float alpha);
  void SetStrokeColor(float r, float g, float b, float alpha);
  void SetLineWidth(float width);
  void SetLineCap(PainterLineCap cap);
  void SetLineJoin(PainterLineJoin join);
  // Dash lengths alternate drawn and skipped; none (count 0) gives a solid
  // line; `phase` is how far into the pattern the line starts.
  void SetLineDash(float phase, const float *lengths, int count);
  void TranslateCTM(float tx, float ty);
  void ScaleCTM(float sx, float sy);
  void RotateCTM(float radians); // counter-clockwise when y is up
  // Narrows the clip to the rectangle (in current coordinates).
  void ClipToRect(const PainterRect &r);

  // ---- Paths ----------------------------------------------------------------------
  void BeginPath();
  bool IsPathEmpty() const;
  void MoveToPoint(float x, float y);
  void AddLineToPoint(float x, float y);
  // From the current point towards (x1, y1), turning along a circle of the
  // radius that touches both the line to (x1, y1) and the line from (x1, y1)
  // to (x2, y2); the path ends at the second touching point. Collinear
  // points or a radius of 0 give a straight line to (x1, y1).
  void AddArcToPoint(float x1, float y1, float x2, float y2, float radius);
  void AddRect(const PainterRect &r);
  void AddEllipseInRect(const PainterRect &r);
  void ClosePath();
  // The current point in current coordinates; false when there is none.
  bool GetPathCurrentPoint(float &x, float &y) const;

  void FillPath();   // non-zero winding rule
  void EOFillPath(); // even-odd rule
  void StrokePath();
  void FillStrokePath(); // fill, then stroke over it
  // A convex polygon of n points (x, y pairs in current coordinates), filled
  // and, when asked, stroked over; the path is left alone. Quicker than a
  // path for the many small facets of a lit mesh.
  void FillConvexPolygon(const float *xy, int n, bool stroke);
  void FillRect(const PainterRect &r);
  void StrokeRect(const PainterRect &r);
  void FillEllipseInRect(const PainterRect &r);
  void StrokeEllipseInRect(const PainterRect &r);

  // ---- Text -----------------------------------------------------------------------
  void SelectFont(std::string_view family, float size, int face = 0);
  void SetTextDrawingMode(PainterTextMode mode);
  void SetTextPosition(float x, float y);
  void GetTextPosition(float &x, float &y) const;
  // Shows the text with its baseline starting at the text position (in fill
  // colour, stroke colour or both by the text mode; nothing when invisible)
  // and moves the text position past it.
  void ShowText(std::string_view utf8);
  void ShowTextAtPoint(float x, float y, std::string_view utf8);
  // The advance of the text in the current font.
  float StringWidth(std::string_view utf8) const;
  // Draws the text in the fill colour inside the box, broken into lines at
  // word boundaries and centred horizontally, from the box's top down (in
  // y-down coordinates; the box's y is its top).
  void DrawTextBox(const PainterRect &box, std::string_view utf8);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

} // namespace ovgfx
