#include "import/ImportPath.h"

#include "StoredLimits.h"
#include "documents/FileBuffer.h"
#include "import/ImportText.h"

#include <zlib.h>

#include <algorithm>
#include <string>

namespace {

// The one check of how much the path reads: the file as it lies on disk,
// and a gzipped file's text as it inflates.
bool WithinImportLimit(uint64_t bytes, bool inflated, std::string *reason) {
  if (bytes <= kMaxImportFileBytes)
    return true;
  if (reason)
    *reason = std::string(inflated ? "it inflates to more than " : "it is larger than ") +
              std::to_string(kMaxImportFileBytes >> 20) + " MB, the most this version reads";
  return false;
}

bool IsGzip(std::string_view bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
         static_cast<unsigned char>(bytes[1]) == 0x8b;
}

// Every member of a gzip file, one after the other, as gzip itself gives
// them. The text is grown by hand, its size checked before each growth, so
// that no file takes more than the limit (and the copy of one growth) to
// find out that it is too large. Bytes after the last member that are not
// NUL padding are named in `trailing`.
bool Inflate(std::string_view bytes, std::string &out, std::string *reason, size_t *trailing) {
  auto fail = [&](const char *why) {
    if (reason)
      *reason = why;
    return false;
  };
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
    return fail("it could not be inflated");
  struct End {
    z_stream *z;
    ~End() { inflateEnd(z); }
  } end{&z};
  // The last member's own record of its size (modulo 4 GiB): a first
  // reservation, never more than the limit allows.
  size_t hint = 1 << 16;
  if (bytes.size() >= 18) {
    const auto *tail = reinterpret_cast<const unsigned char *>(bytes.data() + bytes.size() - 4);
    const size_t recorded = tail[0] | tail[1] << 8 | tail[2] << 16 | size_t{tail[3]} << 24;
    // Deflate packs at most 1032 bytes into one: a record beyond that lies.
    hint = std::max(hint, std::min(recorded, bytes.size() * 1032));
  }
  constexpr size_t kMost = kMaxImportFileBytes + 1; // one byte more tells that it is too large
  out.clear();
  out.reserve(std::min(hint, kMost));
  size_t fed = 0, written = 0;
  for (;;) {
    if (z.avail_in == 0 && fed < bytes.size()) {
      const size_t n = std::min<size_t>(bytes.size() - fed, UINT32_MAX);
      z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data() + fed));
      z.avail_in = static_cast<uInt>(n);
      fed += n;
    }
    if (written == out.size()) {
      if (out.size() >= kMost)
        return WithinImportLimit(out.size(), true, reason);
      const size_t size = std::min(out.size() + (size_t{1} << 20), kMost);
      if (size > out.capacity())
        out.reserve(std::min(std::max(size, 2 * out.capacity()), kMost));
      out.resize(size);
    }
    z.next_out = reinterpret_cast<Bytef *>(out.data() + written);
    z.avail_out = static_cast<uInt>(std::min<size_t>(out.size() - written, UINT32_MAX));
    const uInt room = z.avail_out;
    const int status = inflate(&z, Z_NO_FLUSH);
    written += room - z.avail_out;
    if (written > kMaxImportFileBytes)
      return WithinImportLimit(written, true, reason);
    if (status == Z_STREAM_END) {
      const std::string_view rest = bytes.substr(fed - z.avail_in);
      if (rest.empty())
        break;
      if (IsGzip(rest)) {
        inflateReset(&z); // the next member
        continue;
      }
      if (trailing && rest.find_first_not_of('\0') != std::string_view::npos)
        *trailing = rest.size();
      break;
    }
    if (status == Z_BUF_ERROR && z.avail_in == 0 && fed == bytes.size())
      return fail("its compressed data end too soon");
    if (status != Z_OK && status != Z_BUF_ERROR)
      return fail("its compressed data are damaged");
  }
  out.resize(written);
  return true;
}

// A file with NULs inside its text is taken for text when they are stray:
// each alone (with the other control bytes, which text has none of), and
// at most one in a thousand bytes (or one in a short file): a NUL or two
// dropped into a line by a copy or a transfer. Binary files hold far more,
// and in runs: numbers stored as bytes are full of zero bytes, record
// lengths lead with them, and packed or random bytes hold a control byte in
// ten.
bool FewStrayBytes(std::string_view text) {
  size_t stray = 0;
  bool previous = false;
  for (const char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    const bool control =
        (b < 0x20 && b != '\t' && b != '\n' && b != '\v' && b != '\f' && b != '\r' && b != 0x1a && b != 0x1b) ||
        b == 0x7f;
    if (control && previous)
      return false;
    previous = control;
    stray += control;
  }
  return stray <= std::max<size_t>(1, text.size() / 1000);
}

