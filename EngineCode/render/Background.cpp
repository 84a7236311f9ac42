#include "render/Background.h"

#include "Alerts.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "graphics/GraphicsPort.h"
#include "graphics/ImageCopy.h"
#include "render/DrawingHelpers.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <memory>

using namespace ovgfx;

namespace {

// Gradient bands are drawn with a pen of this size.
constexpr int kBandPen = 2;

struct BackgroundCache {
  std::weak_ptr<void> picture; // what the background was made from
  bool hadPicture = false;
  OVImageHandle image;
  uint32_t width = 0, height = 0;
  uint32_t style = 0;
  float angle = 0.0f, scale = 0.0f;
  uint8_t gradientOn = 0;
  uint16_t pictureMode = 0;
  RGBColor background, colour1, colour2;
};
BackgroundCache gCachedBackground;
uint64_t gCacheBuilds = 0;

// A colour as three floats in 0..1, stepped band by band.
struct FloatColour {
  float c[3];
  explicit FloatColour(const RGBColor &rgb)
      : c{float(rgb.red) / 65535.0f, float(rgb.green) / 65535.0f, float(rgb.blue) / 65535.0f} {}
  void Add(const float step[3]) {
    for (int i = 0; i < 3; ++i)
      c[i] = std::clamp(c[i] + step[i], 0.0f, 1.0f);
  }
  RGBColor ToRGB() const {
    return RGBColor{uint16_t(std::clamp(c[0], 0.0f, 1.0f) * 65535.0f),
                    uint16_t(std::clamp(c[1], 0.0f, 1.0f) * 65535.0f),
                    uint16_t(std::clamp(c[2], 0.0f, 1.0f) * 65535.0f)};
  }
};

void Steps(const RGBColor &from, const RGBColor &to, float divisor, float step[3]) {
  const FloatColour a(from), b(to);
  for (int i = 0; i < 3; ++i)
    step[i] = (b.c[i] - a.c[i]) / divisor;
}

int RoundAway(double v) { return v < 0 ? -int(std::floor(-v + 0.5)) : int(std::floor(v + 0.5)); }

// A point turned about (cx, cy) by a (radians), screen coordinates.
void Turn(double cx, double cy, double x, double y, double a, int &outX, int &outY) {
  const double dx = x - cx, dy = y - cy;
  outX = RoundAway(cx + dx * std::cos(a) - dy * std::sin(a));
  outY = RoundAway(cy + dx * std::sin(a) + dy * std::cos(a));
}

void BandLine(GraphicsPort *port, double cx, double cy, double halfLength, double y, double a) {
  int x0, y0, x1, y1;
  Turn(cx, cy, cx - halfLength, y, a, x0, y0);
  Turn(cx, cy, cx + halfLength, y, a, x1, y1);
  port->MoveTo(x0, y0);
  port->LineTo(x1, y1);
}

void LinearGradient(GraphicsPort *port, bool mirrored, RGBColor c1, RGBColor c2, float angleDeg, float scale,
                    const Rect &rect) {
  const double a = angleDeg * kDegToRad;
  const double W = rect.Width(), H = rect.Height();
  const double L = W * std::sin(std::fabs(a)) + H * std::cos(std::fabs(a));
  const double band = W * std::cos(std::fabs(a)) + H * std::sin(std::fabs(a));
  if (!(L > 0.0))
    return;
  const double cx = (rect.left + rect.right) / 2.0, cy = (rect.top + rect.bottom) / 2.0;
  const float S = float(L) * scale;
  port->PenSize(kBandPen, kBandPen);
  if (!mirrored) {
    float step[3];
    Steps(c1, c2, S, step);
    FloatColour colour(c1);
    if (scale > 1.0f) {
      float shift[3];
      Steps(c1, c2, 1.0f, shift);
      for (float &s : shift)
        s = s * (scale - 1.0f) / (2.0f * scale);
      colour.Add(shift);
    }
    const int first = int(L / 2.0 - S / 2.0), last = int(L / 2.0 + S / 2.0);
    const double top = cy - int(L / 2.0);
    for (int i = 0; i < L; ++i) {
      port->SetForeColor(colour.ToRGB());
      BandLine(port, cx, cy, band / 2.0, top + i, a);
      if (i >= first && i <= last)
        colour.Add(step);
    }
  } else {
    if (scale < 1.0f) {
      port->SetForeColor(c2);
      port->PaintRect(rect);
    }
    float step[3];
    Steps(c2, c1, S / 2.0f, step);
    FloatColour colour(c2);
    const int n = int(S / 2.0f);
    for (int k = 0; k <= n; ++k) {
      port->SetForeColor(colour.ToRGB());
      BandLine(port, cx, cy, band / 2.0, cy - (n - k), a);
      BandLine(port, cx, cy, band / 2.0, cy + (n - k), a);
      colour.Add(step);
    }
  }
}

void RadialGradient(GraphicsPort *port, RGBColor c1, RGBColor c2, float scale, const Rect &rect) {
  const double W = rect.Width(), H = rect.Height();
  const double R = scale * std::sqrt(W * W + H * H) / 2.0;
  if (scale < 1.0f) {
    port->SetForeColor(c2);
    port->PaintRect(rect);
  }
  if (!(R > 0.0))
    return;
  const double cx = (rect.left + rect.right) / 2.0, cy = (rect.top + rect.bottom) / 2.0;
  float step[3];
  Steps(c2, c1, float(R), step);
  FloatColour colour(c2);
  Rect oval = MakeRect(RoundAway(cx - R), RoundAway(cy - R), RoundAway(cx + R), RoundAway(cy + R));
  port->PenNormal();
  for (int n = 0; n < R && !oval.IsEmpty(); ++n) {
    port->SetForeColor(colour.ToRGB());
    port->FrameOval(oval);
    oval = InsetRect(oval, 1, 1);
    colour.Add(step);
  }
}

void SquareGradient(GraphicsPort *port, RGBColor c1, RGBColor c2, float angleDeg, float scale, const Rect &rect) {
  port->SetForeColor(c2);
  port->PaintRect(rect);
  const double a = angleDeg * kDegToRad;
  const double W = rect.Width(), H = rect.Height();
  const double R = scale * std::min(W, H) / 2.0 / std::max(std::fabs(std::cos(a)), std::fabs(std::sin(a)));
  if (!(R > 0.0))
    return;
  const double cx = (rect.left + rect.right) / 2.0, cy = (rect.top + rect.bottom) / 2.0;
  float step[3];
  Steps(c2, c1, float(R), step);
  FloatColour colour(c2);
  port->PenSize(kBandPen, kBandPen);
  int drawn = 0;
  for (int r = int(R); drawn < R && r >= 0; --r, ++drawn) {
    port->SetForeColor(colour.ToRGB());
    const double pts[4][2] = {{cx - r, cy}, {cx, cy - r}, {cx + r, cy}, {cx, cy + r}};
    Polygon outline;
    for (int k = 0; k <= 4; ++k) {
      int x, y;
      Turn(cx, cy, pts[k % 4][0], pts[k % 4][1], a, x, y);
      outline.Add(x, y);
    }
    port->FramePolygon(outline);
    colour.Add(step);
  }
}

const PixelBuffer *Picture(const CrystalRec &c) {
  return static_cast<const PixelBuffer *>(c.backgroundPictureImage.get());
}

uint16_t NormalisedPictureMode(CrystalRec &c) {
  c.backgroundPictureMode = std::clamp(c.backgroundPictureMode, kFirstPictureMode, kLastPictureMode);
  return c.backgroundPictureMode;
}

bool SameOwner(const std::weak_ptr<void> &a, const OVImageHandle &b) {
  return !a.owner_before(b) && !b.owner_before(a);
}

bool CacheValid(const CrystalRec &c, const Rect &rect) {
  const BackgroundCache &k = gCachedBackground;
  const bool hasPicture = c.backgroundPictureImage != nullptr;
  return k.image && k.hadPicture == hasPicture &&
         (!hasPicture || (!k.picture.expired() && SameOwner(k.picture, c.backgroundPictureImage))) &&
         k.width == uint32_t(rect.Width()) && k.height == uint32_t(rect.Height()) && k.style == c.gradientStyle &&
         k.angle == c.gradientAngle && k.scale == c.gradientScale && k.gradientOn == c.backgroundGradient &&
         k.pictureMode == c.backgroundPictureMode && k.background == c.backgroundColor &&
         k.colour1 == c.gradientColors[0] && k.colour2 == c.gradientColors[1];
}

// Source copy with black fore and white back colours, the port's restored.
void PlainCopy(GraphicsPort &port, const PixelBuffer &src, const Rect &from, const Rect &to) {
  const RGBColor fore = port.ForeColor(), back = port.BackColor();
  port.SetForeColor(kRGBBlack);
  port.SetBackColor(kRGBWhite);
  CopyPixels(src, port, from, to, kCopySource);
  port.SetForeColor(fore);
  port.SetBackColor(back);
}

} // namespace

