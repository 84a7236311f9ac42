// The Edit Bonding sheet refuses a bond maximum no structure can use: typed
// into the list, and on OK for one that came from elsewhere.
#include "editing/BondingSheet.h"
#include "shell/Commands.h"
#include "shell/QtHostServices.h"

#include "documents/StoredValueRanges.h"

#include <QAbstractItemModel>
#include <QTableView>
#include <gtest/gtest.h>

#include "SuiteHost.h"

namespace {

class LimitHost : public QtHostServices {
public:
  std::vector<AlertRequest> alerts;
  int RunAlert(const AlertRequest &alert) override {
    alerts.push_back(alert);
    return 1;
  }
};

LimitHost *gLimitHost = nullptr;

class BondingSheetLimit : public StructureSheetTest {
protected:
  HostServices *previous_ = nullptr;
  static void SetUpTestSuite() { gLimitHost = JoinRunningProgram<LimitHost>(); }
  void SetUp() override {
    previous_ = SetHostServices(gLimitHost);
    gLimitHost->alerts.clear();
  }
  void TearDown() override {
    CloseAll();
    SetHostServices(previous_);
  }
};

TEST_F(BondingSheetLimit, MaximumBeyondUseIsRefusedWithItsReason) {
  CrystalRec *c = OpenExample("NaCl.ovtx");
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->bondSpecCount, 1);
  const float before = c->bondSpecs[0].maxLength;
  ASSERT_EQ(ProcessCommand(kCmdEditBonding), kNoErr);
  BondingSheet *sheet = CurrentBondingSheet();
  ASSERT_NE(sheet, nullptr);
  QAbstractItemModel *model = sheet->List()->model();

  struct Typed {
    const char *text;
    bool taken;
  };
  const Typed typed[] = {{"400", false}, {"231.5", false}, {"231", true}, {"3.1", true}};
  for (const Typed &t : typed) {
    gLimitHost->alerts.clear();
    EXPECT_EQ(model->setData(model->index(0, kColMax), t.text, Qt::EditRole), t.taken) << t.text;
    EXPECT_EQ(gLimitHost->alerts.empty(), t.taken) << t.text;
    if (!t.taken) {
      ASSERT_EQ(gLimitHost->alerts.size(), 1u);
      EXPECT_EQ(gLimitHost->alerts[0].message, "Bond maximum too long");
      EXPECT_NE(gLimitHost->alerts[0].explanation.find("at most 231"), std::string::npos)
          << gLimitHost->alerts[0].explanation;
    }
  }
  EXPECT_FLOAT_EQ(sheet->Record()->specs[0].max, 3.1f);
  // A minimum beyond the limit is no way round it.
  EXPECT_FALSE(model->setData(model->index(0, kColMin), "250", Qt::EditRole));

  // One that reached the working record another way keeps the sheet open.
  sheet->Record()->specs[0].max = 400.0f;
  gLimitHost->alerts.clear();
  ASSERT_EQ(ProcessCommand(kCmdBondSheetOK), kNoErr);
  EXPECT_EQ(CurrentBondingSheet(), sheet);
  EXPECT_EQ(gLimitHost->alerts.size(), 1u);
  EXPECT_EQ(c->bondSpecs[0].maxLength, before);
  sheet->Record()->specs[0].max = 3.1f;
  ASSERT_EQ(ProcessCommand(kCmdBondSheetOK), kNoErr);
  EXPECT_EQ(CurrentBondingSheet(), nullptr);
  EXPECT_FLOAT_EQ(c->bondSpecs[0].maxLength, 3.1f);
}

} // namespace
