#include "render/TextDrawing.h"

#include "graphics/GraphicsPort.h"

#include <cmath>
#include <string_view>

using namespace ovgfx;

namespace {

constexpr double kDegreesToRadians = 0.0174532925199;
// The size of the measuring pass of the rotated text, in points.
constexpr float kRotatedTextProbeSize = 48.0f;
constexpr const char *kRotatedTextFont = "Lucida Grande";

std::string_view View(const char *text) { return text ? std::string_view(text) : std::string_view(); }

void SetFill(Painter &painter, const RGBColor &c) {
  painter.SetFillColor(c.red / 65535.0f, c.green / 65535.0f, c.blue / 65535.0f, 1.0f);
}

} // namespace

namespace ovrender {
void CFStringGetSize(const char *text, const char *fontName, float size, float &width, float &height) {
  const TextSize measured = MeasureText(View(fontName), size, 0, View(text));
  width = measured.width;
  height = measured.height;
}
} // namespace ovrender

float CGContextGetStringWidth(Painter &painter, const char *text) {
  float x0, y0, x1, y1;
  painter.SaveState();
  painter.SetTextDrawingMode(PainterTextMode::kInvisible);
  painter.GetTextPosition(x0, y0);
  painter.ShowText(View(text));
  painter.GetTextPosition(x1, y1);
  painter.SetTextPosition(x0, y0);
  painter.RestoreState();
  return x1 - x0;
}

void MyDrawATSUTextBox(const char *text, const char *fontFamily, float size, int16_t styleBits, RGBColor colour,
                       const Rect &rect) {
  GraphicsPort *port = CurrentPort();
  if (!port)
    return;
  Painter painter(*port, false);
  // Style bits 1, 2 and 4 are the face bits bold, italic and underline.
  painter.SelectFont(View(fontFamily), size, styleBits & (kFaceBold | kFaceItalic | kFaceUnderline));
  SetFill(painter, colour);
  painter.DrawTextBox(PainterRect{float(rect.left), float(rect.top), float(rect.Width()), float(rect.Height())},
                      View(text));
}

void MyDrawCentredRotatedText(const char *text, RGBColor colour, float angle, int16_t shadowOffset) {
  GraphicsPort *port = CurrentPort();
  if (!port || View(text).empty())
    return;
  const double radians = angle * kDegreesToRadians;
  const double c = std::fabs(std::cos(radians)), s = std::fabs(std::sin(radians));
  const TextSize probe = MeasureText(kRotatedTextFont, kRotatedTextProbeSize, kFaceBold, View(text));
  const double turnedWidth = probe.width * c + probe.height * s;
  const double turnedHeight = probe.width * s + probe.height * c;
  if (!(turnedWidth > 0) || !(turnedHeight > 0))
    return;
  const Rect &pr = port->PortRect();
  const double fit = std::min(pr.Width() / turnedWidth, pr.Height() / turnedHeight);
  const float size = float(std::floor(kRotatedTextProbeSize * fit));
  if (size < 1.0f)
    return;
  const TextSize measured = MeasureText(kRotatedTextFont, size, kFaceBold, View(text));

  Painter painter(*port, false);
  painter.SelectFont(kRotatedTextFont, size, kFaceBold);
  const float cx = (pr.left + pr.right) / 2.0f, cy = (pr.top + pr.bottom) / 2.0f;
  // One pixel of slack on each side keeps the box from breaking the line.
  const PainterRect box{-measured.width / 2 - 1, -measured.height / 2, measured.width + 2, measured.height};
  auto drawAt = [&](float dy, const RGBColor &ink) {
    painter.SaveState();
    painter.TranslateCTM(cx, cy + dy);
    painter.RotateCTM(float(-radians)); // y runs down here: a negative turn is counter-clockwise
    SetFill(painter, ink);
    painter.DrawTextBox(box, View(text));
    painter.RestoreState();
  };
  if (shadowOffset != 0) {
    drawAt(-float(shadowOffset), kRGBWhite);
    drawAt(float(shadowOffset), kRGBBlack);
  }
  drawAt(0, colour);
}
