#include "export/PictureExport.h"

#include "Alerts.h"
#include "CancelPoll.h"
#include "LongCommand.h"
#include "MemoryBudget.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "StoredLimits.h"
#include "export/ExportFrame.h"
#include "export/PngWriter.h"
#include "export/WebPage.h"
#include "graphics/GraphicsPort.h"
#include "graphics/PictWriter.h"
#include "graphics/QtBridge.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "render/RasterPrimitives.h"
#include "render/RenderGlobals.h"
#include "window/MainWindowData.h"

#include <QBuffer>
#include <QImageWriter>

#include <cmath>
#include <cstring>
#include <optional>

using ovgfx::PixelBuffer;

std::vector<GraphicsExporter> gGraphicsExporters;
int16_t gExportGraphicsPixelWidthMenuChoice = 2;
int16_t gExportGraphicsPixelHeightMenuChoice = 2;
int16_t gExportGraphicsOutputWidthMenuChoice = 3;
int16_t gExportGraphicsOutputHeightMenuChoice = 3;
int16_t gExportGraphicsResolutionMenuChoice = 1;
int32_t gExportGraphicsHPixels = 0;
int32_t gExportGraphicsVPixels = 0;
uint8_t gExportGraphicsUserOK = 0;
ExportGraphicsPanelHooks gExportGraphicsPanelHooks;

namespace {

constexpr double kInchesPerMetre = 1.0 / 0.0254;
constexpr double kCmPerInch = 2.54;
constexpr double kMmPerInch = 25.4;
constexpr double kScreenDpi = 72.0;
constexpr const char *kOpenStructureAlert = "Please open a structure!";
constexpr const char *kTooLargeAlert = "Picture dimensions are too large.";
constexpr const char *kTooLargeExplanation = "Try reducing the picture resolution and/or expansion";

// A resolution, or a picture size in pixels, as an integer: not-a-number
// counts as the lowest value and nothing beyond the highest.
double ClampedValue(double v, double lowest, double highest) {
  return v == v ? std::clamp(v, lowest, highest) : lowest;
}

bool HasStructure(WindowRef window) { return window && GetWindowCrystal(window) && IsWindowFileOpen(window); }

std::string WindowTitleOf(WindowRef window) {
  HostServices *host = GetHostServices();
  return host && window ? host->WindowTitle(window) : std::string();
}

bool RedBlue(const CrystalRec &c) { return c.stereoOn && c.stereoMode == kRedBlueStereo; }

// The picture writers the toolkit offers, in pop-up order.
struct ExporterKind {
  uint32_t type;
  const char *name;
  const char *extension;
  const char *format;
};
constexpr ExporterKind kExporterKinds[] = {
    {kPictFileType, "PICT", "pct", ""},   {kPNGFileType, "PNG", "png", "png"},
    {kJPEGFileType, "JPEG", "jpg", "jpeg"}, {kTIFFFileType, "TIFF", "tif", "tiff"},
    {kBMPFileType, "BMP", "bmp", "bmp"},
};

// The alert of a vector picture that could not be written.
constexpr const char *kPictWriteFailed = "Error writing to the picture file";

// A picture file: the zero header, then the picture.
bool WritePictFile(AtomicFileWriter &out, const std::vector<uint8_t> &picture) {
  const std::vector<uint8_t> header(ovgfx::kPictFileHeaderSize, 0);
  return out.Write(header.data(), header.size()) && out.Write(picture.data(), picture.size());
}

// The memory an export may still take: what the host says, else what the
// machine has available (page cache included, which the system gives back).
int64_t MemoryForPictures() {
  if (GetScreenHooks().freeMemory)
    return FreeMemory();
  return int64_t(std::min<uint64_t>(AvailableMemoryBytes(), uint64_t(INT64_MAX)));
}

// Whether `bytes` more can be had for an image.
bool EnoughMemoryFor(int64_t bytes) { return MemoryForPictures() >= bytes; }

// Bytes as the alerts give them: "12.9 GB", "512 MB".
std::string MemoryText(double bytes) {
  std::string text;
  if (bytes >= 1e9)
    Appendf(text, "%.1f GB", bytes / 1e9);
  else
    Appendf(text, "%.0f MB", std::ceil(bytes / 1e6));
  return text;
}

// A picture is drawn a strip at a time unless the plot needs images of the
// whole picture: the surface overlay, stereo pairs, and a gradient or
// picture background, which is laid out over the whole picture.
bool DrawsInStrips(const CrystalRec &c) {
  return !c.surfaceOverlay && !c.stereoOn && !c.backgroundGradient && !c.backgroundPictureImage;
}

constexpr const char *kExportStatusText = "Generating output to a graphics file...";
// A PNG's rows are compressed this many at a time between cancel checks.
constexpr int kPngRowsPerCheck = 64;

} // namespace

