#include "LocalizedStrings.h"

#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

using StringsTable = std::map<std::string, std::string, std::less<>>;

constexpr std::string_view kStringsRelativePath = "resources/strings/Localizable.strings";
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

struct TableState {
  StringsTable table;
  bool loaded = false;
};

TableState &State() {
  static TableState state;
  return state;
}

// Reads a parser position forward over blanks and comments.
class Scanner {
public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool AtEnd() {
    SkipSpaceAndComments();
    return pos_ >= text_.size();
  }
  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  void Advance() {
    if (pos_ < text_.size()) {
      if (text_[pos_] == '\n')
        line_++;
      pos_++;
    }
  }
  int Line() const { return line_; }

  void SkipSpaceAndComments() {
    while (pos_ < text_.size()) {
      const char ch = text_[pos_];
      if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\f' || ch == '\v') {
        Advance();
      } else if (text_.compare(pos_, 2, "/*") == 0) {
        Advance();
        Advance();
        while (pos_ < text_.size() && text_.compare(pos_, 2, "*/") != 0)
          Advance();
        Advance();
        Advance();
      } else if (text_.compare(pos_, 2, "//") == 0) {
        while (pos_ < text_.size() && text_[pos_] != '\n')
          Advance();
      } else {
        break;
      }
    }
  }

  // A quoted text at the position, with its escapes resolved.
  std::optional<std::string> Quoted() {
    SkipSpaceAndComments();
    if (Peek() != '"')
      return std::nullopt;
    Advance();
    std::string out;
    while (pos_ < text_.size()) {
      char ch = text_[pos_];
      if (ch == '"') {
        Advance();
        return out;
      }
      if (ch == '\n')
        return std::nullopt; // a text never spans lines unescaped
      if (ch == '\\') {
        Advance();
        if (pos_ >= text_.size())
          return std::nullopt;
        ch = text_[pos_];
        if (ch == 'n')
          ch = '\n';
        else if (ch == 't')
          ch = '\t';
      }
      out.push_back(ch);
      Advance();
    }
    return std::nullopt;
  }

  bool Expect(char ch) {
    SkipSpaceAndComments();
    if (Peek() != ch)
      return false;
    Advance();
    return true;
  }

  // After a malformed entry: on past the next ';' (or to the end).
  void Recover() {
    while (pos_ < text_.size() && text_[pos_] != ';')
      Advance();
    Advance();
  }

private:
  std::string_view text_;
  size_t pos_ = 0;
  int line_ = 1;
};

std::optional<std::string> ReadFile(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad())
    return std::nullopt;
  return text.str();
}

bool LoadTable(const std::filesystem::path &file) {
  TableState &state = State();
  state.table.clear();
  state.loaded = true;
  auto text = ReadFile(file);
  if (!text)
    return false;
  return ParseLocalizedStrings(*text, state.table);
}

// The places a program run from its build or install folder finds the table.
std::vector<std::filesystem::path> DefaultTableFiles() {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const std::filesystem::path dir = exe.parent_path();
    files.push_back(dir / kStringsRelativePath);
    files.push_back(dir.parent_path() / kStringsRelativePath);
  }
#ifdef OV_SOURCE_ROOT
  files.push_back(std::filesystem::path(OV_SOURCE_ROOT) / kStringsRelativePath);
#else
  // This file lives in <source>/EngineCode/model.
  files.push_back(std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / kStringsRelativePath);
#endif
  return files;
}

const StringsTable &Table() {
  TableState &state = State();
  if (!state.loaded) {
    state.loaded = true;
    for (const auto &file : DefaultTableFiles()) {
      std::error_code ec;
      if (std::filesystem::is_regular_file(file, ec)) {
        LoadTable(file);
        break;
      }
    }
  }
  return state.table;
}

} // namespace

bool ParseLocalizedStrings(std::string_view text, StringsTable &out, std::string *error) {
  if (text.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark)
    text.remove_prefix(kUtf8ByteOrderMark.size());
  Scanner scan(text);
  bool ok = true;
  while (!scan.AtEnd()) {
    const int line = scan.Line();
    auto key = scan.Quoted();
    bool good = key.has_value() && scan.Expect('=');
    std::optional<std::string> value;
    if (good)
      value = scan.Quoted();
    good = good && value.has_value() && scan.Expect(';');
    if (!good) {
      if (ok && error)
        *error = "malformed entry at line " + std::to_string(line);
      ok = false;
      scan.Recover();
      continue;
    }
    out[std::move(*key)] = std::move(*value);
  }
  return ok;
}

bool OVSetLocalizedStringsFile(const std::filesystem::path &file) { return LoadTable(file); }

std::string OVLocalizedString(std::string_view key) {
  const StringsTable &table = Table();
  auto it = table.find(key);
  if (it == table.end())
    return std::string(key);
  return it->second;
}
