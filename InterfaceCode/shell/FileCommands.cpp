#include "FileCommands.h"
#include "inspectors/InspectorKit.h"

#include "Commands.h"
#include "editing/ElementsWindow.h"
#include "EngineHooks.h"
#include "LogStore.h"
#include "HelpCommands.h"
#include "Printing.h"
#include "overview/OverviewWindow.h"
#include "QtHostServices.h"
#include "ShellDialogs.h"
#include "Startup.h"
#include "structurewindow/DisplaySleep.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/PaneDrawing.h"
#include "structurewindow/StructureWindow.h"

#include "Alerts.h"
#include "CachedFiles.h"
#include "CancelPoll.h"
#include "LongCommand.h"
#include "Preferences.h"
#include "documents/CacheWrites.h"
#include "documents/CrystalDocument.h"
#include "documents/PrefsFile.h"
#include "documents/UndoHistory.h"
#include "import/ImportPath.h"
#include "render/OffScreen.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMenu>
#include <QMenuBar>
#include <QStandardPaths>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <unistd.h>

#ifndef OV_RESOURCE_DIR
#define OV_RESOURCE_DIR ""
#endif

namespace {

std::vector<std::filesystem::path> gQueuedDocs;
int gLogSilenced = 0;

MainWindow *Front() { return GetMainWindow(FrontGraphWindow()); }

// The window Close closes before any structure window: the active window
// when it is a floating one (the Overview, an inspector, a tool window).
QWidget *ActiveFloatingWindow() {
  QWidget *active = QApplication::activeWindow();
  if (!active || qobject_cast<MainWindow *>(active) || active->windowModality() != Qt::NonModal)
    return nullptr;
  return active;
}

void RefillRecentMenu(QMenu *menu) {
  menu->clear();
  for (const std::filesystem::path &file : RecentFiles())
    menu->addAction(MakeCommandItem(kCmdOpenRecent, QString::fromStdString(file.filename().string()),
                                    QString::fromStdString(file.string()), menu));
  menu->addSeparator();
  menu->addAction(GetCommandAction(kCmdClearRecent));
  UpdateMenuStatus(menu);
}

void RefillExamplesMenu(QMenu *menu) {
  menu->clear();
  for (const std::filesystem::path &file : ExampleFiles())
    menu->addAction(MakeCommandItem(kCmdOpenExample, QString::fromStdString(file.stem().string()),
                                    QString::fromStdString(file.string()), menu));
}

// The Window menu: its commands from the menu table, then the windows.
void RefillWindowMenu(QMenu *menu, const std::vector<uint32_t> &codes) {
  menu->clear();
  for (uint32_t code : codes) {
    if (code == 0)
      menu->addSeparator();
    else
      menu->addAction(GetCommandAction(code));
  }
  menu->addSeparator();
  int index = 0;
  for (MainWindow *w : AllGraphWindows()) {
    if (w->isVisible()) {
      QAction *item = MakeCommandItem(kCmdSelectWindow, PlainWindowTitle(w), index, menu);
      item->setCheckable(true);
      item->setChecked(w->isActiveWindow());
      menu->addAction(item);
    }
    ++index;
  }
  UpdateMenuStatus(menu);
}

void SetCheckable(uint32_t code, bool checked) {
  QAction *action = GetCommandAction(code);
  action->setCheckable(true);
  action->setChecked(checked);
}

// Shows a structure read into `window` at the pane's size.
void ShowOpenedStructure(WindowRef window) {
  if (MainWindow *w = GetMainWindow(window)) {
    w->show();
    w->raise();
    w->activateWindow();
    BringGraphWindowToFront(w);
  }
  // The build plotted the structure already: it is plotted again only when
  // showing the window changed the pane's size.
  Rect off, pane;
  GetWindowOffBounds(window, &off);
  GetWindowGraphBounds(window, &pane);
  if (GetWindowOffScreen(window) && off.Width() == pane.Width() && off.Height() == pane.Height())
    DrawGraphPane(window);
  else
    RedrawGraphPane(window);
  MyRemoveWindowProxy(window);
  // Keys go to the structure: the arrows turn it at once.
  FocusGraphPane(window);
}

// An undo state brought back is titled as its window was when it was taken
// (a view loaded since gave the window the view's name); a window standing
// for a document keeps the document's name.
void ShowUndoState(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return;
  if (!w->File().empty())
    w->setWindowTitle(QString::fromStdString(w->File().stem().string()));
  else if (CachedFileRecord *state = GetWindowHistory(window); state && !state->caption.empty())
    w->setWindowTitle(QString::fromStdString(state->caption));
  DrawGraphPane(window);
}

} // namespace

