// A file opened into a window that holds a changed structure is read once,
// before the save question: what opens is what was read then, and a file
// that would be refused is refused before anything is asked or given up.
#include "shell/FileCommands.h"
#include "shell/ShellDialogs.h"
#include "structurewindow/StructureWindow.h"
#include "window/MainWindowData.h"

#include <QCoreApplication>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ExampleText(const char *name) {
  std::ifstream in(ExamplesFolder() / name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Answers the save question with Don't Save after writing `replacement`
// over `file`: the file on disk changes while the question is up.
class RewritingDialogs : public ShellDialogs {
public:
  fs::path file;
  std::string replacement;
  int asked = 0;
  std::vector<fs::path> GetOpenFiles() override { return {}; }
  std::optional<fs::path> GetSaveFile(const std::string &, const std::string &, const fs::path &) override {
    return {};
  }
  SaveChangesAnswer ConfirmSaveChanges(const std::string &, bool) override {
    ++asked;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << replacement;
    return SaveChangesAnswer::kDontSave;
  }
  bool GetWindowOptions(std::string &, int &) override { return false; }
};

TEST(OpenReadsOnce, WhatOpensIsWhatWasReadBeforeTheSaveQuestion) {
  const fs::path file = fs::temp_directory_path() / ("ovreadonce-" + std::to_string(::getpid()) + ".ovtx");
  std::ofstream(file, std::ios::binary) << ExampleText("NaCl.ovtx");
  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "Rutile.ovtx", nullptr));
  QCoreApplication::processEvents();
  WindowRef window = FrontGraphWindow();
  OVSetWindowModified(window);
  ASSERT_TRUE(IsWindowModified(window));

  RewritingDialogs dialogs;
  dialogs.file = file;
  dialogs.replacement = ExampleText("Benzene.ovtx");
  ShellDialogs *before = &GetShellDialogs();
  SetShellDialogs(&dialogs);
  const bool opened = OpenFSRefInWindow(file, window);
  SetShellDialogs(before);
  fs::remove(file);

  ASSERT_TRUE(opened);
  EXPECT_EQ(dialogs.asked, 1);
  const CrystalRec &c = *GetWindowCrystal(window);
  EXPECT_FALSE(c.molecule) << "the file was read again after the question";
  EXPECT_EQ(c.atomsPerCell, 8); // NaCl, Z = 4
  ClearWindowModified(window);
}

} // namespace
