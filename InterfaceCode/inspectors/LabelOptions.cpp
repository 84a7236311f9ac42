// The Labels tab: what atom labels show, their font, size and position.
#include "InspectorKit.h"
#include "ModelOptions.h"
#include "shell/Forms.h"

#include "Alerts.h"
#include "Preferences.h"
#include "Utilities.h"
#include "render/AtomLabels.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QLineEdit>
#include <QRadioButton>
#include <cmath>
#include <cstdio>

LabelOptions labelOptions;

namespace {
// Buttons 511..519 stand for these position codes.
constexpr int gNumAtomLabelPositions = 9;
constexpr int gAtomLabelPositions[gNumAtomLabelPositions] = {7, 8, 9, 1, 2, 3, 4, 5, 6};
constexpr int kFirstPositionButton = 511;
constexpr int kDefaultLabelPos = 4;

QWidget *Pane() { return gModelOptions.panes[kLabelsTab]; }
template <typename T = QWidget> T *Ctl(int id) { return FindControl<T>(Pane(), id); }
QAbstractButton *PositionButton(int n) { return Ctl<QAbstractButton>(kFirstPositionButton + n - 1); }

int PositionCodeOn() {
  const int n = GetLabelPositionValue();
  return n ? gAtomLabelPositions[n - 1] : kDefaultLabelPos;
}
// The button (1 to 9) that stands for a position code; 0 for none.
int PositionButtonOf(int code) {
  for (int i = 0; i < gNumAtomLabelPositions; i++)
    if (gAtomLabelPositions[i] == code)
      return i + 1;
  return 0;
}
bool AutomaticChosen() {
  auto *automatic = Ctl<QRadioButton>(5091);
  return automatic && automatic->isChecked();
}
// The label types the content pop-up offers, item N for type N. A stored
// type outside them (0 draws "?") shows no item and is kept.
constexpr int kLabelTypeID = 501;
constexpr int kLastOfferedLabelType = 5;
bool LabelTypeChosen() { return Ctl<QComboBox>(kLabelTypeID)->currentIndex() >= 0; }

constexpr StoredField kSizeField{stored::kLabelSize};
constexpr int kSizeID = 504;

// In whole points, halves away from zero.
void ShowSize(float size) {
  ShowStoredValue(Ctl<QLineEdit>(kSizeID), size, MyTrimSprintf("%.0f", std::round(double(size))));
}

// A typed size is taken when the field is left or Return is pressed, never
// from the keys on their way to it (typing "30" passes through "3"). One
// beyond the field's range is refused with the range, and the size shown
// before comes back.
void TakeTypedLabelSize() {
  QLineEdit *field = Ctl<QLineEdit>(kSizeID);
  if (!field || !StoredFieldEdited(field) || !ModelOptionsCrystal())
    return;
  const float typed = GetEditTextFloat(field);
  if (typed >= kSizeField.ShownLow() && typed <= kSizeField.ShownHigh()) {
    DoApplyLabelOptions();
    return;
  }
  ShowSize(ShownStoredValue(field));
  char explanation[128];
  std::snprintf(explanation, sizeof explanation, "Label size must lie in the range %.0f - %.0f points!",
                double(kSizeField.ShownLow()), double(kSizeField.ShownHigh()));
  MyCFCautionAlert("Please enter a valid label size", explanation);
}

void AutoScrollLabelSize(int part) {
  const float old = GetEditTextFloat(Ctl<QLineEdit>(kSizeID));
  const float value =
      std::clamp(old + (part == kControlDownButtonPart ? -1.0f : 1.0f), kSizeField.ShownLow(), kSizeField.ShownHigh());
  if (value == old)
    return;
  SetEditTextFormat(Ctl<QLineEdit>(kSizeID), "%.0f", value);
  DoApplyLabelOptions();
}

OSStatus LabelOptionsEventHandler(uint32_t command) {
  switch (command) {
  case FourCharsToLong("*Lbl"): ShowAllLabels(FrontGraphWindow(), true); return kNoErr;
  case FourCharsToLong("%Lbl"): ShowAllLabels(FrontGraphWindow(), false); return kNoErr;
  case FourCharsToLong("tALP"):
    UpdateLabelPositionControls(AutomaticChosen());
    DoApplyLabelOptions();
    return kEventNotHandledErr;
  case FourCharsToLong("rLfn"):
  case FourCharsToLong("rLtp"):
  case FourCharsToLong("tALS"): DoApplyLabelOptions(); return kNoErr;
  default: break;
  }
  for (int n = 1; n <= gNumAtomLabelPositions; n++)
    if (command == FourCharsToLong(("rL0" + std::to_string(n)).c_str())) {
      SetLabelPositionValue(n);
      DoApplyLabelOptions();
      return kNoErr;
    }
  return kEventNotHandledErr;
}
} // namespace

int GetLabelPositionValue() {
  for (int n = 1; n <= gNumAtomLabelPositions; n++)
    if (QAbstractButton *b = PositionButton(n); b && b->isChecked())
      return n;
  return 0;
}

void SetLabelPositionValue(int n) {
  for (int i = 1; i <= gNumAtomLabelPositions; i++)
    if (QAbstractButton *b = PositionButton(i))
      b->setChecked(i == n);
}

