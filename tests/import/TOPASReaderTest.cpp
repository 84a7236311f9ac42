// Structures of the refinement language: lattice macros, refined values with
// their names, esds and limits, comments, several structures of one input
// file, mixed sites, rigid bodies passed over and values that cannot be
// followed refused.
#include "ReaderTestSupport.h"

#include <cmath>

namespace {

using namespace readertest;
using doctest::Window;

class TOPASReader : public ::testing::Test {
protected:
  FakeHost host;
  void TearDown() override { gImportHooks.choose = nullptr; }
};

TEST_F(TOPASReader, MacroCellRefinedValuesAndComments) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("topas", "rutile.str")));
  const CrystalRec &c = w.crystal();
  EXPECT_FLOAT_EQ(c.a, 4.5937f);
  EXPECT_FLOAT_EQ(c.b, 4.5937f);
  EXPECT_FLOAT_EQ(c.c, 2.9587f);
  EXPECT_EQ(c.atomsPerCell, 6); // P 42/m n m: Ti on 2a, O on 4f (gemmi)
  const AsymmetricUnitRecord *o = Site(c, "O1");
  ASSERT_NE(o, nullptr);
  EXPECT_FLOAT_EQ(o->xyz[0], 0.3048f);
  EXPECT_EQ(o->elements[0], TwoCharsToShort("O "));
  EXPECT_NEAR(o->isoValue, 0.5 / (8.0 * M_PI * M_PI), 1e-7);
}

TEST_F(TOPASReader, EachStrOfAnInputFileIsAStructure) {
  std::vector<StructureSummary> listed;
  gImportHooks.choose = [&](const fs::path &, const std::vector<StructureSummary> &s) {
    listed = s;
    return std::vector<size_t>{1};
  };
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("topas", "twophases.inp")));
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].name, "Magnesium");
  EXPECT_EQ(listed[0].cell, "3.2094 3.2094 5.2108  90.00 90.00 120.00");
  EXPECT_EQ(listed[1].name, "Magnesiowustite");
  const AsymmetricUnitRecord *m = Site(w.crystal(), "M1");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->elements[1], TwoCharsToShort("Fe"));
  EXPECT_FLOAT_EQ(m->occupancies[1], 0.4f);
  EXPECT_EQ(w.crystal().atomsPerCell, 8); // F m -3 m: 4a and 4b
}

TEST_F(TOPASReader, ARigidBodyIsPassedOverWithALogLine) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("topas", "rigid.str")));
  EXPECT_EQ(w.crystal().sites.size(), 3u);
  EXPECT_NE(host.log.find("line 8: a rigid body (rigid) is passed over; its sites keep the positions their site lines "
                          "give."),
            std::string::npos)
      << host.log;
}

TEST_F(TOPASReader, ValuesThatCannotBeFollowedAreRefused) {
  const struct {
    std::string site, refusal;
  } cases[] = {
      {"site O1 x 0.3 y = x; z 0 occ O 1", "line 5: the y of site O1 is given by an equation, which this version "
                                           "cannot follow."},
      {"site O1 x Xo(0.3) y 0 z 0 occ O 1", "line 5: the x of site O1 is given by a macro, which this version cannot "
                                            "follow."},
      {"site O1 x 0.3 y 0 occ O 1", "line 5: site O1 needs x, y and z."},
  };
  for (const auto &c : cases) {
    TempFile f("t.str", "str\n phase_name x\n Cubic(4)\n space_group 1\n" + c.site + "\n");
    EXPECT_EQ(Refusal(host, f.path), "\"t.str\" could not be read at " + c.refusal);
  }
  // White space other than blanks and tabs (a vertical tab in a damaged
  // file) once stopped the reading of any file.
  TempFile odd("t.pdb", "CRYST1    1.000    1.000    1.000  90.00  90.00  90.00 P 1           1\nHETATM    1  C1  EOH \v 1\n");
  EXPECT_NE(Refusal(host, odd.path), "");
  TempFile tab("t.str", "str\n phase_name x\v\n Cubic(4)\n space_group 1\nsite O1 x 0 y 0 z 0 occ O 1\n");
  EXPECT_EQ(Refusal(host, tab.path), "");
}

} // namespace
