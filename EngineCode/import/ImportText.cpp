#include "import/ImportText.h"

#include "CancelPoll.h"

#include <algorithm>

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// Symbols by atomic number (index 0 unused), and deuterium after them.
constexpr std::array<std::string_view, 120> kSymbols = {
    "",   "H",  "He", "Li", "Be", "B",  "C",  "N",  "O",  "F",  "Ne", "Na", "Mg", "Al", "Si", "P",  "S",
    "Cl", "Ar", "K",  "Ca", "Sc", "Ti", "V",  "Cr", "Mn", "Fe", "Co", "Ni", "Cu", "Zn", "Ga", "Ge", "As",
    "Se", "Br", "Kr", "Rb", "Sr", "Y",  "Zr", "Nb", "Mo", "Tc", "Ru", "Rh", "Pd", "Ag", "Cd", "In", "Sn",
    "Sb", "Te", "I",  "Xe", "Cs", "Ba", "La", "Ce", "Pr", "Nd", "Pm", "Sm", "Eu", "Gd", "Tb", "Dy", "Ho",
    "Er", "Tm", "Yb", "Lu", "Hf", "Ta", "W",  "Re", "Os", "Ir", "Pt", "Au", "Hg", "Tl", "Pb", "Bi", "Po",
    "At", "Rn", "Fr", "Ra", "Ac", "Th", "Pa", "U",  "Np", "Pu", "Am", "Cm", "Bk", "Cf", "Es", "Fm", "Md",
    "No", "Lr", "Rf", "Db", "Sg", "Bh", "Hs", "Mt", "Ds", "Rg", "Cn", "Nh", "Fl", "Mc", "Lv", "Ts", "Og",
    "D"};

// The element of a first letter and a second (0: none), in any case, by
// table: files name an element on every row.
std::optional<ElementCode> KnownSymbol(char first, char second) {
  static const auto kTable = [] {
    std::array<std::array<ElementCode, 27>, 26> t{};
    for (size_t z = 1; z < kSymbols.size(); z++) {
      const std::string_view s = kSymbols[z];
      const char text[3] = {s[0], s.size() > 1 ? s[1] : ' ', '\0'};
      t[static_cast<size_t>(s[0] - 'A')][s.size() > 1 ? static_cast<size_t>(s[1] - 'a' + 1) : 0] = TwoCharsToShort(text);
    }
    return t;
  }();
  // ASCII case by arithmetic: element symbols are ASCII whatever the locale.
  const int up = first >= 'a' && first <= 'z' ? first - 'a' + 'A' : first;
  const int low = second >= 'A' && second <= 'Z' ? second - 'A' + 'a' : second;
  if (up < 'A' || up > 'Z' || (low != '\0' && (low < 'a' || low > 'z')))
    return std::nullopt;
  const ElementCode e = kTable[static_cast<size_t>(up - 'A')][low ? static_cast<size_t>(low - 'a' + 1) : 0];
  if (e == 0)
    return std::nullopt;
  return e;
}

bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

// The poll of the read running on this thread; none outside a read.
thread_local CancelPoll *tReadPoll = nullptr;
// Steps between two readings of the clock: a few thousand lines' worth.
constexpr int64_t kReadClockEvery = 1 << 12;

} // namespace

void ImportReadStep() {
  if (tReadPoll && tReadPoll->Step())
    throw ImportStopped{};
}

ImportReadPoll::ImportReadPoll() : poll_(std::make_unique<CancelPoll>(kReadClockEvery)), outer_(tReadPoll) {
  tReadPoll = poll_.get();
}

ImportReadPoll::~ImportReadPoll() { tReadPoll = outer_; }

std::string ImportLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 1);
  out.assign(text);
  ImportLineEndsInPlace(out);
  return out;
}

