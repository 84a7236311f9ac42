#include "FileBuffer.h"
#include "documents/DocumentTask.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <type_traits>

// ---- Buffers ------------------------------------------------------------------

int16_t BufferReadBytes(FileBuffer &b, void *dst, size_t n) {
  if (b.status != 0)
    return b.status;
  if (n > b.Remaining()) {
    b.status = kBufferReadOverrun;
    return b.status;
  }
  if (n > 0)
    std::memcpy(dst, b.start + b.cursor, n);
  b.cursor += n;
  return 0;
}

namespace {
template <class T> int16_t ReadLE(FileBuffer &b, T &v) {
  uint8_t raw[sizeof(T)];
  if (int16_t err = BufferReadBytes(b, raw, sizeof raw))
    return err;
  T x = 0;
  for (size_t k = 0; k < sizeof(T); k++)
    x = static_cast<T>(x | (static_cast<T>(raw[k]) << (8 * k)));
  v = x;
  return 0;
}
template <class T> void EncodeLE(T v, uint8_t *raw) {
  for (size_t k = 0; k < sizeof(T); k++)
    raw[k] = static_cast<uint8_t>(v >> (8 * k));
}
} // namespace

int16_t BufferReadU8(FileBuffer &b, uint8_t &v) { return BufferReadBytes(b, &v, 1); }
int16_t BufferReadU16(FileBuffer &b, uint16_t &v) { return ReadLE(b, v); }
int16_t BufferReadU32(FileBuffer &b, uint32_t &v) { return ReadLE(b, v); }
int16_t BufferReadU64(FileBuffer &b, uint64_t &v) { return ReadLE(b, v); }
int16_t BufferReadF32(FileBuffer &b, float &v) {
  uint32_t bits = 0;
  int16_t err = ReadLE(b, bits);
  if (!err)
    std::memcpy(&v, &bits, sizeof v);
  return err;
}
int16_t BufferReadF64(FileBuffer &b, double &v) {
  uint64_t bits = 0;
  int16_t err = ReadLE(b, bits);
  if (!err)
    std::memcpy(&v, &bits, sizeof v);
  return err;
}
int16_t BufferReadTag(FileBuffer &b, uint32_t &tag) {
  uint8_t raw[4];
  if (int16_t err = BufferReadBytes(b, raw, 4))
    return err;
  tag = (uint32_t{raw[0]} << 24) | (uint32_t{raw[1]} << 16) | (uint32_t{raw[2]} << 8) | raw[3];
  return 0;
}
int16_t BufferSkip(FileBuffer &b, size_t n) {
  if (b.status != 0)
    return b.status;
  if (n > b.Remaining()) {
    b.status = kBufferReadOverrun;
    return b.status;
  }
  b.cursor += n;
  return 0;
}

int16_t BufferWriteBytes(FileBuffer &b, const void *src, size_t n) {
  if (b.status != 0)
    return b.status;
  if (b.fixedCapacity != 0 && n > b.fixedCapacity - std::min(b.fixedCapacity, b.out.size())) {
    b.status = kBufferWriteOverrun;
    return b.status;
  }
  const auto *p = static_cast<const uint8_t *>(src);
  b.out.insert(b.out.end(), p, p + n);
  return 0;
}
int16_t BufferWriteU8(FileBuffer &b, uint8_t v) { return BufferWriteBytes(b, &v, 1); }
int16_t BufferWriteU16(FileBuffer &b, uint16_t v) {
  uint8_t raw[2];
  EncodeLE(v, raw);
  return BufferWriteBytes(b, raw, 2);
}
int16_t BufferWriteU32(FileBuffer &b, uint32_t v) {
  uint8_t raw[4];
  EncodeLE(v, raw);
  return BufferWriteBytes(b, raw, 4);
}
int16_t BufferWriteU64(FileBuffer &b, uint64_t v) {
  uint8_t raw[8];
  EncodeLE(v, raw);
  return BufferWriteBytes(b, raw, 8);
}
int16_t BufferWriteF32(FileBuffer &b, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return BufferWriteU32(b, bits);
}
int16_t BufferWriteF64(FileBuffer &b, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return BufferWriteU64(b, bits);
}
int16_t BufferWriteTag(FileBuffer &b, uint32_t tag) {
  const uint8_t raw[4] = {static_cast<uint8_t>(tag >> 24), static_cast<uint8_t>(tag >> 16),
                          static_cast<uint8_t>(tag >> 8), static_cast<uint8_t>(tag)};
  return BufferWriteBytes(b, raw, 4);
}
void BufferPatchU32(FileBuffer &b, size_t at, uint32_t v) {
  if (at + 4 <= b.out.size())
    EncodeLE(v, b.out.data() + at);
}

