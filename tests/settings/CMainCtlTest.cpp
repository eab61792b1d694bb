// The settings record: defaults, every load rule, the save order, paths and the script count.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "settings/CMainCtl.h"
#include "tests/support/TempFolder.h"

namespace {

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Key(const std::string& lines) {
  return "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velnori\\Pralvex]\n" + lines + "\n";
}

int CountEntries(const std::string& dir) {
  int n = 0;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  return n;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { store = dir.File("Velnori/Pralvex.reg"); }
  CMainCtl Loaded(const std::string& text) {
    ::mkdir(dir.File("Velnori").c_str(), 0755);
    WriteFile(store, text);
    return Loaded();
  }
  CMainCtl Loaded() {
    CMainCtl c;
    c.SetStorePath(store);
    c.Load();
    return c;
  }
  void ExpectAllDefaults(const CMainCtl& c) {
    std::string folder = CMainCtl::DefaultDataFolder();
    EXPECT_EQ(c.Version, 0);
    EXPECT_EQ(c.CurPath, folder);
    EXPECT_EQ(c.LoadedPath, folder);
    EXPECT_EQ(c.PathBuffer, folder);
    EXPECT_EQ(c.CptFont, "ＭＳ ゴシック");
    EXPECT_EQ(c.DspMode, 0);
    EXPECT_TRUE(c.FlgFontBold && c.FlgCaption && c.FlgSound && c.FlgLogo);
    EXPECT_FALSE(c.FlgWarning);
    EXPECT_EQ(c.NoExeAt(0), 0);
  }

  TempFolder dir;
  std::string store;
};

TEST_F(SettingsTest, FreshUserGetsDefaultsAndTheDemoFolder) {
  CMainCtl c = Loaded();
  ExpectAllDefaults(c);
  EXPECT_EQ(c.ScriptStatus, 0);
  EXPECT_EQ(c.GetRenderScale(), 2);
  // Run from the build tree, the demo folder is the source tree's examples/.
  EXPECT_EQ(CMainCtl::DefaultDataFolder(), ONDRELIX_SOURCE_DIR "/examples");
  EXPECT_FALSE(::access(store.c_str(), F_OK) == 0) << "Load must not create the store";
}

TEST_F(SettingsTest, DefaultStorePathFollowsXdgConfigHome) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", "/x/cfg", 1);
  EXPECT_EQ(CMainCtl::DefaultStorePath(), "/x/cfg/Velnori/Pralvex.reg");
  ::unsetenv("XDG_CONFIG_HOME");
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  EXPECT_EQ(CMainCtl::DefaultStorePath(), home + "/.config/Velnori/Pralvex.reg");
  if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

TEST_F(SettingsTest, UnusableFilesReadAsAMissingKeyAndStayUntouched) {
  std::string good = Key("\"DspMode\"=dword:00000003\n\"CptFont\"=\"Face\"");
  const std::string cases[] = {
      "",  // empty
      std::string("\x7f"
                  "ELF\x02\x01\x01\0\0\0",
                  10),                   // binary
      good.substr(0, good.size() - 12),  // cut short inside a line
      "[settings]\nDspMode=3\n",         // another format
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Other]\n\"DspMode\"=dword:00000003\n",  // no key
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velnori\\Pralvex]\ngarbage line\n",
  };
  for (const std::string& text : cases) {
    CMainCtl c = Loaded(text);
    ExpectAllDefaults(c);
    EXPECT_EQ(ReadFile(store), text);
  }
  // Unreadable: a folder where the file should be.
  ::unlink(store.c_str());
  ::mkdir(store.c_str(), 0755);
  ExpectAllDefaults(Loaded());
}

TEST_F(SettingsTest, MissingValuesInAnExistingKey) {
  CMainCtl c = Loaded(Key("\"Version\"=dword:00000007"));
  EXPECT_EQ(c.Version, 7);
  // A missing string is empty text, not the default.
  EXPECT_EQ(c.CurPath, "");
  EXPECT_EQ(c.LoadedPath, "");
  EXPECT_EQ(c.CptFont, "");
  EXPECT_EQ(c.DspMode, 0);
  EXPECT_TRUE(c.FlgFontBold && c.FlgCaption && c.FlgSound && c.FlgLogo);
  EXPECT_FALSE(c.FlgWarning);
  // The default folder is still in the scratch buffer.
  EXPECT_EQ(c.PathBuffer, CMainCtl::DefaultDataFolder());
}

