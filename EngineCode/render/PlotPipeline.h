// The plot pipeline's entry points: the replot request, one plot, the
// window's off-screen images and the per-model atom-type radii.
//
// Everyone who wants a picture of a structure asks here: `NewPlot` after any
// change, `PlotCrystal` for one plot to a destination, `ResetOffScreen` when
// the graph pane's size, stereo or surface settings change. These routines
// keep the program's bookkeeping around a plot (the orientation recompute,
// the zero-scale refusal, stereo turns, the window's change note, the full-quality
// replot and undo-snapshot timers, the plot duration, the live link, the
// status window) and build the window's off-screen images. One image is
// drawn in this order: depth sort and projection, background and grid, the
// model (split around a shown lattice plane, with the plane between), the
// cell frame when it is not depth-sorted with the atoms, the axes, the
// annotation objects, then the copy to the window.
//
// The structure window, the inspectors and the shell provide a few services
// here through the host services (HostServices.h). Without a host they answer
// as for a window that shows no graph pane: an empty rectangle, no mouse
// button down, nothing refreshed, nothing sent.
//
// Main thread only: the plot state below is program-wide.
#pragma once

#include "HostServices.h"
#include "RenderServices.h"
#include "StoredLimits.h"
#include "StructureRecord.h"

#include "graphics/PixelBuffer.h"
#include "graphics/Region.h"

#include <cstdint>
#include <optional>

// ---- Limits and delays ------------------------------------------------------------

// A plot scale below this (pixels per Angstrom) is refused with "zero scale!".
inline constexpr float kMinPlotScale = kMinStoredPlotScale;
// The full-quality replot follows the last fast rotation frame after this
// many seconds (the undo snapshot's delay is kUndoSnapshotDelay).
inline constexpr double kFullQualityReplotDelay = 2.0;
// Off-screen images are 32-bit: our pixel buffers hold 32-bit colour (and
// 1-bit masks) only, which serves every screen depth.
inline constexpr int16_t kOffScreenDepth = 32;
// Red/blue stereo: centimetres per inch and points per inch.
inline constexpr double kCentimetresPerInch = 2.54;
inline constexpr double kPointsPerInch = 72.0;
// Radii of the atom-type renderers: the starting value of the smallest
// radius search, the radius below which an ellipsoid atom type counts as
// not drawn, and the starting value of a site's shortest ellipsoid axis.
inline constexpr float kSmallestRadiusStart = 9999.9f;
inline constexpr float kUndrawnRadius = 0.001f;
inline constexpr float kShortestAxisStart = 999.0f;

// ---- Plot state (valid during one plot) ---------------------------------------------

// Width and height in pixels of the plot rectangle; every projection of the
// plot uses them, and they keep the last plot's values between plots.
extern int16_t gHPixels;
extern int16_t gVPixels;
// Plot scale and drawn pixel area of the last copy to a window: during a
// trackball drag only the union of the last and the new area is copied.
extern float gSaveScale;
extern Rect gSavePlottedArea;
// How many plots have projected and depth-sorted a structure (each adds
// one): a picture drawn in strips reuses its first strip's layout while this
// stays as it was (StripOfPicture::layout).
extern uint64_t gPlotLayouts;

// ---- The plot ----------------------------------------------------------------------

// Installs this renderer behind the model's render services; start-up calls
// it once.
void InstallRenderServices();

// The renderer's own entry points. The rest of the program reaches them
// through the model's functions of the same names (RenderServices.h).

// The replot request. Nothing without a structure. Recomputes the
// orientation from the view direction when asked, re-renders the atom-type
// radii (and images) when asked, plots to the window, redraws the rulers,
// refreshes the site browser and the atom picker unless a trackball drag is
// in progress or the mouse button is down, and closes the status window when
// progress is being shown. It does not rebuild the off-screen images.
namespace ovrender {
void NewPlot(WindowRef window, bool applyViewDirection, bool reRender);
} // namespace ovrender

