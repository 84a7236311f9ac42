#include "shell/Commands.h"
#include "ShellApp.h"
#include "shell/LogStore.h"
#include "shell/QtHostServices.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <algorithm>
#include <QTextBlock>
#include <QTextDocument>
#include <gtest/gtest.h>
#include <set>

namespace {

TEST(Commands, EveryCodeIsInTheTableOnceWithOneActionCarryingIt) {
  App();
  std::set<uint32_t> codes;
  for (const CommandInfo &info : CommandTable()) {
    EXPECT_TRUE(codes.insert(info.code).second) << CommandName(info.code) << " twice";
    QAction *action = GetCommandAction(info.code);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(GetActionCommand(action), info.code);
    EXPECT_EQ(GetCommandAction(info.code), action) << "one action per command";
  }
  EXPECT_EQ(GetCommandAction(FourCharsToLong("zzzz")), nullptr);
  for (const MenuInfo &menu : MenuTable())
    for (uint32_t code : menu.items)
      EXPECT_TRUE(code == 0 || codes.count(code)) << menu.title << " names " << CommandName(code);
}

TEST(Commands, PrintingAndHelpStandWhereTheUserLooksForThem) {
  App();
  auto menu = [](const char *title) {
    for (const MenuInfo &m : MenuTable())
      if (m.title == std::string(title))
        return m.items;
    return std::vector<uint32_t>{};
  };
  const std::vector<uint32_t> file = menu("File");
  auto at = [&file](uint32_t code) { return std::find(file.begin(), file.end(), code) - file.begin(); };
  EXPECT_LT(at(kCmdExportMenu), at(kCmdPageSetup));
  EXPECT_LT(at(kCmdPageSetup), at(kCmdPrint));
  EXPECT_LT(at(kCmdPrint), at(kCmdQuit));
  EXPECT_EQ(GetCommandAction(kCmdPrint)->shortcut(), QKeySequence("Ctrl+P"));
  EXPECT_EQ(MenuTable().back().title, std::string("Help"));
  EXPECT_EQ(MenuTable().back().items, std::vector<uint32_t>{kCmdHelp});
  EXPECT_EQ(MenuBarTitle(MenuTable().back()), "&Help");
  const std::vector<uint32_t> model = menu("Model");
  EXPECT_NE(std::find(model.begin(), model.end(), kCmdShowAllLabels), model.end());
}

TEST(Commands, ACommandAHandlerDoesNotOwnPassesToTheNext) {
  App();
  const uint32_t kMine = FourCharsToLong("tst1"), kOther = FourCharsToLong("tst2");
  std::vector<std::string> calls;
  int older = AddCommandHandler([&](uint32_t command, const QVariant &) {
    calls.push_back("older " + CommandName(command));
    return command == kOther ? kNoErr : kEventNotHandledErr;
  });
  int newer = AddCommandHandler([&](uint32_t command, const QVariant &) {
    calls.push_back("newer " + CommandName(command));
    return command == kMine ? kNoErr : kEventNotHandledErr;
  });
  EXPECT_EQ(ProcessCommand(kMine), kNoErr);
  EXPECT_EQ(ProcessCommand(kOther), kNoErr);
  // Owned by no handler, the application's dispatch included.
  EXPECT_EQ(ProcessCommand(FourCharsToLong("tst3")), kEventNotHandledErr);
  EXPECT_EQ(calls,
            (std::vector<std::string>{"newer 'tst1'", "newer 'tst2'", "older 'tst2'", "newer 'tst3'", "older 'tst3'"}));
  RemoveCommandHandler(newer);
  calls.clear();
  ProcessCommand(kMine);
  EXPECT_EQ(calls, (std::vector<std::string>{"older 'tst1'"}));
  RemoveCommandHandler(older);
}

TEST(LogStore, LinesKeepTheirColourAndALongListingLineArrivesWhole) {
  App();
  LogStore store;
  QtHostServices host;
  HostServices *previous = SetHostServices(&host);
  host.AttachLog([&](std::string_view t, const RGBColor &c, size_t n) { store.Append(t, c, n); }, [] { return false; });
  FWriteColor("Not all requested bonds could be found.", kRGBRed);
  FWrite("");
  FWrite("plain");
  QTextBlock warning = store.Document()->firstBlock();
  EXPECT_EQ(warning.text(), "Not all requested bonds could be found.");
  EXPECT_EQ(warning.begin().fragment().charFormat().foreground().color().rgb(), qRgb(255, 0, 0));
  EXPECT_EQ(warning.next().text(), "");
  EXPECT_EQ(warning.next().next().begin().fragment().charFormat().foreground().color().rgb(), qRgb(0, 0, 0));
  EXPECT_EQ(store.PlainText(), "Not all requested bonds could be found.\r\rplain\r");

  // Staged lines, then one longer than the whole staging buffer: in order,
  // and nothing cut.
  FWriteBuffer("row 1");
  const std::string longLine(kLogBufferSize + 10, 'x');
  FWriteBuffer(longLine);
  FFlushBuffer();
  EXPECT_EQ(LogBufferLength(), 0u);
  EXPECT_TRUE(store.PlainText().endsWith(QString("plain\rrow 1\r") + QString::fromStdString(longLine) + "\r"));
  SetHostServices(previous);
}

} // namespace
