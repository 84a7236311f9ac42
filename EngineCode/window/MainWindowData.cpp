#include "window/MainWindowData.h"

#include "Alerts.h"
#include "CachedFiles.h"
#include "Preferences.h"
#include "StructureArrays.h"

#include <algorithm>
#include <new>
#include <vector>

MainWindowData *GetMainWindowData(WindowRef window) { return window ? window->mainData : nullptr; }

bool InitMainWindowData(WindowRef window) {
  if (!window)
    return false;
  if (window->mainData)
    return true;
  MainWindowData *data = new (std::nothrow) MainWindowData;
  if (!data) {
    MyCFStopAlert("Error creating window", "Insufficient memory to create data structures.");
    return false;
  }
  InitBlankCrystalRec(&data->crystal);
  data->notesFontName = gPrefs.notesFontName;
  data->notesFontSize = gPrefs.notesFontSize;
  data->showRulers = gPrefs.showRulers;
  data->showSidebar = gPrefs.showSidebar;
  data->sidebarWidth = gPrefs.sidebarWidth;
  data->sidebarSplit = gPrefs.sidebarSplit;
  data->showNotes = gPrefs.showNotes;
  data->showAtoms = gPrefs.showAtoms;
  data->lastGestureTime = Microseconds();
  window->mainData = data;
  return true;
}

void DestroyMainWindowData(WindowRef window) {
  MainWindowData *data = GetMainWindowData(window);
  if (!data)
    return;
  DestroyWindowViews(window);
  DestroyWindowHistory(window);
  DestroyWindowRedo(window);
  window->mainData = nullptr;
  // Work still queued for the window, and a relaxation still running for
  // it, see from the shared state that it is gone.
  data->shared->calculationRun.store(0);
  data->shared->open.store(0);
  delete data;
}

bool IsWindowFileOpen(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->fileOpen;
}

void SetWindowFileOpen(WindowRef window, bool open) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->fileOpen = open ? 1 : 0;
}

namespace {
std::atomic<uint64_t> gLastCalculationRun{0};
} // namespace

bool IsWindowCalculationInProgress(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->shared->calculationRun.load() != 0;
}

void SetWindowCalculationInProgress(WindowRef window, bool running) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d)
    return;
  if (!running)
    d->shared->calculationRun.store(0);
  else if (d->shared->calculationRun.load() == 0)
    d->shared->calculationRun.store(++gLastCalculationRun);
  UpdateWindowToolbar(window);
}

uint64_t StartWindowCalculation(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d)
    return 0;
  const uint64_t run = ++gLastCalculationRun;
  d->shared->calculationRun.store(run);
  UpdateWindowToolbar(window);
  return run;
}

std::shared_ptr<WindowSharedState> GetWindowSharedState(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? d->shared : nullptr;
}

bool IsWindowAutoRotating(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->autoRotating;
}

void SetWindowAutoRotating(WindowRef window, bool rotating) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d)
    return;
  const bool stopped = d->autoRotating && !rotating;
  d->autoRotating = rotating ? 1 : 0;
  // The rotation's frames wait for its end to be settled.
  if (stopped && (d->undoStatePending || d->markStale || d->refitPending))
    SetEventLoopTimerNextFireTime(gUndoBufferTimer, kUndoSnapshotDelay);
}

CrystalRec *GetWindowCrystal(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? &d->crystal : nullptr;
}

bool WindowGraphPaneHasFocus(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->graphHasFocus;
}

CachedFileRecord *GetWindowViews(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? d->views : nullptr;
}

void SetWindowViews(WindowRef window, CachedFileRecord *head) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->views = head;
}

CachedFileRecord *GetWindowHistory(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? d->history : nullptr;
}

void SetWindowHistory(WindowRef window, CachedFileRecord *head) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->history = head;
}

CachedFileRecord *GetWindowRedo(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? d->redo : nullptr;
}

void SetWindowRedo(WindowRef window, CachedFileRecord *head) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->redo = head;
}

