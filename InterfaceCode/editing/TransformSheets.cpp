#include "TransformSheets.h"

#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "ui_BendLattice.h"
#include "ui_MoleculeToCrystal.h"
#include "ui_MoveOrigin.h"
#include "ui_TransformCell.h"

#include "Alerts.h"
#include "CellTransform.h"
#include "StructureTransforms.h"
#include "UnitCell.h"
#include "VectorMath.h"
#include "render/OffScreen.h"
#include "window/MainWindowData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>

#include <cmath>
#include <cstdio>

bool gSaveShowOptions = false;
bool moleculeAtOrigin = false;
float gMoveOriginDeltaX = 0.0f;
float gMoveOriginDeltaY = 0.0f;
float gMoveOriginDeltaZ = 0.0f;

void SaveMoveOrigin(float x, float y, float z) {
  gMoveOriginDeltaX = x;
  gMoveOriginDeltaY = y;
  gMoveOriginDeltaZ = z;
}

// ---- Checks ------------------------------------------------------------------------------

namespace {

constexpr double kSmallestCellAngle = 1.0;
constexpr double kLargestCellAngle = 179.0;
constexpr const char *kAxesPicture = "MoleToCrystalAxes.png";
// A molecule is larger than the cell only beyond this (Angstrom): a length
// the sheet wrote back with "%f" must not ask again.
constexpr double kCellFitTolerance = 1e-5;

bool WholeNumber(double x) { return std::isfinite(x) && x == std::floor(x); }

} // namespace

bool SupercellMultiplesValid(const double n[3]) {
  bool larger = false;
  for (int i = 0; i < 3; i++) {
    if (!WholeNumber(n[i]) || n[i] < 1.0)
      return false;
    larger = larger || n[i] > 1.0;
  }
  return larger;
}

bool ProjectionPlaneValid(const double hkl[3]) {
  double sum = 0.0;
  for (int i = 0; i < 3; i++) {
    if (!WholeNumber(hkl[i]) || std::fabs(hkl[i]) > kMaxProjectionIndex)
      return false;
    sum += std::fabs(hkl[i]);
  }
  return sum >= 1.0;
}

bool CellAngleValid(double angle) { return angle >= kSmallestCellAngle && angle <= kLargestCellAngle; }

bool OriginShiftValid(const float xyz[3]) { return xyz[0] != 0.0f || xyz[1] != 0.0f || xyz[2] != 0.0f; }

double CellHeightPerC(double alpha, double beta, double gamma) {
  const double ca = std::cos(alpha * kDegToRad), cb = std::cos(beta * kDegToRad), cg = std::cos(gamma * kDegToRad);
  const double sg = std::sin(gamma * kDegToRad);
  const double v = 1.0 - ca * ca - cb * cb - cg * cg + 2.0 * ca * cb * cg;
  return v > 0.0 && sg > 0.0 ? std::sqrt(v) / sg : 0.0;
}

double CellWidthPerB(double gamma) { return std::sin(gamma * kDegToRad); }

// ---- Shared sheet parts ---------------------------------------------------------------------

