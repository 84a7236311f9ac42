// The bytes of a file before any reader sees them, and what the user is
// told when one is turned down: every member of a gzip file, a byte-order
// mark, stray NULs, short quotes, and a read stopped with Escape; and the
// lines readers take from the text.
#include "ReaderTestSupport.h"

#include "LongCommand.h"
#include "import/ImportPath.h"
#include "import/ImportText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace {

using namespace readertest;
using doctest::Window;

std::string Bytes(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string Gzipped(const std::string &text) {
  TempFile f("member", text);
  EXPECT_EQ(std::system(("gzip -c " + f.path.string() + " > " + f.path.string() + ".gz").c_str()), 0);
  return Bytes(f.path.string() + ".gz");
}

class ImportBytes : public ::testing::Test {
protected:
  FakeHost host;
};

// Water split over two gzip members (as `cat a.gz b.gz` makes): gzip -d
// gives all three atoms; bytes after the last member are said in the Log,
// NUL padding is not.
TEST_F(ImportBytes, EveryGzipMemberIsRead) {
  const std::string members = Gzipped("3\nwater\nO 0 0 0\n") + Gzipped("H 0.96 0 0\nH -0.24 0.93 0\n");
  for (const std::string &tail : {std::string(), std::string(512, '\0'), std::string("trailing junk")}) {
    const TempFile f("water.xyz.gz", members + tail);
    Window w(host);
    host.log.clear();
    ASSERT_TRUE(OpenTextFile(w.ref(), f.path)) << host.alerts.back().explanation;
    EXPECT_EQ(w.crystal().sites.size(), 3u);
    EXPECT_EQ(host.log.find("after the compressed data") != std::string::npos, tail == "trailing junk") << host.log;
  }
  EXPECT_NE(host.log.find("water.xyz.gz, 13 byte(s) after the compressed data were left out."), std::string::npos)
      << host.log;
}

// A UTF-8 byte-order mark changes nothing: the same sites with and without.
// The PDB file's first record is an atom (3 atoms by hand).
TEST_F(ImportBytes, AByteOrderMarkIsDropped) {
  const std::string pdb = "ATOM      1  N   GLY A   1      11.104   6.134  -6.504  1.00  0.00           N\n"
                          "ATOM      2  CA  GLY A   1      11.639   6.071  -5.147  1.00  0.00           C\n"
                          "ATOM      3  C   GLY A   1      10.537   5.858  -4.123  1.00  0.00           C\n"
                          "END\n";
  const std::pair<std::string, std::string> files[] = {
      {"tiny.pdb", pdb},
      {"si.cif", Bytes(Sample("cif", "cod_9013104_si.cif"))},
      {"labels.xyz", Bytes(Sample("xyz", "labels.xyz"))},
      {"water.car", Bytes(Sample("dmol", "water.car"))}};
  for (const auto &[name, text] : files) {
    const TempFile plain(name, text);
    Window without(host);
    ASSERT_TRUE(OpenTextFile(without.ref(), plain.path)) << name;
    const TempFile marked(name, "\xEF\xBB\xBF" + text);
    Window with(host);
    ASSERT_TRUE(OpenTextFile(with.ref(), marked.path)) << name << ": " << host.alerts.back().explanation;
    EXPECT_EQ(with.crystal().sites.size(), without.crystal().sites.size()) << name;
    EXPECT_EQ(with.crystal().atomCount, without.crystal().atomCount) << name;
  }
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), TempFile("tiny.pdb", "\xEF\xBB\xBF" + pdb).path));
  EXPECT_EQ(w.crystal().sites.size(), 3u);
}

// Debian's drawxtl sample has one stray NUL in its line 74: read as a blank,
// with a Log line. Bytes that are mostly not text are still refused.
TEST_F(ImportBytes, AStrayNulIsABlankButBinaryIsRefused) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("gsas", "gsas_test.exp"), ImportChoice::TakeFirst))
      << host.alerts.back().explanation;
  EXPECT_EQ(w.crystal().sites.size(), 4u); // diaspore: Al, O1, O2, H
  EXPECT_NE(host.log.find("gsas_test.exp, line 74: 1 stray NUL byte(s) in the text were read as blanks."),
            std::string::npos)
      << host.log;
  std::mt19937 random(7);
  std::string binary(4096, '\0');
  for (size_t k = 0; k < binary.size(); k += 2) // half NULs, as numbers stored as bytes are
    binary[k] = static_cast<char>(random() % 256 | 1);
  EXPECT_EQ(Refusal(host, TempFile("stored.xyz", binary).path), "\"stored.xyz\" could not be read: it is not a text file.");
}

