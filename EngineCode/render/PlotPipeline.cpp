#include "render/PlotPipeline.h"
#include "render/EllipsoidDrawing.h"
#include "render/LatticePlaneDrawing.h"
#include "render/PolyhedronDrawing.h"

#include "Alerts.h"
#include "BondSearch.h"
#include "CancelPoll.h"
#include "LongCommand.h"
#include "Polyhedra.h"
#include "EllipsoidMaths.h"
#include "Geometry.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "ViewOrientation.h"
#include "render/AnnotationObjects.h"
#include "render/AtomStyles.h"
#include "render/Background.h"
#include "render/BondDrawing.h"
#include "render/DrawingHelpers.h"
#include "render/OffScreen.h"
#include "render/Projection.h"
#include "render/RasterPrimitives.h"
#include "render/RenderGlobals.h"
#include "render/TextDrawing.h"
#include "render/UnitCellFrame.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace ovgfx;

int16_t gHPixels = 0;
int16_t gVPixels = 0;
uint64_t gPlotLayouts = 0;

namespace {

// ---- A long plot ----

// The walk reads the clock for the cancel check every this many entries.
constexpr int64_t kPlotCancelClockEvery = 16;

// The cancel check of the window plot being drawn (none for other plots),
// and whether the user has asked to stop it.
CancelPoll *sPlotCancel = nullptr;
bool sPlotCancelled = false;
// The cancel check of the picture export under way (ExportPlotScope).
CancelPoll *sExportPoll = nullptr;
// While a window plot answers the cancel key, the event loop gets turns:
// window plots its timers ask for wait here until it is over.
bool sPolledPlotRunning = false;
// While positive, a task that reads the structure answers the cancel key
// (a document read or written): window plots wait for it too.
int sWindowPlotsHeld = 0;
// While a stopped polyhedral plot returns to the window's latest undo state.
bool sReturningToUndoState = false;
// While positive, a stopped window plot stops as far as it got (its command
// gives up what it made: an open).
int sPlotsLeftUnfinished = 0;
std::vector<WindowRef> sDeferredPlots;

// The cancel check and the status window of one plot, for its lifetime. A
// plot that is not polled hides the check of a plot around it.
class PlotCancelScope {
public:
  // `borrowed`: the check of an export plot, which the export owns.
  PlotCancelScope(bool polled, CancelPoll *borrowed)
      : polled_(polled), savedPoll_(sPlotCancel), savedCancelled_(sPlotCancelled), savedProgress_(gShowProgress) {
    sPlotCancel = borrowed;
    sPlotCancelled = false;
    if (polled_) {
      Restart();
      sPolledPlotRunning = true;
      gShowProgress = 1;
    }
  }
  ~PlotCancelScope() {
    sPlotCancel = savedPoll_;
    sPlotCancelled = savedCancelled_;
    if (polled_) {
      sPolledPlotRunning = false;
      gShowProgress = savedProgress_;
    }
  }
  PlotCancelScope(const PlotCancelScope &) = delete;
  PlotCancelScope &operator=(const PlotCancelScope &) = delete;
  // A new check, for the plot made again after a stop: only a new key stops
  // it.
  void Restart() {
    poll_.emplace(kPlotCancelClockEvery, true);
    sPlotCancel = &*poll_;
    sPlotCancelled = false;
  }

private:
  bool polled_;
  std::optional<CancelPoll> poll_;
  CancelPoll *savedPoll_;
  bool savedCancelled_;
  uint8_t savedProgress_;
};

bool HasAnyBond(const CrystalRec &c) {
  return std::any_of(c.atoms.begin(), c.atoms.end(), [](const AtomRecord &a) { return !a.bonds.empty(); });
}

// The window plots deferred while a polled plot ran, made now for the
// windows still open.
void MakeDeferredPlots() {
  std::vector<WindowRef> windows;
  windows.swap(sDeferredPlots);
  HostServices *host = GetHostServices();
  if (windows.empty() || !host)
    return;
  const std::vector<WindowRef> open = host->StructureWindows();
  for (WindowRef window : windows)
    if (std::find(open.begin(), open.end(), window) != open.end())
      ovrender::PlotCrystal(window, kPlotToWindow);
}

bool ValidSite(const CrystalRec &c, int64_t s) { return s >= 0 && s < UsableSiteCount(c); }

// Polyhedron display modes whose sites show their atoms in the polyhedral
// model, and the mode that draws an atom as a ball joint.
bool SiteShowsAtomsInPolyModel(uint32_t mode) {
  return mode == 2 || mode == 4 || mode == 5 || mode == 6 || mode == 7 || mode == 9 || mode == 10 || mode == 12;
}
constexpr uint32_t kBallJointPolyMode = 12;

// Drawn radius of an atom type in the ball-and-stick model.
float BallAndStickRadius(const CrystalRec &c, const SphereRecord &t) {
  return std::max(c.minBSSphereRadius, c.bsSphereRadFrac * t.radius);
}
// Drawn radius of a ball joint of the stick model.
float BallJointRadius(const CrystalRec &c) { return c.stickJointFactor * c.stickRadius * c.minAtomRadius; }

// Which atom types some visible atom of a visible site has, scanning sites
// in order and each site's atoms from its first to its last; and for each
// type the first such atom (or -1) and the last atom of the type met at all.
struct TypeScan {
  std::vector<int64_t> firstShown;
  std::vector<int64_t> lastMet;
};

// `shows` picks, by site, which shown atoms count (all of them, or those of
// sites that show atoms in the polyhedral model).
template <class Shows> TypeScan ScanAtomTypes(const CrystalRec &c, Shows shows) {
  TypeScan scan;
  const size_t types = static_cast<size_t>(UsableSphereCount(c));
  scan.firstShown.assign(types, -1);
  scan.lastMet.assign(types, -1);
  for (int32_t s = 0; s < UsableSiteCount(c); s++) {
    const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    const int64_t last = std::min<int64_t>(site.lastAtom, UsableAtomCount(c) - 1);
    for (int64_t n = std::max<int64_t>(site.firstAtom, 0); n <= last; n++) {
      const AtomRecord &atom = c.atoms[static_cast<size_t>(n)];
      if (atom.atomType >= types)
        continue;
      scan.lastMet[atom.atomType] = n;
      if (scan.firstShown[atom.atomType] < 0 && atom.visible && ValidSite(c, atom.site) && c.sites[atom.site].visible &&
          shows(atom.site))
        scan.firstShown[atom.atomType] = n;
    }
  }
  return scan;
}

// The index of one of the structure's sites.
size_t SiteIndex(const CrystalRec &c, const AsymmetricUnitRecord &site) {
  return static_cast<size_t>(&site - c.sites.data());
}

const AsymmetricUnitRecord *SiteOfAtom(const CrystalRec &c, int64_t atom) {
  if (atom < 0 || atom >= UsableAtomCount(c))
    return nullptr;
  const uint32_t s = c.atoms[static_cast<size_t>(atom)].site;
  return ValidSite(c, s) ? &c.sites[s] : nullptr;
}

// The image of an atom type, as a ball joint or a ball; after a failure all
// images are dropped and the model falls back to the wire frame.
bool MakeTypeImage(CrystalRec &c, uint32_t type, bool joint) {
  if (joint ? MakeBallJointAtom(&c, type) : MakeBallAndStickAtom(&c, type))
    return true;
  RenderSpheresRecovery(&c);
  return false;
}

} // namespace