// ---- Menus ------------------------------------------------------------------------

void InstallMenuBar(QMainWindow *window) {
  QMenuBar *bar = window->menuBar();
  std::map<uint32_t, QMenu *> submenus; // by opener, filled as their parents are built
  for (const MenuInfo &info : MenuTable()) {
    QMenu *menu = nullptr;
    if (info.opener == 0) {
      menu = bar->addMenu(MenuBarTitle(info));
    } else if (auto found = submenus.find(info.opener); found != submenus.end()) {
      menu = found->second;
    } else {
      continue; // a submenu whose opener no menu lists
    }
    if (std::string_view(info.title) == "Window") {
      QObject::connect(menu, &QMenu::aboutToShow, menu, [menu, codes = info.items] { RefillWindowMenu(menu, codes); });
      RefillWindowMenu(menu, info.items);
      continue;
    }
    for (uint32_t code : info.items) {
      if (code == 0) {
        menu->addSeparator();
      } else if (code == kCmdOpenRecent) {
        QMenu *recent = menu->addMenu(QString::fromUtf8(FindCommandInfo(code)->title));
        QObject::connect(recent, &QMenu::aboutToShow, recent, [recent] { RefillRecentMenu(recent); });
        RefillRecentMenu(recent);
      } else if (code == kCmdOpenExample) {
        RefillExamplesMenu(menu->addMenu(QString::fromUtf8(FindCommandInfo(code)->title)));
      } else if (code == kCmdElementTablesMenu) {
        QMenu *presets = menu->addMenu(QString::fromUtf8(FindCommandInfo(code)->title));
        QObject::connect(presets, &QMenu::aboutToShow, presets, [presets] { RefillElementTablesMenu(presets); });
        RefillElementTablesMenu(presets);
      } else if (std::any_of(MenuTable().begin(), MenuTable().end(),
                             [code](const MenuInfo &m) { return m.opener == code; })) {
        submenus[code] = menu->addMenu(QString::fromUtf8(FindCommandInfo(code)->title));
      } else {
        menu->addAction(GetCommandAction(code));
      }
    }
    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu] { UpdateMenuStatus(menu); });
  }
}

// ---- The application's commands ---------------------------------------------------------

OSStatus MyDoMenuCommand(uint32_t command, const QVariant &argument) {
  WindowRef front = FrontGraphWindow();
  switch (command) {
  case kCmdOpen:
    for (const std::filesystem::path &file : GetShellDialogs().GetOpenFiles()) {
      NoteDialogFolder(file);
      OpenFSRefInWindow(file, nullptr);
    }
    return kNoErr;
  case kCmdOpenRecent:
    OpenRecentFile(argument.toString().toStdString());
    return kNoErr;
  case kCmdOpenExample:
    OpenFSRefInWindow(argument.toString().toStdString(), nullptr);
    return kNoErr;
  case kCmdClearRecent:
    DestroyRecentFiles();
    DrawOverviewRecentThumbnails();
    return kNoErr;
  case kCmdClose:
    if (QWidget *floating = ActiveFloatingWindow()) {
      floating->close();
      return kNoErr;
    }
    if (MainWindow *w = Front(); w && w->isVisible() && CloseMainWindow(front))
      QuitWhenNoGraphWindowShows();
    return kNoErr;
  case kCmdSave:
    DoSaveWindow(front);
    return kNoErr;
  case kCmdSaveAs:
    DoSaveWindowAs(front);
    return kNoErr;
  case kCmdRevert:
    DoRevertWindow(front);
    return kNoErr;
  case kCmdQuit:
    DoQuit();
    return kNoErr;
  case kCmdUndo:
    if (DoUndo())
      ShowUndoState(FrontGraphWindow());
    DrawOverviewHistoryThumbnails();
    return kNoErr;
  case kCmdRedo:
    if (DoRedo())
      ShowUndoState(FrontGraphWindow());
    DrawOverviewHistoryThumbnails();
    return kNoErr;
  case kCmdShowLog:
    DoOverviewTabChoice(kLogTab);
    return kNoErr;
  case kCmdLogTextStyle:
    DoOverviewLogTextStyle();
    return kNoErr;
  case kCmdSelectWindow: {
    const auto &list = AllGraphWindows();
    const int index = argument.toInt();
    if (index >= 0 && size_t(index) < list.size()) {
      MainWindow *w = list[size_t(index)];
      w->show();
      w->raise();
      w->activateWindow();
      BringGraphWindowToFront(w);
    }
    return kNoErr;
  }
  default:
    return kEventNotHandledErr;
  }
}

