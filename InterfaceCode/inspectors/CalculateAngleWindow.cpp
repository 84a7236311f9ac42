#include "inspectors/CalculateAngleWindow.h"

#include "inspectors/InspectorKit.h"
#include "shell/Forms.h"
#include "ui_CalculateAngle.h"

#include "Geometry.h"
#include "HostServices.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "Utilities.h"
#include "window/MainWindowData.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

CalAngleData gCalAngleData;
QWidget *gCalAngleWindow = nullptr;

namespace {

constexpr int kIndexFields[2][3] = {{2, 3, 4}, {11, 12, 13}};
constexpr int kLabels[2][3] = {{5, 6, 7}, {14, 15, 16}};
constexpr int kKindPopups[2] = {8, 17};
constexpr int kAngleField = 20;

// The last angle computed, or nothing.
bool gAngleComputed = false;

std::string Index(float v) { return MyTrimSprintf("%f", double(v)); }

QLineEdit *IndexField(int object, int k) { return FindControl<QLineEdit>(gCalAngleWindow, kIndexFields[object][k]); }

// The front structure window with a record, or none.
WindowRef FrontRecordWindow() {
  WindowRef window = FrontGraphWindow();
  return window && GetWindowCrystal(window) ? window : nullptr;
}

void SetCalAngleTitles(int which) {
  if (!gCalAngleWindow || (which != 1 && which != 2))
    return;
  const bool direction = gCalAngleData.kind[which - 1] == kCalAngleDirection;
  const char *titles[3] = {direction ? "U" : "h", direction ? "V" : "k", direction ? "W" : "l"};
  for (int k = 0; k < 3; ++k)
    FindControl<QLabel>(gCalAngleWindow, kLabels[which - 1][k])->setText(titles[k]);
}

void ExtractIndices() {
  for (int object = 0; object < 2; ++object)
    for (int k = 0; k < 3; ++k)
      gCalAngleData.indices[object][k] = GetEditTextFloat(IndexField(object, k));
}

void SetAngleText(const std::string &text) {
  if (gCalAngleWindow)
    SetEditTextCString(FindControl<QLineEdit>(gCalAngleWindow, kAngleField), text);
}

// Index fields: typing stores the value and recomputes; Return and Enter do
// nothing; the angle field takes no typing.
class CalAngleKeys : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() != QEvent::KeyPress)
      return false;
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
      return true;
    return watched == FindControl(gCalAngleWindow, kAngleField);
  }
};

} // namespace

std::string CalAngleLogLine(const CalAngleData &d, float angle) {
  std::string line = "Angle ";
  for (int object = 0; object < 2; ++object) {
    const bool direction = d.kind[object] == kCalAngleDirection;
    line += direction ? "[" : "N(";
    for (int k = 0; k < 3; ++k)
      line += Index(d.indices[object][k]) + (k < 2 ? " " : "");
    line += direction ? "]" : ")";
    if (object == 0)
      line += " ^ ";
  }
  return line + " = " + MyTrimSprintf("%.4f", double(angle)) + "°";
}

float CalculateAngle() {
  gAngleComputed = false;
  const float *u = gCalAngleData.indices[0], *v = gCalAngleData.indices[1];
  if (!(u[0] * u[0] + u[1] * u[1] + u[2] * u[2] > 0.0f) || !(v[0] * v[0] + v[1] * v[1] + v[2] * v[2] > 0.0f)) {
    SetAngleText("---");
    return 0.0f;
  }
  WindowRef window = FrontRecordWindow();
  if (!window || !IsWindowFileOpen(window))
    return 0.0f;
  const CrystalRec *c = GetWindowCrystal(window);
  float vectors[2][3];
  for (int object = 0; object < 2; ++object) {
    if (gCalAngleData.kind[object] == kCalAngleDirection)
      std::copy(gCalAngleData.indices[object], gCalAngleData.indices[object] + 3, vectors[object]);
    else
      Plane2Vector(c, gCalAngleData.indices[object], vectors[object]);
  }
  const float angle = IncludedAngle(c, vectors[0], vectors[1]);
  // A plane normal of no length has no angle: show none rather than the
  // failure value.
  if (angle == kIncludedAngleFailed || !std::isfinite(angle)) {
    SetAngleText("---");
    return 0.0f;
  }
  gAngleComputed = true;
  SetAngleText(MyTrimSprintf("%.4f", double(angle)) + "°");
  return angle;
}

void SetCalAngleIndices(float x, float y, float z, int which, uint16_t kind) {
  if (which == 1 || which == 2) {
    const int object = which - 1;
    gCalAngleData.kind[object] = kind;
    gCalAngleData.indices[object][0] = x;
    gCalAngleData.indices[object][1] = y;
    gCalAngleData.indices[object][2] = z;
    if (gCalAngleWindow) {
      for (int k = 0; k < 3; ++k)
        SetEditTextCString(IndexField(object, k), Index(gCalAngleData.indices[object][k]));
      SetPopupValue(FindControl<QComboBox>(gCalAngleWindow, kKindPopups[object]), kind == kCalAngleDirection ? 1 : 2);
      SetCalAngleTitles(which);
    }
  }
  CalculateAngle();
}

