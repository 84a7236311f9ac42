// Orvalisphere: start-up, then the event loop.
#include "EngineHooks.h"
#include "MainWindow.h"
#include "QtHostServices.h"
#include "Startup.h"
#include "relax/RelaxThread.h"

#include <QApplication>
#include <cstdio>
#include <memory>

int main(int argc, char **argv) {
  std::string why;
  if (!DisplayAvailable(why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  QApplication app(argc, argv);
  InstallProgramLocale();
  QApplication::setApplicationName("Orvalisphere");
  QApplication::setApplicationVersion("1.0.0");

  QtHostServices host;
  SetHostServices(&host);

  // The preferences and templates come first: a new window takes its
  // settings from them.
  std::unique_ptr<MainWindow> window;
  auto windows = [&window] { return window ? std::vector<MainWindow *>{window.get()} : std::vector<MainWindow *>{}; };
  InstallEngineHooks(host, windows);
  window = std::make_unique<MainWindow>();
  window->show();
  gStartupDone = 1;

  int result = app.exec();
  // No relaxation worker may outlive the windows and the host.
  StopAndJoinRelaxRuns();
  window.reset();
  SetHostServices(nullptr);
  return result;
}
