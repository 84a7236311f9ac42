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
