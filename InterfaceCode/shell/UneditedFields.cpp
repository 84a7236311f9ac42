#include "shell/UneditedFields.h"

#include <QAbstractSlider>
#include <QLineEdit>
#include <QVariant>

namespace {
constexpr const char *kShown = "shownForStored";
constexpr const char *kStored = "storedValue";

QVariant NowShowing(const QWidget *control) {
  if (auto *field = qobject_cast<const QLineEdit *>(control))
    return field->text();
  if (auto *slider = qobject_cast<const QAbstractSlider *>(control))
    return slider->value();
  return {};
}
} // namespace

void ShowStoredValue(QLineEdit *field, const QString &text, double stored) {
  if (!field)
    return;
  field->setText(text);
  field->setProperty(kShown, field->text());
  field->setProperty(kStored, stored);
}

void ShowStoredValue(QAbstractSlider *slider, int position, double stored) {
  if (!slider)
    return;
  slider->setValue(position);
  slider->setProperty(kShown, slider->value());
  slider->setProperty(kStored, stored);
}

bool ControlEdited(const QWidget *control) {
  if (!control)
    return true;
  const QVariant shown = control->property(kShown);
  return !shown.isValid() || shown != NowShowing(control);
}

double StoredValueShown(const QWidget *control) { return control ? control->property(kStored).toDouble() : 0.0; }

double StoredUnlessEdited(const QWidget *control, double read) {
  return ControlEdited(control) ? read : StoredValueShown(control);
}
