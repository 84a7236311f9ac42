#include "StatusWindow.h"

#include "LongCommand.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <cmath>

StatusWindow::StatusWindow(QWidget *parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setWindowTitle("Status");
  auto *layout = new QVBoxLayout(this);
  label_ = new QLabel(this);
  bar_ = new QProgressBar(this);
  bar_->setTextVisible(false);
  layout->addWidget(label_);
  layout->addWidget(bar_);
  setMinimumWidth(360);
  qApp->installEventFilter(this);
}

bool StatusWindow::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::Show && watched != this && watched->isWidgetType()) {
    const auto *w = static_cast<QWidget *>(watched);
    if (w->isWindow() && w->isModal() && isVisible()) {
      hide();
      HideStatusForAlert(); // the engine's record: shown again by a later report
    }
  }
  return QWidget::eventFilter(watched, event);
}

void StatusWindow::Show(const QString &message, float percent) {
  label_->setText(message);
  if (percent < 0.0f) {
    bar_->setRange(0, 0);
  } else {
    bar_->setRange(0, 1000);
    bar_->setValue(static_cast<int>(std::lround(percent * 10.0f)));
  }
  show();
  raise();
}

QString StatusWindow::Message() const { return label_->text(); }
int StatusWindow::Value() const { return bar_->value(); }
bool StatusWindow::Indeterminate() const { return bar_->maximum() == 0; }
