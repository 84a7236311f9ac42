// The zapper's puff: five frames of the bundled image in a mouse-transparent
// overlay centred on the point, stepped by its timer, then gone.
#include "structurewindow/ZapperPuff.h"

#include <QApplication>
#include <QImage>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// The overlay's own drawing of its current frame.
QImage Shown(ZapperPuffWidget *puff) {
  QImage image(puff->size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  puff->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return image;
}

TEST(ZapperPuffTest, ShowsEachFrameCentredOnThePointThenCloses) {
  const QImage frames(QString::fromStdString(ZapperPuffImagePath().string()));
  ASSERT_FALSE(frames.isNull());
  const int fw = frames.width() / kZapperPuffFrames;
  QPointer<ZapperPuffWidget> puff = ShowZapperPuff(Point{201, 301});
  ASSERT_TRUE(puff);
  EXPECT_EQ(puff->size(), QSize(fw, frames.height()));
  EXPECT_EQ(puff->pos(), QPoint(int(301 - 0.5 * fw), int(201 - 0.5 * frames.height())));
  EXPECT_TRUE(puff->isVisible());
  EXPECT_TRUE(puff->testAttribute(Qt::WA_TransparentForMouseEvents));
  for (int k = 0; k < kZapperPuffFrames; ++k) {
    ASSERT_EQ(puff->Frame(), k);
    const QImage want = frames.copy(k * fw, 0, fw, frames.height()).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(Shown(puff), want) << "frame " << k;
    puff->Step();
  }
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(puff) << "the overlay goes after its last frame";
}

TEST(ZapperPuffTest, ItsTimerPlaysItOutAndAMissingImageShowsNothing) {
  QPointer<ZapperPuffWidget> puff = ShowZapperPuff(Point{50, 50});
  ASSERT_TRUE(puff);
  EXPECT_TRUE(QTest::qWaitFor([&] { return puff.isNull(); }, 3000));
  EXPECT_EQ(ShowZapperPuff(Point{50, 50}, "/nonexistent/ToolbarPoof.png"), nullptr);
}

} // namespace
