// The Overview window: one floating window with five tabs, four panes of
// thumbnails of cached structure documents (Favourites, Views, History,
// Recent) and the Log. It owns the tab choice, the list behind each tab, the
// selection, the status bar, the thumbnail grid and its drawing, the list
// operations, playback and the batch exports.
//
// The window is built on its first show and only hidden by its close box.
#pragma once

#include "overview/ThumbnailGrid.h"

#include "CachedFiles.h"
#include "HostServices.h"
#include "Utilities.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLineEdit;
class QMenu;
class QScrollBar;
class QSlider;
class QTabBar;
class QTextEdit;
class QToolButton;
class QLabel;

// ---- Commands ---------------------------------------------------------------------
inline constexpr uint32_t kCmdShowFavourites = FourCharsToLong("*Fav");
inline constexpr uint32_t kCmdShowViews = FourCharsToLong("*Vuw");
inline constexpr uint32_t kCmdShowHistory = FourCharsToLong("*Hst");
inline constexpr uint32_t kCmdShowRecent = FourCharsToLong("*Rec");
inline constexpr uint32_t kCmdToggleOverview = FourCharsToLong("OvTg");
inline constexpr uint32_t kCmdLoadSelected = FourCharsToLong("Same");
inline constexpr uint32_t kCmdLoadNewWindow = FourCharsToLong("+Win");
inline constexpr uint32_t kCmdNewWindowFromCurrent = FourCharsToLong("+WVu");
inline constexpr uint32_t kCmdRemoveThumbnail = FourCharsToLong("Rmve");
inline constexpr uint32_t kCmdReplaceThumbnail = FourCharsToLong("Rplc");
inline constexpr uint32_t kCmdClearCache = FourCharsToLong("-Cch");
inline constexpr uint32_t kCmdRenameViews = FourCharsToLong("CcRn");
inline constexpr uint32_t kCmdSortAscending = FourCharsToLong("CcS+");
inline constexpr uint32_t kCmdSortDescending = FourCharsToLong("CcS-");
inline constexpr uint32_t kCmdLoadExamples = FourCharsToLong("LExs");
inline constexpr uint32_t kCmdRevealFile = FourCharsToLong("*Fnd");
inline constexpr uint32_t kCmdFilePath = FourCharsToLong("Path");
inline constexpr uint32_t kCmdPlay = FourCharsToLong("Play");
inline constexpr uint32_t kCmdPlayCache = FourCharsToLong("PlCc");
inline constexpr uint32_t kCmdPlayAgain = FourCharsToLong("PlyA");
inline constexpr uint32_t kCmdMakeMovie = FourCharsToLong("CcMM");
inline constexpr uint32_t kCmdCacheMovieOptions = FourCharsToLong("CcMO");
inline constexpr uint32_t kCmdExportCached = FourCharsToLong("CcEx");
inline constexpr uint32_t kCmdSaveCached = FourCharsToLong("+Cch");
inline constexpr uint32_t kCmdAddFiles = FourCharsToLong("+OVF");
inline constexpr uint32_t kCmdPreferences = FourCharsToLong("Pref");
// The tab control's commands.
inline constexpr uint32_t kCmdTabFavourites = FourCharsToLong("tFav");
inline constexpr uint32_t kCmdTabViews = FourCharsToLong("tVue");
inline constexpr uint32_t kCmdTabHistory = FourCharsToLong("tHst");
inline constexpr uint32_t kCmdTabRecent = FourCharsToLong("tRec");
inline constexpr uint32_t kCmdTabLog = FourCharsToLong("tLog");

enum OverviewTab : uint16_t { kFavouritesTab = 1, kViewsTab = 2, kHistoryTab = 3, kRecentTab = 4, kLogTab = 5 };

// ---- State --------------------------------------------------------------------------
extern uint16_t gOverviewTabChoice;
extern int gThumbnailWidth;       // pixels; the height is width x 3 / 4
extern int gTargetThumbnailWidth; // the width a resize comes back to
extern CachedFileRecord *gSelectedCachePtr;
extern uint8_t gOverviewPlayInProgress;
// The item names of the tabs, by tab (0 unknown).
extern const char *const gCacheDescription[6];

// The selection colour of frames and drop markers.
inline const QColor kThumbnailSelectionColor = QColor::fromRgbF(0.2549f, 0.549f, 0.898f);

