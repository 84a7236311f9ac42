// Commands as the keyboard, the toolbar and the window manager reach them,
// with no menu opened first: a shortcut answers whenever its menu item
// would, a toolbar follows the front window, and the title bar's close
// button closes one window as File > Close does.
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/ShellDialogs.h"
#include "shell/Toolbars.h"

#include "window/MainWindowData.h"

#include "AnsweringDialogs.h"
#include "CommandKeysTest.h"
#include "ProgramEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class CommandStatusTest : public CommandKeysTest<AnsweringDialogs> {
protected:
  // Opened as a dropped file or a second launch's file would be: not
  // through a command.
  static MainWindow *Open(const char *name) {
    if (!OpenFSRefInWindow(ExamplesFolder() / name, nullptr))
      return nullptr;
    QCoreApplication::processEvents();
    return GetMainWindow(FrontGraphWindow());
  }
  static bool ToolbarButtonEnabled(MainWindow *w, uint32_t code) {
    QToolBar *bar = WindowToolbar(w);
    if (!bar)
      return false;
    for (QAction *action : bar->actions())
      if (GetActionCommand(action) == code)
        if (QWidget *button = bar->widgetForAction(action))
          return button->isEnabled();
    return false;
  }
};

TEST_F(CommandStatusTest, CtrlSAfterAnArrowKeyRotationSavesWithoutAMenuOpened) {
  MainWindow *w = Open("Rutile.ovtx");
  ASSERT_NE(w, nullptr);
  ProcessCommand(FourCharsToLong("RotT"));
  dialogs.saveFile = fs::path(folder.path().toStdString()) / "rutile.ovdf";
  ASSERT_EQ(ProcessCommand(kCmdSaveAs), kNoErr);
  const std::string saved = FileBytes(dialogs.saveFile);
  ASSERT_FALSE(saved.empty());
  ASSERT_FALSE(IsWindowModified(w->Ref()));
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  FocusGraphPane(w->Ref());

  QTest::keyClick(w->GraphPane(), Qt::Key_Left);
  ASSERT_TRUE(IsWindowModified(w->Ref()));
  QTest::keyClick(w->GraphPane(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_FALSE(IsWindowModified(w->Ref())) << "Ctrl+S saved";
  EXPECT_TRUE(FileBytes(dialogs.saveFile) != saved) << "the rotation is in the file";
}

TEST_F(CommandStatusTest, AWindowsToolbarZoomsAndScalesAsSoonAsItsStructureShows) {
  // The toolbar as it stood with no structure anywhere.
  UpdateAllCommandStatus();
  MainWindow *w = Open("NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(ToolbarButtonEnabled(w, kCmdZoomIn));
  EXPECT_TRUE(ToolbarButtonEnabled(w, kCmdAutoScaleView));

  // And greyed again once its window closes, with no window left showing a
  // structure.
  ClearWindowModified(w->Ref());
  DoCloseMainWindow(w->Ref());
  QCoreApplication::processEvents();
  MainWindow *left = AllGraphWindows().front();
  EXPECT_FALSE(ToolbarButtonEnabled(left, kCmdZoomIn));
}

TEST_F(CommandStatusTest, TheTitleBarCloseButtonClosesOneWindowAndTheProgramRuns) {
  MainWindow *modified = Open("Quartz.ovtx");
  ASSERT_NE(modified, nullptr);
  MainWindow *saved = Open("Rutile.ovtx");
  ASSERT_NE(saved, nullptr);
  ASSERT_NE(modified, saved);
  OVSetWindowModified(modified->Ref());

  saved->close(); // the window manager's close
  QCoreApplication::processEvents();
  EXPECT_EQ(dialogs.asked, 0) << "the closed window had nothing to save, and no quit began";
  EXPECT_EQ(AllGraphWindows(), std::vector<MainWindow *>{modified});
  EXPECT_TRUE(modified->isVisible());
  EXPECT_EQ(gQuittingTime, 0);

  // With Ctrl held the modified window closes without its question; the
  // other one stays and the program runs on.
  saved = Open("Rutile.ovtx");
  ASSERT_NE(saved, nullptr);
  QTest::keyPress(modified->windowHandle(), Qt::Key_Control, Qt::ControlModifier);
  modified->close();
  QTest::keyRelease(saved->windowHandle(), Qt::Key_Control, Qt::NoModifier);
  QCoreApplication::processEvents();
  EXPECT_EQ(dialogs.asked, 0);
  EXPECT_EQ(AllGraphWindows(), std::vector<MainWindow *>{saved});
  EXPECT_TRUE(saved->isVisible());
  EXPECT_TRUE(IsWindowFileOpen(saved->Ref()));
  EXPECT_EQ(gQuittingTime, 0);
}

} // namespace
