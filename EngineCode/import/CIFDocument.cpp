// gemmi's CIF grammar with actions of our own, building the document of
// CIFDocument.h: values are places in the text (no copy of each), and each
// loop row keeps the line it starts on. The one file that includes gemmi's
// grammar (for its compile time); built as C++17 (see CIFDocument.h).
#include "import/CIFDocument.h"

// Debian's gemmi comes without its bundled printf: should a header here reach
// for it, the standard one is taken.
#define USE_STD_SNPRINTF
#include <gemmi/cif.hpp>
#include <gemmi/symmetry.hpp>

#include <new>

namespace cif = gemmi::cif;

// A step of the read (ImportText.h, a C++20 header): throws ImportStopped
// once the user has asked to stop.
void ImportReadStep();

namespace {

// A loop whose values do not fill its rows names its own first line.
struct LoopShortError {
  int line;
  size_t values, columns;
};

template <typename Rule> struct ParseAction : tao::pegtl::nothing<Rule> {};
template <> struct ParseAction<cif::rules::datablockname> {
  template <typename Input> static void apply(const Input &in, CIFDocument &d) {
    d.blocks.push_back({in.string_view(), {}});
    d.items = &d.blocks.back().items;
  }
};
template <> struct ParseAction<cif::rules::str_global> {
  template <typename Input> static void apply(const Input &, CIFDocument &d) {
    d.blocks.push_back({"global_", {}});
    d.items = &d.blocks.back().items;
  }
};
template <> struct ParseAction<cif::rules::framename> {
  template <typename Input> static void apply(const Input &, CIFDocument &d) {
    d.frame.clear();
    d.items = &d.frame;
  }
};
template <> struct ParseAction<cif::rules::endframe> {
  template <typename Input> static void apply(const Input &, CIFDocument &d) {
    d.items = d.blocks.empty() ? &d.frame : &d.blocks.back().items;
  }
};
template <> struct ParseAction<cif::rules::item_tag> {
  template <typename Input> static void apply(const Input &in, CIFDocument &d) {
    CIFItem &item = d.items->emplace_back();
    item.tag = in.string_view();
    item.line = static_cast<int>(in.iterator().line);
  }
};
template <> struct ParseAction<cif::rules::item_value> {
  template <typename Input> static void apply(const Input &in, CIFDocument &d) {
    d.items->back().value = in.string_view();
  }
};
template <> struct ParseAction<cif::rules::str_loop> {
  template <typename Input> static void apply(const Input &in, CIFDocument &d) {
    CIFItem &item = d.items->emplace_back();
    item.loop = true;
    item.line = static_cast<int>(in.iterator().line);
    item.text = d.text;
    item.values = &d.values;
    item.first = d.values.size();
    d.loopColumn = 0;
  }
};
template <> struct ParseAction<cif::rules::loop_tag> {
  template <typename Input> static void apply(const Input &in, CIFDocument &d) {
    d.items->back().tags.push_back(in.string_view());
  }
};
// A loop's value at a place of the text, on the line its row starts on when
// it opens a row. Inline in the scan of ordinary values, which adds most of
// a large loop's values: a call per value took a share of the parse.
[[gnu::always_inline]] inline void AddLoopValue(CIFDocument &d, std::string_view v, int line) {
  CIFItem &item = d.items->back();
  // A running column rather than a division per value; a row is a step of
  // the read.
  if (d.loopColumn == 0) {
    ImportReadStep();
    item.rowLines.push_back(line);
  }
  if (++d.loopColumn == item.tags.size())
    d.loopColumn = 0;
  d.values.push_back({static_cast<uint32_t>(v.data() - d.text), static_cast<uint32_t>(v.size())});
  item.count++;
}

template <> struct ParseAction<cif::rules::loop_value> {
  template <typename Input> static void apply(const Input &in, CIFDocument &d) {
    AddLoopValue(d, in.string_view(), static_cast<int>(in.iterator().line));
  }
};
template <> struct ParseAction<cif::rules::loop> {
  template <typename Input> static void apply(const Input &, CIFDocument &d) {
    const CIFItem &item = d.items->back();
    if (item.count % item.tags.size() != 0)
      throw LoopShortError{item.line, item.count, item.tags.size()};
  }
};

// The grammar's rules, with one shortcut: a loop's values of ordinary
// characters, each followed by white space (the grammar's first choice, and
// most of a file), are matched by one scan rather than rule by rule per
// character. A value of any other form, or white space holding a comment,
// goes through the grammar.
template <typename Rule> struct ParseControl : cif::Errors<Rule> {};
using LoopValues = tao::pegtl::seq<cif::rules::loop_value, cif::rules::ws_or_eof, tao::pegtl::discard>;
template <> struct ParseControl<tao::pegtl::plus<LoopValues>> : cif::Errors<tao::pegtl::plus<LoopValues>> {
  template <tao::pegtl::apply_mode A, tao::pegtl::rewind_mode M, template <typename...> class Action,
            template <typename...> class Control, typename Input>
  static bool match(Input &in, CIFDocument &d) {
    bool any = false;
    for (const char *const end = in.end();; any = true) {
      const char *const first = in.current();
      const char *p = first;
      while (p != end && cif::char_table(*p) == 1)
        p++;
      const char *space = p;
      while (space != end && cif::char_table(*space) == 2)
        space++;
      if (p != first && space != p && space != end && *space != '#') {
        if constexpr (A == tao::pegtl::apply_mode::action)
          AddLoopValue(d, std::string_view(first, static_cast<size_t>(p - first)), static_cast<int>(in.iterator().line));
        in.bump_in_this_line(static_cast<size_t>(p - first));
        in.bump(static_cast<size_t>(space - p));
      } else if (!tao::pegtl::match<LoopValues, A, M, Action, Control>(in, d)) {
        return any;
      }
    }
  }
};

// The line of the text field left open at the end of the text, or 0: every
// line that starts with ";" opens a text field or closes the open one.
int UnclosedTextFieldLine(std::string_view text) {
  int line = 1, open = 0;
  for (size_t k = 0; k < text.size(); k++) {
    if (text[k] == ';' && (k == 0 || text[k - 1] == '\n'))
      open = open ? 0 : line;
    else if (text[k] == '\n')
      line++;
  }
  return open;
}

} // namespace

