// A drawing port: the pixels it draws into and the drawing state the
// renderer sets between calls (origin, clip, fore and back colours, pen size,
// pen position, pen mode with its operation colour, pen pattern, text font,
// size and face), with the shape drawing of the program's classic drawing
// style: pen lines and framed, painted, erased and pattern-filled rectangles,
// ovals, arcs, polygons and regions.
//
// Pen rule: the pen is a rectangle of the pen size whose top-left corner
// follows the path, so a pen line hangs below and to the right of the ideal
// line and a framed shape lies wholly inside the shape.
//
// Every drawing call honours the clip region and the pixel bounds. "Paint"
// and "frame" draw with the pen (its pattern and mode), "erase" fills in the
// background colour, "fill" uses a given pattern in copy mode.
#pragma once

#include "GraphicsTypes.h"
#include "PixelBuffer.h"
#include "Region.h"

#include <memory>
#include <string>
#include <string_view>

namespace ovgfx {

class PictureRecorder;

enum PenMode : int16_t {
  kPenCopy = 0,  // the pattern's colour replaces the pixel
  kPenBlend = 1, // each channel becomes colour * w + pixel * (1 - w), w = operation colour / 65535
};

// Text face bits.
enum TextFaceBits : int16_t { kFaceBold = 1, kFaceItalic = 2, kFaceUnderline = 4 };

class GraphicsPort {
public:
  // An off-screen port that owns its pixels: depth 1 or 32, bounds as given,
  // cleared to white, clip wide open. Null when the pixels cannot be made.
  static std::unique_ptr<GraphicsPort> NewOffscreen(const Rect &bounds, int depth);
  // A port drawing into pixels owned by the caller, which must outlive it.
  explicit GraphicsPort(PixelBuffer *pixels);
  // A port without pixels, whose drawing only a picture records.
  explicit GraphicsPort(const Rect &portRect);
  ~GraphicsPort();
  GraphicsPort(const GraphicsPort &) = delete;
  GraphicsPort &operator=(const GraphicsPort &) = delete;

  PixelBuffer *Pixels() { return pixels_; }
  const PixelBuffer *Pixels() const { return pixels_; }
  const Rect &PortRect() const { return portRect_; }
  // Gives the port's top-left corner the local coordinates (h, v); the
  // pixels keep their place, the clip keeps its coordinates.
  void SetOrigin(int h, int v);

  const Region &Clip() const { return clip_; }
  void SetClip(const Region &clip) { clip_ = clip; }
  void ClipRect(const Rect &r) { clip_ = Region(r); }

  const RGBColor &ForeColor() const { return fore_; }
  const RGBColor &BackColor() const { return back_; }
  const RGBColor &OpColor() const { return opColor_; }
  void SetForeColor(const RGBColor &c) { fore_ = c; }
  void SetBackColor(const RGBColor &c) { back_ = c; }
  void SetOpColor(const RGBColor &c) { opColor_ = c; }

  // ---- Pen --------------------------------------------------------------------
  int PenWidth() const { return penWidth_; }
  int PenHeight() const { return penHeight_; }
  PenMode GetPenMode() const { return penMode_; }
  const Pattern &PenPattern() const { return penPattern_; }
  Point PenLocation() const { return penLoc_; }
  void PenSize(int width, int height) {
    penWidth_ = width;
    penHeight_ = height;
  }
  void SetPenMode(PenMode mode) { penMode_ = mode; }
  void SetPenPattern(const Pattern &p) { penPattern_ = p; }
  // Pen 1 x 1, copy mode, solid pattern; the pen position stays.
  void PenNormal();
  void MoveTo(int h, int v) { penLoc_ = Point{int16_t(v), int16_t(h)}; }
  void Move(int dh, int dv) { MoveTo(penLoc_.h + dh, penLoc_.v + dv); }
  // A pen line from the pen position to (h, v), both ends included; the pen
  // then stands at (h, v). A pen of zero width or height draws nothing.
  void LineTo(int h, int v);

