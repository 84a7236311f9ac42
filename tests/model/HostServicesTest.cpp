#include "HostServices.h"
#include "Alerts.h"
#include "FakeHost.h"

#include <gtest/gtest.h>

TEST(LogWriters, LinesEndInCarriageReturnAndColourCoversOnlyTheText) {
  FakeHost host;
  FWrite("");
  FWrite("plain");
  FWriteColor("Warning: odd", kRGBRed);
  FWriteCFString("Å");
  EXPECT_EQ(host.log, "\rplain\rWarning: odd\r\xC3\x85\r");
  ASSERT_EQ(host.colouredRuns.size(), 1u);
  EXPECT_EQ(host.colouredRuns[0].start, 7u);
  EXPECT_EQ(host.colouredRuns[0].length, 12u); // not the carriage return
  EXPECT_EQ(host.colouredRuns[0].colour, kRGBRed);
}

TEST(LogWriters, WithoutALogPaneDirectWritesAreDroppedAndTheBufferIsKept) {
  FakeHost host;
  host.logAvailable = false;
  FWrite("lost");
  FWriteBuffer("kept");
  FFlushBuffer();
  EXPECT_EQ(host.log, "");
  EXPECT_EQ(LogBufferLength(), 5u);
  host.logAvailable = true;
  FFlushBuffer();
  EXPECT_EQ(host.log, "kept\r");
  EXPECT_EQ(LogBufferLength(), 0u);
}

TEST(LogWriters, BufferedLinesReachTheLogOnlyAtAFlushAndFlushWhenFull) {
  FakeHost host;
  FWriteBuffer("a");
  FWriteBuffer("bc");
  EXPECT_EQ(host.log, "");
  EXPECT_EQ(LogBufferLength(), 5u);

  // A line whose length plus one equals the free room is stored without a
  // flush.
  ResetLogBuffer();
  std::string big(kLogBufferSize - 11, 'x');
  FWriteBuffer(big); // uses size - 10
  std::string fits(9, 'y');
  FWriteBuffer(fits); // 9 + 1 == 10 free: no flush
  EXPECT_EQ(host.logAppendCalls, 0);
  EXPECT_EQ(LogBufferLength(), kLogBufferSize);
  FWriteBuffer(""); // one byte more: flushes first
  EXPECT_EQ(host.logAppendCalls, 1);
  EXPECT_EQ(host.log.size(), kLogBufferSize);
  EXPECT_EQ(LogBufferLength(), 1u);
  FlushWrite("end");
  EXPECT_EQ(host.log.substr(host.log.size() - 5), "\rend\r");
}

TEST(LogWriters, ALineLongerThanTheBufferIsCutNotOverrun) {
  // Without a Log the buffer cannot drain: the line is cut to fit.
  FakeHost host;
  host.logAvailable = false;
  std::string huge(kLogBufferSize * 2, 'z');
  FWriteBuffer(huge);
  EXPECT_EQ(LogBufferLength(), kLogBufferSize);
  host.logAvailable = true;
  FFlushBuffer();
  EXPECT_EQ(host.log.size(), kLogBufferSize);
  EXPECT_EQ(host.log.back(), '\r');
}

TEST(LogWriters, ALineLongerThanTheBufferGoesToTheLogWholeAfterTheStagedLines) {
  FakeHost host;
  FWriteBuffer("staged");
  std::string huge(kLogBufferSize * 2, 'z');
  FWriteBuffer(huge);
  EXPECT_EQ(LogBufferLength(), 0u);
  EXPECT_EQ(host.log, "staged\r" + huge + "\r");
}

TEST(StatusWindow, ShortTasksShowNothing) {
  FakeHost host;
  WriteStatus("Generating cell");
  host.Advance(0.3);
  WriteProgress("", 50.0f);
  host.Advance(0.19);
  WriteProgress("", 60.0f);
  CloseStatus();
  EXPECT_TRUE(host.status.empty());
}

TEST(StatusWindow, OpensOnASecondReportHalfASecondOnAndThrottlesUpdates) {
  FakeHost host;
  WriteStatus("Finding bonds");
  host.Advance(0.5);
  WriteStatus("Finding bonds");
  ASSERT_EQ(host.status.size(), 1u);
  EXPECT_TRUE(host.status[0].shown);
  EXPECT_EQ(host.status[0].message, "Finding bonds");
  EXPECT_LT(host.status[0].percent, 0.0f); // indeterminate

  host.Advance(0.1);
  WriteProgress("", 10.0f); // the bar changes kind: shown at once, message kept
  ASSERT_EQ(host.status.size(), 2u);
  EXPECT_EQ(host.status[1].message, "Finding bonds");
  EXPECT_FLOAT_EQ(host.status[1].percent, 10.0f);

  host.Advance(0.1);
  WriteProgress("", 20.0f); // same kind, too soon: skipped
  EXPECT_EQ(host.status.size(), 2u);
  host.Advance(0.1);
  WriteProgress("Polyhedra", 99.95f); // above 99.9 counts as 100
  ASSERT_EQ(host.status.size(), 3u);
  EXPECT_EQ(host.status[2].message, "Polyhedra");
  EXPECT_FLOAT_EQ(host.status[2].percent, 100.0f);
  host.Advance(0.3);
  WriteProgress("", -5.0f); // below 0 counts as 0
  EXPECT_FLOAT_EQ(host.status[3].percent, 0.0f);

  CloseStatus();
  ASSERT_EQ(host.status.size(), 5u);
  EXPECT_FALSE(host.status[4].shown);

  // A new task starts the delay again.
  WriteStatus("again");
  host.Advance(0.2);
  WriteStatus("again");
  EXPECT_EQ(host.status.size(), 5u);
}

