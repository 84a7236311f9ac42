// The arrow tool and the region tools of the graph pane.
//
// The arrow tool selects atoms, bonds, vectors and annotation objects by
// clicking, drags the selection, duplicates it with Option and opens the
// editors on a double click; a press on empty space draws a selection
// rectangle. The lasso and polygon tools select by outlines. All regions end
// in `PlotCrystalRegion`, which rasterises the region once into an even-odd
// mask of the pane and looks the atoms, vector tips and objects up in it.
//
// Each tool is a press / move / release state machine fed by the window's
// input (Tools.h); the polygon is a modal state of the pane that takes the
// next presses and moves until it closes or Escape cancels it.
#pragma once

#include "HostServices.h"

#include <cstdint>
#include <vector>

// Tick count (1/60 s) of the last arrow-tool press.
extern uint32_t gLastClickTicks;

// The lasso path stops growing here; the polygon closes at this many vertices.
inline constexpr size_t kMaxLassoPoints = 32000;
inline constexpr size_t kMaxPolygonVertices = 100;
// A press this near the first vertex (in x and in y) closes the polygon.
inline constexpr int kPolygonCloseDistance = 4;
// Option duplicates a crystal's selection this many pixels to the right.
inline constexpr float kDuplicateOffsetPixels = 10.0f;

// A region in graph-pane coordinates: a closed polygon (the last vertex joins
// the first), filled by the even-odd rule. x then y, pixel corners.
struct PaneRegion {
  std::vector<float> points;
};

// One arrow-tool press at the window point with the modifier bits.
void DoArrow(WindowRef window, Point point, unsigned modifiers);
// Selects (or with Shift toggles) what lies in the region; the region's
// result goes to the window's subtitle.
void PlotCrystalRegion(WindowRef window, const PaneRegion &region, bool toggle);
// The even-odd mask of a region over a width x height pane, one byte per
// pixel (1 inside), sampled at pixel centres.
std::vector<uint8_t> RasteriseRegion(const PaneRegion &region, int width, int height);
// The subtitle for the structure's totals of selected objects.
std::string SelectionSubtitle(int64_t atoms, int64_t vectors, int64_t objects);

// True while a polygon is being drawn in the window; a press outside the
// graph pane closes it.
bool IsPolygonRegionActive(WindowRef window);
void ClosePolygonRegion(WindowRef window);

// Registers the arrow, polygon and lasso tools' rows.
void RegisterArrowTools();
