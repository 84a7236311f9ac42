// The PNG writer of picture exports, read back by the toolkit's decoder
// (libpng and zlib), and its deflate stream read back by zlib's inflate.
#include "../model/StructureWindowFixture.h"

#include "export/PictureExport.h"
#include "export/PngWriter.h"
#include "graphics/PixelBuffer.h"
#include "graphics/QtBridge.h"
#include "import/ImportPath.h"
#include "render/OffScreen.h"

#include <QByteArray>
#include <QImageReader>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include <unistd.h>

using namespace viewtest;

namespace {

// The stream's bytes, inflated by zlib (which also checks the Adler-32).
QByteArray Inflate(const std::vector<uint8_t> &stream, size_t expected) {
  QByteArray framed(4, '\0');
  for (int i = 0; i < 4; ++i)
    framed[i] = char(uint8_t(expected >> (24 - 8 * i)));
  framed.append(reinterpret_cast<const char *>(stream.data()), qsizetype(stream.size()));
  return qUncompress(framed);
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t> &data, size_t rowLength, size_t piece) {
  std::vector<uint8_t> out;
  DeflateStream stream(
      [&](const uint8_t *p, size_t n) {
        out.insert(out.end(), p, p + n);
        return true;
      },
      rowLength);
  for (size_t at = 0; at < data.size(); at += piece)
    EXPECT_TRUE(stream.Write(data.data() + at, std::min(piece, data.size() - at)));
  EXPECT_TRUE(stream.Finish());
  return out;
}

std::filesystem::path TempDir() {
  const auto dir = std::filesystem::temp_directory_path() / ("ovpng" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  return dir;
}

} // namespace

TEST(DeflateStream, InflatesToTheBytesWrittenWhateverTheirShape) {
  std::mt19937 random(47);
  struct Case {
    const char *name;
    std::vector<uint8_t> data;
    size_t rowLength;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}, 0});
  cases.push_back({"one byte", {42}, 0});
  // Literal counts 1, 1, 2, 3, 5, ... in a shuffled order: a Huffman tree
  // of this block is 20 deep and must be folded to 15 bits.
  {
    std::vector<uint8_t> skewed;
    uint32_t a = 1, b = 1;
    for (int symbol = 0; symbol < 21; ++symbol, std::swap(a, b), b += a)
      skewed.insert(skewed.end(), a, uint8_t(symbol * 11));
    std::shuffle(skewed.begin(), skewed.end(), random);
    cases.push_back({"skewed literals", skewed, 0});
  }
  // Three megabytes across the window's refills: noise, runs of every
  // length, rows repeating the one above, and blocks repeating at
  // distances around and beyond the farthest a match may reach.
  {
    std::vector<uint8_t> mixed;
    std::vector<uint8_t> noise(50000);
    for (uint8_t &v : noise)
      v = uint8_t(random());
    while (mixed.size() < 3'000'000) {
      switch (random() % 5) {
      case 0:
        mixed.insert(mixed.end(), noise.begin(), noise.begin() + random() % 3000);
        break;
      case 1:
        mixed.insert(mixed.end(), random() % 700, uint8_t(random()));
        break;
      case 2: {
        const size_t back = size_t(1) + random() % 40000, n = random() % 2000;
        for (size_t i = 0; i < n && back <= mixed.size(); ++i)
          mixed.push_back(mixed[mixed.size() - back]);
        break;
      }
      case 3:
        for (size_t i = 0; i < 999 && mixed.size() >= 1000; ++i)
          mixed.push_back(mixed[mixed.size() - 1000]);
        break;
      default:
        mixed.insert(mixed.end(), noise.begin() + 10000, noise.begin() + 10000 + random() % 5000);
      }
    }
    cases.push_back({"mixed, rows of 1000", mixed, 1000});
    cases.push_back({"mixed, rows beyond the window", mixed, 40000});
  }
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    for (size_t piece : {size_t(1) << 30, size_t(777)}) {
      const std::vector<uint8_t> stream = Deflate(k.data, k.rowLength, piece);
      const QByteArray back = Inflate(stream, k.data.size());
      ASSERT_EQ(size_t(back.size()), k.data.size());
      EXPECT_TRUE(std::equal(k.data.begin(), k.data.end(), reinterpret_cast<const uint8_t *>(back.constData())));
    }
  }
}

