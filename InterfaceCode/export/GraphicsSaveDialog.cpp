#include "export/GraphicsSaveDialog.h"

#include "HostServices.h"
#include "export/PictureExport.h"
#include "shell/ShellDialogs.h"

#include <QFileDialog>
#include <QStringList>

QString GraphicsSaveFilter(uint32_t fileType) {
  const GraphicsExporter *e = FindGraphicsExporter(fileType);
  if (!e)
    return {};
  return QString::fromStdString(e->name) + " (*." + QString::fromStdString(e->extension) + ")";
}

namespace {

// The writer a typed file name asks for by its extension (any case; "jpeg",
// "tiff" and "pict" too); 0 when the extension names none.
uint32_t GraphicsTypeOfExtension(const std::filesystem::path &file) {
  QString extension = QString::fromStdString(file.extension().string()).mid(1).toLower();
  if (extension == "jpeg")
    extension = "jpg";
  else if (extension == "tiff")
    extension = "tif";
  else if (extension == "pict")
    extension = "pct";
  for (const GraphicsExporter &e : gGraphicsExporters)
    if (!extension.isEmpty() && extension == QString::fromStdString(e.extension))
      return e.subType;
  return 0;
}

} // namespace

int RunGraphicsSaveDialog(QWidget *parent, std::string_view title, std::string_view proposedName,
                          uint32_t *fileType, std::filesystem::path *file) {
  InitGraphicsExportersArray();
  QStringList filters;
  for (const GraphicsExporter &e : gGraphicsExporters)
    filters << GraphicsSaveFilter(e.subType);
  QFileDialog dialog(parent, QString::fromUtf8(title.data(), qsizetype(title.size())),
                     QString::fromStdString(DialogStartFolder().string()));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(GraphicsSaveFilter(*fileType));
  dialog.selectFile(QString::fromUtf8(proposedName.data(), qsizetype(proposedName.size())));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return kUserCanceledErr;
  const int chosen = int(filters.indexOf(dialog.selectedNameFilter()));
  if (chosen >= 0)
    *fileType = gGraphicsExporters[size_t(chosen)].subType;
  *file = std::filesystem::path(dialog.selectedFiles().front().toStdString());
  NoteDialogFolder(*file);
  // A typed extension the writers know wins over the pop-up.
  if (const uint32_t typed = GraphicsTypeOfExtension(*file))
    *fileType = typed;
  return 0;
}
