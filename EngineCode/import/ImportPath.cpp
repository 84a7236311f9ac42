#include "import/ImportPath.h"

#include "Alerts.h"
#include "BondSearch.h"
#include "MemoryBudget.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "documents/CrystalDocument.h"
#include "import/ImportText.h"
#include "import/StructureFill.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cctype>
#include <new>

ImportHooks gImportHooks;

const ImportFormat *FindImportFormat(std::string_view name) {
  for (const ImportFormat *f : ImportFormats())
    if (name == f->name)
      return f;
  return nullptr;
}

namespace {

// The blank-separated words of a descriptor's list.
std::vector<std::string> Words(const char *list) {
  std::vector<std::string> out;
  std::string word;
  for (const char *p = list; ; p++) {
    if (*p == ' ' || *p == '\0') {
      if (!word.empty())
        out.push_back(std::move(word));
      word.clear();
      if (*p == '\0')
        break;
    } else {
      word += *p;
    }
  }
  return out;
}

} // namespace

const std::vector<OVFileFormat> &FileFormatTable() {
  static const std::vector<OVFileFormat> table = [] {
    // The rows keep the extensions' text alive for the program's life.
    static std::vector<std::string> extensions;
    std::vector<std::pair<size_t, const ImportFormat *>> rows;
    for (const ImportFormat *f : ImportFormats())
      for (std::string &ext : Words(f->extensions)) {
        extensions.push_back(std::move(ext));
        rows.emplace_back(extensions.size() - 1, f);
      }
    std::vector<OVFileFormat> out;
    for (const auto &[k, f] : rows) {
      char code[5] = "    ";
      for (size_t i = 0; i < 4 && i < extensions[k].size(); i++)
        code[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(extensions[k][i])));
      out.push_back({FourCharsToLong(code), extensions[k].c_str(), f});
    }
    out.push_back({FourCharsToLong("STOP"), "", nullptr});
    return out;
  }();
  return table;
}

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char ch) { return std::tolower(ch); });
  return out;
}

const ImportFormat *FormatOfExtension(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos)
    return nullptr;
  const std::string ext = Lower(name.substr(dot + 1));
  for (const OVFileFormat &row : FileFormatTable())
    if (row.format && ext == row.extension)
      return row.format;
  return nullptr;
}

} // namespace

bool MatchesFilePattern(std::string_view name, std::string_view pattern) {
  // Backtracking on the last '*' only: linear for the patterns filters use.
  size_t n = 0, p = 0, star = std::string_view::npos, mark = 0;
  auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && same(pattern[p], name[n])))) {
      n++, p++;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++, mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1, n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*')
    p++;
  return p == pattern.size();
}

const ImportFormat *GetFileFormatForName(std::string_view name) {
  for (const ImportFormat *f : ImportFormats())
    for (const std::string &pattern : Words(f->namePatterns))
      if (MatchesFilePattern(name, pattern))
        return f;
  return nullptr;
}

std::string NameWithoutGzip(const std::filesystem::path &file) {
  std::string name = file.filename().string();
  if (Lower(name).ends_with(".gz"))
    name.erase(name.size() - 3);
  return name;
}

const ImportFormat *GetFileFormatForExtension(const std::filesystem::path &file) {
  return FormatOfExtension(NameWithoutGzip(file));
}

std::vector<OpenFileFilter> StructureFileFilters() {
  std::vector<OpenFileFilter> filters;
  OpenFileFilter all{"All structure files", {"*.ovdf", "*.ovmf"}};
  filters.push_back({"Crystal documents", {"*.ovdf"}});
  filters.push_back({"Molecule documents", {"*.ovmf"}});
  for (const ImportFormat *format : ImportFormats()) {
    OpenFileFilter f{format->filterName, {}};
    for (const std::string &ext : Words(format->extensions)) {
      f.patterns.push_back("*." + ext);
      f.patterns.push_back("*." + ext + ".gz");
    }
    for (std::string &pattern : Words(format->namePatterns))
      f.patterns.push_back(std::move(pattern));
    if (f.patterns.empty())
      continue;
    all.patterns.insert(all.patterns.end(), f.patterns.begin(), f.patterns.end());
    filters.push_back(std::move(f));
  }
  filters.insert(filters.begin(), std::move(all));
  return filters;
}

