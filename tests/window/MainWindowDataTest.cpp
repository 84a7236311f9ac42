#include "window/MainWindowData.h"
#include "FakeHost.h"
#include "Preferences.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class MainWindowDataTest : public ::testing::Test {
protected:
  void TearDown() override { gPrefs = gFactoryPrefs; }
};

} // namespace

TEST_F(MainWindowDataTest, AFreshRecordHasItsInitialValues) {
  FakeHost host;
  host.now = 4242;
  gPrefs.sidebarWidth = 300;
  gPrefs.showNotes = 0;
  gPrefs.notesFontName = MakeStr255("Courier");
  gPrefs.notesFontSize = 9;
  OVWindowRecord window;
  ASSERT_TRUE(InitMainWindowData(&window));
  MainWindowData *d = window.mainData;
  ASSERT_NE(d, nullptr);
  EXPECT_FLOAT_EQ(d->pendingMagnify, 1.0f);
  EXPECT_FLOAT_EQ(d->pendingRotation, 0.0f);
  EXPECT_EQ(d->graphHasFocus, 1);
  EXPECT_EQ(d->lastGestureTime, 4242u);
  EXPECT_EQ(d->sidebarWidth, 300);
  EXPECT_EQ(d->showNotes, 0);
  EXPECT_EQ(d->notesFontName.view(), "Courier");
  EXPECT_EQ(d->notesFontSize, 9);
  EXPECT_EQ(d->printPreview.active, 0);
  EXPECT_EQ(d->printPreview.fields[0], 1);
  EXPECT_FALSE(IsWindowFileOpen(&window));
  CrystalRec *c = GetWindowCrystal(&window);
  ASSERT_EQ(c, &d->crystal);
  EXPECT_STREQ(c->spaceGroup, "P 1");
  EXPECT_FALSE(WindowHasPrintPreview(&window));
  EXPECT_EQ(GetWindowPrintPreview(&window), &d->printPreview);
  DestroyMainWindowData(&window);
  EXPECT_EQ(window.mainData, nullptr);
}

TEST_F(MainWindowDataTest, AccessorsAnswerNothingForAnyOtherWindow) {
  OVWindowRecord floating;
  for (WindowRef w : {static_cast<WindowRef>(nullptr), &floating}) {
    EXPECT_EQ(GetWindowCrystal(w), nullptr);
    EXPECT_FALSE(IsWindowFileOpen(w));
    EXPECT_FALSE(IsWindowAutoRotating(w));
    EXPECT_FALSE(WindowGraphPaneHasFocus(w));
    EXPECT_EQ(GetWindowOffScreen(w), nullptr);
    EXPECT_EQ(GetWindowHistory(w), nullptr);
    EXPECT_EQ(GetNumWindowRedo(w), 0);
    EXPECT_EQ(GetWindowPrintPreview(w), nullptr);
    EXPECT_EQ(GetWindowRulerUnits(w), 0);
    EXPECT_FALSE(IsWindowShowingNotesPane(w));
    Rect r{1, 2, 3, 4};
    GetWindowOffBounds(w, &r);
    EXPECT_EQ(r, Rect{});
    void *text = &r;
    EXPECT_FALSE(GetWindowTextObject(w, &text));
    // Setters do nothing and do not fail.
    SetWindowFileOpen(w, true);
    SetWindowOffScreen(w, std::make_shared<int>(1));
    SetWindowOffBounds(w, Rect{0, 0, 10, 10});
    OVSetWindowModified(w);
    DoMainWindowDisplaySleep(w);
    ClearWindowInfoData(w);
    EXPECT_FALSE(IsWindowFileOpen(w));
  }
  EXPECT_EQ(floating.mainData, nullptr);
}

TEST_F(MainWindowDataTest, SettersStoreAndPaneFlagsCombine) {
  OVWindowRecord window;
  ASSERT_TRUE(InitMainWindowData(&window));
  SetWindowFileOpen(&window, true);
  SetWindowAutoRotating(&window, true);
  SetWindowOffBounds(&window, Rect{0, 0, 300, 400});
  EXPECT_TRUE(IsWindowFileOpen(&window));
  EXPECT_TRUE(IsWindowAutoRotating(&window));
  Rect r;
  GetWindowOffBounds(&window, &r);
  EXPECT_EQ(r, (Rect{0, 0, 300, 400}));
  SetWindowRulerUnits(&window, 2);
  EXPECT_EQ(GetWindowCrystal(&window)->rulerUnits, 2);

  // The notes pane shows only with the sidebar.
  window.mainData->showSidebar = 0;
  window.mainData->showNotes = 1;
  EXPECT_FALSE(IsWindowShowingNotesPane(&window));
  EXPECT_TRUE(ShowNotesInWindowSidebar(&window));
  window.mainData->showSidebar = 1;
  EXPECT_TRUE(IsWindowShowingNotesPane(&window));

  OVSetWindowModified(&window);
  EXPECT_EQ(window.mainData->windowModified, 1);
  DoMainWindowDisplaySleep(&window);
  EXPECT_TRUE(IsWindowDisplaySleeping(&window));
  DoMainWindowDisplayWake(&window);
  EXPECT_FALSE(IsWindowDisplaySleeping(&window));
  int note = 0;
  window.mainData->textObject = &note;
  void *text = nullptr;
  EXPECT_TRUE(GetWindowTextObject(&window, &text));
  EXPECT_EQ(text, &note);
  DestroyMainWindowData(&window);
}

TEST_F(MainWindowDataTest, DisposingImagesReleasesTheWindowsAndItsAtomTypes) {
  OVWindowRecord window;
  ASSERT_TRUE(InitMainWindowData(&window));
  CrystalRec *c = GetWindowCrystal(&window);
  c->spheres.resize(2);
  c->sphereCount = 2;
  auto sphereImage = std::make_shared<int>(1);
  auto offScreen = std::make_shared<int>(2);
  auto picture = std::make_shared<int>(3);
  std::weak_ptr<int> w1 = sphereImage, w2 = offScreen, w3 = picture;
  c->spheres[1].image2 = std::move(sphereImage);
  c->spheres[1].bounds2 = Rect{0, 0, 21, 21};
  SetWindowOffScreen(&window, std::move(offScreen));
  c->backgroundPictureImage = std::move(picture);
  EXPECT_FALSE(w2.expired());
  DisposeAllGWorlds(&window);
  EXPECT_TRUE(w1.expired());
  EXPECT_TRUE(w2.expired());
  EXPECT_EQ(c->spheres[1].bounds2.right, 0);
  EXPECT_FALSE(w3.expired());
  DisposeOVTempMemory(&window);
  EXPECT_TRUE(w3.expired());
  DestroyMainWindowData(&window);
}

TEST_F(MainWindowDataTest, TheWindowOfAStructureIsFoundAmongTheStructureWindows) {
  FakeHost host;
  OVWindowRecord a, b, floating;
  ASSERT_TRUE(InitMainWindowData(&a));
  ASSERT_TRUE(InitMainWindowData(&b));
  host.windows = {&a, &floating, &b};
  WindowRef found = &floating;
  EXPECT_TRUE(GetWindowWithCrystal(GetWindowCrystal(&b), &found));
  EXPECT_EQ(found, &b);
  CrystalRec loose;
  EXPECT_FALSE(GetWindowWithCrystal(&loose, &found));
  EXPECT_EQ(found, nullptr);
  EXPECT_FALSE(GetWindowWithCrystal(nullptr, &found));
  DestroyMainWindowData(&a);
  DestroyMainWindowData(&b);
}
