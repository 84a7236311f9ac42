// Values the user did not touch stay as they were, and a typed value is
// taken whole: the label type through an untouched Model Options, the Plot
// Range applied unchanged, the label size and the scale bar's size typed
// digit by digit, and the Depth tab's captions following their rows.
#include "inspectors/InspectorKit.h"
#include "inspectors/ModelOptions.h"
#include "inspectors/PlotRangeWindow.h"
#include "shell/Commands.h"
#include "shell/Forms.h"
#include "structurewindow/AnnotationEditing.h"
#include "structurewindow/EditAnnotation.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "render/AtomLabels.h"
#include "window/MainWindowData.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <cstdio>
#include <gtest/gtest.h>

#include "../structurewindow/ExampleWindowsTest.h"
#include "DialogScript.h"
#include "ProgramEnvironment.h"

namespace {

class UntouchedValues : public ExampleWindowsTest {
protected:
  void SetUp() override {
    ExampleWindowsTest::SetUp();
    host = dynamic_cast<RecordingHost *>(GetHostServices());
    ASSERT_NE(host, nullptr);
    host->alerts.clear();
  }
  static void PressCtrlM(MainWindow *w) {
    if (gModelOptionsWindow)
      gModelOptionsWindow->hide();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    FocusGraphPane(w->Ref());
    QTest::keyClick(w->GraphPane(), Qt::Key_M, Qt::ControlModifier);
    ASSERT_NE(gModelOptionsWindow, nullptr);
  }
  static QWidget *Tab(int tab) {
    DoModelOptionsTabChoice(tab);
    return gModelOptions.panes[size_t(tab)];
  }
  RecordingHost *host = nullptr;
};

TEST_F(UntouchedValues, ReturnInAnUntouchedModelOptionsKeepsAnyLabelType) {
  for (const int type : {0, 5}) {
    SCOPED_TRACE(type);
    MainWindow *w = Open("Quartz.ovtx");
    ASSERT_NE(w, nullptr);
    GetWindowCrystal(w->Ref())->atomLabelType = uint8_t(type);
    SaveAs("typed.ovdf");
    CloseAllStructureWindows();
    w = Open(dialogs.saveFile);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(GetWindowCrystal(w->Ref())->atomLabelType, type);
    ExpectNoSavedChange(w, [&] {
      PressCtrlM(w);
      auto *popup = FindControl<QComboBox>(Tab(kLabelsTab), 501);
      ASSERT_NE(popup, nullptr);
      EXPECT_EQ(popup->currentText(), type == 5 ? "Fractional coordinates" : "");
      QTest::keyClick(gModelOptionsWindow, Qt::Key_Return);
    });
    CloseAllStructureWindows();
  }
}

TEST_F(UntouchedValues, EachLabelItemDrawsWhatItIsNamedFor) {
  MainWindow *w = Open("Quartz.ovtx");
  ASSERT_NE(w, nullptr);
  PressCtrlM(w);
  auto *popup = FindControl<QComboBox>(Tab(kLabelsTab), 501);
  const CrystalRec &c = *GetWindowCrystal(w->Ref());
  const AtomRecord &atom = c.atoms[0];
  char height[32], fractional[64];
  std::snprintf(height, sizeof height, "%.3f", double(atom.cart[2]));
  // Two decimals, the leading zero and trailing zeros dropped, each value
  // followed by a blank.
  auto concise = [](float v) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", double(v));
    std::string s = text;
    while (s.back() == '0')
      s.pop_back();
    if (s.back() == '.')
      s.pop_back();
    if (s.rfind("0.", 0) == 0)
      s.erase(0, 1);
    else if (s.rfind("-0.", 0) == 0)
      s.erase(1, 1);
    return s + " ";
  };
  std::snprintf(fractional, sizeof fractional, "%s%s%s", concise(atom.xyz[0]).c_str(), concise(atom.xyz[1]).c_str(),
                concise(atom.xyz[2]).c_str());
  const ElementCode element = c.sites[atom.site].elements[0];
  const struct {
    const char *item;
    std::string drawn;
  } items[] = {{"Site label", c.sites[atom.site].label},
               {"Element", std::string{char(element >> 8), char(element & 0xFF)}},
               {"Atom number", "1"},
               {"Height", height}, {"Fractional coordinates", fractional}};
  ASSERT_EQ(popup->count(), 5);
  for (const auto &item : items) {
    const int index = popup->findText(item.item);
    ASSERT_GE(index, 0) << item.item;
    popup->setCurrentIndex(index);
    emit popup->activated(index);
    Str255 text;
    ASSERT_TRUE(GetAtomLabel(&c, 0, text));
    EXPECT_EQ(std::string(text.view()), item.drawn) << item.item;
  }
}

