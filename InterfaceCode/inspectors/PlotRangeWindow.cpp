#include "inspectors/PlotRangeWindow.h"

#include "inspectors/InspectorKit.h"
#include "shell/Commands.h"
#include "shell/Forms.h"
#include "shell/UneditedFields.h"
#include "ui_PlotRange.h"

#include "PlotRange.h"
#include "LongCommand.h"
#include "Preferences.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "Utilities.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <algorithm>
#include <array>
#include <cmath>

RangeData gRangeData;
QWidget *gRangeWindow = nullptr;

namespace {

constexpr float kArrowStep = 0.1f;
constexpr int kFieldIDs[6] = {1, 3, 5, 7, 9, 11};
constexpr int kCountText = 21, kApplyButton = 22;
constexpr int kCellsTexts[3] = {23, 24, 25}, kAxisPopups[3] = {26, 27, 28};

float *FieldValue(RangeData &d, int field) {
  float *values[6] = {&d.xmin, &d.xmax, &d.ymin, &d.ymax, &d.zmin, &d.zmax};
  return field >= 0 && field < 6 ? values[field] : nullptr;
}

} // namespace

// ---- The rules ----------------------------------------------------------------------

float *RangeMinimum(RangeData &d, int axis) {
  return axis == 'x' ? &d.xmin : axis == 'y' ? &d.ymin : axis == 'z' ? &d.zmin : nullptr;
}

float *RangeMaximum(RangeData &d, int axis) {
  return axis == 'x' ? &d.xmax : axis == 'y' ? &d.ymax : axis == 'z' ? &d.zmax : nullptr;
}

void StepRangeField(RangeData &d, int field, int part) {
  float *value = FieldValue(d, field);
  if (!value)
    return;
  *value += part == kControlDownButtonPart ? -kArrowStep : kArrowStep;
  const bool isMaximum = field % 2 == 1;
  float &minimum = *FieldValue(d, field - (isMaximum ? 1 : 0));
  float &maximum = *FieldValue(d, field + (isMaximum ? 0 : 1));
  if (isMaximum && minimum >= maximum)
    maximum = minimum + kArrowStep;
  else if (!isMaximum && minimum >= maximum)
    minimum = maximum - kArrowStep;
}

void ExpandContractRange(RangeData &d, float amount, float a, float b, float c) {
  if (amount == 0.0f)
    return;
  const float edges[3] = {a, b, c};
  const float d0 = amount * std::min({a, b, c});
  for (int k = 0; k < 3; ++k) {
    const int axis = 'x' + k;
    float &minimum = *RangeMinimum(d, axis), &maximum = *RangeMaximum(d, axis);
    float lo = 0.0f, hi = 0.0f;
    if (std::fabs(amount) < 1.0f) {
      lo = minimum - d0 / edges[k];
      hi = maximum + d0 / edges[k];
    } else {
      lo = minimum - amount / 2.0f;
      hi = maximum + amount / 2.0f;
    }
    if (hi > lo)
      minimum = lo, maximum = hi;
  }
}

void CentreAxisRange(RangeData &d, int axis) {
  float *minimum = RangeMinimum(d, axis), *maximum = RangeMaximum(d, axis);
  if (!minimum)
    return;
  const float w = *maximum - *minimum;
  *minimum = 0.5f - w / 2.0f;
  *maximum = 0.5f + w / 2.0f;
}

std::string RangeSpanText(float span) {
  char text[64];
  std::snprintf(text, sizeof text, span >= 100.0f ? "%.0f" : "%.1f", double(span));
  return text;
}

// ---- The window ---------------------------------------------------------------------

