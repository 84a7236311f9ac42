// Text is shaped as the font means it: kerning, right-to-left scripts in
// their visual order, Arabic letters joined. The widths are checked against
// HarfBuzz's own shaping of the same font file (hb-shape, an independent
// program), and the pixels against the letters drawn one by one.
#include "graphics/GraphicsPort.h"
#include "graphics/Painter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <regex>
#include <string>
#include <vector>

using namespace ovgfx;

namespace {

constexpr const char *kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr double kUnitsPerEm = 2048; // DejaVu Sans

// The total advance hb-shape gives `text` in the font's units, or -1.
double ShapedAdvanceUnits(const std::string &text) {
  const std::string command = std::string("hb-shape --no-glyph-names --no-clusters ") + kFontFile + " '" + text + "'";
  std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe)
    return -1;
  std::string out;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe.get()))
    out.append(buffer, n);
  double total = 0;
  int glyphs = 0;
  const std::regex glyph(R"re(\d+(?:@-?\d+,-?\d+)?\+(-?\d+))re");
  for (std::sregex_iterator m(out.begin(), out.end(), glyph), end; m != end; ++m, ++glyphs)
    total += std::stod((*m)[1].str());
  return glyphs ? total : -1;
}

// The width of the ink hb-view draws of `text` at `size`, or -1.
int ReferenceInkWidth(const std::string &text, int size) {
  const std::string picture = ::testing::TempDir() + "shaped-reference.png";
  const std::string draw = "hb-view --font-size=" + std::to_string(size) + " --margin=10 -o '" + picture + "' " +
                           kFontFile + " '" + text + "'";
  if (std::system(draw.c_str()) != 0)
    return -1;
  std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(("identify -format %@ '" + picture + "'").c_str(), "r"), pclose);
  int width = -1;
  if (!pipe || std::fscanf(pipe.get(), "%d", &width) != 1)
    return -1;
  return width;
}

long Ink(const PixelBuffer &px) {
  long sum = 0;
  for (int y = 0; y < px.Height(); y++)
    for (int x = 0; x < px.Width(); x++)
      sum += 255 - int(px.Pixel32(x, y) & 0xFFu);
  return sum;
}

std::unique_ptr<GraphicsPort> WhitePort(int width, int height) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, width, height), 32);
  port->Pixels()->Fill(0xFFFFFFFFu);
  port->SetTextFont("DejaVu Sans");
  return port;
}

// The summed difference of two pictures' blue channels.
long Difference(const PixelBuffer &a, const PixelBuffer &b) {
  long sum = 0;
  for (int y = 0; y < a.Height(); y++)
    for (int x = 0; x < a.Width(); x++)
      sum += std::abs(int(a.Pixel32(x, y) & 0xFFu) - int(b.Pixel32(x, y) & 0xFFu));
  return sum;
}

} // namespace

TEST(ShapedText, WidthsAreTheFontsShapedAdvancesAndTextStaysInsideThem) {
  // Each text as its runs of one script and direction, which hb-shape
  // shapes one at a time (it orders no mixed text).
  const std::vector<std::vector<std::string>> cases = {
      {"AVATAR To Wa"}, {"Heb ", "שלום", " Ar ", "مرحبا", " Gr αβγ å"}, {"שלום"}, {"مرحبا"}, {"office fi"}};
  constexpr float kSize = 100;
  for (const auto &runs : cases) {
    std::string text;
    double units = 0;
    for (const std::string &run : runs) {
      text += run;
      const double advance = ShapedAdvanceUnits(run);
      ASSERT_GT(advance, 0) << "hb-shape (libharfbuzz-bin) did not answer for " << run;
      units += advance;
    }
    SCOPED_TRACE(text);
    const double expected = units * kSize / kUnitsPerEm;
    // The layout places glyphs in 64ths of a pixel; a kerning pair alone
    // moves a glyph by several pixels at this size.
    EXPECT_NEAR(MeasureText("DejaVu Sans", kSize, 0, text).width, expected, 0.2);

    // What is drawn lies within what was measured: right-aligned text in a
    // frame ends where the frame does.
    auto port = WhitePort(int(expected) + 80, 160);
    port->SetTextSize(kSize);
    port->MoveTo(40, 120);
    port->DrawString(text);
    EXPECT_EQ(port->PenLocation().h, 40 + port->TextWidth(text));
    int left = 1 << 20, right = -1;
    const PixelBuffer &px = *port->Pixels();
    for (int y = 0; y < px.Height(); y++)
      for (int x = 0; x < px.Width(); x++)
        if ((px.Pixel32(x, y) & 0xFFu) < 160) {
          left = std::min(left, x);
          right = std::max(right, x);
        }
    EXPECT_GT(right, 40);
    EXPECT_LE(right, 40 + port->TextWidth(text) + 2);
    if (runs.size() == 1) {
      const int reference = ReferenceInkWidth(text, int(kSize));
      ASSERT_GT(reference, 0) << "hb-view and ImageMagick's identify did not answer";
      EXPECT_NEAR(right - left + 1, reference, 2);
    }
  }
  // Kerning narrows the pairs AV, To and Wa: the shaped width is below the
  // letters' own advances.
  double letters = 0;
  for (const char *letter : {"A", "V", "A", "T", "A", "R", " ", "T", "o", " ", "W", "a"})
    letters += MeasureText("DejaVu Sans", kSize, 0, letter).width;
  EXPECT_LT(MeasureText("DejaVu Sans", kSize, 0, "AVATAR To Wa").width, letters - 5);
}

namespace {

// `pieces` drawn one after another from the same pen position, at 60 points.
std::unique_ptr<GraphicsPort> Drawn(const std::vector<std::string> &pieces) {
  auto port = WhitePort(400, 100);
  port->SetTextSize(60);
  port->MoveTo(20, 70);
  for (const std::string &piece : pieces)
    port->DrawString(piece);
  return port;
}

} // namespace

TEST(ShapedText, HebrewIsDrawnRightToLeftAndArabicJoined) {
  // Each word against its letters drawn one by one. Hebrew has no joining
  // and DejaVu Sans no kerning between these letters: the word is its
  // letters in reverse order (the letters alone are placed at whole pixels,
  // hence a small difference), and not its letters in logical order. Arabic
  // letters take their joined forms inside a word, so the word is not its
  // isolated letters side by side.
  const struct {
    std::string word;
    std::vector<std::string> letters;
    bool same;
  } cases[] = {
      {"שלום", {"ם", "ו", "ל", "ש"}, true},
      {"שלום", {"ש", "ל", "ו", "ם"}, false},
      {"مرحبا", {"ا", "ب", "ح", "ر", "م"}, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.word + (c.same ? " as " : " unlike ") + c.letters.front() + "...");
    const auto word = Drawn({c.word}), letters = Drawn(c.letters);
    const long difference = Difference(*word->Pixels(), *letters->Pixels()), ink = Ink(*word->Pixels());
    if (c.same) {
      EXPECT_EQ(word->PenLocation().h, letters->PenLocation().h);
      EXPECT_LT(difference, ink / 20);
    } else {
      EXPECT_GT(difference, ink / 4);
    }
  }
}