// ---- Streams --------------------------------------------------------------------

int16_t MyFSReadBytes(std::FILE *f, void *dst, size_t n) {
  if (!f || std::fread(dst, 1, n, f) != n)
    return kFileReadError;
  return 0;
}
int16_t MyFSReadU16(std::FILE *f, uint16_t &v) {
  uint8_t raw[2];
  if (int16_t err = MyFSReadBytes(f, raw, 2))
    return err;
  v = static_cast<uint16_t>(raw[0] | (raw[1] << 8));
  return 0;
}
int16_t MyFSReadU32(std::FILE *f, uint32_t &v) {
  uint8_t raw[4];
  if (int16_t err = MyFSReadBytes(f, raw, 4))
    return err;
  v = uint32_t{raw[0]} | (uint32_t{raw[1]} << 8) | (uint32_t{raw[2]} << 16) | (uint32_t{raw[3]} << 24);
  return 0;
}
int16_t MyFSReadTag(std::FILE *f, uint32_t &tag) {
  uint8_t raw[4];
  if (int16_t err = MyFSReadBytes(f, raw, 4))
    return err;
  tag = (uint32_t{raw[0]} << 24) | (uint32_t{raw[1]} << 16) | (uint32_t{raw[2]} << 8) | raw[3];
  return 0;
}
int16_t MyFSWriteBytes(std::FILE *f, const void *src, size_t n) {
  if (!f || std::fwrite(src, 1, n, f) != n)
    return kFileWriteError;
  return 0;
}
int16_t MyFSWriteU16(std::FILE *f, uint16_t v) {
  uint8_t raw[2];
  EncodeLE(v, raw);
  return MyFSWriteBytes(f, raw, 2);
}
int16_t MyFSWriteU32(std::FILE *f, uint32_t v) {
  uint8_t raw[4];
  EncodeLE(v, raw);
  return MyFSWriteBytes(f, raw, 4);
}
int16_t MyFSWriteTag(std::FILE *f, uint32_t tag) {
  const uint8_t raw[4] = {static_cast<uint8_t>(tag >> 24), static_cast<uint8_t>(tag >> 16),
                          static_cast<uint8_t>(tag >> 8), static_cast<uint8_t>(tag)};
  return MyFSWriteBytes(f, raw, 4);
}

// ---- Lines ------------------------------------------------------------------------

namespace {
// What the last MyGetLine consumed, so that MyUnGetLine can step back over
// the line end as well.
thread_local std::FILE *gLastLineStream = nullptr;
thread_local long gLastLineBytes = 0;

// Reads one line through next(): answers the length or -1 at the end.
template <class Next, class Peek, class Consume>
int ReadOneLine(std::string &line, long &consumed, Next next, Peek peek, Consume consume) {
  line.clear();
  consumed = 0;
  int ch = next();
  if (ch < 0)
    return -1;
  while (ch >= 0) {
    consumed++;
    if (ch == '\n')
      break;
    if (ch == '\r') {
      if (peek() == '\n') {
        consume();
        consumed++;
      }
      break;
    }
    line.push_back(static_cast<char>(ch));
    if (line.size() == kMaxLineLength)
      break;
    ch = next();
  }
  return static_cast<int>(line.size());
}
} // namespace

int MyGetLine(std::FILE *f, std::string &line) {
  if (!f) {
    line.clear();
    return -1;
  }
  long consumed = 0;
  const int n = ReadOneLine(
      line, consumed, [f] { return std::fgetc(f); },
      [f] {
        int c = std::fgetc(f);
        if (c >= 0)
          std::ungetc(c, f);
        return c;
      },
      [f] { std::fgetc(f); });
  gLastLineStream = f;
  gLastLineBytes = n < 0 ? 0 : consumed;
  return n;
}

bool MyUnGetLine(std::FILE *f, const std::string &line) {
  long back = static_cast<long>(line.size());
  if (f == gLastLineStream && gLastLineBytes >= back)
    back = gLastLineBytes;
  gLastLineStream = nullptr;
  gLastLineBytes = 0;
  return f && std::fseek(f, -back, SEEK_CUR) == 0;
}