// ---- The plot ----------------------------------------------------------------------

namespace ovrender {
void NewPlot(WindowRef window, bool applyViewDirection, bool reRender) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return;
  if (applyViewDirection)
    ApplyViewDirection(crystal, true);
  if (reRender)
    RenderSpheres(crystal);
  ovrender::PlotCrystal(window, kPlotToWindow);
  DrawRulers(window);
  if (!gTrackBallRotn && !MyStillDown()) {
    UpdateSiteBrowser(window);
    UpdateAtomPicker();
  }
  if (gShowProgress)
    CloseStatus();
}
} // namespace ovrender

namespace ovrender {
void PlotCrystal(WindowRef window, int16_t destination) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  const uint64_t start = Microseconds();
  if (!(c.plotScale >= kMinPlotScale)) {
    MyCFCautionAlert("zero scale!");
    return;
  }
  if ((sPolledPlotRunning || sWindowPlotsHeld > 0) && destination == kPlotToWindow) {
    if (std::find(sDeferredPlots.begin(), sDeferredPlots.end(), window) == sDeferredPlots.end())
      sDeferredPlots.push_back(window);
    return;
  }
  // A drag's frames are never polled: the cancel check holds back the
  // mouse, and the drag would miss its release. Nor are the plots made
  // during a picture export, whose own check answers the cancel key.
  const bool polled = destination == kPlotToWindow && !MyStillDown() && !sExportPoll;
  std::optional<PlotCancelScope> cancelScope(std::in_place, polled,
                                             destination == kPlotToExport ? sExportPoll : nullptr);
  // A plot may start while another is drawing (a thumbnail or preview made
  // meanwhile): the outer plot gets its port and drawing target back.
  PixTargetSaver savedTarget;

