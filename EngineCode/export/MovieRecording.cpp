#include "export/MovieRecording.h"

#include "export/ExportFrame.h"
#include "export/QTVRMovie.h"
#include "export/VideoRecorder.h"

#include "Alerts.h"
#include "HostServices.h"
#include "Preferences.h"
#include "Utilities.h"
#include "graphics/PixelBuffer.h"
#include "graphics/QtBridge.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QImage>

#include <algorithm>
#include <cmath>

using ovgfx::PixelBuffer;

CreateMovieRecord createMovie;
uint32_t gMovieSize = 0;
uint32_t gCompressedImageSize = 0;

namespace {

bool gRecordingInitialised = false;
MovieHooks gMovieHooks;

// Frames never get less than one time unit: 600 frames a second at most.
constexpr float kMaxFrameRate = 600.0f;

QImage FrameImage(const PixelBuffer &image) { return ovgfx::ImageView(const_cast<PixelBuffer &>(image)); }

uint32_t FrameDurationFor(float framesPerSecond) {
  if (!(framesPerSecond > 0))
    return 0;
  return std::max<uint32_t>(1, uint32_t(std::trunc(600.0f / std::min(framesPerSecond, kMaxFrameRate))));
}

// 16.16 rates; a faster rate than one frame a time unit is clamped.
int32_t ToFixed(float v) {
  return int32_t(std::lround(double(std::clamp(v, 0.0f, kMaxFrameRate)) * 65536.0));
}
float FromFixed(int32_t v) { return float(double(v) / 65536.0); }

// The recorded window may be resized again; the movie no longer knows it.
void ReleaseRecordedWindow() {
  if (createMovie.window && gMovieHooks.holdWindowSize)
    gMovieHooks.holdWindowSize(createMovie.window, false);
  createMovie.window = nullptr;
}

// A frame of another size cannot join the movie: the movie ends with the
// frames it has, through the recorder's Stop when the recorder records it.
void StopMovieForFrameSize() {
  const unsigned long frames = createMovie.framesSubmitted;
  if (gVideoRecorderButtons.stopEnabled) {
    DoStopRecordingVideo();
  } else {
    gRecordingVideo = 0;
    ConcludeMovie(false, false, false, false);
  }
  char explanation[256];
  std::snprintf(explanation, sizeof explanation,
                "The structure window's picture changed size, so the recording was stopped. The movie keeps the "
                "%lu frames recorded before.",
                frames);
  MyCFStopAlert("Movie recording stopped", explanation);
}

} // namespace

void SetMovieHooks(MovieHooks hooks) { gMovieHooks = std::move(hooks); }
MovieHooks &GetMovieHooks() { return gMovieHooks; }

bool MovieIsRolling() { return createMovie.movie && createMovie.movie->IsOpen(); }

bool InitializeVideoRecording() {
  if (gRecordingInitialised)
    return true;
  createMovie = CreateMovieRecord{};
  if (!InitCompressorComponent())
    return false;
  gRecordingInitialised = true;
  return true;
}

bool InitCompressorComponent() {
  CloseCompressorComponent();
  createMovie.spatial = SpatialSettings{};
  createMovie.temporal = TemporalSettings{};
  createMovie.temporal.frameRate = ToFixed(gPrefs.movieFrameRate);
  WindowRef front = FrontGraphWindow();
  return UpdateCompressorState(front ? WindowMovieImage(front) : nullptr);
}

int CloseCompressorComponent() {
  createMovie.settingsChosen = 0;
  createMovie.depthSet = 0;
  return 0;
}

bool UpdateCompressorState(const PixelBuffer *image) {
  CreateMovieRecord &m = createMovie;
  if (!m.settingsChosen) {
    if (image && !m.depthSet) {
      // Our images are 32-bit; other depths would need an indexed codec,
      // which we do not write, so they keep the Animation codec at 32 bits.
      if (image->Depth() == 16 || image->Depth() == 24 || image->Depth() == 32)
        m.spatial.depth = image->Depth() == 16 ? 24 : image->Depth();
      m.depthSet = 1;
    }
    const int32_t rate = ToFixed(gPrefs.movieFrameRate);
    if (m.temporal.frameRate != rate)
      m.temporal.frameRate = rate;
  }
  if (!UpdateICMCompression())
    return false;
  gPrefs.movieFrameRate = FromFixed(m.temporal.frameRate);
  m.frameDuration = FrameDurationFor(gPrefs.movieFrameRate);
  return true;
}

bool UpdateICMCompression() {
  // Our encoders take the settings as they stand; key frames only.
  const SpatialSettings &s = createMovie.spatial;
  return s.codecType == ovmovie::kCodecAnimation || s.codecType == ovmovie::kCodecPhotoJPEG ||
         s.codecType == ovmovie::kCodecPNG;
}