namespace {

// An alert quotes at most a line's worth of the file: a word, or a quoted
// run, longer than that is cut with an ellipsis (at a character's start, so
// that UTF-8 stays whole), and so is the whole explanation.
constexpr size_t kQuotedChars = 80;
constexpr size_t kExplanationChars = 4 * kQuotedChars;

std::string Cut(std::string_view text, size_t most) {
  if (text.size() <= most)
    return std::string(text);
  size_t n = most - 1;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xc0) == 0x80)
    n--;
  return std::string(text.substr(0, n)) + "\u2026";
}

std::string CutQuotes(std::string_view what) {
  std::string out;
  size_t i = 0;
  while (i < what.size()) {
    // A quoted run, quotes included, or else a blank-separated word.
    size_t j;
    if (what[i] == '"') {
      j = what.find('"', i + 1);
      j = j == std::string_view::npos ? what.size() : j + 1;
    } else {
      j = what.find_first_of(" \"", i);
      j = j == std::string_view::npos ? what.size() : std::max(j, i + 1);
    }
    const std::string_view run = what.substr(i, j - i);
    if (run.size() > kQuotedChars + 2 && run.front() == '"')
      out += Cut(run.substr(0, run.size() - (run.back() == '"' && run.size() > 1)), kQuotedChars + 1) + '"';
    else
      out += Cut(run, kQuotedChars);
    i = j;
  }
  return Cut(out, kExplanationChars);
}

} // namespace

std::string ImportRefusal(const std::filesystem::path &file, const ImportError &error) {
  std::string what = CutQuotes(error.what);
  if (what.size() > 1 && std::isupper(static_cast<unsigned char>(what[0])) &&
      std::islower(static_cast<unsigned char>(what[1])))
    what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
  if (!what.empty() && what.back() != '.')
    what += '.';
  std::string text = "\"" + file.filename().string() + "\" could not be read";
  if (error.line > 0)
    text += " at line " + std::to_string(error.line);
  return text + ": " + what;
}

namespace {

// The read itself: every allocation failure (the engine's steps it calls
// let theirs pass, MemoryBudget.h) and the user's stop unwind out of it to
// ReadStructureFile.
bool ReadSource(const std::filesystem::path &file, ImportResult &result, std::string *why) {
  ImportSource source;
  std::string reason;
  if (!LoadImportSource(file, source, &reason)) {
    result.error = {0, reason, ImportErrorKind::Damaged};
    if (why)
      *why = ImportRefusal(file, result.error);
    return false;
  }
  // The name, then the extension, then the content: a reader whose
  // detector turns the text down passes it on.
  const ImportFormat *byExtension = FormatOfExtension(source.name);
  // A format's reader, on a text its detector took.
  auto readAs = [&](const ImportFormat &format) {
    result = ImportResult{};
    if (format.read(source, result) && !result.structures.empty()) {
      // What was mended in the bytes is said with each structure.
      for (ImportedStructure &s : result.structures)
        for (const std::string &note : source.notes)
          ImportWarning(s, 0, note);
      return true;
    }
    if (result.error.what.empty())
      result.error.what = "it holds no structure";
    if (why)
      *why = ImportRefusal(file, result.error);
    result.structures.clear();
    return false;
  };
  std::vector<const ImportFormat *> tried;
  auto attempt = [&](const ImportFormat &format) -> std::optional<bool> {
    if (std::find(tried.begin(), tried.end(), &format) != tried.end())
      return std::nullopt;
    tried.push_back(&format);
    if (!format.detect(source))
      return std::nullopt;
    return readAs(format);
  };
  for (const ImportFormat *format : {GetFileFormatForName(source.name), byExtension})
    if (format)
      if (auto done = attempt(*format))
        return *done;
  for (const ImportFormat *format : ImportFormats())
    if (auto done = attempt(*format))
      return *done;
  // No detector took the text as it stands: the first format whose marks
  // it bears reads it, to name the fault.
  for (const ImportFormat *format : ImportFormats())
    if (format->marks && format->marks(source))
      return readAs(*format);
  result = ImportResult{};
  result.error = {0, "", ImportErrorKind::Unknown};
  if (why) {
    *why = "\"" + file.filename().string() + "\" is " +
           (byExtension ? std::string("not a file of its kind (") + byExtension->filterName + "), nor any other"
                      : std::string("no")) +
           " structure file this version reads.";
  }
  return false;
}

// The alert of a file that needed more memory than there was, wherever it
// ran out.
constexpr const char *kNoMemoryText = "there is not enough memory to open it";

} // namespace