OSStatus MyUpdateMenuStatus(uint32_t command, QAction *action) {
  WindowRef front = FrontGraphWindow();
  MainWindow *w = GetMainWindow(front);
  const bool open = IsWindowFileOpen(front);
  switch (command) {
  case kCmdOpen:
  case kCmdQuit:
  case kCmdShowLog:
  case kCmdLogTextStyle:
  case kCmdOpenRecent:
  case kCmdOpenExample:
  case kCmdSelectWindow:
    action->setEnabled(true);
    return kNoErr;
  case kCmdClearRecent:
    action->setEnabled(GetNumRecentFiles() > 0);
    return kNoErr;
  case kCmdClose:
    action->setEnabled(ActiveFloatingWindow() || (w && w->isVisible()));
    return kNoErr;
  case kCmdSave:
    // The mark as last settled: a change not yet settled counts as one.
    action->setEnabled(open && (WindowMayHoldUnsavedChanges(front) || w->File().empty()));
    return kNoErr;
  case kCmdSaveAs:
    action->setEnabled(open);
    return kNoErr;
  case kCmdRevert:
    action->setEnabled(open && WindowMayHoldUnsavedChanges(front) && !w->File().empty());
    return kNoErr;
  case kCmdUndo:
    action->setEnabled(CanUndo(front));
    return kNoErr;
  case kCmdRedo:
    action->setEnabled(CanRedo(front));
    return kNoErr;
  case kCmdToggleRulers:
    action->setEnabled(w != nullptr);
    SetCheckable(command, IsWindowShowingRulers(front));
    return kNoErr;
  case kCmdToggleRulerUnits:
    action->setEnabled(w != nullptr);
    SetCheckable(command, GetWindowRulerUnits(front) == 2);
    return kNoErr;
  case kCmdToggleGrid:
    action->setEnabled(w != nullptr);
    SetCheckable(command, IsWindowShowingGrid(front));
    return kNoErr;
  case kCmdToggleSidebar:
    action->setEnabled(w != nullptr);
    SetCheckable(command, IsWindowShowingSidebar(front));
    return kNoErr;
  case kCmdToggleAtoms:
    action->setEnabled(w != nullptr);
    SetCheckable(command, IsWindowShowingAtomsPane(front));
    return kNoErr;
  case kCmdToggleNotes:
    action->setEnabled(w != nullptr);
    SetCheckable(command, IsWindowShowingNotesPane(front));
    return kNoErr;
  case kCmdFillScreen:
  case kCmdStandardSize:
    action->setEnabled(w != nullptr);
    SetCheckable(kCmdFillScreen, gFillScreen != 0);
    return kNoErr;
  default:
    return kEventNotHandledErr;
  }
}

// ---- Opening ------------------------------------------------------------------------

WindowRef CreateNewWindowForFile() {
  WindowRef front = FrontGraphWindow();
  if (front && !IsWindowFileOpen(front))
    return front;
  return OpenMainWindow(nullptr, false);
}

