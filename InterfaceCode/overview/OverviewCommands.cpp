// The Overview window's commands in the menus and its contextual menu, and
// the Preferences window with the command that acts on its choice.
#include "overview/OverviewPrivate.h"
#include "overview/PreferencesDialog.h"
#include "ui_Preferences.h"

#include "inspectors/InspectorKit.h"
#include "shell/Commands.h"
#include "shell/LogStore.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/PaneDrawing.h"
#include "structurewindow/StructureWindow.h"

#include "Alerts.h"
#include "Preferences.h"
#include "documents/CacheDocuments.h"
#include "documents/PrefsFile.h"
#include "documents/UndoHistory.h"
#include "export/PictureServices.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QMenu>
#include <QPointer>
#include <algorithm>

namespace {

const uint32_t kContextCommands[] = {kCmdLoadSelected,
                                     kCmdLoadNewWindow,
                                     0,
                                     kCmdReplaceThumbnail,
                                     kCmdRemoveThumbnail,
                                     0,
                                     kCmdSortAscending,
                                     kCmdSortDescending,
                                     kCmdRenameViews,
                                     0,
                                     kCmdRevealFile,
                                     kCmdFilePath,
                                     0,
                                     kCmdPlay,
                                     kCmdPlayAgain,
                                     0,
                                     kCmdExportCached,
                                     kCmdSaveCached,
                                     kCmdMakeMovie,
                                     kCmdCacheMovieOptions,
                                     0,
                                     kCmdClearCache};

bool ThumbnailTabShowing() { return gOverviewTabChoice >= kFavouritesTab && gOverviewTabChoice <= kRecentTab; }
bool FavouritesOrViews() { return gOverviewTabChoice == kFavouritesTab || gOverviewTabChoice == kViewsTab; }

OSStatus OverviewCommand(uint32_t command, const QVariant &) {
  switch (command) {
  case kCmdShowFavourites:
    DoOverviewTabChoice(kFavouritesTab);
    return kNoErr;
  case kCmdShowViews:
    DoOverviewTabChoice(kViewsTab);
    return kNoErr;
  case kCmdShowHistory:
    DoOverviewTabChoice(kHistoryTab);
    return kNoErr;
  case kCmdShowRecent:
    DoOverviewTabChoice(kRecentTab);
    return kNoErr;
  case FourCharsToLong("*Log"):
    DoOverviewTabChoice(kLogTab);
    return kNoErr;
  case kCmdToggleOverview:
    ToggleShowOverviewWindow();
    return kNoErr;
  case kCmdLoadSelected:
    DoLoadFromCache(ValidSelection(), true);
    return kNoErr;
  case kCmdLoadNewWindow:
    DoLoadNewWindowFromCache(ValidSelection(), true);
    return kNoErr;
  case kCmdNewWindowFromCurrent:
    DoLoadNewWindowWithCurrentStructure();
    return kNoErr;
  case kCmdRemoveThumbnail:
    DoDeleteSelectedThumbnail();
    return kNoErr;
  case kCmdReplaceThumbnail:
    DoReplaceSelectedThumbnail();
    return kNoErr;
  case kCmdClearCache:
    DoClearCache();
    return kNoErr;
  case kCmdRenameViews:
    DoRenameViewsNumerically();
    return kNoErr;
  case kCmdSortAscending:
    DoSortCacheFiles(true);
    return kNoErr;
  case kCmdSortDescending:
    DoSortCacheFiles(false);
    return kNoErr;
  case kCmdLoadExamples:
    LoadOverviewFilesFromDemoFolder();
    DoOverviewTabChoice(kFavouritesTab);
    return kNoErr;
  case kCmdRevealFile:
  case kCmdFilePath:
    DoShowSelectedThumbnailInFinder();
    return kNoErr;
  case kCmdPlay:
  case kCmdPlayCache:
    DoPlayCacheFiles();
    return kNoErr;
  case kCmdPlayAgain:
    DoPlayCacheFilesAgain();
    return kNoErr;
  case kCmdMakeMovie:
    DoMakeMovieFromCachedViews();
    return kNoErr;
  case kCmdCacheMovieOptions:
    DoOverviewWindowMovieOptions();
    return kNoErr;
  case kCmdExportCached:
    DoExportGraphicsFromCacheFiles();
    return kNoErr;
  case kCmdSaveCached:
    DoSaveCacheFiles();
    return kNoErr;
  case kCmdPreferences:
    DoPreferencesCommand();
    return kNoErr;
  default:
    return kEventNotHandledErr;
  }
}

OSStatus OverviewStatus(uint32_t command, QAction *action) {
  WindowRef front = FrontGraphWindow();
  const bool selection = ValidSelection() != nullptr;
  const bool busy = gOverviewPlayInProgress != 0;
  switch (command) {
  case kCmdShowFavourites:
  case kCmdShowViews:
  case kCmdShowHistory:
  case kCmdShowRecent:
  case kCmdToggleOverview:
  case kCmdLoadExamples:
  case kCmdPreferences:
    action->setEnabled(true);
    return kNoErr;
  case kCmdLoadSelected:
  case kCmdLoadNewWindow:
    action->setEnabled(selection && front && !busy);
    return kNoErr;
  case kCmdRemoveThumbnail:
    action->setEnabled(selection && !busy);
    return kNoErr;
  case kCmdNewWindowFromCurrent:
    action->setEnabled(IsWindowFileOpen(front) && !busy);
    return kNoErr;
  case kCmdReplaceThumbnail:
    action->setEnabled(selection && gOverviewTabChoice == kViewsTab && IsWindowFileOpen(front) && !busy);
    return kNoErr;
  case kCmdClearCache:
    action->setEnabled(!busy && (gOverviewTabChoice == kLogTab || GetNumThumbnails() > 0));
    return kNoErr;
  case kCmdRenameViews:
  case kCmdMakeMovie:
    action->setEnabled(!busy && gOverviewTabChoice == kViewsTab && GetNumThumbnails() > 0);
    return kNoErr;
  case kCmdSortAscending:
  case kCmdSortDescending:
    action->setEnabled(!busy && FavouritesOrViews() && GetNumThumbnails() > 1);
    return kNoErr;
  case kCmdRevealFile:
    action->setEnabled(selection && (gOverviewTabChoice == kFavouritesTab || gOverviewTabChoice == kRecentTab));
    return kNoErr;
  case kCmdFilePath: {
    // The item shows where the selected file lies.
    const std::string path = GetFilePathForSelectedThumbnail();
    action->setText(path.empty() || path == "n/a" ? QString("Path") : MenuItemTitle(QString::fromStdString(path)));
    action->setEnabled(!path.empty() && path != "n/a");
    return kNoErr;
  }
  case kCmdPlay:
  case kCmdPlayCache:
  case kCmdPlayAgain:
    action->setEnabled(!busy && front && FavouritesOrViews() && GetNumThumbnails() > 0);
    return kNoErr;
  case kCmdExportCached:
    action->setEnabled(!busy && front && ThumbnailTabShowing() && gOverviewTabChoice != kHistoryTab &&
                       GetNumThumbnails() > 0);
    return kNoErr;
  case kCmdSaveCached:
    action->setEnabled(!busy && front && FavouritesOrViews() && GetNumThumbnails() > 0);
    return kNoErr;
  case kCmdCacheMovieOptions:
    action->setEnabled(front != nullptr && !busy);
    return kNoErr;
  default:
    return kEventNotHandledErr;
  }
}

PreferencesRunner gPreferencesRunner;

// The preferences that apply to the running program and its front window.
void ApplyPreferences() {
  gFillScreen = gPrefs.fillScreen;
  SetOverviewTabChoice(gPrefs.overviewTabChoice);
  SetOverviewThumbnailHeight(gPrefs.thumbnailHeight);
  gTargetThumbnailWidth = gThumbnailWidth;
  WindowRef front = FrontGraphWindow();
  if (CrystalRec *crystal = GetWindowCrystal(front)) {
    CopyPrefsToCrystal(&gPrefs, crystal);
    if (IsWindowFileOpen(front))
      NewPlot(front, false, true);
    UpdateModelOptions();
  }
  if (IsOverviewWindowVisible())
    DoShowOverviewWindow();
}

} // namespace

