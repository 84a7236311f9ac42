// What the structure engine needs of the renderer.
//
// The model changes structures; pictures of them are the renderer's work,
// which sits above the model. The model asks for a replot, a plot to a
// destination, fresh off-screen images, the unit-cell frame and text
// measures through the functions below, under the names callers use
// everywhere. They reach the renderer through one `RenderServices` object
// that the renderer installs at start-up (`InstallRenderServices`); with none
// installed they do nothing: no plot, no images, no cell points, and text
// measures 0 x 0.
#pragma once

#include "HostServices.h"

#include <cstdint>

struct CrystalRec;

// ---- Destinations -------------------------------------------------------------

enum PlotDestination : int16_t {
  kPlotToWindow = 1,  // the window's off-screen image, then its graph pane
  kPlotToPrinter = 2, // the printing code's off-screen images
  kPlotToPort = 3,    // the current port (picture recording)
  kPlotToExport = 4,  // an exporter's off-screen images of the export size
};

// `ModelType`: how the structure is drawn.
enum ModelType : int8_t {
  kBallAndStickModel = 1,
  kSpaceFillingModel = 2,
  kPolyhedralModel = 3,
  kWireFrameModel = 4,
  kStickModel = 5,
  kThermalEllipsoidModel = 6,
};

// `StereoMode`.
enum StereoMode : int8_t { kRedBlueStereo = 1, kSideBySideStereo = 2 };
// Which image of a stereo pair is being drawn (the first drawn is image 2).
inline constexpr uint32_t kStereoSingleImage = 0;
inline constexpr uint32_t kStereoSecondImage = 1;
inline constexpr uint32_t kStereoFirstImage = 2;

class RenderServices {
public:
  virtual ~RenderServices() = default;
  virtual void NewPlot(WindowRef window, bool applyViewDirection, bool reRender) = 0;
  virtual void PlotCrystal(WindowRef window, int16_t destination) = 0;
  virtual void ResetOffScreen(WindowRef window) = 0;
  virtual void MakeUnitCell(CrystalRec *crystal) = 0;
  virtual void MeasureString(const char *text, const char *fontName, float size, float &width, float &height) = 0;
  // The pixel position of a view point in a plot of the size (the plot's
  // projection); a renderer that does not project leaves (0, 0).
  virtual void ProjectToPixel(const CrystalRec *, const float *, int16_t *, int32_t, int32_t) {}
};

// Installs the renderer; returns the previous one. The engine does not own it.
RenderServices *SetRenderServices(RenderServices *renderer);
RenderServices *GetRenderServices();

// The replot request after any change (see render/PlotPipeline.h).
void NewPlot(WindowRef window, bool applyViewDirection, bool reRender);
// One complete plot to a destination (`PlotDestination`).
void PlotCrystal(WindowRef window, int16_t destination);
// Rebuilds the window's off-screen images at the graph pane's size.
void ResetOffScreen(WindowRef window);
// Replaces the structure's cell points with the frame of the plotted cells.
void MakeUnitCell(CrystalRec *crystal);
// Width and height of the text in the font family at `size` points; 0 x 0
// when the font cannot be made.
// The plot's projection of a view point to a pixel of a plot of the size.
void ProjectToPixel(const CrystalRec *crystal, const float xyz[3], int16_t pixel[2], int32_t width, int32_t height);
void CFStringGetSize(const char *text, const char *fontName, float size, float &width, float &height);
