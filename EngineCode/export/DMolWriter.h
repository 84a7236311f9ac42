// The DMol archive (".car") of a structure: a molecule's every atom, or one
// unit cell of a crystal with its cell on the PBC line.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <string>
#include <string_view>

// The whole file. `date` is the "!DATE" line's text ("Mon Jan 06 10:00:00
// 2025"). A crystal's atoms are the first-cell atoms of each site, each once,
// wrapped into the cell and placed in the frame a reader builds from the PBC
// line (a along x, b in the xy plane).
std::string FormatDMolFile(const CrystalRec &c, std::string_view title, std::string_view date);
// The date line's text of now, in the C locale's words.
std::string DMolDateText();

void DoWriteDMolFile(WindowRef window);
