// Display sleep and wake: every structure window's `displaySleeping` flag
// follows what the desktop says of its screens, where it says anything.
//
// Two notices count, each through D-Bus when its bus is there: the
// screen saver's ActiveChanged on the session bus (the screens blank and
// lock) and the login manager's PrepareForSleep on the system bus (the
// machine suspends). The screens sleep while either holds. Without a bus
// nothing is heard and the flag stays clear.
#pragma once

#include "HostServices.h"

#include <QDBusConnection>
#include <QObject>

class DisplaySleepWatcher : public QObject {
  Q_OBJECT
public:
  using QObject::QObject;
  // Listens on the buses that are connected; true when any listens.
  bool Watch(const QDBusConnection &session, const QDBusConnection &system);

public slots:
  void ScreenSaverActiveChanged(bool active);
  void PrepareForSleep(bool sleeping);

private:
  void Apply();
  bool screenSaverActive_ = false;
  bool systemSleeping_ = false;
};

// Starts listening on the desktop's own buses, once.
void StartDisplaySleepWatch();
// The watcher listening (null before the start).
DisplaySleepWatcher *GetDisplaySleepWatcher();
// True while the desktop has said the screens sleep.
bool DisplaysAsleep();
