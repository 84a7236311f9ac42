// Connects the engine to the program's structure windows.
#pragma once

#include <functional>
#include <vector>

class MainWindow;
class QtHostServices;

// Installs the engine's start-up state (preferences, blank templates,
// timers, the symmetry-consent hook) and tells the host how to reach the
// structure windows: `windows` lists them, front first.
void InstallEngineHooks(QtHostServices &host, std::function<std::vector<MainWindow *>()> windows);
