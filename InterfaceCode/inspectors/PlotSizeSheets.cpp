#include "inspectors/PlotSizeSheets.h"

#include "inspectors/AngleDialogs.h"
#include "inspectors/InspectorKit.h"
#include "shell/Forms.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "ui_PlotScale.h"
#include "ui_PlotSize.h"

#include "Alerts.h"
#include "PlotRange.h"
#include "RenderServices.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <algorithm>
#include <cmath>

uint16_t gPlotSizeHUnitsChoice = kUnitPixels, gPlotSizeVUnitsChoice = kUnitPixels;
uint8_t gPlotSizeApplyAllWindows = 0;

double PixelsToUnits(double pixels, uint16_t units) {
  switch (units) {
  case kUnitCentimetres: return pixels * 2.54 / 72.0;
  case kUnitMillimetres: return pixels * 25.4 / 72.0;
  case kUnitInches: return pixels / 72.0;
  default: return pixels;
  }
}

double UnitsToPixels(double value, uint16_t units) {
  switch (units) {
  case kUnitCentimetres: return value * 72.0 / 2.54;
  case kUnitMillimetres: return value * 72.0 / 25.4;
  case kUnitInches: return value * 72.0;
  default: return value;
  }
}

std::string PlotSizeFieldText(double value, uint16_t units) {
  char text[64];
  std::snprintf(text, sizeof text, units == kUnitPixels ? "%.0f" : "%.2f", value);
  return text;
}

std::string ZoomText(const PlotScaleRecord &record) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f%%", double(record.scale / record.startingScale * 100.0f));
  return text;
}

bool PlotScaleAcceptable(float scale) { return scale > kPlotScaleSheetMin && scale < kPlotScaleSheetMax; }

float StepPlotScale(float scale, int part) {
  const float next = std::fabs(scale) + (part == kControlDownButtonPart ? -0.1f : 0.1f);
  return std::clamp(next, kPlotScaleSheetMin, kPlotScaleSheetMax);
}

namespace {

// A sheet over a structure window, built from its form: OK checks the
// fields and applies them once the sheet has closed; Cancel closes it.
template <typename Form> class Sheet : public QDialog {
public:
  Sheet(WindowRef window) : QDialog(GetMainWindow(window)), window_(window) {
    form_.setupUi(this);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
  }
  void Connect() {
    ConnectPaneCommands(this, [this](uint32_t command) { return Command(command); });
  }
  OSStatus Command(uint32_t command) {
    const bool ok = command == FourCharsToLong("ok  ");
    const bool valid = ok && Validate();
    const OSStatus result = CloseOnOKOrCancel(*this, command, valid, nullptr);
    if (valid)
      Apply();
    return result == kEventNotHandledErr ? Other(command) : result;
  }

protected:
  // Reads the fields into the record; false, after an alert, when they do not do.
  virtual bool Validate() = 0;
  virtual void Apply() = 0;
  virtual OSStatus Other(uint32_t) { return kEventNotHandledErr; }
  WindowRef window_;
  Form form_;
};

class PlotScaleSheet : public Sheet<Ui::PlotScale> {
public:
  PlotScaleSheet(WindowRef window, const PlotScaleRecord &record) : Sheet(window), record_(record) {
    // The stored scale as it reads back, so that OK on it unchanged keeps it.
    SetEditTextCString(Field(), StoredValueText(record_.scale, 2));
    Field()->setFocus();
    Field()->selectAll();
    ShowZoomAmount();
    connect(Field(), &QLineEdit::textEdited, this, [this] {
      record_.scale = GetEditTextFloat(Field());
      ShowZoomAmount();
    });
    auto *arrows = FindControl<LittleArrows>(this, 2);
    connect(arrows, &LittleArrows::Stepped, this, [this](int part) {
      record_.scale = StepPlotScale(GetEditTextFloat(Field()), part);
      SetEditTextCString(Field(), Format("%.2f", record_.scale));
      ShowZoomAmount();
    });
    Connect();
  }
  bool Validate() override {
    record_.scale = GetEditTextFloat(Field());
    if (PlotScaleAcceptable(record_.scale))
      return true;
    char explanation[128];
    std::snprintf(explanation, sizeof explanation, "Scale must lie in the range %.2f - %.0f pixels/Angstrom!",
                  double(kPlotScaleSheetMin), double(kPlotScaleSheetMax));
    MyCFCautionAlert("Please enter a valid scale", explanation);
    return false;
  }
  void Apply() override { DoSetPlotScale(window_, record_); }

private:
  static std::string Format(const char *format, float v) {
    char text[64];
    std::snprintf(text, sizeof text, format, double(v));
    return text;
  }
  QLineEdit *Field() { return FindControl<QLineEdit>(this, 1); }
  void ShowZoomAmount() { FindControl<QLabel>(this, 3)->setText(QString::fromStdString(ZoomText(record_))); }
  PlotScaleRecord record_;
};

class PlotSizeSheet : public Sheet<Ui::PlotSize> {
public:
  PlotSizeSheet(WindowRef window, const PlotSizeRecord &record) : Sheet(window), record_(record) {
    FindControl<QCheckBox>(this, 5)->setChecked(record_.applyToAll);
    SetPopupValue(Popup(2), record_.widthUnits);
    SetPopupValue(Popup(4), record_.heightUnits);
    SetEditTextCString(Field(1), PlotSizeFieldText(PixelsToUnits(record_.width, record_.widthUnits), record_.widthUnits));
    SetEditTextCString(Field(3),
                       PlotSizeFieldText(PixelsToUnits(record_.height, record_.heightUnits), record_.heightUnits));
    Field(1)->setFocus();
    Field(1)->selectAll();
    Connect();
  }
  OSStatus Other(uint32_t command) override {
    if (command != FourCharsToLong("mUnH") && command != FourCharsToLong("mUnV"))
      return kEventNotHandledErr;
    const bool width = command == FourCharsToLong("mUnH");
    uint16_t &units = width ? record_.widthUnits : record_.heightUnits;
    QLineEdit *field = Field(width ? 1 : 3);
    const uint16_t next = uint16_t(GetPopupValue(Popup(width ? 2 : 4)));
    const double pixels = UnitsToPixels(GetEditTextFloat(field), units);
    SetEditTextCString(field, PlotSizeFieldText(PixelsToUnits(pixels, next), next));
    units = next;
    return kEventNotHandledErr;
  }
  bool Validate() override {
    record_.applyToAll = FindControl<QCheckBox>(this, 5)->isChecked();
    const float width = float(UnitsToPixels(GetEditTextFloat(Field(1)), record_.widthUnits));
    const float height = float(UnitsToPixels(GetEditTextFloat(Field(3)), record_.heightUnits));
    char explanation[160];
    if (width < kMinPlotSize || height < kMinPlotSize) {
      std::snprintf(explanation, sizeof explanation,
                    "The minimum window size is %d x %d pixels. Please enter larger values.", kMinPlotSize,
                    kMinPlotSize);
      MyCFCautionAlert("Sorry, your window dimensions were too small.", explanation);
      return false;
    }
    const QScreen *screen = GetMainWindow(window_) ? GetMainWindow(window_)->screen() : nullptr;
    const QRect area = (screen ? screen : QGuiApplication::primaryScreen())->availableGeometry();
    if (width > area.width() || height > area.height()) {
      std::snprintf(explanation, sizeof explanation,
                    "The maximum window size for this screen is %.0f x %.0f pixels. Please enter smaller values",
                    double(area.width()), double(area.height()));
      MyCFCautionAlert("Sorry, your window dimensions were too large to fit on the screen", explanation);
      return false;
    }
    // Rounded only once the checks have passed: the values then fit.
    record_.width = int16_t(std::lround(width));
    record_.height = int16_t(std::lround(height));
    return true;
  }
  void Apply() override { DoSetPlotSize(window_, record_); }

private:
  QLineEdit *Field(int id) { return FindControl<QLineEdit>(this, id); }
  QComboBox *Popup(int id) { return FindControl<QComboBox>(this, id); }
  PlotSizeRecord record_;
};

template <typename T, typename Record> QDialog *Open(WindowRef window, const Record &record, std::initializer_list<int> ids) {
  if (!GetMainWindow(window))
    return nullptr;
  auto *sheet = new T(window, record);
  for (int id : ids)
    if (!FindControl(sheet, id)) {
      delete sheet;
      return nullptr;
    }
  sheet->open();
  return sheet;
}

} // namespace

