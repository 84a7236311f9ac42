// Connects the engine's window hooks to the program's structure windows.
#pragma once

#include <functional>
#include <vector>

class MainWindow;

// Installs the engine's start-up state (preferences, blank templates,
// timers, the symmetry-consent hook) and the window hooks that reach the
// structure windows through `windows` (front first).
void InstallEngineHooks(std::function<std::vector<MainWindow *>()> windows);
