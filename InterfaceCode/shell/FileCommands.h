// The shell's file work: opening files into structure windows, saving,
// reverting, the recent-files list, the examples, the queue of files that
// arrive during start-up, the menus, start-up and quit.
#pragma once

#include "HostServices.h"
#include "import/ImportPath.h"

#include <filesystem>
#include <string>
#include <vector>

class QMainWindow;
class QtHostServices;

// Most recent files kept in the Open Recent menu.
inline constexpr int kMaxRecentFiles = 10;
// A quit asked while the program is hidden is retried this much later.
inline constexpr double kQuitRetryDelay = 0.1;

// Gives a window the program's menu bar.
void InstallMenuBar(QMainWindow *window);

// The window for a file: the front structure window when it holds no file,
// otherwise a new (hidden) one.
WindowRef CreateNewWindowForFile();
// Opens the file into `window`, or with none into the window
// `CreateNewWindowForFile` gives. Before start-up is done the file is queued.
// A window that holds a document with unsaved changes asks the save question
// first (Cancel opens nothing); the document it held takes its undo states
// with it.
// A file that cannot be read gives its alert and leaves no new window.
// Of a file of several structures, the user chooses which to open (each
// other one in a window of its own), or with TakeFirst the first is taken
// and the Log says how many others there are. A user's open puts the file
// in Open Recent; Play and the batches pass `noteRecent` false. True when
// the structure shows.
bool OpenFSRefInWindow(const std::filesystem::path &file, WindowRef window,
                       ImportChoice choice = ImportChoice::Ask, bool noteRecent = true);
// Builds one more structure read from a file in a new window of its own.
bool OpenStructureInNewWindow(const std::filesystem::path &file, ImportedStructure &&structure);
// While one lives, nothing reaches the Log: work the user did not ask for
// (drawing a thumbnail) leaves no lines there.
class LogSilence {
public:
  LogSilence();
  ~LogSilence();
  LogSilence(const LogSilence &) = delete;
  LogSilence &operator=(const LogSilence &) = delete;
};
// Opens the files that arrived before start-up was done.
void OpenQueuedDocs();

// Saves the window to its document, or asks for one (Save As) when it has
// none; true when saved.
bool DoSaveWindow(WindowRef window);
bool DoSaveWindowAs(WindowRef window);
// Reads the window's document again, dropping the changes.
bool DoRevertWindow(WindowRef window);
// The save-changes question for a closing window: true when the window may
// close (saved, or changes discarded); false on Cancel, which also stops a
// quit in progress.
bool MyConfirmSaveFile(WindowRef window);

// The recent-files list (in the preferences): the file moves to the front.
void AddRecentFile(const std::filesystem::path &file);
std::vector<std::filesystem::path> RecentFiles();
// Opens an Open Recent item; a file no longer there is named in an alert
// that offers to remove its entry.
void OpenRecentFile(const std::filesystem::path &file);
// A folder of the program's bundled resources ("examples", "Element Tables"):
// under $OV_RESOURCES when set, else beside the program, else in the source tree.
std::filesystem::path BundledResourceFolder(const std::string &name);
// The bundled example structures, by name.
std::filesystem::path ExamplesFolder();
std::vector<std::filesystem::path> ExampleFiles();
// True for a file among the bundled samples ("Demo Files") and examples:
// they are read, never saved over (saving asks for a file of one's own).
bool IsBundledFile(const std::filesystem::path &file);
// Deletes the window's undo states (its History and Redo lists and their
// cache documents); its Views stay.
void DeleteWindowUndoLists(WindowRef window);

// The shell's quit: saves window settings and preferences, closes every
// structure window (asking to save modified ones; a cancel stops the quit),
// empties the cache folder and ends the event loop. True when quitting.
bool QuitApplication();

// Start-up, in order: version, host services, preferences over the factory
// copy, the handlers and timers, the program globals, the empty cache
// folder, the first structure window "Graphics", the welcome banner in the
// Log, then the documents that arrived meanwhile. `files` are the files
// given on the command line. `host` is the host services to install (the
// program's own when none is given); it must outlive the run.
bool OVInitialize(const std::vector<std::filesystem::path> &files, QtHostServices *host = nullptr);
// The welcome banner's first line.
std::string WelcomeBanner();

// Runs the event loop a moment, saves a picture of the front structure
// window as PNG and answers the program's exit status.
int SaveScreenshotAndExit(const std::string &file);

// Files handed over by a second launch of the program (one path a line);
// they stop a quit in progress.
void HandOverFiles(const std::string &text);
// The local server name of the running program (one per user).
std::string SingleInstanceName();
// Tries to pass the files to a running program; true when one took them.
bool PassFilesToRunningProgram(const std::vector<std::filesystem::path> &files);
// Whether this launch is the program that runs: it takes the claim (a lock
// in the runtime folder) atomically, so of copies started together exactly
// one runs; the others hand their files to it. kNoAnswer: a running copy
// holds the claim but took no files within seconds.
enum class SingleInstanceClaim { kRun, kHandedOver, kNoAnswer };
SingleInstanceClaim ClaimSingleInstance(const std::vector<std::filesystem::path> &files);
// Listens for later launches.
void StartSingleInstanceServer();