bool ReadStructureFile(const std::filesystem::path &file, ImportResult &result, std::string *why) {
  result = ImportResult{};
  try {
    const PassMemoryFailures pass;
    const ImportReadPoll poll;
    if (gShowProgress)
      WriteStatus("Reading \"" + file.filename().string() + "\"\u2026");
    return ReadSource(file, result, why);
  } catch (const std::bad_alloc &) {
    result = ImportResult{};
    result.error = {0, kNoMemoryText, ImportErrorKind::NoMemory};
  } catch (const ImportStopped &) {
    result = ImportResult{};
    result.error = {0, "", ImportErrorKind::Cancelled};
  }
  if (why)
    *why = result.error.kind == ImportErrorKind::Cancelled
               ? "Opening \"" + file.filename().string() + "\" cancelled: nothing was opened."
               : ImportRefusal(file, result.error);
  return false;
}

namespace {

// The refusal of a read: a stop alert, or for the user's own stop a Log
// line, as a cancelled command says.
void SayRefused(ImportErrorKind kind, const std::string &why) {
  if (kind == ImportErrorKind::Cancelled)
    FWrite(why);
  else
    MyCFStopAlert(ImportAlertTitle(kind), why);
}

bool ReadOrRefuse(const std::filesystem::path &file, ImportResult &result) {
  std::string why;
  if (ReadStructureFile(file, result, &why))
    return true;
  SayRefused(result.error.kind, why);
  return false;
}

// The build of what was read (or a document's read, or the look at a file
// that decides how it opens), in which an allocation that fails, in the
// engine's steps too (MemoryBudget.h), gives the same alert as one that
// fails in the read, once what was read is let go; what is left half built
// in the window is its caller's to clear, as for any build that stops.
template <typename Build> bool BuildOrRefuse(const std::filesystem::path &file, ImportResult &read, Build build) {
  try {
    const PassMemoryFailures pass;
    return build();
  } catch (const std::bad_alloc &) {
    read = ImportResult{};
  }
  SayRefused(ImportErrorKind::NoMemory, ImportRefusal(file, {0, kNoMemoryText, ImportErrorKind::NoMemory}));
  return false;
}

} // namespace

bool OpenTextFile(WindowRef window, const std::filesystem::path &file, ImportChoice choice) {
  ImportResult result;
  return ReadOrRefuse(file, result) &&
         BuildOrRefuse(file, result, [&] { return BuildChosen(window, file, result, choice); });
}

FileOpenKind GetFileOpenKind(const std::filesystem::path &file) {
  uint32_t type = 0;
  if (FSRefGetFileType(file, &type) != 0)
    return FileOpenKind::Unreadable;
  return type == kCrystalDocumentType || type == kMoleculeDocumentType || type == kOldCrystalDocumentType ||
                 type == kOldMoleculeDocumentType
             ? FileOpenKind::Document
             : FileOpenKind::Text;
}

bool ReadHeldFile(const std::filesystem::path &file, HeldStructureFile &held) {
  if (!BuildOrRefuse(file, held.read, [&] {
        held = HeldStructureFile{file, GetFileOpenKind(file), {}, {}, {}};
        return true;
      }))
    return false;
  switch (held.kind) {
  case FileOpenKind::Document:
    return BuildOrRefuse(file, held.read,
                         [&] { return ReadCrystalFile(&held.document, file, &held.documentExtras); });
  case FileOpenKind::Text:
    return ReadOrRefuse(file, held.read);
  case FileOpenKind::Unreadable:
    break;
  }
  std::error_code ec;
  MyCFStopAlert(kFileNotOpened, "\"" + file.filename().string() +
                                    (std::filesystem::exists(file, ec) ? "\" is not a file this version can read."
                                                                       : "\" could not be found."));
  return false;
}

bool OpenHeldFile(WindowRef window, HeldStructureFile &&held, ImportChoice choice) {
  switch (held.kind) {
  case FileOpenKind::Document:
    return BuildOrRefuse(held.file, held.read, [&] {
      return OpenCrystalFile(window, held.file, std::move(held.document), std::move(held.documentExtras));
    });
  case FileOpenKind::Text:
    return BuildOrRefuse(held.file, held.read, [&] { return BuildChosen(window, held.file, held.read, choice); });
  case FileOpenKind::Unreadable:
    break;
  }
  return false;
}

bool OpenStructureFile(WindowRef window, const std::filesystem::path &file, ImportChoice choice) {
  HeldStructureFile held;
  return ReadHeldFile(file, held) && OpenHeldFile(window, std::move(held), choice);
}
