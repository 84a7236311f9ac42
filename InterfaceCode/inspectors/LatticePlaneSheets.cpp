#include "inspectors/LatticePlaneSheets.h"

#include "editing/TransformCommands.h"
#include "inspectors/AngleDialogs.h"
#include "inspectors/InspectorKit.h"
#include "shell/Forms.h"
#include "shell/UneditedFields.h"
#include "structurewindow/MainWindow.h"
#include "ui_LatticePlane.h"
#include "ui_SliceModel.h"

#include "Geometry.h"
#include "SelectionCommands.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "Utilities.h"
#include "window/MainWindowData.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QSlider>
#include <cmath>
#include <cstdio>

std::string DSpacingText(const CrystalRec *crystal, float h, float k, float l) {
  if (!crystal || crystal->molecule || !(std::fabs(h) + std::fabs(k) + std::fabs(l) > 0.0f))
    return "---";
  char text[64];
  std::snprintf(text, sizeof text, "%.4f Å", double(DSpace(crystal, h, k, l)));
  return text;
}

bool ParsePresetPlane(const std::string &text, int *h, int *k, int *l) {
  std::string digits = text.substr(0, 255);
  for (char &ch : digits)
    if (ch != '-' && (ch < '0' || ch > '9'))
      ch = ' ';
  return std::sscanf(digits.c_str(), "%d%d%d", h, k, l) == 3;
}

namespace {

constexpr int kIndexFields[3] = {1, 2, 3};
constexpr int kDSpacing = 4, kColourButton = 6, kOpacitySlider = 7, kPreview = 9, kOKButton = 10, kPresets = 14,
              kColourPresets = 21;
constexpr uint16_t kPlaneColourPrefix = TwoCharsToShort("CC");

class LatticePlaneSheet : public QDialog {
public:
  LatticePlaneSheet(WindowRef window, const LatticePlaneSheetRecord &record)
      : QDialog(GetMainWindow(window)), window_(window), record_(record) {
    form_.setupUi(this);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    for (int id : {1, 2, 3, kDSpacing, kColourButton, kOpacitySlider, kPreview, kOKButton, kPresets, kColourPresets})
      if (!FindControl(this, id))
        return;
    if (const CrystalRec *c = GetWindowCrystal(window))
      background_ = c->backgroundColor;
    for (int i = 0; i < 3; ++i)
      ShowStoredValue(Field(i), QString::fromStdString(MyTrimSprintf("%.3f", double(record_.hkl[i]))), record_.hkl[i]);
    presets_ = InitPopupColorMenu(FindControl<QComboBox>(this, kColourPresets), kPlaneColourPrefix,
                                  [this](uint32_t command) { return Command(command); });
    FindControl<ColorButton>(this, kColourButton)->SetColorSource([this] { return record_.colour; });
    auto *slider = FindControl<QSlider>(this, kOpacitySlider);
    ShowStoredValue(slider, int(record_.opacity * 100.0f), record_.opacity);
    connect(slider, &QSlider::valueChanged, this, [this, slider](int value) {
      record_.opacity = StoredUnlessEdited(slider, float(value) * 0.01f);
      FindControl(this, kPreview)->update();
    });
    FindControl(this, kPreview)->installEventFilter(this);
    for (int i = 0; i < 3; ++i)
      connect(Field(i), &QLineEdit::textEdited, this, [this] { DoLatticePlaneTextChanged(); });
    ConnectPaneCommands(this, [this](uint32_t command) { return Command(command); });
    Field(0)->setFocus();
    DoLatticePlaneTextChanged();
    loaded_ = true;
  }
  bool Loaded() const { return loaded_; }

  void DoLatticePlaneTextChanged() {
    for (int i = 0; i < 3; ++i)
      record_.hkl[i] = StoredUnlessEdited(Field(i), GetEditTextFloat(Field(i)));
    const float s = std::fabs(record_.hkl[0]) + std::fabs(record_.hkl[1]) + std::fabs(record_.hkl[2]);
    if (s > 0.0f && !GetWindowCrystal(window_))
      return;
    FindControl<QLabel>(this, kDSpacing)
        ->setText(QString::fromStdString(
            DSpacingText(GetWindowCrystal(window_), record_.hkl[0], record_.hkl[1], record_.hkl[2])));
    // Indices a document keeps, not all zero.
    bool kept = s > 0.0f;
    for (float index : record_.hkl)
      kept = kept && index >= stored::kMillerIndex.low && index <= stored::kMillerIndex.high;
    FindControl(this, kOKButton)->setEnabled(kept);
  }

