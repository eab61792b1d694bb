// The folder walk: the order it gives, what it tells about entries, stopping and the time budget.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/FolderWalk.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

class Walk : public ::testing::Test {
 protected:
  void Touch(const std::string& rel) {
    fs::create_directories(fs::path(root + "/" + rel).parent_path());
    std::ofstream(root + "/" + rel) << "x";
  }
  // Every entry the walk gives, as "relative/name" plus "*" for regular files.
  std::vector<std::string> Names(FolderWalk& walk, int stopAfter = -1, int* result = nullptr) {
    std::vector<std::string> names;
    const int r = walk.Run([&](const FolderWalk::Entry& e) {
      names.push_back(e.folder.substr(root.size() + 1) + e.name + (e.regular ? "*" : ""));
      return static_cast<int>(names.size()) != stopAfter;
    });
    if (result) *result = r;
    return names;
  }
  TempFolder temp_;
  std::string root = temp_.path();
};

TEST_F(Walk, NameOrderWithoutCaseDepthFirstAndTheVisitorCanStop) {
  for (const char* f : {"c.txt", "B.txt", "a.txt", "sub/x", "Sub2/y", "b.TXT"}) Touch(f);
  FolderWalk walk(root);
  EXPECT_EQ(Names(walk), (std::vector<std::string>{"a.txt*", "B.txt*", "b.TXT*", "c.txt*", "sub/x*",
                                                   "Sub2/y*"}));
  int result = 1;
  EXPECT_EQ(Names(walk, 2, &result), (std::vector<std::string>{"a.txt*", "B.txt*"}));
  EXPECT_EQ(result, 0);
  FolderWalk missing(root + "/none");
  EXPECT_TRUE(Names(missing).empty());
}

TEST_F(Walk, RegularMeansAFileOrALinkToOne) {
  Touch("file");
  ASSERT_EQ(::mkfifo((root + "/pipe").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("file", (root + "/tofile").c_str()), 0);
  ASSERT_EQ(::symlink("missing", (root + "/dangling").c_str()), 0);
  FolderWalk walk(root);
  EXPECT_EQ(Names(walk), (std::vector<std::string>{"dangling", "file*", "pipe", "tofile*"}));
}

TEST_F(Walk, SpentBudgetEndsTheWalkAsTimedOut) {
  for (int i = 0; i < 1100; ++i) Touch("flat/f" + std::to_string(i));
  Touch("z/last");
  int asked = 0;
  FolderWalk walk(root);
  walk.SetExpired([&] { return ++asked >= 5; });
  int result = 0;
  const std::vector<std::string> seen = Names(walk, -1, &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(seen.size(), 1023u);  // ". .." twice, then the 1024th file
  walk.SetExpired([] { return false; });
  EXPECT_EQ(Names(walk, -1, &result).size(), 1101u);
  EXPECT_EQ(result, 0);
}

}  // namespace
