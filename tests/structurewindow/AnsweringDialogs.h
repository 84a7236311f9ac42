// Shell dialogs for the structure window tests: Save As saves where the test
// says (nowhere while `saveFile` is empty), and every question about unsaved
// changes is counted and answered Cancel (`whileAsked` runs as it stands,
// the event loop's turns while the user reads it).
#pragma once

#include "shell/ShellDialogs.h"

#include <filesystem>
#include <functional>

class AnsweringDialogs : public ShellDialogs {
public:
  std::filesystem::path saveFile;
  int asked = 0;
  std::function<void()> whileAsked;
  std::vector<std::filesystem::path> GetOpenFiles() override { return {}; }
  std::optional<std::filesystem::path> GetSaveFile(const std::string &, const std::string &,
                                                   const std::filesystem::path &) override {
    if (saveFile.empty())
      return {};
    return saveFile;
  }
  SaveChangesAnswer ConfirmSaveChanges(const std::string &, bool) override {
    ++asked;
    if (whileAsked)
      whileAsked();
    return SaveChangesAnswer::kCancel;
  }
  bool GetWindowOptions(std::string &, int &) override { return false; }
};
