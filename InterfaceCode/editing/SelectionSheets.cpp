#include "SelectionSheets.h"
#include "SelectionCommandHandler.h"

#include "inspectors/InspectorKit.h"
#include "inspectors/StyleMenus.h"
#include "shell/Commands.h"
#include "shell/Forms.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/WindowInput.h"
#include "ui_CustomBondStyle.h"
#include "ui_DefineVector.h"
#include "ui_DuplicateAtoms.h"
#include "ui_EditSelectionCoords.h"
#include "ui_EditSelectionSpecs.h"

#include "Alerts.h"
#include "CellTransform.h"
#include "SelectionCommands.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "render/BondDrawing.h"
#include "render/Highlights.h"
#include "render/Projection.h"
#include "window/MainWindowData.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

namespace {

std::string Format(const char *format, auto... args) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

QColor ToQColor(RGBColor c) { return QColor::fromRgba64(c.red, c.green, c.blue); }

void ShowSwatch(QPushButton *button, RGBColor colour) {
  QPixmap swatch(button->width() - 12 > 8 ? button->width() - 12 : 8, 14);
  swatch.fill(ToQColor(colour));
  button->setIcon(QIcon(swatch));
  button->setIconSize(swatch.size());
}

bool PickColour(const char *prompt, RGBColor *colour) {
  HostServices *host = GetHostServices();
  return host && host->ChooseColour(prompt, colour);
}

void SetField(QWidget *sheet, int id, const char *format, float value) {
  FindControl<QLineEdit>(sheet, id)->setText(QString::asprintf(format, double(value)));
}

float FieldValue(QWidget *sheet, int id, bool *ok = nullptr) {
  return FindControl<QLineEdit>(sheet, id)->text().trimmed().toFloat(ok);
}

// The part of a sheet's pattern: window-modal over the structure window,
// gone when closed; OK closes it and then runs the apply step while the
// window still exists.
class RecordSheet : public QDialog {
protected:
  RecordSheet(WindowRef window, QWidget *parent) : QDialog(parent), window_(window) {
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
  }
  void Join(QPushButton *ok, QPushButton *cancel) {
    connect(ok, &QPushButton::clicked, this, [this] { Ok(); });
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
  }
  virtual void Ok() = 0;
  void CloseAndApply(const std::function<void(WindowRef)> &apply) {
    WindowRef window = window_;
    accept();
    if (GetMainWindow(window))
      apply(window);
  }
  const CrystalRec *Crystal() const { return GetWindowCrystal(window_); }
  WindowRef window_;
};

template <typename Sheet, typename... Args> QDialog *OpenSheet(WindowRef window, Args &&...args) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return nullptr;
  auto *sheet = new Sheet(window, w, std::forward<Args>(args)...);
  sheet->open();
  SetCocoaCursor(kArrowCursor);
  return sheet;
}

// Steps of a spin box used as little arrows: up or down by its last value.
void ConnectArrows(QSpinBox *arrows, QObject *owner, std::function<void(bool up)> step) {
  arrows->setProperty("last", arrows->value());
  QObject::connect(arrows, &QSpinBox::valueChanged, owner, [arrows, step](int value) {
    const int last = arrows->property("last").toInt();
    arrows->setProperty("last", value);
    step(value > last);
  });
}

// ---- Define vector ------------------------------------------------------------------------

constexpr uint16_t kVectorColourMenuPrefix = 17219;