void DrawSimpleBackgroundIntoRect(bool gradientOn, RGBColor background, RGBColor colour1, RGBColor colour2,
                                  uint32_t style, float angle, float scale, const Rect &rect) {
  GraphicsPort *port = CurrentPort();
  if (!port)
    return;
  const RGBColor savedFore = port->ForeColor();
  const Region savedClip = port->Clip();
  port->ClipRect(rect);
  if (gradientOn && (style < kFirstGradientStyle || style > kLastGradientStyle)) {
    FWriteColor("Unknown background style - using plain background instead", kRGBRed);
    gradientOn = false;
  }
  if (!gradientOn) {
    port->SetForeColor(background);
    port->PaintRect(rect);
  } else {
    // A scale of 0 or less (or not a number) would divide by zero.
    if (!(scale >= kMinGradientScale))
      scale = kMinGradientScale;
    switch (style) {
    case 5:
    case 6:
      LinearGradient(port, style == 6, colour1, colour2, angle, scale, rect);
      break;
    case 7:
      RadialGradient(port, colour1, colour2, scale, rect);
      break;
    default:
      SquareGradient(port, colour1, colour2, angle, scale, rect);
      break;
    }
    port->PenNormal();
  }
  port->SetForeColor(savedFore);
  port->SetClip(savedClip);
}

