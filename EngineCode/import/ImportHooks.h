// What the open path asks of the shell: the chooser among the structures of
// a file that holds several, the windows for more than one of them, and
// the banner that counts what a reader mended.
#pragma once

#include "import/ImportTypes.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// What the chooser lists of each structure.
struct StructureSummary {
  std::string name;
  std::string formula;    // Hill order: C, H, then the others alphabetically
  std::string commonName; // a mineral or common name the file gives
  std::string title;      // the file's title line, where it says more than the name
  std::string cell;       // "a b c alpha beta gamma", or "molecule"
  std::string spaceGroup; // empty for a molecule
};
StructureSummary SummariseStructure(const ImportedStructure &s);

// The name of a window opened from another program's file: the file's name
// without ".gz" and without its extension ("quartz.cif.gz" -> "quartz"); of
// a file of several structures, that name and the structure's
// ("hashizume ethyl98K").
std::string ImportedWindowTitle(const std::filesystem::path &file, const ImportedStructure &s, bool several);

// How the open path treats a file of several structures.
enum class ImportChoice : uint8_t {
  Ask,       // the chooser asks (a user's open)
  TakeFirst, // the first, with a Log line naming how many others there are
};

// What the chooser answers: the indices picked (empty: cancelled), and
// whether they open as the views of one window rather than in windows of
// their own.
struct StructurePick {
  std::vector<size_t> picked;
  bool asViews = false;
  StructurePick(std::vector<size_t> indices = {}, bool views = false) // NOLINT: a list of indices is a pick
      : picked(std::move(indices)), asViews(views) {}
};

// Installed by the shell. `choose` answers the pick; `openInNewWindow`
// builds one more structure of the file in a window of its own;
// `openAsViews` builds the structures picked as the views of the window,
// in order; `showReadWarnings` puts the count of a reader's warnings over
// the window's picture until the user next changes what it shows. Without
// them the first structure is taken, and the count is a plain subtitle.
struct ImportHooks {
  std::function<StructurePick(const std::filesystem::path &, const std::vector<StructureSummary> &)> choose;
  std::function<bool(const std::filesystem::path &, ImportedStructure &&)> openInNewWindow;
  std::function<bool(WindowRef, const std::filesystem::path &, std::vector<ImportedStructure> &&)> openAsViews;
  std::function<void(WindowRef, const std::string &)> showReadWarnings;
};
extern ImportHooks gImportHooks;
