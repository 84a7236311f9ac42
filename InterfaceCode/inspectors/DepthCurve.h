// The depth-cueing curve the Depth tab edits, and its pure operations: the
// presets, the handle drag with its clamps, and sliding the plateau.
//
// Depth z runs from 0 (back) to 1 (front). The curve is 1 between the two
// plateau depths, falls linearly to the minimum opacities at the base depths
// and stays there beyond them.
#pragma once

#include <QPoint>
#include <QRect>

struct DepthCurve {
  float upperMinOpacity = 1.0f;
  float upperBaseZ = 1.0f;
  float upperPlateauZ = 1.0f;
  float lowerMinOpacity = 0.0f;
  float lowerBaseZ = 0.0f;
  float lowerPlateauZ = 0.8f;
};

inline constexpr int kDepthPresetCount = 8; // rows 1 .. 8 are offered
inline constexpr int kDepthCustomItem = 10;
inline constexpr float kDepthPresetTolerance = 0.01f;
// Above this plateau width there is nothing to slide.
inline constexpr float kDepthFullPlateau = 0.999f;
inline constexpr int kDepthHandleRadius = 3;

const char *DepthPresetName(int row);
DepthCurve DepthPresetCurve(int row);
// The first preset (1 .. 8) whose six values all lie within the tolerance;
// the custom item when none does.
int MatchDepthPreset(const DepthCurve &curve);

// The handle points in a graph rectangle (front at the left), 0 to 5.
QPoint DepthHandlePoint(const DepthCurve &curve, const QRect &graph, int handle);
// The handle under the point, in the order bases, plateaus, edges; -1 none.
int HitDepthHandle(const DepthCurve &curve, const QRect &graph, QPoint point);
// Moves a handle to (z, opacity), each clamped to 0..1, keeping the curve's
// order; true when a value changed.
bool DragDepthHandle(DepthCurve &curve, int handle, float z, float opacity);

// Sliding the plateau: the bases and minimum opacities as they stood when
// the slider was last synchronised, and the slide itself (zoom 1 puts the
// plateau against the front, 0 against the back).
struct DepthZoomSaved {
  float upperBase = 1.0f, lowerBase = 0.0f, upperOpacity = 1.0f, lowerOpacity = 0.0f;
};
DepthZoomSaved SaveDepthZoom(const DepthCurve &curve);
void SetDepthZoomAmount(DepthCurve &curve, DepthZoomSaved &saved, float zoom);
// The slider position for the curve (0 .. maximum); -1 when the plateau
// spans the whole depth and the slider is off.
int DepthZoomSliderValue(const DepthCurve &curve, int maximum);
