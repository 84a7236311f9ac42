#include "graphics/Painter.h"

#include <QFont>
#include <QFontInfo>
#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include <cmath>

using namespace ovgfx;

// The structure pictures size text in points at 72 dpi. A screen font whose
// pixel size happens to equal one of those sizes must still report its own
// point size: styles paint menu items at the size the font reports, and a
// wrong one makes them larger than the menu was measured for.
TEST(FontEngines, PictureTextLeavesScreenFontSizesAlone) {
  const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInchY();
  const double screenPoints = 9.0;
  const double pixels = screenPoints * dpi / 72.0;
  ASSERT_EQ(pixels, std::round(pixels)) << "a whole pixel size makes the two requests meet";

  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 200, 40), 32);
  ASSERT_TRUE(port);
  {
    Painter painter(*port);
    painter.SelectFont("DejaVu Sans", float(pixels), 0);
    painter.ShowTextAtPoint(2, 10, "Ruler in Nanometres");
  }

  QFont screen("DejaVu Sans");
  screen.setPointSizeF(screenPoints);
  EXPECT_DOUBLE_EQ(QFontInfo(screen).pointSizeF(), screenPoints);
}
