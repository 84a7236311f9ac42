#include "export/VideoRecorder.h"

#include "Preferences.h"
#include "export/MovieRecording.h"
#include "export/QTVRMovie.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <cstdio>

QTVROptions gQTVROptions;
uint8_t gIsVRMovie = 0;
uint32_t gFrameNum = 0;
uint32_t gFrameDuration = 0;
VideoRecorderButtons gVideoRecorderButtons;

namespace {

constexpr int kNotHandled = -9874;
bool gQTVRGridRecording = false;

void Refresh() {
  if (GetMovieHooks().refreshVideoWindow)
    GetMovieHooks().refreshVideoWindow();
}

void Recording(bool on) {
  VideoRecorderButtons &b = gVideoRecorderButtons;
  b.recordDown = on;
  b.stopEnabled = on;
  b.pauseEnabled = on;
  b.modeEnabled = !on;
}

// 'Rec ': start a movie, or resume the paused one.
void DoRecordButton() {
  VideoRecorderButtons &b = gVideoRecorderButtons;
  if (gRecordingVideo)
    return;
  WindowRef window = FrontGraphWindow();
  if (!window)
    return;
  if (!IsWindowFileOpen(window)) {
    if (gIsVRMovie) {
      b.recordDown = false;
      return;
    }
    ResetOffScreen(window);
  }
  const bool resuming = b.pauseDown && MovieIsRolling();
  b.pauseDown = false;
  if (!resuming) {
    if (gIsVRMovie && !(GetMovieHooks().getQTVROptions && GetMovieHooks().getQTVROptions(gQTVROptions))) {
      b.recordDown = false;
      return;
    }
    gMovieSize = 0;
    if (!StartWindowMovie(window)) {
      b.recordDown = false;
      return;
    }
  }
  gRecordingVideo = 1;
  Recording(true);
  Refresh();
  if (gIsVRMovie) {
    gQTVRGridRecording = true;
    const QTVROptions o = gQTVROptions;
    DoQuickTimeVRFrames(window, o.rows, o.columns, o.startHPan, o.endHPan, o.startVPan, o.endVPan);
    gQTVRGridRecording = false;
  } else {
    RecordMovieFrame();
  }
}

} // namespace

uint8_t DoToggleVR() {
  const uint8_t previous = gIsVRMovie;
  gIsVRMovie = !gIsVRMovie;
  Refresh();
  return previous;
}

int DoStopButton() {
  VideoRecorderButtons &b = gVideoRecorderButtons;
  b.pauseDown = false;
  b.recordDown = false;
  b.pauseEnabled = false;
  gRecordingVideo = 0;
  const int result = ConcludeMovie(gIsVRMovie, false, false, false);
  gFrameNum = 0;
  gMovieSize = 0;
  b.stopEnabled = false;
  b.modeEnabled = true;
  Refresh();
  return result;
}

int DoStopRecordingVideo() { return DoStopButton(); }

int DoVideoWindowNewFrame() {
  if (GetMovieHooks().videoWindowVisible && GetMovieHooks().videoWindowVisible()) {
    ++gFrameNum;
    Refresh();
  }
  return 0;
}

int VideoRecorderCommand(uint32_t command) {
  VideoRecorderButtons &b = gVideoRecorderButtons;
  switch (command) {
  case kCmdVideoRecord:
    DoRecordButton();
    return 0;
  case kCmdVideoPause:
    // A QTVR grid records at once and cannot pause.
    if (b.recordDown && !gIsVRMovie) {
      b.recordDown = false;
      b.pauseDown = true;
      gRecordingVideo = 0;
      Refresh();
    }
    return 0;
  case kCmdVideoStop:
    if (gQTVRGridRecording)
      gQTVRStopRequested = true; // the grid asks before it stops
    else if (b.stopEnabled || MovieIsRolling())
      DoStopButton();
    return 0;
  case kCmdVideoCompression:
    if (!gRecordingVideo && !MovieIsRolling()) {
      if (uint32_t size = GetVideoSettingsForGraphicsWindow(FrontGraphWindow()))
        gCompressedImageSize = size;
      gFrameNum = 0;
      Refresh();
    }
    return 0;
  case kCmdVideoQTVR:
  case kCmdVideoLinear:
    // No mode switch while a movie is open.
    if (!MovieIsRolling() && (gIsVRMovie != 0) != (command == kCmdVideoQTVR))
      DoToggleVR();
    return 0;
  default:
    return kNotHandled;
  }
}

std::string VideoFrameCountText(uint32_t frames) {
  char text[16];
  if (frames == 0)
    return "----";
  if (frames >= 10000)
    std::snprintf(text, sizeof text, "+%3ld", long(frames % 10000));
  else
    std::snprintf(text, sizeof text, "%04ld", long(frames));
  return text;
}

std::string VideoElapsedTimeText(uint32_t frames, uint32_t duration) {
  const uint64_t hundredths = uint64_t(frames) * duration / 6; // 600ths to 100ths
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d.%02d", int(hundredths / 6000), int(hundredths / 100 % 60),
                int(hundredths % 100));
  return text;
}

std::string VideoDataSizeText(uint32_t bytes) {
  char text[32];
  if (bytes <= 1048576)
    std::snprintf(text, sizeof text, "%5ld kB", long(bytes / 1024));
  else
    std::snprintf(text, sizeof text, "%5.1f MB", double(bytes) / 1048576.0);
  return text;
}
