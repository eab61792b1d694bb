// The REGEDIT4 text store: value forms, the key section, and the atomic save.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "settings/RegStore.h"
#include "tests/support/TempFolder.h"

namespace {

const std::string kHeader = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velnori\\Pralvex]\n";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(RegStore, ValueFormsAndTheirTypes) {
  RegStore s;
  ASSERT_EQ(s.Parse(kHeader + "\"D\"=dword:0000006E\n"
                              "\"S\"=\"a\\\\b \\\"q\\\"\"\n"
                              "\"E\"=hex(2):25,48,4f,4d,45,25,00\n"
                              "\"H4\"=hex(4):6e,00,00,00\n"
                              "\"B\"=hex:01,02\n"
                              "\"Bad\"=dword:xyz\n"
                              "\"Unquoted\"=\"open\n"),
            0);
  std::uint32_t n = 0;
  std::string t;
  EXPECT_EQ(s.GetDword("D", &n), 0);
  EXPECT_EQ(n, 110u);
  EXPECT_EQ(s.GetDword("H4", &n), 0);
  EXPECT_EQ(n, 110u);
  EXPECT_EQ(s.GetString("S", &t), 0);
  EXPECT_EQ(t, "a\\b \"q\"");
  EXPECT_EQ(s.GetString("E", &t), 0);
  EXPECT_EQ(t, "%HOME%");  // kept as written, not expanded
  EXPECT_EQ(s.Find("B")->type, RegType::kOther);
  EXPECT_EQ(s.Find("Bad")->type, RegType::kOther);
  EXPECT_EQ(s.Find("Unquoted")->type, RegType::kOther);
  // Numbers are not strings and strings are not numbers; an absent string is empty text.
  EXPECT_EQ(s.GetString("D", &t), -1);
  EXPECT_EQ(s.GetDword("S", &n), -1);
  EXPECT_EQ(s.GetDword("Absent", &n), -1);
  EXPECT_EQ(s.GetString("Absent", &t), 0);
  EXPECT_EQ(t, "");
}

TEST(RegStore, KeySectionsNamesAndWindowsFiles) {
  RegStore s;
  // CR LF line ends, a byte-order mark, comments, continued hex data, another key, case-blind
  // names, and a repeated value (the later wins).
  std::string text =
      "\xEF\xBB\xBFREGEDIT4\r\n\r\n; exported\r\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"DspMode\"=dword:00000009\r\n"
      "[hkey_current_user\\software\\velnori\\pralvex]\r\n"
      "\"dspmode\"=dword:00000001\r\n"
      "\"CurPath\"=hex(2):2f,61,\\\r\n  62,00\r\n"
      "\"DSPMODE\"=dword:00000002\r\n";
  ASSERT_EQ(s.Parse(text), 0);
  std::uint32_t n = 0;
  EXPECT_EQ(s.GetDword("DspMode", &n), 0);
  EXPECT_EQ(n, 2u);
  std::string t;
  EXPECT_EQ(s.GetString("curpath", &t), 0);
  EXPECT_EQ(t, "/ab");
  EXPECT_EQ(s.Values().size(), 2u);
}

TEST(RegStore, FormatParsesBackToTheSameValues) {
  RegStore s;
  s.SetDword("N", 0xfffffff9u);
  s.SetString("T", "ＭＳ ゴシック \\ \"");
  s.SetString("N2", "");
  s.SetDword("T", 3);  // a set replaces the value and its type, keeping its place
  std::string text = s.Format();
  EXPECT_EQ(text, kHeader + "\"N\"=dword:fffffff9\n\"T\"=dword:00000003\n\"N2\"=\"\"\n\n");
  RegStore r;
  ASSERT_EQ(r.Parse(text), 0);
  std::uint32_t n = 0;
  EXPECT_EQ(r.GetDword("N", &n), 0);
  EXPECT_EQ(n, 0xfffffff9u);
  s.Delete("t");
  EXPECT_FALSE(s.Has("T"));
}

