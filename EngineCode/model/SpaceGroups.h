// Space-group lookups: symbols typed by a user or read from a file, the
// crystal system and cell constraints of a group, and the detection of a
// space group from a list of symmetry operators.
//
// A table index is a signed 16-bit row number of `gSpacegroups`; -1 means
// not found. Every scan stops at the end row (number 231).
//
// Functions that rewrite a symbol take it as a std::string, or as a fixed
// buffer (the structure's 21-character field), into which at most
// capacity - 1 characters are written back.
#pragma once

#include "SpaceGroupTable.h"
#include "StructureRecord.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// ---- Lookups -------------------------------------------------------------------
// `origin` and `setting` filter the rows when they are not 0.

// The first row with the number read from the start of the text ("%ld").
int16_t GetNumericSpacegroupIndex(std::string_view text, uint8_t origin, uint8_t setting);
// The first row whose Schoenflies symbol ("C2h(5)") equals the text. The
// symbol stands only on the first row of a group, so when no row passes the
// filters the other rows of the same number are searched (origin choice 2 of
// "D2h(2)" is row 228, not "not found").
int16_t GetSchoenfliesSpacegroupIndex(std::string_view text, uint8_t origin, uint8_t setting);
// Hermann-Mauguin symbol, compared without blanks with the short and full
// symbols, then with the other spellings. A text that matches only without
// its blanks is replaced by the row's full symbol. With no origin asked, a
// symbol of groups 17 and 20 is the setting of the International Tables, not
// its partner with the origin a quarter along the screw axis (origin byte).
int16_t GetInternationalSpacegroupIndex(std::string &text, uint8_t origin, uint8_t setting);
// Other spellings ("P m 3 m", the e names "C m c e"): the row that carries
// the synonym's symbol.
int16_t GetSpacegroupSynonym(std::string_view text, uint8_t origin);

// The row's short symbol, or its full symbol when the short one is empty.
std::string_view SpacegroupRowSymbol(int16_t index);
// The row's lattice letter (first character of its full symbol).
char SpacegroupRowLattice(int16_t index);

// ---- Resolving a structure's symbol ------------------------------------------

// Resolves the symbol (number, Schoenflies, Hermann-Mauguin; for an R group
// the row of the axes the angles say) and writes the group's operators as
// cards into `cards` (at most its size), with the lattice letter and the
// count. A number or Schoenflies symbol is replaced by the short symbol. An
// unknown symbol gives P 1, leaves the symbol as it was and answers false.
bool Spaceg(std::string &symbol, uint8_t origin, float alpha, float beta, float gamma,
            char &lattice, uint16_t &count, std::span<Symcard> cards);
bool Spaceg(std::span<char> symbol, uint8_t origin, float alpha, float beta, float gamma,
            char &lattice, uint16_t &count, std::span<Symcard> cards);

// Resolves the symbol by number, Schoenflies, then Hermann-Mauguin; on
// success the symbol becomes the short symbol (the full one when the short
// is empty) and the outputs are filled. False when unknown (system stays 1).
bool GetSpacegroupDetails(std::string &symbol, std::string &schoenflies, std::string &fullSymbol,
                          uint8_t origin, uint8_t setting, int16_t &number, int16_t &system,
                          int16_t &count);
bool GetSpacegroupDetails(std::span<char> symbol, std::string &schoenflies, std::string &fullSymbol,
                          uint8_t origin, uint8_t setting, int16_t &number, int16_t &system,
                          int16_t &count);

// `CrystalSystem` of a row.
int16_t GetCrystalSystem(int16_t index);

// Checks a symbol and gives its crystal system; trigonal groups with an R
// symbol count as rhombohedral axes when the angles say so. A number or
// Schoenflies symbol is replaced by the short symbol. False for an empty or
// unknown symbol (system 1).
bool CheckSymmetry(std::string &symbol, uint8_t origin, float alpha, float beta, float gamma,
                   int16_t &system);
bool CheckSymmetry(std::span<char> symbol, uint8_t origin, float alpha, float beta, float gamma,
                   int16_t &system);

