#include "ViewDirection.h"

#include "MainWindow.h"
#include "SmallSheet.h"
#include "WindowInput.h"
#include "shell/Commands.h"
#include "shell/Forms.h"
#include "shell/UneditedFields.h"
#include "ui_ViewDirection.h"

#include "Alerts.h"
#include "Geometry.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "ViewOrientation.h"
#include "render/OffScreen.h"
#include "window/MainWindowData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <cmath>
#include <cstdio>
#include <string>

const float gViewDirectionContraints[kNumViewDirectionContraints][6] = {
    {1, 0, 0, 0, 0, 1}, {0, 1, 0, 0, 0, 1}, {0, 0, 1, 0, 1, 0}, {0, 1, 1, 1, 0, 0},
    {1, 0, 1, 0, 1, 0}, {1, 1, 0, 0, 0, 1}, {1, 1, 1, 0, 0, 1},
};

const PresetViewRecord gPresetViews[kNumPresetViews] = {
    {FourCharsToLong("V100"), {1, 0, 0}, 1, {0, 0, 1}}, {FourCharsToLong("V010"), {0, 1, 0}, 1, {0, 0, 1}},
    {FourCharsToLong("V001"), {0, 0, 1}, 1, {0, 1, 0}}, {FourCharsToLong("V011"), {0, 1, 1}, 1, {1, 0, 0}},
    {FourCharsToLong("V101"), {1, 0, 1}, 1, {0, 1, 0}}, {FourCharsToLong("V110"), {1, 1, 0}, 1, {0, 0, 1}},
    {FourCharsToLong("V111"), {1, 1, 1}, 1, {0, 0, 1}}, {FourCharsToLong("P100"), {1, 0, 0}, 0, {0, 0, 1}},
    {FourCharsToLong("P010"), {0, 1, 0}, 0, {0, 0, 1}}, {FourCharsToLong("P001"), {0, 0, 1}, 0, {0, 1, 0}},
    {FourCharsToLong("Pdsp"), {0, 0, 0}, 0, {0, 0, 0}},
};

bool gShowVertDirection = true;

namespace {

constexpr uint32_t kCmdDisplayedPlane = FourCharsToLong("Pdsp");
// "%f" (or another format) without trailing zeros or a bare point.
QString Trimmed(const char *format, float value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  std::string s = text;
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0')
      s.pop_back();
    if (!s.empty() && s.back() == '.')
      s.pop_back();
  }
  if (s == "-0")
    s = "0";
  return QString::fromStdString(s);
}

float AbsSum(const float v[3]) { return std::fabs(v[0]) + std::fabs(v[1]) + std::fabs(v[2]); }

class ViewDirectionSheet : public SmallSheet {
public:
  ViewDirectionSheet(WindowRef window, QWidget *parent, const float planeIndices[3], bool basic)
      : SmallSheet(parent), window_(window) {
    ui_.setupUi(this);
    std::copy_n(planeIndices, 3, hkl_);
    groupHeight_ = FindControl(this, 20)->height();
    JoinButtonsAndArrows({});
    auto *presets = new QMenu(this);
    for (const PresetViewRecord &p : gPresetViews) {
      const CommandInfo *info = FindCommandInfo(p.command);
      presets->addAction(info ? QString::fromUtf8(info->title) : tr("Displayed Plane"))->setData(p.command);
    }
    FindControl<QToolButton>(this, 14)->setMenu(presets);
    connect(presets, &QMenu::triggered, this,
            [this](QAction *a) { ViewDirectionSheetCommand(this, a->data().toUInt()); });
    auto *verticals = new QMenu(this);
    for (const char *code : {"v001", "v010", "v100"})
      verticals->addAction(QString("[%1]").arg(code + 1))->setData(FourCharsToLong(code));
    FindControl<QToolButton>(this, 28)->setMenu(verticals);
    connect(verticals, &QMenu::triggered, this,
            [this](QAction *a) { ViewDirectionSheetCommand(this, a->data().toUInt()); });
    connect(Type(), &QComboBox::currentIndexChanged, this,
            [this] { ViewDirectionSheetCommand(this, FourCharsToLong("tTyp")); });
    connect(Vertical(), &QCheckBox::toggled, this,
            [this] { ViewDirectionSheetCommand(this, FourCharsToLong("tVrt")); });
    if (basic) {
      for (int id : {19, 20})
        FindControl(this, id)->hide();
      resize(width(), height() - groupHeight_ - Vertical()->height());
    }
  }

