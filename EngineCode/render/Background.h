// The plot's background: a plain colour, a two-colour gradient, or a
// picture placed over either; one program-wide cache of the rendered
// background; and the repainting of a structure window's graph pane.
//
// Gradient styles: 5 straight bands turned by the angle, 6 the same mirrored
// about the centre line, 7 concentric circles, 8 concentric squares turned by
// the angle. The scale is the ramp's length as a share of the rectangle's
// extent. Picture modes: 1 tiled, 2 centred, 3 fitted keeping proportions,
// 4 stretched.
//
// Main thread only: the cache is one record for the program.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"
#include "graphics/GraphicsTypes.h"
#include "graphics/PixelBuffer.h"

#include <cstdint>

inline constexpr uint32_t kFirstGradientStyle = 5;
inline constexpr uint32_t kLastGradientStyle = 8;
// A gradient scale of 0 or less would make the ramp infinitely steep.
inline constexpr float kMinGradientScale = 0.01f;
inline constexpr uint16_t kFirstPictureMode = 1;
inline constexpr uint16_t kLastPictureMode = 4;

// Colour or gradient into the rectangle of the current port. The port's
// fore colour and clip are kept.
void DrawSimpleBackgroundIntoRect(bool gradientOn, RGBColor background, RGBColor colour1, RGBColor colour2,
                                  uint32_t style, float angle, float scale, const Rect &rect);
// The structure's colour or gradient and picture into the current port.
// Stores back a picture mode outside 1 to 4 as the nearest one.
void DrawBackgroundIntoCurrentPort(CrystalRec *crystal, const Rect &rect);
// The plot's background into the rectangle of the current port, through the
// cache.
void DrawBackground(CrystalRec *crystal, const Rect &rect);
// Tiles the image over the rectangle of the current port from its top-left
// corner.
void MyTilePixels(const ovgfx::PixelBuffer *image, const Rect &rect);

// Repaints the window's graph pane with the background and the grid, and
// redraws the notes header.
void ClearScreen(WindowRef window);
// Copies the off-screen image (the red/blue composite when there is one) to
// the graph pane: all of it, or the part in `rect` (off-screen coordinates).
void RefreshScreen(WindowRef window, const Rect *rect);

// How many times the background cache was rendered, and dropping it.
uint64_t BackgroundCacheBuilds();
void DisposeBackgroundCache();