// One complete plot, with stereo. Nothing for a window without a structure.
// A plot scale below 0.001 (or not a number) shows "zero scale!" and nothing
// else happens. Afterwards the window notes a change (NoteWindowChange: its
// undo state and mark are settled a moment later, unless it is
// auto-rotating), the full-quality replot is armed after a fast rotation
// frame, the plot duration is stored, and a crystal's orientation goes to
// the linked program when the preferences ask.
namespace ovrender {
void PlotCrystal(WindowRef window, int16_t destination);
} // namespace ovrender

// A plot to a structure window (not a drag's frame) that runs as long as it
// takes the status window to appear shows its progress there and answers
// the user's cancel key (the host's cancel check, CancelPoll.h). A cancelled
// plot takes the structure's bonds away (with its polyhedra: they are what
// makes a structure slow to draw) and draws it again without them, with a
// Log line; cancelled again, the picture stays as far as it got. A window
// plot asked for meanwhile (by a timer while the cancel check runs) is made
// once the plot is over.
// Within a long command stopped in an earlier stage, the window plot that
// follows is not begun: it shows the structure without bonds (or returns to
// the undo state) at once. Polyhedra the build left to be made are made
// before the polyhedral model is drawn, as a stage of the plot.
//
// While one lives, a stopped window plot is left as far as it got, for a
// command that gives up what it made when stopped (an open).
class StoppedPlotsLeftUnfinished {
public:
  StoppedPlotsLeftUnfinished();
  ~StoppedPlotsLeftUnfinished();
  StoppedPlotsLeftUnfinished(const StoppedPlotsLeftUnfinished &) = delete;
  StoppedPlotsLeftUnfinished &operator=(const StoppedPlotsLeftUnfinished &) = delete;
};
// While one lives (a document read or written while the event loop gets
// turns), the window plots timers ask for wait, and are made when the last
// goes.
class WindowPlotsHeld {
public:
  WindowPlotsHeld();
  ~WindowPlotsHeld();
  WindowPlotsHeld(const WindowPlotsHeld &) = delete;
  WindowPlotsHeld &operator=(const WindowPlotsHeld &) = delete;
};
// The model's walks ask after each entry: true once the user has asked to
// stop this plot.
bool PlotWalkCancelled();
// While a picture export runs (the life of this scope), its cancel check is
// the only one: the walks of a plot to the export destination ask it and
// stop once it has seen the cancel key (the export throws the unfinished
// picture away; nothing is taken from the structure), and window plots are
// not polled meanwhile (one stopped would take the structure's bonds away).
class CancelPoll;
class ExportPlotScope {
public:
  explicit ExportPlotScope(CancelPoll *poll);
  ~ExportPlotScope();
  ExportPlotScope(const ExportPlotScope &) = delete;
  ExportPlotScope &operator=(const ExportPlotScope &) = delete;

private:
  CancelPoll *savedPoll_;
};
// While a picture is drawn into a window's images at the picture's scale, a
// window plot asked for (by a timer while a cancel check runs) waits; the
// plots that waited are made when the scope ends.
class WindowImagesLent {
public:
  WindowImagesLent();
  ~WindowImagesLent();
  WindowImagesLent(const WindowImagesLent &) = delete;
  WindowImagesLent &operator=(const WindowImagesLent &) = delete;

private:
  bool savedRunning_;
};

// One image (one eye) of a plot. A window whose off-screen bounds are
// empty (its pane not laid out yet) gets nothing drawn.
void PlotCrystal2(WindowRef window, int16_t destination);

// The plot rectangle of a destination other than the window; for the
// current port (destination 3) the scale is fitted so that the port shows
// what the graph pane shows. Atom images are re-rendered at the scale.
Rect InitPlotCrystal(WindowRef window, int16_t destination);

// Whether a plot is a fast frame: one of the window drawn while the
// trackball is dragged, when the preferences ask for fast rotation and the
// structure has bonds or vectors, or is shown as thermal ellipsoids. A
// picture, a print or a copy is never one.
bool FastFrame(const CrystalRec &c, int16_t destination, bool hasBondsOrVectors);

