#include "LocalizedStrings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

const std::filesystem::path kShippedTable =
    std::filesystem::path(OV_SOURCE_DIR) / "resources/strings/Localizable.strings";

class LocalizedStrings : public ::testing::Test {
protected:
  void TearDown() override { OVSetLocalizedStringsFile(kShippedTable); }

  std::filesystem::path WriteTable(const std::string &text) {
    path_ = std::filesystem::temp_directory_path() /
            ("ov-strings-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".strings");
    std::ofstream(path_, std::ios::binary) << text;
    return path_;
  }
  ~LocalizedStrings() override {
    if (!path_.empty())
      std::filesystem::remove(path_);
  }
  std::filesystem::path path_;
};

TEST_F(LocalizedStrings, ShippedTableIsWellFormedAndHoldsTheTextsTheEngineAsksFor) {
  ASSERT_TRUE(OVSetLocalizedStringsFile(kShippedTable));
  for (const char *key : {"Request_Discard_Symmetry", "Request_Discard_Symmetry_2", "Continue", "Cancel"}) {
    const std::string text = OVLocalizedString(key);
    EXPECT_FALSE(text.empty()) << key;
    if (std::string(key).find('_') != std::string::npos) {
      EXPECT_NE(text, key) << key;
    }
  }
  EXPECT_EQ(OVLocalizedString("Continue"), "Continue");
}

TEST_F(LocalizedStrings, MissingKeysAndUnreadableTablesFallBackToTheKey) {
  ASSERT_TRUE(OVSetLocalizedStringsFile(kShippedTable));
  EXPECT_EQ(OVLocalizedString("No_Such_Key_Anywhere"), "No_Such_Key_Anywhere");
  EXPECT_EQ(OVLocalizedString(""), "");
  EXPECT_FALSE(OVSetLocalizedStringsFile("/nonexistent/Localizable.strings"));
  EXPECT_EQ(OVLocalizedString("Request_Discard_Symmetry"), "Request_Discard_Symmetry");
}

TEST_F(LocalizedStrings, EscapesCommentsAndMalformedEntries) {
  const std::string text = "\xEF\xBB\xBF/* a comment \"x\" = \"y\"; */\n"
                           "// \"line\" = \"comment\";\n"
                           "\"Quote\" = \"say \\\"hi\\\"\\n\\tnow \\\\ done\";\n"
                           "\"Unicode\"=\"\xC3\x85ngstr\xC3\xB6m\" ;\n"
                           "\"Broken\" \"no equals\";\n"
                           "\"After\" = \"still read\";\n"
                           "\"Twice\" = \"first\";\n"
                           "\"Twice\" = \"second\";\n";
  std::map<std::string, std::string, std::less<>> table;
  std::string error;
  EXPECT_FALSE(ParseLocalizedStrings(text, table, &error));
  EXPECT_EQ(error, "malformed entry at line 5");
  EXPECT_EQ(table.size(), 4u);
  EXPECT_EQ(table["Quote"], "say \"hi\"\n\tnow \\ done");
  EXPECT_EQ(table["Unicode"], "\xC3\x85ngstr\xC3\xB6m");
  EXPECT_EQ(table["After"], "still read");
  EXPECT_EQ(table["Twice"], "second");
  EXPECT_EQ(table.count("line"), 0u);

  EXPECT_FALSE(OVSetLocalizedStringsFile(WriteTable(text)));
  EXPECT_EQ(OVLocalizedString("After"), "still read");
  EXPECT_EQ(OVLocalizedString("Broken"), "Broken");

  std::map<std::string, std::string, std::less<>> unterminated;
  EXPECT_FALSE(ParseLocalizedStrings("\"Key\" = \"open text\n\";", unterminated));
  EXPECT_FALSE(ParseLocalizedStrings("\"Key\" = \"value\"", unterminated)); // no ';'
  EXPECT_TRUE(unterminated.empty());
  std::map<std::string, std::string, std::less<>> empty;
  EXPECT_TRUE(ParseLocalizedStrings("  /* nothing */\n", empty));
  EXPECT_TRUE(empty.empty());
}

} // namespace
