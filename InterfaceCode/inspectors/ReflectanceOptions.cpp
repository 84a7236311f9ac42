// The Reflectance tab: the light's direction and intensities, and the
// reflectance of atoms, bonds, polyhedra and surface spheres.
#include "InspectorKit.h"
#include "Lighting.h"
#include "ModelOptions.h"
#include "shell/Forms.h"

#include "Preferences.h"
#include "Utilities.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <cmath>

ReflectanceOptions reflectanceOptions;

namespace {
struct ReflectancePreset {
  float ambient, diffuse, specular;
  int16_t phong;
};
constexpr ReflectancePreset gReflectancePresets[10] = {
    {0, 0, 0, 0},          {1.0f, 0, 0, 1},       {0.25f, 0.75f, 0, 1}, {0.75f, 0.75f, 0, 1},
    {0.2f, 1.0f, 0.5f, 10}, {0.75f, 0.75f, 1.0f, 9}, {0.25f, 0.75f, 1.0f, 30}, {0.5f, 0, 1.0f, 20},
    {0.75f, 0, 0.5f, 1},   {0.3f, 0, 0.9f, 1}};
constexpr int kLastPreset = 9;
constexpr int kCustomPreset = 11;
constexpr int kPolyhedronKind = 3;

QWidget *Pane() { return gModelOptions.panes[kReflectanceTab]; }
template <typename T = QWidget> T *Ctl(int id) { return FindControl<T>(Pane(), id); }
ReflectanceOptions &R() { return reflectanceOptions; }
size_t Kind() { return size_t(std::clamp<int>(R().objectKind, 1, 4)); }
float Clamp01(float v) { return std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 1.0f); }

void SetCustomPresetsChoice() {
  if (R().presetItem == kCustomPreset)
    return;
  R().presetItem = kCustomPreset;
  Ctl<QComboBox>(702)->setCurrentIndex(kCustomPreset - 1);
}
void UpdateReflectanceSliders() {
  const size_t k = Kind();
  const QSignalBlocker b1(Ctl(705)), b2(Ctl(707)), b3(Ctl(709)), b4(Ctl(711));
  Ctl<QSlider>(705)->setValue(int(R().ambient[k] * 100.0f));
  Ctl<QSlider>(707)->setValue(int(R().diffuse[k] * 100.0f));
  Ctl<QSlider>(709)->setValue(int(R().specular[k] * 100.0f));
  Ctl<QSlider>(711)->setValue(PhongToSlider(R().phong[k]));
}
void UpdateReflectanceFields() {
  const size_t k = Kind();
  SetEditTextFormat(Ctl<QLineEdit>(706), "%.2f", R().ambient[k]);
  SetEditTextFormat(Ctl<QLineEdit>(708), "%.2f", R().diffuse[k]);
  SetEditTextFormat(Ctl<QLineEdit>(710), "%.2f", R().specular[k]);
  SetEditTextFormat(Ctl<QLineEdit>(712), "%.0f", R().phong[k]);
}
void DrawLightingPreview() {
  float bearing = 0, elevation = 0;
  AnglesFromLightDirection(R().lightDirection, &bearing, &elevation);
  SetEditTextCString(Ctl<QLineEdit>(756), MyTrimSprintf("%.0f", bearing) + "°");
  SetEditTextCString(Ctl<QLineEdit>(758), MyTrimSprintf("%.0f", elevation) + "°");
  Ctl(760)->update();
}
void ExtractLightingTextValues() {
  R().lightDirection = LightDirectionFromAngles(GetEditTextFloat(Ctl<QLineEdit>(756)),
                                                std::clamp(GetEditTextFloat(Ctl<QLineEdit>(758)), 0.0f, 90.0f));
  R().ambientIntensity = std::clamp(GetEditTextFloat(Ctl<QLineEdit>(751)), 0.0f, 100.0f) * 0.01f;
  R().pointIntensity = std::clamp(GetEditTextFloat(Ctl<QLineEdit>(754)), 0.0f, 100.0f) * 0.01f;
}

void StepAngle(int fieldID, int part, bool bearing) {
  const float old = GetEditTextFloat(Ctl<QLineEdit>(fieldID));
  float value = old + (part == kControlDownButtonPart ? -1.0f : 1.0f);
  value = bearing ? WrapBearing(value) : std::clamp(value, 0.0f, 90.0f);
  if (value == old)
    return;
  SetEditTextCString(Ctl<QLineEdit>(fieldID), MyTrimSprintf("%.0f", value) + "°");
  ExtractLightingTextValues();
  Ctl(760)->update();
  DoApplyReflectanceOptions();
}

