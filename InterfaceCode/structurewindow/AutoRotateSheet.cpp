// The Auto Rotate sheet: a window-modal dialog over the structure window;
// the rotation starts only once the sheet has closed with valid values.
#include "AutoRotate.h"

#include "MainWindow.h"
#include "shell/Forms.h"
#include "shell/UneditedFields.h"
#include "ui_AutoRotate.h"

#include "Alerts.h"
#include "HostServices.h"
#include "StructureArrays.h"
#include "ViewOrientation.h"
#include "window/MainWindowData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <cmath>

namespace {

constexpr float kArrowStep = 0.1f;

class AutoRotateSheet : public QDialog {
public:
  AutoRotateSheet(WindowRef window, QWidget *parent) : QDialog(parent), window_(window), record_(gSaveAutoRotate) {
    ui_.setupUi(this);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    Combo(1)->setCurrentIndex(record_.mode == 2 ? 1 : 0);
    Check(19)->setChecked(record_.oneTurn);
    Check(5)->setChecked(record_.useX);
    Check(9)->setChecked(record_.useY);
    Check(13)->setChecked(record_.useZ);
    SetField(3, record_.rockLimit);
    SetField(7, record_.angleX);
    SetField(11, record_.angleY);
    SetField(15, record_.angleZ);
    ShowMode();
    for (int box : {5, 9, 13})
      FindControl(this, box + 1)->setVisible(Check(box)->isChecked());

    connect(Combo(1), &QComboBox::currentIndexChanged, this, [this] { ModeChanged(); });
    connect(Check(19), &QCheckBox::toggled, this, [this](bool on) { record_.oneTurn = on; });
    for (int box : {5, 9, 13})
      connect(Check(box), &QCheckBox::toggled, this, [this, box](bool on) {
        (box == 5 ? record_.useX : box == 9 ? record_.useY : record_.useZ) = on;
        FindControl(this, box + 1)->setVisible(on);
      });
    for (int field : {3, 7, 11, 15}) {
      auto *arrows = FindControl<QSpinBox>(this, field + 1);
      arrows->setProperty("last", arrows->value());
      connect(arrows, &QSpinBox::valueChanged, this, [this, arrows, field](int value) {
        const int last = arrows->property("last").toInt();
        arrows->setProperty("last", value);
        Arrow(field, value > last ? kArrowStep : -kArrowStep);
      });
    }
    connect(ui_.okButton, &QPushButton::clicked, this, [this] { Ok(); });
    connect(ui_.cancelButton, &QPushButton::clicked, this, [this] { reject(); });
  }

  void Ok() {
    if (ExtractAutoRotate(this, &record_) != 0)
      return;
    const AutoRotateSheetRecord r = record_;
    WindowRef window = window_;
    accept();
    // The rotation starts once the sheet is gone.
    QTimer::singleShot(0, [window, r] {
      if (!GetMainWindow(window))
        return;
      const bool rock = r.mode == 2;
      DoAutoRotate(window, r.useX && !rock ? r.angleX : 0, r.useY ? r.angleY : 0, r.useZ && !rock ? r.angleZ : 0,
                   r.oneTurn, rock, r.rockLimit);
    });
  }

private:
  QComboBox *Combo(int id) { return FindControl<QComboBox>(this, id); }
  QCheckBox *Check(int id) { return FindControl<QCheckBox>(this, id); }
  void SetField(int id, float value) {
    ShowStoredValue(FindControl<QLineEdit>(this, id), QString::fromStdString(FormatAutoRotateAngle(value)), value);
  }
  float Field(int id) {
    auto *field = FindControl<QLineEdit>(this, id);
    QString text = field->text();
    text.remove(QChar(0x00B0));
    return StoredUnlessEdited(field, text.trimmed().toFloat());
  }

  void ShowMode() {
    const bool rock = record_.mode == 2;
    Check(19)->setVisible(!rock);
    FindControl(this, 2)->setVisible(rock);
    ui_.rockLabel->setVisible(rock);
  }

  void ModeChanged() {
    record_.mode = Combo(1)->currentIndex() == 1 ? 2 : 1;
    ShowMode();
    const bool rock = record_.mode == 2;
    for (int box : {5, 13}) {
      if (rock) {
        Check(box)->setChecked(false);
        FindControl(this, box + 1)->hide();
      }
      Check(box)->setEnabled(!rock);
    }
  }

  void Arrow(int field, float change) {
    float value = Field(field);
    switch (field) {
    case 3:
      value = record_.rockLimit = StepRockLimit(value, change);
      break;
    case 11:
      record_.rockLimit = Field(3);
      value = StepYAngle(value, change, record_.mode == 2, record_.rockLimit);
      break;
    default:
      value = StepAxisAngle(value, change);
    }
    SetField(field, value);
  }

  WindowRef window_;
  AutoRotateSheetRecord record_;
  Ui::AutoRotate ui_;
};

} // namespace

int ExtractAutoRotate(QDialog *sheet, AutoRotateSheetRecord *record) {
  auto field = [sheet](int id) {
    auto *edit = FindControl<QLineEdit>(sheet, id);
    QString text = edit->text();
    text.remove(QChar(0x00B0));
    bool ok = false;
    const float value = text.trimmed().toFloat(&ok);
    return StoredUnlessEdited(edit, ok ? value : NAN);
  };
  record->mode = FindControl<QComboBox>(sheet, 1)->currentIndex() == 1 ? 2 : 1;
  record->oneTurn = FindControl<QCheckBox>(sheet, 19)->isChecked();
  record->useX = FindControl<QCheckBox>(sheet, 5)->isChecked();
  record->useY = FindControl<QCheckBox>(sheet, 9)->isChecked();
  record->useZ = FindControl<QCheckBox>(sheet, 13)->isChecked();
  record->rockLimit = field(3);
  record->angleX = field(7);
  record->angleY = field(11);
  record->angleZ = field(15);
  // Fields not in use keep their last good value.
  AutoRotateSheetRecord checked = *record;
  const int bad = ValidateAutoRotate(checked);
  if (bad) {
    FindControl(sheet, bad)->setFocus();
    return bad;
  }
  auto keep = [](float &value, float previous) {
    if (!std::isfinite(value))
      value = previous;
  };
  keep(record->rockLimit, gSaveAutoRotate.rockLimit);
  keep(record->angleX, gSaveAutoRotate.angleX);
  keep(record->angleY, gSaveAutoRotate.angleY);
  keep(record->angleZ, gSaveAutoRotate.angleZ);
  gSaveAutoRotate = *record;
  return 0;
}

QDialog *ShowAutoRotateSheet(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return nullptr;
  auto *sheet = new AutoRotateSheet(window, w);
  sheet->open();
  SetCocoaCursor(kArrowCursor);
  return sheet;
}

void DoShowAutoRotateSheet(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !IsWindowFileOpen(window))
    return;
  if (gRotateSelection && CountNumSelectedAtoms(crystal) < 2) {
    MyCFCautionAlert(kRotateSelectionAlert, kRotateSelectionExplanation);
    return;
  }
  ShowAutoRotateSheet(window);
}
