// Every test program plots through the real renderer, as the program does
// after start-up.
#include "render/PlotPipeline.h"

namespace {
const bool gRendererInstalled = [] {
  InstallRenderServices();
  return true;
}();
} // namespace