namespace {

// An open the user stopped that leaves no structure showing (its window
// given up or left empty, as when the program starts on it) leaves the
// Overview showing its Log, where the open said so: the program goes on
// with something to read. A refused file has its alert.
void ShowLogWhenNoStructureShows() {
  if (!LongCommandCancelled())
    return;
  for (MainWindow *w : AllGraphWindows())
    if (w->isVisible() && IsWindowFileOpen(w->Ref()))
      return;
  if (!IsOverviewWindowVisible())
    DoShowOverviewWindow();
  DoOverviewTabChoice(kLogTab);
}

// What every opening does once a structure stands in its window. False
// when the user stopped the open meanwhile (its window shows already): the
// Log says so, and the caller gives the window up.
bool FinishOpenedWindow(WindowRef window, MainWindow *w, const std::filesystem::path &file, bool document) {
  if (document) {
    w->SetFile(file);
    NoteDocumentFileOnDisk(window, file);
  } else {
    // A text file is read, not edited: saving asks for a document. Its
    // title is the file's name unless the file gave one.
    w->SetFile({});
  }
  NoteDocumentFolder(window, file);
  ShowOpenedStructure(window);
  // The structure as opened is the first undo state, so that the first
  // change can be undone, and the saved document the mark compares with.
  // Then the open asks once more, as its stages do: Escape pressed after
  // their last question, while the status window could show, stops it too.
  if (NoteWindowDocumentOpened(window) && !CancelPoll(1).Step())
    return true;
  DeleteWindowUndoLists(window);
  w->SetFile({});
  FWrite(std::string(kDocumentReadStoppedLog) + "\"" + file.filename().string() + "\".");
  return false;
}

} // namespace

bool OpenStructureInNewWindow(const std::filesystem::path &file, ImportedStructure &&structure) {
  const LongCommand longCommand;
  WindowRef window = OpenMainWindow(nullptr, false);
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return false;
  w->setWindowTitle(QString::fromStdString(file.stem().string()) +
                    (structure.name.empty() ? QString() : " " + QString::fromStdString(structure.name)));
  const uint8_t savedProgress = gShowProgress;
  auto end = [&](bool ok) {
    gShowProgress = savedProgress;
    CloseStatus();
    if (!ok) {
      if (GetNumGraphWindows() > 1)
        DisposeMainWindow(window);
      else
        ClearMainWindow(window);
    }
    return ok;
  };
  gShowProgress = 1;
  bool ok = false;
  try {
    ok = BuildImportedStructure(window, file, std::move(structure));
  } catch (const std::bad_alloc &) {
    // The open this window is part of says so, for the file: the window
    // goes first.
    end(false);
    throw;
  }
  if (!end(ok))
    return false;
  return FinishOpenedWindow(window, w, file, false) || end(false);
}

bool OpenFSRefInWindow(const std::filesystem::path &file, WindowRef window, ImportChoice choice, bool noteRecent) {
  if (!gStartupDone) {
    gQueuedDocs.push_back(file);
    return false;
  }
  const LongCommand longCommand;
  // A long read, and then a long build, show the status window (after half
  // a second) and answer Escape, as the commands do.
  const uint8_t savedProgress = gShowProgress;
  gShowProgress = 1;
  // The file is read once, before anything is given up: one that would be
  // refused leaves the structure the window holds as it was.
  HeldStructureFile held;
  const bool read = ReadHeldFile(file, held);
  gShowProgress = savedProgress;
  CloseStatus();
  if (!read) {
    ShowLogWhenNoStructureShows();
    return false;
  }
  if (window && IsWindowFileOpen(window)) {
    // Another document takes the window's place: its unsaved changes are
    // saved or given up first, and its undo states go with it.
    if (IsWindowModified(window) && !MyConfirmSaveFile(window))
      return false;
    DeleteWindowUndoLists(window);
  }
  const bool madeWindow = window == nullptr && !(FrontGraphWindow() && !IsWindowFileOpen(FrontGraphWindow()));
  if (!window)
    window = CreateNewWindowForFile();
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return false;
  const bool document = held.kind == FileOpenKind::Document;
  // The build's Log line names the structure by its window's title.
  const QString before = PlainWindowTitle(w);
  w->setWindowTitle(QString::fromStdString(file.stem().string()));
  gShowProgress = 1;
  const bool ok = OpenHeldFile(window, std::move(held), choice);
  gShowProgress = savedProgress;
  CloseStatus();
  // Nothing half-read stays behind: a window made for the file goes, a
  // reused one is emptied.
  auto giveUp = [&] {
    w->setWindowTitle(before);
    if (madeWindow && GetNumGraphWindows() > 1)
      DisposeMainWindow(window);
    else
      ClearMainWindow(window);
    ShowLogWhenNoStructureShows();
    return false;
  };
  if (!ok || !FinishOpenedWindow(window, w, file, document))
    return giveUp();
  if (noteRecent)
    AddRecentFile(file);
  UpdateFloatingWindows();
  return true;
}

