#include "Commands.h"

#include "export/Export3D.h"
#include "export/ExportFrame.h"
#include "export/PictureExport.h"
#include "export/MovieWindows.h"
#include "relax/RelaxThread.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>

#include <map>
#include <memory>

namespace {

const std::vector<CommandInfo> kCommandTable = {
    // File
    {kCmdNewCrystal, "New Crystal", ""},
    {kCmdNewMolecule, "New Molecule", ""},
    {kCmdOpen, "Open…", "Ctrl+O"},
    {kCmdOpenRecent, "Open Recent", ""},
    {kCmdClearRecent, "Clear Menu", ""},
    {kCmdOpenExample, "Examples", ""},
    {kCmdClose, "Close", "Ctrl+W"},
    {kCmdSave, "Save", "Ctrl+S"},
    {kCmdSaveAs, "Save As…", "Ctrl+Shift+S"},
    {kCmdExportMenu, "Export", ""},
    {kCmdExportCoordinates, "Coordinates…", ""},
    {kCmdExportVisibleCoordination, "Coordination Groups…", ""},
    {kCmdExportCrystalCoordination, "Polyhedral Data…", ""},
    {kCmdExportBonds, "Distances & Angles…", ""},
    {kCmdExportCIF, "CIF…", ""},
    {kCmdExportPDB, "PDB…", ""},
    {kCmdExportMacMolecule, "MacMolecule…", ""},
    {kCmdExportChem3D, "Chem3D…", ""},
    {kCmdExportOwnText, "Orvalisphere Text File…", ""},
    {kCmdExportSTL, "STL 3-D Model…", ""},
    {kCmdExportCOLLADA, "COLLADA 3-D Model…", ""},
    {kCmdExportWebPage, "Web Page…", ""},
    {kCmdExportPixelGraphics, "Pixel Graphics…", ""},
    {kCmdExportVectorGraphics, "Vector Graphics (PICT)…", ""},
    {kCmdExportRotationMovie, "Rotation Movie…", ""},
    {kCmdExportQTVRMovie, "QuickTime VR Movie…", ""},
    {kCmdShowVideoRecorder, "Video Recorder", ""},
    {kCmdRevert, "Revert to Saved", ""},
    {kCmdQuit, "Quit", "Ctrl+Q"},
    // Edit
    {kCmdUndo, "Undo", "Ctrl+Z"},
    {kCmdRedo, "Redo", "Ctrl+Shift+Z"},
    {kCmdRelaxMolecule, "Relax Molecule", ""},
    {kCmdCancelRelaxMolecule, "Stop Relaxation", ""},
    {kCmdSaturateMolecule, "Saturate with Hydrogen", ""},
    // View
    {kCmdToggleRulers, "Show Rulers", ""},
    {kCmdToggleRulerUnits, "Ruler in Nanometres", ""},
    {kCmdToggleGrid, "Show Grid", ""},
    {kCmdToggleSidebar, "Show Sidebar", ""},
    {kCmdToggleNotes, "Show Notes", ""},
    {kCmdToggleAtoms, "Show Atoms", ""},
    {kCmdFillScreen, "Fill Screen", ""},
    {kCmdStandardSize, "Standard Size", ""},
    // Window
    {kCmdShowLog, "Log", "Ctrl+L"},
    {kCmdLogTextStyle, "Log Text Style…", ""},
    {kCmdSelectWindow, "Window", ""},
};

const std::vector<MenuInfo> kMenuTable = {
    {"File",
     {kCmdNewCrystal, kCmdNewMolecule, kCmdOpen, kCmdOpenRecent, kCmdOpenExample, 0, kCmdClose, kCmdSave, kCmdSaveAs,
      kCmdRevert, 0, kCmdExportMenu, 0, kCmdQuit}},
    {"Export",
     {kCmdExportCoordinates, kCmdExportVisibleCoordination, kCmdExportCrystalCoordination, kCmdExportBonds, 0,
      kCmdExportCIF, kCmdExportPDB, kCmdExportMacMolecule, kCmdExportChem3D, kCmdExportOwnText, kCmdExportWebPage, 0,
      kCmdExportPixelGraphics, kCmdExportVectorGraphics, 0, kCmdExportSTL, kCmdExportCOLLADA, 0,
      kCmdExportRotationMovie, kCmdExportQTVRMovie, kCmdShowVideoRecorder},
     kCmdExportMenu},
    {"Edit", {kCmdUndo, kCmdRedo, 0, kCmdRelaxMolecule, kCmdCancelRelaxMolecule, kCmdSaturateMolecule}},
    {"View",
     {kCmdToggleRulers, kCmdToggleRulerUnits, kCmdToggleGrid, 0, kCmdToggleSidebar, kCmdToggleAtoms, kCmdToggleNotes, 0,
      kCmdFillScreen}},
    {"Window", {kCmdShowLog, kCmdLogTextStyle}},
};

struct Registry {
  QObject owner; // parent of the program-wide actions
  std::map<uint32_t, QAction *> actions;
  struct Entry {
    int id;
    CommandHandler handler;
    MenuStatusHandler status;
  };
  std::vector<Entry> handlers; // newest first
  int nextId = 1;
  std::function<OSStatus(WindowRef, uint32_t, const QVariant &)> windowHandler;
  std::function<OSStatus(WindowRef, uint32_t, QAction *)> windowStatus;
};

Registry &GetRegistry() {
  static Registry *registry = new Registry; // lives as long as the program
  return *registry;
}

void Trigger(QAction *action) { ProcessCommand(GetActionCommand(action), action->property("argument")); }

} // namespace

