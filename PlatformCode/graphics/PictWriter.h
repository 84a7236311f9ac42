// Pictures in the classic PICT form (extended version 2), written by us.
//
// A picture is big-endian: a 2-byte size (low 16 bits of the length), the
// frame rectangle, the version opcodes and the header opcode with the
// resolution, then one opcode after another (each at an even offset), ended
// by the end-of-picture opcode. Files add 512 zero bytes in front.
//
// Two makers:
//  - `PictureRecorder`, opened on a graphics port, records what the port is
//    asked to draw: colours, pen size, mode and pattern, lines, rectangles,
//    ovals, arcs, polygons, regions (as their rectangles), text, and image
//    copies (as 32-bit direct pixel maps, each row packed);
//  - `EncodeDirectBitsPicture`, a raster picture of one direct pixel map.
#pragma once

#include "GraphicsPort.h"
#include "PixelBuffer.h"

#include <QImage>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ovgfx {

// The zero header of a picture file.
inline constexpr size_t kPictFileHeaderSize = 512;

// Opcodes we write.
enum PictOpcode : uint16_t {
  kPictOpClip = 0x0001,
  kPictOpTxFont = 0x0003,
  kPictOpTxFace = 0x0004,
  kPictOpPnSize = 0x0007,
  kPictOpPnMode = 0x0008,
  kPictOpPnPat = 0x0009,
  kPictOpFillPat = 0x000A,
  kPictOpTxSize = 0x000D,
  kPictOpVersion = 0x0011,
  kPictOpRGBFgCol = 0x001A,
  kPictOpRGBBkCol = 0x001B,
  kPictOpDefHilite = 0x001E,
  kPictOpOpColor = 0x001F,
  kPictOpLine = 0x0020,
  kPictOpLongText = 0x0028,
  kPictOpFontName = 0x002C,
  kPictOpFrameRect = 0x0030, // + verb: frame, paint, erase, invert, fill
  kPictOpFrameArc = 0x0060,
  kPictOpFrameOval = 0x0050,
  kPictOpFramePoly = 0x0070,
  kPictOpDirectBitsRect = 0x009A,
  kPictOpEndPic = 0x00FF,
  kPictOpHeader = 0x0C00,
};
enum PictVerb : uint16_t { kPictFrame = 0, kPictPaint = 1, kPictErase = 2, kPictFill = 4 };

// Transfer modes of pixel maps and the pen.
inline constexpr uint16_t kPictSrcCopy = 0;
inline constexpr uint16_t kPictPatCopy = 8;
inline constexpr uint16_t kPictBlend = 32;
inline constexpr uint16_t kPictTransparent = 36;

// Appends the PackBits form of the bytes: runs of 2 or more equal bytes as a
// repeat, the rest as literals of at most 128.
void PackBitsAppend(const uint8_t *bytes, size_t count, std::vector<uint8_t> &out);

// A growing big-endian byte sequence.
class PictBytes {
public:
  void U8(uint8_t v) { b_.push_back(v); }
  void U16(uint16_t v) {
    b_.push_back(uint8_t(v >> 8));
    b_.push_back(uint8_t(v));
  }
  void U32(uint32_t v) {
    U16(uint16_t(v >> 16));
    U16(uint16_t(v));
  }
  void Bytes(const uint8_t *p, size_t n) { b_.insert(b_.end(), p, p + n); }
  void RectOut(const Rect &r) {
    U16(uint16_t(r.top));
    U16(uint16_t(r.left));
    U16(uint16_t(r.bottom));
    U16(uint16_t(r.right));
  }
  void PointOut(Point p) {
    U16(uint16_t(p.v));
    U16(uint16_t(p.h));
  }
  void Colour(const RGBColor &c) {
    U16(c.red);
    U16(c.green);
    U16(c.blue);
  }
  // One zero byte when the length is odd: the next opcode starts even.
  void Align() {
    if (b_.size() & 1)
      b_.push_back(0);
  }
  std::vector<uint8_t> &Data() { return b_; }
  size_t Size() const { return b_.size(); }

private:
  std::vector<uint8_t> b_;
};

// The picture's start: size (patched at the end), frame, version and the
// extended header with the resolution in dots per inch.
void BeginPicture(PictBytes &out, const Rect &frame, double dpi);
// The end opcode and the size field.
void EndPicture(PictBytes &out);

// A direct pixel map opcode: the pixels of `source` (32-bit, 0xAARRGGBB
// words, `sourceRect` in its own coordinates) drawn into `dstRect` of the
// picture in the transfer mode.
void AppendDirectBits(PictBytes &out, const QImage &source, const Rect &dstRect, uint16_t mode, double dpi);

// A whole picture (without the file header) of one direct pixel map of the
// image at the resolution: the raster PICT.
std::vector<uint8_t> EncodeDirectBitsPicture(const QImage &image, double dpi);

// Records the drawing of a port as a picture. Coordinates are taken in the
// port's coordinates as they stood when recording began, so a port that
// moves its origin meanwhile still records where things land.
class PictureRecorder {
public:
  PictureRecorder(GraphicsPort &port, const Rect &frame, double dpi);
  ~PictureRecorder();
  PictureRecorder(const PictureRecorder &) = delete;
  PictureRecorder &operator=(const PictureRecorder &) = delete;

  // Stops recording and answers the picture; empty when already closed.
  std::vector<uint8_t> Close();

  // What the port reports while recording.
  void Line(const GraphicsPort &port, Point from, Point to);
  void RectShape(const GraphicsPort &port, PictVerb verb, const Rect &r, const Pattern *fill = nullptr);
  void OvalShape(const GraphicsPort &port, PictVerb verb, const Rect &r, const Pattern *fill = nullptr);
  void ArcShape(const GraphicsPort &port, const Rect &r, int startAngle, int arcAngle);
  void PolyShape(const GraphicsPort &port, PictVerb verb, const Polygon &p, const Pattern *fill = nullptr);
  // A region is recorded as its rectangles, each painted, erased or filled.
  void RegionShape(const GraphicsPort &port, PictVerb verb, const Region &r, const Pattern *fill = nullptr);
  void Pixel(const GraphicsPort &port, int h, int v, const RGBColor &colour);
  void Text(const GraphicsPort &port, Point at, std::string_view utf8);
  // An image copy: the source part (32-bit or 1-bit, coloured with the
  // port's colours) into the destination, only inside `mask` when given.
  void Copy(const GraphicsPort &port, const PixelBuffer &src, const Rect &srcRect, const Rect &dstRect, int mode,
            const Region *mask);

private:
  void Sync(const GraphicsPort &port, bool pen);
  Rect Local(const GraphicsPort &port, const Rect &r) const;
  Point Local(const GraphicsPort &port, Point p) const;

  GraphicsPort *port_;
  PictBytes out_;
  double dpi_;
  Point origin_; // port's top-left at the start
  bool open_ = true;
  // What the picture holds so far.
  RGBColor fore_{0, 0, 0}, back_{65535, 65535, 65535}, op_{0, 0, 0};
  int penW_ = 1, penH_ = 1;
  uint16_t penMode_ = kPictPatCopy;
  Pattern penPat_ = kSolidPattern, fillPat_ = kSolidPattern;
  Rect clip_;
  std::string font_;
  int16_t fontId_ = 0, textSize_ = 0, textFace_ = 0;
  std::map<std::string, int16_t> fontIds_;
};

} // namespace ovgfx
