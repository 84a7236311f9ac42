// XYZ files opened the way the user opens them: frames, element symbols in
// any case and atomic numbers, the comment as the frame's name, the extended
// lattice, and damaged files refused or mended with the line named.
#include "../documents/DocumentTestSupport.h"

#include "documents/CrystalDocument.h"
#include "import/ImportPath.h"
#include "import/ImportText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using doctest::Window;

const fs::path kData = fs::path(OV_TEST_DATA) / "import" / "xyz";

fs::path WriteTemp(const std::string &name, const std::string &text) {
  const fs::path file = fs::temp_directory_path() / (std::to_string(::getpid()) + "-" + name);
  std::ofstream(file, std::ios::binary) << text;
  return file;
}

std::string Elements(const CrystalRec &c) {
  std::string out;
  for (size_t k = 0; k < c.sites.size(); k++)
    out += (k ? " " : "") + ElementSymbolText(c.sites[k].elements[0]);
  return out;
}

class XYZReader : public ::testing::Test {
protected:
  void SetUp() override {
    gDocumentWindowHooks.setWindowTitle = [this](WindowRef, const std::string &t) { title = t; };
  }
  void TearDown() override { gDocumentWindowHooks.setWindowTitle = nullptr; }
  bool Open(Window &w, const fs::path &file) { return OpenTextFile(w.ref(), file, ImportChoice::TakeFirst); }
  FakeHost host;
  std::string title;
};

TEST_F(XYZReader, FramesAreStructuresAndTheCommentNamesTheFrame) {
  ImportResult result;
  std::string why;
  ASSERT_TRUE(ReadStructureFile(kData / "frames.xyz", result, &why)) << why;
  ASSERT_EQ(result.structures.size(), 2u);
  EXPECT_EQ(result.structures[1].name, "water, frame two");
  Window w(host);
  ASSERT_TRUE(Open(w, kData / "frames.xyz"));
  EXPECT_EQ(title, "frames water, frame one") << "the file and the frame";
  EXPECT_TRUE(w.crystal().molecule);
  EXPECT_FLOAT_EQ(w.crystal().atoms[1].cart[1], 0.7572f);
}

// Atomic numbers; a comment that is a number (an energy) names nothing.
TEST_F(XYZReader, AtomicNumbersAndSymbolsInAnyCaseWithLabels) {
  Window w(host);
  ASSERT_TRUE(Open(w, kData / "atomic_numbers.xyz"));
  EXPECT_EQ(Elements(w.crystal()), "C H H H H");
  EXPECT_EQ(title, "atomic_numbers");
  Window v(host);
  ASSERT_TRUE(Open(v, kData / "labels.xyz"));
  EXPECT_EQ(Elements(v.crystal()), "C Cl Cl Cl");
  EXPECT_STREQ(v.crystal().sites[0].label, "C01");
  EXPECT_EQ(title, "labels") << "the file, not its comment, names the window";
}

// Rock salt's primitive cell given by three turned vectors: a = b = c =
// 5.64 / sqrt(2), 60 degree angles, Cl at (1/2, 1/2, 1/2).
TEST_F(XYZReader, TheExtendedLatticeGivesACrystalInP1) {
  Window w(host);
  ASSERT_TRUE(Open(w, kData / "lattice.xyz"));
  const CrystalRec &c = w.crystal();
  ASSERT_FALSE(c.molecule);
  EXPECT_NEAR(c.a, 5.64 / std::sqrt(2.0), 1e-5);
  EXPECT_NEAR(c.c, 5.64 / std::sqrt(2.0), 1e-5);
  EXPECT_NEAR(c.alpha, 60.0, 1e-4);
  EXPECT_NEAR(c.gamma, 60.0, 1e-4);
  EXPECT_EQ(c.atomsPerCell, 2);
  for (float x : c.sites[1].xyz)
    EXPECT_NEAR(x, 0.5, 1e-6);
}

