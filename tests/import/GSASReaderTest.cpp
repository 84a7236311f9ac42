// Experiment files: the phases of a file through the chooser, records with
// CR LF ends, with LF ends and without any, atoms numbered past 9, and the
// refusals. The atoms of a cell were counted with gemmi from each file's own
// records (tests/oracle/new_readers_oracle.py repeats that count).
#include "ReaderTestSupport.h"

#include <fstream>
#include <sstream>

extern const ImportFormat gGSASImport;

namespace {

using namespace readertest;
using doctest::Window;

class GSASReader : public ::testing::Test {
protected:
  FakeHost host;
  void TearDown() override { gImportHooks.choose = nullptr; }
};

std::string Bytes(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(GSASReader, ThePhasesOfAFileGoThroughTheChooser) {
  // The packaged file with its stray NUL made a blank (the path refuses
  // text with a NUL inside).
  std::string text = Bytes(Sample("gsas", "gsas_test.exp"));
  ASSERT_NE(text.find('\0'), std::string::npos);
  text[text.find('\0')] = ' ';
  TempFile f("phases.exp", text);
  std::vector<StructureSummary> listed;
  gImportHooks.choose = [&](const fs::path &, const std::vector<StructureSummary> &s) {
    listed = s;
    return std::vector<size_t>{2};
  };
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), f.path));
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].name, "Diaspore");
  EXPECT_EQ(listed[1].name, "Phase Egg AlSiO3(OH)");
  EXPECT_EQ(listed[1].cell, "7.1441 4.3346 6.9526  90.00 98.40 90.00");
  // Stishovite, P 42/m n m: Si on 2a, O on 4f.
  EXPECT_EQ(w.crystal().atomsPerCell, 6);
  const AsymmetricUnitRecord *o = Site(w.crystal(), "O");
  ASSERT_NE(o, nullptr);
  EXPECT_FLOAT_EQ(o->xyz[0], 0.3061f);
  EXPECT_FLOAT_EQ(o->isoValue, 0.02f);
}

TEST_F(GSASReader, AStrayNulInsideARecordIsABlank) {
  ImportSource source{"gsas_test.exp", "gsas_test.exp", Bytes(Sample("gsas", "gsas_test.exp"))};
  std::erase(source.text, '\r');
  ImportResult result;
  ASSERT_TRUE(gGSASImport.detect(source));
  ASSERT_TRUE(gGSASImport.read(source, result)) << result.error.what;
  ASSERT_EQ(result.structures.size(), 3u);
  // Diaspore (P b n m): Al, O1, O2 and H, each on a mirror (4c).
  EXPECT_EQ(result.structures[0].crystal.sites.size(), 4u);
  EXPECT_EQ(result.structures[1].crystal.sites.size(), 7u);
}

TEST_F(GSASReader, RecordsWithoutLineEndsAreCutEveryEightyBytes) {
  ASSERT_EQ(Bytes(Sample("gsas", "records.exp")).find('\n'), std::string::npos);
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("gsas", "records.exp")));
  EXPECT_EQ(w.crystal().latticeLetter, 'F');
  EXPECT_EQ(w.crystal().atomsPerCell, 8);
  const AsymmetricUnitRecord *cl = Site(w.crystal(), "Cl1");
  ASSERT_NE(cl, nullptr);
  EXPECT_FLOAT_EQ(cl->xyz[2], 0.5f);
}

TEST_F(GSASReader, AtomsPastNineAndAnisotropicDisplacements) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("gsas", "hexagonal.exp")));
  // P 63/m: Ca on 4f, O on 6h.
  EXPECT_EQ(w.crystal().atomsPerCell, 10);
  const AsymmetricUnitRecord *o = Site(w.crystal(), "O10");
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->displacementType, uint32_t{kDisplacementAnisoU});
  EXPECT_FLOAT_EQ(o->tensor[1], 0.005f); // U12
  EXPECT_FLOAT_EQ(o->tensor[8], 0.014f); // U33
  EXPECT_FLOAT_EQ(Site(w.crystal(), "Ca1")->isoValue, 0.011f);
}

TEST_F(GSASReader, DamagedFilesAreRefusedWithTheRecord) {
  const std::string text = Bytes(Sample("gsas", "hexagonal.exp"));
  const auto replaced = [&](const std::string &from, const std::string &to) {
    std::string t = text;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  const struct {
    std::string text, refusal;
  } cases[] = {
      {replaced("  9.400000", "  9.4x0000"),
       "\"t.exp\" could not be read at line 5: the cell value \"9.4x0000\" of \"CRS1  ABC\" is not a number."},
      {replaced("P 63/m", "Q 63/m"), "\"t.exp\" could not be read at line 11: the space group \"Q 63/m\" is not one "
                                     "this version knows."},
      {replaced(" EXPR NPHAS     1", " EXPR NPHAS  9e99"),
       "\"t.exp\" could not be read at line 3: the phase types are no whole numbers (\"EXPR NPHAS\")."},
      {replaced(" EXPR NPHAS     1", " EXPR NPHAS    10"),
       "\"t.exp\" could not be read: it holds no phase with atoms."},
  };
  for (const auto &c : cases) {
    TempFile f("t.exp", c.text);
    EXPECT_EQ(Refusal(host, f.path), c.refusal);
  }
}

} // namespace
