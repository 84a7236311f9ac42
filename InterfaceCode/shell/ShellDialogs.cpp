#include "ShellDialogs.h"

#include "FileCommands.h"
#include "Forms.h"
#include "structurewindow/EditAnnotation.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "import/ImportPath.h"
#include "ui_WindowOptions.h"

#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <algorithm>
#include <memory>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QStringList>
#include <QFormLayout>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>

namespace {

std::filesystem::path gLastDialogFolder;

// The window properties that hold the file its structure was read from and
// the title the window had once it was read. The file names the window's
// document while the window bears that title: a window emptied and given a
// new structure is retitled.
constexpr const char *kDocumentFileProperty = "documentFile";
constexpr const char *kDocumentTitleProperty = "documentTitle";

// The document types by extension, as the file dialogs name them.
struct DocumentType {
  const char *extension;
  const char *name;
};
constexpr DocumentType kDocumentTypes[] = {
    {"ovdf", "Crystal documents"}, {"ovmf", "Molecule documents"}, {"ovtx", "Structure text files"}};

std::vector<std::filesystem::path> ChosenFiles(QFileDialog &dialog) {
  std::vector<std::filesystem::path> files;
  for (const QString &name : dialog.selectedFiles())
    files.emplace_back(name.toStdString());
  return files;
}

class QtShellDialogs : public ShellDialogs {
public:
  std::vector<std::filesystem::path> GetOpenFiles() override {
    std::unique_ptr<QFileDialog> dialog(CreateOpenDialog(QApplication::activeWindow()));
    if (dialog->exec() != QDialog::Accepted)
      return {};
    return ChosenFiles(*dialog);
  }

  StructureChoice ChooseStructures(const std::filesystem::path &file,
                                   const std::vector<StructureSummary> &structures) override {
    std::unique_ptr<QDialog> chooser(CreateStructureChooser(QApplication::activeWindow(), file, structures));
    if (chooser->exec() != QDialog::Accepted)
      return {};
    return ReadStructureChooser(chooser.get());
  }

  std::optional<std::filesystem::path> GetSaveFile(const std::string &prompt, const std::string &proposedName,
                                                   const std::filesystem::path &folder) override {
    std::unique_ptr<QFileDialog> dialog(CreateSaveDialog(QApplication::activeWindow(), prompt, proposedName, folder));
    if (dialog->exec() != QDialog::Accepted)
      return std::nullopt;
    const std::vector<std::filesystem::path> files = ChosenFiles(*dialog);
    if (files.empty())
      return std::nullopt;
    return files.front();
  }

  bool PageSetup(QPrinter &printer, QWidget *parent) override {
    // Our own dialog: Qt's serves only printers the system knows, and
    // printing to a file is what many systems have.
    std::unique_ptr<QDialog> dialog(CreatePageSetupDialog(printer, parent));
    if (dialog->exec() != QDialog::Accepted)
      return false;
    ApplyPageSetupDialog(dialog.get(), printer);
    return true;
  }

  bool PrintSetup(QPrinter &printer, QWidget *parent) override {
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    ProposePrintFile(&dialog, printer);
    if (dialog.exec() != QDialog::Accepted)
      return false;
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty())
      NoteDialogFolder(printer.outputFileName().toStdString());
    return true;
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
    question_ = &box;
    box.exec();
    question_ = nullptr;
    if (box.clickedButton() == save)
      return SaveChangesAnswer::kSave;
    if (box.clickedButton() == discard)
      return SaveChangesAnswer::kDontSave;
    return SaveChangesAnswer::kCancel;
  }

  void WithdrawSaveQuestion() override {
    if (question_)
      question_->reject();
  }

  bool GetWindowOptions(std::string &fontFamily, int &pointSize) override {
    std::unique_ptr<QDialog> dialog(CreateWindowOptionsDialog(QApplication::activeWindow(), fontFamily, pointSize));
    if (dialog->exec() != QDialog::Accepted)
      return false;
    return ReadWindowOptionsDialog(dialog.get(), fontFamily, pointSize);
  }

private:
  QMessageBox *question_ = nullptr; // the save question while it is up
};

QtShellDialogs gQtDialogs;
ShellDialogs *gDialogs = nullptr;

} // namespace

ShellDialogs &GetShellDialogs() { return gDialogs ? *gDialogs : gQtDialogs; }
void SetShellDialogs(ShellDialogs *dialogs) { gDialogs = dialogs; }

