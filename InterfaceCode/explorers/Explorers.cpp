#include "explorers/Explorers.h"

#include "editing/EditCrystalSheet.h"
#include "explorers/DistanceExplorer.h"
#include "explorers/SpacegroupWindow.h"
#include "explorers/SymmetryOptions.h"
#include "structurewindow/StructureWindow.h"

void InstallExplorers() {
  InstallDistanceExplorer();
  InstallSpacegroupWindow();
  InstallSymmetryOptions();
  gStructureWindowHooks.disposeDistanceSearch = [](WindowRef window) { DisposeWindowDistanceSearch(window); };
}
