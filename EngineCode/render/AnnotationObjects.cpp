#include "render/AnnotationObjects.h"

#include "RenderServices.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include "graphics/GraphicsPort.h"
#include "graphics/Painter.h"
#include "graphics/Region.h"
#include "render/OffScreen.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

using ovgfx::GraphicsPort;

// Arrowheads: the notch and the wings lie this many line widths back from
// the tip; the wings spread this fraction of their distance to each side.
constexpr float kArrowNotchWidths = 8.0f;
constexpr float kArrowWingWidths = 12.0f;
constexpr float kArrowWingSpread = 0.35f;
// Shadow passes: the weight of black in each blend with the background.
constexpr float kShadowBlack1 = 0.3f;
constexpr float kShadowBlack2 = 0.6f;
// The box a scale bar's label is measured in.
constexpr int kLabelMeasureBox = 100;

struct FontEntry {
  int16_t number;
  const char *family;
};
// Font numbers stored in documents and the families drawn for them.
constexpr std::array<FontEntry, 6> kFontRegistry{{
    {1, "DejaVu Sans"},
    {2, "DejaVu Serif"},
    {3, "DejaVu Sans"}, // the old "Geneva"
    {4, "DejaVu Sans Mono"},
    {20, "DejaVu Serif"},
    {22, "DejaVu Sans Mono"},
}};
constexpr const char *kFallbackFamily = "DejaVu Sans";