namespace {

QLineEdit *Field(QDialog *sheet, int id) { return FindControl<QLineEdit>(sheet, id); }

double FieldValue(QDialog *sheet, int id) {
  QLineEdit *field = Field(sheet, id);
  if (!field)
    return 0.0;
  QString text = field->text().trimmed();
  text.remove(QChar(0x00C5)).remove(QChar(0x00B0));
  bool ok = false;
  const double value = text.trimmed().toDouble(&ok);
  return ok ? value : 0.0;
}

void SetFieldText(QDialog *sheet, int id, const std::string &text) {
  if (QLineEdit *field = Field(sheet, id))
    field->setText(QString::fromStdString(text));
}

std::string Format(const char *format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The base of the four sheets: the parent window and the command buttons.
class TransformSheet : public QDialog {
public:
  TransformSheet(WindowRef window, QWidget *parent) : QDialog(parent), window_(window) {
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
  }
  WindowRef Window() const { return window_; }
  virtual int32_t Command(uint32_t command) = 0;

protected:
  void ConnectButtons(QPushButton *ok, QPushButton *cancel, QPushButton *help) {
    // Return presses OK wherever the focus is: no other button takes it
    // for itself when it holds the focus.
    ok->setDefault(true);
    for (QPushButton *button : findChildren<QPushButton *>())
      if (button != ok)
        button->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, [this] { Run(kSheetOK); });
    connect(cancel, &QPushButton::clicked, this, [this] { Run(kSheetCancel); });
    if (help)
      connect(help, &QPushButton::clicked, this, [this] { Run(kSheetHelp); });
  }

public:
  // The sheet's command, named after its form while it runs.
  int32_t Run(uint32_t command) {
    const CommandRun running(objectName().toStdString() + " " + CommandName(command));
    return Command(command);
  }

protected:
  // The common commands; answers whether `command` was one of them.
  bool CloseCommand(uint32_t command, int32_t *status) {
    if (command == kSheetCancel || command == kSheetQuit) {
      reject();
      *status = command == kSheetQuit ? kEventNotHandledErr : 0;
      return true;
    }
    return false;
  }
  WindowRef window_;
};

template <class T> T *SheetOf(QDialog *sheet) { return dynamic_cast<T *>(sheet); }

MainWindow *SheetParent(WindowRef window) { return GetMainWindow(window); }

// ---- Move Origin --------------------------------------------------------------------------

class MoveOriginSheet : public TransformSheet {
public:
  MoveOriginSheet(WindowRef window, QWidget *parent) : TransformSheet(window, parent) {
    ui_.setupUi(this);
    ConnectButtons(ui_.okButton, ui_.cancelButton, ui_.helpButton);
  }
  int32_t Command(uint32_t command) override {
    int32_t status = 0;
    if (CloseCommand(command, &status))
      return status;
    if (command == kSheetHelp) {
      MyOpenHelpPage("pages/MoveOrigin.html");
      return 0;
    }
    if (command != kSheetOK)
      return kEventNotHandledErr;
    double typed[3];
    float xyz[3];
    for (int i = 0; i < 3; i++) {
      typed[i] = FieldValue(this, 4 + i);
      xyz[i] = static_cast<float>(typed[i]);
    }
    if (!OriginShiftValid(xyz)) {
      SysBeep();
      return 0;
    }
    // Whole cells go in double, before the float would round the fraction.
    for (int i = 0; i < 3; i++)
      xyz[i] = MoveIntoCell(ReduceOriginShift(typed[i]));
    WindowRef window = window_;
    accept();
    SaveMoveOrigin(xyz[0], xyz[1], xyz[2]);
    MoveOrigin(window, xyz[0], xyz[1], xyz[2]);
    return 0;
  }

private:
  Ui::MoveOrigin ui_;
};

// ---- Transform Cell -----------------------------------------------------------------------

struct PresetItem {
  uint32_t command;
  const char *title;
};
const PresetItem kPresetItems[] = {
    {kPresetPrimitive, "Primitive (P)"},          {kPresetACentred, "A-centred (A)"},
    {kPresetBCentred, "B-centred (B)"},           {kPresetCCentred, "C-centred (C)"},
    {kPresetBodyCentred, "Body-centred (I)"},     {kPresetFaceCentred, "Face-centred (F)"},
    {kPresetRhombohedral, "Rhombohedral (R)"},    {kPresetPlane110, "Project onto (1 1 0)"},
    {kPresetPlane111, "Project onto (1 1 1)"},    {kPresetSupercell222, "Supercell 2 × 2 × 2"},
    {kPresetSupercell333, "Supercell 3 × 3 × 3"}, {kPresetCustom, "Custom"},
};

char PresetLetter(uint32_t command) {
  switch (command) {
  case kPresetPrimitive:
    return 'P';
  case kPresetACentred:
    return 'A';
  case kPresetBCentred:
    return 'B';
  case kPresetCCentred:
    return 'C';
  case kPresetBodyCentred:
    return 'I';
  case kPresetFaceCentred:
    return 'F';
  case kPresetRhombohedral:
    return 'R';
  default:
    return 0;
  }
}

class TransformCellSheet : public TransformSheet {
public:
  TransformCellSheet(WindowRef window, char letter, QWidget *parent) : TransformSheet(window, parent), letter_(letter) {
    ui_.setupUi(this);
    ConnectButtons(ui_.okButton, ui_.cancelButton, ui_.helpButton);
    QComboBox *presets = ui_.presets;
    for (const PresetItem &item : kPresetItems)
      presets->addItem(QString::fromUtf8(item.title), QVariant::fromValue<qulonglong>(item.command));
    connect(presets, &QComboBox::activated, this,
            [this, presets](int index) { Command(static_cast<uint32_t>(presets->itemData(index).toULongLong())); });
    connect(ui_.type, &QComboBox::activated, this, [this](int) { Command(kTransformTypeChanged); });
    connect(ui_.showOptions, &QCheckBox::clicked, this, [this](bool) { Command(kTransformToggleOptions); });
    connect(ui_.resetMatrix, &QPushButton::clicked, this, [this] { Command(kTransformResetMatrix); });
    for (int id = kTCMatrixFirst; id <= kTCSupercellFirst + 2; id++)
      if (QLineEdit *field = Field(this, id))
        field->installEventFilter(this);
  }

