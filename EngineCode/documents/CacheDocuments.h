// Cached documents of the Overview lists: views of a window saved into the
// cache folder, favourite files, the previews stored in documents, and the
// thumbnails the list records carry.
//
// A record's thumbnail is a QImage held in its `thumbnail` handle.
#pragma once

#include "CachedFiles.h"
#include "HostServices.h"

#include <QImage>

#include <filesystem>

// The thumbnail image of a record; a null image when it has none.
QImage GetCachedFileThumbnail(const CachedFileRecord *node);
void SetCachedFileThumbnail(CachedFileRecord *node, const QImage &image);

// The preview a document stores, scaled down to at most `maxWidth` pixels
// wide with its proportions; false when the file has none or is not a
// document. Only the file map and the preview section are read.
bool GetFilePreviewAsCGImage(const std::filesystem::path &file, int maxWidth, QImage *image);

// Saves the window's structure (with its notes and preview) as a new cache
// document and appends it to the window's Views list, captioned with the
// window title made unique by " 1", " 2", ... (case-insensitive). False when
// the window has no structure or the document cannot be written.
bool DoCacheViewFile(WindowRef window);
// Adds the file to the Favourites unless it is there already (caption: the
// name without suffix); with a window, the thumbnail is the document's
// stored preview, else the window's picture. False when nothing was added.
bool DoCacheFavouriteFile(const std::filesystem::path &file, WindowRef window);

// Drops the Recent records whose files no longer exist.
void VerifyRecentFiles();
