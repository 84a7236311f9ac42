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
