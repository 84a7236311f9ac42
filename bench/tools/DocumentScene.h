// Rock salt opened as a document for the benchmarks of the undo timer: its
// history documents go to a scratch cache folder of the benchmark's own.
#pragma once

#include "CachedFiles.h"
#include "documents/PrefsFile.h"
#include "documents/UndoHistory.h"

#include "RockSaltScene.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace benchscene {

// The scratch folder `name` (with the process number), made the cache's home.
inline std::filesystem::path ScratchCache(const char *name) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / (std::string(name) + "-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  setenv("XDG_CACHE_HOME", folder.c_str(), 1); // the history documents go here
  return folder;
}

// The window's history documents and the scratch folder go.
inline void CleanUpCache(WindowRef window, const char *name) {
  DestroyWindowHistory(window);
  EmptyCacheFolder();
  std::error_code ec;
  std::filesystem::remove_all(ScratchCache(name), ec);
}

// Rock salt over 0 to `range`, plotted in a 1000 x 800 pane and opened as a
// document with the undo timer installed; none when it cannot be built.
inline std::unique_ptr<Scene> OpenRockSaltDocument(float range, const char *name) {
  ScratchCache(name);
  std::unique_ptr<Scene> scene = MakeRockSalt(range, 1000, 800);
  if (!scene)
    return nullptr;
  InstallUndoBufferTimer();
  PlotCrystal(&scene->record, kPlotToWindow);
  NoteWindowDocumentOpened(&scene->record);
  return scene;
}

} // namespace benchscene