// ---- Picture writers -------------------------------------------------------------------

void InitGraphicsExportersArray() {
  if (!gGraphicsExporters.empty())
    return;
  const QList<QByteArray> formats = QImageWriter::supportedImageFormats();
  for (const ExporterKind &k : kExporterKinds) {
    if (*k.format && !formats.contains(QByteArray(k.format)))
      continue;
    if (gGraphicsExporters.size() == kMaxGraphicsExporters)
      break;
    GraphicsExporter e;
    e.name = k.name;
    e.subType = k.type;
    e.extension = k.extension;
    e.format = k.format;
    gGraphicsExporters.push_back(std::move(e));
  }
}

const GraphicsExporter *FindGraphicsExporter(uint32_t fileType) {
  InitGraphicsExportersArray();
  for (const GraphicsExporter &e : gGraphicsExporters)
    if (e.subType == fileType)
      return &e;
  return nullptr;
}

namespace {

// The encoded bytes go to the file this many at a time, the cancel key
// asked between them.
constexpr qsizetype kEncodedChunkBytes = qsizetype(16) << 20;

// The memory the toolkit's writers encode into. Before each write they make
// it asks the export's cancel check; once the user has asked to stop, every
// write fails, which ends most writers early (the rest run to their end).
class PolledBuffer final : public QBuffer {
public:
  PolledBuffer(QByteArray *bytes, CancelPoll *poll) : QBuffer(bytes), poll_(poll) {}
  bool Stopped() const { return stopped_; }

protected:
  qint64 writeData(const char *data, qint64 size) override {
    if (stopped_ || (poll_ && poll_->Step())) {
      stopped_ = true;
      return -1;
    }
    return QBuffer::writeData(data, size);
  }

private:
  CancelPoll *poll_;
  bool stopped_ = false;
};

// The picture writers, with the export's cancel check (none: never
// stopped): 0, an error with its reason, or kUserCanceledErr.
int EncodePicture(const PixelBuffer &image, AtomicFileWriter &out, uint32_t fileType, double resolution,
                  std::string *reason, CancelPoll *poll) {
  const auto failed = [reason](std::string why) {
    if (reason)
      *reason = std::move(why);
    return kGraphicsWriteErr;
  };
  // A write the writer refused, with the system's reason.
  const auto writeFailed = [&] {
    return failed(out.Reason().empty() ? "the picture could not be encoded" : out.Reason());
  };
  const GraphicsExporter *ex = FindGraphicsExporter(fileType);
  if (!ex) {
    if (reason)
      *reason = "no writer for this picture format";
    return kNoGraphicsExporterErr;
  }
  if (!out.IsOpen())
    return writeFailed();
  // PNG goes through our own writer, which compresses a plot several times
  // faster than the toolkit's and reads the pixels where they are.
  if (fileType == kPNGFileType)
    return WritePNGFile(image, out, resolution) ? 0 : writeFailed();
  QImage img = ovgfx::ImageView(const_cast<PixelBuffer &>(image)).convertToFormat(QImage::Format_RGB32);
  if (img.isNull())
    return failed("out of memory");
  if (ex->format.empty())
    return WritePictFile(out, ovgfx::EncodeDirectBitsPicture(img, resolution)) ? 0 : writeFailed();
  const int dotsPerMetre = int(std::lround(resolution * kInchesPerMetre));
  img.setDotsPerMeterX(dotsPerMetre);
  img.setDotsPerMeterY(dotsPerMetre);
  // The toolkit's writers report no failure of the device they write to, so
  // they encode into memory and the bytes go through the checked writer.
  QByteArray bytes;
  PolledBuffer buffer(&bytes, poll);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, QByteArray(ex->format.c_str()));
  writer.setQuality(kExportQuality * 100 / 1024);
  const bool written = writer.write(img);
  if (buffer.Stopped())
    return kUserCanceledErr;
  if (!written)
    return failed(writer.errorString().toStdString());
  for (qsizetype at = 0; at < bytes.size(); at += kEncodedChunkBytes) {
    if (poll && poll->Step())
      return kUserCanceledErr;
    if (!out.Write(bytes.constData() + at, size_t(std::min(kEncodedChunkBytes, bytes.size() - at))))
      return writeFailed();
  }
  return 0;
}

} // namespace

