// Small text helpers every reader of a foreign format shares: lines with
// their numbers, blank-separated tokens, numbers with esds in parentheses,
// fixed columns, and element symbols as files spell them.
#pragma once

#include "Utilities.h"

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

// The text with CR LF and CR line ends made LF.
std::string ImportLineEnds(std::string_view text);
// The lines of a normalised text (LF ends only); the n-th entry is line n+1.
std::vector<std::string_view> ImportLines(std::string_view text);
// Blank- or tab-separated tokens.
std::vector<std::string_view> ImportTokens(std::string_view line);
// The line without blanks, tabs and CR at either end.
std::string_view TrimImport(std::string_view s);
// Characters [first, first + count) of a fixed-column line (1-based first
// column, as format descriptions count); empty beyond its end.
std::string_view ImportColumns(std::string_view line, size_t first, size_t count);
// Case-insensitive comparison of ASCII text.
bool ImportEqualNoCase(std::string_view a, std::string_view b);
bool ImportStartsNoCase(std::string_view s, std::string_view prefix);

// A finite number; Fortran exponents ("1.0D-3") are read too.
std::optional<double> ImportNumber(std::string_view token);
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
