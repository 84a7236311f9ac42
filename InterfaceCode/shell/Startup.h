// Start-up steps that come before any window.
#pragma once

#include <string>

// True when Qt can reach a display (or an offscreen or other explicit
// platform was asked for). Otherwise `why` holds one line for the user.
bool DisplayAvailable(std::string &why);

// Qt takes the user's locale when the application object is made; numbers we
// print and read must always use a decimal point, so LC_NUMERIC goes back to
// "C" right after.
void InstallProgramLocale();

// The factory preferences, then the preferences file read over them (what
// is damaged in it said in the Log), and the Log's text style from them.
void ReadPreferencesAtStartup();
