#include "render/PolygonClip.h"

#include "graphics/GraphicsPort.h"

#include <algorithm>

using namespace ovgfx;

Rect PolygonClipLimit() {
  const GraphicsPort *port = CurrentPort();
  if (!port)
    return kWideOpenRect;
  Rect picture = port->PortRect();
  if (!port->Clip().IsEmpty())
    picture = SectRect(picture, port->Clip().Bounds());
  const auto grown = [](int v, int by) { return std::clamp(v + by, -32767, 32767); };
  return MakeRect(grown(picture.left, -kPolygonClipMargin), grown(picture.top, -kPolygonClipMargin),
                  grown(picture.right, kPolygonClipMargin), grown(picture.bottom, kPolygonClipMargin));
}
