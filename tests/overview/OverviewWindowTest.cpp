// The Overview window driven as a user drives it: tabs, keys, drags in the
// pane, the list commands, playback stepped with the host clock, the batch
// exports checked with ffprobe and ImageMagick, and the Preferences window.
#include "overview/OverviewPanes.h"
#include "overview/OverviewPlay.h"
#include "overview/OverviewPrivate.h"
#include "overview/PreferencesDialog.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "shell/LogStore.h"
#include "shell/QtHostServices.h"
#include "shell/Startup.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "structurewindow/ZapperPuff.h"

#include "Preferences.h"
#include "StructureArrays.h"
#include "documents/CacheDocuments.h"
#include "documents/CrystalDocument.h"
#include "documents/PrefsFile.h"
#include "export/PictureExport.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QUrl>
#include <QWheelEvent>
#include <cstdio>
#include <deque>
#include <fstream>
#include <gtest/gtest.h>

#include "ProgramEnvironment.h"

namespace fs = std::filesystem;

namespace {

class OverviewHost : public QtHostServices {
public:
  std::vector<AlertRequest> alerts;
  std::vector<std::string> saveDialogs;
  std::deque<fs::path> savePaths;
  std::vector<std::string> sounds;
  uint64_t now = 1000000;
  std::function<void()> duringSaveDialog; // what happens while the save dialog shows
  int RunAlert(const AlertRequest &alert) override {
    alerts.push_back(alert);
    return 1;
  }
  uint64_t NowMicroseconds() override { return now; }
  int SaveFileDialog(std::string_view prompt, std::string_view, fs::path *file) override {
    saveDialogs.emplace_back(prompt);
    if (duringSaveDialog)
      duringSaveDialog();
    if (savePaths.empty())
      return kUserCanceledErr;
    *file = savePaths.front();
    savePaths.pop_front();
    return 0;
  }
  void PlaySound(std::string_view name) override { sounds.emplace_back(name); }
};

class ScriptedDialogs : public OverviewDialogs {
public:
  std::optional<fs::path> folder;
  std::vector<fs::path> files;
  bool confirm = true;
  std::vector<std::string> asked;
  std::vector<fs::path> revealed;
  std::vector<fs::path> GetFiles(const std::string &m) override {
    asked.push_back(m);
    return files;
  }
  std::optional<fs::path> GetFolder(const std::string &m) override {
    asked.push_back(m);
    return folder;
  }
  bool Confirm(const std::string &m, const std::string &) override {
    asked.push_back(m);
    return confirm;
  }
  void Reveal(const fs::path &f) override { revealed.push_back(f); }
};

// The save question answered from a queue (Don't Save when it is empty),
// and the Save dialog choosing `saveFile`.
class ScriptedShellDialogs : public NoShellDialogs {
public:
  std::deque<SaveChangesAnswer> answers;
  std::vector<std::string> asked;
  std::optional<fs::path> saveFile;
  int saveDialogs = 0;
  SaveChangesAnswer ConfirmSaveChanges(const std::string &name, bool) override {
    asked.push_back(name);
    if (answers.empty())
      return SaveChangesAnswer::kDontSave;
    const SaveChangesAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::optional<fs::path> GetSaveFile(const std::string &, const std::string &, const fs::path &) override {
    ++saveDialogs;
    return saveFile;
  }
};

OverviewHost *gHost = nullptr;
ScriptedDialogs gDialogs;
ScriptedShellDialogs gShellDialogs;

ProgramEnvironmentFor<OverviewHost> *const gProgram =
    new ProgramEnvironmentFor<OverviewHost>("ovover", &gHost, &gShellDialogs, [] { SetOverviewDialogs(&gDialogs); });
const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(gProgram);

class OverviewTest : public ::testing::Test {
protected:
  void SetUp() override {
    gHost->alerts.clear();
    gHost->saveDialogs.clear();
    gHost->sounds.clear();
    gDialogs = ScriptedDialogs{};
    gShellDialogs.answers.clear();
    gShellDialogs.asked.clear();
    gShellDialogs.saveFile.reset();
    gShellDialogs.saveDialogs = 0;
    DestroyFavouriteFiles();
    DestroyRecentFiles();
    DoShowOverviewWindow();
    GetOverviewWindow()->resize(440, 360);
    QCoreApplication::processEvents();
  }
  void TearDown() override {
    StopOverviewPlay();
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows())) {
      ClearWindowModified(w->Ref());
      DoCloseMainWindow(w->Ref());
    }
    QCoreApplication::processEvents();
  }
  static WindowRef OpenExample(const char *name) {
    if (!OpenFSRefInWindow(ExamplesFolder() / name, nullptr))
      return nullptr;
    QCoreApplication::processEvents();
    return FrontGraphWindow();
  }
  // A window with `n` views captioned "v1", "v2", ...
  static WindowRef WindowWithViews(int n) {
    WindowRef w = OpenExample("NaCl.ovtx");
    for (int k = 1; k <= n; k++) {
      EXPECT_TRUE(DoCacheViewFile(w));
      CachedFileRecord *last = GetWindowViews(w);
      while (last->next)
        last = last->next;
      last->caption = "v" + std::to_string(k);
    }
    DoOverviewTabChoice(kViewsTab);
    return w;
  }
  static std::vector<std::string> Captions() {
    std::vector<std::string> out;
    for (CachedFileRecord *r = GetCurrentWindowCache(); r; r = r->next)
      out.push_back(r->caption);
    return out;
  }
  static int Selected() { return GetRectIDWithCachePtr(ValidSelection()); }
  // Plays the tab once through from its first thumbnail, a second each,
  // without turning, in the Overview.
  static void PlayOnceThrough() {
    gPrefs.playLoop = 0;
    gPrefs.playRotate = 0;
    gPrefs.playFullScreen = 0;
    gPrefs.playSeconds = 1.0f;
    SelectThumbnail(0);
    DoPlayCacheFilesAgain();
    ASSERT_TRUE(OverviewPlaying());
    for (int k = 0; k < 10 && OverviewPlaying(); k++) {
      gHost->now += 1100000;
      OverviewPlayStep();
    }
    EXPECT_FALSE(OverviewPlaying());
  }
  static ThumbnailPane *Pane() { return GetOverviewWindow()->pane; }
  static QPoint SlotCentre(int i) {
    const GridBox &s = CurrentThumbnailLayout().boxes[size_t(i)];
    return QPoint((s.left + s.right) / 2, (s.top + s.bottom) / 2);
  }
  static std::string Run(const std::string &command) {
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
      char buffer[256];
      while (fgets(buffer, sizeof buffer, p))
        out += buffer;
      pclose(p);
    }
    return out;
  }
};