TEST(DeflateStream, CodeLengthsStayWithinTheLimitAndCompleteTheCode) {
  // Fibonacci frequencies make the deepest Huffman trees: 29 deep for 30
  // symbols, 18 for 19.
  uint32_t fibonacci[30];
  fibonacci[0] = fibonacci[1] = 1;
  for (int i = 2; i < 30; ++i)
    fibonacci[i] = fibonacci[i - 1] + fibonacci[i - 2];
  const uint32_t one[3] = {0, 5, 0}, none[4] = {};
  struct Case {
    const char *name;
    const uint32_t *freq;
    int n, limit;
  };
  for (const Case &k : {Case{"deep", fibonacci, 30, 15}, Case{"deep, 7 bits", fibonacci + 11, 19, 7},
                        Case{"one symbol", one, 3, 15}, Case{"none", none, 4, 15}}) {
    SCOPED_TRACE(k.name);
    uint8_t lengths[30];
    HuffmanCodeLengths(k.freq, k.n, k.limit, lengths);
    uint64_t kraft = 0; // in units of 2^-limit
    int codes = 0;
    for (int i = 0; i < k.n; ++i) {
      EXPECT_LE(lengths[i], k.limit);
      if (k.freq[i]) {
        EXPECT_GT(lengths[i], 0);
      }
      if (lengths[i]) {
        kraft += uint64_t(1) << (k.limit - lengths[i]);
        ++codes;
      }
      for (int j = 0; j < k.n; ++j) {
        if (k.freq[i] && k.freq[j] > k.freq[i]) {
          EXPECT_LE(lengths[j], lengths[i]);
        }
      }
    }
    EXPECT_EQ(kraft, uint64_t(1) << k.limit);
    EXPECT_GE(codes, 2);
  }
}

TEST(PngWriter, PixelsAndResolutionReadBackOrTheFailureIsReported) {
  const auto dir = TempDir();
  // Rows wider than the match window, rows repeating the one above, runs,
  // noise, and a buffer whose coordinates do not start at zero.
  std::unique_ptr<ovgfx::PixelBuffer> image = ovgfx::PixelBuffer::Create(Rect{-5, 7, 9, 12007}, 32);
  ASSERT_TRUE(image);
  std::mt19937 random(3);
  for (int y = -5; y < 9; ++y)
    for (int x = 7; x < 12007; ++x) {
      uint32_t p = 0xFF000000u | (random() & 0xFFFFFFu);
      if (y % 3 == 1)
        p = image->Pixel32(x, y - 1);
      else if (x % 500 < 200)
        p = 0xFF000000u | uint32_t(x / 500) * 0x010203u;
      image->SetPixel32(x, y, p);
    }
  struct Case {
    double dpi;
    int dotsPerMetre;
  };
  for (const Case &k : {Case{144, 5669}, Case{0, 2835}, Case{-1, 2835}, Case{NAN, 2835}}) {
    SCOPED_TRACE(k.dpi);
    const auto file = dir / "wide.png";
    ASSERT_EQ(QTExportGWorldToFile(*image, file, kPNGFileType, k.dpi), 0);
    QImageReader reader(QString::fromStdString(file.string()));
    const QImage png = reader.read();
    ASSERT_FALSE(png.isNull()) << reader.errorString().toStdString();
    EXPECT_EQ(png.dotsPerMeterX(), k.dotsPerMetre);
    EXPECT_EQ(png.dotsPerMeterY(), k.dotsPerMetre);
    EXPECT_EQ(png.convertToFormat(QImage::Format_RGB32), ovgfx::ImageView(*image));
  }
  // A disk that is full, a folder that is not there.
  EXPECT_EQ(QTExportGWorldToFile(*image, "/dev/full", kPNGFileType, 72), kGraphicsWriteErr);
  EXPECT_EQ(QTExportGWorldToFile(*image, dir / "none" / "x.png", kPNGFileType, 72), kGraphicsWriteErr);
  std::filesystem::remove_all(dir);
}

TEST(PngWriter, ExportAtTheWindowSizeHoldsTheWindowPicture) {
  FakeHost host;
  TestWindow w(host, 320, 240);
  ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/Rutile.ovtx"));
  ResetOffScreen(w.ref());
  PlotCrystal(w.ref(), kPlotToWindow);
  const QImage window = ovgfx::ImageView(*OffScreenPixels(GetWindowOffScreen(w.ref()))).copy();
  const auto dir = TempDir();
  const auto file = dir / "Rutile.png";
  host.savePaths.push_back(file);
  ASSERT_EQ(DoExportPixelGraphics(w.ref(), kPNGFileType, 320, 240, 72), 0);
  const QImage png(QString::fromStdString(file.string()));
  EXPECT_EQ(png.convertToFormat(QImage::Format_RGB32), window);
  std::filesystem::remove_all(dir);
}