// Card-image files (the Rietveld suite's experiment files among them) may
// pad each record with NULs: to the end of its line, or, in a file without
// line ends, to the end of each fixed record of this many bytes.
constexpr size_t kCardRecordLength = 80;

// True when the text holds NULs and every run of them pads a record: a
// line end follows it, or, without line ends, it ends a fixed record.
// Binary data has its zero bytes anywhere.
bool NulsPadRecords(std::string_view bytes) {
  const bool lineEnds = bytes.find_first_of("\r\n") != std::string_view::npos;
  bool any = false;
  for (size_t i = bytes.find('\0'); i != std::string_view::npos; i = bytes.find('\0', i)) {
    size_t j = bytes.find_first_not_of('\0', i);
    if (j == std::string_view::npos)
      j = bytes.size();
    const bool ends = j == bytes.size() ||
                      (lineEnds ? bytes[j] == '\r' || bytes[j] == '\n' : j % kCardRecordLength == 0);
    if (!ends)
      return false;
    any = true;
    i = j;
  }
  return any;
}

} // namespace

namespace {

// NormaliseImportText on the bytes in `text` itself: each step only drops
// or replaces bytes, so the file is held once.
bool NormaliseInPlace(std::string &text, std::string *reason, bool *lastLineOpen, std::vector<std::string> *notes) {
  if (IsGzip(text)) {
    std::string inflated;
    size_t trailing = 0;
    if (!Inflate(text, inflated, reason, &trailing))
      return false;
    if (trailing > 0 && notes)
      notes->push_back(std::to_string(trailing) + " byte(s) after the compressed data were left out.");
    text.swap(inflated);
  }
  // A UTF-8 byte-order mark says nothing a reader needs, and would stick to
  // the first word.
  if (text.starts_with("\xEF\xBB\xBF"))
    text.erase(0, 3);
  if (lastLineOpen)
    *lastLineOpen = !text.empty() && std::string_view("\n\r\0\x1a", 4).find(text.back()) == std::string_view::npos;
  // Padding of NULs (and of blanks after them) at the end is no text.
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\0' || text[end - 1] == ' ' || text[end - 1] == '\n' ||
                     text[end - 1] == '\r' || text[end - 1] == '\x1a'))
    end--;
  text.resize(end);
  // Records padded with NULs read as records padded with blanks.
  if (NulsPadRecords(text))
    std::replace(text.begin(), text.end(), '\0', ' ');
  const bool nul = text.find('\0') != std::string::npos;
  if (nul && !FewStrayBytes(text)) {
    if (reason)
      *reason = "it is not a text file";
    return false;
  }
  ImportLineEndsInPlace(text);
  if (nul) {
    // Stray NULs read as blanks, the first named by its line.
    const size_t first = text.find('\0');
    const size_t count = static_cast<size_t>(std::count(text.begin(), text.end(), '\0'));
    std::replace(text.begin(), text.end(), '\0', ' ');
    if (notes)
      notes->push_back("line " + std::to_string(std::count(text.begin(), text.begin() + static_cast<ptrdiff_t>(first), '\n') + 1) +
                       ": " + std::to_string(count) + " stray NUL byte(s) in the text were read as blanks.");
  }
  if (!text.empty())
    text += '\n';
  return true;
}

} // namespace

bool NormaliseImportText(std::string_view bytes, std::string &text, std::string *reason, bool *lastLineOpen,
                         std::vector<std::string> *notes) {
  std::string normal;
  normal.reserve(bytes.size() + 1);
  normal.assign(bytes);
  if (!NormaliseInPlace(normal, reason, lastLineOpen, notes))
    return false;
  text = std::move(normal);
  return true;
}

bool LoadImportSource(const std::filesystem::path &file, ImportSource &source, std::string *reason) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (!ec && !WithinImportLimit(size, false, reason))
    return false;
  if (!ReadWholeFile(file, source.text, reason))
    return false;
  source.file = file;
  source.name = NameWithoutGzip(file);
  if (!NormaliseInPlace(source.text, reason, &source.lastLineOpen, &source.notes))
    return false;
  if (TrimImport(source.text).empty() && source.text.find_first_not_of(" \t\n") == std::string::npos) {
    if (reason)
      *reason = "it is empty";
    return false;
  }
  return true;
}

