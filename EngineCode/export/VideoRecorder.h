// The video recorder: its modes (linear, QTVR object movie), its buttons'
// states and commands, and the display's texts. The floating window shows
// this state and sends its commands here; recording runs on the main thread.
#pragma once

#include "StructureRecord.h"
#include "Utilities.h"

#include <cstdint>
#include <string>

// The QTVR grid: pans in degrees, rows and columns.
struct QTVROptions {
  float startHPan = 0, endHPan = 360, startVPan = 0, endVPan = 0;
  uint32_t rows = 1, columns = 36;
  uint64_t movieSize = 0; // estimated bytes
  uint32_t frames = 36;   // rows x columns
};
extern QTVROptions gQTVROptions;

extern uint8_t gIsVRMovie;      // the recorder is in QTVR mode
extern uint32_t gFrameNum;      // frames shown since the last stop
extern uint32_t gFrameDuration; // the current movie's frame duration, 1/600 s

// The buttons as the window shows them.
struct VideoRecorderButtons {
  bool recordDown = false;
  bool pauseDown = false;
  bool pauseEnabled = false;
  bool stopEnabled = false;
  bool modeEnabled = true; // QTVR, Linear and Compression
};
extern VideoRecorderButtons gVideoRecorderButtons;

// The recorder's commands.
constexpr uint32_t kCmdVideoRecord = FourCharsToLong("Rec ");
constexpr uint32_t kCmdVideoPause = FourCharsToLong("Paus");
constexpr uint32_t kCmdVideoStop = FourCharsToLong("Stop");
constexpr uint32_t kCmdVideoCompression = FourCharsToLong("Cmpr");
constexpr uint32_t kCmdVideoQTVR = FourCharsToLong("QTVR");
constexpr uint32_t kCmdVideoLinear = FourCharsToLong("Lner");

// Runs one of the commands above; -9874 for any other.
int VideoRecorderCommand(uint32_t command);
// Flips the mode; answers the previous one.
uint8_t DoToggleVR();
// Stops recording and writes the movie.
int DoStopButton();
// The same, for callers outside the window (a structure window closing).
int DoStopRecordingVideo();
// Counts a frame and redraws the display while the window shows.
int DoVideoWindowNewFrame();

// The display's texts: "----" for no frame, four digits, "+" beyond 9999.
std::string VideoFrameCountText(uint32_t frames);
// "mm:ss.hh" of frames × duration (600ths of a second).
std::string VideoElapsedTimeText(uint32_t frames, uint32_t duration);
// "%5ld kB" up to 1 MB, else "%5.1f MB".
std::string VideoDataSizeText(uint32_t bytes);
