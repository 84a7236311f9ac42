// Playback of the Favourites or Views as a slide show, a flip-book or a
// sequence of spinning models, and its options dialog. Playback steps on a
// timer of the main loop, so the windows repaint while it runs and the
// cancel keys (Escape, Ctrl+period) stop it.
#include "overview/OverviewPlay.h"
#include "overview/OverviewPrivate.h"
#include "ui_OverviewPlay.h"

#include "inspectors/InspectorKit.h"
#include "shell/Forms.h"
#include "structurewindow/AutoRotate.h"
#include "structurewindow/PaneDrawing.h"
#include "structurewindow/StructureWindow.h"

#include "Preferences.h"
#include "StructureArrays.h"
#include "ViewOrientation.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

constexpr uint32_t kCmdOK = FourCharsToLong("ok  ");
constexpr uint32_t kCmdCancel = FourCharsToLong("not!");
constexpr uint32_t kPresetCodes[4] = {FourCharsToLong("Anim"), FourCharsToLong("Slid"), FourCharsToLong("Spin"),
                                      FourCharsToLong("Cust")};

PlayDialogRunner gRunner;

struct PlayState {
  bool active = false;
  WindowRef window = nullptr;
  bool fullScreenPlay = false;
  bool wasFillScreen = false;
  bool floatingWereVisible = false;
  int direction = 1;
  bool loop = false;
  int mode = 1;
  bool rotate = false;
  float seconds = 1.0f;
  uint64_t thumbnailStart = 0;
  bool spinning = false;
  float step = 1.0f;
  QTimer *timer = nullptr;
} gPlay;

QTimer *PlayTimer() {
  if (!gPlay.timer) {
    gPlay.timer = new QTimer(qApp);
    QObject::connect(gPlay.timer, &QTimer::timeout, gPlay.timer, [] { OverviewPlayStep(); });
  }
  return gPlay.timer;
}

// Loads the selection and starts its time.
bool StartThumbnail() {
  if (!gPlay.fullScreenPlay && !DoScrollThumbnailsToSelection())
    return false;
  if (!ValidSelection() || !PrepareOverviewWorkWindow(gPlay.window))
    return false;
  WindowRef window = gPlay.window;
  LoadCacheRecordIntoWindow(gSelectedCachePtr, window, false);
  CrystalRec *crystal = GetWindowCrystal(window);
  gPlay.spinning = gPlay.rotate && crystal && IsWindowFileOpen(window);
  if (gPlay.spinning) {
    gTrackBallRotn = 1;
    if (gPrefs.fastRotation)
      PlotCrystal(window, 1);
    gPlay.step = PlayRotationStep(crystal->lastPlotDuration, gPlay.seconds);
  }
  gPlay.thumbnailStart = Microseconds();
  PlayTimer()->start(gPlay.spinning ? 0 : 10);
  return true;
}

} // namespace

// ---- The dialog ---------------------------------------------------------------------------

OverviewPlayDialog::OverviewPlayDialog(QWidget *parent) : QDialog(parent), ui(new Ui::OverviewPlay) {
  ui->setupUi(this);
  setWindowModality(Qt::ApplicationModal);
  for (int i = 0; i < 4; i++)
    ui->presets->setItemData(i, QVariant::fromValue(kPresetCodes[i]));
  ConnectPaneCommands(this, [this](uint32_t code) { return Command(code); });
  connect(ui->presets, &QComboBox::activated, this,
          [this](int index) { Command(ui->presets->itemData(index).toUInt()); });
  connect(ui->seconds, &QLineEdit::textEdited, this, [this] { Command(FourCharsToLong("Time")); });
  connect(ui->modeRestart, &QRadioButton::clicked, this, [this] { Command(FourCharsToLong("LMod")); });
  connect(ui->modeBounce, &QRadioButton::clicked, this, [this] { Command(FourCharsToLong("LMod")); });
  connect(ui->buttons, &QDialogButtonBox::accepted, this, [this] { Command(kCmdOK); });
  connect(ui->buttons, &QDialogButtonBox::rejected, this, [this] { Command(kCmdCancel); });
}