  // The turns of a stereo pair do not cancel exactly in single precision;
  // the view is put back as it was, so that stereo frames never wear the
  // orientation down.
  float savedMatrix[9], savedDirection[3], savedCentre[3];
  Copy3x3Mat(savedMatrix, c.orientationMatrix);
  CopyVector(savedDirection, c.viewDirection);
  CopyVector(savedCentre, c.plotCentre);
  const LatticePlane savedPlane = c.plane;
  const bool stereoPair = c.stereoOn && (c.stereoMode == kSideBySideStereo || c.stereoMode == kRedBlueStereo);

  const auto drawImages = [&] {
    if (!c.stereoOn) {
      c.stereoImageInProgress = kStereoSingleImage;
      PlotCrystal2(window, destination);
    } else if (c.stereoMode == kSideBySideStereo) {
      // Each eye gets the left half of the off-screen image; the turned views
      // are drawn one after the other.
      Rect bounds;
      GetWindowOffBounds(window, &bounds);
      const int32_t width = bounds.right - bounds.left;
      Rect half = bounds;
      half.left = 0;
      half.right = static_cast<int16_t>((width + 1) / 2);
      SetWindowOffBounds(window, half);
      const float halfAngle = c.stereoAngle / 2.0f;
      const float first[3] = {0.0f, -halfAngle, 0.0f};
      const float second[3] = {0.0f, c.stereoAngle, 0.0f};
      RotateXYZ(&c, first);
      c.stereoImageInProgress = kStereoFirstImage;
      PlotCrystal2(window, destination);
      RotateXYZ(&c, second);
      c.stereoImageInProgress = kStereoSecondImage;
      PlotCrystal2(window, destination);
      RotateXYZ(&c, first);
      bounds.left = 0;
      bounds.right = static_cast<int16_t>(width);
      SetWindowOffBounds(window, bounds);
    } else if (c.stereoMode == kRedBlueStereo) {
      // The eyes stand the separation apart: in Angstrom at the plot scale,
      // times the tangent of the half angle.
      const double shift = static_cast<double>(c.stereoSeparation) / kCentimetresPerInch *
                           (-kPointsPerInch / static_cast<double>(c.plotScale)) *
                           std::tan(static_cast<double>(c.stereoAngle) / 2.0 * kDegToRad);
      const float d = static_cast<float>(shift);
      const float halfAngle = c.stereoAngle / 2.0f;
      const float toFirst[3] = {0.0f, halfAngle, 0.0f};
      const float toSecond[3] = {0.0f, -c.stereoAngle, 0.0f};
      // Each turn carries the plot centre with the crystal, so each eye shifts
      // the centre it finds after its turn and puts that one back.
      RotateXYZ(&c, toFirst);
      c.stereoImageInProgress = kStereoFirstImage;
      const float firstX = c.plotCentre[0];
      c.plotCentre[0] = firstX + d;
      PlotCrystal2(window, destination);
      c.plotCentre[0] = firstX;
      RotateXYZ(&c, toSecond);
      c.stereoImageInProgress = kStereoSecondImage;
      const float secondX = c.plotCentre[0];
      c.plotCentre[0] = secondX - d;
      PlotCrystal2(window, destination);
      c.plotCentre[0] = secondX;
      RotateXYZ(&c, toFirst);
    } else {
      char message[64];
      std::snprintf(message, sizeof message, "Unknown stereo mode (%d)", static_cast<int>(c.stereoMode));
      MyCFCautionAlert(message, "An unknown stereo mode was detected, possibly caused by corrupted preferences. You "
                                "may need to reset your preferences to the factory settings to correct this problem.");
      c.stereoMode = kRedBlueStereo;
      c.stereoOn = 0;
      c.stereoImageInProgress = kStereoSingleImage;
      PlotCrystal2(window, destination);
    }
    if (stereoPair && ApplyOrientationMatrix(&c, savedMatrix)) {
      CopyVector(c.viewDirection, savedDirection);
      CopyVector(c.plotCentre, savedCentre);
      c.plane = savedPlane;
    }
  };
  // The polyhedral model's polyhedra, when the build left them to be made
  // when first drawn: a stage of the command, stopped like the others.
  if (c.modelType == kPolyhedralModel)
    DefinePendingPolyhedra(&c);
  // A command stopped in an earlier stage (the cells, the bonds, the
  // polyhedra) stops at its plot: the picture is not begun.
  const bool stoppedBefore = polled && LongCommandCancelled() && !ShowingAfterStop::Active();
  if (stoppedBefore)
    sPlotCancelled = true;
  else
    drawImages();
  const bool leftAsFar = polled && sPlotCancelled && sPlotsLeftUnfinished > 0;
  // Without bonds the polyhedral model draws no polyhedra, only the cell: a
  // stopped polyhedral plot returns to the structure as it was before the
  // command instead (its latest undo state), drawn again.
  const bool returnToUndoState = polled && sPlotCancelled && !leftAsFar && c.modelType == kPolyhedralModel;
  if (polled && sPlotCancelled && !returnToUndoState && !leftAsFar) {
    const bool bonded = HasAnyBond(c);
    if (bonded) {
      TurboRemoveBonds(&c);
      FWrite("Drawing cancelled: the structure is shown without bonds.");
    }
    if (bonded || stoppedBefore) {
      const ShowingAfterStop showing;
      cancelScope->Restart();
      drawImages();
    }
    if (sPlotCancelled || (!bonded && !stoppedBefore))
      FWrite("Drawing cancelled: the picture is left unfinished.");
  }
  cancelScope.reset();
  if (returnToUndoState) {
    // The state drawn again may be the one just stopped (nothing changed
    // since): that plot, stopped too, leaves its picture unfinished.
    bool restored = false;
    if (!sReturningToUndoState) {
      const ShowingAfterStop showing;
      sReturningToUndoState = true;
      restored = ReturnWindowToUndoState(window);
      sReturningToUndoState = false;
    }
    FWrite(restored ? "Drawing cancelled: the structure is shown as it was before."
                    : "Drawing cancelled: the picture is left unfinished.");
    if (restored) {
      MakeDeferredPlots();
      return;
    }
  }