  char letter_;
  // Options group, general-matrix, projection and supercell groups: shown.
  bool shown_[4] = {true, true, true, true};
  Ui::TransformCell ui_;

  int32_t Command(uint32_t command) override {
    int32_t status = 0;
    if (CloseCommand(command, &status))
      return status;
    switch (command) {
    case kSheetHelp:
      MyOpenHelpPage("pages/TransformCell.html");
      return 0;
    case kTransformResetMatrix:
      SetGeneralTransformationMatrix(this, kCellTransformationNone.m);
      return 0;
    case kTransformTypeChanged:
      SetTransformationType(this, ui_.type->currentIndex() + 1);
      SetTransformationPresetsMenu(this, kPresetCustom);
      return 0;
    case kTransformToggleOptions:
      // The box has already changed its state: the options follow it.
      ToggleAdvancedOptions(this, !gSaveShowOptions);
      return 0;
    case kSheetOK:
      Ok();
      return 0;
    default:
      DoTransformationPreset(this, command);
      return 0;
    }
  }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent *>(event)->key();
      if (key != Qt::Key_Enter && key != Qt::Key_Return && key != Qt::Key_Escape)
        SetTransformationPresetsMenu(this, kPresetCustom);
    }
    return QDialog::eventFilter(watched, event);
  }

private:
  void Ok() {
    WindowRef window = window_;
    switch (GetTransformationType(this)) {
    case kSupercell: {
      double n[3];
      for (int i = 0; i < 3; i++)
        n[i] = FieldValue(this, kTCSupercellFirst + i);
      if (!SupercellMultiplesValid(n)) {
        MyCFStopAlert(kInvalidSupercellAlert.message, kInvalidSupercellAlert.explanation);
        return;
      }
      accept();
      DefineSupercell(window, static_cast<int32_t>(n[0]), static_cast<int32_t>(n[1]), static_cast<int32_t>(n[2]));
      return;
    }
    case kProjectionPlane: {
      double hkl[3];
      for (int i = 0; i < 3; i++)
        hkl[i] = FieldValue(this, kTCPlaneFirst + i);
      if (!ProjectionPlaneValid(hkl)) {
        MyCFStopAlert(kInvalidProjectionAlert.message, kInvalidProjectionAlert.explanation);
        return;
      }
      accept();
      ProjectCell(window, static_cast<int>(hkl[0]), static_cast<int>(hkl[1]), static_cast<int>(hkl[2]));
      return;
    }
    default: {
      float T[9];
      for (int i = 0; i < 9; i++)
        T[i] = static_cast<float>(FieldValue(this, kTCMatrixFirst + i));
      if (!VerifyLatticeTransformationMatrix(letter_, T)) {
        MyCFStopAlert(kInvalidMatrixAlert.message, kInvalidMatrixAlert.explanation);
        return;
      }
      accept();
      TransformCell(window, T);
      return;
    }
    }
  }
};

// ---- Molecule to Crystal ----------------------------------------------------------------------

class MoleculeToCrystalSheet : public TransformSheet {
public:
  MoleculeToCrystalSheet(WindowRef window, const float extents[3], QWidget *parent) : TransformSheet(window, parent) {
    ui_.setupUi(this);
    ConnectButtons(ui_.okButton, ui_.cancelButton, ui_.helpButton);
    for (int i = 0; i < 3; i++)
      extents_[i] = extents[i];
  }
  Ui::MoleculeToCrystal ui_;