int GetLineFromFileBuffer(FileBuffer &b, std::string &line) {
  long consumed = 0;
  return ReadOneLine(
      line, consumed, [&b]() -> int { return b.cursor < b.capacity ? b.start[b.cursor++] : -1; },
      [&b]() -> int { return b.cursor < b.capacity ? b.start[b.cursor] : -1; }, [&b] { b.cursor++; });
}

// ---- Whole files ------------------------------------------------------------------

namespace {
// A long read or write goes this many bytes between its task's steps.
constexpr size_t kFilePieceBytes = size_t{8} << 20;
} // namespace

namespace {

template <typename Bytes> bool ReadWholeFileInto(const std::filesystem::path &path, Bytes &bytes, std::string *reason) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    if (reason)
      *reason = "it is a folder, not a file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (reason)
      *reason = "it could not be opened";
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) {
    if (reason)
      *reason = "it could not be read";
    return false;
  }
  in.seekg(0, std::ios::beg);
  if constexpr (std::is_same_v<Bytes, std::string>)
    bytes.reserve(static_cast<size_t>(size) + 1);
  bytes.resize(static_cast<size_t>(size));
  // Read a piece at a time, so that a long read answers the cancel key of
  // its document task.
  DocumentTask *task = DocumentTask::Current();
  for (size_t at = 0; at < bytes.size(); at += kFilePieceBytes) {
    const size_t piece = std::min(kFilePieceBytes, bytes.size() - at);
    if (!in.read(reinterpret_cast<char *>(bytes.data() + at), static_cast<std::streamsize>(piece))) {
      if (reason)
        *reason = "it could not be read";
      return false;
    }
    if (task && task->Step()) {
      if (reason)
        *reason = "the reading was stopped";
      return false;
    }
  }
  return true;
}

} // namespace

bool ReadWholeFile(const std::filesystem::path &path, std::vector<uint8_t> &bytes, std::string *reason) {
  return ReadWholeFileInto(path, bytes, reason);
}

bool ReadWholeFile(const std::filesystem::path &path, std::string &text, std::string *reason) {
  return ReadWholeFileInto(path, text, reason);
}

bool WriteFileAtomically(const std::filesystem::path &path, std::span<const uint8_t> bytes, std::string *reason) {
  AtomicFileWriter out(path);
  // Written a piece at a time, so that a long write answers the cancel key
  // of its document task; stopped, the old file stays.
  DocumentTask *task = DocumentTask::Current();
  bool written = out.IsOpen();
  out.Expect(bytes.size());
  for (size_t at = 0; written && at < bytes.size(); at += kFilePieceBytes) {
    written = out.Write(bytes.data() + at, std::min(kFilePieceBytes, bytes.size() - at));
    if (written && task && task->Step()) {
      out.Abort();
      if (reason)
        *reason = "the writing was stopped";
      return false;
    }
  }
  if (written && out.Commit())
    return true;
  if (reason)
    *reason = out.Reason();
  return false;
}

// ---- Text encodings ------------------------------------------------------------------

namespace {
// Mac Roman's upper half, 0x80 to 0xFF.
constexpr char16_t kMacRoman[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7};

void AppendCodePoint(std::u16string &out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}
} // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (c < 0x80) {
      out.push_back(c);
      i++;
      continue;
    }
    int extra = c >= 0xF0 && c < 0xF5 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
    if (c >= 0xF5)
      extra = -1;
    char32_t cp = extra == 3 ? c & 0x07 : extra == 2 ? c & 0x0F : c & 0x1F;
    bool valid = extra > 0;
    for (int k = 1; valid && k <= extra; k++) {
      if (i + static_cast<size_t>(k) >= text.size()) {
        valid = false;
        break;
      }
      const auto d = static_cast<uint8_t>(text[i + static_cast<size_t>(k)]);
      if ((d & 0xC0) != 0x80)
        valid = false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (valid && ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000))) ||
                  (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))))
      valid = false;
    if (valid) {
      AppendCodePoint(out, cp);
      i += static_cast<size_t>(extra) + 1;
    } else {
      out.push_back(kMacRoman[c - 0x80]);
      i++;
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      i++;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD; // a lone surrogate
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}
