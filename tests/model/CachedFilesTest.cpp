#include "CachedFiles.h"
#include "Preferences.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

CachedFileRecord *Node(const std::string &caption) {
  CachedFileRecord *node = CreateCachedFileRecord();
  node->caption = caption;
  return node;
}

std::vector<std::string> Captions(const CachedFileRecord *head) {
  std::vector<std::string> out;
  for (const CachedFileRecord *p = head; p; p = p->next)
    out.push_back(p->caption);
  return out;
}

// A structure window with its record, destroyed with its lists at the end.
struct TestWindow {
  OVWindowRecord record;
  TestWindow() { InitMainWindowData(&record); }
  ~TestWindow() { DestroyMainWindowData(&record); }
  WindowRef ref() { return &record; }
};

class CachedFilesTest : public ::testing::Test {
protected:
  void TearDown() override {
    DestroyRecentFiles();
    DestroyFavouriteFiles();
  }
};

} // namespace

TEST_F(CachedFilesTest, NodesJoinAtTheFrontOrTheTailAndOtherModesAddNothing) {
  CachedFileRecord *a = Node("a");
  a->next = a; // whatever it held, a tail node ends the list
  EXPECT_TRUE(AddItemToRecentFiles(a, kAddAtTail));
  EXPECT_EQ(gPrefs.recentFiles, a);
  EXPECT_EQ(a->next, nullptr);
  EXPECT_TRUE(AddItemToRecentFiles(Node("b"), kAddAtFront));
  EXPECT_TRUE(AddItemToRecentFiles(Node("c"), kAddAtTail));
  EXPECT_EQ(Captions(gPrefs.recentFiles), (std::vector<std::string>{"b", "a", "c"}));

  CachedFileRecord *stray = Node("d");
  EXPECT_FALSE(AddItemToRecentFiles(stray, 2));
  EXPECT_FALSE(AddItemToRecentFiles(stray, -1));
  EXPECT_EQ(GetNumRecentFiles(), 3);
  // A node already in the list is not linked again (that would make a ring).
  EXPECT_FALSE(AddItemToRecentFiles(a, kAddAtFront));
  EXPECT_EQ(GetNumRecentFiles(), 3);
  DestroyCachedFileRecord(stray);

  EXPECT_TRUE(AddItemToFavouriteFiles(Node("f"), kAddAtFront));
  EXPECT_EQ(GetNumFavouriteFiles(), 1);
  DestroyFavouriteFiles();
  EXPECT_EQ(gPrefs.favouriteFiles, nullptr);
}

TEST_F(CachedFilesTest, RemovingUnlinksAndDestroysButLeavesAStrangerAlone) {
  CachedFileRecord *a = Node("a");
  CachedFileRecord *b = Node("b");
  CachedFileRecord *c = Node("c");
  AddItemToFavouriteFiles(a, kAddAtTail);
  AddItemToFavouriteFiles(b, kAddAtTail);
  AddItemToFavouriteFiles(c, kAddAtTail);
  RemoveItemFromFavouriteFiles(b);
  EXPECT_EQ(Captions(gPrefs.favouriteFiles), (std::vector<std::string>{"a", "c"}));
  RemoveItemFromFavouriteFiles(a);
  EXPECT_EQ(gPrefs.favouriteFiles, c);

  CachedFileRecord *stranger = Node("x");
  stranger->next = c;
  EXPECT_EQ(RemoveItemFromFileCache(stranger, gPrefs.favouriteFiles), c);
  EXPECT_EQ(stranger->caption, "x"); // untouched, still ours to free
  EXPECT_EQ(GetNumFavouriteFiles(), 1);
  DestroyCachedFileRecord(stranger);
  EXPECT_EQ(RemoveItemFromFileCache(nullptr, c), c);
  EXPECT_EQ(RemoveItemFromFileCache(c, nullptr), nullptr);
}

TEST_F(CachedFilesTest, ACopyHasItsOwnCaptionAndSharesTheThumbnailAndNext) {
  CachedFileRecord *node = Node("view 1");
  node->fileRef = "/tmp/__OVCache1";
  node->fileType = FourCharsToLong("OVDF");
  auto thumb = std::make_shared<int>(3);
  node->thumbnail = thumb;
  CachedFileRecord tail;
  node->next = &tail;
  CachedFileRecord *copy = CopyCachedFileRecord(node);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->fileRef, node->fileRef);
  EXPECT_EQ(copy->fileType, node->fileType);
  EXPECT_EQ(copy->next, &tail);
  EXPECT_EQ(copy->thumbnail, node->thumbnail);
  node->caption = "renamed";
  EXPECT_EQ(copy->caption, "view 1");
  std::weak_ptr<int> watch = thumb;
  thumb.reset();
  DestroyCachedFileRecord(node);
  EXPECT_FALSE(watch.expired()); // the copy still holds it
  DestroyCachedFileRecord(copy);
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(CopyCachedFileRecord(nullptr), nullptr);
}

TEST_F(CachedFilesTest, HistoryAndRedoHoldAtMost256AndDropTheOldestFirst) {
  TestWindow window;
  for (int k = 0; k < kMaxWindowHistory; k++)
    ASSERT_TRUE(AddItemToWindowHistory(window.ref(), Node(std::to_string(k)), kAddAtFront));
  EXPECT_EQ(GetNumWindowHistory(window.ref()), 256);
  EXPECT_TRUE(AddItemToWindowHistory(window.ref(), Node("newest"), kAddAtFront));
  EXPECT_EQ(GetNumWindowHistory(window.ref()), 256);
  auto captions = Captions(GetWindowHistory(window.ref()));
  EXPECT_EQ(captions.front(), "newest");
  EXPECT_EQ(captions.back(), "1"); // "0", the tail, was destroyed

  for (int k = 0; k < kMaxWindowHistory + 3; k++)
    AddItemToWindowRedo(window.ref(), Node(std::to_string(k)), kAddAtTail);
  EXPECT_EQ(GetNumWindowRedo(window.ref()), 256);
  // Adding at the tail of a full list drops the tail before the new node.
  EXPECT_EQ(Captions(GetWindowRedo(window.ref())).back(), "258");

  // Views are not bounded.
  for (int k = 0; k < kMaxWindowHistory + 1; k++)
    AddItemToWindowViews(window.ref(), Node("v"), kAddAtFront);
  EXPECT_EQ(GetNumWindowViews(window.ref()), 257);
  DestroyWindowViews(window.ref());
  EXPECT_EQ(GetWindowViews(window.ref()), nullptr);

  CachedFileRecord *first = GetWindowHistory(window.ref());
  RemoveItemFromWindowHistory(window.ref(), first);
  EXPECT_EQ(GetNumWindowHistory(window.ref()), 255);
}

TEST_F(CachedFilesTest, WindowListsNeedAStructureWindow) {
  OVWindowRecord floating; // no per-window record
  CachedFileRecord *node = Node("n");
  EXPECT_FALSE(AddItemToWindowHistory(&floating, node, kAddAtFront));
  EXPECT_FALSE(AddItemToWindowViews(nullptr, node, kAddAtFront));
  EXPECT_EQ(GetNumWindowHistory(&floating), 0);
  DestroyWindowRedo(&floating);
  RemoveItemFromWindowRedo(nullptr, node);
  EXPECT_EQ(node->caption, "n");
  DestroyCachedFileRecord(node);
  EXPECT_EQ(NumFilesInCache(nullptr), 0);
}
