#include "export/TextExportFormats.h"

#include "export/CIFWriter.h"
#include "export/DMolWriter.h"
#include "export/OwnTextWriter.h"
#include "export/PDBWriter.h"
#include "export/XYZWriter.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Cif(CrystalRec &c, std::string_view title, std::string_view notes, std::string_view version) {
  return FormatCIFFile(c, title, notes, version);
}
std::string OwnText(CrystalRec &c, std::string_view title, std::string_view notes, std::string_view) {
  return FormatTextFile(c, title, notes);
}
std::string DMol(CrystalRec &c, std::string_view title, std::string_view, std::string_view) {
  return FormatDMolFile(c, title, DMolDateText());
}
std::string Pdb(CrystalRec &c, std::string_view title, std::string_view, std::string_view version) {
  return FormatPDBFile(c, title, version);
}
std::string Xyz(CrystalRec &c, std::string_view title, std::string_view, std::string_view) {
  return FormatXYZFile(c, title);
}

constexpr TextExportFormat kFormats[] = {
    {".car", DMol},
    {".cif", Cif, kCIFMoleculeExplanation},
    {".ovtx", OwnText},
    {".pdb", Pdb},
    {".xyz", Xyz},
};

} // namespace

const TextExportFormat *TextExportForExtension(std::string_view extension) {
  std::string ext(extension);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char ch) { return std::tolower(ch); });
  for (const TextExportFormat &f : kFormats)
    if (ext == f.extension)
      return &f;
  return nullptr;
}