int QTExportGWorldToWriter(const PixelBuffer &image, AtomicFileWriter &out, uint32_t fileType, double resolution,
                           std::string *reason) {
  return EncodePicture(image, out, fileType, resolution, reason, nullptr);
}

int QTExportGWorldToFile(const PixelBuffer &image, const std::filesystem::path &file, uint32_t fileType,
                         double resolution, std::string *reason) {
  AtomicFileWriter out(file);
  const int err = QTExportGWorldToWriter(image, out, fileType, resolution, reason);
  if (err != 0 || out.Commit())
    return err;
  if (reason)
    *reason = out.Reason();
  return kGraphicsWriteErr;
}

int DoExportGWorldToFile(const PixelBuffer &image, const std::filesystem::path &file, uint32_t fileType,
                         double resolution) {
  return QTExportGWorldToFile(image, file, fileType, resolution);
}

// ---- Re-plot at size ---------------------------------------------------------------------

namespace {

// The re-plot at size, drawn `stripRows` rows at a time: each strip is an
// image of the picture's width whose bounds place it in the picture, handed
// to `use` in order, top to bottom; a non-zero answer stops the plot and is
// answered. Only the main image is drawn in strips: the overlay and the
// stereo images are made whole, so those plots take `stripRows` of at least
// the height. In a picture export the plots ask its cancel check
// (ExportPlotScope), and a strip the user stopped is handed to `use`
// unfinished. The window's own plots wait until its images are its own
// again.
int ReplotStrips(WindowRef window, int width, int height, int16_t plotRes, int stripRows, const ReplotTexts &texts,
                 const std::function<int(const PixelBuffer &)> &use) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return -1;
  stripRows = std::clamp(stripRows, 1, height);
  Rect old;
  GetWindowOffBounds(window, &old);
  const int oldWidth = old.Width(), oldHeight = old.Height();
  const Rect bounds = MakeRect(0, 0, width, height);
  SetWindowOffBounds(window, bounds);
  SetWindowOffScreen(window, nullptr);
  SetWindowOffScreenOverlay(window, nullptr);
  SetWindowTransferBuffer(window, nullptr);
  const uint8_t savedProgress = gShowProgress;
  const float savedScale = c->plotScale;
  std::optional<WindowImagesLent> lent(std::in_place);
  // The window as it was, its images remade at the pane's size.
  const auto restore = [&] {
    SetWindowOffScreen(window, nullptr);
    SetWindowOffScreenOverlay(window, nullptr);
    SetWindowTransferBuffer(window, nullptr);
    c->plotScale = savedScale;
    gPlotRes = kScreenPlotRes;
    gShowProgress = savedProgress;
    ResetOffScreen(window);
    lent.reset();
    NewPlot(window, false, true);
  };
  const auto fail = [&](const char *message) {
    MyCFStopAlert(message, texts.explanation ? texts.explanation : "");
    if (!texts.leaveProgress)
      CloseStatus();
    restore();
    return -1;
  };
  const int64_t imageBytes = int64_t(width) * int64_t(height) * 4;
  OVImageHandle image;
  if (c->surfaceOverlay) {
    if (!EnoughMemoryFor(imageBytes) || MakeGWorld(image, bounds, kOffScreenDepth) != 0)
      return fail(texts.overlayFailed);
    SetWindowOffScreenOverlay(window, image);
  }
  if (RedBlue(*c)) {
    if (!EnoughMemoryFor(imageBytes) || MakeGWorld(image, bounds, kOffScreenDepth) != 0)
      return fail(texts.portFailed);
    SetWindowTransferBuffer(window, image);
  }

