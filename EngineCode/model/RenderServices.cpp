#include "RenderServices.h"

namespace {
RenderServices *gRenderer = nullptr;
} // namespace

RenderServices *SetRenderServices(RenderServices *renderer) {
  RenderServices *previous = gRenderer;
  gRenderer = renderer;
  return previous;
}

RenderServices *GetRenderServices() { return gRenderer; }

void NewPlot(WindowRef window, bool applyViewDirection, bool reRender) {
  if (gRenderer)
    gRenderer->NewPlot(window, applyViewDirection, reRender);
}

void PlotCrystal(WindowRef window, int16_t destination) {
  if (gRenderer)
    gRenderer->PlotCrystal(window, destination);
}

void ResetOffScreen(WindowRef window) {
  if (gRenderer)
    gRenderer->ResetOffScreen(window);
}

void MakeUnitCell(CrystalRec *crystal) {
  if (gRenderer)
    gRenderer->MakeUnitCell(crystal);
}

void ProjectToPixel(const CrystalRec *crystal, const float xyz[3], int16_t pixel[2], int32_t width, int32_t height) {
  pixel[0] = pixel[1] = 0;
  if (gRenderer)
    gRenderer->ProjectToPixel(crystal, xyz, pixel, width, height);
}

void CFStringGetSize(const char *text, const char *fontName, float size, float &width, float &height) {
  width = 0;
  height = 0;
  if (gRenderer)
    gRenderer->MeasureString(text, fontName, size, width, height);
}
