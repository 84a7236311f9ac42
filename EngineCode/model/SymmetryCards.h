// Symmetry operators in their three forms, and the lattice centring.
//
// A symmetry operator is held as
//   - a card (`Symcard`, StructureRecord.h): 25 characters and a NUL, three
//     7-character fields for the new x, y and z at positions 0, 9 and 18, two
//     blanks between them. A field is a translation in 3 characters ("1/2",
//     three blanks for none) followed by a rotation term of up to 4 ("-x",
//     "+x-y"), padded with blanks. The identity is "   +x       +y       +z  ".
//     Structures, documents, text formats and the symmetry editors use cards.
//   - a general equivalent position (`GEP`): the numeric form cell
//     generation computes with, x'_i = sum_j rotation[i][j] * x_j + trans_i.
//   - a 24-bit code (`EncodedSymmCard`): six hexadecimal digits, two per row
//     x, y, z (x in the highest byte); per row the high digit indexes the
//     translation table and the low digit the rotation table below. The
//     space-group table stores its operators this way. 0x000204 is x, y, z.
//
//   index  translation  rotation (other spelling)
//   0      (blanks)     +x
//   1      1/6          -x
//   2      1/4          +y
//   3      1/3          -y
//   4      1/2          +z
//   5      2/3          -z
//   6      3/4          +x-y  (-y+x)
//   7      5/6          -x+y  (+y-x)
//
// A card can also carry the eighths 1/8, 3/8, 5/8 and 7/8, which the code
// cannot; translations that neither can hold (1/12, 0.1) are never turned
// into another fraction: they are left out and a red warning goes to the Log.
#pragma once

#include "StructureRecord.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

using EncodedSymmCard = uint32_t;

inline constexpr EncodedSymmCard kIdentityCode = 0x000204;
inline constexpr char kIdentityCard[] = "   +x       +y       +z  ";
inline constexpr int kSymcardFieldWidth = 7;
inline constexpr int kSymcardFieldStart[3] = {0, 9, 18};
// Characters of a card text that `Symcard2GEP` reads at most.
inline constexpr int kMaxSymcardParse = 68;
// Operators a structure keeps once centring copies are removed.
inline constexpr int kMaxDistinctOps = 48;
// Two translations are the same when they differ by whole numbers within this.
inline constexpr double kTranslationTolerance = 1e-5;
// A card is the identity when its translations add up to less than this.
inline constexpr double kIdentityTranslationTolerance = 0.0001;

struct GEP {
  int16_t rotation[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}; // row by row, -1, 0 or 1
  double translation[3] = {0.0, 0.0, 0.0};                     // fractions of the cell
};

// The text of a card, up to its NUL.
std::string_view CardText(const Symcard &card);
// A card holding the text (cut to 25 characters).
Symcard MakeSymcard(std::string_view text);

// Parses a card, or any text of three comma- or blank-separated fields with
// signed axis terms and fractions or decimals, into `gep` (a text holding a
// comma is split at commas only). Unknown characters
// are ignored; a field without an axis term leaves its rotation row zero.
void Symcard2GEP(std::string_view card, GEP &gep);
inline void Symcard2GEP(const Symcard &card, GEP &gep) { Symcard2GEP(CardText(card), gep); }

// Writes the card of an operator. Translations are taken modulo 1; one that a
// card cannot hold is left out with a red warning in the Log, and the answer
// is false.
bool GEP2Symcard(const GEP &gep, Symcard &card);

// The code of a card: per field the translation text (first three
// characters) and the rotation term (from the fourth character up to the
// first blank) looked up in the tables; unknown texts give index 0.
EncodedSymmCard EncodeSymmCard(std::string_view card);
inline EncodedSymmCard EncodeSymmCard(const Symcard &card) { return EncodeSymmCard(CardText(card)); }
// Writes the card "%3s%-4s  %3s%-4s  %3s%-4s" of a code. Digits above 7 (a
// damaged code) read as 0 and make the answer false.
bool DecodeSymmCard(EncodedSymmCard code, Symcard &card);

// Normalises free text (commas or blanks between fields, upper-case axes,
// fractions or decimals, translation before or after the axes: "-x+1/2, y,
// 0.5+z", "1/2-X Y Z") into a card. False, with a red warning in the Log,
// when a translation cannot be held by a card and was left out.
bool UpdateSymmCard(std::string_view text, Symcard &card);

// Copies the axis letters (lower case), signs, slashes and digits 1-9 of the
// three comma- or blank-separated fields of a card into three parts of at
// most 7 characters. Answers the length of the last part.
int SplitSymmCard(std::string_view card, std::array<std::string, 3> &parts);

// The centring translations of a lattice letter: the zero vector first, then
// those of A, B, C, I, F or R (hexagonal axes, obverse); one vector for P and
// any other letter.
inline constexpr int kMaxCentringVectors = 4;
using CentringVectors = std::array<std::array<double, 3>, kMaxCentringVectors>;
void Bravais(char letter, int16_t &count, CentringVectors &vectors);

// The lattice letter whose centring translations apply to a structure: "P"
// for an R lattice on rhombohedral axes.
char EffectiveLatticeLetter(char letter, float alpha, float beta, float gamma);

bool SymmOpsHaveSameRotation(const GEP &a, const GEP &b);

// True when the two translations differ by whole numbers only.
bool SameTranslationModuloLattice(const double a[3], const double b[3]);

// Adds to the structure's cards the copies of each card by the non-zero
// centring vectors of its lattice, skipping copies already present, while
// there is room for 192 cards.
void AddLatticeTranslationsForCrystal(CrystalRec &crystal);
// Reduces the structure's cards to one per centring class, in their first
// order, keeping at most 48 (more gives a red warning in the Log); a kept
// card whose translation is a centring vector loses it.
void RemoveLatticeTranslationsForCrystal(CrystalRec &crystal);
// Puts the identity card first when no card is the identity; the other cards
// move down one slot, rewritten in canonical form. False when the 192 slots
// are full and the identity is missing (the list is left as it was).
bool CheckIdentityOperatorForCrystal(CrystalRec &crystal);