  // A stream of plots keeps postponing both timers until it stops.
  NoteWindowChange(window);
  if (gUseFastRotn)
    SetEventLoopTimerNextFireTime(gRenderingReplotTimer, kFullQualityReplotDelay);
  c.lastPlotDuration = static_cast<float>(static_cast<double>(Microseconds() - start) / 1e6);
  if (gPrefs.sendOrientationToLink && !c.molecule)
    AESendOrientationMatrix(&c);
  if (polled)
    MakeDeferredPlots();
}
} // namespace ovrender

WindowPlotsHeld::WindowPlotsHeld() { ++sWindowPlotsHeld; }
WindowPlotsHeld::~WindowPlotsHeld() {
  if (--sWindowPlotsHeld == 0 && !sPolledPlotRunning)
    MakeDeferredPlots();
}

StoppedPlotsLeftUnfinished::StoppedPlotsLeftUnfinished() { ++sPlotsLeftUnfinished; }
StoppedPlotsLeftUnfinished::~StoppedPlotsLeftUnfinished() { --sPlotsLeftUnfinished; }

ExportPlotScope::ExportPlotScope(CancelPoll *poll) : savedPoll_(sExportPoll) { sExportPoll = poll; }

ExportPlotScope::~ExportPlotScope() { sExportPoll = savedPoll_; }

WindowImagesLent::WindowImagesLent() : savedRunning_(sPolledPlotRunning) { sPolledPlotRunning = true; }

WindowImagesLent::~WindowImagesLent() {
  sPolledPlotRunning = savedRunning_;
  if (!sPolledPlotRunning && sWindowPlotsHeld == 0)
    MakeDeferredPlots();
}

bool PlotWalkCancelled() {
  if (!sPlotCancel)
    return false;
  if (!sPlotCancelled)
    sPlotCancelled = sPlotCancel->Step();
  return sPlotCancelled;
}

namespace {

// Width over height of a rectangle's size, for the scale fit.
bool WiderThan(int32_t w1, int32_t h1, int32_t w2, int32_t h2) { return int64_t(w1) * h2 > int64_t(w2) * h1; }

void Status(const char *text) {
  if (gShowProgress)
    WriteStatus(text);
}

} // namespace

Rect InitPlotCrystal(WindowRef window, int16_t destination) {
  Rect rect;
  CrystalRec *crystal = GetWindowCrystal(window);
  if (destination == kPlotToPrinter || destination == kPlotToExport) {
    GetWindowOffBounds(window, &rect);
  } else if (destination == kPlotToPort && CurrentPort()) {
    rect = CurrentPort()->PortRect();
    const bool sideBySide = crystal && crystal->stereoOn && crystal->stereoMode == kSideBySideStereo;
    if (sideBySide) {
      rect.right = static_cast<int16_t>((rect.right - rect.left) / 2);
      rect.left = 0;
    }
    Rect pane;
    GetWindowGraphBounds(window, &pane);
    const int32_t pw = rect.Width(), ph = rect.Height();
    const int32_t gw = sideBySide ? pane.Width() / 2 : pane.Width(), gh = pane.Height();
    // A port or pane without size leaves the scale alone.
    if (crystal && !gOVPrinting && pw > 0 && ph > 0 && gw > 0 && gh > 0) {
      if (WiderThan(pw, ph, gw, gh))
        crystal->plotScale = crystal->plotScale * float(ph) / float(gh);
      else
        crystal->plotScale = crystal->plotScale * float(pw) / float(gw);
    }
  }
  // The atom images are sized for the picture being made, not the window's.
  gHPixels = int16_t(rect.Width());
  gVPixels = int16_t(rect.Height());
  if (gPlotMethod == kPixelPlotMethod)
    RenderSpheres(crystal);
  return rect;
}