int32_t GetNumWindowViews(WindowRef window) { return NumFilesInCache(GetWindowViews(window)); }
int32_t GetNumWindowHistory(WindowRef window) { return NumFilesInCache(GetWindowHistory(window)); }
int32_t GetNumWindowRedo(WindowRef window) { return NumFilesInCache(GetWindowRedo(window)); }

OVImageHandle GetWindowTransferBuffer(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? d->transferBuffer : nullptr;
}

void SetWindowTransferBuffer(WindowRef window, OVImageHandle image) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->transferBuffer = std::move(image);
}

OVImageHandle GetWindowOffScreen(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? d->offScreen : nullptr;
}

void SetWindowOffScreen(WindowRef window, OVImageHandle image) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->offScreen = std::move(image);
}

OVImageHandle GetWindowOffScreenOverlay(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? d->offScreenOverlay : nullptr;
}

void SetWindowOffScreenOverlay(WindowRef window, OVImageHandle image) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->offScreenOverlay = std::move(image);
}

void GetWindowOffBounds(WindowRef window, Rect *rect) {
  if (!rect)
    return;
  MainWindowData *d = GetMainWindowData(window);
  *rect = d ? d->offBounds : Rect{};
}

void SetWindowOffBounds(WindowRef window, const Rect &rect) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->offBounds = rect;
}

bool WindowHasPrintPreview(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->printPreview.active != 0;
}

PrintPreviewRecord *GetWindowPrintPreview(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? &d->printPreview : nullptr;
}

void *GetWindowGraphPane(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? d->graphPane : nullptr;
}

void *GetGraphicsWindowSiteBrowser(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? d->siteBrowser : nullptr;
}

uint8_t GetWindowRulerUnits(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? d->crystal.rulerUnits : 0;
}

void SetWindowRulerUnits(WindowRef window, uint8_t units) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d || d->crystal.rulerUnits == units)
    return;
  d->crystal.rulerUnits = units; // saved with the document
  NoteWindowChange(window);
}

bool IsWindowShowingGrid(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->crystal.showGrid;
}

bool IsWindowShowingRulers(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->showRulers;
}

bool IsWindowShowingSidebar(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->showSidebar;
}

uint16_t GetWindowSidebarWidth(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? d->sidebarWidth : 0;
}

bool ShowBrowserInWindowSidebar(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->showAtoms;
}

bool ShowNotesInWindowSidebar(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->showNotes;
}

bool IsWindowShowingAtomsPane(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->showSidebar && d->showAtoms;
}

bool IsWindowShowingNotesPane(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->showSidebar && d->showNotes;
}

bool IsWindowMeasurementToolLocked(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->measurementToolLocked;
}

void SetWindowMeasurementToolLocked(WindowRef window, bool locked) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->measurementToolLocked = locked ? 1 : 0;
}

OVBlockHandle GetWindowInfoData(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d ? d->infoData : nullptr;
}

void SetWindowInfoData(WindowRef window, OVBlockHandle data) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->infoData = std::move(data);
}

void ClearWindowInfoData(WindowRef window) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->infoData.reset();
}

bool IsWindowDisplaySleeping(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->shared->displaySleeping.load() != 0;
}

void DoMainWindowDisplaySleep(WindowRef window) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->shared->displaySleeping.store(1);
}

void DoMainWindowDisplayWake(WindowRef window) {
  if (MainWindowData *d = GetMainWindowData(window))
    d->shared->displaySleeping.store(0);
}

bool GetWindowTextObject(WindowRef window, void **textObject) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d || !d->textObject)
    return false;
  if (textObject)
    *textObject = d->textObject;
  return true;
}

namespace {
std::function<void(WindowRef)> gWindowModifiedListener;

void SetWindowModifiedState(WindowRef window, uint8_t modified) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d)
    return;
  d->windowModified = modified;
  if (gWindowModifiedListener)
    gWindowModifiedListener(window);
}
} // namespace

void OVSetWindowModified(WindowRef window) { SetWindowModifiedState(window, 1); }
void OVClearWindowModified(WindowRef window) { SetWindowModifiedState(window, 0); }
void SetWindowModifiedListener(std::function<void(WindowRef)> listener) {
  gWindowModifiedListener = std::move(listener);
}

