// The Background tab: a plain colour or a two-colour gradient behind the
// structure, and twelve one-click presets.
#include "InspectorKit.h"
#include "ModelOptions.h"
#include "shell/Forms.h"

#include "ColourHelpers.h"
#include "Preferences.h"
#include "Utilities.h"
#include "StyleMenus.h"
#include "documents/BackgroundPicture.h"
#include "export/PictureServices.h"
#include "graphics/GraphicsPort.h"
#include "graphics/QtBridge.h"
#include "render/Background.h"
#include "window/MainWindowData.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QSlider>
#include <cmath>
#include <memory>

BackgroundOptions backOptions;
std::vector<RGBColor> gBackColor1Presets, gBackColor2Presets;

namespace {
// Gradient pop-up item (0-based) to gradient style.
constexpr uint32_t gPopupGradients[5] = {0, 5, 6, 7, 8};
constexpr int kFirstPreview = 630;
constexpr int kPresetCount = 12;
constexpr RGBColor kGrey(uint16_t v) { return RGBColor{v, v, v}; }
constexpr RGBColor kW = kGrey(65535), kK = kGrey(0);
const BackgroundOptions gBackgroundPresets[kPresetCount] = {
    {1, kK, kK, kW, 5, 0, 1.0f, 4, {}},
    {1, kGrey(56797), kGrey(56797), kW, 5, 0, 1.0f, 4, {}},
    {1, kW, kW, kW, 5, 0, 1.0f, 4, {}},
    {2, kK, kW, kK, 5, 0, 1.0f, 4, {}},
    {2, kK, kW, kGrey(43690), 6, 0, 1.0f, 4, {}},
    {2, kW, kW, kGrey(26214), 7, 0, 1.0f, 4, {}},
    {1, {65535, 61166, 61166}, {65535, 61166, 61166}, kW, 5, 0, 1.0f, 4, {}},
    {1, {65535, 65535, 61166}, {65535, 65535, 52428}, kW, 5, 0, 1.0f, 4, {}},
    {1, {48059, 56797, 65535}, {48059, 56797, 65535}, kW, 5, 0, 1.0f, 4, {}},
    {2, {65535, 61166, 61166}, {61166, 61166, 65535}, {0, 0, 43690}, 5, -45, 1.0f, 4, {}},
    {2, {65535, 65535, 52428}, kW, {65535, 65535, 52428}, 5, 0, 0.5f, 4, {}},
    {2, {48059, 56797, 65535}, {48059, 56797, 65535}, kW, 5, 0, 1.0f, 4, {}},
};
constexpr uint16_t kPrefix1 = ('C' << 8) | 'C', kPrefix2 = ('D' << 8) | 'D';

QWidget *Pane() { return gModelOptions.panes[kBackgroundTab]; }
template <typename T = QWidget> T *Ctl(int id) { return FindControl<T>(Pane(), id); }
QColor ToQColor(RGBColor c) { return QColor::fromRgb(c.red >> 8, c.green >> 8, c.blue >> 8); }
// Button 603 stands for the plain colour or the first gradient colour.
RGBColor &FirstColour() { return backOptions.mode == 1 ? backOptions.colour : backOptions.gradientColour1; }

// The gradient's angle in degrees and its scale in percent, each with its
// slider.
constexpr StoredField kAngleField{stored::kGradientAngle};
constexpr StoredField kScaleField{stored::kGradientScale, 0.01f};
constexpr int kAngleID = 622, kScaleID = 623, kAngleSlider = 617, kScaleSlider = 619;

void ShowAngle() {
  ShowStoredValue(Ctl<QLineEdit>(kAngleID), backOptions.angle, MyTrimSprintf("%.0f", backOptions.angle) + "°");
}
void ShowScale() {
  ShowStoredValue(Ctl<QLineEdit>(kScaleID), backOptions.scale,
                  MyTrimSprintf("%.0f", kScaleField.Shown(backOptions.scale)) + "%");
}

void ToggleGradientOptions(bool on) {
  EnableControls(Pane(), {604, 621, 605, 606, 615, 616, 617, 618, 619, 622, 623}, on);
  Pane()->update();
}

// The previews paint their preset and take a click as its choice.
class PreviewFilter : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject *watched, QEvent *event) override {
    auto *preview = static_cast<QWidget *>(watched);
    const int preset = ControlID(preview) - kFirstPreview;
    if (preset < 0 || preset >= kPresetCount)
      return false;
    if (event->type() == QEvent::Paint) {
      QPainter painter(preview);
      // The preset drawn as the plot draws it, inset one pixel in its frame.
      const BackgroundOptions &p = gBackgroundPresets[preset];
      const QRect r = preview->rect().adjusted(1, 1, -1, -1);
      const Rect bounds = MakeRect(0, 0, r.width(), r.height());
      if (std::unique_ptr<ovgfx::PixelBuffer> pixels = ovgfx::PixelBuffer::Create(bounds, 32)) {
        ovgfx::GraphicsPort port(pixels.get());
        ovgfx::PortSaver current(&port);
        DrawSimpleBackgroundIntoRect(p.mode == 2, p.colour, p.gradientColour1, p.gradientColour2,
                                     uint32_t(std::max(p.style, 0)), p.angle, p.scale, bounds);
        painter.drawImage(r.topLeft(), ovgfx::ImageView(*pixels));
      }
      painter.setPen(ToQColor(kRGBMdGrey));
      painter.drawRect(preview->rect().adjusted(0, 0, -1, -1));
      return true;
    }
    if (event->type() == QEvent::MouseButtonPress && preview->isEnabled()) {
      backOptions = gBackgroundPresets[preset];
      UpdateBackgroundOptions();
      DoApplyBackgroundOptions();
      return true;
    }
    return false;
  }
};