// What the window asks of the structure windows; the toolbars install it.
struct OverviewHooks {
  // A structure window's own toolbar item: enable, and a new label (null
  // keeps it). Each window's toolbar has its own Play item.
  std::function<void(WindowRef, uint32_t command, bool enable, const char *label)> setToolbarItem;
};
extern OverviewHooks gOverviewHooks;

// The questions the Overview asks: file and folder dialogs, alerts with two
// buttons. The program installs the Qt dialogs; tests answer them.
class OverviewDialogs {
public:
  virtual ~OverviewDialogs() = default;
  virtual std::vector<std::filesystem::path> GetFiles(const std::string &message) = 0;
  // A folder, or none when cancelled.
  virtual std::optional<std::filesystem::path> GetFolder(const std::string &message) = 0;
  // True for Continue.
  virtual bool Confirm(const std::string &message, const std::string &explanation) = 0;
  // Shows a file in the desktop's file manager.
  virtual void Reveal(const std::filesystem::path &file) = 0;
};
OverviewDialogs &GetOverviewDialogs();
void SetOverviewDialogs(OverviewDialogs *dialogs); // null: the Qt dialogs

class OverviewWindow;
class ThumbnailPane;

// ---- The window ---------------------------------------------------------------------
OverviewWindow *GetOverviewWindow(); // null before the first show
bool IsOverviewWindowVisible();
int InitOverviewWindow();
void DoShowOverviewWindow();
void ToggleShowOverviewWindow();
void DoOverviewTabChoice(uint16_t tab);
void SetOverviewTabChoice(uint16_t tab);
uint16_t GetOverviewTabChoice();
void SetOverviewThumbnailHeight(uint16_t height);
uint16_t GetOverviewThumbnailHeight();
bool IsOverviewFavouritesPaneVisible();
bool IsOverviewViewsPaneVisible();
bool IsOverviewHistoryPaneVisible();
bool IsOverviewRecentPaneVisible();
bool IsOverviewLogVisible();
// True while the window shows with its Log tab.
bool OverviewLogShowing();
// (The engine's DoShowOverviewLog shows the Log tab only while the window
// shows; the Log command uses DoOverviewTabChoice(kLogTab).)
void UpdateOverviewWindow();
void DrawOverviewFavouriteThumbnails();
void DrawOverviewRecentThumbnails();
void DrawOverviewHistoryThumbnails();
void DrawOverviewViewThumbnails();
// The status bar's text for the current tab.
std::string OverviewStatusText();
void DrawStatusbar();
// Records the window's frame, visibility, tab and thumbnail size in the
// preferences.
void RecordOverviewWindowPrefs();

// ---- Lists --------------------------------------------------------------------------
// The window whose Views and History the tabs show: the front structure
// window, or while playback or a batch runs in a window of its own, the
// window it was started from.
WindowRef OverviewListWindow();
void SetOverviewListWindow(WindowRef window); // none: the front window again
int GetNumThumbnails();
CachedFileRecord *GetCurrentWindowCache();
void SetCurrentWindowCache(CachedFileRecord *head);
CachedFileRecord *GetCachePtrWithRectID(int index);
int GetRectIDWithCachePtr(const CachedFileRecord *record); // -1 when not in the list
// Clears a selection that is no longer in the current list; answers it.
CachedFileRecord *ValidSelection();
void SelectThumbnail(int index);

// ---- Layout and drawing -------------------------------------------------------------
void UpdateThumbnailRects();
void UpdateThumbnailsSlider();
void DrawThumbnails();
bool DoScrollThumbnailsToSelection();
void ScrollThumbnailsToRectID(int pointY, int index);
const ThumbnailLayout &CurrentThumbnailLayout();
int ThumbnailScrollValue();
// The image a record shows: its thumbnail, dropped when narrower than the
// width, else a document's stored preview at 1.5 x the width, kept.
QImage ThumbnailImageForRecord(CachedFileRecord *record);
void AnimateThumbnailLoading(CachedFileRecord *record);

