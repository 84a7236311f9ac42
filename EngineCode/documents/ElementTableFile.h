// The working element table of the Edit Elements window and its text file.
//
// The file is plain UTF-8 text: comment lines starting with "!" or "//", a
// "NOTE" card followed by free notes text, and an "ELMT" card followed by one
// line per element: symbol, radius (A), then red, green and blue as fractions
// of 1. The reader accepts CR, LF or CR LF line ends and takes bytes that are
// not UTF-8 as Mac Roman.
#pragma once

#include "Preferences.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct FileBuffer;

// What a new entry, or a file line without its numbers, gets.
inline constexpr float kDefaultElementRadius = 1.0f;
inline constexpr RGBColor kDefaultElementColour = kRGBDkGrey;
// A blank in the notes written once this many characters stand on the line
// ends the line instead.
inline constexpr int kElementNotesWrapColumn = 73;
inline constexpr const char kElementTableFileName[] = "Element Table.dat";
inline constexpr const char kSaveElementDataError[] = "An error when attempting to save element data.";

struct EditElementEntry {
  int32_t number = 0; // 1 for the first entry made
  ElementCode element = kBlankElement;
  float radius = kDefaultElementRadius; // Angstrom
  RGBColor colour = kDefaultElementColour;
};

// The working table; notes in UTF-8 with "\n" between lines.
struct EditElementsRec {
  std::vector<EditElementEntry> entries; // list order, at most 200
  std::string notes;
};

// The preferences' rows from the first up to the first blank or empty one.
void FillElementTableFromPrefs(const PrefsRecord &prefs, EditElementsRec &table);
// The entries fill the preferences' table from its first row, the rest of
// the rows turn blank; the notes (at most 1023 bytes) become the element notes.
void SaveElementTableAsDefault(const EditElementsRec &table, PrefsRecord &prefs);

// Appends a grey entry of radius 1 with a blank symbol; false, after the
// alert "Element list is full!", at 200 entries.
bool AddElementEntry(EditElementsRec &table);
// Removes the entries at the given list positions.
void RemoveElementEntries(EditElementsRec &table, std::vector<int> positions);
// A typed symbol: false (entry unchanged) for empty or malformed text.
bool SetElementSymbolFromText(EditElementEntry &entry, std::string_view text);
// A typed radius: false (entry unchanged) when no number was read, and
// after the stop alert "Atomic radius is out of bounds" for a radius the site
// list would refuse too (below 0.01 or above 100 A, StoredLimits.h).
bool SetElementRadiusFromText(EditElementEntry &entry, std::string_view text);

// The whole file as text.
std::string ElementTableFileText(const EditElementsRec &table, std::string_view version);
// Writes the file; false with a reason when it cannot be written whole.
bool WriteElementTableFile(const std::filesystem::path &path, const EditElementsRec &table, std::string_view version,
                           std::string *reason);

// The line readers after an "ELMT" card and a "NOTE" card. The notes reader
// hands back the "ELMT" line that ends it in `elmtLine` (empty at the end).
void ImportElementsData(FileBuffer &file, EditElementsRec &table, std::string_view source = {});
void ImportElementsNote(FileBuffer &file, EditElementsRec &table, std::string *elmtLine);
// Reads the cards of a whole file into the table.
void ReadElementTableFile(std::span<const uint8_t> bytes, EditElementsRec &table, std::string_view source = {});
// Reads the file at `path`; false, after the alert, when it cannot be read.
bool DoImportElementFile(const std::filesystem::path &path, EditElementsRec &table);
