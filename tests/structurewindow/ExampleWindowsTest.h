// Tests over documents in real structure windows: the shell's dialogs answer
// as the test says (AnsweringDialogs.h), every structure window is closed
// before and after each test, and Save As writes into a folder of the test's
// own, so that what a command did is read in the saved bytes.
#pragma once

#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "AnsweringDialogs.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

inline std::string FileBytes(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Closes every structure window without asking about its changes.
inline void CloseAllStructureWindows() {
  for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows())) {
    ClearWindowModified(w->Ref());
    DoCloseMainWindow(w->Ref());
  }
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class ExampleWindowsTest : public ::testing::Test {
protected:
  void SetUp() override {
    previous = &GetShellDialogs();
    SetShellDialogs(&dialogs);
    CloseAllStructureWindows();
  }
  void TearDown() override {
    CloseAllStructureWindows();
    SetShellDialogs(previous);
  }
  // Opens the file (a bundled example by its name) as File > Open does.
  static MainWindow *Open(const std::filesystem::path &file) {
    if (!OpenFSRefInWindow(file.is_absolute() ? file : ExamplesFolder() / file, nullptr))
      return nullptr;
    QCoreApplication::processEvents();
    return GetMainWindow(FrontGraphWindow());
  }
  // Save As under `name` in the test's folder; the file's bytes.
  std::string SaveAs(const char *name) {
    dialogs.saveFile = std::filesystem::path(folder.path().toStdString()) / name;
    EXPECT_EQ(ProcessCommand(kCmdSaveAs), kNoErr);
    return FileBytes(dialogs.saveFile);
  }

  AnsweringDialogs dialogs;
  ShellDialogs *previous = nullptr;
  QTemporaryDir folder;
};
