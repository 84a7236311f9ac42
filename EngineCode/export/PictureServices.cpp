#include "export/PictureServices.h"

#include "Alerts.h"
#include "documents/CrystalDocument.h"
#include "export/PictureExport.h"
#include "graphics/GraphicsPort.h"
#include "graphics/ImageCopy.h"
#include "graphics/QtBridge.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QMimeData>
#include <QPainter>

#include <cmath>
#include <cstdio>
#include <cstring>

using ovgfx::PixelBuffer;

namespace {

constexpr const char *kTiffMime = "image/tiff";
constexpr double kPreviewDpi = 72.0;
constexpr const char *kResourcePrefix = ":/images/";

bool RedBlue(const CrystalRec &c) { return c.stereoOn && c.stereoMode == kRedBlueStereo; }

// The window's picture: its red/blue composite, else its main image.
const PixelBuffer *WindowSource(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!c || !IsWindowFileOpen(window))
    return nullptr;
  return OffScreenPixels(RedBlue(*c) ? GetWindowTransferBuffer(window) : GetWindowOffScreen(window));
}

// A new image of the size with the whole source copied into it, scaled.
QImage ScaledCopy(const PixelBuffer &source, int width, int height) {
  OVImageHandle target;
  if (MakeGWorld(target, MakeRect(0, 0, width, height), kOffScreenDepth) != 0)
    return {};
  PixelBuffer &pixels = *OffScreenPixels(target);
  ovgfx::GraphicsPort port(&pixels);
  port.SetForeColor(kRGBBlack);
  port.SetBackColor(kRGBWhite);
  ovgfx::CopyPixels(source, port, source.Bounds(), pixels.Bounds(), ovgfx::kCopySource);
  return ovgfx::ImageView(pixels).convertToFormat(QImage::Format_RGB32).copy(); // owns its pixels
}

// The one decoder: a reader on a file or on bytes, optionally scaled.
struct Decoded {
  QImage image;
  int error = 0;
};

int ReaderError(const QImageReader &reader) {
  switch (reader.error()) {
  case QImageReader::FileNotFoundError:
  case QImageReader::DeviceError:
    return kPictureFileNotFoundErr;
  case QImageReader::UnsupportedFormatError:
    return kPictureFormatErr;
  default:
    return kPictureDataErr;
  }
}

Decoded Decode(QImageReader &reader, QSize scaled = QSize()) {
  Decoded d;
  reader.setAutoTransform(true);
  if (scaled.isValid())
    reader.setScaledSize(scaled);
  if (!reader.read(&d.image)) {
    d.error = ReaderError(reader);
    d.image = QImage();
  }
  return d;
}

Decoded DecodeFile(const std::filesystem::path &file, QSize scaled = QSize()) {
  QImageReader reader(QString::fromStdString(file.string()));
  return Decode(reader, scaled);
}

// Our off-screen image of a decoded picture.
OVImageHandle ToOffWorld(const QImage &image, int *error) {
  OVImageHandle out;
  if (MakeGWorld(out, MakeRect(0, 0, image.width(), image.height()), kOffScreenDepth) != 0) {
    *error = kPictureMemoryErr;
    return nullptr;
  }
  PixelBuffer &pixels = *OffScreenPixels(out);
  // Transparent parts lie over white, as drawing into a cleared image does.
  QImage view = ovgfx::ImageView(pixels);
  QPainter painter(&view);
  painter.drawImage(0, 0, image);
  return out;
}

void DrawFailedAlert(int error) {
  if (error == kPictureMemoryErr) {
    MyCFCautionAlert("Sorry, insufficient memory to draw the picture");
    return;
  }
  char text[96];
  std::snprintf(text, sizeof text, "Sorry, an error of type %d occurred whilst trying to draw the picture", error);
  MyCFCautionAlert(text);
}

OVImageHandle LoadOffWorld(const std::filesystem::path &file, const Rect *fit) {
  QImageReader reader(QString::fromStdString(file.string()));
  const QSize natural = reader.size();
  QSize target;
  if (fit && natural.isValid() && natural.width() > 0 && natural.height() > 0) {
    const double aspect = double(natural.width()) / double(natural.height());
    int w = fit->Width(), h = fit->Height();
    if (aspect > 1.0)
      h = int(fit->Width() / aspect);
    else
      w = int(fit->Height() * aspect);
    target = QSize(std::max(w, 1), std::max(h, 1));
  }
  Decoded d = Decode(reader, target);
  int error = d.error;
  OVImageHandle out = error == 0 ? ToOffWorld(d.image, &error) : nullptr;
  if (!out)
    DrawFailedAlert(error);
  return out;
}

} // namespace

