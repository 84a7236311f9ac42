// The Model Options inspector: one floating window whose tabs edit how the
// front structure window draws its structure. Each tab keeps an option
// record mirroring the structure's settings; every control change writes the
// tab's record into the structure and replots, and Return or Enter writes
// all of them.
#pragma once

#include "AtomContainers.h"
#include "DepthCurve.h"
#include "HostServices.h"
#include "Lighting.h"
#include "RGBColor.h"
#include "StructureRecord.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class QWidget;

enum ModelOptionsTab : uint16_t {
  kAtomsTab = 0,
  kBondsTab = 1,
  kCellTab = 2,
  kLabelsTab = 3,
  kBackgroundTab = 4,
  kReflectanceTab = 5,
  kDepthTab = 6,
};
inline constexpr int kModelOptionsTabCount = 7;

struct ModelOptionsRec {
  CrystalRec *crystal = nullptr; // the structure shown; none while no structure window is in front
  uint16_t tab = kAtomsTab;
  std::array<const char *, 7> paneNibNames{"Atoms", "Bonds", "Cell", "Labels", "Background", "Reflectance", "Depth"};
  std::array<const char *, 7> titles{"Atoms",      "Bonds",       "Unit Cell & Surface", "Labels",
                                     "Background", "Reflectance", "Depth"};
  std::array<int16_t, 7> buttonIDs{10, 11, 13, 14, 15, 16, 17};
  std::array<int16_t, 7> paneIDs{100, 200, 400, 500, 600, 700, 800};
  std::array<QWidget *, 7> panes{};
};
extern ModelOptionsRec gModelOptions;
extern QWidget *gModelOptionsWindow;

struct AtomOptions {
  std::vector<AtomContainer> containers; // Default, then one per element
  int32_t containerCount = 0;
  uint8_t hasEllipsoids = 0;
  float minSphereRadius = 0.2f;  // Angstrom
  float relSphereRadius = 0.4f;  // a fraction, shown in percent
  float probability = 0.5f;      // a fraction, shown in percent
  float ellipsoidSphereRadius = 0.2f; // Angstrom
  int32_t top = 1;               // list row (from 1) shown first
  int32_t scrollMin = 1, scrollMax = 1, viewSize = 1;
};
extern AtomOptions atomOptions;
inline constexpr int kAtomListRows = 10;

struct BondOptions {
  // Row 0: the defaults (style and colours); rows 1..count: the structure's
  // bond specifications as the last refresh found them.
  std::array<BondSpec, kMaxBondSpecs + 1> rows{};
  float bsRadius = 0.25f;   // Angstrom, shown in whole percent
  float stickRadius = 0.5f; // Angstrom, shown in whole percent
  int32_t count = 0;
  int32_t top = 1;
  int32_t scrollMin = 1, scrollMax = 1, viewSize = 1;
};
extern BondOptions bondOptions;
inline constexpr int kBondListRows = 9;

struct CellOptions {
  uint8_t showCell = 1;
  uint16_t frameStyle = 1; // 1 solid, 2 dashed
  uint8_t allCells = 1;
  uint8_t depthSortedFrame = 1;
  uint8_t originEdges = 1;
  uint8_t showAxes = 1;
  uint16_t axisLabelKind = 1; // 1 x y z, else a b c
  float frameWidth = 1.0f;    // pixels
  RGBColor frameColour{};
  RGBColor axisColours[3]{};
  uint8_t overlaySurface = 0;
  RGBColor surfaceColour{};
  uint16_t surfaceColourMode = 1; // 1 each sphere its atom's colour, 2 one colour
  float radiusFraction = 1.0f;    // of the atom radius, shown in whole percent
  float transparency = 0.4f;      // shown as a whole-percent opacity
  uint16_t sphereType = 2;
};
extern CellOptions cellOptions;

struct LabelOptions {
  uint16_t labelType = 1;
  uint16_t labelPos = 4; // 1 .. 9
  uint8_t autoPosition = 1;
  uint8_t scaleWithPlot = 1;
  uint16_t fontItem = 1;
  float size = 10.0f; // points
};
extern LabelOptions labelOptions;

inline constexpr float kFrameWidthStep = 0.1f;

struct BackgroundOptions {
  uint16_t mode = 1; // 1 plain colour, 2 gradient
  RGBColor colour{};
  RGBColor gradientColour1{};
  RGBColor gradientColour2{};
  int32_t style = 5; // gradient style 5 .. 8, 0 none
  float angle = 0.0f; // degrees
  float scale = 1.0f; // share of the extent
  uint16_t pictureMode = 4; // 1 tile, 2 centre, 3 scale, 4 fill
  std::filesystem::path picture; // the picture file; empty for none
};
extern BackgroundOptions backOptions;

struct DepthOptions {
  uint8_t fading = 0;
  DepthCurve curve;
  uint16_t presetItem = 0; // the preset pop-up's item
  uint8_t perspective = 0;
  float viewDistance = 50.0f; // Angstrom
  uint8_t stereo = 0;
  uint32_t stereoMode = 1;       // 1 red/blue, 2 side by side
  float angularSeparation = 4.0f; // degrees
  float standout = 0.0f;
};
extern DepthOptions depthOptions;

