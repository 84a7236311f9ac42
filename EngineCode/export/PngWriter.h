// Our own PNG writer for exported pictures: 8-bit RGB, no interlace, the
// resolution in a pHYs chunk, the pixels deflated by a compressor made for
// plots (long runs of one colour, rows that repeat the row above, the same
// atom image over and over).
//
// The toolkit's writer picks a filter for every row by trying all five,
// which costs more than the compression itself on a large picture; here
// every row is stored unfiltered and the matcher looks where plots repeat
// themselves: one pixel back, one row up, and wherever the last occurrence
// of the next four bytes was.
#pragma once

#include "files/AtomicFileWriter.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace ovgfx {
class PixelBuffer;
}

// A zlib stream (RFC 1950) of deflate blocks with dynamic Huffman codes.
// Bytes go in with Write; compressed bytes come out through the sink in
// pieces, the last of them from Finish. `rowLength` is the distance at
// which the data tends to repeat itself (an image row), 0 for none.
class DeflateStream {
public:
  using Sink = std::function<bool(const uint8_t *data, size_t size)>;
  DeflateStream(Sink sink, size_t rowLength);
  DeflateStream(const DeflateStream &) = delete;
  DeflateStream &operator=(const DeflateStream &) = delete;

  // False once the sink has refused bytes.
  bool Write(const uint8_t *data, size_t size);
  // Compresses what is left and ends the stream with its checksum.
  bool Finish();

private:
  struct Symbol {
    uint16_t value;    // a literal byte, or a match length (3 to 258)
    uint16_t distance; // 0 for a literal
  };
  void Compress();
  void FlushBlock(bool last);
  void PutBits(uint32_t value, int count);
  bool Emit();

  Sink sink_;
  size_t rowLength_;
  bool ok_ = true;
  // The window: up to 32 KiB already compressed, then new bytes.
  std::vector<uint8_t> buffer_;
  size_t filled_ = 0; // bytes held in buffer_
  size_t done_ = 0;   // bytes of buffer_ compressed
  int64_t base_ = 0;  // stream position of buffer_[0]
  // Per 4-byte hash, one past the stream position where it was last seen
  // (0: never), in 32 bits: beyond 4 GiB a wrapped position only looks too
  // far back to be used.
  std::vector<uint32_t> heads_;
  std::vector<Symbol> symbols_;
  size_t symbolCount_ = 0;
  uint32_t adlerA_ = 1, adlerB_ = 0;
  // Compressed bits not yet whole bytes, and bytes not yet handed out.
  uint64_t bits_ = 0;
  int bitCount_ = 0;
  std::vector<uint8_t> out_;
  size_t outSize_ = 0;
};

// Code lengths of at most `limit` bits (1 to 15) for the frequencies of n
// symbols (at most 286), 0 for a symbol that does not occur. The code is
// complete and has at least two symbols (unused ones are added when fewer
// occur), as every decoder accepts.
void HuffmanCodeLengths(const uint32_t *freq, int n, int limit, uint8_t *lengths);

// A PNG file written a band of rows at a time, so that a picture larger
// than memory can hold is written from strips drawn one after the other.
// The header goes out on construction; the rows must come in order, top to
// bottom, and the file is whole once Finish has answered true (the caller
// commits it). Every call answers false after a failed write (the writer
// says why) or rows that do not fit the picture.
class PngStripWriter {
public:
  // A picture of width x height at the resolution (dots per inch; 72 for
  // one that is not positive or not a number).
  PngStripWriter(AtomicFileWriter &file, int width, int height, double dotsPerInch);
  PngStripWriter(const PngStripWriter &) = delete;
  PngStripWriter &operator=(const PngStripWriter &) = delete;

  // The next rows: every row of the 32-bit strip, which is as wide as the
  // picture.
  bool WriteRows(const ovgfx::PixelBuffer &strip);
  // The strip's rows from `top` up to, not including, `bottom` (picture
  // rows, within the strip's bounds).
  bool WriteRows(const ovgfx::PixelBuffer &strip, int top, int bottom);
  // The rows written so far.
  int RowsWritten() const { return rowsWritten_; }
  // Ends the picture; false unless every row was written.
  bool Finish();

private:
  AtomicFileWriter &file_;
  int width_, height_;
  int rowsWritten_ = 0;
  bool ok_;
  std::vector<uint8_t> row_;
  std::unique_ptr<DeflateStream> stream_;
};

// Writes the 32-bit image as a PNG file to the open writer at the
// resolution (dots per inch; 72 for one that is not positive or not a
// number). False when the image is not 32 bits deep or a write failed (the
// writer says why); the caller commits the file.
bool WritePNGFile(const ovgfx::PixelBuffer &image, AtomicFileWriter &file, double dotsPerInch);