void DrawBackgroundIntoCurrentPort(CrystalRec *crystal, const Rect &rect) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port)
    return;
  CrystalRec &c = *crystal;
  const uint16_t mode = NormalisedPictureMode(c);
  const PixelBuffer *picture = Picture(c);
  if (!picture || mode == 2 || mode == 3)
    DrawSimpleBackgroundIntoRect(c.backgroundGradient, c.backgroundColor, c.gradientColors[0], c.gradientColors[1],
                                 c.gradientStyle, c.gradientAngle, c.gradientScale, rect);
  if (!picture)
    return;
  if (mode == 1) {
    MyTilePixels(picture, rect);
    return;
  }
  const int W = rect.Width(), H = rect.Height();
  const int pw = picture->Width(), ph = picture->Height();
  Rect src = picture->Bounds(), dst = rect;
  if (mode == 2) {
    dst = OffsetRect(MakeRect(0, 0, pw, ph), (W - pw) / 2 + rect.left, (H - ph) / 2 + rect.top);
    const Rect cut = SectRect(dst, rect);
    src = MakeRect(src.left + (cut.left - dst.left), src.top + (cut.top - dst.top), src.right - (dst.right - cut.right),
                   src.bottom - (dst.bottom - cut.bottom));
    dst = cut;
  } else if (mode == 3) {
    const double pa = double(pw) / ph;
    if (pa >= double(W) / H) {
      const int h = int(W / pa);
      dst = MakeRect(rect.left, rect.top + (H - h) / 2, rect.right, rect.top + (H - h) / 2 + h);
    } else {
      const int w = int(H * pa);
      dst = MakeRect(rect.left + (W - w) / 2, rect.top, rect.left + (W - w) / 2 + w, rect.bottom);
    }
  }
  if (!dst.IsEmpty() && !src.IsEmpty())
    PlainCopy(*port, *picture, src, dst);
}