struct ReflectanceOptions {
  uint16_t objectKind = 1;  // 1 atom, 2 bond, 3 polyhedron, 4 surface
  uint16_t presetItem = 11; // 11: custom
  uint16_t polyEdgeMode = 2;
  // Indexed by object kind 1..4; entry 0 belongs to no kind.
  float ambient[5]{}, diffuse[5]{}, specular[5]{};
  uint16_t phong[5]{1, 1, 1, 1, 1};
  LightVector lightDirection{0.0f, 0.0f, 1.0f};
  float ambientIntensity = 1.0f, pointIntensity = 1.0f; // shown in percent
};
extern ReflectanceOptions reflectanceOptions;

// ---- The frame ----
void DoModelOptions();
void ToggleShowModelOptionsWindow();
void ShowBackgroundOptions();
// The refresh from the front structure window; everyone else calls
// UpdateModelOptions (HostServices.h), which the program's host sends here.
void DoUpdateModelOptions();
void DoModelOptionsTabChoice(int tab);
void ApplyModelOptions();
// Stores the current settings as the defaults of new structures and writes
// the preferences file; false (after an alert) when the file was not written.
bool SaveModelOptions();
void DoModelOptionsHelp();
// The structure the tabs may write: the shown one, but only while its window
// is still the front structure window (refreshes first when it is not).
CrystalRec *ModelOptionsCrystal();
// Replots the front window after a tab applied, and marks it modified.
void ReplotAfterModelOptions(bool resetOffScreen, bool reRender);

// ---- The display toggles ----
void DoNewModelType(WindowRef window, int type);
void DoToggleShowAxes(WindowRef window);
void DoToggleShowUnitCell(WindowRef window);
void TogglePerspective(WindowRef window);
void ToggleDepthFading(WindowRef window);
void ToggleStereo(WindowRef window);
void SwitchStereoMode(WindowRef window);
void DoToggleSurfaceOverlay(WindowRef window);
void DoFastRotationMode();
void DoFullRenderingMode();

// Joins the inspector's commands to the command chain; once, at start-up.
void InstallModelOptions();

// ---- Atoms tab ----
void InitAtomOptions();
void FillAtomOptions(const CrystalRec &c);
void UpdateAtomOptions();
bool ExtractAtomOptions();
void ApplyAtomOptions();
void DoApplyAtomOptions();
void SaveAtomOptionsAsDefaults();

// ---- Bonds tab ----
void InitBondOptions();
void FillBondOptions(const CrystalRec &c);
void UpdateBondOptions();
bool ExtractBondOptions();
void ApplyBondOptions();
void DoApplyBondOptions();
void SaveBondOptionsAsDefaults();
// The colouring a bond style shows in the list: 0 nothing, 1 colour 1,
// 2 both colours, 3 "(atom colours)", 4 "(highlight colour)", 5 unknown.
int BondStyleColouring(int style);

// ---- Cell tab ----
void InitCellOptions();
void FillCellOptions(const CrystalRec &c);
void UpdateCellOptions();
bool ExtractCellOptions();
void ApplyCellOptions();
void DoApplyCellOptions();
void SaveCellOptionsAsDefaults();

// ---- Background tab ----
void InitBackgroundOptions();
void FillBackgroundOptions(const CrystalRec &c);
void UpdateBackgroundOptions();
bool ExtractBackgroundOptions();
void ApplyBackgroundOptions();
void DoApplyBackgroundOptions();
void SaveBackgroundOptionsAsDefaults();
// "W x H, n K" or, above 1,048,575 bytes, "W x H, n MB": a picture's size
// and memory need as the tab reports it.
std::string PictureSizeText(int width, int height, uint64_t bytes);

// ---- Depth tab ----
void InitDepthOptions();
void FillDepthOptions(const CrystalRec &c);
void UpdateDepthOptions();
bool ExtractDepthOptions();
void ApplyDepthOptions();
void DoApplyDepthOptions();
void SaveDepthOptionsAsDefaults();

// ---- Reflectance tab ----
void InitReflectanceOptions();
void FillReflectanceOptions(const CrystalRec &c);
void UpdateReflectanceOptions();
bool ExtractReflectanceOptions();
void ApplyReflectanceOptions();
void DoApplyReflectanceOptions();
void SaveReflectanceOptionsAsDefaults();

// ---- Labels tab ----
void InitLabelOptions();
void FillLabelOptions(const CrystalRec &c);
void UpdateLabelOptions();
bool ExtractLabelOptions();
void ApplyLabelOptions();
void DoApplyLabelOptions();
void SaveLabelOptionsAsDefaults();
// The plot-scale code shows a rescaled label size here while the window shows.
void UpdateLabelOptionsSizeFieldNow(float size);
int GetLabelPositionValue();
void SetLabelPositionValue(int n);
void UpdateLabelPositionControls(bool automatic);
