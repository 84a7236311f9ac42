// The text exports by the extension of the file they write, for the tools
// that export from the shell (ovrender): each row is the Export menu's own
// writer.
#pragma once

#include "StructureRecord.h"

#include <string>
#include <string_view>

struct TextExportFormat {
  const char *extension; // lower case, with the dot
  std::string (*format)(CrystalRec &crystal, std::string_view title, std::string_view notes,
                        std::string_view version);
  // Why a molecule cannot be written so, as File > Export says it; null when
  // molecules are written too.
  const char *moleculeRefusal = nullptr;
};
// The row of an extension; null when no text export writes it.
const TextExportFormat *TextExportForExtension(std::string_view extension);