void OpenQueuedDocs() {
  std::vector<std::filesystem::path> files;
  files.swap(gQueuedDocs);
  for (const auto &file : files)
    OpenFSRefInWindow(file, nullptr);
}

LogSilence::LogSilence() { ++gLogSilenced; }
LogSilence::~LogSilence() { --gLogSilenced; }

// ---- Saving ------------------------------------------------------------------------

namespace {
// Save As with the dialog proposing the window's title in `folder`.
bool SaveWindowAsIn(WindowRef window, const std::filesystem::path &folder);
} // namespace

bool DoSaveWindow(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  if (!w || !IsWindowFileOpen(window))
    return false;
  if (w->File().empty() || IsBundledFile(w->File()))
    return DoSaveWindowAs(window);
  const std::filesystem::path file = w->File();
  const std::string quoted = "\"" + GraphWindowTitle(window) + "\"";
  // A read-only document is never replaced: its changes may go to another
  // file instead, which Save As proposes where the user last saved.
  if (IsDocumentReadOnly(file))
    return MyCFChoiceAlert(kAlertCautionAlert, "The document " + quoted + " is read-only.",
                           "Your changes cannot be saved in it. To keep them, save the document under another name.",
                           "Save As…", "Cancel") &&
           SaveWindowAsIn(window, LastDialogFolder());
  if (DocumentChangedOnDisk(window, file) &&
      !MyCFChoiceAlert(kAlertCautionAlert,
                       "The document " + quoted +
                           " has been changed by another application since it was opened or last saved.",
                       "Saving replaces the other application's version of the file with this window's structure.",
                       "Save Anyway", "Cancel"))
    return false;
  if (!DoWriteCrystalFile(window, file))
    return false;
  NoteDocumentFileOnDisk(window, file);
  return true;
}

bool DoSaveWindowAs(WindowRef window) { return SaveWindowAsIn(window, DialogStartFolder(window)); }

namespace {

bool SaveWindowAsIn(WindowRef window, const std::filesystem::path &folder) {
  MainWindow *w = GetMainWindow(window);
  const CrystalRec *crystal = GetWindowCrystal(window);
  if (!w || !crystal || !IsWindowFileOpen(window))
    return false;
  const char *extension = crystal->molecule ? ".ovmf" : ".ovdf";
  const std::string proposed = GraphWindowTitle(window) + extension;
  std::optional<std::filesystem::path> chosen = GetShellDialogs().GetSaveFile("Save As", proposed, folder);
  if (!chosen)
    return false;
  NoteDialogFolder(*chosen);
  std::filesystem::path file = *chosen;
  if (file.extension().empty()) {
    // The dialog asked about replacing the name it was given; the file
    // written has another.
    file += extension;
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(file, ec)) &&
        !MyCFChoiceAlert(kAlertCautionAlert,
                         "\"" + file.filename().string() + "\" already exists. Do you want to replace it?",
                         "A file of that name already exists in \"" + file.parent_path().filename().string() +
                             "\". Replacing it overwrites what it holds.",
                         "Replace", "Cancel"))
      return false;
  }
  if (!DoWriteCrystalFile(window, file))
    return false;
  NoteDocumentFileOnDisk(window, file);
  w->SetFile(file);
  MyRemoveWindowProxy(window);
  AddRecentFile(file);
  return true;
}

} // namespace

