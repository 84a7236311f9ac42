#include "EngineHooks.h"

#include "MainWindow.h"
#include "QtHostServices.h"

#include "CellTransform.h"
#include "Preferences.h"
#include "export/ExportGraphicsPanel.h"
#include "export/PictureServices.h"
#include "render/PlotPipeline.h"

void InstallEngineHooks(QtHostServices &host, std::function<std::vector<MainWindow *>()> windows) {
  gPrefs = gFactoryPrefs;
  InitOVGlobals();
  InstallRenderServices();
  InstallRenderingReplotTimer();
  InstallDiscardSymmetryConsent();
  InstallWindowPreviewHook();
  InstallExportGraphicsPanel();

  host.SetWindowList([windows] {
    std::vector<WindowRef> refs;
    for (MainWindow *w : windows())
      refs.push_back(w->Ref());
    return refs;
  });
  // The rounded subtitle box over the graph pane belongs to the structure
  // window's drawing, and the floating windows are the inspectors; neither
  // is built yet, so these do nothing for now.
  host.SetSubtitleDrawer([](WindowRef, std::string_view) {});
  host.SetFloatingWindowUpdater([] {});
  host.SetWindowLookup([windows](WindowRef window) -> MainWindow * {
    for (MainWindow *w : windows())
      if (w->Ref() == window)
        return w;
    return nullptr;
  });
}
