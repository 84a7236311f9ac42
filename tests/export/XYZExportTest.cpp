// The XYZ export through its command: every example written, a molecule's
// atoms as they stand, a crystal's one cell with lattice vectors that give
// back its cell, each atom once, and the file read back through the open
// path (the oracle checks with ASE that no two atoms stand at one place).
#include "../documents/DocumentTestSupport.h"

#include "documents/CrystalDocument.h"
#include "export/ExportFrame.h"
#include "import/ImportPath.h"
#include "import/ImportText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using doctest::Window;

constexpr double kDeg = 3.14159265358979323846 / 180.0;

struct XYZFile {
  size_t count = 0;
  std::string comment;
  std::vector<std::string> elements;
  std::vector<std::array<double, 3>> xyz;
};

XYZFile ReadXYZ(const fs::path &p) {
  std::ifstream in(p);
  XYZFile f;
  std::string line;
  std::getline(in, line);
  f.count = std::stoul(line);
  std::getline(in, f.comment);
  for (std::string e; in >> e;) {
    std::array<double, 3> x{};
    in >> x[0] >> x[1] >> x[2];
    f.elements.push_back(e);
    f.xyz.push_back(x);
  }
  return f;
}

class XYZExport : public ::testing::Test {
protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("ovxyz-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  FakeHost host;
  fs::path dir;
};

TEST_F(XYZExport, EveryExampleWritesItsAtomsOrOneCellAndReadsBack) {
  for (const fs::path &example : doctest::ExampleFiles()) {
    const std::string name = example.stem().string();
    Window w(host);
    ASSERT_TRUE(OpenStructureFile(w.ref(), example)) << name;
    const CrystalRec &c = w.crystal();
    host.windowTitle = name;
    host.saveDialogs.clear();
    host.savePaths = {dir / (name + ".xyz")};
    ASSERT_EQ(DoExportCommand(w.ref(), kCmdExportXYZ), 0);
    ASSERT_EQ(host.saveDialogs.size(), 1u);
    EXPECT_EQ(host.saveDialogs[0], (std::pair<std::string, std::string>{"Save XYZ text file", name + ".xyz"}));
    const XYZFile f = ReadXYZ(dir / (name + ".xyz"));
    ASSERT_EQ(f.count, f.xyz.size()) << name;
    if (c.molecule) {
      ASSERT_EQ(f.count, static_cast<size_t>(c.atomCount)) << name;
      EXPECT_EQ(f.comment, name);
      for (size_t k = 0; k < f.count; k++) {
        EXPECT_EQ(f.elements[k], ElementSymbolText(c.sites[c.atoms[k].site].elements[0])) << name << k;
        for (int d = 0; d < 3; d++)
          EXPECT_NEAR(f.xyz[k][d], c.atoms[k].cart[d], 5e-7) << name << k;
      }
    } else {
      ASSERT_EQ(f.count, static_cast<size_t>(c.atomsPerCell)) << name;
      std::smatch m;
      ASSERT_TRUE(std::regex_search(f.comment, m, std::regex("Lattice=\"([^\"]*)\""))) << f.comment;
      std::istringstream ls(m[1].str());
      double L[3][3];
      for (auto &row : L)
        for (double &v : row)
          ls >> v;
      // The vectors' lengths and angles are the cell's.
      auto dot = [&](int p, int q) { return L[p][0] * L[q][0] + L[p][1] * L[q][1] + L[p][2] * L[q][2]; };
      const double len[3] = {std::sqrt(dot(0, 0)), std::sqrt(dot(1, 1)), std::sqrt(dot(2, 2))};
      EXPECT_NEAR(len[0], c.a, 1e-5) << name;
      EXPECT_NEAR(len[2], c.c, 1e-5) << name;
      EXPECT_NEAR(dot(1, 2) / (len[1] * len[2]), std::cos(c.alpha * kDeg), 1e-6) << name;
      EXPECT_NEAR(dot(0, 1) / (len[0] * len[1]), std::cos(c.gamma * kDeg), 1e-6) << name;
    }
    // Read back through the open path: the same atoms in one cell.
    Window back(host);
    ASSERT_TRUE(OpenTextFile(back.ref(), dir / (name + ".xyz"), ImportChoice::TakeFirst)) << name;
    EXPECT_EQ(back.crystal().molecule, c.molecule) << name;
    EXPECT_EQ(c.molecule ? back.crystal().atomCount : back.crystal().atomsPerCell,
              c.molecule ? c.atomCount : c.atomsPerCell)
        << name;
  }
  EXPECT_TRUE(host.alerts.empty());
}

// A placeholder atom is written "X", as other programs read the format, and
// reads back as a placeholder without a word; ".extxyz" is an XYZ name.
TEST_F(XYZExport, APlaceholderAtomIsWrittenXAndReadsBack) {
  std::ofstream(dir / "in.extxyz") << "2\nplaceholder\nO 0 0 0\nX 0 0 1.2\n";
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), dir / "in.extxyz", ImportChoice::TakeFirst));
  host.savePaths = {dir / "out.xyz"};
  ASSERT_EQ(DoExportCommand(w.ref(), kCmdExportXYZ), 0);
  const XYZFile f = ReadXYZ(dir / "out.xyz");
  ASSERT_EQ(f.elements.size(), 2u);
  EXPECT_EQ(f.elements[1], "X");
  host.log.clear();
  Window back(host);
  ASSERT_TRUE(OpenTextFile(back.ref(), dir / "out.xyz", ImportChoice::TakeFirst));
  const CrystalRec &c = back.crystal();
  EXPECT_EQ(c.sites[c.atoms[1].site].elements[0], kPlaceholderElement);
  EXPECT_EQ(host.log.find("names no element"), std::string::npos) << host.log;
}

} // namespace
