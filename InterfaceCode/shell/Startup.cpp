#include "Startup.h"

#include "LogStore.h"
#include "Preferences.h"
#include "documents/PrefsFile.h"

#include <clocale>
#include <cstdlib>

bool DisplayAvailable(std::string &why) {
  auto set = [](const char *name) {
    const char *value = std::getenv(name);
    return value && *value;
  };
  if (set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY"))
    return true;
  why = "Orvalisphere: no display found (DISPLAY and WAYLAND_DISPLAY are unset); "
        "run it inside a desktop session, or try QT_QPA_PLATFORM=offscreen or xvfb-run.";
  return false;
}

void InstallProgramLocale() {
  setenv("LC_NUMERIC", "C", 1);
  std::setlocale(LC_NUMERIC, "C");
}

void ReadPreferencesAtStartup() {
  gPrefs = gFactoryPrefs;
  ReadPrefsFile();
  // The Log takes the text style the preferences name (checked on reading).
  if (LogStore *log = GetLogStore())
    log->SetDefaultFont(QString::fromUtf8(gPrefs.logFontName.view().data(), gPrefs.logFontName.len),
                        gPrefs.logFontSize);
}
