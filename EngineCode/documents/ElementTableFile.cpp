#include "ElementTableFile.h"

#include "Alerts.h"
#include "FileBuffer.h"
#include "StoredValueRanges.h"
#include "ListPositions.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The longest part of a line the readers look at; the rest is skipped, so
// that the tail of an overlong line never reads as a line of its own.
constexpr size_t kElementLineLength = 254;
// The longest symbol word taken from an element line.
constexpr size_t kSymbolWordLength = 15;

// The next line without its end (CR, LF or CR LF); false at the end.
bool NextLine(FileBuffer &b, std::string &line) {
  line.clear();
  if (b.cursor >= b.capacity)
    return false;
  while (b.cursor < b.capacity) {
    const uint8_t c = b.start[b.cursor++];
    if (c == '\n')
      break;
    if (c == '\r') {
      if (b.cursor < b.capacity && b.start[b.cursor] == '\n')
        b.cursor++;
      break;
    }
    if (line.size() < kElementLineLength)
      line.push_back(static_cast<char>(c));
  }
  return true;
}

bool StartsWith(const std::string &line, std::string_view prefix) { return line.rfind(prefix, 0) == 0; }

bool IsCommentLine(const std::string &line) { return StartsWith(line, "!") || StartsWith(line, "//"); }

// Bytes as UTF-8, bytes that are not UTF-8 taken as Mac Roman.
std::string AsUtf8(const std::string &bytes) { return Utf16ToUtf8(Utf8ToUtf16(bytes)); }

// The second character of a symbol read from a file or typed: lower case
// kept, upper case lowered (but the H of OH), anything else a blank.
char FileSymbolSecond(char first, char second) {
  if (first == 'O' && second == 'H')
    return 'H';
  if (second >= 'A' && second <= 'Z')
    return static_cast<char>(second - 'A' + 'a');
  if (second >= 'a' && second <= 'z')
    return second;
  return ' ';
}

uint16_t ColourComponent(float fraction) {
  fraction = std::clamp(fraction, 0.0f, 1.0f);
  return static_cast<uint16_t>(fraction * 65535.0f);
}

} // namespace

void FillElementTableFromPrefs(const PrefsRecord &prefs, EditElementsRec &table) {
  table.entries.clear();
  for (const ElementData &row : prefs.elementData) {
    if (row.element < 8225) // blank or empty row ends the table
      break;
    EditElementEntry entry;
    entry.number = static_cast<int32_t>(table.entries.size()) + 1;
    entry.element = row.element;
    entry.radius = row.radius;
    entry.colour = row.colour;
    table.entries.push_back(entry);
  }
  const size_t n = strnlen(prefs.elementNotes, kElementNotesSize);
  table.notes.assign(prefs.elementNotes, n);
}

void SaveElementTableAsDefault(const EditElementsRec &table, PrefsRecord &prefs) {
  std::string notes = table.notes.substr(0, kElementNotesSize - 1);
  // Do not leave half a UTF-8 character at the cut.
  while (!notes.empty() && notes.size() < table.notes.size() &&
         (static_cast<unsigned char>(table.notes[notes.size()]) & 0xC0) == 0x80)
    notes.pop_back();
  std::memset(prefs.elementNotes, 0, kElementNotesSize);
  std::memcpy(prefs.elementNotes, notes.data(), notes.size());
  size_t row = 0;
  for (; row < table.entries.size() && row < prefs.elementData.size(); ++row) {
    prefs.elementData[row].element = table.entries[row].element;
    prefs.elementData[row].colour = table.entries[row].colour;
    prefs.elementData[row].radius = table.entries[row].radius;
  }
  for (; row < prefs.elementData.size(); ++row)
    prefs.elementData[row].element = kBlankElement;
}

bool AddElementEntry(EditElementsRec &table) {
  if (table.entries.size() >= static_cast<size_t>(kMaxElementData)) {
    MyCFStopAlert("Element list is full!", "Maximum of " + std::to_string(kMaxElementData) + " elements allowed");
    return false;
  }
  int32_t largest = 0;
  for (const EditElementEntry &e : table.entries)
    largest = std::max(largest, e.number);
  EditElementEntry entry;
  entry.number = largest + 1;
  table.entries.push_back(entry);
  return true;
}

void RemoveElementEntries(EditElementsRec &table, std::vector<int> positions) {
  EraseListPositions(table.entries, std::move(positions));
}

bool SetElementSymbolFromText(EditElementEntry &entry, std::string_view text) {
  if (text.empty())
    return false;
  char first = text[0];
  char second = text.size() > 1 ? text[1] : ' ';
  if (first >= 'a' && first <= 'z')
    first = static_cast<char>(first - 'a' + 'A');
  if (first < 'A' || first > 'Z')
    return false;
  if (second >= 'A' && second <= 'Z') {
    if (!(first == 'O' && second == 'H'))
      second = static_cast<char>(second - 'A' + 'a');
  } else if (!(second >= 'a' && second <= 'z') && second != ' ') {
    return false;
  }
  const char symbol[3] = {first, second, 0};
  entry.element = TwoCharsToShort(symbol);
  return true;
}

bool SetElementRadiusFromText(EditElementEntry &entry, std::string_view text) {
  const std::string copy(text);
  float value = 0.0f;
  if (std::sscanf(copy.c_str(), "%f", &value) != 1)
    return false;
  // Only radii every structure and file keeps, as in the site list.
  if (!TypedRadiusInRange(value)) {
    MyCFStopAlert(kRadiusOutOfBounds);
    return false;
  }
  entry.radius = value;
  return true;
}