  OSStatus Command(uint32_t command) {
    uint16_t prefix = 0;
    int item = 0;
    if (command == FourCharsToLong("coLp")) {
      RGBColor chosen;
      if (GetColor("", record_.colour, &chosen))
        record_.colour = chosen;
      Redraw();
      return kNoErr;
    }
    if (command == FourCharsToLong("mHKL")) {
      auto *popup = FindControl<QComboBox>(this, kPresets);
      const std::string text = popup->currentText().toStdString();
      popup->setCurrentIndex(0); // the pop-up goes back to its title
      int h = 0, k = 0, l = 0;
      if (ParsePresetPlane(text, &h, &k, &l)) {
        const int v[3] = {h, k, l};
        for (int i = 0; i < 3; ++i)
          SetEditTextCString(Field(i), MyTrimSprintf("%f", double(v[i])));
        DoLatticePlaneTextChanged();
      }
      return kNoErr;
    }
    if (GetIndexFromColorMenuCommand(command, &prefix, &item) && prefix == kPlaneColourPrefix) {
      if (item >= 1 && size_t(item) <= presets_.size())
        record_.colour = presets_[size_t(item) - 1];
      Redraw();
      return kNoErr;
    }
    const OSStatus result = CloseOnOKOrCancel(*this, command, true, nullptr);
    if (command == FourCharsToLong("ok  ") && !(PlaneShown() && Unchanged()))
      DoShowLatticePlane(window_, record_);
    return result;
  }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() != QEvent::Paint || watched != FindControl(this, kPreview))
      return false;
    auto *view = static_cast<QWidget *>(watched);
    QPainter p(view);
    const QRect r = view->rect();
    p.fillRect(r, Qt::white);
    if (view->isEnabled()) {
      auto colour = [](RGBColor c, float alpha) {
        return QColor::fromRgbF(c.red / 65535.0f, c.green / 65535.0f, c.blue / 65535.0f, alpha);
      };
      p.fillRect(QRect(r.x(), r.y(), r.width() / 2, r.height()), colour(background_, 1.0f));
      p.fillRect(r.adjusted(10, 10, -10, -10), colour(record_.colour, record_.opacity));
    }
    p.setPen(QColor::fromRgbF(0.5, 0.5, 0.5));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    return true;
  }

private:
  QLineEdit *Field(int i) { return FindControl<QLineEdit>(this, kIndexFields[i]); }
  bool PlaneShown() {
    const CrystalRec *c = GetWindowCrystal(window_);
    return c && c->plane.shown;
  }
  // Nothing edited since the sheet opened: OK then leaves a plane on show as
  // it stands.
  bool Unchanged() {
    if (!(record_.colour == openingColour_) || ControlEdited(FindControl(this, kOpacitySlider)))
      return false;
    for (int i = 0; i < 3; ++i)
      if (ControlEdited(Field(i)))
        return false;
    return true;
  }
  void Redraw() {
    FindControl(this, kColourButton)->update();
    FindControl(this, kPreview)->update();
  }
  WindowRef window_;
  LatticePlaneSheetRecord record_;
  RGBColor openingColour_ = record_.colour;
  RGBColor background_;
  std::vector<RGBColor> presets_;
  Ui::LatticePlane form_;
  bool loaded_ = false;
};

class SliceModelSheet : public QDialog {
public:
  explicit SliceModelSheet(WindowRef window) : QDialog(GetMainWindow(window)), window_(window) {
    form_.setupUi(this);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    ConnectPaneCommands(this, [this](uint32_t command) { return Command(command); });
  }
  OSStatus Command(uint32_t command) {
    const bool above = command == FourCharsToLong("HdAb"), below = command == FourCharsToLong("HdBl");
    if (!above && !below)
      return CloseOnOKOrCancel(*this, command, true, nullptr);
    reject();
    if (above) {
      DoHideSelectedAtoms(window_);
    } else {
      HideOtherAtoms(window_);
      DoDeselectEntirePlot(window_);
    }
    ShowHideLatticePlane(window_, false);
    return kNoErr;
  }

private:
  WindowRef window_;
  Ui::SliceModel form_;
};

} // namespace

QDialog *ShowLatticePlaneSheet(WindowRef window, const LatticePlaneSheetRecord &record) {
  if (!GetMainWindow(window))
    return nullptr;
  auto *sheet = new LatticePlaneSheet(window, record);
  if (!sheet->Loaded()) {
    delete sheet;
    return nullptr;
  }
  sheet->open();
  return sheet;
}

QDialog *ShowSliceModelSheet(WindowRef window) {
  if (!GetMainWindow(window))
    return nullptr;
  auto *sheet = new SliceModelSheet(window);
  sheet->open();
  return sheet;
}

void InstallLatticePlaneSheets() {
  gTransformCommandHooks.showLatticePlaneSheet = [](WindowRef window, const LatticePlaneSheetRecord &record) {
    ShowLatticePlaneSheet(window, record);
  };
  gTransformCommandHooks.showSliceModelSheet = [](WindowRef window) { ShowSliceModelSheet(window); };
}