bool GetCompressionParams(const PixelBuffer *image, SpatialSettings *spatial, TemporalSettings *temporal) {
  if (!UpdateCompressorState(image))
    return false;
  if (spatial)
    *spatial = createMovie.spatial;
  if (temporal)
    *temporal = createMovie.temporal;
  return true;
}

namespace {

uint32_t EncodedSize(const PixelBuffer *image, const SpatialSettings &s) {
  if (!image)
    return 0;
  std::vector<uint8_t> data;
  if (!ovmovie::EncodeFrame(FrameImage(*image), s.codecType, s.depth, s.spatialQuality, data))
    return 0;
  return uint32_t(data.size());
}

} // namespace

uint32_t SetCompressionSettings(const PixelBuffer *image, const Rect &frameRect, bool showDialog) {
  (void)frameRect;
  if (!showDialog) {
    GetCompressionParams(image, nullptr, nullptr);
    return 0;
  }
  if (!GetCompressionParams(image, nullptr, nullptr))
    return 0;
  SpatialSettings chosen = createMovie.spatial;
  if (!gMovieHooks.compressionDialog ||
      !gMovieHooks.compressionDialog(chosen, [image](const SpatialSettings &s) { return EncodedSize(image, s); }))
    return 0;
  createMovie.spatial = chosen;
  UpdateCompressorState(image);
  createMovie.settingsChosen = 1;
  gCompressedImageSize = CompressedImageSize(image);
  return gCompressedImageSize;
}

uint32_t CompressedImageSize(const PixelBuffer *image) {
  SpatialSettings s;
  if (!GetCompressionParams(image, &s, nullptr))
    return 0;
  return EncodedSize(image, s);
}

uint32_t GetVideoSettingsForGraphicsWindow(WindowRef window) {
  if (!InitializeVideoRecording() || gRecordingVideo || !window)
    return 0;
  if (!IsWindowFileOpen(window))
    ResetOffScreen(window);
  const PixelBuffer *image = WindowMovieImage(window);
  if (!image)
    return 0;
  return SetCompressionSettings(image, image->Bounds(), true);
}

bool StartMovieRolling(const PixelBuffer *image, const Rect &frameRect, uint32_t *frameDuration) {
  if (!InitializeVideoRecording() || MovieIsRolling())
    return false;
  CreateMovieRecord &m = createMovie;
  m.frameRect = frameRect;
  WindowRef front = FrontGraphWindow();
  HostServices *host = GetHostServices();
  const std::string title = host && front ? host->WindowTitle(front) : std::string();
  std::filesystem::path file;
  if (MyCreateSaveFileDialog("Save a QuickTime movie file", title + ".mov", &file) != 0)
    return false;
  SetCompressionSettings(image, frameRect, false);
  if (m.frameDuration == 0)
    return false; // no frame rate, no movie
  m.file = file;
  m.window = front;
  m.framesSubmitted = 0;
  m.videoTrack = false;
  gMovieSize = 0;
  m.movie = std::make_unique<ovmovie::MovieFileWriter>();
  ovmovie::TrackSpec track;
  track.width = frameRect.right;
  track.height = frameRect.bottom;
  m.movie->AddTrack(std::move(track));
  if (m.movie->Open(file) != 0) {
    const std::string reason = m.movie->Reason();
    m.movie.reset();
    MyCFStopAlert("Movie creation failed",
                  "Orvalisphere was unable to create a movie file, and so the movie output was halted. The file may "
                  "be busy, or in use by another program. Try again, using a different filename. " +
                      ExportFailureExplanation(file, reason));
    return false;
  }
  // The window keeps the movie's frame size until the movie ends.
  if (front && gMovieHooks.holdWindowSize)
    gMovieHooks.holdWindowSize(front, true);
  // The renderer hands every finished image of the recorded window to us.
  ScreenHooks hooks = GetScreenHooks();
  hooks.recordMovieFrame = &RecordWindowMovieFrame;
  SetScreenHooks(hooks);
  if (frameDuration)
    *frameDuration = m.frameDuration;
  return true;
}

bool CompressMovieFrame(const PixelBuffer *image) {
  CreateMovieRecord &m = createMovie;
  if (!MovieIsRolling() || !image)
    return false;
  const int width = m.frameRect.right - m.frameRect.left;
  const int height = m.frameRect.bottom - m.frameRect.top;
  if (image->Width() != width || image->Height() != height) {
    StopMovieForFrameSize();
    return false;
  }
  std::vector<uint8_t> data;
  if (!ovmovie::EncodeFrame(FrameImage(*image), m.spatial.codecType, m.spatial.depth, m.spatial.spatialQuality,
                            data)) {
    AbortMovie("CompressMovieFrame", ovmovie::kMovieEncodeError);
    return false;
  }
  ++m.framesSubmitted;
  return WriteFrameToMovie(data) == 0;
}