QDialog *ShowPlotScaleSheet(WindowRef window, const PlotScaleRecord &record) {
  return Open<PlotScaleSheet>(window, record, {1, 2, 3});
}

QDialog *ShowPlotSizeSheet(WindowRef window, const PlotSizeRecord &record) {
  return Open<PlotSizeSheet>(window, record, {1, 2, 3, 4, 5});
}

QDialog *DoShowPlotScaleSheet(WindowRef window) {
  const CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!c || !IsWindowFileOpen(window))
    return nullptr;
  return ShowPlotScaleSheet(window, PlotScaleRecord{c->plotScale, c->plotScale});
}

QDialog *DoShowPlotSizeSheet(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return nullptr;
  PlotSizeRecord r;
  r.width = r.startingWidth = int16_t(w->GraphPane()->width());
  r.height = r.startingHeight = int16_t(w->GraphPane()->height());
  r.widthUnits = gPlotSizeHUnitsChoice;
  r.heightUnits = gPlotSizeVUnitsChoice;
  r.applyToAll = gPlotSizeApplyAllWindows;
  return ShowPlotSizeSheet(window, r);
}

void DoSetPlotScale(WindowRef window, const PlotScaleRecord &record) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (c && record.scale != record.startingScale && DoChangePlotScale(c, record.scale))
    NewPlot(window, false, true);
}

void DoSetPlotSize(WindowRef window, const PlotSizeRecord &record) {
  gPlotSizeHUnitsChoice = record.widthUnits;
  gPlotSizeVUnitsChoice = record.heightUnits;
  gPlotSizeApplyAllWindows = record.applyToAll;
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return;
  if (record.width != record.startingWidth || record.height != record.startingHeight)
    SetGraphPaneSize(window, record.width, record.height);
  if (!record.applyToAll || AllGraphWindows().size() < 2)
    return;
  const QSize port = w->Content()->size();
  for (MainWindow *other : std::vector<MainWindow *>(AllGraphWindows()))
    if (other != w)
      other->ResizeContent(port.width(), port.height());
  BringGraphWindowToFront(w);
}

void InstallPlotSizeSheets() {
  static bool installed = false;
  if (installed)
    return;
  installed = true;
  AddCommandHandler(
      [](uint32_t command, const QVariant &) {
        if (command == kCmdPlotSize)
          DoShowPlotSizeSheet(FrontGraphWindow());
        else if (command == kCmdPlotScale)
          DoShowPlotScaleSheet(FrontGraphWindow());
        else
          return kEventNotHandledErr;
        return kNoErr;
      },
      [](uint32_t command, QAction *action) {
        if (command != kCmdPlotSize && command != kCmdPlotScale)
          return kEventNotHandledErr;
        WindowRef window = FrontGraphWindow();
        action->setEnabled(window && (command == kCmdPlotSize || IsWindowFileOpen(window)));
        return kNoErr;
      });
}
