// The rotation movie dialog and the video recorder window, driven through
// their controls found by number.

#include "export/MovieWindows.h"
#include "export/VideoRecorder.h"
#include "FakeHost.h"
#include "Preferences.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

QApplication *MovieApp() {
  static int argc = 1;
  static char name[] = "test_ui";
  static char *argv[] = {name, nullptr};
  if (!qApp)
    new QApplication(argc, argv);
  return qobject_cast<QApplication *>(qApp);
}

} // namespace

TEST(MovieWindowsTest, RotationDialogSummaryArrowsAndSave) {
  MovieApp();
  FakeHost host;
  const PrefsRecord saved = gPrefs;
  gPrefs.movieFrames = 36;
  gPrefs.movieFrameRate = 10;
  RotationMovieDialog dialog;
  for (int id = 1; id <= 9; ++id)
    EXPECT_TRUE(dialog.Control(id)) << id;
  auto *frames = qobject_cast<QLineEdit *>(dialog.Control(1));
  auto *duration = qobject_cast<QLineEdit *>(dialog.Control(8));
  auto *interval = qobject_cast<QLabel *>(dialog.Control(5));
  auto *rate = qobject_cast<QLabel *>(dialog.Control(7));
  auto *ok = qobject_cast<QPushButton *>(dialog.Control(6));
  ASSERT_TRUE(frames && duration && interval && rate && ok);
  EXPECT_EQ(frames->text(), "36");
  EXPECT_EQ(duration->text(), "3.6");
  EXPECT_EQ(interval->text(), QString::fromUtf8("10.00\u00B0 interval"));
  EXPECT_EQ(rate->text(), "10.00 fps");
  frames->selectAll();
  QTest::keyClicks(frames, "3601");
  EXPECT_EQ(interval->text(), "Invalid number of frames");
  EXPECT_FALSE(ok->isEnabled());
  frames->setText("3599");
  // The frames arrows step by one within 1..3600; the duration arrows by 0.1, never to 0.
  qobject_cast<QSpinBox *>(dialog.Control(4))->stepUp();
  EXPECT_EQ(frames->text(), "3600");
  qobject_cast<QSpinBox *>(dialog.Control(4))->stepUp();
  EXPECT_EQ(frames->text(), "3600");
  duration->setText("0.1");
  qobject_cast<QSpinBox *>(dialog.Control(9))->stepDown();
  EXPECT_EQ(duration->text(), "0.1");
  qobject_cast<QSpinBox *>(dialog.Control(9))->stepUp();
  EXPECT_EQ(duration->text(), "0.2");
  EXPECT_TRUE(ok->isEnabled());
  qobject_cast<QCheckBox *>(dialog.Control(2))->setChecked(true);
  EXPECT_TRUE(dialog.SaveRotationMovieSettings());
  EXPECT_EQ(gPrefs.movieFrames, 3600);
  EXPECT_FLOAT_EQ(gPrefs.movieFrameRate, 18000.0f);
  EXPECT_EQ(gPrefs.movieLoop, 1);
  gPrefs = saved;
}

TEST(MovieWindowsTest, RecorderWindowHidesOnCloseAndFollowsTheMode) {
  MovieApp();
  FakeHost host;
  gIsVRMovie = 0;
  VideoRecorderWindow *window = DoShowVideoWindow();
  for (int id = 1; id <= 7; ++id)
    EXPECT_TRUE(window->Control(id)) << id;
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->Control(3)->isEnabled()); // Stop, while idle
  qobject_cast<QToolButton *>(window->Control(6))->click();
  EXPECT_EQ(gIsVRMovie, 1);
  EXPECT_TRUE(window->Control(2)->isHidden()); // no Pause in QTVR mode
  qobject_cast<QToolButton *>(window->Control(7))->click();
  EXPECT_EQ(gIsVRMovie, 0);
  EXPECT_FALSE(window->Control(2)->isHidden());
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(VideoWindow(), window);
  EXPECT_EQ(DoShowVideoWindow(), window);
  window->close();
}