ImportTextLines::ImportTextLines(std::string_view text) : text_(text), checkpoints_{0} {
  // Counted a block at a time (std::count is vectorised), one step of the
  // read per block; a block that holds the start of a checkpoint's line is
  // walked byte by byte to place it.
  constexpr size_t kBlock = 4096;
  size_t ends = 0; // the LFs counted
  for (size_t at = 0; at < text.size(); at += kBlock) {
    ImportReadStep();
    const char *block = text.data() + at;
    const size_t length = std::min(kBlock, text.size() - at);
    const auto inBlock = static_cast<size_t>(std::count(block, block + length, '\n'));
    if (ends + inBlock >= checkpoints_.size() * kCheckpointEvery) {
      for (size_t k = 0; k < length; k++) {
        if (block[k] == '\n' && ++ends % kCheckpointEvery == 0 && at + k + 1 < text.size())
          checkpoints_.push_back(at + k + 1);
      }
    } else {
      ends += inBlock;
    }
  }
  count_ = ends + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

std::string_view ImportTextLines::LineAt(size_t offset) const {
  return text_.substr(offset, text_.find('\n', offset) - offset); // to the end when no LF follows
}

std::string_view ImportTextLines::operator[](size_t i) const {
  ImportReadStep();
  // From the nearest place known before the line, or back from the last
  // line reached when that is nearer.
  const size_t checkpoint = i / kCheckpointEvery;
  size_t line = checkpoint * kCheckpointEvery;
  size_t offset = checkpoints_[checkpoint];
  if (placeLine_ >= line && placeLine_ <= i) {
    line = placeLine_;
    offset = placeOffset_;
  } else if (placeLine_ > i && placeLine_ - i < i - line) {
    line = placeLine_;
    offset = placeOffset_;
    for (; line > i; line--) // the LF before the line at `offset` ends the one before it
      offset = offset < 2 ? 0 : text_.rfind('\n', offset - 2) + 1;
  }
  for (; line < i; line++)
    offset = text_.find('\n', offset) + 1;
  placeLine_ = line;
  placeOffset_ = offset;
  return LineAt(offset);
}

ImportTextLines::const_iterator::const_iterator(std::string_view text, size_t index, size_t count)
    : text_(text), index_(index), count_(count) {
  if (index_ < count_)
    line_ = text_.substr(0, text_.find('\n'));
}

ImportTextLines::const_iterator &ImportTextLines::const_iterator::operator++() {
  ImportReadStep();
  if (++index_ < count_) {
    text_.remove_prefix(line_.size() + 1);
    line_ = text_.substr(0, text_.find('\n'));
  }
  return *this;
}

ImportTextLines ImportLines(std::string_view text) { return ImportTextLines(text); }

// Room for the tokens of most lines at once.
constexpr size_t kUsualTokens = 12;

std::vector<std::string_view> ImportTokens(std::string_view s) {
  std::vector<std::string_view> out;
  out.reserve(kUsualTokens);
  ImportTokens(s, out);
  return out;
}

void ImportTokens(std::string_view s, std::vector<std::string_view> &out) {
  ImportReadStep();
  out.clear();
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r'))
      i++;
    size_t j = i;
    while (j < s.size() && s[j] != ' ' && s[j] != '\t' && s[j] != '\r')
      j++;
    if (j > i)
      out.push_back(s.substr(i, j - i));
    i = j;
  }
}

std::string_view TrimImport(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

std::string_view ImportColumns(std::string_view line, size_t first, size_t count) {
  if (first == 0 || first > line.size())
    return {};
  return line.substr(first - 1, count);
}

bool ImportEqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t k = 0; k < a.size(); k++)
    if (std::tolower(static_cast<unsigned char>(a[k])) != std::tolower(static_cast<unsigned char>(b[k])))
      return false;
  return true;
}

bool ImportStartsNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && ImportEqualNoCase(s.substr(0, prefix.size()), prefix);
}

namespace {

// The token read as a number the way files write it ("+1", "1.0D-3"):
// whether the whole token is one, and its value (infinite when it lies
// beyond the double range).
bool ParseNumberText(std::string_view token, double &v) {
  token = TrimImport(token);
  if (!token.empty() && token[0] == '+')
    token.remove_prefix(1);
  if (token.empty())
    return false;
  int decimals = 0;
  if (ImportPlainDecimal(token, v, decimals) == token.size())
    return true;
  std::string fortran;
  if (std::any_of(token.begin(), token.end(), [](char c) { return c == 'd' || c == 'D'; })) {
    fortran.assign(token);
    for (char &c : fortran)
      if (c == 'd' || c == 'D')
        c = 'e';
    token = fortran;
  }
  v = 0.0;
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), v);
  if (end != token.data() + token.size())
    return false;
  if (ec == std::errc::result_out_of_range) {
    // A magnitude beyond the range is infinite; one below it is 0.
    const size_t e = token.find_first_of("eE");
    const bool large = e != std::string_view::npos && token.substr(e + 1).find('-') == std::string_view::npos;
    v = large ? (token[0] == '-' ? -HUGE_VAL : HUGE_VAL) : 0.0;
    return true;
  }
  return ec == std::errc();
}

} // namespace

