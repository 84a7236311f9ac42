// The structure window's own commands: its panes, grid, ruler units and
// full screen.
#include "MainWindow.h"
#include "PaneDrawing.h"
#include "StructureWindow.h"
#include "WindowInput.h"
#include "shell/Commands.h"

namespace {

OSStatus MainWindowCommand(WindowRef window, uint32_t command, const QVariant &) {
  switch (command) {
  case kCmdToggleRulers:
    ToggleRulers(window);
    return kNoErr;
  case kCmdToggleRulerUnits:
    ToggleRulerUnits(window);
    return kNoErr;
  case kCmdToggleGrid:
    ToggleGrid(window);
    return kNoErr;
  case kCmdToggleSidebar:
    ToggleSidebar(window);
    return kNoErr;
  case kCmdToggleNotes:
    ToggleNotesPane(window);
    return kNoErr;
  case kCmdToggleAtoms:
    ToggleAtomsPane(window);
    return kNoErr;
  case kCmdFillScreen:
    DoToggleFullScreen();
    return kNoErr;
  case kCmdStandardSize:
    DoExitFullScreen();
    return kNoErr;
  default:
    return kEventNotHandledErr;
  }
}

} // namespace

void InstallWindowCommandHandler() {
  SetWindowCommandHandler(MainWindowCommand, [](WindowRef, uint32_t, QAction *) { return kEventNotHandledErr; });
  InstallWindowInputCommands();
}
