// The Export Graphics panel: pixel size, output size and resolution of a
// picture export, each with its unit pop-up and all linked, as a sheet on
// the structure window ('xPix', 'xVec') or as a dialog with a file format
// pop-up (the batch export of cached structures).
//
// The sheet is a window-modal dialog opened with open(); the export runs
// after it has closed. Each control carries its number in the dynamic
// property "controlID".
#pragma once

#include "export/PictureExport.h"

#include <QDialog>

#include <memory>

class QComboBox;
class QLineEdit;
namespace Ui {
class ExportGraphics;
}

class ExportGraphicsPanel : public QDialog {
  Q_OBJECT
public:
  // The help page the Help button opens.
  static constexpr const char *kHelpPage = "pages/GraphicsExporter.html";

  ExportGraphicsPanel(const ExportGraphicsRecord &record, QWidget *parent);
  ~ExportGraphicsPanel() override;

  const ExportGraphicsRecord &Record() const { return record_; }
  // The file type of the chosen exporter (the dialog form); '????' without
  // the pop-up.
  uint32_t ExporterType() const;
  // The control carrying the number; null for none.
  QWidget *Control(int controlID) const;

  // Each writes its field from the record in the field's unit.
  void SetExportGraphicsPixelWidth() { WriteField(kFieldPixelWidth); }
  void SetExportGraphicsPixelHeight() { WriteField(kFieldPixelHeight); }
  void SetExportGraphicsOutputWidth() { WriteField(kFieldOutputWidth); }
  void SetExportGraphicsOutputHeight() { WriteField(kFieldOutputHeight); }
  void SetExportGraphicsResolution() { WriteField(kFieldResolution); }
  // The size check: OK is enabled and the warnings hidden only while both
  // pixel sizes are at most 32765.
  void VerifyExportGraphics();

private:
  // A window whose picture at the stored resolution is larger than any
  // export opens with the largest picture there is, not with OK disabled.
  void FitPictureSize();
  // The resolution OK takes: that of the preferences' row; any other is
  // refused with an alert.
  bool ResolutionAcceptable();
  void FieldEdited(ExportGraphicsField field);
  void UnitChosen(ExportGraphicsField field, int index);
  void WriteField(ExportGraphicsField field);
  QLineEdit *Field(ExportGraphicsField field) const;

  std::unique_ptr<Ui::ExportGraphics> ui_;
  ExportGraphicsRecord record_;
};

// Installs the panel behind the picture export commands and the batch
// export's options dialog; start-up calls it once. The sheet's parent is
// the structure window of the record.
void InstallExportGraphicsPanel();
// Opens the sheet (or, with `dialog`, runs the dialog form modally) for the
// window: the opener the shell's 'xPix' and 'xVec' reach through
// DoPictureExportCommand.
void ShowExportGraphicsSheetOrDialog(WindowRef window, bool vector, bool dialog);