TEST(Alerts, OneButtonAlertsAreSilentDuringBatchWorkButChoicesStillAsk) {
  FakeHost host;
  MyCFStopAlert("Stop", "Why");
  MyCFCautionAlert("Careful");
  MyCFNoteAlert("Note");
  ASSERT_EQ(host.alerts.size(), 3u);
  EXPECT_EQ(host.alerts[0].type, kAlertStopAlert);
  EXPECT_EQ(host.alerts[0].explanation, "Why");
  EXPECT_EQ(host.alerts[1].type, kAlertCautionAlert);
  EXPECT_EQ(host.alerts[2].type, kAlertNoteAlert);
  EXPECT_EQ(host.alerts[2].buttons, std::vector<std::string>{"OK"});

  gProhibitErrorAlerts = 1;
  MyCFStopAlert("hidden");
  MyCFCautionAlert("hidden");
  MyCFNoteAlert("hidden");
  EXPECT_EQ(host.alerts.size(), 3u);
  host.alertAnswers = {2};
  EXPECT_FALSE(MyCFChoiceAlert(kAlertCautionAlert, "Discard?", "", "Continue", "Cancel"));
  gProhibitErrorAlerts = 0;
  ASSERT_EQ(host.alerts.size(), 4u);
  EXPECT_EQ(host.alerts[3].buttons, (std::vector<std::string>{"Continue", "Cancel"}));
  EXPECT_EQ(host.alerts[3].cancelButton, 2);
}

TEST(Alerts, ChoiceButtonsDefaultToOKAndCancelAndTripleAnswersTheButton) {
  FakeHost host;
  host.alertAnswers = {1, 3, 2};
  EXPECT_TRUE(MyCFChoiceAlert(kAlertNoteAlert, "m", "e"));
  EXPECT_EQ(host.alerts[0].buttons, (std::vector<std::string>{"OK", "Cancel"}));
  EXPECT_EQ(MyCFTripleChoiceAlert(kAlertCautionAlert, "Save?", "", "Save", "Cancel", "Don't Save"), 3);
  EXPECT_EQ(host.alerts[1].buttons, (std::vector<std::string>{"Save", "Cancel", "Don't Save"}));
  EXPECT_EQ(MyCFTripleChoiceAlert(kAlertCautionAlert, "m", "e", "A", "B"), 2);
  EXPECT_EQ(host.alerts[2].buttons.size(), 2u); // no third button without its text
}

TEST(Alerts, CheckErrorPassesZeroAndEndsTheProgramOnAnythingElse) {
  FakeHost host;
  EXPECT_EQ(CheckError(0, "here"), 0);
  EXPECT_TRUE(host.alerts.empty());
  try {
    CheckError(-108, "NewGWorld");
    FAIL() << "CheckError returned on an error";
  } catch (const ProgramTerminated &end) {
    EXPECT_EQ(end.code, -108);
  }
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Sorry, an error of type '-108' occurred at 'NewGWorld'");
}

TEST(Subtitles, OutputBannerUnlessTheLogShowsAndFrontWindowByDefault) {
  FakeHost host;
  OVWindowRecord front, back;
  SubtitleWindowOutput(nullptr); // no window at all: nothing
  EXPECT_TRUE(host.subtitles.empty());
  host.windows = {&front, &back};
  SubtitleWindowOutput(nullptr);
  DrawWindowSubtitle(&back, "Search timed out. See Log for details.");
  host.logShowing = true;
  SubtitleWindowOutput(&back);
  ASSERT_EQ(host.subtitles.size(), 2u);
  EXPECT_EQ(host.subtitles[0].first, &front);
  EXPECT_EQ(host.subtitles[0].second, "New output printed in the Log");
  EXPECT_EQ(host.subtitles[1].first, &back);
}

TEST(Timers, ReArmingPostponesAndFiringRunsTheProcedureOnce) {
  FakeHost host;
  int replots = 0;
  EventLoopTimer timer{"test", [&] { ++replots; }};
  SetEventLoopTimerNextFireTime(timer, 0.25);
  host.Advance(0.2);
  SetEventLoopTimerNextFireTime(timer, 0.25); // a stream of plots postpones it
  host.Advance(0.2);
  EXPECT_EQ(host.FireDueTimers(), 0);
  EXPECT_NEAR(host.SecondsUntil(timer), 0.05, 1e-9);
  host.Advance(0.05);
  EXPECT_EQ(host.FireDueTimers(), 1);
  EXPECT_EQ(replots, 1);
  EXPECT_FALSE(host.IsArmed(timer));
  EXPECT_EQ(host.arms.size(), 2u);
}

TEST(ClockAndKeys, ClockTicksAtSixtyAndModifiersMapToKeys) {
  FakeHost host;
  host.now = 0;
  host.Advance(1.0);
  EXPECT_EQ(Microseconds(), 1000000u);
  EXPECT_EQ(TickCount(), 60u);
  host.modifiers = kShiftKey | kOptionKey;
  EXPECT_TRUE(MyShiftKeyDown());
  EXPECT_TRUE(MyOptionKeyDown());
  EXPECT_FALSE(MyCommandKeyDown());
  host.cancelAnswers = {false, true};
  EXPECT_FALSE(MyCheckForUserCancelEvent());
  EXPECT_TRUE(MyCheckForUserCancelEvent());
  SetCocoaCursor(kCmdDotCursor);
  UpdateFloatingWindows();
  EXPECT_EQ(host.cursors, std::vector<CocoaCursor>{kCmdDotCursor});
  EXPECT_EQ(host.floatingWindowUpdates, 1);
}
