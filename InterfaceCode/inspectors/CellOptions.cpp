// The Cell tab: the unit-cell frame, the axes and the surface overlay.
#include "InspectorKit.h"
#include "ModelOptions.h"
#include "shell/Forms.h"

#include "Preferences.h"
#include "render/UnitCellFrame.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <cmath>

CellOptions cellOptions;
std::vector<RGBColor> gUnitCellColorPresets, gSurfaceColorPresets, gXAxisColorPresets, gYAxisColorPresets,
    gZAxisColorPresets;

namespace {
constexpr uint16_t kFramePresetPrefix = 17219, kSurfacePresetPrefix = 21315;
constexpr uint16_t kAxisPresetPrefixes[3] = {22616, 22873, 23130};
constexpr int kMinSurfaceRadius = 100;

QWidget *Pane() { return gModelOptions.panes[kCellTab]; }
template <typename T = QWidget> T *Ctl(int id) { return FindControl<T>(Pane(), id); }
bool Checked(int id) { return Ctl<QCheckBox>(id) && Ctl<QCheckBox>(id)->isChecked(); }
void SetChecked(int id, bool on) {
  if (auto *box = Ctl<QCheckBox>(id))
    box->setChecked(on);
}
uint16_t Percent(float fraction) { return uint16_t(std::max(0.0f, fraction * 100.0f)); }

void DoSetAxisLabels() {
  const char *labels = cellOptions.axisLabelKind == 1 ? "xyz" : "abc";
  const int ids[3] = {411, 413, 415};
  for (int i = 0; i < 3; i++)
    SetEditTextCString(Ctl<QLineEdit>(ids[i]), std::string(1, labels[i]));
}
void EnableCellOptionsForFrame() {
  EnableControls(Pane(), {401, 402, 403, 404, 405, 417, 406, 407, 408}, cellOptions.showCell);
}
void EnableCellOptionsForAxes() {
  EnableControls(Pane(), {409, 410, 411, 412, 418, 413, 414, 419, 415, 416, 420}, cellOptions.showAxes);
}
void EnableCellOptionsForSurfaceColor() {
  EnableControls(Pane(), {302, 308}, cellOptions.overlaySurface && cellOptions.surfaceColourMode != 1);
}
void EnableCellOptionsForSurface() {
  EnableControls(Pane(), {301, 303, 304, 305, 306, 307}, cellOptions.overlaySurface);
  EnableCellOptionsForSurfaceColor();
}

void AutoScrollFrameWidthText(int part) {
  float w = GetEditTextFloat(Ctl<QLineEdit>(403));
  w += part == kControlDownButtonPart ? -kFrameWidthStep : kFrameWidthStep;
  w = std::clamp(w, kMinFrameWidth, kMaxFrameWidth);
  SetEditTextFormat(Ctl<QLineEdit>(403), "%.1f px", w);
  DoApplyCellOptions();
}

RGBColor *ColourOfCommand(uint32_t command) {
  switch (command) {
  case FourCharsToLong("uCol"): return &cellOptions.frameColour;
  case FourCharsToLong("xCol"): return &cellOptions.axisColours[0];
  case FourCharsToLong("yCol"): return &cellOptions.axisColours[1];
  case FourCharsToLong("zCol"): return &cellOptions.axisColours[2];
  case FourCharsToLong("chgC"): return &cellOptions.surfaceColour;
  default: return nullptr;
  }
}

OSStatus CellOptionsEventHandler(uint32_t command) {
  switch (command) {
  case FourCharsToLong("tgCl"): DoApplyCellOptions(); EnableCellOptionsForFrame(); return kNoErr;
  case FourCharsToLong("tgAx"): DoApplyCellOptions(); EnableCellOptionsForAxes(); return kNoErr;
  case FourCharsToLong("tgSr"): DoApplyCellOptions(); EnableCellOptionsForSurface(); return kNoErr;
  case FourCharsToLong("rCol"):
    cellOptions.surfaceColourMode = uint16_t(GetPopupValue(Ctl<QComboBox>(301)));
    EnableCellOptionsForSurfaceColor();
    DoApplyCellOptions();
    return kNoErr;
  case FourCharsToLong("rLbA"):
    cellOptions.axisLabelKind = uint16_t(GetPopupValue(Ctl<QComboBox>(410)));
    DoSetAxisLabels();
    DoApplyCellOptions();
    return kNoErr;
  case FourCharsToLong("rTyp"):
    cellOptions.sphereType = uint16_t(GetPopupValue(Ctl<QComboBox>(303)));
    DoApplyCellOptions();
    return kEventNotHandledErr;
  case FourCharsToLong("rStl"):
  case FourCharsToLong("tLbE"):
  case FourCharsToLong("tMul"):
  case FourCharsToLong("tOvr"): DoApplyCellOptions(); return kNoErr;
  default: break;
  }
  if (RGBColor *colour = ColourOfCommand(command)) {
    RGBColor chosen;
    if (GetColor("", *colour, &chosen))
      *colour = chosen;
    Pane()->update();
    DoApplyCellOptions();
    return kNoErr;
  }
  uint16_t prefix = 0;
  int item = 0;
  if (!GetIndexFromColorMenuCommand(command, &prefix, &item) || item < 1)
    return kEventNotHandledErr;
  auto pick = [item](const std::vector<RGBColor> &presets, RGBColor *target) {
    if (size_t(item) > presets.size())
      return kEventNotHandledErr;
    *target = presets[size_t(item) - 1];
    Pane()->update();
    DoApplyCellOptions();
    return kNoErr;
  };
  if (prefix == kFramePresetPrefix)
    return pick(gUnitCellColorPresets, &cellOptions.frameColour);
  if (prefix == kSurfacePresetPrefix)
    return pick(gSurfaceColorPresets, &cellOptions.surfaceColour);
  const std::vector<RGBColor> *axisPresets[3] = {&gXAxisColorPresets, &gYAxisColorPresets, &gZAxisColorPresets};
  for (int i = 0; i < 3; i++)
    if (prefix == kAxisPresetPrefixes[i])
      return pick(*axisPresets[i], &cellOptions.axisColours[i]);
  return kEventNotHandledErr;
}
} // namespace

