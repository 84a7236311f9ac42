// Commands: the one table of four-character command codes, one QAction per
// command, and the dispatch chain that runs them.
//
// Every menu item, toolbar item and tool button names a command by its
// four-character code; the QAction made for that code (its data() holds the
// code) is shared by every menu and toolbar that shows it. Triggering it
// calls `ProcessCommand`, which offers the command to the handlers in turn:
//   1. the handlers installed with `AddCommandHandler`, newest first (sheets,
//      floating windows and command families of later windows);
//   2. the front structure window's own handler;
//   3. the application's `MyDoMenuCommand`.
// A handler returns 0 when it handled the command and `kEventNotHandledErr`
// to pass it on; the next handler then runs even when the earlier one acted.
// Menu status (enable, check, retitle) runs the same chain of status
// handlers whenever a menu is about to show and after each command. The
// actions outside menus follow too: a shortcut's command has its status
// brought up to date as its key is pressed, before Qt decides whether the
// shortcut is enabled, and every action's status is refreshed (once for
// many requests) when what it depends on changes outside a command: the
// front window, a window's modified state, a running task. A shortcut
// answers in every window of the program, floating windows included, and
// does what its menu item in a structure window would; a modal sheet or
// question keeps the keys for itself.
//
// A new command is one row of `kCommandTable` (Commands.cpp), so that no two
// commands can share a code, and its place in a menu one entry of
// `kMenuTable`; its handler joins the chain with `AddCommandHandler`.
#pragma once

#include "HostServices.h"
#include "RunningCommand.h"
#include "Utilities.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QString>
#include <QVariant>

class QAction;
class QMenu;
class QMenuBar;

// Handlers answer 0 or `kEventNotHandledErr` (HostServices.h).
using OSStatus = int32_t;
inline constexpr OSStatus kNoErr = 0;

// ---- Command codes --------------------------------------------------------------
// File
inline constexpr uint32_t kCmdNewCrystal = FourCharsToLong("NewC");
inline constexpr uint32_t kCmdNewMolecule = FourCharsToLong("NewM");
inline constexpr uint32_t kCmdOpen = FourCharsToLong("open");
inline constexpr uint32_t kCmdOpenRecent = FourCharsToLong("oRec"); // an item of Open Recent
inline constexpr uint32_t kCmdClearRecent = FourCharsToLong("cRec");
inline constexpr uint32_t kCmdOpenExample = FourCharsToLong("oExa"); // an item of Examples
inline constexpr uint32_t kCmdClose = FourCharsToLong("clos");
inline constexpr uint32_t kCmdSave = FourCharsToLong("save");
inline constexpr uint32_t kCmdSaveAs = FourCharsToLong("svas");
inline constexpr uint32_t kCmdRevert = FourCharsToLong("rvrt");
inline constexpr uint32_t kCmdPageSetup = FourCharsToLong("PgSU");
inline constexpr uint32_t kCmdPrint = FourCharsToLong("Prnt");
inline constexpr uint32_t kCmdQuit = FourCharsToLong("quit");
// Edit
inline constexpr uint32_t kCmdUndo = FourCharsToLong("undo");
inline constexpr uint32_t kCmdRedo = FourCharsToLong("redo");
// View
inline constexpr uint32_t kCmdToggleRulers = FourCharsToLong("tgRl");
inline constexpr uint32_t kCmdToggleRulerUnits = FourCharsToLong("tgUn");
inline constexpr uint32_t kCmdToggleGrid = FourCharsToLong("tgGd");
inline constexpr uint32_t kCmdToggleSidebar = FourCharsToLong("tgSB");
inline constexpr uint32_t kCmdToggleNotes = FourCharsToLong("tgNt");
inline constexpr uint32_t kCmdToggleAtoms = FourCharsToLong("tgAt");
inline constexpr uint32_t kCmdFillScreen = FourCharsToLong("fulS");
inline constexpr uint32_t kCmdStandardSize = FourCharsToLong("stdS");
// The structure window's view: zoom by the magnify tool's factor, centre the
// structure, scale it to the pane (keys, toolbar and menus share them)
inline constexpr uint32_t kCmdZoomIn = FourCharsToLong("zmIn");
inline constexpr uint32_t kCmdZoomOut = FourCharsToLong("zmOu");
inline constexpr uint32_t kCmdAutoCentre = FourCharsToLong("autC");
inline constexpr uint32_t kCmdAutoScaleView = FourCharsToLong("autS");
// Model: every atom's label on or off
inline constexpr uint32_t kCmdShowAllLabels = FourCharsToLong("ShLb");
// Auto-rotation: start or stop in the front window, in every window, and the
// options sheet
inline constexpr uint32_t kCmdAutoRotate = FourCharsToLong("AuRo");
inline constexpr uint32_t kCmdAutoRotateAll = FourCharsToLong("AuRA");
inline constexpr uint32_t kCmdAutoRotateSheet = FourCharsToLong("AuRS");
// Window
inline constexpr uint32_t kCmdShowLog = FourCharsToLong("*Log");
// Help
inline constexpr uint32_t kCmdHelp = FourCharsToLong("HlpI");
// Plot range, plot size and scale, angles
inline constexpr uint32_t kCmdPlotRange = FourCharsToLong("PRng");
inline constexpr uint32_t kCmdCalculateAngle = FourCharsToLong("CAng");
inline constexpr uint32_t kCmdPlotSize = FourCharsToLong("PSiz");
inline constexpr uint32_t kCmdPlotScale = FourCharsToLong("PScl");
inline constexpr uint32_t kCmdRotationAngleMenu = FourCharsToLong("RAng");
inline constexpr uint32_t kCmdRotationAngle1 = FourCharsToLong("RA01");
inline constexpr uint32_t kCmdRotationAngle2 = FourCharsToLong("RA02");
inline constexpr uint32_t kCmdRotationAngle5 = FourCharsToLong("RA05");
inline constexpr uint32_t kCmdRotationAngle10 = FourCharsToLong("RA10");
inline constexpr uint32_t kCmdRotationAngle15 = FourCharsToLong("RA15");
inline constexpr uint32_t kCmdRotationAngle30 = FourCharsToLong("RA30");
inline constexpr uint32_t kCmdRotationAngle45 = FourCharsToLong("RA45");
inline constexpr uint32_t kCmdRotationAngle90 = FourCharsToLong("RA90");
inline constexpr uint32_t kCmdRotationAngleOther = FourCharsToLong("RAOt");
inline constexpr uint32_t kCmdLogTextStyle = FourCharsToLong("CcTO");
inline constexpr uint32_t kCmdSelectWindow = FourCharsToLong("wSel"); // an item of the window list
// The File menu's Export submenu (its items are the exporters' own codes).
inline constexpr uint32_t kCmdExportMenu = FourCharsToLong("xMnu");
// The bonding and element editors.
inline constexpr uint32_t kCmdEditBonding = FourCharsToLong("eBnd");
inline constexpr uint32_t kCmdEditElements = FourCharsToLong("eElm");
inline constexpr uint32_t kCmdElementTablesMenu = FourCharsToLong("eTbM");       // opens the preset submenu
inline constexpr uint32_t kCmdApplyPresetElementTable = FourCharsToLong("pElT"); // an item of it; argument: name