std::optional<double> ImportNumber(std::string_view token) {
  ImportReadStep();
  double v = 0.0;
  if (!ParseNumberText(token, v) || !std::isfinite(v))
    return std::nullopt;
  return v;
}

bool ImportBeginsAsNumber(std::string_view token) {
  size_t k = 0;
  if (k < token.size() && (token[k] == '-' || token[k] == '+'))
    k++;
  if (k < token.size() && token[k] == '.')
    k++;
  return k < token.size() && std::isdigit(static_cast<unsigned char>(token[k]));
}

bool ImportLeadingNumbers(std::string_view line, size_t n, double *out, std::string_view *bad) {
  const auto t = ImportTokens(line);
  if (t.size() < n)
    return false;
  for (size_t k = 0; k < n; k++) {
    const auto v = ImportNumber(t[k]);
    if (!v) {
      if (bad)
        *bad = t[k];
      return false;
    }
    out[k] = *v;
  }
  return true;
}

bool ImportNumberShaped(std::string_view token) {
  double v = 0.0;
  return ParseNumberText(token, v) && std::any_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<NumberWithEsd> ImportNumberWithEsd(std::string_view token) {
  token = TrimImport(token);
  const size_t open = token.find('(');
  if (open == std::string_view::npos) {
    const auto v = ImportNumber(token);
    if (!v)
      return std::nullopt;
    return NumberWithEsd{*v, 0.0};
  }
  if (token.back() != ')')
    return std::nullopt;
  const std::string_view number = token.substr(0, open);
  const std::string_view digits = token.substr(open + 1, token.size() - open - 2);
  const auto v = ImportNumber(number);
  long esd = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), esd);
  if (!v || digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || esd < 0)
    return std::nullopt;
  // The esd counts units of the last decimal written (before any exponent).
  // (find_first_of would search the four letters once per character.)
  const auto letter = std::find_if(number.begin(), number.end(),
                                   [](char c) { return c == 'e' || c == 'E' || c == 'd' || c == 'D'; });
  const size_t exponent = letter == number.end() ? std::string_view::npos : static_cast<size_t>(letter - number.begin());
  const std::string_view mantissa = number.substr(0, exponent);
  const size_t dot = mantissa.find('.');
  const int decimals = dot == std::string_view::npos ? 0 : static_cast<int>(mantissa.size() - dot - 1);
  // Powers of ten by table: files carry hundreds of thousands of esds.
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  double value = decimals < 16 ? static_cast<double>(esd) / kPowersOfTen[decimals]
                               : static_cast<double>(esd) * std::pow(10.0, -decimals);
  if (exponent != std::string_view::npos) {
    const auto e = ImportNumber(number.substr(exponent + 1));
    if (e)
      value *= std::pow(10.0, *e);
  }
  return NumberWithEsd{*v, value};
}

std::optional<ElementCode> ElementFromSymbol(std::string_view text) {
  text = TrimImport(text);
  if (text.empty() || !IsLetter(text[0]))
    return std::nullopt;
  if (text.size() >= 2 && IsLetter(text[1]))
    if (auto two = KnownSymbol(text[0], text[1]))
      return two;
  return KnownSymbol(text[0], '\0');
}

std::optional<ElementCode> ElementFromAtomicNumber(long z) {
  if (z < 1 || z > 118)
    return std::nullopt;
  const std::string_view s = kSymbols[static_cast<size_t>(z)];
  const char text[3] = {s[0], s.size() > 1 ? s[1] : ' ', '\0'};
  return TwoCharsToShort(text);
}

std::string ElementSymbolText(ElementCode element) {
  char s[2];
  ShortToTwoChars(element, s);
  std::string out(1, s[0]);
  if (s[1] != ' ' && s[1] != '\0')
    out += s[1];
  return out;
}

void ImportLineEndsInPlace(std::string &text) {
  size_t cr = text.find('\r');
  if (cr == std::string::npos)
    return;
  // The runs between CRs moved down whole over the LFs dropped.
  char *const data = text.data();
  const size_t size = text.size();
  size_t out = cr;
  while (cr < size) {
    data[out++] = '\n';
    const size_t from = cr + 1 + (cr + 1 < size && data[cr + 1] == '\n' ? 1 : 0);
    const char *next = from < size ? static_cast<const char *>(std::memchr(data + from, '\r', size - from)) : nullptr;
    cr = next ? static_cast<size_t>(next - data) : size;
    std::memmove(data + out, data + from, cr - from);
    out += cr - from;
  }
  text.resize(out);
}
