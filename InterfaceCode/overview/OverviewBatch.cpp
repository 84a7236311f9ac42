// The batch commands of the Overview window: one picture file per entry, the
// views saved as documents or the favourites converted, and a movie with one
// frame per view. Each batch loads the entries one at a time into a
// structure window of its own (the front window's document stays as it is),
// stepping on a timer of the main loop; the cancel keys stop it. Text files
// are read as Open reads them. Every entry a batch skips or fails, and every
// view that gives the movie no frame, is named in red in the Log with the
// reason.
#include "overview/OverviewPrivate.h"

#include "shell/FileCommands.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "Alerts.h"
#include "Preferences.h"
#include "documents/CrystalDocument.h"
#include "export/MovieRecording.h"
#include "export/PictureExport.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "render/RenderGlobals.h"
#include "window/MainWindowData.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

enum class BatchKind { kExport, kSaveViews, kConvertFavourites, kMovie };

struct Entry {
  std::filesystem::path file;
  uint32_t type = 0;
  std::string name; // how the Log names it: the file's name, or a view's caption
};

struct Batch {
  bool active = false;
  BatchKind kind = BatchKind::kExport;
  WindowRef window = nullptr; // the batch's own window
  std::vector<Entry> entries; // the list as it stood at the start
  size_t next = 0;
  std::filesystem::path folder;
  std::string extension;
  int32_t width = 0, height = 0;
  float resolution = 72;
  uint32_t exporterType = 0;
  uint8_t savedFastRotation = 0;
  std::vector<std::string> failures;
  std::string endReason; // why the entries not reached were skipped
  QTimer *timer = nullptr;
} gBatch;

QTimer *BatchTimer() {
  if (!gBatch.timer) {
    gBatch.timer = new QTimer(qApp);
    QObject::connect(gBatch.timer, &QTimer::timeout, gBatch.timer, [] { OverviewBatchStep(); });
  }
  return gBatch.timer;
}

std::string WindowTitle(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  return w ? PlainWindowTitle(w).toStdString() : std::string();
}

CachedFileRecord *FindRecord(const std::filesystem::path &file) {
  const int n = GetNumThumbnails();
  for (int i = 0; i < n; i++)
    if (CachedFileRecord *r = GetCachePtrWithRectID(i); r && r->fileRef == file)
      return r;
  return nullptr;
}

// Starts a batch over the current list: the first entry selected, the
// alerts silent, the steps armed.
bool BeginBatch(BatchKind kind) {
  gBatch.kind = kind;
  gBatch.entries.clear();
  gBatch.failures.clear();
  gBatch.next = 0;
  const int n = GetNumThumbnails();
  // The Views hold cache documents: the Log names a view by its caption.
  const bool views = gOverviewTabChoice == kViewsTab;
  for (int i = 0; i < n; i++)
    if (CachedFileRecord *r = GetCachePtrWithRectID(i))
      gBatch.entries.push_back(
          Entry{r->fileRef, r->fileType, "\"" + (views ? r->caption : r->fileRef.filename().string()) + "\""});
  SelectThumbnail(0);
  if (gBatch.entries.empty() || !gSelectedCachePtr) {
    if (HostServices *host = GetHostServices())
      host->Beep();
    return false;
  }
  if (!gBatch.window)
    gBatch.window = OpenOverviewWorkWindow();
  if (!gBatch.window)
    return false;
  DrawThumbnails();
  SetCocoaCursor(kind == BatchKind::kMovie ? kCmdDotCursor : kWatchCursor);
  gOverviewPlayInProgress = 1;
  gProhibitErrorAlerts = kind != BatchKind::kMovie;
  gBatch.active = true;
  gBatch.endReason = "the batch was cancelled";
  MyCheckForUserCancelEvent(); // a cancel key pressed before the start does not count
  BatchTimer()->start(0);
  return true;
}

// The Log's line for an entry that gave nothing, and why.
std::string SkippedLine(size_t k, const std::string &reason) {
  const Entry &entry = gBatch.entries[k];
  if (gBatch.kind != BatchKind::kMovie)
    return "Skipped " + entry.name + ": " + reason;
  char line[80];
  std::snprintf(line, sizeof line, "skipping frame %ld of %ld", long(k + 1), long(gBatch.entries.size()));
  return std::string(line) + " (" + entry.name + "): " + reason;
}

void EndBatch() {
  if (!gBatch.active)
    return;
  gBatch.active = false;
  if (gBatch.timer)
    gBatch.timer->stop();
  for (size_t k = gBatch.next; k < gBatch.entries.size(); k++)
    gBatch.failures.push_back(SkippedLine(k, gBatch.endReason));
  gOverviewPlayInProgress = 0;
  gProhibitErrorAlerts = 0;
  SetCocoaCursor(kArrowCursor);
  if (gBatch.kind == BatchKind::kMovie) {
    WriteStatus("Closing movie file");
    gUseFastRotn = gBatch.savedFastRotation;
    if (createMovie.framesSubmitted > 0 || !MovieIsRolling()) {
      ConcludeMovie(false, gPrefs.playLoop != 0, gPrefs.playMode == 2, false);
    } else {
      ResetMovie(); // a movie without a frame is no movie: the file goes
      gBatch.failures.push_back("No movie was written: none of the views gave it a frame.");
    }
    CloseStatus();
  }
  CloseOverviewWorkWindow(gBatch.window);
  gBatch.window = nullptr;
  for (const std::string &failure : gBatch.failures)
    FWriteColor(failure, kRGBRed);
  DrawThumbnails();
}

