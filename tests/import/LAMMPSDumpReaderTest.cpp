// Text dumps of a run opened as a user opens them: each frame a crystal in
// P 1 through the chooser, a tilted box recovered from its bounding box
// (cell worked out by hand from the edges the file was written from),
// scaled coordinates, elements from masses, and the refusals. Positions of
// the packaged file are compared with ASE by tests/oracle/trajectory_oracle.py.
#include "ReaderTestSupport.h"

namespace {

using namespace readertest;
using doctest::Window;

class LAMMPSDump : public ::testing::Test {
protected:
  FakeHost host;
  std::vector<StructureSummary> listed;
  // Answers the chooser with frame `pick` and keeps what it listed.
  void Pick(size_t pick) {
    gImportHooks.choose = [this, pick](const fs::path &, const std::vector<StructureSummary> &s) {
      listed = s;
      return std::vector<size_t>{pick};
    };
  }
  void TearDown() override { gImportHooks = {}; }
};

void ExpectAt(const CrystalRec &c, const char *label, float x, float y, float z) {
  const AsymmetricUnitRecord *s = Site(c, label);
  ASSERT_NE(s, nullptr) << label;
  EXPECT_NEAR(s->xyz[0], x, 1e-5f) << label;
  EXPECT_NEAR(s->xyz[1], y, 1e-5f) << label;
  EXPECT_NEAR(s->xyz[2], z, 1e-5f) << label;
}

TEST_F(LAMMPSDump, ATiltedBoxIsRecoveredFromItsBoundingBoxAndFramesListAtomsByID) {
  // Written from the edges a = (10 0 0), b = (3 9 0), c = (-2 1.5 8) at
  // (1 2 3); the atoms of each frame in another order.
  Pick(1);
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("lammpsdump", "triclinic.lammpstrj")));
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].name, "timestep 0");
  EXPECT_EQ(listed[1].name, "timestep 100");
  EXPECT_EQ(listed[0].cell, "10.0000 9.4868 8.3815  84.59 103.81 71.57");
  const CrystalRec &c = w.crystal();
  EXPECT_STREQ(c.spaceGroup, "P 1");
  ASSERT_EQ(c.sites.size(), 3u);
  EXPECT_STREQ(c.sites[0].label, "Si1");
  EXPECT_STREQ(c.sites[2].label, "O3");
  ExpectAt(c, "Si1", 0.0f, 0.0f, 0.0f);
  ExpectAt(c, "O2", 0.5f, 0.5f, 0.6f);
  ExpectAt(c, "O3", 0.25f, 0.25f, 0.5f); // written at (1.25 0.25 -0.5)
}

TEST_F(LAMMPSDump, ScaledCoordinatesAndElementsFromTheMassColumn) {
  Pick(0);
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("lammpsdump", "dump.scaled")));
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].cell, "5.0000 6.0000 7.0000  90.00 90.00 90.00");
  const CrystalRec &c = w.crystal();
  ExpectAt(c, "O1", 0.1f, 0.2f, 0.3f);
  ExpectAt(c, "H2", 0.05f, 0.9f, 0.5f);
  ExpectAt(c, "Xx3", 0.5f, 0.5f, 0.5f);
  for (const char *line : {"elements by the atoms' masses: 1.0079 H, 15.9994 O.",
                           "masses that are no element's: the atoms of type(s) 3 are placeholders."})
    EXPECT_NE(host.log.find(line), std::string::npos) << line << "\n" << host.log;
}

TEST_F(LAMMPSDump, APackagedDumpByItsNameWithEveryAtomInTheCell) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("lammpsdump", "dump.meoh"), ImportChoice::TakeFirst));
  const CrystalRec &c = w.crystal();
  EXPECT_EQ(c.atomsPerCell, 1000);
  EXPECT_NEAR(c.a, 41.3834, 1e-4);
  EXPECT_NE(host.log.find("dump.meoh holds 2 structures; the first (timestep 0) is opened"), std::string::npos)
      << host.log;
}

TEST_F(LAMMPSDump, DamagedDumpsAreRefusedWithTheLine) {
  const std::string head = "ITEM: TIMESTEP\n0\nITEM: NUMBER OF ATOMS\n2\nITEM: BOX BOUNDS pp pp pp\n0 4\n0 4\n0 4\n";
  const struct {
    std::string name, text, refusal;
  } cases[] = {
      {"dump.a", head + "ITEM: ATOMS id type x y z\n1 1 0 0 0\n",
       " at line 10: the frame holds 1 of the 2 atoms it counts."},
      {"dump.b", head + "ITEM: ATOMS id type x y z\n1 1 0 0 0\n1 1 1 1 1\n", " at line 11: the atom ID 1 is given twice."},
      {"dump.c", head + "ITEM: ATOMS id type vx vy vz\n1 1 0 0 0\n2 1 1 1 1\n",
       " at line 9: the atoms have no x y z (nor xu, xs or xsu) columns."},
      {"dump.d", head + "ITEM: ATOMS id type x y z\n1 1 0 0 0\n2 1 1 1 nan\n",
       " at line 11: the coordinate \"nan\" is not a number."},
      {"dump.e", "ITEM: TIMESTEP\n0\nITEM: ATOMS id x y z\n1 0 0 0\n",
       " at line 3: the frame's atoms come before its NUMBER OF ATOMS item."},
      {"dump.f", "ITEM: TIMESTEP\n0\nITEM: NUMBER OF ENTRIES\n1\n",
       " at line 3: the item \"NUMBER OF ENTRIES\" is not one of a dump of atoms."},
      {"dump.g", "ITEM: NUMBER OF ATOMS\n1\nITEM: BOX BOUNDS pp pp pp\n0 4 1 2\n",
       " at line 4: the box line holds 4 values, not 2 or 3."},
      // A binary dump begins with its step as an 8-byte integer.
      {"dump.bin", std::string("\0\0\0\0\0\0\0\0\x02\0\0\0\0\0\0\0", 16) + "\x01", ": it is not a text file."},
  };
  for (const auto &c : cases) {
    TempFile f(c.name, c.text);
    EXPECT_EQ(Refusal(host, f.path), "\"" + c.name + "\" could not be read" + c.refusal) << c.name;
  }
}

} // namespace