namespace {

// While a typed value is applied live, the fields keep what the user typed
// (the plotted range may be the same cells shifted), so typing goes on.
bool gKeepTypedFields = false;

WindowRef FrontCrystalWindow() {
  WindowRef window = FrontGraphWindow();
  const CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  return c && IsWindowFileOpen(window) && !c->molecule ? window : nullptr;
}

QLineEdit *Field(int field) { return FindControl<QLineEdit>(gRangeWindow, kFieldIDs[field]); }

// A field's value: the one it was shown with while its text is as shown,
// else what it reads (a text that is not a number reads 0).
float FieldNumber(int field) { return StoredUnlessEdited(Field(field), GetEditTextFloat(Field(field))); }

// The six fields into the record.
void GetXYZRangeData() {
  for (int f = 0; f < 6; ++f)
    *FieldValue(gRangeData, f) = FieldNumber(f);
}

// Counts the atoms of the range and shows the count and the spans; true when
// the count is above zero.
bool ShowNumAtomsInRange() {
  auto *count = FindControl<QLabel>(gRangeWindow, kCountText);
  WindowRef window = FrontCrystalWindow();
  gRangeData.atomCount = 0;
  if (window) {
    const float minimum[3] = {gRangeData.xmin, gRangeData.ymin, gRangeData.zmin};
    const float maximum[3] = {gRangeData.xmax, gRangeData.ymax, gRangeData.zmax};
    gRangeData.atomCount = int32_t(std::min<int64_t>(
        CalculateNumAtomsInRange(GetWindowCrystal(window), minimum, maximum), INT32_MAX));
  }
  if (gRangeData.atomCount <= 0) {
    count->clear();
    for (int k = 0; k < 3; ++k)
      FindControl<QLabel>(gRangeWindow, kCellsTexts[k])->clear();
    return false;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.f atoms in range", double(gRangeData.atomCount));
  count->setText(text);
  for (int k = 0; k < 3; ++k) {
    const QString span = QString::fromStdString(
        RangeSpanText(*RangeMaximum(gRangeData, 'x' + k) - *RangeMinimum(gRangeData, 'x' + k)));
    FindControl<QLabel>(gRangeWindow, kCellsTexts[k])->setText(span);
    FindControl<QPushButton>(gRangeWindow, kAxisPopups[k])->setText(span);
  }
  return true;
}

void SetXYZRangeData(bool show) {
  for (int f = 0; f < 6; ++f) {
    if (show)
      ShowStoredValue(Field(f), QString::fromStdString(MyTrimSprintf("%.5f", double(*FieldValue(gRangeData, f)))),
                      *FieldValue(gRangeData, f));
    else
      SetEditTextCString(Field(f), "---");
  }
  ShowNumAtomsInRange();
}

// Each axis ordered and no wider than a document keeps.
bool AxesWithinLimits(const RangeData &d) {
  const float pairs[3][2] = {{d.xmin, d.xmax}, {d.ymin, d.ymax}, {d.zmin, d.zmax}};
  for (const auto &[lo, hi] : pairs)
    if (!(hi > lo && hi - lo <= kMaxPlotRangeSpan))
      return false;
  return true;
}

void CheckRange() {
  gRangeData.valid = 0;
  if (AxesWithinLimits(gRangeData))
    gRangeData.valid = ShowNumAtomsInRange() ? 1 : 0;
  FindControl(gRangeWindow, kApplyButton)->setEnabled(gRangeData.valid);
}

// Applies the range to the front crystal. A range equal to the one plotted
// is no change: nothing is rebuilt (which would work the plot out afresh)
// unless `evenIfUnchanged`, for a switch of the window's own (auto scale).
void DoApplySetRange(bool evenIfUnchanged = false) {
  const CommandRun running("PlotRange apply");
  WindowRef window = FrontCrystalWindow();
  if (!window)
    return;
  GetXYZRangeData();
  if (!gRangeData.valid)
    return;
  const float range[6] = {gRangeData.xmin, gRangeData.xmax, gRangeData.ymin,
                          gRangeData.ymax, gRangeData.zmin, gRangeData.zmax};
  if (!evenIfUnchanged && std::equal(range, range + 6, GetWindowCrystal(window)->plotRange))
    return;
  gShowProgress = !gRangeData.live;
  const bool held = QApplication::mouseButtons() != Qt::NoButton;
  if (held)
    gTrackBallRotn = 1;
  const RangeData d = gRangeData;
  const LongCommand longCommand;
  ReplotWithPlotRange(window, d.xmin, d.xmax, d.ymin, d.ymax, d.zmin, d.zmax, d.autoScale);
  gTrackBallRotn = 0;
}

// Every edit ends alike: the fields shown, the range checked, and applied
// when valid and live.
void CommonEnding() {
  SetXYZRangeData(true);
  CheckRange();
  if (gRangeData.valid && gRangeData.live)
    DoApplySetRange();
}

void DoSetAxisRange(int axis, float minimum, float maximum) {
  if (!RangeMinimum(gRangeData, axis))
    return;
  *RangeMinimum(gRangeData, axis) = minimum;
  *RangeMaximum(gRangeData, axis) = maximum;
  CommonEnding();
}

void DoCentreAxisRange(int axis) {
  GetXYZRangeData();
  CentreAxisRange(gRangeData, axis);
  CommonEnding();
}

void DoExpandContractRange(float amount) {
  WindowRef window = FrontCrystalWindow();
  if (!window || amount == 0.0f)
    return;
  GetXYZRangeData();
  const CrystalRec *c = GetWindowCrystal(window);
  ExpandContractRange(gRangeData, amount, c->a, c->b, c->c);
  CommonEnding();
}

void SetAllAxes(float maximum) {
  if (!FrontCrystalWindow())
    return;
  for (int axis : {'x', 'y', 'z'})
    *RangeMinimum(gRangeData, axis) = 0.0f, *RangeMaximum(gRangeData, axis) = maximum;
  CommonEnding();
}

void ShowAxisPopups(const QPoint &at) {
  for (int k = 0; k < 3; ++k) {
    QWidget *cells = FindControl(gRangeWindow, kCellsTexts[k]);
    QWidget *popup = FindControl(gRangeWindow, kAxisPopups[k]);
    const bool over = cells->property("hotRect").toRect().contains(at);
    if (over && !popup->isVisible()) {
      cells->hide();
      popup->show();
    } else if (!over && popup->isVisible() && !popup->property("menuOpen").toBool()) {
      popup->hide();
      cells->show();
    }
  }
}

// The window's own event handling: Return in a field applies, other typing
// checks (and applies when live); the mouse over a cells text swaps in its axis pop-up.
class RangeWindowFilter : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::KeyPress) {
      auto *key = static_cast<QKeyEvent *>(event);
      if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && qobject_cast<QLineEdit *>(watched)) {
        DoApplySetRange();
        return true;
      }
    } else if (event->type() == QEvent::MouseMove && watched == gRangeWindow) {
      ShowAxisPopups(static_cast<QMouseEvent *>(event)->position().toPoint());
    }
    return false;
  }
};

