// The plot copied to the clipboard as a pixel image.
#include "../model/StructureWindowFixture.h"

#include "export/PictureServices.h"
#include "graphics/PixelBuffer.h"
#include "graphics/QtBridge.h"
#include "import/ImportPath.h"
#include "render/OffScreen.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <gtest/gtest.h>

using namespace viewtest;

TEST(ClipboardCopy, AtTheWindowSizeTheClipboardHoldsTheWindowPicture) {
  FakeHost host;
  TestWindow w(host, 320, 240);
  ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/Rutile.ovtx"));
  ResetOffScreen(w.ref());
  PlotCrystal(w.ref(), kPlotToWindow);
  const QImage window = ovgfx::ImageView(*OffScreenPixels(GetWindowOffScreen(w.ref()))).copy();
  CopyPixelImageToPasteboard(w.ref(), 320, 240);
  const QMimeData *mime = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(mime, nullptr);
  const QImage image = qvariant_cast<QImage>(mime->imageData());
  EXPECT_EQ(image.convertToFormat(QImage::Format_RGB32), window);
  EXPECT_EQ(image.dotsPerMeterX(), 2835); // 72 dpi
  QImage tiff;
  ASSERT_TRUE(tiff.loadFromData(mime->data("image/tiff"), "tiff"));
  EXPECT_EQ(tiff.convertToFormat(QImage::Format_RGB32), window);
}

TEST(ClipboardCopy, TheRectangleIsCopiedAndWhatLiesOutsideTheSourceIsWhite) {
  std::unique_ptr<ovgfx::PixelBuffer> source = ovgfx::PixelBuffer::Create(MakeRect(10, 20, 40, 35), 32);
  ASSERT_TRUE(source);
  for (int y = 20; y < 35; ++y)
    for (int x = 10; x < 40; ++x)
      source->SetPixel32(x, y, 0xFF000000u | uint32_t(x * 7 + y * 1000));
  for (const Rect &rect : {MakeRect(12, 22, 30, 33), MakeRect(0, 25, 50, 45)}) {
    QImage image;
    ASSERT_EQ(CopyGWorldAsImageRef(source.get(), rect, &image), 0);
    ASSERT_EQ(image.size(), QSize(rect.Width(), rect.Height()));
    for (int y = rect.top; y < rect.bottom; ++y)
      for (int x = rect.left; x < rect.right; ++x) {
        const bool inside = x >= 10 && x < 40 && y >= 20 && y < 35;
        ASSERT_EQ(image.pixel(x - rect.left, y - rect.top), inside ? source->Pixel32(x, y) : 0xFFFFFFFFu)
            << x << "," << y;
      }
  }
}
