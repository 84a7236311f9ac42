// Shell dialogs for the structure window tests: Save As saves where the test
// says (nowhere while `saveFile` is empty), and every question about unsaved
// changes is counted and answered Cancel.
#pragma once

#include "shell/ShellDialogs.h"

#include <filesystem>

class AnsweringDialogs : public ShellDialogs {
public:
  std::filesystem::path saveFile;
  int asked = 0;
  std::vector<std::filesystem::path> GetOpenFiles() override { return {}; }
  std::optional<std::filesystem::path> GetSaveFile(const std::string &, const std::string &,
                                                   const std::filesystem::path &) override {
    if (saveFile.empty())
      return {};
    return saveFile;
  }
  SaveChangesAnswer ConfirmSaveChanges(const std::string &, bool) override {
    ++asked;
    return SaveChangesAnswer::kCancel;
  }
  bool GetWindowOptions(std::string &, int &) override { return false; }
};
