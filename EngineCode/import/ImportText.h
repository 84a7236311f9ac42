// Small text helpers every reader of a foreign format shares: lines with
// their numbers, blank-separated tokens, numbers with esds in parentheses,
// fixed columns, and element symbols as files spell them.
#pragma once

#include "Utilities.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CancelPoll;

// ---- A read the user can stop ------------------------------------------------
// While one lives on a thread, the helpers below that readers call for every
// line, token and number (ImportLines, ImportTokens, ImportNumber) count as
// the read's steps: the status window shows the last report once the read
// (or the long command it is part of) has run half a second, and once the
// user asks to stop, the next step throws ImportStopped for the path to
// catch. A reader needs nothing of its own, and unwinds as it would for a
// failed allocation.
struct ImportStopped {};
class ImportReadPoll {
public:
  ImportReadPoll();
  ~ImportReadPoll();
  ImportReadPoll(const ImportReadPoll &) = delete;
  ImportReadPoll &operator=(const ImportReadPoll &) = delete;

private:
  std::unique_ptr<CancelPoll> poll_;
  CancelPoll *outer_;
};

// One step of the read running on this thread, for a reader's own loop over
// rows, atoms or images that reads no line: throws ImportStopped once the
// user has asked to stop. Nothing outside a read.
void ImportReadStep();

// The text with CR LF and CR line ends made LF.
std::string ImportLineEnds(std::string_view text);
// The same in the text itself, which only ever shortens.
void ImportLineEndsInPlace(std::string &text);
// The lines of a normalised text (LF ends only); the n-th entry is line n+1,
// without its LF, and a text that ends in LF has no empty line after it.
// The table is read as a vector of views would be, but costs a few bytes per
// thousand lines, not 16 bytes a line: it keeps the start of every
// kCheckpointEvery-th line and the line last asked for, so that reading in
// order, or near the last line read, costs the length of the lines walked,
// and a jump at most kCheckpointEvery lines' worth. A text of nothing but
// line ends takes no more memory than its own bytes. The table is read by
// one thread at a time (it moves its place as it is read); counting the
// lines and reading them are steps of the read running on the thread
// (ImportReadPoll). The text must outlive the table.
class ImportTextLines {
public:
  static constexpr size_t kCheckpointEvery = 1024;

  ImportTextLines() = default;
  explicit ImportTextLines(std::string_view text);

  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  std::string_view operator[](size_t i) const;
  std::string_view front() const { return (*this)[0]; }
  std::string_view back() const { return (*this)[count_ - 1]; }

  // Walks the lines in order, each from the end of the one before.
  class const_iterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::string_view *;
    using reference = std::string_view;

    const_iterator() = default;
    std::string_view operator*() const { return line_; }
    const std::string_view *operator->() const { return &line_; }
    const_iterator &operator++();
    const_iterator operator++(int) {
      const const_iterator was = *this;
      ++*this;
      return was;
    }
    bool operator==(const const_iterator &other) const { return index_ == other.index_; }

  private:
    friend class ImportTextLines;
    const_iterator(std::string_view text, size_t index, size_t count);
    std::string_view text_;
    std::string_view line_;
    size_t index_ = 0;
    size_t count_ = 0;
  };
  using iterator = const_iterator;
  const_iterator begin() const { return {text_, 0, count_}; }
  const_iterator end() const { return {text_, count_, count_}; }

private:
  // The line that starts at `offset`: up to its LF or the end of the text.
  std::string_view LineAt(size_t offset) const;

  std::string_view text_;
  size_t count_ = 0;
  std::vector<size_t> checkpoints_; // the start of line k * kCheckpointEvery, at k
  mutable size_t placeLine_ = 0;    // the line last reached, and its start
  mutable size_t placeOffset_ = 0;
};
ImportTextLines ImportLines(std::string_view text);
// Blank- or tab-separated tokens.
std::vector<std::string_view> ImportTokens(std::string_view line);
// The same into `out`, which keeps its room: a reader of many lines of
// tokens makes the list once.
void ImportTokens(std::string_view line, std::vector<std::string_view> &out);
// The line without blanks, tabs and CR at either end.
std::string_view TrimImport(std::string_view s);
// Characters [first, first + count) of a fixed-column line (1-based first
// column, as format descriptions count); empty beyond its end.
std::string_view ImportColumns(std::string_view line, size_t first, size_t count);
// Case-insensitive comparison of ASCII text.
bool ImportEqualNoCase(std::string_view a, std::string_view b);
bool ImportStartsNoCase(std::string_view s, std::string_view prefix);

