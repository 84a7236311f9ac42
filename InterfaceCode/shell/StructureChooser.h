// The chooser a file of several structures shows (CIF data blocks, SD
// records, PDB models, trajectory frames): a list of each structure's name,
// formula, cell and space group, from which the user picks one, several or
// all; each opens in a window of its own.
#pragma once

#include "import/ImportPath.h"

#include <filesystem>
#include <vector>

class QDialog;
class QWidget;

// What the user picked; `all` when the All button was pressed.
struct StructureChoice {
  std::vector<size_t> picked;
  bool all = false;
};

// The chooser of a file's structures, the first selected; Open accepts,
// All accepts with every structure, Cancel rejects.
QDialog *CreateStructureChooser(QWidget *parent, const std::filesystem::path &file,
                                const std::vector<StructureSummary> &structures);
// What an accepted chooser holds.
StructureChoice ReadStructureChooser(QDialog *chooser);

// The import path's choice (installed at start-up): asks the shell's
// dialogs, and before opening every structure of a file of more than
// kMaxWindowsWithoutAsking asks whether so many windows should open.
// Empty when the user chose none.
std::vector<size_t> ChooseStructuresToOpen(const std::filesystem::path &file,
                                           const std::vector<StructureSummary> &structures);
