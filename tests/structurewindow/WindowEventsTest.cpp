// The structure window's events as a user meets them: closing with Ctrl,
// the window buttons in full screen, the contextual click, the info tip when
// the mouse leaves, the window's size while a movie records, the frames of a
// rotation movie, and the panes of small windows.
#include "structurewindow/InfoTip.h"
#include "structurewindow/InfoTool.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "structurewindow/WindowInput.h"
#include "structurewindow/AnnotationEditing.h"
#include "export/MovieWindows.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/ShellDialogs.h"

#include "Preferences.h"
#include "export/MovieRecording.h"
#include "export/VideoRecorder.h"
#include "render/OffScreen.h"
#include "window/MainWindowData.h"

#include "AnsweringDialogs.h"
#include "ProgramEnvironment.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

RecordingHost *Host() { return dynamic_cast<RecordingHost *>(GetHostServices()); }


// The frames of a movie, decoded by ffmpeg as RGB; empty when it cannot.
std::vector<QByteArray> MovieFrames(const fs::path &file, QSize size) {
  QProcess ffmpeg;
  ffmpeg.start("ffmpeg", {"-v", "error", "-i", QString::fromStdString(file.string()), "-f", "rawvideo", "-pix_fmt",
                          "rgb24", "-"});
  if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
    return {};
  const QByteArray all = ffmpeg.readAllStandardOutput();
  const qsizetype frame = qsizetype(size.width()) * size.height() * 3;
  std::vector<QByteArray> frames;
  for (qsizetype at = 0; frame > 0 && at + frame <= all.size(); at += frame)
    frames.push_back(all.mid(at, frame));
  return frames;
}

class WindowEventsTest : public ::testing::Test {
protected:
  void SetUp() override {
    // The close button of the last structure window quits: each test
    // starts with the program running.
    gQuittingTime = 0;
    previous = &GetShellDialogs();
    SetShellDialogs(&dialogs);
    Host()->alerts.clear();
    // A window of its own keeps the program from quitting when the last
    // structure window closes.
    keeper.show();
  }
  void TearDown() override {
    if (MovieIsRolling())
      DoStopRecordingVideo();
    if (gFillScreen)
      DoExitFullScreen();
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows())) {
      ClearWindowModified(w->Ref());
      DoCloseMainWindow(w->Ref());
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetShellDialogs(previous);
    ProcessCommand(FourCharsToLong("RotT"));
  }
  MainWindow *Open(const char *name, QSize content = QSize(640, 480)) {
    if (!OpenFSRefInWindow(ExamplesFolder() / name, nullptr))
      return nullptr;
    QCoreApplication::processEvents();
    MainWindow *w = GetMainWindow(FrontGraphWindow());
    w->ResizeContent(content.width(), content.height());
    w->show();
    QCoreApplication::processEvents();
    return w;
  }
  static void Mouse(QWidget *target, QEvent::Type type, QPoint at, Qt::KeyboardModifiers mods,
                    Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, at, target->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : button, held, mods);
    QApplication::sendEvent(target, &e);
  }
  static void CloseMenu() {
    if (QWidget *popup = QApplication::activePopupWidget())
      popup->close();
    QCoreApplication::processEvents();
  }
  fs::path Temp(const char *name) const { return fs::path(folder.path().toStdString()) / name; }

  QTemporaryDir folder;
  AnsweringDialogs dialogs;
  ShellDialogs *previous = nullptr;
  QWidget keeper;
};

TEST_F(WindowEventsTest, CtrlOnTheCloseButtonClosesWithoutTheSaveQuestion) {
  MainWindow *w = Open("Quartz.ovtx");
  ASSERT_NE(w, nullptr);
  OVSetWindowModified(w->Ref());
  QTest::keyPress(w->windowHandle(), Qt::Key_Control, Qt::ControlModifier);
  w->close();
  QTest::keyRelease(w->windowHandle(), Qt::Key_Control, Qt::NoModifier);
  EXPECT_EQ(dialogs.asked, 0);
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(IsWindowFileOpen(w->Ref()));
}

