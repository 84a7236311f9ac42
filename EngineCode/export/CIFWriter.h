// The Crystallographic Information File export of a crystal, and the notes
// writer it shares with the own text format.
#pragma once

#include "StructureRecord.h"

#include <string>
#include <string_view>

inline constexpr const char *kCIFMoleculeAlert = "Cannot save molecular data in the CIF format.";
inline constexpr const char *kCIFMoleculeExplanation = "Can only save crystals in CIF format.";
// The data block's name when the title gives none.
inline constexpr const char *kCIFDefaultBlockName = "structure";
// Notes lines are broken after a blank once longer than this.
inline constexpr size_t kNoteWrapColumn = 72;

// The whole file of a crystal. The structure is not changed: labels are
// cleaned, and the symbol looked up and the cards generated, in copies.
std::string FormatCIFFile(const CrystalRec &c, std::string_view title, std::string_view notes,
                          std::string_view version);
// The symmetry items and the operator loop (each card followed by its
// centring copies).
void WriteCIFSymmetry(const CrystalRec &c, std::string &out);
// The runs of printing characters of a card joined by commas ("+x,+y,+z").
std::string MakeCommaDelimitedGEP(std::string_view card);
// The notes (UTF-8, paragraphs ended by line ends) as plain ASCII lines:
// each paragraph followed by an empty line, lines longer than 72 broken
// after a blank (never inside a word or number), each character outside ASCII
// written as one "?". In a CIF text field (`textField`) a line that would
// begin with ";" gets a blank in front, so that it cannot end the field.
void WriteTextNote(std::string &out, std::string_view text, bool textField = false);
