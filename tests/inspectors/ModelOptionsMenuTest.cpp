// The Model Options window's menu opens for a Ctrl-click as for the
// secondary button, on any of its tabs, and the control under the click is
// left as it was.
#include "inspectors/InspectorKit.h"
#include "inspectors/ModelOptions.h"
#include "shell/Commands.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// The menu now open, if it is the window's (it offers Save Model Options).
bool ModelOptionsMenuOpen() {
  auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
  return menu && menu->actions().contains(GetCommandAction(FourCharsToLong("svMO")));
}

TEST(ModelOptionsMenu, ControlClickOpensItAsTheSecondaryButtonDoes) {
  DoModelOptions();
  ASSERT_NE(gModelOptionsWindow, nullptr);
  for (int tab : {kAtomsTab, kLabelsTab}) {
    DoModelOptionsTabChoice(tab);
    QWidget *pane = gModelOptions.panes[size_t(tab)];
    ASSERT_NE(pane, nullptr);
    QAbstractButton *box = pane->findChild<QAbstractButton *>();
    ASSERT_NE(box, nullptr) << "tab " << tab;
    const bool checked = box->isChecked();
    QTest::mouseClick(box, Qt::LeftButton, Qt::ControlModifier, box->rect().center());
    EXPECT_TRUE(ModelOptionsMenuOpen()) << "tab " << tab;
    EXPECT_EQ(box->isChecked(), checked) << "tab " << tab;
    if (QWidget *menu = QApplication::activePopupWidget())
      menu->hide();
  }
}

} // namespace
