#include "export/RotationMovie.h"

#include "HostServices.h"
#include "Preferences.h"
#include "ViewOrientation.h"
#include "export/MovieRecording.h"
#include "export/VideoRecorder.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "render/RenderGlobals.h"
#include "window/MainWindowData.h"

#include <cstdio>

namespace {

bool FramesValid(double frames) { return frames >= 1 && frames <= kMaxRotationMovieFrames; }

} // namespace

std::string RotationIntervalText(double frames) {
  if (!FramesValid(frames))
    return "Invalid number of frames";
  char text[48];
  std::snprintf(text, sizeof text, "%.2f\u00B0 interval", 360.0 / frames);
  return text;
}

std::string RotationFrameRateText(double frames, double seconds) {
  if (!(frames > 0 && seconds > 0))
    return {};
  char text[48];
  std::snprintf(text, sizeof text, "%.2f fps", frames / seconds);
  return text;
}

bool RotationSettingsValid(double frames, double seconds) { return FramesValid(frames) && seconds > 0; }

std::optional<double> StepRotationFrames(double frames, bool down) {
  const double next = frames + (down ? -1 : 1);
  if (!FramesValid(next))
    return std::nullopt;
  return next;
}

std::optional<double> StepRotationDuration(double seconds, bool down) {
  const double next = seconds + (down ? -0.1 : 0.1);
  if (!(next > 1e-9))
    return std::nullopt;
  return next;
}

bool SaveRotationMovieValues(double frames, double seconds, bool loop, bool playAll) {
  gPrefs.movieLoop = loop;
  gPrefs.moviePlayAll = playAll;
  if (FramesValid(frames))
    gPrefs.movieFrames = int32_t(frames);
  if (!(seconds > 0))
    return false;
  gPrefs.movieFrameRate = float(frames / seconds);
  return true;
}

void DoExportRotationMovie(WindowRef window) {
  const uint8_t wasVR = gIsVRMovie;
  if (gIsVRMovie)
    DoToggleVR();
  auto restore = [&] {
    if (gIsVRMovie != wasVR)
      DoToggleVR();
  };
  const int32_t frames = gPrefs.movieFrames;
  if (!window || frames <= 0 || !(gPrefs.movieFrameRate > 0) || !IsWindowFileOpen(window)) {
    restore();
    return;
  }
  if (!StartWindowMovie(window)) {
    restore();
    return;
  }
  const float step[3] = {0, 360.0f / float(frames), 0};
  gMovieSize = 0;
  gRecordingVideo = 1;
  const uint8_t fast = gUseFastRotn;
  gUseFastRotn = 0;
  for (int32_t i = 0; i < frames && MovieIsRolling(); ++i) {
    WriteProgress("Recording movie", float(i) * 100.0f / float(frames));
    PlotCrystal(window, kPlotToWindow);
    RotateXYZ(GetWindowCrystal(window), step);
  }
  gRecordingVideo = 0;
  gUseFastRotn = fast;
  PlotCrystal(window, kPlotToWindow);
  WriteStatus("Closing movie file");
  ConcludeMovie(gIsVRMovie, gPrefs.movieLoop, false, gPrefs.moviePlayAll);
  gFrameNum = 0;
  restore();
  CloseStatus();
}