int InitCalAngle() {
  if (gCalAngleWindow)
    return 0;
  static Ui::CalculateAngle form;
  auto *window = new QWidget;
  form.setupUi(window);
  for (int id : {2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, 16, 17, 20})
    if (!FindControl(window, id)) {
      delete window;
      return -1;
    }
  gCalAngleWindow = window;
  auto *keys = new CalAngleKeys(window);
  FindControl<QLineEdit>(window, kAngleField)->installEventFilter(keys);
  for (int object = 0; object < 2; ++object)
    for (int k = 0; k < 3; ++k) {
      QLineEdit *field = IndexField(object, k);
      field->installEventFilter(keys);
      QObject::connect(field, &QLineEdit::textEdited, field, [object, k] {
        gCalAngleData.indices[object][k] = GetEditTextFloat(IndexField(object, k));
        CalculateAngle();
      });
    }
  ConnectPaneCommands(window, CalAngleCommand);
  RegisterFloatingWindow({window, &gPrefs.angleWindowBounds, nullptr, UpdateCalAngle, true, {}});
  return 0;
}

int DoCalAngle() {
  if (const int err = InitCalAngle(); err != 0)
    return err;
  UpdateCalAngle();
  gCalAngleWindow->show();
  gCalAngleWindow->raise();
  return 0;
}

void UpdateCalAngle() {
  WindowRef window = FrontRecordWindow();
  if (!window || !gCalAngleWindow)
    return;
  const bool structure = IsWindowFileOpen(window);
  for (QWidget *control : gCalAngleWindow->findChildren<QWidget *>())
    if (ControlID(control) > 0)
      control->setEnabled(structure);
  if (!structure) {
    for (int object = 0; object < 2; ++object)
      for (int k = 0; k < 3; ++k)
        SetEditTextCString(IndexField(object, k), "---");
    SetAngleText("---");
    return;
  }
  const CalAngleData d = gCalAngleData;
  SetCalAngleIndices(d.indices[0][0], d.indices[0][1], d.indices[0][2], 1, d.kind[0]);
  SetCalAngleIndices(d.indices[1][0], d.indices[1][1], d.indices[1][2], 2, d.kind[1]);
}

OSStatus CalAngleCommand(uint32_t command) {
  char chars[5] = {};
  LongToFourChars(command, chars);
  const std::string code = chars;
  WindowRef window = FrontRecordWindow();
  if (code.size() == 4 && code[0] == 'V' && (code[1] == '1' || code[1] == '2') && code[3] == 'A' &&
      code[2] >= 'x' && code[2] <= 'z') {
    if (window) {
      float v[3] = {0.0f, 0.0f, 0.0f};
      v[code[2] - 'x'] = 1.0f;
      SetCalAngleIndices(v[0], v[1], v[2], code[1] - '0', kCalAngleDirection);
    }
    return kEventNotHandledErr;
  }
  if (code == "V1VD" || code == "V2VD" || code == "V1LP" || code == "V2LP") {
    if (window) {
      const CrystalRec *c = GetWindowCrystal(window);
      const bool view = code[2] == 'V';
      const float *v = view ? c->viewDirection : c->plane.hkl;
      SetCalAngleIndices(v[0], v[1], v[2], code[1] - '0', view ? kCalAngleDirection : kCalAnglePlane);
    }
    return kEventNotHandledErr;
  }
  if (code == "Vec1" || code == "Vec2") {
    const int object = code[3] - '1';
    gCalAngleData.kind[object] =
        uint16_t(GetPopupValue(FindControl<QComboBox>(gCalAngleWindow, kKindPopups[object])));
    SetCalAngleTitles(object + 1);
    CalculateAngle();
    return kNoErr;
  }
  if (code == "calA") {
    ExtractIndices();
    const float angle = CalculateAngle();
    std::string line = CalAngleLogLine(gCalAngleData, angle);
    // No angle computed: say so rather than log a zero.
    if (!gAngleComputed)
      line = line.substr(0, line.rfind(" = ")) + " = ---";
    FWriteCFString(line);
    return kNoErr;
  }
  return kEventNotHandledErr;
}

void InstallCalculateAngleWindow() {
  static bool installed = false;
  if (installed)
    return;
  installed = true;
  AddCommandHandler([](uint32_t command, const QVariant &) {
    if (command != kCmdCalculateAngle)
      return kEventNotHandledErr;
    DoCalAngle();
    return kNoErr;
  });
  AddWindowOpener([] {
    if (!gPrefs.angleWindowBounds.IsEmpty())
      DoCalAngle();
  });
}