const std::vector<CommandInfo> &CommandTable() { return kCommandTable; }
const std::vector<MenuInfo> &MenuTable() { return kMenuTable; }

const CommandInfo *FindCommandInfo(uint32_t code) {
  for (const CommandInfo &info : kCommandTable)
    if (info.code == code)
      return &info;
  return nullptr;
}

QAction *GetCommandAction(uint32_t code) {
  Registry &r = GetRegistry();
  auto it = r.actions.find(code);
  if (it != r.actions.end())
    return it->second;
  const CommandInfo *info = FindCommandInfo(code);
  if (!info)
    return nullptr;
  auto *action = new QAction(QString::fromUtf8(info->title), &r.owner);
  action->setData(QVariant::fromValue(code));
  if (*info->shortcut)
    action->setShortcut(QKeySequence(QString::fromUtf8(info->shortcut)));
  QObject::connect(action, &QAction::triggered, action, [action] { Trigger(action); });
  r.actions[code] = action;
  return action;
}

uint32_t GetActionCommand(const QAction *action) {
  if (!action)
    return 0;
  bool ok = false;
  uint32_t code = action->data().toUInt(&ok);
  return ok ? code : 0;
}

QAction *MakeCommandItem(uint32_t code, const QString &title, const QVariant &argument, QObject *parent) {
  auto *action = new QAction(title, parent);
  action->setData(QVariant::fromValue(code));
  action->setProperty("argument", argument);
  QObject::connect(action, &QAction::triggered, action, [action] { Trigger(action); });
  return action;
}

int AddCommandHandler(CommandHandler handler, MenuStatusHandler status) {
  Registry &r = GetRegistry();
  int id = r.nextId++;
  r.handlers.insert(r.handlers.begin(), Registry::Entry{id, std::move(handler), std::move(status)});
  return id;
}

void RemoveCommandHandler(int id) {
  auto &handlers = GetRegistry().handlers;
  std::erase_if(handlers, [id](const Registry::Entry &e) { return e.id == id; });
}

void SetWindowCommandHandler(std::function<OSStatus(WindowRef, uint32_t, const QVariant &)> handler,
                             std::function<OSStatus(WindowRef, uint32_t, QAction *)> status) {
  GetRegistry().windowHandler = std::move(handler);
  GetRegistry().windowStatus = std::move(status);
}

OSStatus ProcessCommand(uint32_t command, const QVariant &argument) {
  Registry &r = GetRegistry();
  OSStatus result = kEventNotHandledErr;
  // A copy: a handler may install or remove handlers.
  std::vector<Registry::Entry> chain = r.handlers;
  for (const Registry::Entry &e : chain)
    if (e.handler && (result = e.handler(command, argument)) != kEventNotHandledErr)
      break;
  if (result == kEventNotHandledErr && r.windowHandler)
    if (WindowRef front = FrontGraphWindow())
      result = r.windowHandler(front, command, argument);
  if (result == kEventNotHandledErr)
    result = MyDoMenuCommand(command, argument);
  if (QCoreApplication::instance() && !gQuittingTime)
    UpdateAllCommandStatus();
  return result;
}

void UpdateActionStatus(QAction *action) {
  const uint32_t command = GetActionCommand(action);
  if (!action || !command)
    return;
  Registry &r = GetRegistry();
  for (const Registry::Entry &e : r.handlers)
    if (e.status && e.status(command, action) != kEventNotHandledErr)
      return;
  if (r.windowStatus)
    if (WindowRef front = FrontGraphWindow(); front && r.windowStatus(front, command, action) != kEventNotHandledErr)
      return;
  MyUpdateMenuStatus(command, action);
}

void UpdateMenuStatus(QMenu *menu) {
  if (!menu)
    return;
  for (QAction *action : menu->actions())
    UpdateActionStatus(action);
}

void UpdateAllCommandStatus() {
  for (auto &[code, action] : GetRegistry().actions)
    UpdateActionStatus(action);
}

std::string CommandName(uint32_t code) {
  char text[5] = {};
  LongToFourChars(code, text);
  return "'" + std::string(text, 4) + "'";
}