// Shows the picture's name, size and memory need, or the control to
// choose one; a picture whose file has gone is dropped.
void ShowPictureInformation() {
  std::error_code ec;
  const bool hasPicture = !backOptions.picture.empty() && std::filesystem::is_regular_file(backOptions.picture, ec);
  QWidget *none = Ctl(607), *some = Ctl(614);
  if (hasPicture) {
    some->show();
    none->hide();
    Rect bounds;
    int64_t bytes = 0;
    QString text = QString::fromStdString(backOptions.picture.filename().string());
    if (GetGraphicsOffWorldSpecs(backOptions.picture, &bounds, &bytes))
      text += "\n" + QString::fromStdString(PictureSizeText(bounds.Width(), bounds.Height(), uint64_t(bytes)));
    else
      text = QStringLiteral("???");
    Ctl<QLabel>(610)->setText(text);
    return;
  }
  backOptions.picture.clear();
  some->hide();
  none->show();
  const WindowRef front = FrontGraphWindow();
  const bool enable = front && GetWindowCrystal(front) && IsWindowFileOpen(front);
  none->setEnabled(enable);
  some->setEnabled(enable);
  Ctl<QLabel>(610)->clear();
}

void ChoosePicture() {
  std::filesystem::path file;
  if (MyGetGraphicsFile("Select a graphics file", &file) == 0) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
      return;
    backOptions.picture = file;
  }
  ShowPictureInformation();
  DoApplyBackgroundOptions();
}

void ChooseColour(RGBColor &colour) {
  RGBColor chosen;
  if (GetColor("", colour, &chosen)) {
    colour = chosen;
    DoApplyBackgroundOptions();
  }
  Pane()->update();
}

