// A control that shows a stored value remembers what it showed and the value
// behind it, so that reading it back while the user has left it alone gives
// the stored value bit for bit, whatever rounding or unit the shown text
// went through (an opacity as a percentage, a direction to five places).
// An apply then writes only what the user changed.
//
//   ShowStoredValue(field, "%.3f" text, hkl[0]);
//   ...
//   hkl[0] = StoredUnlessEdited(field, GetEditTextFloat(field));
#pragma once

#include <QString>

class QAbstractSlider;
class QLineEdit;
class QWidget;

// Shows the text (or slider position) for `stored` and remembers both.
void ShowStoredValue(QLineEdit *field, const QString &text, double stored);
void ShowStoredValue(QAbstractSlider *slider, int position, double stored);
// Whether the control no longer shows what ShowStoredValue put there; a
// control never given a stored value counts as edited.
bool ControlEdited(const QWidget *control);
// The stored value last shown in the control (0 when none was).
double StoredValueShown(const QWidget *control);
// The stored value while the control is unedited, else what it now reads.
double StoredUnlessEdited(const QWidget *control, double read);
template <typename T> T StoredUnlessEdited(const QWidget *control, T read) {
  return ControlEdited(control) ? read : static_cast<T>(StoredUnlessEdited(control, static_cast<double>(read)));
}