TEST_F(OverviewTest, StatusTextsAndTheHistorySkip) {
  WindowRef w = WindowWithViews(0);
  EXPECT_EQ(OverviewStatusText(), "No views");
  DoCacheViewFile(w);
  DrawThumbnails();
  EXPECT_EQ(OverviewStatusText(), "1 view");
  // The structure windows' Play items follow the Views.
  std::vector<std::pair<bool, std::string>> items;
  gOverviewHooks.setToolbarItem = [&items](WindowRef, uint32_t command, bool enable, const char *label) {
    EXPECT_EQ(command, kCmdPlay);
    items.emplace_back(enable, label ? label : "");
  };
  DoCacheViewFile(w);
  DrawStatusbar();
  gOverviewHooks.setToolbarItem = nullptr;
  EXPECT_EQ(items, (std::vector<std::pair<bool, std::string>>{{true, "Play Views"}}));
  EXPECT_EQ(OverviewStatusText(), "2 views");
  // One snapshot: the newest is not shown, so there are none.
  DestroyWindowHistory(w);
  ASSERT_TRUE(DoCacheHistoryFile(w));
  DoOverviewTabChoice(kHistoryTab);
  EXPECT_EQ(GetNumThumbnails(), 0);
  EXPECT_EQ(OverviewStatusText(), "No undo states");
  // The Log counts its lines, not an empty last one.
  DoOverviewTabChoice(kLogTab);
  QTextDocument *doc = GetLogStore()->Document();
  const int lines = doc->blockCount() - (doc->lastBlock().text().isEmpty() ? 1 : 0);
  EXPECT_EQ(OverviewStatusText(), std::to_string(lines) + " lines");
  FWrite("one more");
  EXPECT_EQ(OverviewStatusText(), std::to_string(lines + 1) + " lines");
}

TEST_F(OverviewTest, ArrowKeysMoveAndLoadButStopAtBothEnds) {
  WindowRef w = WindowWithViews(3);
  SelectThumbnail(0);
  QTest::keyClick(Pane(), Qt::Key_Left);
  EXPECT_EQ(Selected(), 0);
  QTest::keyClick(Pane(), Qt::Key_Right);
  EXPECT_EQ(Selected(), 1);
  EXPECT_EQ(PlainWindowTitle(GetMainWindow(w)), "v2"); // loaded, titled by its caption
  QTest::keyClick(Pane(), Qt::Key_Right);
  QTest::keyClick(Pane(), Qt::Key_Right);
  EXPECT_EQ(Selected(), 2);
  QTest::keyClick(Pane(), Qt::Key_Down);
  EXPECT_EQ(Selected(), 2);
  // Delete removes the selection from the list.
  QTest::keyClick(Pane(), Qt::Key_Delete);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"v1", "v2"}));
}

TEST_F(OverviewTest, DraggingReordersShowsNoMarkerForNoChangeAndDeletesOutside) {
  WindowWithViews(4);
  ThumbnailPane *pane = Pane();
  const QPoint from = SlotCentre(2);
  const GridBox second = CurrentThumbnailLayout().boxes[1];
  ASSERT_TRUE(TrackThumbnails(from, false));
  TrackThumbnailsMove(QPoint(second.right - 5, from.y()), pane->mapToGlobal(QPoint(second.right - 5, from.y())));
  DropTarget target;
  EXPECT_FALSE(ThumbnailDropMarker(&target));
  TrackThumbnailsRelease(QPoint(second.right - 5, from.y()), pane->mapToGlobal(QPoint(second.right - 5, from.y())));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"v1", "v2", "v3", "v4"}));
  // Before the first: a marker, and the move.
  const GridBox first = CurrentThumbnailLayout().boxes[0];
  const QPoint to(first.left + 3, from.y());
  ASSERT_TRUE(TrackThumbnails(from, false));
  TrackThumbnailsMove(to, pane->mapToGlobal(to));
  ASSERT_TRUE(ThumbnailDropMarker(&target));
  EXPECT_EQ(target.index, 0);
  EXPECT_TRUE(target.before);
  TrackThumbnailsRelease(to, pane->mapToGlobal(to));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"v3", "v1", "v2", "v4"}));
  // Before the next one is behind itself: the list stays whole.
  EXPECT_TRUE(MoveThumbnailToRectID(1, 2, true));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"v3", "v1", "v2", "v4"}));
  EXPECT_FALSE(MoveThumbnailToRectID(1, 7, false));
  // Out of the window: deleted with a puff and the sound.
  const QPoint outside = GetOverviewWindow()->frameGeometry().bottomRight() + QPoint(50, 50);
  ASSERT_TRUE(TrackThumbnails(SlotCentre(0), false));
  TrackThumbnailsMove(pane->mapFromGlobal(outside), outside);
  TrackThumbnailsRelease(pane->mapFromGlobal(outside), outside);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"v1", "v2", "v4"}));
  int puffs = 0;
  for (QWidget *top : QApplication::topLevelWidgets())
    if (auto *puff = dynamic_cast<ZapperPuffWidget *>(top); puff && puff->isVisible()) {
      EXPECT_LE((puff->geometry().center() - outside).manhattanLength(), 2);
      puffs++;
    }
  EXPECT_EQ(puffs, 1);
  EXPECT_EQ(gHost->sounds, (std::vector<std::string>{"pow"}));
}

TEST_F(OverviewTest, DeletingAFavouriteLeavesItsDocumentOnDisk) {
  const fs::path file = gProgram->Temp() / "Salt.ovdf";
  WindowRef w = OpenExample("NaCl.ovtx");
  ASSERT_TRUE(DoWriteCrystalFile(w, file));
  ASSERT_TRUE(DoCacheFavouriteFile(file, w));
  EXPECT_FALSE(DoCacheFavouriteFile(file, nullptr)); // once only
  DoOverviewTabChoice(kFavouritesTab);
  ASSERT_EQ(GetNumThumbnails(), 1);
  EXPECT_FALSE(GetCachedFileThumbnail(GetCachePtrWithRectID(0)).isNull()); // the stored preview
  SelectThumbnail(0);
  ASSERT_EQ(ProcessCommand(kCmdRemoveThumbnail), kNoErr);
  EXPECT_EQ(GetNumFavouriteFiles(), 0);
  EXPECT_TRUE(fs::exists(file));
}

TEST_F(OverviewTest, SampleFilesAndDroppedFilesJoinTheFavourites) {
  ASSERT_EQ(ProcessCommand(kCmdLoadExamples), kNoErr);
  EXPECT_TRUE(IsOverviewFavouritesPaneVisible());
  // Crystals then molecules, added from the last to the first.
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Benzene", "Spinel", "Rutile", "Quartz"}));
  ProcessCommand(kCmdLoadExamples);
  EXPECT_EQ(GetNumFavouriteFiles(), 4);
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString((ExamplesFolder() / "NaCl.ovtx").string()))});
  QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Pane(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Pane(), &drop);
  EXPECT_EQ(Captions().back(), "NaCl");
  CachedFileRecord *text = GetCachePtrWithRectID(4);
  EXPECT_EQ(text->fileType, FourCharsToLong("TEXT"));
  // A picture narrower than the thumbnails is dropped; a document's stored
  // preview comes back at half as wide again.
  const int width = gThumbnailWidth;
  SetCachedFileThumbnail(text, QImage(width + 4, width, QImage::Format_RGB32));
  EXPECT_FALSE(ThumbnailImageForRecord(text).isNull());
  gThumbnailWidth = width + 10;
  EXPECT_TRUE(ThumbnailImageForRecord(text).isNull());
  EXPECT_TRUE(GetCachedFileThumbnail(text).isNull());
  CachedFileRecord *quartz = GetCachePtrWithRectID(3);
  SetCachedFileThumbnail(quartz, QImage(8, 6, QImage::Format_RGB32));
  EXPECT_EQ(ThumbnailImageForRecord(quartz).width(), (width + 10) * 3 / 2);
  gThumbnailWidth = width;
}

