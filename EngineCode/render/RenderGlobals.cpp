#include "render/RenderGlobals.h"

#include <algorithm>

int16_t gPlotRes = kScreenPlotRes;
uint8_t gPlotMethod = kPixelPlotMethod;
uint8_t gUseFastRotn = 0;

int16_t ScaledToPlotRes(int pixelsAtScreenRes) {
  int scaled = int(gPlotRes) * pixelsAtScreenRes / kScreenPlotRes;
  return int16_t(std::clamp(scaled, 1, 32767));
}