TEST_F(SettingsTest, WrongTypesFallBackPerValueAndReadingGoesOn) {
  CMainCtl c =
      Loaded(Key("\"Version\"=\"110\"\n"
                 "\"CurPath\"=dword:00000001\n"
                 "\"CptFont\"=hex:41,42\n"
                 "\"DspMode\"=\"3\"\n"
                 "\"FlgFontBold\"=dword:00000000\n"
                 "\"FlgCaption\"=\"0\"\n"
                 "\"FlgSound\"=dword:000000000\n"  // nine digits: not a 4-byte dword
                 "\"FlgLogo\"=dword:00000002\n"    // any non-zero value is true
                 "\"FlgWarning\"=hex(4):01,00,00,00\n"
                 "\"NoExe0\"=dword:0000002a"));
  EXPECT_EQ(c.Version, 0);
  EXPECT_EQ(c.CurPath, CMainCtl::DefaultDataFolder());
  EXPECT_EQ(c.LoadedPath, CMainCtl::DefaultDataFolder());
  EXPECT_EQ(c.CptFont, "ＭＳ ゴシック");
  EXPECT_EQ(c.DspMode, 0);
  EXPECT_FALSE(c.FlgFontBold);
  EXPECT_TRUE(c.FlgCaption);
  EXPECT_TRUE(c.FlgSound);
  EXPECT_TRUE(c.FlgLogo);
  EXPECT_TRUE(c.FlgWarning);
  EXPECT_EQ(c.NoExeAt(0), 42);
}

TEST_F(SettingsTest, ExpandableStringsAndEscapesRead) {
  CMainCtl c =
      Loaded(Key("\"CurPath\"=hex(2):2f,64,61,74,61,00\n"
                 "\"CptFont\"=\"A \\\"B\\\" \\\\C\"\n"
                 "\"DspMode\"=dword:00000004"));
  EXPECT_EQ(c.CurPath, "/data");
  EXPECT_EQ(c.LoadedPath, "/data");
  EXPECT_EQ(c.CptFont, "A \"B\" \\C");
  EXPECT_EQ(c.DspMode, 4);  // no range check
}

TEST_F(SettingsTest, NoExeReadingStopsAtTheFirstAbsentSlot) {
  CMainCtl c = Loaded(
      Key("\"NoExe0\"=dword:00000011\n\"NoExe1\"=dword:ffffffff\n\"NoExe3\"=dword:00000033"));
  EXPECT_EQ(c.NoExeAt(0), 0x11);
  EXPECT_EQ(c.NoExeAt(1), -1);
  EXPECT_EQ(c.NoExeAt(2), 0);
  EXPECT_EQ(c.NoExeAt(3), 0);

  // A slot of the wrong type stays 0, and reading goes on with the next slot.
  CMainCtl d =
      Loaded(Key("\"NoExe0\"=dword:00000005\n\"NoExe1\"=\"x\"\n\"NoExe2\"=dword:00000007"));
  EXPECT_EQ(d.NoExeAt(0), 5);
  EXPECT_EQ(d.NoExeAt(1), 0);
  EXPECT_EQ(d.NoExeAt(2), 7);
}

TEST_F(SettingsTest, SaveWritesEveryValueInOrderAndReadsBack) {
  CMainCtl c = Loaded(Key("\"Version\"=dword:00000007\n\"Other\"=\"kept\""));
  c.SetCurPath("/home/u/shows \"new\"\\x");
  c.SetCptFont("IPAGothic");
  c.SetDspMode(3);
  c.SetFlgFontBold(false);
  c.SetFlgWarning(true);
  c.NoExeAdd(12);
  c.NoExeAdd(-5);
  ASSERT_EQ(c.Save(), 0);
  EXPECT_EQ(ReadFile(store), Key("\"Version\"=dword:0000006e\n"
                                 "\"Other\"=\"kept\"\n"
                                 "\"CurPath\"=\"/home/u/shows \\\"new\\\"\\\\x\"\n"
                                 "\"CptFont\"=\"IPAGothic\"\n"
                                 "\"DspMode\"=dword:00000003\n"
                                 "\"FlgFontBold\"=dword:00000000\n"
                                 "\"FlgCaption\"=dword:00000001\n"
                                 "\"FlgSound\"=dword:00000001\n"
                                 "\"FlgLogo\"=dword:00000001\n"
                                 "\"FlgWarning\"=dword:00000001\n"
                                 "\"NoExe0\"=dword:0000000c\n"
                                 "\"NoExe1\"=dword:fffffffb") +
                                 "\n");
  CMainCtl d = Loaded();
  EXPECT_EQ(d.Version, 110);
  EXPECT_EQ(d.CurPath, "/home/u/shows \"new\"\\x");
  EXPECT_EQ(d.DspMode, 3);
  EXPECT_FALSE(d.FlgFontBold);
  EXPECT_TRUE(d.FlgWarning);
  EXPECT_TRUE(d.NoExeContains(12) && d.NoExeContains(-5));
}

