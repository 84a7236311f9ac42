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

bool Inflate(std::string_view bytes, std::string &out, std::string *reason) {
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
    if (reason)
      *reason = "it could not be inflated";
    return false;
  }
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data()));
  z.avail_in = static_cast<uInt>(std::min<size_t>(bytes.size(), UINT32_MAX));
  out.clear();
  std::string chunk(1 << 16, '\0');
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    z.next_out = reinterpret_cast<Bytef *>(chunk.data());
    z.avail_out = static_cast<uInt>(chunk.size());
    status = inflate(&z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) {
      inflateEnd(&z);
      if (reason)
        *reason = "its compressed data are damaged";
      return false;
    }
    out.append(chunk.data(), chunk.size() - z.avail_out);
    if (!WithinImportLimit(out.size(), true, reason)) {
      inflateEnd(&z);
      return false;
    }
    if (status == Z_OK && z.avail_in == 0 && z.avail_out != 0) {
      inflateEnd(&z);
      if (reason)
        *reason = "its compressed data end too soon";
      return false;
    }
  }
  inflateEnd(&z);
  return true;
}

} // namespace

bool NormaliseImportText(std::string_view bytes, std::string &text, std::string *reason, bool *lastLineOpen) {
  std::string inflated;
  if (IsGzip(bytes)) {
    if (!Inflate(bytes, inflated, reason))
      return false;
    bytes = inflated;
  }
  if (lastLineOpen)
    *lastLineOpen = !bytes.empty() && std::string_view("\n\r\0\x1a", 4).find(bytes.back()) == std::string_view::npos;
  // Padding of NULs (and of blanks after them) at the end is no text.
  size_t end = bytes.size();
  while (end > 0 && (bytes[end - 1] == '\0' || bytes[end - 1] == ' ' || bytes[end - 1] == '\n' ||
                     bytes[end - 1] == '\r' || bytes[end - 1] == '\x1a'))
    end--;
  bytes = bytes.substr(0, end);
  if (bytes.find('\0') != std::string_view::npos) {
    if (reason)
      *reason = "it is not a text file";
    return false;
  }
  text = ImportLineEnds(bytes);
  if (!text.empty())
    text += '\n';
  return true;
}

bool LoadImportSource(const std::filesystem::path &file, ImportSource &source, std::string *reason) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (!ec && !WithinImportLimit(size, false, reason))
    return false;
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(file, bytes, reason))
    return false;
  source.file = file;
  source.name = NameWithoutGzip(file);
  const std::string_view raw(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  if (!NormaliseImportText(raw, source.text, reason, &source.lastLineOpen))
    return false;
  if (TrimImport(source.text).empty() && source.text.find_first_not_of(" \t\n") == std::string::npos) {
    if (reason)
      *reason = "it is empty";
    return false;
  }
  return true;
}

