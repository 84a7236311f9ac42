// A text box goes through Undo and Redo as the user made it: drawn the
// same, saved at its size, and the window marked while it differs from the
// saved document.
#include "documents/CrystalDocument.h"
#include "documents/UndoHistory.h"
#include "structurewindow/AnnotationEditing.h"

#include "ExampleWindowsTest.h"

#include <QImage>
#include <QWindow>

namespace {

class AnnotationUndo : public ExampleWindowsTest {
protected:
  MainWindow *OpenShown() {
    MainWindow *w = Open("NaCl.ovtx");
    if (w) {
      w->ResizeContent(640, 480);
      w->show();
      QCoreApplication::processEvents();
    }
    return w;
  }
  static QImage Pane(MainWindow *w) {
    QCoreApplication::processEvents();
    return w->GraphPane()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  }
  static void Run(uint32_t command) {
    ASSERT_EQ(ProcessCommand(command), kNoErr);
    QCoreApplication::processEvents();
  }
  static bool TitleMarked(MainWindow *w) { return w->windowHandle()->title().endsWith('*'); }
};

TEST_F(AnnotationUndo, ATextBoxComesBackWholeAfterUndoAndRedo) {
  MainWindow *w = OpenShown();
  ASSERT_NE(w, nullptr);
  ASSERT_FALSE(SaveAs("opened.ovdf").empty());
  const QImage bare = Pane(w);

  Run(kCmdAddAnnotationTextbox);
  UndoBufferTimerProc();
  const QImage added = Pane(w);
  ASSERT_NE(added, bare);

  Run(kCmdUndo);
  EXPECT_EQ(Pane(w), bare);
  EXPECT_FALSE(TitleMarked(w)) << "back to the saved document";
  Run(kCmdRedo);
  EXPECT_TRUE(Pane(w) == added) << "the box is drawn as it was added";
  EXPECT_TRUE(TitleMarked(w)) << "the box is not in the saved document";

  // The saved box has the size the command gives a new box: its text's
  // margins on either side of a 100 x 20 pixel field.
  const std::string saved = SaveAs("redone.ovdf");
  CrystalRec read;
  DocumentExtras extras;
  ASSERT_TRUE(DecodeCrystalDocument(std::vector<uint8_t>(saved.begin(), saved.end()), read, &extras, nullptr));
  ASSERT_EQ(read.textBoxes.size(), 1u);
  const TextBoxRecord &box = read.textBoxes[0];
  const int margin = 2 * (box.fontSize / 3);
  EXPECT_EQ(box.boxRect.Width(), kNewTextBoxExtraWidth + margin);
  EXPECT_EQ(box.boxRect.Height(), kNewTextBoxExtraHeight + margin);
  EXPECT_EQ(std::u16string(box.text), u"textbox");
}

TEST_F(AnnotationUndo, UndoingAZoomDrawsTheBoxAsBefore) {
  MainWindow *w = OpenShown();
  ASSERT_NE(w, nullptr);
  Run(kCmdAddAnnotationTextbox);
  UndoBufferTimerProc();
  const QImage added = Pane(w);
  Run(kCmdZoomIn);
  UndoBufferTimerProc();
  ASSERT_NE(Pane(w), added);
  Run(kCmdUndo);
  EXPECT_TRUE(Pane(w) == added);
  EXPECT_TRUE(TitleMarked(w)) << "the opened file has no box";
  Run(kCmdUndo);
  EXPECT_FALSE(TitleMarked(w));
  Run(kCmdRedo);
  EXPECT_TRUE(Pane(w) == added);
  EXPECT_TRUE(TitleMarked(w)) << "the opened file has no box";
}

} // namespace
