// Picture export: the structure window's plot as an image file of a chosen
// pixel size and resolution.
//
// Raster pictures re-plot the structure off screen at the export size and
// write the image through a picture writer (PNG, JPEG, TIFF, BMP, or our own
// raster PICT); vector pictures record the plot's drawing as a PICT picture.
// Both restore the window's images, bounds, plot scale and plot resolution
// on every path. The Export Graphics panel (InterfaceCode/export) keeps its
// numbers in an `ExportGraphicsRecord`; its linked fields are computed here.
//
// Main thread only.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"
#include "files/AtomicFileWriter.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace ovgfx {
class PixelBuffer;
}

// ---- Commands ----------------------------------------------------------------------

inline constexpr uint32_t kCmdExportPixelGraphics = FourCharsToLong("xPix");
inline constexpr uint32_t kCmdExportVectorGraphics = FourCharsToLong("xVec");
inline constexpr uint32_t kCmdExportWebPage = FourCharsToLong("xHTM");

// Runs 'xPix', 'xVec' and 'xHTM' for the window and answers 0; answers
// kEventNotHandledErr (-9874) for every other command.
int32_t DoPictureExportCommand(WindowRef window, uint32_t command);

// ---- Picture writers -----------------------------------------------------------------

inline constexpr uint32_t kPictFileType = FourCharsToLong("PICT");
inline constexpr uint32_t kJPEGFileType = FourCharsToLong("JPEG");
inline constexpr uint32_t kPNGFileType = FourCharsToLong("PNGf");
inline constexpr uint32_t kTIFFFileType = FourCharsToLong("TIFF");
inline constexpr uint32_t kBMPFileType = FourCharsToLong("BMPf");
inline constexpr uint32_t kGraphicsExporterComponentType = FourCharsToLong("grex");
inline constexpr size_t kMaxGraphicsExporters = 20;
// Quality of exported pictures and of document previews, on the 0 to 1024
// scale of the classic codecs (high and normal quality).
inline constexpr int kExportQuality = 768;
inline constexpr int kPreviewQuality = 512;
// Errors of the picture writers.
inline constexpr int kNoGraphicsExporterErr = -2003;
inline constexpr int kGraphicsWriteErr = -36;

struct GraphicsExporter {
  std::string name;      // shown in the format pop-ups
  uint32_t componentType = kGraphicsExporterComponentType;
  uint32_t subType = 0;  // the file type
  std::string extension; // without the dot
  std::string format;    // the picture writer's format name; empty for our PICT
};
// The installed writers, made once by InitGraphicsExportersArray.
extern std::vector<GraphicsExporter> gGraphicsExporters;
void InitGraphicsExportersArray();
// The writer of a file type; null when none is installed.
const GraphicsExporter *FindGraphicsExporter(uint32_t fileType);

// Writes the image through the writer of the file type at the resolution
// (dots per inch, stored in the file) and quality 768: 0, or the first error
// with its reason in words in `reason` when given. The file is replaced only
// once it is whole (files/AtomicFileWriter.h): a failure leaves an earlier
// file of the name as it was.
int QTExportGWorldToFile(const ovgfx::PixelBuffer &image, const std::filesystem::path &file, uint32_t fileType,
                         double resolution, std::string *reason = nullptr);
// The same into an open writer, which the caller commits.
int QTExportGWorldToWriter(const ovgfx::PixelBuffer &image, AtomicFileWriter &out, uint32_t fileType, double resolution,
                           std::string *reason = nullptr);
int DoExportGWorldToFile(const ovgfx::PixelBuffer &image, const std::filesystem::path &file, uint32_t fileType,
                         double resolution);

// ---- Raster and vector export -------------------------------------------------------------

inline constexpr int kMaxReplotPixels = 32767; // re-plots refuse more
inline constexpr int kMaxVectorPixels = 32767; // pictures refuse 32768 and more
// A pixel picture is drawn this many bytes of pixels at a time (a strip of
// whole rows): a PNG holds no more than one strip in memory.
inline constexpr int64_t kPictureStripBytes = int64_t(128) << 20;
// What a picture held whole (every format but PNG) costs per pixel: the
// image, the writer's copy of it and the encoded file. A picture needing
// more than the memory available is refused before anything is drawn.
inline constexpr int64_t kWholePictureBytesPerPixel = 12;
inline constexpr const char *kNoMemoryForPictureAlert = "Not enough memory for this picture.";
// Written to the Log when the user stops a picture export.
inline constexpr const char *kPictureExportCancelledText = "Picture export cancelled: no file was written.";

