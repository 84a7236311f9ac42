// Pictures the program ships, looked up by number. Picture n is the image
// ":/pictures/<n>.png" of the program's compiled-in resources, turned into
// 32-bit pixels on first use and kept for the life of the program.
#pragma once

#include "PixelBuffer.h"

#include <cstdint>

namespace ovgfx {

// The picture, or null when the program has none of that number.
const PixelBuffer *GetPictureResource(int16_t id);

} // namespace ovgfx