bool DoRevertWindow(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  if (!w || w->File().empty())
    return false;
  const std::filesystem::path file = w->File();
  if (IsWindowModified(window) &&
      !MyCFChoiceAlert(kAlertCautionAlert,
                       "Do you want to revert to the most recently saved version of the document \"" +
                           GraphWindowTitle(window) + "\"?",
                       "Your current changes will be lost.", "Revert", "Cancel"))
    return false;
  if (!OpenCrystalFile(window, file))
    return false;
  NoteDocumentFileOnDisk(window, file);
  ShowOpenedStructure(window);
  // Its undo state put off, the structure reverted to is a change to settle.
  if (!NoteWindowDocumentOpened(window))
    NoteWindowChange(window);
  return true;
}

bool MyConfirmSaveFile(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return false;
  switch (GetShellDialogs().ConfirmSaveChanges(GraphWindowTitle(window), gQuittingTime != 0)) {
  case SaveChangesAnswer::kSave:
    if (DoSaveWindow(window))
      return true;
    gQuittingTime = 0;
    return false;
  case SaveChangesAnswer::kDontSave:
    return true;
  case SaveChangesAnswer::kCancel:
    break;
  }
  gQuittingTime = 0;
  return false;
}

// ---- Recent files and examples ---------------------------------------------------------

void AddRecentFile(const std::filesystem::path &file) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(file, ec);
  for (CachedFileRecord *node = gPrefs.recentFiles; node; node = node->next)
    if (node->fileRef == absolute) {
      RemoveItemFromRecentFiles(node);
      break;
    }
  CachedFileRecord *node = CreateCachedFileRecord();
  if (!node)
    return;
  node->fileRef = absolute;
  node->caption = absolute.stem().string();
  uint32_t type = 0;
  if (FSRefGetFileType(absolute, &type) == 0)
    node->fileType = type;
  if (!AddItemToRecentFiles(node, kAddAtFront)) {
    DestroyCachedFileRecord(node);
    return;
  }
  while (GetNumRecentFiles() > kMaxRecentFiles) {
    CachedFileRecord *last = gPrefs.recentFiles;
    while (last->next)
      last = last->next;
    RemoveItemFromRecentFiles(last);
  }
  DrawOverviewRecentThumbnails();
}

void OpenRecentFile(const std::filesystem::path &file) {
  std::error_code ec;
  if (std::filesystem::exists(file, ec)) {
    OpenFSRefInWindow(file, nullptr);
    return;
  }
  const std::string message = "The file \"" + file.filename().string() + "\" could not be found.";
  const std::string why = "It is no longer at " + file.parent_path().string() +
                          ": it may have been moved, renamed or deleted. Remove it from Open Recent?";
  if (!MyCFChoiceAlert(kAlertCautionAlert, message, why, "Remove", "Keep"))
    return;
  for (CachedFileRecord *node = gPrefs.recentFiles; node; node = node->next)
    if (node->fileRef == file) {
      RemoveItemFromRecentFiles(node);
      break;
    }
  DrawOverviewRecentThumbnails();
}

std::vector<std::filesystem::path> RecentFiles() {
  std::vector<std::filesystem::path> files;
  for (CachedFileRecord *node = gPrefs.recentFiles; node; node = node->next)
    files.push_back(node->fileRef);
  return files;
}

std::filesystem::path BundledResourceFolder(const std::string &name) {
  if (const char *dir = std::getenv("OV_RESOURCES"); dir && *dir)
    return std::filesystem::path(dir) / name;
  const std::filesystem::path beside =
      std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) / "resources" / name;
  std::error_code ec;
  if (std::filesystem::is_directory(beside, ec))
    return beside;
  return std::filesystem::path(OV_RESOURCE_DIR) / name;
}

std::filesystem::path ExamplesFolder() { return BundledResourceFolder("examples"); }

bool IsBundledFile(const std::filesystem::path &file) {
  std::error_code ec;
  const std::filesystem::path place = std::filesystem::weakly_canonical(file, ec);
  if (ec)
    return false;
  for (const std::filesystem::path &folder : {BundledResourceFolder("Demo Files"), ExamplesFolder()}) {
    const std::filesystem::path root = std::filesystem::weakly_canonical(folder, ec);
    if (ec || root.empty())
      continue;
    auto [r, p] = std::mismatch(root.begin(), root.end(), place.begin(), place.end());
    if (r == root.end() && p != place.end())
      return true;
  }
  return false;
}

