// A drawing target for the raster tests: an off-screen port made current
// and taken as the target of the pixel routines.
#pragma once

#include "graphics/GraphicsPort.h"
#include "render/RasterPrimitives.h"
#include "render/RenderGlobals.h"

#include <memory>

using namespace ovgfx;

struct TestTarget {
  std::unique_ptr<GraphicsPort> port;

  explicit TestTarget(const Rect &bounds, int depth = 32, uint32_t fill = 0xFF000000u) {
    port = GraphicsPort::NewOffscreen(bounds, depth);
    if (depth == 32)
      port->Pixels()->Fill(fill);
    SetCurrentPort(port.get());
    GetCurrentPixGlobals();
  }
  ~TestTarget() {
    DisposeCurrentPixGlobals();
    SetCurrentPort(nullptr);
    GetCurrentPixGlobals(); // no target: the next test starts clean
  }
  // Narrows the port's clip and takes the target again.
  void Clip(const Rect &r) {
    port->ClipRect(r);
    GetCurrentPixGlobals();
  }
  PixelBuffer &px() { return *port->Pixels(); }
  uint32_t At(int x, int y) { return port->Pixels()->Pixel32(x, y); }
  // The red channel: the tests draw white on black, so it is the weight.
  int Red(int x, int y) { return int(PixelRed(At(x, y))); }
  int CountLit() {
    int n = 0;
    const Rect &b = px().Bounds();
    for (int y = b.top; y < b.bottom; ++y)
      for (int x = b.left; x < b.right; ++x)
        n += (At(x, y) & 0x00FFFFFFu) != 0;
    return n;
  }
};

// White blended over black by the vertical-line weights and some cone
// entries: 255 * weight, truncated.
inline constexpr int kLitCentre = 198;   // 0.779862
inline constexpr int kLitNeighbour = 28; // 0.110069 (entry 20)
inline constexpr int kLitEntry19 = 35;   // 0.137263
