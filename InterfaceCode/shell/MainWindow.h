// A structure window. For now it shows an empty graph pane; it owns the
// engine's window record so the engine can name it.
#pragma once

#include "HostServices.h"

#include <QMainWindow>

class MainWindow : public QMainWindow {
  Q_OBJECT
public:
  explicit MainWindow(QWidget *parent = nullptr);
  WindowRef Ref() { return &record_; }

private:
  OVWindowRecord record_;
};