bool ParseCIFDocument(std::string_view text, const std::string &name, CIFDocument &doc, int &line,
                      std::string &what) {
  doc.text = text.data();
  try {
    tao::pegtl::memory_input<> in(text.data(), text.size(), name);
    tao::pegtl::parse<cif::rules::file, ParseAction, ParseControl>(in, doc);
  } catch (const LoopShortError &e) {
    line = e.line;
    what = "the loop that starts here has " + std::to_string(e.values) + " values for its " +
           std::to_string(e.columns) + " columns: a value is missing or one too many, or a data name " +
           "stands among its values";
    return false;
  } catch (const tao::pegtl::parse_error &e) {
    line = e.positions().empty() ? 0 : static_cast<int>(e.positions().front().line);
    what = "the text is no CIF syntax (" + std::string(e.message()) + ")";
    // The grammar notices an open text field only at the end of the text:
    // name the line that opens it.
    if (const int open = UnclosedTextFieldLine(text); open > 0 && e.message().find("text field") != std::string::npos) {
      line = open;
      what = "the text field that opens here (a line starting with \";\") is never closed";
    }
    return false;
  } catch (const std::bad_alloc &) {
    throw; // the open path's "No Memory" alert, not a fault of the text
  } catch (const std::exception &e) {
    line = 0;
    what = std::string("the text is no CIF syntax (") + e.what() + ")";
    return false;
  }
  return true;
}

std::vector<std::string> HallSymbolOperators(std::string_view hall) {
  std::vector<std::string> list;
  try {
    const gemmi::GroupOps g = gemmi::symops_from_hall(std::string(hall).c_str());
    for (const gemmi::Op &so : g.sym_ops)
      for (const gemmi::Op::Tran &t : g.cen_ops)
        list.push_back(so.add_centering(t).wrap().triplet());
  } catch (const std::bad_alloc &) {
    throw;
  } catch (const std::exception &) {
    list.clear();
  }
  return list;
}