  // ---- Text state -------------------------------------------------------------
  const std::string &TextFont() const { return fontName_; }
  int16_t TextSize() const { return textSize_; }
  int16_t TextFace() const { return textFace_; }
  void SetTextFont(std::string_view name) { fontName_ = std::string(name); }
  void SetTextSize(int16_t size) { textSize_ = size; }
  void SetTextFace(int16_t face) { textFace_ = face; }
  // Draws the text with its baseline at the pen position in the fore colour,
  // anti-aliased, and moves the pen past it.
  void DrawString(std::string_view utf8);
  // The advance of the text in the port's font, whole pixels.
  int TextWidth(std::string_view utf8) const;

  // ---- Shapes -----------------------------------------------------------------
  void PaintRect(const Rect &r);
  void EraseRect(const Rect &r);
  void FrameRect(const Rect &r);
  void FillRect(const Rect &r, const Pattern &pattern);

  void PaintOval(const Rect &r);
  void EraseOval(const Rect &r);
  void FrameOval(const Rect &r);
  void FillOval(const Rect &r, const Pattern &pattern);
  // The part of the framed oval between two angles in degrees: 0 points up
  // (12 o'clock), positive angles turn clockwise, and 45 degrees points at
  // the rectangle's top-right corner whatever its proportions.
  void FrameArc(const Rect &r, int startAngle, int arcAngle);

  void PaintPolygon(const Polygon &p);
  void ErasePolygon(const Polygon &p);
  void FramePolygon(const Polygon &p);
  void FillPolygon(const Polygon &p, const Pattern &pattern);

  void PaintRegion(const Region &r);
  void EraseRegion(const Region &r);
  void FrameRegion(const Region &r);
  void FillRegion(const Region &r, const Pattern &pattern);

  // Sets one pixel to the colour (copy mode) when it lies inside the pixels
  // and the clip.
  void SetPixel(int h, int v, const RGBColor &colour);

  // The picture recording this port's drawing; null for none (PictWriter.h).
  PictureRecorder *Recorder() const { return recorder_; }
  void SetPictureRecorder(PictureRecorder *recorder) { recorder_ = recorder; }

  // The pixels a draw can reach: the clip within the pixel bounds.
  Region VisibleRegion() const;
  // Their bounding rectangle; empty without pixels.
  Rect VisibleBounds() const;

  // How a shape's pixels are coloured: pattern bits select the fore or back
  // colour, written in the given mode.
  struct Ink {
    Pattern pattern = kSolidPattern;
    RGBColor fore;
    RGBColor back;
    PenMode mode = kPenCopy;
    RGBColor op;
  };
  Ink PenInk() const { return Ink{penPattern_, fore_, back_, penMode_, opColor_}; }
  Ink EraseInk() const { return Ink{kSolidPattern, back_, back_, kPenCopy, opColor_}; }
  Ink FillInk(const Pattern &p) const { return Ink{p, fore_, back_, kPenCopy, opColor_}; }
  // Draws the region's visible pixels with the ink.
  void DrawRegion(const Region &shape, const Ink &ink);
  // Draws one span per row (see Region::FromRowSpans) with the ink.
  void DrawRowSpans(int top, const std::vector<std::pair<int, int>> &spans, const Ink &ink);

private:
  void DrawSpan(int y, int x0, int x1, const Ink &ink);

  std::unique_ptr<PixelBuffer> owned_;
  PixelBuffer *pixels_ = nullptr;
  Rect portRect_;
  Region clip_;
  RGBColor fore_ = kRGBBlack;
  RGBColor back_ = kRGBWhite;
  RGBColor opColor_ = kRGBBlack;
  int penWidth_ = 1;
  int penHeight_ = 1;
  PenMode penMode_ = kPenCopy;
  Pattern penPattern_ = kSolidPattern;
  Point penLoc_;
  std::string fontName_ = "Lucida Grande";
  int16_t textSize_ = 12;
  int16_t textFace_ = 0;
  PictureRecorder *recorder_ = nullptr;
};

// The port drawing goes to when no port is named: set by whoever draws, one
// at a time, on the main thread.
GraphicsPort *CurrentPort();
void SetCurrentPort(GraphicsPort *port);

// Makes a port current for its lifetime and restores the previous one.
class PortSaver {
public:
  explicit PortSaver(GraphicsPort *port) : previous_(CurrentPort()) { SetCurrentPort(port); }
  ~PortSaver() { SetCurrentPort(previous_); }
  PortSaver(const PortSaver &) = delete;
  PortSaver &operator=(const PortSaver &) = delete;

private:
  GraphicsPort *previous_;
};

} // namespace ovgfx
