// Script names resolved against the file system: separators, CP932 and case.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/NameResolver.h"
#include "tests/support/TempFolder.h"

namespace {

class Resolver : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir((dir + "/画像").c_str(), 0755);
    ::mkdir((dir + "/Music").c_str(), 0755);
    std::ofstream(dir + "/画像/ソbird.bmp") << "x";
    std::ofstream(dir + "/Music/Theme.Mid") << "x";
    std::ofstream(dir + "/Plain.txt") << "x";
  }
  TempFolder temp_;
  std::string dir = temp_.path();
  NameResolver r;
};

TEST_F(Resolver, UpperCasedScriptNamesFindTheirFiles) {
  EXPECT_EQ(r.Resolve(dir, "MUSIC\\THEME.MID"), dir + "/Music/Theme.Mid");
  EXPECT_EQ(r.Resolve(dir, "music/theme.mid"), dir + "/Music/Theme.Mid");
  EXPECT_EQ(r.Resolve(dir, "Plain.txt"), dir + "/Plain.txt");
  EXPECT_EQ(r.Resolve(dir, ".\\MUSIC\\..\\PLAIN.TXT"), dir + "/Music/../Plain.txt");
  EXPECT_EQ(r.Resolve(dir, "MUSIC"), dir + "/Music");
  EXPECT_EQ(r.Resolve(dir, ""), dir);
  EXPECT_EQ(r.Resolve(dir, "MUSIC\\NONE.MID"), "");
  EXPECT_EQ(r.Resolve(dir, "PLAIN.TXT\\X"), "");
  EXPECT_EQ(r.Resolve(dir + "/missing", ""), "");
}

TEST_F(Resolver, LinksCountByWhatTheyLeadTo) {
  ASSERT_EQ(::symlink("Loop.bmp", (dir + "/Loop.bmp").c_str()), 0);
  ASSERT_EQ(::symlink("gone.bmp", (dir + "/Dangling.bmp").c_str()), 0);
  ASSERT_EQ(::symlink("Music", (dir + "/Tunes").c_str()), 0);
  EXPECT_EQ(r.Resolve(dir, "LOOP.BMP"), "");
  EXPECT_EQ(r.Resolve(dir, "Loop.bmp"), "");
  EXPECT_EQ(r.Resolve(dir, "Dangling.bmp"), "");
  EXPECT_EQ(r.Resolve(dir, "TUNES\\THEME.MID"), dir + "/Tunes/Theme.Mid");
}

TEST_F(Resolver, Cp932NamesWithABackslashTrailByte) {
  // "画像\ソBIRD.BMP" in CP932: the trail byte of "ソ" is 0x5C and must not split the name.
  const std::string name =
      "\x89\xe6\x91\x9c\\\x83\x5c"
      "BIRD.BMP";
  EXPECT_EQ(ScriptNameToUtf8(name), "画像/ソBIRD.BMP");
  EXPECT_EQ(r.Resolve(dir, name), dir + "/画像/ソbird.bmp");
  // The same name in UTF-8 (as read from a folder listing) resolves as well.
  EXPECT_EQ(r.Resolve(dir, "画像/ソbird.BMP"), dir + "/画像/ソbird.bmp");
}

TEST_F(Resolver, CachedListingsAreForgottenOnRequest) {
  EXPECT_EQ(r.Resolve(dir, "MUSIC\\NEW.WAV"), "");
  std::ofstream(dir + "/Music/new.wav") << "x";
  // Exact names are always looked up afresh; other spellings wait for the cache to be cleared.
  EXPECT_EQ(r.Resolve(dir, "Music/new.wav"), dir + "/Music/new.wav");
  EXPECT_EQ(r.Resolve(dir, "MUSIC\\NEW.WAV"), "");
  r.ClearCache();
  EXPECT_EQ(r.Resolve(dir, "MUSIC\\NEW.WAV"), dir + "/Music/new.wav");
}

}  // namespace
