// The fill every reader shares: a structure begun as the own text format
// begins one (cleared, with the preferences' display settings), sites and
// molecule atoms appended within the import limits, the atom types made from
// the elements, and the checks that end a read before the build.
#pragma once

#include "import/ImportTypes.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>

// A file cut inside its last number: its last line has no line end and
// stops at "0." or "1.5e", the rest of the number lost. True, with the
// refusal on that line; every reader asks before it reads.
bool RefuseCutInsideNumber(const ImportSource &source, ImportResult &result);

// A new structure of the file, cleared and given the preferences; null
// beyond kMaxImportStructures, with the error set on `line` and the
// structure counted in `structuresLeftOut` (a reader of several structures
// reads on and answers true: the path opens those it holds).
ImportedStructure *BeginImportedStructure(ImportResult &result, std::string name, int line = 0);
// Clears a record and copies the preferences' display settings into it.
void BeginStructureRecord(CrystalRec &crystal);

// The parts of a file left out (a phase without atoms), one sentence each:
// every structure read says them in the Log. False, the file refused, when
// no part was read.
bool SayPartsLeftOut(ImportResult &result, const std::vector<std::string> &leftOut);

// A warning the Log shows with the file's name: "line N: text" (no line
// number for line 0). Each counts in the window's subtitle.
// One line per file and cause: a longer text is cut at
// kMaxImportWarningLength bytes (on a character's boundary) and ends "...".
void ImportWarning(ImportedStructure &s, int line, std::string_view text);

// The atoms or names a warning is about: the first kMaxNamesInImportWarning
// of them, then how many more ("C1, C2, C3, C4, C5, C6 and 12 more").
class WarningNames {
public:
  void Add(std::string_view name);
  size_t Count() const { return count_; }
  bool Empty() const { return count_ == 0; }
  std::string Text() const;

private:
  std::string named_;
  size_t count_ = 0;
};

// Whether a position read from a file (fractional in a crystal, Cartesian
// in a molecule) lies where a structure holds atoms: every coordinate
// within the stored range (1e6), which a value beyond the float range,
// NaN or infinity never is. Otherwise the Log names the atom's line and
// says it is left out.
bool ImportPositionKept(ImportedStructure &s, const double v[3], int line);

// One more site of a crystal: label (shortened later if too long), one
// element with occupancy 1 and fractional coordinates. Null, with the error
// set, beyond kMaxImportSites over the whole file. An atom at no place a
// structure holds (ImportPositionKept) is left out when the structure is
// finished; until then it keeps its index, so that the reader's indices
// and bonds stay as the file counts them.
AsymmetricUnitRecord *AppendImportSite(ImportResult &result, ImportedStructure &s, std::string_view label,
                                       ElementCode element, const double xyz[3], int line);
// Room for n more sites, their labels and (in a molecule) positions: a
// reader that knows its count asks once, so that the lists are not copied
// as they grow.
void ReserveImportSites(ImportedStructure &s, size_t n);
// One more atom of a molecule at a Cartesian position (A).
AsymmetricUnitRecord *AppendImportAtom(ImportResult &result, ImportedStructure &s, std::string_view label,
                                       ElementCode element, const double cart[3], int line);

// Sets the cell; false (error set) for lengths or angles that make no cell.
bool SetImportCell(ImportedStructure &s, ImportError &error, int line, const double cell[6],
                   const double esd[6] = nullptr);

// One atom type per element of the sites' first elements, in order of first
// use, with the file's look or the element table's.
void MakeAtomTypes(CrystalRec &crystal, std::span<const AtomTypeLook> looks = {});

// Holds the stored values of a read structure to their ranges (the one
// table of limits), each change a warning in the words of a file. False,
// with the refused value in `why`, when it has no cell.
bool CheckReadValues(CrystalRec &crystal, std::vector<std::string> &warnings, std::string *why);

// Empty when the crystal's cell has room for its atoms, else why not: less
// room per atom than any matter leaves. The atoms are those of the cell
// after symmetry, each site's orbit (the operators' count over those that
// leave it in place) with sites at one position counted once.
std::string CellWithoutRoom(CrystalRec &c);
// The same for a cell of `volume` A^3 known to hold `atoms` atoms (a file
// that lists every atom of its cell), or `atLeast` that many: empty when
// they have room.
std::string CellTooSmallFor(double volume, double atoms, bool atLeast = false);

// Ends a read structure before its build: the atoms at no place a
// structure holds taken out (with the file's bonds to them), a crystal's
// cell held to room for its atoms (CellWithoutRoom), labels held to the
// record's size (shortened, kept unique, said once), atom types (with the
// file's looks), a molecule's atoms at their Cartesian positions, and the
// stored values held to their ranges (each change a warning). False, error
// set, when it cannot be built: no site, no cell, or a cell without room
// for its atoms. The program's own text keeps whatever cell the user gave a structure:
// only files of other programs are held to room for their atoms.
// `roomHeld`, when given, is a reader's own last step on the sites, run once
// the origin is chosen and the cell is known to hold its atoms.
enum class CellRoom : uint8_t { Held, AsWritten };
bool FinishImportedStructure(ImportedStructure &s, ImportError &error, CellRoom room = CellRoom::Held,
                             const std::function<void()> &roomHeld = {});