void PlotCrystal2(WindowRef window, int16_t destination) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || UsableSiteCount(*crystal) == 0 || UsableAtomCount(*crystal) == 0)
    return;
  CrystalRec &c = *crystal;
  // The port current before the image is current again after it.
  struct PortKeeper {
    GraphicsPort *previous = CurrentPort();
    ~PortKeeper() { SetCurrentPort(previous); }
  } keeper;
  const float savedScale = c.plotScale;
  // The drawing settings of this plot, set before anything is drawn: a
  // picture never takes those of a plot drawn before it (a vector copy's
  // drawing commands, a rotation's fast frame).
  const uint8_t method = (destination == kPlotToPort && !gOVPrinting) ? kCommandPlotMethod : kPixelPlotMethod;
  gPlotMethod = method;
  bool hasBondsOrVectors = c.vectorCount > 0;
  if (!hasBondsOrVectors && c.bondSpecCount > 0)
    for (int32_t s = 0; s < UsableSiteCount(c) && !hasBondsOrVectors; s++)
      hasBondsOrVectors = SiteIsBonded(c, static_cast<size_t>(s));
  const uint8_t fast = FastFrame(c, destination, hasBondsOrVectors) ? 1 : 0;
  gUseFastRotn = fast;
  Rect plotRect;
  if (destination == kPlotToWindow)
    GetWindowOffBounds(window, &plotRect);
  else
    plotRect = InitPlotCrystal(window, destination);
  gHPixels = static_cast<int16_t>(plotRect.right - plotRect.left);
  gVPixels = static_cast<int16_t>(plotRect.bottom - plotRect.top);

  // Size ratio of the plot to the graph pane: label sizes and line widths
  // grow with it. A pane without width counts as the plot's size.
  const bool sideBySide = c.stereoOn && c.stereoMode == kSideBySideStereo;
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  float ratio = pane.Width() > 0 ? float(plotRect.Width()) / float(pane.Width()) : 1.0f;
  if (sideBySide)
    ratio *= 2.0f;
  const float savedLabelSize = c.labelSize;
  c.labelSize = c.labelSize * ratio;
  gIUnitCellLineWidth = static_cast<int16_t>(std::max(1, RoundHalfAway(ClampedPixels(c.unitCellLineWidth * ratio))));
  const auto finish = [&] {
    if (gShowProgress)
      CloseStatus();
    c.labelSize = savedLabelSize;
    if (destination != kPlotToWindow && !gOVPrinting)
      c.plotScale = savedScale;
  };

  const bool laterStrip = destination == kPlotToExport && gStripOfPicture.layout != 0 &&
                          gStripOfPicture.layout == gPlotLayouts;
  if (!laterStrip) {
    if (c.showUnitCell)
      ovrender::MakeUnitCell(&c, false); // GetPixelCoords projects the points below
    GetVectorTipCoordinates(&c);
    Status("Sorting atom plot array...");
    SortAtomsByHeight(&c, c.minAtomRadius);
    Status("Calculating atomic coordinates...");
    GetPixelCoords(&c, gHPixels, gVPixels);
    ++gPlotLayouts;
  }

  // The port drawn into: the window's off-screen image, or the current port
  // for a picture.
  std::optional<GraphicsPort> offPort;
  PixelBuffer *offPixels = nullptr;
  if (destination != kPlotToPort) {
    if (plotRect.IsEmpty()) {
      finish(); // nothing to draw into yet
      return;
    }
    const OVImageHandle image = GetWindowOffScreen(window);
    if (!image) {
      MyCFStopAlert("PlotCrystal error: error getting offscreen");
      finish();
      return;
    }
    offPixels = OffScreenPixels(image);
    if (!offPixels) {
      MyCFStopAlert("PlotCrystal error: can't find offscreen pixels");
      finish();
      return;
    }
    offPort.emplace(offPixels);
    SetCurrentPort(&*offPort);
  }
  GraphicsPort *port = CurrentPort();
  if (!port) {
    finish();
    return;
  }
  const Rect pixelBounds = port->Pixels() ? port->Pixels()->Bounds() : Rect{};
  const Rect portRect = port->PortRect();
  const Region savedClip = port->Clip();

  InitQDPenSize();
  Status("Drawing background...");
  if (sideBySide)
    port->SetOrigin(c.stereoImageInProgress == kStereoFirstImage ? -gHPixels : 0, 0);
  WindowRef gridWindow = IsWindowShowingGrid(window) ? window : nullptr;
  if (!gOVPrinting) {
    port->ClipRect(plotRect);
    const Rect area = sideBySide ? plotRect : port->PortRect();
    DrawBackground(&c, area);
    if (gridWindow)
      DrawGrid(gridWindow, area);
  } else {
    Rect area = plotRect;
    if (sideBySide)
      GetWindowOffBounds(window, &area);
    DrawBackground(&c, area);
    if (gridWindow)
      DrawGrid(gridWindow, area);
  }

  std::string font;
  MyP2CString(c.labelFont, font);
  port->SetTextFont(font);
  port->SetTextSize(static_cast<int16_t>(RoundHalfAway(ClampedPixels(c.labelSize))));
  if (gShowProgress)
    WriteProgress("Plotting atoms and bonds...", 0.0f);

  if (c.plane.shown) {
    // Behind the plane, the plane, in front of it.
    std::vector<SortIndexEntry> full = std::move(c.sortIndex);
    const int32_t fullCount = c.sortIndexCount;
    for (int side : {-1, +1}) {
      c.sortIndex = full;
      c.sortIndexCount = fullCount;
      std::vector<SortIndexEntry> part = GetSortAboveOrBelowPlane(&c, side);
      c.sortIndex = std::move(part);
      c.sortIndexCount = static_cast<int32_t>(c.sortIndex.size());
      PlotCrystalModel(window, plotRect, fast);
      if (side < 0)
        PlotLatticePlane(&c, plotRect);
    }
    c.sortIndex = std::move(full);
    c.sortIndexCount = fullCount;
  } else {
    PlotCrystalModel(window, plotRect, fast);
  }
  // The walk's cancel checks let timers run, and a plot made meanwhile sets
  // the settings for its own picture.
  gPlotMethod = method;
  gUseFastRotn = fast;

  if (c.showUnitCell && !c.unitCellOptions[kCellOptionDepthSorted]) {
    GetCurrentPixGlobals();
    for (uint32_t i = 0; i < static_cast<uint32_t>(UsableRecords(c.cellPoints.size(), c.cellPointCount)); i++)
      PlotCellFrameSegment(&c, i);
    DisposeCurrentPixGlobals();
  }
  if (c.showAxes)
    DrawAxes(&c, plotRect, ratio);
  for (int32_t k = 0; k < static_cast<int32_t>(UsableRecords(c.textBoxes.size(), c.textBoxCount)); k++)
    DrawAnnotationObject(&c, plotRect, ratio, destination, k);

  // The port as it was before: origin, clip and pen.
  port->SetOrigin(portRect.left, portRect.top);
  if (port->Pixels())
    port->Pixels()->MoveBoundsTo(pixelBounds.left, pixelBounds.top);
  port->SetClip(savedClip);
  port->PenNormal();
  if (destination != kPlotToPort) {
    SetCurrentPort(keeper.previous);
    offPort.reset();
    TransferPixels(window, destination);
  }
  finish();
}