void DeleteWindowUndoLists(WindowRef window) {
  for (CachedFileRecord *node = GetWindowHistory(window); node; node = node->next)
    if (IsCacheDocument(node->fileRef))
      RemoveCacheDocument(node->fileRef);
  DestroyWindowHistory(window);
  DeleteWindowRedo(window);
}

std::vector<std::filesystem::path> ExampleFiles() {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator(ExamplesFolder(), ec))
    if (entry.is_regular_file(ec))
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

// ---- Quit ------------------------------------------------------------------------------

namespace {
// Files handed over while a quit was under way: they open once the quit
// has stopped, in front of the windows it leaves.
std::string gFilesHandedDuringQuit;
} // namespace

bool QuitApplication() {
  if (gQuittingTime)
    return false;
  // A hidden program comes to the front first; the quit is tried again.
  bool anyVisible = false;
  for (QWidget *w : QApplication::topLevelWidgets())
    anyVisible |= w->isVisible() && !w->isMinimized();
  bool anyMinimized = false;
  for (MainWindow *w : AllGraphWindows())
    anyMinimized |= w->isMinimized();
  if (!anyVisible && anyMinimized) {
    for (MainWindow *w : AllGraphWindows())
      w->showNormal();
    QTimer::singleShot(static_cast<int>(kQuitRetryDelay * 1000), qApp, [] { QuitApplication(); });
    return false;
  }
  gQuittingTime = 1;
  if (WindowRef front = FrontGraphWindow())
    RecordMainWindowPrefs(front);
  RecordWindowSettings();
  CreateAndSavePrefsFile();
  // Every structure window, front first; the last one is only cleared.
  std::vector<MainWindow *> windows = AllGraphWindows();
  bool closed = true;
  for (MainWindow *w : windows)
    if (!gQuittingTime || !CloseMainWindow(w->Ref())) {
      closed = false;
      break;
    }
  if (!closed || !gQuittingTime) {
    gQuittingTime = 0;
    // Files handed over meanwhile open once this command has ended.
    if (!gFilesHandedDuringQuit.empty())
      QTimer::singleShot(0, qApp, [files = std::exchange(gFilesHandedDuringQuit, {})] { HandOverFiles(files); });
    return false;
  }
  EmptyCacheFolder();
  QCoreApplication::exit(0);
  return true;
}

// ---- Start-up --------------------------------------------------------------------------

std::string WelcomeBanner() { return "Welcome to Orvalisphere " + GetProgramVersion(); }

bool OVInitialize(const std::vector<std::filesystem::path> &files, QtHostServices *host) {
  if (GetProgramVersion().empty())
    return false;
  // The Log's text exists before anything can report.
  if (!GetLogStore()) {
    auto *store = new LogStore(qApp);
    SetLogStore(store);
  }
  if (!host) {
    host = new QtHostServices();
    host->setParent(qApp);
  }
  SetHostServices(host);
  host->AttachLog(
      [](std::string_view text, const RGBColor &colour, size_t coloured) {
        if (gLogSilenced == 0)
          GetLogStore()->Append(text, colour, coloured);
      },
      [] { return OverviewLogShowing(); });
  for (const auto &file : files)
    gQueuedDocs.push_back(file);

  ReadPreferencesAtStartup();
  InstallEngineHooks(*host, [] { return AllGraphWindows(); });
  InstallPrintingCommands();
  InstallHelpCommands();
  StartDisplaySleepWatch();
  EmptyCacheFolder();
  StartSingleInstanceServer();

  WindowRef first = OpenMainWindow("Graphics", true);
  if (!first)
    return false;
  OpenWindows();
  FWrite(WelcomeBanner());
  FWrite("Structures open from File > Open, File > Examples, the command line or by dropping files on a window.");
  ScrollToTopOfLog();
  gStartupDone = 1;
  OpenQueuedDocs();
  return true;
}

int SaveScreenshotAndExit(const std::string &file) {
  int status = 1;
  QTimer::singleShot(1000, qApp, [&status, file] {
    if (MainWindow *w = Front())
      status = w->grab().save(QString::fromStdString(file), "PNG") ? 0 : 1;
    QCoreApplication::exit(status);
  });
  QCoreApplication::exec();
  return status;
}