std::string ElementTableFileText(const EditElementsRec &table, std::string_view version) {
  std::string out = "! Element data exported from Orvalisphere " + std::string(version) + "\n";
  out += "! (Any notes must be preceded by the 'NOTE' card;\n";
  out += "! element data must be preceded by the 'ELMT' card.)\n";
  if (!table.notes.empty()) {
    out += "\nNOTE\n";
    int column = 0; // characters on the current line
    for (char c : table.notes) {
      if (c == '\r' || c == '\n') {
        out += '\n';
        column = 0;
      } else if (c == ' ' && column >= kElementNotesWrapColumn) {
        out += '\n';
        column = 0;
      } else {
        out += c;
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) // count characters, not bytes
          ++column;
      }
    }
    out += '\n';
  }
  out += "\nELMT\n";
  for (const EditElementEntry &e : table.entries) {
    char sym[2];
    ShortToTwoChars(e.element, sym);
    if (sym[1] == 0)
      sym[1] = ' ';
    char line[128];
    std::snprintf(line, sizeof line, "%c%c    %5.2f    %10.5f%10.5f%10.5f\n", sym[0], sym[1],
                  static_cast<double>(e.radius), e.colour.red / 65535.0, e.colour.green / 65535.0,
                  e.colour.blue / 65535.0);
    out += line;
  }
  return out;
}

bool WriteElementTableFile(const std::filesystem::path &path, const EditElementsRec &table, std::string_view version,
                           std::string *reason) {
  const std::string text = ElementTableFileText(table, version);
  return WriteFileAtomically(path, std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size()), reason);
}

void ImportElementsData(FileBuffer &file, EditElementsRec &table, std::string_view source) {
  table.entries.clear();
  std::string line;
  while (table.entries.size() < static_cast<size_t>(kMaxElementData) && NextLine(file, line)) {
    if (line.empty() || line[0] < 'A' || line[0] > 'Z')
      continue;
    // The symbol word, limited in length; its first two characters count.
    size_t pos = 0;
    std::string word;
    while (pos < line.size() && !std::isspace(static_cast<unsigned char>(line[pos]))) {
      if (word.size() < kSymbolWordLength)
        word.push_back(line[pos]);
      ++pos;
    }
    // Up to four numbers; a missing or unreadable one keeps its default.
    float numbers[4] = {kDefaultElementRadius, 0.0f, 0.0f, 0.0f};
    bool read[4] = {false, false, false, false};
    const char *p = line.c_str() + pos;
    for (int k = 0; k < 4; ++k) {
      char *end = nullptr;
      const float value = std::strtof(p, &end);
      if (end == p)
        break;
      p = end;
      if (std::isfinite(value)) {
        numbers[k] = value;
        read[k] = true;
      }
    }
    EditElementEntry entry;
    entry.number = static_cast<int32_t>(table.entries.size()) + 1;
    const char first = word[0];
    const char second = word.size() > 1 ? FileSymbolSecond(first, word[1]) : ' ';
    const char symbol[3] = {first, second, 0};
    entry.element = TwoCharsToShort(symbol);
    if (read[0]) {
      entry.radius = numbers[0];
      CheckStoredField(stored::kElementRadius, entry.radius, kDefaultElementRadius, source);
    }
    if (read[1])
      entry.colour.red = ColourComponent(numbers[1]);
    if (read[2])
      entry.colour.green = ColourComponent(numbers[2]);
    if (read[3])
      entry.colour.blue = ColourComponent(numbers[3]);
    table.entries.push_back(entry);
  }
}

void ImportElementsNote(FileBuffer &file, EditElementsRec &table, std::string *elmtLine) {
  if (elmtLine)
    elmtLine->clear();
  std::string text; // lines joined with CR
  std::string line;
  while (NextLine(file, line)) {
    if (StartsWith(line, "ELMT")) {
      if (elmtLine)
        *elmtLine = line;
      break;
    }
    if (IsCommentLine(line))
      continue;
    if (line.empty()) {
      if (!text.empty())
        text += '\r';
      continue;
    }
    if (!text.empty())
      text += '\r';
    text += line;
  }
  // A single line break reflows into a blank; a run of two or more stays as
  // paragraph breaks.
  std::string notes;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      notes += c;
      continue;
    }
    const bool nextBreak = i + 1 < text.size() && text[i + 1] == '\r';
    const bool afterBreak = i > 0 && text[i - 1] == '\r';
    notes += (nextBreak || afterBreak) ? '\n' : ' ';
  }
  while (!notes.empty() && (notes.back() == '\n' || notes.back() == ' '))
    notes.pop_back();
  table.notes = AsUtf8(notes);
}

void ReadElementTableFile(std::span<const uint8_t> bytes, EditElementsRec &table, std::string_view source) {
  FileBuffer file = FileBuffer::ForReading(bytes);
  std::string line;
  bool pending = false; // an ELMT line handed back by the notes reader
  while (pending || NextLine(file, line)) {
    pending = false;
    if (line.size() < 4 || IsCommentLine(line))
      continue;
    if (StartsWith(line, "ELMT")) {
      ImportElementsData(file, table, source);
    } else if (StartsWith(line, "NOTE")) {
      ImportElementsNote(file, table, &line);
      pending = !line.empty();
    }
  }
}

bool DoImportElementFile(const std::filesystem::path &path, EditElementsRec &table) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) {
    MyCFStopAlert("Sorry, there was an error whilst attempting to open the file.");
    return false;
  }
  ReadElementTableFile(bytes, table, path.filename().string());
  return true;
}