void InitCellOptions() {
  QWidget *pane = Pane();
  ConnectPaneCommands(pane, CellOptionsEventHandler);
  QObject::connect(Ctl<LittleArrows>(404), &LittleArrows::Stepped, pane, AutoScrollFrameWidthText);
  for (auto [slider, field] : {std::pair{304, 305}, std::pair{307, 306}}) {
    const int f = field;
    QObject::connect(Ctl<QSlider>(slider), &QSlider::valueChanged, pane, [f](int value) {
      SetEditTextFormat(Ctl<QLineEdit>(f), "%.0f%%", value);
      DoApplyCellOptions();
    });
  }
  const std::pair<int, RGBColor *> buttons[] = {{405, &cellOptions.frameColour},
                                                {412, &cellOptions.axisColours[0]},
                                                {414, &cellOptions.axisColours[1]},
                                                {416, &cellOptions.axisColours[2]},
                                                {302, &cellOptions.surfaceColour}};
  for (auto [id, colour] : buttons)
    if (auto *button = Ctl<ColorButton>(id)) {
      RGBColor *c = colour;
      button->SetColorSource([c] { return *c; });
    }
  gUnitCellColorPresets = InitPopupColorMenu(Ctl<QComboBox>(417), kFramePresetPrefix, CellOptionsEventHandler);
  gSurfaceColorPresets = InitPopupColorMenu(Ctl<QComboBox>(308), kSurfacePresetPrefix, CellOptionsEventHandler);
  gXAxisColorPresets = InitPopupColorMenu(Ctl<QComboBox>(418), kAxisPresetPrefixes[0], CellOptionsEventHandler);
  gYAxisColorPresets = InitPopupColorMenu(Ctl<QComboBox>(419), kAxisPresetPrefixes[1], CellOptionsEventHandler);
  gZAxisColorPresets = InitPopupColorMenu(Ctl<QComboBox>(420), kAxisPresetPrefixes[2], CellOptionsEventHandler);
}

void FillCellOptions(const CrystalRec &c) {
  CellOptions &o = cellOptions;
  o.showCell = c.showUnitCell;
  o.frameStyle = c.unitCellOptions[kCellOptionSolidLines] ? 1 : 2;
  o.allCells = !c.unitCellOptions[kCellOptionOneCellOnly];
  o.depthSortedFrame = c.unitCellOptions[kCellOptionDepthSorted];
  o.originEdges = c.unitCellOptions[kCellOptionLabelCorners];
  o.showAxes = c.showAxes;
  o.axisLabelKind = uint16_t(c.axesOption);
  o.frameWidth = c.unitCellLineWidth;
  o.frameColour = c.unitCellColor;
  for (int i = 0; i < 3; i++)
    o.axisColours[i] = c.axisColors[i];
  o.overlaySurface = c.surfaceOverlay;
  o.surfaceColour = c.cloudSphereColor;
  o.surfaceColourMode = c.cloudSameSphereColor ? 2 : 1;
  o.radiusPercent = Percent(c.cloudSphereRadFrac);
  o.opacityPercent = Percent(1.0f - c.cloudSphereTransparency);
  o.sphereType = uint16_t(c.cloudSphereType);
}

