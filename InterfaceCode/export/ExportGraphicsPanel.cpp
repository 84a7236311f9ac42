#include "export/ExportGraphicsPanel.h"

#include "structurewindow/MainWindow.h"
#include "ui_ExportGraphics.h"

#include "Alerts.h"
#include "Preferences.h"
#include "documents/StoredValueRanges.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace {

QWidget *ParentOf(WindowRef window) {
  return GetMainWindow(window);
}

} // namespace

ExportGraphicsPanel::ExportGraphicsPanel(const ExportGraphicsRecord &record, QWidget *parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ExportGraphics>()), record_(record) {
  ui_->setupUi(this);
  setAttribute(Qt::WA_DeleteOnClose, false);
  ui_->formatPopup->setCurrentIndex(record_.format == 2 ? 1 : 0);
  if (record_.dialog) {
    setWindowModality(Qt::ApplicationModal);
    InitGraphicsExportersArray();
    int chosen = 0;
    for (size_t k = 0; k < gGraphicsExporters.size(); k++) {
      ui_->exporterPopup->addItem(QString::fromStdString(gGraphicsExporters[k].name));
      if (gGraphicsExporters[k].subType == gPrefs.exportFileType)
        chosen = int(k);
    }
    ui_->exporterPopup->setCurrentIndex(chosen);
  } else {
    setWindowModality(Qt::WindowModal);
    ui_->exporterPopup->hide();
    ui_->exporterLabel->hide();
  }
  FitPictureSize();
  QComboBox *units[kExportGraphicsFieldCount] = {ui_->pixelWidthUnits, ui_->pixelHeightUnits, ui_->outputWidthUnits,
                                                 ui_->outputHeightUnits, ui_->resolutionUnits};
  for (int f = 0; f < kExportGraphicsFieldCount; f++) {
    const auto field = ExportGraphicsField(f);
    units[f]->setCurrentIndex(std::clamp(int(record_.units[f]) - 1, 0, units[f]->count() - 1));
    connect(units[f], &QComboBox::activated, this, [this, field](int index) { UnitChosen(field, index); });
    connect(Field(field), &QLineEdit::textEdited, this, [this, field] { FieldEdited(field); });
    WriteField(field);
  }
  connect(ui_->formatPopup, &QComboBox::activated, this, [this](int index) { record_.format = uint16_t(index + 1); });
  connect(ui_->okButton, &QPushButton::clicked, this, [this] {
    if (ResolutionAcceptable())
      accept();
  });
  connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui_->helpButton, &QPushButton::clicked, this, [] { MyOpenHelpPage(kHelpPage); });
  VerifyExportGraphics();
}

ExportGraphicsPanel::~ExportGraphicsPanel() = default;

QWidget *ExportGraphicsPanel::Control(int controlID) const {
  for (QWidget *w : findChildren<QWidget *>())
    if (w->property("controlID").toInt() == controlID)
      return w;
  return nullptr;
}

uint32_t ExportGraphicsPanel::ExporterType() const {
  const int k = ui_->exporterPopup->currentIndex();
  if (!record_.dialog || k < 0 || size_t(k) >= gGraphicsExporters.size())
    return FourCharsToLong("????");
  return gGraphicsExporters[size_t(k)].subType;
}

QLineEdit *ExportGraphicsPanel::Field(ExportGraphicsField field) const {
  QLineEdit *fields[kExportGraphicsFieldCount] = {ui_->pixelWidthField, ui_->pixelHeightField, ui_->outputWidthField,
                                                  ui_->outputHeightField, ui_->resolutionField};
  return fields[field];
}

void ExportGraphicsPanel::WriteField(ExportGraphicsField field) {
  Field(field)->setText(QString::fromStdString(ExportGraphicsFieldText(record_, field)));
}

void ExportGraphicsPanel::FieldEdited(ExportGraphicsField field) {
  bool ok = false;
  const double value = Field(field)->text().trimmed().toDouble(&ok);
  const unsigned rewrite = ok ? ExportGraphicsFieldEdited(record_, field, value) : 0;
  for (int f = 0; f < kExportGraphicsFieldCount; f++)
    if (rewrite & (1u << unsigned(f)))
      WriteField(ExportGraphicsField(f));
  VerifyExportGraphics();
}

void ExportGraphicsPanel::UnitChosen(ExportGraphicsField field, int index) {
  record_.units[field] = int16_t(index + 1);
  WriteField(field);
}

void ExportGraphicsPanel::FitPictureSize() {
  if (VerifyExportGraphicsSize(record_))
    return;
  // The longer side at the largest, the shape the window's.
  const double w = record_.referenceWidth, h = record_.referenceHeight;
  record_.pixelWidth = w >= h ? kMaxPanelPixels : float(kMaxPanelPixels * w / h);
  record_.pixelHeight = w >= h ? float(kMaxPanelPixels * h / w) : kMaxPanelPixels;
}

bool ExportGraphicsPanel::ResolutionAcceptable() {
  const StoredRange &row = stored::kExportResolution;
  if (StoredValueInRange(row, record_.resolution))
    return true;
  char explanation[128];
  std::snprintf(explanation, sizeof explanation, "Resolution must lie in the range %.0f - %.0f pixels/inch!", row.low,
                row.high);
  MyCFCautionAlert("Please enter a valid resolution", explanation);
  Field(kFieldResolution)->setFocus();
  Field(kFieldResolution)->selectAll();
  return false;
}

void ExportGraphicsPanel::VerifyExportGraphics() {
  const bool fits = VerifyExportGraphicsSize(record_);
  ui_->okButton->setEnabled(fits);
  ui_->tooLargeWarning->setVisible(!fits);
  ui_->tooLargeHint->setVisible(!fits);
}

void ShowExportGraphicsSheetOrDialog(WindowRef window, bool vector, bool dialog) {
  if (!window)
    return;
  if (dialog) {
    int32_t w = 0, h = 0;
    float res = 0;
    uint32_t type = gPrefs.exportFileType;
    GetExportGraphicsOptions(window, &w, &h, &res, &type);
    return;
  }
  ShowExportGraphicsSheet(window, vector);
}

void InstallExportGraphicsPanel() {
  gExportGraphicsPanelHooks.showSheet = [](const ExportGraphicsRecord &record) {
    auto *panel = new ExportGraphicsPanel(record, ParentOf(record.window));
    QObject::connect(panel, &QDialog::finished, panel, [panel](int result) {
      ExportGraphicsRecord rec = panel->Record();
      panel->deleteLater();
      // The export runs once the sheet has gone.
      CloseExportGraphics(rec, result == QDialog::Accepted, 0);
    });
    panel->open();
  };
  gExportGraphicsPanelHooks.runDialog = [](ExportGraphicsRecord &record, uint32_t *exporterType) {
    ExportGraphicsPanel panel(record, ParentOf(record.window));
    const bool ok = panel.exec() == QDialog::Accepted;
    record = panel.Record();
    if (exporterType)
      *exporterType = panel.ExporterType();
    return ok;
  };
}