// The usual form of a number, "[-]ddd[.ddd]" with at most 15 digits, read
// at the start of `t`: its digits taken as one integer and divided by a power
// of ten, both exact in a double, so that the one division rounds as a full
// conversion would. The characters read, or 0 for another form; `decimals`
// is the count after the point. Inline: the readers' numbers pass through it.
inline constexpr double kImportPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
inline size_t ImportPlainDecimal(std::string_view t, double &value, int &decimals) {
  constexpr ptrdiff_t kMostExactDigits = 15; // below 2^53
  const char *p = t.data(), *const end = p + t.size();
  const bool negative = p != end && *p == '-';
  if (negative)
    p++;
  uint64_t digits = 0;
  const char *const first = p;
  for (; p != end && static_cast<unsigned>(*p - '0') <= 9u; p++)
    digits = digits * 10 + static_cast<uint64_t>(*p - '0');
  const ptrdiff_t before = p - first;
  ptrdiff_t after = 0;
  if (p != end && *p == '.') {
    const char *const point = ++p;
    for (; p != end && static_cast<unsigned>(*p - '0') <= 9u; p++)
      digits = digits * 10 + static_cast<uint64_t>(*p - '0');
    after = p - point;
    if (after == 0)
      return 0;
  }
  if (before == 0 || before + after > kMostExactDigits)
    return 0;
  value = static_cast<double>(digits) / kImportPowersOfTen[after];
  if (negative)
    value = -value;
  decimals = static_cast<int>(after);
  return static_cast<size_t>(p - t.data());
}
// A finite number; Fortran exponents ("1.0D-3") are read too.
std::optional<double> ImportNumber(std::string_view token);
// A token that begins as a number does, a digit after any sign or point
// ("5.4q4", "-.5x"): a detector takes it for a number mistyped, so that the
// reader refuses it by its line.
bool ImportBeginsAsNumber(std::string_view token);
// The first n tokens of a line as numbers into `out`. False when the line
// has fewer tokens (`bad` left empty) or one is no number (`bad` is it),
// so that a refusal can quote what it refused.
bool ImportLeadingNumbers(std::string_view line, size_t n, double *out, std::string_view *bad = nullptr);
// A token written as a number, whatever its size ("1.0E+400" too, but not
// "nan" or "inf"): detectors take it for the number a damaged file meant,
// so that its reader refuses it by its line.
bool ImportNumberShaped(std::string_view token);
// A number with its esd in parentheses, "5.4307(2)" (value 5.4307, esd
// 0.0002) or "12(1)"; a number without one has esd 0.
struct NumberWithEsd {
  double value = 0.0;
  double esd = 0.0;
};
std::optional<NumberWithEsd> ImportNumberWithEsd(std::string_view token);

// The element a symbol names, read as files spell it: any case ("CL",
// "cl"), followed by a label or a charge ("C01", "Fe3+", "O2-"). Two
// letters are taken when they name an element, else one. None when the
// text names no element.
std::optional<ElementCode> ElementFromSymbol(std::string_view text);
// The element of an atomic number (1 to 118); none otherwise.
std::optional<ElementCode> ElementFromAtomicNumber(long z);
// The element's symbol in its usual case ("Cl").
std::string ElementSymbolText(ElementCode element);
// What a reader uses for an atom whose element it cannot tell: it draws and
// saves like any element, and the Log names the atom.
inline const ElementCode kPlaceholderElement = TwoCharsToShort("Xx");