OSStatus OverviewWindowCommand(uint32_t command) {
  switch (command) {
  case kCmdTabFavourites:
    DoOverviewTabChoice(kFavouritesTab);
    return kNoErr;
  case kCmdTabViews:
    DoOverviewTabChoice(kViewsTab);
    return kNoErr;
  case kCmdTabHistory:
    DoOverviewTabChoice(kHistoryTab);
    return kNoErr;
  case kCmdTabRecent:
    DoOverviewTabChoice(kRecentTab);
    return kNoErr;
  case kCmdTabLog:
    DoOverviewTabChoice(kLogTab);
    return kNoErr;
  case kCmdAddFiles:
    DoAddFilesToOverview();
    return kNoErr;
  default:
    return ProcessCommand(command);
  }
}

QMenu *OverviewContextMenu() {
  static QPointer<QMenu> menu;
  if (!menu) {
    menu = new QMenu;
    for (uint32_t code : kContextCommands) {
      if (code == 0)
        menu->addSeparator();
      else if (QAction *action = GetCommandAction(code))
        menu->addAction(action);
    }
    QObject::connect(menu, &QMenu::aboutToShow, menu, [] { UpdateMenuStatus(menu); });
  }
  return menu;
}

void InstallOverviewCommands() {
  static bool installed = false;
  if (installed)
    return;
  installed = true;
  AddCommandHandler(OverviewCommand, OverviewStatus);
  // A new undo snapshot shows on the History tab at once.
  // Its thumbnail is the picture its window shows, which is that state.
  SetUndoStateListener([](WindowRef window, CachedFileRecord *made) {
    if (made && !made->thumbnail) {
      QImage image;
      if (CopyWindowPreviewAsImageRef(window, &image) == 0)
        SetCachedFileThumbnail(made, image);
    }
    DrawOverviewHistoryThumbnails();
  });
  AddWindowOpener([] {
    if (gPrefs.overviewVisible)
      DoShowOverviewWindow();
  });
}