TEST_F(XYZReader, DamagedFilesAreRefusedOrMendedWithTheLineNamed) {
  struct Case {
    const char *name;
    std::string text;
    const char *alertOrLog;
    bool refused;
  };
  const std::string water = "3\nwater\nO 0 0 0.1173\nH 0 0.7572 -0.4692\nH 0 -0.7572 -0.4692\n";
  const std::vector<Case> cases = {
      {"short count", "5\nwater\nO 0 0 0.1173\nH 0 0.7572 -0.4692\n",
       "at line 1: the count promises 5 atoms, but only 2 line(s) follow the comment.", true},
      {"text coordinate", "2\n\nO 0 0 0.1\nH 0 zero 0\n", "at line 4: the coordinate \"zero\" is not a number.", true},
      {"nan coordinate", "2\n\nO 0 0 0.1\nH 0 nan 0\n", "at line 4: the coordinate \"nan\" is not a number.", true},
      {"nan in the first atom", "2\n\nO nan 0 0.1\nH 0 0 0\n", "at line 3: the coordinate \"nan\" is not a number.",
       true},
      {"missing column", "2\n\nO 0 0 0.1\nH 0 0\n", "at line 4: an atom line needs an element and three", true},
      {"column widths past any line",
       "1\nProperties=species:S:1:x:R:9223372036854775807:y:R:9223372036854775806:pos:R:3\nO 0 0 0\n",
       "at line 2: the Properties key names no species and pos columns", true},
      {"bad lattice", "1\nLattice=\"1 0 0 0 1 0 0 0\"\nO 0 0 0\n", "at line 2: the Lattice key holds no three", true},
      {"flat lattice", "1\nLattice=\"1 0 0 2 0 0 0 0 1\"\nO 0 0 0\n", "at line 2: the Lattice key holds no three", true},
      {"no count", "O 0 0 0\n", "not a file of its kind", true},
      {"cut trajectory", water + "3\nwater\nO 0 0 0.1\n",
       "line 6: the count promises 3 atoms, but the file ends after 1; that last frame is left out.", false},
      {"unknown element", "2\n\nO 0 0 0.1\nQq 0 1 0\n", "line 4: \"Qq\" names no element; the atom is kept as Xx.",
       false},
      {"unknown first element", "2\n\nQq 0 0 0.1\nH 0 1 0\n",
       "line 3: \"Qq\" names no element; the atom is kept as Xx.", false},
  };
  for (const Case &k : cases) {
    host.alerts.clear();
    host.log.clear();
    const fs::path file = WriteTemp("bad.xyz", k.text);
    Window w(host);
    const bool opened = Open(w, file);
    fs::remove(file);
    EXPECT_EQ(opened, !k.refused) << k.name;
    if (k.refused) {
      ASSERT_EQ(host.alerts.size(), 1u) << k.name;
      EXPECT_NE(host.alerts[0].explanation.find(k.alertOrLog), std::string::npos)
          << k.name << ": " << host.alerts[0].explanation;
      EXPECT_EQ(w.crystal().atomCount, 0) << k.name;
    } else {
      EXPECT_NE(host.log.find(k.alertOrLog), std::string::npos) << k.name << ": " << host.log;
    }
  }
}

// By content alone the whole first frame must be there after the comment:
// a count followed directly by numbered atoms is another format's.
TEST_F(XYZReader, TheDetectorNeedsTheCommentLine) {
  const std::string counted = "3\nO      1   0.000   0.000   0.117\nH      2   0.000   0.757  -0.469\n"
                              "H      3   0.000  -0.757  -0.469\n";
  EXPECT_FALSE(FindImportFormat("XYZ")->detect(ImportSource{"w.c3d", "w.c3d", counted}));
  EXPECT_TRUE(FindImportFormat("XYZ")->detect(ImportSource{"w.txt", "w.txt", "1\n\nO 0 0 0\n"}));
  EXPECT_FALSE(FindImportFormat("XYZ")->detect(ImportSource{"w.txt", "w.txt", "HEADER\nATOM\n"}));
  // A frame longer than the head the detector reads is counted to its end.
  std::string atoms;
  for (int k = 0; k < 5000; k++)
    atoms += "Ar " + std::to_string(k * 4) + ".0 0.0 0.0\n";
  EXPECT_TRUE(FindImportFormat("XYZ")->detect(ImportSource{"w.txt", "w.txt", "5000\nargon\n" + atoms}));
  EXPECT_FALSE(FindImportFormat("XYZ")->detect(ImportSource{"w.txt", "w.txt", "5001\nargon\n" + atoms}));
}

} // namespace