struct CommandInfo {
  uint32_t code;
  const char *title;    // the menu item's text
  const char *shortcut; // a QKeySequence text; empty for none
};
// Every command of the program, each code once.
const std::vector<CommandInfo> &CommandTable();
const CommandInfo *FindCommandInfo(uint32_t code);

// The menu bar: each menu's title and its commands in order, 0 for a
// separator. Open Recent and Examples stand as submenus of their entries,
// and the window list follows the Window menu's last command.
struct MenuInfo {
  const char *title;
  std::vector<uint32_t> items;
  // Set for a submenu: the command whose item in that menu opens it.
  uint32_t opener = 0;
  // A menu of the menu bar: the letter of its title that opens it with Alt.
  char mnemonic = 0;
};
const std::vector<MenuInfo> &MenuTable();
// A menu bar menu's title with its mnemonic marked ("&File"); the plain
// title for a submenu.
QString MenuBarTitle(const MenuInfo &menu);
// Marks the mnemonics of the bar's menus (idempotent).
void SetMenuBarMnemonics(QMenuBar *bar);

// A title as a menu item shows it: Qt takes "&" for a mnemonic mark, so
// every "&" of a title is doubled and shows as itself. Every command item's
// title goes through here.
QString MenuItemTitle(const QString &title);

// The action of a command in the table (made on first use; program-wide).
// Null for a code that is not in the table.
QAction *GetCommandAction(uint32_t code);
// The code an action carries; 0 for none.
uint32_t GetActionCommand(const QAction *action);
// A further action for a command that has one item per entry (Open Recent,
// Examples, the window list): the code in data(), `argument` in the
// action's "argument" property. The caller owns it.
QAction *MakeCommandItem(uint32_t code, const QString &title, const QVariant &argument, QObject *parent);

// ---- Dispatch -------------------------------------------------------------------

// A command handler: 0 when handled, `kEventNotHandledErr` to pass on.
// `argument` is the item's argument for commands with one item per entry.
using CommandHandler = std::function<OSStatus(uint32_t command, const QVariant &argument)>;
// A status handler: sets enabled, checked or text of the action and answers
// 0, or `kEventNotHandledErr` for a command it does not own.
using MenuStatusHandler = std::function<OSStatus(uint32_t command, QAction *action)>;

// Installs a handler at the head of the chain; the answer removes it.
int AddCommandHandler(CommandHandler handler, MenuStatusHandler status = {});
void RemoveCommandHandler(int id);
// The front structure window's handler; installed by the structure window.
void SetWindowCommandHandler(std::function<OSStatus(WindowRef, uint32_t, const QVariant &)> handler,
                             std::function<OSStatus(WindowRef, uint32_t, QAction *)> status);

// Runs the command through the chain; `kEventNotHandledErr` when no handler
// took it.
OSStatus ProcessCommand(uint32_t command, const QVariant &argument = {});
// Status of one action, and of every action of a menu or of the table.
void UpdateActionStatus(QAction *action);
void UpdateMenuStatus(QMenu *menu);
void UpdateAllCommandStatus();
// Asks for `UpdateAllCommandStatus` once the events now waiting are handled;
// any number of requests before then make one update.
void RequestCommandStatusUpdate();

// The application's handlers, the last in the chain.
OSStatus MyDoMenuCommand(uint32_t command, const QVariant &argument);
// In the instrumented build, every structure's derived layers held from
// revisions that still stand are checked against their inputs
// (DerivedLayers::CheckTold): the dispatcher asks before a command, for
// what changed between commands, and after it, naming the command; a
// sheet's apply asks after it. Nothing in other builds.
void CheckStructuresTold();
// A command, or a sheet's or window's apply, running by name
// (RunningCommand.h); the structures are checked as it ends
// (CheckStructuresTold), so that a change it left untold names it.
class CommandRun {
public:
  explicit CommandRun(std::string name) : running_(std::move(name)) {}
  ~CommandRun() { CheckStructuresTold(); }
  CommandRun(const CommandRun &) = delete;
  CommandRun &operator=(const CommandRun &) = delete;

private:
  RunningCommand running_;
};
OSStatus MyUpdateMenuStatus(uint32_t command, QAction *action);

// Code text for messages: 'abcd'.
std::string CommandName(uint32_t code);
