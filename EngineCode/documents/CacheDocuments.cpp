#include "documents/CacheDocuments.h"

#include "Preferences.h"
#include "documents/CrystalDocument.h"
#include "documents/FileBuffer.h"
#include "documents/PrefsFile.h"
#include "export/PictureExport.h"
#include "export/PictureServices.h"
#include "window/MainWindowData.h"

#include <QString>

#include <cstdio>
#include <memory>

namespace {

uint32_t ReadLE32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool ReadAt(std::FILE *f, uint64_t offset, uint8_t *out, size_t n) {
  return std::fseek(f, long(offset), SEEK_SET) == 0 && std::fread(out, 1, n, f) == n;
}

// The JPEG section of a document, found through its file map.
bool ReadPreviewBytes(const std::filesystem::path &file, std::vector<uint8_t> &bytes) {
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(file, ec);
  if (ec || size < kDocumentHeaderSize)
    return false;
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> f(std::fopen(file.c_str(), "rb"), &std::fclose);
  if (!f)
    return false;
  uint8_t header[kDocumentHeaderSize];
  if (!ReadAt(f.get(), 0, header, sizeof header))
    return false;
  const uint32_t type = FourCharsToLong(reinterpret_cast<const char *>(header));
  if (type != kCrystalDocumentType && type != kMoleculeDocumentType)
    return false;
  const uint64_t mapOffset = ReadLE32(header + 8);
  if (mapOffset + 12 > size)
    return false;
  uint8_t mapHead[12];
  if (!ReadAt(f.get(), mapOffset, mapHead, sizeof mapHead))
    return false;
  const uint32_t count = ReadLE32(mapHead + 8);
  if (count > (size - mapOffset - 12) / 12)
    return false;
  // The map's entries, 12 bytes each: a section's type, offset and length.
  for (uint32_t k = 0; k < count; k++) {
    uint8_t e[12];
    if (!ReadAt(f.get(), mapOffset + 12 + uint64_t(k) * 12, e, sizeof e))
      return false;
    if (FourCharsToLong(reinterpret_cast<const char *>(e)) != FourCharsToLong("JPEG"))
      continue;
    const uint64_t at = uint64_t(ReadLE32(e + 4)) + 8, length = ReadLE32(e + 8);
    if (at + length > size || length == 0)
      return false;
    bytes.resize(size_t(length));
    return ReadAt(f.get(), at, bytes.data(), bytes.size());
  }
  return false;
}

bool TitleTaken(const CachedFileRecord *head, const std::string &title) {
  const QString t = QString::fromStdString(title);
  for (const CachedFileRecord *n = head; n; n = n->next)
    if (QString::fromStdString(n->caption).compare(t, Qt::CaseInsensitive) == 0)
      return true;
  return false;
}

void VerifyList(CachedFileRecord *head, void (*remove)(CachedFileRecord *)) {
  std::vector<CachedFileRecord *> gone;
  std::error_code ec;
  for (CachedFileRecord *n = head; n; n = n->next)
    if (!std::filesystem::exists(n->fileRef, ec))
      gone.push_back(n);
  for (CachedFileRecord *n : gone)
    remove(n);
}

} // namespace

QImage GetCachedFileThumbnail(const CachedFileRecord *node) {
  if (!node || !node->thumbnail)
    return QImage();
  return *static_cast<const QImage *>(node->thumbnail.get());
}

void SetCachedFileThumbnail(CachedFileRecord *node, const QImage &image) {
  if (!node)
    return;
  if (image.isNull())
    node->thumbnail.reset();
  else
    node->thumbnail = std::make_shared<QImage>(image);
}

bool GetFilePreviewAsCGImage(const std::filesystem::path &file, int maxWidth, QImage *image) {
  std::vector<uint8_t> bytes;
  if (!image || !ReadPreviewBytes(file, bytes))
    return false;
  QImage preview = QImage::fromData(bytes.data(), int(bytes.size()), "JPEG");
  if (preview.isNull())
    return false;
  if (maxWidth > 0 && preview.width() > maxWidth)
    preview = preview.scaledToWidth(maxWidth, Qt::SmoothTransformation);
  *image = preview;
  return true;
}

bool DoCacheViewFile(WindowRef window) {
  CachedFileRecord *node = WriteCacheDocument(window, true);
  if (!node)
    return false;
  const std::string title = node->caption;
  std::string caption = title;
  for (int k = 1; TitleTaken(GetWindowViews(window), caption); k++)
    caption = title + " " + std::to_string(k);
  node->caption = caption;
  const std::filesystem::path file = node->fileRef;
  if (!AddItemToWindowViews(window, node, kAddAtTail)) {
    DestroyCachedFileRecord(node);
    std::error_code ec;
    std::filesystem::remove(file, ec);
    return false;
  }
  return true;
}

bool DoCacheFavouriteFile(const std::filesystem::path &file, WindowRef window) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
  for (const CachedFileRecord *n = gPrefs.favouriteFiles; n; n = n->next)
    if (n->fileRef == absolute)
      return false;
  CachedFileRecord *node = CreateCachedFileRecord();
  if (!node)
    return false;
  node->fileRef = absolute;
  node->caption = absolute.stem().string();
  uint32_t type = 0;
  if (FSRefGetFileType(absolute, &type) == 0)
    node->fileType = type;
  if (window) {
    QImage image;
    if (!GetFilePreviewAsCGImage(absolute, kThumbnailWidth, &image))
      CopyWindowPreviewAsImageRef(window, &image);
    SetCachedFileThumbnail(node, image);
  }
  if (!AddItemToFavouriteFiles(node, kAddAtTail)) {
    DestroyCachedFileRecord(node);
    return false;
  }
  return true;
}

void VerifyRecentFiles() { VerifyList(gPrefs.recentFiles, &RemoveItemFromRecentFiles); }
