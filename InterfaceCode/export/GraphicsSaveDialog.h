// The image save dialog of the Qt host: a save dialog whose file-type
// pop-up lists every picture writer. The host's SaveGraphicsFileDialog
// answers through it.
#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>
#include <string_view>

class QWidget;

// The dialog's name filter of each picture writer, in pop-up order
// ("PNG (*.png)").
QString GraphicsSaveFilter(uint32_t fileType);

// Runs the dialog modally: 0 with `file` and `*fileType` filled, or
// kUserCanceledErr. The format is the one the file's extension names when a
// writer knows it, else that of the chosen filter.
int RunGraphicsSaveDialog(QWidget *parent, std::string_view title, std::string_view proposedName,
                          uint32_t *fileType, std::filesystem::path *file);
