// The Preferences window: what to do with the preferences, as a choice.
#pragma once

#include "overview/OverviewWindow.h"
#include "shell/Commands.h"

#include <QDialog>

namespace Ui {
class Preferences;
}

class PreferencesDialog : public QDialog {
  Q_OBJECT
public:
  explicit PreferencesDialog(QWidget *parent = nullptr);
  ~PreferencesDialog() override;
  Ui::Preferences *ui;
  // 1 record the front window's settings, 2 apply the saved preferences
  // again, 3 apply the factory settings.
  int Choice() const;
  void SetChoice(int choice);
  // 'ok  ', 'not!' and 'quit'.
  OSStatus Command(uint32_t command);
  bool Result() const { return result_; }

private:
  bool result_ = false;
};
