// Typed binary primitives and text-line readers shared by the document, the
// preferences file and the text readers.
//
// A `FileBuffer` is one section of a document in memory: reads walk a view of
// bytes and never pass its end (999); writes append to an owned byte vector,
// which may be given a fixed capacity (a write past it is 9999). The `MyFS*`
// twins do the same on an open stdio stream. Every number is little-endian;
// four-character tags are stored as their characters, first character first.
// Floats travel as their bit patterns, so they come back bit-exact.
#pragma once

#include "StructureRecord.h"
#include "files/AtomicFileWriter.h"

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

inline constexpr int16_t kBufferReadOverrun = 999;
inline constexpr int16_t kBufferWriteOverrun = 9999;
inline constexpr int16_t kFileReadError = -39;  // end of file met
inline constexpr int16_t kFileWriteError = -36; // the stream refused bytes

// The longest line the line readers hand back whole; longer lines are split
// into pieces of this length so that no character is ever dropped.
inline constexpr size_t kMaxLineLength = 254;

struct FileBuffer {
  // Reading: a view of bytes owned elsewhere.
  const uint8_t *start = nullptr;
  size_t capacity = 0;
  size_t cursor = 0;
  // Writing: the bytes written so far. `fixedCapacity` 0 means no limit.
  std::vector<uint8_t> out;
  size_t fixedCapacity = 0;
  // The first failure met, 0 while none. Later reads of a failed buffer
  // also fail, so a caller may check once after a run of reads.
  int16_t status = 0;

  static FileBuffer ForReading(std::span<const uint8_t> bytes) {
    FileBuffer b;
    b.start = bytes.data();
    b.capacity = bytes.size();
    return b;
  }
  size_t Remaining() const { return cursor <= capacity ? capacity - cursor : 0; }
};

int16_t BufferReadBytes(FileBuffer &b, void *dst, size_t n);
int16_t BufferReadU8(FileBuffer &b, uint8_t &v);
int16_t BufferReadU16(FileBuffer &b, uint16_t &v);
int16_t BufferReadU32(FileBuffer &b, uint32_t &v);
int16_t BufferReadU64(FileBuffer &b, uint64_t &v);
int16_t BufferReadF32(FileBuffer &b, float &v);
int16_t BufferReadF64(FileBuffer &b, double &v);
int16_t BufferReadTag(FileBuffer &b, uint32_t &tag);
// Moves the cursor by n bytes; 999 (cursor unchanged) past the end.
int16_t BufferSkip(FileBuffer &b, size_t n);

int16_t BufferWriteBytes(FileBuffer &b, const void *src, size_t n);
int16_t BufferWriteU8(FileBuffer &b, uint8_t v);
int16_t BufferWriteU16(FileBuffer &b, uint16_t v);
int16_t BufferWriteU32(FileBuffer &b, uint32_t v);
int16_t BufferWriteU64(FileBuffer &b, uint64_t v);
int16_t BufferWriteF32(FileBuffer &b, float v);
int16_t BufferWriteF64(FileBuffer &b, double v);
int16_t BufferWriteTag(FileBuffer &b, uint32_t tag);
// Overwrites four bytes already written at `at` (a section length filled in
// after its payload).
void BufferPatchU32(FileBuffer &b, size_t at, uint32_t v);

int16_t MyFSReadBytes(std::FILE *f, void *dst, size_t n);
int16_t MyFSReadU16(std::FILE *f, uint16_t &v);
int16_t MyFSReadU32(std::FILE *f, uint32_t &v);
int16_t MyFSReadTag(std::FILE *f, uint32_t &tag);
int16_t MyFSWriteBytes(std::FILE *f, const void *src, size_t n);
int16_t MyFSWriteU16(std::FILE *f, uint16_t v);
int16_t MyFSWriteU32(std::FILE *f, uint32_t v);
int16_t MyFSWriteTag(std::FILE *f, uint32_t tag);

// The next line of the stream without its end (CR, LF or CR LF), at most
// kMaxLineLength characters: the rest of a longer line comes as the next
// line. Answers the length, or -1 at the end of the stream.
int MyGetLine(std::FILE *f, std::string &line);
// Steps the stream back over the line MyGetLine just answered, so that the
// next MyGetLine reads it again. False when the stream cannot be moved.
bool MyUnGetLine(std::FILE *f, const std::string &line);
// The same over a whole file held in a buffer.
int GetLineFromFileBuffer(FileBuffer &b, std::string &line);

// Reads a whole regular file as it stands (a cache document still being
// written is waited for by its reader: CacheWrites.h). False (and a reason)
// for a missing file, a directory or a read failure.
bool ReadWholeFile(const std::filesystem::path &path, std::vector<uint8_t> &bytes, std::string *reason = nullptr);
// The same into text, with room for one byte more (a reader's closing line
// end) so that it is not copied to grow.
bool ReadWholeFile(const std::filesystem::path &path, std::string &text, std::string *reason = nullptr);
// Writes the whole file through an AtomicFileWriter (files/AtomicFileWriter.h):
// a failed save never leaves a damaged file nor removes the old one, and a
// replaced file keeps its mode. False (and a reason) on any failure.
bool WriteFileAtomically(const std::filesystem::path &path, std::span<const uint8_t> bytes,
                         std::string *reason = nullptr);

// UTF-8 to UTF-16 and back. Invalid UTF-8 bytes are taken as Mac Roman.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