TEST_F(SettingsTest, SaveRemovesStaleNoExeValues) {
  CMainCtl c =
      Loaded(Key("\"NoExe0\"=dword:00000001\n\"NoExe1\"=dword:00000002\n\"NoExe2\"=dword:00000003\n"
                 "\"NoExe3\"=dword:00000004\n\"NoExe4\"=dword:00000005"));
  c.NoExeClear();
  c.NoExeAdd(8);
  c.NoExeAdd(9);
  ASSERT_EQ(c.Save(), 0);
  std::string text = ReadFile(store);
  EXPECT_NE(text.find("\"NoExe1\"=dword:00000009"), std::string::npos);
  for (const char* gone : {"NoExe2", "NoExe3", "NoExe4"})
    EXPECT_EQ(text.find(gone), std::string::npos);
}

TEST_F(SettingsTest, SaveCreatesTheFolderAndReplacesAMalformedFile) {
  CMainCtl c = Loaded();
  ASSERT_EQ(c.Save(), 0);
  EXPECT_EQ(Loaded().Version, 110);

  CMainCtl d = Loaded("not a store\n");
  d.SetDspMode(2);
  ASSERT_EQ(d.Save(), 0);
  EXPECT_EQ(Loaded().DspMode, 2);
}

TEST_F(SettingsTest, FailedWriteStopsAtThatValueAndKeepsTheOldStore) {
  std::string old = Key("\"CptFont\"=\"Old\"\n\"DspMode\"=dword:00000001");
  CMainCtl c = Loaded(old);
  c.SetCptFont("New");
  int writes = 0;
  c.SetStoreWriter([&](int fd, std::string_view bytes) {
    ++writes;
    if (bytes.find("\"DspMode\"") != std::string_view::npos) return false;  // disk full here
    return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  });
  std::string error;
  EXPECT_EQ(c.Save(&error), -1);
  EXPECT_EQ(error, "'DspMode' の設定に失敗しました");
  EXPECT_GT(writes, 1);
  EXPECT_EQ(ReadFile(store), old);
  EXPECT_EQ(CountEntries(dir.File("Velnori")), 1) << "the temporary file must be gone";

  // A text the store cannot hold (a line break in a path) fails at that value too.
  CMainCtl d = Loaded();
  d.SetStoreWriter(nullptr);
  d.SetCurPath("/a\nb");
  EXPECT_EQ(d.Save(&error), -1);
  EXPECT_EQ(error, "'CurPath' の設定に失敗しました");
  EXPECT_EQ(ReadFile(store), old);
}

TEST_F(SettingsTest, StoreThatCannotBeCreatedIsReportedNotIgnored) {
  WriteFile(dir.File("file"), "x");
  CMainCtl c;
  c.SetStorePath(dir.File("file/Velnori/Pralvex.reg"));
  c.Load();
  std::string error;
  EXPECT_EQ(c.Save(&error), -1);
  EXPECT_EQ(error, "'Version' の設定に失敗しました");
}