// ---- Clipboard ---------------------------------------------------------------------------

int16_t PasteboardPlotRes(WindowRef window, int width, int height) {
  Rect old;
  GetWindowOffBounds(window, &old);
  double factor = 1.0;
  if (width > height && old.Width() > 0)
    factor = double(width) / double(old.Width());
  else if (old.Height() > 0)
    factor = double(height) / double(old.Height());
  return int16_t(std::clamp(std::trunc(factor * 72.0), 1.0, 32767.0));
}

int CopyGWorldAsImageRef(const PixelBuffer *source, const Rect &rect, QImage *image) {
  if (!source || !source->BaseAddr() || source->Depth() != 32)
    return -1;
  if (rect.IsEmpty())
    return kPictureMemoryErr;
  // The rows go straight into the new image in one pass; what lies outside
  // the source stays white, as in a fresh off-screen image.
  QImage copy(rect.Width(), rect.Height(), QImage::Format_RGB32);
  if (copy.isNull())
    return kPictureMemoryErr;
  // 72 dots per inch, as every off-screen image.
  const int dotsPerMetre = int(std::lround(72.0 / 0.0254));
  copy.setDotsPerMeterX(dotsPerMetre);
  copy.setDotsPerMeterY(dotsPerMetre);
  const Rect inside = SectRect(rect, source->Bounds());
  if (inside != rect)
    copy.fill(0xFFFFFFFFu);
  for (int y = inside.top; y < inside.bottom; ++y)
    std::memcpy(reinterpret_cast<uint32_t *>(copy.scanLine(y - rect.top)) + (inside.left - rect.left),
                source->Row32(y) + (inside.left - source->Bounds().left), size_t(inside.Width()) * 4);
  *image = copy;
  return 0;
}

void CopyCGImageRefToPasteboard(const QImage &image) {
  if (image.isNull() || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
    return;
  QClipboard *clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  auto *mime = new QMimeData;
  QByteArray tiff;
  {
    QBuffer buffer(&tiff);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    if (!writer.write(image))
      tiff.clear();
  }
  if (!tiff.isEmpty())
    mime->setData(kTiffMime, tiff);
  mime->setImageData(image);
  clipboard->setMimeData(mime);
}

void CopyPixelImageToPasteboard(WindowRef window, int width, int height) {
  if (!window || !GetWindowCrystal(window) || !IsWindowFileOpen(window))
    return;
  constexpr const char *kReduce = "Try reducing the image size.";
  if (width > kMaxReplotPixels || height > kMaxReplotPixels) {
    MyCFStopAlert("Picture dimensions are too large.", kReduce);
    return;
  }
  if (width <= 0 || height <= 0)
    return;
  constexpr const char *kNoMemory = "Insufficient memory to copy the image.";
  ReplotTexts texts{kNoMemory, kNoMemory, kNoMemory, kReduce};
  texts.leaveProgress = true;
  ReplotAtSize(window, width, height, PasteboardPlotRes(window, width, height), texts,
               [&](const PixelBuffer &source) {
                 QImage image;
                 if (CopyGWorldAsImageRef(&source, MakeRect(0, 0, width, height), &image) != 0) {
                   MyCFStopAlert("Copy command failed.", kReduce);
                   return -1;
                 }
                 CopyCGImageRefToPasteboard(image);
                 return 0;
               });
}

// ---- Thumbnails and previews ---------------------------------------------------------------

int CopyWindowPreviewAsImageRef(WindowRef window, QImage *image) {
  *image = QImage();
  const PixelBuffer *source = WindowSource(window);
  if (!source)
    return 0;
  const int w = source->Width();
  const int width = w < kThumbnailWidth ? w : kThumbnailWidth;
  const int height = w < kThumbnailWidth ? w * kThumbnailHeight / kThumbnailWidth : kThumbnailHeight;
  if (width <= 0 || height <= 0)
    return -1;
  *image = ScaledCopy(*source, width, height);
  return image->isNull() ? kPictureMemoryErr : 0;
}

int CopyWindowPreview(WindowRef window, uint32_t fileType, int *width, int *height, std::vector<uint8_t> *data) {
  const PixelBuffer *source = WindowSource(window);
  if (!source || !width || !height || !data || *width <= 0 || *height <= 0)
    return -1;
  if (source->Width() < *width) {
    *height = int(int64_t(*height) * source->Width() / *width);
    *width = source->Width();
  }
  if (*width <= 0 || *height <= 0)
    return -1;
  QImage image = ScaledCopy(*source, *width, *height);
  const GraphicsExporter *ex = FindGraphicsExporter(fileType);
  if (image.isNull() || !ex || ex->format.empty())
    return -1;
  const int dotsPerMetre = int(std::lround(kPreviewDpi / 0.0254));
  image.setDotsPerMeterX(dotsPerMetre);
  image.setDotsPerMeterY(dotsPerMetre);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, QByteArray(ex->format.c_str()));
  writer.setQuality(kPreviewQuality * 100 / 1024);
  if (!writer.write(image))
    return -1;
  data->assign(bytes.begin(), bytes.end());
  return 0;
}