  QComboBox *Type() { return FindControl<QComboBox>(this, 15); }
  QCheckBox *Vertical() { return FindControl<QCheckBox>(this, 19); }
  QLineEdit *Field(int id) { return FindControl<QLineEdit>(this, id); }

  // The fields as the sheet opens: the structure's own values, kept exactly
  // by OK while their text is left alone.
  void ShowStoredDirections(const float vector[3], const float *vertical) {
    for (int k = 0; k < 3; ++k) {
      ShowStoredValue(Field(11 + k), Trimmed("%f", vector[k]), vector[k]);
      if (vertical)
        ShowStoredValue(Field(21 + k), Trimmed("%.5f", vertical[k]), vertical[k]);
    }
    const QSignalBlocker quiet(Type());
    Type()->setCurrentIndex(0);
    SetViewDirectionTitles(1);
  }
  void SetViewDirectionFields(const float vector[3], bool isDirection) {
    for (int k = 0; k < 3; ++k)
      Field(11 + k)->setText(Trimmed("%f", vector[k]));
    const QSignalBlocker quiet(Type());
    Type()->setCurrentIndex(isDirection ? 0 : 1);
    SetViewDirectionTitles(isDirection ? 1 : 2);
  }
  void SetVertDirectionFields(const float vertical[3]) {
    for (int k = 0; k < 3; ++k)
      Field(21 + k)->setText(Trimmed("%.5f", vertical[k]));
  }
  void SetViewDirectionTitles(int type) {
    static const char *const kTitles[2][3] = {{"U", "V", "W"}, {"h", "k", "l"}};
    for (int k = 0; k < 3; ++k)
      FindControl<QLabel>(this, 16 + k)->setText(kTitles[type == 2 ? 1 : 0][k]);
  }
  void Toggle(bool show) {
    QWidget *group = FindControl(this, 20);
    if (show && group->isHidden()) {
      resize(width(), height() + groupHeight_);
      group->show();
    } else if (!show && !group->isHidden()) {
      group->hide();
      resize(width(), height() - groupHeight_);
    }
    const QSignalBlocker quiet(Vertical());
    Vertical()->setChecked(show);
    gShowVertDirection = show;
  }

