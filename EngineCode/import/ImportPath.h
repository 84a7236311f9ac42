// The one road by which a structure file that is not a native document is
// opened: the file-format table, each format's detector and entry, the
// inflation of ".gz" files, the choice among the structures of a file that
// holds several, and the fill-and-build every reader shares
// (StructureFill.h).
//
// A reader is one file `<Format>Reader.cpp` with two functions:
//   bool Is<Format>File(const ImportSource &source);
//   bool Do<Format>File(const ImportSource &source, ImportResult &result);
// The detector looks at the text only; the entry parses it into one
// `ImportedStructure` per structure (filled through StructureFill.h), or
// answers false with `result.error` set (the line and what is wrong). A
// reader never touches a window: the path builds what it read.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"
#include "import/OwnTextReader.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// ---- What a reader is given and gives back ---------------------------------------

// A file's text as every reader sees it: inflated when it was gzipped, any
// NUL padding at its end dropped, CR LF and CR line ends made LF.
struct ImportSource {
  std::filesystem::path file; // as the user named it (".gz" included)
  std::string name;           // the name that decides the format (".gz" stripped)
  std::string text;
};

// A bond the file gives, between two of its atoms (indices into the sites in
// the order the reader appended them).
struct FileBond {
  uint32_t first = 0, second = 0;
};

// One structure of a file, filled but not yet built.
struct ImportedStructure {
  CrystalRec crystal;
  TextFileExtras extras; // title, notes and the warnings ("line N: ...")
  std::string name;      // block, model or frame name, for the chooser
  std::string formula;   // as the file gives it; empty: worked out from the sites
  // Molecules: the Cartesian position (A) of each site, in site order.
  std::vector<std::array<float, 3>> cartesian;
  std::vector<FileBond> bonds; // bonds the file gives
  // Labels as the file writes them, one per site; the fill holds them to the
  // record's size once the file is read.
  std::vector<std::string> labels;
};

// Where and why a file was refused.
struct ImportError {
  int line = 0; // 1-based; 0 when the fault is not on one line
  std::string what;
};

struct ImportResult {
  std::vector<ImportedStructure> structures;
  ImportError error;
  // Structures of the file left out beyond kMaxImportStructures.
  size_t structuresLeftOut = 0;
};

// ---- The format table --------------------------------------------------------

struct OVFileFormat {
  uint32_t type;         // four-character code; 'STOP' ends the table
  const char *extension; // lower case, without the dot
  int16_t format;        // the format number the dispatch runs
};
extern const OVFileFormat gOVFileFormatData[];

// Format numbers.
inline constexpr int16_t kOwnTextFormat = 1;
inline constexpr int16_t kCIFFormat = 2;
inline constexpr int16_t kPDBFormat = 3;
inline constexpr int16_t kSHELXFormat = 4;
inline constexpr int16_t kVASPFormat = 5;
inline constexpr int16_t kWIEN2kFormat = 6;
inline constexpr int16_t kCSSRFormat = 7;
inline constexpr int16_t kGROMACSFormat = 8;
inline constexpr int16_t kLAMMPSFormat = 9;
inline constexpr int16_t kDLPOLYFormat = 10;
inline constexpr int16_t kXYZFormat = 11;
inline constexpr int16_t kMOLFormat = 12;
inline constexpr int16_t kDMolFormat = 13;
inline constexpr int16_t kChem3DFormat = 14;
inline constexpr int16_t kMacMoleculeFormat = 15;

// A reader: its format number, the name the Open dialog's filter shows, its
// detector and its entry. `gImportReaders` lists them in the fixed order in
// which the detectors run when the name decides nothing.
struct ImportReader {
  int16_t format;
  const char *filterName;
  bool (*detect)(const ImportSource &);
  bool (*read)(const ImportSource &, ImportResult &);
};
const std::vector<ImportReader> &ImportReaders();