// The save dialog for the format, then the re-plot and write; 0 or an error.
int DoExportPixelGraphics(WindowRef window, uint32_t exporterType, int width, int height, double resolution);
// Re-plots the window's structure at width x height pixels for the
// resolution and writes it: 0, an exporter error, -1 after an alert, or
// kUserCanceledErr when the user stopped it (a Log line says so). The plot
// is drawn in strips of about `stripBytes` (see kPictureStripBytes) unless
// it needs whole images. A PNG is written strip by strip; every other
// format is put together whole first, then encoded. It is a long task: the
// status window comes half a second after it starts (or after the dialog
// that started it) and stays up to the end, its bar showing the rows drawn,
// then busy while a whole picture is encoded; the cancel key is asked every
// tenth of a second throughout, while drawing, writing and encoding. A
// failed or stopped export leaves no file and an earlier file of the name as
// it was. The export changes nothing of the window: no undo state, no
// modified mark, its scale and images as they were.
int QTWritePixelImage(WindowRef window, int width, int height, double resolution, const std::filesystem::path &file,
                      uint32_t exporterType, int64_t stripBytes = kPictureStripBytes);
// The plot recorded as a picture (without the file header); empty after an
// alert.
std::vector<uint8_t> CopyVectorImage(WindowRef window, int width, int height, double resolution);
// The save dialog, then a PICT file: 512 zero bytes and the picture.
int DoExportVectorGraphics(WindowRef window, uint32_t fileType, int width, int height, double resolution);

// The re-plot at size shared with the clipboard copy: sets the window's
// images to the size, plots to them, hands the image made to `use`, and
// restores the window. Errors alert with the caller's texts.
struct ReplotTexts {
  const char *overlayFailed;
  const char *portFailed;
  const char *imageFailed;
  const char *explanation; // for all three; null for none
  bool leaveProgress = false; // the status window and progress reporting are left alone
};
int ReplotAtSize(WindowRef window, int width, int height, int16_t plotRes, const ReplotTexts &texts,
                 const std::function<int(const ovgfx::PixelBuffer &)> &use);

// ---- The Export Graphics panel's numbers ------------------------------------------------

enum ExportGraphicsField : int {
  kFieldPixelWidth = 0,
  kFieldPixelHeight,
  kFieldOutputWidth,
  kFieldOutputHeight,
  kFieldResolution,
  kExportGraphicsFieldCount
};
inline constexpr float kMaxPanelPixels = 32765.0f; // OK is disabled above

struct ExportGraphicsRecord {
  uint16_t format = 1; // 1 pixel image, 2 vector image
  float pixelWidth = 0, pixelHeight = 0;
  float resolution = 144;     // dots per inch
  int32_t screenDepth = 32;
  float referenceWidth = 0, referenceHeight = 0; // pane x resolution / 72
  uint8_t dialog = 0;
  WindowRef window = nullptr;
  int16_t units[kExportGraphicsFieldCount] = {2, 2, 3, 3, 1};
};

// The unit codes last confirmed; they live until the program quits.
extern int16_t gExportGraphicsPixelWidthMenuChoice;
extern int16_t gExportGraphicsPixelHeightMenuChoice;
extern int16_t gExportGraphicsOutputWidthMenuChoice;
extern int16_t gExportGraphicsOutputHeightMenuChoice;
extern int16_t gExportGraphicsResolutionMenuChoice;
// The dialog form's answer.
extern int32_t gExportGraphicsHPixels;
extern int32_t gExportGraphicsVPixels;
extern uint8_t gExportGraphicsUserOK;

// The record the panel opens with: the reference size from the graph pane
// and the preferences' resolution, 100 per cent, the saved unit codes.
ExportGraphicsRecord NewExportGraphicsRecord(WindowRef window, bool vector, bool dialog);
// One field's text in its unit.
std::string ExportGraphicsFieldText(const ExportGraphicsRecord &rec, ExportGraphicsField field);
// A value typed into a field: updates the record and answers the fields to
// rewrite (bit per field); 0 when the value changes nothing.
unsigned ExportGraphicsFieldEdited(ExportGraphicsRecord &rec, ExportGraphicsField field, double value);
// True when the size may be exported (OK enabled, warnings hidden).
bool VerifyExportGraphicsSize(const ExportGraphicsRecord &rec);
// The panel closed: on OK saves the unit codes and the resolution, and the
// dialog's answer (its exporter type) or runs the sheet's export.
void CloseExportGraphics(ExportGraphicsRecord &rec, bool ok, uint32_t dialogExporterType);

// The panel itself is a window of the interface, installed at start-up.
// Until then the commands do nothing and the dialog answers Cancel.
struct ExportGraphicsPanelHooks {
  // Opens the sheet on the record's window and returns at once.
  std::function<void(const ExportGraphicsRecord &)> showSheet;
  // Runs the dialog form; fills the exporter type and answers OK.
  std::function<bool(ExportGraphicsRecord &, uint32_t *exporterType)> runDialog;
};
extern ExportGraphicsPanelHooks gExportGraphicsPanelHooks;

// 'xPix' and 'xVec': nothing unless the window holds a structure.
void ShowExportGraphicsSheet(WindowRef window, bool vector);
// The dialog form for the batch export: pixel size, resolution, exporter
// type (in/out) and true on OK.
bool GetExportGraphicsOptions(WindowRef window, int32_t *pixelWidth, int32_t *pixelHeight, float *resolution,
                              uint32_t *exporterType);
