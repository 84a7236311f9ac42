// Tests over documents in real structure windows: the shell's dialogs answer
// as the test says (AnsweringDialogs.h), every structure window is closed
// before and after each test, and Save As writes into a folder of the test's
// own, so that what a command did is read in the saved bytes.
#pragma once

#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "AnsweringDialogs.h"

#include <QCoreApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QEvent>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

inline std::string FileBytes(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The sheet open over the window now.
inline QDialog *OpenSheet(MainWindow *w) {
  for (QDialog *d : w->findChildren<QDialog *>())
    if (d->isVisible())
      return d;
  return nullptr;
}

// The visible button that sends OK, clicked.
inline void ClickOK(QWidget *root) {
  for (QPushButton *b : root->findChildren<QPushButton *>())
    if (b->isVisible() && (b->property("command").toString().trimmed() == "ok" || b->text() == "OK")) {
      QTest::mouseClick(b, Qt::LeftButton);
      QCoreApplication::processEvents();
      return;
    }
  ADD_FAILURE() << "no OK button";
}

// The text typed into the field over what it held.
inline void Type(QWidget *root, int id, const char *text) {
  auto *field = FindControl<QLineEdit>(root, id);
  ASSERT_NE(field, nullptr) << id;
  field->setFocus();
  field->selectAll();
  QTest::keyClicks(field, text);
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
  // Saves the window, lets the user `act`, and expects the window unmarked
  // and the bytes saved after it those saved before.
  void ExpectNoSavedChange(MainWindow *w, const std::function<void()> &act) {
    const std::string before = SaveAs("before.ovdf");
    ASSERT_FALSE(before.empty());
    ASSERT_FALSE(IsWindowModified(w->Ref()));
    act();
    QCoreApplication::processEvents();
    EXPECT_FALSE(IsWindowModified(w->Ref()));
    EXPECT_TRUE(SaveAs("after.ovdf") == before) << "the saved bytes differ";
  }

  AnsweringDialogs dialogs;
  ShellDialogs *previous = nullptr;
  QTemporaryDir folder;
};
