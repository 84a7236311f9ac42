// Connects the engine to the program's structure windows.
#pragma once

#include <functional>
#include <vector>

class MainWindow;
class QtHostServices;

// Installs the engine's start-up state (blank templates and program
// globals, the renderer, the timers, the symmetry-consent hook), the
// window services the engine draws and reads through, and the structure
// window's command handler; `windows` lists the structure windows, front
// first. The preferences are read before this.
void InstallEngineHooks(QtHostServices &host, std::function<std::vector<MainWindow *>()> windows);
// The window services of a Qt host (window list and lookup, subtitles,
// floating-window refresh); InstallEngineHooks calls it for the program's
// host, and a test that swaps in a host of its own calls it for that one.
void InstallHostWindowHooks(QtHostServices &host, std::function<std::vector<MainWindow *>()> windows);
