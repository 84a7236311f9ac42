#include "MainWindow.h"

#include <QPalette>
#include <QWidget>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent) {
  record_.native = this;
  setWindowTitle("Graphics");
  auto *graphPane = new QWidget(this);
  graphPane->setObjectName("graphPane");
  graphPane->setAutoFillBackground(true);
  QPalette palette = graphPane->palette();
  palette.setColor(QPalette::Window, Qt::white);
  graphPane->setPalette(palette);
  setCentralWidget(graphPane);
  resize(640, 480);
}
