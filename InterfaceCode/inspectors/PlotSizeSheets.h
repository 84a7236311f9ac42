// The Plot Scale and Plot Size sheets of a structure window: the plot scale
// in pixels per angstrom (with the zoom against the starting scale), and the
// size of the plot area in pixels, centimetres, millimetres or inches at 72
// pixels per inch, optionally for every structure window.
#pragma once

#include "StoredLimits.h"
#include "HostServices.h"

#include <cstdint>
#include <string>

class QDialog;

struct PlotScaleRecord {
  float startingScale = 0.0f; // pixels per angstrom when the sheet opened
  float scale = 0.0f;         // being edited
};

inline constexpr uint16_t kUnitPixels = 1, kUnitCentimetres = 2, kUnitMillimetres = 3, kUnitInches = 4;

struct PlotSizeRecord {
  int16_t width = 0, height = 0; // the result, pixels
  int16_t startingWidth = 0, startingHeight = 0;
  uint16_t widthUnits = kUnitPixels, heightUnits = kUnitPixels;
  uint8_t applyToAll = 0;
};
// The choices the next Plot Size sheet opens with.
extern uint16_t gPlotSizeHUnitsChoice, gPlotSizeVUnitsChoice;
extern uint8_t gPlotSizeApplyAllWindows;

// The scale the sheet takes lies strictly between these, within the table of
// stored limits, so that every scale it sets is saved and read back.
inline constexpr float kPlotScaleSheetMin = kMinTypedPlotScale, kPlotScaleSheetMax = kMaxPlotScale;
inline constexpr int kMinPlotSize = 80;

// Pixels to a unit's value and back, at 72 pixels per inch.
double PixelsToUnits(double pixels, uint16_t units);
double UnitsToPixels(double value, uint16_t units);
// A size field's text: "%.0f" in pixels, "%.2f" in the other units.
std::string PlotSizeFieldText(double value, uint16_t units);
// The zoom text: the scale as a percentage of the starting scale.
std::string ZoomText(const PlotScaleRecord &record);
// Whether OK takes the scale: strictly between the limits.
bool PlotScaleAcceptable(float scale);
// One arrow step of the scale: |scale| +- 0.1, kept within the limits.
float StepPlotScale(float scale, int part);

// The sheets over the window; null when the form cannot be loaded (the
// record then stays with the caller). On OK they apply the record.
QDialog *ShowPlotScaleSheet(WindowRef window, const PlotScaleRecord &record);
QDialog *ShowPlotSizeSheet(WindowRef window, const PlotSizeRecord &record);
// The commands: the sheet filled from the window.
QDialog *DoShowPlotScaleSheet(WindowRef window);
QDialog *DoShowPlotSizeSheet(WindowRef window);
// The applies: a new scale replots; a new size resizes the window so that
// its plot area gets it (every structure window with apply to all).
void DoSetPlotScale(WindowRef window, const PlotScaleRecord &record);
void DoSetPlotSize(WindowRef window, const PlotSizeRecord &record);
void InstallPlotSizeSheets();