class DefineVectorSheet : public RecordSheet {
public:
  DefineVectorSheet(WindowRef window, QWidget *parent, const DefineVectorRec &record)
      : RecordSheet(window, parent), record_(record) {
    ui_.setupUi(this);
    Join(ui_.okButton, ui_.cancelButton);
    const CrystalRec *c = Crystal();
    std::copy(c->orientationMatrix, c->orientationMatrix + 9, orientation_);
    AutoCalculateVectorLength(orientation_, record_);
    ShowDirection();
    ShowLength();
    ShowSwatch(ui_.colourButton, record_.colour);
    ui_.stylePopup->setCurrentIndex(record_.style == 2 ? 1 : 0);
    ui_.fixedLength->setChecked(record_.fixedLength);
    ShowLengthControls();
    presets_ = InitPopupColorMenu(ui_.colourPresets, kVectorColourMenuPrefix, [this](uint32_t command) {
      uint16_t prefix = 0;
      int item = 0;
      if (!GetIndexFromColorMenuCommand(command, &prefix, &item) || item < 1 ||
          item > static_cast<int>(presets_.size()))
        return kEventNotHandledErr;
      record_.colour = presets_[size_t(item - 1)];
      ShowSwatch(ui_.colourButton, record_.colour);
      return kNoErr;
    });
    connect(ui_.colourButton, &QPushButton::clicked, this, [this] {
      if (PickColour("Vector colour:", &record_.colour))
        ShowSwatch(ui_.colourButton, record_.colour);
    });
    connect(ui_.stylePopup, &QComboBox::activated, this,
            [this](int index) { record_.style = static_cast<uint16_t>(index + 1); });
    connect(ui_.fixedLength, &QCheckBox::toggled, this, [this](bool on) {
      record_.fixedLength = on;
      ShowLengthControls();
    });
    for (int id : {1, 2, 3})
      connect(FindControl<QLineEdit>(this, id), &QLineEdit::textEdited, this, [this, id] {
        record_.uvw[id - 1] = FieldValue(this, id);
        if (!record_.fixedLength) {
          AutoCalculateVectorLength(orientation_, record_);
          ShowLength();
        }
        EnableOk();
      });
    connect(ui_.lengthField, &QLineEdit::textEdited, this, [this] {
      record_.length = FieldValue(this, 6);
      // A length on its way to being typed does not wipe the direction.
      if (VectorLengthAccepted(record_.length)) {
        AdjustVectorIndicesToLength(orientation_, record_);
        ShowDirection();
      }
      EnableOk();
    });
    ConnectArrows(ui_.lengthArrows, this, [this](bool up) {
      record_.length = StepVectorLength(FieldValue(this, 6), up);
      ShowLength();
      AdjustVectorIndicesToLength(orientation_, record_);
      ShowDirection();
      EnableOk();
    });
  }
  const DefineVectorRec &Record() const { return record_; }

private:
  void ShowDirection() {
    for (int id : {1, 2, 3})
      SetField(this, id, "%.2f", record_.uvw[id - 1]);
  }
  void ShowLength() {
    SetField(this, 6, "%.2f", record_.length);
    EnableOk();
  }
  void EnableOk() { ui_.okButton->setEnabled(VectorLengthAccepted(record_.length)); }
  void ShowLengthControls() {
    ui_.lengthField->setEnabled(record_.fixedLength);
    ui_.lengthArrows->setEnabled(record_.fixedLength);
  }
  void Ok() override {
    if (record_.fixedLength)
      AdjustVectorIndicesToLength(orientation_, record_);
    const DefineVectorRec record = record_;
    CloseAndApply([record](WindowRef w) { DoDefineVector(w, record); });
  }

  DefineVectorRec record_;
  float orientation_[9] = {};
  std::vector<RGBColor> presets_;
  Ui::DefineVector ui_;
};

// ---- Duplicate atoms ---------------------------------------------------------------------

