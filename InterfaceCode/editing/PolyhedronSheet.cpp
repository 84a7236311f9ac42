#include "PolyhedronSheet.h"

#include "TransformSheets.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "ui_MakePolyhedron.h"

#include "Alerts.h"
#include "PolyhedronFromSelection.h"
#include "SelectionCommands.h"
#include "window/MainWindowData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

namespace {

class MakePolyhedronSheet : public QDialog {
public:
  MakePolyhedronSheet(WindowRef window, QWidget *parent) : QDialog(parent), window_(window) {
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    ui_.setupUi(this);
    connect(ui_.okButton, &QPushButton::clicked, this, [this] { MakePolyhedronSheetCommand(this, kSheetOK); });
    connect(ui_.cancelButton, &QPushButton::clicked, this,
            [this] { MakePolyhedronSheetCommand(this, kSheetCancel); });
  }
  WindowRef window_;
  Ui::MakePolyhedron ui_;
};

} // namespace

void MakePolyhedronFromSelection(WindowRef window) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  float cart[3];
  if (!c || GetCentreOfSelection(*c, nullptr, cart) < 2)
    return;
  if (AtomExistsAtPoint(*c, cart) &&
      !MyCFChoiceAlert(kAlertCautionAlert, "An atom already exists at the centre of selection",
                       "Are you sure you want to create another atom on top of it?", "Continue", "Cancel"))
    return;
  ShowMakePolyhedronSheet(window, gCentroidLabel, gCentroidSymbol, gShowSymmetryRelatedAtoms, gBondGenerationChoice,
                          c->molecule != 0);
}

QDialog *ShowMakePolyhedronSheet(WindowRef window, const std::string &label, const std::string &symbol,
                                 bool showSymmetryRelated, int32_t bondChoice, bool isMolecule) {
  MainWindow *parent = GetMainWindow(window);
  if (!parent)
    return nullptr;
  auto *sheet = new MakePolyhedronSheet(window, parent);
  sheet->ui_.symbolField->setText(QString::fromStdString(symbol));
  sheet->ui_.labelField->setText(QString::fromStdString(label));
  sheet->ui_.bondChoice->setCurrentIndex(bondChoice >= 1 && bondChoice <= 3 ? bondChoice - 1 : 0);
  sheet->ui_.showImages->setChecked(showSymmetryRelated && !isMolecule);
  sheet->ui_.showImages->setEnabled(!isMolecule);
  sheet->open();
  sheet->ui_.symbolField->setFocus();
  return sheet;
}

int32_t MakePolyhedronSheetCommand(QDialog *dialog, uint32_t command) {
  auto *sheet = dynamic_cast<MakePolyhedronSheet *>(dialog);
  if (!sheet)
    return kEventNotHandledErr;
  if (command == kSheetCancel || command == kSheetQuit) {
    sheet->reject();
    return command == kSheetQuit ? kEventNotHandledErr : 0;
  }
  if (command != kSheetOK)
    return kEventNotHandledErr;
  const std::string symbol = sheet->ui_.symbolField->text().left(2).toStdString();
  const std::string label = sheet->ui_.labelField->text().toStdString();
  const bool images = sheet->ui_.showImages->isChecked();
  const int32_t choice = sheet->ui_.bondChoice->currentIndex() + 1;
  const WindowRef window = sheet->window_;
  sheet->accept();
  DoMakePolyhedronFromSelection(window, label, symbol, images, choice);
  return 0;
}