const PixelBuffer *WindowMovieImage(WindowRef window) {
  const PixelBuffer *image = OffScreenPixels(GetWindowTransferBuffer(window));
  return image ? image : OffScreenPixels(GetWindowOffScreen(window));
}

bool StartWindowMovie(WindowRef window) {
  const PixelBuffer *image = WindowMovieImage(window);
  Rect bounds{};
  GetWindowOffBounds(window, &bounds);
  return image && StartMovieRolling(image, bounds, &gFrameDuration);
}

void RecordWindowMovieFrame() {
  WindowRef window = createMovie.window;
  if (!MovieIsRolling() || !window || FrontGraphWindow() != window || !IsWindowFileOpen(window))
    return;
  // The recorder counts the frames the movie holds.
  if (CompressMovieFrame(WindowMovieImage(window)))
    DoVideoWindowNewFrame();
}

int CreateMyVideoTrack() {
  CreateMovieRecord &m = createMovie;
  if (!m.movie)
    return ovmovie::kMovieStateError;
  ovmovie::TrackSpec &t = m.movie->Track(0);
  t.width = m.frameRect.right;
  t.height = m.frameRect.bottom;
  m.videoTrack = true;
  return 0;
}

int WriteFrameToMovie(const std::vector<uint8_t> &frame) {
  CreateMovieRecord &m = createMovie;
  if (!MovieIsRolling())
    return ovmovie::kMovieStateError;
  if (!m.videoTrack) {
    if (int err = CreateMyVideoTrack()) {
      AbortMovie("CreateMyVideoTrack", err);
      return err;
    }
    // The description follows the first frame's settings and size.
    m.movie->Track(0).sampleDescription = ovmovie::VideoSampleDescription(
        m.spatial.codecType, m.frameRect.right - m.frameRect.left, m.frameRect.bottom - m.frameRect.top,
        m.spatial.depth, m.spatial.spatialQuality);
  }
  if (int err = m.movie->AppendSample(0, frame, m.frameDuration)) {
    AbortMovie("WriteFrameToMovie", err);
    return err;
  }
  gMovieSize += uint32_t(frame.size());
  return 0;
}

int SetPlayerOptions(bool loop, bool palindrome, bool playAllFrames) {
  if (!createMovie.movie)
    return ovmovie::kMovieStateError;
  if (loop)
    createMovie.movie->AddUserData({ovmovie::FourCC("LOOP"), {0, 0, 0, uint8_t(palindrome ? 1 : 0)}});
  if (playAllFrames) {
    // The documented play-all-frames item, and the older one beside it.
    createMovie.movie->AddUserData({ovmovie::FourCC("AllF"), {1}});
    createMovie.movie->AddUserData({ovmovie::FourCC("play"), {1}});
  }
  return 0;
}

int ConcludeMovie(bool qtvr, bool loop, bool palindrome, bool playAllFrames) {
  CreateMovieRecord &m = createMovie;
  int result = 0;
  if (MovieIsRolling()) {
    if (qtvr && m.framesSubmitted > 0)
      MakeQTVRMovie();
    else if (loop || playAllFrames)
      SetPlayerOptions(loop, palindrome, playAllFrames);
    if ((result = m.movie->Close()) != 0)
      AbortMovie("AddMovieToStorage", result);
  }
  ResetMovie();
  return result;
}

int ResetMovie() {
  CreateMovieRecord &m = createMovie;
  m.movie.reset(); // an unfinished file is deleted
  m.videoTrack = false;
  m.framesSubmitted = 0;
  ReleaseRecordedWindow();
  return 0;
}

void AbortMovie(std::string_view step, int error) {
  CreateMovieRecord &m = createMovie;
  gRecordingVideo = 0;
  const std::string reason = m.movie ? m.movie->Reason() : std::string();
  if (m.movie)
    m.movie->Abandon();
  m.movie.reset();
  m.videoTrack = false;
  m.framesSubmitted = 0;
  ReleaseRecordedWindow();
  const std::string where = std::string(step) + ", error " + std::to_string(error);
  MyCFStopAlert("Movie recording stopped",
                ExportFailureExplanation(m.file, reason.empty() ? where : reason + "; " + where) +
                    " The recording was stopped; no partial file was left, and an earlier file of that name was kept "
                    "as it was.");
}