class DuplicateAtomsSheet : public RecordSheet {
public:
  DuplicateAtomsSheet(WindowRef window, QWidget *parent) : RecordSheet(window, parent), record_(gSaveDuplicateAtoms) {
    ui_.setupUi(this);
    Join(ui_.okButton, ui_.cancelButton);
    ui_.useOffset->setChecked(record_.useOffset);
    SetField(this, 2, "%.2f", record_.dx);
    SetField(this, 3, "%.2f", record_.dy);
    SetField(this, 4, "%.2f", record_.dz);
    ui_.offsetGroup->setVisible(record_.useOffset);
    connect(ui_.useOffset, &QCheckBox::toggled, this, [this](bool on) {
      record_.useOffset = on;
      ui_.offsetGroup->setVisible(on);
    });
  }

private:
  void Ok() override {
    if (record_.useOffset) {
      record_.dx = FieldValue(this, 2);
      record_.dy = FieldValue(this, 3);
      record_.dz = FieldValue(this, 4);
    }
    gSaveDuplicateAtoms = record_;
    const DuplicateAtomsRec r = record_;
    CloseAndApply([r](WindowRef w) {
      // The symmetry the user agreed to lose goes only now, with the sheet
      // accepted; Cancel leaves the crystal as it was.
      const CrystalRec *c = GetWindowCrystal(w);
      if (c && !c->molecule && !DiscardSymmetry(w))
        return;
      if (r.useOffset)
        DuplicateSelectedAtoms(w, r.dx, r.dy, r.dz);
      else
        DuplicateSelectedAtoms(w, 0.0f, 0.0f, 0.0f);
    });
  }

  DuplicateAtomsRec record_;
  Ui::DuplicateAtoms ui_;
};

// ---- Selection coordinates -----------------------------------------------------------------

class EditCoordsSheet : public RecordSheet {
public:
  EditCoordsSheet(WindowRef window, QWidget *parent, const EditSelCoordsRec &record)
      : RecordSheet(window, parent), record_(record) {
    ui_.setupUi(this);
    Join(ui_.okButton, ui_.cancelButton);
    ui_.modePopup->setCurrentIndex(record_.editMode == 2 ? 1 : 0);
    ui_.modePopup->setEnabled(record_.selectedCount < 2);
    ui_.basisPopup->setCurrentIndex(record_.basis == 2 ? 1 : 0);
    UpdateCoordsFields();
    connect(ui_.modePopup, &QComboBox::activated, this, [this](int index) {
      record_.editMode = static_cast<uint16_t>(index + 1);
      UpdateCoordsFields();
    });
    connect(ui_.basisPopup, &QComboBox::activated, this, [this](int index) {
      record_.basis = static_cast<uint16_t>(index + 1);
      UpdateCoordsFields();
    });
    for (int id : {3, 4, 5})
      connect(FindControl<QLineEdit>(this, id), &QLineEdit::textEdited, this,
              [this, id] { CoordsFields(record_).values[id - 3] = FieldValue(this, id); });
  }

private:
  void UpdateCoordsFields() {
    const CoordsFieldsLayout layout = CoordsFields(record_);
    for (int k = 0; k < 3; ++k) {
      FindControl<QLabel>(this, 8 + k)->setText(QString::fromUtf8(layout.captions[k]));
      SetField(this, 3 + k, "%.4f", layout.values[k]);
    }
  }
  void Ok() override {
    const CoordsFieldsLayout layout = CoordsFields(record_);
    const float xyz[3] = {layout.values[0], layout.values[1], layout.values[2]};
    const bool fractional = record_.basis == 1, relative = record_.editMode == 2;
    // Values that say where the atoms already are move nothing.
    EditSelCoordsRec found = opened_;
    found.basis = record_.basis;
    found.editMode = record_.editMode;
    const float *was = CoordsFields(found).values;
    if (std::equal(xyz, xyz + 3, was)) {
      accept();
      return;
    }
    CloseAndApply([=](WindowRef w) { DoEditSelectionCoordinates(w, xyz, fractional, relative); });
  }

  EditSelCoordsRec record_;
  const EditSelCoordsRec opened_ = record_;
  Ui::EditSelectionCoords ui_;
};

// ---- Selection specs -------------------------------------------------------------------------