TEST_F(WindowEventsTest, InFullScreenMaximiseAndMinimiseOnlyBeep) {
  MainWindow *w = Open("Rutile.ovtx");
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(ProcessCommand(kCmdFillScreen), kNoErr);
  ASSERT_TRUE(gFillScreen);
  const int beeps = Host()->beeps;
  ProcessCommand(FourCharsToLong("ZooW"));
  w->windowHandle()->setWindowState(Qt::WindowMinimized); // the window manager's button
  QCoreApplication::processEvents();
  EXPECT_FALSE(w->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized));
  EXPECT_EQ(Host()->beeps, beeps + 2);
}

TEST_F(WindowEventsTest, CtrlClickOpensTheMenuAndCtrlDragStillZoomsTheTrackball) {
  MainWindow *w = Open("NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  ProcessCommand(FourCharsToLong("ArwT"));
  const QPoint centre = w->GraphPane()->rect().center();
  Mouse(w->GraphPane(), QEvent::MouseButtonPress, centre, Qt::ControlModifier);
  Mouse(w->GraphPane(), QEvent::MouseButtonRelease, centre, Qt::ControlModifier);
  EXPECT_NE(qobject_cast<QMenu *>(QApplication::activePopupWidget()), nullptr) << "graph pane";
  CloseMenu();
  auto *list = w->AtomsContainer()->findChild<QTreeView *>();
  ASSERT_NE(list, nullptr);
  Mouse(list->viewport(), QEvent::MouseButtonPress, QPoint(20, 10), Qt::ControlModifier);
  EXPECT_NE(qobject_cast<QMenu *>(QApplication::activePopupWidget()), nullptr) << "site list";
  CloseMenu();

  // With the rotate tool Ctrl-drag zooms, as the trackball has it.
  ProcessCommand(FourCharsToLong("RotT"));
  const float scale = GetWindowCrystal(w->Ref())->plotScale;
  QTest::keyPress(w->windowHandle(), Qt::Key_Control, Qt::ControlModifier);
  Mouse(w->GraphPane(), QEvent::MouseButtonPress, centre, Qt::ControlModifier);
  Mouse(w->GraphPane(), QEvent::MouseMove, centre + QPoint(0, -40), Qt::ControlModifier);
  Mouse(w->GraphPane(), QEvent::MouseButtonRelease, centre + QPoint(0, -40), Qt::ControlModifier);
  QTest::keyRelease(w->windowHandle(), Qt::Key_Control, Qt::NoModifier);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  EXPECT_NE(GetWindowCrystal(w->Ref())->plotScale, scale);
  CloseMenu();
}

TEST_F(WindowEventsTest, TheInfoTipGoesWhenTheMouseLeavesForAMenuAndHidesBehindADialog) {
  MainWindow *w = Open("Benzene.ovtx");
  ASSERT_NE(w, nullptr);
  WindowRef window = w->Ref();
  ASSERT_NE(CreateInfoTipOverlay(window, 0), nullptr);
  Host()->pointer = Point{-4, 30}; // on the menu bar, above the content
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(w->GraphPane(), &leave);
  Host()->pointer.reset();
  EXPECT_EQ(GetWindowInfoTip(window), nullptr);
  // Nor does the tip's timer bring it back over an open menu.
  const CrystalRec *c = GetWindowCrystal(window);
  const QPoint atom = w->GraphPane()->geometry().topLeft() + QPoint(c->atoms[0].pixel[0], c->atoms[0].pixel[1]);
  Host()->pointer = Point{int16_t(atom.y()), int16_t(atom.x())};
  QMenu menu;
  menu.addAction("item");
  menu.popup(w->mapToGlobal(atom));
  WriteAtomInfoTimerProc(0);
  menu.close();
  Host()->pointer.reset();
  EXPECT_EQ(GetWindowInfoTip(window), nullptr);

  InfoTipWidget *tip = CreateInfoTipOverlay(window, 0);
  ASSERT_NE(tip, nullptr);
  ASSERT_TRUE(tip->isVisible());
  QEvent deactivate(QEvent::WindowDeactivate);
  QApplication::sendEvent(w, &deactivate);
  EXPECT_FALSE(tip->isVisible());
}

TEST_F(WindowEventsTest, AWindowKeepsItsSizeWhileTheRecorderRecordsAndTheCounterCountsFramesWritten) {
  MainWindow *w = Open("Rutile.ovtx");
  ASSERT_NE(w, nullptr);
  dialogs.saveFile = Temp("ovheld.mov");
  ASSERT_EQ(ProcessCommand(kCmdShowVideoRecorder), kNoErr);
  auto *record = qobject_cast<QAbstractButton *>(VideoWindow()->Control(1));
  auto *stop = qobject_cast<QAbstractButton *>(VideoWindow()->Control(3));
  ASSERT_TRUE(record && stop);
  const QSize minimum = w->minimumSize();
  record->click();
  ASSERT_TRUE(gRecordingVideo);
  const QSize size = w->size();
  w->ResizeContent(w->LaidOutSize().width() + 100, w->LaidOutSize().height() + 60);
  QCoreApplication::processEvents();
  EXPECT_EQ(w->size(), size);
  ProcessCommand(FourCharsToLong("RotT"));
  for (int i = 0; i < 3; ++i)
    QTest::keyClick(w->GraphPane(), Qt::Key_Left);
  const uint32_t counted = gFrameNum;
  EXPECT_GE(counted, 4u);
  stop->click();
  ASSERT_FALSE(gRecordingVideo);
  Rect bounds;
  GetWindowOffBounds(w->Ref(), &bounds);
  const QSize frame(bounds.right - bounds.left, bounds.bottom - bounds.top);
  EXPECT_EQ(MovieFrames(dialogs.saveFile, frame).size(), counted);

  // Once the movie is written the window resizes again, within its limits.
  w->ResizeContent(w->LaidOutSize().width() + 100, w->LaidOutSize().height());
  QCoreApplication::processEvents();
  EXPECT_EQ(w->size().width(), size.width() + 100);
  EXPECT_EQ(w->minimumSize(), minimum);

  // A picture that changes size all the same (the divider is dragged) ends
  // the movie with the frames it has, and says so.
  dialogs.saveFile = Temp("ovstopped.mov");
  record->click();
  ASSERT_TRUE(gRecordingVideo);
  GetWindowOffBounds(w->Ref(), &bounds);
  const QSize before(bounds.right - bounds.left, bounds.bottom - bounds.top);
  const uint32_t first = gFrameNum;
  const QPoint grip = w->Divider()->rect().center();
  Mouse(w->Divider(), QEvent::MouseButtonPress, grip, Qt::NoModifier);
  Mouse(w->Divider(), QEvent::MouseMove, grip + QPoint(30, 0), Qt::NoModifier);
  Mouse(w->Divider(), QEvent::MouseButtonRelease, grip + QPoint(30, 0), Qt::NoModifier);
  QCoreApplication::processEvents();
  EXPECT_FALSE(gRecordingVideo);
  EXPECT_FALSE(MovieIsRolling());
  ASSERT_FALSE(Host()->alerts.empty());
  EXPECT_EQ(Host()->alerts.back().message, "Movie recording stopped");
  EXPECT_EQ(MovieFrames(dialogs.saveFile, before).size(), first);
}

TEST_F(WindowEventsTest, RotationMovieFramesCarryNoSelectionMarks) {
  MainWindow *w = Open("Rutile.ovtx");
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(ProcessCommand(kCmdAddAnnotationTextbox), kNoErr);
  auto record = [&](const char *name) {
    dialogs.saveFile = Temp(name);
    ASSERT_EQ(ProcessCommand(kCmdExportRotationMovie), kNoErr);
    RotationMovieDialog *dialog = GetRotationMovieOptions();
    ASSERT_NE(dialog, nullptr);
    qobject_cast<QLineEdit *>(dialog->Control(1))->setText("1");
    qobject_cast<QLineEdit *>(dialog->Control(8))->setText("1");
    dialog->Command(FourCharsToLong("ok  "));
    QCoreApplication::processEvents();
  };
  // A full turn in floats is not quite the identity: the two movies compared
  // start where a first full turn leaves the structure.
  record("ovfirst.mov");
  record("ovselected.mov");
  QTest::keyClick(w->GraphPane(), Qt::Key_Return); // deselects the text box
  record("ovplain.mov");
  Rect bounds;
  GetWindowOffBounds(w->Ref(), &bounds);
  const QSize frame(bounds.right - bounds.left, bounds.bottom - bounds.top);
  const std::vector<QByteArray> selected = MovieFrames(Temp("ovselected.mov"), frame);
  const std::vector<QByteArray> plain = MovieFrames(Temp("ovplain.mov"), frame);
  ASSERT_EQ(selected.size(), 1u);
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_TRUE(selected[0] == plain[0]);
}

// The width the site list wants for its columns, their titles whole.
int SiteListWanted(MainWindow *w) {
  auto *list = w->AtomsContainer()->findChild<QTreeView *>();
  int wanted = 2 * list->frameWidth() + list->indentation() + list->verticalScrollBar()->sizeHint().width();
  for (int column = 0; column < list->header()->count(); ++column)
    if (!list->header()->isSectionHidden(column))
      wanted += list->header()->sectionSizeHint(column);
  return wanted;
}

TEST_F(WindowEventsTest, ASmallWindowKeepsMostOfItsWidthForThePlotAndTheSiteListItsShareOfTheHeight) {
  MainWindow *w = Open("Quartz.ovtx");
  ASSERT_NE(w, nullptr);
  if (!IsWindowShowingSidebar(w->Ref()))
    ShowSidebar(w->Ref());
  const double share = double(w->Panes().atoms.Height()) / w->Panes().notes.Height();
  for (QSize size : {QSize(480, 360), QSize(600, 500)}) {
    w->ResizeContent(size.width(), size.height());
    QCoreApplication::processEvents();
    ASSERT_EQ(w->LaidOutSize(), size);
    const PaneLayout &p = w->Panes();
    EXPECT_GT(p.graph.Width(), size.width() / 2) << size.width();
    EXPECT_EQ(p.graph.right, p.divider.left);
    EXPECT_NEAR(double(p.atoms.Height()) / p.notes.Height(), share, 0.05) << size.height();
  }
  // Back in a large window the sidebar has its width again.
  w->ResizeContent(1000, 700);
  QCoreApplication::processEvents();
  EXPECT_EQ(w->Panes().atoms.Width(), GetWindowSidebarWidth(w->Ref()));
}

TEST_F(WindowEventsTest, AWindowOnSavedPreferencesHasRoomForEveryColumnOfTheSiteList) {
  const PrefsRecord saved = gPrefs; // only its window fields go back
  // Preferences saved with a narrow sidebar, by a session before the
  // sidebar was fitted to its list.
  gPrefs.windowBounds = Rect{40, 40, 40 + 700, 40 + 790};
  gPrefs.windowSettingsRecorded = 1;
  gPrefs.sidebarWidth = 240;
  gPrefs.showSidebar = gPrefs.showAtoms = gPrefs.showNotes = 1;
  for (MainWindow *m : std::vector<MainWindow *>(AllGraphWindows()))
    delete m;
  ASSERT_NE(OpenMainWindow("Graphics", true), nullptr);
  MainWindow *w = Open("Quartz.ovtx", QSize(790, 640));
  gPrefs.windowBounds = saved.windowBounds;
  gPrefs.windowSettingsRecorded = saved.windowSettingsRecorded;
  gPrefs.sidebarWidth = saved.sidebarWidth;
  gPrefs.showSidebar = saved.showSidebar;
  gPrefs.showAtoms = saved.showAtoms;
  gPrefs.showNotes = saved.showNotes;
  ASSERT_NE(w, nullptr);
  auto *list = w->AtomsContainer()->findChild<QTreeView *>();
  EXPECT_GE(w->Panes().atoms.Width(), std::min(SiteListWanted(w), kMaxSidebarWidth));
  EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
}

} // namespace
