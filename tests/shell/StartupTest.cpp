#include "shell/Startup.h"
#include "shell/QtHostServices.h"
#include "shell/StatusWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "ShellApp.h"

TEST(Startup, NumbersPrintWithADecimalPointUnderACommaLocale) {
  App();
  char text[32];
  std::snprintf(text, sizeof text, "%f", 1.5);
  ASSERT_STREQ(text, "1,500000") << "the comma locale did not take; is locales-all installed?";
  InstallProgramLocale();
  std::snprintf(text, sizeof text, "%f", 1.5);
  EXPECT_STREQ(text, "1.500000");
  double value = 0;
  EXPECT_EQ(std::sscanf("2.25", "%lf", &value), 1);
  EXPECT_EQ(value, 2.25);
}

TEST(Startup, NoDisplayIsOneClearLine) {
  const char *saved[3] = {getenv("QT_QPA_PLATFORM"), getenv("DISPLAY"), getenv("WAYLAND_DISPLAY")};
  std::string copies[3];
  for (int i = 0; i < 3; ++i)
    if (saved[i])
      copies[i] = saved[i];
  unsetenv("QT_QPA_PLATFORM");
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  std::string why;
  EXPECT_FALSE(DisplayAvailable(why));
  EXPECT_NE(why.find("QT_QPA_PLATFORM=offscreen"), std::string::npos);
  EXPECT_NE(why.find("xvfb-run"), std::string::npos);
  EXPECT_EQ(why.find('\n'), std::string::npos);
  setenv("DISPLAY", ":0", 1);
  EXPECT_TRUE(DisplayAvailable(why));
  unsetenv("DISPLAY");
  const char *names[3] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
  for (int i = 0; i < 3; ++i)
    if (saved[i])
      setenv(names[i], copies[i].c_str(), 1);
}

namespace {

std::vector<StatusWindow *> StatusWindows() {
  std::vector<StatusWindow *> found;
  for (QWidget *w : QApplication::topLevelWidgets())
    if (auto *s = qobject_cast<StatusWindow *>(w))
      found.push_back(s);
  return found;
}

} // namespace

TEST(QtHost, StatusWindowTimersAndLogSink) {
  App();
  QtHostServices host;
  HostServices *previous = SetHostServices(&host);

  // Status: the window shows the message with a determinate bar. The
  // host's window is the one its report made, whatever other hosts left.
  const std::vector<StatusWindow *> before = StatusWindows();
  host.StatusShow("Generating cell", 42.0f);
  StatusWindow *status = nullptr;
  for (StatusWindow *s : StatusWindows())
    if (std::find(before.begin(), before.end(), s) == before.end())
      status = s;
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->Message(), "Generating cell");
  EXPECT_EQ(status->Value(), 420);
  host.StatusShow("Bonds", -1.0f);
  EXPECT_TRUE(status->Indeterminate());
  host.StatusHide();

  // Timers: re-arming postpones; the procedure runs once.
  int fired = 0;
  EventLoopTimer timer{"t", [&] { ++fired; }};
  SetEventLoopTimerNextFireTime(timer, 0.05);
  SetEventLoopTimerNextFireTime(timer, 0.10);
  QTest::qWait(60);
  EXPECT_EQ(fired, 0);
  QTest::qWait(150);
  EXPECT_EQ(fired, 1);

  // The Log: nothing until a pane is attached.
  FWrite("dropped");
  std::string seen;
  host.AttachLog([&](std::string_view t, const RGBColor &, size_t) { seen.append(t); }, [] { return false; });
  FWrite("kept");
  EXPECT_EQ(seen, "kept\r");
  SetHostServices(previous);
}

// A host's status window, hidden or showing, goes with the host: none is
// left for a later turn of the event loop to take down.
TEST(QtHost, NoStatusWindowOutlivesItsHost) {
  App();
  const size_t before = StatusWindows().size();
  {
    QtHostServices host;
    HostServices *previous = SetHostServices(&host);
    host.StatusShow("Keeping the state for Undo...", -1.0f);
    host.StatusHide();
    host.StatusShow("Keeping the state for Undo...", -1.0f);
    SetHostServices(previous);
  }
  EXPECT_EQ(StatusWindows().size(), before);
}

// Work on another thread hands its results back through the event loop:
// they run on the main thread, in the order they were posted.
TEST(QtHost, PostedCallsRunOnTheMainThreadInOrder) {
  App();
  QtHostServices host;
  HostServices *previous = SetHostServices(&host);
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i)
      PostToMainThread([&order, &threads, i] {
        order.push_back(i);
        threads.push_back(std::this_thread::get_id());
      });
  });
  worker.join();
  EXPECT_TRUE(order.empty()); // nothing runs before the event loop does
  QTest::qWait(20);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  for (std::thread::id id : threads)
    EXPECT_EQ(id, std::this_thread::get_id());
  SetHostServices(previous);
}

// A long search checks the cancel key often: each check returns at once,
// the key is seen, and no click or close reaches a window until the search
// has returned to the event loop.
TEST(QtHost, CancelChecksHoldUserInputBackUntilTheSearchEnds) {
  App();
  QtHostServices host;
  HostServices *previous = SetHostServices(&host);
  QPushButton button("Search");
  int clicks = 0;
  QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
  button.show();
  QCoreApplication::processEvents();

  const QPoint centre = button.rect().center();
  QCoreApplication::postEvent(&button, new QCloseEvent);
  QCoreApplication::postEvent(&button, new QMouseEvent(QEvent::MouseButtonPress, centre, button.mapToGlobal(centre),
                                                       Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
  QCoreApplication::postEvent(&button, new QMouseEvent(QEvent::MouseButtonRelease, centre, button.mapToGlobal(centre),
                                                       Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
  int cancels = 0;
  for (int i = 0; i < 200; ++i) {
    if (i == 100)
      QCoreApplication::postEvent(&button, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    cancels += MyCheckForUserCancelEvent();
    ASSERT_TRUE(button.isVisible()) << "closed during the search, at check " << i;
  }
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(clicks, 0);

  QTest::qWait(20); // back in the event loop: the close request is handled
  EXPECT_FALSE(button.isVisible());
  SetHostServices(previous);
}

#include "shell/EngineHooks.h"
#include "structurewindow/MainWindow.h"

#include "BuildPipeline.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

TEST(Startup, TheStructureWindowIsReachableFromTheEngine) {
  App();
  QtHostServices host;
  HostServices *previous = SetHostServices(&host);
  std::unique_ptr<MainWindow> window;
  InstallEngineHooks(host,
                     [&] { return window ? std::vector<MainWindow *>{window.get()} : std::vector<MainWindow *>{}; });
  EXPECT_TRUE(host.UnwiredHooks().empty());
  window = std::make_unique<MainWindow>();
  window->show();
  EXPECT_EQ(window->windowTitle(), "Graphics");
  ASSERT_NE(GetWindowCrystal(window->Ref()), nullptr);
  EXPECT_FALSE(IsWindowFileOpen(window->Ref()));

  Rect bounds;
  GetWindowGraphBounds(window->Ref(), &bounds);
  EXPECT_GT(bounds.right - bounds.left, 0);
  EXPECT_GT(bounds.bottom - bounds.top, 0);
  OVWindowRecord stranger;
  GetWindowGraphBounds(&stranger, &bounds);
  EXPECT_EQ(bounds, Rect{});

  host.CloseWindow(window->Ref());
  EXPECT_FALSE(window->isVisible());
  window.reset();
  // What the close left waiting runs while this host is still there.
  QCoreApplication::processEvents();
  SetHostServices(previous);
}