void InstallWindowPreviewHook() {
  gDocumentWindowHooks.copyWindowPreview = [](WindowRef window) {
    int width = kThumbnailWidth, height = kThumbnailHeight;
    std::vector<uint8_t> data;
    if (CopyWindowPreview(window, kJPEGFileType, &width, &height, &data) != 0)
      data.clear();
    return data;
  };
}

// ---- Loading pictures -----------------------------------------------------------------------

OVImageHandle MyLoadGraphicsOffWorld(const std::filesystem::path &file) { return LoadOffWorld(file, nullptr); }

OVImageHandle MyLoadGraphicsOffWorldRect(const std::filesystem::path &file, const Rect &rect) {
  return LoadOffWorld(file, &rect);
}

int MyDrawPictureFile(const std::filesystem::path &file, const Rect &rect) {
  ovgfx::GraphicsPort *port = ovgfx::CurrentPort();
  if (!port || rect.IsEmpty())
    return -1;
  Decoded d = DecodeFile(file, QSize(rect.Width(), rect.Height()));
  if (d.error != 0)
    return d.error;
  int error = 0;
  const OVImageHandle image = ToOffWorld(d.image, &error);
  if (!image)
    return error;
  return ovgfx::CopyPixels(*OffScreenPixels(image), *port, OffScreenPixels(image)->Bounds(), rect,
                           ovgfx::kCopySource) == 0
             ? 0
             : kPictureDataErr;
}

bool GetGraphicsOffWorldSpecs(const std::filesystem::path &file, Rect *bounds, int64_t *bytes) {
  QImageReader reader(QString::fromStdString(file.string()));
  const QSize size = reader.size();
  if (!size.isValid() || size.width() <= 0 || size.height() <= 0)
    return false;
  if (bounds)
    *bounds = MakeRect(0, 0, std::min(size.width(), 32767), std::min(size.height(), 32767));
  if (bytes)
    *bytes = int64_t(size.width()) * kOffScreenDepth * int64_t(size.height()) / 8;
  return true;
}

QImage MyLoadImageHandleIntoImageRef(std::span<const uint8_t> data, uint32_t fileType, int width, int height) {
  QByteArray bytes(reinterpret_cast<const char *>(data.data()), qsizetype(data.size()));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  const GraphicsExporter *ex = FindGraphicsExporter(fileType);
  QImageReader reader(&buffer, ex ? QByteArray(ex->format.c_str()) : QByteArray());
  return Decode(reader, width > 0 && height > 0 ? QSize(width, height) : QSize()).image;
}

QImage MyLoadGraphicsFileIntoImageRef(const std::filesystem::path &file) { return DecodeFile(file).image; }

QImage MyLoadPictureResourceIntoImageRef(std::string_view name) {
  return DecodeFile(std::filesystem::path(kResourcePrefix + std::string(name))).image;
}

QImage LoadImageFromMainBundle(std::string_view name) {
  QImageReader reader(QString::fromStdString(kResourcePrefix + std::string(name)), "png");
  return Decode(reader).image;
}

QImage MyResizeCGImage(const QImage &image, float width, float height) {
  if (image.isNull())
    return {};
  if (float(image.width()) == width && float(image.height()) == height)
    return image;
  const int w = int(std::ceil(width)), h = int(std::ceil(height));
  if (w <= 0 || h <= 0)
    return {};
  QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
  if (out.isNull())
    return {};
  out.fill(Qt::transparent);
  QPainter painter(&out);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.drawImage(QRectF(0, 0, width, height), image);
  return out;
}