OverviewPlayDialog::~OverviewPlayDialog() { delete ui; }

QLineEdit *OverviewPlayDialog::SecondsField() const { return ui->seconds; }

void OverviewPlayDialog::SetPlayParameters(const PlaySettings &s) {
  SetEditTextFormat(ui->seconds, "%.2f", s.seconds);
  ui->rotate->setChecked(s.rotate);
  ui->loop->setChecked(s.loop);
  (s.mode == 1 ? ui->modeRestart : ui->modeBounce)->setChecked(true);
  ui->mode->setEnabled(s.loop);
  ui->fullScreen->setChecked(s.fullScreen);
}

PlaySettings OverviewPlayDialog::GetPlayParameters() const {
  PlaySettings s;
  s.seconds = ClampPlaySeconds(GetEditTextFloat(ui->seconds));
  s.rotate = ui->rotate->isChecked();
  s.loop = ui->loop->isChecked();
  s.mode = ui->modeRestart->isChecked() ? 1 : 2;
  s.fullScreen = ui->fullScreen->isChecked();
  return s;
}

void OverviewPlayDialog::UpdatePresetsPopup() {
  const uint32_t name = MatchPlayPreset(GetPlayParameters());
  for (int i = 0; i < 4; i++)
    if (kPresetCodes[i] == name)
      ui->presets->setCurrentIndex(i);
}

uint32_t OverviewPlayDialog::PresetShown() const { return ui->presets->currentData().toUInt(); }

OSStatus OverviewPlayDialog::Command(uint32_t code) {
  PlaySettings preset;
  if (PlayPresetSettings(code, &preset)) {
    SetPlayParameters(preset);
    UpdatePresetsPopup();
    return kNoErr;
  }
  if (code == FourCharsToLong("KMod") || code == FourCharsToLong("LMod") || code == FourCharsToLong("Rota") ||
      code == FourCharsToLong("Time")) {
    UpdatePresetsPopup();
    return kNoErr;
  }
  if (code == FourCharsToLong("Loop")) {
    ui->mode->setEnabled(ui->loop->isChecked());
    UpdatePresetsPopup();
    return kNoErr;
  }
  if (code == kCmdOK) {
    accepted_ = true;
    accept();
    return kNoErr;
  }
  if (code == kCmdCancel || code == FourCharsToLong("quit")) {
    accepted_ = false;
    reject();
    return code == kCmdCancel ? kNoErr : kEventNotHandledErr;
  }
  return kEventNotHandledErr;
}

void SetPlayDialogRunner(PlayDialogRunner runner) { gRunner = std::move(runner); }

bool GetOverviewPlayOptions(float *seconds, uint8_t *rotate, uint8_t *loop, uint8_t *mode, uint8_t *fullScreen) {
  OverviewPlayDialog dialog;
  dialog.SetPlayParameters(PlaySettings{*seconds, *rotate, *loop, *mode, *fullScreen});
  dialog.UpdatePresetsPopup();
  dialog.SecondsField()->setFocus();
  const bool ok = gRunner ? gRunner(dialog) : (dialog.exec(), dialog.Accepted());
  if (!ok)
    return false;
  const PlaySettings s = dialog.GetPlayParameters();
  *seconds = s.seconds;
  *rotate = s.rotate;
  *loop = s.loop;
  *mode = s.mode;
  *fullScreen = s.fullScreen;
  return true;
}

// ---- Playing ------------------------------------------------------------------------------

void DoPlayCacheFiles() {
  WindowRef front = FrontGraphWindow();
  if (front)
    StopAutoRotationForWindow(front);
  if (gOverviewTabChoice != kFavouritesTab && gOverviewTabChoice != kViewsTab)
    return;
  if (MyOptionKeyDown() || GetOverviewPlayOptions(&gPrefs.playSeconds, &gPrefs.playRotate, &gPrefs.playLoop,
                                                  &gPrefs.playMode, &gPrefs.playFullScreen))
    DoPlayCacheFilesAgain();
}