// ---- Preferences window ---------------------------------------------------------------------

PreferencesDialog::PreferencesDialog(QWidget *parent) : QDialog(parent), ui(new Ui::Preferences) {
  ui->setupUi(this);
  setWindowModality(Qt::ApplicationModal);
  connect(ui->buttons, &QDialogButtonBox::accepted, this, [this] { Command(FourCharsToLong("ok  ")); });
  connect(ui->buttons, &QDialogButtonBox::rejected, this, [this] { Command(FourCharsToLong("not!")); });
}

PreferencesDialog::~PreferencesDialog() { delete ui; }

int PreferencesDialog::Choice() const { return ui->choice->currentIndex() + 1; }
void PreferencesDialog::SetChoice(int choice) { ui->choice->setCurrentIndex(std::clamp(choice, 1, 3) - 1); }

OSStatus PreferencesDialog::Command(uint32_t command) {
  if (command == FourCharsToLong("ok  ")) {
    result_ = true;
    accept();
    return kNoErr;
  }
  if (command == FourCharsToLong("not!") || command == FourCharsToLong("quit")) {
    result_ = false;
    reject();
    return command == FourCharsToLong("quit") ? kEventNotHandledErr : kNoErr;
  }
  return kEventNotHandledErr;
}

void SetPreferencesRunner(PreferencesRunner runner) { gPreferencesRunner = std::move(runner); }

bool GetPreferences(int16_t *choice) {
  PreferencesDialog dialog;
  dialog.SetChoice(*choice);
  const bool ok = gPreferencesRunner ? gPreferencesRunner(dialog) : (dialog.exec(), dialog.Result());
  *choice = int16_t(dialog.Choice());
  return ok && dialog.Result();
}

void DoPreferencesCommand() {
  int16_t choice = 1;
  if (!GetPreferences(&choice))
    return;
  switch (choice) {
  case 1:
    if (WindowRef front = FrontGraphWindow()) {
      RecordMainWindowPrefs(front);
      CopyCrystalPrefs(GetWindowCrystal(front), &gPrefs);
    }
    RecordOverviewWindowPrefs();
    CreateAndSavePrefsFile(); // a failure is said there
    break;
  case 2:
    ReadPrefsFile();
    ApplyPreferences();
    break;
  case 3: {
    // The factory values; the Favourites and Recent lists are kept.
    CachedFileRecord *recent = gPrefs.recentFiles, *favourites = gPrefs.favouriteFiles;
    gPrefs = gFactoryPrefs;
    gPrefs.recentFiles = recent;
    gPrefs.favouriteFiles = favourites;
    ApplyPreferences();
    break;
  }
  default:
    break;
  }
}
