// A structure window. For now it shows an empty graph pane; it owns the
// engine's window record and per-window record so the engine can name it.
#pragma once

#include "HostServices.h"

#include <QMainWindow>

class MainWindow : public QMainWindow {
  Q_OBJECT
public:
  explicit MainWindow(QWidget *parent = nullptr);
  ~MainWindow() override;
  WindowRef Ref() { return &record_; }
  QWidget *GraphPane() const { return graphPane_; }

private:
  OVWindowRecord record_;
  QWidget *graphPane_ = nullptr;
};
