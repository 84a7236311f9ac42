// Test suites that answer the program's dialogs through a host of their own,
// over the program that the test program's environment started
// (ProgramEnvironment.h), and a fixture for suites that drive sheets of
// structure windows. Header only: the support library sits below the
// interface layer.
#pragma once

#include "shell/Commands.h"
#include "shell/EngineHooks.h"
#include "shell/FileCommands.h"
#include "shell/LogStore.h"
#include "shell/QtHostServices.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "window/MainWindowData.h"

#include <QCoreApplication>
#include <QDialog>
#include <gtest/gtest.h>
#include <vector>

// A new host that serves the running program's structure windows and its
// Log while a suite installs it.
template <typename Host> Host *JoinRunningProgram() {
  auto *host = new Host;
  InstallHostWindowHooks(*host, [] { return AllGraphWindows(); });
  host->AttachLog([](std::string_view text, const RGBColor &colour, size_t n) { GetLogStore()->Append(text, colour, n); },
                  [] { return false; });
  return host;
}

class StructureSheetTest : public ::testing::Test {
protected:
  // An example in the front window, not marked modified.
  static CrystalRec *OpenExample(const char *name) {
    if (!OpenFSRefInWindow(ExamplesFolder() / name, nullptr))
      return nullptr;
    QCoreApplication::processEvents();
    ClearWindowModified(FrontGraphWindow());
    return GetWindowCrystal(FrontGraphWindow());
  }
  // The sheets showing on the front window.
  static std::vector<QDialog *> OpenSheets() {
    std::vector<QDialog *> out;
    if (MainWindow *w = GetMainWindow(FrontGraphWindow()))
      for (QDialog *d : w->findChildren<QDialog *>())
        if (d->isVisible())
          out.push_back(d);
    return out;
  }
  // The one sheet the command opened.
  static QDialog *Sheet(uint32_t command) {
    EXPECT_EQ(ProcessCommand(command), kNoErr);
    auto sheets = OpenSheets();
    EXPECT_EQ(sheets.size(), 1u);
    return sheets.empty() ? nullptr : sheets[0];
  }
  // Cancels the open sheets and closes every structure window unsaved.
  static void CloseAll() {
    for (QDialog *sheet : OpenSheets())
      sheet->reject();
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows())) {
      ClearWindowModified(w->Ref());
      DoCloseMainWindow(w->Ref());
    }
    QCoreApplication::processEvents();
  }
};
