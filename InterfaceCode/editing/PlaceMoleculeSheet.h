// Place Molecule: a file dialog as a sheet on the structure window, listing
// folders and molecule documents only; the chosen document is merged into
// the window's structure.
#pragma once

#include "HostServices.h"
#include "Utilities.h"

#include <cstdint>

class QFileDialog;

inline constexpr uint32_t kCmdPlaceMolecule = FourCharsToLong("PlcM");

// Opens the dialog for a window that holds a file and a structure; null otherwise.
QFileDialog *ShowPlaceMoleculeSheet(WindowRef window);