  int32_t SheetCommand(uint32_t command) override {
    float vector[3], vertical[3];
    bool isDirection = true;
    if (command == kCmdSheetHelp) {
      MyOpenHelpPage("pages/ViewDirection.html");
      return kNoErr;
    }
    if (command == kCmdSheetOk)
      return Ok();
    const struct {
      const char *code, *preset;
    } quick[] = {{"Vue1", "V111"}, {"VueA", "V100"}, {"VueB", "V010"}, {"VueC", "V001"}};
    for (const auto &q : quick)
      if (command == FourCharsToLong(q.code)) {
        FindPresetWithCommandID(FourCharsToLong(q.preset), vector, vertical, &isDirection);
        Apply(vector, isDirection, vertical);
        return kNoErr;
      }
    if (command == FourCharsToLong("tTyp")) {
      SetViewDirectionTitles(Type()->currentIndex() + 1);
      return kNoErr;
    }
    if (command == FourCharsToLong("tVrt")) {
      Toggle(Vertical()->isChecked());
      return kNoErr;
    }
    if (command == kCmdDisplayedPlane) {
      SetViewDirectionFields(hkl_, false);
      return kNoErr;
    }
    if (FindPresetWithCommandID(command, vector, vertical, &isDirection)) {
      SetViewDirectionFields(vector, isDirection);
      SetVertDirectionFields(vertical);
      return kNoErr;
    }
    for (const char *code : {"v001", "v010", "v100"})
      if (command == FourCharsToLong(code)) {
        const float v[3] = {float(code[1] - '0'), float(code[2] - '0'), float(code[3] - '0')};
        SetVertDirectionFields(v);
        return kNoErr;
      }
    return kEventNotHandledErr;
  }

private:
  int32_t Ok() {
    // Left as it opened, the sheet changes nothing.
    bool edited = Type()->currentIndex() != 0;
    for (int id : {11, 12, 13, 21, 22, 23})
      edited = edited || ControlEdited(Field(id));
    if (!edited) {
      close();
      return kNoErr;
    }
    float vector[3];
    for (int k = 0; k < 3; ++k)
      vector[k] = StoredUnlessEdited(Field(11 + k), Field(11 + k)->text().trimmed().toFloat());
    const bool isDirection = Type()->currentIndex() == 0;
    float vertical[3] = {0, 0, 1};
    if (AbsSum(vector) > 0.0f)
      for (int k = 0; k < 3; ++k) {
        bool ok = false;
        const float value = Field(21 + k)->text().trimmed().toFloat(&ok);
        if (ok)
          vertical[k] = StoredUnlessEdited(Field(21 + k), value);
      }
    if (!(AbsSum(vector) > 0.0f) || !(AbsSum(vertical) > 0.0f) || !std::isfinite(AbsSum(vector)) ||
        !std::isfinite(AbsSum(vertical))) {
      MyCFCautionAlert("Illegal direction indices!", "You must enter real numbers or integers in each field.");
      return kNoErr;
    }
    Apply(vector, isDirection, vertical);
    return kNoErr;
  }
  // Closes the sheet, then changes the view.
  void Apply(float vector[3], bool isDirection, const float vertical[3]) {
    WindowRef window = window_;
    close();
    if (GetMainWindow(window))
      DoSetViewDirection(window, vector, isDirection, vertical);
  }

  WindowRef window_;
  Ui::ViewDirection ui_;
  float hkl_[3] = {0, 0, 0};
  int groupHeight_ = 0;
};

ViewDirectionSheet *Open(WindowRef window, const float viewDirection[3], const float *vertical,
                         const float planeIndices[3], bool basic) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return nullptr;
  auto *sheet = new ViewDirectionSheet(window, w, planeIndices, basic);
  sheet->ShowStoredDirections(viewDirection, vertical);
  sheet->open();
  sheet->Field(11)->setFocus();
  SetCocoaCursor(kArrowCursor);
  return sheet;
}

} // namespace

void DoViewAlongSelection(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c || CountNumSelectedAtoms(c) < 2)
    return;
  int32_t picked[2] = {-1, -1};
  int found = 0;
  const size_t sorted = UsableRecords(c->sortIndex.size(), c->sortIndexCount);
  for (size_t k = 0; k < sorted && found < 2; ++k) {
    const SortIndexEntry &e = c->sortIndex[k];
    if (e.kind == kSortItemAtom && e.index < c->atoms.size() && c->atoms[e.index].selected)
      picked[found++] = static_cast<int32_t>(e.index);
  }
  if (found < 2)
    return;
  const AtomRecord &a = c->atoms[picked[0]], &b = c->atoms[picked[1]];
  float d[3];
  VecDiff(b.xyz, a.xyz, d);
  if (!(AbsSum(d) > 0.0f)) {
    SysBeep();
    return;
  }
  char line[256];
  std::snprintf(line, sizeof line, "Setting view direction parallel to %s -> %s vector [%.4f %.4f %.4f]",
                c->sites[a.site].label, c->sites[b.site].label, d[0], d[1], d[2]);
  FWrite(line);
  std::copy_n(d, 3, c->viewDirection);
  NewPlot(window, true, false);
}