class EditSpecsSheet : public RecordSheet {
public:
  EditSpecsSheet(WindowRef window, QWidget *parent, const EditSelSpecsRec &record)
      : RecordSheet(window, parent), record_(record) {
    ui_.setupUi(this);
    Join(ui_.okButton, ui_.cancelButton);
    char symbol[3] = {};
    ShortToTwoChars(record_.element, symbol);
    ui_.elementField->setText(QString::fromLatin1(symbol, 2).trimmed());
    ui_.labelField->setText(QString::fromLatin1(record_.label));
    ShowSwatch(ui_.colourButton, record_.colour);
    SetField(this, 4, "%.2f", record_.radius);
    connect(ui_.elementField, &QLineEdit::textEdited, this, [this](const QString &text) {
      if (!ElementFromText(text.toStdString(), &record_.element))
        return;
      if (LookUpElementData(record_.element, &record_.colour, &record_.radius)) {
        ShowSwatch(ui_.colourButton, record_.colour);
        SetField(this, 4, "%.2f", record_.radius);
      }
    });
    connect(ui_.labelField, &QLineEdit::textEdited, this,
            [this](const QString &text) { SetSpecsLabel(record_, text.toStdString()); });
    connect(ui_.radiusField, &QLineEdit::textEdited, this, [this] {
      const float r = FieldValue(this, 4);
      if (TypedRadiusInRange(r))
        record_.radius = r;
    });
    connect(ui_.colourButton, &QPushButton::clicked, this, [this] {
      if (PickColour("Atom colour:", &record_.colour))
        ShowSwatch(ui_.colourButton, record_.colour);
    });
  }

private:
  void Ok() override {
    const EditSelSpecsRec record = record_;
    if (!SelectionSpecsEdited(record)) {
      accept();
      return;
    }
    CloseAndApply([record](WindowRef w) { DoEditSelectionSpecs(w, record); });
  }

  EditSelSpecsRec record_;
  Ui::EditSelectionSpecs ui_;
};

// ---- Custom bond style -----------------------------------------------------------------------

QRect SwatchRect(int h) { return QRect(QPoint(10, (h - 64) / 2), QPoint(74 - 1, (h - 64) / 2 + 64 - 1)); }
QRect ColourRect(int h, int which) {
  const int left = which == 1 ? 94 : 148;
  return QRect(QPoint(left, (h - 20) / 2), QPoint(left + 44 - 1, (h - 20) / 2 + 20 - 1));
}

class BondStyleView : public QObject {
public:
  BondStyleView(QWidget *view, WindowRef window, CustomBondStyleRec *record)
      : QObject(view), view_(view), window_(window), record_(record) {
    view->installEventFilter(this);
    view->setMouseTracking(true);
  }

protected:
  bool eventFilter(QObject *, QEvent *event) override {
    switch (event->type()) {
    case QEvent::Paint:
      Draw();
      return true;
    case QEvent::MouseButtonPress: {
      auto *e = static_cast<QMouseEvent *>(event);
      if (e->button() != Qt::LeftButton)
        return false;
      Press(e->position().toPoint());
      return true;
    }
    case QEvent::MouseMove:
      if (held_ != BondStyleViewPart::kNone) {
        const bool inside =
            BondStyleViewPartAt(view_->height(), static_cast<QMouseEvent *>(event)->position().toPoint()) == held_;
        if (inside != inside_) {
          inside_ = inside;
          view_->update();
        }
      }
      return held_ != BondStyleViewPart::kNone;
    case QEvent::MouseButtonRelease:
      if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        Release(static_cast<QMouseEvent *>(event)->position().toPoint());
        return true;
      }
      return false;
    default:
      return false;
    }
  }

