// The native binary document: crystal `OVDF` (".ovdf") and molecule `OVMF`
// (".ovmf").
//
// Layout, little-endian throughout:
//   header   16 bytes: the type tag, u16 format version (9), u16 reserved 0,
//            u32 offset of the file map, u32 length of the file map's payload
//   sections one after another, each a four-character tag, a u32 payload
//            length and the payload
//   file map the section `FMAP`, last: u32 entry count, then per section its
//            tag, the u32 offset of its header and the u32 payload length
// Sections: CRYS cell and symmetry header, SYMM symmetry cards, VIEW
// orientation, range and scale, DISP display settings, PLAN lattice plane,
// SITE sites, SPHR atom types, BSPC bond specifications, CBND custom bond
// styles, ATO7 atoms (u32 count) with their bonds, POLY polyhedra, VECT
// vectors, TBOX annotation objects, NOTU the notes as UTF-16, NOTS the notes with
// their text attributes (UTF-8, the notes pane's own form), WIND the
// window's settings, JPEG a preview picture (optional). The cell frame and
// the depth-sort index are remade by every plot and are not stored.
// A reader skips a section it does not know; it needs only CRYS.
//
// Every count and index read from a file is checked against the bytes that
// remain and against the arrays it points into before anything is
// allocated, so a damaged file is refused rather than trusted.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"
#include "Utilities.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr uint32_t kCrystalDocumentType = FourCharsToLong("OVDF");
inline constexpr uint32_t kMoleculeDocumentType = FourCharsToLong("OVMF");
inline constexpr uint32_t kOldCrystalDocumentType = FourCharsToLong("OVD5");
inline constexpr uint32_t kOldMoleculeDocumentType = FourCharsToLong("OVM5");
inline constexpr uint32_t kTextFileType = FourCharsToLong("TEXT");
inline constexpr uint16_t kDocumentFormatVersion = 9;
inline constexpr size_t kDocumentHeaderSize = 16;

// The preview a document may carry (a JPEG picture of the window).
inline constexpr int kDocumentPreviewWidth = 512;
inline constexpr int kDocumentPreviewHeight = 384;

// The settings of the window a document was saved from.
struct DocumentWindowSettings {
  uint8_t showRulers = 1;
  uint8_t showSidebar = 1;
  uint8_t showNotes = 1;
  uint8_t showAtoms = 1;
  uint16_t sidebarWidth = 240;
  float sidebarSplit = 0.5f;
  Str255 notesFontName;
  uint16_t notesFontSize = 12;
  Rect standardBounds;
  friend bool operator==(const DocumentWindowSettings &, const DocumentWindowSettings &);
};

// What a document carries besides the structure record.
struct DocumentExtras {
  std::string notes; // UTF-8
  // The notes with their attributes, in the notes pane's own form; readers
  // that do not know it keep the plain notes.
  std::string styledNotes;
  bool hasWindowSettings = false;
  DocumentWindowSettings window;
  std::vector<uint8_t> preview; // JPEG bytes; empty when the document has none
};

// The window services the documents need from the structure window, which
// installs them (its notes pane, its title and proxy file); the documents
// do without an entry left empty.
struct DocumentWindowHooks {
  std::function<std::string(WindowRef)> getNotes;
  std::function<void(WindowRef, const std::string &)> setNotes;
  // The notes with their attributes; the setter answers false for a text it
  // cannot read, and the plain notes are used instead.
  std::function<std::string(WindowRef)> getStyledNotes;
  std::function<bool(WindowRef, const std::string &)> setStyledNotes;
  // After a save or an open: the window's file, title (name without suffix).
  std::function<void(WindowRef, const std::filesystem::path &)> setWindowFile;
  // A title a text file gives the structure.
  std::function<void(WindowRef, const std::string &)> setWindowTitle;
  // The preview picture for a save (512 x 384 JPEG bytes), installed by the
  // picture export.
  std::function<std::vector<uint8_t>(WindowRef)> copyWindowPreview;
};
extern DocumentWindowHooks gDocumentWindowHooks;

// The window's notes, plain and with their styles, as its documents carry
// them (saved, history and view documents alike).
DocumentExtras WindowNotesExtras(WindowRef window);
// What a document holds of site roles derived when first needed
// (SitePolyMode): a document another reader may take holds the modes the
// sites show, composed from the given and the derived ones (the caller
// derives the roles first, DeriveDueSiteRoles); an undo state holds the
// modes they were composed with, with the roles still to be derived, and its
// reader derives them from the state's own bonds when they are first needed,
// as the structure it was taken from did. Deriving them is then no change to
// the undo state.
enum class PendingRoles { kSet, kKept };
// The document bytes of a structure, which it leaves as it is. Polyhedra
// still pending are left so (no polyhedra section: this version's reader
// makes them when they are needed), as undo states keep them;
// WriteCrystalFile makes them first.
std::vector<uint8_t> EncodeCrystalDocument(const CrystalRec &crystal, const DocumentExtras &extras,
                                           PendingRoles roles = PendingRoles::kSet);