OSStatus BackOptionsEventHandler(uint32_t command) {
  switch (command) {
  case FourCharsToLong("FlGr"):
    std::swap(backOptions.gradientColour1, backOptions.gradientColour2);
    Pane()->update();
    DoApplyBackgroundOptions();
    return kNoErr;
  case FourCharsToLong("addP"): ChoosePicture(); return kNoErr;
  case FourCharsToLong("remP"):
    backOptions.picture.clear();
    DoApplyBackgroundOptions();
    ShowPictureInformation();
    return kNoErr;
  case FourCharsToLong("mLay"):
    backOptions.pictureMode = uint16_t(std::clamp(GetPopupValue(Ctl<QComboBox>(608)), 1, 4));
    ShowPictureInformation();
    DoApplyBackgroundOptions();
    return kNoErr;
  case FourCharsToLong("bCl1"): ChooseColour(FirstColour()); return kNoErr;
  case FourCharsToLong("bCl2"): ChooseColour(backOptions.gradientColour2); return kNoErr;
  case FourCharsToLong("mGrd"): {
    const int item = Ctl<QComboBox>(606)->currentIndex();
    backOptions.style = item >= 0 && item < 5 ? int32_t(gPopupGradients[item]) : 0;
    DoApplyBackgroundOptions();
    return kNoErr;
  }
  case FourCharsToLong("rPat"):
    backOptions.mode = Ctl<QRadioButton>(6011)->isChecked() ? 1 : 2;
    ToggleGradientOptions(backOptions.mode == 2);
    DoApplyBackgroundOptions();
    return kNoErr;
  default: break;
  }
  uint16_t prefix = 0;
  int item = 0;
  if (!GetIndexFromColorMenuCommand(command, &prefix, &item) || item < 1)
    return kEventNotHandledErr;
  const std::vector<RGBColor> *presets =
      prefix == kPrefix1 ? &gBackColor1Presets : prefix == kPrefix2 ? &gBackColor2Presets : nullptr;
  if (!presets || size_t(item) > presets->size())
    return kEventNotHandledErr;
  (prefix == kPrefix1 ? FirstColour() : backOptions.gradientColour2) = (*presets)[size_t(item) - 1];
  DoApplyBackgroundOptions();
  Pane()->update();
  return kNoErr;
}

// Typing in the angle and scale fields applies once the number lies within
// the field's limits.
void FieldEdited(int fieldID, int sliderID, const StoredField &kind, float &value) {
  auto *field = Ctl<QLineEdit>(fieldID);
  auto *slider = Ctl<QSlider>(sliderID);
  if (!StoredFieldEdited(field))
    return;
  const float typed = GetEditTextFloat(field);
  if (typed < kind.ShownLow() || typed > kind.ShownHigh())
    return;
  const QSignalBlocker block(slider);
  slider->setValue(int(typed));
  value = StoredFieldValue(field, kind);
  DoApplyBackgroundOptions();
}
} // namespace

void InitBackgroundOptions() {
  QWidget *pane = Pane();
  ConnectPaneCommands(pane, BackOptionsEventHandler);
  SetSliderLimits(Ctl(kAngleSlider), kAngleField);
  SetSliderLimits(Ctl(kScaleSlider), kScaleField);
  QObject::connect(Ctl<QSlider>(kAngleSlider), &QSlider::valueChanged, pane, [](int value) {
    backOptions.angle = kAngleField.Stored(float(value));
    ShowAngle();
    DoApplyBackgroundOptions();
  });
  QObject::connect(Ctl<QSlider>(kScaleSlider), &QSlider::valueChanged, pane, [](int value) {
    backOptions.scale = kScaleField.Stored(float(value));
    ShowScale();
    DoApplyBackgroundOptions();
  });
  QObject::connect(Ctl<QLineEdit>(kAngleID), &QLineEdit::textEdited, pane,
                   [] { FieldEdited(kAngleID, kAngleSlider, kAngleField, backOptions.angle); });
  QObject::connect(Ctl<QLineEdit>(kScaleID), &QLineEdit::textEdited, pane,
                   [] { FieldEdited(kScaleID, kScaleSlider, kScaleField, backOptions.scale); });
  auto *filter = new PreviewFilter(pane);
  for (int id = kFirstPreview; id < kFirstPreview + kPresetCount; id++)
    if (QWidget *preview = Ctl(id))
      preview->installEventFilter(filter);
  Ctl<ColorButton>(603)->SetColorSource([] { return FirstColour(); });
  Ctl<ColorButton>(604)->SetColorSource([] { return backOptions.gradientColour2; });
  const char *placements[4] = {"IC PictureTile.icns", "IC PictureCentre.icns", "IC PictureScale.icns",
                               "IC PictureFill.icns"};
  for (int item = 0; item < 4 && item < Ctl<QComboBox>(608)->count(); item++)
    Ctl<QComboBox>(608)->setItemIcon(item, StyleMenuIcon(placements[item]));
  gBackColor1Presets = InitPopupColorMenu(Ctl<QComboBox>(620), kPrefix1, BackOptionsEventHandler);
  gBackColor2Presets = InitPopupColorMenu(Ctl<QComboBox>(621), kPrefix2, BackOptionsEventHandler);
}