bool FastFrame(const CrystalRec &c, int16_t destination, bool hasBondsOrVectors) {
  if (destination != kPlotToWindow || !gTrackBallRotn || !gPrefs.fastRotation)
    return false;
  return c.modelType == kThermalEllipsoidModel || hasBondsOrVectors;
}

void PlotCrystalModel(WindowRef window, const Rect &plotRect, bool fast) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  GetCurrentPixGlobals();
  gUseFastRotn = fast ? 1 : 0;
  switch (c.modelType) {
  case kBallAndStickModel:
    PlotBallAndStick(&c);
    break;
  case kSpaceFillingModel:
    PlotSpaceFilling(&c);
    break;
  case kPolyhedralModel:
    PlotPolyhedral(&c);
    break;
  case kWireFrameModel:
    PlotWireFrame(&c);
    break;
  case kStickModel:
    PlotStick(&c);
    break;
  case kThermalEllipsoidModel:
    PlotThermalEllipsoid(&c);
    break;
  default:
    break;
  }
  if (c.surfaceOverlay) {
    PlotSurface(&c, plotRect, GetWindowOffScreenOverlay(window));
    OverlaySurface(window);
  }
  DisposeCurrentPixGlobals();
}

void RenderingReplotTimerProc() {
  // Inside a long command (a question it asks, its cancel checks) the full
  // picture waits for the command's end, as the undo timer does.
  if (LongCommandRunning()) {
    SetEventLoopTimerNextFireTime(gRenderingReplotTimer, kFullQualityReplotDelay);
    return;
  }
  gUseFastRotn = 0;
  WindowRef window = FrontGraphWindow();
  if (!window || !IsWindowFileOpen(window) || !GetWindowCrystal(window))
    return;
  const RedrawOnly redraw(window);
  ovrender::PlotCrystal(window, kPlotToWindow);
}

