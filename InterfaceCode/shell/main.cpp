// Orvalisphere: start-up, then the event loop.
#include "FileCommands.h"
#include "Startup.h"
#include "memory/HeapReuse.h"
#include "relax/RelaxThread.h"

#include <QApplication>
#include <QStringList>
#include <cstdio>

int main(int argc, char **argv) {
  ovmem::KeepFreedMemoryForReuse();
  std::string why;
  if (!DisplayAvailable(why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  QApplication app(argc, argv);
  InstallProgramLocale();
  QApplication::setApplicationName("Orvalisphere");
  QApplication::setApplicationVersion("1.0.0");
  QApplication::setQuitOnLastWindowClosed(false);

  std::vector<std::filesystem::path> files;
  QString screenshot;
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == "--screenshot" && i + 1 < arguments.size())
      screenshot = arguments[++i];
    else
      files.emplace_back(arguments[i].toStdString());
  }
  if (!screenshot.isEmpty()) {
    // A picture of the program as it starts, for the documentation: the
    // front window once the files are open, then the program ends.
    if (!OVInitialize(files))
      return 1;
    return SaveScreenshotAndExit(screenshot.toStdString());
  }
  // One program per user: a second launch hands its files over and ends.
  switch (ClaimSingleInstance(files)) {
  case SingleInstanceClaim::kRun:
    break;
  case SingleInstanceClaim::kHandedOver:
    return 0;
  case SingleInstanceClaim::kNoAnswer:
    std::fprintf(stderr, "Orvalisphere is already running but does not answer; the files were not opened.\n");
    return 1;
  }
  if (!OVInitialize(files))
    return 1;
  const int result = app.exec();
  // No relaxation worker may outlive the windows and the host.
  StopAndJoinRelaxRuns();
  return result;
}