void DoSetViewDirection(WindowRef window, float vector[3], bool isDirection, const float vertical[3]) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  if (!isDirection) {
    float uvw[3];
    Plane2Vector(c, vector, uvw);
    std::copy_n(uvw, 3, vector);
  }
  float O[9];
  if (!GetOrientationMatrixWithVertical(vector, vertical, c->metricTensor, O) || !ApplyOrientationMatrix(c, O))
    return;
  PlotCrystal(window, 1);
}

void DoSetViewDirectionFromMenu(WindowRef window, float u, float v, float w, bool isDirection) {
  float vector[3] = {u, v, w};
  float vertical[3] = {0, 0, 1};
  for (const float *row : gViewDirectionContraints)
    if (row[0] == u && row[1] == v && row[2] == w) {
      std::copy_n(row + 3, 3, vertical);
      break;
    }
  DoSetViewDirection(window, vector, isDirection, vertical);
}

bool FindPresetWithCommandID(uint32_t command, float vector[3], float vertical[3], bool *isDirection) {
  for (const PresetViewRecord &p : gPresetViews)
    if (p.command == command) {
      std::copy_n(p.vector, 3, vector);
      std::copy_n(p.vertical, 3, vertical);
      *isDirection = p.isDirection != 0;
      return true;
    }
  return false;
}

QDialog *ShowViewDirectionSheet(WindowRef window, const float viewDirection[3], const float vertical[3],
                                const float planeIndices[3]) {
  ViewDirectionSheet *sheet = Open(window, viewDirection, vertical, planeIndices, false);
  if (!sheet)
    return nullptr;
  if (!gShowVertDirection)
    sheet->Toggle(false);
  else
    sheet->Toggle(true);
  return sheet;
}

QDialog *ShowViewDirectionBasicSheet(WindowRef window, const float viewDirection[3]) {
  const float none[3] = {0, 0, 0};
  return Open(window, viewDirection, nullptr, none, true);
}

int32_t ViewDirectionSheetCommand(QDialog *sheet, uint32_t command) {
  auto *s = dynamic_cast<SmallSheet *>(sheet);
  return s ? s->Command(command) : kEventNotHandledErr;
}

void ToggleVertDirection(QDialog *sheet, bool show) {
  if (auto *s = dynamic_cast<ViewDirectionSheet *>(sheet))
    s->Toggle(show);
}

void InstallViewDirectionCommands() {
  AddCommandHandler(
      [](uint32_t command, const QVariant &) -> OSStatus {
        WindowRef window = FrontGraphWindow();
        if (command == FourCharsToLong("VASl")) {
          DoViewAlongSelection(window);
          return kNoErr;
        }
        float vector[3], vertical[3];
        bool isDirection = true;
        if (command == kCmdDisplayedPlane || !FindPresetWithCommandID(command, vector, vertical, &isDirection))
          return kEventNotHandledErr;
        DoSetViewDirectionFromMenu(window, vector[0], vector[1], vector[2], isDirection);
        return kNoErr;
      },
      [](uint32_t command, QAction *action) -> OSStatus {
        float vector[3], vertical[3];
        bool isDirection = true;
        const CrystalRec *c = GetWindowCrystal(FrontGraphWindow());
        if (command == FourCharsToLong("VASl")) {
          action->setEnabled(c && CountNumSelectedAtoms(c) >= 2);
          return kNoErr;
        }
        if (command == FourCharsToLong("VwPr") ||
            (command != kCmdDisplayedPlane && FindPresetWithCommandID(command, vector, vertical, &isDirection))) {
          action->setEnabled(c && IsWindowFileOpen(FrontGraphWindow()));
          return kNoErr;
        }
        return kEventNotHandledErr;
      });
}
