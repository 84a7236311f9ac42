// Program-wide drawing settings read by every drawing routine.
#pragma once

#include <cstdint>

// Output resolution of the plot in dots per inch: 72 on the screen; an
// exporter sets its own resolution for the length of an export plot.
extern int16_t gPlotRes;
inline constexpr int16_t kScreenPlotRes = 72;

// 1: the renderer's own pixel drawing into an off-screen image (the
// anti-aliased forms); 2: drawing commands only, for recorded pictures.
extern uint8_t gPlotMethod;
inline constexpr uint8_t kPixelPlotMethod = 1;
inline constexpr uint8_t kCommandPlotMethod = 2;

// Set while a fast, reduced-quality rotation frame is drawn.
extern uint8_t gUseFastRotn;

// A length of `pixelsAtScreenRes` pixels at 72 dots per inch scaled to the
// output resolution, gPlotRes * pixelsAtScreenRes / 72 in whole pixels, and
// never below one pixel (an export below 72 dots per inch must not give pens
// or dashes of length 0).
int16_t ScaledToPlotRes(int pixelsAtScreenRes);

// True when lines are drawn by the anti-aliased pixel routines: the pixel
// method outside a fast rotation frame.
inline bool UseSmoothDrawing() { return gPlotMethod == kPixelPlotMethod && !gUseFastRotn; }
