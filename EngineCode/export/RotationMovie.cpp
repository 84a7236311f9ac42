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

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace {

bool FramesValid(double frames) { return frames >= 1 && frames <= kMaxRotationMovieFrames; }

// What the movie's turns change of the structure, held to be put back
// exactly: a full turn in float steps ends near the start, not at it, and an
// export leaves the document as it was.
class HeldView {
public:
  explicit HeldView(const CrystalRec &c) : plane_(c.plane) {
    std::copy(std::begin(c.orientationMatrix), std::end(c.orientationMatrix), matrix_);
    std::copy(std::begin(c.viewDirection), std::end(c.viewDirection), direction_);
    std::copy(std::begin(c.plotCentre), std::end(c.plotCentre), centre_);
    carts_.reserve(c.atoms.size());
    for (const AtomRecord &a : c.atoms)
      carts_.push_back({a.cart[0], a.cart[1], a.cart[2]});
  }
  void PutBack(CrystalRec &c) const {
    std::copy(std::begin(matrix_), std::end(matrix_), c.orientationMatrix);
    std::copy(std::begin(direction_), std::end(direction_), c.viewDirection);
    std::copy(std::begin(centre_), std::end(centre_), c.plotCentre);
    c.plane = plane_;
    for (size_t k = 0; k < carts_.size() && k < c.atoms.size(); k++)
      std::copy(carts_[k].begin(), carts_[k].end(), c.atoms[k].cart);
  }

private:
  float matrix_[9], direction_[3], centre_[3];
  LatticePlane plane_;
  std::vector<std::array<float, 3>> carts_;
};

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
  const HeldView view(*GetWindowCrystal(window));
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
  view.PutBack(*GetWindowCrystal(window));
  PlotCrystal(window, kPlotToWindow);
  WriteStatus("Closing movie file");
  ConcludeMovie(gIsVRMovie, gPrefs.movieLoop, false, gPrefs.moviePlayAll);
  gFrameNum = 0;
  restore();
  CloseStatus();
}