OSStatus ReflectanceOptionsEventHandler(uint32_t command) {
  switch (command) {
  case FourCharsToLong("mObj"):
    R().objectKind = uint16_t(GetPopupValue(Ctl<QComboBox>(703)));
    UpdateReflectanceOptions();
    return kNoErr;
  case FourCharsToLong("mCff"): {
    const int item = GetPopupValue(Ctl<QComboBox>(702));
    R().presetItem = uint16_t(item);
    if (item < 1 || item > kLastPreset)
      return kNoErr;
    const ReflectancePreset &p = gReflectancePresets[item];
    const size_t k = Kind();
    R().ambient[k] = p.ambient;
    R().diffuse[k] = p.diffuse;
    R().specular[k] = p.specular;
    R().phong[k] = uint16_t(p.phong);
    UpdateReflectanceSliders();
    UpdateReflectanceFields();
    DoApplyReflectanceOptions();
    return kNoErr;
  }
  case FourCharsToLong("mPyF"):
    R().polyEdgeMode = uint16_t(GetPopupValue(Ctl<QComboBox>(715)));
    DoApplyReflectanceOptions();
    return kNoErr;
  default: return kEventNotHandledErr;
  }
}

// Return in a field: read that group of fields, show the clamped values and
// apply (the window then applies every tab).
void CoefficientsEntered() {
  const size_t k = Kind();
  R().ambient[k] = Clamp01(GetEditTextFloat(Ctl<QLineEdit>(706)));
  R().diffuse[k] = Clamp01(GetEditTextFloat(Ctl<QLineEdit>(708)));
  R().specular[k] = Clamp01(GetEditTextFloat(Ctl<QLineEdit>(710)));
  R().phong[k] = uint16_t(std::clamp(GetEditTextLong(Ctl<QLineEdit>(712)), kMinPhong, kMaxPhong));
  SetCustomPresetsChoice();
  UpdateReflectanceSliders();
  UpdateReflectanceFields();
  DoApplyReflectanceOptions();
}
void LightingEntered() {
  ExtractLightingTextValues();
  UpdateReflectanceOptions();
  DoApplyReflectanceOptions();
}
} // namespace

void InitReflectanceOptions() {
  QWidget *pane = Pane();
  R().objectKind = 1;
  SetPopupValue(Ctl<QComboBox>(703), 1);
  const std::pair<int, int> coefficient[] = {{705, 706}, {707, 708}, {709, 710}};
  for (size_t i = 0; i < 3; i++) {
    const int field = coefficient[i].second;
    QObject::connect(Ctl<QSlider>(coefficient[i].first), &QSlider::valueChanged, pane, [i, field](int v) {
      float *values[3] = {R().ambient, R().diffuse, R().specular};
      values[i][Kind()] = v * 0.01f;
      SetEditTextFormat(Ctl<QLineEdit>(field), "%.2f", v * 0.01f);
      SetCustomPresetsChoice();
      DoApplyReflectanceOptions();
    });
  }
  QObject::connect(Ctl<QSlider>(711), &QSlider::valueChanged, pane, [](int v) {
    R().phong[Kind()] = uint16_t(PhongFromSlider(v));
    SetEditTextFormat(Ctl<QLineEdit>(712), "%.0f", R().phong[Kind()]);
    SetCustomPresetsChoice();
    DoApplyReflectanceOptions();
  });
  for (auto [slider, field] : {std::pair{752, 751}, std::pair{753, 754}}) {
    const int f = field, s = slider;
    QObject::connect(Ctl<QSlider>(slider), &QSlider::valueChanged, pane, [f, s](int v) {
      (s == 752 ? R().ambientIntensity : R().pointIntensity) = v * 0.01f;
      SetEditTextFormat(Ctl<QLineEdit>(f), "%.0f%%", v);
      DoApplyReflectanceOptions();
    });
  }
  QObject::connect(Ctl<LittleArrows>(757), &LittleArrows::Stepped, pane, [](int part) { StepAngle(756, part, true); });
  QObject::connect(Ctl<LittleArrows>(759), &LittleArrows::Stepped, pane, [](int part) { StepAngle(758, part, false); });
  for (int id : {706, 708, 710, 712})
    QObject::connect(Ctl<QLineEdit>(id), &QLineEdit::returnPressed, pane, CoefficientsEntered);
  for (int id : {756, 758, 751, 754})
    QObject::connect(Ctl<QLineEdit>(id), &QLineEdit::returnPressed, pane, LightingEntered);
  Ctl<Trackball>(760)->SetLight(&R().lightDirection, [] {
    DrawLightingPreview();
    DoApplyReflectanceOptions();
  });
  ConnectPaneCommands(pane, ReflectanceOptionsEventHandler);
}

