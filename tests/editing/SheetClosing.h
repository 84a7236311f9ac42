// OK on a sheet whose handler rebuilds the structure. The rebuild's cancel
// check lets events through, and with them the sheet's deferred deletion,
// so the sheet may be gone when the handler returns.
#pragma once

#include "editing/TransformSheets.h"

#include <QDialog>
#include <QPointer>

// Sends OK through the sheet's handler; true when the sheet then is closed
// (hidden or already deleted). The sheet must not be used afterwards.
template <typename Handler> bool ClosesOnOK(Handler handler, QDialog *sheet) {
  const QPointer<QDialog> guard(sheet);
  handler(sheet, kSheetOK);
  return !guard || !guard->isVisible();
}
