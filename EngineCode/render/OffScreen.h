// The window's off-screen images and their memory, and the few services of
// the structure window and the shell that drawing to the screen needs.
//
// A structure window draws into off-screen images (the main image, the
// surface-overlay image, the red/blue transfer image) of the graph pane's
// size and shows them in its graph pane. `ResetOffScreen` and `MakeGWorld`
// (PlotPipeline.h) make them; this file counts what they cost.
//
// Main thread only.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"
#include "graphics/GraphicsPort.h"

#include <cstdint>

// Below this much free memory the program cannot go on and asks to quit.
inline constexpr int64_t kMinFreeMemory = 64000;

// What the structure window and the shell provide for drawing on screen.
// Each entry may be left empty; the engine then does without it (nothing is
// shown, drawn or quit).
struct ScreenHooks {
  // The port showing the window's content, in window coordinates; the graph
  // pane is the part of it `GetWindowGraphBounds` gives.
  ovgfx::GraphicsPort *(*windowPort)(WindowRef window) = nullptr;
  // The rectangle (window coordinates) of the window's port was drawn.
  void (*windowPortChanged)(WindowRef window, const Rect &rect) = nullptr;
  // The window's grid over the rectangle, into the current port.
  void (*drawGrid)(WindowRef window, const Rect &rect) = nullptr;
  // Redraws the notes header pane when it shows.
  void (*drawNoteHeaderPane)(WindowRef window) = nullptr;
  // Starts quitting and returns at once.
  void (*doQuit)() = nullptr;
  // The largest block of memory that can still be had, in bytes; without
  // this hook the machine's available memory.
  int64_t (*freeMemory)() = nullptr;
  // Export: adds the front structure window's image as the next frame of
  // the movie being recorded (the movie recorder installs it).
  void (*recordMovieFrame)() = nullptr;
};
void SetScreenHooks(const ScreenHooks &hooks);
const ScreenHooks &GetScreenHooks();

// The services by the names the engine uses.
void DrawGrid(WindowRef window, const Rect &rect);
void DrawNoteHeaderPane(WindowRef window);
// The host's beep.
void SysBeep();
void DoQuit();
// Free memory in bytes.
int64_t FreeMemory();

// Set while a movie is being recorded; each image copied to a window then
// becomes a frame (RecordMovieFrame).
extern uint8_t gRecordingVideo;
// When the front structure window holds a structure: its red/blue
// composite, or its main image, as the movie's next frame.
void RecordMovieFrame();

// Bytes the window's images need at a depth: row bytes
// ((w * depth + 31) / 32) * 4 + 4 times the height, doubled with the
// surface overlay on; the transfer image is not counted. 0 for no window.
int64_t CalculateOffScreenMemory(WindowRef window, int16_t depth);
// Bytes of an image's pixels; 0 for none.
int64_t GetMemoryOffScreen(const OVImageHandle &image);
// Figures for the memory report: free bytes, the off-screen images of every
// structure window (main and transfer), and their atom-type images.
void MemoryUsage(int64_t &freeBytes, int64_t &offScreenBytes, int64_t &atomImageBytes);
