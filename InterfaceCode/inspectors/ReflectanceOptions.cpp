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
// The value fields: the coefficients as they are, the exponent whole, the
// intensities in whole percent.
constexpr StoredField kCoefficientField{stored::kReflectance};
constexpr StoredField kPhongField{stored::kPhongExponent, 1.0f, 0.0f, true};
constexpr StoredField kIntensityField{stored::kIntensity, 0.01f};
constexpr int kCoefficientIDs[3] = {706, 708, 710};
constexpr int kCoefficientSliders[3] = {705, 707, 709};
constexpr int kPhongID = 712, kPhongSlider = 711;
constexpr int kBearingID = 756, kElevationID = 758;
constexpr int kIntensityIDs[2] = {751, 754}, kIntensitySliders[2] = {752, 753};
float *Coefficients(int i) { return i == 0 ? R().ambient : i == 1 ? R().diffuse : R().specular; }
float &Intensity(int i) { return i == 0 ? R().ambientIntensity : R().pointIntensity; }

void ShowCoefficient(int i, float value) {
  ShowStoredValue(Ctl<QLineEdit>(kCoefficientIDs[i]), value, MyTrimSprintf("%.2f", value));
}
void ShowPhong(uint16_t phong) { ShowStoredValue(Ctl<QLineEdit>(kPhongID), phong, MyTrimSprintf("%.0f", phong)); }
void ShowIntensity(int i, float value) {
  ShowStoredValue(Ctl<QLineEdit>(kIntensityIDs[i]), value,
                  MyTrimSprintf("%.0f", std::trunc(kIntensityField.Shown(value))) + "%");
}

void SetCustomPresetsChoice() {
  if (R().presetItem == kCustomPreset)
    return;
  R().presetItem = kCustomPreset;
  Ctl<QComboBox>(702)->setCurrentIndex(kCustomPreset - 1);
}
void UpdateReflectanceSliders() {
  const size_t k = Kind();
  const QSignalBlocker b1(Ctl(705)), b2(Ctl(707)), b3(Ctl(709)), b4(Ctl(711));
  for (int i = 0; i < 3; i++)
    Ctl<QSlider>(kCoefficientSliders[i])->setValue(int(kCoefficientField.Shown(Coefficients(i)[k]) * 100.0f));
  Ctl<QSlider>(kPhongSlider)->setValue(PhongToSlider(R().phong[k]));
}
void UpdateReflectanceFields() {
  const size_t k = Kind();
  for (int i = 0; i < 3; i++)
    ShowCoefficient(i, Coefficients(i)[k]);
  ShowPhong(R().phong[k]);
}
void DrawLightingPreview() {
  float bearing = 0, elevation = 0;
  AnglesFromLightDirection(R().lightDirection, &bearing, &elevation);
  ShowStoredValue(Ctl<QLineEdit>(kBearingID), bearing, MyTrimSprintf("%.0f", bearing) + "°");
  ShowStoredValue(Ctl<QLineEdit>(kElevationID), elevation, MyTrimSprintf("%.0f", elevation) + "°");
  Ctl(760)->update();
}
// The light moves only when its bearing or elevation was edited; the other
// angle is then the one shown, unrounded.
void ExtractLightingTextValues() {
  auto *bearing = Ctl<QLineEdit>(kBearingID), *elevation = Ctl<QLineEdit>(kElevationID);
  if (StoredFieldEdited(bearing) || StoredFieldEdited(elevation)) {
    const float b = StoredFieldEdited(bearing) ? GetEditTextFloat(bearing) : ShownStoredValue(bearing);
    const float e = StoredFieldEdited(elevation) ? GetEditTextFloat(elevation) : ShownStoredValue(elevation);
    R().lightDirection = LightDirectionFromAngles(WrapBearing(b), std::clamp(e, 0.0f, kMaxLightElevation));
  }
  for (int i = 0; i < 2; i++)
    Intensity(i) = StoredFieldValue(Ctl<QLineEdit>(kIntensityIDs[i]), kIntensityField);
}

