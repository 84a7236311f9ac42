// The polyhedral model never leaves an empty picture without a word: no Si of
// the bundled quartz's one-cell range has all four O within it, so no
// polyhedron is drawn, and the Log says why and what to widen, once for the
// choice. A structure whose polyhedra are drawn gets no such line.
#include "render/PlotPipeline.h"
#include "shell/LogStore.h"

#include "ExampleWindowsTest.h"

namespace {

using EmptyPolyhedra = ExampleWindowsTest;

TEST_F(EmptyPolyhedra, TheLogSaysWhyThePolyhedralModelDrawsNone) {
  const uint32_t polyhedral = FourCharsToLong("Poly");
  struct Case {
    const char *example;
    int lines; // of the Log's word on an empty polyhedral picture
  };
  for (const Case &k : {Case{"Quartz.ovtx", 1}, Case{"Pyrope.ovtx", 0}}) {
    SCOPED_TRACE(k.example);
    MainWindow *w = Open(k.example);
    ASSERT_NE(w, nullptr);
    const qsizetype before = GetLogStore()->PlainText().size();
    ASSERT_EQ(ProcessCommand(polyhedral), kNoErr);
    // The same choice again, and a replot, say nothing more.
    ASSERT_EQ(ProcessCommand(polyhedral), kNoErr);
    NewPlot(w->Ref(), false, true);
    QCoreApplication::processEvents();
    const QString log = GetLogStore()->PlainText().mid(before);
    EXPECT_EQ(log.count("No polyhedron is drawn"), k.lines) << log.toStdString();
    if (k.lines > 0) {
      EXPECT_TRUE(log.contains("Widen the range (Plot > Plot Range…)")) << log.toStdString();
    }
    CloseAllStructureWindows();
  }
}

} // namespace
