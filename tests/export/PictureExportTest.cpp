// Picture export, clipboard pictures, previews, picture loading and the web
// page, on a recording host with real structure windows.

#include "../model/StructureWindowFixture.h"
#include "PictWalker.h"

#include "documents/CrystalDocument.h"
#include "export/ExportFrame.h"
#include "export/PictureExport.h"
#include "export/PictureServices.h"
#include "export/WebPage.h"
#include "graphics/PictWriter.h"
#include "graphics/QtBridge.h"
#include "import/ImportPath.h"
#include "render/OffScreen.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <regex>

#include <unistd.h>

using namespace viewtest;

namespace {

std::vector<uint8_t> ReadAll(const std::filesystem::path &p) {
  std::ifstream f(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// Free memory as the tests script it: the n-th question is answered 0.
int gFreeQuestion = 0, gFailingQuestion = 0;
int64_t ScriptedFreeMemory() { return ++gFreeQuestion == gFailingQuestion ? 0 : int64_t(1) << 40; }

struct PictureTest : ::testing::Test {
  FakeHost host;
  std::filesystem::path dir;
  void SetUp() override {
    host.windowTitle = "Rutile";
    dir = std::filesystem::temp_directory_path() / ("ovpict" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    gGraphicsExporters.clear();
  }
  void TearDown() override {
    std::filesystem::remove_all(dir);
    SetScreenHooks(ScreenHooks{});
  }
  void Open(TestWindow &w, const char *name = "Rutile.ovtx") {
    ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples" / name));
    ResetOffScreen(w.ref());
    PlotCrystal(w.ref(), kPlotToWindow);
  }
  QImage Window(WindowRef w) { return ovgfx::ImageView(*OffScreenPixels(GetWindowOffScreen(w))).copy(); }
};

// What a re-plot must leave as it found it.
struct WindowState {
  float scale;
  int16_t plotRes;
  Rect bounds;
  int imageWidth, imageHeight;
  uint8_t progress;
  QImage pixels;
  explicit WindowState(WindowRef w) {
    scale = GetWindowCrystal(w)->plotScale;
    plotRes = gPlotRes;
    GetWindowOffBounds(w, &bounds);
    const ovgfx::PixelBuffer *p = OffScreenPixels(GetWindowOffScreen(w));
    imageWidth = p ? p->Width() : -1;
    imageHeight = p ? p->Height() : -1;
    progress = gShowProgress;
    if (p)
      pixels = ovgfx::ImageView(*const_cast<ovgfx::PixelBuffer *>(p)).copy();
  }
  bool operator==(const WindowState &o) const {
    return scale == o.scale && plotRes == o.plotRes && bounds == o.bounds && imageWidth == o.imageWidth &&
           imageHeight == o.imageHeight && progress == o.progress && pixels == o.pixels;
  }
};

} // namespace

TEST_F(PictureTest, PixelExportWritesTheSizeAndRestoresTheWindowAfterSuccessAndEachFailure) {
  TestWindow w(host, 200, 150);
  Open(w);
  struct Case {
    const char *name;
    uint8_t overlay, redBlue;
    int failingQuestion; // 0: none fails
    const char *alert;
  };
  const Case cases[] = {
      {"success", 0, 0, 0, nullptr},
      {"overlay", 1, 0, 1, "Insufficient memory to create surface overlay."},
      {"transfer", 0, 1, 1, "Insufficient memory to create graphics port."},
      {"main", 0, 1, 2, "An error occurred whilst creating an offscreen graphics port."},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    CrystalRec &c = w.crystal();
    c.surfaceOverlay = k.overlay;
    c.stereoOn = k.redBlue;
    c.stereoMode = kRedBlueStereo;
    ResetOffScreen(w.ref());
    NewPlot(w.ref(), false, true);
    gShowProgress = 1;
    const WindowState before(w.ref());
    gFreeQuestion = 0;
    gFailingQuestion = k.failingQuestion;
    ScreenHooks hooks;
    hooks.freeMemory = ScriptedFreeMemory;
    SetScreenHooks(hooks);
    host.alerts.clear();
    const auto file = dir / (std::string(k.name) + ".png");
    host.savePaths.push_back(file);
    const int result = DoExportPixelGraphics(w.ref(), kPNGFileType, 400, 300, 144);
    SetScreenHooks(ScreenHooks{});
    EXPECT_TRUE(WindowState(w.ref()) == before);
    if (!k.alert) {
      EXPECT_EQ(result, 0);
      EXPECT_TRUE(host.alerts.empty());
      QImageReader reader(QString::fromStdString(file.string()));
      const QImage png = reader.read();
      EXPECT_EQ(png.size(), QSize(400, 300));
      EXPECT_EQ(png.dotsPerMeterX(), 5669); // 144 dpi
    } else {
      EXPECT_EQ(result, -1);
      ASSERT_EQ(host.alerts.size(), 1u);
      EXPECT_EQ(host.alerts[0].message, k.alert);
      EXPECT_FALSE(std::filesystem::exists(file));
    }
  }
  EXPECT_EQ(host.saveDialogs.back(), std::make_pair(std::string("Export pixel graphics"), std::string("Rutile.png")));
  gShowProgress = 0;
}

TEST_F(PictureTest, SizeLimitsOfTheReplotAndThePicture) {
  TestWindow w(host, 60, 40);
  Open(w);
  const WindowState before(w.ref());
  EXPECT_EQ(QTWritePixelImage(w.ref(), 32768, 10, 72, dir / "x.png", kPNGFileType), -1);
  EXPECT_TRUE(CopyVectorImage(w.ref(), 10, 32768, 72).empty());
  ASSERT_EQ(host.alerts.size(), 2u);
  for (const AlertRequest &a : host.alerts) {
    EXPECT_EQ(a.message, "Picture dimensions are too large.");
    EXPECT_EQ(a.explanation, "Try reducing the picture resolution and/or expansion");
  }
  // 32767 is allowed; a machine without the memory says so instead of
  // failing to allocate.
  ScreenHooks hooks;
  gFreeQuestion = 0;
  gFailingQuestion = 1;
  hooks.freeMemory = ScriptedFreeMemory;
  SetScreenHooks(hooks);
  EXPECT_EQ(QTWritePixelImage(w.ref(), 32767, 32767, 72, dir / "y.png", kPNGFileType), -1);
  EXPECT_EQ(host.alerts.back().message, "An error occurred whilst creating an offscreen graphics port.");
  EXPECT_TRUE(WindowState(w.ref()) == before);
}

TEST_F(PictureTest, RedBlueStereoIsExportedFromTheComposedImage) {
  TestWindow w(host, 120, 90);
  Open(w);
  CrystalRec &c = w.crystal();
  c.stereoOn = 1;
  c.stereoMode = kRedBlueStereo;
  ResetOffScreen(w.ref());
  PlotCrystal(w.ref(), kPlotToWindow);
  const QImage composed = ovgfx::ImageView(*OffScreenPixels(GetWindowTransferBuffer(w.ref()))).copy();
  const QImage leftEye = Window(w.ref());
  ASSERT_NE(composed, leftEye);
  // At the window's own size and 72 dpi the re-plot draws the same picture.
  host.savePaths.push_back(dir / "stereo.bmp");
  ASSERT_EQ(DoExportPixelGraphics(w.ref(), kBMPFileType, 120, 90, 72), 0);
  const QImage out = QImage(QString::fromStdString((dir / "stereo.bmp").string())).convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(out, composed.convertToFormat(QImage::Format_RGB32));
}

TEST_F(PictureTest, RasterPictWalksAndCarriesThePixels) {
  // Widths either side of the 250 rowBytes threshold, and a tiny one.
  for (int width : {2, 62, 63, 300}) {
    QImage img(width, 7, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); y++)
      for (int x = 0; x < width; x++)
        img.setPixel(x, y, qRgb(x * 3 % 256, y * 40, (x / 5) % 2 ? 255 : 0));
    std::vector<uint8_t> file(512, 0);
    const std::vector<uint8_t> pict = ovgfx::EncodeDirectBitsPicture(img, 144);
    file.insert(file.end(), pict.begin(), pict.end());
    const PictWalk walk = WalkPict(file);
    ASSERT_TRUE(walk.ok) << walk.error;
    EXPECT_EQ(walk.hRes, 144.0);
    ASSERT_EQ(walk.pixMaps.size(), 1u);
    const PictPixMap &m = walk.pixMaps[0];
    ASSERT_EQ(m.width, width);
    for (int y = 0; y < 7; y++)
      for (int x = 0; x < width; x++)
        ASSERT_EQ(m.pixels[size_t(y * width + x)], uint32_t(img.pixel(x, y))) << width << " " << x << "," << y;
  }
}

TEST_F(PictureTest, VectorPictFileRecordsThePlotAndLeavesTheWindowAlone) {
  TestWindow w(host, 200, 150);
  Open(w);
  w.crystal().showUnitCell = 1;
  NewPlot(w.ref(), false, false);
  const WindowState before(w.ref());
  host.savePaths.push_back(dir / "v.pct");
  ASSERT_EQ(DoExportVectorGraphics(w.ref(), kPictFileType, 400, 300, 144), 0);
  EXPECT_EQ(host.saveDialogs.back().second, "Rutile.PCT");
  const std::vector<uint8_t> bytes = ReadAll(dir / "v.pct");
  const PictWalk walk = WalkPict(bytes);
  ASSERT_TRUE(walk.ok) << walk.error;
  EXPECT_EQ(walk.frameWidth, 400);
  EXPECT_EQ(walk.frameHeight, 300);
  EXPECT_EQ(walk.hRes, 144.0);
  // Atoms are painted polygons, bonds and the cell lines, in colour.
  EXPECT_GT(walk.Count(0x0071), 4u);
  EXPECT_GT(walk.Count(0x0020), 4u);
  EXPECT_GT(walk.Count(0x001A), 1u);
  EXPECT_TRUE(WindowState(w.ref()) == before);
  // A surface plot cannot be a vector picture.
  w.crystal().surfaceOverlay = 1;
  EXPECT_TRUE(CopyVectorImage(w.ref(), 40, 30, 72).empty());
  EXPECT_EQ(host.alerts.back().message, "Surface plots cannot be copied as vector images.");
}

TEST_F(PictureTest, ThumbnailPreviewAndClipboard) {
  for (auto [paneWidth, thumbWidth, thumbHeight] : {std::tuple{300, 300, 225}, std::tuple{1024, 512, 384}}) {
    TestWindow w(host, int16_t(paneWidth), 100);
    Open(w);
    QImage thumb;
    ASSERT_EQ(CopyWindowPreviewAsImageRef(w.ref(), &thumb), 0);
    EXPECT_EQ(thumb.size(), QSize(thumbWidth, thumbHeight));
  }
  TestWindow w(host, 400, 250);
  Open(w);
  int width = 512, height = 384;
  std::vector<uint8_t> jpeg;
  ASSERT_EQ(CopyWindowPreview(w.ref(), kJPEGFileType, &width, &height, &jpeg), 0);
  EXPECT_EQ(std::make_pair(width, height), std::make_pair(400, 300));
  EXPECT_EQ(MyLoadImageHandleIntoImageRef(jpeg, kJPEGFileType, 0, 0).size(), QSize(400, 300));
  InstallWindowPreviewHook();
  EXPECT_EQ(gDocumentWindowHooks.copyWindowPreview(w.ref()).size(), jpeg.size());
  gDocumentWindowHooks.copyWindowPreview = nullptr;

  // 1.5 times the window plots at 108 dots per inch.
  EXPECT_EQ(PasteboardPlotRes(w.ref(), 600, 375), 108);
  const WindowState before(w.ref());
  CopyPixelImageToPasteboard(w.ref(), 600, 375);
  EXPECT_TRUE(WindowState(w.ref()) == before);
  const QMimeData *mime = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(mime, nullptr);
  ASSERT_TRUE(mime->hasFormat("image/tiff"));
  QImage tiff;
  ASSERT_TRUE(tiff.loadFromData(mime->data("image/tiff"), "tiff"));
  EXPECT_EQ(tiff.size(), QSize(600, 375));
  EXPECT_EQ(qvariant_cast<QImage>(mime->imageData()).convertToFormat(QImage::Format_RGB32),
            tiff.convertToFormat(QImage::Format_RGB32));
}

TEST_F(PictureTest, LoadingAndResizingPictures) {
  QImage wide(300, 100, QImage::Format_RGB32);
  wide.fill(qRgb(10, 200, 30));
  const auto file = dir / "wide.png";
  ASSERT_TRUE(wide.save(QString::fromStdString(file.string())));
  const OVImageHandle natural = MyLoadGraphicsOffWorld(file);
  ASSERT_NE(OffScreenPixels(natural), nullptr);
  EXPECT_EQ(OffScreenPixels(natural)->Width(), 300);
  const OVImageHandle fitted = MyLoadGraphicsOffWorldRect(file, MakeRect(0, 0, 200, 200));
  ASSERT_NE(OffScreenPixels(fitted), nullptr);
  EXPECT_EQ(OffScreenPixels(fitted)->Width(), 200);
  EXPECT_EQ(OffScreenPixels(fitted)->Height(), 66); // 200 / 3, truncated
  EXPECT_EQ(OffScreenPixels(fitted)->Pixel32(100, 30) & 0xFFFFFFu, 0x0AC81Eu);
  Rect bounds;
  int64_t bytes = 0;
  ASSERT_TRUE(GetGraphicsOffWorldSpecs(file, &bounds, &bytes));
  EXPECT_EQ(bytes, 300 * 100 * 4);
  EXPECT_FALSE(GetGraphicsOffWorldSpecs(dir / "missing.png", &bounds, &bytes));
  EXPECT_EQ(MyLoadGraphicsOffWorld(dir / "missing.png"), nullptr);
  EXPECT_EQ(host.alerts.back().message, "Sorry, an error of type -43 occurred whilst trying to draw the picture");

  const QImage same = MyResizeCGImage(wide, 300, 100);
  EXPECT_EQ(same.cacheKey(), wide.cacheKey());
  const QImage icon = MyResizeCGImage(wide, 31.5f, 32);
  EXPECT_EQ(icon.size(), QSize(32, 32));
}

// ---- Web page ---------------------------------------------------------------------------

TEST_F(PictureTest, WebPageTextEscapesAndLaysOutTheTables) {
  TestWindow w(host, 100, 80);
  Open(w);
  CrystalRec c = w.crystal();
  c.cardCount = 7;
  for (int k = 0; k < 7; k++)
    std::snprintf(c.symCards[size_t(k)].data(), kSymcardSize, "  0 +x    0 +y    0 +z%d", k);
  c.sites[0].elements[1] = c.sites[0].elements[0];
  c.sites[0].occupancies[0] = 0.5f;
  c.sites[0].occupancies[1] = 0.25f;
  std::snprintf(c.sites[0].label, kSiteLabelSize, "T<1>");
  const std::string page = WebPageText(c, "A<B & C", "my pic_web.jpg", 700, 420, "First\tpara 5 \xC3\x85\rSecond <b>");
  EXPECT_NE(page.find("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">"), std::string::npos);
  EXPECT_NE(page.find("\t\t\t<H1>A&lt;B &amp; C</H1>\n"), std::string::npos);
  EXPECT_NE(page.find("<IMG SRC=\"my%20pic_web.jpg\" WIDTH=\"700\" HEIGHT=\"420\" BORDER=\"0\"\n"), std::string::npos);
  EXPECT_NE(page.find("<P>First&nbsp;&nbsp;&nbsp;&nbsp;para 5 &Aring;</P>\n\t\t\t\t\t<P>Second &lt;b&gt;\t\t\t\t\t</P>"),
            std::string::npos);
  EXPECT_NE(page.find("<TT>T&lt;1&gt;</TT>"), std::string::npos);
  const std::string e = ElementText(c.sites[0].elements[0]);
  EXPECT_NE(page.find("<TT>" + e + " 0.5 " + e + " 0.25 </TT>"), std::string::npos);
  EXPECT_EQ(page.find("Spacegroup Symbol:"), std::string::npos); // explicit operators
  // 7 operators: 4 lines, then 3 and an empty one.
  const std::regex cell("<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\"><TT>\n((?:\t+[^\n]*<BR>\n)+)");
  std::vector<int> lines;
  std::vector<bool> lastEmpty;
  for (std::sregex_iterator it(page.begin(), page.end(), cell), end; it != end; ++it) {
    const std::string body = (*it)[1];
    lines.push_back(int(std::count(body.begin(), body.end(), '\n')));
    lastEmpty.push_back(body.size() >= 12 && body.compare(body.size() - 12, 12, "\t\t\t\t\t\t\t<BR>\n") == 0);
  }
  EXPECT_EQ(lines, (std::vector<int>{4, 4}));
  EXPECT_EQ(lastEmpty, (std::vector<bool>{false, true}));
  EXPECT_NE(page.find("This page was created by Orvalisphere 1.0.0 for Linux<BR>"), std::string::npos);

  EXPECT_EQ(WebPictureName("x.htm"), "x_web.jpg");
  EXPECT_EQ(WebPictureName("x.html"), "x_web.jpg");
  EXPECT_EQ(WebPictureName("x"), "x_web.jpg");
  EXPECT_EQ(WebifyCharString("\xC3\xA9t\xC3\xA9 #1.jpg"), "%C3%A9t%C3%A9%20%231.jpg");
  EXPECT_STREQ(ModelName(6), "Thermal Ellipsoid");
  EXPECT_STREQ(ModelName(9), "Unknown");
}

TEST_F(PictureTest, WebPageWritesItsPictureAndTellsFailures) {
  TestWindow w(host, 1000, 600);
  Open(w);
  host.savePaths.push_back(dir / "page.html");
  WriteWebPage(w.ref());
  EXPECT_TRUE(host.alerts.empty());
  EXPECT_EQ(QImage(QString::fromStdString((dir / "page_web.jpg").string())).size(), QSize(700, 420));
  std::ifstream f(dir / "page.html");
  const std::string page((std::istreambuf_iterator<char>(f)), {});
  EXPECT_NE(page.find("<IMG SRC=\"page_web.jpg\" WIDTH=\"700\" HEIGHT=\"420\""), std::string::npos);
  // A page that cannot be written: an alert, and no picture left behind.
  std::filesystem::create_directories(dir / "blocked.html");
  host.savePaths.push_back(dir / "blocked.html");
  WriteWebPage(w.ref());
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Sorry, there was an error whilst attempting to open the file.");
  EXPECT_FALSE(std::filesystem::exists(dir / "blocked_web.jpg"));
}

TEST_F(PictureTest, CommandsAnswerOnlyTheirOwn) {
  TestWindow w(host, 100, 80);
  Open(w);
  int sheets = 0;
  gExportGraphicsPanelHooks.showSheet = [&](const ExportGraphicsRecord &r) {
    sheets++;
    EXPECT_EQ(r.format, sheets == 1 ? 1 : 2);
  };
  EXPECT_EQ(DoPictureExportCommand(w.ref(), kCmdExportPixelGraphics), 0);
  EXPECT_EQ(DoPictureExportCommand(w.ref(), kCmdExportVectorGraphics), 0);
  EXPECT_EQ(DoPictureExportCommand(w.ref(), kCmdExportWebPage), 0); // cancelled dialog
  EXPECT_EQ(DoPictureExportCommand(w.ref(), FourCharsToLong("xCIF")), -9874);
  EXPECT_EQ(sheets, 2);
  gExportGraphicsPanelHooks = {};
}

// Writes the pictures the oracle reads back with ImageMagick and xmllint.
TEST_F(PictureTest, OracleDump) {
  const char *out = std::getenv("OV_PICTURE_DUMP_DIR");
  if (!out)
    GTEST_SKIP() << "run by tests/oracle/pictures_oracle.py";
  const std::filesystem::path folder(out);
  TestWindow w(host, 160, 120);
  Open(w);
  std::ofstream manifest(folder / "manifest.txt");
  InitGraphicsExportersArray();
  for (const GraphicsExporter &e : gGraphicsExporters) {
    const auto file = folder / ("plot." + e.extension);
    host.savePaths.push_back(file);
    ASSERT_EQ(DoExportPixelGraphics(w.ref(), e.subType, 320, 240, 144), 0) << e.name;
    manifest << "raster " << file.filename().string() << " 320 240 144\n";
  }
  // Raster PICTs with rowBytes either side of 250, and their pixels.
  for (int width : {62, 63, 301}) {
    QImage img(width, 9, QImage::Format_RGB32);
    for (int y = 0; y < 9; y++)
      for (int x = 0; x < width; x++)
        img.setPixel(x, y, qRgb((x * 7) % 256, (y * 29) % 256, x < width / 2 ? 200 : (x * y) % 256));
    const std::string stem = "raw" + std::to_string(width);
    std::vector<uint8_t> file(512, 0);
    const std::vector<uint8_t> pict = ovgfx::EncodeDirectBitsPicture(img, 72);
    file.insert(file.end(), pict.begin(), pict.end());
    std::ofstream(folder / (stem + ".pct"), std::ios::binary).write(reinterpret_cast<const char *>(file.data()),
                                                                     std::streamsize(file.size()));
    std::ofstream rgb(folder / (stem + ".rgb"), std::ios::binary);
    for (int y = 0; y < 9; y++)
      for (int x = 0; x < width; x++) {
        const QRgb p = img.pixel(x, y);
        const char bytes[3] = {char(qRed(p)), char(qGreen(p)), char(qBlue(p))};
        rgb.write(bytes, 3);
      }
    manifest << "exact " << stem << " " << width << " 9\n";
  }
  // A vector picture of the plot over a picture background; ImageMagick
  // reads its pixel maps, each on its own, as the walker does.
  QImage back(50, 30, QImage::Format_RGB32);
  for (int y = 0; y < 30; y++)
    for (int x = 0; x < 50; x++)
      back.setPixel(x, y, qRgb(x * 5, 255 - y * 8, (x + y) % 2 ? 40 : 220));
  ASSERT_TRUE(back.save(QString::fromStdString((folder / "back.png").string())));
  CrystalRec &c = w.crystal();
  c.backgroundPictureImage = MyLoadGraphicsOffWorld(folder / "back.png");
  c.backgroundPictureMode = 2;
  host.savePaths.push_back(folder / "vector.pct");
  ASSERT_EQ(DoExportVectorGraphics(w.ref(), kPictFileType, 320, 240, 144), 0);
  const std::vector<uint8_t> vector = ReadAll(folder / "vector.pct");
  const PictWalk walk = WalkPict(vector);
  ASSERT_TRUE(walk.ok) << walk.error;
  ASSERT_FALSE(walk.pixMaps.empty());
  for (size_t k = 0; k < walk.pixMaps.size(); k++) {
    const PictPixMap &m = walk.pixMaps[k];
    ovgfx::PictBytes one;
    ovgfx::BeginPicture(one, MakeRect(m.left, m.top, m.right, m.bottom), 144);
    one.Bytes(vector.data() + 512 + m.begin, m.end - m.begin);
    ovgfx::EndPicture(one);
    const std::string stem = "vpix" + std::to_string(k);
    std::vector<uint8_t> file(512, 0);
    file.insert(file.end(), one.Data().begin(), one.Data().end());
    std::ofstream(folder / (stem + ".pct"), std::ios::binary).write(reinterpret_cast<const char *>(file.data()),
                                                                     std::streamsize(file.size()));
    std::ofstream rgb(folder / (stem + ".rgb"), std::ios::binary);
    for (uint32_t p : m.pixels) {
      const char bytes[3] = {char(p >> 16), char(p >> 8), char(p)};
      rgb.write(bytes, 3);
    }
    manifest << "exact " << stem << " " << m.width << " " << m.height << "\n";
  }
  // The web page, with a name that needs escaping.
  TestWindow big(host, 900, 500);
  Open(big);
  host.savePaths.push_back(folder / "my page \xC3\xA9.htm");
  WriteWebPage(big.ref());
  manifest << "web my page \xC3\xA9.htm 700 388\n";
}