bool UnitScale(float scale) { return scale > kUnitScaleLow && scale < kUnitScaleHigh; }

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      i++;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD; // a lone surrogate
    }
    if (c < 0x80) {
      out.push_back(char(c));
    } else if (c < 0x800) {
      out.push_back(char(0xC0 | (c >> 6)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(char(0xE0 | (c >> 12)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else {
      out.push_back(char(0xF0 | (c >> 18)));
      out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// A fraction of the area's size to a pixel of the area.
int32_t FracToPixel(float frac, int32_t size, int32_t origin) {
  return RoundAnnotation(frac * static_cast<float>(size)) + origin;
}

Point PointOf(const float frac[2], const Rect &area) {
  return Point{static_cast<int16_t>(FracToPixel(frac[1], area.Height(), area.top)),
               static_cast<int16_t>(FracToPixel(frac[0], area.Width(), area.left))};
}

bool InRect(Point p, const Rect &r) { return p.h >= r.left && p.h < r.right && p.v >= r.top && p.v < r.bottom; }

Rect HandleRect(int h, int v) {
  return MakeRect(h - kControlHandleHalf, v - kControlHandleHalf, h + kControlHandleHalf, v + kControlHandleHalf);
}

RGBColor BlendWithBlack(RGBColor background, float black) {
  const float keep = 1.0f - black;
  return RGBColor{static_cast<uint16_t>(keep * background.red), static_cast<uint16_t>(keep * background.green),
                  static_cast<uint16_t>(keep * background.blue)};
}

void MoveObject(TextBoxRecord &box, float dx, float dy) {
  for (float *p : {box.boxCentre, box.frac1, box.frac2}) {
    p[0] += dx;
    p[1] += dy;
  }
}

// Saves and restores the current port's colours and text settings.
struct PortStateKeeper {
  GraphicsPort *port;
  RGBColor fore, back;
  std::string font;
  int16_t size, face;
  explicit PortStateKeeper(GraphicsPort *p)
      : port(p), fore(p->ForeColor()), back(p->BackColor()), font(p->TextFont()), size(p->TextSize()),
        face(p->TextFace()) {}
  ~PortStateKeeper() {
    port->SetForeColor(fore);
    port->SetBackColor(back);
    port->SetTextFont(font);
    port->SetTextSize(size);
    port->SetTextFace(face);
    port->PenNormal();
  }
  PortStateKeeper(const PortStateKeeper &) = delete;
  PortStateKeeper &operator=(const PortStateKeeper &) = delete;
};

int32_t TextSizeFor(const TextBoxRecord &box, float scale) {
  return std::max(1, RoundAnnotation(static_cast<float>(box.fontSize) * scale));
}

void SetPortFont(GraphicsPort *port, const TextBoxRecord &box, int32_t size) {
  port->SetTextFont(AnnotationFontFamily(box.fontNumber));
  port->SetTextSize(static_cast<int16_t>(std::min<int32_t>(size, INT16_MAX)));
  port->SetTextFace(static_cast<int16_t>(box.fontStyle & 7));
}

void FrameBox(GraphicsPort *port, const Rect &r, float scale) {
  const int pen = std::max(1, RoundAnnotation(scale));
  port->PenSize(pen, pen);
  port->FrameRect(r);
  port->PenNormal();
}

namespace {

// Selection marks belong to the window's own image, and not even there
// while its frames go into a movie.
bool DrawsSelectionMarks(const TextBoxRecord &box, int16_t target) {
  return box.selected && target == kAnnotationTargetWindow && !gRecordingVideo;
}

} // namespace

void DrawAnnotationLine(CrystalRec &c, const Rect &area, float scale, int16_t target, TextBoxRecord &box) {
  const Point p1 = PointOf(box.frac1, area), p2 = PointOf(box.frac2, area);
  if (UnitScale(scale)) {
    box.pixel1 = p1;
    box.pixel2 = p2;
  }
  DrawSmoothLineArrow(p2, p1, box.textColor, box.arrowHeads, area, scale, target);
  (void)c;
  if (DrawsSelectionMarks(box, target))
    HiliteTextBox(box);
}

void DrawAnnotationTextBox(CrystalRec &, const Rect &area, float scale, int16_t target, TextBoxRecord &box) {
  GraphicsPort *port = ovgfx::CurrentPort();
  if (box.hasPointer && box.pointerTwoEnds) {
    box.boxCentre[0] = 0.5f * (box.frac1[0] + box.frac2[0]);
    box.boxCentre[1] = 0.5f * (box.frac1[1] + box.frac2[1]);
  }
  const float width = static_cast<float>(box.boxRect.Width()), height = static_cast<float>(box.boxRect.Height());
  Rect r;
  r.left = static_cast<int16_t>(
      RoundAnnotation(box.boxCentre[0] * static_cast<float>(area.Width()) - 0.5f * width * scale) + area.left);
  r.top = static_cast<int16_t>(
      RoundAnnotation(box.boxCentre[1] * static_cast<float>(area.Height()) - 0.5f * height * scale) + area.top);
  r.right = static_cast<int16_t>(r.left + RoundAnnotation(width * scale));
  r.bottom = static_cast<int16_t>(r.top + RoundAnnotation(height * scale));
  const bool unit = UnitScale(scale);
  if (unit)
    box.boxRect = r;

  PortStateKeeper keep(port);
  port->SetForeColor(box.textColor);
  port->SetBackColor(box.backColor);

  if (box.hasPointer) {
    const int heads = box.arrowHeads > 0 ? 1 : 0;
    const Point tip = PointOf(box.frac1, area);
    if (unit)
      box.pixel1 = tip;
    if (box.pointerTwoEnds) {
      const Point second = PointOf(box.frac2, area);
      if (unit)
        box.pixel2 = second;
      Point nearTip, nearSecond;
      GetLineRectIntercepts(r, tip, second, &nearTip, &nearSecond);
      DrawSmoothLineArrow(nearTip, tip, box.textColor, heads, area, scale, target);
      DrawSmoothLineArrow(nearSecond, second, box.textColor, heads, area, scale, target);
    } else {
      DrawSmoothLineArrow(AnchorPointOfRect(r, box.anchor), tip, box.textColor, heads, area, scale, target);
    }
  }
  if (box.fill)
    port->EraseRect(r);
  if (box.frame)
    FrameBox(port, r, scale);
  if (!box.text.empty()) {
    const int32_t s = TextSizeFor(box, scale);
    SetPortFont(port, box, s);
    Rect textRect = InsetRect(r, s / 3, s / 3);
    if (!textRect.IsEmpty()) {
      textRect.right = static_cast<int16_t>(textRect.right + RoundAnnotation(scale));
      const std::u16string_view text(box.text.data(), std::min<size_t>(box.text.size(), box.textLength));
      MyDrawJustifiedText(text, box.justification, textRect);
    }
  }
  if (DrawsSelectionMarks(box, target))
    HiliteTextBox(box);
}

void DrawAnnotationScalebar(CrystalRec &c, const Rect &area, float scale, int16_t target, TextBoxRecord &box) {
  GraphicsPort *port = ovgfx::CurrentPort();
  const Point p1 = PointOf(box.frac1, area), p2 = PointOf(box.frac2, area);
  if (UnitScale(scale)) {
    box.pixel1 = p1;
    box.pixel2 = p2;
  }
  const float dx = (box.frac2[0] - box.frac1[0]) * static_cast<float>(area.Width());
  const float dy = (box.frac2[1] - box.frac1[1]) * static_cast<float>(area.Height());
  const float length = c.plotScale > 0.0f ? std::sqrt(dx * dx + dy * dy) / c.plotScale : 0.0f;
  const std::string label = ScaleBarLabel(length, c.rulerUnits);

  PortStateKeeper keep(port);
  const int32_t s = TextSizeFor(box, scale);
  SetPortFont(port, box, s);
  port->SetForeColor(box.textColor);
  port->SetBackColor(box.backColor);

  // The label's size as laid out in a 100 x 100 box.
  const std::u16string label16 = [&] {
    std::u16string out;
    for (size_t i = 0; i < label.size(); i++) {
      const unsigned char ch = static_cast<unsigned char>(label[i]);
      if (ch == 0xC3 && i + 1 < label.size()) { // the one non-ASCII letter: "Å"
        out.push_back(static_cast<char16_t>(0xC0 | (static_cast<unsigned char>(label[++i]) & 0x3F)));
      } else {
        out.push_back(static_cast<char16_t>(ch));
      }
    }
    return out;
  }();
  const std::vector<JustifiedLine> lines =
      LayoutJustifiedText(label16, 2, MakeRect(0, 0, kLabelMeasureBox, kLabelMeasureBox));
  int32_t measuredWidth = 0;
  for (const JustifiedLine &line : lines)
    measuredWidth = std::max(measuredWidth, port->TextWidth(line.utf8));
  const ovgfx::TextSize lineSize = ovgfx::MeasureText(port->TextFont(), static_cast<float>(s), port->TextFace(), "Å");
  const int32_t measuredHeight =
      static_cast<int32_t>(lineSize.height) +
      static_cast<int32_t>(std::max<size_t>(lines.size(), 1) - 1) * static_cast<int32_t>(kTextLineSpacing * s);

  const int32_t midH = (p1.h + p2.h) / 2, midV = (p1.v + p2.v) / 2;
  const int32_t halfW = (measuredWidth + 1) / 2 + s / 3, halfH = (measuredHeight + 1) / 2 + s / 3;
  const Rect labelRect = MakeRect(midH - halfW, midV - halfH, midH + halfW, midV + halfH);
  box.boxRect = labelRect;

  if (box.fill) {
    DrawSmoothLineArrow(p1, p2, box.textColor, box.arrowHeads > 0 ? 2 : 0, area, scale, target);
    port->EraseRect(labelRect);
  } else {
    Point in1, in2;
    GetLineRectIntercepts(labelRect, p1, p2, &in1, &in2);
    const int heads = box.arrowHeads > 0 ? 1 : 0;
    DrawSmoothLineArrow(in1, p1, box.textColor, heads, area, scale, target);
    DrawSmoothLineArrow(in2, p2, box.textColor, heads, area, scale, target);
  }
  if (box.frame)
    FrameBox(port, labelRect, scale);
  Rect textRect = InsetRect(labelRect, s / 3, s / 3);
  textRect.right = static_cast<int16_t>(textRect.right + RoundAnnotation(scale));
  MyDrawJustifiedText(label16, 2, textRect);
  if (DrawsSelectionMarks(box, target))
    HiliteTextBox(box);
}

// Keeps the object inside the area (fractions 0 to 1), moving its stored
// fractions.
void KeepInside(TextBoxRecord &box, const Rect &area, float scale) {
  float lo[2], hi[2];
  if (box.kind == kAnnotationTextBox) {
    const float size[2] = {static_cast<float>(box.boxRect.Width()), static_cast<float>(box.boxRect.Height())};
    const float areaSize[2] = {static_cast<float>(std::max(1, area.Width())),
                               static_cast<float>(std::max(1, area.Height()))};
    for (int d = 0; d < 2; d++) {
      const float half = 0.5f * scale * size[d] / areaSize[d];
      lo[d] = box.boxCentre[d] - half;
      hi[d] = box.boxCentre[d] + half;
      if (box.hasPointer) {
        lo[d] = std::min(lo[d], box.frac1[d]);
        hi[d] = std::max(hi[d], box.frac1[d]);
        if (box.pointerTwoEnds) {
          lo[d] = std::min(lo[d], box.frac2[d]);
          hi[d] = std::max(hi[d], box.frac2[d]);
        }
      }
    }
  } else {
    for (int d = 0; d < 2; d++) {
      lo[d] = std::min(box.frac1[d], box.frac2[d]);
      hi[d] = std::max(box.frac1[d], box.frac2[d]);
    }
  }
  for (int d = 0; d < 2; d++)
    if (hi[d] - lo[d] < 1.0f && hi[d] > 1.0f)
      for (float *p : {box.boxCentre, box.frac1, box.frac2})
        p[d] -= hi[d] - 1.0f;
  for (int d = 0; d < 2; d++)
    if (lo[d] < 0.0f)
      for (float *p : {box.boxCentre, box.frac1, box.frac2})
        p[d] -= lo[d];
}

TextBoxRecord *ObjectAt(CrystalRec *crystal, int32_t index) {
  if (!crystal || index < 0 || static_cast<size_t>(index) >= UsableRecords(crystal->textBoxes.size(), crystal->textBoxCount))
    return nullptr;
  return &crystal->textBoxes[static_cast<size_t>(index)];
}

} // namespace

const char *AnnotationFontFamily(int16_t fontNumber) {
  for (const FontEntry &e : kFontRegistry)
    if (e.number == fontNumber)
      return e.family;
  return kFallbackFamily;
}

int16_t AnnotationFontNumber(std::string_view family) {
  for (const FontEntry &e : kFontRegistry)
    if (family == e.family)
      return e.number;
  return kFontRegistry[0].number;
}

int32_t RoundAnnotation(float x) { return static_cast<int32_t>(std::lround(x)); }

std::string ScaleBarLabel(float length, uint8_t rulerUnits) {
  char text[64];
  if (rulerUnits == 1)
    std::snprintf(text, sizeof text, "%.2f Å", static_cast<double>(length));
  else
    std::snprintf(text, sizeof text, "%.3f nm", static_cast<double>(length) * 0.1);
  return text;
}

void DrawAnnotationObject(CrystalRec *crystal, const Rect &area, float scale, int16_t target, int32_t index) {
  TextBoxRecord *box = ObjectAt(crystal, index);
  if (!box || !box->visible || !ovgfx::CurrentPort())
    return;
  KeepInside(*box, area, scale);
  DrawAnnotationObjectShadow(crystal, area, scale, target, index);
  DrawAnnotationObject2(crystal, area, scale, target, index);
}

void DrawAnnotationObject2(CrystalRec *crystal, const Rect &area, float scale, int16_t target, int32_t index) {
  TextBoxRecord *box = ObjectAt(crystal, index);
  if (!box || !ovgfx::CurrentPort())
    return;
  switch (box->kind) {
  case kAnnotationTextBox:
    DrawAnnotationTextBox(*crystal, area, scale, target, *box);
    break;
  case kAnnotationLine:
    DrawAnnotationLine(*crystal, area, scale, target, *box);
    break;
  case kAnnotationScaleBar:
    DrawAnnotationScalebar(*crystal, area, scale, target, *box);
    break;
  default:
    break;
  }
}

void DrawAnnotationObjectShadow(CrystalRec *crystal, const Rect &area, float scale, int16_t target, int32_t index) {
  TextBoxRecord *box = ObjectAt(crystal, index);
  if (!box || box->shadow != 1 || area.Width() <= 0 || area.Height() <= 0)
    return;
  const uint8_t selected = box->selected;
  const RGBColor text = box->textColor, back = box->backColor;
  // The caches belong to the object as drawn, not to its shadow.
  const Point pixel1 = box->pixel1, pixel2 = box->pixel2;
  const Rect boxRect = box->boxRect;
  box->selected = 0;
  const float dx = scale / static_cast<float>(area.Width()), dy = scale / static_cast<float>(area.Height());

  MoveObject(*box, 2.0f * dx, 2.0f * dy);
  box->textColor = box->backColor = BlendWithBlack(crystal->backgroundColor, kShadowBlack1);
  DrawAnnotationObject2(crystal, area, scale, target, index);
  box = ObjectAt(crystal, index);
  MoveObject(*box, -dx, -dy);
  box->textColor = box->backColor = BlendWithBlack(crystal->backgroundColor, kShadowBlack2);
  DrawAnnotationObject2(crystal, area, scale, target, index);
  box = ObjectAt(crystal, index);
  MoveObject(*box, -dx, -dy);

  box->textColor = text;
  box->backColor = back;
  box->selected = selected;
  box->pixel1 = pixel1;
  box->pixel2 = pixel2;
  if (box->kind == kAnnotationTextBox)
    box->boxRect = boxRect;
}

void DrawSmoothLineArrow(Point from, Point to, RGBColor colour, int heads, const Rect &area, float width,
                         int16_t target) {
  if (target == kAnnotationTargetPenOnly) {
    DrawLineArrow(from, to, colour, heads, width);
    return;
  }
  GraphicsPort *port = ovgfx::CurrentPort();
  if (!port)
    return;
  ovgfx::Painter painter(*port, false);
  if (!painter.IsValid())
    return;
  painter.ClipToRect(ovgfx::PainterRect{float(area.left), float(area.top), float(area.Width()), float(area.Height())});
  painter.SetShouldAntialias(true);
  painter.SetLineWidth(width);
  painter.SetLineJoin(ovgfx::PainterLineJoin::kMiter);
  const float r = colour.red / 65535.0f, g = colour.green / 65535.0f, b = colour.blue / 65535.0f;
  painter.SetFillColor(r, g, b, 1.0f);
  painter.SetStrokeColor(r, g, b, 1.0f);
  painter.BeginPath();
  painter.MoveToPoint(from.h, from.v);
  painter.AddLineToPoint(to.h, to.v);
  painter.StrokePath();

  const float lx = float(to.h - from.h), ly = float(to.v - from.v);
  const float len = std::sqrt(lx * lx + ly * ly);
  if (heads <= 0 || len <= 0.0f)
    return;
  const float ux = lx / len, uy = ly / len;
  auto head = [&](float tx, float ty, float sx, float sy) {
    const float notch = kArrowNotchWidths * width, wing = kArrowWingWidths * width;
    const float spread = kArrowWingSpread * wing;
    const float nx = tx - sx * notch, ny = ty - sy * notch;
    const float wx = tx - sx * wing, wy = ty - sy * wing;
    for (int pass = 0; pass < 2; pass++) {
      painter.BeginPath();
      painter.MoveToPoint(nx, ny);
      painter.AddLineToPoint(wx - sy * spread, wy + sx * spread);
      painter.AddLineToPoint(tx, ty);
      painter.AddLineToPoint(wx + sy * spread, wy - sx * spread);
      painter.ClosePath();
      if (pass == 0)
        painter.StrokePath();
      else
        painter.FillPath();
    }
  };
  head(float(to.h), float(to.v), ux, uy);
  if (heads >= 2)
    head(float(from.h), float(from.v), -ux, -uy);
}

void DrawLineArrow(Point from, Point to, RGBColor colour, int heads, float width) {
  GraphicsPort *port = ovgfx::CurrentPort();
  if (!port)
    return;
  const RGBColor fore = port->ForeColor();
  port->SetForeColor(colour);
  const int pen = std::max(1, RoundAnnotation(width));
  const int half = pen / 2;
  port->PenSize(pen, pen);
  if (heads <= 0 || (from == to)) {
    port->MoveTo(from.h - half, from.v - half);
    port->LineTo(to.h - half, to.v - half);
  } else {
    for (int k = 0; k < std::min(heads, 2); k++) {
      const Point a = k == 0 ? from : to, b = k == 0 ? to : from;
      const float lx = float(b.h - a.h), ly = float(b.v - a.v);
      const float len = std::sqrt(lx * lx + ly * ly);
      const float ux = lx / len, uy = ly / len;
      const float notch = kArrowNotchWidths * width, wing = kArrowWingWidths * width;
      const float spread = kArrowWingSpread * wing;
      const int nh = RoundAnnotation(b.h - ux * notch), nv = RoundAnnotation(b.v - uy * notch);
      if (k == 0) {
        port->MoveTo(a.h - half, a.v - half);
        port->LineTo(nh - half, nv - half);
      }
      const float wx = b.h - ux * wing, wy = b.v - uy * wing;
      ovgfx::Polygon head;
      head.Add(nh, nv);
      head.Add(RoundAnnotation(wx - uy * spread), RoundAnnotation(wy + ux * spread));
      head.Add(b.h, b.v);
      head.Add(RoundAnnotation(wx + uy * spread), RoundAnnotation(wy - ux * spread));
      head.Add(nh, nv);
      port->PenNormal();
      port->PaintPolygon(head);
      port->FramePolygon(head);
      port->PenSize(pen, pen);
    }
  }
  port->PenNormal();
  port->SetForeColor(fore);
}

bool GetLineRectIntercepts(const Rect &rect, Point a, Point b, Point *outA, Point *outB) {
  const int32_t dh = b.h - a.h, dv = b.v - a.v;
  const bool alongH = std::abs(dh) > std::abs(dv); // ties walk along v
  const int32_t major = alongH ? dh : dv;
  const int32_t steps = std::abs(major);
  const float slope = major != 0 ? static_cast<float>(alongH ? dv : dh) / static_cast<float>(major) : 0.0f;
  bool inside = false;
  auto walk = [&](Point start, int32_t sign, Point *out) {
    Point p = start;
    for (int32_t step = 0; step <= steps; step++) {
      const int32_t m = sign * step;
      const int32_t minor = static_cast<int32_t>(static_cast<float>(m) * slope);
      if (alongH)
        p = Point{static_cast<int16_t>(start.v + minor), static_cast<int16_t>(start.h + m)};
      else
        p = Point{static_cast<int16_t>(start.v + m), static_cast<int16_t>(start.h + minor)};
      inside = InRect(p, rect);
      if (inside)
        break;
    }
    if (out)
      *out = p;
  };
  const int32_t sign = major >= 0 ? 1 : -1;
  walk(a, sign, outA);
  walk(b, -sign, outB);
  return inside;
}

std::vector<JustifiedLine> LayoutJustifiedText(std::u16string_view text, int justification, const Rect &rect) {
  std::vector<JustifiedLine> lines;
  GraphicsPort *port = ovgfx::CurrentPort();
  if (!port || text.empty())
    return lines;
  const int32_t size = port->TextSize();
  const int32_t width = rect.Width();
  const bool right = justification == 3 || justification == 4;
  int32_t baseline = rect.top + size;
  auto emit = [&](std::u16string_view line) {
    JustifiedLine out;
    out.utf8 = ToUtf8(line);
    const int32_t w = port->TextWidth(out.utf8);
    if (justification == 2)
      out.x = (rect.left + rect.right - w) / 2;
    else if (right)
      out.x = rect.right - w;
    else
      out.x = rect.left;
    out.baseline = baseline;
    lines.push_back(std::move(out));
    baseline += static_cast<int32_t>(kTextLineSpacing * static_cast<float>(size));
  };
  std::u16string line;
  int32_t breakAt = -1; // index in `line` of its last space
  for (size_t i = 0; i < text.size(); i++) {
    const char16_t ch = text[i];
    if (ch == 0)
      continue;
    if (ch == 13) {
      emit(line);
      line.clear();
      breakAt = -1;
      continue;
    }
    line.push_back(ch);
    if (ch == u' ')
      breakAt = static_cast<int32_t>(line.size()) - 1;
    const bool full = static_cast<int32_t>(line.size()) >= kMaxTextLineLength;
    if (port->TextWidth(ToUtf8(line)) <= width && !full)
      continue;
    if (breakAt >= 0) {
      // The line ends at its last space, which stays at its end except
      // with right alignment; what follows the space begins the next line.
      const std::u16string rest = line.substr(static_cast<size_t>(breakAt) + 1);
      emit(std::u16string_view(line).substr(0, static_cast<size_t>(right ? breakAt : breakAt + 1)));
      line = rest;
    } else if (line.size() > 1) {
      // No break point: the character that did not fit begins the next line.
      const char16_t last = line.back();
      line.pop_back();
      emit(line);
      line.assign(1, last);
    } else {
      emit(line); // one character wider than the box stands alone
      line.clear();
    }
    breakAt = -1;
    for (size_t k = 0; k < line.size(); k++)
      if (line[k] == u' ')
        breakAt = static_cast<int32_t>(k);
  }
  if (!line.empty())
    emit(line);
  return lines;
}

void MyDrawJustifiedText(std::u16string_view text, int justification, const Rect &rect) {
  GraphicsPort *port = ovgfx::CurrentPort();
  if (!port)
    return;
  for (const JustifiedLine &line : LayoutJustifiedText(text, justification, rect)) {
    port->MoveTo(line.x, line.baseline);
    port->DrawString(line.utf8);
  }
}

Point AnchorPointOfRect(const Rect &r, int anchor) {
  const int16_t midH = static_cast<int16_t>((r.left + r.right) / 2), midV = static_cast<int16_t>((r.top + r.bottom) / 2);
  switch (anchor) {
  case 1: return Point{r.top, r.left};
  case 2: return Point{midV, r.left};
  case 3: return Point{r.bottom, r.left};
  case 4: return Point{r.top, midH};
  case 5: return Point{midV, midH};
  case 6: return Point{r.bottom, midH};
  case 7: return Point{r.top, r.right};
  case 8: return Point{midV, r.right};
  default: return Point{r.bottom, r.right};
  }
}

void GetTextBoxControlRects(const TextBoxRecord &box, Rect rects[8]) {
  const Rect &r = box.boxRect;
  const int midH = (r.left + r.right) / 2, midV = (r.top + r.bottom) / 2;
  const int hs[8] = {r.left, midH, r.right, r.left, r.right, r.left, midH, r.right};
  const int vs[8] = {r.top, r.top, r.top, midV, midV, r.bottom, r.bottom, r.bottom};
  for (int k = 0; k < 8; k++)
    rects[k] = HandleRect(hs[k], vs[k]);
}

void GetTextBoxTipRect(const TextBoxRecord &box, Rect *rect) {
  if (rect)
    *rect = HandleRect(box.pixel1.h, box.pixel1.v);
}

void GetTextBoxAnchorRect(const TextBoxRecord &box, Rect *rect) {
  if (!rect)
    return;
  if (box.kind == kAnnotationTextBox && !box.pointerTwoEnds) {
    if (box.anchor < 1 || box.anchor > 9) {
      *rect = HandleRect(0, 0);
      return;
    }
    const Point p = AnchorPointOfRect(box.boxRect, box.anchor);
    *rect = HandleRect(p.h, p.v);
  } else {
    *rect = HandleRect(box.pixel2.h, box.pixel2.v);
  }
}

void DrawControlHandle(const Rect &rect) {
  GraphicsPort *port = ovgfx::CurrentPort();
  if (!port)
    return;
  const RGBColor fore = port->ForeColor();
  port->SetForeColor(kRGBBlack);
  port->PaintRect(OffsetRect(rect, 1, 1));
  port->SetForeColor(kKnobColor);
  port->PaintRect(rect);
  port->SetForeColor(fore);
}

void HiliteTextBox(const TextBoxRecord &box) {
  GraphicsPort *port = ovgfx::CurrentPort();
  if (!port)
    return;
  if (box.kind == kAnnotationTextBox) {
    const RGBColor fore = port->ForeColor();
    port->SetForeColor(kKnobColor);
    port->SetPenPattern(ovgfx::kHalfStipplePattern);
    Rect frame = box.boxRect;
    frame.right = static_cast<int16_t>(frame.right + 1);
    frame.bottom = static_cast<int16_t>(frame.bottom + 1);
    port->FrameRect(frame);
    port->PenNormal();
    port->SetForeColor(fore);
    Rect handles[8];
    GetTextBoxControlRects(box, handles);
    for (const Rect &h : handles)
      DrawControlHandle(h);
  }
  if (box.hasPointer) {
    Rect r;
    GetTextBoxTipRect(box, &r);
    DrawControlHandle(r);
    GetTextBoxAnchorRect(box, &r);
    DrawControlHandle(r);
  }
}

void GetAnnotationObjectBounds(const TextBoxRecord &box, Rect *rect) {
  if (!rect)
    return;
  auto widen = [](Rect &r, Point p) {
    r.left = std::min(r.left, p.h);
    r.right = std::max(r.right, p.h);
    r.top = std::min(r.top, p.v);
    r.bottom = std::max(r.bottom, p.v);
  };
  Rect r;
  if (box.kind == kAnnotationLine) {
    r = MakeRect(box.pixel1.h, box.pixel1.v, box.pixel1.h, box.pixel1.v);
    widen(r, box.pixel2);
  } else {
    r = box.boxRect;
    if (box.kind == kAnnotationScaleBar || box.hasPointer)
      widen(r, box.pixel1);
    if (box.kind == kAnnotationScaleBar || (box.hasPointer && box.pointerTwoEnds))
      widen(r, box.pixel2);
  }
  *rect = r;
}

void AdjustAnnotationToStereoMode(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  const bool sideBySide = c->stereoOn && c->stereoMode == kSideBySideStereo;
  c->plotScale = sideBySide ? c->plotScale * 0.5f : c->plotScale * 2.0f;
  const size_t n = UsableRecords(c->textBoxes.size(), c->textBoxCount);
  for (size_t k = 0; k < n; k++) {
    TextBoxRecord &box = c->textBoxes[k];
    Rect &r = box.boxRect;
    if (sideBySide) {
      box.fontSize = static_cast<uint16_t>(box.fontSize / 2);
      r.right = static_cast<int16_t>((r.left + r.right) / 2);
      r.bottom = static_cast<int16_t>((r.top + r.bottom) / 2);
      for (float *p : {box.boxCentre, box.frac1, box.frac2})
        p[1] = p[1] * 0.5f + 0.25f;
    } else {
      box.fontSize = static_cast<uint16_t>(std::min(2 * box.fontSize, 0xFFFF));
      r.right = static_cast<int16_t>(2 * r.right - r.left);
      r.bottom = static_cast<int16_t>(2 * r.bottom - r.top);
      for (float *p : {box.boxCentre, box.frac1, box.frac2})
        p[1] = std::clamp(p[1] * 2.0f - 0.5f, 0.0f, 1.0f);
    }
  }
}