void DrawBackground(CrystalRec *crystal, const Rect &rect) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port || rect.IsEmpty())
    return;
  CrystalRec &c = *crystal;
  if (!c.backgroundPictureImage && !c.backgroundGradient) {
    const RGBColor fore = port->ForeColor();
    port->SetForeColor(c.backgroundColor);
    port->PaintRect(rect);
    port->SetForeColor(fore);
    return;
  }
  if (gOVPrinting) {
    DrawBackgroundIntoCurrentPort(&c, rect);
    return;
  }
  NormalisedPictureMode(c);
  if (!CacheValid(c, rect)) {
    BackgroundCache &k = gCachedBackground;
    k.image.reset();
    const Rect local = MakeRect(0, 0, rect.Width(), rect.Height());
    if (MakeGWorld(k.image, Rect{local.top, local.left, local.bottom, local.right}, 0) != 0 || !k.image) {
      FWriteColor("Error creating offscreen graphics world", kRGBRed);
      FWriteColor("Error caching background picture", kRGBRed);
      return;
    }
    k.picture = c.backgroundPictureImage;
    k.hadPicture = c.backgroundPictureImage != nullptr;
    k.width = uint32_t(rect.Width());
    k.height = uint32_t(rect.Height());
    k.style = c.gradientStyle;
    k.angle = c.gradientAngle;
    k.scale = c.gradientScale;
    k.gradientOn = c.backgroundGradient;
    k.pictureMode = c.backgroundPictureMode;
    k.background = c.backgroundColor;
    k.colour1 = c.gradientColors[0];
    k.colour2 = c.gradientColors[1];
    gCacheBuilds++;
    GraphicsPort cachePort(OffScreenPixels(k.image));
    PortSaver current(&cachePort);
    DrawBackgroundIntoCurrentPort(&c, local);
  }
  const PixelBuffer &cached = *OffScreenPixels(gCachedBackground.image);
  PlainCopy(*port, cached, cached.Bounds(), rect);
}

void MyTilePixels(const PixelBuffer *image, const Rect &rect) {
  GraphicsPort *port = CurrentPort();
  if (!image || !port)
    return;
  const RGBColor fore = port->ForeColor(), back = port->BackColor();
  port->SetForeColor(kRGBBlack);
  port->SetBackColor(kRGBWhite);
  MyTilePict(image, rect);
  port->SetForeColor(fore);
  port->SetBackColor(back);
}

void ClearScreen(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  const ScreenHooks &hooks = GetScreenHooks();
  GraphicsPort *port = hooks.windowPort ? hooks.windowPort(window) : nullptr;
  if (crystal && port) {
    Rect pane;
    GetWindowGraphBounds(window, &pane);
    const Rect rect{pane.top, pane.left, pane.bottom, pane.right};
    {
      PortSaver current(port);
      DrawBackground(crystal, rect);
      if (IsWindowShowingGrid(window))
        DrawGrid(window, rect);
    }
    if (hooks.windowPortChanged)
      hooks.windowPortChanged(window, rect);
  }
  DrawNoteHeaderPane(window);
}

void RefreshScreen(WindowRef window, const Rect *rect) {
  if (!IsWindowFileOpen(window))
    return;
  const ScreenHooks &hooks = GetScreenHooks();
  GraphicsPort *port = hooks.windowPort ? hooks.windowPort(window) : nullptr;
  if (!port)
    return; // no graph pane to show it in yet
  Rect ob, pane;
  GetWindowOffBounds(window, &ob);
  GetWindowGraphBounds(window, &pane);
  const Rect bounds{ob.top, ob.left, ob.bottom, ob.right};
  Rect from = bounds;
  if (rect) {
    from = SectRect(*rect, bounds);
    if (from.IsEmpty())
      return;
  }
  OVImageHandle source = GetWindowTransferBuffer(window);
  if (!source)
    source = GetWindowOffScreen(window);
  if (!source)
    return;
  const PixelBuffer *pixels = OffScreenPixels(source);
  if (!pixels) {
    FWriteColor("Error refreshing the screen - unable to access the off-world pixels", kRGBRed);
    SysBeep();
    return;
  }
  const Rect to = OffsetRect(from, pane.left, pane.top);
  {
    PortSaver current(port);
    PlainCopy(*port, *pixels, from, to);
  }
  if (hooks.windowPortChanged)
    hooks.windowPortChanged(window, to);
}

uint64_t BackgroundCacheBuilds() { return gCacheBuilds; }
void DisposeBackgroundCache() { gCachedBackground = BackgroundCache{}; }