  if (!texts.leaveProgress)
    gShowProgress = 0;
  int result = 0;
  uint64_t layout = 0; // the first strip's, which the later strips draw from
  for (int top = 0; result == 0 && top < height; top += stripRows) {
    const Rect strip = MakeRect(0, top, width, std::min(height, top + stripRows));
    SetWindowOffScreen(window, nullptr);
    if (!EnoughMemoryFor(int64_t(width) * strip.Height() * 4) || MakeGWorld(image, strip, kOffScreenDepth) != 0)
      return fail(texts.imageFailed);
    SetWindowOffScreen(window, image);
    image.reset();
    c->plotScale = savedScale;
    if (width > height && oldWidth > 0)
      c->plotScale = c->plotScale * float(width) / float(oldWidth);
    else if (oldHeight > 0)
      c->plotScale = c->plotScale * float(height) / float(oldHeight);
    gPlotRes = plotRes;
    // Lines cut by a strip's edges are drawn as in the picture drawn whole.
    gStripOfPicture = {stripRows < height ? OffScreenPixels(GetWindowOffScreen(window)) : nullptr, bounds, layout};
    const uint64_t layoutsBefore = gPlotLayouts;
    PlotCrystal(window, kPlotToExport);
    gStripOfPicture = {};
    // The layout the first strip made serves the strips after it.
    if (stripRows < height && layout == 0 && gPlotLayouts == layoutsBefore + 1)
      layout = gPlotLayouts;
    const PixelBuffer *source =
        OffScreenPixels(RedBlue(*c) ? GetWindowTransferBuffer(window) : GetWindowOffScreen(window));
    result = source ? use(*source) : -1;
  }
  restore();
  return result;
}

} // namespace

int ReplotAtSize(WindowRef window, int width, int height, int16_t plotRes, const ReplotTexts &texts,
                 const std::function<int(const PixelBuffer &)> &use) {
  return ReplotStrips(window, width, height, plotRes, height, texts, use);
}

