// The types every reader of another program's file fills, and the
// descriptor by which a format describes itself. The bottom of the import
// folder: readers and the shared helpers include this header, never the
// path (ImportPath.h) that opens what they read into a window.
//
// A reader is one file `<Format>Reader.cpp` holding the format's code and its
// descriptor:
//   bool Is<Format>File(const ImportSource &source);
//   bool Do<Format>File(const ImportSource &source, ImportResult &result);
//   extern const ImportFormat g<Format>Import{...};
// and one line in the list of formats (ImportFormats.cpp). The detector looks
// at the text only; the entry parses it into one `ImportedStructure` per
// structure (filled through StructureFill.h), or answers false with
// `result.error` set (the line and what is wrong). A reader never touches a
// window: the path builds what it read.
#pragma once

#include "StructureRecord.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A file's text as every reader sees it: inflated when it was gzipped, any
// NUL padding at its end dropped, CR LF and CR line ends made LF.
struct ImportSource {
  std::filesystem::path file; // as the user named it (".gz" included)
  std::string name;           // the name that decides the format (".gz" stripped)
  std::string text;
  // The file's last line had no line end: it may have been cut short.
  bool lastLineOpen = false;
  // What was mended in the bytes before any reader saw them ("line 74: 1
  // stray NUL byte ..."): each a warning of every structure read.
  std::vector<std::string> notes{};
};

// What a text carries beyond the record, applied only once the structure is
// built.
struct TextFileExtras {
  std::string title;
  std::string notes;
  bool hasOrientation = false;
  float orientation[9] = {};
  bool hasViewDirection = false;
  struct PendingVector {
    std::string label;
    float xyz[3] = {};
    float uvw[3] = {};
    RGBColor colour;
    uint8_t style = 2;
  };
  std::vector<PendingVector> vectors;
  std::vector<std::string> warnings; // one Log line each, at most kMaxImportWarnings
  size_t warningsLeftOut = 0;        // beyond that limit
  // Caution alerts the file's values call for, given once it is built.
  std::vector<std::string> cautions;
};

// An atom type's look the file itself gives (the own text format's TYPE
// block); other elements take the element table's.
struct AtomTypeLook {
  ElementCode element = kBlankElement;
  float radius = 0.0f;
  RGBColor colour;
};

// A bond the file gives, between two of its atoms (indices into the sites in
// the order the reader appended them).
struct FileBond {
  uint32_t first = 0, second = 0;
  int line = 0; // of the record that lists it (1-based; 0 for none)
};

// One structure of a file, filled but not yet built.
struct ImportedStructure {
  CrystalRec crystal;
  TextFileExtras extras; // title, notes and the warnings ("line N: ...")
  std::string name;      // block, model or frame name, for the chooser
  // A mineral or common name the file gives (a CIF's _chemical_name_mineral
  // or _chemical_name_common), for the chooser and the Log.
  std::string commonName;
  bool mineralName = false; // commonName names the mineral
  // Molecules: the Cartesian position (A) of each site, in site order.
  std::vector<std::array<float, 3>> cartesian;
  std::vector<FileBond> bonds; // bonds the file gives
  // The format lists bonds beside those it implies (a PDB file's CONECT
  // records, an mmCIF file's _struct_conn): atoms they do not reach are
  // bonded by the automatic rule (FileBonds.h).
  bool bondsBesideImplied = false;
  // Labels as the file writes them, one per site; the fill holds them to the
  // record's size once the file is read.
  std::vector<std::string> labels;
  // The atom types' looks the file gives, used when the fill makes the types.
  std::vector<AtomTypeLook> looks;
  // The line of the first atom left out for lying at no place a structure
  // holds (0: none), which a file left without atoms is refused at.
  int firstLeftOutLine = 0;
  // The multiplicity the file gives each site (0: none given), in site
  // order; empty when the format gives none.
  std::vector<int> multiplicities;
  // A group of two origins named without either: the origin is chosen once
  // the sites are read (ChooseUnnamedOrigin, ImportSymmetry.h); the line
  // and the symbol as the file writes them, for the Log.
  struct UnnamedOrigin {
    int line = 0;
    std::string symbol;
  };
  std::optional<UnnamedOrigin> unnamedOrigin;
};

// Why a file was not opened, as the alert's title tells it.
enum class ImportErrorKind : uint8_t {
  Damaged,  // a reader took the file and refused it ("could not be opened")
  Unknown,  // no reader takes it ("file type not known")
  NoMemory,  // the machine ran out of memory reading or building it
  Cancelled, // the user stopped the read: a Log line, no alert
};

// Where and why a file was refused.
struct ImportError {
  int line = 0; // 1-based; 0 when the fault is not on one line
  std::string what;
  ImportErrorKind kind = ImportErrorKind::Damaged;
};

struct ImportResult {
  std::vector<ImportedStructure> structures;
  ImportError error;
  // Structures of the file left out beyond kMaxImportStructures.
  size_t structuresLeftOut = 0;
};

// The one way a reader refuses a file: `line` is 1-based (0 when the fault
// is not on one line). Always false, so that a reader can
// `return RefuseImport(result, n, "...")`.
bool RefuseImport(ImportResult &result, int line, std::string what);
// A value that should be a number and is not (mistyped, or beyond the
// range a number holds): `the <what> "<text>" of <owner> is not a number`
// (without "of" when no owner is given), the one wording of every reader.
bool RefuseNumber(ImportResult &result, int line, std::string_view what, std::string_view text,
                  std::string_view owner = {});

// A format as it describes itself, beside its reader.
struct ImportFormat {
  const char *name;       // "CIF", for the Log and the refusals
  const char *filterName; // the file dialogs' filter: "CIF files"
  // Extensions, lower case, without the dot, blank-separated ("ins res");
  // each is a row of the extension table, in this order.
  const char *extensions;
  // Names that decide the format without an extension, as the dialogs'
  // filter patterns write them, blank-separated ("POSCAR* CONTCAR*"); the
  // same patterns are the name rules, so the two cannot disagree.
  const char *namePatterns;
  bool (*detect)(const ImportSource &);
  bool (*read)(const ImportSource &, ImportResult &);
  // Content that marks the format under any name, damaged as it may be (a
  // SHELX file with a broken CELL saved as ".txt"): once no detector takes
  // a text, the first format it marks reads it, to name the fault. None for
  // a format whose content alone cannot tell it from others.
  bool (*marks)(const ImportSource &) = nullptr;
};
