// Answers the next modal dialog the program opens, as a user would: the
// test looks at it, types into it and accepts, or cancels it. Armed before
// the step that opens the dialog; it gives up after a few seconds so that
// it never answers a later test's dialog.
#pragma once

#include "shell/Forms.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

template <typename Dialog> void AnswerNextDialog(std::function<void(Dialog *)> answer) {
  auto *timer = new QTimer(qApp);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, answer, tries = 0]() mutable {
    auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
    if (!dialog && ++tries < 1000)
      return;
    timer->stop();
    timer->deleteLater();
    if (dialog)
      answer(dialog);
  });
  timer->start();
}

// Puts the file name into the dialog's name field and accepts it.
inline void TypeFileNameAndAccept(QFileDialog *dialog, const QString &name) {
  dialog->selectFile(name);
  QMetaObject::invokeMethod(dialog, "accept"); // what the Open or Save button does
}

// Types into the field with this number under `root`, as over a selection
// of its whole text, and presses Return there unless told not to.
inline void TypeIntoField(QWidget *root, int id, const char *text, bool pressReturn = true) {
  auto *field = FindControl<QLineEdit>(root, id);
  ASSERT_NE(field, nullptr) << id;
  field->setFocus();
  field->selectAll();
  QTest::keyClicks(field, text);
  if (pressReturn)
    QTest::keyClick(field, Qt::Key_Return);
}