int QTWritePixelImage(WindowRef window, int width, int height, double resolution, const std::filesystem::path &file,
                      uint32_t exporterType, int64_t stripBytes) {
  if (!HasStructure(window)) {
    MyCFStopAlert(kOpenStructureAlert);
    return 0;
  }
  if (width > kMaxReplotPixels || height > kMaxReplotPixels) {
    MyCFStopAlert(kTooLargeAlert, kTooLargeExplanation);
    return -1;
  }
  if (width <= 0 || height <= 0)
    return -1;
  constexpr const char *kExportFailed = "Sorry, graphics export failed";
  const GraphicsExporter *ex = FindGraphicsExporter(exporterType);
  if (!ex) {
    AlertExportFailed(kExportFailed, file, "no writer for this picture format");
    return kNoGraphicsExporterErr;
  }
  const bool png = exporterType == kPNGFileType;
  const int64_t rowBytes = int64_t(width) * 4;
  const bool strips = DrawsInStrips(*GetWindowCrystal(window));
  const int stripRows = strips ? int(std::clamp<int64_t>(stripBytes / rowBytes, 1, height)) : height;
  // Every format but PNG is encoded from the whole picture in memory.
  if (!png) {
    const double need = double(width) * double(height) * double(kWholePictureBytesPerPixel);
    const double free = double(MemoryForPictures());
    if (need > free) {
      std::string why;
      Appendf(why, "A %s \u00D7 %s pixel %s picture needs about %s of memory, and %s is free. Choose a smaller size, "
                   "or PNG, which is written a strip at a time.",
              GroupedCount(uint64_t(width)).c_str(), GroupedCount(uint64_t(height)).c_str(), ex->name.c_str(),
              MemoryText(need).c_str(), MemoryText(free).c_str());
      MyCFStopAlert(kNoMemoryForPictureAlert, why);
      return -1;
    }
  }
  AtomicFileWriter out(file);
  if (!out.IsOpen()) {
    AlertExportFailed(kExportFailed, file, out.Reason());
    return kGraphicsWriteErr;
  }
  // A long task from here: the status window half a second on, and an
  // Escape pressed since counts. The export is no change of the window.
  const LongCommand command;
  const RedrawOnly redraw(window);
  std::optional<PngStripWriter> pngOut;
  if (png)
    pngOut.emplace(out, width, height, resolution);
  OVImageHandle whole; // a picture held whole, put together from its strips
  std::string reason;
  // One cancel check for the whole export: the plots' walks, the strips,
  // the rows written and the encoding all ask it, each often enough for the
  // status window and the cancel key to answer within a tenth of a second.
  CancelPoll poll(1);
  const auto stopped = [&](int rowsDone) {
    WriteProgress(kExportStatusText, float(100.0 * rowsDone / height));
    return poll.Step();
  };
  WriteProgress(kExportStatusText, 0.0f);
  // A picture held whole is encoded once drawn, by a writer that tells no
  // progress: the status window shows a busy bar meanwhile.
  const auto encode = [&](const PixelBuffer &picture) {
    WriteStatus(kExportStatusText);
    return EncodePicture(picture, out, exporterType, resolution, &reason, &poll);
  };
  const ReplotTexts texts{"Insufficient memory to create surface overlay.",
                          "Insufficient memory to create graphics port.",
                          "An error occurred whilst creating an offscreen graphics port.", nullptr};
  const ExportPlotScope exporting(&poll);
  int err = ReplotStrips(window, width, height, int16_t(ClampedValue(resolution, 1.0, 32767.0)), stripRows, texts,
                         [&](const PixelBuffer &strip) {
                           if (stopped(strip.Bounds().top))
                             return int(kUserCanceledErr);
                           if (png) {
                             const Rect &b = strip.Bounds();
                             for (int y = b.top; y < b.bottom; y += kPngRowsPerCheck) {
                               if (!pngOut->WriteRows(strip, y, std::min(int(b.bottom), y + kPngRowsPerCheck)))
                                 return kGraphicsWriteErr;
                               if (poll.Step())
                                 return int(kUserCanceledErr);
                             }
                           } else if (stripRows < height) {
                             if (!whole && MakeGWorld(whole, MakeRect(0, 0, width, height), kOffScreenDepth) != 0) {
                               reason = "out of memory";
                               return kGraphicsWriteErr;
                             }
                             PixelBuffer &to = *OffScreenPixels(whole);
                             for (int y = strip.Bounds().top; y < strip.Bounds().bottom; ++y)
                               std::memcpy(to.Row32(y), strip.Row32(y), size_t(rowBytes));
                           }
                           if (stopped(strip.Bounds().bottom))
                             return int(kUserCanceledErr);
                           return png || stripRows < height ? 0 : encode(strip);
                         });
  if (err == 0 && whole)
    err = encode(*OffScreenPixels(whole));
  whole.reset();
  if (err == 0 && pngOut && !pngOut->Finish())
    err = kGraphicsWriteErr;
  if (err == 0 && !out.Commit())
    err = kGraphicsWriteErr;
  if (err == kUserCanceledErr) {
    out.Abort();
    FWrite(kPictureExportCancelledText);
  } else if (err != 0 && err != -1) {
    out.Abort();
    AlertExportFailed(kExportFailed, file, !reason.empty() ? reason
                                           : !out.Reason().empty() ? out.Reason()
                                                                   : std::string("the picture could not be encoded"));
  }
  return err;
}