TEST_F(OverviewTest, CopyTitlesSortingAndReplacing) {
  WindowRef w = WindowWithViews(0);
  GetMainWindow(w)->setWindowTitle("Foo");
  EXPECT_EQ(CreateWindowTitleCopy(w), "Foo copy");
  WindowRef other = OpenMainWindow("Foo copy", false);
  EXPECT_EQ(CreateWindowTitleCopy(w), "Foo copy 1");
  EXPECT_EQ(CreateWindowTitleCopy(other), "Foo copy 1");
  DisposeMainWindow(other);

  for (const char *caption : {"10", "2", "b", "1"}) {
    DoCacheViewFile(w);
    CachedFileRecord *last = GetCachePtrWithRectID(GetNumThumbnails() - 1);
    last->caption = caption;
  }
  DoSortCacheFiles(true);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"1", "2", "10", "b"}));
  DoSortCacheFiles(false);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"b", "10", "2", "1"}));
  // Replacing keeps the caption and the place, with a new document.
  SelectThumbnail(1);
  const fs::path before = GetCachePtrWithRectID(1)->fileRef;
  ASSERT_EQ(ProcessCommand(kCmdReplaceThumbnail), kNoErr);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"b", "10", "2", "1"}));
  EXPECT_NE(GetCachePtrWithRectID(1)->fileRef, before);
  EXPECT_EQ(Selected(), 1);
  // Renaming numbers every view and leaves none selected.
  ASSERT_EQ(ProcessCommand(kCmdRenameViews), kNoErr);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(ValidSelection(), nullptr);
}

TEST_F(OverviewTest, CaptionEditingSavesOnReturnAndMovesOnTab) {
  WindowWithViews(2);
  const GridBox s = CurrentThumbnailLayout().boxes[0];
  ASSERT_TRUE(TrackThumbnails(QPoint(s.left + 5, s.bottom + 6), false));
  ASSERT_TRUE(IsThumbnailEditing());
  QLineEdit *field = FindControl<QLineEdit>(GetOverviewWindow(), 128);
  field->setText("first");
  QTest::keyClick(field, Qt::Key_Tab);
  EXPECT_TRUE(IsThumbnailEditing());
  EXPECT_EQ(Selected(), 1);
  field->setText("");
  QTest::keyClick(field, Qt::Key_Return); // an empty text changes nothing
  EXPECT_FALSE(IsThumbnailEditing());
  EXPECT_EQ(Captions(), (std::vector<std::string>{"first", "v2"}));
  // Escape ends editing without saving.
  ASSERT_TRUE(BeginThumbnailEditing(1));
  field->setText("dropped");
  QTest::keyClick(field, Qt::Key_Escape);
  EXPECT_FALSE(IsThumbnailEditing());
  EXPECT_EQ(Captions(), (std::vector<std::string>{"first", "v2"}));
  EXPECT_EQ(ValidSelection(), nullptr);
}