// ---- The window's changes ------------------------------------------------------

namespace {
void (*gUndoStateTaker)(WindowRef) = nullptr;
bool (*gUndoStateRestorer)(WindowRef) = nullptr;

void NoteChange(WindowRef window, bool structure, double delay) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d || !d->fileOpen)
    return;
  if (structure)
    d->undoStatePending = 1;
  d->markStale = 1;
  if (!d->autoRotating)
    SetEventLoopTimerNextFireTime(gUndoBufferTimer, delay);
}
} // namespace

void NoteWindowChange(WindowRef window, double delay) { NoteChange(window, true, delay); }
void NoteWindowNotesChange(WindowRef window) { NoteChange(window, false, kUndoSnapshotDelay); }

void NoteWindowRefit(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d || !d->fileOpen || d->undoStatePending)
    return; // a pending change takes the new scale with it
  d->refitPending = 1;
  d->refitScale = d->crystal.plotScale;
  d->refitLabelSize = d->crystal.labelSize;
  if (!d->autoRotating)
    SetEventLoopTimerNextFireTime(gUndoBufferTimer, kUndoSnapshotDelay);
}

bool IsWindowRefitPending(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->refitPending;
}

bool WindowMayHoldUnsavedChanges(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && (d->windowModified || d->undoStatePending || d->markStale);
}

bool IsWindowUndoStatePending(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->undoStatePending;
}

bool IsWindowMarkStale(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  return d && d->markStale;
}

void ForgetWindowChanges(WindowRef window) {
  if (MainWindowData *d = GetMainWindowData(window)) {
    d->undoStatePending = d->markStale = d->refitPending = 0;
    d->undoStateDigest = d->structureDigest = d->savedDigest = d->savedNotesDigest = 0;
  }
}

namespace {
std::vector<WindowRef> gRedrawOnlyWindows; // one entry per open scope
} // namespace

RedrawOnly::RedrawOnly(WindowRef window) : window_(window) {
  if (MainWindowData *d = GetMainWindowData(window)) {
    undoStatePending_ = d->undoStatePending;
    markStale_ = d->markStale;
  }
  gRedrawOnlyWindows.push_back(window);
}

RedrawOnly::~RedrawOnly() {
  if (MainWindowData *d = GetMainWindowData(window_)) {
    d->undoStatePending = undoStatePending_;
    d->markStale = markStale_;
  }
  gRedrawOnlyWindows.erase(std::find(gRedrawOnlyWindows.begin(), gRedrawOnlyWindows.end(), window_));
}

bool IsWindowRedrawOnly(WindowRef window) {
  return std::find(gRedrawOnlyWindows.begin(), gRedrawOnlyWindows.end(), window) != gRedrawOnlyWindows.end();
}

void TakeWindowUndoState(WindowRef window) {
  if (gUndoStateTaker)
    gUndoStateTaker(window);
}

void SetWindowUndoStateTaker(void (*taker)(WindowRef)) { gUndoStateTaker = taker; }

bool ReturnWindowToUndoState(WindowRef window) { return gUndoStateRestorer && gUndoStateRestorer(window); }

void SetWindowUndoStateRestorer(bool (*restorer)(WindowRef)) { gUndoStateRestorer = restorer; }

bool GetWindowWithCrystal(const CrystalRec *crystal, WindowRef *window) {
  if (window)
    *window = nullptr;
  HostServices *host = GetHostServices();
  if (!crystal || !host)
    return false;
  for (WindowRef w : host->StructureWindows()) {
    if (GetWindowCrystal(w) == crystal) {
      if (window)
        *window = w;
      return true;
    }
  }
  return false;
}

void DisposeAllGWorlds(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d)
    return;
  for (SphereRecord &sphere : d->crystal.spheres)
    DisposeSpherePixels(&sphere);
  d->offScreen.reset();
  d->offScreenOverlay.reset();
  d->transferBuffer.reset();
}

void DisposeOVTempMemory(WindowRef window) {
  MainWindowData *d = GetMainWindowData(window);
  if (!d)
    return;
  DisposeAllGWorlds(window);
  d->crystal.backgroundPictureImage.reset();
}
