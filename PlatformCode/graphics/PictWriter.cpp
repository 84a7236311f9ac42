#include "PictWriter.h"

#include <QString>

#include <algorithm>
#include <cmath>

namespace ovgfx {

namespace {

// A packed row's length takes two bytes when the row has more pixels than
// this. Readers differ on whether the threshold applies to the pixel count
// or to the 32-bit row bytes; the pixel count is what ImageMagick reads.
constexpr uint32_t kWordCountPixels = 250;
// Rows shorter than this many bytes are stored unpacked.
constexpr uint32_t kMinPackedRowBytes = 8;
constexpr uint32_t kPixMapFlag = 0x8000;
constexpr uint16_t kPackPerComponent = 4;
constexpr uint16_t kRGBDirect = 16;
constexpr size_t kMaxTextBytes = 255;
// Font numbers handed out to the fonts named in a picture.
constexpr int16_t kFirstFontId = 1024;

int16_t Clamp16(int v) { return int16_t(std::clamp(v, -32767, 32767)); }

uint32_t Fixed(double v) { return uint32_t(int32_t(std::lround(v * 65536.0))); }

// Text as the picture stores it: one byte a character. ASCII stays; the few
// non-ASCII characters structure labels use have their classic codes; any
// other character becomes '?'.
std::string PictText(std::string_view utf8) {
  const QString s = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
  std::string out;
  for (QChar ch : s) {
    const char16_t u = ch.unicode();
    if (u < 0x80)
      out.push_back(char(u));
    else if (u == 0x00C5)
      out.push_back(char(0x81)); // Angstrom sign's letter
    else if (u == 0x00B0)
      out.push_back(char(0xA1)); // degree
    else if (u == 0x00B5)
      out.push_back(char(0xB5)); // micro
    else
      out.push_back('?');
    if (out.size() == kMaxTextBytes)
      break;
  }
  return out;
}

} // namespace

void PackBitsAppend(const uint8_t *bytes, size_t count, std::vector<uint8_t> &out) {
  size_t i = 0;
  while (i < count) {
    size_t run = 1;
    while (i + run < count && run < 128 && bytes[i + run] == bytes[i])
      ++run;
    if (run >= 2) {
      out.push_back(uint8_t(257 - run)); // -(run - 1)
      out.push_back(bytes[i]);
      i += run;
      continue;
    }
    size_t j = i;
    while (j < count && j - i < 128 && !(j + 1 < count && bytes[j] == bytes[j + 1]))
      ++j;
    out.push_back(uint8_t(j - i - 1));
    out.insert(out.end(), bytes + i, bytes + j);
    i = j;
  }
}

void BeginPicture(PictBytes &out, const Rect &frame, double dpi) {
  out.U16(0); // size, patched by EndPicture
  out.RectOut(frame);
  out.U16(kPictOpVersion);
  out.U16(0x02FF);
  out.U16(kPictOpHeader);
  out.U16(0xFFFE); // extended version 2
  out.U16(0);
  out.U32(Fixed(dpi));
  out.U32(Fixed(dpi));
  out.RectOut(frame);
  out.U32(0);
  out.U16(kPictOpDefHilite);
  out.U16(kPictOpClip);
  out.U16(10);
  out.RectOut(frame);
}

void EndPicture(PictBytes &out) {
  out.Align();
  out.U16(kPictOpEndPic);
  std::vector<uint8_t> &d = out.Data();
  d[0] = uint8_t(d.size() >> 8);
  d[1] = uint8_t(d.size());
}

void AppendDirectBits(PictBytes &out, const QImage &source, const Rect &dstRect, uint16_t mode, double dpi) {
  const QImage img = source.convertToFormat(QImage::Format_RGB32);
  const int w = img.width(), h = img.height();
  if (w <= 0 || h <= 0)
    return;
  const uint32_t rowBytes = uint32_t(w) * 4;
  const Rect bounds = MakeRect(0, 0, w, h);
  out.Align();
  out.U16(kPictOpDirectBitsRect);
  out.U32(0x000000FF); // base address placeholder
  out.U16(uint16_t(rowBytes | kPixMapFlag));
  out.RectOut(bounds);
  out.U16(0); // version
  out.U16(kPackPerComponent);
  out.U32(0); // pack size
  out.U32(Fixed(dpi));
  out.U32(Fixed(dpi));
  out.U16(kRGBDirect);
  out.U16(32);
  out.U16(3); // components
  out.U16(8); // bits a component
  out.U32(0); // plane bytes
  out.U32(0); // colour table
  out.U32(0); // reserved
  out.RectOut(bounds);
  out.RectOut(dstRect);
  out.U16(mode);
  std::vector<uint8_t> planes(size_t(w) * 3), packed;
  for (int y = 0; y < h; ++y) {
    const auto *row = reinterpret_cast<const uint32_t *>(img.constScanLine(y));
    if (rowBytes < kMinPackedRowBytes) {
      for (int x = 0; x < w; ++x) {
        out.U8(0);
        out.U8(uint8_t(row[x] >> 16));
        out.U8(uint8_t(row[x] >> 8));
        out.U8(uint8_t(row[x]));
      }
      continue;
    }
    for (int x = 0; x < w; ++x) {
      planes[size_t(x)] = uint8_t(row[x] >> 16);
      planes[size_t(w + x)] = uint8_t(row[x] >> 8);
      planes[size_t(2 * w + x)] = uint8_t(row[x]);
    }
    packed.clear();
    PackBitsAppend(planes.data(), planes.size(), packed);
    if (uint32_t(w) > kWordCountPixels)
      out.U16(uint16_t(packed.size()));
    else
      out.U8(uint8_t(packed.size()));
    out.Bytes(packed.data(), packed.size());
  }
  out.Align();
}

std::vector<uint8_t> EncodeDirectBitsPicture(const QImage &image, double dpi) {
  PictBytes out;
  const Rect frame = MakeRect(0, 0, image.width(), image.height());
  BeginPicture(out, frame, dpi);
  AppendDirectBits(out, image, frame, kPictSrcCopy, dpi);
  EndPicture(out);
  return std::move(out.Data());
}

// ---- Recording a port ----------------------------------------------------------------

PictureRecorder::PictureRecorder(GraphicsPort &port, const Rect &frame, double dpi)
    : port_(&port), dpi_(dpi), origin_{port.PortRect().top, port.PortRect().left}, clip_(frame) {
  BeginPicture(out_, frame, dpi);
  port.SetPictureRecorder(this);
}

PictureRecorder::~PictureRecorder() {
  if (open_ && port_)
    port_->SetPictureRecorder(nullptr);
}

std::vector<uint8_t> PictureRecorder::Close() {
  if (!open_)
    return {};
  open_ = false;
  if (port_)
    port_->SetPictureRecorder(nullptr);
  EndPicture(out_);
  return std::move(out_.Data());
}

Point PictureRecorder::Local(const GraphicsPort &port, Point p) const {
  const int dh = port.PortRect().left - origin_.h, dv = port.PortRect().top - origin_.v;
  return Point{Clamp16(p.v - dv), Clamp16(p.h - dh)};
}

Rect PictureRecorder::Local(const GraphicsPort &port, const Rect &r) const {
  const int dh = port.PortRect().left - origin_.h, dv = port.PortRect().top - origin_.v;
  return Rect{Clamp16(r.top - dv), Clamp16(r.left - dh), Clamp16(r.bottom - dv), Clamp16(r.right - dh)};
}

void PictureRecorder::Sync(const GraphicsPort &port, bool pen) {
  const Rect clip = Local(port, port.Clip().Bounds());
  if (!(clip == clip_)) {
    clip_ = clip;
    out_.U16(kPictOpClip);
    out_.U16(10);
    out_.RectOut(clip);
  }
  if (!(port.ForeColor() == fore_)) {
    fore_ = port.ForeColor();
    out_.U16(kPictOpRGBFgCol);
    out_.Colour(fore_);
  }
  if (!(port.BackColor() == back_)) {
    back_ = port.BackColor();
    out_.U16(kPictOpRGBBkCol);
    out_.Colour(back_);
  }
  if (!pen)
    return;
  if (port.PenWidth() != penW_ || port.PenHeight() != penH_) {
    penW_ = port.PenWidth();
    penH_ = port.PenHeight();
    out_.U16(kPictOpPnSize);
    out_.PointOut(Point{Clamp16(penH_), Clamp16(penW_)});
  }
  const uint16_t mode = port.GetPenMode() == kPenBlend ? kPictBlend : kPictPatCopy;
  if (mode == kPictBlend && !(port.OpColor() == op_)) {
    op_ = port.OpColor();
    out_.U16(kPictOpOpColor);
    out_.Colour(op_);
  }
  if (mode != penMode_) {
    penMode_ = mode;
    out_.U16(kPictOpPnMode);
    out_.U16(mode);
  }
  if (!(port.PenPattern() == penPat_)) {
    penPat_ = port.PenPattern();
    out_.U16(kPictOpPnPat);
    out_.Bytes(penPat_.rows, 8);
  }
}

void PictureRecorder::Line(const GraphicsPort &port, Point from, Point to) {
  if (!open_)
    return;
  Sync(port, true);
  out_.U16(kPictOpLine);
  out_.PointOut(Local(port, from));
  out_.PointOut(Local(port, to));
}

namespace {
// Fill verbs set the fill pattern first.
void FillPattern(PictBytes &out, Pattern &current, PictVerb verb, const Pattern *fill) {
  if (verb != kPictFill || !fill || *fill == current)
    return;
  current = *fill;
  out.U16(kPictOpFillPat);
  out.Bytes(current.rows, 8);
}
} // namespace

void PictureRecorder::RectShape(const GraphicsPort &port, PictVerb verb, const Rect &r, const Pattern *fill) {
  if (!open_)
    return;
  Sync(port, true);
  FillPattern(out_, fillPat_, verb, fill);
  out_.U16(uint16_t(int(kPictOpFrameRect) + int(verb)));
  out_.RectOut(Local(port, r));
}

void PictureRecorder::OvalShape(const GraphicsPort &port, PictVerb verb, const Rect &r, const Pattern *fill) {
  if (!open_)
    return;
  Sync(port, true);
  FillPattern(out_, fillPat_, verb, fill);
  out_.U16(uint16_t(int(kPictOpFrameOval) + int(verb)));
  out_.RectOut(Local(port, r));
}

void PictureRecorder::ArcShape(const GraphicsPort &port, const Rect &r, int startAngle, int arcAngle) {
  if (!open_)
    return;
  Sync(port, true);
  out_.U16(kPictOpFrameArc);
  out_.RectOut(Local(port, r));
  out_.U16(uint16_t(Clamp16(startAngle)));
  out_.U16(uint16_t(Clamp16(arcAngle)));
}

void PictureRecorder::PolyShape(const GraphicsPort &port, PictVerb verb, const Polygon &p, const Pattern *fill) {
  // A polygon's size field is 16 bits: larger ones cannot be recorded.
  if (!open_ || p.Empty() || p.Size() > 8000)
    return;
  Sync(port, true);
  FillPattern(out_, fillPat_, verb, fill);
  out_.U16(uint16_t(int(kPictOpFramePoly) + int(verb)));
  out_.U16(uint16_t(10 + 4 * p.Size()));
  out_.RectOut(Local(port, p.Bounds()));
  for (Point pt : p.Points())
    out_.PointOut(Local(port, pt));
}

void PictureRecorder::RegionShape(const GraphicsPort &port, PictVerb verb, const Region &r, const Pattern *fill) {
  if (!open_)
    return;
  for (const Rect &piece : r.Rects())
    RectShape(port, verb == kPictFrame ? kPictPaint : verb, piece, fill);
}

void PictureRecorder::Pixel(const GraphicsPort &port, int h, int v, const RGBColor &colour) {
  if (!open_)
    return;
  Sync(port, false);
  if (!(colour == fore_)) {
    fore_ = colour;
    out_.U16(kPictOpRGBFgCol);
    out_.Colour(fore_);
  }
  if (penMode_ != kPictPatCopy || !(penPat_ == kSolidPattern)) {
    penMode_ = kPictPatCopy;
    out_.U16(kPictOpPnMode);
    out_.U16(penMode_);
    penPat_ = kSolidPattern;
    out_.U16(kPictOpPnPat);
    out_.Bytes(penPat_.rows, 8);
  }
  out_.U16(uint16_t(int(kPictOpFrameRect) + int(kPictPaint)));
  out_.RectOut(Local(port, MakeRect(h, v, h + 1, v + 1)));
}

void PictureRecorder::Text(const GraphicsPort &port, Point at, std::string_view utf8) {
  if (!open_)
    return;
  const std::string text = PictText(utf8);
  if (text.empty())
    return;
  Sync(port, false);
  if (port.TextFont() != font_) {
    font_ = port.TextFont();
    auto [it, added] = fontIds_.try_emplace(font_, int16_t(kFirstFontId + int16_t(fontIds_.size())));
    fontId_ = it->second;
    if (added) {
      const std::string name = font_.substr(0, 255);
      out_.U16(kPictOpFontName);
      out_.U16(uint16_t(2 + 1 + name.size()));
      out_.U16(uint16_t(fontId_));
      out_.U8(uint8_t(name.size()));
      out_.Bytes(reinterpret_cast<const uint8_t *>(name.data()), name.size());
      out_.Align();
    }
    out_.U16(kPictOpTxFont);
    out_.U16(uint16_t(fontId_));
  }
  if (port.TextSize() != textSize_) {
    textSize_ = port.TextSize();
    out_.U16(kPictOpTxSize);
    out_.U16(uint16_t(textSize_));
  }
  if (port.TextFace() != textFace_) {
    textFace_ = port.TextFace();
    out_.U16(kPictOpTxFace);
    out_.U8(uint8_t(textFace_));
    out_.Align();
  }
  out_.U16(kPictOpLongText);
  out_.PointOut(Local(port, at));
  out_.U8(uint8_t(text.size()));
  out_.Bytes(reinterpret_cast<const uint8_t *>(text.data()), text.size());
  out_.Align();
}

void PictureRecorder::Copy(const GraphicsPort &port, const PixelBuffer &src, const Rect &srcRect, const Rect &dstRect,
                           int mode, const Region *mask) {
  if (!open_ || srcRect.IsEmpty() || dstRect.IsEmpty())
    return;
  Sync(port, false);
  // The source part as 32-bit pixels; a 1-bit source takes the port's
  // colours.
  const Rect part = SectRect(srcRect, src.Bounds());
  if (part.IsEmpty())
    return;
  QImage img(part.Width(), part.Height(), QImage::Format_RGB32);
  const uint32_t forePixel = RGBColorToPixel32(port.ForeColor()), backPixel = RGBColorToPixel32(port.BackColor());
  for (int y = part.top; y < part.bottom; ++y) {
    auto *row = reinterpret_cast<uint32_t *>(img.scanLine(y - part.top));
    for (int x = part.left; x < part.right; ++x)
      row[x - part.left] = src.Depth() == 1 ? (src.Bit(x, y) ? forePixel : backPixel) : src.Pixel32(x, y);
  }
  // Where the clipped source part lands.
  const int sw = srcRect.Width(), sh = srcRect.Height(), dw = dstRect.Width(), dh = dstRect.Height();
  const Rect dst = MakeRect(dstRect.left + int(int64_t(part.left - srcRect.left) * dw / sw),
                            dstRect.top + int(int64_t(part.top - srcRect.top) * dh / sh),
                            dstRect.left + int(int64_t(part.right - srcRect.left) * dw / sw),
                            dstRect.top + int(int64_t(part.bottom - srcRect.top) * dh / sh));
  const uint16_t pictMode = mode == 2 ? kPictBlend : mode == 3 ? kPictTransparent : kPictSrcCopy;
  if (mode == 2 && !(port.OpColor() == op_)) {
    op_ = port.OpColor();
    out_.U16(kPictOpOpColor);
    out_.Colour(op_);
  }
  const bool unscaled = dst.Width() == img.width() && dst.Height() == img.height();
  if (mask && unscaled) {
    // Only the masked pixels: one pixel map per rectangle of the mask.
    const Region inside = mask->Intersected(Region(dst));
    for (const Rect &r : inside.Rects())
      AppendDirectBits(out_, img.copy(r.left - dst.left, r.top - dst.top, r.Width(), r.Height()), Local(port, r),
                       pictMode, dpi_);
    return;
  }
  AppendDirectBits(out_, img, Local(port, dst), pictMode, dpi_);
}

} // namespace ovgfx