private:
  bool ColourPartActive(BondStyleViewPart part) const {
    const int buttons = BondStyleColourButtons(record_->style);
    return (part == BondStyleViewPart::kColour1 && buttons >= 1) ||
           (part == BondStyleViewPart::kColour2 && buttons == 2);
  }

  void Press(QPoint p) {
    const BondStyleViewPart part = BondStyleViewPartAt(view_->height(), p);
    if (part == BondStyleViewPart::kSwatch) {
      held_ = part;
      inside_ = true;
      view_->update();
      ChooseStyle();
      held_ = BondStyleViewPart::kNone;
      view_->update();
      return;
    }
    if (!ColourPartActive(part))
      return;
    held_ = part;
    inside_ = true;
    view_->update();
  }

  void Release(QPoint p) {
    const BondStyleViewPart part = held_;
    held_ = BondStyleViewPart::kNone;
    view_->update();
    if (part == BondStyleViewPart::kNone || BondStyleViewPartAt(view_->height(), p) != part)
      return;
    RGBColor colour = part == BondStyleViewPart::kColour1 ? record_->colour1 : record_->colour2;
    if (!PickColour("Bond colour:", &colour))
      return;
    (part == BondStyleViewPart::kColour1 ? record_->colour1 : record_->colour2) = colour;
    view_->update();
  }

  // The bond style menu at the swatch: a style, the structure's default, or
  // the current style made the structure's default.
  void ChooseStyle() {
    CrystalRec *c = GetWindowCrystal(window_);
    if (!c)
      return;
    InitStyleMenus();
    const QPoint at = view_->mapToGlobal(SwatchRect(view_->height()).topLeft());
    const StyleMenuChoice choice =
        PopUpStyleMenu(gBondStyleMenu, FindStyleMenuItem(gBondStyleIconData, record_->style), c->defaultBondStyle, at);
    switch (choice.kind) {
    case StyleMenuChoice::kStyle:
      if (choice.style >= 0)
        record_->style = static_cast<uint16_t>(choice.style);
      break;
    case StyleMenuChoice::kUseDefault:
      record_->style = c->defaultBondStyle;
      break;
    case StyleMenuChoice::kMakeDefault:
      c->defaultBondStyle = record_->style;
      break;
    case StyleMenuChoice::kNone:
      break;
    }
  }

  void Draw() {
    QPainter p(view_);
    const int h = view_->height();
    const QRect swatch = SwatchRect(h);
    p.fillRect(swatch, Qt::white);
    p.setPen(QColor(128, 128, 128));
    p.drawRect(swatch.adjusted(0, 0, -1, -1));
    if (held_ == BondStyleViewPart::kSwatch && inside_)
      p.fillRect(swatch.adjusted(1, 1, -1, -1), QColor(0, 0, 0, 40));
    if (const StyleIconEntry *entry = FindStyleIconEntry(gBondStyleIconData, record_->style)) {
      const QImage icon = StyleMenuIconImage(entry->fileName);
      if (!icon.isNull()) {
        const QSize size = icon.size().scaled(swatch.size() - QSize(8, 8), Qt::KeepAspectRatio);
        p.drawImage(QRect(swatch.center() - QPoint(size.width() / 2, size.height() / 2), size), icon);
      }
    }
    const int buttons = BondStyleColourButtons(record_->style);
    for (int which = 1; which <= buttons; ++which) {
      const QRect r = ColourRect(h, which);
      const bool pressed = inside_ && held_ == (which == 1 ? BondStyleViewPart::kColour1 : BondStyleViewPart::kColour2);
      p.fillRect(r, pressed ? QColor(160, 160, 160) : QColor(230, 230, 230));
      p.setPen(QColor(100, 100, 100));
      p.drawRect(r.adjusted(0, 0, -1, -1));
      p.fillRect(r.adjusted(4, 4, -4, -4), ToQColor(which == 1 ? record_->colour1 : record_->colour2));
    }
    if (buttons == 0 && record_->style != 0) {
      p.setPen(Qt::black);
      p.drawText(QRect(94, 0, view_->width() - 94, h), Qt::AlignVCenter | Qt::AlignLeft,
                 QString::fromUtf8(BondStyleViewText(record_->style)));
    }
  }

  QWidget *view_;
  WindowRef window_;
  CustomBondStyleRec *record_;
  BondStyleViewPart held_ = BondStyleViewPart::kNone;
  bool inside_ = false;
};