void FillReflectanceOptions(const CrystalRec &c) {
  ReflectanceOptions &o = R();
  for (size_t k = 1; k <= 4; k++) {
    o.ambient[k] = c.kA[k - 1];
    o.diffuse[k] = c.kD[k - 1];
    o.specular[k] = c.kS[k - 1];
    o.phong[k] = c.phongN[k - 1];
  }
  o.polyEdgeMode = uint16_t(c.polyEdgeMode);
  o.ambientIntensity = c.ambientIntensity;
  o.pointIntensity = c.pointIntensity;
  o.lightDirection = {c.lightDirection[0], c.lightDirection[1], c.lightDirection[2]};
}

void UpdateReflectanceOptions() {
  if (!Pane())
    return;
  R().presetItem = 0; // the pop-up always shows the custom item after a refresh
  SetCustomPresetsChoice();
  SetPopupValue(Ctl<QComboBox>(715), R().polyEdgeMode);
  EnableControls(Pane(), {714, 715}, R().objectKind == kPolyhedronKind);
  UpdateReflectanceSliders();
  UpdateReflectanceFields();
  const QSignalBlocker b1(Ctl(752)), b2(Ctl(753));
  Ctl<QSlider>(752)->setValue(int(R().ambientIntensity * 100.0f));
  SetEditTextFormat(Ctl<QLineEdit>(751), "%.0f%%", int(R().ambientIntensity * 100.0f));
  Ctl<QSlider>(753)->setValue(int(R().pointIntensity * 100.0f));
  SetEditTextFormat(Ctl<QLineEdit>(754), "%.0f%%", int(R().pointIntensity * 100.0f));
  DrawLightingPreview();
}

// The controls keep the record current.
bool ExtractReflectanceOptions() { return true; }

void ApplyReflectanceOptions() {
  CrystalRec *c = gModelOptions.crystal;
  if (!c)
    return;
  const ReflectanceOptions &o = R();
  for (size_t k = 1; k <= 4; k++) {
    c->kA[k - 1] = o.ambient[k];
    c->kD[k - 1] = o.diffuse[k];
    c->kS[k - 1] = o.specular[k];
    c->phongN[k - 1] = uint16_t(std::clamp<int>(o.phong[k], kMinPhong, kMaxPhong));
  }
  c->polyEdgeMode = int8_t(o.polyEdgeMode);
  c->ambientIntensity = o.ambientIntensity;
  c->pointIntensity = o.pointIntensity;
  // The renderer gets a unit vector, never a zero one.
  const double n = std::hypot(double(o.lightDirection[0]), double(o.lightDirection[1]), double(o.lightDirection[2]));
  const LightVector unit = n > 0.0 && std::isfinite(n)
                               ? LightVector{float(o.lightDirection[0] / n), float(o.lightDirection[1] / n),
                                             float(o.lightDirection[2] / n)}
                               : LightVector{0.0f, 0.0f, 1.0f};
  for (int i = 0; i < 3; i++)
    c->lightDirection[i] = unit[size_t(i)];
}

void DoApplyReflectanceOptions() {
  if (!ModelOptionsCrystal())
    return;
  ApplyReflectanceOptions();
  ReplotAfterModelOptions(false, true);
}

void SaveReflectanceOptionsAsDefaults() {
  const ReflectanceOptions &o = R();
  for (size_t k = 1; k <= 4; k++) {
    gPrefs.kA[k - 1] = o.ambient[k];
    gPrefs.kD[k - 1] = o.diffuse[k];
    gPrefs.kS[k - 1] = o.specular[k];
    gPrefs.phongN[k - 1] = o.phong[k];
  }
  gPrefs.polyEdgeMode = int8_t(o.polyEdgeMode);
  gPrefs.ambientIntensity = o.ambientIntensity;
  gPrefs.pointIntensity = o.pointIntensity;
  for (int i = 0; i < 3; i++)
    gPrefs.lightDirection[i] = o.lightDirection[size_t(i)];
}
