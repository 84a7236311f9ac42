// The detector and the entry of every reader the import path runs (see
// ImportPath.h); each pair lives in its reader's own file.
#pragma once

#include "import/ImportPath.h"

bool IsOwnTextFile(const ImportSource &source);
bool DoOwnTextFile(const ImportSource &source, ImportResult &result);

bool IsCIFFile(const ImportSource &source);
bool DoCIFFile(const ImportSource &source, ImportResult &result);