QMenu *AxisMenu(QWidget *parent, char axis) {
  auto *menu = new QMenu(parent);
  const struct {
    const char *suffix, *title;
  } items[] = {{"+Cl", "Add One Cell"}, {"1Cl", "One Cell"}, {"Cen", "Centre"}, {"Mn0", "Minimum to 0"}};
  for (const auto &item : items) {
    const uint32_t code = FourCharsToLong((std::string(1, axis) + item.suffix).c_str());
    menu->addAction(item.title, menu, [code] { SetRangeCommand(code); });
  }
  return menu;
}

} // namespace

int InitSetRange() {
  if (gRangeWindow)
    return 0;
  static Ui::PlotRange form;
  auto *window = new QWidget;
  form.setupUi(window);
  for (int id : {1, 3, 5, 7, 9, 11, 21, 22, 23, 24, 25, 26, 27, 28})
    if (!FindControl(window, id)) {
      delete window;
      return -1;
    }
  gRangeWindow = window;
  auto *filter = new RangeWindowFilter(window);
  window->setMouseTracking(true);
  window->installEventFilter(filter);
  for (int f = 0; f < 6; ++f) {
    QLineEdit *field = Field(f);
    field->installEventFilter(filter);
    QObject::connect(field, &QLineEdit::textEdited, field, [f] {
      *FieldValue(gRangeData, f) = FieldNumber(f);
      CheckRange();
      // Live draws what the count shows.
      if (gRangeData.valid && gRangeData.live) {
        gKeepTypedFields = true;
        DoApplySetRange();
        gKeepTypedFields = false;
      }
    });
    auto *arrows = FindControl<LittleArrows>(window, kFieldIDs[f] + 1);
    QObject::connect(arrows, &LittleArrows::Stepped, arrows, [f](int part) {
      *FieldValue(gRangeData, f) = FieldNumber(f);
      StepRangeField(gRangeData, f, part);
      CommonEnding();
    });
  }
  for (int k = 0; k < 3; ++k) {
    QWidget *cells = FindControl(window, kCellsTexts[k]);
    cells->setProperty("hotRect", cells->geometry());
    auto *popup = FindControl<QPushButton>(window, kAxisPopups[k]);
    QMenu *menu = AxisMenu(popup, char('x' + k));
    QObject::connect(menu, &QMenu::aboutToShow, popup, [popup] { popup->setProperty("menuOpen", true); });
    QObject::connect(menu, &QMenu::aboutToHide, popup, [popup] { popup->setProperty("menuOpen", false); });
    popup->setMenu(menu);
    popup->hide();
  }
  ConnectPaneCommands(window, SetRangeCommand);
  RegisterFloatingWindow({window, &gPrefs.rangeWindowBounds, nullptr, UpdateSetRangeNow, true, {}});
  return 0;
}

