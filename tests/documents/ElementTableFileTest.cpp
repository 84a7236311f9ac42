#include "documents/ElementTableFile.h"

#include "FakeHost.h"
#include "documents/FileBuffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

ElementCode Sym(const char *s) { return TwoCharsToShort(s); }

std::string SymbolOf(ElementCode code) {
  char s[2];
  ShortToTwoChars(code, s);
  return std::string(s, 2);
}

EditElementsRec Read(const std::string &text) {
  EditElementsRec t;
  t.entries.push_back({1, Sym("Xx"), 9.0f, {}}); // replaced by any ELMT card
  ReadElementTableFile(std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size()), t);
  return t;
}

TEST(ElementTableFile, ExportThenImportGivesTheSameTable) {
  FakeHost host;
  EditElementsRec t;
  t.entries = {{1, Sym("C "), 0.77f, {100, 200, 65535}},
               {2, Sym("Fe"), 1.234f, {65535, 0, 12345}},
               {3, Sym("OH"), 1.4f, {1, 65534, 32768}}};
  t.notes = "First paragraph, line one\nwhich continues here.\n\nSecond paragraph.";
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("ovelements-" + std::to_string(::getpid()) + ".dat");
  std::string reason;
  ASSERT_TRUE(WriteElementTableFile(path, t, "9.1", &reason)) << reason;
  EditElementsRec back;
  ASSERT_TRUE(DoImportElementFile(path, back));
  std::filesystem::remove(path);
  ASSERT_EQ(back.entries.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(back.entries[i].number, static_cast<int32_t>(i + 1));
    EXPECT_EQ(back.entries[i].element, t.entries[i].element);
    EXPECT_NEAR(back.entries[i].radius, t.entries[i].radius, 0.005f);
    EXPECT_NEAR(back.entries[i].colour.red, t.entries[i].colour.red, 1);
    EXPECT_NEAR(back.entries[i].colour.green, t.entries[i].colour.green, 1);
    EXPECT_NEAR(back.entries[i].colour.blue, t.entries[i].colour.blue, 1);
  }
  // The single break reflows into a blank, the empty line stays.
  EXPECT_EQ(back.notes, "First paragraph, line one which continues here.\n\nSecond paragraph.");

  const std::string text = ElementTableFileText(t, "9.1");
  EXPECT_EQ(text.substr(0, text.find("\nNOTE")), "! Element data exported from Orvalisphere 9.1\n"
                                                 "! (Any notes must be preceded by the 'NOTE' card;\n"
                                                 "! element data must be preceded by the 'ELMT' card.)\n");
  EXPECT_NE(text.find("\nELMT\nC      0.77       0.00153   0.00305   1.00000\n"), std::string::npos) << text;

  EXPECT_FALSE(DoImportElementFile(path, back));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Sorry, there was an error whilst attempting to open the file.");
}

TEST(ElementTableFile, NotesBreakAtABlankAfterColumn73) {
  EditElementsRec t;
  const std::string word72(72, 'a');
  t.notes = word72 + " b " + std::string(80, 'c') + " d";
  const std::string text = ElementTableFileText(t, "1");
  // Column 73 is reached only after "b": the blank after it breaks the line.
  EXPECT_NE(text.find("NOTE\n" + word72 + " b\n" + std::string(80, 'c') + "\nd\n"), std::string::npos) << text;
  t.notes = std::string(100, 'z');
  EXPECT_NE(ElementTableFileText(t, "1").find("NOTE\n" + std::string(100, 'z') + "\n"), std::string::npos);
}

TEST(ElementTableFile, ReaderLimits) {
  std::string text = "ELMT\r\n";
  for (int i = 0; i < 250; ++i)
    text += "Na  1.02  0.5 0.5 0.5\r";
  EXPECT_EQ(Read(text).entries.size(), 200u);

  // Notes before the elements, comments anywhere, the element card ends the notes.
  const EditElementsRec t = Read("! comment\nNOTE\n// skipped\n\nSome\ntext\nELMT\nsi 1.1 1 0 0\nOH 1.4 0 0 0\nK\n");
  EXPECT_EQ(t.notes, "Some text");
  ASSERT_EQ(t.entries.size(), 2u); // "si" is not upper case: skipped
  EXPECT_EQ(SymbolOf(t.entries[0].element), "OH");
  EXPECT_EQ(t.entries[0].colour, (RGBColor{0, 0, 0}));
  EXPECT_EQ(SymbolOf(t.entries[1].element), "K ");
}

const char kBinary[] = "ELMT\nB\xff\x80\x01 1.0\n\0\0\nC 0.7 0 0 0\n";