void UpdateCellOptions() {
  if (!Pane())
    return;
  const QSignalBlocker b1(Ctl(304)), b2(Ctl(307));
  SetChecked(421, cellOptions.showCell);
  SetPopupValue(Ctl<QComboBox>(402), cellOptions.frameStyle);
  SetEditTextFormat(Ctl<QLineEdit>(403), "%.1f px", cellOptions.frameWidth);
  SetChecked(406, cellOptions.allCells);
  SetChecked(407, cellOptions.depthSortedFrame);
  SetChecked(408, cellOptions.originEdges);
  SetChecked(422, cellOptions.showAxes);
  SetPopupValue(Ctl<QComboBox>(410), cellOptions.axisLabelKind);
  SetChecked(309, cellOptions.overlaySurface);
  SetPopupValue(Ctl<QComboBox>(301), cellOptions.surfaceColourMode);
  SetPopupValue(Ctl<QComboBox>(303), cellOptions.sphereType);
  Ctl<QSlider>(304)->setValue(cellOptions.opacityPercent);
  SetEditTextFormat(Ctl<QLineEdit>(305), "%.0f%%", cellOptions.opacityPercent);
  Ctl<QSlider>(307)->setValue(cellOptions.radiusPercent);
  SetEditTextFormat(Ctl<QLineEdit>(306), "%.0f%%", cellOptions.radiusPercent);
  DoSetAxisLabels();
  EnableCellOptionsForFrame();
  EnableCellOptionsForAxes();
  EnableCellOptionsForSurface();
  Pane()->update();
}

bool ExtractCellOptions() {
  if (!Pane())
    return false;
  CellOptions &o = cellOptions;
  o.showCell = Checked(421);
  o.frameStyle = uint16_t(GetPopupValue(Ctl<QComboBox>(402)));
  o.frameWidth = std::clamp(GetEditTextFloat(Ctl<QLineEdit>(403)), kMinFrameWidth, kMaxFrameWidth);
  o.allCells = Checked(406);
  o.depthSortedFrame = Checked(407);
  o.originEdges = Checked(408);
  o.axisLabelKind = uint16_t(GetPopupValue(Ctl<QComboBox>(410)));
  o.showAxes = Checked(422);
  o.overlaySurface = Checked(309);
  o.surfaceColourMode = uint16_t(GetPopupValue(Ctl<QComboBox>(301)));
  // Opacity is a share of 100: above it the transparency would go negative.
  o.opacityPercent = uint16_t(std::clamp(GetEditTextLong(Ctl<QLineEdit>(305)), 0, 100));
  o.sphereType = uint16_t(GetPopupValue(Ctl<QComboBox>(303)));
  o.radiusPercent = uint16_t(std::clamp(GetEditTextLong(Ctl<QLineEdit>(306)), kMinSurfaceRadius, 65535));
  return true;
}

void ApplyCellOptions() {
  CrystalRec *c = gModelOptions.crystal;
  if (!c)
    return;
  ExtractCellOptions();
  const CellOptions &o = cellOptions;
  c->showUnitCell = o.showCell;
  c->unitCellOptions[kCellOptionSolidLines] = o.frameStyle == 1;
  c->unitCellOptions[kCellOptionOneCellOnly] = !o.allCells;
  c->unitCellOptions[kCellOptionDepthSorted] = o.depthSortedFrame;
  c->unitCellOptions[kCellOptionLabelCorners] = o.originEdges;
  c->showAxes = o.showAxes;
  c->axesOption = int8_t(o.axisLabelKind);
  c->unitCellLineWidth = o.frameWidth;
  c->unitCellColor = o.frameColour;
  for (int i = 0; i < 3; i++)
    c->axisColors[i] = o.axisColours[i];
  c->surfaceOverlay = o.overlaySurface;
  c->cloudSphereColor = o.surfaceColour;
  c->cloudSameSphereColor = o.surfaceColourMode > 1;
  c->cloudSphereRadFrac = o.radiusPercent * 0.01f;
  c->cloudSphereTransparency = 1.0f - o.opacityPercent * 0.01f;
  c->cloudSphereType = int8_t(o.sphereType);
}

void DoApplyCellOptions() {
  CrystalRec *c = ModelOptionsCrystal();
  if (!c)
    return;
  const uint8_t overlay = c->surfaceOverlay;
  ApplyCellOptions();
  const bool changed = overlay != c->surfaceOverlay;
  ReplotAfterModelOptions(changed, changed);
}

void SaveCellOptionsAsDefaults() {
  const CellOptions &o = cellOptions;
  PrefsRecord &p = gPrefs;
  p.showUnitCell = o.showCell;
  p.unitCellOptions[kCellOptionSolidLines] = o.frameStyle == 1;
  p.unitCellOptions[kCellOptionOneCellOnly] = !o.allCells;
  p.unitCellOptions[kCellOptionDepthSorted] = o.depthSortedFrame;
  p.unitCellOptions[kCellOptionLabelCorners] = o.originEdges;
  p.unitCellLineWidth = uint16_t(o.frameWidth); // whole pixels
  p.unitCellColor = o.frameColour;
  p.showAxes = o.showAxes;
  p.axesOption = int8_t(o.axisLabelKind);
  for (int i = 0; i < 3; i++)
    p.axisColors[i] = o.axisColours[i];
  p.cloudSphereType = int8_t(o.sphereType);
  p.cloudSphereRadFrac = o.radiusPercent * 0.01f;
  p.cloudSameSphereColor = o.surfaceColourMode == 2;
  p.cloudSphereColor = o.surfaceColour;
  p.cloudSphereTransparency = (100 - o.opacityPercent) * 0.01f;
}