  int32_t Command(uint32_t command) override {
    int32_t status = 0;
    if (CloseCommand(command, &status))
      return status;
    if (command == kSheetHelp) {
      MyOpenHelpPage("pages/CrystalToMolecule.html");
      return 0;
    }
    if (command != kSheetOK)
      return kEventNotHandledErr;
    Ok();
    return 0;
  }

private:
  void Ok() {
    double angles[3];
    for (int i = 0; i < 3; i++) {
      angles[i] = FieldValue(this, 7 + i);
      if (!CellAngleValid(angles[i])) {
        MyCFStopAlert(kInvalidAngleAlert.message, kInvalidAngleAlert.explanation);
        SetFieldText(this, 7 + i, Format("%.2f", 90.0));
        return;
      }
    }
    const double a = FieldValue(this, 4);
    double b = FieldValue(this, 5);
    double c = FieldValue(this, 6);
    if (extents_[0] - a > kCellFitTolerance && PromptUserToResetCell('a', extents_[0])) {
      SetFieldText(this, 4, Format("%f", extents_[0]));
      return;
    }
    // The molecule's y extent against the cell's width across a, its z
    // extent against the cell's height above the a-b plane.
    const double width = b * CellWidthPerB(angles[2]);
    if (extents_[1] - width > kCellFitTolerance && PromptUserToResetCell('b', extents_[1])) {
      const double perB = CellWidthPerB(angles[2]);
      SetFieldText(this, 5, Format("%f", perB > 0.0 ? extents_[1] / perB : b));
      return;
    }
    const double perC = CellHeightPerC(angles[0], angles[1], angles[2]);
    if (extents_[2] - c * perC > kCellFitTolerance && PromptUserToResetCell('c', extents_[2])) {
      SetFieldText(this, 6, Format("%f", perC > 0.0 ? extents_[2] / perC : c));
      return;
    }
    moleculeAtOrigin = ui_.placement->currentIndex() == 1;
    WindowRef window = window_;
    const bool atOrigin = moleculeAtOrigin;
    accept();
    if (MoleculeToCrystal(window, static_cast<float>(a), static_cast<float>(b), static_cast<float>(c),
                          static_cast<float>(angles[0]), static_cast<float>(angles[1]), static_cast<float>(angles[2]),
                          atOrigin))
      MyRemoveWindowProxy(window);
  }

  float extents_[3] = {0, 0, 0};
};

// ---- Bend Radius --------------------------------------------------------------------------

class BendRadiusSheet : public TransformSheet {
public:
  BendRadiusSheet(WindowRef window, QWidget *parent) : TransformSheet(window, parent) {
    ui_.setupUi(this);
    ConnectButtons(ui_.okButton, ui_.cancelButton, ui_.helpButton);
    ui_.helpButton->hide(); // the bend has no help page
  }
  int32_t Command(uint32_t command) override {
    int32_t status = 0;
    if (CloseCommand(command, &status))
      return status;
    if (command != kSheetOK)
      return kEventNotHandledErr;
    const float radius = static_cast<float>(FieldValue(this, 1));
    if (!(radius > 0.0f))
      return 0;
    WindowRef window = window_;
    accept();
    // The bend moves atoms the user cannot move back by hand: the structure
    // before it is an undo state of its own.
    TakeWindowUndoState(window);
    DoBendLattice(window, radius);
    return 0;
  }

private:
  Ui::BendRadius ui_;
};

template <class Sheet> QDialog *Open(Sheet *sheet, QWidget *focus) {
  sheet->open();
  if (focus) {
    focus->setFocus();
    if (auto *field = qobject_cast<QLineEdit *>(focus))
      field->selectAll();
  }
  SetCocoaCursor(kArrowCursor);
  return sheet;
}

} // namespace

// ---- Move Origin ----------------------------------------------------------------------------

QDialog *ShowMoveOriginSheet(WindowRef window, float x, float y, float z) {
  MainWindow *parent = SheetParent(window);
  if (!parent)
    return nullptr;
  auto *sheet = new MoveOriginSheet(window, parent);
  const float values[3] = {x, y, z};
  for (int i = 0; i < 3; i++)
    SetFieldText(sheet, 4 + i, MyTrimSprintf("%f", MoveIntoCell(values[i])));
  return Open(sheet, Field(sheet, 4));
}

int32_t MoveOriginSheetEventHandler(QDialog *sheet, uint32_t command) {
  auto *s = SheetOf<MoveOriginSheet>(sheet);
  return s ? s->Run(command) : kEventNotHandledErr;
}

// ---- Transform Cell ---------------------------------------------------------------------------

