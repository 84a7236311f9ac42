// Screen sleep and wake as the desktop announces them over D-Bus, on a
// private bus of the test's own.
#include "shell/FileCommands.h"
#include "structurewindow/DisplaySleep.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "window/MainWindowData.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class DisplaySleepTest : public ::testing::Test {
protected:
  void SetUp() override {
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000))
      GTEST_SKIP() << "no dbus-daemon to run a private bus";
    address = QString::fromUtf8(daemon.readLine()).trimmed();
    listener = QDBusConnection::connectToBus(address, "ovtest-listener");
    sender = QDBusConnection::connectToBus(address, "ovtest-sender");
    ASSERT_TRUE(listener.isConnected() && sender.isConnected());
    ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "NaCl.ovtx", nullptr));
    window = FrontGraphWindow();
  }
  void TearDown() override {
    if (window) {
      ClearWindowModified(window);
      DoCloseMainWindow(window);
    }
    QDBusConnection::disconnectFromBus("ovtest-listener");
    QDBusConnection::disconnectFromBus("ovtest-sender");
    daemon.kill();
    daemon.waitForFinished();
  }
  void Send(const char *path, const char *interface, const char *name, bool value) {
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
    signal << value;
    ASSERT_TRUE(sender.send(signal));
  }
  bool WaitForSleeping(bool sleeping) {
    return QTest::qWaitFor([&] { return IsWindowDisplaySleeping(window) == sleeping; }, 5000);
  }
  QProcess daemon;
  QString address;
  QDBusConnection listener{QString()}, sender{QString()};
  WindowRef window = nullptr;
};

TEST_F(DisplaySleepTest, ScreenSaverAndSystemSleepSetTheFlagUntilBothAreOver) {
  DisplaySleepWatcher watcher;
  // The login manager's notices come from its own name.
  ASSERT_TRUE(sender.registerService("org.freedesktop.login1"));
  ASSERT_TRUE(watcher.Watch(listener, listener));
  ASSERT_FALSE(IsWindowDisplaySleeping(window));

  Send("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", true);
  EXPECT_TRUE(WaitForSleeping(true));
  Send("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", true);
  Send("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", false);
  // Still asleep: the machine is suspending.
  QTest::qWait(100);
  EXPECT_TRUE(IsWindowDisplaySleeping(window));
  Send("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", false);
  EXPECT_TRUE(WaitForSleeping(false));
}

} // namespace
