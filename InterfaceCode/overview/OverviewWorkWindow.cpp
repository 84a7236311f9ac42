// The structure window in which playback and the batch commands load their
// entries. It is a window of their own, so the user's windows keep their
// documents, titles, modified states and undo histories while the entries
// pass through it; it goes when the work is done. The thumbnails of files
// without a stored picture are drawn the same way, in a window never shown.
#include "overview/OverviewPrivate.h"

#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "shell/FileCommands.h"

#include "Alerts.h"
#include "documents/CrystalDocument.h"
#include "export/PictureServices.h"
#include "import/ImportPath.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

WindowRef OpenOverviewWorkWindow() {
  WindowRef source = OverviewListWindow();
  const std::string title = source ? GraphWindowTitle(source) : std::string();
  // The lists stay with the source from the start: the new window must not
  // take the selection out of them.
  SetOverviewListWindow(source);
  // It takes the source's frame: its pictures (a movie's frames) have the
  // size of the one the user sees.
  WindowRef work = OpenMainWindow(title.empty() ? nullptr : title.c_str(), false, source);
  if (!work)
    SetOverviewListWindow(nullptr);
  return work;
}

bool PrepareOverviewWorkWindow(WindowRef work) {
  if (!GetMainWindow(work))
    return false;
  // Nothing of the last entry is worth keeping: the next simply replaces it.
  OVClearWindowModified(work);
  gShowProgress = 0;
  return true;
}

void CloseOverviewWorkWindow(WindowRef work) {
  WindowRef source = OverviewListWindow();
  SetOverviewListWindow(nullptr);
  if (GetMainWindow(work)) {
    OVClearWindowModified(work);
    DoCloseMainWindow(work);
  }
  if (MainWindow *w = GetMainWindow(source); w && source != work) {
    BringGraphWindowToFront(w);
    if (w->isVisible()) {
      w->raise();
      w->activateWindow();
    }
  }
  UpdateFloatingWindows();
  UpdateOverviewWindow();
}

QImage DrawFileOffScreen(const std::filesystem::path &file) {
  MainWindow *front = GetMainWindow(FrontGraphWindow());
  const uint8_t progress = gShowProgress, alerts = gProhibitErrorAlerts;
  gShowProgress = 0;
  gProhibitErrorAlerts = 1;
  LogSilence quiet; // a picture is no work of the user's to report
  QImage image;
  WindowRef scratch = OpenMainWindow(nullptr, false);
  if (MainWindow *w = GetMainWindow(scratch)) {
    w->setAttribute(Qt::WA_DontShowOnScreen);
    if (front)
      BringGraphWindowToFront(front);
    const FileOpenKind kind = GetFileOpenKind(file);
    bool ok = false;
    if (kind == FileOpenKind::Document) {
      ok = LoadCrystalFileIntoWindow(scratch, file, true);
      if (ok) {
        ResetOffScreen(scratch);
        NewPlot(scratch, false, true);
      }
    } else if (kind == FileOpenKind::Text) {
      // A picture of a file of several structures shows the first.
      ok = OpenTextFile(scratch, file, ImportChoice::TakeFirst);
    }
    if (ok)
      CopyWindowPreviewAsImageRef(scratch, &image);
    DisposeMainWindow(scratch);
  }
  gShowProgress = progress;
  gProhibitErrorAlerts = alerts;
  return image;
}