// The part of document bytes written by EncodeCrystalDocument that holds the
// structure: its sections from the first to the notes, the window settings,
// the preview or the file map, whichever comes first. Empty for bytes too
// short to be a document.
std::span<const uint8_t> DocumentStructureBytes(std::span<const uint8_t> bytes);
// Fills `crystal` (cleared first) and `extras` from document bytes. False
// with the reason in `message` when the bytes are not a document this
// version reads; `crystal` is then left cleared.
// Values outside the table of StoredLimits.h are clamped or take their
// defaults, each with a Log line that names `source` (the file's name).
bool DecodeCrystalDocument(std::span<const uint8_t> bytes, CrystalRec &crystal, DocumentExtras *extras,
                           std::string *message, std::string_view source = {});

// The alert a refused document gives.
inline constexpr const char *kDocumentReadAlert = "The document could not be opened.";
inline constexpr const char *kDocumentWriteAlert = "The document could not be saved.";
// A long read or write shows these in the status window; stopped with
// Escape, it says so in the Log (with the file's name in quotes) instead of
// an alert.
inline constexpr const char *kDocumentReadStatus = "Reading the document...";
inline constexpr const char *kDocumentWriteStatus = "Saving the document...";
inline constexpr const char *kDocumentReadStoppedLog = "Opening stopped: nothing was opened from ";
inline constexpr const char *kDocumentWriteStoppedLog = "Saving stopped: ";
inline constexpr const char *kDocumentWriteStoppedTail = " was left as it was.";
inline constexpr const char *kDocumentStoppedReason = "The reading was stopped.";

// Reads a document into the record; false, with a stop alert naming why,
// on failure, or with a Log line when the user stopped a long read.
bool ReadCrystalFile(CrystalRec *crystal, const std::filesystem::path &file, DocumentExtras *extras = nullptr);
// Writes the structure as a document: to a temporary file in the same
// folder, flushed and renamed over `file` (see files/AtomicFileWriter.h), so
// a failed save keeps the old file. The document is whole: the polyhedra
// still pending are made for it (and are pending again after it, for a save
// changes nothing in the structure). A saved document's folder loses the
// temporary files that earlier, interrupted saves of it left. False, with a
// stop alert, on failure; a long save the user stops leaves the file as it
// was, with a Log line.
bool WriteCrystalFile(CrystalRec &crystal, const DocumentExtras &extras, const std::filesystem::path &file);
// Whether Save may overwrite the document's file. The window notes the
// file's modification time and size when its document is opened or saved;
// DocumentChangedOnDisk is true when the file at that same path now has
// another time or size (another program wrote it). A file that is gone or
// was never noted for the window counts as unchanged.
void NoteDocumentFileOnDisk(WindowRef window, const std::filesystem::path &file);
bool DocumentChangedOnDisk(WindowRef window, const std::filesystem::path &file);
// True when the file exists and is read-only: we have no write permission,
// or its permission bits give no one write access (so it is read-only to
// the administrator too).
bool IsDocumentReadOnly(const std::filesystem::path &file);
// Writes the window's structure, notes and settings; on success the window
// holds its saved document (NoteWindowDocumentSaved: the mark is cleared)
// and is named after the file.
bool DoWriteCrystalFile(WindowRef window, const std::filesystem::path &file);
// Reads a document into the window's structure, its notes unless `keepNotes`
// (and, when asked, the window's settings) without plotting; true on
// success.
bool LoadCrystalFileIntoWindow(WindowRef window, const std::filesystem::path &file, bool windowSettings,
                               bool keepNotes = false);
// Reads a document into the window and plots it; true on success. A long
// open the user stops (reading or plotting) is false, with a Log line.
bool OpenCrystalFile(WindowRef window, const std::filesystem::path &file);
// The same with the document already read (ReadCrystalFile), so that a
// damaged one is refused before the window gives anything up.
bool OpenCrystalFile(WindowRef window, const std::filesystem::path &file, CrystalRec &&read, DocumentExtras &&extras);
// The atom count of a document, from its ATO7 (u32) or ATOM (u16) section.
// False when the header or map fails or the map comes first; "Error
// Repositioning File" when a section cannot be reached.
bool GetNumAtomsInCrystalFile(const std::filesystem::path &file, uint32_t *count);
// The four-character type of a file, by its first bytes (documents) or its
// extension (text formats); non-zero when the file cannot be read or its
// type is not known.
int16_t FSRefGetFileType(const std::filesystem::path &file, uint32_t *type);