// ---- One running program -----------------------------------------------------------------

namespace {

// The claim of the copy that runs: a lock held for as long as it runs.
QLockFile *gInstanceLock = nullptr;

// Takes the claim when no running copy holds it (a copy that is gone leaves
// a stale lock, which is taken over).
bool TryClaimSingleInstance() {
  if (gInstanceLock)
    return true;
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty())
    folder = QDir::tempPath();
  auto *lock = new QLockFile(folder + "/" + QString::fromStdString(SingleInstanceName()) + ".lock");
  lock->setStaleLockTime(0);
  if (!lock->tryLock(0)) {
    delete lock;
    return false;
  }
  gInstanceLock = lock;
  // Given up when the program ends, however it ends its event loop.
  QObject::connect(qApp, &QObject::destroyed, [] {
    delete gInstanceLock;
    gInstanceLock = nullptr;
  });
  return true;
}

} // namespace

std::string SingleInstanceName() {
  // One per user and preferences folder, so that a program run with other
  // preferences (a test, say) is a program of its own.
  return "orvalisphere-" + std::to_string(getuid()) + "-" +
         std::to_string(std::hash<std::string>{}(GetPrefsFolder().string()) % 1000000007u);
}

void HandOverFiles(const std::string &text) {
  if (text.empty())
    return;
  // Files handed over while a quit asks about unsaved changes stop the
  // quit: the user asked to see them, and they would close unseen. Its
  // question closes, and they open when it has.
  if (gQuittingTime) {
    gQuittingTime = 0;
    gFilesHandedDuringQuit += text;
    GetShellDialogs().WithdrawSaveQuestion();
    return;
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    if (end > start)
      OpenFSRefInWindow(text.substr(start, end - start), nullptr);
    start = end + 1;
  }
  if (MainWindow *w = Front(); w && w->isVisible()) {
    w->raise();
    w->activateWindow();
  }
}

bool PassFilesToRunningProgram(const std::vector<std::filesystem::path> &files) {
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(SingleInstanceName()));
  if (!socket.waitForConnected(500))
    return false;
  std::string text;
  for (const auto &file : files) {
    std::error_code ec;
    text += std::filesystem::absolute(file, ec).string() + "\n";
  }
  socket.write(text.data(), qint64(text.size()));
  socket.flush();
  socket.waitForBytesWritten(1000);
  socket.disconnectFromServer();
  return true;
}

SingleInstanceClaim ClaimSingleInstance(const std::vector<std::filesystem::path> &files) {
  // The copy that holds the claim may still be starting: its server answers
  // within moments.
  constexpr int kAnswerWaitMs = 20000, kRetryMs = 50;
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    if (TryClaimSingleInstance())
      return SingleInstanceClaim::kRun;
    if (PassFilesToRunningProgram(files))
      return SingleInstanceClaim::kHandedOver;
    if (waited.elapsed() > kAnswerWaitMs)
      return SingleInstanceClaim::kNoAnswer;
    QThread::msleep(kRetryMs);
  }
}

void StartSingleInstanceServer() {
  static QLocalServer *server = nullptr;
  if (server)
    return;
  server = new QLocalServer(qApp);
  const QString name = QString::fromStdString(SingleInstanceName());
  // A server left behind by a program that ended without closing it is
  // replaced, but only by the copy that holds the claim: another copy's
  // server is never taken over.
  if (!server->listen(name) && TryClaimSingleInstance()) {
    QLocalServer::removeServer(name);
    server->listen(name);
  }
  QObject::connect(server, &QLocalServer::newConnection, server, [] {
    while (QLocalSocket *socket = server->nextPendingConnection()) {
      auto *received = new QByteArray;
      QObject::connect(socket, &QLocalSocket::readyRead, socket,
                       [socket, received] { received->append(socket->readAll()); });
      QObject::connect(socket, &QLocalSocket::disconnected, socket, [socket, received] {
        received->append(socket->readAll());
        HandOverFiles(received->toStdString());
        delete received;
        socket->deleteLater();
      });
    }
  });
}