QDialog *ShowTransformCellSheet(WindowRef window, char letter) {
  MainWindow *parent = SheetParent(window);
  if (!parent)
    return nullptr;
  auto *sheet = new TransformCellSheet(window, letter, parent);
  SetTransformationPresetsMenu(sheet, kPresetPrimitive);
  DoTransformationPreset(sheet, kPresetPrimitive);
  ToggleAdvancedOptions(sheet, gSaveShowOptions);
  return Open(sheet, nullptr);
}

int32_t TransformCellSheetEventHandler(QDialog *sheet, uint32_t command) {
  auto *s = SheetOf<TransformCellSheet>(sheet);
  return s ? s->Run(command) : kEventNotHandledErr;
}

int GetTransformationType(QDialog *sheet) {
  auto *s = SheetOf<TransformCellSheet>(sheet);
  return s ? s->ui_.type->currentIndex() + 1 : 0;
}

void SetTransformationType(QDialog *sheet, int type) {
  auto *s = SheetOf<TransformCellSheet>(sheet);
  if (!s || type < kGeneralMatrix || type > kSupercell)
    return;
  s->ui_.type->setCurrentIndex(type - 1);
  ToggleAdvancedOptions(sheet, gSaveShowOptions);
  const int focus = type == kGeneralMatrix     ? kTCMatrixFirst
                    : type == kProjectionPlane ? kTCPlaneFirst
                                               : kTCSupercellFirst;
  if (QLineEdit *field = Field(sheet, focus))
    field->setFocus();
}

void SetTransformationPresetsMenu(QDialog *sheet, uint32_t command) {
  auto *s = SheetOf<TransformCellSheet>(sheet);
  if (!s)
    return;
  const int index = s->ui_.presets->findData(QVariant::fromValue<qulonglong>(command));
  if (index >= 0 && index != s->ui_.presets->currentIndex())
    s->ui_.presets->setCurrentIndex(index);
}

uint32_t GetTransformationPresetsMenu(QDialog *sheet) {
  auto *s = SheetOf<TransformCellSheet>(sheet);
  return s ? static_cast<uint32_t>(s->ui_.presets->currentData().toULongLong()) : 0;
}

void SetGeneralTransformationMatrix(QDialog *sheet, const float T[9]) {
  for (int i = 0; i < 9; i++)
    SetFieldText(sheet, kTCMatrixFirst + i, MyTrimSprintf("%f", T[i]));
}

void SetProjectionPlane(QDialog *sheet, float l) {
  const float hkl[3] = {1.0f, 1.0f, l};
  for (int i = 0; i < 3; i++)
    SetFieldText(sheet, kTCPlaneFirst + i, Format("%.0f", hkl[i]));
}

void SetSupercellDimensions(QDialog *sheet, float na, float nb, float nc) {
  const float n[3] = {na, nb, nc};
  for (int i = 0; i < 3; i++)
    SetFieldText(sheet, kTCSupercellFirst + i, Format("%.0f", n[i]));
}

void DoTransformationPreset(QDialog *sheet, uint32_t command) {
  auto *s = SheetOf<TransformCellSheet>(sheet);
  if (!s) {
    std::fprintf(stderr, "Error accessing window information record at DoTransformationPreset()\n");
    return;
  }
  if (const char target = PresetLetter(command)) {
    float T[9];
    if (GetLatticeTransformationMatrix(s->letter_, target, T))
      SetGeneralTransformationMatrix(sheet, T);
    SetTransformationType(sheet, kGeneralMatrix);
    return;
  }
  switch (command) {
  case kPresetPlane110:
    SetProjectionPlane(sheet, 0.0f);
    SetTransformationType(sheet, kProjectionPlane);
    break;
  case kPresetPlane111:
    SetProjectionPlane(sheet, 1.0f);
    SetTransformationType(sheet, kProjectionPlane);
    break;
  case kPresetSupercell222:
    SetSupercellDimensions(sheet, 2, 2, 2);
    SetTransformationType(sheet, kSupercell);
    break;
  case kPresetSupercell333:
    SetSupercellDimensions(sheet, 3, 3, 3);
    SetTransformationType(sheet, kSupercell);
    break;
  default:
    break;
  }
}

