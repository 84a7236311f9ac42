#include "ShellDialogs.h"

#include "Forms.h"
#include "structurewindow/EditAnnotation.h"
#include "ui_WindowOptions.h"

#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <memory>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

class QtShellDialogs : public ShellDialogs {
public:
  std::vector<std::filesystem::path> GetOpenFiles() override {
    const QStringList names = QFileDialog::getOpenFileNames(QApplication::activeWindow(), "Open", QString(),
                                                            "Structures (*.ovdf *.ovmf *.ovtx);;All files (*)");
    std::vector<std::filesystem::path> files;
    for (const QString &name : names)
      files.emplace_back(name.toStdString());
    return files;
  }

  std::optional<std::filesystem::path> GetSaveFile(const std::string &prompt, const std::string &proposedName,
                                                   const std::filesystem::path &folder) override {
    const QString start = QString::fromStdString((folder / proposedName).string());
    const QString name =
        QFileDialog::getSaveFileName(QApplication::activeWindow(), QString::fromStdString(prompt), start);
    if (name.isEmpty())
      return std::nullopt;
    return std::filesystem::path(name.toStdString());
  }

  SaveChangesAnswer ConfirmSaveChanges(const std::string &documentName, bool quitting) override {
    QMessageBox box(QApplication::activeWindow());
    box.setIcon(QMessageBox::Warning);
    box.setText(QString("Do you want to save the changes you made in the document \"%1\"?")
                    .arg(QString::fromStdString(documentName)));
    box.setInformativeText(quitting ? "Your changes will be lost if you don't save them before quitting."
                                    : "Your changes will be lost if you don't save them.");
    QPushButton *save = box.addButton("Save", QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton("Cancel", QMessageBox::RejectRole);
    QPushButton *discard = box.addButton("Don't Save", QMessageBox::DestructiveRole);
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == save)
      return SaveChangesAnswer::kSave;
    if (box.clickedButton() == discard)
      return SaveChangesAnswer::kDontSave;
    return SaveChangesAnswer::kCancel;
  }

  bool GetWindowOptions(std::string &fontFamily, int &pointSize) override {
    std::unique_ptr<QDialog> dialog(CreateWindowOptionsDialog(QApplication::activeWindow(), fontFamily, pointSize));
    if (dialog->exec() != QDialog::Accepted)
      return false;
    return ReadWindowOptionsDialog(dialog.get(), fontFamily, pointSize);
  }
};

QtShellDialogs gQtDialogs;
ShellDialogs *gDialogs = nullptr;

} // namespace

ShellDialogs &GetShellDialogs() { return gDialogs ? *gDialogs : gQtDialogs; }
void SetShellDialogs(ShellDialogs *dialogs) { gDialogs = dialogs; }

QDialog *CreateWindowOptionsDialog(QWidget *parent, const std::string &fontFamily, int pointSize) {
  auto *dialog = new QDialog(parent);
  Ui::WindowOptions ui;
  ui.setupUi(dialog);
  auto *font = FindControl<QFontComboBox>(dialog, 1);
  auto *size = FindControl<QLineEdit>(dialog, 2);
  auto *arrows = FindControl<QSpinBox>(dialog, 3);
  if (font)
    font->setCurrentFont(QFont(QString::fromStdString(fontFamily)));
  if (size)
    size->setText(QString::asprintf("%.0f", double(pointSize)));
  if (arrows && size) {
    // The little arrows step the size field by one per step.
    arrows->setValue(0);
    QObject::connect(arrows, &QSpinBox::valueChanged, dialog, [arrows, size](int value) {
      if (value == 0)
        return;
      StepWindowOptionsSize(size, value > 0 ? 1 : -1);
      const QSignalBlocker block(arrows);
      arrows->setValue(0);
    });
  }
  if (auto *buttons = dialog->findChild<QDialogButtonBox *>()) {
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  }
  return dialog;
}

bool ReadWindowOptionsDialog(QDialog *dialog, std::string &fontFamily, int &pointSize) {
  auto *font = FindControl<QFontComboBox>(dialog, 1);
  auto *size = FindControl<QLineEdit>(dialog, 2);
  bool ok = false;
  const int v = size ? static_cast<int>(size->text().toDouble(&ok)) : 0;
  if (!ok || v < kMinOptionsFontSize || v > kMaxOptionsFontSize)
    return false;
  if (font)
    fontFamily = font->currentFont().family().toStdString();
  pointSize = v;
  return true;
}