class CustomBondStyleSheet : public RecordSheet {
public:
  CustomBondStyleSheet(WindowRef window, QWidget *parent, const CustomBondStyleRec &record)
      : RecordSheet(window, parent), record_(record) {
    ui_.setupUi(this);
    Join(ui_.okButton, ui_.cancelButton);
    InstallCustomBondStyleView(ui_.styleView, window, &record_);
  }

private:
  void Ok() override {
    const CustomBondStyleRec record = record_;
    CloseAndApply([record](WindowRef w) { DoCustomBondStyle(w, record); });
  }

  CustomBondStyleRec record_;
  Ui::CustomBondStyle ui_;
};

CrystalRec *FileCrystalOf(WindowRef window) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  return c && IsWindowFileOpen(window) ? c : nullptr;
}

} // namespace

// ---- The custom bond style view --------------------------------------------------------------

BondStyleViewPart BondStyleViewPartAt(int height, QPoint point) {
  if (SwatchRect(height).contains(point))
    return BondStyleViewPart::kSwatch;
  if (ColourRect(height, 1).contains(point))
    return BondStyleViewPart::kColour1;
  if (ColourRect(height, 2).contains(point))
    return BondStyleViewPart::kColour2;
  return BondStyleViewPart::kNone;
}

int BondStyleColourButtons(uint16_t style) {
  switch (style) {
  case 1:
  case 2:
  case 4:
  case 6:
  case 9:
    return 1;
  case 5:
  case 11:
    return 2;
  default:
    return 0;
  }
}

const char *BondStyleViewText(uint16_t style) {
  switch (style) {
  case 0:
  case 1:
  case 2:
  case 4:
  case 5:
  case 6:
  case 9:
  case 11:
    return "";
  case 3:
  case 10:
    return "(atom colours)";
  case 12:
    return "(highlight colour)";
  default:
    return "unknown style";
  }
}

void InstallCustomBondStyleView(QWidget *view, WindowRef window, CustomBondStyleRec *record) {
  new BondStyleView(view, window, record);
}

// ---- The sheets -----------------------------------------------------------------------------

QDialog *ShowCustomBondStyleSheet(WindowRef window, const CustomBondStyleRec &record) {
  return OpenSheet<CustomBondStyleSheet>(window, record);
}
QDialog *ShowDefineVectorSheet(WindowRef window, const DefineVectorRec &record) {
  return GetWindowCrystal(window) ? OpenSheet<DefineVectorSheet>(window, record) : nullptr;
}
QDialog *ShowDuplicateAtomsSheet(WindowRef window) { return OpenSheet<DuplicateAtomsSheet>(window); }
QDialog *ShowEditSelectionCoordinatesSheet(WindowRef window, const EditSelCoordsRec &record) {
  return OpenSheet<EditCoordsSheet>(window, record);
}
QDialog *ShowEditSelSpecsSheet(WindowRef window, const EditSelSpecsRec &record) {
  return OpenSheet<EditSpecsSheet>(window, record);
}

// ---- Openers --------------------------------------------------------------------------------

