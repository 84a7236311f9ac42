#include "EngineHooks.h"

#include "MainWindow.h"

#include "BuildPipeline.h"
#include "CellTransform.h"
#include "Preferences.h"
#include "render/PlotPipeline.h"

#include <QGuiApplication>

namespace {

std::function<std::vector<MainWindow *>()> gWindows;

MainWindow *WindowFor(WindowRef window) {
  if (!window || !gWindows)
    return nullptr;
  for (MainWindow *w : gWindows())
    if (w->Ref() == window)
      return w;
  return nullptr;
}

} // namespace

void InstallEngineHooks(std::function<std::vector<MainWindow *>()> windows) {
  gWindows = std::move(windows);
  gPrefs = gFactoryPrefs;
  InitOVGlobals();
  InstallRenderingReplotTimer();
  InstallDiscardSymmetryConsent();

  gPlotWindowServices.graphBounds = [](WindowRef window, OVRect *bounds) {
    MainWindow *w = WindowFor(window);
    if (!w || !bounds)
      return false;
    QRect r = w->GraphPane()->geometry();
    bounds->top = static_cast<int16_t>(r.top());
    bounds->left = static_cast<int16_t>(r.left());
    bounds->bottom = static_cast<int16_t>(r.top() + r.height());
    bounds->right = static_cast<int16_t>(r.left() + r.width());
    return true;
  };
  gPlotWindowServices.mouseButtonDown = [] { return QGuiApplication::mouseButtons() != Qt::NoButton; };
  gShowWindowHook = [](WindowRef window) {
    if (MainWindow *w = WindowFor(window))
      w->show();
  };
  gCloseWindowHook = [](WindowRef window) {
    if (MainWindow *w = WindowFor(window))
      w->hide();
  };
  gWindowTitleHook = [](WindowRef window) {
    MainWindow *w = WindowFor(window);
    return w ? w->windowTitle().toStdString() : std::string();
  };
}
