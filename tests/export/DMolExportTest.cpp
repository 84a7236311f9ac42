// The DMol export: the command's dialog and file; a crystal's one cell with
// each atom once, a molecule's every atom.
#include "../documents/DocumentTestSupport.h"

#include "export/DMolWriter.h"
#include "export/ExportFrame.h"
#include "import/ImportPath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

using doctest::Window;

std::vector<std::vector<std::string>> AtomRows(const std::string &text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::vector<std::string> t;
    for (std::string w; words >> w;)
      t.push_back(w);
    if (t.size() == 9 && t[4] == "XXXX")
      rows.push_back(t);
  }
  return rows;
}

TEST(DMolExportTest, CommandWritesOneCellOrEveryAtom) {
  FakeHost host;
  const auto dir = std::filesystem::temp_directory_path() / ("ovdmol-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  for (const char *example : {"Rutile", "Quartz", "Benzene"}) {
    SCOPED_TRACE(example);
    Window w(host);
    ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples" /
                                          (std::string(example) + ".ovtx")));
    const CrystalRec &c = w.crystal();
    host.windowTitle = example;
    host.saveDialogs.clear();
    host.savePaths = {dir / "out.car"};
    EXPECT_EQ(DoExportCommand(w.ref(), kCmdExportDMol), 0);
    ASSERT_EQ(host.saveDialogs.size(), 1u);
    EXPECT_EQ(host.saveDialogs[0], (std::pair<std::string, std::string>{"Save DMol archive file",
                                                                        std::string(example) + ".car"}));
    std::ifstream in(dir / "out.car");
    std::stringstream text;
    text << in.rdbuf();
    const auto rows = AtomRows(text.str());
    EXPECT_EQ(text.str().rfind("end\nend\n"), text.str().size() - 8);
    if (c.molecule) {
      EXPECT_NE(text.str().find("\nPBC=OFF\n"), std::string::npos);
      ASSERT_EQ(static_cast<int32_t>(rows.size()), c.atomCount);
      EXPECT_EQ(std::stod(rows[0][1]), std::round(c.atoms[0].cart[0] * 1e9) / 1e9);
      continue;
    }
    EXPECT_NE(text.str().find("\nPBC=ON\n"), std::string::npos);
    ASSERT_EQ(static_cast<int32_t>(rows.size()), c.atomsPerCell);
    // Read back: the same cell contents, no atom twice.
    Window back(host);
    ASSERT_TRUE(OpenTextFile(back.ref(), dir / "out.car"));
    EXPECT_EQ(back.crystal().atomsPerCell, c.atomsPerCell);
    EXPECT_FLOAT_EQ(back.crystal().gamma, c.gamma);
  }
  std::filesystem::remove_all(dir);
}

// A placeholder atom is written "X", as other programs read the format.
TEST(DMolExportTest, APlaceholderAtomIsWrittenX) {
  FakeHost host;
  const auto dir = std::filesystem::temp_directory_path() / ("ovdmolx-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "in.xyz") << "2\nplaceholder\nO 0 0 0\nX 0 0 1.2\n";
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), dir / "in.xyz"));
  host.savePaths = {dir / "out.car"};
  EXPECT_EQ(DoExportCommand(w.ref(), kCmdExportDMol), 0);
  std::ifstream in(dir / "out.car");
  std::stringstream text;
  text << in.rdbuf();
  const auto rows = AtomRows(text.str());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][0], "X2");
  EXPECT_EQ(rows[1][7], "X");
  std::filesystem::remove_all(dir);
}

} // namespace
