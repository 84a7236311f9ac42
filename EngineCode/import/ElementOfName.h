// The element an atom's name means, where a file gives a name and no
// element: a site label ("Fe2", "Wat1"), an atom name of a residue ("CA" of
// ALA), the name of a simulation file's atom. One rule for every reader.
#pragma once

#include "import/ImportTypes.h"

#include <optional>
#include <string>
#include <string_view>

// Water's names are its oxygen: "Wat", "WAT" and "Water" (with anything
// after them, "WatX1"), "HOH" and "OW" (followed by no letter, "HOH2",
// "OW1"). Other names are read as symbols (ElementFromSymbol: "CA1" is
// calcium). `note` gets the Log line when the water rule decided what the
// symbol reading would have read otherwise ("Wat1" is no tungsten).
std::optional<ElementCode> ElementOfLabel(std::string_view label, std::string *note = nullptr);
// The same, the Log line written as a warning of `s` on `line`.
std::optional<ElementCode> ElementOfLabel(ImportedStructure &s, int line, std::string_view label);

// The element of an atom name in a standard amino-acid or nucleotide
// residue (the twenty amino acids, their force-field variants and caps,
// the nucleotides): the name's first letter after any digits ("CA", "HG",
// "1HB", "OP1"), however the writer justified it. None in any other
// residue (UNK among them), for a name in upper and lower case, which
// spells its element ("Pt"), or for a first letter that is no element.
std::optional<ElementCode> ElementOfStandardResidueAtom(std::string_view residue, std::string_view name);
