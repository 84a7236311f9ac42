// The frames of a trajectory (or any structures of one file the chooser
// picked) opened as the views of one structure window, so that the Views
// tab shows them in order and Play flips through them.
#pragma once

#include "StructureRecord.h"
#include "import/ImportTypes.h"

#include <filesystem>
#include <vector>

// Builds each structure in the window in turn and keeps it as a view at the
// end of the window's Views, captioned by its name, in the order given;
// the window is left showing the last, and the Overview its Views tab with
// that view selected. False when one could not be built or kept: the views
// kept before it stay.
bool OpenStructuresAsViews(WindowRef window, const std::filesystem::path &file,
                           std::vector<ImportedStructure> &&structures);
