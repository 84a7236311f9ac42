#include "explorers/Explorers.h"

#include "editing/EditCrystalSheet.h"
#include "explorers/DistanceExplorer.h"
#include "structurewindow/StructureWindow.h"

void InstallExplorers() {
  InstallDistanceExplorer();
  gStructureWindowHooks.disposeDistanceSearch = [](WindowRef window) { DisposeWindowDistanceSearch(window); };
}