int DoExportPixelGraphics(WindowRef window, uint32_t exporterType, int width, int height, double resolution) {
  if (!window)
    return -1;
  const GraphicsExporter *ex = FindGraphicsExporter(exporterType);
  const std::string proposed = WindowTitleOf(window) + "." + (ex ? ex->extension : std::string());
  uint32_t type = exporterType, creator = FourCharsToLong("prvw");
  std::filesystem::path file;
  const int err = MyCreateSaveGraphicsFileDialog("Export pixel graphics", proposed, &type, &creator, &file);
  if (err != 0)
    return err;
  gPrefs.exportFileType = type;
  // The status window's half second runs from the dialog's answer.
  const LongCommand command;
  WriteStatus(kExportStatusText);
  // A failed or stopped export leaves an earlier file of the name as it was.
  const int result = QTWritePixelImage(window, width, height, resolution, file, type);
  CloseStatus();
  return result;
}

// ---- Vector pictures ---------------------------------------------------------------------

std::vector<uint8_t> CopyVectorImage(WindowRef window, int width, int height, double resolution) {
  CrystalRec *c = HasStructure(window) ? GetWindowCrystal(window) : nullptr;
  if (!c) {
    MyCFStopAlert(kOpenStructureAlert);
    return {};
  }
  if (c->surfaceOverlay) {
    MyCFStopAlert("Surface plots cannot be copied as vector images.", "Try copying as a pixel image instead.");
    return {};
  }
  if (width > kMaxVectorPixels || height > kMaxVectorPixels) {
    MyCFStopAlert(kTooLargeAlert, kTooLargeExplanation);
    return {};
  }
  if (width <= 0 || height <= 0) {
    MyCFStopAlert("Sorry, out of memory.");
    return {};
  }
  const Rect frame = MakeRect(0, 0, width, height);
  // A port without pixels: the picture is all that is kept.
  ovgfx::GraphicsPort port(frame);
  port.ClipRect(frame);
  std::vector<uint8_t> picture;
  {
    ovgfx::PortSaver saver(&port);
    ovgfx::PictureRecorder recorder(port, frame, resolution);
    const uint8_t savedProgress = gShowProgress;
    gShowProgress = 0;
    const float savedScale = c->plotScale;
    gPlotRes = int16_t(ClampedValue(resolution, 1.0, 32767.0));
    PlotCrystal(window, kPlotToPort);
    c->plotScale = savedScale;
    gPlotRes = kScreenPlotRes;
    gShowProgress = savedProgress;
    picture = recorder.Close();
  }
  if (picture.size() > 10) {
    NewPlot(window, false, true);
    return picture;
  }
  MyCFStopAlert("Insufficient memory to copy this picture");
  return {};
}

int DoExportVectorGraphics(WindowRef window, uint32_t /*fileType*/, int width, int height, double resolution) {
  if (!HasStructure(window))
    return -1;
  std::filesystem::path file;
  const int err = MyCreateSaveFileDialog("Export vector graphics", WindowTitleOf(window) + ".PCT", &file);
  if (err != 0)
    return err;
  WriteStatus("Generating the PICT image...");
  AtomicFileWriter out(file);
  if (!out.IsOpen()) {
    CloseStatus();
    AlertExportFailed(kPictWriteFailed, file, out.Reason());
    return kGraphicsWriteErr;
  }
  const std::vector<uint8_t> picture = CopyVectorImage(window, width, height, resolution);
  if (picture.empty()) {
    out.Abort();
    MyCFStopAlert("Error copying picture");
    CloseStatus();
    return -1;
  }
  WriteStatus("Writing to PICT file...");
  bool ok = WritePictFile(out, picture);
  WriteStatus("Closing PICT file...");
  ok = ok && out.Commit();
  CloseStatus();
  if (!ok) {
    AlertExportFailed(kPictWriteFailed, file, out.Reason());
    return kGraphicsWriteErr;
  }
  return 0;
}

// ---- The panel's numbers -------------------------------------------------------------------

