// The Protein Data Bank export of the atoms shown, and the MacMolecule 1.x
// and Chem3D Cartesian exports, which write the same atoms.
#pragma once

#include "StructureRecord.h"

#include <string>
#include <string_view>

inline constexpr const char *kMacMoleculeTooManyTypes =
    "Sorry, your structure contains too many atom types to be saved in a MacMolecule file.";
inline constexpr const char *kMacMoleculeTooManyTypesExplanation =
    "MacMolecule 1.x has an effective maximum limit of 26 atom types.";
inline constexpr size_t kMaxMacMoleculeTypes = 26;
// The bullet that begins the MacMolecule trailer lines (Mac OS Roman 0xA5).
inline constexpr const char *kMacMoleculeBullets = "\xA5\xA5";

// A serial number in the five columns of a PDB record: decimal up to 99,999,
// then hybrid-36 (upper-case digits, then lower-case), as PDB readers take
// them. Beyond the lower-case range: "*****".
std::string PDBSerial(size_t serial);

std::string FormatPDBFile(const CrystalRec &c, std::string_view title, std::string_view version);
// The MacMolecule code of an atom: its site's letter ('A' + site number)
// and its place among its site's atoms ("A0", "B3").
std::string NumToAtomCode(const CrystalRec &c, size_t atom);
std::string FormatMacMoleculeFile(const CrystalRec &c, std::string_view title, std::string_view version);
std::string FormatChem3DFile(const CrystalRec &c);
