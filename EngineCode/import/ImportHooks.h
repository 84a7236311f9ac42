// What the open path asks of the shell: the chooser among the structures of
// a file that holds several, and the windows for more than one of them.
#pragma once

#include "import/ImportTypes.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// What the chooser lists of each structure.
struct StructureSummary {
  std::string name;
  std::string formula;
  std::string cell;       // "a b c alpha beta gamma", or "molecule"
  std::string spaceGroup; // empty for a molecule
};
StructureSummary SummariseStructure(const ImportedStructure &s);

// How the open path treats a file of several structures.
enum class ImportChoice : uint8_t {
  Ask,       // the chooser asks (a user's open)
  TakeFirst, // the first, with a Log line naming how many others there are
};

// Installed by the shell. `choose` answers the indices picked (empty:
// cancelled); `openInNewWindow` builds one more structure of the file in a
// window of its own. Without them the first structure is taken.
struct ImportHooks {
  std::function<std::vector<size_t>(const std::filesystem::path &, const std::vector<StructureSummary> &)> choose;
  std::function<bool(const std::filesystem::path &, ImportedStructure &&)> openInNewWindow;
};
extern ImportHooks gImportHooks;