void UpdateLabelPositionControls(bool automatic) {
  if (automatic) {
    // The fixed position chosen last is kept for a return to it; with none
    // chosen, the stored one stays.
    EnableControls(Pane(), {510}, false);
    if (GetLabelPositionValue())
      labelOptions.labelPos = uint16_t(PositionCodeOn());
    SetLabelPositionValue(0);
    return;
  }
  EnableControls(Pane(), {510}, true);
  SetLabelPositionValue(PositionButtonOf(labelOptions.labelPos));
}

void InitLabelOptions() {
  QWidget *pane = Pane();
  // The position buttons are toggles that exclude each other by hand: all
  // of them may be off.
  for (int n = 1; n <= gNumAtomLabelPositions; n++)
    if (QAbstractButton *b = PositionButton(n))
      b->setCheckable(true);
  ConnectPaneCommands(pane, LabelOptionsEventHandler);
  QObject::connect(Ctl<LittleArrows>(505), &LittleArrows::Stepped, pane, AutoScrollLabelSize);
  QObject::connect(Ctl<QLineEdit>(kSizeID), &QLineEdit::editingFinished, pane, TakeTypedLabelSize);
  auto *fonts = Ctl<QComboBox>(503);
  fonts->clear();
  for (const QString &family : QFontDatabase::families())
    fonts->addItem(family);
}

void FillLabelOptions(const CrystalRec &c) {
  LabelOptions &o = labelOptions;
  o.labelType = c.atomLabelType;
  o.labelPos = uint16_t(c.atomLabelPos);
  o.autoPosition = c.labelFlag;
  o.scaleWithPlot = c.labelSizeFollowsScale;
  o.size = c.labelSize;
  // A font that is not installed stays the structure's font: the pop-up
  // shows no item (0) and applying leaves the name alone, rather than
  // putting the menu's first font in its place.
  int item = 0;
  if (!Pane() || !FindFontOnMenu(Ctl<QComboBox>(503), std::string(c.labelFont.view()), &item))
    item = 0;
  o.fontItem = uint16_t(item);
}

void UpdateLabelOptions() {
  if (!Pane())
    return;
  const bool offered = labelOptions.labelType >= 1 && labelOptions.labelType <= kLastOfferedLabelType;
  Ctl<QComboBox>(kLabelTypeID)->setCurrentIndex(offered ? labelOptions.labelType - 1 : -1);
  Ctl<QRadioButton>(labelOptions.autoPosition ? 5091 : 5092)->setChecked(true);
  SetLabelPositionValue(PositionButtonOf(labelOptions.labelPos));
  UpdateLabelPositionControls(labelOptions.autoPosition);
  if (labelOptions.fontItem == 0)
    Ctl<QComboBox>(503)->setCurrentIndex(-1);
  else
    SetPopupValue(Ctl<QComboBox>(503), labelOptions.fontItem);
  ShowSize(labelOptions.size);
  Ctl<QCheckBox>(520)->setChecked(labelOptions.scaleWithPlot);
}

bool ExtractLabelOptions() {
  if (!Pane())
    return false;
  LabelOptions &o = labelOptions;
  if (LabelTypeChosen())
    o.labelType = uint16_t(GetPopupValue(Ctl<QComboBox>(kLabelTypeID)));
  o.autoPosition = AutomaticChosen();
  if (!o.autoPosition)
    o.labelPos = uint16_t(PositionCodeOn());
  o.fontItem = uint16_t(GetPopupValue(Ctl<QComboBox>(503)));
  o.size = StoredFieldValue(Ctl<QLineEdit>(kSizeID), kSizeField);
  o.scaleWithPlot = Ctl<QCheckBox>(520)->isChecked();
  return true;
}

namespace {
std::string FontOfItem(int item) {
  auto *fonts = Ctl<QComboBox>(503);
  return fonts && item >= 1 && item <= fonts->count() ? fonts->itemText(item - 1).toStdString() : std::string();
}
} // namespace

void ApplyLabelOptions() {
  CrystalRec *c = gModelOptions.crystal;
  if (!c)
    return;
  ExtractLabelOptions();
  const std::string font = FontOfItem(labelOptions.fontItem);
  if (!font.empty())
    c->labelFont = MakeStr255(font);
  if (LabelTypeChosen())
    c->atomLabelType = uint8_t(labelOptions.labelType);
  c->atomLabelPos = int8_t(labelOptions.labelPos);
  c->labelFlag = labelOptions.autoPosition;
  c->labelSizeFollowsScale = labelOptions.scaleWithPlot;
  c->labelSize = labelOptions.size;
}

void DoApplyLabelOptions() {
  if (!ModelOptionsCrystal())
    return;
  ApplyLabelOptions();
  ReplotAfterModelOptions(false, false);
}

void SaveLabelOptionsAsDefaults() {
  PrefsRecord &p = gPrefs;
  p.atomLabelType = uint8_t(labelOptions.labelType);
  p.atomLabelPos = int8_t(labelOptions.labelPos);
  p.labelFlag = labelOptions.autoPosition;
  p.labelSizeFollowsScale = labelOptions.scaleWithPlot;
  const std::string font = FontOfItem(labelOptions.fontItem);
  if (!font.empty())
    p.labelFont = MakeStr255(font);
  p.labelSize = labelOptions.size;
}

void UpdateLabelOptionsSizeFieldNow(float size) {
  if (!gModelOptionsWindow || !gModelOptionsWindow->isVisible() || !Pane())
    return;
  labelOptions.size = size;
  ShowSize(size);
}