void InstallRenderingReplotTimer() { gRenderingReplotTimer.proc = RenderingReplotTimerProc; }

// ---- Atom-type radii ---------------------------------------------------------------

bool RenderSpheres(CrystalRec *crystal) {
  if (!crystal || UsableSphereCount(*crystal) == 0)
    return false;
  CrystalRec &c = *crystal;
  float smallest = kSmallestRadiusStart;
  for (int32_t i = 0; i < UsableSphereCount(c); i++) {
    SphereRecord &t = c.spheres[static_cast<size_t>(i)];
    DisposeSpherePixels(&t);
    t.drawnRadius = 0.0f;
    t.bounds1.right = 0;
    smallest = std::min(smallest, BallAndStickRadius(c, t));
  }
  c.minAtomRadius = smallest;
  if (c.surfaceOverlay && RenderSpheresSurface(&c) == 0)
    return false;

  int32_t rendered = 0;
  switch (c.modelType) {
  case kBallAndStickModel:
  case kSpaceFillingModel:
    rendered = RenderSpheresBallAndStick(&c);
    break;
  case kPolyhedralModel:
    rendered = RenderSpheresPoly(&c);
    break;
  case kStickModel:
    rendered = RenderSpheresStick(&c);
    break;
  case kThermalEllipsoidModel:
    rendered = RenderEllipsoids(&c);
    break;
  default:
    break;
  }
  if (rendered != 0 || c.modelType == kThermalEllipsoidModel)
    return true;
  c.minAtomRadius = c.modelType == kPolyhedralModel ? c.minBSSphereRadius : 0.0f;
  return true;
}

// The images of the atom types counted below are made at their drawn radii;
// the first failure disposes them all, tells the user and falls back to the
// wire frame, which needs none.
int32_t RenderSpheresBallAndStick(CrystalRec *crystal) {
  if (!crystal)
    return 0;
  CrystalRec &c = *crystal;
  const TypeScan scan = ScanAtomTypes(c, [](uint32_t) { return true; });
  int32_t rendered = 0;
  for (int32_t i = 0; i < UsableSphereCount(c); i++) {
    SphereRecord &t = c.spheres[static_cast<size_t>(i)];
    t.drawnRadius = c.modelType == kSpaceFillingModel ? t.radius : BallAndStickRadius(c, t);
    if (scan.firstShown[static_cast<size_t>(i)] < 0)
      continue;
    if (!MakeTypeImage(c, static_cast<uint32_t>(i), false))
      return 0;
    rendered++;
  }
  return rendered;
}

int32_t RenderSpheresStick(CrystalRec *crystal) {
  if (!crystal)
    return 0;
  CrystalRec &c = *crystal;
  const TypeScan scan = ScanAtomTypes(c, [](uint32_t) { return true; });
  int32_t rendered = 0;
  for (int32_t i = 0; i < UsableSphereCount(c); i++) {
    SphereRecord &t = c.spheres[static_cast<size_t>(i)];
    const int64_t found = scan.firstShown[static_cast<size_t>(i)];
    const AsymmetricUnitRecord *site = SiteOfAtom(c, found >= 0 ? found : scan.lastMet[static_cast<size_t>(i)]);
    const bool joint = site && SiteIsBonded(c, SiteIndex(c, *site));
    t.drawnRadius = joint ? BallJointRadius(c) : BallAndStickRadius(c, t);
    if (found < 0)
      continue;
    if (!MakeTypeImage(c, static_cast<uint32_t>(i), joint))
      return 0;
    rendered++;
  }
  return rendered;
}

int32_t RenderSpheresPoly(CrystalRec *crystal) {
  if (!crystal)
    return 0;
  CrystalRec &c = *crystal;
  const TypeScan scan =
      ScanAtomTypes(c, [&c](uint32_t site) { return SiteShowsAtomsInPolyModel(SitePolyMode(c, site)); });
  int32_t rendered = 0;
  for (int32_t i = 0; i < UsableSphereCount(c); i++) {
    SphereRecord &t = c.spheres[static_cast<size_t>(i)];
    const int64_t found = scan.firstShown[static_cast<size_t>(i)];
    const AsymmetricUnitRecord *site = nullptr;
    if (found >= 0) {
      site = SiteOfAtom(c, found);
    } else {
      const AsymmetricUnitRecord *lastSite = SiteOfAtom(c, scan.lastMet[static_cast<size_t>(i)]);
      if (lastSite && SiteShowsAtomsInPolyModel(SitePolyMode(c, SiteIndex(c, *lastSite))))
        site = lastSite; // a drawn radius, but no image
    }
    if (!site)
      continue;
    const bool joint =
        SitePolyMode(c, SiteIndex(c, *site)) == kBallJointPolyMode && SiteIsBonded(c, SiteIndex(c, *site));
    t.drawnRadius = joint ? BallJointRadius(c) : BallAndStickRadius(c, t);
    if (found < 0)
      continue;
    if (!MakeTypeImage(c, static_cast<uint32_t>(i), joint))
      return 0;
    rendered++;
  }
  return rendered;
}

