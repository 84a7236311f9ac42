// The detector and the entry of every reader the import path runs (see
// ImportPath.h); each pair lives in its reader's own file.
#pragma once

#include "import/ImportPath.h"

#include <string>

struct GEP;

bool IsOwnTextFile(const ImportSource &source);
bool DoOwnTextFile(const ImportSource &source, ImportResult &result);

bool IsCIFFile(const ImportSource &source);
bool DoCIFFile(const ImportSource &source, ImportResult &result);

bool IsSHELXFile(const ImportSource &source);
bool DoSHELXFile(const ImportSource &source, ImportResult &result);
// An operator as text ("-x+1/2,y,z"), its translation reduced into [0, 1).
std::string ImportOperatorText(const GEP &g);

bool IsVASPFile(const ImportSource &source);
bool DoVASPFile(const ImportSource &source, ImportResult &result);

bool IsWIEN2kFile(const ImportSource &source);
bool DoWIEN2kFile(const ImportSource &source, ImportResult &result);

bool IsCSSRFile(const ImportSource &source);
bool DoCSSRFile(const ImportSource &source, ImportResult &result);
bool IsMOLFile(const ImportSource &source);
bool DoMOLFile(const ImportSource &source, ImportResult &result);
bool IsDMolFile(const ImportSource &source);
bool DoDMolFile(const ImportSource &source, ImportResult &result);
bool IsChem3DFile(const ImportSource &source);
bool DoChem3DFile(const ImportSource &source, ImportResult &result);
bool IsMacMoleculeFile(const ImportSource &source);
bool DoMacMoleculeFile(const ImportSource &source, ImportResult &result);
bool IsPDBFile(const ImportSource &source);
bool DoPDBFile(const ImportSource &source, ImportResult &result);
bool IsXYZFile(const ImportSource &source);
bool DoXYZFile(const ImportSource &source, ImportResult &result);
bool IsGROMACSFile(const ImportSource &source);
bool DoGROMACSFile(const ImportSource &source, ImportResult &result);
bool IsLAMMPSFile(const ImportSource &source);
bool DoLAMMPSFile(const ImportSource &source, ImportResult &result);
bool IsDLPOLYFile(const ImportSource &source);
bool DoDLPOLYFile(const ImportSource &source, ImportResult &result);