TEST_F(SettingsTest, SaveIntoAReadOnlyFolderFailsAndKeepsTheOldStore) {
  std::string old = Key("\"DspMode\"=dword:00000001");
  Loaded(old);
  ::chmod(dir.path().c_str(), 0755);
  ::chmod(store.c_str(), 0644);
  ::chmod(dir.File("Velnori").c_str(), 0555);
  // Root writes into any folder, so the save runs in a child without privileges.
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
    CMainCtl c;
    c.SetStorePath(store);
    c.Load();
    c.SetDspMode(4);
    std::string error;
    int r = c.Save(&error);
    ::_exit(r == -1 && error == "'Version' の設定に失敗しました" ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::chmod(dir.File("Velnori").c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(store), old);
}

TEST(MainCtlNoExe, ListIsPackedAndHoldsSixtyFour) {
  CMainCtl c;
  for (int i = 1; i <= kMaxNoExe; ++i) ASSERT_EQ(c.NoExeAdd(i * 3), 0);
  EXPECT_EQ(c.NoExeAdd(999), -1);
  EXPECT_TRUE(c.NoExeContains(kMaxNoExe * 3));
  EXPECT_FALSE(c.NoExeContains(999));
  c.NoExeClear();
  EXPECT_FALSE(c.NoExeContains(3));
  // The list ends at the first 0: a value behind a hole is not seen.
  c.NoExe[0] = 5;
  c.NoExe[2] = 9;
  EXPECT_TRUE(c.NoExeContains(5));
  EXPECT_FALSE(c.NoExeContains(9));
  EXPECT_EQ(c.NoExeAdd(7), 0);
  EXPECT_EQ(c.NoExeAt(1), 7);
}

TEST(MainCtlPaths, FullPathJoinsAndResolves) {
  TempFolder dir;
  ::mkdir(dir.File("Pics").c_str(), 0755);
  WriteFile(dir.File("Pics/Sky.bmp"), "x");
  CMainCtl c;
  c.SetCurPath(dir.path());
  EXPECT_EQ(c.FullPath(""), dir.path());
  EXPECT_EQ(c.PathBuffer, dir.path());
  EXPECT_EQ(c.FullPath("PICS\\SKY.BMP"), dir.File("Pics/Sky.bmp"));
  EXPECT_EQ(c.FullPath("NONE\\A.BMP"), dir.File("NONE/A.BMP"));
  EXPECT_EQ(c.FileExists("pics\\sky.bmp"), 0);
  EXPECT_EQ(c.FileExists("PICS"), 0);
  EXPECT_EQ(c.FileExists(""), 0);
  EXPECT_EQ(c.FileExists("PICS\\SKY.JPG"), -1);
  EXPECT_EQ(c.ResolvePath("PICS\\SKY.JPG"), "");

  // Switching folders and restoring the loaded one.
  c.LoadedPath = dir.path();
  c.SetCurPath(dir.File("Pics"));
  EXPECT_EQ(c.FileExists("SKY.BMP"), 0);
  EXPECT_EQ(c.RestoreCurPath(), dir.path());
  EXPECT_EQ(c.FileExists("SKY.BMP"), -1);
}

TEST(MainCtlFiles, TypesByExtension) {
  EXPECT_EQ(CMainCtl::FileTypeOf("x.MP3"), 4);
  EXPECT_EQ(CMainCtl::FileTypeOf("archive.tar.wav"), 4);
  EXPECT_EQ(CMainCtl::FileTypeOf("song.Mid"), 4);
  EXPECT_EQ(CMainCtl::FileTypeOf("readme"), 0);
  EXPECT_EQ(CMainCtl::FileTypeOf("MOVIE.AVI"), 1);
  EXPECT_EQ(CMainCtl::FileTypeOf("dir\\a.bmp"), 2);
  EXPECT_EQ(CMainCtl::FileTypeOf("a.JPG"), 3);
  EXPECT_EQ(CMainCtl::FileTypeOf("a.jpeg"), 0);
  EXPECT_EQ(CMainCtl::FileTypeOf("a.wav.txt"), 0);
  EXPECT_EQ(CMainCtl::FileTypeOf("dir.bmp\\file"), 0);
}

TEST(MainCtlFiles, ScriptNames) {
  EXPECT_TRUE(CMainCtl::IsScriptFileName("SCRIPT_A.TXT"));
  EXPECT_TRUE(CMainCtl::IsScriptFileName("script_.txt"));
  EXPECT_TRUE(CMainCtl::IsScriptFileName("Script_x.y.Txt"));
  EXPECT_FALSE(CMainCtl::IsScriptFileName("script_a.txt.bak"));
  EXPECT_FALSE(CMainCtl::IsScriptFileName("script_a"));
  EXPECT_FALSE(CMainCtl::IsScriptFileName("my_script_a.txt"));
  EXPECT_FALSE(CMainCtl::IsScriptFileName("script.txt"));
}

class CountTest : public ::testing::Test {
 protected:
  void Mk(const std::string& rel) { ::mkdir(dir.File(rel).c_str(), 0755); }
  void Touch(const std::string& rel) { WriteFile(dir.File(rel), ""); }
  TempFolder dir{"/dev/shm"};  // a memory file system: many files made quickly
  CMainCtl c;
};

TEST_F(CountTest, CountsScriptNamesAtAnyDepth) {
  Mk("a");
  Mk("a/b");
  Mk("a/b/c");
  Mk("Interval");
  Touch("script_top.txt");
  Touch("SCRIPT_UP.TXT");
  Touch("script_a.txt.bak");
  Touch("script_a");
  Touch("a/script_1.txt");
  Touch("a/b/c/script_deep.TXT");
  Touch("a/b/c/notes.txt");
  Touch("Interval/script_i.txt");
  c.StartScanClock();
  EXPECT_EQ(c.CountScripts(dir.path()), 5);
  EXPECT_EQ(c.CountScripts(dir.File("a")), 2);
  EXPECT_EQ(c.CountScripts(dir.File("missing")), 0);
}

TEST_F(CountTest, LinksToFoldersAlreadyEnteredAreNotWalkedAgain) {
  Mk("a");
  Mk("b");
  Touch("a/script_1.txt");
  Touch("b/script_2.txt");
  ASSERT_EQ(::symlink("..", dir.File("a/up").c_str()), 0);     // a loop
  ASSERT_EQ(::symlink("../a", dir.File("b/toa").c_str()), 0);  // a second way into a
  ASSERT_EQ(::symlink("missing", dir.File("dangling").c_str()), 0);
  c.StartScanClock();
  EXPECT_EQ(c.CountScripts(dir.path()), 2);
}

TEST_F(CountTest, UnreadableFoldersAreSkipped) {
  Mk("locked");
  Mk("open");
  Touch("locked/script_x.txt");
  Touch("open/script_y.txt");
  Touch("script_z.txt");
  ::chmod(dir.path().c_str(), 0755);
  ::chmod(dir.File("open").c_str(), 0755);
  ::chmod(dir.File("locked").c_str(), 0);
  // Root reads every folder, so the count runs in a child without privileges.
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
    CMainCtl child;
    child.StartScanClock();
    ::_exit(child.CountScripts(dir.path()));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::chmod(dir.File("locked").c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

TEST_F(CountTest, SpentBudgetGivesMinusOneEvenAfterFindingScripts) {
  std::int64_t now = 100;
  c.SetSecondsClock([&] { return now; });
  c.StartScanClock();
  now = 104;
  EXPECT_EQ(c.ScanTimedOut(kScanBudgetSeconds), 0);
  now = 105;
  EXPECT_EQ(c.ScanTimedOut(kScanBudgetSeconds), -1);

  for (const char* d : {"a", "b", "c", "d", "e", "f", "g", "h"}) {
    Mk(d);
    Touch(std::string(d) + "/script_x.txt");
  }
  // Every look at the clock takes a second: the walk runs out of time part way.
  now = 0;
  c.SetSecondsClock([&] { return now++; });
  c.StartScanClock();
  EXPECT_EQ(c.CountScripts(dir.path()), -1);

  now = 0;
  c.SetSecondsClock([&] { return now; });  // time stands still
  c.StartScanClock();
  EXPECT_EQ(c.CountScripts(dir.path()), 8);
}

TEST_F(CountTest, HugeFlatFolderStillHonoursTheBudget) {
  for (int i = 0; i < 3000; ++i) Touch("f" + std::to_string(i));
  // The clock stands still for the start and the "." and ".." entries, then jumps: only a look
  // at the clock among the file entries can notice.
  int calls = 0;
  c.SetSecondsClock([&] { return ++calls <= 3 ? 0 : 100; });
  c.StartScanClock();
  EXPECT_EQ(c.CountScripts(dir.path()), -1);
}

TEST_F(CountTest, HundredThousandFilesEndWithinTheBudget) {
  // Hard links to one file in a memory file system make the 100 000 entries quickly.
  TempFolder big("/dev/shm");
  WriteFile(big.File("one"), "");
  for (int f = 0; f < 10; ++f) {
    std::string sub = big.File("d" + std::to_string(f));
    ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
    for (int i = 0; i < 10000; ++i) {
      std::string name = (i % 1000 == 0 ? "/script_" : "/pic") + std::to_string(i) + ".txt";
      ASSERT_EQ(::link(big.File("one").c_str(), (sub + name).c_str()), 0);
    }
  }
  // With time standing still every entry is walked and counted; with the budget spent after
  // the first reads, the walk stops inside a folder of 10 000 files instead of finishing it.
  // (The clock is injected so a slow or loaded machine cannot change the outcome.)
  std::int64_t now = 0;
  c.SetSecondsClock([&] { return now; });
  c.StartScanClock();
  EXPECT_EQ(c.CountScripts(big.path()), 100);
  int calls = 0;
  c.SetSecondsClock([&] { return ++calls <= 2 ? 0 : 100; });
  c.StartScanClock();
  EXPECT_EQ(c.CountScripts(big.path()), -1);
  EXPECT_LT(calls, 20);
}

}  // namespace