int32_t RenderEllipsoids(CrystalRec *crystal) {
  if (!crystal || !crystal->ellipsoidData)
    return 0;
  CrystalRec &c = *crystal;
  float smallest = kSmallestRadiusStart;
  for (int32_t i = 0; i < UsableSphereCount(c); i++)
    c.spheres[static_cast<size_t>(i)].drawnRadius = 0.0f;
  int32_t processed = 0;
  for (int32_t s = 0; s < UsableSiteCount(c); s++) {
    const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    float axes[3][3];
    if (!GetEllipsoidAxes(&c, s, axes))
      continue;
    processed++;
    if (site.atomType >= static_cast<uint32_t>(UsableSphereCount(c)))
      continue;
    SphereRecord &t = c.spheres[site.atomType];
    float centre[3];
    MatMul(c.orientationMatrix, site.xyz, centre);
    float shortest = kShortestAxisStart;
    if (site.ignoreEllipsoid) {
      t.drawnRadius = c.ellipsoidSphereRadius;
      shortest = c.ellipsoidSphereRadius;
    } else {
      for (const float *axis : axes) {
        float end[3], endCart[3];
        VecAdd(site.xyz, axis, end);
        MatMul(c.orientationMatrix, end, endCart);
        const float length = VecBondDist(endCart, centre);
        t.drawnRadius = std::max(t.drawnRadius, length);
        shortest = std::min(shortest, length);
      }
    }
    smallest = std::min(smallest, shortest);
  }
  c.minAtomRadius = smallest;
  // An atom type no site drew takes the radius of the first earlier type of
  // its element that was drawn larger.
  for (int32_t i = 0; i < UsableSphereCount(c); i++) {
    SphereRecord &t = c.spheres[static_cast<size_t>(i)];
    if (t.drawnRadius >= kUndrawnRadius)
      continue;
    for (int32_t j = 0; j < i; j++) {
      const SphereRecord &earlier = c.spheres[static_cast<size_t>(j)];
      if (earlier.element == t.element && earlier.drawnRadius > t.drawnRadius) {
        t.drawnRadius = earlier.drawnRadius;
        break;
      }
    }
  }
  return processed;
}

int32_t RenderSpheresSurface(CrystalRec *crystal) {
  if (!crystal)
    return 0;
  CrystalRec &c = *crystal;
  const TypeScan scan = ScanAtomTypes(c, [](uint32_t) { return true; });
  for (int32_t i = 0; i < UsableSphereCount(c); i++) {
    if (scan.firstShown[static_cast<size_t>(i)] < 0)
      continue;
    if (!MakeSurfaceAtom(&c, static_cast<uint32_t>(i))) {
      RenderSpheresRecovery(&c);
      return 0;
    }
  }
  return 1;
}

void RenderSpheresRecovery(CrystalRec *crystal) {
  if (!crystal)
    return;
  for (SphereRecord &t : crystal->spheres)
    DisposeSpherePixels(&t);
  MyCFStopAlert("Insufficient memory to draw atoms. Try using a smaller plot size");
  crystal->modelType = kWireFrameModel;
}

// ---- Render services ----------------------------------------------------------------

namespace {

class Renderer final : public RenderServices {
public:
  void NewPlot(WindowRef window, bool applyViewDirection, bool reRender) override {
    ovrender::NewPlot(window, applyViewDirection, reRender);
  }
  void PlotCrystal(WindowRef window, int16_t destination) override { ovrender::PlotCrystal(window, destination); }
  void ResetOffScreen(WindowRef window) override { ovrender::ResetOffScreen(window); }
  void MakeUnitCell(CrystalRec *crystal) override { ovrender::MakeUnitCell(crystal); }
  void ProjectToPixel(const CrystalRec *crystal, const float xyz[3], int16_t pixel[2], int32_t width,
                      int32_t height) override {
    Xor2Xpix(crystal, xyz, pixel, width, height);
  }
  void MeasureString(const char *text, const char *fontName, float size, float &width, float &height) override {
    ovrender::CFStringGetSize(text, fontName, size, width, height);
  }
};

} // namespace

void InstallRenderServices() {
  static Renderer renderer;
  SetRenderServices(&renderer);
}