// The format number of the first row whose extension matches; 0 for none.
// ".gz" is looked through to the name before it.
int16_t GetFileFormatForExtension(const std::filesystem::path &file);
// The format a file's name alone decides: names without an extension
// (POSCAR, CONTCAR, CONFIG, REVCON, data.*) before the table; 0 for none.
int16_t GetFileFormatForName(std::string_view name);

// The Open dialog's filters: "All structure files" first, then one per
// readable format, each with its patterns ("*.cif", "POSCAR*", ...).
struct OpenFileFilter {
  std::string name;
  std::vector<std::string> patterns;
};
std::vector<OpenFileFilter> StructureFileFilters();

// ---- Reading ------------------------------------------------------------------------

// The text of a file as readers see it (see ImportSource). False, with the
// reason, when it cannot be read or inflated, or would be too large.
bool LoadImportSource(const std::filesystem::path &file, ImportSource &source, std::string *reason);
// Makes bytes read text: inflated when they are gzip, padding dropped, line
// ends made LF.
bool NormaliseImportText(std::string_view bytes, std::string &text, std::string *reason);

// Reads every structure of a file that is not a native document, without
// building any: by the format its name decides, else by every detector in
// order. False, with the alert's explanation in `why`, when no reader takes
// the file or its reader refuses it.
bool ReadStructureFile(const std::filesystem::path &file, ImportResult &result, std::string *why);

// The alert text of a refused file: the file, the line and what is wrong.
std::string ImportRefusal(const std::filesystem::path &file, const ImportError &error);
inline constexpr const char *kUnknownFileType = "The file type is not known.";
inline constexpr const char *kFileNotOpened = "The file could not be opened.";

// ---- Several structures in one file -------------------------------------------

// What the chooser lists of each structure.
struct StructureSummary {
  std::string name;
  std::string formula;
  std::string cell;       // "a b c alpha beta gamma", or "molecule"
  std::string spaceGroup; // empty for a molecule
};
StructureSummary SummariseStructure(const ImportedStructure &s);

// How the open path treats a file of several structures.
enum class ImportChoice : uint8_t {
  Ask,       // the chooser asks (a user's open)
  TakeFirst, // the first, with a Log line naming how many others there are
};

// Installed by the shell. `choose` answers the indices picked (empty:
// cancelled); `openInNewWindow` builds one more structure of the file in a
// window of its own. Without them the first structure is taken.
struct ImportHooks {
  std::function<std::vector<size_t>(const std::filesystem::path &, const std::vector<StructureSummary> &)> choose;
  std::function<bool(const std::filesystem::path &, ImportedStructure &&)> openInNewWindow;
};
extern ImportHooks gImportHooks;

// ---- Opening ------------------------------------------------------------------------

// Opens a file that is not a binary document into the window: reads it,
// lets the user choose when it holds several structures, and builds the
// (first) chosen one in the window, the others through the hooks. False,
// with a stop alert naming the file, the line and the fault, when nothing
// was opened; the window is then left as it was.
bool OpenTextFile(WindowRef window, const std::filesystem::path &file, ImportChoice choice = ImportChoice::Ask);

// Reads a text file without building it: false, with the stop alert
// OpenTextFile gives, when it would be refused.
bool CheckStructureFile(const std::filesystem::path &file);

// Builds one read structure in the window: the record, title and notes, the
// build, the automatic bonds and polyhedra when the file gives no bond
// specifications, the file's own bonds, then the Log lines and the warnings
// subtitle. `file` names the warnings.
bool BuildImportedStructure(WindowRef window, const std::filesystem::path &file, ImportedStructure &&structure);

// ---- Our documents and text files -----------------------------------------------

// The one decision, for every way a file comes in, of how it is opened.
enum class FileOpenKind : uint8_t {
  Unreadable, // missing, or named a document without being one
  Document,   // a native crystal or molecule document
  Text,       // anything else: the import path decides
};
FileOpenKind GetFileOpenKind(const std::filesystem::path &file);
// Opens any structure file into the window by that decision.
bool OpenStructureFile(WindowRef window, const std::filesystem::path &file, ImportChoice choice);
