// The reader of the program's own keyword text format (".ovtx").
//
// A card is the first four characters of a line (upper-case letters) and its
// values follow after blanks; a line beginning with "!" is a comment. Block
// cards (NOTE, TYPE, ATOM, ERRS, OCCU, UISO, UANI, BANI, AVEC) take the data
// lines that follow up to an empty line, a comment, another card or the end.
// Label-keyed blocks match the n-th line of a label to the n-th site of that
// label. Unknown cards and values that cannot be used are skipped, each a
// warning on its line; values the rendering cards check give their caution
// alerts once the structure is built.
#pragma once

#include "StructureRecord.h"
#include "import/ImportTypes.h"

#include <string>
#include <string_view>

// The caution texts of the value checks.
inline constexpr const char *kIllegalReflection = "Illegal reflection coefficient!";
inline constexpr const char *kIllegalPhong = "Illegal Phong exponent!";
inline constexpr const char *kBadDepthCue =
    "Error in depth-cueing settings: coefficients must lie between 0 and 1";

// Fills `crystal` (cleared first) from the text as the reader fills a
// structure of a file, before the build. False, with the reason in
// `message`, when the text holds no structure this reader can build.
bool ParseTextFile(std::string_view text, CrystalRec &crystal, TextFileExtras &extras, std::string *message);
// After the build: turns the view as the written orientation matrix does
// (the cell, not the matrix, gives the metric: the matrix holds three
// decimals) and attaches the vectors to the atoms of their sites at their
// positions. Answers how many vectors found no atom.
int ApplyTextFileExtras(CrystalRec &crystal, const TextFileExtras &extras);

// True when the text looks like the own keyword format (a TITL, MOLE or
// CELL card among its first lines) and not like a refinement program's
// instruction file, which shares the TITL and CELL cards.
bool IsOwnTextFile(std::string_view text);
