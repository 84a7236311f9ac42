// The scale bar's size in the Edit Annotation window applies when Return is
// pressed in its field or the field is left, as the label size does.
#include "ExampleWindowsTest.h"

#include "structurewindow/AnnotationEditing.h"
#include "structurewindow/EditAnnotation.h"

#include "window/MainWindowData.h"

#include <QGuiApplication>
#include <QWindow>

namespace {

using ScaleBarSize = ExampleWindowsTest;

TEST_F(ScaleBarSize, ATypedSizeAppliesOnReturnAndWhenTheFieldIsLeft) {
  MainWindow *w = Open("Quartz.ovtx");
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(ProcessCommand(kCmdAddAnnotationScalebar), kNoErr);
  DoShowEditAnnotationWindow();
  ASSERT_EQ(gEditAnnotation.editKind, 3);
  QWidget *window = EditAnnotationWindow();
  // The window's field keeps the focus only while the window has it.
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitFor([window] { return QGuiApplication::focusWindow() == window->windowHandle(); }));
  const TextBoxRecord &bar = GetWindowCrystal(w->Ref())->textBoxes.back();
  auto *field = FindControl<QLineEdit>(window, 305);
  ASSERT_NE(field, nullptr);

  Type(window, 305, "30");
  EXPECT_NE(bar.fontSize, 30); // not from the keys on their way
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_EQ(bar.fontSize, 30);

  ClearWindowModified(w->Ref());
  Type(window, 305, "18");
  ASSERT_TRUE(field->hasFocus());
  QTest::keyClick(field, Qt::Key_Tab);
  ASSERT_FALSE(field->hasFocus());
  EXPECT_EQ(bar.fontSize, 18);
  EXPECT_TRUE(IsWindowModified(w->Ref()));
  window->hide();
}

} // namespace
