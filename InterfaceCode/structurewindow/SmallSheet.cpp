#include "SmallSheet.h"

#include "shell/Forms.h"

#include <QPushButton>
#include <QSpinBox>

SmallSheet::SmallSheet(QWidget *parent) : QDialog(parent) {
  setWindowModality(Qt::WindowModal);
  setAttribute(Qt::WA_DeleteOnClose);
}

int32_t SmallSheet::Command(uint32_t command) {
  if (command == kCmdSheetCancel || command == kCmdSheetQuit) {
    close();
    return command == kCmdSheetCancel ? 0 : kEventNotHandledErr;
  }
  return SheetCommand(command);
}

void SmallSheet::JoinButtonsAndArrows(std::initializer_list<int> arrows) {
  for (QPushButton *b : findChildren<QPushButton *>()) {
    const QString code = b->property("command").toString();
    if (code.size() == 4)
      connect(b, &QPushButton::clicked, this, [this, code] { Command(FourCharsToLong(code.toLatin1().constData())); });
  }
  for (int id : arrows) {
    auto *spin = FindControl<QSpinBox>(this, id);
    spin->setProperty("last", spin->value());
    connect(spin, &QSpinBox::valueChanged, this, [this, spin, id](int value) {
      const int last = spin->property("last").toInt();
      spin->setProperty("last", value);
      Arrow(id, value > last ? 1 : -1);
    });
  }
}
