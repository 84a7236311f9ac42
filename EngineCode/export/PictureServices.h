// Small picture services around the plot and around picture files: the
// plot copied to the clipboard at any pixel size (as TIFF bytes and as an
// image), the window's 4:3 thumbnail and the JPEG preview kept in saved
// documents, and loading pictures from files, memory and the program's
// resources. Images handed out are QImages (the caller's); off-screen
// images are 32-bit pixel buffers as `MakeGWorld` makes them.
//
// Every loader goes through one decoder, so background pictures, stored
// previews and the program's own art read the same formats the same way.
//
// Main thread only.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <QImage>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

namespace ovgfx {
class PixelBuffer;
}

// Thumbnails are at most this size, always 4 : 3.
inline constexpr int kThumbnailWidth = 512;
inline constexpr int kThumbnailHeight = 384;
// Errors of the loaders.
inline constexpr int kPictureFileNotFoundErr = -43;
inline constexpr int kPictureFormatErr = -2003;
inline constexpr int kPictureDataErr = -50;
inline constexpr int kPictureMemoryErr = -108;

// ---- Clipboard -----------------------------------------------------------------------

// Re-plots the window's structure at the size and puts the picture on the
// clipboard; the window is replotted as it was. Nothing without a structure.
void CopyPixelImageToPasteboard(WindowRef window, int width, int height);
// The plot resolution a copy at that size plots at: the size over the
// window's along the longer requested side, times 72, truncated.
int16_t PasteboardPlotRes(WindowRef window, int width, int height);
// The rectangle of the image as a new image: 0, -1 when the source has no
// pixels, or -108.
int CopyGWorldAsImageRef(const ovgfx::PixelBuffer *source, const Rect &rect, QImage *image);
// Clears the clipboard and puts the image on it as TIFF (and as an image
// for programs that ask for another format). Nothing for a null image.
void CopyCGImageRefToPasteboard(const QImage &image);

// ---- Thumbnails and previews -----------------------------------------------------------

// The window's picture (its red/blue composite or its main image) scaled to
// the thumbnail size: 0 (a null image when the window holds no structure),
// or an error.
int CopyWindowPreviewAsImageRef(WindowRef window, QImage *image);
// The window's picture at no more than the proposed size (narrower sources
// keep their width, the height scaled alike), written by the picture writer
// of the file type at 72 dots per inch and quality 512. The final size is
// answered in `width` and `height`. 0, or -1 on any failure.
int CopyWindowPreview(WindowRef window, uint32_t fileType, int *width, int *height, std::vector<uint8_t> *data);
// Gives saved documents their preview (a 512 x 384 JPEG at most).
void InstallWindowPreviewHook();

// ---- Loading pictures ---------------------------------------------------------------------

// A picture file at its natural size, or none (after a caution alert).
OVImageHandle MyLoadGraphicsOffWorld(const std::filesystem::path &file);
// The picture fitted into the rectangle keeping its proportions, or none.
OVImageHandle MyLoadGraphicsOffWorldRect(const std::filesystem::path &file, const Rect &rect);
// Draws the picture scaled to the rectangle into the current port, within
// its clip: 0 or an error.
int MyDrawPictureFile(const std::filesystem::path &file, const Rect &rect);
// The picture's natural bounds and the bytes an off-screen copy takes;
// false when the file cannot be read.
bool GetGraphicsOffWorldSpecs(const std::filesystem::path &file, Rect *bounds, int64_t *bytes);
// Pictures in memory (a stored preview), files and program resources.
QImage MyLoadImageHandleIntoImageRef(std::span<const uint8_t> data, uint32_t fileType, int width, int height);
QImage MyLoadGraphicsFileIntoImageRef(const std::filesystem::path &file);
QImage MyLoadPictureResourceIntoImageRef(std::string_view name);
QImage LoadImageFromMainBundle(std::string_view name);
// The image at (ceil) width x height: the image itself when it already has
// that size, else a new premultiplied image; null without memory.
QImage MyResizeCGImage(const QImage &image, float width, float height);