ExportGraphicsRecord NewExportGraphicsRecord(WindowRef window, bool vector, bool dialog) {
  ExportGraphicsRecord rec;
  rec.window = window;
  rec.dialog = dialog ? 1 : 0;
  rec.format = vector ? 2 : 1;
  rec.resolution = float(gPrefs.exportResolution);
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  rec.referenceWidth = std::trunc(float(pane.Width()) * rec.resolution / float(kScreenDpi));
  rec.referenceHeight = std::trunc(float(pane.Height()) * rec.resolution / float(kScreenDpi));
  rec.pixelWidth = rec.referenceWidth;
  rec.pixelHeight = rec.referenceHeight;
  rec.screenDepth = kOffScreenDepth;
  rec.units[kFieldPixelWidth] = gExportGraphicsPixelWidthMenuChoice;
  rec.units[kFieldPixelHeight] = gExportGraphicsPixelHeightMenuChoice;
  rec.units[kFieldOutputWidth] = gExportGraphicsOutputWidthMenuChoice;
  rec.units[kFieldOutputHeight] = gExportGraphicsOutputHeightMenuChoice;
  rec.units[kFieldResolution] = gExportGraphicsResolutionMenuChoice;
  return rec;
}

std::string ExportGraphicsFieldText(const ExportGraphicsRecord &rec, ExportGraphicsField field) {
  std::string text; // always with a decimal point, whatever the locale
  const int code = rec.units[field];
  const double res = rec.resolution;
  switch (field) {
  case kFieldPixelWidth:
  case kFieldPixelHeight: {
    const double px = field == kFieldPixelWidth ? rec.pixelWidth : rec.pixelHeight;
    const double ref = field == kFieldPixelWidth ? rec.referenceWidth : rec.referenceHeight;
    if (code == 1)
      Appendf(text, "%.2f", ref > 0 ? px * 100.0 / ref : 0.0);
    else
      Appendf(text, "%.0f", px);
    break;
  }
  case kFieldOutputWidth:
  case kFieldOutputHeight: {
    const double px = field == kFieldOutputWidth ? rec.pixelWidth : rec.pixelHeight;
    const double ref = field == kFieldOutputWidth ? rec.referenceWidth : rec.referenceHeight;
    double v = px / res;
    if (code == 1)
      v = ref > 0 ? px * 100.0 / ref * kScreenDpi / res : 0.0;
    else if (code == 3)
      v *= kCmPerInch;
    else if (code == 4)
      v *= kMmPerInch;
    Appendf(text, "%.2f", v);
    break;
  }
  default:
    if (code == 2)
      Appendf(text, "%.2f", res / kCmPerInch);
    else
      Appendf(text, "%.0f", res);
    break;
  }
  return text;
}

unsigned ExportGraphicsFieldEdited(ExportGraphicsRecord &rec, ExportGraphicsField field, double v) {
  const int code = rec.units[field];
  const double refW = rec.referenceWidth, refH = rec.referenceHeight, res = rec.resolution;
  const auto bit = [](ExportGraphicsField f) { return 1u << unsigned(f); };
  if (refW <= 0 || refH <= 0)
    return 0;
  switch (field) {
  case kFieldPixelWidth:
  case kFieldPixelHeight: {
    const bool wide = field == kFieldPixelWidth;
    if (code == 1)
      v = (wide ? refW : refH) * 0.01 * v;
    if (!(v > 0))
      return 0;
    rec.pixelWidth = float(wide ? v : v * refW / refH);
    rec.pixelHeight = float(wide ? v * refH / refW : v);
    return (wide ? bit(kFieldPixelHeight) : bit(kFieldPixelWidth)) | bit(kFieldOutputWidth) |
           bit(kFieldOutputHeight);
  }
  case kFieldOutputWidth:
  case kFieldOutputHeight: {
    const bool wide = field == kFieldOutputWidth;
    const double ref = wide ? refW : refH;
    double px = v * res;
    if (code == 1)
      px = v * (ref * 0.01 * res / kScreenDpi);
    else if (code == 3)
      px = v * res / kCmPerInch;
    else if (code == 4)
      px = v * res / kMmPerInch;
    if (!(px > 0))
      return 0;
    rec.pixelWidth = float(wide ? px : px * refW / refH);
    rec.pixelHeight = float(wide ? px * refH / refW : px);
    return bit(kFieldPixelWidth) | bit(kFieldPixelHeight) | (wide ? bit(kFieldOutputHeight) : bit(kFieldOutputWidth));
  }
  default: {
    if (code == 2)
      v *= kCmPerInch;
    if (!(v > 0))
      return 0;
    rec.pixelWidth = float(rec.pixelWidth * v / res);
    rec.pixelHeight = float(rec.pixelHeight * v / res);
    rec.resolution = float(v);
    return bit(kFieldPixelWidth) | bit(kFieldPixelHeight);
  }
  }
}

