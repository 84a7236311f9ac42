#include "UndoHistory.h"

#include "CachedFiles.h"
#include "RenderServices.h"
#include "documents/CrystalDocument.h"
#include "documents/PrefsFile.h"
#include "window/MainWindowData.h"

namespace {

// Reads a snapshot into the window, keeping its file, title and notes
// hooks, and replots it without taking a new snapshot.
bool LoadSnapshot(WindowRef window, const std::filesystem::path &file) {
  if (!LoadCrystalFileIntoWindow(window, file, false))
    return false;
  NewPlot(window, false, true);
  gStructureChanged = 0;
  OVSetWindowModified(window);
  UpdateFloatingWindows();
  return true;
}

// Moves the front node of one list to the front of another.
void MoveFront(CachedFileRecord *&from, CachedFileRecord *&to) {
  CachedFileRecord *node = from;
  from = node->next;
  node->next = to;
  to = node;
}

} // namespace

bool IsCacheDocument(const std::filesystem::path &file) {
  return file.filename().string().starts_with(kCacheFilePrefix) && file.parent_path() == GetCacheFolder();
}

void DeleteWindowRedo(WindowRef window) {
  for (CachedFileRecord *node = GetWindowRedo(window); node; node = node->next) {
    std::error_code ec;
    if (IsCacheDocument(node->fileRef))
      std::filesystem::remove(node->fileRef, ec);
  }
  DestroyWindowRedo(window);
}

bool CanUndo(WindowRef window) {
  if (!IsWindowFileOpen(window))
    return false;
  // A change not yet saved can be undone back to the front document.
  return GetNumWindowHistory(window) >= (gStructureChanged ? 1 : 2);
}

bool CanRedo(WindowRef window) { return IsWindowFileOpen(window) && GetNumWindowRedo(window) > 0; }

bool DoUndo() {
  WindowRef window = FrontGraphWindow();
  MainWindowData *data = GetMainWindowData(window);
  if (!data || !CanUndo(window))
    return false;
  if (gStructureChanged) {
    // A change not saved yet: it starts a new branch, and is kept so that
    // Redo brings it back.
    DeleteWindowRedo(window);
    const bool saved = DoCacheHistoryFile(window);
    gStructureChanged = 0;
    if (!saved)
      return false;
  }
  MoveFront(data->history, data->redo);
  if (!data->history || !LoadSnapshot(window, data->history->fileRef)) {
    MoveFront(data->redo, data->history);
    return false;
  }
  return true;
}

bool DoRedo() {
  WindowRef window = FrontGraphWindow();
  MainWindowData *data = GetMainWindowData(window);
  if (!data || !CanRedo(window))
    return false;
  if (!LoadSnapshot(window, data->redo->fileRef))
    return false;
  MoveFront(data->redo, data->history);
  return true;
}
