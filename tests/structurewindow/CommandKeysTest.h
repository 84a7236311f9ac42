// A fixture for structure window tests that reach commands as the user
// does: every structure window closed unsaved and the floating windows
// hidden around each test, the shell's dialogs answered by `dialogs`, and a
// folder of the test's own.
#pragma once

#include "shell/FileCommands.h"
#include "shell/ShellDialogs.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "ExampleWindowsTest.h"

#include <QApplication>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

template <typename Dialogs> class CommandKeysTest : public ::testing::Test {
protected:
  void SetUp() override {
    gQuittingTime = 0;
    previous = &GetShellDialogs();
    SetShellDialogs(&dialogs);
    CloseAllStructureWindows();
  }
  void TearDown() override {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (!qobject_cast<MainWindow *>(w))
        w->hide();
    CloseAllStructureWindows();
    SetShellDialogs(previous);
    gQuittingTime = 0;
  }
  Dialogs dialogs;
  ShellDialogs *previous = nullptr;
  QTemporaryDir folder;
};
