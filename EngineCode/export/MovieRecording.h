// The movie recording engine: a client starts a movie for a structure
// window's image (StartMovieRolling), every image the renderer finishes for
// that window while gRecordingVideo is set becomes one frame
// (RecordMovieFrame), and the client ends it with ConcludeMovie. Frames are
// encoded by our own encoders and written by the movie file writer; only
// one movie is recorded at a time, on the main thread.
#pragma once

#include "StructureRecord.h"
#include "movie/MovieFile.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

namespace ovgfx {
class PixelBuffer;
}

// The spatial settings: codec type, codec, depth and quality (0..1024).
struct SpatialSettings {
  uint32_t codecType = ovmovie::kCodecAnimation;
  uint32_t codec = 0; // any codec of the type
  int16_t depth = 32;
  uint32_t spatialQuality = 512;
};

// The temporal settings; the frame rate is 16.16 fixed point.
struct TemporalSettings {
  uint32_t temporalQuality = 512;
  int32_t frameRate = 15 << 16;
  int32_t keyFrameRate = 0;
};

// The one movie-recording record.
struct CreateMovieRecord {
  std::filesystem::path file;                       // the destination chosen in the save dialog
  std::unique_ptr<ovmovie::MovieFileWriter> movie; // the movie and its storage
  bool videoTrack = false;                          // made with the first encoded frame
  SpatialSettings spatial;
  TemporalSettings temporal;
  uint32_t frameDuration = 40; // units of 1/600 s
  uint32_t framesSubmitted = 0;
  Rect frameRect{};           // of the recorded image
  uint8_t settingsChosen = 0; // the user chose settings in the dialog
  uint8_t depthSet = 0;       // the depth has been matched to an image
  WindowRef window = nullptr; // the structure window the movie records
};

extern CreateMovieRecord createMovie;
extern uint32_t gMovieSize;          // bytes of encoded frames so far
extern uint32_t gCompressedImageSize; // bytes of one compressed test frame

// What the engine asks of the windows; each answers as a cancelled dialog
// (or does nothing) while unset.
struct MovieHooks {
  // The compression settings dialog: edits codec, quality and depth;
  // `frameSize` gives one compressed frame's size for settings. True on OK.
  std::function<bool(SpatialSettings &, const std::function<uint32_t(const SpatialSettings &)> &frameSize)>
      compressionDialog;
  // The video recorder window: whether it shows, and a redraw of its
  // buttons and display after a change of state.
  std::function<bool()> videoWindowVisible;
  std::function<void()> refreshVideoWindow;
  // The QTVR options dialog: edits the grid; true on OK.
  std::function<bool(struct QTVROptions &)> getQTVROptions;
  // Lets the windows handle pending input during a long recording (the
  // recorder's Stop button).
  std::function<void()> processEvents;
  // Holds the recorded structure window at its size while its movie is open
  // (true), and lets it be resized again (false).
  std::function<void(WindowRef, bool)> holdWindowSize;
};
void SetMovieHooks(MovieHooks hooks);
MovieHooks &GetMovieHooks();

bool InitializeVideoRecording();
bool InitCompressorComponent();
int CloseCompressorComponent();
bool UpdateCompressorState(const ovgfx::PixelBuffer *image);
bool UpdateICMCompression();
bool GetCompressionParams(const ovgfx::PixelBuffer *image, SpatialSettings *spatial, TemporalSettings *temporal);
uint32_t SetCompressionSettings(const ovgfx::PixelBuffer *image, const Rect &frameRect, bool showDialog);
uint32_t CompressedImageSize(const ovgfx::PixelBuffer *image);
uint32_t GetVideoSettingsForGraphicsWindow(WindowRef window);
bool StartMovieRolling(const ovgfx::PixelBuffer *image, const Rect &frameRect, uint32_t *frameDuration);
// Encodes and writes one frame; false when none was written. Every frame
// has the size of the first: an image of another size ends the movie (with
// the frames written so far) and says so.
bool CompressMovieFrame(const ovgfx::PixelBuffer *image);
// The renderer's frame hook: the recorded window's current image.
void RecordWindowMovieFrame();
int WriteFrameToMovie(const std::vector<uint8_t> &frame);
int CreateMyVideoTrack();
int ConcludeMovie(bool qtvr, bool loop, bool palindrome, bool playAllFrames);
int SetPlayerOptions(bool loop, bool palindrome, bool playAllFrames);
int ResetMovie();
// Stops a movie that failed at `step`: a stop alert naming the file, why and
// the step, the unfinished movie dropped (an earlier file of its name stays
// as it was), recording off. The program keeps running.
void AbortMovie(std::string_view step, int error);
// The image a window's movie records: its red/blue composite, else its
// main off-screen image; null when it has neither.
const ovgfx::PixelBuffer *WindowMovieImage(WindowRef window);
// Starts a movie of the window's image over its off-screen bounds; the frame
// duration goes to gFrameDuration.
bool StartWindowMovie(WindowRef window);
// True while a movie file is open.
bool MovieIsRolling();
