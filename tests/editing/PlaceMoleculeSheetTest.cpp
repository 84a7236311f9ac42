// Place Molecule asks for its file in words a user reads as written.
#include "SuiteHost.h"

#include <QDialog>
#include <gtest/gtest.h>

namespace {

class PlaceMoleculeSheet : public StructureSheetTest {
protected:
  void TearDown() override { CloseAll(); }
};

TEST_F(PlaceMoleculeSheet, AsksForAnOrvalisphereMoleculeFile) {
  ASSERT_NE(OpenExample("NaCl.ovtx"), nullptr);
  QDialog *sheet = Sheet(FourCharsToLong("PlcM"));
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->windowTitle().toStdString(), "Please choose an Orvalisphere molecule file");
}

} // namespace