// Draws the model into the current port: sets `gUseFastRotn` from `fast`,
// runs the model's walk, then the surface overlay.
void PlotCrystalModel(WindowRef window, const Rect &plotRect, bool fast);

// The model walks: the depth-sort index back to front, each bond drawn
// just before its upper atom.
void PlotBallAndStick(CrystalRec *crystal);
void PlotSpaceFilling(CrystalRec *crystal);
void PlotPolyhedral(CrystalRec *crystal);
void PlotWireFrame(CrystalRec *crystal);
void PlotStick(CrystalRec *crystal);
void PlotThermalEllipsoid(CrystalRec *crystal);
// One atom (from its image, or drawn directly for vector output and most
// styles under perspective) and its label. An empty mask draws nothing.
void PlotAndLabelAtom(CrystalRec *crystal, uint32_t atom, float t, std::optional<ovgfx::Region> mask);
// One atom of the stick model with its bonds below it.
void PlotStickAtom(CrystalRec *crystal, uint32_t atom);
// One wire-frame bond line, styled from the bond's style.
void PlotWireFrameLine(CrystalRec *crystal, uint32_t a, uint32_t b, float radiusA, float radiusB, float t);
// The yellow dot marking a selected atom of the line models.
void DrawSelectedWireFrameAtom(CrystalRec *crystal, uint32_t atom);
// The atom clouds into the overlay image, and the overlay onto the window's
// off-screen image.
void PlotSurface(CrystalRec *crystal, const Rect &plotRect, const OVImageHandle &overlay);
void OverlaySurface(WindowRef window);
// Composes stereo images and copies the off-screen image to the window's
// graph pane; 0, or -1 after the copy failed.
int16_t TransferPixels(WindowRef window, int16_t destination);

// The full-quality replot's timer action: clears `gUseFastRotn` and replots
// the front structure window when it holds a structure; that replot is no
// change of the window's.
void RenderingReplotTimerProc();
// Installs that action in `gRenderingReplotTimer`; start-up calls it once.
void InstallRenderingReplotTimer();

// ---- Off-screen images ------------------------------------------------------------

// Rebuilds the window's images at the graph pane's size: the off-screen
// bounds become (0, 0, pane height, pane width); the main image always, the
// surface-overlay image when the surface overlay is on, the red/blue
// transfer image when red/blue stereo is on. Failures alert as the images
// are made (see the .cpp). Nothing for a window without a record.
namespace ovrender {
void ResetOffScreen(WindowRef window);
} // namespace ovrender

// Replaces `image` with a new cleared image of the rectangle's size: 0 on
// success; -50 for an empty rectangle; -108 when the memory cannot be had.
// A depth below 1 means the screen's; every image is 32-bit.
int16_t MakeGWorld(OVImageHandle &image, const Rect &rect, int16_t depth);

// The pixels of an off-screen image made by `MakeGWorld`; nullptr for none.
ovgfx::PixelBuffer *OffScreenPixels(const OVImageHandle &image);

// ---- Atom-type radii ---------------------------------------------------------------

// Sets every atom type's drawn radius for the structure's model and the
// structure's smallest atom radius, from which bond, stick and vector radii
// are measured. True when ready (also when the model draws no atom images);
// false without atom types.
bool RenderSpheres(CrystalRec *crystal);
// The model renderers: each answers how many atom types it rendered
// (`RenderEllipsoids`: how many sites it measured).
int32_t RenderSpheresBallAndStick(CrystalRec *crystal);
int32_t RenderSpheresPoly(CrystalRec *crystal);
int32_t RenderSpheresStick(CrystalRec *crystal);
int32_t RenderEllipsoids(CrystalRec *crystal);
// The cloud images of the surface overlay: 1, or 0 after a failure.
int32_t RenderSpheresSurface(CrystalRec *crystal);
// Out of memory for atom images: disposes them all, tells the user and
// falls back to the wire-frame model, which needs none.
void RenderSpheresRecovery(CrystalRec *crystal);
