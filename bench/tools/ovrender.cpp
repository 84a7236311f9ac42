// ovrender: a developer's tool that reads a structure file, builds it,
// plots it off screen and writes the picture, printing the open's time (read,
// build and first plot, which is the picture); with --repeat K the structure
// is built and plotted again K times and the medians of the builds and plots
// printed.
//
//   ovrender FILE OUT [--size WxH] [--model N] [--fast] [--repeat K] [--structure S]
//
// FILE is any structure file the program opens, through its own open path
// (of a file of several structures, the first, or with --structure the S-th
// counted from 1, as the chooser picks it). OUT's extension picks the
// writer: a picture (.png and the other raster formats), or a text export
// (.cif, .ovtx, .pdb, ...) through the Export menu's writers. A refused
// file exits with status 1 and the alert's text. --model sets
// the model type (1 to 6) before plotting; --fast plots fast rotation
// frames (a trackball drag with fast rotation on). Alerts and Log lines go
// to standard error. Without --model, --fast and --repeat the process is one
// open, as a user's open is, for timing it whole.

#include "BuildPipeline.h"
#include "HostServices.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "documents/CrystalDocument.h"
#include "export/PngWriter.h"
#include "export/TextExportFormats.h"
#include "import/ImportHooks.h"
#include "import/ImportPath.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include "HeadlessTool.h"

#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The resolution the picture says it has: the screen's.
constexpr double kPictureDotsPerInch = 72.0;

double Median(std::vector<double> v) {
  if (v.empty())
    return 0.0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int Usage() {
  std::fprintf(stderr, "usage: ovrender FILE OUT.png [--size WxH] [--model N] [--fast] [--repeat K] [--structure S]\n");
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3)
    return Usage();
  const std::filesystem::path file = argv[1];
  const std::string out = argv[2];
  int width = 1000, height = 800, model = 0, repeat = 1, structure = 0;
  bool fast = false, rebuild = false; // the build is timed again only when asked
  for (int k = 3; k < argc; k++) {
    if (!std::strcmp(argv[k], "--size") && k + 1 < argc) {
      if (std::sscanf(argv[++k], "%dx%d", &width, &height) != 2 || width < 1 || height < 1 || width > 32767 ||
          height > 32767)
        return Usage();
    } else if (!std::strcmp(argv[k], "--model") && k + 1 < argc) {
      model = std::atoi(argv[++k]);
    } else if (!std::strcmp(argv[k], "--repeat") && k + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++k]));
      rebuild = true;
    } else if (!std::strcmp(argv[k], "--structure") && k + 1 < argc) {
      structure = std::atoi(argv[++k]);
      if (structure < 1)
        return Usage();
    } else if (!std::strcmp(argv[k], "--fast")) {
      fast = true;
    } else {
      return Usage();
    }
  }

  HeadlessTool tool(argc, argv, Rect{0, 0, int16_t(height), int16_t(width)});
  OVWindowRecord &record = tool.record;

  // Reading builds the structure once, as File > Open does; with --repeat
  // the rebuilds below are timed without a plot.
  const auto openStart = std::chrono::steady_clock::now();
  if (structure > 0)
    gImportHooks.choose = [structure](const std::filesystem::path &, const std::vector<StructureSummary> &) {
      return StructurePick({size_t(structure - 1)});
    };
  const bool opened = OpenStructureFile(&record, file, structure > 0 ? ImportChoice::Ask : ImportChoice::TakeFirst);
  const double openTime = MillisecondsSince(openStart);
  if (!opened) {
    std::fprintf(stderr, "ovrender: %s could not be read\n", file.string().c_str());
    DestroyMainWindowData(&record);
    return 1;
  }
  CrystalRec &c = *GetWindowCrystal(&record);
  std::vector<double> builds;
  RenderServices *renderer = SetRenderServices(nullptr);
  for (int k = 0; rebuild && k < repeat; k++) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok =
        c.molecule ? RunNewMolecule(&record, false, false, false, true) : RunNewCrystal(&record, false, false, false);
    builds.push_back(MillisecondsSince(start));
    if (!ok) {
      std::fprintf(stderr, "ovrender: the structure could not be built\n");
      return 1;
    }
  }
  SetRenderServices(renderer);
  SetWindowFileOpen(&record, true);
  // The open's own plot is the picture unless the model, the frames or
  // timed repeats are asked for.
  const bool replot = rebuild || fast || (model >= 1 && model <= 6);
  if (model >= 1 && model <= 6)
    c.modelType = int8_t(model);
  if (replot) {
    ResetOffScreen(&record);
    RenderSpheres(&c);
  }
  if (fast) {
    gTrackBallRotn = 1;
    gPrefs.fastRotation = 1;
  }
  std::vector<double> plots;
  for (int k = 0; replot && k < repeat; k++) {
    const auto start = std::chrono::steady_clock::now();
    PlotCrystal(&record, kPlotToWindow);
    plots.push_back(MillisecondsSince(start));
  }
  gTrackBallRotn = 0;

  OVImageHandle shown = GetWindowTransferBuffer(&record);
  if (!shown)
    shown = GetWindowOffScreen(&record);
  const ovgfx::PixelBuffer *px = OffScreenPixels(shown);
  if (!px) {
    std::fprintf(stderr, "ovrender: nothing was drawn\n");
    return 1;
  }
  const TextExportFormat *text = TextExportForExtension(std::filesystem::path(out).extension().string());
  if (text && c.molecule && text->moleculeRefusal) {
    std::fprintf(stderr, "ovrender: %s\n", text->moleculeRefusal);
    return 1;
  }
  if (text) {
    const std::string written = text->format(c, file.stem().string(), "", GetProgramVersion());
    std::ofstream o(out, std::ios::binary);
    if (written.empty() || !(o << written) || !o.flush()) {
      std::fprintf(stderr, "ovrender: %s could not be written\n", out.c_str());
      return 1;
    }
  }
  // A PNG goes through the program's own picture writer, as File > Export
  // writes one; the other picture formats through the toolkit's writers.
  std::string extension = std::filesystem::path(out).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  bool written = true;
  if (!text && extension == ".png") {
    AtomicFileWriter f(out);
    written = f.IsOpen() && WritePNGFile(*px, f, kPictureDotsPerInch) && f.Commit();
  } else if (!text) {
    QImage image(px->BaseAddr(), px->Width(), px->Height(), qsizetype(px->RowBytes()), QImage::Format_ARGB32);
    written = image.save(QString::fromStdString(out));
  }
  if (!written) {
    std::fprintf(stderr, "ovrender: %s could not be written\n", out.c_str());
    return 1;
  }
  double bondEnds = 0;
  for (const AtomRecord &a : c.atoms)
    bondEnds += a.bondCount;
  std::printf("atoms %d  bonds %.0f  model %d  %dx%d%s\n", c.atomCount, bondEnds / 2, int(c.modelType), width, height,
              fast ? "  fast" : "");
  if (!c.molecule)
    std::printf("cell atoms %d\n", c.atomsPerCell);
  if (rebuild)
    std::printf("open %.2f ms  build %.2f ms  plot %.2f ms  (median of %d)\n", openTime, Median(builds), Median(plots),
                repeat);
  else
    std::printf("open %.2f ms\n", openTime);
  DestroyMainWindowData(&record);
  SetHostServices(nullptr);
  return 0;
}