// ---- List operations ----------------------------------------------------------------
// Loads a record of the current tab into the window: a file of the
// Favourites or Recent as the window's document (asking first about unsaved
// changes), a view or undo state as the window's structure. True when loaded.
// A file the user loads joins Open Recent; Play and the batches pass
// `noteRecent` false.
bool LoadCacheRecordIntoWindow(CachedFileRecord *record, WindowRef window, bool noteRecent = true);
void DoLoadFromCache(CachedFileRecord *record, bool animate);
void DoLoadNewWindowFromCache(CachedFileRecord *record, bool animate);
void DoLoadNewWindowWithCurrentStructure();
std::string CreateWindowTitleCopy(WindowRef window);
void DoDeleteSelectedThumbnail();
void DoReplaceSelectedThumbnail();
void DoClearCache();
void DoRenameViewsNumerically();
void DoSortCacheFiles(bool ascending);
bool MoveThumbnailToRectID(int from, int to, bool before);
bool BeginThumbnailEditing(int index);
void SaveThumbnailEditing();
void EndThumbnailEditing();
bool IsThumbnailEditing();
void DoSelectLastViewThumbnail();
void DoSelectViewThumbnail(int index); // in the Views tab, by its place
void LoadOverviewFilesFromDemoFolder();
void DoShowSelectedThumbnailInFinder();
std::string GetFilePathForSelectedThumbnail();
bool VerifyViewsCache(WindowRef window);
void Debug_PrintViewsCache(WindowRef window);
void Debug_PrintRecentFilesCache();
// Opens a file into the window and keeps the result as a new view.
bool OpenFSRefInWindowAndCacheView(const std::filesystem::path &file, WindowRef window);
// The '+OVF' add-files command, and the files it (or a drop) adds to the
// Favourites or the Views.
void DoAddFilesToOverview();
void AddFilesToOverview(const std::vector<std::filesystem::path> &files);

// The press/move/release state machine of a mouse-down in the pane (pane
// coordinates; `global` the screen point). Answers whether it was handled.
bool TrackThumbnails(QPoint point, bool contextual);
void TrackThumbnailsMove(QPoint point, QPoint global);
void TrackThumbnailsRelease(QPoint point, QPoint global);
// While a drag shows a drop marker: the target.
bool ThumbnailDropMarker(DropTarget *target);

// ---- Playback -----------------------------------------------------------------------
bool GetOverviewPlayOptions(float *seconds, uint8_t *rotate, uint8_t *loop, uint8_t *mode, uint8_t *fullScreen);
void DoPlayCacheFiles();
void DoPlayCacheFilesAgain();
bool DoPlayNextStructure(bool loop, int mode);
// One step of the running playback (the timer's action); tests call it.
void OverviewPlayStep();
void StopOverviewPlay();
bool OverviewPlaying();
// The degrees turned per frame of the current spinning thumbnail.
float OverviewPlayRotationStep();

// The play options dialog, from its form; the program runs it modally.
class OverviewPlayDialog;
using PlayDialogRunner = std::function<bool(OverviewPlayDialog &)>;
// Tests install a runner that fills the dialog and answers OK or Cancel.
void SetPlayDialogRunner(PlayDialogRunner runner);

// ---- The work window of playback and batches ----------------------------------------
// A new structure window, front, laid out as the front window, in which
// playback or a batch loads its entries; the Views and History tabs stay
// with the window they showed. None when it cannot be made.
WindowRef OpenOverviewWorkWindow();
// Readies the work window for its next entry; false once it has gone.
bool PrepareOverviewWorkWindow(WindowRef work);
// Closes the work window (no question: it holds nothing of the user's) and
// brings the window it was opened from to the front again.
void CloseOverviewWorkWindow(WindowRef work);
// The picture of a document or text file as a structure window would show
// it, drawn off screen (no Log lines, no alerts, no change to any window);
// a null image when it cannot be read.
QImage DrawFileOffScreen(const std::filesystem::path &file);

// ---- Batches ------------------------------------------------------------------------
void DoExportGraphicsFromCacheFiles();
void DoSaveCacheFiles();
void DoMakeMovieFromCachedViews();
void DoOverviewWindowMovieOptions();
// A batch in progress steps on a timer; tests call the step.
void OverviewBatchStep();
bool OverviewBatchRunning();
// A file name from a title: "/" and NUL replaced, "." and ".." refused,
// made unique in the folder with " 2", " 3", ... Never an existing item.
std::filesystem::path UniqueBatchFile(const std::filesystem::path &folder, const std::string &title,
                                      const std::string &extension);

// ---- Commands -----------------------------------------------------------------------
// Joins the Overview's commands to the command chain (start-up).
void InstallOverviewCommands();
// The thumbnails' contextual menu.
QMenu *OverviewContextMenu();

// ---- Preferences window -------------------------------------------------------------
class PreferencesDialog;
using PreferencesRunner = std::function<bool(PreferencesDialog &)>;
void SetPreferencesRunner(PreferencesRunner runner);
// The choice window: true for OK with the control's value in `choice`
// (stored whatever the button).
bool GetPreferences(int16_t *choice);
// The Preferences command.
void DoPreferencesCommand();
