// The inside of a Region, for the graphics layer's own sources only: engine
// headers never include this file.
#pragma once

#include "Region.h"

#include <QRegion>

namespace ovgfx {

struct Region::Impl {
  QRegion region;
};

} // namespace ovgfx
