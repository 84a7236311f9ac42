// Orvalisphere: start-up, then the event loop.
#include "MainWindow.h"
#include "QtHostServices.h"
#include "Startup.h"

#include <QApplication>
#include <cstdio>

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

  MainWindow window;
  host.SetWindowList([&window] { return std::vector<WindowRef>{window.Ref()}; });
  window.show();
  gStartupDone = 1;

  int result = app.exec();
  SetHostServices(nullptr);
  return result;
}
