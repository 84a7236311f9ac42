#include "DisplaySleep.h"

#include "MainWindow.h"

#include "window/MainWindowData.h"

#include <QCoreApplication>

namespace {

DisplaySleepWatcher *gWatcher = nullptr;
bool gAsleep = false;

} // namespace

bool DisplaySleepWatcher::Watch(const QDBusConnection &session, const QDBusConnection &system) {
  bool listening = false;
  // Any sender: the screen saver's service name differs between desktops.
  if (session.isConnected())
    listening |= QDBusConnection(session).connect(QString(), "/org/freedesktop/ScreenSaver",
                                                  "org.freedesktop.ScreenSaver", "ActiveChanged", this,
                                                  SLOT(ScreenSaverActiveChanged(bool)));
  if (system.isConnected())
    listening |= QDBusConnection(system).connect("org.freedesktop.login1", "/org/freedesktop/login1",
                                                 "org.freedesktop.login1.Manager", "PrepareForSleep", this,
                                                 SLOT(PrepareForSleep(bool)));
  return listening;
}

void DisplaySleepWatcher::ScreenSaverActiveChanged(bool active) {
  screenSaverActive_ = active;
  Apply();
}

void DisplaySleepWatcher::PrepareForSleep(bool sleeping) {
  systemSleeping_ = sleeping;
  Apply();
}

void DisplaySleepWatcher::Apply() {
  gAsleep = screenSaverActive_ || systemSleeping_;
  for (MainWindow *w : AllGraphWindows()) {
    if (gAsleep)
      DoMainWindowDisplaySleep(w->Ref());
    else
      DoMainWindowDisplayWake(w->Ref());
  }
}

void StartDisplaySleepWatch() {
  if (gWatcher)
    return;
  gWatcher = new DisplaySleepWatcher(qApp);
  gWatcher->Watch(QDBusConnection::sessionBus(), QDBusConnection::systemBus());
}

DisplaySleepWatcher *GetDisplaySleepWatcher() { return gWatcher; }

bool DisplaysAsleep() { return gAsleep; }
