// The detector and the entry of every reader the import path runs (see
// ImportPath.h); each pair lives in its reader's own file.
#pragma once

#include "import/ImportPath.h"

bool IsOwnTextFile(const ImportSource &source);
bool DoOwnTextFile(const ImportSource &source, ImportResult &result);
bool IsGROMACSFile(const ImportSource &source);
bool DoGROMACSFile(const ImportSource &source, ImportResult &result);
bool IsLAMMPSFile(const ImportSource &source);
bool DoLAMMPSFile(const ImportSource &source, ImportResult &result);
bool IsDLPOLYFile(const ImportSource &source);
bool DoDLPOLYFile(const ImportSource &source, ImportResult &result);
