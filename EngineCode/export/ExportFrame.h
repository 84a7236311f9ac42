// The frame every text export runs in, and the pieces the text exports share.
//
// An export command takes the structure of a window, checks its own
// preconditions, asks the host's save dialog for a file (proposing the
// window title and the export's suffix), opens the file, formats the whole
// text in memory, writes it and closes the file, with the export's texts in
// the status window. The text goes to a temporary file that replaces the
// chosen one only once it is whole, so a failure leaves an earlier file of
// that name as it was. A file that cannot be opened, written or closed gives
// a stop alert; a cancelled dialog ends the command silently.
//
// The formatters are plain functions of a structure and a title, so tests
// and benchmarks call them without a window. They never change the
// structure they format.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// ---- Commands ----------------------------------------------------------------------

inline constexpr uint32_t kCmdExportCoordinates = FourCharsToLong("xCrd");
inline constexpr uint32_t kCmdExportVisibleCoordination = FourCharsToLong("xVCG");
inline constexpr uint32_t kCmdExportCrystalCoordination = FourCharsToLong("xCoD");
inline constexpr uint32_t kCmdExportBonds = FourCharsToLong("xBON");
inline constexpr uint32_t kCmdExportCIF = FourCharsToLong("xCIF");
inline constexpr uint32_t kCmdExportPDB = FourCharsToLong("xPDB");
inline constexpr uint32_t kCmdExportMacMolecule = FourCharsToLong("xMcM");
inline constexpr uint32_t kCmdExportChem3D = FourCharsToLong("xC3D");
inline constexpr uint32_t kCmdExportDMol = FourCharsToLong("xDMl");
inline constexpr uint32_t kCmdExportXYZ = FourCharsToLong("xXYZ");
inline constexpr uint32_t kCmdExportOwnText = FourCharsToLong("xOVT");

// Runs a text-export command for the window (the front structure window):
// 0 when the command is one of the text exports, kEventNotHandledErr for any
// other command.
int32_t DoExportCommand(WindowRef window, uint32_t command);
// Menu status of the text exports: for xCoD and xCIF sets `enabled` (false
// while the window's structure is a molecule or there is none) and answers
// 0; kEventNotHandledErr for every other command.
int32_t UpdateExportMenuStatus(WindowRef window, uint32_t command, bool *enabled);

// The commands, one per export.
void WriteCoordinatesFile(WindowRef window);
void WriteVisibleCoordinationFile(WindowRef window);
void WriteCrystalCoordinationFile(WindowRef window);
void WriteBondsFile(WindowRef window);
void DoWriteCIFFile(WindowRef window);
void DoWritePDBFile(WindowRef window);
void DoWriteMMFile(WindowRef window);
void DoWriteChem3DFile(WindowRef window);
void DoWriteXYZFile(WindowRef window);
void DoWriteDozurezFile(WindowRef window);

// ---- The frame ---------------------------------------------------------------------

// The texts of one export.
struct TextExportKind {
  const char *prompt;        // the save dialog's prompt
  const char *suffix;        // appended to the window title for the proposed name
  const char *writingStatus; // shown while writing
  const char *closingStatus; // shown before the file is closed; null for none
};

// What a formatter gets from the window.
struct ExportContext {
  std::string title;   // the window title as the window shows it (UTF-8)
  std::string notes;   // the window's notes (UTF-8); empty without a notes pane
  std::string version; // the program's version
};

inline constexpr const char *kExportOpenFailed = "Sorry, there was an error whilst attempting to open the file.";
inline constexpr const char *kExportWriteFailed = "Sorry, there was an error whilst writing the file.";

// The stop alert of an export whose file cannot be opened or written: the
// message, then the file's name and the system's reason ("\"x.cif\" could
// not be written (Permission denied).").
void AlertExportFailed(const char *message, const std::filesystem::path &file, std::string_view reason);
// That explanation alone.
std::string ExportFailureExplanation(const std::filesystem::path &file, std::string_view reason);

// Dialog, file, status and writing for one export. `produce` runs once the
// file is open and answers the whole text; none leaves the file empty.
// True when the file was written.
bool RunTextExport(WindowRef window, const TextExportKind &kind,
                   const std::function<std::optional<std::string>(const ExportContext &)> &produce);

// ---- Shared pieces ---------------------------------------------------------------

// printf-style formatting appended to `out`, always with the C numeric
// locale (a decimal point whatever the user's locale).
void Appendf(std::string &out, const char *format, ...) __attribute__((format(printf, 2, 3)));

// UTF-8 text cut to at most `limit` bytes without splitting a character.
std::string CutUtf8(std::string_view text, size_t limit);
// The title as listings and reports write it: UTF-8, at most 255 bytes
// without splitting a character.
std::string TitleAsText(std::string_view title);
// The title as the CIF, PDB, MacMolecule and own text files write it: ASCII
// of at most 255 characters; a title with any other character is empty.
std::string TitleAsAscii(std::string_view title);

// The two characters of an element code, high byte first ("C ", "Fe").
std::string ElementText(ElementCode code);
// A site's label (at most 7 characters).
std::string_view SiteLabel(const AsymmetricUnitRecord &site);
// The label as listing columns write it: its first six characters, padded
// with blanks on the right to exactly six.
void PadSiteLabel(std::string_view label, char out[7]);
// "Generated by Orvalisphere <version> for Linux" and a line end.
std::string GeneratorLine(std::string_view version);
// The two lines of cell lengths and angles of the listings.
void AppendCellBlock(std::string &out, const CrystalRec &c);
// One line per bond specification, numbered from 1.
void AppendBondSpecLines(std::string &out, const CrystalRec &c);

// Whether an atom is shown: visible, of a visible site.
bool IsAtomShown(const CrystalRec &c, size_t atom);
// Calls f(atomIndex) for every shown atom in site order, then atom order
// within the site.
void ForEachShownAtom(const CrystalRec &c, const std::function<void(size_t)> &f);
size_t CountShownAtoms(const CrystalRec &c);
