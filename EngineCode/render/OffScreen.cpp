#include "render/OffScreen.h"

#include "Alerts.h"
#include "HostServices.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <unistd.h>

using namespace ovgfx;

namespace {

ScreenHooks gScreenHooks;

// `MakeGWorld` results.
constexpr int16_t kParamErr = -50;
constexpr int16_t kMemFullErr = -108;

int64_t RowBytes(int32_t width, int16_t depth) { return ((int64_t(width) * depth + 31) / 32) * 4 + 4; }

} // namespace

uint8_t gRecordingVideo = 0;

void RecordMovieFrame() {
  WindowRef front = FrontGraphWindow();
  if (gScreenHooks.recordMovieFrame && front && IsWindowFileOpen(front))
    gScreenHooks.recordMovieFrame();
}

void SetScreenHooks(const ScreenHooks &hooks) { gScreenHooks = hooks; }
const ScreenHooks &GetScreenHooks() { return gScreenHooks; }

void DrawGrid(WindowRef window, const Rect &rect) {
  if (gScreenHooks.drawGrid && window)
    gScreenHooks.drawGrid(window, rect);
}

void DrawNoteHeaderPane(WindowRef window) {
  if (gScreenHooks.drawNoteHeaderPane && window)
    gScreenHooks.drawNoteHeaderPane(window);
}

void SysBeep() {
  if (HostServices *host = GetHostServices())
    host->Beep();
}

void DoQuit() {
  if (gScreenHooks.doQuit)
    gScreenHooks.doQuit();
}

int64_t FreeMemory() {
  if (gScreenHooks.freeMemory)
    return gScreenHooks.freeMemory();
  const long pages = sysconf(_SC_AVPHYS_PAGES), size = sysconf(_SC_PAGESIZE);
  return pages > 0 && size > 0 ? int64_t(pages) * size : INT64_MAX;
}

int64_t CalculateOffScreenMemory(WindowRef window, int16_t depth) {
  if (!GetMainWindowData(window))
    return 0;
  Rect b;
  GetWindowOffBounds(window, &b);
  const int64_t bytes = int64_t(b.bottom - b.top) * RowBytes(b.right - b.left, depth);
  const CrystalRec *c = GetWindowCrystal(window);
  return c && c->surfaceOverlay ? 2 * bytes : bytes;
}

int64_t GetMemoryOffScreen(const OVImageHandle &image) {
  const PixelBuffer *px = OffScreenPixels(image);
  return px ? int64_t(px->Height()) * px->RowBytes() : 0;
}

void MemoryUsage(int64_t &freeBytes, int64_t &offScreenBytes, int64_t &atomImageBytes) {
  freeBytes = FreeMemory();
  offScreenBytes = 0;
  atomImageBytes = 0;
  HostServices *host = GetHostServices();
  if (!host)
    return;
  for (WindowRef w : host->StructureWindows()) {
    if (!GetMainWindowData(w))
      continue;
    offScreenBytes += GetMemoryOffScreen(GetWindowOffScreen(w)) + GetMemoryOffScreen(GetWindowTransferBuffer(w));
    for (const SphereRecord &t : GetWindowCrystal(w)->spheres)
      atomImageBytes += GetMemoryOffScreen(t.image1) + GetMemoryOffScreen(t.image2);
  }
}

// ---- The window's images -------------------------------------------------------------

int16_t MakeGWorld(OVImageHandle &image, const Rect &rect, int16_t depth) {
  image.reset();
  if (rect.bottom <= rect.top || rect.right <= rect.left)
    return kParamErr;
  const Rect bounds{rect.top, rect.left, rect.bottom, rect.right};
  // One-bit images stay one bit; every other depth is held in 32-bit
  // pixels, the one colour format of our pixel buffers.
  std::unique_ptr<PixelBuffer> pixels = PixelBuffer::Create(bounds, depth == 1 ? 1 : kOffScreenDepth);
  if (!pixels)
    return kMemFullErr;
  image = std::shared_ptr<PixelBuffer>(pixels.release());
  return 0;
}

PixelBuffer *OffScreenPixels(const OVImageHandle &image) { return static_cast<PixelBuffer *>(image.get()); }

namespace ovrender {
void ResetOffScreen(WindowRef window) {
  if (!GetMainWindowData(window))
    return;
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  const Rect bounds{0, 0, static_cast<int16_t>(pane.bottom - pane.top), static_cast<int16_t>(pane.right - pane.left)};
  SetWindowOffBounds(window, bounds);
  SetWindowOffScreen(window, nullptr);
  SetWindowOffScreenOverlay(window, nullptr);
  SetWindowTransferBuffer(window, nullptr);
  // A pane without size (a window not yet laid out) gets no images; its
  // next reset makes them.
  if (bounds.bottom <= 0 || bounds.right <= 0)
    return;

  // Our images are always 32-bit, so the memory is counted at that depth:
  // there is no shallower image to fall back on.
  const int16_t depth = kOffScreenDepth;
  const int64_t need = CalculateOffScreenMemory(window, depth);
  const int64_t free = FreeMemory();
  if (free < need) {
    if (free >= kMinFreeMemory) {
      MyCFCautionAlert("Insufficient memory to draw window at that size!");
      return;
    } else {
      MyCFStopAlert("Insufficient memory to generate offscreen buffer");
      DoQuit();
    }
  }

  CrystalRec *crystal = GetWindowCrystal(window);
  OVImageHandle main;
  if (MakeGWorld(main, bounds, depth) != 0) {
    MyCFStopAlert("Error building offscreen graphics world - probably insufficient memory");
    return;
  }
  SetWindowOffScreen(window, main);
  if (crystal && crystal->surfaceOverlay) {
    OVImageHandle overlay;
    if (MakeGWorld(overlay, bounds, depth) != 0) {
      MyCFStopAlert("Error building offscreen overlay graphics world - probably insufficient memory");
      return;
    }
    SetWindowOffScreenOverlay(window, overlay);
  }
  if (crystal && crystal->stereoOn && crystal->stereoMode == kRedBlueStereo) {
    OVImageHandle transfer;
    if (MakeGWorld(transfer, bounds, depth) != 0) {
      MyCFCautionAlert("Insufficient memory for red/blue stereo rendering");
      crystal->stereoOn = 0;
    } else {
      SetWindowTransferBuffer(window, transfer);
    }
  }
}
} // namespace ovrender
