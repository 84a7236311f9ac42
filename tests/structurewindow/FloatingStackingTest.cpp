// The floating windows belong to the structure window in front: the window
// manager keeps a window above the one it is transient for, and no higher,
// so they stay over every structure window and under other programs'. A
// window it shows already learns its new owner from the window system's
// record, which the test reads in the calls made to it. The program's
// questions come above them all; the status window gives way to them.
#include "ExampleWindowsTest.h"

#include "shell/FloatingWindowStacking.h"
#include "shell/StatusWindow.h"

#include "HostServices.h"
#include "LongCommand.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWindow>
#include <map>

namespace {

class FloatingStacking : public ExampleWindowsTest {
protected:
  void SetUp() override {
    ExampleWindowsTest::SetUp();
    previousCalls_ = SetWindowStackingCalls({[this](QWindow *window, QWindow *owner) { linked[window] = owner; },
                                             [this](QWidget *window) { raised.push_back(window); }});
  }
  void TearDown() override {
    for (QWidget *w : ShownFloatingWindows())
      w->hide();
    SetWindowStackingCalls(previousCalls_);
    ExampleWindowsTest::TearDown();
  }
  static std::vector<QWidget *> ShownFloatingWindows() {
    std::vector<QWidget *> out;
    for (QWidget *w : QApplication::topLevelWidgets())
      if (w->isVisible() && w->windowType() == Qt::Tool && !w->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        out.push_back(w);
    return out;
  }
  // The window comes to the front, as a click in it makes it.
  static void Click(MainWindow *w) {
    w->show();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    QCoreApplication::processEvents();
  }
  // Where the window came last among the raises asked for; -1 if never.
  int LastRaise(const QWidget *w) const {
    for (int i = int(raised.size()) - 1; i >= 0; i--)
      if (raised[size_t(i)] == w)
        return i;
    return -1;
  }

  std::map<QWindow *, QWindow *> linked; // the owner last recorded for each shown window
  std::vector<QWidget *> raised;

private:
  WindowStackingCalls previousCalls_;
};

TEST_F(FloatingStacking, FloatingWindowsFollowTheStructureWindowClickedIn) {
  MainWindow *first = Open("NaCl.ovtx");
  ASSERT_NE(first, nullptr);
  Click(first);
  // (The Overview is one more of them; a test of start-up wants it unmade.)
  for (uint32_t command : {FourCharsToLong("MOpt"), kCmdEditElements, kCmdPlotRange})
    ProcessCommand(command);
  QCoreApplication::processEvents();
  ASSERT_GE(ShownFloatingWindows().size(), 3u);
  MainWindow *second = Open("Rutile.ovtx");
  ASSERT_NE(second, first);

  for (MainWindow *front : {second, first, second}) {
    Click(front);
    for (QWidget *w : ShownFloatingWindows()) {
      ASSERT_NE(w->windowHandle(), nullptr);
      EXPECT_EQ(w->windowHandle()->transientParent(), front->windowHandle());
      EXPECT_EQ(linked[w->windowHandle()], front->windowHandle())
          << w->windowTitle().toStdString() << " on screen stays above " << front->windowTitle().toStdString();
    }
  }
}

TEST_F(FloatingStacking, ASheetComesAboveTheFloatingWindows) {
  MainWindow *other = Open("Rutile.ovtx");
  MainWindow *w = Open("NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  ASSERT_NE(other, w);
  Click(w);
  ProcessCommand(FourCharsToLong("MOpt"));
  ProcessCommand(kCmdEditElements);
  QCoreApplication::processEvents();
  const std::vector<QWidget *> floating = ShownFloatingWindows();
  ASSERT_GE(floating.size(), 2u);

  // As it opens, and when its window is clicked in again later.
  raised.clear();
  ASSERT_EQ(ProcessCommand(kCmdPlotScale), kNoErr);
  QCoreApplication::processEvents();
  QDialog *sheet = OpenSheet(w);
  ASSERT_NE(sheet, nullptr);
  for (const char *when : {"opened", "clicked again"}) {
    SCOPED_TRACE(when);
    const int top = LastRaise(sheet);
    ASSERT_GE(top, 0);
    for (QWidget *f : floating)
      EXPECT_LT(LastRaise(f), top) << f->windowTitle().toStdString() << " over the sheet";
    raised.clear();
    Click(other);
    Click(w);
  }
  sheet->close();
}

TEST_F(FloatingStacking, TheStatusWindowGivesWayToTheQuitQuestion) {
  MainWindow *w = Open("NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  OVSetWindowModified(w->Ref());
  SetShellDialogs(nullptr); // the program's own question
  // A long task shows its status when the user asks to quit.
  const LongCommand task;
  WriteStatus("Drawing the structure...");
  QTest::qWait(int(kStatusOpenDelay * 1000) + 50);
  WriteStatus("Drawing the structure...");
  auto statusShown = [] {
    for (QWidget *s : QApplication::topLevelWidgets())
      if (qobject_cast<StatusWindow *>(s) && s->isVisible())
        return true;
    return false;
  };
  ASSERT_TRUE(statusShown());

  bool asked = false, statusWhileAsked = true;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box)
      return;
    answer.stop();
    asked = true;
    statusWhileAsked = statusShown();
    for (QAbstractButton *b : box->buttons())
      if (b->text() == "Cancel")
        b->click();
  });
  answer.start(5);
  ProcessCommand(kCmdQuit);
  EXPECT_TRUE(asked);
  EXPECT_FALSE(statusWhileAsked);
  ClearWindowModified(w->Ref());
}

} // namespace
