// makedocument: reads a structure file, builds and plots it off screen and
// writes it as a native document with its preview picture. Makes the
// sample documents of resources/Demo Files (tools/make_demo_files).
//
//   makedocument FILE OUT.ovdf|OUT.ovmf

#include "BuildPipeline.h"
#include "HostServices.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "documents/CrystalDocument.h"
#include "export/PictureServices.h"
#include "import/ImportPath.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include "HeadlessHost.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: makedocument FILE OUT.ovdf|OUT.ovmf\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  HeadlessHost host;
  SetHostServices(&host);
  InstallRenderServices();
  InitOVGlobals();
  InstallWindowPreviewHook();

  OVWindowRecord record;
  InitMainWindowData(&record);
  host.window = &record;
  host.pane = Rect{0, 0, int16_t(kDocumentPreviewHeight), int16_t(kDocumentPreviewWidth)};
  if (!OpenTextFile(&record, argv[1])) {
    std::fprintf(stderr, "makedocument: %s could not be read\n", argv[1]);
    return 1;
  }
  SetWindowFileOpen(&record, true);
  ResetOffScreen(&record);
  RenderSpheres(GetWindowCrystal(&record));
  PlotCrystal(&record, kPlotToWindow);
  const bool ok = DoWriteCrystalFile(&record, argv[2]);
  DestroyMainWindowData(&record);
  SetHostServices(nullptr);
  if (!ok) {
    std::fprintf(stderr, "makedocument: %s could not be written\n", argv[2]);
    return 1;
  }
  return 0;
}