void ToggleAdvancedOptions(QDialog *sheet, bool show) {
  auto *s = SheetOf<TransformCellSheet>(sheet);
  if (!s)
    return;
  QWidget *groups[4] = {s->ui_.optionsGroup, s->ui_.matrixGroup, s->ui_.planeGroup, s->ui_.supercellGroup};
  int change = 0;
  auto setShown = [&](int g, bool on) {
    if (s->shown_[g] == on)
      return;
    groups[g]->setVisible(on);
    change += on ? groups[g]->height() : -groups[g]->height();
    s->shown_[g] = on;
  };
  if (show) {
    setShown(0, true);
    const int current = GetTransformationType(sheet); // 1 to 3: groups 1 to 3
    for (int g = 1; g < 4; g++) {
      if (g == current) {
        const QRect options = groups[0]->geometry();
        groups[g]->move(groups[g]->x(), options.y() + options.height());
      }
      setShown(g, g == current);
    }
  } else {
    for (int g = 0; g < 4; g++)
      setShown(g, false);
  }
  QWidget *buttons = s->ui_.buttonRow;
  buttons->move(buttons->x(), buttons->y() + change);
  const int height = s->height() + change;
  s->setMinimumHeight(0);
  s->setMaximumHeight(QWIDGETSIZE_MAX);
  s->resize(s->width(), height);
  s->setFixedHeight(height);
  {
    const QSignalBlocker block(s->ui_.showOptions);
    s->ui_.showOptions->setChecked(show);
  }
  gSaveShowOptions = show;
}

// ---- Molecule to Crystal -------------------------------------------------------------------------

QDialog *ShowMoleculeToCrystalSheet(WindowRef window, float ex, float ey, float ez, float alpha, float beta,
                                    float gamma) {
  MainWindow *parent = SheetParent(window);
  if (!parent)
    return nullptr;
  const std::filesystem::path picture = BundledResourceFolder("images") / kAxesPicture;
  QPixmap pixmap(QString::fromStdString(picture.string()));
  if (pixmap.isNull()) {
    std::fprintf(stderr, "Error getting image at ShowMoleculeToCrystalSheet()\n");
    return nullptr;
  }
  const float extents[3] = {ex, ey, ez};
  auto *sheet = new MoleculeToCrystalSheet(window, extents, parent);
  const double cell[6] = {ProposedMoleculeCellLength(ex),
                          ProposedMoleculeCellLength(ey),
                          ProposedMoleculeCellLength(ez),
                          alpha,
                          beta,
                          gamma};
  for (int i = 0; i < 6; i++)
    SetFieldText(sheet, 4 + i, Format(i < 3 ? "%.3f" : "%.2f", cell[i]));
  FindControl<QLabel>(sheet, 10)->setPixmap(pixmap);
  for (int i = 0; i < 3; i++)
    FindControl<QLabel>(sheet, 11 + i)->setText(QString::fromStdString(Format("%.3f", extents[i])) + " Å");
  sheet->ui_.placement->setCurrentIndex(moleculeAtOrigin ? 1 : 0);
  return Open(sheet, Field(sheet, 4));
}

int32_t MTCSheetEventHandler(QDialog *sheet, uint32_t command) {
  auto *s = SheetOf<MoleculeToCrystalSheet>(sheet);
  return s ? s->Run(command) : kEventNotHandledErr;
}

bool PromptUserToResetCell(char axis, float size) {
  char explanation[400];
  std::snprintf(explanation, sizeof explanation,
                "Your '%c' cell parameter is smaller than the molecular size in this direction (%.3f Å). If you "
                "choose to continue, the molecule will be wrapped back on itself, which might not be what you "
                "intended.",
                axis, static_cast<double>(size));
  return MyCFChoiceAlert(kAlertCautionAlert, "Cell parameter smaller than molecule!", explanation, "Reset Cell",
                         "Continue");
}

// ---- Bend Radius ----------------------------------------------------------------------------------

QDialog *ShowBendRadiusSheet(WindowRef window, float radius) {
  MainWindow *parent = SheetParent(window);
  if (!parent)
    return nullptr;
  auto *sheet = new BendRadiusSheet(window, parent);
  SetFieldText(sheet, 1, Format("%.2f", radius));
  return Open(sheet, Field(sheet, 1));
}

int32_t BendRadiusWindowEventHandler(QDialog *sheet, uint32_t command) {
  auto *s = SheetOf<BendRadiusSheet>(sheet);
  return s ? s->Run(command) : kEventNotHandledErr;
}
