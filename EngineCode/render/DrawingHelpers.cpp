#include "render/DrawingHelpers.h"

#include "graphics/GraphicsPort.h"
#include "graphics/ImageCopy.h"
#include "graphics/PictureResources.h"
#include "render/DashedLines.h"
#include "render/RasterPrimitives.h"
#include "render/RenderGlobals.h"
#include "render/StippleNoise.h"

#include <vector>

using namespace ovgfx;

namespace {

// Corner radius of the rounded rectangle in units of the oval size.
constexpr float kRoundedCornerRadius = 0.5f;

// Tiles the picture over the rectangle, clipped to it within the port's
// clip; the clip is restored.
void TilePicture(GraphicsPort &port, const PixelBuffer &picture, const Rect &rect) {
  const Region savedClip = port.Clip();
  port.SetClip(savedClip.Intersected(Region(rect)));
  const int w = picture.Width(), h = picture.Height();
  for (int top = rect.top; top < rect.bottom; top += h)
    for (int left = rect.left; left < rect.right; left += w)
      CopyPixels(picture, port, picture.Bounds(), MakeRect(left, top, left + w, top + h), kCopySource);
  port.SetClip(savedClip);
}

} // namespace

void MyDrawLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, RGBColor colour, int16_t width) {
  if (UseSmoothDrawing()) {
    if (width == 1)
      MyDrawSmoothLine(x1, y1, x2, y2, colour);
    else
      MyDrawRealSmoothThickLine(float(x1), float(y1), float(x2), float(y2), width, colour);
    return;
  }
  GraphicsPort *port = CurrentPort();
  if (!port)
    return;
  port->PenSize(width, width);
  port->SetForeColor(colour);
  port->MoveTo(x1, y1);
  port->LineTo(x2, y2);
  port->PenNormal();
}

void MyDrawDashedLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, RGBColor colour) {
  const int16_t period = ScaledToPlotRes(kDashPeriodAt72);
  if (UseSmoothDrawing())
    MyDrawSmoothDashedLine(x1, y1, x2, y2, colour, colour, 1, period, kDashFraction);
  else
    QDrawDashedLine(x1, y1, x2, y2, colour, colour, 1, period, kDashFraction);
}

void MyDrawDottedLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, RGBColor colour) {
  const int16_t period = ScaledToPlotRes(kDotPeriodAt72);
  if (UseSmoothDrawing())
    MyDrawSmoothDashedLine(x1, y1, x2, y2, colour, colour, 1, period, kDashFraction);
  else
    QDrawDashedLine(x1, y1, x2, y2, colour, colour, 1, period, kDashFraction);
}

void InitQDPenSize() {
  GraphicsPort *port = CurrentPort();
  if (!port)
    return;
  port->PenSize(2, 2);
  port->MoveTo(0, 0);
  port->LineTo(0, 0);
  port->PenSize(1, 1);
}

void RandomFillPolygon(const Polygon &polygon, RGBColor colour, float density) {
  GraphicsPort *port = CurrentPort();
  if (!port)
    return;
  port->ErasePolygon(polygon);
  const Region inside = Region::FromPolygon(polygon);
  const Rect box = inside.Bounds();
  const int d = gPlotRes < kStippleDotsPerCellPixel ? 1 : gPlotRes / kStippleDotsPerCellPixel;
  std::vector<Rect> cells;
  StippleNoise noise(box.left, box.top, box.Width());
  for (int top = box.top; top < box.bottom; top += d)
    for (int left = box.left; left < box.right; left += d)
      if (noise.Next() < density)
        cells.push_back(MakeRect(left, top, left + d, top + d));
  const RGBColor savedFore = port->ForeColor();
  port->SetForeColor(colour);
  port->PaintRegion(Region::FromRects(cells).Intersected(inside));
  port->SetForeColor(savedFore);
}

void AddRoundedRectToPath(Painter &painter, const PainterRect &rect, float ovalWidth, float ovalHeight) {
  if (ovalWidth == 0.0f || ovalHeight == 0.0f) {
    painter.AddRect(rect);
    return;
  }
  painter.SaveState();
  painter.TranslateCTM(rect.x, rect.y);
  painter.ScaleCTM(ovalWidth, ovalHeight);
  const float fw = rect.width / ovalWidth;
  const float fh = rect.height / ovalHeight;
  painter.MoveToPoint(fw, fh / 2);
  painter.AddArcToPoint(fw, fh, fw / 2, fh, kRoundedCornerRadius); // top right
  painter.AddArcToPoint(0, fh, 0, fh / 2, kRoundedCornerRadius);   // top left
  painter.AddArcToPoint(0, 0, fw / 2, 0, kRoundedCornerRadius);    // bottom left
  painter.AddArcToPoint(fw, 0, fw, fh / 2, kRoundedCornerRadius);  // bottom right
  painter.ClosePath();
  painter.RestoreState();
}

void MyCGClipToQDPort(Painter &painter) {
  GraphicsPort *port = CurrentPort();
  if (!port)
    return;
  const Rect box = port->Clip().Bounds();
  painter.ClipToRect(PainterRect{float(box.left), 0.0f, float(box.Width()), float(box.Height())});
}

bool MyCentrePictID(int16_t id, const Rect &rect) {
  const PixelBuffer *picture = GetPictureResource(id);
  if (!picture)
    return false;
  GraphicsPort *port = CurrentPort();
  if (!port)
    return true;
  const int w = picture->Width(), h = picture->Height();
  const int left = (rect.left + rect.right) / 2 - w / 2;
  const int top = (rect.top + rect.bottom) / 2 - h / 2;
  const Rect frame = SectRect(MakeRect(left, top, left + w, top + h), rect);
  if (!frame.IsEmpty())
    CopyPixels(*picture, *port, picture->Bounds(), frame, kCopySource);
  return true;
}

void MyTilePictID(int16_t id, const Rect &rect) {
  GraphicsPort *port = CurrentPort();
  const PixelBuffer *picture = GetPictureResource(id);
  if (port && picture)
    TilePicture(*port, *picture, rect);
}

void MyTilePict(const PixelBuffer *picture, const Rect &rect) {
  GraphicsPort *port = CurrentPort();
  if (port && picture)
    TilePicture(*port, *picture, rect);
}