// The output of one loaded entry; false with a reason when it failed.
bool WriteEntry(const Entry &entry, WindowRef window, std::string *reason) {
  const CrystalRec *crystal = GetWindowCrystal(window);
  const std::string title = WindowTitle(window);
  switch (gBatch.kind) {
  case BatchKind::kExport: {
    const std::filesystem::path file = UniqueBatchFile(gBatch.folder, title, gBatch.extension);
    if (file.empty()) {
      *reason = "no file name could be made in the folder";
      return false;
    }
    if (QTWritePixelImage(window, gBatch.width, gBatch.height, gBatch.resolution, file, gBatch.exporterType) != 0) {
      std::error_code ec;
      std::filesystem::remove(file, ec);
      *reason = "the picture could not be written";
      return false;
    }
    return true;
  }
  case BatchKind::kSaveViews: {
    const std::filesystem::path file = UniqueBatchFile(gBatch.folder, title, crystal->molecule ? "ovmf" : "ovdf");
    if (file.empty() || !DoWriteCrystalFile(window, file)) {
      *reason = "the document could not be written";
      return false;
    }
    return true;
  }
  case BatchKind::kConvertFavourites: {
    if (IsBundledFile(entry.file)) {
      *reason = "the program's own samples are left as they are";
      return false;
    }
    if (entry.type == kCrystalDocumentType || entry.type == kMoleculeDocumentType) {
      if (!DoWriteCrystalFile(window, entry.file)) {
        *reason = "the document could not be rewritten";
        return false;
      }
      return true;
    }
    // An older document or a text file: a new document beside it; the old
    // file stays.
    const std::filesystem::path folder = entry.file.parent_path();
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
      *reason = "its folder could not be found";
      return false;
    }
    const std::filesystem::path file = UniqueBatchFile(folder, title, crystal->molecule ? "ovmf" : "ovdf");
    if (file.empty() || !DoWriteCrystalFile(window, file)) {
      *reason = "the document could not be written";
      return false;
    }
    return true;
  }
  case BatchKind::kMovie:
    return true;
  }
  return true;
}

// Loads an entry whose file is there into the batch's window and makes its
// output; false when the batch ended instead.
bool RunEntry(size_t k, const Entry &entry, std::string *reason) {
  CachedFileRecord *record = FindRecord(entry.file);
  if (!record) {
    gBatch.endReason = "the batch stopped when " + entry.name + " left the list";
    EndBatch();
    return false;
  }
  gSelectedCachePtr = record;
  DoScrollThumbnailsToSelection();
  WindowRef window = gBatch.window;
  if (!PrepareOverviewWorkWindow(window)) {
    gBatch.endReason = "the batch's window was closed";
    EndBatch();
    return false;
  }
  gBatch.next++;
  if (gBatch.kind == BatchKind::kMovie) {
    char line[160];
    const long n = long(gBatch.entries.size());
    std::snprintf(line, sizeof line, "Recording movie (frame %ld of %ld)", long(k + 1), n);
    WriteProgress(line, float(long(k + 1) * 100 / n));
    // The plot of the loaded view is the frame: the movie records the
    // front window, so another window that took the focus meanwhile (the
    // user's, once the save dialog has gone) gives it back; and recording
    // is on only for the load, so that no other plot between the steps (a
    // pending full-quality replot) adds a frame.
    if (MainWindow *w = GetMainWindow(window))
      BringGraphWindowToFront(w);
    const uint32_t frames = createMovie.framesSubmitted;
    gRecordingVideo = 1;
    const bool loaded = LoadCacheRecordIntoWindow(record, window, false) && IsWindowFileOpen(window);
    gRecordingVideo = 0;
    if (!loaded)
      *reason = "the view could not be read";
    else if (!MovieIsRolling())
      *reason = "the movie was stopped";
    else if (createMovie.framesSubmitted == frames)
      *reason = "no picture of it was recorded";
  } else {
    // Documents and text files alike are read as Open reads them.
    if (!LoadCacheRecordIntoWindow(record, window, false) || !IsWindowFileOpen(window) || !GetWindowCrystal(window))
      *reason = "it could not be read";
    else
      WriteEntry(entry, window, reason);
  }
  return true;
}

} // namespace

std::filesystem::path UniqueBatchFile(const std::filesystem::path &folder, const std::string &title,
                                      const std::string &extension) {
  std::string name;
  for (char c : title)
    name += (c == '/' || c == '\0') ? '_' : c;
  if (name.empty() || name == "." || name == "..")
    name = "Untitled";
  const std::string suffix = extension.empty() ? std::string() : "." + extension;
  std::error_code ec;
  for (int k = 1; k < 100000; k++) {
    const std::string candidate = k == 1 ? name + suffix : name + " " + std::to_string(k) + suffix;
    const std::filesystem::path file = folder / candidate;
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, ec)))
      return file;
  }
  return {};
}