void StepAngle(int fieldID, int part, bool bearing) {
  const float old = GetEditTextFloat(Ctl<QLineEdit>(fieldID));
  float value = old + (part == kControlDownButtonPart ? -1.0f : 1.0f);
  value = bearing ? WrapBearing(value) : std::clamp(value, 0.0f, kMaxLightElevation);
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
  bool edited = false;
  for (int i = 0; i < 3; i++) {
    auto *field = Ctl<QLineEdit>(kCoefficientIDs[i]);
    edited = edited || StoredFieldEdited(field);
    Coefficients(i)[k] = StoredFieldValue(field, kCoefficientField);
  }
  edited = edited || StoredFieldEdited(Ctl<QLineEdit>(kPhongID));
  R().phong[k] = uint16_t(StoredFieldValue(Ctl<QLineEdit>(kPhongID), kPhongField));
  if (edited)
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
  // The coefficient sliders run in hundredths of the field's range.
  for (int i = 0; i < 3; i++) {
    Ctl<QSlider>(kCoefficientSliders[i])
        ->setRange(int(kCoefficientField.ShownLow() * 100.0f), int(kCoefficientField.ShownHigh() * 100.0f));
    QObject::connect(Ctl<QSlider>(kCoefficientSliders[i]), &QSlider::valueChanged, pane, [i](int v) {
      Coefficients(i)[Kind()] = v * 0.01f;
      ShowCoefficient(i, v * 0.01f);
      SetCustomPresetsChoice();
      DoApplyReflectanceOptions();
    });
  }
  Ctl<QSlider>(kPhongSlider)->setRange(0, PhongToSlider(int(kPhongField.ShownHigh())));
  QObject::connect(Ctl<QSlider>(kPhongSlider), &QSlider::valueChanged, pane, [](int v) {
    R().phong[Kind()] = uint16_t(PhongFromSlider(v));
    ShowPhong(R().phong[Kind()]);
    SetCustomPresetsChoice();
    DoApplyReflectanceOptions();
  });
  for (int i = 0; i < 2; i++) {
    SetSliderLimits(Ctl(kIntensitySliders[i]), kIntensityField);
    QObject::connect(Ctl<QSlider>(kIntensitySliders[i]), &QSlider::valueChanged, pane, [i](int v) {
      Intensity(i) = kIntensityField.Stored(float(v));
      ShowIntensity(i, Intensity(i));
      DoApplyReflectanceOptions();
    });
  }
  QObject::connect(Ctl<LittleArrows>(757), &LittleArrows::Stepped, pane,
                   [](int part) { StepAngle(kBearingID, part, true); });
  QObject::connect(Ctl<LittleArrows>(759), &LittleArrows::Stepped, pane,
                   [](int part) { StepAngle(kElevationID, part, false); });
  for (int id : {kCoefficientIDs[0], kCoefficientIDs[1], kCoefficientIDs[2], kPhongID})
    QObject::connect(Ctl<QLineEdit>(id), &QLineEdit::returnPressed, pane, CoefficientsEntered);
  for (int id : {kBearingID, kElevationID, kIntensityIDs[0], kIntensityIDs[1]})
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
  for (int i = 0; i < 2; i++) {
    const QSignalBlocker block(Ctl(kIntensitySliders[i]));
    Ctl<QSlider>(kIntensitySliders[i])->setValue(int(kIntensityField.Shown(Intensity(i))));
    ShowIntensity(i, Intensity(i));
  }
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
    c->phongN[k - 1] = o.phong[k];
  }
  c->polyEdgeMode = int8_t(o.polyEdgeMode);
  c->ambientIntensity = o.ambientIntensity;
  c->pointIntensity = o.pointIntensity;
  if (std::equal(o.lightDirection.begin(), o.lightDirection.end(), c->lightDirection))
    return; // the light was not moved
  // A light moved goes to the renderer as a unit vector, never a zero one.
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