// The text readers see of a file's bytes, mended where they lie: every kind
// of line end made LF wherever it stands, a byte-order mark, padding and a
// stray NUL dropped or made blank, one LF closing the text. The expected
// texts are written out by hand.
TEST(ImportText, LineEndsAndPaddingAreMendedInTheText) {
  const struct {
    std::string bytes, text;
  } cases[] = {
      {"a\nb\n", "a\nb\n"},
      {"a\r\nb\rc\n\r\nd\r", "a\nb\nc\n\nd\n"},
      {"\r\r\nx\r\r", "\n\nx\n"},
      {"\xEF\xBB\xBF" "a\rb", "a\nb\n"},
      {std::string("a\r\nb c\0d\r\n\0\0  \x1a", 15), "a\nb c d\n"},
      {"one line", "one line\n"},
  };
  for (const auto &c : cases) {
    const TempFile f("text.xyz", c.bytes);
    ImportSource source;
    std::string reason;
    ASSERT_TRUE(LoadImportSource(f.path, source, &reason)) << reason;
    EXPECT_EQ(source.text, c.text) << c.bytes;
    std::string text;
    ASSERT_TRUE(NormaliseImportText(c.bytes, text, &reason)) << reason;
    EXPECT_EQ(text, c.text) << c.bytes;
  }
}

// A refusal quotes the offending token to a line's worth, however long.
TEST_F(ImportBytes, AnAlertQuotesALinesWorth) {
  const std::string huge = "C 0 0 " + std::string(1 << 20, '7') + "x\n";
  const std::string alert = Refusal(host, TempFile("long.xyz", "1\nlong\n" + huge).path);
  EXPECT_NE(alert.find("could not be read at line 3"), std::string::npos) << alert.substr(0, 300);
  EXPECT_LT(alert.size(), 400u);
  EXPECT_NE(alert.find("777\u2026"), std::string::npos) << alert;
}

// Inside a long command, as the shell opens a file: the status window shows
// the read after half a second, and Escape stops it with a Log line, no
// alert and the window as it was.
TEST_F(ImportBytes, EscapeStopsALongRead) {
  std::string xyz = "20000\nmany\n";
  for (int k = 0; k < 20000; k++)
    xyz += "C " + std::to_string(k % 100) + " " + std::to_string(k / 100) + " 0\n";
  const TempFile f("many.xyz", xyz);
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("xyz", "labels.xyz")));
  const int32_t atoms = w.crystal().atomCount;
  host.tick = 100000; // a tenth of a second at every reading of the clock
  host.cancelAnswers.assign(100, true);
  const uint8_t saved = gShowProgress;
  gShowProgress = 1;
  {
    const LongCommand command;
    host.alerts.clear();
    EXPECT_FALSE(OpenStructureFile(w.ref(), f.path));
  }
  gShowProgress = saved;
  EXPECT_TRUE(host.alerts.empty());
  EXPECT_NE(host.log.find("Opening \"many.xyz\" cancelled: nothing was opened."), std::string::npos) << host.log;
  ASSERT_FALSE(host.status.empty());
  EXPECT_TRUE(host.status.front().shown);
  EXPECT_EQ(host.status.front().message, "Reading \"many.xyz\"\u2026");
  EXPECT_EQ(w.crystal().atomCount, atoms);
}

// The line table gives the lines a split at every LF gives (a text that
// ends in LF has no empty line after it), however it is walked: in order,
// backwards, by jumps across its checkpoints, and by iterator.
TEST(ImportLines, EveryLineHoweverItIsWalked) {
  std::vector<std::string> texts = {"", "\n", "a", "a\n", "a\n\nb", "\n\n\nlast", "a\nb\n\n"};
  const size_t every = ImportTextLines::kCheckpointEvery;
  for (const size_t lines : {every - 1, every, every + 1, 3 * every + 2}) {
    std::string t;
    for (size_t k = 0; k < lines; k++)
      t += std::string(k % 7 == 3 ? 0 : k % 11, static_cast<char>('a' + k % 26)) + "\n";
    texts.push_back(t);
    texts.push_back(t.substr(0, t.size() - 1));
    texts.push_back("\n" + t);
  }
  std::mt19937 random(11);
  for (const std::string &text : texts) {
    std::vector<std::string> split;
    std::string line;
    for (const char c : text) {
      if (c == '\n') {
        split.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    if (!line.empty())
      split.push_back(line);
    const ImportTextLines table = ImportLines(text);
    ASSERT_EQ(table.size(), split.size()) << text.size();
    EXPECT_EQ(table.empty(), split.empty());
    if (split.empty())
      continue;
    EXPECT_EQ(table.back(), split.back());
    EXPECT_EQ(table.front(), split.front());
    std::vector<size_t> order;
    for (size_t k = 0; k < split.size(); k++)
      order.push_back(k);
    for (size_t k = split.size(); k-- > 0;)
      order.push_back(k);
    for (int k = 0; k < 300; k++)
      order.push_back(random() % split.size());
    for (const size_t k : order)
      ASSERT_EQ(table[k], split[k]) << "line " << k + 1 << " of " << split.size();
    EXPECT_EQ(std::vector<std::string>(table.begin(), table.end()), split);
  }
}

} // namespace
