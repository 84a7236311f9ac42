// Windows built from forms.
//
// Every window, sheet and dialog has a Qt Designer form in resources/ui,
// named after the window; the build turns it into a Ui:: class. Each control
// the code needs carries its number in the dynamic property "controlID",
// and the code finds it by that number, as the window's handlers name their
// controls.
#pragma once

#include <QWidget>

inline constexpr const char *kControlIDProperty = "controlID";

// The control of `root` (or `root` itself) with the number; null for none.
QWidget *FindControl(QWidget *root, int controlID);

template <typename T> T *FindControl(QWidget *root, int controlID) {
  return qobject_cast<T *>(FindControl(root, controlID));
}

// The number a control carries; 0 for none.
int ControlID(const QWidget *control);
