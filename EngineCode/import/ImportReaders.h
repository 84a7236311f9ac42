// The detector and the entry of every reader the import path runs (see
// ImportPath.h); each pair lives in its reader's own file.
#pragma once

#include "import/ImportPath.h"

bool IsOwnTextFile(const ImportSource &source);
bool DoOwnTextFile(const ImportSource &source, ImportResult &result);
bool IsMOLFile(const ImportSource &source);
bool DoMOLFile(const ImportSource &source, ImportResult &result);
bool IsDMolFile(const ImportSource &source);
bool DoDMolFile(const ImportSource &source, ImportResult &result);
bool IsChem3DFile(const ImportSource &source);
bool DoChem3DFile(const ImportSource &source, ImportResult &result);
bool IsMacMoleculeFile(const ImportSource &source);
bool DoMacMoleculeFile(const ImportSource &source, ImportResult &result);
