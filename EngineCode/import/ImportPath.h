// The one road by which a structure file that is not a native document is
// opened: the formats (each described beside its reader, ImportTypes.h) and
// what is derived from them (the extension table, the name rules, the file
// dialogs' filters), the inflation of ".gz" files, the choice among the
// structures of a file that holds several, and the build into a window of
// what a reader filled.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"
#include "import/ImportHooks.h"
#include "documents/CrystalDocument.h"
#include "import/ImportTypes.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// ---- The formats ---------------------------------------------------------------

// Every format the path reads, in the order in which the detectors run when
// the name decides nothing (ImportFormats.cpp).
const std::vector<const ImportFormat *> &ImportFormats();
// The format of that name ("CIF", "VASP"); null for none.
const ImportFormat *FindImportFormat(std::string_view name);

// The extension table, derived from the formats: a row per extension, in
// the formats' order, ended by a 'STOP' row.
struct OVFileFormat {
  uint32_t type;               // four-character code: the extension upper-cased
  const char *extension;       // lower case, without the dot
  const ImportFormat *format;  // the reader the row runs
};
const std::vector<OVFileFormat> &FileFormatTable();

// The format of the first row whose extension matches; null for none.
// ".gz" is looked through to the name before it.
const ImportFormat *GetFileFormatForExtension(const std::filesystem::path &file);
// The format a file's name alone decides by the formats' name patterns
// (POSCAR*, CONFIG*, data.*), tried before the extension; null for none.
const ImportFormat *GetFileFormatForName(std::string_view name);
// A file name against a filter pattern ("*.cif", "POSCAR*"): '*' any run,
// '?' one character, case ignored.
bool MatchesFilePattern(std::string_view name, std::string_view pattern);

// The Open dialog's filters: "All structure files" first, then one per
// readable format, each with its patterns ("*.cif", "POSCAR*", ...).
struct OpenFileFilter {
  std::string name;
  std::vector<std::string> patterns;
};
std::vector<OpenFileFilter> StructureFileFilters();

// ---- Reading ------------------------------------------------------------------------

// A file's name without ".gz": what names its format and its window.
std::string NameWithoutGzip(const std::filesystem::path &file);

// The text of a file as readers see it (see ImportSource). False, with the
// reason, when it cannot be read or inflated, or would be too large.
bool LoadImportSource(const std::filesystem::path &file, ImportSource &source, std::string *reason);
// Makes bytes read text: inflated when they are gzip (every member), a
// byte-order mark and padding dropped, a few stray NULs made blanks, line
// ends made LF. What was mended beyond that goes to `notes`. False, with the
// reason, for bytes that are no text.
bool NormaliseImportText(std::string_view bytes, std::string &text, std::string *reason,
                         bool *lastLineOpen = nullptr, std::vector<std::string> *notes = nullptr);

// Reads every structure of a file that is not a native document, without
// building any: by the format its name decides, else by every detector in
// order. False, with the alert's explanation in `why` and the kind of fault
// in `result.error`, when no reader takes the file or its reader refuses it,
// when memory ran out (NoMemory), or when the user stopped the read with
// the cancel key (Cancelled; `why` is then the Log line). The read polls
// the cancel key and shows the status window when gShowProgress is set
// (ImportReadPoll).
bool ReadStructureFile(const std::filesystem::path &file, ImportResult &result, std::string *why);

// The alert text of a refused file: the file, the line and what is wrong.
std::string ImportRefusal(const std::filesystem::path &file, const ImportError &error);
inline constexpr const char *kUnknownFileType = "The file type is not known.";
inline constexpr const char *kFileNotOpened = "The file could not be opened.";
// The stop alert's title for a kind of fault.
const char *ImportAlertTitle(ImportErrorKind kind);

// ---- Several structures in one file -------------------------------------------

// ---- Opening ------------------------------------------------------------------------

// The one decision, for every way a file comes in, of how it is opened.
enum class FileOpenKind : uint8_t {
  Unreadable, // missing, or named a document without being one
  Document,   // a native crystal or molecule document
  Text,       // anything else: the import path decides
};
FileOpenKind GetFileOpenKind(const std::filesystem::path &file);

// A file read before anything of the window it goes to is given up: how it
// opens and, for a file of another program, every structure it holds; for
// a document, its structure and notes.
struct HeldStructureFile {
  std::filesystem::path file;
  FileOpenKind kind = FileOpenKind::Unreadable;
  ImportResult read; // a text file's structures, not yet built
  CrystalRec document;
  DocumentExtras documentExtras;
};
// Decides how the file opens and reads it once (a document through its own
// reader): false, with a stop alert naming the file and the fault (for a
// text file the line too, titled by the kind of fault; "No Memory" when
// memory ran out), when the file would be refused, or with a Log line when
// the user stopped the read.
bool ReadHeldFile(const std::filesystem::path &file, HeldStructureFile &held);
// Opens what was read into the window: a document through its own reader,
// a text file's structures built as OpenTextFile builds them. False, with
// the alert, when nothing was opened ("No Memory" when memory ran out).
bool OpenHeldFile(WindowRef window, HeldStructureFile &&held, ImportChoice choice);
// Both, for a window whose structure may go whatever the file holds.
bool OpenStructureFile(WindowRef window, const std::filesystem::path &file,
                       ImportChoice choice = ImportChoice::TakeFirst);

// Opens a file that is not a binary document into the window: reads it,
// lets the user choose when it holds several structures, and builds the
// (first) chosen one in the window, the others through the hooks. False,
// with a stop alert naming the file, the line and the fault, when nothing
// was opened; the window is then left as it was.
bool OpenTextFile(WindowRef window, const std::filesystem::path &file, ImportChoice choice = ImportChoice::Ask);

// Builds one read structure in the window: the record, title and notes, the
// build, the automatic bonds and polyhedra when the file gives no bond
// specifications, the file's own bonds, the text's view and vectors, then
// one plot, the Log lines, the cautions and the warnings subtitle. `file`
// names the warnings.
bool BuildImportedStructure(WindowRef window, const std::filesystem::path &file, ImportedStructure &&structure);

// Builds the chosen structures of a file read: the first (or the one the
// user picks in the chooser) in the window, the others through the hooks.
// False when nothing was built.
bool BuildChosen(WindowRef window, const std::filesystem::path &file, ImportResult &result, ImportChoice choice);
