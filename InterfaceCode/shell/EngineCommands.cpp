// The commands whose work lives in the engine (the text exports, the
// molecule relaxation and saturation): each engine area answers its own
// codes and passes the rest on, so the shell only joins them to the chain.
#include "EngineCommands.h"

#include "Commands.h"
#include "structurewindow/StructureWindow.h"

#include "StructureRecord.h"
#include "export/Export3D.h"
#include "export/ExportFrame.h"
#include "export/PictureExport.h"
#include "export/MovieWindows.h"
#include "relax/RelaxThread.h"
#include "window/MainWindowData.h"

#include <QAction>

namespace {

bool IsExportCommand(uint32_t command) {
  for (uint32_t code : {kCmdExportCoordinates, kCmdExportVisibleCoordination, kCmdExportCrystalCoordination,
                        kCmdExportBonds, kCmdExportCIF, kCmdExportPDB, kCmdExportMacMolecule, kCmdExportChem3D, kCmdExportDMol,
                        kCmdExportOwnText, kCmdExportSTL, kCmdExportCOLLADA, kCmdExportWebPage,
                        kCmdExportPixelGraphics, kCmdExportVectorGraphics, kCmdExportXYZ})
    if (command == code)
      return true;
  return false;
}

bool IsRelaxCommand(uint32_t command) {
  return command == kCmdRelaxMolecule || command == kCmdCancelRelaxMolecule || command == kCmdSaturateMolecule;
}

OSStatus EngineCommand(uint32_t command, const QVariant &) {
  WindowRef front = FrontGraphWindow();
  if (DoExportCommand(front, command) != kEventNotHandledErr)
    return 0;
  if (DoExport3DCommand(front, command) != kEventNotHandledErr)
    return 0;
  if (DoPictureExportCommand(front, command) != kEventNotHandledErr)
    return 0;
  if (IsRelaxCommand(command))
    return RelaxMenuCommand(command, front) == kEventNotHandledErr ? kEventNotHandledErr : 0;
  return kEventNotHandledErr;
}

OSStatus EngineCommandStatus(uint32_t command, QAction *action) {
  WindowRef front = FrontGraphWindow();
  const CrystalRec *crystal = front ? GetWindowCrystal(front) : nullptr;
  if (IsExportCommand(command)) {
    // Every export needs a structure; some only a crystal.
    bool enabled = true;
    UpdateExportMenuStatus(front, command, &enabled);
    action->setEnabled(enabled && crystal);
    return 0;
  }
  if (!IsRelaxCommand(command))
    return kEventNotHandledErr;
  const bool molecule = crystal && crystal->molecule;
  const bool running = front && IsWindowCalculationInProgress(front);
  action->setEnabled(command == kCmdCancelRelaxMolecule ? running : molecule && !running);
  return 0;
}

} // namespace

void InstallEngineCommands() {
  AddCommandHandler(EngineCommand, EngineCommandStatus);
  // Closing a window stops its relaxation first.
  gStructureWindowHooks.cancelRelaxMolecule = DoCancelRelaxMolecule;
  // Movies: the rotation and QTVR exports, the video recorder.
  InstallMovieCommands();
}