TEST_F(OverviewTest, WheelAndResizeFollowTheSizeRules) {
  WindowWithViews(20);
  OverviewWindow *window = GetOverviewWindow();
  QScrollBar *bar = window->scroll;
  ASSERT_GT(bar->maximum(), 0);
  const int before = bar->value();
  QWheelEvent down(QPointF(30, 30), Pane()->mapToGlobal(QPointF(30, 30)), QPoint(), QPoint(0, -120), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(Pane(), &down);
  EXPECT_EQ(bar->value(), before + bar->singleStep());
  // Ctrl+wheel down: a column fewer a step, bigger thumbnails, the new target.
  const int columns = CurrentThumbnailLayout().columns;
  QWheelEvent zoom(QPointF(30, 30), Pane()->mapToGlobal(QPointF(30, 30)), QPoint(), QPoint(0, -120), Qt::NoButton,
                   Qt::ControlModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(Pane(), &zoom);
  QCoreApplication::sendEvent(Pane(), &zoom);
  UpdateThumbnailRects();
  EXPECT_EQ(CurrentThumbnailLayout().columns, columns - 2);
  const int chosen = gThumbnailWidth;
  EXPECT_EQ(gTargetThumbnailWidth, chosen);
  // A narrow window shrinks them; the old width comes back with the room.
  const QSize size = window->size();
  window->resize(200, size.height());
  QCoreApplication::processEvents();
  EXPECT_LT(gThumbnailWidth, chosen);
  window->resize(size);
  QCoreApplication::processEvents();
  EXPECT_EQ(gThumbnailWidth, chosen);
}

TEST_F(OverviewTest, OpeningInNewWindowsGivesCopyTitlesWithoutFiles) {
  WindowRef w = WindowWithViews(1);
  GetMainWindow(w)->setWindowTitle("Salt");
  const int windows = GetNumGraphWindows();
  // The current structure in a window of its own: the view made for it goes.
  ASSERT_EQ(ProcessCommand(kCmdNewWindowFromCurrent), kNoErr);
  EXPECT_EQ(GetNumGraphWindows(), windows + 1);
  MainWindow *copy = GetMainWindow(FrontGraphWindow());
  EXPECT_EQ(PlainWindowTitle(copy), "Salt copy");
  EXPECT_TRUE(copy->File().empty());
  EXPECT_EQ(NumFilesInCache(GetWindowViews(w)), 1);
  // A view of the first window into a new one.
  BringGraphWindowToFront(GetMainWindow(w));
  DoOverviewTabChoice(kViewsTab);
  SelectThumbnail(0);
  ASSERT_EQ(ProcessCommand(kCmdLoadNewWindow), kNoErr);
  EXPECT_EQ(GetNumGraphWindows(), windows + 2);
  EXPECT_EQ(PlainWindowTitle(GetMainWindow(FrontGraphWindow())), "Salt copy 1");
  EXPECT_TRUE(IsWindowFileOpen(FrontGraphWindow()));
}

TEST_F(OverviewTest, TheSelectedSlotIsFramedInTheSelectionColour) {
  WindowWithViews(2);
  SelectThumbnail(1);
  UpdateThumbnailRects();
  const QImage picture = Pane()->grab().toImage();
  const GridBox s = CurrentThumbnailLayout().boxes[1];
  const QColor frame = picture.pixelColor(s.left - 1, (s.top + s.bottom) / 2);
  EXPECT_EQ(frame.rgb(), kThumbnailSelectionColor.rgb()) << frame.name().toStdString();
  EXPECT_NE(picture.pixelColor(CurrentThumbnailLayout().boxes[0].left - 1, (s.top + s.bottom) / 2).rgb(), frame.rgb());
}

TEST_F(OverviewTest, PlaybackStepsWithTheClockBouncingRestartingOrStopping) {
  WindowWithViews(3);
  auto play = [](uint8_t loop, uint8_t mode, int steps) {
    gPrefs.playLoop = loop;
    gPrefs.playMode = mode;
    gPrefs.playRotate = 0;
    gPrefs.playFullScreen = 0;
    gPrefs.playSeconds = 2.0f;
    SelectThumbnail(0);
    DoPlayCacheFilesAgain();
    std::vector<int> shown{Selected()};
    for (int k = 0; k < steps && OverviewPlaying(); k++) {
      gHost->now += 1000000;
      OverviewPlayStep(); // one second: still the same thumbnail
      gHost->now += 1000000;
      OverviewPlayStep();
      if (OverviewPlaying())
        shown.push_back(Selected());
    }
    StopOverviewPlay();
    return shown;
  };
  EXPECT_EQ(play(1, 2, 5), (std::vector<int>{0, 1, 2, 1, 0, 1}));
  EXPECT_EQ(play(1, 1, 3), (std::vector<int>{0, 1, 2, 0}));
  EXPECT_EQ(play(0, 1, 9), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(gOverviewPlayInProgress, 0);
  EXPECT_EQ(gProhibitErrorAlerts, 0);
  // Ctrl+period stops a running play.
  gPrefs.playLoop = 1;
  DoPlayCacheFilesAgain();
  ASSERT_TRUE(OverviewPlaying());
  QTest::keyClick(Pane(), Qt::Key_Period, Qt::ControlModifier);
  OverviewPlayStep();
  EXPECT_FALSE(OverviewPlaying());
}

TEST_F(OverviewTest, SpinningPlayTurnsTheStructureEveryStep) {
  WindowRef w = WindowWithViews(2);
  gPrefs.playRotate = 1;
  gPrefs.playLoop = 0;
  gPrefs.playSeconds = 10.0f;
  gPrefs.playFullScreen = 0;
  SelectThumbnail(0);
  DoPlayCacheFilesAgain();
  ASSERT_TRUE(OverviewPlaying());
  EXPECT_GE(OverviewPlayRotationStep(), 1.0f);
  // The thumbnails spin in the play window, in front of the user's.
  ASSERT_NE(FrontGraphWindow(), w);
  const CrystalRec &c = *GetWindowCrystal(FrontGraphWindow());
  std::vector<float> before(c.orientationMatrix, c.orientationMatrix + 9);
  OverviewPlayStep();
  EXPECT_NE(std::vector<float>(c.orientationMatrix, c.orientationMatrix + 9), before);
  EXPECT_EQ(Selected(), 0); // ten seconds have not passed
  StopOverviewPlay();
  EXPECT_EQ(gTrackBallRotn, 0);
  EXPECT_EQ(FrontGraphWindow(), w);
  gPrefs.playRotate = 0;
}

TEST_F(OverviewTest, PlayOptionsDialogPresetsAndSeconds) {
  WindowWithViews(2);
  std::vector<uint32_t> shown;
  SetPlayDialogRunner([&shown](OverviewPlayDialog &d) {
    d.Command(FourCharsToLong("Spin"));
    shown.push_back(d.PresetShown());
    d.SecondsField()->setText("9");
    emit d.SecondsField()->textEdited("9");
    shown.push_back(d.PresetShown());
    d.SecondsField()->setText("-5");
    d.Command(FourCharsToLong("ok  "));
    return d.Accepted();
  });
  gPrefs.playSeconds = 1;
  ASSERT_TRUE(GetOverviewPlayOptions(&gPrefs.playSeconds, &gPrefs.playRotate, &gPrefs.playLoop, &gPrefs.playMode,
                                     &gPrefs.playFullScreen));
  EXPECT_EQ(shown, (std::vector<uint32_t>{FourCharsToLong("Spin"), FourCharsToLong("Cust")}));
  EXPECT_FLOAT_EQ(gPrefs.playSeconds, 5.0f);
  EXPECT_EQ(gPrefs.playRotate, 1);
  // Cancel leaves the settings as they were.
  SetPlayDialogRunner([](OverviewPlayDialog &d) {
    d.Command(FourCharsToLong("Anim"));
    d.Command(FourCharsToLong("not!"));
    return d.Accepted();
  });
  EXPECT_FALSE(GetOverviewPlayOptions(&gPrefs.playSeconds, &gPrefs.playRotate, &gPrefs.playLoop, &gPrefs.playMode,
                                      &gPrefs.playFullScreen));
  EXPECT_FLOAT_EQ(gPrefs.playSeconds, 5.0f);
  SetPlayDialogRunner(nullptr);
}

// The picture options dialog answers PNG at this size and resolution.
static void AnswerPictureOptions(int32_t width, int32_t height, float resolution) {
  gExportGraphicsPanelHooks.runDialog = [=](ExportGraphicsRecord &rec, uint32_t *type) {
    rec.pixelWidth = width;
    rec.pixelHeight = height;
    rec.resolution = resolution;
    *type = kPNGFileType;
    return true;
  };
}

// A damaged document opened from its Recent thumbnail: the alert names the
// file, as every open of a document does.
TEST_F(OverviewTest, ADamagedRecentDocumentsAlertNamesTheFile) {
  WindowRef w = OpenExample("NaCl.ovtx");
  const fs::path doc = gProgram->Temp() / "Salt damaged.ovdf";
  ASSERT_TRUE(DoWriteCrystalFile(w, doc));
  ASSERT_GT(fs::file_size(doc), 5000u);
  DestroyRecentFiles();
  AddRecentFile(doc);
  DoOverviewTabChoice(kRecentTab);
  ASSERT_EQ(GetNumThumbnails(), 1);
  fs::resize_file(doc, 5000);
  gHost->alerts.clear();
  DoLoadFromCache(GetCachePtrWithRectID(0), false);
  ASSERT_EQ(gHost->alerts.size(), 1u);
  EXPECT_EQ(gHost->alerts[0].explanation, "\"Salt damaged.ovdf\" could not be read. The document is truncated or "
                                          "damaged: its file map lies past the end.");
}

TEST_F(OverviewTest, PictureBatchWritesEachEntryOnceTextFilesToo) {
  WindowRef w = OpenExample("NaCl.ovtx");
  const fs::path doc = gProgram->Temp() / "Salt crystal.ovdf";
  ASSERT_TRUE(DoWriteCrystalFile(w, doc));
  DestroyRecentFiles();
  AddRecentFile(doc);
  AddRecentFile(ExamplesFolder() / "Rutile.ovtx"); // a text file, read as Open reads it
  DoOverviewTabChoice(kRecentTab);
  ASSERT_EQ(GetNumThumbnails(), 2);
  const fs::path folder = gProgram->Temp() / "pictures";
  fs::create_directories(folder);
  gDialogs.folder = folder;
  AnswerPictureOptions(240, 180, 144);
  ASSERT_EQ(ProcessCommand(kCmdExportCached), kNoErr);
  EXPECT_EQ(gDialogs.asked.back(), "Choose a folder to save the recent files into");
  while (OverviewBatchRunning())
    OverviewBatchStep();
  const fs::path picture = folder / "Salt crystal.png";
  ASSERT_TRUE(fs::exists(picture));
  EXPECT_TRUE(fs::exists(folder / "Rutile, TiO2.png")); // the title card names it
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
  // ImageMagick reads the size and the density written.
  int width = 0, height = 0;
  double density = 0;
  const std::string size = Run("identify -units PixelsPerInch -format '%w %h %x' '" + picture.string() + "'");
  ASSERT_EQ(std::sscanf(size.c_str(), "%d %d %lf", &width, &height, &density), 3) << size;
  EXPECT_EQ(width, 240);
  EXPECT_EQ(height, 180);
  EXPECT_NEAR(density, 144, 0.1);
  EXPECT_EQ(gOverviewPlayInProgress, 0);
}

TEST_F(OverviewTest, MovieOfViewsHasAFramePerViewAndRefusesADeletedView) {
  WindowRef w = WindowWithViews(3);
  const fs::path deleted = GetCachePtrWithRectID(1)->fileRef;
  const fs::path kept = gProgram->Temp() / "kept.ovdf";
  fs::copy_file(deleted, kept);
  fs::remove(deleted);
  ASSERT_EQ(ProcessCommand(kCmdMakeMovie), kNoErr);
  ASSERT_EQ(gHost->alerts.size(), 1u);
  EXPECT_EQ(gHost->alerts[0].message, "Cache verification failure");
  EXPECT_TRUE(gHost->saveDialogs.empty()); // refused before any dialog
  fs::copy_file(kept, deleted);

  const fs::path movie = gProgram->Temp() / "views.mov";
  gHost->savePaths.push_back(movie);
  ASSERT_EQ(ProcessCommand(kCmdMakeMovie), kNoErr);
  while (OverviewBatchRunning())
    OverviewBatchStep();
  ASSERT_TRUE(fs::exists(movie));
  EXPECT_EQ(Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 '" +
                movie.string() + "'"),
            "3\n");
  EXPECT_TRUE(IsWindowFileOpen(w));
}

TEST_F(OverviewTest, SavingViewsGivesEachItsOwnFileAndLogsFailures) {
  WindowWithViews(2);
  for (CachedFileRecord *r = GetCurrentWindowCache(); r; r = r->next)
    r->caption = "same/name";
  const fs::path folder = gProgram->Temp() / "saved";
  fs::create_directories(folder);
  std::ofstream(folder / "same_name.ovdf") << "not ours";
  gDialogs.folder = folder;
  ASSERT_EQ(ProcessCommand(kCmdSaveCached), kNoErr);
  while (OverviewBatchRunning())
    OverviewBatchStep();
  EXPECT_TRUE(fs::exists(folder / "same_name 2.ovdf"));
  EXPECT_TRUE(fs::exists(folder / "same_name 3.ovdf"));
  std::ifstream untouched(folder / "same_name.ovdf");
  std::string text;
  std::getline(untouched, text);
  EXPECT_EQ(text, "not ours");
  // A favourite that cannot be read is named in red at the end, not lost.
  const fs::path broken = gProgram->Temp() / "broken.ovdf";
  std::ofstream(broken) << "OVDF but not a document";
  DestroyFavouriteFiles();
  ASSERT_TRUE(DoCacheFavouriteFile(broken, nullptr));
  DoOverviewTabChoice(kFavouritesTab);
  ASSERT_EQ(ProcessCommand(kCmdSaveCached), kNoErr);
  while (OverviewBatchRunning())
    OverviewBatchStep();
  const QString log = GetLogStore()->PlainText();
  EXPECT_TRUE(log.contains("Skipped \"broken.ovdf\": it could not be read")) << log.right(300).toStdString();
  EXPECT_TRUE(gHost->alerts.empty());
}

namespace {

// The Log's red lines that hold `text`.
int RedLogLines(const QString &text) {
  int n = 0;
  for (QTextBlock b = GetLogStore()->Document()->begin(); b.isValid(); b = b.next())
    if (b.text().contains(text) && !b.begin().atEnd() &&
        b.begin().fragment().charFormat().foreground().color() == QColor(Qt::red))
      n++;
  return n;
}

int FilesIn(const fs::path &folder) {
  return int(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Runs a batch as the program does: on its timer, with the events between.
void RunBatchOnItsTimer() {
  for (int k = 0; k < 2000 && OverviewBatchRunning(); k++)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_FALSE(OverviewBatchRunning());
}

// The favourites' pictures, 120 by 90 pixels, written by the batch into a
// fresh folder.
void ExportFavouritePictures(const fs::path &pictures) {
  fs::remove_all(pictures);
  fs::create_directories(pictures);
  gDialogs.folder = pictures;
  AnswerPictureOptions(120, 90, 72);
  ASSERT_EQ(ProcessCommand(kCmdExportCached), kNoErr);
  RunBatchOnItsTimer();
}

} // namespace

TEST_F(OverviewTest, FavouriteBatchesReadTextFilesAndNameEveryEntryTheySkip) {
  const fs::path folder = gProgram->Temp() / "text favourites";
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::copy_file(ExamplesFolder() / "NaCl.ovtx", folder / "NaCl.ovtx");
  fs::copy_file(ExamplesFolder() / "Benzene.ovtx", folder / "Benzene.ovtx");
  std::ofstream(folder / "unreadable.ovtx") << "no structure in here\n";
  for (const char *name : {"NaCl.ovtx", "unreadable.ovtx", "Benzene.ovtx"})
    ASSERT_TRUE(DoCacheFavouriteFile(folder / name, nullptr));
  ASSERT_TRUE(DoCacheFavouriteFile(ExamplesFolder() / "Quartz.ovtx", nullptr)); // one of the program's own
  OpenExample("Rutile.ovtx");
  DoOverviewTabChoice(kFavouritesTab);
  ASSERT_EQ(GetNumThumbnails(), 4);
  const QString unreadable = "Skipped \"unreadable.ovtx\": it could not be read";
  const int before = RedLogLines(unreadable);

  const fs::path pictures = gProgram->Temp() / "favourite pictures";
  fs::create_directories(pictures);
  gDialogs.folder = pictures;
  AnswerPictureOptions(120, 90, 72);
  ASSERT_EQ(ProcessCommand(kCmdExportCached), kNoErr);
  EXPECT_EQ(gDialogs.asked.back(), "Choose a folder to save the favourites into");
  RunBatchOnItsTimer();
  EXPECT_TRUE(fs::exists(pictures / "Halite (rock salt), NaCl.png"));
  EXPECT_TRUE(fs::exists(pictures / "Benzene, C6H6.png"));
  EXPECT_EQ(FilesIn(pictures), 3);
  EXPECT_EQ(RedLogLines(unreadable), before + 1);

  // Converting: a document beside each text file; the program's own
  // samples stay as they are, and say so.
  const int samples = RedLogLines("Skipped \"Quartz.ovtx\": the program's own samples are left as they are");
  ASSERT_EQ(ProcessCommand(kCmdSaveCached), kNoErr);
  RunBatchOnItsTimer();
  EXPECT_TRUE(fs::exists(folder / "Halite (rock salt), NaCl.ovdf"));
  EXPECT_TRUE(fs::exists(folder / "Benzene, C6H6.ovmf"));
  EXPECT_EQ(FilesIn(folder), 5);
  EXPECT_EQ(RedLogLines(unreadable), before + 2);
  EXPECT_EQ(RedLogLines("Skipped \"Quartz.ovtx\": the program's own samples are left as they are"), samples + 1);
  EXPECT_TRUE(gHost->alerts.empty());
}

// A favourite whose file went away since the list was drawn is named in the
// Log, and the batch goes on with the files after it.
TEST_F(OverviewTest, ABatchGoesPastAFavouriteWhoseFileIsGone) {
  const fs::path folder = gProgram->Temp() / "seven favourites";
  fs::remove_all(folder);
  fs::create_directories(folder);
  const char *names[] = {"Benzene.ovtx", "Calcite.ovtx", "NaCl.ovtx",       "Quartz.ovtx",
                         "Rutile.ovtx",  "Spinel.ovtx",  "Tetratriacontane.ovtx"};
  for (const char *name : names)
    fs::copy_file(ExamplesFolder() / name, folder / name);
  OpenExample("NaCl.ovtx");
  DoOverviewTabChoice(kFavouritesTab);
  for (const char *name : names)
    ASSERT_TRUE(DoCacheFavouriteFile(folder / name, nullptr));
  DrawOverviewFavouriteThumbnails();
  ASSERT_EQ(GetNumThumbnails(), 7);
  fs::remove(folder / "Quartz.ovtx");
  const QString gone = "Skipped \"Quartz.ovtx\": it could not be found";
  const int before = RedLogLines(gone);

  const fs::path pictures = gProgram->Temp() / "six pictures";
  ExportFavouritePictures(pictures);
  EXPECT_EQ(FilesIn(pictures), 6);
  EXPECT_TRUE(fs::exists(pictures / "n-Tetratriacontane, C34H70.png")); // the last one
  EXPECT_EQ(RedLogLines(gone), before + 1);
  EXPECT_FALSE(GetLogStore()->PlainText().contains("left the list"));
  EXPECT_EQ(GetNumThumbnails(), 7) << "the missing favourite stays, marked, until the user removes it";
}

TEST_F(OverviewTest, MovieOfViewsHasAFramePerViewWhenTheUsersWindowTakesTheFocusBack) {
  WindowRef w = WindowWithViews(2);
  const fs::path movie = gProgram->Temp() / "two views.mov";
  gHost->savePaths.push_back(movie);
  // The save dialog takes the focus; once it is gone, the window manager
  // gives it back to the user's window.
  gHost->duringSaveDialog = [w] {
    GetOverviewWindow()->activateWindow();
    QCoreApplication::processEvents();
    GetMainWindow(w)->activateWindow();
  };
  ASSERT_EQ(ProcessCommand(kCmdMakeMovie), kNoErr);
  gHost->duringSaveDialog = nullptr;
  RunBatchOnItsTimer();
  ASSERT_TRUE(fs::exists(movie));
  EXPECT_EQ(Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 '" +
                movie.string() + "'"),
            "2\n");
  EXPECT_TRUE(gHost->alerts.empty());
}

// The views are recorded in a window of the batch's own: it takes the
// user's window's frame, so the movie has the size of the picture the user
// sees, even where a window cascaded from the user's would not fit.
TEST_F(OverviewTest, MovieOfViewsHasTheSizeOfTheUsersPicture) {
  WindowRef w = WindowWithViews(2);
  MainWindow *user = GetMainWindow(w);
  const QRect screen = user->screen()->availableGeometry();
  user->move(screen.right() - user->frameGeometry().width() + 1, screen.bottom() - user->frameGeometry().height() + 1);
  QCoreApplication::processEvents();
  Rect shown;
  GetWindowOffBounds(w, &shown);
  const fs::path movie = gProgram->Temp() / "sized views.mov";
  gHost->savePaths.push_back(movie);
  ASSERT_EQ(ProcessCommand(kCmdMakeMovie), kNoErr);
  while (OverviewBatchRunning())
    OverviewBatchStep();
  ASSERT_TRUE(fs::exists(movie));
  EXPECT_EQ(Run("ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 '" + movie.string() +
                "'"),
            std::to_string(shown.right - shown.left) + "," + std::to_string(shown.bottom - shown.top) + "\n");
}

TEST_F(OverviewTest, PreferencesCancelDoesNothingAndFactoryKeepsTheLists) {
  const fs::path file = gProgram->Temp() / "fav.ovdf";
  WindowRef w = OpenExample("NaCl.ovtx");
  ASSERT_TRUE(DoWriteCrystalFile(w, file));
  ASSERT_TRUE(DoCacheFavouriteFile(file, nullptr));
  gPrefs.thumbnailHeight = 120;
  SetPreferencesRunner([](PreferencesDialog &d) {
    d.SetChoice(3);
    d.Command(FourCharsToLong("not!"));
    return d.Result();
  });
  int16_t choice = 1;
  EXPECT_FALSE(GetPreferences(&choice));
  EXPECT_EQ(choice, 3);
  ASSERT_EQ(ProcessCommand(kCmdPreferences), kNoErr);
  EXPECT_EQ(gPrefs.thumbnailHeight, 120);
  SetPreferencesRunner([](PreferencesDialog &d) {
    d.SetChoice(3);
    d.Command(FourCharsToLong("ok  "));
    return d.Result();
  });
  ASSERT_EQ(ProcessCommand(kCmdPreferences), kNoErr);
  EXPECT_EQ(gPrefs.thumbnailHeight, gFactoryPrefs.thumbnailHeight);
  EXPECT_EQ(GetNumFavouriteFiles(), 1);
  EXPECT_EQ(GetOverviewThumbnailHeight(), gFactoryPrefs.thumbnailHeight);
  SetPreferencesRunner(nullptr);
}

} // namespace

TEST_F(OverviewTest, LoadingAHistorySnapshotTakesNoNewOne) {
  WindowRef w = OpenExample("NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  DestroyWindowHistory(w);
  for (int k = 0; k < 3; k++)
    ASSERT_TRUE(DoCacheHistoryFile(w));
  DoOverviewTabChoice(kHistoryTab);
  std::vector<fs::path> files;
  for (CachedFileRecord *r = GetWindowHistory(w); r; r = r->next)
    files.push_back(r->fileRef);
  SelectThumbnail(1);
  ProcessCommand(kCmdLoadSelected);
  // The moment after a change, the snapshot timer fires.
  ASSERT_TRUE(gUndoBufferTimer.proc);
  gUndoBufferTimer.proc();
  std::vector<fs::path> after;
  for (CachedFileRecord *r = GetWindowHistory(w); r; r = r->next)
    after.push_back(r->fileRef);
  EXPECT_EQ(after, files);
  EXPECT_EQ(Selected(), 1);
}

TEST_F(OverviewTest, AControlClickOnAThumbnailOpensTheContextualMenu) {
  WindowWithViews(2);
  QMenu *menu = OverviewContextMenu();
  ASSERT_NE(menu, nullptr);
  QTest::mouseClick(Pane(), Qt::LeftButton, Qt::ControlModifier, SlotCentre(1));
  EXPECT_TRUE(menu->isVisible());
  EXPECT_EQ(Selected(), 1);
  menu->hide();
  // The secondary button keeps doing it.
  QTest::mouseClick(Pane(), Qt::RightButton, {}, SlotCentre(0));
  EXPECT_TRUE(menu->isVisible());
  menu->hide();
}

// ---- The user's work stays the user's -------------------------------------------------

namespace {

constexpr uint32_t kCmdSpaceFilling = FourCharsToLong("Spac");

struct WindowState {
  std::string title;
  fs::path file;
  bool modified = false, mark = false;
  int16_t modelType = 0;
  std::vector<fs::path> history;
  bool operator==(const WindowState &) const = default;
};

WindowState StateOf(WindowRef w) {
  WindowState s;
  MainWindow *m = GetMainWindow(w);
  s.title = PlainWindowTitle(m).toStdString();
  s.file = m->File();
  s.modified = IsWindowModified(w);
  s.mark = m->isWindowModified();
  s.modelType = GetWindowCrystal(w)->modelType;
  for (CachedFileRecord *r = GetWindowHistory(w); r; r = r->next)
    s.history.push_back(r->fileRef);
  return s;
}

// A document of the user's with a change not saved yet, its undo state taken.
WindowRef ModifiedDocument(const fs::path &file) {
  EXPECT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "NaCl.ovtx", nullptr));
  WindowRef w = FrontGraphWindow();
  EXPECT_TRUE(DoWriteCrystalFile(w, file));
  gUndoBufferTimer.proc();
  EXPECT_EQ(ProcessCommand(kCmdSpaceFilling), kNoErr);
  gUndoBufferTimer.proc();
  EXPECT_TRUE(IsWindowModified(w));
  return w;
}

void ClickSlot(int index) {
  UpdateThumbnailRects();
  const GridBox &s = CurrentThumbnailLayout().boxes[size_t(index)];
  QTest::mouseClick(GetOverviewWindow()->pane, Qt::LeftButton, {},
                    QPoint((s.left + s.right) / 2, (s.top + s.bottom) / 2));
  QCoreApplication::processEvents();
}

// The pixels of a thumbnail's slot once the pane has drawn what it queued.
QImage SlotPixels(int index) {
  for (int k = 0; k < 8; k++) {
    GetOverviewWindow()->pane->grab();
    QCoreApplication::processEvents();
  }
  const GridBox &s = CurrentThumbnailLayout().boxes[size_t(index)];
  return GetOverviewWindow()->pane->grab().toImage().copy(s.left, s.top, s.Width(), s.Height());
}

} // namespace

TEST_F(OverviewTest, AFavouriteClickedOverUnsavedWorkAsksFirstAndUndoKeepsItsName) {
  const fs::path salt = gProgram->Temp() / "Salt.ovdf";
  WindowRef w = ModifiedDocument(salt);
  const WindowState before = StateOf(w);
  const fs::path quartz = BundledResourceFolder("Demo Files") / "Quartz.ovdf";
  ASSERT_TRUE(DoCacheFavouriteFile(quartz, nullptr));
  DoOverviewTabChoice(kFavouritesTab);
  gShellDialogs.answers = {SaveChangesAnswer::kCancel};
  ClickSlot(0);
  EXPECT_EQ(gShellDialogs.asked, std::vector<std::string>{"Salt"});
  EXPECT_EQ(StateOf(w), before);
  const size_t saltAtoms = GetWindowCrystal(w)->atoms.size();
  // Don't Save: the favourite takes the window, under its own name and file.
  gShellDialogs.answers = {SaveChangesAnswer::kDontSave};
  ClickSlot(0);
  ASSERT_EQ(FrontGraphWindow(), w);
  const size_t quartzAtoms = GetWindowCrystal(w)->atoms.size();
  EXPECT_NE(quartzAtoms, saltAtoms);
  gUndoBufferTimer.proc();
  ProcessCommand(kCmdUndo);
  const WindowState after = StateOf(w);
  EXPECT_EQ(GetWindowCrystal(w)->atoms.size(), quartzAtoms);
  EXPECT_EQ(after.title, "Quartz");
  EXPECT_EQ(after.file, quartz);
  EXPECT_FALSE(after.modified);
}

// A favourite or recent document damaged since it was listed, clicked to
// open in the front window, is refused with its alert before the window
// gives anything up: its structure, its unsaved change and its undo states
// stay, and no save question is asked for a document that cannot open.
TEST_F(OverviewTest, ADamagedDocumentClickedInTheOverviewLeavesTheFrontWindowAsItWas) {
  const fs::path salt = gProgram->Temp() / "Salt.ovdf";
  WindowRef w = ModifiedDocument(salt);
  const WindowState before = StateOf(w);
  ASSERT_GE(before.history.size(), 2u);
  const size_t atoms = GetWindowCrystal(w)->atoms.size();
  for (const OverviewTab tab : {kFavouritesTab, kRecentTab}) {
    SCOPED_TRACE(tab == kFavouritesTab ? "Favourites" : "Recent");
    const fs::path damaged = gProgram->Temp() / "Damaged.ovdf";
    fs::copy_file(BundledResourceFolder("Demo Files") / "Quartz.ovdf", damaged,
                  fs::copy_options::overwrite_existing);
    if (tab == kFavouritesTab) {
      ASSERT_TRUE(DoCacheFavouriteFile(damaged, nullptr));
    } else {
      DestroyRecentFiles();
      AddRecentFile(damaged);
    }
    DoOverviewTabChoice(tab);
    ASSERT_GE(GetNumThumbnails(), 1);
    fs::resize_file(damaged, fs::file_size(damaged) / 2); // cut short since
    gHost->alerts.clear();
    gShellDialogs.asked.clear();
    gShellDialogs.answers = {SaveChangesAnswer::kDontSave};
    ClickSlot(0);
    ASSERT_EQ(gHost->alerts.size(), 1u);
    EXPECT_EQ(gHost->alerts[0].message, kDocumentReadAlert);
    EXPECT_TRUE(gShellDialogs.asked.empty());
    ASSERT_EQ(FrontGraphWindow(), w);
    EXPECT_EQ(StateOf(w), before);
    EXPECT_EQ(GetWindowCrystal(w)->atoms.size(), atoms);
  }
  // Undo still steps back over the unsaved change.
  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  EXPECT_NE(GetWindowCrystal(w)->modelType, before.modelType);
}

TEST_F(OverviewTest, PlayAndBatchesLeaveTheFrontWindowAsItWas) {
  WindowRef w = WindowWithViews(2);
  ASSERT_EQ(ProcessCommand(kCmdSpaceFilling), kNoErr);
  gUndoBufferTimer.proc();
  const WindowState before = StateOf(w);
  ASSERT_TRUE(before.modified);
  PlayOnceThrough();
  QCoreApplication::processEvents();
  gUndoBufferTimer.proc();
  EXPECT_EQ(FrontGraphWindow(), w);
  EXPECT_EQ(StateOf(w), before);
  // A batch: the views saved as documents.
  const fs::path folder = gProgram->Temp() / "kept views";
  fs::create_directories(folder);
  gDialogs.folder = folder;
  ASSERT_EQ(ProcessCommand(kCmdSaveCached), kNoErr);
  while (OverviewBatchRunning())
    OverviewBatchStep();
  gUndoBufferTimer.proc();
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
  EXPECT_EQ(FrontGraphWindow(), w);
  EXPECT_EQ(StateOf(w), before);
  EXPECT_EQ(AllGraphWindows().size(), 1u);
}

TEST_F(OverviewTest, SavingABundledSampleAsksForAFileOfItsOwn) {
  // A copy of the bundled resources stands in for them, so a failing Save
  // harms no sample of the source tree.
  const fs::path resources = gProgram->Temp() / "resources";
  fs::create_directories(resources);
  fs::copy(BundledResourceFolder("Demo Files"), resources / "Demo Files", fs::copy_options::recursive);
  fs::copy(ExamplesFolder(), resources / "examples", fs::copy_options::recursive);
  setenv("OV_RESOURCES", resources.c_str(), 1);
  struct Unset {
    ~Unset() { unsetenv("OV_RESOURCES"); }
  } unset;
  const fs::path sample = resources / "Demo Files" / "Rutile.ovdf";
  const auto bytes = [](const fs::path &f) {
    std::ifstream in(f, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string original = bytes(sample);
  ASSERT_TRUE(OpenFSRefInWindow(sample, nullptr));
  WindowRef w = FrontGraphWindow();
  ASSERT_EQ(ProcessCommand(kCmdSpaceFilling), kNoErr);
  const fs::path mine = gProgram->Temp() / "My Rutile.ovdf";
  gShellDialogs.saveFile = mine;
  ProcessCommand(kCmdSave);
  EXPECT_EQ(gShellDialogs.saveDialogs, 1);
  EXPECT_TRUE(bytes(sample) == original);
  EXPECT_TRUE(fs::exists(mine));
  EXPECT_EQ(GetMainWindow(w)->File(), mine);
}

TEST_F(OverviewTest, AModelTypeChangeShowsTheUnsavedMark) {
  WindowRef w = OpenExample("NaCl.ovtx");
  MainWindow *m = GetMainWindow(w);
  EXPECT_FALSE(m->isWindowModified());
  ASSERT_EQ(ProcessCommand(kCmdSpaceFilling), kNoErr);
  EXPECT_TRUE(IsWindowModified(w));
  EXPECT_TRUE(m->isWindowModified());
}

TEST_F(OverviewTest, UndoStatesAndTextFilesShowTheirOwnPictures) {
  WindowRef w = OpenExample("NaCl.ovtx");
  DestroyWindowHistory(w);
  gUndoBufferTimer.proc();
  for (const char *type : {"Spac", "Wire", "Ball", "Stik"}) {
    ASSERT_EQ(ProcessCommand(FourCharsToLong(type)), kNoErr);
    gUndoBufferTimer.proc();
  }
  DoOverviewTabChoice(kHistoryTab);
  ASSERT_GE(GetNumThumbnails(), 3);
  EXPECT_TRUE(SlotPixels(0) != SlotPixels(1));
  EXPECT_TRUE(SlotPixels(1) != SlotPixels(2));
  // Text files are drawn, quietly: the Log gets no lines from it.
  AddRecentFile(ExamplesFolder() / "NaCl.ovtx");
  AddRecentFile(ExamplesFolder() / "Quartz.ovtx");
  DoOverviewTabChoice(kRecentTab);
  const int logLength = GetLogStore()->Length();
  ASSERT_GE(GetNumThumbnails(), 2);
  EXPECT_TRUE(SlotPixels(0) != SlotPixels(1));
  EXPECT_EQ(GetLogStore()->Length(), logLength);
}

TEST_F(OverviewTest, UndoAfterLoadingAViewGivesBackTheWindowsName) {
  WindowRef w = WindowWithViews(2);
  const QString name = PlainWindowTitle(GetMainWindow(w)); // the file's title card
  ASSERT_EQ(ProcessCommand(kCmdSpaceFilling), kNoErr);
  gUndoBufferTimer.proc();
  ClickSlot(1);
  EXPECT_EQ(PlainWindowTitle(GetMainWindow(w)), "v2");
  gUndoBufferTimer.proc();
  ProcessCommand(kCmdUndo);
  EXPECT_EQ(PlainWindowTitle(GetMainWindow(w)), name);
}

// A CIF of two blocks added to the Favourites opens from there with its
// first structure, and the Log says how many others the file holds.
TEST_F(OverviewTest, AFavouriteOfSeveralStructuresOpensTheFirstAndSaysHowManyOthers) {
  const fs::path file = gProgram->Temp() / "two blocks.cif";
  std::string text;
  for (const char *name : {"first", "second"})
    text += std::string("data_") + name +
            "\n_cell_length_a 5.64\n_cell_length_b 5.64\n_cell_length_c 5.64\n_cell_angle_alpha 90\n"
            "_cell_angle_beta 90\n_cell_angle_gamma 90\n_symmetry_space_group_name_H-M 'F m -3 m'\nloop_\n"
            "_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\nNa1 0 0 0\nCl1 0.5 0.5 "
            "0.5\n";
  std::ofstream(file) << text;
  WindowRef w = OpenExample("Rutile.ovtx");
  DoOverviewTabChoice(kFavouritesTab);
  gDialogs.files = {file};
  ASSERT_EQ(OverviewWindowCommand(kCmdAddFiles), kNoErr);
  gDialogs.files.clear();
  ASSERT_EQ(GetNumFavouriteFiles(), 1);
  DoLoadFromCache(GetCachePtrWithRectID(0), false);
  QCoreApplication::processEvents();
  EXPECT_TRUE(gHost->alerts.empty());
  const CrystalRec *c = GetWindowCrystal(FrontGraphWindow());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->atomsPerCell, 8);
  EXPECT_TRUE(GetLogStore()->PlainText().contains("two blocks.cif holds 2 structures; the first (first) is opened"));
  (void)w;
}

namespace {

// Three minerals whose CIF blocks are all named "global", as a database
// writes them.
std::vector<fs::path> GlobalBlockFavourites(const fs::path &folder) {
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::vector<fs::path> files;
  for (const auto &[name, a] : {std::pair{"halite", 5.64}, {"sylvite", 6.29}, {"periclase", 4.21}}) {
    files.push_back(folder / (std::string(name) + ".cif"));
    std::ofstream(files.back()) << "data_global\n_cell_length_a " << a << "\n_cell_length_b " << a
                                << "\n_cell_length_c " << a
                                << "\n_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                                   "_symmetry_space_group_name_H-M 'F m -3 m'\nloop_\n_atom_site_label\n"
                                   "_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\nA1 0 0 0\n"
                                   "B1 0.5 0.5 0.5\n";
    EXPECT_TRUE(DoCacheFavouriteFile(files.back(), nullptr));
  }
  return files;
}

} // namespace

// A batch names each output after its file, not after the block they share;
// neither a batch nor Play puts the favourites in Open Recent.
TEST_F(OverviewTest, BatchOutputsTakeTheFilesNamesAndOpenRecentOnlyTheUsersOpens) {
  GlobalBlockFavourites(gProgram->Temp() / "global blocks");
  OpenExample("Rutile.ovtx");
  DoOverviewTabChoice(kFavouritesTab);
  ASSERT_EQ(GetNumThumbnails(), 3);
  const long recent = GetNumRecentFiles();
  ASSERT_EQ(recent, 1);

  const fs::path pictures = gProgram->Temp() / "global pictures";
  ExportFavouritePictures(pictures);
  for (const char *name : {"halite.png", "sylvite.png", "periclase.png"})
    EXPECT_TRUE(fs::exists(pictures / name)) << name;
  EXPECT_EQ(FilesIn(pictures), 3);
  EXPECT_EQ(GetNumRecentFiles(), recent) << "a batch";

  PlayOnceThrough();
  EXPECT_EQ(GetNumRecentFiles(), recent) << "Play";

  // A favourite the user loads is one the user opened.
  DoLoadFromCache(GetCachePtrWithRectID(1), false);
  EXPECT_EQ(GetNumRecentFiles(), recent + 1);
}