void DoShowCentreOfSelection(WindowRef window) {
  CrystalRec *c = FileCrystalOf(window);
  if (!c)
    return;
  float frac[3], cart[3];
  const int64_t n = GetCentreOfSelection(*c, frac, cart);
  if (n < 2)
    return;
  FWrite("");
  FWrite(Format("Mean of %ld selected atoms:-", long(n)));
  if (c->molecule)
    FWrite(Format("xor: %.6f %.6f %.6f A", cart[0], cart[1], cart[2]));
  else
    FWrite(Format("x: %.6f %.6f %.6f  xor: %.6f %.6f %.6f A", frac[0], frac[1], frac[2], cart[0], cart[1], cart[2]));
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  int16_t centre[2];
  Xor2Xpix(c, cart, centre, pane.right - pane.left, pane.bottom - pane.top);
  const Point centrePoint{static_cast<int16_t>(centre[1] + pane.top), static_cast<int16_t>(centre[0] + pane.left)};
  FWrite("Distances from selected atoms to centre:-");
  ClearHiliteOverlay(window);
  RepaintGraphPane(window);
  const size_t entries = UsableRecords(c->sortIndex.size(), c->sortIndexCount);
  const size_t atoms = UsableAtomSize(*c);
  long listed = 0;
  double sum = 0.0;
  for (size_t k = 0; k < entries; ++k) {
    const SortIndexEntry &e = c->sortIndex[k];
    if (e.kind != kSortItemAtom || e.index >= atoms || !c->atoms[e.index].selected)
      continue;
    const AtomRecord &a = c->atoms[e.index];
    const float d = std::sqrt((a.cart[0] - cart[0]) * (a.cart[0] - cart[0]) +
                              (a.cart[1] - cart[1]) * (a.cart[1] - cart[1]) +
                              (a.cart[2] - cart[2]) * (a.cart[2] - cart[2]));
    const Point atomPoint{static_cast<int16_t>(a.pixel[1] + pane.top), static_cast<int16_t>(a.pixel[0] + pane.left)};
    HiliteLine(window, atomPoint, centrePoint, false);
    WriteLineDistance(window, atomPoint, centrePoint, d, 11.0f);
    const char *label = "";
    char symbol[3] = {' ', ' ', 0};
    if (a.site < UsableSiteSize(*c)) {
      label = c->sites[a.site].label;
      ShortToTwoChars(c->sites[a.site].elements[0], symbol);
    }
    FWrite(Format("%5ld. %6s  (%c%c)  no. %5ld:  distance = %.4f A", ++listed, label, symbol[0], symbol[1],
                  long(e.index), d));
    sum += d;
  }
  HiliteSquare(window, centrePoint);
  FWrite(Format("Mean distance to centre of selection = %.4f A", listed ? sum / double(listed) : 0.0));
}

void DoAddVector(WindowRef window) {
  DefineVectorRec record;
  if (PrepareAddVector(window, &record))
    ShowDefineVectorSheet(window, record);
}

void DoEditVector(WindowRef window) {
  DefineVectorRec record;
  if (PrepareEditVector(window, &record))
    ShowDefineVectorSheet(window, record);
}

void DoEditVectorAt(WindowRef window, int32_t vector) {
  DefineVectorRec record;
  if (vector >= 0 && PrepareEditVector(window, &record, vector))
    ShowDefineVectorSheet(window, record);
}

void DoShowDuplicateAtomsSheet(WindowRef window) {
  CrystalRec *c = FileCrystalOf(window);
  if (!c || UsableAtomSize(*c) == 0)
    return;
  if (!CrystalHasSelectedAtoms(c)) {
    MyCFCautionAlert("No atoms selected!", "Please select at least one atom (e.g., by using the arrow tool)");
    return;
  }
  if (!c->molecule && !UserWouldDiscardSymmetry(window))
    return;
  ShowDuplicateAtomsSheet(window);
}

void DoShowEditSelectionCoordsSheet(WindowRef window) {
  EditSelCoordsRec record;
  if (PrepareEditSelectionCoords(window, &record))
    ShowEditSelectionCoordinatesSheet(window, record);
}

void DoShowEditSelectionSpecsSheet(WindowRef window) {
  EditSelSpecsRec record;
  if (PrepareEditSelectionSpecs(window, &record))
    ShowEditSelSpecsSheet(window, record);
}

void DoShowCustomBondStyleSheet(WindowRef window) {
  CrystalRec *c = FileCrystalOf(window);
  if (!c || UsableAtomSize(*c) == 0)
    return;
  if (CountNumSelectedAtoms(c) < 2) {
    MyCFStopAlert("At least two atoms must be selected!");
    return;
  }
  uint32_t i = 0, j = 0;
  if (!FindSelectedBondedPair(*c, &i, &j)) {
    MyCFCautionAlert("Please select at least two atoms which are bonded to each other!");
    return;
  }
  CustomBondStyleRec record;
  record.style = static_cast<uint16_t>(GetBondColorSpecs(c, i, j, record.colour1, record.colour2));
  ShowCustomBondStyleSheet(window, record);
}

