// autorotate: a developer's tool that opens a structure in a structure
// window of the given content size and lets it auto-rotate one full turn on
// the real event loop, then prints the turn's Log line (frames per second
// against the 30 frames/s cap).
//
//   autorotate FILE [--size WxH] [--step DEGREES]
//
// Run it offscreen: QT_QPA_PLATFORM=offscreen autorotate big.ovtx

#include "shell/FileCommands.h"
#include "shell/LogStore.h"
#include "shell/Startup.h"
#include "structurewindow/AutoRotate.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "StructureArrays.h"
#include "memory/HeapReuse.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char **argv) {
  ovmem::KeepFreedMemoryForReuse();
  QApplication app(argc, argv);
  InstallProgramLocale();
  QApplication::setQuitOnLastWindowClosed(false);
  const QStringList args = QApplication::arguments();
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: autorotate FILE [--size WxH] [--step DEGREES]\n");
    return 2;
  }
  int width = 1000, height = 800;
  float step = 7.2f;
  for (qsizetype i = 2; i + 1 < args.size(); i += 2) {
    if (args[i] == "--size") {
      const QStringList wh = args[i + 1].split('x');
      width = wh.value(0).toInt(), height = wh.value(1).toInt();
    } else if (args[i] == "--step") {
      step = args[i + 1].toFloat();
    }
  }
  if (!OVInitialize({args[1].toStdString()}))
    return 1;
  MainWindow *w = GetMainWindow(FrontGraphWindow());
  if (!w || !IsWindowFileOpen(w->Ref()))
    return 1;
  HideSidebar(w->Ref());
  w->ResizeContent(width, height);
  QCoreApplication::processEvents();
  int32_t objects = 0;
  GetCrystalSortIndex(GetWindowCrystal(w->Ref()), &objects);
  std::printf("%d objects, graph pane %dx%d\n", objects, w->GraphPane()->width(), w->GraphPane()->height());
  DoAutoRotate(w->Ref(), 0, step, 0, true, false, 0);
  QTimer poll;
  // The turn changed the orientation the document stores: the window holds
  // unsaved changes, and a quit that closes the windows would ask about them.
  // The tool leaves the event loop without closing anything.
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!IsWindowAutoRotating(w->Ref()))
      QCoreApplication::exit(0);
  });
  poll.start(20);
  QApplication::exec();
  const QStringList lines = GetLogStore()->PlainText().split('\r');
  for (const QString &line : lines)
    if (line.startsWith("Auto rotation through"))
      std::printf("%s\n", line.toUtf8().constData());
  return 0;
}
