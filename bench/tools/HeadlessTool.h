// The start the headless tools share: an off-screen Qt application, the
// host installed, the render services and the program's globals set, one
// structure window's record ready on the host.
#pragma once

#include "HeadlessHost.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "memory/HeapReuse.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QGuiApplication>

#include <cstdlib>

// Made first thing in a tool's main(); `pane` is the graph pane's size.
class HeadlessTool {
public:
  HeadlessTool(int &argc, char **argv, Rect pane) : app(argc, argv) {
    SetHostServices(&host);
    InstallRenderServices();
    InitOVGlobals();
    InitMainWindowData(&record);
    host.window = &record;
    host.pane = pane;
  }

  // The heap keeps freed memory as the program's does, and the platform is
  // chosen before the application is made, unless the environment chose one.
  const bool heap = (ovmem::KeepFreedMemoryForReuse(), true);
  const bool offscreen = setenv("QT_QPA_PLATFORM", "offscreen", 0) == 0;
  QGuiApplication app;
  HeadlessHost host;
  OVWindowRecord record;
};
