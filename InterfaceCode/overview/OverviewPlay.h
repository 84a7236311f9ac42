// The play options dialog of the Overview window.
#pragma once

#include "overview/OverviewWindow.h"
#include "shell/Commands.h"

#include <QDialog>

class QLineEdit;
namespace Ui {
class OverviewPlay;
}

class OverviewPlayDialog : public QDialog {
  Q_OBJECT
public:
  explicit OverviewPlayDialog(QWidget *parent = nullptr);
  ~OverviewPlayDialog() override;
  Ui::OverviewPlay *ui;
  QLineEdit *SecondsField() const;
  // Controls from values, values from controls (the seconds read back as
  // their absolute value within 0.01 .. 60).
  void SetPlayParameters(const PlaySettings &settings);
  PlaySettings GetPlayParameters() const;
  // Shows the preset the controls match.
  void UpdatePresetsPopup();
  uint32_t PresetShown() const;
  // The dialog's commands: the presets, the controls' codes, OK and Cancel.
  OSStatus Command(uint32_t command);
  bool Accepted() const { return accepted_; }

private:
  bool accepted_ = false;
};