// Sets the cell values that the group's system fixes; `isFree` says which of
// a, b, c, alpha, beta, gamma stay free (1) or are fixed (0).
void GetCellConstraints(std::string &symbol, float &a, float &b, float &c, float &alpha,
                        float &beta, float &gamma, std::array<uint8_t, 6> &isFree);

// True when the group has two origin choices; `shift` (may be null) is the
// shift from the first origin to the second along the axes of the symbol's
// setting ("P n c b" has the shift of "P b a n" with its axes permuted). The
// symbol is not changed.
bool IsDualOriginSpacegroup(std::string_view symbol, float shift[3]);
// A non-zero origin choice becomes 0 when the group has only one origin and
// no row of the symbol carries that origin byte.
void VerifyOriginChoiceForSpacegroup(std::string_view symbol, uint8_t &origin);

// True when the three angles round (half away from zero) to the same whole
// number of degrees.
bool AxesAreRhombohedral(float alpha, float beta, float gamma);

// Normalises a typed or imported symbol in place: an "[origin 1]" or
// "[origin 2]" suffix sets the origin choice; Hermann-Mauguin symbols get a
// blank after the lattice letter, lower-case axis letters, subscripts in
// parentheses closed up ("P 2(1)/c"). The origin choice is reset when the
// group has one origin. False when the text is no symbol at all.
bool ConvertSpaceGroupSymbol(std::string &symbol, uint8_t &origin);
bool ConvertSpaceGroupSymbol(std::span<char> symbol, uint8_t &origin);

// True for a P lattice with one operator (its own card, or a P 1 group).
bool CrystalHasP1Symmetry(CrystalRec &crystal);

// ---- Detection from operators -------------------------------------------------

// The centring letter ("FABCIR" in this order) whose translations pair every
// card with copies of itself; "P" when none does.
char LatticeTypeFromGEPs(std::span<const Symcard> cards, int count);
// Finds the first row whose lattice and operators the cards hold; on success
// sets the symbol, origin choice and lattice letter. The lattice letter is
// set from the cards even when no row matches.
bool GetSpacegroupFromGEPs(std::span<const Symcard> cards, int &count, char &lattice,
                           std::string &symbol, uint8_t &origin);
// The table setting whose operators are exactly the cards (centring
// translations left out, order free) and whose symbol, with its origin
// choice and the cell's angles, gives back these operators and the same
// centring: on success sets the symbol, origin choice and lattice letter.
bool FindSpacegroupOfCards(std::span<const Symcard> cards, char &lattice, float alpha, float beta, float gamma,
                           std::string &symbol, uint8_t &origin);
// The table setting whose operators are the cards about a shifted origin:
// each card (R, t') is an operator (R, t) of the setting with the origin
// moved by `shift`, t' = t + R shift - shift modulo the lattice and its
// centring, so that the image R (x + shift) + t - shift of a position x is
// the card's image of it. Of the settings that fit, the one of the shortest
// shift; on success sets the symbol, origin choice, lattice letter and the
// shift (fractional, each within half a cell).
bool FindSpacegroupOfCardsAboutShiftedOrigin(std::span<const Symcard> cards, char &lattice, float alpha, float beta,
                                             float gamma, std::string &symbol, uint8_t &origin, float shift[3]);
// The setting of the tables whose operators are exactly these (text such as
// "1/2-x,y,z", centring copies included, in any order): its Hermann-Mauguin
// symbol with the origin or axes after a colon where the group has a choice
// ("F d -3 m :2", "R -3 c :H"), its Hall symbol and its number. False when
// the operators are no setting the tables list.
struct NamedSetting {
  std::string symbol, hall;
  int number = 0;
};
bool SettingOfOperators(const std::vector<std::string> &operators, NamedSetting &setting);
// Detects the group of a structure's cards; on success the structure takes
// its operators from the table (card count 0), otherwise its cards are
// reduced to one per centring class. Both outcomes are written to the Log.
bool DetectSpacegroupForCrystal(CrystalRec &crystal);

// Developer dump of every row's short and full symbol to the console.
void PrintSpacegroups();
