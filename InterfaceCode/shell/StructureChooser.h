// The chooser a file of several structures shows (CIF data blocks, SD
// records, PDB models, trajectory frames): a list of each structure's name,
// mineral or common name, title, formula, cell and space group, from which
// the user picks one, several or all; each opens in a window of its own, or
// all of them as the views of one window (a trajectory's frames, which Play
// then flips through).
#pragma once

#include "import/ImportPath.h"

#include <filesystem>
#include <vector>

class QDialog;
class QWidget;

// What the user picked; `all` when the All button was pressed, `asViews`
// when Open as Views was.
struct StructureChoice {
  std::vector<size_t> picked;
  bool all = false;
  bool asViews = false;
};

// The chooser of a file's structures, the first selected; Open accepts,
// All accepts with every structure, Open as Views accepts with the
// selection (every structure when one alone is selected), Cancel rejects.
QDialog *CreateStructureChooser(QWidget *parent, const std::filesystem::path &file,
                                const std::vector<StructureSummary> &structures);
// What an accepted chooser holds.
StructureChoice ReadStructureChooser(QDialog *chooser);

// The import path's choice (installed at start-up): asks the shell's
// dialogs, and before opening more than kMaxWindowsWithoutAsking windows
// asks whether so many should open. Empty when the user chose none.
StructurePick ChooseStructuresToOpen(const std::filesystem::path &file,
                                     const std::vector<StructureSummary> &structures);