TEST_F(UntouchedValues, ALabelSizeIsTakenWholeAndOneOutOfRangeIsRefused) {
  MainWindow *w = Open("Quartz.ovtx");
  ASSERT_NE(w, nullptr);
  PressCtrlM(w);
  const CrystalRec &c = *GetWindowCrystal(w->Ref());
  const float size = c.labelSize;
  QWidget *pane = Tab(kLabelsTab);
  // "300" passes through "3" and "30" on its way.
  TypeIntoField(pane, 504, "300", false);
  EXPECT_EQ(c.labelSize, size);
  QTest::keyClick(FindControl<QLineEdit>(pane, 504), Qt::Key_Return);
  ASSERT_EQ(host->alerts.size(), 1u);
  EXPECT_EQ(host->alerts[0].explanation, "Label size must lie in the range 1 - 128 points!");
  EXPECT_EQ(c.labelSize, size);
  EXPECT_FALSE(IsWindowModified(w->Ref()));
  // A size in range is taken when the field is left by Tab. The options
  // window counts as active while the structure window it is stacked over
  // has the focus, so the wait is for the focus itself: until then the
  // field's focus is only remembered and leaving it sends it nothing.
  gModelOptionsWindow->activateWindow();
  ASSERT_TRUE(QTest::qWaitFor([] { return QGuiApplication::focusWindow() == gModelOptionsWindow->windowHandle(); }));
  TypeIntoField(pane, 504, "24", false);
  auto *field = FindControl<QLineEdit>(pane, 504);
  ASSERT_TRUE(field->hasFocus());
  EXPECT_EQ(c.labelSize, size);
  QTest::keyClick(field, Qt::Key_Tab);
  ASSERT_FALSE(field->hasFocus());
  EXPECT_EQ(c.labelSize, 24.0f);
}

TEST_F(UntouchedValues, AScaleBarSizeIsTakenWholeAndOneOutOfRangeIsRefused) {
  MainWindow *w = Open("Quartz.ovtx");
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(ProcessCommand(kCmdAddAnnotationScalebar), kNoErr);
  DoShowEditAnnotationWindow();
  ASSERT_EQ(gEditAnnotation.editKind, 3);
  const TextBoxRecord &bar = GetWindowCrystal(w->Ref())->textBoxes.back();
  const uint16_t size = bar.fontSize;
  auto *field = FindControl<QLineEdit>(EditAnnotationWindow(), 305);
  TypeIntoField(EditAnnotationWindow(), 305, "300", false);
  QTest::keyClick(field, Qt::Key_Enter); // applies the window
  ASSERT_EQ(host->alerts.size(), 1u);
  EXPECT_EQ(host->alerts[0].explanation, "Size must lie in the range 1 - 255 points!");
  EXPECT_EQ(bar.fontSize, size);
  TypeIntoField(EditAnnotationWindow(), 305, "30", false);
  QTest::keyClick(field, Qt::Key_Enter);
  EXPECT_EQ(bar.fontSize, 30);
  EditAnnotationWindow()->hide();
}

TEST_F(UntouchedValues, ThePlotRangeAppliedUnchangedChangesNothing) {
  MainWindow *w = Open("Quartz.ovtx");
  ASSERT_NE(w, nullptr);
  ExpectNoSavedChange(w, [&] {
    ASSERT_EQ(ProcessCommand(kCmdPlotRange), kNoErr);
    auto *field = FindControl<QLineEdit>(gRangeWindow, 1);
    ASSERT_NE(field, nullptr);
    QTest::keyClick(field, Qt::Key_Return);
    gRangeWindow->hide();
  });
}

TEST_F(UntouchedValues, TheDepthCaptionsFollowTheirRows) {
  MainWindow *w = Open("Quartz.ovtx");
  ASSERT_NE(w, nullptr);
  PressCtrlM(w);
  QWidget *pane = Tab(kDepthTab);
  auto caption = [pane](const char *text) -> QLabel * {
    for (QLabel *label : pane->findChildren<QLabel *>())
      if (label->text() == text)
        return label;
    return nullptr;
  };
  auto *fading = FindControl<QCheckBox>(pane, 801), *perspective = FindControl<QCheckBox>(pane, 821),
       *stereo = FindControl<QCheckBox>(pane, 831);
  for (int step = 0; step < 4; step++) {
    QTest::mouseClick(step % 2 ? perspective : fading, Qt::LeftButton);
    if (step == 2)
      QTest::mouseClick(stereo, Qt::LeftButton);
    SCOPED_TRACE(testing::Message() << "fading " << fading->isChecked() << ", perspective "
                                    << perspective->isChecked() << ", stereo " << stereo->isChecked());
    EXPECT_EQ(caption("Distance")->isEnabled(), FindControl(pane, 822)->isEnabled());
    EXPECT_EQ(caption("Separation")->isEnabled(), FindControl(pane, 833)->isEnabled());
    EXPECT_EQ(caption("Standout")->isEnabled(), FindControl(pane, 837)->isEnabled());
  }
}

} // namespace
