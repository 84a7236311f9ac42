// The structure window's panes that draw themselves: the graph pane (the
// plotted picture), the horizontal ruler, the grid over the graph, the
// divider and the notes header.
//
// The ruler and the grid share one rule that picks round label intervals
// and a number of minor ticks from the plot scale (`InitRulerDivisions`).
#pragma once

#include "HostServices.h"
#include "RGBColor.h"

#include <cstdint>
#include <vector>

class QPainter;
class QPoint;
struct HiliteItem;
class QWidget;

inline constexpr RGBColor kRulerBackColor{61166, 61166, 61166};
inline constexpr RGBColor kRulerTickColor{26214, 26214, 26214};
inline constexpr RGBColor kRulerTextColor{0, 0, 0};
// Pixels wanted between ruler labels.
inline constexpr float kRulerLabelSpacing = 75.0f;
// Blend weights of the grid lines at label intervals and minor divisions.
inline constexpr uint16_t kGridMajorWeight = 26214;
inline constexpr uint16_t kGridMinorWeight = 13107;
// A left-hand label closer than this to the ruler's left edge is not drawn.
inline constexpr int kMinLeftLabelX = 21;

struct TickPreset {
  float interval;
  float minor[3]; // 0 ends the list
};
inline constexpr TickPreset gTickPresets[16] = {
    {0.1f, {0.01f, 0.02f, 0.05f}},
    {0.2f, {0.05f, 0.1f, 0}},
    {0.5f, {0.1f, 0.25f, 0}},
    {1.0f, {0.1f, 0.2f, 0.5f}},
    {2.0f, {0.25f, 0.5f, 1}},
    {5.0f, {1, 0, 0}},
    {10.0f, {1, 2, 5}},
    {20.0f, {2, 5, 10}},
    {25.0f, {5, 0, 0}},
    {50.0f, {5, 10, 25}},
    {100.0f, {10, 20, 50}},
    {200.0f, {20, 50, 100}},
    {250.0f, {50, 0, 0}},
    {500.0f, {50, 100, 250}},
    {1000.0f, {100, 200, 500}},
    {2000.0f, {200, 500, 1000}},
};

// Set by `InitRulerDivisions`: ruler units between labels, and divisions
// per label interval (at least 1).
extern float gTickLabelInterval;
extern int16_t gNumMinorTicks;

// Picks the label interval and minor ticks for a ruler `widthPixels` wide at
// `pixelsPerUnit`; false (globals untouched) when the width is below 1 or
// the scale below 0.01.
bool InitRulerDivisions(float widthPixels, float pixelsPerUnit);
// Pixels per ruler unit of the window: the plot scale, times 10 in
// nanometres. A units byte other than 1 or 2 is set to 1.
float RulerPixelsPerUnit(WindowRef window);

// The graph pane's picture, composed into the window's screen port: the
// off-screen image (scaled while the pane and the image differ in size), or
// the background and grid when there is no image yet.
void DrawGraphPane(WindowRef window);
// The draw procedures of the panes, called when Qt paints them.
void AutoDrawGraphPane(QWidget *control);
void AutoDrawHorizontalRuler(QWidget *control);
void AutoDrawVerticalDivider(QWidget *control);
void AutoDrawNoteHeaderPane(QWidget *control);

// Paints the ruler of the window (the ruler pane's draw procedure); the
// engine's `DrawRulers` asks for it through the host.
void DrawHorizontalRuler(WindowRef window, QPainter &painter);
void WriteTickPosition(QPainter &painter, int x, int y, const char *text);
// The grid over the rectangle into the current port.
void DrawGridIntoPort(WindowRef window, const Rect &rect);

void ToggleGrid(WindowRef window);
void ToggleRulerUnits(WindowRef window);

// Paints a window's highlight overlay (window coordinates) over the graph
// pane whose top-left corner in the window is `paneOrigin`.
void PaintHiliteOverlay(QPainter &painter, const std::vector<HiliteItem> &items, QPoint paneOrigin);