void DoChangeAtomStyle(WindowRef window, int item) {
  if (item < 1 || item > static_cast<int>(std::size(gAtomStyleIconData)) || gAtomStyleIconData[item - 1].style < 0)
    return;
  ChangeSelectedAtomsStyle(window, static_cast<uint32_t>(gAtomStyleIconData[item - 1].style));
}

void DoAtomStyleMenu(WindowRef window) {
  CrystalRec *c = FileCrystalOf(window);
  if (!c || UsableAtomSize(*c) == 0 || !CrystalHasSelectedAtoms(c))
    return;
  uint32_t current = c->defaultAtomStyle;
  for (size_t k = 0; k < UsableAtomSize(*c); ++k) {
    const AtomRecord &a = c->atoms[k];
    if (a.visible && a.selected && a.atomType < UsableSphereSize(*c)) {
      current = c->spheres[a.atomType].style;
      break;
    }
  }
  InitStyleMenus();
  const StyleMenuChoice choice =
      PopUpStyleMenu(gAtomStyleMenu, FindStyleMenuItem(gAtomStyleIconData, int32_t(current)),
                     int32_t(c->defaultAtomStyle), QCursor::pos());
  if (choice.kind == StyleMenuChoice::kStyle)
    DoChangeAtomStyle(window, FindStyleMenuItem(gAtomStyleIconData, choice.style));
  else if (choice.kind == StyleMenuChoice::kUseDefault)
    ChangeSelectedAtomsStyle(window, c->defaultAtomStyle);
  else if (choice.kind == StyleMenuChoice::kMakeDefault)
    c->defaultAtomStyle = current;
}

// ---- Commands -------------------------------------------------------------------------------

namespace {

struct SheetCommand {
  uint32_t code;
  void (*run)(WindowRef);
};
const SheetCommand kSheetCommands[] = {
    {kCmdShowCentreOfSelection, DoShowCentreOfSelection},
    {kCmdAddVector, DoAddVector},
    {kCmdEditVector, DoEditVector},
    {kCmdDeleteSelectedVectors, DeleteSelectedVectors},
    {kCmdDuplicateAtoms, DoShowDuplicateAtomsSheet},
    {kCmdEditSelectionCoords, DoShowEditSelectionCoordsSheet},
    {kCmdEditSelectionSpecs, DoShowEditSelectionSpecsSheet},
    {kCmdDeleteSelectedAtoms, DeleteSelectedAtoms},
    {kCmdResetCustomAtoms, DoResetCustomAtoms},
    {kCmdCustomBondStyle, DoShowCustomBondStyleSheet},
    {kCmdAtomStyleMenu, DoAtomStyleMenu},
};

const SheetCommand *FindSheetCommand(uint32_t code) {
  for (const SheetCommand &c : kSheetCommands)
    if (c.code == code)
      return &c;
  return nullptr;
}

WindowRef FrontWithFile() {
  WindowRef front = FrontGraphWindow();
  return front && GetWindowCrystal(front) && IsWindowFileOpen(front) ? front : nullptr;
}

} // namespace

void InstallSelectionSheetCommands() {
  AddCommandHandler(
      [](uint32_t command, const QVariant &) -> OSStatus {
        const SheetCommand *c = FindSheetCommand(command);
        if (!c)
          return kEventNotHandledErr;
        if (WindowRef w = FrontWithFile(); w && !RefusesEmptySelection(command, w))
          c->run(w);
        return kNoErr;
      },
      [](uint32_t command, QAction *action) -> OSStatus {
        if (!FindSheetCommand(command))
          return kEventNotHandledErr;
        action->setEnabled(FrontWithFile() != nullptr);
        return kNoErr;
      });
  gWindowInputHooks.deleteSelectedAtoms = DeleteSelectedAtoms;
  gWindowInputHooks.duplicateSelectedAtoms = DuplicateSelectedAtoms;
  gWindowInputHooks.editVector = DoEditVectorAt;
}