bool OverviewBatchRunning() { return gBatch.active; }

void OverviewBatchStep() {
  static bool inStep = false;
  if (!gBatch.active || inStep)
    return;
  inStep = true;
  struct Leave {
    ~Leave() { inStep = false; }
  } leave;
  if (gBatch.next >= gBatch.entries.size()) {
    EndBatch();
    return;
  }
  const size_t k = gBatch.next;
  const Entry entry = gBatch.entries[k];
  std::string reason;
  std::error_code ec;
  if (!std::filesystem::exists(entry.file, ec)) {
    // Moved or deleted since the batch began (the list drops it when it is
    // next drawn): named in the Log, and the batch goes on.
    gBatch.next++;
    reason = "it could not be found";
  } else if (!RunEntry(k, entry, &reason)) {
    return;
  }
  if (!reason.empty())
    gBatch.failures.push_back(SkippedLine(k, reason));
  const bool movieStopped = gBatch.kind == BatchKind::kMovie && !MovieIsRolling();
  if (movieStopped)
    gBatch.endReason = "the movie was stopped";
  if (movieStopped || MyCheckForUserCancelEvent() || gBatch.next >= gBatch.entries.size())
    EndBatch();
}

void DoExportGraphicsFromCacheFiles() {
  WindowRef front = FrontGraphWindow();
  if (gBatch.active || !front ||
      (gOverviewTabChoice != kFavouritesTab && gOverviewTabChoice != kViewsTab && gOverviewTabChoice != kRecentTab))
    return;
  int32_t width = 0, height = 0;
  float resolution = 72;
  uint32_t type = FourCharsToLong("????");
  if (!GetExportGraphicsOptions(front, &width, &height, &resolution, &type))
    return;
  const GraphicsExporter *exporter = FindGraphicsExporter(type);
  if (!exporter || exporter->extension.empty())
    return;
  const std::optional<std::filesystem::path> folder = GetOverviewDialogs().GetFolder(
      gOverviewTabChoice == kFavouritesTab ? "Choose a folder to save the favourites into"
      : gOverviewTabChoice == kRecentTab   ? "Choose a folder to save the recent files into"
                                           : "Choose a folder to save the views into");
  if (!folder)
    return;
  gBatch.folder = *folder;
  gBatch.extension = exporter->extension;
  gBatch.width = width;
  gBatch.height = height;
  gBatch.resolution = resolution;
  gBatch.exporterType = type;
  BeginBatch(BatchKind::kExport);
}

void DoSaveCacheFiles() {
  WindowRef front = FrontGraphWindow();
  if (gBatch.active || !front)
    return;
  if (gOverviewTabChoice == kViewsTab) {
    const std::optional<std::filesystem::path> folder =
        GetOverviewDialogs().GetFolder("Choose a folder to save the views into");
    if (!folder)
      return;
    gBatch.folder = *folder;
    BeginBatch(BatchKind::kSaveViews);
  } else if (gOverviewTabChoice == kFavouritesTab) {
    if (!GetOverviewDialogs().Confirm(
            "This command converts your favourite Orvalisphere files to the latest file format.", ""))
      return;
    BeginBatch(BatchKind::kConvertFavourites);
  }
}

void DoMakeMovieFromCachedViews() {
  WindowRef front = FrontGraphWindow();
  if (gBatch.active || !front || gOverviewTabChoice != kViewsTab || GetNumThumbnails() < 1)
    return;
  if (!VerifyViewsCache(front)) {
    MyCFStopAlert("Cache verification failure",
                  "Sorry, the movie could not be recorded because one of the source files appears to be invalid.");
    return;
  }
  // The views are recorded in the batch's own window, the front window
  // while the movie rolls.
  gBatch.window = OpenOverviewWorkWindow();
  if (!gBatch.window)
    return;
  // The movie records the front window: this one.
  if (MainWindow *w = GetMainWindow(gBatch.window))
    BringGraphWindowToFront(w);
  ResetOffScreen(gBatch.window);
  const ovgfx::PixelBuffer *image = WindowMovieImage(gBatch.window);
  Rect bounds;
  GetWindowOffBounds(gBatch.window, &bounds);
  uint32_t duration = 0;
  if (!image || !StartMovieRolling(image, bounds, &duration)) {
    CloseOverviewWorkWindow(gBatch.window);
    gBatch.window = nullptr;
    return;
  }
  gBatch.savedFastRotation = gUseFastRotn;
  gUseFastRotn = 0;
  if (!BeginBatch(BatchKind::kMovie)) {
    gUseFastRotn = gBatch.savedFastRotation;
    ConcludeMovie(false, false, false, false);
    CloseOverviewWorkWindow(gBatch.window);
    gBatch.window = nullptr;
  }
}

void DoOverviewWindowMovieOptions() {
  if (WindowRef front = FrontGraphWindow())
    GetVideoSettingsForGraphicsWindow(front);
}