std::filesystem::path DialogStartFolder(WindowRef window) {
  // The bundled samples and examples are never a place to write to.
  if (MainWindow *w = GetMainWindow(window ? window : FrontGraphWindow())) {
    if (!w->File().empty() && w->File().has_parent_path())
      return IsBundledFile(w->File()) ? LastDialogFolder() : w->File().parent_path();
    // A text file read into the window counts while the window still shows
    // what was read: the same title as when it was read.
    const std::filesystem::path file = w->property(kDocumentFileProperty).toString().toStdString();
    if (file.has_parent_path() && !IsBundledFile(file) &&
        PlainWindowTitle(w) == w->property(kDocumentTitleProperty).toString())
      return file.parent_path();
  }
  return LastDialogFolder();
}

void NoteDocumentFolder(WindowRef window, const std::filesystem::path &file) {
  MainWindow *w = GetMainWindow(window);
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
  if (w && !ec && absolute.has_parent_path()) {
    w->setProperty(kDocumentFileProperty, QString::fromStdString(absolute.string()));
    w->setProperty(kDocumentTitleProperty, PlainWindowTitle(w));
  }
}

void NoteDialogFolderChosen(const std::filesystem::path &folder) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
  if (!ec && !absolute.empty())
    gLastDialogFolder = absolute;
}

std::optional<std::filesystem::path> RunFolderDialog(const std::string &message) {
  const QString folder =
      QFileDialog::getExistingDirectory(QApplication::activeWindow(), QString::fromStdString(message),
                                        QString::fromStdString(DialogStartFolder().string()));
  if (folder.isEmpty())
    return std::nullopt;
  NoteDialogFolderChosen(folder.toStdString());
  return folder.toStdString();
}

std::vector<std::filesystem::path> RunOpenFilesDialog(const std::string &message, const std::string &filter) {
  std::vector<std::filesystem::path> files;
  for (const QString &f : QFileDialog::getOpenFileNames(QApplication::activeWindow(), QString::fromStdString(message),
                                                        QString::fromStdString(DialogStartFolder().string()),
                                                        QString::fromStdString(filter)))
    files.emplace_back(f.toStdString());
  if (!files.empty())
    NoteDialogFolder(files.front());
  return files;
}

std::filesystem::path LastDialogFolder() {
  return gLastDialogFolder.empty() ? std::filesystem::path(QDir::homePath().toStdString()) : gLastDialogFolder;
}

void NoteDialogFolder(const std::filesystem::path &file) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
  if (!ec && absolute.has_parent_path())
    gLastDialogFolder = absolute.parent_path();
}

QStringList StructureFileNameFilters() {
  QStringList filters;
  for (const OpenFileFilter &f : StructureFileFilters()) {
    QStringList patterns;
    for (const std::string &p : f.patterns)
      patterns << QString::fromStdString(p);
    filters << QString("%1 (%2)").arg(QString::fromStdString(f.name), patterns.join(' '));
  }
  filters << "All files (*)";
  return filters;
}

QFileDialog *CreateOpenDialog(QWidget *parent) {
  auto *dialog = new QFileDialog(parent, "Open", QString::fromStdString(DialogStartFolder().string()));
  dialog->setFileMode(QFileDialog::ExistingFiles);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setNameFilters(StructureFileNameFilters());
  return dialog;
}

QFileDialog *CreateSaveDialog(QWidget *parent, const std::string &prompt, const std::string &proposedName,
                              const std::filesystem::path &folder) {
  auto *dialog = new QFileDialog(parent, QString::fromStdString(prompt), QString::fromStdString(folder.string()));
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  const std::string extension = std::filesystem::path(proposedName).extension().string();
  QStringList filters;
  if (extension.size() > 1) {
    const QString ext = QString::fromStdString(extension.substr(1));
    QString name = ext.toUpper() + " files";
    for (const DocumentType &t : kDocumentTypes)
      if (ext == t.extension)
        name = t.name;
    filters << QString("%1 (*.%2)").arg(name, ext);
    dialog->setDefaultSuffix(ext);
  }
  filters << "All files (*)";
  dialog->setNameFilters(filters);
  dialog->selectFile(QString::fromStdString(proposedName));
  return dialog;
}

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

// ---- Page setup ------------------------------------------------------------------------