// Bad files and what each gives: the symbol, radius and red of each entry.
TEST(ElementTableFile, BadFiles) {
  FakeHost host;
  struct Case {
    const char *what;
    std::string text;
    std::vector<std::tuple<std::string, float, uint16_t>> entries; // empty: table emptied
    bool untouched = false;                                        // no ELMT card: table kept
  };
  const std::string overlong = "Fe" + std::string(5000, 'x') + " 2.0 1 1 1\n";
  const Case cases[] = {
      {"missing numbers take the defaults",
       "ELMT\nCu\nZn 1.5\nGa 1.2 1\n",
       {{"Cu", 1.0f, 34952}, {"Zn", 1.5f, 34952}, {"Ga", 1.2f, 65535}}},
      {"an overlong word", "ELMT\n" + overlong, {{"Fe", 1.0f, 34952}}},
      {"garbage numbers", "ELMT\nMg abc 0.2\nAl 1e40 -3 7\n", {{"Mg", 1.0f, 34952}, {"Al", 1.0f, 0}}},
      {"binary bytes", std::string(kBinary, sizeof kBinary - 1), {{"B ", 1.0f, 34952}, {"C ", 0.7f, 0}}},
      {"an empty ELMT card", "ELMT\n\n", {}},
      {"no card", "Fe 1 1 1 1\nNOTX\n", {}, true},
      {"an empty file", "", {}, true},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    const EditElementsRec t = Read(k.text);
    if (k.untouched) {
      ASSERT_EQ(t.entries.size(), 1u);
      EXPECT_EQ(t.entries[0].element, Sym("Xx"));
      continue;
    }
    ASSERT_EQ(t.entries.size(), k.entries.size());
    for (size_t i = 0; i < t.entries.size(); ++i) {
      EXPECT_EQ(SymbolOf(t.entries[i].element), std::get<0>(k.entries[i]));
      EXPECT_FLOAT_EQ(t.entries[i].radius, std::get<1>(k.entries[i]));
      EXPECT_EQ(t.entries[i].colour.red, std::get<2>(k.entries[i]));
    }
  }
  EXPECT_TRUE(host.alerts.empty());
}

TEST(ElementTableFile, NotesInMacRomanAreReadAsUtf8) {
  const EditElementsRec t = Read("NOTE\nCaf\x8e \x81ngstr\x9am\n");
  EXPECT_EQ(t.notes, "Café Ångström");
}

TEST(ElementTableEditing, CellEditsAddAndRemove) {
  FakeHost host;
  EditElementEntry e;
  e.element = Sym("Fe");
  struct Case {
    const char *typed;
    const char *stored; // nullptr: refused, entry unchanged
  } const cases[] = {{"oh", "Oh"}, {"OH", "OH"},  {"c", "C "},     {"FE", "Fe"},
                     {"s ", "S "}, {"", nullptr}, {"1a", nullptr}, {"C1", nullptr}};
  for (const Case &k : cases) {
    SCOPED_TRACE(k.typed);
    EditElementEntry entry = e;
    EXPECT_EQ(SetElementSymbolFromText(entry, k.typed), k.stored != nullptr);
    EXPECT_EQ(SymbolOf(entry.element), k.stored ? k.stored : "Fe");
  }
  EXPECT_TRUE(SetElementRadiusFromText(e, "1.25"));
  EXPECT_FLOAT_EQ(e.radius, 1.25f);
  EXPECT_FALSE(SetElementRadiusFromText(e, "x"));
  EXPECT_FLOAT_EQ(e.radius, 1.25f);

  EditElementsRec t;
  ASSERT_TRUE(AddElementEntry(t));
  EXPECT_EQ(t.entries[0].number, 1);
  EXPECT_EQ(t.entries[0].element, kBlankElement);
  EXPECT_EQ(t.entries[0].colour, kRGBDkGrey);
  t.entries[0].number = 7;
  ASSERT_TRUE(AddElementEntry(t));
  EXPECT_EQ(t.entries[1].number, 8);
  RemoveElementEntries(t, {0, 5});
  EXPECT_EQ(t.entries.size(), 1u);
  while (t.entries.size() < 200)
    ASSERT_TRUE(AddElementEntry(t));
  EXPECT_FALSE(AddElementEntry(t));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Element list is full!");
  EXPECT_EQ(host.alerts[0].explanation, "Maximum of 200 elements allowed");
}

TEST(ElementTableEditing, SaveAsDefaultOfTwelveBlanksTheRest) {
  PrefsRecord prefs = gFactoryPrefs;
  EditElementsRec t;
  FillElementTableFromPrefs(prefs, t);
  EXPECT_EQ(t.entries.size(), 92u);
  t.entries.resize(12);
  t.notes = std::string(2000, 'n');
  SaveElementTableAsDefault(t, prefs);
  EXPECT_EQ(std::string(prefs.elementNotes).size(), 1023u);
  for (int row = 12; row < kMaxElementData; ++row)
    ASSERT_EQ(prefs.elementData[row].element, kBlankElement) << row;
  EditElementsRec again;
  FillElementTableFromPrefs(prefs, again);
  ASSERT_EQ(again.entries.size(), 12u);
  EXPECT_EQ(again.entries[11].element, t.entries[11].element);
  EXPECT_EQ(again.entries[11].number, 12);
}

} // namespace