bool VerifyExportGraphicsSize(const ExportGraphicsRecord &rec) {
  return !(std::round(rec.pixelWidth) > kMaxPanelPixels || std::round(rec.pixelHeight) > kMaxPanelPixels);
}

void CloseExportGraphics(ExportGraphicsRecord &rec, bool ok, uint32_t dialogExporterType) {
  if (ok) {
    gExportGraphicsPixelWidthMenuChoice = rec.units[kFieldPixelWidth];
    gExportGraphicsPixelHeightMenuChoice = rec.units[kFieldPixelHeight];
    gExportGraphicsOutputWidthMenuChoice = rec.units[kFieldOutputWidth];
    gExportGraphicsOutputHeightMenuChoice = rec.units[kFieldOutputHeight];
    gExportGraphicsResolutionMenuChoice = rec.units[kFieldResolution];
    // The numbers are taken as the fields show them: whole pixels and dots
    // per inch, rounded. The resolution is kept within what the preferences
    // file keeps, so that it reads back.
    const double resolution = std::round(rec.resolution);
    gPrefs.exportResolution =
        uint16_t(ClampedValue(resolution, stored::kExportResolution.low, stored::kExportResolution.high));
    // Sizes beyond any picture stay beyond the export's limit, so the export
    // refuses them.
    const int width = int(ClampedValue(std::round(rec.pixelWidth), 0.0, 1e9));
    const int height = int(ClampedValue(std::round(rec.pixelHeight), 0.0, 1e9));
    if (rec.dialog) {
      gExportGraphicsHPixels = width;
      gExportGraphicsVPixels = height;
      gPrefs.exportFileType = dialogExporterType ? dialogExporterType : FourCharsToLong("????");
    } else if (rec.format == 1) {
      DoExportPixelGraphics(rec.window, gPrefs.exportFileType, width, height, resolution);
    } else {
      DoExportVectorGraphics(rec.window, kPictFileType, width, height, resolution);
    }
  }
  gExportGraphicsUserOK = ok ? 1 : 0;
}

void ShowExportGraphicsSheet(WindowRef window, bool vector) {
  if (!HasStructure(window) || !gExportGraphicsPanelHooks.showSheet)
    return;
  gExportGraphicsPanelHooks.showSheet(NewExportGraphicsRecord(window, vector, false));
}

bool GetExportGraphicsOptions(WindowRef window, int32_t *pixelWidth, int32_t *pixelHeight, float *resolution,
                              uint32_t *exporterType) {
  gExportGraphicsUserOK = 0;
  if (!window || !gExportGraphicsPanelHooks.runDialog)
    return false;
  ExportGraphicsRecord rec = NewExportGraphicsRecord(window, false, true);
  uint32_t type = exporterType ? *exporterType : gPrefs.exportFileType;
  const bool ok = gExportGraphicsPanelHooks.runDialog(rec, &type);
  CloseExportGraphics(rec, ok, type);
  if (!ok)
    return false;
  if (pixelWidth)
    *pixelWidth = gExportGraphicsHPixels;
  if (pixelHeight)
    *pixelHeight = gExportGraphicsVPixels;
  if (resolution)
    *resolution = float(gPrefs.exportResolution);
  if (exporterType)
    *exporterType = gPrefs.exportFileType;
  return true;
}

// ---- Commands ------------------------------------------------------------------------------

int32_t DoPictureExportCommand(WindowRef window, uint32_t command) {
  switch (command) {
  case kCmdExportPixelGraphics:
    ShowExportGraphicsSheet(window, false);
    return 0;
  case kCmdExportVectorGraphics:
    ShowExportGraphicsSheet(window, true);
    return 0;
  case kCmdExportWebPage:
    WriteWebPage(window);
    return 0;
  default:
    return kEventNotHandledErr;
  }
}
