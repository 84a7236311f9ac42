#include "Printing.h"

#include "Commands.h"
#include "ShellDialogs.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "StructureArrays.h"
#include "export/PictureExport.h"
#include "graphics/QtBridge.h"
#include "render/RenderGlobals.h"
#include "window/MainWindowData.h"

#include <QAction>
#include <QPainter>
#include <QPrinter>
#include <algorithm>
#include <cmath>

namespace {

// The window's print info: a child of the window, so it goes with it.
class PrintInfo : public QObject {
public:
  using QObject::QObject;
  QPrinter printer{QPrinter::HighResolution};
};

const QString kPrintInfoName = QStringLiteral("printInfo");

bool CanPrint(WindowRef window) { return GetMainWindow(window) && IsWindowFileOpen(window) && GetWindowCrystal(window); }

} // namespace

QPrinter *MyCreatePrintInfoForWindow(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return nullptr;
  auto *info = dynamic_cast<PrintInfo *>(w->findChild<QObject *>(kPrintInfoName, Qt::FindDirectChildrenOnly));
  if (!info) {
    info = new PrintInfo(w);
    info->setObjectName(kPrintInfoName);
    info->printer.setDocName(PlainWindowTitle(w));
  }
  return &info->printer;
}

int ImageMainWindow(WindowRef window, QPrinter &printer) {
  CrystalRec *crystal = GetWindowCrystal(window);
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  if (!CanPrint(window) || !crystal || pane.Width() <= 0 || pane.Height() <= 0)
    return -1;
  // The plot fills the printable area with the graph pane's proportions.
  const int deviceRes = printer.resolution();
  const int plotRes = std::clamp(deviceRes, 1, kMaxPrintPlotRes);
  const QRectF paint = printer.pageLayout().paintRect(QPageLayout::Inch);
  const double pw = paint.width() * plotRes, ph = paint.height() * plotRes;
  const double gw = pane.Width(), gh = pane.Height();
  double width = pw, height = ph;
  if (pw * gh > gw * ph)
    width = ph * gw / gh;
  else
    height = pw * gh / gw;
  const int w = std::max(1, static_cast<int>(std::lround(width)));
  const int h = std::max(1, static_cast<int>(std::lround(height)));
  if (w > kMaxReplotPixels || h > kMaxReplotPixels)
    return -1;

  QPainter painter;
  if (!painter.begin(&printer))
    return -1;
  // Device pixels per plotted pixel; the picture is centred on the page.
  const double k = double(deviceRes) / plotRes;
  const QRectF page = printer.pageLayout().paintRectPixels(deviceRes);
  const QRectF target((page.width() - w * k) / 2, (page.height() - h * k) / 2, w * k, h * k);
  const ReplotTexts texts{"Insufficient memory to create surface overlay.",
                          "Insufficient memory to create graphics port.",
                          "An error occurred whilst creating an offscreen graphics port.", nullptr};
  gOVPrinting = 1;
  const int result = ReplotAtSize(window, w, h, static_cast<int16_t>(plotRes), texts, [&](const ovgfx::PixelBuffer &image) {
    // The window's own replot that follows is not a page.
    gOVPrinting = 0;
    painter.drawImage(target, ovgfx::ImageView(const_cast<ovgfx::PixelBuffer &>(image)));
    return 0;
  });
  gOVPrinting = 0;
  painter.end();
  return result;
}

void DoPageSetup(WindowRef window) {
  if (QPrinter *printer = MyCreatePrintInfoForWindow(window))
    GetShellDialogs().PageSetup(*printer, GetMainWindow(window));
}

void DoPrintWindow(WindowRef window) {
  if (!CanPrint(window))
    return;
  QPrinter *printer = MyCreatePrintInfoForWindow(window);
  if (printer && GetShellDialogs().PrintSetup(*printer, GetMainWindow(window)))
    ImageMainWindow(window, *printer);
}

void InstallPrintingCommands() {
  AddCommandHandler(
      [](uint32_t command, const QVariant &) -> OSStatus {
        if (command == kCmdPageSetup)
          DoPageSetup(FrontGraphWindow());
        else if (command == kCmdPrint)
          DoPrintWindow(FrontGraphWindow());
        else
          return kEventNotHandledErr;
        return kNoErr;
      },
      [](uint32_t command, QAction *action) -> OSStatus {
        if (command == kCmdPageSetup)
          action->setEnabled(GetMainWindow(FrontGraphWindow()) != nullptr);
        else if (command == kCmdPrint)
          action->setEnabled(CanPrint(FrontGraphWindow()));
        else
          return kEventNotHandledErr;
        return kNoErr;
      });
}