namespace {

// The paper sizes the page setup offers, in pop-up order.
constexpr QPageSize::PageSizeId kPaperSizes[] = {QPageSize::A4,      QPageSize::Letter,   QPageSize::Legal,
                                                 QPageSize::A3,      QPageSize::A5,       QPageSize::B5,
                                                 QPageSize::Tabloid, QPageSize::Executive};
constexpr const char *kMarginNames[4] = {"leftMargin", "topMargin", "rightMargin", "bottomMargin"};
constexpr double kMaxMarginMillimetres = 100.0;

} // namespace

QDialog *CreatePageSetupDialog(const QPrinter &printer, QWidget *parent) {
  auto *dialog = new QDialog(parent);
  dialog->setObjectName("PageSetup");
  dialog->setWindowTitle(QObject::tr("Page Setup"));
  const QPageLayout layout = printer.pageLayout();
  auto *form = new QFormLayout(dialog);
  auto *paper = new QComboBox(dialog);
  paper->setObjectName("paperSize");
  const QPageSize::PageSizeId current = layout.pageSize().id();
  for (QPageSize::PageSizeId id : kPaperSizes)
    paper->addItem(QPageSize::name(id), int(id));
  // The printer's own paper stays on offer.
  if (paper->findData(int(current)) < 0 && current != QPageSize::Custom)
    paper->addItem(QPageSize::name(current), int(current));
  paper->setCurrentIndex(std::max(0, paper->findData(int(current))));
  form->addRow(QObject::tr("Paper size:"), paper);
  auto *portrait = new QRadioButton(QObject::tr("Portrait"), dialog);
  auto *landscape = new QRadioButton(QObject::tr("Landscape"), dialog);
  portrait->setObjectName("portrait");
  landscape->setObjectName("landscape");
  (layout.orientation() == QPageLayout::Landscape ? landscape : portrait)->setChecked(true);
  auto *orientation = new QHBoxLayout;
  orientation->addWidget(portrait);
  orientation->addWidget(landscape);
  form->addRow(QObject::tr("Orientation:"), orientation);
  const QMarginsF margins = layout.margins(QPageLayout::Millimeter);
  const double values[4] = {margins.left(), margins.top(), margins.right(), margins.bottom()};
  const char *labels[4] = {"Left margin (mm):", "Top margin (mm):", "Right margin (mm):", "Bottom margin (mm):"};
  for (int k = 0; k < 4; ++k) {
    auto *field = new QDoubleSpinBox(dialog);
    field->setObjectName(kMarginNames[k]);
    field->setRange(0.0, kMaxMarginMillimetres);
    field->setDecimals(1);
    field->setValue(values[k]);
    form->addRow(QObject::tr(labels[k]), field);
  }
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  form->addRow(buttons);
  return dialog;
}

void ApplyPageSetupDialog(QDialog *dialog, QPrinter &printer) {
  auto *paper = dialog->findChild<QComboBox *>("paperSize");
  auto *landscape = dialog->findChild<QRadioButton *>("landscape");
  double m[4] = {};
  for (int k = 0; k < 4; ++k)
    if (auto *field = dialog->findChild<QDoubleSpinBox *>(kMarginNames[k]))
      m[k] = field->value();
  const QPageSize size(paper ? QPageSize::PageSizeId(paper->currentData().toInt()) : QPageSize::A4);
  const QPageLayout layout(size, landscape && landscape->isChecked() ? QPageLayout::Landscape : QPageLayout::Portrait,
                           QMarginsF(m[0], m[1], m[2], m[3]), QPageLayout::Millimeter);
  printer.setPageLayout(layout);
}

// ---- Print to file ---------------------------------------------------------------------

namespace {

// Fills the print dialog's file field when the dialog shows (the dialog
// writes its own proposal into the field as it shows).
class PrintFileProposer : public QObject {
public:
  PrintFileProposer(QObject *parent, QString file) : QObject(parent), file_(std::move(file)) {}
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Show)
      if (auto *field = watched->findChild<QLineEdit *>("filename"))
        field->setText(file_);
    return false;
  }

private:
  QString file_;
};

} // namespace

void ProposePrintFile(QDialog *printDialog, QPrinter &printer) {
  if (!printDialog || !printer.outputFileName().isEmpty())
    return;
  QString name = printer.docName();
  if (name.isEmpty())
    name = "print";
  const QString file = QString::fromStdString((DialogStartFolder() / (name.toStdString() + ".pdf")).string());
  printDialog->installEventFilter(new PrintFileProposer(printDialog, file));
}
