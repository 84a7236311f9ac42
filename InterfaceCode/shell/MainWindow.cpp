#include "MainWindow.h"

#include "window/MainWindowData.h"

#include <QPalette>
#include <QWidget>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent) {
  record_.native = this;
  InitMainWindowData(&record_);
  setWindowTitle("Graphics");
  graphPane_ = new QWidget(this);
  graphPane_->setObjectName("graphPane");
  graphPane_->setAutoFillBackground(true);
  QPalette palette = graphPane_->palette();
  palette.setColor(QPalette::Window, Qt::white);
  graphPane_->setPalette(palette);
  setCentralWidget(graphPane_);
  resize(640, 480);
}

MainWindow::~MainWindow() { DestroyMainWindowData(&record_); }
