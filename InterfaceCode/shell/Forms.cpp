#include "Forms.h"

#include <QVariant>

QWidget *FindControl(QWidget *root, int controlID) {
  if (!root)
    return nullptr;
  if (ControlID(root) == controlID)
    return root;
  for (QWidget *child : root->findChildren<QWidget *>())
    if (ControlID(child) == controlID)
      return child;
  return nullptr;
}

int ControlID(const QWidget *control) {
  if (!control)
    return 0;
  bool ok = false;
  int id = control->property(kControlIDProperty).toInt(&ok);
  return ok ? id : 0;
}
