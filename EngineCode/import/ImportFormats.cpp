// The formats the import path reads, in the order in which their detectors
// run when neither the name nor the extension decides: the formats that
// announce themselves first, the loosest (a count line and coordinates)
// last. Each is described beside its reader (ImportTypes.h); a new format is
// its reader's file and one line here.
#include "import/ImportPath.h"

#define OV_IMPORT_FORMATS(X)                                                                                         \
  X(CIF)                                                                                                             \
  X(GSAS)                                                                                                            \
  X(VESTA)                                                                                                           \
  X(ATOMS)                                                                                                           \
  X(OwnText)                                                                                                         \
  X(SHELX)                                                                                                           \
  X(TOPAS)                                                                                                           \
  X(ATOMSXAFS)                                                                                                       \
  X(DMol)                                                                                                            \
  X(MOL)                                                                                                             \
  X(PDB)                                                                                                             \
  X(LAMMPSDump)                                                                                                      \
  X(LAMMPS)                                                                                                          \
  X(DLPOLYHistory)                                                                                                   \
  X(DLPOLY)                                                                                                          \
  X(GROMACS)                                                                                                         \
  X(WIEN2k)                                                                                                          \
  X(CSSR)                                                                                                            \
  X(CCSL)                                                                                                            \
  X(MacMolecule)                                                                                                     \
  X(Chem3D)                                                                                                          \
  X(VASP)                                                                                                            \
  X(XYZ)

#define OV_DECLARE_FORMAT(F) extern const ImportFormat g##F##Import;
OV_IMPORT_FORMATS(OV_DECLARE_FORMAT)
#undef OV_DECLARE_FORMAT

const std::vector<const ImportFormat *> &ImportFormats() {
#define OV_LIST_FORMAT(F) &g##F##Import,
  static const std::vector<const ImportFormat *> formats = {OV_IMPORT_FORMATS(OV_LIST_FORMAT)};
#undef OV_LIST_FORMAT
  return formats;
}