TEST(RegStore, ForeignValuesSurviveARoundTripUnchanged) {
  // Hex data broken off after a comma, with no indented line to go on with, and other odd forms:
  // kept as written, and formatting them does not glue them to the next value.
  RegStore s;
  ASSERT_EQ(s.Parse(kHeader + "\"A\"=hex(7):41,\\\n\"B\"=dword:00000001\n\"C\"=\"x\" y\n"), 0);
  EXPECT_EQ(s.Find("A")->type, RegType::kOther);
  EXPECT_EQ(s.Find("A")->text, "hex(7):41,\\");
  std::string text = s.Format();
  RegStore again;
  ASSERT_EQ(again.Parse(text), 0);
  EXPECT_EQ(again.Format(), text);
  EXPECT_EQ(again.Values().size(), 3u);
}

class RegStoreFile : public ::testing::Test {
 protected:
  TempFolder temp_;
  std::string dir = temp_.path();
};

TEST_F(RegStoreFile, SaveWritesThroughALinkAndLeavesNoTemporaryFile) {
  std::string real = dir + "/real.reg", link = dir + "/link.reg";
  std::ofstream(real) << "old\n";
  ASSERT_EQ(::symlink("real.reg", link.c_str()), 0);
  RegStore s;
  s.SetString("K", "v");
  std::string failed;
  ASSERT_EQ(s.Save(link, &failed), 0);
  struct stat st;
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(real), kHeader + "\"K\"=\"v\"\n\n");
  RegStore r;
  EXPECT_EQ(r.Load(link), 0);
  EXPECT_TRUE(r.Has("K"));

  // A private store stays private.
  ::chmod(real.c_str(), 0600);
  ASSERT_EQ(s.Save(link, &failed), 0);
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Temporary files that a save cut short by a crash left behind go with the next save; one that a
// writer still holds, and files of other names, stay.
TEST_F(RegStoreFile, SaveRemovesTemporaryFilesLeftByACrash) {
  const std::string path = dir + "/Pralvex.reg";
  for (const char* name : {"/Pralvex.reg.a1B2c3", "/Pralvex.reg.zzzzzz", "/Pralvex.reg.held01",
                           "/Pralvex.reg.bak", "/Pralvex.reg.a1B2c3d", "/Other.reg.a1B2c3"}) {
    std::ofstream(dir + name) << "left";
  }
  const int held = ::open((dir + "/Pralvex.reg.held01").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  RegStore s;
  s.SetDword("A", 1);
  ASSERT_EQ(s.Save(path, nullptr), 0);
  ::close(held);
  EXPECT_FALSE(std::ifstream(dir + "/Pralvex.reg.a1B2c3").good());
  EXPECT_FALSE(std::ifstream(dir + "/Pralvex.reg.zzzzzz").good());
  for (const char* kept :
       {"/Pralvex.reg.held01", "/Pralvex.reg.bak", "/Pralvex.reg.a1B2c3d", "/Other.reg.a1B2c3"}) {
    EXPECT_EQ(ReadFile(dir + kept), "left") << kept;
  }
  EXPECT_EQ(ReadFile(path), kHeader + "\"A\"=dword:00000001\n\n");
}

TEST_F(RegStoreFile, FailedWritesNameTheValueAndKeepTheOldFile) {
  std::string path = dir + "/s.reg";
  std::ofstream(path) << "old\n";
  RegStore s;
  s.SetDword("A", 1);
  s.SetDword("B", 2);
  // Chunks: the head, A, B, then the closing empty line.
  for (int failAt : {3, 4}) {
    int calls = 0;
    s.SetWriter([&](int fd, std::string_view b) {
      if (++calls == failAt) return false;
      return ::write(fd, b.data(), b.size()) == static_cast<ssize_t>(b.size());
    });
    std::string failed = "?";
    EXPECT_EQ(s.Save(path, &failed), -1);
    EXPECT_EQ(failed, failAt == 3 ? "B" : "");
    EXPECT_EQ(ReadFile(path), "old\n");
  }
}

}  // namespace

// A named pipe or a folder where the store should be reads as a missing key at once; it must
// never block the start of the saver waiting for a writer.
TEST(RegStore, NonRegularFilesReadAsMissingWithoutBlocking) {
  TempFolder temp;
  const std::string& dir = temp.path();
  const std::string fifo = dir + "/Pralvex.reg";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  RegStore store;
  EXPECT_EQ(store.Load(fifo), -1);
  EXPECT_EQ(store.Load(dir), -1);
}
