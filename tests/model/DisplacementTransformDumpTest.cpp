// Writes the anisotropic displacement tensors a cell transformation makes,
// so that tests/oracle/celltransform_oracle.py can check them with numpy
// through Cartesian coordinates. Runs only when OV_CELLTRANSFORM_TENSOR_OUT
// names the file to write. One triclinic P 1 cell with an O site carrying
// Uij (type 2) and a Si site carrying the coefficients of h_i h_j (type 3)
// goes through each matrix; per matrix:
//   matrix <T, nine numbers, rows>
//   before <a b c alpha beta gamma> | <type> <U11 U22 U33 U12 U13 U23> | <type> <...>
//   after <a b c alpha beta gamma>
//   tensor <element> <type> <U11 U22 U33 U12 U13 U23>     (every site made)
//   end
#include "BuildPipeline.h"
#include "CellTransform.h"
#include "CrystalFromSites.h"
#include "FakeHost.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr float kCell[6] = {5.1f, 6.3f, 7.2f, 82.0f, 97.0f, 104.0f};
constexpr float kUij[6] = {0.021f, 0.034f, 0.017f, 0.006f, -0.004f, 0.003f}; // U11 U22 U33 U12 U13 U23
constexpr float kBeta[6] = {0.011f, 0.008f, 0.004f, 0.002f, -0.001f, 0.0015f};

void SetTensor(AsymmetricUnitRecord &site, uint32_t type, const float v[6]) {
  site.displacementType = type;
  const float full[9] = {v[0], v[3], v[4], v[3], v[1], v[5], v[4], v[5], v[2]};
  std::copy(full, full + 9, site.tensor);
}

void WriteTensor(std::FILE *out, const AsymmetricUnitRecord &site) {
  const float *t = site.tensor;
  std::fprintf(out, "%u %.9g %.9g %.9g %.9g %.9g %.9g", site.displacementType, double(t[0]), double(t[4]),
               double(t[8]), double(t[1]), double(t[2]), double(t[5]));
}

void WriteCell(std::FILE *out, const CrystalRec &c) {
  std::fprintf(out, "%.9g %.9g %.9g %.9g %.9g %.9g", double(c.a), double(c.b), double(c.c), double(c.alpha),
               double(c.beta), double(c.gamma));
}

TEST(CellTransformDump, DisplacementTensors) {
  const char *outPath = std::getenv("OV_CELLTRANSFORM_TENSOR_OUT");
  if (!outPath)
    GTEST_SKIP() << "set OV_CELLTRANSFORM_TENSOR_OUT to write transformed tensors";
  FakeHost host;
  host.windowTitle = "dump";
  host.graphPane = Rect{0, 0, 300, 300};
  std::FILE *out = std::fopen(outPath, "w");
  ASSERT_NE(out, nullptr) << outPath;
  const float matrices[][9] = {{1, 1, 0, -1, 1, 0, 0, 0, 2}, {0, 1, 0, 0, 0, 1, 1, 0, 0}, {1, 0, 1, 1, 1, 0, 0, 1, 1}};
  for (const float *T : matrices) {
    OVWindowRecord window;
    ASSERT_TRUE(InitMainWindowData(&window));
    window.mainData->fileOpen = 1;
    host.windows = {&window};
    CrystalRec &c = *GetWindowCrystal(&window);
    FillCrystalFromSites(c, kCell, "P 1", {{"O1", "O", 0.12f, 0.27f, 0.33f}, {"Si1", "Si", 0.61f, 0.18f, 0.74f}});
    c.sites[0].elements[0] = TwoCharsToShort("O ");
    c.sites[1].elements[0] = TwoCharsToShort("Si");
    SetTensor(c.sites[0], kDisplacementAnisoU, kUij);
    SetTensor(c.sites[1], kDisplacementAnisoB, kBeta);
    c.ellipsoidData = 1;
    ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
    std::fprintf(out, "matrix");
    for (int i = 0; i < 9; i++)
      std::fprintf(out, " %.9g", double(T[i]));
    std::fprintf(out, "\nbefore ");
    WriteCell(out, c);
    for (int s = 0; s < 2; s++) {
      std::fprintf(out, " | ");
      WriteTensor(out, c.sites[static_cast<size_t>(s)]);
    }
    std::fprintf(out, "\n");
    ASSERT_TRUE(TransformCell(&window, T));
    const CrystalRec &t = *GetWindowCrystal(&window);
    std::fprintf(out, "after ");
    WriteCell(out, t);
    std::fprintf(out, "\n");
    for (int s = 0; s < UsableSiteCount(t); s++) {
      const AsymmetricUnitRecord &site = t.sites[static_cast<size_t>(s)];
      std::fprintf(out, "tensor %s ", site.elements[0] == TwoCharsToShort("O ") ? "O" : "Si");
      WriteTensor(out, site);
      std::fprintf(out, "\n");
    }
    std::fprintf(out, "end\n");
    host.windows.clear();
    DestroyMainWindowData(&window);
  }
  std::fclose(out);
}

} // namespace
