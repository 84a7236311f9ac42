// The Cell tab: the unit-cell frame, the axes and the surface overlay.
#include "InspectorKit.h"
#include "ModelOptions.h"
#include "shell/Forms.h"

#include "Preferences.h"
#include "Utilities.h"
#include "render/UnitCellFrame.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <cmath>
#include <tuple>

CellOptions cellOptions;
std::vector<RGBColor> gUnitCellColorPresets, gSurfaceColorPresets, gXAxisColorPresets, gYAxisColorPresets,
    gZAxisColorPresets;

namespace {
constexpr uint16_t kFramePresetPrefix = 17219, kSurfacePresetPrefix = 21315;
constexpr uint16_t kAxisPresetPrefixes[3] = {22616, 22873, 23130};
// The value fields: the frame width in pixels, the surface's opacity and
// radius in whole percent.
constexpr StoredField kFrameWidthField{stored::kLineWidth};
constexpr StoredField kOpacityField{stored::kOpacity, -0.01f, 1.0f, true};
constexpr StoredField kSurfaceRadiusField{stored::kSurfaceRadiusFraction, 0.01f, 0.0f, true};
constexpr int kFrameWidthID = 403, kOpacityID = 305, kSurfaceRadiusID = 306;
constexpr int kOpacitySlider = 304, kSurfaceRadiusSlider = 307;

QWidget *Pane() { return gModelOptions.panes[kCellTab]; }
template <typename T = QWidget> T *Ctl(int id) { return FindControl<T>(Pane(), id); }
bool Checked(int id) { return Ctl<QCheckBox>(id) && Ctl<QCheckBox>(id)->isChecked(); }
void SetChecked(int id, bool on) {
  if (auto *box = Ctl<QCheckBox>(id))
    box->setChecked(on);
}
void ShowPercent(int id, const StoredField &kind, float stored) {
  ShowStoredValue(Ctl<QLineEdit>(id), stored, MyTrimSprintf("%.0f", kind.Shown(stored)) + "%");
}
std::string FrameWidthText(float width) { return MyTrimSprintf("%.1f", width) + " px"; }
void ShowFrameWidth(float width) { ShowStoredValue(Ctl<QLineEdit>(kFrameWidthID), width, FrameWidthText(width)); }

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
  float w = GetEditTextFloat(Ctl<QLineEdit>(kFrameWidthID));
  w += part == kControlDownButtonPart ? -kFrameWidthStep : kFrameWidthStep;
  w = std::clamp(w, kFrameWidthField.ShownLow(), kFrameWidthField.ShownHigh());
  SetEditTextCString(Ctl<QLineEdit>(kFrameWidthID), FrameWidthText(w));
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
  for (auto [slider, field, kind] : {std::tuple{kOpacitySlider, kOpacityID, &kOpacityField},
                                     std::tuple{kSurfaceRadiusSlider, kSurfaceRadiusID, &kSurfaceRadiusField}}) {
    SetSliderLimits(Ctl(slider), *kind);
    const int f = field;
    const StoredField *k = kind;
    QObject::connect(Ctl<QSlider>(slider), &QSlider::valueChanged, pane, [f, k](int value) {
      ShowPercent(f, *k, k->Stored(float(value)));
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
  o.radiusFraction = c.cloudSphereRadFrac;
  o.transparency = c.cloudSphereTransparency;
  o.sphereType = uint16_t(c.cloudSphereType);
}

void UpdateCellOptions() {
  if (!Pane())
    return;
  const QSignalBlocker b1(Ctl(kOpacitySlider)), b2(Ctl(kSurfaceRadiusSlider));
  SetChecked(421, cellOptions.showCell);
  SetPopupValue(Ctl<QComboBox>(402), cellOptions.frameStyle);
  ShowFrameWidth(cellOptions.frameWidth);
  SetChecked(406, cellOptions.allCells);
  SetChecked(407, cellOptions.depthSortedFrame);
  SetChecked(408, cellOptions.originEdges);
  SetChecked(422, cellOptions.showAxes);
  SetPopupValue(Ctl<QComboBox>(410), cellOptions.axisLabelKind);
  SetChecked(309, cellOptions.overlaySurface);
  SetPopupValue(Ctl<QComboBox>(301), cellOptions.surfaceColourMode);
  SetPopupValue(Ctl<QComboBox>(303), cellOptions.sphereType);
  Ctl<QSlider>(kOpacitySlider)->setValue(int(kOpacityField.Shown(cellOptions.transparency)));
  ShowPercent(kOpacityID, kOpacityField, cellOptions.transparency);
  Ctl<QSlider>(kSurfaceRadiusSlider)->setValue(int(kSurfaceRadiusField.Shown(cellOptions.radiusFraction)));
  ShowPercent(kSurfaceRadiusID, kSurfaceRadiusField, cellOptions.radiusFraction);
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
  o.frameWidth = StoredFieldValue(Ctl<QLineEdit>(kFrameWidthID), kFrameWidthField);
  o.allCells = Checked(406);
  o.depthSortedFrame = Checked(407);
  o.originEdges = Checked(408);
  o.axisLabelKind = uint16_t(GetPopupValue(Ctl<QComboBox>(410)));
  o.showAxes = Checked(422);
  o.overlaySurface = Checked(309);
  o.surfaceColourMode = uint16_t(GetPopupValue(Ctl<QComboBox>(301)));
  o.transparency = StoredFieldValue(Ctl<QLineEdit>(kOpacityID), kOpacityField);
  o.sphereType = uint16_t(GetPopupValue(Ctl<QComboBox>(303)));
  o.radiusFraction = StoredFieldValue(Ctl<QLineEdit>(kSurfaceRadiusID), kSurfaceRadiusField);
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
  c->cloudSphereRadFrac = o.radiusFraction;
  c->cloudSphereTransparency = o.transparency;
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
  p.cloudSphereRadFrac = o.radiusFraction;
  p.cloudSameSphereColor = o.surfaceColourMode == 2;
  p.cloudSphereColor = o.surfaceColour;
  p.cloudSphereTransparency = o.transparency;
}
