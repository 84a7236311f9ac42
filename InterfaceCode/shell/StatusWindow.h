// The small floating window that reports a long task: a message and a bar.
// It keeps above every window while it shows, but gives way to a question
// the program asks (an alert, the question about unsaved changes, a sheet):
// it hides when one shows, and a later report shows it again.
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

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  QLabel *label_;
  QProgressBar *bar_;
};
