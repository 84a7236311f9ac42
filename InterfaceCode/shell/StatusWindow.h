// The small floating window that reports a long task: a message and a bar.
#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

class StatusWindow : public QWidget {
  Q_OBJECT
public:
  explicit StatusWindow(QWidget *parent = nullptr);
  // percent < 0 shows an indeterminate bar.
  void Show(const QString &message, float percent);
  QString Message() const;
  int Value() const;
  bool Indeterminate() const;

private:
  QLabel *label_;
  QProgressBar *bar_;
};
