// The writer of the program's own keyword text format (".ovtx"): four-letter
// cards with their values, comment lines beginning with "!". What it writes
// reads back through the own format's reader (import/OwnTextReader.h).
#pragma once

#include "StructureRecord.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The whole file for a structure; empty without sites, atoms or atom types.
// A crystal defined by a space-group symbol gets its symmetry cards
// regenerated from the symbol (in a copy: the structure is not changed), so
// that the lattice letter and the cards written agree. The notes are written
// by WriteTextNote (CIFWriter.h): ASCII, one "?" per other character.
std::string FormatTextFile(const CrystalRec &crystal, std::string_view title, std::string_view notes);
// Writes the file to `path` (a temporary file renamed into place); false,
// with a stop alert, when it cannot be written.
bool DoWriteTextFile(const CrystalRec &crystal, std::string_view title, std::string_view notes,
                     const std::filesystem::path &path);
// The label as the file writes it: blanks, control characters and bytes
// outside ASCII become "_"; an empty label becomes the element symbol and
// the site's number, so that no label is ever written as blanks alone.
std::string TextFileLabel(const AsymmetricUnitRecord &site, size_t siteIndex);

// How the bonds of the file, once opened, differ from the structure's: the
// file keeps the bond specifications alone, which its reader takes with the
// maximum as written and the minimum 0, and the bonds come from a search
// over the same atoms. `leftOut` bonds of the structure are not given back;
// `added` bonds are given that the structure does not have. None when the
// search could not be made, and for a file without a specification, which
// its reader bonds by the automatic search. The structure is only read (the bond search's
// calls take it unqualified).
struct TextFileBondChanges {
  int64_t leftOut = 0;
  int64_t added = 0;
};
std::optional<TextFileBondChanges> CompareBondsWithTextFile(CrystalRec &crystal);