void DoPlayCacheFilesAgain() {
  WindowRef front = FrontGraphWindow();
  if (gPlay.active || !front || (gOverviewTabChoice != kFavouritesTab && gOverviewTabChoice != kViewsTab))
    return;
  if (!ValidSelection())
    SelectThumbnail(0);
  if (!gSelectedCachePtr) {
    if (HostServices *host = GetHostServices())
      host->Beep();
    return;
  }
  QTimer *timer = gPlay.timer;
  gPlay = PlayState{};
  gPlay.timer = timer;
  gPlay.wasFillScreen = gFillScreen != 0;
  gPlay.floatingWereVisible = AreFloatingWindowsVisible();
  gPlay.fullScreenPlay = gPrefs.playFullScreen != 0;
  gPlay.loop = gPrefs.playLoop != 0;
  gPlay.mode = gPrefs.playMode;
  gPlay.rotate = gPrefs.playRotate != 0;
  gPlay.seconds = ClampPlaySeconds(gPrefs.playSeconds);
  // The thumbnails play in a window of their own: the front window's
  // document stays as it is.
  gPlay.window = OpenOverviewWorkWindow();
  if (!gPlay.window)
    return;
  if (!gPlay.fullScreenPlay)
    DrawThumbnails();
  SetCocoaCursor(kCmdDotCursor);
  gOverviewPlayInProgress = 1;
  gPlay.active = true;
  gPlay.direction = 1;
  gProhibitErrorAlerts = 1;
  MyCheckForUserCancelEvent(); // a cancel key pressed before the start does not count
  const bool started = StartThumbnail();
  // Full screen once the play window shows.
  if (started && gPlay.fullScreenPlay) {
    if (!gPlay.wasFillScreen)
      DoEnterFullScreen();
    if (gPlay.floatingWereVisible)
      DoToggleFloatingWindows();
  }
  if (!started)
    StopOverviewPlay();
}

bool DoPlayNextStructure(bool loop, int mode) {
  const int n = GetNumThumbnails();
  const int index = GetRectIDWithCachePtr(ValidSelection());
  if (index < 0)
    return false;
  if (!loop) {
    gSelectedCachePtr = gSelectedCachePtr->next;
    return true;
  }
  const int next = NextPlayIndex(index, n, loop, mode, &gPlay.direction);
  if (next < 0)
    return false;
  SelectThumbnail(next);
  return true;
}

void OverviewPlayStep() {
  // The cancel check lets timers run: a step never runs inside another.
  static bool inStep = false;
  if (!gPlay.active || inStep)
    return;
  inStep = true;
  struct Leave {
    ~Leave() { inStep = false; }
  } leave;
  if (MyCheckForUserCancelEvent()) {
    StopOverviewPlay();
    return;
  }
  if (gPlay.spinning && gPlay.window == FrontGraphWindow()) {
    if (CrystalRec *crystal = GetWindowCrystal(gPlay.window)) {
      const float angles[3] = {0.0f, gPlay.step, 0.0f};
      RotateXYZ(crystal, angles);
      gTrackBallRotn = 1;
      PlotCrystal(gPlay.window, 1);
      DrawGraphPane(gPlay.window);
    }
  }
  if (Microseconds() - gPlay.thumbnailStart < uint64_t(double(gPlay.seconds) * 1e6))
    return;
  if (!DoPlayNextStructure(gPlay.loop, gPlay.mode) || !gSelectedCachePtr || !StartThumbnail())
    StopOverviewPlay();
}

void StopOverviewPlay() {
  if (!gPlay.active)
    return;
  gPlay.active = false;
  if (gPlay.timer)
    gPlay.timer->stop();
  gOverviewPlayInProgress = 0;
  gProhibitErrorAlerts = 0;
  gTrackBallRotn = 0;
  SetCocoaCursor(kArrowCursor);
  if (gPlay.fullScreenPlay) {
    if (!gPlay.wasFillScreen)
      DoExitFullScreen();
    if (gPlay.floatingWereVisible && !AreFloatingWindowsVisible())
      DoToggleFloatingWindows();
  }
  CloseOverviewWorkWindow(gPlay.window);
  gPlay.window = nullptr;
  DrawThumbnails();
}

bool OverviewPlaying() { return gPlay.active; }
float OverviewPlayRotationStep() { return gPlay.step; }