void DoSetRange() {
  if (InitSetRange() != 0)
    return;
  UpdateSetRangeNow();
  gRangeWindow->show();
  gRangeWindow->raise();
  if (FrontCrystalWindow() || (FrontGraphWindow() && IsWindowFileOpen(FrontGraphWindow()))) {
    gRangeWindow->activateWindow();
    Field(0)->setFocus();
    Field(0)->selectAll();
  }
}

void UpdateSetRangeNow() {
  if (gKeepTypedFields)
    return;
  WindowRef window = FrontGraphWindow();
  const CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!c)
    return;
  for (int f = 0; f < 6; ++f)
    *FieldValue(gRangeData, f) = c->plotRange[f];
  if (!gRangeWindow)
    return;
  const bool crystal = IsWindowFileOpen(window) && !c->molecule;
  for (QWidget *control : gRangeWindow->findChildren<QWidget *>())
    if (ControlID(control) > 0)
      control->setEnabled(crystal);
  if (crystal) {
    SetXYZRangeData(true);
    CheckRange();
    return;
  }
  SetXYZRangeData(false);
  FindControl<QLabel>(gRangeWindow, kCountText)->setText("No atoms to plot");
}

OSStatus SetRangeCommand(uint32_t command) {
  char chars[5] = {};
  LongToFourChars(command, chars);
  const std::string code = chars;
  if (command == FourCharsToLong("okRg")) {
    DoApplySetRange();
  } else if (command == FourCharsToLong("tLiv")) {
    gRangeData.live = !gRangeData.live;
    if (gRangeData.live)
      DoApplySetRange();
  } else if (command == FourCharsToLong("tAut")) {
    gRangeData.autoScale = !gRangeData.autoScale;
    if (gRangeData.live)
      DoApplySetRange(gRangeData.autoScale);
  } else if (command == FourCharsToLong("+Cel")) {
    DoExpandContractRange(1.0f);
  } else if (command == FourCharsToLong("-Cel")) {
    DoExpandContractRange(-1.0f);
  } else if (command == FourCharsToLong("Exyz")) {
    DoExpandContractRange(0.1f);
  } else if (command == FourCharsToLong("Cxyz")) {
    DoExpandContractRange(-0.1f);
  } else if (command == FourCharsToLong("1Cel")) {
    SetAllAxes(0.99999f);
  } else if (command == FourCharsToLong("RCel")) {
    SetAllAxes(1.0f);
  } else if (code.size() == 4 && code[0] >= 'x' && code[0] <= 'z' && code.substr(1) == "+Cl") {
    GetXYZRangeData();
    DoSetAxisRange(code[0], *RangeMinimum(gRangeData, code[0]), *RangeMaximum(gRangeData, code[0]) + 1.0f);
  } else if (code.size() == 4 && code[0] >= 'x' && code[0] <= 'z' && code.substr(1) == "1Cl") {
    DoSetAxisRange(code[0], 0.0f, 1.0f);
  } else if (code.size() == 4 && code[0] >= 'x' && code[0] <= 'z' && code.substr(1) == "Cen") {
    DoCentreAxisRange(code[0]);
  } else if (code.size() == 4 && code[0] >= 'x' && code[0] <= 'z' && code.substr(1) == "Mn0") {
    GetXYZRangeData();
    DoSetAxisRange(code[0], 0.0f, *RangeMaximum(gRangeData, code[0]));
  } else {
    return kEventNotHandledErr;
  }
  return kNoErr;
}

void InstallPlotRangeWindow() {
  static bool installed = false;
  if (installed)
    return;
  installed = true;
  AddCommandHandler([](uint32_t command, const QVariant &) {
    if (command != kCmdPlotRange)
      return kEventNotHandledErr;
    DoSetRange();
    return kNoErr;
  });
  AddWindowOpener([] {
    if (!gPrefs.rangeWindowBounds.IsEmpty())
      DoSetRange();
  });
}
