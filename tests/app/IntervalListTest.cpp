// The interval playlist: what the scan takes, its limits, the shuffle and removal.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/IntervalList.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

struct TempData : ::testing::Test {
  void Touch(const std::string& rel) {
    fs::create_directories(fs::path(root + "/" + rel).parent_path());
    std::ofstream(root + "/" + rel) << "x";
  }
  std::set<std::string> Entries(const IntervalList& l) {
    std::set<std::string> s;
    for (int i = 0; i < l.Count(); ++i) s.insert(l.At(i));
    return s;
  }
  TempFolder temp_;
  std::string root = temp_.path();
};

TEST_F(TempData, TakesMoviesByFullPathAndPicturesRelativeToTheDataFolder) {
  Touch("Interval/a.bmp");
  Touch("Interval/b.JPG");
  Touch("Interval/c.avi");
  Touch("Interval/d.wav");
  Touch("Interval/notes.txt");
  Touch("Interval/deep/er/e.bmp");
  Touch("elsewhere.bmp");
  IntervalList list;
  EXPECT_EQ(list.Build(root), 4);
  EXPECT_EQ(Entries(list),
            (std::set<std::string>{"Interval/a.bmp", "Interval/b.JPG", root + "/Interval/c.avi",
                                   "Interval/deep/er/e.bmp"}));
  EXPECT_EQ(list.Index, 0);
  EXPECT_EQ(list.Turn, 1);
  // A trailing separator on the data folder changes nothing.
  EXPECT_EQ(list.Build(root + "/"), 4);
  EXPECT_TRUE(Entries(list).count("Interval/a.bmp"));
}

TEST_F(TempData, NoIntervalFolderGivesAnEmptyListAndNoTurn) {
  IntervalList list;
  EXPECT_EQ(list.Build(root), 0);
  EXPECT_EQ(list.Turn, 0);
  EXPECT_EQ(list.Build(root + "/missing"), 0);
}

TEST_F(TempData, LinkLoopsEndAndUnreadableFoldersAreSkipped) {
  Touch("Interval/a.bmp");
  Touch("Interval/sub/b.bmp");
  fs::create_directory_symlink(root + "/Interval", root + "/Interval/sub/back");
  Touch("Interval/locked/c.bmp");
  fs::permissions(root + "/Interval/locked", fs::perms::none);
  IntervalList list;
  const int n = list.Build(root);
  std::set<std::string> e = Entries(list);
  EXPECT_TRUE(e.count("Interval/a.bmp"));
  EXPECT_TRUE(e.count("Interval/sub/b.bmp"));
  // Root reads the locked folder anyway; anyone else cannot.
  EXPECT_EQ(n, geteuid() == 0 ? 3 : 2);
}

TEST_F(TempData, StopsAt256Entries) {
  for (int i = 0; i < 300; ++i) Touch("Interval/p" + std::to_string(i) + ".bmp");
  IntervalList list;
  EXPECT_EQ(list.Build(root), kMaxIntervalFiles);
  EXPECT_FALSE(list.Add("/Interval/one-more.bmp"));
}

TEST(IntervalList, ShuffleSwapsEachEntryWithTheDrawnOneAndKeepsAPermutation) {
  IntervalList list;
  for (const char* s : {"a", "b", "c", "d"}) list.Add(s);
  // Draws 2, 0, 3, 1: swap(0,2) cbad, swap(1,0) bcad, swap(2,3) bcda, swap(3,1) badc.
  int draws[] = {2, 0, 3, 1};
  int k = 0;
  list.Shuffle([&] { return draws[k++] + 4 * 7; });  // any value, taken modulo the count
  std::string order;
  for (int i = 0; i < list.Count(); ++i) order += list.At(i);
  EXPECT_EQ(order, "badc");
}

TEST(IntervalList, RemoveAndAdvanceWrap) {
  IntervalList list;
  for (const char* s : {"a", "b", "c"}) list.Add(s);
  list.Index = 2;
  list.Advance();
  EXPECT_EQ(list.Index, 0);
  list.Index = 2;
  list.Remove(2);  // the last entry could not play
  list.Advance();
  EXPECT_EQ(list.Index, 0);
  EXPECT_EQ(list.Count(), 2);
  list.Remove(0);
  EXPECT_EQ(list.At(0), "b");
  list.Remove(5);  // outside: nothing
  EXPECT_EQ(list.Count(), 1);
}

}  // namespace