void FillBackgroundOptions(const CrystalRec &c) {
  BackgroundOptions &o = backOptions;
  o.mode = c.backgroundGradient ? 2 : 1;
  o.colour = c.backgroundColor;
  o.gradientColour1 = c.gradientColors[0];
  o.gradientColour2 = c.gradientColors[1];
  o.style = c.gradientStyle ? int32_t(c.gradientStyle) : 5;
  o.angle = c.gradientAngle;
  o.scale = c.gradientScale;
  o.pictureMode = c.backgroundPictureMode;
  o.picture = c.backgroundPicture;
}

void UpdateBackgroundOptions() {
  if (!Pane())
    return;
  const QSignalBlocker b1(Ctl(kAngleSlider)), b2(Ctl(kScaleSlider));
  Ctl<QRadioButton>(backOptions.mode == 1 ? 6011 : 6012)->setChecked(true);
  int item = -1;
  for (int i = 0; i < 5; i++)
    if (int32_t(gPopupGradients[i]) == backOptions.style)
      item = i;
  Ctl<QComboBox>(606)->setCurrentIndex(std::max(item, 0));
  Ctl<QSlider>(kAngleSlider)->setValue(int(kAngleField.Shown(backOptions.angle)));
  ShowAngle();
  Ctl<QSlider>(kScaleSlider)->setValue(int(kScaleField.Shown(backOptions.scale)));
  ShowScale();
  ToggleGradientOptions(backOptions.mode == 2);
  SetPopupValue(Ctl<QComboBox>(608), std::clamp<int>(backOptions.pictureMode, 1, 4));
  ShowPictureInformation();
}

// Every control writes the record as it changes.
bool ExtractBackgroundOptions() { return true; }

void ApplyBackgroundOptions() {
  CrystalRec *c = gModelOptions.crystal;
  if (!c)
    return;
  const BackgroundOptions &o = backOptions;
  c->backgroundGradient = o.mode > 1;
  c->backgroundColor = o.colour;
  c->gradientColors[0] = o.gradientColour1;
  c->gradientColors[1] = o.gradientColour2;
  c->gradientStyle = uint32_t(std::max(o.style, 0));
  c->gradientAngle = o.angle;
  c->gradientScale = o.scale;
  c->backgroundPictureMode = o.pictureMode;
  SetCrystalBackgroundImage(c, o.picture);
  GetMyHiliteColor(*c);
}

void DoApplyBackgroundOptions() {
  if (!ModelOptionsCrystal())
    return;
  ApplyBackgroundOptions();
  ReplotAfterModelOptions(false, false);
}

void SaveBackgroundOptionsAsDefaults() {
  const BackgroundOptions &o = backOptions;
  gPrefs.backgroundColor = o.colour;
  gPrefs.gradientColors[0] = o.gradientColour1;
  gPrefs.gradientColors[1] = o.gradientColour2;
  gPrefs.backgroundGradient = o.mode == 2;
  gPrefs.gradientStyle = uint32_t(std::max(o.style, 0));
  gPrefs.gradientAngle = o.angle;
  gPrefs.gradientScale = o.scale;
}

std::string PictureSizeText(int width, int height, uint64_t bytes) {
  char text[64];
  if (bytes > 1048575)
    std::snprintf(text, sizeof text, "%d x %d, %d MB", width, height, int(bytes / 1048576));
  else
    std::snprintf(text, sizeof text, "%d x %d, %d K", width, height, int(bytes / 1024));
  return text;
}
